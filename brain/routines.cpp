// Runtime-routine bindings: which C++ routine each keyword calls. The routines
// of later subsystems start as the placeholder, listed in one place below.
#include <cstdlib>
#include <limits>
#include <string_view>

#include "brain/local.h"
#include "base/log.h"

namespace brain {

namespace {

std::int32_t placeholder(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                         std::uint32_t) {
  return 0;
}

// ---- Arithmetic routines -----------------------------------------------------------

std::int32_t routine_sum(std::int32_t a, std::int32_t b, std::int32_t, std::int32_t, std::int32_t,
                         std::uint32_t) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t routine_subtract(std::int32_t a, std::int32_t b, std::int32_t, std::int32_t, std::int32_t,
                              std::uint32_t) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// The low 32 bits of the product.
std::int32_t routine_multiply(std::int32_t a, std::int32_t b, std::int32_t, std::int32_t, std::int32_t,
                              std::uint32_t) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(a) * b));
}

// Truncating; 2147483647 for a zero divisor, INT_MIN for INT_MIN / -1.
std::int32_t routine_divide(std::int32_t a, std::int32_t b, std::int32_t, std::int32_t, std::int32_t,
                            std::uint32_t) {
  if (b == 0) return std::numeric_limits<std::int32_t>::max();
  if (b == -1) return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a));
  return a / b;
}

// |INT_MIN| stays INT_MIN, as the machine's negation gives.
std::int32_t routine_absolute_value(std::int32_t a, std::int32_t, std::int32_t, std::int32_t,
                                    std::int32_t, std::uint32_t) {
  return a < 0 ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a)) : a;
}

struct Binding {
  std::string_view name;  // the first name of its synonym group
  Routine routine;
};

constexpr Binding kRoutines[] = {
    {"absolute_value", routine_absolute_value},
    {"divide", routine_divide},
    {"multiply", routine_multiply},
    {"subtract", routine_subtract},
    {"sum", routine_sum},
};

