// The collision-map editor's arithmetic: the grid, the cell under the mouse,
// channel steps round 0..11, the colour of a pair and the mirrored trace point.
#include <gtest/gtest.h>

#include <string>

#include "project/project.h"
#include "tools/tools.h"

namespace tools {
namespace {

TEST(CollisionMap, GridIsCentredOnTheScreen) {
  struct Case {
    int elements;
    CrossMap want;
  } cases[] = {
      {9, {9, 71, 53, 0, 1}},     // 640 / 9 = 71 (margin 0.5 rounded down), 480 / 9 = 53 (margin 1)
      {1, {1, 640, 480, 0, 0}},
      {7, {7, 91, 68, 1, 2}},
      {256, {256, 2, 1, 64, 112}},
      {0, {0, 0, 0, 0, 0}},       // an empty project: no cells, nothing divides by 0
      {300, {256, 2, 1, 64, 112}},
  };
  for (const Case& c : cases) {
    CrossMap m = cross_map_of(c.elements);
    EXPECT_EQ(m.n, c.want.n) << c.elements;
    EXPECT_EQ(m.w, c.want.w) << c.elements;
    EXPECT_EQ(m.h, c.want.h) << c.elements;
    EXPECT_EQ(m.x0, c.want.x0) << c.elements;
    EXPECT_EQ(m.y0, c.want.y0) << c.elements;
  }
}

TEST(CollisionMap, CellUnderTheMouse) {
  struct Case {
    int elements, mx, my;
    bool inside;
    int row, column;
  } cases[] = {
      {9, 0, 1, true, 0, 0},    {9, 71, 53, true, 0, 1},  {9, 638, 477, true, 8, 8},
      {9, 639, 477, false, 0, 0},                          // the margin right of the grid
      {9, 100, 0, false, 0, 0},                            // the margin above it
      {7, 0, 100, false, 0, 0},                            // left of x0 = 1
      {0, 10, 10, false, 0, 0},
  };
  for (const Case& c : cases) {
    int row = -1, column = -1;
    EXPECT_EQ(cell_under(cross_map_of(c.elements), c.mx, c.my, row, column), c.inside) << c.mx << "," << c.my;
    if (c.inside) {
      EXPECT_EQ(row, c.row) << c.mx << "," << c.my;
      EXPECT_EQ(column, c.column) << c.mx << "," << c.my;
    }
  }
}

TEST(CollisionMap, ChannelsStepRoundZeroToEleven) {
  struct Case {
    int byte, by, want;
  } cases[] = {
      {0, 1, 1}, {10, 1, 11}, {11, 1, 0}, {0, -1, 11}, {1, -1, 0},
      {12, 1, 1}, {200, -1, 11}, {255, 1, 1},  // a damaged byte counts as channel 0
  };
  for (const Case& c : cases)
    EXPECT_EQ(step_channel(static_cast<std::uint8_t>(c.byte), c.by), c.want) << c.byte << " by " << c.by;
  std::uint8_t b = 0;
  for (int k = 0; k < 11; ++k) b = step_channel(b, 1);
  EXPECT_EQ(b, 11);
  EXPECT_EQ(step_channel(b, 1), 0);
}

std::string line_of_type(const std::string& type) {
  base::Text line = project::default_camera_line("/w/");
  return std::string(base::replace_field(line, project::kFieldType, type, '|').view());
}

TEST(CollisionMap, PairColours) {
  struct Case {
    const char* type_a;
    const char* type_b;
    int byte, want;
  } cases[] = {
      {"0", "1", 0, 81},    {"0", "1", 1, 188},  {"2", "3", 3, 62},  {"11", "13", 11, 183},
      {"0", "5", 4, 2},     // a sprite cannot collide
      {"7", "0", 0, 2},     {"0", "0", 12, 81},  // a byte of 12 or more names no channel
      {"0", "0", 255, 81},  {"", "0", 1, 188},   // an empty type field reads as 0, a camera
  };
  for (const Case& c : cases)
    EXPECT_EQ(pair_colour(line_of_type(c.type_a), line_of_type(c.type_b), static_cast<std::uint8_t>(c.byte)), c.want)
        << c.type_a << "/" << c.type_b << " byte " << c.byte;
}

TEST(CollisionMap, SpaceMirrorsTheTracePointAcrossTheDiagonal) {
  struct Case {
    int elements, x, y, want_x, want_y;
  } cases[] = {
      {9, 71, 1, 0, 54},       // x0 + (y - y0) * 639 / 477, y0 + (x - x0) * 477 / 639
      {9, 300, 200, 266, 224},
      {1, 639, 0, 0, 479},
  };
  for (const Case& c : cases) {
    int x = c.x, y = c.y;
    mirror_trace(cross_map_of(c.elements), x, y);
    EXPECT_EQ(x, c.want_x) << c.x << "," << c.y;
    EXPECT_EQ(y, c.want_y) << c.x << "," << c.y;
  }
}

}  // namespace
}  // namespace tools
