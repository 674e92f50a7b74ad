// The self-executable editor on a scripted 640 x 480 panel screen: the page
// drawn, paging, the switch column, named lists, reset, the executable name,
// and the list saved on the way out.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

#include "package/package.h"
#include "platform/platform.h"
#include "project/project.h"
#include "ui/browser_fixture.h"

namespace {

using namespace ui::browser_test;
using enum platform::ScanCode;

// Button centres, top to bottom; a row's y for slot r of the page.
int button_y(int i) { return 29 + 28 * i + 13; }
int row_y(int r) { return 28 + 22 * r + 8; }
constexpr int kSwitchX = 374;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Typed characters one sample apart, each a key with its decimal character code.
std::string type(int t, std::string_view text) {
  std::string out;
  for (char c : text) out += std::to_string(t++) + " key 57 " + std::to_string(static_cast<unsigned char>(c)) + "\n";
  return out;
}

class EditorTest : public ui::browser_test::BrowserTest {
 protected:
  project::Host host;
  std::unique_ptr<project::StateFiles> state = std::make_unique<project::StateFiles>();
  ui::Task task;

  void SetUp() override {
    BrowserTest::SetUp();
    if (IsSkipped()) return;
    host.work_folder = std::string_view(work);
    host.data_folder = std::string_view(work + "data/");
    project::read_state_files(*state, host);
    task.host = &host;
    task.state = state.get();
    task.screen = kit->screen;
    task.font = &font;
    task.skin = skin;
    task.headless = true;
  }

