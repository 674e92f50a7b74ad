// System fonts: a face found by name through fontconfig, rasterised once by
// FreeType into an atlas of 8-bit coverage, and drawn into RGBA layers.
#include <fontconfig/fontconfig.h>
#include <unistd.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "base/log.h"

namespace platform {

namespace {

constexpr int kFirstCode = 32;
constexpr int kCodes = 256 - kFirstCode;  // Windows-1252 codes 32..255
constexpr int kDefaultHeight = 16;        // pixels, the em height of height 0

// Unicode of the Windows-1252 codes 0x80..0x9F (0: undefined, drawn as nothing).
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::uint32_t unicode_of(int code) {
  if (code >= 0x80 && code < 0xA0) return kCp1252High[code - 0x80];
  return static_cast<std::uint32_t>(code);
}

// Fontconfig's configuration is loaded once (again only when the game's font
// folder changes): loading it reads every font folder of the system and takes
// milliseconds. Each face name is matched once, and its FreeType face stays
// open, so that a font of a new size only sets the face's pixel size and
// rasterises. A configuration of our own: fontconfig's global one is never freed.
constexpr int kMatchedFaces = 16;

struct MatchedFace {
  std::string face;            // the name asked for
  bool bold = false;
  bool filled = false;
  FT_Face ft = nullptr;        // null: nothing opens for this name
  std::uint64_t last_use = 0;
};

struct GameFonts {
  std::mutex lock;
  std::string folder;
  FcConfig* config = nullptr;  // null until the first match after a change of folder
  FT_Library library = nullptr;
  MatchedFace match[kMatchedFaces];
  std::uint64_t clock = 0;
  void forget_matches() {
    for (MatchedFace& m : match) {
      if (m.ft) FT_Done_Face(m.ft);
      m = MatchedFace{};
    }
    if (config) FcConfigDestroy(config);
    config = nullptr;
  }
  ~GameFonts() {
    forget_matches();
    if (library) FT_Done_FreeType(library);
  }
};
GameFonts& game_fonts() {
  static GameFonts fonts;
  return fonts;
}

// The system's configuration and fonts, with the game's font folder added.
FcConfig* load_config(const std::string& folder) {
  // A system without fontconfig's files (a bare root) gets an empty
  // configuration quietly: the game's folder may still hold its faces.
  bool system = std::getenv("FONTCONFIG_FILE") || std::getenv("FONTCONFIG_PATH") ||
                access("/etc/fonts/fonts.conf", R_OK) == 0;
  FcConfig* config = system ? FcInitLoadConfigAndFonts() : FcConfigCreate();
  if (!config) config = FcConfigCreate();
  if (!config) return nullptr;
  if (!folder.empty()) FcConfigAppFontAddDir(config, reinterpret_cast<const FcChar8*>(folder.c_str()));
  return config;
}

// The file of the best fontconfig match for face (any face when nothing
// matches it: fontconfig always offers its nearest installed font).
bool match_face(FcConfig* config, std::string_view face, bool bold, std::string& file, int& index) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return false;
  std::string family(face.empty() ? "sans-serif" : face);
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return false;
  FcChar8* path = nullptr;
  bool ok = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path;
  if (ok) file = reinterpret_cast<const char*>(path);
  if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
  FcPatternDestroy(match);
  return ok;
}

// The open FreeType face for (face, bold), matched and opened on first use
// (g.lock held); null when none opens, reported once while the name is kept.
FT_Face matched_face(GameFonts& g, std::string_view face, bool bold) {
  MatchedFace* spare = &g.match[0];
  for (MatchedFace& m : g.match) {
    if (m.filled && m.bold == bold && m.face == face) {
      m.last_use = ++g.clock;
      return m.ft;
    }
    if (spare->filled && (!m.filled || m.last_use < spare->last_use)) spare = &m;
  }
  if (!g.config) g.config = load_config(g.folder);
  if (!g.library && FT_Init_FreeType(&g.library) != 0) g.library = nullptr;
  std::string file;
  int index = 0;
  FT_Face ft = nullptr;
  if (!g.config || !g.library || !match_face(g.config, face, bold, file, index)) {
    base::report("platform", "no font matches \"%.*s\"", static_cast<int>(std::min<std::size_t>(face.size(), 200)),
                 face.data());
  } else if (FT_New_Face(g.library, file.c_str(), index, &ft) != 0) {
    ft = nullptr;
    base::report("platform", "font %s can't be opened", file.c_str());
  }
  if (spare->ft) FT_Done_Face(spare->ft);
  *spare = {std::string(face), bold, true, ft, ++g.clock};
  return ft;
}

}  // namespace

