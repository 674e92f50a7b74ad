// The 8-bit software screen that tools and panels draw on, its drawing
// primitives, the panel kit (skinned panels, the button table, the message
// panel, the input box, keys, mouse and clipboard) and the task a run-mode tool
// works on. Every primitive clips to the screen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace media {
struct Font;
}
namespace project {
struct Host;
struct Project;
struct StateFiles;
}  // namespace project

namespace ui {

inline constexpr int kMaxScreenWidth = 1024;
inline constexpr int kMaxScreenHeight = 768;

// One byte per pixel (fixed colour scheme index), rows width bytes apart.
struct Screen {
  std::uint8_t* pixels = nullptr;
  std::uint32_t* row_table = nullptr;  // 32-bit row start addresses (inside the budget), or null
  int width = 0, height = 0;
};

// Lays the screen out in a block: pixels, then the row table when the block is
// in the low budget region. An empty screen when the size is bad or the block small.
Screen make_screen(std::span<std::byte> block, int width, int height);
// The screen in the software-screen area of the memory budget.
Screen budget_screen(int width, int height);

void clear_screen(Screen& s);  // every byte 0
// Fills x1..x2, y1..y2 (edges included), clipped.
void fill_rect(Screen& s, int x1, int y1, int x2, int y2, std::uint8_t colour);
// One-pixel outline of x1..x2, y1..y2, clipped.
void draw_rectangle(Screen& s, int x1, int y1, int x2, int y2, std::uint8_t colour);
// Text with its top-left corner at (x, y); ink pixels take colour.
void draw_text(Screen& s, const media::Font& font, std::string_view text, int x, int y, std::uint8_t colour);
// Text centred on (x, y): from x - width / 2 and y - glyph height / 2.
void draw_centred_text(Screen& s, const media::Font& font, std::string_view text, int x, int y,
                       std::uint8_t colour);

// Colour indexes of the fixed scheme used by the tools.
inline constexpr std::uint8_t kBlack = 0;
inline constexpr std::uint8_t kWhite = 255;
inline constexpr std::uint8_t kYellow = 248;  // cube red 6, green 5, blue 0
inline constexpr std::uint8_t kGrey = 131;     // cube red 3, green 3, blue 3

// Shows the screen in the window, expanded through the scheme's 16-bit colours.
void present(const Screen& s);

// ---- Skin -----------------------------------------------------------------------

// "panels.pcx" as loaded (folded through the colour scheme): 128 pixels wide,
// tiles in rows 0-3, the title image in rows 4-25, window buttons in rows 26-39.
struct Skin {
  const std::uint8_t* pixels = nullptr;
  int width = 0, height = 0;
};
inline constexpr int kSkinWidth = 128;
inline constexpr int kSkinHeight = 40;

// Loads the skin into dest (at least 128 x 40 bytes). A missing or bad file
// gives an empty skin (every colour 0) and false.
bool load_skin(std::string_view path, std::span<std::uint8_t> dest, Skin& skin);
// The skin pixel at (x, y); 0 outside the image.
std::uint8_t skin_pixel(const Skin& skin, int x, int y);

// The named colours that screens ask for, each one skin pixel.
enum class SkinColour : std::uint8_t {
  panel,       // panel background (0,0)
  text,        // text on panels (13,0)
  title,       // title bar (28,3)
  button,      // button fill, style 0 (52,0)
  field_text,  // text on fields (85,0)
  highlight,   // selection and hover (86,0)
  field,       // field fill, style 1 (88,0)
  shadow,      // dark bevel (40,0)
  button_light,  // light bevel of buttons (41,1)
};
std::uint8_t skin_colour(const Skin& skin, SkinColour which);

// ---- The panel kit --------------------------------------------------------------

inline constexpr int kMaxButtons = 128;
inline constexpr std::int32_t kCloseBox = 2147483647;  // hit test result over the close box
inline constexpr std::uint16_t kStyleField = 0x8000;     // bit 15 of left: a style-1 button
inline constexpr int kWrapWidth = 560;                   // pixels of a wrapped message line
inline constexpr std::uint32_t kClipboardTag = 0xF1CAF1CA;
inline constexpr int kClipboardChars = 65535;

// One button table entry; a free entry is all ones.
struct Button {
  std::uint16_t left = 0xFFFF, top = 0xFFFF, right = 0xFFFF, bottom = 0xFFFF;
};

struct HotArea {
  int x1 = 0, y1 = 0, x2 = -1, y2 = -1;  // edges included
};

// The text clipboard buffer shared with the text editor: tag, length, characters.
struct ClipboardBuffer {
  std::uint32_t tag = 0;
  std::uint32_t length = 0;
  char text[kClipboardChars + 1] = {};
};

// Everything the kit keeps between calls. One per screen; the caller owns it.
struct Kit {
  Screen screen;
  const media::Font* font = nullptr;
  Skin skin;
  Button buttons[kMaxButtons];
  HotArea close_area, minimise_area;  // of the latest panel drawn
  bool window_buttons = false;        // the two areas are active
  bool mouse_enabled = true;
  bool pointer_shown = false;         // the kit draws the pointer when presenting
  bool info_showing = false;          // an information panel is on screen
  int last_scan = 0;                  // scan code of the last key read, 0 when none
  int held_key = 0;                   // scan code from the any-key detection, 0 when none
  int print_x = 0, print_y = 0;       // text cursor of the print routines
  char key_text[2] = {};
  ClipboardBuffer clipboard;
};

// A kit on screen with font and skin; the mouse is clamped to the screen.
void init_kit(Kit& kit, const Screen& screen, const media::Font& font, const Skin& skin);

void reset_buttons(Kit& kit);
// Fills and frames x1..x2-4, y1..y2-4 in style 0 (button) or 1 (field) and
// enters x1..x2, y1..y2 in the first free entry: its index, -1 when the table is full.
int add_button(Kit& kit, int x1, int y1, int x2, int y2, int style);
// The style's frame tiles laid on x1..x2, y1..y2 exactly: no fill, no entry.
void draw_frame(Kit& kit, int x1, int y1, int x2, int y2, int style);
// The text centred in button index (nothing for a free or bad index).
void draw_button_label(Kit& kit, std::string_view text, int index);
// The button under the mouse: the first entry that holds it (edges included),
// -1 for none, kCloseBox over an active close area (callers act on it only
// with the left button down). A left press on an active minimise area
// minimises the window and gives -1.
std::int32_t hit_test(Kit& kit);

// A framed panel with the title bar, aligned to 4 pixels; with_buttons draws
// the minimise and close boxes and activates their hot areas.
void draw_panel(Kit& kit, int x1, int y1, int x2, int y2, bool with_buttons);
// Text centred on (x, y) in colour.
void draw_centred(Kit& kit, std::string_view text, int x, int y, std::uint8_t colour);

// Splits text at blanks into lines of at most max_width pixels, joined by "|";
// a "|" in the text always ends a line. A single word wider than max_width stays whole.
std::string word_wrap(const media::Font& font, std::string_view text, int max_width = kWrapWidth);

// The modal message panel. With an answer: waits for a click on an answer,
// Enter (answer 1) or Delete, scan code 0x53 (answer 2), and returns 1 or 2;
// with answer 1 alone, Escape (and the window's close) answers it too.
// With both answers empty: shows text as an information panel and returns 0
// at once; an empty text as well removes it. When waiting gives up (nobody
// sees the panel, or the scripted input is used up) the first answer is
// taken and the text goes to stderr, a line for each "|" line.
int message_panel(Kit& kit, std::string_view text, std::string_view answer1, std::string_view answer2);
// One answer of a choice panel: its button's label and the key (scan code) that gives it.
struct Choice {
  std::string_view label;
  int scan_code = 0;
};
inline constexpr std::size_t kMaxChoices = 4;
// The modal panel of up to four answers side by side under text: waits for a
// click on an answer or its key (Escape gives escape_answer; 0: nothing) and
// returns the answer's number from 1. When waiting gives up (nobody sees the
// panel, or the scripted input is used up) it returns 0 and the text goes to
// stderr, a line for each "|" line.
int choice_panel(Kit& kit, std::string_view text, std::span<const Choice> choices, int escape_answer);
// Ends a modal panel: clears the screen, hides the pointer, presents, waits for
// the mouse button to be released and empties the input.
void close_panel(Kit& kit);

// Where a question panel's parts lie; drawn by draw_message_panel.
struct MessageLayout {
  int x = 0, y = 0, width = 0, height = 0, lines = 0;
  int answer_buttons[2] = {-1, -1};
};
// Draws the question panel on a cleared screen and enters its two buttons.
MessageLayout draw_message_panel(Kit& kit, std::string_view text, std::string_view answer1,
                                 std::string_view answer2);

// The one-line input box: returns the edited text when closed by Enter,
// Escape, the right button or the close box (empty means "cancel" to callers).
// At most max_chars characters. When waiting gives up, as for the message
// panel, it returns its text as Enter would and writes prompt and text to stderr.
std::string input_box(Kit& kit, int width, std::string_view initial, std::string_view prompt,
                      int max_chars = 2044);

// The text being edited, split at the cursor, and the box's geometry.
struct InputState {
  std::string before, after;
  int x = 0, y = 0, width = 0, half_height = 0, lines = 0;
  std::string prompt;  // word-wrapped
};
// The box of state (computed on first call by input_box) drawn with its text and cursor.
void draw_input_box(Kit& kit, const InputState& state);
// Applies one key (character, scan code) to the text: editing keys by scan
// code, any other printable character inserted while the whole text stays
// narrower than width - 32 - c / 5 ("Mm0wW" is c wide). False when refused.
bool input_key(const Kit& kit, InputState& state, int character, int scan_code, int max_chars);
// Puts the cursor after the longest prefix at most mouse_x - x - 16 pixels wide.
void input_click(const Kit& kit, InputState& state, int mouse_x);

// Takes one key event: its character as a one-character string (empty for
// none), the scan code in last_scan (0 when the ring was empty).
std::string_view read_key(Kit& kit);
// Twenty passes: pump, wait for every key and button to be released, empty the ring.
void flush_input(Kit& kit);
// Scan code of the first key held, leaving out Shift, Ctrl and Alt (0 for none), in held_key.
int any_key(Kit& kit);
void wait_mouse_release(Kit& kit);
// Takes waiting events and the scripted input; mouse clamped to the screen.
void pump(Kit& kit);
// The pump of a loop that waits for the user (platform::await_input): the
// scripted input keeps coming while the engine ticks stand still.
void await_input(Kit& kit);

// Shows the screen, with the kit's mouse pointer over it when shown.
void present(Kit& kit);
// The kit's own pointer, drawn on the screen; the system pointer is hidden meanwhile.
void show_pointer(Kit& kit, bool shown);

// The clipboard buffer as clipboard text (each CR as CR LF); empty without the tag.
std::string clipboard_text_of(const ClipboardBuffer& buffer);
// Clipboard text into the buffer: line feeds and "|" dropped, at most 65,535 characters.
void set_clipboard_buffer(ClipboardBuffer& buffer, std::string_view text);
// Through the system clipboard; nothing changes when it can't be read or holds no text.
void copy_to_clipboard(const Kit& kit);
void paste_from_clipboard(Kit& kit);

// The print routines' screen output: text at the text cursor, a new line
// when asked, the screen scrolled up when the cursor passes the bottom.
void print_text(Kit& kit, std::string_view text, bool new_line);
// The kit that print_sink writes to (the file slots' screen sink is a plain function).
void set_print_kit(Kit* kit);
void print_sink(std::string_view text, bool new_line);

// ---- Run-mode tasks --------------------------------------------------------------

// What the program hands the tool of a run mode (tools/, package/): the
// loaded project, the editor state and where they live, the screen to draw on.
struct Task {
  project::Host* host = nullptr;         // folders and role; the project's file functions take it
  project::Project* project = nullptr;   // loaded when the run mode loads one
  project::StateFiles* state = nullptr;  // editor state files, written after a tool that saves
  Screen screen;                         // the display mode's software screen
  media::Font* font = nullptr;           // the panel font
  Skin skin;                             // "panels.pcx" as loaded at start-up
  bool headless = false;                 // no display: waits give up when the scripted input ends
  // Checks a brain's string literals as `zepta --check` does (fits
  // brain::LiteralCheck); null: literals taken as they are.
  std::string (*check_literal)(std::string_view keyword, int index, std::string_view text) = nullptr;
};

// Element panel labels: label n (1..4, 1..15) is field n of the list.
inline constexpr char kElementLabels[] = "Name|Aspect|Sound|Brain";
inline constexpr char kVectorLabels[] =
    "Position X|Position Y|Position Z|Rotation X|Rotation Y|Rotation Z|Velocity X|Velocity Y|Velocity Z"
    "|Spin X|Spin Y|Spin Z|Credits|Element ID|Radius";

}  // namespace ui
