// Collisions: set-up from the boxes, the pass on real records, the contact codes
// and the matrix routines, read back through compiled brains and the routines.
#include <cstring>

#include "engine/test_support.h"

namespace {

using namespace engine_test;

constexpr std::int32_t kOnWithCollisions = project::kFlagOn | project::kFlagCollisions;
constexpr std::int32_t kBoxes = kOnWithCollisions | project::kFlagBoxCollisions;

struct Box {
  std::int32_t x1, y1, z1, x2, y2, z2;  // L
};
constexpr Box kCube1000 = {500, 500, 500, -500, -500, -500};

class CollisionTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    std::memset(matrix(), 0, project::kCollisionBytes);
    world_->highest = 1;
  }
  static std::uint8_t* matrix() { return base::area_as<std::uint8_t>(base::Area::collision_matrix); }
  static void declare(int i, int j, int channel) { matrix()[i * 256 + j] = static_cast<std::uint8_t>(channel); }

  // Element i at (x, y, z) in L with the given box, flags and radius.
  static void place(int i, std::int32_t x, std::int32_t y, std::int32_t z, std::int32_t flags, std::int32_t radius,
                    const Box& box = kCube1000, std::int32_t rotation_y = 0) {
    ElementRecord& r = record(i);
    r.position[0] = x * 512;
    r.position[1] = y * 512;
    r.position[2] = z * 512;
    r.rotation[1] = rotation_y;
    r.flags = flags;
    r.radius = radius;
    std::memcpy(&r.display_area[0], &box, sizeof box);  // words 15..20
    r.collision_code = 1 << i;
  }
  static std::int32_t call(const char* keyword, std::int32_t a, std::int32_t b = 0, std::int32_t c = 0) {
    return brain::routine_of(brain::find_keyword(keyword))(a, b, c, 0, 0, 0);
  }
};

TEST_F(CollisionTest, SetupTakesTheRadiusAndBoxHalfSizeFromTheBox) {
  struct {
    Box box;
    std::int32_t radius, expected_radius, expected_half;
  } cases[] = {
      {{1000, 1000, 1000, -1000, -1000, -1000}, 0, 1000, 1416},  // 2000 L cube; table root of 2,000,000
      {{1000, 1000, 1000, -1000, -1000, -1000}, -4, 1000, 1416},
      {{1000, 1000, 1000, -1000, -1000, -1000}, 7, 7, 1416},     // a radius from the project stays
      {{-1000, -1000, -1000, 1000, 1000, 1000}, 0, 1000, 1416},  // corners the other way round
      {{300, 0, 400, 0, 0, 0}, 0, 116, 500},                    // 3-4-5 corner
      {{40000, 10, 10, -10, -10, -10}, 25, 25, 25},             // a square reaching 2^30: the radius
      {{-32768, 0, 0, 0, 0, 0}, 9, 9, 9},
      {{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, INT32_MIN}, 0, INT32_MAX, INT32_MAX},
  };
  for (const auto& c : cases) {
    place(0, 0, 0, 0, kOnWithCollisions, c.radius, c.box);
    record(0).collision_result = 99;
    world_->highest = 0;
    engine::collision_setup(*world_);
    EXPECT_EQ(record(0).radius, c.expected_radius) << c.box.x1 << " " << c.radius;
    EXPECT_EQ(record(0).box_half_size, c.expected_half) << c.box.x1 << " " << c.radius;
    EXPECT_EQ(record(0).collision_result, 0);
  }
}

TEST_F(CollisionTest, ChannelColoursArePaletteIndexesOfTheirColours) {
  const std::int32_t expected[] = {188, 128, 62, 32, 27, 17, 12, 7, 42, 112, 183};
  for (int c = 1; c <= engine::kChannels; ++c) {
    int r = c < 4 ? 255 - 64 * c : c < 8 ? 0 : 64 * (c - 8);
    int g = c < 4 ? 64 * c : c < 8 ? 255 - 64 * (c - 4) : 0;
    int b = c < 4 ? 0 : c < 8 ? 64 * (c - 4) : 255 - 64 * (c - 8);
    EXPECT_EQ(engine::channel_colour(c), media::colour_index(r, g, b)) << c;
    EXPECT_EQ(engine::channel_colour(c), expected[c - 1]) << c;
  }
  for (int c : {0, 12, 255, -1}) EXPECT_EQ(engine::channel_colour(c), 0) << c;
}

