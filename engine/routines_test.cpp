// Runtime routines run from compiled brains on real element records.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/test_support.h"
#include "platform/platform.h"

namespace {

using namespace engine_test;

class RoutineTest : public EngineTest {};

struct Case {
  const char* expression;
  std::int32_t value;
};

TEST_F(RoutineTest, Arithmetic) {
  const Case cases[] = {
      {"divide(7, 0)", 2147483647},
      {"divide(-7, 2)", -3},
      {"factor_512(-1, 1)", 0},
      {"factor_512(1024, 3)", 6},
      {"factor_512(-1024, 3)", -6},
      {"factor_512(-3, 512)", -3},
      {"limit(9, 0, 9)", 9},
      {"limit(-3, 0, 9)", 0},
      {"limit(4, 0, 9)", 4},
      {"wrap(-10, 0, 9)", 0},
      {"wrap(10, 0, 9)", 0},
      {"wrap(5, 3, 3)", 3},
      {"wrap(-2147483648, -2147483648, 2147483647)", INT_MIN},
      {"wrap(12, 0, 9)", 2},
      {"between(5, 5, 6)", -1},
      {"between(7, 5, 6)", 0},
      {"interpolate(5, 0, 10, 100, 200)", 150},
      {"interpolate(5, 3, 3, 100, 200)", 0},
      {"interpolate(2147483647, -2147483648, 2147483647, 0, 10)", 10},
      {"angle(0, 7)", 0},
      {"angle(1, 0)", -46080},
      {"sqrt_512(4)", 1024},
      {"sqrt_512(-4)", 0},
      {"sin_512(46080)", 512},
      {"cos_512(0)", 512},
      {"cos_512(92160)", -512},
      {"tan_512(23040)", 512},
      {"sqrt_512(2147483647)", 23726566},
      {"atan_512(512)", 23040},
      {"random(5, 5)", 5},
      {"abs(-5)", 5},
  };
  for (const Case& c : cases)
    EXPECT_EQ(value_of(lines({"var x", std::string("x = ") + c.expression})), c.value) << c.expression;
}

// Values that overflow 32 bits inside the routines wrap as the machine's
// 32-bit arithmetic does; the sanitizers stop the test at any undefined step.
TEST_F(RoutineTest, OverflowsWrapWithoutUndefinedBehaviour) {
  struct Snippet {
    std::vector<std::string> lines;
    std::int32_t x;
  } cases[] = {
      // A quarter turn about x or y carries -2^31 into y or x: -(-2^31) wraps to itself.
      {{"rotation_x_set(element, 46080)", "speed_set(element, 0x80000000)", "x = velocity_y(element)"}, INT_MIN},
      {{"rotation_y_set(element, 46080)", "speed_set(element, 0x80000000)", "x = velocity_x(element)"}, INT_MIN},
      // 2 x (-2^31 x 23170 / 32768) at 45 degrees: -3036938240 wraps to 1258029056.
      {{"velocity_x_set(element, 0x80000000)", "velocity_z_set(element, 0x80000000)",
        "rotation_y_set(element, -23040)", "x = speed_lz(element)"},
       1258029056},
      {{"velocity_x_set(element, 0x80000000)", "velocity_z_set(element, 0x80000000)", "rebound(element, element#1)",
        "x = velocity_x(element)"},
       2142830592},
      {{"velocity_x_set(element, 0x80000000)", "velocity_z_set(element, 0x80000000)", "rebound(element, element#1)",
        "x = velocity_z(element#1)"},
       -2142830592},
      {{"x = every_tics(0x80000000, 5)"}, -1},  // the mask 2^31 - 1 at tick 0
      {{"register_set(element, 42, 0x7fffffff)", "animation_frame_set(element, 0x7fffffff)",
        "x = animation_frame(element)"},
       1},  // no aspect there: nothing changes
      {{"register_set(element, 0, 0x7fffffc0)", "register_set(element, 1, -64)", "x = animation_frame(element)"},
       -33554431},  // (2^31 - 64 + 64) wraps to -2^31, / 64 + 1
      {{"x = element_find(element, 1, 1, 0x80000000)"}, 0},  // |-2^31| wraps to itself: any match, backwards
      {{"timer_set(element, 0x7fffffff)", "x = 1"}, 1},       // the tick's count after the brain wraps
  };
  for (const Snippet& c : cases) {
    std::string text = "var x\r\n";
    for (const std::string& line : c.lines) text += line + "\r\n";
    std::memset(&record(0), 0, 2 * sizeof(project::ElementRecord));
    compile({text, ""});
    world_->ticks = 0;
    engine::brain_pass(*world_);
    EXPECT_EQ(variable(0, 0), c.x) << c.lines.back();
  }
}

// Brains from strangers: whatever they call, the tick ends, a brain that
// spends its budget is stopped as an endless loop (told once), and the run
// goes on. The child's limit only turns a hang into a failure.
TEST_F(RoutineTest, HostileBrainsEndTheirTick) {
  // Brain lines (CR LF ended) of a string of `chars` "A"s in variable v.
  auto filled = [](const char* v, int chars) {
    std::string text = std::string(v) + " = str_create(" + std::to_string(chars) + ")\r\nstr_chr(" + v + ", 65)\r\n";
    for (int i = 0; i < 24; ++i) text += std::string("str_add(") + v + ", " + v + ")\r\n";
    return text;
  };
  auto repeated = [](const char* line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += std::string(line) + "\r\n";
    return text;
  };
  struct Hostile {
    const char* what;
    std::string text;
    bool stopped;
  } cases[] = {
      {"on_list walking 2^31 steps of 2^32 bytes", lines({"var x", "x = on_list(element, 0x7fffffff, 4194304)"}), false},
      {"on_list extremes in a loop",
       lines({"var x", "again:", "x = on_list(element, 0x7fffffff, 4194304)", "x = on_list(element, 1000000, 1)",
              "goto again"}),
       true},
      {"ten nested executes a line", "var x\r\n" + repeated("x = execute(element)", 10), true},
      {"a 16 MB text measured in a loop",
       "var s\r\nvar x\r\n" + filled("s", 15999999) + "again:\r\nx = str_len(s)\r\ngoto again\r\n", true},
      {"an 8 MB text copied in straight lines",
       "var s\r\nvar t\r\n" + filled("s", 7999999) + "t = str_create(7999999)\r\n" +
           repeated("str_copy(t, s, 0, -1)", 2000),
       true},
  };
  for (const Hostile& c : cases) {
    EXPECT_TRUE(engine_test::ends_in_child(
        [&] {
          compile({c.text});
          world_->names[0] = "e";
          std::string told;
          world_->errors.show = [](void* context, std::string_view t) { *static_cast<std::string*>(context) += t; };
          world_->errors.context = &told;
          engine::brain_pass(*world_);
          engine::brain_pass(*world_);  // a stopped brain is told once and runs no more
          EXPECT_EQ(world_->brain_stopped[0], c.stopped) << c.what;
          EXPECT_EQ(told, c.stopped ? "'e' brain ERROR!|Endless loop: more than 1000000 jumps back in one tick" : "")
              << c.what;
        },
        60))
        << c.what;
  }
}

// A box's text on stderr (no dialogs) is cut after a few hundred characters.
TEST_F(RoutineTest, EchoesOfLongTextsAreCut) {
  std::string text = "var s\r\ns = str_create(99999)\r\nstr_chr(s, 66)\r\n";
  for (int i = 0; i < 17; ++i) text += "str_add(s, s)\r\n";
  compile({text + "msg_box(s, 0, 0, 0)\r\n"});
  testing::internal::CaptureStderr();
  engine::brain_pass(*world_);
  std::string errors = testing::internal::GetCapturedStderr();
  std::string shown = std::string(engine::kEchoChars, 'B') + "... (99999 characters)\n";
  ASSERT_GE(errors.size(), shown.size()) << errors.substr(0, 400);
  EXPECT_EQ(errors.substr(errors.size() - shown.size()), shown) << errors.size();
}

TEST_F(RoutineTest, RandomStaysInItsRangeEitherOrder) {
  compile({lines({"var x", "var y", "x = random(10, 3)", "y = random(-2, 2)"})});
  for (int i = 0; i < 200; ++i) {
    engine::brain_pass(*world_);
    EXPECT_GE(variable(0, 0), 3);
    EXPECT_LE(variable(0, 0), 10);
    EXPECT_GE(variable(0, 1), -2);
    EXPECT_LE(variable(0, 1), 2);
  }
}

TEST_F(RoutineTest, EveryTicksCountsEngineTicks) {
  compile({lines({"var x", "if every_tics(4, 10)", "x = x + 1", "endif"})});
  for (int i = 0; i < 20; ++i) engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 3);  // ticks 0, 4 and 8
}

