// Screenshots: the picture last drawn as a PNG (zlib for the image data).
#include <zlib.h>

#include <vector>

#include "engine/render/render_local.h"
#include "base/files.h"
#include "base/log.h"

namespace engine {

namespace {

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
}

void chunk(std::vector<std::uint8_t>& out, const char type[4], const std::uint8_t* data, std::size_t size) {
  put32(out, static_cast<std::uint32_t>(size));
  std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (size) out.insert(out.end(), data, data + size);
  uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
  put32(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

bool write_png(std::string_view path, const std::uint8_t* rgba, int width, int height) {
  if (!rgba || width <= 0 || height <= 0 || width > 16384 || height > 16384) return false;
  // Filter byte 0 then RGB per row.
  std::size_t row = static_cast<std::size_t>(width) * 3 + 1;
  std::vector<std::uint8_t> raw(row * height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* out = &raw[row * y];
    out[0] = 0;
    const std::uint8_t* in = rgba + static_cast<std::size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x)
      for (int k = 0; k < 3; ++k) out[1 + x * 3 + k] = in[x * 4 + k];
  }
  uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> packed(packed_size);
  if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) return false;

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  put32(header, static_cast<std::uint32_t>(width));
  put32(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter choice, no interlace
  chunk(png, "IHDR", header.data(), header.size());
  chunk(png, "IDAT", packed.data(), packed_size);
  chunk(png, "IEND", nullptr, 0);

  base::TextFile file;
  if (!file.open_write_atomic(path) || !file.write_bytes(png.data(), png.size()) || !file.close()) {
    base::report("render", "could not write %.*s", static_cast<int>(path.size()), path.data());
    return false;
  }
  return true;
}

bool save_screenshot(World& w, std::string_view path) {
  Scene* s = w.scene;
  if (!s || !s->draws || !s->drawn) {
    base::report("render", "no picture for the screenshot %.*s", static_cast<int>(path.size()), path.data());
    return false;
  }
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(s->width) * s->height * 4);
  if (!scene::read_pixels(*s->renderer, 0, 0, s->width, s->height, pixels.data())) return false;
  return write_png(path, pixels.data(), s->width, s->height);
}

}  // namespace engine
