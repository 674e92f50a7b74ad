// The self-executable editor of run mode 6: the projects list on one panel
// screen, twenty slots a page, with the named lists of multilev/, the window
// title of the package and the build.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "base/files.h"
#include "base/log.h"
#include "platform/platform.h"
#include "project/project.h"
#include "package/package.h"
#include "ui/browser.h"

namespace package {

namespace {

constexpr int kRows = 20;
constexpr int kPages = kSlots / kRows;              // 25
constexpr int kLastPageOffset = kSlots - kRows;     // 480
constexpr int kRowTop = 28, kRowStep = 22, kRowHeight = 16;
constexpr int kClickTop = 28, kClickBottom = 464;   // rows take clicks strictly between
constexpr int kTitlePath = 16;                      // curpaths.ini line 17: the executable name
constexpr int kMaxTitle = 32;
constexpr int kInputWidth = 400;
constexpr int kShownProblems = 6;

// The seven buttons, top to bottom; the enum is the button table index.
enum Action : int { previous_page, next_page, load_named, save_named, create_executable, reset, executable_name, kActions };
constexpr const char* kButtonLabels[kActions] = {
    "Previous Page (PagUp)", "Next Page (PagDn)", "Load List (L)", "Save List (S)",
    "Create Executable (X)", "Reset List",        "Executable Name",
};
constexpr int kButtonLeft = 420, kButtonRight = 620, kButtonTop = 29, kButtonBottom = 55, kButtonStep = 28;

// Keys by scan code.
struct KeyAction {
  int scan;
  Action action;
};
constexpr KeyAction kKeys[] = {
    {platform::kScanPageUp, previous_page}, {platform::kScanPageDown, next_page}, {platform::kScanL, load_named},
    {platform::kScanS, save_named},         {platform::kScanX, create_executable},
};

// The boxes of a row, and the columns that take clicks (strictly inside left..right).
struct Column {
  int box_left, box_right;
  int click_left, click_right;
};
constexpr Column kNumberColumn = {16, 56, 0, 0};
constexpr Column kFileColumns[3] = {{64, 156, 64, 160}, {160, 252, 160, 256}, {256, 348, 256, 352}};  // fields 1..3
constexpr Column kSwitchColumn = {352, 396, 352, 400};

constexpr char kScreenTitle[] = "SELF-EXECUTABLE EDITOR";
constexpr char kChooseImage[] = "Choose a .bmp cutscene";
constexpr char kSaveAsPrompt[] = "Save the current projects list as..";
constexpr char kResetQuestion[] = "Are you sure you want to reset the current list?";
constexpr char kTitlePrompt[] = "Self-executable minimized window name (32 chrs max.)";
constexpr char kConfirmBuild[] = "Executable compilation. Please confirm:";
constexpr char kScreensaverQuestion[] = "Do you want to include Screen Saver installation module (zeptaexe.scr)?";
constexpr char kBuilt[] =
    "The stand-alone version of the multi-project is in 'zepta/zeptaexe/' folder now"
    "|You can port it to other PCs by porting the 'zeptaexe' folder and its content"
    "|You can run the project by executing the zeptaexe file"
    "|You can freely rename the ported 'zeptaexe' folder and the 'zeptaexe' file";
constexpr char kNotBuilt[] = "The stand-alone version could not be made:";

struct Editor {
  ProjectsList list;
  int offset = 0;          // first slot of the page: 0, 20, ..., 480
  std::string base;        // the working folder, ends in "/"
  std::string current;     // base + "data/multilev.ini"
  std::string list_name;   // of the named list last loaded or saved
  base::Text title;        // the executable name when there are no state files
};

bool inside(int v, int left, int right) { return v > left && v < right; }

// The list saved to data/multilev.ini; a browser fills the shared string table meanwhile.
void keep_current(const Editor& ed) {
  if (!save_list(ed.list, ed.current, ed.base)) base::report("package", "could not write %s", ed.current.c_str());
}
void take_current(Editor& ed) { load_list(ed.list, ed.current, ed.base); }

base::Text& title_of(ui::Task& task, Editor& ed) {
  return task.state ? task.state->current_path[kTitlePath] : ed.title;
}

void draw_editor(ui::Kit& kit, const Editor& ed, int mouse_x, int mouse_y) {
  ui::draw_panel(kit, 0, 0, 640, 480, false);
  ui::reset_buttons(kit);
  for (int i = 0; i < kActions; ++i) {
    int b = ui::add_button(kit, kButtonLeft, kButtonTop + i * kButtonStep, kButtonRight,
                           kButtonBottom + i * kButtonStep, 0);
    ui::draw_button_label(kit, kButtonLabels[i], b);
  }
  int page = ui::add_button(kit, 420, 304, 620, 336, 1);
  ui::draw_button_label(kit, "Page " + std::to_string(ed.offset / kRows + 1) + " of " + std::to_string(kPages), page);
  int help = ui::add_button(kit, 110, 4, 594, 20, 1);
  ui::draw_button_label(kit, editor_help_text(ed.offset, mouse_x, mouse_y), help);

  std::uint8_t highlight = ui::skin_colour(kit.skin, ui::SkinColour::highlight);
  for (int r = 0; r < kRows; ++r) {
    int slot = ed.offset + r, y = kRowTop + r * kRowStep;
    int number = ui::add_button(kit, kNumberColumn.box_left, y, kNumberColumn.box_right, y + kRowHeight, 1);
    ui::draw_button_label(kit, base::three_digits(slot + 1), number);
    for (int f = 0; f < 3; ++f) {
      const Column& c = kFileColumns[f];
      int box = ui::add_button(kit, c.box_left, y, c.box_right, y + kRowHeight, 1);
      ui::draw_button_label(kit, shown_file_name(slot_field(ed.list, slot, kLoadingImage + f)), box);
    }
    ui::add_button(kit, kSwitchColumn.box_left, y, kSwitchColumn.box_right, y + kRowHeight, 1);
    if (slot_field(ed.list, slot, kCompileSwitch) == "1")
      ui::fill_rect(kit.screen, kSwitchColumn.box_left + 3, y + 3, kSwitchColumn.box_right - 4, y + kRowHeight - 4,
                    highlight);
  }
}

// What the screen shows, for stderr when nobody sees it.
void print_shown(const Editor& ed) {
  std::string out = std::string(kScreenTitle) + "\nPage " + std::to_string(ed.offset / kRows + 1) + " of " +
                    std::to_string(kPages) + "\n";
  for (int r = 0; r < kRows; ++r) {
    int slot = ed.offset + r;
    out += base::three_digits(slot + 1);
    for (int f = 0; f < 3; ++f) out += " " + std::string(shown_file_name(slot_field(ed.list, slot, kLoadingImage + f)));
    out += slot_field(ed.list, slot, kCompileSwitch) == "1" ? " on\n" : " off\n";
  }
  std::fputs(out.c_str(), stderr);
}

void load_named_list(ui::Kit& kit, Editor& ed, const ui::BrowseFolders& folders) {
  keep_current(ed);
  std::string chosen = ui::list_browser(kit, folders, ed.base + "multilev/", "*.mlv");
  take_current(ed);
  if (chosen.empty()) return;
  std::string_view name = file_name_of(chosen);
  if (name.size() >= 4) name.remove_suffix(4);
  ed.list_name = name;
  load_list(ed.list, chosen, ed.base);
}

void save_named_list(ui::Kit& kit, Editor& ed) {
  std::string typed = ui::input_box(kit, kInputWidth, ed.list_name, kSaveAsPrompt);
  base::Text name = list_name_of(file_name_of(typed));
  if (name.empty()) return;
  std::string folder = ed.base + "multilev/", path = folder + std::string(name.view()) + ".mlv";
  if (base::file_exists(path) &&
      ui::message_panel(kit, "Using the name '" + std::string(name.view()) + "' you overwrite an existing list, continue?",
                        " YES ", " NO! ") != 1)
    return;
  std::error_code error;
  std::filesystem::create_directory(folder, error);  // a working folder made before named lists had none
  if (!save_list(ed.list, path, ed.base)) {
    ui::message_panel(kit, "Could not write " + path, " OK ", "");
    return;
  }
  ed.list_name = name.view();
}

void change_title(ui::Kit& kit, base::Text& title) {
  std::string answer = ui::input_box(kit, kInputWidth, title, kTitlePrompt);
  title = std::string_view(answer).substr(0, kMaxTitle);
}

void show_progress(void* user, std::string_view text) { ui::message_panel(*static_cast<ui::Kit*>(user), text, "", ""); }

// Asks, builds and tells how it went. The screen-saver question comes before
// the build (not after it) so that the build runs in one go.
void create_package(ui::Kit& kit, Editor& ed, const base::Text& title) {
  keep_current(ed);
  if (ui::message_panel(kit, kConfirmBuild, " CONTINUE ", " ABORT ") != 1) return;
  BuildSetup setup;
  setup.base_folder = std::string_view(ed.base);
  setup.list_path = std::string_view(ed.current);
  setup.package_folder = std::string_view(ed.base + "zeptaexe/");
  setup.title = std::string_view(title).substr(0, kMaxTitle);
  setup.screensaver = ui::message_panel(kit, kScreensaverQuestion, " YES ", " NO ") == 1;
  setup.progress = show_progress;
  setup.user = &kit;
  BuildReport report = build_package(setup);
  ui::message_panel(kit, "", "", "");
  if (report.ok) {
    ui::message_panel(kit, kBuilt, " OK ", "");
    return;
  }
  std::string text = kNotBuilt;
  int shown = 0;
  for (const std::string& problem : report.problems) {
    if (shown++ == kShownProblems) {
      text += "|... (" + std::to_string(report.problems.size() - kShownProblems) + " more)";
      break;
    }
    text += "|" + problem;
  }
  ui::message_panel(kit, text, " OK ", "");
}

// A click on a row: the browsers of the file columns, or the switch.
void click_row(ui::Kit& kit, ui::Task& task, Editor& ed, const ui::BrowseFolders& folders, int x, int y) {
  int slot = ed.offset + (y - kRowTop) / kRowStep;
  if (slot < 0 || slot >= kSlots) return;
  for (int f = 0; f < 2; ++f) {
    if (!inside(x, kFileColumns[f].click_left, kFileColumns[f].click_right)) continue;
    base::Text seed = slot_field(ed.list, slot, kLoadingImage + f);
    if (seed.empty()) seed = std::string_view(ed.base + "images/black_.bmp");
    keep_current(ed);
    std::string chosen = ui::thumbnail_chooser(kit, folders, seed, ui::kChooseImages, kChooseImage);
    take_current(ed);
    if (!chosen.empty()) set_slot_field(ed.list, slot, kLoadingImage + f, chosen);
    return;
  }
  if (inside(x, kFileColumns[2].click_left, kFileColumns[2].click_right)) {
    if (!task.state) return;
    keep_current(ed);
    std::string chosen = ui::browse_projects(kit, folders, *task.state);
    take_current(ed);
    if (!chosen.empty()) set_slot_field(ed.list, slot, kProject, chosen);  // field 5 stays
    return;
  }
  if (inside(x, kSwitchColumn.click_left, kSwitchColumn.click_right)) toggle_compile_switch(ed.list, slot);
}

}  // namespace

std::string_view shown_file_name(std::string_view path) {
  std::string_view name = file_name_of(path);
  name.remove_suffix(std::min<std::size_t>(4, name.size()));
  return name.substr(0, 8);
}

base::Text editor_help_text(int page_offset, int mouse_x, int mouse_y) {
  if (inside(mouse_x, 64, 160)) return "Select image to use as 'loading' message";
  if (inside(mouse_x, 160, 256)) return "Select image to use as 'load complete' message (default_ = skip)";
  if (inside(mouse_x, 256, 352)) {
    int slot = page_offset + (mouse_y - kRowTop) / kRowStep;
    if (slot == 0) return "Select the project to compile as entry point";
    return "Select the project to compile as sub-project " + base::three_digits(slot + 1);
  }
  if (inside(mouse_x, 352, 400)) return "Switch project compilation On/Off";
  return kScreenTitle;
}

int turn_page(int page_offset, int step) { return std::clamp(page_offset + step * kRows, 0, kLastPageOffset); }

bool self_executable_editor(ui::Task& task, int) {
  if (!task.host || !task.font) return false;
  auto ed = std::make_unique<Editor>();
  ed->base = task.host->work_folder.view();
  ed->current = ed->base + "data/multilev.ini";
  ed->title = "Zepta 5.2";
  take_current(*ed);
  base::Text& title = title_of(task, *ed);

  auto kit = std::make_unique<ui::Kit>();
  ui::init_kit(*kit, task.screen, *task.font, task.skin);
  ui::BrowseFolders folders = ui::browse_folders(task);
  const platform::Input& in = platform::input();
  bool leave = false, gave_up = false;
  while (!leave) {
    ui::show_pointer(*kit, true);
    int mx = in.mouse_x, my = in.mouse_y;
    base::Text help = editor_help_text(ed->offset, mx, my);
    draw_editor(*kit, *ed, mx, my);
    ui::present(*kit);
    int action = -1;
    bool clicked = false;
    for (bool redraw = false; action < 0 && !clicked && !leave && !redraw;) {
      ui::await_input(*kit);
      for (ui::read_key(*kit); kit->last_scan && action < 0 && !leave; ui::read_key(*kit)) {
        if (kit->last_scan == platform::kScanEscape) leave = true;
        for (const KeyAction& k : kKeys)
          if (kit->last_scan == k.scan) action = k.action;
      }
      if (action >= 0 || leave) break;
      if (in.mouse_buttons & 1) {
        std::int32_t hit = ui::hit_test(*kit);
        if (hit >= 0 && hit < kActions) action = hit;
        else if (inside(in.mouse_y, kClickTop, kClickBottom)) clicked = true;
        mx = in.mouse_x;
        my = in.mouse_y;
        ui::wait_mouse_release(*kit);
        if (action < 0 && !clicked) continue;
        break;
      }
      if (platform::waiting_gives_up()) {
        print_shown(*ed);
        leave = gave_up = true;
        break;
      }
      redraw = editor_help_text(ed->offset, in.mouse_x, in.mouse_y) != help;  // the help line follows the mouse
      ui::present(*kit);
    }
    if (clicked) click_row(*kit, task, *ed, folders, mx, my);
    switch (action) {
      case previous_page: ed->offset = turn_page(ed->offset, -1); break;
      case next_page: ed->offset = turn_page(ed->offset, 1); break;
      case load_named: load_named_list(*kit, *ed, folders); break;
      case save_named: save_named_list(*kit, *ed); break;
      case create_executable:
        create_package(*kit, *ed, title);
        leave = true;
        break;
      case reset:
        if (ui::message_panel(*kit, kResetQuestion, " NO ", " YES ") == 2) reset_list(ed->list, ed->base);
        break;
      case executable_name: change_title(*kit, title); break;
      default: break;
    }
  }
  keep_current(*ed);
  ui::show_pointer(*kit, false);
  if (!gave_up) {
    ui::clear_screen(kit->screen);
    ui::present(*kit);
  }
  ui::flush_input(*kit);
  return true;
}

}  // namespace package
