// PCX decoding and encoding in the three load modes, bad PCX files, the 16-bit
// colour table and BMP palettes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "media/media.h"
#include "media/test_util.h"
#include "base/memory.h"

namespace {

using media_test::ScratchDir;

media::Palette test_palette() {
  media::Palette p{};
  for (int i = 0; i < 256; ++i) p[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)};
  p[7] = {255, 0, 0};
  p[9] = {0, 0, 255};
  return p;
}

std::vector<uint8_t> pattern(int w, int h) {
  std::vector<uint8_t> px(static_cast<std::size_t>(w * h));
  for (int i = 0; i < w * h; ++i) px[i] = static_cast<uint8_t>(i % 3 == 0 ? 0xC5 : (i / 70) * 13);  // runs and >= 0xC0 literals
  return px;
}

// A destination block with canary bytes either side, to catch any overrun.
struct Guarded {
  std::vector<uint8_t> all;
  explicit Guarded(std::size_t n) : all(n + 64, 0xEE) {}
  std::span<uint8_t> dest() { return std::span(all).subspan(32, all.size() - 64); }
  bool canaries_intact() const {
    return std::all_of(all.begin(), all.begin() + 32, [](uint8_t b) { return b == 0xEE; }) &&
           std::all_of(all.end() - 32, all.end(), [](uint8_t b) { return b == 0xEE; });
  }
};

// A hand-made PCX: header for w x h, the given run-length bytes, the palette.
std::vector<uint8_t> raw_pcx(int w, int h, std::vector<uint8_t> data) {
  std::vector<uint8_t> f(128 + data.size() + 1 + 768, 0);
  f[0] = 10, f[1] = 5, f[2] = 1, f[3] = 8;
  f[8] = uint8_t(w - 1), f[9] = uint8_t((w - 1) >> 8), f[10] = uint8_t(h - 1), f[11] = uint8_t((h - 1) >> 8);
  std::copy(data.begin(), data.end(), f.begin() + 128);
  auto at = f.begin() + 128 + static_cast<std::ptrdiff_t>(data.size());
  *at++ = 0x0C;
  for (const auto& c : test_palette()) at = std::copy(c.begin(), c.end(), at);
  return f;
}

TEST(Pcx, RoundTripKeepsPixelsAndSize) {
  const std::pair<int, int> sizes[] = {{1, 1}, {5, 3}, {4, 2}, {300, 2}, {127, 9}};
  for (auto [w, h] : sizes) {
    auto px = pattern(w, h);
    auto file = media::encode_pcx(w, h, px, test_palette());
    ASSERT_FALSE(file.empty());
    Guarded g(px.size());
    media::ImageSize size;
    EXPECT_EQ(media::decode_pcx(file, media::kPcxColourTable, g.dest(), size, nullptr), w * h);
    EXPECT_EQ(size.width, w);
    EXPECT_EQ(size.height, h);
    EXPECT_TRUE(std::equal(px.begin(), px.end(), g.dest().begin())) << w << "x" << h;
    EXPECT_TRUE(g.canaries_intact());
  }
}

