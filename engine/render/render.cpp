// Scene rendering: the run's scene objects made from the loaded aspects, kept in
// step with the element records, and drawn once per on-time tick, one viewport
// per camera element, with the 2D screen on top.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "engine/render/layers_local.h"
#include "engine/render/render_local.h"
#include "platform/platform.h"
#include "platform/sound.h"
#include "base/files.h"
#include "base/log.h"

namespace engine {

namespace {

using project::AspectRecord;
using project::ElementRecord;

constexpr float kAngleRadians = 3.4088e-05f;  // one 1/512 degree
constexpr float kPositionUnit = 512000.0f;    // sub-units per scene unit
constexpr std::size_t kMaxImageFile = 16u << 20;

scene::Colour colour_of(std::uint32_t rgb) {
  return {((rgb >> 16) & 255) / 255.0f, ((rgb >> 8) & 255) / 255.0f, (rgb & 255) / 255.0f, 1.0f};
}

void display_size_of(int mode, int& width, int& height) {
  width = 640, height = 480;
  if (mode == 4 || mode == 8) width = 800, height = 600;
  if (mode == 16 || mode == 32) width = 1024, height = 768;
}

}  // namespace

int aspect_index(const World& w, std::int32_t address) {
  const AspectRecord* a = aspect_at(address);
  if (!a || !w.tables.aspects) return -1;
  return static_cast<int>(a - w.tables.aspects);
}

namespace {

AspectKind kind_of_tag(const AspectRecord& a) {
  static constexpr struct {
    char tag[5];
    AspectKind kind;
  } kKinds[] = {{"d30.", AspectKind::camera}, {"d3v.", AspectKind::visual}, {"d3a.", AspectKind::shape},
                {"d3l.", AspectKind::light},  {"d3b.", AspectKind::decal},  {"d3x.", AspectKind::mesh}};
  for (const auto& k : kKinds)
    if (std::memcmp(a.tag, k.tag, 4) == 0) return k.kind;
  return AspectKind::none;
}

// ---- Resources of the per-aspect objects --------------------------------------------

// The file as it exists, else "default_" + its extension in its own folder ("" when neither).
base::Text existing_or_default(std::string_view path) {
  if (path.empty()) return {};
  base::Text found = project::resolve_path(path);
  if (base::file_exists(found)) return found;
  std::size_t slash = path.rfind('/');
  std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  base::Text fallback = path.substr(0, slash == std::string_view::npos ? 0 : slash + 1);
  fallback += "default_";
  fallback += path.substr(dot);
  found = project::resolve_path(fallback);
  return base::file_exists(found) ? found : base::Text();
}

bool read_whole(std::string_view path, std::vector<std::uint8_t>& out) {
  long size = base::file_size(path);
  if (size <= 0 || static_cast<std::size_t>(size) > kMaxImageFile) return false;
  out.resize(static_cast<std::size_t>(size));
  return base::read_file_at(path, 0, std::as_writable_bytes(std::span(out))) == size;
}

}  // namespace

scene::Texture texture_of(Scene& s, std::string_view wanted, bool colour0_transparent) {
  base::Text path = existing_or_default(wanted);
  if (path.empty()) return {};
  std::string key = std::string(path.view()) + (colour0_transparent ? "|t" : "|o");
  for (const LoadedTexture& t : s.textures)
    if (t.path == key) return t.texture;
  std::vector<std::uint8_t> file, pixels;
  std::uint8_t palette[768];
  int width = 0, height = 0;
  if (!read_whole(path, file)) return {};
  media::Picture bmp;
  if (media::decode_bmp(file, bmp, scene::kMaxTextureSide)) {
    pixels = std::move(bmp.pixels);
    width = bmp.width, height = bmp.height;
    for (int i = 0; i < 256; ++i)
      for (int k = 0; k < 3; ++k) palette[i * 3 + k] = bmp.palette[i][k];
  } else {
    media::ImageSize size;
    pixels.assign(static_cast<std::size_t>(scene::kMaxTextureSide) * scene::kMaxTextureSide + 768, 0);
    if (media::decode_pcx(file, media::kPcxAppendPalette, pixels, size, nullptr) <= 1) {
      base::report("render", "not an image: %s", path.c_str());
      return {};
    }
    width = size.width, height = size.height;
    if (width > scene::kMaxTextureSide || height > scene::kMaxTextureSide) return {};
    std::memcpy(palette, &pixels[static_cast<std::size_t>(width) * height], 768);
  }
  scene::Texture t = scene::texture_create(*s.renderer, pixels.data(), width, height, width, palette, colour0_transparent);
  s.textures.push_back({key, t});
  return t;
}

namespace {

// Appends a model's triangles to s.vertices; false when it can't be read.
bool append_model(Scene& s, std::string_view wanted, bool flip) {
  base::Text path = existing_or_default(wanted);
  if (path.empty()) return false;
  std::size_t first = s.vertices.size();
  std::string error;
  if (!platform::load_model(path, s.vertices, error)) {
    base::report("render", "model %s: %s", path.c_str(), error.c_str());
    return false;
  }
  if (flip) {
    for (std::size_t i = first; i + 2 < s.vertices.size(); i += 3) {
      std::swap(s.vertices[i + 1], s.vertices[i + 2]);
      for (std::size_t k = i; k < i + 3; ++k) s.vertices[k].normal = scene::scale(s.vertices[k].normal, -1);
    }
  }
  return true;
}

// The meshes of one visual frame attached to its frame. Frames with the same
// files and settings share one mesh.
// The distinct vertex positions of s.vertices appended to s.points.
void keep_points(Scene& s, LoadedMesh& m) {
  m.first_point = static_cast<std::uint32_t>(s.points.size());
  for (const scene::Vertex& v : s.vertices) s.points.push_back(v.position);
  auto first = s.points.begin() + m.first_point;
  auto less = [](const scene::Vec3& p, const scene::Vec3& q) {
    return p.x != q.x ? p.x < q.x : p.y != q.y ? p.y < q.y : p.z < q.z;
  };
  auto same = [](const scene::Vec3& p, const scene::Vec3& q) { return p.x == q.x && p.y == q.y && p.z == q.z; };
  std::sort(first, s.points.end(), less);
  s.points.erase(std::unique(first, s.points.end(), same), s.points.end());
  m.point_count = static_cast<std::uint32_t>(s.points.size() - m.first_point);
}

void build_visual(World& w, Scene& s, const AspectRecord& a, AspectObject& o) {
  scene::Frame frame = o.frame;
  const project::Tables& t = w.tables;
  std::string key;
  for (int k : {kVisualModel, kVisualSecondModel, kVisualTexture}) (key += arena_text(t, a.word[k])) += '|';
  for (int k = kVisualQuality; k <= kVisualFlip; ++k) (key += std::to_string(a.word[k])) += '|';
  for (const LoadedMesh& m : s.meshes)
    if (m.key == key) {
      if (scene::valid(m.mesh)) scene::frame_add_mesh(*s.renderer, frame, m.mesh);
      o.first_point = m.first_point, o.point_count = m.point_count;
      return;
    }
  s.meshes.push_back({key, {}});
  s.vertices.clear();
  std::string_view work = s.setup.work_folder;
  append_model(s, project::path_to_memory(arena_text(t, a.word[kVisualModel]), work), a.word[kVisualFlip] != 0);
  base::Text second = project::path_to_memory(arena_text(t, a.word[kVisualSecondModel]), work);
  if (!second.empty()) append_model(s, second, a.word[kVisualFlip] != 0);
  if (s.vertices.empty()) return;
  keep_points(s, s.meshes.back());
  o.first_point = s.meshes.back().first_point, o.point_count = s.meshes.back().point_count;
  scene::MaterialDesc m;
  m.colour = colour_of(static_cast<std::uint32_t>(a.word[kVisualColour]));
  m.colour.a = 1.0f - std::clamp(a.word[kVisualTranslucency], 0, 100) / 100.0f;
  if (a.word[kVisualMaterial] == 1) m.specular = {0.6f, 0.6f, 0.6f}, m.power = 12;
  scene::FaceGroup g;
  g.vertex_count = static_cast<int>(s.vertices.size());
  g.material = scene::material_create(*s.renderer, m);
  base::Text texture = project::path_to_memory(arena_text(t, a.word[kVisualTexture]), work);
  if (!texture.empty()) g.texture = texture_of(s, texture, a.word[kVisualTransparent] != 0);
  static constexpr scene::Quality kQualities[] = {scene::Quality::wireframe, scene::Quality::unlit_flat,
                                                  scene::Quality::flat, scene::Quality::gouraud};
  g.quality = kQualities[std::clamp(a.word[kVisualQuality], 0, 3)];
  scene::Mesh mesh = scene::mesh_create(*s.renderer, s.vertices, std::span(&g, 1));
  s.meshes.back().mesh = mesh;
  if (scene::valid(mesh)) scene::frame_add_mesh(*s.renderer, frame, mesh);
}

void build_light(Scene& s, const AspectRecord& a, AspectObject& o) {
  static constexpr scene::LightKind kKinds[] = {scene::LightKind::ambient, scene::LightKind::point,
                                                scene::LightKind::spot, scene::LightKind::directional,
                                                scene::LightKind::directional};
  scene::LightDesc d;
  d.kind = kKinds[std::clamp(a.word[0], 0, 4)];
  scene::Colour c = colour_of(static_cast<std::uint32_t>(a.word[1]));
  d.colour = {c.r, c.g, c.b};
  d.range = 30;
  d.constant = 0;
  d.quadratic = 0;
  d.linear = 1.0f - (a.word[2] & 1023) / 1024.0f;
  if (d.linear <= 0) d.constant = 1;  // no attenuation at all rather than a division by zero
  d.umbra = 0;
  d.penumbra = 1.5f;
  o.light = scene::light_create(*s.renderer, d);
  if (scene::valid(o.light)) scene::frame_add_light(*s.renderer, o.frame, o.light);
}

// A flat shape's image (scheme colours, colour 0 cut out) as a camera-facing decal.
void build_decal(Scene& s, const AspectRecord& a, AspectObject& o) {
  int width = a.word[2], height = a.word[3];
  if (width < 1 || height < 1 || width > scene::kMaxTextureSide || height > scene::kMaxTextureSide) return;
  const auto* pixels = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(a.word[0])));
  if (!base::in_budget(pixels, static_cast<std::size_t>(width) * height)) return;
  o.decal = scene::texture_create(*s.renderer, pixels, width, height, width, s.palette, true);
  if (scene::valid(o.decal)) scene::frame_add_decal(*s.renderer, o.frame, o.decal);
}

