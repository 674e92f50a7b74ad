// Brain compiler speed: compiling a 256-brain project of 200 lines each, and
// the cost of one element's motion brain per tick.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/workloads.h"
#include "brain/brain.h"
#include "base/memory.h"

namespace {

using bench::generated_brain;
using bench::kBrains;
using bench::kLinesPerBrain;

struct Sources {
  std::map<std::string, std::string> files;
  std::vector<std::string> paths;
  std::vector<brain::BrainSource> list;
  static bool read(void* self, std::string_view path, std::string& bytes) {
    auto& files = static_cast<Sources*>(self)->files;
    auto it = files.find(std::string(path));
    if (it == files.end()) return false;
    bytes = it->second;
    return true;
  }
};

void BM_CompileProject(benchmark::State& state) {
  if (!base::reserve_budget()) return state.SkipWithError("no memory budget");
  Sources sources;
  for (int i = 0; i < kBrains; ++i) {
    sources.paths.push_back("brains/" + std::to_string(i) + ".brn");
    sources.files[sources.paths.back()] = generated_brain(i);
  }
  for (const std::string& p : sources.paths) sources.list.push_back({"element", p});
  brain::CompileOptions options;
  options.read = Sources::read;
  options.read_context = &sources;
  auto program = std::make_unique<brain::Program>();
  for (auto _ : state) {
    std::span<std::byte> literals = base::area(base::Area::data_arena);
    options.literals = &literals;
    bool ok = brain::compile_project(sources.list, options, *program);
    if (!ok) return state.SkipWithError("a generated brain failed to compile");
  }
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(kBrains * kLinesPerBrain) * state.iterations(),
                                                 benchmark::Counter::kIsRate);
  state.counters["code_bytes"] = program->code_bytes;
}
BENCHMARK(BM_CompileProject)->Unit(benchmark::kMillisecond);

// A typical motion brain: about 20 keyword calls (placeholder routines).
constexpr const char* kMotionBrain =
    "var speed\r\nvar turn\r\nvar height\r\n"
    "if keyboard(72)\r\nspeed = limit(speed + 2000, -40000, 40000)\r\nendif\r\n"
    "if keyboard(80)\r\nspeed = limit(speed - 2000, -40000, 40000)\r\nendif\r\n"
    "if keyboard(75)\r\nturn = turn - 2dg\r\nendif\r\n"
    "if keyboard(77)\r\nturn = turn + 2dg\r\nendif\r\n"
    "rotation_y_set(element, wrap(rotation_y(element) + turn, 0, 184319))\r\n"
    "velocity_x_set(element, speed * sin_512(rotation_y(element)) / 512)\r\n"
    "velocity_z_set(element, speed * cos_512(rotation_y(element)) / 512)\r\n"
    "height = ground_level(element)\r\n"
    "if position_y(element) < height\r\nposition_y_set(element, height)\r\nendif\r\n"
    "turn = turn * 7 / 8\r\n"
    "if collision(element, first_element())\r\nspeed = -speed / 2\r\nendif\r\n";

void BM_MotionBrainPerElement(benchmark::State& state) {
  if (!base::reserve_budget()) return state.SkipWithError("no memory budget");
  Sources sources;
  sources.files["motion.brn"] = kMotionBrain;
  std::vector<brain::BrainSource> list(kBrains, brain::BrainSource{"element", "motion.brn"});
  brain::CompileOptions options;
  options.read = Sources::read;
  options.read_context = &sources;
  auto program = std::make_unique<brain::Program>();
  if (!brain::compile_project(list, options, *program)) return state.SkipWithError("the motion brain failed");
  auto* records = base::area(base::Area::element_table).data();
  for (auto _ : state) {
    for (int i = 0; i < kBrains; ++i)
      benchmark::DoNotOptimize(brain::run(program->entry[i], base::address32(records + 1024 * i)));
  }
  state.SetItemsProcessed(state.iterations() * kBrains);
  state.counters["ns/element"] = benchmark::Counter(static_cast<double>(state.iterations() * kBrains),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                                                    benchmark::Counter::kIs1000);
}
BENCHMARK(BM_MotionBrainPerElement);

}  // namespace
