// Races run headless: gates, racers moved by the test or by their own brains
// through whole ticks, and dumps of what the race keywords answered.
#include <string>
#include <vector>

#include "engine/test_support.h"

namespace {

using namespace engine_test;

constexpr std::int32_t kMetre = 512000;  // position units

class RaceTest : public EngineTest {
 protected:
  // Runs one tick with element 0 at (x, z) metres.
  void tick_at(double x, double z) {
    record(0).position[0] = static_cast<std::int32_t>(x * kMetre);
    record(0).position[2] = static_cast<std::int32_t>(z * kMetre);
    engine::tick(*world_);
  }
};

// Three gates across the x axis at 10, 20 and 30 metres (each from z -5 to 5 m);
// the brain keeps race_lap and race_next_checkpoint in its first two variables.
const char* const kThreeGates[] = {"checkpoint_add(10mt, -5mt, 10mt, 5mt)", "checkpoint_add(20mt, -5mt, 20mt, 5mt)",
                                   "checkpoint_add(30mt, -5mt, 30mt, 5mt)"};

std::string three_gate_racer() {
  return lines({"var lap", "var next", "if timer(element) = 0", kThreeGates[0], kThreeGates[1], kThreeGates[2],
                "race_on(element)", "endif", "lap = race_lap(element)", "next = race_next_checkpoint(element)"});
}

TEST_F(RaceTest, GatesCountOnlyInOrderAndGateZeroStartsEachLap) {
  compile({three_gate_racer()});
  record(0).radius = 500;
  const double path[] = {0, 5, 10, 30, 20, 30, 20, 10, 10};
  std::string dump;
  for (double x : path) {
    tick_at(x, 0);
    dump += std::to_string(static_cast<int>(x)) + ": " + std::to_string(variable(0, 0)) + " " +
            std::to_string(variable(0, 1)) + "\n";
  }
  EXPECT_EQ(dump,
            "0: -1 0\n"    // before the start line
            "5: -1 0\n"
            "10: 0 1\n"    // gate 0: the first lap begins
            "30: 0 1\n"    // gate 2 out of order: nothing
            "20: 0 2\n"
            "30: 0 0\n"    // gate 2: lap counter 1, next gate 0, so the lap reads 0
            "20: 0 0\n"    // gate 1 out of order
            "10: 1 1\n"    // gate 0 again
            "10: 1 1\n");  // still standing in it
}

// A square lap of 160 metres at 2 metres a tick: gate 0 across the bottom side,
// a diagonal gate across the right side, then the top and the left side.
TEST_F(RaceTest, LapsCountOverSeveralLaps) {
  compile({lines({"var lap", "if timer(element) = 0", "checkpoint_add(0, -25mt, 0, -15mt)",
                  "checkpoint_add(15mt, -5mt, 25mt, 5mt)", "checkpoint_add(0, 15mt, 0, 25mt)",
                  "checkpoint_add(-25mt, 0, -15mt, 0)", "race_on(element)", "endif", "lap = race_lap(element)"})});
  record(0).radius = 1500;
  std::string changes;
  std::int32_t last = -1;
  for (int t = 0; t < 400; ++t) {
    double s = 2.0 * t - 160.0 * (t / 80);  // metres along the lap, from the bottom-left corner
    if (s < 40) tick_at(-20 + s, -20);
    else if (s < 80) tick_at(20, -20 + (s - 40));
    else if (s < 120) tick_at(20 - (s - 80), 20);
    else tick_at(-20, 20 - (s - 120));
    if (variable(0, 0) != last) changes += std::to_string(t) + ":" + std::to_string(last = variable(0, 0)) + " ";
  }
  EXPECT_EQ(changes, "10:0 90:1 170:2 250:3 330:4 ");
  EXPECT_EQ(world_->races.racer[0].lap, 5);  // the fifth lap ended at tick 390, at the left side's gate
  EXPECT_EQ(world_->races.racer[0].next, 0);
}

TEST_F(RaceTest, PlacesOfFourRacers) {
  // Racer i: lap, next gate and x (metres) set by its brain; all on z = 0.
  struct Racer {
    int lap, next;
    const char* x;
  };
  auto brain = [](const Racer& r, bool gates) {
    std::string first = gates ? std::string(kThreeGates[0]) + "\r\n" + kThreeGates[1] + "\r\n" + kThreeGates[2] : "";
    return lines({"var place", "if timer(element) = 0", first, "race_on(element)",
                  "race_lap_set(element, " + std::to_string(r.lap) + ")",
                  "race_next_checkpoint_set(element, " + std::to_string(r.next) + ")",
                  std::string("position_x_set(element, ") + r.x + ")", "endif", "place = race_position(element)"});
  };
  auto places = [&](const std::vector<Racer>& racers) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < racers.size(); ++i) texts.push_back(brain(racers[i], i == 0));
    compile(texts);
    world_->races = {};
    for (std::size_t i = 0; i < racers.size(); ++i) record(static_cast<int>(i)).tick_counter = 0;
    engine::tick(*world_);
    engine::tick(*world_);
    std::string out;
    for (std::size_t i = 0; i < racers.size(); ++i) out += std::to_string(variable(static_cast<int>(i), 0)) + " ";
    return out;
  };
  // Laps first, then the later gate, then the nearer to the middle of the gate ahead.
  EXPECT_EQ(places({{1, 2, "25mt"}, {1, 2, "22mt"}, {2, 0, "0"}, {1, 1, "15mt"}}), "2 3 1 4 ");
  // Equal distances to the gate's middle (30, 0): a shared place.
  EXPECT_EQ(places({{1, 2, "25mt"}, {1, 2, "35mt"}, {2, 0, "0"}, {1, 1, "15mt"}}), "2 2 1 4 ");

  // race_off: the leader leaves, the last racer takes its record, the others move up.
  compile({lines({"var place", "var gone", "var lap", "var next", "race_off(element#2)",
                  "place = race_position(element)", "gone = race_position(element#2)", "lap = race_lap(element#2)",
                  "next = race_next_checkpoint(element#2)"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 1);
  EXPECT_EQ(variable(0, 1), -1);
  EXPECT_EQ(variable(0, 2), -1);
  EXPECT_EQ(variable(0, 3), -1);
  EXPECT_EQ(world_->races.racers, 3);
  EXPECT_EQ(world_->races.racer[2].element, ref(3));
}

TEST_F(RaceTest, FullTablesRefuseAndBadReferencesChangeNothing) {
  compile({lines({"var i", "var refused", "var last", "var twice", "var bad", "again:",
                  "last = race_on(element_index(first_element(), i))", "if last <> 0", "refused = refused + 1",
                  "endif", "i = i + 1", "if i < 256", "goto again", "endif", "twice = race_on(element)",
                  "bad = race_on(-1)", "race_lap_set(-1, 5)", "race_off(12345)", "checkpoint_height_set(1, 1)",
                  "i = 0", "gates:", "checkpoint_add(i, 0, i, 10mt)", "i = i + 1", "if i < 1001", "goto gates",
                  "endif"})});
  world_->highest = 255;
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 1), 1);         // the 256th racer is refused...
  EXPECT_EQ(variable(0, 2), ref(255));  // ...with its element as the answer
  EXPECT_EQ(variable(0, 3), ref(0));    // already racing
  EXPECT_EQ(variable(0, 4), -1);        // no element
  EXPECT_EQ(world_->races.racers, engine::kMaxRacers);
  EXPECT_EQ(world_->races.gates, engine::kMaxGates);
  EXPECT_EQ(world_->races.gate[0].top, 2147483647);  // no gate existed for the height call
  EXPECT_EQ(world_->races.gate[999].x1, 999 >> 9);
}