// An ".x3d" aspect: its model file as a frame tree under the aspect's frame,
// its first animation as the aspect's animation set, looping over the whole
// animation unless the record gives a range.
void build_model(World& w, Scene& s, int n, AspectObject& o) {
  std::int32_t* words = w.tables.aspects[n].word;
  words[kMeshAnimationSet] = -1;
  std::string_view path = arena_text(w.tables, words[project::kMeshFileWord]);
  if (path.empty()) {
    base::report("render", "mesh aspect %d: no model file", n);
    return;
  }
  scene::AnimationSet set;
  float seconds = 0;
  if (!load_model_frames(s, path, o.frame, set, seconds) || !scene::valid(set)) return;
  words[kMeshAnimationSet] = set.id;
  if (words[kMeshRangeStart] == 0 && words[kMeshRangeEnd] == 0)
    words[kMeshRangeEnd] = static_cast<std::int32_t>(std::clamp(std::lround(seconds * 1000.0f), 0L, long{INT32_MAX}));
}

// The background scene: an inside-out box round the camera wearing the image.
void build_background(Scene& s) {
  scene::Renderer& r = *s.renderer;
  for (auto& f : s.background_frame) f = scene::frame_create(r, s.root[kBackgroundRoot]);
  base::Text image = s.setup.background_image;
  // The default background: the working folder's, or the data folder's in a packaged game.
  if (image.empty() || !base::file_exists(project::resolve_path(image))) image = s.setup.work_folder + "bckgrnds/bkgr000_.bmp";
  if (!base::file_exists(image)) image = s.setup.data_folder + "bkgr000_.bmp";
  scene::Vertex box[36];
  float half = std::max(1.0f, static_cast<float>(s.clip_distance)) * 0.5f;
  scene::build_box(box, {half, half, half});
  for (int i = 0; i < 36; i += 3) std::swap(box[i + 1], box[i + 2]);  // seen from inside
  scene::FaceGroup g;
  g.vertex_count = 36;
  g.quality = scene::Quality::unlit_flat;
  g.texture = texture_of(s, image, false);
  g.material = scene::material_create(r, {});
  scene::Mesh mesh = scene::mesh_create(r, box, std::span(&g, 1));
  if (scene::valid(mesh)) scene::frame_add_mesh(r, s.background_frame[0], mesh);
}

