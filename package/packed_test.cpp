// Packed resource names and the scrambling copy.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "package/package.h"

namespace {

namespace fs = std::filesystem;

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

struct Scratch {
  std::string dir;
  Scratch() {
    char name[] = "/tmp/zepta_packed_XXXXXX";
    dir = std::string(mkdtemp(name)) + "/";
  }
  ~Scratch() { fs::remove_all(dir); }
};

// Expected values computed apart from this code (h = h * 31 + signed byte, 32 bits).
TEST(PackedNames, PathHash) {
  struct {
    const char* path;
    std::uint32_t hash;
  } cases[] = {
      {"", 0x00000000},
      {"a", 0x00000061},
      {"Aa", 0x00000840},
      {"BB", 0x00000840},
      {"/work/zepta/sprites/ship.pcx", 0x7E85DCA0},
      {"./visuals/default_.v3d", 0x41668474},
      {"c:\\zepta\\sounds\\hit.wav", 0x7D258348},
      {"/tmp/caf\xC3\xA9/\xC3\xA9t\xC3\xA9.wav", 0xCF5ABB6A},  // bytes above 127 count negative
  };
  for (const auto& c : cases) EXPECT_EQ(package::path_hash(c.path), c.hash) << c.path;
}

TEST(PackedNames, NullSoundKeepsItsName) {
  struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"/work/zepta/sprites/ship.pcx", "7E85DCA0.dat"},
      {"/work/zepta/sounds/null_.wav", "null_.wav"},
      {"/work/zepta/sounds/xnull_.wav", nullptr},
      {"", "00000000.dat"},
  };
  for (const auto& c : cases) {
    std::string name(package::packed_name(c.path).view());
    if (c.name) EXPECT_EQ(name, c.name) << c.path;
    else EXPECT_NE(name, "xnull_.wav");
  }
}

TEST(ScramblingCopy, WordsChangeTailStays) {
  Scratch s;
  struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"\x01\x02\x03", "\x01\x02\x03"},
      {"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A", "\x25\x8D\x38\x32\xA5\x0C\xB8\xB2\x09\x0A"},
  };
  for (const auto& c : cases) {
    write(s.dir + "in.bin", c.in);
    ASSERT_TRUE(package::scrambling_copy(s.dir + "in.bin", s.dir + "out.bin", false));
    EXPECT_EQ(read(s.dir + "out.bin"), c.out) << c.in.size();
    ASSERT_TRUE(package::descrambling_copy(s.dir + "out.bin", s.dir + "back.bin", false));
    EXPECT_EQ(read(s.dir + "back.bin"), c.in) << c.in.size();
  }
}

TEST(ScramblingCopy, InPlaceAndMissingSource) {
  Scratch s;
  std::string bytes = "level file bytes, 27 of them";
  write(s.dir + "a.prj", bytes);
  ASSERT_TRUE(package::scrambling_copy(s.dir + "a.prj", s.dir + "a.prj", false));
  EXPECT_NE(read(s.dir + "a.prj"), bytes);
  ASSERT_TRUE(package::descrambling_copy(s.dir + "a.prj", s.dir + "a.prj", false));
  EXPECT_EQ(read(s.dir + "a.prj"), bytes);
  EXPECT_FALSE(package::scrambling_copy(s.dir + "none.bmp", s.dir + "out.bmp", false));
  EXPECT_FALSE(fs::exists(s.dir + "out.bmp"));
  for (const auto& e : fs::directory_iterator(s.dir))  // no temporaries left behind
    EXPECT_EQ(e.path().filename(), "a.prj");
}

// With the plain-projects switch only project files are transformed.
TEST(ScramblingCopy, PlainSwitch) {
  Scratch s;
  std::string bytes = "12345678abcd";
  struct {
    const char* name;
    bool changed;
  } cases[] = {{"x.bmp", false}, {"x.dat", false}, {"x.prj", true}, {"X.PRJ", true}};
  for (const auto& c : cases) {
    write(s.dir + c.name, bytes);
    ASSERT_TRUE(package::scrambling_copy(s.dir + c.name, s.dir + "out", true));
    EXPECT_EQ(read(s.dir + "out") != bytes, c.changed) << c.name;
  }
}

}  // namespace
