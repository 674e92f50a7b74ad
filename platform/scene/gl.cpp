// The GL side of the scene layer: context and display target, the shader,
// meshes and textures on the GPU, drawing a frame tree, 2D composition and output.
#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/scene/scene_local.h"
#include "platform/scene/shader.h"

namespace scene {

namespace {

void copy_error(char* error, int size, const char* text) {
  if (error && size > 0) std::snprintf(error, static_cast<std::size_t>(size), "%s", text);
}

// Vertex layout of every mesh VAO: position, normal, texture coordinates.
void vertex_layout() {
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(offsetof(Vertex, position)));
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(offsetof(Vertex, normal)));
  glEnableVertexAttribArray(2);
  glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<void*>(offsetof(Vertex, u)));
}

bool make_target(Renderer& r, int width, int height) {
  if (r.fbo) {
    glDeleteFramebuffers(1, &r.fbo);
    glDeleteRenderbuffers(1, &r.colour_buffer);
    glDeleteRenderbuffers(1, &r.depth_buffer);
  }
  glGenFramebuffers(1, &r.fbo);
  glGenRenderbuffers(1, &r.colour_buffer);
  glGenRenderbuffers(1, &r.depth_buffer);
  glBindRenderbuffer(GL_RENDERBUFFER, r.colour_buffer);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  glBindRenderbuffer(GL_RENDERBUFFER, r.depth_buffer);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
  glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, r.colour_buffer);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, r.depth_buffer);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
  r.width = width;
  r.height = height;
  glViewport(0, 0, width, height);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0, 0, 0, 1);
  glClearDepth(1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  return true;
}

bool size_ok(int width, int height) { return width > 0 && height > 0 && width <= kMaxScreenSide && height <= kMaxScreenSide; }

// Everything after the context exists; false with the reason in error.
bool init_gl(Renderer& r, int width, int height, char* error, int error_size) {
  if (epoxy_gl_version() < 33) {
    std::snprintf(error, static_cast<std::size_t>(error_size), "no OpenGL 3.3 (version %d)",
                  epoxy_gl_version());
    return false;
  }
  r.gl = true;
  char log[512] = {};
  r.program_count = 1;
  if (!build_program("", r.programs[0], log, sizeof log)) {
    std::snprintf(error, static_cast<std::size_t>(error_size), "shader: %.150s", log);
    return false;
  }
  if (!make_target(r, width, height)) {
    copy_error(error, error_size, "the display target framebuffer is incomplete");
    return false;
  }
  Vertex quad[6];
  build_quad(quad, 1, 1);
  glGenVertexArrays(1, &r.quad_vao);
  glGenBuffers(1, &r.quad_vbo);
  glBindVertexArray(r.quad_vao);
  glBindBuffer(GL_ARRAY_BUFFER, r.quad_vbo);
  glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
  vertex_layout();
  glBindVertexArray(0);
  glGenTextures(1, &r.screen_texture);
  glGenTextures(kLayerSlots, r.layer_texture);
  for (unsigned texture : {r.screen_texture, r.layer_texture[0], r.layer_texture[1]}) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
  glEnable(GL_DITHER);
  for (int i = 0; i < kMaxClipPlanes; ++i) glEnable(GL_CLIP_DISTANCE0 + i);
  glFrontFace(GL_CW);  // clockwise faces are front faces, as the scene space defines
  glCullFace(GL_BACK);
  return true;
}

void release_gl(Renderer& r) {
  if (!r.gl) return;
  for (MeshSlot& m : r.meshes)
    if (m.used) release_mesh_gl(r, m);
  for (TextureSlot& t : r.textures)
    if (t.used) release_texture_gl(r, t);
  glDeleteTextures(1, &r.screen_texture);
  glDeleteTextures(kLayerSlots, r.layer_texture);
  glDeleteBuffers(1, &r.quad_vbo);
  glDeleteVertexArrays(1, &r.quad_vao);
  glDeleteFramebuffers(1, &r.fbo);
  glDeleteRenderbuffers(1, &r.colour_buffer);
  glDeleteRenderbuffers(1, &r.depth_buffer);
  for (int i = 0; i < r.program_count; ++i)
    if (r.programs[i].gl) glDeleteProgram(r.programs[i].gl);
  r.program_count = 0;
  r.gl = false;
}

Renderer* fresh_renderer() {
  Renderer* r = new (std::nothrow) Renderer;
  if (!r) return nullptr;
  // calloc: the pool's pages are only committed as meshes fill them.
  r->vertex_pool.reset(static_cast<Vertex*>(std::calloc(kMaxMeshVertices, sizeof(Vertex))));
  if (!r->vertex_pool) {
    delete r;
    return nullptr;
  }
  init_pools(*r);
  return r;
}

Renderer* create_with_context(SDL_Window* window, bool own_window, int width, int height, char* error,
                              int error_size) {
  SDL_GLContext context = SDL_GL_CreateContext(window);
  if (!context) {
    std::snprintf(error, static_cast<std::size_t>(error_size), "no OpenGL 3.3 core context: %.100s",
                  SDL_GetError());
    if (own_window) SDL_DestroyWindow(window);
    return nullptr;
  }
  Renderer* r = fresh_renderer();
  if (!r) {
    copy_error(error, error_size, "out of memory for the scene");
    SDL_GL_DeleteContext(context);
    if (own_window) SDL_DestroyWindow(window);
    return nullptr;
  }
  r->window = window;
  r->own_window = own_window;
  r->context = context;
  SDL_GL_MakeCurrent(window, context);
  if (!init_gl(*r, width, height, error, error_size)) {
    destroy(r);
    return nullptr;
  }
  return r;
}

}  // namespace

