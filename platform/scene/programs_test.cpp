// Specialised programs draw exactly what the general program draws: one scene
// with every switch (lighting modes, textures with and without cut-outs,
// highlights, decals, wireframe, clip planes, fog, each kind of light) drawn
// both ways and compared pixel by pixel.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "platform/scene/scene.h"
#include "platform/scene/scene_local.h"

namespace scene {
namespace {

constexpr int kSize = 96;

TEST(ProgramKeys, EverySwitchSurvivesPackingUpToItsLimit) {
  for (int clips : {0, 1, kMaxClipPlanes})
    for (int lights : {1, kMaxActiveLights}) {
      ProgramKey k;
      k.lighting = 2, k.texture = k.alpha_cut = k.fog = k.shiny = k.directional_only = true;
      k.clip_count = clips, k.light_count = lights;
      ProgramKey d = decode_program_key(program_key(k));
      EXPECT_EQ(d.clip_count, clips);
      EXPECT_EQ(d.light_count, lights);
      EXPECT_TRUE(d.shiny && d.directional_only && d.fog && d.alpha_cut && d.texture);
      EXPECT_EQ(d.lighting, 2);
    }
}

struct Lights {
  const char* name;
  bool point_and_spot;  // besides the directional and ambient ones
  bool fog;
};

class SceneProgramsTest : public ::testing::TestWithParam<Lights> {
 protected:
  static void SetUpTestSuite() { renderer_ = create_offscreen(kSize, kSize, error_, sizeof error_); }
  static void TearDownTestSuite() {
    destroy(renderer_);
    renderer_ = nullptr;
  }
  void SetUp() override {
    if (!renderer_ && std::strncmp(error_, "no ", 3) == 0) GTEST_SKIP() << error_;
    ASSERT_NE(renderer_, nullptr) << error_;
  }
  void TearDown() override {
    if (renderer_) release_all(*renderer_);
  }

  Frame with_mesh(Frame parent, Vec3 p, Material m, Texture t, Quality q) {
    Renderer& r = *renderer_;
    Vertex box[36];
    build_box(box, {0.6f, 0.6f, 0.6f});
    FaceGroup group{0, 36, m, t, q};
    Frame f = frame_create(r, parent);
    frame_set_position(r, f, {}, p);
    frame_set_rotation(r, f, {}, quat_from_axis_angle({1, 1, 0}, 0.7f));
    frame_add_mesh(r, f, mesh_create(r, box, {&group, 1}));
    return f;
  }

  std::vector<std::uint8_t> draw(Viewport view, Frame root) {
    Renderer& r = *renderer_;
    clear(r, {0, 0, 0, 1});
    viewport_clear(r, view, kClearDepth | kClearColour);
    render(r, view, root);
    std::vector<std::uint8_t> rgba(kSize * kSize * 4);
    EXPECT_TRUE(read_pixels(r, 0, 0, kSize, kSize, rgba.data()));
    return rgba;
  }

