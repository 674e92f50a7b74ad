// The zepta program from start to shutdown, headless, in scratch working folders.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "project/project.h"
#include "base/files.h"
#include "base/memory.h"
#include "tests/program_fixture.h"

namespace {

namespace fs = std::filesystem;
using brain_test::lines;
using program_test::Outcome;
using program_test::read;
using program_test::write;

struct ProgramTest : ::testing::Test {
  std::string work;  // ends in "/"
  std::string data;  // the generated data folder

  void SetUp() override {
    const char* d = std::getenv("ZEPTA_TEST_DATA");
    if (!d || !fs::exists(std::string(d) + "/sinus.bin")) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    data = d;
    char name[] = "/tmp/zepta_program_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    work = std::string(name) + "/";
    ASSERT_TRUE(base::reserve_budget());  // the project loader reads through its buffer
  }
  void TearDown() override {
    if (!work.empty()) fs::remove_all(work);
    base::release_budget();
  }

  // The tool-host layout: data/ beside the resource folders.
  void make_tool_host_folder() {
    fs::create_directories(work + "data");
    for (const char* f : {"sinus.bin", "sinusbig.bin", "atan.bin", "random.bin", "font.fnt", "panels.pcx"})
      fs::copy_file(data + "/" + f, work + "data/" + f);
    for (const char* sub : {"projects", "brains", "temp", "cameras", "sounds"}) fs::create_directories(work + sub);
  }

  Outcome run(std::vector<std::string> args) { return run_in(work, "'" ZEPTA_PROGRAM "'", args); }

  // The program started as `program` (a shell word) from folder dir; stdout
  // goes to work + "stdout.txt".
  Outcome run_in(const std::string& dir, const std::string& program, const std::vector<std::string>& args) {
    std::string cmd = "cd '" + dir + "' && " + program;
    for (const std::string& a : args) cmd += " '" + a + "'";
    cmd += " 2>'" + work + "stderr.txt' >'" + work + "stdout.txt'";
    Outcome r;
    int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = read(work + "stderr.txt");
    return r;
  }

  // A one-element project whose element has field 37 = area.
  void make_project(const std::string& rel, const std::string& area) {
    auto p = std::make_unique<project::Project>();
    std::vector<std::uint8_t> matrix(project::kCollisionBytes);
    p->collision = matrix.data();
    project::Host host;
    host.work_folder = base::Text(work);
    host.data_folder = base::Text(work + "data/");
    p->lines.line[0] = project::default_camera_line(work);
    p->lines.highest = 0;
    ASSERT_TRUE(project::set_line_field(p->lines, 0, project::kFieldDisplayArea, area));
    ASSERT_TRUE(project::save_project(*p, host, work + rel));
  }

