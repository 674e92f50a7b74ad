// The demo project played by the program headless (offscreen OpenGL): its
// screenshots show the scene, several may be asked for, and bad requests are
// refused with the program's message.
#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // rows from the top
  const std::uint8_t* at(int x, int y) const { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; }
};

// Reads a PNG as the program writes it: 8-bit RGB, filter 0 rows, one IDAT.
bool read_png(const std::string& path, Picture& p) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> f((std::istreambuf_iterator<char>(in)), {});
  if (f.size() < 45 || std::memcmp(&f[12], "IHDR", 4) != 0 || f[24] != 8 || f[25] != 2) return false;
  auto be32 = [&](std::size_t i) { return std::uint32_t(f[i]) << 24 | f[i + 1] << 16 | f[i + 2] << 8 | f[i + 3]; };
  p.width = static_cast<int>(be32(16));
  p.height = static_cast<int>(be32(20));
  std::uint32_t size = be32(33);
  if (std::memcmp(&f[37], "IDAT", 4) != 0 || 41 + size > f.size()) return false;
  std::size_t row = static_cast<std::size_t>(p.width) * 3 + 1;
  std::vector<std::uint8_t> raw(row * p.height);
  uLongf out = raw.size();
  if (uncompress(raw.data(), &out, &f[41], size) != Z_OK || out != raw.size()) return false;
  p.rgb.clear();
  for (int y = 0; y < p.height; ++y) p.rgb.insert(p.rgb.end(), &raw[row * y + 1], &raw[row * y + row]);
  return true;
}

struct Outcome {
  int status = -1;
  std::string err;
};

// env: words for env(1) ("NAME=VALUE", "-u NAME").
Outcome run(const std::string& args, const std::string& env = "") {
  // One file per test process: ctest runs the tests of this file side by side.
  std::string err = testing::TempDir() + "render_run_err_" + std::to_string(getpid()) + ".txt";
  std::string cmd = "cd '" ZEPTA_WORK "' && env " + env + " '" ZEPTA_PROGRAM "' " + args + " 2>'" + err + "' >/dev/null";
  Outcome r;
  int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream in(err);
  r.err.assign(std::istreambuf_iterator<char>(in), {});
  fs::remove(err);
  return r;
}

TEST(DemoRun, HeadlessScreenshotsShowTheScene) {
  if (!fs::exists(ZEPTA_WORK "/projects/demo/demo.prj")) GTEST_SKIP() << "no demo in the working folder";
  std::string a = testing::TempDir() + "demo_a.png", b = testing::TempDir() + "demo_b.png";
  fs::remove(a), fs::remove(b);
  Outcome r = run("--mode 1 --project projects/demo/demo.prj --fast --ticks 40 --screenshot 30:" + a +
                  " --screenshot 10:" + b);
  if (r.err.find("no 3D rendering") != std::string::npos) GTEST_SKIP() << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  Picture pa, pb;
  ASSERT_TRUE(read_png(a, pa));
  ASSERT_TRUE(read_png(b, pb));
  EXPECT_EQ(pa.width, 640);
  EXPECT_EQ(pa.height, 480);
  // A scene, not a flat fill: many colours in the main view.
  std::set<std::uint32_t> colours;
  for (int y = 0; y < 480; y += 4)
    for (int x = 0; x < 640; x += 4) {
      const std::uint8_t* c = pa.at(x, y);
      colours.insert(c[0] << 16 | c[1] << 8 | c[2]);
    }
  EXPECT_GT(colours.size(), 100u);
  // The second camera's viewport (448,16 .. 623,147) shows something else than the main view around it.
  const std::uint8_t* inside = pa.at(535, 80);
  const std::uint8_t* outside = pa.at(535, 8);
  EXPECT_NE(std::memcmp(inside, outside, 3), 0);
  // Things move between tick 10 and tick 30.
  EXPECT_NE(pa.rgb, pb.rgb);
  // The status bar at the foot: dark blue under the score's yellow digits and the light text.
  auto bright = [](const Picture& p, int x1, int x2) {
    int n = 0;
    for (int y = 450; y < 480; ++y)
      for (int x = x1; x < x2; ++x) n += p.at(x, y)[0] > 180 && p.at(x, y)[1] > 160;
    return n;
  };
  EXPECT_LT(pa.at(100, 470)[0], 60);
  EXPECT_GT(pa.at(100, 470)[2], pa.at(100, 470)[0]);
  EXPECT_GT(bright(pa, 16, 56), 40);    // the score: sign and four digits
  EXPECT_GT(bright(pa, 120, 600), 300); // the line of text
  bool score_changed = false;  // the score counts the ticks
  for (int y = 458; y < 470; ++y) score_changed |= std::memcmp(pa.at(16, y), pb.at(16, y), 40 * 3) != 0;
  EXPECT_TRUE(score_changed);
}

