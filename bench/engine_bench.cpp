// Ticks of 256 elements, each running a brain of about 20 motion calls:
// microseconds per tick (target under 20) and the peak resident memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/workloads.h"
#include "bench/setup.h"
#include "engine/engine.h"
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

}  // namespace
