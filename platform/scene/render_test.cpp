// Small scenes drawn offscreen with Mesa and read back pixel by pixel.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include <SDL.h>

#include "platform/scene/scene.h"

namespace scene {
namespace {

constexpr int kSize = 64;
constexpr Colour kRed{1, 0, 0, 1};
constexpr Colour kBlue{0, 0, 1, 1};
constexpr Colour kGreen{0, 1, 0, 1};

struct Rgb {
  int r, g, b;
};

class SceneRender : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    renderer_ = create_offscreen(kSize, kSize, error_, sizeof error_);
  }
  static void TearDownTestSuite() {
    destroy(renderer_);
    renderer_ = nullptr;
  }

  void SetUp() override {
    // Only a machine without OpenGL skips ("no ..." reasons); a broken renderer fails.
    if (!renderer_ && std::strncmp(error_, "no ", 3) == 0) GTEST_SKIP() << error_;
    ASSERT_NE(renderer_, nullptr) << error_;
    Renderer& r = *renderer_;
    root = frame_create(r, {});
    camera = frame_create(r, root);  // at the origin looking along +z
    view = viewport_create(r, camera, 0, 0, kSize, kSize);
    viewport_set_front(r, view, 1);
    viewport_set_back(r, view, 100);
    viewport_set_field(r, view, 0.5f);
    frame_set_background(r, root, kBlue);
    Frame light_frame = frame_create(r, root);  // shines along +z, from behind the camera
    frame_add_light(r, light_frame, light_create(r, {LightKind::directional, {1, 1, 1}}));
    frame_add_light(r, root, light_create(r, {LightKind::ambient, {0.1f, 0.1f, 0.1f}}));
    red = material_create(r, {kRed});
  }

  void TearDown() override {
    if (!renderer_) return;
    frame_destroy(*renderer_, root);
    viewport_destroy(*renderer_, view);
  }

  // A cube of half size h at position p under parent.
  Frame cube(Frame parent, Vec3 p, float h, Material material) {
    Vertex box[36];
    build_box(box, {h, h, h});
    FaceGroup group{0, 36, material, {}, Quality::gouraud};
    Mesh mesh = mesh_create(*renderer_, box, {&group, 1});
    Frame f = frame_create(*renderer_, parent);
    frame_set_position(*renderer_, f, {}, p);
    frame_add_mesh(*renderer_, f, mesh);
    return f;
  }

  void draw() {
    clear(*renderer_, {0, 0, 0, 1});
    viewport_clear(*renderer_, view, kClearDepth | kClearColour);
    render(*renderer_, view, root);
  }

  Rgb pixel(int x, int y) {
    std::uint8_t p[4] = {};
    EXPECT_TRUE(read_pixels(*renderer_, x, y, 1, 1, p));
    return {p[0], p[1], p[2]};
  }

  static bool is(Rgb c, Colour want) {
    auto close = [](int got, float w) { return got >= static_cast<int>(w * 255) - 40 && got <= static_cast<int>(w * 255) + 40; };
    return close(c.r, want.r) && close(c.g, want.g) && close(c.b, want.b);
  }

  static inline Renderer* renderer_ = nullptr;
  static inline char error_[160] = {};
  Frame root, camera;
  Viewport view;
  Material red;
};

std::string text(Rgb c) { return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b); }

TEST_F(SceneRender, LitCubeInFrontOfTheCamera) {
  cube(root, {0, 0, 5}, 1, red);
  draw();
  Rgb centre = pixel(kSize / 2, kSize / 2);
  EXPECT_TRUE(is(centre, kRed)) << text(centre);  // the lit front face, not a back face
  for (auto [x, y] : {std::pair{0, 0}, {kSize - 1, 0}, {0, kSize - 1}, {kSize - 1, kSize - 1}})
    EXPECT_TRUE(is(pixel(x, y), kBlue)) << x << "," << y << ": " << text(pixel(x, y));
}

TEST_F(SceneRender, CubeBehindTheCameraIsNotSeen) {
  cube(root, {0, 0, -5}, 1, red);
  draw();
  EXPECT_TRUE(is(pixel(kSize / 2, kSize / 2), kBlue));
}

