// The boxes brains open, driven by scripted input outside a run: every answer
// by key and by click, the field cut to its capacity, the prompt's place by
// lines, the drop-down's keys and clicks, and the defaults with nobody to answer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "media/media.h"
#include "platform/platform.h"
#include "base/memory.h"
#include "ui/test_input.h"
#include "ui/dialogs.h"

namespace ui {
namespace {

using test_input::script;

std::string click_at(int tick, int x, int y) {
  return std::to_string(tick) + " mouse " + std::to_string(x) + " " + std::to_string(y) + " 1\n" +
         std::to_string(tick + 1) + " mouse " + std::to_string(x) + " " + std::to_string(y) + " 0\n";
}

// Typing text from tick on, a character a tick.
std::string typed(int tick, std::string_view text) {
  std::string events;
  for (char c : text) events += std::to_string(tick++) + " key 30 " + std::to_string(static_cast<unsigned char>(c)) + "\n";
  return events;
}

struct DialogTest : ::testing::Test {
  static void SetUpTestSuite() { platform::init({true, false}); }

  media::Font font;
  std::vector<std::uint8_t> skin_bytes = std::vector<std::uint8_t>(base::area_size(base::Area::panel_image));
  Skin skin;
  std::vector<std::byte> block = std::vector<std::byte>(kMaxScreenWidth * kMaxScreenHeight);
  std::unique_ptr<Kit> kit = std::make_unique<Kit>();
  std::vector<std::string> colours = {"red", "green", "blue", "cyan", "magenta", "yellow",
                                      "black", "white", "grey", "orange"};

