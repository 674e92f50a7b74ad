// The sound device: one mixer (OpenAL Soft) and a fixed table of sound slots,
// each a buffer and a source. Slots 0..255 carry the elements' sounds, 256..755
// the free-standing ones. Volumes are in hundredths of a decibel, positions in
// scene units of the engine's left-handed space. Without a device (none opens,
// or sound is off) every call does nothing and every query answers 0 or false.
#pragma once

#include <cstdint>
#include <span>

#include "media/media.h"
#include "platform/scene/scene.h"

namespace platform {

inline constexpr int kElementSoundSlots = 256;
inline constexpr int kFreeSoundSlots = 500;
inline constexpr int kFirstFreeSoundSlot = kElementSoundSlots;
inline constexpr int kSoundSlots = kElementSoundSlots + kFreeSoundSlots;

inline constexpr int kSilence = -10000;       // hundredths of a decibel; 0 is full volume
inline constexpr int kMinSoundFrequency = 100;     // Hz
inline constexpr int kMaxSoundFrequency = 100000;  // Hz
inline constexpr float kDefaultMinDistance = 1.0f;  // scene units
inline constexpr float kDefaultMaxDistance = 1e9f;
inline constexpr float kRolloff = 0.7f;  // of every 3D sound
inline constexpr float kDoppler = 1.2f;

// Status bits of a slot; a looping sound that plays has both.
inline constexpr std::uint32_t kSoundPlaying = 1;
inline constexpr std::uint32_t kSoundLooping = 4;

enum class SoundDevice : std::uint8_t {
  system,    // the default output
  loopback,  // mixes only when render_sound asks: tests and benchmarks
};

// Opens the device mixing at rate frames per second (closing one already
// open) and creates every slot's source: inverse distance clamped, rolloff
// 0.7, Doppler 1.2, full master volume. False with a report when no device
// opens; sound then stays off.
bool open_sound(int rate, SoundDevice device = SoundDevice::system);
void close_sound();  // stops and releases every slot, then the device
bool sound_on();

// Loopback device only: mixes out.size() / 2 frames into out, left and right
// floats (-1..1) by turns. False, out zeroed, without a loopback device.
bool render_sound(std::span<float> out);

// Loads a decoded file into the slot, replacing (and stopping) what it held;
// stereo is mixed to mono, so that every sound can be placed. The slot starts
// stopped, not looping, at full volume, at the file's own rate, 3D at the
// origin, distances 1 and 1e9, pan 0. False when sound is off, the slot is
// outside 0..755 or the mixer refuses the data.
bool load_sound(int slot, const media::Wav& wav);
void unload_sound(int slot);  // stops the sound and releases its buffer
bool sound_loaded(int slot);

void play_sound(int slot, bool loop);  // from the start, once or looping
void stop_sound(int slot);
std::uint32_t sound_status(int slot);  // kSoundPlaying (| kSoundLooping) while it plays, else 0
int sound_rate(int slot);              // the loaded file's own frames per second; 0 without sound

// Immediate settings.
void set_sound_volume(int slot, int hundredths);  // -10000 (silence) .. 0 (full), clamped
// Playback rate in Hz, clamped to 100..100000; 0 gives the file's own rate.
void set_sound_frequency(int slot, int hz);
// Where a slot with 3D off is heard: -10000 full left .. 0 centre .. 10000
// full right, placed on a half circle in front of the listener.
void set_sound_pan(int slot, int pan);

// Deferred 3D settings: held until commit_sound().
void set_sound_3d(int slot, bool on);  // off: heard at the listener, by its pan, at any distance
// Position in scene units, velocity in scene units per second.
void set_sound_position(int slot, scene::Vec3 position, scene::Vec3 velocity);
// Full volume up to min, falling as min / (min + 0.7 (d - min)) out to max,
// constant beyond. A min that is not > 0 keeps the old one; max below min is min.
void set_sound_distances(int slot, float min, float max);
// The listener's position and its front and top directions (not parallel,
// not zero; such an orientation is ignored).
void set_listener(scene::Vec3 position, scene::Vec3 front, scene::Vec3 top);
// Applies the deferred settings of every slot and the listener at once.
void commit_sound();

// The volume of the whole mix (hundredths of a decibel, -10000..0).
void set_master_volume(int hundredths);
int master_volume();

}  // namespace platform
