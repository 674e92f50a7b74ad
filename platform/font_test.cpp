// System fonts drawn into RGBA layers: ink where the pen is, nothing past the
// clip rectangle, Windows height conventions, and the "over" blend.
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "tests/watchdog.h"

namespace {

struct Layer {
  std::vector<std::uint8_t> pixels;
  platform::RgbaLayer view;
  Layer(int w, int h) : pixels(static_cast<std::size_t>(w) * h * 4, 0) {
    view = {pixels.data(), w, h, 0, 0, w, h};
  }
  // Bounding box of pixels with any alpha; false when empty.
  bool ink(int& x1, int& y1, int& x2, int& y2) const {
    x1 = y1 = 1 << 20, x2 = y2 = -1;
    for (int y = 0; y < view.height; ++y)
      for (int x = 0; x < view.width; ++x)
        if (pixels[(static_cast<std::size_t>(y) * view.width + x) * 4 + 3])
          x1 = std::min(x1, x), y1 = std::min(y1, y), x2 = std::max(x2, x), y2 = std::max(y2, y);
    return x2 >= 0;
  }
};

TEST(SystemFont, TextInkStartsAtThePenAndStaysInTheClip) {
  platform::SystemFont* font = platform::open_system_font("DejaVu Sans", -20, 400);
  ASSERT_NE(font, nullptr);
  Layer layer(200, 60);
  int advance = platform::draw_text(*font, "HH", 50, 10, 0xFF0000, layer.view);
  EXPECT_EQ(advance, platform::text_advance(*font, "HH"));
  int x1, y1, x2, y2;
  ASSERT_TRUE(layer.ink(x1, y1, x2, y2));
  EXPECT_GE(x1, 50);
  EXPECT_LE(x1, 53);
  EXPECT_GE(y1, 10);
  EXPECT_LE(y2, 10 + platform::font_line_height(*font));
  EXPECT_LT(x2, 50 + advance);
  const std::uint8_t* p = &layer.pixels[(static_cast<std::size_t>(y1 + 5) * 200 + x1) * 4];
  EXPECT_EQ(p[0], 255);  // the stem of H is solid red
  EXPECT_EQ(p[1], 0);

  // Clipped: nothing outside the rectangle, even for text far off the layer.
  Layer clipped(200, 60);
  clipped.view.clip_x1 = 55, clipped.view.clip_x2 = 60;
  platform::draw_text(*font, "HH", 50, 10, 0xFFFFFF, clipped.view);
  platform::draw_text(*font, "HH", -100000, 100000, 0xFFFFFF, clipped.view);
  platform::draw_text(*font, "HH", 2000000000, -2000000000, 0xFFFFFF, clipped.view);
  ASSERT_TRUE(clipped.ink(x1, y1, x2, y2));
  EXPECT_GE(x1, 55);
  EXPECT_LT(x2, 60);
  platform::close_system_font(font);
}

TEST(SystemFont, HeightSignAndUnknownFaces) {
  // A positive height is the cell, a negative one the em: the cell of -20 is taller than 20.
  platform::SystemFont* em = platform::open_system_font("DejaVu Sans", -20, 400);
  platform::SystemFont* cell = platform::open_system_font("DejaVu Sans", 20, 400);
  ASSERT_TRUE(em && cell);
  EXPECT_GT(platform::font_line_height(*em), platform::font_line_height(*cell));
  EXPECT_NEAR(platform::font_line_height(*cell), 20, 1);
  // Bold is wider; an unknown face falls back to an installed one; huge heights are limited.
  platform::SystemFont* bold = platform::open_system_font("DejaVu Sans", -20, 700);
  platform::SystemFont* unknown = platform::open_system_font("No Such Face 123", 12, 400);
  platform::SystemFont* huge = platform::open_system_font("", -2147483647 - 1, 1000);
  ASSERT_TRUE(bold && unknown && huge);
  EXPECT_GT(platform::text_advance(*bold, "MMMM"), platform::text_advance(*em, "MMMM"));
  EXPECT_LE(platform::font_line_height(*huge), 2 * platform::kMaxFontHeight);
  for (auto* f : {em, cell, bold, unknown, huge}) platform::close_system_font(f);
  platform::close_system_font(nullptr);
}

TEST(SystemFont, OpensOfAKnownFontAreCheapAndShared) {
  struct Key {
    const char* face;
    int height, weight;
  };
  // Pairs that ask for the same font, and pairs that don't.
  struct {
    Key a, b;
    bool same;
  } cases[] = {
      {{"DejaVu Sans", -20, 400}, {"DejaVu Sans", -20, 0}, true},          // regular either way
      {{"DejaVu Sans", -20, 700}, {"DejaVu Sans", -20, 1000}, true},       // bold either way
      {{"DejaVu Sans", 0, 400}, {"DejaVu Sans", -16, 400}, true},          // 0 is the default em
      {{"DejaVu Sans", 300, 400}, {"DejaVu Sans", 2147483647, 400}, true},  // both at the limit
      {{"DejaVu Sans", -20, 400}, {"DejaVu Sans", 20, 400}, false},
      {{"DejaVu Sans", -20, 400}, {"DejaVu Sans", -21, 400}, false},
      {{"DejaVu Sans", -20, 400}, {"DejaVu Sans", -20, 600}, false},
      {{"DejaVu Sans", -20, 400}, {"DejaVu Serif", -20, 400}, false},
  };
  for (const auto& c : cases) {
    platform::SystemFont* a = platform::open_system_font(c.a.face, c.a.height, c.a.weight);
    platform::SystemFont* b = platform::open_system_font(c.b.face, c.b.height, c.b.weight);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a == b, c.same) << c.b.face << " " << c.b.height << " " << c.b.weight;
    platform::close_system_font(a);
    platform::close_system_font(b);
  }