void set_gl_attributes() {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

Renderer* create_offscreen(int width, int height, char* error, int error_size) {
  if (!size_ok(width, height)) {
    copy_error(error, error_size, "bad display size");
    return nullptr;
  }
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    std::snprintf(error, static_cast<std::size_t>(error_size), "no video: %.140s", SDL_GetError());
    return nullptr;
  }
  // The GL library stays loaded and video stays initialised for the life of the
  // process: unloading Mesa drops its one-time state (a leak under LeakSanitizer,
  // and a slow reload for the next renderer).
  if (SDL_GL_LoadLibrary(nullptr) != 0) {
    std::snprintf(error, static_cast<std::size_t>(error_size), "no OpenGL library: %.130s", SDL_GetError());
    return nullptr;
  }
  set_gl_attributes();
  SDL_Window* window = SDL_CreateWindow("zepta scene", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 16, 16,
                                        SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (!window) {
    std::snprintf(error, static_cast<std::size_t>(error_size), "no OpenGL window: %.130s", SDL_GetError());
    return nullptr;
  }
  return create_with_context(window, true, width, height, error, error_size);
}

Renderer* create_on_window(SDL_Window* window, int width, int height, char* error, int error_size) {
  if (!window || !size_ok(width, height)) {
    copy_error(error, error_size, window ? "bad display size" : "no window");
    return nullptr;
  }
  if (SDL_GL_LoadLibrary(nullptr) != 0) {  // kept loaded, as for offscreen renderers
    std::snprintf(error, static_cast<std::size_t>(error_size), "no OpenGL library: %.130s", SDL_GetError());
    return nullptr;
  }
  return create_with_context(window, false, width, height, error, error_size);
}

Renderer* create_without_gl() { return fresh_renderer(); }

void destroy(Renderer* r) {
  if (!r) return;
  if (r->context) {
    SDL_GL_MakeCurrent(r->window, static_cast<SDL_GLContext>(r->context));
    release_gl(*r);
    SDL_GL_MakeCurrent(r->window, nullptr);
    SDL_GL_DeleteContext(static_cast<SDL_GLContext>(r->context));
  }
  if (r->own_window) SDL_DestroyWindow(r->window);
  delete r;
}

bool resize(Renderer& r, int width, int height) {
  if (!size_ok(width, height)) return false;
  if (!r.gl) {
    r.width = width;
    r.height = height;
    return true;
  }
  return make_target(r, width, height);
}

void target_size(const Renderer& r, int& width, int& height) {
  width = r.width;
  height = r.height;
}

// ---- Device settings ---------------------------------------------------------------

namespace {

struct Filter {
  GLint min, mag;
};
// Texture filtering levels 0..5.
constexpr Filter kFilters[] = {
    {GL_NEAREST, GL_NEAREST},
    {GL_NEAREST_MIPMAP_NEAREST, GL_NEAREST},
    {GL_LINEAR_MIPMAP_NEAREST, GL_LINEAR},
    {GL_LINEAR, GL_LINEAR},
    {GL_NEAREST_MIPMAP_LINEAR, GL_NEAREST},
    {GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR},
};
constexpr int kFilterLevels = sizeof kFilters / sizeof kFilters[0];

void apply_filter(const Renderer& r, unsigned texture) {
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, kFilters[r.texture_quality].min);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, kFilters[r.texture_quality].mag);
}

}  // namespace

int set_texture_quality(Renderer& r, int level) {
  r.texture_quality = level >= 0 && level < kFilterLevels ? level : 0;
  if (r.gl)
    for (const TextureSlot& t : r.textures)
      if (t.used) apply_filter(r, t.gl);
  return r.texture_quality;
}

int texture_quality(const Renderer& r) { return r.texture_quality; }

void set_dither(Renderer& r, bool on) {
  if (r.gl) on ? glEnable(GL_DITHER) : glDisable(GL_DITHER);
}

void set_specular(Renderer& r, bool on) { r.specular = on; }
void set_sorted_transparency(Renderer& r, bool on) { r.sorted_transparency = on; }

// ---- Textures ----------------------------------------------------------------------

namespace {

// The mipmap levels below level 0 (bound, in level0), each a 2 x 2 box average
// of the one above. Made here rather than by glGenerateMipmap, which software
// drivers run as a shader that takes tens of milliseconds to build.
void upload_mipmaps(const std::uint8_t* level0, int width, int height) {
  std::vector<std::uint8_t> above(level0, level0 + static_cast<std::size_t>(width) * height * 4), below;
  for (int level = 1; width > 1 || height > 1; ++level) {
    int w = std::max(width / 2, 1), h = std::max(height / 2, 1);
    below.assign(static_cast<std::size_t>(w) * h * 4, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int x0 = std::min(2 * x, width - 1), x1 = std::min(2 * x + 1, width - 1);
        int y0 = std::min(2 * y, height - 1), y1 = std::min(2 * y + 1, height - 1);
        const std::uint8_t* p[4] = {&above[(static_cast<std::size_t>(y0) * width + x0) * 4],
                                    &above[(static_cast<std::size_t>(y0) * width + x1) * 4],
                                    &above[(static_cast<std::size_t>(y1) * width + x0) * 4],
                                    &above[(static_cast<std::size_t>(y1) * width + x1) * 4]};
        std::uint8_t* o = &below[(static_cast<std::size_t>(y) * w + x) * 4];
        for (int c = 0; c < 4; ++c) o[c] = static_cast<std::uint8_t>((p[0][c] + p[1][c] + p[2][c] + p[3][c] + 2) / 4);
      }
    glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, below.data());
    above.swap(below);
    width = w, height = h;
  }
}

}  // namespace

