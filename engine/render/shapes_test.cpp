// 3D shapes, lights and volume shadows: the ".a3d" loader on good and damaged
// files, the atlas texture coordinates and normals, and offscreen pictures of
// shapes, light routines and shadow layers read back by pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/render/render_local.h"
#include "engine/render/scene_fixture.h"
#include "base/log.h"
#include "base/memory.h"

namespace {

using project::ElementRecord;

// ---- Texture coordinates, atlas height, normals ---------------------------------------------

TEST(ShapeFaces, TileRectangleWithInsetsAndCornerOrder) {
  // Tile at row 16, column 32 of a 256 x 32 atlas with t = 16: u 0.125 .. 0.1875, v 0.5 .. 1.
  const float l = 0.125f + 1 / 128.0f, r = 0.1875f - 1 / 128.0f, t = 0.5f + 2 / 32.0f, b = 1.0f - 2 / 32.0f;
  static const struct {
    std::int32_t flags;
    int corners;
    float u[4], v[4];
  } kCases[] = {
      {0, 3, {l, r, l}, {t, t, b}},
      {engine::kFaceMirrored, 3, {r, l, r}, {b, b, t}},
      {engine::kFaceQuad, 4, {l, r, r, l}, {t, t, b, b}},
      {engine::kFaceQuad | engine::kFaceMirrored, 4, {l, r, r, l}, {t, t, b, b}},  // quads are never mirrored
  };
  for (const auto& c : kCases) {
    engine::ShapeFace f{};
    f.flags = c.flags;
    f.tile = 16 << 8 | 32;
    float u[4], v[4];
    ASSERT_TRUE(engine::face_uv(f, 16, 32, u, v));
    for (int i = 0; i < c.corners; ++i) {
      EXPECT_FLOAT_EQ(u[i], c.u[i]) << c.flags << " corner " << i;
      EXPECT_FLOAT_EQ(v[i], c.v[i]) << c.flags << " corner " << i;
    }
  }
  engine::ShapeFace coloured{};
  coloured.flags = engine::kFaceColoured | 200 << 16;
  float u[4], v[4];
  EXPECT_FALSE(engine::face_uv(coloured, 16, 32, u, v));
  EXPECT_EQ(engine::face_colour(coloured), 200);
  // A column inside a tile snaps to the tile's start.
  engine::ShapeFace inside{};
  inside.tile = 40;
  ASSERT_TRUE(engine::face_uv(inside, 16, 16, u, v));
  EXPECT_FLOAT_EQ(u[0], 32 / 256.0f + 1 / 128.0f);
}

TEST(ShapeFaces, AtlasHeightIsThePowerOfTwoCoveringTexturedTiles) {
  static const struct {
    int rows[3];
    bool coloured_last;
    int t, height;
  } kCases[] = {
      {{0, 0, 0}, false, 16, 16},  {{0, 16, 0}, false, 16, 32}, {{0, 17, 0}, false, 16, 64},
      {{0, 0, 500}, true, 16, 16}, {{0, 0, 0}, false, 1, 1},     {{2040, 0, 0}, false, 8, 2048},
  };
  for (const auto& c : kCases) {
    engine::ShapeFace f[3] = {};
    for (int i = 0; i < 3; ++i) f[i].tile = c.rows[i] << 8;
    if (c.coloured_last) f[2].flags = engine::kFaceColoured;
    EXPECT_EQ(engine::atlas_height(f, c.t), c.height) << c.rows[0] << " " << c.rows[1] << " " << c.rows[2];
  }
}

TEST(ShapeFaces, CreaseAngleDecidesWhichFacesShareNormals) {
  // Two faces of a cube meeting at 90 degrees and a third coplanar with the first.
  scene::Vertex tri[9];
  const scene::Vec3 p[9] = {{-1, 1, -1}, {1, 1, -1}, {1, -1, -1},    // front (-z)
                            {1, 1, -1},  {1, 1, 1},  {1, -1, 1},     // right (+x), shares (1, 1, -1)
                            {-1, 1, -1}, {1, -1, -1}, {-1, -1, -1}}; // front again
  for (int i = 0; i < 9; ++i) tri[i].position = p[i];
  engine::crease_normals(tri, 1.0f);  // below 90 degrees: the edge stays sharp
  EXPECT_NEAR(tri[1].normal.z, -1, 1e-5);
  EXPECT_NEAR(tri[3].normal.x, 1, 1e-5);
  EXPECT_NEAR(tri[0].normal.z, -1, 1e-5);  // coplanar neighbours agree
  engine::crease_normals(tri, engine::kShapeCrease);  // about 90 degrees: the cube's edge is smoothed
  EXPECT_NEAR(tri[1].normal.x, tri[3].normal.x, 1e-5);
  EXPECT_NEAR(tri[1].normal.z, tri[3].normal.z, 1e-5);
  EXPECT_GT(tri[1].normal.x, 0.3f);
  EXPECT_LT(tri[1].normal.z, -0.3f);
  EXPECT_NEAR(tri[2].normal.z, -1, 1e-5);  // (1, -1, -1) is shared by the two front faces only
}

// ---- The loader ----------------------------------------------------------------------------

class ShapeLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::reserve_budget());
    tables_ = project::budget_tables();
    char name[] = "/tmp/zepta_shapes_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    work_ = std::string(name) + "/";
    std::filesystem::create_directories(work_ + "3dshapes");
    loaders_ = project::default_aspect_loaders();
    engine::register_scene_loaders(loaders_);
  }
  void TearDown() override {
    std::filesystem::remove_all(work_);
    base::release_budget();
  }
  const project::AspectRecord& load(const std::string& text) {
    std::ofstream(work_ + "3dshapes/s.a3d", std::ios::binary) << text;
    *load_ = {};
    lines_->line[0] = project::default_camera_line(work_);
    project::set_line_field(*lines_, 0, project::kFieldType, std::to_string(project::kShape3d));
    project::set_line_field(*lines_, 0, project::kFieldAspect, work_ + "3dshapes/s.a3d");
    lines_->highest = 0;
    project::load_aspects(loaders_, tables_, *load_, *lines_, work_, false);
    return tables_.aspects[load_->first[0]];
  }

  std::string work_;
  project::Tables tables_;
  project::AspectLoaders loaders_;
  std::unique_ptr<project::AspectLoad> load_ = std::make_unique<project::AspectLoad>();
  std::unique_ptr<project::ElementLines> lines_ = std::make_unique<project::ElementLines>();
};

