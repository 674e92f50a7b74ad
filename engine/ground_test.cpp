// Ground heights: ground maps loaded by boundary elements (flat, sloped,
// stepped, damaged), maps built from models, terrain grids of ground shapes,
// and the ground keywords run from brains.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/ground_local.h"
#include "engine/render/shapes_local.h"
#include "engine/test_support.h"
#include "media/test_util.h"

namespace {

using media_test::flat;
using media_test::tri;

using namespace engine_test;
using engine::GroundTriangle;
namespace fs = std::filesystem;

constexpr std::int32_t kMetre = 512000;  // position units
constexpr std::int32_t kL = 1000;        // L per metre


// The square -h..h rising along z: y = z / 2.
std::vector<GroundTriangle> slope_z(std::int32_t h) {
  return {tri({-h, -h / 2, -h, -h, h / 2, h, h, h / 2, h}), tri({-h, -h / 2, -h, h, h / 2, h, h, -h / 2, -h})};
}
// Two steps: height 0 for x < 0, 3 m for x >= 0, joined by an upright wall.
std::vector<GroundTriangle> steps(std::int32_t h) {
  std::int32_t top = 3 * kL;
  return {tri({-h, 0, -h, -h, 0, h, 0, 0, h}),       tri({-h, 0, -h, 0, 0, h, 0, 0, -h}),
          tri({0, 0, -h, 0, top, h, 0, 0, h}),       tri({0, 0, -h, 0, top, -h, 0, top, h}),  // the wall: no area
          tri({0, top, -h, 0, top, h, h, top, h}),   tri({0, top, -h, h, top, h, h, top, -h})};
}

std::string bytes_of(const std::vector<std::byte>& b) { return std::string(reinterpret_cast<const char*>(b.data()), b.size()); }

class GroundTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    char name[] = "/tmp/zepta_ground_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = std::string(name) + "/";
    tables_ = project::budget_tables();
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
    EngineTest::TearDown();
  }

  std::string write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + name, std::ios::binary) << bytes;
    return dir_ + name;
  }

  // Element i's aspect loaded by `loader` from path, as "Loading data" does, and its record pointed at it.
  void load(int i, const std::string& path, bool (*loader)(project::LoaderCall&) = engine::load_boundary) {
    project::LoaderCall call{tables_, *load_, *lines_, i, base::Text(path), false};
    loader(call);
    ASSERT_GT(load_->count[i], 0);
    record(i).current_aspect = record(i).base_aspect =
        static_cast<std::int32_t>(base::address32(&tables_.aspects[load_->first[i] + load_->count[i] - 1]));
    world_->highest = std::max(world_->highest, i);
  }
  void load_map(int i, const std::vector<GroundTriangle>& triangles) {
    load(i, write("map" + std::to_string(i) + ".m3d", bytes_of(media::build_ground_map(triangles, 1))));
  }
  const project::AspectRecord& aspect(int i) { return tables_.aspects[load_->first[i]]; }

  // Ground height (sub-units) under (x, y, z) metres with radius r metres.
  std::int32_t height(double x, double z, double y = 0, double r = 0) {
    return engine::ground_height(*world_, static_cast<std::int32_t>(x * kMetre), static_cast<std::int32_t>(y * kMetre),
                                 static_cast<std::int32_t>(z * kMetre), static_cast<std::int32_t>(r * kL));
  }

  std::string dir_;
  project::Tables tables_;
  std::unique_ptr<project::AspectLoad> load_ = std::make_unique<project::AspectLoad>();
  std::unique_ptr<project::ElementLines> lines_ = std::make_unique<project::ElementLines>();
};

struct HeightCase {
  double x, z, y, r;  // metres
  double height;      // metres
  bool found;
};

void expect_heights(GroundTest& t, std::function<std::int32_t(double, double, double, double)> height,
                    engine::World& world, std::initializer_list<HeightCase> cases) {
  (void)t;
  for (const HeightCase& c : cases) {
    EXPECT_EQ(height(c.x, c.z, c.y, c.r), static_cast<std::int32_t>(c.height * kMetre))
        << "at " << c.x << ", " << c.z << " y " << c.y;
    EXPECT_EQ(world.ground.found, c.found) << "at " << c.x << ", " << c.z;
  }
}

