// SDL2 behind the platform interface: start-up, the window, presentation of the
// 8-bit screen, cursor, clipboard and message boxes.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/platform_local.h"
#include "base/log.h"
#include "base/title.h"

namespace platform {

Display display;

namespace {

// The title region: the marker, then the title padded with blanks to 32. A
// packaged copy of the program has its own title written here (base::patch_title),
// so the bytes are read at run time, never folded by the compiler.
__attribute__((used)) volatile char title_region[] = "ZEPTA-TITLE-REGION:" "Zepta 5.2                       ";
static_assert(sizeof title_region == base::kTitleMarkerBytes + base::kTitleBytes + 1, "marker and 32 title bytes");

// The region's title as read at start-up: padded to 32, and without its trailing blanks.
struct Title {
  char padded[base::kTitleBytes + 1] = {};
  char trimmed[base::kTitleBytes + 1] = {};
  Title() {
    for (std::size_t i = 0; i < base::kTitleBytes; ++i) padded[i] = title_region[base::kTitleMarkerBytes + i];
    std::size_t n = base::kTitleBytes;
    while (n > 0 && (padded[n - 1] == ' ' || padded[n - 1] == '\0')) --n;
    for (std::size_t i = 0; i < n; ++i) trimmed[i] = padded[i];
  }
};
const Title& title() {
  static const Title t;
  return t;
}

// SDL's software renderer, where the window has no OpenGL.
struct SoftwarePresenter {
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int texture_width = 0, texture_height = 0;
  std::uint16_t* expanded = nullptr;  // 16-bit copy of the screen, uploaded each present
};

SoftwarePresenter soft;

// A modal system box, or the text on stderr where it would wait for nobody.
void show_box(const char* title, const char* text) {
  if (!display.visible || script_in_use() || !display.window ||
      SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, title, text, display.window) != 0)
    std::fprintf(stderr, "%s\n", text);
}

void apply_cursor() {
  if (display.initialised) SDL_ShowCursor(display.cursor_shown && !display.cursor_covered ? SDL_ENABLE : SDL_DISABLE);
}

// Video drivers that show nothing to anyone.
constexpr const char* kUnseenDrivers[] = {"offscreen", "dummy"};

bool driver_shows_nothing(const char* driver) {
  if (!driver) return true;
  for (const char* d : kUnseenDrivers)
    if (std::strcmp(driver, d) == 0) return true;
  return false;
}

bool has_display_variable() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

void remove_runtime_folder() {
  if (!display.runtime_folder[0]) return;
  std::error_code ignored;
  std::filesystem::remove_all(display.runtime_folder, ignored);
  unsetenv("XDG_RUNTIME_DIR");
  display.runtime_folder[0] = 0;
}

// Without a display, or where the X display does not answer, SDL probes for a
// Wayland compositor, which complains on stderr when XDG_RUNTIME_DIR is unset
// or not an absolute path: give it a private, empty one for the run (removed
// at shutdown, or at exit, or as soon as the X display answers).
void quiet_runtime_folder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((runtime && runtime[0] == '/') || display.headless || (wayland && *wayland)) return;
  const char* tmp = std::getenv("TMPDIR");
  char path[sizeof display.runtime_folder];
  int n = std::snprintf(path, sizeof path, "%s/zepta-run-XXXXXX", tmp && *tmp ? tmp : "/tmp");
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path || !mkdtemp(path)) return;  // mode 0700
  std::memcpy(display.runtime_folder, path, sizeof path);
  setenv("XDG_RUNTIME_DIR", path, 1);
  static bool registered = false;
  if (!registered) registered = std::atexit(remove_runtime_folder) == 0;
}

bool init_video(const char* forced_driver) {
  if (forced_driver) SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, forced_driver, SDL_HINT_OVERRIDE);
  return SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0;
}

char init_failure[512];  // init_error()

