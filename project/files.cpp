// The project file (".prj") with its embedded brains, the collision file
// (".col") with the engine settings in row 254, and the editor state files.
#include <array>
#include <cstring>

#include "project/project_local.h"
#include "base/log.h"
#include "base/memory.h"

namespace project {

namespace {

// Lines of a text in memory; only CR LF ends a line. The last line counts even
// without CR LF; a text ending in CR LF yields one more, empty, line.
struct LineReader {
  std::string_view text;
  std::size_t pos = 0;
  bool at_end = false;

  std::string_view next() {
    if (at_end) return {};
    std::size_t end = text.find("\r\n", pos);
    std::string_view line;
    if (end == std::string_view::npos) {
      line = text.substr(pos);
      pos = text.size();
      at_end = true;
    } else {
      line = text.substr(pos, end - pos);
      pos = end + 2;
    }
    return line;
  }
};

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

// Finds the brain block that starts after the "@" line at `at` (a position in
// text, or npos): returns the block and moves `at` to the next "@" line.
std::string_view take_brain_block(std::string_view text, std::size_t& at) {
  if (at >= text.size()) {
    at = std::string_view::npos;
    return {};
  }
  std::size_t line_end = text.find("\r\n", at);
  if (line_end == std::string_view::npos) {
    at = std::string_view::npos;
    return {};
  }
  std::size_t start = line_end + 2;
  std::size_t next;
  if (start < text.size() && text[start] == '@') {
    next = start;
  } else {
    std::size_t found = text.find("\r\n@", start);
    next = found == std::string_view::npos ? std::string_view::npos : found + 2;
  }
  std::string_view block = text.substr(start, next == std::string_view::npos ? std::string_view::npos
                                                                              : next - start);
  at = next;
  return block;
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

// Copies a brain file's lines, each ended by CR LF, into out.
bool append_brain_file(base::TextFile& out, std::string_view path) {
  std::byte chunk[65536];
  long offset = 0;
  char last = '\n';
  char before_last = '\r';
  bool ok = true;
  for (;;) {
    long n = base::read_file_at(path, offset, chunk);
    if (n <= 0) break;
    ok = out.write_bytes(chunk, static_cast<std::size_t>(n)) && ok;
    before_last = n >= 2 ? static_cast<char>(chunk[n - 2]) : last;
    last = static_cast<char>(chunk[n - 1]);
    offset += n;
    if (n < static_cast<long>(sizeof chunk)) break;
  }
  if (offset > 0 && !(before_last == '\r' && last == '\n')) ok = out.print("\r\n") && ok;
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

}  // namespace

// ---- Project file ------------------------------------------------------------------

void read_project_text(Project& project, Host& host, std::span<const char> data) {
  std::string_view text(data.data(), data.size());
  std::string_view work = host.work_folder;
  LineReader reader{text};

  // Header: the description is the last line beginning with ";"; the count line is dropped.
  for (;;) {
    std::string_view line = reader.next();
    if (line.empty() || line[0] != ';') break;
    project.description = line.substr(1);
    if (project.description.too_long()) project.description.clear();
    if (reader.at_end) break;
  }

  // Element lines, up to the first whose field 36 is empty (the settings line).
  // skip_before[k]: embedded brains of dropped lines before kept line k.
  int skip_before[kMaxElements + 1] = {};
  int kept = 0;
  int dropped = 0;
  std::string_view settings;
  while (!reader.at_end) {
    std::string_view raw = reader.next();
    if (field_view(raw, kFieldType, '|').empty()) {
      settings = raw;
      break;
    }
    bool embedded = field_view(raw, kFieldBrain, '|') == "-";
    base::Text line;
    bool fits = raw.size() <= static_cast<std::size_t>(base::kTextCapacity);
    if (fits) {
      line = path_to_memory(raw, work);
      fits = !line.too_long();
    }
    if (fits && kept < kMaxElements && insert_element(project, project.load_end, line)) {
      ++project.load_end;
      ++kept;
    } else {
      ++dropped;
      if (embedded) ++skip_before[kept < kMaxElements ? kept : kMaxElements];
    }
  }
  if (dropped)
    base::report("project", "%d element lines could not be loaded (too long or over %d)", dropped,
                  kMaxElements);

  if (project.settings_line) {
    base::Text line;
    if (settings.size() <= static_cast<std::size_t>(base::kTextCapacity)) line = path_to_memory(settings, work);
    if (line.too_long() || settings.size() > static_cast<std::size_t>(base::kTextCapacity)) {
      base::report("project", "settings line too long, ignored");
      line.clear();
    }
    project.background = base::field(line, 1, '|');
    project.background_repeat = base::value(base::field(line, 2, '|'));
    if (project.background_repeat == 0) project.background_repeat = 1;
    project.shared_variables = base::field(line, 3, '|');
  }

  // Embedded brains: one "@" block per element whose brain field is "-", in order.
  std::size_t at = text.find("@0\r\n");
  if (at != 0 && at != std::string_view::npos && text[at - 1] != '\n') {
    // "@0" must begin a line; look for one that does.
    std::size_t found = text.find("\n@0\r\n");
    at = found == std::string_view::npos ? std::string_view::npos : found + 1;
  }
  int first = project.load_end - kept;
  for (int k = 0; k < kept; ++k) {
    for (int s = 0; s < skip_before[k]; ++s) take_brain_block(text, at);
    int i = first + k;
    base::Text name = new_private_brain_name(host);
    std::string_view brain = field_view(project.lines.line[i], kFieldBrain, '|');
    if (brain == "-") {
      // A missing block gives an empty brain.
      std::string_view block = take_brain_block(text, at);
      if (write_file(name, block) && host.player && host.scramble_in_place) host.scramble_in_place(name);
    } else {
      base::Text from = resolve_path(brain);
      if (!base::copy_file(from, name))
        base::report("project", "brain %.*s not found", static_cast<int>(brain.size()), brain.data());
    }
    set_line_field(project.lines, i, kFieldBrain, name);
  }
}

bool load_project(Project& project, Host& host, std::string_view path) {
  bool ok = true;
  project.settings = EngineSettings{};
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
      if (static_cast<std::size_t>(size) > room) {
        base::report("project", "project file of %ld bytes cut to %zu", size, room);
      }
      long n = base::read_file_at(path, 0, buffer.first(room));
      if (n < 0) {
        ok = false;
      } else {
        buffer[static_cast<std::size_t>(n)] = std::byte{0};
        read_project_text(project, host,
                          std::span<const char>(reinterpret_cast<const char*>(buffer.data()),
                                                static_cast<std::size_t>(n)));
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
    if (!read_collision_file(project, collision_path(path)) && project.collision)
      std::memset(project.collision, 0, kCollisionBytes);
  }

  // Private copies of library brains; an element of a new project whose brain
  // field is still "-" gets an empty one.
  for (int i = 0; i <= project.lines.highest; ++i) {
    std::string_view brain = field_view(project.lines.line[i], kFieldBrain, '|');
    if (ends_with_no_case(brain, ".brn")) {
      base::Text from = resolve_path(brain);
      base::Text name = new_private_brain_name(host);
      if (!base::copy_file(from, name))
        base::report("project", "brain %.*s not found", static_cast<int>(brain.size()), brain.data());
      set_line_field(project.lines, i, kFieldBrain, name);
    } else if (brain == "-") {
      base::Text name = new_private_brain_name(host);
      write_file(name, "");
      set_line_field(project.lines, i, kFieldBrain, name);
    }
  }
  return ok;
}

bool save_project(Project& project, const Host& host, std::string_view path) {
  std::string_view work = host.work_folder;
  int highest = project.lines.highest < kMaxElements ? project.lines.highest : kMaxElements - 1;
  base::TextFile out;
  bool ok = out.open_write_atomic(path);
  if (!ok) {
    base::report("project", "could not write %.*s", static_cast<int>(path.size()), path.data());
  } else {
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
    ok = out.close();
  }

  bool col_ok = write_collision_file(project, collision_path(path));
  return ok && col_ok;
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
  std::array<uint8_t, kCollisionBytes> local{};
  uint8_t* m = project.collision ? project.collision : local.data();
  int highest = project.lines.highest;
  for (int r = highest + 1; r < kMaxElements; ++r)
    for (int c = highest + 1; c < kMaxElements; ++c) m[256 * r + c] = 0;
  settings_to_matrix(project.settings, m);
  base::TextFile out;
  if (!out.open_write_atomic(path)) {
    base::report("project", "could not write %.*s", static_cast<int>(path.size()), path.data());
    return false;
  }
  out.write_bytes(m, kCollisionBytes);
  return out.close();
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
