// libFuzzer entry: any bytes through the PCX decoder in every mode, into a small block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/media.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> dest(4096);
  uint16_t table[256];
  for (int mode : {0, 1, 2}) {
    media::ImageSize s;
    int n = media::decode_pcx({data, size}, mode, dest, s, table);
    if (n != s.width * s.height) __builtin_trap();
  }
  return 0;
}
