// The panel kit: skinned panels and buttons, the hit-test table, word wrap,
// the message panel and the input box. Immediate mode: screens redraw
// themselves after each action; the kit keeps only the table and hot areas.
#include <algorithm>
#include <cstdio>

#include "media/media.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace ui {

namespace {

// Skin positions of the named colours, in SkinColour order.
struct Swatch {
  SkinColour colour;
  std::uint8_t x, y;
};
constexpr Swatch kSwatches[] = {
    {SkinColour::panel, 0, 0},      {SkinColour::text, 13, 0},       {SkinColour::title, 28, 3},
    {SkinColour::button, 52, 0},    {SkinColour::field_text, 85, 0}, {SkinColour::highlight, 86, 0},
    {SkinColour::field, 88, 0},     {SkinColour::shadow, 40, 0},     {SkinColour::button_light, 41, 1},
};

constexpr int kTileColumn[3] = {0, 36, 72};  // window, button (style 0), field (style 1)
constexpr int kTitleTop = 4, kTitleWidth = 128, kTitleHeight = 22;
constexpr int kWindowButtonsTop = 26, kWindowButtonsWidth = 34, kWindowButtonsHeight = 14;
constexpr int kNoWindowButtonsX = 34;

enum Tile { top_left, top, top_right, left, centre, right, bottom_left, bottom, bottom_right };

int align4(int v) { return v & ~3; }  // down, also for negatives

// Copies a w x h block of the skin to (x, y), clipped to the screen and to clip_right.
void blit(Kit& kit, int sx, int sy, int w, int h, int x, int y, bool transparent, int clip_right = 1 << 30) {
  Screen& s = kit.screen;
  if (!s.pixels) return;
  for (int j = 0; j < h; ++j) {
    int py = y + j;
    if (py < 0 || py >= s.height) continue;
    for (int i = 0; i < w; ++i) {
      int px = x + i;
      if (px < 0 || px >= s.width || px > clip_right) continue;
      std::uint8_t c = skin_pixel(kit.skin, sx + i, sy + j);
      if (!transparent || c) s.pixels[py * s.width + px] = c;
    }
  }
}

void tile(Kit& kit, int style, Tile t, int x, int y) { blit(kit, kTileColumn[style] + 4 * t, 0, 4, 4, x, y, false); }

// Edge tiles every 4 pixels between the corners at (x1, y1) and (xr, yb), then the corners.
void lay_tiles(Kit& kit, int style, int x1, int y1, int xr, int yb) {
  for (int x = x1 + 4; x < xr; x += 4) {
    tile(kit, style, top, x, y1);
    tile(kit, style, bottom, x, yb);
  }
  for (int y = y1 + 4; y < yb; y += 4) {
    tile(kit, style, left, x1, y);
    tile(kit, style, right, xr, y);
  }
  tile(kit, style, top_left, x1, y1);
  tile(kit, style, top_right, xr, y1);
  tile(kit, style, bottom_left, x1, yb);
  tile(kit, style, bottom_right, xr, yb);
}

std::uint16_t table_value(int v) { return static_cast<std::uint16_t>(std::clamp(v, 0, 0x7FFF)); }

bool inside(const HotArea& a, int x, int y) { return x >= a.x1 && x <= a.x2 && y >= a.y1 && y <= a.y2; }

// Splits "|"-joined lines, each trimmed of blanks.
int split_lines(std::string_view text, std::string_view* out, int capacity) {
  int n = 0;
  while (n < capacity) {
    std::size_t bar = text.find('|');
    std::string_view line = text.substr(0, bar);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
    out[n++] = line;
    if (bar == std::string_view::npos) break;
    text.remove_prefix(bar + 1);
  }
  return n;
}

constexpr int kMaxLines = 96;  // lines a panel shows; more would not fit the largest screen

bool small_font(const media::Font& f) { return media::width_mode(f) == 255; }

// Where nobody sees it, or nothing more is scripted, a waiting panel answers for the user.
bool gives_up() { return platform::waiting_gives_up(); }

void print_on_stderr(std::string_view text) {
  std::string out(text);
  std::replace(out.begin(), out.end(), '|', '\n');
  std::fprintf(stderr, "%s\n", out.c_str());
}

}  // namespace

