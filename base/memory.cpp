// Reserving and releasing the fixed memory budget.
#include "base/memory.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstring>

#include "base/log.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#endif
#endif

namespace base {

namespace detail {
std::byte* budget_base = nullptr;
}  // namespace detail

namespace {
constexpr std::size_t kTotal = detail::kBudgetBytes;
}  // namespace

bool reserve_budget() {
  if (detail::budget_base) return true;
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
  detail::budget_base = static_cast<std::byte*>(p);
  return true;
}

void release_budget() {
  if (!detail::budget_base) return;
#ifdef ASAN_UNPOISON_MEMORY_REGION
  // Parts poisoned by their users (the handle heap) must not stay so for a
  // later reservation at the same address.
  ASAN_UNPOISON_MEMORY_REGION(detail::budget_base, kTotal);
#endif
  munmap(detail::budget_base, kTotal);
  detail::budget_base = nullptr;
}

bool in_budget(const void* p, std::size_t bytes) {
  auto a = reinterpret_cast<std::uintptr_t>(p);
  auto base = reinterpret_cast<std::uintptr_t>(detail::budget_base);
  return detail::budget_base && a >= base && bytes <= kTotal && a - base <= kTotal - bytes;
}

}  // namespace base