// One model of the data folder as a mesh ("" on failure), lit, untextured.
scene::Mesh data_model(Scene& s, std::string_view name, std::uint32_t colour) {
  s.vertices.clear();
  if (!append_model(s, s.setup.data_folder + name, false)) return {};
  scene::FaceGroup g;
  g.vertex_count = static_cast<int>(s.vertices.size());
  g.material = scene::material_create(*s.renderer, {colour_of(colour)});
  return scene::mesh_create(*s.renderer, s.vertices, std::span(&g, 1));
}

// The hood models ride with the first camera (hood type 0 is no hood); the
// collision-volume markers are made when their display is on.
void build_hood_and_markers(World& w, Scene& s) {
  int type = s.setup.settings.hood_type;
  if (type >= 1 && type <= 4 && s.camera_count > 0) {
    int n = aspect_index(w, w.tables.elements[s.camera[0].element].current_aspect);
    scene::Frame hood = scene::frame_create(*s.renderer, s.aspect[n].frame);
    for (const char* part : {"a.x", "b.x"}) {
      base::Text name = "hood";
      name += base::text_of(type);
      name += part;
      scene::Mesh m = data_model(s, name, 0x808080);
      if (scene::valid(m)) scene::frame_add_mesh(*s.renderer, hood, m);
    }
  }
  if (s.setup.collision_volumes) {
    static constexpr const char* kMarkers[] = {"bndbox.x", "radius.x", "cross.x"};
    for (int k = 0; k < 3; ++k) s.marker[k] = data_model(s, kMarkers[k], 0x00FF00);
  }
}

