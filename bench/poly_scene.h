// The polygon collision routine's workload: the box of poly_workload.h as an
// element moved along its path by its record, tested with `h_poly_collision`
// against an element whose mesh is the 10,000-triangle ground, on a scene
// with no OpenGL. Needs ZEPTA_TEST_DATA=<build>/work/data.
#pragma once

#include <cstring>
#include <memory>
#include <string>

#include "bench/poly_workload.h"
#include "bench/scenes.h"
#include "engine/engine.h"
#include "engine/render/render.h"

namespace bench {

struct PolyScene {
  scene::Renderer* renderer = scene::create_without_gl();
  std::unique_ptr<project::AspectLoad> load = std::make_unique<project::AspectLoad>();
  std::unique_ptr<engine::World> world = std::make_unique<engine::World>();
  brain::Routine collide = nullptr;
  std::int32_t ground = 0, box = 0;  // element references
  bool started = false;

  bool start() {
    if (!renderer || prepare_scenes()) return false;
    world->tables = project::budget_tables();
    std::memset(world->tables.elements, 0, project::kMaxElements * sizeof(project::ElementRecord));
    const std::string model = data_folder() + "bndbox.x";
    int aspect[2];
    for (int i = 0; i < 2; ++i) {
      project::ElementRecord& e = world->tables.elements[i];
      e.flags = project::kFlagOn | project::kFlagShown;
      e.scale_x = e.scale_y = e.scale_z = 1000;
      aspect[i] = project::take_aspect(world->tables, *load, i, ".v3d");
      project::AspectRecord& a = world->tables.aspects[aspect[i]];
      std::byte* at = project::take_arena(world->tables, *load, model.size() + 1);
      std::memcpy(at, model.c_str(), model.size() + 1);
      a.word[engine::kVisualModel] = static_cast<std::int32_t>(at - world->tables.arena.data()) + 1;
      e.current_aspect = e.base_aspect = static_cast<std::int32_t>(base::address32(&a));
    }
    world->highest = 1;
    engine::begin_run(*world);
    started = true;
    engine::SceneSetup setup;
    setup.renderer = renderer;
    setup.work_folder = base::Text(work_folder());
    setup.data_folder = base::Text(data_folder());
    if (!engine::scene_start(*world, *load, setup)) return false;
    // Each element's model replaced by a mesh of the workload.
    const std::vector<scene::Vertex> meshes[2] = {poly_ground_vertices(), poly_box_vertices()};
    for (int i = 0; i < 2; ++i) {
      scene::FaceGroup g;
      g.vertex_count = static_cast<int>(meshes[i].size());
      scene::Mesh m = scene::mesh_create(*renderer, meshes[i], std::span(&g, 1));
      scene::Frame f = engine::aspect_frame(*world, aspect[i]);
      scene::frame_remove_visuals(*renderer, f);
      if (!scene::valid(m) || !scene::frame_add_mesh(*renderer, f, m)) return false;
    }
    ground = engine::reference_of(world->tables.elements[0]);
    box = engine::reference_of(world->tables.elements[1]);
    collide = brain::routine_of(brain::find_keyword("h_poly_collision"));
    for (const char* path : {"h_cpart1_set", "h_cpart2_set"}) brain::routine_of(brain::find_keyword(path))(0, -1, -1, -1, 0, 0);
    return true;
  }
  // The box element to step k of its path (turning about y and a little about x).
  void move_box(int k, int positions) {
    scene::Vec3 at;
    double turn = 0;
    poly_path(k, positions, at, turn);
    project::ElementRecord& e = world->tables.elements[1];
    e.position[0] = static_cast<std::int32_t>(at.x * kUnit);
    e.position[1] = static_cast<std::int32_t>(at.y * kUnit);
    e.position[2] = static_cast<std::int32_t>(at.z * kUnit);
    const double degrees = turn * 180 / M_PI;
    e.rotation[1] = static_cast<std::int32_t>(std::fmod(degrees, 360.0) * 512);
    e.rotation[0] = static_cast<std::int32_t>(std::fmod(degrees * 0.2, 360.0) * 512);
  }
  // One test: -1 on contact, else 0.
  std::int32_t test() { return collide(ground, box, 0, 0, 0, 0); }

  ~PolyScene() {
    if (started) {
      engine::scene_end(*world);
      engine::end_run(*world);
    }
    scene::destroy(renderer);
  }
};

}  // namespace bench
