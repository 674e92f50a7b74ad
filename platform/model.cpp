// Models flattened to scene-space triangles, or as trees of placed nodes with
// their meshes, materials and animations: text ".x" files through media's
// reader; ".3ds", binary ".x", glTF 2.0 (".gltf", ".glb") and Wavefront ".obj"
// through Assimp, loaded on first use so that a program without it still reads
// text meshes. Model files are untrusted: the library reads them through our
// own file callbacks (the model's folder only), and a model past the limits is
// refused whole.
#include <assimp/cfileio.h>
#include <assimp/cimport.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
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
static_assert(kMaxModelKeys == media::kMaxXKeys, "both readers take as many animation keys");
static_assert(kMaxModelNodes == media::kMaxXFrames, "both readers take as many nodes");

// Debian's soname of the Assimp the headers come from (the headers carry no version).
constexpr const char* kModelLibrary = "libassimp.so.5";
constexpr std::size_t kMaxModelBytes = 256u << 20;  // larger model files (and companions) are cut there

struct ModelCalls {
  decltype(&::aiImportFileEx) import_file = nullptr;
  decltype(&::aiReleaseImport) release_import = nullptr;
  decltype(&::aiGetErrorString) error_string = nullptr;
  decltype(&::aiGetMaterialColor) material_colour = nullptr;
  decltype(&::aiGetMaterialFloatArray) material_floats = nullptr;
  decltype(&::aiGetMaterialTexture) material_texture = nullptr;
  decltype(&::aiGetMaterialString) material_string = nullptr;
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
      !resolve(handle, "aiGetErrorString", calls.error_string) ||
      !resolve(handle, "aiGetMaterialColor", calls.material_colour) ||
      !resolve(handle, "aiGetMaterialFloatArray", calls.material_floats) ||
      !resolve(handle, "aiGetMaterialTexture", calls.material_texture) ||
      !resolve(handle, "aiGetMaterialString", calls.material_string)) {
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

// A library scene of a model's bytes read as if from path (its companions
// looked up beside it), and the format it was read as; null with the reason
// in error. Released with calls.release_import.
const aiScene* import_bytes(std::string_view bytes, std::string_view path, std::string& format, std::string& error) {
  if (!load_model_library()) {
    error = std::string("the model library (") + kModelLibrary + ") is not installed";
    return nullptr;
  }
  if (bytes.empty()) {  // the library aborts on an empty buffer
    error = "empty file";
    return nullptr;
  }
  format = library_format(bytes, path, error);
  if (!error.empty()) return nullptr;
  ModelFiles files;
  std::size_t slash = path.rfind('/');
  files.folder = slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
  if (format == "gltf" || format == "glb") {
    error = check_gltf_buffers(bytes, files.folder);
    if (!error.empty()) return nullptr;
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
    return nullptr;
  }
  error = over_limits(*s);
  if (!error.empty()) {
    calls.release_import(s);
    return nullptr;
  }
  return s;
}

bool load_model_bytes(std::string_view bytes, std::string_view path, std::vector<scene::Vertex>& out,
                      std::string& error) {
  std::string format;
  const aiScene* s = import_bytes(bytes, path, format, error);
  if (!s) return false;
  std::size_t before = out.size();
  Walk w{*s, out, before, 0, {}};
  aiMatrix4x4 root;
  if (right_handed(format)) root = aiMatrix4x4(-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1);
  bool ok = walk(w, *s->mRootNode, root, 0);
  if (!ok) error = std::move(w.error);
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
  return !media::is_text_x(bytes_of(bytes));
}

bool load_model(std::string_view path, std::vector<scene::Vertex>& out, std::string& error) {
  // Read through base, so that a packaged game's scrambled meshes come back plain.
  std::string bytes;
  if (!base::read_regular_file(path, kMaxModelBytes, bytes)) {
    error = "unreadable model";
    return false;
  }
  return load_model_from_memory(bytes, path, out, error);
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
  std::size_t before = out.size();
  if (media::is_text_x(bytes_of(bytes))) {
    std::vector<media::XPart> parts;
    media::XStatus status = media::parse_text_x(bytes_of(bytes), parts);
    if (status == media::XStatus::ok) {
      place_parts(parts, out);
      if (out.size() > before) return true;
      status = media::XStatus::no_triangles;
    }
    // Text the own reader refuses is not handed on: the model library's text
    // reader crashes on damaged files that the own reader finds damaged.
    error = media::x_status_text(status);
    return false;
  }
  return load_model_bytes(bytes, path, out, error);
}

}  // namespace platform

