// ".x" and ".3ds" models through Assimp, flattened to scene-space triangles.
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cmath>
#include <utility>

#include "platform/platform.h"

namespace platform {

namespace {

scene::Vec3 point(const aiMatrix4x4& m, const aiVector3D& v) {
  aiVector3D p = m * v;
  return {p.x, p.y, p.z};
}

scene::Vec3 direction(const aiMatrix3x3& m, const aiVector3D& v) {
  aiVector3D d = m * v;
  return scene::normalise(scene::Vec3{d.x, d.y, d.z});
}

bool finite(scene::Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Appends the triangles of node and its children, each with its node placement.
void walk(const aiScene& s, const aiNode& node, const aiMatrix4x4& parent, std::vector<scene::Vertex>& out,
          int depth) {
  if (depth > 64) return;  // a hostile file may nest without end
  aiMatrix4x4 world = parent * node.mTransformation;
  aiMatrix3x3 turn(world);
  // A mirroring placement (common in ".x" files exported by other tools) turns
  // every triangle over: two corners swap places to keep the front outside.
  bool mirrored = turn.Determinant() < 0;
  turn.Inverse().Transpose();
  for (unsigned i = 0; i < node.mNumMeshes; ++i) {
    if (node.mMeshes[i] >= s.mNumMeshes) continue;
    const aiMesh& m = *s.mMeshes[node.mMeshes[i]];
    for (unsigned f = 0; f < m.mNumFaces; ++f) {
      const aiFace& face = m.mFaces[f];
      if (face.mNumIndices != 3) continue;
      if (out.size() + 3 > static_cast<std::size_t>(kMaxModelVertices)) return;
      scene::Vertex tri[3];
      bool ok = true;
      for (int k = 0; k < 3; ++k) {
        unsigned index = face.mIndices[k];
        if (index >= m.mNumVertices) {
          ok = false;
          break;
        }
        tri[k].position = point(world, m.mVertices[index]);
        if (m.mNormals) tri[k].normal = direction(turn, m.mNormals[index]);
        if (m.mTextureCoords[0]) {
          tri[k].u = m.mTextureCoords[0][index].x;
          tri[k].v = m.mTextureCoords[0][index].y;
        }
        ok = ok && finite(tri[k].position) && finite(tri[k].normal);
      }
      if (!ok) continue;
      if (mirrored) std::swap(tri[1], tri[2]);
      if (!m.mNormals) {
        // Clockwise from the front in this left-handed space.
        scene::Vec3 n = scene::normalise(scene::cross(scene::sub(tri[1].position, tri[0].position),
                                                      scene::sub(tri[2].position, tri[0].position)));
        for (auto& v : tri) v.normal = n;
      }
      out.insert(out.end(), tri, tri + 3);
    }
  }
  for (unsigned c = 0; c < node.mNumChildren; ++c)
    if (node.mChildren[c]) walk(s, *node.mChildren[c], world, out, depth + 1);
}

}  // namespace

bool load_model(std::string_view path, std::vector<scene::Vertex>& out, std::string& error) {
  Assimp::Importer importer;
  // Left-handed, clockwise and with v running down the texture, as the files were made.
  const aiScene* s = importer.ReadFile(std::string(path), aiProcess_Triangulate | aiProcess_ConvertToLeftHanded |
                                                              aiProcess_SortByPType);
  if (!s || !s->mRootNode) {
    error = importer.GetErrorString();
    if (error.empty()) error = "unreadable model";
    return false;
  }
  std::size_t before = out.size();
  walk(*s, *s->mRootNode, aiMatrix4x4(), out, 0);
  if (out.size() == before) {
    error = "no triangles";
    return false;
  }
  return true;
}

}  // namespace platform
