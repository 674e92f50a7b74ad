// libFuzzer entry: any bytes through the ".wav" parser and both sample conversions.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/media.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  media::Wav wav;
  if (media::parse_wav({data, size}, wav) != media::WavStatus::ok) return 0;
  if (wav.data.data() < data || wav.data.data() + wav.data.size() > data + size) __builtin_trap();
  for (bool mono : {false, true}) {
    std::vector<uint8_t> out(media::wav_decoded_bytes(wav, mono));
    if (out.size() > wav.data.size() || !media::decode_wav(wav, mono, out)) __builtin_trap();
  }
  return 0;
}
