// Shared by the tests that run the zepta program itself: a scratch working folder
// with the generated data, small projects of one element per brain, and runs
// headless with their exit status, stderr and dump.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "project/project.h"
#include "base/memory.h"
#include "tests/brain_files.h"
#include "tests/watchdog.h"

namespace program_test {

namespace fs = std::filesystem;

inline std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

using brain_test::lines;

inline bool has_line(const std::string& dump, const std::string& line) {
  return ("\n" + dump).find("\n" + line + "\n") != std::string::npos;
}

struct Outcome {
  int status = -1;
  bool hung = false;  // killed by the watchdog
  std::string err;
  std::string dump;
};

// Runs the program started in folder with args, under the watchdog; stdout is
// dropped, stderr goes to files + "stderr.txt", and the outcome's dump is
// files + "dump.txt" (removed first). env: "NAME=VALUE" words for env(1), "-u
// NAME" to unset.
inline Outcome run_program_in(const std::string& folder, const std::vector<std::string>& args, const std::string& env,
                              const std::string& files) {
  std::string cmd = "cd '" + folder + "' && env " + env + " '" ZEPTA_PROGRAM "'";
  for (const std::string& a : args) cmd += " '" + a + "'";
  cmd += " 2>'" + files + "stderr.txt' >/dev/null";
  fs::remove(files + "dump.txt");
  Outcome r;
  test_support::WatchedRun run = test_support::run_watched(cmd);
  r.status = run.status;
  r.hung = run.hung;
  r.err = read(files + "stderr.txt");
  r.dump = read(files + "dump.txt");
  return r;
}

// A tool-host working folder in /tmp with a copy of the generated data folder
// (ZEPTA_TEST_DATA); skipped when that is not set.
class ProgramFixture : public ::testing::Test {
 protected:
  std::string work;  // ends in "/"

  void SetUp() override {
    const char* d = std::getenv("ZEPTA_TEST_DATA");
    if (!d || !fs::exists(std::string(d) + "/sinus.bin")) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    char name[] = "/tmp/zepta_program_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    work = std::string(name) + "/";
    fs::create_directories(work + "data");
    for (const auto& f : fs::directory_iterator(d))
      if (f.is_regular_file()) fs::copy(f.path(), work + "data/" + f.path().filename().string());
    for (const char* sub : {"projects", "brains", "temp", "cameras", "sounds", "tracks"}) fs::create_directories(work + sub);
    ASSERT_TRUE(base::reserve_budget());
  }
  void TearDown() override {
    if (!work.empty()) fs::remove_all(work);
    base::release_budget();
  }

  // A line field of one element that differs from the camera line.
  struct Field {
    int element;
    int field;
    std::string value;
  };

  // "projects/t.prj": one camera element per brain text, named e0, e1, ...;
  // matrix bytes (row, column, value) go to its ".col" file; then the fields.
  void make_project(const std::vector<std::string>& brains, const std::vector<std::array<int, 3>>& declared = {},
                    const std::vector<Field>& fields = {}) {
    auto p = std::make_unique<project::Project>();
    std::vector<std::uint8_t> matrix(project::kCollisionBytes);
    for (const auto& d : declared) matrix[d[0] * 256 + d[1]] = static_cast<std::uint8_t>(d[2]);
    p->collision = matrix.data();
    project::Host host;
    host.work_folder = base::Text(work);
    host.data_folder = base::Text(work + "data/");
    for (std::size_t i = 0; i < brains.size(); ++i) {
      int e = static_cast<int>(i);
      std::string path = work + "brains/b" + std::to_string(i) + ".brn";
      write(path, brains[i]);
      p->lines.line[i] = project::default_camera_line(work);
      p->lines.highest = e;
      ASSERT_TRUE(project::set_line_field(p->lines, e, project::kFieldBrain, path));
      ASSERT_TRUE(project::set_line_field(p->lines, e, project::kFieldName, "e" + std::to_string(i)));
      ASSERT_TRUE(project::set_line_field(p->lines, e, project::kFieldUserParameters, "0"));
    }
    for (const Field& f : fields) ASSERT_TRUE(project::set_line_field(p->lines, f.element, f.field, f.value));
    ASSERT_TRUE(project::save_project(*p, host, work + "projects/t.prj"));
  }

  // Runs the program in the working folder with args, under the watchdog;
  // stdout is dropped. env: "NAME=VALUE" words for env(1), "-u NAME" to unset.
  Outcome run_program(const std::vector<std::string>& args, const std::string& env = "") {
    return run_program_in(work, args, env, work);
  }

  // A headless test run of "projects/t.prj", ticks back to back, with its dump.
  Outcome test_run(std::vector<std::string> extra) {
    std::vector<std::string> args = {"--headless", "--mode", "1", "--project", "projects/t.prj", "--fast",
                                     "--dump", "dump.txt"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_program(args);
  }
};

}  // namespace program_test