void set_game_font_folder(std::string_view folder) {
  GameFonts& g = game_fonts();
  std::lock_guard<std::mutex> hold(g.lock);
  if (g.folder == folder) return;
  g.folder = std::string(folder);
  g.forget_matches();
}

std::string font_file_of_family(std::string_view family) {
  std::string name(family);
  if (name.empty() || name.size() > 200) return {};
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (!config) return {};
  FcPattern* pattern = FcPatternCreate();
  FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_FAMILY, FC_WEIGHT, FC_SLANT, FC_WIDTH, nullptr);
  std::string best;
  if (pattern && objects) {
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    if (FcFontSet* set = FcFontList(config, pattern, objects)) {
      int best_distance = 1 << 30;
      for (int i = 0; i < set->nfont; ++i) {
        FcChar8* file = nullptr;
        int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN, width = FC_WIDTH_NORMAL;
        if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch || !file) continue;
        FcPatternGetInteger(set->fonts[i], FC_WEIGHT, 0, &weight);
        FcPatternGetInteger(set->fonts[i], FC_SLANT, 0, &slant);
        FcPatternGetInteger(set->fonts[i], FC_WIDTH, 0, &width);
        // The regular upright face of normal width first (Book and Regular weigh 75 to 80).
        int distance = std::abs(weight - FC_WEIGHT_REGULAR) + std::abs(width - FC_WIDTH_NORMAL) +
                       (slant != FC_SLANT_ROMAN ? 1000 : 0);
        if (distance < best_distance) {
          best_distance = distance;
          best = reinterpret_cast<const char*>(file);
        }
      }
      FcFontSetDestroy(set);
    }
  }
  if (objects) FcObjectSetDestroy(objects);
  if (pattern) FcPatternDestroy(pattern);
  FcConfigDestroy(config);
  return best;
}

namespace {

struct GlyphBox {
  int x = 0, width = 0, height = 0;  // place in the atlas
  int left = 0, top = 0;             // offset of the bitmap from the pen at the cell top
  int advance = 0;                   // pixels
};

// A height as the rasteriser reads it: 0 is the default em, at most kMaxFontHeight either way.
int clamped_height(int height) {
  if (height == 0) return -kDefaultHeight;
  int pixels = static_cast<int>(std::min<long long>(std::llabs(height), kMaxFontHeight));
  return height < 0 ? -pixels : pixels;
}

}  // namespace

struct SystemFont {
  GlyphBox glyph[kCodes];
  std::vector<std::uint8_t> atlas;  // coverage 0..255, atlas_width x atlas_height
  int atlas_width = 0, atlas_height = 0;
  int line_height = 0;              // ascent + descent, pixels
};

