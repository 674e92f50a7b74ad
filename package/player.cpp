// The multi-project player of a packaged game (run mode 0): the level loop
// from level001, the loading and load-complete images and cut-scenes around
// each run, the globals carried in globvars.dat, resuming saved games, and
// the end screen.
//
// Scrambled package files are read plain through the package view, set once
// here. What the player writes (globvars.dat, save games, the private brain
// files of each compile) goes to the package folder when it is writable, else
// to a folder of the game's own under $XDG_DATA_HOME. Private brain files are
// our own short-lived temporaries: they are written plain and deleted as soon
// as the brains are compiled (Host::scramble_in_place stays null).
//
// The programs a brain starts (`run`, `run_task`) are the player's to allow:
// asked once per command line (package/consent.cpp); headless, refused unless
// --allow-programs.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/files.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/memory.h"
#include "base/scramble.h"
#include "engine/engine.h"
#include "engine/render/render.h"
#include "media/media.h"
#include "package/package.h"
#include "platform/platform.h"
#include "project/project.h"
#include "ui/dialogs.h"

namespace package {

namespace {

constexpr int kMaxLevel = 999;             // level numbers have three digits
constexpr int kMaxImageSide = 4096;        // larger loading images are refused
constexpr char kBlackImage[] = "black_.bmp";  // as load-complete image: no load-complete step

bool is_writable_folder(const std::string& folder) {
  if (access(folder.c_str(), W_OK) != 0) return false;
  // access() trusts the mode bits; a read-only mount or an ACL still refuse the file.
  std::string probe = folder + ".zepta-write-XXXXXX";
  int fd = mkstemp(probe.data());
  if (fd < 0) return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

// One game: the setup, the folders, the panel kit and the bookkeeping across levels.
struct Game {
  const PlayerSetup& setup;
  base::Text base;   // the package folder
  base::Text write;  // where the player writes
  ui::Kit kit;
  std::vector<std::uint8_t> skin_pixels;
  engine::Dialogs dialogs;
  std::unique_ptr<project::Project> project = std::make_unique<project::Project>();
  std::unique_ptr<engine::World> world;  // the last level's
  std::int32_t globals[engine::kGlobals] = {};
  PlayStatus status = PlayStatus::ok;
  ProgramConsent consent;

  std::int32_t level = 1;
  bool resuming = false;
  base::Text resume_path;     // the save game a resumed level reads
  base::Text level_path;
  base::Text complete_image;  // of the level being prepared
  platform::Video* cut_scene = nullptr;
  int cut_x = 0, cut_y = 0, cut_width = 0, cut_height = 0;

  std::uint32_t script_clock = 0;   // engine ticks of the game so far: the script's time
  std::uint32_t level_clock = 0;    // script_clock when the running level started
  std::int64_t loop_ticks = 0;      // loop ticks of the game so far (--ticks, --screenshot)
  std::vector<bool> shot_taken;
  bool stop_told[project::kMaxElements] = {};

  explicit Game(const PlayerSetup& s) : setup(s) {}
  ~Game() { platform::close_video(cut_scene); }

  void fail(PlayStatus why) {
    if (status == PlayStatus::ok) status = why;
  }
};

void say(Game& g, PlayStatus why, const char* format, ...) __attribute__((format(printf, 3, 4)));
void say(Game& g, PlayStatus why, const char* format, ...) {
  va_list args;
  va_start(args, format);
  base::report_v("zepta", format, args);
  va_end(args);
  g.fail(why);
}

// ---- Pictures --------------------------------------------------------------------------

void present_cleared(Game& g) {
  ui::Screen& screen = g.kit.screen;
  ui::clear_screen(screen);
  ui::present(screen);
}

// A picture file (read through the package view) scaled over the whole
// screen in its own colours; a missing or unreadable one clears the screen.
void show_picture(Game& g, std::string_view path) {
  ui::Screen& screen = g.kit.screen;
  media::Picture picture;
  if (path.empty() || !base::file_exists(path) || !media::load_picture(path, picture, kMaxImageSide) ||
      picture.width <= 0 || picture.height <= 0 || !screen.pixels) {
    if (!path.empty() && base::file_exists(path))
      base::report("player", "%.*s is no picture the player can show", static_cast<int>(path.size()), path.data());
    present_cleared(g);
    return;
  }
  for (int y = 0; y < screen.height; ++y) {
    const std::uint8_t* row = picture.pixels.data() + static_cast<std::size_t>(y * picture.height / screen.height) * picture.width;
    std::uint8_t* out = screen.pixels + static_cast<std::size_t>(y) * screen.width;
    for (int x = 0; x < screen.width; ++x) out[x] = row[x * picture.width / screen.width];
  }
  std::uint16_t colours[256];
  int r, gr, b;
  platform::colour_shifts(r, gr, b);
  media::make_colour_table(picture.palette, media::PixelFormat{r, gr, b}, colours);
  platform::present_screen(screen.pixels, screen.width, screen.height, screen.width, colours);
}

// One video frame (RGBA) in the cut-scene's rectangle, in the scheme's colours.
void show_frame(Game& g, const std::uint8_t* rgba, int width, int height) {
  ui::Screen& screen = g.kit.screen;
  if (!screen.pixels || width <= 0 || height <= 0 || g.cut_width <= 0 || g.cut_height <= 0) return;
  for (int y = 0; y < g.cut_height; ++y) {
    int sy = g.cut_y + y;
    if (sy < 0 || sy >= screen.height) continue;
    const std::uint8_t* row = rgba + static_cast<std::size_t>(y * height / g.cut_height) * width * 4;
    std::uint8_t* out = screen.pixels + static_cast<std::size_t>(sy) * screen.width;
    for (int x = 0; x < g.cut_width; ++x) {
      int sx = g.cut_x + x;
      if (sx < 0 || sx >= screen.width) continue;
      const std::uint8_t* p = row + static_cast<std::size_t>(x * width / g.cut_width) * 4;
      out[sx] = static_cast<std::uint8_t>(media::colour_index(p[0], p[1], p[2]));
    }
  }
  ui::present(screen);
}

// ---- Input waits -----------------------------------------------------------------------

// Until nothing is held, then until a key, mouse button or controller button
// is pressed. Headless runs have nobody to wait for: the wait ends at once.
void input_wait(Game& g) {
  if (g.setup.headless) return;
  platform::wait_any_input();
}

// Plays the cut-scene until an input arrives (its last frame stays up when it
// ends first). Headless: nothing to see, nothing to wait for.
void play_cut_scene(Game& g) {
  if (!g.cut_scene || g.setup.headless) return;
  platform::Video& video = *g.cut_scene;
  int width = 0, height = 0;
  platform::video_size(video, width, height);
  const std::uint8_t* frame = nullptr;
  double due = 0;
  bool more = platform::next_video_frame(video, frame, due);
  std::uint32_t started = platform::timer();
  bool released = false;
  for (;;) {
    platform::await_input();
    for (int n = 0; n < platform::kControllers; ++n) platform::poll_controller(n);
    bool down = platform::any_input_down(platform::input());
    if (!down) released = true;
    else if (released) break;
    if (platform::waiting_gives_up()) break;
    double now = static_cast<std::int32_t>(platform::timer() - started) / static_cast<double>(engine::kTimerRate);
    if (more && now >= due) {
      show_frame(g, frame, width, height);
      more = platform::next_video_frame(video, frame, due);
    }
    platform::sleep_ms(5);
  }
}

// ---- Files of the game -----------------------------------------------------------------

// Field n of line `line` (from 1) of the packaged list, as a file of the
// package (only its file name counts: the list names files beside the player).
base::Text list_image(const Game& g, std::int32_t line, int n) {
  base::TextFile file;
  if (!file.open_read(g.base + "multilev.ini")) return base::Text();
  base::Text text;
  for (std::int32_t k = 1; k <= line; ++k) {
    if (file.at_eof()) return base::Text();
    text = file.read_line();
  }
  base::Text field = base::field(text.view(), n, '|');
  std::string_view name = file_name_of(field.view());
  return name.empty() ? base::Text() : g.base + name;
}

// globvars.dat into the globals block: its first 8,192 bytes, or all zero.
void read_globals(Game& g) {
  std::memset(g.globals, 0, sizeof g.globals);
  base::Text path = g.write + "globvars.dat";
  long size = base::file_size(path);
  if (size < 0) return;
  if (size < static_cast<long>(sizeof g.globals)) {
    base::report("player", "%s holds %ld bytes, not %zu: the globals start cleared", path.c_str(), size,
                 sizeof g.globals);
    return;
  }
  if (base::read_file_at(path, 0, std::as_writable_bytes(std::span(g.globals))) != static_cast<long>(sizeof g.globals))
    std::memset(g.globals, 0, sizeof g.globals);
}

void write_globals(Game& g) {
  base::Text path = g.write + "globvars.dat";
  base::TextFile file;
  bool ok = file.open_write_atomic(path) && file.write_bytes(engine::globals(), sizeof g.globals);
  if (!file.close() || !ok) say(g, PlayStatus::not_written, "could not write %s", path.c_str());
}

// The level number a save game holds, once it is checked to be one.
bool saved_level(Game& g, const base::Text& path, std::int32_t& level) {
  if (!engine::is_save_game(path)) {
    say(g, PlayStatus::ok, "%s is no save game of 270,344 bytes with a listener element 0..255: not resumed",
        path.c_str());
    return false;
  }
  return base::read_file_at(path, 0, std::as_writable_bytes(std::span(&level, 1))) == 4;
}

// ---- Run hooks -------------------------------------------------------------------------

void brain_error(void* user, std::string_view text) {
  ui::message_panel(static_cast<Game*>(user)->kit, text, " OK ", "");
}

void brain_fault(void* user, const brain::BrainFault& f) {
  Game& g = *static_cast<Game*>(user);
  g.fail(PlayStatus::brain);
  if (f.element < 0 || f.element >= project::kMaxElements) return;
  bool stopped = f.running && !f.runtime_error;
  if (stopped && std::exchange(g.stop_told[f.element], true)) return;
  const std::string& name = g.world->names[f.element];
  std::fprintf(stderr, "%s: brain of '%s'%s: %.*s\n", g.level_path.c_str(), name.c_str(), stopped ? " stopped" : "",
               static_cast<int>(f.message.size()), f.message.data());
}

bool start_program(void* user, std::span<const std::string> words) {
  Game& g = *static_cast<Game*>(user);
  return consent_to(g.consent, words, g.setup.headless ? nullptr : &g.kit);
}

void present_screen(void* user) { ui::present(static_cast<Game*>(user)->kit.screen); }

void take_screenshots(void* user, engine::World& world, std::int64_t tick) {
  Game& g = *static_cast<Game*>(user);
  std::int64_t game_tick = g.loop_ticks + tick;
  for (std::size_t k = 0; k < g.setup.screenshots.size(); ++k) {
    const PlayerScreenshot& shot = g.setup.screenshots[k];
    if (g.shot_taken[k] || game_tick < shot.tick) continue;
    g.shot_taken[k] = true;
    if (!engine::save_screenshot(world, shot.file))
      say(g, PlayStatus::not_written, "could not write the screenshot %s", shot.file.c_str());
  }
}

// The brains are compiled: their private files go, and the load-complete step
// (or the resumed state, read by the run) comes before the first pass.
void prepared(void* user, engine::World& world) {
  Game& g = *static_cast<Game*>(user);
  const project::Project& p = *g.project;
  for (int i = 0; i <= p.lines.highest; ++i) {
    base::Text brain = project::line_field(p.lines.line[i], project::kFieldBrain);
    std::string_view path = brain.view();
    if (path.substr(0, g.write.view().size()) == g.write.view() && base::ends_with_no_case(path, ".bra")) base::delete_file(path);
  }
  // The script goes on from where the game stood, whatever the tick counter starts at.
  g.level_clock -= world.ticks;
  platform::set_script_tick_offset(g.level_clock);

  if (!g.resuming && !base::ends_with_no_case(file_name_of(g.complete_image.view()), kBlackImage)) {
    play_cut_scene(g);
    platform::close_video(std::exchange(g.cut_scene, nullptr));
    show_picture(g, g.complete_image.view());
    input_wait(g);
    present_cleared(g);
    if (!g.setup.headless) platform::flush_input();  // the key that ended the wait is not the level's
  }
  // A cut-scene under a "black_.bmp" load-complete image, or of a resumed game, ends here.
  platform::close_video(std::exchange(g.cut_scene, nullptr));
}

// ---- The level -------------------------------------------------------------------------

// The loading image or its cut-scene, shown while the level loads.
void show_loading(Game& g, const base::Text& loading) {
  present_cleared(g);
  platform::close_video(std::exchange(g.cut_scene, nullptr));
  if (loading.view().size() >= 4) {
    base::Text clip = base::drop_right(loading.view(), 4) + ".avi";
    if (base::file_kind(clip) == base::FileKind::regular) {
      std::string error;
      g.cut_scene = platform::open_video(clip, error);
      if (g.cut_scene) {
        ui::Screen& screen = g.kit.screen;
        cut_scene_size(clip.view(), screen.width, screen.height, g.cut_width, g.cut_height);
        g.cut_x = (screen.width - g.cut_width) / 2;
        g.cut_y = (screen.height - g.cut_height) / 2;
        return;
      }
      base::report("player", "cut-scene %s not played: %s", clip.c_str(), error.c_str());
    }
  }
  show_picture(g, loading.view());
}

// Plays the current level; false when it could not be loaded (the game ends).
bool play_level(Game& g) {
  read_globals(g);
  base::Text loading = g.resuming ? g.base + "resume_.bmp" : list_image(g, g.level, kLoadingImage);
  g.complete_image = list_image(g, g.level, kCompleteImage);
  show_loading(g, loading);

  // The header and the count line tell a damaged or foreign file.
  char head[4096];
  long got = base::read_file_at(g.level_path, 0, std::as_writable_bytes(std::span(head)));
  if (got <= 0 || !project::is_project_text(std::string_view(head, static_cast<std::size_t>(got)))) {
    say(g, PlayStatus::not_found, "%s is damaged: it holds no project", g.level_path.c_str());
    ui::message_panel(g.kit, std::string("Level ") + base::three_digits(g.level).c_str() + " is damaged, error!", " OK ", "");
    return false;
  }
  project::Project& p = *g.project;
  p.collision = project::budget_tables().collision;
  if (!project::load_project(p, *g.setup.host, g.level_path)) {
    say(g, PlayStatus::not_found, "could not read %s", g.level_path.c_str());
    return false;
  }

  g.world = std::make_unique<engine::World>();
  engine::World& w = *g.world;
  w.tables = project::budget_tables();
  w.save_slot = 0;

  engine::RunSetup run;
  run.project = &p;
  run.work_folder = g.base;
  run.data_folder = g.base;
  run.options = g.setup.options;
  run.options.screen = g.kit.screen.pixels;  // the panels' screen: the 2D screen of every level
  run.options.screen_width = g.kit.screen.width;
  run.options.screen_height = g.kit.screen.height;
  // The game's tick budget: what the levels before left of it.
  std::int32_t budget = g.setup.options.max_ticks;
  run.options.max_ticks = budget < 0 ? -1 : static_cast<std::int32_t>(std::max<std::int64_t>(0, budget - g.loop_ticks));
  run.exe_mode = 1;
  run.player = true;
  run.level = g.level;
  run.save_folder = g.write;
  run.globals = g.globals;
  if (g.resuming) run.resume_from = g.resume_path;

  engine::RunHooks hooks;
  hooks.user = &g;
  hooks.brain_error = brain_error;
  hooks.brain_fault = brain_fault;
  hooks.present_screen = present_screen;
  hooks.frame_drawn = take_screenshots;
  hooks.prepared = prepared;
  hooks.start_program = start_program;
  hooks.dialogs = &g.dialogs;
  std::fill(std::begin(g.stop_told), std::end(g.stop_told), false);

  g.level_clock = g.script_clock;
  platform::set_script_tick_offset(g.level_clock);
  engine::run_project(w, run, hooks);
  g.resuming = false;
  g.script_clock = g.level_clock + w.ticks;
  g.loop_ticks += w.loop_ticks;
  // Between levels the script keeps the game's time: panels take its next events.
  platform::set_script_tick_offset(g.script_clock);
  platform::set_engine_tick(0);

  if (w.save_failed) say(g, PlayStatus::not_written, "a save game could not be written in %s", g.write.c_str());
  write_globals(g);
  return true;
}

void setup_kit(Game& g) {
  g.skin_pixels.assign(ui::kSkinWidth * ui::kSkinHeight, 0);
  ui::Skin skin;
  ui::load_skin(g.base + "panels.pcx", g.skin_pixels, skin);
  ui::init_kit(g.kit, g.setup.screen, *g.setup.options.font, skin);
  ui::attach_dialogs(g.dialogs, g.kit);
}

bool budget_reached(const Game& g) {
  std::int32_t budget = g.setup.options.max_ticks;
  return budget >= 0 && g.loop_ticks >= budget;
}

}  // namespace

std::string game_folder_name(std::string_view title) {
  base::Text trimmed = base::trim(title);
  std::string name;
  for (char c : trimmed.view()) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    name += keep ? c : '_';
  }
  return name.empty() ? std::string("game") : name;
}

base::Text player_write_folder(std::string_view package_folder, std::string_view title, bool read_only,
                               std::string& error) {
  std::string package(package_folder);
  if (!read_only && is_writable_folder(package)) return base::Text(package);
  std::string data = base::user_folder("XDG_DATA_HOME", ".local/share");
  if (data.empty()) {
    error = "the package folder is read-only and neither XDG_DATA_HOME nor HOME names a folder to write in";
    return base::Text();
  }
  std::string folder = data + "/zepta/" + game_folder_name(title) + "/";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!is_writable_folder(folder)) {
    error = "cannot write in " + folder + (ec ? ": " + ec.message() : std::string());
    return base::Text();
  }
  base::Text out(folder);
  if (out.too_long()) {
    error = "the folder to write in has too long a name: " + folder;
    return base::Text();
  }
  return out;
}

