// Scenes of element records drawn offscreen with Mesa and read back: what the
// render step shows for switches, fog, display modes and background styles,
// the two orientation paths, the scene's aspect loaders and the PNG writer.
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/render/render_local.h"
#include "engine/render/scene_fixture.h"
#include "base/memory.h"

namespace {

using project::ElementRecord;
using scene_test::kUnit;
using scene_test::Rgb;

class RenderTest : public scene_test::SceneFixture {
 protected:
  std::int32_t arena_text(std::string_view text) {
    std::byte* at = project::take_arena(world_->tables, *load_, text.size() + 1);
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = std::byte{0};
    return static_cast<std::int32_t>(at - world_->tables.arena.data()) + 1;
  }
  // A camera element looking along +z from the origin, over x1..x2, y1..y2 of a 640 x 480 screen.
  void camera(int i, int x1, int y1, int x2, int y2) {
    ElementRecord& e = element(i);
    int n = project::take_aspect(world_->tables, *load_, i, ".03d");
    world_->tables.aspects[n].word[0] = -240;
    set_aspect(e, n);
    e.display_area[0] = x1, e.display_area[1] = y1, e.display_area[2] = x2, e.display_area[3] = y2;
  }
  // A visual element: a cube of half size 1 ("bndbox.x") in colour at (x, y, z) scene units.
  ElementRecord& cube(int i, float x, float y, float z, std::uint32_t colour) {
    ElementRecord& e = element(i);
    int n = project::take_aspect(world_->tables, *load_, i, ".v3d");
    project::AspectRecord& a = world_->tables.aspects[n];
    a.word[engine::kVisualModel] = arena_text(data_ + "bndbox.x");
    a.word[engine::kVisualColour] = static_cast<std::int32_t>(colour);
    a.word[engine::kVisualQuality] = 1;  // unlit: the colour as it is
    set_aspect(e, n);
    e.position[0] = static_cast<std::int32_t>(x * kUnit);
    e.position[1] = static_cast<std::int32_t>(y * kUnit);
    e.position[2] = static_cast<std::int32_t>(z * kUnit);
    return e;
  }
  static bool near(Rgb p, Rgb want) {
    return std::abs(p.r - want.r) < 24 && std::abs(p.g - want.g) < 24 && std::abs(p.b - want.b) < 24;
  }
};

constexpr Rgb kBlack{0, 0, 0}, kRed{255, 0, 0}, kWhite{255, 255, 255}, kGreen{0, 255, 0};

TEST_F(RenderTest, ElementSwitchedOffOrHiddenDisappearsFromTheNextFrame) {
  static constexpr std::int32_t kCleared[] = {project::kFlagOn, project::kFlagShown};
  for (std::int32_t cleared : kCleared) {
    camera(0, 0, 0, 639, 479);
    ElementRecord& e = cube(1, 0, 0, 5, 0xFF0000);
    start();
    engine::render_step(*world_);
    EXPECT_TRUE(near(pixel(320, 240), kRed));
    e.flags &= ~cleared;
    engine::render_step(*world_);
    EXPECT_TRUE(near(pixel(320, 240), kBlack)) << "flag " << cleared;
    e.flags |= cleared;
    engine::render_step(*world_);
    EXPECT_TRUE(near(pixel(320, 240), kRed));
    engine::scene_end(*world_);
    *load_ = {};
  }
}

TEST_F(RenderTest, FogColoursTheFarSideOnlyWhenTheEffectIsOn) {
  for (bool fog : {false, true}) {
    camera(0, 0, 0, 639, 479);
    cube(1, -1.5f, 0, 4, 0xFF0000);  // front face 3 units away: before the fog starts
    cube(2, 5, 0, 25, 0xFF0000);     // 24 units away: past its end
    world_->render.fog_start = 5 * 512;
    world_->render.fog_end = 20 * 512;
    world_->render.fog_colour = 0xFFFFFFFF;
    engine::Scene& s = start();
    s.fog_effect = fog;
    engine::apply_fog(*world_);
    engine::render_step(*world_);
    EXPECT_TRUE(near(pixel(200, 240), kRed)) << fog;
    EXPECT_TRUE(near(pixel(370, 240), fog ? kWhite : kRed)) << fog;
    engine::scene_end(*world_);
    *load_ = {};
  }
}

TEST_F(RenderTest, CameraViewportCoversItsScaledRectangleInEachDisplayMode) {
  // Rectangle 160,120 .. 479,359 of the 640 x 480 design; right and bottom edges one past.
  static constexpr struct {
    int mode, width, height, x1, y1, x2, y2;
  } kModes[] = {
      {1, 640, 480, 160, 120, 480, 360}, {2, 640, 480, 160, 120, 480, 360},
      {4, 800, 600, 200, 150, 600, 450}, {8, 800, 600, 200, 150, 600, 450},
      {16, 1024, 768, 256, 192, 768, 576}, {32, 1024, 768, 256, 192, 768, 576},
  };
  for (const auto& m : kModes) {
    camera(0, 160, 120, 479, 359);
    ElementRecord& big = cube(1, 0, 0, 8, 0xFF0000);  // fills the whole view
    big.scale_x = big.scale_y = big.scale_z = 5000;
    start(m.mode);
    engine::render_step(*world_);
    int w = 0, h = 0;
    scene::target_size(*renderer_, w, h);
    EXPECT_EQ(w, m.width);
    EXPECT_EQ(h, m.height);
    SCOPED_TRACE(m.mode);
    EXPECT_TRUE(near(pixel(m.x1, m.y1), kRed));
    EXPECT_TRUE(near(pixel(m.x2 - 1, m.y2 - 1), kRed));
    EXPECT_TRUE(near(pixel(m.x1 - 1, m.y1), kBlack));
    EXPECT_TRUE(near(pixel(m.x2, m.y2 - 1), kBlack));
    EXPECT_TRUE(near(pixel(m.x1, m.y1 - 1), kBlack));
    EXPECT_TRUE(near(pixel(m.x2 - 1, m.y2), kBlack));
    engine::scene_end(*world_);
    *load_ = {};
  }
}

TEST_F(RenderTest, BackgroundStylesBehindTheCameras) {
  // Two cameras on the upper-left and lower-right quarters, nothing in the scene.
  for (int style : {0, 1, 2, 3}) {
    camera(0, 0, 0, 319, 239);
    camera(1, 320, 240, 639, 479);
    world_->render.fog_colour = 0xFF00FF00;
    engine::Scene& s = start();
    s.background_style = style;
    engine::render_step(*world_);
    SCOPED_TRACE(style);
    Rgb inside[] = {pixel(160, 120), pixel(480, 360)};
    for (Rgb p : inside) {
      if (style == 0) {
        EXPECT_TRUE(near(p, kBlack));
      } else if (style == 1) {
        EXPECT_FALSE(near(p, kBlack));  // the background scene's image
      } else {
        EXPECT_TRUE(near(p, kGreen));
      }
    }
    EXPECT_TRUE(near(pixel(480, 120), kBlack));  // no camera there
    EXPECT_TRUE(near(pixel(160, 360), kBlack));
    engine::scene_end(*world_);
    *load_ = {};
  }
}

TEST_F(RenderTest, ScaledVisualTakesTheSameOrientationAsTheVectorPath) {
  static constexpr struct {
    std::int32_t rx, ry, rz, lx, ly, lz;
    bool local;
  } kAngles[] = {
      {0, 0, 0, 0, 0, 0, false},          {46080, 0, 0, 0, 0, 0, false},
      {0, 46080, 0, 0, 0, 0, false},      {0, 0, 46080, 0, 0, 0, false},
      {10000, 20000, 30000, 0, 0, 0, false}, {-5120, 150000, 77777, 0, 0, 0, false},
      {9000, -30000, 4000, 20000, 5000, -7000, true},
  };
  for (const auto& c : kAngles) {
    ElementRecord e{};
    e.rotation[0] = c.rx, e.rotation[1] = c.ry, e.rotation[2] = c.rz;
    e.local_rotation[0] = c.lx, e.local_rotation[1] = c.ly, e.local_rotation[2] = c.lz;
    if (c.local) e.flags |= project::kFlagLocalRotation;
    scene::Vec3 direction, up;
    engine::orientation_vectors(e, direction, up);
    scene::Quat q = engine::rotation_quat(e);
    scene::Vec3 qd = scene::rotate(q, {0, 0, 1}), qu = scene::rotate(q, {0, 1, 0});
    SCOPED_TRACE(testing::Message() << c.rx << " " << c.ry << " " << c.rz);
    EXPECT_NEAR(qd.x, direction.x, 0.01);
    EXPECT_NEAR(qd.y, direction.y, 0.01);
    EXPECT_NEAR(qd.z, direction.z, 0.01);
    EXPECT_NEAR(qu.x, up.x, 0.01);
    EXPECT_NEAR(qu.y, up.y, 0.01);
    EXPECT_NEAR(qu.z, up.z, 0.01);
  }
  // Through the scene: the frame of a scaled visual points where the unit one does.
  camera(0, 0, 0, 639, 479);
  ElementRecord& unit = cube(1, 0, 0, 5, 0xFF0000);
  ElementRecord& scaled = cube(2, 0, 0, 5, 0xFF0000);
  for (ElementRecord* e : {&unit, &scaled}) e->rotation[0] = 10000, e->rotation[1] = 20000, e->rotation[2] = 30000;
  scaled.scale_x = 2000, scaled.scale_y = 500;
  engine::Scene& s = start();
  engine::sync_scene(*world_);
  scene::Vec3 d1, u1, d2, u2;
  scene::frame_orientation(*renderer_, engine::aspect_frame(*world_, 1), s.root[engine::kMainRoot], d1, u1);
  scene::frame_orientation(*renderer_, engine::aspect_frame(*world_, 2), s.root[engine::kMainRoot], d2, u2);
  EXPECT_NEAR(d1.x, d2.x, 0.01);
  EXPECT_NEAR(d1.y, d2.y, 0.01);
  EXPECT_NEAR(d1.z, d2.z, 0.01);
  EXPECT_NEAR(u1.x, u2.x, 0.01);
  EXPECT_NEAR(u1.z, u2.z, 0.01);
  scene::Vec3 size = scene::frame_scale(*renderer_, engine::aspect_frame(*world_, 2));
  EXPECT_NEAR(size.x, 2.0, 1e-4);
  EXPECT_NEAR(size.y, 0.5, 1e-4);
}

// The most negative angle has no negative int: the orientation is still a unit
// quaternion and the frame is drawn (the sanitizers stop at any undefined step).
TEST_F(RenderTest, MostNegativeAnglesTurnAFrameSafely) {
  camera(0, 0, 0, 639, 479);
  ElementRecord& e = cube(1, 0, 0, 5, 0xFF0000);
  for (int k = 0; k < 3; ++k) e.rotation[k] = e.local_rotation[k] = INT_MIN;
  e.flags |= project::kFlagLocalRotation;
  scene::Quat q = engine::rotation_quat(e);
  EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1.0f, 1e-3f);
  start();
  engine::render_step(*world_);
}