// ---- Skin -----------------------------------------------------------------------------

bool load_skin(std::string_view path, std::span<std::uint8_t> dest, Skin& skin) {
  skin = Skin{};
  media::ImageSize size;
  media::load_pcx(path, media::kPcxFold, dest, size);
  if (size.width != kSkinWidth || size.height < kSkinHeight) return false;
  skin.pixels = dest.data();
  skin.width = size.width;
  skin.height = size.height;
  return true;
}

std::uint8_t skin_pixel(const Skin& skin, int x, int y) {
  if (!skin.pixels || x < 0 || y < 0 || x >= skin.width || y >= skin.height) return 0;
  return skin.pixels[y * skin.width + x];
}

std::uint8_t skin_colour(const Skin& skin, SkinColour which) {
  for (const Swatch& s : kSwatches)
    if (s.colour == which) return skin_pixel(skin, s.x, s.y);
  return 0;
}

// ---- Kit --------------------------------------------------------------------------------

void init_kit(Kit& kit, const Screen& screen, const media::Font& font, const Skin& skin) {
  kit.screen = screen;
  kit.font = &font;
  kit.skin = skin;
  reset_buttons(kit);
  kit.window_buttons = false;
  kit.close_area = kit.minimise_area = HotArea{};
  platform::set_screen_size(screen.width, screen.height);
}

void reset_buttons(Kit& kit) { std::fill(std::begin(kit.buttons), std::end(kit.buttons), Button{}); }

int add_button(Kit& kit, int x1, int y1, int x2, int y2, int style) {
  style = style == 1 ? 1 : 0;
  fill_rect(kit.screen, x1, y1, x2 - 4, y2 - 4,
            skin_colour(kit.skin, style ? SkinColour::field : SkinColour::button));
  lay_tiles(kit, style + 1, x1, y1, x2 - 4, y2 - 4);
  for (int i = 0; i < kMaxButtons; ++i) {
    Button& b = kit.buttons[i];
    if (b.left != 0xFFFF || b.top != 0xFFFF || b.right != 0xFFFF || b.bottom != 0xFFFF) continue;
    // Coordinates are kept inside 0..32767 so that bit 15 stays the style.
    b.left = static_cast<std::uint16_t>(table_value(x1) | (style ? kStyleField : 0));
    b.top = table_value(y1);
    b.right = table_value(x2);
    b.bottom = table_value(y2);
    return i;
  }
  return -1;  // full
}

void draw_frame(Kit& kit, int x1, int y1, int x2, int y2, int style) {
  lay_tiles(kit, (style == 1 ? 1 : 0) + 1, x1, y1, x2 - 3, y2 - 3);
}

void draw_button_label(Kit& kit, std::string_view text, int index) {
  if (index < 0 || index >= kMaxButtons || !kit.font) return;
  const Button& b = kit.buttons[index];
  if (b.left == 0xFFFF) return;
  const media::Font& f = *kit.font;
  int left = b.left & 0x7FFF, right = b.right, top = b.top, bottom = b.bottom;
  // The text width counts the spacing after the last letter; half of it moves the label back to the middle.
  int x = left + ((right - left) - media::text_width(f, text)) / 2 + (media::letter_spacing(f) + 1) / 2;
  int y = small_font(f) ? top + ((bottom - top) - 7) / 2 : top + ((bottom - top) - media::glyph_height(f) + 2) / 2;
  std::uint8_t colour = skin_colour(kit.skin, (b.left & kStyleField) ? SkinColour::field_text : SkinColour::text);
  draw_text(kit.screen, f, text, x, y, colour);
}

