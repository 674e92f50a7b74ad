// Text DirectX ".x" models: a tokenizer and a reader of the objects that carry
// geometry, materials and animations; everything else is skipped by its braces.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>

#include "media/media.h"

namespace media {

namespace {

// One 4 x 4 placement, row-major for column vectors (see XPart).
struct Matrix {
  float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

Matrix multiply(const Matrix& a, const Matrix& b) {
  Matrix r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float sum = 0;
      for (int k = 0; k < 4; ++k) sum += a.m[i * 4 + k] * b.m[k * 4 + j];
      r.m[i * 4 + j] = sum;
    }
  return r;
}

// Tokens: "{", "}", a quoted string, or a run of other characters. Blanks,
// commas and semicolons separate; "//" and "#" start a comment to the line's end.
struct Reader {
  std::string_view text;
  std::size_t at = 0;
  XStatus status = XStatus::ok;

  static bool separator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ';' || c == '\f' || c == '\v';
  }

  void skip_separators() {
    while (at < text.size()) {
      char c = text[at];
      if (separator(c)) {
        ++at;
      } else if (c == '#' || (c == '/' && at + 1 < text.size() && text[at + 1] == '/')) {
        while (at < text.size() && text[at] != '\n') ++at;
      } else {
        break;
      }
    }
  }

  // The next token; "" at the end of the file.
  std::string_view next() {
    skip_separators();
    std::size_t start = at;
    if (at >= text.size()) return {};
    char c = text[at];
    if (c == '{' || c == '}') {
      ++at;
    } else if (c == '"') {
      ++at;
      while (at < text.size() && text[at] != '"') ++at;
      if (at < text.size()) ++at;
    } else {
      while (at < text.size() && !separator(text[at]) && text[at] != '{' && text[at] != '}' && text[at] != '#' &&
             !(text[at] == '/' && at + 1 < text.size() && text[at + 1] == '/'))
        ++at;
    }
    return text.substr(start, at - start);
  }

  bool fail(XStatus why) {
    if (status == XStatus::ok) status = why;
    return false;
  }

  bool expect(std::string_view token) { return next() == token || fail(XStatus::bad_syntax); }

  // A count that the rest of the file could hold, each item taking at least
  // per_item bytes.
  bool count(std::uint32_t& n, std::size_t per_item) {
    std::string_view t = next();
    if (t.empty() || t == "{" || t == "}") return fail(XStatus::bad_syntax);
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (ec != std::errc() || end != t.data() + t.size()) return fail(XStatus::bad_count);
    if (static_cast<std::uint64_t>(n) * per_item > text.size() - at + 1) return fail(XStatus::bad_count);
    return true;
  }

  bool number(float& f) {
    std::string_view t = next();
    const char* first = t.data();
    if (!t.empty() && t[0] == '+') ++first;
    auto [end, ec] = std::from_chars(first, t.data() + t.size(), f);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return fail(XStatus::bad_syntax);
    return true;
  }

  // After an object's type: an optional name (into name), then "{".
  bool open_object(std::string_view* name = nullptr) {
    std::string_view t = next();
    if (name) *name = {};
    if (t == "{") return true;
    if (t.empty() || t == "}" || next() != "{") return fail(XStatus::bad_syntax);
    if (name) *name = t;
    return true;
  }

  // A reference ("{" already read): its name, past the closing "}".
  bool reference(std::string_view& name) {
    name = next();
    if (name == "}") {
      name = {};
      return true;
    }
    if (name.empty() || name == "{") return fail(XStatus::bad_syntax);
    return skip_body();
  }

  // Past the "}" that closes an object whose "{" was just read.
  bool skip_body() {
    for (int depth = 1; depth > 0;) {
      std::string_view t = next();
      if (t.empty()) return fail(XStatus::bad_syntax);
      if (t == "{") ++depth;
      if (t == "}") --depth;
    }
    return true;
  }

