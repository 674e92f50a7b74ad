// Panels in runs of the zepta program. Where nobody can see them they print
// their text on stderr and take their default; in a scripted run the script
// answers them, also while the engine ticks stand still. Every run is under
// the watchdog: a panel that waits for nobody fails its test.
#include <algorithm>

#include "tests/program_fixture.h"

namespace {

using namespace program_test;

// Environments without a display a person could see, for runs without --headless.
constexpr const char* kUnseen[] = {
    "SDL_VIDEODRIVER=offscreen",                             // a window nobody sees
    "-u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=dummy",   // no window at all
    "-u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR SDL_VIDEODRIVER=offscreen",  // no display variables at all
};

class PanelRunTest : public ProgramFixture {
 protected:
  Outcome run_unseen(const std::string& env, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--mode", "1", "--project", "projects/t.prj", "--fast", "--dump", "dump.txt"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_program(args, env);
  }
};

TEST_F(PanelRunTest, BrainErrorsNobodySeesArePrintedAndTheRunGoesOn) {
  make_project({lines({"var x", "x = 1", "x = q"}), lines({"global_set(3, 7)"})});
  fs::create_directories(work + "tmp");
  for (const char* env : kUnseen) {
    Outcome r = run_unseen(std::string(env) + " TMPDIR=" + work + "tmp", {"--ticks", "20"});
    ASSERT_FALSE(r.hung) << env;
    EXPECT_EQ(r.status, 1) << env << r.err;  // a brain failed: the run still ends as asked
    EXPECT_NE(r.err.find("'e0' brain ERROR!\nx = q (3)\nUnknown symbol 'q'!\n"), std::string::npos) << env << r.err;
    EXPECT_TRUE(has_line(r.dump, "ticks 24")) << env << r.dump;  // --ticks ends the run as before
    EXPECT_TRUE(has_line(r.dump, "global 3 7")) << env << r.dump;
    EXPECT_EQ(r.err.find("XDG_RUNTIME_DIR"), std::string::npos) << env << r.err;
    EXPECT_TRUE(fs::is_empty(work + "tmp")) << env;  // a private runtime folder is gone
  }
}

// The editor front end names library brains in the project; one that is
// missing (or whose private copy can't be written) has no text to compile.
TEST_F(PanelRunTest, BrainNotFoundIsPrintedAndTheRunGoesOn) {
  make_project({lines({"global_set(1, 5)"})});
  std::string text = read(work + "projects/t.prj");
  std::size_t line = text.find("\ne0|");
  std::size_t brain = text.find("|-|", line);
  ASSERT_NE(brain, std::string::npos);
  write(work + "projects/t.prj", text.replace(brain, 3, "|brains/missing.brn|"));
  int element_line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(line) + 1, '\n'));
  for (const char* env : kUnseen) {
    // Private brains an earlier run left: none of them stands in for the missing one.
    for (int n = 0; n < 3; ++n) write(work + "brains/" + std::to_string(n) + ".bra", "global_set(1, 6)\r\n");
    Outcome r = run_unseen(env, {"--ticks", "5"});
    ASSERT_FALSE(r.hung) << env;
    EXPECT_EQ(r.status, 1) << env << r.err;
    EXPECT_NE(r.err.find("'e0' brain ERROR!\nBrain not found (missing.brn)!\n"), std::string::npos) << env << r.err;
    EXPECT_NE(r.err.find("projects/t.prj:" + std::to_string(element_line) + ": brain of 'e0': Brain not found (missing.brn)!\n"),
              std::string::npos) << env << r.err;
    EXPECT_TRUE(has_line(r.dump, "ticks 9")) << env << r.dump;
    EXPECT_FALSE(has_line(r.dump, "global 1 6")) << env << r.dump;
    for (const auto& f : fs::directory_iterator(work + "brains"))
      EXPECT_NE(f.path().extension(), ".bra") << env << ": left " << f.path();
  }
}

TEST_F(PanelRunTest, ErrorBoxesNobodySeesGoToStderr) {
  // The player's layout (no runmode.ini, the data beside the program) without
  // a packaged project: the box comes once the window is up.
  for (const auto& f : fs::directory_iterator(work + "data")) fs::copy(f.path(), work + f.path().filename().string());
  fs::remove_all(work + "data");
  for (const char* env : kUnseen) {
    Outcome r = run_program({}, env);
    ASSERT_FALSE(r.hung) << env;
    EXPECT_EQ(r.status, 3) << env << r.err;
    EXPECT_NE(r.err.find("Nothing to play: no packaged project in " + work), std::string::npos) << env << r.err;
  }
}

// The engine ticks stand still while the panel waits; the script answers it
// all the same, with the events it has next, whatever their tick.
TEST_F(PanelRunTest, TheScriptAnswersAPanelThatStopsTheRun) {
  make_project({lines({"var x", "x = q"}), lines({"global_set(3, 7)"})});
  struct Case {
    const char* script;
    bool printed;  // the panel took its default: the script gave it no answer
  } cases[] = {
      {"100 key 28 13\n", false},             // Enter answers " OK "
      {"100 key 57\n200 key RETURN 13\n", false},
      {"100 key 57\n", true},                 // used up without an answer
  };
  for (const Case& c : cases) {
    for (bool headless : {true, false}) {
      write(work + "keys.txt", c.script);
      std::vector<std::string> args = {"--input", "keys.txt", "--ticks", "20"};
      if (headless) args.push_back("--headless");
      Outcome r = run_unseen("SDL_VIDEODRIVER=offscreen", args);
      ASSERT_FALSE(r.hung) << c.script;
      EXPECT_EQ(r.status, 1) << c.script << r.err;  // the brain failed
      EXPECT_EQ(r.err.find("brain ERROR!") != std::string::npos, c.printed) << c.script << r.err;
      EXPECT_TRUE(has_line(r.dump, "ticks 24")) << c.script << r.dump;
      EXPECT_TRUE(has_line(r.dump, "global 3 7")) << c.script << r.dump;
    }
  }
}

// The demo project with its last byte cut (the LF of its last line), run
// headless with a script: the run reaches its end, every brain compiled.
TEST_F(PanelRunTest, TheDemoCutShortRunsToItsEnd) {
  if (!fs::exists(ZEPTA_WORK "/projects/demo/demo.prj")) GTEST_SKIP() << "no demo in the working folder";
  for (const auto& f : fs::directory_iterator(ZEPTA_WORK)) {
    std::string name = f.path().filename().string();
    if (f.is_directory() && name != "data" && name != "brains" && name != "temp")
      fs::copy(f.path(), work + name, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
  std::string project = read(work + "projects/demo/demo.prj");
  ASSERT_FALSE(project.empty());
  write(work + "projects/demo/demo.prj", project.substr(0, project.size() - 1));
  write(work + "keys.txt", "10 key 57\n20 down LEFT\n30 up LEFT\n");
  Outcome r = run_program({"--headless", "--mode", "1", "--project", "projects/demo/demo.prj", "--fast", "--ticks", "40",
                           "--input", "keys.txt", "--dump", "dump.txt"});
  ASSERT_FALSE(r.hung) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has_line(r.dump, "ticks 44")) << r.dump;
}

}  // namespace
