// One page of the thumbnail chooser with nine model previews, drawn offscreen
// by the software renderer (target: under 0.5 s a page). Each iteration opens
// the chooser with nothing scripted: it lists the folder, draws the nine
// previews and gives up. Needs ZEPTA_TEST_DATA=<build>/work/data.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/memory.h"
#include "media/media.h"
#include "platform/platform.h"
#include "ui/browser.h"

namespace {

namespace fs = std::filesystem;

void BM_ThumbnailPageOfModels(benchmark::State& state) {
  const char* d = std::getenv("ZEPTA_TEST_DATA");
  std::string data = d ? std::string(d) + "/" : "";
  if (data.empty() || !fs::exists(data + "../3dsfiles/default_.3ds")) {
    state.SkipWithError("ZEPTA_TEST_DATA not set");
    return;
  }
  char error[160] = {};
  scene::Renderer* r = scene::create_offscreen(640, 480, error, sizeof error);
  if (!r) {
    state.SkipWithError(error);
    return;
  }
  platform::init({true, false});
  char name[] = "/tmp/zepta_bench_thumbs_XXXXXX";
  std::string work = std::string(mkdtemp(name)) + "/";
  fs::create_directories(work + "models");
  for (int i = 0; i < 9; ++i) fs::copy_file(data + "../3dsfiles/default_.3ds", work + "models/m" + std::to_string(i) + ".3ds");
  {
    auto font = std::make_unique<media::Font>();
    media::load_font(data + "font.fnt", *font, false);
    std::vector<std::uint8_t> skin_bytes(base::area_size(base::Area::panel_image));
    ui::Skin skin;
    ui::load_skin(data + "panels.pcx", skin_bytes, skin);
    std::vector<std::byte> block(640 * 480);
    auto kit = std::make_unique<ui::Kit>();
    ui::init_kit(*kit, ui::make_screen(block, 640, 480), *font, skin);
    ui::BrowseFolders folders;
    folders.work = std::string_view(work);
    folders.data = std::string_view(work);
    folders.renderer = r;
    platform::set_script({});
    // The chooser tells what it showed on stderr each time: not here.
    int saved = dup(2), null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    for (auto _ : state) ui::thumbnail_chooser(*kit, folders, work + "models/m0.3ds", ui::kChooseModels, "Models");
    dup2(saved, 2);
    close(null);
    close(saved);
    // Cells whose preview put a model on the screen (9 when every one was drawn).
    int drawn = 0;
    for (int i = 0; i < 9; ++i) {
      int x = 44 + 200 * (i % 3), y = 84 + 130 * (i / 3), ink = 0;
      for (int j = 0; j < 80; ++j)
        for (int k = 0; k < 148; ++k) ink += kit->screen.pixels[(y + j) * 640 + x + k] != 0;
      drawn += ink > 500;
    }
    state.counters["drawn"] = drawn;
  }
  fs::remove_all(work);
  scene::destroy(r);
}
BENCHMARK(BM_ThumbnailPageOfModels)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
