// The 2D layers: picture frames under the 3D picture; ".h3d" images, ".e3d"
// counters and the brains' text list over it. Both layers are CPU RGBA pictures
// of the display size, made once at scene start and composited by the scene
// layer; nothing is allocated while drawing.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/render/layers_local.h"
#include "base/log.h"

namespace engine {

namespace {

using project::AspectRecord;
using project::ElementRecord;

constexpr int kMaxImageSide = 4096;  // pixels; larger image records are damaged
// Budget units of rasterising a font (see font_cost).
constexpr std::int64_t kFontBaseCost = 100000;  // 224 glyphs at the smallest heights
constexpr std::int64_t kFontPixelCost = 20;     // per square pixel of the height

bool on_and_shown(const ElementRecord& e) {
  return (e.flags & (project::kFlagOn | project::kFlagShown)) == (project::kFlagOn | project::kFlagShown);
}

// An image aspect's pixels (8-bit scheme colours, rows of width bytes), or
// false when the record is not one that lies whole inside the budget.
struct Image {
  const std::uint8_t* pixels = nullptr;
  int width = 0, height = 0;
};
bool image_of(const ElementRecord& e, std::string_view extension, Image& image) {
  if (!has_tag(e, extension)) return false;
  const AspectRecord* a = aspect_at(e.current_aspect);
  int width = a->word[2], height = a->word[3];
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return false;
  const auto* pixels = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(a->word[0])));
  if (!base::in_budget(pixels, static_cast<std::size_t>(width) * height)) return false;
  image = {pixels, width, height};
  return true;
}

