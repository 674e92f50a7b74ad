// The sound device through OpenAL Soft's loopback device: the mix is rendered
// into memory and its samples measured.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <numbers>
#include <span>
#include <vector>

#include "platform/sound.h"
#include "media/test_util.h"

namespace {

using platform::kSoundPlaying;
using platform::kSoundLooping;

constexpr int kRate = 22050;
constexpr int kTone = 441;  // Hz: 50 frames a period

// A 16-bit sine file of the given frames and channels (stereo: right silent).
std::vector<uint8_t> sine_file(int frames, int channels = 1, int rate = kRate) {
  std::vector<int16_t> s;
  for (int i = 0; i < frames; ++i) {
    s.push_back(static_cast<int16_t>(16000 * std::sin(2 * std::numbers::pi * kTone * i / rate)));
    if (channels == 2) s.push_back(0);
  }
  return media_test::pcm_wav(channels, static_cast<uint32_t>(rate), 16, media_test::pcm16_bytes(s));
}

struct Levels {
  double left = 0, right = 0;  // root mean square
  int crossings = 0;           // sign changes of the left channel
};

class Sound : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::open_sound(kRate, platform::SoundDevice::loopback));
    ASSERT_TRUE(load(0, sine_file(kRate)));  // one second
  }
  void TearDown() override { platform::close_sound(); }

  bool load(int slot, const std::vector<uint8_t>& file) {
    media::Wav wav;
    return media::parse_wav(file, wav) == media::WavStatus::ok && platform::load_sound(slot, wav);
  }

  // Mixes a settling block (the mixer ramps a change of gain or place over its
  // first block), then frames more, and measures those.
  Levels mix(int frames = 2048) {
    std::vector<float> out(static_cast<std::size_t>(kSettleFrames + frames) * 2);
    EXPECT_TRUE(platform::render_sound(std::span(out).first(kSettleFrames * 2)));
    EXPECT_TRUE(platform::render_sound(std::span(out).subspan(kSettleFrames * 2)));
    Levels l;
    for (int i = kSettleFrames; i < kSettleFrames + frames; ++i) {
      l.left += out[2 * i] * out[2 * i], l.right += out[2 * i + 1] * out[2 * i + 1];
      if ((out[2 * i] < 0) != (out[2 * i - 2] < 0)) ++l.crossings;
    }
    l.left = std::sqrt(l.left / frames), l.right = std::sqrt(l.right / frames);
    return l;
  }
  static constexpr int kSettleFrames = 2048;

  // Slot 0 placed at p (listener at the origin, facing +z) and played; its level.
  Levels placed(scene::Vec3 p, float min = 1, float max = 1e9f) {
    platform::set_sound_distances(0, min, max);
    platform::set_sound_position(0, p, {});
    platform::commit_sound();
    platform::play_sound(0, true);
    return mix();
  }
};

TEST_F(Sound, PlaysOnceAndStops) {
  EXPECT_EQ(platform::sound_status(0), 0u);
  EXPECT_EQ(mix().left, 0.0);
  platform::play_sound(0, false);
  EXPECT_EQ(platform::sound_status(0), kSoundPlaying);
  EXPECT_GT(mix().left, 0.05);
  platform::stop_sound(0);
  EXPECT_EQ(platform::sound_status(0), 0u);
  EXPECT_EQ(mix().left, 0.0);
  // A short sound ends by itself.
  ASSERT_TRUE(load(1, sine_file(1000)));
  platform::play_sound(1, false);
  mix(4096);
  EXPECT_EQ(platform::sound_status(1), 0u);
  EXPECT_EQ(mix().left, 0.0);
}

TEST_F(Sound, LoopsUntilStopped) {
  ASSERT_TRUE(load(1, sine_file(1000)));
  platform::play_sound(1, true);
  for (int i = 0; i < 3; ++i) EXPECT_GT(mix(1500).left, 0.05);
  EXPECT_EQ(platform::sound_status(1), kSoundPlaying | kSoundLooping);
  platform::play_sound(1, false);  // played again, once: no longer looping
  EXPECT_EQ(platform::sound_status(1), kSoundPlaying);
}

TEST_F(Sound, VolumeInHundredthsOfADecibel) {
  platform::play_sound(0, true);
  double full = mix().left;
  platform::set_sound_volume(0, -600);  // -6 dB: about half
  EXPECT_NEAR(mix().left / full, 0.501, 0.02);
  platform::set_sound_volume(0, -2000);
  EXPECT_NEAR(mix().left / full, 0.1, 0.01);
  platform::set_sound_volume(0, -10000);
  EXPECT_EQ(mix().left, 0.0);
  platform::set_sound_volume(0, 500);  // above full is full
  EXPECT_NEAR(mix().left / full, 1.0, 0.01);
  platform::set_master_volume(-600);
  EXPECT_EQ(platform::master_volume(), -600);
  EXPECT_NEAR(mix().left / full, 0.501, 0.02);
  platform::set_master_volume(-20000);
  EXPECT_EQ(platform::master_volume(), platform::kSilence);
  EXPECT_EQ(mix().left, 0.0);
}

