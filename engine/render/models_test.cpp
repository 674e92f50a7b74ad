// Models as frame trees in the scene: a small animated model (a body that
// bobs and an arm that swings on it) written as ".x", ".glb" and ".obj" draws
// the same pixels in every format, and as an ".x3d" element it plays its
// animation on the element's clock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "engine/render/render_local.h"
#include "engine/render/scene_fixture.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using project::ElementRecord;
using scene_test::kUnit;
using scene_test::Rgb;

// ---- The model ------------------------------------------------------------------------------
//
// In the scene (left-handed, the camera looking along +z): "body", a square of
// side 1 at (-1, 0, 0) facing the camera, red; its child "arm", a 1 x 0.5 bar
// from its pivot at (1.5, 0, 0) of the body out along +x, green. In half a
// second the arm turns half round z (keys at 0, 0.25 and 0.5 s) and the body
// rises by 0.5.

struct Quad {
  float x0, x1, y0, y1;  // in its node, z = 0, facing -z
};
constexpr Quad kBody{-0.5f, 0.5f, -0.5f, 0.5f}, kArm{0, 1, -0.25f, 0.25f};
constexpr float kBodyX = -1, kArmX = 1.5f, kRise = 0.5f;
constexpr float kTurnTimes[] = {0, 0.25f, 0.5f};
constexpr float kTurnDegrees[] = {0, 90, 180};

scene::Quat arm_turn(int k) { return scene::quat_from_axis_angle({0, 0, 1}, kTurnDegrees[k] * 3.14159265f / 180); }

// Corners clockwise from the front (the camera's side), two triangles.
std::vector<scene::Vec3> corners(const Quad& q) {
  return {{q.x0, q.y1, 0}, {q.x1, q.y1, 0}, {q.x1, q.y0, 0}, {q.x0, q.y1, 0}, {q.x1, q.y0, 0}, {q.x0, q.y0, 0}};
}

std::string num(float f) {
  char b[32];
  std::snprintf(b, sizeof b, "%.6f", static_cast<double>(f));
  return b;
}

std::string x_mesh(const Quad& q, const char* material) {
  std::string t = " Mesh {\n  6;";
  for (scene::Vec3 p : corners(q)) t += " " + num(p.x) + ";" + num(p.y) + ";" + num(p.z) + ";,";
  t.back() = ';';
  t += "\n  2; 3;0,1,2;, 3;3,4,5;;\n  MeshNormals { 1; 0.0;0.0;-1.0;; 2; 3;0,0,0;, 3;0,0,0;; }\n";
  return t + "  MeshMaterialList { 1; 2; 0,0;; { " + material + " } }\n }\n";
}

std::string x_move(float x) {
  return " FrameTransformMatrix { 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, " + num(x) + ",0.0,0.0,1.0;; }\n";
}

std::string x_file() {
  std::string t = "xof 0303txt 0032\n"
                  "Material red { 0.9;0.1;0.1;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }\n"
                  "Material green { 0.1;0.9;0.1;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;; }\n"
                  "Frame body {\n" + x_move(kBodyX) + x_mesh(kBody, "red") +
                  " Frame arm {\n" + x_move(kArmX) + x_mesh(kArm, "green") + " }\n}\n"
                  "AnimTicksPerSecond { 1000; }\nAnimationSet swing {\n Animation { { arm } AnimationKey { 0; 3;";
  for (int k = 0; k < 3; ++k) {
    scene::Quat q = arm_turn(k);  // stored inverted, as DirectX files store rotations
    t += " " + std::to_string(std::lround(kTurnTimes[k] * 1000)) + ";4;" + num(q.w) + "," + num(-q.x) + "," +
         num(-q.y) + "," + num(-q.z) + ";;" + (k < 2 ? "," : ";");
  }
  t += " } }\n Animation { { body } AnimationKey { 2; 2; 0;3;" + num(kBodyX) + ",0.0,0.0;;, 500;3;" + num(kBodyX) +
       "," + num(kRise) + ",0.0;;; } }\n}\n";
  return t;
}

