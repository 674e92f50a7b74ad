// The engine's binding tables, one per routine file, bound as one.
#include <vector>

#include "engine/engine_local.h"

namespace engine {

namespace {

using namespace project;

using Table = std::span<const Binding> (*)();
constexpr Table kTables[] = {field_bindings,     element_bindings, motion_bindings, math_bindings,
                             run_bindings,       collision_bindings, input_bindings, render_bindings,
                             track_bindings,     save_game_bindings, spline_bindings, video_bindings,
                             light_bindings,     shadow_bindings,    layer_bindings};

// The keywords of routines_fields.cpp bound to get_word / set_word: brains compile them in line
// when their element is the running one (routines_test checks both ways agree).
struct FieldBinding {
  std::string_view name;
  brain::FieldAccess access;
  int word;
};
constexpr brain::FieldAccess kGet = brain::FieldAccess::get, kSet = brain::FieldAccess::set;
constexpr FieldBinding kFields[] = {
    {"position_x", kGet, kWordPosition},         {"position_y", kGet, kWordPosition + 1},
    {"position_z", kGet, kWordPosition + 2},     {"position_x_set", kSet, kWordPosition},
    {"position_y_set", kSet, kWordPosition + 1}, {"position_z_set", kSet, kWordPosition + 2},
    {"rotation_x_set", kSet, kWordRotation},     {"rotation_y_set", kSet, kWordRotation + 1},
    {"rotation_z_set", kSet, kWordRotation + 2}, {"velocity_x", kGet, kWordVelocity},
    {"velocity_y", kGet, kWordVelocity + 1},     {"velocity_z", kGet, kWordVelocity + 2},
    {"velocity_x_set", kSet, kWordVelocity},     {"velocity_y_set", kSet, kWordVelocity + 1},
    {"velocity_z_set", kSet, kWordVelocity + 2}, {"spin_x", kGet, kWordSpin},
    {"spin_y", kGet, kWordSpin + 1},             {"spin_z", kGet, kWordSpin + 2},
    {"spin_x_set", kSet, kWordSpin},             {"spin_y_set", kSet, kWordSpin + 1},
    {"spin_z_set", kSet, kWordSpin + 2},         {"credits", kGet, kWordCredits},
    {"credits_set", kSet, kWordCredits},         {"element_id", kGet, kWordCollisionCode},
    {"element_id_set", kSet, kWordCollisionCode}, {"timer", kGet, kWordTickCounter},
    {"timer_set", kSet, kWordTickCounter},       {"flat_scale_x", kGet, kWordScaleX},
    {"flat_scale_y", kGet, kWordScaleY},         {"scale_z", kGet, kWordScaleZ},
    {"sprite_clip_x1", kGet, kWordDisplayArea},  {"sprite_clip_y1", kGet, kWordDisplayArea + 1},
    {"sprite_clip_x2", kGet, kWordDisplayArea + 2}, {"sprite_clip_y2", kGet, kWordDisplayArea + 3},
    {"last_animation_frame", kGet, kWordFrameLimit},
};

}  // namespace

void bind_routines() {
  for (Table table : kTables)
    for (const Binding& b : table()) brain::bind_routine(b.name, b.routine);
  for (const FieldBinding& f : kFields) brain::bind_field(f.name, f.access, f.word);
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
