// The kit's input side: the input box, key reading, flushing, the mouse
// pointer, the clipboard buffer and the print routines' screen output.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "media/media.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace ui {

namespace {

// Modifiers are not "any key": Ctrl, left Shift, right Shift, Alt.
constexpr int kModifierScans[] = {platform::kScanCtrl, platform::kScanLeftShift, platform::kScanRightShift,
                                  platform::kScanAlt};

// The mouse pointer, 12 x 19: '#' outline, '.' fill, blank transparent.
constexpr const char* kPointer[] = {
    "#           ", "##          ", "#.#         ", "#..#        ", "#...#       ", "#....#      ",
    "#.....#     ", "#......#    ", "#.......#   ", "#........#  ", "#.........# ", "#......#####",
    "#...#..#    ", "#..# #..#   ", "#.#  #..#   ", "##    #..#  ", "#     #..#  ", "       #..# ",
    "       ###  ",
};
constexpr int kPointerHeight = static_cast<int>(std::size(kPointer));
constexpr int kPointerWidth = 12;

Kit* g_print_kit = nullptr;  // the file slots' screen sink is a plain function pointer

void drop_zeros(std::string& s) { s.erase(std::remove(s.begin(), s.end(), '\0'), s.end()); }

}  // namespace

// ---- Input box ----------------------------------------------------------------------

// The field reaches 4 pixels lower than a bare half-height grid gives, so
// that a whole line of the font and the cursor under it fit inside its frame;
// the panel grows by as much.
void draw_input_box(Kit& kit, const InputState& st) {
  if (!kit.font) return;
  const media::Font& f = *kit.font;
  int h = st.half_height, x = st.x, y = st.y, width = st.width;
  clear_screen(kit.screen);
  draw_panel(kit, x, y - 4 * h * st.lines - 16, x + width, y + 8 * h + 8, true);
  std::string_view rest = st.prompt;
  std::uint8_t ink = skin_colour(kit.skin, SkinColour::text);
  for (int k = 0; k < st.lines; ++k) {
    std::size_t bar = rest.find('|');
    std::string_view line = rest.substr(0, bar);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
    draw_centred(kit, line, x + width / 2, y - 4 * h * st.lines + 30 + 4 * h * k, ink);
    if (bar == std::string_view::npos) break;
    rest.remove_prefix(bar + 1);
  }
  fill_rect(kit.screen, x + 12, y + 5 * h, x + width - 16, y + 7 * h + 1, skin_colour(kit.skin, SkinColour::field));
  draw_frame(kit, x + 8, y + 5 * h - 4, x + width - 12, y + 7 * h + 4, 1);
  std::uint8_t text_ink = skin_colour(kit.skin, SkinColour::field_text);
  int tx = x + 16, ty = y + 5 * h + 1;
  draw_text(kit.screen, f, st.before, tx, ty, text_ink);
  int cx = tx + media::text_width(f, st.before);
  draw_text(kit.screen, f, st.after, cx, ty, text_ink);
  // The cursor underlines the character after it (a blank at the end).
  unsigned char next = st.after.empty() ? ' ' : static_cast<unsigned char>(st.after[0]);
  int cw = std::max(2, media::advance(f, next) - media::letter_spacing(f));
  fill_rect(kit.screen, cx, y + 7 * h + 1, std::min(cx + cw - 1, x + width - 16), y + 7 * h + 1, text_ink);
}

bool input_key(const Kit& kit, InputState& st, int character, int scan_code, int max_chars) {
  switch (scan_code) {
    case platform::kScanBackspace:
      if (!st.before.empty()) st.before.pop_back();
      return true;
    case platform::kScanDelete:
      if (!st.after.empty()) st.after.erase(0, 1);
      return true;
    case platform::kScanHome:
      st.after = st.before + st.after;
      st.before.clear();
      return true;
    case platform::kScanEnd:
      st.before += st.after;
      st.after.clear();
      return true;
    case platform::kScanLeft:
      if (!st.before.empty()) {
        st.after.insert(st.after.begin(), st.before.back());
        st.before.pop_back();
      }
      return true;
    case platform::kScanRight:
      if (!st.after.empty()) {
        st.before += st.after[0];
        st.after.erase(0, 1);
      }
      return true;
    default: break;
  }
  // Control characters (Tab, Enter, Escape, Ctrl+letter) are not text.
  if (character < 32 || !kit.font) return false;
  const media::Font& f = *kit.font;
  if (static_cast<int>(st.before.size() + st.after.size()) >= max_chars) return false;
  std::string whole = st.before + static_cast<char>(character) + st.after;
  int limit = st.width - 32 - media::text_width(f, "Mm0wW") / 5;
  if (media::text_width(f, whole) >= limit) return false;
  st.before += static_cast<char>(character);
  return true;
}

