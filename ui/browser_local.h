// Shared by the browsers of ui/: keys, paths and the small steps of their waits.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "ui/browser.h"

namespace ui::browse {

// The browsers answer to the platform's scan codes by their short names.
using enum platform::ScanCode;

// The folder of a path, with its "/" ("" when it has none).
inline std::string folder_of(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}
inline std::string file_of(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The path as it exists on disk (the listing is lower case; files need not be).
std::string on_disk(std::string_view path);

// One step of a loop that waits for the user: input taken, the screen shown
// with the pointer where the mouse is now.
void wait_step(Kit& kit);

// The longest start of text that is at most width pixels wide.
std::string_view fit_text(const media::Font& font, std::string_view text, int width);
// Text in white with a one-pixel black outline, centred on (x, y).
void draw_outlined(Kit& kit, std::string_view text, int x, int y);

// What a browser showed, written on stderr when nobody can answer it.
void report_shown(std::string_view lines);
// Leaves a browser: the pointer hidden and the screen cleared, unless waiting
// gave up (then the screen keeps what was shown), the input emptied.
void leave(Kit& kit, bool gave_up);

}  // namespace ui::browse