TEST(Pcx, OddWidthCodesEvenRowsAndDropsThePadding) {
  auto file = media::encode_pcx(5, 2, pattern(5, 2), test_palette());
  EXPECT_EQ(file[66], 6);  // bytes per coded row
  // Rows of 6 coded bytes whose padding byte is not zero: 5 pixels per row.
  auto raw = raw_pcx(5, 2, {1, 2, 3, 4, 5, 0x33, 6, 7, 8, 9, 10, 0x33});
  Guarded g(10);
  media::ImageSize size;
  ASSERT_EQ(media::decode_pcx(raw, 1, g.dest(), size, nullptr), 10);
  const uint8_t want[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_TRUE(std::equal(std::begin(want), std::end(want), g.dest().begin()));
  EXPECT_TRUE(g.canaries_intact());
}

TEST(Pcx, RunCrossingARowEndIsCutThere) {
  auto raw = raw_pcx(4, 2, {0xCA, 9, 1, 2, 3, 4});  // a run of 10 in a 4-byte row
  Guarded g(8);
  media::ImageSize size;
  ASSERT_EQ(media::decode_pcx(raw, 1, g.dest(), size, nullptr), 8);
  const uint8_t want[] = {9, 9, 9, 9, 1, 2, 3, 4};
  EXPECT_TRUE(std::equal(std::begin(want), std::end(want), g.dest().begin()));
  EXPECT_TRUE(g.canaries_intact());
}

TEST(Pcx, ModesFoldAppendOrMakeTheColourTable) {
  const std::vector<uint8_t> px = {7, 9, 0, 7};
  auto file = media::encode_pcx(2, 2, px, test_palette());
  media::ImageSize size;

  std::vector<uint8_t> folded(4);
  ASSERT_EQ(media::decode_pcx(file, media::kPcxFold, folded, size, nullptr), 4);
  EXPECT_EQ(folded, (std::vector<uint8_t>{218, 7, 32, 218}));  // red, blue, green

  std::vector<uint8_t> appended(4 + 768);
  ASSERT_EQ(media::decode_pcx(file, media::kPcxAppendPalette, appended, size, nullptr), 4);
  EXPECT_TRUE(std::equal(px.begin(), px.end(), appended.begin()));
  EXPECT_EQ(appended[4 + 3 * 7], 255);
  EXPECT_EQ(appended[4 + 3 * 9 + 2], 255);
  std::vector<uint8_t> too_small(4 + 767);  // the palette must fit too
  EXPECT_EQ(media::decode_pcx(file, media::kPcxAppendPalette, too_small, size, nullptr), 1);

  std::vector<uint8_t> plain(4);
  uint16_t table[256] = {};
  ASSERT_EQ(media::decode_pcx(file, 1, plain, size, table), 4);
  EXPECT_EQ(plain, px);
  EXPECT_EQ(table[7], 0xF800);  // 5-6-5 red
  EXPECT_EQ(table[9], 0x001F);
  ASSERT_EQ(media::decode_pcx(file, 5, plain, size, table, media::PixelFormat{10, 5, 0}), 4);
  EXPECT_EQ(table[7], 0x7C00);  // 5-5-5 red
}

TEST(Pcx, ColourTableLayouts) {
  media::Palette p{};
  p[1] = {255, 255, 255};
  p[2] = {0, 128, 0};
  uint16_t t[256];
  media::make_colour_table(p, {}, t);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[1], 0xFFFF);
  EXPECT_EQ(t[2], 32 << 5);
  media::make_colour_table(p, {10, 5, 0}, t);
  EXPECT_EQ(t[1], 0x7FFF);
  EXPECT_EQ(t[2], 16 << 5);
  media::make_colour_table(p, {16, 8, 0}, t);  // other shifts: green still divided by 4
  EXPECT_EQ(t[2], 32 << 8);
}

TEST(Pcx, BadFilesGiveTheOneByOneImageWithoutOverrun) {
  auto good = media::encode_pcx(8, 8, pattern(8, 8), test_palette());
  auto wrong_byte0 = good;
  wrong_byte0[0] = 11;
  std::vector<uint8_t> too_short(good.begin(), good.begin() + 895);
  auto inverted = good;  // Xmax below Xmin
  inverted[4] = 9;
  auto truncated_run = raw_pcx(4, 2, {1, 2, 3, 4, 0xC4});  // the count byte is the last data byte
  truncated_run.erase(truncated_run.begin() + 128 + 5);     // (no 0x0C marker)
  auto truncated_rows = raw_pcx(4, 400, {1, 2, 3, 4});
  auto huge = raw_pcx(65535, 65535, {0xFF, 1});
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    std::size_t dest;
  };
  const Case cases[] = {
      {"wrong byte 0", wrong_byte0, 64},      {"shorter than 896 bytes", too_short, 64},
      {"Xmax below Xmin", inverted, 64},      {"truncated run", truncated_run, 64},
      {"rows missing", truncated_rows, 1600}, {"larger than the destination", good, 63},
      {"65535 x 65535", huge, 64},            {"empty file", {}, 64},
  };
  for (const Case& c : cases) {
    for (int mode : {0, 1, 2}) {
      Guarded g(c.dest + (mode == 2 ? 768 : 0));
      std::fill(g.dest().begin(), g.dest().end(), 0x77);
      media::ImageSize size{5, 5};
      EXPECT_EQ(media::decode_pcx(c.file, mode, g.dest(), size, nullptr), 1) << c.name;
      EXPECT_EQ(size.width, 1);
      EXPECT_EQ(size.height, 1);
      EXPECT_EQ(g.dest()[0], 0) << c.name;
      if (mode == 2) {
        EXPECT_EQ(g.dest()[768], 0) << c.name;  // a zero palette follows
      }
      EXPECT_TRUE(g.canaries_intact()) << c.name;
    }
  }
  media::ImageSize size;
  EXPECT_EQ(media::decode_pcx(good, 1, std::span<uint8_t>(), size, nullptr), 1);  // no room at all
}

