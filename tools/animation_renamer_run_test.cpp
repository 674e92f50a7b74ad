// Run mode 9 in the program itself, headless with scripted input: the menu, the
// list browser on the sprites folder, the new name typed, the overwrite
// question, and the file family left in the folder, with the message shown last
// (the script ends there, so the panel writes it on stderr).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/program_fixture.h"

namespace {

namespace fs = std::filesystem;
using program_test::read;
using program_test::write;

// Scripts: the menu item by its key ("1" scan 2, "2" scan 3); a click on row r
// of the list browser; keys typed into the input box; Enter is 28, Delete 83
// (" YES " of the overwrite question), Backspace 14.
std::string item(int n) { return "30 key " + std::to_string(n + 1) + "\n"; }
std::string row(int r) {
  std::string y = std::to_string(154 + 10 * r);
  return "50 mouse 200 " + y + " 1\n52 mouse 200 " + y + " 0\n";
}
std::string typed(const std::string& name, int erase) {
  std::string s;
  int t = 80;
  for (int k = 0; k < erase; ++k) s += std::to_string(t++) + " key 14\n";
  for (char c : name) s += std::to_string(t++) + " key 30 " + std::string(1, c) + "\n";
  return s + std::to_string(t) + " key 28 13\n";
}
constexpr const char* kYes = "120 key 83\n";
constexpr const char* kNo = "120 key 28 13\n";

std::vector<std::string> numbered(const std::string& base, int digits, int count) {
  std::vector<std::string> out;
  for (int k = 1; k <= count; ++k) {
    std::string n = "000" + std::to_string(k);
    out.push_back(base + n.substr(n.size() - digits) + ".pcx");
  }
  return out;
}
std::vector<std::string> family(const std::string& name, int count) {
  std::vector<std::string> out = {name + ".pcx"};
  for (int k = 2; k <= count; ++k) {
    std::string n = "00" + std::to_string(k);
    out.push_back(name + "." + n.substr(n.size() - 3));
  }
  return out;
}
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct AnimationRenamerRun : program_test::ProgramFixture {
  std::string sprites() { return work + "sprites/"; }
  std::set<std::string> listing() {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(sprites()))
      out.insert(e.path().filename().string() + (e.is_directory() ? "/" : ""));
    return out;
  }
};

TEST_F(AnimationRenamerRun, FamiliesAfterEachRun) {
  struct Case {
    const char* what;
    std::vector<std::string> files;
    std::string script;
    std::vector<std::string> after;
    std::string told;  // the last message, its "|" as new lines
  } cases[] = {
      {"a list of twelve", numbered("walk", 3, 12), item(2) + row(0), family("walk", 12), "12 files renamed.\n"},
      {"a one-digit list", numbered("run", 1, 9), item(2) + row(0), family("run", 9), "9 files renamed.\n"},
      {"a chosen frame that is not frame 1", numbered("w", 2, 3), item(2) + row(1), family("w", 3), "3 files renamed.\n"},
      {"the first frame of an animation", family("boom", 2), item(2) + row(0), family("boom", 2),
       "Error, 'boom.pcx' is the first frame of an animation, \nnot an image of a list!\n"},
      {"a name ending in a letter", {"hero.pcx", "hero2.pcx"}, item(2) + row(0), {"hero.pcx", "hero2.pcx"},
       "The .pcx list must be in the form\nnameXXX.pcx (or nameXX.pcx or nameX.pcx)\nwhere 'name' is any custom name "
       "and 'XXX' is the frame number.\nAlso, the list must start with '001' and not '000'\n"},
      {"a list over an animation, YES", numbered("s", 3, 2) + family("s", 4), item(2) + row(1) + kYes, family("s", 2),
       "2 files renamed.\n"},
      {"a list over an animation, NO", numbered("s", 3, 2) + family("s", 1), item(2) + row(1) + kNo,
       numbered("s", 3, 2) + family("s", 1), "Animation tools\n"},
      {"three frames renamed", family("a", 3), item(1) + row(0) + typed("b", 1), family("b", 3), "3 files renamed.\n"},
      {"the same name in capitals", family("a", 2), item(1) + row(0) + typed("A", 1), family("a", 2),
       "The new name is the same as the old one\n(capitals and small letters count as the same):\nnothing was renamed.\n"},
      {"over a longer animation, YES: its stale frames go", family("a", 2) + family("b", 5),
       item(1) + row(0) + typed("b", 1) + kYes, family("b", 2), "2 files renamed.\n"},
      {"over an animation, NO", family("a", 2) + family("b", 3), item(1) + row(0) + typed("b", 1) + kNo,
       family("a", 2) + family("b", 3), "Animation tools\n"},
      {"an empty name", family("a", 2), item(1) + row(0) + typed("", 1), family("a", 2), "Animation tools\n"},
  };
  for (const Case& c : cases) {
    fs::remove_all(sprites());
    fs::create_directories(sprites());
    for (const std::string& f : c.files) write(sprites() + f, f);
    write(work + "input.txt", c.script);
    program_test::Outcome r = run_program({"--headless", "--mode", "9", "--input", "input.txt"});
    EXPECT_EQ(r.status, 0) << c.what << r.err;
    EXPECT_EQ(listing(), std::set<std::string>(c.after.begin(), c.after.end())) << c.what << "\n" << r.err;
    EXPECT_NE(r.err.find(c.told), std::string::npos) << c.what << "\n" << r.err;
  }
}

// Escape leaves the menu at once; with nothing scripted it leaves as well,
// after writing its title on stderr.
TEST_F(AnimationRenamerRun, EscapeLeavesTheMenu) {
  write(work + "input.txt", "30 key 1\n");
  program_test::Outcome r = run_program({"--headless", "--mode", "9", "--input", "input.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Animation tools"), std::string::npos) << r.err;
  r = run_program({"--headless", "--mode", "9"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Animation tools\n"), std::string::npos) << r.err;
}

// A frame that can't take its new name (a folder holds it) stops the rename:
// the frames after it are renamed, it and those before it keep their names.
TEST_F(AnimationRenamerRun, AFailureHalfWayIsToldAndLosesNothing) {
  fs::create_directories(sprites() + "b.003/x");
  for (const std::string& f : family("a", 4)) write(sprites() + f, f);
  write(work + "input.txt", item(1) + row(1) + typed("b", 1));  // row 0 is the folder b.003
  program_test::Outcome r = run_program({"--headless", "--mode", "9", "--input", "input.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listing(), (std::set<std::string>{"a.pcx", "a.002", "a.003", "b.004", "b.003/"}));
  EXPECT_NE(r.err.find("Renaming stopped: 'a.003' could not become 'b.003' ("), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\n1 files renamed; the other frames keep their old names.\n"), std::string::npos) << r.err;
  EXPECT_EQ(read(sprites() + "b.004"), "a.004");
}

}  // namespace
