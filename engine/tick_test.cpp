// Tick timing, table rotations, angles, the brain pass and the run's dump.
#include <fstream>
#include <sstream>
#include <vector>

#include "engine/test_support.h"
#include "platform/platform.h"

namespace {

using namespace engine_test;

TEST(Timing, PeriodAndRateLimits) {
  EXPECT_EQ(engine::tick_period(30), 150);
  EXPECT_EQ(engine::tick_period(250), 18);
  EXPECT_EQ(engine::tick_period(15), 300);
  auto world = std::make_unique<engine::World>();
  struct {
    std::int32_t rate, expected_rate, expected_period;
  } cases[] = {{14, 30, 150}, {251, 30, 150}, {250, 250, 18}, {15, 15, 300}, {-1, 15, 300}, {60, 60, 75}};
  for (auto c : cases) {
    engine::set_rate(*world, c.rate);
    EXPECT_EQ(world->rate, c.expected_rate) << c.rate;
    EXPECT_EQ(world->clock.period, c.expected_period) << c.rate;
  }
}

TEST(Timing, LateTicksAreNotDrawnAndTheDeadlineKeepsItsPace) {
  engine::Clock clock;
  engine::start_clock(clock, 1000);
  EXPECT_EQ(clock.deadline, 1150u);
  EXPECT_TRUE(engine::tick_on_time(clock, 1150));   // at the deadline: on time
  EXPECT_EQ(clock.deadline, 1300u);
  EXPECT_FALSE(engine::tick_on_time(clock, 1301));  // late: not drawn
  EXPECT_EQ(clock.deadline, 1450u);                 // still one period on
  // The timer wraps after about 11 days: the signed difference still orders.
  clock.deadline = 0xFFFFFFF0u;
  EXPECT_TRUE(engine::tick_on_time(clock, 0xFFFFFFE0u));
  EXPECT_FALSE(engine::tick_on_time(clock, 0x00000100u + 0x86u));
}

TEST(Angles, NormalisationUsesModulus184319) {
  struct {
    std::int32_t in, out;
  } cases[] = {{-1, 184318}, {184320, 1}, {184319, 184319}, {0, 0}, {-184319, 184319}, {368640, 2}};
  for (auto c : cases) EXPECT_EQ(media::normalise_angle(c.in), c.out) << c.in;
}

class RotationTest : public EngineTest {};

// Square root rounded to nearest, checked against exact 128-bit arithmetic at
// the rounding boundaries and where a double stops holding v exactly.
TEST(Angles, RoundedSquareRootIsExactAtEveryBoundary) {
  auto reference = [](std::int64_t v) -> std::int64_t {
    if (v <= 0) return 0;
    std::int64_t lo = 0, hi = 3037000500;  // floor(sqrt(INT64_MAX)) + 1
    while (hi - lo > 1) {
      std::int64_t mid = (lo + hi) / 2;
      (static_cast<__int128>(mid) * mid <= v ? lo : hi) = mid;
    }
    return v - lo * lo > lo ? lo + 1 : lo;
  };
  std::vector<std::int64_t> values = {-5, 0, 1, 2, 3, 4, 8, 9, 12, 13, INT64_MAX, INT64_MAX - 1};
  for (std::int64_t n : std::vector<std::int64_t>{2, 3, 1000, 46341, 67108863, 67108864, 94906265, 3037000499}) {
    for (std::int64_t d : {std::int64_t{-1}, std::int64_t{0}, std::int64_t{1}, n - 1, n, n + 1}) values.push_back(n * n + d);
  }
  for (int shift : {51, 52, 53, 60, 62}) {
    std::int64_t p = std::int64_t{1} << shift;
    for (std::int64_t d : {-2, -1, 0, 1}) values.push_back(p + d);
  }
  for (std::int64_t v : values) EXPECT_EQ(engine::rounded_sqrt(v), reference(v)) << v;
}

TEST_F(RotationTest, QuarterTurnsAboutEachAxis) {
  struct {
    void (*rotate)(engine::Vec3&, std::int32_t);
    engine::Vec3 in;
    std::int32_t angle;
    engine::Vec3 out;
  } cases[] = {
      // About Y: z' = cos z + sin x, x' = cos x - sin z.
      {engine::rotate_y, {0, 0, 1000}, engine::kQuarterTurn, {-1000, 0, 0}},
      {engine::rotate_y, {1000, 0, 0}, engine::kQuarterTurn, {0, 0, 1000}},
      // About X: z' = cos z + sin y, y' = cos y - sin z.
      {engine::rotate_x, {0, 0, 1000}, engine::kQuarterTurn, {0, -1000, 0}},
      // About Z: y' = cos y + sin x, x' = cos x - sin y.
      {engine::rotate_z, {1000, 0, 0}, engine::kQuarterTurn, {0, 1000, 0}},
      // Index 0 (below 1/8 degree) is skipped: the vector is unchanged.
      {engine::rotate_y, {7, 8, 9}, 63, {7, 8, 9}},
      {engine::rotate_y, {0, 0, 1000}, engine::kHalfTurn, {0, 0, -1000}},
  };
  for (auto& c : cases) {
    engine::Vec3 v = c.in;
    c.rotate(v, c.angle);
    EXPECT_NEAR(v.x, c.out.x, 1) << c.angle;
    EXPECT_NEAR(v.y, c.out.y, 1) << c.angle;
    EXPECT_NEAR(v.z, c.out.z, 1) << c.angle;
  }
}

TEST_F(RotationTest, VectorAngleQuadrants) {
  EXPECT_EQ(engine::vector_angle(0, 5), 0);
  EXPECT_EQ(engine::vector_angle(0, 0), 0);
  EXPECT_EQ(engine::vector_angle(1, 0), -46080);
  EXPECT_EQ(engine::vector_angle(-1, 0), (1440 - 720) * 64);
  EXPECT_EQ(engine::vector_angle(0, -5), (2880 - 720 - 720) * 64);
  EXPECT_NEAR(engine::vector_angle(2, 4), (360 - 720) * 64, 64);  // q = 1024: 45 degrees
}

class PassTest : public EngineTest {};

TEST_F(PassTest, OnlyElementsOnAndNotSuspendedRunAndLocalRotationFlagClears) {
  compile({lines({"var x", "x = x + 1"}), lines({"var x", "x = x + 1"}), lines({"var x", "x = x + 1"})});
  record(1).flags = project::kFlagOn | project::kFlagBrainSuspended;
  record(2).flags = project::kFlagLocalRotation;  // off
  record(0).flags |= project::kFlagLocalRotation;
  engine::brain_pass(*world_);
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 2);
  EXPECT_EQ(record(0).tick_counter, 2);
  EXPECT_EQ(variable(1, 0), 0);
  EXPECT_EQ(record(1).tick_counter, 0);
  EXPECT_EQ(record(2).tick_counter, 0);
  EXPECT_EQ(record(0).flags & project::kFlagLocalRotation, 0);
  EXPECT_EQ(record(2).flags & project::kFlagLocalRotation, 0);
  EXPECT_EQ(world_->ticks, 2u);
}

