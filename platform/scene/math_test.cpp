// Vector, quaternion and matrix helpers against hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "platform/scene/scene.h"

namespace scene {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

void expect_near(Vec3 got, Vec3 want, const char* what) {
  EXPECT_NEAR(got.x, want.x, 1e-5f) << what;
  EXPECT_NEAR(got.y, want.y, 1e-5f) << what;
  EXPECT_NEAR(got.z, want.z, 1e-5f) << what;
}

TEST(SceneMath, AxisAngleRotatesLeftHanded) {
  // Seen from the axis's positive end, a positive quarter turn is clockwise.
  struct Case {
    Vec3 axis;
    Vec3 in, out;
  } cases[] = {
      {{0, 1, 0}, {1, 0, 0}, {0, 0, -1}},
      {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
      {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
      {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
      {{0, 0, 5}, {1, 0, 0}, {0, 1, 0}},  // axis length does not matter
      {{0, 0, 0}, {1, 2, 3}, {1, 2, 3}},  // no axis, no turn
  };
  for (const Case& c : cases) expect_near(rotate(quat_from_axis_angle(c.axis, kPi / 2), c.in), c.out, "rotate");
}

TEST(SceneMath, ProductAppliesRightFactorFirst) {
  Quat y = quat_from_axis_angle({0, 1, 0}, kPi / 2);
  Quat x = quat_from_axis_angle({1, 0, 0}, kPi / 2);
  Vec3 v{0, 0, 1};
  expect_near(rotate(multiply(x, y), v), rotate(x, rotate(y, v)), "x*y");
  expect_near(rotate(multiply(x, y), v), {1, 0, 0}, "x*y value");
  expect_near(rotate(multiply(y, x), v), {0, -1, 0}, "y*x value");
}

TEST(SceneMath, DirectionUpRoundTrip) {
  struct Case {
    Vec3 direction, up;
    Vec3 want_direction, want_up;
  } cases[] = {
      {{0, 0, 1}, {0, 1, 0}, {0, 0, 1}, {0, 1, 0}},
      {{1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 1, 0}},
      {{0, 0, -3}, {0, 2, 0}, {0, 0, -1}, {0, 1, 0}},  // lengths are normalised
      {{0, 1, 0}, {0, 0, -1}, {0, 1, 0}, {0, 0, -1}},
      {{0, 0, 1}, {0, 1, 1}, {0, 0, 1}, {0, 1, 0}},    // up made orthogonal
  };
  for (const Case& c : cases) {
    Vec3 d, u;
    direction_up_of(quat_from_direction_up(c.direction, c.up), d, u);
    expect_near(d, c.want_direction, "direction");
    expect_near(u, c.want_up, "up");
  }
  // Direction along +x is a quarter turn about +y.
  Quat q = quat_from_direction_up({1, 0, 0}, {0, 1, 0});
  Quat want = quat_from_axis_angle({0, 1, 0}, kPi / 2);
  EXPECT_NEAR(std::fabs(q.x * want.x + q.y * want.y + q.z * want.z + q.w * want.w), 1, 1e-5f);
}

TEST(SceneMath, DegenerateDirectionUpStaysFinite) {
  struct Case {
    Vec3 direction, up;
  } cases[] = {
      {{0, 0, 0}, {0, 1, 0}},
      {{0, 1, 0}, {0, 1, 0}},
      {{0, -1, 0}, {0, 0, 0}},
      {{NAN, 0, 1}, {0, 1, 0}},
      {{0, 0, 1}, {INFINITY, 1, 0}},
  };
  for (const Case& c : cases) {
    Vec3 d, u;
    direction_up_of(quat_from_direction_up(c.direction, c.up), d, u);
    EXPECT_NEAR(modulus(d), 1, 1e-5f);
    EXPECT_NEAR(modulus(u), 1, 1e-5f);
    EXPECT_NEAR(dot(d, u), 0, 1e-5f);
  }
}

TEST(SceneMath, Slerp) {
  Quat a;
  Quat b = quat_from_axis_angle({0, 1, 0}, kPi / 2);
  expect_near(rotate(slerp(a, b, 0.5f), {0, 0, 1}), {std::sqrt(0.5f), 0, std::sqrt(0.5f)}, "half");
  expect_near(rotate(slerp(a, b, 0), {1, 0, 0}), {1, 0, 0}, "start");
  expect_near(rotate(slerp(a, b, 1), {1, 0, 0}), {0, 0, -1}, "end");
  // -b is the same rotation: the shorter arc is still taken.
  Quat nb{-b.x, -b.y, -b.z, -b.w};
  expect_near(rotate(slerp(a, nb, 0.5f), {0, 0, 1}), {std::sqrt(0.5f), 0, std::sqrt(0.5f)}, "negated");
  // Nearly equal quaternions do not divide by a vanishing sine.
  Quat c = quat_from_axis_angle({0, 1, 0}, 1e-6f);
  Quat s = slerp(a, c, 0.5f);
  EXPECT_TRUE(std::isfinite(s.w));
}

TEST(SceneMath, PlacementAndInverse) {
  // T(1,2,3) * R_y(90) * S(2): the point (1,0,1) goes to (2,0,-2) + (1,2,3).
  Mat4 m = placement({1, 2, 3}, quat_from_axis_angle({0, 1, 0}, kPi / 2), {2, 2, 2});
  expect_near(transform_point(m, {1, 0, 1}), {3, 2, 1}, "placement");
  Mat4 same = multiply(translation({1, 2, 3}),
                       multiply(rotation(quat_from_axis_angle({0, 1, 0}, kPi / 2)), scaling({2, 2, 2})));
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m.m[i], same.m[i], 1e-5f) << i;
  Mat4 rigid = placement({1, 2, 3}, quat_from_axis_angle({1, 1, 0}, 0.7f), {1, 1, 1});
  expect_near(transform_point(rigid_inverse(rigid), transform_point(rigid, {4, 5, 6})), {4, 5, 6}, "inverse");
}

TEST(SceneMath, PerspectiveOfNinetyDegrees) {
  // field == front: a 90-degree vertical view.
  Mat4 p = perspective(1, 100, 1, 2);
  EXPECT_FLOAT_EQ(p.m[5], 1);
  EXPECT_FLOAT_EQ(p.m[0], 0.5f);
  EXPECT_FLOAT_EQ(p.m[11], -1);
}

TEST(SceneMath, BuildersWindClockwiseFromOutside) {
  Vertex box[36];
  ASSERT_EQ(build_box(box, {1, 2, 3}), 36);
  for (int t = 0; t < 12; ++t) {
    const Vertex* v = box + t * 3;
    Vec3 n = cross(sub(v[1].position, v[0].position), sub(v[2].position, v[0].position));
    EXPECT_GT(dot(n, v[0].normal), 0) << t;
    EXPECT_GT(dot(v[0].position, v[0].normal), 0) << t;  // normals point out
  }
  Vertex small[5];
  EXPECT_EQ(build_box(small, {1, 1, 1}), 0);
  Vertex quad[6];
  ASSERT_EQ(build_quad(quad, 2, 2), 6);
  for (const Vertex& v : quad) {  // texel (0, 0) at the top left seen from -z
    EXPECT_NEAR(v.u, (v.position.x + 1) / 2, 1e-6f);
    EXPECT_NEAR(v.v, (1 - v.position.y) / 2, 1e-6f);
  }
}

}  // namespace
}  // namespace scene
