// Internals of scene rendering shared by the files of engine/render/: the
// run's scene objects and the aspect-record layouts of the scene's loaders.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/render/parts.h"
#include "engine/render/render.h"
#include "engine/render/shapes_local.h"

namespace engine {

enum class AspectKind : std::uint8_t { none, camera, visual, shape, light, decal, mesh };

struct AspectObject {
  scene::Frame frame;
  scene::Light light;
  scene::Texture decal;  // flat shapes (".b3d")
  AspectKind kind = AspectKind::none;
  std::uint32_t first_point = 0, point_count = 0;  // its model's vertex positions in Scene::points
};

struct CameraView {
  int element = -1;
  scene::Viewport viewport;
  std::int32_t fov_divisor = 0;  // `camera_fov_set` q: field = (s / 100) 240 / q; 0: from the projection value
  int x = 0, y = 0, width = 0, height = 0;  // display pixels
};

struct LoadedMesh {
  std::string key;  // files and settings of a visual frame
  scene::Mesh mesh;
  std::uint32_t first_point = 0, point_count = 0;
};

struct LoadedTexture {
  std::string path;
  scene::Texture texture;
};

// The four roots.
enum Root : int { kBackgroundRoot, kMainRoot, kShadowRoot, kOverlayRoot, kRoots };

struct Scene {
  SceneSetup setup;
  scene::Renderer* renderer = nullptr;
  bool draws = false;                  // a renderer with OpenGL
  int width = 640, height = 480;       // display size of the mode
  scene::Frame root[kRoots];
  scene::Frame background_frame[2];    // moved to each camera before the background scene is drawn
  scene::Animation shared_animation;   // scale and rotation keys at time 0
  AspectObject aspect[project::kMaxAspects];
  int aspect_count = 0;
  CameraView camera[kMaxCameraViews];
  int camera_count = 0;
  std::vector<LoadedTexture> textures;  // every image made a texture, by path (texture_of)
  std::vector<LoadedMesh> meshes;       // scene start only
  std::vector<scene::Vertex> vertices;  // scene start only
  std::vector<scene::Vec3> points;      // distinct vertex positions of the visuals' models (`bottom`)
  std::uint8_t palette[768] = {};       // the 2D screen's colours
  scene::Mesh marker[3];                // collision-volume box, radius sphere and cross

  // Renderer state that brains set.
  int background_style = 0;            // `background3d_set`: 0 none, 1 background scene, 2+ colour fills
  bool fog_effect = false;             // `fogeffect_set`
  bool overlays_deferred = false;      // `flats_priority_set`
  int field_of_view = 100;             // percent 1..100
  std::int32_t clip_distance = 30;     // scene units
  std::uint32_t background_colour = 0; // 0xAARRGGBB
  int display_mode_request = 0;        // `display_mode_set`: for the next start (0: none)
  int rendering_device = 1;            // `rendering_device_set`, 0..3
  bool shadow_layering = false;        // `v_shadow_factor`
  float shadow_offset = 0.001f;        // scene units
  bool drawn = false;                  // a picture has been drawn since start
  Shadows shadows;                     // volume shadows (buffer, layers, material)
  struct Layers* layers = nullptr;     // the 2D layers (layers_start .. layers_end)
  MeshParts parts;                     // part paths, extra model objects, mesh routine state
};

// The aspect record index of an address word, or -1.
int aspect_index(const World& w, std::int32_t address);

// An element's orientation as the rotation quaternion (the path of non-unit
// scales) and as direction and up vectors from the fixed-point table (the
// path of unit scales).
scene::Quat rotation_quat(const project::ElementRecord& e);
void orientation_vectors(const project::ElementRecord& e, scene::Vec3& direction, scene::Vec3& up);

// Places an element's aspect frame from its record: position, orientation and
// scale as the render step shows them (the render step calls it for every
// element on and shown; routines that read the scene call it to see this
// tick's placement).
void place_element_frame(Scene& scene, const project::ElementRecord& e, AspectObject& o);

// Camera projection: front, back and field of a viewport for the project's
// field-of-view percentage, clip distance and projection value p.
void camera_projection(int fov_percent, std::int32_t clip_distance, std::int32_t p, float& front, float& back,
                       float& field);
// A PCX or BMP image as a texture, loaded once per path and transparency for
// the scene; when the file is missing, "default_" + its extension in its
// folder. Invalid (reported when the file is no image) when neither can be had.
scene::Texture texture_of(Scene& scene, std::string_view path, bool colour0_transparent);
// Fog settings of the world into the roots (fog on for main, shadow and overlay
// when the effect is on).
void apply_fog(World& world);
// The background scene wears the image at path (a file that exists) from the
// next picture on; nothing changes when it already does.
void show_background_image(Scene& scene, const base::Text& path);
// Viewport rectangles of the cameras for the scene's display mode.
void place_viewports(World& world);
// A camera view's viewport looks through its element's current camera aspect
// with the scene's projection; false when that aspect is no camera.
bool aim_camera(World& world, const CameraView& view);

}  // namespace engine
