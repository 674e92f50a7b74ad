// Internals of the 2D layers: the picture-frame layer under the 3D picture,
// the layer of images, counters and text over it, and the text list that
// brains fill every pass.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "engine/engine_local.h"
#include "engine/render_local.h"
#include "platform/platform.h"

namespace engine {

inline constexpr int kTextListWords = 4096;   // command words of one brain pass
inline constexpr int kTextPoolBytes = 32768;  // characters of the texts printed in one pass
inline constexpr int kFontSlots = 16;
inline constexpr int kCounterCells = 12;      // digits 0..9, minus sign, decimal point
inline constexpr int kCounterSignCell = 10;
inline constexpr int kCounterPointCell = 11;
inline constexpr int kFrameRefreshStart = 2;  // picture frames that are on at run start
inline constexpr int kFrameRefresh = 4;       // `frame_refresh`, `frame_refresh_all`
inline constexpr int kTranslucentAlpha = 128; // translucent images: the mean of image and picture

// Text-list commands, each a command word followed by its operands.
enum TextCommand : std::int32_t {
  kTextEnd = -1,
  kTextMove = 0,    // x y: pen to display pixel (x, y), the top-left of the next text
  kTextString = 1,  // text font: text = byte offset of a zero-terminated copy in the pool
  kTextColour = 2,  // 0xRRGGBB
  kTextValue = 3,   // value decimals font: value / 10^decimals with that many decimals
};

struct TextList {
  std::int32_t word[kTextListWords];
  int used = 0;               // words before the end marker, which word[used] holds
  char pool[kTextPoolBytes];  // texts as they were when printed
  int pool_used = 0;
  bool full = false;          // a command was dropped: every later one of the pass is dropped too
  std::uint32_t start_colour = 0xFFFFFF;  // the text colour when a replay begins
};

struct Layers {
  int width = 0, height = 0;          // display pixels
  std::vector<std::uint8_t> under;    // RGBA: picture frames, kept from frame to frame
  std::vector<std::uint8_t> over;     // RGBA: images, counters and text, redrawn every frame
  int band_rows = 16;                 // rows per band: bands (bit b of a mask) say which rows hold pixels
  std::uint64_t over_bands = 0;       // bands the last overlay drew (cleared before the next)
  bool under_used = false;            // the under-layer holds pixels
  std::uint64_t under_bands = 0;      // its bands that do
  std::uint8_t refresh[project::kMaxElements] = {};  // picture-frame refresh counts
  bool in_under[project::kMaxElements] = {};        // the frame's pixels are in the under-layer
  bool removed[project::kMaxElements] = {};         // hidden after drawing: drawn again when shown
  std::uint32_t frame_drawings[project::kMaxElements] = {};  // how often each frame was drawn
  TextList text;
  std::uint32_t text_colour = 0xFFFFFF;  // last `color_set` (white until then)
  platform::SystemFont* font[kFontSlots] = {};
  platform::SystemFont* default_font = nullptr;
  bool default_font_tried = false;
  bool reported_full = false;
};

// Scene start: the layers at the display size; picture frames that are on get
// their first refresh count. Scene end: the layers and their fonts released.
void layers_start(World& world);
void layers_end(Scene& scene);
// Scene synchronisation step 1: picture frames with a refresh count above 0
// drawn into the under-layer (one count each), which is then laid on the target.
void draw_under_layer(World& world);
// Render step 5: images and counters of elements that are on and shown, in
// index order, then the text list replayed, composited over the target.
void draw_over_layer(World& world);
// The start of a brain pass: the text list emptied.
void clear_text_list(World& world);
// Appends one command with its operands (and a text for kTextString, whose
// operand 0 is replaced by the pool offset). False, dropping it and every later
// command of the pass, when the list or the pool is full.
bool text_push(TextList& list, std::span<const std::int32_t> command, std::string_view text = {});

}  // namespace engine