// Why init() failed, with the display variables it went by: "x11 not
// available (DISPLAY=:7)", "no display answers (DISPLAY and WAYLAND_DISPLAY are unset)".
bool fail_init(const char* what) {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  bool has_x = x && *x, has_wayland = wayland && *wayland;
  char where[256];
  if (has_x && has_wayland) std::snprintf(where, sizeof where, "DISPLAY=%s, WAYLAND_DISPLAY=%s", x, wayland);
  else if (has_x) std::snprintf(where, sizeof where, "DISPLAY=%s", x);
  else if (has_wayland) std::snprintf(where, sizeof where, "WAYLAND_DISPLAY=%s", wayland);
  else std::snprintf(where, sizeof where, "DISPLAY and WAYLAND_DISPLAY are unset");
  std::snprintf(init_failure, sizeof init_failure, "%s (%s)", what, where);
  return false;
}

// The driver that SDL_VIDEODRIVER names; null when the user named none.
const char* chosen_driver() {
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  return driver && *driver ? driver : nullptr;
}

}  // namespace

// ---- Start-up and the window -----------------------------------------------------------

bool init(const Options& options) {
  if (display.initialised) return true;
  display.headless = options.headless;
  display.windowed = options.windowed;
  quiet_runtime_folder();
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // Headless, the driver is forced, so --headless never opens a window: the
  // dummy driver, which needs no display and loads no OpenGL, unless pictures
  // are wanted; then the offscreen driver, whose window has OpenGL (EGL on
  // Mesa). Each is the other's fallback.
  const char* first = options.pictures ? "offscreen" : "dummy";
  const char* second = options.pictures ? "dummy" : "offscreen";
  init_failure[0] = 0;
  if (!init_video(display.headless ? first : nullptr)) {
    if (!display.headless) return fail_init(SDL_GetError());
    if (!init_video(second)) return fail_init(SDL_GetError());
  }
  // Where no display answers, SDL settles on its offscreen driver without a
  // word, and a window run would go on where nobody sees it and nothing ends
  // it. That driver is taken only when SDL_VIDEODRIVER asks for it.
  // SDL stays as it is: the process ends (quitting it leaves libdbus's buffers behind).
  if (!display.headless && !chosen_driver() && driver_shows_nothing(SDL_GetCurrentVideoDriver()))
    return fail_init("no display answers");
  // On X the probing is over: the environment is the user's again.
  if (std::strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0) remove_runtime_folder();
  display.initialised = true;
  display.visible = !display.headless && !driver_shows_nothing(SDL_GetCurrentVideoDriver()) &&
                    (has_display_variable() || std::strcmp(SDL_GetCurrentVideoDriver(), "KMSDRM") == 0);
  // Controllers that fail to start leave both slots absent; the program goes on.
  if (!display.headless) start_controllers();
  return true;
}

void shutdown() {
  if (!display.initialised) return;
  scene::destroy(display.scene);
  display.scene = nullptr;
  if (soft.texture) SDL_DestroyTexture(soft.texture);
  if (soft.renderer) SDL_DestroyRenderer(soft.renderer);
  if (display.window) {
    SDL_HideWindow(display.window);
    SDL_DestroyWindow(display.window);
  }
  delete[] soft.expanded;
  close_controllers();
  soft.texture = nullptr;
  soft.renderer = nullptr;
  display.window = nullptr;
  soft.expanded = nullptr;
  // SDL_Quit() would unload the X11 and EGL libraries that SDL opened, and the
  // sanitizer then reports their internal allocations as leaks of unknown
  // modules; the process ends right after shutdown, so they stay loaded.
  display.initialised = false;
  remove_runtime_folder();
}

const char* init_error() { return init_failure; }
bool headless() { return display.headless; }
bool is_initialised() { return display.initialised; }
bool display_visible() { return display.visible; }

void display_size(int& width, int& height) {
  width = 640;
  height = 480;
  SDL_DisplayMode mode;
  if (display.initialised && SDL_GetDesktopDisplayMode(0, &mode) == 0) {
    width = mode.w;
    height = mode.h;
  }
}