constexpr const char* kTriangleVertices = "0|0|0\r\n1000|0|0\r\n0|1000|0\r\n";

TEST_F(ShapeLoader, FacesVerticesAndAtlasGoToTheArena) {
  const project::AspectRecord& a =
      load(std::string("16|.\\3dshapes\\atlas.pcx|3|2|1\r\n") + kTriangleVertices +
           "0x9|16|32|0|1|2\r\n" + std::to_string(engine::kFaceColoured | 77 << 16) + "|0|0|2|1|0\r\n");
  EXPECT_EQ(std::string(a.tag, 4), "d3a.");
  EXPECT_EQ(a.word[engine::kShapeTileSize], 16);
  EXPECT_EQ(a.word[engine::kShapeQuality], 1);
  EXPECT_EQ(engine::arena_text(tables_, a.word[engine::kShapeAtlas]), "./3dshapes/atlas.pcx");
  std::span<const std::int32_t> v = engine::shape_vertices(tables_, a);
  ASSERT_EQ(v.size(), 9u);
  EXPECT_EQ(v[3], 1000);
  EXPECT_EQ(v[7], 1000);
  std::span<const engine::ShapeFace> f = engine::shape_faces(tables_, a);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].flags, 9);
  EXPECT_EQ(f[0].tile, 16 << 8 | 32);
  EXPECT_EQ(f[0].vertex[2], 2);
  EXPECT_EQ(engine::face_colour(f[1]), 77);
}

