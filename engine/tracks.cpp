// Tracks: recording samples of an element (`track_record`) and playing a track
// element's samples back into an element's velocity and spin (`track_play`).
// A track is a run of 24-byte samples (position x, y, z, rotation x, y, z):
// the first holds absolute values, every later one the change since the one
// before, so playing a sample as velocity and spin retraces the path.
#include <algorithm>
#include <cstring>

#include "engine/engine.h"
#include "engine/engine_local.h"
#include "base/memory.h"

namespace engine {

namespace {

using I = std::int32_t;
constexpr std::uint32_t kSample = project::kTrackSampleBytes;

std::byte* track_buffer() { return base::area(base::Area::track_buffer).data(); }

const I* sample_at(std::uint32_t address) {
  return reinterpret_cast<const I*>(static_cast<std::uintptr_t>(address));
}

// The samples of a track element t: first and end (one past the last) as
// addresses, both on sample boundaries of data loaded for the track.
struct Track {
  std::uint32_t first = 0, end = 0;
  project::ElementRecord* element = nullptr;
};
bool track_of(I t, Track& track) {
  project::ElementRecord* r = element_of(t);
  if (!r || !has_tag(*r, ".i3d")) return false;
  const project::AspectRecord* a = aspect_at(r->current_aspect);
  if (!a) return false;
  auto first = static_cast<std::uint32_t>(a->word[0]);
  auto bytes = static_cast<std::uint32_t>(a->word[1]) / kSample * kSample;
  if (first == 0 || !base::in_budget(sample_at(first), bytes)) return false;
  track = {first, first + bytes, r};
  return true;
}

// The play position of a track as a sample boundary inside it; a position a
// brain has overwritten with something else counts as the track's end.
std::uint32_t play_position(const Track& t) {
  auto p = static_cast<std::uint32_t>(t.element->track_data);
  if (p < t.first || p > t.end || (p - t.first) % kSample) return t.end;
  return p;
}

void play_into(project::ElementRecord& a, const I* sample, bool negated) {
  for (int i = 0; i < 3; ++i) {
    a.velocity[i] = negated ? static_cast<I>(0u - static_cast<std::uint32_t>(sample[i])) : sample[i];
    a.spin[i] = negated ? static_cast<I>(0u - static_cast<std::uint32_t>(sample[3 + i])) : sample[3 + i];
  }
}

template <bool Loop>
ROUTINE(routine_track_play) {
  project::ElementRecord* to = element_of(a);
  Track t;
  if (!to || !track_of(b, t)) return 0;
  std::uint32_t p = play_position(t);
  if (p >= t.end) {
    // Looping goes back to the second sample: the first holds absolute values.
    if (Loop && t.end - t.first >= 2 * kSample) t.element->track_data = static_cast<I>(t.first + kSample);
    return -1;
  }
  play_into(*to, sample_at(p), false);
  t.element->track_data = static_cast<I>(p + kSample);
  return 0;
}

ROUTINE(routine_track_play_back) {
  project::ElementRecord* to = element_of(a);
  Track t;
  if (!to || !track_of(b, t) || t.end == t.first) return 0;
  std::uint32_t p = play_position(t);
  I result = 0;
  if (p >= t.end) p = t.end - kSample;  // the end counts as the last sample
  if (p <= t.first) {
    p = t.end - kSample;
    result = -1;
  }
  play_into(*to, sample_at(p), true);
  t.element->track_data = static_cast<I>(p - kSample);
  return result;
}

ROUTINE(routine_track_play_reset) {
  Track t;
  if (!track_of(a, t) || b < 0) return 0;
  std::uint64_t p = t.first + static_cast<std::uint64_t>(b) * kSample;
  if (p < t.end) t.element->track_data = static_cast<I>(p);
  return 0;
}

ROUTINE(routine_track_record) {
  World* w = active_world();
  project::ElementRecord* r = element_of(a);
  if (w && r) record_track_sample(*w, *r);
  return 0;
}

ROUTINE(routine_track_record_reset) {
  if (World* w = active_world()) w->track_written = 0;
  return 0;
}

constexpr Binding kBindings[] = {
    {"track_play", routine_track_play<false>,
     "a element, b track element -> 0: a's velocity and spin = the next sample; -1 at the end"},
    {"track_play_loop", routine_track_play<true>,
     "a element, b track element -> as track_play; -1 at the end, then from the second sample"},
    {"track_play_back", routine_track_play_back,
     "a element, b track element -> 0: plays back negated samples; -1 when it wraps to the last"},
    {"track_play_reset", routine_track_play_reset, "a track element, b sample from 0: the play position"},
    {"track_record", routine_track_record, "a element: its position and rotation added to the track recording"},
    {"track_record_reset", routine_track_record_reset, "the track recording emptied"},
};

}  // namespace

std::span<const Binding> track_bindings() { return kBindings; }

std::span<const std::byte> track_recording(const World& world) {
  std::byte* buffer = track_buffer();
  if (!buffer) return {};
  return {buffer, std::min<std::size_t>(world.track_written, kTrackBufferBytes)};
}

void record_track_sample(World& world, const project::ElementRecord& e) {
  std::byte* buffer = track_buffer();
  // The sample after the write position holds the last absolute values, so two must fit.
  if (!buffer || world.track_written + 2 * kSample > kTrackBufferBytes) return;
  I* at = reinterpret_cast<I*>(buffer + world.track_written);
  if (world.track_written == 0) std::memset(at, 0, kSample);
  const I now[6] = {e.position[0], e.position[1], e.position[2], e.rotation[0], e.rotation[1], e.rotation[2]};
  for (int i = 0; i < 6; ++i) {
    at[6 + i] = now[i];
    at[i] = static_cast<I>(static_cast<std::uint32_t>(now[i]) - static_cast<std::uint32_t>(at[i]));
  }
  world.track_written += kSample;
}

}  // namespace engine
