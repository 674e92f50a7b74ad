// Internals shared by the engine's files: what engine.h leaves out (units, motion, tick
// phases, text list, handles, collisions, sound...), the routines' helpers and binding tables.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "brain/brain.h"
#include "engine/engine.h"
#include "base/memory.h"

namespace engine {

// ---- Units and timing --------------------------------------------------------------

inline constexpr std::int32_t kMinRate = 15;          // `max_framerate_set` accepts 15..250
inline constexpr std::int32_t kMaxRate = 250;
inline constexpr std::int32_t kHalfTurn = 92160;     // 1/512 degree, as kFullTurn
inline constexpr std::int32_t kQuarterTurn = 46080;
inline constexpr int kElementBytes = 1024;

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

// ---- Routines and the text list ----------------------------------------------------

// Names of the keywords this folder binds, for checks.
std::span<const std::string_view> bound_names();

// A text argument of a routine: the text of a string handle (up to its first
// zero byte, inside its block) or of a string literal of the last compile;
// empty for anything else. Valid until the next routine that makes a block.
std::string_view text_argument(std::int32_t value);

// Text-list commands, each a command word followed by its operands.
enum TextCommand : std::int32_t {
  kTextEnd = -1,
  kTextMove = 0,    // x y: pen to display pixel (x, y), the top-left of the next text
  kTextString = 1,  // text font: text = byte offset of a zero-terminated copy in the pool
  kTextColour = 2,  // 0xRRGGBB
  kTextValue = 3,   // value decimals font: value / 10^decimals with that many decimals
};

// The start of a brain pass: the text list emptied (reporting once that the
// last pass's list was full).
void clear_text_list(World& world);
// Appends one command with its operands (and a text for kTextString, whose
// operand 0 is replaced by the pool offset). False, dropping it and every later
// command of the pass, when the list or the pool is full.
bool text_push(TextList& list, std::span<const std::int32_t> command, std::string_view text = {});
// An empty list at the start colour white, as a new scene has it.
void reset_text_list(TextList& list);

// ---- Globals -----------------------------------------------------------------------

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

// ---- Strings, arrays and runtime errors ----------------------------------------------------

inline constexpr std::uint32_t kHandleHeapBytes = base::area_size(base::Area::handle_heap);

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

// A brain's runtime error: the error box (stderr without dialogs), the fault
// told with the running element and the brain line of call_site (a code
// address the keyword returns to, BRAIN_CALL_SITE(); 0: no line), then the
// run's exit request becomes -2,147,483,648, which ends it. Only the first of
// a run is shown and told.
void runtime_error(World& world, std::string_view message, std::uint32_t call_site = 0);

// The brain code a keyword's routine returns to. Only in the routine's own
// body: its thunk jumps in, so the return address is the brain's call.
#define BRAIN_CALL_SITE() static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)))

// The line of element's brain file whose code holds the call that returns to
// call_site; 0 when call_site lies outside that element's compiled body.
int brain_line(const World& world, int element, std::uint32_t call_site);

// True once a panel or box has taken Escape (or the window's close) from the
// key ring during the run: the run then ends after its tick.
bool escape_taken(World& world);

// ---- Files that brains name --------------------------------------------------------------

// The file a brain's path text names ("\" read as "/"), when it lies inside the
// working folder or the data folder: its absolute path, symbolic links
// followed. Empty for anything else, reported once a run: such a file is
// treated as missing. Every routine that takes a file name from a brain
// (globals, arrays, sounds, models) goes through it.
base::Text brain_file(World& world, std::string_view path);

// ---- Elements ----------------------------------------------------------------------

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
// The aspect record an address word names, or null when it is not one.
const project::AspectRecord* aspect_at(std::int32_t address);

// ---- The tick ----------------------------------------------------------------------

// `max_framerate_set`: 15 <= rate <= 250 changes the rate and period, else nothing.
void set_rate(World& world, std::int32_t rate);

// ---- Collisions --------------------------------------------------------------------

inline constexpr int kChannels = 11;  // matrix bytes 1..11; 0 never collides, 12 and above are ignored
// Box corners of an element: record words 15..20 (x1, y1, z1, x2, y2, z2) in L,
// relative to its position; y1 is the upper edge, y2 the lower.
inline constexpr int kWordBoxCorners = project::kWordDisplayArea;

// Colour code (palette index) of channel 1..11; 0 for any other value.
std::int32_t channel_colour(int channel);
// Rebuilds the pair list from the upper triangle of the matrix (rows of the
// smaller index, pairs of elements 0..highest, channels 1..11 only).
void build_pairs(World& world);
// The contact test of the pass for two records, without recording anything.
bool touching(const project::ElementRecord& a, const project::ElementRecord& b);

// ---- Races -------------------------------------------------------------------------

// Both race tables as a project load leaves them: every gate at its defaults,
// no gates in use, no racers.
void reset_races(Races& races);
// The gate test: e's height (position y in L) inside the gate's band and its
// radius reaching across the gate line. Gates along x or z are tested exactly,
// any other gate turned onto the x axis by the lookup tables first.
bool in_gate(const Gate& gate, const project::ElementRecord& e);

// ---- Input devices -----------------------------------------------------------------------------

// Axis value p (-1000..1000) mapped onto a brain's range a..b (`joy1_x` a b).
std::int32_t map_axis(std::int32_t p, std::int32_t a, std::int32_t b);
// Hat value in hundredths of a degree to 1/512 degree; -1 when centred.
std::int32_t hat_angle(std::uint32_t value);

// ---- Tracks and save games ---------------------------------------------------------

inline constexpr std::uint32_t kTrackBufferBytes = base::area_size(base::Area::track_buffer);  // 21,845 whole samples
// Appends a sample of element e (position, rotation) when a whole one fits:
// the sample before becomes the change since it.
void record_track_sample(World& world, const project::ElementRecord& e);

// Level and listener words, the element records, the globals.
inline constexpr long kSaveGameBytes = 8 + project::kMaxElements * kElementBytes + kGlobals * 4;
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

// ---- Sound -------------------------------------------------------------------------

// Mixing rate of a "Sound" setting: 11025, 22050, 44100 Hz for 1..3, 0 for anything else.
int sound_rate_of(std::int32_t sound);

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

using Binding = brain::Binding;

// ---- Helpers of the runtime routines ---------------------------------------------------------

// Wrapping 32-bit arithmetic, as the machine's 32-bit instructions give.
inline std::int32_t add32(std::int32_t x, std::int32_t y) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(x) + static_cast<std::uint32_t>(y));
}
inline std::int32_t sub32(std::int32_t x, std::int32_t y) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(x) - static_cast<std::uint32_t>(y));
}
inline std::int32_t low32(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}
inline std::int32_t neg32(std::int32_t x) { return sub32(0, x); }
inline std::int32_t abs32(std::int32_t x) { return x < 0 ? neg32(x) : x; }

