// The script text editor: the text buffer and its cleaning, the cursor, the
// selection, the undo ring, the keys and the mouse, the 80 x 40 grid drawing,
// and the round trip on a file. Every buffer is reserved with the editor.
#include "ui/text_editor.h"

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>

#include "base/files.h"
#include "media/media.h"
#include "platform/platform.h"

namespace ui {

namespace {

constexpr int kCap = static_cast<int>(kMaxEditorText);
constexpr int kSlotHeader = 16;  // view offset, text length, cursor column, cursor row: four 32-bit words
constexpr int kSlotBytes = 65536;
static_assert(kSlotHeader + kMaxEditorText == kSlotBytes, "an undo slot holds the largest text with its header");
constexpr int kLastColumn = kEditorColumns - 1;
constexpr int kLastRow = kEditorRows - 1;
constexpr int kWheelLines = 3;
constexpr int kStatusPasses = 64;     // passes of the wait between two status lines
constexpr int kGoToContext = 12;      // lines shown above a line gone to
constexpr int kMaxBannerLines = 2;
constexpr int kShift = 3, kCtrl = 4, kAlt = 8;  // modifier values, as platform::modifier_mask gives them

// The status line's help: eight 16-character segments between bars, shown in turn.
constexpr char kStatusHelp[] =
    " Shft+Crs=range |    F1=load     |    F2=save     |F4/F3=store/find|^+U/R=undo/redo |Ctrl+A=indentall|"
    "Alt+D=deleteline|^+C/V=copy/paste";
constexpr int kStatusSegment = 16;
constexpr int kStatusSegments = 8;
static_assert(sizeof kStatusHelp - 1 == (kStatusSegment + 1) * kStatusSegments - 1);

// Set-1 scan codes of the letters the commands use.
enum Letter : int { kScanR = 19, kScanU = 22, kScanA = 30, kScanD = 32, kScanH = 35, kScanC = 46, kScanV = 47 };

// What opening drops, by kind (EditorOpen::dropped_kinds words them).
enum DropKind : unsigned { kDropBrace = 1, kDropBar = 2, kDropTilde = 4, kDropControl = 8, kDropHigh = 16 };
struct DropName {
  unsigned kind;
  const char* words;
};
constexpr DropName kDropNames[] = {
    {kDropBrace, "braces"},
    {kDropBar, "vertical bars"},
    {kDropTilde, "tildes"},
    {kDropControl, "control characters"},
    {kDropHigh, "characters above 'z' (accented letters and other signs)"},
};

bool keepable(unsigned char c) { return c == '\r' || (c >= 32 && c <= 122); }

unsigned drop_kind(unsigned char c) {
  if (c == '{' || c == '}') return kDropBrace;
  if (c == '|') return kDropBar;
  if (c == '~') return kDropTilde;
  if (c < 32 || c == 127) return kDropControl;
  return kDropHigh;
}

// "65,520"
std::string with_commas(long n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

void put32(std::uint8_t* p, std::int32_t v) { std::memcpy(p, &v, 4); }
std::int32_t get32(const std::uint8_t* p) {
  std::int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

bool is_modifier_scan(int scan) {
  return scan == platform::kScanCtrl || scan == platform::kScanLeftShift || scan == platform::kScanRightShift ||
         scan == platform::kScanAlt;
}

}  // namespace

struct EditorState {
  // The text: lines each ended by one CR, only CR and 32..122, always ending in a CR.
  char text[kMaxEditorText + 1] = {'\r'};
  int length = 1;
  int lines = 1;  // line ends in the text
  // Show mode: line ends that were blanks before long lines were broken.
  std::bitset<kMaxEditorText> soft;
  EditorMode mode = EditorMode::edit;

  int top_line = 0, top = 0;      // first line shown: index and byte offset
  int line = 0, column = 0;       // the cursor: line index, column 0..79
  int corner_line = 0, corner_column = 0;  // the selection's other corner

  // The undo ring: snapshots numbered from the opening one; the ring holds
  // numbers first..last, the text is number current unless dirty (changed since).
  std::uint8_t slots[kUndoSlots][kSlotBytes];
  int first = 0, last = 0, current = 0;
  bool dirty = false;
  int redo_left = 0;  // redo steps still allowed (two after undoing)

  char find[kMaxFindText + 1] = {};
  int find_length = 0;
  char scratch[kMaxEditorText + 1];  // pasting and indenting are built here

  char banner[kMaxBannerLines][kEditorColumns + 1] = {};
  int banner_lines = 0;
  int marked_line = 0;  // file line, 1-based; 0 none

  const media::Font* font = nullptr;
  int dropped = 0;
  bool modified = false;
  int status_segment = 0;

  // ---- Lines and positions ----

  int line_end(int start) const {  // offset of the CR ending the line that starts at start
    const void* cr = std::memchr(text + start, '\r', static_cast<std::size_t>(length - start));
    return cr ? static_cast<int>(static_cast<const char*>(cr) - text) : length - 1;
  }
  int start_from(int from, int at, int k) const {  // offset of line k, walking from line from at offset at
    for (; from < k; ++from) at = line_end(at) + 1;
    return at;
  }
  int start_of(int k) const {  // offset of line k (clamped); top is kept right for the text
    k = std::clamp(k, 0, lines - 1);
    return k >= top_line ? start_from(top_line, top, k) : start_from(0, 0, k);
  }
  int line_of(int offset) const {  // line holding byte offset
    return static_cast<int>(std::count(text, text + std::clamp(offset, 0, length), '\r')) -
           (offset >= length ? 1 : 0);
  }
  int length_of(int k) const {
    int s = start_of(k);
    return line_end(s) - s;
  }
  int offset_at(int k, int col) const {
    int s = start_of(k);
    return s + std::min(col, line_end(s) - s);
  }
  int cursor() const { return offset_at(line, column); }
  int corner() const { return offset_at(corner_line, corner_column); }
  int last_row_line() const { return std::min(top_line + kLastRow, lines - 1); }

  // The first line shown, clamped to the text.
  void set_top(int k) {
    top_line = std::clamp(k, 0, lines - 1);
    top = start_from(0, 0, top_line);
  }
  // Keeps the view and the cursor inside the text and the cursor in the window.
  void settle() {
    line = std::clamp(line, 0, lines - 1);
    int t = std::clamp(top_line, 0, lines - 1);
    if (line < t) t = line;
    if (line > t + kLastRow) t = line - kLastRow;
    if (t != top_line) set_top(t);
    column = std::clamp(column, 0, kLastColumn);
    corner_line = std::clamp(corner_line, 0, lines - 1);
    corner_column = std::clamp(corner_column, 0, kLastColumn);
  }
  void move_cursor_to(int offset) {
    line = line_of(offset);
    column = std::min(offset - start_of(line), kLastColumn);
    settle();
  }
  void collapse() {
    corner_line = line;
    corner_column = column;
  }
  bool has_selection() const { return cursor() != corner(); }
  void selection(int& a, int& b) const {
    a = cursor(), b = corner();
    if (a > b) std::swap(a, b);
  }
  int file_line_of(int k) const {  // 1-based file line of buffer line k
    int n = 1, at = 0;
    for (int i = 0; i < k; ++i) {
      at = line_end(at);
      if (!soft[static_cast<std::size_t>(at)]) ++n;
      ++at;
    }
    return n;
  }
  int line_of_file_line(int n) const {  // first buffer line of file line n (1-based, clamped)
    int file = 1, at = 0;
    for (int k = 0; k < lines; ++k) {
      if (file >= n) return k;
      at = line_end(at);
      if (!soft[static_cast<std::size_t>(at)]) ++file;
      ++at;
    }
    return lines - 1;
  }

  // ---- Changing the text ----

  // After every change of the text: the line count and the offset of the first line shown.
  void recount() {
    lines = std::max(1, static_cast<int>(std::count(text, text + length, '\r')));
  }
  bool fits(int more) const { return length + more <= kCap; }
  void insert(int at, const char* s, int n) {  // the caller checked fits(n)
    std::memmove(text + at + n, text + at, static_cast<std::size_t>(length - at));
    std::memcpy(text + at, s, static_cast<std::size_t>(n));
    length += n;
    recount();
    modified = true;
  }
  void erase(int at, int n) {
    n = std::min(n, length - at);
    if (n <= 0) return;
    std::memmove(text + at, text + at + n, static_cast<std::size_t>(length - at - n));
    length -= n;
    if (length == 0 || text[length - 1] != '\r') text[length++] = '\r';  // the text always ends a line
    recount();
    modified = true;
  }
  void delete_selection() {
    int a, b;
    selection(a, b);
    erase(a, b - a);
    move_cursor_to(a);
    collapse();
  }
  // Inserts at the cursor, blanks first when it stands past the line's end;
  // false (nothing inserted) when the text would pass the cap.
  bool insert_at_cursor(const char* s, int n) {
    int start = start_of(line), len = line_end(start) - start;
    int pad = std::max(0, column - len);
    if (!fits(pad + n)) return false;
    for (int i = 0; i < pad; ++i) insert(start + len + i, " ", 1);
    int at = start + std::min(column, len) + pad;
    insert(at, s, n);
    move_cursor_to(at + n);
    return true;
  }

  // ---- The undo ring ----

  void store(int number) {
    std::uint8_t* slot = slots[number % kUndoSlots];
    put32(slot, top);
    put32(slot + 4, length);
    put32(slot + 8, column);
    put32(slot + 12, line - top_line);
    std::memcpy(slot + kSlotHeader, text, static_cast<std::size_t>(length));
    last = number;
    first = std::max(first, last - (kUndoSlots - 1));
    current = number;
  }
  void restore(int number) {
    const std::uint8_t* slot = slots[number % kUndoSlots];
    length = std::clamp(get32(slot + 4), 1, kCap);
    std::memcpy(text, slot + kSlotHeader, static_cast<std::size_t>(length));
    recount();
    set_top(line_of(get32(slot)));
    column = get32(slot + 8);
    line = top_line + get32(slot + 12);
    settle();
    collapse();
    modified = true;
  }
  // Before every change: the text is kept in the ring unless it is already there.
  void before_change() {
    if (dirty) store(last + 1);
    else last = current;  // the undone steps are gone
    dirty = true;
    redo_left = 0;
  }
  void undo() {
    if (dirty) {
      store(last + 1);
      dirty = false;
    }
    if (current <= first) return;
    restore(--current);
    redo_left = std::min(redo_left + 1, 2);
  }
  void redo() {
    if (dirty || current >= last || redo_left == 0) return;
    restore(++current);
    --redo_left;
  }
  void reset_undo() {
    first = last = current = 0;
    dirty = false;
    redo_left = 0;
    store(0);
  }
};

namespace {

using State = EditorState;

bool editing(const State& s) { return s.mode == EditorMode::edit; }

// ---- Opening -----------------------------------------------------------------------------------

// Cleans bytes into the text: lines end in one CR (CR LF, LF alone and CR
// alone all end a line), a tab becomes blanks up to the next even column,
// only 32..122 stay. Counts past the cap without writing there.
struct Cleaner {
  State& s;
  long total = 0;
  int column = 0;
  bool after_cr = false;
  int dropped = 0;
  unsigned kinds = 0;

  void put(char c) {
    if (total < kCap) s.text[total] = c;
    ++total;
  }
  void feed(unsigned char c) {
    bool was_cr = after_cr;
    after_cr = c == '\r';
    if (c == '\n') {
      if (!was_cr) put('\r');
      column = 0;
    } else if (c == '\r') {
      put('\r');
      column = 0;
    } else if (c == '\t') {
      for (int n = 2 - column % 2; n > 0; --n, ++column) put(' ');
    } else if (keepable(c)) {
      put(static_cast<char>(c));
      ++column;
    } else {
      ++dropped;
      kinds |= drop_kind(c);
    }
  }
};

std::string kinds_in_words(unsigned kinds) {
  std::string out;
  for (const DropName& d : kDropNames)
    if (kinds & d.kind) {
      if (!out.empty()) out.append(", ");
      out.append(d.words);
    }
  return out;
}

// Show mode: a line longer than 79 characters is broken at its last blank
// before column 80, as often as it takes; a line with no such blank stays long.
void break_long_lines(State& s) {
  int start = 0;
  while (start < s.length) {
    int end = s.line_end(start);
    if (end - start <= kLastColumn) {
      start = end + 1;
      continue;
    }
    int b = start + kLastColumn;
    while (b > start && s.text[b] != ' ') --b;
    if (b == start) {
      start = end + 1;
      continue;
    }
    s.text[b] = '\r';
    s.soft.set(static_cast<std::size_t>(b));
    start = b + 1;
  }
  s.recount();
}

EditorOpen finish_open(State& s, Cleaner& c, EditorMode mode, std::string_view name, long raw_size) {
  if (c.total == 0 || (c.total <= kCap && s.text[c.total - 1] != '\r')) c.put('\r');
  EditorOpen o;
  s.mode = mode;
  s.soft.reset();
  s.top_line = s.top = s.line = s.column = 0;
  s.collapse();
  s.modified = false;
  s.status_segment = 0;
  s.banner_lines = 0;
  s.marked_line = 0;
  if (c.total > kCap) {
    s.text[0] = '\r';
    s.length = 1;
    s.recount();
    s.dropped = 0;
    s.reset_undo();
    long size = raw_size > kCap ? raw_size : c.total;  // more than the file only when its tabs grew it
    o.error = std::string(name.empty() ? "The text" : name) + " is " + with_commas(size) +
              " bytes; the editor holds at most " + with_commas(kCap) + ".";
    return o;
  }
  s.length = static_cast<int>(c.total);
  s.recount();
  if (mode == EditorMode::show) break_long_lines(s);
  s.dropped = c.dropped;
  s.reset_undo();
  o.ok = true;
  o.dropped = c.dropped;
  o.dropped_kinds = kinds_in_words(c.kinds);
  return o;
}

// ---- Keys --------------------------------------------------------------------------------------

using Action = void (*)(State&, Kit&, bool shift);

void type_text(State& s, const char* text, int n, bool replace_selection) {
  int selected = 0;
  if (replace_selection && s.has_selection()) {
    int a, b;
    s.selection(a, b);
    selected = b - a;
  }
  int start = s.start_of(s.line), len = s.line_end(start) - start;
  if (!s.fits(n + std::max(0, s.column - len) - selected)) return;  // over the cap: nothing inserted
  s.before_change();
  if (selected) s.delete_selection();
  s.insert_at_cursor(text, n);
}

void key_enter(State& s, Kit&, bool) {
  if (!editing(s)) return;
  int selected = 0;
  if (s.has_selection()) {
    int a, b;
    s.selection(a, b);
    selected = b - a;
  }
  if (!s.fits(1 - selected)) return;
  s.before_change();
  if (selected) s.delete_selection();
  int at = s.cursor();  // past the end of the line: the line ends where it ends
  s.insert(at, "\r", 1);
  ++s.line;
  s.column = 0;
  s.settle();  // at row 39 the view scrolls
}

void key_tab(State& s, Kit&, bool) {
  if (!editing(s) || s.column >= kLastColumn - 1) return;
  static const char kBlanks[] = "  ";
  type_text(s, kBlanks, 2 - s.column % 2, true);
}

void key_backspace(State& s, Kit&, bool) {
  if (!editing(s)) return;
  if (s.has_selection()) {
    s.before_change();
    s.delete_selection();
    return;
  }
  if (s.column > s.length_of(s.line)) {  // past the line's end: only the cursor moves
    --s.column;
    return;
  }
  int at = s.cursor();
  if (at == 0) return;
  s.before_change();
  s.erase(at - 1, 1);
  s.move_cursor_to(at - 1);
}

void key_delete(State& s, Kit&, bool) {
  if (!editing(s)) return;
  if (s.has_selection()) {
    s.before_change();
    s.delete_selection();
    return;
  }
  if (s.column >= s.length_of(s.line)) return;  // the line end stays
  s.before_change();
  s.erase(s.cursor(), 1);
}

void key_home(State& s, Kit&, bool) { s.column = 0; }
void key_end(State& s, Kit&, bool) { s.column = std::min(s.length_of(s.line), kLastColumn); }

// The arrows move the cursor, or with Shift the selection's corner, within
// the grid; the cursor scrolls the view a line at the top and the bottom.
void move(State& s, bool shift, int dx, int dy) {
  if (shift) {
    s.corner_column = std::clamp(s.corner_column + dx, 0, kLastColumn);
    s.corner_line = std::clamp(s.corner_line + dy, s.top_line, s.last_row_line());
    return;
  }
  s.column = std::clamp(s.column + dx, 0, kLastColumn);
  int to = std::clamp(s.line + dy, 0, s.lines - 1);
  if (to < s.top_line) s.set_top(to);
  if (to > s.top_line + kLastRow) s.set_top(to - kLastRow);
  s.line = to;
}
void key_left(State& s, Kit&, bool shift) { move(s, shift, -1, 0); }
void key_right(State& s, Kit&, bool shift) { move(s, shift, 1, 0); }
void key_up(State& s, Kit&, bool shift) { move(s, shift, 0, -1); }
void key_down(State& s, Kit&, bool shift) { move(s, shift, 0, 1); }

void key_page_up(State& s, Kit&, bool) {
  s.set_top(s.top_line - kEditorRows);
  s.line = s.top_line;
}
void key_page_down(State& s, Kit&, bool) {
  s.set_top(s.top_line + kLastRow);
  s.line = s.last_row_line();
}

void key_store(State& s, Kit&, bool) {
  int a, b;
  s.selection(a, b);
  s.find_length = std::min(b - a, kMaxFindText);
  std::memcpy(s.find, s.text + a, static_cast<std::size_t>(s.find_length));
}

void key_find(State& s, Kit&, bool) {
  if (s.find_length == 0) return;
  std::string_view text(s.text, static_cast<std::size_t>(s.length));
  std::size_t at = text.find(std::string_view(s.find, static_cast<std::size_t>(s.find_length)),
                             static_cast<std::size_t>(s.cursor()) + 1);
  if (at == std::string_view::npos) return;
  s.move_cursor_to(static_cast<int>(at));
}

void copy_selection(State& s, Kit& kit) {
  int a, b;
  s.selection(a, b);
  set_clipboard_buffer(kit.clipboard, std::string_view(s.text + a, static_cast<std::size_t>(b - a)));
  copy_to_clipboard(kit);
}

void key_copy(State& s, Kit& kit, bool) {
  if (s.has_selection()) copy_selection(s, kit);
}

void key_cut(State& s, Kit& kit, bool) {
  if (!editing(s) || !s.has_selection()) return;
  copy_selection(s, kit);
  s.before_change();
  s.delete_selection();
}

void key_paste(State& s, Kit& kit, bool) {
  if (!editing(s)) return;
  paste_from_clipboard(kit);
  if (kit.clipboard.tag != kClipboardTag) return;
  int n = 0;
  std::uint32_t length = std::min<std::uint32_t>(kit.clipboard.length, kClipboardChars);
  for (std::uint32_t i = 0; i < length && n < kCap; ++i) {
    auto c = static_cast<unsigned char>(kit.clipboard.text[i]);
    if (c == '\t') c = ' ';
    if (keepable(c)) s.scratch[n++] = static_cast<char>(c);
  }
  if (n) type_text(s, s.scratch, n, true);
}

void key_delete_line(State& s, Kit&, bool) {
  if (!editing(s)) return;
  int start = s.start_of(s.line);
  if (s.lines == 1 && s.length == 1) return;  // one empty line: nothing to delete
  s.before_change();
  s.erase(start, s.line_end(start) - start + 1);
  s.settle();
}

// Indent-all: blocks of the brain language by two blanks a level ("if"
// opens one, "else" stands at its "if"'s level, "endif" or "end if" closes
// it), labels at column 0, empty lines empty; the rest of each line is kept.
struct LineKind {
  bool label = false, opens = false, closes = false, middle = false;
};

LineKind kind_of_line(std::string_view code) {
  LineKind k;
  if (std::size_t semi = code.find(';'); semi != std::string_view::npos) code = code.substr(0, semi);
  while (!code.empty() && code.back() == ' ') code.remove_suffix(1);
  if (code.empty()) return k;
  auto word_is = [&](std::string_view w) {
    if (code.size() < w.size()) return false;
    for (std::size_t i = 0; i < w.size(); ++i)
      if ((code[i] | 0x20) != w[i]) return false;
    return code.size() == w.size() || code[w.size()] == ' ';
  };
  if (code.back() == ':' && code.find_first_of(" (\"") == std::string_view::npos) k.label = true;
  else if (word_is("if")) k.opens = true;
  else if (word_is("else")) k.middle = true;
  else if (word_is("endif")) k.closes = true;
  else if (word_is("end")) {
    std::string_view rest = code.substr(3);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    k.closes = rest.size() >= 2 && (rest[0] | 0x20) == 'i' && (rest[1] | 0x20) == 'f' &&
               (rest.size() == 2 || rest[2] == ' ');
  }
  return k;
}

void key_indent_all(State& s, Kit&, bool) {
  if (!editing(s)) return;
  int n = 0, depth = 0;
  for (int at = 0; at < s.length;) {
    int end = s.line_end(at);
    int body = at;
    while (body < end && s.text[body] == ' ') ++body;
    std::string_view rest(s.text + body, static_cast<std::size_t>(end - body));
    LineKind k = kind_of_line(rest);
    if (k.closes) depth = std::max(0, depth - 1);
    int level = k.label || rest.empty() ? 0 : k.middle ? std::max(0, depth - 1) : depth;
    int blanks = 2 * level;
    if (n + blanks + static_cast<int>(rest.size()) + 1 > kCap) return;  // would pass the cap: nothing changes
    std::memset(s.scratch + n, ' ', static_cast<std::size_t>(blanks));
    n += blanks;
    std::memcpy(s.scratch + n, rest.data(), rest.size());
    n += static_cast<int>(rest.size());
    s.scratch[n++] = '\r';
    if (k.opens) ++depth;
    at = end + 1;
  }
  if (n == s.length && std::memcmp(s.scratch, s.text, static_cast<std::size_t>(n)) == 0) return;
  s.before_change();
  std::memcpy(s.text, s.scratch, static_cast<std::size_t>(n));
  s.length = n;
  s.recount();
  s.modified = true;
  s.settle();
}

void key_undo(State& s, Kit&, bool) {
  if (editing(s)) s.undo();
}
void key_redo(State& s, Kit&, bool) {
  if (editing(s)) s.redo();
}

// The keys by scan code. need: the modifier that must be held (0: none asked);
// exit: the result a key leaves with (kStay: it acts instead); edit_only: does
// nothing in show mode.
constexpr int kStay = 99;
struct Command {
  int scan;
  int need;
  int exit;
  bool edit_only;
  Action action;
};
constexpr Command kCommands[] = {
    {platform::kScanEscape, 0, static_cast<int>(EditorExit::escape), false, nullptr},
    {platform::kScanF2, 0, static_cast<int>(EditorExit::f2), true, nullptr},
    {platform::kScanF1, 0, static_cast<int>(EditorExit::f1), true, nullptr},
    {kScanH, kCtrl, static_cast<int>(EditorExit::ctrl_h), true, nullptr},
    {platform::kScanEnter, 0, kStay, true, key_enter},
    {platform::kScanTab, 0, kStay, true, key_tab},
    {platform::kScanBackspace, 0, kStay, true, key_backspace},
    {platform::kScanDelete, 0, kStay, true, key_delete},
    {platform::kScanHome, 0, kStay, false, key_home},
    {platform::kScanEnd, 0, kStay, false, key_end},
    {platform::kScanLeft, 0, kStay, false, key_left},
    {platform::kScanRight, 0, kStay, false, key_right},
    {platform::kScanUp, 0, kStay, false, key_up},
    {platform::kScanDown, 0, kStay, false, key_down},
    {platform::kScanPageUp, 0, kStay, false, key_page_up},
    {platform::kScanPageDown, 0, kStay, false, key_page_down},
    {platform::kScanF4, 0, kStay, false, key_store},
    {platform::kScanF3, 0, kStay, false, key_find},
    {platform::kScanX, kCtrl, kStay, true, key_cut},
    {kScanC, kCtrl, kStay, false, key_copy},
    {kScanV, kCtrl, kStay, true, key_paste},
    {kScanD, kAlt, kStay, true, key_delete_line},
    {kScanA, kCtrl, kStay, true, key_indent_all},
    {kScanU, kCtrl, kStay, true, key_undo},
    {kScanR, kCtrl, kStay, true, key_redo},
};

const Command* command_of(int scan, int modifiers) {
  for (const Command& c : kCommands)
    if (c.scan == scan && (c.need == 0 || (modifiers & c.need))) return &c;
  return nullptr;
}

// ---- Drawing -----------------------------------------------------------------------------------

constexpr std::uint8_t kEditText = 210, kEditSelection = 131, kShowText = 230;

std::uint8_t banner_colour() { return static_cast<std::uint8_t>(media::colour_index(150, 0, 0)); }
std::uint8_t marked_colour() { return static_cast<std::uint8_t>(media::colour_index(0, 0, 140)); }

int glyph_top(const media::Font& f) { return std::max(0, (kEditorRowHeight - media::glyph_height(f)) / 2); }

// Characters at grid column 0.. of row y, in one colour; a fixed 8-pixel font
// draws a run at once, another font a cell at a time.
void draw_cells(Screen& screen, const media::Font& f, const char* p, int n, int column, int y, std::uint8_t colour) {
  if (n <= 0) return;
  if (media::width_mode(f) == 255) {
    draw_text(screen, f, std::string_view(p, static_cast<std::size_t>(n)), column * 8, y, colour);
    return;
  }
  for (int i = 0; i < n; ++i) draw_text(screen, f, std::string_view(p + i, 1), (column + i) * 8, y, colour);
}

void draw_status(const State& s, Kit& kit, const media::Font& f) {
  constexpr int kTop = 470, kNumberLeft = 479, kHelpLeft = 511, kBottom = 479;
  fill_rect(kit.screen, kNumberLeft, kTop, kit.screen.width - 1, kBottom, kBlack);
  char number[16];
  int lines_digits = std::snprintf(number, sizeof number, "%d", std::min(s.file_line_of(s.line), 99999));
  int y = kTop + std::max(0, (kBottom - kTop + 1 - media::glyph_height(f)) / 2);
  draw_cells(kit.screen, f, number, lines_digits, kHelpLeft / 8 - lines_digits, y, kWhite);
  const char* help = kStatusHelp + (s.status_segment % kStatusSegments) * (kStatusSegment + 1);
  draw_cells(kit.screen, f, help, kStatusSegment, kHelpLeft / 8 + 1, y, kYellow);
}

void draw_editor(const State& s, Kit& kit) {
  clear_screen(kit.screen);
  const media::Font* font = s.font ? s.font : kit.font;
  if (!font) return;
  const media::Font& f = *font;
  bool show = s.mode == EditorMode::show;
  std::uint8_t ink = show ? kShowText : kEditText, selected_ink = show ? kShowText : kEditSelection;
  int sel_a, sel_b;
  s.selection(sel_a, sel_b);
  int dy = glyph_top(f);
  int file_line = s.marked_line ? s.file_line_of(s.top_line) : 0;
  int at = s.top;
  for (int row = 0; row < kEditorRows && s.top_line + row < s.lines; ++row) {
    int end = s.line_end(at), y = row * kEditorRowHeight;
    if (s.marked_line && file_line == s.marked_line)
      fill_rect(kit.screen, 0, y, kEditorColumns * 8 - 1, y + kEditorRowHeight - 1, marked_colour());
    int shown = std::min(end - at, kEditorColumns);
    // Up to three runs: before, inside and after the selection.
    int a = std::clamp(sel_a - at, 0, shown), b = std::clamp(sel_b - at, 0, shown);
    draw_cells(kit.screen, f, s.text + at, a, 0, y + dy, ink);
    draw_cells(kit.screen, f, s.text + at + a, b - a, a, y + dy, selected_ink);
    draw_cells(kit.screen, f, s.text + at + b, shown - b, b, y + dy, ink);
    if (s.marked_line && !s.soft[static_cast<std::size_t>(end)]) ++file_line;
    at = end + 1;
  }
  // The cursor: a bar under its cell.
  int cx = s.column * 8, cy = (s.line - s.top_line) * kEditorRowHeight + kEditorRowHeight - 2;
  fill_rect(kit.screen, cx, cy, cx + 7, cy + 1, kWhite);
  if (s.banner_lines) {
    int y0 = kEditorRows * kEditorRowHeight - s.banner_lines * kEditorRowHeight - 4;
    fill_rect(kit.screen, 0, y0, kEditorColumns * 8 - 1, kEditorRows * kEditorRowHeight - 1, banner_colour());
    for (int k = 0; k < s.banner_lines; ++k)
      draw_cells(kit.screen, f, s.banner[k], static_cast<int>(std::strlen(s.banner[k])), 0,
                 y0 + 2 + k * kEditorRowHeight + dy, kWhite);
  }
  if (!show) draw_status(s, kit, f);
}

}  // namespace

// ---- TextEditor --------------------------------------------------------------------------------

TextEditor::TextEditor() : s_(std::make_unique<EditorState>()) { s_->reset_undo(); }
TextEditor::~TextEditor() = default;

EditorOpen TextEditor::open(std::string_view path, EditorMode mode) {
  EditorState& s = *s_;
  std::string name(path);
  long size = base::file_size(name);
  Cleaner c{s};
  if (size < 0) {
    EditorOpen o = finish_open(s, c, mode, path, 0);
    o.missing = true;
    return o;
  }
  // Read a piece at a time through the paste buffer: a huge file is refused
  // after its first pieces, never held.
  long offset = 0;
  for (;;) {
    long got = base::read_file_at(name, offset, std::as_writable_bytes(std::span(s.scratch, sizeof s.scratch)));
    if (got < 0) {
      finish_open(s, c, mode, path, 0);
      EditorOpen o;
      o.error = name + " could not be read.";
      return o;
    }
    // The cleaner writes into text, which the piece does not overlap.
    for (long i = 0; i < got; ++i) c.feed(static_cast<unsigned char>(s.scratch[i]));
    offset += got;
    if (got < static_cast<long>(sizeof s.scratch) || c.total > kCap) break;  // the end, or refused already
  }
  return finish_open(s, c, mode, path, size);
}

EditorOpen TextEditor::open_text(std::string_view bytes, EditorMode mode, std::string_view name) {
  Cleaner c{*s_};
  for (char ch : bytes) c.feed(static_cast<unsigned char>(ch));
  return finish_open(*s_, c, mode, name, static_cast<long>(bytes.size()));
}

EditorExit TextEditor::run(Kit& kit) {
  EditorState& s = *s_;
  show_pointer(kit, true);
  EditorExit exit = EditorExit::escape;
  bool was_down = platform::input().mouse_buttons & 1;  // a click that opened the editor is not one in it
  int last_x = platform::input().mouse_x, last_y = platform::input().mouse_y;
  bool leave = false;
  while (!leave) {
    draw(kit);
    present(kit);
    const media::Font* f = s.font ? s.font : kit.font;
    // Wait for a key other than a modifier alone, a left press or drag, or the wheel.
    for (int pass = 0;; ++pass) {
      read_key(kit);
      platform::Input& in = platform::input();
      int modifiers = static_cast<int>(platform::modifier_mask(in));
      if (kit.last_scan && !is_modifier_scan(kit.last_scan)) {
        leave = key(kit, kit.last_scan, static_cast<unsigned char>(kit.key_text[0]), modifiers, &exit);
        break;
      }
      bool down = in.mouse_buttons & 1;
      bool moved = in.mouse_x != last_x || in.mouse_y != last_y;
      last_x = in.mouse_x, last_y = in.mouse_y;
      if (down && (!was_down || moved)) {
        mouse(in.mouse_x, in.mouse_y, down, was_down, 0);
        was_down = down;
        break;
      }
      was_down = down;
      if (in.wheel) {
        int wheel = in.wheel;
        in.wheel = 0;
        mouse(in.mouse_x, in.mouse_y, false, false, wheel);
        break;
      }
      if (platform::waiting_gives_up()) {
        exit = EditorExit::escape;
        leave = true;
        break;
      }
      if (editing(s) && f && pass % kStatusPasses == 0) {
        draw_status(s, kit, *f);
        s.status_segment = (s.status_segment + 1) % kStatusSegments;
        present(kit);
      }
      await_input(kit);
    }
  }
  show_pointer(kit, false);
  flush_input(kit);
  return exit;
}

void TextEditor::set_font(const media::Font* font) { s_->font = font; }

std::string TextEditor::file_text() const {
  const EditorState& s = *s_;
  std::string out;
  out.reserve(static_cast<std::size_t>(s.length + s.lines));
  for (int i = 0; i < s.length; ++i) {
    if (s.text[i] != '\r') out += s.text[i];
    else if (s.soft[static_cast<std::size_t>(i)]) out += ' ';  // a long line broken for showing
    else out += "\r\n";
  }
  return out;
}

std::string_view TextEditor::buffer() const { return std::string_view(s_->text, static_cast<std::size_t>(s_->length)); }

bool TextEditor::save(std::string_view path, std::string* error) const {
  std::string bytes = file_text();
  base::TextFile f;
  bool ok = f.open_write_atomic(path) && f.write_bytes(bytes.data(), bytes.size());
  ok = f.close() && ok;
  if (!ok && f.is_open()) f.discard();
  if (!ok && error) *error = "The editor could not write " + std::string(path) + "; the file is as it was.";
  return ok;
}

bool TextEditor::modified() const { return s_->modified; }
void TextEditor::mark_saved() { s_->modified = false; }
int TextEditor::dropped() const { return s_->dropped; }
EditorMode TextEditor::mode() const { return s_->mode; }

void TextEditor::set_mode(EditorMode mode) {
  EditorState& s = *s_;
  if (mode == EditorMode::edit && s.soft.any()) {  // the broken lines joined again
    for (int i = 0; i < s.length; ++i)
      if (s.soft[static_cast<std::size_t>(i)]) s.text[i] = ' ';
    s.soft.reset();
    s.recount();
    s.set_top(s.line_of(s.top));
    s.settle();
    s.collapse();
  }
  s.mode = mode;
}

EditorView TextEditor::view() const { return {s_->top, s_->column, s_->line - s_->top_line}; }

void TextEditor::set_view(const EditorView& view) {
  EditorState& s = *s_;
  s.set_top(s.line_of(std::clamp(view.top, 0, s.length - 1)));
  s.line = std::min(s.top_line + std::clamp(view.row, 0, kLastRow), s.lines - 1);
  s.column = std::clamp(view.column, 0, kLastColumn);
  s.settle();
  s.collapse();
}

void TextEditor::go_to_line(int line) {
  EditorState& s = *s_;
  int k = s.line_of_file_line(std::max(1, line));
  s.set_top(k - kGoToContext);
  s.line = k;
  s.column = 0;
  s.settle();
  s.collapse();
}

int TextEditor::cursor_line() const { return s_->file_line_of(s_->line); }

void TextEditor::set_banner(std::string_view text, int marked_line) {
  EditorState& s = *s_;
  s.banner_lines = 0;
  s.marked_line = std::max(0, marked_line);
  while (!text.empty() && s.banner_lines < kMaxBannerLines) {
    std::size_t nl = text.find('\n');
    std::string_view part = text.substr(0, nl).substr(0, kEditorColumns);
    char* out = s.banner[s.banner_lines++];
    std::memcpy(out, part.data(), part.size());
    out[part.size()] = 0;
    for (std::size_t i = 0; i < part.size(); ++i)
      if (out[i] == '\r' || out[i] == '\t') out[i] = ' ';
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
}

bool TextEditor::key(Kit& kit, int scan_code, int character, int modifiers, EditorExit* exit) {
  EditorState& s = *s_;
  if (is_modifier_scan(scan_code)) return false;
  bool shift = (modifiers & kShift) != 0;
  const Command* c = command_of(scan_code, modifiers);
  if (c) {
    if (c->edit_only && !editing(s)) return false;
    if (c->exit != kStay) {
      if (exit) *exit = static_cast<EditorExit>(c->exit);
      return true;
    }
    c->action(s, kit, shift);
  } else if (character >= 32 && character <= 122 && !(modifiers & (kCtrl | kAlt))) {
    if (editing(s) && s.column < kLastColumn) {
      char ch = static_cast<char>(character);
      type_text(s, &ch, 1, true);
    }
  }
  s.settle();
  if (!shift) s.collapse();
  return false;
}

void TextEditor::mouse(int x, int y, bool left_down, bool left_was_down, int wheel) {
  EditorState& s = *s_;
  if (wheel) {  // minus the wheel delta: below 0 away from the user, the view goes up
    s.set_top(s.top_line + (wheel < 0 ? -kWheelLines : kWheelLines));
    s.line = std::clamp(s.line, s.top_line, s.last_row_line());
    s.settle();
    return;
  }
  if (!left_down) return;
  int column = std::clamp(x / 8, 0, kLastColumn), row = std::clamp(y / kEditorRowHeight, 0, kLastRow);
  if (!left_was_down) {
    if (x == 0 && row > 0) {  // the left edge below the first row: the end of the line above
      --row;
      column = kLastColumn;
    }
    s.line = std::min(s.top_line + row, s.lines - 1);
    s.column = column;
    s.settle();
    s.collapse();
    return;
  }
  s.corner_line = std::min(s.top_line + row, s.lines - 1);
  s.corner_column = column;
}

void TextEditor::draw(Kit& kit) const { draw_editor(*s_, kit); }

// ---- The round trip --------------------------------------------------------------------------

EditorExit edit_text_file(Kit& kit, std::string_view path, EditorMode mode, EditorView* view, const media::Font* font) {
  auto editor = std::make_unique<TextEditor>();  // its buffers are too big for the stack
  editor->set_font(font);
  EditorOpen o = editor->open(path, mode);
  if (!o.ok) {
    message_panel(kit, o.error, " OK ", "");
    return EditorExit::escape;
  }
  if (view && mode == EditorMode::show) editor->set_view(*view);
  EditorExit exit = editor->run(kit);
  if (view) *view = editor->view();
  if (mode != EditorMode::edit || (!editor->modified() && !o.missing)) return exit;
  if (o.dropped > 0) {
    // Not writing is the first answer: the one taken when nobody can answer.
    std::string question = std::string(path) + " held " + with_commas(o.dropped) + " character" +
                           (o.dropped == 1 ? "" : "s") + " the editor cannot keep (" + o.dropped_kinds +
                           "). They were left out when it was opened, and saving writes the file without them.";
    if (message_panel(kit, question, " DON'T SAVE ", " SAVE ") != 2) return exit;
  }
  std::string error;
  if (!editor->save(path, &error)) message_panel(kit, error, " OK ", "");
  return exit;
}

}  // namespace ui
