// Process start-up and shutdown: command line, memory budget, folders, media,
// config.ini, the window, then the dispatcher; everything undone in reverse.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "brain/brain.h"
#include "engine/engine.h"
#include "net/connect.h"
#include "net/session.h"
#include "package/package.h"
#include "platform/platform.h"
#include "base/files.h"
#include "base/log.h"
#include "base/memory.h"
#include "shell/shell_local.h"
#include "ui/dialogs.h"

namespace shell {

namespace {

constexpr int kLockTries = 10;     // looks for an earlier copy that is still closing
constexpr int kLockDelayMs = 500;  // between two looks

bool reserve_memory(Session& s) {
  if (!reserve_budget()) return false;
  s.screen = ui::budget_screen(640, 480);
  std::span<std::byte> strings = area(Area::temp_strings);
  s.temps = std::make_unique<TempTexts>(strings.data(), strings.size());
  return true;
}

void free_memory(Session& s) {
  s.temps.reset();
  release_budget();
}

Text current_directory() {
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) return Text("./");
  return Text(buffer);
}

// The window and the rendering device. False: start-up gives up.
bool create_window_and_device(Session& s) {
  // A read-only package folder is left as it is: its lock lies in a private place.
  bool read_only = s.mode == 0 && package_read_only();
  std::string lock_file = read_only ? private_lock_file(s.folders.work.view()) : std::string(s.folders.work.view()) + ".zepta.lock";
  s.lock_fd = take_lock_file(lock_file, 0, 0);
  if (s.lock_fd == -1) {
    // An earlier copy may be closing: said at once, then a few looks for its end.
    report("zepta", "another copy still runs in %s: waiting up to %d s for it to end", s.folders.work.c_str(),
           ((kLockTries + 1) * kLockDelayMs + 999) / 1000);
    s.lock_fd = take_lock_file(lock_file, kLockTries, kLockDelayMs);
  }
  if (s.lock_fd == -1) {
    // It still runs: no window.
    say(s, Exit::start_failed, "another copy still runs in %s: giving up", s.folders.work.c_str());
    return false;
  }
  // This copy owns the folder now: temporaries that an interrupted save left behind go.
  if (!read_only)
    for (const char* folder : {"", "data/", "temp/", "brains/"}) remove_stale_temporaries(s.folders.work + folder);

  // One rendering device exists; device 0 is the software emulation device.
  if (s.config.rendering_device == 0) setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
  if (s.config.rendering_device > 1) s.config.rendering_device = 1;
  s.config.available_rendering_devices = 1;
  if (!s.config_path.empty()) write_config(s.config_path, s.config);

  bool windowed = s.options.windowed;
  if (const char* env = std::getenv("ZEPTA_WINDOWED")) windowed = windowed || (env[0] && std::strcmp(env, "0") != 0);
  // Headless runs draw only when a screenshot asks for the picture.
  if (!platform::init({s.options.headless, windowed, s.options.screenshot_count > 0})) {
    if (s.options.headless) say(s, Exit::start_failed, "could not start headless video: %s", platform::init_error());
    else say(s, Exit::start_failed, "could not open the display: %s; --headless runs without one", platform::init_error());
    return false;
  }
  int display_width, display_height;
  platform::display_size(display_width, display_height);
  apply_offered_modes(s.config, modes_fitting(display_width, display_height));
  int width, height;
  screen_size_of(s.config.display_mode, width, height);
  if (!platform::create_window(width, height)) {
    platform::error_box("Could not create the window.");
    s.fail(Exit::start_failed);
    return false;
  }
  // The tools draw at the display mode's size from here on.
  s.screen = ui::budget_screen(width, height);
  platform::set_screen_size(width, height);
  return true;
}

// The config.ini of a read-only package's player: $XDG_CONFIG_HOME (else
// ~/.config) + "/zepta/" + the game's id + "/config.ini", its folder made; "" when
// there is none (config.ini is then not written).
Text player_config_file(std::string_view package_folder) {
  std::string config = base::user_folder("XDG_CONFIG_HOME", ".config");
  if (config.empty()) return Text();
  std::string game =
      config + "/zepta/" + package::game_id(base::real_path(package_folder), trim(platform::window_title()).view()) + "/";
  std::error_code ec;
  std::filesystem::create_directories(game, ec);
  Text path(game + "config.ini");
  return ec || path.too_long() ? Text() : path;
}

// The packaged player keeps a brain's `sound_set` and `sound_mixing_set` for the next start.
void store_sound_settings(void* user, std::int32_t sound, std::int32_t mixing) {
  Session& s = *static_cast<Session*>(user);
  s.config.sound = sound;
  s.config.sound_mixing = mixing;
  if (!s.config_path.empty()) write_config(s.config_path, s.config);
}

// The packaged player keeps a brain's `display_mode_set` and
// `rendering_device_set` for the next start: a mode the display offers, a device 0..3.
void store_display_settings(void* user, std::int32_t display_mode, std::int32_t rendering_device) {
  Session& s = *static_cast<Session*>(user);
  bool one_mode = display_mode > 0 && (display_mode & (display_mode - 1)) == 0;
  if (one_mode && (display_mode & s.config.available_display_modes)) s.config.display_mode = display_mode;
  s.config.rendering_device = rendering_device & 3;
  if (!s.config_path.empty()) write_config(s.config_path, s.config);
}

// The sound device of config.ini's "Sound" and "SoundMixing". Headless runs have
// none, unless ZEPTA_SOUND_DEVICE=loopback asks for one that mixes into memory.
void open_sound(Session& s) {
  engine::SoundOutput output;
  output.sound = s.config.sound;
  output.mixing = s.config.sound_mixing;
  if (s.options.headless) {
    const char* env = std::getenv("ZEPTA_SOUND_DEVICE");
    output.device = env && std::strcmp(env, "loopback") == 0 ? engine::SoundOutput::loopback : engine::SoundOutput::none;
  }
  if (!s.folders.tool_host) {
    output.store = store_sound_settings;
    output.user = &s;
  }
  engine::open_sound_output(output);
}

// The options of every run: config.ini's display mode and filtering, the
// session's font, screen and temporaries, and the command line's values,
// --fast and --ticks.
engine::RunOptions run_options_of(Session& s) {
  engine::RunOptions o;
  o.display_mode = s.config.display_mode;
  o.filtering = s.config.filtering;
  o.font = &s.font;
  o.screen = s.screen.pixels;
  o.screen_width = s.screen.width;
  o.screen_height = s.screen.height;
  o.temps = s.temps.get();
  o.command_values = std::span<const std::int32_t>(s.options.values.value, s.options.values.count);
  o.fast = s.options.fast;
  o.max_ticks = s.options.max_ticks;
  o.allow_programs = s.options.allow_programs;
  if (!s.folders.tool_host) {
    o.store_display = store_display_settings;
    o.store_user = &s;
  }
  return o;
}

// ---- Network session ------------------------------------------------------------------

// The questions of a connection: message boxes on the program's screen, or,
// where nobody can answer them (headless, or waiting gives up), a line on
// stderr and Cancel, so that a run nobody watches never waits for nobody.
struct NetPrompts {
  ui::Kit* kit = nullptr;  // null: nobody can answer
};

bool nobody_answers(const NetPrompts& p) { return !p.kit || platform::waiting_gives_up(); }

bool net_ask(void* user, std::string_view text, std::string_view caption) {
  NetPrompts& p = *static_cast<NetPrompts*>(user);
  if (nobody_answers(p)) {
    report("zepta", "%.*s Cancel (nobody to answer)", static_cast<int>(text.size()), text.data());
    return false;
  }
  return ui::message_box(*p.kit, text, caption, 1, -1) == ui::MessageAnswer::ok;
}

void net_tell(void* user, std::string_view text, std::string_view caption) {
  NetPrompts& p = *static_cast<NetPrompts*>(user);
  if (nobody_answers(p)) report("zepta", "%.*s", static_cast<int>(text.size()), text.data());
  else ui::message_box(*p.kit, text, caption, 0, -1);
}

// network.ini (when it exists) with the command line's network options over it.
bool network_settings(const Options& o, net::ConnectSettings& settings) {
  bool from_file = net::read_network_settings(current_directory() + "/network.ini", settings);
  const NetworkOptions& n = o.network;
  if (n.host) settings.mode = 0;
  if (!n.join.empty()) {
    settings.mode = 1;
    settings.connection = 1;
    settings.address = n.join.c_str();
  }
  if (n.port != 0) settings.port = n.port;
  if (!n.session.empty()) settings.session_name = n.session.c_str();
  if (!n.player.empty()) settings.player_name = n.player.c_str();
  return from_file || n.given;
}

// Networking, when netmode.ini or a network option asks for it: a session
// from network.ini and the options, else through the "Network connection"
// dialog; the network runs with it. Without one, "Could not connect, launch
// anyway?": OK runs alone, Cancel (or nobody to answer) ends the program with
// status 7. False: the program ends.
bool start_network(Session& s) {
  const Options& o = s.options;
  if (!o.network.given && !file_exists("netmode.ini")) return true;
  auto kit = std::make_unique<ui::Kit>();
  ui::Skin skin;  // "panels.pcx", loaded at start-up
  std::span<std::byte> panels = area(Area::panel_image);
  if (panels.size() >= static_cast<std::size_t>(ui::kSkinWidth * ui::kSkinHeight))
    skin = {reinterpret_cast<const std::uint8_t*>(panels.data()), ui::kSkinWidth, ui::kSkinHeight};
  ui::init_kit(*kit, s.screen, s.font, skin);
  NetPrompts answerer{o.headless ? nullptr : kit.get()};
  net::Prompts prompts{&answerer, net_ask, net_tell};

  net::ConnectSettings settings;
  platform::NetSession* session = nullptr;
  if (network_settings(o, settings)) {
    session = net::connect_from_settings(settings, prompts);
  } else if (!nobody_answers(answerer)) {
    session = net::connect_by_dialog(*kit, settings);
  } else {
    report("zepta", "netmode.ini asks for a network session, and nobody is there to fill in the \"Network "
                    "connection\" dialog: give network.ini, or --host or --join");
  }
  if (session) {
    net::start_network(session);
    return true;
  }
  if (net_ask(&answerer, net::kLaunchAnyway, net::kBoxCaption)) return true;
  say(s, Exit::not_connected, "no network session was made, and the game was not launched alone");
  return false;
}

// Start-up steps 1 to 12; false when the program should go straight to shutdown.
bool start(Session& s) {
  platform::start_timer();
  platform::typed_clear(platform::input().typed);
  if (!reserve_memory(s)) {
    say(s, Exit::start_failed, "could not reserve the engine's memory");
    return false;
  }

  media::load_font(s.folders.data + "font.fnt", s.font, false);
  if (!media::load_lookup_tables(s.folders.data)) {
    // Computing with empty tables would give plainly wrong results.
    if (!s.folders.tool_host && !holds_package(s.folders.work)) {
      platform::error_box("Nothing to play: no packaged project in %s", s.folders.work.c_str());
      s.fail(Exit::not_found);
    } else {
      platform::error_box("Missing lookup tables in %s (sinus.bin, sinusbig.bin, atan.bin, random.bin).",
                          s.folders.data.c_str());
      s.fail(Exit::start_failed);
    }
    return false;
  }
  std::span<std::byte> panels = area(Area::panel_image);
  media::ImageSize panel_size;
  media::load_pcx(s.folders.data + "panels.pcx", media::kPcxFold,
                  {reinterpret_cast<std::uint8_t*>(panels.data()), panels.size()}, panel_size);

  s.config_path = current_directory() + "/config.ini";
  read_config(s.config_path, s.config);
  if (s.mode == 0 && package_read_only()) {
    // The package's config.ini gives the game's settings; the player's own copy keeps them.
    s.config_path = player_config_file(s.folders.work.view());
    if (!s.config_path.empty()) read_config(s.config_path, s.config);
  }
  apply_settings_rules(s.config);

  if (!create_window_and_device(s)) return false;
  // The session is made once there is a screen for its dialog and questions.
  if (!start_network(s)) return false;
  if (!s.config_path.empty()) write_config(s.config_path, s.config);
  open_sound(s);
  s.run_options = run_options_of(s);
  return true;
}

void stop(Session& s) {
  net::stop_network();
  engine::close_sound_output();
  platform::shutdown();
  release_instance_lock(s.lock_fd);
  s.lock_fd = -2;
  free_memory(s);
}

bool is_folder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A working folder: the tool host's data/, or a packaged game's files beside the program.
bool is_working_folder(const std::string& folder) {
  return is_folder(folder + "data") || file_exists(folder + "multilev.ini") || file_exists(folder + "sinus.bin");
}

// The folder of a path, ending in "/"; relative paths are taken from `from`.
std::string folder_of(std::string_view path, std::string_view from) {
  std::string full = !path.empty() && path[0] == '/' ? std::string(path) : std::string(from) + std::string(path);
  return full.substr(0, full.find_last_of('/') + 1);
}

// The path as started: argv0 itself when it holds a "/", else the first match on PATH.
std::string started_as(std::string_view argv0, std::string_view current) {
  if (argv0.find('/') != std::string_view::npos)
    return argv0[0] == '/' ? std::string(argv0) : std::string(current) + std::string(argv0);
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "";
  while (!dirs.empty()) {
    std::size_t colon = dirs.find(':');
    std::string dir(dirs.substr(0, colon));
    dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + std::string(argv0);
    if (access(candidate.c_str(), X_OK) == 0) return candidate[0] == '/' ? candidate : std::string(current) + candidate;
  }
  return std::string();
}

// Makes a relative path of the command line absolute from `from` (ends in "/").
void take_from(Text& path, std::string_view from) {
  if (path.empty() || path[0] == '/') return;
  Text full = Text(from) + path.view();
  if (!full.too_long()) path = full;
}

// Where the program works: --workdir, or the folder found from where it was
// started. Relative paths given for a found folder elsewhere are taken from
// the folder the program was started in (the project there when it exists).
bool enter_working_folder(Session& s, const char* argv0) {
  Options& o = s.options;
  s.project_given = o.project;
  if (!o.workdir.empty()) {
    if (chdir(o.workdir.c_str()) == 0) return true;
    say(s, Exit::command_line, "cannot use '%s' as the working folder: %s", o.workdir.c_str(), std::strerror(errno));
    return false;
  }
  std::string current = current_directory().c_str();
  if (current.empty() || current.back() != '/') current += '/';
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string_view exe_path(exe, n > 0 ? static_cast<std::size_t>(n) : 0);
  std::string work = find_working_folder(current, argv0 ? argv0 : "", exe_path);
  if (work.empty()) {
    say(s, Exit::not_found, "%s is no working folder (it has no data/): run it from its working folder or give --workdir DIR",
        current.c_str());
    return false;
  }
  if (work == current) return true;
  if (chdir(work.c_str()) != 0) {
    say(s, Exit::not_found, "cannot enter the working folder %s: %s", work.c_str(), std::strerror(errno));
    return false;
  }
  if (o.has_project && !o.project.empty() && o.project[0] != '/' && file_exists(current + o.project.c_str()))
    take_from(o.project, current);
  take_from(o.input, current);
  take_from(o.dump, current);
  for (int k = 0; k < o.screenshot_count; ++k) take_from(o.screenshots[k].file, current);
  return true;
}

// An optional "-" and digits, blanks around them allowed: what a run-mode line holds.
bool is_whole_number(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  if (!s.empty() && s.front() == '-') s.remove_prefix(1);
  return !s.empty() && s.size() <= 10 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// What the command line asks, checked before any window opens: a run mode
// this build has, and for a test run asked for on the command line, a project
// file that exists. The folders, the run mode and the project path are
// resolved here, once, and kept in the session for start-up and dispatch.
bool check_request(Session& s) {
  Options& o = s.options;
  s.folders = make_folders(current_directory(), o.has_mode || o.has_project || o.has_element);
  const Folders& folders = s.folders;
  // A project named without a mode where no runmode.ini says one: a test run.
  if (o.has_project && !o.has_mode && !file_exists(folders.runmode_file)) o.mode = 1, o.has_mode = true;
  RunModeSource source{folders.runmode_file, &o};
  std::int32_t mode = s.mode = runmode_mode(source);
  Text mode_line;
  if (runmode_mode_line(source, mode_line) && !is_whole_number(mode_line.view())) {
    say(s, Exit::command_line, "runmode.ini line 2 is \"%.40s\", not a run mode (0 to %d; see --help)", mode_line.c_str(),
        kLastRunMode);
    return false;
  }
  Text path = runmode_project(source);
  s.project_path = project::path_to_memory(path, folders.work);
  RunModeInfo info = run_mode_info(mode);
  if (info.state == ModeState::none) {
    say(s, Exit::command_line, "no run mode %d (0 to %d; see --help)", mode, kLastRunMode);
    return false;
  }
  if (mode == 0) {
    if (is_folder(std::string(folders.work.view()) + "data") && !o.has_mode) {
      say(s, Exit::command_line, "nothing to do in %s: no project given and no runmode.ini (a test run: zepta PROJECT.prj; see --help)",
          folders.work.c_str());
      return false;
    }
    if (!holds_package(folders.work)) {
      say(s, Exit::not_found, "Nothing to play: no packaged project in %s", folders.work.c_str());
      return false;
    }
    return true;
  }
  if (info.state == ModeState::not_built) {
    say(s, Exit::not_built, "run mode %d (%s) is not available in this build", mode, info.task);
    return false;
  }
  if (mode != 1 || !(o.has_mode || o.has_project)) return true;  // the editor's runmode.ini: as it says
  if (path.empty()) {
    say(s, Exit::command_line, "a test run needs a project: zepta PROJECT.prj, or --project PATH");
    return false;
  }
  std::string why = project_refusal(s.project_path.view(), path.view());
  if (!why.empty()) {
    say(s, Exit::not_found, "%s", why.c_str());
    return false;
  }
  return true;
}

// A file the run writes at its end (--dump, --screenshot), checked before any
// window opens: not a folder, in a folder that exists and takes files.
bool check_output_path(Session& s, const Text& path, const char* what) {
  std::string file = path.c_str();
  std::string folder = file.substr(0, file.find_last_of('/') + 1);
  if (is_folder(file)) {
    say(s, Exit::not_written, "could not write the %s %s: it is a folder", what, file.c_str());
    return false;
  }
  if (access(folder.empty() ? "." : folder.c_str(), W_OK) != 0) {
    say(s, Exit::not_written, "could not write the %s %s: %s: %s", what, file.c_str(),
        folder.empty() ? "." : folder.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

bool check_output_paths(Session& s) {
  const Options& o = s.options;
  if (!o.dump.empty() && !check_output_path(s, o.dump, "dump")) return false;
  for (int k = 0; k < o.screenshot_count; ++k)
    if (!check_output_path(s, o.screenshots[k].file, "screenshot")) return false;
  return true;
}

}  // namespace

std::string check_literal(std::string_view keyword, int index, std::string_view text) {
  if (keyword == "keyboard" && index == 0 && platform::scan_code_of_key_name(text) == 0)
    return "Unknown key name '" + std::string(text) + "'!";
  return std::string();
}

void say(Session& s, Exit why, const char* format, ...) {
  va_list args;
  va_start(args, format);
  base::report_v("zepta", format, args);
  va_end(args);
  s.fail(why);
}

std::string find_working_folder(std::string_view current, std::string_view argv0, std::string_view exe) {
  std::string here(current);
  if (!here.empty() && here.back() != '/') here += '/';
  if (is_working_folder(here)) return here;
  // The path it was started through, then each link it leads through: a link
  // such as build/work/zepta sits in the working folder, its target does not.
  std::string path = started_as(argv0, here);
  for (int hops = 0; !path.empty() && hops < 16; ++hops) {
    std::string folder = folder_of(path, here);
    if (is_working_folder(folder)) return folder;
    char target[4096];
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) break;
    std::string link(target, static_cast<std::size_t>(n));
    path = link[0] == '/' ? link : folder + link;
  }
  if (!exe.empty()) {
    std::string folder = folder_of(exe, here);
    if (is_working_folder(folder)) return folder;
  }
  return std::string();
}

int report_escaped(std::exception_ptr escaped, std::FILE* out) {
  std::string what = "an exception of unknown type";
  try {
    std::rethrow_exception(escaped);
  } catch (const std::bad_alloc&) {
    what = "out of memory";
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  for (char& c : what)
    if (c == '\n' || c == '\r') c = ' ';  // one line
  std::fprintf(out, "zepta: unexpected failure: %s\n", what.c_str());
  std::fflush(out);
  return static_cast<int>(Exit::start_failed);
}

void terminate_with_report() {
  if (std::exception_ptr escaped = std::current_exception()) report_escaped(escaped, stderr);
  else std::fputs("zepta: unexpected failure: terminated\n", stderr);
  std::_Exit(static_cast<int>(Exit::start_failed));
}

int run_program(int argc, const char* const* argv) {
  bind_all_keywords();
  auto session = std::make_unique<Session>();
  Session& s = *session;
  Text error;
  switch (parse_options(argc, argv, s.options, error)) {
    case ParseResult::bad: std::fprintf(stderr, "%s\n", error.c_str()); return static_cast<int>(Exit::command_line);
    case ParseResult::help: std::fputs(usage_text(), stdout); return 0;
    case ParseResult::version: std::puts(kVersionText); return 0;
    case ParseResult::check: {
      // Brain and project files on their own: no working folder entered, no window.
      return check_command(s.options, argc > 0 ? argv[0] : "", stdout, check_literal);
    }
    case ParseResult::package: {
      std::string here = current_directory().c_str();
      if (here.empty() || here.back() != '/') here += '/';
      if (!enter_working_folder(s, argc > 0 ? argv[0] : nullptr)) return static_cast<int>(s.status);
      // Relative paths: from where it was started, or from --workdir.
      return package_command(s, s.options.workdir.empty() ? std::string_view(here) : std::string_view());
    }
    case ParseResult::run: break;
  }
  if (!enter_working_folder(s, argc > 0 ? argv[0] : nullptr)) return static_cast<int>(s.status);
  if (!s.options.input.empty()) {
    platform::Script script;
    platform::ScriptError script_error;
    if (!platform::load_script(s.options.input.c_str(), script, script_error)) {
      if (script_error.line > 0)
        std::fprintf(stderr, "zepta: %s line %d: %s\n", s.options.input.c_str(), script_error.line,
                     script_error.message);
      else
        std::fprintf(stderr, "zepta: %s: %s\n", s.options.input.c_str(), script_error.message);
      return static_cast<int>(Exit::command_line);
    }
    platform::set_script(std::move(script));
  }
  if (!check_request(s) || !check_output_paths(s)) return static_cast<int>(s.status);
  // Runs of a project end by themselves only through a brain or the script.
  if (s.options.headless && s.options.max_ticks < 0 && (s.mode == 0 || s.mode == 1))
    report("zepta", "headless without --ticks: the run goes on until a brain ends it, Escape in the --input "
                    "script, or Ctrl+C");

  if (start(s)) dispatch(s);
  else s.fail(Exit::start_failed);  // kept when start-up already said why
  stop(s);
  return static_cast<int>(s.status);
}

}  // namespace shell
