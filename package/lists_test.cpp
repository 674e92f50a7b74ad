// Projects lists: defaults, the files' "./" form, fields and typed names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "package/package.h"

namespace {

namespace fs = std::filesystem;

TEST(ProjectsList, DefaultsAndFields) {
  auto list = std::make_unique<package::ProjectsList>();
  package::reset_list(*list, "/g/");
  EXPECT_EQ(list->slot[0].view(), "/g/images/wait_.bmp|/g/images/anykey_.bmp|/g/projects/myprj/default_.prj|1");
  EXPECT_EQ(package::slot_field(*list, 1, package::kCompileSwitch).view(), "0");
  package::toggle_compile_switch(*list, 1);
  EXPECT_EQ(package::slot_field(*list, 1, package::kCompileSwitch).view(), "1");
  package::set_slot_field(*list, 2, package::kExtra, "note");
  EXPECT_EQ(package::slot_field(*list, 2, package::kExtra).view(), "note");
  package::set_slot_field(*list, 2, package::kProject, "/g/p.prj");
  EXPECT_EQ(package::slot_field(*list, 2, package::kProject).view(), "/g/p.prj");
  EXPECT_EQ(package::slot_field(*list, 2, package::kExtra).view(), "note");  // kept when the project changes
  list->slot[3] = "a|b";
  package::set_slot_field(*list, 3, package::kCompileSwitch, "1");
  EXPECT_EQ(list->slot[3].view(), "a|b||1");
  EXPECT_EQ(package::slot_field(*list, 500, 1).view(), "");
}

TEST(ProjectsList, FileFormRoundTrip) {
  fs::path dir = fs::temp_directory_path() / ("zepta_lists_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string base = dir.string() + "/";
  auto list = std::make_unique<package::ProjectsList>();
  package::reset_list(*list, base);
  list->slot[4] = (base + "images/a.bmp|" + base + "images/b.bmp|" + base + "projects/x/y.prj|1|extra").c_str();
  ASSERT_TRUE(package::save_list(*list, base + "l.mlv", base));
  std::ifstream in(dir / "l.mlv", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(all.find("./images/a.bmp|./images/b.bmp|./projects/x/y.prj|1|extra\r\n"), std::string::npos);
  EXPECT_EQ(all.find(base), std::string::npos);
  auto back = std::make_unique<package::ProjectsList>();
  ASSERT_TRUE(package::load_list(*back, base + "l.mlv", base));
  for (int i = 0; i < package::kSlots; ++i) EXPECT_EQ(back->slot[i].view(), list->slot[i].view()) << i;

  std::ofstream(dir / "win.mlv", std::ios::binary) << ".\\images\\w.bmp|x|y|1\r\n";
  ASSERT_TRUE(package::load_list(*back, base + "win.mlv", base));
  EXPECT_EQ(back->slot[0].view(), base + "images/w.bmp|x|y|1");
  EXPECT_EQ(back->slot[1].view(), "");  // a short file leaves the remaining slots empty

  EXPECT_FALSE(package::load_list(*back, base + "missing.mlv", base));
  EXPECT_EQ(package::slot_field(*back, 0, package::kCompileSwitch).view(), "1");
  fs::remove_all(dir);
}

TEST(ProjectsList, TypedNames) {
  struct Case {
    const char* typed;
    const char* name;
  } cases[] = {{"my level.1", "mylevel"}, {"abcdefghijk", "abcdefgh"}, {"..x", ""}, {"a-b_c", "abc"}, {"", ""}};
  for (const Case& c : cases) EXPECT_EQ(package::list_name_of(c.typed).view(), c.name) << c.typed;
  EXPECT_EQ(package::file_name_of("c:\\a/b\\wait_.bmp"), "wait_.bmp");
  EXPECT_EQ(package::file_name_of("d:x.bmp"), "x.bmp");
}

}  // namespace