// The rest pose flattened into an ".obj" (right-handed: x mirrored, corners the
// other way round) with its ".mtl".
std::string obj_file() {
  std::string t = "mtllib pendulum.mtl\n";
  int base = 1;
  for (auto [name, quad, x, material] : {std::tuple{"body", kBody, kBodyX, "red"}, {"arm", kArm, kBodyX + kArmX, "green"}}) {
    t += std::string("o ") + name + "\nusemtl " + material + "\n";
    for (scene::Vec3 p : corners(quad)) t += "v " + num(-(p.x + x)) + " " + num(p.y) + " " + num(p.z) + "\n";
    t += "vn 0 0 -1\n";
    for (int k = 0; k < 6; k += 3)
      t += "f " + std::to_string(base + k) + "//1 " + std::to_string(base + k + 2) + "//1 " + std::to_string(base + k + 1) + "//1\n";
    base += 6;
  }
  return t;
}
const char* kMtl = "newmtl red\nKd 0.9 0.1 0.1\nKs 0 0 0\nNs 0\nd 1\nnewmtl green\nKd 0.1 0.9 0.1\nKs 0 0 0\nNs 0\nd 1\n";

// A small glTF writer: the binary buffer with its views and accessors.
struct Gltf {
  std::string bin, views, accessors;
  int count = 0;
  int add(const void* data, std::size_t bytes, int component, int items, const char* type, const std::string& minmax = "") {
    std::string offset = std::to_string(bin.size());
    bin.append(static_cast<const char*>(data), bytes);
    while (bin.size() % 4) bin += '\0';
    views += std::string(views.empty() ? "" : ",") + "{\"buffer\":0,\"byteOffset\":" + offset + ",\"byteLength\":" +
             std::to_string(bytes) + "}";
    accessors += std::string(accessors.empty() ? "" : ",") + "{\"bufferView\":" + std::to_string(count) +
                 ",\"componentType\":" + std::to_string(component) + ",\"count\":" + std::to_string(items) +
                 ",\"type\":\"" + type + "\"" + minmax + "}";
    return count++;
  }
  int floats(const std::vector<float>& f, int items, const char* type, const std::string& minmax = "") {
    return add(f.data(), f.size() * 4, 5126, items, type, minmax);
  }
};

