// The layering of the source folders: every quoted include of every source file
// points down (or across within its folder), only platform/ includes the device
// and graphics libraries, and a folder's local headers stay in the folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What each folder may include besides itself. Test files and the benchmarks
// may also include tests/ (the shared fixtures); "*" is anything.
struct Layer {
  std::string_view folder;
  std::string_view may_include;  // folder names separated by blanks
};

constexpr Layer kLayers[] = {
    {"base", ""},
    {"media", "base"},
    {"platform", "base media"},
    {"project", "base media"},
    {"brain", "base media project"},
    {"engine", "base media platform project brain"},
    {"ui", "base media platform project brain engine"},
    {"package", "base media platform project brain engine ui"},
    {"net", "base media platform project brain engine ui"},
    {"tools", "base media platform project brain engine ui"},
    {"shell", "*"},
    {"tests", "*"},
    {"bench", "*"},
};

// System headers of the libraries behind the platform layer, by path prefix.
constexpr std::string_view kPlatformOnlyHeaders[] = {
    "SDL", "GL/", "GLES", "EGL/", "epoxy/", "AL/", "enet/", "libav", "libswscale/", "libswresample/", "assimp/",
};
// Folders that may include them besides platform/: the benchmarks' direct-GL baseline.
constexpr std::string_view kDirectGlFolders[] = {"bench"};

// Headers that only some folders may include.
struct Restricted {
  std::string_view header;
  std::string_view folders;
};
constexpr Restricted kRestricted[] = {
    {"platform/reference_draw.h", "platform bench"},  // the benchmarks' baseline, kept out of the engine
};

const Layer* layer_of(std::string_view folder) {
  for (const Layer& l : kLayers)
    if (l.folder == folder) return &l;
  return nullptr;
}