TEST_F(RenderTest, FlatShapeDecalSizeFollowsTheElementsScale) {
  camera(0, 0, 0, 639, 479);
  ElementRecord& e = element(1);
  int n = project::take_aspect(world_->tables, *load_, 1, ".b3d");
  std::byte* pixels = project::take_arena(world_->tables, *load_, 16);
  std::memset(pixels, media::colour_index(255, 0, 0), 16);  // 4 x 4 red
  project::AspectRecord& a = world_->tables.aspects[n];
  a.word[0] = static_cast<std::int32_t>(base::address32(pixels));
  a.word[2] = 4, a.word[3] = 4;
  set_aspect(e, n);
  e.position[2] = 5 * kUnit;
  start();
  // 1 x 1 unit at 5 units: 48 pixels wide with this camera; 4 x 4 units: 192.
  static constexpr struct {
    std::int32_t scale;
    bool covers_80;
  } kScales[] = {{1000, false}, {4000, true}};
  for (const auto& c : kScales) {
    e.scale_x = e.scale_y = c.scale;
    engine::render_step(*world_);
    EXPECT_TRUE(near(pixel(320, 240), kRed)) << c.scale;
    EXPECT_EQ(near(pixel(320 + 80, 240), kRed), c.covers_80) << c.scale;
  }
}

