// The engine's binding tables, one per routine file, bound as one.
#include <vector>

#include "engine/engine_local.h"

namespace engine {

namespace {

// A routine file's table and the subject it comes under in the keyword reference.
struct Table {
  std::span<const Binding> (*rows)();
  std::string_view subject;
};
constexpr Table kTables[] = {
    {field_bindings, "Element fields"},
    {element_bindings, "Choosing and switching elements"},
    {motion_bindings, "Motion"},
    {math_bindings, "Arithmetic"},
    {run_bindings, "Run control"},
    {collision_bindings, "Collisions"},
    {poly_bindings, "Collisions"},
    {input_bindings, "Keyboard, mouse and game controllers"},
    {render_bindings, "Rendering"},
    {mesh_bindings, "Model parts and extra model objects"},
    {track_bindings, "Tracks"},
    {save_game_bindings, "Save games"},
    {spline_bindings, "Splines"},
    {video_bindings, "Video and programs"},
    {light_bindings, "Lights"},
    {shadow_bindings, "Shadows"},
    {layer_bindings, "Text and 2D layers"},
    {sound_bindings, "Sound"},
    {race_bindings, "Races"},
    {ground_bindings, "Ground"},
    {string_bindings, "Strings, arrays and dialogs"},
    {array_bindings, "Strings, arrays and dialogs"},
    {dialog_bindings, "Strings, arrays and dialogs"},
    {network_bindings, "Network"},
};

}  // namespace

void bind_routines() {
  for (const Table& table : kTables) brain::bind_table(table.rows(), table.subject);
  add_tick_phase(kTickCheckpoints, "checkpoints", advance_racers);
}

std::span<const std::string_view> bound_names() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> all;
    for (const Table& table : kTables)
      for (const Binding& b : table.rows()) all.push_back(b.name);
    return all;
  }();
  return names;
}

}  // namespace engine
