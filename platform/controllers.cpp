// Game controllers through SDL2's game-controller and joystick API: two slots,
// filled at start and by hot-plugging, read once per tick by poll_controller().
#include <iterator>

#include "platform/platform_local.h"
#include "base/log.h"

namespace platform {

namespace {

// The device behind each controller slot (null: absent or scripted).
struct Devices {
  bool started = false;
  SDL_GameController* pad[kControllers] = {};
  SDL_Joystick* stick[kControllers] = {};
  SDL_JoystickID stick_id[kControllers] = {-1, -1};
};

Devices dev;

// Game-controller buttons in the order a DirectInput pad numbers them.
constexpr SDL_GameControllerButton kPadButtons[] = {
    SDL_CONTROLLER_BUTTON_A,         SDL_CONTROLLER_BUTTON_B,         SDL_CONTROLLER_BUTTON_X,
    SDL_CONTROLLER_BUTTON_Y,         SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
    SDL_CONTROLLER_BUTTON_BACK,      SDL_CONTROLLER_BUTTON_START,     SDL_CONTROLLER_BUTTON_LEFTSTICK,
    SDL_CONTROLLER_BUTTON_RIGHTSTICK, SDL_CONTROLLER_BUTTON_GUIDE,
};
// Plain joystick axes 0..7 in record order.
constexpr Axis kStickAxes[] = {Axis::x, Axis::y, Axis::z, Axis::xr, Axis::yr, Axis::zr, Axis::u, Axis::v};

void close_slot(int n) {
  if (dev.pad[n]) SDL_GameControllerClose(dev.pad[n]);
  else if (dev.stick[n]) SDL_JoystickClose(dev.stick[n]);
  dev.pad[n] = nullptr;
  dev.stick[n] = nullptr;
  dev.stick_id[n] = -1;
  set_controller_present(input(), n, false);
}

// A device that appeared (at start or hot-plugged) takes the first free slot.
void open_device(int device_index) {
  SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(device_index);
  for (int n = 0; n < kControllers; ++n)
    if (dev.stick[n] && dev.stick_id[n] == id) return;  // already open
  int slot = -1;
  for (int n = kControllers - 1; n >= 0; --n)
    if (!dev.stick[n] && !input().joystick[n].present) slot = n;
  if (slot < 0) return;  // both slots taken
  if (SDL_IsGameController(device_index)) {
    dev.pad[slot] = SDL_GameControllerOpen(device_index);
    dev.stick[slot] = dev.pad[slot] ? SDL_GameControllerGetJoystick(dev.pad[slot]) : nullptr;
  } else {
    dev.stick[slot] = SDL_JoystickOpen(device_index);
  }
  if (!dev.stick[slot]) {
    base::report("platform", "cannot open controller %d: %s", device_index, SDL_GetError());
    close_slot(slot);
    return;
  }
  dev.stick_id[slot] = SDL_JoystickInstanceID(dev.stick[slot]);
  set_controller_present(input(), slot, true);
}

void read_pad(SDL_GameController* pad, Controller& c) {
  auto axis = [pad](SDL_GameControllerAxis a) { return scale_axis(SDL_GameControllerGetAxis(pad, a)); };
  c.axis[static_cast<int>(Axis::x)] = axis(SDL_CONTROLLER_AXIS_LEFTX);
  c.axis[static_cast<int>(Axis::y)] = axis(SDL_CONTROLLER_AXIS_LEFTY);
  c.axis[static_cast<int>(Axis::xr)] = axis(SDL_CONTROLLER_AXIS_RIGHTX);
  c.axis[static_cast<int>(Axis::yr)] = axis(SDL_CONTROLLER_AXIS_RIGHTY);
  // Triggers: one each as sliders, and together on Z (left positive) as a pad reports them.
  std::int32_t left = axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT), right = axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT);
  c.axis[static_cast<int>(Axis::u)] = left;
  c.axis[static_cast<int>(Axis::v)] = right;
  c.axis[static_cast<int>(Axis::z)] = left - right;
  c.axis[static_cast<int>(Axis::zr)] = 0;
  std::uint32_t buttons = 0;
  for (int i = 0; i < static_cast<int>(std::size(kPadButtons)); ++i)
    if (SDL_GameControllerGetButton(pad, kPadButtons[i])) buttons |= 1u << i;
  c.buttons = buttons;
  int dpad = (SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_UP) ? SDL_HAT_UP : 0) |
             (SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_RIGHT) ? SDL_HAT_RIGHT : 0) |
             (SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_DOWN) ? SDL_HAT_DOWN : 0) |
             (SDL_GameControllerGetButton(pad, SDL_CONTROLLER_BUTTON_DPAD_LEFT) ? SDL_HAT_LEFT : 0);
  c.hat[0] = hat_hundredths(dpad);
}

void read_stick(SDL_Joystick* stick, Controller& c) {
  int axes = SDL_JoystickNumAxes(stick), hats = SDL_JoystickNumHats(stick), buttons = SDL_JoystickNumButtons(stick);
  for (int i = 0; i < kAxes; ++i)
    c.axis[static_cast<int>(kStickAxes[i])] = i < axes ? scale_axis(SDL_JoystickGetAxis(stick, i)) : 0;
  for (int i = 0; i < kHats; ++i) c.hat[i] = i < hats ? hat_hundredths(SDL_JoystickGetHat(stick, i)) : kHatCentred;
  std::uint32_t mask = 0;
  for (int i = 0; i < kControllerButtons && i < buttons; ++i)
    if (SDL_JoystickGetButton(stick, i)) mask |= 1u << i;
  c.buttons = mask;
}

}  // namespace

bool start_controllers() {
  if (!display.initialised) return false;
  if (dev.started) return true;
  if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
    base::report("platform", "no game controllers: %s", SDL_GetError());
    return false;
  }
  dev.started = true;
  for (int i = 0; i < SDL_NumJoysticks(); ++i) open_device(i);
  return true;
}

void poll_controller(int n) {
  if (n < 0 || n >= kControllers || !input().joystick[n].present || !dev.stick[n]) return;
  // A device that stopped answering keeps its old values until it is removed.
  if (!SDL_JoystickGetAttached(dev.stick[n])) return;
  if (dev.pad[n]) read_pad(dev.pad[n], input().joystick[n]);
  else read_stick(dev.stick[n], input().joystick[n]);
}

void controller_added(int device_index) {
  if (dev.started) open_device(device_index);
}

void controller_removed(SDL_JoystickID id) {
  for (int n = 0; n < kControllers; ++n)
    if (dev.stick[n] && dev.stick_id[n] == id) close_slot(n);
}

void close_controllers() {
  for (int n = 0; n < kControllers; ++n) close_slot(n);
  dev.started = false;
}

}  // namespace platform
