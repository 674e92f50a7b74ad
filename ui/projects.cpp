// The project browser: the resource kits of "projects/", a page of thirty
// projects each with their descriptions, kit descriptions, erasing, paging.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "media/media.h"
#include "platform/platform.h"
#include "project/project.h"
#include "ui/browser_local.h"
#include "base/files.h"

namespace ui {

using namespace browse;

namespace {

constexpr int kPageRows = 30;
constexpr int kKitLine = 16, kPageLine = 17;  // editor state lines
constexpr std::uint8_t kTitleColour = 254, kListColour = 210;
constexpr char kButtonLine[] = "   PREVIOUS PAGE       NEXT PAGE     PREVIOUS RES.KIT    NEXT RES.KIT    INFO";
constexpr int kButtonLeft[5] = {8, 148, 290, 432, 574}, kButtonRight[5] = {144, 286, 428, 570, 624};
enum BarButton { previous_page, next_page, previous_kit, next_kit, info };

struct ProjectEntry {
  std::string display, file, description;
};

struct Kits {
  std::vector<std::string> names;  // as on disk
  int kit = 0, page = 0;
  std::string folder, description;
  std::vector<ProjectEntry> entries;
  int pages() const { return entries.empty() ? 1 : (static_cast<int>(entries.size()) - 1) / kPageRows + 1; }
};

std::string kits_folder(const BrowseFolders& f) { return std::string(f.work.view()) + "projects/"; }

void list_kits(Kits& k, const BrowseFolders& f) {
  StringTable& t = shared_strings();
  int n = list_directory(t, kits_folder(f), "*.*");
  k.names.clear();
  for (int i = 1; i <= n; ++i) {
    Entry e = entry_of(t.entry[i]);
    if (e.folder) k.names.push_back(file_of(on_disk(kits_folder(f) + std::string(e.name))));
  }
}

// The ".prj" files of kit i, sorted by their display texts.
std::vector<ProjectEntry> projects_of(const BrowseFolders& f, const std::string& kit) {
  std::vector<ProjectEntry> out;
  std::string folder = kits_folder(f) + kit + "/";
  StringTable& t = shared_strings();
  int n = list_directory(t, folder, "*.prj");
  for (int i = 1; i <= n; ++i) {
    Entry e = entry_of(t.entry[i]);
    if (e.folder) continue;
    std::string file = file_of(on_disk(folder + std::string(e.name)));
    std::string display = file.substr(0, file.size() >= 4 ? file.size() - 4 : 0).substr(0, 75);
    out.push_back({display, file, {}});
  }
  std::stable_sort(out.begin(), out.end(), [](const ProjectEntry& a, const ProjectEntry& b) {
    return a.display + "|" + a.file < b.display + "|" + b.file;
  });
  for (ProjectEntry& e : out) e.description = description_of(folder + e.file);
  return out;
}

void load_kit(Kits& k, const BrowseFolders& f) {
  k.entries.clear();
  k.folder.clear();
  k.description = "Resource description not found!";
  if (k.names.empty()) return;
  k.kit = std::clamp(k.kit, 0, static_cast<int>(k.names.size()) - 1);
  k.folder = kits_folder(f) + k.names[static_cast<std::size_t>(k.kit)] + "/";
  k.entries = projects_of(f, k.names[static_cast<std::size_t>(k.kit)]);
  base::TextFile file;
  if (file.open_read(on_disk(k.folder + "descrptn.txt"))) k.description = std::string(file.read_line().view());
  k.page = std::clamp(k.page, 0, k.pages() - 1);
}

// Moves to the next kit in direction step that holds projects; stays where it
// was when there is none that way (every kit is looked at once at most).
void change_kit(Kits& k, const BrowseFolders& f, int step) {
  int count = static_cast<int>(k.names.size());
  for (int i = k.kit + step; i >= 0 && i < count; i += step)
    if (!projects_of(f, k.names[static_cast<std::size_t>(i)]).empty()) {
      k.kit = i;
      k.page = 0;
      break;
    }
  load_kit(k, f);
}

std::string title_of(const Kits& k) {
  std::string kit = k.names.empty() ? std::string("(none)") : std::string(base::upper(k.names[static_cast<std::size_t>(k.kit)]).view());
  return "Current resource-kit: " + kit + " (page " + std::to_string(k.page + 1) + " of " + std::to_string(k.pages()) +
         ")";
}

std::string row_text(const ProjectEntry& e) {
  return e.description.empty() ? e.display : e.display + "  - " + e.description;
}

void draw_browser(Kit& kit, const Kits& k) {
  const media::Font& f = *kit.font;
  clear_screen(kit.screen);
  draw_frame(kit, 0, 0, kit.screen.width, kit.screen.height, 0);
  draw_centred(kit, title_of(k), 320, 12, kTitleColour);
  fill_rect(kit.screen, 8, 32, 624, 448, kListColour);
  for (int r = 0; r < kPageRows; ++r) {
    std::size_t i = static_cast<std::size_t>(k.page * kPageRows + r);
    if (i >= k.entries.size()) break;
    draw_text(kit.screen, f, fit_text(f, row_text(k.entries[i]), 600), 16, 34 + 14 * r, kBlack);
  }
  fill_rect(kit.screen, 8, 454, 624, 464, kListColour);
  draw_text(kit.screen, f, kButtonLine, 0, 456, kBlack);
}

std::string shown_text(const Kits& k) {
  std::string out = title_of(k) + "\n";
  for (int r = 0; r < kPageRows; ++r) {
    std::size_t i = static_cast<std::size_t>(k.page * kPageRows + r);
    if (i >= k.entries.size()) break;
    out += "  " + row_text(k.entries[i]) + "\n";
  }
  return out;
}

}  // namespace

std::string browse_projects(Kit& kit, const BrowseFolders& folders, project::StateFiles& state) {
  if (!kit.font) return {};
  // The small font while the browser is shown.
  const media::Font* normal = kit.font;
  auto small = std::make_unique<media::Font>();
  if (media::load_font(std::string(folders.data.view()) + "font8.fnt", *small, true)) kit.font = small.get();

  auto k = std::make_unique<Kits>();
  list_kits(*k, folders);
  k->kit = project::editor_value(state, kKitLine);
  k->page = project::editor_value(state, kPageLine);
  k->kit = std::clamp(k->kit, 0, std::max(0, static_cast<int>(k->names.size()) - 1));
  load_kit(*k, folders);
  if (k->entries.empty()) {  // a kit without projects: the nearest one after it, else before it
    int page = k->page;
    change_kit(*k, folders, 1);
    if (k->entries.empty()) change_kit(*k, folders, -1);
    if (!k->entries.empty() && k->page == 0) k->page = std::min(page, k->pages() - 1);
  }

  const platform::Input& in = platform::input();
  show_pointer(kit, true);
  std::string chosen;
  bool gave_up = false;
  for (bool done = false; !done;) {
    draw_browser(kit, *k);
    present(kit);
    wait_mouse_release(kit);
    for (bool acted = false; !acted;) {
      wait_step(kit);
      int key = 0;
      for (read_key(kit); kit.last_scan && !key; read_key(kit))
        for (int s : {kScanEscape, kScanBackspace, kScanLeft, kScanRight, kScanUp, kScanDown})
          if (kit.last_scan == s) key = s;
      std::uint32_t buttons = in.mouse_buttons & 3;
      if (!key && !buttons) {
        if (platform::waiting_gives_up()) {
          report_shown(shown_text(*k));
          done = acted = gave_up = true;
        }
        continue;
      }
      acted = true;
      int mx = in.mouse_x, my = in.mouse_y;
      int bar = -1;
      if ((buttons & 1) && my >= 454 && my <= 464)
        for (int b = 0; b < 5; ++b)
          if (mx >= kButtonLeft[b] && mx <= kButtonRight[b]) bar = b;
      if (key == kScanEscape) {
        done = true;
      } else if (key == kScanLeft || bar == previous_page) {
        k->page = std::max(k->page - 1, 0);
      } else if (key == kScanRight || bar == next_page) {
        k->page = std::min(k->page + 1, k->pages() - 1);
      } else if (key == kScanUp || key == kScanBackspace || bar == previous_kit) {
        change_kit(*k, folders, -1);
      } else if (key == kScanDown || bar == next_kit) {
        change_kit(*k, folders, 1);
      } else if (bar == info) {
        wait_mouse_release(kit);
        message_panel(kit, k->description, " OK ", "");
        show_pointer(kit, true);
      } else if (buttons && my >= 34 && my <= 448 && mx >= 8 && mx <= 624) {
        std::size_t i = static_cast<std::size_t>(k->page * kPageRows + (my - 34) / 14);
        if (i >= k->entries.size() || (my - 34) / 14 >= kPageRows) {
          acted = false;  // an empty row: wait again
          wait_mouse_release(kit);
        } else if (buttons & 1) {
          chosen = k->folder + k->entries[i].file;
          done = true;
        } else {
          wait_mouse_release(kit);
          if (message_panel(kit, "Do you really want to PERMANENTLY ERASE " + k->entries[i].file + "?", " NO! ",
                            " YES ") == 2) {
            erase_with_companions(k->folder + k->entries[i].file, folders.work);
            load_kit(*k, folders);
          }
          show_pointer(kit, true);
        }
      } else {
        acted = false;  // any other click: wait again
        wait_mouse_release(kit);
      }
    }
    project::set_editor_value(state, kKitLine, k->kit);
    project::set_editor_value(state, kPageLine, k->page);
  }
  leave(kit, gave_up);
  kit.font = normal;
  return chosen;
}

}  // namespace ui
