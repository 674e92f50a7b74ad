// The polygon-level collision test's workload: a 12-triangle box moving a
// little each call over a rolling 10,000-triangle height field, now clear of
// it, now through it.
#pragma once

#include <cmath>
#include <vector>

#include "engine/poly_collide.h"

namespace bench {

// The ground's height at (x, z), scene units.
inline double poly_ground_height(double x, double z) {
  return 1.5 * std::sin(x / 6) * std::cos(z / 4) + 0.5 * std::sin(x / 2.3 + z / 3.1);
}

// Ground 100 x 50 units in cells of 1: 10,000 triangles.
inline std::vector<scene::Vertex> poly_ground_vertices() {
  std::vector<scene::Vertex> ground;
  for (int j = 0; j < 50; ++j)
    for (int i = 0; i < 100; ++i) {
      auto corner = [&](int di, int dj) {
        double x = -50 + i + di, z = -25 + j + dj;
        return scene::Vertex{{static_cast<float>(x), static_cast<float>(poly_ground_height(x, z)), static_cast<float>(z)}, {}, 0, 0};
      };
      ground.insert(ground.end(), {corner(0, 0), corner(0, 1), corner(1, 0), corner(1, 0), corner(0, 1), corner(1, 1)});
    }
  return ground;
}

// A box of 1 x 1 x 1: 12 triangles.
inline std::vector<scene::Vertex> poly_box_vertices() {
  std::vector<scene::Vertex> box(36);
  scene::build_box(box, {0.5f, 0.5f, 0.5f});
  return box;
}

// Step k of positions of the box's looping path: its height swings from 0.2
// below the ground to 2 above it; turn: how far it has turned, radians.
inline void poly_path(int k, int positions, scene::Vec3& at, double& turn) {
  const double kTurn = 2 * M_PI;
  double s = static_cast<double>(k) / positions;
  double x = 45 * std::sin(kTurn * 3 * s), z = 22 * std::sin(kTurn * 5 * s + 1);
  double y = poly_ground_height(x, z) + 0.9 + 1.1 * std::sin(kTurn * 37 * s);
  at = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
  turn = kTurn * 11 * s;
}

struct PolyWorkload {
  engine::PolyMesh ground, box;
  std::vector<scene::Mat4> places;  // the box's placements along its path, in call order
};

// The box turning about a tilted axis as it goes.
inline PolyWorkload poly_workload(int positions = 4096) {
  PolyWorkload w;
  engine::poly_build(w.ground, poly_ground_vertices());
  engine::poly_build(w.box, poly_box_vertices());
  for (int k = 0; k < positions; ++k) {
    scene::Vec3 at;
    double turn = 0;
    poly_path(k, positions, at, turn);
    w.places.push_back(scene::placement(at, scene::quat_from_axis_angle({0.2f, 1, 0.1f}, static_cast<float>(turn)), {1, 1, 1}));
  }
  return w;
}

}  // namespace bench
