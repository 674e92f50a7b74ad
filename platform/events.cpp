// SDL2 events behind the platform interface: the pump, input samples with the
// scripted input, the loops that wait for input, and the timer.
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/platform_local.h"

namespace platform {

namespace {

struct Events {
  Input input;
  Script script;
  bool has_script = false;
  bool engine_ticks = false;
  std::uint32_t engine_tick = 0;
  std::uint32_t tick_offset = 0;  // added to engine_tick for the script
  bool device_held[256] = {};
  // Keys that went down since the last sample: a tap released before the
  // sample still reads as held in it.
  bool pressed_since_sample[256] = {};
  int pending_scan = 0;  // scan code of the key whose text input is expected next
  int screen_width = 640, screen_height = 480;  // the screen the mouse is clamped to (pixels)
};

Events ev;

timespec timer_start{};

void clear_pending_text_scan() { ev.pending_scan = 0; }

// The screen is shown letterboxed in the window (scene::present, or SDL's
// logical size): where the window's picture of the screen starts and its size.
void screen_in_window(int& x0, int& y0, int& width, int& height) {
  int w = ev.screen_width, h = ev.screen_height;
  if (display.window) SDL_GetWindowSize(display.window, &w, &h);
  long long sw = w, sh = static_cast<long long>(w) * ev.screen_height / ev.screen_width;
  if (sh > h) {
    sh = h;
    sw = static_cast<long long>(h) * ev.screen_width / ev.screen_height;
  }
  width = static_cast<int>(sw) > 0 ? static_cast<int>(sw) : 1;
  height = static_cast<int>(sh) > 0 ? static_cast<int>(sh) : 1;
  x0 = (w - width) / 2;
  y0 = (h - height) / 2;
}

// Window coordinates of the OpenGL window to screen pixels (SDL's software
// renderer does this itself through its logical size).
void window_to_screen(int& x, int& y) {
  if (!display.scene) return;
  int x0, y0, width, height;
  screen_in_window(x0, y0, width, height);
  x = static_cast<int>(static_cast<long long>(x - x0) * ev.screen_width / width);
  y = static_cast<int>(static_cast<long long>(y - y0) * ev.screen_height / height);
}

void handle_key_down(const SDL_KeyboardEvent& k) {
  int sdl = k.keysym.scancode;
  // Alt+Enter belongs to the window: it switches full screen and window.
  if ((sdl == SDL_SCANCODE_RETURN || sdl == SDL_SCANCODE_KP_ENTER) && (k.keysym.mod & KMOD_ALT)) {
    if (!k.repeat) set_full_screen(!full_screen());
    return;
  }
  int scan = set1_scan_code(sdl);
  if (scan) ev.pressed_since_sample[scan] = true;
  bool ctrl = (k.keysym.mod & KMOD_CTRL) != 0;
  if (int c = control_character(sdl, ctrl)) {
    take_character(ev.input, c, scan);
    return;
  }
  // A key that makes text is followed by its text event; the ring then takes
  // the character with this key's scan code, not a bare key event.
  SDL_Event next;
  if (SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_TEXTINPUT, SDL_TEXTINPUT) == 1) {
    ev.pending_scan = scan;
    return;
  }
  take_bare_key(ev.input, scan);
}

// Decodes UTF-8 text input into Windows-1252 characters.
void handle_text(const char* text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  while (*s) {
    take_character(ev.input, cp1252_of(next_code_point(s)), ev.pending_scan);
  }
  clear_pending_text_scan();
}

void handle_event(const SDL_Event& e) {
  switch (e.type) {
    case SDL_JOYDEVICEADDED: controller_added(e.jdevice.which); break;
    case SDL_JOYDEVICEREMOVED: controller_removed(e.jdevice.which); break;
    case SDL_QUIT:
      // The program ends only from its own loops: a close request is Escape.
      take_character(ev.input, 27, kScanEscape);
      break;
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_CLOSE) take_character(ev.input, 27, kScanEscape);
      if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED || e.window.event == SDL_WINDOWEVENT_SHOWN)
        ev.input.activated = true;
      break;
    case SDL_KEYDOWN: handle_key_down(e.key); break;
    case SDL_TEXTINPUT: handle_text(e.text.text); break;
    case SDL_MOUSEWHEEL: {
      int y = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      ev.input.wheel = -120 * y;
      break;
    }
    case SDL_MOUSEMOTION:
      ev.input.mouse_x = e.motion.x;
      ev.input.mouse_y = e.motion.y;
      window_to_screen(ev.input.mouse_x, ev.input.mouse_y);
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      std::uint32_t bit = e.button.button == SDL_BUTTON_LEFT    ? 1u
                          : e.button.button == SDL_BUTTON_RIGHT  ? 2u
                          : e.button.button == SDL_BUTTON_MIDDLE ? 4u
                                                                 : 0u;
      if (e.type == SDL_MOUSEBUTTONDOWN)
        ev.input.mouse_buttons |= bit;
      else
        ev.input.mouse_buttons &= ~bit;
      ev.input.mouse_x = e.button.x;
      ev.input.mouse_y = e.button.y;
      window_to_screen(ev.input.mouse_x, ev.input.mouse_y);
      break;
    }
    default: break;
  }
}

