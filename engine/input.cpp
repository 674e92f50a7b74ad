// Input devices as brains see them: the keyboard (`keyboard`, `scancode`), the
// two game controllers (`joy1_`, `joy2_`), the mouse (`mouse_`), `any_input`
// and `pause`. The devices are sampled by the platform layer into the records
// the run's World names; these routines read them.
#include <cstdint>

#include "engine/engine.h"
#include "engine/engine_local.h"
#include "platform/platform.h"

namespace engine {

std::int32_t map_axis(std::int32_t p, std::int32_t a, std::int32_t b) {
  constexpr std::int64_t kMin = -platform::kAxisRange, kMax = platform::kAxisRange;
  std::int64_t d = (kMax - p) * (std::int64_t{b} - a) / (kMax - kMin);  // truncates toward zero
  std::int64_t result = a <= b ? a + d : d - b;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(result));
}

std::int32_t hat_angle(std::uint32_t value) {
  if ((value & 0xFFFF) == 0xFFFF) return -1;  // centred
  return static_cast<std::int32_t>(std::int64_t{value} * 512 / 100);
}

namespace {

using I = std::int32_t;
using platform::Axis;

// The run's devices; outside a run, nothing held or moved.
const platform::Input& devices() {
  static const platform::Input none;
  const platform::Input* in = run_input();
  return in ? *in : none;
}

// ---- Keyboard -------------------------------------------------------------------------------------------

// A key argument: a scan code, or the address of a key-name literal of the last compile.
int scan_code_of(I k) {
  World* w = world();
  auto address = static_cast<std::uint32_t>(k);
  if (!w || address < w->literal_start || address >= w->literal_end) return k;
  return platform::scan_code_of_key_name(text_argument(k));
}
// The shift keys share one virtual key: LSHIFT and RSHIFT each mean either.
ROUTINE(routine_keyboard) {
  int scan = scan_code_of(a);
  const bool* held = devices().held;
  if (scan == platform::kScanLeftShift || scan == platform::kScanRightShift)
    return held[platform::kScanLeftShift] || held[platform::kScanRightShift] ? kTrue : 0;
  return scan > 0 && scan < 256 && held[scan] ? kTrue : 0;
}
ROUTINE(routine_scancode) {
  const bool* held = devices().held;
  for (int scan = 1; scan < 256; ++scan)
    if (held[scan]) return scan;
  return 0;
}

// ---- Controllers and mouse --------------------------------------------------------------------------------

const platform::Controller& joystick(int n) { return devices().joystick[n]; }

// `joyN_x` a b and the other ranged axes.
template <int N, Axis A>
ROUTINE(routine_joy_axis) {
  return map_axis(joystick(N).axis[static_cast<int>(A)], a, b);
}
// `joyN_xr`, `_yr`, `_zr`: the axis value itself.
template <int N, Axis A>
ROUTINE(routine_joy_raw) {
  return joystick(N).axis[static_cast<int>(A)];
}
// `joyN_b` m: the buttons rotated left by 4, AND m; an absent controller has none down.
template <int N>
ROUTINE(routine_joy_buttons) {
  const platform::Controller& pad = joystick(N);
  std::uint32_t buttons = pad.present ? pad.buttons : 0;
  return static_cast<I>(((buttons << 4) | (buttons >> 28)) & static_cast<std::uint32_t>(a));
}
// `joyN_dirH`: the hat angle in 1/512 degree, -1 when centred.
template <int N, int H>
ROUTINE(routine_joy_hat) {
  return hat_angle(joystick(N).hat[H]);
}

ROUTINE(routine_mouse_x) { return devices().mouse_x; }
ROUTINE(routine_mouse_y) { return devices().mouse_y; }
ROUTINE(routine_mouse_click) { return static_cast<I>(devices().mouse_buttons); }
// The wheel value of the last wheel message, then 0 until the next one.
ROUTINE(routine_mouse_wheel) {
  platform::Input* in = run_input();
  if (!in) return 0;
  I value = in->wheel;
  in->wheel = 0;
  return value;
}
ROUTINE(routine_mouse_set) {
  platform::set_mouse(a, b);
  return 0;
}
ROUTINE(routine_nothing) { return 0; }

ROUTINE(routine_any_input) { return platform::any_input_down(devices()) ? -1 : 0; }

// `any_input_exit` (v): the run ends with v once any input is down.
ROUTINE(routine_any_input_exit) {
  World* w = world();
  if (w && platform::any_input_down(devices())) w->exit_request = a;
  return 0;
}
// `input_process`: window messages and the devices read now, inside a brain.
ROUTINE(routine_input_process) {
  platform::pump();
  platform::sample_input(false);
  return 0;
}

// Waits half a second, then for any input, with the sound silenced meanwhile.
ROUTINE(routine_pause) {
  int volume = mute_sound();
  if (!platform::headless()) platform::sleep_ms(500);
  platform::wait_any_input();
  unmute_sound(volume);
  return 0;
}

constexpr Binding kInputBindings[] = {
    {"keyboard", routine_keyboard, "a scan code or key-name text -> -1 while that key is down, else 0"},
    {"scancode", routine_scancode, "-> the lowest scan code of a key down, 0 when none"},
    {"any_input", routine_any_input, "-> -1 when a key, mouse button or present controller's button is down, else 0"},
    {"any_input_exit", routine_any_input_exit, "a value: the run ends with a once any input is down"},
    {"input_process", routine_input_process, "window messages and input devices read now"},
    {"pause", routine_pause, "waits half a second, then for any input, with the sound silenced"},
    {"mouse_on", routine_nothing, "nothing (the cursor stays as it is)"},
    {"mouse_off", routine_nothing, "nothing (the cursor stays as it is)"},
    {"mouse_set", routine_mouse_set, "a x, b y screen pixels: moves the cursor there, held inside the screen"},
    {"mouse_x", routine_mouse_x, "-> cursor x in screen pixels"},
    {"mouse_y", routine_mouse_y, "-> cursor y in screen pixels"},
    {"mouse_click", routine_mouse_click, "-> mouse buttons down: bit 0 left, bit 1 right, bit 2 middle"},
    {"mouse_wheel", routine_mouse_wheel,
     "-> last wheel value (-120 a notch away from the user), then 0 until the next"},
    {"joy_b", routine_joy_buttons<0>, "a mask -> joystick 1's buttons rotated left by 4 (button n is bit n + 4) AND a"},
    {"joy1_b", routine_joy_buttons<0>,
     "a mask -> joystick 1's buttons rotated left by 4 (button n is bit n + 4) AND a"},
    {"joy2_b", routine_joy_buttons<1>,
     "a mask -> joystick 2's buttons rotated left by 4 (button n is bit n + 4) AND a"},
    {"joy1_x", routine_joy_axis<0, Axis::x>, "a, b range -> joystick 1 x mapped so that +1000 gives a, -1000 gives b"},
    {"joy1_y", routine_joy_axis<0, Axis::y>, "a, b range -> joystick 1 y mapped so that +1000 gives a, -1000 gives b"},
    {"joy1_z", routine_joy_axis<0, Axis::z>, "a, b range -> joystick 1 z mapped so that +1000 gives a, -1000 gives b"},
    {"joy1_u", routine_joy_axis<0, Axis::u>, "a, b range -> joystick 1 slider u mapped: +1000 gives a, -1000 gives b"},
    {"joy1_v", routine_joy_axis<0, Axis::v>, "a, b range -> joystick 1 slider v mapped: +1000 gives a, -1000 gives b"},
    {"joy2_x", routine_joy_axis<1, Axis::x>, "a, b range -> joystick 2 x mapped so that +1000 gives a, -1000 gives b"},
    {"joy2_y", routine_joy_axis<1, Axis::y>, "a, b range -> joystick 2 y mapped so that +1000 gives a, -1000 gives b"},
    {"joy2_z", routine_joy_axis<1, Axis::z>, "a, b range -> joystick 2 z mapped so that +1000 gives a, -1000 gives b"},
    {"joy2_u", routine_joy_axis<1, Axis::u>, "a, b range -> joystick 2 slider u mapped: +1000 gives a, -1000 gives b"},
    {"joy2_v", routine_joy_axis<1, Axis::v>, "a, b range -> joystick 2 slider v mapped: +1000 gives a, -1000 gives b"},
    {"joy1_xr", routine_joy_raw<0, Axis::xr>, "-> joystick 1 x rotation, -1000..1000"},
    {"joy1_yr", routine_joy_raw<0, Axis::yr>, "-> joystick 1 y rotation, -1000..1000"},
    {"joy1_zr", routine_joy_raw<0, Axis::zr>, "-> joystick 1 z rotation, -1000..1000"},
    {"joy2_xr", routine_joy_raw<1, Axis::xr>, "-> joystick 2 x rotation, -1000..1000"},
    {"joy2_yr", routine_joy_raw<1, Axis::yr>, "-> joystick 2 y rotation, -1000..1000"},
    {"joy2_zr", routine_joy_raw<1, Axis::zr>, "-> joystick 2 z rotation, -1000..1000"},
    {"joy1_dir1", routine_joy_hat<0, 0>, "-> joystick 1 hat 1 in 1/512 degree, -1 when centred"},
    {"joy1_dir2", routine_joy_hat<0, 1>, "-> joystick 1 hat 2 in 1/512 degree, -1 when centred"},
    {"joy1_dir3", routine_joy_hat<0, 2>, "-> joystick 1 hat 3 in 1/512 degree, -1 when centred"},
    {"joy1_dir4", routine_joy_hat<0, 3>, "-> joystick 1 hat 4 in 1/512 degree, -1 when centred"},
    {"joy2_dir1", routine_joy_hat<1, 0>, "-> joystick 2 hat 1 in 1/512 degree, -1 when centred"},
    {"joy2_dir2", routine_joy_hat<1, 1>, "-> joystick 2 hat 2 in 1/512 degree, -1 when centred"},
    {"joy2_dir3", routine_joy_hat<1, 2>, "-> joystick 2 hat 3 in 1/512 degree, -1 when centred"},
    {"joy2_dir4", routine_joy_hat<1, 3>, "-> joystick 2 hat 4 in 1/512 degree, -1 when centred"},
};

}  // namespace

std::span<const Binding> input_bindings() { return kInputBindings; }

}  // namespace engine