// The same model as glTF sees it: x mirrored (positions, translations, the
// rotations' y and z), triangles listed the other way round.
std::string glb_file() {
  Gltf g;
  std::string meshes;
  for (int part = 0; part < 2; ++part) {
    const Quad& q = part == 0 ? kBody : kArm;
    std::vector<float> p, n;
    for (scene::Vec3 c : corners(q)) p.insert(p.end(), {-c.x, c.y, c.z}), n.insert(n.end(), {0, 0, -1});
    std::uint16_t index[6] = {0, 2, 1, 3, 5, 4};
    float lo[2] = {std::min(-q.x0, -q.x1), q.y0}, hi[2] = {std::max(-q.x0, -q.x1), q.y1};
    int at = g.floats(p, 6, "VEC3", ",\"min\":[" + num(lo[0]) + "," + num(lo[1]) + ",0],\"max\":[" + num(hi[0]) + "," + num(hi[1]) + ",0]");
    int normals = g.floats(n, 6, "VEC3");
    int indices = g.add(index, sizeof index, 5123, 6, "SCALAR");
    meshes += std::string(meshes.empty() ? "" : ",") + "{\"primitives\":[{\"attributes\":{\"POSITION\":" +
              std::to_string(at) + ",\"NORMAL\":" + std::to_string(normals) + "},\"indices\":" +
              std::to_string(indices) + ",\"material\":" + std::to_string(part) + "}]}";
  }
  std::vector<float> turn_times(std::begin(kTurnTimes), std::end(kTurnTimes)), turns;
  for (int k = 0; k < 3; ++k) {
    scene::Quat q = arm_turn(k);
    turns.insert(turns.end(), {q.x, -q.y, -q.z, q.w});
  }
  int t3 = g.floats(turn_times, 3, "SCALAR", ",\"min\":[0],\"max\":[0.5]");
  int rotations = g.floats(turns, 3, "VEC4");
  int t2 = g.floats({0, 0.5f}, 2, "SCALAR", ",\"min\":[0],\"max\":[0.5]");
  int rises = g.floats({-kBodyX, 0, 0, -kBodyX, kRise, 0}, 2, "VEC3");
  std::string json =
      "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],"
      "\"nodes\":[{\"name\":\"body\",\"mesh\":0,\"translation\":[" + num(-kBodyX) + ",0,0],\"children\":[1]},"
      "{\"name\":\"arm\",\"mesh\":1,\"translation\":[" + num(-kArmX) + ",0,0]}],"
      "\"meshes\":[" + meshes + "],"
      "\"materials\":[{\"pbrMetallicRoughness\":{\"baseColorFactor\":[0.9,0.1,0.1,1],\"metallicFactor\":0,\"roughnessFactor\":1}},"
      "{\"pbrMetallicRoughness\":{\"baseColorFactor\":[0.1,0.9,0.1,1],\"metallicFactor\":0,\"roughnessFactor\":1}}],"
      "\"animations\":[{\"name\":\"swing\",\"samplers\":[{\"input\":" + std::to_string(t3) + ",\"output\":" +
      std::to_string(rotations) + "},{\"input\":" + std::to_string(t2) + ",\"output\":" + std::to_string(rises) +
      "}],\"channels\":[{\"sampler\":0,\"target\":{\"node\":1,\"path\":\"rotation\"}},"
      "{\"sampler\":1,\"target\":{\"node\":0,\"path\":\"translation\"}}]}],"
      "\"buffers\":[{\"byteLength\":" + std::to_string(g.bin.size()) + "}],\"bufferViews\":[" + g.views +
      "],\"accessors\":[" + g.accessors + "]}";
  while (json.size() % 4) json += ' ';
  auto put32 = [](std::string& b, std::uint32_t v) { b.append(reinterpret_cast<const char*>(&v), 4); };
  std::string out = "glTF";
  put32(out, 2);
  put32(out, static_cast<std::uint32_t>(12 + 8 + json.size() + 8 + g.bin.size()));
  put32(out, static_cast<std::uint32_t>(json.size()));
  out += "JSON" + json;
  put32(out, static_cast<std::uint32_t>(g.bin.size()));
  out += std::string("BIN\0", 4) + g.bin;
  return out;
}

class ModelsTest : public scene_test::SceneFixture {
 protected:
  void SetUp() override {
    SceneFixture::SetUp();
    char name[] = "/tmp/zepta_models_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = std::string(name) + "/";
    put("pendulum.x", x_file());
    put("pendulum.obj", obj_file());
    put("pendulum.mtl", kMtl);
    put("pendulum.glb", glb_file());
  }
  void TearDown() override {
    SceneFixture::TearDown();
    if (!folder_.empty()) fs::remove_all(folder_);
  }
  void put(const std::string& file, const std::string& bytes) {
    std::ofstream(folder_ + file, std::ios::binary) << bytes;
  }
  std::int32_t arena_text(std::string_view text) {
    std::byte* at = project::take_arena(world_->tables, *load_, text.size() + 1);
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = std::byte{0};
    return static_cast<std::int32_t>(at - world_->tables.arena.data()) + 1;
  }
  // Pixel of a point of the plane z = 3 in front of a camera at the origin
  // looking along +z with a 90-degree view: 80 pixels a scene unit.
  static int column(float x) { return 320 + static_cast<int>(std::lround(x * 80)); }
  static int row(float y) { return 240 - static_cast<int>(std::lround(y * 80)); }
  static bool green(Rgb c) { return c.g > c.r + 60 && c.g > c.b + 60; }
  static bool red(Rgb c) { return c.r > c.g + 60 && c.r > c.b + 60; }
  static bool dark(Rgb c) { return c.r + c.g + c.b < 30; }
  std::string folder_;
};

