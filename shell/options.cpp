// The command line: "/" values for brains, and the long options of the shell.
#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <iterator>
#include <string>

#include "net/settings.h"
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

bool read_number(std::string_view s, std::int32_t& out);

// A name option's value: at most `most` characters.
bool take_name(Text& into, std::string_view option, std::string_view v, int most, Text& error) {
  if (static_cast<int>(v.size()) > most) {
    error = Text("zepta: option '--") + option + "' takes at most " + text_of(most).view() + " characters";
    return false;
  }
  into = v;
  return true;
}

bool read_number(std::string_view s, std::int32_t& out) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return !s.empty() && ec == std::errc() && p == s.data() + s.size();
}

enum class Takes {
  nothing,
  text,        // a value that is not empty
  maybe_text,  // a value that may be empty ("--title=")
  number,
};

// What parse_options gathers besides Options: the options that choose what the program does.
struct Parsed {
  Options& options;
  bool help = false, version = false, check = false, package = false;
};

// Applies an option's value (number: the value read as a number); false with error set refuses it.
using OptionAction = bool (*)(Parsed& p, std::string_view value, std::int32_t number, Text& error);

struct OptionSpec {
  const char* name;
  Takes takes;
  OptionAction act;
  const char* usage;  // what --help shows after the name ("" nothing)
  const char* help;   // its --help lines, "\n" between them; null: told in another option's lines
};