TEST_F(SceneRender, UnlitFaceIsDark) {
  // Light along +z; the camera looks back at the cube from +z: it sees the unlit side.
  cube(root, {0, 0, 0}, 1, red);
  frame_set_position(*renderer_, camera, {}, {0, 0, 5});
  frame_set_orientation(*renderer_, camera, {}, {0, 0, -1}, {0, 1, 0});
  draw();
  Rgb c = pixel(kSize / 2, kSize / 2);
  EXPECT_GT(c.r, 10) << text(c);  // ambient only
  EXPECT_LT(c.r, 60) << text(c);
}

// The face towards the camera (and the light behind it) stays lit however its
// frame is turned about the view axis or about another axis first.
TEST_F(SceneRender, TurnedFramesKeepTheirLitFaces) {
  static constexpr struct {
    Vec3 axis;
    float degrees;
  } kTurns[] = {{{0, 0, 1}, 30}, {{0, 0, 1}, 60}, {{0, 0, 1}, 90}, {{0, 0, 1}, 135}, {{1, 1, 0}, 180},
                {{0, 1, 0}, 90}, {{1, 0, 1}, 180}};
  for (const auto& t : kTurns) {
    Frame f = cube(root, {0, 0, 5}, 1, red);
    frame_set_rotation(*renderer_, f, {}, quat_from_axis_angle(t.axis, t.degrees * 3.14159265f / 180));
    draw();
    Rgb centre = pixel(kSize / 2, kSize / 2);
    EXPECT_TRUE(is(centre, kRed)) << t.degrees << " degrees: " << text(centre);
    frame_destroy(*renderer_, f);
  }
}

TEST_F(SceneRender, HiddenOrDetachedFramesDisappear) {
  enum How { render_off_frame, render_off_parent, detached, destroyed };
  for (How how : {render_off_frame, render_off_parent, detached, destroyed}) {
    Frame parent = frame_create(*renderer_, root);
    Frame f = cube(parent, {0, 0, 5}, 1, red);
    draw();
    ASSERT_TRUE(is(pixel(kSize / 2, kSize / 2), kRed)) << how;
    switch (how) {
      case render_off_frame: frame_set_traversal(*renderer_, f, kPickEnable); break;
      case render_off_parent: frame_set_traversal(*renderer_, parent, 0); break;
      case detached: frame_set_parent(*renderer_, f, {}); break;
      case destroyed: frame_destroy(*renderer_, f); break;
    }
    draw();
    EXPECT_TRUE(is(pixel(kSize / 2, kSize / 2), kBlue)) << how;
    frame_destroy(*renderer_, parent);
    frame_destroy(*renderer_, f);
  }
}

TEST_F(SceneRender, FogColoursFarObjects) {
  // A near cube on the left, a far one on the right (both fill their side).
  cube(root, {-1.2f, 0, 5}, 1, red);
  cube(root, {9.6f, 0, 40}, 8, red);
  frame_set_fog(*renderer_, root, true, 10, 30, kGreen);
  draw();
  Rgb near = pixel(kSize / 4, kSize / 2), far = pixel(kSize * 3 / 4, kSize / 2);
  EXPECT_TRUE(is(near, kRed)) << text(near);
  EXPECT_TRUE(is(far, kGreen)) << text(far);
  frame_set_fog(*renderer_, root, false, 10, 30, kGreen);
  draw();
  EXPECT_TRUE(is(pixel(kSize * 3 / 4, kSize / 2), kRed));
}

TEST_F(SceneRender, ViewportCoversOnlyItsRectangle) {
  cube(root, {0, 0, 5}, 50, red);  // its near face fills the whole view
  frame_set_position(*renderer_, camera, {}, {0, 0, -50});
  viewport_set_rect(*renderer_, view, 16, 8, 32, 24);
  clear(*renderer_, kGreen);
  viewport_clear(*renderer_, view, kClearDepth | kClearColour);
  render(*renderer_, view, root);
  struct Case {
    int x, y;
    Colour want;
  } cases[] = {{16, 8, kRed},  {47, 31, kRed}, {32, 20, kRed}, {15, 20, kGreen},
               {48, 20, kGreen}, {32, 7, kGreen}, {32, 32, kGreen}, {2, 60, kGreen}};
  for (const Case& c : cases) EXPECT_TRUE(is(pixel(c.x, c.y), c.want)) << c.x << "," << c.y << ": " << text(pixel(c.x, c.y));
}

// A 2 x 2 texture: index 0 (transparent) at top left and bottom right, index 1 yellow.
Texture checker(Renderer& r) {
  std::uint8_t pixels[4] = {0, 1, 1, 0};
  std::uint8_t palette[768] = {};
  palette[3] = 255;
  palette[4] = 255;
  return texture_create(r, pixels, 2, 2, 2, palette, true);
}

