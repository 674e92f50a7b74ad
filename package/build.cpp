// The self-executable builder: compiles the switched-on projects of a projects
// list and writes a package folder that the multi-project player plays.
//
// The package is built in a fresh staging folder beside the package folder and
// swapped in as a whole only when every step worked, so a failed or killed
// build leaves the old package as it was. Every file is written the way the player's package view
// reads it: scrambled exactly when base::stored_scrambled_name says so.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/memory.h"
#include "base/paths.h"
#include "base/scramble.h"
#include "brain/brain.h"
#include "media/media.h"
#include "package/package.h"
#include "platform/platform.h"
#include "project/project.h"

namespace package {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxResourceBytes = std::size_t{1} << 30;

// The engine's data files a package carries, from the data folder.
constexpr const char* kDataFiles[] = {
    "resume_.bmp", "end_.bmp", "atan.bin", "font.fnt", "random.bin", "sinus.bin", "sinusbig.bin",
    "hood0a.x", "hood1a.x", "hood2a.x", "hood3a.x", "hood4a.x",
    "hood0b.x", "hood1b.x", "hood2b.x", "hood3b.x", "hood4b.x",
    "font8.fnt",  // the small font every run loads
};

std::string folder_of(std::string_view path) {
  std::size_t cut = path.find_last_of('/');
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

bool is_folder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The regular file a path names on disk (looked up without regard to case); "" when none.
std::string found(std::string_view path) {
  if (path.empty()) return std::string();
  base::Text on_disk = project::resolve_path(path);
  if (base::file_kind(on_disk) != base::FileKind::regular) return std::string();
  return std::string(on_disk.view());
}

// "default_." + the path's extension in its own folder.
std::string default_of(std::string_view path) {
  std::string_view name = file_name_of(path);
  std::size_t dot = name.find_last_of('.');
  std::string_view ext = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  return folder_of(path) + "default_." + std::string(ext);
}

bool same_bytes(const std::string& a, const std::string& b) {
  std::string x, y;
  return base::read_regular_file(a, kMaxResourceBytes, x) && base::read_regular_file(b, kMaxResourceBytes, y) && x == y;
}

// The whole state of one build.
struct Build {
  const BuildSetup& setup;
  std::string base;   // the base folder, ends in "/"
  std::string data;   // base + "data/"
  std::string stage;  // the staging folder, ends in "/"
  bool plain_switch = false;
  BuildReport report;
  bool failed = false;
  std::map<std::string, std::string> placed;  // package file name -> the file it was made from
  std::map<std::string, std::string> copied;  // element resource path -> the package file name it got
  PlayerNeeds needs;

  explicit Build(const BuildSetup& s) : setup(s) {}

  void fail(int status, std::string text) {
    if (!failed) report.exit_status = status;
    failed = true;
    report.problems.push_back(std::move(text));
  }
  void warn(std::string text) { report.problems.push_back(std::move(text)); }
  void progress(std::string_view text) {
    if (setup.progress) setup.progress(setup.user, text);
  }

  // Takes a package file name for a source. False when there is nothing to
  // write: the name already holds that file, or another one (a collision, which
  // fails the build unless both hold the same bytes).
  bool claim(const std::string& name, const std::string& source) {
    auto [at, fresh] = placed.emplace(name, source);
    if (fresh) return true;
    if (at->second != source && !same_bytes(at->second, source))
      fail(4, "two resources would both be packaged as " + name + ": " + at->second + " and " + source);
    return false;
  }

  // Writes a file of the package from source, scrambled when the player reads
  // it so. A source that is no file was checked before: nothing happens then.
  void put(const std::string& name, const std::string& source) {
    if (source.empty() || !claim(name, source)) return;
    std::string to = stage + name;
    bool ok = base::stored_scrambled_name(name, plain_switch) ? scrambling_copy(source, to, false)
                                                               : base::copy_file(source, to);
    if (!ok) fail(4, "could not write " + to);
  }
  // A resource of a project: what it tells about the player's needs too (a
  // mesh the program's own ".x" reader can't read needs the model library).
  void put_resource(const std::string& name, const std::string& source) {
    if (source.empty()) return;
    if (platform::is_model_path(source) && platform::model_needs_library(source)) needs.models = true;
    if (base::ends_with_no_case(source, ".avi")) needs.video = true;
    put(name, source);
  }
  // A file that the player reads as it is, in a sub-folder of the package.
  void put_plain(const std::string& name, const std::string& source) {
    if (!claim(name, source)) return;
    std::error_code ec;
    fs::create_directories(fs::path(stage + name).parent_path(), ec);
    if (ec || !base::copy_file(source, stage + name)) fail(4, "could not write " + stage + name);
  }
  // Bytes made by the build (a rewritten visual, the packaged list...).
  void put_bytes(const std::string& name, std::string bytes, const std::string& made_from) {
    if (!claim(name, made_from)) return;
    if (base::stored_scrambled_name(name, plain_switch))
      base::scramble({reinterpret_cast<std::byte*>(bytes.data()), bytes.size()});
    if (!write_whole(stage + name, bytes)) fail(4, "could not write " + stage + name);
  }
};

// ---- Resources ---------------------------------------------------------------------------

// Textures a mesh file names: ".bmp" and ".ppm" names, each from just after the
// nearest double quote or zero byte before it. Only the base name is kept, so
// that nothing lands outside the package.
void copy_mesh_textures(Build& b, const std::string& mesh) {
  std::string bytes;
  if (!base::read_regular_file(mesh, kMaxResourceBytes, bytes)) return;
  std::string folder = folder_of(mesh);
  for (std::size_t at = 0; at + 4 <= bytes.size(); ++at) {
    std::string_view ext(bytes.data() + at, 4);
    if (!base::ends_with_no_case(ext, ".bmp") && !base::ends_with_no_case(ext, ".ppm")) continue;
    constexpr std::size_t kMaxName = 255;
    std::size_t start = at;
    while (start > 0 && at - start <= kMaxName && bytes[start - 1] != '"' && bytes[start - 1] != '\0') --start;
    if (start == 0 || at - start > kMaxName) continue;  // no quote or zero byte before it: no name
    std::string written = bytes.substr(start, at + 4 - start);
    bool printable = true;
    for (char c : written) printable = printable && static_cast<unsigned char>(c) >= 32;
    std::string name(file_name_of(written));
    if (!printable || name.size() <= 4) continue;
    for (char& c : written)
      if (c == '\\') c = '/';
    std::string source = found(folder + written);
    if (source.empty()) source = found(folder + name);
    if (source.empty()) {
      b.warn("texture " + name + " of " + mesh + " not found");
      continue;
    }
    b.put_resource(name, source);
    std::string pcx = found(source.substr(0, source.size() - 3) + "pcx");
    if (!pcx.empty()) b.put_resource(name.substr(0, name.size() - 3) + "pcx", pcx);
  }
}

// The files a glTF or ".obj" model names, packed under the names it gives them
// (a name with folders in it keeps them, in a sub-folder of the package, plain),
// so that the model finds them beside itself. A name that is absolute or goes
// through ".." is not packed and is told; a data: uri is inside the file already.
void copy_model_companions(Build& b, const std::string& model) {
  std::string bytes;
  if (!base::read_regular_file(model, kMaxResourceBytes, bytes)) return;
  std::string folder = folder_of(model);
  auto span = std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  // Each name with what it is ("buffer", "image"...), and the text of each ".mtl" for its textures.
  auto companion = [&](const std::string& what, const std::string& name) -> std::string {
    media::CompanionPlace place = media::companion_place(name);
    if (place == media::CompanionPlace::data) return {};
    if (place != media::CompanionPlace::beside) {
      b.warn("the " + what + " " + name + " of " + model + " is outside its folder: not packed");
      return {};
    }
    std::string source = found(folder + name);
    if (source.empty()) {
      b.warn("the " + what + " " + name + " of " + model + " not found");
      return {};
    }
    if (name.find('/') != std::string::npos) b.put_plain(name, source);
    else b.put_resource(name, source);
    return source;
  };
  if (base::ends_with_no_case(model, ".obj")) {
    for (const std::string& library : media::obj_material_libraries(bytes)) {
      std::string source = companion("material file", library);
      std::string text;
      if (source.empty() || !base::read_regular_file(source, kMaxResourceBytes, text)) continue;
      for (const std::string& texture : media::mtl_texture_names(text)) companion("texture", texture);
    }
    return;
  }
  media::GltfFiles files;
  media::GltfStatus status = media::read_gltf_files(span, files);
  if (status != media::GltfStatus::ok) {
    b.warn("model " + model + ": " + media::gltf_status_text(status));
    return;
  }
  for (const media::GltfBuffer& buffer : files.buffers)
    if (!buffer.uri.empty()) companion("buffer", buffer.uri);
  for (const std::string& image : files.images) companion("image", image);
}

// A glTF or ".obj" model: one that names further files (buffers, ".mtl", textures).
bool has_companions(std::string_view path) {
  return base::ends_with_no_case(path, ".gltf") || base::ends_with_no_case(path, ".glb") ||
         base::ends_with_no_case(path, ".obj");
}

// A model named by an element or a visual, under its own file name: with its
// animation frames (name_002.x, name_002.glb...: the model's own extension),
// each with the textures it names, or for a glTF or ".obj" model the files it
// names.
std::string copy_mesh(Build& b, const std::string& path) {
  std::string source = found(path);
  std::string used = path;
  if (source.empty()) {
    used = b.base + "xvisuals/default_.x";
    source = found(used);
  }
  std::string name(file_name_of(used));
  if (source.empty()) {
    b.warn("mesh " + path + " not found, nor its default " + used);
    return name;
  }
  auto put = [&](const std::string& as, const std::string& from) {
    b.put_resource(as, from);
    if (has_companions(from)) copy_model_companions(b, from);
    else if (base::ends_with_no_case(from, ".x")) copy_mesh_textures(b, from);
  };
  put(name, source);
  std::size_t dot = name.rfind('.');
  std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  std::string stem = used.substr(0, used.size() - extension.size());
  std::string name_stem = name.substr(0, name.size() - extension.size());
  for (int n = 2; n <= 999; ++n) {
    std::string frame = found(stem + "_" + base::three_digits(n).c_str() + extension);
    if (frame.empty()) break;
    put(name_stem + "_" + base::three_digits(n).c_str() + extension, frame);
  }
  return name;
}

// A path named inside an aspect file as the builder holds it: "\" as "/", "./" the base folder.
std::string reference_path(const Build& b, std::string_view field) {
  return std::string(base::replace_all(base::replace_all(field, "\\", "/").view(), "./", b.base).view());
}

// Aspect files that name other resources: a visual in fields 2, 3 and 30 of
// each line up to the first empty one; a 3D shape and a background in field 2
// of their first line (the texture), the other lines kept as they are.
struct Referring {
  std::string_view extension;
  std::span<const int> fields;
  bool every_line;
};
constexpr int kVisualPathFields[] = {2, 3, 30};
constexpr int kShapePathFields[] = {2};
const Referring kReferring[] = {
    {".v3d", kVisualPathFields, true},
    {".a3d", kShapePathFields, false},
    {".g3d", kShapePathFields, false},
};

const Referring* referring_kind(std::string_view path) {
  for (const Referring& r : kReferring)
    if (base::ends_with_no_case(path, r.extension)) return &r;
  return nullptr;
}

// The resources such a file names go in under their packed names, and the file
// is written again naming them so.
void rewrite_references(Build& b, const std::string& source, const std::string& name, const Referring& kind) {
  std::string text;
  if (!base::read_regular_file(source, kMaxResourceBytes, text)) {
    b.fail(3, "could not read the aspect file " + source);
    return;
  }
  std::string out;
  base::LineReader reader{text};
  for (bool first = true; !reader.at_end; first = false) {
    std::string_view raw = reader.next();
    if (!first && !kind.every_line) {
      if (raw.empty() && reader.at_end) break;  // the end of the last line
      out.append(raw);
      out += "\r\n";
      continue;
    }
    if (raw.empty()) break;
    base::Text line(raw);
    for (int f : kind.fields) {
      base::Text value = base::field(line, f, '|');
      if (value.empty() || value == "-") continue;
      std::string path = reference_path(b, value);
      if (has_companions(path)) {
        line = base::replace_field(line, f, "./" + copy_mesh(b, path), '|');
        continue;
      }
      std::string packed(packed_name(path).view());
      std::string from = found(path);
      if (from.empty()) from = found(default_of(path));
      if (from.empty()) b.warn("resource " + path + " of " + source + " not found, nor its default");
      b.put_resource(packed, from);
      line = base::replace_field(line, f, "./" + packed, '|');
    }
    out.append(line.view());
    out += "\r\n";
  }
  b.put_bytes(name, std::move(out), source);
}

// One aspect or sound path of an element (lower case), copied into the
// package; returns the package file name the field then names.
std::string copy_new_resource(Build& b, const std::string& path) {
  if (base::ends_with_no_case(path, ".x") || has_companions(path)) return copy_mesh(b, path);
  std::string name(packed_name(path).view());
  std::string source = found(path);
  std::string fallback = base::ends_with_no_case(path, "v3d") ? b.base + "visuals/default_.v3d" : default_of(path);
  if (source.empty()) source = found(fallback);
  if (source.empty()) {
    b.warn("resource " + path + " not found, nor its default " + fallback);
    return name;
  }
  if (const Referring* kind = referring_kind(source)) {
    rewrite_references(b, source, name, *kind);
    return name;
  }
  b.put_resource(name, source);
  // Its frame sequence: ship.pcx, then ship.002, ship.003, ...
  std::string stem = source.substr(0, source.size() - 3);
  std::string name_stem = name.substr(0, name.size() - 3);
  for (int n = 2; n <= 999; ++n) {
    std::string frame = found(stem + base::three_digits(n).c_str());
    if (frame.empty()) break;
    b.put_resource(name_stem + base::three_digits(n).c_str(), frame);
  }
  return name;
}

// The same, once per path: elements that share a resource share its copy.
std::string copy_resource(Build& b, const std::string& path) {
  auto at = b.copied.find(path);
  if (at != b.copied.end()) return at->second;
  std::string name = copy_new_resource(b, path);
  b.copied.emplace(path, name);
  return name;
}

// ---- Projects ----------------------------------------------------------------------------

struct FirstFault {
  bool seen = false;
  int element = 0;
  int line = 0;
  std::string message;
};

void note_fault(void* context, const brain::BrainFault& f) {
  auto& first = *static_cast<FirstFault*>(context);
  if (first.seen) return;
  first = {true, f.element, f.line, std::string(f.message)};
}

// The project's brains compiled; false (the build failed) on the first error.
bool compile_brains(Build& b, project::Project& p, const std::string& slot_text) {
  int count = p.lines.highest + 1;
  std::vector<std::string> names(count), paths(count);
  std::vector<brain::BrainSource> sources(count);
  for (int i = 0; i < count; ++i) {
    names[i] = std::string(project::line_field(p.lines.line[i], project::kFieldName).view());
    paths[i] = std::string(project::line_field(p.lines.line[i], project::kFieldBrain).view());
    sources[i] = {names[i], paths[i]};
  }
  FirstFault first;
  brain::CompileOptions options;
  options.base_folder = b.base;
  options.errors.show = [](void*, std::string_view) {};
  options.errors.fault = note_fault;
  options.errors.context = &first;
  auto program = std::make_unique<brain::Program>();
  if (brain::compile_project(sources, options, *program) && !first.seen) return true;
  std::string text = slot_text + ": ";
  if (first.seen && first.element >= 0 && first.element < count) {
    const project::BrainOrigin& origin = p.brain_origin[first.element];
    if (!origin.file.empty()) {
      text += origin.file;
      if (origin.line_before + first.line > 0) text += ":" + std::to_string(origin.line_before + first.line);
      text += ": ";
    }
    text += "brain of '" + names[first.element] + "': " + first.message;
  } else {
    text += "the brains did not compile";
  }
  b.fail(1, text);
  return false;
}

// A font face a brain names ("DejaVu Sans"), when it is an installed family:
// its regular face goes into the package's fonts/, where the player looks
// first, so the game shows its texts as made where the system lacks the face.
void copy_font(Build& b, const std::string& family) {
  std::string file = platform::font_file_of_family(family);
  if (!file.empty()) b.put_plain("fonts/" + std::string(file_name_of(file)), file);
}

// Files the brains name in string literals ("sounds/clunk.wav") that exist in
// the working folder go in under the same relative path, where the player's
// brains find them (their working folder is the package). A name in a
// sub-folder stays plain: the player descrambles top-level files only. The
// face that font_set names comes along when it is an installed family.
void copy_brain_named_files(Build& b, const project::Project& p) {
  for (int i = 0; i <= p.lines.highest; ++i) {
    std::string text;
    base::Text brain = project::line_field(p.lines.line[i], project::kFieldBrain);
    if (!base::read_regular_file(brain, kMaxResourceBytes, text)) continue;
    base::LineReader reader{text};
    while (!reader.at_end) {
      std::string_view line = reader.next();
      for (std::size_t open = line.find('"'); open != std::string_view::npos;) {
        std::size_t close = line.find('"', open + 1);
        if (close == std::string_view::npos) break;
        std::string_view literal = line.substr(open + 1, close - open - 1);
        bool face = base::ends_with_no_case(base::trim(line.substr(0, open)).view(), "font_set(");
        open = line.find('"', close + 1);
        if (face) {
          copy_font(b, std::string(literal));
          continue;
        }
        std::string name(base::replace_all(literal, "\\", "/").view());
        while (name.rfind("./", 0) == 0) name.erase(0, 2);
        if (name.empty() || name[0] == '/' || name.find("..") != std::string::npos || name.find(':') != std::string::npos ||
            name.find('.') == std::string::npos || name.find('|') != std::string::npos)
          continue;
        std::string source = found(b.base + name);
        if (source.empty() || source.rfind(b.data, 0) == 0) continue;  // the data folder's files ship anyway
        if (name.find('/') == std::string::npos) b.put(name, source);
        else b.put_plain(name, source);
      }
    }
  }
}

// Slot s (0..499): its project compiled, rewritten and saved as levelNNN.prj
// with levelNNN.col. False when the build failed.
bool package_project(Build& b, const ProjectsList& list, int s, bool& network) {
  std::string project_path(slot_field(list, s, kProject).view());
  std::string file(file_name_of(project_path));
  std::string project_name = base::ends_with_no_case(file, ".prj") ? file.substr(0, file.size() - 4) : file;
  std::string level = "level" + std::string(base::three_digits(s + 1).view());
  std::string slot_text = "slot " + std::string(base::three_digits(s + 1).view()) + " (" + project_name + ")";
  std::string on_disk = found(project_path);
  if (on_disk.empty()) {
    b.fail(3, slot_text + ": project " + project_path + " not found");
    return false;
  }

  b.progress("Compilation in progress... " + project_name);
  project::Host host;
  host.work_folder = base::Text(b.base);
  host.data_folder = base::Text(b.data);
  auto p = std::make_unique<project::Project>();
  std::vector<std::uint8_t> matrix(project::kCollisionBytes);
  p->collision = matrix.data();
  if (!project::load_project(*p, host, on_disk)) {
    b.fail(3, slot_text + ": could not read " + on_disk);
    return false;
  }
  // The private brain files live as long as this slot's build: the saved level embeds them.
  struct PrivateBrains {
    const project::Project& p;
    const project::Host& host;
    ~PrivateBrains() { project::remove_private_brains(p, host); }
  } private_brains{*p, host};
  if (!compile_brains(b, *p, slot_text)) return false;
  copy_brain_named_files(b, *p);

  if (!p->shared_variables.empty()) network = true;
  for (int i = 0; i <= p->lines.highest; ++i) {
    for (int f : {project::kFieldAspect, project::kFieldSound}) {
      base::Text value = project::line_field(p->lines.line[i], f);
      if (value.empty() || value == "-") continue;
      std::string name = copy_resource(b, std::string(base::lower(value).view()));
      if (!project::set_line_field(p->lines, i, f, "./" + name))
        b.fail(4, slot_text + ": element " + std::to_string(i) + " line too long");
    }
    std::uint32_t sync = static_cast<std::uint32_t>(base::value(project::line_field(p->lines.line[i], project::kFieldNetworkSync)));
    if (sync & 0xFFFFFF33u) network = true;
  }
  if (!p->background.empty()) {
    std::string path(p->background.view());
    std::string name(packed_name(path).view());
    std::string source = found(path);
    if (source.empty()) b.warn(slot_text + ": background " + path + " not found");
    b.put_resource(name, source);
    p->background = base::Text("./" + name);
  }
  if (b.failed) return false;

  // The project and its collision map: saved, then scrambled in place.
  std::string prj = b.stage + level + ".prj";
  std::string col = b.stage + level + ".col";
  b.placed.emplace(level + ".prj", on_disk);
  b.placed.emplace(level + ".col", on_disk);
  if (!project::save_project(*p, host, prj) || !scrambling_copy(prj, prj, b.plain_switch)) {
    b.fail(4, "could not write " + prj);
    return false;
  }
  // The map as it is on disk, its first 65,536 bytes, padded with zeros (a
  // project without one keeps the map its save wrote).
  std::string map = found(project::collision_path(on_disk));
  if (!map.empty()) {
    std::string bytes(project::kCollisionBytes, '\0');
    base::load_file(map, 0, std::as_writable_bytes(std::span(bytes.data(), bytes.size())));
    if (!write_whole(col, bytes)) {
      b.fail(4, "could not write " + col);
      return false;
    }
  }
  b.progress("Looking for next project to compile, please wait...");
  ++b.report.levels;
  return true;
}

// ---- Package files -----------------------------------------------------------------------

void copy_data_files(Build& b) {
  for (const char* name : kDataFiles) {
    std::string source = found(b.data + name);
    if (source.empty()) b.warn("data file " + b.data + name + " not found");
    b.put(name, source);
  }
  // The default background: the data folder's, else the background folder's.
  std::string background = found(b.data + "bkgr000_.bmp");
  if (background.empty()) background = found(b.base + "bckgrnds/bkgr000_.bmp");
  if (background.empty()) b.warn("the default background bkgr000_.bmp not found");
  b.put("bkgr000_.bmp", background);
  std::string panels = found(b.data + "panels2.pcx");
  if (panels.empty()) panels = found(b.data + "panels.pcx");
  if (panels.empty()) b.warn("data file " + b.data + "panels2.pcx not found");
  b.put("panels.pcx", panels);
  for (const char* name : {"config.ini", "noencrypt.txt"}) b.put(name, found(b.base + name));
}

void write_packaged_list(Build& b, const ProjectsList& list) {
  std::string text;
  for (int s = 0; s < kSlots; ++s) {
    if (slot_field(list, s, kCompileSwitch) == "1") {
      text.append(file_name_of(slot_field(list, s, kLoadingImage).view()));
      text += '|';
      text.append(file_name_of(slot_field(list, s, kCompleteImage).view()));
      text += '|';
      text.append(slot_field(list, s, kExtra).view());
    } else {
      text += "||";
    }
    text += "\r\n";
  }
  b.put_bytes("multilev.ini", std::move(text), "(the packaged list)");
}

// The loading and load-complete images of the switched-on slots under their own
// names, each with its ".avi" cut-scene when there is one.
void copy_slot_images(Build& b, const ProjectsList& list) {
  for (int s = 0; s < kSlots; ++s) {
    if (slot_field(list, s, kCompileSwitch) != "1") continue;
    for (int f : {kLoadingImage, kCompleteImage}) {
      std::string path(slot_field(list, s, f).view());
      std::string name(file_name_of(path));
      if (name.size() < 4) continue;
      std::string source = found(path);
      if (source.empty()) b.warn("slot " + std::string(base::three_digits(s + 1).view()) + ": image " + path + " not found");
      b.put(name, source);
      std::string avi = found(path.substr(0, path.size() - 4) + ".avi");
      if (!avi.empty()) b.put_resource(name.substr(0, name.size() - 4) + ".avi", avi);
    }
  }
}

// ---- The package folder ------------------------------------------------------------------

// The staging folder of a build is a sibling of the package folder, on its
// file system: ".NAME.build-XXXXXX" for package folder NAME. The build holds
// an exclusive lock on it (flock) from its making to its end, so a staging
// folder nobody holds was left by a build that was killed. The package folder
// is replaced as a whole by exchanging the two folders in one rename; where
// the file system can't, the old one goes aside as ".NAME.old-XXXXXX" first.
struct PackagePlace {
  std::string parent;  // the folder that holds the package folder, no trailing "/"
  std::string name;    // the package folder's own name
  std::string path() const { return parent + "/" + name; }
  std::string staging_prefix() const { return parent + "/." + name + ".build-"; }
  std::string aside_prefix() const { return parent + "/." + name + ".old-"; }
};

// Where the package folder is, its symbolic links followed (a link to a folder
// keeps pointing at the folder it names).
PackagePlace place_of(const std::string& package) {
  std::error_code ec;
  fs::path path = fs::weakly_canonical(fs::absolute(package, ec), ec);
  if (path.filename().empty()) path = path.parent_path();
  return {path.parent_path().string(), path.filename().string()};
}

// An exclusive lock on a folder; -1 when it is locked already (or can't be opened).
int lock_folder(const std::string& path, bool wait) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  while (flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
    if (errno == EINTR) continue;
    close(fd);
    return -1;
  }
  return fd;
}

// Removes the staging folders that killed builds of this package folder left
// (and puts back an old package that a two-step swap left aside, when the
// package folder is gone). Runs with the parent folder locked, so that no
// build is between making its staging folder and locking it.
void remove_stale_staging(Build& b, const PackagePlace& place) {
  std::string stage_name = "." + place.name + ".build-";
  std::string aside_name = "." + place.name + ".old-";
  int removed = 0;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(place.parent, ec)) {
    std::string name = e.path().filename().string();
    bool stage = name.rfind(stage_name, 0) == 0 && name.size() == stage_name.size() + 6;
    bool aside = name.rfind(aside_name, 0) == 0 && name.size() == aside_name.size() + 6;
    if ((!stage && !aside) || !e.is_directory(ec) || e.is_symlink(ec)) continue;
    int lock = lock_folder(e.path().string(), false);
    if (lock < 0) continue;  // a build that runs holds it
    if (aside && !fs::exists(place.path(), ec) && rename(e.path().c_str(), place.path().c_str()) == 0) {
      b.warn("put back the package folder " + place.path() + " that an interrupted build had moved aside");
    } else {
      fs::remove_all(e.path(), ec);
      if (!ec) ++removed;
    }
    close(lock);
  }
  if (removed > 0)
    b.warn("removed " + std::to_string(removed) + " staging folder" + (removed == 1 ? "" : "s") +
           " that interrupted builds left beside " + place.path());
}

