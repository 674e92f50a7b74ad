// SDL2 behind the platform interface: window, event pump, presentation, timer
// and message boxes. One thread uses it, so its state is one plain record.
#include "platform/platform.h"

#include <SDL2/SDL.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/scene/scene.h"
#include "base/log.h"

namespace platform {

namespace {

constexpr char kTitle[] = "Zepta 5.2                       ";  // padded with blanks to 32
static_assert(sizeof kTitle == 33, "the title is 32 characters");

struct State {
  bool initialised = false;
  bool headless = false;
  bool windowed = false;
  SDL_Window* window = nullptr;
  scene::Renderer* scene = nullptr;  // OpenGL on the window; null: SDL's software renderer below
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int texture_width = 0, texture_height = 0;
  std::uint16_t* expanded = nullptr;  // 16-bit copy of the screen, uploaded each present
  int screen_width = 640, screen_height = 480;
  Input input;
  Script script;
  bool has_script = false;
  bool engine_ticks = false;
  std::uint32_t engine_tick = 0;
  bool device_held[256] = {};
  int pending_scan = 0;  // scan code of the key whose text input is expected next
  bool controllers_started = false;
  // The device behind each controller slot (null: absent or scripted).
  SDL_GameController* pad[kControllers] = {};
  SDL_Joystick* stick[kControllers] = {};
  SDL_JoystickID stick_id[kControllers] = {-1, -1};
};

State g;

timespec g_start{};

void clear_pending_text_scan() { g.pending_scan = 0; }

// The screen is shown letterboxed in the window (scene::present, or SDL's
// logical size): where the window's picture of the screen starts and its size.
void screen_in_window(int& x0, int& y0, int& width, int& height) {
  int w = g.screen_width, h = g.screen_height;
  if (g.window) SDL_GetWindowSize(g.window, &w, &h);
  long long sw = w, sh = static_cast<long long>(w) * g.screen_height / g.screen_width;
  if (sh > h) {
    sh = h;
    sw = static_cast<long long>(h) * g.screen_width / g.screen_height;
  }
  width = static_cast<int>(sw) > 0 ? static_cast<int>(sw) : 1;
  height = static_cast<int>(sh) > 0 ? static_cast<int>(sh) : 1;
  x0 = (w - width) / 2;
  y0 = (h - height) / 2;
}

// Window coordinates of the OpenGL window to screen pixels (SDL's software
// renderer does this itself through its logical size).
void window_to_screen(int& x, int& y) {
  if (!g.scene) return;
  int x0, y0, width, height;
  screen_in_window(x0, y0, width, height);
  x = static_cast<int>(static_cast<long long>(x - x0) * g.screen_width / width);
  y = static_cast<int>(static_cast<long long>(y - y0) * g.screen_height / height);
}

void handle_key_down(const SDL_KeyboardEvent& k) {
  int sdl = k.keysym.scancode;
  int scan = set1_scan_code(sdl);
  bool ctrl = (k.keysym.mod & KMOD_CTRL) != 0;
  if (int c = control_character(sdl, ctrl)) {
    take_character(g.input, c, scan);
    return;
  }
  // A key that makes text is followed by its text event; the ring then takes
  // the character with this key's scan code, not a bare key event.
  SDL_Event next;
  if (SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_TEXTINPUT, SDL_TEXTINPUT) == 1) {
    g.pending_scan = scan;
    return;
  }
  take_bare_key(g.input, scan);
}

// The code point of the UTF-8 sequence at s; s moves past it (a broken
// sequence gives what it has and stops at the bad byte).
std::uint32_t next_code_point(const unsigned char*& s) {
  std::uint32_t cp = *s;
  int extra = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
  if (extra) cp &= 0x3F >> extra;
  ++s;
  for (int i = 0; i < extra && (*s & 0xC0) == 0x80; ++i) cp = (cp << 6) | (*s++ & 0x3F);
  return cp;
}

// Decodes UTF-8 text input into Windows-1252 characters.
void handle_text(const char* text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  while (*s) {
    take_character(g.input, cp1252_of(next_code_point(s)), g.pending_scan);
  }
  clear_pending_text_scan();
}

// ---- Controllers ----------------------------------------------------------------------

// Game-controller buttons in the order a DirectInput pad numbers them.
constexpr SDL_GameControllerButton kPadButtons[] = {
    SDL_CONTROLLER_BUTTON_A,         SDL_CONTROLLER_BUTTON_B,         SDL_CONTROLLER_BUTTON_X,
    SDL_CONTROLLER_BUTTON_Y,         SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
    SDL_CONTROLLER_BUTTON_BACK,      SDL_CONTROLLER_BUTTON_START,     SDL_CONTROLLER_BUTTON_LEFTSTICK,
    SDL_CONTROLLER_BUTTON_RIGHTSTICK, SDL_CONTROLLER_BUTTON_GUIDE,
};
// Plain joystick axes 0..7 in record order.
constexpr Axis kStickAxes[] = {Axis::x, Axis::y, Axis::z, Axis::xr, Axis::yr, Axis::zr, Axis::u, Axis::v};

void close_slot(int n) {
  if (g.pad[n]) SDL_GameControllerClose(g.pad[n]);
  else if (g.stick[n]) SDL_JoystickClose(g.stick[n]);
  g.pad[n] = nullptr;
  g.stick[n] = nullptr;
  g.stick_id[n] = -1;
  set_controller_present(g.input, n, false);
}

// A device that appeared (at start or hot-plugged) takes the first free slot.
void open_device(int device_index) {
  SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(device_index);
  for (int n = 0; n < kControllers; ++n)
    if (g.stick[n] && g.stick_id[n] == id) return;  // already open
  int slot = -1;
  for (int n = kControllers - 1; n >= 0; --n)
    if (!g.stick[n] && !g.input.joystick[n].present) slot = n;
  if (slot < 0) return;  // both slots taken
  if (SDL_IsGameController(device_index)) {
    g.pad[slot] = SDL_GameControllerOpen(device_index);
    g.stick[slot] = g.pad[slot] ? SDL_GameControllerGetJoystick(g.pad[slot]) : nullptr;
  } else {
    g.stick[slot] = SDL_JoystickOpen(device_index);
  }
  if (!g.stick[slot]) {
    base::report("platform", "cannot open controller %d: %s", device_index, SDL_GetError());
    close_slot(slot);
    return;
  }
  g.stick_id[slot] = SDL_JoystickInstanceID(g.stick[slot]);
  set_controller_present(g.input, slot, true);
}

void remove_device(SDL_JoystickID id) {
  for (int n = 0; n < kControllers; ++n)
    if (g.stick[n] && g.stick_id[n] == id) close_slot(n);
}

void read_pad(SDL_GameController* pad, Controller& c) {
  auto axis = [pad](SDL_GameControllerAxis a) { return scale_axis(SDL_GameControllerGetAxis(pad, a)); };
  c.axis[static_cast<int>(Axis::x)] = axis(SDL_CONTROLLER_AXIS_LEFTX);
  c.axis[static_cast<int>(Axis::y)] = axis(SDL_CONTROLLER_AXIS_LEFTY);
  c.axis[static_cast<int>(Axis::xr)] = axis(SDL_CONTROLLER_AXIS_RIGHTX);
  c.axis[static_cast<int>(Axis::yr)] = axis(SDL_CONTROLLER_AXIS_RIGHTY);
  // Triggers: one each as sliders, and together on Z (left positive) as a pad reports them.
  std::int32_t left = axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT), right = axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT);
  c.axis[static_cast<int>(Axis::u)] = left;
  c.axis[static_cast<int>(Axis::v)] = right;
  c.axis[static_cast<int>(Axis::z)] = left - right;
  c.axis[static_cast<int>(Axis::zr)] = 0;
  std::uint32_t buttons = 0;
  for (int i = 0; i < static_cast<int>(std::size(kPadButtons)); ++i)
    if (SDL_GameControllerGetButton(pad, kPadButtons[i])) buttons |= 1u << i;
  c.buttons = buttons;
  int dpad = (SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_UP) ? SDL_HAT_UP : 0) |
             (SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT) ? SDL_HAT_RIGHT : 0) |
             (SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN) ? SDL_HAT_DOWN : 0) |
             (SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT) ? SDL_HAT_LEFT : 0);
  c.hat[0] = hat_hundredths(dpad);
}

