// Lookup tables and the arithmetic built on them: colour index, square root,
// wrap, angles, direction from a vector, random draw, table loading.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "media/datagen/datagen.h"
#include "media/media.h"
#include "media/test_util.h"
#include "base/memory.h"

namespace {

using media_test::ScratchDir;

// The four generated tables written to a scratch folder and loaded.
class Tables : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::reserve_budget());
    media_test::write_all(dir.file("sinus.bin"), datagen::sine_table());
    media_test::write_all(dir.file("sinusbig.bin"), datagen::large_sine_table());
    media_test::write_all(dir.file("atan.bin"), datagen::atan_table());
    media_test::write_all(dir.file("random.bin"), random);
    ASSERT_TRUE(media::load_lookup_tables(dir.path));
  }
  void TearDown() override { base::release_budget(); }
  ScratchDir dir;
  std::vector<uint8_t> random = datagen::random_table();
};

TEST(ColourIndex, SchemeCases) {
  struct Case {
    int r, g, b, index;
  };
  const Case cases[] = {
      {0, 0, 0, 0},       {255, 255, 255, 255}, {255, 0, 0, 218},     {0, 0, 255, 7},
      {8, 8, 7, 0},       {8, 8, 8, 1},         {15, 16, 16, 1},      {15, 16, 17, 2},   // sum reaches 48
      {15, 17, 0, 2},     {16, 0, 0, 2},        {241, 240, 240, 254}, {248, 248, 248, 254},
      {248, 248, 249, 255}, {240, 255, 255, 253}, {241, 239, 255, 253},  // r + g not over 480
      {0, 255, 0, 32},    {-5, 300, 0, 32},     {128, 128, 128, 131},
  };
  for (const Case& c : cases) EXPECT_EQ(media::colour_index(c.r, c.g, c.b), c.index) << c.r << "," << c.g << "," << c.b;
}

TEST(ColourIndex, SchemePaletteMapsBackToEveryIndex) {
  const media::Palette& p = media::scheme_palette();
  for (int i = 0; i < 256; ++i) EXPECT_EQ(media::colour_index(p[i][0], p[i][1], p[i][2]), i);
}

TEST(SquareRoot, TableAndExamples) {
  EXPECT_EQ(media::sqrt_table(0), 0);
  EXPECT_EQ(media::sqrt_table(64), 128);
  EXPECT_EQ(media::sqrt_table(255), 255);  // round(16 sqrt 255) = 256 is limited to 255
  const std::pair<uint32_t, uint32_t> exact[] = {{0, 0}, {1, 1}, {4, 2}, {100, 10}, {65535, 255}, {1000000, 1000}};
  for (auto [v, root] : exact) EXPECT_EQ(media::isqrt(v), root) << v;
}

TEST(SquareRoot, StaysWithinOnePercentOverTheWholeRange) {
  for (uint64_t v = 1; v <= 0xFFFFFFFFull; v = v * 3 / 2 + 7) {
    double s = std::floor(std::sqrt(static_cast<double>(v)));
    EXPECT_NEAR(media::isqrt(static_cast<uint32_t>(v)), s, s / 64 + 1) << v;
  }
  EXPECT_NEAR(media::isqrt(0xFFFFFFFFu), 65535.0, 656.0);
}

TEST(Wrap, Cases) {
  struct Case {
    int32_t v, lo, hi, result;
  };
  const Case cases[] = {
      {13, 10, 12, 10}, {9, 10, 12, 12}, {7, 10, 12, 10}, {11, 10, 12, 11}, {-1, 0, 9, 9},
      {5, 3, 3, 3},  // lo = hi gives hi
      {5, 4, 3, 3},  // lo > hi gives hi
      {INT_MAX, INT_MIN, INT_MAX, INT_MAX},  // the span 2^32 needs 64 bits
      {INT_MIN, INT_MIN + 1, INT_MAX, INT_MAX},
      {INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN},
      {0, INT_MIN, -1, INT_MIN},
      {INT_MIN, 0, 2, 1},  // -2^31 mod 3 = 1
  };
  for (const Case& c : cases) EXPECT_EQ(media::wrap(c.v, c.lo, c.hi), c.result) << c.v << " in " << c.lo << ".." << c.hi;
}

TEST(Angles, Normalisation) {
  const std::pair<int32_t, int32_t> cases[] = {{-1, 184318}, {184320, 1}, {184319, 184319}, {0, 0}, {368640, 2}};
  for (auto [a, n] : cases) EXPECT_EQ(media::normalise_angle(a), n) << a;
  for (int32_t a : {INT_MIN, INT_MAX, -184319, -184320}) {
    int32_t n = media::normalise_angle(a);
    EXPECT_TRUE(n >= 0 && n < media::kFullTurn) << a;
  }
}

