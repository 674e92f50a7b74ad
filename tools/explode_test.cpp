// The explode generator without its screens: the ".exp" script and the
// names it saves under, the fragments' launch and flight, the rewritten
// visual, and damaged models and scripts that write nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "base/memory.h"
#include "media/test_util.h"
#include "platform/platform.h"
#include "tools/tools.h"

namespace tools {
namespace {

namespace fs = std::filesystem;
using namespace media_test;

// Each fragment takes a setting's lower bound, so a run is known in advance.
const RandomBetween kLow = [](std::int32_t lo, std::int32_t) { return lo; };

class Explode : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* d = std::getenv("ZEPTA_TEST_DATA");
    if (!d || !fs::exists(std::string(d) + "/sinusbig.bin")) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    ASSERT_TRUE(base::reserve_budget());
    ASSERT_TRUE(media::load_lookup_tables(d));
    work = dir.path + "/";
    fs::create_directories(work + "3dsfiles");
    fs::create_directories(work + "visuals");
    fs::create_directories(work + "data");
  }
  void TearDown() override { base::release_budget(); }

  // The files of the working folder with their bytes.
  std::map<std::string, std::string> files() {
    std::map<std::string, std::string> out;
    for (const auto& f : fs::recursive_directory_iterator(work))
      if (f.is_regular_file()) out[f.path().string()] = read_file(f.path().string());
    return out;
  }
  static std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  bool explode(std::string* message) {
    return explode_visual(work + "visuals/cube.v3d", work, work + "data/current.exp", kLow, message);
  }

  ScratchDir dir;
  std::string work;
};

TEST(ExplodeScript, SettingsAreReadAsRangesWithDefaults) {
  struct Case {
    const char* text;
    ExplodeRange velocity, air_density, gravity, x_angle, frames;
  } cases[] = {
      {"", {500, 500}, {49520, 49520}, {0, 0}, {-90, 90}, {1, 30}},
      {"velocity=100/200\r\nGravity = -20 / -20\r\nframes=1/5\r\n", {100, 200}, {49520, 49520}, {-20, -20}, {-90, 90}, {1, 5}},
      {"X ANGLE=0/46080\nair density=49000/49900\nnoise\n; comment=1/2\nspeed=5/5\n", {500, 500}, {49000, 49900}, {0, 0},
       {0, 46080}, {1, 30}},
      {"frames=999/999", {500, 500}, {49520, 49520}, {0, 0}, {-90, 90}, {999, 999}},
  };
  for (const Case& c : cases) {
    ExplodeScript s;
    std::string why;
    ASSERT_TRUE(parse_explode_script(c.text, s, &why)) << c.text << ": " << why;
    for (auto [got, want] : {std::pair{s.velocity, c.velocity}, {s.air_density, c.air_density}, {s.gravity, c.gravity},
                             {s.x_angle, c.x_angle}, {s.frames, c.frames}}) {
      EXPECT_EQ(got.low, want.low) << c.text;
      EXPECT_EQ(got.high, want.high) << c.text;
    }
  }
}

TEST(ExplodeScript, DamagedSettingsAreRefused) {
  struct Case {
    const char* text;
    const char* why;
  } cases[] = {
      {"velocity=abc", "line 1: \"velocity\""},
      {"frames=1/5\r\nspin=300\r\n", "line 2: \"spin\""},
      {"gravity=1/99999999999", "line 1: \"gravity\""},
      {"z angle=1/2x", "\"z angle\""},
      {"frames=0/5", "\"frames\""},
      {"frames=5/1000", "\"frames\""},
      {"frames=9/3", "\"frames\""},
  };
  for (const Case& c : cases) {
    ExplodeScript s;
    std::string why;
    EXPECT_FALSE(parse_explode_script(c.text, s, &why)) << c.text;
    EXPECT_NE(why.find(c.why), std::string::npos) << c.text << ": " << why;
  }
}

