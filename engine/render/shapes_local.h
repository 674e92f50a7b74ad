// Internals of 3D shapes (".a3d"), lights and volume shadows shared by the
// engine's shape, light and shadow files and the render step.
#pragma once

#include <cstdint>
#include <span>

#include "platform/scene/scene.h"
#include "project/project.h"
#include "base/log.h"

namespace engine {

struct World;
struct Scene;

// ---- Shapes ---------------------------------------------------------------------------

inline constexpr int kMaxShapeVertices = 4096;  // per ".a3d" file; more are reported "full"
inline constexpr int kMaxShapeFaces = 4096;
inline constexpr int kMaxAtlasHeight = 2048;    // texels; a tile reaching below is skipped
inline constexpr int kAtlasWidth = 256;
inline constexpr float kShapeCrease = 1.5708f;  // radians: faces closer than this share normals

// One 64-byte face record as the loader stores it in the data arena.
struct ShapeFace {
  std::int32_t flags;        // kFace... bits; colour index in bits 16..23
  std::int32_t tile;         // row << 8 | column, in atlas pixels
  std::int32_t vertex[4];    // indexes into the shape's vertex list; [3] only for quads
  std::int32_t unused[10];
};
static_assert(sizeof(ShapeFace) == 64);

inline constexpr std::int32_t kFaceTransparent = 1;  // the atlas's colour 0 is cut out
inline constexpr std::int32_t kFaceColoured = 2;     // plain palette colour, no texture
inline constexpr std::int32_t kFaceQuad = 4;         // four vertices
inline constexpr std::int32_t kFaceMirrored = 8;     // triangle texture coordinates mirrored

inline int face_corners(const ShapeFace& f) { return f.flags & kFaceQuad ? 4 : 3; }
inline int face_colour(const ShapeFace& f) { return (f.flags >> 16) & 255; }

// Texture coordinates of a face's corners (3 or 4) for an atlas of height h
// (a power of two) and tile size t: the tile's rectangle inset by 1/128 in u
// and 2/h in v. Coloured faces get none (false).
bool face_uv(const ShapeFace& face, int tile_size, int atlas_height, float u[4], float v[4]);
// The atlas height the textured faces need: the smallest power of two >= 1
// covering every tile's row + t (at most kMaxAtlasHeight).
int atlas_height(std::span<const ShapeFace> faces, int tile_size);
// Vertex normals for triangles (3 vertices each, clockwise fronts): each corner
// averages the face normals of the triangles that share its position and meet
// its own face at less than `crease` radians.
void crease_normals(std::span<scene::Vertex> triangles, float crease);

// The shape's faces and vertices in the arena, checked against the arena's
// bounds (empty spans when the record names none or they don't fit).
std::span<const ShapeFace> shape_faces(const project::Tables& tables, const project::AspectRecord& a);
std::span<const std::int32_t> shape_vertices(const project::Tables& tables, const project::AspectRecord& a);

// Loader of ".a3d" files (registered by register_scene_loaders).
bool load_shape(project::LoaderCall& call);
// Scene start: the shape's mesh (or meshes) attached to frame.
void build_shape(World& world, Scene& scene, const project::AspectRecord& a, scene::Frame frame);

// ---- Volume shadows ---------------------------------------------------------------------

inline constexpr int kShadowBufferBytes = 28000;
inline constexpr int kShadowBufferFloats = kShadowBufferBytes / 4;
inline constexpr int kMaxShadowVolumes = kShadowBufferFloats / 7;  // one plane each at least
inline constexpr int kShadowVolumePlanes = 6;   // four sides, near and far cap
inline constexpr int kMaxShadowLayers = 64;
inline constexpr int kMaxShadowCopies = 1024;   // clipped copies over all layers
inline constexpr int kMaxCopiesPerLayer = 256;

// Where a volume in the buffer came from, to derive it again (`v_shadow_update`).
struct ShadowSource {
  std::int32_t occluder = 0;  // element index
  std::int32_t light = -1;    // light element index, -1: the first directional light
  std::int32_t length = 0;    // reach in position units (0: the clip distance)
  int at = 0;                 // float index of the volume's count in the buffer
};

// A frame of the shadow scene mirroring one receiver frame, with one clipped
// copy of the receiver's meshes per volume.
struct ShadowLayer {
  scene::Frame layer;       // child of the shadow root, identity
  scene::Frame source;      // the receiver's frame in the main scene
  scene::Mesh mesh;         // the receiver mesh this layer copies
  int copies = 0;
  scene::Frame volume[kMaxCopiesPerLayer];  // identity, the volume's clip planes in world space
  scene::Frame mirror[kMaxCopiesPerLayer];  // placed as the source, the mesh attached
};

// The shadow material override: diffuse, ambient, emissive, specular (r, g, b,
// a each 0..1) and power.
struct ShadowMaterial {
  float part[4][4] = {{1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}};
  float power = 5;
};

struct Shadows {
  float buffer[kShadowBufferFloats] = {};  // volumes: count n, then n x (point, normal); 0 ends
  int used = 0;                            // floats before the ending 0
  ShadowSource source[kMaxShadowVolumes];
  int volumes = 0;
  ShadowLayer layer[kMaxShadowLayers];
  int layers = 0;
  int copies = 0;
  bool on = false;                         // volume shadows drawn
  ShadowMaterial material;
  scene::Material override_material;       // made at the first layer
  // `v_shadow_volume_add` on a full buffer: a few reported, the rest counted until the scene ends.
  base::RepeatedReport full{"render", "shadow volume buffer full"};
  base::RepeatedReport copies_full{"render", "shadow copies full"};  // likewise for each layer's clipped copies
  base::RepeatedReport layers_full{"render", "shadow layers full"};
};

// Synchronisation step 5: each layer's mirrors take the placement and
// traversal of its source frame.
void sync_shadows(World& world);
// Render step 3's shadow pass for one camera viewport (after the main scene).
void render_shadows(World& world, scene::Viewport viewport);

}  // namespace engine
