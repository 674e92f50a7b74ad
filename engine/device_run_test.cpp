// Headless test runs through the zepta program: scripted keys and controllers
// read back by brains, hot-plugging mid-run, and collisions between elements
// with matrix changes that last only for the run, and the pick under a scripted
// pointer.
#include "tests/program_fixture.h"

namespace {

using namespace program_test;

class DeviceRunTest : public ProgramFixture {
 protected:
  Outcome run(const std::string& script, int ticks) {
    write(work + "input.txt", script);
    return test_run({"--input", "input.txt", "--ticks", std::to_string(ticks)});
  }
};

// The element's timer equals the engine tick at which the script's events
// arrive. Events are timed late enough that the samples taken before the run
// (timed by sample count) do not deliver them early.
TEST_F(DeviceRunTest, ScriptedKeysAndControllersReachTheBrains) {
  make_project({lines({"var t", "t = timer(element)", "if keyboard(\"left\")", "global_add(1, 1)", "endif",
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
  make_project({lines({"var b", "var x", "var d", "b = b + joy1_b(-1) + joy2_b(-1)", "x = x + joy1_x(0, 100) + joy2_z(5, 1)",
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
  EXPECT_TRUE(r.dump.starts_with("exit -1\nticks 254\n")) << r.dump;
}

TEST_F(DeviceRunTest, BadControllerLinesAreRefusedWithTheirLine) {
  make_project({lines({"var n"})});
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
  make_project({lines({"var t", "t = timer(element)", "if t = 5", "global_set(1, collision_map(element#1, element))",
                       "collision_map_set(element, element#1, 3)", "global_set(2, collision_map(element#1, element))",
                       "endif", "if collision_color(62)", "global_add(3, 1)", "endif",
                       "if collision(element, -1)", "global_add(4, 1)", "endif"}),
                lines({"element_id_set(element, 64)"})},
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

// The tick's pick in a whole run: the scripted pointer over camera e0's view
// (display pixels 160..479 x 120..359) is seen through it by
// visual_picked_get_ex(3), in a project whose brain calls visual_picked;
// without that call the engine picks nothing.
TEST_F(DeviceRunTest, ThePointerIsPickedOnlyInProjectsThatCallVisualPicked) {
  static constexpr struct {
    bool marked;
    int x, y;
    bool seen;
  } kCases[] = {{true, 320, 240, true}, {true, 160, 120, true}, {true, 479, 359, true},
                {true, 100, 100, false}, {true, 480, 240, false}, {false, 320, 240, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << (c.marked ? "calls visual_picked, " : "does not, ") << c.x << "," << c.y);
    std::string mark = c.marked ? "p = visual_picked(element)" : "p = 0";
    make_project({lines({"var p", "var c", mark, "c = visual_picked_get_ex(3)", "if timer(element) = 25",
                         "global_set(1, c)", "global_set(2, element)", "global_set(3, p)", "endif"})});
    Outcome r = run("20 mouse " + std::to_string(c.x) + " " + std::to_string(c.y) + " 0\n", 27);
    ASSERT_EQ(r.status, 0) << r.err;
    auto value = [&r](const std::string& name) {
      std::size_t at = r.dump.find("\n" + name + " ");
      if (at == std::string::npos) return std::string("none");
      at += name.size() + 2;
      return r.dump.substr(at, r.dump.find('\n', at) - at);
    };
    ASSERT_NE(value("global 2"), "none") << r.dump;
    if (c.seen) EXPECT_EQ(value("global 1"), value("global 2")) << "the camera under the pointer";
    else EXPECT_EQ(value("global 1"), "none") << "no view picked: 0, not dumped";
    EXPECT_EQ(value("global 3"), "none") << "a camera has no model to pick";
  }
}
