// The parameter panel of run mode 5: the user parameters of one element's
// brain, shown one at a time, each set from a list of the project's elements
// or a number entry; after the header check that resets an element whose brain
// declarations changed since its configuration was read.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/log.h"
#include "media/media.h"
#include "platform/platform.h"
#include "project/project.h"
#include "tools/tools.h"

namespace tools {

namespace {

constexpr char kResetQuestion[] = "Are you sure you want to reset the|current element's parameters to default values?";
constexpr int kMaxEntryChars = 12;

// The kinds of user parameters in words, 1..6.
constexpr const char* kKindWords[] = {
    "",
    "an element of the project (userele)",
    "an integer (userint)",
    "a length in metres (usermet)",
    "an angle in degrees (userdeg)",
    "a velocity in scene units per second (uservel)",
    "a spin in revolutions per minute (userspi)",
};

// The panel's places on a 640 x 480 screen (moved to the middle of larger ones).
constexpr int kPanelLeft = 40, kPanelTop = 36, kPanelRight = 600, kPanelBottom = 444;
constexpr int kAreaTop = 112, kAreaBottom = 196;      // the text area
constexpr int kValueTop = 208, kValueBottom = 380;    // the list or the entry
constexpr int kButtonsTop = 392, kButtonsBottom = 424;

struct Panel {
  project::ElementLines* lines = nullptr;
  int element = 0;
  project::ParameterList list;      // field 35
  project::ParameterList declared;  // the brain file's declarations, for the names
  std::vector<int> shown;           // indexes into list of the user parameters
  int position = 0;                 // 0..shown.size() - 1 (field 45)
  int top_row = 0;                  // first element row of the list (field 46)
  ui::InputState entry;
  std::string note;                 // the line under the text area: what was refused or done
  int ox = 0, oy = 0;               // where the 640 x 480 layout lies on the screen
  int row_height = 16;
  int reset_button = -1, group_button = -1;
};

project::Parameter& current(Panel& p) { return p.list.parameter[p.shown[static_cast<std::size_t>(p.position)]]; }

int visible_rows(const Panel& p) { return std::max(1, (kValueBottom - kValueTop - 8) / p.row_height); }

void clamp_top_row(Panel& p) {
  int most = std::max(0, p.lines->highest + 1 - visible_rows(p));
  p.top_row = std::clamp(p.top_row, 0, most);
}

// The configuration of field 35 read again, with the parameters it shows.
void take_configuration(Panel& p) {
  p.list = project::parse_parameters(project::line_field(p.lines->line[p.element], project::kFieldUserParameters));
  p.shown.clear();
  for (int k = 0; k < p.list.count; ++k)
    if (project::is_user_parameter(p.list.parameter[k].kind)) p.shown.push_back(k);
  if (!p.shown.empty()) p.position = std::clamp(p.position, 0, static_cast<int>(p.shown.size()) - 1);
}

// Field 35 and the panel position written into the element's line.
void store(Panel& p) {
  std::string field35 = project::format_parameters(p.list);
  if (!project::set_line_field(*p.lines, p.element, project::kFieldUserParameters, field35))
    base::report("tools", "element %d: its parameters do not fit in its line; the last change is not kept", p.element);
  project::set_line_field(*p.lines, p.element, project::kFieldEditorPosition, base::text_of(p.position));
  project::set_line_field(*p.lines, p.element, project::kFieldEditorPosition + 1, base::text_of(p.top_row));
}

// A setting the entry of kind may hold: an optional "-", digits, and for the
// decimal kinds (3..6) one "." among them.
bool is_number(std::string_view text, int kind) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  bool digit = false, point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') digit = true;
    else if (c == '.' && kind != 2 && !point) point = true;
    else return false;
  }
  return digit;
}

// The entry shows the setting of the parameter now shown.
void open_entry(Panel& p) {
  p.entry.before = current(p).setting;
  p.entry.after.clear();
  if (current(p).kind == 1) {
    int chosen = base::value(current(p).setting);
    if (chosen < p.top_row || chosen >= p.top_row + visible_rows(p)) p.top_row = chosen - visible_rows(p) / 2;
    clamp_top_row(p);
  }
}

void move_to(Panel& p, int position) {
  int n = static_cast<int>(p.shown.size());
  p.position = ((position % n) + n) % n;  // wraps at both ends
  p.note.clear();
  open_entry(p);
  store(p);
}

