// The state of a run: World and the tables it holds by value, each with its
// limits. Public through engine/engine.h, which includes it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "brain/brain.h"
#include "media/media.h"
#include "project/project.h"
#include "base/text.h"

namespace platform {
struct Input;
struct Video;
}

namespace engine {

// ---- Units and timing --------------------------------------------------------------

inline constexpr std::int32_t kTimerRate = 4500;      // timer units per second
inline constexpr std::int32_t kDefaultRate = 30;      // ticks per second

// Timer units per tick at rate ticks per second (4500 / rate, integer division).
inline constexpr std::int32_t tick_period(std::int32_t rate) { return kTimerRate / rate; }

// The tick deadline: a tick is on time when it ends at or before its deadline.
struct Clock {
  std::uint32_t deadline = 0;  // timer units; compared as a signed difference
  std::int32_t period = tick_period(kDefaultRate);
};

// ---- The tables of a run -----------------------------------------------------------------

inline constexpr int kMotionStack = 256;  // entries of `push`/`pop`

// Renderer settings a run saves and puts back; brains change them meanwhile.
struct RenderSettings {
  std::int32_t fog_start = 10240;
  std::int32_t fog_end = 15360;
  std::uint32_t fog_colour = 0xFF000000;
  bool clip_to_display_area = false;
};

// ---- Collisions -----------------------------------------------------------------------------

inline constexpr int kMaxPairs = project::kMaxElements * (project::kMaxElements - 1) / 2;  // 32,640

// The pair list and what the pass found in the current tick: pair i joins
// elements pair_a[i] (the larger index) and pair_b[i] (the smaller), listed by
// rows then columns of the matrix. Rebuilt only when the matrix changes;
// nothing here grows while a run ticks.
struct Collisions {
  std::uint8_t pair_a[kMaxPairs] = {};
  std::uint8_t pair_b[kMaxPairs] = {};
  std::uint8_t colour[kMaxPairs] = {};       // the channel's colour code
  std::uint8_t contact[kMaxPairs] = {};      // the colour code when the pair touched this tick, else 0
  int count = 0;
  bool ready = false;                        // set up for this run (radii, box half-sizes, pairs)
  bool stale = true;                         // the matrix changed: rebuild before the next pass
  std::uint16_t touched[kMaxPairs] = {};     // pairs whose contact is set, cleared by the next pass
  int touched_count = 0;
  bool colour_hit[256] = {};                 // contact codes seen this tick
  bool paired[project::kMaxElements] = {};   // elements named by some pair
  // Pair index by (smaller index * 256 + larger index); kNoPair when undeclared.
  std::uint16_t pair_of[project::kMaxElements * project::kMaxElements];
  std::uint8_t order[project::kMaxElements] = {};  // paired elements by position x, kept between passes
  int order_count = 0;
};
inline constexpr std::uint16_t kNoPair = 0xFFFF;

// ---- Races and ground ---------------------------------------------------------------------

inline constexpr int kMaxGates = 1000;      // checkpoint gates
inline constexpr int kRacerRecords = 256;   // racer records, of which kMaxRacers are used
inline constexpr int kMaxRacers = 255;

// A checkpoint gate, in L: its two ends on the ground plane and the band of
// heights (position y) in which it counts.
struct Gate {
  std::int32_t x1 = 0, z1 = 0, x2 = 0, z2 = 0;
  std::int32_t top = 2147483647;      // no limit
  std::int32_t bottom = -2147483647 - 1;
};
// A racer: its element's record address, lap counter, next gate, and a word kept 0.
struct Racer {
  std::int32_t element = 0, lap = 0, next = 0, spare = 0;
};
// Gates and racers, as a loaded project has them: every gate at its defaults, no racers.
struct Races {
  Gate gate[kMaxGates];
  int gates = 0;                 // gates in use, 0..1000
  Racer racer[kRacerRecords];
  int racers = 0;                // 0..255, in the order entered
};

// A ground triangle: three vertices (x, y, z each, in L) and its colour (the
// terrain grid's tenth value; 0 for a ground map's triangles).
using GroundTriangle = media::GroundTriangle;
// What the ground queries answer from: the current ground map or, without
// one, the ground element's terrain grid; both chosen at the run's first query.
struct Ground {
  const project::AspectRecord* map = nullptr;  // current ground map (tag ".m3d"), null: none
  int element = -1;              // ground element (a ".a3d" shape with a terrain grid), -1: none
  const std::int32_t* grid = nullptr;  // its terrain grid: cell size s (L), n, then n x n cells
  bool chosen = false;           // the first boundary and ground elements looked up (or `ground_set` called)
  bool found = false;            // the last height query found a triangle, kept in `triangle`
  GroundTriangle triangle;       // heights relative to `base_y`
  std::int32_t base_y = 0;       // sub-units added to the triangle's heights (the ground element's y)
};

// Position keys of a brain spline slot (`spline_key_set`), in time order.
inline constexpr int kSplineSlots = 50;
inline constexpr int kSplineKeys = 256;
struct SplineSlot {
  struct Key {
    double time;
    double position[3];
  } key[kSplineKeys];
  int count = 0;
};

// The video window of `play` and `play_task`: the placement `play_set` gave and
// the clip playing in it.
struct VideoWindow {
  std::int32_t x = 0, y = 0, width = 640, height = 480;  // 640 x 480 screen pixels
  std::int32_t plays = 1;                   // `play_set`'s number of plays
  platform::Video* video = nullptr;         // open: the window is shown
  std::vector<std::uint8_t> pixels;         // the frame shown now (RGBA), sized when a clip opens
  bool shown = false;                       // pixels hold a frame
  int frame_width = 0, frame_height = 0;
  bool playing = false;
  int plays_left = 0;
  std::uint32_t started = 0;                // timer units at the current play's start
  double next_time = 0;                     // seconds: time of the frame decoded ahead
  double interval = 0;                      // seconds between the last two frames
  const std::uint8_t* next_frame = nullptr;
};

// The text list: what brains print in one pass (`print`, `print_num`,
// `color_set`), replayed over the picture by the render step. Filled only while
// a scene is drawn; emptied at the start of every brain pass.
inline constexpr int kTextListWords = 4096;   // command words of one brain pass
inline constexpr int kTextPoolBytes = 32768;  // characters of the texts printed in one pass

// Its words are text-list commands (engine/engine_local.h: TextCommand).
struct TextList {
  std::int32_t word[kTextListWords];
  int used = 0;               // words before the end marker, which word[used] holds
  char pool[kTextPoolBytes];  // texts as they were when printed
  int pool_used = 0;
  bool full = false;          // a command was dropped: every later one of the pass is dropped too
  std::uint32_t start_colour = 0xFFFFFF;  // the text colour when a replay begins
  std::uint32_t colour = 0xFFFFFF;        // last `color_set` (white until then)
  bool reported_full = false;             // "full" is reported once per scene
};

// ---- Strings and arrays of brains --------------------------------------------------------

inline constexpr int kHandles = 8192;  // string and array handles 0..8191

// One slot of the handle table: a block of the handle heap, or none.
struct HandleSlot {
  std::uint32_t offset = 0;  // bytes from the start of the heap, a multiple of 8
  std::uint32_t size = 0;    // bytes: n + 1 for a string of capacity n, 4n for an array of n cells
  bool live = false;         // the slot holds a block (of 0 bytes for `a_create(0)`)
};

// The handle table that strings and arrays share. Blocks lie packed in the
// handle-heap area below `top`; a killed block leaves a hole, and a block that
// finds no room above `top` first slides the live blocks down over the holes,
// so a block is refused only when the live ones leave too little room.
// Nothing keeps a block's address across a call that can make a block.
struct Handles {
  HandleSlot slot[kHandles];
  int high_water = 0;            // slots handed out (`str_kill` of the highest lowers it)
  std::uint32_t top = 0;         // end of the highest block, bytes
  std::uint32_t live_bytes = 0;  // bytes of the live blocks, each rounded up to 8
};

struct Dialogs;

// Everything the tick and the runtime routines read and change while a project
// runs. One exists per run; `begin_run` makes it the one brains reach.
struct World {
  project::Tables tables;                   // the budget's element, aspect and collision tables
  const brain::Program* program = nullptr;  // compiled brains (null: no brain runs)
  int highest = -1;                         // highest element index of the project
  std::string names[project::kMaxElements];  // element names, for brain error messages
  brain::ErrorSink errors;
  // Panel messages while aspects load (no buttons; "" clears); no show: none.
  brain::ErrorSink information;