// Keywords whose routines live outside this folder. They start bound to the
// placeholder, which returns 0; the engine binds its routines over them at
// start-up (bind_routine()), and is_placeholder() tells which still are.
constexpr std::string_view kPlaceholders[] = {
    "3dbg_color_set", "above_ground_level", "angle", "animate", "animation_frame",
    "animation_frame_set", "any_input", "attract", "attract_xz", "background_color", "between",
    "boing_x", "boing_y", "boing_z", "camera_fov", "camera_fov_set", "child_pos", "child_rot",
    "collision", "collisions_off", "collisions_on", "collision_color", "collision_list",
    "collision_map", "collision_map_set", "collision_range", "counter_picked", "credits_add",
    "credits_set", "credits", "debug", "dimension_abs", "direction_xz", "distance_xz", "distance",
    "drag", "drag_xz", "drag_y", "element_index", "every_tics", "exemode", "exit", "any_input_exit",
    "par_count", "par_get", "factor_512", "first_element", "flash", "flat_scale_set",
    "flat_scale_x", "flat_scale_y", "follow", "frame_refresh", "frame_refresh_all", "friction",
    "friction_xz", "friction_y", "global", "global_add", "global_set", "gravity", "ground_level",
    "ground_slope", "hide", "inside_area_xz", "inside_volume", "interpolate", "joy_b", "joy1_x",
    "joy1_y", "joy2_b", "joy2_x", "joy2_y", "join", "keyboard", "scancode", "last_element",
    "last_animation_frame", "lift", "light_color_set", "light_color_red", "light_color_green",
    "light_color_blue", "light_intensity_set", "light_intensity", "limit", "local", "local_set",
    "off", "on", "on_list", "on_range", "over_ground", "over_ground_g", "pause", "play_set",
    "play_sound", "pocket_add", "pocket_set", "pocket", "position_copy", "position_x", "position_y",
    "position_z", "position_x_add", "position_y_add", "position_z_add", "position_x_set",
    "position_y_set", "position_z_set", "random_position_xz", "resume", "resume_x", "rotation_copy",
    "rotation_x", "rotation_y", "rotation_z", "rotation_x_add", "rotation_y_add", "rotation_z_add",
    "rotation_x_set", "rotation_y_set", "rotation_z_set", "rotation_axis_set", "rotation_axis_add",
    "orientation_set", "local_axis", "samplerate_set", "save", "save_x", "scale_set", "scale_z",
    "show", "signal_reset", "signal_set", "signal", "sight", "sound_mode_set", "sound_status",
    "speed", "speed_lz", "speed_set", "speed_xz", "speed_xz_set", "spin_copy", "spin_update",
    "spin_x", "spin_y", "spin_z", "spin_x_add", "spin_y_add", "spin_z_add", "spin_x_set",
    "spin_y_set", "spin_z_set", "sprite_3d_pos", "sprite_clip_set", "sprite_clip_x1",
    "sprite_clip_x2", "sprite_clip_y1", "sprite_clip_y2", "sprite_picked", "state_reset",
    "state_set", "state", "status", "steer", "steer_angle_to", "stop_sound", "stop_sound_system",
    "restart_sound_system", "stop_task", "thrust", "thrust_xz", "timer", "timer_set", "track",
    "track_play", "track_play_loop", "track_play_back", "track_play_reset", "track_yr",
    "translucent", "type", "velocity", "velocity_xz", "velocity_copy", "velocity_x", "velocity_y",
    "velocity_z", "velocity_x_add", "velocity_y_add", "velocity_z_add", "velocity_x_set",
    "velocity_y_set", "velocity_z_set", "velocity_update", "visual_color_set", "visual_rgba_set",
    "visual_picked", "visual_picked_get", "visual_picked_get_ex", "visual_ray", "wrap", "atan_512",
    "attract_point", "attract_xr", "attract_y", "attract_yr", "attract_zr", "bottom",
    "boundary_rebound", "ground_set", "clip_distance", "cos_512", "element_id_set", "element_id",
    "execute", "fog_set", "fog_start", "fog_end", "fog_color_set", "friction_xr", "friction_yr",
    "friction_zr", "ground_color", "hearer", "join_pos", "mouse_on", "mouse_off", "mouse_set",
    "mouse_x", "mouse_y", "mouse_click", "nearest_element", "orient_straight", "orient_forward",
    "over_ground_slope", "random", "random_element", "sin_512", "radius", "radius_max", "register",
    "register_set", "sprite_dim_x", "sprite_dim_y", "sqrt_512", "tan_512", "track_record",
    "volume_rebound", "volume_slide", "volume_set", "year", "month", "day", "hour", "minute",
    "second", "output_b", "output_w", "output_d", "input_b", "input_w", "input_d", "oscillate",
    "joy1_z", "joy2_z", "joy1_u", "joy2_u", "joy1_v", "joy2_v", "joy1_xr", "joy1_yr", "joy1_zr",
    "joy2_xr", "joy2_yr", "joy2_zr", "joy1_dir1", "joy1_dir2", "joy1_dir3", "joy1_dir4",
    "joy2_dir1", "joy2_dir2", "joy2_dir3", "joy2_dir4", "play_task_status", "spline_key_add",
    "spline_key_set", "spline_key_remove", "spline", "spline_pos_x", "spline_pos_y", "spline_pos_z",
    "globals_sort", "track_record_reset", "push", "pop", "box_collisions_off", "box_collisions_on",
    "rebound", "rebound_yr", "rebound_yr_factor", "collision_check", "h_part_show",
    "h_poly_collision", "h_cpoint_x", "h_cpoint_y", "h_cpoint_z", "h_cnormal_x", "h_cnormal_y",
    "h_cnormal_z", "race_lap", "race_lap_set", "race_next_checkpoint", "race_next_checkpoint_set",
    "race_on", "race_off", "race_position", "checkpoint", "checkpoint_add", "checkpoint_reset",
    "checkpoint_height_set", "track_smooth", "track_yr_smooth", "speed_xz_limit", "disable",
    "enable", "h_animation_speed", "h_animation_speed_set", "h_animation_tick",
    "h_animation_tick_set", "h_animation_range_set", "h_animation_range_start",
    "h_animation_range_end", "display_mode", "display_mode_set", "max_framerate",
    "max_framerate_set", "h_part_set", "h_cpart1_set", "h_cpart2_set", "vertex_uv_add",
    "vertex_uv_set", "env_map_update", "make_flat", "normals_optimize", "rendering_optimize",
    "vertices", "vertex_u", "vertex_v", "flats_priority_set", "shadow_add", "shadow_location_set",
    "shadow_orientation_set", "color_set", "print_num", "x_clone", "x_kill", "position_set",
    "x_picked", "x_pick_pt", "x_element_get", "rotation_angle", "rotation_axis", "position",
    "vertex_pos_set", "vertex_posw_set", "vertex_pos_add", "vertex_pos", "a_create", "a_kill", "a",
    "a2", "a_set", "a2_set", "a_byte", "a_byte_set", "a_word", "a_word_set", "a_dword",
    "a_dword_set", "a_size", "a_load", "a_save", "x_load", "sort_mode_set", "h_sort_mode_set",
    "poly_sort_mode_set", "antialias_set", "v_shadow_create", "v_shadow_factor", "v_shadow_delete",
    "v_shadow_set", "v_shadow_volume_add", "v_shadow_volume_reset", "v_shadow_update",
    "material_set", "material_apply", "state_change_optimize", "render", "reset", "dithering_set",
    "specular_set", "fogeffect_set", "background3d_set", "rendering_device_set", "sound_set",
    "sound_mixing_set", "clear", "input_process", "str_create", "print", "str_copy", "str_add",
    "font_set", "run", "run_task", "play", "play_task", "globals_save", "globals_load", "str_comp",
    "str_len", "bmp_show", "input_box", "msg_box", "list_box", "file_box", "str_input",
    "str_input_set", "str_chr", "str_num", "str_val", "vertices_get", "vertices_set", "normals",
    "normals_get", "normals_set", "a_interpolate", "a_copy", "element", "element_find",
    "mouse_wheel", "file_exists", "zbuffer_mode_set", "esound_load", "esound_unload", "esound_play",
    "esound_volume_set", "esound_frequency_set", "esound_minmaxdist_set", "esound_stop",
    "esound_state", "esound_location_set", "machine_number_set", "machine_number", "machine_status",
    "network_mismatch", "network_mode", "machine_element_find", "machine_element", "host",
    "str_send", "str_poll",
};
static_assert(std::size(kRoutines) + std::size(kPlaceholders) == kKeywordRows - 18,
              "every routine is bound or a placeholder (18 rows are synonyms)");

