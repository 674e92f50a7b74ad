// The 2D layers drawn offscreen and read back: counter digits, picture-frame
// refresh counts, translucent and clipped images, the text list from brains,
// its overflow, and damaged image records.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/watchdog.h"
#include "engine/render/layers_local.h"
#include "engine/render/scene_fixture.h"
#include "platform/video_test_clip.h"
#include "base/memory.h"
#include "tests/brain_files.h"

namespace {

using project::ElementRecord;

using scene_test::Rgb;

std::string lines_of(std::initializer_list<std::string_view> l) {
  std::string text;
  for (std::string_view s : l) text += std::string(s) + "\r\n";
  return text;
}

class LayersTest : public scene_test::SceneFixture {
 protected:
  static std::int32_t ref(int i) { return static_cast<std::int32_t>(base::address32(&element_table()[i])); }
  static ElementRecord* element_table() { return engine::element_table(); }

  // An element showing an 8-bit image (colour indexes, rows from the top) with the tag.
  ElementRecord& image(int i, const char* tag, int width, int height, const std::vector<std::uint8_t>& pixels) {
    ElementRecord& e = element(i);
    int n = project::take_aspect(world_->tables, *load_, i, tag);
    std::byte* at = project::take_arena(world_->tables, *load_, pixels.size());
    std::memcpy(at, pixels.data(), pixels.size());
    project::AspectRecord& a = world_->tables.aspects[n];
    a.word[0] = static_cast<std::int32_t>(base::address32(at));
    a.word[1] = 1;
    a.word[2] = width;
    a.word[3] = height;
    e.current_aspect = e.base_aspect = static_cast<std::int32_t>(base::address32(&a));
    return e;
  }
  // A background element filling the whole screen with a scheme colour, under everything.
  void backdrop(int i, int colour_index) {
    ElementRecord& e = element(i);
    int n = project::take_aspect(world_->tables, *load_, i, ".g3d");
    world_->tables.aspects[n].word[engine::kGroundColourWord] = colour_index;
    e.current_aspect = e.base_aspect = static_cast<std::int32_t>(base::address32(&world_->tables.aspects[n]));
    e.display_area[0] = 0, e.display_area[1] = 0, e.display_area[2] = 639, e.display_area[3] = 479;
  }
  void restart() {
    engine::scene_end(*world_);
    std::memset(world_->tables.elements, 0, project::kMaxElements * sizeof(ElementRecord));
    world_->highest = -1;
    *load_ = {};
  }

  // Brains from memory for elements 0, 1, ...; literals go after the loaded aspect data.
  void compile(const std::vector<std::string>& texts) {
    std::vector<brain::BrainSource> sources = brains_.sources(texts, "e");
    std::size_t used = (load_->arena_used + 3) & ~std::size_t{3};
    literals_ = world_->tables.arena.subspan(used);
    std::byte* first = literals_.data();
    brains_.serve(options_);
    options_.literals = &literals_;
    program_ = std::make_unique<brain::Program>();
    ASSERT_TRUE(brain::compile_project(sources, options_, *program_));
    world_->program = program_.get();
    world_->literal_start = base::address32(first);
    world_->literal_end = base::address32(literals_.data());
    for (std::size_t i = 0; i < texts.size(); ++i) {
      ElementRecord& e = element(static_cast<int>(i));
      e.flags |= project::kFlagOn;
    }
  }
  static std::int32_t call(const char* keyword, std::int32_t a = 0, std::int32_t b = 0, std::int32_t c = 0,
                           std::int32_t d = 0, std::int32_t e = 0) {
    return brain::routine_of(brain::find_keyword(keyword))(a, b, c, d, e, 0);
  }

  // Pixels of a rectangle that are not black.
  int lit(int x, int y, int w, int h) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(w) * h * 4);
    EXPECT_TRUE(scene::read_pixels(*renderer_, x, y, w, h, p.data()));
    int n = 0;
    for (std::size_t k = 0; k < p.size(); k += 4) n += p[k] + p[k + 1] + p[k + 2] > 60;
    return n;
  }
  Rgb scheme(int index) {
    const auto& c = media::scheme_palette()[static_cast<std::size_t>(index)];
    return {c[0], c[1], c[2]};
  }
  static bool near(Rgb p, Rgb want, int tolerance = 6) {
    return std::abs(p.r - want.r) <= tolerance && std::abs(p.g - want.g) <= tolerance &&
           std::abs(p.b - want.b) <= tolerance;
  }

  brain_test::MemoryBrains brains_;
  std::span<std::byte> literals_;
  brain::CompileOptions options_;
  std::unique_ptr<brain::Program> program_;
};

