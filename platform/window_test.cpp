// The window on SDL's offscreen driver, which nobody sees: full screen over
// the whole display with the screen scaled into it, Alt+Enter switching to a
// window and back, the system pointer, waits that give up, and the private
// runtime folder of runs without a display. Then the window on a virtual X
// server without a window manager, read back from the server's own picture.
#include <gtest/gtest.h>
// Xlib after gtest: its macros (None, Bool...) clash with gtest's names.
#include <SDL2/SDL.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_local.h"

// LeakSanitizer reads this in sanitized builds: libdbus keeps a buffer that
// SDL's D-Bus use allocates under X11 (as platform/lsan.supp says).
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace platform {
namespace {

namespace fs = std::filesystem;

bool on_offscreen_driver() {
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  return driver && std::string(driver) == "offscreen";
}

void push_alt_enter() {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.state = SDL_PRESSED;
  e.key.keysym.scancode = SDL_SCANCODE_RETURN;
  e.key.keysym.sym = SDLK_RETURN;
  e.key.keysym.mod = KMOD_LALT;
  SDL_PushEvent(&e);
}

// The screen pixel that a mouse at window pixel (x, y) points at.
void mouse_at(int x, int y, int& sx, int& sy) {
  SDL_Event e{};
  e.type = SDL_MOUSEMOTION;
  e.motion.x = x;
  e.motion.y = y;
  SDL_PushEvent(&e);
  sample_input();
  sx = input().mouse_x;
  sy = input().mouse_y;
}

TEST(Window, FullScreenCoversTheDisplayAndAltEnterSwitchesToAWindow) {
  if (!on_offscreen_driver()) GTEST_SKIP() << "needs SDL_VIDEODRIVER=offscreen";
  ASSERT_TRUE(init({}));
  ASSERT_TRUE(create_window(640, 480));
  if (!scene_renderer()) {
    shutdown();  // the next test opens its own window
    GTEST_SKIP() << "no OpenGL on the offscreen driver";
  }
  int display_width, display_height;
  display_size(display_width, display_height);
  ASSERT_GT(display_width, 640);  // the offscreen display is larger than the screen
  EXPECT_TRUE(full_screen());
  EXPECT_FALSE(display_visible());
  int x, y;
  mouse_at(display_width - 1, display_height - 1, x, y);  // the display's far corner is the screen's
  EXPECT_EQ(x, 639);
  EXPECT_EQ(y, 479);
  mouse_at(display_width / 2, display_height / 2, x, y);
  EXPECT_NEAR(x, 320, 1);
  EXPECT_NEAR(y, 240, 1);

  push_alt_enter();
  sample_input();
  EXPECT_FALSE(full_screen());
  std::uint32_t event;
  EXPECT_FALSE(ring_take(input().ring, event));  // Alt+Enter is the window's, not the program's
  mouse_at(600, 400, x, y);  // a window of the screen's size: pixel for pixel
  EXPECT_EQ(x, 600);
  EXPECT_EQ(y, 400);

  push_alt_enter();
  sample_input();
  EXPECT_TRUE(full_screen());
  mouse_at(display_width - 1, display_height - 1, x, y);
  EXPECT_EQ(x, 639);
  EXPECT_EQ(y, 479);
  shutdown();
}

// Back from full screen, the window takes the size and place it had.
TEST(Window, AltEnterBackGivesTheWindowItsSize) {
  if (!on_offscreen_driver()) GTEST_SKIP() << "needs SDL_VIDEODRIVER=offscreen";
  ASSERT_TRUE(init({.windowed = true}));
  ASSERT_TRUE(create_window(640, 480));
  SDL_SetWindowSize(display.window, 900, 700);
  for (int round = 0; round < 2; ++round) {
    push_alt_enter();
    sample_input();
    EXPECT_TRUE(full_screen());
    push_alt_enter();
    sample_input();
    ASSERT_FALSE(full_screen());
    int w = 0, h = 0;
    SDL_GetWindowSize(display.window, &w, &h);
    EXPECT_EQ(w, 900) << round;
    EXPECT_EQ(h, 700) << round;
  }
  shutdown();
}

// A key pressed and released between two samples is held in the next one
// only; SDL's own keyboard state never saw it down.
TEST(Window, AKeyTappedBetweenSamplesIsHeldForOneSample) {
  if (!on_offscreen_driver()) GTEST_SKIP() << "needs SDL_VIDEODRIVER=offscreen";
  ASSERT_TRUE(init({.windowed = true}));
  ASSERT_TRUE(create_window(640, 480));
  sample_input();
  for (Uint32 type : {SDL_KEYDOWN, SDL_KEYUP}) {
    SDL_Event e{};
    e.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = SDL_SCANCODE_UP;
    e.key.keysym.sym = SDLK_UP;
    SDL_PushEvent(&e);
  }
  int up = set1_scan_code(SDL_SCANCODE_UP);
  sample_input();
  EXPECT_TRUE(input().held[up]);
  sample_input();
  EXPECT_FALSE(input().held[up]);
  shutdown();
}

TEST(Window, TheKitsPointerCoversTheSystemOne) {
  if (!on_offscreen_driver()) GTEST_SKIP() << "needs SDL_VIDEODRIVER=offscreen";
  ASSERT_TRUE(init({.windowed = true}));
  ASSERT_TRUE(create_window(640, 480));
  struct {
    bool shown, covered, visible;
  } cases[] = {{false, false, false}, {true, false, true}, {true, true, false}, {false, true, false}, {true, false, true}};
  for (auto c : cases) {
    show_cursor(c.shown);
    cover_cursor(c.covered);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY) == SDL_ENABLE, c.visible) << c.shown << c.covered;
  }
  shutdown();
}

