// Generators of the data folder's files.
#include "media/datagen/datagen.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "base/files.h"
#include "base/log.h"
#include "base/text.h"

namespace datagen {

namespace {

constexpr double kPi = 3.14159265358979323846;

void put32(std::vector<uint8_t>& out, int64_t v) {
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  auto u = static_cast<uint32_t>(static_cast<int32_t>(v));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

// Closes the FreeType library and face on every path out.
struct FreeType {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  ~FreeType() {
    if (face) FT_Done_Face(face);
    if (lib) FT_Done_FreeType(lib);
  }
};

}  // namespace

std::vector<uint8_t> sine_table() {
  std::vector<uint8_t> t;
  t.reserve(media::kSineBytes);
  for (int i = 0; i < media::kSineBytes; ++i)
    t.push_back(static_cast<uint8_t>(static_cast<int8_t>(std::lround(127.0 * std::sin(i * kPi / 46080.0)))));
  return t;
}

std::vector<uint8_t> large_sine_table() {
  std::vector<uint8_t> t;
  t.reserve(media::kLargeSineBytes);
  for (int i = 0; i < media::kLargeSineBytes / 4; ++i) put32(t, std::llround(32768.0 * std::sin(i * kPi / 1440.0)));
  return t;
}

std::vector<uint8_t> atan_table() {
  std::vector<uint8_t> t;
  t.reserve(media::kAtanBytes);
  for (int i = 0; i < media::kAtanBytes / 4; ++i) put32(t, std::llround(1024.0 * std::tan(i * kPi / 1440.0)));
  return t;
}

std::vector<uint8_t> random_table() {
  // splitmix64 from a fixed seed: uniform bytes, the same in every build.
  uint64_t state = 0x5A657074612D5231ull;
  std::vector<uint8_t> t;
  t.reserve(media::kRandomBytes);
  while (t.size() < media::kRandomBytes) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    for (int i = 0; i < 8 && t.size() < media::kRandomBytes; ++i) t.push_back(static_cast<uint8_t>(z >> (8 * i)));
  }
  return t;
}

// 6 x 10 glyphs plus the letter spacing of 2 make the normal font's 8-pixel cells.
const FontRecipe kNormalFont = {"/usr/share/fonts/X11/misc/6x10.pcf.gz", 0, 6, 0, 10, 8};
// The small font is the 8-pixel font: fixed 8-pixel cells, 5 x 8 glyphs set one column in.
const FontRecipe kSmallFont = {"/usr/share/fonts/X11/misc/5x8.pcf.gz", 255, 6, 1, 8, 8};

bool render_font(const FontRecipe& r, media::Font& out, std::string& error) {
  constexpr int kFirst = 32, kLast = 126;
  const int row_length = (kLast - kFirst + 1) * r.cell_width;
  if (row_length * r.rows > media::kFontGlyphBytes) {
    error = "glyph bitmap over 6000 bytes";
    return false;
  }
  FreeType ft;
  if (FT_Init_FreeType(&ft.lib) != 0) {
    error = "FreeType did not start";
    return false;
  }
  if (FT_New_Face(ft.lib, r.source, 0, &ft.face) != 0) {
    error = std::string("cannot read ") + r.source;
    return false;
  }
  if (ft.face->num_fixed_sizes > 0)
    FT_Select_Size(ft.face, 0);
  else
    FT_Set_Pixel_Sizes(ft.face, 0, static_cast<FT_UInt>(r.rows));
  FT_Select_Charmap(ft.face, FT_ENCODING_UNICODE);
  const int ascent = static_cast<int>(ft.face->size->metrics.ascender >> 6);

  media::Font f;
  media::set_u8(f, media::kFontWidthMode, r.width_mode);
  media::set_u16(f, media::kFontGlyphHeight, r.rows);
  media::set_u16(f, media::kFontRowLength, row_length);
  media::set_u16(f, media::kFontSpaceWidth, r.space_width);
  for (int c = kFirst; c <= kLast; ++c) {
    media::set_u8(f, media::kFontByteWidths + c, r.cell_width);
    // The two 32-bit tables: the byte width and the letter spacing, so that
    // their sum is the advance should a font ever use that width mode.
    media::set_u32(f, media::kFontFirstTable + 4 * c, static_cast<uint32_t>(r.cell_width));
    if (FT_Load_Char(ft.face, static_cast<FT_ULong>(c), FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) continue;
    const FT_Bitmap& bm = ft.face->glyph->bitmap;
    const int left = (c - kFirst) * r.cell_width + r.pad_left + ft.face->glyph->bitmap_left;
    const int top = ascent - ft.face->glyph->bitmap_top;
    for (unsigned y = 0; y < bm.rows; ++y) {
      for (unsigned x = 0; x < bm.width; ++x) {
        const uint8_t* row = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
        bool ink = bm.pixel_mode == FT_PIXEL_MODE_MONO ? (row[x >> 3] >> (7 - (x & 7))) & 1 : row[x] >= 128;
        int px = left + static_cast<int>(x), py = top + static_cast<int>(y);
        int cell_x = px - (c - kFirst) * r.cell_width;
        if (ink && py >= 0 && py < r.rows && cell_x >= 0 && cell_x < r.cell_width)
          f.glyphs[static_cast<std::size_t>(py * row_length + px)] = 1;
      }
    }
  }
  media::set_u8(f, media::kFontLineGap, r.width_mode == 255 ? 2 : 1);
  media::set_u16(f, media::kFontLetterSpacing, r.width_mode == 255 ? 0 : 2);
  for (int c = kFirst; c <= kLast; ++c)
    media::set_u32(f, media::kFontSecondTable + 4 * c, static_cast<uint32_t>(media::letter_spacing(f)));
  media::index_glyphs(f);
  out = f;
  return true;
}

std::vector<uint8_t> panel_skin(const media::Font& font) {
  using namespace skin;
  std::vector<uint8_t> px(kWidth * kHeight, 0);
  auto set = [&](int x, int y, uint8_t c) {
    if (x >= 0 && x < kWidth && y >= 0 && y < kHeight) px[static_cast<std::size_t>(y * kWidth + x)] = c;
  };

  // Frame tiles: each style is a 12 x 12 box cut into its nine 4 x 4 tiles
  // (top-left, top, top-right, left, centre, right, bottom-left, bottom,
  // bottom-right). Ring 0 is the outer line; top and left of ring k take the
  // first colour, bottom and right the second; inside the rings, the fill.
  struct Style {
    int x;                  // first skin column of the nine tiles
    uint8_t corner;         // the four outermost corner pixels
    uint8_t ring[3][2];     // {top/left, bottom/right} for rings 0..2
    int rings;
    uint8_t fill;
  };
  static const Style kStyles[] = {
      // window: accent outline, a light and dark bevel, flat panel inside
      {0, kPanel, {{kAccent, kAccent}, {kText, kShadow}, {0, 0}}, 2, kPanel},
      // button (style 0): dark outline, raised bevel, grey face
      {36, kPanel, {{kShadow, kShadow}, {kButtonLight, kPanel}, {0, 0}}, 2, kButton},
      // field (style 1): grey outline, sunken two-step shadow, light face
      {72, kButton, {{kButton, kButton}, {kFieldText, kField}, {kHighlight, kField}}, 3, kField},
  };
  for (const Style& s : kStyles) {
    for (int by = 0; by < 12; ++by) {
      for (int bx = 0; bx < 12; ++bx) {
        int ring = std::min(std::min(bx, by), std::min(11 - bx, 11 - by));
        bool top_left = bx + by <= 11 && (bx == ring || by == ring);
        uint8_t c = ring < s.rings ? s.ring[ring][top_left ? 0 : 1] : s.fill;
        if ((bx == 0 || bx == 11) && (by == 0 || by == 11)) c = s.corner;
        int tile = (by / 4) * 3 + bx / 4;
        set(s.x + tile * 4 + bx % 4, by % 4, c);
      }
    }
  }

  // Title image, rows 4-25: "Zepta" in white, emboldened by a second pass one
  // pixel to the right; everything else 0 (transparent over the title bar).
  const int title_top = 4;
  int pen = 8;
  const int text_y = title_top + (22 - media::glyph_height(font)) / 2 + 1;
  for (unsigned char ch : std::string_view("Zepta")) {
    media::Glyph g = media::glyph(font, ch);
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x)
        if (g.pixels[y * g.stride + x]) {
          set(pen + x, text_y + y, kWhite);
          set(pen + x + 1, text_y + y, kWhite);
        }
    pen += g.width + 1;  // tighter than the text advance: the title is emboldened
  }

  // Window buttons, rows 26-39: minimise at x 0-15 and close at x 18-33 under
  // the two hot areas; x 34-67 stays transparent for panels without them.
  const int top = 26;
  auto button = [&](int x0, uint8_t face) {
    for (int y = 0; y < 14; ++y)
      for (int x = 0; x < 16; ++x)
        if (!((x == 0 || x == 15) && (y == 0 || y == 13))) set(x0 + x, top + y, face);
  };
  button(0, kButton);
  for (int x = 4; x < 12; ++x) {
    set(x, top + 9, kWhite);
    set(x, top + 10, kWhite);
  }
  button(18, kClose);
  for (int i = 0; i < 8; ++i) {
    set(18 + 4 + i, top + 3 + i, kWhite);
    set(18 + 11 - i, top + 3 + i, kWhite);
  }
  return px;
}

std::vector<uint8_t> error_image() {
  // A magenta and black checkerboard: a missing picture that nobody mistakes for content.
  constexpr uint8_t kMagenta = 223, kDark = 2;
  std::vector<uint8_t> px(kErrorSize * kErrorSize);
  for (int y = 0; y < kErrorSize; ++y)
    for (int x = 0; x < kErrorSize; ++x) px[static_cast<std::size_t>(y * kErrorSize + x)] = ((x / 4 + y / 4) & 1) ? kDark : kMagenta;
  return px;
}

bool generate_all(std::string_view out_dir) {
  std::string dir(out_dir);
  if (dir.empty()) dir = ".";
  if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
    base::report("datagen", "cannot create \"%s\": %s", dir.c_str(), std::strerror(errno));
    return false;
  }
  if (dir.back() != '/') dir += '/';
  bool ok = true;
  auto write_bytes = [&](const char* name, const std::vector<uint8_t>& bytes) {
    base::TextFile f;
    if (!f.open_write_atomic(dir + name) || !f.write_bytes(bytes.data(), bytes.size()) || !f.close()) {
      base::report("datagen", "cannot write \"%s%s\"", dir.c_str(), name);
      ok = false;
    }
  };
  write_bytes("sinus.bin", sine_table());
  write_bytes("sinusbig.bin", large_sine_table());
  write_bytes("atan.bin", atan_table());
  write_bytes("random.bin", random_table());

