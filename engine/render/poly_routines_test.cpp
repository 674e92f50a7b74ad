// The polygon collision routines on a real scene: a plane and a spike (one
// upright triangle) placed as elements and extra model objects, where the
// contact's points and normals can be worked out by hand; part paths with
// and without subtrees; kept trees after a vertex edit; bad references.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "engine/render/parts.h"
#include "engine/render/render_local.h"
#include "engine/render/scene_fixture.h"

namespace {

using project::ElementRecord;
using scene_test::kUnit;

// The plane y = 0 over x, z in -10..10: two triangles facing +y, the first
// over x + z < 0, the second over x + z > 0.
std::vector<scene::Vertex> plane_vertices() {
  auto v = [](float x, float z) { return scene::Vertex{{x, 0, z}, {0, 1, 0}, 0, 0}; };
  return {v(-10, -10), v(-10, 10), v(10, -10), v(10, -10), v(-10, 10), v(10, 10)};
}
// An upright triangle in the plane z = 0: apex (0, 1), base from (0.5, -1) to
// (-0.5, -1), moved by (dx, 0, 0). Its normal is (0, 0, -1); it is 0.5 wide
// at its middle height.
std::vector<scene::Vertex> spike_vertices(float dx = 0) {
  auto v = [dx](float x, float y) { return scene::Vertex{{x + dx, y, 0}, {0, 0, -1}, 0, 0}; };
  return {v(0, 1), v(0.5f, -1), v(-0.5f, -1)};
}

struct Contact {
  float point[3][3];   // scene units
  float normal[3][3];  // unit vectors
};

class PolyRoutines : public scene_test::SceneFixture {
 protected:
  static std::int32_t call(std::string_view name, std::int32_t a = 0, std::int32_t b = 0, std::int32_t c = 0,
                           std::int32_t d = 0, std::int32_t e = 0) {
    return brain::routine_of(brain::find_keyword(name))(a, b, c, d, e, 0);
  }
  std::int32_t ref(int i) { return engine::reference_of(world_->tables.elements[i]); }
  engine::MeshParts& parts() { return world_->scene->parts; }

  scene::Mesh mesh(const std::vector<scene::Vertex>& vertices) {
    scene::FaceGroup g;
    g.vertex_count = static_cast<int>(vertices.size());
    scene::Mesh m = scene::mesh_create(*renderer_, vertices, std::span(&g, 1));
    EXPECT_TRUE(scene::valid(m)) << scene::last_error(*renderer_);
    return m;
  }
  // A visual element at (x, y, z) scene units; after start(), give_mesh puts
  // a mesh of our own in place of its model.
  ElementRecord& visual(int i, float x, float y, float z) {
    ElementRecord& e = element(i);
    int n = project::take_aspect(world_->tables, *load_, i, ".v3d");
    project::AspectRecord& a = world_->tables.aspects[n];
    std::string model = data_ + "bndbox.x";
    std::byte* at = project::take_arena(world_->tables, *load_, model.size() + 1);
    std::memcpy(at, model.c_str(), model.size() + 1);
    a.word[engine::kVisualModel] = static_cast<std::int32_t>(at - world_->tables.arena.data()) + 1;
    set_aspect(e, n);
    place(e, x, y, z);
    return e;
  }
  static void place(ElementRecord& e, float x, float y, float z) {
    e.position[0] = static_cast<std::int32_t>(std::lround(x * kUnit));
    e.position[1] = static_cast<std::int32_t>(std::lround(y * kUnit));
    e.position[2] = static_cast<std::int32_t>(std::lround(z * kUnit));
  }
  scene::Frame frame_of(const ElementRecord& e) {
    return engine::aspect_frame(*world_, engine::aspect_index(*world_, e.current_aspect));
  }
  void give_mesh(const ElementRecord& e, scene::Mesh m) {
    scene::frame_remove_visuals(*renderer_, frame_of(e));
    ASSERT_TRUE(scene::frame_add_mesh(*renderer_, frame_of(e), m));
  }
  // An extra model object of our own (as `x_clone` makes them): its frame at
  // the scene's origin, returned with its handle.
  std::int32_t object(scene::Frame& frame) {
    int slot = engine::take_extra_slot(parts());
    EXPECT_GE(slot, 0);
    engine::ExtraObject& x = parts().extra[slot];
    x.owned = true;
    x.frame = frame = scene::frame_create(*renderer_, world_->scene->root[engine::kMainRoot]);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(slot) | engine::kExtraBit);
  }
  scene::Frame child(scene::Frame parent, scene::Vec3 at) {
    scene::Frame f = scene::frame_create(*renderer_, parent);
    scene::frame_set_position(*renderer_, f, {}, at);
    return f;
  }
  static Contact read_contact() {
    Contact c;
    static constexpr std::string_view kPoint[3] = {"h_cpoint_x", "h_cpoint_y", "h_cpoint_z"};
    static constexpr std::string_view kNormal[3] = {"h_cnormal_x", "h_cnormal_y", "h_cnormal_z"};
    for (int i = 0; i < 3; ++i)
      for (int axis = 0; axis < 3; ++axis) {
        c.point[i][axis] = static_cast<float>(call(kPoint[axis], i)) / kUnit;
        c.normal[i][axis] = static_cast<float>(call(kNormal[axis], i)) / kUnit;
      }
    return c;
  }
};