TEST_F(RaceTest, TheGateTest) {
  engine::Gate along_z{0, 0, 0, 10000}, reversed{0, 10000, 0, 0}, diagonal{0, 0, 10000, 10000};
  engine::Gate back_diagonal{10000, 10000, 0, 0}, other_quadrant{0, 0, -10000, 10000}, low{0, 0, 0, 10000, 1000, 0};
  struct Case {
    const engine::Gate& gate;
    std::int32_t x, y, z;  // L
    bool in;
  } cases[] = {
      {along_z, 50, 0, 5000, true},   {along_z, 150, 0, 5000, false}, {along_z, 50, 0, 10001, false},
      {along_z, -100, 0, 0, true},    {along_z, 0, 0, -1, false},     {reversed, 50, 0, 5000, true},
      {reversed, 150, 0, 5000, false}, {reversed, 50, 0, 10001, false},
      {diagonal, 5000, 0, 5000, true}, {diagonal, 5050, 0, 4950, true}, {diagonal, 5200, 0, 4800, false},
      {diagonal, -500, 0, -500, false}, {diagonal, 10500, 0, 10500, false},
      {back_diagonal, 5000, 0, 5000, true}, {back_diagonal, 5200, 0, 4800, false},
      {other_quadrant, -5000, 0, 5000, true}, {other_quadrant, 5000, 0, 5000, false},
      {low, 50, 1000, 5000, true},    {low, 50, 1001, 5000, false},   {low, 50, -1, 5000, false},
  };
  for (const Case& c : cases) {
    ElementRecord& r = record(0);
    r.radius = 100;
    r.position[0] = c.x << 9, r.position[1] = c.y << 9, r.position[2] = c.z << 9;
    EXPECT_EQ(engine::in_gate(c.gate, r), c.in) << c.x << " " << c.y << " " << c.z;
  }
  EXPECT_FALSE(engine::in_gate(engine::Gate{}, record(0)));  // an unused gate has no length
}