void cut_scene_size(std::string_view path, int screen_width, int screen_height, int& width, int& height) {
  std::string_view name = file_name_of(path);
  width = height = 0;
  std::size_t first = name.find('_');
  if (first != std::string_view::npos) {
    // Without a second "_" the text runs to the end: "intro_320x240.avi" is 320 by 240.
    std::size_t second = name.find('_', first + 1);
    std::size_t count = second == std::string_view::npos ? std::string_view::npos : second - first - 1;
    base::Text size = base::lower(name.substr(first + 1, count));
    std::size_t x = size.view().find('x');
    if (x != std::string_view::npos) {
      width = base::value(size.view().substr(0, x));
      height = base::value(size.view().substr(x + 1));
    }
  }
  if (width < 1 || height < 1) width = screen_width, height = screen_height;
}

NextStep next_step(std::int32_t code) {
  if (code == -4) return NextStep::resume;
  if (code == -1 || code == -2 || code == -3 || code == INT_MIN) return NextStep::stop;
  return NextStep::level;
}

PlayStatus play_game(const PlayerSetup& setup) {
  auto game = std::make_unique<Game>(setup);
  Game& g = *game;
  g.base = setup.package_folder;
  g.shot_taken.assign(setup.screenshots.size(), false);
  std::string error;
  g.write = player_write_folder(g.base.view(), setup.title, setup.read_only, error);
  if (g.write.empty()) {
    say(g, PlayStatus::not_written, "%s; globals and save games are not kept", error.c_str());
    g.write = g.base;
  }
  project::Host& host = *setup.host;
  host.player = true;
  host.work_folder = g.base;
  host.data_folder = g.base;
  host.brain_folder = g.write;
  host.scramble_in_place = nullptr;
  base::set_package_view(g.base.view(), base::file_exists(g.base + "noencrypt.txt"));
  platform::set_game_font_folder((g.base + "fonts/").view());  // the faces the game's brains name
  setup_kit(g);
  g.consent.path = consent_file(g.base.view(), setup.title);
  read_consent(g.consent);
  platform::set_script_tick_offset(0);
  platform::set_engine_tick(0);

  std::int32_t code = -1;
  bool missing = false;
  for (;;) {
    if (g.level < 1 || g.level > kMaxLevel) {
      missing = true;
      break;
    }
    g.level_path = g.base + "level" + base::three_digits(g.level).view() + ".prj";
    if (base::file_kind(g.level_path) != base::FileKind::regular) {
      missing = true;
      break;
    }
    if (!play_level(g)) break;
    code = g.world->exit_request;
    if (code == -1 && budget_reached(g)) break;  // as Escape
    NextStep step = next_step(code);
    if (step == NextStep::stop) break;
    if (step == NextStep::resume) {
      base::Text path = engine::save_game_path(*g.world, g.world->save_slot);
      std::int32_t level = 0;
      if (!saved_level(g, path, level)) break;
      if (level < 1 || level > kMaxLevel) {
        say(g, PlayStatus::not_found, "%s names level %d: no such level", path.c_str(), level);
        ui::message_panel(g.kit, "The saved game names level " + std::to_string(level) + ", which does not exist!",
                          " OK ", "");
        break;
      }
      g.level = level;
      g.resuming = true;
      g.resume_path = path;
    } else {
      g.level = code;
    }
    if (budget_reached(g)) {  // the budget ran out with the level's last tick
      code = -1;
      break;
    }
  }
  if (missing && g.level > 0) {
    say(g, PlayStatus::not_found, "level %s.prj not found in %s", base::three_digits(g.level).c_str(), g.base.c_str());
    ui::message_panel(g.kit, std::string("Sub-project ") + base::three_digits(g.level).c_str() + " not found, error!", " OK ",
                      "");
  }

  if (!setup.dump.empty()) {
    if (!g.world) say(g, PlayStatus::not_written, "no dump %s: no level was played", setup.dump.c_str());
    else if (!engine::write_dump(*g.world, setup.dump))
      say(g, PlayStatus::not_written, "could not write the dump %s", setup.dump.c_str());
  }
  for (std::size_t k = 0; k < setup.screenshots.size(); ++k)
    if (!g.shot_taken[k])
      say(g, PlayStatus::not_written, "no screenshot %s: the game ended before tick %d was drawn",
          setup.screenshots[k].file.c_str(), setup.screenshots[k].tick);

  if (code != -3) {
    show_picture(g, (g.base + "end_.bmp").view());
    input_wait(g);
    present_cleared(g);
  }
  platform::clear_engine_tick();
  platform::set_script_tick_offset(0);
  base::set_package_view("", false);
  platform::set_game_font_folder("");
  return g.status;
}

}  // namespace package
