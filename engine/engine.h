// The engine's door: what the folders above it start, run and read. The state
// of a run (World and its tables) is in engine/world.h, which this includes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/network.h"
#include "engine/world.h"
#include "base/memory.h"

namespace engine {

// Angles are in 1/512 degree; kTimerRate (timer units per second) is in world.h.
inline constexpr std::int32_t kFullTurn = 184320;     // 1/512 degree

// ---- A run -------------------------------------------------------------------------

// Makes world the run that brains reach and binds the runtime routines; a
// world without input reads the platform's.
void begin_run(World& world);
void end_run(World& world);
World* active_world();  // null outside a run

// Binds every runtime routine of this folder to its keyword and puts the
// folder's own tick phases in place (the race step); idempotent.
// Folders above the engine bind their own keywords with brain::bind_table().
void bind_routines();

inline constexpr int kGlobals = base::kGlobalsBytes / 4;  // global brain variables: 2,048
// The 2,048 globals (in the brain-data area of the budget).
std::int32_t* globals();

// What a brain's modal boxes ask of the layer that draws them (ui/ fills it).
// The engine silences the sound before each and restarts the frame clock after.
struct Dialogs {
  void* user = nullptr;
  // `msg_box`: buttons 1 OK and Cancel, 2 Yes and No, 3 Yes, No and Cancel,
  // else OK; icon 0 exclamation, 1 information, 2 question, 3 stop, else none.
  // Returns 0 Cancel, 1 OK, 2 No, 3 Yes.
  std::int32_t (*message)(void* user, std::string_view text, std::string_view caption, std::int32_t buttons,
                          std::int32_t icon) = nullptr;
  // `input_box`: text edited in a field of at most max_chars characters; the
  // prompt above it in lines 1..3 (any other value: in the title). True for OK.
  bool (*input)(void* user, std::string_view prompt, std::string_view caption, std::int32_t lines,
                std::string& text, int max_chars) = nullptr;
  // `list_box`: index of the chosen item, -1 for Cancel; the list starts at
  // selection (none when it is not an item's index).
  std::int32_t (*list)(void* user, std::string_view prompt, std::string_view caption, std::int32_t lines,
                       std::span<const std::string> items, std::int32_t selection) = nullptr;
  // `file_box`: path is the initial name and the chosen file (at most
  // max_chars characters); save asks for a file to write. True when chosen.
  bool (*file)(void* user, std::string& path, std::string_view filter, std::string_view caption, bool save,
               int max_chars) = nullptr;
  // The runtime error box: caption "Runtime Error", a stop icon, the message and OK.
  void (*runtime_error)(void* user, std::string_view message) = nullptr;
};

// ---- Elements ----------------------------------------------------------------------

// Record 0 of the element table (null before the budget is reserved).
inline project::ElementRecord* element_table() {
  return base::area_as<project::ElementRecord>(base::Area::element_table);
}
std::int32_t reference_of(const project::ElementRecord& record);
// True when e's current aspect carries the tag of extension (".f3d").
bool has_tag(const project::ElementRecord& e, std::string_view extension);

// ---- The tick ----------------------------------------------------------------------

// Clears bit 3 of every element, runs each element that is on and not
// suspended once (a brain stopped while running runs no more), counts its
// ticks, then counts the engine tick. Once a panel or box has taken Escape, no
// further brain runs.
void brain_pass(World& world);
// One engine tick: its phases in order.
void tick(World& world);

// A step of the tick. The engine's own phases stand at the orders below; a
// subsystem, in the engine or above it (networking, say), puts its phase
// between them (race checkpoints at kTickCheckpoints).
using TickPhase = void (*)(World& world);
enum TickOrder : int {
  kTickInput = 100,        // input sample and the tick's key event
  kTickCheckpoints = 200,  // race checkpoints
  kTickCollisions = 300,   // the collision pass
  kTickJoysticks = 400,    // controller polls
  kTickBrains = 500,       // the brain pass
};
inline constexpr int kMaxTickPhases = 16;
// Adds phase at order, after the phases of the same order; a phase of the same
// name is replaced. name must outlive the table (a literal). False when full.
bool add_tick_phase(int order, std::string_view name, TickPhase phase);
// Takes the phase of that name out; false when there is none.
bool remove_tick_phase(std::string_view name);
struct TickStep {
  int order;
  std::string_view name;
  TickPhase run;
};
// The phases in the order they run.
std::span<const TickStep> tick_phases();

// ---- Collisions --------------------------------------------------------------------

// Run start: pair list; for elements 0..highest a radius below 1 comes from
// the box, the box half-size from its horizontal corners; result bits cleared.
void collision_setup(World& world);
// The collision pass of one tick (sets up the run first when needed).
void collision_pass(World& world);

// ---- Races and ground --------------------------------------------------------------

// The tick's race step: each racer, in table order, that stands in its next
// gate moves on to the one after; past the last gate it goes back to gate 0 and
// counts a lap. A next gate outside the gates in use is taken as gate 0.
void advance_racers(World& world);
// Place of the racer whose element is e (1 leads); -1 when e is no racer.
std::int32_t race_place(const Races& races, std::int32_t e);

// Makes the ".a3d" aspect record `shape` (being loaded by call) ground: a
// terrain grid of cells x cells cells (1..256) centred on the origin over the
// faces (triangles in L with their colours), each cell two triangles whose
// corners take the highest face's height there and, as their colour, the
// colour of the face under their middle. Reported when it does not fit.
void build_terrain_grid(project::LoaderCall& call, project::AspectRecord& shape, int cells,
                        std::span<const GroundTriangle> faces);
// Height of the ground (sub-units) under position (x, y, z) (sub-units) for a
// radius r (L), from the current ground map, else from the ground element's
// terrain grid; 0 when neither has ground there. Remembers the triangle found.
std::int32_t ground_height(World& world, std::int32_t x, std::int32_t y, std::int32_t z, std::int32_t r);

// ---- Tracks and save games ---------------------------------------------------------

inline constexpr std::uint32_t kTrackBytesPerSecond = 720;  // 30 samples
// The recorder's samples so far (start of the track buffer to the write position).
std::span<const std::byte> track_recording(const World& world);

// Save folder (base folder when unset) + "curr" + slot + ".dat".
base::Text save_game_path(const World& world, std::int32_t slot);
// True when path holds a save game: 270,344 bytes, listener 0..255.
bool is_save_game(std::string_view path);

// ---- Sound -------------------------------------------------------------------------

// The sound output of the program's runs, from config.ini.
struct SoundOutput {
  enum Device : std::uint8_t {
    none,      // every run is silent (headless)
    system,    // the default output
    loopback,  // mixes only when asked (tests and benchmarks)
  };
  Device device = system;
  std::int32_t sound = 1;   // config.ini "Sound": 0 off, 1..3 mixing at 11025, 22050, 44100 Hz
  std::int32_t mixing = 0;  // "SoundMixing": 0 element sounds not placed in 3D; 1..3 placed, the
                            // 2, 4 or 16 nearest to the listener fading with distance
  // The packaged player stores a brain's `sound_set` and `sound_mixing_set`
  // into config.ini here (both values, taken at the next start). Null: those
  // keywords do nothing (the tool host).
  void (*store)(void* user, std::int32_t sound, std::int32_t mixing) = nullptr;
  void* user = nullptr;
};
// Takes the output for every later run and opens its device (closing one
// open). False when it opens none: sound is off, or no device works (the runs
// are then silent).
bool open_sound_output(const SoundOutput& output);
void close_sound_output();  // the device closed (shutdown)

// Once per drawn frame: the listener placed at its element; while element
// sounds play and the mixing setting places them, each placed at its element,
// the nearest ones fading with distance out to their full distance, the others
// keeping the volume of their minimum distance. Deferred: platform::commit_sound()
// sends it after the picture.
void place_sounds(World& world);

// ---- Result files ------------------------------------------------------------------------

// The run's dump: "exit V", "ticks V", "debug V" (the last `debug` value, when
// a brain called it), "global I V" for every non-zero global,
// for each element 0..highest "name I NAME" and "element I W V" for every
// non-zero word W of its record, then "collision I J V" for every non-zero
// matrix byte of a pair I < J <= highest. LF lines: it is read by shell tools.
bool write_dump(const World& world, std::string_view path);

// ---- The project run ---------------------------------------------------------------------

// The options of every run, filled once by the shell from config.ini and the
// command line and held by value by whoever starts runs (the test run, the
// player); the scene takes what it needs from them.
struct RunOptions {
  int display_mode = 1;                    // config.ini: 1/2, 4/8, 16/32
  int filtering = 3;                       // config.ini: texture filtering 0..5
  media::Font* font = nullptr;             // the 2D screen's font: the small one while the run lasts
  std::uint8_t* screen = nullptr;          // the 8-bit 2D screen drawn over the scene (rows width bytes apart)
  int screen_width = 0, screen_height = 0;
  const base::TempTexts* temps = nullptr;  // temporary strings, for the low-memory warning; null: no check
  std::span<const std::int32_t> command_values;  // `par_count`, `par_get`
  bool fast = false;                       // ticks back to back, every one drawn
  std::int32_t max_ticks = -1;             // the run ends as by Escape after this many loop ticks (-1: no limit)
  bool allow_programs = false;             // --allow-programs: `run`, `run_task` start programs without asking
  // The packaged player stores a brain's `display_mode_set` and
  // `rendering_device_set` into config.ini here at once (both values, taken at
  // the next start). Null: the values are only kept for this run (the tool host).
  void (*store_display)(void* user, std::int32_t display_mode, std::int32_t rendering_device) = nullptr;
  void* store_user = nullptr;
};

// What a run of a loaded project reads besides its world.
struct RunSetup {
  project::Project* project = nullptr;     // loaded; its fog values are put back after the run
  base::Text work_folder;                  // ends in "/"
  base::Text data_folder;                  // fonts, hood and marker models; ends in "/"
  RunOptions options;
  bool editor_clipping = false;            // clipping to the display area outside runs (editor state line 15)
  std::int32_t exe_mode = 0;               // `exemode`: bit 0 self-executable, bit 1 editor state line 14 is 1
  // The multi-project player: `save` and `resume` act, the level is saved with the game.
  bool player = false;
  std::int32_t level = 0;
  base::Text save_folder;                  // save games ("": the work folder)
  // Non-null: the globals at the start (2,048), in place of the test run's temp/globvars.dat.
  const std::int32_t* globals = nullptr;
  // A save game (checked by the caller) whose records and globals replace the
  // prepared ones once the brains are compiled; the tick counter then starts at 10000.
  base::Text resume_from;
};

inline constexpr std::uint32_t kResumedTicks = 10000;  // tick counter of a resumed run

// What a run asks of the layers above it; a null hook does nothing.
struct RunHooks {
  void* user = nullptr;
  // The information panel of the preparation ("Loading data, please wait..."); "" removes it.
  void (*information)(void* user, std::string_view text) = nullptr;
  // A brain's compile or run error, waiting for OK; null: stderr.
  void (*brain_error)(void* user, std::string_view text) = nullptr;
  // The same error with its element and brain line, told besides brain_error.
  void (*brain_fault)(void* user, const brain::BrainFault& fault) = nullptr;
  // The debug line drawn on the 2D screen's bottom ten rows before a frame.
  void (*debug_line)(void* user, std::string_view text) = nullptr;
  // Each `debug` call as it happens: the running element (-1: none) and its value.
  void (*debug_call)(void* user, const World& world, int element, std::int32_t value) = nullptr;
  // Shows the 2D screen alone, where the window has no OpenGL.
  void (*present_screen)(void* user) = nullptr;
  // After each frame drawn by the tick loop; loop_tick counts from 1.
  void (*frame_drawn)(void* user, World& world, std::int64_t loop_tick) = nullptr;
  // The boxes brains open and the runtime error box; null: stderr, each box taking its default.
  const Dialogs* dialogs = nullptr;
  // Once the brains are compiled (their private files are no longer read) and a
  // resumed game is read, before the first brain pass.
  void (*prepared)(void* user, World& world) = nullptr;
  // Asked before a brain's `run` or `run_task` starts a program (words: the
  // program and its arguments); false refuses it, as a start that failed.
  // Null, or RunOptions::allow_programs: every program starts (test runs).
  bool (*start_program)(void* user, std::span<const std::string> words) = nullptr;
};

// Runs the loaded project: the preparation (aspects, records, shared
// variables, brains, scene), ticks at the world's rate until `exit`, Escape or
// max_ticks, then what the run changed put back. world.exit_request says how it ended.
void run_project(World& world, const RunSetup& setup, const RunHooks& hooks);

}  // namespace engine