// ---- Orientation --------------------------------------------------------------------------

Vec3 turned(Vec3 v, const ElementRecord& e) {
  if (e.flags & project::kFlagLocalRotation) orient(v, e.local_rotation[0], e.local_rotation[1], e.local_rotation[2]);
  orient(v, e.rotation[0], e.rotation[1], e.rotation[2]);
  return v;
}

scene::Quat angles_quat(const std::int32_t angle[3]) {
  // Signs as the table turns: +z goes towards -y for a positive x angle, towards
  // -x for a positive y angle (checked against the vector path by the tests).
  scene::Quat qx = scene::quat_from_axis_angle({1, 0, 0}, angle[0] * kAngleRadians);
  scene::Quat qy = scene::quat_from_axis_angle({0, 1, 0}, -(angle[1] * kAngleRadians));  // -INT_MIN has no int
  scene::Quat qz = scene::quat_from_axis_angle({0, 0, 1}, angle[2] * kAngleRadians);
  return scene::multiply(qy, scene::multiply(qz, qx));  // about X, then Z, then Y
}

}  // namespace

void show_background_image(Scene& s, const base::Text& path) {
  if (path == s.setup.background_image) return;
  for (auto& f : s.background_frame) scene::frame_destroy_with_meshes(*s.renderer, f);
  s.setup.background_image = path;
  build_background(s);
}

// ---- Exposed helpers ------------------------------------------------------------------------

std::string_view arena_text(const project::Tables& tables, std::int32_t reference) {
  if (reference <= 0 || static_cast<std::size_t>(reference) > tables.arena.size()) return {};
  const char* start = reinterpret_cast<const char*>(tables.arena.data()) + (reference - 1);
  std::size_t room = tables.arena.size() - static_cast<std::size_t>(reference - 1);
  const void* end = std::memchr(start, 0, std::min(room, base::kTextCapacity + std::size_t{1}));
  if (!end) return {};
  return {start, static_cast<std::size_t>(static_cast<const char*>(end) - start)};
}

scene::Quat rotation_quat(const ElementRecord& e) {
  scene::Quat q = angles_quat(e.rotation);
  if (e.flags & project::kFlagLocalRotation) q = scene::multiply(q, angles_quat(e.local_rotation));
  return q;
}

