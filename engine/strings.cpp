// The handle table that brains' strings and arrays share, over the handle-heap
// area of the budget, and the string routines: every write is cut to its block.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "engine/engine_local.h"
#include "platform/platform.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZEPTA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEPTA_ASAN 1
#endif
#endif
#ifdef ZEPTA_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace engine {

namespace {

using I = std::int32_t;

constexpr std::uint32_t kBlockAlign = 8;  // block starts; also AddressSanitizer's granule
constexpr std::uint32_t rounded(std::uint32_t bytes) { return (bytes + kBlockAlign - 1) & ~(kBlockAlign - 1); }
static_assert(kHandleHeapBytes % kBlockAlign == 0);

std::byte* heap() { return base::area(base::Area::handle_heap).data(); }

// Under AddressSanitizer only the live blocks of the heap are addressable, so
// that a routine reaching past its block is caught where it happens.
void poison(std::uint32_t offset, std::uint32_t bytes) {
#ifdef ZEPTA_ASAN
  if (heap() && bytes) ASAN_POISON_MEMORY_REGION(heap() + offset, bytes);
#else
  (void)offset, (void)bytes;
#endif
}
void unpoison(std::uint32_t offset, std::uint32_t bytes) {
#ifdef ZEPTA_ASAN
  if (heap() && bytes) ASAN_UNPOISON_MEMORY_REGION(heap() + offset, bytes);
#else
  (void)offset, (void)bytes;
#endif
}

// Slides the live blocks down over the holes, in heap order.
void compact(Handles& h) {
  int order[kHandles];
  int n = 0;
  for (int i = 0; i < h.high_water; ++i)
    if (h.slot[i].live) order[n++] = i;
  std::sort(order, order + n, [&](int a, int b) { return h.slot[a].offset < h.slot[b].offset; });
  unpoison(0, h.top);
  std::uint32_t at = 0;
  for (int k = 0; k < n; ++k) {
    HandleSlot& s = h.slot[order[k]];
    if (s.offset != at) std::memmove(heap() + at, heap() + s.offset, s.size);
    s.offset = at;
    at += rounded(s.size);
  }
  poison(at, h.top - at);
  for (int k = 0; k < n; ++k) {
    const HandleSlot& s = h.slot[order[k]];
    poison(s.offset, rounded(s.size));
    unpoison(s.offset, s.size);
  }
  h.top = at;
}

// The text of a block: its bytes up to the first zero.
std::string_view block_text(std::span<const std::byte> block) {
  const char* p = reinterpret_cast<const char*>(block.data());
  const void* zero = block.empty() ? nullptr : std::memchr(p, 0, block.size());
  return {p, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - p) : block.size()};
}

// A text argument: the text of a handle with a block or of a literal; none for
// a handle without a block or any other value. A block's scan is charged to the
// brain's budget; once it is spent every block reads as "".
std::optional<std::string_view> text_of(World& w, I value) {
  if (is_handle_number(value)) {
    const HandleSlot& s = w.handles.slot[value];
    if (!s.live) return std::nullopt;
    if (brain::budget_spent()) return std::string_view();
    std::string_view text = block_text({heap() + s.offset, s.size});
    brain::charge_budget(static_cast<std::int64_t>(text.size()) / kBytesPerBudgetUnit);
    return text;
  }
  auto address = static_cast<std::uint32_t>(value);
  if (address < w.literal_start || address >= w.literal_end) return std::nullopt;
  const char* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(address));
  std::size_t length = 0;
  while (address + length < w.literal_end && text[length]) ++length;
  return std::string_view(text, length);
}

// Writes text into a block, cut to the block less its terminating zero, and
// returns the characters written. text may lie in the block itself.
I write_text(std::span<std::byte> block, std::string_view text) {
  if (block.empty()) return 0;
  std::size_t n = std::min(text.size(), block.size() - 1);
  brain::charge_budget(static_cast<std::int64_t>(n) / kBytesPerBudgetUnit);
  if (n) std::memmove(block.data(), text.data(), n);
  block[n] = std::byte{0};
  return static_cast<I>(n);
}

// The block a writing routine's destination names. A value that is no handle
// is the runtime error `which` of the call returning to call_site; a handle
// without a block changes nothing.
std::span<std::byte> destination(World& w, I d, RuntimeError which, std::uint32_t call_site) {
  if (!is_handle_number(d)) {
    raise_runtime_error(w, which, call_site);
    return {};
  }
  return handle_block(w, d);
}

// ---- Handles -------------------------------------------------------------------------------

ROUTINE(routine_str_create) {
  World* w = world();
  return w && a >= 0 ? create_block(*w, std::int64_t{a} + 1) : -1;
}
ROUTINE(routine_str_kill) {
  if (World* w = world()) kill_block(*w, a);
  return 0;
}

// ---- Strings ---------------------------------------------------------------------------------