void read_stick(SDL_Joystick* stick, Controller& c) {
  int axes = SDL_JoystickNumAxes(stick), hats = SDL_JoystickNumHats(stick), buttons = SDL_JoystickNumButtons(stick);
  for (int i = 0; i < kAxes; ++i)
    c.axis[static_cast<int>(kStickAxes[i])] = i < axes ? scale_axis(SDL_JoystickGetAxis(stick, i)) : 0;
  for (int i = 0; i < kHats; ++i) c.hat[i] = i < hats ? hat_hundredths(SDL_JoystickGetHat(stick, i)) : kHatCentred;
  std::uint32_t mask = 0;
  for (int i = 0; i < kControllerButtons && i < buttons; ++i)
    if (SDL_JoystickGetButton(stick, i)) mask |= 1u << i;
  c.buttons = mask;
}

void handle_event(const SDL_Event& e) {
  switch (e.type) {
    case SDL_JOYDEVICEADDED:
      if (g.controllers_started) open_device(e.jdevice.which);
      break;
    case SDL_JOYDEVICEREMOVED: remove_device(e.jdevice.which); break;
    case SDL_QUIT:
      // The program ends only from its own loops: a close request is Escape.
      take_character(g.input, 27, kScanEscape);
      break;
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_CLOSE) take_character(g.input, 27, kScanEscape);
      if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED || e.window.event == SDL_WINDOWEVENT_SHOWN)
        g.input.activated = true;
      break;
    case SDL_KEYDOWN: handle_key_down(e.key); break;
    case SDL_TEXTINPUT: handle_text(e.text.text); break;
    case SDL_MOUSEWHEEL: {
      int y = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      g.input.wheel = -120 * y;
      break;
    }
    case SDL_MOUSEMOTION:
      g.input.mouse_x = e.motion.x;
      g.input.mouse_y = e.motion.y;
      window_to_screen(g.input.mouse_x, g.input.mouse_y);
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      std::uint32_t bit = e.button.button == SDL_BUTTON_LEFT    ? 1u
                          : e.button.button == SDL_BUTTON_RIGHT  ? 2u
                          : e.button.button == SDL_BUTTON_MIDDLE ? 4u
                                                                 : 0u;
      if (e.type == SDL_MOUSEBUTTONDOWN)
        g.input.mouse_buttons |= bit;
      else
        g.input.mouse_buttons &= ~bit;
      g.input.mouse_x = e.button.x;
      g.input.mouse_y = e.button.y;
      window_to_screen(g.input.mouse_x, g.input.mouse_y);
      break;
    }
    default: break;
  }
}

