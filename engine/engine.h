// The engine: ticks and their timing, the brain pass, the fixed-point motion
// arithmetic, and the runtime routines that compiled brains call to read and
// change elements.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "brain/brain.h"
#include "media/media.h"
#include "project/project.h"
#include "base/memory.h"

namespace platform {
struct Input;
struct Video;
}

namespace engine {

// ---- Units and timing --------------------------------------------------------------

inline constexpr std::int32_t kTimerRate = 4500;      // timer units per second
inline constexpr std::int32_t kDefaultRate = 30;      // ticks per second
inline constexpr std::int32_t kMinRate = 15;          // `max_framerate_set` accepts 15..250
inline constexpr std::int32_t kMaxRate = 250;
inline constexpr std::int32_t kFullTurn = 184320;     // 1/512 degree
inline constexpr std::int32_t kHalfTurn = 92160;
inline constexpr std::int32_t kQuarterTurn = 46080;
inline constexpr int kGlobals = base::kGlobalsBytes / 4;  // global brain variables: 2,048
inline constexpr int kMotionStack = 256;              // entries of `push`/`pop`
inline constexpr int kElementBytes = 1024;

// Timer units per tick at rate ticks per second (4500 / rate, integer division).
inline constexpr std::int32_t tick_period(std::int32_t rate) { return kTimerRate / rate; }

// The tick deadline: a tick is on time when it ends at or before its deadline.
struct Clock {
  std::uint32_t deadline = 0;  // timer units; compared as a signed difference
  std::int32_t period = tick_period(kDefaultRate);
};
// Deadline = now + period (the start of a run).
void start_clock(Clock& clock, std::uint32_t now);
// After a tick that ended at `now`: true (draw) when now <= deadline, false
// when late. The deadline moves one period on either way; the caller waits for
// the old deadline before drawing.
bool tick_on_time(Clock& clock, std::uint32_t now);

// ---- Fixed-point motion ----------------------------------------------------------------

struct Vec3 {
  std::int32_t x = 0, y = 0, z = 0;
};

// Rotations of a vector by the Q15 table ("sinusbig.bin", 1/8 degree steps) by
// an angle in 1/512 degree (normalised first; skipped when the step index is 0).
void rotate_x(Vec3& v, std::int32_t angle);
void rotate_y(Vec3& v, std::int32_t angle);
void rotate_z(Vec3& v, std::int32_t angle);
// An element's orientation: about X, then Z, then Y.
void orient(Vec3& v, std::int32_t rx, std::int32_t ry, std::int32_t rz);

// Angle (1/512 degree, not normalised) of the vector (a, b) by the arctangent table.
std::int32_t vector_angle(std::int32_t a, std::int32_t b);
// round(sqrt(v)) for v >= 0.
std::int64_t rounded_sqrt(std::int64_t v);

// ---- The state of a run -----------------------------------------------------------------

// Renderer settings a run saves and puts back; brains change them meanwhile.
struct RenderSettings {
  std::int32_t fog_start = 10240;
  std::int32_t fog_end = 15360;
  std::uint32_t fog_colour = 0xFF000000;
  bool clip_to_display_area = false;
};

// ---- Collisions -----------------------------------------------------------------------------

inline constexpr int kChannels = 11;  // matrix bytes 1..11; 0 never collides, 12 and above are ignored
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
struct GroundTriangle {
  std::int32_t v[9] = {};
  std::int32_t colour = 0;
};
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

// Text-list commands, each a command word followed by its operands.
enum TextCommand : std::int32_t {
  kTextEnd = -1,
  kTextMove = 0,    // x y: pen to display pixel (x, y), the top-left of the next text
  kTextString = 1,  // text font: text = byte offset of a zero-terminated copy in the pool
  kTextColour = 2,  // 0xRRGGBB
  kTextValue = 3,   // value decimals font: value / 10^decimals with that many decimals
};

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
inline constexpr std::uint32_t kHandleHeapBytes = base::area_size(base::Area::handle_heap);

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

  std::int32_t debug_value = 0;
  bool debug_flag = false;
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

  struct Scene* scene = nullptr;            // the run's scene objects (scene_start .. scene_end)
  TextList text;                            // this pass's texts
  Handles handles;                          // strings and arrays of brains (emptied by begin_run)
  const Dialogs* dialogs = nullptr;         // the run's dialogs and error box (RunHooks::dialogs); null: stderr
  bool runtime_error_shown = false;         // a runtime error ended the run: later ones add no box
  std::int64_t loop_ticks = 0;              // loop ticks of the last run (the preparation passes not counted)
  // The render step while a scene exists: `save` draws the picture through it.
  void (*draw_picture)(World& world) = nullptr;
};