ROUTINE(routine_str_len) {
  World* w = world();
  return w ? static_cast<I>(text_of(*w, a).value_or("").size()) : 0;
}
ROUTINE(routine_str_copy) {  // (d, s, start, count)
  World* w = world();
  if (!w) return 0;
  std::span<std::byte> block = destination(*w, a, RuntimeError::str_copy, BRAIN_CALL_SITE());
  if (block.empty()) return 0;
  std::string_view s = text_of(*w, b).value_or("");
  std::string_view part;
  if (d < 0) part = s;
  else if (c >= 0 && static_cast<std::size_t>(c) < s.size()) part = s.substr(static_cast<std::size_t>(c), static_cast<std::size_t>(d));
  return write_text(block, part);
}
ROUTINE(routine_str_add) {  // (d, s)
  World* w = world();
  if (!w) return 0;
  std::span<std::byte> block = destination(*w, a, RuntimeError::str_add, BRAIN_CALL_SITE());
  if (block.empty()) return 0;
  std::size_t length = block_text(block).size();
  if (length >= block.size()) return 0;  // no terminating zero: a full block, or bytes written as an array
  write_text(block.subspan(length), text_of(*w, b).value_or(""));
  return 0;
}
}  // namespace

// ---- Text messages of network sessions -------------------------------------------------------

ROUTINE(routine_str_send) {  // (text, mask)
  World* w = world();
  const Network& n = network();
  if (!w || !n.running || !n.link.send_text) return 0;
  std::string_view text = text_of(*w, a).value_or("");
  if (!text.empty()) n.link.send_text(n.link.user, static_cast<std::uint32_t>(b), text);
  return 0;
}
ROUTINE(routine_str_poll) {  // (string, mask)
  World* w = world();
  const Network& n = network();
  if (!w || !n.running) return 0;
  std::span<std::byte> block = is_handle_number(a) ? handle_block(*w, a) : std::span<std::byte>{};
  if (block.empty()) return 0;
  block[0] = std::byte{0};
  if (n.link.poll_text)
    n.link.poll_text(n.link.user, static_cast<std::uint32_t>(b),
                     {reinterpret_cast<char*>(block.data()), block.size()});
  return 0;
}

namespace {

ROUTINE(routine_str_comp) {  // (a, b, case-sensitive)
  World* w = world();
  if (!w) return 0;
  std::optional<std::string_view> x = text_of(*w, a), y = text_of(*w, b);
  if (!x || !y) return 0;
  auto fold = [c](char ch) {
    auto u = static_cast<unsigned char>(ch);
    return c == 0 && u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
  };
  for (std::size_t i = 0;; ++i) {
    int p = i < x->size() ? fold((*x)[i]) : 0;
    int q = i < y->size() ? fold((*y)[i]) : 0;
    if (p != q) return p < q ? -1 : 1;
    if (!p) return 0;
  }
}
ROUTINE(routine_str_chr) {  // (d, code)
  World* w = world();
  if (!w) return 0;
  std::span<std::byte> block = destination(*w, a, RuntimeError::str_chr, BRAIN_CALL_SITE());
  char ch = static_cast<char>(b & 0xFF);
  write_text(block, std::string_view(&ch, 1));
  return 0;
}
ROUTINE(routine_str_num) {  // (d, value, decimals)
  World* w = world();
  if (!w) return 0;
  std::span<std::byte> block = destination(*w, a, RuntimeError::str_num, BRAIN_CALL_SITE());
  if (block.empty()) return 0;
  constexpr int kMostDecimals = 340;  // past 10^308 every value prints as zeros
  char text[kMostDecimals + 32];
  int n = c < 1 ? std::snprintf(text, sizeof text, "%d", b)
                : std::snprintf(text, sizeof text, "%.*f", std::min(c, kMostDecimals), b / std::pow(10.0, c));
  write_text(block, std::string_view(text, static_cast<std::size_t>(std::clamp(n, 0, static_cast<int>(sizeof text) - 1))));
  return 0;
}
ROUTINE(routine_str_val) {
  World* w = world();
  if (!w) return 0;
  // strtol with the automatic base, held in 32 bits as a 32-bit long is.
  std::string text(text_of(*w, a).value_or(""));
  long long v = std::strtoll(text.c_str(), nullptr, 0);
  return static_cast<I>(std::clamp<long long>(v, std::numeric_limits<I>::min(), std::numeric_limits<I>::max()));
}
ROUTINE(routine_str_input_set) {
  World* w = world();
  if (!w || !w->input) return 0;
  std::string_view s = text_of(*w, a).value_or("");
  platform::TypedText& typed = w->input->typed;
  std::size_t n = std::min(s.size(), sizeof typed.text - 1);
  if (n) std::memmove(typed.text, s.data(), n);
  typed.text[n] = 0;
  typed.length = static_cast<int>(std::strlen(typed.text));
  return 0;
}
ROUTINE(routine_str_input) {
  World* w = world();
  if (!w || !w->input) return 0;
  const platform::TypedText& typed = w->input->typed;
  write_text(handle_block(*w, a), std::string_view(typed.text, strnlen(typed.text, sizeof typed.text)));
  return 0;
}

ROUTINE(routine_element_named) {
  World* w = world();
  if (!w) return -1;
  std::string name(text_of(*w, a).value_or(""));
  for (int i = 0; i <= highest(); ++i)
    if (w->names[i] == name) return reference_of(*record_at(i));
  raise_runtime_error(*w, RuntimeError::element, BRAIN_CALL_SITE(), name);
  return -1;  // top bit set: no element
}

constexpr Binding kBindings[] = {
    {"str_create", routine_str_create, "a capacity -> handle of a new empty string of up to a characters; -1 when none"},
    {"str_kill", routine_str_kill, "a handle: frees its string or array; the lowest free slot is taken next"},
    {"str_len", routine_str_len, "a text -> number of characters; 0 for a handle without a block"},
    {"str_copy", routine_str_copy,
     "a string, b text, c start, d count (< 0: all) -> characters copied into a, cut to its capacity"},
    {"str_add", routine_str_add, "a string, b text: b appended to a, cut to a's capacity"},
    {"str_comp", routine_str_comp, "a text, b text, c case-sensitive when not 0 -> 0 equal, -1 or 1 by the first byte"},
    {"str_chr", routine_str_chr, "a string, b character code: a becomes that one character"},
    {"str_num", routine_str_num, "a string, b value, c decimals: a becomes b / 10^c written with c decimals"},
    {"str_val", routine_str_val, "a text -> its value as a C integer: 0x hexadecimal, leading 0 octal, else decimal"},
    {"str_input_set", routine_str_input_set, "a text: the typed-text buffer becomes a"},
    {"str_input", routine_str_input, "a string: becomes the typed-text buffer, cut to its capacity"},
    {"element", routine_element_named,
     "a name text -> the first element of that name; else a runtime error ends the run"},
};

}  // namespace

