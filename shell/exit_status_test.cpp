// The exit statuses as a user meets them: the table in the README and in --help
// is the program's own, and each status comes from the cases it names, with one
// line on stderr that says what happened.
#include <algorithm>

#include "shell/shell.h"
#include "tests/program_fixture.h"

namespace {

using namespace program_test;

// The README's table rows "| N | meaning |", backticks dropped.
std::vector<std::pair<int, std::string>> readme_exit_table() {
  std::string text = read(ZEPTA_README);
  std::vector<std::pair<int, std::string>> rows;
  std::size_t at = text.find("| Exit status | Meaning |");
  if (at == std::string::npos) return rows;
  std::istringstream in(text.substr(at));
  std::string line;
  std::getline(in, line);
  std::getline(in, line);  // |---|---|
  while (std::getline(in, line) && line.rfind("| ", 0) == 0) {
    std::size_t bar = line.find(" | ", 2);
    if (bar == std::string::npos || line.size() < bar + 5) break;
    std::string meaning = line.substr(bar + 3, line.size() - bar - 5);
    std::erase(meaning, '`');
    rows.emplace_back(std::atoi(line.c_str() + 2), meaning);
  }
  return rows;
}

TEST(ExitStatusTable, ReadmeAndHelpSayTheSame) {
  std::vector<std::pair<int, std::string>> expected;
  for (const shell::ExitMeaning& e : shell::exit_meanings()) expected.emplace_back(static_cast<int>(e.status), e.meaning);
  EXPECT_EQ(readme_exit_table(), expected);
}

class ExitStatusTest : public ProgramFixture {
 protected:
  // A run in the working folder, under the watchdog; what it printed on both
  // streams (--check reports on stdout) lands in the outcome's err.
  Outcome run_both(const std::vector<std::string>& args, const std::string& env) {
    std::string cmd = "cd '" + work + "' && env " + env + " '" ZEPTA_PROGRAM "'";
    for (const std::string& a : args) cmd += " '" + a + "'";
    cmd += " >'" + work + "said.txt' 2>&1";
    test_support::WatchedRun run = test_support::run_watched(cmd);
    Outcome r;
    r.status = run.status;
    r.hung = run.hung;
    r.err = read(work + "said.txt");
    return r;
  }
};

// One run per case, each with its status and the words its one stderr line
// holds; the cases are those a new user meets first.
TEST_F(ExitStatusTest, EachCaseEndsWithItsStatus) {
  fs::create_directories(work + "folder.prj");
  write(work + "brains/steer.brn", lines({"var x", "x = 1"}));
  write(work + "brains/bad.brn", lines({"var x", "x = q"}));
  write(work + "projects/other.prj", "not a project\n");
  write(work + "network.ini", "[Settings]\r\nTimeout=1\r\n");  // read only by runs that ask for a session
  // The boxes of a session nobody hosts: Retry? Cancel; "Connection failed!" OK; launch anyway? OK or Cancel.
  write(work + "alone.txt", "10 key ESC\n30 key RETURN\n50 key RETURN\n");
  write(work + "quit.txt", "10 key ESC\n30 key RETURN\n50 key ESC\n");
  struct Case {
    const char* what;
    std::vector<std::string> brains;  // the project "projects/t.prj" made first; empty: none
    std::vector<std::string> args;
    std::string env;
    int status;
    std::string says;         // a part of stderr
    std::string names = {};   // the brain file element 0 names instead of its embedded brain
  } cases[] = {
      {"a run that ends", {lines({"var x"})}, {"--headless", "--fast", "--ticks", "3", "projects/t.prj"}, "", 0, ""},
      {"a brain's exit", {lines({"exit(-2)"})}, {"--headless", "--fast", "--ticks", "30", "projects/t.prj"}, "", 0, ""},
      {"help", {}, {"-h"}, "", 0, ""},
      {"a brain that does not compile", {lines({"var x", "x = q"})}, {"--headless", "--fast", "--ticks", "30", "projects/t.prj"}, "", 1,
       "projects/t.prj:7: brain of 'e0': Unknown symbol 'q'!"},
      {"a brain file that does not compile", {lines({"var x"})}, {"--headless", "--fast", "--ticks", "30", "projects/t.prj"}, "", 1,
       "brains/bad.brn:2: brain of 'e0': Unknown symbol 'q'!", "./brains/bad.brn"},
      {"a brain stopped by an endless loop", {lines({"var x", "again:", "x = x + 1", "goto again"})},
       {"--headless", "--fast", "--ticks", "30", "projects/t.prj"}, "", 1, "Endless loop"},
      {"a brain file that is gone", {lines({"var x"})}, {"--headless", "--fast", "--ticks", "30", "projects/t.prj"}, "", 1,
       "projects/t.prj:3: brain of 'e0': Brain not found (gone.brn)!", "./brains/gone.brn"},
      {"a runtime error", {lines({"var x", "x = element(\"Nobody\")"})}, {"--headless", "--fast", "--ticks", "30", "projects/t.prj"}, "", 1,
       "brain of 'e0'"},
      {"--check of a brain with errors", {}, {"--check", "brains/bad.brn"}, "", 1, "brains/bad.brn:2: Unknown symbol 'q'!"},
      {"an unknown option", {}, {"--nope"}, "", 2, "unknown option '--nope'"},
      {"a screenshot that is not a picture", {lines({"var x"})},
       {"--headless", "--ticks", "30", "--screenshot", "1:shot.bmp", "projects/t.prj"}, "", 2, "shot.bmp"},
      {"a missing project", {}, {"--headless", "projects/none.prj"}, "", 3, "project not found: projects/none.prj"},
      {"a folder", {}, {"--headless", "folder.prj"}, "", 3, "not a project file: folder.prj (a folder)"},
      {"--check of a folder", {}, {"--check", "folder.prj"}, "", 3, "not a project file: folder.prj (a folder)"},
      {"--check of a project a run refuses", {}, {"--check", "projects/other.prj"}, "", 3, "projects/other.prj"},
      {"a dump into a missing folder", {lines({"var x"})},
       {"--headless", "--ticks", "200", "--dump", "none/dump.txt", "projects/t.prj"}, "", 4, "none/dump.txt"},
      {"a run mode not built", {lines({"var x"})}, {"--headless", "--mode", "3", "projects/t.prj"}, "", 5,
       "is not available in this build"},
      {"a window without a display", {lines({"var x"})}, {"--windowed", "projects/t.prj"},
       "-u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER", 6, "could not open the display"},
      {"a session nobody hosts, headless", {lines({"var x"})},
       {"--headless", "--ticks", "3", "--join", "127.0.0.1:9", "projects/t.prj"}, "", 7,
       "Could not connect, launch anyway? Cancel (nobody to answer)"},
      {"a session nobody hosts, launched alone", {lines({"var x"})},
       {"--windowed", "--fast", "--ticks", "3", "--input", "alone.txt", "--join", "127.0.0.1:9", "projects/t.prj"},
       "SDL_VIDEODRIVER=offscreen", 0, ""},
      {"a session nobody hosts, not launched alone", {lines({"var x"})},
       {"--windowed", "--fast", "--ticks", "3", "--input", "quit.txt", "--join", "127.0.0.1:9", "projects/t.prj"},
       "SDL_VIDEODRIVER=offscreen", 7, "no network session was made, and the game was not launched alone"},
      {"a window on a display that does not answer", {lines({"var x"})}, {"--windowed", "projects/t.prj"},
       "-u WAYLAND_DISPLAY DISPLAY=:97 SDL_VIDEODRIVER=x11", 6, "could not open the display"},
  };
  for (const Case& c : cases) {
    if (!c.brains.empty()) make_project(c.brains);
    if (!c.names.empty()) {
      std::string text = read(work + "projects/t.prj");
      std::size_t at = text.find("|-|");
      ASSERT_NE(at, std::string::npos);
      write(work + "projects/t.prj", text.replace(at, 3, "|" + c.names + "|"));
    }
    Outcome r = run_both(c.args, c.env);
    EXPECT_FALSE(r.hung) << c.what;
    EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.err;
    if (!c.says.empty()) {
      EXPECT_NE(r.err.find(c.says), std::string::npos) << c.what << "\n" << r.err;
    }
    if (c.status != 0) {
      EXPECT_FALSE(r.err.empty()) << c.what;  // every failure says why
    }
  }
}

}  // namespace
