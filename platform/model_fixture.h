// Tests: one small model written as text ".x", ".obj", ".gltf" (with its ".bin")
// and ".glb", made by code. The glTF and OBJ files hold the model as those
// formats want it (right-handed, front faces counter-clockwise, OBJ's v up the
// texture): x mirrored from the ".x" file, each triangle's corners listed the
// other way round.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace model_fixture {

struct Corner {
  float x, y, z, nx, ny, nz, u, v;  // as in the ".x" file (left-handed, v down the texture)
};

// A square facing -z with a small triangle standing out on its right (+x), so
// that a mirror or a turn shows; two faces share no corner.
inline const std::vector<Corner>& corners() {
  static const std::vector<Corner> c = {
      {-1, 1, 0, 0, 0, -1, 0, 0},  {1, 1, 0, 0, 0, -1, 1, 0},    {1, -1, 0, 0, 0, -1, 1, 1},
      {-1, 1, 0, 0, 0, -1, 0, 0},  {1, -1, 0, 0, 0, -1, 1, 1},   {-1, -1, 0, 0, 0, -1, 0, 1},
      {1, 1, 0, 0, 0, -1, 0.5f, 0}, {1.6f, 1, 0, 0, 0, -1, 1, 0}, {1, 0.4f, 0, 0, 0, -1, 0.5f, 0.5f},
  };
  return c;
}
inline constexpr float kShiftX = 0.25f;  // the node's placement, as the ".x" file has it

inline std::string number(float f) {
  char b[32];
  std::snprintf(b, sizeof b, "%.6g", static_cast<double>(f));
  return b;
}

inline std::string x_text() {
  const auto& c = corners();
  std::string t = "xof 0303txt 0032\nFrame shape {\n FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, " +
                  number(kShiftX) + ",0,0,1;; }\n Mesh m {\n  " + std::to_string(c.size()) + ";\n";
  for (std::size_t i = 0; i < c.size(); ++i)
    t += "  " + number(c[i].x) + ";" + number(c[i].y) + ";" + number(c[i].z) + (i + 1 < c.size() ? ";,\n" : ";;\n");
  t += "  " + std::to_string(c.size() / 3) + ";\n";
  for (std::size_t i = 0; i < c.size(); i += 3)
    t += "  3;" + std::to_string(i) + "," + std::to_string(i + 1) + "," + std::to_string(i + 2) +
         (i + 3 < c.size() ? ";,\n" : ";;\n");
  t += "  MeshNormals {\n   " + std::to_string(c.size()) + ";\n";
  for (std::size_t i = 0; i < c.size(); ++i)
    t += "   " + number(c[i].nx) + ";" + number(c[i].ny) + ";" + number(c[i].nz) + (i + 1 < c.size() ? ";,\n" : ";;\n");
  t += "   " + std::to_string(c.size() / 3) + ";\n";
  for (std::size_t i = 0; i < c.size(); i += 3)
    t += "   3;" + std::to_string(i) + "," + std::to_string(i + 1) + "," + std::to_string(i + 2) +
         (i + 3 < c.size() ? ";,\n" : ";;\n");
  t += "  }\n  MeshTextureCoords {\n   " + std::to_string(c.size()) + ";\n";
  for (std::size_t i = 0; i < c.size(); ++i)
    t += "   " + number(c[i].u) + ";" + number(c[i].v) + (i + 1 < c.size() ? ";,\n" : ";;\n");
  t += "  }\n }\n}\n";
  return t;
}

// The ".obj" (and the ".mtl" it names, with its map_Kd) of the same model.
inline std::string obj_text(const std::string& mtl_name) {
  std::string t = "# made by a test\nmtllib " + mtl_name + "\no shape\n";
  for (const Corner& c : corners()) t += "v " + number(-(c.x + kShiftX)) + " " + number(c.y) + " " + number(c.z) + "\n";
  for (const Corner& c : corners()) t += "vt " + number(c.u) + " " + number(1 - c.v) + "\n";
  for (const Corner& c : corners()) t += "vn " + number(-c.nx) + " " + number(c.ny) + " " + number(c.nz) + "\n";
  t += "usemtl skin\n";
  for (std::size_t i = 1; i + 2 <= corners().size(); i += 3) {
    t += "f";
    for (std::size_t k : {i, i + 2, i + 1}) t += " " + std::to_string(k) + "/" + std::to_string(k) + "/" + std::to_string(k);
    t += "\n";
  }
  return t;
}
inline std::string mtl_text(const std::string& texture) {
  return "newmtl skin\nKd 1 1 1\nmap_Kd " + texture + "\n";
}

