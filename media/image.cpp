// The fixed colour scheme, 16-bit colour tables, PCX reading and writing, BMP palettes.
#include <algorithm>
#include <cstring>
#include <string>

#include "media/media.h"
#include "base/bytes.h"
#include "base/files.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/text.h"

namespace media {

namespace {

int clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

Palette make_scheme_palette() {
  Palette p{};
  p[0] = {0, 0, 0};
  p[1] = {8, 8, 8};
  p[254] = {248, 248, 248};
  p[255] = {255, 255, 255};
  for (int i = 2; i <= 253; ++i) {
    int k = i - 2, ri = k / 36, gi = k / 6 % 6, bi = k % 6;
    p[i] = {static_cast<uint8_t>(ri * 255 / 6), static_cast<uint8_t>(gi * 51), static_cast<uint8_t>(bi * 51)};
  }
  p[2] = {16, 16, 16};      // (0, 0, 0) would fall into the near-black indexes
  p[253] = {240, 255, 255};  // (255, 255, 255) would fall into the near-white ones
  return p;
}

// The 1 x 1 image every failed load gives.
int missing_image(int mode, std::span<uint8_t> dest, ImageSize& size) {
  size = {1, 1};
  if (!dest.empty()) dest[0] = 0;
  if (mode == kPcxAppendPalette && dest.size() >= 1 + kPaletteBytes)
    std::fill_n(dest.begin() + 1, kPaletteBytes, uint8_t{0});
  return 1;
}

int refuse(const char* why, int mode, std::span<uint8_t> dest, ImageSize& size) {
  base::report("media", "PCX image refused: %s", why);
  return missing_image(mode, dest, size);
}

}  // namespace

int colour_index(int r, int g, int b) {
  r = clamp255(r), g = clamp255(g), b = clamp255(b);
  if (r < 16 && r + g < 32 && r + g + b < 48) return r + g + b < 24 ? 0 : 1;
  if (r > 240 && r + g > 480 && r + g + b > 720) return r + g + b <= 744 ? 254 : 255;
  return ((r * 1792) >> 16) * 36 + ((g * 1536) >> 16) * 6 + ((b * 1536) >> 16) + 2;
}

const Palette& scheme_palette() {
  static const Palette palette = make_scheme_palette();
  return palette;
}

void make_colour_table(const Palette& palette, const PixelFormat& format, uint16_t out[256]) {
  int green_divisor = format.red_shift == 10 ? 8 : 4;
  for (int i = 0; i < 256; ++i) {
    const auto& c = palette[i];
    out[i] = static_cast<uint16_t>((c[0] / 8) << format.red_shift | (c[1] / green_divisor) << format.green_shift |
                                   (c[2] / 8) << format.blue_shift);
  }
}

int decode_pcx(std::span<const uint8_t> file, int mode, std::span<uint8_t> dest, ImageSize& size,
               uint16_t* colour_table, const PixelFormat& format) {
  if (file.size() < kPcxHeaderBytes + kPaletteBytes) return refuse("shorter than header and palette", mode, dest, size);
  if (file[0] != 10) return refuse("not a PCX file", mode, dest, size);
  int width = base::le16(file.data() + 8) - base::le16(file.data() + 4) + 1;
  int height = base::le16(file.data() + 10) - base::le16(file.data() + 6) + 1;
  if (width <= 0 || height <= 0) return refuse("bad image size", mode, dest, size);
  std::size_t pixels = std::size_t(width) * std::size_t(height);
  std::size_t needed = pixels + (mode == kPcxAppendPalette ? kPaletteBytes : 0);
  if (needed > dest.size()) return refuse("image larger than its destination", mode, dest, size);

  // Run-length data lies between the header and the palette. Each coded row is
  // the width rounded up to even; a run reaching past a row end is cut there.
  std::size_t in = kPcxHeaderBytes;
  const std::size_t end = file.size() - kPaletteBytes;
  const int coded = width + (width & 1);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = dest.data() + std::size_t(y) * std::size_t(width);
    int x = 0;
    while (x < coded) {
      if (in >= end) return refuse("run-length data ends early", mode, dest, size);
      uint8_t b = file[in++];
      int count = 1;
      if ((b & 0xC0) == 0xC0) {
        if (in >= end) return refuse("run-length data ends early", mode, dest, size);
        count = b & 0x3F;
        b = file[in++];
      }
      for (int k = 0; k < count && x < coded; ++k, ++x)
        if (x < width) row[x] = b;
    }
  }

  const uint8_t* pal = file.data() + end;
  if (mode == kPcxFold) {
    uint8_t fold[256];
    for (int i = 0; i < 256; ++i) fold[i] = static_cast<uint8_t>(colour_index(pal[3 * i], pal[3 * i + 1], pal[3 * i + 2]));
    for (std::size_t i = 0; i < pixels; ++i) dest[i] = fold[dest[i]];
  } else if (mode == kPcxAppendPalette) {
    std::memcpy(dest.data() + pixels, pal, kPaletteBytes);
  } else if (colour_table) {
    Palette p;
    std::memcpy(p.data(), pal, kPaletteBytes);
    make_colour_table(p, format, colour_table);
  }
  size = {width, height};
  return static_cast<int>(pixels);
}

