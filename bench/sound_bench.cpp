// The sound side of a drawn frame: 100 element sounds and 200 free-standing
// sounds, all playing and moving, the listener turning, one commit. Mixed on
// the loopback device, so no sound card is needed; with the mix of one frame
// at 30 frames per second (735 frames at 22,050 Hz) as a second figure. Then
// the same through the engine: the listener and the element sounds placed
// from the element records, with the nearest-sounds selection (goal: under
// 0.5 ms of the main thread a frame).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/setup.h"
#include "engine/engine.h"
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

// The engine's part of a drawn frame: 256 elements on, 100 of them (1..100)
// with a sound playing, 200 free-standing sounds playing, the 16 nearest
// element sounds heard in full (mixing 3); every element moves and the
// listener (element 0) turns; place_sounds, then one commit.
void BM_EngineSoundFrame(benchmark::State& state) {
  if (const char* why = bench::prepare_engine()) {
    state.SkipWithError(why);
    return;
  }
  engine::SoundOutput output;
  output.device = engine::SoundOutput::loopback;
  output.sound = 2;
  output.mixing = 3;
  if (!engine::open_sound_output(output)) {
    engine::close_sound_output();
    state.SkipWithError("no loopback sound device");
    return;
  }
  auto samples = tone();
  media::Wav wav;
  wav.channels = 1, wav.rate = kRate, wav.stored_bits = 16;
  wav.frames = static_cast<std::uint32_t>(samples.size() / 2);
  wav.data = samples;
  auto world = std::make_unique<engine::World>();
  engine::begin_run(*world);
  world->highest = project::kMaxElements - 1;
  project::ElementRecord* e = world->tables.elements;
  std::memset(e, 0, sizeof(project::ElementRecord) * project::kMaxElements);
  bool ok = true;
  for (int i = 0; i < project::kMaxElements; ++i) {
    e[i].flags = project::kFlagOn | project::kFlagShown;
    e[i].sound_index = -1;
    e[i].position[0] = (i % 16) * 5 * 512000;
    e[i].position[2] = (i / 16) * 5 * 512000;
    e[i].velocity[0] = 17067;
    if (i >= 1 && i <= kElementSounds) {
      ok = ok && platform::load_sound(i, wav);
      platform::set_sound_distances(i, 2.0f, 1e8f);
      platform::play_sound(i, true);
      e[i].sound_index = i;
    }
  }
  for (int s = 0; s < kFreeSounds; ++s) {
    int slot = platform::kFirstFreeSoundSlot + s;
    ok = ok && platform::load_sound(slot, wav);
    platform::set_sound_position(slot, {static_cast<float>(s % 20), 0, static_cast<float>(s / 20)}, {});
    platform::play_sound(slot, true);
  }
  platform::commit_sound();
  if (!ok) state.SkipWithError("the mixer refused a sound");
  int n = 0;
  for (auto _ : state) {
    for (int i = 0; i < project::kMaxElements; ++i) e[i].position[0] += e[i].velocity[0];
    e[0].rotation[1] = (n++ * 1024) % engine::kFullTurn;
    engine::place_sounds(*world);
    platform::commit_sound();
  }
  engine::end_run(*world);
  engine::close_sound_output();
  state.SetLabel("100 element sounds placed from records, 200 free-standing playing, one commit");
}
BENCHMARK(BM_EngineSoundFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
