// The project run: what is prepared before the first tick, the ticks at the
// fixed rate until `exit` or Escape (also one a panel or box took), and what
// is put back afterwards. Panels, the 2D screen's presentation and screenshots
// are the caller's hooks.
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/files.h"
#include "base/memory.h"
#include "engine/engine_local.h"
#include "engine/network.h"
#include "engine/render/render.h"
#include "platform/platform.h"
#include "platform/sound.h"

namespace engine {

namespace {

constexpr std::size_t kLowStringMemory = 80000;  // bytes of temporary strings that still feel safe
constexpr int kPreparationPasses = 4;            // brain passes before the first drawn frame

// What one run keeps besides the world.
struct Run {
  World& world;
  const RunSetup& setup;
  const RunHooks& hooks;
  std::vector<std::uint8_t> collision_backup;
  std::unique_ptr<project::AspectLoad> load = std::make_unique<project::AspectLoad>();
  std::unique_ptr<brain::Program> program = std::make_unique<brain::Program>();
  scene::Renderer* own_renderer = nullptr;  // without an OpenGL window: scene logic only
  Run(World& w, const RunSetup& s, const RunHooks& h) : world(w), setup(s), hooks(h) {}
  ~Run() { scene::destroy(own_renderer); }
};

void show_information(Run& r, std::string_view text) {
  if (r.hooks.information) r.hooks.information(r.hooks.user, text);
}

// The world's information sink (ground maps report their building) to the hook.
void information(void* context, std::string_view text) { show_information(*static_cast<Run*>(context), text); }

std::int32_t record_random(std::int32_t lo, std::int32_t hi, void* context) {
  World* w = static_cast<World*>(context);
  return media::random_in(w->random, lo, hi, w->input ? w->input->sample_count : 0);
}

// One drawn frame: the scene with the 2D screen on top, or the 2D screen alone
// where the window has no OpenGL.
void draw_frame(Run& r) {
  World& w = r.world;
  const RunHooks& h = r.hooks;
  if (w.debug_flag && h.debug_line) {
    base::Text line = "Debug value: ";
    line += base::text_of(w.debug_value);
    line += " (HEX: 0x";
    line += base::hex_text_of(static_cast<std::uint32_t>(w.debug_value));
    line += ")";
    h.debug_line(h.user, line);
  }
  if (w.scene && platform::scene_renderer()) engine::render_step(w);
  else {
    sync_scene(w);
    if (h.present_screen) h.present_screen(h.user);
    platform::commit_sound();
  }
}

// Scene start: on the window's renderer, or on one without OpenGL.
void start_scene(Run& r) {
  const RunSetup& s = r.setup;
  SceneSetup scene;
  scene.renderer = platform::scene_renderer();
  if (!scene.renderer) {
    if (!r.own_renderer) r.own_renderer = scene::create_without_gl();
    scene.renderer = r.own_renderer;
  }
  scene.work_folder = s.work_folder;
  scene.data_folder = s.data_folder;
  scene.options = s.options;
  scene.settings = s.project->settings;
  scene.background_image = s.project->background;
  scene_start(r.world, *r.load, scene);
}

// Waits until the timer passes deadline: sleeps while more than 2 ms remain
// (so a waiting run leaves the processor to others), then spins the rest for
// an exact deadline.
void wait_for(std::uint32_t deadline) {
  constexpr std::uint32_t kSpin = 2 * kTimerRate / 1000;  // 2 ms in timer units
  for (;;) {
    std::uint32_t now = platform::timer();
    if (platform::time_reached(now, deadline + 1)) return;
    if (platform::time_reached(now + kSpin, deadline + 1)) std::this_thread::yield();
    else platform::sleep_ms(1);
  }
}

// Aspects, records, shared variables and brains (preparation step 6).
void prepare_elements(Run& r) {
  const RunSetup& s = r.setup;
  project::Project& p = *s.project;
  World& w = r.world;
  project::Tables& tables = w.tables;

  show_information(r, "Loading data, please wait...");
  w.information = {information, &r};
  project::AspectLoaders loaders = project::default_aspect_loaders();
  register_scene_loaders(loaders);
  project::load_aspects(loaders, tables, *r.load, p.lines, s.work_folder, false);

  show_information(r, "Initializing objects, please wait...");
  project::BuildSettings build;
  build.display_mode = s.options.display_mode;
  build.project_running = w.project_running;
  build.random = record_random;
  build.random_user = &w;
  build.read_operand = brain::read_operand;
  project::build_records(build, tables, *r.load, p.lines);
  w.shared_count = project::parse_shared_variables(p.shared_variables, w.shared);

  show_information(r, "Compiling brains, please wait...");
  int count = p.lines.highest + 1;
  w.highest = p.lines.highest;
  std::vector<std::string> names(count), paths(count);
  std::vector<brain::BrainSource> sources(count);
  for (int i = 0; i < count; ++i) {
    names[i] = std::string(project::line_field(p.lines.line[i], project::kFieldName));
    paths[i] = std::string(project::line_field(p.lines.line[i], project::kFieldBrain));
    w.names[i] = names[i];
    sources[i] = {names[i], paths[i]};
  }
  // String literals follow the aspect data in the data arena.
  std::size_t used = (r.load->arena_used + 3) & ~std::size_t{3};
  std::span<std::byte> literals = used < tables.arena.size() ? tables.arena.subspan(used) : std::span<std::byte>{};
  w.literal_start = base::address32(literals.data());
  brain::CompileOptions options;
  options.base_folder = s.work_folder;
  options.errors = {r.hooks.brain_error, r.hooks.user, r.hooks.brain_fault};
  options.errors.warn = [](void*, std::int32_t value, std::string_view text) {
    platform::warning_box(value, text, "", false);
  };
  options.literals = &literals;
  brain::compile_project(sources, options, *r.program);
  w.literal_end = w.literal_start + r.program->literal_bytes;
  w.program = r.program.get();
  w.errors = options.errors;
  w.debug_told = r.hooks.debug_call;
  w.debug_user = r.hooks.user;
  w.ticks = 0;  // every compile clears the engine tick counter
  start_scene(r);
  show_information(r, "");
}

}  // namespace

void run_project(World& w, const RunSetup& s, const RunHooks& hooks) {
  auto r = std::make_unique<Run>(w, s, hooks);
  project::Project& p = *s.project;
  begin_run(w);
  w.dialogs = hooks.dialogs;
  w.start_program = s.options.allow_programs ? nullptr : hooks.start_program;
  w.start_program_user = hooks.user;
  w.runtime_error_shown = false;
  w.save_failed = false;
  // Scripted events are timed by the engine tick from here on, also while the
  // run prepares, so none is taken early by the flush below.
  platform::set_engine_tick(0);

  // 1, 2: input flushed; fog and clipping saved, the running flag raised.
  platform::flush_input();
  platform::wait_mouse_release();
  w.escapes_gone = w.input->ring.escapes_gone;  // from here on an Escape ends the run
  const RenderSettings saved{p.fog_start, p.fog_end, p.fog_colour, s.editor_clipping};
  w.render = saved;
  w.render.clip_to_display_area = true;
  w.running = true;

  // 3, 4: globals cleared, then the test run's globals file read (the player gives its own).
  std::memset(globals(), 0, kGlobals * 4);
  base::Text globals_file = s.work_folder + "temp/globvars.dat";
  if (s.globals) std::memcpy(globals(), s.globals, kGlobals * 4);
  else if (base::file_exists(globals_file)) globals_load(w, globals_file, w.globals_first, w.globals_last);

  // 5, 6; the track recorder starts empty.
  w.track_written = 0;
  w.base_folder = s.work_folder;
  w.save_folder = s.save_folder;
  w.player = s.player;
  w.level = s.level;
  w.exit_request = -1;
  w.project_running = true;
  w.exe_mode = s.exe_mode;
  w.command_values = s.options.command_values;
  prepare_elements(*r);
  collision_setup(w);  // the preparation passes already see the set-up radii
  if (!s.resume_from.empty() && read_save_game(w, s.resume_from)) w.ticks = kResumedTicks;
  network_project_started(w);
  if (hooks.prepared) hooks.prepared(hooks.user, w);

  // 7: screen cleared, element sounds started (with the sound system), matrix backup, small font.
  const RunOptions& o = s.options;
  if (o.screen) std::memset(o.screen, 0, static_cast<std::size_t>(o.screen_width) * o.screen_height);
  start_element_sounds(w, p.lines, s.work_folder);
  if (w.tables.collision) r->collision_backup.assign(w.tables.collision, w.tables.collision + project::kCollisionBytes);
  if (o.font) media::load_font(s.data_folder + "font8.fnt", *o.font, true);

  // 8.
  if (o.temps && o.temps->capacity() > 0) {
    std::size_t slot = base::area(base::Area::temp_strings).size() / static_cast<std::size_t>(o.temps->capacity());
    std::size_t left = slot * static_cast<std::size_t>(o.temps->capacity() - o.temps->in_use());
    if (left < kLowStringMemory)
      platform::warning_box(static_cast<double>(left), "Warning! Internal string memory low.", "", false);
  }

  // 9 to 12.
  for (int i = 0; i < kPreparationPasses; ++i) brain_pass(w);
  draw_frame(*r);
  for (int i = 0; i <= w.highest; ++i) {
    project::ElementRecord& e = w.tables.elements[i];
    if ((e.flags & project::kFlagOn) && has_tag(e, ".f3d")) e.display_area[0] = 2;
  }
  start_clock(w.clock, platform::timer());

  // 13: the ticks.
  std::int64_t& loop_ticks = w.loop_ticks;
  loop_ticks = 0;
  for (;;) {
    tick(w);
    ++loop_ticks;
    if (w.exit_request != -1 || platform::event_scan_code(w.key_event) == platform::kScanEscape || escape_taken(w))
      break;
    if (o.max_ticks >= 0 && loop_ticks >= o.max_ticks) break;  // as Escape
    if (!o.fast) {
      std::uint32_t deadline = w.clock.deadline;
      if (!tick_on_time(w.clock, platform::timer())) continue;  // late: not drawn
      wait_for(deadline);
    }
    draw_frame(*r);
    if (hooks.frame_drawn) hooks.frame_drawn(hooks.user, w, loop_ticks);
  }
  platform::clear_engine_tick();

  // 14, 15: font and matrix, clipping and fog put back, flags lowered.
  if (o.font) media::load_font(s.data_folder + "font.fnt", *o.font, false);
  if (w.tables.collision && r->collision_backup.size() == project::kCollisionBytes)
    std::memcpy(w.tables.collision, r->collision_backup.data(), project::kCollisionBytes);
  w.render = saved;
  p.fog_end = saved.fog_end;
  p.fog_start = saved.fog_start;
  p.fog_colour = saved.fog_colour;
  w.project_running = false;
  w.running = false;

  // 16: the run's sounds and scene objects are released, the video window closed.
  sound_end(w);
  scene_end(w);
  platform::wait_mouse_release();
  close_video_window(w);
  platform::flush_input();
  end_run(w);
  // The program goes with the run; the world keeps the records for the caller.
  w.program = nullptr;
  w.errors = {};
  w.information = {};  // the run's sink goes with it
  w.dialogs = nullptr;
  w.start_program = nullptr;
}

}  // namespace engine