bool listed(std::string_view list, std::string_view word) {
  while (!list.empty()) {
    std::size_t end = list.find(' ');
    if (list.substr(0, end) == word || list.substr(0, end) == "*") return true;
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return false;
}

std::string_view top_folder(std::string_view path) { return path.substr(0, path.find('/')); }

bool is_test_file(std::string_view path) {
  std::string_view name = path.substr(path.rfind('/') + 1);
  return name.find("test") != std::string_view::npos || name.find("fixture") != std::string_view::npos ||
         name.find("fuzz") != std::string_view::npos;
}

bool is_local_header(std::string_view path) { return path.ends_with("local.h"); }

// Why file (a path from the source root) may not include the quoted header, or
// empty when it may.
std::string quoted_fault(std::string_view file, std::string_view header) {
  std::string_view from = top_folder(file), to = top_folder(header);
  const Layer* layer = layer_of(from);
  if (!layer) return std::string(from) + "/ is not in the layer table";
  for (const Restricted& r : kRestricted)
    if (header == r.header && !listed(r.folders, from))
      return std::string(header) + " is for " + std::string(r.folders) + " only";
  if (!layer_of(to) || to == from) {
    if (is_local_header(header) && to != from) return std::string(header) + " is local to " + std::string(to) + "/";
    return {};
  }
  if (is_local_header(header)) return std::string(header) + " is local to " + std::string(to) + "/";
  if (to == "tests" && (is_test_file(file) || from == "bench")) return {};
  if (listed(layer->may_include, to)) return {};
  return std::string(from) + "/ may not include " + std::string(to) + "/";
}

// Why file may not include the system header <header>, or empty.
std::string system_fault(std::string_view file, std::string_view header) {
  std::string_view from = top_folder(file);
  if (from == "platform" || from == "tests") return {};
  for (std::string_view f : kDirectGlFolders)
    if (from == f) return {};
  for (std::string_view prefix : kPlatformOnlyHeaders)
    if (header.starts_with(prefix)) return "only platform/ includes <" + std::string(header) + ">";
  return {};
}

// One "#include" line: the header and whether it was quoted; false for other lines.
bool parse_include(std::string_view line, std::string_view& header, bool& quoted) {
  auto skip_blanks = [&line] {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  };
  skip_blanks();
  if (!line.starts_with('#')) return false;
  line.remove_prefix(1);
  skip_blanks();
  if (!line.starts_with("include")) return false;
  line.remove_prefix(7);
  skip_blanks();
  if (line.empty() || (line.front() != '"' && line.front() != '<')) return false;  // a macro include
  quoted = line.front() == '"';
  std::size_t end = line.find(quoted ? '"' : '>', 1);
  if (end == std::string_view::npos) return false;
  header = line.substr(1, end - 1);
  return true;
}

TEST(Layering, RulesOfOneInclude) {
  struct Case {
    std::string_view file, header;
    bool quoted, allowed;
  };
  const Case cases[] = {
      {"base/text.cpp", "base/memory.h", true, true},
      {"base/text.cpp", "media/media.h", true, false},
      {"media/image.cpp", "base/memory.h", true, true},
      {"media/ground_map.cpp", "base/bytes.h", true, true},      // formats read numbers through base
      {"base/files.cpp", "media/media.h", true, false},
      {"engine/ground.cpp", "media/media.h", true, true},        // the engine loads the format media checks
      {"media/ground_map.cpp", "engine/engine.h", true, false},
      {"media/image.cpp", "platform/platform.h", true, false},
      {"platform/window.cpp", "media/media.h", true, true},
      {"platform/window.cpp", "project/project.h", true, false},
      {"project/lines.cpp", "platform/platform.h", true, false},
      {"brain/emit.cpp", "project/project.h", true, true},
      {"brain/emit.cpp", "platform/scene/scene.h", true, false},
      {"brain/emit.cpp", "engine/engine.h", true, false},
      {"engine/tick.cpp", "platform/platform.h", true, true},
      {"engine/tick.cpp", "engine/render/render_local.h", true, true},
      {"engine/tick.cpp", "ui/ui.h", true, false},
      {"ui/kit.cpp", "engine/engine.h", true, true},
      {"net/session.cpp", "package/package.h", true, false},
      {"net/codec.cpp", "project/project.h", true, true},
      {"tools/explode.cpp", "net/net.h", true, false},
      {"package/player.cpp", "shell/shell.h", true, false},
      {"shell/main.cpp", "net/net.h", true, true},
      {"engine/tick.cpp", "tests/program_fixture.h", true, false},
      {"engine/device_run_test.cpp", "tests/program_fixture.h", true, true},
      {"engine/tick.cpp", "brain/local.h", true, false},
      {"shell/main.cpp", "engine/engine_local.h", true, false},
      {"ui/dialogs.cpp", "engine/engine.h", true, true},   // the engine's door
      {"package/player.cpp", "engine/world.h", true, true},  // the state of a run, beside the door
      {"bench/race_bench.cpp", "engine/engine_local.h", true, false},
      {"engine/races.cpp", "engine/engine_local.h", true, true},
      {"engine/render/shapes.cpp", "engine/engine_local.h", true, true},
      {"platform/scene/gl.cpp", "platform/scene/scene_local.h", true, true},
      {"engine/render.cpp", "platform/reference_draw.h", true, false},
      {"bench/scenes.h", "platform/reference_draw.h", true, true},
      {"bench/brain_bench.cpp", "brain/local.h", true, false},
      {"demo/x.cpp", "base/memory.h", true, false},
      {"platform/window.cpp", "SDL2/SDL.h", false, true},
      {"platform/scene/gl.cpp", "epoxy/gl.h", false, true},
      {"engine/render.cpp", "epoxy/gl.h", false, false},
      {"engine/render.cpp", "SDL.h", false, false},
      {"ui/kit.cpp", "SDL2/SDL_scancode.h", false, false},
      {"net/session.cpp", "enet/enet.h", false, false},
      {"engine/video.cpp", "libavcodec/avcodec.h", false, false},
      {"tools/convert.cpp", "assimp/scene.h", false, false},
      {"bench/render_bench.cpp", "epoxy/gl.h", false, true},
      {"engine/tick.cpp", "cstdint", false, true},
  };
  for (const Case& c : cases) {
    std::string fault = c.quoted ? quoted_fault(c.file, c.header) : system_fault(c.file, c.header);
    EXPECT_EQ(fault.empty(), c.allowed) << c.file << " includes " << c.header << ": " << fault;
  }
}

TEST(Layering, IncludeLines) {
  struct Case {
    std::string_view line, header;
    bool quoted;
  };
  const Case cases[] = {
      {"#include \"engine/engine.h\"", "engine/engine.h", true},
      {"  #  include <SDL2/SDL.h>  // window", "SDL2/SDL.h", false},
      {"#include FT_FREETYPE_H", "", false},
      {"// #include \"shell/shell.h\"", "", false},
      {"#pragma once", "", false},
  };
  for (const Case& c : cases) {
    std::string_view header;
    bool quoted = false;
    bool found = parse_include(c.line, header, quoted);
    EXPECT_EQ(found, !c.header.empty()) << c.line;
    if (!found) continue;
    EXPECT_EQ(header, c.header) << c.line;
    EXPECT_EQ(quoted, c.quoted) << c.line;
  }
}

bool is_source(const fs::path& p) {
  std::string e = p.extension().string();
  return e == ".cpp" || e == ".h" || e == ".c" || e == ".hpp" || e == ".cc";
}

// Every source file of the tree, as a path from the source root (build trees
// and hidden folders left out).
std::vector<std::string> source_files(const fs::path& root) {
  std::vector<std::string> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path& p = it->path();
    if (it->is_directory()) {
      if (p.filename().string().starts_with('.') || fs::exists(p / "CMakeCache.txt")) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file() && is_source(p)) files.push_back(fs::relative(p, root).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(Layering, EveryIncludeOfTheTree) {
  const fs::path root = ZEPTA_SOURCE_DIR;
  std::vector<std::string> files = source_files(root);
  ASSERT_GT(files.size(), 50u) << "no sources under " << root;
  std::string faults;
  for (const std::string& file : files) {
    std::ifstream in(root / file);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
      std::string_view header;
      bool quoted = false;
      if (!parse_include(line, header, quoted)) continue;
      std::string fault = quoted ? quoted_fault(file, header) : system_fault(file, header);
      if (!fault.empty()) faults += file + ":" + std::to_string(n) + ": " + fault + "\n";
    }
  }
  EXPECT_EQ(faults, "");
}

}  // namespace
