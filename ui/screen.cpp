// The 8-bit software screen: layout in the budget, clipped primitives, bitmap
// font text, presentation through the platform layer.
#include <algorithm>

#include "media/media.h"
#include "platform/platform.h"
#include "base/memory.h"
#include "ui/ui.h"

namespace ui {

// The largest screen and its row table of 32-bit addresses.
static_assert(kMaxScreenWidth * kMaxScreenHeight + kMaxScreenHeight * 4 <=
              base::area_size(base::Area::software_screen));

Screen make_screen(std::span<std::byte> block, int width, int height) {
  Screen s;
  if (width <= 0 || height <= 0 || width > kMaxScreenWidth || height > kMaxScreenHeight) return s;
  std::size_t pixels = static_cast<std::size_t>(width) * height;
  if (block.size() < pixels) return s;
  s.pixels = reinterpret_cast<std::uint8_t*>(block.data());
  s.width = width;
  s.height = height;
  std::size_t table = (pixels + 3) & ~std::size_t{3};
  std::size_t table_bytes = static_cast<std::size_t>(height) * 4;
  if (block.size() >= table + table_bytes && base::in_budget(block.data(), block.size())) {
    s.row_table = reinterpret_cast<std::uint32_t*>(block.data() + table);
    for (int y = 0; y < height; ++y) s.row_table[y] = base::address32(s.pixels + static_cast<std::size_t>(y) * width);
  }
  return s;
}

Screen budget_screen(int width, int height) {
  return make_screen(base::area(base::Area::software_screen), width, height);
}

void clear_screen(Screen& s) {
  if (s.pixels) std::fill_n(s.pixels, static_cast<std::size_t>(s.width) * s.height, std::uint8_t{0});
}

void fill_rect(Screen& s, int x1, int y1, int x2, int y2, std::uint8_t colour) {
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, s.width - 1);
  y2 = std::min(y2, s.height - 1);
  if (!s.pixels || x1 > x2 || y1 > y2) return;
  for (int y = y1; y <= y2; ++y) std::fill(s.pixels + y * s.width + x1, s.pixels + y * s.width + x2 + 1, colour);
}

void draw_rectangle(Screen& s, int x1, int y1, int x2, int y2, std::uint8_t colour) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  fill_rect(s, x1, y1, x2, y1, colour);
  fill_rect(s, x1, y2, x2, y2, colour);
  fill_rect(s, x1, y1, x1, y2, colour);
  fill_rect(s, x2, y1, x2, y2, colour);
}

void draw_text(Screen& s, const media::Font& font, std::string_view text, int x, int y, std::uint8_t colour) {
  if (!s.pixels) return;
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    media::Glyph g = media::glyph(font, c);
    for (int gy = 0; gy < g.height && g.width > 0; ++gy) {
      int py = y + gy;
      if (py < 0 || py >= s.height) continue;
      const std::uint8_t* row = g.pixels + static_cast<std::ptrdiff_t>(gy) * g.stride;
      for (int gx = 0; gx < g.width; ++gx) {
        int px = x + gx;
        if (px >= 0 && px < s.width && row[gx]) s.pixels[py * s.width + px] = colour;
      }
    }
    x += media::advance(font, c);
  }
}

void draw_centred_text(Screen& s, const media::Font& font, std::string_view text, int x, int y,
                       std::uint8_t colour) {
  draw_text(s, font, text, x - media::text_width(font, text) / 2, y - media::glyph_height(font) / 2, colour);
}

void present(const Screen& s) {
  static std::uint16_t colours[256];
  static bool made = false;
  if (!made) {
    int r, g, b;
    platform::colour_shifts(r, g, b);
    media::make_colour_table(media::scheme_palette(), media::PixelFormat{r, g, b}, colours);
    made = true;
  }
  if (s.pixels) platform::present_screen(s.pixels, s.width, s.height, s.width, colours);
}

}  // namespace ui
