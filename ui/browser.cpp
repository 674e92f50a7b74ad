// The directory listing into the shared string table, the places that stand in
// for drive letters, and the list browser: a scrolling list of names and sizes.
#include <dirent.h>
#include <fnmatch.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "media/media.h"
#include "platform/platform.h"
#include "project/project.h"
#include "ui/browser_local.h"

namespace ui {

StringTable& shared_strings() {
  static StringTable table;  // reserved once, as the other fixed tables (about 1 MB)
  return table;
}

// ---- Small steps shared by the browsers ----------------------------------------------------

namespace browse {

std::string on_disk(std::string_view path) {
  bool slash = !path.empty() && path.back() == '/' && path.size() > 1;
  if (slash) path.remove_suffix(1);
  std::string out(project::resolve_path(path).view());
  if (slash) out += '/';
  return out;
}

void wait_step(Kit& kit) {
  await_input(kit);
  present(kit);
}

std::string_view fit_text(const media::Font& font, std::string_view text, int width) {
  while (!text.empty() && media::text_width(font, text) > width) text.remove_suffix(1);
  return text;
}

void draw_outlined(Kit& kit, std::string_view text, int x, int y) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      if (dx || dy) draw_centred(kit, text, x + dx, y + dy, kBlack);
  draw_centred(kit, text, x, y, kWhite);
}

void report_shown(std::string_view lines) { std::fprintf(stderr, "%.*s", static_cast<int>(lines.size()), lines.data()); }

void leave(Kit& kit, bool gave_up) {
  show_pointer(kit, false);
  if (!gave_up) {
    clear_screen(kit.screen);
    present(kit);
  }
  wait_mouse_release(kit);
  flush_input(kit);
}

}  // namespace browse

using namespace browse;

// ---- Directory listing ---------------------------------------------------------------------

