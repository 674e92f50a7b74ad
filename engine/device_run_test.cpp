// Headless test runs through the zepta program: scripted keys and controllers
// read back by brains, hot-plugging mid-run, and collisions between elements
// with matrix changes that last only for the run.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "project/project.h"
#include "shell/base/memory.h"

namespace {

namespace fs = std::filesystem;

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string brain(std::initializer_list<std::string_view> l) {
  std::string text;
  for (std::string_view s : l) text += std::string(s) + "\r\n";
  return text;
}

bool has_line(const std::string& dump, const std::string& line) { return dump.find(line + "\r\n") != std::string::npos; }

struct Outcome {
  int status = -1;
  std::string err;
  std::string dump;
};

class DeviceRunTest : public ::testing::Test {
 protected:
  std::string work;

  void SetUp() override {
    const char* d = std::getenv("ZEPTA_TEST_DATA");
    if (!d || !fs::exists(std::string(d) + "/sinus.bin")) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    char name[] = "/tmp/zepta_devices_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    work = std::string(name) + "/";
    fs::create_directories(work + "data");
    for (const auto& f : fs::directory_iterator(d)) fs::copy(f.path(), work + "data/" + f.path().filename().string());
    for (const char* sub : {"projects", "brains", "temp", "cameras", "sounds"}) fs::create_directories(work + sub);
    ASSERT_TRUE(shell::reserve_budget());
  }
  void TearDown() override {
    if (!work.empty()) fs::remove_all(work);
    shell::release_budget();
  }

  // One camera element per brain; matrix bytes (row, column, value) go to the ".col" file.
  void make_project(const std::vector<std::string>& brains, std::vector<std::array<int, 3>> declared = {}) {
    auto p = std::make_unique<project::Project>();
    std::vector<std::uint8_t> matrix(project::kCollisionBytes);
    for (const auto& d : declared) matrix[d[0] * 256 + d[1]] = static_cast<std::uint8_t>(d[2]);
    p->collision = matrix.data();
    project::Host host;
    host.work_folder = shell::Text(work);
    host.data_folder = shell::Text(work + "data/");
    for (std::size_t i = 0; i < brains.size(); ++i) {
      std::string path = work + "brains/b" + std::to_string(i) + ".brn";
      write(path, brains[i]);
      p->lines.line[i] = project::default_camera_line(work);
      p->lines.highest = static_cast<int>(i);
      ASSERT_TRUE(project::set_line_field(p->lines, static_cast<int>(i), project::kFieldBrain, path));
      ASSERT_TRUE(project::set_line_field(p->lines, static_cast<int>(i), project::kFieldName, "e" + std::to_string(i)));
      ASSERT_TRUE(project::set_line_field(p->lines, static_cast<int>(i), project::kFieldUserParameters, "0"));
    }
    ASSERT_TRUE(project::save_project(*p, host, work + "projects/t.prj"));
  }

  Outcome run(const std::string& script, int ticks) {
    write(work + "input.txt", script);
    std::string cmd = std::string("cd '") + work + "' && '" ZEPTA_PROGRAM "' --headless --mode 1 --project projects/t.prj" +
                      " --fast --dump dump.txt --input input.txt --ticks " + std::to_string(ticks) + " 2>'" + work +
                      "stderr.txt' >/dev/null";
    Outcome r;
    int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = read(work + "stderr.txt");
    r.dump = read(work + "dump.txt");
    return r;
  }
};

// The element's timer equals the engine tick at which the script's events
// arrive. Events are timed late enough that the samples taken before the run
// (timed by sample count) do not deliver them early.
TEST_F(DeviceRunTest, ScriptedKeysAndControllersReachTheBrains) {
  make_project({brain({"var t", "t = timer(element)", "if keyboard(\"left\")", "global_add(1, 1)", "endif",
                       "if t = 26", "global_set(10, joy1_x(-100, 100))", "global_set(11, joy1_b(16))",
                       "global_set(12, joy1_dir1())", "global_set(13, joy2_y(0, 10))", "global_set(14, keyboard(75))",
                       "global_set(15, any_input())", "global_set(16, joy2_dir2())", "global_set(17, scancode())",
                       "endif", "if t = 28", "global_set(20, joy1_b(16))", "global_set(21, joy1_x(-100, 100))",
                       "global_set(22, any_input())", "endif", "if t = 29", "global_set(23, joy1_b(16))", "endif"})});
  Outcome r = run(
      "# keys and two controllers\n"
      "25 down 75\n"
      "25 joy 1 present 1\n"
      "25 joy 1 axis x 1000\n"
      "25 joy 1 button 0 1\n"
      "25 joy 1 hat 0 9000\n"
      "26 joy 2 present 1\n"
      "26 joy 2 axis y -1000\n"
      "26 joy 2 hat 1 -1\n"
      "27 up 75\n"
      "28 joy 1 present 0\n"
      "29 joy 1 present 1\n",
      30);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has_line(r.dump, "global 1 2")) << r.dump;  // LEFT held during ticks 25 and 26
  EXPECT_TRUE(has_line(r.dump, "global 10 -100")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 11 16")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 12 46080")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 13 10")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 14 -1")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 15 -1")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 16 -1")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 17 75")) << r.dump;
  // Unplugged at 28: no buttons, the stick keeps its last value, nothing is down.
  EXPECT_FALSE(has_line(r.dump, "global 20 16")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 21 -100")) << r.dump;
  EXPECT_FALSE(has_line(r.dump, "global 22 -1")) << r.dump;
  // Plugged in again at 29: its record's buttons start released.
  EXPECT_FALSE(has_line(r.dump, "global 23 16")) << r.dump;
}

