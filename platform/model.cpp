// Models flattened to scene-space triangles: text ".x" files through media's
// reader; ".3ds", binary ".x", glTF 2.0 (".gltf", ".glb") and Wavefront ".obj"
// through Assimp, loaded on first use so that a program without it still reads
// text meshes. Model files are untrusted: the library reads them through our
// own file callbacks (the model's folder only), and a model past the limits is
// refused whole.
#include <assimp/cfileio.h>
#include <assimp/cimport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "base/files.h"
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
constexpr std::size_t kMaxModelBytes = 256u << 20;  // larger model files (and companions) are cut there

struct ModelCalls {
  decltype(&::aiImportFileEx) import_file = nullptr;
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
  if (!resolve(handle, "aiImportFileEx", calls.import_file) ||
      !resolve(handle, "aiReleaseImport", calls.release_import) ||
      !resolve(handle, "aiGetErrorString", calls.error_string)) {
    base::report("platform", "the model library (%s) lacks functions this program uses", kModelLibrary);
    calls = {};
    return false;
  }
  loaded = 1;
  return true;
}

// ---- The model's files, as the library sees them -------------------------------------------

// The model itself (already read, under the name the library is given) and the
// files beside it that it names: read through base, so that a packaged game's
// scrambled files come back plain, and only inside the model's folder.
struct ModelFiles {
  std::string folder;        // the model's folder, ends in "/" ("" for the current one)
  std::string name;          // the model as the library opens it
  std::string_view model;    // its bytes
  int companions = 0;        // other files opened so far
};

struct OpenFile {
  aiFile file;
  std::string bytes;
  std::size_t at = 0;
};

OpenFile& open_file(aiFile* f) { return *reinterpret_cast<OpenFile*>(f->UserData); }

std::size_t file_read(aiFile* f, char* to, std::size_t size, std::size_t count) {
  OpenFile& o = open_file(f);
  if (size == 0 || count == 0) return 0;
  std::size_t items = std::min(count, (o.bytes.size() - o.at) / size);
  std::memcpy(to, o.bytes.data() + o.at, items * size);
  o.at += items * size;
  return items;
}
std::size_t file_write(aiFile*, const char*, std::size_t, std::size_t) { return 0; }
std::size_t file_tell(aiFile* f) { return open_file(f).at; }
std::size_t file_size(aiFile* f) { return open_file(f).bytes.size(); }
void file_flush(aiFile*) {}
aiReturn file_seek(aiFile* f, std::size_t offset, aiOrigin origin) {
  OpenFile& o = open_file(f);
  std::size_t from = origin == aiOrigin_SET ? 0 : origin == aiOrigin_CUR ? o.at : o.bytes.size();
  if (origin != aiOrigin_SET && origin != aiOrigin_CUR && origin != aiOrigin_END) return aiReturn_FAILURE;
  if (offset > o.bytes.size() - from) return aiReturn_FAILURE;
  o.at = from + offset;
  return aiReturn_SUCCESS;
}

// A file name that stays below the model's folder: relative, no "..".
bool inside(std::string_view rest) {
  if (rest.empty() || rest.front() == '/' || rest.find('\\') != std::string_view::npos) return false;
  for (std::size_t at = 0; at <= rest.size();) {
    std::size_t end = std::min(rest.find('/', at), rest.size());
    if (rest.substr(at, end - at) == "..") return false;
    at = end + 1;
  }
  return true;
}

aiFile* files_open(aiFileIO* io, const char* path, const char* mode) {
  ModelFiles& m = *reinterpret_cast<ModelFiles*>(io->UserData);
  if (!path || !mode || std::strpbrk(mode, "wa+")) return nullptr;
  std::string_view p(path);
  auto o = std::make_unique<OpenFile>();
  if (p == m.name) {
    o->bytes.assign(m.model);
  } else {
    if (p.substr(0, m.folder.size()) != m.folder || !inside(p.substr(m.folder.size()))) return nullptr;
    if (m.companions >= media::kMaxModelCompanions) return nullptr;
    ++m.companions;
    if (!base::read_regular_file(p, kMaxModelBytes, o->bytes)) return nullptr;
  }
  o->file = {file_read, file_write, file_tell, file_size, file_seek, file_flush,
             reinterpret_cast<aiUserData>(o.get())};
  return &o.release()->file;
}

void files_close(aiFileIO*, aiFile* f) {
  if (f) delete &open_file(f);
}

// ---- Flattening ----------------------------------------------------------------------------

scene::Vec3 point(const aiMatrix4x4& m, const aiVector3D& v) {
  aiVector3D p = m * v;
  return {p.x, p.y, p.z};
}

