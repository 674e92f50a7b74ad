// Volume shadows: the 28,000-byte shadow-volume buffer, the volumes that
// elements cast from a light, the shadow layers (clipped copies of receiver
// meshes in the shadow scene), their material override and their brain
// routines. The layers are drawn by the render step after each camera's
// picture with the front-plane offsets; sync_shadows keeps them on their
// receivers.
//
// A volume is the prism that an element's box casts away from a light: four
// side planes round the box's outline seen along the light, a near cap through
// the box's centre and a far cap at the volume's reach. Its planes are in the
// shadow scene (world space); each clipped copy hangs below a frame with the
// identity placement that carries those planes, so a receiver moving through
// a still volume is cut where it is now.
#include <algorithm>
#include <cmath>

#include "engine/engine_local.h"
#include "engine/render/render_local.h"
#include "base/log.h"

namespace engine {

namespace {

using project::ElementRecord;

constexpr float kPositionUnit = 512000.0f;  // sub-units per scene unit
constexpr int kVolumeFloats = 1 + kShadowVolumePlanes * 6;

int element_index(const World& w, const ElementRecord* e) { return static_cast<int>(e - w.tables.elements); }

// The scene aspect object of element e's current aspect, or null.
AspectObject* object_of(const World& w, const ElementRecord& e) {
  const project::AspectRecord* a = aspect_at(e.current_aspect);
  if (!a || !w.scene || !w.tables.aspects) return nullptr;
  long n = a - w.tables.aspects;
  if (n < 0 || n >= w.scene->aspect_count) return nullptr;
  return &w.scene->aspect[n];
}

scene::Vec3 position_of(const ElementRecord& e) {
  return {e.position[0] / kPositionUnit, e.position[1] / kPositionUnit, e.position[2] / kPositionUnit};
}

scene::Quat orientation_of(const ElementRecord& e) {
  scene::Vec3 direction, up;
  orientation_vectors(e, direction, up);
  return scene::quat_from_direction_up(direction, up);
}

// The light type of element e (0..4), or -1 when e is no light.
int light_type(const ElementRecord& e) {
  const project::AspectRecord* a = has_tag(e, ".l3d") ? aspect_at(e.current_aspect) : nullptr;
  return a ? std::clamp(a->word[0], 0, 4) : -1;
}

// Direction the light shines from at point c: along a directional light, away
// from a point or spot light. Source light -1 (or one that is no light): the
// first directional light element that is on, else straight down. False for
// an ambient light, which casts nothing.
bool light_direction(const World& w, int light, scene::Vec3 c, scene::Vec3& d) {
  const ElementRecord* l = light >= 0 && light <= w.highest ? &w.tables.elements[light] : nullptr;
  if (l && light_type(*l) < 0) l = nullptr;
  for (int i = 0; !l && i <= w.highest && i < project::kMaxElements; ++i) {
    const ElementRecord& e = w.tables.elements[i];
    int type = light_type(e);
    if ((type == 3 || type == 4) && (e.flags & project::kFlagOn)) l = &e;
  }
  if (!l) {
    d = {0, -1, 0};
    return true;
  }
  int type = light_type(*l);
  if (type == 0) return false;
  if (type == 3 || type == 4) {
    scene::Vec3 up;
    orientation_vectors(*l, d, up);
  } else {
    d = scene::sub(c, position_of(*l));
  }
  d = scene::normalise(d);
  return scene::modulus(d) > 0.5f;
}

// The six planes (point, normal into the volume) of the volume of `source`.
bool derive_volume(const World& w, const ShadowSource& source, float out[kShadowVolumePlanes][6]) {
  if (source.occluder < 0 || source.occluder > w.highest || source.occluder >= project::kMaxElements) return false;
  const ElementRecord& e = w.tables.elements[source.occluder];
  scene::Vec3 c = position_of(e);
  scene::Vec3 d;
  if (!light_direction(w, source.light, c, d)) return false;

  // The box: corner words x1, y1, z1, x2, y2, z2 (L, from the position), or
  // the radius cube when the box is empty.
  const auto* words = reinterpret_cast<const std::int32_t*>(&e);
  float k[6];
  for (int i = 0; i < 6; ++i) k[i] = static_cast<float>(words[kWordBoxCorners + i]) / 1000.0f;
  if (k[0] == k[3] && k[1] == k[4] && k[2] == k[5]) {
    float r = static_cast<float>(e.radius) / 1000.0f;
    if (!(r > 0)) return false;
    k[0] = k[1] = k[2] = -r, k[3] = k[4] = k[5] = r;
  }
  scene::Quat q = orientation_of(e);
  scene::Vec3 x_axis = scene::rotate(q, {1, 0, 0});
  scene::Vec3 u = scene::sub(x_axis, scene::scale(d, scene::dot(x_axis, d)));
  if (scene::modulus(u) < 1e-3f) {
    scene::Vec3 z_axis = scene::rotate(q, {0, 0, 1});
    u = scene::sub(z_axis, scene::scale(d, scene::dot(z_axis, d)));
  }
  u = scene::normalise(u);
  scene::Vec3 v = scene::normalise(scene::cross(d, u));
  float lo_u = INFINITY, hi_u = -INFINITY, lo_v = INFINITY, hi_v = -INFINITY;
  for (int i = 0; i < 8; ++i) {
    scene::Vec3 corner = scene::rotate(q, {k[i & 1 ? 3 : 0], k[i & 2 ? 4 : 1], k[i & 4 ? 5 : 2]});
    lo_u = std::min(lo_u, scene::dot(corner, u)), hi_u = std::max(hi_u, scene::dot(corner, u));
    lo_v = std::min(lo_v, scene::dot(corner, v)), hi_v = std::max(hi_v, scene::dot(corner, v));
  }
  float reach = source.length > 0 ? static_cast<float>(source.length) / kPositionUnit
                                  : static_cast<float>(w.scene ? w.scene->clip_distance : 30);
  const scene::Vec3 planes[kShadowVolumePlanes][2] = {
      {scene::add(c, scene::scale(u, lo_u)), u},
      {scene::add(c, scene::scale(u, hi_u)), scene::scale(u, -1)},
      {scene::add(c, scene::scale(v, lo_v)), v},
      {scene::add(c, scene::scale(v, hi_v)), scene::scale(v, -1)},
      {c, d},
      {scene::add(c, scene::scale(d, std::max(reach, 0.001f))), scene::scale(d, -1)},
  };
  for (int i = 0; i < kShadowVolumePlanes; ++i) {
    const scene::Vec3 p = planes[i][0], n = planes[i][1];
    const float values[6] = {p.x, p.y, p.z, n.x, n.y, n.z};
    std::copy(values, values + 6, out[i]);
  }
  return true;
}

// The shadow material override, made when the first layer needs it.
void apply_material(Scene& s) {
  Shadows& sh = s.shadows;
  const ShadowMaterial& m = sh.material;
  scene::MaterialDesc desc;
  desc.colour = {m.part[0][0], m.part[0][1], m.part[0][2], m.part[0][3]};  // diffuse (ambient reflectance too)
  desc.emissive = {m.part[2][0], m.part[2][1], m.part[2][2]};
  desc.specular = {m.part[3][0], m.part[3][1], m.part[3][2]};
  desc.power = m.power;
  if (scene::valid(sh.override_material)) {
    scene::material_set(*s.renderer, sh.override_material, desc);
  } else {
    sh.override_material = scene::material_create(*s.renderer, desc);
  }
}

// Replaces the clipped copies of one layer by one per volume in the buffer.
void rebuild_copies(Scene& s, ShadowLayer& layer) {
  scene::Renderer& r = *s.renderer;
  Shadows& sh = s.shadows;
  for (int i = 0; i < layer.copies; ++i) scene::frame_destroy(r, layer.volume[i]);
  sh.copies -= layer.copies;
  layer.copies = 0;
  for (int at = 0; at < sh.used;) {
    int planes = static_cast<int>(sh.buffer[at]);
    if (planes <= 0 || at + 1 + planes * 6 > sh.used) break;
    if (layer.copies == kMaxCopiesPerLayer || sh.copies == kMaxShadowCopies) {
      sh.copies_full.note();
      break;
    }
    scene::Frame volume = scene::frame_create(r, layer.layer);
    scene::Frame mirror = scene::frame_create(r, volume);
    if (!scene::valid(volume) || !scene::valid(mirror) || !scene::frame_add_mesh(r, mirror, layer.mesh)) {
      scene::frame_destroy(r, volume);
      base::report("render", "shadow copies: %s", scene::last_error(r));
      break;
    }
    for (int p = 0; p < std::min(planes, scene::kMaxClipPlanes); ++p) {
      const float* f = &sh.buffer[at + 1 + p * 6];
      scene::frame_add_clip_plane(r, volume, {f[0], f[1], f[2]}, {f[3], f[4], f[5]});
    }
    layer.volume[layer.copies] = volume;
    layer.mirror[layer.copies] = mirror;
    ++layer.copies, ++sh.copies;
    at += 1 + planes * 6;
  }
}

Scene* active_scene() {
  World* w = active_world();
  return w ? w->scene : nullptr;
}

// `v_shadow_volume_add` (e, l, length): the volume element e's box casts away
// from light element l (not a light: the first directional light that is on;
// none: straight down) over length position units (0 or less: the clip
// distance). -1 when added; 0 when e is no element, the light is ambient, the
// box is empty, or the buffer has no room for the volume and its end mark.
ROUTINE(routine_v_shadow_volume_add) {
  World* w = active_world();
  ElementRecord* occluder = element_of(a);
  if (!w || !w->scene || !occluder) return 0;
  Shadows& sh = w->scene->shadows;
  if (sh.volumes == kMaxShadowVolumes || sh.used + kVolumeFloats + 1 > kShadowBufferFloats) {
    sh.full.note();
    return 0;
  }
  ElementRecord* light = element_of(b);
  ShadowSource source{element_index(*w, occluder), light ? element_index(*w, light) : -1, c, sh.used};
  float planes[kShadowVolumePlanes][6];
  if (!derive_volume(*w, source, planes)) return 0;
  sh.buffer[sh.used] = kShadowVolumePlanes;
  for (int i = 0; i < kShadowVolumePlanes; ++i) std::copy(planes[i], planes[i] + 6, &sh.buffer[sh.used + 1 + i * 6]);
  sh.used += kVolumeFloats;
  sh.buffer[sh.used] = 0;
  sh.source[sh.volumes++] = source;
  return -1;
}

// `shadow_add` (e, l): the volume of v_shadow_volume_add over the clip distance.
ROUTINE(routine_shadow_add) { return routine_v_shadow_volume_add(a, b, 0, 0, 0, self); }

// `v_shadow_create` (e): a shadow layer per mesh of receiver e's frame, each
// with a clipped copy per buffered volume; volume shadows on. -1 when a layer
// was made.
ROUTINE(routine_v_shadow_create) {
  World* w = active_world();
  ElementRecord* receiver = element_of(a);
  if (!w || !w->scene || !receiver) return 0;
  Scene& s = *w->scene;
  AspectObject* o = object_of(*w, *receiver);
  if (!o || !scene::valid(o->frame)) return 0;
  scene::Renderer& r = *s.renderer;
  Shadows& sh = s.shadows;
  scene::Mesh meshes[8];
  int count = std::min(scene::frame_meshes(r, o->frame, meshes), 8);
  bool made = false;
  for (int m = 0; m < count; ++m) {
    if (sh.layers == kMaxShadowLayers) {
      sh.layers_full.note();
      break;
    }
    ShadowLayer& layer = sh.layer[sh.layers];
    layer = ShadowLayer{};
    layer.layer = scene::frame_create(r, s.root[kShadowRoot]);
    if (!scene::valid(layer.layer)) break;
    layer.source = o->frame;
    layer.mesh = meshes[m];
    scene::frame_set_sort_mode(r, layer.layer, scene::SortMode::front_to_back);
    if (!scene::valid(sh.override_material)) apply_material(s);
    scene::frame_set_material_override(r, layer.layer, sh.override_material);
    rebuild_copies(s, layer);
    ++sh.layers;
    made = true;
  }
  if (made) sh.on = true;
  sync_shadows(*w);
  return made ? -1 : 0;
}

// `v_shadow_set` (k, a, b, c, d): part k of the shadow material, 0 diffuse,
// 1 ambient, 2 emissive, 3 specular (red, green, blue, alpha / 1000), 4 the power (a / 1000).
ROUTINE(routine_v_shadow_set) {
  Scene* s = active_scene();
  if (!s) return 0;
  ShadowMaterial& m = s->shadows.material;
  if (a >= 0 && a <= 3) {
    const std::int32_t values[4] = {b, c, d, e};
    for (int i = 0; i < 4; ++i) m.part[a][i] = static_cast<float>(values[i]) / 1000.0f;
  } else if (a == 4) {
    m.power = static_cast<float>(b) / 1000.0f;
  } else {
    return 0;
  }
  if (scene::valid(s->shadows.override_material)) apply_material(*s);
  return 0;
}

// `v_shadow_volume_reset` (): the buffer emptied, volume shadows off.
ROUTINE(routine_v_shadow_volume_reset) {
  Scene* s = active_scene();
  if (!s) return 0;
  s->shadows.used = 0;
  s->shadows.volumes = 0;
  s->shadows.buffer[0] = 0;
  s->shadows.on = false;
  return 0;
}

// `v_shadow_update` (e): the volumes cast by element e (by every element when
// e is no element) derived again from where the elements and lights are now,
// in place; then every layer's clipped copies rebuilt from the whole buffer.
ROUTINE(routine_v_shadow_update) {
  World* w = active_world();
  if (!w || !w->scene) return 0;
  Shadows& sh = w->scene->shadows;
  ElementRecord* occluder = element_of(a);
  int only = occluder ? element_index(*w, occluder) : -1;
  for (int i = 0; i < sh.volumes; ++i) {
    const ShadowSource& source = sh.source[i];
    if (only >= 0 && source.occluder != only) continue;
    float planes[kShadowVolumePlanes][6];
    if (!derive_volume(*w, source, planes)) continue;  // keeps its last planes
    for (int p = 0; p < kShadowVolumePlanes; ++p) std::copy(planes[p], planes[p] + 6, &sh.buffer[source.at + 1 + p * 6]);
  }
  for (int i = 0; i < sh.layers; ++i) rebuild_copies(*w->scene, sh.layer[i]);
  sync_shadows(*w);
  return 0;
}

// `v_shadow_delete` (): every shadow layer removed.
ROUTINE(routine_v_shadow_delete) {
  Scene* s = active_scene();
  if (!s) return 0;
  Shadows& sh = s->shadows;
  for (int i = 0; i < sh.layers; ++i) scene::frame_destroy(*s->renderer, sh.layer[i].layer);
  sh.layers = 0;
  sh.copies = 0;
  return 0;
}

constexpr Binding kShadowBindings[] = {
    {"v_shadow_volume_add", routine_v_shadow_volume_add,
     "a element, b light element, c length in L/512 -> -1 when the volume a's box casts was added"},
    {"shadow_add", routine_shadow_add,
     "a element, b light element: as v_shadow_volume_add over the clip distance -> -1 when added"},
    {"v_shadow_create", routine_v_shadow_create,
     "a element -> -1 when shadow layers were made for its meshes (volume shadows on)"},
    {"v_shadow_set", routine_v_shadow_set,
     "a part (0 diffuse 1 ambient 2 emissive 3 specular), b..e RGBA in 1/1000; part 4: b power in 1/1000"},
    {"v_shadow_volume_reset", routine_v_shadow_volume_reset, "the shadow volumes emptied, volume shadows off"},
    {"v_shadow_update", routine_v_shadow_update,
     "a element (none: all): its shadow volumes derived again, the layers rebuilt"},
    {"v_shadow_delete", routine_v_shadow_delete, "every shadow layer removed"},
};

}  // namespace

std::span<const Binding> shadow_bindings() { return kShadowBindings; }

void sync_shadows(World& w) {
  Scene* s = w.scene;
  if (!s) return;
  scene::Renderer& r = *s->renderer;
  Shadows& sh = s->shadows;
  for (int i = 0; i < sh.layers; ++i) {
    ShadowLayer& layer = sh.layer[i];
    // A hidden receiver hides its shadow too; only a shown one is placed.
    std::uint32_t traversal = scene::frame_traversal(r, layer.source);
    scene::frame_set_traversal(r, layer.layer, traversal);
    if (!(traversal & scene::kRenderEnable)) continue;
    scene::Vec3 at = scene::frame_position(r, layer.source, s->root[kMainRoot]);
    scene::Quat turn = scene::frame_rotation(r, layer.source, s->root[kMainRoot]);
    scene::Vec3 size = scene::frame_scale(r, layer.source);
    for (int k = 0; k < layer.copies; ++k) {
      scene::frame_set_position(r, layer.mirror[k], s->root[kShadowRoot], at);
      scene::frame_set_rotation(r, layer.mirror[k], s->root[kShadowRoot], turn);
      scene::frame_set_scale(r, layer.mirror[k], size);
    }
  }
}

void render_shadows(World& w, scene::Viewport viewport) {
  Scene* s = w.scene;
  if (!s || !s->shadows.on || s->shadows.layers == 0) return;
  scene::Renderer& r = *s->renderer;
  float front = scene::viewport_front(r, viewport), back = scene::viewport_back(r, viewport);
  float field = scene::viewport_field(r, viewport);
  float k = 240.0f * front / field;  // the view angle, kept while the planes move
  float o = s->shadow_offset;
  auto draw = [&](scene::Frame tree) {
    scene::viewport_set_front(r, viewport, front + o);
    scene::viewport_set_back(r, viewport, back + o);
    scene::viewport_set_field(r, viewport, (front + o) * 240.0f / k);
    scene::render(r, viewport, tree);
  };
  if (s->shadow_layering) {
    for (int i = 0; i < s->shadows.layers; ++i, o += 0.001f) draw(s->shadows.layer[i].layer);
  } else {
    draw(s->root[kShadowRoot]);
  }
  scene::viewport_set_front(r, viewport, front);
  scene::viewport_set_back(r, viewport, back);
  scene::viewport_set_field(r, viewport, field);
}

}  // namespace engine
