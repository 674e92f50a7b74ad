// Frame time of the scene renderer offscreen (Mesa): the demo project's scene,
// 256 textured visuals, and the same 256 meshes drawn by a minimal direct
// OpenGL loop in the same process (their ratio is the scene layer's overhead,
// target 1.2 at most); and start-up to the first drawn frame of the demo
// (target under 0.3 s). Each frame ends with a one-pixel read, so the GPU work
// is inside the measured time. Needs ZEPTA_TEST_DATA=<build>/work/data.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/platform.h"
#include "shell/base/memory.h"

namespace {

constexpr int kGrid = 16;  // 16 x 16 = 256 visuals
constexpr std::int32_t kUnit = 512000;

// The data folder as an absolute path without "..": resource paths replace "./".
std::string data_folder() {
  const char* d = std::getenv("ZEPTA_TEST_DATA");
  std::error_code error;
  std::filesystem::path p = d ? std::filesystem::canonical(d, error) : std::filesystem::path();
  return d && !error ? p.string() + "/" : std::string();
}

bool prepare(benchmark::State& state) {
  if (!shell::budget_reserved() && !shell::reserve_budget()) {
    state.SkipWithError("no memory budget");
    return false;
  }
  if (data_folder().empty() || !media::load_lookup_tables(data_folder())) {
    state.SkipWithError("set ZEPTA_TEST_DATA to the generated data folder");
    return false;
  }
  return true;
}

scene::Renderer* offscreen(benchmark::State& state) {
  char error[160] = {};
  scene::Renderer* r = scene::create_offscreen(640, 480, error, sizeof error);
  if (!r) state.SkipWithError(error);
  return r;
}

void finish(scene::Renderer& r) {
  std::uint8_t pixel[4];
  scene::read_pixels(r, 0, 0, 1, 1, pixel);
}

// Share of the target's pixels that are not black: both ways must draw the same picture.
double coverage(scene::Renderer& r) {
  std::vector<std::uint8_t> rgba(640 * 480 * 4);
  if (!scene::read_pixels(r, 0, 0, 640, 480, rgba.data())) return 0;
  int lit = 0;
  for (std::size_t i = 0; i < rgba.size(); i += 4) lit += rgba[i] | rgba[i + 1] | rgba[i + 2] ? 1 : 0;
  return lit / (640.0 * 480.0);
}

// The demo project loaded as the run loop loads it (no brains), its scene started.
struct Demo {
  std::unique_ptr<project::Project> project = std::make_unique<project::Project>();
  std::unique_ptr<project::AspectLoad> load = std::make_unique<project::AspectLoad>();
  std::unique_ptr<engine::World> world = std::make_unique<engine::World>();
  bool start(scene::Renderer& r) {
    std::string data = data_folder(), work = std::filesystem::path(data).parent_path().parent_path().string() + "/";
    project::Host host;
    host.work_folder = shell::Text(work);
    host.data_folder = shell::Text(data);
    world->tables = project::budget_tables();
    project->collision = world->tables.collision;
    if (!project::load_project(*project, host, work + "projects/demo/demo.prj") || project->lines.highest < 1) return false;
    project::AspectLoaders loaders = project::default_aspect_loaders();
    engine::register_scene_loaders(loaders);
    project::load_aspects(loaders, world->tables, *load, project->lines, host.work_folder, false);
    project::build_records({}, world->tables, *load, project->lines);
    world->highest = project->lines.highest;
    engine::begin_run(*world);
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
    engine::scene_end(*world);
    engine::end_run(*world);
  }
};

void BM_DemoFrame(benchmark::State& state) {
  if (!prepare(state)) return;
  scene::Renderer* r = offscreen(state);
  if (!r) return;
  {
    Demo demo;
    if (!demo.start(*r)) {
      state.SkipWithError("the demo project did not load");
    } else {
      for (auto _ : state) {
        engine::render_step(*demo.world);
        finish(*r);
      }
    }
  }
  scene::destroy(r);
}
BENCHMARK(BM_DemoFrame)->Unit(benchmark::kMillisecond);

// The cost of the 2D layers in the demo's frame: /0 with its counter and
// status bar hidden and no text; /1 with them and the text list refilled with
// four lines of numbers every frame (target: /1 within 2 ms of /0).
void BM_DemoFrameLayers(benchmark::State& state) {
  if (!prepare(state)) return;
  scene::Renderer* r = offscreen(state);
  if (!r) return;
  {
    Demo demo;
    if (!demo.start(*r)) {
      state.SkipWithError("the demo project did not load");
    } else {
      bool layers = state.range(0) != 0;
      for (int i = 0; i <= demo.world->highest; ++i) {
        project::ElementRecord& e = demo.world->tables.elements[i];
        if (!layers && (engine::has_tag(e, ".e3d") || engine::has_tag(e, ".f3d"))) e.flags &= ~project::kFlagShown;
      }
      brain::Routine print_num = brain::routine_of(brain::find_keyword("print_num"));
      std::int32_t n = 0;
      for (auto _ : state) {
        engine::brain_pass(*demo.world);  // no brains: empties the text list
        if (layers)
          for (int line = 0; line < 4; ++line) print_num(++n, 2, 20, 20 + line * 20, 0, 0);
        engine::render_step(*demo.world);
        finish(*r);
      }
    }
  }
  scene::destroy(r);
}
BENCHMARK(BM_DemoFrameLayers)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// 256 default visuals (textured cubes) in a grid in front of one camera.
struct Grid {
  std::unique_ptr<project::AspectLoad> load = std::make_unique<project::AspectLoad>();
  std::unique_ptr<engine::World> world = std::make_unique<engine::World>();
  bool start(scene::Renderer& r) {
    world->tables = project::budget_tables();
    std::memset(world->tables.elements, 0, project::kMaxElements * sizeof(project::ElementRecord));
    auto text = [&](const std::string& s) {
      std::byte* at = project::take_arena(world->tables, *load, s.size() + 1);
      std::memcpy(at, s.c_str(), s.size() + 1);
      return static_cast<std::int32_t>(at - world->tables.arena.data()) + 1;
    };
    std::string work = std::filesystem::path(data_folder()).parent_path().parent_path().string() + "/";
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
      e.current_aspect = e.base_aspect = static_cast<std::int32_t>(shell::address32(&a));
    }
    world->highest = project::kMaxElements - 1;
    engine::begin_run(*world);
    engine::SceneSetup setup;
    setup.renderer = &r;
    setup.work_folder = shell::Text(work);
    return engine::scene_start(*world, *load, setup);
  }
  ~Grid() {
    engine::scene_end(*world);
    engine::end_run(*world);
  }
};