TEST(ExplodeScript, TypedNamesKeepLettersAndDigits) {
  struct Case {
    const char* typed;
    const char* name;
  } cases[] = {{"myexp", "myexp"}, {"big bang!", "bigbang"}, {"fire.exp", "fire"},   {"abcdefghijk", "abcdefgh"},
               {"../x", ""},       {"", ""},                {"a/b\\c|d", "abcd"}, {"x1.y2", "x1"}};
  for (const Case& c : cases) EXPECT_EQ(explode_script_name(c.typed), c.name) << c.typed;
}

TEST_F(Explode, LaunchFollowsTheTilts) {
  struct Case {
    std::int32_t x_angle, z_angle;
    std::int32_t vx, vy, vz;
  } cases[] = {
      {0, 0, 0, 1000, 0},         {0, 46080, -1000, 0, 0},  {46080, 0, 0, 0, 1000},
      {138240, 0, 0, 0, -1000},   {0, 63, 0, 1000, 0},       // under one table step: no tilt
  };
  for (const Case& c : cases) {
    ExplodeScript s;
    s.velocity = {1000, 1000};
    s.x_angle = {c.x_angle, c.x_angle};
    s.z_angle = {c.z_angle, c.z_angle};
    std::vector<Fragment> f = draw_fragments(s, 1, kLow);
    EXPECT_NEAR(f[0].velocity[0], c.vx, 1) << c.x_angle << " " << c.z_angle;
    EXPECT_NEAR(f[0].velocity[1], c.vy, 1) << c.x_angle << " " << c.z_angle;
    EXPECT_NEAR(f[0].velocity[2], c.vz, 1) << c.x_angle << " " << c.z_angle;
  }
}

TEST_F(Explode, AirDensityOfFiftyThousandOrMoreLeavesDivisorOne) {
  for (std::int32_t density : {0, 49520, 49999, 50000, 50001, INT32_MAX, INT32_MIN}) {
    ExplodeScript s;
    s.air_density = {density, density};
    std::vector<Fragment> f = draw_fragments(s, 1, kLow);
    std::int64_t expected = std::max<std::int64_t>(1, std::min<std::int64_t>(INT32_MAX, 50000LL - density));
    EXPECT_EQ(f[0].divisor, expected) << density;
  }
}

TEST_F(Explode, DragGravityAndSpinMoveAFragment) {
  auto one = [] {
    std::vector<media::Triangle3ds> t(1);
    t[0] = {{{0, 0, 0}, {3, 0, 0}, {0, 3, 0}}};
    return t;
  };
  // Drag with divisor d stops a fragment at speed d in one frame.
  {
    Fragment f;
    f.velocity[1] = 480;
    f.divisor = 480;
    std::vector<Fragment> fs = {f};
    auto t = one();
    move_fragments(t, fs);
    EXPECT_EQ(fs[0].velocity[1], 0);
    EXPECT_FLOAT_EQ(t[0].corner[0][2], 0.48f);  // up is the file's z
  }
  // Gravity alone: straight down, faster each frame, not turning.
  {
    Fragment f;
    f.divisor = 50000;
    f.gravity = -20;
    std::vector<Fragment> fs = {f};
    auto t = one();
    float z[4];
    for (float& v : z) {
      v = t[0].corner[1][2];
      move_fragments(t, fs);
      EXPECT_FLOAT_EQ(t[0].corner[1][0], 3.0f);
      EXPECT_FLOAT_EQ(t[0].corner[1][1], 0.0f);
    }
    EXPECT_FLOAT_EQ(z[1], 0.0f);
    EXPECT_FLOAT_EQ(z[2], -0.020f);
    EXPECT_FLOAT_EQ(z[3], -0.060f);
  }
  // A quarter turn about y turns (3, 0) about the centre (1, 1) to (2, 3).
  {
    Fragment f;
    f.divisor = 1;
    f.spin[1] = 46080;
    std::vector<Fragment> fs = {f};
    auto t = one();
    move_fragments(t, fs);
    EXPECT_NEAR(t[0].corner[1][0], 2.0f, 0.002f);
    EXPECT_NEAR(t[0].corner[1][1], 3.0f, 0.002f);
  }
  // Speeds that would overflow stay in range.
  {
    Fragment f;
    f.velocity[0] = 2000000000;
    f.divisor = 1;
    std::vector<Fragment> fs = {f};
    auto t = one();
    move_fragments(t, fs);
    EXPECT_EQ(fs[0].velocity[0], INT32_MIN);
  }
}

