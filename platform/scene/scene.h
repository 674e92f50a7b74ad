// The retained-mode scene layer: frames in trees, meshes, materials, textures,
// lights, viewports, fog and keyed animations, drawn with OpenGL 3.3 core.
//
// Space. Scene coordinates are left-handed (x right, y up, z forward, into the
// screen), as stored files and brains expect. Only the camera transform turns
// them into OpenGL's right-handed eye space (z negated there), so every position,
// direction and quaternion given to or read from this layer is in scene space.
// A face is front-facing when its vertices run clockwise as seen by the camera.
//
// Objects. Every object lives in a fixed-capacity pool inside the Renderer and is
// named by a small typed handle (an index; -1 is "none"). A create function that
// finds its pool full returns an invalid handle and reports "full"; nothing grows
// and nothing is allocated while drawing. Textures are uploaded to the GPU once
// when created. Meshes are uploaded too, and each keeps a CPU copy of its
// vertices in the vertex pool (kMaxMeshVertices, reserved once), which callers
// may read and rewrite (only the rewritten range is uploaded again) and which
// picking tests rays against; drawing only walks the frame tree.
//
// Drawing. The Renderer draws into its own target of the logical display size
// (640 x 480, 800 x 600, ...). In a window, present() scales that target into the
// window (aspect kept) and swaps; offscreen, read_pixels() reads it back.
// A frame drawn by render() is:
//   viewport_clear(...)            clear depth (and colour) of the viewport rectangle
//   render(r, viewport, root)      draw a frame tree through the viewport's camera
//   draw_screen(r, pixels, ...)    the 8-bit 2D screen composited on top
//   present(r)                     to the window (no-op offscreen)
//
// A Renderer made with create_without_gl() keeps every object and all frame math
// but draws nothing: engine logic can use it in tests with no display.
//
// In the program's window: call set_gl_attributes(), create the SDL window with
// SDL_WINDOW_OPENGL, then create_on_window(); each drawn frame ends with
// draw_screen() for the 8-bit panel screen (colour 0 transparent over 3D) and
// present(). The GL library stays loaded until the process ends.
#pragma once

#include <cstdint>
#include <span>

struct SDL_Window;

