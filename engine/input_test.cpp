// Input devices as brains read them: controller axes, buttons and hats, the
// mouse and `any_input`, from records that the platform layer or a script fills.
#include "engine/test_support.h"
#include "platform/platform.h"

namespace {

using namespace engine_test;
using platform::Axis;

// Brains read the world's devices: the fixture's own record, which starts clear.
class InputTest : public EngineTest {
 protected:
  platform::Controller& pad(int n) { return input_->joystick[n]; }
};

TEST_F(InputTest, AxisMapsOntoTheBrainsRange) {
  struct {
    std::int32_t p, a, b, expected;
  } cases[] = {
      {1000, -100, 100, -100}, {-1000, -100, 100, 100}, {0, -100, 100, 0},
      {1000, 100, -100, 100},  {-1000, 100, -100, -100},
      {1000, 50, 10, -10},     {-1000, 50, 10, -50},
      {500, 0, 1000, 250},     {-1000, INT32_MIN, INT32_MAX, INT32_MAX},
  };
  for (const auto& c : cases) EXPECT_EQ(engine::map_axis(c.p, c.a, c.b), c.expected) << c.p << " " << c.a << " " << c.b;
}

TEST_F(InputTest, HatsGiveEngineAnglesOrMinusOneWhenCentred) {
  struct {
    std::uint32_t value;
    std::int32_t expected;
  } cases[] = {{9000, 46080}, {0, 0}, {18000, 92160}, {31500, 161280}, {0xFFFFFFFF, -1}, {0xFFFF, -1}, {0x1FFFF, -1}};
  for (const auto& c : cases) EXPECT_EQ(engine::hat_angle(c.value), c.expected) << c.value;
}

TEST_F(InputTest, BrainsReadBothControllers) {
  compile({lines({"var x", "var y", "var z2", "var u", "var xr", "var d1", "var d4", "var b0", "var b28", "var j2",
                  "x = joy1_x(-100, 100)", "y = joy1_y(100, -100)", "z2 = joy2_z(0, 2000)", "u = joy1_u(0, 10)",
                  "xr = joy1_xr()", "d1 = joy1_dir1()", "d4 = joy2_dir4()", "b0 = joy_b(16)", "b28 = joy1_b(1)",
                  "j2 = joy2_b(-1)"})});
  pad(0).present = pad(1).present = true;
  pad(0).axis[static_cast<int>(Axis::x)] = 1000;
  pad(0).axis[static_cast<int>(Axis::y)] = -1000;
  pad(1).axis[static_cast<int>(Axis::z)] = -1000;
  pad(0).axis[static_cast<int>(Axis::u)] = 0;
  pad(0).axis[static_cast<int>(Axis::xr)] = -321;
  pad(0).hat[0] = 9000;
  pad(1).hat[3] = 27000;
  pad(0).buttons = 1u | (1u << 28);
  pad(1).buttons = 1u << 2;
  engine::brain_pass(*world_);
  const std::int32_t expected[] = {-100, -100, 2000, 5, -321, 46080, 138240, 16, 1, 1 << 6};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(variable(0, i), expected[i]) << "variable " << i;

  // Unplugged: axes and hats keep their last values, no button reads down.
  platform::set_controller_present(*input_, 0, false);
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), -100);
  EXPECT_EQ(variable(0, 5), 46080);
  EXPECT_EQ(variable(0, 7), 0);
  EXPECT_EQ(variable(0, 8), 0);
}

TEST_F(InputTest, AnyInputSeesKeysMouseButtonsAndPresentControllersButtons) {
  compile({lines({"var any", "any = any_input()"})});
  platform::Input& in = *input_;
  struct {
    const char* what;
    void (*set)(platform::Input&);
    std::int32_t expected;
  } cases[] = {
      {"nothing", [](platform::Input&) {}, 0},
      {"key", [](platform::Input& i) { i.held[57] = true; }, -1},
      {"mouse", [](platform::Input& i) { i.mouse_buttons = 4; }, -1},
      {"joystick 2 button", [](platform::Input& i) { i.joystick[1] = {.buttons = 1u << 31, .present = true}; }, -1},
      {"button of an absent controller", [](platform::Input& i) { i.joystick[0].buttons = 1; }, 0},
  };
  for (const auto& c : cases) {
    platform::Input clean;
    in.mouse_buttons = 0;
    std::copy(std::begin(clean.held), std::end(clean.held), std::begin(in.held));
    std::copy(std::begin(clean.joystick), std::end(clean.joystick), std::begin(in.joystick));
    c.set(in);
    engine::brain_pass(*world_);
    EXPECT_EQ(variable(0, 0), c.expected) << c.what;
  }
}

TEST_F(InputTest, MouseQueriesAndTheWheelReadOnce) {
  compile({lines({"var x", "var y", "var click", "var w1", "var w2", "mouse_on()", "mouse_off()", "x = mouse_x()",
                  "y = mouse_y()", "click = mouse_click()", "w1 = mouse_wheel()", "w2 = mouse_wheel()"})});
  platform::Input& in = *input_;
  in.mouse_x = 639;
  in.mouse_y = 12;
  in.mouse_buttons = 5;
  in.wheel = -120;
  engine::brain_pass(*world_);
  const std::int32_t expected[] = {639, 12, 5, -120, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(variable(0, i), expected[i]) << "variable " << i;
  EXPECT_EQ(in.wheel, 0);
}

TEST_F(InputTest, MouseSetClampsToTheScreen) {
  platform::set_screen_size(640, 480);
  struct {
    std::int32_t x, y, ex, ey;
  } cases[] = {{700, 10, 639, 10}, {-5, 500, 0, 479}, {320, 240, 320, 240}};
  for (const auto& c : cases) {
    brain::routine_of(brain::find_keyword("mouse_set"))(c.x, c.y, 0, 0, 0, 0);
    EXPECT_EQ(platform::input().mouse_x, c.ex);
    EXPECT_EQ(platform::input().mouse_y, c.ey);
  }
}

TEST_F(InputTest, PauseReturnsWhenNoInputCanCome) {
  // No devices are open in this test: waiting would never end, so it does not start.
  compile({lines({"var n", "pause()", "n = 1"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 1);
}

}  // namespace
