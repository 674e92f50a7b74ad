// The polygon collision routines: the two collision part paths, the test of
// two parts' triangles in the scene (`h_poly_collision`) and the read-back of
// the contact it found.
//
// Each scene mesh keeps one tree in its own space (MeshParts::poly), built on
// its first test and refitted when the mesh's edit count has moved on; a test
// takes the frames' scene transforms as they are at that moment, so a mesh
// shared by many frames, or moved every tick, costs no rebuild.
#include <algorithm>
#include <cmath>
#include <span>

#include "brain/brain.h"
#include "engine/engine_local.h"
#include "engine/poly_collide.h"
#include "engine/render/parts.h"
#include "engine/render/render_local.h"

namespace engine {

namespace {

// Budget units (one a jump back) of a test: a call, a pair of meshes whose
// spheres meet, and a triangle that a tree is built or refitted over.
constexpr std::int64_t kCallCost = 500;
constexpr std::int64_t kPairCost = 500;
constexpr std::int64_t kTrianglesPerUnit = 1;

// The longest column of a transform: how much it can stretch a length.
float stretch(const scene::Mat4& m) {
  float longest = 0;
  for (int col = 0; col < 3; ++col) {
    const float* c = &m.m[col * 4];
    longest = std::max(longest, std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]));
  }
  return longest;
}

// The mesh's kept tree, brought up to its vertices: built when new or when its
// vertex count changed, refitted when an edit was noted or its vertices moved
// in the pool. Null when the budget is spent on the way.
const PolyMesh* kept_tree(Scene& s, scene::Mesh mesh) {
  if (mesh.id < 0 || mesh.id >= scene::kMaxMeshes) return nullptr;
  PolyCacheEntry& kept = s.parts.poly.cache[mesh.id];
  std::span<const scene::Vertex> vertices = scene::mesh_vertices(*s.renderer, mesh);
  const std::uint32_t edits = s.parts.mesh_edits[mesh.id];
  const auto count = static_cast<std::int64_t>(vertices.size());
  if (kept.vertex_count == count && kept.edits == edits && kept.vertices == vertices.data()) return &kept.tree;
  if (!brain::charge_budget(count / 3 / kTrianglesPerUnit)) return nullptr;
  if (kept.vertex_count != count || !poly_refit(kept.tree, vertices)) poly_build(kept.tree, vertices);
  kept.vertex_count = count;
  kept.edits = edits;
  kept.vertices = vertices.data();
  return &kept.tree;
}

// Adds a mesh placed by world to a side; false when the side is full.
bool take(Scene& s, int side, scene::Frame frame, scene::Mesh mesh, const scene::Mat4& world) {
  PolyState& p = s.parts.poly;
  if (p.side_count[side] == kMaxPolyMeshesPerSide) return false;
  const PolyMesh* tree = kept_tree(s, mesh);
  if (!tree || tree->radius < 0) return true;  // no triangles: nothing to touch
  PolyPlaced& placed = p.side[side][p.side_count[side]++];
  placed.mesh = mesh;
  placed.frame = frame;
  placed.world = world;
  placed.centre = scene::transform_point(world, tree->centre);
  placed.radius = tree->radius * stretch(world);
  return true;
}

// The meshes of a side: the part mesh alone, or every mesh of the part frame
// and its whole subtree (the frame's own first, in attachment order, then its
// children's subtrees in order), up to kMaxPolyMeshesPerSide.
void gather(Scene& s, int side, const Part& part, bool subtree) {
  PolyState& p = s.parts.poly;
  const scene::Renderer& r = *s.renderer;
  p.side_count[side] = 0;
  if (!subtree) {
    take(s, side, part.frame, part.mesh, scene::frame_world(r, part.frame));
    return;
  }
  walk_subtree_meshes(r, p, part.frame, [&](scene::Frame frame, std::span<const scene::Mesh> meshes) {
    if (meshes.empty()) return true;
    const scene::Mat4 world = scene::frame_world(r, frame);
    for (scene::Mesh mesh : meshes)
      if (!take(s, side, frame, mesh, world)) return false;
    return true;
  });
}

// Brings an element's aspect frame to its record's placement, so that a test
// sees where brains have put it in this tick (the render step places frames
// only when it draws).
void place_from_record(World& w, std::int32_t reference) {
  const project::ElementRecord* e = element_of(reference);
  if (!e || !(e->flags & project::kFlagOn)) return;
  Scene& s = *w.scene;
  const int n = aspect_index(w, e->current_aspect);
  if (n < 0 || n >= s.aspect_count || !scene::valid(s.aspect[n].frame)) return;
  AspectObject& o = s.aspect[n];
  if (o.kind == AspectKind::visual || o.kind == AspectKind::shape || o.kind == AspectKind::mesh)
    place_element_frame(s, *e, o);
}

