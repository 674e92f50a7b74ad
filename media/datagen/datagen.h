// The data folder's generated files: lookup tables, the two bitmap fonts, the
// panel skin and the missing-image picture. Everything is byte-reproducible.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "media/media.h"

namespace datagen {

std::vector<uint8_t> sine_table();        // "sinus.bin": round(127 sin(i pi / 46080))
std::vector<uint8_t> large_sine_table();  // "sinusbig.bin": round(32768 sin(i pi / 1440))
std::vector<uint8_t> atan_table();        // "atan.bin": round(1024 tan(i pi / 1440))
std::vector<uint8_t> random_table();      // "random.bin": 2000 bytes from a fixed seed

// A ".fnt" rendered from a bitmap font of xfonts-base through FreeType.
struct FontRecipe {
  const char* source;  // font file path
  int width_mode;      // 0: byte widths, 255: every character 8 pixels
  int cell_width;      // columns each glyph takes in the strip
  int pad_left;        // blank columns before the source glyph inside its cell
  int rows;            // glyph height
  int space_width;
};
extern const FontRecipe kNormalFont;  // "font.fnt"
extern const FontRecipe kSmallFont;   // "font8.fnt"
// Renders printable ASCII (32..126); false with error set when the source can't be read.
bool render_font(const FontRecipe& recipe, media::Font& out, std::string& error);

// Scheme indexes of the skin: the skin is loaded folded through the colour
// scheme, and its palette is the scheme palette, so these are what loads.
namespace skin {
inline constexpr uint8_t kPanel = 45;       // dark slate panel background, pixel (0,0)
inline constexpr uint8_t kAccent = 18;      // blue: window border, title bar (28,3)
inline constexpr uint8_t kText = 210;       // light grey text on panels, pixel (13,0)
inline constexpr uint8_t kShadow = 2;       // near black bevel shadow
inline constexpr uint8_t kButton = 88;      // button fill, pixel (52,0)
inline constexpr uint8_t kButtonLight = 131;
inline constexpr uint8_t kField = 254;      // field fill, pixel (88,0)
inline constexpr uint8_t kFieldText = 2;    // text on fields, pixel (85,0)
inline constexpr uint8_t kHighlight = 131;  // selection and hover, pixel (86,0)
inline constexpr uint8_t kClose = 189;      // close button red
inline constexpr uint8_t kWhite = 255;
inline constexpr int kWidth = 128;
inline constexpr int kHeight = 40;
}  // namespace skin

// "panels.pcx" (and "panels2.pcx", the packaged games' copy) pixels (128 x 40 scheme indexes); the title is drawn with font.
std::vector<uint8_t> panel_skin(const media::Font& font);
// An uncompressed 8-bit BMP of w x h pixels with the palette.
std::vector<uint8_t> bmp8(int w, int h, const std::vector<uint8_t>& pixels, const media::Palette& palette);
// The pictures of packaged games are shown over the whole screen: a quarter
// of a 640 x 480 screen keeps them small.
inline constexpr int kPictureWidth = 320, kPictureHeight = 240;
// A kPictureWidth x kPictureHeight picture: lines of text centred in font,
// scale times larger, ink on paper.
std::vector<uint8_t> screen_picture(const media::Font& font, std::initializer_list<const char*> lines, int scale,
                                    uint8_t ink, uint8_t paper);

// "error.pcx" pixels (16 x 16): the picture shown for a missing image.
std::vector<uint8_t> error_image();
inline constexpr int kErrorSize = 16;

// The hood models "hood0a.x" .. "hood4b.x" and the collision-volume markers
// "bndbox.x", "radius.x" and "cross.x" (text ".x") into data_dir.
bool generate_models(std::string_view data_dir);
// The default resources of the working folder's resource folders (created when
// missing): "cameras/default_.03d", "visuals/default_.v3d" with its model and
// texture in "xvisuals/", "3dsfiles/default_.3ds", "3dshapes/default_.a3d" with
// its atlas "3dshapes/default_.pcx", "bckgrnds/default_.g3d",
// ".pcx" and "bkgr000_.bmp", the image defaults, the flat ground map
// "grndmaps/default_.m3d", "sounds/null_.wav" and
// "sounds/default_.wav". False on any failure, with a message on stderr.
bool generate_resources(std::string_view work_dir);

// Writes every file into out_dir (created when missing); false on any failure,
// with a message on stderr.
bool generate_all(std::string_view out_dir);

}  // namespace datagen