int load_pcx(std::string_view path, int mode, std::span<uint8_t> dest, ImageSize& size, uint16_t* colour_table,
             const PixelFormat& format) {
  long n = base::file_size(path);
  if (n < 0) return missing_image(mode, dest, size);
  if (n > kPcxWorkBytes) {
    base::report("media", "\"%.*s\": %ld bytes, over the %d-byte image work buffer", int(path.size()), path.data(), n,
                  kPcxWorkBytes);
    return missing_image(mode, dest, size);
  }
  std::vector<uint8_t> local;
  std::span<uint8_t> work;
  if (base::budget_reserved()) {
    work = std::span<uint8_t>(base::area_as<uint8_t>(base::Area::image_work), static_cast<std::size_t>(n));
  } else {
    local.resize(static_cast<std::size_t>(n));
    work = local;
  }
  long got = base::read_file_at(path, 0, std::as_writable_bytes(work));
  if (got < 0) return missing_image(mode, dest, size);
  return decode_pcx(work.first(static_cast<std::size_t>(got)), mode, dest, size, colour_table, format);
}

std::vector<uint8_t> encode_pcx(int width, int height, std::span<const uint8_t> pixels, const Palette& palette) {
  std::vector<uint8_t> out;
  if (width < 1 || width > 65535 || height < 1 || height > 65535) return out;
  if (pixels.size() < std::size_t(width) * std::size_t(height)) return out;
  const int coded = width + (width & 1);
  out.assign(kPcxHeaderBytes, 0);
  auto put16 = [&](int at, int v) {
    base::put_le16(out.data() + at, static_cast<uint16_t>(v));
  };
  out[0] = 10;  // manufacturer
  out[1] = 5;   // version 3.0 with palette
  out[2] = 1;   // run-length coding
  out[3] = 8;   // bits per pixel
  put16(8, width - 1);
  put16(10, height - 1);
  put16(12, 72);
  put16(14, 72);
  out[65] = 1;  // planes
  put16(66, coded);
  put16(68, 1);  // colour palette
  std::vector<uint8_t> row(coded, 0);
  for (int y = 0; y < height; ++y) {
    std::copy_n(pixels.begin() + std::size_t(y) * std::size_t(width), width, row.begin());
    for (int x = 0; x < coded;) {
      uint8_t v = row[x];
      int run = 1;
      while (x + run < coded && run < 63 && row[x + run] == v) ++run;
      if (run > 1 || (v & 0xC0) == 0xC0) out.push_back(static_cast<uint8_t>(0xC0 | run));
      out.push_back(v);
      x += run;
    }
  }
  out.push_back(0x0C);
  for (const auto& c : palette) out.insert(out.end(), c.begin(), c.end());
  return out;
}

bool write_pcx(std::string_view path, int width, int height, std::span<const uint8_t> pixels,
               const Palette& palette) {
  std::vector<uint8_t> bytes = encode_pcx(width, height, pixels, palette);
  if (bytes.empty()) return false;
  base::TextFile f;
  if (!f.open_write_atomic(path)) return false;
  if (!f.write_bytes(bytes.data(), bytes.size())) {
    f.discard();
    return false;
  }
  return f.close();
}

Palette palette_332() {
  Palette p{};
  for (int i = 0; i < 256; ++i)
    p[i] = {static_cast<uint8_t>(((i >> 5) & 7) * 255 / 7), static_cast<uint8_t>(((i >> 2) & 7) * 255 / 7),
            static_cast<uint8_t>((i & 3) * 255 / 3)};
  return p;
}

Palette load_bmp_palette(std::string_view path) {
  // File header (14 bytes), then an info header whose first word is its size:
  // 12 for the old core header (16-bit fields, 3-byte entries), 40 or more for
  // BITMAPINFOHEADER and its successors (4-byte B, G, R, 0 entries).
  uint8_t head[54];
  long got = base::read_file_at(path, 0, std::as_writable_bytes(std::span(head)));
  if (got < 26 || head[0] != 'B' || head[1] != 'M') return palette_332();
  std::span<const uint8_t> h(head, static_cast<std::size_t>(got));
  uint32_t info = base::le32(h.data() + 14);
  int bits;
  uint32_t entries, entry_bytes;
  if (info == 12) {
    bits = base::le16(h.data() + 24);
    entries = 1u << std::min(bits, 8);
    entry_bytes = 3;
  } else if (info >= 40 && got >= 54) {
    bits = base::le16(h.data() + 28);
    entries = base::le32(h.data() + 46);
    if (entries == 0 && bits <= 8) entries = 1u << bits;
    entry_bytes = 4;
  } else {
    return palette_332();
  }
  if (bits < 1 || bits > 8 || entries == 0) return palette_332();
  entries = std::min(entries, 256u);
  uint8_t table[256 * 4];
  std::span<uint8_t> want(table, entries * entry_bytes);
  long n = base::read_file_at(path, 14 + static_cast<long>(info), std::as_writable_bytes(want));
  if (n < static_cast<long>(want.size())) return palette_332();
  Palette p{};
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* e = table + i * entry_bytes;
    p[i] = {e[2], e[1], e[0]};
  }
  return p;
}

}  // namespace media
