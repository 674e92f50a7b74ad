// Key intake, the scan-code table and scripted input: the parts of the input
// layer that need no device, so tests drive them directly.
#include <SDL2/SDL_scancode.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/platform_local.h"
#include "base/files.h"
#include "base/text.h"

namespace platform {

// ---- Key-event ring -----------------------------------------------------------

bool ring_push(KeyRing& ring, std::uint32_t event) {
  std::uint32_t next = (ring.write_offset + 4) & 63;
  if (next == ring.read_offset) {  // full: a write would make the ring read empty
    if (event_scan_code(event) == kScanEscape) ++ring.escapes_gone;
    return false;
  }
  ring.entries[ring.write_offset / 4] = event;
  ring.write_offset = next;
  return true;
}

bool ring_take(KeyRing& ring, std::uint32_t& event) {
  if (ring.read_offset == ring.write_offset) return false;
  event = ring.entries[ring.read_offset / 4];
  ring.read_offset = (ring.read_offset + 4) & 63;
  if (event_scan_code(event) == kScanEscape) ++ring.escapes_gone;
  return true;
}

bool ring_empty(const KeyRing& ring) { return ring.read_offset == ring.write_offset; }

void ring_clear(KeyRing& ring) {
  for (std::uint32_t event; ring_take(ring, event);) {
  }
}

void typed_clear(TypedText& typed) {
  typed.length = 0;
  typed.text[0] = 0;
}

void take_bare_key(Input& input, int scan_code) { ring_push(input.ring, key_event(0, scan_code)); }

void take_character(Input& input, int character, int scan_code) {
  character &= 0xFF;
  if (character >= '1' && character <= '9') scan_code = character - '1' + 2;
  if (character == '0') scan_code = 11;
  ring_push(input.ring, key_event(character, scan_code));
  TypedText& t = input.typed;
  if (character == 8) {
    if (t.length > 0) t.text[--t.length] = 0;
  } else if (character >= 32 && t.length < kTypedTextBytes - 1) {
    t.text[t.length++] = static_cast<char>(character);
    t.text[t.length] = 0;
  }
}

// ---- Controllers and modifiers ---------------------------------------------------

namespace {

constexpr std::string_view kAxisNames[kAxes] = {"x", "y", "z", "u", "v", "xr", "yr", "zr"};

// SDL hat bits (up 1, right 2, down 4, left 8) to hundredths of a degree, clockwise from up.
constexpr std::uint32_t kHatDirections[16] = {
    kHatCentred, 0,     9000,  4500,  18000, kHatCentred, 13500, kHatCentred,
    27000,       31500, kHatCentred, kHatCentred, 22500, kHatCentred, kHatCentred, kHatCentred,
};

}  // namespace

bool axis_of_name(std::string_view name, Axis& axis) {
  for (int i = 0; i < kAxes; ++i)
    if (name == kAxisNames[i]) {
      axis = static_cast<Axis>(i);
      return true;
    }
  return false;
}

std::int32_t scale_axis(int raw) {
  if (raw < -32767) raw = -32767;  // symmetric, so both ends reach 1000
  if (raw > 32767) raw = 32767;
  return static_cast<std::int32_t>(raw * kAxisRange / 32767);
}

std::uint32_t hat_hundredths(int position) { return kHatDirections[position & 15]; }

void set_controller_present(Input& input, int n, bool present) {
  if (n < 0 || n >= kControllers) return;
  Controller& c = input.joystick[n];
  c.present = present;
  if (!present) c.buttons = 0;
}

std::uint32_t modifier_mask(const Input& input) {
  std::uint32_t mask = 0;
  if (input.held[kScanLeftShift] || input.held[kScanRightShift]) mask |= 3;
  if (input.held[kScanCtrl]) mask |= 4;
  if (input.held[kScanAlt]) mask |= 8;
  return mask;
}

bool any_input_down(const Input& input) {
  if (input.mouse_buttons) return true;
  for (const Controller& c : input.joystick)
    if (c.present && c.buttons) return true;
  for (bool h : input.held)
    if (h) return true;
  return false;
}

// ---- Scan codes -----------------------------------------------------------------

namespace {

struct ScanPair {
  SDL_Scancode sdl;
  std::uint8_t set1;
};

// SDL scancodes (USB usages) to PC set-1 codes as Windows reports them: the
// extended keys lose their E0 prefix, so they read like their keypad twins.
constexpr ScanPair kScanPairs[] = {
    {SDL_SCANCODE_ESCAPE, 1},       {SDL_SCANCODE_1, 2},           {SDL_SCANCODE_2, 3},
    {SDL_SCANCODE_3, 4},            {SDL_SCANCODE_4, 5},           {SDL_SCANCODE_5, 6},
    {SDL_SCANCODE_6, 7},            {SDL_SCANCODE_7, 8},           {SDL_SCANCODE_8, 9},
    {SDL_SCANCODE_9, 10},           {SDL_SCANCODE_0, 11},          {SDL_SCANCODE_MINUS, 12},
    {SDL_SCANCODE_EQUALS, 13},      {SDL_SCANCODE_BACKSPACE, 14},  {SDL_SCANCODE_TAB, 15},
    {SDL_SCANCODE_Q, 16},           {SDL_SCANCODE_W, 17},          {SDL_SCANCODE_E, 18},
    {SDL_SCANCODE_R, 19},           {SDL_SCANCODE_T, 20},          {SDL_SCANCODE_Y, 21},
    {SDL_SCANCODE_U, 22},           {SDL_SCANCODE_I, 23},          {SDL_SCANCODE_O, 24},
    {SDL_SCANCODE_P, 25},           {SDL_SCANCODE_LEFTBRACKET, 26}, {SDL_SCANCODE_RIGHTBRACKET, 27},
    {SDL_SCANCODE_RETURN, 28},      {SDL_SCANCODE_LCTRL, 29},      {SDL_SCANCODE_A, 30},
    {SDL_SCANCODE_S, 31},           {SDL_SCANCODE_D, 32},          {SDL_SCANCODE_F, 33},
    {SDL_SCANCODE_G, 34},           {SDL_SCANCODE_H, 35},          {SDL_SCANCODE_J, 36},
    {SDL_SCANCODE_K, 37},           {SDL_SCANCODE_L, 38},          {SDL_SCANCODE_SEMICOLON, 39},
    {SDL_SCANCODE_APOSTROPHE, 40},  {SDL_SCANCODE_GRAVE, 41},      {SDL_SCANCODE_LSHIFT, 42},
    {SDL_SCANCODE_BACKSLASH, 43},   {SDL_SCANCODE_NONUSHASH, 43},  {SDL_SCANCODE_Z, 44},
    {SDL_SCANCODE_X, 45},           {SDL_SCANCODE_C, 46},          {SDL_SCANCODE_V, 47},
    {SDL_SCANCODE_B, 48},           {SDL_SCANCODE_N, 49},          {SDL_SCANCODE_M, 50},
    {SDL_SCANCODE_COMMA, 51},       {SDL_SCANCODE_PERIOD, 52},     {SDL_SCANCODE_SLASH, 53},
    {SDL_SCANCODE_RSHIFT, 54},      {SDL_SCANCODE_KP_MULTIPLY, 55}, {SDL_SCANCODE_LALT, 56},
    {SDL_SCANCODE_SPACE, 57},       {SDL_SCANCODE_CAPSLOCK, 58},   {SDL_SCANCODE_F1, 59},
    {SDL_SCANCODE_F2, 60},          {SDL_SCANCODE_F3, 61},         {SDL_SCANCODE_F4, 62},
    {SDL_SCANCODE_F5, 63},          {SDL_SCANCODE_F6, 64},         {SDL_SCANCODE_F7, 65},
    {SDL_SCANCODE_F8, 66},          {SDL_SCANCODE_F9, 67},         {SDL_SCANCODE_F10, 68},
    {SDL_SCANCODE_NUMLOCKCLEAR, 69}, {SDL_SCANCODE_SCROLLLOCK, 70}, {SDL_SCANCODE_KP_7, 71},
    {SDL_SCANCODE_KP_8, 72},        {SDL_SCANCODE_KP_9, 73},       {SDL_SCANCODE_KP_MINUS, 74},
    {SDL_SCANCODE_KP_4, 75},        {SDL_SCANCODE_KP_5, 76},       {SDL_SCANCODE_KP_6, 77},
    {SDL_SCANCODE_KP_PLUS, 78},     {SDL_SCANCODE_KP_1, 79},       {SDL_SCANCODE_KP_2, 80},
    {SDL_SCANCODE_KP_3, 81},        {SDL_SCANCODE_KP_0, 82},       {SDL_SCANCODE_KP_PERIOD, 83},
    {SDL_SCANCODE_NONUSBACKSLASH, 86}, {SDL_SCANCODE_F11, 87},     {SDL_SCANCODE_F12, 88},
    // Extended keys, folded.
    {SDL_SCANCODE_KP_ENTER, 28},    {SDL_SCANCODE_RCTRL, 29},      {SDL_SCANCODE_KP_DIVIDE, 53},
    {SDL_SCANCODE_PRINTSCREEN, 55}, {SDL_SCANCODE_RALT, 56},       {SDL_SCANCODE_PAUSE, 69},
    {SDL_SCANCODE_HOME, 71},        {SDL_SCANCODE_UP, 72},         {SDL_SCANCODE_PAGEUP, 73},
    {SDL_SCANCODE_LEFT, 75},        {SDL_SCANCODE_RIGHT, 77},      {SDL_SCANCODE_END, 79},
    {SDL_SCANCODE_DOWN, 80},        {SDL_SCANCODE_PAGEDOWN, 81},   {SDL_SCANCODE_INSERT, 82},
    {SDL_SCANCODE_DELETE, 83},      {SDL_SCANCODE_LGUI, 91},       {SDL_SCANCODE_RGUI, 92},
    {SDL_SCANCODE_APPLICATION, 93},
};

struct ScanTable {
  std::uint8_t set1[SDL_NUM_SCANCODES] = {};
};

constexpr ScanTable make_scan_table() {
  ScanTable t{};
  for (const ScanPair& p : kScanPairs) t.set1[p.sdl] = p.set1;
  return t;
}

constexpr ScanTable kScanTable = make_scan_table();

// The named scan codes are the ones the table gives their keys.
constexpr struct {
  SDL_Scancode sdl;
  ScanCode scan;
} kNamedScans[] = {
    {SDL_SCANCODE_ESCAPE, kScanEscape},     {SDL_SCANCODE_BACKSPACE, kScanBackspace}, {SDL_SCANCODE_TAB, kScanTab},
    {SDL_SCANCODE_RETURN, kScanEnter},      {SDL_SCANCODE_LCTRL, kScanCtrl},          {SDL_SCANCODE_S, kScanS},
    {SDL_SCANCODE_L, kScanL},               {SDL_SCANCODE_LSHIFT, kScanLeftShift},    {SDL_SCANCODE_X, kScanX},
    {SDL_SCANCODE_RSHIFT, kScanRightShift}, {SDL_SCANCODE_LALT, kScanAlt},            {SDL_SCANCODE_SPACE, kScanSpace},
    {SDL_SCANCODE_F1, kScanF1},             {SDL_SCANCODE_F2, kScanF2},               {SDL_SCANCODE_F3, kScanF3},
    {SDL_SCANCODE_F4, kScanF4},             {SDL_SCANCODE_HOME, kScanHome},           {SDL_SCANCODE_UP, kScanUp},
    {SDL_SCANCODE_PAGEUP, kScanPageUp},     {SDL_SCANCODE_LEFT, kScanLeft},           {SDL_SCANCODE_RIGHT, kScanRight},
    {SDL_SCANCODE_END, kScanEnd},           {SDL_SCANCODE_DOWN, kScanDown},           {SDL_SCANCODE_PAGEDOWN, kScanPageDown},
    {SDL_SCANCODE_INSERT, kScanInsert},     {SDL_SCANCODE_DELETE, kScanDelete},       {SDL_SCANCODE_E, kScanE},
    {SDL_SCANCODE_K, kScanK},               {SDL_SCANCODE_N, kScanN},                 {SDL_SCANCODE_Z, kScanZ},
};

constexpr bool named_scans_agree() {
  for (const auto& n : kNamedScans)
    if (kScanTable.set1[n.sdl] != n.scan) return false;
  return true;
}
static_assert(named_scans_agree(), "a named scan code is the one its key gives");

// Windows-1252 characters 0x80..0x9F as Unicode (0 where the code page has none).
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

}  // namespace

int set1_scan_code(int sdl_scancode) {
  if (sdl_scancode < 0 || sdl_scancode >= SDL_NUM_SCANCODES) return 0;
  return kScanTable.set1[sdl_scancode];
}

int control_character(int sdl_scancode, bool ctrl_down) {
  switch (sdl_scancode) {
    case SDL_SCANCODE_BACKSPACE: return 8;
    case SDL_SCANCODE_TAB: return 9;
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_KP_ENTER: return 13;
    case SDL_SCANCODE_ESCAPE: return 27;
    default: break;
  }
  if (ctrl_down && sdl_scancode >= SDL_SCANCODE_A && sdl_scancode <= SDL_SCANCODE_Z)
    return sdl_scancode - SDL_SCANCODE_A + 1;
  return 0;
}

int cp1252_of(std::uint32_t code_point) {
  if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) return static_cast<int>(code_point);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] != 0 && kCp1252High[i] == code_point) return 0x80 + i;
  return '?';
}

