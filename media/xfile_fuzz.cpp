// libFuzzer entry: any bytes through the text ".x" reader; every corner it gives is whole.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/media.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<media::XPart> parts;
  media::XStatus status = media::parse_text_x({data, size}, parts);
  if ((status == media::XStatus::ok) == parts.empty()) __builtin_trap();
  std::size_t corners = 0;
  for (const media::XPart& p : parts) {
    if (p.corners.empty() || p.corners.size() % 3 != 0) __builtin_trap();
    corners += p.corners.size();
  }
  if (corners > static_cast<std::size_t>(media::kMaxXCorners)) __builtin_trap();
  return 0;
}