bool create_window(int width, int height) {
  if (!display.initialised) return false;
  display.screen_width = width;
  display.screen_height = height;
  display.window_kept = false;
  // Full screen, the window covers the display (also where no window manager
  // resizes it) and the screen is scaled into it with its aspect kept.
  Uint32 flags = SDL_WINDOW_SHOWN;
  int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED, w = width, h = height;
  SDL_Rect bounds;
  if (display.headless) {
    x = y = 0;
    display.windowed = true;
  } else if (!display.windowed && SDL_GetDisplayBounds(0, &bounds) == 0) {
    flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
    x = bounds.x, y = bounds.y, w = bounds.w, h = bounds.h;
  } else {
    display.windowed = true;
    flags |= SDL_WINDOW_RESIZABLE;
  }
  // An OpenGL window carries the scene renderer, which also presents the 8-bit
  // screen. Where there is no OpenGL (the dummy driver of --headless) the window
  // is made again without it and SDL's software renderer presents the screen.
  scene::set_gl_attributes();
  display.window = SDL_CreateWindow(title().trimmed, x, y, w, h, flags | SDL_WINDOW_OPENGL);
  if (display.window) {
    char error[160] = {};
    display.scene = scene::create_on_window(display.window, width, height, error, sizeof error);
    if (!display.scene) {
      base::report("platform", "no 3D rendering on the window: %s", error);
      SDL_DestroyWindow(display.window);
      display.window = nullptr;
    }
  }
  if (display.scene) {
    scene::clear(*display.scene, {0, 0, 0, 1});
    scene::present(*display.scene);
    SDL_StartTextInput();
    input().activated = true;
    set_screen_size(width, height);
    apply_cursor();
    return true;
  }
  display.window = SDL_CreateWindow(title().trimmed, x, y, w, h, flags);
  if (!display.window) {
    base::report("platform", "cannot create the window: %s", SDL_GetError());
    return false;
  }
  soft.renderer = SDL_CreateRenderer(display.window, -1, SDL_RENDERER_SOFTWARE);
  if (!soft.renderer) {
    base::report("platform", "cannot draw into the window: %s", SDL_GetError());
    return false;
  }
  SDL_RenderSetLogicalSize(soft.renderer, width, height);  // letterboxed, mouse in screen pixels
  SDL_SetRenderDrawColor(soft.renderer, 0, 0, 0, 255);
  SDL_RenderClear(soft.renderer);
  SDL_RenderPresent(soft.renderer);
  SDL_StartTextInput();
  input().activated = true;
  set_screen_size(width, height);
  apply_cursor();
  return true;
}

