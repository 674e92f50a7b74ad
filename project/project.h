// Project model: element lines and records, aspect records, the project (".prj")
// and collision (".col") files, the editor state files and resource paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace project {

inline constexpr int kMaxElements = 256;         // element lines and records
inline constexpr int kMaxAspects = 4096;         // aspect records
inline constexpr int kTrackSampleBytes = 24;     // a track sample: position x, y, z, rotation x, y, z
inline constexpr int kMaxUserParameters = 127;   // a brain declares at most 127 variables
inline constexpr int kCollisionBytes = kMaxElements * kMaxElements;  // the matrix, also the ".col" file size
inline constexpr int kTypeCount = 14;            // element types 0..13
inline constexpr int kCurrentPathLines = 23;     // "curpaths.ini"
inline constexpr int kEditorStateLines = 20;     // "zepta.ini"

// ---- Element types -------------------------------------------------------------

enum ElementType : int {
  kCamera = 0,
  kShape3d = 1,
  kFlatShape = 2,
  kShadow = 3,
  kType4 = 4,
  kSprite = 5,
  kFrame = 6,
  kBackground = 7,
  kCounter = 8,
  kTrack = 9,
  kLight = 10,
  kVisual = 11,
  kBoundary = 12,
  kMesh = 13,
};

// Display name of an element type ("" for 4, 13 and anything out of range).
std::string_view type_name(int type);

// ---- Element record ------------------------------------------------------------

// Element flags (record word 22).
inline constexpr int32_t kFlagOn = 1 << 0;
inline constexpr int32_t kFlagBrainSuspended = 1 << 1;
inline constexpr int32_t kFlagLocalRotation = 1 << 3;
inline constexpr int32_t kFlagSoundKept = 1 << 4;     // one-shot sound, kept playing when the element goes off
inline constexpr int32_t kFlagCameraSwitch = 1 << 5;  // cameras: from field 38; others: translucent
inline constexpr int32_t kFlagShown = 1 << 6;
inline constexpr int32_t kFlagCollisions = 1 << 7;
inline constexpr int32_t kFlagBoxCollisions = 1 << 8;

