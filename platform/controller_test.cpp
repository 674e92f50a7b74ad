// Game controllers: scripted controller events, the value scaling, and real
// SDL devices (virtual joysticks) plugged in and out while the program runs.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

int axis(const Controller& c, Axis a) { return c.axis[static_cast<int>(a)]; }

TEST(Controllers, ScriptedEventsFillTheRecords) {
  Script script;
  ScriptError error;
  ASSERT_TRUE(parse_script("1 joy 1 present 1\n"
                           "1 joy 1 axis x -1000\n"
                           "1 joy 1 axis zr 250\n"
                           "1 joy 1 button 31 1\n"
                           "1 joy 1 button 3 1\n"
                           "1 joy 1 hat 2 27000\n"
                           "1 joy 2 button 0 1\n"  // absent: the button does not stay down
                           "1 joy 2 axis v 7\n"
                           "2 joy 1 button 3 0\n"
                           "2 joy 1 hat 2 -1\n"
                           "3 joy 1 present 0\n"
                           "4 joy 1 present 1\n",
                           script, error))
      << error.message;
  Input input;
  deliver_script(script, input, 1);
  const Controller& one = input.joystick[0];
  const Controller& two = input.joystick[1];
  EXPECT_TRUE(one.present);
  EXPECT_EQ(axis(one, Axis::x), -1000);
  EXPECT_EQ(axis(one, Axis::zr), 250);
  EXPECT_EQ(one.buttons, (1u << 31) | (1u << 3));
  EXPECT_EQ(one.hat[2], 27000u);
  EXPECT_EQ(one.hat[0], kHatCentred);
  EXPECT_FALSE(two.present);
  EXPECT_EQ(two.buttons, 0u);
  EXPECT_EQ(axis(two, Axis::v), 7);
  EXPECT_TRUE(any_input_down(input));
  deliver_script(script, input, 2);
  EXPECT_EQ(one.buttons, 1u << 31);
  EXPECT_EQ(one.hat[2], kHatCentred);
  deliver_script(script, input, 3);
  EXPECT_FALSE(one.present);
  EXPECT_EQ(one.buttons, 0u);
  EXPECT_EQ(axis(one, Axis::x), -1000);  // the last values stay
  EXPECT_FALSE(any_input_down(input));
  deliver_script(script, input, 4);
  EXPECT_TRUE(one.present);
  EXPECT_EQ(one.buttons, 0u);
}

TEST(Controllers, ScalingOfAxesAndHats) {
  struct {
    int raw, scaled;
  } axes[] = {{-32768, -1000}, {-32767, -1000}, {0, 0}, {32767, 1000}, {16384, 500}, {-100, -3}};
  for (auto c : axes) EXPECT_EQ(scale_axis(c.raw), c.scaled) << c.raw;
  struct {
    int position;
    std::uint32_t hundredths;
  } hats[] = {{SDL_HAT_CENTERED, kHatCentred}, {SDL_HAT_UP, 0},          {SDL_HAT_RIGHTUP, 4500},
              {SDL_HAT_RIGHT, 9000},           {SDL_HAT_RIGHTDOWN, 13500}, {SDL_HAT_DOWN, 18000},
              {SDL_HAT_LEFTDOWN, 22500},       {SDL_HAT_LEFT, 27000},    {SDL_HAT_LEFTUP, 31500},
              {SDL_HAT_UP | SDL_HAT_DOWN, kHatCentred}};
  for (auto c : hats) EXPECT_EQ(hat_hundredths(c.position), c.hundredths) << c.position;
}

TEST(Controllers, ModifierMask) {
  struct {
    int scan;
    std::uint32_t mask;
  } cases[] = {{0, 0}, {42, 3}, {54, 3}, {29, 4}, {56, 8}, {30, 0}};
  for (auto c : cases) {
    Input input;
    input.held[c.scan] = c.scan != 0;
    EXPECT_EQ(modifier_mask(input), c.mask) << c.scan;
  }
}

