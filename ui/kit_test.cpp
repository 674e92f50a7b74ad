// The panel kit driven by scripted input, headless: answers, wrapping, the
// information panel, the input box, hit testing, the skin layout, the clipboard
// buffer, and one rendered message panel against its stored reference image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "media/media.h"
#include "ui/test_input.h"
#include "ui/reference_picture.h"
#include "platform/platform.h"
#include "base/memory.h"
#include "tests/watchdog.h"
#include "ui/ui.h"

namespace ui {
namespace {

using test_input::script;
using test_input::data_folder;

struct KitTest : ::testing::Test {
  static void SetUpTestSuite() { platform::init({true, false}); }

  media::Font font;
  std::vector<std::uint8_t> skin_bytes = std::vector<std::uint8_t>(base::area_size(base::Area::panel_image));
  Skin skin;
  std::vector<std::byte> block = std::vector<std::byte>(kMaxScreenWidth * kMaxScreenHeight);
  std::unique_ptr<Kit> kit = std::make_unique<Kit>();

  void SetUp() override {
    std::string data = data_folder();
    if (data.empty() || !std::filesystem::exists(data + "panels.pcx")) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    ASSERT_TRUE(media::load_font(data + "font.fnt", font, false));
    ASSERT_TRUE(load_skin(data + "panels.pcx", skin_bytes, skin));
    use_screen(640, 480);
    script("");  // nothing scripted: waits give up at once
    platform::input().mouse_buttons = 0;
    platform::input().mouse_x = platform::input().mouse_y = 0;
  }
  void use_screen(int w, int h) { init_kit(*kit, make_screen(block, w, h), font, skin); }
  std::uint8_t at(int x, int y) const { return kit->screen.pixels[y * kit->screen.width + x]; }
  int ink() const {
    int n = 0;
    for (int i = 0; i < kit->screen.width * kit->screen.height; ++i) n += kit->screen.pixels[i] != 0;
    return n;
  }
};

TEST_F(KitTest, QuestionAnswersByKeyAndClick) {
  MessageLayout m = draw_message_panel(*kit, "Save the changes?", " YES ", " NO ");
  const Button& no = kit->buttons[m.answer_buttons[1]];
  std::string click_no = "10 mouse " + std::to_string(no.left + 3) + " " + std::to_string(no.top + 3) + " 1\n" +
                         "11 mouse 0 0 0\n";
  struct Case {
    std::string events;
    int answer;
  } cases[] = {
      {"10 key 28 13\n", 1},  // Enter
      {"10 key 83\n", 2},     // Delete, scan code 0x53
      {"10 key 30 a\n11 key 28 13\n", 1},
      {click_no, 2},
  };
  for (const Case& c : cases) {
    script(c.events);
    EXPECT_EQ(message_panel(*kit, "Save the changes?", " YES ", " NO "), c.answer) << c.events;
    EXPECT_EQ(ink(), 0) << "the screen is cleared after the answer";
  }
}

TEST_F(KitTest, HeadlessQuestionTakesTheFirstAnswerAndPrintsTheText) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(message_panel(*kit, "Disk full|Retry?", " CONTINUE ", " ABORT "), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Disk full\nRetry?\n");
}

// In a run the script follows the engine tick, which stands still while a
// panel waits: the panel takes the next events, whatever their tick, and its
// default once they are used up.
TEST_F(KitTest, QuestionInARunTakesTheNextScriptedEventsWhateverTheirTick) {
  test_support::Watchdog watchdog("a question in a run", 120);
  struct Case {
    const char* events;
    int answer;
    const char* err;
  } cases[] = {
      {"500 key 83\n", 2, ""},
      {"500 key 30 a\n900 mouse 5 5 0\n9000 key 28 13\n", 1, ""},
      {"500 key 30 a\n", 1, "Go on?\n"},
  };
  for (const Case& c : cases) {
    platform::set_engine_tick(7);
    script(c.events);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(message_panel(*kit, "Go on?", " YES ", " NO "), c.answer) << c.events;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err) << c.events;
    platform::clear_engine_tick();
  }
}

TEST_F(KitTest, InputBoxInARunTakesTheScriptedTyping) {
  test_support::Watchdog watchdog("an input box in a run", 120);
  platform::set_engine_tick(3);
  script("100 key 30 a\n200 key 48 b\n300 key 28 13\n");
  EXPECT_EQ(input_box(*kit, 300, "", "Name?"), "ab");
  platform::clear_engine_tick();
}

TEST_F(KitTest, WordWrapKeepsLinesWithin560PixelsAndHonoursBars) {
  // The normal font: 8 pixels a character (6 + spacing 2), 8 a blank.
  std::string seventy(68, 'a');
  struct Case {
    std::string text, wrapped;
  } cases[] = {
      {"short text", "short text"},
      {"one|two  words|", "one|two words|"},
      {seventy + " b", seventy + " b"},     // 544 + 8 + 8 = 560 pixels: fits
      {seventy + " bc", seventy + "|bc"},   // 568 pixels: the word moves down
      {std::string(80, 'x'), std::string(80, 'x')},  // one word wider than a line stays whole
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(word_wrap(font, c.text), c.wrapped) << c.text;
  std::string long_text;
  for (int i = 0; i < 60; ++i) long_text += "word" + std::to_string(i) + " ";
  std::string wrapped = word_wrap(font, long_text);
  std::size_t start = 0;
  int lines = 0;
  for (;;) {
    std::size_t bar = wrapped.find('|', start);
    EXPECT_LE(media::text_width(font, wrapped.substr(start, bar - start)), kWrapWidth);
    ++lines;
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  EXPECT_GE(lines, 5);
  MessageLayout m = draw_message_panel(*kit, long_text + "|last", " OK ", "");
  EXPECT_EQ(m.lines, lines + 1);
}

TEST_F(KitTest, MessageLinesAreCentredOnThePanel) {
  MessageLayout m = draw_message_panel(*kit, "I|III", " YES ", " NO ");
  ASSERT_EQ(m.lines, 2);
  int h = media::glyph_height(font) + 6, cx = m.x + m.width / 2;
  std::uint8_t ink_colour = skin_colour(skin, SkinColour::text);
  for (int k = 1; k <= 2; ++k) {  // the ink of line k lies symmetric about the panel's middle
    int y0 = m.y + h / 2 + 2 + k * h - media::glyph_height(font) / 2;
    int left = 9999, right = -1;
    for (int y = y0; y < y0 + media::glyph_height(font); ++y)
      for (int x = m.x + 8; x < m.x + m.width - 8; ++x)
        if (at(x, y) == ink_colour) {
          left = std::min(left, x);
          right = std::max(right, x);
        }
    ASSERT_GE(right, left) << "line " << k;
    EXPECT_LE(std::abs((left + right) / 2 - cx), 2) << "line " << k;
  }
  // Panel position for each display mode: centred, two pixels of every four.
  struct Size {
    int w, h;
  } sizes[] = {{640, 480}, {800, 600}, {1024, 768}};
  for (Size s : sizes) {
    use_screen(s.w, s.h);
    MessageLayout c = draw_message_panel(*kit, "Hello", " OK ", "");
    EXPECT_EQ(c.x, ((s.w - c.width) / 4) * 2);
    EXPECT_EQ(c.y, ((s.h - c.height) / 4) * 2);
    EXPECT_NE(at(c.x + c.width / 2, c.y), 0);
  }
}

TEST_F(KitTest, InformationPanelStaysUntilDismissed) {
  EXPECT_EQ(message_panel(*kit, "Please wait...", "", ""), 0);
  EXPECT_TRUE(kit->info_showing);
  int shown = ink();
  EXPECT_GT(shown, 1000);
  pump(*kit);
  present(*kit);
  EXPECT_EQ(ink(), shown) << "the caller keeps working with the panel on screen";
  EXPECT_EQ(message_panel(*kit, "Building|the package|step 2", "", ""), 0);
  EXPECT_TRUE(kit->info_showing);
  EXPECT_EQ(message_panel(*kit, "", "", ""), 0);
  EXPECT_FALSE(kit->info_showing);
  EXPECT_EQ(ink(), 0);
}

TEST_F(KitTest, InputBoxClosesWithItsText) {
  // The box of width 300 sits at x 170; its close box covers x2 - 22 .. x2 - 7.
  int x2 = (170 + 300) & ~3;
  int y_top = ((480 - 8 * (media::glyph_height(font) / 2)) / 2 - 4 * (media::glyph_height(font) / 2) - 16) & ~3;
  std::string close = "20 mouse " + std::to_string(x2 - 14) + " " + std::to_string(y_top + 12) + " 1\n21 mouse 0 0 0\n";
  std::string typed = "10 key 30 a\n11 key 48 b\n12 key 75\n13 key 46 c\n";  // a b Left c
  struct Case {
    std::string events, result;
  } cases[] = {
      {typed + close, "nameacb"},
      {typed + "20 key 28 13\n", "nameacb"},
      {typed + "20 key 1 27\n", "nameacb"},
      {typed + "20 mouse 5 5 2\n21 mouse 5 5 0\n", "nameacb"},
      {"10 key 14 08\n11 key 14 08\n20 key 28 13\n", "na"}  // two Backspaces,
  };
  for (const Case& c : cases) {
    script(c.events);
    EXPECT_EQ(input_box(*kit, 300, "name", "Name of the file"), c.result) << c.events;
    EXPECT_EQ(ink(), 0);
  }
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(input_box(*kit, 300, "unchanged", "Rename to"), "unchanged");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Rename to\nunchanged\n");
}

TEST_F(KitTest, InputBoxEditingKeysAndClickPlacement) {
  InputState st;
  st.width = 400;
  st.x = 100;
  struct Case {
    const char *before, *after;
    int character, scan;
    const char *want_before, *want_after;
  } cases[] = {
      {"ab", "cd", 8, 14, "a", "cd"},   {"ab", "cd", 0, 83, "ab", "d"},  {"ab", "cd", 0, 71, "", "abcd"},
      {"ab", "cd", 0, 79, "abcd", ""},  {"ab", "cd", 0, 75, "a", "bcd"}, {"ab", "cd", 0, 77, "abc", "d"},
      {"", "", 0, 75, "", ""},          {"ab", "", 'x', 45, "abx", ""},  {"ab", "", 9, 15, "ab", ""},
  };
  for (const Case& c : cases) {
    st.before = c.before;
    st.after = c.after;
    input_key(*kit, st, c.character, c.scan, 100);
    EXPECT_EQ(st.before, c.want_before) << c.before << "|" << c.after << " scan " << c.scan;
    EXPECT_EQ(st.after, c.want_after) << c.before << "|" << c.after << " scan " << c.scan;
  }
  st.before = "abcd";
  st.after = "";
  input_click(*kit, st, 100 + 16 + 17);  // 8 pixels a character: two fit in 17
  EXPECT_EQ(st.before, "ab");
  EXPECT_EQ(st.after, "cd");
  input_click(*kit, st, 0);
  EXPECT_EQ(st.before, "");
}

TEST_F(KitTest, InputBoxRefusesCharactersPastItsWidth) {
  InputState st;
  st.width = 200;
  int limit = 200 - 32 - media::text_width(font, "Mm0wW") / 5;
  int accepted = 0;
  while (input_key(*kit, st, 'W', 17, 1000)) ++accepted;
  EXPECT_LT(media::text_width(font, st.before), limit);
  EXPECT_GE(media::text_width(font, st.before + "W"), limit);
  EXPECT_EQ(accepted, static_cast<int>(st.before.size()));
  EXPECT_FALSE(input_key(*kit, st, 'i', 23, 1000));
  st.before.clear();
  for (int i = 0; i < 5; ++i) input_key(*kit, st, 'i', 23, 3);  // the caller's capacity holds too
  EXPECT_EQ(st.before, "iii");
}

TEST_F(KitTest, ReadKeyAndAnyKey) {
  script("0 key 30 a\n0 key 72\n0 key 2 1\n1 down 42\n1 down 57\n");  // ticks count samples
  pump(*kit);
  pump(*kit);
  struct Case {
    const char* text;
    int scan;
  } cases[] = {{"a", 30}, {"", 72}, {"1", 2}, {"", 0}};
  for (Case c : cases) {
    EXPECT_EQ(read_key(*kit), c.text);
    EXPECT_EQ(kit->last_scan, c.scan);
  }
  EXPECT_EQ(any_key(*kit), 57) << "Shift is not a key of its own; Space is";
  script("0 up 57\n1 up 42\n");
  pump(*kit);
  pump(*kit);
  EXPECT_EQ(any_key(*kit), 0);
}

TEST_F(KitTest, HitTestFindsTheFirstButtonAddedAndTheWindowBoxes) {
  reset_buttons(*kit);
  EXPECT_EQ(add_button(*kit, 100, 100, 200, 140, 0), 0);
  EXPECT_EQ(add_button(*kit, 150, 120, 260, 160, 1), 1);
  EXPECT_EQ(kit->buttons[1].left, 150 | kStyleField);
  platform::Input& in = platform::input();
  struct Case {
    int x, y, hit;
  } cases[] = {{160, 130, 0}, {100, 100, 0}, {200, 140, 0}, {201, 141, 1}, {260, 160, 1}, {261, 160, -1}, {99, 100, -1}};
  for (Case c : cases) {
    in.mouse_x = c.x;
    in.mouse_y = c.y;
    EXPECT_EQ(hit_test(*kit), c.hit) << c.x << "," << c.y;
  }
  draw_panel(*kit, 300, 300, 500, 400, true);  // close area 478..493, 306..321
  in.mouse_x = 480;
  in.mouse_y = 310;
  EXPECT_EQ(hit_test(*kit), kCloseBox);
  in.mouse_x = 462;  // minimise area, no button down: nothing
  EXPECT_EQ(hit_test(*kit), -1);
  in.mouse_buttons = 1;  // pressed: the window is minimised (no window here), still -1
  EXPECT_EQ(hit_test(*kit), -1);
  in.mouse_buttons = 0;
  draw_panel(*kit, 300, 300, 500, 400, false);
  in.mouse_x = 480;
  EXPECT_EQ(hit_test(*kit), -1);
  kit->mouse_enabled = false;
  in.mouse_x = 160;
  in.mouse_y = 130;
  EXPECT_EQ(hit_test(*kit), -1);
  kit->mouse_enabled = true;
  // Negative and huge coordinates never turn into the style bit; a full table refuses.
  reset_buttons(*kit);
  EXPECT_EQ(add_button(*kit, -20, -20, 10, 10, 0), 0);
  EXPECT_EQ(kit->buttons[0].left & kStyleField, 0);
  for (int i = 1; i < kMaxButtons; ++i) add_button(*kit, 0, 0, 8, 8, 0);
  EXPECT_EQ(add_button(*kit, 0, 0, 8, 8, 0), -1);
}

TEST_F(KitTest, PanelIsLaidFromTheSkinTiles) {
  clear_screen(kit->screen);
  draw_panel(*kit, 101, 50, 303, 150, true);  // aligned: 100, 48; right tile at 296, bottom tile at 144
  auto tile_pixel = [&](int tile, int dx, int dy) { return skin_pixel(skin, tile * 4 + dx, dy); };
  struct Case {
    int x, y, tile, dx, dy;
  } cases[] = {
      {100, 48 + 30, 3, 0, 2},  // left edge
      {299, 48 + 30, 5, 3, 2},  // right edge
      {100, 144, 6, 0, 0},      // bottom-left corner
      {299, 147, 8, 3, 3},      // bottom-right corner
      {140, 146, 7, 1, 2},      // bottom edge
      {100, 48, 0, 0, 0},       // top-left corner
  };
  for (Case c : cases) EXPECT_EQ(at(c.x, c.y), tile_pixel(c.tile, c.dx, c.dy)) << c.x << "," << c.y;
  EXPECT_EQ(at(200, 100), skin_colour(skin, SkinColour::panel));
  EXPECT_EQ(at(250, 60), skin_colour(skin, SkinColour::title));
  EXPECT_EQ(at(300, 48), 0) << "nothing right of the aligned edge";
  // The window buttons image at (x2 aligned - 40, y1 + 6), colour 0 transparent.
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 34; ++x)
      if (std::uint8_t p = skin_pixel(skin, x, 26 + y)) {
        ASSERT_EQ(at(260 + x, 54 + y), p);
      }
  EXPECT_EQ(kit->close_area.x1, 278);
  EXPECT_EQ(kit->minimise_area.x2, 275);
  // A button: fill, then its frame tiles; a field frame without fill.
  clear_screen(kit->screen);
  reset_buttons(*kit);
  add_button(*kit, 20, 20, 60, 40, 0);
  EXPECT_EQ(at(20, 20), skin_pixel(skin, 36, 0));
  EXPECT_EQ(at(59, 39), skin_pixel(skin, 36 + 35, 3));
  EXPECT_EQ(at(30, 28), skin_colour(skin, SkinColour::button));
  EXPECT_EQ(at(60, 40), 0);
  draw_frame(*kit, 100, 100, 139, 119, 1);
  EXPECT_EQ(at(139, 119), skin_pixel(skin, 72 + 35, 3));
  EXPECT_EQ(at(120, 110), 0);
}

TEST_F(KitTest, ClipboardBufferFiltersPastedTextAndExpandsCopies) {
  auto& buffer = kit->clipboard;
  struct Case {
    std::string pasted, stored;
  } cases[] = {
      {"line one\r\nline two\r\n", "line one\rline two\r"},
      {"a|b||c\n", "abc"},
      {"", ""},
      {std::string(70000, 'z'), std::string(kClipboardChars, 'z')},
  };
  for (const Case& c : cases) {
    set_clipboard_buffer(buffer, c.pasted);
    EXPECT_EQ(buffer.tag, kClipboardTag);
    EXPECT_EQ(std::string(buffer.text, buffer.length), c.stored);
  }
  set_clipboard_buffer(buffer, "a\r\nb\r\n");
  EXPECT_EQ(clipboard_text_of(buffer), "a\r\nb\r\n");
  buffer.tag = 0;
  EXPECT_EQ(clipboard_text_of(buffer), "");
  buffer.tag = kClipboardTag;
  std::fill_n(buffer.text, kClipboardChars, 'q');
  buffer.length = 0xFFFFFFFF;  // a bad length reads no further than the buffer
  EXPECT_EQ(clipboard_text_of(buffer), std::string(kClipboardChars, 'q'));
}

TEST_F(KitTest, ClipboardRoundTripsThroughTheSystemClipboard) {
  // "\xE9" is e acute in Windows-1252; the system clipboard holds UTF-8.
  set_clipboard_buffer(kit->clipboard, "caf\xE9 |one\r\ntwo");
  copy_to_clipboard(*kit);
  std::string back;
  if (!platform::clipboard_text(back)) GTEST_SKIP() << "no system clipboard here";
  EXPECT_EQ(back, "caf\xE9 one\r\ntwo");
  kit->clipboard = ClipboardBuffer{};
  paste_from_clipboard(*kit);
  EXPECT_EQ(std::string(kit->clipboard.text, kit->clipboard.length), "caf\xE9 one\rtwo");
}

TEST_F(KitTest, PointerIsDrawnOnlyForThePresentation) {
  message_panel(*kit, "Working", "", "");
  std::vector<std::uint8_t> before(kit->screen.pixels, kit->screen.pixels + 640 * 480);
  platform::Input& in = platform::input();
  for (auto [x, y] : {std::pair{320, 240}, std::pair{635, 475}, std::pair{0, 0}}) {
    in.mouse_x = x;
    in.mouse_y = y;
    show_pointer(*kit, true);
    present(*kit);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), kit->screen.pixels)) << x << "," << y;
  }
  show_pointer(*kit, false);
}

TEST_F(KitTest, PrintRoutinesWriteAtTheTextCursorAndScroll) {
  clear_screen(kit->screen);
  print_text(*kit, "Hi", true);
  EXPECT_GT(ink(), 0);
  EXPECT_EQ(kit->print_x, 0);
  EXPECT_EQ(kit->print_y, media::line_height(font));
  for (int i = 0; i < 100; ++i) print_text(*kit, "line", true);
  EXPECT_LE(kit->print_y + media::line_height(font), 480);
  set_print_kit(kit.get());
  print_sink(std::string(200, 'x'), false);  // wraps at the right edge
  EXPECT_GT(kit->print_x, 0);
  set_print_kit(nullptr);
}

TEST_F(KitTest, MessagePanelMatchesItsReferenceImage) {
  draw_message_panel(*kit,
                     "The current brain modifications will be lost! Do you want to leave the editor anyway, "
                     "without saving the text?|Choose an answer.",
                     " CONTINUE ", " ABORT ");
  ui_test::expect_reference_picture(kit->screen, std::string(ZEPTA_UI_TESTDATA) + "/message_panel.pcx", "panel");
}

}  // namespace
}  // namespace ui
