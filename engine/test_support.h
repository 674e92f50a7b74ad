// Test fixture of the engine: the budget with the real lookup tables, brains
// compiled from memory into the code area, and a world that runs them.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_local.h"
#include "platform/platform.h"
#include "base/memory.h"
#include "tests/brain_files.h"

namespace engine_test {

using project::ElementRecord;

inline ElementRecord& record(int i) { return base::area_as<ElementRecord>(base::Area::element_table)[i]; }
inline std::int32_t ref(int i) { return static_cast<std::int32_t>(base::address32(&record(i))); }
// Variable n of a brain (declaration order from 0).
inline std::int32_t& variable(int element, int n) { return record(element).variables[127 - n]; }

using brain_test::lines;

// Runs f in a child process: false when it failed, crashed, or had not ended
// after limit_seconds. The limit is a watchdog for a hang, far above any
// normal run, not a measure of speed.
inline bool ends_in_child(const std::function<void()>& f, int limit_seconds = 120) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    f();
    std::fflush(nullptr);
    std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  if (pid < 0) return false;
  int status = 0;
  for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
    if (waited == limit_seconds * 100) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return false;
    }
    usleep(10000);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class EngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(base::reserve_budget());
    const char* data = std::getenv("ZEPTA_TEST_DATA");
    tables_loaded_ = data && media::load_lookup_tables(std::string(data) + "/");
  }
  static void TearDownTestSuite() { base::release_budget(); }

  void SetUp() override {
    if (!tables_loaded_) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    std::memset(&record(0), 0, project::kMaxElements * sizeof(ElementRecord));
    std::memset(engine::globals(), 0, engine::kGlobals * 4);
    world_ = std::make_unique<engine::World>();
    input_ = std::make_unique<platform::Input>();
    world_->input = input_.get();  // the test's own devices, nothing held
    engine::begin_run(*world_);
  }
  void TearDown() override {
    if (world_) engine::end_run(*world_);
  }

  // Compiles one brain per text for elements 0, 1, ..., switches them on and
  // makes them the world's elements. Literals go to the data arena.
  void compile(const std::vector<std::string>& texts) {
    brains_.clear();
    std::vector<brain::BrainSource> sources = brains_.sources(texts, "e");
    literals_ = base::area(base::Area::data_arena);
    std::byte* start = literals_.data();
    brains_.serve(options_);
    options_.literals = &literals_;
    program_ = std::make_unique<brain::Program>();
    ASSERT_TRUE(brain::compile_project(sources, options_, *program_));
    world_->program = program_.get();
    world_->highest = static_cast<int>(texts.size()) - 1;
    world_->literal_start = base::address32(start);
    world_->literal_end = base::address32(literals_.data());
    for (std::size_t i = 0; i < texts.size(); ++i) record(static_cast<int>(i)).flags |= project::kFlagOn;
  }

  // Runs a one-element brain once and returns its variable 0.
  std::int32_t value_of(const std::string& text) {
    compile({text});
    engine::brain_pass(*world_);
    return variable(0, 0);
  }

  static inline bool tables_loaded_ = false;
  brain_test::MemoryBrains brains_;
  std::span<std::byte> literals_;
  brain::CompileOptions options_;
  std::unique_ptr<brain::Program> program_;
  std::unique_ptr<platform::Input> input_;
  std::unique_ptr<engine::World> world_;
};

}  // namespace engine_test