// One element in engine units: 256 signed 32-bit words.
// WARNING: compiled brains, save games and the network read this at fixed offsets.
struct ElementRecord {
  int32_t current_aspect;    // 0: address of the aspect record shown now
  int32_t base_aspect;       // 1: address of the element's first aspect record
  int32_t cleared;           // 2: 0 after a build
  int32_t position[3];       // 3-5: sub-units (1/512 L)
  int32_t rotation[3];       // 6-8: 1/512 degree
  int32_t velocity[3];       // 9-11: sub-units per tick
  int32_t spin[3];           // 12-14: 1/512 degree per tick
  int32_t display_area[4];   // 15-18: dimensions x, y, z (L) of 3D elements; x1, y1, x2, y2 of 2D ones
  int32_t size[2];           // 19, 20: the "WxH" of display-area sub-field 5
  int32_t brain_entry;       // 21: address of the compiled brain
  int32_t flags;             // 22: kFlag...
  int32_t credits;           // 23
  int32_t collision_code;    // 24: from field 31
  int32_t collision_result;  // 25: OR of the partners' codes this tick
  int32_t radius;            // 26: L
  int32_t sound_rate;        // 27: play-rate factor, 4096 the recorded speed (field 39)
  int32_t sound_index;       // 28: -1 none
  int32_t sound_frequency;   // 29: frames per second of the loaded sound file
  int32_t box_half_size;     // 30: L
  int32_t scale_x;           // 31: thousandths
  int32_t scale_y;           // 32: thousandths
  int32_t word33;            // 33: engine
  int32_t word34;            // 34: engine
  int32_t scale_z;           // 35: thousandths
  int32_t track_data;        // 36: tracks: address of the track data
  int32_t network_sync;      // 37: from field 47
  int32_t owner_machine;     // 38: from field 48
  int32_t local_rotation[3]; // 39-41: 1/512 degree
  int32_t frame_limit;       // 42: from field 38
  int32_t tick_counter;      // 43: ticks in which the brain ran
  int32_t signal;            // 44
  uint8_t pocket[332];       // 45-127: bytes 180..511
  int32_t variables[128];    // 128-255: brain variable n (and user parameter n) at byte 1020 - 4n
};
static_assert(sizeof(ElementRecord) == 1024);
static_assert(offsetof(ElementRecord, current_aspect) == 0);
static_assert(offsetof(ElementRecord, base_aspect) == 4);
static_assert(offsetof(ElementRecord, cleared) == 8);
static_assert(offsetof(ElementRecord, position) == 12);
static_assert(offsetof(ElementRecord, rotation) == 24);
static_assert(offsetof(ElementRecord, velocity) == 36);
static_assert(offsetof(ElementRecord, spin) == 48);
static_assert(offsetof(ElementRecord, display_area) == 60);
static_assert(offsetof(ElementRecord, size) == 76);
static_assert(offsetof(ElementRecord, brain_entry) == 84);
static_assert(offsetof(ElementRecord, flags) == 88);
static_assert(offsetof(ElementRecord, credits) == 92);
static_assert(offsetof(ElementRecord, collision_code) == 96);
static_assert(offsetof(ElementRecord, collision_result) == 100);
static_assert(offsetof(ElementRecord, radius) == 104);
static_assert(offsetof(ElementRecord, sound_rate) == 108);
static_assert(offsetof(ElementRecord, sound_index) == 112);
static_assert(offsetof(ElementRecord, sound_frequency) == 116);
static_assert(offsetof(ElementRecord, box_half_size) == 120);
static_assert(offsetof(ElementRecord, scale_x) == 124);
static_assert(offsetof(ElementRecord, scale_y) == 128);
static_assert(offsetof(ElementRecord, scale_z) == 140);
static_assert(offsetof(ElementRecord, track_data) == 144);
static_assert(offsetof(ElementRecord, network_sync) == 148);
static_assert(offsetof(ElementRecord, owner_machine) == 152);
static_assert(offsetof(ElementRecord, local_rotation) == 156);
static_assert(offsetof(ElementRecord, frame_limit) == 168);
static_assert(offsetof(ElementRecord, tick_counter) == 172);
static_assert(offsetof(ElementRecord, signal) == 176);
static_assert(offsetof(ElementRecord, pocket) == 180);
static_assert(offsetof(ElementRecord, variables) == 512);

// Word indexes of the record (byte offset / 4), for `register` and generated code.
enum RecordWord : int {
  kWordCurrentAspect = 0,
  kWordBaseAspect = 1,
  kWordPosition = 3,
  kWordRotation = 6,
  kWordVelocity = 9,
  kWordSpin = 12,
  kWordDisplayArea = 15,
  kWordSize = 19,
  kWordBrainEntry = 21,
  kWordFlags = 22,
  kWordCredits = 23,
  kWordCollisionCode = 24,
  kWordCollisionResult = 25,
  kWordRadius = 26,
  kWordSoundRate = 27,
  kWordSoundIndex = 28,
  kWordSoundFrequency = 29,
  kWordBoxHalfSize = 30,
  kWordScaleX = 31,
  kWordScaleY = 32,
  kWordScaleZ = 35,
  kWordTrackData = 36,
  kWordNetworkSync = 37,
  kWordOwnerMachine = 38,
  kWordLocalRotation = 39,
  kWordFrameLimit = 42,
  kWordTickCounter = 43,
  kWordSignal = 44,
  // Counters keep their three display values (field 37, sub-fields 1 to 3) in
  // the display-area words: leading divisor, decimal-point divisor, sign option.
  kWordCounterDivisor = 15,
  kWordCounterPoint = 16,
  kWordCounterSign = 17,
};
static_assert(kWordFlags * 4 == offsetof(ElementRecord, flags));
static_assert(kWordTickCounter * 4 == offsetof(ElementRecord, tick_counter));