constexpr float kNear = 1e-4f;

void expect_vec(const float (&got)[3], scene::Vec3 want, const char* what) {
  EXPECT_NEAR(got[0], want.x, kNear) << what;
  EXPECT_NEAR(got[1], want.y, kNear) << what;
  EXPECT_NEAR(got[2], want.z, kNear) << what;
}

// A plane element against a spike element moved, turned and stretched: where
// they meet, and the normals of the two triangles and of their difference.
TEST_F(PolyRoutines, SpikeThroughAPlaneGivesTheSectionAndTheNormals) {
  ElementRecord& plane = visual(1, 0, 0, 0);
  ElementRecord& spike = visual(2, 0, 0, 0);
  start();
  give_mesh(plane, mesh(plane_vertices()));
  give_mesh(spike, mesh(spike_vertices()));
  call("h_cpart1_set", -1, -1, -1, -1, 0);  // a visual element is its own part frame: the levels do not count
  call("h_cpart2_set", 7, 7, 7, 7, 0);
  const float kDiagonal = std::sqrt(0.5f);
  struct Case {
    const char* what;
    scene::Vec3 at;        // the spike's position
    int turn_y;            // its rotation about y, degrees
    int scale_x;           // thousandths
    bool hit;
    scene::Vec3 from, to;  // the section's ends, lesser first
    scene::Vec3 normal;    // the spike's normal
  };
  const Case cases[] = {
      {"middle through the plane", {-5, 0, 0}, 0, 1000, true, {-5.25f, 0, 0}, {-4.75f, 0, 0}, {0, 0, -1}},
      {"a quarter through", {-5, 0.5f, 0}, 0, 1000, true, {-5.375f, 0, 0}, {-4.625f, 0, 0}, {0, 0, -1}},
      {"base lying on the plane", {-5, 1, 0}, 0, 1000, true, {-5.5f, 0, 0}, {-4.5f, 0, 0}, {0, 0, -1}},
      {"apex touching the plane", {-5, -1, 0}, 0, 1000, true, {-5, 0, 0}, {-5, 0, 0}, {0, 0, -1}},
      {"stretched twice along x", {-5, 0, 0}, 0, 2000, true, {-5.5f, 0, 0}, {-4.5f, 0, 0}, {0, 0, -1}},
      // +z turns towards -x for a positive angle about y
      {"turned a quarter about y", {-5, 0, 2}, 90, 1000, true, {-5, 0, 1.75f}, {-5, 0, 2.25f}, {1, 0, 0}},
      {"over the second triangle", {5, 0, 3}, 0, 1000, true, {4.75f, 0, 3}, {5.25f, 0, 3}, {0, 0, -1}},
      {"just above", {-5, 1.01f, 0}, 0, 1000, false, {}, {}, {}},
      {"wholly below", {-5, -1.5f, 0}, 0, 1000, false, {}, {}, {}},
      {"beside the plane's edge, spheres meeting", {10.6f, 0, 0}, 0, 1000, false, {}, {}, {}},
      {"far away", {100, 0, 100}, 0, 1000, false, {}, {}, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    place(spike, k.at.x, k.at.y, k.at.z);
    spike.rotation[1] = k.turn_y * 512;
    spike.scale_x = k.scale_x;
    parts().contact = {};
    ASSERT_EQ(call("h_poly_collision", ref(1), ref(2), 0), k.hit ? -1 : 0);
    if (!k.hit) continue;
    Contact c = read_contact();
    // The ends in either order: those of a turned spike differ in x by rounding only.
    const bool swapped = std::abs(c.point[1][0] - k.to.x) + std::abs(c.point[1][2] - k.to.z) < kNear &&
                         std::abs(c.point[1][0] - k.from.x) + std::abs(c.point[1][2] - k.from.z) > kNear;
    expect_vec(c.point[1], swapped ? k.to : k.from, "point 1");
    expect_vec(c.point[2], swapped ? k.from : k.to, "point 2");
    expect_vec(c.point[0], scene::scale(scene::add(k.from, k.to), 0.5f), "point 0");
    expect_vec(c.normal[0], {0, 1, 0}, "normal 0 (the plane's)");
    expect_vec(c.normal[1], k.normal, "normal 1 (the spike's)");
    expect_vec(c.normal[2], scene::normalise(scene::sub({0, 1, 0}, k.normal)), "normal 2");
  }
  // The same meeting with the sides swapped: the spike's normal comes first.
  place(spike, -5, 0, 0);
  spike.rotation[1] = 0;
  spike.scale_x = 1000;
  call("h_cpart1_set", 0, 0, 0, 0, 0);
  ASSERT_EQ(call("h_poly_collision", ref(2), ref(1), 0), -1);
  Contact c = read_contact();
  expect_vec(c.normal[0], {0, 0, -1}, "normal 0");
  expect_vec(c.normal[1], {0, 1, 0}, "normal 1");
  expect_vec(c.normal[2], {0, -kDiagonal, -kDiagonal}, "normal 2");
  // In sub-units: -5.25 scene units and the unit normal times 512000.
  EXPECT_EQ(call("h_cpoint_x", 1), -5.25 * kUnit);
  EXPECT_EQ(call("h_cnormal_z", 0), -kUnit);
  EXPECT_EQ(call("h_cnormal_y", 2), std::lround(-kDiagonal * kUnit));
}

TEST_F(PolyRoutines, AMissKeepsTheLastContactAndOtherIndexesComeBackAsTheyAre) {
  ElementRecord& plane = visual(1, 0, 0, 0);
  ElementRecord& spike = visual(2, -5, 0, 0);
  start();
  give_mesh(plane, mesh(plane_vertices()));
  give_mesh(spike, mesh(spike_vertices()));
  for (std::int32_t index : {3, -1, 512000, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(call("h_cpoint_x", index), index);
    EXPECT_EQ(call("h_cnormal_z", index), index);
  }
  EXPECT_EQ(call("h_cpoint_y", 0), 0);  // no contact yet
  ASSERT_EQ(call("h_poly_collision", ref(1), ref(2), 0), -1);
  place(spike, 50, 0, 0);
  ASSERT_EQ(call("h_poly_collision", ref(1), ref(2), 0), 0);
  EXPECT_EQ(call("h_cpoint_x", 0), -5 * kUnit);
  EXPECT_EQ(call("h_cnormal_y", 0), kUnit);
}

// A model of frames: its part paths pick a frame and one of its meshes; with
// c = 1 every mesh of that frame and its subtree takes part.
TEST_F(PolyRoutines, SubtreesTakePartOnlyWhenAsked) {
  ElementRecord& plane = visual(1, 0, 0, 0);
  start();
  give_mesh(plane, mesh(plane_vertices()));
  scene::Frame root;
  std::int32_t model = object(root);
  // Child 0 at x = 20, off the plane: a spike there (mesh 0) and one moved to
  // x = -7 (mesh 1); its child at x = -5 with a spike.
  scene::Frame c0 = child(root, {20, 0, 0});
  scene::Mesh far = mesh(spike_vertices());
  scene::frame_add_mesh(*renderer_, c0, far);
  scene::frame_add_mesh(*renderer_, c0, mesh(spike_vertices(-27)));
  scene::Frame below_c0 = child(c0, {-25, 0, 0});
  scene::frame_add_mesh(*renderer_, below_c0, far);  // the same mesh on another frame
  // Child 1 at (-3, 0, -3) with a spike.
  scene::frame_add_mesh(*renderer_, child(root, {-3, 0, -3}), far);
  // Child 2 at x = 40 with a spike, and its child at (-5, 0, 2) in the scene.
  scene::Frame c2 = child(root, {40, 0, 0});
  scene::frame_add_mesh(*renderer_, c2, far);
  scene::frame_add_mesh(*renderer_, child(c2, {-45, 0, 2}), far);

  struct Case {
    std::int32_t level[4], visual, c;
    bool hit;
    scene::Vec3 middle;
  };
  const Case cases[] = {
      {{0, -1, -1, -1}, 0, 0, false, {}},
      {{0, -1, 5, 5}, 1, 0, true, {-7, 0, 0}},     // -1 ends the path: what follows does not count
      {{0, -1, -1, -1}, 0, 1, true, {-7, 0, 0}},   // the frame's own meshes come before its children's
      {{0, 0, -1, -1}, 0, 0, true, {-5, 0, 0}},
      {{1, -1, -1, -1}, 0, 0, true, {-3, 0, -3}},
      {{2, -1, -1, -1}, 0, 0, false, {}},
      {{2, -1, -1, -1}, 0, 1, true, {-5, 0, 2}},
      {{2, -1, -1, -1}, 0, -4, true, {-5, 0, 2}},  // any c but 0 takes the subtree
      {{0, -1, -1, -1}, 2, 1, false, {}},          // no visual 2: no part, even with its subtree
      {{3, -1, -1, -1}, 0, 1, false, {}},          // no child 3
      {{-1, 0, -1, -1}, 0, 1, false, {}},          // a path may not start with -1
      {{0, 0, 0, -1}, 0, 1, false, {}},            // the grandchild has no child
  };
  call("h_cpart1_set", 0, 0, 0, 0, 0);
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "path " << k.level[0] << " " << k.level[1] << " " << k.level[2] << " "
                                    << k.level[3] << " visual " << k.visual << " c " << k.c);
    call("h_cpart2_set", k.level[0], k.level[1], k.level[2], k.level[3], k.visual);
    parts().contact = {};
    ASSERT_EQ(call("h_poly_collision", ref(1), model, k.c), k.hit ? -1 : 0);
    if (k.hit) expect_vec(read_contact().point[0], k.middle, "middle");
  }
  // The paths as given.
  const engine::PartPath& p = parts().collision_part[1];
  EXPECT_EQ(p.level[0], 0);
  EXPECT_EQ(p.level[1], 0);
  EXPECT_EQ(p.level[2], 0);
  EXPECT_EQ(p.level[3], -1);
  EXPECT_EQ(p.visual, 0);
  // A part is not tested against itself when both sides reach the same mesh
  // on the same frame; another frame's copy of it still counts.
  call("h_cpart1_set", 0, -1, -1, -1, 0);
  call("h_cpart2_set", 0, -1, -1, -1, 0);
  EXPECT_EQ(call("h_poly_collision", model, model, 0), 0);
  scene::frame_set_position(*renderer_, below_c0, {}, {0, 0, 0});  // the child's copy now over mesh 0 of child 0
  EXPECT_EQ(call("h_poly_collision", model, model, 1), -1);
}