// A digit strip whose 12 cells (4 x 6 pixels) are each one solid colour.
constexpr int kCell = 4, kCellHeight = 6;
int cell_colour(int cell) { return 20 + cell * 19; }
std::vector<std::uint8_t> digit_strip() {
  std::vector<std::uint8_t> p(static_cast<std::size_t>(kCell) * engine::kCounterCells * kCellHeight);
  for (int y = 0; y < kCellHeight; ++y)
    for (int x = 0; x < kCell * engine::kCounterCells; ++x)
      p[static_cast<std::size_t>(y) * kCell * engine::kCounterCells + x] = static_cast<std::uint8_t>(cell_colour(x / kCell));
  return p;
}

TEST_F(LayersTest, CounterDrawsItsDigitsSignAndPoint) {
  // Cells read back: "0".."9", "-" the sign, "." the point, " " nothing drawn.
  static constexpr struct {
    std::int32_t value, divisor, point, sign;
    const char* cells;
  } kCases[] = {
      {7, 100, 0, 0, "007 "},
      {-7, 100, 0, 1, "-007 "},
      {7, 100, 0, 1, " 007 "},     // the sign's place stays empty for a value that is not negative
      {-7, 100, 0, 0, "007 "},     // no sign option: the magnitude alone
      {305, 100, 10, 0, "30.5 "},  // the point after the digit of the point divisor
      {1234, 100, 0, 0, " 34 "},   // 12 hundreds: a digit above 9 is not drawn
      {-2147483647 - 1, 1000000000, 0, 1, "-2147483648 "},
      {-2147483647 - 1, 100000000, 0, 1, "- 47483648 "},  // 21 hundred millions: not drawn
      {5, 0, 0, 0, " "},           // divisor 0: no digits
      {5, -10, 0, 0, " "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.cells);
    ElementRecord& e = image(0, ".e3d", kCell * engine::kCounterCells, kCellHeight, digit_strip());
    e.position[0] = 100, e.position[1] = 50;
    e.credits = c.value;
    e.display_area[0] = c.divisor, e.display_area[1] = c.point, e.display_area[2] = c.sign;
    start();
    engine::render_step(*world_);
    std::string seen;
    for (std::size_t k = 0; k < std::strlen(c.cells); ++k) {
      Rgb p = pixel(100 + static_cast<int>(k) * kCell + 1, 52);
      char got = '?';
      if (near(p, {0, 0, 0})) got = ' ';
      for (int cell = 0; cell < engine::kCounterCells; ++cell)
        if (near(p, scheme(cell_colour(cell)), 0)) got = "0123456789-."[cell];
      seen += got;
    }
    EXPECT_EQ(seen, c.cells);
    restart();
  }
}

TEST_F(LayersTest, CounterOutsideTheScreenDrawsNothing) {
  // x inside the width, y and y + height inside the height; else nothing at all.
  static constexpr struct {
    std::int32_t x, y;
    bool drawn;
  } kCases[] = {{0, 0, true},          {639, 0, true},   {630, 474, true}, {640, 0, false},
                {-1, 10, false},       {10, 475, false}, {10, -1, false},  {-2147483647 - 1, 10, false},
                {10, 2147483647, false}};
  for (const auto& c : kCases) {
    ElementRecord& e = image(0, ".e3d", kCell * engine::kCounterCells, kCellHeight, digit_strip());
    e.position[0] = c.x, e.position[1] = c.y;
    e.credits = 888;
    e.display_area[0] = 100;
    start();
    engine::render_step(*world_);
    EXPECT_EQ(lit(0, 0, 640, 480) > 0, c.drawn) << c.x << "," << c.y;
    restart();
  }
}