namespace {

struct Found {
  std::string lower, name;
  long size;
};

bool ends_with_bmp(std::string_view mask) {
  if (mask.size() < 4) return false;
  std::string_view e = mask.substr(mask.size() - 4);
  return base::lower(e) == ".bmp";
}

bool matches(std::string_view mask, const std::string& name) {
  if (mask == "*.*" || mask == "*" || mask.empty()) return true;
  std::string m(mask);
  if (fnmatch(m.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
  // The models mask takes every model file the program loads but ".x" (meshes have their own kind).
  if (mask.size() >= 4 && base::lower(mask.substr(mask.size() - 4)) == ".3ds")
    for (const char* other : {".gltf", ".glb", ".obj"}) {
      std::string alt = std::string(mask.substr(0, mask.size() - 4)) + other;
      if (fnmatch(alt.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
    }
  if (ends_with_bmp(mask)) {
    m.replace(m.size() - 4, 4, ".ppm");
    return fnmatch(m.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
  }
  return false;
}

void sort_found(std::vector<Found>& v) {
  std::sort(v.begin(), v.end(), [](const Found& a, const Found& b) {
    return a.lower != b.lower ? a.lower < b.lower : a.name < b.name;  // byte order; std::string compares unsigned
  });
}

}  // namespace

int list_directory(StringTable& table, std::string_view folder, std::string_view mask) {
  for (base::Text& e : table.entry) e.clear();
  std::string dir(folder.empty() ? std::string_view("./") : folder);
  if (dir.back() != '/') dir += '/';
  DIR* d = opendir(dir.c_str());
  if (!d) return -1;
  std::vector<Found> folders, files;
  while (dirent* de = readdir(d)) {
    std::string name = de->d_name;
    // Hidden files stay hidden; "|" would split the entry; a name must fit an entry.
    if (name.empty() || name[0] == '.' || name.find('|') != std::string::npos || name.size() > 1000) continue;
    struct stat st;
    if (stat((dir + name).c_str(), &st) != 0 && lstat((dir + name).c_str(), &st) != 0) continue;
    std::string lower(base::lower(name).view());
    if (S_ISDIR(st.st_mode)) {
      folders.push_back({lower, name, 0});
    } else if (matches(mask, name)) {
      files.push_back({lower, name, static_cast<long>(st.st_size)});
    }
  }
  closedir(d);
  sort_found(folders);
  sort_found(files);
  int n = 0;
  for (const Found& f : folders) {
    if (n == kSharedStrings - 1) return n;
    table.entry[++n] = std::string_view(std::string(kFolderPrefix) + f.lower + "|0");
  }
  for (const Found& f : files) {
    if (n == kSharedStrings - 1) return n;
    table.entry[++n] = std::string_view(f.lower + "|" + std::to_string(f.size));
  }
  return n;
}

Entry entry_of(std::string_view e) {
  Entry out;
  std::size_t bar = e.rfind('|');
  std::string_view name = e.substr(0, bar);
  if (name.substr(0, sizeof kFolderPrefix - 1) == kFolderPrefix) {
    out.folder = true;
    name.remove_prefix(sizeof kFolderPrefix - 1);
  }
  out.name = name;
  out.size = bar == std::string_view::npos ? 0 : base::value(e.substr(bar + 1));
  return out;
}

BrowseFolders browse_folders(const Task& task) {
  BrowseFolders f;
  if (task.host) {
    f.work = task.host->work_folder;
    f.data = task.host->data_folder;
  }
  return f;
}

// ---- Places ------------------------------------------------------------------------------------

namespace {

// Sub-folders of folder (no hidden ones, none named skip), sorted.
std::vector<std::string> sub_folders(const std::string& folder, std::string_view skip = {}) {
  std::vector<std::string> out;
  DIR* d = opendir(folder.c_str());
  if (!d) return out;
  while (dirent* de = readdir(d)) {
    std::string name = de->d_name;
    if (name.empty() || name[0] == '.' || name == skip) continue;
    struct stat st;
    if (stat((folder + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) out.push_back(folder + name + "/");
  }
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

std::string home_folder() {
  const char* home = std::getenv("HOME");
  if ((!home || !*home) && getpwuid(getuid())) home = getpwuid(getuid())->pw_dir;
  std::string h = home && *home ? home : "/";
  if (h.back() != '/') h += '/';
  return h;
}

std::string user_name() {
  const passwd* pw = getpwuid(getuid());
  return pw && pw->pw_name ? pw->pw_name : "";
}

}  // namespace

int list_places(std::string_view work_folder, Place* places) {
  int n = 0;
  auto add = [&](const char* label, std::string_view path) {
    if (n == kMaxPlaces) return;
    std::snprintf(places[n].label, sizeof places[n].label, "%s", label);
    places[n].path = path;
    ++n;
  };
  add("W", work_folder.empty() ? std::string_view("./") : work_folder);
  add("H", home_folder());
  add("/", "/");
  std::string user = user_name();
  std::vector<std::string> media = sub_folders("/media/", user);
  if (!user.empty())
    for (const std::string& m : sub_folders("/media/" + user + "/")) media.push_back(m);
  for (const std::string& m : sub_folders("/mnt/")) media.push_back(m);
  for (std::size_t i = 0; i < media.size() && n < kMaxPlaces; ++i) {
    char label[2] = {static_cast<char>('0' + n - 2), 0};  // "1" to "7"
    add(label, media[i]);
  }
  return n;
}

// ---- List browser --------------------------------------------------------------------------

namespace {

constexpr char kNoFiles[] = "(No files found)";
constexpr int kRows = 20;

struct ListLayout {
  int c = 8, h = 5;           // a fifth of "Mm0wW"; half the font height
  int x0 = 0, y0 = 0;
  int yt = 0, yb = 0;         // the list box's top and bottom
  int box_left = 0, box_right = 0;
  int track_left = 0, track_right = 0;
  int size_right = 0;         // right edge of the size column
};

ListLayout list_layout(const Kit& kit) {
  ListLayout l;
  const media::Font& f = *kit.font;
  l.c = std::max(1, media::text_width(f, "Mm0wW") / 5);
  l.h = std::max(1, media::glyph_height(f) / 2);
  l.x0 = (kit.screen.width - 50 * l.c) / 2;
  l.y0 = (kit.screen.height - 46 * l.h) / 2;
  l.yt = l.y0 + 5 * l.h;
  l.yb = l.yt + 40 * l.h;
  l.box_left = l.x0 + 12;
  l.box_right = l.x0 + 50 * l.c - 12;
  l.track_left = l.x0 + 50 * l.c - 2;
  l.track_right = l.x0 + 50 * l.c + 8;
  l.size_right = l.x0 - 2 + 40 * l.c;
  return l;
}

struct ListState {
  std::string folder;  // ends in "/"
  int n = 0;           // entries shown (the one "(No files found)" included)
  bool none = false;   // the folder holds nothing to show
  int top = 1;         // entry on the first row
  Place places[kMaxPlaces];
  int place_count = 0;
  int buttons[kMaxPlaces + 1] = {};  // "..", then the places
};

// Lists folder into the table; false (nothing changed but the table) when it can't be read.
bool relist(ListState& s, const std::string& folder, std::string_view mask) {
  StringTable& t = shared_strings();
  int n = list_directory(t, folder, mask);
  if (n < 0) return false;
  s.folder = folder;
  s.none = n == 0;
  if (s.none) {
    t.entry[1] = kNoFiles;
    n = 1;
  }
  s.n = n;
  s.top = 1;
  return true;
}

int thumb_top(const ListLayout& l, const ListState& s) {
  if (s.n <= kRows) return l.yt;
  return l.yt + ((l.yb - l.yt - 6) * (s.top - 1)) / (s.n - kRows);
}

void draw_track(Kit& kit, const ListLayout& l, const ListState& s, int thumb_centre = -1) {
  fill_rect(kit.screen, l.track_left, l.yt, l.track_right, l.yb, skin_colour(kit.skin, SkinColour::shadow));
  std::uint8_t thumb = skin_colour(kit.skin, SkinColour::highlight);
  if (s.n <= kRows) {
    fill_rect(kit.screen, l.track_left + 1, l.yt, l.track_right - 1, l.yb, thumb);
    return;
  }
  int y = thumb_centre >= 0 ? thumb_centre - 3 : thumb_top(l, s);
  fill_rect(kit.screen, l.track_left + 1, y, l.track_right - 1, y + 5, thumb);
}

void draw_rows(Kit& kit, const ListLayout& l, const ListState& s) {
  const media::Font& f = *kit.font;
  StringTable& t = shared_strings();
  fill_rect(kit.screen, l.box_left, l.yt, l.box_right - 4, l.yb - 4, skin_colour(kit.skin, SkinColour::field));
  draw_frame(kit, l.box_left, l.yt, l.box_right, l.yb, 1);
  std::uint8_t ink = skin_colour(kit.skin, SkinColour::field_text);
  for (int r = 0; r < kRows; ++r) {
    int i = s.top + r;
    if (i > s.n) break;
    int y = l.yt + 1 + 2 * l.h * r;
    std::string_view raw = t.entry[i];
    if (s.none) {
      draw_text(kit.screen, f, raw, l.x0 + 16, y, ink);
      continue;
    }
    Entry e = entry_of(raw);
    std::string size = e.size ? std::to_string(e.size) : std::string();
    int size_width = media::text_width(f, size);
    std::string shown = e.folder ? std::string(kFolderPrefix) + std::string(e.name) : std::string(e.name);
    draw_text(kit.screen, f, fit_text(f, shown, l.size_right - size_width - 8 - (l.x0 + 16)), l.x0 + 16, y, ink);
    draw_text(kit.screen, f, size, l.size_right - size_width, y, ink);
  }
}

void draw_list(Kit& kit, const ListLayout& l, ListState& s) {
  const media::Font& f = *kit.font;
  clear_screen(kit.screen);
  // 8 pixels lower than the list's grid gives, so the panel's frame stays below the list box.
  draw_panel(kit, l.x0 - 20, l.y0 - 12, l.x0 + 50 * l.c + 20, l.y0 + 46 * l.h + 8, true);
  reset_buttons(kit);
  std::uint8_t ink = skin_colour(kit.skin, SkinColour::text);
  int middle = l.x0 + 25 * l.c;
  draw_centred(kit, "Click any file name to confirm", middle, l.y0 + l.h, kWhite);
  // A long path keeps its end, where the folder's own name is.
  std::string_view path = s.folder;
  while (path.size() > 1 && media::text_width(f, path) > 50 * l.c) path.remove_prefix(1);
  draw_centred(kit, path, middle, l.y0 + 3 * l.h, ink);
  int bx = l.x0 - 14, step = 2 * l.h + 4;
  for (int k = 0; k <= s.place_count; ++k) {
    int y = l.yt + k * step;
    s.buttons[k] = add_button(kit, bx, y, bx + 2 * l.c, y + step - 2, 0);
    draw_button_label(kit, k == 0 ? std::string_view("..") : std::string_view(s.places[k - 1].label), s.buttons[k]);
  }
  draw_track(kit, l, s);
  draw_rows(kit, l, s);
}

void device_not_ready(Kit& kit) {
  const media::Font& f = *kit.font;
  int w = media::text_width(f, "Device not ready!") + 24, cx = kit.screen.width / 2, cy = kit.screen.height / 2;
  fill_rect(kit.screen, cx - w / 2, cy - 10, cx + w / 2, cy + 10, kBlack);
  draw_centred(kit, "Device not ready!", cx, cy, kWhite);
}

std::string shown_text(const ListState& s) {
  StringTable& t = shared_strings();
  std::string out = "Click any file name to confirm\n" + s.folder + "\n";
  for (int i = s.top; i <= s.n && i < s.top + kRows; ++i) {
    if (s.none) {
      out += std::string(t.entry[i].view()) + "\n";
      continue;
    }
    Entry e = entry_of(t.entry[i]);
    out += "  ";
    if (e.folder) out += kFolderPrefix;
    out += e.name;
    if (e.size) out += "  " + std::to_string(e.size);
    out += "\n";
  }
  return out;
}

std::string parent_of(const std::string& folder) {
  if (folder.size() <= 1) return folder;  // the root has no parent
  std::size_t slash = folder.rfind('/', folder.size() - 2);
  return slash == std::string::npos ? folder : folder.substr(0, slash + 1);
}

bool inside(int x, int y, int x1, int y1, int x2, int y2) { return x >= x1 && x <= x2 && y >= y1 && y <= y2; }

}  // namespace

std::string list_browser(Kit& kit, const BrowseFolders& folders, std::string_view start_path, std::string_view mask) {
  if (!kit.font) return {};
  ListLayout l = list_layout(kit);
  auto s = std::make_unique<ListState>();
  s->place_count = list_places(folders.work, s->places);
  std::string start = folder_of(start_path);
  if (start.empty()) start = folders.work.empty() ? std::string("./") : std::string(folders.work.view());
  bool not_ready = !relist(*s, on_disk(start), mask);
  if (not_ready && !relist(*s, folders.work.empty() ? std::string("./") : std::string(folders.work.view()), mask)) {
    s->folder = start;
    s->n = 1;
    s->none = true;
    shared_strings().entry[1] = kNoFiles;
  }
  const platform::Input& in = platform::input();
  StringTable& t = shared_strings();
  show_pointer(kit, true);
  std::string chosen;
  bool done = false, gave_up = false;
  while (!done) {
    draw_list(kit, l, *s);
    if (not_ready) device_not_ready(kit);
    not_ready = false;
    present(kit);
    std::string go_to;  // a folder to list next
    for (bool acted = false; !acted;) {
      wait_step(kit);
      for (read_key(kit); kit.last_scan && !acted; read_key(kit)) {
        int scan = kit.last_scan, ch = static_cast<unsigned char>(kit.key_text[0]);
        if (scan == kScanEscape) {
          done = acted = true;
        } else if (scan == kScanBackspace) {
          go_to = parent_of(s->folder);
          acted = true;
        } else if (ch >= 'a' && ch <= 'z' && s->n > kRows && !s->none) {
          for (int i = 1; i <= s->n; ++i)
            if (t.entry[i].length() > 0 && t.entry[i][0] == ch) {
              s->top = std::clamp(i, 1, s->n - (kRows - 1));
              break;
            }
          acted = true;
        }
      }
      if (acted) break;
      if (in.mouse_buttons & 1) {
        acted = true;
        int mx = in.mouse_x, my = in.mouse_y;
        std::int32_t hit = hit_test(kit);
        if (hit == kCloseBox) {
          done = true;
        } else if (hit >= 0 && hit == s->buttons[0]) {
          go_to = parent_of(s->folder);
        } else if (hit >= 0 && std::find(s->buttons + 1, s->buttons + 1 + s->place_count, hit) != s->buttons + 1 + s->place_count) {
          int k = static_cast<int>(std::find(s->buttons + 1, s->buttons + 1 + s->place_count, hit) - s->buttons) - 1;
          go_to = std::string(s->places[k].path.view());
        } else if (s->n > kRows && inside(mx, my, l.track_left, l.yt, l.track_right, l.yb)) {
          int ty = thumb_top(l, *s);
          if (my >= ty && my <= ty + 5) {
            // Dragged: the thumb's centre follows the mouse, 3 pixels inside the track.
            int y = my;
            while (in.mouse_buttons & 1) {
              y = std::clamp(in.mouse_y, l.yt + 3, l.yb - 3);
              draw_track(kit, l, *s, y);
              wait_step(kit);
              if (platform::waiting_gives_up()) break;
            }
            y = std::clamp(in.mouse_y, l.yt + 3, l.yb - 3);
            s->top = (s->n - kRows) * (y - l.yt) / (l.yb - l.yt - 4) + 1;
          } else {
            s->top += my < ty ? -(kRows - 1) : kRows - 1;
          }
          s->top = std::clamp(s->top, 1, s->n - (kRows - 1));
        } else if (inside(mx, my, l.box_left, l.yt, l.box_right, l.yb - 1)) {
          int i = s->top + (my - l.yt) * kRows / (l.yb - l.yt);
          if (i > s->n) {
            s->top = 1;
          } else if (!s->none) {
            Entry e = entry_of(t.entry[i]);
            if (e.folder) {
              go_to = on_disk(s->folder + std::string(base::trim(e.name).view())) + "/";
            } else {
              chosen = on_disk(s->folder + std::string(e.name));
              done = true;
            }
          }
        }
        break;
      }
      if (platform::waiting_gives_up()) {
        report_shown(shown_text(*s));
        done = acted = gave_up = true;
      }
    }
    if (!go_to.empty() && go_to != s->folder) {
      std::string old = s->folder;
      int old_top = s->top;
      if (!relist(*s, go_to, mask)) {
        relist(*s, old, mask);
        s->top = old_top;
        not_ready = true;
      }
    }
    if (!done) wait_mouse_release(kit);
  }
  leave(kit, gave_up);
  return chosen;
}

}  // namespace ui
