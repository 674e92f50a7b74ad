// The fixed memory budget: every large work area, reserved once at start-up in
// one region below 2 GiB so that record words and brains can hold its addresses
// as 31-bit numbers. Nothing in the engine grows these areas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace base {

// The region sits at a fixed address so that saved element records, which hold
// raw addresses, stay valid from one run to the next.
inline constexpr std::uintptr_t kBudgetAddress = 0x20000000;  // 512 MiB

enum class Area : int {
  software_screen,   // 8-bit drawing surface, up to 1024 x 768, then its row table
  temp_strings,      // temporary counted strings, taken from the top down
  data_arena,        // aspect data of a run, string literals of brains
  element_table,     // 256 element records of 1,024 bytes
  aspect_table,      // 4,096 aspect records of 64 bytes
  collision_matrix,  // 256 x 256 bytes
  brain_data,        // first kGlobalsBytes: the 2,048 global brain variables
  sine_table,        // "sinus.bin"
  large_sine_table,  // "sinusbig.bin"
  atan_table,        // "atan.bin"
  random_table,      // "random.bin"
  panel_image,       // "panels.pcx" as loaded
  project_buffer,    // whole ".prj" text while its brains are extracted
  track_buffer,      // track recording, 720 bytes per second
  font_glyphs,       // glyph bitmap of the loaded font
  image_work,        // a PCX file read whole
  brain_code,        // compiled brains and the call thunks
  handle_heap,       // string and array handles of brains
  ground_maps,       // ground maps (".m3d" blocks) and terrain grids of a run
  count
};

// The global brain variables at the start of Area::brain_data: 2,048 words.
inline constexpr std::size_t kGlobalsBytes = 8192;

struct AreaInfo {
  const char* name;
  std::size_t size;  // bytes
};

inline constexpr AreaInfo kAreas[] = {
    {"software screen", 1024 * 768 + 768 * 4},
    {"temporary strings", 2621440},
    {"data arena", 3145728},
    {"element table", 262144},
    {"aspect table", 262144},
    {"collision matrix", 65536},
    {"brain data", 737280},
    {"sine table", 115200},
    {"large sine table", 14400},
    {"arctangent table", 2880},
    {"random table", 2000},
    {"panel image", 16384},
    {"project file buffer", 1114112},
    {"track recording buffer", 524288},
    {"font glyphs", 6000},
    {"image work buffer", 1048576},
    {"brain code", 4 << 20},
    {"handle heap", 16 << 20},
    {"ground maps", 16 << 20},
};
static_assert(std::size(kAreas) == static_cast<std::size_t>(Area::count), "one size per area");

// Bytes of an area, for the tables that fill one to state that they fit.
constexpr std::size_t area_size(Area which) { return kAreas[static_cast<int>(which)].size; }
static_assert(kGlobalsBytes <= area_size(Area::brain_data));

namespace detail {

constexpr std::size_t kPage = 4096;
constexpr std::size_t align_page(std::size_t n) { return (n + kPage - 1) & ~(kPage - 1); }

struct Layout {
  std::size_t offset[static_cast<int>(Area::count) + 1];
};

constexpr Layout make_layout() {
  Layout l{};
  std::size_t at = 0;
  for (int i = 0; i < static_cast<int>(Area::count); ++i) {
    l.offset[i] = at;
    at += align_page(kAreas[i].size);
  }
  l.offset[static_cast<int>(Area::count)] = at;
  return l;
}

inline constexpr Layout kLayout = make_layout();
inline constexpr std::size_t kBudgetBytes = kLayout.offset[static_cast<int>(Area::count)];
static_assert(kBudgetAddress + kBudgetBytes < 0x80000000u, "the budget must end below 2 GiB");

extern std::byte* budget_base;  // null until reserve_budget()

}  // namespace detail

// Reserves the region and zeroes it; false (with a report) when it can't be had.
bool reserve_budget();
// Frees the region; every span handed out becomes invalid.
void release_budget();
inline bool budget_reserved() { return detail::budget_base != nullptr; }
// The area's bytes; empty before reserve_budget(). Cheap: runtime routines call it.
inline std::span<std::byte> area(Area which) {
  if (!detail::budget_base) return {};
  int i = static_cast<int>(which);
  return {detail::budget_base + detail::kLayout.offset[i], area_size(which)};
}
template <typename T>
T* area_as(Area which) {
  return reinterpret_cast<T*>(area(which).data());
}
// True when [p, p + bytes) lies inside the region.
bool in_budget(const void* p, std::size_t bytes);
// The 32-bit address a record word or a brain holds for p (inside the region).
inline std::uint32_t address32(const void* p) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

}  // namespace base
