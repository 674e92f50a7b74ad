// The same model as ".x", ".obj", ".gltf" and ".glb" draws the same pixels
// (drawn offscreen with Mesa, textured, lit, seen from the front).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/model_fixture.h"
#include "platform/platform.h"

namespace {

constexpr int kSize = 64;

// A 2 x 2 texture of four colours, so that a turned or flipped mapping shows.
scene::Texture four_colours(scene::Renderer& r) {
  std::uint8_t pixels[4] = {1, 2, 3, 4};
  std::uint8_t palette[768] = {};
  const std::uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {255, 255, 0}, {255, 0, 255}};
  for (int i = 0; i < 4; ++i) std::memcpy(palette + 3 * (i + 1), colours[i], 3);
  return scene::texture_create(r, pixels, 2, 2, 2, palette, false);
}

// The model's pixels: camera at the origin looking along +z, the model 4 units ahead.
std::vector<std::uint8_t> draw(scene::Renderer& r, const std::vector<scene::Vertex>& model) {
  scene::Frame root = scene::frame_create(r, {});
  scene::Frame camera = scene::frame_create(r, root);
  scene::Viewport view = scene::viewport_create(r, camera, 0, 0, kSize, kSize);
  scene::viewport_set_front(r, view, 1);
  scene::viewport_set_back(r, view, 100);
  scene::frame_set_background(r, root, {0, 0, 1, 1});
  scene::frame_add_light(r, camera, scene::light_create(r, {scene::LightKind::directional, {1, 1, 1}}));
  scene::Texture t = four_colours(r);
  scene::FaceGroup group{0, static_cast<int>(model.size()), scene::material_create(r, {}), t, scene::Quality::gouraud};
  scene::Frame f = scene::frame_create(r, root);
  scene::frame_set_position(r, f, {}, {0, 0, 4});
  scene::frame_add_mesh(r, f, scene::mesh_create(r, model, {&group, 1}));
  scene::clear(r, {0, 0, 0, 1});
  scene::viewport_clear(r, view, scene::kClearDepth | scene::kClearColour);
  scene::render(r, view, root);
  std::vector<std::uint8_t> pixels(kSize * kSize * 4);
  EXPECT_TRUE(scene::read_pixels(r, 0, 0, kSize, kSize, pixels.data()));
  scene::frame_destroy(r, root);
  scene::viewport_destroy(r, view);
  scene::texture_destroy(r, t);
  return pixels;
}

TEST(ModelDraw, EveryFormatDrawsTheSamePixels) {
  if (!platform::model_library_available()) GTEST_SKIP() << "no model library";
  char error[160] = {};
  scene::Renderer* r = scene::create_offscreen(kSize, kSize, error, sizeof error);
  if (!r && std::strncmp(error, "no ", 3) == 0) GTEST_SKIP() << error;
  ASSERT_NE(r, nullptr) << error;
  char name[] = "/tmp/zepta_model_draw_XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  std::string folder = std::string(name) + "/";
  auto put = [&](const std::string& file, const std::string& bytes) {
    std::ofstream(folder + file, std::ios::binary) << bytes;
    return folder + file;
  };
  put("shape.bin", model_fixture::gltf_buffer());
  put("skin.mtl", model_fixture::mtl_text("skin.bmp"));
  std::vector<scene::Vertex> reference;
  std::string why;
  ASSERT_TRUE(platform::load_model(put("shape.x", model_fixture::x_text()), reference, why)) << why;
  std::vector<std::uint8_t> want = draw(*r, reference);
  // The ".x" model itself: the square's top left is red, its bottom right magenta,
  // the small triangle on the right (+x is the screen's right) and the sides round it blue.
  auto at = [&](const std::vector<std::uint8_t>& p, int x, int y) {
    const std::uint8_t* c = &p[static_cast<std::size_t>(y * kSize + x) * 4];  // rows from the top
    return std::to_string(c[0] / 128) + std::to_string(c[1] / 128) + std::to_string(c[2] / 128);
  };
  EXPECT_EQ(at(want, 24, 20), "100");  // red
  EXPECT_EQ(at(want, 40, 40), "101");  // magenta
  EXPECT_EQ(at(want, 2, 12), "001");   // the background left of the square
  EXPECT_NE(at(want, 53, 17), "001");  // the small triangle, right of the square at its top
  EXPECT_EQ(at(want, 53, 44), "001");  // and nothing below it
  struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"shape.obj", model_fixture::obj_text("skin.mtl")},
      {"shape.gltf", model_fixture::gltf_json("shape.bin")},
      {"shape.glb", model_fixture::glb_bytes(model_fixture::gltf_json(""), model_fixture::gltf_buffer())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<scene::Vertex> model;
    ASSERT_TRUE(platform::load_model(put(c.name, c.bytes), model, why)) << why;
    std::vector<std::uint8_t> got = draw(*r, model);
    int differ = 0;
    for (std::size_t i = 0; i < got.size(); ++i) differ += got[i] != want[i];
    EXPECT_EQ(differ, 0);
  }
  scene::destroy(r);
  std::filesystem::remove_all(folder);
}

}  // namespace
