// The 3D background tool of run mode 15: the image chosen with the thumbnail
// chooser, its repetitions asked, then the band of screen rows it is stretched
// over and the hood type placed by eye.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "base/log.h"
#include "media/media.h"
#include "platform/platform.h"
#include "project/project.h"
#include "tools/tools.h"
#include "ui/browser.h"

namespace tools {

namespace {

constexpr char kChooseTitle[] = "Select 3D background image";
constexpr char kRepetitionsPrompt[] = "Background image repetitions (must be 1,2,4,8,...)";
constexpr char kPlacementHelp[] = "F1/F2 change hood type, MOUSE set bitmap stretching, Esc to finish";
constexpr int kMaxHoodType = 4;

struct Placement {
  const media::Picture* picture = nullptr;  // folded to the scheme; null: none could be read
  BackgroundBand band;
  int hood_type = 0;
  std::unique_ptr<ui::PreviewModel> hood;  // the hood models of hood_type; null: none
  int hood_loaded = -1;                     // the type hood holds
};

void load_hood(Placement& p, std::string_view data_folder) {
  if (p.hood_loaded == p.hood_type) return;
  p.hood_loaded = p.hood_type;
  p.hood.reset();
  if (p.hood_type < 1) return;  // type 0 is no hood
  auto m = std::make_unique<ui::PreviewModel>();
  m->colour = 0x808080;
  std::string error;
  for (const char* part : {"a.x", "b.x"}) {
    std::string path = std::string(data_folder) + "hood" + std::to_string(p.hood_type) + part;
    if (!platform::load_model(path, m->vertices, error)) base::report("tools", "hood %s: %s", path.c_str(), error.c_str());
  }
  if (!m->vertices.empty()) p.hood = std::move(m);
}

void draw_placement(ui::Kit& kit, Placement& p, std::string_view data_folder) {
  ui::Screen& s = kit.screen;
  ui::clear_screen(s);
  const media::Picture* pic = p.picture;
  int top = std::max(0, p.band.top), bottom = std::min(s.height - 1, p.band.bottom);
  if (pic && pic->width > 0 && pic->height > 0 && bottom >= top) {
    int rows = p.band.bottom - p.band.top + 1, width = std::min(s.width, 640);
    for (int y = top; y <= bottom; ++y) {
      int sy = static_cast<int>(static_cast<long long>(y - p.band.top) * pic->height / rows);
      const std::uint8_t* in = &pic->pixels[static_cast<std::size_t>(sy) * pic->width];
      std::uint8_t* out = s.pixels + static_cast<std::size_t>(y) * s.width;
      for (int x = 0; x < width; ++x) out[x] = in[static_cast<long long>(x) * pic->width / width];
    }
  }
  load_hood(p, data_folder);
  if (scene::Renderer* r = platform::scene_renderer(); r && p.hood)
    ui::draw_model_preview(s, *r, 0, 0, std::min(s.width, 640), std::min(s.height, 480), *p.hood,
                           ui::PreviewView::camera, true);
  ui::fill_rect(s, 0, 466, 639, 479, ui::kBlack);
  ui::draw_centred(kit, kPlacementHelp, 320, 472, ui::kWhite);
  ui::present(kit);
}

// The band and hood type placed until Escape (or until waiting gives up).
void place_background(ui::Kit& kit, Placement& p, std::string_view data_folder) {
  const platform::Input& in = platform::input();
  ui::show_pointer(kit, true);
  for (bool done = false; !done;) {
    draw_placement(kit, p, data_folder);
    for (bool acted = false; !acted;) {
      ui::await_input(kit);
      for (ui::read_key(kit); kit.last_scan && !acted; ui::read_key(kit)) {
        if (kit.last_scan == platform::kScanEscape) done = acted = true;
        if (kit.last_scan == platform::kScanF1 || kit.last_scan == platform::kScanF2) {
          p.hood_type = std::clamp(p.hood_type + (kit.last_scan == platform::kScanF1 ? -1 : 1), 0, kMaxHoodType);
          acted = true;
        }
      }
      if (!acted && in.mouse_buttons) {
        move_background_row(p.band, in.mouse_y);
        ui::wait_mouse_release(kit);
        acted = true;
      }
      if (!acted && platform::waiting_gives_up()) {
        std::fprintf(stderr, "%s\nrows %d to %d, hood type %d\n", kPlacementHelp, p.band.top, p.band.bottom, p.hood_type);
        done = acted = true;
      }
      if (!acted) ui::present(kit);  // the pointer follows the mouse
    }
  }
  ui::show_pointer(kit, false);
  ui::clear_screen(kit.screen);
  ui::present(kit);
  ui::flush_input(kit);
}

}  // namespace

bool valid_repetitions(std::int32_t n) {
  std::uint32_t low = static_cast<std::uint32_t>(n) & 0x7FFFFFFFu;
  return low != 0 && (low & (low - 1)) == 0;
}

void move_background_row(BackgroundBand& b, std::int32_t r) {
  std::int64_t p = static_cast<std::int64_t>(r) + 1;
  std::int64_t to_top = p > b.top ? p - b.top : b.top - p, to_bottom = p > b.bottom ? p - b.bottom : b.bottom - p;
  auto row = [](std::int64_t v) { return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, 479)); };
  if (to_bottom < to_top) {
    b.bottom = row(p);
    if (b.bottom < b.top) b.bottom = row(static_cast<std::int64_t>(b.top) + 7);
  } else {
    b.top = row(p);
    if (b.bottom < b.top) b.top = row(static_cast<std::int64_t>(b.bottom) - 7);
  }
}

bool background3d(ui::Task& task, int) {
  project::Project& project = *task.project;
  auto kit = std::make_unique<ui::Kit>();
  ui::init_kit(*kit, task.screen, *task.font, task.skin);
  ui::BrowseFolders folders = ui::browse_folders(task);
  base::Text start = project.background.empty() ? folders.work + "bckgrnds/bkgr000_.bmp" : project.background;
  std::string chosen = ui::thumbnail_chooser(*kit, folders, start, ui::kChooseBackground3d, kChooseTitle);
  if (chosen.empty()) return false;
  project.background = std::string_view(chosen);

  std::int32_t repetitions = project.background_repeat;
  for (;;) {
    std::string answer = ui::input_box(*kit, 400, base::text_of(repetitions), kRepetitionsPrompt);
    std::int32_t n = base::value(answer);
    if (valid_repetitions(n)) {
      repetitions = static_cast<std::int32_t>(static_cast<std::uint32_t>(n) & 0x7FFFFFFFu);
      break;
    }
    if (platform::waiting_gives_up()) {  // nobody left to answer: the count it had, if that one is sound
      if (!valid_repetitions(repetitions)) repetitions = 1;
      break;
    }
  }
  project.background_repeat = repetitions;

  auto picture = std::make_unique<media::Picture>();
  Placement p;
  if (media::load_picture(chosen, *picture, 4096)) {
    media::fold_picture(*picture);
    p.picture = picture.get();
  }
  p.band = {project.settings.background_top, project.settings.background_bottom};
  p.hood_type = std::clamp(project.settings.hood_type, 0, kMaxHoodType);
  place_background(*kit, p, folders.data);
  project.settings.background_top = p.band.top;
  project.settings.background_bottom = p.band.bottom;
  project.settings.hood_type = p.hood_type;
  return true;
}

}  // namespace tools
