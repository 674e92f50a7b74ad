// The boxes that brains open in a run, drawn with the panel kit on the
// program's own screen: the message box, the input box, the list box, the
// file box (through the list browser) and the runtime error box. Each waits for
// the user or the input script; where nobody can answer it prints its text on
// stderr and takes its default answer.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "ui/ui.h"

namespace engine {
struct Dialogs;
}

namespace ui {

// ---- The boxes brains open ------------------------------------------------------

// A message box's answers, valued as `msg_box` returns them.
enum class MessageAnswer : int { cancel = 0, ok = 1, no = 2, yes = 3 };

// The message box: text with an icon (0 exclamation, 1 information, 2 question,
// 3 stop, else none) and buttons 1 OK and Cancel, 2 Yes and No, 3 Yes, No and
// Cancel, else OK alone; the caption in the title bar. Enter or Space answers
// the focused button (the first, until Tab or the arrows move it), Escape and
// the close box Cancel (OK when alone, No without Cancel), the letters Y, N, O
// and C their button.
// When waiting gives up it prints caption and text on stderr and takes the first.
MessageAnswer message_box(Kit& kit, std::string_view text, std::string_view caption, int buttons, int icon);
// The input box: text edited in a field of at most max_chars characters, the
// prompt above it in a text area of 16, 44 or 64 dialog units (lines 1, 2, 3;
// the box 69, 97 or 121 units high) or, for any other lines, in the title bar
// (the box 45 units high). True for OK (Enter), false for Cancel (Escape, the
// close box). When waiting gives up: as OK, the texts printed on stderr.
bool edit_box(Kit& kit, std::string_view prompt, std::string_view caption, int lines, std::string& text,
              int max_chars);
// The list box: the prompt placed as in edit_box, a field with the chosen item
// and the drop-down of items under it, starting at selection (none when it is
// no item's index). Up, Down, Page Up, Page Down, Home, End or a click choose.
// Returns the chosen index for OK (-1 when none is chosen), -1 for Cancel.
// When waiting gives up: as OK, the prompt and the item printed on stderr.
int list_box(Kit& kit, std::string_view prompt, std::string_view caption, int lines,
             std::span<const std::string> items, int selection);
// The mask of a file box's filter: "Text files|*.txt;*.log|All|*.*" (or with
// "\" between the parts) gives "*.txt"; a filter without a pattern "*.*".
std::string file_mask(std::string_view filter);
// The file box: a file to open, chosen in the list browser from the folder of
// path, or the name of a file to save (asking before replacing or creating
// one); relative names lie in work_folder. True with path the chosen file,
// given from the working folder when it lies inside it; false when cancelled,
// and at once (printing its prompt on stderr) when waiting gives up.
bool file_box(Kit& kit, std::string& path, std::string_view filter, std::string_view caption, bool save,
              int max_chars, std::string_view work_folder);
// The runtime error box: caption "Runtime Error", a stop icon, the message and OK.
void runtime_error_box(Kit& kit, std::string_view message);
// Fills dialogs with the boxes above, drawn with kit (which must outlive the run).
void attach_dialogs(engine::Dialogs& dialogs, Kit& kit);

}  // namespace ui