// ---- Key names ------------------------------------------------------------------

namespace {

struct KeyName {
  const char* name;
  std::uint8_t scan_code;
};

// The names `keyboard` takes instead of a scan code; input scripts take them too.
constexpr KeyName kKeyNames[] = {
    {"UP", 72},     {"LEFT", 75},   {"RIGHT", 77},   {"DOWN", 80},   {"RETURN", 28},   {"CTRL", 29},
    {"ALT", 56},    {"LSHIFT", 42}, {"RSHIFT", 54},  {"SPACE", 57},  {"F1", 59},       {"F2", 60},
    {"F3", 61},     {"F4", 62},     {"F5", 63},      {"F6", 64},     {"F7", 65},       {"F8", 66},
    {"F9", 67},     {"F10", 68},    {"F11", 87},     {"F12", 88},    {"ESC", 1},       {"1", 2},
    {"2", 3},       {"3", 4},       {"4", 5},        {"5", 6},       {"6", 7},         {"7", 8},
    {"8", 9},       {"9", 10},      {"0", 11},       {"BACKSPACE", 14}, {"TAB", 15},   {"Q", 16},
    {"W", 17},      {"E", 18},      {"R", 19},       {"T", 20},      {"Y", 21},        {"U", 22},
    {"I", 23},      {"O", 24},      {"P", 25},       {"A", 30},      {"S", 31},        {"D", 32},
    {"F", 33},      {"G", 34},      {"H", 35},       {"J", 36},      {"K", 37},        {"L", 38},
    {"Z", 44},      {"X", 45},      {"C", 46},       {"V", 47},      {"B", 48},        {"N", 49},
    {"M", 50},      {"HOME", 71},   {"PAGEUP", 73},  {"END", 79},    {"PAGEDOWN", 81}, {"INSERT", 82},
    {"DELETE", 83}, {"-", 12},      {"=", 13},       {"[", 26},      {"]", 27},        {";", 39},
    {"'", 40},      {"`", 41},      {"\\", 43},     {",", 51},      {".", 52},        {"/", 53},
};

constexpr bool key_names_unique() {
  for (std::size_t i = 0; i < std::size(kKeyNames); ++i)
    for (std::size_t j = i + 1; j < std::size(kKeyNames); ++j)
      if (std::string_view(kKeyNames[i].name) == kKeyNames[j].name) return false;
  return true;
}
static_assert(key_names_unique(), "a key name stands for one key");

}  // namespace