// Makes world the run that brains reach and binds the runtime routines; a
// world without input reads the platform's.
void begin_run(World& world);
void end_run(World& world);
World* active_world();  // null outside a run

// Binds every runtime routine of this folder to its keyword and puts the
// folder's own tick phases in place (the race step); idempotent.
// Folders above the engine bind their own keywords with brain::bind_table().
void bind_routines();
// Names of the keywords this folder binds, for checks.
std::span<const std::string_view> bound_names();

// A text argument of a routine: the text of a string handle (up to its first
// zero byte, inside its block) or of a string literal of the last compile;
// empty for anything else. Valid until the next routine that makes a block.
std::string_view text_argument(std::int32_t value);

// The start of a brain pass: the text list emptied (reporting once that the
// last pass's list was full).
void clear_text_list(World& world);
// Appends one command with its operands (and a text for kTextString, whose
// operand 0 is replaced by the pool offset). False, dropping it and every later
// command of the pass, when the list or the pool is full.
bool text_push(TextList& list, std::span<const std::int32_t> command, std::string_view text = {});
// An empty list at the start colour white, as a new scene has it.
void reset_text_list(TextList& list);

// The 2,048 globals (in the brain-data area of the budget).
std::int32_t* globals();

// Index i of the globals: i modulo 2048.
inline int global_index(std::int32_t i) { return static_cast<int>(static_cast<std::uint32_t>(i) & (kGlobals - 1)); }
// Reads one decimal a line from path into globals first..last (each index
// modulo 2048, at most 2,048 of them); stops at the end of the file, and reads
// no more bytes than those lines can hold. False when path is not a regular
// file that opens. Both name the range the test run's globals file goes to.
bool globals_load(World& world, std::string_view path, std::int32_t first, std::int32_t last);
// Writes globals first..last (as globals_load counts them), one decimal a line,
// atomically. An empty range (last < first) leaves the file as it is. False
// when path names something other than a regular file, or the write failed.
bool globals_save(World& world, std::string_view path, std::int32_t first, std::int32_t last);

// ---- Strings, arrays and dialogs ----------------------------------------------------------

// Empties the handle table for a run (begin_run does).
void reset_handles(World& world);
// Empties it and gives its heap back to plain use (end_run does).
void release_handles(World& world);
// A new zero-filled block of bytes (0..kHandleHeapBytes) in the lowest free
// slot below the high-water mark, else at the mark: its handle; -1 when the
// size is out of range or the table or the heap is full.
std::int32_t create_block(World& world, std::int64_t bytes);
// Frees the block of handle (nothing for a value that holds none); the
// high-water mark drops to handle when it was the highest handed out.
void kill_block(World& world, std::int32_t handle);
// The block of a live handle; empty for any other value.
std::span<std::byte> handle_block(World& world, std::int32_t handle);
// String handle's text becomes text, cut to its capacity; false (nothing
// changed) when the handle has no block of at least one byte.
bool set_handle_text(World& world, std::int32_t handle, std::string_view text);

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

// A brain's runtime error: the error box (stderr without dialogs), then the
// run's exit request becomes -2,147,483,648, which ends it. Only the first of
// a run shows a box.
void runtime_error(World& world, std::string_view message);

// ---- Files that brains name --------------------------------------------------------------

// The file a brain's path text names ("\" read as "/"), when it lies inside the
// working folder or the data folder: its absolute path, symbolic links
// followed. Empty for anything else, reported once a run: such a file is
// treated as missing. Every routine that takes a file name from a brain
// (globals, arrays, sounds, models) goes through it.
base::Text brain_file(World& world, std::string_view path);

// ---- Elements -----------------------------------------------------------------------------

// Record 0 of the element table (null before the budget is reserved).
inline project::ElementRecord* element_table() {
  return base::area_as<project::ElementRecord>(base::Area::element_table);
}
// The record an element reference names: inside the element table on a
// record boundary. Null for anything else, including extra-object handles
// (top bit set). Every routine calls it, so it stays inline.
inline project::ElementRecord* element_of(std::int32_t reference) {
  project::ElementRecord* table = element_table();
  // A reference below the table wraps to a large offset.
  std::uint32_t offset = static_cast<std::uint32_t>(reference) - base::address32(table);
  if (!table || reference < 0 || offset >= project::kMaxElements * sizeof(project::ElementRecord) ||
      offset % sizeof(project::ElementRecord))
    return nullptr;
  return table + offset / sizeof(project::ElementRecord);
}
std::int32_t reference_of(const project::ElementRecord& record);
// The aspect record an address word names, or null when it is not one.
const project::AspectRecord* aspect_at(std::int32_t address);
// True when e's current aspect carries the tag of extension (".f3d").
bool has_tag(const project::ElementRecord& e, std::string_view extension);

