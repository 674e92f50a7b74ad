// The collision pass for 256 elements with every pair declared (32,640 pairs):
// most are far apart, a few touch. Microseconds per pass (target under 50).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench/setup.h"
#include "engine/engine.h"
#include "shell/base/memory.h"

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
  // A 16 x 16 grid 10 scene units apart; every eighth element sits beside its
  // neighbour, and a quarter of them use their boxes.
  auto* records = world->tables.elements;
  for (int i = 0; i < project::kMaxElements; ++i) {
    project::ElementRecord& r = records[i];
    std::memset(&r, 0, sizeof r);
    int x = (i % 16) * 10000, z = (i / 16) * 10000;
    if (i % 8 == 1) x = ((i - 1) % 16) * 10000 + 700;
    r.position[0] = x * 512;
    r.position[2] = z * 512;
    r.rotation[1] = i * 1000;
    r.flags = project::kFlagOn | project::kFlagCollisions | (i % 4 == 0 ? project::kFlagBoxCollisions : 0);
    r.collision_code = 1 << (i % 32);
    const std::int32_t box[6] = {500, 500, 500, -500, -500, -500};
    std::memcpy(&r.display_area[0], box, sizeof box);
  }
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

}  // namespace
