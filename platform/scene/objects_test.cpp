// Frames, placement relative to other frames, pools and animations, without GL.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

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

// ---- Editable meshes and picking ------------------------------------------------------

Vertex at(Vec3 position) {
  Vertex v;
  v.position = position;
  return v;
}

bool same_vertices(std::span<const Vertex> a, std::span<const Vertex> b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size_bytes()) == 0;
}

TEST(SceneMeshes, VerticesRoundTripAndOutOfRangeWritesAreRefused) {
  Owned r(create_without_gl());
  Vertex box[36];
  build_box(box, {1, 2, 3});
  FaceGroup group{0, 36, {}, {}, Quality::gouraud};
  Mesh m = mesh_create(*r, box, {&group, 1});
  ASSERT_TRUE(valid(m));
  EXPECT_TRUE(same_vertices(mesh_vertices(*r, m), box));
  Vertex moved[2] = {box[4], box[5]};
  moved[0].position = {7, 8, 9};
  moved[1].u = 0.25f;
  struct Case {
    int first, count;
    bool ok;
  } cases[] = {{0, 2, true}, {34, 2, true}, {35, 2, false}, {-1, 1, false}, {36, 1, false}, {36, 0, true},
               {37, 0, false}};
  for (const Case& c : cases) {
    std::vector<Vertex> before(mesh_vertices(*r, m).begin(), mesh_vertices(*r, m).end());
    std::span<const Vertex> write(moved, static_cast<std::size_t>(c.count));
    EXPECT_EQ(mesh_update_vertices(*r, m, c.first, write), c.ok) << c.first << " +" << c.count;
    std::vector<Vertex> want = before;
    if (c.ok) std::copy(write.begin(), write.end(), want.begin() + c.first);
    EXPECT_TRUE(same_vertices(mesh_vertices(*r, m), want)) << c.first << " +" << c.count;
    EXPECT_EQ(mesh_upload_vertices(*r, m, c.first, c.count), c.ok) << c.first << " +" << c.count;
  }
  EXPECT_EQ(mesh_vertices(*r, m)[34].position.x, 7);
  // In-place editing writes the same copy.
  mesh_edit_vertices(*r, m)[0].v = 0.5f;
  EXPECT_EQ(mesh_vertices(*r, m)[0].v, 0.5f);
  // Invalid handles read nothing and write nothing.
  EXPECT_TRUE(mesh_vertices(*r, Mesh{kMaxMeshes - 1}).empty());
  EXPECT_TRUE(mesh_edit_vertices(*r, Mesh{}).empty());
  EXPECT_FALSE(mesh_update_vertices(*r, Mesh{-1}, 0, {moved, 1}));
  EXPECT_FALSE(mesh_recompute_normals(*r, Mesh{kMaxMeshes}));
  EXPECT_FALSE(mesh_optimize(*r, Mesh{3}));
  mesh_destroy(*r, m);
  EXPECT_TRUE(mesh_vertices(*r, m).empty());
}

TEST(SceneMeshes, RecomputedNormalsOfABoxAreItsFaceNormals) {
  Owned r(create_without_gl());
  Vertex box[36];
  build_box(box, {1, 2, 3});
  Vertex scrambled[36];
  std::copy(box, box + 36, scrambled);
  for (Vertex& v : scrambled) v.normal = {0.3f, -0.2f, 0.9f};
  FaceGroup group{0, 36, {}, {}, Quality::gouraud};
  Mesh m = mesh_create(*r, scrambled, {&group, 1});
  ASSERT_TRUE(mesh_recompute_normals(*r, m));
  std::span<const Vertex> got = mesh_vertices(*r, m);
  for (int i = 0; i < 36; ++i) expect_near(got[i].normal, box[i].normal, ("vertex " + std::to_string(i)).c_str());
}

