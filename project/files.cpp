// The project file (".prj") with its embedded brains, the collision file
// (".col") with the engine settings in row 254, and the editor state files.
#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "project/project_local.h"
#include "base/files.h"
#include "base/paths.h"
#include "base/log.h"
#include "base/memory.h"

namespace project {

namespace {

void show(const Host& host, std::string_view message) {
  if (!host.player && host.show_message) host.show_message(message);
}

bool write_file(std::string_view path, std::string_view bytes) {
  base::TextFile out;
  if (!out.open_write(path)) {
    base::report("project", "could not write %.*s", static_cast<int>(path.size()), path.data());
    return false;
  }
  bool ok = out.write_bytes(bytes.data(), bytes.size());
  return out.close() && ok;
}

// Writes bytes with every LF that has no CR before it written as CR LF; `before`
// is the byte written just before them. Returns the last byte of bytes (or before).
char write_crlf(base::TextFile& out, std::string_view bytes, char before, bool& ok) {
  std::size_t run = 0;
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    char previous = k ? bytes[k - 1] : before;
    if (bytes[k] != '\n' || previous == '\r') continue;
    ok = out.write_bytes(bytes.data() + run, k - run) && ok;
    ok = out.write_bytes("\r", 1) && ok;
    run = k;
  }
  ok = out.write_bytes(bytes.data() + run, bytes.size() - run) && ok;
  return bytes.empty() ? before : bytes.back();
}

// A private brain file from a brain block: every line ends in CR LF, whatever
// the project file used and even when its last line had no end.
bool write_brain(std::string_view path, std::string_view block) {
  base::TextFile out;
  if (!out.open_write(path)) {
    base::report("project", "could not write %.*s", static_cast<int>(path.size()), path.data());
    return false;
  }
  bool ok = true;
  char last = write_crlf(out, block, '\n', ok);
  if (last == '\r') ok = out.print("\n") && ok;  // a file cut between CR and LF
  else if (last != '\n') ok = out.print("\r\n") && ok;
  return out.close() && ok;
}

// One embedded brain: the "@" line and the lines after it up to the next line
// that begins with "@", or the end of the text.
struct BrainBlock {
  bool found = false;
  std::size_t at = 0;       // position of the "@" line
  std::string_view label;   // the "@" line after its "@"
  std::string_view body;
};

// The block whose "@" line is at `at` (a position in text, or npos); moves `at`
// to the next "@" line (npos after the last block).
BrainBlock take_brain_block(std::string_view text, std::size_t& at) {
  BrainBlock block;
  if (at >= text.size()) {
    at = std::string_view::npos;
    return block;
  }
  block.found = true;
  block.at = at;
  std::size_t line_end = text.find('\n', at);
  block.label = text.substr(at + 1, line_end == std::string_view::npos ? std::string_view::npos : line_end - at - 1);
  if (line_end == std::string_view::npos) {
    at = std::string_view::npos;
    return block;
  }
  if (!block.label.empty() && block.label.back() == '\r') block.label.remove_suffix(1);
  std::size_t start = line_end + 1;
  std::size_t next;
  if (start < text.size() && text[start] == '@') {
    next = start;
  } else {
    std::size_t found = text.find("\n@", start);
    next = found == std::string_view::npos ? std::string_view::npos : found + 1;
  }
  block.body = text.substr(start, next == std::string_view::npos ? std::string_view::npos : next - start);
  at = next;
  return block;
}

// The first line "@0" (ended by CR LF, LF or the end of the text); npos when none.
std::size_t first_brain_block(std::string_view text) {
  for (std::size_t at = text.find("@0"); at != std::string_view::npos; at = text.find("@0", at + 1)) {
    if (at != 0 && text[at - 1] != '\n') continue;
    std::string_view after = text.substr(at + 2, 2);
    if (after.empty() || after[0] == '\n' || after == "\r\n") return at;
  }
  return std::string_view::npos;
}

// 1-based number of the line holding position at.
int line_number_at(std::string_view text, std::size_t at) {
  std::string_view before = text.substr(0, at < text.size() ? at : text.size());
  return 1 + static_cast<int>(std::count(before.begin(), before.end(), '\n'));
}

bool all_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Warnings about one file being read: "path:N: warning: message", through Host::warn.
struct FileWarnings {
  const Host& host;
  std::string_view path;

