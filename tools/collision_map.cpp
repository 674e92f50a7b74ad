// The collision-map editor of run mode 2: the collision matrix shown as a
// triangular cross-map, one cell per pair of elements, each click stepping the
// pair's channel. The dispatcher saves the project and its ".col" afterwards.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "media/media.h"
#include "platform/platform.h"
#include "project/project.h"
#include "tools/tools.h"
#include "ui/browser.h"

namespace tools {

namespace {

constexpr char kHelp[] = "Click cross-map to enable channels (click icons to trace)";
constexpr char kIgnored[] = "Collision will be ignored";
constexpr char kNotSupported[] = "Collision not supported";
constexpr char kCodePrefix[] = "Collision code: ";
constexpr char kEmptyProject[] = "The project has no elements:|there are no pairs to map.";

constexpr int kMapWidth = 640, kMapHeight = 480;
constexpr int kMaxChannel = 11;
// Palette indexes of channels 1..11 (the engine's collision colours).
constexpr std::uint8_t kChannelColours[kMaxChannel] = {188, 128, 62, 32, 27, 17, 12, 7, 42, 112, 183};
constexpr std::uint8_t kColourNoSupport = 2;
constexpr std::uint8_t kColourIgnored = 81;
constexpr std::uint8_t kOutlineOn = 218;
constexpr std::uint8_t kOutlineOff = 81;

// Element types that take part in pairs: camera, 3D shape, flat shape, shadow, visual, mesh.
constexpr int kCollidableTypes[] = {0, 1, 2, 3, 11, 13};
constexpr int kTypeCamera = 0, kTypeVisual = 11;

std::string_view line_of(const project::Project& p, int e) { return p.lines.line[e].view(); }

// A matrix byte as a channel: bytes of 12 or more (a damaged file) name none.
std::uint8_t channel_of(std::uint8_t byte) { return byte <= kMaxChannel ? byte : 0; }

int type_of(std::string_view line) { return base::value(project::line_field(line, project::kFieldType)); }

struct Editor {
  ui::Kit* kit = nullptr;
  project::Project* project = nullptr;
  ui::BrowseFolders folders;
  CrossMap map;
  int trace_x = 0, trace_y = 0;  // where the trace lines cross
};

// x1..x2, y1..y2 of cell (row, column), at least one pixel each way.
void cell_rect(const CrossMap& m, int row, int column, int& x1, int& y1, int& x2, int& y2) {
  x1 = m.x0 + column * m.w, y1 = m.y0 + row * m.h;
  x2 = std::max(x1, x1 + m.w - 2), y2 = std::max(y1, y1 + m.h - 2);
}

void draw_pair(Editor& ed, int row, int column) {
  int x1, y1, x2, y2;
  cell_rect(ed.map, row, column, x1, y1, x2, y2);
  const project::Project& p = *ed.project;
  std::uint8_t byte = p.collision[row * project::kMaxElements + column];
  ui::fill_rect(ed.kit->screen, x1, y1, x2, y2, pair_colour(line_of(p, row), line_of(p, column), byte));
}

// A camera drawn with lines: a body and a lens, scaled to the cell.
void draw_camera_sketch(ui::Screen& s, int x1, int y1, int x2, int y2) {
  int w = x2 - x1 + 1, h = y2 - y1 + 1;
  if (w < 6 || h < 4) return;
  int bx1 = x1 + w / 6, bx2 = x1 + w * 3 / 5, by1 = y1 + h / 4, by2 = y2 - h / 4;
  ui::draw_rectangle(s, bx1, by1, bx2, by2, ui::kGrey);
  int lx = x2 - w / 6, mid = (by1 + by2) / 2, spread = std::max(1, (by2 - by1) / 2);
  for (int x = bx2 + 1; x <= lx; ++x) {  // the lens widens towards the front
    int d = (x - bx2) * spread / std::max(1, lx - bx2);
    ui::fill_rect(s, x, mid - d, x, mid - d, ui::kGrey);
    ui::fill_rect(s, x, mid + d, x, mid + d, ui::kGrey);
  }
  ui::fill_rect(s, lx, mid - spread, lx, mid + spread, ui::kGrey);
}

void draw_icon(Editor& ed, int element, int row, int column) {
  int x1, y1, x2, y2;
  cell_rect(ed.map, row, column, x1, y1, x2, y2);
  std::string_view line = line_of(*ed.project, element);
  ui::Screen& s = ed.kit->screen;
  int type = type_of(line);
  if (type == kTypeVisual && x2 - x1 > 4 && y2 - y1 > 4) {
    base::Text aspect = project::line_field(line, project::kFieldAspect);
    std::string path(project::resolve_path(project::path_to_memory(aspect, ed.folders.work)).view());
    ui::draw_visual_preview(s, ed.folders, path, x1 + 1, y1 + 1, x2 - x1 - 1, y2 - y1 - 1);
  } else if (type == kTypeCamera) {
    draw_camera_sketch(s, x1 + 1, y1 + 1, x2 - 1, y2 - 1);
  }
  bool on = base::value(project::line_field(line, project::kFieldStartSwitches)) & 1;
  ui::draw_rectangle(s, x1, y1, x2, y2, on ? kOutlineOn : kOutlineOff);
}

void draw_map(Editor& ed) {
  ui::clear_screen(ed.kit->screen);
  const CrossMap& m = ed.map;
  for (int r = 0; r < m.n; ++r)
    for (int c = r + 1; c < m.n; ++c) draw_pair(ed, r, c);
  for (int r = 0; r + 1 < m.n; ++r) draw_icon(ed, r, r, 0);
  for (int c = 1; c < m.n; ++c) draw_icon(ed, c, m.n - 1, c);
  if (m.n == 1) draw_icon(ed, 0, 0, 0);  // the one element: its own icon, no pair
}

// The trace lines, drawn by inverting pixels: a second drawing puts them back.
void draw_trace(Editor& ed) {
  ui::Screen& s = ed.kit->screen;
  int width = std::min(s.width, kMapWidth), height = std::min(s.height, kMapHeight);
  if (!s.pixels) return;
  if (ed.trace_y >= 0 && ed.trace_y < height)
    for (int x = 0; x < width; ++x) s.pixels[ed.trace_y * s.width + x] ^= 0xFF;
  if (ed.trace_x >= 0 && ed.trace_x < width)
    for (int y = 0; y < height; ++y)
      if (y != ed.trace_y) s.pixels[y * s.width + ed.trace_x] ^= 0xFF;
}

std::string name_of(const Editor& ed, int e) {
  return std::string(project::line_field(line_of(*ed.project, e), project::kFieldName).view());
}

// The text line and the status beside it for the mouse at (mx, my); returns
// them as one line, the swatch as two blanks.
std::string draw_text_line(Editor& ed, int mx, int my) {
  ui::Kit& kit = *ed.kit;
  const CrossMap& m = ed.map;
  int ty = 463 - m.h - m.y0, tx = m.x0 + m.w + 4;
  ui::fill_rect(kit.screen, m.x0 + m.w, ty, 570, 478 - m.h - m.y0, ui::kBlack);
  std::string text = kHelp;
  std::string status;
  std::uint8_t swatch = 0;
  int row, column;
  if (cell_under(m, mx, my, row, column)) {
    bool icon = (column == 0 && row < m.n - 1) || (row == m.n - 1 && column > 0) || m.n == 1;
    if (icon) {
      text = name_of(ed, column == 0 ? row : column);
    } else if (row <= column) {
      text = name_of(ed, row) + " / " + name_of(ed, column);
      if (row < column) {  // the pair's colour, also where the mouse is on the gap between cells
        const project::Project& p = *ed.project;
        swatch = pair_colour(line_of(p, row), line_of(p, column), p.collision[row * project::kMaxElements + column]);
        if (swatch == kColourIgnored) status = kIgnored;
        else if (swatch == kColourNoSupport) status = kNotSupported;
        else status = kCodePrefix + std::to_string(swatch);
      }
    }
  }
  std::string shown = status.empty() ? text : text + "  " + status;
  if (!kit.font) return shown;
  const media::Font& f = *kit.font;
  ui::draw_text(kit.screen, f, text, tx, ty, ui::kWhite);
  if (status.empty()) return shown;
  int sx = tx + media::text_width(f, text) + 12;
  ui::fill_rect(kit.screen, sx, ty, sx + 11, ty + 8, swatch);
  ui::draw_rectangle(kit.screen, sx, ty, sx + 11, ty + 8, ui::kWhite);
  ui::draw_text(kit.screen, f, status, sx + 18, ty, ui::kWhite);
  return shown;
}

// A press of button (1 left, 2 right) at (mx, my): icons move a trace line,
// pair cells of collidable kinds step their channel.
void click(Editor& ed, int button, int mx, int my) {
  const CrossMap& m = ed.map;
  int row, column;
  if (!cell_under(m, mx, my, row, column)) return;
  bool first_column = column == 0 && row < m.n - 1, last_row = row == m.n - 1 && column > 0;
  if (first_column || last_row) {
    if (button == 1 && first_column) ed.trace_y = my;
    if (button == 1 && last_row) ed.trace_x = mx;
    return;
  }
  if (row >= column) return;
  project::Project& p = *ed.project;
  if (!collidable_kind(line_of(p, row)) || !collidable_kind(line_of(p, column))) return;
  std::uint8_t& byte = p.collision[row * project::kMaxElements + column];
  byte = step_channel(byte, button == 1 ? 1 : -1);
  draw_pair(ed, row, column);
  ed.trace_x = mx, ed.trace_y = my;
}

}  // namespace

CrossMap cross_map_of(int elements) {
  CrossMap m;
  m.n = std::clamp(elements, 0, project::kMaxElements);
  if (m.n == 0) return m;  // nothing to show, and nothing to divide by
  m.w = kMapWidth / m.n, m.h = kMapHeight / m.n;
  m.x0 = (kMapWidth - m.w * m.n) / 2, m.y0 = (kMapHeight - m.h * m.n) / 2;
  return m;
}

bool cell_under(const CrossMap& m, int mx, int my, int& row, int& column) {
  if (m.n == 0 || mx < m.x0 || my < m.y0) return false;
  column = (mx - m.x0) / m.w, row = (my - m.y0) / m.h;
  return column < m.n && row < m.n;
}

bool collidable_kind(std::string_view line) {
  int type = type_of(line);
  return std::find(std::begin(kCollidableTypes), std::end(kCollidableTypes), type) != std::end(kCollidableTypes);
}

std::uint8_t step_channel(std::uint8_t byte, int by) {
  int c = (channel_of(byte) + by) % (kMaxChannel + 1);
  return static_cast<std::uint8_t>(c < 0 ? c + kMaxChannel + 1 : c);
}

std::uint8_t pair_colour(std::string_view line_a, std::string_view line_b, std::uint8_t byte) {
  if (!collidable_kind(line_a) || !collidable_kind(line_b)) return kColourNoSupport;
  std::uint8_t c = channel_of(byte);
  return c == 0 ? kColourIgnored : kChannelColours[c - 1];
}

void mirror_trace(const CrossMap& m, int& x, int& y) {
  if (m.n == 0) return;
  int nx = m.x0 + (y - m.y0) * (m.w * m.n) / (m.h * m.n);
  int ny = m.y0 + (x - m.x0) * (m.h * m.n) / (m.w * m.n);
  x = std::clamp(nx, 0, kMapWidth - 1), y = std::clamp(ny, 0, kMapHeight - 1);
}

bool collision_map(ui::Task& task, int) {
  if (!task.project || !task.project->collision) return false;
  auto kit = std::make_unique<ui::Kit>();
  ui::init_kit(*kit, task.screen, *task.font, task.skin);
  Editor ed;
  ed.kit = kit.get();
  ed.project = task.project;
  ed.folders = ui::browse_folders(task);
  ed.map = cross_map_of(task.project->lines.highest + 1);
  if (ed.map.n == 0) {
    ui::message_panel(*kit, kEmptyProject, " OK ", "");
    return false;
  }
  const platform::Input& in = platform::input();
  ed.trace_x = ed.map.x0 + ed.map.w / 2;
  ed.trace_y = ed.map.y0 + ed.map.h / 2;
  draw_map(ed);
  ui::show_pointer(*kit, true);
  ui::flush_input(*kit);
  int held = 0;  // buttons down at the last step
  for (bool done = false; !done;) {
    ui::await_input(*kit);
    int mx = std::min(in.mouse_x, kMapWidth - 1), my = std::min(in.mouse_y, kMapHeight - 1);
    for (ui::read_key(*kit); kit->last_scan; ui::read_key(*kit)) {
      if (kit->last_scan == platform::kScanEscape) done = true;
      if (kit->last_scan == platform::kScanSpace) mirror_trace(ed.map, ed.trace_x, ed.trace_y);
    }
    int buttons = in.mouse_buttons & 3;
    int pressed = buttons & ~held;
    held = buttons;
    if (pressed & 1) click(ed, 1, mx, my);
    else if (pressed & 2) click(ed, 2, mx, my);
    if (buttons) ed.trace_x = mx, ed.trace_y = my;
    std::string shown = draw_text_line(ed, mx, my);
    draw_trace(ed);
    ui::present(*kit);
    draw_trace(ed);
    if (!done && platform::waiting_gives_up()) {
      // Nobody can answer: what the text line shows goes to stderr.
      std::fprintf(stderr, "%s\n", kHelp);
      if (shown != kHelp) std::fprintf(stderr, "%s\n", shown.c_str());
      done = true;
    }
  }
  ui::show_pointer(*kit, false);
  ui::clear_screen(kit->screen);
  ui::present(*kit);
  ui::flush_input(*kit);
  return true;
}

}  // namespace tools
