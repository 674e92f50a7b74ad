// Content tools: the run-mode tools that work on a project for the editor
// front end, each on the task the program hands it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"
#include "ui/ui.h"

namespace tools {

// ---- Display-area setup (run mode 14) ---------------------------------------------------

struct DisplayArea {
  std::int32_t x1 = 0, y1 = 0, x2 = 639, y2 = 479;  // 640 x 480 screen pixels, edges included
};

// Sub-fields 1..4 of field 37 ("x1/y1/x2/y2/...").
DisplayArea display_area_of(std::string_view field37);
// Field 37 with sub-fields 1..4 replaced by the area in decimal; later sub-fields kept.
base::Text with_display_area(std::string_view field37, const DisplayArea& area);
// Moves the corner nearer to the click at (mx, my), as the tool does.
void move_display_corner(DisplayArea& area, std::int32_t mx, std::int32_t my);
// "x1,y1/x2,y2 (WxH)"
base::Text display_area_label(const DisplayArea& area);

// The tool on the task's screen: edits area until Escape.
void display_area_tool(ui::Task& task, DisplayArea& area);
// Run mode 14: field 37 of the element edited by the tool. False when nothing is to be saved.
bool display_area(ui::Task& task, int element);

// ---- 3D background (run mode 15) ----------------------------------------------------------

// The screen rows the 3D background image is stretched over, edges included.
struct BackgroundBand {
  std::int32_t top = 0, bottom = 479;
};

// A repetition count the question accepts: exactly one of the low 31 bits set.
bool valid_repetitions(std::int32_t n);
// A click on screen row r: row r + 1 goes to the nearer of the two rows (the
// bottom one when it is strictly nearer); a bottom row left above the top row
// puts the moved row 7 rows beyond the other. Rows stay on the 480-row screen.
void move_background_row(BackgroundBand& band, std::int32_t r);

// Run mode 15: the image chosen, the repetitions asked, the band and hood type
// placed. False (nothing to save) when no image was chosen.
bool background3d(ui::Task& task, int element);

// ---- Brain editor (run mode 13) and brain parameters (run mode 5) -------------------

// Run mode 13: element's brain in the script text editor. F2 compiles the text
// first (an error is shown at its line, then editing goes on there) and saves
// it under a name asked for in the brains folder; Escape leaves, asking first
// when the text was changed; F1 shows the brain as it was before this edit at
// the same place; Ctrl+H selects a library brain for the element. True when
// the element changed (the project is then saved).
bool brain_editor(ui::Task& task, int element);
// The file name a typed brain name saves to, ".brn" added when missing; ""
// with *why (a panel text) for a name that is empty or holds a slash, a
// backslash, a bar, a leading dot, two dots in a row or a control character.
std::string brain_file_name(std::string_view typed, std::string* why);
// Run mode 5: first the header check of element (the notice shown when its
// brain has "user" lines), then the parameter panel of its user parameters,
// one at a time, until Escape or until waiting gives up; none when the brain
// has no user parameters (a line on stderr). Fields 45 and 46 keep where the
// panel was left. True when some element line changed.
bool brain_parameters(ui::Task& task, int element);

}  // namespace tools
