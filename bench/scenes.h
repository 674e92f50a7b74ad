// Scenes shared by the rendering benchmarks and the summary table: the demo
// project loaded as the run loop loads it, 256 textured visuals in a grid, and
// the same grid drawn by the minimal direct-OpenGL drawer. Needs
// ZEPTA_TEST_DATA=<build>/work/data.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/render/render.h"
#include "platform/platform.h"
#include "platform/reference_draw.h"
#include "base/memory.h"

namespace bench {

inline constexpr int kGrid = 16;  // 16 x 16 = 256 visuals
inline constexpr std::int32_t kUnit = 512000;
inline constexpr int kWidth = 640, kHeight = 480;

// The data folder as an absolute path without "..", ending in "/" (resource
// paths replace "./"); empty when ZEPTA_TEST_DATA is not set.
inline std::string data_folder() {
  const char* d = std::getenv("ZEPTA_TEST_DATA");
  std::error_code error;
  std::filesystem::path p = d ? std::filesystem::canonical(d, error) : std::filesystem::path();
  return d && !error ? p.string() + "/" : std::string();
}
// The working folder above the data folder, ending in "/".
inline std::string work_folder() {
  return std::filesystem::path(data_folder()).parent_path().parent_path().string() + "/";
}

// Reserves the budget and loads the tables; the reason when that fails, else null.
inline const char* prepare_scenes() {
  if (!base::budget_reserved() && !base::reserve_budget()) return "no memory budget";
  if (data_folder().empty() || !media::load_lookup_tables(data_folder()))
    return "set ZEPTA_TEST_DATA to the generated data folder";
  return nullptr;
}

// Ends a frame with a one-pixel read, so the renderer's work is inside the time.
inline void finish(scene::Renderer& r) {
  std::uint8_t pixel[4];
  scene::read_pixels(r, 0, 0, 1, 1, pixel);
}

inline std::vector<std::uint8_t> picture(scene::Renderer& r) {
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(kWidth) * kHeight * 4);
  if (!scene::read_pixels(r, 0, 0, kWidth, kHeight, rgba.data())) rgba.clear();
  return rgba;
}

// Share of pixels whose colour differs by more than 2 in a channel (1 when the sizes differ).
inline double differing(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1;
  std::size_t count = 0;
  for (std::size_t i = 0; i < a.size(); i += 4)
    for (int k = 0; k < 3; ++k)
      if (std::abs(a[i + k] - b[i + k]) > 2) {
        ++count;
        break;
      }
  return static_cast<double>(count) / (static_cast<double>(a.size()) / 4);
}

// The demo project loaded as the run loop loads it (no brains), its scene started.
struct Demo {
  std::unique_ptr<project::Project> project = std::make_unique<project::Project>();
  std::unique_ptr<project::AspectLoad> load = std::make_unique<project::AspectLoad>();
  std::unique_ptr<engine::World> world = std::make_unique<engine::World>();
  bool started = false;
  bool start(scene::Renderer& r) {
    std::string data = data_folder(), work = work_folder();
    project::Host host;
    host.work_folder = base::Text(work);
    host.data_folder = base::Text(data);
    world->tables = project::budget_tables();
    project->collision = world->tables.collision;
    if (!project::load_project(*project, host, work + "projects/demo/demo.prj") || project->lines.highest < 1) return false;
    project::AspectLoaders loaders = project::default_aspect_loaders();
    engine::register_scene_loaders(loaders);
    project::load_aspects(loaders, world->tables, *load, project->lines, host.work_folder, false);
    project::build_records({}, world->tables, *load, project->lines);
    world->highest = project->lines.highest;
    engine::begin_run(*world);
    started = true;
    engine::SceneSetup setup;
    setup.renderer = &r;
    setup.work_folder = host.work_folder;
    setup.data_folder = host.data_folder;
    setup.settings = project->settings;
    setup.background_image = project->background;
    if (!engine::scene_start(*world, *load, setup)) return false;
    // As the demo's camera brain does.
    for (const char* name : {"background3d_set", "fogeffect_set"}) brain::routine_of(brain::find_keyword(name))(1, 0, 0, 0, 0, 0);
    return true;
  }
  ~Demo() {
    if (!started) return;
    engine::scene_end(*world);
    engine::end_run(*world);
  }
};