void refresh_held() {
  std::memset(g.device_held, 0, sizeof g.device_held);
  if (g.initialised) {
    int n = 0;
    const Uint8* keys = SDL_GetKeyboardState(&n);
    for (int i = 0; i < n; ++i)
      if (keys[i])
        if (int scan = set1_scan_code(i)) g.device_held[scan] = true;
  }
  for (int i = 0; i < 256; ++i)
    g.input.held[i] = g.device_held[i] || g.script.held[i] || g.script.held_once[i];
}

}  // namespace

// ---- Timer ------------------------------------------------------------------------

void start_timer() { clock_gettime(CLOCK_MONOTONIC, &g_start); }

std::uint32_t timer() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::int64_t ns = (now.tv_sec - g_start.tv_sec) * 1000000000ll + (now.tv_nsec - g_start.tv_nsec);
  return static_cast<std::uint32_t>(ns * 9 / 2000000);  // 4500 per second
}

void sleep_ms(int milliseconds) {
  timespec t{milliseconds / 1000, (milliseconds % 1000) * 1000000l};
  while (nanosleep(&t, &t) != 0) {
  }
}

// ---- Window and devices -------------------------------------------------------------

bool init(const Options& options) {
  if (g.initialised) return true;
  g.headless = options.headless;
  g.windowed = options.windowed;
  // Headless: the dummy driver, which needs no display and loads no OpenGL
  // (the offscreen driver's EGL set-up leaves allocations behind in Mesa).
  // It overrides SDL_VIDEODRIVER, so --headless never opens a window.
  if (g.headless) SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "dummy", SDL_HINT_OVERRIDE);
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    if (!g.headless) {
      base::report("platform", "no video: %s", SDL_GetError());
      return false;
    }
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
      base::report("platform", "no headless video: %s", SDL_GetError());
      return false;
    }
  }
  g.initialised = true;
  // Controllers that fail to start leave both slots absent; the program goes on.
  if (!g.headless) start_controllers();
  return true;
}

