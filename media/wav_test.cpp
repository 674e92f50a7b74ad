// ".wav" files: the formats read, damaged and hostile files, and the sample
// conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "media/media.h"
#include "media/test_util.h"

namespace {

using media::WavStatus;
using namespace media_test;

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> b;
  for (int v : list) b.push_back(static_cast<uint8_t>(v));
  return b;
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The extensible format body: the 16 plain bytes with code 0xFFFE, then cbSize 22,
// valid bits, channel mask and the sub-format GUID of the given code.
std::vector<uint8_t> extensible_format(int code, int channels, int bits, bool good_guid = true) {
  auto f = wav_format(0xFFFE, channels, 22050, bits);
  auto tail = bytes({22, 0, bits, 0, 4, 0, 0, 0, code, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
  if (!good_guid) tail.back() = 0;
  return concat(f, tail);
}

const std::vector<uint8_t> kFour16 = pcm16_bytes({1, -2, 300, -32768});  // four mono frames

struct ParseCase {
  const char* what;
  std::vector<uint8_t> file;
  WavStatus status;
  uint32_t frames;
};

TEST(Wav, FilesGoodAndDamaged) {
  auto fmt16 = riff_chunk("fmt ", wav_format(1, 1, 22050, 16));
  auto data4 = riff_chunk("data", kFour16);
  auto good = riff_wave({fmt16, data4});
  auto cut = [](std::vector<uint8_t> f, std::size_t n) { return f.resize(f.size() - n), f; };
  auto with_riff_size = [](std::vector<uint8_t> f, uint32_t n) { return std::memcpy(&f[4], &n, 4), f; };
  const ParseCase cases[] = {
      {"plain 16-bit mono", good, WavStatus::ok, 4},
      {"8-bit stereo", pcm_wav(2, 11025, 8, bytes({0, 255, 128, 128, 1})), WavStatus::ok, 2},
      {"24-bit", pcm_wav(1, 44100, 24, bytes({1, 2, 3, 4, 5, 6})), WavStatus::ok, 2},
      {"32-bit float", riff_wave({riff_chunk("fmt ", wav_format(3, 1, 48000, 32)), riff_chunk("data", std::vector<uint8_t>(8))}),
       WavStatus::ok, 2},
      {"extensible PCM", riff_wave({riff_chunk("fmt ", extensible_format(1, 1, 16)), data4}), WavStatus::ok, 4},
      {"extensible float", riff_wave({riff_chunk("fmt ", extensible_format(3, 1, 32)), data4}), WavStatus::ok, 2},
      {"any rate", pcm_wav(1, 7, 16, kFour16), WavStatus::ok, 4},
      {"empty data", pcm_wav(1, 22050, 16, {}), WavStatus::ok, 0},
      {"data before format", riff_wave({data4, fmt16}), WavStatus::ok, 4},
      {"odd chunk with its pad byte", riff_wave({riff_chunk("LIST", bytes({1, 2, 3})), fmt16, data4}), WavStatus::ok, 4},
      {"odd chunk without pad byte", riff_wave({concat(bytes({'L', 'I', 'S', 'T', 3, 0, 0, 0}), bytes({1, 2, 3})), fmt16, data4}),
       WavStatus::no_format, 0},
      {"longer format chunk", riff_wave({riff_chunk("fmt ", concat(wav_format(1, 1, 22050, 16), bytes({0, 0}))), data4}),
       WavStatus::ok, 4},
      {"second data chunk ignored", riff_wave({fmt16, data4, riff_chunk("data", std::vector<uint8_t>(100))}), WavStatus::ok, 4},
      {"RIFF size too small", with_riff_size(good, 4), WavStatus::ok, 4},
      {"RIFF size huge", with_riff_size(good, 0xFFFFFFFF), WavStatus::ok, 4},
      {"data cut short", cut(good, 3), WavStatus::ok, 2},
      {"data claims 4 GiB", riff_wave({fmt16, riff_chunk("data", kFour16, 0xFFFFFFFF)}), WavStatus::ok, 4},
      {"data claims 4 GiB before format", riff_wave({riff_chunk("data", kFour16, 0xFFFFFFFF), fmt16}),
       WavStatus::no_format, 0},
      {"odd data bytes", pcm_wav(1, 22050, 16, bytes({1, 2, 3, 4, 5})), WavStatus::ok, 2},
      {"empty file", {}, WavStatus::not_wave, 0},
      {"header only", bytes({'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V'}), WavStatus::not_wave, 0},
      {"RIFX", concat(bytes({'R', 'I', 'F', 'X'}), std::vector<uint8_t>(good.begin() + 4, good.end())), WavStatus::not_wave, 0},
      {"AVI", concat(std::vector<uint8_t>(good.begin(), good.begin() + 8), bytes({'A', 'V', 'I', ' '})), WavStatus::not_wave, 0},
      {"no chunks", riff_wave({}), WavStatus::no_format, 0},
      {"data only", riff_wave({data4}), WavStatus::no_format, 0},
      {"format only", riff_wave({fmt16}), WavStatus::no_data, 0},
      {"format cut short", cut(riff_wave({fmt16}), 2), WavStatus::no_format, 0},
      {"half a chunk head", concat(riff_wave({fmt16}), bytes({'d', 'a', 't'})), WavStatus::no_data, 0},
      {"format of 14 bytes", riff_wave({riff_chunk("fmt ", cut(wav_format(1, 1, 22050, 16), 2)), data4}),
       WavStatus::bad_format, 0},
      {"junk chunk claims 4 GiB", riff_wave({riff_chunk("junk", bytes({0, 0}), 0xFFFFFFFF), fmt16, data4}),
       WavStatus::no_format, 0},
      {"zero channels", pcm_wav(0, 22050, 16, kFour16), WavStatus::bad_format, 0},
      {"zero rate", pcm_wav(1, 0, 16, kFour16), WavStatus::bad_format, 0},
      {"zero bits", riff_wave({riff_chunk("fmt ", wav_format(1, 1, 22050, 0, 2)), data4}), WavStatus::bad_format, 0},
      {"zero block size", riff_wave({riff_chunk("fmt ", wav_format(1, 1, 22050, 16, 0)), data4}), WavStatus::bad_format, 0},
      {"block size mismatch", riff_wave({riff_chunk("fmt ", wav_format(1, 1, 22050, 16, 4)), data4}), WavStatus::bad_format, 0},
      {"rate over a million", pcm_wav(1, 1000001, 16, kFour16), WavStatus::bad_format, 0},
      {"three channels", pcm_wav(3, 22050, 16, kFour16), WavStatus::unsupported, 0},
      {"12-bit", riff_wave({riff_chunk("fmt ", wav_format(1, 1, 22050, 12, 2)), data4}), WavStatus::unsupported, 0},
      {"64-bit float", riff_wave({riff_chunk("fmt ", wav_format(3, 1, 22050, 64)), data4}), WavStatus::unsupported, 0},
      {"16-bit float", riff_wave({riff_chunk("fmt ", wav_format(3, 1, 22050, 16)), data4}), WavStatus::unsupported, 0},
      {"ADPCM", riff_wave({riff_chunk("fmt ", wav_format(2, 1, 22050, 4, 256)), data4}), WavStatus::unsupported, 0},
      {"extensible too short", riff_wave({riff_chunk("fmt ", wav_format(0xFFFE, 1, 22050, 16)), data4}), WavStatus::bad_format, 0},
      {"extensible foreign GUID", riff_wave({riff_chunk("fmt ", extensible_format(1, 1, 16, false)), data4}),
       WavStatus::unsupported, 0},
  };
  for (const ParseCase& c : cases) {
    media::Wav wav;
    wav.frames = 99;
    EXPECT_EQ(media::parse_wav(c.file, wav), c.status) << c.what << ": " << media::wav_status_text(media::parse_wav(c.file, wav));
    EXPECT_EQ(wav.frames, c.frames) << c.what;
    if (c.status != WavStatus::ok) {
      EXPECT_EQ(wav.channels, 0) << c.what;
      continue;
    }
    // The samples lie inside the file and hold whole frames.
    EXPECT_GE(wav.data.data(), c.file.data()) << c.what;
    EXPECT_LE(wav.data.data() + wav.data.size(), c.file.data() + c.file.size()) << c.what;
    EXPECT_EQ(wav.data.size(), std::size_t(wav.frames) * wav.channels * wav.stored_bits / 8) << c.what;
  }
}

TEST(Wav, FormatFields) {
  media::Wav wav;
  ASSERT_EQ(media::parse_wav(pcm_wav(2, 11025, 8, bytes({0, 255})), wav), WavStatus::ok);
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.rate, 11025);
  EXPECT_EQ(wav.bits(), 8);
  ASSERT_EQ(media::parse_wav(pcm_wav(1, 44100, 24, bytes({1, 2, 3})), wav), WavStatus::ok);
  EXPECT_EQ(wav.stored_bits, 24);
  EXPECT_EQ(wav.bits(), 16);
  EXPECT_FALSE(wav.is_float);
}

TEST(Wav, MoreSamplesThanTheLimitAreRefused) {
  auto file = riff_wave({riff_chunk("fmt ", wav_format(1, 1, 22050, 8)), riff_chunk("data", {}, 0xFFFFFFFF)});
  file.resize(file.size() + media::kMaxWavBytes, 128);
  media::Wav wav;
  EXPECT_EQ(media::parse_wav(file, wav), WavStatus::ok);
  EXPECT_EQ(wav.frames, media::kMaxWavBytes);
  file.push_back(128);
  EXPECT_EQ(media::parse_wav(file, wav), WavStatus::too_large);
}

std::vector<int16_t> decoded16(const std::vector<uint8_t>& file, bool mono) {
  media::Wav wav;
  EXPECT_EQ(media::parse_wav(file, wav), WavStatus::ok);
  std::vector<uint8_t> out(media::wav_decoded_bytes(wav, mono));
  EXPECT_TRUE(media::decode_wav(wav, mono, out));
  std::vector<int16_t> s(out.size() / 2);
  std::memcpy(s.data(), out.data(), s.size() * 2);
  return s;
}

std::vector<uint8_t> float_bytes(std::initializer_list<float> values) {
  std::vector<uint8_t> b(values.size() * 4);
  std::memcpy(b.data(), std::data(values), b.size());
  return b;
}

TEST(Wav, SamplesConvertTo16Bits) {
  using V = std::vector<int16_t>;
  EXPECT_EQ(decoded16(pcm_wav(1, 8000, 16, kFour16), false), V({1, -2, 300, -32768}));
  EXPECT_EQ(decoded16(pcm_wav(2, 8000, 16, pcm16_bytes({100, 300, -100, -301, 32767, 32767})), true),
            V({200, -201, 32767}));
  EXPECT_EQ(decoded16(pcm_wav(2, 8000, 16, pcm16_bytes({100, 300})), false), V({100, 300}));
  // 24 and 32 bits keep their two most significant bytes.
  EXPECT_EQ(decoded16(pcm_wav(1, 8000, 24, bytes({0xFF, 0x34, 0x12, 0x00, 0x00, 0x80})), false), V({0x1234, -32768}));
  EXPECT_EQ(decoded16(pcm_wav(1, 8000, 32, bytes({0xFF, 0xFF, 0xFF, 0x7F})), false), V({32767}));
  float nan = std::numeric_limits<float>::quiet_NaN();
  auto floats = riff_wave({riff_chunk("fmt ", wav_format(3, 1, 8000, 32)),
                           riff_chunk("data", float_bytes({0.5f, -1.0f, 2.0f, -7.0f, nan, 0.0f}))});
  EXPECT_EQ(decoded16(floats, false), V({16384, -32767, 32767, -32767, 0, 0}));
}

TEST(Wav, EightBitStaysUnsigned) {
  media::Wav wav;
  auto file = pcm_wav(2, 8000, 8, bytes({0, 255, 100, 103}));
  ASSERT_EQ(media::parse_wav(file, wav), WavStatus::ok);
  std::vector<uint8_t> stereo(media::wav_decoded_bytes(wav, false)), mono(media::wav_decoded_bytes(wav, true));
  ASSERT_TRUE(media::decode_wav(wav, false, stereo));
  ASSERT_TRUE(media::decode_wav(wav, true, mono));
  EXPECT_EQ(stereo, bytes({0, 255, 100, 103}));
  EXPECT_EQ(mono, bytes({128, 102}));
}

TEST(Wav, ShortDestinationWritesNothing) {
  media::Wav wav;
  auto file = pcm_wav(1, 8000, 24, bytes({1, 2, 3, 4, 5, 6}));
  ASSERT_EQ(media::parse_wav(file, wav), WavStatus::ok);
  ASSERT_EQ(media::wav_decoded_bytes(wav, false), 4u);
  std::vector<uint8_t> dest(3, 0xEE);
  EXPECT_FALSE(media::decode_wav(wav, false, dest));
  EXPECT_EQ(dest, bytes({0xEE, 0xEE, 0xEE}));
  EXPECT_TRUE(media::decode_wav(media::Wav{}, false, {}));  // nothing to write
}

TEST(Wav, LoadFromFile) {
  ScratchDir dir;
  std::vector<uint8_t> file;
  media::Wav wav;
  EXPECT_EQ(media::load_wav(dir.file("missing.wav"), file, wav), WavStatus::unreadable);
  write_all(dir.file("tone.wav"), pcm_wav(1, 22050, 16, kFour16));
  ASSERT_EQ(media::load_wav(dir.file("tone.wav"), file, wav), WavStatus::ok);
  EXPECT_EQ(wav.frames, 4u);
  EXPECT_EQ(std::memcmp(wav.data.data(), kFour16.data(), kFour16.size()), 0);
  write_all(dir.file("text.wav"), bytes({'h', 'e', 'l', 'l', 'o'}));
  EXPECT_EQ(media::load_wav(dir.file("text.wav"), file, wav), WavStatus::not_wave);
}

}  // namespace