TEST_F(LayersTest, SpritesAndCountersArePickedWhereTheyAreOnTop) {
  std::vector<std::uint8_t> solid(100, 7);
  image(1, ".h3d", 10, 10, solid).position[0] = 100;          // A: x 100..109
  image(2, ".h3d", 10, 10, solid).position[0] = 105;          // B over A: x 105..114
  ElementRecord& clipped = image(3, ".h3d", 10, 10, solid);   // C: x 200..204 left by its clip
  clipped.position[0] = 200;
  clipped.display_area[0] = 200, clipped.display_area[1] = 0, clipped.display_area[2] = 204, clipped.display_area[3] = 479;
  ElementRecord& counter = image(4, ".e3d", kCell * engine::kCounterCells, kCellHeight, digit_strip());
  counter.position[0] = 300;                                  // sign and three digits: x 300..315, y 100..105
  counter.display_area[0] = 100, counter.display_area[2] = 1;
  for (int i = 1; i <= 4; ++i) element_table()[i].position[1] = 100;
  start();
  auto input = std::make_unique<platform::Input>();
  platform::Input& mouse = *input;
  world_->input = &mouse;
  // {x, y, B hidden} -> the element each keyword calls picked (0 none).
  static constexpr struct {
    int x, y;
    bool b_hidden;
    int sprite, counter;
  } kCases[] = {
      {102, 102, false, 1, 0}, {107, 102, false, 2, 0}, {107, 102, true, 1, 0}, {114, 109, false, 2, 0},
      {115, 102, false, 0, 0}, {102, 110, false, 0, 0}, {99, 102, false, 0, 0},  {204, 105, false, 3, 0},
      {205, 105, false, 0, 0}, {300, 100, false, 0, 4}, {315, 105, false, 0, 4}, {316, 103, false, 0, 0},
      {310, 106, false, 0, 0}, {0, 0, false, 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y << (c.b_hidden ? " B hidden" : ""));
    mouse.mouse_x = c.x, mouse.mouse_y = c.y;
    if (c.b_hidden) element_table()[2].flags &= ~project::kFlagShown;
    else element_table()[2].flags |= project::kFlagShown;
    for (int i = 1; i <= 4; ++i) {
      EXPECT_EQ(call("sprite_picked", ref(i)), c.sprite == i ? 1 : 0) << "sprite_picked " << i;
      EXPECT_EQ(call("counter_picked", ref(i)), c.counter == i ? 1 : 0) << "counter_picked " << i;
    }
  }
  EXPECT_EQ(call("sprite_picked", 12345), 0);
  world_->input = nullptr;
  mouse.mouse_x = 102, mouse.mouse_y = 102;
  EXPECT_EQ(call("sprite_picked", ref(1)), 0) << "no input: no pointer";
}

TEST_F(LayersTest, PictureFrameIsDrawnOnExactlyFourFramesAfterARefresh) {
  ElementRecord& frame = image(1, ".f3d", 8, 8, std::vector<std::uint8_t>(64, 200));
  frame.position[0] = 20 * 512000, frame.position[1] = 30 * 512000;  // (20, 30) in pixels
  image(2, ".f3d", 8, 8, std::vector<std::uint8_t>(64, 100)).flags &= ~project::kFlagOn;  // off at start
  engine::Layers& l = *start().layers;
  for (int k = 0; k < 6; ++k) engine::render_step(*world_);
  EXPECT_EQ(l.frame_drawings[1], 2u);  // on at run start: one drawing per page
  EXPECT_EQ(l.frame_drawings[2], 0u);
  EXPECT_TRUE(near(pixel(20, 30), scheme(200)));  // the picture stays after its last drawing
  EXPECT_TRUE(near(pixel(27, 37), scheme(200)));
  EXPECT_TRUE(near(pixel(28, 30), {0, 0, 0}));

  call("frame_refresh", ref(1));
  call("frame_refresh", ref(0));  // not a frame: nothing
  for (int k = 1; k <= 6; ++k) {
    engine::render_step(*world_);
    EXPECT_EQ(l.frame_drawings[1], 2u + std::min(k, 4)) << k;
    EXPECT_TRUE(near(pixel(24, 34), scheme(200)));
  }
  // Hidden, the frame leaves the picture; shown again it is drawn once more.
  frame.flags &= ~project::kFlagShown;
  engine::render_step(*world_);
  EXPECT_TRUE(near(pixel(24, 34), {0, 0, 0}));
  frame.flags |= project::kFlagShown;
  engine::render_step(*world_);
  engine::render_step(*world_);
  EXPECT_EQ(l.frame_drawings[1], 7u);
  EXPECT_TRUE(near(pixel(24, 34), scheme(200)));
  // `frame_refresh_all`: every shown frame, the one switched off included.
  call("frame_refresh_all");
  EXPECT_EQ(l.refresh[1], engine::kFrameRefresh);
  EXPECT_EQ(l.refresh[2], engine::kFrameRefresh);
}