  std::string current() const { return work + "data/multilev.ini"; }
  std::unique_ptr<package::ProjectsList> saved(const std::string& path) const {
    auto list = std::make_unique<package::ProjectsList>();
    EXPECT_TRUE(package::load_list(*list, path, work)) << path;
    return list;
  }
  void save(const package::ProjectsList& list, const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(package::save_list(list, path, work));
  }
  // The editor with the script; what it printed on stderr.
  std::string run(const std::string& events) {
    script(events);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(package::self_executable_editor(task, 0));
    return testing::internal::GetCapturedStderr();
  }
};

TEST(EditorText, HelpLineFollowsTheMouse) {
  struct Case {
    int offset, x, y;
    const char* help;
  } cases[] = {
      {0, 10, 100, "SELF-EXECUTABLE EDITOR"},
      {0, 64, 100, "SELF-EXECUTABLE EDITOR"},  // column edges are outside
      {0, 65, 100, "Select image to use as 'loading' message"},
      {0, 160, 100, "SELF-EXECUTABLE EDITOR"},
      {0, 200, 100, "Select image to use as 'load complete' message (default_ = skip)"},
      {0, 300, 30, "Select the project to compile as entry point"},
      {0, 300, 50, "Select the project to compile as sub-project 002"},
      {20, 300, 30, "Select the project to compile as sub-project 021"},
      {480, 300, 28 + 22 * 19, "Select the project to compile as sub-project 500"},
      {0, 399, 100, "Switch project compilation On/Off"},
      {0, 400, 100, "SELF-EXECUTABLE EDITOR"},
  };
  for (const Case& c : cases) EXPECT_EQ(package::editor_help_text(c.offset, c.x, c.y), c.help) << c.x << "," << c.y;
}

TEST(EditorText, FileColumnsAndPages) {
  EXPECT_EQ(package::shown_file_name("/w/images/wait_.bmp"), "wait_");
  EXPECT_EQ(package::shown_file_name("/w/projects/myprj/default_.prj"), "default_");
  EXPECT_EQ(package::shown_file_name("/w/images/a_very_long_name.bmp"), "a_very_l");
  EXPECT_EQ(package::shown_file_name("/w/x.b"), "");
  EXPECT_EQ(package::shown_file_name(""), "");
  EXPECT_EQ(package::turn_page(0, -1), 0);
  EXPECT_EQ(package::turn_page(0, 1), 20);
  EXPECT_EQ(package::turn_page(480, 1), 480);
  EXPECT_EQ(package::turn_page(460, 1), 480);
}

TEST_F(EditorTest, PageOneOfAList) {
  auto list = std::make_unique<package::ProjectsList>();
  package::reset_list(*list, work);
  package::set_slot_field(*list, 2, package::kLoadingImage, work + "images/intro_320x240.bmp");
  package::set_slot_field(*list, 2, package::kProject, work + "projects/racing/racing.prj");
  package::toggle_compile_switch(*list, 2);
  save(*list, current());
  std::string shown = run("");
  EXPECT_NE(shown.find("SELF-EXECUTABLE EDITOR\nPage 1 of 25\n001 wait_ anykey_ default_ on\n002 wait_ anykey_ default_ off\n"
                       "003 intro_32 anykey_ racing on\n"),
            std::string::npos)
      << shown;
  std::uint8_t highlight = ui::skin_colour(skin, ui::SkinColour::highlight);
  EXPECT_EQ(at(kSwitchX, row_y(0)), highlight);
  EXPECT_NE(at(kSwitchX, row_y(1)), highlight);
  EXPECT_EQ(at(kSwitchX, row_y(2)), highlight);
  ui_test::expect_reference_picture(kit->screen, std::string(ZEPTA_PACKAGE_TESTDATA) + "/editor_page1.pcx", "editor");
}

TEST_F(EditorTest, PageKeysStayOnTheFirstAndLastPage) {
  EXPECT_NE(run(key(5, kScanPageUp)).find("Page 1 of 25\n001 "), std::string::npos);
  std::string downs;
  for (int k = 0; k < 26; ++k) downs += key(5 + 5 * k, kScanPageDown);
  EXPECT_NE(run(downs).find("Page 25 of 25\n481 "), std::string::npos);
  // The buttons do the same: Next once, Previous twice.
  std::string clicks = click(5, 520, button_y(1)) + click(15, 520, button_y(0)) + click(25, 520, button_y(0));
  EXPECT_NE(run(clicks).find("Page 1 of 25\n"), std::string::npos);
  EXPECT_NE(run(click(5, 520, button_y(1))).find("Page 2 of 25\n021 "), std::string::npos);
}

TEST_F(EditorTest, TheSwitchColumnTogglesAndEscapeSavesTheList) {
  ASSERT_FALSE(fs::exists(current()));
  run(click(5, kSwitchX, row_y(1)) + click(15, kSwitchX, row_y(0)) + key(25, kScanEscape) +
      click(35, kSwitchX, row_y(3)));  // after Escape: not taken
  auto list = saved(current());
  EXPECT_EQ(package::slot_field(*list, 0, package::kCompileSwitch), "0");
  EXPECT_EQ(package::slot_field(*list, 1, package::kCompileSwitch), "1");
  EXPECT_EQ(package::slot_field(*list, 3, package::kCompileSwitch), "0");
  std::string file = slurp(current());
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 500);
  EXPECT_EQ(file.substr(0, file.find('\n') + 1),
            "./images/wait_.bmp|./images/anykey_.bmp|./projects/myprj/default_.prj|0\r\n");
  // The next page's rows are slots 20 to 39.
  run(key(5, kScanPageDown) + click(15, kSwitchX, row_y(19)));
  EXPECT_EQ(package::slot_field(*saved(current()), 39, package::kCompileSwitch), "1");
}

TEST_F(EditorTest, SaveListUnderATypedName) {
  run(key(5, kScanS) + type(40, "my level.1") + key(60, kScanEnter, 13));
  std::string named = work + "multilev/mylevel.mlv";
  ASSERT_TRUE(fs::exists(named));
  EXPECT_EQ(slurp(named), slurp(current()));

  // The name exists: " NO! " leaves the file as it was, " YES " writes over it.
  std::string before = slurp(named);
  std::string answer_no = click(5, kSwitchX, row_y(0)) + key(15, kScanS) + type(40, "mylevel") + key(60, kScanEnter, 13) +
                          key(120, kScanDelete);
  run(answer_no);
  EXPECT_EQ(slurp(named), before);
  run(key(5, kScanS) + type(40, "mylevel") + key(60, kScanEnter, 13) + key(120, kScanEnter, 13));
  EXPECT_NE(slurp(named), before);
  EXPECT_EQ(package::slot_field(*saved(named), 0, package::kCompileSwitch), "0");

  // Nothing left of the name: nothing saved.
  run(key(5, kScanS) + type(40, "...") + key(60, kScanEnter, 13));
  EXPECT_EQ(std::distance(fs::directory_iterator(work + "multilev"), fs::directory_iterator()), 1);
}