TEST_F(RaceTest, CheckpointKeywordAndItsHeightBand) {
  compile({lines({"var in", "var above", "var bad", "var none", "if timer(element) = 0",
                  "checkpoint_add(0, 0, 0, 10000 * 512)", "checkpoint_height_set(1000 * 512, 0)", "endif",
                  "in = checkpoint(element, 0)", "position_y_set(element, 1001 * 512)",
                  "above = checkpoint(element, 0)", "bad = checkpoint(element, 1)", "none = checkpoint(-1, 0)"})});
  record(0).radius = 100;
  record(0).position[0] = 50 << 9, record(0).position[2] = 5000 << 9;
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), -1);
  EXPECT_EQ(variable(0, 1), 0);  // above the gate's top
  EXPECT_EQ(variable(0, 2), 0);  // no such gate
  EXPECT_EQ(variable(0, 3), 0);
}

TEST_F(RaceTest, SpeedXzLimitCapsTheHorizontalSpeed) {
  struct Case {
    std::int32_t vx, vz, limit, x, z;
  } cases[] = {
      {1536000, 0, 512000, 512000, 0},                // 3000 L a tick cut to 1000
      {512000, 512000, 409600, 289674, 289674},       // 1414 L a tick cut to 800
      {-512000, 512000, 409600, -289674, 289674},
      {300, 200, 500, 300, 200},                      // |x| + |z| within the limit
      {512000, 0, 511, 512000, 0},                    // limit below 1 L: nothing
      {1000 << 9, 0, 2000 << 9, 1000 << 9, 0},        // already slower
  };
  compile({lines({"speed_xz_limit(element, global(0))"})});
  for (const Case& c : cases) {
    ElementRecord& r = record(0);
    r.velocity[0] = c.vx, r.velocity[1] = 77, r.velocity[2] = c.vz;
    engine::globals()[0] = c.limit;
    engine::brain_pass(*world_);
    EXPECT_EQ(r.velocity[0], c.x) << c.vx << " " << c.vz << " " << c.limit;
    EXPECT_EQ(r.velocity[2], c.z) << c.vx << " " << c.vz << " " << c.limit;
    EXPECT_EQ(r.velocity[1], 77);
  }
}