TEST_F(Sound, PanOfA2DSound) {
  platform::set_sound_3d(0, false);
  platform::set_sound_position(0, {0, 0, 50}, {});  // far away, but not heard there
  platform::commit_sound();
  platform::play_sound(0, true);
  Levels centre = mix();
  EXPECT_GT(centre.left, 0.05);
  EXPECT_NEAR(centre.left, centre.right, 0.01 * centre.left);
  platform::set_sound_pan(0, -10000);
  Levels left = mix();
  EXPECT_GT(left.left, 10 * left.right);
  platform::set_sound_pan(0, 10000);
  Levels right = mix();
  EXPECT_GT(right.right, 10 * right.left);
  platform::set_sound_pan(0, 3000);
  Levels some = mix();
  EXPECT_GT(some.right, some.left);
  EXPECT_GT(some.left, 0.01);
}

TEST_F(Sound, PlacedToTheListenersLeft) {
  Levels left = placed({-3, 0, 0});
  EXPECT_GT(left.left, 3 * left.right);
  Levels front = placed({0, 0, 3});
  EXPECT_NEAR(front.left, front.right, 0.01 * front.left);
  // Facing +x in a left-handed space, +z is on the left.
  platform::set_listener({}, {1, 0, 0}, {0, 1, 0});
  Levels turned = placed({0, 0, 3});
  EXPECT_GT(turned.left, 3 * turned.right);
  // A listener that moves along carries the sound to its other side.
  platform::set_listener({0, 0, 6}, {1, 0, 0}, {0, 1, 0});
  Levels passed = placed({0, 0, 3});
  EXPECT_GT(passed.right, 3 * passed.left);
}

TEST_F(Sound, DistanceFallsOffBetweenMinAndMax) {
  double near = placed({0, 0, 2}, 2, 8).left;
  struct Case {
    float distance;
    double ratio;  // min / (min + 0.7 (d - min)), d clamped to min..max
  } cases[] = {{1, 1.0}, {2, 1.0}, {4, 2 / 3.4}, {8, 2 / 6.2}, {100, 2 / 6.2}};
  for (const Case& c : cases) EXPECT_NEAR(placed({0, 0, c.distance}, 2, 8).left / near, c.ratio, 0.01) << c.distance;
  // Max equal to min: the same level everywhere.
  EXPECT_NEAR(placed({0, 0, 50}, 2, 2).left / near, 1.0, 0.01);
  // Bad distances keep a sensible setting: min stays 2, max falls to it.
  EXPECT_NEAR(placed({0, 0, 50}, 0, -1).left / near, 1.0, 0.01);
}

TEST_F(Sound, ThreeDSettingsWaitForTheCommit) {
  Levels left = placed({-3, 0, 0});
  EXPECT_GT(left.left, 3 * left.right);
  platform::set_sound_position(0, {3, 0, 0}, {});
  platform::set_sound_distances(0, 100, 200);
  Levels still = mix();
  EXPECT_GT(still.left, 3 * still.right);
  platform::commit_sound();
  Levels right = mix();
  EXPECT_GT(right.right, 3 * right.left);
  EXPECT_GT(right.right, left.left);  // now inside the minimum distance: louder
}

TEST_F(Sound, FrequencySetsThePitch) {
  EXPECT_EQ(platform::sound_rate(0), kRate);
  platform::play_sound(0, true);
  int own = mix(4096).crossings;
  EXPECT_NEAR(own, 2 * kTone * 4096 / kRate, 2);
  platform::set_sound_frequency(0, 2 * kRate);
  EXPECT_NEAR(mix(4096).crossings, 2 * own, 4);
  platform::set_sound_frequency(0, kRate / 2);
  EXPECT_NEAR(mix(4096).crossings, own / 2, 3);
  platform::set_sound_frequency(0, 0);  // back to the file's own rate
  EXPECT_NEAR(mix(4096).crossings, own, 2);
  // A file recorded at 11,025 Hz plays at its own speed, and at 22,050 Hz twice as fast.
  ASSERT_TRUE(load(0, sine_file(kRate, 1, 11025)));
  platform::play_sound(0, true);
  EXPECT_NEAR(mix(4096).crossings, own, 2);
  platform::set_sound_frequency(0, 22050);
  EXPECT_NEAR(mix(4096).crossings, 2 * own, 4);
}