TEST(SceneMeshes, RecomputedNormalsAreSmoothAcrossShallowEdgesOnly) {
  // Two triangles meeting along the x axis, rising to z = rise at y = 1 and y = -1.
  struct Case {
    float rise;
    bool smooth;  // the faces are 53 degrees apart at 0.5, 127 at 2
  } cases[] = {{0.5f, true}, {2, false}};
  for (const Case& c : cases) {
    Owned r(create_without_gl());
    Vertex ridge[6] = {at({0, 0, 0}), at({1, 0, 0}), at({0, 1, c.rise}), at({0, 0, 0}), at({0, -1, c.rise}), at({1, 0, 0})};
    FaceGroup group{0, 6, {}, {}, Quality::gouraud};
    Mesh m = mesh_create(*r, ridge, {&group, 1});
    ASSERT_TRUE(mesh_recompute_normals(*r, m));
    std::span<const Vertex> got = mesh_vertices(*r, m);
    Vec3 upper = normalise(Vec3{0, -c.rise, 1}), lower = normalise(Vec3{0, c.rise, 1});
    Vec3 on_edge_upper = c.smooth ? Vec3{0, 0, 1} : upper, on_edge_lower = c.smooth ? Vec3{0, 0, 1} : lower;
    expect_near(got[0].normal, on_edge_upper, "edge, upper face");
    expect_near(got[1].normal, on_edge_upper, "edge end, upper face");
    expect_near(got[2].normal, upper, "upper corner");
    expect_near(got[3].normal, on_edge_lower, "edge, lower face");
    expect_near(got[4].normal, lower, "lower corner");
  }
}

TEST(SceneMeshes, AFullVertexPoolReportsFullAndClosesUpHoles) {
  Owned r(create_without_gl());
  Vertex triangle[3] = {at({0, 0, 0}), at({0, 1, 0}), at({1, 0, 0})};
  FaceGroup one{0, 3, {}, {}, Quality::flat};
  Mesh small = mesh_create(*r, triangle, {&one, 1});
  std::vector<Vertex> big(kMaxMeshVertices - 3);
  big.front().position = {1, 2, 3};
  big.back().position = {4, 5, 6};
  FaceGroup none{0, 0, {}, {}, Quality::flat};
  Mesh large = mesh_create(*r, big, {&none, 1});
  ASSERT_TRUE(valid(small));
  ASSERT_TRUE(valid(large));
  EXPECT_FALSE(valid(mesh_create(*r, triangle, {&one, 1})));
  EXPECT_EQ(std::string(last_error(*r)), "full: mesh vertices");
  // The freed run is at the pool's start: the large mesh moves down to make room at the top.
  mesh_destroy(*r, small);
  Mesh again = mesh_create(*r, triangle, {&one, 1});
  ASSERT_TRUE(valid(again));
  EXPECT_TRUE(same_vertices(mesh_vertices(*r, again), triangle));
  std::span<const Vertex> moved = mesh_vertices(*r, large);
  ASSERT_EQ(moved.size(), big.size());
  expect_near(moved.front().position, {1, 2, 3}, "first of the moved mesh");
  expect_near(moved.back().position, {4, 5, 6}, "last of the moved mesh");
  // The end of a scene empties the pool.
  release_all(*r);
  EXPECT_TRUE(valid(mesh_create(*r, big, {&none, 1})));
}

