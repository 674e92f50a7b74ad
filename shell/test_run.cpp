// The test run of run mode 1: the engine runs the loaded project with the
// message panel, the 2D screen and the screenshots of --screenshot as its
// hooks; then the exit request and the recorded track are reported to the
// editor front end, with --dump's dump and temp/wasok.dat.
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/files.h"
#include "base/log.h"
#include "engine/engine.h"
#include "engine/render/render.h"
#include "platform/platform.h"
#include "shell/shell_local.h"
#include "ui/dialogs.h"

namespace shell {

namespace {

// One test run: the session, its panel kit and the engine's world.
struct TestRun {
  Session& s;
  ui::Kit kit;
  std::vector<std::uint8_t> skin_pixels;
  engine::World world;
  bool shot_taken[kMaxScreenshots] = {};
  bool stop_told[project::kMaxElements] = {};  // a brain stopped while running is told once
  explicit TestRun(Session& session) : s(session) {}
};

void setup_kit(TestRun& r) {
  r.skin_pixels.assign(ui::kSkinWidth * ui::kSkinHeight, 0);
  ui::Skin skin;
  ui::load_skin(r.s.folders.data + "panels.pcx", r.skin_pixels, skin);
  ui::init_kit(r.kit, r.s.screen, r.s.font, skin);
}

void show_information(void* user, std::string_view text) {
  ui::message_panel(static_cast<TestRun*>(user)->kit, text, "", "");
}

void brain_error(void* user, std::string_view text) {
  ui::message_panel(static_cast<TestRun*>(user)->kit, text, " OK ", "");
}

// A failed brain on stderr as FILE:LINE: with the line of the file it came
// from (the project file for an embedded brain; the file alone when the line
// is not known); the run goes on, or a runtime error ended it, and exits 1.
void brain_fault(void* user, const brain::BrainFault& f) {
  TestRun& r = *static_cast<TestRun*>(user);
  r.s.fail(Exit::brain);
  if (f.element < 0 || f.element >= project::kMaxElements) return;
  bool stopped = f.running && !f.runtime_error;
  if (stopped && std::exchange(r.stop_told[f.element], true)) return;
  const project::BrainOrigin& origin = r.s.project->brain_origin[f.element];
  std::string_view file = origin.file.empty() ? r.s.project_path.view() : std::string_view(origin.file);
  if (file == r.s.project_path.view() && !r.s.project_given.empty()) file = r.s.project_given.view();
  std::string place(file);
  // A brain that failed as a whole (not found, an "if" left open) is told at the line before its first.
  if (origin.line_before + f.line > 0) place += ":" + std::to_string(origin.line_before + f.line);
  const std::string& name = r.world.names[f.element];
  std::fprintf(stderr, "%s: brain of '%s'%s: %.*s\n", place.c_str(), name.c_str(), stopped ? " stopped" : "",
               static_cast<int>(f.message.size()), f.message.data());
}

void debug_line(void* user, std::string_view text) {
  TestRun& r = *static_cast<TestRun*>(user);
  ui::fill_rect(r.s.screen, 0, 470, 639, 479, 1);
  ui::draw_text(r.s.screen, r.s.font, text, 0, 470, 255);
}

// Headless, each `debug` call on stderr: "debug: NAME at tick T: V (0xHEX)".
void debug_call(void* user, const engine::World& world, int element, std::int32_t value) {
  TestRun& r = *static_cast<TestRun*>(user);
  if (!r.s.options.headless) return;
  std::string_view name = element >= 0 && element < project::kMaxElements ? world.names[element] : "-";
  std::fprintf(stderr, "debug: %.*s at tick %u: %d (0x%08X)\n", static_cast<int>(name.size()), name.data(), world.ticks,
               value, static_cast<std::uint32_t>(value));
}

void present_screen(void* user) { ui::present(static_cast<TestRun*>(user)->s.screen); }

// Saves the screenshots due at loop tick `tick` (each once, at the first drawn frame at or after its tick).
void take_screenshots(void* user, engine::World& world, std::int64_t tick) {
  TestRun& r = *static_cast<TestRun*>(user);
  const Options& o = r.s.options;
  for (int k = 0; k < o.screenshot_count; ++k) {
    if (r.shot_taken[k] || tick < o.screenshots[k].tick) continue;
    r.shot_taken[k] = true;
    if (!engine::save_screenshot(world, o.screenshots[k].file))
      say(r.s, Exit::not_written, "could not write the screenshot %s", o.screenshots[k].file.c_str());
  }
}

// Screenshots whose tick the run did not reach.
void report_missed_screenshots(TestRun& r) {
  const Options& o = r.s.options;
  for (int k = 0; k < o.screenshot_count; ++k)
    if (!r.shot_taken[k])
      say(r.s, Exit::not_written, "no screenshot %s: the run ended before tick %d was drawn",
          o.screenshots[k].file.c_str(), o.screenshots[k].tick);
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
void report_track(TestRun& r) {
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
  if (!file.close() || !ok) say(r.s, Exit::not_written, "could not write %s", path.c_str());
}

}  // namespace

bool test_run(Session& s, int) {
  Text wasok = s.folders.work + "temp/wasok.dat";
  delete_file(wasok);

  auto r = std::make_unique<TestRun>(s);
  setup_kit(*r);
  std::int32_t line1 = project::editor_value(*s.state, 1);
  project::set_editor_value(*s.state, 1, 0);

  engine::RunSetup setup;
  setup.project = s.project.get();
  setup.work_folder = s.folders.work;
  setup.data_folder = s.folders.data;
  setup.options = s.run_options;
  setup.editor_clipping = project::editor_value(*s.state, 15) != 0;
  setup.exe_mode = project::editor_value(*s.state, 14) == 1 ? 2 : 0;  // bit 1: the editor's exe-mode switch
  engine::RunHooks hooks;
  hooks.user = r.get();
  hooks.information = show_information;
  hooks.brain_error = brain_error;
  hooks.brain_fault = brain_fault;
  hooks.debug_line = debug_line;
  hooks.debug_call = debug_call;
  hooks.present_screen = present_screen;
  hooks.frame_drawn = take_screenshots;
  platform::show_cursor(true);  // over the running project; the panels draw their own
  engine::Dialogs dialogs;
  ui::attach_dialogs(dialogs, r->kit);
  hooks.dialogs = &dialogs;
  engine::run_project(r->world, setup, hooks);
  platform::show_cursor(false);

  if (!s.options.dump.empty() && !engine::write_dump(r->world, s.options.dump))
    say(s, Exit::not_written, "could not write the dump %s", s.options.dump.c_str());
  report_missed_screenshots(*r);
  Text message = exit_message(r->world.exit_request);
  if (!message.empty()) ui::message_panel(r->kit, message, " OK ", "");
  project::set_editor_value(*s.state, 1, line1);
  report_track(*r);

  TextFile file;
  if (!file.open_write_atomic(wasok) || !file.print_line("wasok") || !file.close())
    say(s, Exit::not_written, "could not write %s", wasok.c_str());
  return false;
}

}  // namespace shell
