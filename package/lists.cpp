// Projects lists: data/multilev.ini and the named lists of multilev/.
#include <cstdlib>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/log.h"
#include "package/package.h"

namespace package {

namespace {

bool is_letter_or_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

base::Text default_slot_line(std::string_view base_folder) {
  std::string b(base_folder);
  return base::Text(b + "images/wait_.bmp|" + b + "images/anykey_.bmp|" + b + "projects/myprj/default_.prj|0");
}

void reset_list(ProjectsList& list, std::string_view base_folder) {
  base::Text line = default_slot_line(base_folder);
  for (base::Text& slot : list.slot) slot = line;
  toggle_compile_switch(list, 0);
}

bool load_list(ProjectsList& list, std::string_view path, std::string_view base_folder) {
  base::TextFile file;
  if (!file.open_read(path)) {
    reset_list(list, base_folder);
    return false;
  }
  for (base::Text& slot : list.slot) {
    base::Text line = file.read_line();
    slot = base::replace_all(base::replace_all(line.view(), "\\", "/").view(), "./", base_folder);
  }
  return true;
}

bool save_list(const ProjectsList& list, std::string_view path, std::string_view base_folder) {
  base::TextFile file;
  bool ok = file.open_write_atomic(path);
  for (int i = 0; ok && i < kSlots; ++i) ok = file.print_line(base::replace_all(list.slot[i].view(), base_folder, "./"));
  return file.close() && ok;
}

base::Text slot_field(const ProjectsList& list, int slot, int n) {
  if (slot < 0 || slot >= kSlots) return {};
  return base::field(list.slot[slot].view(), n, '|');
}

void set_slot_field(ProjectsList& list, int slot, int n, std::string_view value) {
  if (slot < 0 || slot >= kSlots || n < 1) return;
  std::vector<std::string_view> fields;
  std::string_view line = list.slot[slot].view();
  for (std::size_t at = 0;;) {
    std::size_t bar = line.find('|', at);
    fields.push_back(line.substr(at, bar == std::string_view::npos ? std::string_view::npos : bar - at));
    if (bar == std::string_view::npos) break;
    at = bar + 1;
  }
  if (fields.size() < static_cast<std::size_t>(n)) fields.resize(n);
  fields[n - 1] = value;
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) out += '|';
    out.append(fields[i]);
  }
  list.slot[slot] = base::Text(out);
}

void toggle_compile_switch(ProjectsList& list, int slot) {
  base::Text value = slot_field(list, slot, kCompileSwitch);
  long v = std::strtol(value.c_str(), nullptr, 10);
  set_slot_field(list, slot, kCompileSwitch, base::text_of(static_cast<std::int32_t>(v ^ 1)).view());
}

base::Text list_name_of(std::string_view typed) {
  std::string_view part = typed.substr(0, typed.find('.'));
  std::string name;
  for (char c : part)
    if (is_letter_or_digit(c) && name.size() < 8) name += c;
  return base::Text(name);
}

std::string_view file_name_of(std::string_view path) {
  std::size_t cut = path.find_last_of("/\\:");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace package
