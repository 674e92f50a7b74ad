// The network state around the brain pass, with a link that records what the
// session would send: inert instructions without a session, what an owner
// publishes, how a copy is put back and steered towards its owner's state,
// shared variables, the send step's pacing and the instructions by owner.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/network.h"
#include "engine/test_support.h"

namespace {

using engine_test::EngineTest;
using engine_test::record;
using engine_test::ref;
using engine_test::variable;
using engine_test::lines;

struct FakeLink {
  int sends = 0;
  int project_starts = 0;
  std::vector<std::pair<std::uint32_t, std::string>> texts_sent;
  std::vector<std::pair<std::uint32_t, std::string>> queue;  // what str_poll takes from
  std::vector<std::int32_t> numbers;
};

class NetworkTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    engine::network() = {};
  }
  void TearDown() override {
    engine::network() = {};
    EngineTest::TearDown();
  }

  // A session as this machine (number machine, host or not) would have it.
  void join(std::int32_t machine, bool host) {
    engine::Network& n = engine::network();
    n.running = true;
    n.host = host;
    n.machine_number = machine;
    n.link.user = &link_;
    n.link.project_started = [](void* u, engine::World&) { ++static_cast<FakeLink*>(u)->project_starts; };
    n.link.send = [](void* u, engine::World&) { ++static_cast<FakeLink*>(u)->sends; };
    n.link.send_text = [](void* u, std::uint32_t mask, std::string_view text) {
      static_cast<FakeLink*>(u)->texts_sent.emplace_back(mask, std::string(text));
    };
    n.link.poll_text = [](void* u, std::uint32_t mask, std::span<char> out) {
      auto& q = static_cast<FakeLink*>(u)->queue;
      if (q.empty() || !(q.front().first & mask)) return false;
      std::snprintf(out.data(), out.size(), "%s", q.front().second.c_str());
      q.erase(q.begin());
      return true;
    };
    n.link.machine_number_changed = [](void* u, std::int32_t m) { static_cast<FakeLink*>(u)->numbers.push_back(m); };
  }
  // Project start and the warm-up passes: replication runs from the next pass.
  void start_and_warm_up() {
    engine::network_project_started(*world_);
    for (int i = 0; i < engine::kWarmUpPasses; ++i) engine::brain_pass(*world_);
  }
  void receive(int element, const engine::ElementNetState& state) {
    engine::network().received[element] = {0, state};
  }

  FakeLink link_;
};

TEST_F(NetworkTest, InstructionsAreInertWithoutASession) {
  compile({lines({"var mode", "var host", "var s", "var number", "var status", "mode = network_mode()",
                  "host = host()", "s = str_create(10)", "str_copy(s, \"kept\", 0, -1)", "str_send(\"hello\", 1)",
                  "str_poll(s, -1)", "machine_number_set(250)", "number = machine_number()",
                  "status = machine_status(100)"})});
  link_.queue.emplace_back(1, "lost");
  engine::network().link.user = &link_;  // not running: nothing may reach it
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 0);
  EXPECT_EQ(variable(0, 1), 0);
  EXPECT_EQ(variable(0, 3), 100) << "machine numbers above 100 become 100";
  EXPECT_EQ(variable(0, 4), 1) << "this machine, heard from nobody else with its number";
  EXPECT_TRUE(link_.texts_sent.empty());
  EXPECT_EQ(link_.queue.size(), 1u);
}

TEST_F(NetworkTest, TextsGoOutAndComeInByMask) {
  join(2, false);
  link_.queue.emplace_back(1, "first");
  link_.queue.emplace_back(2, "second");
  compile({lines({"var s", "var a", "var b", "var c", "s = str_create(20)", "str_send(\"\", 1)",
                  "str_send(\"lap\", 6)", "str_copy(s, \"old\", 0, -1)", "str_poll(s, 2)", "a = str_len(s)",
                  "str_poll(s, 1)", "b = str_comp(s, \"first\", 1)", "str_poll(s, 2)", "c = str_comp(s, \"second\", 1)",
                  "global_set(1, network_mode())", "global_set(2, host())"})});
  engine::brain_pass(*world_);
  ASSERT_EQ(link_.texts_sent.size(), 1u) << "an empty text sends nothing";
  EXPECT_EQ(link_.texts_sent[0], std::make_pair(6u, std::string("lap")));
  EXPECT_EQ(variable(0, 1), 0) << "a mask that misses the head message empties the string";
  EXPECT_EQ(variable(0, 2), 0) << "str_comp equal";
  EXPECT_EQ(variable(0, 3), 0);
  EXPECT_TRUE(link_.queue.empty());
  EXPECT_EQ(engine::globals()[1], -1);
  EXPECT_EQ(engine::globals()[2], 0);
}