inline constexpr std::int32_t kTrue = -1;  // a brain's "true"

// Record word w (0..255).
inline std::int32_t* word(project::ElementRecord& r, int w) { return reinterpret_cast<std::int32_t*>(&r) + w; }

inline World* world() { return active_world(); }  // null outside a run
// Highest element index of the run, -1 outside one.
inline int highest() {
  World* w = world();
  return w ? (w->highest < project::kMaxElements ? w->highest : project::kMaxElements - 1) : -1;
}
inline project::ElementRecord* record_at(int i) { return element_table() + i; }
// The input devices the run reads (null outside a run).
inline platform::Input* run_input() {
  World* w = world();
  return w ? w->input : nullptr;
}

// A brain's text as a message on stderr shows it: whole up to kEchoChars
// characters, else its first kEchoChars, "..." and its length in characters.
inline constexpr std::size_t kEchoChars = 300;
std::string echo_text(std::string_view text);
// Budget units of a keyword's pass over `bytes` bytes of a brain's text or block.
inline constexpr std::int64_t kBytesPerBudgetUnit = 32;
// Budget units of a file a brain names (brain_file) and of a box printed on stderr.
inline constexpr std::int64_t kFileCost = 1000;
inline constexpr std::int64_t kPrintedBoxCost = 200;

