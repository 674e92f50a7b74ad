// libFuzzer entry: any bytes through the model loader as each model format
// (the first byte picks the name's extension), as load_model and as a tree; a model
// either loads within the limits or is refused with a reason and nothing
// given, and every index of a tree points inside it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/libraries.h"
#include "platform/platform.h"

namespace {

void check_tree(const platform::ModelTree& t) {
  if (t.nodes.empty() || t.nodes.size() > static_cast<std::size_t>(platform::kMaxModelNodes) + 1 ||
      t.nodes[0].parent != -1 || t.meshes.size() > static_cast<std::size_t>(platform::kMaxModelMeshes))
    __builtin_trap();
  std::size_t vertices = 0;
  for (std::size_t k = 0; k < t.nodes.size(); ++k) {
    const platform::ModelNode& n = t.nodes[k];
    if (k > 0 && (n.parent < 0 || static_cast<std::size_t>(n.parent) >= k)) __builtin_trap();
    for (int m : n.meshes)
      if (m < 0 || static_cast<std::size_t>(m) >= t.meshes.size()) __builtin_trap();
  }
  for (const platform::ModelMesh& m : t.meshes) {
    if (m.vertices.empty() || m.vertices.size() % 3 != 0 ||
        m.groups.size() > static_cast<std::size_t>(scene::kMaxGroupsPerMesh))
      __builtin_trap();
    vertices += m.vertices.size();
    int next = 0;
    for (const platform::ModelGroup& g : m.groups) {
      if (g.first_vertex != next || g.vertex_count <= 0 || g.vertex_count % 3 != 0) __builtin_trap();
      if (g.material < -1 || g.material >= static_cast<int>(t.materials.size())) __builtin_trap();
      next += g.vertex_count;
    }
    if (next != static_cast<int>(m.vertices.size())) __builtin_trap();
  }
  if (vertices == 0 || vertices > static_cast<std::size_t>(platform::kMaxModelVertices)) __builtin_trap();
  std::size_t keys = 0;
  for (const platform::ModelAnimation& a : t.animations)
    for (const platform::ModelChannel& c : a.channels) {
      if (c.node <= 0 || static_cast<std::size_t>(c.node) >= t.nodes.size()) __builtin_trap();
      keys += c.positions.size() + c.rotations.size() + c.scales.size();
    }
  if (keys > static_cast<std::size_t>(platform::kMaxModelKeys)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr const char* kNames[] = {"/nonexistent/m.gltf", "/nonexistent/m.glb", "/nonexistent/m.obj",
                                           "/nonexistent/m.x", "/nonexistent/m.3ds"};
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const char* name = kNames[data[0] % 5];
  std::vector<scene::Vertex> out(1);
  std::string error;
  bool ok = platform::load_model_from_memory(bytes, name, out, error);
  if (ok && (out.size() < 4 || (out.size() - 1) % 3 != 0 ||
             out.size() - 1 > static_cast<std::size_t>(platform::kMaxModelVertices)))
    __builtin_trap();
  if (!ok && (out.size() != 1 || error.empty())) __builtin_trap();

  platform::ModelTree tree;
  error.clear();
  if (platform::load_model_tree_from_memory(bytes, name, tree, error)) {
    check_tree(tree);
  } else if (error.empty() || !tree.nodes.empty() || !tree.meshes.empty() || !tree.animations.empty()) {
    __builtin_trap();
  }
  return 0;
}