Texture texture_create(Renderer& r, const std::uint8_t* pixels, int width, int height, int pitch,
                       const std::uint8_t palette[768], bool colour0_transparent) {
  if (!pixels || !palette) {
    fail(r, "bad texture: no pixels or palette");
    return {};
  }
  if (width < 1 || height < 1 || width > kMaxTextureSide || height > kMaxTextureSide ||
      pitch < width) {
    fail(r, "bad texture: %d x %d, pitch %d", width, height, pitch);
    return {};
  }
  int t = kNone;
  for (int i = 0; i < kMaxTextures && t == kNone; ++i)
    if (!r.textures[i].used) t = i;
  if (t == kNone) {
    fail(r, "full: textures");
    return {};
  }
  TextureSlot& slot = r.textures[t];
  slot = TextureSlot{};
  slot.used = true;
  slot.width = width;
  slot.height = height;
  for (int y = 0; y < height && colour0_transparent && !slot.cut_out; ++y)
    slot.cut_out = std::memchr(pixels + static_cast<std::size_t>(y) * pitch, 0, static_cast<std::size_t>(width));
  if (!r.gl) return Texture{t};
  // Expanded into the 2D screen's staging buffer: loading is not per frame, and
  // the buffer is kept for the next texture or screen.
  std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
  if (r.screen_rgba.size() < bytes) r.screen_rgba.resize(bytes);
  std::uint8_t* out = r.screen_rgba.data();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      int index = pixels[static_cast<std::size_t>(y) * pitch + x];
      std::uint8_t* o = out + (static_cast<std::size_t>(y) * width + x) * 4;
      o[0] = palette[index * 3];
      o[1] = palette[index * 3 + 1];
      o[2] = palette[index * 3 + 2];
      o[3] = colour0_transparent && index == 0 ? 0 : 255;
    }
  glGenTextures(1, &slot.gl);
  glBindTexture(GL_TEXTURE_2D, slot.gl);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, out);
  upload_mipmaps(out, width, height);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  apply_filter(r, slot.gl);
  return Texture{t};
}

void texture_set_decal_size(Renderer& r, Texture texture, float width, float height) {
  if (!texture_ok(r, texture) || !std::isfinite(width) || !std::isfinite(height)) return;
  r.textures[texture.id].decal_width = width;
  r.textures[texture.id].decal_height = height;
}

void texture_size(const Renderer& r, Texture texture, int& width, int& height) {
  width = texture_ok(r, texture) ? r.textures[texture.id].width : 0;
  height = texture_ok(r, texture) ? r.textures[texture.id].height : 0;
}

void release_texture_gl(Renderer& r, TextureSlot& t) {
  if (r.gl && t.gl) glDeleteTextures(1, &t.gl);
  t.gl = 0;
}

void texture_destroy(Renderer& r, Texture texture) {
  if (!texture_ok(r, texture)) return;
  detach_everywhere(r, VisualKind::decal, texture.id);
  for (MeshSlot& m : r.meshes)
    if (m.used)
      for (int g = 0; g < m.group_count; ++g)
        if (m.groups[g].texture.id == texture.id) m.groups[g].texture = Texture{};
  release_texture_gl(r, r.textures[texture.id]);
  r.textures[texture.id] = TextureSlot{};
}

// ---- Meshes ------------------------------------------------------------------------

Mesh mesh_create(Renderer& r, std::span<const Vertex> vertices, std::span<const FaceGroup> groups) {
  if (groups.empty() || groups.size() > static_cast<std::size_t>(kMaxGroupsPerMesh) ||
      vertices.size() > static_cast<std::size_t>(1 << 24)) {
    fail(r, "bad mesh: %zu groups, %zu vertices", groups.size(), vertices.size());
    return {};
  }
  const long long count = static_cast<long long>(vertices.size());
  for (const FaceGroup& g : groups)
    if (g.first_vertex < 0 || g.vertex_count < 0 || g.vertex_count % 3 != 0 ||
        g.first_vertex + static_cast<long long>(g.vertex_count) > count) {
      fail(r, "bad mesh group: vertices %d + %d of %lld", g.first_vertex, g.vertex_count, count);
      return {};
    }
  int m = kNone;
  for (int i = 0; i < kMaxMeshes && m == kNone; ++i)
    if (!r.meshes[i].used) m = i;
  if (m == kNone) {
    fail(r, "full: meshes");
    return {};
  }
  int first = take_vertices(r, static_cast<int>(count));
  if (first == kNone) return {};
  MeshSlot& slot = r.meshes[m];
  slot = MeshSlot{};
  slot.used = true;
  slot.first_vertex = first;
  slot.vertex_count = static_cast<int>(count);
  std::copy(vertices.begin(), vertices.end(), vertices_of(r, slot));
  slot.group_count = static_cast<int>(groups.size());
  std::copy(groups.begin(), groups.end(), slot.groups);
  for (int g = 0; g < slot.group_count; ++g) {  // unknown handles draw with the defaults
    if (!material_ok(r, slot.groups[g].material)) slot.groups[g].material = Material{};
    if (!texture_ok(r, slot.groups[g].texture)) slot.groups[g].texture = Texture{};
  }
  if (r.gl && count > 0) {
    glGenVertexArrays(1, &slot.vao);
    glGenBuffers(1, &slot.vbo);
    glBindVertexArray(slot.vao);
    glBindBuffer(GL_ARRAY_BUFFER, slot.vbo);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size_bytes()), vertices.data(), GL_STATIC_DRAW);
    vertex_layout();
    glBindVertexArray(0);
  }
  return Mesh{m};
}