void set_full_screen(bool on) {
  if (!display.window || display.headless || on == !display.windowed) return;
  if (on) {
    // Sized to the display first: without a window manager nothing else resizes it.
    SDL_Rect bounds;
    int index = SDL_GetWindowDisplayIndex(display.window);
    if (SDL_GetDisplayBounds(index < 0 ? 0 : index, &bounds) != 0) return;
    SDL_GetWindowPosition(display.window, &display.window_x, &display.window_y);
    SDL_GetWindowSize(display.window, &display.window_width, &display.window_height);
    display.window_kept = display.window_width > 0 && display.window_height > 0;
    SDL_SetWindowResizable(display.window, SDL_FALSE);
    SDL_SetWindowBordered(display.window, SDL_FALSE);
    SDL_SetWindowPosition(display.window, bounds.x, bounds.y);
    SDL_SetWindowSize(display.window, bounds.w, bounds.h);
    if (SDL_SetWindowFullscreen(display.window, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) return;
  } else {
    if (SDL_SetWindowFullscreen(display.window, 0) != 0) return;
    SDL_SetWindowBordered(display.window, SDL_TRUE);
    SDL_SetWindowResizable(display.window, SDL_TRUE);
    if (display.window_kept) {
      SDL_SetWindowSize(display.window, display.window_width, display.window_height);
      SDL_SetWindowPosition(display.window, display.window_x, display.window_y);
    } else {
      SDL_SetWindowSize(display.window, display.screen_width, display.screen_height);
      SDL_SetWindowPosition(display.window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
    }
  }
  display.windowed = !on;
}

bool full_screen() { return display.window && !display.windowed; }

bool has_window() { return display.window != nullptr; }
scene::Renderer* scene_renderer() { return display.scene; }

void palette_of_colour_table(const std::uint16_t colour_table[256], std::uint8_t palette[768]) {
  for (int i = 0; i < 256; ++i) {
    unsigned c = colour_table[i];
    unsigned r = (c >> 11) & 31, gr = (c >> 5) & 63, b = c & 31;
    palette[i * 3] = static_cast<std::uint8_t>(r << 3 | r >> 2);
    palette[i * 3 + 1] = static_cast<std::uint8_t>(gr << 2 | gr >> 4);
    palette[i * 3 + 2] = static_cast<std::uint8_t>(b << 3 | b >> 2);
  }
}
const char* window_title() { return title().padded; }

void present_screen(const std::uint8_t* pixels, int width, int height, int pitch,
                    const std::uint16_t colour_table[256]) {
  if (display.scene) {
    std::uint8_t palette[768];
    palette_of_colour_table(colour_table, palette);
    scene::draw_screen(*display.scene, pixels, width, height, pitch, palette, false);
    scene::present(*display.scene);
    return;
  }
  // Headless without OpenGL nobody sees the picture: converting it would only cost time.
  if (display.headless || !soft.renderer || width <= 0 || height <= 0) return;
  if (!soft.texture || soft.texture_width != width || soft.texture_height != height) {
    if (soft.texture) SDL_DestroyTexture(soft.texture);
    delete[] soft.expanded;
    soft.texture = SDL_CreateTexture(soft.renderer, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING, width, height);
    soft.expanded = new std::uint16_t[static_cast<std::size_t>(width) * height];
    soft.texture_width = width;
    soft.texture_height = height;
    if (!soft.texture) return;
    SDL_RenderSetLogicalSize(soft.renderer, width, height);
  }
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
    std::uint16_t* out = soft.expanded + static_cast<std::ptrdiff_t>(y) * width;
    for (int x = 0; x < width; ++x) out[x] = colour_table[row[x]];
  }
  SDL_UpdateTexture(soft.texture, nullptr, soft.expanded, width * 2);
  SDL_RenderClear(soft.renderer);
  SDL_RenderCopy(soft.renderer, soft.texture, nullptr, nullptr);
  SDL_RenderPresent(soft.renderer);
}

void colour_shifts(int& red, int& green, int& blue) {
  // The presented surface is 5-6-5.
  red = 11;
  green = 5;
  blue = 0;
}

void show_cursor(bool shown) {
  display.cursor_shown = shown;
  apply_cursor();
}

void cover_cursor(bool covered) {
  display.cursor_covered = covered;
  apply_cursor();
}

void minimise_window() {
  if (display.window) SDL_MinimizeWindow(display.window);
}

bool clipboard_text(std::string& out) {
  if (!display.initialised || !SDL_HasClipboardText()) return false;
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
  if (!display.initialised) return false;
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

// ---- Message boxes --------------------------------------------------------------------

void error_box(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  // The box shows the text with a CR LF after it; on stderr the line break is enough.
  bool topmost = display.window && !display.windowed;
  if (topmost) SDL_SetWindowAlwaysOnTop(display.window, SDL_FALSE);
  show_box(title().padded, text);
  if (topmost) SDL_SetWindowAlwaysOnTop(display.window, SDL_TRUE);
}

void warning_box(double value, std::string_view text, std::string_view extra, bool has_extra) {
  char box[4096];
  int n = std::snprintf(box, sizeof box, "Value: %g\n%.*s", value, static_cast<int>(text.size()), text.data());
  if (has_extra && n > 0 && static_cast<std::size_t>(n) < sizeof box) {
    std::size_t keep = extra.size() < 1023 ? extra.size() : 1023;
    std::snprintf(box + n, sizeof box - n, "\n%.*s", static_cast<int>(keep), extra.data());
  }
  if (display.window) SDL_HideWindow(display.window);
  if (display.initialised) SDL_ShowCursor(SDL_ENABLE);
  show_box("", box);
  apply_cursor();
  if (display.window) SDL_ShowWindow(display.window);
}

}  // namespace platform
