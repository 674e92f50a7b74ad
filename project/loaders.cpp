// Aspect loading: a registry of loaders by element type and
// file extension, the image loader with its animation frames, and tag-only
// records for the kinds whose loaders live in higher layers.
#include <strings.h>

#include <cstring>
#include <span>
#include <string>

#include "media/media.h"
#include "project/project_local.h"
#include "base/files.h"
#include "base/log.h"
#include "base/memory.h"

namespace project {

namespace {

// Default resource of each element type, used when the aspect file is missing.
constexpr std::string_view kDefaultAspect[kTypeCount] = {
    "cameras/default_.03d",  "3dshapes/default_.a3d", "sprites/default_.pcx", "",
    "",                      "sprites/default_.pcx",  "frames/default_.pcx",  "bckgrnds/default_.pcx",
    "counters/default_.pcx", "tracks/default_.i3d",   "",                     "visuals/default_.v3d",
    "grndmaps/default_.m3d", "xvisuals/default_.x",
};

}  // namespace

std::string_view default_aspect(int type) { return type >= 0 && type < kTypeCount ? kDefaultAspect[type] : ""; }

namespace {

base::Text extension_of(std::string_view path) {
  std::size_t dot = path.rfind('.');
  std::size_t slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return path.substr(dot);
}

}  // namespace

base::Text kind_extension(int type, std::string_view path) {
  base::Text extension = extension_of(path);
  std::size_t slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name.size() != 12 || strcasecmp(extension.c_str(), ".dat") != 0) return extension;
  unsigned char head[4] = {};
  if (base::read_file_at(path, 0, std::as_writable_bytes(std::span(head))) < 2) return extension;
  if (std::memcmp(head, "xof ", 4) == 0) return ".x";
  if (head[0] == 0x4D && head[1] == 0x4D) return ".3ds";
  if (head[0] == 'B' && head[1] == 'M') return ".bmp";
  if (head[0] == 0x0A) return ".pcx";
  if (std::memcmp(head, media::kMapTag, 4) == 0) return ".m3d";
  if (type == kVisual) return ".v3d";
  if (type == kBackground) return ".g3d";
  return extension;
}

namespace {

// The aspect tag of an element's aspect file, by its kind.
base::Text tag_of(int type, std::string_view path) {
  base::Text extension = kind_extension(type, path);
  return aspect_tag(type, std::string("a") + std::string(extension.view()));
}

// One PCX image into the arena and the next aspect record.
bool load_image(LoaderCall& c, std::string_view path, std::string_view tag, int frame, int loader_switch) {
  std::size_t start = (c.load.arena_used + 3) & ~std::size_t{3};
  if (start >= c.tables.arena.size()) {
    base::report("project", "data arena full, image %.*s not loaded", static_cast<int>(path.size()),
                  path.data());
    return false;
  }
  std::span<uint8_t> dest(reinterpret_cast<uint8_t*>(c.tables.arena.data() + start),
                          c.tables.arena.size() - start);
  media::ImageSize size;
  int pixels = media::load_pcx(path, media::kPcxFold, dest, size);
  int a = take_aspect(c.tables, c.load, c.element, tag);
  if (a < 0) return false;
  c.load.arena_used = start + static_cast<std::size_t>(pixels);
  AspectRecord& r = c.tables.aspects[a];
  r.word[0] = static_cast<int32_t>(base::address32(dest.data()));
  r.word[1] = frame;
  r.word[2] = size.width;
  r.word[3] = size.height;
  r.word[4] = c.element;
  r.word[5] = loader_switch;
  return true;
}

// Images: the file, then for flat shapes and sprites its animation frames
// (path less 3 characters + "002", "003", ...); the count goes to field 38.
bool load_images(LoaderCall& c) {
  const base::Text& line = c.lines.line[c.element];
  int type = base::value(field_view(line, kFieldType, '|'));
  base::Text tag = tag_of(type, c.path);
  int loader_switch = type == kFlatShape ? (base::value(field_view(line, kFieldStartSwitches, '|')) >> 2) & 1 : 0;
  if (!load_image(c, c.path, tag, 1, loader_switch)) return false;
  if ((type != kFlatShape && type != kSprite) || c.editor_pass) return true;
  int frames = 1;
  base::Text stem = base::drop_right(c.path, 3);
  for (int n = 2; n <= 999; ++n) {
    base::Text name = resolve_path(stem + base::three_digits(n).view());
    if (!base::file_exists(name) || !load_image(c, name, tag, n, loader_switch)) break;
    frames = n;
  }
  base::Text field38 = base::replace_field(field_view(c.lines.line[c.element], kFieldFrames, '|'), 2,
                                             base::text_of(frames), '/');
  set_line_field(c.lines, c.element, kFieldFrames, field38);
  return true;
}

// Meshes: one ".x3d" record per existing frame file (name less its extension
// + "_" + 3 digits + the extension from frame 2: "walker_002.glb"), holding
// the element, the frame and -1, and the frame's file as an arena text; the
// models themselves are read by the engine.
bool load_mesh_records(LoaderCall& c) {
  base::Text extension = extension_of(c.path);
  base::Text stem = base::drop_right(c.path, extension.length());
  for (int n = 1; n <= 999; ++n) {
    base::Text name = n == 1 ? c.path : resolve_path(stem + "_" + base::three_digits(n).view() + extension.view());
    if (n > 1 && (c.editor_pass || !base::file_exists(name))) break;
    int a = take_aspect(c.tables, c.load, c.element, ".x3d");
    if (a < 0) return n > 1;
    AspectRecord& r = c.tables.aspects[a];
    r.word[0] = c.element;
    r.word[1] = n;
    r.word[kMeshAnimationSetWord] = -1;  // no animation set until the renderer loads the model
    if (std::byte* text = take_arena(c.tables, c.load, static_cast<std::size_t>(name.length()) + 1)) {
      std::memcpy(text, name.c_str(), static_cast<std::size_t>(name.length()) + 1);
      r.word[kMeshFileWord] = static_cast<int32_t>(text - c.tables.arena.data()) + 1;
    } else {
      base::report("project", "data arena full, model %s not named", name.c_str());
    }
  }
  return true;
}

// Tracks: the recorded samples (24 bytes each) read whole into the arena.
// Word 0 is the address of the first sample, word 1 the byte count (whole
// samples only); the record build makes word 0 the element's play position.
bool load_track(LoaderCall& c) {
  long size = base::file_size(c.path);
  if (size < 0) return false;
  std::size_t bytes = static_cast<std::size_t>(size) / kTrackSampleBytes * kTrackSampleBytes;
  std::byte* data = take_arena(c.tables, c.load, bytes);
  if (!data) {
    base::report("project", "data arena full, track %s not loaded", c.path.c_str());
    return false;
  }
  if (bytes > 0 && base::read_file_at(c.path, 0, std::span<std::byte>(data, bytes)) != static_cast<long>(bytes))
    std::memset(data, 0, bytes);
  int a = take_aspect(c.tables, c.load, c.element, ".i3d");
  if (a < 0) return false;
  c.tables.aspects[a].word[0] = static_cast<int32_t>(base::address32(data));
  c.tables.aspects[a].word[1] = static_cast<int32_t>(bytes);
  return true;
}

}  // namespace

