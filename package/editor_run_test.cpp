// Run mode 6 in the program itself: the list saved on the way out and the
// executable name kept in the editor state files.
#include <gtest/gtest.h>

#include "tests/program_fixture.h"

namespace {

using program_test::read;
using program_test::write;
namespace fs = std::filesystem;

struct EditorRun : program_test::ProgramFixture {};

TEST_F(EditorRun, TheNameAndTheListAreKept) {
  // Next page; a switch of that page; Executable Name: "Zepta 5.2" becomes "Zepta 5.X"; Escape.
  write(work + "input.txt",
        "10 key 81\n20 mouse 374 58 1\n22 mouse 374 58 0\n"
        "40 mouse 520 211 1\n42 mouse 520 211 0\n80 key 14\n81 key 57 X\n100 key 28 13\n140 key 1\n");
  program_test::Outcome r = run_program({"--headless", "--mode", "6", "--input", "input.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string paths = read(work + "data/curpaths.ini");
  EXPECT_NE(paths.find("\r\nZepta 5.X\r\n"), std::string::npos) << paths;
  std::string list = read(work + "data/multilev.ini");
  std::string slot1 = "./images/wait_.bmp|./images/anykey_.bmp|./projects/myprj/default_.prj|";
  EXPECT_EQ(list.substr(0, list.find('\n') + 1), slot1 + "1\r\n");
  EXPECT_NE(list.find("\n" + slot1 + "1\r\n"), std::string::npos);  // slot 22
}

TEST_F(EditorRun, NobodyToSeeItPrintsThePage) {
  program_test::Outcome r = run_program({"--headless", "--mode", "6"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("SELF-EXECUTABLE EDITOR\nPage 1 of 25\n001 wait_ anykey_ default_ on\n"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(work + "data/multilev.ini"));
}

}  // namespace
