// Run mode 1 through the zepta program, headless: what the test run reports to the
// editor front end (exit messages, the recorded track, temp/wasok.dat) beside its dump.
#include "tests/program_fixture.h"

namespace {

using namespace program_test;

class TestRunTest : public ProgramFixture {
 protected:
  Outcome run(std::vector<std::string> extra) { return test_run(std::move(extra)); }
};

TEST_F(TestRunTest, ExitCodesEndTheRunWithTheirMessages) {
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

TEST_F(TestRunTest, RecordedTrackIsReportedSavedAndPlaysBack) {
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

}  // namespace
