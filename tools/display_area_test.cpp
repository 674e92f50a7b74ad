// The display-area tool's arithmetic: field 37's sub-fields and the corner a click moves.
#include <gtest/gtest.h>

#include "tools/tools.h"

namespace tools {
namespace {

TEST(DisplayAreaTool, SubFieldsOneToFourAreTheRectangle) {
  DisplayArea a = display_area_of("8/16/631/471/5/extra");
  EXPECT_EQ(a.x1, 8);
  EXPECT_EQ(a.y1, 16);
  EXPECT_EQ(a.x2, 631);
  EXPECT_EQ(a.y2, 471);
  EXPECT_EQ(with_display_area("8/16/631/471/5/extra", {0, 8, 319, 239}), "0/8/319/239/5/extra");
  EXPECT_EQ(with_display_area("", {1, 2, 3, 4}), "1/2/3/4");
  EXPECT_EQ(with_display_area("1/2", {1, 2, 3, 4}), "1/2/3/4");
  EXPECT_EQ(display_area_label({0, 0, 639, 479}), "0,0/639,479 (640x480)");
}

TEST(DisplayAreaTool, AClickMovesTheNearerCorner) {
  struct Case {
    DisplayArea from;
    std::int32_t mx, my;  // the click; the tool takes p = (mx + 1, my + 1)
    DisplayArea want;
  } cases[] = {
      {{0, 0, 639, 479}, 100, 50, {96, 48, 639, 479}},         // upper-left: p truncated to 8
      {{0, 0, 639, 479}, 400, 300, {0, 0, 399, 295}},          // lower-right: truncated, minus 1
      {{0, 0, 639, 479}, 638, 478, {0, 0, 631, 471}},
      {{100, 100, 200, 200}, 149, 149, {144, 144, 200, 200}},  // a tie moves the upper-left corner
      {{100, 100, 107, 107}, 300, 10, {100, 100, 295, 107}},   // y2 below y1: set 7 above it
      {{0, 0, 20, 20}, 5, 30, {0, 0, 7, 23}},                  // x2 = -1 below x1: x1 + 7
      {{0, 100, 200, 108}, 20, 150, {16, 101, 200, 108}},      // y1 passes y2: set 7 below it
      {{300, 300, 310, 310}, 700, 100, {300, 300, 639, 307}},  // x above 639 becomes 639
      {{0, 0, 200, 3}, 10, 20, {8, 479, 200, 3}},              // y1 = -4 compares unsigned: 479
  };
  for (const Case& c : cases) {
    DisplayArea a = c.from;
    move_display_corner(a, c.mx, c.my);
    EXPECT_EQ(display_area_label(a), display_area_label(c.want)) << c.mx << "," << c.my;
  }
}

}  // namespace
}  // namespace tools