TEST_F(ShapeLoader, DamagedFilesLoadWhatIsSound) {
  static const struct {
    std::string text;
    int vertices, faces;
  } kCases[] = {
      {"", 0, 0},                                                                   // empty file
      {"16|a.pcx|abc|1\r\n0|0|0\r\n", 0, 0},                                        // unreadable count
      {"16|a.pcx|-3|-1\r\n", 0, 0},                                                 // negative counts
      {"16|a.pcx|99999|99999\r\n" + std::string(kTriangleVertices), 3, 0},          // counts beyond the lines
      {"16|a.pcx|3|3\r\n" + std::string(kTriangleVertices) + "0|0|0|0|1|3\r\n0|0|0|0|1|-1\r\n0|0|0|0|1|2\r\n", 3, 1},
      {"16|a.pcx|3|2\r\n" + std::string(kTriangleVertices) + "0|0|250|0|1|2\r\n0|2040|0|0|1|2\r\n", 3, 0},  // tiles out
      {"0|a.pcx|3|2\r\n" + std::string(kTriangleVertices) + "0|0|0|0|1|2\r\n2|0|0|0|1|2\r\n", 3, 1},  // t = 0: no texture
      {"16|a.pcx|3|1\r\n" + std::string(kTriangleVertices) + "4|0|0|0|1|2\r\n", 3, 0},  // a quad with three vertices
  };
  for (const auto& c : kCases) {
    const project::AspectRecord& a = load(c.text);
    EXPECT_EQ(std::string(a.tag, 4), "d3a.") << c.text;
    EXPECT_EQ(engine::shape_vertices(tables_, a).size(), static_cast<std::size_t>(c.vertices) * 3) << c.text;
    EXPECT_EQ(engine::shape_faces(tables_, a).size(), static_cast<std::size_t>(c.faces)) << c.text;
  }
  // Records whose words were spoilt name nothing outside the arena.
  project::AspectRecord bad = load(std::string("16|a.pcx|3|1\r\n") + kTriangleVertices + "0|0|0|0|1|2\r\n");
  bad.word[engine::kShapeFaces] = static_cast<std::int32_t>(tables_.arena.size());
  EXPECT_TRUE(engine::shape_faces(tables_, bad).empty());
  bad.word[engine::kShapeVertexCount] = 1 << 30;
  EXPECT_TRUE(engine::shape_vertices(tables_, bad).empty());
}

// ---- Pictures --------------------------------------------------------------------------------

using scene_test::kUnit;
using scene_test::Rgb;

std::int32_t call(std::string_view name, std::int32_t a = 0, std::int32_t b = 0, std::int32_t c = 0,
                  std::int32_t d = 0, std::int32_t e = 0) {
  return brain::routine_of(brain::find_keyword(name))(a, b, c, d, e, 0);
}

class ShapeScene : public scene_test::SceneFixture {
 protected:
  void SetUp() override {
    SceneFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    lines_ = std::make_unique<project::ElementLines>();
    loaders_ = project::default_aspect_loaders();
    engine::register_scene_loaders(loaders_);
  }
  void TearDown() override {
    SceneFixture::TearDown();
    for (const std::string& f : files_) std::filesystem::remove(f);
  }

  using SceneFixture::element;
  ElementRecord& element(int i, float x, float y = 0, float z = 0) {
    ElementRecord& e = element(i);
    e.position[0] = static_cast<std::int32_t>(x * kUnit);
    e.position[1] = static_cast<std::int32_t>(y * kUnit);
    e.position[2] = static_cast<std::int32_t>(z * kUnit);
    return e;
  }
  static std::int32_t ref(const ElementRecord& e) { return static_cast<std::int32_t>(base::address32(&e)); }
  // A camera element over the whole screen looking along +z from the origin (loaded with the lines).
  void camera(int i) {
    line(i, project::kCamera, "");
    ElementRecord& e = element(i);
    e.display_area[2] = 639, e.display_area[3] = 479;
  }
  // Element i gets the aspects that the element line loads (shape file or light settings).
  void line(int i, int type, const std::string& aspect, const std::string& area = "") {
    lines_->line[i] = project::default_camera_line(data_ + "../");
    project::set_line_field(*lines_, i, project::kFieldType, std::to_string(type));
    project::set_line_field(*lines_, i, project::kFieldAspect, aspect.empty() ? "-" : aspect);
    if (!area.empty()) project::set_line_field(*lines_, i, project::kFieldDisplayArea, area);
    project::set_line_field(*lines_, i, project::kFieldStartSwitches, "65");
  }
  // Loads lines 0..highest into the aspect table.
  void load_lines(int highest) {
    lines_->highest = highest;
    project::AspectLoad loaded;
    project::load_aspects(loaders_, world_->tables, loaded, *lines_, data_ + "../", false);
    for (int i = 0; i <= highest; ++i)
      if (loaded.count[i] > 0) set_aspect(world_->tables.elements[i], loaded.first[i]);
    *load_ = loaded;
  }
  std::string shape_file(const std::string& name, const std::string& text) {
    std::string path = data_ + "../3dshapes/" + name;
    std::ofstream(path, std::ios::binary) << text;
    files_.push_back(path);
    return path;
  }
  static bool near(Rgb p, Rgb want) {
    return std::abs(p.r - want.r) < 24 && std::abs(p.g - want.g) < 24 && std::abs(p.b - want.b) < 24;
  }
  static Rgb scheme(int r, int g, int b) {
    const auto& c = media::scheme_palette()[media::colour_index(r, g, b)];
    return {c[0], c[1], c[2]};
  }
  static int brightness(Rgb p) { return p.r + p.g + p.b; }

