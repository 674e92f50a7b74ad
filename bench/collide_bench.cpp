// The collision pass for 256 elements with every pair declared (32,640 pairs):
// most are far apart, a few touch. Microseconds per pass (target under 50).
// And the polygon-level test of a moving 12-triangle box against a
// 10,000-triangle ground, alone and as the brain routine `h_poly_collision`
// between two elements. Microseconds per call (target under 50).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench/poly_scene.h"
#include "bench/poly_workload.h"
#include "bench/setup.h"
#include "engine/engine.h"
#include "base/memory.h"

namespace {

void BM_CollisionPassAllPairs(benchmark::State& state) {
  if (const char* why = bench::prepare_engine()) {
    state.SkipWithError(why);
    return;
  }
  auto world = std::make_unique<engine::World>();
  engine::begin_run(*world);
  world->highest = project::kMaxElements - 1;
  std::uint8_t* matrix = world->tables.collision;
  std::memset(matrix, 0, project::kCollisionBytes);
  for (int i = 0; i < project::kMaxElements; ++i)
    for (int j = i + 1; j < project::kMaxElements; ++j) matrix[i * project::kMaxElements + j] = 1 + (i + j) % 11;
  bench::place_collision_grid(world->tables.elements);
  engine::collision_setup(*world);
  int contacts = 0;
  for (auto _ : state) {
    engine::collision_pass(*world);
    contacts = world->collisions.touched_count;
    benchmark::DoNotOptimize(contacts);
  }
  engine::end_run(*world);
  state.counters["pairs"] = world->collisions.count;
  state.counters["contacts"] = contacts;
  state.SetLabel("per pass of 32,640 pairs");
}
BENCHMARK(BM_CollisionPassAllPairs)->Unit(benchmark::kMicrosecond);

void BM_PolyCollideBoxOnGround(benchmark::State& state) {
  const bench::PolyWorkload w = bench::poly_workload();
  const std::size_t n = w.places.size();
  std::size_t k = 0;
  std::int64_t hits = 0;
  engine::PolyContact contact;
  for (auto _ : state) {
    hits += engine::poly_collide(w.ground, scene::Mat4{}, w.box, w.places[k], contact);
    benchmark::DoNotOptimize(contact);
    if (++k == n) k = 0;
  }
  state.counters["hit_ratio"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
  state.SetLabel("per call, 12 against 10,000 triangles");
}
BENCHMARK(BM_PolyCollideBoxOnGround)->Unit(benchmark::kMicrosecond);

void BM_PolyCollisionRoutine(benchmark::State& state) {
  bench::PolyScene scene;
  if (!scene.start()) {
    state.SkipWithError("no scene: set ZEPTA_TEST_DATA to the generated data folder");
    return;
  }
  constexpr int kPositions = 4096;
  int k = 0;
  std::int64_t hits = 0;
  for (auto _ : state) {
    scene.move_box(k, kPositions);
    hits += scene.test() != 0;
    if (++k == kPositions) k = 0;
  }
  state.counters["hit_ratio"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
  state.SetLabel("per call, element of 12 against element of 10,000 triangles");
}
BENCHMARK(BM_PolyCollisionRoutine)->Unit(benchmark::kMicrosecond);

}  // namespace