// What an editor of a mesh that several frames share does: copy it, put the
// copy on one frame, edit the copy; and what dropping a copied tree frees.
TEST(SceneMeshes, CopiesReplaceSharedMeshesAndDroppedTreesFreeTheirOwn) {
  Owned r(create_without_gl());
  Vertex triangle[3] = {at({0, 0, 0}), at({0, 1, 0}), at({1, 0, 0})};
  Material kept = material_create(*r, {{1, 0, 0, 1}});
  Material own = material_create(*r, {{0, 1, 0, 1}});
  FaceGroup red{0, 3, kept, {}, Quality::flat}, green{0, 3, own, {}, Quality::flat};
  Mesh shared = mesh_create(*r, triangle, {&red, 1});
  Frame root = frame_create(*r, {});
  Frame a = frame_create(*r, root), b = frame_create(*r, root);
  frame_add_mesh(*r, a, shared);
  frame_add_mesh(*r, b, shared);
  frame_add_mesh(*r, b, shared);
  EXPECT_EQ(mesh_frame_count(*r, shared), 3);

  Mesh copy = mesh_copy(*r, shared);
  ASSERT_TRUE(valid(copy));
  EXPECT_TRUE(same_vertices(mesh_vertices(*r, copy), triangle));
  EXPECT_EQ(mesh_frame_count(*r, copy), 0);
  EXPECT_TRUE(frame_replace_mesh(*r, a, shared, copy));
  EXPECT_FALSE(frame_replace_mesh(*r, a, shared, copy)) << "a holds the copy now";
  EXPECT_FALSE(frame_replace_mesh(*r, a, copy, Mesh{}));
  EXPECT_EQ(mesh_frame_count(*r, shared), 2);
  EXPECT_EQ(mesh_frame_count(*r, copy), 1);
  mesh_edit_vertices(*r, copy)[0].position = {5, 5, 5};
  EXPECT_EQ(mesh_vertices(*r, shared)[0].position.x, 0) << "the other frames keep the original";
  Mesh on_a[2];
  ASSERT_EQ(frame_meshes(*r, a, on_a), 1);
  EXPECT_EQ(on_a[0].id, copy.id);

  // A tree with its own mesh and material, and the shared mesh, dropped whole.
  Frame tree = frame_create(*r, root);
  Frame leaf = frame_create(*r, tree);
  Mesh mine = mesh_create(*r, triangle, {&green, 1});
  frame_add_mesh(*r, leaf, mine);
  frame_add_mesh(*r, leaf, shared);
  frame_destroy_with_meshes(*r, tree);
  EXPECT_TRUE(mesh_vertices(*r, mine).empty()) << "attached nowhere else: destroyed";
  EXPECT_EQ(mesh_frame_count(*r, shared), 2) << "still on b: kept";
  EXPECT_EQ(mesh_vertex_count(*r, shared), 3);
  EXPECT_FALSE(valid(frame_parent(*r, leaf)));
  // The tree's own material went with its mesh; the shared mesh's stayed.
  EXPECT_EQ(material_get(*r, own).colour.r, 1.0f) << "a freed slot reads as the default, white";
  Material again = material_create(*r, {{0, 0, 1, 1}});
  EXPECT_EQ(again.id, own.id) << "its slot is free again";
  EXPECT_EQ(material_get(*r, kept).colour.g, 0.0f);
  // Detaching by other means keeps the counts right.
  frame_remove_visuals(*r, b);
  EXPECT_EQ(mesh_frame_count(*r, shared), 0);
  frame_add_mesh(*r, b, shared);
  mesh_destroy(*r, shared);
  EXPECT_EQ(mesh_frame_count(*r, shared), 0);
  Mesh fresh = mesh_create(*r, triangle, {&red, 1});
  EXPECT_EQ(mesh_frame_count(*r, fresh), 0) << "a reused slot starts with no attachments";
}

// A 2 x 2 quad, scaled by 2, at (1, 0, 5) before a camera at the origin
// looking along +z (64 x 64 pixels, front 1, field 0.5, back 100).
class ScenePick : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(r);
    root = frame_create(*r, {});
    camera = frame_create(*r, root);
    view = viewport_create(*r, camera, 0, 0, 64, 64);
    quad = mesh_of(2);
    target = frame_create(*r, root);
    frame_set_position(*r, target, {}, {1, 0, 5});
    frame_set_scale(*r, target, {2, 2, 2});
    frame_add_mesh(*r, target, quad);
  }
  Mesh mesh_of(float side) {
    Vertex v[6];
    build_quad(v, side, side);
    FaceGroup group{0, 6, {}, {}, Quality::flat};
    return mesh_create(*r, v, {&group, 1});
  }

  Owned r{create_without_gl()};
  Frame root, camera, target;
  Viewport view;
  Mesh quad;
};

TEST_F(ScenePick, TheHitIsTheHandComputedPoint) {
  // Pixel (48, 16)'s centre is 0.515625 right and 0.484375 up of the view's
  // centre: at depth 5 that is (1.2890625, 1.2109375), in the frame (0.14453125,
  // 0.60546875), above the quad's diagonal: its second triangle.
  PickResult hit;
  ASSERT_TRUE(pick(*r, view, root, 48, 16, hit));
  EXPECT_EQ(hit.frame.id, target.id);
  EXPECT_EQ(hit.mesh.id, quad.id);
  EXPECT_EQ(hit.triangle, 1);
  expect_near(hit.point, {1.2890625f, 1.2109375f, 5}, "scene point");
  expect_near(hit.frame_point, {0.14453125f, 0.60546875f, 0}, "frame point");
  EXPECT_NEAR(hit.depth, 5, 1e-4f);
  // The same through a turned camera looking back at a turned frame.
  frame_set_position(*r, camera, {}, {0, 0, 10});
  frame_set_orientation(*r, camera, {}, {0, 0, -1}, {0, 1, 0});
  frame_set_orientation(*r, target, {}, {0, 0, -1}, {0, 1, 0});
  // The camera's right is now -x: pixel 15 (0.515625 left of centre) finds the same scene point.
  ASSERT_TRUE(pick(*r, view, root, 15, 16, hit));
  expect_near(hit.point, {1.2890625f, 1.2109375f, 5}, "turned scene point");
  expect_near(hit.frame_point, {-0.14453125f, 0.60546875f, 0}, "turned frame point");
  EXPECT_EQ(hit.triangle, 1);
}

