// Scene objects without GL: frames and their placement, attachments,
// materials, lights, viewport parameters and keyed animations.
#include "platform/scene/scene_local.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "base/log.h"

namespace scene {

void fail(Renderer& r, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(r.error, sizeof r.error, format, args);
  va_end(args);
  base::report("scene", "%s", r.error);
}

void init_pools(Renderer& r) {
  r.free_visual = kNone;
  for (int i = kMaxVisuals - 1; i >= 0; --i) {
    r.visuals[i] = VisualSlot{};
    r.visuals[i].next = r.free_visual;
    r.free_visual = i;
  }
  r.free_key = kNone;
  for (int i = kMaxKeys - 1; i >= 0; --i) {
    r.keys[i] = KeySlot{};
    r.keys[i].next = r.free_key;
    r.free_key = i;
  }
}

const char* last_error(const Renderer& renderer) { return renderer.error; }
bool has_gl(const Renderer& renderer) { return renderer.gl; }

namespace {

template <class Slot, int N>
int take_slot(Renderer& r, Slot (&pool)[N], const char* name) {
  for (int i = 0; i < N; ++i)
    if (!pool[i].used) {
      pool[i] = Slot{};
      pool[i].used = true;
      return i;
    }
  fail(r, "full: %s", name);
  return kNone;
}

bool finite(Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

void unlink_child(Renderer& r, int f) {
  int p = r.frames[f].parent;
  if (p == kNone) return;
  int* link = &r.frames[p].first_child;
  while (*link != kNone && *link != f) link = &r.frames[*link].next_sibling;
  if (*link == f) *link = r.frames[f].next_sibling;
  r.frames[f].parent = kNone;
  r.frames[f].next_sibling = kNone;
}

void link_child(Renderer& r, int f, int p) {
  r.frames[f].parent = p;
  r.frames[f].next_sibling = r.frames[p].first_child;
  r.frames[p].first_child = f;
}

Mat4 local_of(const FrameSlot& f) { return placement(f.position, f.rotation, f.scale); }

Quat world_rotation(const Renderer& r, int f) {
  Quat q;
  for (int i = f; i != kNone; i = r.frames[i].parent) q = multiply(r.frames[i].rotation, q);
  return q;
}

Mat4 parent_world(const Renderer& r, int f) {
  int p = r.frames[f].parent;
  return p == kNone ? Mat4{} : frame_world(r, Frame{p});
}


void free_visual_chain(Renderer& r, int first) {
  while (first != kNone) {
    int next = r.visuals[first].next;
    const VisualSlot& v = r.visuals[first];
    if (v.kind == VisualKind::mesh && v.object >= 0 && v.object < kMaxMeshes) --r.meshes[v.object].attachments;
    r.visuals[first] = VisualSlot{};
    r.visuals[first].next = r.free_visual;
    r.free_visual = first;
    first = next;
  }
}

bool attach(Renderer& r, Frame frame, VisualKind kind, int object) {
  if (!frame_ok(r, frame)) return false;
  if (r.free_visual == kNone) {
    fail(r, "full: frame visuals");
    return false;
  }
  int v = r.free_visual;
  r.free_visual = r.visuals[v].next;
  // Appended, so visuals draw in the order they were added.
  r.visuals[v] = VisualSlot{true, kind, object, kNone};
  if (kind == VisualKind::mesh) ++r.meshes[object].attachments;
  int* link = &r.frames[frame.id].first_visual;
  while (*link != kNone) link = &r.visuals[*link].next;
  *link = v;
  return true;
}

}  // namespace

Mat4 affine_inverse(const Mat4& m) {
  const float* a = m.m;
  float c00 = a[5] * a[10] - a[9] * a[6], c01 = a[9] * a[2] - a[1] * a[10], c02 = a[1] * a[6] - a[5] * a[2];
  float det = a[0] * c00 + a[4] * c01 + a[8] * c02;
  if (!(std::fabs(det) > 1e-20f)) return Mat4{};
  float inv = 1 / det;
  Mat4 r;
  r.m[0] = c00 * inv;
  r.m[1] = c01 * inv;
  r.m[2] = c02 * inv;
  r.m[4] = (a[8] * a[6] - a[4] * a[10]) * inv;
  r.m[5] = (a[0] * a[10] - a[8] * a[2]) * inv;
  r.m[6] = (a[4] * a[2] - a[0] * a[6]) * inv;
  r.m[8] = (a[4] * a[9] - a[8] * a[5]) * inv;
  r.m[9] = (a[8] * a[1] - a[0] * a[9]) * inv;
  r.m[10] = (a[0] * a[5] - a[4] * a[1]) * inv;
  Vec3 t{a[12], a[13], a[14]};
  Vec3 it = transform_direction(r, t);
  r.m[12] = -it.x;
  r.m[13] = -it.y;
  r.m[14] = -it.z;
  return r;
}

// ---- Frames ----------------------------------------------------------------------

Frame frame_create(Renderer& r, Frame parent) {
  int f = take_slot(r, r.frames, "frames");
  if (f == kNone) return {};
  if (frame_ok(r, parent)) link_child(r, f, parent.id);
  return Frame{f};
}

void frame_destroy(Renderer& r, Frame frame) {
  if (!frame_ok(r, frame)) return;
  unlink_child(r, frame.id);
  // Walk the subtree with the shared stack; every slot is freed once.
  int top = 0;
  r.stack[top++] = frame.id;
  while (top > 0) {
    int f = r.stack[--top];
    for (int c = r.frames[f].first_child; c != kNone; c = r.frames[c].next_sibling) r.stack[top++] = c;
    free_visual_chain(r, r.frames[f].first_visual);
    for (AnimationSlot& a : r.animations)
      if (a.used && a.frame == f) a.frame = kNone;
    for (ViewportSlot& v : r.viewports)
      if (v.used && v.camera == f) v.camera = kNone;
    r.frames[f] = FrameSlot{};
  }
}

void frame_destroy_with_meshes(Renderer& r, Frame frame) {
  if (!frame_ok(r, frame)) return;
  // Scratch lists of render(), free here: stack_override the subtree's meshes
  // (at most kMaxMeshes <= kMaxFrames), stack_clip their materials.
  static_assert(kMaxMeshes <= kMaxFrames, "every mesh fits the list");
  int found = 0;
  int top = 0;
  r.stack[top++] = frame.id;
  while (top > 0) {
    int f = r.stack[--top];
    for (int c = r.frames[f].first_child; c != kNone; c = r.frames[c].next_sibling) r.stack[top++] = c;
    for (int v = r.frames[f].first_visual; v != kNone; v = r.visuals[v].next)
      if (r.visuals[v].kind == VisualKind::mesh) {
        int m = r.visuals[v].object;
        bool listed = false;
        for (int k = 0; k < found && !listed; ++k) listed = r.stack_override[k] == m;
        if (!listed) r.stack_override[found++] = m;
      }
  }
  frame_destroy(r, frame);
  // Meshes nothing holds now go, and the materials that only they used.
  int materials = 0;
  for (int k = 0; k < found; ++k) {
    MeshSlot& m = r.meshes[r.stack_override[k]];
    if (!m.used || m.attachments > 0) continue;
    for (int g = 0; g < m.group_count; ++g) {
      int id = m.groups[g].material.id;
      bool listed = id < 0;
      for (int j = 0; j < materials && !listed; ++j) listed = r.stack_clip[j] == id;
      if (!listed && materials < kMaxFrames) r.stack_clip[materials++] = id;
    }
    mesh_destroy(r, Mesh{r.stack_override[k]});
  }
  for (int j = 0; j < materials; ++j) {
    int id = r.stack_clip[j];
    bool used = false;
    for (int m = 0; m < kMaxMeshes && !used; ++m)
      for (int g = 0; g < r.meshes[m].group_count && r.meshes[m].used && !used; ++g)
        used = r.meshes[m].groups[g].material.id == id;
    for (int f = 0; f < kMaxFrames && !used; ++f) used = r.frames[f].used && r.frames[f].material_override == id;
    if (!used) material_destroy(r, Material{id});
  }
}

bool frame_set_parent(Renderer& r, Frame frame, Frame parent) {
  if (!frame_ok(r, frame)) return false;
  if (frame_ok(r, parent))
    for (int p = parent.id; p != kNone; p = r.frames[p].parent)
      if (p == frame.id) {
        fail(r, "a frame cannot become a child of its own subtree");
        return false;
      }
  unlink_child(r, frame.id);
  if (frame_ok(r, parent)) link_child(r, frame.id, parent.id);
  return true;
}

Frame frame_parent(const Renderer& r, Frame frame) {
  return frame_ok(r, frame) ? Frame{r.frames[frame.id].parent} : Frame{};
}

Frame frame_root(const Renderer& r, Frame frame) {
  if (!frame_ok(r, frame)) return {};
  int f = frame.id;
  while (r.frames[f].parent != kNone) f = r.frames[f].parent;
  return Frame{f};
}

Mat4 frame_world(const Renderer& r, Frame frame) {
  Mat4 m;
  if (!frame_ok(r, frame)) return m;
  for (int f = frame.id; f != kNone; f = r.frames[f].parent) m = multiply(local_of(r.frames[f]), m);
  return m;
}

void frame_set_position(Renderer& r, Frame frame, Frame reference, Vec3 position) {
  if (!frame_ok(r, frame) || !finite(position)) return;
  FrameSlot& f = r.frames[frame.id];
  // Relative to no frame or to its own parent (the usual case), the position is the local one.
  if (!frame_ok(r, reference) || f.parent == reference.id) {
    f.position = position;
    return;
  }
  Vec3 world = transform_point(frame_world(r, reference), position);
  f.position = transform_point(affine_inverse(parent_world(r, frame.id)), world);
}

Vec3 frame_position(const Renderer& r, Frame frame, Frame reference) {
  if (!frame_ok(r, frame)) return {};
  const FrameSlot& f = r.frames[frame.id];
  if (!frame_ok(r, reference)) return f.position;
  Vec3 world = transform_point(parent_world(r, frame.id), f.position);
  return transform_point(affine_inverse(frame_world(r, reference)), world);
}

void frame_set_rotation(Renderer& r, Frame frame, Frame reference, Quat rotation) {
  if (!frame_ok(r, frame)) return;
  if (!std::isfinite(rotation.x) || !std::isfinite(rotation.y) || !std::isfinite(rotation.z) ||
      !std::isfinite(rotation.w))
    return;
  Quat q = normalise(rotation);
  if (frame_ok(r, reference) && r.frames[frame.id].parent != reference.id) {
    // world = parent_world * local, so local = parent_world^-1 * reference_world * q
    int p = r.frames[frame.id].parent;
    Quat parent_q = p == kNone ? Quat{} : world_rotation(r, p);
    q = normalise(multiply(conjugate(parent_q), multiply(world_rotation(r, reference.id), q)));
  }
  r.frames[frame.id].rotation = q;
}

Quat frame_rotation(const Renderer& r, Frame frame, Frame reference) {
  if (!frame_ok(r, frame)) return {};
  if (!frame_ok(r, reference)) return r.frames[frame.id].rotation;
  return normalise(multiply(conjugate(world_rotation(r, reference.id)), world_rotation(r, frame.id)));
}

void frame_set_orientation(Renderer& r, Frame frame, Frame reference, Vec3 direction, Vec3 up) {
  frame_set_rotation(r, frame, reference, quat_from_direction_up(direction, up));
}

void frame_orientation(const Renderer& r, Frame frame, Frame reference, Vec3& direction, Vec3& up) {
  direction_up_of(frame_rotation(r, frame, reference), direction, up);
}

void frame_set_scale(Renderer& r, Frame frame, Vec3 s) {
  if (frame_ok(r, frame) && finite(s)) r.frames[frame.id].scale = s;
}

Vec3 frame_scale(const Renderer& r, Frame frame) {
  return frame_ok(r, frame) ? r.frames[frame.id].scale : Vec3{1, 1, 1};
}

void frame_set_traversal(Renderer& r, Frame frame, std::uint32_t options) {
  if (frame_ok(r, frame)) r.frames[frame.id].traversal = options & (kRenderEnable | kPickEnable);
}

std::uint32_t frame_traversal(const Renderer& r, Frame frame) {
  return frame_ok(r, frame) ? r.frames[frame.id].traversal : 0;
}

void frame_set_sort_mode(Renderer& r, Frame frame, SortMode mode) {
  if (frame_ok(r, frame)) r.frames[frame.id].sort = mode;
}

void frame_set_material_override(Renderer& r, Frame frame, Material material) {
  if (frame_ok(r, frame)) r.frames[frame.id].material_override = material_ok(r, material) ? material.id : kNone;
}

void frame_set_zbuffer(Renderer& r, Frame frame, bool on) {
  if (frame_ok(r, frame)) r.frames[frame.id].zbuffer = on;
}

bool frame_zbuffer(const Renderer& r, Frame frame) { return !frame_ok(r, frame) || r.frames[frame.id].zbuffer; }

void frame_set_fog(Renderer& r, Frame root, bool on, float start, float end, Colour colour) {
  if (!frame_ok(r, root) || !std::isfinite(start) || !std::isfinite(end)) return;
  FrameSlot& f = r.frames[root.id];
  f.fog_on = on;
  f.fog_start = start;
  f.fog_end = end;
  f.fog_colour = colour;
}

void frame_set_background(Renderer& r, Frame root, Colour colour) {
  if (frame_ok(r, root)) r.frames[root.id].background = colour;
}

Colour frame_background(const Renderer& r, Frame root) {
  return frame_ok(r, root) ? r.frames[root.id].background : Colour{0, 0, 0, 1};
}

bool frame_add_mesh(Renderer& r, Frame frame, Mesh mesh) {
  return mesh_ok(r, mesh) && attach(r, frame, VisualKind::mesh, mesh.id);
}
bool frame_add_decal(Renderer& r, Frame frame, Texture decal) {
  return texture_ok(r, decal) && attach(r, frame, VisualKind::decal, decal.id);
}
bool frame_add_light(Renderer& r, Frame frame, Light light) {
  return light_ok(r, light) && attach(r, frame, VisualKind::light, light.id);
}

void frame_remove_visuals(Renderer& r, Frame frame) {
  if (!frame_ok(r, frame)) return;
  free_visual_chain(r, r.frames[frame.id].first_visual);
  r.frames[frame.id].first_visual = kNone;
}

// Children are linked newest first.
int frame_children(const Renderer& r, Frame frame, std::span<Frame> out) {
  if (!frame_ok(r, frame)) return 0;
  int count = 0;
  for (int c = r.frames[frame.id].first_child; c != kNone; c = r.frames[c].next_sibling) ++count;
  int k = count;
  for (int c = r.frames[frame.id].first_child; c != kNone; c = r.frames[c].next_sibling)
    if (static_cast<std::size_t>(--k) < out.size()) out[static_cast<std::size_t>(k)] = Frame{c};
  return count;
}

Frame frame_child(const Renderer& r, Frame frame, int index) {
  if (!frame_ok(r, frame) || index < 0) return {};
  int count = 0;
  for (int c = r.frames[frame.id].first_child; c != kNone; c = r.frames[c].next_sibling) ++count;
  if (index >= count) return {};
  int k = count - 1;
  for (int c = r.frames[frame.id].first_child; c != kNone; c = r.frames[c].next_sibling, --k)
    if (k == index) return Frame{c};
  return {};
}

int frame_meshes(const Renderer& r, Frame frame, std::span<Mesh> out) {
  if (!frame_ok(r, frame)) return 0;
  int count = 0;
  for (int v = r.frames[frame.id].first_visual; v != kNone; v = r.visuals[v].next) {
    if (r.visuals[v].kind != VisualKind::mesh) continue;
    if (static_cast<std::size_t>(count) < out.size()) out[static_cast<std::size_t>(count)] = Mesh{r.visuals[v].object};
    ++count;
  }
  return count;
}

bool frame_replace_mesh(Renderer& r, Frame frame, Mesh mesh, Mesh replacement) {
  if (!frame_ok(r, frame) || !mesh_ok(r, mesh) || !mesh_ok(r, replacement)) return false;
  for (int v = r.frames[frame.id].first_visual; v != kNone; v = r.visuals[v].next) {
    VisualSlot& slot = r.visuals[v];
    if (slot.kind != VisualKind::mesh || slot.object != mesh.id) continue;
    --r.meshes[mesh.id].attachments;
    ++r.meshes[replacement.id].attachments;
    slot.object = replacement.id;
    return true;
  }
  return false;
}

bool frame_add_clip_plane(Renderer& r, Frame frame, Vec3 point, Vec3 normal) {
  if (!frame_ok(r, frame) || !finite(point)) return false;
  Vec3 n = normalise(normal);
  if (modulus(n) == 0) return false;
  FrameSlot& f = r.frames[frame.id];
  if (f.clip_count == kMaxClipPlanes) {
    fail(r, "full: clip planes");
    return false;
  }
  float* plane = f.clip[f.clip_count++];
  plane[0] = n.x;
  plane[1] = n.y;
  plane[2] = n.z;
  plane[3] = -dot(n, point);
  return true;
}

void frame_clear_clip_planes(Renderer& r, Frame frame) {
  if (frame_ok(r, frame)) r.frames[frame.id].clip_count = 0;
}

void detach_everywhere(Renderer& r, VisualKind kind, int object) {
  for (FrameSlot& f : r.frames) {
    if (!f.used) continue;
    int* link = &f.first_visual;
    while (*link != kNone) {
      VisualSlot& v = r.visuals[*link];
      if (v.kind == kind && v.object == object) {
        if (kind == VisualKind::mesh) --r.meshes[object].attachments;
        int gone = *link;
        *link = v.next;
        r.visuals[gone] = VisualSlot{};
        r.visuals[gone].next = r.free_visual;
        r.free_visual = gone;
      } else {
        link = &v.next;
      }
    }
  }
}

// ---- Materials and lights ------------------------------------------------------------

Material material_create(Renderer& r, const MaterialDesc& desc) {
  int m = take_slot(r, r.materials, "materials");
  if (m == kNone) return {};
  r.materials[m].desc = desc;
  return Material{m};
}

void material_destroy(Renderer& r, Material material) {
  if (!material_ok(r, material)) return;
  for (MeshSlot& m : r.meshes)
    if (m.used)
      for (int g = 0; g < m.group_count; ++g)
        if (m.groups[g].material.id == material.id) m.groups[g].material = Material{};
  for (FrameSlot& f : r.frames)
    if (f.used && f.material_override == material.id) f.material_override = kNone;
  r.materials[material.id] = MaterialSlot{};
}

void material_set(Renderer& r, Material material, const MaterialDesc& desc) {
  if (material_ok(r, material)) r.materials[material.id].desc = desc;
}

MaterialDesc material_get(const Renderer& r, Material material) {
  return material_ok(r, material) ? r.materials[material.id].desc : MaterialDesc{};
}

Light light_create(Renderer& r, const LightDesc& desc) {
  int l = take_slot(r, r.lights, "lights");
  if (l == kNone) return {};
  r.lights[l].desc = desc;
  return Light{l};
}

void light_set(Renderer& r, Light light, const LightDesc& desc) {
  if (light_ok(r, light)) r.lights[light.id].desc = desc;
}

LightDesc light_get(const Renderer& r, Light light) {
  return light_ok(r, light) ? r.lights[light.id].desc : LightDesc{};
}

void light_destroy(Renderer& r, Light light) {
  if (!light_ok(r, light)) return;
  detach_everywhere(r, VisualKind::light, light.id);
  r.lights[light.id] = LightSlot{};
}

// ---- Viewports ---------------------------------------------------------------------

Viewport viewport_create(Renderer& r, Frame camera, int x, int y, int width, int height) {
  int v = take_slot(r, r.viewports, "viewports");
  if (v == kNone) return {};
  r.viewports[v].camera = frame_ok(r, camera) ? camera.id : kNone;
  viewport_set_rect(r, Viewport{v}, x, y, width, height);
  return Viewport{v};
}

void viewport_destroy(Renderer& r, Viewport viewport) {
  if (viewport_ok(r, viewport)) r.viewports[viewport.id] = ViewportSlot{};
}

void viewport_set_rect(Renderer& r, Viewport viewport, int x, int y, int width, int height) {
  if (!viewport_ok(r, viewport)) return;
  ViewportSlot& v = r.viewports[viewport.id];
  v.x = x;
  v.y = y;
  v.width = width > 0 ? width : 0;
  v.height = height > 0 ? height : 0;
}

void viewport_set_camera(Renderer& r, Viewport viewport, Frame camera) {
  if (viewport_ok(r, viewport)) r.viewports[viewport.id].camera = frame_ok(r, camera) ? camera.id : kNone;
}

bool viewport_set_front(Renderer& r, Viewport viewport, float front) {
  if (!viewport_ok(r, viewport) || !std::isfinite(front) || !(front > 0)) return false;
  r.viewports[viewport.id].front = front;
  return true;
}

bool viewport_set_back(Renderer& r, Viewport viewport, float back) {
  if (!viewport_ok(r, viewport) || !std::isfinite(back) || !(back > 0)) return false;
  r.viewports[viewport.id].back = back;
  return true;
}

bool viewport_set_field(Renderer& r, Viewport viewport, float field) {
  if (!viewport_ok(r, viewport) || !std::isfinite(field) || !(field > 0)) return false;
  r.viewports[viewport.id].field = field;
  return true;
}

float viewport_front(const Renderer& r, Viewport v) { return viewport_ok(r, v) ? r.viewports[v.id].front : 0; }
float viewport_back(const Renderer& r, Viewport v) { return viewport_ok(r, v) ? r.viewports[v.id].back : 0; }
float viewport_field(const Renderer& r, Viewport v) { return viewport_ok(r, v) ? r.viewports[v.id].field : 0; }

// ---- Animations --------------------------------------------------------------------

namespace {

bool animation_ok(const Renderer& r, Animation a) {
  return a.id >= 0 && a.id < kMaxAnimations && r.animations[a.id].used;
}
bool set_ok(const Renderer& r, AnimationSet s) {
  return s.id >= 0 && s.id < kMaxAnimationSets && r.animation_sets[s.id].used;
}

void free_key(Renderer& r, int k) {
  r.keys[k] = KeySlot{};
  r.keys[k].next = r.free_key;
  r.free_key = k;
}

bool add_key(Renderer& r, Animation animation, KeyKind kind, float time, const float (&value)[4]) {
  if (!animation_ok(r, animation) || !std::isfinite(time)) return false;
  for (float v : value)
    if (!std::isfinite(v)) return false;
  int* link = &r.animations[animation.id].first_key[kind];
  while (*link != kNone && r.keys[*link].time < time) link = &r.keys[*link].next;
  if (*link != kNone && r.keys[*link].time == time) {  // same time: replace
    for (int i = 0; i < 4; ++i) r.keys[*link].value[i] = value[i];
    return true;
  }
  if (r.free_key == kNone) {
    fail(r, "full: animation keys");
    return false;
  }
  int k = r.free_key;
  r.free_key = r.keys[k].next;
  r.keys[k].time = time;
  for (int i = 0; i < 4; ++i) r.keys[k].value[i] = value[i];
  r.keys[k].next = *link;
  *link = k;
  return true;
}

// The two keys around time and the blend between them; false without keys.
bool bracket(const Renderer& r, int first, float time, bool closed, int& a, int& b, float& t) {
  if (first == kNone) return false;
  int last = first;
  while (r.keys[last].next != kNone) last = r.keys[last].next;
  float t0 = r.keys[first].time, t1 = r.keys[last].time;
  if (closed && t1 > t0) {
    time = t0 + std::fmod(time - t0, t1 - t0);
    if (time < t0) time += t1 - t0;
  }
  a = b = first;
  t = 0;
  if (time <= t0) return true;
  if (time >= t1) {
    a = b = last;
    return true;
  }
  int k = first;
  while (r.keys[k].next != kNone && r.keys[r.keys[k].next].time <= time) k = r.keys[k].next;
  a = k;
  b = r.keys[k].next == kNone ? k : r.keys[k].next;
  float span = r.keys[b].time - r.keys[a].time;
  t = span > 0 ? (time - r.keys[a].time) / span : 0;
  return true;
}

Vec3 key_vec(const KeySlot& k) { return {k.value[0], k.value[1], k.value[2]}; }
Quat key_quat(const KeySlot& k) { return {k.value[0], k.value[1], k.value[2], k.value[3]}; }

}  // namespace

Animation animation_create(Renderer& r) {
  int a = take_slot(r, r.animations, "animations");
  return a == kNone ? Animation{} : Animation{a};
}

void animation_destroy(Renderer& r, Animation animation) {
  if (!animation_ok(r, animation)) return;
  AnimationSlot& a = r.animations[animation.id];
  for (int kind = 0; kind < kKeyKinds; ++kind)
    for (int k = a.first_key[kind]; k != kNone;) {
      int next = r.keys[k].next;
      free_key(r, k);
      k = next;
    }
  if (a.set != kNone) {
    int* link = &r.animation_sets[a.set].first;
    while (*link != kNone && *link != animation.id) link = &r.animations[*link].next_in_set;
    if (*link == animation.id) *link = a.next_in_set;
  }
  a = AnimationSlot{};
}

void animation_set_frame(Renderer& r, Animation animation, Frame frame) {
  if (animation_ok(r, animation)) r.animations[animation.id].frame = frame_ok(r, frame) ? frame.id : kNone;
}

void animation_set_closed(Renderer& r, Animation animation, bool closed) {
  if (animation_ok(r, animation)) r.animations[animation.id].closed = closed;
}

bool animation_add_scale_key(Renderer& r, Animation animation, float time, Vec3 s) {
  return add_key(r, animation, kKeyScale, time, {s.x, s.y, s.z, 0});
}
bool animation_add_rotation_key(Renderer& r, Animation animation, float time, Quat q) {
  q = normalise(q);
  return add_key(r, animation, kKeyRotation, time, {q.x, q.y, q.z, q.w});
}
bool animation_add_position_key(Renderer& r, Animation animation, float time, Vec3 p) {
  return add_key(r, animation, kKeyPosition, time, {p.x, p.y, p.z, 0});
}

void animation_delete_keys(Renderer& r, Animation animation, float time) {
  if (!animation_ok(r, animation)) return;
  for (int kind = 0; kind < kKeyKinds; ++kind) {
    int* link = &r.animations[animation.id].first_key[kind];
    while (*link != kNone) {
      if (r.keys[*link].time == time) {
        int gone = *link;
        *link = r.keys[gone].next;
        free_key(r, gone);
      } else {
        link = &r.keys[*link].next;
      }
    }
  }
}

int animation_key_count(const Renderer& r, Animation animation) {
  if (!animation_ok(r, animation)) return 0;
  int n = 0;
  for (int kind = 0; kind < kKeyKinds; ++kind)
    for (int k = r.animations[animation.id].first_key[kind]; k != kNone; k = r.keys[k].next) ++n;
  return n;
}

void animation_set_time(Renderer& r, Animation animation, float time) {
  if (!animation_ok(r, animation) || !std::isfinite(time)) return;
  const AnimationSlot& a = r.animations[animation.id];
  if (a.frame == kNone || !r.frames[a.frame].used) return;
  FrameSlot& f = r.frames[a.frame];
  int k0, k1;
  float t;
  if (bracket(r, a.first_key[kKeyScale], time, a.closed, k0, k1, t))
    f.scale = lerp(key_vec(r.keys[k0]), key_vec(r.keys[k1]), t);
  if (bracket(r, a.first_key[kKeyRotation], time, a.closed, k0, k1, t))
    f.rotation = slerp(key_quat(r.keys[k0]), key_quat(r.keys[k1]), t);
  if (bracket(r, a.first_key[kKeyPosition], time, a.closed, k0, k1, t))
    f.position = lerp(key_vec(r.keys[k0]), key_vec(r.keys[k1]), t);
}

AnimationSet animation_set_create(Renderer& r) {
  int s = take_slot(r, r.animation_sets, "animation sets");
  return s == kNone ? AnimationSet{} : AnimationSet{s};
}

void animation_set_destroy(Renderer& r, AnimationSet set) {
  if (!set_ok(r, set)) return;
  while (r.animation_sets[set.id].first != kNone) animation_destroy(r, Animation{r.animation_sets[set.id].first});
  r.animation_sets[set.id] = AnimationSetSlot{};
}

bool animation_set_add(Renderer& r, AnimationSet set, Animation animation) {
  if (!set_ok(r, set) || !animation_ok(r, animation) || r.animations[animation.id].set != kNone) return false;
  AnimationSlot& a = r.animations[animation.id];
  a.set = set.id;
  a.next_in_set = r.animation_sets[set.id].first;
  r.animation_sets[set.id].first = animation.id;
  return true;
}

void animation_set_time(Renderer& r, AnimationSet set, float time) {
  if (!set_ok(r, set)) return;
  for (int a = r.animation_sets[set.id].first; a != kNone; a = r.animations[a].next_in_set)
    animation_set_time(r, Animation{a}, time);
}

}  // namespace scene

namespace scene {

void release_all(Renderer& r) {
  for (MeshSlot& m : r.meshes)
    if (m.used) release_mesh_gl(r, m);
  for (TextureSlot& t : r.textures)
    if (t.used) release_texture_gl(r, t);
  for (FrameSlot& f : r.frames) f = FrameSlot{};
  for (MeshSlot& m : r.meshes) m = MeshSlot{};
  for (MaterialSlot& m : r.materials) m = MaterialSlot{};
  for (TextureSlot& t : r.textures) t = TextureSlot{};
  for (LightSlot& l : r.lights) l = LightSlot{};
  for (ViewportSlot& v : r.viewports) v = ViewportSlot{};
  for (AnimationSlot& a : r.animations) a = AnimationSlot{};
  for (AnimationSetSlot& s : r.animation_sets) s = AnimationSetSlot{};
  r.vertices_used = 0;
  init_pools(r);
}

}  // namespace scene
