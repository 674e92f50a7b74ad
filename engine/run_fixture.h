// Tests that run projects in this process: a scratch working folder (the program
// fixture), the lookup tables, the headless platform, and "projects/t.prj" loaded
// as the dispatcher loads it.
#pragma once

#include <cstring>
#include <memory>

#include "engine/engine.h"
#include "platform/platform.h"
#include "tests/program_fixture.h"

namespace run_test {

class InProcessRun : public program_test::ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(media::load_lookup_tables(work + "data/"));
    platform::start_timer();
    ASSERT_TRUE(platform::init({.headless = true}));
    platform::set_screen_size(640, 480);
  }
  void TearDown() override {
    platform::shutdown();
    ProgramFixture::TearDown();
  }

  // "projects/t.prj" loaded with the globals and the collision matrix cleared first;
  // null (with a test failure) when it can't be loaded.
  std::unique_ptr<project::Project> load_test_project() {
    project::Tables tables = project::budget_tables();
    std::memset(engine::globals(), 0, engine::kGlobals * 4);
    std::memset(tables.collision, 0, project::kCollisionBytes);
    auto p = std::make_unique<project::Project>();
    p->collision = tables.collision;
    project::Host host;
    host.work_folder = base::Text(work);
    host.data_folder = base::Text(work + "data/");
    if (!project::load_project(*p, host, work + "projects/t.prj")) {
      ADD_FAILURE() << "could not load projects/t.prj";
      return nullptr;
    }
    return p;
  }
};

}  // namespace run_test