TEST_F(RoutineTest, MotionUpdatesPositionAndRotation) {
  compile({lines({"velocity_x_set(element, 100)", "velocity_y_set(element, -5)", "spin_y_set(element, 512)",
                  "velocity_update(element)", "spin_update(element)", "gravity(element, 1, 2, 3)"})});
  for (int i = 0; i < 1000; ++i) engine::brain_pass(*world_);
  EXPECT_EQ(record(0).position[0], 100000);
  EXPECT_EQ(record(0).position[1], -5000);
  EXPECT_EQ(record(0).position[2], 3 * 999 * 1000 / 2);  // gravity after the update of each tick
  EXPECT_EQ(record(0).rotation[1], 512000);  // no normalisation when adding
  EXPECT_EQ(record(0).velocity[2], 3000);    // x and y are set each tick; z gathers gravity
  EXPECT_EQ(record(0).tick_counter, 1000);
}

TEST_F(RoutineTest, ThrustFollowsTheRotationAndFrictionRoundsToZero) {
  compile({lines({"var x", "var z", "rotation_y_set(element, 46080)", "thrust(element, 1000)",
                  "x = velocity_x(element)", "z = velocity_z(element)"})});
  engine::brain_pass(*world_);
  EXPECT_NEAR(variable(0, 0), -1000, 1);
  EXPECT_NEAR(variable(0, 1), 0, 1);

  compile({lines({"velocity_x_set(element, -1000)", "velocity_z_set(element, 1000)", "friction(element, 256)",
                  "spin_x_set(element, -1001)", "friction_xr(element, 256)"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(record(0).velocity[0], -500);
  EXPECT_EQ(record(0).velocity[2], 500);
  EXPECT_EQ(record(0).spin[0], -500);
}

TEST_F(RoutineTest, DragSlowsAndHalvesHugeSpeeds) {
  compile({lines({"velocity_x_set(element, 40960)", "velocity_y_set(element, -5)",
                  "velocity_z_set(element, 0x7FFFFFFF)", "drag(element, 8192)"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(record(0).velocity[0], 40960 - (100 + 10));  // w = 10: 100 * 8192 / 8192 + 10
  EXPECT_EQ(record(0).velocity[1], -5 + 11);             // w = -1: d = 1 + 10, added from below (overshoots)
  EXPECT_EQ(record(0).velocity[2], 0x7FFFFFFF >> 1);     // w squared overflows: halved
}

TEST_F(RoutineTest, DistanceDirectionAndTracking) {
  record(1).position[0] = 3 * 512 * 1000;
  record(1).position[2] = 4 * 512 * 1000;
  compile({lines({"var d", "var xz", "d = distance(element, element#1)", "xz = direction_xz(element, element#1)",
                  "track_yr(element, element#1)"}),
           lines({})});
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 5000 << 9);
  EXPECT_EQ(record(0).rotation[1], variable(0, 1));
}

TEST_F(RoutineTest, ElementSelection) {
  compile({lines({"var first", "var last", "var near", "var none", "var next", "var rnd",
                  "first = first_element()", "last = last_element()", "near = nearest_element(element, 2)",
                  "none = random_element(element, 64)", "next = element_index(element, 2)",
                  "rnd = random_element(element, 2)"}),
           lines({}), lines({}), lines({})});
  record(1).collision_code = 2, record(1).position[0] = 9 << 20;
  record(2).collision_code = 2, record(2).position[0] = 1 << 20;
  record(3).collision_code = 2;
  record(3).flags = 0;  // off: never chosen
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), ref(0));
  EXPECT_EQ(variable(0, 1), ref(3));
  EXPECT_EQ(variable(0, 2), ref(2));
  EXPECT_EQ(variable(0, 3), 0);
  EXPECT_EQ(variable(0, 4), ref(2));
  EXPECT_TRUE(variable(0, 5) == ref(1) || variable(0, 5) == ref(2));
}

TEST_F(RoutineTest, FieldStoresAreBounded) {
  compile({lines({"var a", "var b", "var c", "var d", "register_set(element, 23, 77)", "a = credits(element)",
                  "register_set(element, 256, 5)", "register_set(element, -1, 5)", "b = register(element, 300)",
                  "local_set(element, 128, 9)", "local_set(element, 3, 11)", "c = local(element, 3)",
                  "pocket_set(element, 332, 1)", "pocket_set(element, 0, 511)", "pocket_add(element, 0, 2)",
                  "d = pocket(element, 0)", "state_reset(element, 1)"})});
  record(0).flags |= static_cast<std::int32_t>(0xF0000000u);
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 77);
  EXPECT_EQ(variable(0, 1), 0);
  EXPECT_EQ(variable(0, 2), 11);
  EXPECT_EQ(variable(0, 3), 1);  // 511 stored as 255, plus 2 wraps to 1
  EXPECT_EQ(record(0).flags, 0);  // state_reset(e, 1) also clears bits 28..31
  EXPECT_EQ(record(0).pocket[331], 0);
}

TEST_F(RoutineTest, ExecuteRunsAnotherBrainAndExitStoresTheRequest) {
  compile({lines({"var x", "x = execute(element#1) + 1", "exit(-2)"}),
           lines({"var y", "y = y + 10", "return", "y = 0"})});
  record(1).flags = 0;  // off: runs only through execute
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(1, 0), 10);
  EXPECT_EQ(world_->exit_request, -2);
}

TEST_F(RoutineTest, KeyboardByNameOrScanCode) {
  compile({lines({"var a", "var b", "var c", "var d", "a = keyboard(\"left\")", "b = keyboard(75)",
                  "c = keyboard(\"nonsense\")", "d = scancode()"})});
  input_->held[75] = true;
  engine::brain_pass(*world_);
  input_->held[75] = false;
  EXPECT_EQ(variable(0, 0), -1);
  EXPECT_EQ(variable(0, 1), -1);
  EXPECT_EQ(variable(0, 2), 0);
  EXPECT_EQ(variable(0, 3), 75);

  // Either shift key answers for both names.
  compile({lines({"var l", "var r", "l = keyboard(\"lshift\")", "r = keyboard(54)"})});
  input_->held[54] = true;
  engine::brain_pass(*world_);
  input_->held[54] = false;
  EXPECT_EQ(variable(0, 0), -1);
  EXPECT_EQ(variable(0, 1), -1);

  compile({lines({"any_input_exit(9)"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(world_->exit_request, -1);
  input_->held[57] = true;
  engine::brain_pass(*world_);
  input_->held[57] = false;
  EXPECT_EQ(world_->exit_request, 9);
}

TEST_F(RoutineTest, BadElementReferencesChangeNothing) {
  for (int i = 0; i < 4; ++i) {
    record(i).flags = project::kFlagOn;
    record(i).position[0] = 1000 * (i + 1);
    record(i).velocity[0] = 7;
    record(i).collision_code = -1;
  }
  world_->highest = 3;
  const std::int32_t bad[] = {static_cast<std::int32_t>(0x80000000u | static_cast<std::uint32_t>(ref(1))),
                              -1, 0, 3, ref(0) + 4, ref(0) - 1024, ref(0) + 256 * 1024};
  std::vector<char> before(reinterpret_cast<char*>(&record(0)), reinterpret_cast<char*>(&record(256)));
  auto self = base::address32(&record(0));
  for (std::string_view name : engine::bound_names()) {
    brain::Routine routine = brain::routine_of(brain::find_keyword(name));
    for (std::int32_t b : bad) routine(b, b, b, b, b, self);
  }
  // Routines of two elements: one good reference is not enough.
  for (const char* name : {"position_copy", "velocity_copy", "spin_copy", "rotation_copy", "attract", "attract_xz",
                           "attract_y", "follow", "track", "track_yr", "track_smooth", "track_yr_smooth", "join",
                           "join_pos", "child_rot", "child_pos", "rebound", "rebound_yr", "on_range"}) {
    brain::Routine routine = brain::routine_of(brain::find_keyword(name));
    for (std::int32_t b : bad) {
      routine(b, ref(1), 1, 1, 1, self);
      routine(ref(1), b, 1, 1, 1, self);
    }
  }
  std::vector<char> after(reinterpret_cast<char*>(&record(0)), reinterpret_cast<char*>(&record(256)));
  EXPECT_TRUE(before == after);
  for (const char* getter : {"position_x", "velocity_x", "credits", "status", "state", "timer", "register", "local",
                             "pocket", "distance", "element_index"})
    for (std::int32_t b : bad)
      EXPECT_EQ(brain::routine_of(brain::find_keyword(getter))(b, 0, 0, 0, 0, 0), 0) << getter << " " << b;
}

// Frames stepped through a range, the shown flag toggled, a lift moved step by step: one pass each.
TEST_F(RoutineTest, AnimateFlashAndLiftStepOncePerCall) {
  auto* aspects = base::area_as<project::AspectRecord>(base::Area::aspect_table);
  ASSERT_NE(aspects, nullptr);
  auto base_aspect = static_cast<std::int32_t>(base::address32(aspects));
  struct {
    const char* animate;
    std::int32_t frames[4];
  } ranges[] = {
      {"animate(element, 2, 4, 1)", {2, 3, 4, 2}},
      {"animate(element, 2, 4, -1)", {3, 2, 4, 3}},
      {"animate(element, 0, 99, 2)", {3, 5, 2, 4}},  // held inside 1..5
      {"animate(element, 4, 2, 1)", {1, 1, 1, 1}},   // an empty range: nothing
  };
  const std::int32_t heights[4] = {300, 600, 900, 1000}, lifted[4] = {0, 0, 0, -1};
  for (const auto& c : ranges) {
    std::memset(&record(0), 0, sizeof(project::ElementRecord));
    compile({lines({"var frame", "var done", c.animate, "flash(element)", "done = lift(element, 1000, -300)",
                    "frame = animation_frame(element)"})});
    record(0).frame_limit = 5;
    record(0).base_aspect = record(0).current_aspect = base_aspect;
    for (int pass = 0; pass < 4; ++pass) {
      engine::brain_pass(*world_);
      EXPECT_EQ(variable(0, 0), c.frames[pass]) << c.animate << " pass " << pass;
      EXPECT_EQ((record(0).flags & project::kFlagShown) != 0, pass % 2 == 0) << pass;
      EXPECT_EQ(record(0).position[1], heights[pass]) << pass;
      EXPECT_EQ(variable(0, 1), lifted[pass]) << pass;
    }
  }
}

// Keywords still waiting for their routine: the picking family, built on its
// own branch. Its merge empties this list; nothing may be added to it.
// Every keyword starts as the placeholder that returns 0: each must be bound,
// so a keyword added to the language without its routine fails here.
TEST_F(RoutineTest, NoKeywordIsLeftOnThePlaceholder) {
  for (std::string_view name : engine::bound_names()) {
    int row = brain::find_keyword(name);
    ASSERT_GE(row, 0) << name;
    EXPECT_FALSE(brain::is_placeholder(row)) << name;
  }
  for (int row = 0; row < brain::kKeywordRows; ++row)
    EXPECT_FALSE(brain::is_placeholder(row)) << brain::keyword(row).name;
}

}  // namespace

TEST_F(RoutineTest, OrientFacesTheWayOfMotion) {
  struct {
    std::int32_t vx, vy, vz, ax, ay;
    std::int32_t x, y;  // rotation after orient_straight
  } cases[] = {
      {0, 0, 5120, 0, 0, 0, 0},            // along +z
      {5120, 0, 0, 0, 100, 0, -45980},      // along +x, then turned by ay
      {0, 5120, 5120, 7, 0, -23040 + 7, 0},  // climbing at 45 degrees
  };
  compile({lines({"orient_straight(element, global(1), global(2))"})});
  for (const auto& c : cases) {
    ElementRecord& r = record(0);
    r.velocity[0] = c.vx, r.velocity[1] = c.vy, r.velocity[2] = c.vz;
    r.rotation[0] = r.rotation[1] = 0;
    engine::globals()[1] = c.ax, engine::globals()[2] = c.ay;
    engine::brain_pass(*world_);
    EXPECT_EQ(r.rotation[0], c.x) << c.vx << " " << c.vy << " " << c.vz;
    EXPECT_EQ(r.rotation[1], c.y) << c.vx << " " << c.vy << " " << c.vz;
  }
  // With a strength the rotation stays and the spin is pushed the shorter way, then damped.
  compile({lines({"orient_forward(element, 0, 0, 300, 256)"})});
  ElementRecord& r = record(0);
  r.velocity[0] = 5120, r.velocity[1] = 0, r.velocity[2] = 0;
  r.rotation[0] = r.rotation[1] = 0;
  r.spin[1] = 0;
  engine::brain_pass(*world_);
  EXPECT_EQ(r.rotation[1], 0);
  EXPECT_EQ(r.spin[1], -150);
}

TEST_F(RoutineTest, SightSeesAlongTheView) {
  struct {
    std::int32_t bx, bz;
    bool b_on;
    std::int32_t result;
  } cases[] = {
      {0, 512 * 50, true, 1},       // ahead, in range
      {0, 512 * 150, true, -1},     // beyond the range
      {512 * 50, 512 * 5, true, -1},  // off to the side
      {0, -512 * 50, true, -1},     // behind
      {0, 512 * 50, false, -1},     // switched off
  };
  compile({lines({"var s", "s = sight(element, element_index(element, 1), 51200, 128)"}), lines({"var n"})});
  for (const auto& c : cases) {
    record(1).position[0] = c.bx, record(1).position[2] = c.bz;
    record(1).radius = 10;
    record(1).flags = c.b_on ? project::kFlagOn : 0;
    engine::brain_pass(*world_);
    EXPECT_EQ(variable(0, 0), c.result) << c.bx << " " << c.bz;
  }
  EXPECT_EQ(brain::routine_of(brain::find_keyword("sight"))(ref(0), -1, 51200, 128, 0, 0), 0);
}

TEST_F(RoutineTest, SplinesLoopThroughTheirKeys) {
  compile({lines({"var a", "var b", "var c", "var d", "var e", "var f",
                  "spline_key_set(3, 0, 0, 0, 0)", "spline_key_set(3, 10, 1000, 0, 0)", "spline_key_set(3, 20, 0, 0, 0)",
                  "spline_key_set(3, 10, 100, 0, 0)",  // replaces the key at time 10
                  "a = spline_pos_x(3, 5, 1)", "b = spline_pos_x(3, 25, 1)", "c = spline_pos_x(3, 10, 0)",
                  "d = spline_pos_x(50, 5, 1)",  // no such slot
                  "spline_key_remove(3, 10)", "e = spline_pos_x(3, 5, 0)",
                  "spline_key_add(4, 0, element)", "spline(4, 99, element, 0)", "f = position_x(element)"})});
  record(0).position[0] = 321;
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 50);   // linear, halfway to the middle key
  EXPECT_EQ(variable(0, 1), 50);   // one span later
  EXPECT_EQ(variable(0, 2), 100);  // the curve passes through its keys
  EXPECT_EQ(variable(0, 3), 0);
  EXPECT_EQ(variable(0, 4), 0);
  EXPECT_EQ(variable(0, 5), 321);  // one key: that position
}

// Field keywords on the running element compile to a plain load or store; the
// same brain through a reference in a variable calls the routine. Both must
// leave identical records and values, and bad references (never compiled in
// line) must still change nothing and read 0.
TEST_F(RoutineTest, FieldKeywordsInLineMatchTheirRoutines) {
  int fields = 0;
  for (int row = 0; row < brain::kKeywordRows; ++row) {
    int word = 0;
    brain::FieldAccess access = brain::field_access(row, &word);
    if (access == brain::FieldAccess::none) continue;
    ++fields;
    std::string name = brain::keyword(row).name;
    bool get = access == brain::FieldAccess::get;
    auto use = [&](const char* element) {
      return get ? "x = " + name + "(" + element + ")" : "x = " + name + "(" + element + ", 123457)";
    };
    // Element 0 in line, element 1 through the routine, elements 2 and 3 with
    // bad references: the one below the table and a small number.
    compile({lines({"var x", "var e", use("element")}), lines({"var x", "var e", "e = element", use("e")}),
             lines({"var x", "var e", "x = 99", use("element#-3")}), lines({"var x", "var e = 5", "x = 99", use("e")})});
    for (int i = 0; i < 4; ++i) {
      for (int w = 0; w < 64; ++w)
        if (w != project::kWordBrainEntry) reinterpret_cast<std::int32_t*>(&record(i))[w] = 1000 + w;
      record(i).flags = project::kFlagOn;
    }
    std::vector<char> before(reinterpret_cast<char*>(&record(0)), reinterpret_cast<char*>(&record(4)));
    engine::brain_pass(*world_);
    EXPECT_EQ(variable(0, 0), variable(1, 0)) << name;
    EXPECT_EQ(variable(0, 0), get ? 1000 + word : 0) << name;
    for (int w = 0; w < 64; ++w) {
      if (w == project::kWordBrainEntry) continue;
      EXPECT_EQ(reinterpret_cast<std::int32_t*>(&record(0))[w], reinterpret_cast<std::int32_t*>(&record(1))[w])
          << name << " word " << w;
    }
    if (!get) {
      // The brain pass counts the tick after the store.
      EXPECT_EQ(reinterpret_cast<std::int32_t*>(&record(0))[word], 123457 + (word == project::kWordTickCounter))
          << name;
    }
    for (int i = 2; i < 4; ++i) {
      EXPECT_EQ(variable(i, 0), 0) << name << " bad reference of element " << i;
      // Apart from the brain's own variables and the tick count, nothing moved.
      auto* was = reinterpret_cast<const std::int32_t*>(before.data() + 1024 * i);
      for (int w = 0; w < 64; ++w) {
        if (w == project::kWordTickCounter) continue;
        EXPECT_EQ(reinterpret_cast<std::int32_t*>(&record(i))[w], was[w]) << name << " element " << i << " word " << w;
      }
    }
  }
  EXPECT_GE(fields, 30);  // the position, rotation, velocity and spin words at least
}
