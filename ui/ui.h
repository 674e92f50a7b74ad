// The 8-bit software screen that tools and panels draw on, and its drawing
// primitives. Every primitive clips to the screen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace media {
struct Font;
}

namespace ui {

inline constexpr int kMaxScreenWidth = 1024;
inline constexpr int kMaxScreenHeight = 768;

// One byte per pixel (fixed colour scheme index), rows width bytes apart.
struct Screen {
  std::uint8_t* pixels = nullptr;
  std::uint32_t* row_table = nullptr;  // 32-bit row start addresses (inside the budget), or null
  int width = 0, height = 0;
};

// Lays the screen out in a block: pixels, then the row table when the block is
// in the low budget region. An empty screen when the size is bad or the block small.
Screen make_screen(std::span<std::byte> block, int width, int height);
// The screen in the software-screen area of the memory budget.
Screen budget_screen(int width, int height);

void clear_screen(Screen& s);  // every byte 0
// Fills x1..x2, y1..y2 (edges included), clipped.
void fill_rect(Screen& s, int x1, int y1, int x2, int y2, std::uint8_t colour);
// One-pixel outline of x1..x2, y1..y2, clipped.
void draw_rectangle(Screen& s, int x1, int y1, int x2, int y2, std::uint8_t colour);
// Text with its top-left corner at (x, y); ink pixels take colour.
void draw_text(Screen& s, const media::Font& font, std::string_view text, int x, int y, std::uint8_t colour);
// Text centred on (x, y): from x - width / 2 and y - glyph height / 2.
void draw_centred_text(Screen& s, const media::Font& font, std::string_view text, int x, int y,
                       std::uint8_t colour);

// Colour indexes of the fixed scheme used by the tools.
inline constexpr std::uint8_t kBlack = 0;
inline constexpr std::uint8_t kWhite = 255;
inline constexpr std::uint8_t kYellow = 248;  // cube red 6, green 5, blue 0
inline constexpr std::uint8_t kGrey = 131;     // cube red 3, green 3, blue 3

// Shows the screen in the window, expanded through the scheme's 16-bit colours.
void present(const Screen& s);

}  // namespace ui
