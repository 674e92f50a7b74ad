// libFuzzer entry: any bytes as a glTF file, an ".obj" and an ".mtl"; the names
// taken stay within their bounds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "media/media.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::GltfFiles files;
  media::GltfStatus status = media::read_gltf_files({data, size}, files);
  if (status != media::GltfStatus::ok && (!files.buffers.empty() || !files.images.empty())) __builtin_trap();
  auto limit = static_cast<std::size_t>(media::kMaxModelCompanions);
  if (files.buffers.size() > limit || files.images.size() > limit) __builtin_trap();
  for (const auto& b : files.buffers) media::companion_place(b.uri);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (media::obj_material_libraries(text).size() > limit || media::mtl_texture_names(text).size() > limit)
    __builtin_trap();
  return 0;
}