// The whole picture of one model file loaded into a frame 3 units ahead, its
// animation at time seconds.
std::vector<std::uint8_t> picture(scene::Renderer& r, engine::Scene& s, const std::string& path, float seconds) {
  scene::Frame holder = scene::frame_create(r, s.root[engine::kMainRoot]);
  scene::frame_set_position(r, holder, {}, {0, 0, 3});
  scene::AnimationSet set;
  float length = 0;
  EXPECT_TRUE(engine::load_model_frames(s, path, holder, set, length)) << path;
  if (seconds > 0) {
    EXPECT_TRUE(scene::valid(set)) << path;
    EXPECT_FLOAT_EQ(length, 0.5f) << path;
    scene::animation_set_time(r, set, seconds);
  }
  scene::Frame camera = scene::frame_create(r, s.root[engine::kMainRoot]);
  scene::Viewport view = scene::viewport_create(r, camera, 0, 0, 640, 480);
  scene::viewport_set_field(r, view, scene::viewport_front(r, view));  // 90 degrees
  scene::clear(r, {0, 0, 0, 1});
  scene::render(r, view, s.root[engine::kMainRoot]);
  std::vector<std::uint8_t> pixels(640 * 480 * 4);
  EXPECT_TRUE(scene::read_pixels(r, 0, 0, 640, 480, pixels.data()));
  scene::viewport_destroy(r, view);
  scene::frame_destroy(r, camera);
  scene::frame_destroy(r, holder);
  scene::animation_set_destroy(r, set);
  return pixels;
}

Rgb at(const std::vector<std::uint8_t>& p, int x, int y) {
  const std::uint8_t* c = &p[(static_cast<std::size_t>(y) * 640 + static_cast<std::size_t>(x)) * 4];
  return {c[0], c[1], c[2]};
}

TEST_F(ModelsTest, TheSameModelInEveryFormatDrawsTheSamePixels) {
  if (!platform::model_library_available()) GTEST_SKIP() << "no model library";
  engine::Scene& s = start();
  scene::Renderer& r = *renderer_;
  std::vector<std::uint8_t> rest = picture(r, s, folder_ + "pendulum.x", 0);
  std::vector<std::uint8_t> half = picture(r, s, folder_ + "pendulum.x", 0.5f);
  // At rest: the body left of the middle, the arm out to the right of its pivot at x = 0.5.
  EXPECT_TRUE(red(at(rest, column(-1), row(0))));
  EXPECT_TRUE(green(at(rest, column(1), row(0))));
  EXPECT_TRUE(dark(at(rest, column(0), row(0))));
  EXPECT_TRUE(dark(at(rest, column(-1), row(0.8f))));
  // Half a second on: the body risen by 0.5, the arm turned over to the left of its pivot.
  EXPECT_TRUE(red(at(half, column(-1), row(0.8f))));
  EXPECT_TRUE(green(at(half, column(0), row(0.5f))));
  EXPECT_TRUE(dark(at(half, column(1), row(0))));
  auto differing = [](const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    int n = 0;
    for (std::size_t i = 0; i < a.size(); i += 4) n += std::memcmp(&a[i], &b[i], 3) != 0;
    return n;
  };
  EXPECT_EQ(differing(picture(r, s, folder_ + "pendulum.glb", 0), rest), 0);
  EXPECT_EQ(differing(picture(r, s, folder_ + "pendulum.glb", 0.5f), half), 0);
  EXPECT_EQ(differing(picture(r, s, folder_ + "pendulum.obj", 0), rest), 0);
}