namespace {

// Fonts opened by (face, height, bold). Brains set fonts in loops, and a
// fontconfig match alone takes milliseconds, so an open of a known font hands
// out the same one again; a closed font waits in its row until the row is
// needed. A face that can't be opened is kept too (null), reported once.
constexpr int kCachedFonts = 24;  // the engine's 16 font slots and its default font, and a few spare

struct CachedFont {
  std::string face;
  int height = 0;              // clamped_height()
  bool bold = false;
  bool filled = false;
  SystemFont* font = nullptr;  // null: nothing opens for this key
  int users = 0;               // opens not yet closed
  std::uint64_t last_use = 0;
};

struct FontCache {
  std::mutex lock;
  CachedFont row[kCachedFonts];
  std::uint64_t clock = 0;
  ~FontCache() {
    for (CachedFont& r : row)
      if (r.users == 0) delete r.font;
  }
};

FontCache& font_cache() {
  static FontCache cache;
  return cache;
}

// Matches and rasterises a font (height already clamped); null when none opens.
SystemFont* load_system_font(std::string_view face, int height, bool bold) {
  GameFonts& g = game_fonts();
  std::lock_guard<std::mutex> hold(g.lock);
  FT_Face ft = matched_face(g, face, bold);
  if (!ft) return nullptr;
  // GDI heights: negative is the em height, positive the cell (ascent + descent).
  int pixels = std::abs(height);
  if (height > 0 && ft->units_per_EM > 0 && ft->ascender - ft->descender > 0)
    pixels = std::max(1, static_cast<int>(static_cast<long>(pixels) * ft->units_per_EM / (ft->ascender - ft->descender)));
  FT_Set_Pixel_Sizes(ft, 0, static_cast<FT_UInt>(pixels));
  auto* font = new (std::nothrow) SystemFont;
  if (!font) return nullptr;
  int ascent = static_cast<int>((ft->size->metrics.ascender + 63) >> 6);
  int descent = static_cast<int>((-ft->size->metrics.descender + 63) >> 6);
  font->line_height = std::max(1, ascent + descent);

  // Two passes: measure, then copy the bitmaps side by side into the atlas.
  for (int pass = 0; pass < 2; ++pass) {
    int x = 0;
    for (int k = 0; k < kCodes; ++k) {
      std::uint32_t u = unicode_of(k + kFirstCode);
      GlyphBox& g = font->glyph[k];
      if (u == 0 || FT_Load_Char(ft, u, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) continue;
      const FT_GlyphSlot slot = ft->glyph;
      const FT_Bitmap& b = slot->bitmap;
      if (pass == 0) {
        g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
        g.left = slot->bitmap_left;
        g.top = ascent - slot->bitmap_top;
        g.width = b.pixel_mode == FT_PIXEL_MODE_GRAY ? static_cast<int>(b.width) : 0;
        g.height = g.width ? static_cast<int>(b.rows) : 0;
        g.x = x;
        x += g.width;
        font->atlas_height = std::max(font->atlas_height, g.height);
      } else if (g.width && static_cast<int>(b.width) == g.width && static_cast<int>(b.rows) == g.height) {
        for (int row = 0; row < g.height; ++row)
          std::memcpy(&font->atlas[static_cast<std::size_t>(row) * font->atlas_width + g.x],
                      b.buffer + static_cast<std::ptrdiff_t>(row) * b.pitch, static_cast<std::size_t>(g.width));
      }
    }
    if (pass == 0) {
      font->atlas_width = std::max(1, x);
      font->atlas_height = std::max(1, font->atlas_height);
      font->atlas.assign(static_cast<std::size_t>(font->atlas_width) * font->atlas_height, 0);
    }
  }
  return font;
}

}  // namespace

SystemFont* open_system_font(std::string_view face, int height, int weight, bool* rasterised) {
  FontCache& cache = font_cache();
  std::lock_guard guard(cache.lock);
  height = clamped_height(height);
  bool bold = weight >= 600;
  CachedFont* spare = nullptr;  // an empty row, else the idle row used longest ago
  for (CachedFont& r : cache.row) {
    if (r.filled && r.height == height && r.bold == bold && r.face == face) {
      r.last_use = ++cache.clock;
      if (r.font) ++r.users;
      return r.font;
    }
    if (!r.filled) {
      if (!spare || spare->filled) spare = &r;
    } else if (r.users == 0 && (!spare || (spare->filled && r.last_use < spare->last_use))) {
      spare = &r;
    }
  }
  SystemFont* font = load_system_font(face, height, bold);
  if (rasterised) *rasterised = true;
  if (!spare) return font;  // every row in use: this one is the caller's alone
  delete spare->font;
  *spare = {std::string(face), height, bold, true, font, font ? 1 : 0, ++cache.clock};
  return font;
}

void close_system_font(SystemFont* font) {
  if (!font) return;
  FontCache& cache = font_cache();
  std::lock_guard guard(cache.lock);
  for (CachedFont& r : cache.row)
    if (r.font == font) {
      if (r.users > 0) --r.users;
      return;
    }
  delete font;
}

int font_line_height(const SystemFont& font) { return font.line_height; }

int text_advance(const SystemFont& font, std::string_view text) {
  long width = 0;
  for (unsigned char c : text)
    if (c >= kFirstCode) width += font.glyph[c - kFirstCode].advance;
  return static_cast<int>(std::min<long>(width, 1 << 24));
}

int draw_text(const SystemFont& font, std::string_view text, int x, int y, std::uint32_t rgb, const RgbaLayer& layer) {
  int x1 = std::max(layer.clip_x1, 0), y1 = std::max(layer.clip_y1, 0);
  int x2 = std::min(layer.clip_x2, layer.width), y2 = std::min(layer.clip_y2, layer.height);
  long pen = x;
  for (unsigned char c : text) {
    if (c < kFirstCode) continue;
    const GlyphBox& g = font.glyph[c - kFirstCode];
    for (int row = 0; row < g.height; ++row) {
      long py = static_cast<long>(y) + g.top + row;
      if (py < y1 || py >= y2) continue;
      const std::uint8_t* coverage = &font.atlas[static_cast<std::size_t>(row) * font.atlas_width + g.x];
      for (int col = 0; col < g.width; ++col) {
        long px = pen + g.left + col;
        if (px < x1 || px >= x2 || coverage[col] == 0) continue;
        blend_over(layer.pixels + (static_cast<std::size_t>(py) * layer.width + static_cast<std::size_t>(px)) * 4, rgb,
                   coverage[col]);
      }
    }
    pen += g.advance;
  }
  return static_cast<int>(std::clamp<long>(pen - x, 0, 1 << 24));
}

}  // namespace platform
