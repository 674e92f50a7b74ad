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