// ---- Model trees ---------------------------------------------------------------------------

namespace platform {

namespace {

constexpr std::size_t kMaxTreeMeshes = kMaxModelMeshes;

bool finite(scene::Quat q) { return std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w); }

// A placement (column vectors, translation in a4, b4, c4) as position,
// rotation and scale (scene::placement's order: scale, then rotate, then move).
// A mirroring placement gets negative scales; a shear is lost.
void decompose(const aiMatrix4x4& m, scene::Vec3& position, scene::Quat& rotation, scene::Vec3& scale) {
  position = {m.a4, m.b4, m.c4};
  aiVector3D column[3] = {{m.a1, m.b1, m.c1}, {m.a2, m.b2, m.c2}, {m.a3, m.b3, m.c3}};
  float s[3] = {column[0].Length(), column[1].Length(), column[2].Length()};
  if (aiMatrix3x3(m).Determinant() < 0)
    for (float& k : s) k = -k;
  scale = {s[0], s[1], s[2]};
  rotation = {};
  for (int k = 0; k < 3; ++k) {
    if (s[k] == 0 || !std::isfinite(s[k])) return;
    column[k] /= s[k];
  }
  aiMatrix3x3 turn(column[0].x, column[1].x, column[2].x, column[0].y, column[1].y, column[2].y, column[0].z,
                   column[1].z, column[2].z);
  aiQuaternion q(turn);
  scene::Quat r = scene::normalise(scene::Quat{q.x, q.y, q.z, q.w});
  if (finite(r)) rotation = r;
}

aiMatrix4x4 matrix_of(const float* p) {
  return aiMatrix4x4(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[10], p[11], p[12], p[13], p[14],
                     p[15]);
}

// One tree being built: the first limit passed stops it.
struct TreeBuild {
  explicit TreeBuild(ModelTree& tree) : out(tree) {}
  ModelTree& out;
  bool turn_half = false;          // glTF and OBJ: everything turned half round y (see right_handed)
  std::vector<aiMatrix4x4> world;  // per node, its rest placement in the scene
  int vertices = 0;
  int keys = 0;
  std::string error;
};

// H p for the half turn about y (its own inverse).
aiVector3D turned(const TreeBuild& b, aiVector3D v) { return b.turn_half ? aiVector3D(-v.x, v.y, -v.z) : v; }
aiMatrix4x4 turned(const TreeBuild& b, const aiMatrix4x4& m) {
  if (!b.turn_half) return m;
  aiMatrix4x4 h(-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1);
  return h * m * h;
}
scene::Quat turned(const TreeBuild& b, scene::Quat q) { return b.turn_half ? scene::Quat{-q.x, q.y, -q.z, q.w} : q; }

// A node placed by local (already in scene space) under parent; its index.
int add_node(TreeBuild& b, std::string name, int parent, const aiMatrix4x4& local) {
  ModelNode n;
  n.name = std::move(name);
  n.parent = parent;
  if (parent >= 0) decompose(local, n.position, n.rotation, n.scale);
  b.world.push_back(parent >= 0 ? b.world[static_cast<std::size_t>(parent)] * local : aiMatrix4x4());
  b.out.nodes.push_back(std::move(n));
  return static_cast<int>(b.out.nodes.size()) - 1;
}

// The mesh of node that new groups go to: its last one, or a new one when it
// has none or a full one. Null (with the error) past the mesh limit.
ModelMesh* mesh_for_group(TreeBuild& b, int node, bool fresh) {
  ModelNode& n = b.out.nodes[static_cast<std::size_t>(node)];
  if (!fresh && !n.meshes.empty()) {
    ModelMesh& last = b.out.meshes[static_cast<std::size_t>(n.meshes.back())];
    if (last.groups.size() < static_cast<std::size_t>(scene::kMaxGroupsPerMesh)) return &last;
  }
  if (b.out.meshes.size() >= kMaxTreeMeshes) {
    b.error = "more than " + std::to_string(kMaxTreeMeshes) + " meshes";
    return nullptr;
  }
  n.meshes.push_back(static_cast<int>(b.out.meshes.size()));
  b.out.meshes.emplace_back();
  return &b.out.meshes.back();
}

// One triangle in node space (as the file gives it, turned when the format
// asks) onto a mesh: on a mirroring node its corners swap, so that it keeps
// its front when placed; a missing normal is its face's, as the file winds it.
bool add_triangle(TreeBuild& b, ModelMesh& m, scene::Vertex tri[3], bool has_normals, bool mirrored) {
  if (b.vertices + 3 > kMaxModelVertices) {
    b.error = "more than " + std::to_string(kMaxModelVertices) + " vertices";
    return false;
  }
  for (int k = 0; k < 3; ++k)
    if (!finite(tri[k].position) || !finite(tri[k].normal)) return true;  // dropped, as load_model drops it
  if (!has_normals) {
    scene::Vec3 n = scene::normalise(scene::cross(scene::sub(tri[1].position, tri[0].position),
                                                  scene::sub(tri[2].position, tri[0].position)));
    for (int k = 0; k < 3; ++k) tri[k].normal = n;
  } else {
    for (int k = 0; k < 3; ++k) tri[k].normal = scene::normalise(tri[k].normal);
  }
  if (mirrored) std::swap(tri[1], tri[2]);
  m.vertices.insert(m.vertices.end(), tri, tri + 3);
  b.vertices += 3;
  return true;
}

bool mirrored(const TreeBuild& b, int node) { return aiMatrix3x3(b.world[static_cast<std::size_t>(node)]).Determinant() < 0; }

// Power 0 would light every point of a face fully: no highlight then.
scene::MaterialDesc material_desc(const float colour[4], float power, const float specular[3], const float emissive[3]) {
  scene::MaterialDesc d;
  d.colour = {colour[0], colour[1], colour[2], colour[3]};
  d.emissive = {emissive[0], emissive[1], emissive[2]};
  if (power > 0) {
    d.specular = {specular[0], specular[1], specular[2]};
    d.power = power;
  }
  auto clamp01 = [](float& f) { f = std::isfinite(f) ? std::clamp(f, 0.0f, 1.0f) : 1.0f; };
  for (float* f : {&d.colour.r, &d.colour.g, &d.colour.b, &d.colour.a, &d.emissive.x, &d.emissive.y, &d.emissive.z,
                   &d.specular.x, &d.specular.y, &d.specular.z})
    clamp01(*f);
  if (!std::isfinite(d.power) || d.power > 1000) d.power = 1000;
  return d;
}

// A texture name as the model gives it, kept when it stays in the model's folder.
std::string texture_name(std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  if (name.empty() || name[0] == '*' || media::companion_place(name) != media::CompanionPlace::beside) return {};
  return name;
}

// Keys onto a channel: false past the key limit.
bool count_keys(TreeBuild& b, std::size_t n) {
  if (n > static_cast<std::size_t>(kMaxModelKeys - b.keys)) {
    b.error = "more than " + std::to_string(kMaxModelKeys) + " animation keys";
    return false;
  }
  b.keys += static_cast<int>(n);
  return true;
}

ModelChannel& channel_of(ModelAnimation& a, int node) {
  for (ModelChannel& c : a.channels)
    if (c.node == node) return c;
  a.channels.emplace_back();
  a.channels.back().node = node;
  return a.channels.back();
}

template <class T>
void sort_keys(std::vector<ModelKey<T>>& keys) {
  std::stable_sort(keys.begin(), keys.end(), [](const ModelKey<T>& a, const ModelKey<T>& b) { return a.time < b.time; });
}

// Meshes left without a triangle (all dropped, or only lines and points) are
// taken out of the tree, and the nodes' mesh indexes follow.
void drop_empty_meshes(ModelTree& t) {
  std::vector<int> moved(t.meshes.size(), -1);
  std::size_t kept = 0;
  for (std::size_t m = 0; m < t.meshes.size(); ++m) {
    if (t.meshes[m].vertices.empty()) continue;
    moved[m] = static_cast<int>(kept);
    if (kept != m) t.meshes[kept] = std::move(t.meshes[m]);
    ++kept;
  }
  t.meshes.resize(kept);
  for (ModelNode& n : t.nodes) {
    std::vector<int> meshes;
    for (int m : n.meshes)
      if (moved[static_cast<std::size_t>(m)] >= 0) meshes.push_back(moved[static_cast<std::size_t>(m)]);
    n.meshes = std::move(meshes);
  }
}

// ---- From the own text ".x" reader ----

bool tree_of_x(const media::XTree& x, ModelTree& out, std::string& error) {
  TreeBuild b(out);
  for (std::size_t f = 0; f < x.frames.size(); ++f) {
    const media::XFrame& frame = x.frames[f];
    add_node(b, frame.name, f == 0 ? -1 : frame.parent, matrix_of(frame.placement));
  }
  for (const media::XMaterial& m : x.materials) {
    ModelMaterial mm;
    mm.desc = material_desc(m.colour, m.power, m.specular, m.emissive);
    mm.texture = texture_name(m.texture);
    out.materials.push_back(std::move(mm));
  }
  for (std::size_t f = 0; f < x.frames.size() && b.error.empty(); ++f) {
    int node = static_cast<int>(f);
    bool flip = mirrored(b, node);
    for (int index : x.frames[f].meshes) {
      const media::XMesh& xm = x.meshes[static_cast<std::size_t>(index)];
      bool fresh = true;
      for (const media::XGroup& g : xm.groups) {
        ModelMesh* m = mesh_for_group(b, node, fresh);
        if (!m) break;
        fresh = false;
        ModelGroup group;
        group.first_vertex = static_cast<int>(m->vertices.size());
        group.material = g.material;
        for (std::uint32_t c = g.first; c + 3 <= g.first + g.count; c += 3) {
          scene::Vertex tri[3];
          for (int k = 0; k < 3; ++k) {
            const media::XCorner& corner = xm.corners[c + static_cast<std::uint32_t>(k)];
            tri[k].position = {corner.position[0], corner.position[1], corner.position[2]};
            tri[k].normal = {corner.normal[0], corner.normal[1], corner.normal[2]};
            tri[k].u = corner.u;
            tri[k].v = corner.v;
          }
          if (!add_triangle(b, *m, tri, xm.has_normals, flip)) break;
        }
        group.vertex_count = static_cast<int>(m->vertices.size()) - group.first_vertex;
        if (group.vertex_count > 0) m->groups.push_back(group);
        if (!b.error.empty()) break;
      }
      if (!b.error.empty()) break;
    }
  }
  // Animations: keys in ticks; rotations stored as DirectX files store them
  // (the inverse of the frame's turn, as the model library reads them).
  float tick = 1.0f / static_cast<float>(x.ticks_per_second);
  for (const media::XAnimationSet& set : x.animations) {
    if (!b.error.empty()) break;
    ModelAnimation a;
    a.name = set.name;
    for (const media::XTrack& t : set.tracks) {
      int width = media::x_key_width(t.kind);
      std::size_t keys = t.times.size() * (t.kind == media::XKeyKind::matrix ? 3 : 1);
      if (!count_keys(b, keys)) break;
      ModelChannel& c = channel_of(a, t.frame);
      for (std::size_t k = 0; k < t.times.size(); ++k) {
        float time = static_cast<float>(t.times[k]) * tick;
        const float* v = &t.values[k * static_cast<std::size_t>(width)];
        a.duration = std::max(a.duration, time);
        switch (t.kind) {
          case media::XKeyKind::rotation: {
            scene::Quat q = scene::normalise(scene::Quat{-v[1], -v[2], -v[3], v[0]});
            if (finite(q)) c.rotations.push_back({time, q});
            break;
          }
          case media::XKeyKind::scale:
            if (finite(scene::Vec3{v[0], v[1], v[2]})) c.scales.push_back({time, {v[0], v[1], v[2]}});
            break;
          case media::XKeyKind::position:
            if (finite(scene::Vec3{v[0], v[1], v[2]})) c.positions.push_back({time, {v[0], v[1], v[2]}});
            break;
          case media::XKeyKind::matrix: {
            float local[16];  // the file's rows are for row vectors
            for (int i = 0; i < 4; ++i)
              for (int j = 0; j < 4; ++j) local[i * 4 + j] = v[j * 4 + i];
            scene::Vec3 p, s;
            scene::Quat q;
            decompose(matrix_of(local), p, q, s);
            if (!finite(p) || !finite(s)) break;
            c.positions.push_back({time, p});
            c.rotations.push_back({time, q});
            c.scales.push_back({time, s});
            break;
          }
        }
      }
      sort_keys(c.positions), sort_keys(c.rotations), sort_keys(c.scales);
    }
    out.animations.push_back(std::move(a));
  }
  if (!b.error.empty()) {
    error = std::move(b.error);
    out = {};
    return false;
  }
  drop_empty_meshes(out);
  return true;
}

// ---- From the model library ----

// Whether the library's root node stands for the file itself (a node it made
// up, with no placement and no meshes of its own) rather than for the file's
// only top-level node: ".x" and glTF files with several top-level nodes get a
// made-up root, OBJ and ".3ds" files always have one (a ".3ds" root turns the
// file upright, and so stays a node).
bool root_is_file(const aiNode& root, std::string_view format) {
  if (!root.mTransformation.IsIdentity()) return false;
  std::string_view name(root.mName.data, root.mName.length);
  if (format == "x") return name.substr(0, 6) == "$dummy";
  if (format == "gltf" || format == "glb") return name == "ROOT" && root.mNumMeshes == 0;
  return format == "obj" || format == "3ds";
}

struct LibraryWalk {
  TreeBuild& b;
  const aiScene& s;
  int walked = 0;
};

// Node and its children (pre-order) under parent.
bool tree_walk(LibraryWalk& w, const aiNode& node, int parent, int depth) {
  TreeBuild& b = w.b;
  if (depth > kMaxModelNodeDepth) {
    b.error = "nodes nested deeper than " + std::to_string(kMaxModelNodeDepth);
    return false;
  }
  if (++w.walked > kMaxModelNodes) {
    b.error = "more than " + std::to_string(kMaxModelNodes) + " nodes";
    return false;
  }
  int index = add_node(b, std::string(node.mName.data, node.mName.length), parent, turned(b, node.mTransformation));
  bool flip = mirrored(b, index);
  bool fresh = true;
  for (unsigned i = 0; i < node.mNumMeshes; ++i) {
    if (node.mMeshes[i] >= w.s.mNumMeshes) continue;
    const aiMesh& am = *w.s.mMeshes[node.mMeshes[i]];
    ModelMesh* m = mesh_for_group(b, index, fresh);
    if (!m) return false;
    fresh = false;
    ModelGroup group;
    group.first_vertex = static_cast<int>(m->vertices.size());
    group.material = am.mMaterialIndex < w.s.mNumMaterials ? static_cast<int>(am.mMaterialIndex) : -1;
    for (unsigned f = 0; f < am.mNumFaces; ++f) {
      const aiFace& face = am.mFaces[f];
      if (face.mNumIndices != 3) continue;
      scene::Vertex tri[3];
      bool ok = true;
      for (int k = 0; k < 3; ++k) {
        unsigned v = face.mIndices[k];
        if (v >= am.mNumVertices) {
          ok = false;
          break;
        }
        aiVector3D p = turned(b, am.mVertices[v]);
        tri[k].position = {p.x, p.y, p.z};
        if (am.mNormals) {
          aiVector3D n = turned(b, am.mNormals[v]);
          tri[k].normal = {n.x, n.y, n.z};
        }
        if (am.mTextureCoords[0]) {
          tri[k].u = am.mTextureCoords[0][v].x;
          tri[k].v = am.mTextureCoords[0][v].y;
        }
      }
      if (ok && !add_triangle(b, *m, tri, am.mNormals != nullptr, flip)) return false;
    }
    group.vertex_count = static_cast<int>(m->vertices.size()) - group.first_vertex;
    if (group.vertex_count > 0) m->groups.push_back(group);
  }
  for (unsigned c = 0; c < node.mNumChildren; ++c)
    if (node.mChildren[c] && !tree_walk(w, *node.mChildren[c], index, depth + 1)) return false;
  return true;
}

ModelMaterial library_material(const aiMaterial* m) {
  ModelMaterial out;
  aiString name;
  if (calls.material_string(m, AI_MATKEY_NAME, &name) == aiReturn_SUCCESS && std::string_view(name.C_Str()) == AI_DEFAULT_MATERIAL_NAME)
    return out;  // the library's own default: drawn as a model without materials is
  aiColor4D diffuse(1, 1, 1, 1), specular(0, 0, 0, 1), emissive(0, 0, 0, 1);
  calls.material_colour(m, AI_MATKEY_COLOR_DIFFUSE, &diffuse);
  calls.material_colour(m, AI_MATKEY_COLOR_SPECULAR, &specular);
  calls.material_colour(m, AI_MATKEY_COLOR_EMISSIVE, &emissive);
  float opacity = 1, power = 0;
  unsigned one = 1;
  // The opacity when the file gives one (glTF gives it in the diffuse alpha too), else that alpha.
  if (calls.material_floats(m, AI_MATKEY_OPACITY, &opacity, &one) == aiReturn_SUCCESS) diffuse.a = opacity;
  one = 1;
  calls.material_floats(m, AI_MATKEY_SHININESS, &power, &one);
  float colour[4] = {diffuse.r, diffuse.g, diffuse.b, diffuse.a};
  float spec[3] = {specular.r, specular.g, specular.b}, emit[3] = {emissive.r, emissive.g, emissive.b};
  out.desc = material_desc(colour, power, spec, emit);
  aiString texture;
  if (calls.material_texture(m, aiTextureType_DIFFUSE, 0, &texture, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) ==
      aiReturn_SUCCESS)
    out.texture = texture_name(texture.C_Str());
  return out;
}

bool tree_of_library(const aiScene& s, std::string_view format, ModelTree& out, std::string& error) {
  TreeBuild b(out);
  b.turn_half = right_handed(format);
  LibraryWalk w{b, s};
  const aiNode& root = *s.mRootNode;
  bool ok = true;
  if (root_is_file(root, format)) {
    // The made-up root is the file: its meshes are the file's own, its children the top-level nodes.
    ok = tree_walk(w, root, -1, 0);
    if (!out.nodes.empty()) out.nodes[0].name.clear();
  } else {
    add_node(b, {}, -1, aiMatrix4x4());
    ok = tree_walk(w, root, 0, 0);
  }
  for (unsigned i = 0; ok && i < s.mNumMaterials; ++i) out.materials.push_back(library_material(s.mMaterials[i]));
  // Animations: the library's ticks (".x" files that give none tick 4800 times a second).
  for (unsigned i = 0; ok && i < s.mNumAnimations; ++i) {
    const aiAnimation& an = *s.mAnimations[i];
    double per_second = an.mTicksPerSecond > 0 ? an.mTicksPerSecond : format == "x" ? media::kDefaultXTicksPerSecond : 25;
    ModelAnimation a;
    a.name.assign(an.mName.data, an.mName.length);
    a.duration = static_cast<float>(an.mDuration / per_second);
    if (!std::isfinite(a.duration) || a.duration < 0) a.duration = 0;
    for (unsigned k = 0; ok && k < an.mNumChannels; ++k) {
      const aiNodeAnim& ch = *an.mChannels[k];
      std::string_view target(ch.mNodeName.data, ch.mNodeName.length);
      int node = -1;
      for (std::size_t n = 1; n < out.nodes.size() && node < 0; ++n)
        if (out.nodes[n].name == target) node = static_cast<int>(n);
      if (node < 0) continue;  // the file's root, or a node not walked
      if (!count_keys(b, std::size_t{ch.mNumPositionKeys} + ch.mNumRotationKeys + ch.mNumScalingKeys)) {
        ok = false;
        break;
      }
      ModelChannel& c = channel_of(a, node);
      auto time = [&](double ticks) { return static_cast<float>(ticks / per_second); };
      for (unsigned j = 0; j < ch.mNumPositionKeys; ++j) {
        aiVector3D p = turned(b, ch.mPositionKeys[j].mValue);
        if (finite(scene::Vec3{p.x, p.y, p.z})) c.positions.push_back({time(ch.mPositionKeys[j].mTime), {p.x, p.y, p.z}});
      }
      for (unsigned j = 0; j < ch.mNumRotationKeys; ++j) {
        const aiQuaternion& q = ch.mRotationKeys[j].mValue;
        scene::Quat r = turned(b, scene::normalise(scene::Quat{q.x, q.y, q.z, q.w}));
        if (finite(r)) c.rotations.push_back({time(ch.mRotationKeys[j].mTime), r});
      }
      for (unsigned j = 0; j < ch.mNumScalingKeys; ++j) {
        const aiVector3D& v = ch.mScalingKeys[j].mValue;
        if (finite(scene::Vec3{v.x, v.y, v.z})) c.scales.push_back({time(ch.mScalingKeys[j].mTime), {v.x, v.y, v.z}});
      }
      sort_keys(c.positions), sort_keys(c.rotations), sort_keys(c.scales);
    }
    if (ok) out.animations.push_back(std::move(a));
  }
  if (!ok || !b.error.empty()) {
    error = b.error.empty() ? "unreadable model" : std::move(b.error);
    out = {};
    return false;
  }
  if (b.vertices == 0) {
    error = "no triangles";
    out = {};
    return false;
  }
  drop_empty_meshes(out);
  return true;
}

bool library_tree(std::string_view bytes, std::string_view path, ModelTree& out, std::string& error) {
  std::string format;
  const aiScene* s = import_bytes(bytes, path, format, error);
  if (!s) return false;
  bool ok = tree_of_library(*s, format, out, error);
  calls.release_import(s);
  return ok;
}

}  // namespace

bool load_model_tree_from_memory(std::string_view bytes, std::string_view path, ModelTree& out, std::string& error) {
  out = {};
  if (media::is_text_x(bytes_of(bytes))) {
    media::XTree x;
    media::XStatus status = media::parse_text_x_tree(bytes_of(bytes), x);
    if (status == media::XStatus::ok) return tree_of_x(x, out, error);
    error = media::x_status_text(status);  // not handed on, as load_model does
    return false;
  }
  return library_tree(bytes, path, out, error);
}

bool load_model_tree(std::string_view path, ModelTree& out, std::string& error) {
  std::string bytes;
  if (!base::read_regular_file(path, kMaxModelBytes, bytes)) {
    out = {};
    error = "unreadable model";
    return false;
  }
  return load_model_tree_from_memory(bytes, path, out, error);
}

bool load_model_tree_through_library(std::string_view path, ModelTree& out, std::string& error) {
  out = {};
  std::string bytes;
  if (!base::read_regular_file(path, kMaxModelBytes, bytes)) {
    error = "unreadable model";
    return false;
  }
  return library_tree(bytes, path, out, error);
}

}  // namespace platform