  // A brain setting its font 100,000 times in one tick, as font_set does: open
  // the new font, then close the slot's old one. A fontconfig match on each
  // call would take minutes.
  test_support::Watchdog watchdog("100,000 font opens", 300);
  platform::SystemFont* slot = platform::open_system_font("DejaVu Sans", -20, 400);
  ASSERT_NE(slot, nullptr);
  for (int i = 0; i < 100000; ++i) {
    platform::SystemFont* font = platform::open_system_font("DejaVu Sans", i % 2 ? -20 : -24, 400);
    platform::close_system_font(slot);
    slot = font;
  }
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot, platform::open_system_font("DejaVu Sans", -20, 400));  // the last one set
  platform::close_system_font(slot);

  // More fonts held at once than are kept: each stays whole until closed.
  std::vector<platform::SystemFont*> held;
  for (int h = 10; h < 50; ++h) held.push_back(platform::open_system_font("DejaVu Sans", -h, 400));
  Layer layer(100, 60);
  for (platform::SystemFont* f : held) {
    ASSERT_NE(f, nullptr);
    EXPECT_GT(platform::draw_text(*f, "H", 0, 0, 0xFFFFFF, layer.view), 0);
  }
  for (platform::SystemFont* f : held) platform::close_system_font(f);
  platform::close_system_font(slot);
}

TEST(SystemFont, BlendOverMixesChannelsAndAlpha) {
  struct Case {
    std::uint8_t before[4];
    std::uint32_t rgb;
    int alpha;
    std::uint8_t after[4];
  } cases[] = {
      {{10, 20, 30, 0}, 0xFF8000, 255, {255, 128, 0, 255}},     // opaque over anything
      {{0, 0, 0, 0}, 0xFF8000, 128, {255, 128, 0, 128}},        // over clear: colour with its alpha
      {{0, 0, 200, 255}, 0xC80000, 128, {100, 0, 99, 255}},     // half over opaque: per-channel mean
      {{0, 0, 200, 128}, 0xC80000, 128, {134, 0, 65, 191}},     // over half: "over" compositing
  };
  for (const Case& c : cases) {
    std::uint8_t p[4] = {c.before[0], c.before[1], c.before[2], c.before[3]};
    platform::blend_over(p, c.rgb, c.alpha);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(p[k], c.after[k]) << k;
  }
}

}  // namespace