// Two elements, radius 1000 each unless boxes are used (the cube's half-size is 708).
TEST_F(CollisionTest, PassFindsContactsByReachDistanceAndFootprints) {
  struct {
    const char* what;
    std::int32_t x, y, z, flags_a, flags_b, rotation_b;
    bool contact;
    bool checked = contact;  // what `collision_check` says
  } cases[] = {
      {"spheres overlap on x", 1500, 0, 0, kOnWithCollisions, kOnWithCollisions, 0, true},
      {"exactly at reach", 2000, 0, 0, kOnWithCollisions, kOnWithCollisions, 0, false},  // quick test is strict
      {"far on z", 0, 0, 2100, kOnWithCollisions, kOnWithCollisions, 0, false},
      {"each axis near, diagonal too far", 1200, 1200, 1200, kOnWithCollisions, kOnWithCollisions, 0, false},
      {"diagonal within reach", 1100, 1100, 1100, kOnWithCollisions, kOnWithCollisions, 0, true},
      // The pass skips these; `collision_check` tests any two elements.
      {"B off", 100, 0, 0, kOnWithCollisions, project::kFlagCollisions, 0, false, true},
      {"B collisions off", 100, 0, 0, kOnWithCollisions, project::kFlagOn, 0, false, true},
      {"A box only: radii apply", 1500, 0, 0, kBoxes, kOnWithCollisions, 0, true},
      {"boxes overlap, axis-aligned", 900, 0, 0, kBoxes, kBoxes, 0, true},
      {"boxes apart, axis-aligned", 1100, 0, 0, kBoxes, kBoxes, 0, false},
      {"B turned 45 degrees reaches A", 1100, 0, 0, kBoxes, kBoxes, 23040, true},
      {"spheres overlap, turned footprints do not", 1250, 0, 0, kBoxes, kBoxes, 23040, false},
      {"same footprint, B above", 0, 1200, 0, kBoxes, kBoxes, 0, false},
      {"same footprint, B below", 0, -1001, 0, kBoxes, kBoxes, 0, false},
      {"same footprint, B edges meet", 0, 1000, 0, kBoxes, kBoxes, 0, true},
      // Axis-aligned boxes are tested on all four corners.
      {"corner +x +z", 900, 0, 900, kBoxes, kBoxes, 0, true},
      {"corner -x +z", -900, 0, 900, kBoxes, kBoxes, 0, true},
      {"corner +x -z", 900, 0, -900, kBoxes, kBoxes, 0, true},
      {"corner -x -z", -900, 0, -900, kBoxes, kBoxes, 0, true},
  };
  declare(0, 1, 1);
  for (const auto& c : cases) {
    place(0, 0, 0, 0, c.flags_a, 1000);
    place(1, c.x, c.y, c.z, c.flags_b, 1000, kCube1000, c.rotation_b);
    world_->collisions.ready = false;
    engine::collision_pass(*world_);
    EXPECT_EQ(record(0).collision_result, c.contact ? 2 : 0) << c.what;
    EXPECT_EQ(record(1).collision_result, c.contact ? 1 : 0) << c.what;
    EXPECT_EQ(engine::touching(record(0), record(1)), c.checked) << c.what;
    EXPECT_EQ(call("collision_check", ref(1), ref(0)), c.checked ? -1 : 0) << c.what;
  }
}

