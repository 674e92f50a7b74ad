// The polygon-level collision test: each part's tree of boxes (median splits
// along the longest axis, refitted bottom-up), the descent of two trees with
// the smaller part carried into the larger one's space, and the triangle test
// (the planes' intersection line cut by both triangles; clipping for coplanar
// ones), all in double precision over the parts' float corners.
#include "engine/poly_collide.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace engine {

namespace {

// ---- Double-precision vectors and affine maps ----------------------------------------------

struct D3 {
  double x = 0, y = 0, z = 0;
};
D3 operator+(D3 a, D3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
D3 operator-(D3 a, D3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
D3 operator*(D3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(D3 a, D3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3 cross(D3 a, D3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double length(D3 a) { return std::sqrt(dot(a, a)); }
D3 unit(D3 a) {
  double l = length(a);
  return l > 0 && std::isfinite(l) ? a * (1 / l) : D3{};
}
D3 widen(scene::Vec3 v) { return {v.x, v.y, v.z}; }
// To float, beyond its range saturated (NaN stays NaN).
float narrow(double v) { return static_cast<float>(std::clamp(v, -double{FLT_MAX}, double{FLT_MAX})); }
scene::Vec3 narrow(D3 v) { return {narrow(v.x), narrow(v.y), narrow(v.z)}; }
double component(D3 v, int k) { return k == 0 ? v.x : k == 1 ? v.y : v.z; }

// Lexicographic order by x, then y, then z.
bool before(D3 a, D3 b) {
  if (a.x != b.x) return a.x < b.x;
  if (a.y != b.y) return a.y < b.y;
  return a.z < b.z;
}

// p' = r p + t.
struct Affine {
  double r[3][3];
  double t[3];
};

Affine affine_of(const scene::Mat4& m) {
  Affine a;
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) a.r[row][col] = m.m[col * 4 + row];
    a.t[row] = m.m[12 + row];
  }
  return a;
}

D3 apply(const Affine& a, D3 p) {
  return {a.r[0][0] * p.x + a.r[0][1] * p.y + a.r[0][2] * p.z + a.t[0],
          a.r[1][0] * p.x + a.r[1][1] * p.y + a.r[1][2] * p.z + a.t[1],
          a.r[2][0] * p.x + a.r[2][1] * p.y + a.r[2][2] * p.z + a.t[2]};
}

// False for a singular map or one that is not finite.
bool invert(const Affine& a, Affine& out) {
  const double(*r)[3] = a.r;
  double c00 = r[1][1] * r[2][2] - r[1][2] * r[2][1];
  double c01 = r[1][2] * r[2][0] - r[1][0] * r[2][2];
  double c02 = r[1][0] * r[2][1] - r[1][1] * r[2][0];
  double det = r[0][0] * c00 + r[0][1] * c01 + r[0][2] * c02;
  double inv = 1 / det;
  if (!std::isfinite(det) || det == 0 || !std::isfinite(inv)) return false;
  out.r[0][0] = c00 * inv;
  out.r[1][0] = c01 * inv;
  out.r[2][0] = c02 * inv;
  out.r[0][1] = (r[0][2] * r[2][1] - r[0][1] * r[2][2]) * inv;
  out.r[1][1] = (r[0][0] * r[2][2] - r[0][2] * r[2][0]) * inv;
  out.r[2][1] = (r[0][1] * r[2][0] - r[0][0] * r[2][1]) * inv;
  out.r[0][2] = (r[0][1] * r[1][2] - r[0][2] * r[1][1]) * inv;
  out.r[1][2] = (r[0][2] * r[1][0] - r[0][0] * r[1][2]) * inv;
  out.r[2][2] = (r[0][0] * r[1][1] - r[0][1] * r[1][0]) * inv;
  for (int row = 0; row < 3; ++row)
    out.t[row] = -(out.r[row][0] * a.t[0] + out.r[row][1] * a.t[1] + out.r[row][2] * a.t[2]);
  return true;
}

// a after b.
Affine compose(const Affine& a, const Affine& b) {
  Affine out;
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col)
      out.r[row][col] = a.r[row][0] * b.r[0][col] + a.r[row][1] * b.r[1][col] + a.r[row][2] * b.r[2][col];
    out.t[row] = a.r[row][0] * b.t[0] + a.r[row][1] * b.t[1] + a.r[row][2] * b.t[2] + a.t[row];
  }
  return out;
}

// The longest column: how much the map can stretch a length.
double stretch(const Affine& a) {
  double longest = 0;
  for (int col = 0; col < 3; ++col)
    longest = std::max(longest, std::sqrt(a.r[0][col] * a.r[0][col] + a.r[1][col] * a.r[1][col] +
                                          a.r[2][col] * a.r[2][col]));
  return longest;
}

// ---- The triangle test -------------------------------------------------------------------------

// Distances to a plane within this share of the largest coordinate count as on it.
constexpr double kOnPlane = 1e-6;
// A triangle whose doubled area is below this share of its longest edge squared has none.
constexpr double kNoArea = 1e-9;

// Unit normal of a triangle; false when it is degenerate.
bool plane_normal(const D3 t[3], D3& n) {
  D3 e0 = t[1] - t[0], e1 = t[2] - t[0], e2 = t[2] - t[1];
  n = cross(e0, e1);
  double area = length(n);
  double longest = std::max({dot(e0, e0), dot(e1, e1), dot(e2, e2)});
  if (!(area > kNoArea * longest)) return false;
  n = n * (1 / area);
  return true;
}

// Signed distances of t's corners to the plane (n, origin), those within eps made 0;
// false when all lie strictly on one side.
bool distances(const D3 t[3], D3 n, D3 origin, double eps, double d[3]) {
  int above = 0, below = 0;
  for (int i = 0; i < 3; ++i) {
    d[i] = dot(n, t[i] - origin);
    if (std::abs(d[i]) <= eps) d[i] = 0;
    above += d[i] > 0;
    below += d[i] < 0;
  }
  return above < 3 && below < 3;
}

// Where triangle t meets the plane its corners' distances d are to (not all 0):
// two points, equal when it touches at one corner.
void section(const D3 t[3], const double d[3], D3& p, D3& q) {
  D3 found[2];
  int n = 0;
  for (int i = 0; i < 3 && n < 2; ++i) {
    int j = (i + 1) % 3;
    if (d[i] == 0) found[n++] = t[i];
    if (n < 2 && ((d[i] < 0 && d[j] > 0) || (d[i] > 0 && d[j] < 0)))
      found[n++] = t[i] + (t[j] - t[i]) * (d[i] / (d[i] - d[j]));
  }
  p = found[0];
  q = n > 1 ? found[1] : found[0];
}

// Triangles in one plane: a clipped by the three inward planes of b's edges. The
// two corners of what remains farthest apart, when anything does.
bool coplanar_touch(const D3 a[3], const D3 b[3], D3 nb, double eps, D3& p, D3& q) {
  D3 polygon[9] = {a[0], a[1], a[2]}, clipped[9];
  int count = 3;
  for (int k = 0; k < 3 && count > 0; ++k) {
    D3 inward = unit(cross(nb, b[(k + 1) % 3] - b[k]));
    double d[9];
    for (int i = 0; i < count; ++i) {
      d[i] = dot(inward, polygon[i] - b[k]);
      if (std::abs(d[i]) <= eps) d[i] = 0;
    }
    int kept = 0;
    for (int i = 0; i < count; ++i) {
      int j = (i + 1) % count;
      if (d[i] >= 0) clipped[kept++] = polygon[i];
      if ((d[i] > 0 && d[j] < 0) || (d[i] < 0 && d[j] > 0))
        clipped[kept++] = polygon[i] + (polygon[j] - polygon[i]) * (d[i] / (d[i] - d[j]));
    }
    std::copy(clipped, clipped + kept, polygon);
    count = kept;
  }
  if (count == 0) return false;
  p = q = polygon[0];
  double farthest = -1;
  for (int i = 0; i < count; ++i)
    for (int j = i + 1; j < count; ++j) {
      double dd = dot(polygon[j] - polygon[i], polygon[j] - polygon[i]);
      if (dd > farthest) {
        farthest = dd;
        p = polygon[i];
        q = polygon[j];
      }
    }
  return true;
}

bool finite(const D3 t[3]) {
  double sum = 0;
  for (int i = 0; i < 3; ++i) sum += t[i].x * 0 + t[i].y * 0 + t[i].z * 0;
  return sum == 0;  // an infinity or NaN times 0 is NaN
}

// The segment where a and b meet (p, q in either order), if they do.
bool touch(const D3 a[3], const D3 b[3], D3& p, D3& q) {
  if (!finite(a) || !finite(b)) return false;
  D3 na, nb;
  if (!plane_normal(a, na) || !plane_normal(b, nb)) return false;
  double largest = 0;
  for (int i = 0; i < 3; ++i)
    largest = std::max({largest, std::abs(a[i].x), std::abs(a[i].y), std::abs(a[i].z), std::abs(b[i].x),
                        std::abs(b[i].y), std::abs(b[i].z)});
  double eps = kOnPlane * largest;
  double db[3], da[3];
  if (!distances(b, na, a[0], eps, db) || !distances(a, nb, b[0], eps, da)) return false;
  D3 line = cross(na, nb);
  bool flat_b = db[0] == 0 && db[1] == 0 && db[2] == 0, flat_a = da[0] == 0 && da[1] == 0 && da[2] == 0;
  if (flat_a || flat_b || length(line) < kOnPlane) return coplanar_touch(a, b, nb, eps, p, q);
  line = unit(line);
  // Both sections lie on the planes' common line: their overlap is the contact.
  D3 a0, a1, b0, b1;
  section(a, da, a0, a1);
  section(b, db, b0, b1);
  double ta0 = dot(line, a0), ta1 = dot(line, a1), tb0 = dot(line, b0), tb1 = dot(line, b1);
  if (ta0 > ta1) {
    std::swap(ta0, ta1);
    std::swap(a0, a1);
  }
  if (tb0 > tb1) {
    std::swap(tb0, tb1);
    std::swap(b0, b1);
  }
  double lo = std::max(ta0, tb0), hi = std::min(ta1, tb1);
  if (lo > hi + eps) return false;
  p = ta0 >= tb0 ? a0 : b0;
  q = lo > hi ? p : ta1 <= tb1 ? a1 : b1;
  return true;
}

// ---- Trees -------------------------------------------------------------------------------------

// The first half of a split: about half, in whole leaves, so that every leaf
// but the last is full and a tree over n triangles has 2 ceil(n / 4) - 1 nodes.
int first_half(int count) { return (count / 2 + kPolyLeafTriangles - 1) / kPolyLeafTriangles * kPolyLeafTriangles; }

int node_count(int triangles) {
  if (triangles <= 0) return 0;
  return 2 * ((triangles + kPolyLeafTriangles - 1) / kPolyLeafTriangles) - 1;
}

// A triangle's centre along an axis (times 3); 0 when it is not a number, so
// that the order stays strict.
float centre_key(const PolyTriangle& t, int axis) {
  auto c = [axis](scene::Vec3 v) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; };
  float key = c(t.v[0]) + c(t.v[1]) + c(t.v[2]);
  return key == key ? key : 0;
}

void split(PolyMesh& mesh, int node, int first, int count, int& next) {
  PolyNode& n = mesh.nodes[static_cast<std::size_t>(node)];
  n.first = first;
  n.count = count;
  if (count <= kPolyLeafTriangles) return;
  // The longest axis of the triangles' centres, split near their median.
  PolyTriangle* begin = mesh.triangles.data() + first;
  float lo[3], hi[3];
  for (int k = 0; k < 3; ++k) {
    lo[k] = hi[k] = centre_key(begin[0], k);
    for (int i = 1; i < count; ++i) {
      float key = centre_key(begin[i], k);
      lo[k] = std::min(lo[k], key);
      hi[k] = std::max(hi[k], key);
    }
  }
  int axis = 0;
  for (int k = 1; k < 3; ++k)
    if (hi[k] - lo[k] > hi[axis] - lo[axis]) axis = k;
  int half = first_half(count);
  std::nth_element(begin, begin + half, begin + count, [axis](const PolyTriangle& x, const PolyTriangle& y) {
    return centre_key(x, axis) < centre_key(y, axis);
  });
  int child = next;
  next += 2;
  n.first = child;
  n.count = 0;
  split(mesh, child, first, half, next);
  split(mesh, child + 1, first + half, count - half, next);
}

void grow(PolyNode& n, scene::Vec3 v) {
  const float c[3] = {v.x, v.y, v.z};
  for (int k = 0; k < 3; ++k) {  // comparisons skip NaN
    if (c[k] < n.lo[k]) n.lo[k] = c[k];
    if (c[k] > n.hi[k]) n.hi[k] = c[k];
  }
}

// Every box from the leaves up (children follow their parents), then the sphere.
void fit_boxes(PolyMesh& mesh) {
  constexpr float kInf = HUGE_VALF;
  for (int i = mesh.node_count - 1; i >= 0; --i) {
    PolyNode& n = mesh.nodes[static_cast<std::size_t>(i)];
    for (int k = 0; k < 3; ++k) {
      n.lo[k] = kInf;
      n.hi[k] = -kInf;
    }
    if (n.count > 0) {
      for (int t = n.first; t < n.first + n.count; ++t)
        for (scene::Vec3 v : mesh.triangles[static_cast<std::size_t>(t)].v) grow(n, v);
    } else {
      for (int c = n.first; c < n.first + 2; ++c) {
        const PolyNode& child = mesh.nodes[static_cast<std::size_t>(c)];
        for (int k = 0; k < 3; ++k) {
          n.lo[k] = std::min(n.lo[k], child.lo[k]);
          n.hi[k] = std::max(n.hi[k], child.hi[k]);
        }
      }
    }
  }
  mesh.radius = -1;
  if (mesh.node_count == 0) return;
  const PolyNode& root = mesh.nodes[0];
  if (!(root.lo[0] <= root.hi[0] && root.lo[1] <= root.hi[1] && root.lo[2] <= root.hi[2])) return;
  D3 centre{(double{root.lo[0]} + root.hi[0]) / 2, (double{root.lo[1]} + root.hi[1]) / 2,
            (double{root.lo[2]} + root.hi[2]) / 2};
  double squared = 0;
  for (int t = 0; t < mesh.triangle_count; ++t)
    for (scene::Vec3 v : mesh.triangles[static_cast<std::size_t>(t)].v) {
      double dd = dot(widen(v) - centre, widen(v) - centre);
      if (dd > squared) squared = dd;  // skips NaN
    }
  mesh.centre = narrow(centre);
  // Rounded up a little, so that the float sphere holds every corner.
  mesh.radius = narrow(std::sqrt(squared) * (1 + 1e-6));
}

void take_positions(PolyTriangle& t, std::span<const scene::Vertex> vertices) {
  for (int k = 0; k < 3; ++k) t.v[k] = vertices[static_cast<std::size_t>(t.source) * 3 + k].position;
}

// ---- The descent ------------------------------------------------------------------------------

// A node's box in the other part's space: the box round the moved box.
struct Box {
  D3 centre, half;
};
Box moved_box(const PolyNode& n, const Affine& map) {
  D3 c{(double{n.lo[0]} + n.hi[0]) / 2, (double{n.lo[1]} + n.hi[1]) / 2, (double{n.lo[2]} + n.hi[2]) / 2};
  D3 h{(double{n.hi[0]} - n.lo[0]) / 2, (double{n.hi[1]} - n.lo[1]) / 2, (double{n.hi[2]} - n.lo[2]) / 2};
  Box b;
  b.centre = apply(map, c);
  double out[3];
  for (int row = 0; row < 3; ++row)
    out[row] = std::abs(map.r[row][0]) * h.x + std::abs(map.r[row][1]) * h.y + std::abs(map.r[row][2]) * h.z;
  b.half = {out[0], out[1], out[2]};
  return b;
}

bool overlaps(const Box& b, const PolyNode& n) {
  for (int k = 0; k < 3; ++k) {
    double c = (double{n.lo[k]} + n.hi[k]) / 2, h = (double{n.hi[k]} - n.lo[k]) / 2;
    if (!(std::abs(component(b.centre, k) - c) <= component(b.half, k) + h)) return false;  // NaN: apart
  }
  return true;
}

double widest(D3 half) { return std::max({half.x, half.y, half.z}); }

void scene_corners(const PolyTriangle& t, const Affine& place, D3 out[3]) {
  for (int k = 0; k < 3; ++k) out[k] = apply(place, widen(t.v[k]));
}

}  // namespace