void release_mesh_gl(Renderer& r, MeshSlot& m) {
  if (r.gl && m.vao) {
    glDeleteVertexArrays(1, &m.vao);
    glDeleteBuffers(1, &m.vbo);
  }
  m.vao = m.vbo = 0;
}

void upload_mesh_range(Renderer& r, const MeshSlot& m, int first, int count) {
  if (!r.gl || !m.vbo || count <= 0) return;
  glBindBuffer(GL_ARRAY_BUFFER, m.vbo);
  glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(first) * static_cast<GLintptr>(sizeof(Vertex)),
                  static_cast<GLsizeiptr>(count) * static_cast<GLsizeiptr>(sizeof(Vertex)), vertices_of(r, m) + first);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void mesh_destroy(Renderer& r, Mesh mesh) {
  if (!mesh_ok(r, mesh)) return;
  detach_everywhere(r, VisualKind::mesh, mesh.id);
  release_mesh_gl(r, r.meshes[mesh.id]);
  give_back_vertices(r, r.meshes[mesh.id]);
  r.meshes[mesh.id] = MeshSlot{};
}

int mesh_vertex_count(const Renderer& r, Mesh mesh) { return mesh_ok(r, mesh) ? r.meshes[mesh.id].vertex_count : 0; }

Mesh mesh_copy(Renderer& r, Mesh mesh) {
  if (!mesh_ok(r, mesh)) return {};
  const MeshSlot& m = r.meshes[mesh.id];
  // Copied out first: making the new mesh may close up the pool under the old one.
  std::vector<Vertex> vertices(vertices_of(r, m), vertices_of(r, m) + m.vertex_count);
  FaceGroup groups[kMaxGroupsPerMesh];
  std::copy(m.groups, m.groups + m.group_count, groups);
  return mesh_create(r, vertices, std::span(groups, static_cast<std::size_t>(m.group_count)));
}

int mesh_frame_count(const Renderer& r, Mesh mesh) { return mesh_ok(r, mesh) ? r.meshes[mesh.id].attachments : 0; }

// ---- Drawing -----------------------------------------------------------------------

