// Record build: an element line in user units becomes a 1,024-byte record in
// engine units.
#include <cstdlib>
#include <cstring>

#include "project/project_local.h"
#include "base/log.h"
#include "base/memory.h"

namespace project {

namespace {

// Products are formed in 64 bits and kept modulo 2^32, as 32-bit code would.
int32_t wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

int64_t decimal(std::string_view s) { return base::decimal_number(s); }

// Integer part of a decimal field (fields 29 to 31, 47, 48).
int32_t integer_part(std::string_view s) { return base::decimal_number(s) / 1000; }

bool plain_numbers(int type) { return type == kSprite || type == kCounter; }
int32_t plain_integer(std::string_view s) { return base::value(s); }

// One converted value with its range drawn, when a project runs.
int32_t with_range(const BuildSettings& settings, int32_t v, int32_t range) {
  if (!settings.project_running || !settings.random || range < 1) return v;
  int64_t lo = static_cast<int64_t>(v) - range;
  int64_t hi = static_cast<int64_t>(v) + range;
  if (lo < INT32_MIN) lo = INT32_MIN;
  if (hi > INT32_MAX) hi = INT32_MAX;
  return settings.random(static_cast<int32_t>(lo), static_cast<int32_t>(hi), settings.random_user);
}

using Convert = int32_t (*)(std::string_view);

// Value fields with their ranges three places later: position, rotation,
// velocity, spin, in record order.
constexpr struct {
  int field;
  Convert convert;
} kTriples[] = {
    {kFieldPosition, scene_to_sub_units},
    {kFieldRotation, degrees_to_angle},
    {kFieldVelocity, speed_to_sub_units},
    {kFieldSpin, rpm_to_spin},
};

bool digits_only(std::string_view s) {
  if (!s.empty() && s[0] == '-') s.remove_prefix(1);
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

void build_user_parameters(const BuildSettings& settings, Tables& tables, ElementRecord& r,
                           std::string_view params, int element) {
  int n = base::value(field_view(params, 1, '/'));
  if (n > kMaxUserParameters) {
    base::report("project", "element %d: %d user parameters, only %d kept", element, n,
                  kMaxUserParameters);
    n = kMaxUserParameters;
  }
  for (int k = 0; k < n; ++k) {
    int kind = base::value(field_view(params, 2 + 3 * k, '/'));
    std::string_view text = field_view(params, 3 + 3 * k, '/');
    int32_t slot = base::value(field_view(params, 4 + 3 * k, '/'));
    if (slot >= 0 && slot < 256) slot += 768;
    // Parameters live among the brain variables: bytes 512..1020, word-aligned.
    if (slot < 512 || slot > 1020 || slot % 4 != 0) {
      base::report("project", "element %d: user parameter %d has a bad slot", element, k + 1);
      continue;
    }
    int32_t v = 0;
    switch (kind) {
      case 1: {
        int32_t index = base::value(text);
        v = (index >= 0 && index < kMaxElements && tables.elements)
                ? static_cast<int32_t>(base::address32(&tables.elements[index]))
                : 0;
        break;
      }
      case 3: v = scene_to_sub_units(text); break;
      case 4: v = degrees_to_angle(text); break;
      case 5: v = speed_to_sub_units(text); break;
      case 6: v = rpm_to_spin(text); break;
      case 7:
        if (settings.read_operand) {
          if (!settings.read_operand(text, &v, settings.operand_user)) v = 0;
        } else {
          v = digits_only(text) ? base::value(text) : 0;
        }
        break;
      default: v = base::value(text); break;  // kinds 0 and 2, and unknown tags
    }
    std::memcpy(reinterpret_cast<std::byte*>(&r) + slot, &v, sizeof v);
  }
}

AspectRecord* base_aspect_of(Tables& tables, const AspectLoad& load, int i) {
  if (!tables.aspects || load.count[i] <= 0) return nullptr;
  int a = load.first[i];
  return a >= 0 && a < kMaxAspects ? &tables.aspects[a] : nullptr;
}

}  // namespace

int32_t scene_to_sub_units(std::string_view s) { return wrap32(decimal(s) * 512); }
int32_t degrees_to_angle(std::string_view s) { return wrap32(decimal(s) * 512 / 1000); }
int32_t speed_to_sub_units(std::string_view s) { return wrap32(decimal(s) * 17067 / 1000); }
int32_t rpm_to_spin(std::string_view s) { return wrap32(decimal(s) * 1024 / 10000); }

int32_t scale_display(int32_t v, int display_mode) {
  if (display_mode == 4 || display_mode == 8) return wrap32((static_cast<int64_t>(v) * 125 + 1) / 100);
  if (display_mode == 16 || display_mode == 32)
    return wrap32((static_cast<int64_t>(v) * 160 + 1) / 100);
  return v;
}

void build_record(const BuildSettings& settings, Tables& tables, const AspectLoad& load,
                  ElementLines& lines, int i) {
  if (!tables.elements || i < 0 || i >= kMaxElements) return;
  ElementRecord& r = tables.elements[i];
  std::memset(&r, 0, sizeof r);
  const base::Text& line = lines.line[i];
  auto f = [&](int n) { return field_view(line, n, '|'); };

  int type = base::value(f(kFieldType));
  bool plain = plain_numbers(type);

  if (AspectRecord* a = base_aspect_of(tables, load, i)) {
    r.base_aspect = r.current_aspect = static_cast<int32_t>(base::address32(a));
  }

  // Position, rotation, velocity, spin: three values, then three ranges.
  int32_t* words = reinterpret_cast<int32_t*>(&r);
  for (int t = 0; t < 4; ++t) {
    for (int axis = 0; axis < 3; ++axis) {
      int field = kTriples[t].field + axis;
      Convert convert = plain ? plain_integer : kTriples[t].convert;
      int32_t v = convert(f(field));
      int32_t range = convert(f(field + 3));
      words[kWordPosition + 3 * t + axis] = with_range(settings, v, range);
    }
  }
  if (plain) {
    r.credits = with_range(settings, base::value(f(kFieldCredits)), base::value(f(kFieldCreditsRange)));
    r.collision_code = base::value(f(kFieldId));
  } else {
    r.credits = with_range(settings, integer_part(f(kFieldCredits)), integer_part(f(kFieldCreditsRange)));
    r.collision_code = integer_part(f(kFieldId));
  }
  r.radius = wrap32(std::llabs(decimal(f(kFieldRadius))));
  int32_t* scales[3] = {&r.scale_x, &r.scale_y, &r.scale_z};
  for (int axis = 0; axis < 3; ++axis) {
    std::string_view s = f(kFieldScale + axis);
    *scales[axis] = plain ? base::value(s) : base::decimal_number(s);
  }
  r.flags = base::value(f(kFieldStartSwitches)) & kFlagOn;
  r.flags &= ~kFlagBoxCollisions;

  build_user_parameters(settings, tables, r, f(kFieldUserParameters), i);

  std::string_view area = f(kFieldDisplayArea);
  if (type == kCamera || type == kSprite || type == kBackground || type == kCounter) {
    bool scaled = type == kSprite || type == kBackground;
    for (int k = 0; k < 4; ++k) {
      int32_t v = base::value(field_view(area, k + 1, '/'));
      r.display_area[k] = scaled ? scale_display(v, settings.display_mode) : v;
    }
    if (type == kCamera) {
      if (base::field_count(area, '/') == 7) {
        // The camera's view: projection value, a "&" pair and one number, kept
        // with the camera's aspect for the renderer.
        if (AspectRecord* a = base_aspect_of(tables, load, i)) {
          std::string_view pair = field_view(area, 6, '/');
          a->word[0] = base::value(field_view(area, 5, '/'));
          a->word[1] = base::value(field_view(pair, 1, '&'));
          a->word[2] = base::value(field_view(pair, 2, '&'));
          a->word[3] = base::value(field_view(area, 7, '/'));
        }
      } else {
        set_line_field(lines, i, kFieldFrames, "0");
      }
    } else {
      std::string_view size = field_view(area, 5, '/');
      r.size[0] = base::value(field_view(size, 1, 'x'));
      r.size[1] = base::value(field_view(size, 2, 'x'));
    }
  }

  std::string_view frames = f(kFieldFrames);
  if (type == kCamera) {
    if (base::value(field_view(frames, 1, '/')) != 0) r.flags |= kFlagCameraSwitch;
  } else {
    r.frame_limit = base::value(field_view(frames, 2, '/'));
  }

  if (type == kCounter) {
    r.display_area[kWordCounterDivisor - kWordDisplayArea] = base::value(field_view(area, 1, '/'));
    r.display_area[kWordCounterPoint - kWordDisplayArea] = base::value(field_view(area, 2, '/'));
    r.display_area[kWordCounterSign - kWordDisplayArea] = base::value(field_view(area, 3, '/'));
  }

  if (type == kTrack) {
    AspectRecord* a = base_aspect_of(tables, load, i);
    if (a && tag_extension(*a) == ".i3d") r.track_data = a->word[0];
  }

  if (plain) {
    r.network_sync = base::value(f(kFieldNetworkSync));
    r.owner_machine = base::value(f(kFieldOwnerMachine));
  } else {
    r.network_sync = integer_part(f(kFieldNetworkSync));
    r.owner_machine = integer_part(f(kFieldOwnerMachine));
  }

  // Each element owns sound slot i; the sound system marks a missing file.
  std::string_view sound = f(kFieldSound);
  r.sound_index = (sound.empty() || base::ends_with_no_case(sound, "null_.wav")) ? -1 : i;

  r.flags |= kFlagShown | kFlagCollisions;
  for (int32_t* s : scales)
    if (*s == 0) *s = 1000;
}

void build_records(const BuildSettings& settings, Tables& tables, const AspectLoad& load,
                   ElementLines& lines) {
  if (!tables.elements) return;
  int highest = lines.highest < kMaxElements ? lines.highest : kMaxElements - 1;
  for (int i = 0; i <= highest; ++i) build_record(settings, tables, load, lines, i);
  if (highest < 0) {
    std::memset(tables.elements, 0, sizeof(ElementRecord) * kMaxElements);
    return;
  }
  // A brain naming an element past the last reads a copy of the last.
  for (int i = highest + 1; i < kMaxElements; ++i) tables.elements[i] = tables.elements[highest];
}

}  // namespace project
