// The mesh and extra-object routines on scenes drawn offscreen: part paths,
// vertex reads and writes seen in the picture, texture coordinates and
// materials seen in its colours, copies of shared meshes, clones and kills,
// picking, the queues of the next picture, and a brain that waves a flag.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine_local.h"
#include "engine/render/scene_fixture.h"
#include "platform/platform.h"
#include "tests/brain_files.h"

namespace {

using project::ElementRecord;
using scene_test::kUnit;
using scene_test::Rgb;
using I = std::int32_t;

I call(std::string_view name, I a = 0, I b = 0, I c = 0, I d = 0, I e = 0) {
  int row = brain::find_keyword(name);
  EXPECT_GE(row, 0) << name;
  return row < 0 ? 0 : brain::routine_of(row)(a, b, c, d, e, 0);
}

// ---- Model files --------------------------------------------------------------------------

struct Corner {
  float x, y, z, u = 0, v = 0;
};

// One ".x" mesh of triangles (three corners each, in order).
std::string mesh_text(const std::string& name, const std::vector<Corner>& c) {
  std::ostringstream s;
  s << "Mesh " << name << " {\n " << c.size() << ";\n";
  for (std::size_t i = 0; i < c.size(); ++i)
    s << " " << c[i].x << ";" << c[i].y << ";" << c[i].z << ";" << (i + 1 < c.size() ? "," : ";") << "\n";
  s << " " << c.size() / 3 << ";\n";
  for (std::size_t t = 0; t < c.size() / 3; ++t)
    s << " 3;" << 3 * t << "," << 3 * t + 1 << "," << 3 * t + 2 << ";" << (t + 1 < c.size() / 3 ? "," : ";") << "\n";
  s << " MeshTextureCoords {\n " << c.size() << ";\n";
  for (std::size_t i = 0; i < c.size(); ++i)
    s << " " << c[i].u << ";" << c[i].v << ";" << (i + 1 < c.size() ? "," : ";") << "\n";
  s << " }\n}\n";
  return s.str();
}

std::string frame_text(const std::string& name, const std::string& inside) {
  return "Frame " + name + " {\n FrameTransformMatrix {\n  1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;;\n }\n" + inside + "}\n";
}

// A 2 x 2 square in z = 0 facing -z, texture (0, 0) at its top-left corner.
std::vector<Corner> square() {
  Corner tl{-1, 1, 0, 0, 0}, tr{1, 1, 0, 1, 0}, br{1, -1, 0, 1, 1}, bl{-1, -1, 0, 0, 1};
  return {tl, tr, br, tl, br, bl};  // clockwise as the camera sees them
}

// n small triangles, each vertex at its own place.
std::vector<Corner> triangles(int n) {
  std::vector<Corner> c;
  for (int i = 0; i < 3 * n; ++i) c.push_back({0.01f * static_cast<float>(i), 0.01f * static_cast<float>(i % 3), 0});
  return c;
}

// The part-path fixture: Body (3 vertices) { Arm (6) { Hand (9 and 12) }, Leg (15) }, Banner (18).
std::string tree_model() {
  std::string hand = frame_text("Hand", mesh_text("HandA", triangles(3)) + mesh_text("HandB", triangles(4)));
  std::string arm = frame_text("Arm", mesh_text("ArmMesh", triangles(2)) + hand);
  std::string leg = frame_text("Leg", mesh_text("LegMesh", triangles(5)));
  return "xof 0303txt 0032\n" + frame_text("Body", mesh_text("BodyMesh", triangles(1)) + arm + leg) +
         frame_text("Banner", mesh_text("BannerMesh", triangles(6)));
}

// The same tree built in the scene under frame model.
void build_tree(scene::Renderer& r, scene::Frame model) {
  auto add = [&r](scene::Frame f, int vertices) {
    std::vector<scene::Vertex> v(static_cast<std::size_t>(vertices));
    for (int i = 0; i < vertices; ++i) v[static_cast<std::size_t>(i)].position = {0.01f * static_cast<float>(i), 0, 0};
    scene::FaceGroup g{0, vertices, {}, {}, scene::Quality::flat};
    scene::frame_add_mesh(r, f, scene::mesh_create(r, v, {&g, 1}));
  };
  scene::Frame body = scene::frame_create(r, model);
  add(body, 3);
  scene::Frame arm = scene::frame_create(r, body);
  add(arm, 6);
  scene::Frame hand = scene::frame_create(r, arm);
  add(hand, 9);
  add(hand, 12);
  add(scene::frame_create(r, body), 15);
  add(scene::frame_create(r, model), 18);
}

// {levels, visual} -> the vertex count of the part found (0: none).
struct PathCase {
  I level[4];
  I visual;
  int vertices;
};
constexpr PathCase kPathCases[] = {
    {{0, -1, -1, -1}, 0, 3},   {{0, 0, -1, -1}, 0, 6},   {{0, 0, 0, -1}, 0, 9},     {{0, 0, 0, -1}, 1, 12},
    {{0, 0, 0, -1}, 2, 0},     {{0, 1, -1, -1}, 0, 15},  {{0, 2, -1, -1}, 0, 0},    {{1, -1, -1, -1}, 0, 18},
    {{1, 0, -1, -1}, 0, 0},    {{-1, 0, 0, 0}, 0, 0},    {{0, -1, 0, 0}, 0, 3},     {{0, 0, 0, 0}, 0, 0},
    {{0, 0, 0, -1}, -1, 0},    {{2, -1, -1, -1}, 0, 0},  {{0, -5, -1, -1}, 0, 0},
};

// An 8-bit BMP of 2 x 2 texels: red, green over blue, white.
std::string four_colour_bmp() {
  std::string b(14 + 40 + 1024 + 8, '\0');
  auto put32 = [&b](std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<char>(v >> (8 * k) & 255);
  };
  b[0] = 'B', b[1] = 'M';
  put32(2, static_cast<std::uint32_t>(b.size()));
  put32(10, 14 + 40 + 1024);
  put32(14, 40);
  put32(18, 2);
  put32(22, 2);
  b[26] = 1, b[28] = 8;
  put32(46, 256);
  const std::uint8_t colours[5][3] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  for (int i = 0; i < 5; ++i)
    for (int k = 0; k < 3; ++k) b[54 + 4 * i + (2 - k)] = static_cast<char>(colours[i][k]);  // stored b, g, r
  const char rows[8] = {3, 4, 0, 0, 1, 2, 0, 0};  // bottom row first
  std::copy(rows, rows + 8, b.begin() + 14 + 40 + 1024);
  return b;
}

bool near(Rgb p, Rgb want, int tolerance = 24) {
  return std::abs(p.r - want.r) < tolerance && std::abs(p.g - want.g) < tolerance && std::abs(p.b - want.b) < tolerance;
}

constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

// ---- The fixture ---------------------------------------------------------------------------

class MeshScene : public scene_test::SceneFixture {
 protected:
  void SetUp() override {
    SceneFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    work_ = std::filesystem::canonical(data_ + "..").string() + "/";
    folder_ = work_ + "xvisuals/meshtest" + std::to_string(getpid()) + "/";
    std::filesystem::create_directories(folder_);
    lines_ = std::make_unique<project::ElementLines>();
    loaders_ = project::default_aspect_loaders();
    engine::register_scene_loaders(loaders_);
  }
  void TearDown() override {
    SceneFixture::TearDown();
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }

