// The scrambling transform against known bytes, and the package view's reads.
#include "base/scramble.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::byte> bytes_of(std::initializer_list<int> v) {
  std::vector<std::byte> out;
  for (int b : v) out.push_back(static_cast<std::byte>(b));
  return out;
}

TEST(Scramble, KnownBytesBothWays) {
  struct Case {
    std::vector<std::byte> plain, scrambled;
  } cases[] = {
      // 10 bytes: two words change, the last two bytes stay.
      {bytes_of({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), bytes_of({0xc5, 0xad, 0x58, 0x12, 0x45, 0x2d, 0xd8, 0x92, 8, 9})},
      {bytes_of({0, 0, 0, 0}), bytes_of({0xa5, 0xad, 0x78, 0x52})},  // rotl(key, 13) = 0x5278ADA5
      {bytes_of({1, 2, 3}), bytes_of({1, 2, 3})},                     // under a word: unchanged
      {{}, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::byte> b = c.plain;
    base::scramble(b);
    EXPECT_EQ(b, c.scrambled);
    base::descramble(b);
    EXPECT_EQ(b, c.plain);
  }
}

TEST(Scramble, StoredScrambledNames) {
  struct Case {
    const char* name;
    bool scrambled, scrambled_with_plain_switch;
  } cases[] = {
      {"level001.prj", true, true},     {"LEVEL002.PRJ", true, true},    {"0A1B2C3D.dat", true, false},
      {"0a1b2c3d.002", true, false},    {"car.x", true, false},          {"car_002.x", true, false},
      {"hood0a.x", false, false},       {"wait_.bmp", true, false},      {"tex.ppm", true, false},
      {"end_.bmp", false, false},       {"resume_.bmp", false, false},   {"bkgr000_.bmp", false, false},
      {"level001.col", false, false},   {"multilev.ini", false, false},  {"intro_320x240.avi", false, false},
      {"globvars.dat", false, false},   {"curr2.dat", false, false},     {"font.fnt", false, false},
      {"panels.pcx", false, false},     {"0a1b2c3g.dat", false, false},  {"zeptaexe", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(base::stored_scrambled_name(c.name, false), c.scrambled) << c.name;
    EXPECT_EQ(base::stored_scrambled_name(c.name, true), c.scrambled_with_plain_switch) << c.name;
  }
}

// Inside the view, every way of reading a scrambled file gives the plain bytes;
// files in sub-folders, plain files and files elsewhere are read as they are.
TEST(Scramble, PackageViewReadsPlain) {
  fs::path dir = fs::temp_directory_path() / ("zepta_view_" + std::to_string(getpid()));
  fs::create_directories(dir / "lib");
  std::string text = "first line\r\nsecond line\r\nend";  // 27 bytes: three left plain at the end
  std::vector<std::byte> stored(reinterpret_cast<const std::byte*>(text.data()),
                                reinterpret_cast<const std::byte*>(text.data()) + text.size());
  base::scramble(stored);
  for (const char* name : {"level001.prj", "lib/level001.prj", "plain.txt"}) {
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(stored.data()), stored.size());
  }
  std::string folder = dir.string() + "/";
  base::set_package_view(folder, false);

  std::string whole;
  ASSERT_TRUE(base::read_regular_file(folder + "level001.prj", 1000, whole));
  EXPECT_EQ(whole, text);
  std::string prefix;
  ASSERT_TRUE(base::read_regular_file(folder + "level001.prj", 6, prefix));
  EXPECT_EQ(prefix, "first ");
  char part[8] = {};
  EXPECT_EQ(base::read_file_at(folder + "level001.prj", 12, std::as_writable_bytes(std::span(part, 6))), 6);
  EXPECT_EQ(std::string(part, 6), "second");
  base::TextFile file;
  ASSERT_TRUE(file.open_read(folder + "level001.prj"));
  EXPECT_EQ(file.read_line().view(), "first line");
  EXPECT_EQ(file.read_line().view(), "second line");
  file.close();

  ASSERT_TRUE(base::read_regular_file(folder + "lib/level001.prj", 1000, whole));
  EXPECT_NE(whole, text);
  ASSERT_TRUE(base::read_regular_file(folder + "plain.txt", 1000, whole));
  EXPECT_NE(whole, text);

  base::set_package_view("", false);
  ASSERT_TRUE(base::read_regular_file(folder + "level001.prj", 1000, whole));
  EXPECT_NE(whole, text);
  fs::remove_all(dir);
}

// A file far larger than its kind can be (sparse: it costs no disk) is refused
// by whole reads before a byte is read or a buffer made for it; a read of its
// header reads the header alone. A kind without a bound reads what is asked.
TEST(Scramble, OversizedPackageFilesAreRefusedUnread) {
  fs::path dir = fs::temp_directory_path() / ("zepta_size_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string folder = dir.string() + "/";
  constexpr off_t k4GiB = off_t{4} << 30;
  struct Case {
    const char* name;
    off_t size;
    bool whole;        // a whole read goes on
    const char* told;  // the line on stderr
  } cases[] = {
      {"0000BEEF.dat", k4GiB, false,
       "package: 0000BEEF.dat holds 4294967296 bytes, more than a package file of its kind can (268435456): not read\n"},
      {"level001.prj", k4GiB, false,
       "package: level001.prj holds 4294967296 bytes, more than a package file of its kind can (4194304): not read\n"},
      {"tune.wav", k4GiB, false,
       "package: tune.wav holds 4294967296 bytes, more than a package file of its kind can (67108864): not read\n"},
      {"level002.prj", off_t{4} << 20, true, ""},
      {"notes.txt", k4GiB, true, ""},
  };
  for (const Case& c : cases) {
    int fd = open((folder + c.name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, c.size), 0);
    close(fd);
  }
  base::set_package_view(folder, false);
  for (const Case& c : cases) {
    std::string path = folder + c.name;
    char head[4];
    EXPECT_EQ(base::read_file_at(path, 0, std::as_writable_bytes(std::span(head))), 4) << c.name;
    testing::internal::CaptureStderr();
    std::string bytes;
    EXPECT_EQ(base::read_regular_file(path, 4 << 20, bytes), c.whole) << c.name;
    if (!c.whole) {
      EXPECT_EQ(bytes.capacity(), std::string().capacity()) << c.name;  // nothing was made for it
    }
    base::TextFile file;  // a scrambled file is read whole into a plain copy; others line by line
    EXPECT_EQ(file.open_read(path), c.whole || !base::package_view_scrambled(path)) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.told) << c.name;  // once per file
  }
  base::set_package_view("", false);
  fs::remove_all(dir);
}

}  // namespace
