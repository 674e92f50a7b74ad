// Whole pictures of the image kinds other than PCX layers: uncompressed BMP and
// PPM, and any of the three read into one 8-bit picture with its palette.
// Files are untrusted: every size is checked against the bytes there.
#include <algorithm>
#include <cstring>

#include "media/media.h"
#include "base/bytes.h"
#include "base/files.h"
#include "base/text.h"

namespace media {

namespace {

bool side_ok(long v, int max_side) { return v > 0 && v <= max_side; }

// PPM header words: blanks and "#" comments (to the line end) between them.
struct PpmReader {
  std::span<const uint8_t> f;
  std::size_t at = 2;
  bool skip() {
    while (at < f.size()) {
      if (f[at] == '#') {
        while (at < f.size() && f[at] != '\n' && f[at] != '\r') ++at;
      } else if (f[at] == ' ' || f[at] == '\t' || f[at] == '\n' || f[at] == '\r' || f[at] == '\f' || f[at] == '\v') {
        ++at;
      } else {
        return true;
      }
    }
    return false;
  }
  // A decimal number of at most 9 digits; -1 when there is none.
  long number() {
    if (!skip() || f[at] < '0' || f[at] > '9') return -1;
    long v = 0;
    int digits = 0;
    while (at < f.size() && f[at] >= '0' && f[at] <= '9') {
      if (++digits > 9) return -1;
      v = v * 10 + (f[at++] - '0');
    }
    return v;
  }
};

}  // namespace

bool decode_bmp(std::span<const uint8_t> f, Picture& out, int max_side) {
  if (f.size() < 54 || f[0] != 'B' || f[1] != 'M') return false;
  uint32_t offset = base::le32(&f[10]), header = base::le32(&f[14]);
  auto w = static_cast<int32_t>(base::le32(&f[18])), h = static_cast<int32_t>(base::le32(&f[22]));
  int bits = base::le16(&f[28]);
  uint32_t compression = base::le32(&f[30]), used = base::le32(&f[46]);
  bool top_down = h < 0;
  if (top_down) h = h == INT32_MIN ? 0 : -h;
  if (compression != 0 || !side_ok(w, max_side) || !side_ok(h, max_side) || (bits != 8 && bits != 24) ||
      header > f.size() - 14)
    return false;
  std::size_t row_bytes = (static_cast<std::size_t>(w) * (bits / 8) + 3) & ~std::size_t{3};
  if (offset > f.size() || row_bytes * static_cast<std::size_t>(h) > f.size() - offset) return false;
  out.palette = Palette{};
  if (bits == 8) {
    std::size_t entries = used == 0 || used > 256 ? 256 : used;
    std::size_t table = 14 + static_cast<std::size_t>(header);
    for (std::size_t i = 0; i < entries && table + i * 4 + 3 <= f.size(); ++i)
      out.palette[i] = {f[table + i * 4 + 2], f[table + i * 4 + 1], f[table + i * 4]};
  } else {
    out.palette = scheme_palette();
  }
  out.width = w, out.height = h;
  out.pixels.resize(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = &f[offset + row_bytes * static_cast<std::size_t>(top_down ? y : h - 1 - y)];
    uint8_t* o = &out.pixels[static_cast<std::size_t>(y) * w];
    for (int x = 0; x < w; ++x)
      o[x] = bits == 8 ? row[x] : static_cast<uint8_t>(colour_index(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]));
  }
  return true;
}

bool decode_ppm(std::span<const uint8_t> f, Picture& out, int max_side) {
  if (f.size() < 3 || f[0] != 'P' || (f[1] != '6' && f[1] != '3')) return false;
  bool binary = f[1] == '6';
  PpmReader r{f};
  long w = r.number(), h = r.number(), maxval = r.number();
  if (!side_ok(w, max_side) || !side_ok(h, max_side) || maxval < 1 || maxval > 65535) return false;
  int sample_bytes = maxval > 255 ? 2 : 1;
  std::size_t samples = static_cast<std::size_t>(w) * h * 3;
  if (binary) {
    // Exactly one blank ends the header.
    if (r.at >= f.size()) return false;
    ++r.at;
    if (samples * sample_bytes > f.size() - r.at) return false;
  }
  out.width = static_cast<int>(w), out.height = static_cast<int>(h);
  out.palette = scheme_palette();
  out.pixels.resize(static_cast<std::size_t>(w) * h);
  auto level = [&](long v) { return static_cast<int>((std::min(v, maxval) * 255 + maxval / 2) / maxval); };
  for (std::size_t i = 0; i < out.pixels.size(); ++i) {
    int c[3];
    for (int k = 0; k < 3; ++k) {
      long v;
      if (binary) {
        const uint8_t* p = &f[r.at];
        v = sample_bytes == 2 ? (p[0] << 8 | p[1]) : p[0];
        r.at += static_cast<std::size_t>(sample_bytes);
      } else {
        v = r.number();
        if (v < 0) return false;
      }
      c[k] = level(v);
    }
    out.pixels[i] = static_cast<uint8_t>(colour_index(c[0], c[1], c[2]));
  }
  return true;
}

bool decode_picture(std::span<const uint8_t> f, Picture& out, int max_side) {
  if (decode_bmp(f, out, max_side) || decode_ppm(f, out, max_side)) return true;
  if (f.size() < kPcxHeaderBytes || f[0] != 10) return false;
  // The PCX window gives the size the decoder needs room for.
  long w = base::le16(&f[8]) - base::le16(&f[4]) + 1, h = base::le16(&f[10]) - base::le16(&f[6]) + 1;
  if (!side_ok(w, max_side) || !side_ok(h, max_side)) return false;
  std::vector<uint8_t> dest(static_cast<std::size_t>(w) * h + kPaletteBytes);
  ImageSize size;
  if (decode_pcx(f, kPcxAppendPalette, dest, size, nullptr) <= 1 && !(w == 1 && h == 1)) return false;
  std::size_t n = static_cast<std::size_t>(size.width) * size.height;
  out.width = size.width, out.height = size.height;
  out.pixels.assign(dest.begin(), dest.begin() + static_cast<std::ptrdiff_t>(n));
  for (int i = 0; i < 256; ++i) out.palette[i] = {dest[n + i * 3], dest[n + i * 3 + 1], dest[n + i * 3 + 2]};
  return true;
}

bool load_picture(std::string_view path, Picture& out, int max_side) {
  long size = base::file_size(path);
  if (size <= 0 || static_cast<std::size_t>(size) > kMaxPictureFile) return false;
  std::vector<uint8_t> file(static_cast<std::size_t>(size));
  if (base::read_file_at(path, 0, std::as_writable_bytes(std::span(file))) != size) return false;
  return decode_picture(file, out, max_side);
}

void fold_picture(Picture& p) {
  uint8_t map[256];
  for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(colour_index(p.palette[i][0], p.palette[i][1], p.palette[i][2]));
  for (uint8_t& v : p.pixels) v = map[v];
  p.palette = scheme_palette();
}

}  // namespace media
