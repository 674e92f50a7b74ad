// Internals of the scene layer: the object pools inside a Renderer.
#pragma once

#include "platform/scene/scene.h"

#include <vector>

namespace scene {

inline constexpr int kNone = -1;

struct FrameSlot {
  bool used = false;
  int parent = kNone, first_child = kNone, next_sibling = kNone;
  int first_visual = kNone;
  Vec3 position;
  Quat rotation;
  Vec3 scale{1, 1, 1};
  std::uint32_t traversal = kRenderEnable | kPickEnable;
  SortMode sort = SortMode::none;
  int material_override = kNone;
  int clip_count = 0;
  float clip[kMaxClipPlanes][4] = {};  // unit normal and offset: n . p + d >= 0 is kept
  // Scene settings, used when the frame is the root that render() draws.
  bool fog_on = false;
  float fog_start = 0, fog_end = 1;
  Colour fog_colour{0, 0, 0, 1};
  Colour background{0, 0, 0, 1};
};

enum class VisualKind : std::uint8_t { mesh, decal, light };
struct VisualSlot {
  bool used = false;
  VisualKind kind = VisualKind::mesh;
  int object = kNone;  // mesh, texture or light index
  int next = kNone;    // next attachment of the frame, or next free slot
};

struct MeshSlot {
  bool used = false;
  unsigned vao = 0, vbo = 0;
  int vertex_count = 0;
  int group_count = 0;
  FaceGroup groups[kMaxGroupsPerMesh];
};

struct MaterialSlot {
  bool used = false;
  MaterialDesc desc;
};

struct TextureSlot {
  bool used = false;
  unsigned gl = 0;
  int width = 0, height = 0;
  float decal_width = 1, decal_height = 1;  // scene units
};

struct LightSlot {
  bool used = false;
  LightDesc desc;
};

struct ViewportSlot {
  bool used = false;
  int camera = kNone;
  int x = 0, y = 0, width = 0, height = 0;
  float front = 1, back = 100, field = 0.5f;
};

enum KeyKind : std::uint8_t { kKeyScale, kKeyRotation, kKeyPosition, kKeyKinds };
struct KeySlot {
  float time = 0;
  float value[4] = {};
  int next = kNone;  // next key of the same kind by time, or next free slot
};

struct AnimationSlot {
  bool used = false;
  int frame = kNone;
  bool closed = false;
  int first_key[kKeyKinds] = {kNone, kNone, kNone};
  int set = kNone, next_in_set = kNone;
};

struct AnimationSetSlot {
  bool used = false;
  int first = kNone;
};

// One mesh group (or decal) to draw, gathered by render().
struct DrawItem {
  int frame = kNone;
  int mesh = kNone, group = 0;  // mesh kNone: a decal
  int texture = kNone;          // decal texture
  int material = kNone;         // after any override
  int clip_frame = kNone;       // the frame whose clip planes apply
  float depth = 0;              // camera distance of the frame origin
  int order = 0;                // place in the tree walk, for ties
  bool translucent = false;
};

// Where the shader's uniforms are.
struct Uniforms {
  int model = -1, view = -1, projection = -1, normal_matrix = -1;
  int colour = -1, emissive = -1, specular = -1, power = -1, lighting = -1;
  int use_texture = -1, alpha_cut = -1, sampler = -1;
  int ambient = -1, light_count = -1, light_kind = -1, light_colour = -1, light_position = -1,
      light_direction = -1, light_range = -1, light_attenuation = -1, light_cone = -1;
  int fog_on = -1, fog_start = -1, fog_end = -1, fog_colour = -1;
  int clip_count = -1, clip_planes = -1;
};

struct Renderer {
  // GL (all zero without GL)
  bool gl = false;
  SDL_Window* window = nullptr;
  bool own_window = false;
  void* context = nullptr;
  int width = 0, height = 0;  // display target
  unsigned fbo = 0, colour_buffer = 0, depth_buffer = 0;
  unsigned program = 0;
  Uniforms u;
  unsigned quad_vao = 0, quad_vbo = 0;  // unit quad for decals and the 2D screen
  unsigned screen_texture = 0;
  int screen_width = 0, screen_height = 0;
  std::vector<std::uint8_t> screen_rgba;  // grows only when the 2D screen grows
  unsigned layer_texture[kLayerSlots] = {};  // draw_layer()
  int layer_width[kLayerSlots] = {}, layer_height[kLayerSlots] = {};
  int texture_quality = 0;
  bool specular = true;

  char error[160] = {};

  FrameSlot frames[kMaxFrames];
  VisualSlot visuals[kMaxVisuals];
  int free_visual = kNone;
  MeshSlot meshes[kMaxMeshes];
  MaterialSlot materials[kMaxMaterials];
  TextureSlot textures[kMaxTextures];
  LightSlot lights[kMaxLights];
  ViewportSlot viewports[kMaxViewports];
  AnimationSlot animations[kMaxAnimations];
  AnimationSetSlot animation_sets[kMaxAnimationSets];
  KeySlot keys[kMaxKeys];
  int free_key = kNone;

  // Scratch of render(): sized once, reused every call.
  Mat4 world[kMaxFrames];
  int stack[kMaxFrames];
  int stack_override[kMaxFrames];
  int stack_clip[kMaxFrames];
  DrawItem items[kMaxDrawItems];
  int light_frame[kMaxActiveLights];
  int light_index[kMaxActiveLights];
};

// Sets last_error and reports it once with the scene tag.
void fail(Renderer& r, const char* format, ...) __attribute__((format(printf, 2, 3)));
void init_pools(Renderer& r);

inline bool frame_ok(const Renderer& r, Frame f) { return f.id >= 0 && f.id < kMaxFrames && r.frames[f.id].used; }
inline bool mesh_ok(const Renderer& r, Mesh m) { return m.id >= 0 && m.id < kMaxMeshes && r.meshes[m.id].used; }
inline bool material_ok(const Renderer& r, Material m) {
  return m.id >= 0 && m.id < kMaxMaterials && r.materials[m.id].used;
}
inline bool texture_ok(const Renderer& r, Texture t) {
  return t.id >= 0 && t.id < kMaxTextures && r.textures[t.id].used;
}
inline bool light_ok(const Renderer& r, Light l) { return l.id >= 0 && l.id < kMaxLights && r.lights[l.id].used; }
inline bool viewport_ok(const Renderer& r, Viewport v) {
  return v.id >= 0 && v.id < kMaxViewports && r.viewports[v.id].used;
}

// Drops every attachment of kind that refers to object (a destroyed mesh, texture or light).
void detach_everywhere(Renderer& r, VisualKind kind, int object);
// GL side of releasing one object; no-ops without GL.
void release_mesh_gl(Renderer& r, MeshSlot& mesh);
void release_texture_gl(Renderer& r, TextureSlot& texture);

}  // namespace scene
