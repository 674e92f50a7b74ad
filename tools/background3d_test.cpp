// The 3D background tool's arithmetic: the repetition counts it accepts and the
// row a click moves.
#include <gtest/gtest.h>

#include "tools/tools.h"

namespace tools {
namespace {

TEST(Background3d, RepetitionsNeedExactlyOneOfTheLow31Bits) {
  struct Case {
    std::int32_t n;
    bool valid;
  } cases[] = {
      {1, true},   {2, true},  {4, true},  {1 << 30, true}, {3, false}, {0, false}, {6, false},
      {-1, false}, {static_cast<std::int32_t>(0x80000000u), false},  // the sign bit alone does not count
      {static_cast<std::int32_t>(0x80000004u), true},
  };
  for (const Case& c : cases) EXPECT_EQ(valid_repetitions(c.n), c.valid) << c.n;
}

TEST(Background3d, AClickMovesTheNearerRow) {
  struct Case {
    BackgroundBand from;
    std::int32_t row;  // clicked; the tool takes row + 1
    BackgroundBand want;
  } cases[] = {
      {{0, 479}, 99, {100, 479}},     // the top row is nearer
      {{0, 479}, 400, {0, 401}},      // the bottom row is strictly nearer
      {{100, 300}, 199, {200, 300}},  // a tie moves the top row
      {{100, 108}, 110, {100, 111}},
      {{100, 300}, 500, {100, 479}},  // kept on the screen
      {{0, 3}, 478, {0, 479}},
      {{200, 200}, 100, {101, 200}},
      {{200, 200}, 300, {193, 200}},  // a tie moves the top row past the bottom: 7 rows above it
  };
  for (const Case& c : cases) {
    BackgroundBand b = c.from;
    move_background_row(b, c.row);
    EXPECT_EQ(b.top, c.want.top) << c.from.top << "-" << c.from.bottom << " at " << c.row;
    EXPECT_EQ(b.bottom, c.want.bottom) << c.from.top << "-" << c.from.bottom << " at " << c.row;
  }
}

}  // namespace
}  // namespace tools
