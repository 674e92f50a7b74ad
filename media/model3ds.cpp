// 3DS meshes: the chunk walk that finds the last triangle mesh of a file, and
// the writer of the explode generator's two-sided fragment meshes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "media/media.h"

namespace media {

namespace {

enum ChunkId : uint16_t {
  kMain = 0x4D4D,
  kVersion = 0x0002,
  kEditor = 0x3D3D,
  kObject = 0x4000,
  kTriangleMesh = 0x4100,
  kVertexList = 0x4110,
  kFaceList = 0x4120,
};
constexpr uint32_t kHeaderBytes = 6;
constexpr int kMaxDepth = 8;  // main > editor > object > mesh, with room for odd nesting

uint16_t u16_at(std::span<const std::byte> b, std::size_t at) {
  return static_cast<uint16_t>(std::to_integer<uint16_t>(b[at]) | std::to_integer<uint16_t>(b[at + 1]) << 8);
}
uint32_t u32_at(std::span<const std::byte> b, std::size_t at) {
  return static_cast<uint32_t>(u16_at(b, at)) | static_cast<uint32_t>(u16_at(b, at + 2)) << 16;
}
float float_at(std::span<const std::byte> b, std::size_t at) {
  uint32_t bits = u32_at(b, at);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

std::string hex4(uint32_t v) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s = "0x0000";
  for (int k = 0; k < 4; ++k) s[5 - k] = digits[(v >> (4 * k)) & 15];
  return s;
}

struct Walk {
  std::span<const std::byte> file;
  std::size_t vertices_at = 0;  // first vertex of the last vertex list
  uint32_t vertex_count = 0;
  bool have_vertices = false;
  bool have_faces = false;
  std::vector<Triangle3ds>& out;
  std::string& why;

  bool fail(std::string reason) {
    why = std::move(reason);
    out.clear();
    return false;
  }

  bool vertex_list(std::size_t data, std::size_t end) {
    if (end - data < 2) return fail("vertex list without a count");
    uint32_t count = u16_at(file, data);
    if (end - data - 2 < std::size_t{count} * 12) return fail("vertex list of " + std::to_string(count) + " runs past its chunk");
    vertices_at = data + 2;
    vertex_count = count;
    have_vertices = true;
    return true;
  }

  bool face_list(std::size_t data, std::size_t end) {
    if (end - data < 2) return fail("face list without a count");
    uint32_t count = u16_at(file, data);
    if (end - data - 2 < std::size_t{count} * 8) return fail("face list of " + std::to_string(count) + " runs past its chunk");
    if (!have_vertices) return fail("face list before any vertex list");
    if (count > static_cast<uint32_t>(kMax3dsFragments))
      return fail(std::to_string(count) + " triangles (at most " + std::to_string(kMax3dsFragments) + ")");
    out.clear();
    out.resize(count);
    for (uint32_t f = 0; f < count; ++f) {
      std::size_t face = data + 2 + std::size_t{f} * 8;
      for (int k = 0; k < 3; ++k) {
        uint32_t v = u16_at(file, face + 2 * static_cast<std::size_t>(k));
        if (v >= vertex_count)
          return fail("face " + std::to_string(f) + " names vertex " + std::to_string(v) + " of " +
                      std::to_string(vertex_count));
        for (int axis = 0; axis < 3; ++axis) {
          float c = float_at(file, vertices_at + std::size_t{v} * 12 + 4 * static_cast<std::size_t>(axis));
          if (!std::isfinite(c)) return fail("vertex " + std::to_string(v) + " is not a number");
          out[f].corner[k][axis] = c;
        }
      }
    }
    have_faces = true;
    return true;
  }

