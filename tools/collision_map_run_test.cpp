// Run mode 2 in the program itself, headless with scripted clicks: the
// channels stepped on the cross-map reach the project's ".col", pairs of kinds
// that cannot collide and damaged bytes are handled, the project settings in
// row 254 stay, and an empty project gets a message and no save.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/program_fixture.h"

namespace {

namespace fs = std::filesystem;
using program_test::read;
using program_test::write;

// Four elements: e0 camera, e1 3D shape, e2 sprite (cannot collide), e3 visual.
// The grid is 4 x 4 cells of 160 x 120 pixels from (0, 0).
constexpr int kTypes[] = {0, 1, 5, 11};

int at(int row, int column) { return row * 256 + column; }

// A click with button (1 left, 2 right) in the middle of cell (row, column), at sample t.
std::string click(int& t, int row, int column, int button) {
  std::string x = std::to_string(column * 160 + 80), y = std::to_string(row * 120 + 60);
  std::string s = std::to_string(t) + " mouse " + x + " " + y + " " + std::to_string(button) + "\n" +
                  std::to_string(t + 2) + " mouse " + x + " " + y + " 0\n";
  t += 4;
  return s;
}

struct CollisionMapRun : program_test::ProgramFixture {
  void make(int elements, const std::vector<std::array<int, 3>>& declared) {
    std::vector<Field> fields;
    for (int e = 0; e < elements; ++e) fields.push_back({e, project::kFieldType, std::to_string(kTypes[e % 4])});
    make_project(std::vector<std::string>(static_cast<std::size_t>(elements), "var a\r\n"), declared, fields);
  }
  program_test::Outcome edit(const std::string& script) {
    write(work + "input.txt", script);
    return run_program({"--headless", "--mode", "2", "--project", "projects/t.prj", "--input", "input.txt"});
  }
};

TEST_F(CollisionMapRun, ClicksStepTheChannelsOfCollidablePairs) {
  struct Click {
    int row, column, button, times;
  };
  struct Case {
    const char* what;
    std::vector<std::array<int, 3>> declared;
    std::vector<Click> clicks;
    std::vector<std::array<int, 2>> want;  // matrix offset, byte after the run
  } cases[] = {
      {"eleven left clicks give channel 11", {}, {{0, 1, 1, 11}}, {{at(0, 1), 11}}},
      {"a twelfth gives 0 again", {}, {{0, 1, 1, 12}}, {{at(0, 1), 0}}},
      {"a right click on channel 0 gives 11", {}, {{0, 3, 2, 1}}, {{at(0, 3), 11}}},
      {"a pair with a sprite keeps its byte", {{0, 2, 4}}, {{0, 2, 1, 3}, {1, 2, 2, 1}}, {{at(0, 2), 4}, {at(1, 2), 0}}},
      {"a damaged byte steps as channel 0", {{1, 3, 200}, {2, 3, 99}}, {{1, 3, 1, 1}},
       {{at(1, 3), 1}, {at(2, 3), 99}}},  // the unclicked damaged byte stays for whoever reads it
      {"icons and cells below the diagonal change nothing", {{0, 1, 5}}, {{2, 1, 1, 1}, {3, 2, 1, 1}, {0, 0, 2, 1}},
       {{at(0, 1), 5}, {at(2, 1), 0}}},
  };
  for (const Case& c : cases) {
    make(4, c.declared);
    std::string before = read(work + "projects/t.col");
    ASSERT_EQ(before.size(), 65536u);
    int t = 30;
    std::string script;
    for (const Click& k : c.clicks)
      for (int n = 0; n < k.times; ++n) script += click(t, k.row, k.column, k.button);
    script += std::to_string(t + 4) + " key 1\n";
    program_test::Outcome r = edit(script);
    EXPECT_EQ(r.status, 0) << c.what << r.err;
    std::string after = read(work + "projects/t.col");
    std::string want = before;
    for (const auto& [offset, byte] : c.want) want[static_cast<std::size_t>(offset)] = static_cast<char>(byte);
    ASSERT_EQ(after.size(), 65536u) << c.what;
    for (std::size_t i = 0; i < want.size(); ++i)
      if (after[i] != want[i]) ADD_FAILURE() << c.what << ": byte " << i / 256 << "," << i % 256 << " is "
                                             << int(static_cast<unsigned char>(after[i])) << ", not "
                                             << int(static_cast<unsigned char>(want[i]));
    EXPECT_TRUE(fs::exists(work + "data/zepta.ini")) << c.what;
  }
}

// Where the script leaves the mouse, the text line (written on stderr when the
// script ends) names the icon's element, or the pair with what its cell means.
TEST_F(CollisionMapRun, TheTextLineSaysWhatIsUnderTheMouse) {
  struct Case {
    int x, y;
    const char* line;  // "" for the help line alone
  } cases[] = {
      {400, 60, "e0 / e2  Collision not supported"},   // a camera and a sprite
      {240, 60, "e0 / e1  Collision will be ignored"},  // channel 0
      {560, 180, "e1 / e3  Collision code: 62"},       // channel 3
      {560, 300, "e2 / e3  Collision not supported"},  // a damaged byte of a sprite's pair
      {80, 180, "e1"},                                  // an icon of the first column
      {400, 420, "e2"},                                 // an icon of the last row
      {200, 300, ""},                                   // below the diagonal
  };
  make(4, {{1, 3, 3}, {2, 3, 99}});
  for (const Case& c : cases) {
    program_test::Outcome r =
        edit("30 mouse " + std::to_string(c.x) + " " + std::to_string(c.y) + " 0\n");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string want = "Click cross-map to enable channels (click icons to trace)\n";
    if (*c.line) want += std::string(c.line) + "\n";
    EXPECT_NE(r.err.find(want), std::string::npos) << c.x << "," << c.y << ": " << r.err;
    if (!*c.line) {
      EXPECT_EQ(r.err.find(" / "), std::string::npos) << r.err;
    }
  }
}

TEST_F(CollisionMapRun, OneElementHasNoPairToClick) {
  make(1, {});
  std::string before = read(work + "projects/t.col");
  int t = 30;
  program_test::Outcome r = edit(click(t, 0, 0, 1) + click(t, 0, 0, 2) + "60 key 1\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read(work + "projects/t.col"), before);
}

TEST_F(CollisionMapRun, AnEmptyProjectIsToldAndNotSaved) {
  make(0, {});
  std::string project = read(work + "projects/t.prj"), matrix = read(work + "projects/t.col");
  // Nothing scripted: the message goes to stderr and its OK is taken.
  program_test::Outcome r = run_program({"--headless", "--mode", "2", "--project", "projects/t.prj"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("The project has no elements:\nthere are no pairs to map.\n"), std::string::npos) << r.err;
  EXPECT_EQ(read(work + "projects/t.prj"), project);
  EXPECT_EQ(read(work + "projects/t.col"), matrix);
}

}  // namespace
