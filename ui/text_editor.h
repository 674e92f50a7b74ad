// The script text editor: a full-screen editor for brains and the other plain
// text files of the system, on an 80 x 40 grid of the 8-pixel font (12-pixel
// rows). The text is one buffer of lines ended by a single CR holding only
// the characters 32..122; the editor keeps a selection, a find string, an
// eight-slot undo ring and the clipboard through the panel kit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ui/ui.h"

namespace ui {

inline constexpr int kEditorColumns = 80;
inline constexpr int kEditorRows = 40;
inline constexpr int kEditorRowHeight = 12;     // pixels
inline constexpr std::size_t kMaxEditorText = 65520;  // bytes of text; an undo slot is 64 KiB with its header
inline constexpr int kUndoSlots = 8;
inline constexpr int kMaxFindText = 255;   // characters of the find string (F4)
// The editor's 8-pixel font, in the data folder (media::load_font(..., true)).
inline constexpr char kEditorFontFile[] = "font8.fnt";

// 0 = edit: the keys that change the text work, leaving may write the file;
// 1 = show: the text is only shown, long lines broken at their last blank.
enum class EditorMode : int { edit = 0, show = 1 };

// How the editor was left, valued as callers have always read it.
enum class EditorExit : int { escape = 0, f2 = 1, f1 = 2, ctrl_h = -1 };

// Where the editing window stands: the byte offset of the first line shown and
// the cursor's column (0..79) and row (0..39).
struct EditorView {
  std::int32_t top = 0;
  std::int32_t column = 0;
  std::int32_t row = 0;
};

// What opening a file found.
struct EditorOpen {
  bool ok = false;         // false: refused, the text is empty and error says why
  std::string error;       // a whole sentence for the user
  int dropped = 0;         // characters the editor cannot keep ("{", "|", "}", "~", above "z", control characters)
  std::string dropped_kinds;  // which of them, in words: "braces, tildes" ("" when none)
  bool missing = false;    // the file did not exist: an empty text of one line
};

struct EditorState;  // the buffer, the undo ring and the rest, about 670 KB

// One editor: open a text, run the main cycle, save. Fixed buffers are
// reserved when it is made; nothing grows while editing.
class TextEditor {
 public:
  TextEditor();
  ~TextEditor();
  TextEditor(const TextEditor&) = delete;
  TextEditor& operator=(const TextEditor&) = delete;

  // Reads path, cleans it (line feeds dropped, tabs as blanks, the filtered
  // characters counted in dropped) and, in show mode, breaks lines longer than
  // 79 characters. A text over kMaxEditorText bytes is refused, never cut.
  EditorOpen open(std::string_view path, EditorMode mode);
  // The same from bytes already read; name only names them in messages.
  EditorOpen open_text(std::string_view bytes, EditorMode mode, std::string_view name = "");

  // The main cycle on the kit's screen until Escape, F1, F2 or Ctrl+H (F1, F2
  // and Ctrl+H only in edit mode). Where waiting gives up (headless, the
  // scripted input used up) it leaves as Escape. Writes nothing.
  EditorExit run(Kit& kit);

  // The font the grid is drawn in (the 8-pixel font, kEditorFontFile); null,
  // the default, draws in kit.font. The editor does not own it.
  void set_font(const media::Font* font);

  // The text with CR LF line ends, as files hold it.
  std::string file_text() const;
  // The buffer as the editor holds it: lines ended by a single CR.
  std::string_view buffer() const;
  // Writes file_text() to path atomically (a temporary, then a rename). False
  // with error set when it could not; the old file is then untouched.
  bool save(std::string_view path, std::string* error) const;

  // True once the text was changed since it was opened or marked saved.
  bool modified() const;
  void mark_saved();
  // Characters dropped when the text was opened (see EditorOpen::dropped).
  int dropped() const;

  EditorMode mode() const;
  void set_mode(EditorMode mode);  // show mode does not re-break lines already opened
  EditorView view() const;
  void set_view(const EditorView& view);  // clamped to the text and the grid
  // Puts line n (1-based, clamped) in the window and the cursor at its start.
  void go_to_line(int line);
  // The cursor's line, 1-based (as the status line shows it). Lines are the
  // file's: in show mode the pieces of a broken line count as one.
  int cursor_line() const;
  // Show mode: up to two lines of text ("\n" between them) drawn over the
  // bottom of the screen (the compiler's message at an error), and the file
  // line marked as the error's (0: none). Empty text: nothing drawn.
  void set_banner(std::string_view text, int marked_line = 0);

  // One key or mouse event, as the main cycle applies it (the tests and the
  // benchmark drive the editor through these without a screen). scan_code is
  // the set-1 code, character the typed character (0 for none), modifiers the
  // sum of 3 (Shift), 4 (Ctrl) and 8 (Alt). Returns true when the event ends
  // the cycle, with the exit in *exit.
  bool key(Kit& kit, int scan_code, int character, int modifiers, EditorExit* exit);
  void mouse(int x, int y, bool left_down, bool left_was_down, int wheel);
  // Draws the 40 lines, the selection, the banner and (edit mode) the status line.
  void draw(Kit& kit) const;

 private:
  std::unique_ptr<EditorState> s_;
};

// The whole round trip on a file: open, edit until leaving, and in edit mode
// write the file back (CR LF) on leaving. When opening dropped characters, the
// user is told before the first write and may leave without writing; a file
// that is refused or cannot be written is reported on a message panel, never
// silently. An unchanged text is not written (the file keeps even what the
// editor cannot show); a file that did not exist is written. view (may be
// null) gives the window's place in show mode and receives it on leaving;
// font as for TextEditor::set_font.
EditorExit edit_text_file(Kit& kit, std::string_view path, EditorMode mode, EditorView* view = nullptr,
                          const media::Font* font = nullptr);

}  // namespace ui