namespace scene {

// ---- Math: vectors, quaternions, matrices (plain C++, no GL) --------------------

struct Vec3 {
  float x = 0, y = 0, z = 0;
};
// Unit rotation quaternion w + xi + yj + zk; rotates v to q v q*.
struct Quat {
  float x = 0, y = 0, z = 0, w = 1;
};
// 4 x 4 matrix, column-major (m[column * 4 + row]), applied to column vectors.
struct Mat4 {
  float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};
struct Colour {
  float r = 1, g = 1, b = 1, a = 1;  // 0..1
};

Vec3 add(Vec3 a, Vec3 b);
Vec3 sub(Vec3 a, Vec3 b);
Vec3 scale(Vec3 v, float s);
float dot(Vec3 a, Vec3 b);
Vec3 cross(Vec3 a, Vec3 b);
float modulus(Vec3 v);
Vec3 normalise(Vec3 v);  // the zero vector stays zero
Vec3 lerp(Vec3 a, Vec3 b, float t);

// Rotation by angle radians about axis (any length; a zero axis gives identity).
// In this left-handed space a positive angle turns clockwise as seen from the
// axis's positive end looking at the origin.
Quat quat_from_axis_angle(Vec3 axis, float angle);
Quat multiply(Quat a, Quat b);  // a * b: rotate by b first, then by a
Quat conjugate(Quat q);
Quat normalise(Quat q);  // the zero quaternion becomes identity
Vec3 rotate(Quat q, Vec3 v);
// Spherical interpolation along the shorter arc; t in 0..1.
Quat slerp(Quat a, Quat b, float t);
// The rotation that takes +z to direction and +y to up (up is made orthogonal
// to direction). A zero direction, or an up parallel to it, picks a sound
// substitute instead of producing NaN.
Quat quat_from_direction_up(Vec3 direction, Vec3 up);
// The rotated +z and +y axes of q.
void direction_up_of(Quat q, Vec3& direction, Vec3& up);

Mat4 multiply(const Mat4& a, const Mat4& b);  // a * b: b applies first
Mat4 translation(Vec3 t);
Mat4 rotation(Quat q);
Mat4 scaling(Vec3 s);
// translation(position) * rotation(orientation) * scaling(s): a frame's placement.
Mat4 placement(Vec3 position, Quat orientation, Vec3 s);
Vec3 transform_point(const Mat4& m, Vec3 p);
Vec3 transform_direction(const Mat4& m, Vec3 d);  // no translation
Mat4 rigid_inverse(const Mat4& m);  // inverse of a rotation + translation
// Inverse of a general affine matrix (frames may be scaled); identity when singular.
Mat4 affine_inverse(const Mat4& m);
// OpenGL projection for a view whose half-height at distance front is field.
Mat4 perspective(float front, float back, float field, float aspect);

// ---- Renderer ------------------------------------------------------------------

inline constexpr int kMaxFrames = 8192;
inline constexpr int kMaxVisuals = 16384;   // mesh or decal attachments to frames
inline constexpr int kMaxMeshes = 4096;
inline constexpr int kMaxGroupsPerMesh = 32;
inline constexpr int kMaxMaterials = 4096;
inline constexpr int kMaxTextures = 1024;
inline constexpr int kMaxTextureSide = 2048;  // texels
inline constexpr int kMaxLights = 256;
inline constexpr int kMaxActiveLights = 8;    // lights used by one render()
inline constexpr int kMaxViewports = 16;
inline constexpr int kMaxAnimations = 1024;
inline constexpr int kMaxAnimationSets = 256;
inline constexpr int kMaxKeys = 65536;
inline constexpr int kMaxDrawItems = 16384;   // mesh groups drawn by one render()
inline constexpr int kMaxScreenSide = 4096;   // pixels, display target and 2D screen

struct Renderer;

struct Frame { std::int32_t id = -1; };
struct Mesh { std::int32_t id = -1; };
struct Material { std::int32_t id = -1; };
struct Texture { std::int32_t id = -1; };
struct Light { std::int32_t id = -1; };
struct Viewport { std::int32_t id = -1; };
struct Animation { std::int32_t id = -1; };
struct AnimationSet { std::int32_t id = -1; };
template <class H> inline bool valid(H h) { return h.id >= 0; }

// Creates an offscreen renderer: a hidden window with an OpenGL 3.3 core context
// (SDL's "offscreen" video driver gives EGL on Mesa with no display) and a target
// of width x height pixels. Null on failure, with the reason in error (160 chars);
// a reason that starts with "no " means the machine offers no OpenGL 3.3 context.
Renderer* create_offscreen(int width, int height, char* error, int error_size);
// Creates a renderer on a window made with SDL_WINDOW_OPENGL (the caller keeps
// the window and must have set the 3.3 core attributes before creating it; see
// set_gl_attributes). Null on failure, with the reason in error.
Renderer* create_on_window(SDL_Window* window, int width, int height, char* error, int error_size);
// The SDL attributes for the context; call before creating the window.
void set_gl_attributes();
// A renderer with every object but no drawing (no GL at all).
Renderer* create_without_gl();
// Releases every object, the GL context and the hidden window. Null is fine.
void destroy(Renderer* renderer);
// The last failure ("full: frames", "bad texture size", ...), empty when none.
const char* last_error(const Renderer& renderer);

bool has_gl(const Renderer& renderer);
// Releases every object (frames, meshes, textures, ...) and keeps the context:
// the end of a scene. Handles from before are all invalid afterwards.
void release_all(Renderer& renderer);
// Changes the logical display size (pixels). False when out of range.
bool resize(Renderer& renderer, int width, int height);
void target_size(const Renderer& renderer, int& width, int& height);

// Device settings. Texture filtering levels 0..5: nearest, mip-nearest,
// linear-mip-nearest, linear, mip-linear, linear-mip-linear. Returns the level
// in effect (an out-of-range level becomes 0, nearest).
int set_texture_quality(Renderer& renderer, int level);
int texture_quality(const Renderer& renderer);
void set_dither(Renderer& renderer, bool on);
void set_specular(Renderer& renderer, bool on);  // specular highlights on all materials
// Translucent groups drawn back to front by frame depth (on, the default) or in
// the order of the tree walk (off).
void set_sorted_transparency(Renderer& renderer, bool on);
// Drawing picks a GL program made for each mix of lighting, texture, fog, clip
// planes and lights (built on first use, fast on software renderers); off, one
// general program draws everything. Both give the same picture. On by default.
void set_specialised_programs(Renderer& renderer, bool on);

// ---- Frames ----------------------------------------------------------------------

// Render and pick are traversal options: a frame with render off is drawn with
// none of its subtree (visuals and lights alike).
inline constexpr std::uint32_t kRenderEnable = 1;
inline constexpr std::uint32_t kPickEnable = 2;

// How render() orders the mesh groups of a tree (by the depth of their frame's
// origin in the camera). Translucent groups (alpha < 1) always follow the opaque
// ones, back to front.
enum class SortMode : std::uint8_t { none, front_to_back, back_to_front };

// New frame at the parent's origin, identity orientation, unit scale, render and
// pick on. An invalid parent makes a root.
Frame frame_create(Renderer& renderer, Frame parent);
// Destroys the frame and its whole subtree, with their visual attachments (the
// meshes, textures and lights themselves stay).
void frame_destroy(Renderer& renderer, Frame frame);
// frame_destroy, then also the meshes that were attached inside the subtree and
// are attached nowhere else now, with those meshes' materials when no other
// mesh and no material override uses them (textures and lights stay: loaders
// may share them). For trees made for a while and dropped (a model's copy).
void frame_destroy_with_meshes(Renderer& renderer, Frame frame);
// Moves the frame under parent (invalid: it becomes a root), keeping its local
// placement. Refused (false) when parent is the frame itself or inside its subtree.
bool frame_set_parent(Renderer& renderer, Frame frame, Frame parent);
Frame frame_parent(const Renderer& renderer, Frame frame);
Frame frame_root(const Renderer& renderer, Frame frame);
// The frame's children in the order they were made (or moved under it): up to
// out.size() of them; returns how many there are.
int frame_children(const Renderer& renderer, Frame frame, std::span<Frame> out);
// Child number index in that order; invalid when there is no such child.
Frame frame_child(const Renderer& renderer, Frame frame, int index);

// Placement relative to a reference frame; an invalid reference means the
// frame's own parent (local placement). Scales of the chain apply to positions.
void frame_set_position(Renderer& renderer, Frame frame, Frame reference, Vec3 position);
Vec3 frame_position(const Renderer& renderer, Frame frame, Frame reference);
void frame_set_orientation(Renderer& renderer, Frame frame, Frame reference, Vec3 direction, Vec3 up);
void frame_orientation(const Renderer& renderer, Frame frame, Frame reference, Vec3& direction, Vec3& up);
void frame_set_rotation(Renderer& renderer, Frame frame, Frame reference, Quat rotation);
Quat frame_rotation(const Renderer& renderer, Frame frame, Frame reference);
void frame_set_scale(Renderer& renderer, Frame frame, Vec3 s);  // local, per axis
Vec3 frame_scale(const Renderer& renderer, Frame frame);
// Frame space to world (root) space: the chain of parent placements.
Mat4 frame_world(const Renderer& renderer, Frame frame);

void frame_set_traversal(Renderer& renderer, Frame frame, std::uint32_t options);
std::uint32_t frame_traversal(const Renderer& renderer, Frame frame);
void frame_set_sort_mode(Renderer& renderer, Frame frame, SortMode mode);
// Replaces the materials of every mesh in the subtree; invalid removes it.
void frame_set_material_override(Renderer& renderer, Frame frame, Material material);
// Depth buffering of the frame's visuals and whole subtree (on by default). Off:
// they are drawn after everything else (the translucent groups too), with no
// depth test and no depth write, back to front by frame depth among themselves,
// so they show on top of the rest. A frame whose ancestor in the drawn tree has
// it off is drawn without it too.
void frame_set_zbuffer(Renderer& renderer, Frame frame, bool on);
bool frame_zbuffer(const Renderer& renderer, Frame frame);  // true for an invalid frame

// Scene settings, read from the root of the tree that render() draws.
// Linear fog by camera depth in scene units: none before start, full at end.
void frame_set_fog(Renderer& renderer, Frame root, bool on, float start, float end, Colour colour);
void frame_set_background(Renderer& renderer, Frame root, Colour colour);
Colour frame_background(const Renderer& renderer, Frame root);

// Attaches a mesh, decal texture or light; a frame may hold several. False when
// the attachment pool is full or a handle is invalid.
bool frame_add_mesh(Renderer& renderer, Frame frame, Mesh mesh);
bool frame_add_decal(Renderer& renderer, Frame frame, Texture decal);
bool frame_add_light(Renderer& renderer, Frame frame, Light light);
void frame_remove_visuals(Renderer& renderer, Frame frame);  // meshes, decals and lights
// The meshes attached to the frame itself (not its subtree), in attachment
// order, up to out.size(); returns how many there are.
int frame_meshes(const Renderer& renderer, Frame frame, std::span<Mesh> out);
// Puts replacement where the frame has mesh attached (its place in the order
// kept). False when the frame has no such attachment or a handle is invalid.
bool frame_replace_mesh(Renderer& renderer, Frame frame, Mesh mesh, Mesh replacement);

// Clipping: the frame's visuals and subtree keep only what lies on the normal's
// side of each plane (point and normal in frame space). A frame with planes of
// its own replaces those of its ancestors. False when the frame has
// kMaxClipPlanes already ("full") or the normal is zero.
inline constexpr int kMaxClipPlanes = 8;  // OpenGL 3.3 guarantees eight clip distances
bool frame_add_clip_plane(Renderer& renderer, Frame frame, Vec3 point, Vec3 normal);
void frame_clear_clip_planes(Renderer& renderer, Frame frame);

// ---- Materials, textures, meshes --------------------------------------------------

struct MaterialDesc {
  Colour colour;                 // diffuse and ambient reflectance; a < 1 is translucent
  Vec3 emissive{0, 0, 0};        // added light, 0..1 per channel
  Vec3 specular{0, 0, 0};        // highlight colour; zero turns highlights off
  float power = 16;              // highlight sharpness (exponent)
};
Material material_create(Renderer& renderer, const MaterialDesc& desc);
void material_destroy(Renderer& renderer, Material material);  // meshes then use the default material
void material_set(Renderer& renderer, Material material, const MaterialDesc& desc);
MaterialDesc material_get(const Renderer& renderer, Material material);

// Expands an 8-bit image through its palette (768 bytes, r g b per index) to
// RGBA once, uploads it and keeps no copy. With colour0_transparent, index 0 is
// fully transparent and cut out when drawn. Sides 1..kMaxTextureSide.
Texture texture_create(Renderer& renderer, const std::uint8_t* pixels, int width, int height, int pitch,
                       const std::uint8_t palette[768], bool colour0_transparent);
// A decal is drawn at its frame's origin facing the camera, width x height scene
// units, centred; colour-0 texels are cut out.
void texture_set_decal_size(Renderer& renderer, Texture texture, float width, float height);
void texture_size(const Renderer& renderer, Texture texture, int& width, int& height);
void texture_destroy(Renderer& renderer, Texture texture);

struct Vertex {
  Vec3 position;
  Vec3 normal;  // unit, pointing out of the front face
  float u = 0, v = 0;  // texture coordinates, (0, 0) the top-left texel
};
enum class Quality : std::uint8_t {
  wireframe,  // edges only, unlit
  unlit_flat, // colour and texture, no lighting
  flat,       // lit with the face's own normal
  gouraud,    // lit with the vertex normals, smooth
};
// A run of triangles (3 vertices each, clockwise from the front) that share a
// material and texture. texture may be invalid.
struct FaceGroup {
  int first_vertex = 0;
  int vertex_count = 0;  // a multiple of 3
  Material material;
  Texture texture;
  Quality quality = Quality::gouraud;
};
// Uploads the triangles once. Groups must lie inside vertices; at most
// kMaxGroupsPerMesh of them. Invalid handle and last_error on failure.
Mesh mesh_create(Renderer& renderer, std::span<const Vertex> vertices, std::span<const FaceGroup> groups);
void mesh_destroy(Renderer& renderer, Mesh mesh);  // also detaches it from all frames
int mesh_vertex_count(const Renderer& renderer, Mesh mesh);
// A new mesh with the same vertices and face groups (its own CPU copy and
// buffer): what an editor of a shared mesh changes instead. Invalid when full.
Mesh mesh_copy(Renderer& renderer, Mesh mesh);
// How many frame attachments the mesh has (a frame holding it twice counts twice).
int mesh_frame_count(const Renderer& renderer, Mesh mesh);

// ---- Editing meshes ------------------------------------------------------------------
// A mesh is a non-indexed triangle list: vertices 3t, 3t + 1 and 3t + 2 make
// triangle t, and a "vertex" to brains is one of these entries (a corner shared by
// three triangles is three vertices). Positions and normals are in the space of the
// frame the mesh is attached to (mesh space). The CPU copies of all meshes share
// one pool reserved once; mesh_create reports "full: mesh vertices" when it cannot
// hold another mesh (holes left by destroyed meshes are closed up first).
inline constexpr int kMaxMeshVertices = 1 << 20;  // 1,048,576 (32 MiB): 256 a mesh on average

// The mesh's vertices, read-only; empty for an invalid handle. Valid until the
// mesh is destroyed or the next mesh_create (which may close up the pool).
std::span<const Vertex> mesh_vertices(const Renderer& renderer, Mesh mesh);
// Writes vertices first..first + size - 1 and uploads that range only (one
// glBufferSubData, no allocation). False, changing nothing, for an invalid
// handle or a range outside 0..mesh_vertex_count - 1.
bool mesh_update_vertices(Renderer& renderer, Mesh mesh, int first, std::span<const Vertex> vertices);
// In-place editing without a copy: the writable vertices (same lifetime as
// mesh_vertices), then mesh_upload_vertices for the range that was changed (the
// picture shows the old values until then; picking sees the new ones at once).
std::span<Vertex> mesh_edit_vertices(Renderer& renderer, Mesh mesh);
bool mesh_upload_vertices(Renderer& renderer, Mesh mesh, int first, int count);
// Smooth normals from the positions: each vertex's normal becomes the normalised
// sum of the unit face normals of the triangles that have a vertex at exactly its
// position and whose face normal lies within 60 degrees of its own triangle's
// (so a box keeps its flat sides and a finely cut sphere comes out round). A
// vertex of a degenerate (zero-area) triangle keeps its normal. Uploads the whole
// mesh. False for an invalid handle.
bool mesh_recompute_normals(Renderer& renderer, Mesh mesh);
// Prepares the mesh for drawing: face groups that follow one another in the
// vertex array with the same material, texture and quality are merged (one draw
// call instead of several), empty ones are dropped, and the whole buffer is
// uploaded again from the CPU copy. The triangles and their order stay as they
// are, so the picture is the same. False for an invalid handle.
bool mesh_optimize(Renderer& renderer, Mesh mesh);

// Builders for simple shapes, writing triangles into out (clockwise from outside).
// Each returns the vertex count written, or 0 when out is too small.
int build_box(std::span<Vertex> out, Vec3 half_size);                     // 36 vertices
int build_quad(std::span<Vertex> out, float width, float height);          // 6, in z = 0 facing -z

// ---- Lights ------------------------------------------------------------------------

enum class LightKind : std::uint8_t { ambient, directional, point, spot };
// Position and direction (+z) come from the frame the light is attached to.
// Point and spot light fall off as 1 / (constant + linear d + quadratic d^2) and
// stop at range; a spot is full inside umbra and fades out to penumbra (half
// angles, radians).
struct LightDesc {
  LightKind kind = LightKind::directional;
  Vec3 colour{1, 1, 1};
  float range = 1000;
  float constant = 1, linear = 0, quadratic = 0;
  float umbra = 0.4f, penumbra = 0.5f;
};
Light light_create(Renderer& renderer, const LightDesc& desc);
void light_set(Renderer& renderer, Light light, const LightDesc& desc);
LightDesc light_get(const Renderer& renderer, Light light);
void light_destroy(Renderer& renderer, Light light);  // also detaches it from all frames

// ---- Viewports ---------------------------------------------------------------------

// A rectangle of the display target (pixels, top-left origin) looking through a
// camera frame along its +z. The view's half-height at distance front is field,
// so field / front = tan(half the vertical view angle); the horizontal angle
// follows the rectangle's aspect. Defaults: front 1, back 100, field 0.5.
Viewport viewport_create(Renderer& renderer, Frame camera, int x, int y, int width, int height);
void viewport_destroy(Renderer& renderer, Viewport viewport);
void viewport_set_rect(Renderer& renderer, Viewport viewport, int x, int y, int width, int height);
void viewport_set_camera(Renderer& renderer, Viewport viewport, Frame camera);
// Each setter ignores a value that is not finite and positive (and a back not
// beyond front) and returns false, keeping the old one.
bool viewport_set_front(Renderer& renderer, Viewport viewport, float front);
bool viewport_set_back(Renderer& renderer, Viewport viewport, float back);
bool viewport_set_field(Renderer& renderer, Viewport viewport, float field);
float viewport_front(const Renderer& renderer, Viewport viewport);
float viewport_back(const Renderer& renderer, Viewport viewport);
float viewport_field(const Renderer& renderer, Viewport viewport);

inline constexpr std::uint32_t kClearDepth = 1;
inline constexpr std::uint32_t kClearColour = 2;  // the background of the camera's root
void viewport_clear(Renderer& renderer, Viewport viewport, std::uint32_t what);
// Draws the tree of root (with root's fog) through the viewport's camera. The
// camera frame need not be inside the tree. Lights are those attached to
// render-enabled frames of the tree. Returns the number of mesh groups drawn.
int render(Renderer& renderer, Viewport viewport, Frame root);

// The nearest front-facing triangle under target pixel (x, y) (top-left origin,
// the pixel's centre) seen through the viewport's camera, among the mesh groups
// of the frames of root's tree that are render- and pick-enabled (a frame with
// either off takes its subtree with it), between the viewport's front and back
// distances and on the kept side of the clip planes. Tested on the CPU copies
// (works without GL). Triangles count whole whatever their texture's cut-out
// texels, wireframe ones included; decals are not picked; a frame with depth
// buffering off is picked by its true depth. False when nothing is hit or the
// pixel is outside the viewport.
struct PickResult {
  Frame frame;           // the frame the mesh is attached to
  Mesh mesh;
  int triangle = -1;     // vertices 3 * triangle .. 3 * triangle + 2 of the mesh
  Vec3 point;            // the hit in scene space (where frame_world leads)
  Vec3 frame_point;      // the hit in the frame's own space (mesh space)
  float depth = 0;       // along the camera's +z, scene units
};
bool pick(Renderer& renderer, Viewport viewport, Frame root, int x, int y, PickResult& out);
// The ray pick() tests for pixel (x, y): from the camera's place in the scene
// through the pixel's centre, direction of unit length. False (nothing set)
// when the viewport has no camera or the pixel is outside it.
bool pick_ray(Renderer& renderer, Viewport viewport, int x, int y, Vec3& origin, Vec3& direction);

// ---- Animations --------------------------------------------------------------------

// Keys at times (any unit, usually seconds) interpolated linearly (rotations by
// slerp); before the first key the first applies, after the last the last,
// unless the animation is closed (then time wraps over the key span).
Animation animation_create(Renderer& renderer);
void animation_destroy(Renderer& renderer, Animation animation);  // with its keys
void animation_set_frame(Renderer& renderer, Animation animation, Frame frame);
void animation_set_closed(Renderer& renderer, Animation animation, bool closed);
// Adding a key at a time that has one of that kind replaces it. False when full.
bool animation_add_scale_key(Renderer& renderer, Animation animation, float time, Vec3 s);
bool animation_add_rotation_key(Renderer& renderer, Animation animation, float time, Quat q);
bool animation_add_position_key(Renderer& renderer, Animation animation, float time, Vec3 p);
void animation_delete_keys(Renderer& renderer, Animation animation, float time);  // every kind at time
int animation_key_count(const Renderer& renderer, Animation animation);
// Places the animation's frame (local placement) for time; kinds without keys
// leave that part of the placement alone.
void animation_set_time(Renderer& renderer, Animation animation, float time);

AnimationSet animation_set_create(Renderer& renderer);
void animation_set_destroy(Renderer& renderer, AnimationSet set);  // with its animations
bool animation_set_add(Renderer& renderer, AnimationSet set, Animation animation);
void animation_set_time(Renderer& renderer, AnimationSet set, float time);

// ---- 2D and output -----------------------------------------------------------------

// Clears the whole target to a colour (depth too).
void clear(Renderer& renderer, Colour colour);
// Fills a rectangle of the target (pixels, top-left origin), clipped to it.
void fill_rect(Renderer& renderer, int x, int y, int width, int height, Colour colour);
// Composites an 8-bit screen over the whole target through a palette (768 bytes,
// r g b); with colour0_transparent, index-0 pixels let the 3D picture through.
// The screen is stretched to the target size. Uploads into one texture kept for
// it (no allocation per call).
void draw_screen(Renderer& renderer, const std::uint8_t* pixels, int width, int height, int pitch,
                 const std::uint8_t palette[768], bool colour0_transparent);
// Composites an RGBA layer (straight alpha, rows from the top, pitch = width)
// over the target, stretched to it, blending by alpha. Each of the kLayerSlots
// slots keeps its own texture: its rows upload.first..upload.end - 1 are
// uploaded (a new size uploads the whole layer), then only the target rows
// that show layer rows shown.first..shown.end - 1 are drawn (the rest is known
// to be clear). Empty ranges upload or draw nothing. No allocation per call.
inline constexpr int kLayerSlots = 2;
struct LayerRows {
  int first = 0, end = 0;
};
void draw_layer(Renderer& renderer, int slot, const std::uint8_t* rgba, int width, int height, LayerRows upload,
                LayerRows shown);
// Shows the target in the window (scaled, aspect kept) and swaps; does nothing offscreen.
void present(Renderer& renderer);
// Reads target pixels as RGBA rows from the top (out holds width * height * 4).
// False when the rectangle is not inside the target or there is no GL.
bool read_pixels(Renderer& renderer, int x, int y, int width, int height, std::uint8_t* out);

}  // namespace scene
