// Loaders of the scene's aspect files: cameras (".03d"), visuals (".v3d" and
// models named directly: ".3ds", ".x", glTF and ".obj"), backgrounds (".g3d") and lights (field 37 of the line);
// the registry also takes the boundary elements' ground maps (engine/ground.cpp).
// The formats are described in docs/formats.md.
#include <cstring>

#include "engine/ground_local.h"
#include "engine/render/render_local.h"
#include "base/files.h"
#include "base/log.h"

namespace engine {

namespace {

constexpr std::int32_t kDefaultProjection = -240;  // a 90-degree view
constexpr int kMaxVisualFrames = 1024;              // lines read from one visual

// Copies text into the arena as a zero-terminated string ("\" made "/");
// returns its reference (offset + 1), 0 for an empty text or a full arena.
std::int32_t arena_copy(project::LoaderCall& c, std::string_view text) {
  if (text.empty() || text == "-") return 0;
  std::byte* at = project::take_arena(c.tables, c.load, text.size() + 1);
  if (!at) return 0;
  char* out = reinterpret_cast<char*>(at);
  for (std::size_t i = 0; i < text.size(); ++i) out[i] = text[i] == '\\' ? '/' : text[i];
  out[text.size()] = 0;
  return static_cast<std::int32_t>(at - c.tables.arena.data()) + 1;
}

std::int32_t hex_value(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  std::uint32_t v = 0;
  for (char ch : s) {
    int d = ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : -1;
    if (d < 0) break;
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  return static_cast<std::int32_t>(v);
}

std::int32_t number_or(std::string_view s, std::int32_t fallback) { return s.empty() ? fallback : base::value(s); }

// One ".v3d" line into the next aspect record.
bool visual_frame(project::LoaderCall& c, std::string_view line) {
  int n = project::take_aspect(c.tables, c.load, c.element, ".v3d");
  if (n < 0) return false;
  project::AspectRecord& a = c.tables.aspects[n];
  auto f = [&](int k) { return base::field(line, k, '|'); };
  a.word[kVisualFrame] = number_or(f(1), 1);
  a.word[kVisualTexture] = arena_copy(c, f(2));
  a.word[kVisualModel] = arena_copy(c, f(3));
  a.word[kVisualSecondModel] = number_or(f(31), 0) != 0 ? arena_copy(c, f(30)) : 0;
  a.word[kVisualQuality] = number_or(f(4), 3);
  a.word[kVisualMaterial] = number_or(f(5), 0);
  a.word[kVisualColour] = f(6).empty() ? 0xFFFFFF : hex_value(f(6));
  a.word[kVisualTransparent] = number_or(f(7), 0);
  a.word[kVisualTranslucency] = number_or(f(8), 0);
  a.word[kVisualFlip] = number_or(f(9), 0);
  a.word[kVisualOverlay] = number_or(f(10), 0) == 1 ? 1 : 0;
  return true;
}

bool load_visual(project::LoaderCall& c) {
  base::TextFile file;
  if (!file.open_read(c.path)) return false;
  int frames = 0;
  while (frames < kMaxVisualFrames) {
    base::Text line = file.read_line();
    if (line.empty() || line.too_long()) break;  // the frames end at the first empty line
    if (c.editor_pass && frames == 1) break;
    if (!visual_frame(c, line)) break;
    ++frames;
    if (file.at_eof()) break;
  }
  if (frames == 0) base::report("render", "empty visual %s", c.path.c_str());
  return frames > 0;
}

// A model (".3ds", ".x", ".gltf", ".glb", ".obj") named directly: one frame, no texture.
bool load_model_visual(project::LoaderCall& c) {
  base::Text line = "1||";
  line += c.path;
  return visual_frame(c, line);
}

bool load_camera(project::LoaderCall& c) {
  int n = project::take_aspect(c.tables, c.load, c.element, ".03d");
  if (n < 0) return false;
  std::int32_t p = kDefaultProjection;
  base::TextFile file;
  if (file.open_read(c.path)) {
    base::Text first = base::field(file.read_line(), 1, '|');
    if (!first.empty() && base::value(first) < 0) p = base::value(first);
  }
  c.tables.aspects[n].word[0] = p;
  c.tables.aspects[n].word[kCameraFileProjection] = p;
  return true;
}

bool load_background(project::LoaderCall& c) {
  int n = project::take_aspect(c.tables, c.load, c.element, ".g3d");
  if (n < 0) return false;
  base::TextFile file;
  if (file.open_read(c.path)) {
    base::Text line = file.read_line();
    c.tables.aspects[n].word[kGroundColourWord] = base::value(base::field(line, 1, '|')) & 255;
    c.tables.aspects[n].word[0] = arena_copy(c, base::field(line, 2, '|'));
  }
  return true;
}

// Light settings from field 37: "type/RRGGBB/attenuation".
bool load_light(project::LoaderCall& c) {
  int n = project::take_aspect(c.tables, c.load, c.element, ".l3d");
  if (n < 0) return false;
  project::AspectRecord& a = c.tables.aspects[n];
  std::string_view s = c.path;
  a.word[0] = base::value(base::field(s, 1, '/'));
  if (a.word[0] < 0 || a.word[0] > 4) a.word[0] = 3;
  base::Text colour = base::field(s, 2, '/');
  a.word[1] = colour.empty() ? 0xFFFFFF : hex_value(colour) & 0xFFFFFF;
  a.word[2] = base::value(base::field(s, 3, '/'));
  // A light that is off at start gives no light.
  if (!(base::value(project::line_field(c.lines.line[c.element], project::kFieldStartSwitches)) & project::kFlagOn))
    a.word[1] = 0;
  return true;
}

}  // namespace

void register_scene_loaders(project::AspectLoaders& loaders) {
  static constexpr struct {
    int type;
    std::string_view extension;
    project::AspectLoader loader;
  } kLoaders[] = {
      {project::kCamera, "", load_camera},         {project::kVisual, ".v3d", load_visual},
      {project::kVisual, ".3ds", load_model_visual}, {project::kVisual, ".x", load_model_visual},
      {project::kVisual, ".gltf", load_model_visual}, {project::kVisual, ".glb", load_model_visual},
      {project::kVisual, ".obj", load_model_visual},
      {project::kBackground, ".g3d", load_background}, {project::kLight, "", load_light},
      {project::kShape3d, "", load_shape},         {project::kBoundary, "", load_boundary},
  };
  for (const auto& l : kLoaders)
    if (!project::register_aspect_loader(loaders, l.type, l.extension, l.loader))
      base::report("render", "aspect loaders full");
}

}  // namespace engine