TEST_F(LayersTest, PictureFramesStretchWithTheDisplayModeAndCountersDoNot) {
  // An 8 x 8 frame at (20, 30) of the 640 x 480 design; a counter at display pixel (100, 50).
  static constexpr struct {
    int mode, x1, y1, x2, y2;  // the frame's pixels, right and bottom one past
  } kModes[] = {{1, 20, 30, 28, 38}, {4, 25, 37, 35, 47}, {16, 32, 48, 44, 60}};
  for (const auto& m : kModes) {
    SCOPED_TRACE(m.mode);
    ElementRecord& frame = image(1, ".f3d", 8, 8, std::vector<std::uint8_t>(64, 200));
    frame.position[0] = 20 * 512000, frame.position[1] = 30 * 512000;
    ElementRecord& counter = image(2, ".e3d", kCell * engine::kCounterCells, kCellHeight, digit_strip());
    counter.position[0] = 100, counter.position[1] = 50;
    counter.credits = 3;
    counter.display_area[0] = 1;
    start(m.mode);
    engine::render_step(*world_);
    EXPECT_TRUE(near(pixel(m.x1, m.y1), scheme(200)));
    EXPECT_TRUE(near(pixel(m.x2 - 1, m.y2 - 1), scheme(200)));
    EXPECT_TRUE(near(pixel(m.x2, m.y2 - 1), {0, 0, 0}));
    EXPECT_TRUE(near(pixel(m.x2 - 1, m.y2), {0, 0, 0}));
    EXPECT_TRUE(near(pixel(100, 50), scheme(cell_colour(3)), 0));
    EXPECT_TRUE(near(pixel(100 + kCell, 50), {0, 0, 0}));
    restart();
  }
}

TEST_F(LayersTest, ImagesAreTransparentTranslucentAndClipped) {
  int red = media::colour_index(255, 0, 0), blue = media::colour_index(0, 0, 255);
  backdrop(0, red);
  // 10 x 10 blue with a colour-0 hole at its top-left pixel.
  std::vector<std::uint8_t> pixels(100, static_cast<std::uint8_t>(blue));
  pixels[0] = 0;
  ElementRecord& solid = image(1, ".h3d", 10, 10, pixels);
  solid.position[0] = 100, solid.position[1] = 100;
  ElementRecord& glass = image(2, ".h3d", 10, 10, pixels);
  glass.position[0] = 200, glass.position[1] = 100;
  call("translucent", ref(2), 1);
  EXPECT_TRUE(glass.flags & project::kFlagCameraSwitch);
  ElementRecord& clipped = image(3, ".h3d", 10, 10, pixels);
  clipped.position[0] = 300, clipped.position[1] = 100;
  call("sprite_clip_set", ref(3), 303, 100, 305, 109);  // columns 303..305 only
  EXPECT_EQ(call("sprite_clip_x2", ref(3)), 305);
  start();
  engine::render_step(*world_);
  Rgb r = scheme(red), b = scheme(blue);
  Rgb mean{(r.r + b.r) / 2, (r.g + b.g) / 2, (r.b + b.b) / 2};
  EXPECT_TRUE(near(pixel(100, 100), r));  // colour 0 lets the picture through
  EXPECT_TRUE(near(pixel(105, 105), b));
  EXPECT_TRUE(near(pixel(200, 100), r));
  EXPECT_TRUE(near(pixel(205, 105), mean, 3));  // blended per channel
  EXPECT_TRUE(near(pixel(302, 105), r));
  EXPECT_TRUE(near(pixel(303, 105), b));
  EXPECT_TRUE(near(pixel(305, 105), b));
  EXPECT_TRUE(near(pixel(306, 105), r));
  // Off again: opaque.
  call("translucent", ref(2), 0);
  engine::render_step(*world_);
  EXPECT_TRUE(near(pixel(205, 105), b));
}

