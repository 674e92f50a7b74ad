// Frame time of the scene renderer offscreen (Mesa): the demo project's scene,
// 256 textured visuals, and the same 256 meshes drawn by a minimal direct
// OpenGL loop in the same process (their ratio is the scene layer's overhead,
// target 1.2 at most); and start-up to the first drawn frame of the demo
// (target under 0.3 s). Each frame ends with a one-pixel read, so the GPU work
// is inside the measured time. Needs ZEPTA_TEST_DATA=<build>/work/data.
#include <benchmark/benchmark.h>

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
