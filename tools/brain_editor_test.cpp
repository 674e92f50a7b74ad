// The brain editor's name question: the file names it saves to and the names
// it refuses.
#include <gtest/gtest.h>

#include "tools/tools.h"

namespace tools {
namespace {

TEST(BrainEditor, TypedNamesBecomeBrainFilesOrAreRefused) {
  struct Case {
    const char* typed;
    const char* file;  // "": refused
  } cases[] = {
      {"player", "player.brn"},
      {"player.brn", "player.brn"},
      {"Player.BRN", "Player.BRN"},     // the ending in any case is kept
      {"  spaced name ", "spaced name.brn"},  // outer blanks dropped
      {"v1.2", "v1.2.brn"},
      {"", ""},
      {"   ", ""},
      {"sub/player", ""},
      {"..", ""},
      {"a..b", ""},
      {".brn", ""},
      {".hidden", ""},
      {"back\\slash", ""},
      {"bar|name", ""},
      {"tab\tname", ""},
      {"bell\x07", ""},
  };
  for (const Case& c : cases) {
    std::string why = "stale";
    EXPECT_EQ(brain_file_name(c.typed, &why), c.file) << c.typed;
    EXPECT_EQ(why.empty(), c.file[0] != 0) << c.typed;
  }
  std::string why;
  brain_file_name("", &why);
  EXPECT_EQ(why, "No name given: the brain was not saved.");
  brain_file_name("a/b|c\x01", &why);  // a bar or a control character is shown as "?"
  EXPECT_EQ(why, "'a/b?c?' cannot name a brain: a name may hold no slash,|no bar, no leading dot, no two dots in a "
                 "row and no control character.");
}

}  // namespace
}  // namespace tools
