// The polygon-level collision test: a mesh part's triangles in its own space
// with a tree of bounding boxes built once and kept, and the triangle-against-
// triangle test of two placed parts with the contact it reports. Plain
// geometry: no world, no renderer, no allocation per test.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/scene/scene.h"

namespace engine {

// One node of a part's tree: an axis-aligned box in the part's space around
// the triangles below it.
struct PolyNode {
  float lo[3], hi[3];
  std::int32_t first;  // a leaf: its first triangle; an inner node: its first child (the second follows it)
  std::int32_t count;  // a leaf: its triangles (1..kPolyLeafTriangles); an inner node: 0
};
static_assert(sizeof(PolyNode) == 32);

struct PolyTriangle {
  scene::Vec3 v[3];     // the part's space, in the order of the vertex list
  std::int32_t source;  // its number in the vertex list (vertices 3 source .. 3 source + 2)
};

inline constexpr int kPolyLeafTriangles = 4;
inline constexpr int kPolyMaxTriangles = 1 << 24;  // a part's triangles past these are ignored
// Bytes a part keeps per triangle: its corners with its number (40) and its
// share of the tree. Every leaf but the last holds kPolyLeafTriangles, so a
// tree over n triangles has 2 ceil(n / 4) - 1 nodes: 16 bytes a triangle for
// large parts (at most one node, 32 bytes, for a part of one triangle).
inline constexpr int kPolyBytesPerTriangle =
    sizeof(PolyTriangle) + 2 * sizeof(PolyNode) / kPolyLeafTriangles;  // 56 for large parts

// A mesh part: its triangles (3 vertices each, not indexed, as the scene layer
// holds them) reordered for the tree, and the tree. The buffers are sized from
// the triangle count when built and reused by later builds and refits.
struct PolyMesh {
  std::vector<PolyTriangle> triangles;  // in tree order
  std::vector<PolyNode> nodes;          // node 0 the root; children after their parent
  int triangle_count = 0;
  int node_count = 0;
  scene::Vec3 centre;                   // bounding sphere in the part's space
  float radius = -1;                    // -1: no triangles
};

// Builds the part from a vertex list (3 vertices a triangle; vertices past the
// last whole triangle are ignored). O(n log n); allocates only when the part
// grows past what it held before. Triangles with coordinates that are not
// finite stay in the list and never touch anything.
void poly_build(PolyMesh& mesh, std::span<const scene::Vertex> vertices);
// After the vertices moved: takes the new positions and recomputes every box
// of the kept tree, in O(n) and without allocating. The list must hold the
// triangles the part was built from (false, leaving it unchanged, when its
// triangle count differs). The tree stays valid, if less tight than a rebuild.
bool poly_refit(PolyMesh& mesh, std::span<const scene::Vertex> vertices);

// What a contact reports, in scene space:
//   point[1], point[2]  the ends of the intersection of the first touching
//                       triangle pair found, the lesser first (by x, then y,
//                       then z); for coplanar triangles, the two corners of
//                       their common area farthest apart. Equal when they
//                       touch at one point.
//   point[0]            the midpoint of point[1] and point[2].
//   normal[0]           unit normal of the pair's triangle of part a: (v1 - v0)
//                       x (v2 - v0) in scene space, normalised (out of the
//                       front face for the scene layer's clockwise triangles).
//   normal[1]           the same for the triangle of part b.
//   normal[2]           normal[0] - normal[1], normalised: for facing
//                       surfaces the direction that moves b out of a; zero when
//                       both triangles face the same way.
struct PolyContact {
  scene::Vec3 point[3];
  scene::Vec3 normal[3];
};

// True when a triangle of part a, placed in the scene by place_a (any affine
// placement, scale included), touches or crosses a triangle of part b placed
// by place_b; then contact is filled (else left as it was). A part wholly
// inside the other touches none of its triangles. Degenerate triangles (no
// area), coordinates that are not finite and singular placements never touch.
bool poly_collide(const PolyMesh& a, const scene::Mat4& place_a, const PolyMesh& b, const scene::Mat4& place_b,
                  PolyContact& contact);

// The triangle test itself, in one space: true when the triangles touch or
// cross, with the ends of their intersection in p and q (see PolyContact).
bool triangles_touch(const scene::Vec3 a[3], const scene::Vec3 b[3], scene::Vec3& p, scene::Vec3& q);

// A scene value in position sub-units (value x 512000), rounded half away from
// zero and saturated to -2147483648..2147483647; NaN gives 0. Unit normals
// give components in -512000..512000.
std::int32_t scene_to_sub_units(float value);

}  // namespace engine