std::int32_t hit_test(Kit& kit) {
  if (!kit.mouse_enabled) return -1;
  const platform::Input& in = platform::input();
  int mx = in.mouse_x, my = in.mouse_y;
  if (kit.window_buttons && inside(kit.close_area, mx, my)) return kCloseBox;
  if (kit.window_buttons && (in.mouse_buttons & 1) && inside(kit.minimise_area, mx, my)) {
    wait_mouse_release(kit);
    platform::minimise_window();
    wait_mouse_release(kit);
    return -1;
  }
  for (int i = 0; i < kMaxButtons; ++i) {
    const Button& b = kit.buttons[i];
    if (b.left == 0xFFFF && b.top == 0xFFFF && b.right == 0xFFFF && b.bottom == 0xFFFF) continue;
    if (mx >= (b.left & 0x7FFF) && mx <= b.right && my >= b.top && my <= b.bottom) return i;
  }
  return -1;
}

void draw_panel(Kit& kit, int x1, int y1, int x2, int y2, bool with_buttons) {
  x1 = align4(x1);
  y1 = align4(y1);
  int xa = align4(x2);
  int xr = xa - 4, yb = align4(y2) - 4;
  fill_rect(kit.screen, x1, y1, xr + 3, yb + 3, skin_colour(kit.skin, SkinColour::panel));
  lay_tiles(kit, 0, x1, y1, xr, yb);
  fill_rect(kit.screen, x1 + 3, y1 + 3, xa - 3, y1 + 23, skin_colour(kit.skin, SkinColour::title));
  // The title image stays inside the panel on narrow panels.
  blit(kit, 0, kTitleTop, kTitleWidth, kTitleHeight, x1 + 2, y1 + 2, true, xr - 1);
  int sx = with_buttons ? 0 : kNoWindowButtonsX;
  blit(kit, sx, kWindowButtonsTop, kWindowButtonsWidth, kWindowButtonsHeight, xa - 40, y1 + 6, true);
  kit.close_area = {xa - 22, y1 + 6, xa - 7, y1 + 21};
  kit.minimise_area = {xa - 40, y1 + 6, xa - 25, y1 + 21};
  kit.window_buttons = with_buttons;
  wait_mouse_release(kit);
}

void draw_centred(Kit& kit, std::string_view text, int x, int y, std::uint8_t colour) {
  if (!kit.font) return;
  int dy = small_font(*kit.font) ? 4 : media::glyph_height(*kit.font) / 2;
  draw_text(kit.screen, *kit.font, text, x - media::text_width(*kit.font, text) / 2, y - dy, colour);
}

// ---- Word wrap ----------------------------------------------------------------------------

std::string word_wrap(const media::Font& font, std::string_view text, int max_width) {
  std::string out;
  bool first_line = true;
  for (;;) {
    std::size_t bar = text.find('|');
    std::string_view forced = text.substr(0, bar);
    if (!first_line) out += '|';
    first_line = false;
    // Words of this forced line, appended while the line stays within max_width.
    std::string line;
    std::size_t i = 0;
    while (i < forced.size()) {
      while (i < forced.size() && forced[i] == ' ') ++i;
      if (i == forced.size()) break;
      std::size_t start = i;
      while (i < forced.size() && forced[i] != ' ') ++i;
      std::string_view word = forced.substr(start, i - start);
      if (line.empty()) {
        line = word;
        continue;
      }
      std::string wider = line + ' ' + std::string(word);
      if (media::text_width(font, wider) <= max_width) {
        line = std::move(wider);
      } else {
        out += line;
        out += '|';
        line = word;
      }
    }
    out += line;
    if (bar == std::string_view::npos) break;
    text.remove_prefix(bar + 1);
  }
  return out;
}

// ---- Message panel ---------------------------------------------------------------------------

