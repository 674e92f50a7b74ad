// Test runs of small projects through the zepta program, headless, checked by their dumps.
#include "tests/program_fixture.h"

namespace {

using namespace program_test;

class RunLoopTest : public ProgramFixture {
 protected:
  Outcome run(std::vector<std::string> extra) { return test_run(std::move(extra)); }
};

TEST_F(RunLoopTest, MovingElementsRunThousandsOfTicksAndEndWithTheirDump) {
  make_project({lines({"var n", "n = n + 1", "velocity_x_set(element, 3)", "spin_y_set(element, 2)",
                       "velocity_update(element)", "spin_update(element)", "global_set(5, timer(element))"}),
                lines({"position_z_add(element, -1)", "if timer(element) = 2000", "debug(77)", "endif"})});
  Outcome r = run({"--ticks", "3000"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Four brain passes before the first frame, then 3,000 ticks.
  EXPECT_TRUE(r.dump.starts_with("exit -1\r\nticks 3004\r\n")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 5 3003")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "element 0 3 9012")) << r.dump;   // position x
  EXPECT_TRUE(has_line(r.dump, "element 0 7 6008")) << r.dump;   // rotation y
  EXPECT_TRUE(has_line(r.dump, "element 0 43 3004")) << r.dump;  // tick counter
  EXPECT_TRUE(has_line(r.dump, "element 0 255 3004")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "element 1 5 -3004")) << r.dump;
  EXPECT_EQ(read(work + "temp/wasok.dat"), "wasok\r\n");
  EXPECT_EQ(r.err.find("When compiled"), std::string::npos) << r.err;
}

TEST_F(RunLoopTest, ExitCodesEndTheRunWithTheirMessages) {
  struct {
    const char* code;
    const char* message;  // "" for none
  } cases[] = {{"-2", "When compiled, exit to end screen"},
               {"-3", "When compiled, exit directly to Windows"},
               {"7", "When compiled, exit to sub-project 7"},
               {"0x80000000", ""}};
  for (auto c : cases) {
    make_project({lines({"if timer(element) = 10", std::string("exit(") + c.code + ")", "endif"})});
    write(work + "temp/wasok.dat", "stale");
    Outcome r = run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has_line(r.dump, "ticks 11")) << c.code << "\n" << r.dump;
    if (*c.message) EXPECT_NE(r.err.find(c.message), std::string::npos) << c.code << r.err;
    else EXPECT_EQ(r.err.find("When compiled"), std::string::npos) << r.err;
    EXPECT_EQ(read(work + "temp/wasok.dat"), "wasok\r\n");
  }
}

TEST_F(RunLoopTest, EscapeFromScriptedInputEndsTheRunWithoutAMessage) {
  make_project({lines({"var n", "n = n + 1"})});
  write(work + "keys.txt", "10 key 1\n");
  Outcome r = run({"--input", "keys.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The key arrives with engine tick 10; that tick still runs its brains.
  EXPECT_TRUE(r.dump.starts_with("exit -1\r\nticks 11\r\n")) << r.dump;
  EXPECT_EQ(r.err.find("When compiled"), std::string::npos) << r.err;
  EXPECT_EQ(read(work + "temp/wasok.dat"), "wasok\r\n");
}

TEST_F(RunLoopTest, GlobalsFileAndCommandValuesReachTheBrains) {
  make_project({lines({"var a", "var b", "var c", "a = global(0)", "b = par_count()", "c = par_get(1)", "exit(0)"})});
  write(work + "temp/globvars.dat", "42\r\n99\r\n");
  Outcome r = run({"/5", "/-6"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has_line(r.dump, "global 0 42")) << r.dump;
  EXPECT_FALSE(has_line(r.dump, "global 1 99")) << r.dump;  // only global 0 in a fresh process
  EXPECT_TRUE(has_line(r.dump, "element 0 255 42")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "element 0 254 2")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "element 0 253 -6")) << r.dump;
}

TEST_F(RunLoopTest, BadElementReferencesInBrainsCrashNothing) {
  make_project({lines({"var a", "var b", "position_x_set(0x80000000, 5)", "position_x_set(3, 5)",
                       "position_x_set(element#256, 5)", "position_x_set(element#-1, 5)", "a = execute(element#300)",
                       "register_set(element, 21, 12345)", "b = register(element, 1000)"})});
  Outcome r = run({"--ticks", "5"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The brain ran once: its overwritten code entry is not entered again.
  EXPECT_TRUE(has_line(r.dump, "element 0 21 12345")) << r.dump;
  EXPECT_FALSE(has_line(r.dump, "element 0 3 5")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "element 0 43 9")) << r.dump;
}

}  // namespace

TEST_F(RunLoopTest, RecordedTrackIsReportedSavedAndPlaysBack) {
  // 4 preparation passes + 86 ticks = 90 samples, three seconds.
  make_project({lines({"velocity_x_set(element, 5)", "spin_y_set(element, 2)", "velocity_update(element)",
                       "spin_update(element)", "track_record(element)"})});
  Outcome r = run({"--ticks", "86"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("A 3 seconds track was successfully recorded!"), std::string::npos) << r.err;
  std::string track = read(work + "data/currtrck.i3d");
  ASSERT_EQ(track.size(), 2160u);
  EXPECT_EQ(read(work + "temp/wasok.dat"), "wasok\r\n");

  // A track element of that file drives element 0 until its end.
  write(work + "tracks/t.i3d", track);
  make_project({lines({"var r", "r = track_play(element, element_index(element, 1))", "velocity_update(element)",
                       "spin_update(element)", "if r = -1", "exit(5)", "endif"}),
                lines({})},
               {}, {{1, project::kFieldType, "9"}, {1, project::kFieldAspect, work + "tracks/t.i3d"}});
  r = run({"--ticks", "1000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has_line(r.dump, "exit 5")) << r.dump;
  // 90 samples of 5 along x and 2 about y; the pass that meets the end keeps the last motion.
  EXPECT_TRUE(has_line(r.dump, "ticks 91")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "element 0 3 455")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "element 0 7 182")) << r.dump;
  EXPECT_EQ(r.err.find("seconds track"), std::string::npos) << r.err;  // nothing recorded this time
}