TEST_F(GroundTest, HeightsOfFlatSlopedAndSteppedMaps) {
  auto h = [&](double x, double z, double y, double r) { return height(x, z, y, r); };
  load_map(0, flat(50 * kL, 2 * kL));
  expect_heights(*this, h, *world_,
                 {{1, 0, 0, 0, 2, true},
                  {10, -20, 0, 0, 2, true},
                  {-50, -40, 0, 0, 2, true},     // the first cell starts at -E/2
                  {50, 0, 0, 0, 0, false},       // x = E/2 is outside (column 128)
                  {0, 50, 0, 0, 0, false},
                  {70, 0, 0, 0, 0, false},
                  {-70, 0, 0, 0, 0, false},
                  {1, 0, -10, 0, 2, true},       // one hit counts even far above the element
                  {5, 5, 3, 0, 2, true},         // on the diagonal both triangles hit: kept when below y + r
                  {5, 5, 0, 0, 0, false}});      // both above y + r: none kept

  world_->ground = {};
  load_map(1, slope_z(50 * kL));
  world_->ground.chosen = true, world_->ground.map = &aspect(1);
  expect_heights(*this, h, *world_, {{0, 10, 0, 0, 5, true}, {7, -20, 0, 0, -10, true}, {3, 0.5, 0, 0, 0.25, true}});

  world_->ground = {};
  load_map(2, steps(50 * kL));
  world_->ground.chosen = true, world_->ground.map = &aspect(2);
  expect_heights(*this, h, *world_,
                 {{-1, 0, 0, 0, 0, true},
                  {1, 0, 0, 0, 3, true},
                  {0, 10, 3.1, 0.5, 3, true},     // on the edge: both steps hit; the nearer below wins
                  {0, 10, 0.1, 0.5, 0, true},     // the upper step is beyond y + r
                  {0, 10, 0.1, 3, 3, true},       // a hit above within the radius is nearer
                  {0.2, 10, 0.1, 0.5, 0, true},   // within 1% past its far edge the lower step still hits
                  {0, 10, -5, 0.5, 0, false}});   // both above y + r: no ground
}

TEST_F(GroundTest, SlopesAndColours) {
  load_map(1, slope_z(50 * kL));
  record(0).position[2] = 5 * kMetre;  // off the diagonal that both triangles share
  compile({lines({"var pitch", "var roll", "var slope", "var colour", "var outside", "slope = ground_slope(element)",
                  "colour = ground_color(element)", "over_ground_slope(element, 0, 0)", "pitch = rotation_x(element)",
                  "roll = rotation_z(element)", "position_x_set(element, 60mt)", "outside = ground_color(element)"})});
  world_->highest = 1;
  // Heading +z up the slope (y = z / 2): nose up, level sideways.
  engine::brain_pass(*world_);
  std::int32_t up = 13601;  // atan(1/2) in 1/512 degree
  EXPECT_NEAR(variable(0, 2), -up, 64);
  EXPECT_EQ(variable(0, 3), 0);
  EXPECT_NEAR(variable(0, 0), engine::kFullTurn - up, 64);
  EXPECT_EQ(variable(0, 1), 0);
  EXPECT_EQ(variable(0, 4), -1);
  // Heading -x: level ahead, the ground rises to the right (+z).
  record(0).position[0] = 0, record(0).rotation[0] = 0, record(0).rotation[1] = engine::kQuarterTurn;
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 2), 0);
  EXPECT_EQ(variable(0, 0), 0);
  EXPECT_NEAR(variable(0, 1), up, 64);
}

TEST_F(GroundTest, OverGroundFollowsTheMapChosen) {
  load_map(1, flat(50 * kL, 2 * kL));
  load_map(2, slope_z(50 * kL));
  compile({lines({"var first", "var second", "var none", "var found", "var level", "first = ground_level(element)",
                  "ground_set(element#2)", "over_ground(element, 1mt)", "second = position_y(element)",
                  "ground_set(element#4)", "level = above_ground_level(element)", "ground_set(0)",
                  "found = over_ground(element, 1mt)", "none = position_y(element)"})});
  world_->highest = 2;
  record(0).position[2] = 10 * kMetre;
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 2 * kMetre);       // the first boundary element's map at start
  EXPECT_EQ(variable(0, 1), 6 * kMetre);       // 5 m of slope + 1 m
  EXPECT_EQ(variable(0, 4), 1 * kMetre);       // element#4 is no boundary: the slope stays
  EXPECT_EQ(variable(0, 3), 0);                // no map and no ground shape: flat at 0
  EXPECT_EQ(variable(0, 2), 1 * kMetre);
}

