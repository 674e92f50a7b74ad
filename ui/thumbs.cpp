// The thumbnail chooser: nine previews a page for every chooser kind, the
// crash marker around each preview, and erasing a file with its companions.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/log.h"
#include "media/media.h"
#include "platform/platform.h"
#include "project/project.h"
#include "ui/browser_local.h"

namespace ui {

using namespace browse;

namespace {

int g_page = 0;  // the page shown last, kept between calls

enum class Preview : std::uint8_t { none, image, sprite, text, camera, model, visual };

struct Kind {
  int kind;
  const char* mask;
  Preview preview;
};
constexpr Kind kKinds[] = {
    {-7, "*.bmp", Preview::image},  {-6, "*.chn", Preview::text},   {-5, "*.brn", Preview::text},
    {-4, "*.3ds", Preview::model},  {-3, "*.ele", Preview::text},   {-2, "*.prj", Preview::text},
    {-1, "*.bmp", Preview::image},  {0, "*.03d", Preview::camera},  {1, "*.a3d", Preview::none},
    {2, "*.pcx", Preview::sprite},  {3, "*.a3d", Preview::none},    {4, "*.d3d", Preview::none},
    {5, "*.pcx", Preview::sprite},  {6, "*.pcx", Preview::sprite},  {7, "*.pcx", Preview::none},
    {8, "*.pcx", Preview::sprite},  {11, "*.v3d", Preview::visual}, {12, "*.3ds", Preview::model},
};

const Kind* kind_of(int kind) {
  for (const Kind& k : kKinds)
    if (k.kind == kind) return &k;
  return nullptr;
}

constexpr int kCellX[3] = {40, 240, 440};
constexpr int kCellY[3] = {80, 210, 340};
constexpr int kCellWidth = 156, kCellHeight = 116;
constexpr int kInset = 4;  // the frame's tiles
constexpr int kMaxPreviewSide = 4096;

struct Cell {
  int x1, y1, x2, y2;  // the inside, edges included
};
Cell cell_inside(int i) {
  int x = kCellX[i % 3], y = kCellY[i / 3];
  return {x + kInset, y + kInset, x + kCellWidth - kInset, y + kCellHeight - kInset};
}

// ---- Previews -------------------------------------------------------------------------------

// A picture scaled to fit the cell (aspect kept, nearest pixel), centred; pixels folded already.
void draw_picture(Screen& s, const media::Picture& p, const Cell& c) {
  int cw = c.x2 - c.x1 + 1, ch = c.y2 - c.y1 + 1;
  if (p.width <= 0 || p.height <= 0) return;
  long long w = cw, h = static_cast<long long>(p.height) * cw / p.width;
  if (h > ch) h = ch, w = static_cast<long long>(p.width) * ch / p.height;
  w = std::max(1LL, w), h = std::max(1LL, h);
  int ox = c.x1 + static_cast<int>((cw - w) / 2), oy = c.y1 + static_cast<int>((ch - h) / 2);
  for (int j = 0; j < h; ++j) {
    int sy = static_cast<int>(static_cast<long long>(j) * p.height / h);
    for (int i = 0; i < w; ++i) {
      int sx = static_cast<int>(static_cast<long long>(i) * p.width / w);
      int px = ox + i, py = oy + j;
      if (px >= 0 && py >= 0 && px < s.width && py < s.height)
        s.pixels[static_cast<std::size_t>(py) * s.width + px] = p.pixels[static_cast<std::size_t>(sy) * p.width + sx];
    }
  }
}

// A line from (x1, y1) to (x2, y2), clipped to the cell.
void draw_line(Screen& s, const Cell& c, int x1, int y1, int x2, int y2, std::uint8_t colour) {
  int dx = std::abs(x2 - x1), dy = -std::abs(y2 - y1), sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1, err = dx + dy;
  for (int steps = 0; steps < 4096; ++steps) {
    if (x1 >= c.x1 && x1 <= c.x2 && y1 >= c.y1 && y1 <= c.y2) fill_rect(s, x1, y1, x1, y1, colour);
    if (x1 == x2 && y1 == y2) break;
    int e2 = 2 * err;
    if (e2 >= dy) err += dy, x1 += sx;
    if (e2 <= dx) err += dx, y1 += sy;
  }
}

// The camera's view frame: the eye, the picture rectangle at a fixed distance
// seen from the side and above, and the view angle.
void draw_camera(Kit& kit, std::string_view path, const Cell& c) {
  base::TextFile file;
  std::int32_t p = -240;
  if (file.open_read(path)) {
    base::Text first = base::field(file.read_line(), 1, '|');
    if (!first.empty() && base::value(first) < 0) p = base::value(first);
  }
  double half = std::min(4.0, 240.0 / -static_cast<double>(p));  // tan of half the vertical angle
  int degrees = static_cast<int>(std::lround(2 * std::atan(half) * 180 / 3.14159265358979));
  int ex = c.x1 + 18, ey = (c.y1 + c.y2) / 2 + 4;  // the eye
  int d = 80;                                    // to the picture, pixels
  int hh = std::min(32, static_cast<int>(d * half * 0.5)), hw = hh * 4 / 3;
  int fx = ex + d, fy = ey;
  // The rectangle leans back: its far edge drawn up and to the right.
  int lean = hw / 2;
  int xs[4] = {fx - lean / 2, fx + lean / 2, fx + lean / 2, fx - lean / 2};
  int ys[4] = {fy - hh - lean / 3, fy - hh + lean / 3, fy + hh + lean / 3, fy + hh - lean / 3};
  std::uint8_t frame = kYellow, rays = kGrey;
  for (int k = 0; k < 4; ++k) draw_line(kit.screen, c, ex, ey, xs[k], ys[k], rays);
  for (int k = 0; k < 4; ++k) draw_line(kit.screen, c, xs[k], ys[k], xs[(k + 1) % 4], ys[(k + 1) % 4], frame);
  fill_rect(kit.screen, ex - 2, ey - 2, ex + 2, ey + 2, kWhite);
  draw_centred(kit, std::to_string(degrees) + " deg", (c.x1 + c.x2) / 2, c.y1 + 8, kWhite);
}

void draw_description(Kit& kit, std::string_view path, const Cell& c) {
  std::string text = description_of(path);
  if (text.empty()) return;
  const media::Font& f = *kit.font;
  std::string wrapped = word_wrap(f, text, c.x2 - c.x1 - 6);
  int lh = media::line_height(f), y = c.y1 + 2;
  std::string_view rest = wrapped;
  while (y + lh <= c.y2 - 2 * lh) {  // the label keeps the bottom
    std::size_t bar = rest.find('|');
    draw_text(kit.screen, f, fit_text(f, rest.substr(0, bar), c.x2 - c.x1 - 4), c.x1 + 3, y, kGrey);
    if (bar == std::string_view::npos) break;
    rest.remove_prefix(bar + 1);
    y += lh;
  }
}

std::string texture_path(std::string_view field, std::string_view work) {
  if (field.empty() || field == "-") return {};
  return std::string(project::resolve_path(project::path_to_memory(field, work)).view());
}

// A ".v3d" visual's first frame, or a model named directly.
bool load_preview_model(std::string_view path, bool visual, std::string_view work, PreviewModel& m,
                        media::Picture& texture) {
  std::string error;
  if (!visual) return platform::load_model(path, m.vertices, error);
  base::TextFile file;
  if (!file.open_read(path)) return false;
  base::Text line = file.read_line();
  if (line.empty() || line.too_long()) return false;
  auto f = [&](int k) { return base::field(line, k, '|'); };
  auto number = [&](int k, int fallback) { return f(k).empty() ? fallback : base::value(f(k)); };
  bool flip = number(9, 0) != 0;
  std::string model = texture_path(f(3), work);
  if (model.empty() || !platform::load_model(model, m.vertices, error)) return false;
  if (number(31, 0) != 0) {
    std::string second = texture_path(f(30), work);
    if (!second.empty()) platform::load_model(second, m.vertices, error);
  }
  if (flip)
    for (std::size_t i = 0; i + 2 < m.vertices.size(); i += 3) {
      std::swap(m.vertices[i + 1], m.vertices[i + 2]);
      for (std::size_t k = i; k < i + 3; ++k) m.vertices[k].normal = scene::scale(m.vertices[k].normal, -1);
    }
  m.quality = number(4, 3);
  m.metal = number(5, 0) == 1;
  if (!f(6).empty()) {
    std::string hex(f(6).view());
    if (hex.size() > 2 && hex[0] == '0' && (hex[1] == 'x' || hex[1] == 'X')) hex.erase(0, 2);
    m.colour = static_cast<std::uint32_t>(std::strtoul(hex.c_str(), nullptr, 16)) & 0xFFFFFF;
  }
  m.transparent = number(7, 0) != 0;
  m.translucency = number(8, 0);
  std::string tex = texture_path(f(2), work);
  if (!tex.empty() && media::load_picture(tex, texture, scene::kMaxTextureSide)) m.texture = &texture;
  return true;
}

struct Chooser {
  std::string folder, remembered;
  int kind = 0;
  const Kind* k = nullptr;
  int n = 0, pages = 1;
  std::vector<std::string> files;  // lower-case names, in listing order
  int buttons[3] = {-1, -1, -1};   // page back, page on, change directory
};

// Draws the preview of one file into its cell; false when it could not be drawn.
bool draw_preview(Kit& kit, const BrowseFolders& folders, const Chooser& ch, const std::string& path, const Cell& c,
                  std::string& label) {
  Preview preview = ch.k ? ch.k->preview : Preview::none;
  switch (preview) {
    case Preview::none: return true;
    case Preview::image:
    case Preview::sprite: {
      auto picture = std::make_unique<media::Picture>();
      if (!media::load_picture(path, *picture, kMaxPreviewSide)) return false;
      media::fold_picture(*picture);
      draw_picture(kit.screen, *picture, c);
      if (preview == Preview::sprite) {
        label += " " + std::to_string(picture->width) + "x" + std::to_string(picture->height);
        int frames = count_numbered_frames(path);
        if (frames > 1) label += " " + std::to_string(frames);
      }
      return true;
    }
    case Preview::text: draw_description(kit, path, c); return true;
    case Preview::camera: draw_camera(kit, path, c); return true;
    case Preview::model:
    case Preview::visual: {
      scene::Renderer* r = preview_renderer(folders);
      if (!r) return true;  // nothing draws models here: the cell stays dark
      PreviewModel m;
      auto texture = std::make_unique<media::Picture>();
      if (!load_preview_model(path, preview == Preview::visual, folders.work, m, *texture)) return false;
      return draw_model_preview(kit.screen, *r, c.x1, c.y1, c.x2 - c.x1 + 1, c.y2 - c.y1 + 1, m,
                                PreviewView::fitted, false);
    }
  }
  return true;
}

void clear_cell(Kit& kit, int i, bool wait) {
  Cell c = cell_inside(i);
  fill_rect(kit.screen, c.x1, c.y1, c.x2, c.y2, kBlack);
  if (wait) draw_centred(kit, "Wait...", (c.x1 + c.x2) / 2, (c.y1 + c.y2) / 2, kWhite);
}

void draw_chooser(Kit& kit, Chooser& ch, std::string_view title) {
  clear_screen(kit.screen);
  draw_panel(kit, 0, 0, 640, 480, true);
  reset_buttons(kit);
  for (int i = 0; i < 9; ++i) {
    int x = kCellX[i % 3], y = kCellY[i / 3];
    draw_frame(kit, x, y, x + kCellWidth, y + kCellHeight, 1);
    clear_cell(kit, i, true);
  }
  ch.buttons[0] = add_button(kit, 42, 40, 120, 64, 0);
  ch.buttons[1] = add_button(kit, 128, 40, 206, 64, 0);
  ch.buttons[2] = add_button(kit, 434, 40, 598, 64, 0);
  draw_button_label(kit, "Page <<", ch.buttons[0]);
  draw_button_label(kit, "Page >>", ch.buttons[1]);
  draw_button_label(kit, "Change Directory", ch.buttons[2]);
  fill_rect(kit.screen, 132, 4, 594, 22, skin_colour(kit.skin, SkinColour::title));
  draw_centred(kit, fit_text(*kit.font, title, 594 - 132), 360, 12, kWhite);
}

void list_files(Chooser& ch) {
  StringTable& t = shared_strings();
  int n = list_directory(t, ch.folder, ch.k ? ch.k->mask : "*.*");
  ch.files.clear();
  for (int i = 1; i <= n; ++i) {
    Entry e = entry_of(t.entry[i]);
    if (!e.folder) ch.files.emplace_back(e.name);
  }
  ch.n = static_cast<int>(ch.files.size());
  ch.pages = (ch.n - 1) / 9 + 1;
  if (ch.n == 0) ch.pages = 1;
}

void write_marker(const std::string& marker, const std::string& path) {
  base::TextFile f;
  if (f.open_write(marker)) {
    f.print_line(path);
    f.close();
  }
}

// The cell under the mouse that holds a file, or -1.
int cell_under(const Chooser& ch, int mx, int my) {
  if (mx < 40 || my < 80) return -1;
  int column = (mx - 40) / 200, row = (my - 80) / 130;
  if (column > 2 || row > 2) return -1;
  if (mx > 200 + 200 * column || my > 200 + 130 * row) return -1;
  int i = row * 3 + column;
  return g_page * 9 + i < ch.n ? i : -1;
}

std::string shown_text(const Chooser& ch, std::string_view title) {
  std::string out = std::string(title) + "\n" + ch.folder + "\nPage " + std::to_string(g_page + 1) + " of " +
                    std::to_string(ch.pages) + "\n";
  for (int i = 0; i < 9 && g_page * 9 + i < ch.n; ++i) out += "  " + ch.files[static_cast<std::size_t>(g_page * 9 + i)] + "\n";
  return out;
}

bool is_image_extension(std::string_view e) {
  base::Text l = base::lower(e);
  return l == "pcx" || l == "bmp" || l == "ppm";
}

std::string numbered(std::string_view path, int k) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", k);
  return std::string(path.substr(0, path.size() - 3)) + digits;
}

// The real folder of path (links followed) lies inside the real working folder.
bool inside_work(std::string_view path, std::string_view work) {
  std::string folder = folder_of(path);
  if (folder.empty()) folder = "./";
  char* real_folder = realpath(folder.c_str(), nullptr);
  char* real_work = realpath(std::string(work.empty() ? std::string_view("./") : work).c_str(), nullptr);
  bool ok = false;
  if (real_folder && real_work) {
    std::string f = std::string(real_folder) + "/", w = std::string(real_work) + "/";
    ok = f.compare(0, w.size(), w) == 0;
  }
  std::free(real_folder);
  std::free(real_work);
  return ok;
}

bool erase_one(const std::string& path) { return unlink(path.c_str()) == 0; }

}  // namespace