  std::int32_t exit_request = -1;           // -1: the run goes on
  bool running = false;                     // from the start of the preparation to the end of the run
  bool project_running = false;             // a project runs (record ranges apply, the renderer draws)
  std::uint32_t ticks = 0;                  // engine tick counter (brain passes)
  std::int32_t rate = kDefaultRate;         // ticks per second
  Clock clock;
  std::uint32_t key_event = 0;              // the key event taken this tick (0: none)
  platform::Input* input = nullptr;         // devices the tick and routines read; begin_run: the platform's
  // Escape (or the window's close) taken from the key ring by a panel or box
  // ends the run after the tick, whatever the brains do (escape_taken()).
  std::uint32_t escapes_gone = 0;           // the ring's KeyRing::escapes_gone the run has accounted for
  bool escaped = false;                     // a panel or box took one: no brain runs, the run ends
  int brain_element = -1;                   // element whose brain the brain pass runs; -1 outside it
  // Brains stopped while they ran (endless loop, gosubs too deep): told once,
  // they run no more in this run (begin_run clears them).
  bool brain_stopped[project::kMaxElements] = {};

  std::int32_t debug_value = 0;             // last `debug` value (debug_flag: one was given)
  bool debug_flag = false;
  // Told at each `debug` call: the running element (-1: none) and the value; null: nobody.
  void (*debug_told)(void* user, const World& world, int element, std::int32_t value) = nullptr;
  void* debug_user = nullptr;
  media::RandomState random;                // `random` and record ranges
  std::uint32_t literal_start = 0, literal_end = 0;  // string literals of the last compile
  std::span<const std::int32_t> command_values;      // `par_count`, `par_get`
  // Shared variables of a network project, from the settings line (networking reads them).
  project::SharedVariable shared[project::kMaxSharedVariables] = {};
  int shared_count = 0;
  std::int32_t exe_mode = 0;                // bit 0 self-executable, bit 1 second mode flag
  RenderSettings render;
  std::int32_t globals_first = 0, globals_last = 0;  // range last named by globals_save/_load