TEST_F(CollisionTest, OverflowingDistancesCountAsFarApart) {
  declare(0, 1, 1);
  // Within reach on every axis, but the squares leave 32 bits.
  place(0, 0, 0, 0, kOnWithCollisions, 1 << 30);
  place(1, 60000, 60000, 0, kOnWithCollisions, 1 << 30);
  engine::collision_pass(*world_);
  EXPECT_EQ(record(0).collision_result, 0);
  // Positions at opposite ends of the range do not wrap into contact.
  place(0, 0, 0, 0, kOnWithCollisions, 1000);
  record(0).position[0] = INT32_MIN;
  place(1, 0, 0, 0, kOnWithCollisions, 1000);
  record(1).position[0] = INT32_MAX;
  engine::collision_pass(*world_);
  EXPECT_EQ(record(0).collision_result, 0);
}

TEST_F(CollisionTest, OnlyTheUpperTriangleWithChannelsOneToElevenDeclaresPairs) {
  struct {
    int row, column, byte;
    bool contact;
  } cases[] = {{0, 1, 1, true}, {0, 1, 11, true}, {0, 1, 12, false}, {0, 1, 255, false},
               {1, 0, 3, false},  // below the diagonal: settings bytes, never a pair
               {0, 1, 0, false}};
  for (const auto& c : cases) {
    std::memset(matrix(), 0, project::kCollisionBytes);
    declare(c.row, c.column, c.byte);
    place(0, 0, 0, 0, kOnWithCollisions, 1000);
    place(1, 10, 0, 0, kOnWithCollisions, 1000);
    world_->collisions.ready = false;
    engine::collision_pass(*world_);
    EXPECT_EQ(record(0).collision_result, c.contact ? 2 : 0) << c.row << "," << c.column << "=" << c.byte;
    EXPECT_EQ(world_->collisions.count, c.contact ? 1 : 0);
  }
}

TEST_F(CollisionTest, ChannelThreeContactMakesColour62TrueForThatTickOnly) {
  compile({lines({"var hit", "var other", "var zero", "var bits", "hit = collision_color(62)",
                  "other = collision_color(128)", "zero = collision_color(0)", "bits = collision(element, -1)"}),
           lines({"var n", "n = n + 1"})});
  declare(0, 1, 3);
  place(0, 0, 0, 0, kOnWithCollisions, 1000);
  place(1, 500, 0, 0, kOnWithCollisions, 1000);
  record(1).collision_code = 0x50;
  engine::tick(*world_);
  EXPECT_EQ(variable(0, 0), -1);
  EXPECT_EQ(variable(0, 1), 0);
  EXPECT_EQ(variable(0, 2), 0);  // the only pair touched
  EXPECT_EQ(variable(0, 3), 0x50);
  record(1).position[0] = 5000 * 512;
  engine::tick(*world_);
  EXPECT_EQ(variable(0, 0), 0);
  EXPECT_EQ(variable(0, 2), -1);
  EXPECT_EQ(variable(0, 3), 0);
}

TEST_F(CollisionTest, MatrixRoutinesIgnoreArgumentOrderAndRefuseUnsuitableChanges) {
  world_->highest = 6;
  auto* aspects = base::area_as<project::AspectRecord>(base::Area::aspect_table);
  const char* tags[] = {".03d", ".a3d", ".b3d", ".v3d", ".x3d", ".h3d", ".e3d"};
  for (int i = 0; i < 7; ++i) {
    project::write_tag(aspects[i], tags[i]);
    record(i).current_aspect = static_cast<std::int32_t>(base::address32(&aspects[i]));
  }
  struct {
    int a, b;
    std::int32_t channel;
    std::int32_t expected;
  } cases[] = {
      {4, 2, 3, 3},  {2, 4, 5, 5},   {0, 1, 11, 11}, {3, 0, 12, 0},  {3, 0, -1, 0},
      {5, 0, 2, 0},  // a sprite takes no pair
      {6, 1, 2, 0},  // nor a counter
      {1, 3, 0, 0},
  };
  for (const auto& c : cases) {
    std::memset(matrix(), 0, project::kCollisionBytes);
    call("collision_map_set", ref(c.a), ref(c.b), c.channel);
    EXPECT_EQ(call("collision_map", ref(c.a), ref(c.b)), c.expected) << c.a << " " << c.b;
    EXPECT_EQ(call("collision_map", ref(c.b), ref(c.a)), c.expected) << c.a << " " << c.b;
    int lo = std::min(c.a, c.b), hi = std::max(c.a, c.b);
    EXPECT_EQ(matrix()[hi * 256 + lo], 0);  // the lower triangle is never written
  }
  // One element with itself, and references that are no element.
  call("collision_map_set", ref(1), ref(1), 4);
  EXPECT_EQ(matrix()[1 * 256 + 1], 0);
  EXPECT_EQ(call("collision_map", ref(0) + 4, ref(1)), 0);
  call("collision_map_set", static_cast<std::int32_t>(0x80000000u), ref(1), 4);
  // A corrupt byte reads as no channel.
  declare(2, 3, 200);
  EXPECT_EQ(call("collision_map", ref(3), ref(2)), 0);
}