std::span<const Binding> string_bindings() { return kBindings; }

// ---- The handle table ---------------------------------------------------------------------------

void reset_handles(World& world) {
  release_handles(world);
  poison(0, kHandleHeapBytes);
}

void release_handles(World& world) {
  Handles& h = world.handles;
  std::fill(std::begin(h.slot), std::end(h.slot), HandleSlot{});
  h.high_water = 0;
  h.top = h.live_bytes = 0;
  unpoison(0, kHandleHeapBytes);
}

std::int32_t create_block(World& world, std::int64_t bytes) {
  Handles& h = world.handles;
  if (bytes < 0 || bytes > kHandleHeapBytes || !heap()) return -1;
  int index = 0;
  while (index < h.high_water && h.slot[index].live) ++index;
  if (index == kHandles) return -1;
  auto size = static_cast<std::uint32_t>(bytes);
  std::uint32_t need = rounded(size);
  // Zeroing the block, and sliding the others down when it needs room, is a brain's work.
  brain::charge_budget((std::int64_t{size} + (need > kHandleHeapBytes - h.top ? h.live_bytes : 0)) / kBytesPerBudgetUnit);
  if (need > kHandleHeapBytes - h.live_bytes) return -1;
  if (need > kHandleHeapBytes - h.top) compact(h);
  HandleSlot& s = h.slot[index];
  s = {h.top, size, true};
  h.top += need;
  h.live_bytes += need;
  h.high_water = std::max(h.high_water, index + 1);
  unpoison(s.offset, size);
  std::memset(heap() + s.offset, 0, size);
  return index;
}

void kill_block(World& world, std::int32_t handle) {
  Handles& h = world.handles;
  if (!is_handle_number(handle) || !h.slot[handle].live) return;
  HandleSlot& s = h.slot[handle];
  poison(s.offset, rounded(s.size));
  h.live_bytes -= rounded(s.size);
  if (s.offset + rounded(s.size) == h.top) h.top = s.offset;
  s = HandleSlot{};
  if (handle == h.high_water - 1) h.high_water = handle;
}

std::span<std::byte> handle_block(World& world, std::int32_t handle) {
  if (!is_handle_number(handle) || !world.handles.slot[handle].live || !heap()) return {};
  const HandleSlot& s = world.handles.slot[handle];
  return {heap() + s.offset, s.size};
}

bool set_handle_text(World& world, std::int32_t handle, std::string_view text) {
  std::span<std::byte> block = handle_block(world, handle);
  if (block.empty()) return false;
  write_text(block, text);
  return true;
}

std::string echo_text(std::string_view text) {
  if (text.size() <= kEchoChars) return std::string(text);
  return std::string(text.substr(0, kEchoChars)) + "... (" + std::to_string(text.size()) + " characters)";
}

std::string_view text_argument(std::int32_t value) {
  World* w = world();
  return w ? text_of(*w, value).value_or("") : std::string_view();
}

}  // namespace engine
