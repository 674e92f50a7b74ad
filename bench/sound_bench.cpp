// The sound side of a drawn frame: 100 element sounds and 200 free-standing
// sounds, all playing and moving, the listener turning, one commit. Mixed on
// the loopback device, so no sound card is needed; with the mix of one frame
// at 30 frames per second (735 frames at 22,050 Hz) as a second figure.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/sound.h"

namespace {

constexpr int kRate = 22050;
constexpr int kElementSounds = 100;
constexpr int kFreeSounds = 200;

// A second of a 440 Hz tone, 16-bit mono.
std::vector<std::uint8_t> tone() {
  std::vector<std::uint8_t> b;
  for (int i = 0; i < kRate; ++i) {
    auto s = static_cast<std::int16_t>(8000 * std::sin(2 * 3.14159265 * 440 * i / kRate));
    b.push_back(static_cast<std::uint8_t>(s)), b.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
  }
  return b;
}

// Opens the loopback device with every sound loaded and playing; false when it can't.
bool start(const std::vector<std::uint8_t>& samples, std::vector<int>& slots) {
  if (!platform::open_sound(kRate, platform::SoundDevice::loopback)) return false;
  media::Wav wav;
  wav.channels = 1, wav.rate = kRate, wav.stored_bits = 16;
  wav.frames = static_cast<std::uint32_t>(samples.size() / 2);
  wav.data = samples;
  slots.clear();
  for (int i = 0; i < kElementSounds; ++i) slots.push_back(i);
  for (int i = 0; i < kFreeSounds; ++i) slots.push_back(platform::kFirstFreeSoundSlot + i);
  for (int s : slots) {
    if (!platform::load_sound(s, wav)) return false;
    platform::set_sound_distances(s, 1.0f, 100.0f);
    platform::play_sound(s, true);
  }
  return true;
}

// One frame's updates: every sound moves, the listener turns, one commit.
void frame(const std::vector<int>& slots, int n) {
  float t = static_cast<float>(n) * 0.033f;
  for (std::size_t k = 0; k < slots.size(); ++k) {
    float a = t + static_cast<float>(k);
    platform::set_sound_position(slots[k], {10 * std::cos(a), 1, 10 * std::sin(a)}, {-std::sin(a), 0, std::cos(a)});
  }
  platform::set_listener({0, 1, t}, {std::sin(t), 0, std::cos(t)}, {0, 1, 0});
  platform::commit_sound();
}

void BM_SoundFrameUpdate(benchmark::State& state) {
  auto samples = tone();
  std::vector<int> slots;
  if (!start(samples, slots)) {
    platform::close_sound();
    state.SkipWithError("no loopback sound device");
    return;
  }
  bool mix = state.range(0) != 0;
  std::vector<float> out(2 * kRate / 30);
  int n = 0;
  for (auto _ : state) {
    frame(slots, n++);
    if (mix) platform::render_sound(out);
  }
  benchmark::DoNotOptimize(out.data());
  platform::close_sound();
  state.SetLabel(mix ? "300 moving sounds, commit and 1/30 s of mixing" : "300 moving sounds and one commit");
}
BENCHMARK(BM_SoundFrameUpdate)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