// Nobody sees the offscreen window: a wait without a script gives up at once.
TEST(Window, WaitsGiveUpWhereNobodySeesTheWindow) {
  if (!on_offscreen_driver()) GTEST_SKIP() << "needs SDL_VIDEODRIVER=offscreen";
  ASSERT_TRUE(init({.windowed = true}));
  ASSERT_TRUE(create_window(640, 480));
  EXPECT_FALSE(display_visible());
  EXPECT_TRUE(waiting_gives_up());
  wait_any_input();  // returns: nothing can come
  shutdown();
}

TEST(Window, RunsWithoutADisplayGetAPrivateRuntimeFolder) {
  if (!on_offscreen_driver()) GTEST_SKIP() << "needs SDL_VIDEODRIVER=offscreen";
  std::string tmp = testing::TempDir() + "runtime_" + std::to_string(getpid());
  fs::create_directories(tmp);
  setenv("TMPDIR", tmp.c_str(), 1);
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  ASSERT_TRUE(init({}));
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  ASSERT_NE(runtime, nullptr);
  EXPECT_EQ(std::string(runtime).rfind(tmp + "/", 0), 0u) << runtime;
  struct stat st{};
  ASSERT_EQ(stat(runtime, &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  shutdown();
  EXPECT_TRUE(fs::is_empty(tmp));  // removed at shutdown
  fs::remove_all(tmp);
}

// A virtual X server of 1280 x 1024 for one test, without a window manager.
class XServer {
 public:
  XServer() {
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      std::string fd = std::to_string(fds[1]);
      execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    // The server writes its display number once it listens.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char buffer[16];
    while (number.find('\n') == std::string::npos && poll(&p, 1, 30000) > 0) {
      ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      number.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') != std::string::npos) display_ = ":" + number.substr(0, number.find('\n'));
  }
  ~XServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// The colour of root-window pixels as the server shows them (0xRRGGBB).
struct RootPicture {
  ::Display* x = nullptr;
  explicit RootPicture(const std::string& name) : x(XOpenDisplay(name.c_str())) {}
  ~RootPicture() {
    if (x) XCloseDisplay(x);
  }
  bool shows(const std::vector<std::array<int, 3>>& pixels) {
    XImage* image = XGetImage(x, DefaultRootWindow(x), 0, 0, 1280, 1024, AllPlanes, ZPixmap);
    if (!image) return false;
    bool all = true;
    for (const auto& p : pixels) all = all && static_cast<int>(XGetPixel(image, p[0], p[1]) & 0xFFFFFF) == p[2];
    XDestroyImage(image);
    return all;
  }
};

// Presents a white screen until the server shows the pixels, or gives up
// after a bounded number of frames (the server draws in its own time).
bool presents(RootPicture& root, const std::vector<std::array<int, 3>>& pixels) {
  std::vector<std::uint8_t> white(640 * 480, 1);
  std::uint16_t colours[256] = {};
  colours[1] = 0xFFFF;
  for (int frame = 0; frame < 300; ++frame) {
    sample_input();
    present_screen(white.data(), 640, 480, 640, colours);
    if (frame % 10 == 9 && root.shows(pixels)) return true;
    sleep_ms(10);
  }
  return false;
}

constexpr int kWhite = 0xFFFFFF, kBlack = 0;

TEST(WindowOnX, FullScreenIsLetterboxedOverTheWholeDisplay) {
  // SDL keeps its first video driver for the process (shutdown does not quit it).
  if (SDL_WasInit(SDL_INIT_VIDEO)) GTEST_SKIP() << "SDL video already started in this process";
  XServer server;
  if (server.display().empty()) GTEST_SKIP() << "no Xvfb";
  setenv("DISPLAY", server.display().c_str(), 1);
  setenv("SDL_VIDEODRIVER", "x11", 1);
  ASSERT_TRUE(init({}));
  EXPECT_TRUE(display_visible());
  ASSERT_TRUE(create_window(640, 480));
  RootPicture root(server.display());
  ASSERT_NE(root.x, nullptr);
  // 1280 x 1024 shows the 4:3 screen as 1280 x 960 between two bars of 32 rows.
  EXPECT_TRUE(presents(root, {{640, 16, kBlack}, {640, 1008, kBlack}, {1, 33, kWhite}, {1278, 33, kWhite},
                              {640, 512, kWhite}, {1, 990, kWhite}, {1278, 990, kWhite}}));
  // Alt+Enter: a window of the screen's size, centred on the display.
  push_alt_enter();
  EXPECT_TRUE(presents(root, {{640, 512, kWhite}, {321, 273, kWhite}, {958, 750, kWhite}, {100, 512, kBlack},
                              {1180, 512, kBlack}, {640, 100, kBlack}}));
  push_alt_enter();
  EXPECT_TRUE(presents(root, {{1, 33, kWhite}, {1278, 990, kWhite}, {640, 16, kBlack}}));
  shutdown();
}

}  // namespace
}  // namespace platform