TEST_F(EditorTest, LoadListTakesTheChosenFile) {
  auto list = std::make_unique<package::ProjectsList>();
  package::reset_list(*list, work);
  package::set_slot_field(*list, 7, package::kProject, work + "projects/a/b.prj");
  save(*list, work + "multilev/other.mlv");
  // The list browser's first row: the one file of multilev/.
  int h = std::max(1, media::glyph_height(font) / 2);
  int first_row = (480 - 46 * h) / 2 + 5 * h + 2;
  // Then the list's name is offered when saving: Enter, and " YES " to write over it.
  run(key(5, kScanL) + click(60, 320, first_row) + click(120, kSwitchX, row_y(0)) + key(130, kScanS) +
      key(190, kScanEnter, 13) + key(250, kScanEnter, 13) + key(310, kScanEscape));
  EXPECT_EQ(package::slot_field(*saved(current()), 7, package::kProject), work + "projects/a/b.prj");
  EXPECT_EQ(package::slot_field(*saved(work + "multilev/other.mlv"), 0, package::kCompileSwitch), "0");
  EXPECT_EQ(package::slot_field(*saved(work + "multilev/other.mlv"), 7, package::kProject), work + "projects/a/b.prj");
}

TEST_F(EditorTest, ResetListAsksFirst) {
  auto list = std::make_unique<package::ProjectsList>();
  package::reset_list(*list, work);
  package::toggle_compile_switch(*list, 0);
  package::toggle_compile_switch(*list, 4);
  package::set_slot_field(*list, 4, package::kExtra, "note");
  save(*list, current());
  std::string before = slurp(current());
  run(click(5, 520, button_y(5)) + key(60, kScanEnter, 13));  // " NO "
  EXPECT_EQ(slurp(current()), before);
  run(click(5, 520, button_y(5)) + key(60, kScanDelete));  // " YES "
  auto reset = saved(current());
  std::string first(package::default_slot_line(work).view());
  first.back() = '1';
  EXPECT_EQ(reset->slot[0], first);
  for (int s = 1; s < package::kSlots; ++s) ASSERT_EQ(reset->slot[s], package::default_slot_line(work)) << s;
}

TEST_F(EditorTest, ExecutableNameIsCutTo32Characters) {
  EXPECT_EQ(state->current_path[16], "Zepta 5.2");
  std::string erase;
  for (int k = 0; k < 9; ++k) erase += key(40 + k, kScanBackspace);
  std::string name = "A Game With A Name Of Forty Characters!!";
  ASSERT_EQ(name.size(), 40u);
  run(click(5, 520, button_y(6)) + erase + type(60, name) + key(120, kScanEnter, 13));
  EXPECT_EQ(state->current_path[16], name.substr(0, 32));
}

TEST_F(EditorTest, CreateExecutableLeavesTheEditor) {
  // " ABORT ": no build; the editor is left all the same (the later click is not taken).
  std::string shown = run(key(5, kScanX) + key(60, kScanDelete) + click(120, kSwitchX, row_y(1)));
  EXPECT_EQ(package::slot_field(*saved(current()), 1, package::kCompileSwitch), "0");
  EXPECT_EQ(shown.find("SELF-EXECUTABLE EDITOR"), std::string::npos) << shown;
  // " CONTINUE ", no screen saver, the build's result answered with " OK ".
  run(key(5, kScanX) + key(60, kScanEnter, 13) + key(120, kScanDelete) + key(200, kScanEnter, 13) +
      click(260, kSwitchX, row_y(1)));
  EXPECT_EQ(package::slot_field(*saved(current()), 1, package::kCompileSwitch), "0");
}

}  // namespace