// A rectangle of display pixels [x1, x2) x [y1, y2).
struct Rect {
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// The bands of a layer that hold pixels: drawing marks them; only they are
// cleared, uploaded and composited.
struct Rows {
  int band_rows = 16;
  std::uint64_t bands = 0;
  void add(int y1, int y2) {
    if (y1 >= y2) return;
    for (int b = y1 / band_rows; b <= (y2 - 1) / band_rows && b < 64; ++b) bands |= std::uint64_t{1} << b;
  }
};

// Calls f(first row, end row) for each run of consecutive bands in mask.
template <class F>
void for_band_runs(std::uint64_t mask, int band_rows, int height, F f) {
  for (int b = 0; b < 64;) {
    if (!(mask >> b & 1)) {
      ++b;
      continue;
    }
    int first = b;
    while (b < 64 && (mask >> b & 1)) ++b;
    int y1 = first * band_rows, y2 = std::min(b * band_rows, height);
    if (y1 < y2) f(y1, y2);
  }
}

// Copies the w x h block at (sx, sy) of an image to display (dx, dy) inside
// clip: colour 0 is transparent; translucent pixels are blended by half.
void blit(const Scene& s, std::uint8_t* layer, int layer_width, const Image& image, int sx, int sy, int w, int h,
          std::int64_t dx, std::int64_t dy, Rect clip, bool translucent, Rows& rows) {
  std::int64_t x1 = std::max<std::int64_t>(dx, clip.x1), y1 = std::max<std::int64_t>(dy, clip.y1);
  std::int64_t x2 = std::min<std::int64_t>(dx + w, clip.x2), y2 = std::min<std::int64_t>(dy + h, clip.y2);
  if (x1 >= x2 || y1 >= y2) return;
  rows.add(static_cast<int>(y1), static_cast<int>(y2));
  for (std::int64_t y = y1; y < y2; ++y) {
    const std::uint8_t* src = image.pixels + static_cast<std::size_t>(sy + (y - dy)) * image.width + sx + (x1 - dx);
    std::uint8_t* out = layer + (static_cast<std::size_t>(y) * layer_width + static_cast<std::size_t>(x1)) * 4;
    for (std::int64_t x = x1; x < x2; ++x, ++src, out += 4) {
      int index = *src;
      if (index == 0) continue;
      const std::uint8_t* c = &s.palette[index * 3];
      if (translucent) {
        platform::blend_over(out, static_cast<std::uint32_t>(c[0] << 16 | c[1] << 8 | c[2]), kTranslucentAlpha);
      } else {
        out[0] = c[0], out[1] = c[1], out[2] = c[2], out[3] = 255;
      }
    }
  }
}

// The sprite clip rectangle of an image element: its display-area words x1, y1,
// x2, y2 (display pixels, right and bottom inclusive) inside the screen; all
// four 0 means the whole screen.
Rect clip_of(const ElementRecord& e, int width, int height) {
  const std::int32_t* d = e.display_area;
  Rect screen{0, 0, width, height};
  if (d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 0) return screen;
  Rect r;
  r.x1 = std::clamp(d[0], 0, width), r.y1 = std::clamp(d[1], 0, height);
  r.x2 = static_cast<int>(std::clamp<std::int64_t>(std::int64_t{d[2]} + 1, 0, width));
  r.y2 = static_cast<int>(std::clamp<std::int64_t>(std::int64_t{d[3]} + 1, 0, height));
  return r;
}

// A counter: the cells of its digit strip (0..9, sign, point) across one row.
void draw_counter(const Scene& s, Layers& l, const ElementRecord& e, const Image& strip, Rows& rows) {
  int cell = strip.width / kCounterCells;
  std::int32_t x = e.position[0], y = e.position[1];
  // Nothing unless x is on the screen and the whole digit height fits.
  if (cell < 1 || x < 0 || x >= l.width || y < 0 || y >= l.height || strip.height > l.height - y) return;
  Rect screen{0, 0, l.width, l.height};
  std::int64_t pen = x;
  auto put = [&](int k) {
    blit(s, l.over.data(), l.width, strip, k * cell, 0, cell, strip.height, pen, y, screen, false, rows);
    pen += cell;
  };
  std::int32_t divisor = e.display_area[project::kWordCounterDivisor - project::kWordDisplayArea];
  std::int32_t point = e.display_area[project::kWordCounterPoint - project::kWordDisplayArea];
  bool sign = e.display_area[project::kWordCounterSign - project::kWordDisplayArea] != 0;
  std::int64_t v = e.credits < 0 ? -std::int64_t{e.credits} : e.credits;
  if (sign) {
    if (e.credits < 0) put(kCounterSignCell);
    else pen += cell;  // the sign's place stays, empty, for values that are not negative
  }
  for (std::int64_t d = divisor; d > 0 && pen < l.width; d /= 10) {
    std::int64_t digit = v / d;
    if (digit <= 9) put(static_cast<int>(digit));
    else pen += cell;  // more digits than the divisor allows: this one is not drawn
    if (d == point) put(kCounterPointCell);
    v -= digit * d;
  }
}

// A picture frame's image at its position (scene units read as 640 x 480
// pixels), stretched to the display mode, opaque, into the under-layer.
void draw_frame(const Scene& s, Layers& l, const ElementRecord& e, const Image& image, Rows& rows) {
  int mode = s.setup.options.display_mode;
  std::int32_t px = e.position[0] / 512000, py = e.position[1] / 512000;
  std::int64_t x0 = project::scale_display(px, mode), y0 = project::scale_display(py, mode);
  std::int64_t w = std::max(1, project::scale_display(image.width, mode));
  std::int64_t h = std::max(1, project::scale_display(image.height, mode));
  std::int64_t x1 = std::max<std::int64_t>(x0, 0), x2 = std::min<std::int64_t>(x0 + w, l.width);
  std::int64_t y1 = std::max<std::int64_t>(y0, 0), y2 = std::min<std::int64_t>(y0 + h, l.height);
  if (x1 < x2) rows.add(static_cast<int>(y1), static_cast<int>(y2));
  for (std::int64_t y = y1; y < y2; ++y) {
    const std::uint8_t* row = image.pixels + static_cast<std::size_t>((y - y0) * image.height / h) * image.width;
    std::uint8_t* out = &l.under[(static_cast<std::size_t>(y) * l.width + static_cast<std::size_t>(x1)) * 4];
    for (std::int64_t x = x1; x < x2; ++x, out += 4) {
      const std::uint8_t* c = &s.palette[row[(x - x0) * image.width / w] * 3];
      out[0] = c[0], out[1] = c[1], out[2] = c[2], out[3] = 255;
    }
  }
}

platform::SystemFont* font_for(Layers& l, std::int32_t slot) {
  if (slot >= 0 && slot < kFontSlots && l.font[slot]) return l.font[slot];
  if (!l.default_font_tried) {
    l.default_font_tried = true;
    l.default_font = platform::open_system_font("sans-serif", -16, 400);
  }
  return l.default_font;
}

// Draws the text list into the overlay.
void replay_text(const TextList& t, Layers& l, Rows& rows) {
  platform::RgbaLayer layer{l.over.data(), l.width, l.height, 0, 0, l.width, l.height};
  std::int32_t x = 0, y = 0;
  std::uint32_t colour = t.start_colour;
  auto draw = [&](std::string_view text, std::int32_t slot) {
    platform::SystemFont* font = font_for(l, slot);
    if (!font || text.empty()) return;
    // The line's cell with a quarter line of room above and below for accents
    // and descenders: ink is clipped to the rows that are marked.
    int line = platform::font_line_height(*font);
    platform::RgbaLayer cell = layer;
    cell.clip_y1 = static_cast<int>(std::clamp<std::int64_t>(std::int64_t{y} - line / 4, 0, l.height));
    cell.clip_y2 = static_cast<int>(std::clamp<std::int64_t>(std::int64_t{y} + line + line / 4 + 1, 0, l.height));
    int advance = platform::draw_text(*font, text, x, y, colour, cell);
    rows.add(cell.clip_y1, cell.clip_y2);
    x = static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{x} + advance, INT32_MIN, INT32_MAX));
  };
  for (int k = 0; k < t.used;) {
    const std::int32_t* w = &t.word[k];
    switch (w[0]) {
      case kTextMove:
        x = w[1], y = w[2];
        k += 3;
        break;
      case kTextString:
        draw(std::string_view(&t.pool[w[1]]), w[2]);
        k += 3;
        break;
      case kTextColour:
        colour = static_cast<std::uint32_t>(w[1]) & 0xFFFFFF;
        k += 2;
        break;
      case kTextValue: {
        int decimals = std::clamp(w[2], 0, 9);
        double value = w[1];
        for (int i = 0; i < decimals; ++i) value /= 10;
        char text[48];
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
        draw(text, w[3]);
        k += 4;
        break;
      }
      default:
        k = t.used;  // the end
    }
  }
}