TEST_F(RenderTest, HoodModelsRideWithTheFirstCamera) {
  // The generated hoods are dashboards below and in front of the camera; type 0 is none.
  for (int type : {0, 1, 4}) {
    camera(0, 0, 0, 639, 479);
    start(1, type);
    engine::render_step(*world_);
    EXPECT_EQ(near(pixel(320, 400), kBlack), type == 0) << type;
    engine::scene_end(*world_);
    *load_ = {};
  }
}

// The renderer's brain routines, called as compiled brains call them.
std::int32_t call(std::string_view name, std::int32_t a = 0, std::int32_t b = 0, std::int32_t c = 0) {
  return brain::routine_of(brain::find_keyword(name))(a, b, c, 0, 0, 0);
}

TEST_F(RenderTest, BrainRoutinesSetFogBackgroundAndCameraAndRender) {
  camera(0, 0, 0, 639, 479);
  cube(1, 0, 0, 25, 0xFF0000);  // far away: inside the fog
  engine::Scene& s = start();
  // Fog: sub-units in, thousandths kept, sub-units out; the smaller value starts the fog.
  call("fog_set", 20 * kUnit, 5 * kUnit);
  EXPECT_EQ(call("fog_start"), 20 * kUnit);
  EXPECT_EQ(call("fog_end"), 5 * kUnit);
  call("fog_color_set", 0, 300, -4);  // channels clamped to 0..255
  EXPECT_EQ(world_->render.fog_colour, 0xFF00FF00u);
  call("fogeffect_set", 1);
  call("render");
  EXPECT_TRUE(near(pixel(320, 240), kGreen));  // the red cube fully fogged
  call("fogeffect_set", 0);
  call("background3d_set", 2);
  call("render");
  EXPECT_TRUE(near(pixel(320, 240), kRed));
  EXPECT_TRUE(near(pixel(5, 5), kGreen));  // the camera's rectangle filled with the background colour
  call("3dbg_color_set", 255, 255, 999);
  call("render");
  EXPECT_TRUE(near(pixel(5, 5), kWhite));
  for (auto [percent, kept] : {std::pair{50, 50}, {0, 100}, {101, 100}}) {
    call("camera_fov", percent);
    EXPECT_EQ(s.field_of_view, kept) << percent;
  }
  EXPECT_EQ(call("clip_distance"), 30 * kUnit);
  EXPECT_EQ(call("display_mode"), 1);
  // A zero field-of-view divisor is taken as 1 instead of dividing by zero.
  call("camera_fov_set", static_cast<std::int32_t>(base::address32(&world_->tables.elements[0])), 0);
  call("render");
  EXPECT_FLOAT_EQ(scene::viewport_field(*renderer_, engine::camera_viewport(*world_, 0)), 240.0f);
  call("flats_priority_set", 1);
  EXPECT_TRUE(s.overlays_deferred);
  // The animation clock only exists for ".x3d" elements.
  std::int32_t visual = static_cast<std::int32_t>(base::address32(&world_->tables.elements[1]));
  call("h_animation_speed_set", visual, 50);
  EXPECT_EQ(call("h_animation_speed", visual), 0);
}