namespace {

// Scene space to GL eye space: the camera's inverse placement, then z negated.
Mat4 view_of(const Renderer& r, int camera) {
  Mat4 flip = scaling({1, 1, -1});
  return multiply(flip, rigid_inverse(frame_world(r, Frame{camera})));
}

// Inverse transpose of the upper 3 x 3 of m, for normals (column-major 3 x 3).
void normal_matrix(const Mat4& m, float out[9]) {
  const float* a = m.m;
  // cofactors of the 3 x 3 (columns a0..a2 = m[0..2], m[4..6], m[8..10])
  float c[9] = {a[5] * a[10] - a[6] * a[9], a[6] * a[8] - a[4] * a[10], a[4] * a[9] - a[5] * a[8],
                a[9] * a[2] - a[10] * a[1], a[10] * a[0] - a[8] * a[2], a[8] * a[1] - a[9] * a[0],
                a[1] * a[6] - a[2] * a[5], a[2] * a[4] - a[0] * a[6], a[0] * a[5] - a[1] * a[4]};
  float det = a[0] * c[0] + a[1] * c[1] + a[2] * c[2];  // column 0 dotted with column 1 x column 2
  float s = det < 0 ? -1.0f : 1.0f;  // the sign matters (mirrored views); the length is normalised later
  // The cofactor matrix is det * inverse-transpose; c holds it row by row of the
  // inverse, which is column by column of the inverse transpose.
  for (int i = 0; i < 9; ++i) out[i] = c[i] * s;
}

void set_vec3(int location, Vec3 v) { glUniform3f(location, v.x, v.y, v.z); }

const MaterialDesc& material_of(const Renderer& r, int material) {
  static const MaterialDesc kDefault;
  return material >= 0 && r.materials[material].used ? r.materials[material].desc : kDefault;
}

int lighting_of(Quality quality) { return quality == Quality::gouraud ? 2 : (quality == Quality::flat ? 1 : 0); }

void use_material(const Renderer& r, const Uniforms& u, const MaterialDesc& d, Quality quality) {
  glUniform4f(u.colour, d.colour.r, d.colour.g, d.colour.b, d.colour.a);
  set_vec3(u.emissive, d.emissive);
  set_vec3(u.specular, r.specular ? d.specular : Vec3{});
  glUniform1f(u.power, d.power > 0 ? d.power : 1);
  glUniform1i(u.lighting, lighting_of(quality));
}

bool textured(const Renderer& r, int texture) {
  return texture >= 0 && r.textures[texture].used && r.textures[texture].gl;
}

void use_texture(const Renderer& r, const Uniforms& u, int texture) {
  bool on = textured(r, texture);
  glUniform1i(u.use_texture, on);
  glUniform1i(u.alpha_cut, on && r.textures[texture].cut_out);  // opaque texels never cut
  if (on) glBindTexture(GL_TEXTURE_2D, r.textures[texture].gl);
}

void set_model(const Uniforms& u, const Mat4& view, const Mat4& model) {
  glUniformMatrix4fv(u.model, 1, GL_FALSE, model.m);
  float n[9];
  normal_matrix(multiply(view, model), n);
  glUniformMatrix3fv(u.normal_matrix, 1, GL_FALSE, n);
}

// Walks the enabled part of the tree: world matrices, draw items and lights.
int gather(Renderer& r, int root, const Mat4& view, int& light_count) {
  int count = 0;
  light_count = 0;
  if (!(r.frames[root].traversal & kRenderEnable)) return 0;
  int top = 0;
  r.stack[top] = root;
  r.stack_override[top] = kNone;
  r.stack_clip[top] = kNone;
  r.stack_no_depth[top] = false;
  ++top;
  bool reported = false;
  while (top > 0) {
    --top;
    int f = r.stack[top];
    const FrameSlot& frame = r.frames[f];
    int override = frame.material_override != kNone ? frame.material_override : r.stack_override[top];
    int clip = frame.clip_count > 0 ? f : r.stack_clip[top];
    bool no_depth = !frame.zbuffer || r.stack_no_depth[top];
    Mat4 local = placement(frame.position, frame.rotation, frame.scale);
    // The root may sit inside a larger tree: its own chain places it.
    r.world[f] = f == root ? frame_world(r, Frame{f}) : multiply(r.world[frame.parent], local);
    float depth = -transform_point(multiply(view, r.world[f]), {0, 0, 0}).z;
    for (int v = frame.first_visual; v != kNone; v = r.visuals[v].next) {
      const VisualSlot& visual = r.visuals[v];
      if (visual.kind == VisualKind::light) {
        if (light_count < kMaxActiveLights) {
          r.light_frame[light_count] = f;
          r.light_index[light_count] = visual.object;
          ++light_count;
        }
        continue;
      }
      int groups = visual.kind == VisualKind::mesh ? r.meshes[visual.object].group_count : 1;
      for (int g = 0; g < groups; ++g) {
        if (count == kMaxDrawItems) {
          if (!reported) fail(r, "full: draw items");
          reported = true;
          break;
        }
        DrawItem& item = r.items[count++];
        item = DrawItem{};
        item.frame = f;
        item.clip_frame = clip;
        item.order = count - 1;
        item.depth = depth;
        item.no_depth = no_depth;
        if (visual.kind == VisualKind::mesh) {
          item.mesh = visual.object;
          item.group = g;
          item.material = override != kNone ? override : r.meshes[visual.object].groups[g].material.id;
        } else {
          item.texture = visual.object;
        }
        item.translucent = item.material >= 0 && r.materials[item.material].used &&
                           r.materials[item.material].desc.colour.a < 1;
      }
    }
    for (int c = frame.first_child; c != kNone; c = r.frames[c].next_sibling)
      if (r.frames[c].traversal & kRenderEnable) {
        r.stack[top] = c;
        r.stack_override[top] = override;
        r.stack_clip[top] = clip;
        r.stack_no_depth[top] = no_depth;
        ++top;
      }
  }
  return count;
}

// The uniforms that stay the same for one render() call, worked out once and
// sent to each program the first time the call uses it.
struct CallUniforms {
  Mat4 view, projection;
  bool fog_on = false;
  float fog_start = 0, fog_end = 1;
  Colour fog_colour;
  Vec3 ambient;
  int light_count = 0;            // lights other than ambient
  bool directional_only = true;
  GLint kinds[kMaxActiveLights] = {};
  float colours[kMaxActiveLights * 3] = {}, positions[kMaxActiveLights * 3] = {},
        directions[kMaxActiveLights * 3] = {}, ranges[kMaxActiveLights] = {},
        attenuation[kMaxActiveLights * 3] = {}, cones[kMaxActiveLights * 2] = {};
};

// The gathered lights in eye space: ambient ones summed, the others packed.
void prepare_lights(const Renderer& r, int light_count, CallUniforms& call) {
  int& n = call.light_count;
  for (int i = 0; i < light_count; ++i) {
    const LightSlot& light = r.lights[r.light_index[i]];
    if (!light.used) continue;
    const LightDesc& d = light.desc;
    if (d.kind == LightKind::ambient) {
      call.ambient = add(call.ambient, d.colour);
      continue;
    }
    Mat4 eye = multiply(call.view, r.world[r.light_frame[i]]);
    Vec3 p = transform_point(eye, {0, 0, 0});
    Vec3 dir = normalise(transform_direction(eye, {0, 0, 1}));
    call.kinds[n] = static_cast<GLint>(d.kind);
    call.directional_only = call.directional_only && d.kind == LightKind::directional;
    const float values[][3] = {{d.colour.x, d.colour.y, d.colour.z}, {p.x, p.y, p.z}, {dir.x, dir.y, dir.z},
                               {d.constant, d.linear, d.quadratic}};
    float* targets[] = {call.colours, call.positions, call.directions, call.attenuation};
    for (int k = 0; k < 4; ++k) std::memcpy(targets[k] + n * 3, values[k], sizeof values[k]);
    call.ranges[n] = d.range;
    float umbra = std::min(d.umbra, d.penumbra), penumbra = std::max(d.umbra, d.penumbra);
    call.cones[n * 2] = std::cos(umbra);
    call.cones[n * 2 + 1] = std::cos(penumbra);
    if (call.cones[n * 2 + 1] >= call.cones[n * 2]) call.cones[n * 2 + 1] = call.cones[n * 2] - 1e-4f;  // smoothstep needs a gap
    ++n;
  }
}

void send_call_uniforms(const Uniforms& u, const CallUniforms& call) {
  glUniformMatrix4fv(u.view, 1, GL_FALSE, call.view.m);
  glUniformMatrix4fv(u.projection, 1, GL_FALSE, call.projection.m);
  glUniform1i(u.fog_on, call.fog_on);
  glUniform1f(u.fog_start, call.fog_start);
  glUniform1f(u.fog_end, call.fog_end);
  glUniform3f(u.fog_colour, call.fog_colour.r, call.fog_colour.g, call.fog_colour.b);
  set_vec3(u.ambient, call.ambient);
  glUniform1i(u.light_count, call.light_count);
  glUniform1iv(u.light_kind, kMaxActiveLights, call.kinds);
  glUniform3fv(u.light_colour, kMaxActiveLights, call.colours);
  glUniform3fv(u.light_position, kMaxActiveLights, call.positions);
  glUniform3fv(u.light_direction, kMaxActiveLights, call.directions);
  glUniform1fv(u.light_range, kMaxActiveLights, call.ranges);
  glUniform3fv(u.light_attenuation, kMaxActiveLights, call.attenuation);
  glUniform2fv(u.light_cone, kMaxActiveLights, call.cones);
}

// The clip planes of a frame in eye space, for the vertex shader.
void set_clip(const Renderer& r, const Uniforms& u, const Mat4& view, int clip_frame) {
  int count = clip_frame == kNone ? 0 : r.frames[clip_frame].clip_count;
  float planes[kMaxClipPlanes * 4] = {};
  if (count > 0) {
    Mat4 eye = multiply(view, r.world[clip_frame]);
    float n[9];
    normal_matrix(eye, n);
    for (int i = 0; i < count; ++i) {
      const float* p = r.frames[clip_frame].clip[i];
      Vec3 normal{p[0], p[1], p[2]};
      Vec3 on_plane = transform_point(eye, scale(normal, -p[3]));
      Vec3 e = normalise(Vec3{n[0] * normal.x + n[3] * normal.y + n[6] * normal.z,
                              n[1] * normal.x + n[4] * normal.y + n[7] * normal.z,
                              n[2] * normal.x + n[5] * normal.y + n[8] * normal.z});
      planes[i * 4] = e.x;
      planes[i * 4 + 1] = e.y;
      planes[i * 4 + 2] = e.z;
      planes[i * 4 + 3] = -dot(e, on_plane);
    }
  }
  glUniform1i(u.clip_count, count);
  glUniform4fv(u.clip_planes, kMaxClipPlanes, planes);
}

// What the program in use holds from earlier items of this render() call, so
// that only changes are sent (-2: nothing yet).
struct DrawState {
  std::uint32_t key = 0;
  const ProgramSlot* program = nullptr;
  int material = -2;
  Quality quality = Quality::gouraud;
  int texture = -2;
  int clip_frame = -2;
  unsigned vao = 0;
};

void draw_item(Renderer& r, const CallUniforms& call, const Mat4& camera_world, const DrawItem& item, DrawState& s) {
  bool decal = item.mesh == kNone;
  const MeshSlot* mesh = decal ? nullptr : &r.meshes[item.mesh];
  const FaceGroup* group = decal ? nullptr : &mesh->groups[item.group];
  if (!decal && (!mesh->vao || group->vertex_count == 0)) return;
  int material = decal ? kNone : item.material;
  int texture = decal ? item.texture : group->texture.id;
  Quality quality = decal ? Quality::unlit_flat : group->quality;
  const MaterialDesc& m = material_of(r, material);

  ProgramKey k;
  k.lighting = lighting_of(quality);
  k.texture = textured(r, texture);
  k.alpha_cut = k.texture && r.textures[texture].cut_out;
  k.fog = call.fog_on;
  k.clip_count = item.clip_frame == kNone ? 0 : r.frames[item.clip_frame].clip_count;
  k.shiny = r.specular && (m.specular.x > 0 || m.specular.y > 0 || m.specular.z > 0);
  k.light_count = call.light_count;
  k.directional_only = call.directional_only;
  std::uint32_t key = program_key(k);
  if (key != s.key) {
    const ProgramSlot& p = program_for(r, key);
    if (&p != s.program) {
      glUseProgram(p.gl);
      if (p.stamp != r.render_stamp) {
        send_call_uniforms(p.u, call);
        r.programs[&p - r.programs].stamp = r.render_stamp;
      }
      s.program = &p;
      s.material = s.texture = s.clip_frame = -2;
    }
    s.key = key;
  }
  const Uniforms& u = s.program->u;
  if (item.clip_frame != s.clip_frame) {
    set_clip(r, u, call.view, item.clip_frame);
    s.clip_frame = item.clip_frame;
  }
  if (material != s.material || quality != s.quality) {
    use_material(r, u, m, quality);
    s.material = material;
    s.quality = quality;
  }
  if (texture != s.texture) {
    use_texture(r, u, texture);
    s.texture = texture;
  }
  unsigned vao = decal ? r.quad_vao : mesh->vao;
  if (vao != s.vao) {
    glBindVertexArray(vao);
    s.vao = vao;
  }
  if (!decal) {
    set_model(u, call.view, r.world[item.frame]);
    if (quality == Quality::wireframe) glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glDrawArrays(GL_TRIANGLES, group->first_vertex, group->vertex_count);
    if (quality == Quality::wireframe) glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    return;
  }
  // A decal: the unit quad at the frame's origin, turned like the camera (so it
  // faces it), scaled to the decal size.
  const TextureSlot& t = r.textures[item.texture];
  Vec3 origin = transform_point(r.world[item.frame], {0, 0, 0});
  Mat4 turn = camera_world;
  for (int c = 0; c < 3; ++c) {
    Vec3 axis = normalise(Vec3{turn.m[c * 4], turn.m[c * 4 + 1], turn.m[c * 4 + 2]});
    turn.m[c * 4] = axis.x;
    turn.m[c * 4 + 1] = axis.y;
    turn.m[c * 4 + 2] = axis.z;
  }
  turn.m[12] = origin.x;
  turn.m[13] = origin.y;
  turn.m[14] = origin.z;
  // The quad faces -z; turned with the camera it faces the camera.
  set_model(u, call.view, multiply(turn, scaling({t.decal_width, t.decal_height, 1})));
  glDrawArrays(GL_TRIANGLES, 0, 6);
}

void scissor_rect(const Renderer& r, int x, int y, int width, int height) {
  glEnable(GL_SCISSOR_TEST);
  glScissor(x, r.height - y - height, width, height);
}

}  // namespace

