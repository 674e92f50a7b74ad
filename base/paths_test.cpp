// Confined paths: folding, roots, links that leave them; bounded reads of regular files only.
#include "base/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

TEST(Paths, NormalPath) {
  struct Case {
    const char* path;
    const char* folder;
    const char* expected;  // "" refused
  } cases[] = {
      {"a/b.dat", "/w", "/w/a/b.dat"},
      {"temp\\globvars.dat", "/w/", "/w/temp/globvars.dat"},
      {"\\w\\x.dat", "/elsewhere", "/w/x.dat"},
      {"./a//b/./c", "/w", "/w/a/b/c"},
      {"a/../../x", "/w", "/x"},
      {"../../../x", "/w", ""},
      {"/..", "/w", ""},
      {"sub/", "/w", "/w/sub"},
      {".", "/w", "/w"},
      {"", "/w", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(base::normal_path(c.path, c.folder), c.expected) << c.path;
  EXPECT_EQ(base::normal_path(std::string(3000, 'a'), "/w"), "");  // longer than a text
}

class ConfinedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zepta_paths_" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "work/data");
    fs::create_directories(dir_ / "outside");
    dir_ = fs::canonical(dir_);
    work_ = (dir_ / "work").string();
    write("work/in.dat", "1\r\n");
    write("outside/secret.dat", "2\r\n");
  }
  void TearDown() override { fs::remove_all(dir_); }
  void write(const char* name, std::string_view bytes) {
    std::FILE* f = std::fopen((dir_ / name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  fs::path dir_;
  std::string work_;
};

TEST_F(ConfinedFiles, OnlyInsideTheRoots) {
  fs::create_symlink(dir_ / "outside", dir_ / "work/away");             // a folder link leaving the game
  fs::create_symlink(dir_ / "outside/secret.dat", dir_ / "work/s.dat");  // a file link leaving it
  fs::create_symlink(dir_ / "work/in.dat", dir_ / "work/data/in.lnk");   // a link that stays inside
  std::string outside = (dir_ / "outside").string();
  const std::string_view roots[] = {work_};
  struct Case {
    std::string path;
    std::string expected;  // "" refused
  } cases[] = {
      {"in.dat", work_ + "/in.dat"},
      {"new/none.dat", work_ + "/new/none.dat"},  // need not exist yet
      {"data\\..\\in.dat", work_ + "/in.dat"},
      {work_ + "/data/x.dat", work_ + "/data/x.dat"},
      {"data/in.lnk", work_ + "/in.dat"},
      {"../outside/secret.dat", ""},
      {"data/../../outside/secret.dat", ""},
      {outside + "/secret.dat", ""},
      {"/etc/passwd", ""},
      {"away/secret.dat", ""},
      {"away/new.dat", ""},
      {"s.dat", ""},
      {"..", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(base::confine_path(c.path, roots), c.expected) << c.path;

  // A second root admits its own files; relative paths still start at the first.
  const std::string_view two[] = {work_, outside};
  EXPECT_EQ(base::confine_path(outside + "/secret.dat", two), outside + "/secret.dat");
  EXPECT_EQ(base::confine_path("secret.dat", two), work_ + "/secret.dat");
}

TEST_F(ConfinedFiles, ReadsRegularFilesOnlyAndNoMoreThanAsked) {
  std::string bytes;
  EXPECT_TRUE(base::read_regular_file(work_ + "/in.dat", 100, bytes));
  EXPECT_EQ(bytes, "1\r\n");
  EXPECT_TRUE(base::read_regular_file(work_ + "/in.dat", 1, bytes));
  EXPECT_EQ(bytes, "1");
  EXPECT_FALSE(base::read_regular_file(work_ + "/none", 100, bytes));
  EXPECT_FALSE(base::read_regular_file(work_, 100, bytes));  // a folder
  EXPECT_FALSE(base::read_regular_file("/dev/zero", 100, bytes));
  EXPECT_TRUE(bytes.empty());
  std::string fifo = work_ + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(base::read_regular_file(fifo, 100, bytes));  // returns at once: no writer is waited for

  EXPECT_EQ(base::file_kind(work_ + "/in.dat"), base::FileKind::regular);
  EXPECT_EQ(base::file_kind(work_ + "/data"), base::FileKind::other);
  EXPECT_EQ(base::file_kind(fifo), base::FileKind::other);
  EXPECT_EQ(base::file_kind(work_ + "/none"), base::FileKind::missing);
}

}  // namespace
