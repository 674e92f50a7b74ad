// Sound: every element's own sound (its sound and settings fields), the 500
// free-standing sounds that brains load, the listener that hears them from an
// element, and the device that the shell opens from config.ini. Element i's
// sound is device slot i; free-standing sound s is slot kFirstFreeSoundSlot + s.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/engine_local.h"
#include "platform/sound.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"

namespace engine {

namespace {

using I = std::int32_t;
using Record = project::ElementRecord;

constexpr float kPositionUnit = 512000.0f;  // sub-units per scene unit
constexpr float kVelocityUnit = 17067.0f;   // sub-units per tick of one scene unit per second (30 ticks)
constexpr float kFarDistance = 1e8f;        // scene units: the maximum distance of a sound heard in full
constexpr float kDistanceUnit = 0.01f;      // scene units per unit of `esound_minmaxdist_set`
constexpr I kFullVolume = 10000;            // `esound_volume_set`: 10000 full, 0 silence
constexpr int kNearest[4] = {0, 2, 4, 16};  // element sounds fading with distance, by the mixing setting
constexpr std::size_t kMaxNameBytes = 4096; // a longer file name names nothing

// The sound output of the program and what config.ini holds after brains
// changed it. One device serves the whole process, as the platform's mixer does.
struct SoundSystem {
  SoundOutput output;
  bool failed = false;         // the device would not open: run starts don't try again
  I stored_sound = 1, stored_mixing = 0;
  // What each element sound's maximum distance was last set to: -1 unknown,
  // 0 its minimum distance, 1 the full distance. Saves resending it every frame.
  std::int8_t reach[platform::kElementSoundSlots];
  bool reported_free_load = false;  // an `esound_load` failure is reported once a run
};
SoundSystem g_sound;

void forget_reach() { std::fill(std::begin(g_sound.reach), std::end(g_sound.reach), -1); }

bool open_device() {
  int rate = sound_rate_of(g_sound.output.sound);
  if (g_sound.output.device == SoundOutput::none || rate == 0) return false;
  auto device = g_sound.output.device == SoundOutput::loopback ? platform::SoundDevice::loopback
                                                               : platform::SoundDevice::system;
  g_sound.failed = !platform::open_sound(rate, device);
  forget_reach();
  return !g_sound.failed;
}

// ---- Files --------------------------------------------------------------------------------------

// The file a brain names ("\" read as "/", relative to the working folder,
// looked up case-insensitively) when it lies inside the game's folders; ""
// for anything else (brain_file reports that once a run).
base::Text brain_sound_file(World& w, std::string_view text) {
  if (text.empty() || text.size() > kMaxNameBytes) return {};
  std::string name(text);
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name[0] != '/') name = std::string(w.base_folder.view()) + name;
  return brain_file(w, project::resolve_path(name));
}

// Reads a sound file into a slot; false (with the reason in why) when it can't.
bool load_slot(int slot, const base::Text& path, const char*& why) {
  std::vector<std::uint8_t> bytes;
  media::Wav wav;
  why = "no such file";
  // A regular file only: reading a pipe or a device would wait or go on for ever.
  if (path.empty() || base::file_kind(path) != base::FileKind::regular) return false;
  media::WavStatus status = media::load_wav(path, bytes, wav);
  why = media::wav_status_text(status);
  if (status != media::WavStatus::ok) return false;
  why = "the mixer refuses it";
  return platform::load_sound(slot, wav);
}

// ---- Element sounds -----------------------------------------------------------------------------

scene::Vec3 position_of(const Record& e) {
  return {e.position[0] / kPositionUnit, e.position[1] / kPositionUnit, e.position[2] / kPositionUnit};
}
scene::Vec3 velocity_of(const Record& e) {
  return {e.velocity[0] / kVelocityUnit, e.velocity[1] / kVelocityUnit, e.velocity[2] / kVelocityUnit};
}

// The slot of e's sound when it has one loaded, else -1.
int slot_of(const Record& e) {
  I s = e.sound_index;
  return s >= 0 && s < platform::kElementSoundSlots && platform::sound_loaded(s) ? s : -1;
}

int index_of(const Record& e) { return static_cast<int>(&e - element_table()); }

// Frequency = play-rate factor x the file's frequency / 4096, held to 100..100,000 Hz.
void apply_rate(const Record& e, int slot) {
  std::int64_t hz = (std::int64_t{e.sound_rate} * e.sound_frequency) >> 12;
  platform::set_sound_frequency(slot, static_cast<int>(std::clamp<std::int64_t>(hz, platform::kMinSoundFrequency,
                                                                                platform::kMaxSoundFrequency)));
}

// Element sound load: the file of field 3 with the settings of field 39.
void load_element_sound(Record& e, int i, std::string_view line, std::string_view work_folder) {
  e.sound_index = -1;
  base::Text field = project::line_field(line, project::kFieldSound);
  if (field.empty() || base::lower(field.view()).view().ends_with("null_.wav")) return;
  base::Text path = project::resolve_path(project::path_to_memory(field, work_folder));
  const char* why = "";
  if (!load_slot(i, path, why)) {
    base::report("sound", "element %d: %s: %s; the element stays silent", i,
                 project::path_to_file(field, work_folder).c_str(), why);
    return;
  }
  base::Text settings = project::line_field(line, project::kFieldSoundSettings);
  auto setting = [&](int n) { return base::value(base::field(settings, n, '/')); };
  e.sound_frequency = platform::sound_rate(i);
  e.sound_rate = setting(1);
  e.flags = (setting(4) & 1) ? e.flags | project::kFlagSoundKept : e.flags & ~project::kFlagSoundKept;
  apply_rate(e, i);
  platform::set_sound_distances(i, static_cast<float>(setting(2)), kFarDistance);
  platform::set_sound_3d(i, g_sound.output.mixing != 0);
  platform::set_sound_volume(i, static_cast<int>(std::clamp<std::int64_t>(std::int64_t{setting(5)} * 100, INT_MIN, 0)));
  e.sound_index = i;
}

// The listener: its element's place and the front and top of its orientation.
void place_listener(const World& w) {
  if (w.listener < 0 || w.listener >= project::kMaxElements) return;
  const Record& e = element_table()[w.listener];
  if (!(e.flags & project::kFlagOn)) return;
  Vec3 front{0, 0, 65536}, top{0, 65536, 0};
  for (Vec3* v : {&front, &top}) {
    if (e.flags & project::kFlagLocalRotation) orient(*v, e.local_rotation[0], e.local_rotation[1], e.local_rotation[2]);
    orient(*v, e.rotation[0], e.rotation[1], e.rotation[2]);
  }
  auto unit = [](Vec3 v) { return scene::Vec3{v.x / 65536.0f, v.y / 65536.0f, v.z / 65536.0f}; };
  platform::set_listener(position_of(e), unit(front), unit(top));
}

std::int64_t distance_between(const Record& a, const Record& b) {
  std::int64_t d = 0;
  for (int k = 0; k < 3; ++k) d += std::llabs(std::int64_t{a.position[k]} - b.position[k]);
  return d;
}

// ---- Routines -----------------------------------------------------------------------------------

// The record of an element argument whose sound is loaded (the slot in slot).
Record* sounding(I reference, int& slot) {
  Record* e = element_of(reference);
  slot = e ? slot_of(*e) : -1;
  return slot >= 0 ? e : nullptr;
}

ROUTINE(routine_play_sound) {
  if (Record* r = element_of(a)) play_element_sound(*r);
  return 0;
}
ROUTINE(routine_stop_sound) {
  int slot;
  Record* r = sounding(a, slot);
  if (r && (r->flags & project::kFlagOn)) platform::stop_sound(slot);
  return 0;
}
ROUTINE(routine_sound_status) {
  int slot;
  return sounding(a, slot) && platform::sound_status(slot) ? kTrue : 0;
}
ROUTINE(routine_sound_mode_set) {
  Record* r = element_of(a);
  if (r && platform::sound_on()) r->flags = (b & 1) ? r->flags | project::kFlagSoundKept : r->flags & ~project::kFlagSoundKept;
  return 0;
}
ROUTINE(routine_sound_rate_set) {
  int slot;
  if (Record* r = sounding(a, slot)) {
    r->sound_rate = b;
    apply_rate(*r, slot);
  }
  return 0;
}
// Kept also while sound is off: save games carry the listener element.
ROUTINE(routine_listener) {
  World* w = world();
  Record* r = element_of(a);
  if (w && r) w->listener = index_of(*r);
  return 0;
}
ROUTINE(routine_stop_sound_system) {
  if (World* w = world()) sound_end(*w);
  platform::close_sound();
  forget_reach();
  return 0;
}
ROUTINE(routine_restart_sound_system) {
  if (World* w = world()) {
    g_sound.failed = false;  // asked for: try the device again
    sound_start(*w);
  }
  return 0;
}
// Stored for the next start, by the packaged player only.
template <bool Mixing>
ROUTINE(routine_sound_setting) {
  SoundOutput& o = g_sound.output;
  if (!o.store) return 0;
  (Mixing ? g_sound.stored_mixing : g_sound.stored_sound) = a & 3;
  o.store(o.user, g_sound.stored_sound, g_sound.stored_mixing);
  return 0;
}

// Free-standing sound s (0..499) as a device slot that holds a sound, else -1.
int free_slot(I s) {
  if (s < 0 || s >= platform::kFreeSoundSlots) return -1;
  int slot = platform::kFirstFreeSoundSlot + s;
  return platform::sound_loaded(slot) ? slot : -1;
}

ROUTINE(routine_esound_load) {
  World* w = world();
  if (!w || !platform::sound_on()) return -1;
  int s = 0;
  while (s < platform::kFreeSoundSlots && platform::sound_loaded(platform::kFirstFreeSoundSlot + s)) ++s;
  if (s == platform::kFreeSoundSlots) return -1;
  std::string_view name = text_argument(a);
  base::Text path = brain_sound_file(*w, name);
  const char* why = "not a file inside the game's folder";
  int slot = platform::kFirstFreeSoundSlot + s;
  if (path.empty() || !load_slot(slot, path, why)) {
    platform::unload_sound(slot);
    if (!g_sound.reported_free_load)
      base::report("sound", "esound_load: %s: %s", echo_text(name).c_str(), why);
    g_sound.reported_free_load = true;
    return -1;
  }
  platform::set_sound_distances(slot, platform::kDefaultMinDistance, kFarDistance);
  return s;
}
ROUTINE(routine_esound_unload) {
  if (int slot = free_slot(a); slot >= 0) platform::unload_sound(slot);
  return 0;
}
ROUTINE(routine_esound_play) {
  if (int slot = free_slot(a); slot >= 0) {
    platform::stop_sound(slot);
    platform::play_sound(slot, b != 0);
  }
  return 0;
}
ROUTINE(routine_esound_stop) {
  if (int slot = free_slot(a); slot >= 0) platform::stop_sound(slot);
  return 0;
}
// Playing once: -1. A looping sound also carries the looping status and answers 0.
ROUTINE(routine_esound_state) {
  int slot = free_slot(a);
  return slot >= 0 && platform::sound_status(slot) == platform::kSoundPlaying ? kTrue : 0;
}
ROUTINE(routine_esound_volume_set) {
  if (int slot = free_slot(a); slot >= 0)
    platform::set_sound_volume(slot, static_cast<int>(std::clamp<std::int64_t>(std::int64_t{b} - kFullVolume, INT_MIN, 0)));
  return 0;
}
ROUTINE(routine_esound_frequency_set) {
  if (int slot = free_slot(a); slot >= 0) platform::set_sound_frequency(slot, b);
  return 0;
}
ROUTINE(routine_esound_minmaxdist_set) {
  if (int slot = free_slot(a); slot >= 0)
    platform::set_sound_distances(slot, static_cast<float>(b) * kDistanceUnit, static_cast<float>(c) * kDistanceUnit);
  return 0;
}
ROUTINE(routine_esound_location_set) {
  if (int slot = free_slot(a); slot >= 0) {
    platform::set_sound_position(slot, {b / kPositionUnit, c / kPositionUnit, d / kPositionUnit}, {});
    platform::commit_sound();
  }
  return 0;
}

constexpr Binding kBindings[] = {
    {"play_sound", routine_play_sound, "a element: its sound from the start, looping unless one-shot, placed at a"},
    {"stop_sound", routine_stop_sound, "a element: its sound stopped, when a is on"},
    {"sound_status", routine_sound_status, "a element -> -1 while its sound plays, else 0"},
    {"sound_mode_set", routine_sound_mode_set, "a element, b mode: bit 0 set plays a's sound once, clear loops it"},
    {"sound_rate_set", routine_sound_rate_set,
     "a element, b factor (4096 the recorded speed): frequency b x the file's / 4096, 100..100000 Hz"},
    {"listener", routine_listener, "a element: the sounds are heard from its place and orientation"},
    {"stop_sound_system", routine_stop_sound_system, "every sound stopped and released, the device closed"},
    {"restart_sound_system", routine_restart_sound_system,
     "the device opened again, every sound slot emptied (element sounds too), listener element 0"},
    {"sound_set", routine_sound_setting<false>,
     "a 0..3: sound off, 11025, 22050, 44100 Hz from the next start (packaged player only)"},
    {"sound_mixing_set", routine_sound_setting<true>,
     "a 0..3: element sounds not placed, or placed with the 2, 4, 16 nearest fading, from the next start (player)"},
    {"esound_load", routine_esound_load, "a path text -> a free-standing sound 0..499 loaded from the file, -1 when none"},
    {"esound_unload", routine_esound_unload, "a sound: stopped and released"},
    {"esound_play", routine_esound_play, "a sound, b loop: played from the start, looping when b is not 0"},
    {"esound_stop", routine_esound_stop, "a sound: stopped"},
    {"esound_state", routine_esound_state, "a sound -> -1 while it plays once, 0 when stopped or looping"},
    {"esound_volume_set", routine_esound_volume_set, "a sound, b volume: 10000 full, each 100 below 1 dB less"},
    {"esound_frequency_set", routine_esound_frequency_set, "a sound, b Hz 100..100000 (0: the file's own)"},
    {"esound_minmaxdist_set", routine_esound_minmaxdist_set,
     "a sound, b, c hundredths of a scene unit: full volume out to b, no quieter beyond c"},
    {"esound_location_set", routine_esound_location_set, "a sound, b x, c y, d z in L/512: placed there, not moving"},
};

}  // namespace