  // The chunks between data and end, descending into the containers.
  bool chunks(std::size_t at, std::size_t end, int depth) {
    while (at < end) {
      if (end - at < kHeaderBytes) return fail("chunk header cut short at offset " + std::to_string(at));
      uint16_t id = u16_at(file, at);
      uint32_t length = u32_at(file, at + 2);
      if (length < kHeaderBytes)
        return fail("chunk " + hex4(id) + " of length " + std::to_string(length) + " at offset " + std::to_string(at));
      if (length > end - at) return fail("chunk " + hex4(id) + " at offset " + std::to_string(at) + " runs past its end");
      std::size_t data = at + kHeaderBytes, next = at + length;
      switch (id) {
        case kEditor:
        case kTriangleMesh:
          if (depth >= kMaxDepth) return fail("chunks nested too deep");
          if (!chunks(data, next, depth + 1)) return false;
          break;
        case kObject: {
          std::size_t name_end = data;
          while (name_end < next && file[name_end] != std::byte{0}) ++name_end;
          if (name_end == next) return fail("object name without its end");
          if (depth >= kMaxDepth) return fail("chunks nested too deep");
          if (!chunks(name_end + 1, next, depth + 1)) return false;
          break;
        }
        case kVertexList:
          if (!vertex_list(data, next)) return false;
          break;
        case kFaceList:
          if (!face_list(data, next)) return false;
          break;
        default: break;
      }
      at = next;
    }
    return true;
  }
};

void put16(std::vector<std::byte>& b, uint32_t v) {
  b.push_back(static_cast<std::byte>(v & 0xFF));
  b.push_back(static_cast<std::byte>((v >> 8) & 0xFF));
}
void put32(std::vector<std::byte>& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
void chunk_header(std::vector<std::byte>& b, uint16_t id, uint32_t length) {
  put16(b, id);
  put32(b, length);
}

}  // namespace

Read3ds read_3ds_triangles(std::span<const std::byte> file, std::vector<Triangle3ds>& out, std::string& why) {
  out.clear();
  why.clear();
  if (file.size() < 2 || file[0] != std::byte{k3dsMagic[0]} || file[1] != std::byte{k3dsMagic[1]})
    return Read3ds::not_3ds;
  Walk w{file, 0, 0, false, false, out, why};
  if (file.size() < kHeaderBytes) return w.fail("file cut short"), Read3ds::damaged;
  uint32_t length = u32_at(file, 2);
  if (length < kHeaderBytes) return w.fail("main chunk of length " + std::to_string(length)), Read3ds::damaged;
  if (length > file.size())
    return w.fail("file cut short (" + std::to_string(file.size()) + " of " + std::to_string(length) + " bytes)"),
           Read3ds::damaged;
  if (!w.chunks(kHeaderBytes, length, 0)) return Read3ds::damaged;
  if (!w.have_faces || out.empty()) return w.fail("no triangles"), Read3ds::damaged;
  return Read3ds::ok;
}

std::vector<std::byte> write_fragment_3ds(std::span<const Triangle3ds> triangles) {
  uint32_t n = static_cast<uint32_t>(std::min<std::size_t>(triangles.size(), kMax3dsFragments));
  uint32_t total = 52 * n + 56;
  std::vector<std::byte> b;
  b.reserve(total);
  chunk_header(b, kMain, total);
  chunk_header(b, kVersion, 10);
  put32(b, 3);
  chunk_header(b, kEditor, total - 16);
  chunk_header(b, kObject, total - 22);
  for (char c : std::string_view("ZEPTA", 6)) b.push_back(static_cast<std::byte>(c));
  chunk_header(b, kTriangleMesh, total - 34);
  chunk_header(b, kVertexList, 36 * n + 8);
  put16(b, 3 * n);
  for (uint32_t t = 0; t < n; ++t)
    for (const float* corner : triangles[t].corner)
      for (int axis = 0; axis < 3; ++axis) {
        uint32_t bits;
        std::memcpy(&bits, &corner[axis], sizeof bits);
        put32(b, bits);
      }
  chunk_header(b, kFaceList, 16 * n + 8);
  put16(b, 2 * n);
  for (uint32_t t = 0; t < n; ++t) {
    uint32_t v = 3 * t;
    for (uint32_t i : {v, v + 1, v + 2, 0u, v, v + 2, v + 1, 0u}) put16(b, i);
  }
  return b;
}

}  // namespace media
