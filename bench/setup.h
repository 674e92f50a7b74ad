// Shared by the engine benchmarks: the memory budget and the lookup tables.
#pragma once

#include <cstdlib>
#include <string>

#include "media/media.h"
#include "shell/base/memory.h"

namespace bench {

// Reserves the budget and loads the tables from ZEPTA_TEST_DATA; the reason
// when that fails, else null.
inline const char* prepare_engine() {
  if (!shell::budget_reserved() && !shell::reserve_budget()) return "no memory budget";
  const char* data = std::getenv("ZEPTA_TEST_DATA");
  if (!data || !media::load_lookup_tables(std::string(data) + "/"))
    return "set ZEPTA_TEST_DATA to the generated data folder";
  return nullptr;
}

}  // namespace bench