bool draw_visual_preview(Screen& screen, const BrowseFolders& folders, std::string_view path, int x, int y,
                         int width, int height) {
  scene::Renderer* r = preview_renderer(folders);
  if (!r || width <= 0 || height <= 0) return false;
  PreviewModel m;
  auto texture = std::make_unique<media::Picture>();
  if (!load_preview_model(path, true, folders.work, m, *texture)) return false;
  return draw_model_preview(screen, *r, x, y, width, height, m, PreviewView::fitted, true);
}

std::string_view chooser_mask(int kind) {
  const Kind* k = kind_of(kind);
  return k ? k->mask : "*.*";
}

std::string description_of(std::string_view path) {
  base::TextFile file;
  std::string out;
  if (!file.open_read(path)) return out;
  for (int lines = 0; lines < 64; ++lines) {
    base::Text line = base::trim(file.read_line());
    if (line.empty() || line[0] != ';') break;
    base::Text text = base::trim(base::drop_left(line, 1));
    if (text.empty()) break;
    out += std::string(text.view()) + " ";
    if (file.at_eof()) break;
  }
  return out;
}

int count_numbered_frames(std::string_view path) {
  if (path.size() < 3) return 1;
  int k = 2;
  while (k <= 999 && base::file_exists(numbered(path, k))) ++k;
  return k - 1;
}