// One row per long option, in the order of --help.
constexpr OptionSpec kOptions[] = {
    {"workdir", Takes::text, [](Parsed& p, std::string_view v, std::int32_t, Text&) { p.options.workdir = v; return true; },
     "DIR",
     "working folder; relative paths are then taken from DIR (default:\n"
     "the current directory when it has data/, else the program's own\n"
     "folder, the folder of the link it was started through first)"},
    {"mode", Takes::number,
     [](Parsed& p, std::string_view, std::int32_t n, Text&) {
       p.options.mode = n;
       p.options.has_mode = true;
       return true;
     },
     "N", "run mode, in place of runmode.ini line 2 (see below)"},
    {"project", Takes::text,
     [](Parsed& p, std::string_view v, std::int32_t, Text&) {
       p.options.project = v;
       p.options.has_project = true;
       return true;
     },
     "PATH",
     "project file, in place of runmode.ini line 1; without --mode and\n"
     "runmode.ini, a test run, as \"zepta PATH.prj\" is"},
    {"element", Takes::number,
     [](Parsed& p, std::string_view, std::int32_t n, Text&) {
       p.options.element = n;
       p.options.has_element = true;
       return true;
     },
     "N", "element index, in place of runmode.ini line 3"},
    {"headless", Takes::nothing, [](Parsed& p, std::string_view, std::int32_t, Text&) { p.options.headless = true; return true; },
     "",
     "no window and no sound device (drawn offscreen for --screenshot).\n"
     "A project that never ends runs on as a game does: give --ticks, or\n"
     "end it with Escape in the --input script (without --ticks, a line on\n"
     "stderr says so); in a headless test run each debug(v) of a brain\n"
     "is a line on stderr"},
    {"windowed", Takes::nothing, [](Parsed& p, std::string_view, std::int32_t, Text&) { p.options.windowed = true; return true; },
     "",
     "a window instead of full screen (also ZEPTA_WINDOWED=1);\n"
     "Alt+Enter switches between the two. Where no display answers, a run\n"
     "exits with status 6 unless SDL_VIDEODRIVER=offscreen asks for a\n"
     "window nobody sees"},
    {"input", Takes::text, [](Parsed& p, std::string_view v, std::int32_t, Text&) { p.options.input = v; return true; },
     "FILE",
     "scripted input, one event a line: TICK EVENT ARGS with the events\n"
     "key KEY [CHAR], down KEY, up KEY, mouse X Y BUTTONS,\n"
     "wheel DELTA, and for joystick N (1 or 2): joy N axis NAME VALUE\n"
     "(NAME x, y, z, u, v, xr, yr or zr; VALUE -1000..1000),\n"
     "joy N button B 0|1 (B 0..31), joy N hat H VALUE (H 0..3; VALUE in\n"
     "hundredths of a degree 0..35999, or -1 centred), joy N present 0|1;\n"
     "KEY is a scan code, or a key name as the brain keyword keyboard\n"
     "takes (LEFT, SPACE, RETURN, ESC, F1, A, /, ...; any case); CHAR is\n"
     "one character or a decimal code; TICK is the engine tick in a test\n"
     "run (a panel that waits takes the next events at once), the input\n"
     "sample elsewhere; \"#\" comments"},
    {"fast", Takes::nothing, [](Parsed& p, std::string_view, std::int32_t, Text&) { p.options.fast = true; return true; }, "",
     "test runs: ticks back to back, without waiting for deadlines"},
    {"ticks", Takes::number,
     [](Parsed& p, std::string_view v, std::int32_t n, Text& error) {
       if (n < 0) {
         error = Text("zepta: option '--ticks' needs a number of 0 or more, not '") + v + "'";
         return false;
       }
       p.options.max_ticks = n;
       return true;
     },
     "N",
     "test runs: end the run after N ticks, as Escape does. The tick counter\n"
     "(\"ticks\" in the dump, TICK of --input) also counts the 4 brain passes\n"
     "that prepare the run before its first tick, so it ends at N + 4;\n"
     "TICK of --screenshot counts the run's ticks only"},
    {"dump", Takes::text, [](Parsed& p, std::string_view v, std::int32_t, Text&) { p.options.dump = v; return true; },
     "FILE",
     "test runs: write exit request, tick counter, last debug value,\n"
     "non-zero globals, each element's name and non-zero record words,\n"
     "and the collision matrix to FILE when the run ends (LF lines); its\n"
     "folder is checked before the run starts"},
    {"screenshot", Takes::text,
     [](Parsed& p, std::string_view v, std::int32_t, Text& error) {
       Options& o = p.options;
       std::size_t colon = v.find(':');
       std::int32_t tick = 0;
       if (colon == std::string_view::npos || !read_number(v.substr(0, colon), tick) || tick < 0 ||
           colon + 1 >= v.size()) {
         error = Text("zepta: option '--screenshot' needs TICK:FILE, not '") + v + "'";
         return false;
       }
       std::string_view file = v.substr(colon + 1);
       if (file.size() < 4 || lower(file.substr(file.size() - 4)) != ".png") {
         error = Text("zepta: option '--screenshot' saves PNG pictures: '") + file + "' does not end in .png";
         return false;
       }
       if (o.screenshot_count == kMaxScreenshots) {
         error = "zepta: too many '--screenshot' options (16 at most)";
         return false;
       }
       o.screenshots[o.screenshot_count++] = {tick, Text(v.substr(colon + 1))};
       return true;
     },
     "TICK:FILE",
     "test runs: save the picture drawn at loop tick TICK (or the first one\n"
     "drawn after it) as a PNG (FILE ends in .png; its folder is checked\n"
     "before the run starts); may be given up to 16 times"},
    // The lines on the packaged game close the block of test-run options, so they follow --check's.
    {"check", Takes::nothing, [](Parsed& p, std::string_view, std::int32_t, Text&) { p.check = true; return true; }, "FILE...",
     "compile each brain file, or load a project file as a run does and\n"
     "compile every brain it holds or names; print its warnings and errors\n"
     "as FILE:LINE: MESSAGE, and exit (3: a run would refuse a project)\n"
     "A packaged game (run mode 0) takes --headless, --fast, --ticks,\n"
     "--input, --dump and --screenshot too: ticks count from the start of\n"
     "the game over all its levels, the dump is the last level's, and\n"
     "headless, its \"press any key\" waits end at once"},
    {"allow-programs", Takes::nothing,
     [](Parsed& p, std::string_view, std::int32_t, Text&) { p.options.allow_programs = true; return true; }, "",
     "a packaged game's brains start programs (run, run_task) without\n"
     "asking; without it the player asks once for each command line,\n"
     "and a headless game refuses them"},
    {"package", Takes::text,
     [](Parsed& p, std::string_view v, std::int32_t, Text&) {
       p.options.package_list = v;
       p.package = true;
       return true;
     },
     "LIST OUTDIR [--title TEXT]",
     "build the package of the projects list LIST (a .mlv file) into the\n"
     "existing folder OUTDIR, without a window: every problem on stderr,\n"
     "\"packaged N levels into OUTDIR\" on stdout. TEXT is the packaged\n"
     "window title (default: the editor's executable name, \"Zepta 5.2\")"},
    {"host", Takes::nothing,
     [](Parsed& p, std::string_view, std::int32_t, Text&) {
       p.options.network.host = p.options.network.given = true;
       return true;
     },
     "",
     "host a network session (see docs/network.md): this and the options\n"
     "below switch networking on, netmode.ini or not, and override the\n"
     "values of network.ini; a headless run that makes no session exits 7"},
    {"join", Takes::text,
     [](Parsed& p, std::string_view v, std::int32_t, Text& error) {
       std::string address;
       int port = 0;
       if (!net::split_address(v, address, port)) {
         error = Text("zepta: option '--join' needs ADDRESS or ADDRESS:PORT, not '") + v + "'";
         return false;
       }
       NetworkOptions& n = p.options.network;
       n.join = std::string_view(address);
       if (port != 0) n.port = port;
       n.given = true;
       return true;
     },
     "ADDRESS[:PORT]", "join the session hosted at ADDRESS (an IPv4 address or a host name)"},
    {"port", Takes::number,
     [](Parsed& p, std::string_view v, std::int32_t n, Text& error) {
       if (n < 1 || n > 65535) {
         error = Text("zepta: option '--port' needs a port from 1 to 65535, not '") + v + "'";
         return false;
       }
       NetworkOptions& o = p.options.network;
       if (o.port == 0) o.port = n;  // the PORT of --join comes first
       o.given = true;
       return true;
     },
     "N", "the UDP port to host on or to join (default 29071; --join's PORT\ncomes first)"},
    {"session", Takes::text,
     [](Parsed& p, std::string_view v, std::int32_t, Text& error) {
       p.options.network.given = true;
       return take_name(p.options.network.session, "session", v, net::kMaxSessionNameChars, error);
     },
     "NAME",
     "the session to host (default: the computer's name), or to find on\n"
     "the local network when network.ini says Mode=1 without an address"},
    {"player", Takes::text,
     [](Parsed& p, std::string_view v, std::int32_t, Text& error) {
       p.options.network.given = true;
       return take_name(p.options.network.player, "player", v, net::kMaxPlayerNameChars, error);
     },
     "NAME", "this player's name (default: the login name)"},
    {"help", Takes::nothing, [](Parsed& p, std::string_view, std::int32_t, Text&) { p.help = true; return true; }, "",
     "this text (also -h)"},
    {"version", Takes::nothing, [](Parsed& p, std::string_view, std::int32_t, Text&) { p.version = true; return true; }, "",
     "the program's version"},
    {"title", Takes::maybe_text,
     [](Parsed& p, std::string_view v, std::int32_t, Text&) {
       p.options.package_title = v;
       p.options.has_title = true;
       return true;
     },
     "", nullptr},  // with --package
};