TEST_F(SceneRender, ColourZeroTexelsShowTheBackground) {
  Texture t = checker(*renderer_);
  ASSERT_TRUE(valid(t));
  Vertex quad[6];
  build_quad(quad, 2, 2);
  FaceGroup group{0, 6, material_create(*renderer_, {}), t, Quality::unlit_flat};
  Frame f = frame_create(*renderer_, root);
  frame_set_position(*renderer_, f, {}, {0, 0, 1.5f});  // fills the view (half-height 0.75)
  frame_add_mesh(*renderer_, f, mesh_create(*renderer_, quad, {&group, 1}));
  constexpr Colour kYellow{1, 1, 0, 1};
  for (int quality : {0, 3, 5}) {
    set_texture_quality(*renderer_, quality);
    draw();
    struct Case {
      int x, y;
      Colour want;
    } cases[] = {{8, 8, kBlue}, {56, 8, kYellow}, {8, 56, kYellow}, {56, 56, kBlue}};
    for (const Case& c : cases)
      EXPECT_TRUE(is(pixel(c.x, c.y), c.want)) << quality << " " << c.x << "," << c.y << ": " << text(pixel(c.x, c.y));
  }
  set_texture_quality(*renderer_, 0);
  texture_destroy(*renderer_, t);
}

TEST_F(SceneRender, DecalFacesTheCamera) {
  Texture t = checker(*renderer_);
  texture_set_decal_size(*renderer_, t, 2, 2);
  Frame f = frame_create(*renderer_, root);
  frame_set_position(*renderer_, f, {}, {0, 0, 1.5f});
  frame_set_rotation(*renderer_, f, {}, quat_from_axis_angle({0, 1, 0}, 2.5f));  // the frame's turn does not matter
  frame_add_decal(*renderer_, f, t);
  draw();
  EXPECT_TRUE(is(pixel(56, 8), {1, 1, 0, 1})) << text(pixel(56, 8));
  EXPECT_TRUE(is(pixel(8, 8), kBlue)) << text(pixel(8, 8));
  texture_destroy(*renderer_, t);
}

TEST_F(SceneRender, ScreenCompositesOverTheScene) {
  cube(root, {0, 0, 5}, 1, red);
  draw();
  // A 4 x 4 screen: index 0 everywhere but a white pixel at the top left.
  std::uint8_t screen[16] = {};
  screen[0] = 255;
  std::uint8_t palette[768] = {};
  palette[255 * 3] = palette[255 * 3 + 1] = palette[255 * 3 + 2] = 255;
  draw_screen(*renderer_, screen, 4, 4, 4, palette, true);
  EXPECT_TRUE(is(pixel(4, 4), {1, 1, 1, 1})) << text(pixel(4, 4));
  EXPECT_TRUE(is(pixel(kSize / 2, kSize / 2), kRed));
  EXPECT_TRUE(is(pixel(kSize - 2, kSize - 2), kBlue));
  draw_screen(*renderer_, screen, 4, 4, 4, palette, false);
  EXPECT_TRUE(is(pixel(kSize / 2, kSize / 2), {0, 0, 0, 1}));
}

TEST_F(SceneRender, ClipPlanesCutTheSubtree) {
  Frame clipper = frame_create(*renderer_, root);
  cube(clipper, {0, 0, 5}, 1, red);
  // Keep x >= 0 only: the left half of the cube goes.
  ASSERT_TRUE(frame_add_clip_plane(*renderer_, clipper, {0, 0, 0}, {1, 0, 0}));
  draw();
  EXPECT_TRUE(is(pixel(kSize / 2 - 6, kSize / 2), kBlue)) << text(pixel(kSize / 2 - 6, kSize / 2));
  EXPECT_TRUE(is(pixel(kSize / 2 + 6, kSize / 2), kRed)) << text(pixel(kSize / 2 + 6, kSize / 2));
  for (int i = 1; i < kMaxClipPlanes; ++i) EXPECT_TRUE(frame_add_clip_plane(*renderer_, clipper, {0, 0, 0}, {1, 0, 0}));
  EXPECT_FALSE(frame_add_clip_plane(*renderer_, clipper, {0, 0, 0}, {1, 0, 0}));
  EXPECT_FALSE(frame_add_clip_plane(*renderer_, root, {0, 0, 0}, {0, 0, 0}));
  frame_clear_clip_planes(*renderer_, clipper);
  draw();
  EXPECT_TRUE(is(pixel(kSize / 2 - 6, kSize / 2), kRed));
}