bool start_controllers() {
  if (!g.initialised) return false;
  if (g.controllers_started) return true;
  if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
    base::report("platform", "no game controllers: %s", SDL_GetError());
    return false;
  }
  g.controllers_started = true;
  for (int i = 0; i < SDL_NumJoysticks(); ++i) open_device(i);
  return true;
}

void poll_controller(int n) {
  if (n < 0 || n >= kControllers || !g.input.joystick[n].present || !g.stick[n]) return;
  // A device that stopped answering keeps its old values until it is removed.
  if (!SDL_JoystickGetAttached(g.stick[n])) return;
  if (g.pad[n]) read_pad(g.pad[n], g.input.joystick[n]);
  else read_stick(g.stick[n], g.input.joystick[n]);
}

void shutdown() {
  if (!g.initialised) return;
  scene::destroy(g.scene);
  g.scene = nullptr;
  if (g.texture) SDL_DestroyTexture(g.texture);
  if (g.renderer) SDL_DestroyRenderer(g.renderer);
  if (g.window) {
    SDL_HideWindow(g.window);
    SDL_DestroyWindow(g.window);
  }
  delete[] g.expanded;
  for (int n = 0; n < kControllers; ++n) close_slot(n);
  g.controllers_started = false;
  g.texture = nullptr;
  g.renderer = nullptr;
  g.window = nullptr;
  g.expanded = nullptr;
  // SDL_Quit() would unload the X11 and EGL libraries that SDL opened, and the
  // sanitizer then reports their internal allocations as leaks of unknown
  // modules; the process ends right after shutdown, so they stay loaded.
  g.initialised = false;
}

bool headless() { return g.headless; }
bool is_initialised() { return g.initialised; }

void display_size(int& width, int& height) {
  width = 640;
  height = 480;
  SDL_DisplayMode mode;
  if (g.initialised && SDL_GetDesktopDisplayMode(0, &mode) == 0) {
    width = mode.w;
    height = mode.h;
  }
}

bool create_window(int width, int height) {
  if (!g.initialised) return false;
  Uint32 flags = SDL_WINDOW_SHOWN;
  if (!g.windowed && !g.headless) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
  // An OpenGL window carries the scene renderer, which also presents the 8-bit
  // screen. Where there is no OpenGL (the dummy driver of --headless) the window
  // is made again without it and SDL's software renderer presents the screen.
  scene::set_gl_attributes();
  g.window = SDL_CreateWindow(kTitle, 0, 0, width, height, flags | SDL_WINDOW_OPENGL);
  if (g.window) {
    char error[160] = {};
    g.scene = scene::create_on_window(g.window, width, height, error, sizeof error);
    if (!g.scene) {
      base::report("platform", "no 3D rendering on the window: %s", error);
      SDL_DestroyWindow(g.window);
      g.window = nullptr;
    }
  }
  if (g.scene) {
    scene::clear(*g.scene, {0, 0, 0, 1});
    scene::present(*g.scene);
    SDL_StartTextInput();
    g.input.activated = true;
    set_screen_size(width, height);
    return true;
  }
  g.window = SDL_CreateWindow(kTitle, 0, 0, width, height, flags);
  if (!g.window) {
    base::report("platform", "cannot create the window: %s", SDL_GetError());
    return false;
  }
  g.renderer = SDL_CreateRenderer(g.window, -1, SDL_RENDERER_SOFTWARE);
  if (!g.renderer) {
    base::report("platform", "cannot draw into the window: %s", SDL_GetError());
    return false;
  }
  SDL_RenderSetLogicalSize(g.renderer, width, height);  // letterboxed, mouse in screen pixels
  SDL_SetRenderDrawColor(g.renderer, 0, 0, 0, 255);
  SDL_RenderClear(g.renderer);
  SDL_RenderPresent(g.renderer);
  SDL_StartTextInput();
  g.input.activated = true;
  set_screen_size(width, height);
  return true;
}

