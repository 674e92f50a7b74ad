// The sound device on OpenAL Soft. Every source is made when the device opens;
// 3D settings wait in the slot table and go to the mixer in one batch per
// commit. OpenAL's space is right-handed, so z is negated on the way in.
#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <dlfcn.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "platform/sound.h"
#include "base/log.h"

namespace platform {

namespace {

// What a slot's source has been told, or will be at the next commit.
struct Slot {
  ALuint source = 0;
  ALuint buffer = 0;  // 0: no sound loaded
  int rate = 0;       // the file's frames per second
  bool looping = false;
  bool spatial = true;
  int pan = 0;
  scene::Vec3 position, velocity;
  float min_distance = kDefaultMinDistance, max_distance = kDefaultMaxDistance;
  std::uint8_t dirty = 0;  // kMoved | kShaped: what commit_sound still has to send
};

constexpr std::uint8_t kMoved = 1;   // position and velocity
constexpr std::uint8_t kShaped = 2;  // 3D mode, distances, pan

struct Mixer {
  ALCdevice* device = nullptr;
  ALCcontext* context = nullptr;
  LPALCRENDERSAMPLESSOFT render = nullptr;  // loopback devices only
  LPALDEFERUPDATESSOFT defer = nullptr;      // AL_SOFT_deferred_updates, when present
  LPALPROCESSUPDATESSOFT process = nullptr;
  int master = 0;
  Slot slots[kSoundSlots];
  std::uint16_t dirty[kSoundSlots];  // slots with something to commit, each once
  int dirty_count = 0;
  scene::Vec3 listener_position, listener_front{0, 0, 1}, listener_top{0, 1, 0};
  bool listener_dirty = false;
};

Mixer mixer;

// The slot's record when sound is on and the slot is in the table.
Slot* slot_of(int slot) {
  if (!mixer.context || slot < 0 || slot >= kSoundSlots) return nullptr;
  return &mixer.slots[slot];
}

// ... and holds a sound.
Slot* loaded(int slot) {
  Slot* s = slot_of(slot);
  return s && s->buffer ? s : nullptr;
}

float gain_of(int hundredths) {
  if (hundredths <= kSilence) return 0.0f;
  return std::pow(10.0f, static_cast<float>(std::min(hundredths, 0)) / 2000.0f);
}

void mark(Slot& s, std::uint8_t what) {
  if (!s.dirty) mixer.dirty[mixer.dirty_count++] = static_cast<std::uint16_t>(&s - mixer.slots);
  s.dirty |= what;
}

// Our left-handed scene space into OpenAL's right-handed one.
void to_al(scene::Vec3 v, ALfloat out[3]) { out[0] = v.x, out[1] = v.y, out[2] = -v.z; }

bool finite(scene::Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Sends what changed of a slot's placement to its source.
void send(const Slot& s, std::uint8_t what) {
  ALfloat p[3], v[3];
  if (!s.spatial) {
    if (!(what & kShaped)) return;  // motion doesn't move a sound heard at the listener
    double angle = s.pan / 10000.0 * (std::numbers::pi / 2);
    alSourcei(s.source, AL_SOURCE_RELATIVE, AL_TRUE);
    alSourcef(s.source, AL_ROLLOFF_FACTOR, 0.0f);
    alSource3f(s.source, AL_POSITION, static_cast<ALfloat>(std::sin(angle)), 0.0f, static_cast<ALfloat>(-std::cos(angle)));
    alSource3f(s.source, AL_VELOCITY, 0.0f, 0.0f, 0.0f);
    return;
  }
  if (what & kShaped) {
    alSourcei(s.source, AL_SOURCE_RELATIVE, AL_FALSE);
    alSourcef(s.source, AL_ROLLOFF_FACTOR, kRolloff);
    alSourcef(s.source, AL_REFERENCE_DISTANCE, s.min_distance);
    alSourcef(s.source, AL_MAX_DISTANCE, s.max_distance);
  }
  to_al(s.position, p), to_al(s.velocity, v);
  alSourcefv(s.source, AL_POSITION, p);
  alSourcefv(s.source, AL_VELOCITY, v);
}

void send_listener() {
  ALfloat p[3], orientation[6];
  to_al(mixer.listener_position, p);
  to_al(mixer.listener_front, orientation);
  to_al(mixer.listener_top, orientation + 3);
  alListenerfv(AL_POSITION, p);
  alListenerfv(AL_ORIENTATION, orientation);
}

void reset(Slot& s) {
  ALuint source = s.source;
  std::uint8_t dirty = s.dirty;  // the slot may be listed for the next commit already
  s = Slot{};
  s.source = source;
  s.dirty = dirty;
  alSourcef(source, AL_GAIN, 1.0f);
  alSourcef(source, AL_PITCH, 1.0f);
  alSourcei(source, AL_LOOPING, AL_FALSE);
  send(s, kMoved | kShaped);
}

// ALSA's error handler, as snd_lib_error_set_handler takes it.
using AlsaErrorHandler = void (*)(const char* file, int line, const char* function, int err, const char* format, ...);
void ignore_alsa_error(const char*, int, const char*, int, const char*, ...) {}

// Without a sound device, OpenAL Soft and the ALSA library it loads print
// their own lines before ours ("no sound device"). They stay quiet unless the
// user sets ALSOFT_LOGLEVEL, which then shows both as their libraries print them.
void quiet_sound_libraries() {
  if (std::getenv("ALSOFT_LOGLEVEL")) return;
  setenv("ALSOFT_LOGLEVEL", "0", 1);
  static bool alsa_quiet = false;
  if (alsa_quiet) return;
  alsa_quiet = true;
  // The library OpenAL Soft loads itself; where it is not installed there is nothing to quiet.
  void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
  if (!alsa) return;
  using SetHandler = int (*)(AlsaErrorHandler);
  auto set_handler = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
  if (set_handler) set_handler(ignore_alsa_error);  // kept loaded: the handler lives in it
}

void release(Slot& s) {
  if (!s.buffer) return;
  alSourceStop(s.source);
  alSourcei(s.source, AL_BUFFER, 0);
  alDeleteBuffers(1, &s.buffer);
  s.buffer = 0;
  s.rate = 0;
}

}  // namespace

bool open_sound(int rate, SoundDevice device) {
  close_sound();
  bool loopback = device == SoundDevice::loopback;
  if (loopback) {
    auto open_loopback = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT"));
    mixer.render = reinterpret_cast<LPALCRENDERSAMPLESSOFT>(alcGetProcAddress(nullptr, "alcRenderSamplesSOFT"));
    mixer.device = open_loopback && mixer.render ? open_loopback(nullptr) : nullptr;
  } else {
    quiet_sound_libraries();
    mixer.device = alcOpenDevice(nullptr);
  }
  if (!mixer.device) {
    base::report("sound", "no sound device: the run is silent");
    return false;
  }
  ALCint attributes[16];
  int n = 0;
  auto add = [&](ALCint key, ALCint value) { attributes[n++] = key, attributes[n++] = value; };
  add(ALC_FREQUENCY, rate);
  add(ALC_MONO_SOURCES, kSoundSlots);
  add(ALC_STEREO_SOURCES, 0);
  if (loopback) {  // plain stereo floats, the same on every machine
    add(ALC_FORMAT_CHANNELS_SOFT, ALC_STEREO_SOFT);
    add(ALC_FORMAT_TYPE_SOFT, ALC_FLOAT_SOFT);
    add(ALC_HRTF_SOFT, ALC_FALSE);
  }
  attributes[n] = 0;
  mixer.context = alcCreateContext(mixer.device, attributes);
  if (!mixer.context || !alcMakeContextCurrent(mixer.context)) {
    base::report("sound", "no sound context at %d Hz: the run is silent", rate);
    close_sound();
    return false;
  }
  ALuint sources[kSoundSlots];
  alGetError();
  alGenSources(kSoundSlots, sources);
  if (alGetError() != AL_NO_ERROR) {
    base::report("sound", "the mixer has fewer than %d sources: the run is silent", kSoundSlots);
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(mixer.context);
    mixer.context = nullptr;
    close_sound();
    return false;
  }
  if (alIsExtensionPresent("AL_SOFT_deferred_updates")) {
    mixer.defer = reinterpret_cast<LPALDEFERUPDATESSOFT>(alGetProcAddress("alDeferUpdatesSOFT"));
    mixer.process = reinterpret_cast<LPALPROCESSUPDATESSOFT>(alGetProcAddress("alProcessUpdatesSOFT"));
  }
  alDistanceModel(AL_INVERSE_DISTANCE_CLAMPED);
  alDopplerFactor(kDoppler);
  for (int i = 0; i < kSoundSlots; ++i) {
    mixer.slots[i].source = sources[i];
    reset(mixer.slots[i]);
  }
  set_master_volume(0);
  set_listener({}, {0, 0, 1}, {0, 1, 0});
  commit_sound();
  return true;
}

void close_sound() {
  if (mixer.context) {
    for (Slot& s : mixer.slots) {
      release(s);
      if (s.source) alDeleteSources(1, &s.source);
    }
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(mixer.context);
  }
  if (mixer.device) alcCloseDevice(mixer.device);
  mixer = Mixer{};
}

bool sound_on() { return mixer.context != nullptr; }

bool render_sound(std::span<float> out) {
  if (!mixer.context || !mixer.render) {
    std::fill(out.begin(), out.end(), 0.0f);
    return false;
  }
  mixer.render(mixer.device, out.data(), static_cast<ALCsizei>(out.size() / 2));
  return true;
}

bool load_sound(int slot, const media::Wav& wav) {
  Slot* s = slot_of(slot);
  if (!s) return false;
  release(*s);
  reset(*s);
  if (wav.channels < 1 || wav.channels > 2 || wav.rate < 1) return false;
  // Mono 8- and 16-bit data goes to the mixer as it is; the rest is converted.
  std::vector<std::uint8_t> converted;
  std::span<const std::uint8_t> data = wav.data;
  if (wav.channels != 1 || wav.stored_bits != wav.bits() || wav.is_float) {
    converted.resize(media::wav_decoded_bytes(wav, true));
    if (!media::decode_wav(wav, true, converted)) return false;
    data = converted;
  }
  alGetError();
  ALuint buffer = 0;
  alGenBuffers(1, &buffer);
  alBufferData(buffer, wav.bits() == 8 ? AL_FORMAT_MONO8 : AL_FORMAT_MONO16, data.data(),
               static_cast<ALsizei>(data.size()), wav.rate);
  if (alGetError() != AL_NO_ERROR) {
    if (buffer) alDeleteBuffers(1, &buffer);
    base::report("sound", "the mixer refuses a sound of %u frames at %d Hz", wav.frames, wav.rate);
    return false;
  }
  alSourcei(s->source, AL_BUFFER, static_cast<ALint>(buffer));
  s->buffer = buffer;
  s->rate = wav.rate;
  return true;
}

void unload_sound(int slot) {
  if (Slot* s = slot_of(slot)) {
    release(*s);
    reset(*s);
  }
}

bool sound_loaded(int slot) { return loaded(slot) != nullptr; }

void play_sound(int slot, bool loop) {
  if (Slot* s = loaded(slot)) {
    alSourceRewind(s->source);
    s->looping = loop;
    alSourcei(s->source, AL_LOOPING, loop ? AL_TRUE : AL_FALSE);
    alSourcePlay(s->source);
  }
}

void stop_sound(int slot) {
  if (Slot* s = loaded(slot)) alSourceStop(s->source);
}

std::uint32_t sound_status(int slot) {
  Slot* s = loaded(slot);
  if (!s) return 0;
  ALint state = AL_STOPPED;
  alGetSourcei(s->source, AL_SOURCE_STATE, &state);
  if (state != AL_PLAYING) return 0;
  return kSoundPlaying | (s->looping ? kSoundLooping : 0);
}

int sound_rate(int slot) {
  Slot* s = loaded(slot);
  return s ? s->rate : 0;
}

void set_sound_volume(int slot, int hundredths) {
  if (Slot* s = loaded(slot)) alSourcef(s->source, AL_GAIN, gain_of(hundredths));
}

void set_sound_frequency(int slot, int hz) {
  Slot* s = loaded(slot);
  if (!s) return;
  float pitch = 1.0f;
  if (hz != 0) pitch = static_cast<float>(std::clamp(hz, kMinSoundFrequency, kMaxSoundFrequency)) / static_cast<float>(s->rate);
  alSourcef(s->source, AL_PITCH, pitch);
}

void set_sound_pan(int slot, int pan) {
  Slot* s = loaded(slot);
  if (!s) return;
  s->pan = std::clamp(pan, -10000, 10000);
  if (!s->spatial) send(*s, kShaped);  // a 2D sound pans at once
}

void set_sound_3d(int slot, bool on) {
  Slot* s = loaded(slot);
  if (!s || s->spatial == on) return;
  s->spatial = on;
  mark(*s, kMoved | kShaped);
}

void set_sound_position(int slot, scene::Vec3 position, scene::Vec3 velocity) {
  Slot* s = loaded(slot);
  if (!s || !finite(position) || !finite(velocity)) return;
  s->position = position;
  s->velocity = velocity;
  mark(*s, kMoved);
}

void set_sound_distances(int slot, float min, float max) {
  Slot* s = loaded(slot);
  if (!s) return;
  if (min > 0 && std::isfinite(min)) s->min_distance = min;
  s->max_distance = max >= s->min_distance ? std::min(max, FLT_MAX) : s->min_distance;  // NaN gives min
  mark(*s, kShaped);
}

void set_listener(scene::Vec3 position, scene::Vec3 front, scene::Vec3 top) {
  if (!mixer.context) return;
  if (finite(position)) mixer.listener_position = position;
  scene::Vec3 cross{front.y * top.z - front.z * top.y, front.z * top.x - front.x * top.z, front.x * top.y - front.y * top.x};
  if (finite(front) && finite(top) && cross.x * cross.x + cross.y * cross.y + cross.z * cross.z > 1e-12f) {
    mixer.listener_front = front;
    mixer.listener_top = top;
  }
  mixer.listener_dirty = true;
}

void commit_sound() {
  if (!mixer.context) return;
  if (mixer.defer) mixer.defer(); else alcSuspendContext(mixer.context);
  if (mixer.listener_dirty) send_listener();
  for (int i = 0; i < mixer.dirty_count; ++i) {
    Slot& s = mixer.slots[mixer.dirty[i]];
    send(s, s.dirty);
    s.dirty = 0;
  }
  mixer.dirty_count = 0;
  mixer.listener_dirty = false;
  if (mixer.process) mixer.process(); else alcProcessContext(mixer.context);
}

void set_master_volume(int hundredths) {
  if (!mixer.context) return;
  mixer.master = std::clamp(hundredths, kSilence, 0);
  alListenerf(AL_GAIN, gain_of(mixer.master));
}

int master_volume() { return mixer.context ? mixer.master : 0; }

}  // namespace platform
