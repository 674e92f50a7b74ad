// Brains' arrays: cells of 32 bits in blocks of the handle table, read and
// written as cells, rows, bytes, 16-bit and 32-bit values, every index checked
// against its block; array files (inside the game's folders, brain_file); and
// sorting the globals.
#include <algorithm>
#include <cstring>
#include <string>

#include "base/files.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"
#include "engine/engine_local.h"

namespace engine {

namespace {

using I = std::int32_t;

// The `width` bytes at byte offset index x width of handle's block; empty when
// they do not lie wholly inside it (or the handle has none).
std::span<std::byte> at(I handle, std::int64_t index, int width) {
  World* w = world();
  if (!w || index < 0) return {};
  std::span<std::byte> block = handle_block(*w, handle);
  if (static_cast<std::uint64_t>(index) >= block.size() / width) return {};
  return block.subspan(static_cast<std::size_t>(index) * width, static_cast<std::size_t>(width));
}

template <typename T>
I read(I handle, std::int64_t index) {
  std::span<std::byte> bytes = at(handle, index, sizeof(T));
  if (bytes.empty()) return 0;
  T v;
  std::memcpy(&v, bytes.data(), sizeof v);
  return static_cast<I>(v);
}
template <typename T>
void write(I handle, std::int64_t index, I value) {
  std::span<std::byte> bytes = at(handle, index, sizeof(T));
  if (bytes.empty()) return;
  auto v = static_cast<T>(value);
  std::memcpy(bytes.data(), &v, sizeof v);
}

// Cell y x w + x: the array taken as rows of w cells.
std::int64_t row_cell(I x, I y, I w) { return std::int64_t{y} * w + x; }

// Cell i of an array block (which holds it).
I cell(std::span<const std::byte> block, std::size_t i) {
  I v;
  std::memcpy(&v, block.data() + 4 * i, 4);
  return v;
}

ROUTINE(routine_a_create) {
  World* w = world();
  return w && a >= 0 ? create_block(*w, std::int64_t{a} * 4) : -1;
}
ROUTINE(routine_a_size) {
  World* w = world();
  return w ? static_cast<I>(handle_block(*w, a).size()) : 0;
}
ROUTINE(routine_a) { return read<std::int32_t>(a, b); }
ROUTINE(routine_a_set) {
  write<std::int32_t>(a, b, c);
  return 0;
}
ROUTINE(routine_a2) { return read<std::int32_t>(a, row_cell(b, c, d)); }
ROUTINE(routine_a2_set) {
  write<std::int32_t>(a, row_cell(b, c, d), e);
  return 0;
}
ROUTINE(routine_a_byte) { return read<std::uint8_t>(a, b); }
ROUTINE(routine_a_byte_set) {
  write<std::uint8_t>(a, b, c);
  return 0;
}
ROUTINE(routine_a_word) { return read<std::uint16_t>(a, b); }
ROUTINE(routine_a_word_set) {
  write<std::uint16_t>(a, b, c);
  return 0;
}

ROUTINE(routine_a_copy) {  // (d, d cell, s, s cell, count)
  World* w = world();
  if (!w) return 0;
  std::span<std::byte> to = handle_block(*w, a), from = handle_block(*w, c);
  std::int64_t to_cells = static_cast<std::int64_t>(to.size() / 4), from_cells = static_cast<std::int64_t>(from.size() / 4);
  if (b < 0 || d < 0 || e <= 0 || b >= to_cells || d >= from_cells) return 0;
  std::int64_t n = std::min({std::int64_t{e}, to_cells - b, from_cells - d});
  std::memmove(to.data() + 4 * std::int64_t{b}, from.data() + 4 * std::int64_t{d}, static_cast<std::size_t>(4 * n));
  return static_cast<I>(n);
}

ROUTINE(routine_a_interpolate) {  // (d, from, to, t, n)
  World* w = world();
  if (!w || e == 0) return 0;
  std::span<std::byte> out = handle_block(*w, a), p = handle_block(*w, b), q = handle_block(*w, c);
  std::size_t cells = std::min({out.size(), p.size(), q.size()}) / 4;
  for (std::size_t i = 0; i < cells; ++i) {
    // As `interpolate` (t, 0, n, from, to), in 128 bits so that no value overflows.
    std::int64_t y0 = cell(p, i), y1 = cell(q, i);
    __int128 v = static_cast<__int128>(y1 - y0) * d / e + y0;
    I r = low32(static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<unsigned __int128>(v))));
    std::memcpy(out.data() + 4 * i, &r, 4);
  }
  return static_cast<I>(cells);
}