int erase_with_companions(std::string_view path, std::string_view work_folder) {
  if (path.size() < 4 || !inside_work(path, work_folder)) {
    base::report("ui", "not erased (outside the working folder): %.*s", static_cast<int>(path.size()), path.data());
    return -1;
  }
  std::string p(path);
  std::string_view e = std::string_view(p).substr(p.size() - 3);
  int deleted = erase_one(p) ? 1 : 0;
  if (base::lower(e) == "prj") {
    deleted += erase_one(p.substr(0, p.size() - 3) + "col") ? 1 : 0;
  } else if (is_image_extension(e) && p[p.size() - 4] == '.') {
    for (int k = 2; k <= 999; ++k) deleted += erase_one(numbered(p, k)) ? 1 : 0;
  }
  // A numbered frame (".005") goes alone: the frames after it stay.
  return deleted;
}

std::string thumbnail_chooser(Kit& kit, const BrowseFolders& folders, std::string_view start_path, int kind,
                              std::string_view title) {
  if (!kit.font) return {};
  auto ch = std::make_unique<Chooser>();
  ch->kind = kind;
  ch->k = kind_of(kind);
  ch->folder = on_disk(folder_of(start_path));
  if (ch->folder.empty()) ch->folder = folders.work.empty() ? std::string("./") : std::string(folders.work.view());
  ch->remembered = file_of(start_path);
  std::string marker = std::string(folders.data.view()) + "crashed.txt";
  const platform::Input& in = platform::input();
  show_pointer(kit, true);
  std::string chosen;
  bool done = false, relist = true, gave_up = false;
  while (!done) {
    if (relist) list_files(*ch);
    relist = false;
    g_page = std::clamp(g_page, 0, ch->pages - 1);
    draw_chooser(kit, *ch, title);
    draw_centred(kit, "Page " + std::to_string(g_page + 1) + " of " + std::to_string(ch->pages), 320, 52,
                 skin_colour(kit.skin, SkinColour::text));
    present(kit);
    // The previews, cell by cell; a press meanwhile is taken at once.
    bool pressed = false;
    int drawn = 0;
    for (int i = 0; i < 9 && !pressed; ++i, ++drawn) {
      int index = g_page * 9 + i;
      Cell c = cell_inside(i);
      clear_cell(kit, i, false);
      if (index < ch->n) {
        const std::string& name = ch->files[static_cast<std::size_t>(index)];
        std::string path = on_disk(ch->folder + name);
        std::string label = name.size() > 4 ? name.substr(0, name.size() - 4) : name;
        write_marker(marker, path);
        if (!draw_preview(kit, folders, *ch, path, c, label)) clear_cell(kit, i, false);
        draw_outlined(kit, fit_text(*kit.font, label, c.x2 - c.x1 - 4), kCellX[i % 3] + 80, kCellY[i / 3] + 101);
        std::remove(marker.c_str());
      }
      wait_step(kit);
      pressed = (in.mouse_buttons & 3) != 0;
    }
    // Wait for a press, Page Up, Page Down, Escape or Delete.
    for (bool acted = false; !acted;) {
      if (!pressed) wait_step(kit);
      pressed = false;
      int key = 0;
      for (read_key(kit); kit.last_scan && !key; read_key(kit))
        if (kit.last_scan == kScanEscape || kit.last_scan == kScanPageUp || kit.last_scan == kScanPageDown ||
            kit.last_scan == kScanDelete)
          key = kit.last_scan;
      std::uint32_t buttons = in.mouse_buttons & 3;
      if (!key && !buttons) {
        if (platform::waiting_gives_up()) {
          report_shown(shown_text(*ch, title));
          done = acted = gave_up = true;
        }
        continue;
      }
      acted = true;
      std::int32_t hit = buttons ? hit_test(kit) : -1;
      if (key == kScanEscape || ((buttons & 1) && hit == kCloseBox)) {
        done = true;
      } else if (key == kScanPageUp || ((buttons & 1) && hit >= 0 && hit == ch->buttons[0])) {
        g_page = std::max(g_page - 1, 0);
      } else if (key == kScanPageDown || ((buttons & 1) && hit >= 0 && hit == ch->buttons[1])) {
        g_page = std::min(g_page + 1, ch->pages - 1);
      } else if ((buttons & 1) && hit >= 0 && hit == ch->buttons[2]) {
        wait_mouse_release(kit);
        std::string to = list_browser(kit, folders, ch->folder + ch->remembered, "*.*");
        show_pointer(kit, true);
        if (!to.empty()) {
          ch->folder = folder_of(to);
          ch->remembered = file_of(to);
          relist = true;
        }
      } else {
        int i = cell_under(*ch, in.mouse_x, in.mouse_y);
        if (i < 0) {  // a press or key elsewhere: wait again, after the previews it cut short
          if (buttons) wait_mouse_release(kit);
          acted = drawn < 9;
          continue;
        }
        const std::string& name = ch->files[static_cast<std::size_t>(g_page * 9 + i)];
        std::string path = on_disk(ch->folder + name);
        if (key == kScanDelete || (buttons & 1)) {
          chosen = path;
          done = true;
        } else {
          wait_mouse_release(kit);
          if (message_panel(kit, "Do you really want to PERMANENTLY ERASE " + name + "?", " NO! ", " YES ") == 2)
            erase_with_companions(path, folders.work);
          show_pointer(kit, true);
          relist = true;
        }
      }
    }
    if (!done) wait_mouse_release(kit);
  }
  leave(kit, gave_up);
  return chosen;
}

}  // namespace ui
