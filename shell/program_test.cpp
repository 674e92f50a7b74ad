// The zepta program from start to shutdown, headless, in scratch working folders.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "project/project.h"
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

  Outcome run(std::vector<std::string> args) {
    std::string cmd = std::string("cd '") + work + "' && '" ZEPTA_PROGRAM "'";
    for (const std::string& a : args) cmd += " '" + a + "'";
    cmd += " 2>'" + work + "stderr.txt' >/dev/null";
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

TEST_F(ProgramTest, AnElementBeyondTheProjectIsRefused) {
  make_tool_host_folder();
  make_project("projects/t.prj", "8/8/631/471");
  std::string before = read(work + "projects/t.prj");
  for (const char* element : {"1", "-1"}) {
    Outcome r = run({"--headless", "--mode", "14", "--project", "projects/t.prj", "--element", element});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
    EXPECT_EQ(read(work + "projects/t.prj"), before);
  }
}

TEST_F(ProgramTest, ModesWithoutSavesLeaveTheProjectAlone) {
  make_tool_host_folder();
  for (const char* mode : {"4", "10", "11", "12", "99", "-3"}) {
    Outcome r = run({"--headless", "--mode", mode, "--project", "projects/none.prj"});
    EXPECT_EQ(r.status, 0) << mode << r.err;
    EXPECT_FALSE(fs::exists(work + "projects/none.prj")) << mode;
  }
}

TEST_F(ProgramTest, WithoutRunmodeIniItIsThePlayer) {
  // A packaged layout: the data files beside the program, but no packaged list.
  for (const char* f : {"sinus.bin", "sinusbig.bin", "atan.bin", "random.bin", "font.fnt", "panels.pcx"})
    fs::copy_file(data + "/" + f, work + f);
  Outcome r = run({"--headless"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Nothing to play: no packaged project in " + work), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(work + "config.ini"));

  fs::create_directories(work + "empty");
  std::string saved = work;
  work += "empty/";
  r = run({"--headless"});  // no data files at all: the same clear message
  work = saved;
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Nothing to play"), std::string::npos) << r.err;
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

TEST_F(ProgramTest, BadCommandLinesExitWithStatus2) {
  write(work + "bad.txt", "0 mouse 1 2 0\n# fine\n5 press 30\n");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--nope"}, "zepta: unknown option '--nope'"},
      {{"--mode", "x"}, "zepta: option '--mode' needs a number"},
      {{"--input", "bad.txt"}, "bad.txt line 3: unknown event 'press'"},
      {{"--input", "missing.txt"}, "missing.txt: cannot read the file"},
      {{"--workdir", "/no/such/folder"}, "cannot use '/no/such/folder' as the working folder"},
  };
  for (const Case& c : cases) {
    Outcome r = run(c.args);
    EXPECT_EQ(r.status, 2) << c.message;
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

}  // namespace