MessageLayout draw_message_panel(Kit& kit, std::string_view text, std::string_view answer1,
                                 std::string_view answer2) {
  MessageLayout m;
  if (!kit.font) return m;
  const media::Font& f = *kit.font;
  std::string wrapped = word_wrap(f, text);
  std::string_view lines[kMaxLines];
  m.lines = split_lines(wrapped, lines, kMaxLines);
  int a1 = align4(media::text_width(f, answer1)) + 4;
  int a2 = align4(media::text_width(f, answer2)) + 4;
  int widest = 0;
  for (int k = 0; k < m.lines; ++k) widest = std::max(widest, media::text_width(f, lines[k]));
  int w = align4(widest) + 4;
  while (w <= a1 + a2 + 64) w += 4;
  w += 36;
  int h = media::glyph_height(f) + 6;
  m.width = w;
  m.height = (m.lines + 4) * h;
  m.x = ((kit.screen.width - w) / 4) * 2;
  m.y = ((kit.screen.height - m.height) / 4) * 2;
  clear_screen(kit.screen);
  draw_panel(kit, m.x, m.y - 16, m.x + w, m.y + m.height, false);
  reset_buttons(kit);
  int top = m.y + (m.lines + 2) * h, bottom = m.y + (m.lines + 3) * h;
  m.answer_buttons[0] = add_button(kit, m.x + 12, top, m.x + 24 + a1, bottom, 0);
  m.answer_buttons[1] = add_button(kit, m.x + w - a2 - 28, top, m.x + w - 16, bottom, 0);
  draw_button_label(kit, answer1, m.answer_buttons[0]);
  draw_button_label(kit, answer2, m.answer_buttons[1]);
  std::uint8_t ink = skin_colour(kit.skin, SkinColour::text);
  for (int k = 1; k <= m.lines; ++k) draw_centred(kit, lines[k - 1], m.x + w / 2, m.y + h / 2 + 2 + k * h, ink);
  return m;
}

namespace {

int question(Kit& kit, std::string_view text, std::string_view answer1, std::string_view answer2) {
  MessageLayout m = draw_message_panel(kit, text, answer1, answer2);
  show_pointer(kit, true);
  present(kit);
  wait_mouse_release(kit);
  flush_input(kit);
  int answer = 0;
  while (!answer) {
    read_key(kit);
    if (kit.last_scan == platform::kScanEnter) answer = 1;
    else if (kit.last_scan == platform::kScanDelete) answer = 2;
    else if (kit.last_scan == platform::kScanEscape && answer2.empty()) answer = 1;  // a lone answer: Escape leaves
    std::int32_t hit = hit_test(kit);
    if (!answer && (platform::input().mouse_buttons & 1)) {
      if (hit >= 0 && hit == m.answer_buttons[0]) answer = 1;
      if (hit >= 0 && hit == m.answer_buttons[1]) answer = 2;
    }
    if (answer) break;
    if (gives_up()) {
      print_on_stderr(text);
      answer = 1;
      break;
    }
    await_input(kit);
    present(kit);
  }
  close_panel(kit);
  return answer;
}

}  // namespace

