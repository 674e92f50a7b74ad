// ".fnt" bitmap fonts: loading, writing, measuring and glyph lookup.
#include <algorithm>
#include <string>

#include "media/media.h"
#include "base/bytes.h"
#include "base/files.h"
#include "base/log.h"
#include "base/text.h"

namespace media {

namespace {

int u16(const Font& f, int at) { return base::le16(f.head.data() + at); }

int32_t u32(const Font& f, int at) { return base::le32_signed(f.head.data() + at); }

// Metrics the loader sets whatever the file says.
void set_kind_metrics(Font& f, bool small) {
  set_u8(f, kFontLineGap, small ? 2 : 1);
  set_u16(f, kFontLetterSpacing, small ? 0 : 2);
}

bool refuse(std::string_view path, const char* why, Font& f, bool small) {
  base::report("media", "font \"%.*s\" refused: %s", int(path.size()), path.data(), why);
  f = empty_font(small);
  return false;
}

}  // namespace

Font empty_font(bool small) {
  Font f;
  set_u8(f, kFontWidthMode, 255);
  set_u16(f, kFontGlyphHeight, 8);
  set_u16(f, kFontSpaceWidth, 8);
  set_kind_metrics(f, small);
  return f;
}

int width_mode(const Font& f) { return f.head[kFontWidthMode]; }
int line_gap(const Font& f) { return f.head[kFontLineGap]; }
int glyph_height(const Font& f) { return u16(f, kFontGlyphHeight); }
int row_length(const Font& f) { return u16(f, kFontRowLength); }
int letter_spacing(const Font& f) { return static_cast<int16_t>(u16(f, kFontLetterSpacing)); }
int space_width(const Font& f) { return static_cast<int16_t>(u16(f, kFontSpaceWidth)); }

void set_u8(Font& f, int offset, int value) { f.head[offset] = static_cast<uint8_t>(value); }

void set_u16(Font& f, int offset, int value) {
  base::put_le16(f.head.data() + offset, static_cast<uint16_t>(value));
}

void set_u32(Font& f, int offset, uint32_t value) {
  base::put_le32(f.head.data() + offset, value);
}

void index_glyphs(Font& f) {
  int32_t x = 0;
  for (int c = 0; c < 256; ++c) {
    f.glyph_x[c] = x;
    x += f.head[kFontByteWidths + c];
  }
}

bool load_font(std::string_view path, Font& f, bool small) {
  Font loaded;
  long got = base::read_file_at(path, 0, std::as_writable_bytes(std::span(loaded.head)));
  if (got < 0) return refuse(path, "missing", f, small);
  if (got < kFontHeadBytes) return refuse(path, "truncated head", f, small);
  long bitmap = long{glyph_height(loaded)} * row_length(loaded);
  if (bitmap > kFontGlyphBytes) return refuse(path, "glyph bitmap over 6000 bytes", f, small);
  std::span<uint8_t> glyphs(loaded.glyphs.data(), static_cast<std::size_t>(bitmap));
  if (base::read_file_at(path, kFontHeadBytes, std::as_writable_bytes(glyphs)) != bitmap)
    return refuse(path, "truncated glyph bitmap", f, small);
  set_kind_metrics(loaded, small);
  index_glyphs(loaded);
  f = loaded;
  return true;
}

bool write_font(std::string_view path, const Font& f) {
  long bitmap = long{glyph_height(f)} * row_length(f);
  if (bitmap > kFontGlyphBytes) return false;
  base::TextFile out;
  if (!out.open_write_atomic(path)) return false;
  if (!out.write_bytes(f.head.data(), f.head.size()) || !out.write_bytes(f.glyphs.data(), std::size_t(bitmap))) {
    out.discard();
    return false;
  }
  return out.close();
}

int advance(const Font& f, unsigned char c) {
  if (c == ' ') return space_width(f);
  int64_t w;
  switch (width_mode(f)) {
    case 255: w = 8; break;
    case 0: w = f.head[kFontByteWidths + c]; break;
    default: w = int64_t{u32(f, kFontFirstTable + 4 * c)} + u32(f, kFontSecondTable + 4 * c);
  }
  w += letter_spacing(f);
  // File values are untrusted: keep one advance small enough that any text sums in 32 bits.
  return static_cast<int>(std::clamp<int64_t>(w, -65535, 65535));
}

int text_width(const Font& f, std::string_view text) {
  int64_t w = 0;
  for (char c : text) w += advance(f, static_cast<unsigned char>(c));
  return static_cast<int>(std::clamp<int64_t>(w, INT32_MIN, INT32_MAX));
}

int line_height(const Font& f) { return glyph_height(f) + line_gap(f); }

Glyph glyph(const Font& f, unsigned char c) {
  int rows = glyph_height(f), stride = row_length(f);
  int x = f.glyph_x[c];
  int w = std::min<int>(f.head[kFontByteWidths + c], stride - x);
  // Only glyphs whose whole rectangle lies inside the loaded bitmap are drawn.
  if (w <= 0 || x < 0 || long{rows} * stride > kFontGlyphBytes) return {f.glyphs.data(), 0, rows, stride};
  return {f.glyphs.data() + x, w, rows, stride};
}

}  // namespace media