// ---- The tick ------------------------------------------------------------------------------

// Clears bit 3 of every element, runs each element that is on and not
// suspended once, counts its ticks, then counts the engine tick.
void brain_pass(World& world);
// One engine tick: its phases in order.
void tick(World& world);

// A step of the tick. The engine's own phases stand at the orders below; a
// subsystem puts its phase between them (race checkpoints at kTickCheckpoints).
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

// `max_framerate_set`: 15 <= rate <= 250 changes the rate and period, else nothing.
void set_rate(World& world, std::int32_t rate);

// ---- Collisions ------------------------------------------------------------------------------

// Box corners of an element: record words 15..20 (x1, y1, z1, x2, y2, z2) in L,
// relative to its position; y1 is the upper edge, y2 the lower.
inline constexpr int kWordBoxCorners = project::kWordDisplayArea;

// Colour code (palette index) of channel 1..11; 0 for any other value.
std::int32_t channel_colour(int channel);
// Rebuilds the pair list from the upper triangle of the matrix (rows of the
// smaller index, pairs of elements 0..highest, channels 1..11 only).
void build_pairs(World& world);
// Run start: pair list; for elements 0..highest a radius below 1 comes from
// the box, the box half-size from its horizontal corners; result bits cleared.
void collision_setup(World& world);
// The collision pass of one tick (sets up the run first when needed).
void collision_pass(World& world);
// The contact test of the pass for two records, without recording anything.
bool touching(const project::ElementRecord& a, const project::ElementRecord& b);

// ---- Races and ground ------------------------------------------------------------------------

// Both race tables as a project load leaves them: every gate at its defaults,
// no gates in use, no racers.
void reset_races(Races& races);
// The gate test: e's height (position y in L) inside the gate's band and its
// radius reaching across the gate line. Gates along x or z are tested exactly,
// any other gate turned onto the x axis by the lookup tables first.
bool in_gate(const Gate& gate, const project::ElementRecord& e);
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

// ---- Input devices -----------------------------------------------------------------------------

// Axis value p (-1000..1000) mapped onto a brain's range a..b (`joy1_x` a b).
std::int32_t map_axis(std::int32_t p, std::int32_t a, std::int32_t b);
// Hat value in hundredths of a degree to 1/512 degree; -1 when centred.
std::int32_t hat_angle(std::uint32_t value);

// ---- Tracks and save games ------------------------------------------------------------

inline constexpr std::uint32_t kTrackBufferBytes = base::area_size(base::Area::track_buffer);  // 21,845 whole samples
inline constexpr std::uint32_t kTrackBytesPerSecond = 720;  // 30 samples
// The recorder's samples so far (start of the track buffer to the write position).
std::span<const std::byte> track_recording(const World& world);
// Appends a sample of element e (position, rotation) when a whole one fits:
// the sample before becomes the change since it.
void record_track_sample(World& world, const project::ElementRecord& e);

// Level and listener words, the element records, the globals.
inline constexpr long kSaveGameBytes = 8 + project::kMaxElements * kElementBytes + kGlobals * 4;
// Save folder (base folder when unset) + "curr" + slot + ".dat".
base::Text save_game_path(const World& world, std::int32_t slot);
// True when path holds a save game: 270,344 bytes, listener 0..255.
bool is_save_game(std::string_view path);
// Writes the save game of slot: level, listener, element records, globals
// (atomically). False (reported) when it could not be written.
bool write_save_game(const World& world, std::int32_t slot);
// Puts a save game's element records (keeping every brain entry) and globals
// back; false when the file is missing or not a save game (size, listener 0..255).
bool read_save_game(World& world, std::string_view path);

// ---- Other programs (`run`, `run_task`) ------------------------------------------------

// The words of a command line: blanks separate them, double quotes group
// blanks into a word and are dropped ("" is an empty word). No other character
// means anything: there is no shell.
std::vector<std::string> command_words(std::string_view line);
// Reaps the programs `run_task` started that have ended, without waiting;
// returns how many still run. end_run calls it.
int reap_programs();

// ---- The video window -------------------------------------------------------------------

// Closes the world's video window, if one is open (end_run does; `play` and the
// render step are on the render side).
void close_video_window(World& world);