// 256 default visuals (textured cubes) in a grid in front of one camera, under
// the default lights of a project without lights.
struct Grid {
  std::unique_ptr<project::AspectLoad> load = std::make_unique<project::AspectLoad>();
  std::unique_ptr<engine::World> world = std::make_unique<engine::World>();
  bool started = false;
  bool start(scene::Renderer& r) {
    world->tables = project::budget_tables();
    std::memset(world->tables.elements, 0, project::kMaxElements * sizeof(project::ElementRecord));
    auto text = [&](const std::string& s) {
      std::byte* at = project::take_arena(world->tables, *load, s.size() + 1);
      std::memcpy(at, s.c_str(), s.size() + 1);
      return static_cast<std::int32_t>(at - world->tables.arena.data()) + 1;
    };
    std::string work = work_folder();
    for (int i = 0; i < project::kMaxElements; ++i) {
      project::ElementRecord& e = world->tables.elements[i];
      e.flags = project::kFlagOn | project::kFlagShown;
      e.scale_x = e.scale_y = e.scale_z = 1000;
      int n = project::take_aspect(world->tables, *load, i, i == 0 ? ".03d" : ".v3d");
      project::AspectRecord& a = world->tables.aspects[n];
      if (i == 0) {
        a.word[0] = -240;
        e.display_area[2] = 639, e.display_area[3] = 479;
        e.position[1] = 8 * kUnit, e.position[2] = -4 * kUnit;
        e.rotation[0] = 30 * 512;
      } else {
        a.word[engine::kVisualModel] = text(work + "xvisuals/default_.x");
        a.word[engine::kVisualTexture] = text(work + "xvisuals/default_.bmp");
        a.word[engine::kVisualColour] = 0xFFFFFF;
        a.word[engine::kVisualQuality] = 3;
        e.position[0] = ((i % kGrid) - kGrid / 2) * 3 * kUnit / 2;
        e.position[2] = (i / kGrid) * 3 * kUnit / 2;
        e.rotation[1] = i * 4000;
      }
      e.current_aspect = e.base_aspect = static_cast<std::int32_t>(base::address32(&a));
    }
    world->highest = project::kMaxElements - 1;
    engine::begin_run(*world);
    started = true;
    engine::SceneSetup setup;
    setup.renderer = &r;
    setup.work_folder = base::Text(work);
    return engine::scene_start(*world, *load, setup);
  }
  ~Grid() {
    if (!started) return;
    engine::scene_end(*world);
    engine::end_run(*world);
  }
};

// An 8-bit uncompressed BMP as RGBA rows from the top; false when it is not one.
inline bool read_bmp8(const std::string& path, std::vector<std::uint8_t>& rgba, int& width, int& height) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto le32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(f[at] | f[at + 1] << 8 | f[at + 2] << 16 | f[at + 3] << 24);
  };
  if (f.size() < 54 + 1024 || f[0] != 'B' || f[1] != 'M' || (f[28] | f[29] << 8) != 8 || le32(30) != 0) return false;
  std::uint32_t offset = le32(10), header = le32(14);
  width = static_cast<int>(le32(18)), height = static_cast<int>(le32(22));
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096 || header > 1024) return false;
  std::size_t row = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
  if (offset > f.size() || row * height > f.size() - offset || 14 + header + 1024 > f.size()) return false;
  rgba.resize(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::size_t palette = 14 + header + 4 * f[offset + row * (height - 1 - y) + x];
      std::uint8_t* o = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
      o[0] = f[palette + 2], o[1] = f[palette + 1], o[2] = f[palette], o[3] = 255;
    }
  return true;
}

// The grid's meshes, placements, view and lights for the direct-OpenGL drawer.
struct Reference {
  platform::ReferenceDraw* draw = nullptr;
  std::vector<scene::Mat4> models;
  scene::Mat4 view, projection;
  platform::ReferenceLight light;
  std::string error;
  // After grid.start(r) and one render step.
  bool start(scene::Renderer& r, Grid& grid) {
    std::vector<scene::Vertex> mesh;
    std::vector<std::uint8_t> rgba;
    int width = 0, height = 0;
    if (!platform::load_model(work_folder() + "xvisuals/default_.x", mesh, error)) return false;
    if (!read_bmp8(work_folder() + "xvisuals/default_.bmp", rgba, width, height)) {
      error = "xvisuals/default_.bmp is not an 8-bit BMP";
      return false;
    }
    scene::Frame camera = engine::aspect_frame(*grid.world, 0);
    view = scene::multiply(scene::scaling({1, 1, -1}), scene::rigid_inverse(scene::frame_world(r, camera)));
    for (int n = 1; n < project::kMaxElements; ++n)
      models.push_back(scene::frame_world(r, engine::aspect_frame(*grid.world, n)));
    // Front to back, as the scene layer sorts the main scene (a stable sort keeps ties in order).
    auto depth = [&](const scene::Mat4& m) { return -scene::transform_point(scene::multiply(view, m), {}).z; };
    std::stable_sort(models.begin(), models.end(),
                     [&](const scene::Mat4& a, const scene::Mat4& b) { return depth(a) < depth(b); });
    // The camera's projection value -240 on a 640 x 480 viewport: field 240 / 240 at front 1.
    projection = scene::perspective(1, 30, 1, static_cast<float>(kWidth) / kHeight);
    // The default lights of a project without lights (engine/render/render.cpp).
    light.ambient = {0.35f, 0.35f, 0.35f};
    light.colour = {0.8f, 0.8f, 0.8f};
    light.direction = scene::normalise(scene::transform_direction(view, scene::normalise(scene::Vec3{0.3f, -0.8f, 0.5f})));
    draw = platform::reference_draw_create(mesh, rgba.data(), width, height);
    return draw != nullptr;
  }
  void frame() { platform::reference_draw(*draw, models, view, projection, light); }
  ~Reference() { platform::reference_draw_destroy(draw); }
};

}  // namespace bench