void input_click(const Kit& kit, InputState& st, int mouse_x) {
  if (!kit.font) return;
  std::string whole = st.before + st.after;
  int room = mouse_x - st.x - 16;
  std::size_t n = 0;
  while (n < whole.size() && media::text_width(*kit.font, std::string_view(whole).substr(0, n + 1)) <= room) ++n;
  st.before = whole.substr(0, n);
  st.after = whole.substr(n);
}

std::string input_box(Kit& kit, int width, std::string_view initial, std::string_view prompt, int max_chars) {
  if (!kit.font) return std::string(initial);
  const media::Font& f = *kit.font;
  flush_input(kit);
  wait_mouse_release(kit);
  InputState st;
  st.prompt = word_wrap(f, prompt);
  st.lines = 1 + static_cast<int>(std::count(st.prompt.begin(), st.prompt.end(), '|'));
  std::string_view rest = st.prompt;
  for (int k = 0; k < st.lines; ++k) {
    std::size_t bar = rest.find('|');
    int w = media::text_width(f, rest.substr(0, bar));
    if (w > width) width = w + 64;
    if (bar == std::string_view::npos) break;
    rest.remove_prefix(bar + 1);
  }
  width = std::clamp(width, std::min(64, kit.screen.width), kit.screen.width);
  st.width = width;
  st.half_height = media::glyph_height(f) / 2;
  st.x = (kit.screen.width - width) / 2;
  st.y = (kit.screen.height - 8 * st.half_height) / 2;
  max_chars = std::clamp(max_chars, 0, 65535);
  st.before = std::string(initial.substr(0, static_cast<std::size_t>(max_chars)));
  drop_zeros(st.before);
  platform::typed_clear(platform::input().typed);

  show_pointer(kit, true);
  bool done = false;
  while (!done) {
    draw_input_box(kit, st);
    present(kit);
    for (;;) {
      read_key(kit);
      int scan = kit.last_scan;
      if (scan) {
        if (scan == platform::kScanEnter || scan == platform::kScanEscape) done = true;
        else input_key(kit, st, static_cast<unsigned char>(kit.key_text[0]), scan, max_chars);
        break;
      }
      const platform::Input& in = platform::input();
      std::int32_t hit = hit_test(kit);
      if (in.mouse_buttons & 2) {
        done = true;
        break;
      }
      if (in.mouse_buttons & 1) {
        if (hit == kCloseBox) {
          done = true;
          break;
        }
        if (in.mouse_x > st.x + 16 && in.mouse_x < st.x + width - 16) {
          input_click(kit, st, in.mouse_x);
          wait_mouse_release(kit);
          break;
        }
      }
      if (platform::waiting_gives_up()) {
        std::fprintf(stderr, "%s\n%s%s\n", prompt.empty() ? "" : std::string(prompt).c_str(), st.before.c_str(),
                     st.after.c_str());
        done = true;
        break;
      }
      await_input(kit);
      present(kit);
    }
  }
  close_panel(kit);
  kit.window_buttons = false;
  return st.before + st.after;
}

// ---- Keys and mouse --------------------------------------------------------------------

std::string_view read_key(Kit& kit) {
  std::uint32_t event;
  if (!platform::ring_take(platform::input().ring, event)) {
    kit.last_scan = 0;
    kit.key_text[0] = 0;
    return {};
  }
  kit.last_scan = platform::event_scan_code(event);
  kit.key_text[0] = static_cast<char>(platform::event_character(event));
  kit.key_text[1] = 0;
  return kit.key_text[0] ? std::string_view(kit.key_text, 1) : std::string_view();
}

int any_key(Kit& kit) {
  const platform::Input& in = platform::input();
  kit.held_key = 0;
  for (int scan = 1; scan < 256 && !kit.held_key; ++scan) {
    if (!in.held[scan]) continue;
    if (std::find(std::begin(kModifierScans), std::end(kModifierScans), scan) != std::end(kModifierScans)) continue;
    kit.held_key = scan;
  }
  return kit.held_key;
}

void flush_input(Kit& kit) {
  for (int pass = 0; pass < 20; ++pass) {
    platform::pump();
    while ((platform::any_key_held() || any_key(kit)) && !platform::waiting_gives_up()) platform::await_input();
    platform::ring_clear(platform::input().ring);
  }
  kit.held_key = 0;
}

void wait_mouse_release(Kit& kit) {
  pump(kit);
  while (platform::input().mouse_buttons && !platform::waiting_gives_up()) await_input(kit);
}

