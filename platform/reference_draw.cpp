// A minimal direct OpenGL drawer of one mesh at many placements, for measuring
// what the scene layer costs over plain GL calls. It draws into whatever
// framebuffer and viewport are bound (the scene renderer's target).
#include <epoxy/gl.h>

#include <cstddef>

#include "platform/reference_draw.h"

namespace platform {

namespace {

// Lit as the scene layer lights a textured gouraud mesh of white material under
// one ambient and one directional light, with nothing else to decide per pixel.
constexpr const char* kVertex = R"(#version 330 core
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec3 a_normal;
layout(location = 2) in vec2 a_uv;
uniform mat4 u_model;
uniform mat4 u_view;
uniform mat4 u_projection;
out vec3 v_normal;
out vec2 v_uv;
void main() {
  vec4 eye = u_view * u_model * vec4(a_position, 1.0);
  v_normal = mat3(u_view * u_model) * a_normal;
  v_uv = a_uv;
  gl_Position = u_projection * eye;
}
)";

constexpr const char* kFragment = R"(#version 330 core
in vec3 v_normal;
in vec2 v_uv;
uniform sampler2D u_sampler;
uniform vec3 u_ambient;
uniform vec3 u_sun;        // colour
uniform vec3 u_direction;  // eye space, the way the light shines
out vec4 o_colour;
void main() {
  vec4 texel = texture(u_sampler, v_uv);
  vec3 diffuse = u_ambient + u_sun * max(dot(normalize(v_normal), -u_direction), 0.0);
  o_colour = vec4(texel.rgb * diffuse, texel.a);
}
)";

GLuint compile(GLenum kind, const char* text) {
  GLuint s = glCreateShader(kind);
  glShaderSource(s, 1, &text, nullptr);
  glCompileShader(s);
  return s;
}

}  // namespace

struct ReferenceDraw {
  GLuint program = 0, vao = 0, vbo = 0, texture = 0;
  GLint model = -1, view = -1, projection = -1, ambient = -1, sun = -1, direction = -1;
  int vertices = 0;
};

ReferenceDraw* reference_draw_create(std::span<const scene::Vertex> mesh, const std::uint8_t* rgba, int width,
                                     int height) {
  auto* d = new ReferenceDraw;
  GLuint vs = compile(GL_VERTEX_SHADER, kVertex), fs = compile(GL_FRAGMENT_SHADER, kFragment);
  d->program = glCreateProgram();
  glAttachShader(d->program, vs);
  glAttachShader(d->program, fs);
  glLinkProgram(d->program);
  glDeleteShader(vs);
  glDeleteShader(fs);
  d->model = glGetUniformLocation(d->program, "u_model");
  d->view = glGetUniformLocation(d->program, "u_view");
  d->projection = glGetUniformLocation(d->program, "u_projection");
  d->ambient = glGetUniformLocation(d->program, "u_ambient");
  d->sun = glGetUniformLocation(d->program, "u_sun");
  d->direction = glGetUniformLocation(d->program, "u_direction");
  glGenVertexArrays(1, &d->vao);
  glBindVertexArray(d->vao);
  glGenBuffers(1, &d->vbo);
  glBindBuffer(GL_ARRAY_BUFFER, d->vbo);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(mesh.size_bytes()), mesh.data(), GL_STATIC_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(scene::Vertex), reinterpret_cast<void*>(offsetof(scene::Vertex, position)));
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(scene::Vertex), reinterpret_cast<void*>(offsetof(scene::Vertex, normal)));
  glEnableVertexAttribArray(2);
  glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(scene::Vertex), reinterpret_cast<void*>(offsetof(scene::Vertex, u)));
  glBindVertexArray(0);
  glGenTextures(1, &d->texture);
  glBindTexture(GL_TEXTURE_2D, d->texture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  d->vertices = static_cast<int>(mesh.size());
  return d;
}

void reference_draw(ReferenceDraw& d, std::span<const scene::Mat4> models, const scene::Mat4& view,
                    const scene::Mat4& projection, const ReferenceLight& light) {
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_CULL_FACE);
  glFrontFace(GL_CW);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glUseProgram(d.program);
  glUniformMatrix4fv(d.view, 1, GL_FALSE, view.m);
  glUniformMatrix4fv(d.projection, 1, GL_FALSE, projection.m);
  glUniform3f(d.ambient, light.ambient.x, light.ambient.y, light.ambient.z);
  glUniform3f(d.sun, light.colour.x, light.colour.y, light.colour.z);
  glUniform3f(d.direction, light.direction.x, light.direction.y, light.direction.z);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, d.texture);
  glBindVertexArray(d.vao);
  for (const scene::Mat4& m : models) {
    glUniformMatrix4fv(d.model, 1, GL_FALSE, m.m);
    glDrawArrays(GL_TRIANGLES, 0, d.vertices);
  }
  glBindVertexArray(0);
}

void reference_draw_destroy(ReferenceDraw* d) {
  if (!d) return;
  glDeleteTextures(1, &d->texture);
  glDeleteBuffers(1, &d->vbo);
  glDeleteVertexArrays(1, &d->vao);
  glDeleteProgram(d->program);
  delete d;
}

}  // namespace platform