TEST_F(LayersTest, TextAppearsWhereThePenWasMovedForTheTicksThatPrintIt) {
  compile({lines_of({"var t", "t = timer(element)", "if t < 2", "color_set(0, 255, 0)",
                     "print(\"HHHH\", 100, 200, 0)", "print_num(-1234, 2, 400, 300, 5)", "endif"})});
  start();
  engine::brain_pass(*world_);
  engine::render_step(*world_);
  EXPECT_GT(lit(100, 200, 50, 20), 40);
  EXPECT_EQ(lit(0, 0, 640, 195), 0);     // nothing above the pen
  EXPECT_EQ(lit(0, 180, 98, 40), 0);     // nor left of it
  EXPECT_GT(lit(400, 300, 80, 20), 40);  // "-12.34" with the default font
  int green = 0;
  for (int x = 100; x < 150; ++x)
    for (int y = 200; y < 220; ++y) {
      Rgb p = pixel(x, y);
      green += p.g > 200 && p.r < 40 && p.b < 40;
    }
  EXPECT_GT(green, 10);
  engine::render_step(*world_);  // every drawn frame replays the list
  EXPECT_GT(lit(100, 200, 50, 20), 40);
  engine::brain_pass(*world_);   // t = 1: printed again
  engine::brain_pass(*world_);   // t = 2: the list is empty
  engine::render_step(*world_);
  EXPECT_EQ(lit(0, 0, 640, 480), 0);
}

TEST_F(LayersTest, TextThatIsNoLiteralPrintsAsEmpty) {
  compile({lines_of({"print(0, 10, 10, 0)", "print(123456, 10, 40, 0)", "print(-1, 10, 70, 0)"})});
  start();
  engine::brain_pass(*world_);
  engine::render_step(*world_);
  EXPECT_EQ(lit(0, 0, 640, 480), 0);
}

TEST_F(LayersTest, FontSlotsChangeTheFace) {
  compile({lines_of({"font_set(\"DejaVu Sans\", -40, 700, 3)", "font_set(\"DejaVu Sans\", -40, 700, 99)",
                     "print(\"H\", 10, 10, 3)", "print(\"H\", 300, 10, 7)", "print(\"H\", 500, 10, 15)"})});
  start();
  engine::brain_pass(*world_);
  engine::render_step(*world_);
  int big = lit(0, 0, 100, 80), empty_slot = lit(290, 0, 100, 80), clamped = lit(490, 0, 100, 80);
  EXPECT_GT(big, 2 * empty_slot);    // slot 3: 40 pixels bold; slot 7: the default font
  EXPECT_NEAR(clamped, big, big / 10);  // slot 99 is slot 15
  EXPECT_GT(empty_slot, 0);
}

// A brain animating a text size in an endless loop: each new size is
// rasterised and charged to its budget, so the tick ends with the brain
// stopped as an endless loop, its last font kept. The watchdog only turns a
// hang into a failure.
TEST_F(LayersTest, FontSizesSetInALoopSpendTheBudget) {
  compile({lines_of({"var i", "loop:", "i = i + 1", "if i > 250", "i = 8", "endif",
                     "font_set(\"DejaVu Sans\", i, 400, 0)", "goto loop"})});
  start();
  {
    test_support::Watchdog watchdog("a loop of font sizes", 120);
    engine::brain_pass(*world_);
  }
  EXPECT_TRUE(world_->brain_stopped[0]);
  compile({lines_of({"print(\"H\", 10, 10, 0)"})});
  world_->brain_stopped[0] = false;
  engine::brain_pass(*world_);
  engine::render_step(*world_);
  EXPECT_GT(lit(0, 0, 640, 480), 0);
}

