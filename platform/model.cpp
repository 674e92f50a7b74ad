// ".x" and ".3ds" models flattened to scene-space triangles: text ".x" files
// through media's reader, the rest through Assimp, loaded on first use so that
// a program without it still reads text meshes.
#include <assimp/cimport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cmath>
#include <cstdint>
#include <utility>

#include "base/log.h"
#include "base/paths.h"
#include "media/media.h"
#include "platform/libraries.h"
#include "platform/platform.h"

namespace platform {

namespace {

static_assert(kMaxModelVertices == media::kMaxXCorners, "both readers take as many corners");

// Debian's soname of the Assimp the headers come from (the headers carry no version).
constexpr const char* kModelLibrary = "libassimp.so.5";
constexpr std::size_t kMaxModelBytes = 256u << 20;  // larger model files are refused

struct ModelCalls {
  decltype(&::aiImportFileFromMemory) import_from_memory = nullptr;
  decltype(&::aiReleaseImport) release_import = nullptr;
  decltype(&::aiGetErrorString) error_string = nullptr;
};
ModelCalls calls;
int loaded = 0;  // 0 not tried, 1 loaded, -1 missing (reported)

// Loads Assimp the first time; false (reported once) when it is not there.
bool load_model_library() {
  if (loaded) return loaded > 0;
  loaded = -1;
  std::string why;
  void* handle = open_library(kModelLibrary, why);
  if (!handle) {
    base::report("platform", "the model library (%s) is not installed: %s", kModelLibrary, why.c_str());
    return false;
  }
  if (!resolve(handle, "aiImportFileFromMemory", calls.import_from_memory) ||
      !resolve(handle, "aiReleaseImport", calls.release_import) ||
      !resolve(handle, "aiGetErrorString", calls.error_string)) {
    base::report("platform", "the model library (%s) lacks functions this program uses", kModelLibrary);
    calls = {};
    return false;
  }
  loaded = 1;
  return true;
}

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

// The parts of the own reader, placed as walk() places Assimp's meshes.
void place_parts(const std::vector<media::XPart>& parts, std::vector<scene::Vertex>& out) {
  for (const media::XPart& part : parts) {
    const float* p = part.placement;
    aiMatrix4x4 world(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[10], p[11], p[12], p[13], p[14],
                      p[15]);
    aiMatrix3x3 turn(world);
    bool mirrored = turn.Determinant() < 0;
    turn.Inverse().Transpose();
    for (std::size_t c = 0; c + 3 <= part.corners.size(); c += 3) {
      if (out.size() + 3 > static_cast<std::size_t>(kMaxModelVertices)) return;
      scene::Vertex tri[3];
      bool ok = true;
      for (int k = 0; k < 3; ++k) {
        const media::XCorner& corner = part.corners[c + k];
        tri[k].position = point(world, aiVector3D(corner.position[0], corner.position[1], corner.position[2]));
        if (part.has_normals)
          tri[k].normal = direction(turn, aiVector3D(corner.normal[0], corner.normal[1], corner.normal[2]));
        tri[k].u = corner.u;
        tri[k].v = corner.v;
        ok = ok && finite(tri[k].position) && finite(tri[k].normal);
      }
      if (!ok) continue;
      if (mirrored) std::swap(tri[1], tri[2]);
      if (!part.has_normals) {
        scene::Vec3 n = scene::normalise(scene::cross(scene::sub(tri[1].position, tri[0].position),
                                                      scene::sub(tri[2].position, tri[0].position)));
        for (auto& v : tri) v.normal = n;
      }
      out.insert(out.end(), tri, tri + 3);
    }
  }
}

std::span<const std::uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

bool load_model_bytes(const std::string& bytes, std::string_view extension, std::vector<scene::Vertex>& out,
                      std::string& error);

std::string_view extension_of(std::string_view path) {
  std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return {};
  return path.substr(dot + 1);
}

}  // namespace

bool model_library_available() { return load_model_library(); }

std::span<const char* const> model_library_names() {
  static const char* const names[] = {kModelLibrary};
  return names;
}

bool model_needs_library(std::string_view path) {
  std::string bytes;
  if (!base::read_regular_file(path, kMaxModelBytes, bytes)) return true;
  std::vector<media::XPart> parts;
  return media::parse_text_x(bytes_of(bytes), parts) != media::XStatus::ok;
}

bool load_model(std::string_view path, std::vector<scene::Vertex>& out, std::string& error) {
  // Read through base, so that a packaged game's scrambled meshes come back plain.
  std::string bytes;
  if (!base::read_regular_file(path, kMaxModelBytes, bytes)) {
    error = "unreadable model";
    return false;
  }
  std::size_t before = out.size();
  if (media::is_text_x(bytes_of(bytes))) {
    std::vector<media::XPart> parts;
    media::XStatus status = media::parse_text_x(bytes_of(bytes), parts);
    if (status == media::XStatus::ok) {
      place_parts(parts, out);
      if (out.size() > before) return true;
      error = "no triangles";
      return false;
    }
    if (status == media::XStatus::no_triangles) {
      error = media::x_status_text(status);
      return false;
    }
    // Text the own reader refuses: the model library may still read it.
    if (!load_model_library()) {
      error = media::x_status_text(status);
      return false;
    }
  }
  return load_model_bytes(bytes, extension_of(path), out, error);
}

bool load_model_through_library(std::string_view path, std::vector<scene::Vertex>& out, std::string& error) {
  std::string bytes;
  if (!base::read_regular_file(path, kMaxModelBytes, bytes)) {
    error = "unreadable model";
    return false;
  }
  return load_model_bytes(bytes, extension_of(path), out, error);
}

namespace {

bool load_model_bytes(const std::string& bytes, std::string_view extension, std::vector<scene::Vertex>& out,
                      std::string& error) {
  if (!load_model_library()) {
    error = std::string("the model library (") + kModelLibrary + ") is not installed";
    return false;
  }
  if (bytes.empty()) {  // the library aborts on an empty buffer
    error = "empty file";
    return false;
  }
  std::size_t before = out.size();
  // Left-handed, clockwise and with v running down the texture, as the files were made.
  std::string hint(extension);
  const aiScene* s = calls.import_from_memory(bytes.data(), static_cast<unsigned>(bytes.size()),
                                              aiProcess_Triangulate | aiProcess_ConvertToLeftHanded |
                                                  aiProcess_SortByPType,
                                              hint.c_str());
  if (!s || !s->mRootNode) {
    error = calls.error_string();
    if (error.empty()) error = "unreadable model";
    if (s) calls.release_import(s);
    return false;
  }
  walk(*s, *s->mRootNode, aiMatrix4x4(), out, 0);
  calls.release_import(s);
  if (out.size() == before) {
    error = "no triangles";
    return false;
  }
  return true;
}

}  // namespace

}  // namespace platform