  // An object of a type not read: its name and braces.
  bool skip_object() { return open_object() && skip_body(); }
};

struct Face {
  std::uint32_t first = 0, size = 0;  // into the mesh's index list
};

// A Mesh as the file lists it.
struct Mesh {
  std::vector<float> positions, normals, uvs;
  std::vector<std::uint32_t> indices, normal_indices;
  std::vector<Face> faces, normal_faces;
  std::vector<std::uint32_t> face_materials;
  std::vector<int> materials;  // the material list's entries, into XTree::materials (-1: default)
  bool has_normals = false, has_uvs = false;
};

// One reading of a file: the tokens, the tree being built, and what the
// references are resolved against.
struct Parser {
  Reader r;
  XTree& tree;
  bool animations;                                       // read AnimationSets (else skip them)
  std::vector<std::pair<std::string_view, int>> named;   // top-level Materials by name
  std::vector<std::string_view> track_frames;            // per track of the tree, its frame's name
  std::size_t keys = 0;
  // Corners made so far by meshes outside any frame and by those in frames:
  // each kind stops at the limit, so that the file's order and the drawing
  // order (loose meshes first) drop the same faces.
  int loose_corners = 0, frame_corners = 0;
};

bool vectors(Reader& r, std::vector<float>& out, int width) {
  std::uint32_t n;
  if (!r.count(n, 2 * width)) return false;
  out.resize(static_cast<std::size_t>(n) * width);
  for (float& f : out)
    if (!r.number(f)) return false;
  return true;
}

// Faces: a count, then per face its corner count and corners, each below limit.
bool face_list(Reader& r, std::vector<Face>& faces, std::vector<std::uint32_t>& indices, std::size_t limit) {
  std::uint32_t n;
  if (!r.count(n, 2)) return false;
  faces.resize(n);
  for (Face& f : faces) {
    if (!r.count(f.size, 2)) return false;
    f.first = static_cast<std::uint32_t>(indices.size());
    for (std::uint32_t k = 0; k < f.size; ++k) {
      std::uint32_t index;
      if (!r.count(index, 0)) return false;
      if (index >= limit) return r.fail(XStatus::bad_index);
      indices.push_back(index);
    }
  }
  return true;
}

// A Material's body, after its type; added to the tree, its index returned in index.
bool material(Parser& p, std::string_view& name, int& index) {
  Reader& r = p.r;
  XMaterial m;
  if (!r.open_object(&name)) return false;
  float numbers[11];
  for (float& f : numbers)
    if (!r.number(f)) return false;
  std::memcpy(m.colour, numbers, sizeof m.colour);
  m.power = numbers[4];
  std::memcpy(m.specular, numbers + 5, sizeof m.specular);
  std::memcpy(m.emissive, numbers + 8, sizeof m.emissive);
  for (;;) {
    std::string_view t = r.next();
    if (t == "}") break;
    if (t.empty()) return r.fail(XStatus::bad_syntax);
    if (t == "{") {
      if (!r.skip_body()) return false;
    } else if (t == "TextureFilename" || t == "TextureFileName") {
      if (!r.open_object()) return false;
      std::string_view file = r.next();
      if (file.size() < 2 || file.front() != '"' || file.back() != '"') return r.fail(XStatus::bad_syntax);
      // Backslashes of the path come doubled, as C strings escape them.
      for (std::size_t i = 1; i + 1 < file.size(); ++i) {
        m.texture += file[i];
        if (file[i] == '\\' && file[i + 1] == '\\' && i + 2 < file.size()) ++i;
      }
      if (!r.expect("}")) return false;
    } else if (!r.skip_object()) {
      return false;
    }
  }
  index = static_cast<int>(p.tree.materials.size());
  p.tree.materials.push_back(std::move(m));
  return true;
}

int named_material(const Parser& p, std::string_view name) {
  for (auto it = p.named.rbegin(); it != p.named.rend(); ++it)
    if (it->first == name) return it->second;
  return -1;
}

bool material_list(Parser& p, Mesh& m, std::size_t faces) {
  Reader& r = p.r;
  std::uint32_t declared, n;
  if (!r.open_object() || !r.count(declared, 0) || !r.count(n, 2)) return false;
  if (n != faces && n != 1) return r.fail(XStatus::bad_count);
  m.face_materials.resize(n);
  for (std::uint32_t& index : m.face_materials)
    if (!r.count(index, 0)) return false;
  if (n == 1) m.face_materials.assign(faces, m.face_materials[0]);
  // The materials, inline or by reference; any other object takes a place too.
  m.materials.clear();
  for (;;) {
    std::string_view t = r.next();
    if (t == "}") return true;
    if (t.empty()) return r.fail(XStatus::bad_syntax);
    int index = -1;
    std::string_view name;
    if (t == "{") {
      if (!r.reference(name)) return false;
      index = named_material(p, name);
    } else if (t == "Material") {
      if (!material(p, name, index)) return false;
    } else if (!r.skip_object()) {
      return false;
    }
    m.materials.push_back(index);
  }
}

bool mesh_body(Parser& p, Mesh& m) {
  Reader& r = p.r;
  if (!r.open_object() || !vectors(r, m.positions, 3) || !face_list(r, m.faces, m.indices, m.positions.size() / 3))
    return false;
  for (;;) {
    std::string_view t = r.next();
    if (t == "}") break;
    if (t.empty()) return r.fail(XStatus::bad_syntax);
    if (t == "{") {
      if (!r.skip_body()) return false;
    } else if (t == "MeshNormals") {
      m.normal_faces.clear();
      m.normal_indices.clear();
      if (!r.open_object() || !vectors(r, m.normals, 3) ||
          !face_list(r, m.normal_faces, m.normal_indices, m.normals.size() / 3) || !r.expect("}"))
        return false;
      if (m.normal_faces.size() != m.faces.size()) return r.fail(XStatus::bad_count);
      for (std::size_t f = 0; f < m.faces.size(); ++f)
        if (m.normal_faces[f].size != m.faces[f].size) return r.fail(XStatus::bad_count);
      m.has_normals = true;
    } else if (t == "MeshTextureCoords") {
      if (!r.open_object() || !vectors(r, m.uvs, 2) || !r.expect("}")) return false;
      if (m.uvs.size() / 2 != m.positions.size() / 3) return r.fail(XStatus::bad_count);
      m.has_uvs = true;
    } else if (t == "MeshMaterialList") {
      if (!material_list(p, m, m.faces.size())) return false;
    } else if (!r.skip_object()) {
      return false;
    }
  }
  return true;
}

// Corner k of face fi.
XCorner corner(const Mesh& m, std::size_t fi, std::uint32_t k) {
  XCorner c;
  std::uint32_t i = m.indices[m.faces[fi].first + k];
  std::memcpy(c.position, &m.positions[i * 3], sizeof c.position);
  if (m.has_normals) {
    std::uint32_t n = m.normal_indices[m.normal_faces[fi].first + k];
    std::memcpy(c.normal, &m.normals[n * 3], sizeof c.normal);
  }
  if (m.has_uvs) {
    c.u = m.uvs[i * 2];
    c.v = m.uvs[i * 2 + 1];
  }
  return c;
}

// Where a quad's fan starts: its concave corner, if it has one.
std::uint32_t quad_start(const Mesh& m, const Face& f) {
  auto at = [&](std::uint32_t k) { return &m.positions[m.indices[f.first + (k % 4)] * 3]; };
  auto unit = [](const float* from, const float* to, float out[3]) {
    float length = 0;
    for (int i = 0; i < 3; ++i) {
      out[i] = to[i] - from[i];
      length += out[i] * out[i];
    }
    length = std::sqrt(length);
    if (length > 0)
      for (int i = 0; i < 3; ++i) out[i] /= length;
  };
  auto angle = [](const float* a, const float* b) {
    float d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    return std::acos(d < -1 ? -1 : d > 1 ? 1 : d);
  };
  for (std::uint32_t k = 0; k < 4; ++k) {
    float left[3], diagonal[3], right[3];
    unit(at(k), at(k + 3), left);
    unit(at(k), at(k + 2), diagonal);
    unit(at(k), at(k + 1), right);
    if (angle(left, diagonal) + angle(right, diagonal) > 3.14159265f) return k;
  }
  return 0;
}

// A mesh's faces fanned into triangles, grouped by material; faces whose
// material index is past the list are left out, and triangles past the
// budget of corners. Empty groups are dropped.
XMesh triangles(const Mesh& m, int& budget) {
  XMesh out;
  out.has_normals = m.has_normals;
  std::size_t groups = m.materials.empty() ? 1 : m.materials.size();
  bool by_material = !m.face_materials.empty();
  for (std::size_t g = 0; g < groups; ++g) {
    XGroup group;
    group.first = static_cast<std::uint32_t>(out.corners.size());
    group.material = m.materials.empty() ? -1 : m.materials[g];
    for (std::size_t fi = 0; fi < m.faces.size(); ++fi) {
      if (by_material ? m.face_materials[fi] != g : g != 0) continue;
      const Face& f = m.faces[fi];
      if (f.size < 3) continue;
      std::uint32_t start = f.size == 4 ? quad_start(m, f) : 0;
      for (std::uint32_t k = 1; k + 1 < f.size && budget >= 3; ++k, budget -= 3) {
        out.corners.push_back(corner(m, fi, start));
        out.corners.push_back(corner(m, fi, (start + k) % f.size));
        out.corners.push_back(corner(m, fi, (start + k + 1) % f.size));
      }
    }
    group.count = static_cast<std::uint32_t>(out.corners.size()) - group.first;
    if (group.count > 0) out.groups.push_back(group);
  }
  return out;
}

// A Mesh (its type just read) into the tree; its index in index.
bool mesh(Parser& p, bool loose, int& index) {
  Mesh m;
  if (!mesh_body(p, m)) return false;
  int& made = loose ? p.loose_corners : p.frame_corners;
  int budget = kMaxXCorners - made;
  index = static_cast<int>(p.tree.meshes.size());
  p.tree.meshes.push_back(triangles(m, budget));
  made = kMaxXCorners - budget;
  return true;
}

// One AnimationKey (its type just read) onto the tracks of the animation being read.
bool animation_key(Parser& p, std::vector<XTrack>& tracks) {
  Reader& r = p.r;
  std::uint32_t type, n;
  if (!r.open_object() || !r.count(type, 0)) return false;
  if (type != 0 && type != 1 && type != 2 && type != 4) return r.fail(XStatus::bad_key);
  if (!r.count(n, 4)) return false;
  if (n > static_cast<std::size_t>(kMaxXKeys) - p.keys) return r.fail(XStatus::too_many_keys);
  p.keys += n;
  XTrack track;
  track.kind = static_cast<XKeyKind>(type);
  std::uint32_t width = static_cast<std::uint32_t>(x_key_width(track.kind));
  track.times.resize(n);
  track.values.resize(static_cast<std::size_t>(n) * width);
  for (std::uint32_t k = 0; k < n; ++k) {
    std::uint32_t values;
    if (!r.count(track.times[k], 0) || !r.count(values, 0)) return false;
    if (values != width) return r.fail(XStatus::bad_key);
    for (std::uint32_t v = 0; v < width; ++v)
      if (!r.number(track.values[static_cast<std::size_t>(k) * width + v])) return false;
  }
  if (!r.expect("}")) return false;
  tracks.push_back(std::move(track));
  return true;
}

// One Animation: its frame reference and keys.
bool animation(Parser& p, XAnimationSet& set) {
  Reader& r = p.r;
  if (!r.open_object()) return false;
  std::vector<XTrack> tracks;
  std::string_view frame;
  for (;;) {
    std::string_view t = r.next();
    if (t == "}") break;
    if (t.empty()) return r.fail(XStatus::bad_syntax);
    if (t == "{") {
      if (!r.reference(frame)) return false;
    } else if (t == "AnimationKey") {
      if (!animation_key(p, tracks)) return false;
    } else if (!r.skip_object()) {
      return false;
    }
  }
  for (XTrack& track : tracks) {
    set.tracks.push_back(std::move(track));
    p.track_frames.push_back(frame);
  }
  return true;
}

bool animation_set(Parser& p) {
  Reader& r = p.r;
  std::string_view name;
  if (!r.open_object(&name)) return false;
  XAnimationSet set;
  set.name.assign(name);
  for (;;) {
    std::string_view t = r.next();
    if (t == "}") break;
    if (t.empty()) return r.fail(XStatus::bad_syntax);
    if (t == "{") {
      if (!r.skip_body()) return false;
    } else if (t == "Animation") {
      if (!animation(p, set)) return false;
    } else if (!r.skip_object()) {
      return false;
    }
  }
  p.tree.animations.push_back(std::move(set));
  return true;
}

// A frame's contents (after its "{"), into frame index.
bool frame_body(Parser& p, int index, int depth) {
  Reader& r = p.r;
  if (depth > kMaxXDepth) return r.fail(XStatus::too_deep);
  for (;;) {
    std::string_view t = r.next();
    if (t == "}") return true;
    if (t.empty()) return r.fail(XStatus::bad_syntax);
    if (t == "{") {
      if (!r.skip_body()) return false;
    } else if (t == "Frame") {
      std::string_view name;
      if (!r.open_object(&name)) return false;
      if (p.tree.frames.size() > static_cast<std::size_t>(kMaxXFrames)) return r.fail(XStatus::too_many_frames);
      XFrame child;
      child.name.assign(name);
      child.parent = index;
      p.tree.frames.push_back(std::move(child));
      if (!frame_body(p, static_cast<int>(p.tree.frames.size()) - 1, depth + 1)) return false;
    } else if (t == "FrameTransformMatrix") {
      float rows[16];  // the file's rows are for row vectors: its translation is the last row
      if (!r.open_object()) return false;
      for (float& f : rows)
        if (!r.number(f)) return false;
      if (!r.expect("}")) return false;
      float* local = p.tree.frames[static_cast<std::size_t>(index)].placement;
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) local[i * 4 + j] = rows[j * 4 + i];
    } else if (t == "Mesh") {
      int m;
      if (!mesh(p, false, m)) return false;
      p.tree.frames[static_cast<std::size_t>(index)].meshes.push_back(m);
    } else if (!r.skip_object()) {
      return false;
    }
  }
}