// Word i (0..255) of a record, as `register` sees it.
inline int32_t* record_word(ElementRecord& r, int i) {
  return reinterpret_cast<int32_t*>(&r) + (i & 255);
}

// ---- Aspect record -------------------------------------------------------------

// One loaded aspect: a 4-byte tag (the aspect file's extension written
// backwards, ".03d" gives "d30."), then 15 words owned by the kind's loader.
// WARNING: compiled brains and the engine read this at fixed offsets.
// Image aspects: word 1 pixel address, 2 frame number (1..), 3 width, 4 height,
// 5 element index. Mesh (".x3d") aspects: words 1..3 element index, frame, -1,
// word 8 (kMeshFileWord) the frame's model file as an arena text.
// Cameras (".03d"): words 1..4 projection value, the two "&" numbers and the
// last number of display-area sub-fields 5 to 7. Tracks (".i3d"): word 1 data address, 2 byte count.
struct AspectRecord {
  char tag[4];
  int32_t word[15];
};
// word[] index of a mesh aspect's model file: the byte offset + 1 of its
// zero-terminated path in the data arena (0: none, the arena was full).
inline constexpr int kMeshFileWord = 7;
// word[] index of a mesh aspect's animation-set index, -1 (none) as loaded;
// the renderer's clock (speed, time, range start, range end) follows it.
inline constexpr int kMeshAnimationSetWord = 2;
static_assert(sizeof(AspectRecord) == 64);
static_assert(offsetof(AspectRecord, word) == 4);

// Tag of an element type's aspect: ".h3d" for sprites, ".e3d" counters,
// ".b3d" flat shapes, ".f3d" picture frames, ".03d" cameras, ".a3d" 3D shapes,
// ".i3d" tracks, ".l3d" lights, ".v3d" visuals, ".m3d" boundaries, ".x3d"
// meshes; backgrounds take their file's extension (".g3d" or the image's);
// types 3 and 4 have no aspect (""). `aspect_path` names the file for backgrounds.
base::Text aspect_tag(int type, std::string_view aspect_path);
// The extension that stands for an aspect file's kind (".pcx", ".m3d"...). A
// packaged game's resources are named by a hash + ".dat" (8 hex digits): their
// kind is told by their first bytes, or for text files by the element type
// that names them; other files keep their own extension.
base::Text kind_extension(int type, std::string_view path);
// The 4 tag bytes of an extension such as ".03d" ("d30."); shorter ones are padded with 0.
void write_tag(AspectRecord& record, std::string_view extension);
// The tag as an extension again (".03d").
base::Text tag_extension(const AspectRecord& record);

// ---- The world tables ----------------------------------------------------------

// The fixed tables inside the memory budget (base::reserve_budget() first).
struct Tables {
  ElementRecord* elements = nullptr;  // kMaxElements
  AspectRecord* aspects = nullptr;    // kMaxAspects
  uint8_t* collision = nullptr;       // kCollisionBytes, row i column j at 256 i + j
  std::span<std::byte> arena;         // aspect data of a run
};
// The tables of the reserved budget; all null when it is not reserved.
Tables budget_tables();

// ---- Host: where files are, and the hooks of higher layers -------------------------

struct Host {
  base::Text work_folder;  // absolute, ends in "/"
  base::Text data_folder;  // work + "data/" in the tool host, the work folder in the player
  bool player = false;      // packaged player: no panel messages, brains scrambled
  // Where private brain files go when not the default folder ("": work + "brains/",
  // the player's work folder); the player's writable folder.
  base::Text brain_folder;
  int next_brain = 0;       // counter of private brain names, process-wide
  // Panel message with no buttons ("" clears it); null: no message.
  void (*show_message)(std::string_view text) = nullptr;
  // Player: the scrambling copy of a file onto itself; null: none.
  bool (*scramble_in_place)(std::string_view path) = nullptr;
  // A damaged or doubtful file being read, as "path line N: what"; the load goes
  // on. Null: reported on stderr.
  void (*warn)(std::string_view text) = nullptr;
  // Checks only (`--check`): the load writes and copies no private brain file
  // (library brains stay named as they are), and its warnings go here when given.
  bool dry_run = false;
  std::vector<std::string>* warnings = nullptr;
};

