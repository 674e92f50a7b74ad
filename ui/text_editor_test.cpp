// The script text editor driven through its keys and mouse: editing, the
// selection, the clipboard, the undo ring, find, indent-all, the filter and
// its warning, the size cap, show mode, files written with CR LF, the main
// cycle on scripted input, and the show-mode screen against its reference picture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/memory.h"
#include "media/media.h"
#include "platform/platform.h"
#include "tests/watchdog.h"
#include "ui/test_input.h"
#include "ui/reference_picture.h"
#include "ui/text_editor.h"
#include "ui/ui.h"

namespace ui {
namespace {

using test_input::script;
using test_input::data_folder;

namespace fs = std::filesystem;

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Keys by name: "<S-Right>" is Right with Shift, "<C-x>" Ctrl+X, "<A-d>" Alt+D.
struct KeyName {
  const char* name;
  int scan;
};
constexpr KeyName kKeys[] = {
    {"Enter", platform::kScanEnter}, {"Tab", platform::kScanTab},     {"BS", platform::kScanBackspace},
    {"Del", platform::kScanDelete},  {"Home", platform::kScanHome},   {"End", platform::kScanEnd},
    {"Left", platform::kScanLeft},   {"Right", platform::kScanRight}, {"Up", platform::kScanUp},
    {"Down", platform::kScanDown},   {"PgUp", platform::kScanPageUp}, {"PgDn", platform::kScanPageDown},
    {"F1", platform::kScanF1},       {"F2", platform::kScanF2},       {"F3", platform::kScanF3},
    {"F4", platform::kScanF4},       {"Esc", platform::kScanEscape},  {"x", 45},
    {"c", 46},                       {"v", 47},                       {"a", 30},
    {"u", 22},                       {"r", 19},                       {"h", 35},
    {"d", 32},
};

struct EditorTest : ::testing::Test {
  static void SetUpTestSuite() { platform::init({true, false}); }

  std::unique_ptr<Kit> kit = std::make_unique<Kit>();
  std::unique_ptr<TextEditor> ed = std::make_unique<TextEditor>();
  EditorExit last_exit = EditorExit::escape;