void viewport_clear(Renderer& r, Viewport viewport, std::uint32_t what) {
  if (!r.gl || !viewport_ok(r, viewport)) return;
  const ViewportSlot& v = r.viewports[viewport.id];
  glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
  scissor_rect(r, v.x, v.y, v.width, v.height);
  GLbitfield bits = 0;
  if (what & kClearDepth) {
    glDepthMask(GL_TRUE);
    bits |= GL_DEPTH_BUFFER_BIT;
  }
  if (what & kClearColour) {
    Colour c = v.camera != kNone ? frame_background(r, frame_root(r, Frame{v.camera})) : Colour{0, 0, 0, 1};
    glClearColor(c.r, c.g, c.b, 1);
    bits |= GL_COLOR_BUFFER_BIT;
  }
  if (bits) glClear(bits);
  glDisable(GL_SCISSOR_TEST);
}

int render(Renderer& r, Viewport viewport, Frame root) {
  if (!r.gl || !viewport_ok(r, viewport) || !frame_ok(r, root)) return 0;
  const ViewportSlot& v = r.viewports[viewport.id];
  if (v.camera == kNone || !r.frames[v.camera].used || v.width <= 0 || v.height <= 0) return 0;
  Mat4 camera_world = frame_world(r, Frame{v.camera});
  Mat4 view = view_of(r, v.camera);
  int light_count = 0;
  int count = gather(r, root.id, view, light_count);

  // Opaque first in the root's order, then translucent back to front (in the
  // walk's order when sorted transparency is off), then those without depth
  // buffering back to front (painted over the rest); ties keep the walk's order.
  SortMode mode = r.frames[root.id].sort;
  bool sorted = r.sorted_transparency;
  std::sort(r.items, r.items + count, [mode, sorted](const DrawItem& a, const DrawItem& b) {
    if (a.no_depth != b.no_depth) return !a.no_depth;
    if (a.no_depth) return a.depth != b.depth ? a.depth > b.depth : a.order < b.order;
    if (a.translucent != b.translucent) return !a.translucent;
    bool far_first = a.translucent ? sorted : mode == SortMode::back_to_front;
    if (far_first && a.depth != b.depth) return a.depth > b.depth;
    if (!a.translucent && mode == SortMode::front_to_back && a.depth != b.depth) return a.depth < b.depth;
    return a.order < b.order;
  });

  glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
  glViewport(v.x, r.height - v.y - v.height, v.width, v.height);
  scissor_rect(r, v.x, v.y, v.width, v.height);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_CULL_FACE);
  glDisable(GL_BLEND);
  glDepthMask(GL_TRUE);
  glActiveTexture(GL_TEXTURE0);

  CallUniforms call;
  call.view = view;
  float back = std::max(v.back, v.front * 1.001f);
  call.projection = perspective(v.front, back, v.field, static_cast<float>(v.width) / v.height);
  const FrameSlot& scene = r.frames[root.id];
  call.fog_on = scene.fog_on;
  call.fog_start = scene.fog_start;
  call.fog_end = scene.fog_end;
  call.fog_colour = scene.fog_colour;
  prepare_lights(r, light_count, call);
  if (++r.render_stamp == 0) r.render_stamp = 1;  // 0 means "never" in a program slot

  DrawState state;
  bool blending = false, depth_test = true;
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  for (int i = 0; i < count; ++i) {
    const DrawItem& item = r.items[i];
    if (item.translucent != blending) {
      blending = item.translucent;
      blending ? glEnable(GL_BLEND) : glDisable(GL_BLEND);
      glDepthMask(blending ? GL_FALSE : GL_TRUE);
    }
    if (item.no_depth == depth_test) {  // only once: those items come last
      depth_test = !item.no_depth;
      depth_test ? glEnable(GL_DEPTH_TEST) : glDisable(GL_DEPTH_TEST);
    }
    draw_item(r, call, camera_world, item, state);
  }
  glEnable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);
  glDisable(GL_BLEND);
  glDisable(GL_SCISSOR_TEST);
  glBindVertexArray(0);
  return count;
}

