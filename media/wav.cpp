// ".wav" sounds: the RIFF chunk walk, the format checks and the sample
// conversion to 8-bit unsigned or 16-bit signed PCM.
#include <cmath>
#include <cstring>

#include "media/media.h"
#include "base/bytes.h"
#include "base/files.h"
#include "base/text.h"

namespace media {

namespace {

constexpr int kFormatPcm = 1;
constexpr int kFormatFloat = 3;
constexpr int kFormatExtensible = 0xFFFE;
constexpr std::size_t kFormatBytes = 16;            // the fields every "fmt " chunk has
constexpr std::size_t kExtensibleFormatBytes = 40;  // ... and the extensible layout's
// The sub-format GUID of the extensible layout after its first two bytes (the format code).
constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool tag_is(const uint8_t* p, const char (&tag)[5]) { return std::memcmp(p, tag, 4) == 0; }

// The "fmt " chunk's body (at least kFormatBytes) into wav, without the samples.
WavStatus read_format(std::span<const uint8_t> body, Wav& wav) {
  const uint8_t* f = body.data();
  int code = base::le16(f);
  int channels = base::le16(f + 2);
  uint32_t rate = base::le32(f + 4);
  int block = base::le16(f + 12);
  int bits = base::le16(f + 14);
  if (channels == 0 || rate == 0 || block == 0 || bits == 0) return WavStatus::bad_format;
  if (code == kFormatExtensible) {
    if (body.size() < kExtensibleFormatBytes) return WavStatus::bad_format;
    if (std::memcmp(f + 26, kGuidTail, sizeof kGuidTail) != 0) return WavStatus::unsupported;
    code = base::le16(f + 24);
  }
  bool is_float = code == kFormatFloat;
  if (code != kFormatPcm && !is_float) return WavStatus::unsupported;
  if (is_float ? bits != 32 : (bits != 8 && bits != 16 && bits != 24 && bits != 32)) return WavStatus::unsupported;
  if (channels > 2) return WavStatus::unsupported;
  if (rate > static_cast<uint32_t>(kMaxWavRate)) return WavStatus::bad_format;
  if (block != channels * bits / 8) return WavStatus::bad_format;
  wav.channels = channels;
  wav.rate = static_cast<int>(rate);
  wav.stored_bits = bits;
  wav.is_float = is_float;
  return WavStatus::ok;
}

// One stored sample as 16-bit signed (not used for 8-bit files).
int16_t sample16(const uint8_t* p, const Wav& wav) {
  if (wav.is_float) {
    float v;
    std::memcpy(&v, p, 4);
    if (std::isnan(v)) return 0;
    v = v < -1.0f ? -1.0f : v > 1.0f ? 1.0f : v;
    return static_cast<int16_t>(std::lround(v * 32767.0f));
  }
  int top = wav.stored_bits / 8 - 2;  // the two most significant bytes
  return base::le16_signed(p + top);
}

}  // namespace

const char* wav_status_text(WavStatus status) {
  switch (status) {
    case WavStatus::ok: return "ok";
    case WavStatus::unreadable: return "missing, unreadable or too large a file";
    case WavStatus::not_wave: return "not a RIFF WAVE file";
    case WavStatus::no_format: return "no format chunk";
    case WavStatus::no_data: return "no data chunk";
    case WavStatus::bad_format: return "bad format chunk";
    case WavStatus::unsupported: return "unsupported sample format";
    case WavStatus::too_large: return "too many samples";
  }
  return "?";
}

WavStatus parse_wav(std::span<const uint8_t> file, Wav& wav) {
  wav = {};
  if (file.size() < 12 || !tag_is(file.data(), "RIFF") || !tag_is(file.data() + 8, "WAVE")) return WavStatus::not_wave;
  bool have_format = false, have_data = false;
  WavStatus format = WavStatus::no_format;
  std::span<const uint8_t> data;
  // Sizes are 32-bit and offsets stay within the file, so 64-bit sums can't wrap.
  std::uint64_t at = 12;
  while (at + 8 <= file.size() && !(have_format && have_data)) {
    const uint8_t* head = file.data() + at;
    std::uint64_t size = base::le32(head + 4);
    std::uint64_t body = at + 8, there = file.size() - body;
    if (tag_is(head, "fmt ") && !have_format) {
      if (size > there) break;  // cut off by the end of the file
      have_format = true;
      format = size < kFormatBytes ? WavStatus::bad_format : read_format(file.subspan(body, size), wav);
    } else if (tag_is(head, "data") && !have_data) {
      have_data = true;
      data = file.subspan(body, size < there ? size : there);
    }
    at = body + size + (size & 1);
  }
  if (!have_format) return WavStatus::no_format;
  if (format != WavStatus::ok) return wav = {}, format;
  if (!have_data) return wav = {}, WavStatus::no_data;
  if (data.size() > kMaxWavBytes) return wav = {}, WavStatus::too_large;
  std::size_t block = static_cast<std::size_t>(wav.channels) * (wav.stored_bits / 8);
  wav.frames = static_cast<uint32_t>(data.size() / block);
  wav.data = data.first(wav.frames * block);
  return WavStatus::ok;
}

std::size_t wav_decoded_bytes(const Wav& wav, bool mono) {
  int channels = mono ? 1 : wav.channels;
  return std::size_t(wav.frames) * std::size_t(channels) * std::size_t(wav.bits() / 8);
}

bool decode_wav(const Wav& wav, bool mono, std::span<uint8_t> dest) {
  std::size_t bytes = wav_decoded_bytes(wav, mono);
  if (dest.size() < bytes) return false;
  bool downmix = mono && wav.channels == 2;
  if (wav.stored_bits == wav.bits() && !wav.is_float && !downmix) {
    if (bytes) std::memcpy(dest.data(), wav.data.data(), bytes);
    return true;
  }
  const uint8_t* in = wav.data.data();
  int stored = wav.stored_bits / 8;
  std::size_t frames = wav.frames;
  if (wav.bits() == 8) {  // 8-bit stereo into mono: unsigned bytes averaged
    for (std::size_t i = 0; i < frames; ++i, in += 2) dest[i] = static_cast<uint8_t>((in[0] + in[1] + 1) >> 1);
    return true;
  }
  uint8_t* out = dest.data();
  auto put = [&out](int v) {
    base::put_le16(out, static_cast<uint16_t>(v));
    out += 2;
  };
  for (std::size_t i = 0; i < frames; ++i) {
    int left = sample16(in, wav);
    in += stored;
    if (wav.channels == 1) {
      put(left);
      continue;
    }
    int right = sample16(in, wav);
    in += stored;
    if (downmix) {
      put((left + right) >> 1);
    } else {
      put(left);
      put(right);
    }
  }
  return true;
}

WavStatus load_wav(std::string_view path, std::vector<uint8_t>& file, Wav& wav) {
  wav = {};
  file.clear();
  long n = base::file_size(path);
  if (n < 0 || static_cast<unsigned long>(n) > kMaxWavBytes) return WavStatus::unreadable;
  file.resize(static_cast<std::size_t>(n));
  long got = base::read_file_at(path, 0, std::as_writable_bytes(std::span(file)));
  if (got < 0) return file.clear(), WavStatus::unreadable;
  file.resize(static_cast<std::size_t>(got));
  return parse_wav(file, wav);
}

}  // namespace media