bool has_window() { return g.window != nullptr; }
scene::Renderer* scene_renderer() { return g.scene; }

void palette_of_colour_table(const std::uint16_t colour_table[256], std::uint8_t palette[768]) {
  for (int i = 0; i < 256; ++i) {
    unsigned c = colour_table[i];
    unsigned r = (c >> 11) & 31, gr = (c >> 5) & 63, b = c & 31;
    palette[i * 3] = static_cast<std::uint8_t>(r << 3 | r >> 2);
    palette[i * 3 + 1] = static_cast<std::uint8_t>(gr << 2 | gr >> 4);
    palette[i * 3 + 2] = static_cast<std::uint8_t>(b << 3 | b >> 2);
  }
}
const char* window_title() { return kTitle; }

void present_screen(const std::uint8_t* pixels, int width, int height, int pitch,
                    const std::uint16_t colour_table[256]) {
  if (g.scene) {
    std::uint8_t palette[768];
    palette_of_colour_table(colour_table, palette);
    scene::draw_screen(*g.scene, pixels, width, height, pitch, palette, false);
    scene::present(*g.scene);
    return;
  }
  // Headless without OpenGL nobody sees the picture: converting it would only cost time.
  if (g.headless || !g.renderer || width <= 0 || height <= 0) return;
  if (!g.texture || g.texture_width != width || g.texture_height != height) {
    if (g.texture) SDL_DestroyTexture(g.texture);
    delete[] g.expanded;
    g.texture = SDL_CreateTexture(g.renderer, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING, width, height);
    g.expanded = new std::uint16_t[static_cast<std::size_t>(width) * height];
    g.texture_width = width;
    g.texture_height = height;
    if (!g.texture) return;
    SDL_RenderSetLogicalSize(g.renderer, width, height);
  }
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
    std::uint16_t* out = g.expanded + static_cast<std::ptrdiff_t>(y) * width;
    for (int x = 0; x < width; ++x) out[x] = colour_table[row[x]];
  }
  SDL_UpdateTexture(g.texture, nullptr, g.expanded, width * 2);
  SDL_RenderClear(g.renderer);
  SDL_RenderCopy(g.renderer, g.texture, nullptr, nullptr);
  SDL_RenderPresent(g.renderer);
}

void colour_shifts(int& red, int& green, int& blue) {
  // The presented surface is 5-6-5.
  red = 11;
  green = 5;
  blue = 0;
}

void show_cursor(bool shown) {
  if (g.initialised) SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
}

void minimise_window() {
  if (g.window) SDL_MinimizeWindow(g.window);
}

bool clipboard_text(std::string& out) {
  if (!g.initialised || !SDL_HasClipboardText()) return false;
  char* utf8 = SDL_GetClipboardText();
  if (!utf8) return false;
  std::string text;
  const auto* s = reinterpret_cast<const unsigned char*>(utf8);
  while (*s) {
    text += static_cast<char>(cp1252_of(next_code_point(s)));
  }
  SDL_free(utf8);
  if (text.empty()) return false;
  out = std::move(text);
  return true;
}