bool path_exists(std::string_view path) {
  struct stat st;
  return stat(std::string(path).c_str(), &st) == 0;
}

bool names_project(std::string_view word) { return word.size() > 4 && lower(word.substr(word.size() - 4)) == ".prj"; }

constexpr ExitMeaning kExitMeanings[] = {
    {Exit::ok, "the run or the task ended normally (also by Escape or a brain's exit)"},
    {Exit::brain, "a brain did not compile, was stopped or raised a runtime error (--check: a brain has errors)"},
    {Exit::command_line, "a bad command line: an option, a value, the --input script, a run mode or an element"},
    {Exit::not_found, "no working folder, or the project is missing, a folder or no project file (also --check)"},
    {Exit::not_written, "a dump, a screenshot, the project or a result file could not be written"},
    {Exit::not_built, "the run mode is not in this build yet"},
    {Exit::start_failed, "no display, the engine data could not be opened, another copy runs here, or an unexpected failure"},
    {Exit::not_connected, "networking was asked for and no session was made: Cancel, or nobody there to answer"},
};
static_assert(std::size(kExitMeanings) == static_cast<int>(Exit::not_connected) + 1, "one meaning per status, in order");

// The options part of --help: "  --NAME USAGE", its first line from column 18
// (a name too long for that on a line of its own), the next lines indented to it.
std::string option_help() {
  constexpr std::size_t kColumn = 18;
  std::string text;
  for (const OptionSpec& o : kOptions) {
    if (!o.help) continue;
    std::string name = std::string("  --") + o.name + (o.usage[0] ? " " : "") + o.usage;
    text += name;
    text += name.size() < kColumn ? std::string(kColumn - name.size(), ' ') : "\n" + std::string(kColumn, ' ');
    for (const char* c = o.help; *c; ++c) {
      text += *c;
      if (*c == '\n') text.append(kColumn, ' ');
    }
    text += '\n';
  }
  return text;
}