TEST_F(Sound, StereoFilesAreMixedToMono) {
  ASSERT_TRUE(load(0, sine_file(kRate, 2)));  // the tone on the left only
  platform::play_sound(0, true);
  Levels l = mix();
  EXPECT_GT(l.right, 0.02);
  EXPECT_NEAR(l.left, l.right, 0.01 * l.left);
}

TEST_F(Sound, EmptyAndEightBitFiles) {
  ASSERT_TRUE(load(1, media_test::pcm_wav(1, kRate, 16, {})));
  platform::play_sound(1, false);
  EXPECT_EQ(mix().left, 0.0);
  EXPECT_EQ(platform::sound_status(1), 0u);
  std::vector<uint8_t> square;
  for (int i = 0; i < 4000; ++i) square.push_back(i / 25 % 2 ? 228 : 28);  // 441 Hz, unsigned
  ASSERT_TRUE(load(1, media_test::pcm_wav(1, kRate, 8, square)));
  platform::play_sound(1, true);
  Levels l = mix();
  EXPECT_GT(l.left, 0.1);
  EXPECT_NEAR(l.crossings, 2 * kTone * 2048 / kRate, 2);
}

TEST_F(Sound, EverySlotHoldsAPlayingSound) {
  auto file = sine_file(4000);
  for (int i = 0; i < platform::kSoundSlots; ++i) ASSERT_TRUE(load(i, file)) << i;
  for (int i = 0; i < platform::kSoundSlots; ++i) platform::play_sound(i, true);
  mix(256);
  for (int i = 0; i < platform::kSoundSlots; ++i) ASSERT_EQ(platform::sound_status(i), kSoundPlaying | kSoundLooping) << i;
  platform::unload_sound(3);
  EXPECT_FALSE(platform::sound_loaded(3));
  EXPECT_EQ(platform::sound_status(3), 0u);
}

// Every call with a slot outside the table, or an empty one, does nothing.
void call_everything(int slot) {
  auto file = sine_file(100);
  media::Wav wav;  // points into file
  ASSERT_EQ(media::parse_wav(file, wav), media::WavStatus::ok);
  EXPECT_FALSE(platform::sound_loaded(slot));
  platform::play_sound(slot, true);
  platform::stop_sound(slot);
  platform::set_sound_volume(slot, -100);
  platform::set_sound_frequency(slot, 44100);
  platform::set_sound_pan(slot, 100);
  platform::set_sound_3d(slot, false);
  platform::set_sound_position(slot, {1, 2, 3}, {4, 5, 6});
  platform::set_sound_distances(slot, 1, 2);
  platform::commit_sound();
  platform::unload_sound(slot);
  EXPECT_EQ(platform::sound_status(slot), 0u);
  EXPECT_EQ(platform::sound_rate(slot), 0);
  if (slot < 0 || slot >= platform::kSoundSlots || !platform::sound_on()) {
    EXPECT_FALSE(platform::load_sound(slot, wav));
  }
}

TEST_F(Sound, BadSlotsAreSafe) {
  for (int slot : {-1, platform::kSoundSlots, INT_MIN, INT_MAX, 1, platform::kSoundSlots - 1}) {
    SCOPED_TRACE(slot);
    call_everything(slot);
  }
  EXPECT_EQ(mix().left, 0.0);
}

TEST(SoundOff, EveryCallDoesNothing) {
  ASSERT_FALSE(platform::sound_on());
  for (int slot : {0, 300, -1}) call_everything(slot);
  platform::set_listener({1, 2, 3}, {0, 0, 1}, {0, 1, 0});
  platform::set_master_volume(-500);
  EXPECT_EQ(platform::master_volume(), 0);
  std::vector<float> out(64, 1.0f);
  EXPECT_FALSE(platform::render_sound(out));
  EXPECT_EQ(out, std::vector<float>(64, 0.0f));
  platform::close_sound();
}

// The default output (OpenAL Soft's null driver in the tests) opens like any other.
TEST(SoundOff, SystemDeviceOpensAndCloses) {
  if (!platform::open_sound(44100)) GTEST_SKIP() << "no output device";
  auto file = sine_file(100);
  media::Wav wav;  // points into file
  ASSERT_EQ(media::parse_wav(file, wav), media::WavStatus::ok);
  EXPECT_TRUE(platform::load_sound(platform::kFirstFreeSoundSlot, wav));
  std::vector<float> out(4);
  EXPECT_FALSE(platform::render_sound(out));  // not a loopback device
  platform::close_sound();
  EXPECT_FALSE(platform::sound_on());
}

}  // namespace
