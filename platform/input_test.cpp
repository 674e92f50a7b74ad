// Key intake, scan-code folding and scripted input.
#include <SDL2/SDL_scancode.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

TEST(KeyRing, FifteenQueuedEventsStayAndTheNextIsDropped) {
  KeyRing ring;
  for (int i = 0; i < 15; ++i) EXPECT_TRUE(ring_push(ring, key_event('a' + i, 30)));
  EXPECT_FALSE(ring_push(ring, key_event('z', 44)));  // full: the newest is dropped
  std::uint32_t e;
  for (int i = 0; i < 15; ++i) {
    ASSERT_TRUE(ring_take(ring, e));
    EXPECT_EQ(event_character(e), 'a' + i);
    EXPECT_EQ(event_scan_code(e), 30);
  }
  EXPECT_FALSE(ring_take(ring, e));
  EXPECT_TRUE(ring_empty(ring));
}

TEST(KeyRing, OffsetsWrapModulo64) {
  KeyRing ring;
  std::uint32_t e;
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(ring_push(ring, key_event(i, i)));
    ASSERT_TRUE(ring_take(ring, e));
    EXPECT_EQ(e, key_event(i, i));
    EXPECT_LT(ring.write_offset, 64u);
    EXPECT_EQ(ring.write_offset % 4, 0u);
  }
  ring_push(ring, 1);
  ring_clear(ring);
  EXPECT_TRUE(ring_empty(ring));
}

TEST(KeyIntake, DigitsTakeTheNumberRowScanCodes) {
  struct Case {
    int character, scan, want_scan;
  } cases[] = {
      {'1', 79, 2}, {'9', 73, 10}, {'0', 82, 11}, {'a', 30, 30}, {13, 28, 28}, {'!', 2, 2},
  };
  for (const Case& c : cases) {
    Input in;
    take_character(in, c.character, c.scan);
    std::uint32_t e;
    ASSERT_TRUE(ring_take(in.ring, e));
    EXPECT_EQ(event_scan_code(e), c.want_scan) << c.character;
    EXPECT_EQ(event_character(e), c.character);
  }
  Input in;
  take_bare_key(in, 72);
  std::uint32_t e;
  ASSERT_TRUE(ring_take(in.ring, e));
  EXPECT_EQ(e, 72u << 16);
}

TEST(KeyIntake, TypedTextTakesPrintablesAndBackspace) {
  Input in;
  for (int c : {int{'h'}, int{'i'}, 9, int{'x'}, 8, int{'!'}, 27}) take_character(in, c, 0);
  EXPECT_STREQ(in.typed.text, "hi!");
  for (int i = 0; i < 5; ++i) take_character(in, 8, 14);
  EXPECT_EQ(in.typed.length, 0);
  for (int i = 0; i < 9000; ++i) take_character(in, 'q', 16);
  EXPECT_EQ(in.typed.length, 8191);
  EXPECT_EQ(in.typed.text[8191], 0);
}

