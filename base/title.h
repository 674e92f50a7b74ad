// The title region of the program image: a marker followed by the 32 bytes of
// the window title, so that a copy of the program (a packaged game's player)
// shows its own title. The region lives in the window code; this patches it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace base {

inline constexpr std::size_t kTitleBytes = 32;        // blank-padded, no terminator
inline constexpr std::size_t kTitleMarkerBytes = 19;  // "ZEPTA-TITLE-REGION:"

// The marker that opens the region. Only the region itself holds it in the
// program image: this copy is made at run time from masked bytes.
std::string title_marker();

// Finds the one marker of image and writes title after it, cut to 32 bytes and
// blank-padded ("" blanks it). False, image unchanged, with error set when the
// marker is missing, occurs more than once or has no room after it.
bool patch_title(std::string& image, std::string_view title, std::string& error);
// The 32 title bytes after the one marker of image; false as above.
bool read_title(std::string_view image, std::string& title, std::string& error);

}  // namespace base
