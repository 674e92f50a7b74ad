// The brain editor of run mode 13: an element's brain in the script text
// editor, compiled before it is saved under a name in the brains folder, with
// the element's brain field and parameter configuration kept in step.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "base/files.h"
#include "base/paths.h"
#include "brain/brain.h"
#include "media/media.h"
#include "platform/platform.h"
#include "project/project.h"
#include "tools/tools.h"
#include "ui/browser.h"
#include "ui/text_editor.h"

namespace tools {

namespace {

constexpr char kSaveAsPrompt[] = "Save the current brain as...";
constexpr char kLostQuestion[] = "The current brain modifications will be lost!";
constexpr char kDefaultBrain[] = "brains/null_.brn";
constexpr int kInputWidth = 400;
// Editor state lines (1-based) of the window's place: the element it belongs
// to, then the view's first byte, the cursor's column and row.
constexpr int kStateElement = 4, kStateTop = 5, kStateColumn = 6, kStateRow = 7;

struct Editing {
  ui::Task& task;
  project::Project& project;
  int element;
  ui::Kit& kit;
  ui::TextEditor& editor;
  const media::Font* font;  // the editor's 8-pixel font; null: the panel font
  std::string element_name;
  std::string brain_file;    // field 4: the file the element runs now
  std::string library_name;  // what the name question offers
  std::string shown_name;    // what messages call the brain: its library file, or the element's name
  std::string dropped_kinds;  // what opening dropped, in words
  bool dropped_told = false;  // the user knows that saving drops characters
  bool element_changed = false;  // a brain was chosen with Ctrl+H
};

std::string_view file_name_of(std::string_view path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string brains_folder(const Editing& e) { return std::string(e.task.host->work_folder.view()) + "brains/"; }

// The brain file as the messages name it: from the working folder when inside it.
std::string shown_path(const Editing& e, std::string_view path) {
  std::string_view work = e.task.host->work_folder.view();
  if (!work.empty() && path.substr(0, work.size()) == work) path.remove_prefix(work.size());
  return std::string(path);
}

// Line (1-based) of the byte at offset in an editor buffer, and the offset of a line.
int line_of_offset(std::string_view buffer, std::int32_t offset) {
  std::size_t end = std::min<std::size_t>(buffer.size(), static_cast<std::size_t>(std::max(offset, 0)));
  return 1 + static_cast<int>(std::count(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(end), '\r'));
}
std::int32_t offset_of_line(std::string_view buffer, int line) {
  std::size_t at = 0;
  for (int k = 1; k < line; ++k) {
    std::size_t cr = buffer.find('\r', at);
    if (cr == std::string_view::npos || cr + 1 >= buffer.size()) break;
    at = cr + 1;
  }
  return static_cast<std::int32_t>(at);
}

bool open_brain(Editing& e, std::string_view path) {
  ui::EditorOpen opened = e.editor.open(path, ui::EditorMode::edit);
  e.dropped_told = false;
  e.dropped_kinds = opened.dropped_kinds;
  if (opened.ok) return true;
  ui::message_panel(e.kit, opened.error, "OK", "");
  return false;
}

// True when nothing is lost by leaving the text: unchanged, or the user says so.
bool changes_may_go(Editing& e) {
  return !e.editor.modified() || ui::message_panel(e.kit, kLostQuestion, "CONTINUE", "ABORT") == 1;
}

// A compile error: the text shown with the message at its line until the user
// leaves it; editing then goes on at that line.
void show_compile_error(Editing& e, const brain::BrainError& error, const std::string& report) {
  if (e.task.headless) std::fputs(report.c_str(), stderr);
  int line = error.line_number > 0 ? error.line_number : error.note_line;
  e.editor.set_mode(ui::EditorMode::show);
  e.editor.set_banner(report, line);
  e.editor.go_to_line(std::max(line, 1));
  e.editor.run(e.kit);
  e.editor.set_banner("");
  e.editor.set_mode(ui::EditorMode::edit);
  e.editor.go_to_line(std::max(line, 1));
}

// F2: the text compiled, then saved under a name asked for. True once saved.
bool save_brain(Editing& e) {
  brain::BrainError error;
  std::string report;
  std::string text(e.editor.file_text());
  if (!brain::check_text(e.shown_name, text, &error, &report, e.task.check_literal)) {
    show_compile_error(e, error, report);
    return false;
  }
  if (e.editor.dropped() > 0 && !e.dropped_told) {
    // Editing again is the first answer: the one taken when nobody can answer.
    e.dropped_told = true;
    int n = e.editor.dropped();
    std::string notice = e.shown_name + " held " + std::to_string(n) + " character" +
                         (n == 1 ? "" : "s") + " the editor cannot keep (" + e.dropped_kinds +
                         ").|They were left out when it was opened, and the brain is saved without them.";
    if (ui::message_panel(e.kit, notice, "EDIT", "SAVE") != 2) return false;
  }

  std::string typed = e.library_name;
  std::string name;
  for (;;) {
    typed = ui::input_box(e.kit, kInputWidth, typed, kSaveAsPrompt);
    std::string why;
    name = brain_file_name(typed, &why);
    if (!name.empty()) break;
    ui::message_panel(e.kit, why, "OK", "");
    if (typed.empty() || platform::waiting_gives_up()) return false;
  }
  std::string path = brains_folder(e) + name;
  if (base::file_kind(path) != base::FileKind::missing &&
      ui::message_panel(e.kit, "Using the name '" + name + "' you will overwrite an existing brain", "CONTINUE",
                        "ABORT") != 1)
    return false;
  std::string failure;
  if (!e.editor.save(path, &failure)) {
    ui::message_panel(e.kit, "The brain could not be saved as '" + name + "':|" + failure, "OK", "");
    return false;
  }
  e.editor.mark_saved();
  project::set_line_field(e.project.lines, e.element, project::kFieldBrain, path);
  if (project::check_header(e.project.lines, e.element) == project::HeaderCheck::reset_with_notice)
    ui::message_panel(e.kit, project::header_notice(e.element_name), "OK", "");
  return true;
}

// F1: the element's brain file as it stands on disk, at the editing window's
// place. Headless, the window's lines also go to stderr.
void show_brain_on_disk(Editing& e) {
  if (base::file_kind(e.brain_file) != base::FileKind::regular) return;
  auto shown = std::make_unique<ui::TextEditor>();
  shown->set_font(e.font);
  if (!shown->open(e.brain_file, ui::EditorMode::show).ok) return;
  ui::EditorView view = e.editor.view();
  view.top = offset_of_line(shown->buffer(), line_of_offset(e.editor.buffer(), view.top));
  shown->set_view(view);
  if (e.task.headless) {
    std::string_view window = shown->buffer().substr(static_cast<std::size_t>(shown->view().top));
    std::string out = e.shown_name + " as it stands (F1):\n";
    for (int row = 0; row < ui::kEditorRows && !window.empty(); ++row) {
      std::size_t cr = window.find('\r');
      out += std::string(window.substr(0, cr)) + "\n";
      window = cr == std::string_view::npos ? std::string_view() : window.substr(cr + 1);
    }
    std::fputs(out.c_str(), stderr);
  }
  shown->run(e.kit);
}

// Ctrl+H: a library brain chosen for the element, its header read and its
// parameters set; editing goes on with it.
bool select_brain(Editing& e) {
  if (!changes_may_go(e)) return true;
  ui::BrowseFolders folders = ui::browse_folders(e.task);
  std::string chosen = ui::thumbnail_chooser(e.kit, folders, brains_folder(e), ui::kChooseBrains,
                                             "Select a brain for '" + e.element_name + "'");
  if (chosen.empty()) return true;
  project::ElementLines& lines = e.project.lines;
  project::set_line_field(lines, e.element, project::kFieldBrain, chosen);
  project::reset_header(lines, e.element);
  e.element_changed = true;
  e.brain_file = chosen;
  e.library_name = file_name_of(chosen);
  e.shown_name = shown_path(e, chosen);
  project::ParameterList parameters =
      project::parse_parameters(project::line_field(lines.line[e.element], project::kFieldUserParameters));
  bool any = false;
  for (int k = 0; k < parameters.count; ++k) any = any || project::is_user_parameter(parameters.parameter[k].kind);
  if (any) brain_parameters(e.task, e.element);
  return open_brain(e, chosen);
}

void restore_view(Editing& e) {
  const project::StateFiles* state = e.task.state;
  if (!state || state->editor[kStateElement - 1].empty() ||
      project::editor_value(*state, kStateElement) != e.element)
    return;
  e.editor.set_view({project::editor_value(*state, kStateTop), project::editor_value(*state, kStateColumn),
                     project::editor_value(*state, kStateRow)});
}

void keep_view(Editing& e) {
  project::StateFiles* state = e.task.state;
  if (!state) return;
  ui::EditorView view = e.editor.view();
  project::set_editor_value(*state, kStateElement, e.element);
  project::set_editor_value(*state, kStateTop, view.top);
  project::set_editor_value(*state, kStateColumn, view.column);
  project::set_editor_value(*state, kStateRow, view.row);
}

}  // namespace

std::string brain_file_name(std::string_view typed, std::string* why) {
  std::string name(base::trim(typed).view());
  auto refuse = [&](const std::string& reason) {
    if (why) *why = reason;
    return std::string();
  };
  if (name.empty()) return refuse("No name given: the brain was not saved.");
  std::string shown;
  bool bad = name[0] == '.' || name.find("..") != std::string::npos;  // the brains listing hides dot files
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    bool control = u < 32 || u == 127;
    if (control || c == '/' || c == '\\' || c == '|') bad = true;
    shown += control || c == '|' ? '?' : c;
  }
  if (bad)
    return refuse("'" + shown + "' cannot name a brain: a name may hold no slash,|no bar, no leading dot, no two dots in a row "
                  "and no control character.");
  if (!base::ends_with_no_case(name, ".brn")) name += ".brn";
  if (why) why->clear();
  return name;
}

bool brain_editor(ui::Task& task, int element) {
  project::Project& p = *task.project;
  project::Host& host = *task.host;
  auto kit = std::make_unique<ui::Kit>();
  ui::init_kit(*kit, task.screen, *task.font, task.skin);
  auto font = std::make_unique<media::Font>();
  bool font_loaded = media::load_font(std::string(host.data_folder.view()) + ui::kEditorFontFile, *font, true);
  auto editor = std::make_unique<ui::TextEditor>();
  editor->set_font(font_loaded ? font.get() : nullptr);
  Editing e{task, p, element, *kit, *editor, font_loaded ? font.get() : nullptr, {}, {}, {}, {}, {}};
  const base::Text& line = p.lines.line[element];
  e.element_name = project::line_field(line, project::kFieldName).view();
  e.brain_file = project::line_field(line, project::kFieldBrain).view();
  if (e.brain_file.empty() || e.brain_file == "-") {
    e.brain_file = project::new_private_brain_name(host).view();
    project::set_line_field(p.lines, element, project::kFieldBrain, e.brain_file);
  }
  const project::BrainOrigin& origin = p.brain_origin[element];
  // The library brain the element was loaded from; one that was missing keeps its name in field 4.
  if (origin.library) e.library_name = file_name_of(origin.line_before == 0 ? origin.file : e.brain_file);
  if (e.library_name.empty()) e.library_name = e.element_name;
  // An embedded brain's private file name means nothing to the user: its element's name does.
  e.shown_name = origin.library ? shown_path(e, origin.line_before == 0 ? origin.file : e.brain_file) : e.element_name;

  // 1. A brain file that does not exist yet starts as the default brain.
  if (base::file_kind(e.brain_file) == base::FileKind::missing)
    base::copy_file(std::string(host.work_folder.view()) + kDefaultBrain, e.brain_file);
  // 2. The editor until the brain is saved or left.
  if (!open_brain(e, e.brain_file)) return false;
  restore_view(e);
  for (;;) {
    switch (e.editor.run(e.kit)) {
      case ui::EditorExit::f2:
        if (save_brain(e)) {
          keep_view(e);
          return true;
        }
        break;
      case ui::EditorExit::escape:
        if (changes_may_go(e)) {
          if (e.element_changed) keep_view(e);
          return e.element_changed;
        }
        break;
      case ui::EditorExit::f1: show_brain_on_disk(e); break;
      case ui::EditorExit::ctrl_h:
        if (!select_brain(e)) return true;  // the chosen brain could not be opened: the choice stands
        break;
    }
  }
}

}  // namespace tools