scene::Vec3 direction(const aiMatrix3x3& m, const aiVector3D& v) {
  aiVector3D d = m * v;
  return scene::normalise(scene::Vec3{d.x, d.y, d.z});
}

bool finite(scene::Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// One flattening of a library scene: the first limit passed stops it.
struct Walk {
  const aiScene& scene;
  std::vector<scene::Vertex>& out;
  std::size_t first;  // out's size before
  int nodes = 0;
  std::string error;
};

// Appends the triangles of node and its children, each with its node placement.
bool walk(Walk& w, const aiNode& node, const aiMatrix4x4& parent, int depth) {
  const aiScene& s = w.scene;
  if (depth > kMaxModelNodeDepth) {
    w.error = "nodes nested deeper than " + std::to_string(kMaxModelNodeDepth);
    return false;
  }
  if (++w.nodes > kMaxModelNodes) {
    w.error = "more than " + std::to_string(kMaxModelNodes) + " nodes";
    return false;
  }
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
      if (w.out.size() - w.first + 3 > static_cast<std::size_t>(kMaxModelVertices)) {
        w.error = "more than " + std::to_string(kMaxModelVertices) + " vertices";
        return false;
      }
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
      w.out.insert(w.out.end(), tri, tri + 3);
    }
  }
  for (unsigned c = 0; c < node.mNumChildren; ++c)
    if (node.mChildren[c] && !walk(w, *node.mChildren[c], world, depth + 1)) return false;
  return true;
}

