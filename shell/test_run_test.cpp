// Run mode 1 through the zepta program, headless: what the test run reports to the
// editor front end (exit messages, the recorded track, temp/wasok.dat) beside its dump.
#include <algorithm>

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

// The project file's line of a text in it (1-based).
int line_of(const std::string& text, const std::string& what) {
  std::size_t at = text.find(what);
  EXPECT_NE(at, std::string::npos) << what;
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(std::min(at, text.size())), '\n'));
}

// A brain that does not compile, or is stopped while running, is told on
// stderr with the project file's line (once per stopped brain); the run goes
// on to its end and exits 1.
TEST_F(TestRunTest, BrainErrorsNameTheProjectLineAndExitWith1) {
  make_project({lines({"var x", "x = x + 1"}), lines({"var y", "y = q"}),
                lines({"var z", "loop:", "z = z + 1", "goto loop"})});
  std::string prj = read(work + "projects/t.prj");
  Outcome r = run({"--ticks", "3"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("projects/t.prj:" + std::to_string(line_of(prj, "y = q")) +
                       ": brain of 'e1': Unknown symbol 'q'!\n"),
            std::string::npos)
      << r.err;
  std::string stopped = "projects/t.prj:" + std::to_string(line_of(prj, "goto loop")) +
                        ": brain of 'e2' stopped: Endless loop: more than 1000000 jumps back in one tick\n";
  std::size_t at = r.err.find(stopped);
  EXPECT_NE(at, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(stopped, at + 1), std::string::npos) << "told once";
  EXPECT_TRUE(has_line(r.dump, "ticks 7")) << r.dump;  // the run went on
  EXPECT_TRUE(has_line(r.dump, "element 0 255 7")) << r.dump;
  EXPECT_EQ(read(work + "temp/wasok.dat"), "wasok\r\n");
}

// Occurrences of what in text.
int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// A brain stopped while running shows its panel once and runs no more; Escape
// in that panel, or in a box a brain opens every tick, ends the run at once.
TEST_F(TestRunTest, AStoppedBrainIsToldOnceAndEscapeInAPanelEndsTheRun) {
  const std::string endless = lines({"var z", "loop:", "z = z + 1", "goto loop"});
  const std::string asks = lines({"var r", "r = msg_box(\"Go on?\", 2, 2, 0)"});
  // A panel the script does not answer is printed on stderr; one it answers is not.
  struct {
    std::string brain, script, ticks;
    int status;
    std::string panel;  // its first line on stderr
    int printed;
  } cases[] = {
      {endless, "", "20", 1, "'e1' brain ERROR!\n", 1},               // the run goes on without it
      {endless, "30 key ESC\n", "200", 1, "'e1' brain ERROR!\n", 0},  // Escape in its panel
      {asks, "30 key ESC\n", "200", 0, "Go on?\n", 0},                // Escape in a Yes/No box
  };
  for (const auto& c : cases) {
    make_project({lines({"var n", "n = n + 1"}), c.brain});
    write(work + "keys.txt", c.script);
    Outcome r = run({"--ticks", c.ticks, "--input", "keys.txt"});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(count_of(r.err, c.panel), c.printed) << c.script << r.err;
    std::string ticks = c.script.empty() ? "ticks 24" : "ticks 5";  // Escape: the first loop tick ends it
    EXPECT_TRUE(has_line(r.dump, ticks)) << c.script << r.dump;
    EXPECT_TRUE(has_line(r.dump, "exit -1")) << r.dump;
  }
}

// A runtime error ends the run with its box and exits 1, naming the brain's line.
TEST_F(TestRunTest, RuntimeErrorsNameTheBrainLineAndExitWith1) {
  struct {
    const char* call;
    const char* message;
  } cases[] = {
      {"str_copy(\"abc\", \"def\", 0, -1)",
       "First parameter of STR_COPY() instruction must be a string variable, not a constant string."},
      {"r = element(\"Nobody\")", "ELEMENT() instruction error! Could not find 'Nobody' element"},
  };
  for (auto c : cases) {
    make_project({lines({}), lines({"var r", "r = 1", "if timer(element) = 2", c.call, "endif"})});
    std::string prj = read(work + "projects/t.prj");
    Outcome r = run({"--ticks", "50"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(std::string("Runtime Error\n") + c.message + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("projects/t.prj:" + std::to_string(line_of(prj, c.call)) + ": brain of 'e1': " + c.message +
                         "\n"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(has_line(r.dump, "exit -2147483648")) << r.dump;
    EXPECT_TRUE(has_line(r.dump, "ticks 5")) << r.dump;  // the preparation passes end first
  }
}

// "zepta PROJECT.prj" is a test run of it; its dump has LF lines and names
// every element; outputs that cannot be written fail the run with status 4.
TEST_F(TestRunTest, AProjectNamedAloneIsATestRunWithAnLFDump) {
  make_project({lines({"var x", "x = 2"}), lines({})});
  Outcome r = run_program({"--headless", "--fast", "--ticks", "2", "--dump", "dump.txt", "projects/t.prj"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.dump.find('\r'), std::string::npos);
  EXPECT_TRUE(r.dump.starts_with("exit -1\nticks 6\nname 0 e0\nelement 0 ")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "name 1 e1")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "element 0 255 2")) << r.dump;
  EXPECT_EQ(read(work + "temp/wasok.dat"), "wasok\r\n");

  struct {
    std::vector<std::string> extra;
    std::string message;
  } cases[] = {
      {{"--dump", "no/such/dir/d.txt"},
       "zepta: could not write the dump no/such/dir/d.txt: no/such/dir/: No such file or directory\n"},
      {{"--screenshot", "50:s.png"}, "zepta: no screenshot s.png: the run ended before tick 50 was drawn\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--headless", "--fast", "--ticks", "2", "projects/t.prj"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    r = run_program(args);
    EXPECT_EQ(r.status, 4) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

// `exemode` bit 1 follows line 14 of the editor state file; bit 0 (a
// self-executable) is never set in a test run.
TEST_F(TestRunTest, ExemodeReportsTheEditorsExeModeSwitch) {
  make_project({lines({"global_set(1, exemode(3) + 10)"})});
  for (const char* switch_value : {"1", "0", "2"}) {
    std::string state;
    for (int line = 1; line <= 20; ++line) state += std::string(line == 14 ? switch_value : "0") + "\r\n";
    write(work + "data/zepta.ini", state);
    Outcome r = run({"--ticks", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has_line(r.dump, std::string("global 1 ") + (switch_value[0] == '1' ? "12" : "10"))) << r.dump;
  }
}

}  // namespace