TEST(ScanCodes, FoldedAsWindowsReportsThem) {
  struct Case {
    int sdl, set1;
  } cases[] = {
      {SDL_SCANCODE_ESCAPE, 1},  {SDL_SCANCODE_A, 30},     {SDL_SCANCODE_Q, 16},      {SDL_SCANCODE_Z, 44},
      {SDL_SCANCODE_M, 50},      {SDL_SCANCODE_1, 2},      {SDL_SCANCODE_0, 11},      {SDL_SCANCODE_RETURN, 28},
      {SDL_SCANCODE_KP_ENTER, 28}, {SDL_SCANCODE_LCTRL, 29}, {SDL_SCANCODE_RCTRL, 29}, {SDL_SCANCODE_LALT, 56},
      {SDL_SCANCODE_RALT, 56},   {SDL_SCANCODE_LSHIFT, 42}, {SDL_SCANCODE_RSHIFT, 54}, {SDL_SCANCODE_UP, 72},
      {SDL_SCANCODE_LEFT, 75},   {SDL_SCANCODE_RIGHT, 77}, {SDL_SCANCODE_DOWN, 80},   {SDL_SCANCODE_KP_8, 72},
      {SDL_SCANCODE_HOME, 71},   {SDL_SCANCODE_PAGEUP, 73}, {SDL_SCANCODE_END, 79},    {SDL_SCANCODE_PAGEDOWN, 81},
      {SDL_SCANCODE_INSERT, 82}, {SDL_SCANCODE_DELETE, 83}, {SDL_SCANCODE_F1, 59},     {SDL_SCANCODE_F10, 68},
      {SDL_SCANCODE_F11, 87},    {SDL_SCANCODE_F12, 88},   {SDL_SCANCODE_SPACE, 57},  {SDL_SCANCODE_BACKSPACE, 14},
      {SDL_SCANCODE_TAB, 15},    {SDL_SCANCODE_GRAVE, 41}, {SDL_SCANCODE_BACKSLASH, 43}, {SDL_SCANCODE_SLASH, 53},
      {SDL_SCANCODE_F13, 0},     {-1, 0},                  {100000, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(set1_scan_code(c.sdl), c.set1) << c.sdl;
}

TEST(ScanCodes, ControlCharacters) {
  EXPECT_EQ(control_character(SDL_SCANCODE_BACKSPACE, false), 8);
  EXPECT_EQ(control_character(SDL_SCANCODE_TAB, false), 9);
  EXPECT_EQ(control_character(SDL_SCANCODE_RETURN, false), 13);
  EXPECT_EQ(control_character(SDL_SCANCODE_KP_ENTER, false), 13);
  EXPECT_EQ(control_character(SDL_SCANCODE_ESCAPE, false), 27);
  EXPECT_EQ(control_character(SDL_SCANCODE_A, true), 1);
  EXPECT_EQ(control_character(SDL_SCANCODE_Z, true), 26);
  EXPECT_EQ(control_character(SDL_SCANCODE_A, false), 0);
  EXPECT_EQ(control_character(SDL_SCANCODE_1, true), 0);
}

TEST(ScanCodes, TextBecomesWindows1252) {
  EXPECT_EQ(cp1252_of('A'), 'A');
  EXPECT_EQ(cp1252_of(0xE9), 0xE9);     // e acute
  EXPECT_EQ(cp1252_of(0x20AC), 0x80);   // euro sign
  EXPECT_EQ(cp1252_of(0x2019), 0x92);   // right single quote
  EXPECT_EQ(cp1252_of(0x0178), 0x9F);
  EXPECT_EQ(cp1252_of(0x85), '?');      // C1 control: not in the code page
  EXPECT_EQ(cp1252_of(0x4E2D), '?');
}

TEST(Script, ParsesEveryEvent) {
  Script s;
  ScriptError err;
  ASSERT_TRUE(parse_script("# a comment\r\n"
                           "  # a comment of many words: 1 key 30, then 2 mouse 1 2 3 4 5\n"
                           "#no blank after the mark\n"
                           "0 key 30 a\n"
                           "\n"
                           "2 key 28 13\n"
                           "3   down 42\t\n"
                           "4 up 42\n"
                           "5 mouse 100 200 1\n"
                           "6 wheel 120\n"
                           "7 key 5 4\n"
                           "8 key 72",
                           s, err))
      << err.message;
  ASSERT_EQ(s.events.size(), 8u);
  EXPECT_EQ(s.events[0].kind, ScriptKind::key);
  EXPECT_EQ(s.events[0].b, 'a');
  EXPECT_EQ(s.events[1].b, 13);
  EXPECT_EQ(s.events[2].kind, ScriptKind::down);
  EXPECT_EQ(s.events[2].tick, 3u);
  EXPECT_EQ(s.events[4].c, 1);
  EXPECT_EQ(s.events[5].a, 120);
  EXPECT_EQ(s.events[6].b, '4');  // one character is the character itself
  EXPECT_EQ(s.events[7].b, 0);
}

TEST(Script, KeysAreScanCodesOrKeyNames) {
  struct Case {
    const char* line;
    ScriptKind kind;
    int scan, character;
  } cases[] = {
      {"3 key LEFT", ScriptKind::key, 75, 0},  {"0 down SPACE", ScriptKind::down, 57, 0},
      {"0 up space", ScriptKind::up, 57, 0},   {"1 key f12", ScriptKind::key, 88, 0},
      {"1 key A a", ScriptKind::key, 30, 'a'}, {"1 key Return 13", ScriptKind::key, 28, 13},
      {"1 key /", ScriptKind::key, 53, 0},     {"1 key - -", ScriptKind::key, 12, '-'},
      {"1 key 1", ScriptKind::key, 1, 0},      // a number is a scan code: 1 is Escape, not the key "1"
      {"1 down Esc", ScriptKind::down, 1, 0},
  };
  for (const Case& c : cases) {
    Script s;
    ScriptError err;
    ASSERT_TRUE(parse_script(c.line, s, err)) << c.line << ": " << err.message;
    ASSERT_EQ(s.events.size(), 1u);
    EXPECT_EQ(s.events[0].kind, c.kind) << c.line;
    EXPECT_EQ(s.events[0].a, c.scan) << c.line;
    EXPECT_EQ(s.events[0].b, c.character) << c.line;
  }
  Script s;
  ScriptError err;
  EXPECT_FALSE(parse_script("0 key 30\n1 down LEFTISH\n", s, err));
  EXPECT_EQ(err.line, 2);
  EXPECT_STREQ(err.message, "unknown key 'LEFTISH'");
  EXPECT_FALSE(parse_script("1 mouse LEFT 2 0\n", s, err));  // only keys have names
}

// The names of `keyboard`, one table for brains and scripts.
TEST(KeyNames, NamesGiveTheirScanCodes) {
  struct {
    const char* name;
    int scan;
  } cases[] = {{"UP", 72},      {"left", 75}, {"Right", 77},  {"RETURN", 28}, {"LSHIFT", 42}, {"RSHIFT", 54},
               {"F10", 68},     {"F11", 87},  {"ESC", 1},     {"0", 11},      {"9", 10},      {"Q", 16},
               {"M", 50},       {"PAGEDOWN", 81}, {"DELETE", 83}, {"\\", 43}, {"`", 41},      {"", 0},
               {"ENTER", 0},    {"LEFT ", 0}, {"F13", 0}};
  for (auto c : cases) EXPECT_EQ(scan_code_of_key_name(c.name), c.scan) << c.name;
}

TEST(Script, LineEndsDoNotMatter) {
  auto events = [](const char* text) {
    Script s;
    ScriptError err;
    EXPECT_TRUE(parse_script(text, s, err)) << text << ": " << err.message;
    std::vector<std::string> out;
    for (const ScriptEvent& e : s.events)
      out.push_back(std::to_string(e.tick) + " " + std::to_string(static_cast<int>(e.kind)) + " " + std::to_string(e.a) +
                    " " + std::to_string(e.b) + " " + std::to_string(e.c));
    return out;
  };
  std::vector<std::string> expected = events("# start\r\n0 key 30 a\r\n\r\n5 mouse 1 2 3\r\n");
  ASSERT_EQ(expected.size(), 2u);
  for (const char* text : {"# start\n0 key 30 a\n\n5 mouse 1 2 3\n", "# start\r\n0 key 30 a\r\n\r\n5 mouse 1 2 3",
                           "# start\n0 key 30 a\n\n5 mouse 1 2 3"})
    EXPECT_EQ(events(text), expected) << text;
}

TEST(Script, BadLinesNameTheirLine) {
  struct Case {
    const char* text;
    int line;
  } cases[] = {
      {"x key 1", 1},           {"0 jump 1", 1},          {"0 key", 1},
      {"0 key 1 2 3", 1},       {"0 key 0", 1},           {"0 key 256", 1},
      {"0 key 30 300", 1},      {"#\n1 mouse 1 2", 2},    {"0 mouse 1 2 8", 1},
      {"0 down 42\n-1 up 42", 2}, {"0 wheel 1x", 1},      {"0 key 30\n1 key 30\n2", 3},
      {"1 mouse 1 2 3 4 5 6 7", 1},
  };
  for (const Case& c : cases) {
    Script s;
    ScriptError err;
    EXPECT_FALSE(parse_script(c.text, s, err)) << c.text;
    EXPECT_EQ(err.line, c.line) << c.text;
    EXPECT_NE(err.message[0], 0) << c.text;
  }
}

TEST(Script, DeliversInFileOrderAtOrAfterTheTick) {
  Script s;
  ScriptError err;
  ASSERT_TRUE(parse_script("2 key 30 a\n1 key 31 s\n4 down 42\n6 up 42\n5 mouse 10 20 2\n5 wheel 120\n", s, err));
  Input in;
  std::uint32_t e;
  deliver_script(s, in, 0);
  deliver_script(s, in, 1);  // "1 key 31" waits behind the earlier line for tick 2
  EXPECT_TRUE(ring_empty(in.ring));
  deliver_script(s, in, 2);
  ASSERT_TRUE(ring_take(in.ring, e));
  EXPECT_EQ(event_character(e), 'a');
  ASSERT_TRUE(ring_take(in.ring, e));
  EXPECT_EQ(event_character(e), 's');
  EXPECT_TRUE(s.held_once[30] && s.held_once[31]);
  deliver_script(s, in, 3);
  EXPECT_FALSE(s.held_once[30]);  // a key lasts one sample
  deliver_script(s, in, 5);
  EXPECT_TRUE(s.held[42]);
  EXPECT_EQ(in.mouse_x, 0);  // the tick-5 lines wait behind "6 up 42"
  EXPECT_FALSE(script_finished(s));
  deliver_script(s, in, 6);
  EXPECT_FALSE(s.held[42]);
  EXPECT_EQ(in.mouse_x, 10);
  EXPECT_EQ(in.mouse_y, 20);
  EXPECT_EQ(in.mouse_buttons, 2u);
  EXPECT_EQ(in.wheel, -120);
  EXPECT_TRUE(script_finished(s));
}

TEST(Timer, DeadlinesCompareAcrossTheWrap) {
  EXPECT_TRUE(time_reached(10, 10));
  EXPECT_TRUE(time_reached(11, 10));
  EXPECT_FALSE(time_reached(9, 10));
  EXPECT_TRUE(time_reached(5, 0xFFFFFFF0u));   // wrapped past the deadline
  EXPECT_FALSE(time_reached(0xFFFFFFF0u, 5));  // deadline after the wrap
}

}  // namespace
}  // namespace platform