  std::unique_ptr<project::ElementLines> lines_;
  project::AspectLoaders loaders_;
  std::vector<std::string> files_;
};

// A wall of 2h x 2h scene units facing the camera (-z), unlit (quality 1) or lit
// (3): the left half textured with tile `column` of the default atlas, the right
// half in colour index `colour` (or both halves coloured when column < 0).
std::string wall(int h, int quality, int column, int colour) {
  std::string s = "16|./3dshapes/default_.pcx|6|2|" + std::to_string(quality) + "\r\n";
  for (int y : {h, -h})
    for (int x : {-h, 0, h}) s += std::to_string(x * 1000) + "|" + std::to_string(y * 1000) + "|0\r\n";
  // Vertices: 0 TL, 1 TM, 2 TR, 3 BL, 4 BM, 5 BR.
  std::string coloured = std::to_string(engine::kFaceQuad | engine::kFaceColoured | colour << 16);
  s += (column < 0 ? coloured : std::string("4")) + "|0|" + std::to_string(std::max(column, 0)) + "|0|1|4|3\r\n";
  s += coloured + "|0|0|1|2|5|4\r\n";
  return s;
}

TEST_F(ShapeScene, ShapeShowsItsAtlasTileAndItsColouredFace) {
  camera(0);
  int red = media::colour_index(255, 0, 0);
  line(1, project::kShape3d, shape_file("wall.a3d", wall(2, 1, 32, red)));
  load_lines(1);
  element(1, 0, 0, 5);
  start();
  engine::render_step(*world_);
  // 2 units at 5 units: 96 pixels each side of the centre.
  EXPECT_TRUE(near(pixel(320 - 48, 240), scheme(60, 180, 80))) << "tile 2 of the atlas, green";
  EXPECT_TRUE(near(pixel(320 + 48, 240), scheme(255, 0, 0)));
  EXPECT_TRUE(near(pixel(320 - 150, 240), {0, 0, 0}));
  // The inset keeps the tile's darker border off the face.
  EXPECT_TRUE(near(pixel(320 - 94, 240 - 94), scheme(60, 180, 80)));
}

TEST_F(ShapeScene, DefaultShapeIsALitCube) {
  camera(0);
  line(1, project::kShape3d, data_ + "../3dshapes/missing.a3d");  // falls back to the default
  load_lines(1);
  element(1, 0, -3, 5);  // below the camera: its top shows from y 320 to 360, its front below
  start();
  engine::render_step(*world_);
  Rgb front = pixel(320, 420), top = pixel(320, 340);
  EXPECT_GT(brightness(front), 60);
  EXPECT_GT(front.r, front.b) << "the orange tile";
  EXPECT_GT(top.r, 2 * top.g + 20) << "the red face: " << top.r << " " << top.g << " " << top.b;
  // Its lowest vertex, 1,000 L below its position, and lower when tilted onto an edge.
  ElementRecord& e = world_->tables.elements[1];
  EXPECT_EQ(call("bottom", ref(e)), -1000 * 512);
  e.rotation[0] = 45 * 512;
  EXPECT_NEAR(call("bottom", ref(e)), -1414 * 512, 2 * 512);
}

TEST_F(ShapeScene, DamagedShapesStartAndDrawWithoutHarm) {
  static const char* kFiles[] = {
      "",
      "16|./3dshapes/nothing.pcx|3|1|3\r\n0|0|0\r\n1000|0|0\r\n0|1000|0\r\n0|0|0|0|1|2\r\n",  // atlas missing: default
      "16|./3dshapes/default_.a3d|3|1|3\r\n0|0|0\r\n1000|0|0\r\n0|1000|0\r\n1|0|0|0|1|2\r\n",  // not an image
      "16|-|3|1|9\r\n0|0|0\r\n0|0|0\r\n0|0|0\r\n0|0|0|0|1|2\r\n",                             // no atlas, flat face
  };
  camera(0);
  for (int i = 0; i < 4; ++i) {
    line(i + 1, project::kShape3d, shape_file("bad" + std::to_string(i) + ".a3d", kFiles[i]));
    element(i + 1, 0, 0, 5);
  }
  load_lines(4);
  start();
  engine::render_step(*world_);
  EXPECT_TRUE(world_->scene->drawn);
}