  struct FontOut {
    const char* name;
    const FontRecipe* recipe;
  };
  media::Font normal;
  for (FontOut fo : {FontOut{"font.fnt", &kNormalFont}, FontOut{"font8.fnt", &kSmallFont}}) {
    media::Font f;
    std::string error;
    if (!render_font(*fo.recipe, f, error) || !media::write_font(dir + fo.name, f)) {
      base::report("datagen", "\"%s\": %s", fo.name, error.empty() ? "cannot write" : error.c_str());
      ok = false;
      continue;
    }
    if (fo.recipe == &kNormalFont) normal = f;
  }

  const media::Palette& palette = media::scheme_palette();
  // "panels2.pcx" is the skin a packaged game takes as its "panels.pcx": the same look.
  const std::vector<uint8_t> skin_pixels = panel_skin(normal);
  if (!media::write_pcx(dir + "panels.pcx", skin::kWidth, skin::kHeight, skin_pixels, palette) ||
      !media::write_pcx(dir + "panels2.pcx", skin::kWidth, skin::kHeight, skin_pixels, palette) ||
      !media::write_pcx(dir + "error.pcx", kErrorSize, kErrorSize, error_image(), palette)) {
    base::report("datagen", "cannot write the skin or the missing-image picture into \"%s\"", dir.c_str());
    ok = false;
  }
  // The engine's screens of packaged games: resuming a saved game, and the end.
  if (ok) {
    uint8_t white = static_cast<uint8_t>(media::colour_index(255, 255, 255));
    uint8_t night = static_cast<uint8_t>(media::colour_index(10, 20, 60));
    uint8_t black = static_cast<uint8_t>(media::colour_index(0, 0, 0));
    write_bytes("resume_.bmp",
                bmp8(kPictureWidth, kPictureHeight, screen_picture(normal, {"Resuming the saved game..."}, 1, white, night), palette));
    write_bytes("end_.bmp",
                bmp8(kPictureWidth, kPictureHeight,
                     screen_picture(normal, {"The end", "Thanks for playing!", "Press any key"}, 1, white, black), palette));
  }
  return ok;
}

}  // namespace datagen
