// glTF and ".obj" models: the same model as in ".x" (same triangles, not
// mirrored, same facing), and damaged or hostile files refused or read safely.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/model_fixture.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using model_fixture::corners;

struct Folder {
  std::string path;  // ends in "/"
  Folder() {
    char name[] = "/tmp/zepta_models_XXXXXX";
    path = std::string(mkdtemp(name) ? name : "/tmp") + "/";
  }
  ~Folder() { fs::remove_all(path); }
  std::string put(const std::string& name, const std::string& bytes) const {
    std::ofstream(path + name, std::ios::binary) << bytes;
    return path + name;
  }
};

// Triangles as comparable tuples, each turned to start at its least corner
// (which corner a reader lists first does not matter, the winding does).
using Key = std::tuple<long, long, long, long, long, long, long, long>;
std::vector<std::vector<Key>> triangles(const std::vector<scene::Vertex>& v) {
  auto key = [](const scene::Vertex& c) {
    auto q = [](float f) { return std::lround(f * 1000); };
    return Key{q(c.position.x), q(c.position.y), q(c.position.z), q(c.normal.x), q(c.normal.y), q(c.normal.z),
               q(c.u), q(c.v)};
  };
  std::vector<std::vector<Key>> out;
  for (std::size_t i = 0; i + 2 < v.size(); i += 3) {
    std::vector<Key> t{key(v[i]), key(v[i + 1]), key(v[i + 2])};
    std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
    out.push_back(t);
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(ModelFormats, TheSameModelInEveryFormatGivesTheSameTriangles) {
  if (!platform::model_library_available()) GTEST_SKIP() << "no model library";
  Folder f;
  std::vector<scene::Vertex> reference;
  std::string error;
  ASSERT_TRUE(platform::load_model(f.put("shape.x", model_fixture::x_text()), reference, error)) << error;
  ASSERT_EQ(reference.size(), corners().size());
  // The ".x" as written: the small triangle on the right (+x), the square facing -z.
  EXPECT_NEAR(reference[7].position.x, 1.6f + model_fixture::kShiftX, 1e-5f);
  EXPECT_NEAR(reference[0].normal.z, -1, 1e-5f);
  f.put("shape.bin", model_fixture::gltf_buffer());
  f.put("skin.mtl", model_fixture::mtl_text("skin.png"));
  struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"shape.gltf", model_fixture::gltf_json("shape.bin")},
      {"shape.glb", model_fixture::glb_bytes(model_fixture::gltf_json(""), model_fixture::gltf_buffer())},
      {"shape.obj", model_fixture::obj_text("skin.mtl")},
      {"SHAPE.OBJ", model_fixture::obj_text("skin.mtl")},
      // A packaged or renamed file: told by its first bytes.
      {"3F00A1B2.dat", model_fixture::glb_bytes(model_fixture::gltf_json(""), model_fixture::gltf_buffer())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<scene::Vertex> got;
    error.clear();
    ASSERT_TRUE(platform::load_model(f.put(c.name, c.bytes), got, error)) << error;
    EXPECT_TRUE(platform::model_needs_library(f.path + c.name));
    EXPECT_EQ(triangles(got), triangles(reference));
  }
}

// glTF's axes in the scene: its front (+z) stays the front, its right side
// (-x, seen from the front) goes to the scene's right (+x), up stays up.
TEST(ModelFormats, GltfAxesInTheScene) {
  if (!platform::model_library_available()) GTEST_SKIP() << "no model library";
  Folder f;
  f.put("shape.bin", model_fixture::gltf_buffer());
  std::vector<scene::Vertex> got;
  std::string error;
  ASSERT_TRUE(platform::load_model(f.put("shape.gltf", model_fixture::gltf_json("shape.bin")), got, error)) << error;
  float min_x = 1e9f, max_x = -1e9f;
  for (const scene::Vertex& v : got) min_x = std::min(min_x, v.position.x), max_x = std::max(max_x, v.position.x);
  // In the file: x from -1.6 to 1 (the small triangle at -x), moved by -0.25.
  EXPECT_NEAR(min_x, -1 + model_fixture::kShiftX, 1e-5f);
  EXPECT_NEAR(max_x, 1.6f + model_fixture::kShiftX, 1e-5f);
  for (const scene::Vertex& v : got) EXPECT_NEAR(v.normal.z, -1, 1e-5f);  // the file's normals are -z too
}

// Damaged and hostile files: each refused with a reason, or read without harm;
// nothing appended when refused, never a crash (the suite runs under ASan).
TEST(ModelFormats, DamagedFilesAreRefusedOrReadSafely) {
  if (!platform::model_library_available()) GTEST_SKIP() << "no model library";
  using model_fixture::gltf_json;
  Folder f;
  fs::create_directories(f.path + "inner");
  f.put("shape.bin", model_fixture::gltf_buffer());
  f.put("inner/shape.bin", model_fixture::gltf_buffer());
  std::string bin = model_fixture::gltf_buffer();
  std::string glb = model_fixture::glb_bytes(gltf_json(""), bin);
  auto replaced = [](std::string s, const std::string& from, const std::string& to) {
    std::size_t at = s.find(from);
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
  };
  std::string nodes = "\"nodes\":[{\"mesh\":0,\"translation\":[-0.25,0,0]}]";
  std::string deep_nodes = "\"nodes\":[";
  for (int i = 0; i < 200; ++i) deep_nodes += "{\"mesh\":0,\"children\":[" + std::to_string(i + 1) + "]},";
  deep_nodes += "{\"mesh\":0}]";
  std::string many_faces = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
  for (int i = 0; i < platform::kMaxModelFaces + 1; ++i) many_faces += "f 1 2 3\n";
  std::string many_nodes = "\"nodes\":[{\"children\":[";
  for (int i = 1; i <= 40; ++i) many_nodes += (i > 1 ? "," : "") + std::to_string(i);
  many_nodes += "]}";
  for (int i = 1; i <= 40; ++i) many_nodes += ",{\"mesh\":0}";
  many_nodes += "]";
  struct {
    const char* name;
    std::string bytes;
    bool loads;
    const char* reason;  // a part of the error, "" for any
  } cases[] = {
      {"empty.gltf", "", false, "empty file"},
      {"empty.glb", "", false, "empty file"},
      {"empty.obj", "", false, "empty file"},
      {"text.glb", "hello, world\n", false, "not a binary glTF file"},
      {"text.gltf", "hello, world\n", false, "not a glTF file"},
      {"text.obj", "hello, world\n", false, ""},
      {"binary.obj", std::string("\x00\x01\x02\xff\xfe", 5), false, ""},
      {"truncated.glb", glb.substr(0, glb.size() / 2), false, ""},
      {"header only.glb", glb.substr(0, 14), false, "damaged binary glTF"},
      {"json past the end.glb", replaced(glb, std::string("JSON"), "JSON") .substr(0, 40), false, ""},
      {"cut json.gltf", gltf_json("shape.bin").substr(0, 200), false, ""},
      {"accessor past its buffer.gltf", replaced(gltf_json("shape.bin"), "\"componentType\":5126,\"count\":9,\"type\":\"VEC3\",\"min\"",
                                                 "\"byteOffset\":400,\"componentType\":5126,\"count\":9,\"type\":\"VEC3\",\"min\""),
       false, ""},
      {"huge count.gltf", replaced(gltf_json("shape.bin"), "\"count\":9,\"type\":\"SCALAR\"", "\"count\":4000000000,\"type\":\"SCALAR\""),
       false, ""},
      {"huge position count.gltf", replaced(gltf_json("shape.bin"), "\"count\":9,\"type\":\"VEC3\",\"min\"", "\"count\":2147483647,\"type\":\"VEC3\",\"min\""),
       false, ""},
      {"buffer shorter than said.gltf", replaced(gltf_json("shape.bin"), "\"byteLength\":" + std::to_string(bin.size()) + "}", "\"byteLength\":99999999}"),
       false, "less than its byteLength 99999999"},
      {"buffer as a data uri.gltf", gltf_json("data:application/octet-stream;base64,AAAA"), false, ""},
      {"missing buffer.gltf", gltf_json("nothing.bin"), false, "the buffer nothing.bin is missing"},
      {"buffer outside the folder.gltf", gltf_json("../" + fs::path(f.path).parent_path().filename().string() + "/shape.bin"), false, "outside the model's folder"},
      {"absolute buffer.gltf", gltf_json(f.path + "shape.bin"), false, "outside the model's folder"},
      {"buffer in a sub-folder.gltf", gltf_json("inner/shape.bin"), true, ""},
      {"node cycle.gltf", replaced(gltf_json("shape.bin"), nodes, "\"nodes\":[{\"mesh\":0,\"children\":[1]},{\"mesh\":0,\"children\":[0]}]"), false, ""},
      {"node its own child.gltf", replaced(gltf_json("shape.bin"), nodes, "\"nodes\":[{\"mesh\":0,\"children\":[0]}]"), false, ""},
      {"absurd depth.gltf", replaced(gltf_json("shape.bin"), nodes, deep_nodes), false, "nested deeper than"},
      {"node past the list.gltf", replaced(gltf_json("shape.bin"), "\"nodes\":[0]", "\"nodes\":[7]"), false, ""},
      {"mesh past the list.gltf", replaced(gltf_json("shape.bin"), "{\"mesh\":0,", "{\"mesh\":5,"), false, ""},
      {"nested json.gltf", "{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}", false, "nested too deep"},
      {"nested json.glb", model_fixture::glb_bytes("{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}", ""), false,
       "nested too deep"},
      {"index past the vertices.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 99\nf 1 2 3\n", false, "out of range"},
      {"only bad indices.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 -99\nf 0 0 0\n", false, ""},
      {"material outside the folder.obj", "mtllib ../../etc/passwd\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", true, ""},
      {"not a number.obj", "v nan 0 0\nv 1 inf 0\nv 0 1 0\nf 1 2 3\n", false, ""},
      {"too many faces.obj", many_faces, false, "faces, more than"},
      {"one mesh under forty nodes.gltf", replaced(gltf_json("shape.bin"), nodes, many_nodes), true, ""},
      {"animation of a missing node.gltf",
       replaced(gltf_json("shape.bin"), "\"buffers\"",
                "\"animations\":[{\"samplers\":[{\"input\":0,\"output\":0}],\"channels\":[{\"sampler\":0,"
                "\"target\":{\"node\":9,\"path\":\"translation\"}}]}],\"buffers\""),
       false, ""},
      {"animation sampler past the list.gltf",
       replaced(gltf_json("shape.bin"), "\"buffers\"",
                "\"animations\":[{\"samplers\":[],\"channels\":[{\"sampler\":3,"
                "\"target\":{\"node\":0,\"path\":\"rotation\"}}]}],\"buffers\""),
       false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<scene::Vertex> out(2);  // what was there stays
    std::string error;
    std::string path = f.put(c.name, c.bytes);
    bool ok = platform::load_model(path, out, error);
    EXPECT_EQ(ok, c.loads) << error;
    if (!ok) {
      EXPECT_EQ(out.size(), 2u);
      EXPECT_FALSE(error.empty());
      EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // As a tree: the same file taken or refused for the same reason, nothing given when refused.
    platform::ModelTree tree;
    std::string tree_error;
    bool tree_ok = platform::load_model_tree(path, tree, tree_error);
    EXPECT_EQ(tree_ok, c.loads) << tree_error;
    if (!tree_ok) {
      EXPECT_TRUE(tree.nodes.empty() && tree.meshes.empty() && tree.animations.empty());
      EXPECT_NE(tree_error.find(c.reason), std::string::npos) << tree_error;
    }
  }
  // A damaged animation refuses the tree; the flat model, which has no use for it, still loads.
  std::string path = f.put("damaged animation.x",
                           "xof 0303txt 0032\nMesh { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,2;; }\n"
                           "AnimationSet a { Animation { AnimationKey { 7; 1; 0;1;0.0;;; } } }\n");
  std::vector<scene::Vertex> out;
  platform::ModelTree tree;
  std::string error;
  EXPECT_TRUE(platform::load_model(path, out, error)) << error;
  EXPECT_FALSE(platform::load_model_tree(path, tree, error));
  EXPECT_FALSE(error.empty());
}

// A model with more vertices than the scene takes is refused whole, even
// when its faces use few of them.
TEST(ModelFormats, TooManyVerticesIsRefusedWhole) {
  if (!platform::model_library_available()) GTEST_SKIP() << "no model library";
  Folder f;
  int n = platform::kMaxModelVertices + 1;
  std::string bin(static_cast<std::size_t>(n) * 12, '\0');
  float one = 1;
  std::memcpy(&bin[12], &one, 4);  // (1, 0, 0) and (0, 1, 0): one whole triangle
  std::memcpy(&bin[28], &one, 4);
  for (std::uint16_t i = 0; i < 3; ++i) bin.append(reinterpret_cast<const char*>(&i), 2);
  bin += std::string(2, '\0');
  std::string json = "{\"asset\":{\"version\":\"2.0\"},\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"mesh\":0}],"
                     "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0},\"indices\":1}]}],"
                     "\"buffers\":[{\"byteLength\":" + std::to_string(bin.size()) + "}],\"bufferViews\":["
                     "{\"buffer\":0,\"byteLength\":" + std::to_string(n * 12) + "},"
                     "{\"buffer\":0,\"byteOffset\":" + std::to_string(n * 12) + ",\"byteLength\":6}],"
                     "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":" + std::to_string(n) +
                     ",\"type\":\"VEC3\"},{\"bufferView\":1,\"componentType\":5123,\"count\":3,\"type\":\"SCALAR\"}]}";
  std::vector<scene::Vertex> out;
  std::string error;
  EXPECT_FALSE(platform::load_model(f.put("big.glb", model_fixture::glb_bytes(json, bin)), out, error));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(error, "196609 vertices, more than 196608");
}

}  // namespace