// `h_poly_collision` a b c: the part of a (first collision path) against the
// part of b (second path); c = 0 their part meshes only, otherwise every mesh
// of the part frames and their subtrees. Spheres first, then the trees of
// each pair of meshes whose spheres meet; the first touching pair ends the
// test and its contact is kept for the read-backs.
ROUTINE(routine_h_poly_collision) {
  World* w = active_world();
  if (!w || !w->scene || !brain::charge_budget(kCallCost)) return 0;
  Scene& s = *w->scene;
  MeshParts& parts = s.parts;
  place_from_record(*w, a);
  place_from_record(*w, b);
  Part part[2];
  if (!resolve_part(*w, a, parts.collision_part[0], part[0]) || !resolve_part(*w, b, parts.collision_part[1], part[1]))
    return 0;
  for (int side = 0; side < 2; ++side) gather(s, side, part[side], c != 0);
  PolyState& p = parts.poly;
  for (int i = 0; i < p.side_count[0]; ++i) {
    const PolyPlaced& pa = p.side[0][i];
    for (int j = 0; j < p.side_count[1]; ++j) {
      const PolyPlaced& pb = p.side[1][j];
      if (pa.mesh.id == pb.mesh.id && pa.frame.id == pb.frame.id) continue;  // a mesh is not tested against itself
      const scene::Vec3 gap = scene::sub(pa.centre, pb.centre);
      const float reach = pa.radius + pb.radius;
      if (!(scene::dot(gap, gap) <= reach * reach)) continue;
      if (!brain::charge_budget(kPairCost)) return 0;
      if (poly_collide(p.cache[pa.mesh.id].tree, pa.world, p.cache[pb.mesh.id].tree, pb.world, parts.contact))
        return -1;
    }
  }
  return 0;
}

template <int Which>
ROUTINE(routine_h_cpart_set) {
  if (MeshParts* parts = active_parts()) parts->collision_part[Which] = PartPath{{a, b, c, d}, e};
  return 0;
}

// The read-backs: point or normal a (0, 1 or 2) of the last contact, one axis,
// x 512000; any other a is returned as it is.
template <bool Point, int Axis>
ROUTINE(routine_h_contact) {
  if (a < 0 || a > 2) return a;
  const MeshParts* parts = active_parts();
  if (!parts) return 0;
  const scene::Vec3 v = Point ? parts->contact.point[a] : parts->contact.normal[a];
  return scene_to_sub_units(Axis == 0 ? v.x : Axis == 1 ? v.y : v.z);
}

constexpr Binding kPolyBindings[] = {
    {"h_cpart1_set", routine_h_cpart_set<0>,
     "a, b, c, d child indexes (-1 ends), e visual index: the first part path of h_poly_collision"},
    {"h_cpart2_set", routine_h_cpart_set<1>,
     "a, b, c, d child indexes (-1 ends), e visual index: the second part path of h_poly_collision"},
    {"h_poly_collision", routine_h_poly_collision,
     "a, b element or object, c 1 with subtrees -> -1 when a's part (path 1) touches b's (path 2), else 0"},
    {"h_cpoint_x", routine_h_contact<true, 0>, "a 0 middle, 1 or 2 end of the last contact -> its x in sub-units (else a)"},
    {"h_cpoint_y", routine_h_contact<true, 1>, "a 0 middle, 1 or 2 end of the last contact -> its y in sub-units (else a)"},
    {"h_cpoint_z", routine_h_contact<true, 2>, "a 0 middle, 1 or 2 end of the last contact -> its z in sub-units (else a)"},
    {"h_cnormal_x", routine_h_contact<false, 0>,
     "a 0 first part's, 1 second's, 2 their difference: the contact's unit normal -> x x 512000 (else a)"},
    {"h_cnormal_y", routine_h_contact<false, 1>,
     "a 0 first part's, 1 second's, 2 their difference: the contact's unit normal -> y x 512000 (else a)"},
    {"h_cnormal_z", routine_h_contact<false, 2>,
     "a 0 first part's, 1 second's, 2 their difference: the contact's unit normal -> z x 512000 (else a)"},
};

}  // namespace

std::span<const Binding> poly_bindings() { return kPolyBindings; }

}  // namespace engine