  std::string file(const std::string& name, const std::string& bytes) {
    std::ofstream(folder_ + name, std::ios::binary) << bytes;
    return folder_ + name;
  }
  // A visual of one frame: model, texture ("" none), quality, colour and translucency.
  std::string visual(const std::string& name, const std::string& model, const std::string& texture = "",
                     int quality = 1, const char* colour = "FF0000", int translucency = 0) {
    return file(name, "1|" + (texture.empty() ? std::string("-") : texture) + "|" + model + "|" +
                          std::to_string(quality) + "|0|" + colour + "|0|" + std::to_string(translucency) + "|0\r\n");
  }
  std::string model(const std::string& name, const std::string& body) {
    return file(name, body.starts_with("xof") ? body : "xof 0303txt 0032\n" + body);
  }
  void line(int i, int type, const std::string& aspect) {
    lines_->line[i] = project::default_camera_line(work_);
    project::set_line_field(*lines_, i, project::kFieldType, std::to_string(type));
    project::set_line_field(*lines_, i, project::kFieldAspect, aspect.empty() ? "-" : aspect);
    project::set_line_field(*lines_, i, project::kFieldStartSwitches, "65");
  }
  void camera(int i) { line(i, project::kCamera, ""); }
  // Loads lines 0..highest; every element on and shown; camera elements see the whole screen.
  void load_lines(int highest) {
    lines_->highest = highest;
    project::AspectLoad loaded;
    project::load_aspects(loaders_, world_->tables, loaded, *lines_, work_, false);
    for (int i = 0; i <= highest; ++i) {
      ElementRecord& e = element(i);
      if (loaded.count[i] > 0) set_aspect(e, loaded.first[i]);
      e.display_area[2] = 639, e.display_area[3] = 479;
    }
    *load_ = loaded;
  }
  ElementRecord& at(int i, float x, float y, float z) {
    ElementRecord& e = world_->tables.elements[i];
    e.position[0] = static_cast<I>(x * kUnit), e.position[1] = static_cast<I>(y * kUnit);
    e.position[2] = static_cast<I>(z * kUnit);
    return e;
  }
  I ref(int i) { return static_cast<I>(base::address32(&world_->tables.elements[i])); }
  void part(I l0, I l1 = -1, I l2 = -1, I l3 = -1, I visual = 0) { call("h_part_set", l0, l1, l2, l3, visual); }
  void draw() { engine::render_step(*world_); }
  engine::MeshParts& parts() { return world_->scene->parts; }
  scene::Renderer& r() { return *world_->scene->renderer; }

  // Camera 0 and a visual element 1 (a red unlit 2 x 2 square) 5 units ahead.
  void square_scene(const std::string& texture = "", const char* colour = "FF0000") {
    camera(0);
    line(1, project::kVisual, visual("square.v3d", model("square.x", frame_text("Square", mesh_text("S", square()))),
                                     texture, 1, colour));
    load_lines(1);
    at(1, 0, 0, 5);
    start();
  }

  // Compiles one brain per text for elements 0, 1, ... (the texts' literals in the data arena).
  void compile(const std::vector<std::string>& texts) {
    std::vector<brain::BrainSource> sources = brains_.sources(texts, "e");
    literals_ = base::area(base::Area::data_arena).subspan(load_->arena_used);
    std::byte* first = literals_.data();
    brains_.serve(options_);
    options_.literals = &literals_;
    program_ = std::make_unique<brain::Program>();
    ASSERT_TRUE(brain::compile_project(sources, options_, *program_));
    world_->program = program_.get();
    world_->literal_start = base::address32(first);
    world_->literal_end = base::address32(literals_.data());
  }

