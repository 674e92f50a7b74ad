// The display-area tool of run mode 14: the rectangle of field 37 dragged
// corner by corner on the 640 x 480 screen, and its arithmetic.
#include <memory>

#include "base/log.h"
#include "platform/platform.h"
#include "project/project.h"
#include "tools/tools.h"

namespace tools {

using base::Text;

DisplayArea display_area_of(std::string_view field37) {
  DisplayArea a;
  a.x1 = base::value(base::field(field37, 1, '/'));
  a.y1 = base::value(base::field(field37, 2, '/'));
  a.x2 = base::value(base::field(field37, 3, '/'));
  a.y2 = base::value(base::field(field37, 4, '/'));
  return a;
}

Text with_display_area(std::string_view field37, const DisplayArea& a) {
  Text t = field37;
  const std::int32_t v[4] = {a.x1, a.y1, a.x2, a.y2};
  for (int k = 0; k < 4; ++k) t = base::replace_field(t, k + 1, base::text_of(v[k]), '/');
  return t;
}

void move_display_corner(DisplayArea& a, std::int32_t mx, std::int32_t my) {
  std::int64_t px = static_cast<std::int64_t>(mx) + 1, py = static_cast<std::int64_t>(my) + 1;
  std::int64_t d1 = (px - a.x1) * (px - a.x1) + (py - a.y1) * (py - a.y1);
  std::int64_t d2 = (px - a.x2) * (px - a.x2) + (py - a.y2) * (py - a.y2);
  auto down8 = [](std::int64_t v) { return static_cast<std::int32_t>(v < 0 ? -((-v + 7) / 8) * 8 : v / 8 * 8); };
  if (d1 <= d2) {
    a.x1 = down8(px);
    a.y1 = down8(py);
    if (a.x1 > a.x2) a.x1 = a.x2 - 7;
    if (a.y1 > a.y2) a.y1 = a.y2 - 7;
  } else {
    a.x2 = down8(px) - 1;
    a.y2 = down8(py) - 1;
    if (a.x2 < a.x1) a.x2 = a.x1 + 7;
    if (a.y2 < a.y1) a.y2 = a.y1 + 7;
  }
  // Unsigned, so a negative coordinate counts as above the limit too.
  for (std::int32_t* x : {&a.x1, &a.x2})
    if (static_cast<std::uint32_t>(*x) > 639) *x = 639;
  for (std::int32_t* y : {&a.y1, &a.y2})
    if (static_cast<std::uint32_t>(*y) > 479) *y = 479;
}

Text display_area_label(const DisplayArea& a) {
  Text t = base::text_of(a.x1);
  t += ",";
  t += base::text_of(a.y1);
  t += "/";
  t += base::text_of(a.x2);
  t += ",";
  t += base::text_of(a.y2);
  t += " (";
  t += base::text_of(a.x2 - a.x1 + 1);
  t += "x";
  t += base::text_of(a.y2 - a.y1 + 1);
  t += ")";
  return t;
}

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

void display_area_tool(ui::Task& task, DisplayArea& area) {
  auto kit = std::make_unique<ui::Kit>();
  ui::init_kit(*kit, task.screen, *task.font, task.skin);
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

bool display_area(ui::Task& task, int element) {
  project::ElementLines& lines = task.project->lines;
  Text field37 = project::line_field(lines.line[element], project::kFieldDisplayArea);
  DisplayArea area = display_area_of(field37);
  display_area_tool(task, area);
  if (!project::set_line_field(lines, element, project::kFieldDisplayArea, with_display_area(field37, area))) {
    base::report("tools", "element %d: the display area does not fit its line", element);
    return false;
  }
  return true;
}

}  // namespace tools
