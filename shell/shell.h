// Application shell: command line, folders and roles, config.ini and
// runmode.ini, the start-up and shutdown sequences and the run-mode dispatcher.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace shell {

// The top layer works in the base's text runtime, budget and reporting throughout.
using namespace base;

// ---- Command-line values ("/5 /7") ------------------------------------------------

inline constexpr int kMaxCommandValues = 1024;

struct CommandValues {
  std::int32_t value[kMaxCommandValues] = {};
  std::uint32_t count = 0;
};

// Reads "/"-introduced integers from a command line that begins with "/";
// values past the 1,024th are ignored. A line not beginning with "/" gives none.
void parse_command_values(std::string_view line, CommandValues& values);
inline std::int32_t par_count(const CommandValues& v) { return static_cast<std::int32_t>(v.count); }
// The n-th value from 0; 0 for n not below the count (compared unsigned, so n < 0 too).
inline std::int32_t par_get(const CommandValues& v, std::int32_t n) {
  auto i = static_cast<std::uint32_t>(n);
  return i < v.count && i < kMaxCommandValues ? v.value[i] : 0;
}

// ---- Long options -------------------------------------------------------------------

inline constexpr int kMaxScreenshots = 16;

// --screenshot TICK:FILE: the picture drawn at loop tick `tick` (or the first drawn after it).
struct Screenshot {
  std::int32_t tick = 0;
  Text file;
};

// The network options: any of them switches networking on (netmode.ini or
// not) and overrides the values of network.ini.
struct NetworkOptions {
  bool host = false;        // --host
  Text join;                // --join ADDRESS[:PORT]: the address alone
  std::int32_t port = 0;    // --port N, or the PORT of --join (1..65535); 0: not given
  Text session;             // --session NAME
  Text player;              // --player NAME
  bool given = false;       // any of them was given
};

struct Options {
  Text workdir;            // empty: found (the current directory, or the program's own)
  bool has_mode = false, has_project = false, has_element = false;
  std::int32_t mode = 0;   // in place of runmode.ini line 2
  Text project;            // in place of line 1
  bool positional_project = false;  // given as a word ending in ".prj": a test run unless --mode says otherwise
  std::int32_t element = 0;  // in place of line 3
  bool headless = false;
  bool windowed = false;
  Text input;              // scripted input file; empty: none
  bool fast = false;       // --fast: ticks back to back, every tick on time
  bool allow_programs = false;  // --allow-programs: a packaged game starts programs without asking
  std::int32_t max_ticks = -1;  // --ticks N: the run ends after N loop ticks (-1: no limit)
  Text dump;               // --dump FILE: the run's dump when it ends; empty: none
  Screenshot screenshots[kMaxScreenshots];  // --screenshot TICK:FILE, in the order given
  int screenshot_count = 0;
  CommandValues values;
  std::vector<std::string> check;  // --check: the brain and project files to check
  Text package_list;    // --package LIST OUTDIR: the projects list to build
  Text package_folder;  // and the package folder
  Text package_title;   // --title TEXT
  bool has_title = false;
  NetworkOptions network;
};

enum class ParseResult { run, check, package, help, version, bad };

// Parses argv: long options ("--name VALUE" or "--name=VALUE"), anywhere; of
// the other words one ending in ".prj" names the project and those beginning
// with "/" form the command line of "/" values (with --check, they are all
// files to check). On bad, error holds one line.
ParseResult parse_options(int argc, const char* const* argv, Options& options, Text& error);
const char* usage_text();
inline constexpr char kVersionText[] = "Zepta 5.2";

// ---- Exit statuses and run modes ------------------------------------------------------

enum class Exit : int {
  ok = 0,
  brain = 1,         // a brain did not compile or was stopped while running
  command_line = 2,  // a bad command line
  not_found = 3,     // no working folder; the project missing or no project file
  not_written = 4,   // a dump, screenshot or result file could not be written
  not_built = 5,     // the run mode is not in this build
  start_failed = 6,  // the display or the engine data could not be opened
  not_connected = 7,  // networking was asked for and no session was made
};

struct ExitMeaning {
  Exit status;
  const char* meaning;  // one line for --help
};
// Every status with its meaning, in order.
std::span<const ExitMeaning> exit_meanings();

enum class ModeState {
  none,       // no such run mode
  no_task,    // a mode that does nothing (4, 10, 11, 12)
  not_built,  // its task is not in this build yet
  built,
};

struct RunModeInfo {
  std::int32_t mode;
  const char* task;  // "test run", "display-area setup"...
  ModeState state;
  bool loads_project;
};
// The row of a run mode; state none for a number that is no run mode.
RunModeInfo run_mode_info(std::int32_t mode);
inline constexpr std::int32_t kLastRunMode = 15;