  // Applies keys written as text: characters are typed, "<...>" names a key.
  // True when a key ended the cycle.
  bool keys(std::string_view k) {
    bool left = false;
    for (std::size_t i = 0; i < k.size(); ++i) {
      if (k[i] != '<') {
        left |= ed->key(*kit, platform::kScanSpace, static_cast<unsigned char>(k[i]), 0, &last_exit);
        continue;
      }
      std::size_t close = k.find('>', i);
      std::string_view name = k.substr(i + 1, close - i - 1);
      i = close;
      int modifiers = 0;
      while (name.size() > 2 && name[1] == '-') {
        modifiers |= name[0] == 'S' ? 3 : name[0] == 'C' ? 4 : 8;
        name.remove_prefix(2);
      }
      int scan = -1;
      for (const KeyName& n : kKeys)
        if (name == n.name) scan = n.scan;
      EXPECT_NE(scan, -1) << name;
      left |= ed->key(*kit, scan, 0, modifiers, &last_exit);
    }
    return left;
  }
  std::string buffer() const { return std::string(ed->buffer()); }
};

// ---- Editing ---------------------------------------------------------------------------------

TEST_F(EditorTest, KeysEditTheText) {
  struct Case {
    const char* text;
    const char* keys;
    const char* buffer;
    int line, column;
  } cases[] = {
      {"", "abc", "abc\r", 1, 3},
      {"", "ab<Enter>cd", "ab\rcd\r", 2, 2},
      {"abc\r\n", "<End><BS>", "ab\r", 1, 2},
      {"ab\r\ncd\r\n", "<Down><BS>", "abcd\r", 1, 2},        // Backspace at column 0 joins the lines
      {"abc", "<BS>", "abc\r", 1, 0},                         // nothing before the very start
      {"abc", "<Del>", "bc\r", 1, 0},
      {"abc\r\nd", "<End><Del>", "abc\rd\r", 1, 3},          // the line end stays
      {"ab", "<Right><Right><Right><Right>x", "ab  x\r", 1, 5},  // past the end: blanks first
      {"ab", "<Right><Right><Right><Right><BS>", "ab\r", 1, 3},  // past the end: only the cursor moves
      {"", "<Tab>x", "  x\r", 1, 3},
      {"a", "<End><Tab>x", "a x\r", 1, 3},
      {"abc", "<Right><Home>x<End>y", "xabcy\r", 1, 5},
      {"one\r\ntwo\r\nthree", "<Down><A-d>", "one\rthree\r", 2, 0},
      {"only", "<A-d>", "\r", 1, 0},
      {"one\r\ntwo", "<Down><Down><Down>x", "one\rxtwo\r", 2, 1},  // the cursor stays on the text's lines
      {"ab", "<Left><Up>x", "xab\r", 1, 1},
  };
  for (const Case& c : cases) {
    ed->open_text(c.text, EditorMode::edit);
    EXPECT_FALSE(keys(c.keys)) << c.keys;
    EXPECT_EQ(buffer(), c.buffer) << c.text << " + " << c.keys;
    EXPECT_EQ(ed->cursor_line(), c.line) << c.keys;
    EXPECT_EQ(ed->view().column, c.column) << c.keys;
  }
}

TEST_F(EditorTest, ShiftSelectsAndWhatIsTypedReplacesTheSelection) {
  struct Case {
    const char* text;
    const char* keys;
    const char* buffer;
  } cases[] = {
      {"hello world", "<S-Right><S-Right><S-Right><S-Right><S-Right>HEY", "HEY world\r"},
      {"hello world", "<End><S-Left><S-Left><S-Left><S-Left><S-Left><BS>", "hello \r"},
      {"one\r\ntwo", "<S-Down><Del>", "two\r"},                     // a whole line with its end
      {"one\r\ntwo", "<Down><S-Up><Enter>", "\rtwo\r"},             // Enter replaces it too
      {"abc", "<S-Right><Right>x", "axbc\r"},                       // a key without Shift collapses it
  };
  for (const Case& c : cases) {
    ed->open_text(c.text, EditorMode::edit);
    keys(c.keys);
    EXPECT_EQ(buffer(), c.buffer) << c.keys;
  }
}

TEST_F(EditorTest, CutCopyAndPasteGoThroughTheClipboardBuffer) {
  ed->open_text("hello world\r\nnext", EditorMode::edit);
  keys("<S-Right><S-Right><S-Right><S-Right><S-Right><C-x>");
  EXPECT_EQ(buffer(), " world\rnext\r");
  EXPECT_EQ(kit->clipboard.tag, kClipboardTag);
  EXPECT_EQ(clipboard_text_of(kit->clipboard), "hello");
  keys("<End><C-v><Down><Home><C-v>");
  EXPECT_EQ(buffer(), " worldhello\rhellonext\r");

  // Lines travel as CR LF on the clipboard; the filtered characters are left out of a paste.
  ed->open_text("one\r\ntwo\r\n", EditorMode::edit);
  keys("<S-Down><C-c>");
  EXPECT_EQ(clipboard_text_of(kit->clipboard), "one\r\n");
  set_clipboard_buffer(kit->clipboard, "a{b}\r\nc~");
  platform::set_clipboard_text("a{b}\r\nc~");
  keys("<Down><Down><C-v>");
  EXPECT_EQ(buffer(), "one\rab\rctwo\r");  // the text has two lines: the cursor stays on the second
}

TEST_F(EditorTest, TypingAtColumn79InsertsNothing) {
  std::string line(79, 'a');
  ed->open_text(line, EditorMode::edit);
  keys("<End>");
  EXPECT_EQ(ed->view().column, 79);
  keys("xy<Tab>");
  EXPECT_EQ(buffer(), line + "\r");
  ed->open_text(std::string(78, 'b'), EditorMode::edit);
  keys("<End><Tab>");  // Tab only below column 78
  EXPECT_EQ(buffer(), std::string(78, 'b') + "\r");
}

TEST_F(EditorTest, TheCursorScrollsTheViewAtTheTopAndBottom) {
  std::string text;
  for (int i = 1; i <= 100; ++i) text += "line " + std::to_string(i) + "\r\n";
  ed->open_text(text, EditorMode::edit);
  for (int i = 0; i < 45; ++i) keys("<Down>");
  EXPECT_EQ(ed->cursor_line(), 46);
  EXPECT_EQ(ed->view().row, 39);
  keys("<PgDn>");  // 39 lines down, the cursor on row 39
  EXPECT_EQ(ed->view().row, 39);
  EXPECT_EQ(ed->cursor_line(), 85);
  keys("<PgUp>");  // 40 lines up, the cursor on row 0
  EXPECT_EQ(ed->view().row, 0);
  EXPECT_EQ(ed->cursor_line(), 6);
  keys("<Up><Up>");
  EXPECT_EQ(ed->cursor_line(), 4);
  EXPECT_EQ(ed->view().row, 0);
  ed->mouse(100, 100, false, false, 120);  // the wheel towards the user: 3 lines down
  EXPECT_EQ(ed->view().top, static_cast<int>(text.find("line 7")) - 6);  // 6 CRs fewer than CR LFs
  EXPECT_EQ(ed->cursor_line(), 7);  // kept on row 0
}

TEST_F(EditorTest, TheMousePlacesTheCursorAndDragsTheSelection) {
  ed->open_text("alpha\r\nbeta gamma\r\n", EditorMode::edit);
  ed->mouse(5 * 8 + 3, 12 + 4, true, false, 0);  // column 5, row 1
  EXPECT_EQ(ed->cursor_line(), 2);
  EXPECT_EQ(ed->view().column, 5);
  ed->mouse(10 * 8, 12, true, true, 0);  // held: the selection's corner at column 10
  keys("<C-c>");
  EXPECT_EQ(clipboard_text_of(kit->clipboard), "gamma");
  ed->mouse(0, 12 + 2, true, false, 0);  // the left edge below the first row: column 79 of the line above
  EXPECT_EQ(ed->cursor_line(), 1);
  EXPECT_EQ(ed->view().column, 79);
}

// ---- Opening: the filter and the cap -------------------------------------------------------------

TEST_F(EditorTest, OpeningKeepsOnlyWhatTheEditorCanShow) {
  struct Case {
    std::string bytes, buffer;
    int dropped;
    std::string kinds;
  } cases[] = {
      {"a{b}c|d~e\r\n", "abcde\r", 4, "braces, vertical bars, tildes"},
      {"x\ty\r\n\tz", "x y\r  z\r", 0, ""},  // a tab: blanks up to the next even column
      {"caf\xe9 \x01!", "caf !\r", 2, "control characters, characters above 'z' (accented letters and other signs)"},
      {"l1\nl2\n", "l1\rl2\r", 0, ""},       // line feeds alone end lines too
      {"l1\r\nl2\rl3", "l1\rl2\rl3\r", 0, ""},
      {"", "\r", 0, ""},
  };
  for (const Case& c : cases) {
    EditorOpen o = ed->open_text(c.bytes, EditorMode::edit);
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(buffer(), c.buffer) << c.bytes;
    EXPECT_EQ(o.dropped, c.dropped) << c.bytes;
    EXPECT_EQ(ed->dropped(), c.dropped) << c.bytes;
    EXPECT_EQ(o.dropped_kinds, c.kinds) << c.bytes;
  }
}

TEST_F(EditorTest, TheSizeCapRefusesABiggerTextAndStopsTyping) {
  std::string full(kMaxEditorText - 1, 'a');
  for (std::size_t i = 70; i < full.size(); i += 71) full[i] = '\r';
  EditorOpen o = ed->open_text(full + "\r", EditorMode::edit, "full.brn");
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(ed->buffer().size(), kMaxEditorText);
  set_clipboard_buffer(kit->clipboard, "pasted");
  platform::set_clipboard_text("pasted");
  keys("x<Enter><Tab><C-v>");
  EXPECT_EQ(ed->buffer().size(), kMaxEditorText);
  EXPECT_FALSE(ed->modified());
  keys("<Del>y");  // one byte freed: one fits
  EXPECT_EQ(ed->buffer().size(), kMaxEditorText);
  EXPECT_EQ(ed->buffer().substr(0, 2), "ya");

  o = ed->open_text(full + "ab", EditorMode::edit, "big.brn");
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, "big.brn is 65,521 bytes; the editor holds at most 65,520.");
  EXPECT_EQ(buffer(), "\r");
}

// ---- Undo, find, indent-all --------------------------------------------------------------------

TEST_F(EditorTest, EightUndosAfterNineEditsGiveTheStateSevenEditsBack) {
  ed->open_text("", EditorMode::edit);
  keys("123456789");
  for (int i = 0; i < 8; ++i) keys("<C-u>");
  EXPECT_EQ(buffer(), "12\r");
  EXPECT_EQ(ed->view().column, 2);
  keys("<C-r>");
  EXPECT_EQ(buffer(), "123\r");
  keys("<C-r><C-r><C-r>");  // redo: two steps at most
  EXPECT_EQ(buffer(), "1234\r");
  keys("<C-u>x<C-r>");  // an edit after undoing: nothing left to redo
  EXPECT_EQ(buffer(), "123x\r");
  keys("<C-u>");
  EXPECT_EQ(buffer(), "123\r");
}

TEST_F(EditorTest, F4StoresTheSelectionAndF3FindsItAfterTheCursor) {
  ed->open_text("alpha beta\r\nbeta alpha\r\nalphabet", EditorMode::edit);
  keys("<S-Right><S-Right><S-Right><S-Right><S-Right><F4>");
  keys("<F3>");
  EXPECT_EQ(ed->cursor_line(), 2);
  EXPECT_EQ(ed->view().column, 5);
  keys("<F3>");
  EXPECT_EQ(ed->cursor_line(), 3);
  EXPECT_EQ(ed->view().column, 0);
  keys("<F3>");  // no more after the cursor: it stays
  EXPECT_EQ(ed->cursor_line(), 3);
  EXPECT_EQ(ed->view().column, 0);
}

TEST_F(EditorTest, CtrlAIndentsTheBlocksOfABrain) {
  struct Case {
    const char* text;
    const char* indented;
  } cases[] = {
      {"if a\rx = 1\r   if b\ry\relse\rz\rendif\rENDIF\r",
       "if a\r  x = 1\r  if b\r    y\r  else\r    z\r  endif\rENDIF\r"},
      {"again:\r   i = i + 1\r if i < 10 ; more\r goto again\r end if\r\r  ; done\r",
       "again:\ri = i + 1\rif i < 10 ; more\r  goto again\rend if\r\r; done\r"},
      {"  loop: ; a label\rif x\r  inner:\rendif\rendif\rq\r",
       "loop: ; a label\rif x\rinner:\rendif\rendif\rq\r"},  // an endif too many stays at column 0
      {"iffy = 1\r   endiffy = 2\r", "iffy = 1\rendiffy = 2\r"},
  };
  for (const Case& c : cases) {
    ed->open_text(c.text, EditorMode::edit);
    keys("<C-a>");
    EXPECT_EQ(buffer(), c.indented) << c.text;
    keys("<C-u>");
    EXPECT_EQ(buffer(), c.text) << "one undo step";
  }
}

// ---- Show mode -----------------------------------------------------------------------------------

TEST_F(EditorTest, ShowModeBreaksLongLinesAndChangesNothing) {
  std::string line = std::string(60, 'a') + " " + std::string(10, 'b') + " " + std::string(48, 'c');
  ASSERT_EQ(line.size(), 120u);
  std::string text = "first\r\n" + line + "\r\nlast\r\n";
  EditorOpen o = ed->open_text(text, EditorMode::show);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(buffer(), "first\r" + line.substr(0, 71) + "\r" + std::string(48, 'c') + "\rlast\r");
  EXPECT_EQ(ed->file_text(), text);  // the break is for showing only
  for (const char* k : {"<F1>", "<F2>", "<C-h>"}) EXPECT_FALSE(keys(k)) << k << " does nothing in show mode";
  keys("xyz<Enter><BS><Del><A-d><C-a><C-u><C-v><Tab>");
  EXPECT_EQ(ed->file_text(), text);
  EXPECT_FALSE(ed->modified());
  ed->go_to_line(3);  // file lines: the broken line counts once
  EXPECT_EQ(ed->cursor_line(), 3);
  EXPECT_EQ(buffer().substr(static_cast<std::size_t>(ed->view().top), 4), "firs");
  keys("<Up>");
  EXPECT_EQ(ed->cursor_line(), 2);
  EXPECT_TRUE(keys("<Esc>"));
  EXPECT_EQ(last_exit, EditorExit::escape);
  ed->set_mode(EditorMode::edit);  // editing joins the broken line again
  EXPECT_EQ(buffer(), "first\r" + line + "\rlast\r");

  ed->open_text(text, EditorMode::edit);
  for (auto [k, exit] : {std::pair{"<F1>", EditorExit::f1}, {"<F2>", EditorExit::f2}, {"<C-h>", EditorExit::ctrl_h}}) {
    EXPECT_TRUE(keys(k)) << k;
    EXPECT_EQ(last_exit, exit) << k;
  }
}

// ---- Files ---------------------------------------------------------------------------------------

struct EditorFileTest : EditorTest {
  std::string folder;
  media::Font font, small_font;
  std::vector<std::uint8_t> skin_bytes = std::vector<std::uint8_t>(base::area_size(base::Area::panel_image));
  Skin skin;
  std::vector<std::byte> block = std::vector<std::byte>(kMaxScreenWidth * kMaxScreenHeight);