TEST_F(NetworkTest, AnOwnerPublishesWhatItsBrainDid) {
  join(1, true);
  // Element 0 is owned by the host (owner 0), element 1 by this machine's number.
  compile({lines({"position_x_add(element, 300)", "rotation_y_set(element, 100)"}),
           lines({"position_z_add(element, -40)"})});
  record(0).network_sync = 0x433;  // changes, positions, frame
  record(0).frame_limit = 4;
  record(0).base_aspect = 1000;
  record(0).current_aspect = 1000 + 2 * 64;
  record(1).network_sync = 0x3;
  record(1).owner_machine = 1;
  start_and_warm_up();
  record(0).rotation[1] = engine::kFullTurn - 50;
  engine::brain_pass(*world_);
  const engine::ElementNetState& a = engine::network().published[0];
  EXPECT_EQ(a.position[0], record(0).position[0]);
  EXPECT_EQ(a.position_change[0], 300);
  EXPECT_EQ(a.rotation[1], 100);
  EXPECT_EQ(a.rotation_change[1], 150) << "across the full turn the short way";
  EXPECT_EQ(a.frame, 2);
  EXPECT_EQ(engine::network().published[1].position_change[2], -40);
  EXPECT_EQ(link_.project_starts, 1);
}

TEST_F(NetworkTest, ACopyIsPutBackAndSteeredTowardsItsOwner) {
  join(2, false);
  // The brain tries to move its copy; the owner (machine 0, the host) has it elsewhere.
  compile({lines({"position_x_add(element, 5000)", "velocity_y_set(element, 77)"})});
  record(0).network_sync = 0x2;  // position only, correction shift 1
  start_and_warm_up();
  record(0).position[0] = 0;
  engine::ElementNetState s;
  s.position[0] = 1024;
  receive(0, s);
  engine::brain_pass(*world_);
  EXPECT_EQ(record(0).velocity[0], 512) << "half the remaining distance";
  EXPECT_EQ(record(0).position[0], 512) << "the brain's move did not last; dead reckoning did";
  EXPECT_EQ(record(0).velocity[1], 0) << "the brain's velocity gives way to the correction";
  // Half the remaining distance each tick: the copy closes in and does not overshoot.
  for (std::int32_t x : {768, 896, 960}) {
    engine::brain_pass(*world_);
    EXPECT_EQ(record(0).position[0], x);
  }

  // Before anything was received a copy only keeps still.
  engine::network().received[0].pending = -1;
  std::int32_t x = record(0).position[0];
  engine::brain_pass(*world_);
  EXPECT_EQ(record(0).position[0], x);
}

TEST_F(NetworkTest, SteeringByChangesAndCorrections) {
  join(3, false);
  compile({lines({"var x"}), lines({"var x"}), lines({"var x"})});
  record(0).network_sync = 0x1 | 0x10;        // position and rotation changes
  record(1).network_sync = 0x20 | 0xC0;       // rotation with the weakest correction (shift 4)
  record(2).network_sync = 0x100 | 0x2 | 0x400;  // on flag, position and frame
  record(1).rotation[0] = engine::kFullTurn - 160;
  record(1).spin[0] = 1000;  // a spin of its own, replaced by the correction
  record(2).flags &= ~project::kFlagOn;
  record(2).velocity[0] = 99;
  const std::int32_t base = static_cast<std::int32_t>(
      base::address32(base::area_as<project::AspectRecord>(base::Area::aspect_table) + 10));
  record(2).base_aspect = base;
  record(2).current_aspect = base;
  record(2).frame_limit = 3;  // frames 0, 1 and 2
  start_and_warm_up();
  engine::ElementNetState moving;
  moving.position_change[2] = 30;
  moving.rotation_change[1] = -10;
  receive(0, moving);
  engine::ElementNetState turned;
  turned.rotation[0] = 160;  // 320 ahead across the full turn
  receive(1, turned);
  engine::ElementNetState appears;
  appears.flags = project::kFlagOn;
  appears.position[0] = 7000;
  appears.frame = 2;
  receive(2, appears);
  engine::brain_pass(*world_);
  EXPECT_EQ(record(0).velocity[2], 30);
  EXPECT_EQ(record(0).position[2], 30);
  EXPECT_EQ(record(0).spin[1], -10);
  EXPECT_EQ(record(1).spin[0], 320 >> 4);
  EXPECT_TRUE(record(2).flags & project::kFlagOn);
  EXPECT_EQ(record(2).current_aspect, base + 2 * 64);
  EXPECT_EQ(record(2).velocity[0], (7000 - 7000) >> 1) << "placed at the owner's position, standing still";
  EXPECT_EQ(record(2).position[0], 7000);

  // Frames outside the element's are ignored, whoever sent them.
  for (std::int32_t frame : {3, 4, -1, 0x7FFFFFFF}) {
    appears.frame = frame;
    receive(2, appears);
    engine::brain_pass(*world_);
    EXPECT_EQ(record(2).current_aspect, base + 2 * 64) << frame;
  }
}