TEST_F(Tables, SinesAndCosines) {
  struct Case {
    int32_t angle, sin, cos;
  };
  const Case cases[] = {
      {0, 0, 32768}, {46080, 32768, 0}, {92160, 0, -32768}, {138240, -32768, 0}, {23040, 23170, 23170},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(media::table_sin(c.angle), c.sin) << c.angle;
    EXPECT_EQ(media::table_cos(c.angle), c.cos) << c.angle;
  }
  EXPECT_LT(media::table_sin(-512), 0);  // normalised to just under a full turn
  EXPECT_EQ(media::sin_byte(46080), 127);
  EXPECT_EQ(media::cos_byte(0), 127);
  EXPECT_EQ(media::sin_byte(0), 0);  // entry 1: sin of 1/256 degree rounds to 0
  EXPECT_EQ(media::sin_byte(138240), -127);
  EXPECT_EQ(media::sin_byte(184319), media::sin_byte(359 * 512));  // highest index stays inside the table
}

TEST_F(Tables, DirectionFromVector) {
  struct Case {
    int32_t x, z, angle;
  };
  const Case cases[] = {
      {0, 1, 0},          {1, 0, 46080},       {0, -1, 92160},       {-1, 0, 138240},
      {1, 1, 23040},      {1, -1, 69120},      {-1, -1, 115200},     {-1, 1, 161280},
      {1000000, 1, 46080},  // ratio over 512000 counts as 90 degrees
      {INT_MIN, -1, 138240},  // no overflow in x * 1024
  };
  for (const Case& c : cases) EXPECT_EQ(media::direction_from_vector(c.x, c.z), c.angle) << c.x << "," << c.z;
  // Against atan2 all around: within one table step (1/8 degree) plus rounding.
  for (int k = 0; k < 360; k += 7) {
    double rad = (k + 0.3) * M_PI / 180;
    int32_t x = static_cast<int32_t>(std::lround(100000 * std::sin(rad)));
    int32_t z = static_cast<int32_t>(std::lround(100000 * std::cos(rad)));
    double got = media::direction_from_vector(x, z) / 512.0;
    EXPECT_NEAR(got, k + 0.3, 0.26) << k;
  }
}

TEST_F(Tables, RandomDraw) {
  media::RandomState s;
  EXPECT_EQ(media::random_in(s, 5, 5, 77), 5);
  EXPECT_EQ(s.pointer, 0u);  // equal bounds do not move the window

  // With the widest range the value is r itself: (c + (c << 16) + w) >> 1, w at byte 1.
  uint32_t c = 0x12345, w;
  std::memcpy(&w, random.data() + 1, 4);
  EXPECT_EQ(media::random_in(s, 0, INT_MAX, c), static_cast<int32_t>((c + (c << 16) + w) >> 1));
  EXPECT_EQ(s.pointer, 1u);

  for (int i = 0; i < 5000; ++i) {
    int32_t r = media::random_in(s, 9, 3, static_cast<uint32_t>(i));
    ASSERT_TRUE(r >= 3 && r <= 9) << r;
    ASSERT_TRUE(s.pointer >= 1 && s.pointer <= 1996) << s.pointer;
  }
  s.pointer = 1996;
  media::random_in(s, 0, 1, 0);
  EXPECT_EQ(s.pointer, 1u);  // after byte 1996 the window restarts at byte 1
  s.pointer = 0xFFFFFFFF;    // a corrupt pointer restarts too
  media::random_in(s, 0, 1, 0);
  EXPECT_EQ(s.pointer, 1u);
}

TEST(LookupTables, MissingAndShortFilesLeaveZerosAndReportFalse) {
  ASSERT_TRUE(base::reserve_budget());
  ScratchDir dir;
  std::memset(base::area(base::Area::large_sine_table).data(), 0x55, media::kLargeSineBytes);
  std::memset(base::area(base::Area::atan_table).data(), 0x55, media::kAtanBytes);
  media_test::write_all(dir.file("atan.bin"), {1, 2, 3});
  EXPECT_FALSE(media::load_lookup_tables(dir.path + "/"));
  auto big = base::area(base::Area::large_sine_table);
  EXPECT_TRUE(std::all_of(big.begin(), big.end(), [](std::byte b) { return b == std::byte{0}; }));
  auto atan = base::area(base::Area::atan_table);
  EXPECT_EQ(atan[2], std::byte{3});
  EXPECT_TRUE(std::all_of(atan.begin() + 3, atan.end(), [](std::byte b) { return b == std::byte{0}; }));
  EXPECT_EQ(media::table_sin(46080), 0);
  base::release_budget();
  EXPECT_FALSE(media::load_lookup_tables(dir.path));  // no budget: refused
  EXPECT_EQ(media::table_sin(46080), 0);              // and lookups read as 0
}

}  // namespace
