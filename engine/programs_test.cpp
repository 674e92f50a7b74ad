// `run` and `run_task`: programs started without a shell, their command line
// split into words; `run` waits, `run_task` does not, and its children are reaped.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/test_support.h"

namespace {

using namespace engine_test;
namespace fs = std::filesystem;

TEST(CommandWords, BlanksSeparateQuotesGroup) {
  struct Case {
    const char* line;
    std::vector<std::string> words;
  } cases[] = {
      {"touch a b", {"touch", "a", "b"}},
      {"  touch\t a  ", {"touch", "a"}},
      {"echo a; touch X", {"echo", "a;", "touch", "X"}},
      {"echo $(id) `id` | cat > f", {"echo", "$(id)", "`id`", "|", "cat", ">", "f"}},
      {"touch \"a b\" c\"d e\"f", {"touch", "a b", "cd ef"}},
      {"x \"\" y", {"x", "", "y"}},
      {"x \"open", {"x", "open"}},
      {"", {}},
      {"   ", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(engine::command_words(c.line), c.words) << c.line;
}

class Programs : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    dir_ = fs::temp_directory_path() / ("zepta_programs_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    dir_ = fs::canonical(dir_);
  }
  void TearDown() override {
    EngineTest::TearDown();
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string at(const char* name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(Programs, RunWaitsAndNoShellReadsTheLine) {
  std::string d = dir_.string() + "/";
  compile({lines({"run(\"touch " + d + "made\")", "run(\"echo a && touch " + d + "second\")", "run(\"echo a > " + d + "redirected\")",
                  "run(\"touch " + d + "x`touch " + d + "third`\")", "run(\"\\usr\\bin\\touch " + d + "slashed\")",
                  "run(\"zepta_no_such_program " + d + "none\")", "run(\"\")"})});
  engine::brain_pass(*world_);
  EXPECT_TRUE(fs::exists(at("made")));     // run waits, so it is there now
  EXPECT_FALSE(fs::exists(at("second")));  // "&&" joins no commands (";" would start a brain comment)
  EXPECT_FALSE(fs::exists(at("redirected")));  // nor does ">" redirect
  EXPECT_FALSE(fs::exists(at("third")));   // nor does "`...`" run anything
  EXPECT_TRUE(fs::exists(at("x`touch")));
  EXPECT_TRUE(fs::exists(at("slashed")));  // "\" in the program's name reads as "/"
  EXPECT_EQ(engine::reap_programs(), 0);
}

// Waits, under the watchdog of ends_in_child, until every started task has ended and been reaped.
void wait_until_reaped(const std::function<void()>& nudge = [] {}) {
  while (engine::reap_programs() > 0) {
    nudge();
    usleep(10000);
  }
}

TEST_F(Programs, RunTaskDoesNotWaitAndItsChildrenAreReaped) {
  std::string d = dir_.string() + "/";
  compile({lines({"run_task(\"touch " + d + "task\")"})});
  EXPECT_TRUE(ends_in_child([&] {
    engine::brain_pass(*world_);
    wait_until_reaped();
    EXPECT_TRUE(fs::exists(at("task")));
  }));
}

TEST_F(Programs, RunTaskInALoopStartsAtMostSixteen) {
  // Each task reads a pipe that only ends when the test writes to it.
  std::string pipe = at("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  compile({lines({"var i", "loop:", "run_task(\"cat " + pipe + "\")", "i = i + 1", "if i < 40", "goto loop",
                  "endif"})});
  EXPECT_TRUE(ends_in_child([&] {
    engine::brain_pass(*world_);
    EXPECT_EQ(engine::reap_programs(), 16);
    wait_until_reaped([&] {
      int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);  // fails while no reader has it open
      if (fd >= 0) close(fd);
    });
  }));
}

}  // namespace