// The array file of handle a, written atomically.
ROUTINE(routine_a_save) {  // (h, path)
  World* w = world();
  if (!w) return 0;
  if (!is_handle_number(a) || !w->handles.slot[a].live) return 0;
  base::Text file = brain_file(*w, text_argument(b));
  if (file.empty() || base::file_kind(file) == base::FileKind::other) return 0;
  std::span<std::byte> block = handle_block(*w, a);
  base::TextFile out;
  bool ok = out.open_write_atomic(file) && out.write_bytes(block.data(), block.size());
  if (!out.close() || !ok) base::report("engine", "could not write %s", echo_text(file).c_str());
  return 0;
}

ROUTINE(routine_a_load) {  // (path)
  World* w = world();
  if (!w) return -1;
  base::Text file = brain_file(*w, text_argument(a));  // copied: the text may move when the block is made
  long size = file.empty() || base::file_kind(file) != base::FileKind::regular ? -1 : base::file_size(file);
  std::string bytes;
  if (size <= 0 || size / 4 + 4 > static_cast<long>(kHandleHeapBytes / 4) ||
      !base::read_regular_file(file, static_cast<std::size_t>(size), bytes) || bytes.empty())
    return -1;
  I h = create_block(*w, (static_cast<std::int64_t>(bytes.size()) / 4 + 4) * 4);
  if (h < 0) return -1;
  std::memcpy(handle_block(*w, h).data(), bytes.data(), bytes.size());
  return h;
}

// Values grow from global a towards global b (indices modulo 2048).
ROUTINE(routine_globals_sort) {
  std::int32_t* g = globals();
  if (!g) return 0;
  int i = global_index(a), j = global_index(b);
  if (i <= j) std::sort(g + i, g + j + 1);
  else std::sort(g + j, g + i + 1, std::greater<>());
  return 0;
}

constexpr Binding kBindings[] = {
    {"a_create", routine_a_create, "a cells -> handle of a new array of a zero cells; -1 when none"},
    {"a_size", routine_a_size, "a handle -> bytes of its block (4 x cells; capacity + 1 for a string); 0 for none"},
    {"a", routine_a, "a array, b cell -> the cell's value; 0 outside the array"},
    {"a_set", routine_a_set, "a array, b cell, c value: the cell becomes c (nothing outside the array)"},
    {"a2", routine_a2, "a array, b x, c y, d row width -> cell c x d + b"},
    {"a2_set", routine_a2_set, "a array, b x, c y, d row width, e value: cell c x d + b becomes e"},
    {"a_byte", routine_a_byte, "a handle, b byte offset -> that byte, 0..255"},
    {"a_byte_set", routine_a_byte_set, "a handle, b byte offset, c value: the byte becomes c's low 8 bits"},
    {"a_word", routine_a_word, "a handle, b index -> the 16-bit value at bytes 2b, 2b + 1 (0..65535)"},
    {"a_word_set", routine_a_word_set, "a handle, b index, c value: the 16-bit value at 2b becomes c's low 16 bits"},
    {"a_dword", routine_a, "a handle, b index -> the 32-bit value at bytes 4b..4b + 3 (as a)"},
    {"a_dword_set", routine_a_set, "a handle, b index, c value: the 32-bit value at 4b becomes c (as a_set)"},
    {"a_copy", routine_a_copy,
     "a to, b its cell, c from, d its cell, e count -> cells copied, cut to both arrays (overlap allowed)"},
    {"a_interpolate", routine_a_interpolate,
     "a to, b from, c towards, d t, e n: each cell from + (towards - from) x d / e -> cells written"},
    {"a_save", routine_a_save, "a handle, b path text: its block written to the file (in the game's folders)"},
    {"a_load", routine_a_load,
     "a path text -> new array of the file's bytes and 4 zero cells more; -1 when none (in the game's folders)"},
    {"globals_sort", routine_globals_sort,
     "a, b global indices: the globals between them sorted to grow from a towards b"},
};

}  // namespace

std::span<const Binding> array_bindings() { return kBindings; }

}  // namespace engine
