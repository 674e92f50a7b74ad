// Helpers shared by the media tests (and the sound tests above them): a scratch
// folder, whole-file reading, ".wav" files built chunk by chunk, and ground
// triangles for ground maps and terrain grids.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cstdint>
#include <initializer_list>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/media.h"

namespace media_test {

// A ground triangle from its nine coordinates (L).
inline media::GroundTriangle tri(std::initializer_list<std::int32_t> v) {
  media::GroundTriangle t;
  std::copy(v.begin(), v.end(), t.v);
  return t;
}
// The square -h..h (L) at height y as two triangles.
inline std::vector<media::GroundTriangle> flat(std::int32_t h, std::int32_t y) {
  return {tri({-h, y, -h, -h, y, h, h, y, h}), tri({-h, y, -h, h, y, h, h, y, -h})};
}

// A fresh folder under /tmp, removed with everything in it at the end of the scope.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    char name[] = "/tmp/zepta_media_XXXXXX";
    path = mkdtemp(name) ? name : "/tmp";
  }
  ~ScratchDir() {
    if (path != "/tmp") std::filesystem::remove_all(path);
  }
  std::string file(const std::string& name) const { return path + "/" + name; }
};

inline std::vector<uint8_t> read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_all(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// One RIFF chunk: tag, size (the body's, or claimed when given), body, a pad
// byte after an odd-sized body.
inline std::vector<uint8_t> riff_chunk(const char* tag, const std::vector<uint8_t>& body, int64_t claimed = -1) {
  std::vector<uint8_t> c(tag, tag + 4);
  uint32_t size = claimed >= 0 ? static_cast<uint32_t>(claimed) : static_cast<uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) c.push_back(static_cast<uint8_t>(size >> (8 * i)));
  c.insert(c.end(), body.begin(), body.end());
  if (body.size() & 1) c.push_back(0);
  return c;
}

// The 16-byte "fmt " body; block left out means channels x bits / 8.
inline std::vector<uint8_t> wav_format(int code, int channels, uint32_t rate, int bits, int block = -1) {
  if (block < 0) block = channels * bits / 8;
  uint32_t byte_rate = rate * static_cast<uint32_t>(block);
  std::vector<uint8_t> f;
  auto u16 = [&](unsigned v) { f.push_back(v & 255), f.push_back((v >> 8) & 255); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  u16(static_cast<unsigned>(code)), u16(static_cast<unsigned>(channels)), u32(rate), u32(byte_rate);
  u16(static_cast<unsigned>(block)), u16(static_cast<unsigned>(bits));
  return f;
}

// "RIFF" size "WAVE" and the chunks.
inline std::vector<uint8_t> riff_wave(const std::vector<std::vector<uint8_t>>& chunks) {
  std::vector<uint8_t> body = {'W', 'A', 'V', 'E'};
  for (const auto& c : chunks) body.insert(body.end(), c.begin(), c.end());
  return riff_chunk("RIFF", body);
}

// A plain PCM file: format and data.
inline std::vector<uint8_t> pcm_wav(int channels, uint32_t rate, int bits, const std::vector<uint8_t>& data) {
  return riff_wave({riff_chunk("fmt ", wav_format(1, channels, rate, bits)), riff_chunk("data", data)});
}

// Mono 16-bit samples as little-endian bytes.
inline std::vector<uint8_t> pcm16_bytes(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> b;
  for (int16_t s : samples) b.push_back(static_cast<uint8_t>(s)), b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
  return b;
}

// ---- ".3ds" files built chunk by chunk --------------------------------------------------

inline std::string le16(std::uint32_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
inline std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }
inline std::string le_float(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return le32(bits);
}
// A chunk: id, its length (header included; by default the true one), its data.
inline std::string chunk3ds(std::uint16_t id, const std::string& data, long length = -1) {
  return le16(id) + le32(static_cast<std::uint32_t>(length < 0 ? static_cast<long>(data.size()) + 6 : length)) + data;
}
using Corner = std::array<float, 3>;
using Face = std::array<std::uint16_t, 3>;
inline std::string vertex_chunk(const std::vector<Corner>& vertices) {
  std::string d = le16(static_cast<std::uint32_t>(vertices.size()));
  for (const Corner& v : vertices) d += le_float(v[0]) + le_float(v[1]) + le_float(v[2]);
  return chunk3ds(0x4110, d);
}
inline std::string face_chunk(const std::vector<Face>& faces) {
  std::string d = le16(static_cast<std::uint32_t>(faces.size()));
  for (const Face& f : faces) d += le16(f[0]) + le16(f[1]) + le16(f[2]) + le16(0);
  return chunk3ds(0x4120, d);
}
// main > version, editor > object name > triangle mesh > the given mesh chunks.
inline std::string model3ds(const std::string& mesh_chunks, const std::string& name = "box") {
  std::string object = chunk3ds(0x4000, name + std::string(1, '\0') + chunk3ds(0x4100, mesh_chunks));
  return chunk3ds(0x4D4D, chunk3ds(0x0002, le32(3)) + chunk3ds(0x3D3D, chunk3ds(0x3D3E, le32(3)) + object));
}
// The unit cube 0..1 as 8 vertices and 12 faces.
inline std::vector<Corner> cube_vertices() {
  return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
}
inline std::vector<Face> cube_faces() {
  return {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
          {2, 3, 7}, {2, 7, 6}, {1, 2, 6}, {1, 6, 5}, {0, 4, 7}, {0, 7, 3}};
}
inline std::string cube3ds() { return model3ds(vertex_chunk(cube_vertices()) + face_chunk(cube_faces())); }

}  // namespace media_test
