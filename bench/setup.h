// Shared by the engine benchmarks: the memory budget and the lookup tables.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

#include "media/media.h"
#include "project/project.h"
#include "base/memory.h"

namespace bench {

// Reserves the budget and loads the tables from ZEPTA_TEST_DATA; the reason
// when that fails, else null.
inline const char* prepare_engine() {
  if (!base::budget_reserved() && !base::reserve_budget()) return "no memory budget";
  const char* data = std::getenv("ZEPTA_TEST_DATA");
  if (!data || !media::load_lookup_tables(std::string(data) + "/"))
    return "set ZEPTA_TEST_DATA to the generated data folder";
  return nullptr;
}

// The collision workload: all 256 records on a 16 x 16 grid 10 scene units
// apart, every eighth element beside its neighbour, a quarter of them with box
// collisions.
inline void place_collision_grid(project::ElementRecord* records) {
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
}

}  // namespace bench