TEST_F(LayersTest, TextListOverflowDropsTheRestSafely) {
  compile({lines_of({"var i", "loop:", "print(\"overflowing text\", i, 100, 0)", "i = i + 1",
                     "if i < 5000", "goto loop", "endif", "color_set(255, 0, 0)"})});
  start();
  engine::TextList& text = world_->text;
  engine::brain_pass(*world_);
  EXPECT_TRUE(text.full);
  EXPECT_LT(text.used, engine::kTextListWords);
  EXPECT_EQ(text.word[text.used], engine::kTextEnd);
  // The last command of the pass (the colour) was dropped with the rest.
  for (int k = 0; k < text.used; k += text.word[k] == engine::kTextColour ? 2 : 3)
    ASSERT_NE(text.word[k], engine::kTextColour) << k;
  engine::render_step(*world_);
  EXPECT_GT(lit(0, 95, 640, 30), 100);
  // The next pass starts empty.
  engine::clear_text_list(*world_);
  EXPECT_FALSE(text.full);
  EXPECT_EQ(text.used, 0);

  // The list itself: commands that do not fit are refused whole.
  engine::TextList t;
  const std::int32_t move[] = {engine::kTextMove, 1, 2};
  int pushed = 0;
  while (engine::text_push(t, move)) ++pushed;
  EXPECT_EQ(pushed, (engine::kTextListWords - 1) / 3);
  const std::int32_t colour[] = {engine::kTextColour, 0};
  EXPECT_FALSE(engine::text_push(t, colour));
  engine::TextList pool;
  std::string long_text(engine::kTextPoolBytes, 'x');
  const std::int32_t string[] = {engine::kTextString, 0, 0};
  EXPECT_FALSE(engine::text_push(pool, string, long_text));  // no room for its zero
  EXPECT_EQ(pool.used, 0);
}

TEST_F(LayersTest, DamagedImageRecordsDrawNothing) {
  std::vector<std::uint8_t> px(48, 99);
  struct Case {
    const char* tag;
    std::int32_t address_offset, width, height;
  } cases[] = {
      {".e3d", 0, 11, 4},          // narrower than twelve cells
      {".e3d", 0, 48, 0},
      {".e3d", 0, 48, 100000},     // beyond its pixels
      {".h3d", 0, -5, 4},
      {".h3d", 0, 65536, 65536},   // w x h overflows 32 bits
      {".h3d", -0x10000000, 4, 4}, // pixel address outside the budget
      {".f3d", 0, 2147483647, 2},
      {".f3d", 0x7FFFFFFF, 4, 4},
  };
  for (const Case& c : cases) {
    ElementRecord& e = image(0, c.tag, c.width, c.height, px);
    auto* a = const_cast<project::AspectRecord*>(engine::aspect_at(e.current_aspect));
    a->word[0] = static_cast<std::int32_t>(static_cast<std::uint32_t>(a->word[0]) + static_cast<std::uint32_t>(c.address_offset));
    e.credits = 5;
    e.display_area[0] = 1;
    start();
    engine::render_step(*world_);
    EXPECT_EQ(lit(0, 0, 640, 480), 0) << c.tag << " " << c.width << "x" << c.height;
    restart();
  }
  // A current aspect that is no aspect record at all.
  ElementRecord& e = element(0);
  e.current_aspect = 12345;
  start();
  engine::render_step(*world_);
  EXPECT_EQ(lit(0, 0, 640, 480), 0);
}

}  // namespace

namespace {

TEST_F(LayersTest, VideoWindowShowsTheClipOverItsRectangle) {
  std::string clip = "/tmp/zepta_layers_clip_" + std::to_string(getpid()) + ".avi";
  ASSERT_TRUE(video_test::write_clip(clip, {{255, 0, 0}}));
  world_->base_folder = "/tmp/";  // the clip is a file a brain names: inside the game's folders
  compile({lines_of({"play_set(100, 50, 200, 100, 1)", "play_task(\"" + clip + "\")"})});
  start();
  engine::brain_pass(*world_);
  engine::advance_video(*world_, world_->video.started);
  engine::render_step(*world_);
  EXPECT_TRUE(near(pixel(110, 60), {255, 0, 0}, 24));
  EXPECT_TRUE(near(pixel(295, 145), {255, 0, 0}, 24));
  EXPECT_EQ(lit(0, 0, 640, 48), 0);  // nothing outside the window
  EXPECT_EQ(lit(302, 50, 338, 100), 0);
  call("stop_task");
  engine::render_step(*world_);
  EXPECT_EQ(lit(0, 0, 640, 480), 0);
  std::remove(clip.c_str());
}

}  // namespace