// ---- Sound ---------------------------------------------------------------------------------

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
// Mixing rate of a "Sound" setting: 11025, 22050, 44100 Hz for 1..3, 0 for anything else.
int sound_rate_of(std::int32_t sound);
// Takes the output for every later run and opens its device (closing one
// open). False when it opens none: sound is off, or no device works (the runs
// are then silent).
bool open_sound_output(const SoundOutput& output);
void close_sound_output();  // the device closed (shutdown)

// Sound start (every run start, `restart_sound_system`): the output's device,
// opened again when it was stopped; every sound slot emptied; listener element 0.
void sound_start(World& world);
// Loads the sounds of elements 0..highest from their sound field (3) and
// settings field (39: play-rate factor / minimum distance / - / one-shot bit /
// volume in dB), then starts those of the elements that are on, looping or
// once. A missing or damaged file leaves its element silent (one line on
// stderr). Nothing without a device.
void start_element_sounds(World& world, project::ElementLines& lines, std::string_view work_folder);
// Sound end (run end, `stop_sound_system`): every element and free-standing sound
// stopped and released. The device stays open for the next run.
void sound_end(World& world);
// Once per drawn frame: the listener placed at its element; while element
// sounds play and the mixing setting places them, each placed at its element,
// the nearest ones fading with distance out to their full distance, the others
// keeping the volume of their minimum distance. Deferred: platform::commit_sound()
// sends it after the picture.
void place_sounds(World& world);

// A playing element sound and its distance to the listener (sub-units, |dx| + |dy| + |dz|).
struct SoundDistance {
  int element;
  std::int64_t distance;
};
// The nearest-sounds list of the playing sounds in element order: appended
// while fewer than list.size() are listed, then each one replaces the first
// listed entry farther than it. Returns how many are listed.
int select_nearest(std::span<const SoundDistance> playing, std::span<SoundDistance> list);

// The whole mix silenced while the game stands still (`pause`, saves,
// dialogs); returns the master volume that unmute_sound puts back.
int mute_sound();
void unmute_sound(int volume);

// ---- Result files ------------------------------------------------------------------------

// The run's dump: "exit V", "ticks V", "global I V" for every non-zero global,
// for each element 0..highest "name I NAME" and "element I W V" for every
// non-zero word W of its record, then "collision I J V" for every non-zero
// matrix byte of a pair I < J <= highest. LF lines: it is read by shell tools.
bool write_dump(const World& world, std::string_view path);

// ---- The project run ---------------------------------------------------------------------

// What a run of a loaded project reads besides its world.
struct RunSetup {
  project::Project* project = nullptr;     // loaded; its fog values are put back after the run
  base::Text work_folder;                  // ends in "/"
  base::Text data_folder;                  // fonts, hood and marker models; ends in "/"
  int display_mode = 1;                    // config.ini: 1/2, 4/8, 16/32
  int filtering = 3;                       // config.ini: texture filtering 0..5
  bool editor_clipping = false;            // clipping to the display area outside runs (editor state line 15)
  media::Font* font = nullptr;             // the 2D screen's font: the small one while the run lasts
  std::uint8_t* screen = nullptr;          // the 8-bit 2D screen drawn over the scene (rows width bytes apart)
  int screen_width = 0, screen_height = 0;
  std::span<const std::int32_t> command_values;  // `par_count`, `par_get`
  const base::TempTexts* temps = nullptr;  // temporary strings, for the low-memory warning; null: no check
  bool fast = false;                       // ticks back to back, every one drawn
  std::int32_t max_ticks = -1;             // the run ends as by Escape after this many loop ticks (-1: no limit)
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
  // Shows the 2D screen alone, where the window has no OpenGL.
  void (*present_screen)(void* user) = nullptr;
  // After each frame drawn by the tick loop; loop_tick counts from 1.
  void (*frame_drawn)(void* user, World& world, std::int64_t loop_tick) = nullptr;
  // The boxes brains open and the runtime error box; null: stderr, each box taking its default.
  const Dialogs* dialogs = nullptr;
  // Once the brains are compiled (their private files are no longer read) and a
  // resumed game is read, before the first brain pass.
  void (*prepared)(void* user, World& world) = nullptr;
};

// Runs the loaded project: the preparation (aspects, records, shared
// variables, brains, scene), ticks at the world's rate until `exit`, Escape or
// max_ticks, then what the run changed put back. world.exit_request says how it ended.
void run_project(World& world, const RunSetup& setup, const RunHooks& hooks);

}  // namespace engine