Layers* active_layers() {
  World* w = active_world();
  return w && w->scene ? w->scene->layers : nullptr;
}

// ---- Routines ------------------------------------------------------------------------

// Room for words more command words (and the end marker) and bytes of text.
bool has_room(TextList& t, int words, std::size_t bytes) {
  if (!t.full && t.used + words + 1 <= kTextListWords && bytes <= static_cast<std::size_t>(kTextPoolBytes - t.pool_used))
    return true;
  t.full = true;
  return false;
}

// `print` and `print_num` add a move and a text: both or neither, since a move
// without its text would only shift the texts after it.
ROUTINE(routine_print) {  // (text, x, y, font)
  World* w = active_world();
  Layers* l = active_layers();
  if (!l) return 0;
  std::string_view text = text_argument(a);
  if (!has_room(w->text, 6, text.size() + 1)) return 0;
  const std::int32_t move[] = {kTextMove, b, c};
  const std::int32_t string[] = {kTextString, 0, d};
  text_push(w->text, move);
  text_push(w->text, string, text);
  return 0;
}
ROUTINE(routine_print_num) {  // (value, decimals, x, y, font)
  World* w = active_world();
  if (!active_layers() || !has_room(w->text, 7, 0)) return 0;
  const std::int32_t move[] = {kTextMove, c, d};
  const std::int32_t value[] = {kTextValue, a, b, e};
  text_push(w->text, move);
  text_push(w->text, value);
  return 0;
}
ROUTINE(routine_color_set) {  // (r, g, b)
  World* w = active_world();
  if (!w) return 0;
  w->colour[0] = a, w->colour[1] = b, w->colour[2] = c;  // the engine-wide setting, as before
  if (!active_layers()) return 0;
  auto channel = [](std::int32_t v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
  std::uint32_t rgb = channel(a) << 16 | channel(b) << 8 | channel(c);
  w->text.colour = rgb;
  const std::int32_t colour[] = {kTextColour, static_cast<std::int32_t>(rgb)};
  text_push(w->text, colour);
  return 0;
}
// Budget units of a font rasterised at height (pixels, either sign): 224
// glyphs whose rendering grows with their area, so that a brain animating a
// text size in a loop is stopped as an endless loop instead of stalling a tick.
std::int64_t font_cost(std::int32_t height) {
  std::int64_t pixels = std::clamp<std::int64_t>(height < 0 ? -std::int64_t{height} : height, 16, platform::kMaxFontHeight);
  return kFontBaseCost + pixels * pixels * kFontPixelCost;
}

ROUTINE(routine_font_set) {  // (name, height, weight, slot)
  Layers* l = active_layers();
  if (!l || brain::budget_spent()) return 0;
  int slot = std::clamp(d, 0, kFontSlots - 1);
  bool rasterised = false;
  platform::SystemFont* font = platform::open_system_font(text_argument(a), b, std::clamp(c, 0, 1000), &rasterised);
  if (rasterised) brain::charge_budget(font_cost(b), BRAIN_CALL_SITE());
  platform::close_system_font(l->font[slot]);
  l->font[slot] = font;  // a face that can't be had leaves the slot to the default font
  return 0;
}
ROUTINE(routine_frame_refresh) {
  Layers* l = active_layers();
  ElementRecord* r = element_of(a);
  if (!l || !r || !has_tag(*r, ".f3d")) return 0;
  l->refresh[r - element_table()] = kFrameRefresh;
  return 0;
}
ROUTINE(routine_frame_refresh_all) {
  World* w = active_world();
  Layers* l = active_layers();
  if (!l) return 0;
  for (int i = 0; i <= w->highest && i < project::kMaxElements; ++i) {
    const ElementRecord& e = w->tables.elements[i];
    if ((e.flags & project::kFlagShown) && has_tag(e, ".f3d")) l->refresh[i] = kFrameRefresh;
  }
  return 0;
}
ROUTINE(routine_translucent) {  // (e, on)
  if (ElementRecord* r = element_of(a)) {
    if (b) r->flags |= project::kFlagCameraSwitch;  // bit 5: translucent (a camera's switch for cameras)
    else r->flags &= ~project::kFlagCameraSwitch;
  }
  return 0;
}
ROUTINE(routine_sprite_clip_set) {  // (e, x1, y1, x2, y2)
  if (ElementRecord* r = element_of(a)) {
    r->display_area[0] = b, r->display_area[1] = c;
    r->display_area[2] = d, r->display_area[3] = e;
  }
  return 0;
}

// ---- Picking ------------------------------------------------------------------------------

// Where a counter's cells fall as draw_counter lays them out, clipped to the
// screen; false when it draws nothing.
bool counter_rect(const ElementRecord& e, const Image& strip, int width, int height, Rect& out) {
  int cell = strip.width / kCounterCells;
  std::int32_t x = e.position[0], y = e.position[1];
  if (cell < 1 || x < 0 || x >= width || y < 0 || y >= height || strip.height > height - y) return false;
  std::int32_t divisor = e.display_area[project::kWordCounterDivisor - project::kWordDisplayArea];
  std::int32_t point = e.display_area[project::kWordCounterPoint - project::kWordDisplayArea];
  std::int64_t pen = x;
  if (e.display_area[project::kWordCounterSign - project::kWordDisplayArea] != 0) pen += cell;
  for (std::int64_t d = divisor; d > 0 && pen < width; d /= 10) pen += d == point ? 2 * cell : cell;
  out = {x, y, static_cast<int>(std::min<std::int64_t>(pen, width)), y + strip.height};
  return out.x2 > out.x1;
}

// The rectangle an image element covers on the screen: its picture inside its clip.
bool image_rect(const ElementRecord& e, const Image& image, int width, int height, Rect& out) {
  Rect clip = clip_of(e, width, height);
  std::int64_t x = e.position[0], y = e.position[1];
  out.x1 = static_cast<int>(std::max<std::int64_t>(x, clip.x1));
  out.y1 = static_cast<int>(std::max<std::int64_t>(y, clip.y1));
  out.x2 = static_cast<int>(std::min<std::int64_t>(x + image.width, clip.x2));
  out.y2 = static_cast<int>(std::min<std::int64_t>(y + image.height, clip.y2));
  return out.x2 > out.x1 && out.y2 > out.y1;
}

// The element of the image or counter drawn last over the mouse pointer (the
// one on top), or -1. Rectangles count whole, transparent pixels included.
int topmost_under_pointer(const World& w) {
  int x = 0, y = 0;
  if (!w.scene || !pointer_pixel(w, x, y)) return -1;
  const Scene& s = *w.scene;
  for (int i = std::min(w.highest, project::kMaxElements - 1); i >= 0; --i) {
    const ElementRecord& e = w.tables.elements[i];
    if (!on_and_shown(e)) continue;
    Image image;
    Rect r;
    bool covers = image_of(e, ".h3d", image)   ? image_rect(e, image, s.width, s.height, r)
                  : image_of(e, ".e3d", image) ? counter_rect(e, image, s.width, s.height, r)
                                               : false;
    if (covers && x >= r.x1 && x < r.x2 && y >= r.y1 && y < r.y2) return i;
  }
  return -1;
}

// `sprite_picked` (e) and `counter_picked` (e): 1 when e is an image (a
// counter) on top under the pointer, else 0.
template <char kKind>
std::int32_t overlay_picked(std::int32_t reference) {
  World* w = active_world();
  const ElementRecord* e = element_of(reference);
  if (!w || !e) return 0;
  int i = topmost_under_pointer(*w);
  return i >= 0 && &w->tables.elements[i] == e && has_tag(*e, kKind == 'h' ? ".h3d" : ".e3d") ? 1 : 0;
}
ROUTINE(routine_sprite_picked) { return overlay_picked<'h'>(a); }
ROUTINE(routine_counter_picked) { return overlay_picked<'e'>(a); }

// `sprite_3d_pos` (e, x, y, z, camera): e's screen position becomes the display
// pixel where the point (x, y, z) shows in the camera's viewport, so an image
// can ride on a 3D point. -1 when moved; 0, unmoved, when the point lies
// behind the camera or the camera has no viewport.
ROUTINE(routine_sprite_3d_pos) {
  World* w = active_world();
  ElementRecord* sprite = element_of(a);
  ElementRecord* camera = element_of(e);
  if (!w || !w->scene || !sprite || !camera) return 0;
  Scene& s = *w->scene;
  const CameraView* view = nullptr;
  int index = static_cast<int>(camera - w->tables.elements);
  for (int k = 0; k < s.camera_count; ++k)
    if (s.camera[k].element == index) view = &s.camera[k];
  if (!view || !scene::valid(view->viewport)) return 0;
  scene::Vec3 direction, up;
  orientation_vectors(*camera, direction, up);
  scene::Vec3 right = scene::cross(up, direction);
  scene::Vec3 v{static_cast<float>(static_cast<double>(b) - camera->position[0]),
                static_cast<float>(static_cast<double>(c) - camera->position[1]),
                static_cast<float>(static_cast<double>(d) - camera->position[2])};
  double depth = scene::dot(v, direction);
  float front = scene::viewport_front(*s.renderer, view->viewport);
  float field = scene::viewport_field(*s.renderer, view->viewport);
  if (!(depth > 0) || !(field > 0)) return 0;
  double focal = view->height * 0.5 * front / field;  // pixels per unit of x / depth
  auto pixel = [](double v) { return static_cast<std::int32_t>(std::clamp(std::floor(v), -1e9, 1e9)); };
  sprite->position[0] = pixel(view->x + view->width * 0.5 + scene::dot(v, right) / depth * focal);
  sprite->position[1] = pixel(view->y + view->height * 0.5 - scene::dot(v, up) / depth * focal);
  return kTrue;
}

constexpr Binding kLayerBindings[] = {
    {"print", routine_print, "a text, b x, c y screen pixels, d font slot: prints the text this tick"},
    {"print_num", routine_print_num,
     "a value, b decimals, c x, d y screen pixels, e font slot: prints a / 10^b this tick"},
    {"color_set", routine_color_set, "a red, b green, c blue 0..255: the text colour"},
    {"font_set", routine_font_set,
     "a face name text, b height pixels, c weight 0..1000, d slot 0..15: that slot's font"},
    {"frame_refresh", routine_frame_refresh, "a picture-frame element: drawn on the next 4 pictures"},
    {"frame_refresh_all", routine_frame_refresh_all, "every shown picture frame drawn on the next 4 pictures"},
    {"translucent", routine_translucent, "a element, b 1 on, 0 off: its image blended with the picture"},
    {"sprite_3d_pos", routine_sprite_3d_pos,
     "a element, b x, c y, d z in L/512, e camera element: a's screen position where that point shows -> -1 moved"},
    {"sprite_clip_set", routine_sprite_clip_set, "a element, b x1, c y1, d x2, e y2 screen pixels: its clip rectangle"},
    {"sprite_picked", routine_sprite_picked,
     "a image element -> 1 when it is on top under the mouse (its clipped rectangle, clear pixels too), else 0"},
    {"counter_picked", routine_counter_picked,
     "a counter element -> 1 when its digits' rectangle is on top under the mouse, else 0"},
};

}  // namespace