// --headless draws only for screenshots: then through SDL's offscreen driver,
// quietly, whatever the environment says about displays.
TEST(DemoRun, HeadlessRunsDrawTheirScreenshotsOffscreen) {
  if (!fs::exists(ZEPTA_WORK "/projects/demo/demo.prj")) GTEST_SKIP() << "no demo in the working folder";
  std::string shot = testing::TempDir() + "demo_headless_" + std::to_string(getpid()) + ".png";
  std::string tmp = testing::TempDir() + "demo_tmp_" + std::to_string(getpid());
  fs::remove(shot);
  fs::remove_all(tmp);
  fs::create_directories(tmp);
  Outcome r = run("--headless --mode 1 --project projects/demo/demo.prj --fast --ticks 12 --screenshot 10:" + shot,
                  "-u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR SDL_VIDEODRIVER=x11 TMPDIR=" + tmp);
  if (r.err.find("no 3D rendering") != std::string::npos) GTEST_SKIP() << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no "no picture", no complaint about XDG_RUNTIME_DIR
  Picture p;
  ASSERT_TRUE(read_png(shot, p));
  EXPECT_EQ(p.width, 640);
  EXPECT_EQ(p.height, 480);
  std::set<std::uint32_t> colours;
  for (int y = 0; y < 480; y += 4)
    for (int x = 0; x < 640; x += 4) {
      const std::uint8_t* c = p.at(x, y);
      colours.insert(c[0] << 16 | c[1] << 8 | c[2]);
    }
  EXPECT_GT(colours.size(), 100u);
  EXPECT_TRUE(fs::is_empty(tmp));  // the private runtime folder is gone
  fs::remove_all(tmp);
  fs::remove(shot);
}