// Folder of the private brain files: brain_folder when set, else work + "brains/"
// (the player: work).
base::Text private_brain_folder(const Host& host);
// Next private brain file: private_brain_folder() + n + ".bra".
base::Text new_private_brain_name(Host& host);

// ---- Resource paths ------------------------------------------------------------

// Line form in memory: every "\" becomes "/" and every "./" the working folder.
base::Text path_to_memory(std::string_view text, std::string_view work_folder);
// File form: every occurrence of the working folder becomes "./".
base::Text path_to_file(std::string_view text, std::string_view work_folder);
// The path as it exists on disk: as written when it exists, otherwise looked up
// case-insensitively folder by folder; the path unchanged when nothing matches.
base::Text resolve_path(std::string_view path);

// ---- Element lines -------------------------------------------------------------

// Line fields (1-based, "|").
enum LineField : int {
  kFieldName = 1,
  kFieldAspect = 2,
  kFieldSound = 3,
  kFieldBrain = 4,
  kFieldPosition = 5,       // 5..7, ranges 8..10
  kFieldRotation = 11,      // 11..13, ranges 14..16
  kFieldVelocity = 17,      // 17..19, ranges 20..22
  kFieldSpin = 23,          // 23..25, ranges 26..28
  kFieldCredits = 29,
  kFieldCreditsRange = 30,
  kFieldId = 31,
  kFieldRadius = 32,
  kFieldStartSwitches = 33,
  kFieldUserParameters = 35,
  kFieldType = 36,
  kFieldDisplayArea = 37,
  kFieldFrames = 38,
  kFieldSoundSettings = 39,
  kFieldBrainChecksum = 40,
  kFieldScale = 42,         // 42..44
  kFieldEditorPosition = 45,  // 45, 46
  kFieldNetworkSync = 47,
  kFieldOwnerMachine = 48,
  kFieldGroup = 49,
};

// 256 element lines plus one (index 256) for a line read past a full table.
struct ElementLines {
  base::Text line[kMaxElements + 1];
  int highest = -1;  // -1: empty project
};

inline base::Text line_field(std::string_view line, int n) { return base::field(line, n, '|'); }
// Replaces field n of element line i (0..256); false when the result would be too long.
bool set_line_field(ElementLines& lines, int i, int n, std::string_view value);

// The default camera line: "Camera|" + work + "cameras/default_.03d|./sounds/null_.wav|-|..."
base::Text default_camera_line(std::string_view work_folder);

// ---- The project ---------------------------------------------------------------

// Engine settings kept in row 254 of the collision file.
struct EngineSettings {
  int32_t clip_distance = 30;     // scene units
  int32_t background_top = 0;     // 3D background top screen row
  int32_t background_bottom = 479;
  int32_t hood_type = 0;          // 0..4
  int32_t camera_fov = 100;       // percent, 1..100
};
inline constexpr int kSettingsOffset = 65036;  // row 254, word 3

// Where an element's brain text came from, for messages that name a line:
// line n of the brain is line line_before + n of file. A library brain that
// was not found: the project file and the line of the element that names it.
struct BrainOrigin {
  std::string file;     // the project file (embedded brain) or a library brain; "" when none
  int line_before = 0;  // the project file: its "@" line; a library brain: 0
  bool library = false;  // the element names a brain file (found or not)
};

// About 540 KB: keep it in static storage or on the heap, not on the stack.
struct Project {
  ElementLines lines;
  base::Text description;             // header line without its ";"
  base::Text background;              // 3D background image path (memory form)
  int32_t background_repeat = 1;       // a power of two
  base::Text shared_variables;        // "index(machine),..." list
  EngineSettings settings;
  uint8_t* collision = nullptr;        // kCollisionBytes; normally Tables::collision
  int current_element = 0;
  int load_start = 0;                  // range of elements being loaded or saved
  int load_end = 0;
  bool settings_line = true;           // read the settings line after the elements
  int32_t fog_start = 10240;
  int32_t fog_end = 15360;
  uint32_t fog_colour = 0xFF000000;    // alpha 255, black
  BrainOrigin brain_origin[kMaxElements];  // set by load_project
};