// `random` lo..hi (either order) from the run's random state and the input samples.
std::int32_t random_draw(std::int32_t lo, std::int32_t hi);
// sqrt of the squared per-axis distances >> 9, rounded, in L (with or without y).
std::int64_t length_between(const project::ElementRecord& p, const project::ElementRecord& q, bool with_y);
// A length in L as sub-units (<< 9, low 32 bits).
inline std::int32_t sub_units(std::int64_t length) { return low32(length << 9); }
// Direction in the x-z plane from p to q in 1/512 degree (0 when p is q).
std::int32_t direction_xz(const std::int32_t* p, const std::int32_t* q);
std::int32_t direction_xz(const project::ElementRecord& p, const project::ElementRecord& q);

// An element's own sound (`on`, `off`): played from the start, looping unless
// one-shot (flags bit 4), placed at the element; stopped.
void play_element_sound(project::ElementRecord& e);
void stop_element_sound(project::ElementRecord& e);

// A value in the range of the handle table (0..8191), with or without a block.
inline bool is_handle_number(std::int32_t value) {
  return static_cast<std::uint32_t>(value) < static_cast<std::uint32_t>(kHandles);
}

// The runtime errors of the string, element and dialog routines.
enum class RuntimeError { str_copy, str_add, str_chr, str_num, input_box, file_box, element };
// Raises one (runtime_error()) for the keyword call that returns to call_site;
// `element` names the element that was not found.
void raise_runtime_error(World& world, RuntimeError which, std::uint32_t call_site, std::string_view name = {});

// ---- Binding tables ---------------------------------------------------------------------------

std::span<const Binding> field_bindings();      // routines_fields.cpp
std::span<const Binding> element_bindings();    // routines_elements.cpp
std::span<const Binding> motion_bindings();     // routines_motion.cpp
std::span<const Binding> math_bindings();       // routines_math.cpp
std::span<const Binding> run_bindings();        // routines_run.cpp
std::span<const Binding> collision_bindings();  // collide.cpp
std::span<const Binding> input_bindings();      // input.cpp
std::span<const Binding> render_bindings();     // render_routines.cpp
std::span<const Binding> mesh_bindings();       // render/mesh_routines.cpp
std::span<const Binding> poly_bindings();       // render/poly_routines.cpp
std::span<const Binding> track_bindings();      // tracks.cpp
std::span<const Binding> save_game_bindings();  // save_game.cpp
std::span<const Binding> spline_bindings();     // splines.cpp
std::span<const Binding> video_bindings();      // video.cpp
std::span<const Binding> light_bindings();      // lights.cpp
std::span<const Binding> shadow_bindings();     // shadows.cpp
std::span<const Binding> layer_bindings();      // layers.cpp
std::span<const Binding> sound_bindings();      // sound.cpp
std::span<const Binding> race_bindings();       // races.cpp
std::span<const Binding> ground_bindings();     // ground.cpp
std::span<const Binding> string_bindings();     // strings.cpp
std::span<const Binding> array_bindings();      // arrays.cpp
std::span<const Binding> dialog_bindings();     // dialogs.cpp
std::span<const Binding> network_bindings();    // network.cpp

// ---- Networking (network.cpp) ---------------------------------------------------------------------

// Around the brain pass while a session runs: what arrived is taken before the
// first brain; each element's state is noted before its brain and, after it,
// published (this machine owns it) or put back and steered towards what its
// owner sent; after the last, the warm-up counter and the send step.
void network_before_pass(World& world);
void network_before_brain(World& world, int element);
void network_after_brain(World& world, int element);
void network_after_pass(World& world);
// After `global_set`: the shared variables of other machines keep what they last sent.
void network_global_written(World& world);
// `str_send` and `str_poll` (strings.cpp, where brain texts are read and written).
std::int32_t routine_str_send(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t e,
                              std::uint32_t self);
std::int32_t routine_str_poll(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t e,
                              std::uint32_t self);

}  // namespace engine
