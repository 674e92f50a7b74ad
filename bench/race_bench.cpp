// Races and ground for a racing game's tick: 64 racers driving round a loop of
// 32 gates over a 256 x 256 terrain grid; per tick the race step, then each
// racer's ground height under it and its place. Microseconds per tick (target
// under 20).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/setup.h"
#include "engine/engine.h"

namespace {

constexpr int kRacers = 64;
constexpr int kGates = 32;
constexpr double kRadius = 80.0;  // metres: the loop's radius

// A rolling terrain 240 m a side as a 64 x 64 height field of triangles (L).
std::vector<engine::GroundTriangle> terrain_faces() {
  constexpr int kSide = 64;
  constexpr double kCell = 240000.0 / kSide, kHalf = 120000.0;
  auto h = [](double x, double z) { return static_cast<std::int32_t>(4000 * std::sin(x / 23000) * std::cos(z / 31000)); };
  std::vector<engine::GroundTriangle> faces;
  for (int j = 0; j < kSide; ++j)
    for (int i = 0; i < kSide; ++i) {
      auto x0 = static_cast<std::int32_t>(-kHalf + i * kCell), x1 = static_cast<std::int32_t>(-kHalf + (i + 1) * kCell);
      auto z0 = static_cast<std::int32_t>(-kHalf + j * kCell), z1 = static_cast<std::int32_t>(-kHalf + (j + 1) * kCell);
      engine::GroundTriangle a{{x0, h(x0, z0), z0, x0, h(x0, z1), z1, x1, h(x1, z1), z1}, 1};
      engine::GroundTriangle b{{x0, h(x0, z0), z0, x1, h(x1, z1), z1, x1, h(x1, z0), z0}, 2};
      faces.push_back(a), faces.push_back(b);
    }
  return faces;
}

void BM_RaceAndGroundTick(benchmark::State& state) {
  if (const char* why = bench::prepare_engine()) {
    state.SkipWithError(why);
    return;
  }
  auto world = std::make_unique<engine::World>();
  engine::begin_run(*world);
  project::ElementRecord* records = world->tables.elements;
  std::memset(records, 0, (kRacers + 1) * sizeof(project::ElementRecord));
  world->highest = kRacers;

  // Element 0: the ground shape with its 256 x 256 grid.
  auto load = std::make_unique<project::AspectLoad>();
  auto lines = std::make_unique<project::ElementLines>();
  int a = project::take_aspect(world->tables, *load, 0, ".a3d");
  project::LoaderCall call{world->tables, *load, *lines, 0, base::Text("terrain"), false};
  engine::build_terrain_grid(call, world->tables.aspects[a], 256, terrain_faces());
  records[0].current_aspect = static_cast<std::int32_t>(base::address32(&world->tables.aspects[a]));
  engine::ground_height(*world, 0, 0, 0, 0);
  if (!world->ground.grid) {
    state.SkipWithError("no terrain grid");
    return;
  }

  // Gates across the loop, racers spread round it.
  engine::Races& races = world->races;
  for (int k = 0; k < kGates; ++k) {
    double t = 2 * M_PI * k / kGates, c = std::cos(t), s = std::sin(t);
    races.gate[k] = {static_cast<std::int32_t>((kRadius - 10) * 1000 * c), static_cast<std::int32_t>((kRadius - 10) * 1000 * s),
                     static_cast<std::int32_t>((kRadius + 10) * 1000 * c), static_cast<std::int32_t>((kRadius + 10) * 1000 * s)};
  }
  races.gates = kGates;
  for (int i = 0; i < kRacers; ++i) {
    records[i + 1].radius = 1500;
    races.racer[i] = {engine::reference_of(records[i + 1]), 0, 0, 0};
  }
  races.racers = kRacers;

  // Positions of 2,400 ticks at 1 m a tick (a lap of the loop is about 500).
  constexpr int kTicks = 2400;
  std::vector<std::int32_t> path(static_cast<std::size_t>(kTicks) * kRacers * 2);
  for (int f = 0; f < kTicks; ++f)
    for (int i = 0; i < kRacers; ++i) {
      double t = f / kRadius + 2 * M_PI * i / kRacers, r = (kRadius + (i % 8) - 4) * 512000;
      path[(static_cast<std::size_t>(f) * kRacers + i) * 2] = static_cast<std::int32_t>(r * std::cos(t));
      path[(static_cast<std::size_t>(f) * kRacers + i) * 2 + 1] = static_cast<std::int32_t>(r * std::sin(t));
    }

  int tick = 0;
  std::int64_t sum = 0;
  for (auto _ : state) {
    const std::int32_t* at = &path[static_cast<std::size_t>(tick) * kRacers * 2];
    for (int i = 0; i < kRacers; ++i) records[i + 1].position[0] = at[2 * i], records[i + 1].position[2] = at[2 * i + 1];
    tick = (tick + 1) % kTicks;
    engine::advance_racers(*world);
    for (int i = 0; i < kRacers; ++i) {
      const project::ElementRecord& e = records[i + 1];
      sum += engine::ground_height(*world, e.position[0], e.position[1], e.position[2], e.radius);
      sum += engine::race_place(races, engine::reference_of(e));
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["laps"] = races.racer[0].lap;
  state.SetLabel("per tick: race step, 64 ground heights and places");
  engine::end_run(*world);
}
BENCHMARK(BM_RaceAndGroundTick)->Unit(benchmark::kMicrosecond);

}  // namespace
