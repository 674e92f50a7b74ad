// The directory listing and the list browser, driven by scripted input headless.
#include "ui/browser_fixture.h"

namespace ui::browser_test {
namespace {

using enum platform::ScanCode;

using ListingTest = BrowserTest;

TEST_F(ListingTest, FoldersFirstInLowerCaseWithSizes) {
  std::string f = work + "mixed/";
  for (int i = 0; i < 25; ++i) write_file(f + "File" + std::to_string(100 + i) + ".PCX", std::string(i, 'x'));
  for (const char* d : {"Zeta", "alpha", "Beta"}) fs::create_directories(f + d);
  write_file(f + "Tab\tName.pcx", "abc");
  write_file(f + ".hidden.pcx", "");
  write_file(f + "pipe|name.pcx", "");
  StringTable& t = shared_strings();
  ASSERT_EQ(list_directory(t, f, "*.pcx"), 29);
  std::vector<std::string> want = {"(dir) alpha|0", "(dir) beta|0", "(dir) zeta|0", "file100.pcx|0", "file101.pcx|1"};
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(t.entry[i + 1], want[i]) << i;
  EXPECT_EQ(t.entry[28], "file124.pcx|24");
  EXPECT_EQ(t.entry[29], "tab name.pcx|3");
  EXPECT_TRUE(t.entry[0].empty());
  EXPECT_TRUE(t.entry[30].empty());
}

TEST_F(ListingTest, MasksAndTheBmpRule) {
  std::string f = work + "m/";
  for (const char* n : {"a.bmp", "b.PPM", "c.pcx", "d", "e.BMP", "f.3ds", "g.GLTF", "h.glb", "i.obj", "j.x"})
    write_file(f + n, "1");
  struct Case {
    const char* mask;
    std::vector<std::string> names;
  } cases[] = {
      {"*.bmp", {"a.bmp|1", "b.ppm|1", "e.bmp|1"}},
      {"*.BMP", {"a.bmp|1", "b.ppm|1", "e.bmp|1"}},
      {"*.pcx", {"c.pcx|1"}},
      {"*.*", {"a.bmp|1", "b.ppm|1", "c.pcx|1", "d|1", "e.bmp|1", "f.3ds|1", "g.gltf|1", "h.glb|1", "i.obj|1", "j.x|1"}},
      {"*.3ds", {"f.3ds|1", "g.gltf|1", "h.glb|1", "i.obj|1"}},  // every model file but meshes
      {"*.obj", {"i.obj|1"}},
      {"*.ppm", {"b.ppm|1"}},
  };
  StringTable& t = shared_strings();
  for (const Case& c : cases) {
    ASSERT_EQ(list_directory(t, f, c.mask), static_cast<int>(c.names.size())) << c.mask;
    for (std::size_t i = 0; i < c.names.size(); ++i) EXPECT_EQ(t.entry[i + 1], c.names[i]) << c.mask;
  }
}

TEST_F(ListingTest, AFullTableAndAnUnreadableFolder) {
  std::string f = work + "full/";
  for (int i = 0; i < 3; ++i) fs::create_directories(f + "dir" + std::to_string(i));
  for (int i = 0; i < 600; ++i) write_file(f + "f" + std::to_string(1000 + i) + ".txt", "");
  StringTable& t = shared_strings();
  ASSERT_EQ(list_directory(t, f, "*.*"), kSharedStrings - 1);
  EXPECT_EQ(t.entry[1], "(dir) dir0|0");
  EXPECT_EQ(t.entry[4], "f1000.txt|0");
  EXPECT_EQ(t.entry[499], "f1495.txt|0");

  EXPECT_EQ(list_directory(t, work + "missing/", "*.*"), -1);
  EXPECT_EQ(list_directory(t, f + "f1000.txt", "*.*"), -1);  // a file is no folder
  EXPECT_TRUE(t.entry[1].empty());
}

TEST_F(ListingTest, EntriesTakenApart) {
  struct Case {
    const char* entry;
    const char* name;
    long size;
    bool folder;
  } cases[] = {
      {"a.pcx|1234", "a.pcx", 1234, false},
      {"(dir) sub|0", "sub", 0, true},
      {"(No files found)", "(No files found)", 0, false},
      {"(dir) |0", "", 0, true},
  };
  for (const Case& c : cases) {
    Entry e = entry_of(c.entry);
    EXPECT_EQ(e.name, c.name) << c.entry;
    EXPECT_EQ(e.size, c.size) << c.entry;
    EXPECT_EQ(e.folder, c.folder) << c.entry;
  }
}

TEST_F(ListingTest, PlacesBeginWithTheWorkingFolderHomeAndRoot) {
  Place places[kMaxPlaces];
  int n = list_places(work, places);
  ASSERT_GE(n, 3);
  ASSERT_LE(n, kMaxPlaces);
  EXPECT_STREQ(places[0].label, "W");
  EXPECT_EQ(places[0].path, work);
  EXPECT_STREQ(places[1].label, "H");
  EXPECT_EQ(places[2].path, "/");
  for (int i = 3; i < n; ++i) EXPECT_EQ(places[i].label[0], '0' + i - 2);
}

// ---- The list browser --------------------------------------------------------------------

// Its layout with the generated font: x0 = 120, rows of 10 pixels from y = 150.
constexpr int kRowX = 200;
int row_y(int r) { return 150 + 10 * r + 4; }

struct ListBrowserTest : BrowserTest {
  std::string f;
  void SetUp() override {
    BrowserTest::SetUp();
    if (IsSkipped()) return;
    f = work + "list/";
    write_file(f + "Beta.PCX", "12345");
    write_file(f + "alpha.pcx", "");
    write_file(f + "notes.txt", "x");
    write_file(f + "Sub/inner.pcx", "1");
  }
};

TEST_F(ListBrowserTest, AClickOnARowChoosesThatFile) {
  struct Case {
    std::string events;
    std::string chosen;
  } cases[] = {
      {click(10, kRowX, row_y(2)), f + "Beta.PCX"},                           // as it is on disk
      {click(10, kRowX, row_y(1)), f + "alpha.pcx"},
      {click(10, kRowX, row_y(0)) + click(30, kRowX, row_y(0)), f + "Sub/inner.pcx"},  // into the folder
      {click(10, kRowX, row_y(0)) + key(30, kScanBackspace) + click(50, kRowX, row_y(1)), f + "alpha.pcx"},  // ".."
      {click(10, kRowX, row_y(7)) + click(30, kRowX, row_y(1)), f + "alpha.pcx"},  // past the end: nothing chosen
      {key(10, kScanEscape), ""},                                              // Escape
      {click(10, 625, 121), ""},                                              // the close box
  };
  for (const Case& c : cases) {
    script(c.events);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(list_browser(*kit, folders, f + "alpha.pcx", "*.pcx"), c.chosen) << c.events;
    ::testing::internal::GetCapturedStderr();
  }
}

TEST_F(ListBrowserTest, HeadlessItCancelsAndTellsWhatItShowed) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list_browser(*kit, folders, f + "x.pcx", "*.pcx"), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Click any file name to confirm\n" + f + "\n  (dir) sub\n  alpha.pcx\n  beta.pcx  5\n");

