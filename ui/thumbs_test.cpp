// The thumbnail chooser, erasing with companions, numbered frames, descriptions
// and the project browser, driven by scripted input headless.
#include <unistd.h>

#include "project/project.h"
#include "ui/browser_fixture.h"
#include "base/files.h"

namespace ui::browser_test {
namespace {

using enum platform::ScanCode;

// An uncompressed 8-bit BMP of w x h pixels of one colour, grey palette.
std::string bmp8(int w, int h, std::uint8_t colour) {
  int row = (w + 3) & ~3;
  std::uint32_t offset = 14 + 40 + 1024, size = offset + static_cast<std::uint32_t>(row * h);
  std::string b(size, '\0');
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<char>(v >> (8 * k));
  };
  b[0] = 'B', b[1] = 'M';
  put32(2, size);
  put32(10, offset);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(w));
  put32(22, static_cast<std::uint32_t>(h));
  b[26] = 1, b[28] = 8;
  for (int i = 0; i < 256; ++i) b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = static_cast<char>(i);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b[offset + static_cast<std::size_t>(y * row + x)] = static_cast<char>(colour);
  return b;
}

// The inside of cell i (0..8) and a point in it.
int cell_x(int i) { return 40 + 200 * (i % 3); }
int cell_y(int i) { return 80 + 130 * (i / 3); }
std::string click_cell(int t, int i, int button = 1) { return click(t, cell_x(i) + 80, cell_y(i) + 40, button); }

std::string chooser(Kit& kit, const BrowseFolders& f, const std::string& start, int kind, std::string* err = nullptr) {
  ::testing::internal::CaptureStderr();
  std::string chosen = thumbnail_chooser(kit, f, start, kind, "Choose");
  std::string e = ::testing::internal::GetCapturedStderr();
  if (err) *err = e;
  return chosen;
}

// ---- Erase, frames, descriptions ------------------------------------------------------------

using FilesTest = BrowserTest;

TEST_F(FilesTest, EraseTakesTheCompanionsOfImagesAndProjects) {
  struct Case {
    std::string erase;
    std::vector<std::string> present, gone;
  } cases[] = {
      {"ship.pcx", {"ship.pcxx", "shipx.002", "other.002"}, {"ship.pcx", "ship.002", "ship.003", "ship.999"}},
      {"level.prj", {"level.002"}, {"level.prj", "level.col"}},
      {"brain.brn", {"brain.002", "brain.003"}, {"brain.brn"}},  // no frames for other kinds
      {"ship.005", {"ship.pcx", "ship.004", "ship.006"}, {"ship.005"}},  // a numbered frame goes alone
      {"model.3ds", {"model.002"}, {"model.3ds"}},
  };
  for (const Case& c : cases) {
    std::string f = work + "erase/";
    fs::remove_all(f);
    for (const auto& list : {c.present, c.gone})
      for (const std::string& n : list) write_file(f + n, "x");
    EXPECT_EQ(erase_with_companions(f + c.erase, work), static_cast<int>(c.gone.size())) << c.erase;
    for (const std::string& n : c.present) EXPECT_TRUE(fs::exists(f + n)) << c.erase << ": " << n;
    for (const std::string& n : c.gone) EXPECT_FALSE(fs::exists(f + n)) << c.erase << ": " << n;
  }
}

TEST_F(FilesTest, EraseNeverFollowsALinkOutOfTheWorkingFolder) {
  char name[] = "/tmp/zepta_outside_XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  std::string outside = std::string(name) + "/";
  write_file(outside + "ship.pcx", "x");
  write_file(outside + "ship.002", "x");
  fs::create_symlink(outside, work + "link");
  write_file(work + "inside.pcx", "x");
  fs::create_symlink(outside + "ship.pcx", work + "alias.pcx");  // the link itself lies inside
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(erase_with_companions(work + "link/ship.pcx", work), -1);
  EXPECT_EQ(erase_with_companions(outside + "ship.pcx", work), -1);
  ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(fs::exists(outside + "ship.pcx"));
  EXPECT_TRUE(fs::exists(outside + "ship.002"));
  EXPECT_EQ(erase_with_companions(work + "alias.pcx", work), 1);  // the link goes, not what it names
  EXPECT_TRUE(fs::exists(outside + "ship.pcx"));
  EXPECT_EQ(erase_with_companions(work + "inside.pcx", work), 1);
  fs::remove_all(outside);
}

