// Lookup tables: loading, table trigonometry, square root, wrap, random draw.
#include <cstring>
#include <string>
#include <utility>

#include "media/media.h"
#include "base/bytes.h"
#include "base/files.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/text.h"

namespace media {

namespace {

struct TableFile {
  const char* name;
  base::Area area;
  int bytes;
};

constexpr TableFile kTableFiles[] = {
    {"sinus.bin", base::Area::sine_table, kSineBytes},
    {"sinusbig.bin", base::Area::large_sine_table, kLargeSineBytes},
    {"atan.bin", base::Area::atan_table, kAtanBytes},
    {"random.bin", base::Area::random_table, kRandomBytes},
};

constexpr bool files_fill_their_areas() {
  for (const TableFile& f : kTableFiles)
    if (static_cast<std::size_t>(f.bytes) != base::area_size(f.area)) return false;
  return true;
}
static_assert(files_fill_their_areas(), "each table file is its area's size");

// Little-endian 32-bit word at byte offset i of an area; 0 outside it.
int32_t word_at(base::Area which, std::size_t i) {
  auto a = base::area(which);
  if (a.size() < 4 || i > a.size() - 4) return 0;
  return base::le32_signed(a.data() + i);
}

// round(16 sqrt(i)) limited to 255, in integers: n = floor(sqrt(256 i)), then
// n + 1 when (n + 0.5)^2 <= 256 i.
constexpr std::array<uint8_t, 256> make_sqrt_table() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    int v = 256 * i, n = 0;
    while ((n + 1) * (n + 1) <= v) ++n;
    if ((2 * n + 1) * (2 * n + 1) <= 4 * v) ++n;
    t[i] = static_cast<uint8_t>(n > 255 ? 255 : n);
  }
  return t;
}

constexpr std::array<uint8_t, 256> kSqrtTable = make_sqrt_table();
static_assert(kSqrtTable[100] == 160 && kSqrtTable[255] == 255 && kSqrtTable[1] == 16);

int sine_byte_at(std::size_t i) {
  auto a = base::area(base::Area::sine_table);
  return i < a.size() ? static_cast<int8_t>(a[i]) : 0;
}

}  // namespace

bool load_lookup_tables(std::string_view data_folder) {
  if (!base::budget_reserved()) {
    base::report("media", "lookup tables: the memory budget is not reserved");
    return false;
  }
  bool all = true;
  for (const TableFile& t : kTableFiles) {
    std::string path(data_folder);
    if (!path.empty() && path.back() != '/') path += '/';
    path += t.name;
    auto block = base::area(t.area).first(static_cast<std::size_t>(t.bytes));
    long got = base::read_file_at(path, 0, block);
    if (got < 0) got = 0;
    if (got < t.bytes) {
      std::memset(block.data() + got, 0, block.size() - static_cast<std::size_t>(got));
      base::report("media", "\"%s\" %s: table filled with zeros from byte %ld", path.c_str(),
                    got == 0 ? "missing or empty" : "short", got);
      all = false;
    }
  }
  return all;
}

int32_t normalise_angle(int32_t a) {
  if (a < 0) return a % 184319 + 184319;
  if (a < kFullTurn) return a;
  return a % 184319;
}

int32_t table_sin(int32_t angle) {
  return word_at(base::Area::large_sine_table, static_cast<std::size_t>(normalise_angle(angle) >> 6) * 4);
}

int32_t table_cos(int32_t angle) {
  return word_at(base::Area::large_sine_table, static_cast<std::size_t>((normalise_angle(angle) >> 6) + 720) * 4);
}

int sin_byte(int32_t angle) { return sine_byte_at(static_cast<std::size_t>(normalise_angle(angle) >> 9) * 256 + 1); }

int cos_byte(int32_t angle) {
  return sine_byte_at(static_cast<std::size_t>(normalise_angle(angle) >> 9) * 256 + 23295);
}

uint8_t sqrt_table(int i) { return i >= 0 && i < 256 ? kSqrtTable[i] : 0; }

uint32_t isqrt(uint32_t v) {
  int j = 1;
  while (j < 16 && uint64_t{v} >= (uint64_t{1} << (2 * j))) ++j;
  uint32_t i = j <= 4 ? v << (2 * (4 - j)) : v >> (2 * (j - 4));
  uint32_t r = kSqrtTable[i & 255];
  if (j < 8) return r >> (8 - j);
  return r << (j - 8);
}

int32_t wrap(int32_t v, int32_t lo, int32_t hi) {
  if (lo >= hi) return hi;
  if (v >= lo && v <= hi) return v;
  int64_t n = int64_t{hi} - lo + 1;
  int64_t m = (int64_t{v} - lo) % n;
  if (m < 0) m += n;
  return static_cast<int32_t>(lo + m);
}

int32_t atan_index(int64_t ratio) {
  if (ratio >= 512000) return 720;
  int32_t lo = 0, hi = 719;
  for (;;) {
    int32_t mid = (lo + hi) >> 1;
    if (mid == lo) return mid;
    int32_t entry = word_at(base::Area::atan_table, static_cast<std::size_t>(mid) * 4);
    if (ratio == entry) return mid;
    if (ratio > entry)
      lo = mid;
    else
      hi = mid;
  }
}

int32_t direction_from_vector(int32_t x, int32_t z) {
  int32_t i = 720;
  if (z != 0) {
    int64_t q = int64_t{x} * 1024 / z;
    i = atan_index(q < 0 ? -q : q);
  }
  int32_t r;
  if (x >= 0)
    r = z >= 0 ? i : 1440 - i;
  else
    r = z >= 0 ? 2880 - i : i + 1440;
  return r * 64;
}

int32_t random_in(RandomState& state, int32_t a, int32_t b, uint32_t sample_counter) {
  if (a > b) std::swap(a, b);
  if (a == b) return a;
  // The window runs over bytes 1..1996 so that its 4 bytes stay inside the table.
  uint32_t p = state.pointer + 1;
  if (p < 1 || p > 1996) p = 1;
  state.pointer = p;
  uint32_t w = static_cast<uint32_t>(word_at(base::Area::random_table, p));
  uint32_t c = sample_counter;
  uint32_t r = (c + (c << 16) + w) >> 1;
  return wrap(static_cast<int32_t>(r), a, b);
}

}  // namespace media
