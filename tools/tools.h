// Content tools: the run-mode tools that work on a project for the editor
// front end, each on the task the program hands it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "media/media.h"
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

// ---- Explode generator (run mode 8) ------------------------------------------------------

// A setting of an ".exp" script: each fragment draws its own value in low..high.
struct ExplodeRange {
  std::int32_t low = 0, high = 0;
};
// An ".exp" script: lines "key=low/high", keys in any case, other lines ignored.
struct ExplodeScript {
  ExplodeRange velocity{500, 500};        // thousandths of a model unit per frame
  ExplodeRange air_density{49520, 49520};  // drag divisor 50000 - value (at least 1)
  ExplodeRange spin{3000, 3000};           // 1/512 degree per frame about each axis
  ExplodeRange dummy{510, 510};            // read, not used
  ExplodeRange gravity{0, 0};              // added to the upward speed each frame
  ExplodeRange x_angle{-90, 90};           // launch tilt about x, 1/512 degree
  ExplodeRange z_angle{-90, 90};           // launch tilt about z, 1/512 degree
  ExplodeRange frames{1, 30};              // first and last frame file number
};
inline constexpr int kMaxExplodeFrames = 999;  // frame numbers have three digits
// The script of text, with defaults for keys it lacks. False, with *why (a
// phrase naming the line), when a known key's value is not two whole numbers
// "low/high" or the frames are not 1 <= first <= last <= 999.
bool parse_explode_script(std::string_view text, ExplodeScript& script, std::string* why);
// The name a typed script name saves under: its part before the first ".",
// letters and digits only, at most 8 of them ("" for none).
std::string explode_script_name(std::string_view typed);

// One fragment per source triangle.
struct Fragment {
  std::int32_t velocity[3] = {};  // x, y (up), z: thousandths of a unit per frame
  std::int32_t spin[3] = {};      // about x, y, z: 1/512 degree per frame
  std::int32_t divisor = 1;       // drag: v loses v |v| / divisor each frame
  std::int32_t gravity = 0;       // added to the upward speed each frame
};
// A random integer in lo..hi (either order), as the brains' random routine draws it.
using RandomBetween = std::function<std::int32_t(std::int32_t lo, std::int32_t hi)>;
// Each fragment's state drawn from the script: speed and launch tilts, spins, drag, gravity.
std::vector<Fragment> draw_fragments(const ExplodeScript& script, std::size_t count, const RandomBetween& random);
// One frame on: every triangle turned about its centre by its fragment's spin
// and moved by its velocity (up moves the file's z), then the velocity
// slowed by drag and pulled by gravity.
void move_fragments(std::vector<media::Triangle3ds>& triangles, std::vector<Fragment>& fragments);
// model_path less its last four characters, frame in three digits, ".3ds".
std::string frame_file(std::string_view model_path, int frame);

struct ExplodeOutcome {
  bool ok = false;
  int frames_written = 0, frames_failed = 0;
  std::string first_failed;
  std::string message;  // a panel text when not ok
};
// The frame files of the 3DS model at model_path, one per frame of the
// script, each written whole (a temporary renamed over it). A model that can't
// be read, is not a 3DS file or is damaged writes none.
ExplodeOutcome explode_mesh(std::string_view model_path, const ExplodeScript& script, const RandomBetween& random);
// The rewritten visual: first_line, then lines 2 .. last - first + 1, each the
// first with field 1 the line number and field 3 (or, when field 31 is not 0,
// field 30, with field 3 the first frame's file) naming frame file first + k - 1.
// CR LF lines; "" with *why when a line would not fit.
std::string exploded_visual(std::string_view first_line, const ExplodeRange& frames, std::string* why);
// The whole generation for the visual at visual_path, with the script at
// script_path (missing: the defaults): checked first, then the frame files,
// then the visual rewritten. *message is the success text or what went wrong;
// on any failure before the frames nothing is written.
bool explode_visual(std::string_view visual_path, std::string_view work_folder, std::string_view script_path,
                    const RandomBetween& random, std::string* message);
// Run mode 8: a visual chosen, the script edited (F2 saves it under a name in
// brains/, F1 loads one from there), the overwrite confirmed, then the frames
// and the visual written. True when the generation went ahead: the visual
// chosen starts the next choice (the state files are written).
bool explode_generator(ui::Task& task, int element);

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