TEST_F(SceneRender, TranslucentFacesBlendOverWhatIsBehind) {
  cube(root, {0, 0, 8}, 2, red);
  Material glass = material_create(*renderer_, {{0, 1, 0, 0.5f}, {0, 0, 0}});
  cube(root, {0, 0, 4}, 0.5f, glass);  // drawn after the red cube although nearer
  frame_set_sort_mode(*renderer_, root, SortMode::front_to_back);
  draw();
  Rgb c = pixel(kSize / 2, kSize / 2);
  EXPECT_GT(c.r, 60) << text(c);
  EXPECT_GT(c.g, 60) << text(c);
}

TEST_F(SceneRender, MaterialOverrideRecoloursTheSubtree) {
  Frame parent = frame_create(*renderer_, root);
  cube(parent, {0, 0, 5}, 1, red);
  Material green = material_create(*renderer_, {kGreen});
  frame_set_material_override(*renderer_, parent, green);
  draw();
  EXPECT_TRUE(is(pixel(kSize / 2, kSize / 2), kGreen)) << text(pixel(kSize / 2, kSize / 2));
  material_destroy(*renderer_, green);  // the override goes with it
  draw();
  EXPECT_TRUE(is(pixel(kSize / 2, kSize / 2), kRed));
}

TEST_F(SceneRender, PointAndSpotLightsReachOnlyTheirRange) {
  Frame lit_root = frame_create(*renderer_, {});
  frame_set_background(*renderer_, lit_root, kBlue);
  Frame cam = frame_create(*renderer_, lit_root);
  viewport_set_camera(*renderer_, view, cam);
  cube(lit_root, {0, 0, 5}, 1, red);
  Frame lamp = frame_create(*renderer_, lit_root);  // between camera and cube
  frame_set_position(*renderer_, lamp, {}, {0, 0, 2});
  Light light = light_create(*renderer_, {LightKind::point, {1, 1, 1}, 3});
  frame_add_light(*renderer_, lamp, light);
  struct Case {
    LightDesc desc;
    bool lit;
  } cases[] = {
      {{LightKind::point, {1, 1, 1}, 3}, true},    // 2 units away, range 3
      {{LightKind::point, {1, 1, 1}, 1.5f}, false},  // out of range
      {{LightKind::spot, {1, 1, 1}, 3, 1, 0, 0, 0.3f, 0.4f}, true},  // pointing at it along +z
  };
  for (const Case& c : cases) {
    light_set(*renderer_, light, c.desc);
    clear(*renderer_, {0, 0, 0, 1});
    viewport_clear(*renderer_, view, kClearDepth | kClearColour);
    render(*renderer_, view, lit_root);
    Rgb p = pixel(kSize / 2, kSize / 2);
    EXPECT_EQ(p.r > 150, c.lit) << text(p);
  }
  // A spot turned away lights nothing.
  frame_set_orientation(*renderer_, lamp, {}, {0, 0, -1}, {0, 1, 0});
  clear(*renderer_, {0, 0, 0, 1});
  viewport_clear(*renderer_, view, kClearDepth | kClearColour);
  render(*renderer_, view, lit_root);
  EXPECT_LT(pixel(kSize / 2, kSize / 2).r, 20);
  light_destroy(*renderer_, light);
  viewport_set_camera(*renderer_, view, camera);
  frame_destroy(*renderer_, lit_root);
}

TEST_F(SceneRender, ReadPixelsRefusesOutsideTheTarget) {
  std::uint8_t p[16];
  EXPECT_FALSE(read_pixels(*renderer_, -1, 0, 1, 1, p));
  EXPECT_FALSE(read_pixels(*renderer_, kSize - 1, 0, 2, 1, p));
  EXPECT_FALSE(read_pixels(*renderer_, 0, 0, 0, 1, p));
  EXPECT_FALSE(read_pixels(*renderer_, 0, 0, 1, 1, nullptr));
}

// A 2 x 2 quad at depth 1.5 filling the view, unlit, in material or texture.
Mesh filling_quad(Renderer& r, Frame root, Material material, Texture texture) {
  Vertex quad[6];
  build_quad(quad, 2, 2);
  FaceGroup group{0, 6, material, texture, Quality::unlit_flat};
  Mesh mesh = mesh_create(r, quad, {&group, 1});
  Frame f = frame_create(r, root);
  frame_set_position(r, f, {}, {0, 0, 1.5f});
  frame_add_mesh(r, f, mesh);
  return mesh;
}

