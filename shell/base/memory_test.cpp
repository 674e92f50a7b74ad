// The fixed budget: below 2 GiB, at its fixed address, areas apart and zeroed.
#include "shell/base/memory.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(Budget, AreasLieBelowTwoGiBWithoutOverlap) {
  ASSERT_TRUE(shell::reserve_budget());
  std::uintptr_t previous_end = 0;
  for (int i = 0; i < static_cast<int>(shell::Area::count); ++i) {
    auto a = shell::area(static_cast<shell::Area>(i));
    auto start = reinterpret_cast<std::uintptr_t>(a.data());
    EXPECT_EQ(a.size(), shell::kAreas[i].size) << shell::kAreas[i].name;
    EXPECT_GE(start, previous_end) << shell::kAreas[i].name;
    EXPECT_LT(start + a.size(), 0x80000000u);
    EXPECT_TRUE(shell::in_budget(a.data(), a.size()));
    EXPECT_EQ(a.back(), std::byte{0});
    previous_end = start + a.size();
  }
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(shell::area(shell::Area::software_screen).data()), shell::kBudgetAddress);
  int outside = 0;
  EXPECT_FALSE(shell::in_budget(&outside, sizeof outside));
  shell::release_budget();
  EXPECT_TRUE(shell::area(shell::Area::element_table).empty());
}

}  // namespace