  std::string work_, folder_;
  std::unique_ptr<project::ElementLines> lines_;
  project::AspectLoaders loaders_;
  brain_test::MemoryBrains brains_;
  std::span<std::byte> literals_;
  brain::CompileOptions options_;
  std::unique_ptr<brain::Program> program_;
  std::unique_ptr<platform::Input> input_ = std::make_unique<platform::Input>();
};

// ---- Part paths ------------------------------------------------------------------------------

TEST_F(MeshScene, PartPathsFindFramesAndMeshes) {
  square_scene();
  // The fixture tree under an owned object: the path walks down from its frame.
  scene::Frame model = scene::frame_create(r(), world_->scene->root[engine::kMainRoot]);
  build_tree(r(), model);
  int slot = engine::take_extra_slot(parts());
  parts().extra[slot].frame = model;
  parts().extra[slot].owned = true;
  I handle = static_cast<I>(static_cast<std::uint32_t>(slot) | engine::kExtraBit);
  for (const PathCase& c : kPathCases) {
    part(c.level[0], c.level[1], c.level[2], c.level[3], c.visual);
    EXPECT_EQ(call("vertices", handle), c.vertices)
        << c.level[0] << " " << c.level[1] << " " << c.level[2] << " " << c.level[3] << " / " << c.visual;
    if (c.vertices > 0) {
      EXPECT_EQ(call("normals"), c.vertices) << "the part the last keyword found";
    }
  }
  // A visual element's frame is its part whatever the path; one that is off has none.
  part(-1, 7, 7, 7, 0);
  EXPECT_EQ(call("vertices", ref(1)), 6);
  world_->tables.elements[1].flags &= ~project::kFlagOn;
  EXPECT_EQ(call("vertices", ref(1)), 0);
  world_->tables.elements[1].flags |= project::kFlagOn;
  part(0, -1, -1, -1, 1);
  EXPECT_EQ(call("vertices", ref(1)), 0) << "mesh 1 of a one-mesh visual";
  // A handle on the Arm frame (path 0, 0, 0 with levels 2 and 3 from the call): its frame is the part.
  part(0);
  I arm = call("x_element_get", handle, 0, -1);
  EXPECT_LT(arm, 0) << "top bit set";
  EXPECT_EQ(call("x_element_get", handle, 0, -1), arm) << "the same frame gives the same handle";
  part(-1, -1, -1, -1, 0);
  EXPECT_EQ(call("vertices", arm), 6);
  part(0);
  EXPECT_EQ(call("x_element_get", handle, 9, -1), 0) << "no such child";
}

// The same tree read from a text ".x" file with nested frames, as an ".x3d" element's model.
TEST_F(MeshScene, PartPathsOfALoadedModel) {
  camera(0);
  line(1, project::kMesh, model("tree.x", tree_model()));
  load_lines(1);
  start();
  scene::Frame frame = engine::aspect_frame(*world_, load_->first[1]);
  if (scene::frame_children(r(), frame, {}) == 1)
    GTEST_SKIP() << "models load flattened onto one frame here: the frame tree is not read yet";
  for (const PathCase& c : kPathCases) {
    part(c.level[0], c.level[1], c.level[2], c.level[3], c.visual);
    EXPECT_EQ(call("vertices", ref(1)), c.vertices)
        << c.level[0] << " " << c.level[1] << " " << c.level[2] << " " << c.level[3] << " / " << c.visual;
  }
}

// ---- Vertices ---------------------------------------------------------------------------------

TEST_F(MeshScene, VertexWritesRoundTripAndMoveTheDrawnPicture) {
  square_scene();
  I e = ref(1);
  part(0);
  ASSERT_EQ(call("vertices", e), 6);
  // Vertex 1 is the top-right corner (1, 1, 0); unmoved and unturned, the scene axes equal the part's.
  EXPECT_EQ(call("vertex_pos", e, 1, 0), kUnit);
  EXPECT_EQ(call("vertex_pos", e, 1, 1), kUnit);
  EXPECT_EQ(call("vertex_pos", e, 1, 2), 0);
  for (int axis = 0; axis < 3; ++axis) EXPECT_EQ(call("vertex_pos", e, 1, axis + 3), call("vertex_pos", e, 1, axis));
  EXPECT_EQ(call("vertex_pos", e, 1, 6), 0);
  EXPECT_EQ(call("vertex_pos", e, 6, 0), 0) << "past the last vertex";
  EXPECT_EQ(call("vertex_pos", e, -1, 0), 0);

  draw();
  EXPECT_TRUE(near(pixel(320, 240), kRed));
  // Moved 1.5 units to the right vertex by vertex: the centre is empty, the right side red.
  for (int i = 0; i < 6; ++i) call("vertex_pos_add", e, i, kUnit * 3 / 2, 0, 0);
  EXPECT_EQ(call("vertex_pos", e, 1, 0), kUnit * 5 / 2);
  draw();
  EXPECT_TRUE(near(pixel(320, 240), kBlack));
  EXPECT_TRUE(near(pixel(320 + 96, 240), kRed));
  // Set back in the part's space.
  const I corners[6][2] = {{-1, 1}, {1, 1}, {1, -1}, {-1, 1}, {1, -1}, {-1, -1}};
  for (int i = 0; i < 6; ++i) call("vertex_pos_set", e, i, corners[i][0] * kUnit, corners[i][1] * kUnit, 0);
  draw();
  EXPECT_TRUE(near(pixel(320, 240), kRed));

  // With the element moved and drawn, scene axes go through its placement.
  at(1, 2, 0, 5);
  draw();
  EXPECT_EQ(call("vertex_pos", e, 1, 3), 3 * kUnit);
  EXPECT_EQ(call("vertex_pos", e, 1, 5), 5 * kUnit);
  call("vertex_posw_set", e, 1, 4 * kUnit, kUnit, 5 * kUnit);  // one unit further right, in the scene
  EXPECT_EQ(call("vertex_pos", e, 1, 0), 2 * kUnit);
  EXPECT_EQ(call("vertex_pos", e, 1, 2), 0);
  // Bad indexes change nothing.
  call("vertex_pos_set", e, 6, 0, 0, 0);
  call("vertex_pos_add", e, -1, kUnit, 0, 0);
  EXPECT_EQ(call("vertex_pos", e, 0, 0), -kUnit);
}

TEST_F(MeshScene, EditsOfASharedMeshShowOnTheEditedElementOnly) {
  camera(0);
  std::string v3d = visual("shared.v3d", model("shared.x", frame_text("S", mesh_text("S", square()))));
  line(1, project::kVisual, v3d);
  line(2, project::kVisual, v3d);
  load_lines(2);
  at(1, -1.5f, 0, 5);
  at(2, 1.5f, 0, 5);
  start();
  part(0);
  scene::Mesh before[2];
  scene::frame_meshes(r(), engine::aspect_frame(*world_, load_->first[1]), before);
  EXPECT_EQ(scene::mesh_frame_count(r(), before[0]), 2) << "one model, one mesh";
  draw();
  EXPECT_TRUE(near(pixel(320 - 72, 240), kRed));
  EXPECT_TRUE(near(pixel(320 + 72, 240), kRed));
  // Element 1's square shrinks to nothing; element 2 keeps its own.
  for (int i = 0; i < 6; ++i) call("vertex_pos_set", ref(1), i, 0, 0, 0);
  draw();
  EXPECT_TRUE(near(pixel(320 - 72, 240), kBlack));
  EXPECT_TRUE(near(pixel(320 + 72, 240), kRed));
  EXPECT_EQ(call("vertex_pos", ref(2), 1, 0), kUnit);
  EXPECT_EQ(call("vertex_pos", ref(1), 1, 0), 0);
  EXPECT_EQ(scene::mesh_frame_count(r(), before[0]), 1);
}

// ---- Texture coordinates and materials ---------------------------------------------------------

TEST_F(MeshScene, TextureCoordinatesAndMaterialsShowInTheColour) {
  square_scene(file("four.bmp", four_colour_bmp()), "FFFFFF");
  I e = ref(1);
  part(0);
  EXPECT_EQ(call("vertex_u", e, 2), 10000);
  EXPECT_EQ(call("vertex_v", e, 2), 10000);
  // Every corner on one texel's centre: the square takes its colour.
  struct {
    I u, v;
    Rgb colour;
  } texels[] = {{2500, 2500, kRed}, {7500, 2500, kGreen}, {2500, 7500, kBlue}, {7500, 7500, kWhite}};
  for (const auto& t : texels) {
    for (int i = 0; i < 6; ++i) call("vertex_uv_set", e, i, t.u, t.v);
    EXPECT_EQ(call("vertex_u", e, 4), t.u);
    draw();
    Rgb p = pixel(320, 240);
    EXPECT_TRUE(near(p, t.colour)) << t.u << "," << t.v << ": " << p.r << " " << p.g << " " << p.b;
  }
  // Added over the whole range: from white back to red.
  call("vertex_uv_add", e, 0, 5, -5000, -5000);
  draw();
  EXPECT_TRUE(near(pixel(320, 240), kRed));

  // The material template on the part frame: a green diffuse colour over the white-lit texture's red.
  call("material_set", 0, 0, 1000, 0, 1000);
  call("material_apply", e);
  draw();
  Rgb p = pixel(320, 240);
  EXPECT_TRUE(near(p, kBlack)) << "red texel times green: " << p.r << " " << p.g << " " << p.b;
  for (int i = 0; i < 6; ++i) call("vertex_uv_set", e, i, 7500, 2500);
  draw();
  EXPECT_TRUE(near(pixel(320, 240), kGreen));
  call("material_set", 0, 0, 500, 0, 1000);  // applied again: the same material, changed in place
  call("material_apply", e);
  draw();
  EXPECT_NEAR(pixel(320, 240).g, 128, 24);

  // A plain colour on the same frame's material: the green texel times blue is black, times
  // yellow green; alpha 0 lets the black background through.
  struct {
    const char* name;
    I r, g, b, alpha;
    Rgb colour;
  } plain[] = {{"visual_color_set", 0, 0, 255, 0, kBlack},
               {"visual_color_set", 255, 255, 0, 0, kGreen},
               {"visual_rgba_set", 255, 255, 255, 255, kGreen},
               {"visual_rgba_set", 255, 255, 255, 0, kBlack}};
  for (const auto& c : plain) {
    call(c.name, e, c.r, c.g, c.b, c.alpha);
    draw();
    p = pixel(320, 240);
    EXPECT_TRUE(near(p, c.colour)) << c.name << " " << c.r << c.g << c.b << ": " << p.r << " " << p.g << " " << p.b;
  }
}

TEST_F(MeshScene, TextureCoordinateRangesAreHeldInsideTheMesh) {
  square_scene();
  I e = ref(1);
  part(0);
  struct {
    I first, last;
    std::vector<int> changed;
  } cases[] = {
      {5, 2, {2}}, {0, 1, {0, 1}}, {-3, 0, {0}}, {4, 99, {4, 5}}, {9, 7, {5}}, {3, 3, {3}}, {-9, -5, {0}},
  };
  for (const auto& c : cases) {
    I before[6];
    for (int i = 0; i < 6; ++i) before[i] = call("vertex_u", e, i);
    call("vertex_uv_add", e, c.first, c.last, 100, 0);
    for (int i = 0; i < 6; ++i) {
      bool changed = std::find(c.changed.begin(), c.changed.end(), i) != c.changed.end();
      EXPECT_EQ(call("vertex_u", e, i), before[i] + (changed ? 100 : 0))
          << c.first << ".." << c.last << " vertex " << i;
    }
  }
}

// ---- Whole meshes through arrays ---------------------------------------------------------------

TEST_F(MeshScene, ArraysOfVerticesAndNormalsAreBoundsChecked) {
  square_scene();
  I e = ref(1);
  part(0);
  I exact = call("a_create", 18), longer = call("a_create", 25), shorter = call("a_create", 17);
  struct {
    I array, offset, result;
  } cases[] = {{exact, 0, 6},   {exact, 1, -1},     {longer, 7, 6},  {longer, 8, -1},   {shorter, 0, -1},
               {exact, -1, -1}, {longer, -7, -1},   {9999, 0, -1},   {-5, 0, -1},       {exact, INT32_MIN, -1}};
  for (const auto& c : cases) {
    for (I k = 0; k < 25; ++k) call("a_set", c.array, k, 77);
    EXPECT_EQ(call("vertices_get", e, c.array, c.offset), c.result) << c.array << " @" << c.offset;
    EXPECT_EQ(call("normals_get", e, c.array, c.offset), c.result) << c.array << " @" << c.offset;
    if (c.result < 0) {
      I cells = call("a_size", c.array) / 4;
      for (I k = 0; k < 25; ++k) EXPECT_EQ(call("a", c.array, k), k < cells ? 77 : 0) << "nothing written";
      EXPECT_EQ(call("vertices_set", e, c.array, c.offset), -1);
      EXPECT_EQ(call("normals_set", e, c.array, c.offset), -1);
    }
  }
  EXPECT_EQ(call("vertex_pos", e, 0, 0), -kUnit) << "failed sets wrote nothing";
  // A round trip: read, move every vertex down 2 units, write back, read again.
  ASSERT_EQ(call("vertices_get", e, longer, 7), 6);
  EXPECT_EQ(call("a", longer, 7 + 3), kUnit) << "vertex 1 x";
  for (int i = 0; i < 6; ++i) call("a_set", longer, 7 + 3 * i + 1, call("a", longer, 7 + 3 * i + 1) - 2 * kUnit);
  EXPECT_EQ(call("vertices_set", e, longer, 7), 6);
  EXPECT_EQ(call("vertex_pos", e, 1, 1), -kUnit);
  draw();
  EXPECT_TRUE(near(pixel(320, 240 + 96), kRed));
  EXPECT_TRUE(near(pixel(320, 240 - 30), kBlack));
  // Normals out and in: the square faces -z.
  ASSERT_EQ(call("normals_get", e, exact, 0), 6);
  EXPECT_EQ(call("a", exact, 2), -kUnit);
  call("a_set", exact, 2, kUnit);
  EXPECT_EQ(call("normals_set", e, exact, 0), 6);
  call("normals_get", e, longer, 0);
  EXPECT_EQ(call("a", longer, 2), kUnit);
  EXPECT_EQ(call("a", longer, 5), -kUnit);
  // Recomputed from the faces, the first normal faces -z again.
  call("normals_optimize", e);
  call("normals_get", e, longer, 0);
  EXPECT_EQ(call("a", longer, 2), -kUnit);
  // Fewer draw calls, the same picture.
  call("rendering_optimize", e);
  draw();
  EXPECT_TRUE(near(pixel(320, 240 + 96), kRed));
}

// ---- Extra model objects ------------------------------------------------------------------------

TEST_F(MeshScene, ClonesKillsAndReferencesAfterAKill) {
  camera(0);
  line(1, project::kMesh, model("tile.x", frame_text("Tile", mesh_text("T", square()))));
  line(2, project::kVisual, visual("other.v3d", model("other.x", mesh_text("O", square()))));
  load_lines(2);
  at(1, 0, 0, 5);
  start();
  part(0);
  ASSERT_EQ(call("vertices", ref(1)), 6) << "the .x3d element's model";
  I first = call("x_clone", 0, ref(1));
  EXPECT_EQ(static_cast<std::uint32_t>(first), engine::kExtraBit | 0);
  EXPECT_EQ(call("vertices", first), 6);
  EXPECT_EQ(call("x_clone", 0, ref(2)), 0) << "not an .x3d element";
  EXPECT_EQ(call("x_clone", 12345, ref(1)), 0) << "no such parent";
  EXPECT_EQ(call("x_clone", first | 7, ref(1)), 0) << "no such parent";
  I child = call("x_clone", first, ref(1));
  I third = call("x_clone", 0, ref(1));
  EXPECT_EQ(static_cast<std::uint32_t>(child), engine::kExtraBit | 1);
  EXPECT_EQ(static_cast<std::uint32_t>(third), engine::kExtraBit | 2);

  // Placed relative to their parents; read relative to the scene or another object.
  call("position_set", first, 0, 0, 3 * kUnit);
  call("position_set", child, 3 * kUnit, 0, 0);
  EXPECT_EQ(call("position", child, 0, 0), 3 * kUnit);
  EXPECT_EQ(call("position", child, 0, 2), 3 * kUnit);
  EXPECT_EQ(call("position", child, first, 2), 0);
  EXPECT_EQ(call("position", child, 0, 3), 0);
  EXPECT_EQ(call("position", child, 999, 0), 0);
  // Edits of a clone leave the element's model alone.
  call("vertex_pos_set", first, 1, 0, 0, 0);
  EXPECT_EQ(call("vertex_pos", ref(1), 1, 0), kUnit);
  draw();
  Rgb clone_only = pixel(320 - 65, 240 + 65);  // inside the nearer clone's lower-left half, outside the element
  EXPECT_GT(clone_only.r + clone_only.g + clone_only.b, 300);
  EXPECT_TRUE(near(pixel(320 + 65, 240 - 65), kBlack)) << "its upper-right half is gone with vertex 1";

  // Borrowed handles are refused; killing the parent takes the child and handles on its frames.
  part(0);
  I borrowed = call("x_element_get", child, -1, -1);
  ASSERT_LT(borrowed, 0);
  call("x_kill", borrowed);
  EXPECT_EQ(call("vertices", borrowed), 6) << "still there";
  call("x_kill", first);
  for (I gone : {first, child, borrowed}) {
    EXPECT_EQ(call("vertices", gone), 0);
    EXPECT_EQ(call("position", gone, 0, 2), 0);
    EXPECT_EQ(call("x_clone", gone, ref(1)), 0) << "a killed parent";
    EXPECT_EQ(call("rotation_angle", gone, 0), 0);
    call("position_set", gone, 1, 2, 3);
    call("x_kill", gone);
  }
  EXPECT_EQ(call("vertices", third), 6) << "others stay";
  EXPECT_EQ(parts().extra_highest, 2);
  // The lowest free slot first; killing the highest shrinks the table, so that slot comes next.
  I again = call("x_clone", 0, ref(1));
  EXPECT_EQ(static_cast<std::uint32_t>(again), engine::kExtraBit | 0);
  call("x_kill", third);
  EXPECT_EQ(parts().extra_highest, 0);
  EXPECT_EQ(static_cast<std::uint32_t>(call("x_clone", 0, ref(1))), engine::kExtraBit | 1);
  // Cloned and killed over and over, the scene's pools stay as they were.
  int free_meshes = 0;
  for (int m = 0; m < scene::kMaxMeshes; ++m) free_meshes += scene::mesh_vertex_count(r(), scene::Mesh{m}) == 0;
  for (int k = 0; k < 50; ++k) call("x_kill", call("x_clone", 0, ref(1)));
  int free_after = 0;
  for (int m = 0; m < scene::kMaxMeshes; ++m) free_after += scene::mesh_vertex_count(r(), scene::Mesh{m}) == 0;
  EXPECT_EQ(free_after, free_meshes);
}

TEST_F(MeshScene, ModelsLoadByNameInsideTheGameOnly) {
  square_scene();
  world_->base_folder = base::Text(work_);  // the game's folder: brains name files inside it
  std::string tile = model("named.x", frame_text("N", mesh_text("N", square())));
  I name = call("str_create", 300);
  auto load = [&](const std::string& path) {
    engine::set_handle_text(*world_, name, path);
    return call("x_load", 0, name);
  };
  I h = load(tile);
  EXPECT_LT(h, 0);
  part(0);
  EXPECT_EQ(call("vertices", h), 6);
  EXPECT_EQ(load(folder_ + "missing.x"), 0);
  EXPECT_EQ(load("/etc/passwd"), 0) << "outside the game's folders";
  engine::set_handle_text(*world_, name, tile);
  EXPECT_EQ(call("x_load", 777, name), 0) << "no such parent";
}

TEST_F(MeshScene, PickFindsTheObjectUnderTheMouse) {
  camera(0);
  line(1, project::kMesh, model("pick.x", frame_text("P", mesh_text("P", square()))));
  load_lines(1);
  at(1, 0, 0, 5);
  start();
  draw();
  platform::Input& mouse = *input_;
  world_->input = &mouse;
  mouse.mouse_x = 320, mouse.mouse_y = 240;
  EXPECT_EQ(call("x_picked", ref(0)), ref(1));
  EXPECT_NEAR(call("x_pick_pt", 2), 5 * kUnit, kUnit / 1000);
  EXPECT_NEAR(call("x_pick_pt", 0), kUnit / 96, kUnit / 1000) << "the pixel's centre, half a pixel right";
  // 48 pixels left of the centre is one unit left at 5 units; half way there, half a unit.
  mouse.mouse_x = 320 - 24;
  EXPECT_EQ(call("x_picked", ref(0)), ref(1));
  EXPECT_NEAR(call("x_pick_pt", 0), -kUnit / 2 + kUnit / 96, kUnit / 1000);
  // A clone in front takes the pick; past the square's edge nothing is there.
  I clone = call("x_clone", 0, ref(1));
  call("position_set", clone, 0, 0, 3 * kUnit);
  EXPECT_EQ(call("x_picked", ref(0)), clone);
  EXPECT_NEAR(call("x_pick_pt", 2), 3 * kUnit, kUnit / 1000);
  mouse.mouse_x = 320 + 130;
  EXPECT_EQ(call("x_picked", ref(0)), 0);
  EXPECT_NEAR(call("x_pick_pt", 2), 3 * kUnit, kUnit / 1000) << "the last point found stays";
  EXPECT_EQ(call("x_picked", ref(1)), 0) << "not a camera";
  EXPECT_EQ(call("x_pick_pt", 3), 0);
}

// The square's brain reads the tick's pick into globals 0..4: visual_picked of
// itself, visual_picked_get, and visual_picked_get_ex 0, 2 and 3.
const std::vector<std::string> kPickBrains = {
    "", brain_test::lines({"var p", "p = visual_picked(element)", "global_set(0, p)", "p = visual_picked_get()",
                           "global_set(1, p)", "p = visual_picked_get_ex(0)", "global_set(2, p)",
                           "p = visual_picked_get_ex(2)", "global_set(3, p)", "p = visual_picked_get_ex(3)",
                           "global_set(4, p)"})};

TEST_F(MeshScene, TheTickPickFollowsThePointerOncePerTick) {
  square_scene();
  world_->input = input_.get();
  compile(kPickBrains);
  ASSERT_TRUE(program_->picking);
  I* g = engine::globals();
  // 48 pixels a unit on the square 5 units ahead; the pick of one tick's
  // picture is what the brains read in the next pass.
  static constexpr struct {
    int x, y;
    bool hit;
    float point_x;  // units, when hit
  } kCases[] = {
      {320, 240, true, 1.0f / 96},       {320 - 24, 240, true, -0.5f + 1.0f / 96}, {320 + 47, 240 + 47, true, 47.5f / 48},
      {320 + 49, 240, false, 0},         {320, 240 - 49, false, 0},               {5, 5, false, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    input_->mouse_x = c.x, input_->mouse_y = c.y;
    draw();
    engine::brain_pass(*world_);
    EXPECT_EQ(g[0], c.hit ? 1 : 0);
    EXPECT_EQ(g[1], c.hit ? ref(1) : 0);
    EXPECT_NEAR(g[2], c.point_x * kUnit, kUnit / 1000);
    EXPECT_NEAR(g[3], c.hit ? 5 * kUnit : 0, kUnit / 1000);
    EXPECT_EQ(g[4], ref(0)) << "the camera looked through";
  }
  // Two pictures in one tick pick once; the pointer's move shows next tick.
  int passes = parts().tick_pick.passes;
  EXPECT_EQ(passes, static_cast<int>(std::size(kCases)));
  input_->mouse_x = 320, input_->mouse_y = 240;
  draw();
  EXPECT_EQ(call("visual_picked_get"), ref(1));
  input_->mouse_x = 5, input_->mouse_y = 5;
  draw();
  EXPECT_EQ(parts().tick_pick.passes, passes + 1);
  EXPECT_EQ(call("visual_picked_get"), ref(1)) << "picked before the pointer moved";
  engine::brain_pass(*world_);
  draw();
  EXPECT_EQ(call("visual_picked_get"), 0);
  input_->mouse_x = 320, input_->mouse_y = 240;
  engine::brain_pass(*world_);
  draw();
  EXPECT_EQ(call("visual_picked_get"), ref(1));
  EXPECT_EQ(call("visual_picked", ref(1)), 1);
  EXPECT_EQ(call("visual_picked", ref(0)), 0);
  EXPECT_EQ(call("visual_picked", 0), 0);
  EXPECT_EQ(call("visual_picked_get_ex", 4), 0);
  // The camera off: no view over the pointer.
  engine::brain_pass(*world_);
  world_->tables.elements[0].flags &= ~project::kFlagShown;
  draw();
  EXPECT_EQ(call("visual_picked_get"), 0);
  EXPECT_EQ(call("visual_picked_get_ex", 3), 0);
}

TEST_F(MeshScene, WithoutTheMarkNoPickIsMade) {
  square_scene();
  world_->input = input_.get();
  input_->mouse_x = 320, input_->mouse_y = 240;
  // The same reads, but no brain calls visual_picked.
  compile({"", brain_test::lines({"var p", "p = visual_picked_get()", "global_set(1, p)"})});
  ASSERT_FALSE(program_->picking);
  for (int tick = 0; tick < 3; ++tick) {
    draw();
    engine::brain_pass(*world_);
  }
  EXPECT_EQ(parts().tick_pick.passes, 0);
  EXPECT_EQ(engine::globals()[1], 0);
  EXPECT_EQ(call("x_picked", ref(0)), ref(1)) << "a pick on demand still works";
}

TEST_F(MeshScene, TheRayThroughThePointer) {
  square_scene();
  world_->input = input_.get();
  at(0, 1, 2, -3);
  draw();
  // {pointer x, y} -> direction across and up at depth 1 (1 / 240 a pixel from the centre).
  static constexpr struct {
    int x, y;
  } kCases[] = {{320, 240}, {0, 0}, {639, 479}, {368, 100}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    input_->mouse_x = c.x, input_->mouse_y = c.y;
    double across = (c.x + 0.5 - 320) / 240, up = (240 - c.y - 0.5) / 240;
    double length = std::sqrt(across * across + up * up + 1);
    const double want[6] = {1.0 * kUnit, 2.0 * kUnit, -3.0 * kUnit, across / length * kUnit, up / length * kUnit,
                            1 / length * kUnit};
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(call("visual_ray", ref(0), k), want[k], kUnit / 1000) << k;
  }
  EXPECT_EQ(call("visual_ray", ref(0), 6), 0);
  EXPECT_EQ(call("visual_ray", ref(0), -1), 0);
  EXPECT_EQ(call("visual_ray", ref(1), 0), 0) << "not a camera";
  EXPECT_EQ(call("visual_ray", 12345, 0), 0);
}

TEST_F(MeshScene, RotationsOfObjectsAndElements) {
  square_scene();
  scene::Frame model = scene::frame_create(r(), world_->scene->root[engine::kMainRoot]);
  int slot = engine::take_extra_slot(parts());
  parts().extra[slot].frame = model;
  parts().extra[slot].owned = true;
  I h = static_cast<I>(static_cast<std::uint32_t>(slot) | engine::kExtraBit);
  // A quarter turn about y.
  call("rotation_axis_set", 0, kUnit, 0, 90 * 512);
  call("orientation_set", h);
  EXPECT_NEAR(call("rotation_angle", h, 0), 90 * 512, 2);
  EXPECT_NEAR(call("rotation_axis", 1), kUnit, 2);
  EXPECT_NEAR(call("rotation_axis", 0), 0, 2);
  // A zero axis is ignored; an added turn about x comes first.
  call("rotation_axis_set", 0, 0, 0, 30 * 512);
  call("rotation_axis_add", kUnit, 0, 0, 90 * 512);
  call("orientation_set", h);
  scene::Quat q = scene::frame_rotation(r(), model, {});
  scene::Vec3 up = scene::rotate(q, {0, 1, 0});  // y turned to z by the x turn, then z to x by the y turn
  EXPECT_NEAR(up.x, 1, 1e-4);
  EXPECT_NEAR(call("rotation_angle", h, 0), 120 * 512, 4);
  // Relative to itself there is no turn and no axis.
  EXPECT_EQ(call("rotation_angle", h, h), 0);
  EXPECT_EQ(call("rotation_axis", 1), 0);
  EXPECT_EQ(call("rotation_axis", 5), 0);

  // An element takes the angles that turn it the same way (about X, then Z, then Y).
  struct {
    I x, y, z, angle;
  } turns[] = {{0, kUnit, 0, 90 * 512}, {kUnit, 0, 0, 30 * 512}, {0, 0, kUnit, -45 * 512}, {1, 2, 3, 100 * 512},
               {0, 0, kUnit, 90 * 512}, {-3, 1, 2, 270 * 512}};
  ElementRecord& e = world_->tables.elements[1];
  for (const auto& t : turns) {
    call("rotation_axis_set", t.x, t.y, t.z, t.angle);
    call("orientation_set", ref(1));
    scene::Quat want = scene::quat_from_axis_angle({float(t.x), float(t.y), float(t.z)}, t.angle * 3.408846e-05f);
    scene::Vec3 direction, top;
    engine::orientation_vectors(e, direction, top);
    scene::Vec3 d = scene::rotate(want, {0, 0, 1}), u = scene::rotate(want, {0, 1, 0});
    EXPECT_NEAR(direction.x, d.x, 2e-3) << t.angle;
    EXPECT_NEAR(direction.y, d.y, 2e-3) << t.angle;
    EXPECT_NEAR(direction.z, d.z, 2e-3) << t.angle;
    EXPECT_NEAR(top.x, u.x, 2e-3) << t.angle;
    EXPECT_NEAR(top.y, u.y, 2e-3) << t.angle;
    for (I angle : e.rotation) EXPECT_TRUE(angle >= 0 && angle < 184320) << angle;
  }
  // Local axes by the element's table rotation: a positive y angle turns +z towards -x.
  e.rotation[0] = e.rotation[2] = 0;
  e.rotation[1] = 90 * 512;
  struct {
    I axis, component, value;
  } axes[] = {{2, 0, -kUnit}, {2, 2, 0}, {0, 2, kUnit}, {1, 1, kUnit}, {3, 0, 0}, {0, 3, 0}, {-1, 0, 0}};
  for (const auto& c : axes)
    EXPECT_NEAR(call("local_axis", ref(1), c.axis, c.component), c.value, 40) << c.axis << c.component;
}

// ---- Look and queues -----------------------------------------------------------------------------

TEST_F(MeshScene, ShowingDepthAndTranslucentOrder) {
  camera(0);
  std::string square_x = model("sq.x", frame_text("S", mesh_text("S", square())));
  line(1, project::kVisual, visual("near.v3d", square_x, "", 1, "FF0000", 50));
  line(2, project::kVisual, visual("far.v3d", square_x, "", 1, "0000FF", 50));
  line(3, project::kMesh, square_x);
  load_lines(3);
  at(1, 0, 0, 4);
  at(2, 0, 0, 6);
  at(3, 0, -2, 7);  // a white square below the centre, behind the others
  start();
  draw();
  Rgb sorted = pixel(320, 240);
  EXPECT_GT(sorted.r, sorted.b) << "the near red blended over the far blue";
  call("poly_sort_mode_set", 0);
  draw();
  Rgb unsorted = pixel(320, 240);
  EXPECT_GT(unsorted.b, unsorted.r) << "in the order of the scene: the far blue painted last";
  call("poly_sort_mode_set", 1);

  // The white square without depth buffering shows through the translucent ones... and over them.
  part(0);
  I white = ref(3);
  // At (320, 290) the white square lies behind the near red one (34 pixels a unit at 7 units).
  Rgb before = pixel(320, 290);
  call("zbuffer_mode_set", white, 0);
  draw();
  Rgb over = pixel(320, 290);
  EXPECT_GT(over.g, before.g + 60) << "painted after the red one, not under it";
  call("zbuffer_mode_set", white, 1);
  draw();
  EXPECT_TRUE(near(pixel(320, 290), before, 8));
  // Hidden and shown again; at (320, 330) there is only the white square.
  call("h_part_show", white, 0);
  draw();
  EXPECT_LT(pixel(320, 330).g, 20);
  call("h_part_show", white, 1);
  draw();
  EXPECT_GT(pixel(320, 330).g, 150);
  // Orders kept or ignored without harm.
  call("sort_mode_set", 2);
  call("sort_mode_set", 9);
  call("h_sort_mode_set", white, 3);
  call("h_sort_mode_set", white, 4);
  call("antialias_set", 1);
  EXPECT_TRUE(parts().antialias);
  draw();
  EXPECT_GT(pixel(320, 330).g, 150);
}

TEST_F(MeshScene, QueuesActInTheNextPictureOnly) {
  square_scene();
  I e = ref(1);
  ElementRecord& square = world_->tables.elements[1];
  square.rotation[1] = 60 * 512;
  draw();
  scene::Frame frame = engine::aspect_frame(*world_, load_->first[1]);
  scene::Frame camera = engine::aspect_frame(*world_, load_->first[0]);
  auto facing = [&] {
    scene::Vec3 d = scene::rotate(scene::frame_rotation(r(), frame, {}), {0, 0, 1});
    scene::Vec3 c = scene::rotate(scene::frame_rotation(r(), camera, {}), {0, 0, 1});
    return scene::dot(d, c);
  };
  EXPECT_LT(facing(), 0.6f);
  call("make_flat", e);
  call("make_flat", e);  // once is enough
  draw();
  EXPECT_NEAR(facing(), 1, 1e-4);
  draw();
  EXPECT_LT(facing(), 0.6f) << "one picture only";
  call("make_flat", ref(0) + 4);
  call("make_flat", INT32_MIN | 5);

  // The environment map: texture coordinates from the normals as the camera sees them.
  square.rotation[1] = 0;
  part(0);
  for (int i = 0; i < 6; ++i) call("vertex_uv_set", e, i, 0, 0);
  call("env_map_update", e);
  EXPECT_EQ(call("vertex_u", e, 0), 0) << "not before the picture";
  draw();
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(call("vertex_u", e, i), 5000) << "facing the camera: the map's centre";
    EXPECT_EQ(call("vertex_v", e, i), 5000);
  }
  call("vertex_uv_set", e, 0, 0, 0);
  draw();
  EXPECT_EQ(call("vertex_u", e, 0), 0) << "the queue was emptied";
  // A positive y angle turns the square's normal (-z) towards +x: the right of the texture.
  square.rotation[1] = 45 * 512;
  draw();
  call("env_map_update", e);
  draw();
  EXPECT_NEAR(call("vertex_u", e, 0), 5000 + 3536, 20);
  EXPECT_EQ(call("vertex_v", e, 0), 5000);
}

// ---- Bad references ----------------------------------------------------------------------------------

TEST_F(MeshScene, UnknownReferencesChangeNothing) {
  square_scene();
  I e = ref(1);
  I killed = call("x_clone", 0, e);  // not an .x3d element: 0
  EXPECT_EQ(killed, 0);
  const I kBad[] = {0, 5, ref(1) + 4, ref(0) - 1024, ref(0) + 256 * 1024, INT32_MIN, INT32_MIN | 3, -1,
                    static_cast<I>(engine::kExtraBit | engine::kMaxExtraObjects)};
  static const char* kRoutines[] = {"vertices", "vertex_pos", "vertex_pos_set", "vertex_posw_set", "vertex_pos_add",
                                    "vertex_u", "vertex_v", "vertex_uv_set", "vertex_uv_add", "normals_optimize",
                                    "rendering_optimize", "env_map_update", "make_flat", "h_part_show",
                                    "material_apply", "visual_color_set", "visual_rgba_set", "zbuffer_mode_set", "h_sort_mode_set", "x_kill",
                                    "x_element_get", "position", "orientation_set", "rotation_angle", "local_axis",
                                    "x_picked", "position_set"};
  I array = call("a_create", 100);
  part(0);
  for (I bad : kBad) {
    for (const char* name : kRoutines) EXPECT_EQ(call(name, bad, 0, 0, 0, 0), 0) << name << " " << bad;
    for (const char* name : {"vertices_get", "vertices_set", "normals_get", "normals_set"})
      EXPECT_EQ(call(name, bad, array, 0), -1) << name << " " << bad;
    EXPECT_EQ(call("x_clone", bad, e), 0);
    EXPECT_EQ(call("x_clone", 0, bad), 0);
  }
  draw();
  EXPECT_TRUE(near(pixel(320, 240), kRed));
  EXPECT_EQ(call("vertex_pos", e, 1, 0), kUnit);
  EXPECT_EQ(parts().extra_highest, -1);
}

// ---- A brain that deforms a mesh ---------------------------------------------------------------------

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// demo/models: the cloth waves as the brain's formula says, tick by tick, at the
// run's 30 ticks a second, and the picture moves with it.
TEST_F(MeshScene, AFlagBrainWavesTheCloth) {
  std::string source = std::string(ZEPTA_SOURCE_DIR) + "/demo/models/";
  camera(0);
  line(1, project::kMesh, file("flag.x", read_file(source + "flag.x")));
  load_lines(1);
  at(1, 0, 0, 6);
  start();
  compile({"", read_file(source + "flag.brn")});
  ASSERT_EQ(world_->rate, 30);
  part(0);
  ASSERT_EQ(call("vertices", ref(1)), 288);
  std::vector<std::uint8_t> last;
  int moved_pictures = 0;
  for (int tick = 0; tick < 45; ++tick) {
    engine::brain_pass(*world_);
    ASSERT_FALSE(world_->brain_stopped[1]) << "tick " << tick;
    for (int i = 0; i < 288; i += 7) {
      I x = call("vertex_pos", ref(1), i, 0);
      I want = call("sin_512", x / 11 + tick * 3072) * ((x + 1024000) / 8192);
      ASSERT_EQ(call("vertex_pos", ref(1), i, 2), want) << "tick " << tick << " vertex " << i;
    }
    draw();
    std::vector<std::uint8_t> picture(640 * 480 * 4);
    ASSERT_TRUE(scene::read_pixels(r(), 0, 0, 640, 480, picture.data()));
    moved_pictures += !last.empty() && picture != last;
    last = std::move(picture);
  }
  EXPECT_EQ(moved_pictures, 44);
}

}  // namespace