// ---- 2D and output -----------------------------------------------------------------

void clear(Renderer& r, Colour c) {
  if (!r.gl) return;
  glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
  glDisable(GL_SCISSOR_TEST);
  glDepthMask(GL_TRUE);
  glClearColor(c.r, c.g, c.b, c.a);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void fill_rect(Renderer& r, int x, int y, int width, int height, Colour c) {
  if (!r.gl) return;
  int x0 = std::max(x, 0), y0 = std::max(y, 0);
  int x1 = static_cast<int>(std::min<long long>(static_cast<long long>(x) + width, r.width));
  int y1 = static_cast<int>(std::min<long long>(static_cast<long long>(y) + height, r.height));
  if (x1 <= x0 || y1 <= y0) return;
  glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
  scissor_rect(r, x0, y0, x1 - x0, y1 - y0);
  glClearColor(c.r, c.g, c.b, c.a);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
}

namespace {

// True when every pixel of the 8-bit screen is index 0 (a screen with no 2D on it).
bool all_zero(const std::uint8_t* pixels, int width, int height, int pitch) {
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * pitch;
    std::uint8_t any = 0;
    for (int x = 0; x < width; ++x) any |= row[x];
    if (any) return false;
  }
  return true;
}

}  // namespace

namespace {

// The unit quad scaled to cover clip space, showing the bound texture unlit
// through an unlit textured program whose per-call uniforms this overwrites (so
// the next render() sends them again).
void draw_flat_quad(Renderer& r, bool colour0_transparent) {
  ProgramKey key;
  key.texture = true;
  key.alpha_cut = colour0_transparent;
  ProgramSlot& p = program_for(r, program_key(key));
  p.stamp = 0;
  const Uniforms& u = p.u;
  glUseProgram(p.gl);
  Mat4 identity;
  glUniformMatrix4fv(u.view, 1, GL_FALSE, identity.m);
  glUniformMatrix4fv(u.projection, 1, GL_FALSE, identity.m);
  set_model(u, identity, scaling({2, 2, 1}));
  glUniform4f(u.colour, 1, 1, 1, 1);
  set_vec3(u.emissive, {});
  set_vec3(u.specular, {});
  glUniform1i(u.lighting, 0);
  glUniform1i(u.use_texture, 1);
  glUniform1i(u.alpha_cut, colour0_transparent);
  glUniform1i(u.fog_on, 0);
  glUniform1i(u.clip_count, 0);
  glBindVertexArray(r.quad_vao);
  glDrawArrays(GL_TRIANGLES, 0, 6);
  glBindVertexArray(0);
}

}  // namespace