TEST_F(PassTest, AnOverwrittenCodeEntryRunsNothing) {
  compile({lines({"var x", "x = x + 1"})});
  for (std::int32_t bad : {0, 12345, static_cast<std::int32_t>(world_->program->entry[0] + 1)}) {
    record(0).brain_entry = bad;
    engine::brain_pass(*world_);
    EXPECT_EQ(variable(0, 0), 0) << bad;
  }
  EXPECT_EQ(record(0).tick_counter, 3);  // the element still counts its ticks
}

TEST_F(PassTest, DumpListsNonZeroGlobalsAndWords) {
  compile({lines({"var x", "x = 7", "global_set(3, -2)", "exit(5)"})});
  world_->names[0] = "the ship";
  engine::brain_pass(*world_);
  std::string path = ::testing::TempDir() + "engine_dump.txt";
  ASSERT_TRUE(engine::write_dump(*world_, path));
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::string entry = std::to_string(record(0).brain_entry);
  EXPECT_EQ(s.str(), "exit 5\nticks 1\nglobal 3 -2\nname 0 the ship\nelement 0 21 " + entry +
                         "\nelement 0 22 1\nelement 0 43 1\nelement 0 255 7\n");
}

TEST_F(PassTest, GlobalsLoadReadsOneDecimalALineIntoItsRange) {
  std::string path = ::testing::TempDir() + "engine_globals.txt";
  std::ofstream(path, std::ios::binary) << "12\r\n-5\r\n7";
  EXPECT_TRUE(engine::globals_load(*world_, path, 0, 0));
  EXPECT_EQ(engine::globals()[0], 12);
  EXPECT_EQ(engine::globals()[1], 0);
  EXPECT_TRUE(engine::globals_load(*world_, path, 2047, 2050));  // wraps modulo 2048, stops at the end
  EXPECT_EQ(engine::globals()[2047], 12);
  EXPECT_EQ(engine::globals()[0], -5);
  EXPECT_EQ(engine::globals()[1], 7);
  EXPECT_EQ(engine::globals()[2], 0);
  EXPECT_FALSE(engine::globals_load(*world_, path + ".missing", 0, 0));
}

