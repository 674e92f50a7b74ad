// The scene layer's GL programs: the general program, and programs specialised
// for one combination of switches (lighting, texture, cut-out, fog, clip planes,
// highlights, lights), built on first use and kept in a fixed table.
#include <epoxy/gl.h>

#include <cstdio>

#include "platform/scene/scene_local.h"
#include "platform/scene/shader.h"

namespace scene {

namespace {

unsigned compile(GLenum kind, const char* defines, const char* source, char* log, int log_size) {
  unsigned s = glCreateShader(kind);
  const char* parts[] = {kShaderVersion, defines, source};
  glShaderSource(s, 3, parts, nullptr);
  glCompileShader(s);
  GLint ok = 0;
  glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    glGetShaderInfoLog(s, log_size, nullptr, log);
    glDeleteShader(s);
    return 0;
  }
  return s;
}

}  // namespace

bool build_program(const char* defines, ProgramSlot& slot, char* log, int log_size) {
  unsigned vs = compile(GL_VERTEX_SHADER, defines, kVertexShader, log, log_size);
  if (!vs) return false;
  unsigned fs = compile(GL_FRAGMENT_SHADER, defines, kFragmentShader, log, log_size);
  if (!fs) {
    glDeleteShader(vs);
    return false;
  }
  unsigned program = glCreateProgram();
  glAttachShader(program, vs);
  glAttachShader(program, fs);
  glLinkProgram(program);
  glDeleteShader(vs);
  glDeleteShader(fs);
  GLint ok = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &ok);
  if (!ok) {
    glGetProgramInfoLog(program, log_size, nullptr, log);
    glDeleteProgram(program);
    return false;
  }
  struct Binding {
    int Uniforms::*field;
    const char* name;
  };
  static const Binding kBindings[] = {
      {&Uniforms::model, "u_model"},
      {&Uniforms::view, "u_view"},
      {&Uniforms::projection, "u_projection"},
      {&Uniforms::normal_matrix, "u_normal_matrix"},
      {&Uniforms::colour, "u_colour"},
      {&Uniforms::emissive, "u_emissive"},
      {&Uniforms::specular, "u_specular"},
      {&Uniforms::power, "u_power"},
      {&Uniforms::lighting, "u_lighting"},
      {&Uniforms::use_texture, "u_use_texture"},
      {&Uniforms::alpha_cut, "u_alpha_cut"},
      {&Uniforms::sampler, "u_sampler"},
      {&Uniforms::ambient, "u_ambient"},
      {&Uniforms::light_count, "u_light_count"},
      {&Uniforms::light_kind, "u_light_kind"},
      {&Uniforms::light_colour, "u_light_colour"},
      {&Uniforms::light_position, "u_light_position"},
      {&Uniforms::light_direction, "u_light_direction"},
      {&Uniforms::light_range, "u_light_range"},
      {&Uniforms::light_attenuation, "u_light_attenuation"},
      {&Uniforms::light_cone, "u_light_cone"},
      {&Uniforms::fog_on, "u_fog_on"},
      {&Uniforms::fog_start, "u_fog_start"},
      {&Uniforms::fog_end, "u_fog_end"},
      {&Uniforms::fog_colour, "u_fog_colour"},
      {&Uniforms::clip_count, "u_clip_count"},
      {&Uniforms::clip_planes, "u_clip_planes"},
  };
  // Switches turned into constants have no location (-1): GL ignores setting them.
  for (const Binding& b : kBindings) slot.u.*b.field = glGetUniformLocation(program, b.name);
  glUseProgram(program);
  glUniform1i(slot.u.sampler, 0);
  slot.gl = program;
  slot.stamp = 0;
  return true;
}

void set_specialised_programs(Renderer& r, bool on) { r.specialise = on; }

ProgramSlot& program_for(Renderer& r, std::uint32_t key) {
  if (!r.specialise) return r.programs[0];
  for (int i = 1; i < r.program_count; ++i)
    if (r.programs[i].key == key) return r.programs[i].gl ? r.programs[i] : r.programs[0];
  if (r.program_count == kMaxPrograms) return r.programs[0];  // rare mixes share the general program
  ProgramSlot& slot = r.programs[r.program_count++];
  slot = ProgramSlot{};
  slot.key = key;
  ProgramKey k = decode_program_key(key);
  char defines[320];
  std::snprintf(defines, sizeof defines,
                "#define u_lighting %d\n#define u_use_texture %s\n#define u_alpha_cut %s\n#define u_fog_on %s\n"
                "#define u_clip_count %d\n#define SHINY %s\n#define u_light_count %d\n#define DIRECTIONAL_ONLY %s\n",
                k.lighting, k.texture ? "true" : "false", k.alpha_cut ? "true" : "false", k.fog ? "true" : "false",
                k.clip_count, k.shiny ? "true" : "false", k.light_count, k.directional_only ? "true" : "false");
  char log[512] = {};
  if (!build_program(defines, slot, log, sizeof log)) {
    fail(r, "shader variant %#x: %.120s", key, log);
    return r.programs[0];
  }
  return slot;
}

}  // namespace scene