TEST_F(ModelsTest, AMeshElementPlaysItsAnimationOnItsClock) {
  // Camera (element 0) at the origin; the ".x3d" element 1 three units ahead,
  // element 2 the same model with a range of its own, element 3 a missing file.
  ElementRecord& cam = element(0);
  int c = project::take_aspect(world_->tables, *load_, 0, ".03d");
  world_->tables.aspects[c].word[0] = -240;
  set_aspect(cam, c);
  cam.display_area[2] = 639, cam.display_area[3] = 479;
  const char* files[] = {"pendulum.x", "pendulum.x", "missing.x"};
  int aspect[3];
  for (int i = 1; i <= 3; ++i) {
    ElementRecord& e = element(i);
    int n = aspect[i - 1] = project::take_aspect(world_->tables, *load_, i, ".x3d");
    project::AspectRecord& a = world_->tables.aspects[n];
    a.word[0] = i, a.word[1] = 1, a.word[2] = -1;
    a.word[project::kMeshFileWord] = arena_text(folder_ + files[i - 1]);
    set_aspect(e, n);
    e.position[2] = 3 * kUnit;
    if (i > 1) e.flags &= ~project::kFlagShown;
  }
  world_->tables.aspects[aspect[1]].word[engine::kMeshRangeStart] = 100;
  world_->tables.aspects[aspect[1]].word[engine::kMeshRangeEnd] = 300;
  engine::Scene& s = start();
  std::int32_t* clock = world_->tables.aspects[aspect[0]].word;
  EXPECT_GE(clock[engine::kMeshAnimationSet], 0);
  EXPECT_EQ(clock[engine::kMeshRangeStart], 0);
  EXPECT_EQ(clock[engine::kMeshRangeEnd], 500);  // the whole animation, in thousandths of a second
  EXPECT_EQ(world_->tables.aspects[aspect[1]].word[engine::kMeshRangeEnd], 300);  // its own range stays
  EXPECT_EQ(world_->tables.aspects[aspect[2]].word[engine::kMeshAnimationSet], -1);  // nothing to play
  EXPECT_EQ(scene::frame_child(*renderer_, s.aspect[aspect[2]].frame, 0).id, -1);  // nor to draw

  // The body is the aspect frame's first child, the arm the body's.
  scene::Frame body = scene::frame_child(*renderer_, s.aspect[aspect[0]].frame, 0);
  scene::Frame arm = scene::frame_child(*renderer_, body, 0);
  ASSERT_TRUE(scene::valid(arm));
  struct {
    std::int32_t time;
    int key;         // the arm's turn then
    float body_y;    // and the body's height
  } cases[] = {{0, 0, 0}, {250, 1, kRise / 2}, {500, 2, kRise}};
  for (const auto& k : cases) {
    clock[engine::kMeshTime] = k.time;
    engine::render_step(*world_);
    scene::Quat q = scene::frame_rotation(*renderer_, arm, body), want = arm_turn(k.key);
    EXPECT_NEAR(std::fabs(q.x * want.x + q.y * want.y + q.z * want.z + q.w * want.w), 1, 1e-4f) << k.time;
    EXPECT_NEAR(scene::frame_position(*renderer_, body, s.aspect[aspect[0]].frame).y, k.body_y, 1e-4f) << k.time;
    bool arm_right = green(pixel(column(1), row(0)));
    EXPECT_EQ(arm_right, k.key == 0) << k.time;
    EXPECT_EQ(green(pixel(column(0), row(0.5f))), k.key == 2) << k.time;
  }
  // The clock runs by its speed and loops over its range.
  clock[engine::kMeshSpeed] = 200;
  clock[engine::kMeshTime] = 400;
  engine::render_step(*world_);
  EXPECT_EQ(clock[engine::kMeshTime], 100);  // 600 wrapped into 0 .. 500
}

}  // namespace