TEST_F(SceneRender, MovedVerticesMoveThePicture) {
  Mesh mesh = filling_quad(*renderer_, root, red, {});
  draw();
  ASSERT_TRUE(is(pixel(8, 8), kRed)) << text(pixel(8, 8));
  // The top-left corner of the upper triangle goes to the top-right one: that
  // triangle collapses and the top-left half shows the background.
  std::span<const Vertex> v = mesh_vertices(*renderer_, mesh);
  int corner = 0;
  while (corner < 6 && !(v[corner].position.x < 0 && v[corner].position.y > 0)) ++corner;
  ASSERT_LT(corner, 6);
  Vertex moved = v[corner], kept = v[corner];
  moved.position = {1, 1, 0};
  ASSERT_TRUE(mesh_update_vertices(*renderer_, mesh, corner, {&moved, 1}));
  draw();
  EXPECT_TRUE(is(pixel(8, 8), kBlue)) << text(pixel(8, 8));
  EXPECT_TRUE(is(pixel(56, 56), kRed)) << text(pixel(56, 56));
  // A refused write leaves the picture alone.
  EXPECT_FALSE(mesh_update_vertices(*renderer_, mesh, 6, {&kept, 1}));
  draw();
  EXPECT_TRUE(is(pixel(8, 8), kBlue)) << text(pixel(8, 8));
  ASSERT_TRUE(mesh_update_vertices(*renderer_, mesh, corner, {&kept, 1}));
  draw();
  EXPECT_TRUE(is(pixel(8, 8), kRed)) << text(pixel(8, 8));
}

TEST_F(SceneRender, ChangedTextureCoordinatesShowAnotherTexel) {
  // Texels: red at (0, 0) and (1, 1), green at (1, 0) and (0, 1).
  std::uint8_t pixels[4] = {1, 2, 2, 1};
  std::uint8_t palette[768] = {};
  palette[3] = 255;
  palette[7] = 255;
  Texture t = texture_create(*renderer_, pixels, 2, 2, 2, palette, false);
  Mesh mesh = filling_quad(*renderer_, root, material_create(*renderer_, {}), t);
  struct Case {
    float u, v;
    Colour want;
  } cases[] = {{0.25f, 0.25f, kRed}, {0.75f, 0.25f, kGreen}, {0.75f, 0.75f, kRed}};
  for (const Case& c : cases) {
    std::span<Vertex> v = mesh_edit_vertices(*renderer_, mesh);
    for (Vertex& vertex : v) vertex.u = c.u, vertex.v = c.v;
    ASSERT_TRUE(mesh_upload_vertices(*renderer_, mesh, 0, static_cast<int>(v.size())));
    draw();
    for (auto [x, y] : {std::pair{8, 8}, {56, 56}})
      EXPECT_TRUE(is(pixel(x, y), c.want)) << c.u << "," << c.v << " at " << x << "," << y << ": " << text(pixel(x, y));
  }
  texture_destroy(*renderer_, t);
}

TEST_F(SceneRender, WithoutDepthBufferingAFarSubtreeShowsOverANearCube) {
  Frame far = frame_create(*renderer_, root);
  cube(far, {0, 0, 10}, 1, red);
  cube(root, {0, 0, 5}, 1, material_create(*renderer_, {kGreen}));
  cube(root, {0, 0, 20}, 8, material_create(*renderer_, {{1, 1, 0, 1}}));  // drawn after the green one
  draw();
  EXPECT_TRUE(is(pixel(kSize / 2, kSize / 2), kGreen)) << text(pixel(kSize / 2, kSize / 2));
  frame_set_zbuffer(*renderer_, far, false);
  EXPECT_FALSE(frame_zbuffer(*renderer_, far));
  draw();
  EXPECT_TRUE(is(pixel(kSize / 2, kSize / 2), kRed)) << text(pixel(kSize / 2, kSize / 2));
  // Nothing else lost its depth test: the green cube still hides the yellow one behind it.
  EXPECT_TRUE(is(pixel(kSize / 2 + 8, kSize / 2), kGreen)) << text(pixel(kSize / 2 + 8, kSize / 2));
  frame_set_zbuffer(*renderer_, far, true);
  draw();
  EXPECT_TRUE(is(pixel(kSize / 2, kSize / 2), kGreen));
}