// The whole file into the tree (animations only when asked).
XStatus parse(std::span<const uint8_t> file, XTree& tree, bool animations) {
  tree = XTree{};
  if (!is_text_x(file)) return XStatus::not_text_x;
  Parser p{Reader{std::string_view(reinterpret_cast<const char*>(file.data()), file.size()), 16}, tree, animations,
           {}, {}, 0};
  Reader& r = p.r;
  tree.frames.emplace_back();  // the file
  std::vector<int> loose;      // meshes outside any frame
  for (;;) {
    std::string_view t = r.next();
    if (t.empty()) break;
    if (t == "{") {
      r.skip_body();
    } else if (t == "}") {
      r.fail(XStatus::bad_syntax);
    } else if (t == "Frame") {
      std::string_view name;
      if (r.open_object(&name) &&
          (tree.frames.size() <= static_cast<std::size_t>(kMaxXFrames) || r.fail(XStatus::too_many_frames))) {
        XFrame top;
        top.name.assign(name);
        top.parent = 0;
        tree.frames.push_back(std::move(top));
        frame_body(p, static_cast<int>(tree.frames.size()) - 1, 1);
      }
    } else if (t == "Mesh") {
      int m;
      if (mesh(p, true, m)) loose.push_back(m);
    } else if (t == "Material") {
      std::string_view name;
      int index;
      if (material(p, name, index) && !name.empty()) p.named.emplace_back(name, index);
    } else if (t == "AnimTicksPerSecond" && animations) {
      std::uint32_t ticks;
      if (r.open_object() && r.count(ticks, 0) && r.expect("}") && ticks > 0) tree.ticks_per_second = ticks;
    } else if (t == "AnimationSet" && animations) {
      animation_set(p);
    } else {
      r.skip_object();
    }
    if (r.status != XStatus::ok) break;
  }
  if (r.status != XStatus::ok) {
    tree = XTree{};
    return r.status;
  }

  // Loose meshes hang from the single top-level frame when there is one, else from the file.
  int tops = 0, top = 0;
  for (std::size_t f = 1; f < tree.frames.size(); ++f)
    if (tree.frames[f].parent == 0) ++tops, top = static_cast<int>(f);
  std::vector<int>& owner = tree.frames[static_cast<std::size_t>(tops == 1 ? top : 0)].meshes;
  owner.insert(owner.begin(), loose.begin(), loose.end());

  // Corners past the limit (in frame order) dropped; meshes left without one left out.
  int corners = 0;
  for (XFrame& frame : tree.frames) {
    std::vector<int> kept;
    for (int m : frame.meshes) {
      XMesh& mesh = tree.meshes[static_cast<std::size_t>(m)];
      std::size_t room = static_cast<std::size_t>(kMaxXCorners - corners) / 3 * 3;
      if (mesh.corners.size() > room) {
        mesh.corners.resize(room);
        std::vector<XGroup> groups;
        for (XGroup g : mesh.groups) {
          if (g.first >= room) break;
          g.count = std::min<std::uint32_t>(g.count, static_cast<std::uint32_t>(room) - g.first);
          groups.push_back(g);
        }
        mesh.groups = std::move(groups);
      }
      corners += static_cast<int>(mesh.corners.size());
      if (!mesh.corners.empty()) kept.push_back(m);
    }
    frame.meshes = std::move(kept);
  }

  // Tracks onto the frames they name (the first frame of that name); others dropped.
  std::size_t named = 0;
  for (XAnimationSet& set : tree.animations) {
    std::vector<XTrack> kept;
    for (XTrack& track : set.tracks) {
      std::string_view name = p.track_frames[named++];
      for (std::size_t f = 1; f < tree.frames.size() && !name.empty(); ++f)
        if (tree.frames[f].name == name) {
          track.frame = static_cast<int>(f);
          kept.push_back(std::move(track));
          break;
        }
    }
    set.tracks = std::move(kept);
  }
  if (corners == 0) {
    tree = XTree{};
    return XStatus::no_triangles;
  }
  return XStatus::ok;
}

}  // namespace