TEST(Controllers, BadScriptLinesNameTheirLine) {
  const char* bad[] = {"1 joy 0 present 1", "1 joy 1 axis q 3",  "1 joy 1 axis x -1001", "1 joy 1 button -1 1",
                       "1 joy 1 button 2 2", "1 joy 1 hat 0 -2", "1 joy 1 present 2",     "1 joy 1 present",
                       "1 joy 1 axis x",     "1 joy x present 1", "1 joy 1 hat 0 zz"};
  for (const char* line : bad) {
    Script script;
    ScriptError error;
    EXPECT_FALSE(parse_script(std::string("0 key 57\n") + line + "\n", script, error)) << line;
    EXPECT_EQ(error.line, 2) << line;
    EXPECT_NE(error.message[0], 0) << line;
  }
}

// Virtual SDL joysticks stand in for devices: attached, moved, unplugged and
// attached again while the layer samples, as a player's controllers would be.
TEST(Controllers, DevicesArePickedUpAndDroppedWhileRunning) {
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  ASSERT_TRUE(init({.headless = true}));
  ASSERT_TRUE(start_controllers());
  Input& in = input();
  EXPECT_FALSE(in.joystick[0].present);

  int first = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 8, 32, 4);
  ASSERT_GE(first, 0) << SDL_GetError();
  sample_input();
  ASSERT_TRUE(in.joystick[0].present);
  SDL_Joystick* stick = SDL_JoystickOpen(first);  // a second handle, to move the device
  ASSERT_NE(stick, nullptr);
  SDL_JoystickSetVirtualAxis(stick, 0, 32767);
  SDL_JoystickSetVirtualAxis(stick, 3, -32768);
  SDL_JoystickSetVirtualAxis(stick, 7, 16384);
  SDL_JoystickSetVirtualButton(stick, 0, 1);
  SDL_JoystickSetVirtualButton(stick, 31, 1);
  SDL_JoystickSetVirtualHat(stick, 1, SDL_HAT_LEFT);
  sample_input();
  poll_controller(0);
  poll_controller(1);
  const Controller& c = in.joystick[0];
  EXPECT_EQ(axis(c, Axis::x), 1000);
  EXPECT_EQ(axis(c, Axis::xr), -1000);
  EXPECT_EQ(axis(c, Axis::v), 500);
  EXPECT_EQ(c.buttons, 1u | (1u << 31));
  EXPECT_EQ(c.hat[1], 27000u);
  EXPECT_EQ(c.hat[0], kHatCentred);
  EXPECT_FALSE(in.joystick[1].present);

  int second = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 2, 4, 0);
  ASSERT_GE(second, 0) << SDL_GetError();
  sample_input();
  EXPECT_TRUE(in.joystick[1].present);

  // Unplugged: marked absent at the next sample, values kept, no buttons.
  SDL_JoystickClose(stick);
  ASSERT_EQ(SDL_JoystickDetachVirtual(first), 0) << SDL_GetError();
  sample_input();
  poll_controller(0);
  EXPECT_FALSE(in.joystick[0].present);
  EXPECT_EQ(in.joystick[0].buttons, 0u);
  EXPECT_EQ(axis(in.joystick[0], Axis::x), 1000);
  EXPECT_TRUE(in.joystick[1].present);

  // A new device takes the free slot.
  int third = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 1, 1, 1);
  ASSERT_GE(third, 0) << SDL_GetError();
  sample_input();
  EXPECT_TRUE(in.joystick[0].present);
  // Unplug everything (device indexes move down as devices go).
  for (int guard = 0; guard < 8 && SDL_NumJoysticks() > 0 && SDL_JoystickIsVirtual(0); ++guard)
    SDL_JoystickDetachVirtual(0);
  sample_input();
  EXPECT_FALSE(in.joystick[0].present);
  EXPECT_FALSE(in.joystick[1].present);
  shutdown();
}

}  // namespace
}  // namespace platform
