// The brain routines of the renderer: fog, background style, clip distance,
// display mode, camera field of view, the ".x3d" animation clock, `render` and
// the device state setters.
#include <algorithm>
#include <cmath>

#include "base/files.h"
#include "engine/engine_local.h"
#include "engine/render/parts.h"
#include "engine/render/render_local.h"
#include "engine/render/shapes_local.h"

namespace engine {

namespace {

std::int32_t clamp32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

// The lowest point of an element's model below its position, in sub-units: its
// vertices (in L) scaled by the element's scales, turned about X and then Z.
// ".x3d" meshes keep their depth in record word 19; other kinds give 0.
ROUTINE(routine_bottom) {
  World* w = active_world();
  project::ElementRecord* r = element_of(a);
  if (!w || !r) return 0;
  if (has_tag(*r, ".x3d")) return static_cast<std::int32_t>(static_cast<std::uint32_t>(r->size[0]) << 9);
  const std::int32_t scale[3] = {r->scale_x, r->scale_y, r->scale_z};
  std::int64_t lowest = INT32_MAX;
  bool any = false;
  auto take = [&](const std::int64_t l[3]) {
    std::int32_t c[3];
    for (int k = 0; k < 3; ++k) c[k] = clamp32(l[k] * scale[k] / 1000);
    Vec3 v{c[0], c[1], c[2]};
    rotate_x(v, r->rotation[0]);
    rotate_z(v, r->rotation[2]);
    lowest = std::min<std::int64_t>(lowest, v.y);
    any = true;
  };
  const project::AspectRecord* aspect = aspect_at(r->current_aspect);
  if (aspect && has_tag(*r, ".a3d")) {
    std::span<const std::int32_t> v = shape_vertices(w->tables, *aspect);  // x, y, z in L
    for (std::size_t i = 0; i + 2 < v.size(); i += 3) {
      const std::int64_t l[3] = {v[i], v[i + 1], v[i + 2]};
      take(l);
    }
  } else if (aspect && has_tag(*r, ".v3d") && w->scene) {
    const Scene& s = *w->scene;
    int n = aspect_index(*w, r->current_aspect);
    if (n < 0 || n >= s.aspect_count) return 0;
    const AspectObject& o = s.aspect[n];
    for (std::uint32_t i = o.first_point; i < o.first_point + o.point_count; ++i) {
      const scene::Vec3& p = s.points[i];
      const std::int64_t l[3] = {std::llround(p.x * 1000.0), std::llround(p.y * 1000.0), std::llround(p.z * 1000.0)};
      take(l);
    }
  }
  return any ? clamp32(lowest * 512) : 0;
}

ROUTINE(routine_fog_set) {
  World* w = active_world();
  if (!w) return 0;
  w->render.fog_start = a / 1000;  // thousandths of a sub-unit: scene units x 512
  w->render.fog_end = b / 1000;
  apply_fog(*w);
  return 0;
}
ROUTINE(routine_fog_start) {
  World* w = active_world();
  return w ? clamp32(static_cast<std::int64_t>(w->render.fog_start) * 1000) : 0;
}
ROUTINE(routine_fog_end) {
  World* w = active_world();
  return w ? clamp32(static_cast<std::int64_t>(w->render.fog_end) * 1000) : 0;
}
ROUTINE(routine_fog_color_set) {
  World* w = active_world();
  if (!w) return 0;
  auto channel = [](std::int32_t v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
  w->render.fog_colour = 0xFF000000u | channel(a) << 16 | channel(b) << 8 | channel(c);
  apply_fog(*w);
  return 0;
}
ROUTINE(routine_fogeffect_set) {
  World* w = active_world();
  if (!w || !w->scene) return 0;
  w->scene->fog_effect = a != 0;
  apply_fog(*w);
  return 0;
}
ROUTINE(routine_background3d_set) {
  if (Scene* s = active_scene()) s->background_style = a;
  return 0;
}
ROUTINE(routine_clip_distance) {
  Scene* s = active_scene();
  return s ? clamp32(static_cast<std::int64_t>(s->clip_distance) * 512000) : 0;
}
ROUTINE(routine_display_mode) {
  Scene* s = active_scene();
  return s ? s->setup.options.display_mode : 1;
}
// The display mode and device take effect at the next start; the player
// writes both to config.ini at once.
void store_display(const Scene& s) {
  const RunOptions& o = s.setup.options;
  if (o.store_display)
    o.store_display(o.store_user, s.display_mode_request ? s.display_mode_request : o.display_mode, s.rendering_device);
}
ROUTINE(routine_display_mode_set) {
  if (Scene* s = active_scene()) s->display_mode_request = a, store_display(*s);
  return 0;
}
ROUTINE(routine_rendering_device_set) {
  if (Scene* s = active_scene()) s->rendering_device = a & 3, store_display(*s);
  return 0;
}
ROUTINE(routine_dithering_set) {
  if (Scene* s = active_scene()) scene::set_dither(*s->renderer, a != 0);
  return 0;
}
ROUTINE(routine_specular_set) {
  if (Scene* s = active_scene()) scene::set_specular(*s->renderer, a != 0);
  return 0;
}
// State changes cost nothing to order in this renderer: accepted, no effect.
ROUTINE(routine_state_change_optimize) { return 0; }
ROUTINE(routine_flats_priority_set) {
  if (Scene* s = active_scene()) s->overlays_deferred = a != 0;
  return 0;
}
ROUTINE(routine_v_shadow_factor) {
  Scene* s = active_scene();
  if (!s) return 0;
  s->shadow_layering = a != 0;
  if (b >= 1 && b <= 1000) s->shadow_offset = static_cast<float>(b) * 0.001f;
  return 0;
}
ROUTINE(routine_camera_fov_set) {
  World* w = active_world();
  project::ElementRecord* camera = element_of(a);
  if (!w || !w->scene || !camera) return 0;
  int i = static_cast<int>(camera - w->tables.elements);
  for (int k = 0; k < w->scene->camera_count; ++k)
    if (w->scene->camera[k].element == i) w->scene->camera[k].fov_divisor = b == 0 ? 1 : b;  // never divide by 0
  return 0;
}
// `camera_fov` (s): the field-of-view percentage of every camera, as the
// project setting gives it (below 1 or above 100: 100).
ROUTINE(routine_camera_fov) {
  if (Scene* s = active_scene()) s->field_of_view = a < 1 || a > 100 ? 100 : a;
  return 0;
}
// `3dbg_color_set` (r, g, b): the colour that background style 2 and above fills
// camera rectangles with.
ROUTINE(routine_3dbg_color_set) {
  auto channel = [](std::int32_t v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
  if (Scene* s = active_scene()) s->background_colour = 0xFF000000u | channel(a) << 16 | channel(b) << 8 | channel(c);
  return 0;
}
ROUTINE(routine_render) {
  if (World* w = active_world()) render_step(*w);
  return 0;
}

// `clear` (): what brains printed so far this pass is dropped, so the next
// picture shows none of it.
ROUTINE(routine_clear) {
  if (World* w = active_world()) clear_text_list(*w);
  return 0;
}
// `reset` (): the text list and the shadow layering as a new scene has them.
ROUTINE(routine_reset) {
  World* w = active_world();
  if (!w) return 0;
  reset_text_list(w->text);
  if (Scene* s = w->scene) s->shadow_layering = false, s->shadow_offset = 0.001f;
  return 0;
}
// `bmp_show` (path): the background scene wears that image; -1 when it does.
ROUTINE(routine_bmp_show) {
  World* w = active_world();
  if (!w || !w->scene) return 0;
  base::Text path = brain_file(*w, text_argument(a));
  if (path.empty() || !base::file_exists(path)) return 0;
  show_background_image(*w->scene, path);
  return kTrue;
}

// The clock words of an ".x3d" element's current aspect, or null.
std::int32_t* mesh_clock(std::int32_t reference) {
  project::ElementRecord* e = element_of(reference);
  if (!e || !has_tag(*e, ".x3d")) return nullptr;
  const project::AspectRecord* a = aspect_at(e->current_aspect);
  return a ? const_cast<std::int32_t*>(a->word) : nullptr;  // the aspect table is the run's own, writable
}

template <int kWord>
ROUTINE(routine_clock_get) {
  std::int32_t* w = mesh_clock(a);
  return w ? w[kWord] : 0;
}
template <int kWord>
ROUTINE(routine_clock_set) {
  if (std::int32_t* w = mesh_clock(a)) w[kWord] = b;
  return 0;
}
ROUTINE(routine_clock_range_set) {
  if (std::int32_t* w = mesh_clock(a)) w[kMeshRangeStart] = b, w[kMeshRangeEnd] = c;
  return 0;
}

constexpr Binding kRenderBindings[] = {
    {"bottom", routine_bottom, "a element -> lowest point of its scaled, turned shape below its position, in L/512"},
    {"fog_set", routine_fog_set, "a start, b end in L/512: the fog range"},
    {"fog_start", routine_fog_start, "-> fog start in L/512"},
    {"fog_end", routine_fog_end, "-> fog end in L/512"},
    {"fog_color_set", routine_fog_color_set, "a red, b green, c blue 0..255: the fog colour"},
    {"fogeffect_set", routine_fogeffect_set, "a 1 on, 0 off: scene fog"},
    {"background3d_set", routine_background3d_set,
     "a style: 0 nothing behind the scene, 1 the background scene, 2+ a colour fill"},
    {"clip_distance", routine_clip_distance, "-> the clip distance in L/512"},
    {"display_mode", routine_display_mode, "-> display mode: 1, 2 640 x 480; 4, 8 800 x 600; 16, 32 1024 x 768"},
    {"display_mode_set", routine_display_mode_set, "a display mode: taken at the next start (the player writes config.ini)"},
    {"rendering_device_set", routine_rendering_device_set, "a device 0..3: taken at the next start (the player writes config.ini)"},
    {"dithering_set", routine_dithering_set, "a 1 on, 0 off: dithering"},
    {"specular_set", routine_specular_set, "a 1 on, 0 off: specular highlights"},
    {"state_change_optimize", routine_state_change_optimize, "a: accepted, no effect here"},
    {"flats_priority_set", routine_flats_priority_set, "a 1: overlay scene drawn after all cameras, 0: in each camera"},
    {"v_shadow_factor", routine_v_shadow_factor,
     "a 1 layered, 0 not; b 1..1000: shadow layer offset in thousandths of a scene unit"},
    {"camera_fov_set", routine_camera_fov_set,
     "a camera element, b focal length in pixels (0 taken as 1): its field of view"},
    {"camera_fov", routine_camera_fov, "a percentage 1..100 (others 100): every camera's field-of-view percentage"},
    {"3dbg_color_set", routine_3dbg_color_set, "a red, b green, c blue 0..255: colour of background style 2 and above"},
    {"render", routine_render, "draws a picture now"},
    {"clear", routine_clear, "what brains printed so far this pass is dropped: the next picture shows none of it"},
    {"reset", routine_reset, "text list emptied, text colour white, shadow layering off at offset 0.001: as a new scene"},
    {"bmp_show", routine_bmp_show, "a image file text (.bmp, .pcx): the background scene wears it -> -1 when found"},
    {"h_animation_speed", routine_clock_get<kMeshSpeed>,
     "a .x3d element -> animation speed in thousandths of a second per tick"},
    {"h_animation_speed_set", routine_clock_set<kMeshSpeed>,
     "a .x3d element, b thousandths of a second per tick: animation speed"},
    {"h_animation_tick", routine_clock_get<kMeshTime>, "a .x3d element -> animation time in thousandths of a second"},
    {"h_animation_tick_set", routine_clock_set<kMeshTime>, "a .x3d element, b thousandths of a second: animation time"},
    {"h_animation_range_set", routine_clock_range_set,
     "a .x3d element, b start, c end in thousandths of a second: the looped range"},
    {"h_animation_range_start", routine_clock_get<kMeshRangeStart>,
     "a .x3d element -> start of its looped range in thousandths of a second"},
    {"h_animation_range_end", routine_clock_get<kMeshRangeEnd>,
     "a .x3d element -> end of its looped range in thousandths of a second"},
};

}  // namespace

std::span<const Binding> render_bindings() { return kRenderBindings; }

}  // namespace engine