TEST_F(ScenePick, TheRayLeadsFromTheCameraToTheHit) {
  frame_set_position(*r, camera, {}, {0, 0, -2});
  // {pixel, on the quad} -> the ray starts at the camera, has unit length and passes through the hit.
  static constexpr struct {
    int x, y;
    bool inside, hits;
  } kCases[] = {{48, 16, true, true}, {40, 30, true, true}, {0, 0, true, false},
                {63, 63, true, false}, {64, 10, false, false}, {-1, 10, false, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    Vec3 origin{7, 7, 7}, direction{7, 7, 7};
    ASSERT_EQ(pick_ray(*r, view, c.x, c.y, origin, direction), c.inside);
    if (!c.inside) {
      expect_near(origin, {7, 7, 7}, "untouched");
      continue;
    }
    expect_near(origin, {0, 0, -2}, "start");
    EXPECT_NEAR(dot(direction, direction), 1, 1e-5f);
    EXPECT_GT(direction.z, 0);
    PickResult hit;
    ASSERT_EQ(pick(*r, view, root, c.x, c.y, hit), c.hits);
    if (c.hits) expect_near(add(origin, scale(direction, dot(sub(hit.point, origin), direction))), hit.point, "on the ray");
  }
  Vec3 origin, direction;
  EXPECT_FALSE(pick_ray(*r, Viewport{}, 1, 1, origin, direction)) << "no viewport";
}

TEST_F(ScenePick, WhatIsPickedAndWhatIsPassedOver) {
  enum Setup { beside, outside_view, blocker, blocker_pick_off, blocker_render_off, blocker_parent_off, back_face,
               clipped, clip_keeps, beyond_back, root_pick_off };
  struct Case {
    Setup setup;
    int x, y;
    int want;  // 0 nothing, 1 the target, 2 the blocker
  } cases[] = {{beside, 8, 32, 0},        {outside_view, 64, 16, 0},     {blocker, 48, 16, 2},
               {blocker_pick_off, 48, 16, 1}, {blocker_render_off, 48, 16, 1}, {blocker_parent_off, 48, 16, 1},
               {back_face, 48, 16, 0},    {clipped, 48, 16, 0},          {clip_keeps, 48, 16, 1},
               {beyond_back, 48, 16, 0},  {root_pick_off, 48, 16, 0}};
  for (const Case& c : cases) {
    Frame parent = frame_create(*r, root);
    Frame blocking = frame_create(*r, parent);  // a wide quad at depth 3
    frame_set_position(*r, blocking, {}, {0, 0, 3});
    Mesh wide = mesh_of(10);
    switch (c.setup) {
      case blocker: frame_add_mesh(*r, blocking, wide); break;
      case blocker_pick_off: frame_add_mesh(*r, blocking, wide), frame_set_traversal(*r, blocking, kRenderEnable); break;
      case blocker_render_off: frame_add_mesh(*r, blocking, wide), frame_set_traversal(*r, blocking, kPickEnable); break;
      case blocker_parent_off: frame_add_mesh(*r, blocking, wide), frame_set_traversal(*r, parent, kRenderEnable); break;
      case back_face: frame_set_orientation(*r, target, {}, {0, 0, -1}, {0, 1, 0}); break;
      case clipped: frame_add_clip_plane(*r, target, {0.1f, 0, 0}, {-1, 0, 0}); break;     // keeps frame x <= 0.1
      case clip_keeps: frame_add_clip_plane(*r, target, {0.1f, 0, 0}, {1, 0, 0}); break;   // keeps frame x >= 0.1
      case beyond_back: viewport_set_back(*r, view, 4); break;
      case root_pick_off: frame_set_traversal(*r, root, kRenderEnable); break;
      default: break;
    }
    PickResult hit;
    bool found = pick(*r, view, root, c.x, c.y, hit);
    EXPECT_EQ(found, c.want != 0) << c.setup;
    if (found) {
      EXPECT_EQ(hit.frame.id, c.want == 1 ? target.id : blocking.id) << c.setup;
    }
    frame_destroy(*r, parent);
    mesh_destroy(*r, wide);
    frame_set_orientation(*r, target, {}, {0, 0, 1}, {0, 1, 0});
    frame_clear_clip_planes(*r, target);
    viewport_set_back(*r, view, 100);
    frame_set_traversal(*r, root, kRenderEnable | kPickEnable);
  }
}

}  // namespace
}  // namespace scene
