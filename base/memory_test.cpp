// The fixed budget: below 2 GiB, at its fixed address, areas apart and zeroed.
#include "base/memory.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(Budget, AreasLieBelowTwoGiBWithoutOverlap) {
  ASSERT_TRUE(base::reserve_budget());
  std::uintptr_t previous_end = 0;
  for (int i = 0; i < static_cast<int>(base::Area::count); ++i) {
    auto a = base::area(static_cast<base::Area>(i));
    auto start = reinterpret_cast<std::uintptr_t>(a.data());
    EXPECT_EQ(a.size(), base::kAreas[i].size) << base::kAreas[i].name;
    EXPECT_GE(start, previous_end) << base::kAreas[i].name;
    EXPECT_LT(start + a.size(), 0x80000000u);
    EXPECT_TRUE(base::in_budget(a.data(), a.size()));
    EXPECT_EQ(a.back(), std::byte{0});
    previous_end = start + a.size();
  }
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(base::area(base::Area::software_screen).data()), base::kBudgetAddress);
  int outside = 0;
  EXPECT_FALSE(base::in_budget(&outside, sizeof outside));
  base::release_budget();
  EXPECT_TRUE(base::area(base::Area::element_table).empty());
}

}  // namespace
