// libFuzzer entry: any bytes through the model loader as each model format
// (the first byte picks the name's extension); a model either loads within the
// limits or is refused with a reason and nothing appended.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/libraries.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr const char* kNames[] = {"/nonexistent/m.gltf", "/nonexistent/m.glb", "/nonexistent/m.obj",
                                           "/nonexistent/m.x", "/nonexistent/m.3ds"};
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<scene::Vertex> out(1);
  std::string error;
  bool ok = platform::load_model_from_memory(bytes, kNames[data[0] % 5], out, error);
  if (ok && (out.size() < 4 || (out.size() - 1) % 3 != 0 ||
             out.size() - 1 > static_cast<std::size_t>(platform::kMaxModelVertices)))
    __builtin_trap();
  if (!ok && (out.size() != 1 || error.empty())) __builtin_trap();
  return 0;
}
