// The project run loop: what is prepared before the first tick, the ticks at
// the fixed rate until `exit` or Escape, what is put back afterwards, and the
// test-run wrapper that reports the result to the editor front end.
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/render/render.h"
#include "platform/platform.h"
#include "base/log.h"
#include "base/memory.h"
#include "shell/shell_local.h"

namespace shell {

namespace {

constexpr std::size_t kLowStringMemory = 80000;  // bytes of temporary strings that still feel safe
constexpr int kPreparationPasses = 4;            // brain passes before the first drawn frame

// One run: the session, its panel kit and the engine's world.
struct RunLoop {
  Session& s;
  ui::Kit kit;
  std::vector<std::uint8_t> skin_pixels;
  engine::World world;
  std::vector<std::uint8_t> collision_backup;
  std::unique_ptr<project::AspectLoad> load = std::make_unique<project::AspectLoad>();
  std::unique_ptr<brain::Program> program = std::make_unique<brain::Program>();
  project::SharedVariable shared[project::kMaxSharedVariables];  // for network sessions
  int shared_count = 0;
  bool first_frame = false;  // read by the renderer while the first frame is drawn
  scene::Renderer* own_renderer = nullptr;  // without an OpenGL window: scene logic only
  bool shot_taken[kMaxScreenshots] = {};
  explicit RunLoop(Session& session) : s(session) {}
  ~RunLoop() { scene::destroy(own_renderer); }
};

void show_information(RunLoop& r, std::string_view text) { ui::message_panel(r.kit, text, "", ""); }

void information(void* context, std::string_view text) { show_information(*static_cast<RunLoop*>(context), text); }

void brain_error(void* context, std::string_view text) {
  ui::message_panel(static_cast<RunLoop*>(context)->kit, text, " OK ", "");
}

std::int32_t record_random(std::int32_t lo, std::int32_t hi, void* context) {
  return media::random_in(static_cast<RunLoop*>(context)->world.random, lo, hi, platform::input().sample_count);
}

void setup_kit(RunLoop& r) {
  r.skin_pixels.assign(ui::kSkinWidth * ui::kSkinHeight, 0);
  ui::Skin skin;
  ui::load_skin(r.s.folders.data + "panels.pcx", r.skin_pixels, skin);
  ui::init_kit(r.kit, r.s.screen, r.s.font, skin);
}

// The render step: the scene with the 2D screen on top, or the 2D screen alone
// where the window has no OpenGL.
void render_step(RunLoop& r) {
  engine::World& w = r.world;
  ui::Screen& screen = r.s.screen;
  if (w.debug_flag) {
    ui::fill_rect(screen, 0, 470, 639, 479, 1);
    Text line = "Debug value: ";
    line += text_of(w.debug_value);
    line += " (HEX: 0x";
    line += hex_text_of(static_cast<std::uint32_t>(w.debug_value));
    line += ")";
    ui::draw_text(screen, r.s.font, line, 0, 470, 255);
  }
  if (w.scene && platform::scene_renderer()) engine::render_step(w);
  else {
    engine::sync_scene(w);
    ui::present(screen);
  }
}

// Saves the screenshots due at loop tick `tick` (each once, at the first drawn frame at or after its tick).
void take_screenshots(RunLoop& r, std::int64_t tick) {
  const Options& o = r.s.options;
  for (int k = 0; k < o.screenshot_count; ++k) {
    if (r.shot_taken[k] || tick < o.screenshots[k].tick) continue;
    r.shot_taken[k] = true;
    engine::save_screenshot(r.world, o.screenshots[k].file);
  }
}

// Scene start: on the window's renderer, or on one without OpenGL.
void start_scene(RunLoop& r) {
  Session& s = r.s;
  engine::SceneSetup setup;
  setup.renderer = platform::scene_renderer();
  if (!setup.renderer) {
    if (!r.own_renderer) r.own_renderer = scene::create_without_gl();
    setup.renderer = r.own_renderer;
  }
  setup.work_folder = s.folders.work;
  setup.data_folder = s.folders.data;
  setup.display_mode = s.config.display_mode;
  setup.filtering = s.config.filtering;
  setup.settings = s.project->settings;
  setup.background_image = s.project->background;
  setup.screen = s.screen.pixels;
  setup.screen_width = s.screen.width;
  setup.screen_height = s.screen.height;
  engine::scene_start(r.world, *r.load, setup);
}

// Busy wait until the timer passes deadline.
// Sleeps while more than 2 ms remain (so a waiting run leaves the processor
// to others), then spins the rest for an exact deadline.
void wait_for(std::uint32_t deadline) {
  constexpr std::uint32_t kSpin = 2 * engine::kTimerRate / 1000;  // 2 ms in timer units
  for (;;) {
    std::uint32_t now = platform::timer();
    if (platform::time_reached(now, deadline + 1)) return;
    if (platform::time_reached(now + kSpin, deadline + 1)) std::this_thread::yield();
    else platform::sleep_ms(1);
  }
}

// Aspects, records, shared variables and brains (preparation step 6).
void prepare_elements(RunLoop& r) {
  Session& s = r.s;
  project::Project& p = *s.project;
  engine::World& w = r.world;
  project::Tables& tables = w.tables;

  show_information(r, "Loading data, please wait...");
  w.information = {information, &r};
  project::AspectLoaders loaders = project::default_aspect_loaders();
  engine::register_scene_loaders(loaders);
  project::load_aspects(loaders, tables, *r.load, p.lines, s.folders.work, false);

  show_information(r, "Initializing objects, please wait...");
  project::BuildSettings build;
  build.display_mode = s.config.display_mode;
  build.project_running = w.project_running;
  build.random = record_random;
  build.random_user = &r;
  build.read_operand = brain::read_operand;
  project::build_records(build, tables, *r.load, p.lines);
  r.shared_count = project::parse_shared_variables(p.shared_variables, r.shared);

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
  options.base_folder = s.folders.work;
  options.errors = {brain_error, &r};
  options.literals = &literals;
  brain::compile_project(sources, options, *r.program);
  w.literal_end = w.literal_start + r.program->literal_bytes;
  w.program = r.program.get();
  w.errors = options.errors;
  w.ticks = 0;  // every compile clears the engine tick counter
  start_scene(r);
  show_information(r, "");
}

// Preparation, ticks, restoring: the whole run of the loaded project.
void run_project(RunLoop& r) {
  Session& s = r.s;
  project::Project& p = *s.project;
  engine::World& w = r.world;
  engine::begin_run(w);
  // Scripted events are timed by the engine tick from here on, also while the
  // run prepares, so none is taken early by the flush below.
  platform::set_engine_tick(0);

  // 1, 2: input flushed; fog and clipping saved, the running flag raised.
  platform::flush_input();
  platform::wait_mouse_release();
  const engine::RenderSettings saved{p.fog_start, p.fog_end, p.fog_colour,
                                     project::editor_value(*s.state, 15) != 0};
  w.render = saved;
  w.render.clip_to_display_area = true;
  w.running = true;

  // 3, 4: globals cleared, then the test run's globals file read.
  std::memset(engine::globals(), 0, engine::kGlobals * 4);
  Text globals_file = s.folders.work + "temp/globvars.dat";
  if (file_exists(globals_file)) engine::globals_load(w, globals_file, w.globals_first, w.globals_last);

  // 5, 6; the track recorder starts empty.
  w.track_written = 0;
  w.base_folder = s.folders.work;
  w.exit_request = -1;
  w.project_running = true;
  w.command_values = std::span<const std::int32_t>(s.options.values.value, s.options.values.count);
  prepare_elements(r);
  engine::collision_setup(w);  // the preparation passes already see the set-up radii

  // 7: screen cleared, element sounds started (with the sound system), matrix backup, small font.
  ui::clear_screen(s.screen);
  if (w.tables.collision) r.collision_backup.assign(w.tables.collision, w.tables.collision + project::kCollisionBytes);
  media::load_font(s.folders.data + "font8.fnt", s.font, true);

  // 8.
  if (s.temps && s.temps->capacity() > 0) {
    std::size_t slot = area(Area::temp_strings).size() / static_cast<std::size_t>(s.temps->capacity());
    std::size_t left = slot * static_cast<std::size_t>(s.temps->capacity() - s.temps->in_use());
    if (left < kLowStringMemory)
      platform::warning_box(static_cast<double>(left), "Warning! Internal string memory low.", "", false);
  }

  // 9 to 12.
  for (int i = 0; i < kPreparationPasses; ++i) engine::brain_pass(w);
  r.first_frame = true;
  render_step(r);
  r.first_frame = false;
  for (int i = 0; i <= w.highest; ++i) {
    project::ElementRecord& e = w.tables.elements[i];
    if ((e.flags & project::kFlagOn) && engine::has_tag(e, ".f3d")) e.display_area[0] = 2;
  }
  engine::start_clock(w.clock, platform::timer());

  // 13: the ticks.
  std::int64_t loop_ticks = 0;
  for (;;) {
    engine::tick(w);
    ++loop_ticks;
    if (w.exit_request != -1 || platform::event_scan_code(w.key_event) == platform::kScanEscape) break;
    if (s.options.max_ticks >= 0 && loop_ticks >= s.options.max_ticks) break;  // as Escape
    if (s.options.fast) {
      render_step(r);
      take_screenshots(r, loop_ticks);
      continue;
    }
    std::uint32_t deadline = w.clock.deadline;
    if (!engine::tick_on_time(w.clock, platform::timer())) continue;  // late: not drawn
    wait_for(deadline);
    render_step(r);
    take_screenshots(r, loop_ticks);
  }
  platform::clear_engine_tick();

  // 14, 15: font and matrix, clipping and fog put back, flags lowered.
  media::load_font(s.folders.data + "font.fnt", s.font, false);
  if (w.tables.collision && r.collision_backup.size() == project::kCollisionBytes)
    std::memcpy(w.tables.collision, r.collision_backup.data(), project::kCollisionBytes);
  w.render = saved;
  p.fog_end = saved.fog_end;
  p.fog_start = saved.fog_start;
  p.fog_colour = saved.fog_colour;
  w.project_running = false;
  w.running = false;

  // 16: the run's scene objects are released, the video window closed.
  engine::scene_end(w);
  platform::wait_mouse_release();
  engine::close_video_window(w);
  platform::flush_input();
  engine::end_run(w);
}

// The exit request as the test run reports it; empty for none.
Text exit_message(std::int32_t request) {
  if (request == -1 || request == INT32_MIN) return Text();
  if (request == -2) return Text("When compiled, exit to end screen");
  if (request == -3) return Text("When compiled, exit directly to Windows");
  Text text = "When compiled, exit to sub-project ";
  text += text_of(request);
  return text;
}

// What the track recorder recorded: reported, and kept as data/currtrck.i3d.
void report_track(RunLoop& r) {
  std::span<const std::byte> recording = engine::track_recording(r.world);
  if (recording.empty()) return;
  Text message = "A ";
  message += text_of(static_cast<std::int32_t>(recording.size() / engine::kTrackBytesPerSecond));
  message += " seconds track was successfully recorded!|Use the 'Save Recorded Track As' tool to|save it as a "
             "new track-type element's aspect";
  ui::message_panel(r.kit, message, " OK ", "");
  Text path = r.s.folders.work + "data/currtrck.i3d";
  TextFile file;
  bool ok = file.open_write_atomic(path) && file.write_bytes(recording.data(), recording.size());
  if (!file.close() || !ok) report("shell", "could not write %s", path.c_str());
}

}  // namespace

bool test_run(Session& s, int) {
  Text wasok = s.folders.work + "temp/wasok.dat";
  delete_file(wasok);

  auto r = std::make_unique<RunLoop>(s);
  setup_kit(*r);
  std::int32_t line1 = project::editor_value(*s.state, 1);
  project::set_editor_value(*s.state, 1, 0);
  run_project(*r);
  if (!s.options.dump.empty() && !engine::write_dump(r->world, s.options.dump))
    report("shell", "could not write the dump %s", s.options.dump.c_str());
  Text message = exit_message(r->world.exit_request);
  if (!message.empty()) ui::message_panel(r->kit, message, " OK ", "");
  project::set_editor_value(*s.state, 1, line1);
  report_track(*r);

  TextFile file;
  if (!file.open_write_atomic(wasok) || !file.print_line("wasok") || !file.close())
    report("shell", "could not write %s", wasok.c_str());
  return false;
}

}  // namespace shell
