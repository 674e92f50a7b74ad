// The engine's binding tables, one per routine file, bound as one.
#include <vector>

#include "engine/engine_local.h"

namespace engine {

namespace {

using Table = std::span<const Binding> (*)();
constexpr Table kTables[] = {field_bindings,     element_bindings, motion_bindings, math_bindings,
                             run_bindings,       collision_bindings, input_bindings, render_bindings,
                             track_bindings,     save_game_bindings, spline_bindings, video_bindings,
                             light_bindings,     shadow_bindings,    layer_bindings,
                             race_bindings,      ground_bindings};

}  // namespace

void bind_routines() {
  for (Table table : kTables) brain::bind_table(table());
  add_tick_phase(kTickCheckpoints, "checkpoints", advance_racers);
}

std::span<const std::string_view> bound_names() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> all;
    for (Table table : kTables)
      for (const Binding& b : table()) all.push_back(b.name);
    return all;
  }();
  return names;
}

}  // namespace engine
