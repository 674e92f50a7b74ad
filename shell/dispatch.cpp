// The run-mode dispatcher: the task for the mode of runmode.ini, what is loaded
// before it and what is saved after it; and the display-area tool of mode 14.
#include <cstring>
#include <memory>
#include <span>

#include "platform/platform.h"
#include "base/log.h"
#include "base/memory.h"
#include "shell/shell_local.h"

namespace shell {

namespace {

enum class Afterwards {
  nothing,
  state_and_project,  // state files written, project saved
};

// Which element index a tool may work on.
enum class Element {
  any,      // the tool does not use one
  lowered,  // lowered to the highest index (raised to 0) before the tool runs
  exact,    // must name an existing element, or the task is refused
};

using Tool = bool (*)(Session& s, int element);  // false: nothing to save

struct RunMode {
  int mode;
  const char* task;
  bool load_project;
  Element element;
  Tool tool;  // null: no tool in this build yet
  Afterwards afterwards;
};

bool display_area(Session& s, int element);

// Modes whose tool comes from a later part of the engine have a null tool: they
// load what the mode loads and save nothing.
constexpr RunMode kRunModes[] = {
    {0, "packaged player", false, Element::any, nullptr, Afterwards::nothing},
    {1, "test run", true, Element::any, test_run, Afterwards::nothing},
    {2, "collision-map editor", true, Element::any, nullptr, Afterwards::nothing},
    {3, "virtual editor", true, Element::lowered, nullptr, Afterwards::nothing},
    {4, "none", true, Element::any, nullptr, Afterwards::nothing},
    {5, "brain parameters", true, Element::lowered, nullptr, Afterwards::nothing},
    {6, "self-executable editor", false, Element::any, nullptr, Afterwards::nothing},
    {7, "visual editor", false, Element::any, nullptr, Afterwards::nothing},
    {8, "explode generator", false, Element::any, nullptr, Afterwards::nothing},
    {9, "animation file tool", false, Element::any, nullptr, Afterwards::nothing},
    {10, "none", false, Element::any, nullptr, Afterwards::nothing},
    {11, "none", true, Element::any, nullptr, Afterwards::nothing},
    {12, "none", true, Element::any, nullptr, Afterwards::nothing},
    {13, "brain editor", true, Element::exact, nullptr, Afterwards::nothing},
    {14, "display-area setup", true, Element::exact, display_area, Afterwards::state_and_project},
    {15, "3D background", true, Element::any, nullptr, Afterwards::nothing},
};

const RunMode* run_mode_of(std::int32_t mode) {
  for (const RunMode& m : kRunModes)
    if (m.mode == mode) return &m;
  return nullptr;  // above 15 or negative: no task
}

void play_packaged(Session& s) {
  // The multi-project player reads the packaged list beside the program.
  Text list = s.folders.work + "multilev.ini";
  if (!file_exists(list))
    platform::error_box("Nothing to play: no packaged project in %s", s.folders.work.c_str());
  else
    platform::error_box("This build cannot play packaged projects yet (%s).", s.folders.work.c_str());
}

bool display_area(Session& s, int element) {
  project::ElementLines& lines = s.project->lines;
  Text field37 = project::line_field(lines.line[element], project::kFieldDisplayArea);
  DisplayArea area = display_area_of(field37);
  display_area_tool(s, area);
  if (!project::set_line_field(lines, element, project::kFieldDisplayArea, with_display_area(field37, area))) {
    report("shell", "element %d: the display area does not fit its line", element);
    return false;
  }
  return true;
}

void take_pending_keys() {
  platform::sample_input();
  std::uint32_t event;
  while (platform::ring_take(platform::input().ring, event)) {
  }
}

}  // namespace

void dispatch(Session& s) {
  platform::show_cursor(false);
  RunModeSource source{s.folders.runmode_file, &s.options};
  s.project_path = project::path_to_memory(runmode_project(source), s.folders.work);
  std::int32_t mode = runmode_mode(source);
  std::int32_t element = runmode_value(source, 1);
  runmode_value(source, 2);  // lines 4 and 5 are read and not used
  runmode_value(source, 3);
  take_pending_keys();
  s.plain_projects = file_exists(s.folders.work + "noencrypt.txt");

  s.host.work_folder = s.folders.work;
  const RunMode* task = run_mode_of(mode);
  if (mode == 0) {
    s.folders.data = s.folders.work;
    s.folders.temp_file = s.folders.work + "temp.tmp";
    s.player = true;
    s.host.data_folder = s.folders.data;
    s.host.player = true;
    play_packaged(s);
    platform::show_cursor(true);
    return;
  }

  s.folders.data = s.folders.work + "data/";
  s.player = false;
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
  if (mode < 6 || mode > 10) {
    if (!project::load_project(p, s.host, s.project_path)) {
      platform::error_box("Could not read the project %s", s.project_path.c_str());
      platform::show_cursor(true);
      return;
    }
  }
  p.current_element = p.load_start = p.load_end = element;

  if (task && task->element == Element::lowered) {
    if (p.current_element > p.lines.highest) p.current_element = p.lines.highest;
    if (p.current_element < 0) p.current_element = 0;
  }
  if (task && task->element == Element::exact && (element < 0 || element > p.lines.highest)) {
    // Working on an element line that does not exist would write a stray line.
    report("shell", "run mode %d: element %d does not exist (the project has %d)", mode, element,
           p.lines.highest + 1);
    task = nullptr;
  }

  if (task && task->tool) {
    int on = task->element == Element::exact ? element : p.current_element;
    if (task->tool(s, on) && task->afterwards == Afterwards::state_and_project) {
      p.load_start = p.load_end = p.current_element;
      if (!project::write_state_files(*s.state, s.host))
        platform::error_box("Could not write the editor state files in %s", s.folders.data.c_str());
      if (!project::save_project(p, s.host, s.project_path))
        platform::error_box("Could not save the project %s", s.project_path.c_str());
    }
  } else if (task && task->mode != 4 && task->mode != 10 && task->mode != 11 && task->mode != 12) {
    report("shell", "run mode %d (%s) is not available in this build", mode, task->task);
  }
  platform::show_cursor(true);
}

// ---- Display-area tool ----------------------------------------------------------------

namespace {

constexpr char kDisplayAreaHelp[] = "Drag UpLeft/DnRight corners to set the active display area";

void draw_display_area(ui::Kit& kit, const DisplayArea& a) {
  ui::Screen& screen = kit.screen;
  ui::clear_screen(screen);
  ui::draw_centred(kit, kDisplayAreaHelp, 320, 403, ui::kWhite);
  ui::draw_rectangle(screen, a.x1, a.y1, a.x2, a.y2, ui::kYellow);
  ui::fill_rect(screen, 200, 434, 440, 450, ui::kBlack);
  ui::draw_centred(kit, display_area_label(a), 320, 442, ui::kWhite);
  ui::present(kit);
}

}  // namespace

void display_area_tool(Session& s, DisplayArea& area) {
  auto kit = std::make_unique<ui::Kit>();
  std::span<std::byte> skin = base::area(Area::panel_image);
  ui::Skin skin_view;
  if (skin.size() >= static_cast<std::size_t>(ui::kSkinWidth * ui::kSkinHeight))
    skin_view = {reinterpret_cast<const std::uint8_t*>(skin.data()), ui::kSkinWidth, ui::kSkinHeight};
  ui::init_kit(*kit, s.screen, s.font, skin_view);
  ui::show_pointer(*kit, true);
  const platform::Input& in = platform::input();
  for (;;) {
    draw_display_area(*kit, area);
    // Wait for a mouse button or Escape.
    bool escape = false;
    for (;;) {
      ui::pump(*kit);
      for (ui::read_key(*kit); kit->last_scan; ui::read_key(*kit))
        if (kit->last_scan == platform::kScanEscape) escape = true;
      if (escape || in.mouse_buttons) break;
      if (platform::waiting_gives_up()) {
        escape = true;
        break;
      }
      ui::present(*kit);  // the pointer follows the mouse
    }
    if (escape) break;
    move_display_corner(area, in.mouse_x, in.mouse_y);
    ui::wait_mouse_release(*kit);
  }
  ui::show_pointer(*kit, false);
}

}  // namespace shell
