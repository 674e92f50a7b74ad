// The title region of a program image: found once, patched in place.
#include <gtest/gtest.h>

#include "base/title.h"

namespace {

TEST(Title, PatchesTheOneRegion) {
  const std::string marker = base::title_marker();
  ASSERT_EQ(marker, std::string("ZEPTA-") + "TITLE-REGION:");
  const std::string old_title = "Zepta 5.2" + std::string(23, ' ');
  const std::string image = "\x7f" "ELF..." + marker + old_title + "...rest";
  struct {
    const char* name;
    std::string image, title;
    bool ok;
    std::string expected;  // the 32 bytes after the marker
  } cases[] = {
      {"short title padded", image, "My Game", true, "My Game" + std::string(25, ' ')},
      {"long title cut", image, std::string(40, 'x'), true, std::string(32, 'x')},
      {"exactly 32", image, std::string(32, 'y'), true, std::string(32, 'y')},
      {"empty title blanks it", image, "", true, std::string(32, ' ')},
      {"no marker", "\x7f" "ELF..." + old_title, "T", false, ""},
      {"two markers", image + marker + old_title, "T", false, ""},
      {"region cut short", "\x7f" "ELF" + marker + "Zepta", "T", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string patched = c.image, error;
    EXPECT_EQ(base::patch_title(patched, c.title, error), c.ok) << error;
    if (!c.ok) {
      EXPECT_EQ(patched, c.image);
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(patched.size(), c.image.size());
    std::string title;
    ASSERT_TRUE(base::read_title(patched, title, error)) << error;
    EXPECT_EQ(title, c.expected);
    EXPECT_EQ(patched.substr(patched.size() - 7), "...rest");
  }
}

}  // namespace