  void SetUp() override {
    char name[] = "/tmp/zepta_editor_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder = std::string(name) + "/";
    script("");
    platform::input().mouse_buttons = 0;
    platform::input().mouse_x = platform::input().mouse_y = 0;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
  // A 640 x 480 kit with the panel font and skin, and the editor's 8-pixel font.
  bool screen_kit() {
    std::string data = data_folder();
    if (data.empty() || !fs::exists(data + "panels.pcx")) return false;
    EXPECT_TRUE(media::load_font(data + "font.fnt", font, false));
    EXPECT_TRUE(media::load_font(data + kEditorFontFile, small_font, true));
    EXPECT_TRUE(load_skin(data + "panels.pcx", skin_bytes, skin));
    init_kit(*kit, make_screen(block, 640, 480), font, skin);
    return true;
  }
};

TEST_F(EditorFileTest, SavedFilesHoldCrLfAndReloadAsTheyWere) {
  std::string path = folder + "a.brn";
  write_bytes(path, "one\r\ntwo\nthree");
  ASSERT_TRUE(ed->open(path, EditorMode::edit).ok);
  EXPECT_EQ(buffer(), "one\rtwo\rthree\r");
  keys("<Down><End>!");
  std::string error;
  ASSERT_TRUE(ed->save(path, &error)) << error;
  EXPECT_EQ(read_bytes(path), "one\r\ntwo!\r\nthree\r\n");
  EXPECT_FALSE(fs::exists(path + std::string(base::kTemporarySuffix)));
  auto again = std::make_unique<TextEditor>();
  ASSERT_TRUE(again->open(path, EditorMode::edit).ok);
  EXPECT_EQ(again->buffer(), "one\rtwo!\rthree\r");

  EditorOpen missing = again->open(folder + "new.brn", EditorMode::edit);
  EXPECT_TRUE(missing.ok);
  EXPECT_TRUE(missing.missing);
  EXPECT_EQ(again->buffer(), "\r");

  EXPECT_FALSE(ed->save(folder + "no/such/folder/b.brn", &error));
  EXPECT_EQ(error, "The editor could not write " + folder + "no/such/folder/b.brn; the file is as it was.");
}

TEST_F(EditorFileTest, ABigFileIsRefusedWhole) {
  std::string path = folder + "big.brn";
  write_bytes(path, std::string(70000, 'z'));
  EditorOpen o = ed->open(path, EditorMode::edit);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, path + " is 70,000 bytes; the editor holds at most 65,520.");
  EXPECT_EQ(ed->buffer(), "\r");
  // The cap is on the text as the editor holds it: CR LF files lose a byte a line.
  std::string lines;
  for (int i = 0; i < 17500; ++i) lines += "ab\r\n";
  write_bytes(path, lines);
  o = ed->open(path, EditorMode::edit);
  EXPECT_TRUE(o.ok) << o.error;
  EXPECT_EQ(ed->buffer().size(), 17500u * 3);
}

// The round trip with the scripted typing "x", then Escape as the script ends.
TEST_F(EditorFileTest, TheRoundTripWritesAndWarnsBeforeDroppingCharacters) {
  if (!screen_kit()) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
  test_support::Watchdog watchdog("the editor's round trip", 120);
  struct Case {
    const char* bytes;
    const char* events;
    const char* after;
    bool warned;
  } cases[] = {
      {"ab\r\n", "2 key 45 x\n", "xab\r\n", false},
      {"ab\nc\n", "", "ab\nc\n", false},              // unchanged: not written
      {"a{b}\r\n", "2 key 45 x\n", "a{b}\r\n", true},  // nobody answers: not written
  };
  for (const Case& c : cases) {
    std::string path = folder + "r.brn";
    write_bytes(path, c.bytes);
    script(c.events);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(edit_text_file(*kit, path, EditorMode::edit, nullptr, &small_font), EditorExit::escape);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(read_bytes(path), c.after) << c.bytes;
    EXPECT_EQ(err.find("2 characters the editor cannot keep (braces)") != std::string::npos, c.warned) << err;
  }
  // A file that does not exist is written; one that is refused is told.
  script("2 key 45 x\n3 key 60\n");
  EXPECT_EQ(edit_text_file(*kit, folder + "new.brn", EditorMode::edit, nullptr, &small_font), EditorExit::f2);
  EXPECT_EQ(read_bytes(folder + "new.brn"), "x\r\n");
  write_bytes(folder + "big.brn", std::string(70000, 'z'));
  script("");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(edit_text_file(*kit, folder + "big.brn", EditorMode::edit, nullptr, &small_font), EditorExit::escape);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("70,000 bytes; the editor holds at most 65,520."),
            std::string::npos);
}

