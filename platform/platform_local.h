// What the platform layer's SDL files (window, events, controllers) share.
// Nothing outside platform/ includes it. One thread uses the layer, so its
// state is plain records, each owned by one file.
#pragma once

#include <SDL2/SDL.h>

#include <cstdint>

#include "platform/platform.h"
#include "platform/scene/scene.h"

namespace platform {

// ---- window.cpp -------------------------------------------------------------

// The video side: set by init() and create_window(), read by the event pump.
struct Display {
  bool initialised = false;
  bool headless = false;
  bool visible = false;   // a person can see the window (display_visible)
  bool windowed = false;  // currently a window rather than full screen
  // The window's place and size when it last went full screen, which Alt+Enter
  // gives back; none yet (started full screen): the screen's size, centred.
  bool window_kept = false;
  int window_x = 0, window_y = 0, window_width = 0, window_height = 0;
  SDL_Window* window = nullptr;
  scene::Renderer* scene = nullptr;  // OpenGL on the window; null: SDL's software renderer
  int screen_width = 640, screen_height = 480;  // the screen the window shows (pixels)
  bool cursor_shown = false, cursor_covered = false;  // show_cursor, cover_cursor
  char runtime_folder[256] = {};  // our private XDG_RUNTIME_DIR, removed at shutdown ("" for none)
};
extern Display display;

// ---- events.cpp -------------------------------------------------------------

bool script_in_use();  // --input gave a script (used up or not)

// ---- input.cpp --------------------------------------------------------------

// The code point of the UTF-8 sequence at s; s moves past it (a broken
// sequence gives what it has and stops at the bad byte).
std::uint32_t next_code_point(const unsigned char*& s);

// ---- controllers.cpp --------------------------------------------------------

// A device appeared (SDL_JOYDEVICEADDED): once controllers are started it
// takes the first free slot.
void controller_added(int device_index);
void controller_removed(SDL_JoystickID id);
// Closes every device and leaves both slots absent (shutdown).
void close_controllers();

}  // namespace platform