// Makes this build's staging folder beside the package folder and locks it;
// the lock's descriptor, or -1 (the build failed).
int make_staging(Build& b, const PackagePlace& place) {
  int parent_lock = lock_folder(place.parent, true);
  if (parent_lock < 0) {
    b.fail(4, "could not open " + place.parent + ": " + std::strerror(errno));
    return -1;
  }
  remove_stale_staging(b, place);
  std::string temp = place.staging_prefix() + "XXXXXX";
  int lock = -1;
  if (!mkdtemp(temp.data())) b.fail(4, "could not make a staging folder beside " + place.path() + ": " + std::strerror(errno));
  else if ((lock = lock_folder(temp, false)) < 0) b.fail(4, "could not lock the staging folder " + temp);
  else b.stage = temp + "/";
  close(parent_lock);
  return lock;
}

// The tree at from made again at to, its files hard links to the same files
// (copies where the file system links none): the old package's sub-folders
// that the build does not make come along into the new one, whole.
bool link_tree(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (!fs::create_directory(to, ec) || ec) return false;
  for (const fs::directory_entry& e : fs::directory_iterator(from, ec)) {
    fs::path there = to / e.path().filename();
    fs::file_status st = e.symlink_status(ec);
    if (fs::is_symlink(st)) fs::copy_symlink(e.path(), there, ec);
    else if (fs::is_directory(st)) { if (!link_tree(e.path(), there)) return false; }
    else if (link(e.path().c_str(), there.c_str()) != 0) fs::copy_file(e.path(), there, ec);
    if (ec) return false;
  }
  return !ec;
}