bool triangles_touch(const scene::Vec3 a[3], const scene::Vec3 b[3], scene::Vec3& p, scene::Vec3& q) {
  const D3 da[3] = {widen(a[0]), widen(a[1]), widen(a[2])}, db[3] = {widen(b[0]), widen(b[1]), widen(b[2])};
  D3 dp, dq;
  if (!touch(da, db, dp, dq)) return false;
  if (before(dq, dp)) std::swap(dp, dq);
  p = narrow(dp);
  q = narrow(dq);
  return true;
}

void poly_build(PolyMesh& mesh, std::span<const scene::Vertex> vertices) {
  int count = static_cast<int>(std::min<std::size_t>(vertices.size() / 3, kPolyMaxTriangles));
  mesh.triangle_count = count;
  mesh.node_count = node_count(count);
  mesh.triangles.resize(static_cast<std::size_t>(count));
  mesh.nodes.resize(static_cast<std::size_t>(mesh.node_count));
  for (int i = 0; i < count; ++i) {
    PolyTriangle& t = mesh.triangles[static_cast<std::size_t>(i)];
    t.source = i;
    take_positions(t, vertices);
  }
  if (count > 0) {
    int next = 1;
    split(mesh, 0, 0, count, next);
  }
  fit_boxes(mesh);
}

