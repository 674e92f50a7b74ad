// The polygon-level collision test: triangle pairs with hand-computed contacts,
// placed box meshes, a 10,000-triangle sphere crossed by a moving box, refits,
// and the conversion of contacts to sub-units.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/poly_collide.h"

namespace {

using engine::PolyContact;
using engine::PolyMesh;
using engine::PolyTriangle;
using scene::Mat4;
using scene::Vec3;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kHalfRoot2 = 0.70710677f;

void expect_vec(Vec3 got, Vec3 want, const char* what) {
  EXPECT_FLOAT_EQ(got.x, want.x) << what;
  EXPECT_FLOAT_EQ(got.y, want.y) << what;
  EXPECT_FLOAT_EQ(got.z, want.z) << what;
}

std::vector<scene::Vertex> soup(std::initializer_list<Vec3> corners) {
  std::vector<scene::Vertex> out;
  for (Vec3 c : corners) out.push_back({c, {}, 0, 0});
  return out;
}

PolyMesh built(const std::vector<scene::Vertex>& vertices) {
  PolyMesh mesh;
  engine::poly_build(mesh, vertices);
  return mesh;
}

Mat4 matrix(const float m[16]) {
  Mat4 out;
  std::copy(m, m + 16, out.m);
  return out;
}

// A right triangle in z = 0 (normal -z); every case below meets it.
constexpr Vec3 kA[3] = {{0, 0, 0}, {0, 2, 0}, {2, 0, 0}};

struct PairCase {
  const char* name;
  Vec3 b[3];
  bool hit;
  Vec3 p, q;  // the contact's ends, lesser first
};

const PairCase kPairs[] = {
    // Upright in x = 0.5: crosses A from (0.5, 0, 0) to A's long edge at (0.5, 1.5, 0).
    {"crossing", {{0.5f, -1, -1}, {0.5f, 3, -1}, {0.5f, 1, 1}}, true, {0.5f, 0, 0}, {0.5f, 1.5f, 0}},
    // A corner on A's long edge, the rest above A's plane.
    {"corner on an edge", {{1, 1, 0}, {3, 3, 1}, {3, 1, 1}}, true, {1, 1, 0}, {1, 1, 0}},
    {"corner just past the edge", {{1.01f, 1, 0}, {3.01f, 3, 1}, {3.01f, 1, 1}}, false, {}, {}},
    // An edge lying in A's plane across A's long edge.
    {"edge in the plane", {{1, 0.5f, 0}, {1, 2, 0}, {1, 1, 1}}, true, {1, 0.5f, 0}, {1, 1, 0}},
    {"pierces the middle", {{0.5f, 0.5f, -1}, {0.5f, 0.5f, 1}, {1, 0.25f, 1}}, true, {0.5f, 0.5f, 0}, {0.75f, 0.375f, 0}},
    {"above, parallel", {{0, 0, 0.001f}, {0, 2, 0.001f}, {2, 0, 0.001f}}, false, {}, {}},
    {"below, tilted", {{0, 0, -0.1f}, {0, 2, -0.2f}, {2, 0, -0.3f}}, false, {}, {}},
    {"beside, upright", {{1.5f, 1, -1}, {1.5f, 1, 1}, {3, -0.5f, 0}}, false, {}, {}},
    // Coplanar: itself, shifted by 1 along x, sharing an edge, just apart.
    {"coplanar, the same", {{0, 0, 0}, {0, 2, 0}, {2, 0, 0}}, true, {0, 2, 0}, {2, 0, 0}},
    {"coplanar, overlapping", {{1, 0, 0}, {1, 2, 0}, {3, 0, 0}}, true, {1, 1, 0}, {2, 0, 0}},
    {"coplanar, a shared edge", {{0, 0, 0}, {2, 0, 0}, {0, -2, 0}}, true, {0, 0, 0}, {2, 0, 0}},
    {"coplanar, inside", {{0.25f, 0.25f, 0}, {0.25f, 0.75f, 0}, {0.75f, 0.25f, 0}}, true, {0.25f, 0.75f, 0},
     {0.75f, 0.25f, 0}},
    {"coplanar, apart", {{2.001f, 0, 0}, {2.001f, 2, 0}, {4, 0, 0}}, false, {}, {}},
    // Never a contact: no area, not a number.
    {"degenerate, a line through A", {{0, 0, -1}, {0.5f, 0.5f, 0}, {1, 1, 1}}, false, {}, {}},
    {"degenerate, a point in A", {{0.5f, 0.5f, 0}, {0.5f, 0.5f, 0}, {0.5f, 0.5f, 0}}, false, {}, {}},
    {"NaN corner", {{0.5f, -1, -1}, {0.5f, kNaN, -1}, {0.5f, 1, 1}}, false, {}, {}},
    {"infinite corner", {{0.5f, -1, -1}, {0.5f, 3, -1}, {0.5f, 1, kInf}}, false, {}, {}},
};

TEST(PolyCollide, TrianglePairs) {
  for (const PairCase& c : kPairs) {
    SCOPED_TRACE(c.name);
    Vec3 p{9, 9, 9}, q{9, 9, 9};
    ASSERT_EQ(engine::triangles_touch(kA, c.b, p, q), c.hit);
    if (c.hit) {
      expect_vec(p, c.p, "p");
      expect_vec(q, c.q, "q");
    }
    // The same through two one-triangle parts, either way round.
    PolyMesh a = built(soup({kA[0], kA[1], kA[2]})), b = built(soup({c.b[0], c.b[1], c.b[2]}));
    PolyContact ab, ba;
    ASSERT_EQ(engine::poly_collide(a, Mat4{}, b, Mat4{}, ab), c.hit);
    ASSERT_EQ(engine::poly_collide(b, Mat4{}, a, Mat4{}, ba), c.hit);
    if (!c.hit) continue;
    expect_vec(ab.point[1], c.p, "point 1");
    expect_vec(ab.point[2], c.q, "point 2");
    expect_vec(ab.point[0], {(c.p.x + c.q.x) / 2, (c.p.y + c.q.y) / 2, (c.p.z + c.q.z) / 2}, "point 0");
    expect_vec(ab.normal[0], {0, 0, -1}, "A's normal");
    expect_vec(ba.normal[1], {0, 0, -1}, "A's normal, second");
    expect_vec(ab.normal[1], ba.normal[0], "the other normal");
  }
}

// The crossing pair's normals: A's (0, 0, -1); the upright one's (1, 0, 0) from
// (0, 4, 0) x (0, 2, 2); their difference (-1, 0, -1) normalised.
TEST(PolyCollide, CrossingPairNormals) {
  PolyMesh a = built(soup({kA[0], kA[1], kA[2]}));
  PolyMesh b = built(soup({{0.5f, -1, -1}, {0.5f, 3, -1}, {0.5f, 1, 1}}));
  PolyContact c;
  ASSERT_TRUE(engine::poly_collide(a, Mat4{}, b, Mat4{}, c));
  expect_vec(c.normal[0], {0, 0, -1}, "normal 0");
  expect_vec(c.normal[1], {1, 0, 0}, "normal 1");
  expect_vec(c.normal[2], {-kHalfRoot2, 0, -kHalfRoot2}, "normal 2");
  // The corner on A's edge: (2, 2, 1) x (2, 0, 1) = (2, 0, -4).
  PolyMesh corner = built(soup({{1, 1, 0}, {3, 3, 1}, {3, 1, 1}}));
  ASSERT_TRUE(engine::poly_collide(a, Mat4{}, corner, Mat4{}, c));
  expect_vec(c.normal[1], {0.4472136f, 0, -0.8944272f}, "corner's normal");
  // Coplanar and facing the same way: no difference.
  ASSERT_TRUE(engine::poly_collide(a, Mat4{}, a, Mat4{}, c));
  expect_vec(c.normal[2], {0, 0, 0}, "same facing");
}

// The crossing pair placed: both turned a quarter about y, doubled and moved
// (x, y, z) -> (2z + 10, 2y, -2x); or the upright one kept in its own space
// at half its width and z - 5, placed back by scale and translation.
TEST(PolyCollide, PlacedPair) {
  const float turned[16] = {0, 0, -2, 0, 0, 2, 0, 0, 2, 0, 0, 0, 10, 0, 0, 1};
  const Mat4 place = matrix(turned);
  PolyMesh a = built(soup({kA[0], kA[1], kA[2]}));
  PolyMesh b = built(soup({{0.5f, -1, -1}, {0.5f, 3, -1}, {0.5f, 1, 1}}));
  PolyContact c;
  ASSERT_TRUE(engine::poly_collide(a, place, b, place, c));
  expect_vec(c.point[0], {10, 1.5f, -1}, "point 0");
  expect_vec(c.point[1], {10, 0, -1}, "point 1");
  expect_vec(c.point[2], {10, 3, -1}, "point 2");
  expect_vec(c.normal[0], {-1, 0, 0}, "normal 0");
  expect_vec(c.normal[1], {0, 0, -1}, "normal 1");
  expect_vec(c.normal[2], {-kHalfRoot2, 0, kHalfRoot2}, "normal 2");

  PolyMesh narrow = built(soup({{0.25f, -1, -6}, {0.25f, 3, -6}, {0.25f, 1, -4}}));
  const Mat4 back = scene::multiply(scene::translation({0, 0, 5}), scene::scaling({2, 1, 1}));
  ASSERT_TRUE(engine::poly_collide(a, Mat4{}, narrow, back, c));
  expect_vec(c.point[1], {0.5f, 0, 0}, "point 1");
  expect_vec(c.point[2], {0.5f, 1.5f, 0}, "point 2");
  expect_vec(c.normal[1], {1, 0, 0}, "normal 1");
  // Moved off A, and a placement that squashes the larger part flat.
  EXPECT_FALSE(engine::poly_collide(a, scene::translation({0, 0, 1.01f}), narrow, back, c));
  EXPECT_FALSE(engine::poly_collide(a, scene::scaling({1, 0, 1}), narrow, back, c));
  const float nan_place[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, kNaN, 0, 0, 1};
  EXPECT_FALSE(engine::poly_collide(a, matrix(nan_place), narrow, back, c));
  EXPECT_FALSE(engine::poly_collide(a, Mat4{}, narrow, matrix(nan_place), c));
}

std::vector<scene::Vertex> box_vertices(Vec3 half) {
  std::vector<scene::Vertex> v(36);
  scene::build_box(v, half);
  return v;
}

// Triangle normals from the corners agree with the scene layer's own normals
// (clockwise from outside).
TEST(PolyCollide, NormalsFaceOut) {
  PolyMesh box = built(box_vertices({1, 1, 1}));
  std::vector<scene::Vertex> v = box_vertices({1, 1, 1});
  for (int t = 0; t < 12; ++t) {
    PolyMesh one = built(std::vector<scene::Vertex>(v.begin() + 3 * t, v.begin() + 3 * t + 3));
    // A small upright probe through the face's middle.
    Vec3 n = v[3 * t].normal;
    Vec3 m = scene::scale(scene::add(scene::add(v[3 * t].position, v[3 * t + 1].position), v[3 * t + 2].position),
                          1.0f / 3);
    Vec3 side = std::abs(n.x) > 0 ? Vec3{0, 0.01f, 0} : Vec3{0.01f, 0, 0};
    PolyMesh probe = built(soup({scene::sub(m, n), scene::add(m, n), scene::add(m, side)}));
    PolyContact c;
    ASSERT_TRUE(engine::poly_collide(one, Mat4{}, probe, Mat4{}, c)) << t;
    expect_vec(c.normal[0], n, "face normal");
  }
}

struct BoxCase {
  const char* name;
  Mat4 place_b;  // box a: 2 x 2 x 2 at the origin, placed by place_a
  Mat4 place_a;
  bool hit;
};

Mat4 turned_y(float angle, Vec3 at) {
  return scene::placement(at, scene::quat_from_axis_angle({0, 1, 0}, angle), {1, 1, 1});
}

const BoxCase kBoxes[] = {
    {"overlapping faces", scene::translation({1.9f, 0, 0}), {}, true},
    {"faces touching", scene::translation({2, 0, 0}), {}, true},
    {"apart", scene::translation({2.1f, 0, 0}), {}, false},
    {"diagonal apart", scene::translation({2.05f, 2.05f, 2.05f}), {}, false},
    {"corner to corner", scene::translation({2, 2, 2}), {}, true},
    {"inside, no face met", scene::scaling({0.5f, 0.5f, 0.5f}), {}, false},
    {"turned 45 degrees, corner in", turned_y(0.7853982f, {2.3f, 0, 0}), {}, true},
    {"turned 45 degrees, corner short", turned_y(0.7853982f, {2.5f, 0, 0}), {}, false},
    {"halved, crossing", scene::placement({1.4f, 0, 0}, {}, {0.5f, 0.5f, 0.5f}), {}, true},
    {"halved, apart", scene::placement({1.6f, 0, 0}, {}, {0.5f, 0.5f, 0.5f}), {}, false},
    {"a stretched along x", scene::translation({3.9f, 0, 0}), scene::scaling({3, 1, 1}), true},
    {"a stretched, apart", scene::translation({4.1f, 0, 0}), scene::scaling({3, 1, 1}), false},
    {"both moved far", scene::translation({1001.9f, -500, 0}), scene::translation({1000, -500, 0}), true},
    {"both moved far, apart", scene::translation({1002.1f, -500, 0}), scene::translation({1000, -500, 0}), false},
};

TEST(PolyCollide, BoxAgainstBox) {
  PolyMesh a = built(box_vertices({1, 1, 1})), b = built(box_vertices({1, 1, 1}));
  ASSERT_EQ(a.triangle_count, 12);
  for (const BoxCase& c : kBoxes) {
    SCOPED_TRACE(c.name);
    PolyContact ab, ba;
    ASSERT_EQ(engine::poly_collide(a, c.place_a, b, c.place_b, ab), c.hit);
    ASSERT_EQ(engine::poly_collide(b, c.place_b, a, c.place_a, ba), c.hit);
    if (!c.hit) continue;
    for (const PolyContact* k : {&ab, &ba}) {
      for (int n = 0; n < 2; ++n) EXPECT_NEAR(scene::modulus(k->normal[n]), 1, 1e-6);
      // The contact lies on both boxes: inside each, in its own space, and within reach of a face.
      for (Vec3 p : k->point) {
        for (const Mat4* place : {&c.place_a, &c.place_b}) {
          // Only rigid and scaled placements here: undo them by the inverse of their columns.
          float sx = scene::modulus({place->m[0], place->m[1], place->m[2]});
          float sy = scene::modulus({place->m[4], place->m[5], place->m[6]});
          float sz = scene::modulus({place->m[8], place->m[9], place->m[10]});
          Vec3 d = scene::sub(p, {place->m[12], place->m[13], place->m[14]});
          Vec3 local{scene::dot(d, {place->m[0], place->m[1], place->m[2]}) / (sx * sx),
                     scene::dot(d, {place->m[4], place->m[5], place->m[6]}) / (sy * sy),
                     scene::dot(d, {place->m[8], place->m[9], place->m[10]}) / (sz * sz)};
          float far = std::max({std::abs(local.x), std::abs(local.y), std::abs(local.z)});
          EXPECT_NEAR(far, 1, 1e-3) << p.x << " " << p.y << " " << p.z;
        }
      }
    }
    // Normals name each part's own triangle: swapped when the parts are.
    expect_vec(ab.normal[0], ba.normal[1], "a's normal");
    expect_vec(ab.normal[1], ba.normal[0], "b's normal");
  }
}

TEST(PolyCollide, EmptyAndBrokenParts) {
  PolyMesh box = built(box_vertices({1, 1, 1}));
  PolyMesh empty = built({});
  PolyContact c;
  c.point[0] = {7, 7, 7};
  EXPECT_EQ(empty.node_count, 0);
  EXPECT_FALSE(engine::poly_collide(box, Mat4{}, empty, Mat4{}, c));
  EXPECT_FALSE(engine::poly_collide(empty, Mat4{}, box, Mat4{}, c));
  // Two whole triangles of 7 vertices; the last is ignored.
  std::vector<scene::Vertex> seven = box_vertices({1, 1, 1});
  seven.resize(7);
  EXPECT_EQ(built(seven).triangle_count, 2);
  // A part that is all NaN, and one whose every other triangle is.
  std::vector<scene::Vertex> broken = box_vertices({1, 1, 1});
  for (scene::Vertex& v : broken) v.position.y = kNaN;
  EXPECT_FALSE(engine::poly_collide(box, Mat4{}, built(broken), Mat4{}, c));
  broken = box_vertices({1, 1, 1});
  for (std::size_t i = 0; i < broken.size(); i += 6) broken[i].position.x = kNaN;
  PolyMesh half_broken = built(broken);
  EXPECT_FALSE(engine::poly_collide(box, Mat4{}, half_broken, scene::translation({2.1f, 0, 0}), c));
  EXPECT_TRUE(engine::poly_collide(box, Mat4{}, half_broken, scene::translation({1.9f, 0, 0}), c));
  for (Vec3 p : c.point) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
}

// ---- A 10,000-triangle sphere --------------------------------------------------------------

constexpr float kSphereRadius = 10;

// A sphere of slices x stacks corners: 2 x slices x (stacks - 1) triangles, its
// faces within 0.01 inside the true sphere.
std::vector<scene::Vertex> sphere_vertices(float radius, int slices = 100, int stacks = 51) {
  auto corner = [&](int i, int j) {
    double theta = M_PI * j / stacks, phi = 2 * M_PI * i / slices;
    return Vec3{static_cast<float>(radius * std::sin(theta) * std::cos(phi)),
                static_cast<float>(radius * std::cos(theta)),
                static_cast<float>(radius * std::sin(theta) * std::sin(phi))};
  };
  std::vector<scene::Vertex> out;
  for (int j = 0; j < stacks; ++j)
    for (int i = 0; i < slices; ++i) {
      Vec3 a = corner(i, j), b = corner(i + 1, j), c = corner(i, j + 1), d = corner(i + 1, j + 1);
      if (j > 0) out.insert(out.end(), {{a, {}, 0, 0}, {b, {}, 0, 0}, {c, {}, 0, 0}});
      if (j < stacks - 1) out.insert(out.end(), {{b, {}, 0, 0}, {d, {}, 0, 0}, {c, {}, 0, 0}});
    }
  return out;
}

// Nearest and farthest distance from the origin of a box of half-size h placed by m (rigid).
void box_reach(const Mat4& m, float h, double& nearest, double& farthest) {
  Mat4 inverse = scene::rigid_inverse(m);
  Vec3 o = scene::transform_point(inverse, {0, 0, 0});
  double sq = 0;
  for (float c : {o.x, o.y, o.z}) {
    double out = std::max(0.0, std::abs(double{c}) - h);
    sq += out * out;
  }
  nearest = std::sqrt(sq);
  farthest = 0;
  for (int k = 0; k < 8; ++k) {
    Vec3 corner = scene::transform_point(m, {k & 1 ? h : -h, k & 2 ? h : -h, k & 4 ? h : -h});
    farthest = std::max(farthest, double{scene::modulus(corner)});
  }
}

TEST(PolyCollide, BoxAlongPathsThroughSphere) {
  PolyMesh sphere = built(sphere_vertices(kSphereRadius));
  ASSERT_EQ(sphere.triangle_count, 10000);
  EXPECT_EQ(sphere.node_count, 4999);  // 2500 full leaves
  PolyMesh box = built(box_vertices({0.5f, 0.5f, 0.5f}));
  struct Path {
    Vec3 from, step, axis;
  };
  const Path paths[] = {
      {{0, 0.3f, 0.2f}, {0.02f, 0, 0}, {0.3f, 1, 0.2f}},
      {{-14, -3, 2}, {0.02f, 0.005f, -0.001f}, {1, 0, 0}},
      {{0.1f, 14, 0.1f}, {0, -0.02f, 0}, {0, 0, 1}},  // through the pole
  };
  int hits = 0, misses = 0;
  for (const Path& path : paths) {
    for (int s = 0; s < 1400; ++s) {
      Vec3 at = scene::add(path.from, scene::scale(path.step, static_cast<float>(s)));
      Mat4 place = scene::placement(at, scene::quat_from_axis_angle(path.axis, 0.05f * s), {1, 1, 1});
      double nearest, farthest;
      box_reach(place, 0.5f, nearest, farthest);
      // Faces lie between R - 0.01 and R: skip the positions in between.
      bool expect_hit = nearest < kSphereRadius - 0.02 && farthest > kSphereRadius + 0.001;
      bool expect_miss = farthest < kSphereRadius - 0.02 || nearest > kSphereRadius + 0.001;
      if (!expect_hit && !expect_miss) continue;
      PolyContact c;
      bool hit = engine::poly_collide(sphere, Mat4{}, box, place, c);
      ASSERT_EQ(hit, expect_hit) << "path " << (&path - paths) << " step " << s;
      if (!hit) {
        ++misses;
        continue;
      }
      ++hits;
      // The contact is on the sphere's faces, and the sphere's normal points out.
      for (Vec3 p : c.point) EXPECT_NEAR(scene::modulus(p), kSphereRadius, 0.02);
      EXPECT_GT(scene::dot(c.normal[0], c.point[0]), 0.99f * kSphereRadius);
    }
  }
  EXPECT_GT(hits, 100);
  EXPECT_GT(misses, 1000);
}

TEST(PolyCollide, RefitFollowsMovedVertices) {
  PolyMesh sphere = built(sphere_vertices(kSphereRadius));
  PolyMesh box = built(box_vertices({0.5f, 0.5f, 0.5f}));
  PolyContact c;
  const Mat4 at10 = scene::translation({10, 0.2f, 0.1f}), at20 = scene::translation({20, 0.2f, 0.1f});
  EXPECT_TRUE(engine::poly_collide(sphere, Mat4{}, box, at10, c));
  EXPECT_FALSE(engine::poly_collide(sphere, Mat4{}, box, at20, c));
  const PolyTriangle* kept = sphere.triangles.data();
  ASSERT_TRUE(engine::poly_refit(sphere, sphere_vertices(2 * kSphereRadius)));
  EXPECT_EQ(sphere.triangles.data(), kept);  // no new buffer
  EXPECT_FALSE(engine::poly_collide(sphere, Mat4{}, box, at10, c));
  EXPECT_TRUE(engine::poly_collide(sphere, Mat4{}, box, at20, c));
  // Another triangle count: refused, the part unchanged.
  EXPECT_FALSE(engine::poly_refit(sphere, sphere_vertices(kSphereRadius, 50, 51)));
  EXPECT_TRUE(engine::poly_collide(sphere, Mat4{}, box, at20, c));
  // A rebuild of the same count keeps the buffers too.
  engine::poly_build(sphere, sphere_vertices(kSphereRadius));
  EXPECT_EQ(sphere.triangles.data(), kept);
  EXPECT_TRUE(engine::poly_collide(sphere, Mat4{}, box, at10, c));
}

// ---- Sub-units ---------------------------------------------------------------------------

TEST(PolyCollide, SubUnits) {
  const struct {
    float value;
    std::int32_t want;
  } cases[] = {
      {0, 0},
      {1, 512000},
      {-1, -512000},
      {kHalfRoot2, 362039},
      {1.0f / 8192, 63},  // 62.5 rounds away from zero
      {-1.0f / 8192, -63},
      {1.0f / (1 << 20), 0},  // 0.488...
      {4194, 2147328000},
      {4195, 2147483647},
      {-4195, -2147483647 - 1},
      {1e30f, 2147483647},
      {kInf, 2147483647},
      {-kInf, -2147483647 - 1},
      {kNaN, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(engine::scene_to_sub_units(c.value), c.want) << c.value;
}

}  // namespace