void pump(Kit& kit) {
  platform::set_screen_size(kit.screen.width, kit.screen.height);
  platform::sample_input();
}

void await_input(Kit& kit) {
  platform::set_screen_size(kit.screen.width, kit.screen.height);
  platform::await_input();
}

// ---- Presentation -------------------------------------------------------------------------

void show_pointer(Kit& kit, bool shown) {
  kit.pointer_shown = shown;
  platform::cover_cursor(shown);  // the kit draws its own pointer on the screen
}

void present(Kit& kit) {
  Screen& s = kit.screen;
  if (!s.pixels) return;
  if (!kit.pointer_shown) {
    present(s);
    return;
  }
  // Drawn over the screen for this one presentation, then the pixels under it put back.
  std::uint8_t under[kPointerHeight][kPointerWidth];
  const platform::Input& in = platform::input();
  int mx = in.mouse_x, my = in.mouse_y;
  std::uint8_t outline = kBlack, fill = kWhite;
  for (int j = 0; j < kPointerHeight; ++j)
    for (int i = 0; i < kPointerWidth; ++i) {
      int x = mx + i, y = my + j;
      if (x < 0 || y < 0 || x >= s.width || y >= s.height) continue;
      std::uint8_t& p = s.pixels[y * s.width + x];
      under[j][i] = p;
      if (kPointer[j][i] == '#') p = outline;
      if (kPointer[j][i] == '.') p = fill;
    }
  present(s);
  for (int j = 0; j < kPointerHeight; ++j)
    for (int i = 0; i < kPointerWidth; ++i) {
      int x = mx + i, y = my + j;
      if (x < 0 || y < 0 || x >= s.width || y >= s.height) continue;
      s.pixels[y * s.width + x] = under[j][i];
    }
}

// ---- Clipboard ------------------------------------------------------------------------------

std::string clipboard_text_of(const ClipboardBuffer& buffer) {
  std::string out;
  if (buffer.tag != kClipboardTag) return out;
  std::size_t n = std::min<std::size_t>(buffer.length, kClipboardChars);
  out.reserve(n + n / 16);
  for (std::size_t i = 0; i < n; ++i) {
    out += buffer.text[i];
    if (buffer.text[i] == '\r') out += '\n';
  }
  return out;
}

void set_clipboard_buffer(ClipboardBuffer& buffer, std::string_view text) {
  std::uint32_t n = 0;
  for (char c : text) {
    if (n == kClipboardChars) break;
    if (c == '\n' || c == '|') continue;
    buffer.text[n++] = c;
  }
  buffer.text[n] = 0;
  buffer.length = n;
  buffer.tag = kClipboardTag;
}

void copy_to_clipboard(const Kit& kit) {
  if (kit.clipboard.tag != kClipboardTag) return;
  platform::set_clipboard_text(clipboard_text_of(kit.clipboard));
}

void paste_from_clipboard(Kit& kit) {
  std::string text;
  if (platform::clipboard_text(text)) set_clipboard_buffer(kit.clipboard, text);
}

// ---- Print routines ---------------------------------------------------------------------------

void print_text(Kit& kit, std::string_view text, bool new_line) {
  Screen& s = kit.screen;
  if (!kit.font || !s.pixels) return;
  const media::Font& f = *kit.font;
  int lh = media::line_height(f);
  auto scroll_if_needed = [&] {
    if (kit.print_y + lh <= s.height) return;
    int by = kit.print_y + lh - s.height;  // rows to move up
    by = std::min(by, s.height);
    std::memmove(s.pixels, s.pixels + static_cast<std::size_t>(by) * s.width,
                 static_cast<std::size_t>(s.height - by) * s.width);
    std::memset(s.pixels + static_cast<std::size_t>(s.height - by) * s.width, 0, static_cast<std::size_t>(by) * s.width);
    kit.print_y -= by;
  };
  scroll_if_needed();
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    int w = media::advance(f, c);
    if (kit.print_x + w > s.width && kit.print_x > 0) {
      kit.print_x = 0;
      kit.print_y += lh;
      scroll_if_needed();
    }
    draw_text(s, f, text.substr(i, 1), kit.print_x, kit.print_y, kWhite);
    kit.print_x += w;
  }
  if (new_line) {
    kit.print_x = 0;
    kit.print_y += lh;
    scroll_if_needed();
  }
  present(kit);
}

void set_print_kit(Kit* kit) { g_print_kit = kit; }

void print_sink(std::string_view text, bool new_line) {
  if (g_print_kit) {
    print_text(*g_print_kit, text, new_line);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (new_line) std::fputc('\n', stdout);
}

}  // namespace ui
