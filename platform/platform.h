// The platform layer: window, events, keyboard and mouse, timer, message boxes
// and presentation of the 8-bit screen. The only folder that includes SDL2;
// everything above it sees these plain structs and functions, and runs headless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/scene/scene.h"

namespace platform {

// ---- Key events -------------------------------------------------------------

// A key event: the character in bits 0-7 (0 for a key without a character),
// the PC set-1 scan code in bits 16-23.
inline constexpr std::uint32_t key_event(int character, int scan_code) {
  return (static_cast<std::uint32_t>(character) & 0xFF) | ((static_cast<std::uint32_t>(scan_code) & 0xFF) << 16);
}
inline constexpr int event_character(std::uint32_t event) { return static_cast<int>(event & 0xFF); }
inline constexpr int event_scan_code(std::uint32_t event) { return static_cast<int>((event >> 16) & 0xFF); }

// The PC set-1 scan codes the program names. Extended keys read like their
// keypad twins (Home is keypad 7), as set1_scan_code folds them.
enum ScanCode : int {
  kScanEscape = 1,
  kScanBackspace = 14,
  kScanTab = 15,
  kScanE = 18,
  kScanEnter = 28,
  kScanCtrl = 29,
  kScanS = 31,
  kScanK = 37,
  kScanL = 38,
  kScanLeftShift = 42,
  kScanZ = 44,
  kScanX = 45,
  kScanN = 49,
  kScanRightShift = 54,
  kScanAlt = 56,
  kScanSpace = 57,
  kScanF1 = 59,
  kScanF2 = 60,
  kScanF3 = 61,
  kScanF4 = 62,
  kScanHome = 71,
  kScanUp = 72,
  kScanPageUp = 73,
  kScanLeft = 75,
  kScanRight = 77,
  kScanEnd = 79,
  kScanDown = 80,
  kScanPageDown = 81,
  kScanInsert = 82,
  kScanDelete = 83,
};

inline constexpr int kKeyRingEntries = 16;

// The key-event ring. Offsets are in bytes, advanced by 4 and wrapped modulo 64;
// the ring is empty when they are equal, so it holds at most 15 unread events.
// A write into a full ring drops the new event (the queued ones stay readable).
// Escape events that leave the ring (taken, cleared or dropped) are counted, so
// a run learns of an Escape that a panel or box took while it stood still.
struct KeyRing {
  std::uint32_t entries[kKeyRingEntries] = {};
  std::uint32_t write_offset = 0;
  std::uint32_t read_offset = 0;
  std::uint32_t escapes_gone = 0;  // Escape events taken, cleared or dropped so far
};

bool ring_push(KeyRing& ring, std::uint32_t event);  // false when full (event dropped)
bool ring_take(KeyRing& ring, std::uint32_t& event);  // false when empty
bool ring_empty(const KeyRing& ring);
void ring_clear(KeyRing& ring);

inline constexpr int kTypedTextBytes = 8192;  // zero-terminated, so 8,191 characters

// Text typed since the last time a text panel took it.
struct TypedText {
  char text[kTypedTextBytes] = {};
  int length = 0;
};

void typed_clear(TypedText& typed);

// ---- Game controllers -----------------------------------------------------------

inline constexpr int kControllers = 2;       // joystick 1 and joystick 2
inline constexpr int kAxisRange = 1000;      // every axis reads -1000..1000
inline constexpr int kHats = 4;
inline constexpr int kControllerButtons = 32;
inline constexpr std::uint32_t kHatCentred = 0xFFFFFFFF;  // low 16 bits all ones

// Axes of the controller record, in the order scripts name them.
enum class Axis : std::uint8_t { x, y, z, u, v, xr, yr, zr };
inline constexpr int kAxes = 8;

// One controller as the engine sees it, refreshed by its poll.
struct Controller {
  std::int32_t axis[kAxes] = {};  // by Axis: -1000..1000
  std::uint32_t hat[kHats] = {kHatCentred, kHatCentred, kHatCentred, kHatCentred};  // hundredths of a degree
  std::uint32_t buttons = 0;      // bit i: button i down
  bool present = false;           // a device (or the script) fills this record
};

// Everything the rest of the engine reads about the keyboard and mouse.
struct Input {
  KeyRing ring;
  TypedText typed;
  std::int32_t wheel = 0;          // minus the wheel delta: -120 per notch away from the user
  bool activated = false;          // set whenever the window becomes active
  int mouse_x = 0, mouse_y = 0;    // screen pixels, clamped to the screen
  std::uint32_t mouse_buttons = 0; // bit 0 left, bit 1 right, bit 2 middle
  bool held[256] = {};             // keys down, by set-1 scan code (device or script); a key
                                   // pressed and released since the last sample is held in this one
  std::uint32_t sample_count = 0;  // input samples taken so far
  Controller joystick[kControllers];  // joystick 1 and 2 (last values kept while absent)
};

// Modifier mask of the held keys: shift = bits 0 and 1, control = bit 2, alt = bit 3.
std::uint32_t modifier_mask(const Input& input);
// True when a key, a mouse button or a button of a present controller is down.
bool any_input_down(const Input& input);

// Axis name of a script ("x", "y", "z", "u", "v", "xr", "yr", "zr"); false when unknown.
bool axis_of_name(std::string_view name, Axis& axis);
// A raw device axis (-32768..32767) scaled to -1000..1000.
std::int32_t scale_axis(int raw);
// An SDL hat position (bit mask up 1, right 2, down 4, left 8) in hundredths of a degree.
std::uint32_t hat_hundredths(int position);
// Attaches or detaches controller slot n (0 or 1) as hot-plugging does: a
// detached controller keeps its axes and hats and has no buttons down.
void set_controller_present(Input& input, int n, bool present);

// Key intake with the rules of the window procedure.
// A key that produces no character: (scan code << 16) into the ring.
void take_bare_key(Input& input, int scan_code);
// A key that produced a character: digits '1'..'9','0' take the scan codes 2..11
// whatever key made them; backspace (8) removes the last typed character, a
// character of 32 and above is appended while fewer than 8,191 are typed.
void take_character(Input& input, int character, int scan_code);

// PC set-1 scan code of an SDL scancode, folded as Windows reports it (arrows and
// the editing block give the keypad numbers, right Ctrl 29, right Alt 56,
// keypad Enter 28); 0 for keys without one.
int set1_scan_code(int sdl_scancode);
// The character a key makes without text input (Backspace 8, Tab 9, Enter 13,
// Escape 27, Ctrl+letter 1..26), or 0.
int control_character(int sdl_scancode, bool ctrl_down);
// One Unicode code point as a Windows-1252 character; '?' when it has none.
int cp1252_of(std::uint32_t code_point);
// The set-1 scan code of a key name, as `keyboard` and input scripts take them
// ("LEFT", "SPACE", "F1", "A", "/"...; compared upper-cased); 0 for an unknown name.
int scan_code_of_key_name(std::string_view name);

// ---- Scripted input -----------------------------------------------------------

enum class ScriptKind : std::uint8_t { key, down, up, mouse, wheel, joy };

// Controller events of "joy N ..." lines.
enum class JoyEvent : std::uint8_t { axis, button, hat, present };

struct ScriptEvent {
  std::uint32_t tick;  // engine tick, or input sample number outside a run
  ScriptKind kind;
  std::int32_t a = 0, b = 0, c = 0;  // key: scan, char; down/up: scan; mouse: x, y, buttons; wheel: delta;
                                     // joy: slot 0..1, index (axis, button, hat), value
  JoyEvent joy = JoyEvent::axis;
};

// A parsed input script and how far it has been delivered.
struct Script {
  std::vector<ScriptEvent> events;
  std::size_t next = 0;
  bool held_once[256] = {};  // keys held by "key" events until the next sample
  bool held[256] = {};       // keys held by "down" until "up"
};

struct ScriptError {
  int line = 0;       // 1-based line of the first bad line
  char message[160] = {};
};

// Parses "TICK EVENT ARGS" lines, ended by LF or CR LF ("#" as the first character
// that is no blank makes the line a comment of free text; blank lines are skipped).
// Events: "key KEY [CHAR]", "down KEY", "up KEY" (KEY a scan code, or a key name
// of scan_code_of_key_name when it is no number), "mouse X Y BUTTONS",
// "wheel DELTA", and for controller N (1 or 2): "joy N axis NAME VALUE" (-1000..1000),
// "joy N button B 0|1" (0..31), "joy N hat H VALUE" (0..3; hundredths 0..35999,
// or -1 for centred), "joy N present 0|1".
// Keeps the first error and returns false.
bool parse_script(std::string_view text, Script& script, ScriptError& error);
bool load_script(const char* path, Script& script, ScriptError& error);
// Delivers every event due at this clock (events at or before it, in file order).
// Keys held by earlier "key" events are released first.
void deliver_script(Script& script, Input& input, std::uint32_t clock);
inline bool script_finished(const Script& script) { return script.next >= script.events.size(); }

// ---- Timer ------------------------------------------------------------------

void start_timer();          // time 0 is now; called once at start-up
std::uint32_t timer();       // 1/4500 s since start_timer(), wraps after ~11 days
// True when now is at or past deadline (signed difference, so it survives the wrap).
inline bool time_reached(std::uint32_t now, std::uint32_t deadline) {
  return static_cast<std::int32_t>(now - deadline) >= 0;
}
void sleep_ms(int milliseconds);

// ---- Window and devices -------------------------------------------------------

struct Options {
  bool headless = false;  // offscreen video, no sound device, no message boxes
  bool windowed = false;  // a window of the screen size instead of full screen
  bool pictures = false;  // headless but drawn (screenshots): OpenGL through SDL's offscreen driver
};

// Initialises video and events. False when there is no video at all, or, not
// headless, when no display answers and SDL_VIDEODRIVER does not name a driver
// that shows nothing (offscreen, dummy): init_error() then says why.
// Without a display (no DISPLAY or WAYLAND_DISPLAY) and without XDG_RUNTIME_DIR,
// it points to a private folder for the run, so that SDL's probing stays quiet.
bool init(const Options& options);
// Why the last init() failed, one line without a line break ("" when it did not).
const char* init_error();
void shutdown();  // releases window, renderer and SDL; safe to call twice
bool headless();
bool is_initialised();
// True when a person can see the window: not headless, and a video driver that
// shows something (not SDL's offscreen or dummy driver, and a display to show on).
bool display_visible();

// Largest screen (width, height) that the display can show, for the mode bits.
void display_size(int& width, int& height);

// Creates the window for a width x height screen, titled from the program's
// title region ("Zepta 5.2", or a packaged game's title; trailing blanks left
// out): full screen over the whole display (the screen scaled into it,
// letterboxed), or a resizable window of the screen size. Alt+Enter switches
// between the two. False with a report on failure.
bool create_window(int width, int height);
bool has_window();
const char* window_title();  // the title region's 32 characters, blank-padded
void set_full_screen(bool full_screen);  // nothing headless or without a window
bool full_screen();

// Presents an 8-bit screen, each pixel expanded through the 16-bit (5-6-5)
// colour table, scaled to the window with the aspect kept.
void present_screen(const std::uint8_t* pixels, int width, int height, int pitch,
                    const std::uint16_t colour_table[256]);
// The scene renderer drawing into the window (OpenGL 3.3), or null when the
// window has no OpenGL (then present_screen uses SDL's software renderer).
scene::Renderer* scene_renderer();
// The r g b palette (768 bytes) that a 5-6-5 colour table stands for.
void palette_of_colour_table(const std::uint16_t colour_table[256], std::uint8_t palette[768]);

// The model files the program loads (lower case): text ".x" through its own
// reader, the rest through the model library.
inline constexpr std::string_view kModelExtensions[] = {".x", ".3ds", ".gltf", ".glb", ".obj"};
// True when the path ends in one of them (any case).
bool is_model_path(std::string_view path);

// Triangles of a model in scene space (left-handed, clockwise front faces; glTF
// and ".obj" files mirrored in x from their right-handed space, front along +z),
// every mesh of the file with its node placement (a mirroring one keeps the
// fronts outside), appended to out. Static geometry only.
// False with a reason in error when the file can't be read, holds no triangles
// or passes a limit below (then nothing is appended).
inline constexpr int kMaxModelVertices = 196608;  // triangle corners drawn (the own reader drops the rest)
inline constexpr int kMaxModelFaces = kMaxModelVertices / 3;  // faces of all meshes, as the file has them
inline constexpr int kMaxModelMeshes = 1024;
inline constexpr int kMaxModelBones = 4096;       // of all meshes
inline constexpr int kMaxModelNodes = 16384;      // nodes walked (a node shared by several parents counts each time)
inline constexpr int kMaxModelNodeDepth = 64;     // nodes below the root
// Text ".x" files are read by the program itself only (one it finds damaged
// is refused); the others need the model library (Assimp), loaded on first
// use: without it they fail with "the model library (libassimp.so.N) is not
// installed". Files a glTF or ".obj" model names
// (buffers, materials) are read from its own folder only.
bool load_model(std::string_view path, std::vector<scene::Vertex>& out, std::string& error);
// The same through the model library only, whatever the file (to compare the readers).
bool load_model_through_library(std::string_view path, std::vector<scene::Vertex>& out, std::string& error);
// True when the file is not a text ".x", which the program reads itself (or can't be read).
bool model_needs_library(std::string_view path);
// Loads the model library if it is not yet; false (reported once) when it is not installed.
bool model_library_available();
std::span<const char* const> model_library_names();  // its sonames

// A model as a tree of placed nodes with their meshes, materials and keyed
// animations, in the same scene space as load_model (a node's placement and
// its mesh vertices are converted the same way, so that the tree drawn gives
// load_model's triangles).
struct ModelMaterial {
  scene::MaterialDesc desc;
  std::string texture;  // image file beside the model (relative to its folder), "" for none
};
struct ModelGroup {
  int first_vertex = 0, vertex_count = 0;  // a run of whole triangles of the mesh
  int material = -1;                       // index into ModelTree::materials, -1 the default (white)
};
struct ModelMesh {
  std::vector<scene::Vertex> vertices;     // node space, 3 a triangle, clockwise from the front
  std::vector<ModelGroup> groups;          // at most scene::kMaxGroupsPerMesh
};
struct ModelNode {
  std::string name;
  int parent = -1;                         // nodes come after their parents; node 0 is the root
  scene::Vec3 position;                    // placement relative to the parent
  scene::Quat rotation;
  scene::Vec3 scale{1, 1, 1};
  std::vector<int> meshes;                 // into ModelTree::meshes
};
template <class T>
struct ModelKey {
  float time = 0;  // seconds
  T value;
};
struct ModelChannel {
  int node = 0;
  std::vector<ModelKey<scene::Vec3>> positions;
  std::vector<ModelKey<scene::Quat>> rotations;
  std::vector<ModelKey<scene::Vec3>> scales;
};
struct ModelAnimation {
  std::string name;
  float duration = 0;  // seconds
  std::vector<ModelChannel> channels;
};
// Node 0 stands for the file itself: its children are the file's top-level
// frames (nodes) in file order, and meshes outside any frame are its own. Its
// placement is the identity.
struct ModelTree {
  std::vector<ModelNode> nodes;
  std::vector<ModelMesh> meshes;
  std::vector<ModelMaterial> materials;
  std::vector<ModelAnimation> animations;
};
inline constexpr int kMaxModelKeys = 65536;  // keys of all channels of all animations
// Reads a model file as a tree, under the limits of load_model (and
// kMaxModelKeys). Key times are in seconds (".x" ticks at the file's
// AnimTicksPerSecond, 4800 when it gives none). Skinned meshes come in their
// bind pose. False with a reason in error, out left empty.
// A text ".x" file gives a node per Frame (in file order) and a mesh per Mesh
// (each of its materials a group; past kMaxGroupsPerMesh the rest go on in a
// further mesh); the model library's files a mesh per node, each of the
// library's meshes under it a group. A node placement that shears is taken as
// its rotation and scale. Animated nodes keep the parts of their placement
// that no key sets (as the rest pose has them). Material colours come in 0..1,
// a power of 0 without highlight; textures embedded in the file are left out.
bool load_model_tree(std::string_view path, ModelTree& out, std::string& error);
// The same through the model library only, whatever the file (to compare the readers).
bool load_model_tree_through_library(std::string_view path, ModelTree& out, std::string& error);

// Lowest set bits of the red, green and blue masks of the presented 16-bit surface.
void colour_shifts(int& red, int& green, int& blue);

// The system mouse pointer over the window: shown or hidden, except while the
// panel kit covers it with a pointer of its own (then always hidden).
void show_cursor(bool shown);
void cover_cursor(bool covered);
void minimise_window();

// The system clipboard's text as Windows-1252 characters; false when there is
// no video, no text, or it can't be read (out unchanged).
bool clipboard_text(std::string& out);
// Windows-1252 text onto the system clipboard; false when it can't be set.
bool set_clipboard_text(std::string_view text);

// ---- Video files ----------------------------------------------------------------

// A video file's first video stream, decoded with FFmpeg into RGBA frames.
struct Video;
inline constexpr int kMaxVideoSide = 4096;  // larger frames are refused
// FFmpeg is loaded on first use: without it (reported once) every video fails to open.
bool video_library_available();
std::span<const char* const> video_library_names();  // its sonames, dependencies first
// Null, with the reason in error, when the file has no decodable video stream.
Video* open_video(std::string_view path, std::string& error);
void close_video(Video* video);  // null is fine
void video_size(const Video& video, int& width, int& height);
// The next frame: width x height RGBA pixels, rows from the top, owned by the
// video until the next call, and its time in seconds from the start. False at
// the end of the stream or when the rest of it can't be decoded.
bool next_video_frame(Video& video, const std::uint8_t*& rgba, double& seconds);
// Back to the first frame; false when the file can't seek.
bool rewind_video(Video& video);

// ---- Shared libraries ---------------------------------------------------------

// What the dynamic section of an ELF file names.
struct ElfDynamic {
  std::vector<std::string> needed;  // DT_NEEDED, in order
  std::string soname;               // DT_SONAME ("" when none)
  std::string rpath, runpath;       // DT_RPATH, DT_RUNPATH
};
// False when path is not a readable 64-bit little-endian ELF file with a dynamic section.
bool read_elf_dynamic(std::string_view path, ElfDynamic& out);

// A shared library of this process: its soname and the file it was loaded from.
struct SharedLibrary {
  std::string name;
  std::string path;
};
// The shared libraries a program needs: DT_NEEDED walked from the executable
// at program_path and from extra (sonames, such as video_library_names()),
// transitively, each found among the objects this process has loaded (loaded
// here when not yet). A library for which ship(name) is false is left out and
// its own dependencies are not walked. False with error set when a needed
// library can't be found or read.
bool needed_libraries(std::string_view program_path, std::span<const std::string> extra,
                      bool (*ship)(std::string_view name), std::vector<SharedLibrary>& out, std::string& error);

// ---- Events and input ---------------------------------------------------------

Input& input();

// Dispatches every waiting window event without blocking: keys into the ring
// and typed text, wheel, activation, mouse; a close request becomes Escape;
// Alt+Enter switches between full screen and window and reaches no one else.
void pump();
// One input sample: pump, deliver the scripted events that are due, refresh the
// held keys, clamp the mouse to the screen, count the sample. With pace (loops
// that wait for input) it then sleeps 1 ms when there is a display, so such
// loops don't spin; the engine tick, paced by the run loop, passes false.
void sample_input(bool pace = true);
// One sample of a loop that waits for the user (a panel, a tool, `pause`).
// While a run times the script by engine ticks, which stand still during the
// wait, the next scripted events are delivered when none is due, whatever
// their tick, so that a script answers the panels that stop a run.
void await_input();
// The screen the mouse is clamped to (pixels).
void set_screen_size(int width, int height);

// Scripted input (--input FILE); the script is delivered by sample_input().
void set_script(Script&& script);
// While a project runs the script is timed by the engine tick; outside, by samples.
void set_engine_tick(std::uint32_t tick);
void clear_engine_tick();
// Added to the engine tick to time the script (wrapping): a game of several
// runs times its script from its start. 0 unless set.
void set_script_tick_offset(std::uint32_t offset);
// True when a loop waiting for a key or click should take Escape (or its first
// answer): scripted input has nothing more to give (in a window too: it never
// releases what it holds), or there is no script and nobody can see the window.
bool waiting_gives_up();

bool any_key_held();  // any held key or mouse button

// Opens the game controllers and picks up hot-plugged ones from then on. init()
// does this unless headless (headless runs take controllers from the script).
bool start_controllers();
// Controller poll of one tick (n = 0, 1): a present device's state into its
// record; a scripted or absent controller keeps its values.
void poll_controller(int n);
// Moves the mouse cursor (`mouse_set`), clamped to the screen.
void set_mouse(int x, int y);
// Waits for any input: first until nothing is down, then until something is
// (keys, mouse buttons, controller buttons). Returns at once when nothing can come.
void wait_any_input();
// Pumps until no key or mouse button is held, then empties the ring, 20 times.
void flush_input();
void wait_mouse_release();

// ---- RGBA layers and system fonts ----------------------------------------------

// A CPU picture of RGBA pixels (straight alpha, rows from the top, pitch = width)
// with a clip rectangle [clip_x1, clip_x2) x [clip_y1, clip_y2) inside it.
struct RgbaLayer {
  std::uint8_t* pixels = nullptr;
  int width = 0, height = 0;
  int clip_x1 = 0, clip_y1 = 0, clip_x2 = 0, clip_y2 = 0;
};

// Lays colour 0xRRGGBB with opacity alpha (0..255) over one RGBA pixel ("over"
// compositing with straight alpha): over an opaque pixel the channels mix and
// the pixel stays opaque; over a clear one the colour is kept with that alpha.
inline void blend_over(std::uint8_t* p, std::uint32_t rgb, int alpha) {
  int r = static_cast<int>(rgb >> 16 & 255), g = static_cast<int>(rgb >> 8 & 255), b = static_cast<int>(rgb & 255);
  if (alpha >= 255 || p[3] == 0) {
    p[0] = static_cast<std::uint8_t>(r), p[1] = static_cast<std::uint8_t>(g), p[2] = static_cast<std::uint8_t>(b);
    p[3] = static_cast<std::uint8_t>(alpha >= 255 ? 255 : alpha);
    return;
  }
  int below = p[3] * (255 - alpha) / 255;  // what the old pixel still adds
  int out = alpha + below;                  // 1..255
  p[0] = static_cast<std::uint8_t>((r * alpha + p[0] * below) / out);
  p[1] = static_cast<std::uint8_t>((g * alpha + p[1] * below) / out);
  p[2] = static_cast<std::uint8_t>((b * alpha + p[2] * below) / out);
  p[3] = static_cast<std::uint8_t>(out);
}

inline constexpr int kMaxFontHeight = 256;  // pixels

// A system font: the face that fontconfig matches for a name (its nearest
// installed font when none has it), rasterised once by FreeType for the
// Windows-1252 codes 32..255; drawing allocates nothing.
struct SystemFont;
// height as Windows gives it: negative = em height in pixels, positive = cell
// height (ascent + descent), 0 = 16 pixels em; at most kMaxFontHeight. weight
// 600 and above asks for a bold face. Null (reported once) when no font opens.
// Fonts are kept by (face, height, bold): opening one again is cheap and gives
// the same font. Each open is matched by one close. Fontconfig's configuration
// is loaded once and each face name matched once; a new height rasterises the
// open face again (*rasterised set true then; the work grows with the height).
SystemFont* open_system_font(std::string_view face, int height, int weight, bool* rasterised = nullptr);
void close_system_font(SystemFont* font);  // null is fine
int font_line_height(const SystemFont& font);              // pixels
int text_advance(const SystemFont& font, std::string_view text);  // pixels
// A folder of font files (a packaged game's "fonts/") that every match also
// looks in, so that a game finds its faces where the system has none. "" : none.
void set_game_font_folder(std::string_view folder);
// The file of the regular face of an installed family named exactly so (case
// does not matter); "" when no installed family has that name.
std::string font_file_of_family(std::string_view family);
// Draws text (Windows-1252 bytes; codes below 32 draw nothing) with its cell's
// top-left at (x, y), blended by glyph coverage into the layer's clip
// rectangle. Returns the pen advance in pixels.
int draw_text(const SystemFont& font, std::string_view text, int x, int y, std::uint32_t rgb, const RgbaLayer& layer);

// ---- Message boxes ------------------------------------------------------------

// printf-style error in a modal box titled with the window title; on stderr
// instead when nobody can see the window or input is scripted (no script
// answers a system box).
void error_box(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "Value: " + value + line break + text (+ line break + at most 1,023 characters
// of extra when has_extra), in a modal box with an empty title and an OK button;
// on stderr as error_box.
void warning_box(double value, std::string_view text, std::string_view extra, bool has_extra);

}  // namespace platform