TEST(ExplodeVisual, FrameLinesNameTheFrameFiles) {
  std::string line = "1|./tex.bmp|./3dsfiles/ship.3ds|3";
  std::string second = "1||./3dsfiles/ship.3ds" + std::string(26, '|') + "|./other.3ds|1";
  struct Case {
    std::string first;
    ExplodeRange frames;
    std::string expected;
  } cases[] = {
      {line, {1, 1}, line + "\r\n"},
      {line, {1, 3}, line + "\r\n2|./tex.bmp|./3dsfiles/ship002.3ds|3\r\n3|./tex.bmp|./3dsfiles/ship003.3ds|3\r\n"},
      {line, {5, 6}, line + "\r\n2|./tex.bmp|./3dsfiles/ship006.3ds|3\r\n"},
      {second, {1, 2}, second + "\r\n2||./3dsfiles/ship001.3ds" + std::string(26, '|') + "|./3dsfiles/ship002.3ds|1\r\n"},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(exploded_visual(c.first, c.frames, &why), c.expected) << c.first;
  }
  EXPECT_EQ(frame_file("/w/3dsfiles/ship.3ds", 7), "/w/3dsfiles/ship007.3ds");
}

TEST_F(Explode, FramesAndVisualAreWrittenAndReadBackByTheModelLoader) {
  write_file(work + "3dsfiles/cube.3ds", cube3ds());
  write_file(work + "visuals/cube.v3d", "1||.\\3dsfiles\\cube.3ds|3|0|FFFFFF\r\nold second line\r\n");
  write_file(work + "data/current.exp",
             "velocity=0/0\r\ngravity=-20/-20\r\nspin=0/0\r\nx angle=0/0\r\nz angle=0/0\r\nair density=0/0\r\nframes=1/3\r\n");
  std::string message;
  ASSERT_TRUE(explode(&message)) << message;
  EXPECT_EQ(message, "Exploding visual successfully generated!");
  EXPECT_EQ(read_file(work + "visuals/cube.v3d"),
            "1||.\\3dsfiles\\cube.3ds|3|0|FFFFFF\r\n2||./3dsfiles/cube002.3ds|3|0|FFFFFF\r\n"
            "3||./3dsfiles/cube003.3ds|3|0|FFFFFF\r\n");
  EXPECT_FALSE(fs::exists(work + "3dsfiles/cube004.3ds"));

  // Frame 1 is the cube shattered but whole; frame 3 has fallen 0.02 along z.
  std::vector<media::Triangle3ds> cube;
  std::string why;
  std::string source = cube3ds();
  ASSERT_EQ(media::read_3ds_triangles(std::as_bytes(std::span(source.data(), source.size())), cube, why), media::Read3ds::ok);
  std::vector<std::byte> whole = media::write_fragment_3ds(cube);
  EXPECT_EQ(read_file(work + "3dsfiles/cube001.3ds"), std::string(reinterpret_cast<const char*>(whole.data()), whole.size()));
  EXPECT_EQ(read_file(work + "3dsfiles/cube002.3ds").size(), 52u * 12 + 56);

  if (!platform::model_library_available()) GTEST_SKIP() << "no model library to read the frames back";
  for (const auto& [frame, drop] : {std::pair{1, 0.0f}, {3, 0.02f}}) {
    std::vector<scene::Vertex> vertices;
    std::string error;
    std::string path = work + "3dsfiles/cube00" + std::to_string(frame) + ".3ds";
    ASSERT_TRUE(platform::load_model(path, vertices, error)) << path << ": " << error;
    ASSERT_EQ(vertices.size(), 2u * 3 * 12) << path;  // each triangle two-sided
    // The loader's triangles hold the cube's corners, moved down by the drop: the
    // loader may turn the axes, so compare the sorted coordinate sums.
    std::multiset<long> got, want;
    for (const scene::Vertex& v : vertices)
      got.insert(std::lround(1000 * (std::abs(v.position.x) + std::abs(v.position.y) + std::abs(v.position.z))));
    for (const media::Triangle3ds& t : cube)
      for (int side = 0; side < 2; ++side)
        for (const auto& c : t.corner)
          want.insert(std::lround(1000 * (std::abs(c[0]) + std::abs(c[1]) + std::abs(c[2] - drop))));
    EXPECT_EQ(got, want) << path;
  }
}

