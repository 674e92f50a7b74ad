// Models placed by their node transforms: a mirroring placement must not turn
// the shape inside out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

using scene::Vec3;

// A tetrahedron wound the way the files are made, with one outward normal per face.
constexpr const char* kTetrahedron = R"(
Mesh tetrahedron {
  4;
  0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;, 0.0;0.0;1.0;;
  4;
  3;0,2,1;, 3;0,1,3;, 3;0,3,2;, 3;1,2,3;;
)";
constexpr const char* kFaceNormals = R"(
  MeshNormals {
    4;
    0.0;0.0;-1.0;, 0.0;-1.0;0.0;, -1.0;0.0;0.0;, 0.577;0.577;0.577;;
    4;
    3;0,0,0;, 3;1,1,1;, 3;2,2,2;, 3;3,3,3;;
  }
)";

// A text ".x" file: the mesh inside one frame per matrix, outermost first
// (16 numbers each, rows of the .x layout: the last row is the translation).
std::string x_file(const std::vector<std::string>& matrices, bool normals) {
  std::string text = "xof 0303txt 0032\n";
  for (std::size_t i = 0; i < matrices.size(); ++i)
    text += "Frame f" + std::to_string(i) + " {\n  FrameTransformMatrix {\n    " + matrices[i] + ";;\n  }\n";
  text += kTetrahedron;
  if (normals) text += kFaceNormals;
  text += "}\n";
  for (std::size_t i = 0; i < matrices.size(); ++i) text += "}\n";
  return text;
}

const std::string kIdentity = "1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0";
const std::string kMirrorX = "-1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0";
const std::string kMirrorZ = "1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,-1.0,0.0,0.0,0.0,0.0,1.0";
const std::string kTurnHalf = "-1.0,0.0,0.0,0.0,0.0,-1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0";         // two mirrors: a turn
const std::string kScaledMirror = "2.0,0.0,0.0,0.0,0.0,-3.0,0.0,0.0,0.0,0.0,1.0,0.0,5.0,1.0,-2.0,1.0";   // stretched, mirrored, moved

Vec3 mean(const Vec3* v, int n) {
  Vec3 m{0, 0, 0};
  for (int i = 0; i < n; ++i) m = scene::add(m, v[i]);
  return scene::scale(m, 1.0f / static_cast<float>(n));
}

TEST(Model, MirroringPlacementsKeepTheFrontsOutside) {
  struct {
    const char* name;
    std::vector<std::string> matrices;
  } cases[] = {
      {"identity", {kIdentity}},
      {"mirror x", {kMirrorX}},
      {"mirror z", {kMirrorZ}},
      {"half turn", {kTurnHalf}},
      {"scaled mirror", {kScaledMirror}},
      {"mirrored parent", {kMirrorX, kIdentity}},
      {"mirrored child", {kIdentity, kMirrorZ}},
      {"two mirrors", {kMirrorX, kMirrorZ}},
  };
  char folder[] = "/tmp/zepta_model_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string path = std::string(folder) + "/shape.x";
  for (const auto& c : cases) {
    for (bool normals : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (normals ? " with normals" : ""));
      std::ofstream(path, std::ios::binary) << x_file(c.matrices, normals);
      std::vector<scene::Vertex> out;
      std::string error;
      ASSERT_TRUE(platform::load_model(path, out, error)) << error;
      ASSERT_EQ(out.size(), 12u);
      Vec3 positions[12];
      for (int i = 0; i < 12; ++i) positions[i] = out[i].position;
      Vec3 centre = mean(positions, 12);
      for (int t = 0; t < 4; ++t) {
        const scene::Vertex* v = &out[3 * t];
        Vec3 outward = scene::sub(mean(positions + 3 * t, 3), centre);
        // Clockwise from the front: the winding's normal is (b - a) x (c - a).
        Vec3 winding = scene::cross(scene::sub(v[1].position, v[0].position), scene::sub(v[2].position, v[0].position));
        EXPECT_GT(scene::dot(winding, outward), 0) << "triangle " << t;
        for (int k = 0; k < 3; ++k) EXPECT_GT(scene::dot(v[k].normal, outward), 0) << "triangle " << t;
      }
    }
  }
  std::remove(path.c_str());
  rmdir(folder);
}

}  // namespace