void orientation_vectors(const ElementRecord& e, scene::Vec3& direction, scene::Vec3& up) {
  Vec3 d = turned({0, 0, 65536}, e), u = turned({0, 65536, 0}, e);
  direction = {d.x / 65536.0f, d.y / 65536.0f, d.z / 65536.0f};
  up = {u.x / 65536.0f, u.y / 65536.0f, u.z / 65536.0f};
}

void camera_projection(int fov_percent, std::int32_t clip_distance, std::int32_t p, float& front, float& back,
                       float& field) {
  if (fov_percent < 1 || fov_percent > 100) fov_percent = 100;
  if (p >= 0) p = -240;  // a camera without a projection value sees 90 degrees
  front = fov_percent / 100.0f;
  back = static_cast<float>(clip_distance);
  field = front * 240.0f / static_cast<float>(-static_cast<double>(p));
}

void apply_fog(World& w) {
  Scene* s = w.scene;
  if (!s) return;
  std::int32_t a = w.render.fog_start / 512, b = w.render.fog_end / 512;
  float start = static_cast<float>(std::min(a, b)), end = static_cast<float>(std::max(a, b));
  s->background_colour = w.render.fog_colour;
  scene::Colour c = colour_of(w.render.fog_colour);
  for (int i = 0; i < kRoots; ++i) {
    bool on = s->fog_effect && i != kBackgroundRoot;
    scene::frame_set_fog(*s->renderer, s->root[i], on, start, end, c);
    scene::frame_set_background(*s->renderer, s->root[i], c);
  }
}

void place_viewports(World& w) {
  Scene& s = *w.scene;
  int mode = s.setup.options.display_mode;
  for (int k = 0; k < s.camera_count; ++k) {
    CameraView& v = s.camera[k];
    const ElementRecord& e = w.tables.elements[v.element];
    int x1 = project::scale_display(e.display_area[0], mode), y1 = project::scale_display(e.display_area[1], mode);
    int x2 = project::scale_display(e.display_area[2] + 1, mode), y2 = project::scale_display(e.display_area[3] + 1, mode);
    x1 = std::clamp(x1, 0, s.width), x2 = std::clamp(x2, 0, s.width);
    y1 = std::clamp(y1, 0, s.height), y2 = std::clamp(y2, 0, s.height);
    v.x = x1, v.y = y1, v.width = std::max(0, x2 - x1), v.height = std::max(0, y2 - y1);
    scene::viewport_set_rect(*s.renderer, v.viewport, v.x, v.y, std::max(1, v.width), std::max(1, v.height));
  }
}

bool aim_camera(World& w, const CameraView& v) {
  Scene& s = *w.scene;
  int n = aspect_index(w, w.tables.elements[v.element].current_aspect);
  if (n < 0 || n >= s.aspect_count || s.aspect[n].kind != AspectKind::camera) return false;
  float front, back, field;
  const std::int32_t* words = w.tables.aspects[n].word;
  camera_projection(s.field_of_view, s.clip_distance, words[0] < 0 ? words[0] : words[kCameraFileProjection], front,
                    back, field);
  if (v.fov_divisor != 0) field = front * 240.0f / static_cast<float>(v.fov_divisor);  // `camera_fov_set`
  scene::Renderer& r = *s.renderer;
  scene::viewport_set_camera(r, v.viewport, s.aspect[n].frame);
  scene::viewport_set_front(r, v.viewport, front);
  scene::viewport_set_back(r, v.viewport, back);
  scene::viewport_set_field(r, v.viewport, field);
  return true;
}

scene::Frame aspect_frame(const World& w, int n) {
  if (!w.scene || n < 0 || n >= w.scene->aspect_count) return {};
  return w.scene->aspect[n].frame;
}

scene::Viewport camera_viewport(const World& w, int i) {
  if (!w.scene) return {};
  for (int k = 0; k < w.scene->camera_count; ++k)
    if (w.scene->camera[k].element == i) return w.scene->camera[k].viewport;
  return {};
}

// ---- Scene start and end --------------------------------------------------------------------