// ---- Folders, role and runmode.ini --------------------------------------------------

struct Folders {
  Text work;          // the working folder, "/" separators, ends in "/"
  Text data;          // work + "data/" for the tool host, work for the player
  Text temp_file;     // work + "temp.tmp"
  Text runmode_file;  // work + "runmode.ini"
  Text engine_file;   // "engine.dll" for the tool host, empty for the player
  bool tool_host = false;
};

// Folders for a working folder as the system reports it ("\" becomes "/", a
// final "/" is added). The tool host is chosen by runmode.ini or by any of the
// --mode, --project and --element options.
Folders make_folders(std::string_view current_directory, bool runmode_options);

// Where the run-mode values come from: runmode.ini, overridden by options.
struct RunModeSource {
  Text file;  // path of runmode.ini
  const Options* options = nullptr;
};

Text runmode_project(const RunModeSource& source);  // line 1; "" when missing
std::int32_t runmode_mode(const RunModeSource& source);  // line 2; 0 when the file is missing
// Line 2 of the file as written when it gives the run mode (no --mode); false
// when the file is missing or --mode overrides it.
bool runmode_mode_line(const RunModeSource& source, Text& line);
// Line 2 + n (n >= 1) as an integer; -1 when the file is missing.
std::int32_t runmode_value(const RunModeSource& source, int n);

// ---- config.ini ---------------------------------------------------------------------

struct Config {
  std::int32_t available_rendering_devices = 3;
  std::int32_t rendering_device = 1;
  std::int32_t available_display_modes = 63;
  std::int32_t display_mode = 1;
  std::int32_t filtering = 3;
  std::int32_t sound = 1;
  std::int32_t sound_mixing = 0;
  std::int32_t legal_display_modes = 63;
};

// The profile-struct form of a 32-bit value: its 4 bytes in memory order as
// upper-case hexadecimal pairs, then the byte sum modulo 256 ("0300000003").
Text encode_profile_value(std::int32_t value);
// False when the text is not 10 hex digits or the checksum does not match.
bool decode_profile_value(std::string_view text, std::int32_t& value);

// Fills config from the file; a missing file, key or malformed value keeps the default.
void read_config(std::string_view path, Config& config);
bool write_config(std::string_view path, const Config& config);  // all eight keys, atomically
// The rules after reading: legal modes masked to 6 bits (0 becomes 1), the
// available modes and the chosen mode masked with them (a chosen mode of 0 becomes 1).
void apply_settings_rules(Config& config);
// Available modes from the modes the display offers (640 x 480 x 16 is always
// offered); the chosen mode shifted right until it is one of them (1 at worst).
void apply_offered_modes(Config& config, std::int32_t offered);
// Screen size of a display-mode bit set: 640 x 480, 800 x 600 or 1024 x 768.
void screen_size_of(std::int32_t display_mode, int& width, int& height);
// Mode bits (16- and 32-bit pairs) of the sizes that fit a display.
std::int32_t modes_fitting(int display_width, int display_height);

// ---- Second copy ----------------------------------------------------------------------

// Takes the instance lock of a working folder, waiting up to tries x delay_ms
// and once more while another copy holds it. Returns the lock's descriptor,
// -1 when another copy kept it (start-up says so and gives up), or -2 when no lock
// file can be made (a read-only folder: go on without one).
int take_instance_lock(std::string_view work_folder, int tries, int delay_ms);
// The same with the lock in lock_file.
int take_lock_file(std::string_view lock_file, int tries, int delay_ms);
// Where a package folder that is not written keeps its lock: $XDG_RUNTIME_DIR
// (else /tmp) + "/zepta-UID-HASH.lock", HASH 16 hex digits of the folder's real path.
std::string private_lock_file(std::string_view work_folder);
void release_instance_lock(int fd);

// ---- The program -------------------------------------------------------------------------

// Binds the runtime routines of every folder to their keywords: what the
// program does at start-up, and what the keyword reference is written from.
void bind_all_keywords();

// Start-up, dispatch, shutdown. Returns the process exit status (Exit).
int run_program(int argc, const char* const* argv);

// The last resort for an exception that leaves run_program: "zepta: unexpected
// failure: " + what it says, one line on out; returns the status (6).
int report_escaped(std::exception_ptr escaped, std::FILE* out);
// std::terminate's handler: the same line for the exception in flight, then exit 6.
[[noreturn]] void terminate_with_report();

// The working folder of a program started as argv0 from the folder `current`
// (absolute): `current` when it is one (data/, or a packaged game's files),
// else the folder of argv0 as given (found on PATH when it has no "/"), then of
// each link it leads through, then of exe (the program file itself); "" when
// none is. Ends in "/".
std::string find_working_folder(std::string_view current, std::string_view argv0, std::string_view exe);

}  // namespace shell
