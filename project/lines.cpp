// Element lines: type names, aspect tags, path forms, insertion with its effects,
// the fixed tables and private brain names.
#include <dirent.h>
#include <strings.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "project/project_local.h"
#include "base/files.h"
#include "base/log.h"
#include "base/memory.h"

namespace project {

namespace {

constexpr std::string_view kTypeNames =
    "CAMERA-type element|3D-SHAPE-type element|FLAT-SHAPE-type element|SHADOW-type element||"
    "SPRITE-type element|FRAME-type element|BACKGROUND-type element|COUNTER-type element|"
    "TRACK-type element|LIGHT-type element|VISUAL-type element|BOUNDARY-type element";

// Aspect tag of each element type, as an extension. "*": the aspect file's own
// extension (backgrounds are ".g3d" files or images); "": no aspect.
constexpr std::string_view kTypeTags[kTypeCount] = {
    ".03d",  // camera
    ".a3d",  // 3D shape
    ".b3d",  // flat shape (an image)
    "",      // shadow
    "",      // type 4
    ".h3d",  // sprite (an image)
    ".f3d",  // picture frame (an image)
    "*",     // background
    ".e3d",  // counter (an image of digits)
    ".i3d",  // track
    ".l3d",  // light (from field 37)
    ".v3d",  // visual (".v3d" or ".3ds")
    ".m3d",  // boundary (ground map)
    ".x3d",  // mesh
};

bool path_exists(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0;
}

}  // namespace

std::string_view field_view(std::string_view s, int n, char sep) {
  if (n <= 0 || s.empty()) return {};
  std::size_t start = 0;
  for (int k = 1; k < n; ++k) {
    std::size_t at = s.find(sep, start);
    if (at == std::string_view::npos) return {};
    start = at + 1;
  }
  std::size_t end = s.find(sep, start);
  return s.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

std::string_view type_name(int type) {
  if (type < 0 || type >= kTypeCount) return {};
  return field_view(kTypeNames, type + 1, '|');
}

base::Text aspect_tag(int type, std::string_view aspect_path) {
  if (type < 0 || type >= kTypeCount) return {};
  if (kTypeTags[type] != "*") return kTypeTags[type];
  std::size_t dot = aspect_path.rfind('.');
  std::size_t slash = aspect_path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return base::lower(aspect_path.substr(dot, 4));
}

void write_tag(AspectRecord& record, std::string_view extension) {
  std::memset(record.tag, 0, sizeof record.tag);
  std::size_t n = extension.size() < 4 ? extension.size() : 4;
  for (std::size_t k = 0; k < n; ++k) record.tag[k] = extension[n - 1 - k];
}

base::Text tag_extension(const AspectRecord& record) {
  char ext[4];
  int n = 0;
  for (int k = 3; k >= 0; --k)
    if (record.tag[k]) ext[n++] = record.tag[k];
  return base::Text(std::string_view(ext, static_cast<std::size_t>(n)));
}

Tables budget_tables() {
  Tables t;
  if (!base::budget_reserved()) return t;
  t.elements = base::area_as<ElementRecord>(base::Area::element_table);
  t.aspects = base::area_as<AspectRecord>(base::Area::aspect_table);
  t.collision = base::area_as<uint8_t>(base::Area::collision_matrix);
  t.arena = base::area(base::Area::data_arena);
  static_assert(kMaxElements * sizeof(ElementRecord) <= base::area_size(base::Area::element_table));
  static_assert(kMaxAspects * sizeof(AspectRecord) <= base::area_size(base::Area::aspect_table));
  static_assert(kCollisionBytes <= base::area_size(base::Area::collision_matrix));
  return t;
}

base::Text private_brain_folder(const Host& host) {
  if (!host.brain_folder.empty()) return host.brain_folder;
  return host.player ? host.work_folder : host.work_folder + "brains/";
}

base::Text new_private_brain_name(Host& host) {
  base::Text name = private_brain_folder(host);
  name += base::text_of(host.next_brain++);
  name += ".bra";
  return name;
}

void remove_private_brains(const Project& project, const Host& host) {
  base::Text folder = private_brain_folder(host);
  for (int i = 0; i <= project.lines.highest && i < kMaxElements; ++i) {
    std::string_view brain = field_view(project.lines.line[i], kFieldBrain, '|');
    std::string_view name = brain.substr(std::min(brain.size(), folder.view().size()));
    if (brain.starts_with(folder.view()) && name.find('/') == std::string_view::npos &&
        base::ends_with_no_case(name, ".bra"))
      base::delete_file(brain);
  }
}

int remove_stale_private_brains(const Host& host) {
  base::Text folder = private_brain_folder(host);
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    std::string_view number = name.substr(0, name.size() >= 4 ? name.size() - 4 : 0);
    bool numbered = !number.empty() && std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!numbered || !base::ends_with_no_case(name, ".bra")) continue;
    struct stat info;
    if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
    if (unlinkat(dirfd(dir), entry->d_name, 0) == 0) ++removed;
  }
  closedir(dir);
  return removed;
}

// ---- Paths -----------------------------------------------------------------------

base::Text path_to_memory(std::string_view text, std::string_view work_folder) {
  base::Text slashes = base::replace_all(text, "\\", "/");
  if (slashes.too_long()) return slashes;
  base::Text out = base::replace_all(slashes, "./", work_folder);
  return out;
}

base::Text path_to_file(std::string_view text, std::string_view work_folder) {
  if (work_folder.empty()) return text;
  return base::replace_all(text, work_folder, "./");
}