int take_aspect(Tables& tables, AspectLoad& load, int element, std::string_view extension) {
  if (!tables.aspects || element < 0 || element >= kMaxElements) return -1;
  if (load.used >= kMaxAspects) {
    base::report("project", "aspect table full");
    return -1;
  }
  int a = load.used++;
  std::memset(&tables.aspects[a], 0, sizeof(AspectRecord));
  write_tag(tables.aspects[a], extension);
  if (load.count[element] == 0) load.first[element] = a;
  ++load.count[element];
  return a;
}

std::byte* take_arena(Tables& tables, AspectLoad& load, std::size_t bytes) {
  std::size_t start = (load.arena_used + 3) & ~std::size_t{3};
  if (start > tables.arena.size() || bytes > tables.arena.size() - start) return nullptr;
  load.arena_used = start + bytes;
  return tables.arena.data() + start;
}

AspectLoaders default_aspect_loaders() {
  AspectLoaders loaders;
  static constexpr struct {
    int type;
    std::string_view extension;
    AspectLoader loader;
  } kDefaults[] = {
      {kFlatShape, "", load_images},   {kSprite, "", load_images},  {kFrame, "", load_images},
      {kCounter, "", load_images},     {kBackground, ".pcx", load_images},
      {kMesh, "", load_mesh_records},  {kTrack, "", load_track},
  };
  for (const auto& d : kDefaults) {
    AspectLoaders::Entry& e = loaders.entry[loaders.count++];
    e.type = d.type;
    std::memset(e.extension, 0, sizeof e.extension);
    std::memcpy(e.extension, d.extension.data(), d.extension.size());
    e.loader = d.loader;
  }
  return loaders;
}

bool register_aspect_loader(AspectLoaders& loaders, int type, std::string_view extension,
                            AspectLoader loader) {
  if (loaders.count >= kMaxLoaders || extension.size() >= sizeof(AspectLoaders::Entry::extension) ||
      !loader)
    return false;
  for (int k = loaders.count; k > 0; --k) loaders.entry[k] = loaders.entry[k - 1];
  AspectLoaders::Entry& e = loaders.entry[0];
  e.type = type;
  std::memset(e.extension, 0, sizeof e.extension);
  std::memcpy(e.extension, extension.data(), extension.size());
  e.loader = loader;
  ++loaders.count;
  return true;
}

void load_aspects(AspectLoaders& loaders, Tables& tables, AspectLoad& load, ElementLines& lines,
                  std::string_view work_folder, bool editor_pass) {
  load = AspectLoad{};
  if (!tables.aspects) return;
  int highest = lines.highest < kMaxElements ? lines.highest : kMaxElements - 1;
  for (int i = 0; i <= highest; ++i) {
    std::string_view line = lines.line[i];
    int type = base::value(field_view(line, kFieldType, '|'));
    if (type < 0 || type >= kTypeCount) continue;
    base::Text path;
    if (type == kLight) {
      path = field_view(line, kFieldDisplayArea, '|');  // the light's settings
    } else {
      path = resolve_path(field_view(line, kFieldAspect, '|'));
      if (!base::file_exists(path) && !kDefaultAspect[type].empty())
        path = resolve_path(base::Text(work_folder) + kDefaultAspect[type]);
    }
    base::Text tag = type == kLight ? aspect_tag(type, path) : tag_of(type, path);
    if (tag.empty()) continue;  // shadows and type 4 have no aspect

    base::Text extension = kind_extension(type, path);
    LoaderCall call{tables, load, lines, i, path, editor_pass};
    for (int k = 0; k < loaders.count; ++k) {
      const AspectLoaders::Entry& e = loaders.entry[k];
      if (e.type != -1 && e.type != type) continue;
      if (e.extension[0] && strcasecmp(e.extension, extension.c_str()) != 0) continue;
      e.loader(call);
      break;
    }
    // Kinds without a loader yet, and failed loads, still get their tag.
    if (load.count[i] == 0) take_aspect(tables, load, i, tag);
  }
}

}  // namespace project
