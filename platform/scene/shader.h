// The GLSL 330 core program of the scene layer: per-pixel lighting with up
// to eight lights, material colour and highlights, texture with the colour-0
// cut-out, linear fog by camera depth and up to eight clip planes.
//
// One source serves every program. Compiled as it is (after kShaderVersion), it
// is the general program that reads every switch from uniforms. A specialised
// program puts #defines before it that replace the switch uniforms by constants
// (u_lighting, u_use_texture, u_alpha_cut, u_fog_on, u_light_count,
// u_clip_count, plus SHINY and DIRECTIONAL_ONLY): the compiler then drops the
// unused paths and unrolls the light loop. On a software renderer that halves
// the cost of a pixel; both kinds compute the same colours.
#pragma once

namespace scene {

inline constexpr const char* kShaderVersion = "#version 330 core\n";

inline constexpr const char* kVertexShader = R"(
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec3 a_normal;
layout(location = 2) in vec2 a_uv;
uniform mat4 u_model;
uniform mat4 u_view;
uniform mat4 u_projection;
uniform mat3 u_normal_matrix;
#ifndef u_clip_count
uniform int u_clip_count;
#endif
uniform vec4 u_clip_planes[8];  // eye space
out float gl_ClipDistance[8];
out vec3 v_eye;
out vec3 v_normal;
out vec2 v_uv;
void main() {
  vec4 eye = u_view * u_model * vec4(a_position, 1.0);
  v_eye = eye.xyz;
  v_normal = u_normal_matrix * a_normal;
  v_uv = a_uv;
  for (int i = 0; i < 8; ++i) gl_ClipDistance[i] = i < u_clip_count ? dot(u_clip_planes[i], eye) : 1.0;
  gl_Position = u_projection * eye;
}
)";

// u_lighting: 0 unlit, 1 lit with the face normal, 2 lit with vertex normals.
// Light kinds: 0 ambient (folded into u_ambient), 1 directional, 2 point, 3 spot.
inline constexpr const char* kFragmentShader = R"(
in vec3 v_eye;
in vec3 v_normal;
in vec2 v_uv;
uniform vec4 u_colour;
uniform vec3 u_emissive;
uniform vec3 u_specular;
uniform float u_power;
#ifndef u_lighting
uniform int u_lighting;
#endif
#ifndef u_use_texture
uniform bool u_use_texture;
#endif
#ifndef u_alpha_cut
uniform bool u_alpha_cut;
#endif
uniform sampler2D u_sampler;
uniform vec3 u_ambient;
#ifndef u_light_count
uniform int u_light_count;
#endif
#ifndef DIRECTIONAL_ONLY
#define DIRECTIONAL_ONLY false
#endif
uniform int u_light_kind[8];
uniform vec3 u_light_colour[8];
uniform vec3 u_light_position[8];
uniform vec3 u_light_direction[8];
uniform float u_light_range[8];
uniform vec3 u_light_attenuation[8];
uniform vec2 u_light_cone[8];
#ifndef u_fog_on
uniform bool u_fog_on;
#endif
uniform float u_fog_start;
uniform float u_fog_end;
uniform vec3 u_fog_colour;
out vec4 o_colour;
void main() {
  vec4 texel = u_use_texture ? texture(u_sampler, v_uv) : vec4(1.0);
  if (u_alpha_cut && texel.a < 0.5) discard;
  vec3 base = u_colour.rgb * texel.rgb;
  vec3 c = base + u_emissive;
  if (u_lighting != 0) {
    vec3 n = u_lighting == 1 ? normalize(cross(dFdx(v_eye), dFdy(v_eye))) : normalize(v_normal);
#ifdef SHINY
    const bool shiny = SHINY;
#else
    bool shiny = any(greaterThan(u_specular, vec3(0.0)));  // uniform: highlights cost nothing when off
#endif
    vec3 to_eye = shiny ? normalize(-v_eye) : vec3(0.0);
    vec3 diffuse = u_ambient;
    vec3 highlight = vec3(0.0);
    for (int i = 0; i < u_light_count; ++i) {
      vec3 l;
      float strength = 1.0;
      if (DIRECTIONAL_ONLY || u_light_kind[i] == 1) {
        l = -u_light_direction[i];
      } else {
        vec3 d = u_light_position[i] - v_eye;
        float dist = length(d);
        if (dist > u_light_range[i]) continue;
        l = dist > 0.0 ? d / dist : vec3(0.0, 0.0, 1.0);
        vec3 k = u_light_attenuation[i];
        strength = 1.0 / max(k.x + k.y * dist + k.z * dist * dist, 1e-6);
        if (u_light_kind[i] == 3)
          strength *= smoothstep(u_light_cone[i].y, u_light_cone[i].x, dot(-l, u_light_direction[i]));
      }
      float nl = max(dot(n, l), 0.0);
      diffuse += u_light_colour[i] * nl * strength;
      if (shiny && nl > 0.0)
        highlight += u_light_colour[i] * pow(max(dot(n, normalize(l + to_eye)), 0.0), u_power) * strength;
    }
    c = base * diffuse + u_emissive + u_specular * highlight;
  }
  if (u_fog_on) {
    float depth = -v_eye.z;
    float f = u_fog_end > u_fog_start ? clamp((u_fog_end - depth) / (u_fog_end - u_fog_start), 0.0, 1.0)
                                      : (depth < u_fog_start ? 1.0 : 0.0);
    c = mix(u_fog_colour, c, f);
  }
  o_colour = vec4(c, u_colour.a * texel.a);
}
)";

}  // namespace scene
