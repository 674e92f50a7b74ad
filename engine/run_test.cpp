// Project runs in this process, headless: small projects from a scratch working
// folder run to their end, checked by their records, globals and the hooks' calls.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/platform.h"
#include "engine/run_fixture.h"

namespace {

using program_test::lines;
using program_test::write;

// What the hooks saw.
struct Seen {
  std::vector<std::string> panels, errors, debug_lines;
  std::vector<std::int64_t> frames;  // loop ticks of the frames drawn by the loop
  int presents = 0;
};

class RunTest : public run_test::InProcessRun {
 protected:
  // Loads "projects/t.prj" as the dispatcher does (globals and matrix cleared).
  std::unique_ptr<project::Project> load() { return load_test_project(); }

  // Runs the project with ticks back to back, at most max_ticks of them (-1: to its end).
  void run(project::Project& p, std::int32_t max_ticks, const std::vector<std::int32_t>& values = {}) {
    engine::RunSetup setup;
    setup.project = &p;
    setup.work_folder = base::Text(work);
    setup.data_folder = base::Text(work + "data/");
    setup.options.font = &font;
    setup.options.screen = screen.data();
    setup.options.screen_width = 640;
    setup.options.screen_height = 480;
    setup.options.command_values = values;
    setup.options.fast = true;
    setup.options.max_ticks = max_ticks;
    engine::RunHooks hooks;
    hooks.user = &seen;
    hooks.information = [](void* u, std::string_view t) { static_cast<Seen*>(u)->panels.emplace_back(t); };
    hooks.brain_error = [](void* u, std::string_view t) { static_cast<Seen*>(u)->errors.emplace_back(t); };
    hooks.debug_line = [](void* u, std::string_view t) { static_cast<Seen*>(u)->debug_lines.emplace_back(t); };
    hooks.present_screen = [](void* u) { ++static_cast<Seen*>(u)->presents; };
    hooks.frame_drawn = [](void* u, engine::World&, std::int64_t tick) { static_cast<Seen*>(u)->frames.push_back(tick); };
    engine::run_project(*world, setup, hooks);
  }

  std::int32_t word(int element, int w) const {
    return reinterpret_cast<const std::int32_t*>(&world->tables.elements[element])[w];
  }

  std::unique_ptr<engine::World> world = std::make_unique<engine::World>();
  media::Font font;
  std::vector<std::uint8_t> screen = std::vector<std::uint8_t>(640 * 480, 7);
  Seen seen;
};

TEST_F(RunTest, MovingElementsRunThousandsOfTicks) {
  make_project({lines({"var n", "n = n + 1", "velocity_x_set(element, 3)", "spin_y_set(element, 2)",
                       "velocity_update(element)", "spin_update(element)", "global_set(5, timer(element))"}),
                lines({"position_z_add(element, -1)", "if timer(element) = 2000", "debug(77)", "endif"})});
  auto p = load();
  run(*p, 3000);
  // Four brain passes before the first frame, then 3,000 ticks.
  EXPECT_EQ(world->exit_request, -1);
  EXPECT_EQ(world->ticks, 3004u);
  EXPECT_EQ(engine::globals()[5], 3003);
  EXPECT_EQ(word(0, 3), 9012);   // position x
  EXPECT_EQ(word(0, 7), 6008);   // rotation y
  EXPECT_EQ(word(0, 43), 3004);  // tick counter
  EXPECT_EQ(word(0, 255), 3004);
  EXPECT_EQ(word(1, 5), -3004);
  EXPECT_TRUE(seen.errors.empty());
}

TEST_F(RunTest, TheHooksSeeThePreparationEveryDrawnFrameAndTheErrors) {
  make_project({lines({"debug(7)", "if timer(element) = 2", "global_set(1, 1)", "endif"}), lines({"nonsense here"})});
  auto p = load();
  p->shared_variables = "3,7(2)";
  run(*p, 5);
  EXPECT_EQ(seen.panels, (std::vector<std::string>{"Loading data, please wait...", "Initializing objects, please wait...",
                                                   "Compiling brains, please wait...", ""}));
  ASSERT_EQ(seen.errors.size(), 1u);
  EXPECT_TRUE(seen.errors[0].starts_with("'e1' brain ERROR!|")) << seen.errors[0];
  // The fifth tick ends the run before it is drawn; the first frame follows the preparation.
  EXPECT_EQ(seen.frames, (std::vector<std::int64_t>{1, 2, 3, 4}));
  EXPECT_EQ(seen.presents, 5);
  ASSERT_EQ(seen.debug_lines.size(), 5u);
  EXPECT_EQ(seen.debug_lines[0], "Debug value: 7 (HEX: 0x00000007)");
  EXPECT_EQ(engine::globals()[1], 1);
  EXPECT_EQ(screen[0], 0);  // the 2D screen was cleared
  // The settings line's shared variables: global 3 of machine 0, global 7 of machine 2.
  ASSERT_EQ(world->shared_count, 2);
  EXPECT_EQ(world->shared[0].key, 3);
  EXPECT_EQ(world->shared[1].key, 2 * 65536 + 7);
  EXPECT_EQ(world->program, nullptr);  // the compiled brains went with the run
  EXPECT_FALSE(world->running);
  EXPECT_EQ(engine::active_world(), nullptr);
}

TEST_F(RunTest, EscapeFromScriptedInputEndsTheRun) {
  make_project({lines({"var n", "n = n + 1"})});
  platform::Script script;
  platform::ScriptError error;
  ASSERT_TRUE(platform::parse_script("10 key 1\n", script, error)) << error.message;
  platform::set_script(std::move(script));
  auto p = load();
  run(*p, -1);
  // The key arrives with engine tick 10; that tick still runs its brains.
  EXPECT_EQ(world->exit_request, -1);
  EXPECT_EQ(world->ticks, 11u);
}

TEST_F(RunTest, GlobalsFileAndCommandValuesReachTheBrains) {
  make_project({lines({"var a", "var b", "var c", "a = global(0)", "b = par_count()", "c = par_get(1)", "exit(0)"})});
  write(work + "temp/globvars.dat", "42\r\n99\r\n");
  auto p = load();
  run(*p, -1, {5, -6});
  EXPECT_EQ(world->exit_request, 0);
  EXPECT_EQ(engine::globals()[0], 42);
  EXPECT_EQ(engine::globals()[1], 0);  // only global 0 in a fresh world
  EXPECT_EQ(word(0, 255), 42);
  EXPECT_EQ(word(0, 254), 2);
  EXPECT_EQ(word(0, 253), -6);
}

TEST_F(RunTest, BadElementReferencesInBrainsCrashNothing) {
  make_project({lines({"var a", "var b", "position_x_set(0x80000000, 5)", "position_x_set(3, 5)",
                       "position_x_set(element#256, 5)", "position_x_set(element#-1, 5)", "a = execute(element#300)",
                       "register_set(element, 21, 12345)", "b = register(element, 1000)"})});
  auto p = load();
  run(*p, 5);
  // The brain ran once: its overwritten code entry is not entered again.
  EXPECT_EQ(word(0, 21), 12345);
  EXPECT_NE(word(0, 3), 5);
  EXPECT_EQ(word(0, 43), 9);
}

}  // namespace
