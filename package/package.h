// Packaging: the projects list, the self-executable builder (run mode 6 and
// `zepta --package`) and the multi-project player of a packaged game (run mode 0).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "engine/engine.h"
#include "ui/ui.h"

namespace project {
struct Host;
}

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

// The path hash of a resource path: h = h * 31 + c over its bytes from h = 0,
// each byte c taken signed, wrapping in 32 bits.
std::uint32_t path_hash(std::string_view path);
// The name a resource has in a package: "null_.wav" keeps its file name; any
// other path its path hash as 8 upper-case hex digits + ".dat".
base::Text packed_name(std::string_view path);
// Writes bytes to path through a temporary renamed over it; false when it couldn't be written.
bool write_whole(std::string_view path, std::string_view bytes);
// File to file, the destination may be the source: every whole little-endian
// word scrambled (descrambled), the last size % 4 bytes kept. With the
// plain-projects switch only a source ending in ".prj" is transformed; others
// are copied as they are. False when nothing was written: the source is
// missing or unreadable, or the destination can't be written.
bool scrambling_copy(std::string_view source, std::string_view destination, bool plain_switch);
bool descrambling_copy(std::string_view source, std::string_view destination, bool plain_switch);

// ---- The build ---------------------------------------------------------------------------

// What a build reads and where it writes.
struct BuildSetup {
  base::Text base_folder;     // the program's working folder, ends in "/" (data/, images/, ...)
  base::Text list_path;       // the projects list to build ("" : base + "data/multilev.ini")
  base::Text package_folder;  // ends in "/"; must exist (the build creates no package folder)
  base::Text title;           // the packaged window title, cut to 32 characters
  bool screensaver = false;   // also copy data/ssmod.bin as zeptaexe.scr
  base::Text player_program;  // the program copied as the player; "": this one (/proc/self/exe)
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

// Run mode 6: the projects list of data/multilev.ini edited on the panel screen
// until Escape or a build; the list is saved on every way out. The executable
// name is line 17 of curpaths.ini: true, so that the state files are written.
bool self_executable_editor(ui::Task& task, int element);
// A file column's text: the file name without its last four characters, at most 8.
std::string_view shown_file_name(std::string_view path);
// The help line for the mouse at (x, y) on the page starting at slot page_offset.
base::Text editor_help_text(int page_offset, int mouse_x, int mouse_y);
// The page offset step (-1, +1) pages on, kept to 0..480.
int turn_page(int page_offset, int step);

// ---- The multi-project player (run mode 0) -----------------------------------------------
// (the player)

// How a game ended, as the program's exit status.
enum class PlayStatus : int {
  ok = 0,           // the end screen, -3, Escape or the tick budget
  brain = 1,        // a brain did not compile or was stopped while running
  not_found = 3,    // nothing to play, a sub-project missing, a level file that is no project
  not_written = 4,  // the dump, a screenshot, globvars.dat or a save game could not be written
};

// --screenshot TICK:FILE of a game: TICK counts loop ticks from the start of the game.
struct PlayerScreenshot {
  std::int32_t tick = 0;
  base::Text file;
};

// What the player gets from start-up.
struct PlayerSetup {
  base::Text package_folder;              // base and data folder, ends in "/"
  std::string_view title;                 // the game's window title: names its own write folder
  project::Host* host = nullptr;          // the session's (player on, folders the package's)
  ui::Screen screen;                      // the display mode's software screen, for the panels
  // Every level's run options; the font draws the panels too, and max_ticks
  // counts loop ticks of the whole game (-1: no limit).
  engine::RunOptions options;
  bool headless = false;                  // input waits end at once; scripted input still drives the levels
  base::Text dump;                        // the last level's dump when the game ends ("": none)
  std::vector<PlayerScreenshot> screenshots;
  bool read_only = false;                 // take the package folder as not writable (what root can't test)
};

// Plays the package: level001 first, each next one as the last run's exit
// request says, the end screen last (not after -3). Problems are told on
// stderr (and in the message panel where the game itself says so).
PlayStatus play_game(const PlayerSetup& setup);

// The per-game folder name of a title: trimmed, each character that is not a
// letter, a digit, '-' or '_' made '_'; "game" when empty.
std::string game_folder_name(std::string_view title);
// Where the player writes (globvars.dat, save games, private brains): the
// package folder when it is writable (and not read_only), else
// $XDG_DATA_HOME (default ~/.local/share) + "/zepta/" + game_folder_name + "/",
// made with its parents. "" with error set when none can be had.
base::Text player_write_folder(std::string_view package_folder, std::string_view title, bool read_only,
                               std::string& error);
// ---- Programs a game starts ----------------------------------------------------------

// What the player said about the programs (command lines) of one game.
struct ProgramConsent {
  std::string path;                  // the game's consent file ("": none can be kept)
  std::vector<std::string> always;   // command keys kept in the file
  std::vector<std::string> allowed;  // this session's YES answers
  std::vector<std::string> refused;  // this session's NO answers (and headless refusals)
};
// The id of a game (its consent file, a read-only package's config.ini):
// game_folder_name(title) + "-" + 16 hex digits of a hash of the package
// folder's real path and the trimmed title.
std::string game_id(std::string_view real_folder, std::string_view title);
// $XDG_DATA_HOME (default ~/.local/share) + "/zepta/consent/" + the game's id +
// ".ini"; "" when neither variable names a folder.
std::string consent_file(std::string_view package_folder, std::string_view title);
// A command line's words as a key of the consent file: one line, words apart by
// a blank, each blank, control byte, byte above 126, '"' and '%' as %HH.
std::string command_key(std::span<const std::string> words);
// A command line as the question shows it: words with blanks quoted, bytes the
// panel cannot show as '?', cut to 3 lines of 48 characters ("|" apart).
std::string shown_command(std::span<const std::string> words);
// The ALWAYS answers of consent.path into consent.always.
void read_consent(ProgramConsent& consent);
// Whether the program of words may start: an earlier answer, else the question
// on kit ("This game wants to start: ... Allow?", YES / NO / ALWAYS FOR THIS
// GAME; nobody answering says NO). Without a kit (headless) a new command line
// is refused. ALWAYS is written to consent.path at once, atomically.
bool consent_to(ProgramConsent& consent, std::span<const std::string> words, ui::Kit* kit);

// A cut-scene's size from its file name "NAME_WxH.avi" or "NAME_WxH_..." (the
// text after the first "_" up to the next one, lower-cased, split at the first
// "x", each side read as a number); the screen's size when either is below 1.
// Only the file name counts: folders may hold "_" too.
void cut_scene_size(std::string_view path, int screen_width, int screen_height, int& width, int& height);
// The next-project code of a finished run as the level loop takes it.
enum class NextStep { stop, level, resume };
NextStep next_step(std::int32_t code);

}  // namespace package