TEST_F(DeviceRunTest, ControllersComingAndGoingEveryTickCrashNothing) {
  make_project({brain({"var b", "var x", "var d", "b = b + joy1_b(-1) + joy2_b(-1)", "x = x + joy1_x(0, 100) + joy2_z(5, 1)",
                       "d = joy1_dir4() + joy2_dir1() + joy1_xr() + joy2_zr()", "global_set(1, b)"})});
  std::string script;
  for (int t = 4; t < 200; ++t) {
    int n = 1 + t % 2;
    script += std::to_string(t) + " joy " + std::to_string(n) + " present " + std::to_string(t / 2 % 2) + "\n";
    script += std::to_string(t) + " joy " + std::to_string(n) + " button " + std::to_string(t % 32) + " 1\n";
    script += std::to_string(t) + " joy " + std::to_string(3 - n) + " axis zr " + std::to_string(t * 5 - 1000) + "\n";
    script += std::to_string(t) + " joy " + std::to_string(n) + " hat 3 " + std::to_string(t * 100) + "\n";
  }
  Outcome r = run(script, 250);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.dump.starts_with("exit -1\r\nticks 254\r\n")) << r.dump;
}

TEST_F(DeviceRunTest, BadControllerLinesAreRefusedWithTheirLine) {
  make_project({brain({"var n"})});
  struct {
    const char* line;
    const char* message;
  } cases[] = {{"5 joy 3 present 1\n", "controller '3' not 1 or 2"},
               {"5 joy 1 axis w 5\n", "unknown axis 'w'"},
               {"5 joy 1 axis x 1001\n", "axis value '1001' not in -1000..1000"},
               {"5 joy 1 button 32 1\n", "button '32' not in 0..31"},
               {"5 joy 1 hat 4 0\n", "hat '4' not in 0..3"},
               {"5 joy 1 hat 0 36000\n", "hat value '36000'"},
               {"5 joy 2 present\n", "wrong number of values"},
               {"5 joy 2 spin 1 1\n", "unknown controller event 'spin'"}};
  for (const auto& c : cases) {
    Outcome r = run(std::string("1 key 57\n") + c.line, 5);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.line << r.err;
    EXPECT_NE(r.err.find("line 2: "), std::string::npos) << c.line << r.err;
    EXPECT_EQ(r.status, 2) << c.line;
  }
}

// Two cameras at the same place: a brain declares their pair on channel 3 at
// tick 5; from the next pass they touch every tick. The project's own byte is
// back once the run has ended.
TEST_F(DeviceRunTest, CollisionMapChangesWorkDuringTheRunAndAreGoneAfterIt) {
  make_project({brain({"var t", "t = timer(element)", "if t = 5", "global_set(1, collision_map(element#1, element))",
                       "collision_map_set(element, element#1, 3)", "global_set(2, collision_map(element#1, element))",
                       "endif", "if collision_color(62)", "global_add(3, 1)", "endif",
                       "if collision(element, -1)", "global_add(4, 1)", "endif"}),
                brain({"element_id_set(element, 64)"})},
               {{0, 1, 5}});
  Outcome r = run("", 10);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has_line(r.dump, "global 1 5")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 2 3")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 3 8")) << r.dump;   // ticks 6 to 13
  EXPECT_TRUE(has_line(r.dump, "global 4 10")) << r.dump;  // channel 5 touched from the first tick
  EXPECT_TRUE(has_line(r.dump, "collision 0 1 5")) << r.dump;
  EXPECT_FALSE(has_line(r.dump, "collision 0 1 3")) << r.dump;
}

}  // namespace