TEST_F(CollisionTest, ChangedMatrixRebuildsThePairListBeforeTheNextPass) {
  auto* aspects = base::area_as<project::AspectRecord>(base::Area::aspect_table);
  project::write_tag(aspects[0], ".a3d");
  place(0, 0, 0, 0, kOnWithCollisions, 1000);
  place(1, 100, 0, 0, kOnWithCollisions, 1000);
  for (int i : {0, 1}) record(i).current_aspect = static_cast<std::int32_t>(base::address32(&aspects[0]));
  engine::collision_pass(*world_);
  EXPECT_EQ(record(0).collision_result, 0);
  call("collision_map_set", ref(1), ref(0), 2);
  EXPECT_EQ(world_->collisions.count, 0);  // the list waits for the next pass
  engine::collision_pass(*world_);
  EXPECT_EQ(record(0).collision_result, 2);
  EXPECT_EQ(call("collision_color", 128), -1);
  call("collision_map_set", ref(0), ref(1), 0);
  engine::collision_pass(*world_);
  EXPECT_EQ(record(0).collision_result, 0);  // no stale contact once the pair is gone
  EXPECT_EQ(call("collision_color", 128), 0);
}

TEST_F(CollisionTest, ListAndRangeJoinTheResultBitsOfARunOfElements) {
  world_->highest = 3;
  for (int i = 0; i < 4; ++i) record(i).collision_result = 1 << i;
  struct {
    const char* keyword;
    int first;
    std::int32_t second;  // count for the list, an element for the range
    std::int32_t mask, expected;
  } cases[] = {
      {"collision_list", 0, 2, -1, 3},   {"collision_list", 1, 10, -1, 14},  // stops at the last element
      {"collision_list", 2, 0, -1, 0},   {"collision_list", 0, 4, 4, 4},
      {"collision_list", 0, -5, -1, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(call(c.keyword, ref(c.first), c.second, c.mask), c.expected) << c.first;
  EXPECT_EQ(call("collision_range", ref(1), ref(3), -1), 6);  // elements 1 and 2, as `on_range` counts
  EXPECT_EQ(call("collision_range", ref(0), ref(0), -1), 0);
  EXPECT_EQ(call("collision_range", ref(0), -1, -1), 0);
  EXPECT_EQ(call("collision", ref(2), 6), 4);
  EXPECT_EQ(call("collision", -1, 6), 0);
}

TEST_F(CollisionTest, SwitchesSetAndClearTheirFlags) {
  compile({lines({"collisions_off(element)", "box_collisions_on(element)"})});
  record(0).flags |= project::kFlagCollisions;
  engine::brain_pass(*world_);
  EXPECT_EQ(record(0).flags & (project::kFlagCollisions | project::kFlagBoxCollisions), project::kFlagBoxCollisions);
  call("collisions_on", ref(0));
  call("box_collisions_off", ref(0));
  EXPECT_EQ(record(0).flags & (project::kFlagCollisions | project::kFlagBoxCollisions), project::kFlagCollisions);
}

}  // namespace
