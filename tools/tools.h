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

// ---- Collision-map editor (run mode 2) -------------------------------------------------

// The cross-map grid on the 640 x 480 screen: n cells of w x h pixels each way,
// from (x0, y0). n = 0 (an empty project) has no cells.
struct CrossMap {
  int n = 0, w = 0, h = 0, x0 = 0, y0 = 0;
};
CrossMap cross_map_of(int elements);  // elements: highest element index + 1
// The cell (row, column) under the mouse; false outside the grid.
bool cell_under(const CrossMap& map, int mx, int my, int& row, int& column);
// An element line whose type (field 36) can take part in a pair: camera, 3D
// shape, flat shape, shadow, visual, mesh (0, 1, 2, 3, 11, 13).
bool collidable_kind(std::string_view line);
// A pair's matrix byte stepped by +1 or -1 round channels 0..11; a byte of 12
// or more (a damaged file) counts as channel 0.
std::uint8_t step_channel(std::uint8_t byte, int by);
// Palette index of a pair cell: 2 when either kind cannot collide, 81 for
// channel 0 (bytes of 12 or more too), else the channel's colour code.
std::uint8_t pair_colour(std::string_view line_a, std::string_view line_b, std::uint8_t byte);
// The Space key: the trace point mirrored across the diagonal, kept on the screen.
void mirror_trace(const CrossMap& map, int& x, int& y);
// Run mode 2: pairs' channels stepped by clicks until Escape (or until waiting
// gives up). False (nothing to save) for an empty project, which only gets a message.
bool collision_map(ui::Task& task, int element);

// ---- Animation renamer (run mode 9) ----------------------------------------------------

// What a rename of a frame family came to.
struct RenameOutcome {
  int count = 0;        // frames of the family (k - 1 of the message), missing list frame 1 included
  int moved = 0;        // frames that have their new name
  std::string failed;   // "" when every frame was renamed; else the frame that was not, and why
};
// Renames the family old_name to new_name in folder, frame by frame with
// rename(2), from the last frame down, so a failure leaves the frames before
// it under their old names (still a family) and those after it under the new.
// When every frame is renamed and overwrite is set, frames of the old new_name
// family beyond the new count are deleted.
RenameOutcome rename_animation(std::string_view folder, std::string_view old_name, std::string_view new_name,
                               bool overwrite);
// The digits of a numbered list's name ("walk001" gives 3, "run7" 1; at most
// 3); 0 when it ends in no digit or has nothing before its digits.
int list_digits(std::string_view list_name);
// Converts the numbered list base + 1, 2, ... (digits wide) + ".pcx" in folder
// into the family base; as rename_animation otherwise.
RenameOutcome convert_list(std::string_view folder, std::string_view base, int digits, bool overwrite);
// Run mode 9: the animation tools menu until it is left. Never saves a project.
bool animation_renamer(ui::Task& task, int element);

}  // namespace tools