std::span<const Binding> sound_bindings() { return kBindings; }

// ---- The output and a run's sound ---------------------------------------------------------------

int sound_rate_of(I sound) {
  static constexpr int kRates[4] = {0, 11025, 22050, 44100};
  return sound >= 0 && sound <= 3 ? kRates[sound] : 0;
}

bool open_sound_output(const SoundOutput& output) {
  platform::close_sound();
  g_sound.output = output;
  g_sound.output.mixing &= 3;
  g_sound.stored_sound = output.sound;
  g_sound.stored_mixing = output.mixing;
  g_sound.failed = false;
  return open_device();
}

void close_sound_output() {
  platform::close_sound();
  g_sound.output = {};
  g_sound.failed = false;
}

void sound_start(World& w) {
  w.listener = 0;
  g_sound.reported_free_load = false;
  if (!platform::sound_on() && (g_sound.failed || !open_device())) return;
  for (int slot = 0; slot < platform::kSoundSlots; ++slot) platform::unload_sound(slot);
  platform::set_master_volume(0);
  forget_reach();
}

void start_element_sounds(World& w, project::ElementLines& lines, std::string_view work_folder) {
  sound_start(w);
  if (!platform::sound_on() || !element_table()) return;
  int highest = std::min({w.highest, lines.highest, project::kMaxElements - 1});
  for (int i = 0; i <= highest; ++i) load_element_sound(element_table()[i], i, lines.line[i].view(), work_folder);
  for (int i = 0; i <= highest; ++i)
    if (element_table()[i].flags & project::kFlagOn) play_element_sound(element_table()[i]);
}

