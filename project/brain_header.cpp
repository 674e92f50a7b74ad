// Brain headers: the user parameters a brain declares, the signature of its
// declaration lines and the upkeep of both in element lines (fields 35, 40, 45, 46).
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/files.h"
#include "base/log.h"
#include "base/text.h"
#include "project/project.h"
#include "project/project_local.h"

namespace project {

namespace {

constexpr int kFirstSlot = 1020;  // record byte of declaration 0; each further one 4 less

// Calls f(line) for every line of text, ended by LF or CR LF; f returns false to stop.
template <typename F>
void for_each_line(std::string_view text, F f) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a UTF-8 byte-order mark
  base::LineReader reader{text};
  while (!reader.at_end && f(reader.next())) {
  }
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// A brain line as the header sees it, and as the compiler does when it looks
// for declarations: lower case, tabs as blanks, cut at the first ";", trimmed.
std::string reduced_line(std::string_view line) {
  line = trimmed(line.substr(0, line.find(';')));
  std::string out(line);
  for (char& c : out) {
    if (c == '\t') c = ' ';
    else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

// Kind of a reduced line: 7 "var ", 1..6 "user" + tag, 0 another "user" line, -1 none.
int declaration_kind(std::string_view reduced) {
  if (reduced.starts_with("var ")) return 7;
  if (!reduced.starts_with("user")) return -1;
  if (reduced.size() >= 8)
    for (int k = 0; k < 6; ++k)
      if (reduced.substr(4, 4) == kUserTags[k]) return k + 1;
  return 0;
}

// The whole file; false when it cannot be read.
bool read_text(std::string_view path, std::string& out) {
  out.clear();
  if (path.empty() || path == "-") return false;
  base::Text real = resolve_path(path);
  long size = base::file_size(real);
  if (size < 0) return false;
  out.resize(static_cast<std::size_t>(size));
  if (size == 0) return true;
  long got = base::read_file_at(real, 0, std::as_writable_bytes(std::span<char>(out)));
  if (got < 0) return false;
  out.resize(static_cast<std::size_t>(got));
  return true;
}

uint32_t rotate_left(uint32_t v, int n) {
  n &= 31;
  return n == 0 ? v : (v << n) | (v >> (32 - n));
}

// The line with every field 35 element reference to old_index naming new_index.
base::Text renumbered(std::string_view params, int old_index, int new_index, bool& changed) {
  base::Text out = params;
  int n = base::value(field_view(params, 1, '/'));
  if (n > kMaxParameters) n = kMaxParameters;
  for (int k = 0; k < n; ++k) {
    int kind_field = 2 + 3 * k;
    if (base::value(field_view(out, kind_field, '/')) != 1) continue;
    std::string_view setting = trimmed(field_view(out, kind_field + 1, '/'));
    if (setting.empty() || base::value(setting) != old_index) continue;
    base::Text next = base::replace_field(out, kind_field + 1, base::text_of(new_index), '/');
    if (next.too_long()) continue;
    out = next;
    changed = true;
  }
  return out;
}

}  // namespace

ParameterList parse_parameters(std::string_view field35) {
  ParameterList list;
  int n = base::value(field_view(field35, 1, '/'));
  if (n > kMaxParameters) n = kMaxParameters;
  int fields = base::field_count(field35, '/');
  for (int k = 0; k < n && 4 + 3 * k <= fields; ++k) {
    Parameter& p = list.parameter[list.count++];
    p.kind = base::value(field_view(field35, 2 + 3 * k, '/'));
    p.setting = std::string(field_view(field35, 3 + 3 * k, '/'));
    p.slot = base::value(field_view(field35, 4 + 3 * k, '/'));
  }
  return list;
}

std::string format_parameters(const ParameterList& list) {
  std::string out = std::to_string(list.count);
  for (int k = 0; k < list.count; ++k) {
    const Parameter& p = list.parameter[k];
    out += '/';
    out += std::to_string(p.kind);
    out += '/';
    out += p.setting;
    out += '/';
    out += std::to_string(p.slot);
  }
  return out;
}

ParameterList read_declarations(std::string_view brain_text) {
  ParameterList list;
  int declared = 0;  // variables the compiler numbers: kinds 1..7
  for_each_line(brain_text, [&](std::string_view line) {
    std::string reduced = reduced_line(line);
    int kind = declaration_kind(reduced);
    if (kind < 0) return true;
    Parameter& p = list.parameter[list.count++];
    p.kind = kind;
    std::size_t equals = reduced.find('=');
    std::string_view setting =
        equals == std::string::npos ? std::string_view() : trimmed(std::string_view(reduced).substr(equals + 1));
    // "/" and "|" separate the fields of the element line: a setting ends before them.
    setting = trimmed(setting.substr(0, setting.find_first_of("/|")));
    p.setting = std::string(setting);
    std::string_view declared_name = std::string_view(reduced).substr(0, equals);
    declared_name.remove_prefix(kind == 7 ? 4 : std::min<std::size_t>(8, declared_name.size()));
    p.name = std::string(trimmed(declared_name));
    // A "user" line with an unknown tag is no variable to the compiler: it takes
    // no slot of its own, so the variables after it keep theirs.
    p.slot = kFirstSlot - 4 * declared;
    if (kind != 0) ++declared;
    return list.count < kMaxParameters;
  });
  return list;
}

ParameterList declarations_of(std::string_view path) {
  std::string text;
  if (!read_text(path, text)) return {};
  return read_declarations(text);
}

HeaderSignature header_signature_of(std::string_view brain_text) {
  HeaderSignature h;
  int k = 0;
  for_each_line(brain_text, [&](std::string_view line) {
    std::string reduced = reduced_line(line);
    bool user = reduced.starts_with("user");
    if (!user && !reduced.starts_with("var ")) return true;
    if (user) ++h.user_lines;
    uint32_t checksum = 0;
    int j = 0;
    for (auto c = reduced.rbegin(); c != reduced.rend(); ++c, ++j)
      checksum += rotate_left(static_cast<unsigned char>(*c), j);
    h.signature ^= rotate_left(checksum, k);
    ++k;
    return true;
  });
  return h;
}

HeaderSignature header_signature(std::string_view path) {
  std::string text;
  if (!read_text(path, text)) return {};
  return header_signature_of(text);
}

bool read_header(ElementLines& lines, int i) {
  if (i < 0 || i > kMaxElements) return false;
  std::string field35 = format_parameters(declarations_of(line_field(lines.line[i], kFieldBrain)));
  if (field35.size() <= static_cast<std::size_t>(base::kTextCapacity) &&
      set_line_field(lines, i, kFieldUserParameters, field35))
    return true;
  base::report("project", "element %d: the user parameters of its brain do not fit in its line; kept as they were",
               i);
  return false;
}

base::Text header_notice(std::string_view element_name) {
  base::Text notice = "A brain's header modification has occurred, so the|";
  notice += element_name;
  notice += "|element configuration (if any) was reset.|To cofigure again the element, enter the Info panel for it";
  return notice;
}

namespace {

// Element i's fields 35 (the brain's declarations at their defaults), 40 (its
// signature), 45 and 46 ("0"): all four or none. False (reported) when they do
// not fit in the line, which is then left as it was.
bool reset_element(ElementLines& lines, int i, const ParameterList& list, uint32_t signature) {
  const base::Text& line = lines.line[i];
  std::string field35 = format_parameters(list);
  bool fits = field35.size() <= static_cast<std::size_t>(base::kTextCapacity);
  base::Text next = line;
  if (fits) next = base::replace_field(line, kFieldUserParameters, field35, '|');
  if (fits && !next.too_long()) next = base::replace_field(next, kFieldBrainChecksum, std::to_string(signature), '|');
  if (fits && !next.too_long()) next = base::replace_field(next, kFieldEditorPosition, "0", '|');
  if (fits && !next.too_long()) next = base::replace_field(next, kFieldEditorPosition + 1, "0", '|');
  if (!fits || next.too_long()) {
    base::report("project", "element %d: the user parameters of its brain do not fit in its line; kept as they were",
                 i);
    return false;
  }
  lines.line[i] = next;
  return true;
}

}  // namespace

bool reset_header(ElementLines& lines, int i) {
  if (i < 0 || i > kMaxElements) return false;
  std::string text;
  if (!read_text(line_field(lines.line[i], kFieldBrain), text)) return reset_element(lines, i, {}, 0);
  return reset_element(lines, i, read_declarations(text), header_signature_of(text).signature);
}

HeaderCheck check_header(ElementLines& lines, int i) {
  if (i < 0 || i > kMaxElements) return HeaderCheck::same;
  std::string text;
  bool readable = read_text(line_field(lines.line[i], kFieldBrain), text);
  HeaderSignature now = readable ? header_signature_of(text) : HeaderSignature{};
  uint32_t stored = static_cast<uint32_t>(base::value(field_view(lines.line[i], kFieldBrainChecksum, '|')));
  if (stored == now.signature) return HeaderCheck::same;
  // A configuration that does not fit leaves the line as it was, still out of
  // date, so the next check tries again.
  if (!reset_element(lines, i, readable ? read_declarations(text) : ParameterList{}, now.signature))
    return HeaderCheck::same;
  return now.user_lines > 0 ? HeaderCheck::reset_with_notice : HeaderCheck::reset;
}

void renumber_element_parameters(ElementLines& lines, int old_index, int new_index) {
  for (int j = 0; j <= lines.highest && j <= kMaxElements; ++j) {
    std::string_view params = field_view(lines.line[j], kFieldUserParameters, '|');
    if (params.empty()) continue;
    bool changed = false;
    base::Text out = renumbered(params, old_index, new_index, changed);
    if (changed && !set_line_field(lines, j, kFieldUserParameters, out))
      base::report("project", "element %d: its element parameters could not be renumbered (line full)", j);
  }
}

}  // namespace project
