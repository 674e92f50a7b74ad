// Part resolution and the table of extra model objects.
#include "engine/render/parts.h"

#include <vector>

#include "base/log.h"
#include "engine/render/render_local.h"
#include "platform/platform.h"

namespace engine {

Scene* active_scene() {
  World* w = active_world();
  return w ? w->scene : nullptr;
}

MeshParts* active_parts() {
  Scene* s = active_scene();
  return s ? &s->parts : nullptr;
}

ExtraObject* extra_object(MeshParts& parts, std::int32_t handle) {
  auto h = static_cast<std::uint32_t>(handle);
  if (!(h & kExtraBit)) return nullptr;
  std::uint32_t slot = h & ~kExtraBit;
  if (slot >= static_cast<std::uint32_t>(kMaxExtraObjects) || !parts.extra[slot].used) return nullptr;
  return &parts.extra[slot];
}

int take_extra_slot(MeshParts& parts) {
  for (int k = 0; k < kMaxExtraObjects; ++k) {
    if (parts.extra[k].used) continue;
    parts.extra[k] = ExtraObject{};
    parts.extra[k].used = true;
    if (k > parts.extra_highest) parts.extra_highest = k;
    return k;
  }
  return -1;
}

void free_extra_slot(MeshParts& parts, int slot) {
  if (slot < 0 || slot >= kMaxExtraObjects) return;
  parts.extra[slot] = ExtraObject{};
  while (parts.extra_highest >= 0 && !parts.extra[parts.extra_highest].used) --parts.extra_highest;
}

bool part_start(World& w, std::int32_t reference, scene::Frame& frame, bool& part_frame) {
  frame = {};
  part_frame = false;
  Scene* s = w.scene;
  if (!s) return false;
  if (ExtraObject* x = extra_object(s->parts, reference)) {
    frame = x->frame;
    part_frame = !x->owned;
    return scene::valid(frame);
  }
  const project::ElementRecord* e = element_of(reference);
  if (!e || !(e->flags & project::kFlagOn)) return false;
  int n = aspect_index(w, e->current_aspect);
  if (n < 0 || n >= s->aspect_count || !scene::valid(s->aspect[n].frame)) return false;
  frame = s->aspect[n].frame;
  part_frame = s->aspect[n].kind == AspectKind::visual;
  return true;
}

scene::Frame resolve_part_frame(World& w, std::int32_t reference, const PartPath& path) {
  scene::Frame frame;
  bool part_frame = false;
  if (!part_start(w, reference, frame, part_frame)) return {};
  if (part_frame) return frame;
  const scene::Renderer& r = *w.scene->renderer;
  if (path.level[0] < 0) return {};
  frame = scene::frame_child(r, frame, path.level[0]);
  for (int k = 1; k < 4 && scene::valid(frame) && path.level[k] != -1; ++k)
    frame = scene::frame_child(r, frame, path.level[k]);
  return frame;
}

bool resolve_part(World& w, std::int32_t reference, const PartPath& path, Part& out) {
  out = {};
  scene::Frame frame = resolve_part_frame(w, reference, path);
  if (!scene::valid(frame)) return false;
  const scene::Renderer& r = *w.scene->renderer;
  if (path.visual < 0) return false;
  scene::Mesh meshes[scene::kMaxGroupsPerMesh];
  int count = scene::frame_meshes(r, frame, meshes);
  if (path.visual >= count) return false;
  if (path.visual >= static_cast<int>(std::size(meshes))) {
    // More meshes on one frame than the buffer holds: take the long way.
    std::vector<scene::Mesh> all(static_cast<std::size_t>(count));
    scene::frame_meshes(r, frame, all);
    out.mesh = all[static_cast<std::size_t>(path.visual)];
  } else {
    out.mesh = meshes[path.visual];
  }
  out.frame = frame;
  return true;
}

void note_mesh_edited(MeshParts& parts, scene::Mesh mesh) {
  if (mesh.id >= 0 && mesh.id < scene::kMaxMeshes) ++parts.mesh_edits[mesh.id];
}

// A stand-in until model trees load: the whole model flattened into one mesh
// on one child frame.
bool load_model_frames(Scene& s, std::string_view path, scene::Frame into, scene::AnimationSet& set_out) {
  set_out = {};
  std::vector<scene::Vertex> vertices;
  std::string error;
  if (!platform::load_model(path, vertices, error)) {
    base::report("render", "model %.*s: %s", static_cast<int>(path.size()), path.data(), error.c_str());
    return false;
  }
  scene::Renderer& r = *s.renderer;
  scene::Frame child = scene::frame_create(r, into);
  scene::FaceGroup g;
  g.vertex_count = static_cast<int>(vertices.size());
  g.material = scene::material_create(r, {});
  scene::Mesh mesh = scene::mesh_create(r, vertices, std::span(&g, 1));
  if (scene::valid(mesh)) scene::frame_add_mesh(r, child, mesh);
  return true;
}

void build_mesh_aspect(Scene& s, const project::Tables& tables, project::AspectRecord& a, scene::Frame frame) {
  a.word[kMeshAnimationSet] = -1;
  std::string_view path = arena_text(tables, a.word[project::kMeshFileWord]);
  scene::AnimationSet set;
  if (path.empty() || !load_model_frames(s, path, frame, set)) return;
  if (scene::valid(set)) a.word[kMeshAnimationSet] = set.id;
}

}  // namespace engine