TEST_F(ShapeScene, LightRoutinesRoundTripAndChangeThePicture) {
  camera(0);
  int white = media::colour_index(255, 255, 255);
  line(1, project::kShape3d, shape_file("litwall.a3d", wall(2, 3, -1, white)));
  line(2, project::kLight, "", "3/FFFFFF/0");  // directional, along +z
  load_lines(2);
  element(1, 0, 0, 5);
  ElementRecord& light = element(2);
  start();
  std::int32_t l = ref(light);
  call("light_color_set", l, 255, 0, 300);
  EXPECT_EQ(call("light_color_red", l), 255);
  EXPECT_EQ(call("light_color_green", l), 0);
  EXPECT_EQ(call("light_color_blue", l), 255);  // clamped
  engine::render_step(*world_);
  Rgb magenta = pixel(320, 240);
  EXPECT_GT(magenta.r, 150);
  EXPECT_LT(magenta.g, 40);
  call("light_color_set", l, 0, 200, 0);
  engine::render_step(*world_);
  Rgb green = pixel(320, 240);
  EXPECT_LT(green.r, 40);
  EXPECT_GT(green.g, 120);

  static const struct {
    std::int32_t v, intensity;
  } kIntensities[] = {{0, 0}, {512, 512}, {1023, 1023}, {1024 + 7, 7}, {-1, 1023}};
  for (const auto& c : kIntensities) {
    call("light_intensity_set", l, c.v);
    EXPECT_EQ(call("light_intensity", l), c.intensity) << c.v;
    scene::LightDesc d = scene::light_get(*renderer_, world_->scene->aspect[load_->first[2]].light);
    EXPECT_FLOAT_EQ(d.linear, 1 - c.intensity / 1024.0f) << c.v;
  }
  // Not a light, or no element at all: 0 and no change.
  const std::int32_t kNoLights[] = {ref(world_->tables.elements[1]), ref(world_->tables.elements[0]) | INT32_MIN, 5,
                                    ref(world_->tables.elements[0]) + 256 * 1024, ref(world_->tables.elements[0]) + 4};
  for (std::int32_t bad : kNoLights) {
    call("light_color_set", bad, 255, 255, 255);
    call("light_intensity_set", bad, 3);
    EXPECT_EQ(call("light_color_green", bad), 0) << bad;
    EXPECT_EQ(call("light_intensity", bad), 0) << bad;
  }
  EXPECT_EQ(call("light_color_green", l), 200);
}

TEST_F(ShapeScene, PointLightIntensityChangesBrightness) {
  camera(0);
  int white = media::colour_index(255, 255, 255);
  line(1, project::kShape3d, shape_file("litwall2.a3d", wall(2, 3, -1, white)));
  line(2, project::kLight, "", "1/808080/0");  // point light at the camera
  load_lines(2);
  element(1, 0, 0, 5);
  ElementRecord& light = element(2);
  start();
  call("light_intensity_set", ref(light), 0);
  engine::render_step(*world_);
  int dim = brightness(pixel(320, 240));
  call("light_intensity_set", ref(light), 960);
  engine::render_step(*world_);
  int bright = brightness(pixel(320, 240));
  EXPECT_GT(bright, dim + 100) << dim << " " << bright;
}

// ---- Volume shadows ---------------------------------------------------------------------------

