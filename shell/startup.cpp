// Process start-up and shutdown: command line, memory budget, folders, media,
// config.ini, the window, then the dispatcher; everything undone in reverse.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "brain/brain.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "base/log.h"
#include "base/memory.h"
#include "shell/shell_local.h"

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
  s.lock_fd = take_instance_lock(s.folders.work, kLockTries, kLockDelayMs);
  if (s.lock_fd == -1) return false;  // an earlier copy is still running: quit silently

  // One rendering device exists; device 0 is the software emulation device.
  if (s.config.rendering_device == 0) setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
  if (s.config.rendering_device > 1) s.config.rendering_device = 1;
  s.config.available_rendering_devices = 1;
  write_config(s.config_path, s.config);

  bool windowed = s.options.windowed;
  if (const char* env = std::getenv("ZEPTA_WINDOWED")) windowed = windowed || (env[0] && std::strcmp(env, "0") != 0);
  if (!platform::init({s.options.headless, windowed})) {
    platform::error_box("Could not open the display.");
    return false;
  }
  int display_width, display_height;
  platform::display_size(display_width, display_height);
  apply_offered_modes(s.config, modes_fitting(display_width, display_height));
  int width, height;
  screen_size_of(s.config.display_mode, width, height);
  if (!platform::create_window(width, height)) {
    platform::error_box("Could not create the window.");
    return false;
  }
  // The tools draw at the display mode's size from here on.
  s.screen = ui::budget_screen(width, height);
  platform::set_screen_size(width, height);
  return true;
}

// The packaged player keeps a brain's `sound_set` and `sound_mixing_set` for the next start.
void store_sound_settings(void* user, std::int32_t sound, std::int32_t mixing) {
  Session& s = *static_cast<Session*>(user);
  s.config.sound = sound;
  s.config.sound_mixing = mixing;
  write_config(s.config_path, s.config);
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

// Start-up steps 1 to 12; false when the program should go straight to shutdown.
bool start(Session& s) {
  platform::start_timer();
  platform::typed_clear(platform::input().typed);
  if (!reserve_memory(s)) return false;

  s.folders = make_folders(current_directory(), s.options.has_mode || s.options.has_project || s.options.has_element);

  media::load_font(s.folders.data + "font.fnt", s.font, false);
  if (!media::load_lookup_tables(s.folders.data)) {
    // Computing with empty tables would give plainly wrong results.
    if (!s.folders.tool_host && !file_exists(s.folders.work + "multilev.ini"))
      platform::error_box("Nothing to play: no packaged project in %s", s.folders.work.c_str());
    else
      platform::error_box("Missing lookup tables in %s (sinus.bin, sinusbig.bin, atan.bin, random.bin).",
                          s.folders.data.c_str());
    return false;
  }
  std::span<std::byte> panels = area(Area::panel_image);
  media::ImageSize panel_size;
  media::load_pcx(s.folders.data + "panels.pcx", media::kPcxFold,
                  {reinterpret_cast<std::uint8_t*>(panels.data()), panels.size()}, panel_size);

  if (file_exists("netmode.ini"))
    report("shell", "netmode.ini found, but this build has no network sessions yet; running alone");

  s.config_path = current_directory() + "/config.ini";
  read_config(s.config_path, s.config);
  apply_settings_rules(s.config);

  if (!create_window_and_device(s)) return false;
  write_config(s.config_path, s.config);
  open_sound(s);
  return true;
}

void stop(Session& s) {
  engine::close_sound_output();
  platform::shutdown();
  release_instance_lock(s.lock_fd);
  s.lock_fd = -2;
  free_memory(s);
}

}  // namespace

int run_program(int argc, const char* const* argv) {
  bind_all_keywords();
  // zepta --check FILE...: compile brain files on their own, report, and exit.
  if (argc >= 2 && std::string_view(argv[1]) == "--check") {
    if (argc == 2) {
      std::fputs("zepta: option '--check' needs brain files\n", stderr);
      return 2;
    }
    std::vector<std::string_view> files(argv + 2, argv + argc);
    int status = brain::check_files(files, stdout);
    release_budget();
    return status;
  }
  auto session = std::make_unique<Session>();
  Session& s = *session;
  Text error;
  switch (parse_options(argc, argv, s.options, error)) {
    case ParseResult::bad: std::fprintf(stderr, "%s\n", error.c_str()); return 2;
    case ParseResult::help: std::fputs(usage_text(), stdout); return 0;
    case ParseResult::version: std::puts(kVersionText); return 0;
    case ParseResult::run: break;
  }
  if (!s.options.workdir.empty() && chdir(s.options.workdir.c_str()) != 0) {
    std::fprintf(stderr, "zepta: cannot use '%s' as the working folder: %s\n", s.options.workdir.c_str(),
                 std::strerror(errno));
    return 2;
  }
  if (!s.options.input.empty()) {
    platform::Script script;
    platform::ScriptError script_error;
    if (!platform::load_script(s.options.input.c_str(), script, script_error)) {
      if (script_error.line > 0)
        std::fprintf(stderr, "zepta: %s line %d: %s\n", s.options.input.c_str(), script_error.line,
                     script_error.message);
      else
        std::fprintf(stderr, "zepta: %s: %s\n", s.options.input.c_str(), script_error.message);
      return 2;
    }
    platform::set_script(std::move(script));
  }

  if (start(s)) dispatch(s);
  stop(s);
  return 0;
}

}  // namespace shell
