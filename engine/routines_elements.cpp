// Element routines: selecting elements, switching and showing them, their
// frames, kinds and aspect words. Every element argument goes through
// element_of(): a reference that names no record reads 0 and changes nothing.
#include <algorithm>
#include <cstdint>
#include <iterator>

#include "engine/engine_local.h"

namespace engine {

namespace {

using I = std::int32_t;
using Record = project::ElementRecord;

// ---- Element selection ----------------------------------------------------------------------------

ROUTINE(routine_first_element) { return highest() >= 0 ? reference_of(*record_at(0)) : 0; }
ROUTINE(routine_last_element) { return highest() >= 0 ? reference_of(*record_at(highest())) : 0; }
ROUTINE(routine_element_index) {
  // The result may lie outside the table; every routine that takes it checks it.
  return element_of(a) ? add32(a, static_cast<I>(static_cast<std::uint32_t>(b) * kElementBytes)) : 0;
}

bool candidate(const Record& r, const Record* not_this, I mask) {
  return &r != not_this && (r.flags & project::kFlagOn) && (r.collision_code & mask);
}

ROUTINE(routine_random_element) {
  Record* self_e = element_of(a);
  if (!self_e) return 0;
  int count = 0;
  for (int i = 0; i <= highest(); ++i) count += candidate(*record_at(i), self_e, b);
  if (count == 0) return 0;
  I k = random_draw(1, count);
  for (int i = 0; i <= highest(); ++i)
    if (candidate(*record_at(i), self_e, b) && --k == 0) return reference_of(*record_at(i));
  return 0;
}

ROUTINE(routine_nearest_element) {
  Record* from = element_of(a);
  if (!from) return 0;
  Record* best = nullptr;
  std::int64_t best_distance = 0;
  for (int i = 0; i <= highest(); ++i) {
    Record& r = *record_at(i);
    if (!candidate(r, from, b)) continue;
    std::int64_t dist = sub_units(length_between(*from, r, true));
    if (!best || dist < best_distance) best = &r, best_distance = dist;
  }
  return best ? reference_of(*best) : 0;
}

// ---- Switching and showing ---------------------------------------------------------------------------

ROUTINE(routine_on) {
  if (Record* r = element_of(a)) {
    r->flags |= project::kFlagOn;
    r->current_aspect = r->base_aspect;
    play_element_sound(*r);
  }
  return 0;
}
ROUTINE(routine_off) {
  if (Record* r = element_of(a)) {
    if (!(r->flags & project::kFlagSoundKept)) stop_element_sound(*r);  // a one-shot sound plays to its end
    r->flags &= ~project::kFlagOn;
  }
  return 0;
}
// Extra model objects (top bit) are shown and hidden through the scene graph.
ROUTINE(routine_show) {
  if (Record* r = element_of(a)) r->flags |= project::kFlagShown;
  return 0;
}
ROUTINE(routine_hide) {
  if (Record* r = element_of(a)) r->flags &= ~project::kFlagShown;
  return 0;
}

// ---- Further element routines -------------------------------------------------------------------------

ROUTINE(routine_animation_frame) {
  Record* r = element_of(a);
  return r ? sub32(r->current_aspect, r->base_aspect) / 64 + 1 : 0;
}
ROUTINE(routine_animation_frame_set) {
  Record* r = element_of(a);
  if (!r || b < 1 || b > r->frame_limit) return 0;
  // The frame must be one of the aspect records loaded for the element.
  I target = add32(r->base_aspect, static_cast<I>((static_cast<std::uint32_t>(b) - 1) * 64));
  if (aspect_at(r->base_aspect) && aspect_at(target)) r->current_aspect = target;
  return 0;
}

// `animate` (e, first, last, step): the current frame moves step frames on,
// wrapped into first..last (held inside 1..frame limit); a brain calls it each
// tick it wants the picture to change.
ROUTINE(routine_animate) {
  Record* r = element_of(a);
  if (!r || !aspect_at(r->base_aspect)) return 0;
  std::int64_t first = std::max(b, 1), last = std::min(c, r->frame_limit);
  if (first > last) return 0;
  std::int64_t span = last - first + 1;
  std::int64_t now = static_cast<std::int64_t>(routine_animation_frame(a, 0, 0, 0, 0, 0)) - first + d;
  std::int64_t next = first + ((now % span) + span) % span;
  I target = add32(r->base_aspect, static_cast<I>((next - 1) * 64));
  if (aspect_at(target)) r->current_aspect = target;
  return 0;
}

// `flash` (e): shown becomes hidden and hidden shown; called every few ticks it blinks.
ROUTINE(routine_flash) {
  if (Record* r = element_of(a)) r->flags ^= project::kFlagShown;
  return 0;
}

ROUTINE(routine_type) {
  static constexpr const char* kKinds[] = {".03d", ".a3d", ".b3d", ".e3d", ".f3d", ".g3d",
                                           ".h3d", ".i3d", ".l3d", ".v3d", ".m3d", ".x3d"};
  Record* r = element_of(a);
  if (!r) return -1;
  for (int i = 0; i < static_cast<int>(std::size(kKinds)); ++i)
    if (has_tag(*r, kKinds[i])) return i;
  return -1;
}

ROUTINE(routine_disable) {
  if (Record* r = element_of(a)) r->flags |= project::kFlagBrainSuspended;
  return 0;
}
ROUTINE(routine_enable) {
  if (Record* r = element_of(a)) r->flags &= ~project::kFlagBrainSuspended;
  return 0;
}

I on_list(I first, I count, I step) {
  if (count <= 0 || step <= 0) return first;
  Record* start = element_of(first);
  if (!start) return 0;
  // The walk ends at the table's last element, whatever count and step say.
  std::int64_t at = start - record_at(0);
  for (std::int64_t n = 0; n < count && at <= highest(); ++n, at += step) {
    Record& r = *record_at(static_cast<int>(at));
    if (!(r.flags & project::kFlagOn)) {
      routine_on(reference_of(r), 0, 0, 0, 0, 0);
      return reference_of(r);
    }
  }
  return 0;
}
ROUTINE(routine_on_list) { return element_of(a) ? on_list(a, b, c) : 0; }
ROUTINE(routine_on_range) {
  if (!element_of(a) || !element_of(b)) return 0;
  return on_list(a, (b - a) / kElementBytes, 1);
}

ROUTINE(routine_element_find) {
  Record* start = element_of(a);
  if (!start) return 0;
  if (c <= 0) return a;
  int i = static_cast<int>(start - record_at(0));
  int direction = d > 0 ? 1 : -1;
  I mode = abs32(d);
  I n = c;
  for (i += direction; i > 0 && i <= highest(); i += direction) {
    Record& r = *record_at(i);
    if (!(r.collision_code & b)) continue;
    bool on = r.flags & project::kFlagOn;
    if ((mode == 2 && on) || (mode == 3 && !on)) continue;
    if (--n == 0) return reference_of(r);
  }
  return 0;
}

ROUTINE(routine_dimension_abs) {
  Record* r = element_of(a);
  if (!r || b < 1 || b > 3) return 0;
  return static_cast<I>(static_cast<std::uint32_t>(abs32(r->display_area[b - 1])) << 9);
}

// Aspect word n of an element whose current aspect carries the tag.
I aspect_word(I element, const char* extension, int n) {
  Record* r = element_of(element);
  if (!r || !has_tag(*r, extension)) return 0;
  return aspect_at(r->current_aspect)->word[n - 1];
}
ROUTINE(routine_background_color) { return aspect_word(a, ".g3d", 3); }
ROUTINE(routine_sprite_dim_x) { return aspect_word(a, ".e3d", 3); }
ROUTINE(routine_sprite_dim_y) { return aspect_word(a, ".e3d", 4); }

constexpr Binding kBindings[] = {
    {"first_element", routine_first_element, "-> element 0"},
    {"last_element", routine_last_element, "-> the element of the highest index"},
    {"element_index", routine_element_index, "a element, b count -> the element b places after a (b x 1024 bytes on)"},
    {"random_element", routine_random_element,
     "a element, b mask -> a random element other than a that is on and whose id AND b is not 0; 0 when none"},
    {"nearest_element", routine_nearest_element,
     "a element, b mask -> the nearest element other than a that is on and whose id AND b is not 0; 0 when none"},
    {"element_find", routine_element_find,
     "a start, b id mask, c n, d mode 1 any, 2 off, 3 on (negative: backwards) -> n-th match past a; 0 none"},
    {"on", routine_on, "a element: switches it on at its first frame, its sound started"},
    {"off", routine_off, "a element: switches it off, its sound stopped unless it plays once"},
    {"show", routine_show, "a element: shown (flags bit 6 set)"},
    {"hide", routine_hide, "a element: hidden (flags bit 6 cleared)"},
    {"on_list", routine_on_list,
     "a first element, b count, c step in elements: switches on the first that is off -> it; 0 when all are on"},
    {"on_range", routine_on_range, "a element, b element: on_list of a up to the one before b, step 1"},
    {"disable", routine_disable, "a element: its brain stops running (suspended)"},
    {"enable", routine_enable, "a element: its brain runs again"},
    {"animation_frame", routine_animation_frame, "a element -> number of its current frame, from 1"},
    {"animation_frame_set", routine_animation_frame_set, "a element, b frame 1..frame limit: current frame = b"},
    {"animate", routine_animate, "a element, b first, c last frame, d step: current frame moves d on, wrapped into b..c"},
    {"flash", routine_flash, "a element: shown becomes hidden, hidden shown (blinks when called every few ticks)"},
    {"type", routine_type,
     "a element -> kind: .03d 0 .a3d 1 .b3d 2 .e3d 3 .f3d 4 .g3d 5 .h3d 6 .i3d 7 .l3d 8 .v3d 9 .m3d 10 .x3d 11, else -1"},
    {"dimension_abs", routine_dimension_abs, "a element, b axis 1..3 -> |dimension x, y or z| in L/512"},
    {"background_color", routine_background_color, "a background element (.g3d) -> its colour index 0..255"},
    {"sprite_dim_x", routine_sprite_dim_x, "a counter element (.e3d) -> width of its images, pixels"},
    {"sprite_dim_y", routine_sprite_dim_y, "a counter element (.e3d) -> height of its images, pixels"},
};

}  // namespace

std::span<const Binding> element_bindings() { return kBindings; }

}  // namespace engine
