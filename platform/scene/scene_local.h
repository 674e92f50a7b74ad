// Internals of the scene layer: the object pools inside a Renderer.
#pragma once

#include "platform/scene/scene.h"

#include <cstdlib>
#include <memory>
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
  bool zbuffer = true;  // off: drawn last with no depth test, with its subtree
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
  int first_vertex = 0;  // where the CPU copy starts in the vertex pool
  int vertex_count = 0;
  int group_count = 0;
  FaceGroup groups[kMaxGroupsPerMesh];
  int attachments = 0;  // frame visuals that hold it
};

struct MaterialSlot {
  bool used = false;
  MaterialDesc desc;
};

struct TextureSlot {
  bool used = false;
  unsigned gl = 0;
  bool cut_out = false;  // some texels are transparent (colour 0 cut out)
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
  bool no_depth = false;        // depth buffering off for the frame (or an ancestor)
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

// The switches that a specialised program fixes as constants.
static_assert(kMaxClipPlanes < 16 && kMaxActiveLights < 16, "program keys hold both in four bits");
struct ProgramKey {
  int lighting = 0;     // 0 unlit, 1 lit with face normals, 2 with vertex normals
  bool texture = false, alpha_cut = false, fog = false, shiny = false;
  bool directional_only = false;  // every light is directional
  int clip_count = 0;   // 0..kMaxClipPlanes
  int light_count = 0;  // 0..kMaxActiveLights, lights other than ambient
};
// Packs a key (never 0, which names the general program); switches that can't
// matter are dropped, so equal pictures share one program.
inline std::uint32_t program_key(ProgramKey k) {
  if (k.lighting == 0) k.shiny = k.directional_only = false, k.light_count = 0;
  if (k.light_count == 0) k.shiny = k.directional_only = false;
  if (!k.texture) k.alpha_cut = false;
  return 1u << 31 | static_cast<std::uint32_t>(k.lighting & 3) | k.texture << 2 | k.alpha_cut << 3 | k.fog << 4 |
         static_cast<std::uint32_t>(k.clip_count & 15) << 5 | k.shiny << 9 |
         static_cast<std::uint32_t>(k.light_count & 15) << 10 | k.directional_only << 14;
}
inline ProgramKey decode_program_key(std::uint32_t key) {
  ProgramKey k;
  k.lighting = static_cast<int>(key & 3);
  k.texture = key >> 2 & 1, k.alpha_cut = key >> 3 & 1, k.fog = key >> 4 & 1;
  k.clip_count = static_cast<int>(key >> 5 & 15);
  k.shiny = key >> 9 & 1;
  k.light_count = static_cast<int>(key >> 10 & 15);
  k.directional_only = key >> 14 & 1;
  return k;
}

// A linked GL program: the general one (slot 0), whose switches are uniforms,
// or one specialised for a program key (see programs.cpp).
inline constexpr int kMaxPrograms = 64;
struct ProgramSlot {
  std::uint32_t key = 0;   // 0: the general program
  unsigned gl = 0;         // 0 in a specialised slot: it failed to build, the general one stands in
  Uniforms u;
  std::uint32_t stamp = 0; // the render() call whose per-call uniforms it holds
};

struct FreeMemory {
  void operator()(void* p) const { std::free(p); }
};

struct Renderer {
  // GL (all zero without GL)
  bool gl = false;
  SDL_Window* window = nullptr;
  bool own_window = false;
  void* context = nullptr;
  int width = 0, height = 0;  // display target
  unsigned fbo = 0, colour_buffer = 0, depth_buffer = 0;
  ProgramSlot programs[kMaxPrograms];  // [0] the general program; built on first use, kept for life
  int program_count = 0;
  std::uint32_t render_stamp = 0;      // counts render() calls
  bool specialise = true;              // set_specialised_programs
  unsigned quad_vao = 0, quad_vbo = 0;  // unit quad for decals and the 2D screen
  unsigned screen_texture = 0;
  int screen_width = 0, screen_height = 0;
  std::vector<std::uint8_t> screen_rgba;  // grows only when the 2D screen grows
  unsigned layer_texture[kLayerSlots] = {};  // draw_layer()
  int layer_width[kLayerSlots] = {}, layer_height[kLayerSlots] = {};
  int texture_quality = 0;
  bool specular = true;
  bool sorted_transparency = true;     // set_sorted_transparency

  char error[160] = {};

  FrameSlot frames[kMaxFrames];
  VisualSlot visuals[kMaxVisuals];
  int free_visual = kNone;
  MeshSlot meshes[kMaxMeshes];
  // kMaxMeshVertices, zeroed by calloc so untouched pages cost nothing; meshes
  // hold runs of it, packed below vertices_used (with holes after destroys).
  std::unique_ptr<Vertex[], FreeMemory> vertex_pool;
  int vertices_used = 0;
  std::vector<int> normal_order;  // mesh_recompute_normals' sort; grows with the largest mesh
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
  bool stack_no_depth[kMaxFrames];
  DrawItem items[kMaxDrawItems];
  int light_frame[kMaxActiveLights];
  int light_index[kMaxActiveLights];
};

// Builds a program from the shared shader source with defines (text put before
// it) and finds its uniforms. False with the GL log in log.
bool build_program(const char* defines, ProgramSlot& slot, char* log, int log_size);
// The program for key (building it on first use); the general program when the
// table is full or the build fails.
ProgramSlot& program_for(Renderer& r, std::uint32_t key);

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
// Uploads vertices first..first + count - 1 of the mesh's CPU copy (in range); no-op without GL.
void upload_mesh_range(Renderer& r, const MeshSlot& mesh, int first, int count);

// The vertex pool: the start of a run of count vertices for a new mesh (closing
// up holes when that makes room), or kNone after reporting "full: mesh vertices".
int take_vertices(Renderer& r, int count);
// Gives a mesh's run back (the pool's top comes down when it was the last run).
void give_back_vertices(Renderer& r, const MeshSlot& mesh);
inline Vertex* vertices_of(const Renderer& r, const MeshSlot& m) { return r.vertex_pool.get() + m.first_vertex; }

void release_texture_gl(Renderer& r, TextureSlot& texture);

}  // namespace scene