TEST_F(Explode, AFrameThatCannotBeWrittenLeavesTheVisualAsItWas) {
  write_file(work + "3dsfiles/cube.3ds", cube3ds());
  write_file(work + "visuals/cube.v3d", "1||./3dsfiles/cube.3ds|3\r\n");
  write_file(work + "data/current.exp", "frames=1/3\r\n");
  fs::create_directories(work + "3dsfiles/cube002.3ds");  // a folder where the frame goes
  std::string message;
  EXPECT_FALSE(explode(&message));
  EXPECT_EQ(message, "1 frame file could not be written, the first " + work +
                         "3dsfiles/cube002.3ds.|The visual was not rewritten.");
  EXPECT_EQ(read_file(work + "visuals/cube.v3d"), "1||./3dsfiles/cube.3ds|3\r\n");
  EXPECT_TRUE(fs::exists(work + "3dsfiles/cube003.3ds"));
  for (const auto& f : fs::directory_iterator(work + "3dsfiles"))
    EXPECT_EQ(f.path().string().find(".~write"), std::string::npos) << f.path();
}

TEST_F(Explode, DamagedModelsAndScriptsWriteNothing) {
  const std::string good_script = "frames=1/4\r\n";
  const std::string cube = cube3ds();
  struct Case {
    const char* name;
    std::string model;
    std::string script;
    std::string message;  // a part of it
  } cases[] = {
      {"not MM", "MX" + cube.substr(2), good_script, "is not a 3DS file.|Nothing was written."},
      {"a text file", "solid cube\n", good_script, "is not a 3DS file"},
      {"zero chunk length", model3ds(chunk3ds(0x4160, "", 0) + vertex_chunk(cube_vertices()) + face_chunk(cube_faces())),
       good_script, "is damaged:|chunk 0x4160 of length 0"},
      {"face index out of range", model3ds(vertex_chunk(cube_vertices()) + face_chunk({{0, 1, 8}})), good_script,
       "is damaged:|face 0 names vertex 8 of 8."},
      {"truncated", cube.substr(0, cube.size() / 2), good_script, "is damaged:|file cut short"},
      {"no model", "", good_script, "could not be read"},
      {"damaged script", cube, "frames=1/4\r\nvelocity=fast\r\n", "The explode script is damaged:|line 2: \"velocity\""},
      {"frames past 999", cube, "frames=1/1000\r\n", "The explode script is damaged"},
  };
  for (const Case& c : cases) {
    fs::remove_all(work + "3dsfiles");
    fs::create_directories(work + "3dsfiles");
    if (!c.model.empty()) write_file(work + "3dsfiles/cube.3ds", c.model);
    write_file(work + "visuals/cube.v3d", "1||./3dsfiles/cube.3ds|3\r\n");
    write_file(work + "data/current.exp", c.script);
    auto before = files();
    std::string message;
    EXPECT_FALSE(explode(&message)) << c.name;
    EXPECT_NE(message.find(c.message), std::string::npos) << c.name << ": " << message;
    EXPECT_EQ(files(), before) << c.name;
  }
}

}  // namespace
}  // namespace tools
