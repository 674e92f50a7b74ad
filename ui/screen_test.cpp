// The software screen: clipping primitives and centred bitmap text.
#include <gtest/gtest.h>

#include <vector>

#include "media/media.h"
#include "ui/ui.h"

namespace ui {
namespace {

struct ScreenTest : ::testing::Test {
  std::vector<std::byte> block = std::vector<std::byte>(64 * 32);
  Screen s = make_screen(block, 64, 32);
  int ink() const {
    int n = 0;
    for (int i = 0; i < 64 * 32; ++i) n += s.pixels[i] != 0;
    return n;
  }
};

TEST_F(ScreenTest, LayoutRefusesBadSizes) {
  EXPECT_EQ(s.width, 64);
  EXPECT_EQ(s.row_table, nullptr);  // a block outside the budget has no 32-bit row table
  EXPECT_EQ(make_screen(block, 65, 32).pixels, nullptr);
  EXPECT_EQ(make_screen(block, 0, 32).pixels, nullptr);
  EXPECT_EQ(make_screen(block, 2048, 1).pixels, nullptr);
}

TEST_F(ScreenTest, FillsClipToTheScreen) {
  struct Case {
    int x1, y1, x2, y2, pixels;
  } cases[] = {
      {0, 0, 63, 31, 64 * 32}, {-10, -10, 1, 1, 4}, {60, 30, 100, 100, 8},
      {5, 5, 4, 9, 0},         {64, 0, 70, 5, 0},   {-5, 40, 5, 50, 0},
  };
  for (const Case& c : cases) {
    clear_screen(s);
    fill_rect(s, c.x1, c.y1, c.x2, c.y2, 7);
    EXPECT_EQ(ink(), c.pixels) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
  }
  clear_screen(s);
  draw_rectangle(s, 10, 10, 19, 14, 3);  // 10 x 5 outline
  EXPECT_EQ(ink(), 10 * 2 + 3 * 2);
  EXPECT_EQ(s.pixels[12 * 64 + 10], 3);
  EXPECT_EQ(s.pixels[12 * 64 + 15], 0);
  draw_rectangle(s, -100, -100, 1000, 1000, 3);  // nothing of it on screen, no overrun
}

TEST_F(ScreenTest, CentredTextStartsHalfItsWidthLeft) {
  media::Font font = media::empty_font(false);  // 8 rows, 8 pixels a character, letter spacing 2
  media::set_u8(font, media::kFontWidthMode, 0);
  media::set_u8(font, media::kFontByteWidths + 'I', 2);
  media::set_u16(font, media::kFontRowLength, 2);
  for (int i = 0; i < 16; ++i) font.glyphs[i] = 1;  // 'I' is a solid 2 x 8 block
  media::index_glyphs(font);
  int w = media::text_width(font, "II");
  clear_screen(s);
  draw_centred_text(s, font, "II", 32, 16, 9);
  int x0 = 32 - w / 2;
  EXPECT_EQ(s.pixels[12 * 64 + x0], 9);
  EXPECT_EQ(s.pixels[12 * 64 + x0 - 1], 0);
  EXPECT_EQ(s.pixels[(16 - media::glyph_height(font) / 2) * 64 + x0], 9);
  EXPECT_EQ(ink(), 2 * 2 * media::glyph_height(font));
  draw_centred_text(s, font, "IIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIII", 0, 0, 9);  // clipped at every edge
}

}  // namespace
}  // namespace ui