int choice_panel(Kit& kit, std::string_view text, std::span<const Choice> choices, int escape_answer) {
  if (!kit.font || choices.empty() || choices.size() > kMaxChoices) return 0;
  const media::Font& f = *kit.font;
  std::string wrapped = word_wrap(f, text);
  std::string_view lines[kMaxLines];
  int count = split_lines(wrapped, lines, kMaxLines);
  int h = media::glyph_height(f) + 6;
  // The answers side by side, 12 pixels apart, under the text.
  int labels[kMaxChoices] = {};
  int row = 0;
  for (std::size_t k = 0; k < choices.size(); ++k) {
    labels[k] = align4(media::text_width(f, choices[k].label)) + 12;
    row += labels[k] + (k ? 12 : 0);
  }
  int widest = row;
  for (int k = 0; k < count; ++k) widest = std::max(widest, media::text_width(f, lines[k]));
  int w = align4(widest) + 40;
  int height = (count + 4) * h;
  int x = ((kit.screen.width - w) / 4) * 2, y = ((kit.screen.height - height) / 4) * 2;
  clear_screen(kit.screen);
  draw_panel(kit, x, y - 16, x + w, y + height, false);
  reset_buttons(kit);
  int buttons[kMaxChoices] = {};
  int left = x + (w - row) / 2, top = y + (count + 2) * h;
  for (std::size_t k = 0; k < choices.size(); ++k) {
    buttons[k] = add_button(kit, left, top, left + labels[k] + 4, top + h, 0);
    draw_button_label(kit, choices[k].label, buttons[k]);
    left += labels[k] + 12;
  }
  std::uint8_t ink = skin_colour(kit.skin, SkinColour::text);
  for (int k = 1; k <= count; ++k) draw_centred(kit, lines[k - 1], x + w / 2, y + h / 2 + 2 + k * h, ink);
  show_pointer(kit, true);
  present(kit);
  wait_mouse_release(kit);
  flush_input(kit);
  int answer = 0;
  for (;;) {
    read_key(kit);
    for (std::size_t k = 0; k < choices.size() && !answer; ++k)
      if (kit.last_scan != 0 && kit.last_scan == choices[k].scan_code) answer = static_cast<int>(k) + 1;
    if (!answer && kit.last_scan == platform::kScanEscape) answer = escape_answer;
    std::int32_t hit = hit_test(kit);
    if (!answer && (platform::input().mouse_buttons & 1))
      for (std::size_t k = 0; k < choices.size(); ++k)
        if (hit >= 0 && hit == buttons[k]) answer = static_cast<int>(k) + 1;
    if (answer) break;
    if (gives_up()) {
      print_on_stderr(text);
      break;
    }
    await_input(kit);
    present(kit);
  }
  close_panel(kit);
  return answer;
}

namespace {

void information(Kit& kit, std::string_view text) {
  const media::Font& f = *kit.font;
  kit.info_showing = true;
  std::string_view lines[kMaxLines];
  std::string raw(text);
  int count = split_lines(raw, lines, kMaxLines);
  std::uint8_t ink = skin_colour(kit.skin, SkinColour::text);
  if (count == 1) {
    int w = media::text_width(f, lines[0]) * 3 / 2, h = 150;
    int x = (kit.screen.width - w) / 2, y = (kit.screen.height - h) / 2;
    draw_panel(kit, x, y, x + w, y + h, false);
    // The text wrapped into (x + 8, y + 24)-(x + w - 8, y + 134).
    std::string wrapped = word_wrap(f, lines[0], w - 16);
    std::string_view parts[kMaxLines];
    int n = split_lines(wrapped, parts, kMaxLines);
    int lh = media::line_height(f);
    int room = std::max(1, (134 - 24) / std::max(1, lh));
    n = std::min(n, room);
    int top = y + 24 + ((134 - 24) - n * lh) / 2;
    for (int k = 0; k < n; ++k) draw_centred(kit, parts[k], x + w / 2, top + k * lh + lh / 2, ink);
  } else {
    int widest = 0;
    for (int k = 0; k < count; ++k) widest = std::max(widest, media::text_width(f, lines[k]));
    int lh = media::glyph_height(f) + 2;
    int w = widest + 32, h = (count + 3) * lh;
    int x = (kit.screen.width - w) / 2, y = (kit.screen.height - h) / 2;
    draw_panel(kit, x, y, x + w, y + h, false);
    for (int k = 0; k < count; ++k) draw_centred(kit, lines[k], x + w / 2, y + 24 + lh / 2 + k * lh, ink);
  }
  show_pointer(kit, true);
  present(kit);
}

}  // namespace

void close_panel(Kit& kit) {
  clear_screen(kit.screen);
  show_pointer(kit, false);
  present(kit);
  wait_mouse_release(kit);
  flush_input(kit);
}

int message_panel(Kit& kit, std::string_view text, std::string_view answer1, std::string_view answer2) {
  if (!kit.font) return 0;
  if (!answer1.empty() || !answer2.empty()) return question(kit, text, answer1, answer2);
  if (!text.empty()) {
    information(kit, text);
    return 0;
  }
  kit.info_showing = false;
  clear_screen(kit.screen);
  show_pointer(kit, false);
  present(kit);
  return 0;
}

}  // namespace ui
