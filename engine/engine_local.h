// Internals shared by the engine's files: the binding tables of the runtime
// routines that live outside routines.cpp.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "brain/brain.h"

// A runtime routine as compiled brains call it (arguments in brain order, the
// running element's record address last).
#define ENGINE_ROUTINE(name)                                                                                   \
  std::int32_t name([[maybe_unused]] std::int32_t a, [[maybe_unused]] std::int32_t b,                        \
                    [[maybe_unused]] std::int32_t c, [[maybe_unused]] std::int32_t d,                        \
                    [[maybe_unused]] std::int32_t e, [[maybe_unused]] std::uint32_t self)

namespace engine {

struct Binding {
  std::string_view name;
  brain::Routine routine;
};

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

}  // namespace engine
