// The generated data folder: tables match their formulas, fonts load and
// measure text, the skin has the tile layout the panel kit reads, and the
// output is byte-reproducible.
#include "media/datagen/datagen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "media/test_util.h"
#include "base/files.h"
#include "base/text.h"
#include "base/memory.h"

namespace {

using media_test::ScratchDir;

class Generated : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new ScratchDir;
    ok = datagen::generate_all(dir->path + "/data");
  }
  static void TearDownTestSuite() { delete dir; }
  static std::string file(const char* name) { return dir->path + "/data/" + name; }
  static ScratchDir* dir;
  static bool ok;
};
ScratchDir* Generated::dir = nullptr;
bool Generated::ok = false;

int32_t word(const std::vector<uint8_t>& b, int i) {
  int32_t v;
  std::memcpy(&v, b.data() + 4 * i, 4);
  return v;
}

TEST_F(Generated, TablesMatchTheirFormulas) {
  ASSERT_TRUE(ok);
  auto sinus = media_test::read_all(file("sinus.bin"));
  auto big = media_test::read_all(file("sinusbig.bin"));
  auto atan = media_test::read_all(file("atan.bin"));
  ASSERT_EQ(sinus.size(), 115200u);
  ASSERT_EQ(big.size(), 14400u);
  ASSERT_EQ(atan.size(), 2880u);
  EXPECT_EQ(media_test::read_all(file("random.bin")).size(), 2000u);
  for (int i = 0; i < 115200; ++i)
    ASSERT_EQ(static_cast<int8_t>(sinus[i]), std::lround(127 * std::sin(i * M_PI / 46080))) << i;
  for (int i = 0; i < 3600; ++i) ASSERT_EQ(word(big, i), std::lround(32768 * std::sin(i * M_PI / 1440))) << i;
  for (int i = 0; i < 720; ++i) ASSERT_EQ(word(atan, i), std::lround(1024 * std::tan(i * M_PI / 1440))) << i;
  // Landmarks: 90 degrees, a full turn, tan 45 degrees, and the search needs an ascending table.
  EXPECT_EQ(word(big, 720), 32768);
  EXPECT_EQ(word(big, 2880), 0);
  EXPECT_EQ(static_cast<int8_t>(sinus[23040]), 127);
  EXPECT_EQ(word(atan, 360), 1024);
  for (int i = 1; i < 720; ++i) ASSERT_LT(word(atan, i - 1), word(atan, i));
}

TEST_F(Generated, OutputIsByteReproducible) {
  ASSERT_TRUE(ok);
  ScratchDir again;
  ASSERT_TRUE(datagen::generate_all(again.path));
  for (const char* name :
       {"sinus.bin", "sinusbig.bin", "atan.bin", "random.bin", "font.fnt", "font8.fnt", "panels.pcx", "panels2.pcx", "error.pcx"})
    EXPECT_EQ(media_test::read_all(file(name)), media_test::read_all(again.file(name))) << name;
  auto random = datagen::random_table();
  long sum = 0;
  for (uint8_t b : random) sum += b;
  EXPECT_NEAR(sum / 2000.0, 127.5, 8.0);  // uniform bytes
}

TEST_F(Generated, FontsLoadAndMeasureText) {
  ASSERT_TRUE(ok);
  media::Font normal, small;
  ASSERT_TRUE(media::load_font(file("font.fnt"), normal, false));
  ASSERT_TRUE(media::load_font(file("font8.fnt"), small, true));
  struct Case {
    const media::Font* font;
    const char* text;
    int width;
  };
  const Case cases[] = {
      {&normal, "A B", 24}, {&normal, "Zepta", 40}, {&normal, "", 0},  // 8-pixel cells
      {&small, "A B", 24},  {&small, "Mm0wW", 40},                     // the 8-pixel font
  };
  for (const Case& c : cases) EXPECT_EQ(media::text_width(*c.font, c.text), c.width) << c.text;
  EXPECT_EQ(media::line_height(normal), 11);
  EXPECT_EQ(media::line_height(small), 10);
  EXPECT_LE(media::glyph_height(normal) * media::row_length(normal), media::kFontGlyphBytes);
  EXPECT_LE(media::glyph_height(small) * media::row_length(small), media::kFontGlyphBytes);
  // Every printable character has ink, the space has none.
  for (const media::Font* f : {&normal, &small}) {
    for (int c = 32; c <= 126; ++c) {
      media::Glyph g = media::glyph(*f, static_cast<unsigned char>(c));
      int ink = 0;
      for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) ink += g.pixels[y * g.stride + x] != 0;
      if (c == ' ')
        EXPECT_EQ(ink, 0);
      else
        EXPECT_GT(ink, 0) << char(c);
    }
  }
}

