// Files that brains name: confined to the game's folders, regular files only,
// reads that always end, and saves that never truncate for nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/test_support.h"
#include "base/files.h"

namespace {

using namespace engine_test;
namespace fs = std::filesystem;

class BrainFiles : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    dir_ = fs::temp_directory_path() / ("zepta_brain_files_" + std::to_string(getpid()));
    fs::create_directories(dir_ / "work/sub");
    dir_ = fs::canonical(dir_);
    work_ = (dir_ / "work").string();
    world_->base_folder = base::Text(work_ + "/");
    options_.base_folder = world_->base_folder;  // what ".\" in a literal stands for
  }
  void TearDown() override {
    EngineTest::TearDown();
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static void write(const fs::path& path, std::string_view bytes) { std::ofstream(path, std::ios::binary) << bytes; }

  fs::path dir_;
  std::string work_;
};

TEST_F(BrainFiles, OnlyInsideTheGamesFolders) {
  write(dir_ / "outside.dat", "keep\r\n");
  struct Case {
    std::string path;  // as the brain writes it
    fs::path lands;    // where a save may go; empty when refused
  } cases[] = {
      {"g.dat", dir_ / "work/g.dat"},
      {"sub\\g.dat", dir_ / "work/sub/g.dat"},
      {".\\sub\\h.dat", dir_ / "work/sub/h.dat"},  // the working folder, written with "\"
      {work_ + "/i.dat", dir_ / "work/i.dat"},
      {"sub/../j.dat", dir_ / "work/j.dat"},
      {"../outside.dat", {}},
      {"sub/../../outside.dat", {}},
      {(dir_ / "outside.dat").string(), {}},
      {"..\\outside.dat", {}},
      {"/etc/zepta_never.dat", {}},
  };
  testing::internal::CaptureStderr();
  for (const Case& c : cases) {
    compile({lines({"var e", "global_set(0, 77)", "globals_save(\"" + c.path + "\", 0, 0)",
                    "e = file_exists(\"" + c.path + "\")"})});
    engine::brain_pass(*world_);
    EXPECT_EQ(variable(0, 0), c.lands.empty() ? 0 : -1) << c.path;
    if (!c.lands.empty()) {
      EXPECT_EQ(read(c.lands), "77\r\n") << c.path;
    }
  }
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(read(dir_ / "outside.dat"), "keep\r\n");
  EXPECT_FALSE(fs::exists("/etc/zepta_never.dat"));
  // Refused as a missing file, and said once a run.
  std::size_t first = errors.find("outside the game's folders");
  EXPECT_NE(first, std::string::npos) << errors;
  EXPECT_EQ(errors.find("outside the game's folders", first + 1), std::string::npos) << errors;

  // A control character in a name (a "\\n" that became a line feed) is refused, told once a run.
  testing::internal::CaptureStderr();
  for (const char* name : {"temp\nnew.bin", "a\tb.bin", "del\x7f.bin"}) EXPECT_TRUE(engine::brain_file(*world_, name).empty()) << name;
  EXPECT_FALSE(engine::brain_file(*world_, "temp/new.bin").empty());
  errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("a brain named a file with a control character (byte 10) in its name, refused: temp\\x0Anew.bin"),
            std::string::npos)
      << errors;
  EXPECT_EQ(errors.find("control character", errors.find("control character") + 1), std::string::npos) << errors;

  // A load from outside leaves the globals as they are.
  compile({lines({"global_set(0, 5)", "globals_load(\"../outside.dat\", 0, 0)"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(engine::globals()[0], 5);
}

TEST_F(BrainFiles, GlobalsFilesRoundTripTheirRange) {
  compile({lines({"var e", "var f", "global_set(2047, -5)", "global_set(0, 6)", "global_set(1, 7)",
                  "globals_save(\"g.txt\", -1, 1)", "e = file_exists(\"g.txt\")", "global_set(0, 0)",
                  "global_set(1, 0)", "global_set(2047, 0)",
                  "globals_load(\"g.txt\", 0, 1)",  // the first two lines into 0 and 1
                  "f = file_exists(\"g.none\")"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), -1);
  EXPECT_EQ(variable(0, 1), 0);
  // -1 is global 2047; the range wraps round to 0 and 1.
  EXPECT_EQ(read(dir_ / "work/g.txt"), "-5\r\n6\r\n7\r\n");
  EXPECT_EQ(engine::globals()[0], -5);
  EXPECT_EQ(engine::globals()[1], 6);
  compile({lines({"globals_save(\"g.txt\", 0, 1)", "global_set(0, 0)", "global_set(1, 0)",
                  "globals_load(\"g.txt\", 1, 2)"})});
  engine::globals()[0] = 6, engine::globals()[1] = 7;
  engine::brain_pass(*world_);
  EXPECT_EQ(engine::globals()[1], 6);
  EXPECT_EQ(engine::globals()[2], 7);
  EXPECT_EQ(world_->globals_first, 1);  // the range last named
  EXPECT_EQ(world_->globals_last, 2);
}

TEST_F(BrainFiles, AnEmptyRangeNeverTruncates) {
  write(dir_ / "work/keep.dat", "5\r\n6\r\n");
  compile({lines({"global_set(3, 9)", "globals_save(\"keep.dat\", 3, 2)"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(read(dir_ / "work/keep.dat"), "5\r\n6\r\n");
  EXPECT_EQ(world_->globals_first, 3);
  EXPECT_EQ(world_->globals_last, 2);
  compile({lines({"globals_save(\"keep.dat\", 3, 3)"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(read(dir_ / "work/keep.dat"), "9\r\n");
}

// Devices, pipes, folders and endless files: every load ends, and only regular
// files count as existing. The working folder is "/" here, so that /dev/zero
// passes the folder rule and meets the regular-file rule.
TEST_F(BrainFiles, LoadsOfDevicesPipesAndEndlessFilesEnd) {
  ASSERT_EQ(mkfifo((dir_ / "work/pipe").c_str(), 0600), 0);
  {
    std::ofstream big(dir_ / "work/big", std::ios::binary);  // 1 GiB without a line end
  }
  fs::resize_file(dir_ / "work/big", std::uintmax_t{1} << 30);
  write(dir_ / "work/few", "1\r\n2\r\n");
  world_->base_folder = "/";
  std::string w = work_ + "/";
  compile({lines({"var zero", "var pipe", "var dir", "var few", "global_set(0, 3)", "global_set(1, 4)",
                  "globals_load(\"/dev/zero\", 0, 10)", "globals_load(\"" + w + "pipe\", 0, 10)",
                  "globals_load(\"" + w + "big\", 1, 2047)", "globals_load(\"" + w + "sub\", 0, 10)",
                  "globals_load(\"" + w + "few\", 5, 2000)", "zero = file_exists(\"/dev/zero\")",
                  "pipe = file_exists(\"" + w + "pipe\")", "dir = file_exists(\"" + w + "sub\")",
                  "few = file_exists(\"" + w + "few\")"})});
  EXPECT_TRUE(ends_in_child([&] {
    engine::brain_pass(*world_);
    EXPECT_EQ(engine::globals()[0], 3);  // nothing read from the device, the pipe or the folder
    EXPECT_EQ(engine::globals()[1], 0);  // the endless line reads as 0
    EXPECT_EQ(engine::globals()[5], 1);
    EXPECT_EQ(engine::globals()[6], 2);
    for (int v = 0; v < 3; ++v) EXPECT_EQ(variable(0, v), 0) << v;
    EXPECT_EQ(variable(0, 3), -1);
  }));
  // The engine's own entry refuses them the same way.
  EXPECT_TRUE(ends_in_child([&] { EXPECT_FALSE(engine::globals_load(*world_, "/dev/zero", 0, 2047)); }));
}

}  // namespace