std::span<const Binding> layer_bindings() { return kLayerBindings; }

void layers_start(World& w) {
  Scene& s = *w.scene;
  auto* l = new Layers;
  l->width = s.width, l->height = s.height;
  std::size_t bytes = static_cast<std::size_t>(s.width) * s.height * 4;
  l->under.assign(bytes, 0);
  l->over.assign(bytes, 0);
  l->band_rows = std::max(16, (s.height + 63) / 64);
  l->over_bands = ~std::uint64_t{0};  // the first overlay uploads every row
  reset_text_list(w.text);
  for (int i = 0; i <= w.highest && i < project::kMaxElements; ++i) {
    const ElementRecord& e = w.tables.elements[i];
    if ((e.flags & project::kFlagOn) && has_tag(e, ".f3d")) l->refresh[i] = kFrameRefreshStart;
  }
  s.layers = l;
}

void layers_end(Scene& s) {
  Layers* l = s.layers;
  if (!l) return;
  for (platform::SystemFont* f : l->font) platform::close_system_font(f);
  platform::close_system_font(l->default_font);
  delete l;
  s.layers = nullptr;
}

// Frames are drawn only a few times, but our target is redrawn whole every
// frame: the under-layer keeps what they drew until they are hidden.
void draw_under_layer(World& w) {
  Scene* sp = w.scene;
  if (!sp || !sp->layers) return;
  Scene& s = *sp;
  Layers& l = *s.layers;
  int highest = std::min(w.highest, project::kMaxElements - 1);
  bool changed = false;
  auto shown_frame = [&](int i) { return on_and_shown(w.tables.elements[i]) && has_tag(w.tables.elements[i], ".f3d"); };
  // A frame that is no longer shown takes its pixels with it: the layer is
  // cleared and every frame still shown is drawn once more; the hidden ones
  // are drawn again once they are shown again.
  for (int i = 0; i <= highest; ++i) {
    if (!l.in_under[i] || shown_frame(i)) continue;
    std::fill(l.under.begin(), l.under.end(), 0);
    l.under_bands = 0;
    for (int k = 0; k <= highest; ++k) {
      if (shown_frame(k)) l.refresh[k] = std::max<std::uint8_t>(l.refresh[k], 1);
      else if (l.in_under[k]) l.removed[k] = true;
      l.in_under[k] = false;
    }
    l.under_used = false;
    changed = true;
    break;
  }
  for (int i = 0; i <= highest; ++i) {
    const ElementRecord& e = w.tables.elements[i];
    if (l.removed[i] && shown_frame(i)) {
      l.removed[i] = false;
      l.refresh[i] = std::max<std::uint8_t>(l.refresh[i], 1);
    }
    Image image;
    if (l.refresh[i] == 0 || !on_and_shown(e) || !image_of(e, ".f3d", image)) continue;
    Rows rows{l.band_rows, l.under_bands};
    draw_frame(s, l, e, image, rows);
    l.under_bands = rows.bands;
    --l.refresh[i];
    ++l.frame_drawings[i];
    l.in_under[i] = true;
    l.under_used = changed = true;
  }
  if (!s.draws || !l.under_used) return;
  bool upload = changed;
  for_band_runs(l.under_bands, l.band_rows, l.height, [&](int y1, int y2) {
    // A change uploads the whole layer once, with the first run.
    scene::draw_layer(*s.renderer, 0, l.under.data(), l.width, l.height, {0, upload ? l.height : 0}, {y1, y2});
    upload = false;
  });
}