// Inserts a line at index i (0..highest + 1): lines i..highest move up, user
// parameter references (kind 1) to moved elements follow them, collision rows
// and columns move, row and column i become 0, and the load range moves.
// False ("full") when 256 elements exist or i is out of range.
bool insert_element(Project& project, int i, std::string_view line);

// Loads path (".prj" and its ".col"), or the default camera project when the
// file doesn't exist. False only when an existing file couldn't be read. A
// count line that disagrees with the element lines, lines that can't be used
// and brain blocks that don't match their elements are warned about
// (Host::warn) and loaded as well as they can be. Removes stale temporaries of
// interrupted saves from the project's folder and the private brain folder.
// Each element's brain becomes a private brain file written for this load; a
// library brain that cannot be copied stays named as it was (the compiler
// then finds no file), with its origin at the project line that names it.
// Element lines are checked as they are read: fields that are no numbers,
// aspect files that are missing, lines too short to be element lines.
bool load_project(Project& project, Host& host, std::string_view path);
// Deletes the private brain files the elements name (".bra" files of the
// private brain folder), when the project closes.
void remove_private_brains(const Project& project, const Host& host);
// Deletes every numbered private brain file ("N.bra") of the private brain
// folder, left by runs that ended before they closed their project; only for
// the copy that owns the working folder. Returns how many.
int remove_stale_private_brains(const Host& host);
// Reads a project file's text (header, element lines, settings line, embedded
// brains) into project; brains are written as private brain files, with CR LF.
// Either line end, CR LF or LF, is read; path only names the file in warnings.
void read_project_text(Project& project, Host& host, std::span<const char> text, std::string_view path = "");
// One embedded brain of a project file's text: its "@" label, its text and the
// line before its first (the "@" line).
struct EmbeddedBrain {
  std::string_view label;
  std::string_view text;
  int line_before = 0;
};
// The "@" blocks of a project file's text, from the first "@0" line on, in order.
std::vector<EmbeddedBrain> embedded_brains(std::string_view text);
// True when text reads as a project file: header lines beginning with ";", then
// the element count in decimal.
bool is_project_text(std::string_view text);
// Writes the whole project and its collision file, both or neither: each goes
// to a temporary that is synced, then the collision file and the project file
// are renamed over the old ones, in that order, so a new project file never
// appears without its collision file. False (reported) when either could not
// be written; the old pair is then left as it was.
bool save_project(Project& project, const Host& host, std::string_view path);

// Collision file of a project: path less its last 3 characters + "col".
base::Text collision_path(std::string_view project_path);
// Reads up to 65,536 bytes (the rest 0) and the engine settings; false when missing.
bool read_collision_file(Project& project, std::string_view path);
bool write_collision_file(Project& project, std::string_view path);
// Engine settings from / into row 254 of a matrix.
EngineSettings settings_from_matrix(const uint8_t* matrix);
void settings_to_matrix(const EngineSettings& settings, uint8_t* matrix);

// One entry of the shared-variable table of network sessions.
struct SharedVariable {
  int32_t key;    // owner machine x 65536 + (global index AND 2047)
  int32_t value;  // 0 at start
};
inline constexpr int kMaxSharedVariables = 2048;
// The settings line's list ("3,7(2)": globals 3 of machine 0 and 7 of machine 2)
// as table entries in order; returns the count (at most out.size()). A
// non-empty list marks a network project.
int parse_shared_variables(std::string_view list, std::span<SharedVariable> out);

// ---- State files ---------------------------------------------------------------

struct StateFiles {
  base::Text current_path[kCurrentPathLines];  // "curpaths.ini" lines 1..23 at [0..22]
  base::Text current_track;                    // work + "tracks/default_.i3d", not stored
  base::Text editor[kEditorStateLines];        // "zepta.ini" lines 1..20 at [0..19]
};
// Editor state values: line 14 exe mode, 15 clip to display area, 16/17 kit
// browser, 18 a text, 19 the project description.
int32_t editor_value(const StateFiles& state, int line);  // line 1..20
void set_editor_value(StateFiles& state, int line, int32_t value);