// One key typed into the number entry; the setting follows the entry while it holds a number.
void entry_key(Panel& p, const ui::Kit& kit, int character, int scan) {
  project::Parameter& param = current(p);
  bool printable = character >= 32 && character < 127;
  if (printable && !((character >= '0' && character <= '9') || character == '-' || (character == '.' && param.kind != 2))) {
    p.note = std::string("Numbers only: '") + static_cast<char>(character) + "' was refused, the setting stays " +
             (param.setting.empty() ? "empty" : param.setting);
    return;
  }
  if (!ui::input_key(kit, p.entry, character, scan, kMaxEntryChars)) return;
  std::string text = p.entry.before + p.entry.after;
  if (is_number(text, param.kind)) {
    param.setting = text;
    p.note.clear();
    store(p);
  } else {
    p.note = "'" + text + "' is no number: the setting stays " + (param.setting.empty() ? "empty" : param.setting);
  }
}

// Copies the shown parameter's setting to every other element of the same
// group (field 49) and header signature (field 40); returns how many took it.
int apply_to_group(Panel& p) {
  project::ElementLines& lines = *p.lines;
  const base::Text& own = lines.line[p.element];
  base::Text group = project::line_field(own, project::kFieldGroup);
  base::Text signature = project::line_field(own, project::kFieldBrainChecksum);
  int k = p.shown[static_cast<std::size_t>(p.position)];
  const project::Parameter& param = p.list.parameter[k];
  int copied = 0;
  auto other = std::make_unique<project::ParameterList>();
  for (int j = 0; j <= lines.highest; ++j) {
    if (j == p.element) continue;
    if (!(project::line_field(lines.line[j], project::kFieldGroup) == group.view()) ||
        !(project::line_field(lines.line[j], project::kFieldBrainChecksum) == signature.view()))
      continue;
    *other = project::parse_parameters(project::line_field(lines.line[j], project::kFieldUserParameters));
    if (k >= other->count || other->parameter[k].kind != param.kind) continue;
    other->parameter[k].setting = param.setting;
    if (project::set_line_field(lines, j, project::kFieldUserParameters, project::format_parameters(*other)))
      ++copied;
    else
      base::report("tools", "element %d: its parameters do not fit in its line; the group setting is not kept", j);
  }
  return copied;
}