bool scene_start(World& w, const project::AspectLoad& load, const SceneSetup& setup) {
  scene_end(w);
  if (!setup.renderer || !w.tables.aspects || !w.tables.elements) return false;
  auto owned = std::make_unique<Scene>();
  Scene& s = *owned;
  s.setup = setup;
  s.renderer = setup.renderer;
  s.draws = scene::has_gl(*s.renderer);
  scene::Renderer& r = *s.renderer;
  display_size_of(setup.options.display_mode, s.width, s.height);
  scene::resize(r, s.width, s.height);
  s.field_of_view = setup.settings.camera_fov < 1 || setup.settings.camera_fov > 100 ? 100 : setup.settings.camera_fov;
  s.clip_distance = setup.settings.clip_distance;
  const media::Palette& scheme = media::scheme_palette();
  for (int i = 0; i < 256; ++i)
    for (int k = 0; k < 3; ++k) s.palette[i * 3 + k] = scheme[i][k];

  // Device settings: dithering on, the configured filtering (refused levels become nearest).
  scene::set_dither(r, true);
  scene::set_texture_quality(r, setup.options.filtering);

  // The four roots with their sort modes, fog off, the background colour.
  static constexpr scene::SortMode kSorts[kRoots] = {scene::SortMode::front_to_back, scene::SortMode::front_to_back,
                                                     scene::SortMode::front_to_back, scene::SortMode::back_to_front};
  for (int i = 0; i < kRoots; ++i) {
    s.root[i] = scene::frame_create(r, {});
    scene::frame_set_sort_mode(r, s.root[i], kSorts[i]);
  }
  s.shared_animation = scene::animation_create(r);
  w.scene = owned.release();
  w.draw_picture = render_step;
  apply_fog(w);
  build_background(s);

  // Per-aspect objects.
  bool any_light = false;
  s.aspect_count = std::min(load.used, project::kMaxAspects);
  for (int n = 0; n < s.aspect_count; ++n) {
    const AspectRecord& a = w.tables.aspects[n];
    AspectObject& o = s.aspect[n];
    o.kind = kind_of_tag(a);
    if (o.kind == AspectKind::none) continue;
    o.frame = scene::frame_create(r, s.root[kMainRoot]);
    if (!scene::valid(o.frame)) {
      base::report("render", "scene full: %s", scene::last_error(r));
      break;
    }
    scene::frame_set_traversal(r, o.frame, 0);
    if (o.kind == AspectKind::visual && a.word[kVisualOverlay] == 1)
      scene::frame_set_parent(r, o.frame, s.root[kOverlayRoot]);
    if (o.kind == AspectKind::visual) build_visual(w, s, a, o);
    if (o.kind == AspectKind::shape) build_shape(w, s, a, o.frame);
    if (o.kind == AspectKind::decal) build_decal(s, a, o);
    if (o.kind == AspectKind::mesh) build_model(w, s, n, o);
    if (o.kind == AspectKind::light) {
      build_light(s, a, o);
      any_light = true;
    }
  }
  // A project without lights still shows its visuals: a soft light from above and behind the camera.
  if (!any_light) {
    scene::Frame f = scene::frame_create(r, s.root[kMainRoot]);
    scene::frame_set_orientation(r, f, {}, {0.3f, -0.8f, 0.5f}, {0, 0, 1});
    scene::LightDesc ambient{scene::LightKind::ambient, {0.35f, 0.35f, 0.35f}};
    scene::LightDesc sun{scene::LightKind::directional, {0.8f, 0.8f, 0.8f}};
    scene::frame_add_light(r, f, scene::light_create(r, ambient));
    scene::frame_add_light(r, f, scene::light_create(r, sun));
  }

  // Per-camera objects: a viewport for each camera element, in index order.
  for (int i = 0; i <= w.highest && i < project::kMaxElements; ++i) {
    int n = aspect_index(w, w.tables.elements[i].current_aspect);
    if (n < 0 || n >= s.aspect_count || s.aspect[n].kind != AspectKind::camera) continue;
    if (s.camera_count == kMaxCameraViews) {
      base::report("render", "cameras full: element %d gets no viewport", i);
      break;
    }
    CameraView& v = s.camera[s.camera_count];
    v.element = i;
    v.viewport = scene::viewport_create(r, s.aspect[n].frame, 0, 0, s.width, s.height);
    if (scene::valid(v.viewport)) ++s.camera_count;
  }
  place_viewports(w);
  build_hood_and_markers(w, s);
  layers_start(w);
  s.vertices = {};
  s.meshes = {};  // the textures stay known: models loaded while the project runs take them too
  return true;
}