bool set_clipboard_text(std::string_view text) {
  if (!g.initialised) return false;
  static constexpr std::uint16_t kHigh[32] = {
      0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178,
  };
  std::string utf8;
  utf8.reserve(text.size() + 16);
  for (char ch : text) {
    std::uint32_t c = static_cast<unsigned char>(ch);
    if (c == 0) break;
    if (c >= 0x80 && c < 0xA0) c = kHigh[c - 0x80];
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += static_cast<char>(0xE0 | (c >> 12));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return SDL_SetClipboardText(utf8.c_str()) == 0;
}

// ---- Events and input ---------------------------------------------------------------

Input& input() { return g.input; }

void pump() {
  if (!g.initialised) return;
  SDL_Event e;
  while (SDL_PollEvent(&e)) handle_event(e);
}

void sample_input(bool pace) {
  pump();
  if (g.has_script) deliver_script(g.script, g.input, g.engine_ticks ? g.engine_tick : g.input.sample_count);
  refresh_held();
  Input& in = g.input;
  if (in.mouse_x < 0) in.mouse_x = 0;
  if (in.mouse_y < 0) in.mouse_y = 0;
  if (in.mouse_x > g.screen_width - 1) in.mouse_x = g.screen_width - 1;
  if (in.mouse_y > g.screen_height - 1) in.mouse_y = g.screen_height - 1;
  ++in.sample_count;
  // A loop that samples without a display has nothing to wait for in real time.
  if (pace && !g.headless) sleep_ms(1);
}

void set_screen_size(int width, int height) {
  g.screen_width = width > 0 ? width : 1;
  g.screen_height = height > 0 ? height : 1;
}

void set_script(Script&& script) {
  g.script = std::move(script);
  g.has_script = true;
}

void set_engine_tick(std::uint32_t tick) {
  g.engine_ticks = true;
  g.engine_tick = tick;
}

void clear_engine_tick() { g.engine_ticks = false; }

// A finished script never releases what it holds, in a window either.
bool waiting_gives_up() {
  return g.has_script ? script_finished(g.script) : g.headless;
}

bool any_key_held() {
  if (g.input.mouse_buttons) return true;
  for (bool h : g.input.held)
    if (h) return true;
  return false;
}

void flush_input() {
  for (int pass = 0; pass < 20; ++pass) {
    pump();
    refresh_held();
    while (any_key_held() && !waiting_gives_up()) sample_input();
    ring_clear(g.input.ring);
  }
}

void set_mouse(int x, int y) {
  x = x < 0 ? 0 : x > g.screen_width - 1 ? g.screen_width - 1 : x;
  y = y < 0 ? 0 : y > g.screen_height - 1 ? g.screen_height - 1 : y;
  g.input.mouse_x = x;
  g.input.mouse_y = y;
  if (g.window && g.scene) {
    int x0, y0, width, height;
    screen_in_window(x0, y0, width, height);
    SDL_WarpMouseInWindow(g.window, x0 + static_cast<int>(static_cast<long long>(x) * width / g.screen_width),
                          y0 + static_cast<int>(static_cast<long long>(y) * height / g.screen_height));
  } else if (g.window) {
    SDL_WarpMouseInWindow(g.window, x, y);
  }
}

void wait_any_input() {
  // Headless in a run, the script is timed by engine ticks, which stand still here.
  auto gives_up = [] { return !g.initialised || waiting_gives_up() || (g.headless && g.engine_ticks); };
  auto sample = [] {
    sample_input();
    for (int n = 0; n < kControllers; ++n) poll_controller(n);
  };
  if (gives_up()) return;
  sample();
  while (any_input_down(g.input) && !gives_up()) sample();
  while (!any_input_down(g.input) && !gives_up()) sample();
}

void wait_mouse_release() {
  sample_input();
  while (g.input.mouse_buttons && !waiting_gives_up()) sample_input();
}

// ---- Message boxes --------------------------------------------------------------------

namespace {

void show_box(const char* title, const char* text) {
  if (g.headless || !g.window ||
      SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, title, text, g.window) != 0)
    std::fprintf(stderr, "%s\n", text);
}

}  // namespace

void error_box(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  // The box shows the text with a CR LF after it; on stderr the line break is enough.
  bool topmost = g.window && !g.windowed;
  if (topmost) SDL_SetWindowAlwaysOnTop(g.window, SDL_FALSE);
  show_box(kTitle, text);
  if (topmost) SDL_SetWindowAlwaysOnTop(g.window, SDL_TRUE);
}

void warning_box(double value, std::string_view text, std::string_view extra, bool has_extra) {
  char box[4096];
  int n = std::snprintf(box, sizeof box, "Value: %g\n%.*s", value, static_cast<int>(text.size()), text.data());
  if (has_extra && n > 0 && static_cast<std::size_t>(n) < sizeof box) {
    std::size_t keep = extra.size() < 1023 ? extra.size() : 1023;
    std::snprintf(box + n, sizeof box - n, "\n%.*s", static_cast<int>(keep), extra.data());
  }
  if (g.window) SDL_HideWindow(g.window);
  show_cursor(true);
  show_box("", box);
  show_cursor(false);
  if (g.window) SDL_ShowWindow(g.window);
}

}  // namespace platform
