// The keyword reference of the brain guide, written from the keyword table and
// the bindings in force: what brains can call, by subject.
#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "brain/brain.h"

namespace brain {

namespace {

// Subjects in the order the reference gives them; any other follows by name.
constexpr std::string_view kSubjectOrder[] = {
    "Element fields", "Choosing and switching elements", "Motion", "Arithmetic", "Run control",
    "Keyboard, mouse and game controllers", "Collisions", "Text and 2D layers", "Rendering", "Lights",
    "Shadows", "Tracks", "Splines", "Video and programs", "Save games", "Sound", "Races", "Network",
    "Strings, arrays and dialogs",
};

// Where a subject goes: its place in kSubjectOrder, or after all of them.
int subject_rank(std::string_view subject) {
  auto it = std::find(std::begin(kSubjectOrder), std::end(kSubjectOrder), subject);
  return static_cast<int>(it - std::begin(kSubjectOrder));
}

// "`name(a, b)`"
std::string call_of(int row) {
  std::string call = "`" + std::string(keyword(row).name) + "(";
  for (int i = 0; i < keyword(row).argc; ++i) {
    if (i) call += ", ";
    call += static_cast<char>('a' + i);
  }
  return call + ")`";
}

bool by_name(int x, int y) { return std::string_view(keyword(x).name) < std::string_view(keyword(y).name); }

}  // namespace

std::string keyword_reference() {
  // Bound routine rows (one per synonym group) and the rows nothing has built.
  std::vector<int> bound, unbuilt;
  for (int row = 0; row < kKeywordRows; ++row) {
    if (is_placeholder(row))
      unbuilt.push_back(row);
    else if (routine_row(row) == row)
      bound.push_back(row);
  }
  std::sort(bound.begin(), bound.end(), [](int x, int y) {
    std::string_view sx = routine_subject(x), sy = routine_subject(y);
    if (sx != sy) return std::pair(subject_rank(sx), sx) < std::pair(subject_rank(sy), sy);
    return by_name(x, y);
  });
  std::sort(unbuilt.begin(), unbuilt.end(), by_name);

  std::string out;
  for (std::size_t i = 0; i < bound.size(); ++i) {
    int row = bound[i];
    std::string_view subject = routine_subject(row);
    if (i == 0 || subject != routine_subject(bound[i - 1])) {
      if (i) out += "\n";
      out += "### " + std::string(subject.empty() ? "Other" : subject) + "\n\n";
      out += "| Keyword | What it does |\n|---|---|\n";
    }
    std::vector<int> synonyms;
    for (int other = 0; other < kKeywordRows; ++other)
      if (other != row && routine_row(other) == row) synonyms.push_back(other);
    std::sort(synonyms.begin(), synonyms.end(), by_name);
    out += "| " + call_of(row);
    for (std::size_t s = 0; s < synonyms.size(); ++s)
      out += std::string(s ? ", `" : " (`") + keyword(synonyms[s]).name + "`";
    out += synonyms.empty() ? " | " : ") | ";
    for (const char* c = routine_doc(row); *c; ++c) {
      if (*c == '|') out += '\\';
      out += *c;
    }
    out += " |\n";
  }
  if (!unbuilt.empty()) {
    if (!out.empty()) out += "\n";
    out += "### Not built yet\n\nThese keywords compile and take their parameters, but do nothing yet and return 0:\n\n";
    for (std::size_t i = 0; i < unbuilt.size(); ++i) out += (i ? ", " : "") + call_of(unbuilt[i]);
    out += "\n";
  }
  return out;
}

}  // namespace brain