TEST(CameraProjection, FieldFollowsPercentageAndProjectionValue) {
  static constexpr struct {
    int fov;
    std::int32_t clip, p;
    float front, back, field;
  } kCases[] = {
      {100, 30, -240, 1.0f, 30, 1.0f},    // 90 degrees
      {50, 40, -480, 0.5f, 40, 0.25f},
      {0, 30, -240, 1.0f, 30, 1.0f},      // out of range: 100
      {101, 30, -120, 1.0f, 30, 2.0f},
      {100, 30, 0, 1.0f, 30, 1.0f},       // no projection value: -240
      {100, 30, 55, 1.0f, 30, 1.0f},
  };
  for (const auto& c : kCases) {
    float front, back, field;
    engine::camera_projection(c.fov, c.clip, c.p, front, back, field);
    EXPECT_FLOAT_EQ(front, c.front);
    EXPECT_FLOAT_EQ(back, c.back);
    EXPECT_FLOAT_EQ(field, c.field) << c.fov << " " << c.p;
  }
}

TEST(Png, WritesRgbRowsThatInflateBack) {
  const std::uint8_t rgba[] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255,
                               1, 2, 3, 255,   4, 5, 6, 255,   7, 8, 9, 0};
  std::string path = testing::TempDir() + "shot.png";
  ASSERT_TRUE(engine::write_png(path, rgba, 3, 2));
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> f((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GT(f.size(), 57u);
  EXPECT_EQ(0, std::memcmp(f.data(), "\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(0, std::memcmp(&f[12], "IHDR", 4));
  EXPECT_EQ(f[19], 3);  // width
  EXPECT_EQ(f[23], 2);  // height
  EXPECT_EQ(f[24], 8);
  EXPECT_EQ(f[25], 2);  // RGB
  std::uint32_t idat = f[33] << 24 | f[34] << 16 | f[35] << 8 | f[36];
  ASSERT_EQ(0, std::memcmp(&f[37], "IDAT", 4));
  std::uint8_t raw[2 * 10];
  uLongf size = sizeof raw;
  ASSERT_EQ(Z_OK, uncompress(raw, &size, &f[41], idat));
  const std::uint8_t want[] = {0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ASSERT_EQ(size, sizeof want);
  EXPECT_EQ(0, std::memcmp(raw, want, sizeof want));
  EXPECT_FALSE(engine::write_png(path, rgba, 0, 2));
  EXPECT_FALSE(engine::write_png("/nonexistent/folder/shot.png", rgba, 3, 2));
}

}  // namespace

namespace {

// The scene's loaders on real files in a temporary working folder.
class SceneLoaders : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::reserve_budget());
    tables_ = project::budget_tables();
    char name[] = "/tmp/zepta_loaders_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    work_ = std::string(name) + "/";
    for (const char* sub : {"cameras", "visuals", "bckgrnds"}) std::filesystem::create_directories(work_ + sub);
    loaders_ = project::default_aspect_loaders();
    engine::register_scene_loaders(loaders_);
  }
  void TearDown() override {
    std::filesystem::remove_all(work_);
    base::release_budget();
  }
  void write(const std::string& rel, const std::string& text) { std::ofstream(work_ + rel, std::ios::binary) << text; }
  void element(int i, int type, const std::string& aspect, const std::string& area = "") {
    lines_->line[i] = project::default_camera_line(work_);
    project::set_line_field(*lines_, i, project::kFieldType, std::to_string(type));
    project::set_line_field(*lines_, i, project::kFieldAspect, aspect.empty() ? "-" : work_ + aspect);
    if (!area.empty()) project::set_line_field(*lines_, i, project::kFieldDisplayArea, area);
    if (i > lines_->highest) lines_->highest = i;
  }
  void run() { project::load_aspects(loaders_, tables_, *load_, *lines_, work_, false); }
  const project::AspectRecord& aspect(int i, int k = 0) { return tables_.aspects[load_->first[i] + k]; }
  std::string text(std::int32_t reference) { return std::string(engine::arena_text(tables_, reference)); }

  std::string work_;
  project::Tables tables_;
  project::AspectLoaders loaders_;
  std::unique_ptr<project::AspectLoad> load_ = std::make_unique<project::AspectLoad>();
  std::unique_ptr<project::ElementLines> lines_ = std::make_unique<project::ElementLines>();
};

TEST_F(SceneLoaders, VisualLinesBecomeOneRecordPerFrame) {
  write("visuals/car.v3d",
        "1|.\\textures\\car.bmp|./models/car.x|2|1|ff8000|1|25|1|||||||||||||||||||||./models/wheel.x|1\r\n"
        "2|-|./models/car2.3ds\r\n"
        "\r\n"
        "3|ignored|after the empty line\r\n");
  element(0, project::kVisual, "visuals/car.v3d");
  run();
  ASSERT_EQ(load_->count[0], 2);
  const project::AspectRecord& a = aspect(0, 0);
  EXPECT_EQ(std::string(a.tag, 4), "d3v.");
  EXPECT_EQ(text(a.word[engine::kVisualTexture]), "./textures/car.bmp");
  EXPECT_EQ(text(a.word[engine::kVisualModel]), "./models/car.x");
  EXPECT_EQ(text(a.word[engine::kVisualSecondModel]), "./models/wheel.x");
  EXPECT_EQ(a.word[engine::kVisualQuality], 2);
  EXPECT_EQ(a.word[engine::kVisualMaterial], 1);
  EXPECT_EQ(a.word[engine::kVisualColour], 0xFF8000);
  EXPECT_EQ(a.word[engine::kVisualTransparent], 1);
  EXPECT_EQ(a.word[engine::kVisualTranslucency], 25);
  EXPECT_EQ(a.word[engine::kVisualFlip], 1);
  const project::AspectRecord& b = aspect(0, 1);
  EXPECT_EQ(b.word[engine::kVisualFrame], 2);
  EXPECT_EQ(b.word[engine::kVisualTexture], 0);  // "-": none
  EXPECT_EQ(text(b.word[engine::kVisualModel]), "./models/car2.3ds");
  EXPECT_EQ(b.word[engine::kVisualSecondModel], 0);
  EXPECT_EQ(b.word[engine::kVisualQuality], 3);  // defaults
  EXPECT_EQ(b.word[engine::kVisualColour], 0xFFFFFF);
}

TEST_F(SceneLoaders, MissingFilesFallBackToTheFoldersDefault) {
  write("visuals/default_.v3d", "1||./xvisuals/default_.x\r\n");
  write("cameras/default_.03d", "-480\r\n");
  element(0, project::kVisual, "visuals/missing.v3d");
  element(1, project::kCamera, "cameras/missing.03d");
  run();
  ASSERT_EQ(load_->count[0], 1);
  EXPECT_EQ(text(aspect(0).word[engine::kVisualModel]), "./xvisuals/default_.x");
  EXPECT_EQ(aspect(1).word[0], -480);
}

TEST_F(SceneLoaders, CameraBackgroundAndLightValues) {
  static constexpr struct {
    const char* file;
    std::int32_t p;
  } kCameras[] = {{"-300\r\n", -300}, {"abc\r\n", -240}, {"120\r\n", -240}, {"", -240}, {"-1|x\r\n", -1}};
  for (const auto& c : kCameras) {
    *load_ = {};
    lines_->highest = -1;
    write("cameras/c.03d", c.file);
    element(0, project::kCamera, "cameras/c.03d");
    run();
    EXPECT_EQ(aspect(0).word[0], c.p) << c.file;
    EXPECT_EQ(aspect(0).word[engine::kCameraFileProjection], c.p) << c.file;
  }
  *load_ = {};
  lines_->highest = -1;
  write("bckgrnds/sky.g3d", "300|./bckgrnds/sky.pcx\r\n");
  element(0, project::kBackground, "bckgrnds/sky.g3d");
  element(1, project::kLight, "", "1/0xff8040/512");
  element(2, project::kLight, "", "9/zz/7");
  run();
  EXPECT_EQ(std::string(aspect(0).tag, 4), "d3g.");
  EXPECT_EQ(aspect(0).word[engine::kGroundColourWord], 300 & 255);
  EXPECT_EQ(text(aspect(0).word[0]), "./bckgrnds/sky.pcx");
  EXPECT_EQ(std::string(aspect(1).tag, 4), "d3l.");
  EXPECT_EQ(aspect(1).word[0], 1);
  EXPECT_EQ(aspect(1).word[1], 0xFF8040);
  EXPECT_EQ(aspect(1).word[2], 512);
  EXPECT_EQ(aspect(2).word[0], 3);  // an unknown type is directional
  EXPECT_EQ(aspect(2).word[1], 0);
}

TEST_F(SceneLoaders, ArenaTextsAreCheckedBeforeUse) {
  EXPECT_EQ(text(0), "");
  EXPECT_EQ(text(-5), "");
  EXPECT_EQ(text(static_cast<std::int32_t>(tables_.arena.size()) + 1), "");
  std::memset(tables_.arena.data(), 'x', 4096);  // no terminator within a text's capacity
  EXPECT_EQ(text(1), "");
}

}  // namespace

