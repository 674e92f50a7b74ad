// Packaging: the projects list, the self-executable builder (run mode 6 and
// `zepta --package`) and the multi-project player of a packaged game (run mode 0).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "ui/ui.h"

namespace package {

// ---- Projects lists ----------------------------------------------------------------------

// A projects list: 500 slot lines, slot 0 the entry point (shown as 001). A slot
// line is "loading image|load-complete image|project|compile switch[|extra]".
inline constexpr int kSlots = 500;
struct ProjectsList {
  base::Text slot[kSlots];
};

// Field numbers of a slot line.
enum SlotField : int { kLoadingImage = 1, kCompleteImage = 2, kProject = 3, kCompileSwitch = 4, kExtra = 5 };

// base + "images/wait_.bmp|" + base + "images/anykey_.bmp|" + base + "projects/myprj/default_.prj|0".
base::Text default_slot_line(std::string_view base_folder);
// Every slot the default line, slot 1 switched on.
void reset_list(ProjectsList& list, std::string_view base_folder);
// Reads a list file (500 CR LF lines; "\" becomes "/", then "./" the base
// folder). False when it can't be opened: the list is reset.
bool load_list(ProjectsList& list, std::string_view path, std::string_view base_folder);
// Writes a list file atomically, the base folder written as "./" in each line.
bool save_list(const ProjectsList& list, std::string_view path, std::string_view base_folder);
// Field n (1..5) of a slot's line; "" past the end.
base::Text slot_field(const ProjectsList& list, int slot, int n);
// Replaces field n of a slot's line (fields before it are added empty when missing).
void set_slot_field(ProjectsList& list, int slot, int n, std::string_view value);
// Field 4 becomes the decimal text of (its value XOR 1).
void toggle_compile_switch(ProjectsList& list, int slot);
// A typed list name as stored: the part before the first ".", letters and
// digits only, at most 8 characters ("my level.1" gives "mylevel"); "" cancels.
base::Text list_name_of(std::string_view typed);
// The text after the last "/", "\" or ":".
std::string_view file_name_of(std::string_view path);

// ---- Packed names and the scrambling copy ------------------------------------------------
// (the builder)

// ---- The build ---------------------------------------------------------------------------

// What a build reads and where it writes.
struct BuildSetup {
  base::Text base_folder;     // the program's working folder, ends in "/" (data/, images/, ...)
  base::Text list_path;       // the projects list to build ("" : base + "data/multilev.ini")
  base::Text package_folder;  // ends in "/"; must exist (the build creates no package folder)
  base::Text title;           // the packaged window title, cut to 32 characters
  bool screensaver = false;   // also copy data/ssmod.bin as zeptaexe.scr
  // Progress messages ("Compilation in progress... NAME"); null: none.
  void (*progress)(void* user, std::string_view text) = nullptr;
  void* user = nullptr;
};

// How a build ended. On failure the package folder is as it was before.
struct BuildReport {
  bool ok = false;
  int levels = 0;                      // projects packaged
  std::vector<std::string> problems;   // one line each: what failed, with slot and project
  int exit_status = 0;                 // for the command line: 0, 1 brain error, 3 not found, 4 not written
};

// Builds the package of the list's switched-on slots into package_folder.
BuildReport build_package(const BuildSetup& setup);

// ---- The player image --------------------------------------------------------------------

// What the game needs besides the program and its always-needed libraries.
struct PlayerNeeds {
  bool models = false;  // meshes the program's own ".x" reader can't read: the model library ships
  bool video = false;   // cut-scenes or video aspects: the video libraries ship
};

// Writes the player into folder (ends in "/"): this program as "zeptaexe" with
// title (cut to 32 characters, blank-padded) in its title region, and lib/ with
// the shared libraries it needs that a player's system does not provide.
// False with error set when something could not be written.
bool write_player(std::string_view folder, std::string_view title, const PlayerNeeds& needs, std::string& error);
// The same from the program image at program_path (write_player gives /proc/self/exe);
// its libraries are found from what this process loads.
bool write_player_from(std::string_view program_path, std::string_view folder, std::string_view title,
                       const PlayerNeeds& needs, std::string& error);
// Whether a shared library (by soname) ships in lib/: false for the C library
// family, the OpenGL/EGL/GLX stack, the X11 and Wayland client libraries and the
// sound-server clients, which come from the player's system.
bool ships_library(std::string_view soname);
// (Whether a mesh needs the model library in the package: platform::model_needs_library.)

// ---- The self-executable editor (run mode 6) ---------------------------------------------
// (the editor panel)

// ---- The multi-project player (run mode 0) -----------------------------------------------
// (the player)

}  // namespace package
