// Previews drawn by the scene layer: a model lit and fitted into a rectangle of
// the renderer's target, read back and folded to the colour scheme of the
// 8-bit screen. Every object made for a preview is released after it.
#include <algorithm>
#include <cmath>
#include <vector>

#include "media/media.h"
#include "platform/platform.h"
#include "ui/browser.h"

namespace ui {

namespace {

// The background of a preview whose screen shows through: no lit model gives it.
constexpr scene::Colour kKey{1.0f, 0.0f, 1.0f, 1.0f};
constexpr std::uint8_t kKeyR = 255, kKeyG = 0, kKeyB = 255;

scene::Colour colour_of(std::uint32_t rgb) {
  return {((rgb >> 16) & 255) / 255.0f, ((rgb >> 8) & 255) / 255.0f, (rgb & 255) / 255.0f, 1.0f};
}

// Everything one preview makes, released in reverse.
struct PreviewObjects {
  explicit PreviewObjects(scene::Renderer& renderer) : r(renderer) {}
  scene::Renderer& r;
  scene::Frame root, camera, lights[2], model;
  scene::Light light[2];
  scene::Material material;
  scene::Texture texture;
  scene::Mesh mesh;
  scene::Viewport viewport;
  ~PreviewObjects() {
    if (scene::valid(viewport)) scene::viewport_destroy(r, viewport);
    if (scene::valid(root)) scene::frame_destroy(r, root);
    if (scene::valid(mesh)) scene::mesh_destroy(r, mesh);
    if (scene::valid(texture)) scene::texture_destroy(r, texture);
    if (scene::valid(material)) scene::material_destroy(r, material);
    for (scene::Light l : light)
      if (scene::valid(l)) scene::light_destroy(r, l);
  }
};

}  // namespace

scene::Renderer* preview_renderer(const BrowseFolders& folders) {
  return folders.renderer ? folders.renderer : platform::scene_renderer();
}

bool draw_model_preview(Screen& screen, scene::Renderer& r, int x, int y, int width, int height,
                        const PreviewModel& model, PreviewView view, bool keep_background) {
  int tw = 0, th = 0;
  scene::target_size(r, tw, th);
  if (!scene::has_gl(r) || model.vertices.size() < 3 || width <= 0 || height <= 0 || x < 0 || y < 0 ||
      x + width > tw || y + height > th || x + width > screen.width || y + height > screen.height || !screen.pixels)
    return false;
  PreviewObjects o(r);
  o.root = scene::frame_create(r, {});
  o.camera = scene::frame_create(r, o.root);  // the clear colour is the background of the camera's root
  o.model = scene::frame_create(r, o.root);
  if (!scene::valid(o.root) || !scene::valid(o.camera) || !scene::valid(o.model)) return false;
  scene::frame_set_background(r, o.root, keep_background ? kKey : scene::Colour{0, 0, 0, 1});

  // Lights: a soft ambient one and a directional one from above the camera's left.
  scene::LightDesc ambient;
  ambient.kind = scene::LightKind::ambient;
  ambient.colour = {0.35f, 0.35f, 0.35f};
  scene::LightDesc sun;
  sun.kind = scene::LightKind::directional;
  sun.colour = {0.85f, 0.85f, 0.85f};
  o.light[0] = scene::light_create(r, ambient);
  o.light[1] = scene::light_create(r, sun);
  for (int k = 0; k < 2; ++k) {
    o.lights[k] = scene::frame_create(r, o.root);
    if (scene::valid(o.light[k])) scene::frame_add_light(r, o.lights[k], o.light[k]);
  }
  scene::frame_set_orientation(r, o.lights[1], {}, scene::normalise(scene::Vec3{0.4f, -0.7f, 0.6f}), {0, 1, 0});

  scene::MaterialDesc m;
  m.colour = colour_of(model.colour);
  m.colour.a = 1.0f - std::clamp(model.translucency, 0, 100) / 100.0f;
  if (model.metal) m.specular = {0.6f, 0.6f, 0.6f}, m.power = 12;
  o.material = scene::material_create(r, m);
  if (model.texture && model.texture->width > 0 && model.texture->height > 0 &&
      model.texture->width <= scene::kMaxTextureSide && model.texture->height <= scene::kMaxTextureSide) {
    std::uint8_t palette[768];
    for (int i = 0; i < 256; ++i)
      for (int k = 0; k < 3; ++k) palette[i * 3 + k] = model.texture->palette[i][k];
    o.texture = scene::texture_create(r, model.texture->pixels.data(), model.texture->width, model.texture->height,
                                      model.texture->width, palette, model.transparent);
  }
  static constexpr scene::Quality kQualities[] = {scene::Quality::wireframe, scene::Quality::unlit_flat,
                                                  scene::Quality::flat, scene::Quality::gouraud};
  scene::FaceGroup g;
  g.vertex_count = static_cast<int>(model.vertices.size() / 3 * 3);
  g.material = o.material;
  g.texture = o.texture;
  g.quality = kQualities[std::clamp(model.quality, 0, 3)];
  o.mesh = scene::mesh_create(r, std::span(model.vertices.data(), static_cast<std::size_t>(g.vertex_count)),
                              std::span(&g, 1));
  if (!scene::valid(o.mesh) || !scene::frame_add_mesh(r, o.model, o.mesh)) return false;

  o.viewport = scene::viewport_create(r, o.camera, x, y, width, height);
  if (!scene::valid(o.viewport)) return false;
  if (view == PreviewView::camera) {
    scene::viewport_set_front(r, o.viewport, 0.05f);
    scene::viewport_set_back(r, o.viewport, 1000.0f);
    scene::viewport_set_field(r, o.viewport, 0.05f);  // 240 / 240: a 90-degree vertical view
  } else {
    scene::Vec3 lo = model.vertices[0].position, hi = lo;
    for (const scene::Vertex& v : model.vertices) {
      lo = {std::min(lo.x, v.position.x), std::min(lo.y, v.position.y), std::min(lo.z, v.position.z)};
      hi = {std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z)};
    }
    scene::Vec3 centre = scene::scale(scene::add(lo, hi), 0.5f);
    float radius = std::max(1e-3f, scene::modulus(scene::sub(hi, centre)));
    if (!std::isfinite(radius)) return false;
    // A half-height of 0.5 at distance 1 and a margin of a tenth.
    float distance = radius * 1.1f / std::sin(std::atan(0.5f));
    scene::Vec3 direction = scene::normalise(scene::Vec3{0.45f, -0.35f, 1.0f});
    scene::frame_set_position(r, o.camera, {}, scene::sub(centre, scene::scale(direction, distance)));
    scene::frame_set_orientation(r, o.camera, {}, direction, {0, 1, 0});
    float front = std::max(distance - radius * 1.5f, distance * 0.01f);
    scene::viewport_set_front(r, o.viewport, front);
    scene::viewport_set_back(r, o.viewport, distance + radius * 1.5f);
    scene::viewport_set_field(r, o.viewport, front * 0.5f);
  }
  scene::viewport_clear(r, o.viewport, scene::kClearDepth | scene::kClearColour);
  scene::render(r, o.viewport, o.root);
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
  if (!scene::read_pixels(r, x, y, width, height, rgba.data())) return false;
  for (int j = 0; j < height; ++j) {
    std::uint8_t* row = screen.pixels + static_cast<std::size_t>(y + j) * screen.width + x;
    const std::uint8_t* in = &rgba[static_cast<std::size_t>(j) * width * 4];
    for (int i = 0; i < width; ++i, in += 4) {
      if (keep_background && in[0] == kKeyR && in[1] == kKeyG && in[2] == kKeyB) continue;
      row[i] = static_cast<std::uint8_t>(media::colour_index(in[0], in[1], in[2]));
    }
  }
  return true;
}

}  // namespace ui