  void operator()(int line, const char* format, ...) const __attribute__((format(printf, 3, 4))) {
    char message[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    char text[1024];
    int name = static_cast<int>(path.size());
    int n = path.empty() ? std::snprintf(text, sizeof text, "line %d: warning: %s", line, message)
            : line > 0   ? std::snprintf(text, sizeof text, "%.*s:%d: warning: %s", name, path.data(), line, message)
                         : std::snprintf(text, sizeof text, "%.*s: warning: %s", name, path.data(), message);
    std::string_view view(text, n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof text - 1));
    if (host.warnings) host.warnings->emplace_back(view);
    else if (host.warn) host.warn(view);
    else base::report("project", "%.*s", static_cast<int>(view.size()), view.data());
  }
};

// The folder part of a path ("." when it has none), for the sweep of stale temporaries.
std::string_view folder_of(std::string_view path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

void put_word(uint8_t* m, int offset, int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  for (int k = 0; k < 4; ++k) m[offset + k] = static_cast<uint8_t>(u >> (8 * k));
}

int32_t get_word(const uint8_t* m, int offset) {
  uint32_t u = 0;
  for (int k = 0; k < 4; ++k) u |= static_cast<uint32_t>(m[offset + k]) << (8 * k);
  return static_cast<int32_t>(u);
}

// Copies a brain file's lines, each ended by CR LF (LF alone becomes CR LF), into out.
bool append_brain_file(base::TextFile& out, std::string_view path) {
  std::byte chunk[65536];
  long offset = 0;
  char last = '\n';
  bool ok = true;
  for (;;) {
    long n = base::read_file_at(path, offset, chunk);
    if (n <= 0) break;
    last = write_crlf(out, {reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(n)}, last, ok);
    offset += n;
    if (n < static_cast<long>(sizeof chunk)) break;
  }
  if (offset > 0 && last != '\n') ok = out.print("\r\n") && ok;
  return ok;
}

constexpr std::string_view kCurrentPathDefaults[kCurrentPathLines] = {
    "3dshapes/default_.a3d",       "bckgrnds/default_.g3d",  "brains/default_.brn",
    "sprites/default_.pcx",        "3dsfiles/default_.3ds",  "elements/myele/default_.ele",
    "sprites/default_.pcx",        "frames/default_.pcx",    "images/default_.bmp",
    "projects/myprj/default.prj",  "visuals/default_.v3d",   "sounds/default_.wav",
    "sprites/default_.pcx",        "",                       "counters/default_.pcx",
    "grndmaps/default_.pcx",       "Zepta 5.2",              "images/jeep002_.pcx",
    "images/jeep004_.pcx",         "images/jeep005_.pcx",    "images/jeep006_.pcx",
    "images/jeep001_.pcx",         "images/jeep003_.pcx",
};
constexpr int kTitleLine = 17;  // a title, not a path: no working folder, "\" kept
constexpr int kEmptyPathLine = 14;

bool is_text_line(int line) { return line == 18 || line == 19; }  // zepta.ini

// Opens an atomic write of the collision file and writes the matrix of the
// project's elements, with the engine settings in row 254.
bool open_collision_file(Project& project, base::TextFile& out, std::string_view path) {
  std::array<uint8_t, kCollisionBytes> local{};
  uint8_t* m = project.collision ? project.collision : local.data();
  int highest = project.lines.highest;
  for (int r = highest + 1; r < kMaxElements; ++r)
    for (int c = highest + 1; c < kMaxElements; ++c) m[256 * r + c] = 0;
  settings_to_matrix(project.settings, m);
  if (!out.open_write_atomic(path)) {
    base::report("project", "could not write %.*s", static_cast<int>(path.size()), path.data());
    return false;
  }
  out.write_bytes(m, kCollisionBytes);
  return true;
}

}  // namespace

// ---- Project file ------------------------------------------------------------------

namespace {

// Fields that hold one number (decimal or integer); empty reads as 0.
constexpr int kNumberFields[] = {5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 40, 42, 43, 44, 45,
                                 46, 47, 48};

// "12", "-0.25", " 3 ": what the field readers take whole.
bool is_number(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
  std::size_t dot = s.find('.');
  std::string_view whole = s.substr(0, dot), part = dot == std::string_view::npos ? "" : s.substr(dot + 1);
  bool digits = std::all_of(whole.begin(), whole.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
                std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  return digits && !(whole.empty() && part.empty());
}

// The doubts about one element line (memory form) that the run would pass over
// in silence: a field that is no number, an aspect file that is not there (the
// type's default is shown instead). One warning each at most.
void check_element_line(std::string_view line, std::string_view work, const FileWarnings& warn, int number) {
  std::string_view name = field_view(line, kFieldName, '|').substr(0, 40);
  for (int n : kNumberFields) {
    std::string_view value = field_view(line, n, '|');
    if (value.empty() || is_number(value)) continue;
    value = value.substr(0, 40);
    warn(number, "element '%.*s': field %d is '%.*s', not a number", static_cast<int>(name.size()), name.data(), n,
         static_cast<int>(value.size()), value.data());
    break;
  }
  std::string_view type_field = field_view(line, kFieldType, '|');
  int type = all_digits(type_field) && type_field.size() <= 2 ? base::value(type_field) : -1;
  std::string_view fallback = default_aspect(type);
  std::string_view aspect = field_view(line, kFieldAspect, '|');
  if (fallback.empty() || aspect.empty() || aspect == "-") return;
  base::Text path = resolve_path(aspect);
  if (base::file_kind(path) == base::FileKind::regular || path == resolve_path(base::Text(work) + fallback)) return;
  base::Text shown = path_to_file(aspect, work);
  warn(number, "element '%.*s': aspect %s not found (%.*s shown instead)", static_cast<int>(name.size()), name.data(),
       shown.c_str(), static_cast<int>(fallback.size()), fallback.data());
}

// Element i's library brain (field 4 names a file): a private copy of it, or
// in a dry run the file itself. A brain file that cannot be copied stays named
// as it is, so that the compiler tells "Brain not found" with the line that
// names it (`missing`), and no older private file of that name is ever run.
void take_library_brain(Project& project, Host& host, int i, std::string_view brain, BrainOrigin missing) {
  base::Text from = resolve_path(brain);
  bool found = base::file_kind(from) == base::FileKind::regular;
  project.brain_origin[i] = found ? BrainOrigin{std::string(from.view()), 0} : std::move(missing);
  project.brain_origin[i].library = true;
  base::Text name = host.dry_run || !found ? from : new_private_brain_name(host);
  if (name != from) {
    base::delete_file(name);
    if (!base::copy_file(from, name)) name = from;
  }
  set_line_field(project.lines, i, kFieldBrain, name);
}

// A private brain file written from text; whatever stood at its name before
// goes first, so a failed write leaves no older brain to be run.
void take_written_brain(Project& project, Host& host, int i, std::string_view text, bool embedded) {
  base::Text name = new_private_brain_name(host);
  if (!host.dry_run) {
    base::delete_file(name);
    bool ok = embedded ? write_brain(name, text) : write_file(name, text);
    if (ok && host.player && host.scramble_in_place) host.scramble_in_place(name);
  }
  set_line_field(project.lines, i, kFieldBrain, name);
}

// The count line as the header leaves it: its text and number (0 when the file
// holds header lines only).
struct CountLine {
  std::string_view text;
  int number = 0;
};

// What the element lines leave for the settings line and the embedded brains.
struct ElementsRead {
  int skip_before[kMaxElements + 1] = {};  // embedded brains of dropped lines before kept line k
  int position[kMaxElements] = {};         // place of kept line k among the file's element lines
  int line_number[kMaxElements] = {};      // line of the file that kept line k came from
  int kept = 0;
  int embedded_lines = 0;  // element lines whose brain field is "-", kept or dropped
  bool count_fits = false;  // the count line gives the number of element lines
  std::string_view settings;
  int settings_number = 0;  // line number of the settings line (0 when the file has none)
};

// Header: the description is the last line beginning with ";"; the count line
// is only checked against the element lines that follow.
CountLine read_header(Project& project, base::LineReader& reader) {
  CountLine count;
  for (;;) {
    std::string_view line = reader.next();
    if (line.empty() || line[0] != ';') {
      count.text = line;
      count.number = reader.number;
      break;
    }
    project.description = line.substr(1);
    if (project.description.too_long()) project.description.clear();
    if (reader.at_end) break;
  }
  return count;
}

// Element lines, up to the first whose field 36 is empty (the settings line).
ElementsRead read_element_lines(Project& project, std::string_view work, base::LineReader& reader,
                                const FileWarnings& warn, CountLine count) {
  ElementsRead r;
  int dropped = 0;
  int first_dropped = 0;
  int bad_type = 0;
  int element_lines = 0;
  while (!reader.at_end) {
    std::string_view raw = reader.next();
    std::string_view type = field_view(raw, kFieldType, '|');
    if (type.empty()) {
      r.settings = raw;
      r.settings_number = reader.number;
      int fields = base::field_count(raw, '|');
      if (fields > 3)
        warn(reader.number, "%d fields: too few for an element line (its type is field %d), read as the settings line",
             fields, kFieldType);
      break;
    }
    if (!bad_type && (!all_digits(type) || type.size() > 2 || base::value(type) >= kTypeCount)) bad_type = reader.number;
    bool embedded = field_view(raw, kFieldBrain, '|') == "-";
    r.embedded_lines += embedded;
    base::Text line;
    bool fits = raw.size() <= static_cast<std::size_t>(base::kTextCapacity);
    if (fits) {
      line = path_to_memory(raw, work);
      fits = !line.too_long();
    }
    if (fits && r.kept < kMaxElements && insert_element(project, project.load_end, line)) {
      ++project.load_end;
      check_element_line(line, work, warn, reader.number);
      r.line_number[r.kept] = reader.number;
      r.position[r.kept++] = element_lines;
    } else {
      if (!dropped) first_dropped = reader.number;
      ++dropped;
      if (embedded) ++r.skip_before[r.kept < kMaxElements ? r.kept : kMaxElements];
    }
    ++element_lines;
  }
  if (dropped)
    warn(first_dropped, "%d element line%s dropped (too long, or over %d elements)", dropped, dropped == 1 ? "" : "s",
         kMaxElements);
  if (bad_type) warn(bad_type, "element type is not a number from 0 to %d", kTypeCount - 1);
  if (!count.number) count.number = reader.number;  // the file holds header lines only
  // A file cut short says so once: its missing brain blocks follow from the count.
  r.count_fits = all_digits(count.text) && count.text.size() <= 9 && base::value(count.text) == element_lines;
  if (!all_digits(count.text))
    warn(count.number, "no element count where the count line should be");
  else if (!r.count_fits)
    warn(r.settings_number ? r.settings_number : reader.number, "%d element line%s where line %d counts %.*s",
         element_lines, element_lines == 1 ? "" : "s", count.number,
         static_cast<int>(std::min<std::size_t>(count.text.size(), 12)), count.text.data());
  return r;
}

// The settings line: background, its repetitions and the shared variables, for
// a project that keeps them.
void read_settings_line(Project& project, std::string_view work, const FileWarnings& warn, const ElementsRead& r) {
  if (!project.settings_line) return;
  base::Text line;
  if (r.settings.size() <= static_cast<std::size_t>(base::kTextCapacity)) line = path_to_memory(r.settings, work);
  if (line.too_long() || r.settings.size() > static_cast<std::size_t>(base::kTextCapacity)) {
    warn(r.settings_number, "settings line too long, ignored");
    line.clear();
  }
  project.background = base::field(line, 1, '|');
  project.background_repeat = base::value(base::field(line, 2, '|'));
  if (project.background_repeat == 0) project.background_repeat = 1;
  project.shared_variables = base::field(line, 3, '|');
}

// Embedded brains: the "@" blocks from the first "@0" line on go in order to
// the elements whose brain field is "-", whatever their labels say; a label
// that is not the element's place in the file only gets a warning.
void read_embedded_brains(Project& project, Host& host, std::string_view text, std::string_view path,
                          const FileWarnings& warn, const ElementsRead& r) {
  const int embedded_lines = r.embedded_lines;
  std::size_t at = first_brain_block(text);
  int blocks = 0;
  std::size_t first_extra = std::string_view::npos;  // the first block beyond one per "-" element
  auto take = [&] {
    std::size_t here = at;
    BrainBlock block = take_brain_block(text, at);
    if (block.found && blocks++ == embedded_lines) first_extra = here;
    return block;
  };
  int mislabelled = 0;
  BrainBlock first_mislabelled;
  int first_mislabelled_element = 0;
  int first = project.load_end - r.kept;
  for (int k = 0; k < r.kept; ++k) {
    for (int s = 0; s < r.skip_before[k]; ++s) take();
    int i = first + k;
    std::string_view brain = field_view(project.lines.line[i], kFieldBrain, '|');
    if (brain == "-") {
      // A missing block gives an empty brain.
      BrainBlock block = take();
      bool label_fits = all_digits(block.label) && block.label.size() < 10 && base::value(block.label) == r.position[k];
      if (block.found && !label_fits && !mislabelled++) {
        first_mislabelled = block;
        first_mislabelled_element = r.position[k];
      }
      take_written_brain(project, host, i, block.body, true);
      project.brain_origin[i] = block.found ? BrainOrigin{std::string(path), line_number_at(text, block.at)} : BrainOrigin{};
    } else {
      take_library_brain(project, host, i, base::Text(brain), {std::string(path), r.line_number[k]});
    }
  }
  while (take().found) {
  }
  if (mislabelled) {
    std::string_view label = first_mislabelled.label.substr(0, 40);
    warn(line_number_at(text, first_mislabelled.at), "brain block \"@%.*s\" goes to element %d%s",
         static_cast<int>(label.size()), label.data(), first_mislabelled_element,
         mislabelled > 1 ? ", and more blocks to elements other than their labels" : "");
  }
  if (blocks != embedded_lines && r.count_fits) {
    int line = first_extra != std::string_view::npos ? line_number_at(text, first_extra)
                                                      : line_number_at(text, text.empty() ? 0 : text.size() - 1);
    warn(line, "%d brain block%s for %d element%s whose brain is \"-\"", blocks, blocks == 1 ? "" : "s",
         embedded_lines, embedded_lines == 1 ? "" : "s");
  }
}

}  // namespace

void read_project_text(Project& project, Host& host, std::span<const char> data, std::string_view path) {
  std::string_view text(data.data(), data.size());
  FileWarnings warn{host, path};
  base::LineReader reader{text};
  CountLine count = read_header(project, reader);
  ElementsRead elements = read_element_lines(project, host.work_folder, reader, warn, count);
  read_settings_line(project, host.work_folder, warn, elements);
  read_embedded_brains(project, host, text, path, warn, elements);
}

bool load_project(Project& project, Host& host, std::string_view path) {
  bool ok = true;
  base::remove_stale_temporaries(folder_of(path));
  base::remove_stale_temporaries(private_brain_folder(host));
  project.settings = EngineSettings{};
  for (BrainOrigin& origin : project.brain_origin) origin = BrainOrigin{};
  if (!base::file_exists(path)) {
    if (project.collision) std::memset(project.collision, 0, kCollisionBytes);
    project.lines.line[0] = default_camera_line(host.work_folder);
    project.lines.highest = 0;
    project.current_element = 0;
  } else {
    project.lines.highest = -1;
    project.load_start = project.load_end = 0;
    project.settings_line = true;
    show(host, "Loading data, please wait...");
    std::span<std::byte> buffer = base::area(base::Area::project_buffer);
    long size = base::file_size(path);
    if (buffer.size() < 2) {
      base::report("project", "no project file buffer");
      ok = false;
    } else if (size >= 0) {
      std::size_t room = buffer.size() - 1;
      if (static_cast<std::size_t>(size) > room)
        FileWarnings{host, path}(0, "project file of %ld bytes, only its first %zu read", size, room);
      long n = base::read_file_at(path, 0, buffer.first(room));
      if (n < 0) {
        ok = false;
      } else {
        buffer[static_cast<std::size_t>(n)] = std::byte{0};
        read_project_text(project, host,
                          std::span<const char>(reinterpret_cast<const char*>(buffer.data()),
                                                static_cast<std::size_t>(n)),
                          path);
      }
    } else {
      ok = false;
    }
    show(host, "");
    project.lines.highest = project.load_end - 1;
    project.load_end = 0;
    project.fog_start = 10240;
    project.fog_end = 15360;
    project.fog_colour = 0xFF000000;
    base::Text col = collision_path(path);
    if (!read_collision_file(project, col) && project.collision) std::memset(project.collision, 0, kCollisionBytes);
    long col_size = base::file_size(col);
    if (col_size >= 0 && col_size < static_cast<long>(kCollisionBytes))
      FileWarnings{host, col.view()}(0, "collision file of %ld bytes, not %d: the missing bytes read as 0", col_size,
                                     kCollisionBytes);
  }

  // Private copies of library brains; an element of a new project whose brain
  // field is still "-" gets an empty one.
  for (int i = 0; i <= project.lines.highest; ++i) {
    if (project.brain_origin[i].library) continue;  // taken from the file already
    std::string_view brain = field_view(project.lines.line[i], kFieldBrain, '|');
    if (base::ends_with_no_case(brain, ".brn")) {
      take_library_brain(project, host, i, base::Text(brain), {std::string(path), 0});
    } else if (brain == "-") {
      take_written_brain(project, host, i, "", false);
    }
  }
  return ok;
}

std::vector<EmbeddedBrain> embedded_brains(std::string_view text) {
  std::vector<EmbeddedBrain> brains;
  std::size_t at = first_brain_block(text);
  int line = line_number_at(text, at);
  std::size_t counted = at;  // lines are counted up to here
  while (at != std::string_view::npos) {
    BrainBlock block = take_brain_block(text, at);
    if (!block.found) break;
    line += static_cast<int>(std::count(text.begin() + counted, text.begin() + block.at, '\n'));
    counted = block.at;
    brains.push_back({block.label, block.body, line});
  }
  return brains;
}

bool is_project_text(std::string_view text) {
  base::LineReader reader{text};
  while (!reader.at_end) {
    std::string_view line = reader.next();
    if (!line.empty() && line[0] == ';') continue;
    return all_digits(line);
  }
  return false;
}

bool save_project(Project& project, const Host& host, std::string_view path) {
  std::string_view work = host.work_folder;
  base::remove_stale_temporaries(folder_of(path));
  int highest = project.lines.highest < kMaxElements ? project.lines.highest : kMaxElements - 1;
  base::TextFile out;
  if (!out.open_write_atomic(path)) {
    base::report("project", "could not write %.*s", static_cast<int>(path.size()), path.data());
    return false;
  }
  out.print(";");
  out.print_line(project.description);
  out.print_line(base::text_of(highest + 1));
  for (int i = 0; i <= highest; ++i) {
    base::Text line = path_to_file(project.lines.line[i], work);
    line = base::replace_field(line, kFieldBrain, "-", '|');
    out.print_line(line);
  }
  base::Text settings = path_to_file(project.background, work);
  settings += "|";
  settings += base::text_of(project.background_repeat);
  settings += "|";
  settings += project.shared_variables;
  if (settings.too_long()) settings.clear();
  out.print_line(settings);
  for (int i = 0; i <= highest; ++i) {
    out.print("@");
    out.print_line(base::text_of(i));
    append_brain_file(out, field_view(project.lines.line[i], kFieldBrain, '|'));
  }
  if (!out.sync()) return false;

  // Both temporaries are whole on disk: only the two renames remain. The
  // collision file goes first, so a new project file never stands without it.
  base::TextFile col;
  if (!open_collision_file(project, col, collision_path(path)) || !col.sync()) {
    out.discard();
    return false;
  }
  if (!col.commit()) {
    out.discard();
    return false;
  }
  return out.commit();
}

int parse_shared_variables(std::string_view list, std::span<SharedVariable> out) {
  int count = base::field_count(list, ',');
  int n = 0;
  for (int k = 1; k <= count && n < static_cast<int>(out.size()); ++k) {
    std::string_view entry = field_view(list, k, ',');
    std::size_t open = entry.find('(');
    uint32_t index = static_cast<uint32_t>(base::value(entry.substr(0, open))) & 2047;
    uint32_t machine = open == std::string_view::npos ? 0 : static_cast<uint32_t>(base::value(entry.substr(open + 1)));
    out[n++] = {static_cast<int32_t>(machine * 65536u + index), 0};
  }
  return n;
}

// ---- Collision file ----------------------------------------------------------------

base::Text collision_path(std::string_view project_path) {
  base::Text path = base::drop_right(project_path, 3);
  path += "col";
  return path;
}

EngineSettings settings_from_matrix(const uint8_t* m) {
  EngineSettings s;
  s.clip_distance = get_word(m, kSettingsOffset);
  s.background_top = get_word(m, kSettingsOffset + 4);
  s.background_bottom = get_word(m, kSettingsOffset + 8);
  s.hood_type = get_word(m, kSettingsOffset + 12);
  s.camera_fov = get_word(m, kSettingsOffset + 20);
  if (s.background_bottom <= s.background_top) s.background_bottom = 479;
  if (s.camera_fov < 1 || s.camera_fov > 100) s.camera_fov = 100;
  return s;
}

void settings_to_matrix(const EngineSettings& s, uint8_t* m) {
  put_word(m, kSettingsOffset, s.clip_distance);
  put_word(m, kSettingsOffset + 4, s.background_top);
  put_word(m, kSettingsOffset + 8, s.background_bottom);
  put_word(m, kSettingsOffset + 12, s.hood_type);
  put_word(m, kSettingsOffset + 16, 0);
  put_word(m, kSettingsOffset + 20, s.camera_fov);
}

bool read_collision_file(Project& project, std::string_view path) {
  std::array<uint8_t, kCollisionBytes> local;
  uint8_t* m = project.collision ? project.collision : local.data();
  // A short file is read as far as it goes; the rest is 0.
  if (base::load_file(path, 0, std::as_writable_bytes(std::span(m, kCollisionBytes))) != 0) return false;
  project.settings = settings_from_matrix(m);
  return true;
}

bool write_collision_file(Project& project, std::string_view path) {
  base::TextFile out;
  return open_collision_file(project, out, path) && out.close();
}

// ---- State files -------------------------------------------------------------------

int32_t editor_value(const StateFiles& state, int line) {
  if (line < 1 || line > kEditorStateLines) return 0;
  return base::value(state.editor[line - 1]);
}

void set_editor_value(StateFiles& state, int line, int32_t value) {
  if (line < 1 || line > kEditorStateLines) return;
  state.editor[line - 1] = base::text_of(value);
}

void read_state_files(StateFiles& state, const Host& host) {
  base::TextFile in;
  bool open = in.open_read(host.work_folder + "data/curpaths.ini");
  bool ended = !open;
  for (int k = 0; k < kCurrentPathLines; ++k) {
    int line_number = k + 1;
    base::Text line;
    bool have = false;
    if (!ended) {
      line = in.read_line();
      have = !(in.at_eof() && line.empty());
      ended = in.at_eof();
    }
    if (!have) {  // no file, or a file cut short: the default
      if (line_number == kTitleLine) line = kCurrentPathDefaults[k];
      else if (line_number == kEmptyPathLine) line.clear();
      else line = host.work_folder + kCurrentPathDefaults[k];
    } else if (line_number != kTitleLine) {
      line = base::replace_all(line, "\\", "/");
    }
    state.current_path[k] = line;
  }
  in.close();
  state.current_track = host.work_folder + "tracks/default_.i3d";

  if (in.open_read(host.data_folder + "zepta.ini")) {
    for (int k = 0; k < kEditorStateLines; ++k) {
      base::Text line = in.read_line();
      if (in.at_eof() && line.empty()) break;  // the rest stays as it is
      state.editor[k] = line;
      if (in.at_eof()) break;
    }
    in.close();
  } else {
    state.editor[0] = "0";
    state.editor[1] = "512";
    state.editor[2] = "0";
  }
  for (int k = 0; k < kEditorStateLines; ++k)
    if (!is_text_line(k + 1) && state.editor[k].empty()) state.editor[k] = "0";
}

bool write_state_files(const StateFiles& state, const Host& host) {
  bool ok = true;
  base::TextFile out;
  if (out.open_write_atomic(host.data_folder + "zepta.ini")) {
    for (const base::Text& line : state.editor) out.print_line(line);
    ok = out.close() && ok;
  } else {
    base::report("project", "could not write zepta.ini");
    ok = false;
  }
  if (out.open_write_atomic(host.work_folder + "data/curpaths.ini")) {
    for (const base::Text& line : state.current_path) out.print_line(line);
    ok = out.close() && ok;
  } else {
    base::report("project", "could not write curpaths.ini");
    ok = false;
  }
  return ok;
}

}  // namespace project