void scene_end(World& w) {
  if (!w.scene) return;
  w.scene->shadows.full.flush();
  w.scene->shadows.copies_full.flush();
  w.scene->shadows.layers_full.flush();
  layers_end(*w.scene);
  reset_text_list(w.text);
  w.draw_picture = nullptr;
  scene::release_all(*w.scene->renderer);
  delete w.scene;
  w.scene = nullptr;
}

// ---- Synchronisation and the render step ------------------------------------------------------

void place_element_frame(Scene& s, const ElementRecord& e, AspectObject& o) {
  scene::Renderer& r = *s.renderer;
  bool scaled = o.kind == AspectKind::visual || o.kind == AspectKind::mesh;
  if (scaled && (e.scale_x != 1000 || e.scale_y != 1000 || e.scale_z != 1000)) {
    scene::animation_set_frame(r, s.shared_animation, o.frame);
    scene::animation_add_scale_key(r, s.shared_animation, 0, {e.scale_x / 1000.0f, e.scale_y / 1000.0f, e.scale_z / 1000.0f});
    scene::animation_add_rotation_key(r, s.shared_animation, 0, rotation_quat(e));
    scene::animation_set_time(r, s.shared_animation, 0);
  } else if (o.kind == AspectKind::decal) {
    if (scene::valid(o.decal)) scene::texture_set_decal_size(r, o.decal, e.scale_x / 1000.0f, e.scale_y / 1000.0f);
  } else {
    scene::Vec3 direction, up;
    orientation_vectors(e, direction, up);
    scene::frame_set_scale(r, o.frame, {1, 1, 1});
    scene::frame_set_orientation(r, o.frame, s.root[kMainRoot], direction, up);
  }
  scene::frame_set_position(r, o.frame, s.root[kMainRoot],
                            {e.position[0] / kPositionUnit, e.position[1] / kPositionUnit, e.position[2] / kPositionUnit});
}

