// Rendering: the run's scene made from the loaded aspects and kept in step
// with the element records, the render step that draws it with the 2D layers
// on top, the aspect words of the scene's kinds, screenshots and the video
// window's clip.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/engine.h"
#include "platform/scene/scene.h"

namespace engine {

// ---- Scene ----------------------------------------------------------------------------------

// What scene_start needs besides the world's tables.
struct SceneSetup {
  scene::Renderer* renderer = nullptr;  // null: scene logic runs, nothing is drawn
  base::Text work_folder;              // ends in "/"
  base::Text data_folder;              // hood and marker models; ends in "/"
  // The run's options: the display mode (1/2: 640 x 480, 4/8: 800 x 600, 16/32:
  // 1024 x 768), texture filtering 0..5 and the 8-bit 2D screen drawn over the
  // 3D picture (colour 0 lets the 3D through; null: none).
  RunOptions options;
  project::EngineSettings settings;     // clip distance, hood type, field of view
  base::Text background_image;         // the project's 3D background image ("" for the default)
  bool collision_volumes = false;       // load the marker models of the collision-volume display
};

// Aspect words of the scene's kinds (word[k] is the record's word k + 1).
// Paths are zero-terminated texts in the data arena, named by their byte
// offset into it plus one (0: none); readers check them against the arena.
// ".v3d" (one record per visual frame, one line of the file each):
enum VisualWord : int {
  kVisualTexture = 0,     // arena text: texture image (".bmp", ".pcx")
  kVisualModel = 1,       // arena text: model (".x", ".3ds", ".gltf", ".glb", ".obj")
  kVisualSecondModel = 2, // arena text: a second model drawn with the first, or 0
  kVisualQuality = 3,     // 0 wireframe, 1 unlit flat, 2 flat, 3 gouraud
  kVisualMaterial = 4,    // 0 dull, 1 metal
  kVisualColour = 5,      // 0xRRGGBB
  kVisualTransparent = 6, // 1: texture colour 0 is cut out
  kVisualTranslucency = 7,// percent 0..100 (100: invisible)
  kVisualFlip = 8,        // 1: faces turned inside out
  kVisualFrame = 9,       // the frame number of field 1
  kVisualOverlay = 10,    // 1: under the overlay scene, drawn after the main scene, back to front
};
// ".x3d" (made by the project's mesh loader): word[2] the animation-set index
// (-1 none), then the clock in thousandths of a second (formats.md's words 3..7):
enum MeshClockWord : int { kMeshAnimationSet = 2, kMeshSpeed = 3, kMeshTime = 4, kMeshRangeStart = 5, kMeshRangeEnd = 6 };
static_assert(kMeshAnimationSet == project::kMeshAnimationSetWord, "the loader's -1 is the animation-set index");
static_assert(kMeshRangeEnd < project::kMeshFileWord, "the clock ends before the model file's word");
// ".03d": word 0 the projection value p (negative; -240 gives a 90-degree view),
// which the record build replaces by display-area sub-field 5; word 4 keeps the
// file's value for when that sub-field is not negative.
inline constexpr int kCameraFileProjection = 4;
// ".g3d": word 0 arena text of the image, word 2 the colour index (0..255).
// ".l3d": word 0 light type (0 ambient, 1 point, 2 spot, 3 directional, 4 parallel
// point), word 1 colour 0xRRGGBB, word 2 attenuation (low 10 bits a: 1 - a / 1024).
inline constexpr int kGroundColourWord = 2;
// ".a3d" (3D shapes; arena references as for visuals): face records of 64
// bytes, the atlas image path, tile size and vertices (x, y, z in L each).
enum ShapeWord : int {
  kShapeFaceCount = 0,
  kShapeFaces = 1,        // arena reference of the face records
  kShapeAtlas = 2,        // arena text: the atlas image (256 wide, 8 bits, its palette the shape's)
  kShapeTileSize = 3,     // t, 1..256
  kShapeVertexCount = 4,
  kShapeVertices = 5,     // arena reference of the vertex list
  kShapeQuality = 6,      // 0 wireframe, 1 unlit flat, 2 flat, 3 gouraud
  // words 7..9: the terrain grid of a ground shape (engine/ground_local.h)
};

// The text an arena reference names, or "" when it is none or not a valid text.
std::string_view arena_text(const project::Tables& tables, std::int32_t reference);

inline constexpr int kMaxCameraViews = scene::kMaxViewports;  // camera elements that get a viewport

// Scene start: roots, fog, device settings, per-aspect objects and camera
// viewports for the loaded aspects (`load`) and built records. Replaces any
// earlier scene of the world. False (reported) when the scene could not be made.
bool scene_start(World& world, const project::AspectLoad& load, const SceneSetup& setup);
// Releases every object scene_start made; the renderer itself stays.
void scene_end(World& world);
// The render step: scene synchronisation, every camera's picture, the 2D screen,
// then the picture shown. Does nothing outside scene_start .. scene_end.
void render_step(World& world);
// Scene synchronisation alone (the first part of the render step).
void sync_scene(World& world);
// The frame of aspect record n (invalid when it has none), for tests and tools.
scene::Frame aspect_frame(const World& world, int n);
// The viewport of camera element i (invalid when it has none).
scene::Viewport camera_viewport(const World& world, int i);

// Registers the loaders of cameras (".03d"), visuals (".v3d"), backgrounds
// (".g3d"), lights, 3D shapes (".a3d", with the terrain grids of ground
// shapes) and boundary elements (".m3d" ground maps) with the project's
// loader registry.
void register_scene_loaders(project::AspectLoaders& loaders);

// Saves the picture last drawn as an RGB PNG; false (with a report) when there
// is no picture or the file can't be written.
bool save_screenshot(World& world, std::string_view path);
// PNG of width x height RGBA rows from the top, written atomically.
bool write_png(std::string_view path, const std::uint8_t* rgba, int width, int height);

// ---- The video window -------------------------------------------------------------------

// Moves the playing clip on to the frame due at timer value now (plays again
// or stops at its end).
void advance_video(World& world, std::uint32_t now);

}  // namespace engine
