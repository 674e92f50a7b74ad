// The command line: "/" values for brains, and the long options of the shell.
#include <charconv>

#include "shell/shell.h"

namespace shell {

void parse_command_values(std::string_view line, CommandValues& values) {
  values.count = 0;
  std::size_t i = 0;
  auto blank = [&](std::size_t k) { return line[k] == ' ' || line[k] == '\t' || line[k] == '\r' || line[k] == '\n'; };
  while (i < line.size() && line[i] == '/') {
    ++i;
    // The usual decimal conversion: optional blanks and sign, digits, stop at the
    // first other character; then the rest of the word is skipped.
    std::string_view rest = line.substr(i);
    std::size_t sign = rest.find_first_not_of(' ');
    std::int32_t v = sign != std::string_view::npos && rest[sign] == '+' ? value(rest.substr(sign + 1)) : value(rest);
    if (values.count < kMaxCommandValues) values.value[values.count++] = v;
    while (i < line.size() && !blank(i)) ++i;
    while (i < line.size() && blank(i)) ++i;
  }
}

namespace {

enum class Takes { nothing, text, number };

struct OptionSpec {
  const char* name;
  Takes takes;
};

constexpr OptionSpec kOptions[] = {
    {"workdir", Takes::text}, {"mode", Takes::number},   {"project", Takes::text}, {"element", Takes::number},
    {"headless", Takes::nothing}, {"windowed", Takes::nothing}, {"input", Takes::text},
    {"help", Takes::nothing}, {"version", Takes::nothing}, {"fast", Takes::nothing},
    {"ticks", Takes::number}, {"dump", Takes::text}, {"screenshot", Takes::text},
};

bool read_number(std::string_view s, std::int32_t& out) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return !s.empty() && ec == std::errc() && p == s.data() + s.size();
}

}  // namespace

const char* usage_text() {
  return "Usage: zepta [OPTION]... [/N]...\n"
         "The Zepta engine program. Without options it runs the task named by runmode.ini in\n"
         "the working folder, or plays the packaged project found there.\n"
         "\n"
         "  --workdir DIR   working folder (default: the current directory)\n"
         "  --mode N        run mode, in place of runmode.ini line 2\n"
         "  --project PATH  project file, in place of runmode.ini line 1\n"
         "  --element N     element index, in place of runmode.ini line 3\n"
         "  --headless      no window and no sound device (drawn offscreen for --screenshot)\n"
         "  --windowed      a window instead of full screen (also ZEPTA_WINDOWED=1);\n"
         "                  Alt+Enter switches between the two\n"
         "  --input FILE    scripted input, one event a line: TICK EVENT ARGS with the events\n"
         "                  key KEY [CHAR], down KEY, up KEY, mouse X Y BUTTONS,\n"
         "                  wheel DELTA, and for joystick N (1 or 2): joy N axis NAME VALUE\n"
         "                  (NAME x, y, z, u, v, xr, yr or zr; VALUE -1000..1000),\n"
         "                  joy N button B 0|1 (B 0..31), joy N hat H VALUE (H 0..3; VALUE in\n"
         "                  hundredths of a degree 0..35999, or -1 centred), joy N present 0|1;\n"
         "                  KEY is a scan code, or a key name as the brain keyword keyboard\n"
         "                  takes (LEFT, SPACE, RETURN, ESC, F1, A, /, ...; any case); CHAR is\n"
         "                  one character or a decimal code; TICK is the engine tick in a test\n"
         "                  run (a panel that waits takes the next events at once), the input\n"
         "                  sample elsewhere; \"#\" comments\n"
         "  --fast          test runs: ticks back to back, without waiting for deadlines\n"
         "  --ticks N       test runs: end the run after N ticks, as Escape does\n"
         "  --dump FILE     test runs: write exit request, tick counter, non-zero globals and\n"
         "                  non-zero element record words to FILE when the run ends\n"
         "  --screenshot TICK:FILE\n"
         "                  test runs: save the picture drawn at loop tick TICK (or the first one\n"
         "                  drawn after it) as a PNG; may be given up to 16 times\n"
         "  --check FILE... compile each brain file on its own, print its errors, and exit\n"
         "                  with status 1 when any brain fails (must come first)\n"
         "  --help          this text\n"
         "  --version       the program's version\n"
         "  /N              values read by the brain keywords par_count and par_get\n";
}

ParseResult parse_options(int argc, const char* const* argv, Options& options, Text& error) {
  options = Options{};
  Text rest;  // the words that form the "/" command line
  bool help = false, version = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view word = argv[i];
    if (word.size() < 2 || word.substr(0, 2) != "--") {
      if (!rest.empty()) rest += ' ';
      rest += word;
      continue;
    }
    std::string_view name = word.substr(2);
    std::string_view value;
    bool has_value = false;
    if (std::size_t eq = name.find('='); eq != std::string_view::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : kOptions)
      if (name == s.name) spec = &s;
    if (!spec) {
      error = Text("zepta: unknown option '") + word + "' (try --help)";
      return ParseResult::bad;
    }
    if (spec->takes == Takes::nothing && has_value) {
      error = Text("zepta: option '--") + name + "' takes no value";
      return ParseResult::bad;
    }
    if (spec->takes != Takes::nothing && !has_value) {
      if (i + 1 >= argc) {
        error = Text("zepta: option '--") + name + "' needs a value";
        return ParseResult::bad;
      }
      value = argv[++i];
    }
    std::int32_t number = 0;
    if (spec->takes == Takes::number && !read_number(value, number)) {
      error = Text("zepta: option '--") + name + "' needs a number, not '" + value + "'";
      return ParseResult::bad;
    }
    if (spec->takes == Takes::text && value.empty()) {
      error = Text("zepta: option '--") + name + "' needs a value";
      return ParseResult::bad;
    }
    if (Text(value).too_long()) {
      error = Text("zepta: the value of '--") + name + "' is too long";
      return ParseResult::bad;
    }
    if (name == "workdir") options.workdir = value;
    else if (name == "mode") { options.mode = number; options.has_mode = true; }
    else if (name == "project") { options.project = value; options.has_project = true; }
    else if (name == "element") { options.element = number; options.has_element = true; }
    else if (name == "headless") options.headless = true;
    else if (name == "windowed") options.windowed = true;
    else if (name == "input") options.input = value;
    else if (name == "fast") options.fast = true;
    else if (name == "ticks") {
      if (number < 0) {
        error = Text("zepta: option '--ticks' needs a number of 0 or more, not '") + value + "'";
        return ParseResult::bad;
      }
      options.max_ticks = number;
    }
    else if (name == "dump") options.dump = value;
    else if (name == "screenshot") {
      std::size_t colon = value.find(':');
      std::int32_t tick = 0;
      if (colon == std::string_view::npos || !read_number(value.substr(0, colon), tick) || tick < 0 ||
          colon + 1 >= value.size()) {
        error = Text("zepta: option '--screenshot' needs TICK:FILE, not '") + value + "'";
        return ParseResult::bad;
      }
      if (options.screenshot_count == kMaxScreenshots) {
        error = "zepta: too many '--screenshot' options (16 at most)";
        return ParseResult::bad;
      }
      options.screenshots[options.screenshot_count++] = {tick, Text(value.substr(colon + 1))};
    }
    else if (name == "help") help = true;
    else if (name == "version") version = true;
  }
  parse_command_values(rest, options.values);
  if (help) return ParseResult::help;
  if (version) return ParseResult::version;
  return ParseResult::run;
}

}  // namespace shell
