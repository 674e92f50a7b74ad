// Text DirectX ".x" meshes: a tokenizer and a reader of the few objects that
// carry geometry; everything else is skipped by its braces.
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

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

  // After an object's type: an optional name, then "{".
  bool open_object() {
    std::string_view t = next();
    if (t != "{" && (t.empty() || t == "}" || next() != "{")) return fail(XStatus::bad_syntax);
    return true;
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

struct Mesh {
  std::vector<float> positions, normals, uvs;
  std::vector<std::uint32_t> indices, normal_indices;
  std::vector<Face> faces, normal_faces;
  std::vector<std::uint32_t> face_materials;
  std::uint32_t materials = 0;
  bool has_normals = false, has_uvs = false;
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

bool material_list(Reader& r, Mesh& m, std::size_t faces) {
  std::uint32_t declared, n;
  if (!r.open_object() || !r.count(declared, 0) || !r.count(n, 2)) return false;
  if (n != faces && n != 1) return r.fail(XStatus::bad_count);
  m.face_materials.resize(n);
  for (std::uint32_t& index : m.face_materials)
    if (!r.count(index, 0)) return false;
  if (n == 1) m.face_materials.assign(faces, m.face_materials[0]);
  // The materials, inline or by reference: only their number counts.
  for (;;) {
    std::string_view t = r.next();
    if (t == "}") return true;
    if (t.empty()) return r.fail(XStatus::bad_syntax);
    if (t == "{") {
      if (!r.skip_body()) return false;
    } else if (!r.skip_object()) {
      return false;
    }
    ++m.materials;
  }
}

bool mesh_body(Reader& r, Mesh& m) {
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
      if (!material_list(r, m, m.faces.size())) return false;
    } else if (!r.skip_object()) {
      return false;
    }
  }
  return true;
}

struct Builder {
  std::vector<XPart>& parts;
  int corners = 0;

  // Corner k of face fi.
  XCorner corner(const Mesh& m, std::size_t fi, std::uint32_t k) const {
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
  std::uint32_t quad_start(const Mesh& m, const Face& f) const {
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

  void add(const Mesh& m, const Matrix& placement) {
    std::uint32_t groups = m.materials > 0 ? m.materials : 1;
    bool by_material = !m.face_materials.empty();
    for (std::uint32_t g = 0; g < groups; ++g) {
      XPart part;
      std::memcpy(part.placement, placement.m, sizeof part.placement);
      part.has_normals = m.has_normals;
      for (std::size_t fi = 0; fi < m.faces.size(); ++fi) {
        if (by_material ? m.face_materials[fi] != g : g != 0) continue;
        const Face& f = m.faces[fi];
        if (f.size < 3) continue;
        std::uint32_t start = f.size == 4 ? quad_start(m, f) : 0;
        for (std::uint32_t k = 1; k + 1 < f.size; ++k) {
          if (corners + 3 > kMaxXCorners) break;
          part.corners.push_back(corner(m, fi, start));
          part.corners.push_back(corner(m, fi, (start + k) % f.size));
          part.corners.push_back(corner(m, fi, (start + k + 1) % f.size));
          corners += 3;
        }
      }
      if (!part.corners.empty()) parts.push_back(std::move(part));
    }
  }
};

// A frame's tree: its meshes first, then its child frames.
struct Frame {
  Matrix local;
  std::vector<Mesh> meshes;
  std::vector<Frame> children;
};

bool frame_body(Reader& r, Frame& frame, int depth) {
  if (depth > kMaxXDepth) return r.fail(XStatus::too_deep);
  if (!r.open_object()) return false;
  for (;;) {
    std::string_view t = r.next();
    if (t == "}") return true;
    if (t.empty()) return r.fail(XStatus::bad_syntax);
    if (t == "{") {
      if (!r.skip_body()) return false;
    } else if (t == "Frame") {
      frame.children.emplace_back();
      if (!frame_body(r, frame.children.back(), depth + 1)) return false;
    } else if (t == "FrameTransformMatrix") {
      float rows[16];  // the file's rows are for row vectors: its translation is the last row
      if (!r.open_object()) return false;
      for (float& f : rows)
        if (!r.number(f)) return false;
      if (!r.expect("}")) return false;
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) frame.local.m[i * 4 + j] = rows[j * 4 + i];
    } else if (t == "Mesh") {
      frame.meshes.emplace_back();
      if (!mesh_body(r, frame.meshes.back())) return false;
    } else if (!r.skip_object()) {
      return false;
    }
  }
}

void place(Builder& b, const Frame& frame, const Matrix& parent) {
  Matrix world = multiply(parent, frame.local);
  for (const Mesh& m : frame.meshes) b.add(m, world);
  for (const Frame& child : frame.children) place(b, child, world);
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

XStatus parse_text_x(std::span<const uint8_t> file, std::vector<XPart>& parts) {
  parts.clear();
  if (!is_text_x(file)) return XStatus::not_text_x;
  Reader r{std::string_view(reinterpret_cast<const char*>(file.data()), file.size()), 16};
  std::vector<Mesh> loose;  // meshes outside any frame
  Frame root;               // the top-level frames are its children
  for (;;) {
    std::string_view t = r.next();
    if (t.empty()) break;
    if (t == "{") {
      if (!r.skip_body()) break;
    } else if (t == "}") {
      r.fail(XStatus::bad_syntax);
    } else if (t == "Frame") {
      root.children.emplace_back();
      frame_body(r, root.children.back(), 1);
    } else if (t == "Mesh") {
      loose.emplace_back();
      mesh_body(r, loose.back());
    } else {
      r.skip_object();
    }
    if (r.status != XStatus::ok) return r.status;
  }
  if (r.status != XStatus::ok) return r.status;
  // Loose meshes hang from the root: the single top-level frame when there is
  // one (and take its placement), else an unplaced root above the frames.
  Builder b{parts};
  Matrix top = root.children.size() == 1 ? root.children[0].local : Matrix{};
  for (const Mesh& m : loose) b.add(m, top);
  place(b, root, Matrix{});
  return parts.empty() ? XStatus::no_triangles : XStatus::ok;
}

}  // namespace media
