// The animation renamer's file work: families renamed, numbered lists turned
// into families, stale frames of an overwritten family removed, and a failure
// half-way leaving every frame under its old name or its new one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tools/tools.h"

namespace tools {
namespace {

namespace fs = std::filesystem;

struct Folder {
  std::string path;  // ends in "/"
  Folder() {
    char name[] = "/tmp/zepta_renamer_XXXXXX";
    if (mkdtemp(name)) path = std::string(name) + "/";
  }
  ~Folder() {
    if (!path.empty()) fs::remove_all(path);
  }
  // Each file holds its own first name, so moves can be followed.
  void make(const std::vector<std::string>& files) {
    for (const std::string& f : files) std::ofstream(path + f) << f;
  }
  // File name -> the name it was made under.
  std::set<std::string> listing() const {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(path)) {
      std::string name = e.path().filename().string();
      if (e.is_directory()) {
        out.insert(name + "/");
        continue;
      }
      std::ifstream in(e.path());
      std::string was;
      std::getline(in, was);
      out.insert(name == was ? name : name + "<" + was);
    }
    return out;
  }
};

TEST(AnimationRenamer, ListDigits) {
  struct Case {
    const char* name;
    int digits;
  } cases[] = {{"walk001", 3}, {"walk01", 2}, {"run1", 1}, {"walk", 0}, {"a12345", 3}, {"001", 0}, {"x0", 1}, {"", 0}};
  for (const Case& c : cases) EXPECT_EQ(list_digits(c.name), c.digits) << c.name;
}

TEST(AnimationRenamer, FamiliesAndListsBecomeFamilies) {
  struct Case {
    const char* what;
    std::vector<std::string> files;
    bool list;  // a list (from, digits) or a family (from -> to)
    const char* from;
    int digits;
    const char* to;
    bool overwrite;
    int count, moved;
    std::set<std::string> after;
  } cases[] = {
      {"three frames", {"a.pcx", "a.002", "a.003", "a.005"}, false, "a", 0, "b", false, 3, 3,
       {"b.pcx<a.pcx", "b.002<a.002", "b.003<a.003", "a.005"}},
      {"overwritten: stale frames go", {"a.pcx", "a.002", "b.pcx", "b.002", "b.003", "b.004", "b.010"}, false, "a", 0, "b",
       true, 2, 2, {"b.pcx<a.pcx", "b.002<a.002"}},
      {"first frame in capitals", {"A.PCX", "A.002"}, false, "A", 0, "c", false, 2, 2, {"c.pcx<A.PCX", "c.002<A.002"}},
      {"same name in other capitals: nothing moves", {"a.pcx", "a.002"}, false, "a", 0, "A", false, 0, 0,
       {"a.pcx", "a.002"}},
      {"one-digit list", {"run1.pcx", "run2.pcx", "run3.pcx", "run5.pcx"}, true, "run", 1, "", false, 3, 3,
       {"run.pcx<run1.pcx", "run.002<run2.pcx", "run.003<run3.pcx", "run5.pcx"}},
      {"list without its frame 1: counted all the same", {"w02.pcx", "w03.pcx"}, true, "w", 2, "", false, 3, 2,
       {"w.002<w02.pcx", "w.003<w03.pcx"}},
      {"list over an animation", {"s001.pcx", "s002.pcx", "s.pcx", "s.002", "s.003"}, true, "s", 3, "", true, 2, 2,
       {"s.pcx<s001.pcx", "s.002<s002.pcx"}},
  };
  for (const Case& c : cases) {
    Folder f;
    ASSERT_FALSE(f.path.empty());
    f.make(c.files);
    RenameOutcome r = c.list ? convert_list(f.path, c.from, c.digits, c.overwrite)
                             : rename_animation(f.path, c.from, c.to, c.overwrite);
    EXPECT_EQ(r.count, c.count) << c.what;
    EXPECT_EQ(r.moved, c.moved) << c.what;
    EXPECT_EQ(r.failed, "") << c.what;
    EXPECT_EQ(f.listing(), c.after) << c.what;
  }
}

// Whole lists: frame k of the list (its last digits) becomes frame k of the
// family. One digit allows ten frames: run1 to run9, then run0.
TEST(AnimationRenamer, WholeListsBecomeWholeFamilies) {
  struct Case {
    const char* base;
    int digits, frames;
  } cases[] = {{"walk", 3, 12}, {"run", 1, 10}, {"ab", 2, 3}};
  for (const Case& c : cases) {
    Folder f;
    std::vector<std::string> files;
    std::set<std::string> want;
    for (int k = 1; k <= c.frames; ++k) {
      std::string number = "000" + std::to_string(k), frame = "00" + std::to_string(k);
      std::string list = c.base + number.substr(number.size() - c.digits) + ".pcx";
      files.push_back(list);
      want.insert(std::string(c.base) + (k == 1 ? ".pcx" : "." + frame.substr(frame.size() - 3)) + "<" + list);
    }
    f.make(files);
    RenameOutcome r = convert_list(f.path, c.base, c.digits, false);
    EXPECT_EQ(r.count, c.frames) << c.base;
    EXPECT_EQ(f.listing(), want) << c.base;
  }
}

// A frame that cannot take its new name (here a folder stands in its way, which
// holds also for root) stops the rename there: the frames after it have their
// new names, it and those before keep their old ones, and nothing is deleted.
TEST(AnimationRenamer, AFailureHalfWayLosesNoFrame) {
  Folder f;
  f.make({"a.pcx", "a.002", "a.003", "a.004", "b.pcx", "b.007"});
  fs::create_directory(f.path + "b.003");
  fs::create_directory(f.path + "b.003/x");  // not empty: rename(2) can't replace it
  RenameOutcome r = rename_animation(f.path, "a", "b", true);
  EXPECT_EQ(r.count, 4);
  EXPECT_EQ(r.moved, 1);
  EXPECT_NE(r.failed.find("'a.003' could not become 'b.003'"), std::string::npos) << r.failed;
  EXPECT_EQ(f.listing(), (std::set<std::string>{"a.pcx", "a.002", "a.003", "b.004<a.004", "b.pcx", "b.007", "b.003/"}));
}

// A folder that can't be written: nothing moves (the check needs a user that
// permissions bind).
TEST(AnimationRenamer, AReadOnlyFolderKeepsEveryName) {
  if (geteuid() == 0) GTEST_SKIP() << "root is not bound by permissions";
  Folder f;
  f.make({"a.pcx", "a.002"});
  fs::permissions(f.path, fs::perms::owner_read | fs::perms::owner_exec);
  RenameOutcome r = rename_animation(f.path, "a", "b", false);
  fs::permissions(f.path, fs::perms::owner_all);
  EXPECT_EQ(r.moved, 0);
  EXPECT_NE(r.failed, "");
  EXPECT_EQ(f.listing(), (std::set<std::string>{"a.pcx", "a.002"}));
}

}  // namespace
}  // namespace tools