void sync_scene(World& w) {
  Scene* sp = w.scene;
  if (!sp) return;
  Scene& s = *sp;
  scene::Renderer& r = *s.renderer;
  const ElementRecord* elements = w.tables.elements;
  int highest = std::min(w.highest, project::kMaxElements - 1);
  auto on_and_shown = [](const ElementRecord& e) {
    return (e.flags & (project::kFlagOn | project::kFlagShown)) == (project::kFlagOn | project::kFlagShown);
  };

  // 1: picture frames under the 3D picture.
  draw_under_layer(w);

  // 2: colour fills under the 3D picture: background elements, or each camera rectangle.
  if (s.draws) {
    for (int i = 0; i <= highest; ++i) {
      const ElementRecord& e = elements[i];
      const AspectRecord* a = aspect_at(e.current_aspect);
      if (!a || !on_and_shown(e) || project::tag_extension(*a) != ".g3d") continue;
      int index = a->word[kGroundColourWord] & 255;
      scene::Colour c{s.palette[index * 3] / 255.0f, s.palette[index * 3 + 1] / 255.0f, s.palette[index * 3 + 2] / 255.0f, 1};
      scene::fill_rect(r, e.display_area[0], e.display_area[1], e.display_area[2] + 1 - e.display_area[0],
                       e.display_area[3] + 1 - e.display_area[1], c);
    }
    if (s.background_style >= 2) {
      for (int k = 0; k < s.camera_count; ++k) {
        const CameraView& v = s.camera[k];
        if (on_and_shown(elements[v.element]))
          scene::fill_rect(r, v.x, v.y, v.width, v.height, colour_of(s.background_colour));
      }
    }
  }

  // 3: every scene frame off; 4: the frames of elements that are on and shown back on, placed.
  for (int n = 0; n < s.aspect_count; ++n)
    if (scene::valid(s.aspect[n].frame)) scene::frame_set_traversal(r, s.aspect[n].frame, 0);
  for (int i = 0; i <= highest; ++i) {
    const ElementRecord& e = elements[i];
    if (!on_and_shown(e)) continue;
    int n = aspect_index(w, e.current_aspect);
    if (n < 0 || n >= s.aspect_count || !scene::valid(s.aspect[n].frame)) continue;
    AspectObject& o = s.aspect[n];
    place_element_frame(s, e, o);
    scene::frame_set_traversal(r, o.frame, scene::kRenderEnable | scene::kPickEnable);

    // The animation clock of a mesh with an animation set (thousandths of a second).
    if (o.kind == AspectKind::mesh) {
      auto* clock = const_cast<std::int32_t*>(w.tables.aspects[n].word);
      if (clock[kMeshAnimationSet] >= 0 && clock[kMeshAnimationSet] < scene::kMaxAnimationSets) {
        scene::animation_set_time(r, scene::AnimationSet{clock[kMeshAnimationSet]}, clock[kMeshTime] / 1000.0f);
        std::int64_t t = static_cast<std::int64_t>(clock[kMeshTime]) + clock[kMeshSpeed];
        std::int64_t lo = std::min(clock[kMeshRangeStart], clock[kMeshRangeEnd]);
        std::int64_t hi = std::max(clock[kMeshRangeStart], clock[kMeshRangeEnd]);
        if (lo != hi && (t < lo || t > hi)) t = lo + ((t - lo) % (hi - lo) + (hi - lo)) % (hi - lo);
        clock[kMeshTime] = static_cast<std::int32_t>(std::clamp<std::int64_t>(t, INT32_MIN, INT32_MAX));
      }
    }
  }

  // 5: shadow layers follow their receivers; 6: the listener and the element sounds.
  sync_shadows(w);
  place_sounds(w);
  // 7: what brains did to model parts since the last picture.
  finish_part_edits(w);
  // 8: the pick under the pointer that the next brain pass reads.
  pick_for_tick(w);
}

void render_step(World& w) {
  Scene* sp = w.scene;
  if (!sp) return;
  Scene& s = *sp;
  scene::Renderer& r = *s.renderer;
  if (s.draws) scene::clear(r, {0, 0, 0, 1});
  advance_video(w, platform::timer());
  sync_scene(w);
  if (!s.draws) {
    platform::commit_sound();
    return;
  }
  const ElementRecord* elements = w.tables.elements;
  bool depth_clean = true;  // the whole target's depth was just cleared; colour fills leave it alone
  for (int k = 0; k < s.camera_count; ++k) {
    const CameraView& v = s.camera[k];
    const ElementRecord& e = elements[v.element];
    if ((e.flags & (project::kFlagOn | project::kFlagShown)) != (project::kFlagOn | project::kFlagShown)) continue;
    int n = aspect_index(w, e.current_aspect);
    if (!aim_camera(w, v)) continue;
    if (!depth_clean) scene::viewport_clear(r, v.viewport, scene::kClearDepth);
    depth_clean = false;
    if (s.background_style == 1) {
      scene::Vec3 at = scene::frame_position(r, s.aspect[n].frame, s.root[kMainRoot]);
      for (auto f : s.background_frame) scene::frame_set_position(r, f, s.root[kBackgroundRoot], at);
      scene::render(r, v.viewport, s.root[kBackgroundRoot]);
      scene::viewport_clear(r, v.viewport, scene::kClearDepth);  // the background stays behind everything
    }
    scene::render(r, v.viewport, s.root[kMainRoot]);
    if (!s.overlays_deferred) scene::render(r, v.viewport, s.root[kOverlayRoot]);
    render_shadows(w, v.viewport);
  }
  if (s.overlays_deferred)
    for (int k = 0; k < s.camera_count; ++k) scene::render(r, s.camera[k].viewport, s.root[kOverlayRoot]);
  draw_over_layer(w);  // 5: images, counters and the text list
  if (const RunOptions& o = s.setup.options; o.screen)
    scene::draw_screen(r, o.screen, o.screen_width, o.screen_height, o.screen_width, s.palette, true);
  scene::present(r);
  platform::commit_sound();  // the sound's deferred settings go with the picture
  s.drawn = true;
}

}  // namespace engine
