// The brain routines of light elements: colour and intensity (linear
// attenuation) read from the light's aspect record and written to it and to
// the live scene light.
#include <algorithm>

#include "engine/engine_local.h"
#include "engine/render/render_local.h"

namespace engine {

namespace {

// Aspect words of ".l3d" records (formats.md): type, colour 0xRRGGBB, attenuation.
constexpr int kLightColour = 1, kLightAttenuation = 2;

struct LightRef {
  std::int32_t* word = nullptr;  // the aspect record's words (the run's own table, writable)
  scene::Light light;            // the scene light, when a scene runs
  Scene* scene = nullptr;
};

// The light of element reference e, or an empty ref when e is no light element.
LightRef light_of(std::int32_t reference) {
  LightRef ref;
  project::ElementRecord* e = element_of(reference);
  World* w = active_world();
  if (!e || !w || !has_tag(*e, ".l3d")) return ref;
  const project::AspectRecord* a = aspect_at(e->current_aspect);
  if (!a) return ref;
  ref.word = const_cast<std::int32_t*>(a->word);
  if (w->scene && w->tables.aspects) {
    long n = a - w->tables.aspects;
    if (n >= 0 && n < w->scene->aspect_count) ref.light = w->scene->aspect[n].light, ref.scene = w->scene;
  }
  return ref;
}

// Puts the record's colour and attenuation into the scene light.
void apply(const LightRef& ref) {
  if (!ref.scene || !scene::valid(ref.light)) return;
  scene::LightDesc d = scene::light_get(*ref.scene->renderer, ref.light);
  auto rgb = static_cast<std::uint32_t>(ref.word[kLightColour]);
  d.colour = {((rgb >> 16) & 255) / 255.0f, ((rgb >> 8) & 255) / 255.0f, (rgb & 255) / 255.0f};
  d.linear = 1.0f - (ref.word[kLightAttenuation] & 1023) / 1024.0f;
  scene::light_set(*ref.scene->renderer, ref.light, d);
}

// `light_color_set` (e, r, g, b): each channel 0..255 (clamped).
ROUTINE(routine_light_color_set) {
  LightRef ref = light_of(a);
  if (!ref.word) return 0;
  auto channel = [](std::int32_t v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
  ref.word[kLightColour] = static_cast<std::int32_t>(channel(b) << 16 | channel(c) << 8 | channel(d));
  apply(ref);
  return 0;
}

template <int kShift>
ROUTINE(routine_light_color_get) {
  LightRef ref = light_of(a);
  return ref.word ? (ref.word[kLightColour] >> kShift) & 255 : 0;
}

// `light_intensity_set` (e, v): linear attenuation 1 - (v & 1023) / 1024.
ROUTINE(routine_light_intensity_set) {
  LightRef ref = light_of(a);
  if (!ref.word) return 0;
  ref.word[kLightAttenuation] = b & 1023;
  apply(ref);
  return 0;
}

// `light_intensity` (e): (1 - linear attenuation) x 1024, which is the stored 10 bits.
ROUTINE(routine_light_intensity) {
  LightRef ref = light_of(a);
  return ref.word ? ref.word[kLightAttenuation] & 1023 : 0;
}

constexpr Binding kLightBindings[] = {
    {"light_color_set", routine_light_color_set, "a light element, b red, c green, d blue 0..255: its colour"},
    {"light_color_red", routine_light_color_get<16>, "a light element -> red of its colour, 0..255"},
    {"light_color_green", routine_light_color_get<8>, "a light element -> green of its colour, 0..255"},
    {"light_color_blue", routine_light_color_get<0>, "a light element -> blue of its colour, 0..255"},
    {"light_intensity_set", routine_light_intensity_set, "a light element, b 0..1023: linear attenuation 1 - b / 1024"},
    {"light_intensity", routine_light_intensity, "a light element -> (1 - linear attenuation) x 1024, 0..1023"},
};

}  // namespace

std::span<const Binding> light_bindings() { return kLightBindings; }

}  // namespace engine
