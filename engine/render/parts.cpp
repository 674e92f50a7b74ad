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

// ---- Models as frame trees -----------------------------------------------------------------

namespace {

// What one model load made, so that a model the scene can't hold whole leaves nothing behind.
struct Made {
  std::vector<scene::Frame> frames;  // per node; node 0 is the frame given
  std::vector<scene::Mesh> meshes;
  std::vector<scene::Material> materials;

  void undo(scene::Renderer& r) {
    for (std::size_t k = 1; k < frames.size(); ++k)
      if (scene::valid(frames[k])) scene::frame_destroy(r, frames[k]);  // a destroyed subtree's handles are skipped
    for (scene::Mesh m : meshes) scene::mesh_destroy(r, m);
    for (scene::Material m : materials) scene::material_destroy(r, m);
  }
};

template <class H>
bool made(std::vector<H>& kept, H handle) {
  if (!scene::valid(handle)) return false;
  kept.push_back(handle);
  return true;
}

}  // namespace

bool load_model_frames(Scene& s, std::string_view path, scene::Frame into, scene::AnimationSet& set_out, float& seconds) {
  set_out = {};
  seconds = 0;
  auto report = [&](const std::string& why) {
    base::report("render", "model %.*s: %s", static_cast<int>(path.size()), path.data(), why.c_str());
  };
  platform::ModelTree tree;
  std::string error;
  if (!platform::load_model_tree(path, tree, error)) {
    report(error);
    return false;
  }
  scene::Renderer& r = *s.renderer;
  Made m;
  auto full = [&] {
    report(std::string("scene full: ") + scene::last_error(r));
    m.undo(r);
    return false;
  };

  // A frame per node, children in file order, placed relative to their parents.
  m.frames.resize(tree.nodes.size());
  m.frames[0] = into;
  for (std::size_t k = 1; k < tree.nodes.size(); ++k) {
    const platform::ModelNode& n = tree.nodes[k];
    scene::Frame f = scene::frame_create(r, m.frames[static_cast<std::size_t>(n.parent)]);
    if (!scene::valid(f)) return full();
    m.frames[k] = f;
    scene::frame_set_position(r, f, {}, n.position);
    scene::frame_set_rotation(r, f, {}, n.rotation);
    scene::frame_set_scale(r, f, n.scale);
  }

  // Each node's meshes with their groups' materials and textures (images beside the model).
  std::size_t slash = path.rfind('/');
  std::string folder(path.substr(0, slash == std::string_view::npos ? 0 : slash + 1));
  std::vector<scene::Material> materials(tree.materials.size());
  std::vector<scene::Texture> textures(tree.materials.size());
  scene::Material plain;
  for (std::size_t k = 0; k < tree.nodes.size(); ++k) {
    for (int index : tree.nodes[k].meshes) {
      const platform::ModelMesh& mesh = tree.meshes[static_cast<std::size_t>(index)];
      scene::FaceGroup groups[scene::kMaxGroupsPerMesh];
      int count = 0;
      for (const platform::ModelGroup& g : mesh.groups) {
        if (count == scene::kMaxGroupsPerMesh) break;
        scene::FaceGroup& fg = groups[count++];
        fg.first_vertex = g.first_vertex;
        fg.vertex_count = g.vertex_count;
        if (g.material >= 0 && static_cast<std::size_t>(g.material) < tree.materials.size()) {
          auto at = static_cast<std::size_t>(g.material);
          if (!scene::valid(materials[at])) {
            if (!made(m.materials, materials[at] = scene::material_create(r, tree.materials[at].desc))) return full();
            if (!tree.materials[at].texture.empty()) textures[at] = texture_of(s, folder + tree.materials[at].texture, false);
          }
          fg.material = materials[at];
          fg.texture = textures[at];
        } else {
          if (!scene::valid(plain) && !made(m.materials, plain = scene::material_create(r, {}))) return full();
          fg.material = plain;
        }
      }
      scene::Mesh handle = scene::mesh_create(r, mesh.vertices, std::span(groups, static_cast<std::size_t>(count)));
      if (!made(m.meshes, handle) || !scene::frame_add_mesh(r, m.frames[k], handle)) return full();
    }
  }

  // The first animation as a set over those frames. A scene too full for it
  // still shows the model, standing in its rest pose.
  if (!tree.animations.empty() && !tree.animations[0].channels.empty()) {
    const platform::ModelAnimation& a = tree.animations[0];
    scene::AnimationSet set = scene::animation_set_create(r);
    bool ok = scene::valid(set);
    for (std::size_t k = 0; ok && k < a.channels.size(); ++k) {
      const platform::ModelChannel& c = a.channels[k];
      scene::Animation animation = scene::animation_create(r);
      if (!scene::valid(animation)) break;
      if (!scene::animation_set_add(r, set, animation)) {
        scene::animation_destroy(r, animation);
        break;
      }
      scene::animation_set_frame(r, animation, m.frames[static_cast<std::size_t>(c.node)]);
      for (const auto& key : c.positions) ok = ok && scene::animation_add_position_key(r, animation, key.time, key.value);
      for (const auto& key : c.rotations) ok = ok && scene::animation_add_rotation_key(r, animation, key.time, key.value);
      for (const auto& key : c.scales) ok = ok && scene::animation_add_scale_key(r, animation, key.time, key.value);
      if (ok && k + 1 == a.channels.size()) set_out = set;
    }
    if (!scene::valid(set_out)) {
      report(std::string("scene full: ") + scene::last_error(r) + "; drawn without its animation");
      scene::animation_set_destroy(r, set);
      return true;
    }
    seconds = a.duration;
  }
  return true;
}

bool load_model_frames(Scene& s, std::string_view path, scene::Frame into, scene::AnimationSet& set_out) {
  float seconds;
  return load_model_frames(s, path, into, set_out, seconds);
}

}  // namespace engine