TEST(Pcx, WriteThenLoadFromFiles) {
  ScratchDir dir;
  auto px = pattern(5, 7);
  ASSERT_TRUE(media::write_pcx(dir.file("a.pcx"), 5, 7, px, test_palette()));
  EXPECT_FALSE(media::write_pcx(dir.file("b.pcx"), 5, 7, std::span(px).first(34), test_palette()));
  EXPECT_FALSE(media::write_pcx(dir.file("b.pcx"), 0, 7, px, test_palette()));
  for (bool budget : {false, true}) {  // a local buffer, then the image work area
    if (budget) {
      ASSERT_TRUE(base::reserve_budget());
    }
    std::vector<uint8_t> dest(35);
    media::ImageSize size;
    EXPECT_EQ(media::load_pcx(dir.file("a.pcx"), 1, dest, size), 35);
    EXPECT_EQ(dest, px);
    EXPECT_EQ(media::load_pcx(dir.file("missing.pcx"), 1, dest, size), 1);
    EXPECT_EQ(size.width, 1);
  }
  // A file over the 1 MiB work buffer is refused before it is read.
  auto big = raw_pcx(1024, 1024, std::vector<uint8_t>(media::kPcxWorkBytes, 1));
  media_test::write_all(dir.file("big.pcx"), big);
  std::vector<uint8_t> dest(1024 * 1024);
  media::ImageSize size;
  EXPECT_EQ(media::load_pcx(dir.file("big.pcx"), 1, dest, size), 1);
  base::release_budget();
}

// A BMP with an info header of the given size, bit count, colour count and table.
std::vector<uint8_t> bmp(uint32_t info, int bits, uint32_t used, const std::vector<uint8_t>& table) {
  std::vector<uint8_t> f(14 + info, 0);
  f[0] = 'B', f[1] = 'M';
  std::memcpy(&f[14], &info, 4);
  if (info == 12) {
    f[24] = uint8_t(bits);
  } else {
    f[28] = uint8_t(bits);
    std::memcpy(&f[46], &used, 4);
  }
  f.insert(f.end(), table.begin(), table.end());
  f.resize(f.size() + 16, 0);  // a few pixel bytes
  return f;
}

TEST(BmpPalette, ColourTableOrTheThreeThreeTwoPalette) {
  ScratchDir dir;
  const auto p332 = media::palette_332();
  EXPECT_EQ(p332[255], (std::array<uint8_t, 3>{255, 255, 255}));
  EXPECT_EQ(p332[150], (std::array<uint8_t, 3>{145, 182, 170}));
  EXPECT_EQ(p332[0], (std::array<uint8_t, 3>{0, 0, 0}));

  media_test::write_all(dir.file("two.bmp"), bmp(40, 8, 2, {10, 20, 30, 0, 1, 2, 3, 0}));
  auto p = media::load_bmp_palette(dir.file("two.bmp"));
  EXPECT_EQ(p[0], (std::array<uint8_t, 3>{30, 20, 10}));  // stored B, G, R
  EXPECT_EQ(p[1], (std::array<uint8_t, 3>{3, 2, 1}));
  EXPECT_EQ(p[2], (std::array<uint8_t, 3>{0, 0, 0}));

  media_test::write_all(dir.file("core.bmp"), bmp(12, 1, 0, {10, 20, 30, 40, 50, 60}));
  p = media::load_bmp_palette(dir.file("core.bmp"));
  EXPECT_EQ(p[1], (std::array<uint8_t, 3>{60, 50, 40}));

  media_test::write_all(dir.file("true.bmp"), bmp(40, 24, 0, {}));
  media_test::write_all(dir.file("short.bmp"), bmp(40, 8, 256, {1, 2, 3, 4}));  // table cut short
  media_test::write_all(dir.file("not.bmp"), {'P', 'K', 3, 4});
  for (const char* name : {"true.bmp", "short.bmp", "not.bmp", "missing.bmp"})
    EXPECT_EQ(media::load_bmp_palette(dir.file(name)), p332) << name;
}

}  // namespace