  std::string field37(const std::string& rel) {
    auto p = std::make_unique<project::Project>();
    std::vector<std::uint8_t> matrix(project::kCollisionBytes);
    p->collision = matrix.data();
    project::Host host;
    host.work_folder = base::Text(work);
    host.data_folder = base::Text(work + "data/");
    EXPECT_TRUE(project::load_project(*p, host, work + rel));
    return std::string(project::line_field(p->lines.line[0], project::kFieldDisplayArea).view());
  }
};

// Two clicks: near the upper-left corner, then near the lower-right; the script
// then runs out, so the waiting tool takes Escape.
constexpr char kClicks[] =
    "# tick event args\n"
    "10 mouse 100 50 1\n"
    "12 mouse 100 50 0\n"
    "20 mouse 400 300 4\n"
    "22 mouse 400 300 0\n";

TEST_F(ProgramTest, DisplayAreaToolMovesTheCornersOfField37) {
  make_tool_host_folder();
  make_project("projects/t.prj", "8/8/631/471/0/20&40/7");
  write(work + "clicks.txt", kClicks);
  Outcome r = run({"--headless", "--mode", "14", "--project", "projects/t.prj", "--element", "0", "--input", "clicks.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(field37("projects/t.prj"), "96/48/399/295/0/20&40/7");  // extra sub-fields kept
  EXPECT_TRUE(fs::exists(work + "data/zepta.ini"));                 // state files written
  EXPECT_TRUE(fs::exists(work + "data/curpaths.ini"));
  EXPECT_FALSE(fs::exists(work + "runmode.ini"));                   // options write no file
}

TEST_F(ProgramTest, RunmodeIniMakesItTheToolHost) {
  make_tool_host_folder();
  make_project("projects/t.prj", "0/0/639/479");
  write(work + "runmode.ini", "projects/t.prj\r\n14\r\n0\r\n0\r\n0\r\n");
  write(work + "clicks.txt", kClicks);
  Outcome r = run({"--headless", "--input", "clicks.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(field37("projects/t.prj"), "96/48/399/295");
}

// runmode.ini naming a missing project shows a new one with a camera, and
// says so; a run mode that is not a number is a bad request.
TEST_F(ProgramTest, RunmodeIniThatDoesNotFit) {
  make_tool_host_folder();
  struct {
    std::string runmode;
    int status;
    std::string said;
  } cases[] = {
      {"projects/gone.prj\r\n14\r\n0\r\n0\r\n0\r\n", 0,
       "zepta: the project projects/gone.prj named in runmode.ini was not found: a new project with a camera is shown\n"},
      {"projects/t.prj\r\nabc\r\n0\r\n", 2, "zepta: runmode.ini line 2 is \"abc\", not a run mode (0 to 15; see --help)\n"},
      {"projects/t.prj\r\n\r\n0\r\n", 2, "zepta: runmode.ini line 2 is \"\", not a run mode (0 to 15; see --help)\n"},
      {"projects/t.prj\r\n99\r\n0\r\n", 2, "zepta: no run mode 99 (0 to 15; see --help)\n"},
  };
  for (const auto& c : cases) {
    write(work + "runmode.ini", c.runmode);
    Outcome r = run({"--headless", "--ticks", "5"});
    EXPECT_EQ(r.status, c.status) << c.runmode << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }
}

TEST_F(ProgramTest, AnElementBeyondTheProjectIsRefused) {
  make_tool_host_folder();
  make_project("projects/t.prj", "8/8/631/471");
  std::string before = read(work + "projects/t.prj");
  for (const char* element : {"1", "-1"}) {
    Outcome r = run({"--headless", "--mode", "14", "--project", "projects/t.prj", "--element", element});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
    EXPECT_EQ(read(work + "projects/t.prj"), before);
  }
}

TEST_F(ProgramTest, ModesWithoutSavesLeaveTheProjectAlone) {
  make_tool_host_folder();
  struct {
    const char* mode;
    int status;
  } cases[] = {{"4", 0}, {"10", 0}, {"11", 0}, {"12", 0}, {"99", 2}, {"-3", 2}};
  for (auto c : cases) {
    Outcome r = run({"--headless", "--mode", c.mode, "--project", "projects/none.prj"});
    EXPECT_EQ(r.status, c.status) << c.mode << r.err;
    EXPECT_FALSE(fs::exists(work + "projects/none.prj")) << c.mode;
  }
}

TEST_F(ProgramTest, WithoutRunmodeIniItIsThePlayer) {
  // A packaged layout: the data files beside the program, but no packaged list.
  for (const char* f : {"sinus.bin", "sinusbig.bin", "atan.bin", "random.bin", "font.fnt", "panels.pcx"})
    fs::copy_file(data + "/" + f, work + f);
  Outcome r = run({"--headless"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("Nothing to play: no packaged project in " + work), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(work + "config.ini"));  // said before the window opens
}

TEST_F(ProgramTest, ConfigIsWrittenBackAtStart) {
  make_tool_host_folder();
  // "LegalDisplayModes" = 0 reads as 1, and the display mode becomes 1.
  write(work + "config.ini",
        "[User-Modifiable Engine Settings]\r\nDisplayMode=0800000008\r\nSound=0200000002\r\nRenderingDevice=0500000005\r\n"
        "[Engine Settings]\r\nLegalDisplayModes=0000000000\r\n");
  Outcome r = run({"--headless", "--mode", "4"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string text = read(work + "config.ini");
  EXPECT_NE(text.find("LegalDisplayModes=0100000001\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("DisplayMode=0100000001\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("AvailableDisplayModes=0100000001\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Sound=0200000002\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("RenderingDevice=0100000001\r\n"), std::string::npos) << text;  // one device
  EXPECT_NE(text.find("AvailableRenderingDevices=0100000001\r\n"), std::string::npos) << text;
}

// Temporaries that a killed save left behind are gone at the next start; other files stay.
TEST_F(ProgramTest, StaleTemporariesAreRemovedAtStart) {
  make_tool_host_folder();
  for (const char* f : {"data/zepta.ini.~write", "temp/wasok.dat.~write", "brains/3.bra.~write", "config.ini.~write"})
    write(work + f, "half written");
  write(work + "temp/keep.~writer", "not ours");
  Outcome r = run({"--headless", "--mode", "4"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* f : {"data/zepta.ini.~write", "temp/wasok.dat.~write", "brains/3.bra.~write", "config.ini.~write"})
    EXPECT_FALSE(fs::exists(work + f)) << f;
  EXPECT_TRUE(fs::exists(work + "temp/keep.~writer"));
}

TEST_F(ProgramTest, BadCommandLinesExitWithStatus2) {
  make_tool_host_folder();
  write(work + "bad.txt", "0 mouse 1 2 0\n# fine\n5 press 30\n");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--nope"}, "zepta: unknown option '--nope'"},
      {{"--mode", "x"}, "zepta: option '--mode' needs a number"},
      {{"--input", "bad.txt"}, "bad.txt line 3: unknown event 'press'"},
      {{"--input", "missing.txt"}, "missing.txt: cannot read the file"},
      {{"--workdir", "/no/such/folder"}, "cannot use '/no/such/folder' as the working folder"},
      {{"--headless", "--mode", "16"}, "zepta: no run mode 16 (0 to 15; see --help)"},
      {{"--headless"}, "nothing to do in " + work + ": no project given and no runmode.ini"},
      {{"--headless", "--mode", "1"}, "a test run needs a project"},
      {{"a.prj", "b.prj"}, "zepta: one project at a time, not also 'b.prj'"},
      {{"--check"}, "zepta: option '--check' needs brain or project files"},
  };
  for (const Case& c : cases) {
    Outcome r = run(c.args);
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_FALSE(fs::exists(work + "config.ini")) << c.message;  // no window was opened
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
  }
  EXPECT_EQ(run({"--version"}).status, 0);
  EXPECT_EQ(run({"--help"}).status, 0);
}

TEST_F(ProgramTest, CheckReportsEachFailingBrainWithItsLine) {
  write(work + "good.brn", lines({"var x", "x = 2 + 3"}));
  write(work + "bad.brn", lines({"var x", "x = 1", "x = q"}));
  std::string cmd = std::string("cd '") + work + "' && '" ZEPTA_PROGRAM "' --check good.brn bad.brn >out.txt 2>&1";
  int raw = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 1);
  std::string out = read(work + "out.txt");
  EXPECT_NE(out.find("bad.brn:3: Unknown symbol 'q'!"), std::string::npos) << out;
  EXPECT_EQ(out.find("good.brn"), std::string::npos) << out;

  cmd = std::string("cd '") + work + "' && '" ZEPTA_PROGRAM "' --check good.brn >out.txt 2>&1";
  raw = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(raw), 0);
  EXPECT_EQ(run({"--check"}).status, 2);
}

// A project asked for on the command line that cannot be run, and modes this
// build lacks: one line and the status, before any window opens. The tools
// still take a missing project as a new one.
TEST_F(ProgramTest, ProjectsThatCannotRunAreToldBeforeAnyWindow) {
  make_tool_host_folder();
  make_project("projects/t.prj", "0/0/639/479");
  write(work + "notes.txt", "var x\r\n");
  write(work + "empty.prj", "");
  struct {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"--headless", "projects/none.prj"}, 3, "zepta: project not found: projects/none.prj"},
      {{"--headless", "--mode", "1", "--project", "projects/gone.prj"}, 3, "zepta: project not found: projects/gone.prj"},
      {{"--headless", "--project", "projects"}, 3, "zepta: not a project file: projects (a folder)"},
      {{"--headless", work + "projects"}, 3, "zepta: not a project file: " + work + "projects (a folder)"},
      {{"--headless", "notes.txt"}, 3, "zepta: not a project file: notes.txt"},
      {{"--headless", "empty.prj"}, 3, "zepta: not a project file: empty.prj (it is empty)"},
      {{"--headless", "--mode", "3", "projects/t.prj"}, 5, "zepta: run mode 3 (virtual editor) is not available in this build"},
      {{"--headless", "--mode", "0"}, 3, "zepta: Nothing to play: no packaged project in " + work},
  };
  for (const auto& c : cases) {
    Outcome r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.message;
    EXPECT_EQ(r.err, c.message + "\n");
    EXPECT_FALSE(fs::exists(work + "config.ini")) << c.message;
  }
  write(work + "multilev.ini", "x\r\n");
  Outcome r = run({"--headless", "--mode", "0"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("Sub-project 001 not found, error!"), std::string::npos) << r.err;

  r = run({"--headless", "--mode", "14", "--project", "projects/new.prj", "--element", "0"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(work + "projects/new.prj"));
}

// Started from another folder, the program works in its own: the folder of the
// link it was started through (on PATH or by its path), then its file's.
TEST_F(ProgramTest, FindsItsWorkingFolderFromWhereItWasStarted) {
  make_tool_host_folder();
  make_project("projects/t.prj", "0/0/639/479");
  fs::create_symlink(ZEPTA_PROGRAM, work + "zepta");
  fs::create_directories(work + "elsewhere");
  fs::create_directories(work + "bare");
  fs::create_symlink(ZEPTA_PROGRAM, work + "bare/zepta");
  std::string elsewhere = work + "elsewhere/";
  write(elsewhere + "keys.txt", "1 down 75\n");
  for (const std::string& program : {"'" + work + "zepta'", std::string("../zepta"), "PATH='" + work + "':$PATH zepta"}) {
    fs::remove(elsewhere + "out.txt");
    Outcome r = run_in(elsewhere, program,
                       {"--headless", "--fast", "--ticks", "2", "--input", "keys.txt", "--dump", "out.txt", "projects/t.prj"});
    EXPECT_EQ(r.status, 0) << program << ": " << r.err;
    EXPECT_TRUE(fs::exists(elsewhere + "out.txt")) << program;  // paths of the command line: from where it started
    EXPECT_TRUE(fs::exists(work + "temp/wasok.dat")) << program;  // the run's own files: in the working folder
  }
  // A project in the folder it was started in comes first.
  fs::create_directories(elsewhere + "projects");
  fs::copy_file(work + "projects/t.prj", elsewhere + "projects/mine.prj");
  fs::copy_file(work + "projects/t.col", elsewhere + "projects/mine.col");
  EXPECT_EQ(run_in(elsewhere, "../zepta", {"--headless", "--fast", "--ticks", "1", "projects/mine.prj"}).status, 0);

  Outcome r = run_in(elsewhere, "'" + work + "bare/zepta'", {"--headless", "projects/t.prj"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "zepta: " + elsewhere + " is no working folder (it has no data/): run it from its working folder or give --workdir DIR\n");
  r = run_in(elsewhere, "'" + work + "bare/zepta'", {"--workdir", work, "--headless", "--fast", "--ticks", "1", "projects/t.prj"});
  EXPECT_EQ(r.status, 0) << r.err;
}

// --check anywhere among the options, on brain files and on a project's
// embedded brains (lines of the project file), with key names checked.
TEST_F(ProgramTest, CheckTakesProjectsAndKnowsKeyNames) {
  write(work + "keys.brn", lines({"var x", "if keyboard(\"left\") or keyboard(\"F1\")", "x = keyboard(\"leftt\")", "endif"}));
  Outcome r = run({"keys.brn", "--check"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(read(work + "stdout.txt"), "keys.brn:3: Unknown key name 'leftt'!\n    x = keyboard(\"leftt\")\n");

  make_tool_host_folder();
  make_project("projects/t.prj", "0/0/639/479");
  std::string text = read(work + "projects/t.prj");
  // Two embedded brains after the settings line: a good one, then a bad one on its second line.
  std::size_t at = text.find("@0");
  ASSERT_NE(at, std::string::npos);
  text = text.substr(0, at) + "@0\r\nvar y\r\n@1\r\nvar x\r\nx = q\r\n";
  write(work + "projects/t.prj", text);
  int line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(text.find("x = q")), '\n'));
  r = run({"--headless", "--check", "projects/t.prj"});
  EXPECT_EQ(r.status, 1);
  // The project has one element whose brain is "-": the second block is reported, not a failure on its own.
  EXPECT_EQ(read(work + "stdout.txt"), "projects/t.prj:" + std::to_string(line - 2) +
                                           ": warning: 2 brain blocks for 1 element whose brain is \"-\"\n"
                                           "projects/t.prj:" + std::to_string(line) + ": Unknown symbol 'q'!\n    x = q\n");
  EXPECT_EQ(run({"--check", "keys.brn", "projects/nothing.prj"}).status, 3);  // refused as a run refuses it
  EXPECT_NE(read(work + "stdout.txt").find("project not found: projects/nothing.prj\n"), std::string::npos);
}

// --check answers for any file as a run would: a project it would refuse gets
// the run's line and status 3; a brain file that holds no brain, or a
// project whose brains fail (also one it names that is missing), status 1;
// doubts about a project's lines are told at their lines and pass.
TEST_F(ProgramTest, CheckTellsEveryFileWhatARunWouldSay) {
  make_tool_host_folder();
  make_project("projects/t.prj", "0/0/639/479");
  std::string text = read(work + "projects/t.prj");
  std::size_t brain = text.find("|-|");
  write(work + "projects/named.prj", std::string(text).replace(brain, 3, "|./brains/steer.brn|"));
  write(work + "projects/aspect.prj", std::string(text).replace(text.find("./cameras/default_.03d"), 22, "./cameras/camra.03d"));
  std::string cr = text;
  cr.erase(std::remove(cr.begin(), cr.end(), '\n'), cr.end());
  write(work + "projects/cr.prj", cr);
  write(work + "empty.prj", "");
  write(work + "empty.brn", "");
  write(work + "binary.brn", std::string("\x7f" "ELF\0\0\1", 7));
  write(work + "huge.brn", std::string((16 << 20) + 1, ';'));
  // named.prj keeps the embedded block of the element that now names a file.
  const std::string kUnclaimed = "projects/named.prj:5: warning: 1 brain block for 0 elements whose brain is \"-\"\n";
  struct {
    std::vector<std::string> files;
    int status;
    std::string out;
  } cases[] = {
      {{"projects"}, 3, "not a project file: projects (a folder)\n"},
      {{"projects/t.prj"}, 0, ""},
      {{"projects/none.prj"}, 3, "project not found: projects/none.prj\n"},
      {{"empty.prj"}, 3, "not a project file: empty.prj (it is empty)\n"},
      {{"projects/cr.prj"}, 3, "not a project file: projects/cr.prj (its lines end in CR alone, not CR LF or LF)\n"},
      {{"binary.brn"}, 1, "binary.brn: binary file: no brain in it\n"},
      {{"empty.brn"}, 1, "empty.brn: empty file: no brain in it\n"},
      {{"huge.brn"}, 1, "huge.brn: too large for a brain file (16 MB at most)\n"},
      {{"none.brn"}, 1, "none.brn: Brain not found (none.brn)!\n"},
      {{"projects/named.prj"}, 1, kUnclaimed + "projects/named.prj:3: Brain not found (steer.brn)!\n"},
      {{"projects/aspect.prj"}, 0,
       "projects/aspect.prj:3: warning: element 'Camera': aspect ./cameras/camra.03d not found (cameras/default_.03d shown instead)\n"},
      {{"projects/named.prj", "projects"}, 3,
       kUnclaimed + "projects/named.prj:3: Brain not found (steer.brn)!\nnot a project file: projects (a folder)\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--check"};
    args.insert(args.end(), c.files.begin(), c.files.end());
    Outcome r = run(args);
    EXPECT_EQ(r.status, c.status) << c.files[0] << r.err;
    EXPECT_EQ(read(work + "stdout.txt"), c.out) << c.files[0];
    EXPECT_EQ(r.err, "") << c.files[0];
  }
  // A brain file the project names is compiled, its errors told at its own lines.
  write(work + "brains/steer.brn", lines({"var x", "x = q"}));
  Outcome r = run({"--check", "projects/named.prj"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(read(work + "stdout.txt"), kUnclaimed + work + "brains/steer.brn:2: Unknown symbol 'q'!\n    x = q\n");
}

// --help: every run mode and exit status from their tables, the tick counter
// explained, and examples that parse.
TEST_F(ProgramTest, HelpListsRunModesExitStatusesAndExamples) {
  Outcome r = run({"--help"});
  ASSERT_EQ(r.status, 0);
  std::string help = read(work + "stdout.txt");
  for (const char* line : {"   1  test run\n", "   3  virtual editor (not in this build yet)\n",
                           "   4  no task: loads the project, nothing saved\n", "  14  display-area setup\n",
                           "  15  3D background\n", "  0  the run or the task ended normally",
                           "  1  a brain did not compile", "  6  no display, the engine data", "it ends at N + 4",
                           "A project that never ends runs on as a game does"})
    EXPECT_NE(help.find(line), std::string::npos) << line;
  std::size_t examples = help.find("Examples:\n");
  ASSERT_NE(examples, std::string::npos);
  int count = 0;
  for (std::size_t at = help.find("\n  zepta ", examples); at != std::string::npos; at = help.find("\n  zepta ", at + 1))
    ++count;
  EXPECT_EQ(count, 2);
}

// Runs of projects in a scratch folder, as a user starts them.
class StartupTest : public program_test::ProgramFixture {};

// A window run where no display answers fails at once, in one line, unless
// SDL_VIDEODRIVER asks for a driver nobody sees.
TEST_F(StartupTest, AWindowRunWithoutADisplayFailsInOneLine) {
  make_project({lines({"var x"})});
  fs::create_directories(work + "tmp");
  struct {
    std::string env;
    std::string why;
  } cases[] = {
      {"-u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER -u XDG_RUNTIME_DIR",
       "no display answers (DISPLAY and WAYLAND_DISPLAY are unset)"},
      {"-u WAYLAND_DISPLAY -u SDL_VIDEODRIVER -u XDG_RUNTIME_DIR DISPLAY=:97", "no display answers (DISPLAY=:97)"},
      {"-u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR SDL_VIDEODRIVER=x11",
       "x11 not available (DISPLAY and WAYLAND_DISPLAY are unset)"},
  };
  for (const auto& c : cases) {
    if (fs::exists("/tmp/.X11-unix/X97")) GTEST_SKIP() << "an X server answers at :97";
    Outcome r = run_program({"--windowed", "projects/t.prj"}, c.env + " TMPDIR=" + work + "tmp");
    ASSERT_FALSE(r.hung) << c.env;
    EXPECT_EQ(r.status, 6) << c.env;
    EXPECT_EQ(r.err, "zepta: could not open the display: " + c.why + "; --headless runs without one\n") << c.env;
  }
  // Asked for, a run where nobody sees the window goes on.
  Outcome r = run_program({"--windowed", "--fast", "--ticks", "1", "projects/t.prj"}, "-u DISPLAY SDL_VIDEODRIVER=offscreen");
  EXPECT_EQ(r.status, 0) << r.err;
}

// A headless run without --ticks says how it ends; with --ticks it says nothing.
TEST_F(StartupTest, AHeadlessRunWithoutTicksSaysHowItEnds) {
  make_project({lines({"var x"})});
  write(work + "esc.txt", "2 key ESC\n");
  EXPECT_EQ(test_run({"--input", "esc.txt"}).err,
            "zepta: headless without --ticks: the run goes on until a brain ends it, Escape in the --input script, or "
            "Ctrl+C\n");
  EXPECT_EQ(test_run({"--ticks", "1"}).err, "");
}

// Files the run writes at its end are checked before any window opens.
TEST_F(StartupTest, DumpAndScreenshotPathsAreCheckedBeforeTheRun) {
  make_project({lines({"var x"})});
  struct {
    std::vector<std::string> args;
    std::string line;
  } cases[] = {
      {{"--dump", "no/such/out.txt"}, "could not write the dump no/such/out.txt: no/such/: No such file or directory"},
      {{"--dump", "projects"}, "could not write the dump projects: it is a folder"},
      {{"--screenshot", "1:no/such/a.png"},
       "could not write the screenshot no/such/a.png: no/such/: No such file or directory"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--headless", "--fast", "--ticks", "1", "projects/t.prj"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome r = run_program(args);
    EXPECT_EQ(r.status, 4) << c.line;
    EXPECT_EQ(r.err, "zepta: " + c.line + "\n");
    EXPECT_FALSE(fs::exists(work + "config.ini")) << c.line;  // no window was opened
    EXPECT_FALSE(fs::exists(work + "temp/wasok.dat")) << c.line;
  }
}

// A second copy in the same folder says so at once, then waits for the first to end.
TEST_F(StartupTest, ASecondCopySaysAtOnceThatItWaits) {
  make_project({lines({"var x"})});
  int lock = open((work + ".zepta.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
  std::string cmd = "cd '" + work + "' && '" ZEPTA_PROGRAM "' --headless --fast --ticks 1 projects/t.prj 2>'" + work +
                    "stderr.txt' >/dev/null";
  test_support::WatchedRun run;
  std::thread second([&] { run = test_support::run_watched(cmd, 60); });
  {
    test_support::Watchdog watchdog("the second copy's first line", 60);
    while (read(work + "stderr.txt").find('\n') == std::string::npos)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  close(lock);  // the first copy ends
  second.join();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read(work + "stderr.txt"),
            "zepta: another copy still runs in " + work + ": waiting up to 6 s for it to end\n");
}

// Where there is no sound device, our one line is all that shows; the sound
// libraries' own lines show when the user sets ALSOFT_LOGLEVEL.
TEST_F(StartupTest, NoSoundDeviceIsOneLine) {
  make_project({lines({"var x"})});
  Outcome r = run_program({"--fast", "--ticks", "1", "projects/t.prj"}, "-u ALSOFT_DRIVERS -u ALSOFT_LOGLEVEL");
  EXPECT_EQ(r.status, 0) << r.err;
  if (!r.err.empty()) {
    EXPECT_EQ(r.err, "sound: no sound device: the run is silent\n");
  }
}

// `debug` in a headless run: a line on stderr per call, and the last value in the dump.
TEST_F(StartupTest, DebugGoesToStderrAndTheDump) {
  make_project({lines({"debug(7)"}), lines({"if timer(element) = 0", "debug(-2)", "endif"})});
  Outcome r = test_run({"--ticks", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("debug: e0 at tick 0: 7 (0x00000007)\ndebug: e1 at tick 0: -2 (0xFFFFFFFE)\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 6) << r.err;  // e0 in each of the 5 passes, e1 once
  EXPECT_TRUE(program_test::has_line(r.dump, "debug 7")) << r.dump;
}

}  // namespace
