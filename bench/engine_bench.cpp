// Ticks of 256 elements, each running a brain of about 20 motion calls:
// microseconds per tick (target under 20) and the peak resident memory; and
// the tick of demo/models's brain, which rewrites a mesh vertex by vertex.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/workloads.h"
#include "bench/setup.h"
#include "engine/engine.h"
#include "engine/render/render.h"
#include "base/memory.h"

namespace {

bool read_brain(void*, std::string_view, std::string& bytes) {
  bytes = bench::kMotionBrain;
  return true;
}

void BM_TickOf256MotionBrains(benchmark::State& state) {
  if (const char* why = bench::prepare_engine()) {
    state.SkipWithError(why);
    return;
  }
  auto world = std::make_unique<engine::World>();
  engine::begin_run(*world);
  std::vector<brain::BrainSource> sources(project::kMaxElements, brain::BrainSource{"e", "motion.brn"});
  brain::CompileOptions options;
  options.read = read_brain;
  auto program = std::make_unique<brain::Program>();
  if (!brain::compile_project(sources, options, *program)) {
    state.SkipWithError("the brain did not compile");
    return;
  }
  auto* records = base::area_as<project::ElementRecord>(base::Area::element_table);
  for (int i = 0; i < project::kMaxElements; ++i) records[i].flags = project::kFlagOn;
  world->program = program.get();
  world->highest = project::kMaxElements - 1;
  for (auto _ : state) engine::brain_pass(*world);
  engine::end_run(*world);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.SetLabel("per tick of 256 elements");
}
BENCHMARK(BM_TickOf256MotionBrains)->Unit(benchmark::kMicrosecond);

bool read_flag_brain(void*, std::string_view, std::string& bytes) {
  std::ifstream in(ZEPTA_SOURCE_DIR "/demo/models/flag.brn", std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  return !bytes.empty();
}

// One element showing demo/models/flag.x (288 vertices) and running flag.brn:
// its brain pass (every vertex read twice and set once through the mesh
// keywords) and the scene synchronisation that takes the edits, on a scene
// that draws nothing. Target: under 1 ms a tick.
void BM_FlagBrainTick(benchmark::State& state) {
  if (const char* why = bench::prepare_engine()) {
    state.SkipWithError(why);
    return;
  }
  auto world = std::make_unique<engine::World>();
  world->tables = project::budget_tables();
  std::memset(world->tables.elements, 0, project::kMaxElements * sizeof(project::ElementRecord));
  engine::begin_run(*world);
  auto lines = std::make_unique<project::ElementLines>();
  lines->line[0] = project::default_camera_line("");
  project::set_line_field(*lines, 0, project::kFieldType, std::to_string(project::kMesh));
  project::set_line_field(*lines, 0, project::kFieldAspect, ZEPTA_SOURCE_DIR "/demo/models/flag.x");
  lines->highest = 0;
  project::AspectLoaders loaders = project::default_aspect_loaders();
  engine::register_scene_loaders(loaders);
  auto load = std::make_unique<project::AspectLoad>();
  project::load_aspects(loaders, world->tables, *load, *lines, "", false);
  project::ElementRecord& flag = world->tables.elements[0];
  flag.flags = project::kFlagOn | project::kFlagShown;
  flag.scale_x = flag.scale_y = flag.scale_z = 1000;
  flag.current_aspect = flag.base_aspect =
      static_cast<std::int32_t>(base::address32(&world->tables.aspects[load->first[0]]));
  world->highest = 0;
  scene::Renderer* renderer = scene::create_without_gl();
  engine::SceneSetup setup;
  setup.renderer = renderer;
  std::vector<brain::BrainSource> sources(1, brain::BrainSource{"flag", "flag.brn"});
  brain::CompileOptions options;
  options.read = read_flag_brain;
  auto program = std::make_unique<brain::Program>();
  if (!engine::scene_start(*world, *load, setup) || !brain::compile_project(sources, options, *program)) {
    state.SkipWithError("the flag did not load or its brain did not compile");
  } else {
    world->program = program.get();
    for (auto _ : state) {
      engine::brain_pass(*world);
      engine::sync_scene(*world);
    }
    state.SetLabel("per tick, 288 vertices");
  }
  engine::scene_end(*world);
  engine::end_run(*world);
  scene::destroy(renderer);
}
BENCHMARK(BM_FlagBrainTick)->Unit(benchmark::kMicrosecond);

}  // namespace