TEST_F(GroundTest, StandingAndBouncingOnTheGround) {
  load_map(1, flat(50 * kL, 0));
  compile({lines({"var standing", "var touched", "standing = over_ground_g(element, 0, 100)",
                  "touched = volume_rebound(element, 0, 256, 384)"})});
  ElementRecord& r = record(0);
  r.position[0] = kMetre, r.position[1] = kMetre, r.velocity[1] = -1000;
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 0);        // above the ground: falling faster
  EXPECT_EQ(r.velocity[1], -1100);
  EXPECT_EQ(variable(0, 1), 0);
  r.position[1] = -5000, r.velocity[0] = 1024;
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), -1);       // below: put on the ground, the fall stopped
  EXPECT_EQ(r.position[1], 0);
  EXPECT_EQ(r.velocity[1], 0);
  r.position[1] = -5000, r.velocity[1] = -2000;
  compile({lines({"var touched", "touched = volume_rebound(element, 0, 256, 384)"}), lines({})});
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), -1);
  EXPECT_EQ(r.position[1], 0);
  EXPECT_EQ(r.velocity[1], 1000);      // bounced back with half the speed
  EXPECT_EQ(r.velocity[0], 768);       // friction 384 / 512
}

// Cuts and changes of a sound map, each loaded as a boundary element's map:
// flat ground at height 0 and one line on stderr.
TEST_F(GroundTest, InsideTheVolumeIsBelowTheGround) {
  load_map(1, flat(50 * kL, 2 * kL));
  compile({lines({"var inside", "inside = inside_volume(element)"})});
  world_->highest = 1;
  ElementRecord& r = record(0);
  const struct {
    std::int32_t y, inside;
  } cases[] = {{2 * kMetre - 1, -1}, {2 * kMetre, 0}, {5 * kMetre, 0}, {-kMetre, -1}};
  for (const auto& c : cases) {
    r.position[0] = kMetre, r.position[1] = c.y;
    engine::brain_pass(*world_);
    EXPECT_EQ(variable(0, 0), c.inside) << c.y;
    EXPECT_EQ(r.position[1], c.y);  // only asked, never moved
  }
}

TEST_F(GroundTest, DamagedMapsGiveFlatGround) {
  const std::string good = bytes_of(media::build_ground_map(flat(50 * kL, 2 * kL), 1));
  auto put = [](std::string s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  std::size_t table = 64 + 2 * 36, list = 64 + 2 * 36 + 65536;  // file offsets
  std::uint32_t first_entry = 2 * 36 + 65536;                    // offsets count from block 1
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"short", good.substr(0, 64 + 65000)},
      {"tag", put(good, 0, 0x2E6D3365)},
      {"field 8 before field 4", put(good, 8, 60)},
      {"part of a triangle", put(good, 8, 64 + 40)},
      {"triangles past the end", put(good, 8, 0x7FFFFFF0)},
      {"zero extent", put(good, 12, 0)},
      {"negative extent", put(good, 12, 0x80000000)},
      {"list between words", put(good, table, first_entry + 2)},
      {"list past the end", put(good, table, static_cast<std::uint32_t>(good.size()))},
      {"list too long", put(good, list, 1000000)},
      {"triangle between records", put(good, list + 4, 4)},
      {"triangle past block 1", put(good, list + 4, 72)},
  };
  ASSERT_EQ(media::check_ground_map(std::as_bytes(std::span(good))), nullptr);
  int i = 0;
  for (const Case& c : cases) {
    world_->ground = {};
    testing::internal::CaptureStderr();
    load(i, write("bad" + std::to_string(i) + ".m3d", c.bytes));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.what << ": " << err;
    EXPECT_NE(err.find("ground"), std::string::npos) << c.what;
    world_->ground.chosen = true, world_->ground.map = &aspect(i);
    EXPECT_EQ(height(0, 0), 0) << c.what;
    EXPECT_FALSE(world_->ground.found) << c.what;
    ++i;
  }
}

TEST_F(GroundTest, TheDefaultMapIsFlatGround) {
  std::string path = std::string(std::getenv("ZEPTA_TEST_DATA")) + "/../grndmaps/default_.m3d";
  testing::internal::CaptureStderr();
  load(0, path);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(height(123, -456, 5), 0);
  EXPECT_TRUE(world_->ground.found);
  EXPECT_EQ(aspect(0).word[engine::kMapExtent], 2000000);
}

