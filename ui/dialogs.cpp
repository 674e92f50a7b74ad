// The boxes that brains open: layouts, keys and clicks, and the waits that let
// an input script answer them while a run stands still.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "media/media.h"
#include "platform/platform.h"
#include "ui/browser.h"
#include "ui/dialogs.h"
#include "ui/dialogs_local.h"

namespace ui {

namespace parts {

constexpr int kPixelsPerUnit = 2;  // screen pixels of a vertical dialog unit
constexpr int kTitleRows = 26;     // the panel's title bar and top frame
constexpr int kMargin = 12;

int units(int n) { return n * kPixelsPerUnit; }

// Message box buttons: the answers in order, the first the default.
struct ButtonRow {
  int count;
  MessageAnswer answer[3];
};
constexpr ButtonRow kButtonRows[] = {
    {1, {MessageAnswer::ok}},                                            // any other value
    {2, {MessageAnswer::ok, MessageAnswer::cancel}},                     // 1
    {2, {MessageAnswer::yes, MessageAnswer::no}},                        // 2
    {3, {MessageAnswer::yes, MessageAnswer::no, MessageAnswer::cancel}}, // 3
};
const ButtonRow& button_row(int buttons) { return kButtonRows[buttons >= 1 && buttons <= 3 ? buttons : 0]; }

struct AnswerName {
  MessageAnswer answer;
  const char* label;
  char key;  // the letter that answers it
};
constexpr AnswerName kAnswerNames[] = {
    {MessageAnswer::cancel, "Cancel", 'c'},
    {MessageAnswer::ok, "OK", 'o'},
    {MessageAnswer::no, "No", 'n'},
    {MessageAnswer::yes, "Yes", 'y'},
};
const AnswerName& name_of(MessageAnswer a) { return kAnswerNames[static_cast<int>(a)]; }

// The icons: a disc of colour with a sign in white.
struct IconLook {
  char sign;
  std::uint8_t r, g, b;
};
constexpr IconLook kIcons[] = {
    {'!', 230, 190, 0},  // exclamation
    {'i', 0, 80, 220},   // information
    {'?', 0, 80, 220},   // question
    {'X', 210, 0, 0},    // stop
};
constexpr int kIconSize = 32;

// Lines of a "|"-joined text.
std::vector<std::string_view> split(std::string_view text) {
  std::vector<std::string_view> lines;
  for (;;) {
    std::size_t bar = text.find('|');
    lines.push_back(text.substr(0, bar));
    if (bar == std::string_view::npos) return lines;
    text.remove_prefix(bar + 1);
  }
}

// The longest start of text that is at most width pixels wide.
std::string_view fit(const media::Font& f, std::string_view text, int width) {
  std::size_t n = 0;
  for (int w = 0; n < text.size() && (w += media::advance(f, static_cast<unsigned char>(text[n]))) <= width;) ++n;
  return text.substr(0, n);
}

void print_on_stderr(std::string_view caption, std::string_view text) {
  std::string out(text);
  std::replace(out.begin(), out.end(), '|', '\n');
  std::fprintf(stderr, "%.*s\n%s\n", static_cast<int>(caption.size()), caption.data(), out.c_str());
}

// The waits of a box go through await_input: while a run stands still in a
// box, the input script answers it with the events that follow.
void release_mouse(Kit& kit) {
  while (platform::input().mouse_buttons && !platform::waiting_gives_up()) await_input(kit);
}

// The panel of a box centred on the screen, the caption in its title bar.
Box open_box(Kit& kit, int width, int height, std::string_view caption) {
  Box b;
  b.width = std::min(width, kit.screen.width) & ~3;
  b.height = std::min(height, kit.screen.height);
  b.x = ((kit.screen.width - b.width) / 2) & ~3;
  b.y = ((kit.screen.height - b.height) / 2) & ~3;
  clear_screen(kit.screen);
  draw_panel(kit, b.x, b.y, b.x + b.width, b.y + b.height, true);
  reset_buttons(kit);
  const media::Font& f = *kit.font;
  // After the skin's title image, as much of the caption as fits before the window buttons.
  int left = b.x + 136, room = b.width - 136 - 48;
  if (room > 0) draw_text(kit.screen, f, fit(f, caption, room), left, b.y + 13 - media::glyph_height(f) / 2, kWhite);
  return b;
}

int button_width(const Kit& kit, std::string_view label) {
  return std::max(72, media::text_width(*kit.font, label) + 24);
}
int button_height(const Kit& kit) { return media::glyph_height(*kit.font) + 10; }

// A push button with its label; focused buttons get a highlight frame.
int push_button(Kit& kit, std::string_view label, int x, int y, bool focused) {
  int index = add_button(kit, x, y, x + button_width(kit, label), y + button_height(kit), 0);
  draw_button_label(kit, label, index);
  if (focused)
    draw_rectangle(kit.screen, x - 2, y - 2, x + button_width(kit, label) + 1, y + button_height(kit) + 1,
                   skin_colour(kit.skin, SkinColour::highlight));
  return index;
}

void draw_icon(Kit& kit, int icon, int x, int y) {
  if (icon < 0 || icon >= static_cast<int>(std::size(kIcons))) return;
  const IconLook& look = kIcons[icon];
  auto colour = static_cast<std::uint8_t>(media::colour_index(look.r, look.g, look.b));
  int r = kIconSize / 2, cx = x + r, cy = y + r;
  for (int dy = -r; dy < r; ++dy) {
    int dx = 0;
    while ((dx + 1) * (dx + 1) + dy * dy <= r * r) ++dx;
    fill_rect(kit.screen, cx - dx, cy + dy, cx + dx - 1, cy + dy, colour);
  }
  char sign[2] = {look.sign, 0};
  draw_centred_text(kit.screen, *kit.font, sign, cx, cy, kWhite);
}

// A left press over a button of the table: its index (the press waited out), else -1.
int clicked_button(Kit& kit) {
  if (!(platform::input().mouse_buttons & 1)) return -1;
  std::int32_t hit = hit_test(kit);
  release_mouse(kit);
  return hit;
}

// The prompt of an input or list box: above the field in a text area of 16,
// 44 or 64 dialog units for lines 1, 2 or 3, else in the title bar.
struct PromptPlace {
  int area = 0;           // pixels of the text area; 0: the prompt is the caption
  int dialog_units = 45;  // height of the whole box
};
PromptPlace prompt_place(int lines) {
  constexpr int kArea[] = {16, 44, 64}, kBox[] = {69, 97, 121};
  if (lines >= 1 && lines <= 3) return {units(kArea[lines - 1]), kBox[lines - 1]};
  return {};
}

// The prompt word-wrapped into the text area at (x, y), as many lines as fit.
void draw_prompt(Kit& kit, std::string_view prompt, int x, int y, int width, int area) {
  const media::Font& f = *kit.font;
  std::string wrapped = word_wrap(f, prompt, width);
  int line = media::line_height(f), rows = std::max(1, area / std::max(1, line));
  std::vector<std::string_view> lines = split(wrapped);
  for (int k = 0; k < rows && k < static_cast<int>(lines.size()); ++k)
    draw_text(kit.screen, f, lines[static_cast<std::size_t>(k)], x, y + k * line, skin_colour(kit.skin, SkinColour::text));
}

// The parts of an input or list box: the prompt's text area and the field
// under it on the left, OK and Cancel in a column on the right.
struct FieldLayout {
  Box box;
  int left = 0, width = 0;  // of the text area and the field
  int area_y = 0, area_height = 0;
  int field_y = 0, field_height = 0;
  int buttons_x = 0, ok_y = 0, cancel_y = 0;
};

int field_height(const Kit& kit) { return media::glyph_height(*kit.font) + 10; }

// Opens the panel of an input or list box (the height its lines ask for,
// more only when the font would not fit) and says where its parts go.
FieldLayout open_field_box(Kit& kit, std::string_view prompt, std::string_view caption, int lines) {
  constexpr int kWidth = 400;
  PromptPlace place = prompt_place(lines);
  int body = kTitleRows + 4, bh = button_height(kit), fh = field_height(kit);
  int needed = body + std::max(place.area + (place.area ? 4 : 0) + fh, 2 * bh + 4) + 8;
  FieldLayout l;
  l.box = open_box(kit, kWidth, std::max(units(place.dialog_units), needed), place.area ? caption : prompt);
  int bw = std::max(button_width(kit, "OK"), button_width(kit, "Cancel"));
  l.buttons_x = l.box.x + l.box.width - 8 - bw;
  l.ok_y = l.box.y + body;
  l.cancel_y = l.ok_y + bh + 4;
  l.left = l.box.x + 8;
  l.width = l.buttons_x - 8 - l.left;
  l.area_y = l.box.y + body;
  l.area_height = place.area;
  l.field_y = l.area_y + (place.area ? place.area + 4 : 0);
  l.field_height = fh;
  if (place.area) draw_prompt(kit, prompt, l.left + 4, l.area_y, l.width - 8, place.area);
  return l;
}

// OK and Cancel of a field box, OK the default: their button indexes.
std::pair<int, int> field_box_buttons(Kit& kit, const FieldLayout& l) {
  int bw = std::max(button_width(kit, "OK"), button_width(kit, "Cancel")), bh = button_height(kit);
  int ok = add_button(kit, l.buttons_x, l.ok_y, l.buttons_x + bw, l.ok_y + bh, 0);
  draw_button_label(kit, "OK", ok);
  draw_rectangle(kit.screen, l.buttons_x - 2, l.ok_y - 2, l.buttons_x + bw + 1, l.ok_y + bh + 1,
                 skin_colour(kit.skin, SkinColour::highlight));
  int cancel = add_button(kit, l.buttons_x, l.cancel_y, l.buttons_x + bw, l.cancel_y + bh, 0);
  draw_button_label(kit, "Cancel", cancel);
  return {ok, cancel};
}

// A one-line field at (x, y) showing text; with a cursor after `cursor`
// characters (none when negative), the text scrolled so that it stays in view.
void draw_field(Kit& kit, int x, int y, int width, std::string_view text, int cursor) {
  const media::Font& f = *kit.font;
  int h = media::glyph_height(f);
  fill_rect(kit.screen, x + 4, y + 4, x + width - 4, y + h + 6, skin_colour(kit.skin, SkinColour::field));
  draw_frame(kit, x, y, x + width, y + h + 10, 1);
  std::uint8_t ink = skin_colour(kit.skin, SkinColour::field_text);
  int room = width - 16;
  // The first character shown: as far back from the cursor as the field has room.
  std::size_t start = cursor >= 0 ? std::min(static_cast<std::size_t>(cursor), text.size()) : 0;
  for (int w = 0; start > 0 && (w += media::advance(f, static_cast<unsigned char>(text[start - 1]))) <= room;) --start;
  draw_text(kit.screen, f, fit(f, text.substr(start), room), x + 8, y + 5, ink);
  if (cursor >= 0) {
    int cx = x + 8 + media::text_width(f, text.substr(start, static_cast<std::size_t>(cursor) - start));
    fill_rect(kit.screen, cx, y + h + 5, cx + 6, y + h + 5, ink);
  }
}

}  // namespace parts

using namespace parts;

// ---- Message box -----------------------------------------------------------------------------

MessageAnswer message_box(Kit& kit, std::string_view text, std::string_view caption, int buttons, int icon) {
  const ButtonRow& row = button_row(buttons);
  if (!kit.font) return row.answer[0];
  const media::Font& f = *kit.font;
  bool has_icon = icon >= 0 && icon < static_cast<int>(std::size(kIcons));
  std::string wrapped = word_wrap(f, text, std::min(kWrapWidth, kit.screen.width - 120));
  std::vector<std::string_view> lines = split(wrapped);
  int line = media::line_height(f), widest = 0, buttons_width = 0;
  // The lines the screen has room for; stderr gets them all when nobody answers.
  std::size_t room = static_cast<std::size_t>(std::max(1, (kit.screen.height - 120) / std::max(1, line)));
  if (lines.size() > room) lines.resize(room);
  for (std::string_view l : lines) widest = std::max(widest, media::text_width(f, l));
  for (int k = 0; k < row.count; ++k) buttons_width += button_width(kit, name_of(row.answer[k]).label) + 12;
  int icon_room = has_icon ? kIconSize + kMargin : 0;
  int text_height = std::max(static_cast<int>(lines.size()) * line, has_icon ? kIconSize : 0);
  int width = std::max({widest + icon_room + 2 * kMargin + 8, buttons_width + 2 * kMargin, 240});
  int height = kTitleRows + kMargin + text_height + kMargin + button_height(kit) + kMargin + 4;
  // What Escape and the close box answer: Cancel, or OK when it stands alone,
  // else the last button (No): Escape always leaves a box.
  int cancel = row.count - 1;
  for (int k = 0; k < row.count; ++k)
    if (row.answer[k] == MessageAnswer::cancel || (row.count == 1 && row.answer[k] == MessageAnswer::ok)) cancel = k;

  flush_input(kit);
  show_pointer(kit, true);
  int focus = 0, chosen = -1;
  while (chosen < 0) {
    Box b = open_box(kit, width, height, caption);
    int top = b.y + kTitleRows + kMargin;
    if (has_icon) draw_icon(kit, icon, b.x + kMargin + 4, top);
    for (std::size_t k = 0; k < lines.size(); ++k)
      draw_text(kit.screen, f, lines[k], b.x + kMargin + 4 + icon_room, top + static_cast<int>(k) * line,
                skin_colour(kit.skin, SkinColour::text));
    int bx = b.x + (b.width - buttons_width) / 2 + 6, by = b.y + b.height - button_height(kit) - kMargin - 4;
    int index[3] = {-1, -1, -1};
    for (int k = 0; k < row.count; ++k) {
      std::string_view label = name_of(row.answer[k]).label;
      index[k] = push_button(kit, label, bx, by, k == focus);
      bx += button_width(kit, label) + 12;
    }
    present(kit);
    for (;;) {
      read_key(kit);
      int scan = kit.last_scan;
      char ch = static_cast<char>(kit.key_text[0] | 0x20);
      if (scan == platform::kScanEnter || scan == platform::kScanSpace) chosen = focus;
      else if (scan == platform::kScanEscape) chosen = cancel;
      else if (scan == platform::kScanTab || scan == platform::kScanRight) focus = (focus + 1) % row.count;
      else if (scan == platform::kScanLeft) focus = (focus + row.count - 1) % row.count;
      else if (scan)
        for (int k = 0; k < row.count; ++k)
          if (ch == name_of(row.answer[k]).key) chosen = k;
      if (scan) break;
      int hit = clicked_button(kit);
      if (hit == kCloseBox) chosen = cancel;
      for (int k = 0; k < row.count; ++k)
        if (hit >= 0 && hit == index[k]) chosen = k;
      if (chosen >= 0) break;
      if (platform::waiting_gives_up()) {
        print_on_stderr(caption, text);
        chosen = 0;
        break;
      }
      await_input(kit);
      present(kit);
    }
  }
  close_panel(kit);
  kit.window_buttons = false;
  return row.answer[chosen];
}

// ---- Input box ---------------------------------------------------------------------------------

bool edit_box(Kit& kit, std::string_view prompt, std::string_view caption, int lines, std::string& text,
              int max_chars) {
  if (!kit.font) return true;
  max_chars = std::max(max_chars, 0);
  InputState st;
  st.before = text.substr(0, static_cast<std::size_t>(max_chars));
  st.before.erase(std::remove(st.before.begin(), st.before.end(), '\0'), st.before.end());
  st.width = 1 << 28;  // the field scrolls: only max_chars limits the text
  flush_input(kit);
  show_pointer(kit, true);
  int answer = -1;  // 1 OK, 0 Cancel
  while (answer < 0) {
    FieldLayout l = open_field_box(kit, prompt, caption, lines);
    std::string whole = st.before + st.after;
    draw_field(kit, l.left, l.field_y, l.width, whole, static_cast<int>(st.before.size()));
    auto [ok, cancel] = field_box_buttons(kit, l);
    present(kit);
    for (;;) {
      read_key(kit);
      int scan = kit.last_scan;
      if (scan == platform::kScanEnter) answer = 1;
      else if (scan == platform::kScanEscape) answer = 0;
      else if (scan) input_key(kit, st, static_cast<unsigned char>(kit.key_text[0]), scan, max_chars);
      if (scan) break;
      const platform::Input& in = platform::input();
      if ((in.mouse_buttons & 1) && in.mouse_x > l.left && in.mouse_x < l.left + l.width && in.mouse_y >= l.field_y &&
          in.mouse_y < l.field_y + l.field_height) {
        InputState at = st;
        at.x = l.left - 8;  // input_click counts from the text's left edge, x + 16
        input_click(kit, at, in.mouse_x);
        st.before = at.before, st.after = at.after;
        release_mouse(kit);
        break;
      }
      int hit = clicked_button(kit);
      if (hit >= 0 && hit == ok) answer = 1;
      if ((hit >= 0 && hit == cancel) || hit == kCloseBox) answer = 0;
      if (answer >= 0) break;
      if (platform::waiting_gives_up()) {
        print_on_stderr(l.area_height ? caption : prompt, l.area_height ? std::string(prompt) + "|" + whole : whole);
        answer = 1;
        break;
      }
      await_input(kit);
      present(kit);
    }
  }
  close_panel(kit);
  kit.window_buttons = false;
  if (answer == 1) text = st.before + st.after;
  return answer == 1;
}

// ---- List box -----------------------------------------------------------------------------------

int list_box(Kit& kit, std::string_view prompt, std::string_view caption, int lines,
             std::span<const std::string> items, int selection) {
  int count = static_cast<int>(items.size());
  int chosen = selection >= 0 && selection < count ? selection : -1;
  if (!kit.font) return chosen;
  const media::Font& f = *kit.font;
  constexpr int kRowsShown = 8;
  int line = media::line_height(f);
  bool dropped = false;   // the drop-down is open
  int chosen_before = chosen, first = 0;
  flush_input(kit);
  show_pointer(kit, true);
  int answer = -2;  // -2 open, -1 Cancel, 0 OK
  while (answer == -2) {
    FieldLayout l = open_field_box(kit, prompt, caption, lines);
    draw_field(kit, l.left, l.field_y, l.width, chosen >= 0 ? std::string_view(items[static_cast<std::size_t>(chosen)]) : "", -1);
    // The drop-down's arrow at the field's right end.
    int ax = l.left + l.width - 16, ay = l.field_y + l.field_height / 2 - 2;
    for (int k = 0; k < 4; ++k) fill_rect(kit.screen, ax - 3 + k, ay + k, ax + 3 - k, ay + k, skin_colour(kit.skin, SkinColour::field_text));
    auto [ok, cancel] = field_box_buttons(kit, l);
    // The open drop-down hangs under the field, over whatever lies there.
    int rows = std::min(count, kRowsShown), list_y = l.field_y + l.field_height - 2;
    if (dropped) {
      if (chosen >= 0) first = std::clamp(first, chosen - rows + 1, chosen);
      first = std::clamp(first, 0, std::max(0, count - rows));
      fill_rect(kit.screen, l.left, list_y, l.left + l.width - 1, list_y + rows * line + 3, skin_colour(kit.skin, SkinColour::field));
      draw_rectangle(kit.screen, l.left, list_y, l.left + l.width - 1, list_y + rows * line + 3, skin_colour(kit.skin, SkinColour::shadow));
      for (int k = 0; k < rows; ++k) {
        int item = first + k, ry = list_y + 2 + k * line;
        if (item == chosen)
          fill_rect(kit.screen, l.left + 2, ry, l.left + l.width - 3, ry + line - 1, skin_colour(kit.skin, SkinColour::highlight));
        draw_text(kit.screen, f, fit(f, items[static_cast<std::size_t>(item)], l.width - 12), l.left + 6, ry + 1,
                  skin_colour(kit.skin, SkinColour::field_text));
      }
    }
    present(kit);
    for (;;) {
      read_key(kit);
      int scan = kit.last_scan, last = count - 1;
      bool alt = platform::input().held[platform::kScanAlt];
      if (scan == platform::kScanEnter) {
        if (dropped) dropped = false;
        else answer = 0;
      } else if (scan == platform::kScanEscape) {
        if (dropped) dropped = false, chosen = chosen_before;
        else answer = -1;
      } else if (scan == platform::kScanF4 || (alt && (scan == platform::kScanDown || scan == platform::kScanUp))) {
        dropped = !dropped;
        chosen_before = chosen;
      } else if (count > 0) {
        if (scan == platform::kScanDown) chosen = std::min(chosen + 1, last);
        else if (scan == platform::kScanUp) chosen = std::max(chosen - 1, 0);
        else if (scan == platform::kScanPageDown) chosen = std::min(std::max(chosen, 0) + kRowsShown - 1, last);
        else if (scan == platform::kScanPageUp) chosen = std::max(chosen - kRowsShown + 1, 0);
        else if (scan == platform::kScanHome) chosen = 0;
        else if (scan == platform::kScanEnd) chosen = last;
      }
      if (scan) break;
      // A press on the field opens or closes the drop-down; on a row, chooses it.
      const platform::Input& in = platform::input();
      bool across = in.mouse_x >= l.left && in.mouse_x < l.left + l.width;
      if ((in.mouse_buttons & 1) && across && in.mouse_y >= l.field_y && in.mouse_y < l.field_y + l.field_height) {
        dropped = !dropped;
        chosen_before = chosen;
        release_mouse(kit);
        break;
      }
      int row = (in.mouse_y - list_y - 2) / line;
      if ((in.mouse_buttons & 1) && dropped && across && in.mouse_y >= list_y + 2 && row < rows) {
        chosen = first + row;
        dropped = false;
        release_mouse(kit);
        break;
      }
      bool pressed = (in.mouse_buttons & 1) != 0;
      int hit = clicked_button(kit);
      if (hit >= 0 && hit == ok) answer = 0;
      if ((hit >= 0 && hit == cancel) || hit == kCloseBox) answer = -1;
      if (answer != -2 || (pressed && dropped)) {
        dropped = false;  // a press elsewhere closes the drop-down
        break;
      }
      if (platform::waiting_gives_up()) {
        std::string shown = chosen >= 0 ? items[static_cast<std::size_t>(chosen)] : std::string();
        print_on_stderr(l.area_height ? caption : prompt, l.area_height ? std::string(prompt) + "|" + shown : shown);
        answer = 0;
        break;
      }
      await_input(kit);
      present(kit);
    }
  }
  close_panel(kit);
  kit.window_buttons = false;
  return answer == 0 ? chosen : -1;
}

// ---- File box ------------------------------------------------------------------------------------

std::string file_mask(std::string_view filter) {
  // "Description|pattern|..." with "|" or "\" between the parts (as brains write
  // the system's zero-separated filter); the first pattern is the mask.
  std::vector<std::string_view> parts;
  for (std::size_t at = 0; at <= filter.size();) {
    std::size_t end = filter.find_first_of("|\\", at);
    if (end == std::string_view::npos) end = filter.size();
    if (end > at) parts.push_back(filter.substr(at, end - at));
    at = end + 1;
  }
  std::string_view mask = parts.size() >= 2 ? parts[1] : parts.size() == 1 ? parts[0] : std::string_view();
  mask = mask.substr(0, mask.find(';'));
  while (!mask.empty() && mask.front() == ' ') mask.remove_prefix(1);
  while (!mask.empty() && mask.back() == ' ') mask.remove_suffix(1);
  if (mask.find('*') == std::string_view::npos && mask.find('?') == std::string_view::npos) return "*.*";
  return std::string(mask);
}

bool file_box(Kit& kit, std::string& path, std::string_view filter, std::string_view caption, bool save,
              int max_chars, std::string_view work_folder) {
  namespace fs = std::filesystem;
  std::string mask = file_mask(filter);
  std::string prompt = std::string(save ? "Save as" : "Open") + " (" + mask + "), file name:";
  if (platform::waiting_gives_up()) {  // nobody to choose: cancelled
    print_on_stderr(caption, prompt + "|" + path);
    return false;
  }
    std::string name = path;
  std::replace(name.begin(), name.end(), '\\', '/');
  fs::path work(work_folder.empty() ? std::string("./") : std::string(work_folder));
  // ".." goes back a folder as written, as the system's dialogs take it.
  auto full = [&](const std::string& n) { return (fs::path(n).is_relative() ? work / n : fs::path(n)).lexically_normal(); };
  fs::path file;
  if (!save) {
    // An existing file, chosen in the list browser from the initial name's folder.
    BrowseFolders folders;
    folders.work = base::Text(fs::absolute(work).lexically_normal().string());
    std::string chosen = list_browser(kit, folders, full(name).string(), mask);
    if (chosen.empty()) return false;
    file = fs::path(chosen);
  } else {
    if (!edit_box(kit, prompt, caption, 1, name, max_chars) || name.empty()) return false;
    std::replace(name.begin(), name.end(), '\\', '/');
    file = full(name);
    std::error_code ec;
    if (fs::is_directory(file, ec)) return false;
    std::string shown = file.string();
    if (message_box(kit, fs::exists(file, ec) ? shown + " already exists.|Do you want to replace it?"
                                              : shown + "|This file does not exist.|Do you want to create it?",
                    caption, 2, 0) != MessageAnswer::yes)
      return false;
  }
  // Inside the working folder the path is given from there, as brains name files.
  std::error_code ec;
  fs::path inside = fs::weakly_canonical(file, ec).lexically_relative(fs::weakly_canonical(work, ec));
  path = !ec && !inside.empty() && *inside.begin() != ".." ? inside.string() : file.string();
  return true;
}

// ---- The runtime error box and the brains' dialogs --------------------------------------------

void runtime_error_box(Kit& kit, std::string_view message) {
  message_box(kit, message, "Runtime Error", 0, 3);
}

void attach_dialogs(engine::Dialogs& dialogs, Kit& kit) {
  dialogs = engine::Dialogs{};
  dialogs.user = &kit;
  dialogs.message = [](void* k, std::string_view text, std::string_view caption, std::int32_t buttons, std::int32_t icon) {
    return static_cast<std::int32_t>(message_box(*static_cast<Kit*>(k), text, caption, buttons, icon));
  };
  dialogs.input = [](void* k, std::string_view prompt, std::string_view caption, std::int32_t lines, std::string& text,
                     int max_chars) { return edit_box(*static_cast<Kit*>(k), prompt, caption, lines, text, max_chars); };
  dialogs.list = [](void* k, std::string_view prompt, std::string_view caption, std::int32_t lines,
                    std::span<const std::string> items, std::int32_t selection) {
    return static_cast<std::int32_t>(list_box(*static_cast<Kit*>(k), prompt, caption, lines, items, selection));
  };
  dialogs.file = [](void* k, std::string& path, std::string_view filter, std::string_view caption, bool save,
                    int max_chars) {
    engine::World* w = engine::active_world();
    std::string folder = w && !w->base_folder.empty() ? std::string(w->base_folder.view()) : std::string("./");
    return file_box(*static_cast<Kit*>(k), path, filter, caption, save, max_chars, folder);
  };
  dialogs.runtime_error = [](void* k, std::string_view message) { runtime_error_box(*static_cast<Kit*>(k), message); };
}

}  // namespace ui