// Reads work + "data/curpaths.ini" then data + "zepta.ini", with their defaults.
void read_state_files(StateFiles& state, const Host& host);
// Writes "zepta.ini" then "curpaths.ini", all lines; false when either failed.
bool write_state_files(const StateFiles& state, const Host& host);

// ---- Brain headers and user parameters ------------------------------------------

// An element's user parameters (field 35): "n/kind/setting/slot/...", one
// triple per declaration of its brain in file order. Kinds: 1 element, 2
// integer, 3 metres, 4 degrees, 5 velocity, 6 spin (the user parameters), 7 a
// plain "var", 0 a "user" line with an unknown tag. Slot 1020 - 4i for
// declaration i: the record byte where the brain reads that variable.
inline constexpr int kMaxParameters = 127;  // slots 1020 down to 516
// The four characters after "user" that make a brain line a user parameter,
// in kind order (kind 1 "ele " .. kind 6 "spi "); the compiler reads them too.
inline constexpr std::string_view kUserTags[] = {"ele ", "int ", "met ", "deg ", "vel ", "spi "};
struct Parameter {
  int32_t kind = 0;
  std::string setting;  // the default after "=" until the user sets it; kind 1: an element index
  int32_t slot = 0;
  std::string name;     // the declared name; only read_declarations fills it (field 35 holds none)
};
struct ParameterList {
  Parameter parameter[kMaxParameters];
  int count = 0;
};
// Field 35 taken apart; triples past kMaxParameters or cut short are left out.
ParameterList parse_parameters(std::string_view field35);
// The field 35 text of a list (the line's capacity is checked by set_line_field).
std::string format_parameters(const ParameterList& list);
// The configuration a brain's text declares, every setting at its default:
// each line lower-cased (tabs as blanks), cut at ";" and trimmed; "var " lines
// kind 7, "user" + tag 1..6, other "user" lines 0; the setting is the text after
// the first "=", trimmed and ended before any "/" or "|". Slots count as the
// compiler numbers variables: a kind 0 line is none and takes the slot of the
// next declaration. At most kMaxParameters lines are read.
ParameterList read_declarations(std::string_view brain_text);
// The declarations of a brain file; a file that cannot be read declares none.
ParameterList declarations_of(std::string_view path);
// True for the kinds the parameter panel shows (1..6).
inline bool is_user_parameter(int32_t kind) { return kind >= 1 && kind <= 6; }

// The brain header's signature: from the "var " and "user" lines only, case,
// comments and outer blanks not counted; and how many "user" lines there are.
struct HeaderSignature {
  uint32_t signature = 0;
  int user_lines = 0;
};
HeaderSignature header_signature_of(std::string_view brain_text);
// Of a brain file; a file that cannot be read gives 0 and 0.
HeaderSignature header_signature(std::string_view path);

// Element i's field 35 read again from its brain file (field 4), every
// parameter back to its default; a file that cannot be read gives "0". False
// (reported) when the new field would not fit in the line: field 35 then stays
// as it was, never cut.
bool read_header(ElementLines& lines, int i);
// Element i as a newly chosen brain leaves it: field 35 read again from its
// brain file, field 40 that file's signature, fields 45 and 46 "0"; all four or
// none. False (reported) when they would not fit in the line.
bool reset_header(ElementLines& lines, int i);
// The notice shown when a check resets an element whose brain has "user" lines.
base::Text header_notice(std::string_view element_name);
enum class HeaderCheck : uint8_t {
  same,             // the stored signature (field 40) matches the brain file
  reset,            // configuration read again, field 40 new, fields 45 and 46 "0"
  reset_with_notice,  // as reset, and the brain has "user" lines: header_notice() is due
};
// The brain checksum upkeep of element i: compares field 40 with its brain
// file's signature and resets the element when they differ. A configuration
// that would not fit in the line leaves the line as it was (reported): `same`.
HeaderCheck check_header(ElementLines& lines, int i);
// In every element's field 35, element parameters (kind 1) naming old_index
// name new_index instead (elements moved or removed).
void renumber_element_parameters(ElementLines& lines, int old_index, int new_index);