  static Renderer* renderer_;
  static char error_[160];
};
Renderer* SceneProgramsTest::renderer_ = nullptr;
char SceneProgramsTest::error_[160] = {};

TEST_P(SceneProgramsTest, SpecialisedProgramsDrawWhatTheGeneralProgramDraws) {
  Renderer& r = *renderer_;
  const Lights& lights = GetParam();
  Frame root = frame_create(r, {});
  Frame camera = frame_create(r, root);
  Viewport view = viewport_create(r, camera, 0, 0, kSize, kSize);
  frame_set_background(r, root, {0, 0, 0.5f, 1});
  frame_set_fog(r, root, lights.fog, 4, 9, {0.5f, 0.5f, 0.5f, 1});

  Frame sun = frame_create(r, root);
  frame_set_orientation(r, sun, {}, {0.3f, -0.5f, 1}, {0, 1, 0});
  frame_add_light(r, sun, light_create(r, {LightKind::directional, {0.9f, 0.8f, 0.7f}}));
  frame_add_light(r, root, light_create(r, {LightKind::ambient, {0.15f, 0.15f, 0.15f}}));
  if (lights.point_and_spot) {
    Frame lamp = frame_create(r, root);
    frame_set_position(r, lamp, {}, {1, 1, 3});
    frame_add_light(r, lamp, light_create(r, {LightKind::point, {0, 0.6f, 0}, 20, 0.5f, 0.1f, 0}));
    frame_add_light(r, lamp, light_create(r, {LightKind::spot, {0.4f, 0, 0.4f}, 20, 1, 0, 0, 0.3f, 0.6f}));
  }

  MaterialDesc shiny{{1, 0.3f, 0.2f, 1}};
  shiny.specular = {0.8f, 0.8f, 0.8f};
  shiny.power = 10;
  Material plain = material_create(r, {{0.8f, 0.9f, 1, 1}});
  Material glowing = material_create(r, {{0.2f, 0.2f, 0.2f, 1}, {0.3f, 0.1f, 0}});
  Material glass = material_create(r, {{0.2f, 1, 0.2f, 0.5f}});
  // A 4 x 4 texture with colour-0 holes, and the same without holes.
  std::uint8_t texels[16], palette[768] = {};
  for (int i = 0; i < 16; ++i) texels[i] = static_cast<std::uint8_t>(i % 5 == 0 ? 0 : i);
  for (int i = 0; i < 256; ++i) palette[i * 3] = static_cast<std::uint8_t>(i * 16), palette[i * 3 + 1] = 200, palette[i * 3 + 2] = static_cast<std::uint8_t>(255 - i * 16);
  Texture holes = texture_create(r, texels, 4, 4, 4, palette, true);
  Texture solid = texture_create(r, texels, 4, 4, 4, palette, false);

  with_mesh(root, {-1.5f, 1, 5}, material_create(r, shiny), {}, Quality::gouraud);
  with_mesh(root, {0, 1, 5}, plain, holes, Quality::flat);
  with_mesh(root, {1.5f, 1, 5}, plain, solid, Quality::gouraud);
  with_mesh(root, {-1.5f, -0.5f, 6}, glowing, {}, Quality::unlit_flat);
  with_mesh(root, {0, -0.5f, 7}, plain, {}, Quality::wireframe);
  Frame clipped = with_mesh(root, {1.5f, -0.5f, 8}, plain, solid, Quality::gouraud);
  frame_add_clip_plane(r, clipped, {0, 0, 0}, {1, 0, 0});
  with_mesh(root, {0.5f, 0.2f, 4}, glass, {}, Quality::gouraud);
  Frame sprite = frame_create(r, root);
  frame_set_position(r, sprite, {}, {-0.6f, -1.5f, 4});
  texture_set_decal_size(r, holes, 0.8f, 0.8f);
  frame_add_decal(r, sprite, holes);

  set_specialised_programs(r, false);
  std::vector<std::uint8_t> general = draw(view, root);
  set_specialised_programs(r, true);
  std::vector<std::uint8_t> specialised = draw(view, root);
  std::vector<std::uint8_t> again = draw(view, root);  // programs now built: the same again

  std::set<std::uint32_t> colours;
  int differing = 0;
  for (std::size_t i = 0; i < general.size(); i += 4) {
    colours.insert(general[i] << 16 | general[i + 1] << 8 | general[i + 2]);
    for (int k = 0; k < 3; ++k)
      if (std::abs(general[i + k] - specialised[i + k]) > 2) {
        ++differing;
        break;
      }
  }
  EXPECT_GT(colours.size(), 50u) << "the scene should show many shades";
  EXPECT_EQ(differing, 0) << lights.name;
  EXPECT_EQ(specialised, again);
  frame_destroy(r, root);
  viewport_destroy(r, view);
}

const Lights kLightCases[] = {
    {"directional only", false, false},
    {"directional only, fog", false, true},
    {"every kind", true, false},
    {"every kind, fog", true, true},
};
INSTANTIATE_TEST_SUITE_P(Lights, SceneProgramsTest, ::testing::ValuesIn(kLightCases));

// A 2D screen of colour 0 only, composited transparently, leaves the 3D picture as it was.
TEST_F(SceneProgramsTest, EmptyTransparentScreenLeavesThePicture) {
  Renderer& r = *renderer_;
  clear(r, {0.2f, 0.4f, 0.6f, 1});
  std::vector<std::uint8_t> screen(32 * 24, 0), palette(768, 255);
  draw_screen(r, screen.data(), 32, 24, 32, palette.data(), true);
  std::uint8_t p[4];
  ASSERT_TRUE(read_pixels(r, 10, 10, 1, 1, p));
  EXPECT_NEAR(p[0], 51, 1);
  EXPECT_NEAR(p[1], 102, 1);
  EXPECT_NEAR(p[2], 153, 1);
  screen[0] = 1;  // one visible pixel: the screen is drawn, index 1 white over the top-left corner
  draw_screen(r, screen.data(), 32, 24, 32, palette.data(), true);
  ASSERT_TRUE(read_pixels(r, 0, 0, 1, 1, p));
  EXPECT_EQ(p[0], 255);
  ASSERT_TRUE(read_pixels(r, 10, 10, 1, 1, p));
  EXPECT_NEAR(p[2], 153, 1);
}

}  // namespace
}  // namespace scene