// What makes a library scene too large to take, or "".
std::string over_limits(const aiScene& s) {
  auto over = [](std::uint64_t n, int cap, const char* what) {
    return std::to_string(n) + " " + what + ", more than " + std::to_string(cap);
  };
  if (s.mNumMeshes > static_cast<unsigned>(kMaxModelMeshes)) return over(s.mNumMeshes, kMaxModelMeshes, "meshes");
  std::uint64_t vertices = 0, faces = 0, bones = 0;
  for (unsigned i = 0; i < s.mNumMeshes; ++i) {
    if (!s.mMeshes[i]) return "a mesh is missing";
    vertices += s.mMeshes[i]->mNumVertices;
    faces += s.mMeshes[i]->mNumFaces;
    bones += s.mMeshes[i]->mNumBones;
  }
  if (faces > static_cast<std::uint64_t>(kMaxModelFaces)) return over(faces, kMaxModelFaces, "faces");
  if (vertices > static_cast<std::uint64_t>(kMaxModelVertices)) return over(vertices, kMaxModelVertices, "vertices");
  if (bones > static_cast<std::uint64_t>(kMaxModelBones)) return over(bones, kMaxModelBones, "bones");
  return {};
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

// ---- Telling the formats apart -------------------------------------------------------------

std::span<const std::uint8_t> bytes_of(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string lower_extension(std::string_view path) {
  std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return {};
  std::string e(path.substr(dot + 1));
  for (char& c : e) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return e;
}

std::uint32_t le32(std::string_view b, std::size_t at) {
  std::uint32_t v = 0;
  for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<std::uint8_t>(b[at + static_cast<std::size_t>(k)]);
  return v;
}

// The format the bytes hold, as the library's file extension: told by their
// first bytes where the format has a mark, else by the name. "" with a reason
// in error when a glTF file can't be one.
std::string library_format(std::string_view bytes, std::string_view path, std::string& error) {
  std::string named = lower_extension(path);
  if (bytes.size() >= 4 && bytes.substr(0, 4) == "glTF") {
    // Binary glTF: a 12-byte header, then the JSON chunk (length, "JSON", text).
    if (bytes.size() < 20 || le32(bytes, 16) != 0x4E4F534A || le32(bytes, 12) > bytes.size() - 20) {
      error = "a damaged binary glTF file";
      return {};
    }
    return "glb";
  }
  if (bytes.size() >= 4 && bytes.substr(0, 4) == "xof ") return "x";
  if (bytes.size() >= 2 && bytes[0] == 0x4D && bytes[1] == 0x4D) return "3ds";
  if (named == "glb") {
    error = "not a binary glTF file";
    return {};
  }
  std::size_t first = bytes.find_first_not_of(" \t\r\n");
  bool json = first != std::string_view::npos && bytes[first] == '{';
  if (named == "gltf" && !json) {
    error = "not a glTF file";
    return {};
  }
  if (json && named != "x" && named != "3ds" && named != "obj") return "gltf";
  return named;
}

// The buffers a glTF file names, checked before the library reads them: inside
// the model's folder, there, and as long as the file says (the library reads
// past a short one's end). "" when all is well, else why not.
std::string check_gltf_buffers(std::string_view bytes, const std::string& folder) {
  media::GltfFiles files;
  media::GltfStatus status = media::read_gltf_files(bytes_of(bytes), files);
  if (status != media::GltfStatus::ok) return media::gltf_status_text(status);
  for (const media::GltfBuffer& b : files.buffers) {
    if (b.uri.empty()) continue;
    media::CompanionPlace place = media::companion_place(b.uri);
    if (place == media::CompanionPlace::data) continue;
    if (place != media::CompanionPlace::beside) return "the buffer " + b.uri + " is outside the model's folder";
    long size = base::file_size(folder + b.uri);
    if (size < 0) return "the buffer " + b.uri + " is missing";
    if (static_cast<std::uint64_t>(size) < b.byte_length)
      return "the buffer " + b.uri + " holds " + std::to_string(size) + " bytes, less than its byteLength " +
             std::to_string(b.byte_length);
  }
  return {};
}

// glTF and OBJ files are right-handed with the front along +z: turned into the
// scene's left-handed space by mirroring x, so that the front stays along +z and
// the model's right side on its right. The library's left-handed conversion
// mirrors z (and turns the faces and the texture's v over); a half turn about y
// makes that the mirror of x.
bool right_handed(std::string_view format) { return format == "gltf" || format == "glb" || format == "obj"; }

bool load_model_bytes(std::string_view bytes, std::string_view path, std::vector<scene::Vertex>& out,
                      std::string& error) {
  if (!load_model_library()) {
    error = std::string("the model library (") + kModelLibrary + ") is not installed";
    return false;
  }
  if (bytes.empty()) {  // the library aborts on an empty buffer
    error = "empty file";
    return false;
  }
  std::string format = library_format(bytes, path, error);
  if (!error.empty()) return false;
  ModelFiles files;
  std::size_t slash = path.rfind('/');
  files.folder = slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
  if (format == "gltf" || format == "glb") {
    error = check_gltf_buffers(bytes, files.folder);
    if (!error.empty()) return false;
  }
  // The library picks its reader by the name's extension: the model goes in
  // under the format its bytes hold, whatever its file is called.
  files.name = files.folder + "\x01model." + (format.empty() ? std::string("bin") : format);
  files.model = bytes;
  aiFileIO io{files_open, files_close, reinterpret_cast<aiUserData>(&files)};
  // Left-handed, clockwise and with v running down the texture, as ".x" files are made;
  // the data checked first, and invalid normals and texture channels dropped.
  const aiScene* s = calls.import_file(files.name.c_str(),
                                       aiProcess_ValidateDataStructure | aiProcess_FindInvalidData |
                                           aiProcess_Triangulate | aiProcess_ConvertToLeftHanded |
                                           aiProcess_SortByPType,
                                       &io);
  if (!s || !s->mRootNode) {
    error = calls.error_string();
    if (error.empty()) error = "unreadable model";
    if (s) calls.release_import(s);
    return false;
  }
  error = over_limits(*s);
  std::size_t before = out.size();
  bool ok = error.empty();
  if (ok) {
    Walk w{*s, out, before, 0, {}};
    aiMatrix4x4 root;
    if (right_handed(format)) root = aiMatrix4x4(-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1);
    ok = walk(w, *s->mRootNode, root, 0);
    if (!ok) error = std::move(w.error);
  }
  calls.release_import(s);
  if (!ok) {
    out.resize(before);  // a refused model draws nothing
    return false;
  }
  if (out.size() == before) {
    error = "no triangles";
    return false;
  }
  return true;
}

}  // namespace

bool model_library_available() { return load_model_library(); }

std::span<const char* const> model_library_names() {
  static const char* const names[] = {kModelLibrary};
  return names;
}

bool is_model_path(std::string_view path) {
  std::string e = lower_extension(path);
  for (std::string_view known : kModelExtensions)
    if (e == known.substr(1)) return true;
  return false;
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
  return load_model_bytes(bytes, path, out, error);
}

bool load_model_through_library(std::string_view path, std::vector<scene::Vertex>& out, std::string& error) {
  std::string bytes;
  if (!base::read_regular_file(path, kMaxModelBytes, bytes)) {
    error = "unreadable model";
    return false;
  }
  return load_model_bytes(bytes, path, out, error);
}

bool load_model_from_memory(std::string_view bytes, std::string_view path, std::vector<scene::Vertex>& out,
                            std::string& error) {
  return load_model_bytes(bytes, path, out, error);
}

}  // namespace platform
