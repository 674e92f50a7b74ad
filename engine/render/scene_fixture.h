// Shared by the tests that render scenes offscreen: the budget with the lookup
// tables, one offscreen renderer per test suite, a world whose scene a test
// starts, and pixels read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "engine/render/render_local.h"
#include "base/memory.h"

namespace scene_test {

using project::ElementRecord;

struct Rgb {
  int r, g, b;
};

inline constexpr std::int32_t kUnit = 512000;  // sub-units per scene unit

class SceneFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(base::reserve_budget());
    const char* data = std::getenv("ZEPTA_TEST_DATA");
    if (data) data_ = std::string(data) + "/";
    tables_ok_ = data && media::load_lookup_tables(data_);
    renderer_ = scene::create_offscreen(640, 480, error_, sizeof error_);
  }
  static void TearDownTestSuite() {
    scene::destroy(renderer_);
    renderer_ = nullptr;
    base::release_budget();
  }

  void SetUp() override {
    if (!tables_ok_) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    if (!renderer_ && std::strncmp(error_, "no ", 3) == 0) GTEST_SKIP() << error_;
    ASSERT_NE(renderer_, nullptr) << error_;
    world_ = std::make_unique<engine::World>();
    world_->tables = project::budget_tables();
    std::memset(world_->tables.elements, 0, project::kMaxElements * sizeof(ElementRecord));
    load_ = std::make_unique<project::AspectLoad>();
    engine::begin_run(*world_);
  }
  void TearDown() override {
    if (!world_) return;
    engine::scene_end(*world_);
    engine::end_run(*world_);
  }

  // Element i on and shown at unit scale (and one past the highest so far).
  ElementRecord& element(int i) {
    if (i > world_->highest) world_->highest = i;
    ElementRecord& e = world_->tables.elements[i];
    e.flags = project::kFlagOn | project::kFlagShown;
    e.scale_x = e.scale_y = e.scale_z = 1000;
    return e;
  }
  void set_aspect(ElementRecord& e, int n) {
    e.current_aspect = e.base_aspect = static_cast<std::int32_t>(base::address32(&world_->tables.aspects[n]));
  }
  // Scene start on the suite's renderer, with the generated working folder.
  engine::Scene& start(int display_mode = 1, int hood_type = 0) {
    engine::SceneSetup setup;
    setup.renderer = renderer_;
    setup.work_folder = base::Text(data_ + "../");
    setup.data_folder = base::Text(data_);
    setup.settings.hood_type = hood_type;
    setup.options.display_mode = display_mode;
    EXPECT_TRUE(engine::scene_start(*world_, *load_, setup));
    return *world_->scene;
  }
  Rgb pixel(int x, int y) {
    std::uint8_t p[4] = {};
    EXPECT_TRUE(scene::read_pixels(*renderer_, x, y, 1, 1, p)) << x << "," << y;
    return {p[0], p[1], p[2]};
  }

  static inline std::string data_;
  static inline bool tables_ok_ = false;
  static inline scene::Renderer* renderer_ = nullptr;
  static inline char error_[160] = {};
  std::unique_ptr<engine::World> world_;
  std::unique_ptr<project::AspectLoad> load_;
};

}  // namespace scene_test
