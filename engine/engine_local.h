// Internals shared by the engine's files: the helpers of the runtime routines
// and the binding table each routine file exports.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "brain/brain.h"
#include "engine/engine.h"

namespace engine {

using Binding = brain::Binding;

// ---- Helpers of the runtime routines ---------------------------------------------------------

// Wrapping 32-bit arithmetic, as the machine's 32-bit instructions give.
inline std::int32_t add32(std::int32_t x, std::int32_t y) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(x) + static_cast<std::uint32_t>(y));
}
inline std::int32_t sub32(std::int32_t x, std::int32_t y) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(x) - static_cast<std::uint32_t>(y));
}
inline std::int32_t low32(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}
inline std::int32_t neg32(std::int32_t x) { return sub32(0, x); }
inline std::int32_t abs32(std::int32_t x) { return x < 0 ? neg32(x) : x; }

inline constexpr std::int32_t kTrue = -1;  // a brain's "true"

// Record word w (0..255).
inline std::int32_t* word(project::ElementRecord& r, int w) { return reinterpret_cast<std::int32_t*>(&r) + w; }

inline World* world() { return active_world(); }  // null outside a run
// Highest element index of the run, -1 outside one.
inline int highest() {
  World* w = world();
  return w ? (w->highest < project::kMaxElements ? w->highest : project::kMaxElements - 1) : -1;
}
inline project::ElementRecord* record_at(int i) { return element_table() + i; }
// The input devices the run reads (null outside a run).
inline platform::Input* run_input() {
  World* w = world();
  return w ? w->input : nullptr;
}

// `random` lo..hi (either order) from the run's random state and the input samples.
std::int32_t random_draw(std::int32_t lo, std::int32_t hi);
// sqrt of the squared per-axis distances >> 9, rounded, in L (with or without y).
std::int64_t length_between(const project::ElementRecord& p, const project::ElementRecord& q, bool with_y);
// A length in L as sub-units (<< 9, low 32 bits).
inline std::int32_t sub_units(std::int64_t length) { return low32(length << 9); }
// Direction in the x-z plane from p to q in 1/512 degree (0 when p is q).
std::int32_t direction_xz(const std::int32_t* p, const std::int32_t* q);
std::int32_t direction_xz(const project::ElementRecord& p, const project::ElementRecord& q);

// An element's own sound (`on`, `off`): played from the start, looping unless
// one-shot (flags bit 4), placed at the element; stopped.
void play_element_sound(project::ElementRecord& e);
void stop_element_sound(project::ElementRecord& e);

// A value in the range of the handle table (0..8191), with or without a block.
inline bool is_handle_number(std::int32_t value) {
  return static_cast<std::uint32_t>(value) < static_cast<std::uint32_t>(kHandles);
}

// The runtime errors of the string, element and dialog routines.
enum class RuntimeError { str_copy, str_add, str_chr, str_num, input_box, file_box, element };
// Raises one (runtime_error()); `element` names the element that was not found.
void raise_runtime_error(World& world, RuntimeError which, std::string_view name = {});

// ---- Binding tables ---------------------------------------------------------------------------

std::span<const Binding> field_bindings();      // routines_fields.cpp
std::span<const Binding> element_bindings();    // routines_elements.cpp
std::span<const Binding> motion_bindings();     // routines_motion.cpp
std::span<const Binding> math_bindings();       // routines_math.cpp
std::span<const Binding> run_bindings();        // routines_run.cpp
std::span<const Binding> collision_bindings();  // collide.cpp
std::span<const Binding> input_bindings();      // input.cpp
std::span<const Binding> render_bindings();     // render_routines.cpp
std::span<const Binding> track_bindings();      // tracks.cpp
std::span<const Binding> save_game_bindings();  // save_game.cpp
std::span<const Binding> spline_bindings();     // splines.cpp
std::span<const Binding> video_bindings();      // video.cpp
std::span<const Binding> light_bindings();      // lights.cpp
std::span<const Binding> shadow_bindings();     // shadows.cpp
std::span<const Binding> layer_bindings();      // layers.cpp
std::span<const Binding> sound_bindings();      // sound.cpp
std::span<const Binding> race_bindings();       // races.cpp
std::span<const Binding> ground_bindings();     // ground.cpp
std::span<const Binding> string_bindings();     // strings.cpp
std::span<const Binding> array_bindings();      // arrays.cpp
std::span<const Binding> dialog_bindings();     // dialogs.cpp

}  // namespace engine