TEST_F(PolyRoutines, KeptTreesFollowVertexEdits) {
  ElementRecord& plane = visual(1, 0, 0, 0);
  ElementRecord& spike = visual(2, 0, 0, 0);
  start();
  give_mesh(plane, mesh(plane_vertices()));
  scene::Mesh m = mesh(spike_vertices(50));
  give_mesh(spike, m);
  ASSERT_EQ(call("h_poly_collision", ref(1), ref(2), 0), 0);  // the tree is built here
  // The spike's vertices moved to x = -5 (as the vertex routines move them).
  std::span<scene::Vertex> v = scene::mesh_edit_vertices(*renderer_, m);
  for (scene::Vertex& vertex : v) vertex.position.x -= 55;
  ASSERT_TRUE(scene::mesh_upload_vertices(*renderer_, m, 0, static_cast<int>(v.size())));
  engine::note_mesh_edited(parts(), m);
  ASSERT_EQ(call("h_poly_collision", ref(1), ref(2), 0), -1);
  expect_vec(read_contact().point[0], {-5, 0, 0}, "middle after the edit");
  // Once more, in another place: refitted again, the same tree kept.
  const engine::PolyNode* nodes = parts().poly.cache[m.id].tree.nodes.data();
  for (scene::Vertex& vertex : v) vertex.position.z += 4;
  engine::note_mesh_edited(parts(), m);
  ASSERT_EQ(call("h_poly_collision", ref(1), ref(2), 0), -1);
  expect_vec(read_contact().point[0], {-5, 0, 4}, "middle after the second edit");
  EXPECT_EQ(parts().poly.cache[m.id].tree.nodes.data(), nodes);
}