bool carry_sub_folders(Build& b, const std::string& target, const std::string& stage) {
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(target, ec)) {
    fs::path name = e.path().filename();
    if (!e.is_directory(ec) || name == "lib" || fs::exists(fs::symlink_status(fs::path(stage) / name, ec))) continue;
    bool carried = e.is_symlink(ec) ? (fs::copy_symlink(e.path(), fs::path(stage) / name, ec), !ec)
                                    : link_tree(e.path(), fs::path(stage) / name);
    if (!carried) {
      b.fail(4, "could not carry " + e.path().string() + " into the new package");
      return false;
    }
  }
  return true;
}

// Puts the staging folder in the package folder's place, in one step: the
// package folder path then holds the new package, the staging path the old
// one, which goes. A kill at any moment leaves the old package or the new one
// whole at the package folder path.
bool swap_in(Build& b, const PackagePlace& place) {
  std::string stage = b.stage.substr(0, b.stage.size() - 1);
  std::string target = place.path();
  if (!carry_sub_folders(b, target, stage)) return false;
  struct stat old;
  if (stat(target.c_str(), &old) == 0) chmod(stage.c_str(), old.st_mode & 07777);  // the folder keeps its permissions
  std::error_code ec;
  if (renameat2(AT_FDCWD, stage.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
    fs::remove_all(stage, ec);  // the old package; a later build removes what a kill leaves of it
    return true;
  }
  int why = errno;
  if (why == ENOENT && rename(stage.c_str(), target.c_str()) == 0) return true;  // no package folder yet
  if (why != EINVAL && why != ENOSYS) {
    b.fail(4, "could not replace " + target + " by the new package: " + std::strerror(why));
    return false;
  }
  // This file system exchanges no folders: the old one aside, then the new one in place.
  b.warn("the file system of " + target + " cannot exchange two folders in one step: it was replaced in two");
  std::string aside = place.aside_prefix() + "XXXXXX";
  if (!mkdtemp(aside.data()) || rename(target.c_str(), aside.c_str()) != 0) {
    b.fail(4, "could not move " + target + " aside: " + std::strerror(errno));
    rmdir(aside.c_str());
    return false;
  }
  if (rename(stage.c_str(), target.c_str()) != 0) {
    why = errno;
    rename(aside.c_str(), target.c_str());
    b.fail(4, "could not move the new package into " + target + ": " + std::strerror(why));
    return false;
  }
  fs::remove_all(aside, ec);
  return true;
}

}  // namespace