// The main cycle on scripted input: typing, Shift and Ctrl read from the held
// keys, a click, the wheel; the status line while it waits; Escape when the
// script is used up.
TEST_F(EditorFileTest, TheMainCycleTakesKeysModifiersAndTheMouseFromTheScript) {
  if (!screen_kit()) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
  test_support::Watchdog watchdog("the editor's main cycle", 120);
  ed->set_font(&small_font);
  std::string text;
  for (int i = 1; i <= 60; ++i) text += "line " + std::to_string(i) + "\r\n";
  ed->open_text(text, EditorMode::edit);
  script(
      "2 key 45 x\n"                         // x typed at the start
      "3 down 42\n4 key 77\n5 key 77\n6 up 42\n"  // Shift+Right twice: "li" selected
      "7 down 29\n8 key 45\n9 up 29\n"          // Ctrl+X
      "10 mouse 24 24 1\n11 mouse 24 24 0\n"    // a click: column 3 of line 3
      "12 key 48 b\n"
      "13 wheel -120\n");                     // towards the user: three lines down, the cursor kept on row 0
  EXPECT_EQ(ed->run(*kit), EditorExit::escape);
  EXPECT_EQ(clipboard_text_of(kit->clipboard), "li");
  EXPECT_EQ(ed->buffer().substr(0, 25), "xne 1\rline 2\rlinbe 3\rline");
  EXPECT_EQ(ed->cursor_line(), 4);
  int ink = 0;
  for (int y = 470; y <= 479; ++y)
    for (int x = 479; x < 640; ++x) ink += kit->screen.pixels[y * 640 + x] == kYellow;
  EXPECT_GT(ink, 0) << "the status line's help";
}

// The brain editor at a compile error: the message and the line over the
// bottom rows, the error's line marked.
TEST_F(EditorFileTest, ShowModeWithABannerMatchesItsReferencePicture) {
  if (!screen_kit()) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
  std::string text =
      "; hello.brn: says hello and counts\r\nvar n\r\nn = n + 1\r\nif n > 10\r\n  print(\"hello\", 0, 20, 20)\r\n"
      "endif\r\n" +
      std::string("; a long comment that goes on past the eightieth column of the screen, so it is broken in two\r\n") +
      "q\r\n";
  ed->set_font(&small_font);
  ASSERT_TRUE(ed->open_text(text, EditorMode::show, "hello.brn").ok);
  ed->go_to_line(8);
  ed->set_banner("hello.brn:8: Unknown symbol 'q'!\nq", 8);
  ed->draw(*kit);
  ui_test::expect_reference_picture(kit->screen, std::string(ZEPTA_UI_TESTDATA) + "/text_editor_show.pcx",
                                    "show mode");
}

}  // namespace
}  // namespace ui