// Anything that names no usable part gives 0 and leaves the contact alone.
TEST_F(PolyRoutines, BadReferencesAndMissingPartsGiveNothing) {
  ElementRecord& plane = visual(1, 0, 0, 0);
  ElementRecord& spike = visual(2, -5, 0, 0);
  ElementRecord& off = visual(3, -5, 0, 0);
  int camera = project::take_aspect(world_->tables, *load_, 4, ".03d");
  set_aspect(element(4), camera);
  // Before the scene starts there is nothing to test or read.
  EXPECT_EQ(call("h_poly_collision", ref(1), ref(2), 0), 0);
  EXPECT_EQ(call("h_cpoint_x", 1), 0);
  EXPECT_EQ(call("h_cpoint_x", 5), 5);
  call("h_cpart1_set", 1, 2, 3, 4, 5);
  start();
  give_mesh(plane, mesh(plane_vertices()));
  give_mesh(spike, mesh(spike_vertices()));
  give_mesh(off, mesh(spike_vertices()));
  off.flags = 0;
  scene::Frame frame;
  std::int32_t killed = object(frame);
  scene::frame_add_mesh(*renderer_, child(frame, {-5, 0, 0}), mesh(spike_vertices()));
  call("h_cpart1_set", 0, -1, -1, -1, 0);
  call("h_cpart2_set", 0, -1, -1, -1, 0);
  ASSERT_EQ(call("h_poly_collision", killed, ref(1), 0), -1);
  const Contact before = read_contact();
  scene::frame_destroy(*renderer_, frame);
  engine::free_extra_slot(parts(), static_cast<int>(static_cast<std::uint32_t>(killed) & ~engine::kExtraBit));

  const std::int32_t table = ref(0);
  const std::int32_t bad[] = {
      0,
      -5,
      table + 4,                                          // inside a record
      table - static_cast<std::int32_t>(sizeof(ElementRecord)),
      ref(3),                                             // an element that is off
      ref(4),                                             // a camera: no meshes
      ref(9),                                             // an element never made
      killed,                                             // an extra object killed
      static_cast<std::int32_t>(engine::kExtraBit | 7),   // a slot never used
      static_cast<std::int32_t>(engine::kExtraBit | 0x7FFFFFFF),
  };
  call("h_cpart1_set", 0, 0, 0, 0, 0);
  for (std::int32_t r : bad) {
    SCOPED_TRACE(r);
    EXPECT_EQ(call("h_poly_collision", r, ref(1), 1), 0);
    EXPECT_EQ(call("h_poly_collision", ref(1), r, 0), 0);
  }
  // Visual indexes past the frame's meshes, or below 0.
  for (std::int32_t visual : {1, -1, INT32_MAX}) {
    call("h_cpart2_set", 0, 0, 0, 0, visual);
    EXPECT_EQ(call("h_poly_collision", ref(1), ref(2), 1), 0) << visual;
  }
  Contact after = read_contact();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  // A mesh with no whole triangle touches nothing.
  call("h_cpart2_set", 0, 0, 0, 0, 0);
  std::vector<scene::Vertex> none;
  scene::FaceGroup g;
  scene::Mesh empty = scene::mesh_create(*renderer_, none, std::span(&g, 1));
  if (scene::valid(empty)) {
    give_mesh(spike, empty);
    EXPECT_EQ(call("h_poly_collision", ref(1), ref(2), 1), 0);
  }
}

}  // namespace