  void SetUp() override {
    const char* d = std::getenv("ZEPTA_TEST_DATA");
    std::string data = d ? std::string(d) + "/" : std::string();
    if (data.empty() || !std::filesystem::exists(data + "panels.pcx")) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    ASSERT_TRUE(media::load_font(data + "font.fnt", font, false));
    ASSERT_TRUE(load_skin(data + "panels.pcx", skin_bytes, skin));
    init_kit(*kit, make_screen(block, 640, 480), font, skin);
    platform::input().mouse_buttons = 0;
  }
  int ink() const {
    int n = 0;
    for (int i = 0; i < kit->screen.width * kit->screen.height; ++i) n += kit->screen.pixels[i] != 0;
    return n;
  }
  // The centre of button entry i as the last box left it.
  std::pair<int, int> centre(int i) const {
    const Button& b = kit->buttons[i];
    return {((b.left & 0x7FFF) + b.right) / 2, (b.top + b.bottom) / 2};
  }
};

using A = MessageAnswer;

TEST_F(DialogTest, MessageBoxAnswersByKey) {
  struct Case {
    int buttons;
    const char* events;
    A answer;
  } cases[] = {
      {1, "10 key 28 13\n", A::ok},            {1, "10 key 1 27\n", A::cancel},
      {1, "10 key 46 c\n", A::cancel},         {1, "10 key 15\n11 key 28 13\n", A::cancel},
      {2, "10 key 21 y\n", A::yes},            {2, "10 key 49 N\n", A::no},
      {2, "10 key 1 27\n11 key 28 13\n", A::no},  // no Cancel: Escape answers No
      {3, "10 key 77\n11 key 77\n12 key 57 32\n", A::cancel},
      {3, "10 key 75\n11 key 28 13\n", A::cancel},  // Left from the first wraps to the last
      {3, "10 key 15\n11 key 28 13\n", A::no},
      {0, "10 key 1 27\n", A::ok},             {7, "10 key 28 13\n", A::ok},
  };
  for (const Case& c : cases) {
    script(c.events);
    EXPECT_EQ(message_box(*kit, "Overwrite the file?", "Zepta", c.buttons, 2), c.answer) << c.buttons << " " << c.events;
    EXPECT_EQ(ink(), 0) << "the screen is cleared after the answer";
  }
}

TEST_F(DialogTest, MessageBoxAnswersByClick) {
  script("");  // drawn once, answered by nobody: the buttons stay in the table
  EXPECT_EQ(message_box(*kit, "Overwrite?", "Zepta", 3, 0), A::yes);
  auto [nx, ny] = centre(1);
  auto [cx, cy] = centre(2);
  script(click_at(10, nx, ny));
  EXPECT_EQ(message_box(*kit, "Overwrite?", "Zepta", 3, 0), A::no);
  script(click_at(10, cx, cy));
  EXPECT_EQ(message_box(*kit, "Overwrite?", "Zepta", 3, 0), A::cancel);
  HotArea close = kit->close_area;
  script(click_at(10, (close.x1 + close.x2) / 2, (close.y1 + close.y2) / 2));
  EXPECT_EQ(message_box(*kit, "Overwrite?", "Zepta", 3, 0), A::cancel);
  script("10 mouse 2 2 1\n11 mouse 2 2 0\n20 key 28 13\n");  // a press outside answers nothing
  EXPECT_EQ(message_box(*kit, "Overwrite?", "Zepta", 3, 0), A::yes);
}

TEST_F(DialogTest, BoxesNobodyAnswersPrintAndTakeTheirDefaults) {
  script("");
  testing::internal::CaptureStderr();
  EXPECT_EQ(message_box(*kit, "Really|quit?", "Zepta", 2, 2), A::yes);
  runtime_error_box(*kit, "First parameter of STR_ADD() instruction must be a string variable, not a constant string.");
  std::string text = "kept";
  EXPECT_TRUE(edit_box(*kit, "Your name?", "Zepta", 1, text, 10));
  EXPECT_TRUE(edit_box(*kit, "Your name?", "Zepta", 0, text, 10));
  EXPECT_EQ(list_box(*kit, "Colour?", "Zepta", 3, colours, 2), 2);
  EXPECT_EQ(list_box(*kit, "Colour?", "Zepta", 0, colours, 10), -1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(err,
            "Zepta\nReally\nquit?\n"
            "Runtime Error\nFirst parameter of STR_ADD() instruction must be a string variable, not a constant string.\n"
            "Zepta\nYour name?\nkept\n"
            "Your name?\nkept\n"  // the prompt in the title bar
            "Zepta\nColour?\nblue\n"
            "Colour?\n\n");
}

// Texts far longer than the screen: the boxes show what fits (stderr gets it all).
TEST_F(DialogTest, LongTextsShowWhatFits) {
  std::string words, letters(100000, 'w');
  for (int i = 0; i < 20000; ++i) words += "word ";
  script("10 key 28 13\n20 key 30 97\n21 key 28 13\n");
  EXPECT_EQ(message_box(*kit, words, words, 0, 0), A::ok);
  EXPECT_TRUE(edit_box(*kit, words, words, 2, letters, 200000));
  EXPECT_EQ(letters.size(), 100001u);
  script("");
  testing::internal::CaptureStderr();
  EXPECT_EQ(list_box(*kit, words, words, 0, std::vector<std::string>{letters}, 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr().size(), words.size() + letters.size() + 2);  // prompt in the title
}

TEST_F(DialogTest, InputBoxEditsWithinItsCapacity) {
  struct Case {
    const char* events;
    int max_chars;
    bool ok;
    const char* text;
  } cases[] = {
      {"10 key 46 c\n11 key 32 d\n12 key 18 e\n13 key 28 13\n", 4, true, "abcd"},  // e is past the capacity
      {"10 key 46 c\n11 key 1 27\n", 4, false, "ab"},
      {"10 key 14\n11 key 71\n12 key 46 c\n13 key 28 13\n", 9, true, "ca"},  // Backspace, Home, c
      {"10 key 28 13\n", 0, true, ""},  // no room at all
  };
  for (const Case& c : cases) {
    std::string text = "ab";
    script(c.events);
    EXPECT_EQ(edit_box(*kit, "Name?", "Zepta", 2, text, c.max_chars), c.ok) << c.events;
    EXPECT_EQ(text, c.text) << c.events;
  }
  // OK and Cancel by click: OK is entry 0, Cancel entry 1.
  std::string text = "ab";
  script("");
  edit_box(*kit, "Name?", "Zepta", 1, text, 9);
  auto [ox, oy] = centre(0);
  auto [cx, cy] = centre(1);
  // A press while a box redraws waits for its release there: clicks come a while after keys.
  script("10 key 46 c\n" + click_at(20, cx, cy));
  EXPECT_FALSE(edit_box(*kit, "Name?", "Zepta", 1, text, 9));
  EXPECT_EQ(text, "ab");
  script("10 key 46 c\n" + click_at(20, ox, oy));
  EXPECT_TRUE(edit_box(*kit, "Name?", "Zepta", 1, text, 9));
  EXPECT_EQ(text, "abc");
}

// Lines 1, 2, 3 put the prompt above the field in a text area of 16, 44 or 64
// dialog units, the box 69, 97 or 121 units high; any other value puts it in
// the title bar of a box 45 units high. A unit is 2 pixels.
TEST_F(DialogTest, ThePromptsPlaceFollowsLines) {
  struct Case {
    int lines;
    int height;
  } cases[] = {{1, 138}, {2, 194}, {3, 242}, {0, 90}, {4, 90}, {-1, 90}};
  for (const Case& c : cases) {
    std::string text;
    script("");
    edit_box(*kit, "A prompt of a few words", "Zepta", c.lines, text, 9);
    // The box is centred: its top from the close box, its height from the screen's middle.
    int top = kit->close_area.y1 - 6;
    EXPECT_EQ(top, ((480 - c.height) / 2) & ~3) << c.lines;
    script("");
    list_box(*kit, "A prompt of a few words", "Zepta", c.lines, colours, 0);
    EXPECT_EQ(kit->close_area.y1 - 6, ((480 - c.height) / 2) & ~3) << c.lines;
  }
}

TEST_F(DialogTest, ListBoxChoosesByKeyAndClick) {
  struct Case {
    std::string events;
    int selection;
    int chosen;
  } cases[] = {
      {"10 key 80\n11 key 80\n12 key 28 13\n", 0, 2},
      {"10 key 72\n11 key 28 13\n", 0, 0},  // Up at the top stays
      {"10 key 79\n11 key 28 13\n", 3, 9},  // End
      {"10 key 81\n11 key 28 13\n", 0, 7},  // Page Down: the drop-down's rows less one
      {"10 key 1 27\n", 4, -1},
      {"10 key 80\n11 key 28 13\n", -5, 0},  // no selection: Down takes the first
      {"10 key 28 13\n", 99, -1},            // OK with none chosen
      // F4 opens the drop-down; Enter there chooses and closes it, Escape goes back.
      {"10 key 62\n11 key 80\n12 key 28 13\n13 key 28 13\n", 1, 2},
      {"10 key 62\n11 key 80\n12 key 1 27\n13 key 28 13\n", 1, 1},
  };
  for (const Case& c : cases) {
    script(c.events);
    EXPECT_EQ(list_box(*kit, "Colour?", "Zepta", 1, colours, c.selection), c.chosen) << c.events;
    EXPECT_EQ(ink(), 0);
  }
  std::vector<std::string> none;
  script("10 key 80\n11 key 28 13\n");
  EXPECT_EQ(list_box(*kit, "Colour?", "Zepta", 1, none, 0), -1);

  // By mouse: the field opens the drop-down, a row chooses, OK answers.
  script("");
  list_box(*kit, "Colour?", "Zepta", 0, colours, 0);
  auto [ox, oy] = centre(0);
  auto [cx, cy] = centre(1);
  const Button& ok = kit->buttons[0];
  int field_x = (ok.left & 0x7FFF) - 60;  // the field lies left of the buttons, at OK's height in title mode
  script(click_at(10, ox, oy));
  EXPECT_EQ(list_box(*kit, "Colour?", "Zepta", 0, colours, 3), 3);
  script(click_at(10, cx, cy));
  EXPECT_EQ(list_box(*kit, "Colour?", "Zepta", 0, colours, 3), -1);
  int line = media::line_height(font);
  int field_y = oy, row4_y = ok.top + (media::glyph_height(font) + 10) - 2 + 2 + 4 * line + line / 2;
  script(click_at(10, field_x, field_y) + click_at(20, field_x, row4_y) + click_at(30, ox, oy));
  EXPECT_EQ(list_box(*kit, "Colour?", "Zepta", 0, colours, 0), 4);
}

TEST_F(DialogTest, FileBoxMasks) {
  struct Case {
    const char* filter;
    const char* mask;
  } cases[] = {
      {"Text files|*.txt|All files|*.*", "*.txt"}, {"Scores\\*.dat;*.sav\\", "*.dat"}, {"*.bmp", "*.bmp"},
      {"", "*.*"},                                 {"Anything", "*.*"},                   {"Tables| *.tab |", "*.tab"},
  };
  for (const Case& c : cases) EXPECT_EQ(file_mask(c.filter), c.mask) << c.filter;
}

// Opening goes through the list browser (rows of 10 pixels from y = 154 at
// x = 200 with the generated font); saving asks for a name.
TEST_F(DialogTest, FileBoxChoosesAFile) {
  char name[] = "/tmp/zepta_file_box_XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  std::string work = std::string(name) + "/", outside = std::string(name) + ".outside/";
  std::filesystem::create_directories(work + "sub");
  std::filesystem::create_directories(outside);
  std::ofstream(work + "scores.dat") << "1";
  std::ofstream(work + "sub/inner.dat") << "2";
  std::ofstream(outside + "far.dat") << "3";
  auto row = [](int tick, int r) { return click_at(tick, 200, 154 + 10 * r) + std::to_string(tick + 2) + " mouse 0 0 0\n"; };
  struct Case {
    std::string events;
    std::string start;
    bool save;
    bool chosen;
    std::string path;
  } cases[] = {
      {row(10, 1), "", false, true, "scores.dat"},  // row 0 is the folder "sub"
      {row(10, 0) + row(30, 0), "", false, true, "sub/inner.dat"},
      {row(10, 0), "sub/x.dat", false, true, "sub/inner.dat"},  // from the initial name's folder
      {row(10, 0), outside + "x.dat", false, true, outside + "far.dat"},  // outside: the whole path
      {"10 key 1 27\n", "", false, false, ""},
      {typed(10, "new.dat") + "20 key 28 13\n50 key 21 y\n", "", true, true, "new.dat"},
      {typed(10, "new.dat") + "20 key 28 13\n50 key 49 n\n", "", true, false, ""},
      {typed(10, "scores.dat") + "30 key 28 13\n60 key 49 n\n", "", true, false, ""},  // replace it? No
      {typed(10, "sub/../s2.dat") + "30 key 28 13\n60 key 21 y\n", "", true, true, "s2.dat"},
  };
  for (const Case& c : cases) {
    std::string path = c.start;
    script(c.events);
    testing::internal::CaptureStderr();
    EXPECT_EQ(file_box(*kit, path, "Scores|*.dat", "Zepta", c.save, 60, work), c.chosen) << c.events;
    testing::internal::GetCapturedStderr();
    if (c.chosen) {
      EXPECT_EQ(path, c.path) << c.events;
    }
  }
  // Nobody to choose: cancelled at once.
  script("");
  testing::internal::CaptureStderr();
  std::string path = "scores.dat";
  EXPECT_FALSE(file_box(*kit, path, "*.dat", "Zepta", false, 40, work));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Zepta\nOpen (*.dat), file name:\nscores.dat\n");
  std::filesystem::remove_all(work);
  std::filesystem::remove_all(outside);
}

}  // namespace
}  // namespace ui