void draw(ui::Kit& kit, Panel& p) {
  ui::Screen& s = kit.screen;
  const media::Font& font = *kit.font;
  ui::clear_screen(s);
  ui::reset_buttons(kit);
  int x1 = p.ox + kPanelLeft, x2 = p.ox + kPanelRight, cx = p.ox + 320;
  ui::draw_panel(kit, x1, p.oy + kPanelTop, x2, p.oy + kPanelBottom, true);
  std::uint8_t ink = ui::skin_colour(kit.skin, ui::SkinColour::text);
  std::uint8_t field_ink = ui::skin_colour(kit.skin, ui::SkinColour::field_text);
  std::uint8_t highlight = ui::skin_colour(kit.skin, ui::SkinColour::highlight);
  base::Text name = project::line_field(p.lines->line[p.element], project::kFieldName);
  ui::draw_centred(kit, "Brain parameters of element " + std::to_string(p.element) + ": " + std::string(name.view()), cx,
                   p.oy + 76, ink);
  ui::draw_centred(kit,
                   "Editing Parameter " + std::to_string(p.position + 1) + " of " + std::to_string(p.shown.size()) +
                       "  (PagUp/PagDown keys = Previous/Next)",
                   cx, p.oy + 96, ink);

  // The text area: the declaration and its setting.
  int k = p.shown[static_cast<std::size_t>(p.position)];
  const project::Parameter& param = p.list.parameter[k];
  const project::Parameter* decl = k < p.declared.count ? &p.declared.parameter[k] : nullptr;
  ui::fill_rect(s, x1 + 24, p.oy + kAreaTop, x2 - 24, p.oy + kAreaBottom, ui::skin_colour(kit.skin, ui::SkinColour::field));
  ui::draw_frame(kit, x1 + 20, p.oy + kAreaTop - 4, x2 - 20, p.oy + kAreaBottom + 4, 1);
  std::string area[4] = {
      "Name: " + (decl && !decl->name.empty() ? decl->name : std::string("(unnamed)")),
      std::string("Kind: ") + kKindWords[param.kind],
      "Default: " + (decl && !decl->setting.empty() ? decl->setting : std::string("(none)")) +
          "    Setting: " + (param.setting.empty() ? std::string("(none)") : param.setting),
      p.note,
  };
  for (int line = 0; line < 4; ++line)
    ui::draw_text(s, font, area[line], x1 + 32, p.oy + kAreaTop + 4 + line * p.row_height + 2, field_ink);

  // The value: the list of elements or the number entry.
  int vx1 = x1 + 20, vx2 = x2 - 20;
  if (param.kind == 1) {
    ui::fill_rect(s, vx1 + 4, p.oy + kValueTop + 4, vx2 - 4, p.oy + kValueBottom - 4,
                  ui::skin_colour(kit.skin, ui::SkinColour::field));
    ui::draw_frame(kit, vx1, p.oy + kValueTop, vx2, p.oy + kValueBottom, 1);
    int chosen = base::value(param.setting);
    bool numeric = is_number(param.setting, 2);
    for (int r = 0; r < visible_rows(p); ++r) {
      int e = p.top_row + r;
      if (e > p.lines->highest) break;
      int y = p.oy + kValueTop + 6 + r * p.row_height;
      if (numeric && e == chosen) ui::fill_rect(s, vx1 + 6, y, vx2 - 6, y + p.row_height - 1, highlight);
      base::Text row_name = project::line_field(p.lines->line[e], project::kFieldName);
      ui::draw_text(s, font, std::to_string(e) + "  " + std::string(row_name.view()), vx1 + 12, y + 1, field_ink);
    }
  } else {
    ui::draw_text(s, font, "Value (numbers only):", vx1 + 4, p.oy + kValueTop + 8, ink);
    p.entry.x = vx1;
    p.entry.width = vx2 - vx1;
    int fy = p.oy + kValueTop + 32;
    ui::fill_rect(s, vx1 + 4, fy + 4, vx2 - 4, fy + p.row_height + 8, ui::skin_colour(kit.skin, ui::SkinColour::field));
    ui::draw_frame(kit, vx1, fy, vx2, fy + p.row_height + 12, 1);
    int tx = vx1 + 16, ty = fy + 6;
    ui::draw_text(s, font, p.entry.before, tx, ty, field_ink);
    int cursor = tx + media::text_width(font, p.entry.before);
    ui::draw_text(s, font, p.entry.after, cursor, ty, field_ink);
    ui::fill_rect(s, cursor, ty + p.row_height - 2, cursor + 6, ty + p.row_height - 2, field_ink);
  }

  p.reset_button = ui::add_button(kit, p.ox + 96, p.oy + kButtonsTop, p.ox + 248, p.oy + kButtonsBottom, 0);
  ui::draw_button_label(kit, "Reset", p.reset_button);
  p.group_button = ui::add_button(kit, p.ox + 300, p.oy + kButtonsTop, p.ox + 548, p.oy + kButtonsBottom, 0);
  ui::draw_button_label(kit, "Apply Setting To Group", p.group_button);
  ui::present(kit);
}

// A left click at (mx, my) on the element list: that element chosen.
bool click_list(Panel& p, int mx, int my) {
  int x1 = p.ox + kPanelLeft + 20, x2 = p.ox + kPanelRight - 20;
  int y = my - (p.oy + kValueTop + 6);
  if (mx < x1 || mx > x2 || y < 0 || my > p.oy + kValueBottom) return false;
  int e = p.top_row + y / p.row_height;
  if (y / p.row_height >= visible_rows(p) || e > p.lines->highest) return false;
  current(p).setting = std::to_string(e);
  p.note = "Element " + std::to_string(e) + " chosen";
  store(p);
  return true;
}

