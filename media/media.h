// Media formats: PCX images, the fixed 8-bit colour scheme and its 16-bit
// expansion, BMP palettes, ".fnt" bitmap fonts, ".wav" sounds, text ".x" and ".3ds"
// meshes, ".m3d" ground maps, and the lookup tables that the engine's integer
// arithmetic rests on (sine, arctangent, random, square root).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/memory.h"

namespace media {

// ---------------------------------------------------------------------------
// Lookup tables
// ---------------------------------------------------------------------------

inline constexpr int kSineBytes = 115200;      // "sinus.bin": int8, 1/256 degree over 450 degrees
inline constexpr int kLargeSineBytes = 14400;  // "sinusbig.bin": 3600 int32 Q15, 1/8 degree
inline constexpr int kAtanBytes = 2880;        // "atan.bin": 720 int32, tan(i/8 degree) x 1024
inline constexpr int kRandomBytes = 2000;      // "random.bin"
inline constexpr int32_t kFullTurn = 184320;   // engine angle unit: 1/512 degree

// Reads "sinus.bin", "sinusbig.bin", "atan.bin" and "random.bin" from data_folder
// into their areas of the memory budget (which must be reserved). A missing or
// short file leaves the (rest of the) table zero with a warning on stderr.
// False when any file was missing or short.
bool load_lookup_tables(std::string_view data_folder);

// Any angle to 0..184319 (1/512 degree). The modulus is 184319: -1 gives
// 184318, 184320 gives 1.
int32_t normalise_angle(int32_t a);
// Q15 sine and cosine (32768 = 1.0) from "sinusbig.bin"; angle in 1/512 degree,
// normalised first. 0 when the tables are not loaded.
int32_t table_sin(int32_t angle);
int32_t table_cos(int32_t angle);
// Signed 8-bit sine and cosine (127 = 1.0) from "sinus.bin" at whole degrees:
// entries (a >> 9) x 256 + 1 and (a >> 9) x 256 + 23295 of the normalised angle.
int sin_byte(int32_t angle);
int cos_byte(int32_t angle);

// Integer square root through the 256-byte table min(255, round(16 sqrt(i))):
// 8 significant bits, so within about 1% of floor(sqrt(v)) for large v;
// 0 -> 0, 1 -> 1, 100 -> 10, 65535 -> 255, 1000000 -> 1000.
uint32_t isqrt(uint32_t v);
// The square-root table entry i (0..255).
uint8_t sqrt_table(int i);

// v wrapped into [lo, hi]: hi when lo >= hi, v when inside, else
// lo + ((v - lo) mod (hi - lo + 1)) with a non-negative remainder. Worked in
// 64 bits, so the full int32 range neither overflows nor divides by zero.
int32_t wrap(int32_t v, int32_t lo, int32_t hi);

// Index 0..719 of the arctangent table for a ratio tan x 1024 (the binary
// search of "atan.bin"); 720 when ratio >= 512000.
int32_t atan_index(int64_t ratio);
// Engine angle (1/512 degree) of the vector (x, z): index of |x*1024 / z| (720
// when z = 0), by quadrant i, 1440 - i, 2880 - i, i + 1440, times 64. The
// result is not normalised (x < 0, z > 0 near the axis gives up to 184320).
int32_t direction_from_vector(int32_t x, int32_t z);

// One moving window into "random.bin". The engine keeps three, all at 0 at start.
struct RandomState {
  uint32_t pointer = 0;  // byte offset of the 32-bit window: 1..1996 once used
};
// Random integer in [a, b] (either order). a == b returns a without moving the
// window. sample_counter is the input sample counter of the input devices.
int32_t random_in(RandomState& state, int32_t a, int32_t b, uint32_t sample_counter);

// ---------------------------------------------------------------------------
// Colours
// ---------------------------------------------------------------------------

using Palette = std::array<std::array<uint8_t, 3>, 256>;  // r, g, b per entry

// Index 0..255 of a colour (each 0..255, clamped) in the fixed scheme: 0/1
// near black, 254/255 near white, a 7 x 6 x 6 cube from 2 to 253 otherwise.
int colour_index(int r, int g, int b);
// A representative colour for every scheme index, chosen so that
// colour_index(scheme_palette()[i]) == i: the palette of the 8-bit screen.
const Palette& scheme_palette();

// Lowest set bits of the display's red, green and blue masks; 11, 5, 0 is 5-6-5.
struct PixelFormat {
  int red_shift = 11, green_shift = 5, blue_shift = 0;
};
// 16-bit colours of a palette: (r/8) << R | (g/G) << Gs | (b/8) << B, G = 8 for
// the 5-5-5 layout (red shift 10), else 4.
void make_colour_table(const Palette& palette, const PixelFormat& format, uint16_t out[256]);

// ---------------------------------------------------------------------------
// PCX images
// ---------------------------------------------------------------------------

inline constexpr int kPcxWorkBytes = base::area_size(base::Area::image_work);  // largest PCX file read
inline constexpr int kPcxHeaderBytes = 128;
inline constexpr int kPaletteBytes = 768;

struct ImageSize {
  int width = 1, height = 1;
};

// Load modes: 0 folds each pixel through colour_index of its palette colour;
// 2 leaves pixels and appends the raw 768-byte palette after them; any other
// mode leaves pixels and makes colour_table (when given) from the palette.
inline constexpr int kPcxFold = 0;
inline constexpr int kPcxAppendPalette = 2;
inline constexpr int kPcxColourTable = 1;

// Decodes a whole PCX file into dest (width x height bytes, row by row, plus the
// palette in mode 2). Returns the pixel count. A file that is not a PCX (byte 0
// not 10, shorter than 128 + 768 bytes), whose size does not fit dest, or whose
// run-length data ends early gives the 1 x 1 image: pixel 0 (and a zero palette
// in mode 2 when it fits), size 1 x 1, result 1. Never reads or writes past a
// block; a run crossing a row end is cut at the row end.
int decode_pcx(std::span<const uint8_t> file, int mode, std::span<uint8_t> dest, ImageSize& size,
               uint16_t* colour_table, const PixelFormat& format = {});
// Reads the file whole (into the image work area when the memory budget is
// reserved) and decodes it; a missing file or one over 1 MiB gives the 1 x 1 image.
int load_pcx(std::string_view path, int mode, std::span<uint8_t> dest, ImageSize& size,
             uint16_t* colour_table = nullptr, const PixelFormat& format = {});

// Version-5, 8-bit, one-plane, run-length PCX with even coded rows, the 0x0C
// marker and the 768-byte palette. Empty when the size is not 1..65535 or
// pixels holds fewer than width x height bytes.
std::vector<uint8_t> encode_pcx(int width, int height, std::span<const uint8_t> pixels, const Palette& palette);
// encode_pcx written atomically (temporary file renamed over path).
bool write_pcx(std::string_view path, int width, int height, std::span<const uint8_t> pixels,
               const Palette& palette);

// ---------------------------------------------------------------------------
// BMP palettes
// ---------------------------------------------------------------------------

// The colour table of a BMP of 8 bits per pixel or fewer (entries beyond the
// table are black); otherwise, or when unreadable, the 3-3-2 palette.
Palette load_bmp_palette(std::string_view path);
Palette palette_332();

// ---------------------------------------------------------------------------
// Whole pictures (BMP, PPM, PCX)
// ---------------------------------------------------------------------------

inline constexpr std::size_t kMaxPictureFile = 16u << 20;  // larger picture files are refused

// An 8-bit picture: pixels row by row from the top, indexes into its palette.
struct Picture {
  std::vector<uint8_t> pixels;
  int width = 0, height = 0;
  Palette palette{};
};

// An uncompressed BMP of 8 bits (with its colour table) or 24 bits (folded
// through the colour scheme); false when it is neither, damaged, or a side is
// over max_side pixels.
bool decode_bmp(std::span<const uint8_t> file, Picture& out, int max_side);
// A binary ("P6") or text ("P3") PPM, maxval 1..65535, folded through the scheme.
bool decode_ppm(std::span<const uint8_t> file, Picture& out, int max_side);
// BMP, PPM or PCX, told by their first bytes.
bool decode_picture(std::span<const uint8_t> file, Picture& out, int max_side);
// The file read whole (at most kMaxPictureFile bytes) and decoded.
bool load_picture(std::string_view path, Picture& out, int max_side);
// Pixels turned into colour-scheme indexes (the palette becomes the scheme's).
void fold_picture(Picture& picture);

// ---------------------------------------------------------------------------
// Bitmap fonts (".fnt")
// ---------------------------------------------------------------------------
//
// Glyph placement in the bitmap (our convention for the strip): the glyph
// bitmap is one strip, glyph height rows of row-length bytes, non-zero = ink.
// Glyphs sit side by side in code order; glyph c is byte width[c] columns wide
// (the table at offset 39) and starts at x = the sum of the byte widths of all
// lower codes. This holds in every width mode: in mode 0 the byte width is also
// the advance; in mode 255 a glyph narrower than 8 is drawn at the left of its
// 8-pixel cell; in other modes the two 32-bit tables only give the advance (as
// their sum). A glyph reaching past the row length is cut to it.

inline constexpr int kFontHeadBytes = 2867;
inline constexpr int kFontGlyphBytes = 6000;

// Offsets inside the head.
inline constexpr int kFontWidthMode = 37;      // 1 byte: 255 fixed 8, 0 byte table, other two tables
inline constexpr int kFontLineGap = 38;        // 1 byte
inline constexpr int kFontByteWidths = 39;     // 256 bytes
inline constexpr int kFontGlyphHeight = 809;   // 16-bit
inline constexpr int kFontRowLength = 811;     // 16-bit
inline constexpr int kFontLetterSpacing = 815; // 16-bit
inline constexpr int kFontSpaceWidth = 817;    // 16-bit
inline constexpr int kFontFirstTable = 819;    // 256 x 32-bit
inline constexpr int kFontSecondTable = 1843;  // 256 x 32-bit

struct Font {
  std::array<uint8_t, kFontHeadBytes> head{};
  std::array<uint8_t, kFontGlyphBytes> glyphs{};
  std::array<int32_t, 256> glyph_x{};  // column of each glyph in the strip (see index_glyphs)
};

// The empty font: no ink, 8 pixels per character, glyph height 8, and the line
// gap and letter spacing of the normal (small = false) or small font.
Font empty_font(bool small);
// Field access on the head.
int width_mode(const Font& f);
int line_gap(const Font& f);
int glyph_height(const Font& f);
int row_length(const Font& f);
int letter_spacing(const Font& f);
int space_width(const Font& f);
void set_u8(Font& f, int offset, int value);
void set_u16(Font& f, int offset, int value);
void set_u32(Font& f, int offset, uint32_t value);
// Recomputes glyph_x from the byte widths; call after changing them.
void index_glyphs(Font& f);

// Loads a ".fnt" file; small selects "font8.fnt" metrics (line gap 2, letter
// spacing 0), else "font.fnt" (line gap 1, letter spacing 2), which override
// the file. A missing or truncated file, or a glyph bitmap over 6000 bytes, is
// refused with a message on stderr: f becomes empty_font(small), false.
bool load_font(std::string_view path, Font& f, bool small);
// Writes head and glyph bitmap (glyph height x row length bytes); false when
// the bitmap is over 6000 bytes or the file can't be written.
bool write_font(std::string_view path, const Font& f);

// Pixels a character moves the pen: mode 255: 8, mode 0: byte width, other:
// sum of the two tables; plus the letter spacing. A space gives the space width
// instead (no letter spacing).
int advance(const Font& f, unsigned char c);
int text_width(const Font& f, std::string_view text);  // sum of advances
int line_height(const Font& f);                        // glyph height + line gap

struct Glyph {
  const uint8_t* pixels;  // top-left pixel; non-zero = ink
  int width, height, stride;  // width 0: nothing to draw
};
Glyph glyph(const Font& f, unsigned char c);

// ---------------------------------------------------------------------------
// Sounds (".wav")
// ---------------------------------------------------------------------------
//
// RIFF WAVE files of PCM (8-bit unsigned, 16-, 24- or 32-bit signed) or IEEE
// float (32-bit), mono or stereo, at any rate, also in the extensible layout.
// Decoded samples are 8-bit unsigned (8-bit files) or 16-bit signed, little
// endian. Files are untrusted: every size is checked against the bytes there.

inline constexpr std::size_t kMaxWavBytes = 64u << 20;  // largest file read, and most sample bytes taken
inline constexpr int kMaxWavRate = 1000000;             // frames per second

enum class WavStatus : uint8_t {
  ok,
  unreadable,   // missing, unreadable, or a file over kMaxWavBytes
  not_wave,     // no "RIFF" .. "WAVE" header
  no_format,    // no complete "fmt " chunk before the file ends
  no_data,      // no "data" chunk
  bad_format,   // zero or inconsistent channels, rate, block size or bits
  unsupported,  // a valid format other than those above (compressed, 3+ channels, 64-bit float)
  too_large,    // over kMaxWavBytes of samples
};
const char* wav_status_text(WavStatus status);  // "no data chunk" ...

// Where a file's samples are and how they are stored.
struct Wav {
  int channels = 0;     // 1 or 2
  int rate = 0;         // frames per second, 1..kMaxWavRate
  int stored_bits = 0;  // bits per stored sample: 8, 16, 24 or 32
  bool is_float = false;  // 32-bit IEEE float samples
  uint32_t frames = 0;  // whole frames present (may be 0)
  std::span<const uint8_t> data;  // the stored frames, inside the parsed file
  int bits() const { return stored_bits == 8 ? 8 : 16; }  // bits per decoded sample
};

// Finds the format and the samples. Chunks are walked up to the end of the
// file (the RIFF size is not trusted); an odd-sized chunk is followed by a pad
// byte. A data chunk that claims more bytes than the file holds gives the
// whole frames that are there. The first "fmt " and "data" chunks count.
WavStatus parse_wav(std::span<const uint8_t> file, Wav& wav);
// Bytes decode_wav writes: frames x output channels x bits() / 8.
std::size_t wav_decoded_bytes(const Wav& wav, bool mono);
// The samples as decoded (see above), stereo mixed to mono when mono is set.
// False, writing nothing, when dest is shorter than wav_decoded_bytes.
bool decode_wav(const Wav& wav, bool mono, std::span<uint8_t> dest);
// Reads a whole file into file (at most kMaxWavBytes) and parses it; wav.data
// points into file.
WavStatus load_wav(std::string_view path, std::vector<uint8_t>& file, Wav& wav);

// ---------------------------------------------------------------------------
// Text DirectX meshes (".x")
// ---------------------------------------------------------------------------
//
// Files that start "xof 0303txt 0032" (any version, 32- or 64-bit floats): the
// frame hierarchy with its FrameTransformMatrix placements, and each Mesh with
// its vertices, faces (polygons fanned into triangles), MeshNormals,
// MeshTextureCoords and the per-face material list (faces are grouped by
// material, as the model library does), the Materials (colours, power and
// TextureFilename), AnimTicksPerSecond and the AnimationSets with their
// AnimationKeys. Templates, references other than to materials and frames, and
// unknown objects are skipped. Binary and compressed files are not read here.
// Files are untrusted: every count and index is checked.

inline constexpr int kMaxXCorners = 196608;  // triangle corners taken; later faces are dropped
inline constexpr int kMaxXDepth = 64;        // frames nested deeper are refused
inline constexpr int kMaxXKeys = 65536;      // animation keys of the whole file; more are refused
inline constexpr int kMaxXFrames = 16384;    // frames of the whole file; more are refused
inline constexpr std::uint32_t kDefaultXTicksPerSecond = 4800;  // when the file gives none

enum class XStatus : uint8_t {
  ok,
  not_text_x,     // no "xof ....txt " header (binary, compressed or another format)
  bad_syntax,     // a brace, name or number where another was due, or the file ends inside an object
  bad_count,      // a count that is not a whole number, larger than the file, or out of step with another
  bad_index,      // a face index past its vertex or normal list
  too_deep,       // frames nested deeper than kMaxXDepth
  no_triangles,   // read, but not one triangle
  bad_key,        // an AnimationKey of an unknown type, or with the wrong number of values
  too_many_keys,  // more than kMaxXKeys animation keys
  too_many_frames,  // more than kMaxXFrames frames
};
const char* x_status_text(XStatus status);  // "a face index is out of range" ...

// One triangle corner, as the file gives it (vertex coordinates of its mesh).
struct XCorner {
  float position[3] = {};
  float normal[3] = {};  // zero when the mesh has no normals
  float u = 0, v = 0;    // zero when the mesh has no texture coordinates
};
// The triangles of one mesh under one placement.
struct XPart {
  // Rows of the frame placements multiplied from the root (column vectors,
  // p' = placement x (x, y, z, 1), translation in elements 3, 7 and 11).
  float placement[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  bool has_normals = false;
  std::vector<XCorner> corners;  // 3 per triangle, clockwise from the front as in the file
};

// Whether the file has the text ".x" header.
bool is_text_x(std::span<const uint8_t> file);
// Reads every mesh, in the order the model library gives them: meshes outside
// any frame first (under the placement of a single root frame), then frame by
// frame, depth first. Animations are not read. parts is cleared first.
XStatus parse_text_x(std::span<const uint8_t> file, std::vector<XPart>& parts);

// ---- The same file as a tree --------------------------------------------------

// A Material: faceColor, power, specularColor, emissiveColor and the
// TextureFilename as written ("" when none).
struct XMaterial {
  float colour[4] = {1, 1, 1, 1};
  float power = 0;
  float specular[3] = {};
  float emissive[3] = {};
  std::string texture;
};
// A run of a mesh's corners that share a material.
struct XGroup {
  uint32_t first = 0, count = 0;  // corners, whole triangles
  int material = -1;              // into XTree::materials; -1 none (the default)
};
// One Mesh: its triangles in the coordinates of its frame, grouped by the
// order of its material list.
struct XMesh {
  std::vector<XCorner> corners;
  std::vector<XGroup> groups;
  bool has_normals = false;
};
// Frame 0 is the file: identity placement, its children the top-level
// frames. Frames come after their parents, depth first (file order).
struct XFrame {
  std::string name;
  int parent = -1;
  float placement[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // local, laid out as XPart's
  std::vector<int> meshes;  // into XTree::meshes, in drawing order
};
// The keys of one AnimationKey for one frame, times in ticks.
enum class XKeyKind : uint8_t { rotation = 0, scale = 1, position = 2, matrix = 4 };
inline constexpr int x_key_width(XKeyKind kind) {
  return kind == XKeyKind::rotation ? 4 : kind == XKeyKind::matrix ? 16 : 3;
}
struct XTrack {
  int frame = 0;                 // into XTree::frames (never 0)
  XKeyKind kind = XKeyKind::position;
  std::vector<uint32_t> times;   // ticks, as the file lists them
  // x_key_width values a key: rotation w, x, y, z as the file stores them;
  // scale and position x, y, z; matrix the 16 numbers as a FrameTransformMatrix.
  std::vector<float> values;
};
struct XAnimationSet {
  std::string name;
  std::vector<XTrack> tracks;  // those whose frame reference names a frame
};
struct XTree {
  std::vector<XFrame> frames;
  std::vector<XMesh> meshes;
  std::vector<XMaterial> materials;
  std::vector<XAnimationSet> animations;
  uint32_t ticks_per_second = kDefaultXTicksPerSecond;  // AnimTicksPerSecond (never 0)
};
// Reads the whole file as a tree. Meshes outside any frame belong to the
// single top-level frame when there is one (before its own meshes), else to
// frame 0; meshes without a triangle are left out, and corners past
// kMaxXCorners (counted in frame order) dropped. Unknown material references
// take the default material. tree is cleared first.
XStatus parse_text_x_tree(std::span<const uint8_t> file, XTree& tree);

// ---------------------------------------------------------------------------
// Model companions: the files a glTF or ".obj" model names
// ---------------------------------------------------------------------------
//
// Only what the builder packs and the loader checks before the model library
// reads the file: the "uri" and "byteLength" of each of a glTF file's
// "buffers", the "uri" of each of its "images" (a ".gltf" or the JSON chunk of
// a ".glb"), the "mtllib" names of an ".obj" and the texture names ("map_Kd"
// and the other "map_" lines) of its ".mtl". Names are given as written.

inline constexpr int kMaxGltfDepth = 64;        // JSON nested deeper is refused
inline constexpr int kMaxModelCompanions = 64;  // names taken from one file; the rest are dropped

struct GltfBuffer {
  std::string uri;          // "" for a ".glb"'s own BIN chunk
  uint64_t byte_length = 0;
};
struct GltfFiles {
  std::vector<GltfBuffer> buffers;
  std::vector<std::string> images;  // uris of the images that have one (not those in a buffer view)
};
enum class GltfStatus : uint8_t { ok, not_gltf, bad_json, too_deep };
const char* gltf_status_text(GltfStatus status);  // "not a glTF file" ...
// Reads a ".gltf" (JSON text) or a ".glb" (told by its "glTF" mark).
GltfStatus read_gltf_files(std::span<const uint8_t> file, GltfFiles& out);
// "mtllib" names of an ".obj" (one line may name several, split at blanks).
std::vector<std::string> obj_material_libraries(std::string_view text);
// Texture names of a ".mtl": the last word of each "map_..." , "bump", "disp" or "refl" line.
std::vector<std::string> mtl_texture_names(std::string_view text);

// Where a companion's name points: a file beside the model (or below its
// folder), or one that is not copied or read (absolute, through "..", a data: uri).
enum class CompanionPlace : uint8_t { beside, absolute, climbs_out, data };
CompanionPlace companion_place(std::string_view name);

// ---------------------------------------------------------------------------
// Ground maps (".m3d")
// ---------------------------------------------------------------------------
//
// A 64-byte header, block 1 (triangles of nine L values: x0 y0 z0 x1 y1 z1 x2 y2
// z2) and block 2 (a 128 x 128 table of cell-list offsets, then the lists; a
// list is its count, then triangle offsets). Offsets in the table and the
// lists count from the start of block 1; a table entry 0 is an empty cell.
// Cell (row, column) covers -E/2 + column E/128 <= x, -E/2 + row E/128 <= z.

inline constexpr char kMapTag[4] = {'d', '3', 'm', '.'};
inline constexpr int kMapHeaderBytes = 64;
inline constexpr int kMapCells = 128;  // per side
inline constexpr int kMapCellTableBytes = kMapCells * kMapCells * 4;
inline constexpr int kMapTriangleBytes = 36;
inline constexpr std::size_t kMaxMapBytes = base::area_size(base::Area::ground_maps);  // blocks of one map
// Header fields (file offsets, 32-bit little-endian).
inline constexpr int kMapBlock1Field = 4;     // offset of block 1: 64
inline constexpr int kMapBlock2Field = 8;     // offset of block 2: 64 + triangles x 36
inline constexpr int kMapExtentField = 12;    // E in L: the map covers -E/2 <= x, z < E/2
inline constexpr int kMapChecksumField = 16;  // checksum of the model the map was built from
inline constexpr int kMapBytesField = 20;     // bytes of blocks 1 and 2 (the file less its header)

// A ground triangle: three vertices (x, y, z each, in L) and its colour (a
// terrain grid's tenth value; 0 for a ground map's triangles).
struct GroundTriangle {
  int32_t v[9] = {};
  int32_t colour = 0;
};

// The barycentric parameters u and v of (px, pz) in triangle t (nine L values)
// projected on x-z, from vertex 0 along its two edges; false when the
// projection has no area.
bool ground_barycentric(const int32_t* t, double px, double pz, double& u, double& v);
// The inside test of the ground-map query: u and v in [0, 1], their sum at most 1.01.
bool inside_ground_triangle(const int32_t* t, double px, double pz, double& u, double& v);
// Whether the triangle projected on x-z has an area (exact).
bool ground_triangle_has_area(const int32_t* t);
// The largest |x| or |z| of the triangles' vertices (L).
int64_t ground_reach(std::span<const GroundTriangle> triangles);

// Checksum of a model file: the sum modulo 2^32 of its whole 32-bit
// little-endian words; a file shorter than 4 bytes gives its length.
uint32_t model_checksum(std::span<const std::byte> bytes);
// The checksum field of a ground map's header (at least 20 bytes); 0 when the
// bytes are shorter or lack the tag.
uint32_t ground_map_checksum(std::span<const std::byte> header);
// Bytes of block 1 (the triangles) of a checked map.
std::size_t ground_map_triangle_bytes(std::span<const std::byte> file);

// Checks a whole ".m3d" file: tag, block sizes from field 8 - field 4 and from
// the file size, the extent, and every cell offset, count and triangle offset.
// Null when sound, else what is wrong.
const char* check_ground_map(std::span<const std::byte> file);

// A map as its blocks hold it: the triangles, and the cell lists that cells
// point at (several cells may share one list).
struct GroundMapLayout {
  std::span<const GroundTriangle> triangles;
  int32_t extent = 0;     // L
  uint32_t checksum = 0;  // of the model the map was built from; 0: none
  std::vector<std::vector<uint32_t>> lists;  // triangle indexes; each list written once, in order
  std::vector<int32_t> cell_list;            // per cell, row by row: index into lists, -1: empty
};
// The ".m3d" file of a layout: the header, block 1, the cell table and the lists.
std::vector<std::byte> write_ground_map(const GroundMapLayout& map);
// The ".m3d" file of triangles (L) as a boundary element builds it: every
// triangle in block 1, the extent from the largest |x| or |z|, and each cell
// listing the triangles with an area that overlap it.
std::vector<std::byte> build_ground_map(std::span<const GroundTriangle> triangles, uint32_t checksum);

// ---------------------------------------------------------------------------
// 3DS meshes (".3ds")
// ---------------------------------------------------------------------------
//
// Chunks of a 16-bit id, a 32-bit length counting its 6-byte header, then the
// data, little-endian. The reader walks main (0x4D4D) > editor (0x3D3D) >
// object (0x4000, after its zero-ended name) > triangle mesh (0x4100) with its
// vertex list (0x4110: count, then x y z floats) and face list (0x4120: count,
// then three vertex indices and flags, 16 bits each); other chunks are skipped.

inline constexpr char k3dsMagic[2] = {'M', 'M'};  // the main chunk's id 0x4D4D
// Fragments a written mesh may hold: its 16-bit vertex count is three per fragment.
inline constexpr int kMax3dsFragments = 21845;
inline constexpr std::size_t kMax3dsBytes = 64u << 20;  // a model file read whole

// One triangle: corner k at x = corner[k][0], y = corner[k][1], z = corner[k][2], file axes.
struct Triangle3ds {
  float corner[3][3] = {};
};

enum class Read3ds : uint8_t {
  ok,
  not_3ds,  // the first two bytes are not "MM"
  damaged,  // a chunk of length under 6 or past its parent, a count past its chunk,
            // a face naming a missing vertex, a corner not finite, no triangles,
            // more than kMax3dsFragments triangles
};
// The triangles of the last triangle mesh of a 3DS file, each face with its
// corners copied out of the vertex list read before it. Anything but ok leaves
// out empty, with why (a short phrase) set for damaged.
Read3ds read_3ds_triangles(std::span<const std::byte> file, std::vector<Triangle3ds>& out, std::string& why);
// A 3DS file of triangles (at most kMax3dsFragments) as fragments: one object
// "ZEPTA", corners 3k..3k+2 of triangle k, each triangle stored as two faces
// facing opposite ways so both sides are drawn. 52 x n + 56 bytes.
std::vector<std::byte> write_fragment_3ds(std::span<const Triangle3ds> triangles);

}  // namespace media
