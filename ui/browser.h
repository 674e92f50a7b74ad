// The file browsers of the panel screen: the directory listing into the shared
// string table, the list browser, the thumbnail chooser with its previews,
// erasing a file with its companions, and the project browser of resource kits.
// Each browser takes a start path and a mask or kind and gives back the chosen
// path, or an empty string when the user cancels. Where waiting gives up
// (headless, or the scripted input used up) a browser writes what it shows on
// stderr (its title and first entries) and cancels.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "platform/scene/scene.h"
#include "ui/ui.h"

namespace media {
struct Picture;
}

namespace ui {

// ---- The shared string table ---------------------------------------------------------

inline constexpr int kSharedStrings = 500;

// Counted strings that the listings of the browsers and the self-executable
// builder's projects list fill in turn (entry 0 is not used); a user that keeps
// data in it saves that before opening a browser and reads it back afterwards.
struct StringTable {
  base::Text entry[kSharedStrings];
};
// The program's one table.
StringTable& shared_strings();

// ---- Directory listing ---------------------------------------------------------------

inline constexpr char kFolderPrefix[] = "(dir) ";

// Lists folder ("/" at the end or not) into entries 1..n of table: "(dir) " +
// name + "|0" for every sub-folder, then name + "|" + size in bytes for every
// file that matches mask ("*.*" and "*" match all; "*.bmp" takes the ".ppm"
// files too; case does not matter). Names are lower case, tabs become blanks;
// folders come first, each group sorted by the bytes of its names. Names
// beginning with "." or holding "|" are left out. Stops when the table is
// full. Returns n, or -1 when the folder cannot be read (the table is then empty).
int list_directory(StringTable& table, std::string_view folder, std::string_view mask);

// One listing entry taken apart.
struct Entry {
  std::string_view name;  // without the folder prefix
  long size = 0;
  bool folder = false;
};
Entry entry_of(std::string_view entry);

// ---- Where the browsers work -----------------------------------------------------------

struct BrowseFolders {
  base::Text work;  // the working folder, ends in "/": erasing stays inside it
  base::Text data;  // the data folder, ends in "/": the crash marker "crashed.txt"
  // Draws the previews of models and visuals; null: the window's renderer, and
  // without one (headless) those cells stay dark with their names.
  scene::Renderer* renderer = nullptr;
};
BrowseFolders browse_folders(const Task& task);

// Linux has no drive letters: the list browser's ten buttons under ".." go to
// places: "W" the working folder, "H" the home folder, "/" the root, then
// "1" to "7" the mounted media (the folders of /media, of /media/<user> and of
// /mnt, in that order, each sorted by name).
inline constexpr int kMaxPlaces = 10;
struct Place {
  char label[4] = {};
  base::Text path;  // ends in "/"
};
// Fills places (at most kMaxPlaces) and returns how many there are.
int list_places(std::string_view work_folder, Place* places);

// ---- List browser -----------------------------------------------------------------------

// The scrolling list of names and sizes on the panel screen, from the folder of
// start_path, showing the files of mask. Returns the chosen file's full path
// (as it exists on disk), or "" when cancelled.
std::string list_browser(Kit& kit, const BrowseFolders& folders, std::string_view start_path,
                         std::string_view mask);

// ---- Thumbnail chooser ------------------------------------------------------------------

// Chooser kinds and their masks.
inline constexpr int kChooseBackground3d = -7;  // "*.bmp" (and ".ppm"): the image
inline constexpr int kChooseChains = -6;        // "*.chn": description text
inline constexpr int kChooseBrains = -5;        // "*.brn": description text
inline constexpr int kChooseModels = -4;        // "*.3ds" (and ".gltf", ".glb", ".obj"; also 12): the model drawn
inline constexpr int kChooseElements = -3;      // "*.ele": description text
inline constexpr int kChooseProjects = -2;      // "*.prj": description text
inline constexpr int kChooseImages = -1;        // "*.bmp" (and ".ppm"): the image
inline constexpr int kChooseCameras = 0;        // "*.03d": a sketch of the view frame
inline constexpr int kChooseVisuals = 11;       // "*.v3d": the visual drawn
// 1, 3 "*.a3d" and 4 "*.d3d": no preview; 2, 5, 6, 8 "*.pcx": the sprite with
// its size and frames; 7 "*.pcx": no preview.

// The mask of a kind ("*.*" for an unknown one).
std::string_view chooser_mask(int kind);

// Nine previews a page, from the folder of start_path; the page shown last is
// shown again the next time (clamped to the pages there are). A right click
// offers to erase the file with its companions. Returns the chosen file's full
// path (as it exists on disk), or "" when cancelled.
std::string thumbnail_chooser(Kit& kit, const BrowseFolders& folders, std::string_view start_path, int kind,
                              std::string_view title);

// The comment lines that open a project, element or brain file: the text after
// the ";" that begins each leading line, trimmed, each followed by one blank, up
// to the first line with nothing after its ";" or that is no comment.
std::string description_of(std::string_view path);

// Erases path with its companions: a project's ".col"; for images (".pcx",
// ".bmp", ".ppm") the numbered frames name.002 to name.999. Other files go
// alone. A file whose real folder (links followed) is outside the working
// folder is not erased. Returns the files deleted, -1 when refused.
int erase_with_companions(std::string_view path, std::string_view work_folder);
// Frames of an animation: k - 1 for the first k from 2 whose numbered file
// (the last three characters replaced by k in three digits) is missing.
int count_numbered_frames(std::string_view path);

// ---- Previews drawn by the scene layer ------------------------------------------------

// A model as the previews draw it: triangles, one texture and one material.
struct PreviewModel {
  std::vector<scene::Vertex> vertices;
  const media::Picture* texture = nullptr;  // null: untextured
  bool transparent = false;                 // texture colour 0 cut out
  std::uint32_t colour = 0xFFFFFF;          // 0xRRGGBB
  int quality = 3;                          // 0 wireframe .. 3 gouraud
  bool metal = false;
  int translucency = 0;                     // percent
};
// How the camera looks at the model.
enum class PreviewView : std::uint8_t {
  fitted,  // from above the front left, the whole model in view
  camera,  // the model in camera space: a camera at the origin looking along +z, 90 degrees
};
// Draws model into the screen rectangle (x, y, width, height) through renderer,
// folded to the colour scheme; with keep_background the screen shows through
// where the model is not. False when nothing could be drawn (no OpenGL, the
// rectangle outside the renderer's target, no triangles).
bool draw_model_preview(Screen& screen, scene::Renderer& renderer, int x, int y, int width, int height,
                        const PreviewModel& model, PreviewView view, bool keep_background);
// The renderer the previews use: the window's when there is one, else null.
scene::Renderer* preview_renderer(const BrowseFolders& folders);
// A visual (".v3d") drawn fitted into the screen rectangle (x, y, width,
// height), as the visuals chooser draws it; false when nothing was drawn (no
// renderer, as headless, or a file that can't be read).
bool draw_visual_preview(Screen& screen, const BrowseFolders& folders, std::string_view path, int x, int y,
                         int width, int height);

// ---- Project browser --------------------------------------------------------------------

// The resource kits under working folder + "projects/", a page of 30 projects
// each; the kit and page shown last are lines 16 and 17 of the editor state.
// Returns the chosen project's path, or "" when the user leaves with Escape.
std::string browse_projects(Kit& kit, const BrowseFolders& folders, project::StateFiles& state);

}  // namespace ui