// A model as text ".x": a square of side 2h metres rising along z (y = z / 2).
std::string slope_model(double h) {
  auto v = [](double x, double y, double z) {
    return " " + std::to_string(x) + ";" + std::to_string(y) + ";" + std::to_string(z) + ";";
  };
  return "xof 0303txt 0032\r\nMesh slope {\r\n 4;\r\n" + v(-h, -h / 2, -h) + ",\r\n" + v(-h, h / 2, h) + ",\r\n" +
         v(h, h / 2, h) + ",\r\n" + v(h, -h / 2, -h) + ";\r\n 2;\r\n 3;0,1,2;,\r\n 3;0,2,3;;\r\n}\r\n";
}

TEST_F(GroundTest, BoundaryModelsBuildTheirMapOnce) {
  static std::vector<std::string> shown;
  shown.clear();
  world_->information = {[](void*, std::string_view text) { shown.emplace_back(text); }, nullptr};
  std::string model = write("hill.x", slope_model(20));
  load(0, model);
  ASSERT_TRUE(fs::exists(dir_ + "hill.m3d"));
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], "Initializing boundary element|This is a one-time operation, please wait");
  EXPECT_EQ(shown[1], "Loading data, please wait...");
  EXPECT_EQ(height(0, 10), 5 * kMetre);
  EXPECT_EQ(height(3, -8), -4 * kMetre);
  EXPECT_EQ(aspect(0).word[engine::kMapExtent], 40 * kL);

  // Loaded again (the next run): up to date, not built.
  auto stamp = fs::last_write_time(dir_ + "hill.m3d");
  load_ = std::make_unique<project::AspectLoad>();
  world_->ground = {};
  load(0, model);
  EXPECT_EQ(shown.size(), 2u);
  EXPECT_EQ(fs::last_write_time(dir_ + "hill.m3d"), stamp);
  EXPECT_EQ(height(0, 10), 5 * kMetre);

  // A changed model is built again; an empty one builds nothing.
  write("hill.x", slope_model(10));
  load_ = std::make_unique<project::AspectLoad>();
  world_->ground = {};
  load(0, model);
  EXPECT_EQ(shown.size(), 4u);
  EXPECT_EQ(aspect(0).word[engine::kMapExtent], 20 * kL);
  world_->ground = {};
  load(1, write("empty.x", ""));
  world_->ground.chosen = true, world_->ground.map = &aspect(1);
  EXPECT_EQ(height(0, 5), 0);
  EXPECT_FALSE(fs::exists(dir_ + "empty.m3d"));
}

// A ground shape: a pyramid 20 m wide and 4 m high, its faces coloured 7
// (south, east) and 9 (north, west), made ground by header field 6 (4 cells a side).
TEST_F(GroundTest, TerrainGridOfAGroundShape) {
  std::string shape = "16|-|5|4|3|4\r\n-10000|0|-10000\r\n10000|0|-10000\r\n10000|0|10000\r\n-10000|0|10000\r\n0|4000|0\r\n";
  shape += std::to_string(7 << 16 | 2) + "|0|0|0|4|1\r\n" + std::to_string(9 << 16 | 2) + "|0|0|2|4|3\r\n";
  shape += std::to_string(7 << 16 | 2) + "|0|0|1|4|2\r\n" + std::to_string(9 << 16 | 2) + "|0|0|3|4|0\r\n";
  load(0, write("hill.a3d", shape), engine::load_shape);
  record(0).position[1] = kMetre;  // heights are relative to the ground element
  auto h = [&](double x, double z, double y, double r) { return height(x, z, y, r); };
  expect_heights(*this, h, *world_,
                 {{0, 0, 0, 0, 5, true},          // the apex
                  {5, 5, 0, 0, 3, true},          // a lattice point halfway down
                  {2.5, 0, 0, 0, 4, true},        // inside a cell, on a face's plane
                  {-10, 0, 0, 0, 0, false},       // |x| = half the grid: outside
                  {9.9, -9.9, 0, 0, 1, true},     // a corner cell
                  {0, 12, 0, 0, 0, false}});
  compile({lines({"var north", "var south", "position_z_set(element, 5mt)", "north = ground_color(element)",
                  "position_z_set(element, -5mt)", "south = ground_color(element)"})});
  world_->highest = 0;
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 9);
  EXPECT_EQ(variable(0, 1), 7);
}

}  // namespace
