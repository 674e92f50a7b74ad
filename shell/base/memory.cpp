// Reserving and releasing the fixed memory budget.
#include "shell/base/memory.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstring>

#include "shell/base/log.h"

namespace shell {

namespace {

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

constexpr Layout kLayout = make_layout();
constexpr std::size_t kTotal = kLayout.offset[static_cast<int>(Area::count)];
static_assert(kBudgetAddress + kTotal < 0x80000000u, "the budget must end below 2 GiB");

std::byte* g_base = nullptr;

}  // namespace

bool reserve_budget() {
  if (g_base) return true;
  void* hint = reinterpret_cast<void*>(kBudgetAddress);
  void* p = mmap(hint, kTotal, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (p == MAP_FAILED || p != hint) {
    if (p != MAP_FAILED) munmap(p, kTotal);  // an old kernel took the hint as a hint only
    report("memory", "fixed address %#lx unavailable (%s); saved games from other runs may not load",
           static_cast<unsigned long>(kBudgetAddress), std::strerror(errno));
    p = mmap(nullptr, kTotal, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (p == MAP_FAILED) {
      report("memory", "could not reserve %zu bytes below 2 GiB: %s", kTotal, std::strerror(errno));
      return false;
    }
  }
  g_base = static_cast<std::byte*>(p);
  return true;
}

void release_budget() {
  if (!g_base) return;
  munmap(g_base, kTotal);
  g_base = nullptr;
}

bool budget_reserved() { return g_base != nullptr; }

std::span<std::byte> area(Area which) {
  if (!g_base) return {};
  int i = static_cast<int>(which);
  return {g_base + kLayout.offset[i], kAreas[i].size};
}

bool in_budget(const void* p, std::size_t bytes) {
  auto a = reinterpret_cast<std::uintptr_t>(p);
  auto base = reinterpret_cast<std::uintptr_t>(g_base);
  return g_base && a >= base && bytes <= kTotal && a - base <= kTotal - bytes;
}

}  // namespace shell
