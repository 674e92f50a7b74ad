// The animation renamer of run mode 9: renames a frame family (name.pcx,
// name.002, ...) or turns a numbered list of images (name001.pcx, ...) into
// one. Frames are moved with rename(2), never copied and deleted, so each file
// always has its old name or its new one.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "project/project.h"
#include "tools/tools.h"
#include "ui/browser.h"

namespace tools {

namespace {

constexpr char kRenameItem[] = "Rename Animation";
constexpr char kConvertItem[] = "Rename .PCX List To Animation";
constexpr char kMenuTitle[] = "Animation tools";
constexpr char kNewNamePrompt[] = "Please, type the new name";
constexpr char kListForm[] =
    "The .pcx list must be in the form|nameXXX.pcx (or nameXX.pcx or nameX.pcx)|where 'name' is any custom name and "
    "'XXX' is the frame number.|Also, the list must start with '001' and not '000'";
constexpr char kSameName[] = "The new name is the same as the old one|(capitals and small letters count as the same):|nothing was renamed.";
constexpr char kBadName[] = "A name cannot hold '/' or '\\':|nothing was renamed.";
constexpr int kMaxFrame = 999;  // frame numbers have three digits
constexpr int kLeave = 3;       // the menu's answer to Escape

std::string overwrite_question(std::string_view file) {
  return "WARNING! An animation named '" + std::string(file) + "' already exists!|Do you want to overwrite it?";
}
std::string first_frame_error(std::string_view list_name) {
  return "Error, '" + std::string(list_name) + ".pcx' is the first frame of an animation, |not an image of a list!";
}
std::string renamed_message(const RenameOutcome& r) {
  if (r.failed.empty()) return std::to_string(r.moved ? r.count : 0) + " files renamed.";
  return "Renaming stopped: " + r.failed + "|" + std::to_string(r.moved) +
         " files renamed; the other frames keep their old names.";
}

// ".pcx" for frame 1, else "." and three digits.
std::string frame_ending(int k) {
  if (k == 1) return ".pcx";
  char digits[16];
  std::snprintf(digits, sizeof digits, ".%03d", k);
  return digits;
}

// The list's frame k: its number's last `digits` digits, zero-padded.
std::string list_frame(std::string_view base, int digits, int k) {
  std::string number = "000" + std::to_string(k);
  return std::string(base) + number.substr(number.size() - static_cast<std::size_t>(digits)) + ".pcx";
}

// The file as it exists on disk (any case), or "" when there is no regular file.
std::string existing(const std::string& path) {
  std::string on_disk(project::resolve_path(path).view());
  struct stat st;
  return stat(on_disk.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? on_disk : std::string();
}

std::string file_name_of(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

struct Move {
  std::string from;  // "" for a missing frame
  std::string to;
};

// Moves frames from the last down; on success with overwrite, deletes the
// target family's frames beyond the new count.
RenameOutcome move_frames(const std::vector<Move>& moves, std::string_view folder, std::string_view target,
                          bool overwrite) {
  RenameOutcome r;
  r.count = static_cast<int>(moves.size());
  for (std::size_t i = moves.size(); i-- > 0;) {
    const Move& m = moves[i];
    if (m.from.empty()) continue;
    if (::rename(m.from.c_str(), m.to.c_str()) != 0) {
      r.failed = "'" + file_name_of(m.from) + "' could not become '" + file_name_of(m.to) + "' (" +
                 std::strerror(errno) + ")";
      return r;
    }
    ++r.moved;
  }
  if (overwrite)
    for (int k = r.count + 1; k <= kMaxFrame; ++k) {
      std::string stale = existing(std::string(folder) + std::string(target) + frame_ending(k));
      if (!stale.empty()) ::unlink(stale.c_str());
    }
  return r;
}

struct Renamer {
  ui::Kit* kit = nullptr;
  ui::BrowseFolders folders;
  std::string last_folder;  // ends in "/"
};

// The file chosen in the last folder; "" when cancelled. The folder is remembered.
std::string choose_pcx(Renamer& rn) {
  std::string chosen = ui::list_browser(*rn.kit, rn.folders, rn.last_folder, "*.pcx");
  if (chosen.empty()) return chosen;
  std::size_t slash = chosen.rfind('/');
  rn.last_folder = chosen.substr(0, slash + 1);
  return chosen;
}

// The name without its folder and its ".pcx".
std::string stem_of(const std::string& path) {
  std::string name = file_name_of(path);
  return name.size() >= 4 ? name.substr(0, name.size() - 4) : name;
}

bool confirm_overwrite(Renamer& rn, const std::string& target) {
  if (existing(rn.last_folder + target + ".pcx").empty()) return true;
  return ui::message_panel(*rn.kit, overwrite_question(target + ".pcx"), " NO ", " YES ") == 2;
}

void rename_item(Renamer& rn) {
  std::string chosen = choose_pcx(rn);
  if (chosen.empty()) return;
  std::string old_name = stem_of(chosen);
  std::string new_name(base::trim(ui::input_box(*rn.kit, 400, old_name, kNewNamePrompt)).view());
  if (new_name.empty()) return;
  if (new_name.find_first_of("/\\") != std::string::npos) {
    ui::message_panel(*rn.kit, kBadName, " OK ", "");
    return;
  }
  if (base::lower(new_name) == base::lower(old_name)) {  // the frames would replace themselves
    ui::message_panel(*rn.kit, kSameName, " OK ", "");
    return;
  }
  bool overwrite = !existing(rn.last_folder + new_name + ".pcx").empty();
  if (!confirm_overwrite(rn, new_name)) return;
  RenameOutcome r = rename_animation(rn.last_folder, old_name, new_name, overwrite);
  ui::message_panel(*rn.kit, renamed_message(r), " OK ", "");
}

void convert_item(Renamer& rn) {
  std::string chosen = choose_pcx(rn);
  if (chosen.empty()) return;
  std::string list_name = stem_of(chosen);
  // The first frame of an animation is told as such, whatever its name ends in.
  if (!existing(rn.last_folder + list_name + ".002").empty()) {
    ui::message_panel(*rn.kit, first_frame_error(list_name), " OK ", "");
    return;
  }
  int digits = list_digits(list_name);
  if (digits == 0) {
    ui::message_panel(*rn.kit, kListForm, " OK ", "");
    return;
  }
  std::string base = list_name.substr(0, list_name.size() - static_cast<std::size_t>(digits));
  bool overwrite = !existing(rn.last_folder + base + ".pcx").empty();
  if (!confirm_overwrite(rn, base)) return;
  RenameOutcome r = convert_list(rn.last_folder, base, digits, overwrite);
  ui::message_panel(*rn.kit, renamed_message(r), " OK ", "");
}

}  // namespace

RenameOutcome rename_animation(std::string_view folder, std::string_view old_name, std::string_view new_name,
                               bool overwrite) {
  std::string from = std::string(folder) + std::string(old_name), to = std::string(folder) + std::string(new_name);
  if (base::lower(old_name) == base::lower(new_name)) return {};  // nothing to move
  std::vector<Move> moves;
  for (int k = 1; k <= kMaxFrame; ++k) {
    std::string frame = existing(from + frame_ending(k));
    if (frame.empty()) break;
    moves.push_back({frame, to + frame_ending(k)});
  }
  return move_frames(moves, folder, new_name, overwrite);
}

int list_digits(std::string_view name) {
  int d = 0;
  while (d < 3 && d < static_cast<int>(name.size()) && name[name.size() - 1 - d] >= '0' &&
         name[name.size() - 1 - d] <= '9')
    ++d;
  return d < static_cast<int>(name.size()) ? d : 0;  // "001" alone names no animation
}

RenameOutcome convert_list(std::string_view folder, std::string_view base, int digits, bool overwrite) {
  if (digits < 1 || digits > 3 || base.empty()) return {};
  // Frame numbers wider than the digits wrap round to names already taken.
  int last = digits == 1 ? 10 : digits == 2 ? 100 : kMaxFrame;
  std::string from = std::string(folder) + std::string(base), to = from;
  std::vector<Move> moves;
  moves.push_back({existing(std::string(folder) + list_frame(base, digits, 1)), to + ".pcx"});  // may be missing
  for (int k = 2; k <= last; ++k) {
    std::string frame = existing(std::string(folder) + list_frame(base, digits, k));
    if (frame.empty()) break;
    moves.push_back({frame, to + frame_ending(k)});
  }
  return move_frames(moves, folder, base, overwrite);
}

bool animation_renamer(ui::Task& task, int) {
  auto kit = std::make_unique<ui::Kit>();
  ui::init_kit(*kit, task.screen, *task.font, task.skin);
  Renamer rn;
  rn.kit = kit.get();
  rn.folders = ui::browse_folders(task);
  std::string work = rn.folders.work.empty() ? std::string("./") : std::string(rn.folders.work.view());
  struct stat st;
  rn.last_folder = stat((work + "sprites").c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? work + "sprites/" : work;
  const ui::Choice items[] = {{kRenameItem, 2}, {kConvertItem, 3}};  // keys "1" and "2" choose too
  for (;;) {
    int item = ui::choice_panel(*kit, kMenuTitle, items, kLeave);
    if (item == 1) rename_item(rn);
    else if (item == 2) convert_item(rn);
    else break;
  }
  return false;
}

}  // namespace tools