// A subsystem adds its phase at its place in the tick without the engine knowing
// it: the race step ("checkpoints") runs after the input sample and key event,
// before the collisions and the brain pass; a probe added at the same order
// runs after it.
class TickPhaseTest : public EngineTest {
 protected:
  void TearDown() override {
    engine::remove_tick_phase("probe");
    for (int i = 0; i < engine::kMaxTickPhases; ++i) engine::remove_tick_phase(kFillers[i]);
    EngineTest::TearDown();
  }
  static std::string order() {
    std::string names;
    for (const engine::TickStep& step : engine::tick_phases()) names += std::string(step.name) + " ";
    return names;
  }
  static inline int calls_ = 0;
  static inline std::uint32_t seen_ticks_ = 0, seen_key_ = 0;
  static constexpr const char* kFillers[] = {"f0", "f1", "f2", "f3", "f4", "f5", "f6", "f7",
                                             "f8", "f9", "f10", "f11", "f12", "f13", "f14", "f15"};
  static_assert(std::size(kFillers) == engine::kMaxTickPhases);
};

TEST_F(TickPhaseTest, ASubsystemPhaseRunsAtItsPlace) {
  EXPECT_EQ(order(), "input checkpoints collisions joysticks brains ");
  auto probe = [](engine::World& w) {
    ++calls_;
    seen_ticks_ = w.ticks;
    seen_key_ = w.key_event;
  };
  ASSERT_TRUE(engine::add_tick_phase(engine::kTickCheckpoints, "probe", probe));
  EXPECT_EQ(order(), "input checkpoints probe collisions joysticks brains ");

  calls_ = 0;
  compile({lines({})});
  std::uint32_t event = platform::key_event('a', 30);
  platform::ring_push(input_->ring, event);
  engine::tick(*world_);
  EXPECT_EQ(calls_, 1);
  EXPECT_EQ(seen_key_, event);  // the key event was taken before it
  EXPECT_EQ(seen_ticks_, 0u);   // the brain pass comes after it
  EXPECT_EQ(world_->ticks, 1u);

  // The same name moves the phase; equal orders run in the order added.
  ASSERT_TRUE(engine::add_tick_phase(engine::kTickBrains, "probe", probe));
  EXPECT_EQ(order(), "input checkpoints collisions joysticks brains probe ");
  EXPECT_TRUE(engine::remove_tick_phase("probe"));
  EXPECT_FALSE(engine::remove_tick_phase("probe"));
  EXPECT_EQ(order(), "input checkpoints collisions joysticks brains ");
}

TEST_F(TickPhaseTest, TheTableIsFixedAndReportsFull) {
  int added = 0;
  for (const char* name : kFillers) added += engine::add_tick_phase(engine::kTickJoysticks, name, [](engine::World&) {});
  EXPECT_EQ(added, engine::kMaxTickPhases - 5);
  EXPECT_EQ(engine::tick_phases().size(), static_cast<std::size_t>(engine::kMaxTickPhases));
  EXPECT_FALSE(engine::add_tick_phase(engine::kTickInput, "probe", [](engine::World&) {}));
  EXPECT_EQ(engine::tick_phases().back().name, "brains");
}

}  // namespace
