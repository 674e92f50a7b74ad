// The brain routines below the element level: the part path; a part mesh's
// vertices, normals and texture coordinates; its look (shown or not, material,
// depth buffering, sort modes); the queues a drawn frame works through; and
// extra model objects (copies of ".x3d" models, models loaded by name, handles
// on frames of elements' models) with their placement, orientation and picking.
//
// Every routine resolves its element or handle first and does nothing for an
// unknown handle, an element that is off, a missing part or an index outside
// the mesh (0, or -1 for the four whole-mesh array routines). A mesh that
// other frames show too (one model on several elements) is copied before its
// first edit, so that the edit shows on this part only.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/log.h"
#include "engine/engine_local.h"
#include "engine/render/parts.h"
#include "engine/render/render_local.h"
#include "platform/platform.h"

namespace engine {

namespace {

using I = std::int32_t;
using scene::Vertex;

constexpr double kPositionUnit = 512000.0;      // sub-units per scene unit
constexpr double kUvUnit = 10000.0;             // texture coordinates in ten-thousandths
constexpr double kAngleRadians = 3.408846e-05;  // one 1/512 degree
constexpr I kFullTurn = 184320;

I to_units(double v, double unit) {
  double scaled = v * unit;
  if (!std::isfinite(scaled)) return 0;
  return static_cast<I>(std::llround(std::clamp(scaled, -2147483648.0, 2147483647.0)));
}
float from_units(I v, double unit) { return static_cast<float>(v / unit); }
scene::Vec3 position_of(I x, I y, I z) {
  return {from_units(x, kPositionUnit), from_units(y, kPositionUnit), from_units(z, kPositionUnit)};
}
float component(scene::Vec3 v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

// ---- Parts ---------------------------------------------------------------------------------------

// The part a mesh routine works on, found with the current part path; the
// part's normal count is kept for `normals`.
bool part_of(I reference, Scene*& s, Part& part) {
  World* w = active_world();
  s = w ? w->scene : nullptr;
  if (!s || !resolve_part(*w, reference, s->parts.part, part)) return false;
  s->parts.normals_count = scene::mesh_vertex_count(*s->renderer, part.mesh);
  return true;
}

// The part frame alone, for the routines that change the frame rather than its mesh.
scene::Frame part_frame_of(I reference, Scene*& s) {
  World* w = active_world();
  s = w ? w->scene : nullptr;
  return s ? resolve_part_frame(*w, reference, s->parts.part) : scene::Frame{};
}

// The part mesh's vertices for writing. A mesh that other frames hold too is
// copied first and the copy put on the part frame in its place.
std::span<Vertex> edit_vertices(Scene& s, Part& part) {
  scene::Renderer& r = *s.renderer;
  if (scene::mesh_frame_count(r, part.mesh) > 1) {
    scene::Mesh copy = scene::mesh_copy(r, part.mesh);
    if (!scene::valid(copy) || !scene::frame_replace_mesh(r, part.frame, part.mesh, copy)) {
      scene::mesh_destroy(r, copy);
      base::report("render", "no room for an own copy of an edited mesh: %s", scene::last_error(r));
      return {};
    }
    part.mesh = copy;
    note_mesh_edited(s.parts, copy);  // a new mesh may take the id of a destroyed one
  }
  return scene::mesh_edit_vertices(r, part.mesh);
}

// Vertices first .. first + count - 1 of mesh were rewritten: uploaded before
// the next picture. moved: positions changed (kept collision trees refit).
void mark_edited(MeshParts& p, scene::Mesh mesh, int first, int count, bool moved) {
  if (mesh.id < 0 || mesh.id >= scene::kMaxMeshes || count <= 0) return;
  EditedRange& range = p.edited[mesh.id];
  if (range.first == range.end) {
    range = {first, first + count};
    p.edited_list[p.edited_count++] = static_cast<std::int16_t>(mesh.id);
  } else {
    range.first = std::min(range.first, first);
    range.end = std::max(range.end, first + count);
  }
  if (moved) note_mesh_edited(p, mesh);
}

// ---- Part path and counts ------------------------------------------------------------------------

ROUTINE(routine_h_part_set) {
  if (Scene* s = active_scene()) s->parts.part = PartPath{{a, b, c, d}, e};
  return 0;
}

ROUTINE(routine_vertices) {
  Scene* s;
  Part p;
  return part_of(a, s, p) ? scene::mesh_vertex_count(*s->renderer, p.mesh) : 0;
}

// `normals` takes no arguments: the part that the last mesh routine found.
ROUTINE(routine_normals) {
  Scene* s = active_scene();
  return s ? s->parts.normals_count : 0;
}

// ---- Vertices ------------------------------------------------------------------------------------

// `vertex_pos` (e, i, axis): axis 0..2 in the part frame, 3..5 in the scene.
ROUTINE(routine_vertex_pos) {
  Scene* s;
  Part p;
  if (!part_of(a, s, p) || c < 0 || c > 5) return 0;
  std::span<const Vertex> v = scene::mesh_vertices(*s->renderer, p.mesh);
  if (b < 0 || static_cast<std::size_t>(b) >= v.size()) return 0;
  scene::Vec3 at = v[static_cast<std::size_t>(b)].position;
  if (c >= 3) at = scene::transform_point(scene::frame_world(*s->renderer, p.frame), at);
  return to_units(component(at, c % 3), kPositionUnit);
}

enum class Move { set, set_in_scene, add };

// `vertex_pos_set`, `vertex_posw_set`, `vertex_pos_add` (e, i, x, y, z).
template <Move kMove>
ROUTINE(routine_vertex_move) {
  Scene* s;
  Part p;
  if (!part_of(a, s, p) || b < 0 || b >= scene::mesh_vertex_count(*s->renderer, p.mesh)) return 0;
  std::span<Vertex> v = edit_vertices(*s, p);
  if (v.empty()) return 0;
  scene::Vec3 q = position_of(c, d, e);
  scene::Vec3& at = v[static_cast<std::size_t>(b)].position;
  if constexpr (kMove == Move::set) at = q;
  if constexpr (kMove == Move::set_in_scene)
    at = scene::transform_point(scene::affine_inverse(scene::frame_world(*s->renderer, p.frame)), q);
  if constexpr (kMove == Move::add) at = scene::add(at, q);
  mark_edited(s->parts, p.mesh, b, 1, true);
  return 0;
}

template <bool kV>
ROUTINE(routine_vertex_uv) {
  Scene* s;
  Part p;
  if (!part_of(a, s, p)) return 0;
  std::span<const Vertex> v = scene::mesh_vertices(*s->renderer, p.mesh);
  if (b < 0 || static_cast<std::size_t>(b) >= v.size()) return 0;
  const Vertex& at = v[static_cast<std::size_t>(b)];
  return to_units(kV ? at.v : at.u, kUvUnit);
}

ROUTINE(routine_vertex_uv_set) {
  Scene* s;
  Part p;
  if (!part_of(a, s, p) || b < 0 || b >= scene::mesh_vertex_count(*s->renderer, p.mesh)) return 0;
  std::span<Vertex> v = edit_vertices(*s, p);
  if (v.empty()) return 0;
  v[static_cast<std::size_t>(b)].u = from_units(c, kUvUnit);
  v[static_cast<std::size_t>(b)].v = from_units(d, kUvUnit);
  mark_edited(s->parts, p.mesh, b, 1, false);
  return 0;
}

// `vertex_uv_add` (e, first, last, du, dv): both ends held inside the mesh, a
// first beyond last moved down to last.
ROUTINE(routine_vertex_uv_add) {
  Scene* s;
  Part p;
  if (!part_of(a, s, p)) return 0;
  int n = scene::mesh_vertex_count(*s->renderer, p.mesh);
  if (n <= 0) return 0;
  int last = std::clamp(c, 0, n - 1);
  int first = std::min(std::clamp(b, 0, n - 1), last);
  std::span<Vertex> v = edit_vertices(*s, p);
  if (v.empty()) return 0;
  float du = from_units(d, kUvUnit), dv = from_units(e, kUvUnit);
  for (int i = first; i <= last; ++i) {
    v[static_cast<std::size_t>(i)].u += du;
    v[static_cast<std::size_t>(i)].v += dv;
  }
  mark_edited(s->parts, p.mesh, first, last - first + 1, false);
  return 0;
}

// ---- Whole meshes through brain arrays -------------------------------------------------------------

// The cells offset .. offset + 3n - 1 of a brain array, or empty when the
// array has no such cells (a bad handle, a negative offset, too short).
std::span<std::byte> array_cells(World& w, I handle, I offset, std::size_t vertices) {
  std::span<std::byte> block = handle_block(w, handle);
  std::uint64_t cells = block.size() / 4, need = 3 * static_cast<std::uint64_t>(vertices);
  if (offset < 0 || static_cast<std::uint64_t>(offset) + need > cells) return {};
  return block.subspan(static_cast<std::size_t>(offset) * 4, static_cast<std::size_t>(need) * 4);
}

// `vertices_get`, `normals_get` (e, array, offset): x, y, z of every vertex
// (or normal) x 512000 into the array from cell offset on. The vertex count,
// or -1 (nothing written) when there is no part or the array is too short.
template <scene::Vec3 Vertex::*kField>
ROUTINE(routine_get_all) {
  World* w = active_world();
  Scene* s;
  Part p;
  if (!w || !part_of(a, s, p)) return -1;
  std::span<const Vertex> v = scene::mesh_vertices(*s->renderer, p.mesh);
  std::span<std::byte> out = array_cells(*w, b, c, v.size());
  if (out.empty() || !brain::charge_budget(static_cast<std::int64_t>(out.size()) / kBytesPerBudgetUnit)) return -1;
  std::byte* at = out.data();
  for (const Vertex& vertex : v) {
    const scene::Vec3& q = vertex.*kField;
    const I xyz[3] = {to_units(q.x, kPositionUnit), to_units(q.y, kPositionUnit), to_units(q.z, kPositionUnit)};
    std::memcpy(at, xyz, sizeof xyz);
    at += sizeof xyz;
  }
  return static_cast<I>(v.size());
}

// `vertices_set`, `normals_set` (e, array, offset): the reverse.
template <scene::Vec3 Vertex::*kField, bool kMoves>
ROUTINE(routine_set_all) {
  World* w = active_world();
  Scene* s;
  Part p;
  if (!w || !part_of(a, s, p)) return -1;
  std::size_t n = static_cast<std::size_t>(scene::mesh_vertex_count(*s->renderer, p.mesh));
  std::span<std::byte> in = array_cells(*w, b, c, n);
  if (in.empty() || !brain::charge_budget(static_cast<std::int64_t>(in.size()) / kBytesPerBudgetUnit)) return -1;
  std::span<Vertex> v = edit_vertices(*s, p);
  if (v.size() != n) return -1;
  const std::byte* at = in.data();
  for (Vertex& vertex : v) {
    I xyz[3];
    std::memcpy(xyz, at, sizeof xyz);
    at += sizeof xyz;
    vertex.*kField = position_of(xyz[0], xyz[1], xyz[2]);
  }
  mark_edited(s->parts, p.mesh, 0, static_cast<int>(n), kMoves);
  return static_cast<I>(n);
}

ROUTINE(routine_normals_optimize) {
  Scene* s;
  Part p;
  if (!part_of(a, s, p)) return 0;
  std::int64_t bytes = std::int64_t{scene::mesh_vertex_count(*s->renderer, p.mesh)} * std::int64_t{sizeof(Vertex)};
  if (!brain::charge_budget(bytes / kBytesPerBudgetUnit)) return 0;
  if (!edit_vertices(*s, p).empty()) scene::mesh_recompute_normals(*s->renderer, p.mesh);  // uploads it whole
  return 0;
}

// The same triangles in fewer draw calls: the picture of every frame holding it is unchanged.
ROUTINE(routine_rendering_optimize) {
  Scene* s;
  Part p;
  if (part_of(a, s, p)) scene::mesh_optimize(*s->renderer, p.mesh);
  return 0;
}

// ---- Queues of the next drawn frame --------------------------------------------------------------

ROUTINE(routine_env_map_update) {
  Scene* s;
  Part p;
  if (!part_of(a, s, p)) return 0;
  MeshParts& parts = s->parts;
  for (int k = 0; k < parts.env_count; ++k)
    if (parts.env_queue[k].frame.id == p.frame.id && parts.env_queue[k].mesh.id == p.mesh.id) return 0;
  if (parts.env_count < kMaxQueuedParts) parts.env_queue[parts.env_count++] = p;
  return 0;
}

ROUTINE(routine_make_flat) {
  World* w = active_world();
  Scene* s = active_scene();
  scene::Frame frame;
  bool part_frame;
  if (!w || !s || !part_start(*w, a, frame, part_frame)) return 0;
  MeshParts& parts = s->parts;
  for (int k = 0; k < parts.flat_count; ++k)
    if (parts.flat_queue[k] == a) return 0;
  if (parts.flat_count < kMaxQueuedParts) parts.flat_queue[parts.flat_count++] = a;
  return 0;
}

// The camera that reflections and faces turn to: the first camera element that is on and shown.
scene::Frame first_camera(const World& w) {
  const Scene& s = *w.scene;
  for (int k = 0; k < s.camera_count; ++k) {
    const project::ElementRecord& e = w.tables.elements[s.camera[k].element];
    if ((e.flags & (project::kFlagOn | project::kFlagShown)) != (project::kFlagOn | project::kFlagShown)) continue;
    int n = aspect_index(w, e.current_aspect);
    if (n >= 0 && n < s.aspect_count && s.aspect[n].kind == AspectKind::camera) return s.aspect[n].frame;
  }
  return {};
}

// The environment map of a part: each vertex's texture coordinates from its
// normal as the camera sees it (u = 0.5 + x / 2, v = 0.5 - y / 2), so that a
// texture wraps the part like a reflection of what lies round the camera and
// slides over it as the part or the camera turns.
void map_environment(Scene& s, Part p, scene::Quat camera) {
  scene::Renderer& r = *s.renderer;
  // The part may have had its own copy made since it was queued.
  scene::Mesh held[scene::kMaxGroupsPerMesh];
  int count = std::min(scene::frame_meshes(r, p.frame, held), scene::kMaxGroupsPerMesh);
  if (std::find_if(held, held + count, [&](scene::Mesh m) { return m.id == p.mesh.id; }) == held + count) return;
  std::span<Vertex> v = edit_vertices(s, p);
  if (v.empty()) return;
  scene::Mat4 world = scene::frame_world(r, p.frame);
  scene::Quat to_camera = scene::conjugate(camera);
  for (Vertex& vertex : v) {
    scene::Vec3 n = scene::rotate(to_camera, scene::normalise(scene::transform_direction(world, vertex.normal)));
    vertex.u = 0.5f + 0.5f * n.x;
    vertex.v = 0.5f - 0.5f * n.y;
  }
  mark_edited(s.parts, p.mesh, 0, static_cast<int>(v.size()), false);
}

}  // namespace

void finish_part_edits(World& w) {
  Scene* sp = w.scene;
  if (!sp) return;
  Scene& s = *sp;
  MeshParts& p = s.parts;
  scene::Renderer& r = *s.renderer;
  scene::Frame camera = first_camera(w);
  if (scene::valid(camera)) {
    scene::Quat turn = scene::frame_rotation(r, camera, s.root[kMainRoot]);
    for (int k = 0; k < p.flat_count; ++k) {
      scene::Frame frame;
      bool part_frame;
      // Turned like the camera, the element's front (its -z side) faces it.
      if (part_start(w, p.flat_queue[k], frame, part_frame))
        scene::frame_set_rotation(r, frame, s.root[kMainRoot], turn);
    }
    for (int k = 0; k < p.env_count; ++k) map_environment(s, p.env_queue[k], turn);
  }
  p.flat_count = p.env_count = 0;
  for (int k = 0; k < p.edited_count; ++k) {
    EditedRange& range = p.edited[p.edited_list[k]];
    scene::mesh_upload_vertices(r, scene::Mesh{p.edited_list[k]}, range.first, range.end - range.first);
    range = {};
  }
  p.edited_count = 0;
}

namespace {

// ---- The look of a part ------------------------------------------------------------------------

ROUTINE(routine_h_part_show) {
  Scene* s;
  scene::Frame frame = part_frame_of(a, s);
  if (!scene::valid(frame)) return 0;
  std::uint32_t options = scene::frame_traversal(*s->renderer, frame) & ~scene::kRenderEnable;
  scene::frame_set_traversal(*s->renderer, frame, options | (b != 0 ? scene::kRenderEnable : 0));
  return 0;
}

// `material_set` (k, a, b, c, d): part k of the template, 0 diffuse, 1 ambient,
// 2 emissive, 3 specular (red, green, blue, alpha / 1000); 4 the power (a / 1000).
ROUTINE(routine_material_set) {
  Scene* s = active_scene();
  if (!s) return 0;
  ShadowMaterial& m = s->parts.material_template;
  if (a >= 0 && a <= 3) {
    const I values[4] = {b, c, d, e};
    for (int i = 0; i < 4; ++i) m.part[a][i] = static_cast<float>(values[i]) / 1000.0f;
  } else if (a == 4) {
    m.power = static_cast<float>(b) / 1000.0f;
  }
  return 0;
}

// The part frame's material override becomes the template as it is now (one
// material per frame, changed in place by later applies). The renderer's
// colour is both diffuse and ambient reflectance: the template's ambient part
// has no effect of its own.
ROUTINE(routine_material_apply) {
  Scene* s;
  scene::Frame frame = part_frame_of(a, s);
  if (!scene::valid(frame)) return 0;
  const ShadowMaterial& m = s->parts.material_template;
  scene::MaterialDesc desc;
  desc.colour = {m.part[0][0], m.part[0][1], m.part[0][2], m.part[0][3]};
  desc.emissive = {m.part[2][0], m.part[2][1], m.part[2][2]};
  desc.specular = {m.part[3][0], m.part[3][1], m.part[3][2]};
  desc.power = m.power;
  scene::Renderer& r = *s->renderer;
  scene::Material& own = s->parts.applied_material[frame.id];
  if (scene::valid(own)) {
    scene::material_set(r, own, desc);
  } else {
    own = scene::material_create(r, desc);
  }
  if (scene::valid(own)) scene::frame_set_material_override(r, frame, own);
  return 0;
}

// `visual_color_set` (e, r, g, b) and `visual_rgba_set` (e, r, g, b, alpha):
// the part frame's own material becomes a plain colour (0..255 each), with
// no emission or highlight; the template of `material_set` stays as it was.
void visual_colour(I reference, I red, I green, I blue, I alpha) {
  Scene* s;
  scene::Frame frame = part_frame_of(reference, s);
  if (!scene::valid(frame)) return;
  auto unit = [](I v) { return static_cast<float>(std::clamp(v, 0, 255)) / 255.0f; };
  scene::MaterialDesc desc;
  desc.colour = {unit(red), unit(green), unit(blue), unit(alpha)};
  scene::Renderer& r = *s->renderer;
  scene::Material& own = s->parts.applied_material[frame.id];
  if (scene::valid(own)) {
    scene::material_set(r, own, desc);
  } else {
    own = scene::material_create(r, desc);
  }
  if (scene::valid(own)) scene::frame_set_material_override(r, frame, own);
}
ROUTINE(routine_visual_color_set) {
  visual_colour(a, b, c, d, 255);
  return 0;
}
ROUTINE(routine_visual_rgba_set) {
  visual_colour(a, b, c, d, e);
  return 0;
}

// `zbuffer_mode_set` (e, m): depth buffering of the part frame off; m = 1 puts it back on.
ROUTINE(routine_zbuffer_mode_set) {
  Scene* s;
  scene::Frame frame = part_frame_of(a, s);
  if (scene::valid(frame)) scene::frame_set_zbuffer(*s->renderer, frame, b == 1);
  return 0;
}

constexpr scene::SortMode kSortModes[4] = {scene::SortMode::none, scene::SortMode::front_to_back,
                                           scene::SortMode::back_to_front, scene::SortMode::none};

// `h_sort_mode_set` (e, m): kept on the element's (or object's) own frame.
// Pictures are ordered by the scene-wide mode (`sort_mode_set`).
ROUTINE(routine_h_sort_mode_set) {
  World* w = active_world();
  scene::Frame frame;
  bool part_frame;
  if (!w || b < 0 || b > 3 || !part_start(*w, a, frame, part_frame)) return 0;
  scene::frame_set_sort_mode(*w->scene->renderer, frame, kSortModes[b]);
  return 0;
}

ROUTINE(routine_sort_mode_set) {
  Scene* s = active_scene();
  if (!s || a < 1 || a > 3) return 0;
  for (Root root : {kMainRoot, kShadowRoot}) scene::frame_set_sort_mode(*s->renderer, s->root[root], kSortModes[a]);
  return 0;
}

ROUTINE(routine_poly_sort_mode_set) {
  if (Scene* s = active_scene()) scene::set_sorted_transparency(*s->renderer, a != 0);
  return 0;
}

ROUTINE(routine_antialias_set) {
  if (Scene* s = active_scene()) s->parts.antialias = a != 0;
  return 0;
}

// ---- Extra model objects --------------------------------------------------------------------------

I handle_of(int slot) { return static_cast<I>(static_cast<std::uint32_t>(slot) | kExtraBit); }

// The frame an object is made under or placed relative to: the main scene for
// 0, else that extra object's frame (invalid for anything else).
scene::Frame reference_frame(Scene& s, I reference) {
  if (reference == 0) return s.root[kMainRoot];
  ExtraObject* x = extra_object(s.parts, reference);
  return x ? x->frame : scene::Frame{};
}

bool inside(const scene::Renderer& r, scene::Frame frame, scene::Frame ancestor) {
  for (; scene::valid(frame); frame = scene::frame_parent(r, frame))
    if (frame.id == ancestor.id) return true;
  return false;
}

// A new owned object holding the model of path, under parent: its handle, 0
// when the parent is unknown, the table is full or the model can't be had.
I load_object(Scene& s, I parent, std::string_view path) {
  scene::Frame under = reference_frame(s, parent);
  if (!scene::valid(under) || path.empty()) return 0;
  int slot = take_extra_slot(s.parts);
  if (slot < 0) {
    base::report("render", "extra model objects full (%d)", kMaxExtraObjects);
    return 0;
  }
  scene::Renderer& r = *s.renderer;
  scene::Frame frame = scene::frame_create(r, under);
  scene::AnimationSet set;
  if (!scene::valid(frame) || !load_model_frames(s, path, frame, set)) {
    scene::frame_destroy(r, frame);
    free_extra_slot(s.parts, slot);
    return 0;
  }
  if (scene::valid(set)) scene::animation_set_time(r, set, 0);  // its first pose
  ExtraObject& x = s.parts.extra[slot];
  x.frame = frame;
  x.owned = true;
  x.animation = set;
  return handle_of(slot);
}

// `x_clone` (parent, e): the model file of ".x3d" element e's current aspect, loaded again.
ROUTINE(routine_x_clone) {
  World* w = active_world();
  const project::ElementRecord* r = element_of(b);
  if (!w || !w->scene || !r || !has_tag(*r, ".x3d")) return 0;
  const project::AspectRecord* aspect = aspect_at(r->current_aspect);
  if (!aspect || !brain::charge_budget(kFileCost)) return 0;
  return load_object(*w->scene, a, arena_text(w->tables, aspect->word[project::kMeshFileWord]));
}

// `x_load` (parent, file): a model named by the brain, inside the game's folders.
ROUTINE(routine_x_load) {
  World* w = active_world();
  if (!w || !w->scene || !scene::valid(reference_frame(*w->scene, a))) return 0;
  base::Text path = brain_file(*w, text_argument(b));
  return path.empty() ? 0 : load_object(*w->scene, a, path.view());
}

// Notes every mesh of a tree as edited, so that no kept collision tree is
// taken for a later mesh of the same id.
void note_tree_meshes(Scene& s, scene::Frame tree) {
  walk_subtree_meshes(*s.renderer, s.parts.poly, tree, [&](scene::Frame, std::span<const scene::Mesh> meshes) {
    for (scene::Mesh mesh : meshes) note_mesh_edited(s.parts, mesh);
    return true;
  });
}

// `x_kill` (h): an owned object goes with its frame tree, the objects made
// under it and the handles on its frames; its meshes that nothing else shows
// are freed. Borrowed handles and handles already killed are refused.
ROUTINE(routine_x_kill) {
  Scene* s = active_scene();
  if (!s) return 0;
  MeshParts& p = s->parts;
  ExtraObject* x = extra_object(p, a);
  if (!x || !x->owned) return 0;
  scene::Renderer& r = *s->renderer;
  scene::Frame tree = x->frame;
  int slot = static_cast<int>(x - p.extra);
  for (int k = 0; k <= p.extra_highest; ++k) {
    ExtraObject& other = p.extra[k];
    if (!other.used || k == slot || !inside(r, other.frame, tree)) continue;
    if (other.owned) scene::animation_set_destroy(r, other.animation);
    free_extra_slot(p, k);
  }
  int kept = 0;
  for (int k = 0; k < p.env_count; ++k)
    if (!inside(r, p.env_queue[k].frame, tree)) p.env_queue[kept++] = p.env_queue[k];
  p.env_count = kept;
  scene::animation_set_destroy(r, x->animation);
  note_tree_meshes(*s, tree);  // their ids may come back on other meshes
  scene::frame_destroy_with_meshes(r, tree);
  free_extra_slot(p, slot);
  return 0;
}

// `x_element_get` (e, a, b): a handle, without ownership, on the frame that
// the current part path finds from e with its second and third levels
// replaced by a and b. Asking again for the same frame gives the same handle.
ROUTINE(routine_x_element_get) {
  World* w = active_world();
  Scene* s = active_scene();
  if (!w || !s) return 0;
  MeshParts& p = s->parts;
  PartPath path = p.part;
  path.level[1] = b;
  path.level[2] = c;
  path.visual = 0;
  scene::Frame frame = resolve_part_frame(*w, a, path);
  if (!scene::valid(frame)) return 0;
  for (int k = 0; k <= p.extra_highest; ++k)
    if (p.extra[k].used && !p.extra[k].owned && p.extra[k].frame.id == frame.id) return handle_of(k);
  int slot = take_extra_slot(p);
  if (slot < 0) {
    base::report("render", "extra model objects full (%d)", kMaxExtraObjects);
    return 0;
  }
  p.extra[slot].frame = frame;
  return handle_of(slot);
}

// ---- Placement ------------------------------------------------------------------------------------

// `position_set` (h, x, y, z): an object's position relative to its parent;
// an element's position fields.
ROUTINE(routine_position_set) {
  Scene* s = active_scene();
  if (ExtraObject* x = s ? extra_object(s->parts, a) : nullptr) {
    scene::frame_set_position(*s->renderer, x->frame, {}, position_of(b, c, d));
  } else if (project::ElementRecord* r = element_of(a)) {
    r->position[0] = b, r->position[1] = c, r->position[2] = d;
  }
  return 0;
}

// The frame of an object or of an element that is on, and the frame of the
// reference (0: the main scene); false when either is unknown.
bool frames_of(I object, I reference, Scene*& s, scene::Frame& frame, scene::Frame& relative) {
  World* w = active_world();
  s = w ? w->scene : nullptr;
  bool part_frame;
  if (!s || !part_start(*w, object, frame, part_frame)) return false;
  relative = reference_frame(*s, reference);
  return scene::valid(relative);
}

// `position` (h, ref, axis): as the scene was last placed (elements move
// their frames when a picture is drawn).
ROUTINE(routine_position) {
  Scene* s;
  scene::Frame frame, relative;
  if (c < 0 || c > 2 || !frames_of(a, b, s, frame, relative)) return 0;
  return to_units(component(scene::frame_position(*s->renderer, frame, relative), c), kPositionUnit);
}

// `rotation_axis_set` (x, y, z, a): the pending rotation becomes a turn by a
// about the axis; `rotation_axis_add`: pending x that turn (the turn applied
// first). A zero axis is ignored.
template <bool kAdd>
ROUTINE(routine_rotation_axis) {
  Scene* s = active_scene();
  if (!s || (a == 0 && b == 0 && c == 0)) return 0;
  scene::Quat turn = scene::quat_from_axis_angle(position_of(a, b, c), static_cast<float>(d * kAngleRadians));
  scene::Quat& pending = s->parts.pending_rotation;
  pending = kAdd ? scene::normalise(scene::multiply(pending, turn)) : turn;
  return 0;
}

I normalised_angle(double radians) {
  I angle = static_cast<I>(std::llround(radians / kAngleRadians)) % kFullTurn;
  return angle < 0 ? angle + kFullTurn : angle;
}

// `orientation_set` (h): an object's orientation relative to its parent
// becomes the pending rotation; an element's rotation angles are set so that
// it is turned by the pending rotation (about X, then Z, then Y).
ROUTINE(routine_orientation_set) {
  Scene* s = active_scene();
  if (!s) return 0;
  scene::Quat q = s->parts.pending_rotation;
  if (ExtraObject* x = extra_object(s->parts, a)) {
    scene::frame_set_rotation(*s->renderer, x->frame, {}, q);
    return 0;
  }
  project::ElementRecord* r = element_of(a);
  if (!r) return 0;
  // The element turns by Ry(-ry) Rz(rz) Rx(rx) (see rotation_quat); m[column * 4 + row].
  const scene::Mat4 m = scene::rotation(q);
  auto at = [&m](int row, int column) { return static_cast<double>(m.m[column * 4 + row]); };
  double z = std::asin(std::clamp(at(1, 0), -1.0, 1.0)), x, y;
  if (std::cos(z) > 1e-6) {
    x = std::atan2(-at(1, 2), at(1, 1));
    y = std::atan2(-at(2, 0), at(0, 0));
  } else {  // turned straight up or down: x and y turn about the same axis
    x = 0;
    y = std::atan2(at(0, 2), at(2, 2));
  }
  r->rotation[0] = normalised_angle(x);
  r->rotation[1] = normalised_angle(-y);
  r->rotation[2] = normalised_angle(z);
  return 0;
}

// `rotation_angle` (h, ref): the angle (0..92160) of the object's orientation
// relative to ref (0: the scene); its axis is kept for `rotation_axis`.
ROUTINE(routine_rotation_angle) {
  Scene* s;
  scene::Frame frame, relative;
  if (!frames_of(a, b, s, frame, relative)) return 0;
  scene::Quat q = scene::normalise(scene::frame_rotation(*s->renderer, frame, relative));
  if (q.w < 0) q = {-q.x, -q.y, -q.z, -q.w};
  double half = std::acos(std::clamp(static_cast<double>(q.w), -1.0, 1.0));
  double sine = std::sin(half);
  s->parts.last_axis = sine > 1e-6 ? scene::Vec3{static_cast<float>(q.x / sine), static_cast<float>(q.y / sine),
                                                 static_cast<float>(q.z / sine)}
                                   : scene::Vec3{};
  return normalised_angle(2 * half);
}

// `rotation_axis` (c): component c of the last `rotation_angle`'s axis x 512000 ((0, 0, 0) for no turn).
ROUTINE(routine_rotation_axis_component) {
  Scene* s = active_scene();
  return s && a >= 0 && a <= 2 ? to_units(component(s->parts.last_axis, a), kPositionUnit) : 0;
}

// `local_axis` (e, axis, c): component c of the element's axis (0 x, 1 y, 2 z)
// of length 512000, turned by its rotation with the table (X, then Z, then Y).
ROUTINE(routine_local_axis) {
  project::ElementRecord* r = element_of(a);
  if (!r || b < 0 || b > 2 || c < 0 || c > 2) return 0;
  Vec3 v;
  (b == 0 ? v.x : b == 1 ? v.y : v.z) = 512000;
  orient(v, r->rotation[0], r->rotation[1], r->rotation[2]);
  return c == 0 ? v.x : c == 1 ? v.y : v.z;
}

// ---- Picking --------------------------------------------------------------------------------------

// The camera view of a camera element, or null.
const CameraView* view_of(const Scene& s, int element) {
  for (int k = 0; k < s.camera_count; ++k)
    if (s.camera[k].element == element) return &s.camera[k];
  return nullptr;
}

// The camera element of a reference, aimed, with its view; null when it is none.
const CameraView* aimed_camera(World& w, std::int32_t reference) {
  const project::ElementRecord* camera = element_of(reference);
  if (!camera || !w.scene) return nullptr;
  const CameraView* view = view_of(*w.scene, static_cast<int>(camera - w.tables.elements));
  return view && aim_camera(w, *view) ? view : nullptr;
}

}  // namespace

bool pointer_pixel(const World& w, int& x, int& y) {
  if (!w.scene || !w.input) return false;
  const Scene& s = *w.scene;
  // The mouse is in 2D screen pixels; the picture may be larger.
  x = w.input->mouse_x, y = w.input->mouse_y;
  const RunOptions& o = s.setup.options;
  if (o.screen_width > 0 && o.screen_height > 0) x = x * s.width / o.screen_width, y = y * s.height / o.screen_height;
  return true;
}

std::int32_t owner_of_frame(const World& w, scene::Frame frame) {
  const Scene& s = *w.scene;
  scene::Renderer& r = *s.renderer;
  for (scene::Frame f = frame; scene::valid(f); f = scene::frame_parent(r, f)) {
    for (int k = 0; k <= s.parts.extra_highest; ++k)
      if (s.parts.extra[k].used && s.parts.extra[k].frame.id == f.id) return handle_of(k);
    for (int i = 0; i <= w.highest && i < project::kMaxElements; ++i) {
      const project::ElementRecord& e = w.tables.elements[i];
      int n = aspect_index(w, e.current_aspect);
      if ((e.flags & project::kFlagOn) && n >= 0 && n < s.aspect_count && s.aspect[n].frame.id == f.id)
        return static_cast<I>(base::address32(&e));
    }
  }
  return 0;
}

void pick_for_tick(World& w) {
  Scene* sp = w.scene;
  if (!sp || !w.program || !w.program->picking) return;
  Scene& s = *sp;
  MeshParts::TickPick& p = s.parts.tick_pick;
  if (p.tick == w.ticks) return;  // a second picture in one tick sees the same pick
  p.tick = w.ticks;
  ++p.passes;
  p.found = 0, p.camera = 0;
  int x = 0, y = 0;
  if (!pointer_pixel(w, x, y)) return;
  // The view drawn last over the pointer is the one the user sees there.
  for (int k = s.camera_count - 1; k >= 0; --k) {
    const CameraView& v = s.camera[k];
    const project::ElementRecord& e = w.tables.elements[v.element];
    if ((e.flags & (project::kFlagOn | project::kFlagShown)) != (project::kFlagOn | project::kFlagShown)) continue;
    if (x < v.x || y < v.y || x >= v.x + v.width || y >= v.y + v.height || !aim_camera(w, v)) continue;
    p.camera = static_cast<I>(base::address32(&e));
    scene::PickResult hit;
    if (scene::pick(*s.renderer, v.viewport, s.root[kMainRoot], x, y, hit)) {
      p.found = owner_of_frame(w, hit.frame);
      p.point = hit.point;
    }
    return;
  }
}

namespace {

// `x_picked` (camera): what lies under the mouse in camera element's view:
// the extra object whose frames hold the nearest triangle there (the nearest
// such object up the tree), else the element whose model it is, else 0. The
// point hit is kept for `x_pick_pt`.
ROUTINE(routine_x_picked) {
  World* w = active_world();
  int x = 0, y = 0;
  if (!w || !pointer_pixel(*w, x, y)) return 0;
  const CameraView* view = aimed_camera(*w, a);
  if (!view) return 0;
  Scene& s = *w->scene;
  scene::PickResult hit;
  if (!scene::pick(*s.renderer, view->viewport, s.root[kMainRoot], x, y, hit)) return 0;
  s.parts.pick_point = hit.point;
  return owner_of_frame(*w, hit.frame);
}

ROUTINE(routine_x_pick_pt) {
  Scene* s = active_scene();
  return s && a >= 0 && a <= 2 ? to_units(component(s->parts.pick_point, a), kPositionUnit) : 0;
}

// The tick's pick, or null outside a run with a scene.
const MeshParts::TickPick* tick_pick() {
  Scene* s = active_scene();
  return s ? &s->parts.tick_pick : nullptr;
}

// `visual_picked` (e): 1 when e is what the tick's pick found. Calling it is
// what turns the per-tick pick on for the project.
ROUTINE(routine_visual_picked) {
  const MeshParts::TickPick* p = tick_pick();
  return p && a != 0 && p->found == a ? 1 : 0;
}

ROUTINE(routine_visual_picked_get) {
  const MeshParts::TickPick* p = tick_pick();
  return p ? p->found : 0;
}

// `visual_picked_get_ex` (c): 0..2 the point hit, 3 the camera looked through.
ROUTINE(routine_visual_picked_get_ex) {
  const MeshParts::TickPick* p = tick_pick();
  if (!p) return 0;
  if (a == 3) return p->camera;
  return p->found != 0 && a >= 0 && a <= 2 ? to_units(component(p->point, a), kPositionUnit) : 0;
}

// `visual_ray` (camera, c): the ray from camera element through the pointer,
// made now from the scene as placed for the last picture.
ROUTINE(routine_visual_ray) {
  World* w = active_world();
  int x = 0, y = 0;
  if (!w || b < 0 || b > 5 || !pointer_pixel(*w, x, y)) return 0;
  const CameraView* view = aimed_camera(*w, a);
  scene::Vec3 origin, direction;
  if (!view || !scene::pick_ray(*w->scene->renderer, view->viewport, x, y, origin, direction)) return 0;
  return to_units(b < 3 ? component(origin, b) : component(direction, b - 3), kPositionUnit);
}

constexpr Binding kMeshBindings[] = {
    {"h_part_set", routine_h_part_set,
     "a, b, c, d child numbers at four levels (-1 ends the path early), e mesh number: the part path"},
    {"vertices", routine_vertices, "a element or object -> vertices of its part (3 a triangle)"},
    {"normals", routine_normals, "-> normals of the part the last mesh keyword found"},
    {"vertex_pos", routine_vertex_pos,
     "a element or object, b vertex, c axis 0..2 x, y, z in the part, 3..5 in the scene -> L/512"},
    {"vertex_pos_set", routine_vertex_move<Move::set>,
     "a element or object, b vertex, c x, d y, e z in L/512: in the part"},
    {"vertex_posw_set", routine_vertex_move<Move::set_in_scene>,
     "a element or object, b vertex, c x, d y, e z in L/512: in the scene"},
    {"vertex_pos_add", routine_vertex_move<Move::add>, "a element or object, b vertex, c, d, e in L/512: moves it"},
    {"vertex_u", routine_vertex_uv<false>, "a element or object, b vertex -> texture u in ten-thousandths"},
    {"vertex_v", routine_vertex_uv<true>, "a element or object, b vertex -> texture v in ten-thousandths"},
    {"vertex_uv_set", routine_vertex_uv_set, "a element or object, b vertex, c u, d v in ten-thousandths"},
    {"vertex_uv_add", routine_vertex_uv_add,
     "a element or object, b first, c last vertex, d du, e dv in ten-thousandths: added to each"},
    {"vertices_get", routine_get_all<&Vertex::position>,
     "a element or object, b array, c cell: x, y, z of each vertex in L/512 -> vertices, -1 failed"},
    {"vertices_set", routine_set_all<&Vertex::position, true>,
     "a element or object, b array, c cell: every vertex from x, y, z in L/512 -> vertices, -1 failed"},
    {"normals_get", routine_get_all<&Vertex::normal>,
     "a element or object, b array, c cell: each normal x 512000 -> normals, -1 failed"},
    {"normals_set", routine_set_all<&Vertex::normal, false>,
     "a element or object, b array, c cell: every normal from x, y, z / 512000 -> normals, -1 failed"},
    {"normals_optimize", routine_normals_optimize,
     "a element or object: its part's normals made smooth from its faces"},
    {"rendering_optimize", routine_rendering_optimize, "a element or object: its part drawn with fewer calls"},
    {"env_map_update", routine_env_map_update,
     "a element or object: its part's texture mapped from its normals as the camera sees them, next picture"},
    {"make_flat", routine_make_flat, "a element or object: turned to face the camera in the next picture"},
    {"h_part_show", routine_h_part_show, "a element or object, b 1 shown, 0 hidden: its part frame"},
    {"material_set", routine_material_set,
     "a 0 diffuse, 1 ambient, 2 emissive, 3 specular: b, c, d, e red, green, blue, alpha / 1000; a 4: b power / 1000"},
    {"material_apply", routine_material_apply,
     "a element or object: its part frame takes the material of material_set"},
    {"visual_color_set", routine_visual_color_set,
     "a element or object, b red, c green, d blue 0..255: its part frame drawn in that plain colour"},
    {"visual_rgba_set", routine_visual_rgba_set,
     "a element or object, b red, c green, d blue, e alpha 0..255: its part frame in that colour, e 0 clear"},
    {"zbuffer_mode_set", routine_zbuffer_mode_set,
     "a element or object, b: its part frame drawn over the rest, without depth; b 1 with depth again"},
    {"h_sort_mode_set", routine_h_sort_mode_set,
     "a element or object, b 0 from parent, 1 front to back, 2 back to front, 3 none: kept on its frame"},
    {"sort_mode_set", routine_sort_mode_set, "a 1 front to back, 2 back to front, 3 none: drawing order of the scene"},
    {"poly_sort_mode_set", routine_poly_sort_mode_set,
     "a 1 see-through faces drawn far to near, 0 in the order of the scene"},
    {"antialias_set", routine_antialias_set, "a 1 on, 0 off: kept; the picture is not smoothed"},
    {"x_clone", routine_x_clone,
     "a parent object (0 the scene), b .x3d element -> a new object with a copy of its model, 0 failed"},
    {"x_load", routine_x_load, "a parent object (0 the scene), b model file -> a new object with it, 0 failed"},
    {"x_kill", routine_x_kill, "a object made by x_clone or x_load: removed with the objects made under it"},
    {"x_element_get", routine_x_element_get,
     "a element or object, b, c the part path's second and third child numbers -> an object on that frame"},
    {"position_set", routine_position_set,
     "a object, b x, c y, d z in L/512: position relative to its parent; a element: its position"},
    {"position", routine_position,
     "a object or element, b relative to object (0 the scene), c axis 0..2 -> position in L/512"},
    {"rotation_axis_set", routine_rotation_axis<false>,
     "a, b, c axis x, y, z (not all 0), d angle in 1/512 degree: the rotation orientation_set gives"},
    {"rotation_axis_add", routine_rotation_axis<true>,
     "a, b, c axis x, y, z (not all 0), d angle in 1/512 degree: that rotation becomes this turn followed by it"},
    {"orientation_set", routine_orientation_set,
     "a object: its orientation relative to its parent, or element: its rotation, from rotation_axis_set"},
    {"rotation_angle", routine_rotation_angle,
     "a object or element, b relative to object (0 the scene) -> angle of its orientation in 1/512 degree"},
    {"rotation_axis", routine_rotation_axis_component, "a 0..2 -> x, y, z x 512000 of the last rotation_angle's axis"},
    {"local_axis", routine_local_axis,
     "a element, b axis 0 x, 1 y, 2 z, c 0..2 -> that component of its turned axis of length 512000"},
    {"x_picked", routine_x_picked, "a camera element -> the object or element under the mouse in its view, 0 nothing"},
    {"x_pick_pt", routine_x_pick_pt, "a 0..2 -> x, y, z in L/512 of the point x_picked found"},
    {"visual_picked", routine_visual_picked,
     "a element or object -> 1 when it is under the mouse in the last picture, else 0; turns the per-tick pick on"},
    {"visual_picked_get", routine_visual_picked_get,
     "-> the element or object under the mouse in the last picture, 0 nothing (needs visual_picked in a brain)"},
    {"visual_picked_get_ex", routine_visual_picked_get_ex,
     "a 0..2 -> x, y, z in L/512 of the point visual_picked_get found, 3 -> the camera element it was seen by"},
    {"visual_ray", routine_visual_ray,
     "a camera element, b 0..2 -> ray start x, y, z in L/512, 3..5 -> its unit direction x 512000, through the mouse"},
};

}  // namespace

std::span<const Binding> mesh_bindings() { return kMeshBindings; }

}  // namespace engine