namespace {

std::int32_t add_clamped(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{a} + b, INT32_MIN, INT32_MAX));
}

// The video window on top of everything: the clip's frame stretched over the
// `play_set` rectangle (640 x 480 coordinates, scaled to the display mode).
void draw_video_window(World& w, Layers& l, Rows& rows) {
  const VideoWindow& v = w.video;
  if (!v.video || !v.shown || v.frame_width <= 0 || v.frame_height <= 0 || v.width <= 0 || v.height <= 0) return;
  int mode = w.scene->setup.options.display_mode;
  int x1 = std::max(project::scale_display(v.x, mode), 0);
  int y1 = std::max(project::scale_display(v.y, mode), 0);
  std::int64_t right = std::min<std::int64_t>(project::scale_display(add_clamped(v.x, v.width), mode), l.width);
  std::int64_t bottom = std::min<std::int64_t>(project::scale_display(add_clamped(v.y, v.height), mode), l.height);
  int w_out = static_cast<int>(right) - x1, h_out = static_cast<int>(bottom) - y1;
  if (w_out <= 0 || h_out <= 0) return;
  // Source pixel of each target pixel, from the whole rectangle as placed.
  std::int64_t full_w = std::max<std::int64_t>(project::scale_display(add_clamped(v.x, v.width), mode) -
                                                   project::scale_display(v.x, mode), 1);
  std::int64_t full_h = std::max<std::int64_t>(project::scale_display(add_clamped(v.y, v.height), mode) -
                                                   project::scale_display(v.y, mode), 1);
  int x0 = project::scale_display(v.x, mode), y0 = project::scale_display(v.y, mode);
  for (int y = y1; y < y1 + h_out; ++y) {
    std::int64_t sy = (y - y0) * static_cast<std::int64_t>(v.frame_height) / full_h;
    const std::uint8_t* src = v.pixels.data() + static_cast<std::size_t>(sy) * v.frame_width * 4;
    std::uint8_t* out = l.over.data() + (static_cast<std::size_t>(y) * l.width + x1) * 4;
    for (int x = x1; x < x1 + w_out; ++x, out += 4) {
      std::int64_t sx = (x - x0) * static_cast<std::int64_t>(v.frame_width) / full_w;
      std::memcpy(out, src + sx * 4, 3);
      out[3] = 255;
    }
  }
  rows.add(y1, y1 + h_out);
}

}  // namespace

