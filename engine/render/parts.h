// Parts of models that brains reach below the element level: the part paths,
// the extra model objects (clones of ".x3d" models and handles on parts of
// elements' models), and the engine-wide state the mesh routines keep. Shared
// by the files of engine/render/ and the polygon collision routines.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/engine_local.h"
#include "engine/poly_collide.h"
#include "engine/render/shapes_local.h"
#include "platform/scene/scene.h"

namespace engine {

struct Scene;

// A part path: child indexes at up to four levels below the start frame (-1
// ends the path early) and the index of the mesh among the part frame's own
// meshes (its visual index).
struct PartPath {
  std::int32_t level[4] = {-1, -1, -1, -1};
  std::int32_t visual = 0;
};

// A resolved part: the part frame and its mesh (invalid when the frame has no
// mesh of that index; then the routines that need a mesh do nothing).
struct Part {
  scene::Frame frame;
  scene::Mesh mesh;
};

// Extra model objects: handle = slot | kExtraBit. An owned object's frame tree
// was made by `x_clone` or `x_load` and is destroyed by `x_kill`; a borrowed
// one (`x_element_get`) names a frame of an element's model, which stays.
inline constexpr std::uint32_t kExtraBit = 0x80000000u;
inline constexpr int kMaxExtraObjects = 1024;

struct ExtraObject {
  scene::Frame frame;
  bool used = false;
  bool owned = false;
  scene::AnimationSet animation;  // an owned model's animation (invalid: none)
};

// What a drawn frame does with queued parts (emptied after each drawn frame).
inline constexpr int kMaxQueuedParts = 256;

// Vertices a brain rewrote since the last drawn frame, uploaded in one go
// before it is drawn (first .. end - 1 of the mesh's vertices).
struct EditedRange {
  std::int32_t first = 0, end = 0;
};

// The polygon collision test's state (`h_poly_collision`): a kept tree per
// scene mesh, in the mesh's own space, built on first use and refitted when
// the mesh's vertices moved; and the meshes of the two sides of a test.
struct PolyCacheEntry {
  PolyMesh tree;
  std::uint32_t edits = 0;                   // the mesh's MeshParts::mesh_edits when last fitted
  const scene::Vertex* vertices = nullptr;   // where its vertices were then
  std::int64_t vertex_count = -1;            // -1: never built
};
inline constexpr int kMaxPolyMeshesPerSide = 1024;  // meshes of one side's subtree that a test takes
struct PolyPlaced {
  scene::Mesh mesh;
  scene::Frame frame;
  scene::Mat4 world;    // mesh space to the scene
  scene::Vec3 centre;   // bounding sphere in the scene
  float radius = -1;
};
struct PolyState {
  PolyCacheEntry cache[scene::kMaxMeshes];   // by mesh id
  PolyPlaced side[2][kMaxPolyMeshesPerSide];
  int side_count[2] = {};
  scene::Frame walk[scene::kMaxFrames];      // the stack of a subtree walk
  scene::Mesh meshes[kMaxPolyMeshesPerSide]; // one frame's meshes during the walk
};

// The mesh routines' engine-wide state, part of the run's scene: made at scene
// start, gone at scene end.
struct MeshParts {
  PartPath part;                     // `h_part_set`
  PartPath collision_part[2];        // `h_cpart1_set`, `h_cpart2_set`
  ExtraObject extra[kMaxExtraObjects];
  int extra_highest = -1;            // highest used slot; a kill of it shrinks this
  scene::Quat pending_rotation;      // `rotation_axis_set`, `rotation_axis_add`
  // `material_set` (the shadow material's layout and defaults); `material_apply`
  // gives a part frame a material made from it.
  ShadowMaterial material_template;
  scene::Vec3 pick_point;            // the point of the last pick (`x_pick_pt`)
  // The pick under the pointer made once a tick, after the scene is placed, for
  // projects whose brains call `visual_picked` (`visual_picked_get` and the rest).
  struct TickPick {
    std::int64_t tick = -1;          // the world tick it was made in (-1: none yet)
    std::int32_t passes = 0;         // picks made since scene start
    std::int32_t found = 0;          // element or object under the pointer, 0 nothing
    std::int32_t camera = 0;         // the camera element whose view it was, 0 none
    scene::Vec3 point;               // the point hit, when found
  } tick_pick;
  scene::Vec3 last_axis;             // axis of the last `rotation_angle` (`rotation_axis`)
  int normals_count = 0;             // normals of the last part a mesh routine resolved (`normals`)
  Part env_queue[kMaxQueuedParts];   // `env_map_update`
  int env_count = 0;
  std::int32_t flat_queue[kMaxQueuedParts];  // element references (`make_flat`)
  int flat_count = 0;
  PolyContact contact;               // the last `h_poly_collision` contact
  // Bumped by every routine that moves a mesh's vertices (and by whatever
  // destroys a mesh during a run, as its id may be reused), so that kept
  // collision trees know to refit (indexed by the mesh handle's id).
  std::uint32_t mesh_edits[scene::kMaxMeshes] = {};
  EditedRange edited[scene::kMaxMeshes];      // by mesh id; empty when first == end
  std::int16_t edited_list[scene::kMaxMeshes];  // the mesh ids with a range, in edit order
  int edited_count = 0;
  // The material each part frame got from `material_apply` (by frame id),
  // changed in place by the next apply on that frame.
  scene::Material applied_material[scene::kMaxFrames];
  bool antialias = false;            // `antialias_set` (kept; the picture is not smoothed)
  PolyState poly;                    // `h_poly_collision`'s kept trees and work space
};
static_assert(scene::kMaxMeshes <= 32767, "mesh ids fit edited_list");

// Visits the frames of top's subtree, top first and child 0 before child 1,
// each with its meshes (up to kMaxPolyMeshesPerSide), on the work space of
// poly; visit(frame, meshes) returning false ends the walk. A tree has at
// most kMaxFrames frames, so the stack never runs out.
template <class Visit>
void walk_subtree_meshes(const scene::Renderer& r, PolyState& poly, scene::Frame top, Visit&& visit) {
  int depth = 0;
  poly.walk[depth++] = top;
  while (depth > 0) {
    const scene::Frame frame = poly.walk[--depth];
    const int count = std::min(scene::frame_meshes(r, frame, poly.meshes), kMaxPolyMeshesPerSide);
    if (!visit(frame, std::span<const scene::Mesh>(poly.meshes, static_cast<std::size_t>(count)))) return;
    // The children pushed last first, so that child 0 is walked next.
    std::span<scene::Frame> room(poly.walk + depth, static_cast<std::size_t>(scene::kMaxFrames - depth));
    const int children = std::min(scene::frame_children(r, frame, room), static_cast<int>(room.size()));
    std::reverse(poly.walk + depth, poly.walk + depth + children);
    depth += children;
  }
}

// The run's scene and its mesh state, or null outside a run with a scene.
Scene* active_scene();
MeshParts* active_parts();

// The mouse pointer in display pixels of the picture (false outside a run with input).
bool pointer_pixel(const World& w, int& x, int& y);
// The element or extra object whose scene frame is frame or holds it (the
// object nearest up the tree first), or 0.
std::int32_t owner_of_frame(const World& w, scene::Frame frame);
// The per-tick pick (MeshParts::tick_pick): once per world tick, and only when
// the program asks for it; the render step calls it after placing the scene.
void pick_for_tick(World& w);

// The extra object a handle names: top bit set, slot in range and in use.
// Null for anything else, a killed object's handle included.
ExtraObject* extra_object(MeshParts& parts, std::int32_t handle);
// The first free slot made used (the highest slot grows as needed); -1 when full.
int take_extra_slot(MeshParts& parts);
// Frees a slot (its frame is the caller's business); the highest used slot
// shrinks past any free slots at the top.
void free_extra_slot(MeshParts& parts, int slot);

// Where part resolution starts for a reference: an element that is on (with a
// scene frame for its current aspect) or an extra object. part_frame is true
// when that frame is the part frame itself (a visual element, a borrowed
// handle). False when the reference names nothing usable.
bool part_start(World& world, std::int32_t reference, scene::Frame& frame, bool& part_frame);
// Part resolution: the part frame found from reference's start frame by path,
// and the mesh of index path.visual among its meshes. False when the start or
// any index on the way is missing (out's frame is then invalid).
bool resolve_part(World& world, std::int32_t reference, const PartPath& path, Part& out);
// The part frame alone (a frame without meshes will do); invalid when none.
scene::Frame resolve_part_frame(World& world, std::int32_t reference, const PartPath& path);

// Notes that a mesh's vertices moved (see MeshParts::mesh_edits).
void note_mesh_edited(MeshParts& parts, scene::Mesh mesh);

// Loads a model file (".x", ".3ds", glTF, ".obj") as a frame tree into an
// existing frame (an ".x3d" aspect's, or a new extra object's), which stands
// for the file itself: the file's top-level frames become its children in
// file order, with their meshes, materials and textures, and meshes outside
// any frame are attached to it. The file's first animation, when it has one,
// becomes an animation set over those frames (set_out; invalid when none).
// False (reported, one line) when the model can't be had; into is then left
// as it was.
bool load_model_frames(Scene& scene, std::string_view path, scene::Frame into, scene::AnimationSet& set_out);
// The same, with the length of that animation in seconds (0 without one).
bool load_model_frames(Scene& scene, std::string_view path, scene::Frame into, scene::AnimationSet& set_out,
                       float& seconds);

// The end of scene synchronisation, once per drawn frame: the parts queued for
// an environment-map update and the elements queued to face the camera are
// done and the queues emptied; the vertices brains rewrote are uploaded.
void finish_part_edits(World& world);

}  // namespace engine
