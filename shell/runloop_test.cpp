// Test runs of small projects through the zepta program, headless, checked by their dumps.
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

struct Outcome {
  int status = -1;
  std::string err;
  std::string dump;
};

class RunLoopTest : public ::testing::Test {
 protected:
  std::string work;

  void SetUp() override {
    const char* d = std::getenv("ZEPTA_TEST_DATA");
    if (!d || !fs::exists(std::string(d) + "/sinus.bin")) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    char name[] = "/tmp/zepta_runloop_XXXXXX";
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

  // A project of one element per brain text ("Camera" lines with their own brains).
  void make_project(const std::vector<std::string>& brains) {
    auto p = std::make_unique<project::Project>();
    std::vector<std::uint8_t> matrix(project::kCollisionBytes);
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

  Outcome run(std::vector<std::string> extra) {
    std::string cmd = std::string("cd '") + work + "' && '" ZEPTA_PROGRAM "' --headless --mode 1 --project projects/t.prj"
                      " --fast --dump dump.txt";
    for (const std::string& a : extra) cmd += " '" + a + "'";
    cmd += " 2>'" + work + "stderr.txt' >/dev/null";
    Outcome r;
    int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = read(work + "stderr.txt");
    r.dump = read(work + "dump.txt");
    return r;
  }
};

bool has_line(const std::string& dump, const std::string& line) {
  return dump.find(line + "\r\n") != std::string::npos;
}

TEST_F(RunLoopTest, MovingElementsRunThousandsOfTicksAndEndWithTheirDump) {
  make_project({brain({"var n", "n = n + 1", "velocity_x_set(element, 3)", "spin_y_set(element, 2)",
                       "velocity_update(element)", "spin_update(element)", "global_set(5, timer(element))"}),
                brain({"position_z_add(element, -1)", "if timer(element) = 2000", "debug(77)", "endif"})});
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
    make_project({brain({"if timer(element) = 10", std::string("exit(") + c.code + ")", "endif"})});
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
  make_project({brain({"var n", "n = n + 1"})});
  write(work + "keys.txt", "10 key 1\n");
  Outcome r = run({"--input", "keys.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The key arrives with engine tick 10; that tick still runs its brains.
  EXPECT_TRUE(r.dump.starts_with("exit -1\r\nticks 11\r\n")) << r.dump;
  EXPECT_EQ(r.err.find("When compiled"), std::string::npos) << r.err;
  EXPECT_EQ(read(work + "temp/wasok.dat"), "wasok\r\n");
}

TEST_F(RunLoopTest, GlobalsFileAndCommandValuesReachTheBrains) {
  make_project({brain({"var a", "var b", "var c", "a = global(0)", "b = par_count()", "c = par_get(1)", "exit(0)"})});
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
  make_project({brain({"var a", "var b", "position_x_set(0x80000000, 5)", "position_x_set(3, 5)",
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