TEST_F(FilesTest, NumberedFramesCountUpToTheFirstGap) {
  struct Case {
    std::vector<std::string> files;
    int frames;
  } cases[] = {
      {{"a.pcx"}, 1},
      {{"a.pcx", "a.002", "a.003"}, 3},
      {{"a.pcx", "a.002", "a.004"}, 2},
      {{"a.pcx", "a.003"}, 1},
  };
  for (const Case& c : cases) {
    std::string f = work + "frames/";
    fs::remove_all(f);
    for (const std::string& n : c.files) write_file(f + n, "x");
    EXPECT_EQ(count_numbered_frames(f + "a.pcx"), c.frames) << c.files.size();
  }
}

TEST_F(FilesTest, DescriptionsComeFromTheOpeningComments) {
  struct Case {
    std::string text, description;
  } cases[] = {
      {";A racing game\r\n; with two cars \r\n;\r\n; not this\r\n", "A racing game with two cars "},
      {"; steers the car\r\nvar speed = 3 ; not this\r\n", "steers the car "},
      {"  ;indented\r\n;  second\r\n", "indented second "},
      {"var x\r\n; late\r\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    write_file(work + "d.brn", c.text);
    EXPECT_EQ(description_of(work + "d.brn"), c.description) << c.text;
  }
  EXPECT_EQ(description_of(work + "missing.brn"), "");
}

// ---- Thumbnail chooser ----------------------------------------------------------------------

struct ChooserTest : BrowserTest {
  std::string f;
  void SetUp() override {
    BrowserTest::SetUp();
    if (IsSkipped()) return;
    f = work + "sprites/";
    for (int i = 0; i < 12; ++i) write_sprite(f + "s" + std::to_string(10 + i) + ".pcx", 8, 6, static_cast<std::uint8_t>(20 + 10 * i));
  }
};

TEST_F(ChooserTest, PagesAreKeptBetweenCallsAndACellClickChooses) {
  // Page Up first, as an earlier test may have left the chooser on page 2.
  EXPECT_EQ(chooser(*kit, folders, f + "s10.pcx", 5), "");  // headless: cancelled
  script(key(10, kScanPageUp) + click_cell(30, 1));
  EXPECT_EQ(chooser(*kit, folders, f + "s10.pcx", 5), f + "s11.pcx");
  script(key(10, kScanPageDown) + key(30, kScanEscape));  // Page Down, Escape
  EXPECT_EQ(chooser(*kit, folders, f + "s10.pcx", 5), "");
  std::string err;
  EXPECT_EQ(chooser(*kit, folders, f + "s10.pcx", 5, &err), "");
  EXPECT_EQ(err, "Choose\n" + f + "\nPage 2 of 2\n  s19.pcx\n  s20.pcx\n  s21.pcx\n");  // the page shown last
  script(click_cell(10, 4) + click_cell(30, 2));  // an empty cell does nothing
  EXPECT_EQ(chooser(*kit, folders, f + "s10.pcx", 5), f + "s21.pcx");
  script(click(10, 160, 50) + click(30, 80, 50) + click_cell(50, 0));  // Page >> (no further), Page <<
  EXPECT_EQ(chooser(*kit, folders, f + "s10.pcx", 5), f + "s10.pcx");
  script(click(10, 625, 13));  // the close box
  EXPECT_EQ(chooser(*kit, folders, f + "s10.pcx", 5), "");
}

TEST_F(ChooserTest, ARightClickErasesWithTheFrames) {
  write_sprite(f + "a_ship.pcx", 16, 8, 200);
  write_file(f + "a_ship.002", "x");
  write_file(f + "a_ship.003", "x");
  script(key(4, kScanPageUp) + click_cell(20, 0, 2) + key(40, kScanN, 'n') + key(44, kScanEnter, 13) +
         key(80, kScanEscape));  // answered NO!
  EXPECT_EQ(chooser(*kit, folders, f + "x.pcx", 5), "");
  EXPECT_TRUE(fs::exists(f + "a_ship.pcx"));
  script(click_cell(20, 0, 2) + key(40, kScanDelete) + key(80, kScanEscape));  // Delete: " YES "
  EXPECT_EQ(chooser(*kit, folders, f + "x.pcx", 5), "");
  for (const char* n : {"a_ship.pcx", "a_ship.002", "a_ship.003"}) EXPECT_FALSE(fs::exists(f + n)) << n;
  EXPECT_TRUE(fs::exists(f + "s10.pcx"));
}

TEST_F(ChooserTest, ChangeDirectoryOpensTheListBrowser) {
  write_sprite(f + "more/m.pcx", 4, 4, 9);
  // The list browser shows "(dir) more" on its first row; then "m.pcx" in that folder.
  script(key(4, kScanPageUp) + click(20, 500, 50) + click(40, 200, 154) + click(60, 200, 154));
  std::string err;
  EXPECT_EQ(chooser(*kit, folders, f + "s10.pcx", 5, &err), "");
  EXPECT_EQ(err, "Choose\n" + f + "more/\nPage 1 of 1\n  m.pcx\n");
}

TEST_F(ChooserTest, DamagedFilesLeaveDarkCellsAndTheCrashMarkerGoes) {
  std::string g = work + "images/";
  write_file(g + "a_good.bmp", bmp8(32, 32, 200));
  write_file(g + "b_bad.bmp", "BM this is no picture");
  write_file(g + "c_bad.ppm", "P6 4 4 255\nshort");
  write_file(g + "d_good.ppm", "P3 2 1 255\n255 255 255 255 255 255\n");
  std::string err;
  script(key(4, kScanPageUp));
  EXPECT_EQ(chooser(*kit, folders, g + "x.bmp", kChooseImages, &err), "");
  EXPECT_EQ(err, "Choose\n" + g + "\nPage 1 of 1\n  a_good.bmp\n  b_bad.bmp\n  c_bad.ppm\n  d_good.ppm\n");
  EXPECT_FALSE(fs::exists(work + "data/crashed.txt"));
  // Picture area of each cell (above its label): the good ones drawn, the damaged ones dark.
  auto picture_ink = [&](int i) { return ink(cell_x(i) + 4, cell_y(i) + 4, cell_x(i) + 152, cell_y(i) + 90); };
  EXPECT_GT(picture_ink(0), 5000);
  EXPECT_EQ(picture_ink(1), 0);
  EXPECT_EQ(picture_ink(2), 0);
  EXPECT_GT(picture_ink(3), 5000);

  if (!has_renderer()) GTEST_SKIP() << renderer_error();
  std::string m = work + "3dsfiles/";
  fs::create_directories(m);
  fs::copy_file(test_data() + "../3dsfiles/default_.3ds", m + "a_good.3ds");
  write_file(m + "b_bad.3ds", std::string("MM\x06\x00\x00\x00", 6) + std::string(40, '\xff'));
  write_file(m + "c_empty.3ds", "");
  script(key(4, kScanPageUp));
  EXPECT_EQ(chooser(*kit, folders, m + "x.3ds", kChooseModels, &err), "");
  EXPECT_FALSE(fs::exists(work + "data/crashed.txt"));
  EXPECT_GT(picture_ink(0), 500);
  EXPECT_EQ(picture_ink(1), 0);
  EXPECT_EQ(picture_ink(2), 0);
}

TEST_F(ChooserTest, VisualsAndModelsDrawThroughTheScene) {
  if (!has_renderer()) GTEST_SKIP() << renderer_error();
  for (const char* sub : {"visuals", "xvisuals"}) fs::copy(test_data() + "../" + sub, work + sub);
  script(key(4, kScanPageUp));
  EXPECT_EQ(chooser(*kit, folders, work + "visuals/default_.v3d", kChooseVisuals), "");
  EXPECT_GT(ink(cell_x(0) + 4, cell_y(0) + 4, cell_x(0) + 152, cell_y(0) + 90), 500);
  // Without a renderer (headless, no window) the cell stays dark.
  BrowseFolders none = folders;
  none.renderer = nullptr;
  script(key(4, kScanPageUp));
  EXPECT_EQ(chooser(*kit, none, work + "visuals/default_.v3d", kChooseVisuals), "");
  EXPECT_EQ(ink(cell_x(0) + 4, cell_y(0) + 4, cell_x(0) + 152, cell_y(0) + 90), 0);
}

TEST_F(ChooserTest, APreviewOverTheScreenKeepsItWhereTheModelIsNot) {
  if (!has_renderer()) GTEST_SKIP() << renderer_error();
  PreviewModel m;
  std::string error;
  ASSERT_TRUE(platform::load_model(test_data() + "hood1a.x", m.vertices, error)) << error;
  for (bool keep : {true, false}) {
    std::fill_n(kit->screen.pixels, 640 * 480, std::uint8_t{77});
    ASSERT_TRUE(draw_model_preview(kit->screen, *preview_renderer(folders), 0, 0, 640, 480, m, PreviewView::camera, keep));
    int kept = 0;
    for (int i = 0; i < 640 * 480; ++i) kept += kit->screen.pixels[i] == 77;
    if (keep) {
      EXPECT_EQ(at(320, 10), 77);  // above the hood, which lies low in front of the camera
      EXPECT_GT(kept, 640 * 480 / 3);
      EXPECT_LT(kept, 640 * 480 * 19 / 20);
    } else {
      EXPECT_EQ(kept, 0);
    }
  }
  // A rectangle outside the renderer's target draws nothing.
  EXPECT_FALSE(draw_model_preview(kit->screen, *preview_renderer(folders), 600, 400, 100, 100, m, PreviewView::fitted, false));
}

TEST_F(ChooserTest, DrawnAsTheReference) {
  write_sprite(f + "a_ship.pcx", 40, 20, 100);
  write_file(f + "a_ship.002", "x");
  write_file(f + "a_ship.003", "x");
  script(key(4, kScanPageUp));
  chooser(*kit, folders, f + "s10.pcx", 5);
  expect_reference("thumbnail_chooser.pcx");
}

// ---- Project browser ------------------------------------------------------------------------

struct ProjectsTest : BrowserTest {
  std::unique_ptr<project::StateFiles> state = std::make_unique<project::StateFiles>();
  std::string p;
  void SetUp() override {
    BrowserTest::SetUp();
    if (IsSkipped()) return;
    p = work + "projects/";
    for (int i = 0; i < 31; ++i) {
      std::string n = p + "kit_a/game" + std::to_string(10 + i);
      write_file(n + ".prj", ";Game number " + std::to_string(i) + "\r\n1\r\n");
      write_file(n + ".col", "");
    }
    write_file(p + "kit_a/descrptn.txt", "Kit A: thirty-one games\r\nsecond line\r\n");
    fs::create_directories(p + "kit_b");
    write_file(p + "kit_c/only.prj", "");
  }
  std::string browse(std::string* err = nullptr) {
    ::testing::internal::CaptureStderr();
    std::string chosen = browse_projects(*kit, folders, *state);
    std::string e = ::testing::internal::GetCapturedStderr();
    if (err) *err = e;
    return chosen;
  }
  static int row_y(int r) { return 34 + 14 * r + 5; }
};

TEST_F(ProjectsTest, KitsPagesAndChoosing) {
  std::string err;
  EXPECT_EQ(browse(&err), "");
  EXPECT_EQ(err.substr(0, err.find('\n')), "Current resource-kit: KIT_A (page 1 of 2)");
  EXPECT_NE(err.find("\n  game10  - Game number 0 \n"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 31);

  script(key(10, kScanRight));  // right cursor: page 2 holds one project
  EXPECT_EQ(browse(&err), "");
  EXPECT_EQ(err, "Current resource-kit: KIT_A (page 2 of 2)\n  game40  - Game number 30 \n");
  EXPECT_EQ(project::editor_value(*state, 17), 1);
  EXPECT_EQ(browse(&err), "");  // kit and page kept
  EXPECT_EQ(err.substr(0, err.find('\n')), "Current resource-kit: KIT_A (page 2 of 2)");

  script(click(10, 300, row_y(3)) + click(30, 300, row_y(0)));  // an empty row, then the project
  EXPECT_EQ(browse(), p + "kit_a/game40.prj");

  script(key(10, kScanDown));  // down: kit_b holds no project, kit_c does
  EXPECT_EQ(browse(&err), "");
  EXPECT_EQ(err, "Current resource-kit: KIT_C (page 1 of 1)\n  only\n");
  EXPECT_EQ(project::editor_value(*state, 16), 2);
  script(key(10, kScanDown) + key(30, kScanUp) + key(50, kScanEscape));  // no kit after it; up skips kit_b; Escape
  EXPECT_EQ(browse(), "");
  EXPECT_EQ(project::editor_value(*state, 16), 0);
  EXPECT_EQ(project::editor_value(*state, 17), 0);
}

TEST_F(ProjectsTest, InfoShowsTheKitDescription) {
  std::string err;
  script(click(10, 600, 459));  // INFO; the panel then answers itself
  EXPECT_EQ(browse(&err), "");
  EXPECT_EQ(err.substr(0, err.find('\n')), "Kit A: thirty-one games");
  project::set_editor_value(*state, 16, 2);
  script(click(10, 600, 459));
  EXPECT_EQ(browse(&err), "");
  EXPECT_EQ(err.substr(0, err.find('\n')), "Resource description not found!");
}

TEST_F(ProjectsTest, ARightClickErasesTheProjectAndItsCollisionFile) {
  script(click(10, 300, row_y(1), 2) + key(30, kScanDelete) + key(50, kScanEscape));
  EXPECT_EQ(browse(), "");
  EXPECT_FALSE(fs::exists(p + "kit_a/game11.prj"));
  EXPECT_FALSE(fs::exists(p + "kit_a/game11.col"));
  EXPECT_TRUE(fs::exists(p + "kit_a/game10.prj"));
}

TEST_F(ProjectsTest, NoKitsAtAll) {
  fs::remove_all(p);
  std::string err;
  EXPECT_EQ(browse(&err), "");
  EXPECT_EQ(err, "Current resource-kit: (none) (page 1 of 1)\n");
}

TEST_F(ProjectsTest, DrawnAsTheReference) {
  browse();
  expect_reference("project_browser.pcx");
}

}  // namespace
}  // namespace ui::browser_test