  fs::create_directories(f + "empty");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list_browser(*kit, folders, f + "empty/", "*.pcx"), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Click any file name to confirm\n" + f + "empty/\n(No files found)\n");

  // A folder that cannot be read: the working folder instead, "Device not ready!" in the middle.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list_browser(*kit, folders, work + "gone/x.pcx", "*.pcx"), "");
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.substr(0, err.find('\n', 31) + 1), "Click any file name to confirm\n" + work + "\n") << err;
  EXPECT_GT(ink(260, 236, 380, 244), 0);
}

TEST_F(ListBrowserTest, ClicksOnTheEmptyRowOfNoFilesChooseNothing) {
  fs::create_directories(f + "empty");
  script(click(10, kRowX, row_y(0)) + key(30, kScanEscape));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(list_browser(*kit, folders, f + "empty/", "*.pcx"), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(ListBrowserTest, LongListsScrollByLetterPageAndThumb) {
  std::string g = work + "long/";
  for (int i = 0; i < 45; ++i) write_file(g + std::string(1, static_cast<char>('a' + i / 4)) + std::to_string(i) + ".pcx", "");
  // 45 entries by name bytes: a0..a3, b4..b7, c10 c11 c8 c9, d12.., ..., l44. The thumb is 6 pixels high at
  // 150 + (194 * (top - 1)) / 25 in the track x 518..528.
  struct Case {
    std::string events;
    std::string top_row;  // the first entry shown when the script ends
  } cases[] = {
      {key(10, kScanE, 'e'), "e16.pcx"},                              // the first name with "e" on top
      {key(10, kScanK, 'k'), "g25.pcx"},                              // kept to n - 19
      {key(10, kScanZ, 'z'), "a0.pcx"},                               // no such letter: stays
      {click(10, 523, 300), "e19.pcx"},                               // below the thumb: 19 down, entry 20
      {click(10, 523, 300) + click(30, 523, 340), "g25.pcx"},         // kept to n - 19: entry 26
      {click(10, 523, 300) + click(30, 523, 160), "a0.pcx"},          // above it: 19 up
      {"10 mouse 523 152 1\n14 mouse 523 250 1\n18 mouse 523 250 0\n", "d12.pcx"},  // dragged: 25 * 100 / 196 + 1
      {"10 mouse 523 152 1\n14 mouse 523 600 1\n18 mouse 523 600 0\n", "g25.pcx"},  // past the end: the last page
  };
  for (const Case& c : cases) {
    script(c.events);
    ::testing::internal::CaptureStderr();
    list_browser(*kit, folders, g, "*.pcx");
    std::string err = ::testing::internal::GetCapturedStderr();
    std::string first = "Click any file name to confirm\n" + g + "\n  ";
    ASSERT_EQ(err.substr(0, first.size()), first) << c.events;
    EXPECT_EQ(err.substr(first.size(), err.find('\n', first.size()) - first.size()), c.top_row) << c.events;
  }
}

TEST_F(ListBrowserTest, DrawnAsTheReference) {
  // A long folder name, so that the path line shows only names made here.
  std::string deep = work + "a_folder_whose_name_is_longer_than_the_path_line_of_the_list_browser/";
  write_file(deep + "Beta.PCX", "12345");
  write_file(deep + "alpha.pcx", "");
  fs::create_directories(deep + "sub");
  ::testing::internal::CaptureStderr();
  list_browser(*kit, folders, deep, "*.pcx");
  ::testing::internal::GetCapturedStderr();
  // The place buttons below "W", "H" and "/" depend on the machine's mounts.
  for (int y = 150 + 4 * 14; y < 150 + 11 * 14; ++y)
    for (int x = 106; x <= 122; ++x) kit->screen.pixels[y * 640 + x] = 0;
  expect_reference("list_browser.pcx");
}

}  // namespace
}  // namespace ui::browser_test
