// Vector, quaternion and matrix helpers of the scene layer (no GL).
#include "platform/scene/scene.h"

#include <cmath>

namespace scene {

Vec3 add(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 sub(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 scale(Vec3 v, float s) { return {v.x * s, v.y * s, v.z * s}; }
float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float modulus(Vec3 v) { return std::sqrt(dot(v, v)); }
Vec3 normalise(Vec3 v) {
  float m = modulus(v);
  return m > 0 && std::isfinite(m) ? scale(v, 1 / m) : Vec3{};
}
Vec3 lerp(Vec3 a, Vec3 b, float t) { return add(a, scale(sub(b, a), t)); }

Quat quat_from_axis_angle(Vec3 axis, float angle) {
  Vec3 a = normalise(axis);
  if (a.x == 0 && a.y == 0 && a.z == 0) return {};
  float s = std::sin(angle / 2);
  return {a.x * s, a.y * s, a.z * s, std::cos(angle / 2)};
}

Quat multiply(Quat a, Quat b) {
  return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
          a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
          a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
          a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

Quat conjugate(Quat q) { return {-q.x, -q.y, -q.z, q.w}; }

Quat normalise(Quat q) {
  float m = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
  if (!(m > 0) || !std::isfinite(m)) return {};
  return {q.x / m, q.y / m, q.z / m, q.w / m};
}

Vec3 rotate(Quat q, Vec3 v) {
  // v + 2w (u x v) + 2 u x (u x v), u the vector part
  Vec3 u{q.x, q.y, q.z};
  Vec3 t = scale(cross(u, v), 2);
  return add(add(v, scale(t, q.w)), cross(u, t));
}

Quat slerp(Quat a, Quat b, float t) {
  float d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
  if (d < 0) {  // the shorter arc
    b = {-b.x, -b.y, -b.z, -b.w};
    d = -d;
  }
  float wa, wb;
  if (d > 0.9995f) {  // nearly equal: linear is exact enough and avoids sin(0)
    wa = 1 - t;
    wb = t;
  } else {
    float angle = std::acos(d);
    float s = std::sin(angle);
    wa = std::sin((1 - t) * angle) / s;
    wb = std::sin(t * angle) / s;
  }
  return normalise(Quat{a.x * wa + b.x * wb, a.y * wa + b.y * wb, a.z * wa + b.z * wb, a.w * wa + b.w * wb});
}

namespace {

// Quaternion of an orthonormal basis given as its three columns.
Quat quat_of_basis(Vec3 x, Vec3 y, Vec3 z) {
  float trace = x.x + y.y + z.z;
  Quat q;
  if (trace > 0) {
    float s = std::sqrt(trace + 1) * 2;
    q = {(y.z - z.y) / s, (z.x - x.z) / s, (x.y - y.x) / s, s / 4};
  } else if (x.x > y.y && x.x > z.z) {
    float s = std::sqrt(1 + x.x - y.y - z.z) * 2;
    q = {s / 4, (y.x + x.y) / s, (z.x + x.z) / s, (y.z - z.y) / s};
  } else if (y.y > z.z) {
    float s = std::sqrt(1 + y.y - x.x - z.z) * 2;
    q = {(y.x + x.y) / s, s / 4, (z.y + y.z) / s, (z.x - x.z) / s};
  } else {
    float s = std::sqrt(1 + z.z - x.x - y.y) * 2;
    q = {(z.x + x.z) / s, (z.y + y.z) / s, s / 4, (x.y - y.x) / s};
  }
  return normalise(q);
}

bool finite(Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

}  // namespace

Quat quat_from_direction_up(Vec3 direction, Vec3 up) {
  Vec3 z = finite(direction) ? normalise(direction) : Vec3{};
  if (modulus(z) == 0) z = {0, 0, 1};
  Vec3 x = finite(up) ? normalise(cross(up, z)) : Vec3{};
  if (modulus(x) < 0.5f) {  // up missing or parallel to direction: any perpendicular will do
    Vec3 helper = std::fabs(z.y) < 0.9f ? Vec3{0, 1, 0} : Vec3{0, 0, std::signbit(z.y) ? 1.0f : -1.0f};
    x = normalise(cross(helper, z));
  }
  Vec3 y = cross(z, x);
  return quat_of_basis(x, y, z);
}

void direction_up_of(Quat q, Vec3& direction, Vec3& up) {
  direction = rotate(q, {0, 0, 1});
  up = rotate(q, {0, 1, 0});
}

Mat4 multiply(const Mat4& a, const Mat4& b) {
  Mat4 r;
  for (int c = 0; c < 4; ++c)
    for (int row = 0; row < 4; ++row) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += a.m[k * 4 + row] * b.m[c * 4 + k];
      r.m[c * 4 + row] = s;
    }
  return r;
}

Mat4 translation(Vec3 t) {
  Mat4 r;
  r.m[12] = t.x;
  r.m[13] = t.y;
  r.m[14] = t.z;
  return r;
}

Mat4 rotation(Quat q) {
  q = normalise(q);
  float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
  float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
  float wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
  Mat4 r;
  r.m[0] = 1 - 2 * (yy + zz);
  r.m[1] = 2 * (xy + wz);
  r.m[2] = 2 * (xz - wy);
  r.m[4] = 2 * (xy - wz);
  r.m[5] = 1 - 2 * (xx + zz);
  r.m[6] = 2 * (yz + wx);
  r.m[8] = 2 * (xz + wy);
  r.m[9] = 2 * (yz - wx);
  r.m[10] = 1 - 2 * (xx + yy);
  return r;
}

Mat4 scaling(Vec3 s) {
  Mat4 r;
  r.m[0] = s.x;
  r.m[5] = s.y;
  r.m[10] = s.z;
  return r;
}

Mat4 placement(Vec3 position, Quat orientation, Vec3 s) {
  Mat4 r = rotation(orientation);
  for (int row = 0; row < 3; ++row) {
    r.m[0 + row] *= s.x;
    r.m[4 + row] *= s.y;
    r.m[8 + row] *= s.z;
  }
  r.m[12] = position.x;
  r.m[13] = position.y;
  r.m[14] = position.z;
  return r;
}

Vec3 transform_point(const Mat4& m, Vec3 p) {
  return {m.m[0] * p.x + m.m[4] * p.y + m.m[8] * p.z + m.m[12],
          m.m[1] * p.x + m.m[5] * p.y + m.m[9] * p.z + m.m[13],
          m.m[2] * p.x + m.m[6] * p.y + m.m[10] * p.z + m.m[14]};
}

Vec3 transform_direction(const Mat4& m, Vec3 d) {
  return {m.m[0] * d.x + m.m[4] * d.y + m.m[8] * d.z, m.m[1] * d.x + m.m[5] * d.y + m.m[9] * d.z,
          m.m[2] * d.x + m.m[6] * d.y + m.m[10] * d.z};
}

Mat4 rigid_inverse(const Mat4& m) {
  // Columns normalised first, so a scaled frame still gives its pure rotation.
  Vec3 c[3];
  for (int i = 0; i < 3; ++i) c[i] = normalise(Vec3{m.m[i * 4], m.m[i * 4 + 1], m.m[i * 4 + 2]});
  Vec3 t{m.m[12], m.m[13], m.m[14]};
  Mat4 r;
  for (int i = 0; i < 3; ++i) {  // transpose
    r.m[0 * 4 + i] = c[i].x;
    r.m[1 * 4 + i] = c[i].y;
    r.m[2 * 4 + i] = c[i].z;
    r.m[12 + i] = -dot(c[i], t);
  }
  return r;
}

Mat4 perspective(float front, float back, float field, float aspect) {
  Mat4 r;
  r.m[0] = front / (field * aspect);
  r.m[5] = front / field;
  r.m[10] = -(back + front) / (back - front);
  r.m[11] = -1;
  r.m[14] = -2 * back * front / (back - front);
  r.m[15] = 0;
  return r;
}

}  // namespace scene

namespace scene {

namespace {

// One face of two triangles around centre, spanned by a and b; the winding is
// chosen so that the face is clockwise when seen from the side of normal.
void put_face(Vertex* out, Vec3 centre, Vec3 a, Vec3 b, Vec3 normal) {
  // Corners and their texture coordinates, (0, 0) at a- b+.
  Vec3 p[4] = {sub(sub(centre, a), b), sub(add(centre, a), b), add(add(centre, a), b), add(sub(centre, a), b)};
  float uv[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
  int order[6] = {0, 1, 2, 0, 2, 3};
  // In this left-handed space a clockwise triangle has cross(p1 - p0, p2 - p0) along its normal.
  if (dot(cross(sub(p[1], p[0]), sub(p[2], p[0])), normal) < 0) {
    order[1] = 2;
    order[2] = 1;
    order[4] = 3;
    order[5] = 2;
  }
  for (int i = 0; i < 6; ++i) out[i] = Vertex{p[order[i]], normal, uv[order[i]][0], uv[order[i]][1]};
}

}  // namespace

int build_box(std::span<Vertex> out, Vec3 h) {
  if (out.size() < 36) return 0;
  struct Side {
    Vec3 normal, a, b;
  };
  const Side sides[6] = {
      {{1, 0, 0}, {0, 0, h.z}, {0, h.y, 0}},  {{-1, 0, 0}, {0, 0, -h.z}, {0, h.y, 0}},
      {{0, 1, 0}, {h.x, 0, 0}, {0, 0, h.z}},  {{0, -1, 0}, {h.x, 0, 0}, {0, 0, -h.z}},
      {{0, 0, 1}, {-h.x, 0, 0}, {0, h.y, 0}}, {{0, 0, -1}, {h.x, 0, 0}, {0, h.y, 0}},
  };
  for (int i = 0; i < 6; ++i) {
    Vec3 centre{sides[i].normal.x * h.x, sides[i].normal.y * h.y, sides[i].normal.z * h.z};
    put_face(out.data() + i * 6, centre, sides[i].a, sides[i].b, sides[i].normal);
  }
  return 36;
}

int build_quad(std::span<Vertex> out, float width, float height) {
  if (out.size() < 6) return 0;
  // Seen from -z looking along +z, +x is right and +y up: texel (0, 0) at the top left.
  put_face(out.data(), {0, 0, 0}, {width / 2, 0, 0}, {0, height / 2, 0}, {0, 0, -1});
  return 6;
}

}  // namespace scene