class ShadowScene : public ShapeScene {
 protected:
  // Camera 0, a lit white wall (element 1) at z = 10, a light along +z (element 2),
  // and an unseen occluder (element 3) with a 2-unit box at (x, 0, 5).
  void build(float occluder_x = 0) {
    camera(0);
    int white = media::colour_index(255, 255, 255);
    line(1, project::kShape3d, shape_file("shadowwall.a3d", wall(10, 3, -1, white)));
    line(2, project::kLight, "", "3/FFFFFF/0");
    load_lines(2);
    element(1, 0, 0, 10);
    element(2);
    ElementRecord& occluder = element(3, occluder_x, 0, 5);
    occluder.flags = project::kFlagOn;  // not shown
    const std::int32_t box[6] = {-1000, 1000, -1000, 1000, -1000, 1000};
    std::memcpy(occluder.display_area, box, 16);
    std::memcpy(occluder.size, box + 4, 8);
    start();
  }
  std::int32_t at(int i) { return ref(world_->tables.elements[i]); }
  bool dark(Rgb p) { return brightness(p) < 60; }
  bool lit(Rgb p) { return brightness(p) > 400; }
};

// `shadow_add` takes two arguments: whatever the third register holds, the
// volume reaches over the clip distance as v_shadow_volume_add's length 0 does.
TEST_F(ShadowScene, ShadowAddCastsOverTheClipDistance) {
  build();
  EXPECT_EQ(call("shadow_add", at(3), at(2), 1), -1);  // 1 as a length would end before the wall
  EXPECT_EQ(call("v_shadow_create", at(1)), -1);
  engine::render_step(*world_);
  EXPECT_TRUE(dark(pixel(320, 240)));
  EXPECT_TRUE(lit(pixel(320 + 30, 240)));
  EXPECT_EQ(call("shadow_add", 0, at(2), 0), 0);
}

TEST_F(ShadowScene, VolumeDarkensTheReceiverWhereItCutsIt) {
  build();
  engine::render_step(*world_);
  EXPECT_TRUE(lit(pixel(320, 240)));
  EXPECT_EQ(call("v_shadow_volume_add", at(3), at(2), 0), -1);
  EXPECT_EQ(call("v_shadow_create", at(1)), -1);
  engine::render_step(*world_);
  // The 2-unit box at z 5 shades a 2 x 2 square of the wall at z 10: 24 pixels each side.
  EXPECT_TRUE(dark(pixel(320, 240)));
  EXPECT_TRUE(dark(pixel(320 + 20, 240 - 20)));
  EXPECT_TRUE(lit(pixel(320 + 30, 240)));
  EXPECT_TRUE(lit(pixel(320, 240 + 30)));
  // Layered drawing gives the same picture.
  call("v_shadow_factor", 1, 2);
  engine::render_step(*world_);
  EXPECT_TRUE(dark(pixel(320, 240)));
  // A translucent shadow material darkens only partly.
  call("v_shadow_set", 0, 0, 0, 0, 500);
  engine::render_step(*world_);
  int half = brightness(pixel(320, 240));
  EXPECT_GT(half, 150);
  EXPECT_LT(half, 600);
  // An emissive red shadow shows red; with the receiver hidden, its shadow goes with it.
  call("v_shadow_set", 0, 0, 0, 0, 1000);
  call("v_shadow_set", 2, 1000, 0, 0, 1000);
  engine::render_step(*world_);
  Rgb red = pixel(320, 240);
  EXPECT_TRUE(red.r > 200 && red.g < 40) << red.r << " " << red.g;
  world_->tables.elements[1].flags &= ~project::kFlagShown;
  engine::render_step(*world_);
  EXPECT_TRUE(dark(pixel(320, 240)));
  world_->tables.elements[1].flags |= project::kFlagShown;
  // Deleting the layers, or resetting the buffer, takes the shadow away.
  call("v_shadow_delete");
  engine::render_step(*world_);
  EXPECT_TRUE(lit(pixel(320, 240)));
  call("v_shadow_create", at(1));
  call("v_shadow_volume_reset");
  EXPECT_FALSE(world_->scene->shadows.on);
  engine::render_step(*world_);
  EXPECT_TRUE(lit(pixel(320, 240)));
}

TEST_F(ShadowScene, UpdateFollowsAMovedOccluder) {
  build();
  call("v_shadow_volume_add", at(3), at(2), 0);
  call("v_shadow_create", at(1));
  world_->tables.elements[3].position[0] = 3 * kUnit;
  engine::render_step(*world_);
  EXPECT_TRUE(dark(pixel(320, 240))) << "the volume stays where it was made";
  call("v_shadow_update", at(3));
  engine::render_step(*world_);
  EXPECT_TRUE(lit(pixel(320, 240)));
  EXPECT_TRUE(dark(pixel(320 + 72, 240)));  // 3 units at distance 10
}

