// A minimal direct OpenGL drawer for the benchmarks: the baseline that the scene
// layer's cost is measured against. Its own library, linked by bench/ only, so
// the engine never carries it; it lives here because only platform/ touches GL.
#pragma once

#include <cstdint>
#include <span>

#include "platform/scene/scene.h"

namespace platform {

// One program, one buffer, one texture: one mesh drawn at many placements.
// Needs a current GL context (a scene renderer's); draws into the bound
// framebuffer. rgba: width x height texels.
struct ReferenceDraw;
ReferenceDraw* reference_draw_create(std::span<const scene::Vertex> mesh, const std::uint8_t* rgba, int width,
                                     int height);
// The lights of the reference picture: ambient plus one directional light
// shining along direction (unit, OpenGL eye space).
struct ReferenceLight {
  scene::Vec3 ambient, colour, direction;
};
// Clears, then draws the mesh once per model matrix through view and projection
// (OpenGL eye space): texture (linear filtering) times the light, as the scene
// layer draws a textured gouraud mesh of white material.
void reference_draw(ReferenceDraw& draw, std::span<const scene::Mat4> models, const scene::Mat4& view,
                    const scene::Mat4& projection, const ReferenceLight& light);
void reference_draw_destroy(ReferenceDraw* draw);

}  // namespace platform
