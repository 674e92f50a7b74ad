// ".fnt" fonts: metrics set by the loader, text width in every width mode,
// glyph placement in the strip, refusals.
#include <gtest/gtest.h>

#include "media/media.h"
#include "media/test_util.h"

namespace {

using media_test::ScratchDir;

// A font with three glyphs: 'A' 3 wide, 'B' 5 wide, 'C' 4 wide, 4 rows; each
// glyph's pixels hold its own code so placement can be checked.
media::Font three_glyphs(int mode) {
  media::Font f;
  media::set_u8(f, media::kFontWidthMode, mode);
  media::set_u16(f, media::kFontGlyphHeight, 4);
  media::set_u16(f, media::kFontRowLength, 12);
  media::set_u16(f, media::kFontSpaceWidth, 5);
  const std::pair<char, int> widths[] = {{'A', 3}, {'B', 5}, {'C', 4}};
  int x = 0;
  for (auto [c, w] : widths) {
    media::set_u8(f, media::kFontByteWidths + c, w);
    media::set_u32(f, media::kFontFirstTable + 4 * c, 10);
    media::set_u32(f, media::kFontSecondTable + 4 * c, uint32_t(w));
    for (int y = 0; y < 4; ++y)
      for (int i = 0; i < w; ++i) f.glyphs[y * 12 + x + i] = uint8_t(c);
    x += w;
  }
  media::index_glyphs(f);
  return f;
}

TEST(Font, LoaderSetsTheMetricsOfNormalAndSmall) {
  ScratchDir dir;
  media::Font source = three_glyphs(0);
  media::set_u8(source, media::kFontLineGap, 7);
  media::set_u16(source, media::kFontLetterSpacing, 9);
  ASSERT_TRUE(media::write_font(dir.file("f.fnt"), source));
  EXPECT_EQ(media_test::read_all(dir.file("f.fnt")).size(), std::size_t(media::kFontHeadBytes + 48));

  media::Font f;
  ASSERT_TRUE(media::load_font(dir.file("f.fnt"), f, false));
  EXPECT_EQ(media::line_gap(f), 1);
  EXPECT_EQ(media::letter_spacing(f), 2);
  EXPECT_EQ(media::line_height(f), 5);
  EXPECT_EQ(f.glyphs, source.glyphs);
  ASSERT_TRUE(media::load_font(dir.file("f.fnt"), f, true));
  EXPECT_EQ(media::line_gap(f), 2);
  EXPECT_EQ(media::letter_spacing(f), 0);
  EXPECT_EQ(media::line_height(f), 6);
}

TEST(Font, TextWidthInEveryWidthMode) {
  struct Case {
    int mode;
    bool small;
    const char* text;
    int width;
  };
  const Case cases[] = {
      {0, false, "A B", (3 + 2) + 5 + (5 + 2)},  // byte widths plus spacing; a space is its width alone
      {0, true, "A B", 3 + 5 + 5},
      {0, false, "", 0},
      {0, false, "AZ", 5 + 2},  // a code without a glyph still takes the spacing
      {255, false, "ABC", 3 * 10},
      {255, true, "A C", 8 + 5 + 8},
      {1, false, "AB", (10 + 3 + 2) + (10 + 5 + 2)},  // other modes: the two tables' sum
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    ASSERT_TRUE(media::write_font(dir.file("m.fnt"), three_glyphs(c.mode)));
    media::Font f;
    ASSERT_TRUE(media::load_font(dir.file("m.fnt"), f, c.small));
    EXPECT_EQ(media::text_width(f, c.text), c.width) << c.mode << " '" << c.text << "'";
  }
}

TEST(Font, GlyphsSitSideBySideInCodeOrder) {
  media::Font f = three_glyphs(0);
  const std::pair<char, int> expect[] = {{'A', 0}, {'B', 3}, {'C', 8}};
  for (auto [c, x] : expect) {
    media::Glyph g = media::glyph(f, static_cast<unsigned char>(c));
    EXPECT_EQ(g.pixels - f.glyphs.data(), x) << c;
    EXPECT_EQ(g.height, 4);
    EXPECT_EQ(g.stride, 12);
    EXPECT_EQ(g.pixels[0], uint8_t(c));
    EXPECT_EQ(g.pixels[3 * g.stride + g.width - 1], uint8_t(c));
  }
  EXPECT_EQ(media::glyph(f, 'D').width, 0);
  // A glyph reaching past the row length is cut to it.
  media::set_u8(f, media::kFontByteWidths + 'C', 9);
  media::index_glyphs(f);
  EXPECT_EQ(media::glyph(f, 'C').width, 4);
}

TEST(Font, BadFilesAreRefusedAndLeaveAnEmptyFont) {
  ScratchDir dir;
  media::Font big = three_glyphs(0);
  media::set_u16(big, media::kFontGlyphHeight, 61);
  media::set_u16(big, media::kFontRowLength, 100);  // 6100 bytes
  EXPECT_FALSE(media::write_font(dir.file("big.fnt"), big));
  std::vector<uint8_t> big_file(big.head.begin(), big.head.end());
  big_file.resize(big_file.size() + 6100, 1);
  media_test::write_all(dir.file("big.fnt"), big_file);

  auto good = three_glyphs(0);
  ASSERT_TRUE(media::write_font(dir.file("good.fnt"), good));
  auto bytes = media_test::read_all(dir.file("good.fnt"));
  media_test::write_all(dir.file("short_head.fnt"), {bytes.begin(), bytes.begin() + 2000});
  media_test::write_all(dir.file("short_bitmap.fnt"), {bytes.begin(), bytes.end() - 1});

  for (const char* name : {"big.fnt", "short_head.fnt", "short_bitmap.fnt", "missing.fnt"}) {
    media::Font f = good;
    EXPECT_FALSE(media::load_font(dir.file(name), f, false)) << name;
    EXPECT_EQ(media::width_mode(f), 255) << name;
    EXPECT_EQ(media::text_width(f, "AB"), 20) << name;  // 8 + spacing 2 each, still usable
    EXPECT_EQ(media::line_height(f), 9) << name;
    EXPECT_EQ(media::glyph(f, 'A').width, 0) << name;
  }
}

TEST(Font, HostileTableValuesDoNotOverflow) {
  media::Font f = three_glyphs(1);
  media::set_u32(f, media::kFontFirstTable + 4 * 'A', 0x7FFFFFFF);
  media::set_u32(f, media::kFontSecondTable + 4 * 'A', 0x7FFFFFFF);
  std::string many(5000, 'A');
  EXPECT_GT(media::text_width(f, many), 0);
}

}  // namespace
