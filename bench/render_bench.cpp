// Frame time of the scene renderer offscreen (Mesa): the demo project's scene,
// 256 textured visuals, and the same 256 meshes drawn by a minimal direct
// OpenGL loop in the same process (their ratio is the scene layer's overhead,
// target 1.2 at most); and start-up to the first drawn frame of the demo
// (target under 0.3 s); and a deforming mesh whose vertices are all rewritten
// every tick. Each frame ends with a one-pixel read, so the GPU work is inside
// the measured time. Needs ZEPTA_TEST_DATA=<build>/work/data (but the last).
#include <benchmark/benchmark.h>

#include <cmath>

#include "bench/scenes.h"

namespace {

bool prepare(benchmark::State& state) {
  const char* why = bench::prepare_scenes();
  if (why) state.SkipWithError(why);
  return !why;
}

scene::Renderer* offscreen(benchmark::State& state) {
  char error[160] = {};
  scene::Renderer* r = scene::create_offscreen(bench::kWidth, bench::kHeight, error, sizeof error);
  if (!r) state.SkipWithError(error);
  return r;
}

void BM_DemoFrame(benchmark::State& state) {
  if (!prepare(state)) return;
  scene::Renderer* r = offscreen(state);
  if (!r) return;
  {
    bench::Demo demo;
    if (!demo.start(*r)) {
      state.SkipWithError("the demo project did not load");
    } else {
      for (auto _ : state) {
        engine::render_step(*demo.world);
        bench::finish(*r);
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
    bench::Demo demo;
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
        bench::finish(*r);
      }
    }
  }
  scene::destroy(r);
}
BENCHMARK(BM_DemoFrameLayers)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_256VisualsScene(benchmark::State& state) {
  if (!prepare(state)) return;
  scene::Renderer* r = offscreen(state);
  if (!r) return;
  {
    bench::Grid grid;
    if (!grid.start(*r)) state.SkipWithError("the scene did not start");
    else
      for (auto _ : state) {
        engine::render_step(*grid.world);
        bench::finish(*r);
      }
  }
  scene::destroy(r);
}
BENCHMARK(BM_256VisualsScene)->Unit(benchmark::kMillisecond);

// The same meshes, placements, texture, lights and view through the minimal
// direct drawer; "differing" is the share of pixels unlike the scene layer's
// picture (both must draw the same picture for the ratio to mean anything).
void BM_256VisualsDirectGL(benchmark::State& state) {
  if (!prepare(state)) return;
  scene::Renderer* r = offscreen(state);
  if (!r) return;
  {
    bench::Grid grid;
    bench::Reference reference;
    if (!grid.start(*r)) {
      state.SkipWithError("the scene did not start");
    } else {
      engine::render_step(*grid.world);  // leaves the renderer's target bound
      std::vector<std::uint8_t> layer = bench::picture(*r);
      if (!reference.start(*r, grid)) {
        state.SkipWithError(reference.error.c_str());
      } else {
        for (auto _ : state) {
          reference.frame();
          bench::finish(*r);
        }
        state.counters["differing"] = bench::differing(layer, bench::picture(*r));
      }
    }
  }
  scene::destroy(r);
}
BENCHMARK(BM_256VisualsDirectGL)->Unit(benchmark::kMillisecond);

// A deforming mesh of 5,000 triangles (a 50 x 50 grid of quads filling the
// view) drawn each tick: /0 drawn only, /1 with all 15,000 vertices rewritten
// (a wave) and uploaded first, as a brain's vertices_set does every tick. The
// difference is the cost of the rewrite; no data folder needed.
void BM_DeformingMesh(benchmark::State& state) {
  scene::Renderer* r = offscreen(state);
  if (!r) return;
  constexpr int kSide = 50;
  std::vector<scene::Vertex> grid(kSide * kSide * 6);
  for (int row = 0; row < kSide; ++row)
    for (int column = 0; column < kSide; ++column) {
      scene::Vertex quad[6];
      scene::build_quad(quad, 0.08f, 0.08f);
      for (scene::Vertex& v : quad) v.position = scene::add(v.position, {(column - kSide / 2) * 0.08f, (row - kSide / 2) * 0.08f, 0});
      std::copy(quad, quad + 6, grid.begin() + (row * kSide + column) * 6);
    }
  scene::Frame root = scene::frame_create(*r, {});
  scene::Frame camera = scene::frame_create(*r, root);
  scene::Frame model = scene::frame_create(*r, root);
  scene::frame_set_position(*r, model, {}, {0, 0, 4});
  scene::frame_add_light(*r, root, scene::light_create(*r, {scene::LightKind::directional}));
  scene::FaceGroup group{0, static_cast<int>(grid.size()), scene::material_create(*r, {}), {}, scene::Quality::gouraud};
  scene::Mesh mesh = scene::mesh_create(*r, grid, {&group, 1});
  scene::frame_add_mesh(*r, model, mesh);
  scene::Viewport view = scene::viewport_create(*r, camera, 0, 0, bench::kWidth, bench::kHeight);
  bool rewrite = state.range(0) != 0;
  float phase = 0;
  for (auto _ : state) {
    if (rewrite) {
      phase += 0.1f;
      for (scene::Vertex& v : grid) v.position.z = 0.1f * std::sin(phase + v.position.x * 4);
      scene::mesh_update_vertices(*r, mesh, 0, grid);
    }
    scene::viewport_clear(*r, view, scene::kClearDepth | scene::kClearColour);
    scene::render(*r, view, root);
    bench::finish(*r);
  }
  scene::destroy(r);
}
BENCHMARK(BM_DeformingMesh)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// From nothing to the first drawn frame of the demo: OpenGL context, project,
// aspects with their models and textures, scene start, one render step.
void BM_StartupToFirstDemoFrame(benchmark::State& state) {
  if (!prepare(state)) return;
  for (auto _ : state) {
    scene::Renderer* r = offscreen(state);
    if (!r) return;
    {
      bench::Demo demo;
      if (!demo.start(*r)) {
        state.SkipWithError("the demo project did not load");
      } else {
        engine::render_step(*demo.world);
        bench::finish(*r);
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
