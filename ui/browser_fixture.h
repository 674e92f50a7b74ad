// Shared by the browser tests: a kit on a 640 x 480 screen with the generated
// font and skin, a scratch working folder, scripted input, an offscreen
// renderer for the previews of models, and screens checked against references.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/memory.h"
#include "media/media.h"
#include "platform/platform.h"
#include "ui/browser.h"
#include "ui/reference_picture.h"
#include "ui/test_input.h"

namespace ui::browser_test {

namespace fs = std::filesystem;

inline std::string test_data() { return test_input::data_folder(); }
using test_input::script;

// A left (1) or right (2) click at (x, y) at sample t, released two samples later.
inline std::string click(int t, int x, int y, int button = 1) {
  std::string at = " " + std::to_string(x) + " " + std::to_string(y);
  return std::to_string(t) + " mouse" + at + " " + std::to_string(button) + "\n" + std::to_string(t + 2) + " mouse" +
         at + " 0\n";
}
inline std::string key(int t, int scan, char ch = 0) {
  return std::to_string(t) + " key " + std::to_string(scan) + (ch ? std::string(" ") + ch : std::string()) + "\n";
}

inline void write_file(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// A w x h PCX of one colour.
inline void write_sprite(const std::string& path, int w, int h, std::uint8_t colour) {
  fs::create_directories(fs::path(path).parent_path());
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h, colour);
  ASSERT_TRUE(media::write_pcx(path, w, h, pixels, media::scheme_palette()));
}

class BrowserTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The renderer first: the headless platform would otherwise pick a video driver without OpenGL.
    renderer_ = scene::create_offscreen(640, 480, error_, sizeof error_);
    platform::init({true, false});
  }
  static void TearDownTestSuite() {
    scene::destroy(renderer_);
    renderer_ = nullptr;
    platform::shutdown();  // no driver threads left for the leak checker at exit
  }

  media::Font font;
  std::vector<std::uint8_t> skin_bytes = std::vector<std::uint8_t>(base::area_size(base::Area::panel_image));
  Skin skin;
  std::vector<std::byte> block = std::vector<std::byte>(kMaxScreenWidth * kMaxScreenHeight);
  std::unique_ptr<Kit> kit = std::make_unique<Kit>();
  std::string work;  // ends in "/"
  BrowseFolders folders;

  void SetUp() override {
    std::string data = test_data();
    if (data.empty() || !fs::exists(data + "panels.pcx")) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    ASSERT_TRUE(media::load_font(data + "font.fnt", font, false));
    ASSERT_TRUE(load_skin(data + "panels.pcx", skin_bytes, skin));
    init_kit(*kit, make_screen(block, 640, 480), font, skin);
    char name[] = "/tmp/zepta_browse_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    work = std::string(name) + "/";
    fs::create_directories(work + "data");
    fs::copy_file(data + "font8.fnt", work + "data/font8.fnt");
    folders.work = std::string_view(work);
    folders.data = std::string_view(work + "data/");
    folders.renderer = renderer_;
    script("");  // nothing scripted: waits give up at once
    platform::input().mouse_buttons = 0;
    platform::input().mouse_x = platform::input().mouse_y = 0;
  }
  void TearDown() override {
    if (!work.empty()) fs::remove_all(work);
  }

  bool has_renderer() const { return renderer_ != nullptr; }
  const char* renderer_error() const { return error_; }

  std::uint8_t at(int x, int y) const { return kit->screen.pixels[y * kit->screen.width + x]; }
  // Pixels of the rectangle (edges included) that are not colour 0.
  int ink(int x1, int y1, int x2, int y2) const {
    int n = 0;
    for (int y = y1; y <= y2; ++y)
      for (int x = x1; x <= x2; ++x) n += at(x, y) != 0;
    return n;
  }

  // The screen against testdata/name (REGENERATE=1 rewrites it).
  void expect_reference(const std::string& name) {
    ui_test::expect_reference_picture(kit->screen, std::string(ZEPTA_UI_TESTDATA) + "/" + name, "browser");
  }

 private:
  static inline scene::Renderer* renderer_ = nullptr;
  static inline char error_[160] = {};
};

}  // namespace ui::browser_test