TEST(DemoRun, ArrowKeysSteerThePlayer) {
  if (!fs::exists(ZEPTA_WORK "/projects/demo/demo.prj")) GTEST_SKIP() << "no demo in the working folder";
  std::string input = testing::TempDir() + "demo_input.txt", dump = testing::TempDir() + "demo_dump.txt";
  // Right for 10 ticks, then up (after the start-up's input flush, which samples 20 times).
  std::ofstream(input) << "30 down 77\n40 up 77\n40 down 72\n";
  Outcome r = run("--headless --mode 1 --project projects/demo/demo.prj --fast --ticks 50 --input " + input +
                  " --dump " + dump);
  ASSERT_EQ(r.status, 0) << r.err;
  std::ifstream in(dump);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  // Element 5 (the player) moved 40,000 sub-units a tick: right, then forward.
  EXPECT_NE(text.find("element 5 3 400000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("element 5 5 "), std::string::npos) << text;
}

// Key names in the script are the keys of their scan codes.
TEST(DemoRun, ScriptsNameKeysAsKeyboardDoes) {
  if (!fs::exists(ZEPTA_WORK "/projects/demo/demo.prj")) GTEST_SKIP() << "no demo in the working folder";
  auto dump_of = [](const std::string& script) {
    std::string input = testing::TempDir() + "demo_names_" + std::to_string(getpid()) + ".txt";
    std::string dump = testing::TempDir() + "demo_names_dump_" + std::to_string(getpid()) + ".txt";
    std::ofstream(input) << script;
    Outcome r = run("--headless --mode 1 --project projects/demo/demo.prj --fast --ticks 50 --input " + input +
                    " --dump " + dump);
    EXPECT_EQ(r.status, 0) << r.err;
    std::ifstream in(dump);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  std::string by_names = dump_of("30 down RIGHT\n40 up right\n40 down Up\n");
  EXPECT_NE(by_names.find("element 5 3 400000\n"), std::string::npos) << by_names;
  EXPECT_EQ(by_names, dump_of("30 down 77\n40 up 77\n40 down 72\n"));
}

// The player driven into the ball's row: it stops against the ball instead of
// passing it, and a game controller steers it as the keys do.
TEST(DemoRun, ThePlayerBouncesOffTheBallAndFollowsAController) {
  if (!fs::exists(ZEPTA_WORK "/projects/demo/demo.prj")) GTEST_SKIP() << "no demo in the working folder";
  auto player_x = [](const std::string& script, int ticks) {
    std::string input = testing::TempDir() + "demo_input2.txt", dump = testing::TempDir() + "demo_dump2.txt";
    std::ofstream(input) << script;
    Outcome r = run("--headless --mode 1 --project projects/demo/demo.prj --fast --ticks " + std::to_string(ticks) +
                    " --input " + input + " --dump " + dump);
    EXPECT_EQ(r.status, 0) << r.err;
    std::ifstream in(dump);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::size_t at = text.find("element 5 3 ");
    return at == std::string::npos ? 0L : std::stol(text.substr(at + 12));
  };
  // Forward to the ball's row (z = 3), then right for 80 ticks: 3.2M sub-units
  // unhindered, but the ball at x = 3.5 (1.79M) is in the way.
  long blocked = player_x("10 down 72\n49 up 72\n50 down 77\n", 130);
  EXPECT_GT(blocked, 400000);
  EXPECT_LT(blocked, 1792000);
  // Full right on controller 1 for 10 ticks moves as far as the right arrow does.
  long steered = player_x("30 joy 1 present 1\n30 joy 1 axis x 1000\n40 joy 1 axis x 0\n", 50);
  EXPECT_EQ(steered, 400000);
}

// The demo's sounds on a device that mixes into memory: the player's hum is
// its element sound, the clunk a free-standing sound in slot 0 (the brain's
// variable 3, word 252: not in the dump when 0). Without a device the brain
// gets -1 for it.
TEST(DemoRun, ThePlayerHumsAndClunks) {
  if (!fs::exists(ZEPTA_WORK "/projects/demo/demo.prj")) GTEST_SKIP() << "no demo in the working folder";
  std::string input = testing::TempDir() + "demo_input3.txt", dump = testing::TempDir() + "demo_dump3.txt";
  std::ofstream(input) << "10 down 72\n49 up 72\n50 down 77\n90 up 77\n";  // into the ball
  std::string args = "--headless --mode 1 --project projects/demo/demo.prj --fast --ticks 100 --input " + input +
                     " --dump " + dump;
  auto dumped = [&] {
    std::ifstream in(dump);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  setenv("ZEPTA_SOUND_DEVICE", "loopback", 1);
  Outcome r = run(args);
  unsetenv("ZEPTA_SOUND_DEVICE");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("sound"), std::string::npos) << r.err;
  std::string text = dumped();
  EXPECT_NE(text.find("element 5 28 5\n"), std::string::npos) << text;      // its sound slot
  EXPECT_NE(text.find("element 5 27 4096\n"), std::string::npos) << text;   // the rate factor, not moving at the end
  EXPECT_NE(text.find("element 5 29 22050\n"), std::string::npos) << text;  // the file's rate
  EXPECT_EQ(text.find("element 5 252 "), std::string::npos) << text;
  r = run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(dumped().find("element 5 252 -1\n"), std::string::npos);
}

TEST(DemoRun, BadScreenshotRequestsAreRefused) {
  static constexpr const char* kBad[] = {"10", "x:a.png", "-1:a.png", "10:"};
  for (const char* v : kBad) {
    Outcome r = run(std::string("--screenshot ") + v);
    EXPECT_EQ(r.status, 2) << v;
    EXPECT_NE(r.err.find("needs TICK:FILE"), std::string::npos) << v << r.err;
  }
}

}  // namespace
