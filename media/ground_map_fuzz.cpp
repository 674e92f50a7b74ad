// libFuzzer entry: any bytes through the ground-map check; the same bytes as
// triangles through the builder, whose map must pass the check.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "media/media.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const std::byte> file = std::as_bytes(std::span(data, size));
  if (media::check_ground_map(file) == nullptr && media::ground_map_triangle_bytes(file) + media::kMapCellTableBytes >
                                                      size - media::kMapHeaderBytes)
    __builtin_trap();
  media::ground_map_checksum(file);
  media::model_checksum(file);

  constexpr std::size_t kMaxTriangles = 64;  // keeps a run quick
  std::vector<media::GroundTriangle> triangles(std::min(size / sizeof(media::GroundTriangle::v), kMaxTriangles));
  for (std::size_t k = 0; k < triangles.size(); ++k)
    std::memcpy(triangles[k].v, data + k * sizeof triangles[k].v, sizeof triangles[k].v);
  if (media::check_ground_map(media::build_ground_map(triangles, 1)) != nullptr) __builtin_trap();
  return 0;
}
