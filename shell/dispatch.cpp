// The run-mode dispatcher: the task for the mode of runmode.ini, what is loaded
// before it and what is saved after it.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <span>

#include "package/package.h"
#include "platform/platform.h"
#include "base/files.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/paths.h"
#include "package/package.h"
#include "shell/shell_local.h"
#include "tools/tools.h"

namespace shell {

namespace {

enum class Afterwards {
  nothing,
  state_and_project,  // state files written, project saved
  state_files,        // state files written; no project
};

// Which element index a tool may work on.
enum class Element {
  any,      // the tool does not use one
  lowered,  // lowered to the highest index (raised to 0) before the tool runs
  exact,    // must name an existing element, or the task is refused
};

using Tool = bool (*)(ui::Task& task, int element);    // false: nothing to save
using ShellTask = bool (*)(Session& s, int element);   // a task the shell runs itself

struct RunMode {
  int mode;
  const char* task;
  bool load_project;
  Element element;
  Tool tool;              // null: no tool in this build yet
  ShellTask shell_task;   // in place of a tool
  Afterwards afterwards;
  bool silent;            // a mode without a task of its own: nothing to report
};

bool play_packaged(Session& s, int element);

// Modes whose tool comes from a later part of the engine have a null tool: they
// load what the mode loads and save nothing.
constexpr RunMode kRunModes[] = {
    {0, "packaged player", false, Element::any, nullptr, play_packaged, Afterwards::nothing, false},
    {1, "test run", true, Element::any, nullptr, test_run, Afterwards::nothing, false},
    {2, "collision-map editor", true, Element::any, tools::collision_map, nullptr, Afterwards::state_and_project, false},
    {3, "virtual editor", true, Element::lowered, nullptr, nullptr, Afterwards::nothing, false},
    {4, "none", true, Element::any, nullptr, nullptr, Afterwards::nothing, true},
    {5, "brain parameters", true, Element::lowered, tools::brain_parameters, nullptr, Afterwards::state_and_project, false},
    {6, "self-executable editor", false, Element::any, package::self_executable_editor, nullptr, Afterwards::state_files,
     false},
    {7, "visual editor", false, Element::any, nullptr, nullptr, Afterwards::nothing, false},
    {8, "explode generator", false, Element::any, tools::explode_generator, nullptr, Afterwards::state_files, false},
    {9, "animation file tool", false, Element::any, tools::animation_renamer, nullptr, Afterwards::nothing, false},
    {10, "none", false, Element::any, nullptr, nullptr, Afterwards::nothing, true},
    {11, "none", true, Element::any, nullptr, nullptr, Afterwards::nothing, true},
    {12, "none", true, Element::any, nullptr, nullptr, Afterwards::nothing, true},
    {13, "brain editor", true, Element::exact, tools::brain_editor, nullptr, Afterwards::state_and_project, false},
    {14, "display-area setup", true, Element::exact, tools::display_area, nullptr, Afterwards::state_and_project, false},
    {15, "3D background", true, Element::any, tools::background3d, nullptr, Afterwards::state_and_project, false},
};

static_assert(std::size(kRunModes) == kLastRunMode + 1, "one row per run mode");

const RunMode* run_mode_of(std::int32_t mode) {
  for (const RunMode& m : kRunModes)
    if (m.mode == mode) return &m;
  return nullptr;  // above 15 or negative: no task
}

// Run mode 0: the multi-project player of the package in the working folder.
bool play_packaged(Session& s, int) {
  if (!holds_package(s.folders.work)) {
    platform::error_box("Nothing to play: no packaged project in %s", s.folders.work.c_str());
    s.fail(Exit::not_found);
    return false;
  }
  package::PlayerSetup setup;
  setup.package_folder = s.folders.work;
  Text title = trim(platform::window_title());
  setup.title = title.view();
  setup.host = &s.host;
  setup.screen = s.screen;
  setup.options = s.run_options;
  setup.headless = s.options.headless;
  setup.dump = s.options.dump;
  for (int k = 0; k < s.options.screenshot_count; ++k)
    setup.screenshots.push_back({s.options.screenshots[k].tick, s.options.screenshots[k].file});
  setup.read_only = package_read_only();
  package::PlayStatus status = package::play_game(setup);
  if (status != package::PlayStatus::ok) s.fail(static_cast<Exit>(status));
  return false;
}

// The task a tool works on: the session's project, state, screen and skin.
ui::Task task_of(Session& s) {
  ui::Task task;
  task.host = &s.host;
  task.project = s.project.get();
  task.state = s.state.get();
  task.screen = s.screen;
  task.font = &s.font;
  std::span<std::byte> skin = area(Area::panel_image);
  if (skin.size() >= static_cast<std::size_t>(ui::kSkinWidth * ui::kSkinHeight))
    task.skin = {reinterpret_cast<const std::uint8_t*>(skin.data()), ui::kSkinWidth, ui::kSkinHeight};
  task.headless = s.options.headless;
  task.check_literal = check_literal;
  return task;
}

void take_pending_keys() {
  platform::sample_input();
  std::uint32_t event;
  while (platform::ring_take(platform::input().ring, event)) {
  }
}

}  // namespace

// ZEPTA_PACKAGE_READ_ONLY=1 takes the package folder as read-only even where
// it is writable (a root user's tests): the player writes elsewhere.
bool package_read_only() {
  const char* env = std::getenv("ZEPTA_PACKAGE_READ_ONLY");
  return env && env[0] && std::strcmp(env, "0") != 0;
}

bool holds_package(std::string_view folder) {
  return file_exists(Text(folder) + "multilev.ini") || file_exists(Text(folder) + "level001.prj");
}

RunModeInfo run_mode_info(std::int32_t mode) {
  const RunMode* m = run_mode_of(mode);
  if (!m) return {mode, "", ModeState::none, false};
  ModeState state = m->silent ? ModeState::no_task : m->tool || m->shell_task ? ModeState::built : ModeState::not_built;
  return {mode, m->task, state, m->load_project};
}

void dispatch(Session& s) {
  platform::show_cursor(false);
  RunModeSource source{s.folders.runmode_file, &s.options};
  const std::int32_t mode = s.mode;  // with the folders and the project path, from check_request
  std::int32_t element = runmode_value(source, 1);
  runmode_value(source, 2);  // lines 4 and 5 are read and not used
  runmode_value(source, 3);
  take_pending_keys();

  s.host.work_folder = s.folders.work;
  const RunMode* run_mode = run_mode_of(mode);
  if (mode == 0) {
    s.folders.data = s.folders.work;
    s.folders.temp_file = s.folders.work + "temp.tmp";
    s.host.data_folder = s.folders.data;
    s.host.player = true;
    play_packaged(s, 0);
    platform::show_cursor(true);
    return;
  }

  s.folders.data = s.folders.work + "data/";
  s.host.data_folder = s.folders.data;
  s.host.player = false;
  project::Tables tables = project::budget_tables();
  std::memset(area(Area::brain_data).data(), 0, base::kGlobalsBytes);
  if (tables.collision) std::memset(tables.collision, 0, project::kCollisionBytes);
  s.state = std::make_unique<project::StateFiles>();
  project::read_state_files(*s.state, s.host);
  platform::wait_mouse_release();
  platform::flush_input();

  s.project = std::make_unique<project::Project>();
  project::Project& p = *s.project;
  p.collision = tables.collision;
  if (!run_mode || run_mode->load_project) {
    // This copy owns the working folder: private brains of earlier runs are never taken for this one's.
    project::remove_stale_private_brains(s.host);
    if (!s.options.has_project && base::file_kind(s.project_path) == base::FileKind::missing)
      base::report("zepta", "the project %s named in runmode.ini was not found: a new project with a camera is shown",
                   s.project_path.c_str());
    if (!project::load_project(p, s.host, s.project_path)) {
      platform::error_box("Could not read the project %s", s.project_path.c_str());
      s.fail(Exit::not_found);
      platform::show_cursor(true);
      return;
    }
  }
  p.current_element = p.load_start = p.load_end = element;

  if (run_mode && run_mode->element == Element::lowered) {
    if (p.current_element > p.lines.highest) p.current_element = p.lines.highest;
    if (p.current_element < 0) p.current_element = 0;
  }
  if (run_mode && run_mode->element == Element::exact && (element < 0 || element > p.lines.highest)) {
    // Working on an element line that does not exist would write a stray line.
    say(s, Exit::command_line, "run mode %d: element %d does not exist (the project has %d)", mode, element,
        p.lines.highest + 1);
    run_mode = nullptr;
  }

  if (run_mode && (run_mode->tool || run_mode->shell_task)) {
    int on = run_mode->element == Element::exact ? element : p.current_element;
    ui::Task tool_task = task_of(s);
    bool save = run_mode->tool ? run_mode->tool(tool_task, on) : run_mode->shell_task(s, on);
    if (save && run_mode->afterwards != Afterwards::nothing) {
      p.load_start = p.load_end = p.current_element;
      if (!project::write_state_files(*s.state, s.host)) {
        platform::error_box("Could not write the editor state files in %s", s.folders.data.c_str());
        s.fail(Exit::not_written);
      }
    }
    if (save && run_mode->afterwards == Afterwards::state_and_project) {
      if (!project::save_project(p, s.host, s.project_path)) {
        platform::error_box("Could not save the project %s", s.project_path.c_str());
        s.fail(Exit::not_written);
      }
    }
  } else if (run_mode && !run_mode->silent) {
    say(s, Exit::not_built, "run mode %d (%s) is not available in this build", mode, run_mode->task);
  } else if (!run_mode && !run_mode_of(mode)) {
    say(s, Exit::command_line, "no run mode %d (0 to %d; see --help)", mode, kLastRunMode);
  }
  // The project closes: its private brain files go, none is left for a later run.
  project::remove_private_brains(p, s.host);
  platform::show_cursor(true);
}

}  // namespace shell
