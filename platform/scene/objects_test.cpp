// Frames, placement relative to other frames, pools and animations, without GL.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>

#include "platform/scene/scene.h"

namespace scene {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

struct Free {
  void operator()(Renderer* r) const { destroy(r); }
};
using Owned = std::unique_ptr<Renderer, Free>;

void expect_near(Vec3 got, Vec3 want, const char* what) {
  EXPECT_NEAR(got.x, want.x, 1e-4f) << what;
  EXPECT_NEAR(got.y, want.y, 1e-4f) << what;
  EXPECT_NEAR(got.z, want.z, 1e-4f) << what;
}

TEST(SceneFrames, ChainMatrixMatchesHandComputed) {
  Owned r(create_without_gl());
  ASSERT_TRUE(r);
  Frame root = frame_create(*r, {});
  Frame parent = frame_create(*r, root);
  Frame child = frame_create(*r, parent);
  frame_set_position(*r, parent, {}, {1, 2, 3});
  frame_set_rotation(*r, parent, {}, quat_from_axis_angle({0, 1, 0}, kPi / 2));
  frame_set_scale(*r, parent, {2, 2, 2});
  frame_set_position(*r, child, {}, {0, 0, 1});
  Mat4 w = frame_world(*r, child);
  expect_near(transform_point(w, {0, 0, 0}), {3, 2, 3}, "origin");
  expect_near(transform_point(w, {1, 0, 0}), {3, 2, 1}, "point");
  expect_near(frame_position(*r, child, root), {3, 2, 3}, "position in root");
}

TEST(SceneFrames, PositionRelativeToAnyFrame) {
  Owned r(create_without_gl());
  Frame root = frame_create(*r, {});
  Frame a = frame_create(*r, root);
  Frame b = frame_create(*r, root);
  Frame moving = frame_create(*r, a);
  frame_set_position(*r, a, {}, {10, 0, 0});
  frame_set_rotation(*r, a, {}, quat_from_axis_angle({0, 0, 1}, kPi / 2));
  frame_set_position(*r, b, {}, {0, 0, 5});
  frame_set_scale(*r, b, {2, 1, 1});
  struct Case {
    Frame reference;
    Vec3 position;
  } cases[] = {{root, {1, 2, 3}}, {a, {-4, 0, 1}}, {b, {0.5f, 7, -2}}, {moving, {1, 1, 1}}};
  for (const Case& c : cases) {
    frame_set_position(*r, moving, c.reference, c.position);
    if (c.reference.id != moving.id) expect_near(frame_position(*r, moving, c.reference), c.position, "round trip");
  }
  // In root space: b's x axis is scaled by 2.
  frame_set_position(*r, moving, b, {1, 0, 0});
  expect_near(frame_position(*r, moving, root), {2, 0, 5}, "through scale");
  // Moving relative to itself moves by its own axes.
  frame_set_position(*r, moving, root, {0, 0, 0});
  frame_set_rotation(*r, moving, root, quat_from_axis_angle({0, 1, 0}, kPi / 2));
  frame_set_position(*r, moving, moving, {0, 0, 1});
  expect_near(frame_position(*r, moving, root), {1, 0, 0}, "own axes");
}

TEST(SceneFrames, OrientationVectorAndQuaternionPathsAgree) {
  Owned r(create_without_gl());
  Frame root = frame_create(*r, {});
  Frame parent = frame_create(*r, root);
  Frame f = frame_create(*r, parent);
  frame_set_rotation(*r, parent, {}, quat_from_axis_angle({1, 0, 0}, 0.3f));
  Quat q = multiply(quat_from_axis_angle({0, 1, 0}, 0.8f), quat_from_axis_angle({0, 0, 1}, -0.4f));
  Vec3 d, u;
  direction_up_of(q, d, u);
  frame_set_orientation(*r, f, root, d, u);
  Quat by_vectors = frame_rotation(*r, f, root);
  frame_set_rotation(*r, f, root, q);
  Quat by_quaternion = frame_rotation(*r, f, root);
  Vec3 d1, u1, d2, u2;
  direction_up_of(by_vectors, d1, u1);
  direction_up_of(by_quaternion, d2, u2);
  expect_near(d1, d2, "direction");
  expect_near(u1, u2, "up");
  expect_near(d1, d, "direction in root");
  frame_orientation(*r, f, root, d2, u2);
  expect_near(u2, u, "up in root");
}

TEST(SceneFrames, ParentChangesRefuseCycles) {
  Owned r(create_without_gl());
  Frame a = frame_create(*r, {});
  Frame b = frame_create(*r, a);
  Frame c = frame_create(*r, b);
  EXPECT_FALSE(frame_set_parent(*r, a, c));
  EXPECT_FALSE(frame_set_parent(*r, a, a));
  EXPECT_EQ(frame_parent(*r, a).id, -1);
  EXPECT_TRUE(frame_set_parent(*r, c, a));
  EXPECT_EQ(frame_root(*r, c).id, a.id);
  EXPECT_TRUE(frame_set_parent(*r, b, {}));
  EXPECT_EQ(frame_root(*r, b).id, b.id);
}

TEST(SceneFrames, DestroyFreesTheSubtreeAndFullIsReported) {
  Owned r(create_without_gl());
  Frame root = frame_create(*r, {});
  Frame child = frame_create(*r, root);
  Frame grandchild = frame_create(*r, child);
  frame_destroy(*r, child);
  EXPECT_EQ(frame_traversal(*r, child), 0u);
  EXPECT_EQ(frame_traversal(*r, grandchild), 0u);
  EXPECT_EQ(frame_traversal(*r, root), kRenderEnable | kPickEnable);
  int made = 1;
  while (valid(frame_create(*r, root))) ++made;
  EXPECT_EQ(made, kMaxFrames);
  EXPECT_EQ(std::string(last_error(*r)), "full: frames");
}

TEST(SceneFrames, AttachmentsFollowTheirObjects) {
  Owned r(create_without_gl());
  Frame f = frame_create(*r, {});
  Vertex box[36];
  build_box(box, {1, 1, 1});
  FaceGroup group{0, 36, material_create(*r, {}), {}, Quality::gouraud};
  Mesh m = mesh_create(*r, box, {&group, 1});
  ASSERT_TRUE(valid(m));
  EXPECT_TRUE(frame_add_mesh(*r, f, m));
  EXPECT_FALSE(frame_add_mesh(*r, f, Mesh{12345}));
  EXPECT_FALSE(frame_add_light(*r, f, Light{}));
  mesh_destroy(*r, m);
  EXPECT_EQ(mesh_vertex_count(*r, m), 0);
}

TEST(SceneObjects, BadInputIsRefused) {
  Owned r(create_without_gl());
  Vertex box[36];
  build_box(box, {1, 1, 1});
  struct Case {
    int first, count;
  } groups[] = {{0, 37}, {-3, 3}, {30, 9}, {0, 4}, {2147483646, 3}};
  for (const Case& c : groups) {
    FaceGroup g{c.first, c.count, {}, {}, Quality::flat};
    EXPECT_FALSE(valid(mesh_create(*r, box, {&g, 1}))) << c.first << " " << c.count;
  }
  EXPECT_FALSE(valid(mesh_create(*r, box, {})));
  // Unknown material and texture handles are dropped, not followed.
  FaceGroup stray{0, 36, Material{kMaxMaterials + 7}, Texture{-5}, Quality::flat};
  EXPECT_TRUE(valid(mesh_create(*r, box, {&stray, 1})));
  std::uint8_t pixels[4] = {};
  std::uint8_t palette[768] = {};
  struct Size {
    int w, h, pitch;
  } sizes[] = {{0, 1, 1}, {1, 0, 1}, {2, 2, 1}, {kMaxTextureSide + 1, 1, kMaxTextureSide + 1}};
  for (const Size& s : sizes) EXPECT_FALSE(valid(texture_create(*r, pixels, s.w, s.h, s.pitch, palette, true)));
  EXPECT_FALSE(valid(texture_create(*r, nullptr, 2, 2, 2, palette, true)));
  EXPECT_TRUE(valid(texture_create(*r, pixels, 2, 2, 2, palette, true)));
}

TEST(SceneObjects, ViewportKeepsSoundProjectionValues) {
  Owned r(create_without_gl());
  Frame camera = frame_create(*r, {});
  Viewport v = viewport_create(*r, camera, 0, 0, 640, 480);
  ASSERT_TRUE(valid(v));
  // A zero or negative field (a focal length of 0 divides by zero) keeps the old value.
  for (float bad : {0.0f, -1.0f, NAN, INFINITY}) {
    EXPECT_FALSE(viewport_set_field(*r, v, bad));
    EXPECT_FALSE(viewport_set_front(*r, v, bad));
    EXPECT_FALSE(viewport_set_back(*r, v, bad));
  }
  EXPECT_FLOAT_EQ(viewport_field(*r, v), 0.5f);
  EXPECT_TRUE(viewport_set_field(*r, v, 2));
  EXPECT_FLOAT_EQ(viewport_field(*r, v), 2);
  EXPECT_EQ(set_texture_quality(*r, 9), 0);
  EXPECT_EQ(set_texture_quality(*r, 5), 5);
}

TEST(SceneAnimations, KeysInterpolate) {
  Owned r(create_without_gl());
  Frame f = frame_create(*r, {});
  Animation a = animation_create(*r);
  animation_set_frame(*r, a, f);
  ASSERT_TRUE(animation_add_position_key(*r, a, 2, {4, 0, 0}));
  ASSERT_TRUE(animation_add_position_key(*r, a, 0, {0, 0, 0}));
  ASSERT_TRUE(animation_add_rotation_key(*r, a, 0, Quat{}));
  ASSERT_TRUE(animation_add_rotation_key(*r, a, 2, quat_from_axis_angle({0, 1, 0}, kPi / 2)));
  ASSERT_TRUE(animation_add_scale_key(*r, a, 0, {1, 1, 1}));
  ASSERT_TRUE(animation_add_scale_key(*r, a, 2, {3, 3, 3}));
  struct Case {
    float time;
    float x;      // position x
    float angle;  // about y, radians
    float s;      // scale
  } cases[] = {{-1, 0, 0, 1}, {0, 0, 0, 1}, {0.5f, 1, kPi / 8, 1.5f}, {1, 2, kPi / 4, 2}, {2, 4, kPi / 2, 3},
               {7, 4, kPi / 2, 3}};
  for (const Case& c : cases) {
    animation_set_time(*r, a, c.time);
    expect_near(frame_position(*r, f, {}), {c.x, 0, 0}, "position");
    expect_near(frame_scale(*r, f), {c.s, c.s, c.s}, "scale");
    expect_near(rotate(frame_rotation(*r, f, {}), {0, 0, 1}), {std::sin(c.angle), 0, std::cos(c.angle)}, "rotation");
  }
  // Closed: time wraps over the key span.
  animation_set_closed(*r, a, true);
  animation_set_time(*r, a, 5);  // 5 wraps to 1
  expect_near(frame_position(*r, f, {}), {2, 0, 0}, "closed");
  animation_set_time(*r, a, -1);  // -1 wraps to 1
  expect_near(frame_position(*r, f, {}), {2, 0, 0}, "closed before");
  // Same time replaces; delete removes every kind at that time.
  EXPECT_EQ(animation_key_count(*r, a), 6);
  animation_add_position_key(*r, a, 2, {8, 0, 0});
  EXPECT_EQ(animation_key_count(*r, a), 6);
  animation_delete_keys(*r, a, 2);
  EXPECT_EQ(animation_key_count(*r, a), 3);
  animation_set_time(*r, a, 1);
  expect_near(frame_position(*r, f, {}), {0, 0, 0}, "one key left");
}

TEST(SceneAnimations, SetDrivesEveryAnimation) {
  Owned r(create_without_gl());
  Frame f1 = frame_create(*r, {});
  Frame f2 = frame_create(*r, {});
  AnimationSet set = animation_set_create(*r);
  Animation a1 = animation_create(*r), a2 = animation_create(*r);
  animation_set_frame(*r, a1, f1);
  animation_set_frame(*r, a2, f2);
  animation_add_position_key(*r, a1, 0, {0, 0, 0});
  animation_add_position_key(*r, a1, 1, {0, 10, 0});
  animation_add_scale_key(*r, a2, 0, {2, 3, 4});
  EXPECT_TRUE(animation_set_add(*r, set, a1));
  EXPECT_TRUE(animation_set_add(*r, set, a2));
  EXPECT_FALSE(animation_set_add(*r, set, a2));
  animation_set_time(*r, set, 0.25f);
  expect_near(frame_position(*r, f1, {}), {0, 2.5f, 0}, "first");
  expect_near(frame_scale(*r, f2), {2, 3, 4}, "second");
  // A destroyed frame is left alone by its animation.
  frame_destroy(*r, f1);
  animation_set_time(*r, set, 0.5f);
  animation_set_destroy(*r, set);
  EXPECT_EQ(animation_key_count(*r, a1), 0);
}

}  // namespace
}  // namespace scene