void draw_screen(Renderer& r, const std::uint8_t* pixels, int width, int height, int pitch,
                 const std::uint8_t palette[768], bool colour0_transparent) {
  if (!r.gl || !pixels || !palette || !size_ok(width, height) || pitch < width) return;
  if (colour0_transparent && all_zero(pixels, width, height, pitch)) return;  // nothing would show
  std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
  if (r.screen_rgba.size() < bytes) r.screen_rgba.resize(bytes);
  std::uint8_t* out = r.screen_rgba.data();
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * pitch;
    for (int x = 0; x < width; ++x, out += 4) {
      int index = row[x];
      out[0] = palette[index * 3];
      out[1] = palette[index * 3 + 1];
      out[2] = palette[index * 3 + 2];
      out[3] = colour0_transparent && index == 0 ? 0 : 255;
    }
  }
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, r.screen_texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  if (width != r.screen_width || height != r.screen_height) {
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, r.screen_rgba.data());
    r.screen_width = width;
    r.screen_height = height;
  } else {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, r.screen_rgba.data());
  }
  // The unit quad scaled to cover clip space, with identity view and projection.
  glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
  glViewport(0, 0, r.width, r.height);
  glDisable(GL_SCISSOR_TEST);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glDisable(GL_BLEND);
  draw_flat_quad(r, colour0_transparent);
  glEnable(GL_DEPTH_TEST);
}

void draw_layer(Renderer& r, int slot, const std::uint8_t* rgba, int width, int height, LayerRows upload,
                LayerRows shown) {
  static_assert(kLayerSlots == 2, "one texture per slot is made with the screen's");
  if (!r.gl || !rgba || slot < 0 || slot >= kLayerSlots || !size_ok(width, height)) return;
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, r.layer_texture[slot]);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  if (width != r.layer_width[slot] || height != r.layer_height[slot]) {
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    r.layer_width[slot] = width;
    r.layer_height[slot] = height;
  } else {
    int first = std::max(upload.first, 0), end = std::min(upload.end, height);
    if (first < end)
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, first, width, end - first, GL_RGBA, GL_UNSIGNED_BYTE,
                      rgba + static_cast<std::size_t>(first) * width * 4);
  }
  // Target rows of the shown layer rows (rounded outwards).
  long long top = static_cast<long long>(std::max(shown.first, 0)) * r.height / height;
  long long bottom = (static_cast<long long>(std::min(shown.end, height)) * r.height + height - 1) / height;
  if (top >= bottom) return;
  // The unit quad scaled to cover clip space, blended by the layer's alpha.
  glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
  glViewport(0, 0, r.width, r.height);
  scissor_rect(r, 0, static_cast<int>(top), r.width, static_cast<int>(bottom - top));
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  draw_flat_quad(r, false);
  glDisable(GL_BLEND);
  glDisable(GL_SCISSOR_TEST);
  glEnable(GL_DEPTH_TEST);
}

void present(Renderer& r) {
  if (!r.gl || r.own_window) return;
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(r.window, &w, &h);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  // Largest picture of the target's aspect that fits, centred (letterboxed).
  long long sw = w, sh = static_cast<long long>(w) * r.height / r.width;
  if (sh > h) {
    sh = h;
    sw = static_cast<long long>(h) * r.width / r.height;
  }
  int x0 = static_cast<int>((w - sw) / 2), y0 = static_cast<int>((h - sh) / 2);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, r.fbo);
  glBlitFramebuffer(0, 0, r.width, r.height, x0, y0, x0 + static_cast<int>(sw), y0 + static_cast<int>(sh),
                    GL_COLOR_BUFFER_BIT, GL_LINEAR);
  SDL_GL_SwapWindow(r.window);
  glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
}

bool read_pixels(Renderer& r, int x, int y, int width, int height, std::uint8_t* out) {
  if (!r.gl || !out || x < 0 || y < 0 || width <= 0 || height <= 0 || x > r.width - width ||
      y > r.height - height)
    return false;
  glBindFramebuffer(GL_FRAMEBUFFER, r.fbo);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  // GL rows run bottom-up: read each row into its top-down place.
  for (int row = 0; row < height; ++row)
    glReadPixels(x, r.height - y - 1 - row, width, 1, GL_RGBA, GL_UNSIGNED_BYTE,
                 out + static_cast<std::size_t>(row) * width * 4);
  return true;
}

}  // namespace scene