void refresh_held() {
  std::memset(ev.device_held, 0, sizeof ev.device_held);
  if (display.initialised) {
    int n = 0;
    const Uint8* keys = SDL_GetKeyboardState(&n);
    for (int i = 0; i < n; ++i)
      if (keys[i])
        if (int scan = set1_scan_code(i)) ev.device_held[scan] = true;
  }
  for (int i = 0; i < 256; ++i)
    ev.input.held[i] = ev.device_held[i] || ev.pressed_since_sample[i] || ev.script.held[i] || ev.script.held_once[i];
  std::memset(ev.pressed_since_sample, 0, sizeof ev.pressed_since_sample);
}

}  // namespace

// ---- Timer ------------------------------------------------------------------------

void start_timer() { clock_gettime(CLOCK_MONOTONIC, &timer_start); }

std::uint32_t timer() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::int64_t ns = (now.tv_sec - timer_start.tv_sec) * 1000000000ll + (now.tv_nsec - timer_start.tv_nsec);
  return static_cast<std::uint32_t>(ns * 9 / 2000000);  // 4500 per second
}

void sleep_ms(int milliseconds) {
  timespec t{milliseconds / 1000, (milliseconds % 1000) * 1000000l};
  while (nanosleep(&t, &t) != 0) {
  }
}

// ---- Events and input ---------------------------------------------------------------

Input& input() { return ev.input; }

void pump() {
  if (!display.initialised) return;
  SDL_Event e;
  while (SDL_PollEvent(&e)) handle_event(e);
}

namespace {

void take_sample(bool pace, bool waiting) {
  pump();
  if (ev.has_script) {
    Script& s = ev.script;
    std::uint32_t clock = ev.engine_ticks ? ev.engine_tick + ev.tick_offset : ev.input.sample_count;
    // A wait stops the engine ticks: when nothing is due, the next events come now.
    if (waiting && ev.engine_ticks && !script_finished(s) && s.events[s.next].tick > clock) clock = s.events[s.next].tick;
    deliver_script(s, ev.input, clock);
  }
  refresh_held();
  Input& in = ev.input;
  if (in.mouse_x < 0) in.mouse_x = 0;
  if (in.mouse_y < 0) in.mouse_y = 0;
  if (in.mouse_x > ev.screen_width - 1) in.mouse_x = ev.screen_width - 1;
  if (in.mouse_y > ev.screen_height - 1) in.mouse_y = ev.screen_height - 1;
  ++in.sample_count;
  // A loop that samples where nobody sees it has nothing to wait for in real time.
  if (pace && display.visible) sleep_ms(1);
}

}  // namespace

void sample_input(bool pace) { take_sample(pace, false); }

void await_input() { take_sample(true, true); }

void set_screen_size(int width, int height) {
  ev.screen_width = width > 0 ? width : 1;
  ev.screen_height = height > 0 ? height : 1;
}

void set_script(Script&& script) {
  ev.script = std::move(script);
  ev.has_script = true;
}

void set_engine_tick(std::uint32_t tick) {
  ev.engine_ticks = true;
  ev.engine_tick = tick;
}

void clear_engine_tick() { ev.engine_ticks = false; }

void set_script_tick_offset(std::uint32_t offset) { ev.tick_offset = offset; }

// A finished script never releases what it holds, in a window either.
bool waiting_gives_up() {
  return ev.has_script ? script_finished(ev.script) : !display.visible;
}

bool script_in_use() { return ev.has_script; }

bool any_key_held() {
  if (ev.input.mouse_buttons) return true;
  for (bool h : ev.input.held)
    if (h) return true;
  return false;
}

void flush_input() {
  for (int pass = 0; pass < 20; ++pass) {
    pump();
    refresh_held();
    while (any_key_held() && !waiting_gives_up()) await_input();
    ring_clear(ev.input.ring);
  }
}

void set_mouse(int x, int y) {
  x = x < 0 ? 0 : x > ev.screen_width - 1 ? ev.screen_width - 1 : x;
  y = y < 0 ? 0 : y > ev.screen_height - 1 ? ev.screen_height - 1 : y;
  ev.input.mouse_x = x;
  ev.input.mouse_y = y;
  if (display.window && display.scene) {
    int x0, y0, width, height;
    screen_in_window(x0, y0, width, height);
    SDL_WarpMouseInWindow(display.window, x0 + static_cast<int>(static_cast<long long>(x) * width / ev.screen_width),
                          y0 + static_cast<int>(static_cast<long long>(y) * height / ev.screen_height));
  } else if (display.window) {
    SDL_WarpMouseInWindow(display.window, x, y);
  }
}

void wait_any_input() {
  // Where nobody sees it, a pause in a run does not wait for the script either.
  auto gives_up = [] { return !display.initialised || waiting_gives_up() || (!display.visible && ev.engine_ticks); };
  auto sample = [] {
    await_input();
    for (int n = 0; n < kControllers; ++n) poll_controller(n);
  };
  if (gives_up()) return;
  sample();
  while (any_input_down(ev.input) && !gives_up()) sample();
  while (!any_input_down(ev.input) && !gives_up()) sample();
}

void wait_mouse_release() {
  sample_input();
  while (ev.input.mouse_buttons && !waiting_gives_up()) await_input();
}

}  // namespace platform