bool poly_refit(PolyMesh& mesh, std::span<const scene::Vertex> vertices) {
  if (vertices.size() / 3 != static_cast<std::size_t>(mesh.triangle_count)) return false;
  for (int i = 0; i < mesh.triangle_count; ++i) take_positions(mesh.triangles[static_cast<std::size_t>(i)], vertices);
  fit_boxes(mesh);
  return true;
}

bool poly_collide(const PolyMesh& a, const scene::Mat4& place_a, const PolyMesh& b, const scene::Mat4& place_b,
                  PolyContact& contact) {
  if (!(a.radius >= 0 && b.radius >= 0)) return false;
  const Affine in_a = affine_of(place_a), in_b = affine_of(place_b);
  // 1. Bounding spheres in the scene.
  D3 gap = apply(in_a, widen(a.centre)) - apply(in_b, widen(b.centre));
  double reach = a.radius * stretch(in_a) + b.radius * stretch(in_b);
  if (!(dot(gap, gap) <= reach * reach)) return false;

  // 2. The smaller part's boxes and triangles carried into the larger part's space.
  const bool a_larger = a.triangle_count >= b.triangle_count;
  const PolyMesh& large = a_larger ? a : b;
  const PolyMesh& small = a_larger ? b : a;
  const Affine& place_large = a_larger ? in_a : in_b;
  const Affine& place_small = a_larger ? in_b : in_a;
  Affine into_large;
  if (!invert(place_large, into_large)) return false;
  const Affine small_to_large = compose(into_large, place_small);

  // 3. Both trees, depth first; the first touching pair ends the test. A pair
  // of nodes opens the wider one (in the larger part's space) unless it is a
  // leaf. Each tree has at most 23 levels below its root (halving splits of at
  // most 2^24 triangles), and the stack holds one pair per level opened plus one.
  struct Pair {
    std::int32_t large, small;
  };
  Pair stack[64];
  int top = 0;
  stack[top++] = {0, 0};
  while (top > 0) {
    const Pair pair = stack[--top];
    const PolyNode& nl = large.nodes[static_cast<std::size_t>(pair.large)];
    const PolyNode& ns = small.nodes[static_cast<std::size_t>(pair.small)];
    const Box moved = moved_box(ns, small_to_large);
    if (!overlaps(moved, nl)) continue;
    if (nl.count > 0 && ns.count > 0) {
      for (int i = ns.first; i < ns.first + ns.count; ++i) {
        const PolyTriangle& ts = small.triangles[static_cast<std::size_t>(i)];
        D3 moved_t[3];
        for (int k = 0; k < 3; ++k) moved_t[k] = apply(small_to_large, widen(ts.v[k]));
        for (int j = nl.first; j < nl.first + nl.count; ++j) {
          const PolyTriangle& tl = large.triangles[static_cast<std::size_t>(j)];
          const D3 large_t[3] = {widen(tl.v[0]), widen(tl.v[1]), widen(tl.v[2])};
          D3 p, q;
          if (!touch(moved_t, large_t, p, q)) continue;
          // The contact in scene space (see PolyContact).
          p = apply(place_large, p);
          q = apply(place_large, q);
          if (before(q, p)) std::swap(p, q);
          contact.point[0] = narrow((p + q) * 0.5);
          contact.point[1] = narrow(p);
          contact.point[2] = narrow(q);
          D3 ta[3], tb[3];
          scene_corners(a_larger ? tl : ts, in_a, ta);
          scene_corners(a_larger ? ts : tl, in_b, tb);
          D3 na = unit(cross(ta[1] - ta[0], ta[2] - ta[0])), nb = unit(cross(tb[1] - tb[0], tb[2] - tb[0]));
          contact.normal[0] = narrow(na);
          contact.normal[1] = narrow(nb);
          contact.normal[2] = narrow(unit(na - nb));
          return true;
        }
      }
      continue;
    }
    if (top + 2 > static_cast<int>(std::size(stack))) return false;  // deeper than any tree built here
    bool open_small = nl.count > 0 || (ns.count == 0 && widest(moved.half) > (std::max({nl.hi[0] - nl.lo[0],
                                                                                         nl.hi[1] - nl.lo[1],
                                                                                         nl.hi[2] - nl.lo[2]}) /
                                                                               2.0));
    // The first child is pushed last, so that it is taken first.
    if (open_small) {
      stack[top++] = {pair.large, ns.first + 1};
      stack[top++] = {pair.large, ns.first};
    } else {
      stack[top++] = {nl.first + 1, pair.small};
      stack[top++] = {nl.first, pair.small};
    }
  }
  return false;
}

std::int32_t scene_to_sub_units(float value) {
  double x = static_cast<double>(value) * 512000.0;
  if (!(x == x)) return 0;
  if (x >= 2147483647.0) return 2147483647;
  if (x <= -2147483648.0) return -2147483647 - 1;
  return static_cast<std::int32_t>(std::lround(x));
}

}  // namespace engine