BuildReport build_package(const BuildSetup& setup) {
  Build b(setup);
  b.base = std::string(setup.base_folder.view());
  if (!b.base.empty() && b.base.back() != '/') b.base += '/';
  b.data = b.base + "data/";
  b.plain_switch = base::file_exists(b.base + "noencrypt.txt");
  std::string package(setup.package_folder.view());
  if (!package.empty() && package.back() != '/') package += '/';
  PackagePlace place = place_of(package);
  if (!package.empty() && !is_folder(package)) {
    // A build killed in a two-step swap may have left it aside.
    int parent_lock = lock_folder(place.parent, true);
    if (parent_lock >= 0) {
      remove_stale_staging(b, place);
      close(parent_lock);
    }
  }
  if (package.empty() || !is_folder(package)) {
    b.fail(3, "The package folder " + package + " does not exist");
    return b.report;
  }
  // Its files are replaced: never those of the working folder or the data folder.
  std::error_code ec;
  if (fs::equivalent(package, b.base, ec) || fs::equivalent(package, b.data, ec)) {
    b.fail(4, "The package folder " + package + " is the working folder or its data folder");
    return b.report;
  }

  auto list = std::make_unique<ProjectsList>();
  std::string list_path = setup.list_path.empty() ? b.data + "multilev.ini" : std::string(setup.list_path.view());
  if (!load_list(*list, list_path, b.base) && !setup.list_path.empty()) {
    b.fail(3, "The projects list " + list_path + " could not be read");
    return b.report;
  }
  int highest = -1;
  for (int s = 0; s < kSlots; ++s)
    if (slot_field(*list, s, kCompileSwitch) == "1") highest = s;
  if (highest < 0) {
    b.fail(3, "no project is switched on in " + list_path);
    return b.report;
  }

  bool own_budget = !base::budget_reserved();
  if (own_budget && !base::reserve_budget()) {
    b.fail(4, "could not reserve the engine's memory");
    return b.report;
  }
  int stage_lock = make_staging(b, place);
  if (stage_lock < 0) {
    if (own_budget) base::release_budget();
    return b.report;
  }
  // The private brain files of the projects being compiled.
  mkdir((b.base + "brains").c_str(), 0777);

  bool network = false;
  for (int s = 0; s <= highest && !b.failed; ++s)
    if (slot_field(*list, s, kCompileSwitch) == "1") package_project(b, *list, s, network);
  if (!b.failed) {
    if (network) b.put_bytes("netmode.ini", "\r\n", "(the network switch)");
    copy_data_files(b);
    write_packaged_list(b, *list);
    copy_slot_images(b, *list);
    if (setup.screensaver) {
      std::string module = found(b.data + "ssmod.bin");
      if (module.empty()) b.warn("the screen saver module " + b.data + "ssmod.bin not found");
      b.put("zeptaexe.scr", module);
    }
  }
  if (!b.failed) {
    std::string error;
    bool written = setup.player_program.empty()
                       ? write_player(b.stage, setup.title.view(), b.needs, error)
                       : write_player_from(setup.player_program.view(), b.stage, setup.title.view(), b.needs, error);
    if (!written) b.fail(4, "the player: " + error);
  }
  if (!b.failed) swap_in(b, place);
  else fs::remove_all(b.stage, ec);
  close(stage_lock);
  if (own_budget) base::release_budget();
  b.report.ok = !b.failed;
  if (b.failed) b.report.levels = 0;
  return b.report;
}

}  // namespace package