const char* x_status_text(XStatus status) {
  switch (status) {
    case XStatus::ok: return "ok";
    case XStatus::not_text_x: return "not a text .x file";
    case XStatus::bad_syntax: return "damaged .x file";
    case XStatus::bad_count: return "a count of the .x file is wrong";
    case XStatus::bad_index: return "a face index is out of range";
    case XStatus::too_deep: return "frames nested too deep";
    case XStatus::no_triangles: return "no triangles";
    case XStatus::bad_key: return "an animation key of the .x file is wrong";
    case XStatus::too_many_keys: return "more than 65536 animation keys";
    case XStatus::too_many_frames: return "more than 16384 frames";
  }
  return "?";
}

bool is_text_x(std::span<const uint8_t> file) {
  if (file.size() < 16) return false;
  std::string_view head(reinterpret_cast<const char*>(file.data()), 16);
  auto digits = [&](std::size_t at) {
    for (std::size_t i = at; i < at + 4; ++i)
      if (head[i] < '0' || head[i] > '9') return false;
    return true;
  };
  return head.substr(0, 4) == "xof " && digits(4) && head.substr(8, 4) == "txt " &&
         (head.substr(12, 4) == "0032" || head.substr(12, 4) == "0064");
}

XStatus parse_text_x_tree(std::span<const uint8_t> file, XTree& tree) { return parse(file, tree, true); }

XStatus parse_text_x(std::span<const uint8_t> file, std::vector<XPart>& parts) {
  parts.clear();
  XTree tree;
  XStatus status = parse(file, tree, false);
  if (status != XStatus::ok) return status;
  // Frames come after their parents: each placement multiplies its parent's.
  std::vector<Matrix> world(tree.frames.size());
  for (std::size_t f = 0; f < tree.frames.size(); ++f) {
    Matrix local;
    std::memcpy(local.m, tree.frames[f].placement, sizeof local.m);
    world[f] = f == 0 ? local : multiply(world[static_cast<std::size_t>(tree.frames[f].parent)], local);
    for (int m : tree.frames[f].meshes) {
      XMesh& mesh = tree.meshes[static_cast<std::size_t>(m)];
      for (const XGroup& g : mesh.groups) {
        XPart part;
        std::memcpy(part.placement, world[f].m, sizeof part.placement);
        part.has_normals = mesh.has_normals;
        part.corners.assign(mesh.corners.begin() + g.first, mesh.corners.begin() + g.first + g.count);
        parts.push_back(std::move(part));
      }
    }
  }
  return XStatus::ok;
}

}  // namespace media
