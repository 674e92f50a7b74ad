// The script text editor (being built: this first form keeps the text and
// leaves at once, so that its callers can be written against it).
#include "ui/text_editor.h"

namespace ui {

struct EditorState {
  std::string text = "\r";
  EditorMode mode = EditorMode::edit;
  EditorView view;
};

TextEditor::TextEditor() : s_(std::make_unique<EditorState>()) {}
TextEditor::~TextEditor() = default;

EditorOpen TextEditor::open(std::string_view, EditorMode mode) {
  s_->mode = mode;
  return {true, "", 0, true};
}
EditorOpen TextEditor::open_text(std::string_view bytes, EditorMode mode, std::string_view) {
  s_->text = std::string(bytes);
  s_->mode = mode;
  return {true, "", 0, false};
}
EditorExit TextEditor::run(Kit&) { return EditorExit::escape; }
std::string TextEditor::file_text() const { return s_->text; }
std::string_view TextEditor::buffer() const { return s_->text; }
bool TextEditor::save(std::string_view, std::string* error) const {
  if (error) *error = "not built yet";
  return false;
}
bool TextEditor::modified() const { return false; }
void TextEditor::mark_saved() {}
int TextEditor::dropped() const { return 0; }
EditorMode TextEditor::mode() const { return s_->mode; }
void TextEditor::set_mode(EditorMode mode) { s_->mode = mode; }
EditorView TextEditor::view() const { return s_->view; }
void TextEditor::set_view(const EditorView& view) { s_->view = view; }
void TextEditor::go_to_line(int) {}
int TextEditor::cursor_line() const { return 1; }
void TextEditor::set_banner(std::string_view, int) {}
bool TextEditor::key(Kit&, int, int, int, EditorExit*) { return false; }
void TextEditor::mouse(int, int, bool, bool, int) {}
void TextEditor::draw(Kit&) const {}

EditorExit edit_text_file(Kit& kit, std::string_view path, EditorMode mode, EditorView*) {
  TextEditor editor;
  editor.open(path, mode);
  return editor.run(kit);
}

}  // namespace ui