// ---- Aspects and record build ----------------------------------------------------

// Where each element's aspects went while a project's aspects were loaded.
struct AspectLoad {
  int first[kMaxElements] = {};  // first aspect record of element i
  int count[kMaxElements] = {};  // records loaded for element i (0: none)
  int used = 0;                  // aspect records in use
  std::size_t arena_used = 0;    // bytes of Tables::arena in use
};

struct LoaderCall {
  Tables& tables;
  AspectLoad& load;
  ElementLines& lines;
  int element;            // index of the element
  base::Text path;       // resolved aspect path
  bool editor_pass;       // virtual editor: no animation frames, one mesh frame
};
// Loads one element's aspect into the next aspect records; false on failure
// (the element then gets a tag-only record).
using AspectLoader = bool (*)(LoaderCall& call);

inline constexpr int kMaxLoaders = 32;
// The loader registry: the first entry whose type matches (or is -1) and whose
// extension matches the aspect file's (or is "") loads it.
struct AspectLoaders {
  struct Entry {
    int type;                 // element type or -1 for any
    char extension[8];        // ".pcx", or "" for any
    AspectLoader loader;
  };
  Entry entry[kMaxLoaders];
  int count = 0;
};
// The registry with the loaders of this folder (images for image-based kinds).
AspectLoaders default_aspect_loaders();
// Adds a loader in front of the others; false when the registry is full.
bool register_aspect_loader(AspectLoaders& loaders, int type, std::string_view extension,
                            AspectLoader loader);
// Loads every element's aspects ("Loading data"); resets `load` first.
void load_aspects(AspectLoaders& loaders, Tables& tables, AspectLoad& load, ElementLines& lines,
                  std::string_view work_folder, bool editor_pass);
// Takes the next aspect record with the given tag; -1 when the table is full.
int take_aspect(Tables& tables, AspectLoad& load, int element, std::string_view extension);
// Bytes from the data arena, 4-aligned; null when full.
std::byte* take_arena(Tables& tables, AspectLoad& load, std::size_t bytes);

// Reads the value text of a "var " user parameter as a brain operand; false when
// it is no constant. The brain compiler provides it.
using OperandReader = bool (*)(std::string_view text, int32_t* value, void* user);
// Draws a random integer in lo..hi (the brains' random routine).
using RandomDraw = int32_t (*)(int32_t lo, int32_t hi, void* user);

struct BuildSettings {
  int display_mode = 1;             // 1/2: 640x480, 4/8: 800x600, 16/32: 1024x768
  bool project_running = false;     // random ranges apply only while a project runs
  RandomDraw random = nullptr;
  void* random_user = nullptr;
  OperandReader read_operand = nullptr;  // "var " parameters; null: plain integers only
  void* operand_user = nullptr;
};

// Number of an element line field in engine terms.
int32_t scene_to_sub_units(std::string_view decimal);   // x 1000 x 512
int32_t degrees_to_angle(std::string_view decimal);     // 1/512 degree
int32_t speed_to_sub_units(std::string_view decimal);   // per second -> per tick
int32_t rpm_to_spin(std::string_view decimal);          // rpm -> 1/512 degree per tick
int32_t scale_display(int32_t v, int display_mode);     // 640x480 coordinate -> display mode

// Builds record i from line i (the line may be rewritten: a camera with an odd
// display area gets field 38 = "0"). Aspect words come from `load`.
void build_record(const BuildSettings& settings, Tables& tables, const AspectLoad& load,
                  ElementLines& lines, int i);
// Builds records 0..highest, then copies the highest into every record above it.
void build_records(const BuildSettings& settings, Tables& tables, const AspectLoad& load,
                   ElementLines& lines);

}  // namespace project