TEST_F(RaceTest, SteerTurnsWithTheSpeedAndKeepsTheDriftAskedFor) {
  compile({lines({"var speed", "speed = steer(element, global(0), global(1))"})});
  struct Case {
    std::int32_t ry, vx, vz, angle, drift;
  };
  auto steer = [&](const Case& c) {
    ElementRecord& r = record(0);
    r.rotation[1] = c.ry, r.velocity[0] = c.vx, r.velocity[2] = c.vz;
    engine::globals()[0] = c.angle, engine::globals()[1] = c.drift;
    engine::brain_pass(*world_);
    return variable(0, 0);
  };
  const ElementRecord& r = record(0);

  EXPECT_EQ(steer({1000, 0, 0, 9216, 0}), 0);  // standing: no turn
  EXPECT_EQ(r.rotation[1], 1000);
  EXPECT_EQ(steer({0, 0, kMetre, 0, 0}), kMetre);  // straight on at 1 m a tick
  EXPECT_EQ(r.rotation[1], 0);
  EXPECT_EQ(r.velocity[2], kMetre);

  // Wheels turned 18 degrees at 1 m a tick: about a third of it (3060), times speed / 1024.
  std::int32_t speed = steer({0, 0, kMetre, 9216, 0});
  EXPECT_NEAR(speed, 995 << 9, 1 << 9);
  EXPECT_GT(r.rotation[1], 2900);
  EXPECT_LE(r.rotation[1], 3060);
  EXPECT_LT(r.velocity[0], 0);  // now rolling along the wheels, towards -x as y turns up
  // The same backwards: the turn and the speed reverse.
  speed = steer({0, 0, -kMetre, 9216, 0});
  EXPECT_LT(speed, 0);
  EXPECT_GT(r.rotation[1], engine::kFullTurn - 3060);

  // Sliding sideways: drift 0 takes the sideways part away, 512 keeps it.
  steer({0, kMetre, 0, 0, 0});
  EXPECT_NEAR(r.velocity[0], 0, 2);
  steer({0, kMetre, kMetre / 2, 0, 512});
  EXPECT_NEAR(r.velocity[0], kMetre, 4);
  EXPECT_NEAR(r.velocity[2], kMetre / 2, 4);
}

// A driver brain: it aims a marker at the middle of its next gate and steers
// towards it at up to 0.5 m a tick; it must pass all three gates of a bent course.
TEST_F(RaceTest, SteeringDriverFollowsTheGates) {
  compile({lines({"var next", "var turn", "if timer(element) = 0", "checkpoint_add(-5mt, 20mt, 5mt, 20mt)",
                  "checkpoint_add(25mt, 45mt, 35mt, 45mt)", "checkpoint_add(-5mt, 70mt, 5mt, 70mt)",
                  "race_on(element)", "endif", "next = race_next_checkpoint(element)",
                  "position_x_set(element#1, 0)", "position_z_set(element#1, 20mt)", "if next = 1",
                  "position_x_set(element#1, 30mt)", "position_z_set(element#1, 45mt)", "endif", "if next = 2",
                  "position_x_set(element#1, 0)", "position_z_set(element#1, 70mt)", "endif",
                  "turn = steer_angle_to(element, element#1, 10dg)", "steer(element, turn * 3, 64)",
                  "thrust(element, 20000)", "speed_xz_limit(element, 256000)", "velocity_update(element)"}),
           lines({})});
  record(0).radius = 1000;
  std::string passed;
  std::int32_t last = 0;
  for (int t = 0; t < 400 && world_->races.racer[0].lap == 0; ++t) {
    engine::tick(*world_);
    if (world_->races.racer[0].next != last) passed += std::to_string(last = world_->races.racer[0].next) + " ";
  }
  EXPECT_EQ(passed, "1 2 0 ");
  EXPECT_EQ(world_->races.racer[0].lap, 1);
}

}  // namespace
