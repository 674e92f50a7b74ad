// Models placed by their node transforms: a mirroring placement must not turn
// the shape inside out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/scramble.h"
#include "platform/libraries.h"
#include "platform/platform.h"

#ifndef ZEPTA_DEMO_DIR
#define ZEPTA_DEMO_DIR "demo"
#endif

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

// The program's own text ".x" reader gives the triangles the model library gives.
void expect_same_triangles(const std::string& path, bool same_order) {
  std::vector<scene::Vertex> own, library;
  std::string error;
  ASSERT_FALSE(platform::model_needs_library(path));
  ASSERT_TRUE(platform::load_model(path, own, error)) << error;
  ASSERT_TRUE(platform::load_model_through_library(path, library, error)) << error;
  ASSERT_EQ(own.size(), library.size());
  auto near = [](Vec3 a, Vec3 b) { return std::fabs(a.x - b.x) + std::fabs(a.y - b.y) + std::fabs(a.z - b.z) < 1e-4f; };
  if (same_order) {
    for (std::size_t i = 0; i < own.size(); ++i) {
      SCOPED_TRACE("corner " + std::to_string(i));
      EXPECT_TRUE(near(own[i].position, library[i].position));
      EXPECT_TRUE(near(own[i].normal, library[i].normal));
      EXPECT_NEAR(own[i].u, library[i].u, 1e-5f);
      EXPECT_NEAR(own[i].v, library[i].v, 1e-5f);
    }
    return;
  }
  // Triangulated another way: the same area facing the same way.
  auto area = [](const std::vector<scene::Vertex>& v) {
    Vec3 sum{0, 0, 0};
    for (std::size_t i = 0; i + 2 < v.size(); i += 3)
      sum = scene::add(sum, scene::cross(scene::sub(v[i + 1].position, v[i].position),
                                         scene::sub(v[i + 2].position, v[i].position)));
    return sum;
  };
  EXPECT_TRUE(near(area(own), area(library)));
}

TEST(Model, OwnReaderMatchesTheModelLibraryOnTheDemoMeshes) {
  if (!platform::model_library_available()) GTEST_SKIP() << "no model library to compare with";
  for (const char* name : {"car.x", "gantry.x", "tree.x"}) {
    SCOPED_TRACE(name);
    expect_same_triangles(std::string(ZEPTA_DEMO_DIR) + "/racing/" + name, true);
  }
}

TEST(Model, OwnReaderMatchesTheModelLibraryOnSmallFiles) {
  if (!platform::model_library_available()) GTEST_SKIP() << "no model library to compare with";
  const std::string square = "4;0.0;0.0;0.0;,1.0;0.0;0.0;,1.0;1.0;0.0;,0.0;1.0;0.0;;\n";
  struct {
    const char* name;
    std::string text;
    bool same_order;
  } cases[] = {
      {"nested frames, quads, no normals",
       "xof 0303txt 0032\ntemplate Frame { <3D82AB46-62DA-11cf-AB39-0020AF71E433> [...] }\n"
       "Header { 1; 0; 1; }\n// a comment\n# another\n"
       "Frame outer {\n FrameTransformMatrix { 0.0,0.0,1.0,0.0,0.0,1.0,0.0,0.0,-1.0,0.0,0.0,0.0,3.0,4.0,5.0,1.0;; }\n"
       " Frame inner {\n  FrameTransformMatrix { 2.0,0.0,0.0,0.0,0.0,2.0,0.0,0.0,0.0,0.0,2.0,0.0,0.0,1.0,0.0,1.0;; }\n"
       "  Mesh box {\n   8; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;, 0;0;1;, 1;0;1;, 1;1;1;, 0;1;1;;\n"
       "   3; 4;0,3,2,1;, 4;4,5,6,7;, 3;0,1,5;;\n  }\n }\n"
       " Mesh flat {\n  " + square + "  1; 4;0,1,2,3;;\n  VertexDuplicationIndices { 4; 4; 0,1,2,3;; }\n }\n}\n",
       true},
      {"normals and texture coordinates",
       "xof 0303txt 0032\nMesh m {\n" + square + " 2; 3;0,1,2;, 3;0,2,3;;\n"
       " MeshNormals { 2; 0;0;-1;, 0;0.6;-0.8;; 2; 3;0,0,1;, 3;1,1,0;; }\n"
       " MeshTextureCoords { 4; 0;0;, 1;0;, 1;1;, 0;1;; }\n}\n",
       true},
      {"faces grouped by material",
       "xof 0303txt 0032\nMaterial red { 1;0;0;1;; 0; 0;0;0;; 0;0;0;; }\nMesh m {\n" + square +
       " 4; 3;0,1,2;, 3;0,2,3;, 3;0,2,1;, 3;0,3,2;;\n"
       " MeshMaterialList { 2; 4; 1,0,1,0;; { red } Material blue { 0;0;1;1;; 0; 0;0;0;; 0;0;0;; } }\n}\n",
       true},
      {"a concave quad fans from its dent",
       "xof 0303txt 0032\nMesh dart {\n 4; 0;0;0;, 2;1;0;, 0;2;0;, 0.5;1;0;;\n 1; 4;0,1,2,3;;\n}\n", true},
      {"a polygon", "xof 0303txt 0032\nMesh p {\n 6; 0;0;0;, 2;0;0;, 3;1;0;, 2;2;0;, 0;2;0;, -1;1;0;;\n"
                    " 1; 6;0,1,2,3,4,5;;\n}\n", false},
      {"two top-level frames",
       "xof 0303txt 0032\nFrame a { FrameTransformMatrix { 1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,5.0,0.0,0.0,1.0;; }\n"
       " Mesh { " + square + " 1; 3;0,1,2;; } }\n"
       "Frame b { Mesh { " + square + " 1; 3;0,2,3;; } }\n", true},
  };
  char folder[] = "/tmp/zepta_model_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string path = std::string(folder) + "/shape.x";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(path, std::ios::binary) << c.text;
    expect_same_triangles(path, c.same_order);
  }
  std::remove(path.c_str());
  rmdir(folder);
}

