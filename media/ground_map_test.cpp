// Ground maps (".m3d"): maps built from triangles, the shared-list writer,
// the checksums, and damaged files refused with what is wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/media.h"
#include "base/bytes.h"
#include "media/test_util.h"

namespace {

using media_test::flat;
using media_test::tri;

using media::GroundTriangle;

constexpr std::int32_t kL = 1000;  // L per metre


std::uint32_t field(const std::vector<std::byte>& b, std::size_t at) { return base::le32(b.data() + at); }
std::vector<std::byte> with(std::vector<std::byte> b, std::size_t at, std::uint32_t v) {
  base::put_le32(b.data() + at, v);
  return b;
}

TEST(GroundMap, BuiltMapHasHeaderTrianglesAndCellLists) {
  std::vector<GroundTriangle> square = flat(50 * kL, 2 * kL);
  std::vector<std::byte> map = media::build_ground_map(square, 77);
  ASSERT_EQ(media::check_ground_map(map), nullptr);
  EXPECT_EQ(std::memcmp(map.data(), "d3m.", 4), 0);
  EXPECT_EQ(field(map, media::kMapBlock1Field), 64u);
  EXPECT_EQ(field(map, media::kMapBlock2Field), 64u + 2 * 36);
  EXPECT_EQ(field(map, media::kMapExtentField), 100u * kL);  // twice the largest |x| or |z|
  EXPECT_EQ(field(map, media::kMapChecksumField), 77u);
  EXPECT_EQ(field(map, media::kMapBytesField), map.size() - 64);
  EXPECT_EQ(media::ground_map_checksum(map), 77u);
  EXPECT_EQ(media::ground_map_triangle_bytes(map), 2u * 36);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(static_cast<std::int32_t>(field(map, 64 + 36 + 4 * i)), square[1].v[i]);
  // Every cell of a map covered by its triangles has a list of its own.
  std::size_t table = 64 + 2 * 36;
  for (int cell : {0, 127, 128 * 64 + 64, 128 * 128 - 1}) {
    std::uint32_t at = field(map, table + 4 * cell);
    ASSERT_NE(at, 0u) << cell;
    std::uint32_t count = field(map, 64 + at);
    EXPECT_GE(count, 1u) << cell;
    EXPECT_LE(count, 2u) << cell;
  }
  EXPECT_NE(field(map, table), field(map, table + 4));
}

TEST(GroundMap, CellsShareAListWrittenOnce) {
  std::vector<GroundTriangle> square = flat(1000 * kL, 0);
  media::GroundMapLayout layout{square, 2000 * kL, 0, {{0, 1}}, std::vector<std::int32_t>(128 * 128, 0)};
  layout.cell_list[5] = -1;
  std::vector<std::byte> map = media::write_ground_map(layout);
  ASSERT_EQ(media::check_ground_map(map), nullptr);
  std::uint32_t list = 2 * 36 + 128 * 128 * 4;
  ASSERT_EQ(map.size(), 64 + list + 12);
  EXPECT_EQ(field(map, 64 + 2 * 36), list);
  EXPECT_EQ(field(map, 64 + 2 * 36 + 4 * 5), 0u);
  EXPECT_EQ(field(map, 64 + 2 * 36 + 4 * (128 * 128 - 1)), list);
  EXPECT_EQ(field(map, 64 + list), 2u);
  EXPECT_EQ(field(map, 64 + list + 4), 0u);
  EXPECT_EQ(field(map, 64 + list + 8), 36u);
  EXPECT_EQ(media::ground_map_checksum(map), 0u);
}

TEST(GroundMap, ModelChecksumSumsWholeWords) {
  auto bytes = [](std::initializer_list<int> v) {
    std::vector<std::byte> b;
    for (int x : v) b.push_back(static_cast<std::byte>(x));
    return b;
  };
  struct {
    std::vector<std::byte> model;
    std::uint32_t checksum;
  } cases[] = {
      {bytes({}), 0},
      {bytes({9, 9, 9}), 3},  // shorter than a word: its length
      {bytes({1, 0, 0, 0}), 1},
      {bytes({1, 0, 0, 0, 2, 1, 0, 0, 7}), 1 + 0x102},  // the last partial word left out
      {bytes({0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0}), 1},  // modulo 2^32
  };
  for (const auto& c : cases) EXPECT_EQ(media::model_checksum(c.model), c.checksum);
}

TEST(GroundMap, DamagedMapsAreRefused) {
  const std::vector<std::byte> good = media::build_ground_map(flat(50 * kL, 2 * kL), 1);
  std::size_t table = 64 + 2 * 36, list = 64 + 2 * 36 + 65536;  // file offsets
  std::uint32_t first_entry = 2 * 36 + 65536;                    // offsets count from block 1
  ASSERT_EQ(field(good, table), first_entry);
  auto cut = [&](std::size_t n) { return std::vector<std::byte>(good.begin(), good.begin() + n); };
  auto too_large = [&] {
    std::vector<std::byte> b = good;
    b.resize(64 + media::kMaxMapBytes + 4);
    return b;
  };
  struct {
    const char* what;
    std::vector<std::byte> bytes;
    const char* why;
  } cases[] = {
      {"empty", {}, "shorter than a header and a cell table"},
      {"short", cut(64 + 65000), "shorter than a header and a cell table"},
      {"tag", with(good, 0, 0x2E6D3365), "not a ground map"},
      {"too large", too_large(), "too large"},
      {"field 8 before field 4", with(good, 8, 60), "bad triangle block size"},
      {"part of a triangle", with(good, 8, 64 + 40), "bad triangle block size"},
      {"triangles past the end", with(good, 8, 64 + 36 * 100000), "blocks larger than the file"},
      {"zero extent", with(good, 12, 0), "bad extent"},
      {"negative extent", with(good, 12, 0x80000000), "bad extent"},
      {"list between words", with(good, table, first_entry + 2), "cell list outside the map"},
      {"list past the end", with(good, table, static_cast<std::uint32_t>(good.size())), "cell list outside the map"},
      {"list too long", with(good, list, 1000000), "cell list longer than the map"},
      {"triangle between records", with(good, list + 4, 4), "triangle offset outside the triangles"},
      {"triangle past block 1", with(good, list + 4, 72), "triangle offset outside the triangles"},
  };
  for (const auto& c : cases) {
    const char* why = media::check_ground_map(c.bytes);
    ASSERT_NE(why, nullptr) << c.what;
    EXPECT_STREQ(why, c.why) << c.what;
  }
  EXPECT_EQ(media::ground_map_checksum(with(good, 0, 0x2E6D3365)), 0u);
  EXPECT_EQ(media::ground_map_checksum(cut(19)), 0u);
}

}  // namespace