// The parts of --help that come from the tables: run modes and exit statuses.
std::string table_help() {
  std::string text = "\nRun modes (--mode N, or line 2 of runmode.ini):\n";
  for (std::int32_t mode = 0; mode <= kLastRunMode; ++mode) {
    RunModeInfo info = run_mode_info(mode);
    char line[128];
    const char* note = info.state == ModeState::not_built ? " (not in this build yet)" : "";
    if (info.state == ModeState::no_task)
      std::snprintf(line, sizeof line, "  %2d  no task: %s, nothing saved\n", mode,
                    info.loads_project ? "loads the project" : "loads nothing");
    else
      std::snprintf(line, sizeof line, "  %2d  %s%s\n", mode, info.task, note);
    text += line;
  }
  text += "\nExit status:\n";
  for (const ExitMeaning& e : kExitMeanings) {
    char line[160];
    std::snprintf(line, sizeof line, "  %d  %s\n", static_cast<int>(e.status), e.meaning);
    text += line;
  }
  return text;
}

}  // namespace

std::span<const ExitMeaning> exit_meanings() { return kExitMeanings; }

const char* usage_text() {
  static const std::string text = std::string(
      "Usage: zepta [OPTION]... [PROJECT.prj] [/N]...\n"
      "       zepta --check FILE.brn|PROJECT.prj...\n"
      "       zepta --package LIST.mlv OUTDIR [--title TEXT]\n"
      "The Zepta engine program. Given a project it makes a test run of it (run mode 1).\n"
      "Without options it runs the task named by runmode.ini in the working folder, or plays\n"
      "the packaged project found there.\n"
      "\n") +
      option_help() +
      "  /N              values read by the brain keywords par_count and par_get\n" +
      table_help() +
      "\nExamples:\n"
      "  zepta --windowed projects/demo/demo.prj\n"
      "      a test run of the demo project in a window (without --windowed: full screen);\n"
      "      Escape ends it\n"
      "  zepta --headless --fast --ticks 60 --dump out.txt projects/hello/hello.prj\n"
      "      60 ticks without a window, then the state of every element in out.txt\n";
  return text.c_str();
}

ParseResult parse_options(int argc, const char* const* argv, Options& options, Text& error) {
  options = Options{};
  std::vector<std::string_view> words;  // not options: a project, "/" values or files to check
  Parsed parsed{options};
  for (int i = 1; i < argc; ++i) {
    std::string_view word = argv[i];
    if (word == "-h") {
      parsed.help = true;
      continue;
    }
    if (word.size() < 2 || word.substr(0, 2) != "--") {
      words.push_back(word);
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
    if (!spec->act(parsed, value, number, error)) return ParseResult::bad;
  }
  if (parsed.help) return ParseResult::help;
  if (parsed.version) return ParseResult::version;
  if (parsed.package) {
    if (words.size() != 1 || parsed.check) {
      error = "zepta: option '--package' needs a projects list and a package folder: --package LIST OUTDIR";
      return ParseResult::bad;
    }
    if (Text(words[0]).too_long()) {
      error = "zepta: the package folder path is too long";
      return ParseResult::bad;
    }
    options.package_folder = words[0];
    return ParseResult::package;
  }
  if (options.has_title) {
    error = "zepta: option '--title' goes with '--package'";
    return ParseResult::bad;
  }
  if (options.network.host && !options.network.join.empty()) {
    error = "zepta: options '--host' and '--join' do not go together";
    return ParseResult::bad;
  }
  if (parsed.check) {
    if (words.empty()) {
      error = "zepta: option '--check' needs brain or project files";
      return ParseResult::bad;
    }
    options.check.assign(words.begin(), words.end());
    return ParseResult::check;
  }
  std::string rest;  // the words that form the "/" command line
  for (std::string_view word : words) {
    // "/N" values begin with "/"; so does an absolute project path.
    if (word.empty() || word[0] != '/' || names_project(word) || path_exists(word)) {
      if (options.has_project) {
        error = Text("zepta: one project at a time, not also '") + word + "'";
        return ParseResult::bad;
      }
      if (Text(word).too_long()) {
        error = "zepta: the project path is too long";
        return ParseResult::bad;
      }
      options.project = word;
      options.has_project = options.positional_project = true;
    } else {
      if (!rest.empty()) rest += ' ';
      rest += word;
    }
  }
  parse_command_values(rest, options.values);
  // A project named alone: a test run of it from its first element.
  if (options.positional_project && !options.has_mode) options.mode = 1, options.has_mode = true;
  if (options.positional_project && !options.has_element) options.element = 0, options.has_element = true;
  return ParseResult::run;
}

}  // namespace shell