// Without the optional libraries: text meshes still load, the rest fails with a
// clear reason, reported once. Run in a fresh process, as the libraries load once.
TEST(Model, MissingLibrariesFailCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        char folder[] = "/tmp/zepta_model_XXXXXX";
        if (!mkdtemp(folder)) std::exit(2);
        std::string base = folder;
        std::ofstream(base + "/shape.x", std::ios::binary) << x_file({kIdentity}, true);
        std::ofstream(base + "/shape.3ds", std::ios::binary) << std::string(64, 'M');
        std::string log = base + "/stderr.txt";
        if (!std::freopen(log.c_str(), "w", stderr)) std::exit(2);
        platform::refuse_library_for_testing("libassimp.so.5");
        std::vector<scene::Vertex> out;
        std::string error;
        bool ok = platform::load_model(base + "/shape.x", out, error) && out.size() == 12;
        ok = ok && !platform::model_library_available();
        for (int i = 0; i < 2; ++i) {
          error.clear();
          ok = ok && !platform::load_model(base + "/shape.3ds", out, error) &&
               error == "the model library (libassimp.so.5) is not installed";
        }
        platform::refuse_library_for_testing(platform::video_library_names().back());
        for (int i = 0; i < 2; ++i) {
          error.clear();
          ok = ok && !platform::open_video(base + "/clip.avi", error) &&
               error.find("the video library (libavformat.so.") == 0;
        }
        std::fflush(stderr);
        std::ifstream in(log);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto count = [&](const std::string& what) {
          int n = 0;
          for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
          return n;
        };
        ok = ok && count("the model library (libassimp.so.5) is not installed") == 1 &&
             count("the video library (libavformat.so.") == 1;
        std::filesystem::remove_all(base);
        std::exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

// A packaged game's meshes are stored scrambled: they load through the package view.
TEST(Model, ScrambledMeshLoadsThroughThePackageView) {
  char folder[] = "/tmp/zepta_model_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string base = std::string(folder) + "/";
  std::string text = x_file({kMirrorX}, true);
  base::scramble({reinterpret_cast<std::byte*>(text.data()), text.size()});
  std::ofstream(base + "shape.x", std::ios::binary) << text;
  std::vector<scene::Vertex> out;
  std::string error;
  base::set_package_view(base, false);
  bool ok = platform::load_model(base + "shape.x", out, error);
  base::set_package_view("", false);
  EXPECT_TRUE(ok) << error;
  EXPECT_EQ(out.size(), 12u);
  std::filesystem::remove_all(base);
}

}  // namespace