namespace {

TEST_F(RenderTest, BottomIsTheLowestVertexAfterScaleAndTilt) {
  ElementRecord& e = cube(1, 0, 0, 5, 0xFF0000);  // half size 1: 1,000 L
  start();
  auto bottom = [&] { return brain::routine_of(brain::find_keyword("bottom"))(engine::reference_of(e), 0, 0, 0, 0, 0); };
  EXPECT_EQ(bottom(), -1000 * 512);
  e.scale_y = 2500;
  EXPECT_EQ(bottom(), -2500 * 512);
  e.scale_y = 1000;
  e.rotation[2] = 45 * 512;  // a corner points down: about -1,414 L
  EXPECT_NEAR(bottom(), -1414 * 512, 2 * 512);
  e.rotation[1] = 90 * 512;  // turning about Y does not count
  EXPECT_NEAR(bottom(), -1414 * 512, 2 * 512);
  EXPECT_EQ(brain::routine_of(brain::find_keyword("bottom"))(-5, 0, 0, 0, 0, 0), 0);
}

}  // namespace

namespace {

TEST_F(RenderTest, OverlayVisualsHangUnderTheOverlayScene) {
  camera(0, 0, 0, 639, 479);
  ElementRecord& e = cube(1, 0, 0, 5, 0x00FF00);
  world_->tables.aspects[engine::aspect_index(*world_, e.current_aspect)].word[engine::kVisualOverlay] = 1;
  cube(2, 3, 0, 5, 0xFF0000);
  engine::Scene& s = start();
  scene::Frame f = engine::aspect_frame(*world_, engine::aspect_index(*world_, e.current_aspect));
  EXPECT_EQ(scene::frame_root(*renderer_, f).id, s.root[engine::kOverlayRoot].id);
  engine::render_step(*world_);
  EXPECT_TRUE(near(pixel(320, 240), kGreen));
  e.flags &= ~project::kFlagShown;
  engine::render_step(*world_);
  EXPECT_TRUE(near(pixel(320, 240), kBlack));
}

// An image riding on a 3D point: sprite_3d_pos names the pixel where the point
// shows, and the cube drawn there is seen at that pixel.
TEST_F(RenderTest, Sprite3dPosNamesThePixelWhereAPointShows) {
  auto place = [](std::int32_t sprite, float x, float y, float z, std::int32_t camera) {
    return brain::routine_of(brain::find_keyword("sprite_3d_pos"))(
        sprite, static_cast<std::int32_t>(x * kUnit), static_cast<std::int32_t>(y * kUnit),
        static_cast<std::int32_t>(z * kUnit), camera, 0);
  };
  camera(0, 0, 0, 639, 479);
  cube(1, 2, 1, 10, 0xFF0000);
  ElementRecord& sprite = element(2);
  start();
  engine::render_step(*world_);
  std::int32_t cam = engine::reference_of(element(0)), image = engine::reference_of(sprite);
  EXPECT_EQ(place(image, 2, 1, 10, cam), -1);
  EXPECT_EQ(sprite.position[0], 320 + 48);  // x / z times the focal length of 240 pixels
  EXPECT_EQ(sprite.position[1], 240 - 24);
  EXPECT_TRUE(near(pixel(sprite.position[0], sprite.position[1]), kRed));
  // Behind the camera, or no camera: the sprite stays where it was.
  EXPECT_EQ(place(image, 2, 1, -10, cam), 0);
  EXPECT_EQ(place(image, 2, 1, 10, engine::reference_of(element(1))), 0);
  EXPECT_EQ(place(image, 2, 1, 10, 0), 0);
  EXPECT_EQ(sprite.position[0], 368);
  EXPECT_EQ(sprite.position[1], 216);
}

// clear drops this pass's prints; reset also puts the text colour and shadow
// layering back as a new scene has them; bmp_show changes the background image.
TEST_F(RenderTest, ClearResetAndBackgroundImage) {
  camera(0, 0, 0, 639, 479);
  engine::Scene& s = start();
  call("color_set", 10, 20, 30);
  ASSERT_GT(world_->text.used, 0);
  call("clear");
  EXPECT_EQ(world_->text.used, 0);
  EXPECT_EQ(world_->text.colour, 0x0A141Eu);
  call("color_set", 10, 20, 30);
  call("v_shadow_factor", 1, 5);
  ASSERT_TRUE(s.shadow_layering);
  call("reset");
  EXPECT_EQ(world_->text.used, 0);
  EXPECT_EQ(world_->text.colour, 0xFFFFFFu);
  EXPECT_FALSE(s.shadow_layering);
  EXPECT_FLOAT_EQ(s.shadow_offset, 0.001f);

  world_->data_folder = base::Text(data_);  // the folders a brain's file names may lie in
  // Texts in the arena, seen by routines as a brain's string literals.
  world_->literal_start = base::address32(world_->tables.arena.data());
  world_->literal_end = world_->literal_start + static_cast<std::uint32_t>(world_->tables.arena.size());
  auto literal = [&](std::string_view text) {
    return static_cast<std::int32_t>(world_->literal_start) + arena_text(text) - 1;
  };
  base::Text before = s.setup.background_image;
  EXPECT_EQ(call("bmp_show", literal("nothere.bmp")), 0);
  EXPECT_EQ(call("bmp_show", literal("/etc/hostname")), 0);  // outside the game's folders
  EXPECT_EQ(s.setup.background_image, before);
  EXPECT_EQ(call("bmp_show", literal(data_ + "error.pcx")), -1);
  EXPECT_NE(s.setup.background_image, before);
  engine::render_step(*world_);
}

// The player's store sees both display values at once, each time a brain sets either.
TEST_F(RenderTest, DisplaySettingsReachThePlayersStore) {
  camera(0, 0, 0, 639, 479);
  engine::Scene& s = start(4);
  struct Stored {
    int calls = 0;
    std::int32_t mode = 0, device = 0;
  } stored;
  s.setup.options.store_user = &stored;
  s.setup.options.store_display = [](void* user, std::int32_t mode, std::int32_t device) {
    auto& st = *static_cast<Stored*>(user);
    ++st.calls, st.mode = mode, st.device = device;
  };
  call("rendering_device_set", 6);  // no mode asked for yet: the run's own
  EXPECT_EQ(stored.calls, 1);
  EXPECT_EQ(stored.mode, 4);
  EXPECT_EQ(stored.device, 2);
  call("display_mode_set", 16);
  EXPECT_EQ(stored.calls, 2);
  EXPECT_EQ(stored.mode, 16);
  EXPECT_EQ(stored.device, 2);
  EXPECT_EQ(s.display_mode_request, 16);
}

}  // namespace
