// 3D shapes (".a3d"): the loader of the shape file into face records and
// vertices in the data arena, and the shape's mesh built at scene start from
// its faces, its texture atlas and the atlas's palette.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "engine/ground_local.h"
#include "engine/render/render_local.h"
#include "base/files.h"
#include "base/log.h"

namespace engine {

namespace {

using project::AspectRecord;

// "0x" hexadecimal or decimal; anything else gives 0.
std::int32_t flags_value(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    std::uint32_t v = 0;
    for (char ch : s.substr(2)) {
      int d = ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : -1;
      if (d < 0) break;
      v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return static_cast<std::int32_t>(v);
  }
  return base::value(s);
}

std::int32_t arena_reference(const project::Tables& t, const std::byte* at) {
  return static_cast<std::int32_t>(at - t.arena.data()) + 1;
}

// count elements of size bytes at an arena reference, or null when they are not all inside.
const std::byte* arena_block(const project::Tables& t, std::int32_t reference, std::size_t count, std::size_t size) {
  if (reference <= 0 || count == 0) return nullptr;
  std::size_t offset = static_cast<std::size_t>(reference - 1);
  if (offset > t.arena.size() || count > (t.arena.size() - offset) / size) return nullptr;
  return t.arena.data() + offset;
}

}  // namespace

// ---- Geometry of faces ----------------------------------------------------------------------

bool face_uv(const ShapeFace& face, int t, int h, float u[4], float v[4]) {
  if ((face.flags & kFaceColoured) || t < 1 || t > kAtlasWidth || h < 1) return false;
  int row = (face.tile >> 8) & 0xFFFFFF, column = face.tile & 255;
  float u0 = static_cast<float>(column / t) * (static_cast<float>(t) / kAtlasWidth);
  float v0 = static_cast<float>(row / t) * (static_cast<float>(t) / static_cast<float>(h));
  float left = u0 + 1.0f / 128, right = u0 + static_cast<float>(t) / kAtlasWidth - 1.0f / 128;
  float top = v0 + 2.0f / static_cast<float>(h), bottom = v0 + static_cast<float>(t) / static_cast<float>(h) - 2.0f / static_cast<float>(h);
  if (face.flags & kFaceQuad) {
    const float qu[4] = {left, right, right, left}, qv[4] = {top, top, bottom, bottom};
    std::copy(qu, qu + 4, u), std::copy(qv, qv + 4, v);
  } else if (face.flags & kFaceMirrored) {
    const float tu[3] = {right, left, right}, tv[3] = {bottom, bottom, top};
    std::copy(tu, tu + 3, u), std::copy(tv, tv + 3, v);
  } else {
    const float tu[3] = {left, right, left}, tv[3] = {top, top, bottom};
    std::copy(tu, tu + 3, u), std::copy(tv, tv + 3, v);
  }
  return true;
}

int atlas_height(std::span<const ShapeFace> faces, int t) {
  int need = 1;
  for (const ShapeFace& f : faces)
    if (!(f.flags & kFaceColoured)) need = std::max(need, ((f.tile >> 8) & 0xFFFFFF) + t);
  int h = 1;
  while (h < need && h < kMaxAtlasHeight) h *= 2;
  return h;
}

void crease_normals(std::span<scene::Vertex> tri, float crease) {
  std::size_t n = tri.size() / 3 * 3;
  std::vector<scene::Vec3> face(n / 3);
  for (std::size_t f = 0; f < n / 3; ++f) {
    const scene::Vec3 a = tri[f * 3].position, b = tri[f * 3 + 1].position, c = tri[f * 3 + 2].position;
    // Clockwise fronts in a left-handed space: (b - a) x (c - a) points out of the front.
    face[f] = scene::normalise(scene::cross(scene::sub(b, a), scene::sub(c, a)));
  }
  // Corners sorted by position, so that the corners at one point form one run.
  std::vector<std::uint32_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(i);
  auto key = [&](std::uint32_t i) { return std::tuple(tri[i].position.x, tri[i].position.y, tri[i].position.z); };
  std::sort(order.begin(), order.end(), [&](std::uint32_t p, std::uint32_t q) { return key(p) < key(q); });
  float limit = std::cos(crease);
  std::vector<scene::Vec3> normal(n);
  for (std::size_t first = 0, last; first < n; first = last) {
    for (last = first + 1; last < n && key(order[last]) == key(order[first]);) ++last;
    for (std::size_t k = first; k < last; ++k) {
      scene::Vec3 own = face[order[k] / 3], sum{0, 0, 0};
      for (std::size_t j = first; j < last; ++j)
        if (order[j] / 3 == order[k] / 3 || scene::dot(own, face[order[j] / 3]) > limit) sum = scene::add(sum, face[order[j] / 3]);
      scene::Vec3 unit = scene::normalise(sum);
      normal[order[k]] = scene::modulus(unit) > 0 ? unit : own;
    }
  }
  for (std::size_t i = 0; i < n; ++i) tri[i].normal = normal[i];
}

std::span<const ShapeFace> shape_faces(const project::Tables& t, const AspectRecord& a) {
  std::int32_t count = a.word[kShapeFaceCount];
  if (count <= 0 || count > kMaxShapeFaces) return {};
  const std::byte* at = arena_block(t, a.word[kShapeFaces], static_cast<std::size_t>(count), sizeof(ShapeFace));
  if (!at || reinterpret_cast<std::uintptr_t>(at) % 4) return {};
  return {reinterpret_cast<const ShapeFace*>(at), static_cast<std::size_t>(count)};
}

std::span<const std::int32_t> shape_vertices(const project::Tables& t, const AspectRecord& a) {
  std::int32_t count = a.word[kShapeVertexCount];
  if (count <= 0 || count > kMaxShapeVertices) return {};
  const std::byte* at = arena_block(t, a.word[kShapeVertices], static_cast<std::size_t>(count), 12);
  if (!at || reinterpret_cast<std::uintptr_t>(at) % 4) return {};
  return {reinterpret_cast<const std::int32_t*>(at), static_cast<std::size_t>(count) * 3};
}

// ---- The loader -------------------------------------------------------------------------------

// Line 1: "t|atlas path|vertex count|face count|quality", then one "x|y|z"
// line per vertex (L) and one "flags|row|column|a|b|c|d" line per face.
// Counts above the caps are cut to them; a face whose vertex indexes or tile
// are out of range is skipped; missing lines shorten the lists.
bool load_shape(project::LoaderCall& c) {
  base::TextFile file;
  if (!file.open_read(c.path)) return false;
  base::Text header = file.read_line();
  auto header_field = [&](int k) { return base::field(header, k, '|'); };
  std::int32_t t = base::value(header_field(1));
  std::int32_t vertex_count = std::max(0, base::value(header_field(3)));
  std::int32_t face_count = std::max(0, base::value(header_field(4)));
  base::Text quality = header_field(5);
  if (vertex_count > kMaxShapeVertices || face_count > kMaxShapeFaces) {
    base::report("render", "shape full: %s has %d vertices, %d faces; %d, %d kept", c.path.c_str(), vertex_count,
                  face_count, kMaxShapeVertices, kMaxShapeFaces);
    vertex_count = std::min(vertex_count, kMaxShapeVertices);
    face_count = std::min(face_count, kMaxShapeFaces);
  }
  int n = project::take_aspect(c.tables, c.load, c.element, ".a3d");
  if (n < 0) return false;
  AspectRecord& a = c.tables.aspects[n];
  a.word[kShapeTileSize] = t >= 1 && t <= kAtlasWidth ? t : 0;
  a.word[kShapeQuality] = quality.empty() ? 3 : std::clamp(base::value(quality), 0, 3);
  base::Text atlas = header_field(2);
  std::string_view atlas_path = atlas.view();
  if (!atlas_path.empty() && atlas_path != "-") {
    if (std::byte* at = project::take_arena(c.tables, c.load, atlas_path.size() + 1)) {
      char* out = reinterpret_cast<char*>(at);
      for (std::size_t i = 0; i < atlas_path.size(); ++i) out[i] = atlas_path[i] == '\\' ? '/' : atlas_path[i];
      out[atlas_path.size()] = 0;
      a.word[kShapeAtlas] = arena_reference(c.tables, at);
    }
  }

  auto* vertices = reinterpret_cast<std::int32_t*>(
      vertex_count ? project::take_arena(c.tables, c.load, static_cast<std::size_t>(vertex_count) * 12) : nullptr);
  int read_vertices = 0;
  for (; vertices && read_vertices < vertex_count && !file.at_eof(); ++read_vertices) {
    base::Text line = file.read_line();
    if (line.empty() && file.at_eof()) break;
    for (int k = 0; k < 3; ++k) vertices[read_vertices * 3 + k] = base::value(base::field(line, k + 1, '|'));
  }
  if (vertices) {
    a.word[kShapeVertices] = arena_reference(c.tables, reinterpret_cast<std::byte*>(vertices));
    a.word[kShapeVertexCount] = read_vertices;
  }

  auto* faces = reinterpret_cast<ShapeFace*>(
      face_count && read_vertices ? project::take_arena(c.tables, c.load, static_cast<std::size_t>(face_count) * sizeof(ShapeFace)) : nullptr);
  int kept = 0, skipped = 0;
  for (int k = 0; faces && k < face_count && !file.at_eof(); ++k) {
    base::Text line = file.read_line();
    if (line.empty() && file.at_eof()) break;
    auto f = [&](int i) { return base::field(line, i, '|'); };
    ShapeFace face{};
    face.flags = flags_value(f(1));
    std::int32_t row = base::value(f(2)), column = base::value(f(3));
    bool ok = true;
    if (!(face.flags & kFaceColoured)) {
      ok = a.word[kShapeTileSize] > 0 && row >= 0 && column >= 0 && column + a.word[kShapeTileSize] <= kAtlasWidth &&
           row + a.word[kShapeTileSize] <= kMaxAtlasHeight;
      face.tile = ok ? row << 8 | column : 0;
    }
    for (int i = 0; i < face_corners(face); ++i) {
      base::Text index = f(4 + i);
      face.vertex[i] = index.empty() ? -1 : base::value(index);
      ok = ok && face.vertex[i] >= 0 && face.vertex[i] < read_vertices;
    }
    if (ok) {
      faces[kept++] = face;
    } else {
      ++skipped;
    }
  }
  if (skipped) base::report("render", "shape %s: %d faces skipped (bad vertex or tile)", c.path.c_str(), skipped);
  if (faces) {
    a.word[kShapeFaces] = arena_reference(c.tables, reinterpret_cast<std::byte*>(faces));
    a.word[kShapeFaceCount] = kept;
  }
  // Header field 6: cells a side of the terrain grid that makes this shape the ground.
  if (std::int32_t cells = base::value(header_field(6)); cells != 0 && kept > 0) {
    std::vector<GroundTriangle> triangles;
    for (int k = 0; k < kept; ++k) {
      GroundTriangle t;
      t.colour = face_colour(faces[k]);
      for (const auto& corners : {std::array{0, 1, 2}, std::array{0, 2, 3}}) {
        if (corners[2] == 3 && face_corners(faces[k]) != 4) break;
        for (int i = 0; i < 3; ++i) std::copy_n(&vertices[faces[k].vertex[corners[i]] * 3], 3, &t.v[3 * i]);
        triangles.push_back(t);
      }
    }
    build_terrain_grid(c, a, cells, triangles);
  }
  return true;
}

// ---- The mesh at scene start -----------------------------------------------------------------

namespace {

// The atlas image as a 256-wide 8-bit picture of height h (rows beyond the
// image and columns beyond its width are colour 0) and its palette. False when
// no image can be read.
bool read_atlas(std::string_view wanted, std::string_view work, int h, std::vector<std::uint8_t>& pixels,
                std::uint8_t palette[768]) {
  base::Text path = project::resolve_path(project::path_to_memory(wanted, work));
  if (!base::file_exists(path)) {
    std::string_view p = path.view();
    std::size_t slash = p.rfind('/');
    base::Text fallback = p.substr(0, slash == std::string_view::npos ? 0 : slash + 1);
    fallback += "default_.pcx";
    path = project::resolve_path(fallback);
    if (!base::file_exists(path)) return false;
  }
  std::vector<std::uint8_t> image(static_cast<std::size_t>(kAtlasWidth) * kMaxAtlasHeight + media::kPaletteBytes);
  media::ImageSize size;
  int count = media::load_pcx(path, media::kPcxAppendPalette, image, size);
  if (count <= 1 || size.width < 1 || size.height < 1) {
    base::report("render", "shape atlas %s is not a readable 8-bit PCX", path.c_str());
    return false;
  }
  std::memcpy(palette, &image[static_cast<std::size_t>(size.width) * size.height], 768);
  pixels.assign(static_cast<std::size_t>(kAtlasWidth) * h, 0);
  for (int y = 0; y < std::min(h, size.height); ++y)
    std::memcpy(&pixels[static_cast<std::size_t>(y) * kAtlasWidth], &image[static_cast<std::size_t>(y) * size.width],
                static_cast<std::size_t>(std::min(size.width, kAtlasWidth)));
  return true;
}

}  // namespace

void build_shape(World& w, Scene& s, const AspectRecord& a, scene::Frame frame) {
  std::span<const ShapeFace> faces = shape_faces(w.tables, a);
  std::span<const std::int32_t> xyz = shape_vertices(w.tables, a);
  if (faces.empty() || xyz.empty()) return;
  scene::Renderer& r = *s.renderer;
  int t = a.word[kShapeTileSize];
  int h = atlas_height(faces, t > 0 ? t : 1);

  // Step 1: the atlas texture, with colour 0 cut out when any textured face asks for it.
  std::uint8_t palette[768];
  std::memcpy(palette, s.palette, sizeof palette);  // the scheme when there is no atlas
  std::vector<std::uint8_t> pixels;
  bool any_textured = false, cut_out = false;
  for (const ShapeFace& f : faces)
    if (!(f.flags & kFaceColoured)) any_textured = true, cut_out = cut_out || (f.flags & kFaceTransparent);
  scene::Texture atlas;
  bool have_atlas = read_atlas(arena_text(w.tables, a.word[kShapeAtlas]), s.setup.work_folder, h, pixels, palette);
  if (any_textured && have_atlas && t > 0)
    atlas = scene::texture_create(r, pixels.data(), kAtlasWidth, h, kAtlasWidth, palette, cut_out);

  // Step 2: each face's triangles, grouped by colour (-1: the atlas).
  static constexpr scene::Quality kQualities[] = {scene::Quality::wireframe, scene::Quality::unlit_flat,
                                                  scene::Quality::flat, scene::Quality::gouraud};
  scene::Quality quality = kQualities[std::clamp(a.word[kShapeQuality], 0, 3)];
  std::vector<int> keys;
  for (const ShapeFace& f : faces) {
    int key = f.flags & kFaceColoured ? face_colour(f) : -1;
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  }
  std::vector<scene::Vertex>& out = s.vertices;
  out.clear();
  std::vector<scene::FaceGroup> groups;
  for (int key : keys) {
    scene::FaceGroup g;
    g.first_vertex = static_cast<int>(out.size());
    g.quality = quality;
    scene::MaterialDesc m;  // white under the texture
    if (key >= 0) m.colour = {palette[key * 3] / 256.0f, palette[key * 3 + 1] / 256.0f, palette[key * 3 + 2] / 256.0f, 1};
    else g.texture = atlas;
    g.material = scene::material_create(r, m);
    for (const ShapeFace& f : faces) {
      if ((f.flags & kFaceColoured ? face_colour(f) : -1) != key) continue;
      scene::Vertex corner[4];
      float u[4] = {}, v[4] = {};
      face_uv(f, t, h, u, v);
      for (int i = 0; i < face_corners(f); ++i) {
        const std::int32_t* p = &xyz[static_cast<std::size_t>(f.vertex[i]) * 3];
        corner[i].position = {p[0] / 1000.0f, p[1] / 1000.0f, p[2] / 1000.0f};
        corner[i].u = u[i], corner[i].v = v[i];
      }
      for (int i : {0, 1, 2}) out.push_back(corner[i]);
      if (face_corners(f) == 4)
        for (int i : {0, 2, 3}) out.push_back(corner[i]);
    }
    g.vertex_count = static_cast<int>(out.size()) - g.first_vertex;
    groups.push_back(g);
  }

  // Step 3: normals, then meshes of at most kMaxGroupsPerMesh groups on the frame.
  crease_normals(out, kShapeCrease);
  for (std::size_t first = 0; first < groups.size(); first += scene::kMaxGroupsPerMesh) {
    std::size_t count = std::min<std::size_t>(scene::kMaxGroupsPerMesh, groups.size() - first);
    int base = groups[first].first_vertex;
    int end = groups[first + count - 1].first_vertex + groups[first + count - 1].vertex_count;
    std::vector<scene::FaceGroup> part(groups.begin() + static_cast<std::ptrdiff_t>(first),
                                       groups.begin() + static_cast<std::ptrdiff_t>(first + count));
    for (scene::FaceGroup& g : part) g.first_vertex -= base;
    scene::Mesh mesh = scene::mesh_create(r, std::span(out).subspan(static_cast<std::size_t>(base), static_cast<std::size_t>(end - base)), part);
    if (!scene::valid(mesh)) {
      base::report("render", "shape mesh: %s", scene::last_error(r));
      return;
    }
    scene::frame_add_mesh(r, frame, mesh);
  }
}

}  // namespace engine
