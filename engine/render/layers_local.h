// Internals of the 2D layers: the picture-frame layer under the 3D picture,
// and the layer of images, counters, the brains' text list and the video
// window over it.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine_local.h"
#include "engine/render/render_local.h"
#include "platform/platform.h"

namespace engine {

inline constexpr int kFontSlots = 16;
inline constexpr int kCounterCells = 12;      // digits 0..9, minus sign, decimal point
inline constexpr int kCounterSignCell = 10;
inline constexpr int kCounterPointCell = 11;
inline constexpr int kFrameRefreshStart = 2;  // picture frames that are on at run start
inline constexpr int kFrameRefresh = 4;       // `frame_refresh`, `frame_refresh_all`
inline constexpr int kTranslucentAlpha = 128; // translucent images: the mean of image and picture

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
  platform::SystemFont* font[kFontSlots] = {};
  platform::SystemFont* default_font = nullptr;
  bool default_font_tried = false;
};

// Scene start: the layers at the display size, the world's text list emptied;
// picture frames that are on get their first refresh count. Scene end: the
// layers and their fonts released.
void layers_start(World& world);
void layers_end(Scene& scene);
// Scene synchronisation step 1: picture frames with a refresh count above 0
// drawn into the under-layer (one count each), which is then laid on the target.
void draw_under_layer(World& world);
// Render step 5: images and counters of elements that are on and shown, in
// index order, then the text list replayed, composited over the target.
void draw_over_layer(World& world);

}  // namespace engine