struct Bindings {
  Routine routine[kKeywordRows];  // by routine row
  bool unbound[kKeywordRows];  // still the placeholder
  FieldAccess field[kKeywordRows];  // by routine row: compiled in line for `element`
  std::uint8_t field_word[kKeywordRows];
  Bindings() {
    for (int i = 0; i < kKeywordRows; ++i)
      routine[i] = nullptr, unbound[i] = false, field[i] = FieldAccess::none, field_word[i] = 0;
    for (const Binding& b : kRoutines) routine[find_keyword(b.name)] = b.routine;
    for (std::string_view name : kPlaceholders) {
      int row = find_keyword(name);
      routine[row] = placeholder;
      unbound[row] = true;
    }
    for (int i = 0; i < kKeywordRows; ++i)
      if (routine_row(i) == i && !routine[i]) {
        base::report("brain", "keyword '%s' has no routine", keyword(i).name);
        std::abort();
      }
  }
};

// The one binding table of the process, filled from the lists above.
Bindings& bindings() {
  static Bindings table;
  return table;
}

}  // namespace

Routine routine_of(int row) { return bindings().routine[routine_row(row)]; }

bool is_placeholder(int row) { return bindings().unbound[routine_row(row)]; }

bool bind_routine(std::string_view name, Routine routine) {
  int row = find_keyword(name);
  if (row < 0 || !routine) return false;
  row = routine_row(row);
  bindings().routine[row] = routine;
  bindings().unbound[row] = routine == placeholder;
  bindings().field[row] = FieldAccess::none;  // a new routine may do more than the field
  return true;
}

bool bind_field(std::string_view name, FieldAccess access, int word) {
  int row = find_keyword(name);
  if (row < 0 || word < 0 || word > 255) return false;
  int argc = access == FieldAccess::get ? 1 : access == FieldAccess::set ? 2 : keyword(row).argc;
  if (keyword(row).argc != argc) return false;
  row = routine_row(row);
  bindings().field[row] = access;
  bindings().field_word[row] = static_cast<std::uint8_t>(word);
  return true;
}

FieldAccess field_access(int row, int* word) {
  row = routine_row(row);
  *word = bindings().field_word[row];
  return bindings().field[row];
}

}  // namespace brain