int scan_code_of_key_name(std::string_view name) {
  for (const KeyName& key : kKeyNames) {
    std::string_view k = key.name;
    if (k.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < k.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(name[i])) == static_cast<unsigned char>(k[i]);
    if (same) return key.scan_code;
  }
  return 0;
}

std::uint32_t next_code_point(const unsigned char*& s) {
  std::uint32_t cp = *s;
  int extra = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
  if (extra) cp &= 0x3F >> extra;
  ++s;
  for (int i = 0; i < extra && (*s & 0xC0) == 0x80; ++i) cp = (cp << 6) | (*s++ & 0x3F);
  return cp;
}

// ---- Scripted input -------------------------------------------------------------

namespace {

struct ScriptVerb {
  const char* name;
  ScriptKind kind;
  int min_args, max_args;
};

constexpr ScriptVerb kVerbs[] = {
    {"key", ScriptKind::key, 1, 2},     {"down", ScriptKind::down, 1, 1}, {"up", ScriptKind::up, 1, 1},
    {"mouse", ScriptKind::mouse, 3, 3}, {"wheel", ScriptKind::wheel, 1, 1}, {"joy", ScriptKind::joy, 3, 4},
};

struct JoyVerb {
  const char* name;
  JoyEvent event;
  int args;  // words after the verb
};
constexpr JoyVerb kJoyVerbs[] = {
    {"axis", JoyEvent::axis, 2}, {"button", JoyEvent::button, 2}, {"hat", JoyEvent::hat, 2}, {"present", JoyEvent::present, 1},
};

bool to_int(std::string_view s, long long& out) {
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

bool fail(ScriptError& error, int line, const char* format, std::string_view what) {
  error.line = line;
  std::snprintf(error.message, sizeof error.message, format, static_cast<int>(what.size()), what.data());
  return false;
}

// "N axis NAME VALUE", "N button B 0|1", "N hat H VALUE", "N present 0|1".
bool parse_joy(const std::string_view* w, int count, ScriptEvent& e, ScriptError& error, int line) {
  long long n;
  if (!to_int(w[0], n) || n < 1 || n > kControllers) return fail(error, line, "controller '%.*s' not 1 or 2", w[0]);
  const JoyVerb* verb = nullptr;
  for (const JoyVerb& v : kJoyVerbs)
    if (w[1] == v.name) verb = &v;
  if (!verb) return fail(error, line, "unknown controller event '%.*s'", w[1]);
  if (count - 2 != verb->args) return fail(error, line, "wrong number of values for '%.*s'", w[1]);
  e.a = static_cast<std::int32_t>(n - 1);
  e.joy = verb->event;
  long long index = 0, value = 0;
  std::string_view last = w[count - 1];
  if (!to_int(last, value)) return fail(error, line, "bad number '%.*s'", last);
  switch (verb->event) {
    case JoyEvent::axis: {
      Axis axis;
      if (!axis_of_name(w[2], axis)) return fail(error, line, "unknown axis '%.*s'", w[2]);
      index = static_cast<int>(axis);
      if (value < -kAxisRange || value > kAxisRange) return fail(error, line, "axis value '%.*s' not in -1000..1000", last);
      break;
    }
    case JoyEvent::button:
      if (!to_int(w[2], index) || index < 0 || index >= kControllerButtons)
        return fail(error, line, "button '%.*s' not in 0..31", w[2]);
      if (value != 0 && value != 1) return fail(error, line, "button state '%.*s' not 0 or 1", last);
      break;
    case JoyEvent::hat:
      if (!to_int(w[2], index) || index < 0 || index >= kHats) return fail(error, line, "hat '%.*s' not in 0..3", w[2]);
      if (value < -1 || value > 35999) return fail(error, line, "hat value '%.*s' not -1 or 0..35999", last);
      break;
    case JoyEvent::present:
      if (value != 0 && value != 1) return fail(error, line, "presence '%.*s' not 0 or 1", last);
      break;
  }
  e.b = static_cast<std::int32_t>(index);
  e.c = static_cast<std::int32_t>(value);
  return true;
}

}  // namespace

bool parse_script(std::string_view text, Script& script, ScriptError& error) {
  script = Script{};
  int line_number = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t lead = line.find_first_not_of(" \t");
    if (lead != std::string_view::npos && line[lead] == '#') continue;  // a comment is free text

    std::string_view words[6];
    int count = 0;
    std::size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i == line.size()) break;
      std::size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
      if (count == 6) return fail(error, line_number, "too many words%.*s", "");
      words[count++] = line.substr(start, i - start);
    }
    if (count == 0) continue;

    long long tick;
    if (!to_int(words[0], tick) || tick < 0 || tick > 0xFFFFFFFFll)
      return fail(error, line_number, "bad tick '%.*s'", words[0]);
    if (count < 2) return fail(error, line_number, "no event after the tick%.*s", "");
    const ScriptVerb* verb = nullptr;
    for (const ScriptVerb& v : kVerbs)
      if (words[1] == v.name) verb = &v;
    if (!verb) return fail(error, line_number, "unknown event '%.*s'", words[1]);
    int args = count - 2;
    if (args < verb->min_args || args > verb->max_args)
      return fail(error, line_number, "wrong number of values for '%.*s'", words[1]);

    ScriptEvent e{static_cast<std::uint32_t>(tick), verb->kind};
    if (verb->kind == ScriptKind::joy) {
      if (!parse_joy(words + 2, args, e, error, line_number)) return false;
      script.events.push_back(e);
      continue;
    }
    long long v[3] = {};
    bool keyed = verb->kind == ScriptKind::key || verb->kind == ScriptKind::down || verb->kind == ScriptKind::up;
    for (int k = 0; k < args; ++k) {
      // A key's character is one character as written, or a longer decimal code.
      if (verb->kind == ScriptKind::key && k == 1 && words[3].size() == 1) {
        v[k] = static_cast<unsigned char>(words[3][0]);
        continue;
      }
      // A key is a scan code, or a key name when it is no number.
      if (keyed && k == 0 && !to_int(words[2], v[0])) {
        v[0] = scan_code_of_key_name(words[2]);
        if (v[0] == 0) return fail(error, line_number, "unknown key '%.*s'", words[2]);
        continue;
      }
      if (!to_int(words[2 + k], v[k])) return fail(error, line_number, "bad number '%.*s'", words[2 + k]);
    }
    switch (verb->kind) {
      case ScriptKind::key:
      case ScriptKind::down:
      case ScriptKind::up:
        if (v[0] < 1 || v[0] > 255) return fail(error, line_number, "scan code '%.*s' not in 1..255", words[2]);
        if (v[1] < 0 || v[1] > 255) return fail(error, line_number, "character '%.*s' not in 0..255", words[3]);
        break;
      case ScriptKind::mouse:
        if (v[0] < -100000 || v[0] > 100000 || v[1] < -100000 || v[1] > 100000)
          return fail(error, line_number, "mouse position out of range%.*s", "");
        if (v[2] < 0 || v[2] > 7) return fail(error, line_number, "mouse buttons '%.*s' not in 0..7", words[4]);
        break;
      case ScriptKind::joy: break;  // parsed above
      case ScriptKind::wheel:
        if (v[0] < -1000000 || v[0] > 1000000) return fail(error, line_number, "wheel delta '%.*s' out of range", words[2]);
        break;
    }
    e.a = static_cast<std::int32_t>(v[0]);
    e.b = static_cast<std::int32_t>(v[1]);
    e.c = static_cast<std::int32_t>(v[2]);
    script.events.push_back(e);
  }
  return true;
}