TEST_F(ShadowScene, MaterialPartsAndPower) {
  build();
  call("v_shadow_volume_add", at(3), at(2), 0);
  call("v_shadow_create", at(1));
  engine::Shadows& sh = world_->scene->shadows;
  EXPECT_FLOAT_EQ(sh.material.power, 5);
  call("v_shadow_set", 4, 5000);
  EXPECT_FLOAT_EQ(sh.material.power, 5);
  call("v_shadow_set", 4, 12500);
  EXPECT_FLOAT_EQ(scene::material_get(*renderer_, sh.override_material).power, 12.5f);
  call("v_shadow_set", 2, 100, 200, 300, 1000);
  EXPECT_FLOAT_EQ(sh.material.part[2][1], 0.2f);
  EXPECT_FLOAT_EQ(scene::material_get(*renderer_, sh.override_material).emissive.z, 0.3f);
  call("v_shadow_set", 7, 1, 1, 1, 1);  // no such part: nothing
  call("v_shadow_set", -1, 1, 1, 1, 1);
  EXPECT_FLOAT_EQ(sh.material.part[0][0], 1);
}

TEST_F(ShadowScene, FullBufferRefusesTheVolumeAndBadReferencesChangeNothing) {
  build();
  engine::Shadows& sh = world_->scene->shadows;
  int added = 0;
  while (call("v_shadow_volume_add", at(3), at(2), 0) == -1 && added < 1000) ++added;
  EXPECT_EQ(added, (engine::kShadowBufferFloats - 1) / (1 + 6 * engine::kShadowVolumePlanes));  // 189
  EXPECT_LE(sh.used + 1, engine::kShadowBufferFloats);
  EXPECT_EQ(sh.buffer[sh.used], 0.0f);
  EXPECT_EQ(sh.volumes, added);
  call("v_shadow_create", at(1));
  engine::render_step(*world_);
  EXPECT_TRUE(dark(pixel(320, 240)));

  call("v_shadow_volume_reset");
  const std::int32_t kBad[] = {at(0) | INT32_MIN, 5, 0, at(0) + 256 * 1024, at(0) + 4, -1};
  for (std::int32_t bad : kBad) {
    EXPECT_EQ(call("v_shadow_volume_add", bad, at(2), 0), 0) << bad;
    EXPECT_EQ(call("v_shadow_create", bad), 0) << bad;
    call("v_shadow_update", bad);
  }
  EXPECT_EQ(sh.used, 0);
  // An occluder with an empty box and no radius casts nothing; an ambient light neither.
  element(4);
  EXPECT_EQ(call("v_shadow_volume_add", at(4), at(2), 0), 0);
  world_->tables.aspects[load_->first[2]].word[0] = 0;
  EXPECT_EQ(call("v_shadow_volume_add", at(3), at(2), 0), 0);
}

// A brain adding volumes in a loop to a full buffer: a few lines on stderr, then one count when the scene ends.
TEST_F(ShadowScene, AFullBufferIsReportedAFewTimesThenCounted) {
  build();
  testing::internal::CaptureStderr();
  for (int i = 0; i < 1189; ++i) call("v_shadow_volume_add", at(3), at(2), 0);  // 189 fit
  engine::scene_end(*world_);
  std::string errors = testing::internal::GetCapturedStderr();
  int lines = 0;
  for (char c : errors) lines += c == '\n';
  EXPECT_EQ(lines, base::RepeatedReport::kShown + 1) << errors;
  EXPECT_NE(errors.find("shadow volume buffer full: 997 more times"), std::string::npos) << errors;
}

// Shadow layers asked for past the copies' limit, a layer a tick: likewise a few lines, then one count.
TEST_F(ShadowScene, FullCopiesAreReportedAFewTimesThenCounted) {
  build();
  while (call("v_shadow_volume_add", at(3), at(2), 0) == -1) {
  }
  testing::internal::CaptureStderr();
  for (int i = 0; i < 40; ++i) call("v_shadow_create", at(1));
  engine::scene_end(*world_);
  std::string errors = testing::internal::GetCapturedStderr();
  int lines = 0;
  for (std::size_t at = 0; (at = errors.find("shadow copies full", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, base::RepeatedReport::kShown + 1) << errors;
  EXPECT_NE(errors.find("shadow copies full: "), std::string::npos) << errors;
}

}  // namespace