TEST_F(SceneRender, OptimisedMeshDrawsTheSamePictureInFewerGroups) {
  // A turned, lit box in six groups of one material, drawn before and after.
  Vertex box[36];
  build_box(box, {1, 1, 1});
  FaceGroup groups[7];
  for (int i = 0; i < 6; ++i) groups[i] = {i * 6, 6, red, {}, Quality::gouraud};
  groups[6] = {36, 0, red, {}, Quality::gouraud};
  Mesh mesh = mesh_create(*renderer_, box, groups);
  Frame f = frame_create(*renderer_, root);
  frame_set_position(*renderer_, f, {}, {0, 0, 4});
  frame_set_rotation(*renderer_, f, {}, multiply(quat_from_axis_angle({0, 1, 0}, 0.6f), quat_from_axis_angle({1, 0, 0}, 0.4f)));
  frame_add_mesh(*renderer_, f, mesh);
  auto picture = [this](int& groups_drawn) {
    clear(*renderer_, {0, 0, 0, 1});
    viewport_clear(*renderer_, view, kClearDepth | kClearColour);
    groups_drawn = render(*renderer_, view, root);
    std::string rgba(kSize * kSize * 4, '\0');
    EXPECT_TRUE(read_pixels(*renderer_, 0, 0, kSize, kSize, reinterpret_cast<std::uint8_t*>(rgba.data())));
    return rgba;
  };
  int before_groups = 0, after_groups = 0;
  std::string before = picture(before_groups);
  ASSERT_TRUE(mesh_optimize(*renderer_, mesh));
  std::string after = picture(after_groups);
  EXPECT_EQ(before_groups, 7);
  EXPECT_EQ(after_groups, 1);
  EXPECT_TRUE(before == after);
}

TEST_F(SceneRender, PickFindsWhatThePixelShows) {
  Frame f = cube(root, {0.5f, 0, 5}, 1, red);
  draw();
  // The near face (depth 4) spans x -0.5..1.5: pixel columns 24..55 at their centres.
  struct Case {
    int x, y;
    bool hit;
  } cases[] = {{kSize / 2, kSize / 2, true}, {40, 23, true}, {4, 4, false}, {23, 32, false}, {24, 32, true},
               {55, 32, true}, {56, 32, false}};
  for (const Case& c : cases) {
    PickResult hit;
    bool found = pick(*renderer_, view, root, c.x, c.y, hit);
    EXPECT_EQ(found, c.hit) << c.x << "," << c.y;
    EXPECT_EQ(is(pixel(c.x, c.y), kRed), c.hit) << c.x << "," << c.y << ": " << text(pixel(c.x, c.y));
    if (found) {
      EXPECT_EQ(hit.frame.id, f.id);
      EXPECT_NEAR(hit.point.z, 4, 1e-4f);  // the cube's near face
    }
  }
}

// The renderer on a window of its own, presenting the target letterboxed.
TEST(SceneWindow, DrawsAndPresentsOnAnOpenGLWindow) {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) GTEST_SKIP() << "no video: " << SDL_GetError();
  set_gl_attributes();
  SDL_Window* window = SDL_CreateWindow("scene test", 0, 0, 200, 100, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (!window) GTEST_SKIP() << "no OpenGL window: " << SDL_GetError();
  char error[160] = {};
  Renderer* r = create_on_window(window, 64, 48, error, sizeof error);
  ASSERT_NE(r, nullptr) << error;
  Frame root = frame_create(*r, {});
  Frame camera = frame_create(*r, root);
  Viewport v = viewport_create(*r, camera, 0, 0, 64, 48);
  frame_set_background(*r, root, {1, 0, 0, 1});
  viewport_clear(*r, v, kClearColour | kClearDepth);
  present(*r);
  std::uint8_t p[4] = {};
  ASSERT_TRUE(read_pixels(*r, 10, 10, 1, 1, p));  // the target is intact after presenting
  EXPECT_EQ(p[0], 255);
  EXPECT_EQ(p[2], 0);
  EXPECT_TRUE(resize(*r, 80, 60));
  EXPECT_FALSE(resize(*r, 0, 60));
  int w = 0, h = 0;
  target_size(*r, w, h);
  EXPECT_EQ(w, 80);
  release_all(*r);
  EXPECT_FALSE(valid(frame_parent(*r, camera)));
  EXPECT_EQ(frame_traversal(*r, root), 0u);
  destroy(r);
  SDL_DestroyWindow(window);
}

}  // namespace
}  // namespace scene