// The binary buffer of the glTF files: positions, normals, texture coordinates, indices.
inline std::string gltf_buffer() {
  std::string b;
  auto put = [&](float f) { b.append(reinterpret_cast<const char*>(&f), 4); };
  for (const Corner& c : corners()) put(-c.x), put(c.y), put(c.z);
  for (const Corner& c : corners()) put(-c.nx), put(c.ny), put(c.nz);
  for (const Corner& c : corners()) put(c.u), put(c.v);
  for (std::uint16_t i = 0; i < corners().size(); i += 3)
    for (std::uint16_t k : {i, static_cast<std::uint16_t>(i + 2), static_cast<std::uint16_t>(i + 1)})
      b.append(reinterpret_cast<const char*>(&k), 2);
  while (b.size() % 4) b += '\0';
  return b;
}

// The glTF JSON; buffer_uri empty: the ".glb" form (the buffer in its BIN chunk).
// extra goes in before the closing brace (",\"images\":[...]" and such).
inline std::string gltf_json(const std::string& buffer_uri, const std::string& extra = "") {
  std::size_t n = corners().size();
  std::size_t positions = 0, normals = 12 * n, uvs = 24 * n, indices = 32 * n;
  std::string size = std::to_string(gltf_buffer().size());
  auto view = [&](std::size_t offset, std::size_t length, int target) {
    return "{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) + ",\"byteLength\":" + std::to_string(length) +
           ",\"target\":" + std::to_string(target) + "}";
  };
  std::string count = std::to_string(n);
  return std::string("{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],") +
         "\"nodes\":[{\"mesh\":0,\"translation\":[" + number(-kShiftX) + ",0,0]}]," +
         "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0,\"NORMAL\":1,\"TEXCOORD_0\":2},\"indices\":3," +
         "\"material\":0}]}],\"materials\":[{\"pbrMetallicRoughness\":{\"baseColorFactor\":[1,1,1,1]}}]," +
         "\"buffers\":[{" + (buffer_uri.empty() ? "" : "\"uri\":\"" + buffer_uri + "\",") + "\"byteLength\":" + size +
         "}],\"bufferViews\":[" + view(positions, 12 * n, 34962) + "," + view(normals, 12 * n, 34962) + "," +
         view(uvs, 8 * n, 34962) + "," + view(indices, 2 * n, 34963) + "],\"accessors\":[" +
         "{\"bufferView\":0,\"componentType\":5126,\"count\":" + count +
         ",\"type\":\"VEC3\",\"min\":[-1.6,-1,0],\"max\":[1,1,0]}," +
         "{\"bufferView\":1,\"componentType\":5126,\"count\":" + count + ",\"type\":\"VEC3\"}," +
         "{\"bufferView\":2,\"componentType\":5126,\"count\":" + count + ",\"type\":\"VEC2\"}," +
         "{\"bufferView\":3,\"componentType\":5123,\"count\":" + count + ",\"type\":\"SCALAR\"}]" + extra + "}";
}

inline void put32(std::string& b, std::uint32_t v) { b.append(reinterpret_cast<const char*>(&v), 4); }

// A ".glb" of json and a BIN chunk (none when bin is empty).
inline std::string glb_bytes(std::string json, const std::string& bin) {
  while (json.size() % 4) json += ' ';
  std::string b = "glTF";
  put32(b, 2);
  put32(b, static_cast<std::uint32_t>(12 + 8 + json.size() + (bin.empty() ? 0 : 8 + bin.size())));
  put32(b, static_cast<std::uint32_t>(json.size()));
  b += "JSON";
  b += json;
  if (!bin.empty()) {
    put32(b, static_cast<std::uint32_t>(bin.size()));
    b += std::string("BIN\0", 4);
    b += bin;
  }
  return b;
}

}  // namespace model_fixture