void BM_256VisualsScene(benchmark::State& state) {
  if (!prepare(state)) return;
  scene::Renderer* r = offscreen(state);
  if (!r) return;
  {
    Grid grid;
    if (!grid.start(*r)) state.SkipWithError("the scene did not start");
    else
      for (auto _ : state) {
        engine::render_step(*grid.world);
        finish(*r);
      }
    state.counters["coverage"] = coverage(*r);
  }
  scene::destroy(r);
}
BENCHMARK(BM_256VisualsScene)->Unit(benchmark::kMillisecond);

// The same meshes, placements and view through the minimal direct drawer.
void BM_256VisualsDirectGL(benchmark::State& state) {
  if (!prepare(state)) return;
  scene::Renderer* r = offscreen(state);
  if (!r) return;
  std::vector<scene::Vertex> mesh;
  std::string error;
  if (!platform::load_model(std::filesystem::path(data_folder()).parent_path().parent_path().string() + "/xvisuals/default_.x", mesh, error)) {
    state.SkipWithError(error.c_str());
    scene::destroy(r);
    return;
  }
  std::vector<std::uint8_t> rgba(64 * 64 * 4);
  for (int i = 0; i < 64 * 64; ++i) {
    bool on = ((i % 64) / 16 + (i / 64) / 16) % 2;
    rgba[i * 4] = 240, rgba[i * 4 + 1] = on ? 140 : 240, rgba[i * 4 + 2] = on ? 40 : 210, rgba[i * 4 + 3] = 255;
  }
  {
    Grid grid;  // for the same placements
    grid.start(*r);
    engine::sync_scene(*grid.world);
    std::vector<scene::Mat4> models;
    for (int n = 1; n < project::kMaxElements; ++n)
      models.push_back(scene::frame_world(*r, engine::aspect_frame(*grid.world, n)));
    scene::Frame camera = engine::aspect_frame(*grid.world, 0);
    scene::Mat4 view = scene::multiply(scene::scaling({1, 1, -1}), scene::rigid_inverse(scene::frame_world(*r, camera)));
    scene::Mat4 projection = scene::perspective(1, 30, 1, 640.0f / 480.0f);
    engine::render_step(*grid.world);  // leaves the renderer's target bound
    platform::ReferenceDraw* draw = platform::reference_draw_create(mesh, rgba.data(), 64, 64);
    for (auto _ : state) {
      platform::reference_draw(*draw, models, view, projection);
      finish(*r);
    }
    state.counters["coverage"] = coverage(*r);
    platform::reference_draw_destroy(draw);
  }
  scene::destroy(r);
}
BENCHMARK(BM_256VisualsDirectGL)->Unit(benchmark::kMillisecond);

// From nothing to the first drawn frame of the demo: OpenGL context, project,
// aspects with their models and textures, scene start, one render step.
void BM_StartupToFirstDemoFrame(benchmark::State& state) {
  if (!prepare(state)) return;
  for (auto _ : state) {
    scene::Renderer* r = offscreen(state);
    if (!r) return;
    {
      Demo demo;
      if (!demo.start(*r)) {
        state.SkipWithError("the demo project did not load");
      } else {
        engine::render_step(*demo.world);
        finish(*r);
      }
    }
    state.PauseTiming();
    scene::destroy(r);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartupToFirstDemoFrame)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