void draw_over_layer(World& w) {
  Scene* sp = w.scene;
  if (!sp || !sp->layers) return;
  Scene& s = *sp;
  Layers& l = *s.layers;
  // Clear what the last overlay drew.
  for_band_runs(l.over_bands, l.band_rows, l.height, [&](int y1, int y2) {
    std::fill(l.over.begin() + static_cast<std::ptrdiff_t>(y1) * l.width * 4,
              l.over.begin() + static_cast<std::ptrdiff_t>(y2) * l.width * 4, 0);
  });
  Rows rows{l.band_rows};
  int highest = std::min(w.highest, project::kMaxElements - 1);
  for (int i = 0; i <= highest; ++i) {
    const ElementRecord& e = w.tables.elements[i];
    if (!on_and_shown(e)) continue;
    Image image;
    if (image_of(e, ".h3d", image)) {
      blit(s, l.over.data(), l.width, image, 0, 0, image.width, image.height, e.position[0], e.position[1],
           clip_of(e, l.width, l.height), (e.flags & project::kFlagCameraSwitch) != 0, rows);
    } else if (image_of(e, ".e3d", image)) {
      draw_counter(s, l, e, image, rows);
    }
  }
  replay_text(w.text, l, rows);
  draw_video_window(w, l, rows);
  // Upload the bands drawn now and those cleared, and composite them; nothing
  // at all when both are empty.
  std::uint64_t touched = rows.bands | l.over_bands;
  l.over_bands = rows.bands;
  if (!s.draws) return;
  for_band_runs(touched, l.band_rows, l.height, [&](int y1, int y2) {
    scene::draw_layer(*s.renderer, 1, l.over.data(), l.width, l.height, {y1, y2}, {y1, y2});
  });
}

}  // namespace engine