void sound_end(World&) {
  if (!platform::sound_on()) return;
  for (int slot = 0; slot < platform::kSoundSlots; ++slot) platform::unload_sound(slot);
  forget_reach();
}

void play_element_sound(Record& e) {
  int slot = slot_of(e);
  if (slot < 0) return;
  platform::play_sound(slot, !(e.flags & project::kFlagSoundKept));  // from the start either way
  platform::set_sound_position(slot, position_of(e), velocity_of(e));
  platform::commit_sound();
}

void stop_element_sound(Record& e) {
  if (int slot = slot_of(e); slot >= 0) platform::stop_sound(slot);
}

int select_nearest(std::span<const SoundDistance> playing, std::span<SoundDistance> list) {
  std::size_t count = 0;
  for (const SoundDistance& p : playing) {
    if (count < list.size()) {
      list[count++] = p;
      continue;
    }
    for (std::size_t k = 0; k < count; ++k)
      if (list[k].distance > p.distance) {
        list[k] = p;
        break;
      }
  }
  return static_cast<int>(count);
}

void place_sounds(World& w) {
  Record* elements = element_table();
  if (!platform::sound_on() || !elements) return;
  // The listener follows its element every frame: free-standing sounds are
  // always placed, whatever the element sounds do.
  place_listener(w);
  int highest = std::min(w.highest, project::kMaxElements - 1);
  SoundDistance playing[project::kMaxElements];
  int playing_count = 0;
  int listener = w.listener >= 0 && w.listener < project::kMaxElements ? w.listener : 0;
  for (int i = 0; i <= highest; ++i) {
    const Record& e = elements[i];
    if ((e.flags & project::kFlagOn) && slot_of(e) >= 0 && platform::sound_status(e.sound_index))
      playing[playing_count++] = {i, distance_between(e, elements[listener])};
  }
  if (playing_count == 0 || g_sound.output.mixing == 0) return;

  SoundDistance nearest[16];
  int n = select_nearest(std::span(playing, playing_count), std::span(nearest, kNearest[g_sound.output.mixing]));
  bool heard_in_full[project::kMaxElements] = {};
  for (int k = 0; k < n; ++k) heard_in_full[nearest[k].element] = true;
  for (int i = 0; i <= highest; ++i) {
    const Record& e = elements[i];
    int slot = slot_of(e);
    if (!(e.flags & project::kFlagOn) || slot < 0) continue;
    std::int8_t reach = heard_in_full[i] ? 1 : 0;
    if (g_sound.reach[slot] != reach) {
      g_sound.reach[slot] = reach;
      platform::set_sound_distances(slot, 0, reach ? kFarDistance : 0);  // 0: max = the minimum distance
    }
    platform::set_sound_position(slot, position_of(e), velocity_of(e));
  }
}

int mute_sound() {
  int volume = platform::master_volume();
  platform::set_master_volume(platform::kSilence);
  return volume;
}

void unmute_sound(int volume) { platform::set_master_volume(volume); }

}  // namespace engine
