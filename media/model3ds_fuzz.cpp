// libFuzzer entry: any bytes through the 3DS chunk reader; a mesh it reads is
// whole, finite and small enough to be written again, and refusals read nothing.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "media/media.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<media::Triangle3ds> out;
  std::string why;
  media::Read3ds status = media::read_3ds_triangles(std::as_bytes(std::span(data, size)), out, why);
  if (status != media::Read3ds::ok) {
    if (!out.empty() || (status == media::Read3ds::damaged) == why.empty()) __builtin_trap();
    return 0;
  }
  if (out.empty() || out.size() > static_cast<std::size_t>(media::kMax3dsFragments)) __builtin_trap();
  for (const media::Triangle3ds& t : out)
    for (const auto& corner : t.corner)
      for (float c : corner)
        if (!std::isfinite(c)) __builtin_trap();
  std::vector<std::byte> again = media::write_fragment_3ds(out);
  if (again.size() != 52 * out.size() + 56) __builtin_trap();
  return 0;
}