base::Text resolve_path(std::string_view path) {
  if (path.empty() || path.size() >= 4096 || path.find('\0') != std::string_view::npos) return path;
  char c_path[4096];
  std::memcpy(c_path, path.data(), path.size());
  c_path[path.size()] = 0;
  if (path_exists(c_path)) return path;

  // Walk the folders: keep each part that exists as written, else take the
  // first entry of its folder that matches without regard to case.
  char found[4096];
  std::size_t used = 0;
  std::size_t pos = 0;
  if (path[0] == '/') {
    found[used++] = '/';
    pos = 1;
  }
  found[used] = 0;
  while (pos < path.size()) {
    std::size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    if (used + part.size() + 2 >= sizeof found) return path;
    std::size_t base = used;
    std::memcpy(found + used, part.data(), part.size());
    found[used + part.size()] = 0;
    if (!path_exists(found)) {
      found[base] = 0;
      DIR* dir = ::opendir(base ? found : ".");
      if (!dir) return path;
      bool matched = false;
      while (dirent* entry = ::readdir(dir)) {
        if (std::strlen(entry->d_name) == part.size() &&
            strncasecmp(entry->d_name, part.data(), part.size()) == 0) {
          std::memcpy(found + base, entry->d_name, part.size());
          matched = true;
          break;
        }
      }
      ::closedir(dir);
      if (!matched) return path;
    }
    used = base + part.size();
    if (pos <= path.size()) found[used++] = '/';
    found[used] = 0;
  }
  if (used > 1 && found[used - 1] == '/' && path.back() != '/') --used;
  return base::Text(std::string_view(found, used));
}

// ---- Lines -----------------------------------------------------------------------

bool set_line_field(ElementLines& lines, int i, int n, std::string_view value) {
  if (i < 0 || i > kMaxElements) return false;
  base::Text out = base::replace_field(lines.line[i], n, value, '|');
  if (out.too_long()) return false;
  lines.line[i] = out;
  return true;
}

base::Text default_camera_line(std::string_view work_folder) {
  base::Text line = "Camera|";
  line += work_folder;
  line +=
      "cameras/default_.03d|./sounds/null_.wav|-|0|0|0|0|0|0|0.000|0|0.000|0|0|0|0.000|0.000|"
      "0.000|0|0|0|0.000|0.000|0.000|0|0|0|0|0|1|0|1|0|1/1/2/1020|0|160/120/479/359/0/20&40/7|"
      "0/1|4096/2/50/0|14815378";
  return line;
}

namespace {

// Field 35 with every element reference (kind 1) at or above i raised by 1.
base::Text raise_references(std::string_view parameters, int i) {
  base::Text out = parameters;
  int n = base::value(field_view(parameters, 1, '/'));
  if (n > 129) n = 129;
  for (int k = 0; k < n; ++k) {
    int kind_field = 2 + 3 * k;
    if (base::value(field_view(out, kind_field, '/')) != 1) continue;
    std::string_view value_text = field_view(out, kind_field + 1, '/');
    int32_t index = base::value(value_text);
    if (index < i || index >= kMaxElements) continue;
    base::Text raised = base::replace_field(out, kind_field + 1, base::text_of(index + 1), '/');
    if (!raised.too_long()) out = raised;
  }
  return out;
}

void shift_matrix(uint8_t* m, int i) {
  // Rows at and above i move down one row; row i becomes 0.
  for (int r = kMaxElements - 1; r > i; --r) std::memcpy(m + 256 * r, m + 256 * (r - 1), 256);
  std::memset(m + 256 * i, 0, 256);
  // Columns likewise within every row.
  for (int r = 0; r < kMaxElements; ++r) {
    uint8_t* row = m + 256 * r;
    std::memmove(row + i + 1, row + i, static_cast<std::size_t>(kMaxElements - 1 - i));
    row[i] = 0;
  }
}

}  // namespace

bool insert_element(Project& project, int i, std::string_view line) {
  ElementLines& lines = project.lines;
  if (lines.highest + 1 >= kMaxElements) {
    base::report("project", "element table full, element line %d not inserted", i);
    return false;
  }
  if (i < 0 || i > lines.highest + 1) {
    base::report("project", "no element index %d to insert at", i);
    return false;
  }
  if (line.size() > static_cast<std::size_t>(base::kTextCapacity)) {
    base::report("project", "element line of %zu characters is too long", line.size());
    return false;
  }
  // References held by lines outside the range being loaded follow the moved
  // elements; the lines being loaded number elements of their own file.
  for (int j = 0; j <= lines.highest; ++j) {
    if (j >= project.load_start && j < project.load_end) continue;
    base::Text params = field_view(lines.line[j], kFieldUserParameters, '|');
    if (params.empty()) continue;
    base::Text raised = raise_references(params, i);
    if (!(raised == params)) set_line_field(lines, j, kFieldUserParameters, raised);
  }
  for (int j = lines.highest; j >= i; --j) {
    lines.line[j + 1] = lines.line[j];
    project.brain_origin[j + 1] = std::move(project.brain_origin[j]);
  }
  lines.line[i] = line;
  project.brain_origin[i] = BrainOrigin{};
  ++lines.highest;
  if (project.collision) shift_matrix(project.collision, i);
  if (project.load_start > i) ++project.load_start;
  if (project.load_end > i) ++project.load_end;
  return true;
}

}  // namespace project