TEST_F(Generated, SkinHasTheTileLayoutThePanelKitReads) {
  ASSERT_TRUE(ok);
  ASSERT_TRUE(base::reserve_budget());
  auto panel = std::span(base::area_as<uint8_t>(base::Area::panel_image), 16384);
  media::ImageSize size;
  ASSERT_EQ(media::load_pcx(file("panels.pcx"), media::kPcxFold, panel, size), 128 * 40);
  EXPECT_EQ(size.width, 128);
  auto at = [&](int x, int y) { return panel[y * 128 + x]; };
  using namespace datagen::skin;
  struct Named {
    int x, y;
    uint8_t colour;
  };
  const Named named[] = {
      {0, 0, kPanel},      {52, 0, kButton},     {88, 0, kField},  {13, 0, kText},
      {85, 0, kFieldText}, {86, 0, kHighlight},  {28, 3, kAccent},
  };
  for (const Named& n : named) EXPECT_EQ(at(n.x, n.y), n.colour) << n.x << "," << n.y;
  // Opaque tiles: no transparent pixel in rows 0-3 of the 27 tiles.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 108; ++x) EXPECT_NE(at(x, y), 0) << x << "," << y;
  // The window's centre tile is flat panel colour; its edge tiles repeat seamlessly.
  for (int y = 0; y < 4; ++y)
    for (int x = 16; x < 20; ++x) EXPECT_EQ(at(x, y), kPanel);
  // Title image: white lettering inside rows 4-25, transparent elsewhere.
  int title_ink = 0;
  for (int y = 4; y < 26; ++y)
    for (int x = 0; x < 128; ++x) {
      EXPECT_TRUE(at(x, y) == 0 || at(x, y) == kWhite);
      title_ink += at(x, y) == kWhite;
    }
  EXPECT_GT(title_ink, 40);
  // Window buttons: minimise and close faces under their hot areas, a
  // transparent replacement image beside them.
  EXPECT_EQ(at(8, 28), kButton);
  EXPECT_EQ(at(20, 27), kClose);
  EXPECT_EQ(at(16, 30), 0);
  for (int y = 26; y < 40; ++y)
    for (int x = 34; x < 68; ++x) EXPECT_EQ(at(x, y), 0);

  ASSERT_EQ(media::load_pcx(file("error.pcx"), media::kPcxFold, panel, size), 16 * 16);
  base::release_budget();
}

TEST(Resources, EveryFolderGetsItsDefaults) {
  char name[] = "/tmp/zepta_resources_XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  std::string work = std::string(name) + "/";
  ASSERT_TRUE(datagen::generate_resources(work));
  ASSERT_TRUE(datagen::generate_models(work));
  static constexpr const char* kFiles[] = {
      "cameras/default_.03d", "visuals/default_.v3d", "xvisuals/default_.x", "xvisuals/default_002.x",
      "xvisuals/default_.bmp", "xvisuals/default_.pcx", "3dsfiles/default_.3ds", "bckgrnds/default_.g3d",
      "bckgrnds/default_.pcx", "bckgrnds/bkgr000_.bmp", "sprites/default_.pcx", "frames/default_.pcx",
      "counters/default_.pcx", "grndmaps/default_.pcx", "grndmaps/default_.m3d", "images/default_.bmp", "images/default_.pcx",
      "sounds/null_.wav", "sounds/default_.wav", "sounds/hum.wav", "sounds/clunk.wav", "brains/null_.brn", "brains/default_.brn", "bndbox.x", "radius.x", "cross.x", "hood0a.x", "hood4b.x"};
  for (const char* f : kFiles) EXPECT_GT(base::file_size(work + f), 0) << f;
  // The visual names its model and texture by fields 3 and 2; the camera holds p = -240.
  base::TextFile v;
  ASSERT_TRUE(v.open_read(work + "visuals/default_.v3d"));
  base::Text line = v.read_line();
  EXPECT_EQ(base::field(line, 2, '|'), "./xvisuals/default_.bmp");
  EXPECT_EQ(base::field(line, 3, '|'), "./xvisuals/default_.x");
  base::TextFile c;
  ASSERT_TRUE(c.open_read(work + "cameras/default_.03d"));
  EXPECT_EQ(base::value(c.read_line()), -240);
  // The counter strip: 12 cells of 8 x 12 (digits, minus, point), ink on colour 0.
  std::vector<uint8_t> digits(96 * 12);
  media::ImageSize size;
  ASSERT_EQ(media::load_pcx(work + "counters/default_.pcx", media::kPcxFold, digits, size), 96 * 12);
  EXPECT_EQ(size.width, 96);
  EXPECT_EQ(size.height, 12);
  EXPECT_EQ(digits[0], 0);
  EXPECT_NE(digits[5 * 96 + 10 * 8 + 3], 0);  // the minus sign's bar
  EXPECT_EQ(digits[5 * 96 + 11 * 8 + 3], 0);  // the point sits lower
  EXPECT_NE(digits[9 * 96 + 11 * 8 + 3], 0);
  // 16-bit mono PCM at 22,050 Hz: the silent sound is all zero, the default one is not.
  for (const char* name : {"sounds/null_.wav", "sounds/default_.wav", "sounds/hum.wav", "sounds/clunk.wav"}) {
    std::vector<uint8_t> file;
    media::Wav wav;
    ASSERT_EQ(media::load_wav(work + name, file, wav), media::WavStatus::ok) << name;
    EXPECT_EQ(wav.channels, 1);
    EXPECT_EQ(wav.rate, 22050);
    EXPECT_EQ(wav.stored_bits, 16);
    EXPECT_GT(wav.frames, 2000u) << name;
    bool silent = std::all_of(wav.data.begin(), wav.data.end(), [](uint8_t b) { return b == 0; });
    EXPECT_EQ(silent, std::string_view(name) == "sounds/null_.wav") << name;
  }
  std::filesystem::remove_all(work);
}

}  // namespace
