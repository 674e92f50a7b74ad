// Models as trees: drawn with their node placements they give load_model's
// triangles, nodes come in file order with their names, and the program's own
// text ".x" reader animates a model as the model library does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/model_fixture.h"
#include "platform/platform.h"

#ifndef ZEPTA_DEMO_DIR
#define ZEPTA_DEMO_DIR "demo"
#endif

namespace {

namespace fs = std::filesystem;
using scene::Vec3;

struct Folder {
  std::string path;  // ends in "/"
  Folder() {
    char name[] = "/tmp/zepta_tree_XXXXXX";
    path = std::string(mkdtemp(name) ? name : "/tmp") + "/";
  }
  ~Folder() { fs::remove_all(path); }
  std::string put(const std::string& name, const std::string& bytes) const {
    std::ofstream(path + name, std::ios::binary) << bytes;
    return path + name;
  }
};

// Every node's rest placement in the scene, parents first.
std::vector<scene::Mat4> worlds(const platform::ModelTree& t) {
  std::vector<scene::Mat4> w(t.nodes.size());
  for (std::size_t k = 0; k < t.nodes.size(); ++k) {
    const platform::ModelNode& n = t.nodes[k];
    scene::Mat4 local = scene::placement(n.position, n.rotation, n.scale);
    w[k] = n.parent < 0 ? local : scene::multiply(w[static_cast<std::size_t>(n.parent)], local);
  }
  return w;
}

// The tree's triangles placed in the scene as the renderer places them (normals
// through the inverse transpose), node by node in order.
std::vector<scene::Vertex> flattened(const platform::ModelTree& t) {
  std::vector<scene::Mat4> w = worlds(t);
  std::vector<scene::Vertex> out;
  for (std::size_t k = 0; k < t.nodes.size(); ++k) {
    const float* m = w[k].m;
    // Cofactors of the upper 3 x 3 are the inverse transpose times the determinant.
    auto normal = [&](Vec3 n) {
      Vec3 c0{m[5] * m[10] - m[6] * m[9], m[6] * m[8] - m[4] * m[10], m[4] * m[9] - m[5] * m[8]};
      Vec3 c1{m[9] * m[2] - m[10] * m[1], m[10] * m[0] - m[8] * m[2], m[8] * m[1] - m[9] * m[0]};
      Vec3 c2{m[1] * m[6] - m[2] * m[5], m[2] * m[4] - m[0] * m[6], m[0] * m[5] - m[1] * m[4]};
      float det = m[0] * c0.x + m[1] * c0.y + m[2] * c0.z;
      Vec3 r{c0.x * n.x + c1.x * n.y + c2.x * n.z, c0.y * n.x + c1.y * n.y + c2.y * n.z,
             c0.z * n.x + c1.z * n.y + c2.z * n.z};
      return scene::normalise(scene::scale(r, det < 0 ? -1.0f : 1.0f));
    };
    for (int mesh : t.nodes[k].meshes) {
      const platform::ModelMesh& mm = t.meshes[static_cast<std::size_t>(mesh)];
      int covered = 0;
      for (const platform::ModelGroup& g : mm.groups) {
        EXPECT_EQ(g.first_vertex, covered);
        EXPECT_EQ(g.vertex_count % 3, 0);
        covered += g.vertex_count;
      }
      EXPECT_EQ(covered, static_cast<int>(mm.vertices.size()));
      for (scene::Vertex v : mm.vertices) {
        v.position = scene::transform_point(w[k], v.position);
        v.normal = normal(v.normal);
        out.push_back(v);
      }
    }
  }
  return out;
}

void expect_flattens_to_load_model(const std::string& path) {
  std::vector<scene::Vertex> flat;
  platform::ModelTree tree;
  std::string error;
  ASSERT_TRUE(platform::load_model(path, flat, error)) << error;
  ASSERT_TRUE(platform::load_model_tree(path, tree, error)) << error;
  std::vector<scene::Vertex> drawn = flattened(tree);
  ASSERT_EQ(drawn.size(), flat.size());
  auto near = [](Vec3 a, Vec3 b) { return std::fabs(a.x - b.x) + std::fabs(a.y - b.y) + std::fabs(a.z - b.z) < 1e-4f; };
  int wrong = 0;
  for (std::size_t i = 0; i < flat.size(); ++i)
    wrong += !near(drawn[i].position, flat[i].position) || !near(drawn[i].normal, flat[i].normal) ||
             drawn[i].u != flat[i].u || drawn[i].v != flat[i].v;
  EXPECT_EQ(wrong, 0);
}

const std::string kSquare = "4;0.0;0.0;0.0;,1.0;0.0;0.0;,1.0;1.0;0.0;,0.0;1.0;0.0;;\n";
std::string frame(const std::string& name, const std::string& matrix, const std::string& body) {
  return "Frame " + name + " {\n FrameTransformMatrix { " + matrix + ";; }\n" + body + "}\n";
}
std::string mesh(const std::string& faces) { return " Mesh { " + kSquare + faces + " }\n"; }
const std::string kMove = "1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,2.0,0.5,-1.0,1.0";
const std::string kMirror = "-2.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,3.0,1.0";
const std::string kTurn = "0.0,0.0,1.0,0.0,0.0,1.0,0.0,0.0,-1.0,0.0,0.0,0.0,3.0,4.0,5.0,1.0";  // a quarter turn about y

TEST(ModelTree, DrawnWithItsPlacementsItGivesLoadModelsTriangles) {
  Folder f;
  f.put("shape.bin", model_fixture::gltf_buffer());
  f.put("skin.mtl", model_fixture::mtl_text("skin.bmp"));
  const std::string head = "xof 0303txt 0032\n";
  const std::string no_normals = mesh("2; 3;0,1,2;, 4;0,2,3,1;;");
  const std::string with_normals =
      " Mesh { " + kSquare + "1; 3;0,1,2;; MeshNormals { 1; 0.0;0.6;-0.8;; 1; 3;0,0,0;; } }\n";
  struct {
    const char* name;
    std::string bytes;
    bool library;  // needs the model library
  } cases[] = {
      {"fixture.x", model_fixture::x_text(), false},
      {"nested.x", head + frame("outer", kMove, no_normals + frame("inner", kTurn, with_normals)), false},
      {"mirrored.x", head + frame("m", kMirror, no_normals + with_normals + frame("back", kMirror, no_normals)), false},
      {"loose under one frame.x", head + "Mesh { " + kSquare + "1; 3;0,2,1;; }\n" + frame("top", kMove, no_normals), false},
      {"loose beside two frames.x",
       head + frame("a", kMove, no_normals) + "Mesh { " + kSquare + "1; 3;0,2,1;; }\n" + frame("b", kTurn, with_normals),
       false},
      {"fixture.obj", model_fixture::obj_text("skin.mtl"), true},
      {"fixture.gltf", model_fixture::gltf_json("shape.bin"), true},
      {"fixture.glb", model_fixture::glb_bytes(model_fixture::gltf_json(""), model_fixture::gltf_buffer()), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.library && !platform::model_library_available()) continue;
    expect_flattens_to_load_model(f.put(c.name, c.bytes));
  }
  for (const char* demo : {"racing/car.x", "racing/gantry.x", "racing/tree.x", "models/walker.x", "models/floor.x"}) {
    SCOPED_TRACE(demo);
    expect_flattens_to_load_model(std::string(ZEPTA_DEMO_DIR) + "/" + demo);
  }
  // The generated ".3ds" (z up in its file) when the working folder is there.
  const char* data = std::getenv("ZEPTA_TEST_DATA");
  std::string three_ds = std::string(data ? data : "") + "/../3dsfiles/default_.3ds";
  if (data && fs::exists(three_ds) && platform::model_library_available()) {
    SCOPED_TRACE(three_ds);
    expect_flattens_to_load_model(three_ds);
  }
}

// Node names and their parents in pre-order; node 0 is the file.
std::string outline(const platform::ModelTree& t) {
  std::string s;
  for (const platform::ModelNode& n : t.nodes) s += n.name + "<" + std::to_string(n.parent) + ">" + std::to_string(n.meshes.size()) + " ";
  return s;
}

TEST(ModelTree, NodesComeInFileOrderWithTheirNames) {
  Folder f;
  const std::string head = "xof 0303txt 0032\n";
  const std::string tri = mesh("1; 3;0,1,2;;");
  auto replaced = [](std::string s, const std::string& from, const std::string& to) {
    std::size_t at = s.find(from);
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
  };
  std::string two_roots = replaced(
      replaced(model_fixture::gltf_json(""), "\"scenes\":[{\"nodes\":[0]}]", "\"scenes\":[{\"nodes\":[0,1]}]"),
      "\"nodes\":[{\"mesh\":0,\"translation\":[-0.25,0,0]}]",
      "\"nodes\":[{\"name\":\"zero\",\"mesh\":0,\"children\":[2]},{\"name\":\"one\",\"mesh\":0},"
      "{\"name\":\"two\",\"mesh\":0}]");
  struct {
    const char* name;
    std::string bytes;
    bool through_library;
    const char* nodes;
  } cases[] = {
      {"frames.x",
       head + frame("body", kMove, tri + frame("head", kMove, tri) + frame("legs", kMove, frame("left", kMove, tri) +
                                                                                    frame("right", kMove, tri))) +
           frame("shadow", kMove, tri),
       false, "<-1>0 body<0>1 head<1>1 legs<1>0 left<3>1 right<3>1 shadow<0>1 "},
      {"frames through the library.x",
       head + frame("body", kMove, tri + frame("head", kMove, tri)) + frame("shadow", kMove, tri), true,
       "<-1>0 body<0>1 head<1>1 shadow<0>1 "},
      {"one frame through the library.x", head + frame("only", kMove, tri + frame("kid", kMove, tri)), true,
       "<-1>0 only<0>1 kid<1>1 "},
      {"no frame.x", head + "Mesh { " + kSquare + "1; 3;0,1,2;; }\n", false, "<-1>1 "},
      {"objects.obj", "o first\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 3 2\no second\nv 0 0 1\nv 1 0 1\nv 0 1 1\nf 4 6 5\n", true,
       "<-1>0 first<0>1 second<0>1 "},
      {"one root.glb", model_fixture::glb_bytes(model_fixture::gltf_json(""), model_fixture::gltf_buffer()), true,
       "<-1>0 nodes[0]<0>1 "},
      {"two roots.glb", model_fixture::glb_bytes(two_roots, model_fixture::gltf_buffer()), true,
       "<-1>0 zero<0>1 two<1>1 one<0>1 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.through_library && !platform::model_library_available()) continue;
    platform::ModelTree t;
    std::string error, path = f.put(c.name, c.bytes);
    bool ok = c.through_library ? platform::load_model_tree_through_library(path, t, error)
                                : platform::load_model_tree(path, t, error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(outline(t), c.nodes);
  }
}

// A node's local placement at time in an animation: keys of a kind
// interpolated as the scene does (linearly, rotations by slerp, held before
// the first and after the last), the rest pose for kinds without keys.
template <class T, class F>
T keyed(const std::vector<platform::ModelKey<T>>& keys, float time, T rest, F blend) {
  if (keys.empty()) return rest;
  if (time <= keys.front().time) return keys.front().value;
  for (std::size_t k = 1; k < keys.size(); ++k)
    if (time <= keys[k].time) {
      float span = keys[k].time - keys[k - 1].time;
      return blend(keys[k - 1].value, keys[k].value, span > 0 ? (time - keys[k - 1].time) / span : 0.0f);
    }
  return keys.back().value;
}

scene::Mat4 pose(const platform::ModelTree& t, const platform::ModelAnimation& a, int node, float time) {
  const platform::ModelNode& n = t.nodes[static_cast<std::size_t>(node)];
  platform::ModelChannel none;
  const platform::ModelChannel* c = &none;
  for (const platform::ModelChannel& ch : a.channels)
    if (ch.node == node) c = &ch;
  auto lerp = [](Vec3 x, Vec3 y, float f) { return scene::lerp(x, y, f); };
  auto slerp = [](scene::Quat x, scene::Quat y, float f) { return scene::slerp(x, y, f); };
  return scene::placement(keyed(c->positions, time, n.position, lerp), keyed(c->rotations, time, n.rotation, slerp),
                          keyed(c->scales, time, n.scale, lerp));
}

int node_named(const platform::ModelTree& t, const std::string& name) {
  for (std::size_t k = 0; k < t.nodes.size(); ++k)
    if (t.nodes[k].name == name) return static_cast<int>(k);
  return -1;
}

// The own reader against the model library on every kind of key: rotations
// (stored inverted, as DirectX files do), scales, positions and whole
// matrices, the file's tick rate, and frames whose rest placement the keys
// only partly replace.
TEST(ModelTree, OwnReaderAnimatesAsTheModelLibraryDoes) {
  if (!platform::model_library_available()) GTEST_SKIP() << "no model library to compare with";
  const std::string tri = mesh("1; 3;0,1,2;;");
  const float s = std::sqrt(0.5f);
  std::string x = "xof 0303txt 0032\n" +
                  frame("arm", kTurn, tri + frame("hand", kMove, tri)) + frame("leg", kMirror, tri) +
                  "AnimTicksPerSecond { 100; }\n"
                  "AnimationSet wave {\n"
                  " Animation { { arm } AnimationKey { 0; 3; 0;4;1.0,0.0,0.0,0.0;;, 50;4;" +
                  std::to_string(s) + ",0.0,0.0," + std::to_string(s) + ";;, 100;4;0.0,0.0,0.0,1.0;;; } }\n"
                  " Animation { AnimationKey { 2; 2; 0;3;0.0,1.0,0.0;;, 80;3;2.0,1.0,-1.0;;; } { leg }\n"
                  "  AnimationKey { 1; 2; 10;3;1.0,1.0,1.0;;, 90;3;0.5,2.0,1.0;;; } }\n"
                  " Animation { { hand } AnimationKey { 4; 2; 0;16;" + kMove + ";;, 60;16;" + kTurn + ";;; } }\n"
                  " Animation { { nobody } AnimationKey { 2; 1; 0;3;9.0,9.0,9.0;;; } }\n"
                  "}\n";
  Folder f;
  std::string path = f.put("wave.x", x);
  platform::ModelTree own, library;
  std::string error;
  ASSERT_TRUE(platform::load_model_tree(path, own, error)) << error;
  ASSERT_TRUE(platform::load_model_tree_through_library(path, library, error)) << error;
  ASSERT_EQ(own.animations.size(), 1u);
  ASSERT_EQ(library.animations.size(), 1u);
  EXPECT_EQ(own.animations[0].name, "wave");
  EXPECT_FLOAT_EQ(own.animations[0].duration, 1.0f);  // 100 ticks at 100 a second
  EXPECT_FLOAT_EQ(library.animations[0].duration, 1.0f);
  EXPECT_EQ(own.animations[0].channels.size(), 3u);  // "nobody" names no frame
  for (const char* name : {"arm", "hand", "leg"}) {
    int a = node_named(own, name), b = node_named(library, name);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    for (float time = 0; time <= 1.05f; time += 0.05f) {
      scene::Mat4 p = pose(own, own.animations[0], a, time), q = pose(library, library.animations[0], b, time);
      float worst = 0;
      for (int i = 0; i < 16; ++i) worst = std::max(worst, std::fabs(p.m[i] - q.m[i]));
      EXPECT_LT(worst, 1e-4f) << name << " at " << time << " s";
    }
  }
  // The arm's half-way key (w, 0, 0, 0.707) read inverted: it turns +x to -y.
  int arm = node_named(own, "arm");
  Vec3 turned = scene::rotate(own.animations[0].channels[0].rotations[1].value, {1, 0, 0});
  EXPECT_EQ(own.animations[0].channels[0].node, arm);
  EXPECT_NEAR(turned.y, -1, 1e-5f);
}

// Materials as each format gives them: colour with its opacity, highlight
// (none without power), glow, and a texture name kept only inside the model's folder.
TEST(ModelTree, MaterialsAsTheFilesGiveThem) {
  Folder f;
  const std::string faces = "2; 3;0,1,2;, 3;0,2,3;;";
  struct Want {
    float r, g, b, a, specular, power, emissive;
    const char* texture;
  };
  struct {
    const char* name;
    std::string bytes;
    bool library;
    std::vector<Want> materials;
  } cases[] = {
      {"materials.x",
       "xof 0303txt 0032\nMaterial shiny { 1.0;0.5;0.0;0.5;; 8.0; 0.3;0.3;0.3;; 0.0;0.0;0.2;;"
       " TextureFilename { \"skins\\\\red.bmp\"; } }\n"
       "Material dull { 0.0;0.0;1.0;1.0;; 0.0; 1.0;1.0;1.0;; 0.0;0.0;0.0;; TextureFilename { \"../up.bmp\"; } }\n"
       "Mesh { " + kSquare + faces + " MeshMaterialList { 2; 2; 0,1;; { shiny } { dull } } }\n",
       false, {{1, 0.5f, 0, 0.5f, 0.3f, 8, 0.2f, "skins/red.bmp"}, {0, 0, 1, 1, 0, 16, 0, ""}}},
      {"materials.obj", "mtllib materials.mtl\nusemtl a\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", true,
       {{0.5f, 0.25f, 1, 0.75f, 0.3f, 20, 0.2f, "t.bmp"}}},
  };
  f.put("materials.mtl", "newmtl a\nKd 0.5 0.25 1\nKs 0.3 0.3 0.3\nNs 20\nd 0.75\nKe 0.1 0.2 0.2\nmap_Kd t.bmp\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.library && !platform::model_library_available()) continue;
    platform::ModelTree t;
    std::string error;
    ASSERT_TRUE(platform::load_model_tree(f.put(c.name, c.bytes), t, error)) << error;
    ASSERT_FALSE(t.meshes.empty());
    const std::vector<platform::ModelGroup>& groups = t.meshes[0].groups;  // a group per material, in order
    ASSERT_EQ(groups.size(), c.materials.size());
    for (std::size_t k = 0; k < c.materials.size(); ++k) {
      ASSERT_GE(groups[k].material, 0);
      const platform::ModelMaterial& m = t.materials[static_cast<std::size_t>(groups[k].material)];
      const scene::MaterialDesc& d = m.desc;
      const Want& w = c.materials[k];
      EXPECT_NEAR(d.colour.r, w.r, 1e-5f);
      EXPECT_NEAR(d.colour.g, w.g, 1e-5f);
      EXPECT_NEAR(d.colour.b, w.b, 1e-5f);
      EXPECT_NEAR(d.colour.a, w.a, 1e-5f);
      EXPECT_NEAR(d.specular.x, w.specular, 1e-5f);
      EXPECT_NEAR(d.power, w.power, 1e-5f);
      EXPECT_NEAR(d.emissive.z, w.emissive, 1e-5f);
      EXPECT_EQ(m.texture, w.texture);
    }
  }
}

}  // namespace