  // Engine-wide values that brains store for other routines.
  std::int32_t rebound_yr_factor = 0;
  std::int32_t volume = 0;
  std::int32_t colour[3] = {};
  std::int32_t shadow_location[3] = {};
  std::int32_t shadow_orientation[3] = {};

  std::int32_t motion_stack[kMotionStack][12] = {};  // `push`/`pop`: position, rotation, velocity, spin
  int motion_depth = 0;

  Collisions collisions;                    // pair list and this tick's contacts
  Races races;                              // checkpoint gates and racers
  Ground ground;                            // where height queries answer from

  std::uint32_t track_written = 0;          // track recorder: bytes in the track buffer
  SplineSlot splines[kSplineSlots];
  VideoWindow video;

  // The multi-project player of a packaged game; `save` and `resume` act only
  // while it runs.
  bool player = false;
  std::int32_t level = 0;                   // level number of the running project
  std::int32_t listener = 0;                // index of the element that hears the sounds, kept in save games
  std::int32_t save_slot = 0;               // slot of the last `save`/`resume`
  bool save_failed = false;                 // a `save` could not write its file (the player tells it)
  base::Text base_folder;                   // the working folder: save games (base + "curr" N ".dat"),
                                            // and where the files brains name start ("" the current folder)
  base::Text data_folder;                   // the game's data folder, when apart from base_folder
  base::Text save_folder;                   // where save games go when not base_folder ("": base_folder)
  bool reported_refused_path = false;       // a brain named a file outside both (reported once a run)
  bool reported_control_path = false;       // a brain named a file with a control character (once a run)

  struct Scene* scene = nullptr;            // the run's scene objects (scene_start .. scene_end)
  TextList text;                            // this pass's texts
  Handles handles;                          // strings and arrays of brains (emptied by begin_run)
  const Dialogs* dialogs = nullptr;         // the run's dialogs and error box (RunHooks::dialogs); null: stderr
  // RunHooks::start_program with its user, while the run asks before starting programs.
  bool (*start_program)(void* user, std::span<const std::string> words) = nullptr;
  void* start_program_user = nullptr;
  bool runtime_error_shown = false;         // a runtime error ended the run: later ones add no box
  std::int64_t loop_ticks = 0;              // loop ticks of the last run (the preparation passes not counted)
  // The render step while a scene exists: `save` draws the picture through it.
  void (*draw_picture)(World& world) = nullptr;
};

}  // namespace engine