TEST_F(NetworkTest, SharedVariablesOfOtherMachinesKeepTheirValues) {
  join(2, false);
  world_->shared[0] = {(2 << 16) | 10, 0};  // this machine's
  world_->shared[1] = {(3 << 16) | 11, 0};  // machine 3's
  world_->shared[2] = {12, 0};              // the host's
  world_->shared_count = 3;
  engine::globals()[11] = 5;
  engine::globals()[12] = 6;
  compile({lines({"global_add(12, 1)", "global_set(10, global(10) + 1)", "global_set(11, 999)"})});
  start_and_warm_up();
  EXPECT_EQ(world_->shared[1].value, 999) << "seeded in the last warm-up pass from the machine's own value";
  world_->shared[1].value = 42;  // then machine 3 was heard from
  world_->shared[2].value = 8;
  engine::brain_pass(*world_);
  EXPECT_EQ(engine::globals()[10], 4) << "its own variable is this machine's to change";
  EXPECT_EQ(engine::globals()[11], 42);
  EXPECT_EQ(engine::globals()[12], 8) << "the host's value, put back at the next global_set";
}

TEST_F(NetworkTest, TheSendStepPacesItselfAndHalvesTheCounters) {
  join(1, true);
  compile({lines({"global_set(1, network_mismatch())", "global_set(2, machine_status(7))"})});
  engine::network_project_started(*world_);
  engine::network().counters[7] = 3;
  engine::network().mismatch = -1;
  world_->ticks = 1;
  engine::brain_pass(*world_);
  EXPECT_EQ(link_.sends, 1) << "the first pass sends at once";
  EXPECT_EQ(engine::globals()[1], -1);
  EXPECT_EQ(engine::globals()[2], 3);
  for (int i = 0; i < engine::kSendInterval - 1; ++i) engine::brain_pass(*world_);
  EXPECT_EQ(link_.sends, 1);
  engine::brain_pass(*world_);
  EXPECT_EQ(link_.sends, 2);
  world_->ticks = engine::kCounterHalving;
  engine::brain_pass(*world_);
  EXPECT_EQ(engine::network().counters[7], 1);
  EXPECT_EQ(engine::network().active_machines, 1);
  EXPECT_EQ(engine::network().mismatch, 0) << "cleared on a multiple of 64 ticks";
  engine::network().send_countdown = 0;  // what hearing from every active machine does
  engine::brain_pass(*world_);
  EXPECT_EQ(link_.sends, 3);
}

TEST_F(NetworkTest, ElementsByOwner) {
  compile({lines({"var x"}), lines({"var x"}), lines({"var x"}), lines({"var x"})});
  record(1).owner_machine = 4;
  record(3).owner_machine = 4;
  record(3).flags &= ~project::kFlagOn;
  struct Case {
    const char* expression;
    std::int32_t expected;
  } cases[] = {
      {"machine_element(4)", ref(1)},
      {"machine_element(9)", 0},
      {"machine_element_find(element, 4, 2, 1)", ref(3)},
      {"machine_element_find(element, 4, 1, 2)", ref(3)},
      {"machine_element_find(element, 4, 1, 3)", ref(1)},
      {"machine_element_find(element, 4, 0, 1)", ref(0)},
      {"machine_element_find(element, 4, 3, 1)", 0},
  };
  for (const Case& c : cases) {
    compile({lines({"var x", std::string("x = ") + c.expression}), lines({"var x"}), lines({"var x"}), lines({"var x"})});
    record(3).flags &= ~project::kFlagOn;
    engine::brain_pass(*world_);
    EXPECT_EQ(variable(0, 0), c.expected) << c.expression;
  }
}

TEST(NetworkAngles, ShortestDifference) {
  struct Case {
    std::int32_t a, b, expected;
  } cases[] = {
      {0, 100, 100},
      {100, 0, -100},
      {184270, 50, 100},
      {50, 184270, -100},
      {0, 92160, 92160},
      {0, 92161, -92159},
      {-184320 * 3, 10, 10},
      {2147483647, -2147483647 - 1, 57345},  // no overflow at the ends of the range
  };
  for (const Case& c : cases) EXPECT_EQ(engine::angle_difference(c.a, c.b), c.expected) << c.a << " " << c.b;
}

TEST(NetworkOwnership, HostTakesOverWhatLeft) {
  engine::Network n;
  n.machine_number = 2;
  EXPECT_TRUE(engine::owns(n, 2));
  EXPECT_FALSE(engine::owns(n, 0));
  n.host = true;
  EXPECT_TRUE(engine::owns(n, 0));
  EXPECT_FALSE(engine::owns(n, 5));
  n.departed[5] = true;
  EXPECT_TRUE(engine::owns(n, 5));
  EXPECT_FALSE(engine::owns(n, -1));
  EXPECT_FALSE(engine::owns(n, 101));
}

}  // namespace