bool load_script(const char* path, Script& script, ScriptError& error) {
  long size = base::file_size(path);
  if (size < 0 || size > (16 << 20)) {
    error.line = 0;
    std::snprintf(error.message, sizeof error.message, "%s", size < 0 ? "cannot read the file" : "file too large");
    return false;
  }
  std::vector<std::byte> bytes(static_cast<std::size_t>(size));
  if (size > 0 && base::read_file_at(path, 0, bytes) != size) {
    error.line = 0;
    std::snprintf(error.message, sizeof error.message, "cannot read the file");
    return false;
  }
  return parse_script({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, script, error);
}

namespace {

// A scripted controller event. Values reach the record whether or not the
// controller is present; an absent one still reads no buttons.
void deliver_joy(const ScriptEvent& e, Input& input) {
  Controller& c = input.joystick[e.a];
  switch (e.joy) {
    case JoyEvent::axis: c.axis[e.b] = e.c; break;
    case JoyEvent::button:
      if (e.c) c.buttons |= 1u << e.b;
      else c.buttons &= ~(1u << e.b);
      if (!c.present) c.buttons = 0;
      break;
    case JoyEvent::hat: c.hat[e.b] = e.c < 0 ? kHatCentred : static_cast<std::uint32_t>(e.c); break;
    case JoyEvent::present: set_controller_present(input, e.a, e.c != 0); break;
  }
}

}  // namespace

void deliver_script(Script& script, Input& input, std::uint32_t clock) {
  std::memset(script.held_once, 0, sizeof script.held_once);
  while (script.next < script.events.size() && script.events[script.next].tick <= clock) {
    const ScriptEvent& e = script.events[script.next++];
    switch (e.kind) {
      case ScriptKind::key:
        if (e.b != 0)
          take_character(input, e.b, e.a);
        else
          take_bare_key(input, e.a);
        script.held_once[e.a] = true;
        break;
      case ScriptKind::down: script.held[e.a] = true; break;
      case ScriptKind::up: script.held[e.a] = false; break;
      case ScriptKind::mouse:
        input.mouse_x = e.a;
        input.mouse_y = e.b;
        input.mouse_buttons = static_cast<std::uint32_t>(e.c);
        break;
      case ScriptKind::wheel: input.wheel = -e.a; break;
      case ScriptKind::joy: deliver_joy(e, input); break;
    }
  }
}

}  // namespace platform
