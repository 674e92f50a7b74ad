// The parts that the boxes of dialogs.cpp are built from, shared with the
// other dialogs of the folder.
#pragma once

#include <string_view>

#include "ui/ui.h"

namespace ui::parts {

// A box being shown: where its panel lies.
struct Box {
  int x = 0, y = 0, width = 0, height = 0;
};
inline constexpr int kBoxTitleRows = 26;  // the panel's title bar and top frame

// Clears the screen and draws a panel of about width x height centred on it,
// the caption in its title bar; the button table emptied.
Box open_box(Kit& kit, int width, int height, std::string_view caption);
int button_width(const Kit& kit, std::string_view label);
int button_height(const Kit& kit);
int field_height(const Kit& kit);
// A push button with its label, entered in the table; focused buttons get a highlight frame.
int push_button(Kit& kit, std::string_view label, int x, int y, bool focused);
// A one-line field at (x, y) showing text, the cursor after `cursor` characters (none when negative).
void draw_field(Kit& kit, int x, int y, int width, std::string_view text, int cursor);
// A left press over a button of the table: its index (the press waited out), else -1.
int clicked_button(Kit& kit);
void release_mouse(Kit& kit);
// The caption and the text ("|" lines) on stderr, for a box nobody answers.
void print_on_stderr(std::string_view caption, std::string_view text);
// The longest start of text that is at most width pixels wide.
std::string_view fit(const media::Font& f, std::string_view text, int width);

}  // namespace ui::parts