// The panel until Escape or the close box (or until waiting gives up).
void run_panel(ui::Kit& kit, Panel& p) {
  platform::Input& in = platform::input();
  ui::show_pointer(kit, true);
  open_entry(p);
  for (bool done = false; !done;) {
    draw(kit, p);
    for (bool acted = false; !acted;) {
      ui::await_input(kit);
      ui::read_key(kit);
      int scan = kit.last_scan, character = static_cast<unsigned char>(kit.key_text[0]);
      bool list = current(p).kind == 1;
      if (scan) {
        acted = true;
        if (scan == platform::kScanEscape) done = true;
        else if (scan == platform::kScanPageUp) move_to(p, p.position - 1);
        else if (scan == platform::kScanPageDown) move_to(p, p.position + 1);
        else if (list && (scan == platform::kScanUp || scan == platform::kScanDown)) {
          p.top_row += scan == platform::kScanUp ? -1 : 1;
          clamp_top_row(p);
          store(p);
        } else if (!list && scan != platform::kScanEnter) {
          entry_key(p, kit, character, scan);
        }
        continue;
      }
      if (in.wheel != 0 && list) {
        p.top_row += in.wheel > 0 ? 3 : -3;  // -120 a notch away from the user: up the list
        in.wheel = 0;
        clamp_top_row(p);
        store(p);
        acted = true;
        continue;
      }
      in.wheel = 0;
      if (in.mouse_buttons & 1) {
        std::int32_t hit = ui::hit_test(kit);
        acted = true;
        if (hit == ui::kCloseBox) {
          done = true;
        } else if (hit == p.reset_button) {
          static constexpr ui::Choice kAnswers[] = {{"YES", platform::kScanEnter}, {"NO", 0}};
          if (ui::choice_panel(kit, kResetQuestion, kAnswers, 2) == 1) {
            project::read_header(*p.lines, p.element);
            take_configuration(p);
            p.note = "Every parameter is back to its default";
            open_entry(p);
            store(p);
          }
          ui::show_pointer(kit, true);
        } else if (hit == p.group_button) {
          int copied = apply_to_group(p);
          p.note = "Setting copied to " + std::to_string(copied) + (copied == 1 ? " other element" : " other elements");
        } else if (list) {
          click_list(p, in.mouse_x, in.mouse_y);
        } else {
          int x1 = p.ox + kPanelLeft + 20, fy = p.oy + kValueTop + 32;
          if (in.mouse_y >= fy && in.mouse_y <= fy + p.row_height + 12 && in.mouse_x > x1 + 16)
            ui::input_click(kit, p.entry, in.mouse_x);
        }
        ui::wait_mouse_release(kit);
        continue;
      }
      if (platform::waiting_gives_up()) {
        const project::Parameter& param = current(p);
        std::fprintf(stderr, "Editing Parameter %d of %zu: %s\n", p.position + 1, p.shown.size(),
                     param.setting.c_str());
        done = acted = true;
        continue;
      }
      ui::present(kit);  // the pointer follows the mouse
    }
  }
  store(p);
  ui::show_pointer(kit, false);
  ui::clear_screen(kit.screen);
  ui::present(kit);
  ui::flush_input(kit);
}

std::vector<std::string> snapshot(const project::ElementLines& lines) {
  std::vector<std::string> out;
  for (int i = 0; i <= lines.highest; ++i) out.emplace_back(lines.line[i].view());
  return out;
}

}  // namespace

bool brain_parameters(ui::Task& task, int element) {
  project::Project& project = *task.project;
  project::ElementLines& lines = project.lines;
  if (element < 0 || element > lines.highest) return false;
  std::vector<std::string> before = snapshot(lines);
  auto kit = std::make_unique<ui::Kit>();
  ui::init_kit(*kit, task.screen, *task.font, task.skin);

  base::Text name = project::line_field(lines.line[element], project::kFieldName);
  if (project::check_header(lines, element) == project::HeaderCheck::reset_with_notice)
    ui::message_panel(*kit, project::header_notice(name), "OK", "");

  auto panel = std::make_unique<Panel>();
  Panel& p = *panel;
  p.lines = &lines;
  p.element = element;
  p.position = base::value(project::line_field(lines.line[element], project::kFieldEditorPosition));
  p.top_row = base::value(project::line_field(lines.line[element], project::kFieldEditorPosition + 1));
  take_configuration(p);
  if (p.shown.empty()) {
    std::fprintf(stderr, "Element %d (%s): its brain has no user parameters to set\n", element, name.c_str());
  } else {
    p.declared = project::declarations_of(project::line_field(lines.line[element], project::kFieldBrain));
    p.row_height = std::max(12, media::glyph_height(*task.font) + 4);
    p.ox = std::max(0, (task.screen.width - 640) / 2);
    p.oy = std::max(0, (task.screen.height - 480) / 2);
    clamp_top_row(p);
    run_panel(*kit, p);
  }
  return snapshot(lines) != before;
}

}  // namespace tools
