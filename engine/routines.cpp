// The element runtime routines that compiled brains call: field access, element
// selection, switching, motion, arithmetic, run control and the keyboard.
// Every element argument goes through element_of(): a reference that is not a
// record of the element table is "no element", and the routine then returns 0
// and changes nothing.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <vector>

#include "engine/engine.h"
#include "engine/engine_local.h"
#include "platform/platform.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/text.h"

namespace engine {

namespace {

using I = std::int32_t;
using Record = project::ElementRecord;

#define ROUTINE(name)                                                                                         \
  I name([[maybe_unused]] I a, [[maybe_unused]] I b, [[maybe_unused]] I c, [[maybe_unused]] I d,            \
         [[maybe_unused]] I e, [[maybe_unused]] std::uint32_t self)

// Wrapping 32-bit arithmetic, as the machine's 32-bit instructions give.
I add32(I x, I y) { return static_cast<I>(static_cast<std::uint32_t>(x) + static_cast<std::uint32_t>(y)); }
I sub32(I x, I y) { return static_cast<I>(static_cast<std::uint32_t>(x) - static_cast<std::uint32_t>(y)); }
I low32(std::int64_t v) { return static_cast<I>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v))); }
I neg32(I x) { return sub32(0, x); }
I abs32(I x) { return x < 0 ? neg32(x) : x; }

constexpr I kTrue = -1;

I* word(Record& r, int w) { return reinterpret_cast<I*>(&r) + w; }

World* world() { return active_world(); }
int highest() {
  World* w = world();
  return w ? std::min(w->highest, project::kMaxElements - 1) : -1;
}
Record* record_at(int i) { return element_table() + i; }

I random_draw(I lo, I hi) {
  World* w = world();
  static media::RandomState spare;  // used only when no run is active
  return media::random_in(w ? w->random : spare, lo, hi, platform::input().sample_count);
}

// ---- Field access -------------------------------------------------------------------------------

template <int W>
ROUTINE(get_word) {
  Record* r = element_of(a);
  return r ? *word(*r, W) : 0;
}
template <int W>
ROUTINE(set_word) {
  if (Record* r = element_of(a)) *word(*r, W) = b;
  return 0;
}
template <int W>
ROUTINE(add_word) {
  if (Record* r = element_of(a)) *word(*r, W) = add32(*word(*r, W), b);
  return 0;
}
template <int W>
ROUTINE(get_angle) {
  Record* r = element_of(a);
  return r ? media::normalise_angle(*word(*r, W)) : 0;
}
template <int W>
ROUTINE(get_length) {  // length units to sub-units
  Record* r = element_of(a);
  return r ? static_cast<I>(static_cast<std::uint32_t>(*word(*r, W)) << 9) : 0;
}

ROUTINE(routine_register) {
  Record* r = element_of(a);
  return r && static_cast<std::uint32_t>(b) < 256 ? *word(*r, b) : 0;
}
ROUTINE(routine_register_set) {
  Record* r = element_of(a);
  if (r && static_cast<std::uint32_t>(b) < 256) *word(*r, b) = c;
  return 0;
}

ROUTINE(routine_local) {
  Record* r = element_of(a);
  return r && static_cast<std::uint32_t>(b) < 128 ? r->variables[127 - b] : 0;
}
ROUTINE(routine_local_set) {
  Record* r = element_of(a);
  if (r && static_cast<std::uint32_t>(b) < 128) r->variables[127 - b] = c;
  return 0;
}

constexpr std::uint32_t kPocketBytes = sizeof(Record::pocket);  // offsets 180..511
ROUTINE(routine_pocket) {
  Record* r = element_of(a);
  return r && static_cast<std::uint32_t>(b) < kPocketBytes ? r->pocket[b] : 0;
}
ROUTINE(routine_pocket_set) {
  Record* r = element_of(a);
  if (r && static_cast<std::uint32_t>(b) < kPocketBytes) r->pocket[b] = static_cast<std::uint8_t>(c);
  return 0;
}
ROUTINE(routine_pocket_add) {
  Record* r = element_of(a);
  if (r && static_cast<std::uint32_t>(b) < kPocketBytes) r->pocket[b] = static_cast<std::uint8_t>(r->pocket[b] + c);
  return 0;
}

// Bits 0..27 of m are cleared; each of bits 28..31 is cleared unless set in m.
I reset_mask(I m) { return static_cast<I>(static_cast<std::uint32_t>(m) ^ 0x0FFFFFFFu); }

ROUTINE(routine_signal) {
  Record* r = element_of(a);
  return r ? r->signal & b : 0;
}
ROUTINE(routine_signal_set) {
  if (Record* r = element_of(a)) r->signal |= b;
  return 0;
}
ROUTINE(routine_signal_reset) {
  if (Record* r = element_of(a)) r->signal &= reset_mask(b);
  return 0;
}
ROUTINE(routine_state) {
  Record* r = element_of(a);
  return r ? r->flags & b : 0;
}
ROUTINE(routine_state_set) {
  if (Record* r = element_of(a)) r->flags |= b;
  return 0;
}
ROUTINE(routine_state_reset) {
  if (Record* r = element_of(a)) r->flags &= reset_mask(b);
  return 0;
}
ROUTINE(routine_status) {
  Record* r = element_of(a);
  return r ? r->flags & project::kFlagOn : 0;
}

I& global_at(I i) { return globals()[static_cast<std::uint32_t>(i) & (kGlobals - 1)]; }
ROUTINE(routine_global) { return globals() ? global_at(a) : 0; }
ROUTINE(routine_global_set) {
  // A networked run also queues the value for the other machines (net/).
  if (globals()) global_at(a) = b;
  return 0;
}
ROUTINE(routine_global_add) {
  if (globals()) global_at(a) = add32(global_at(a), b);
  return 0;
}

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

// √(((a − b) >> 9)² per axis), rounded, in length units.
std::int64_t length_between(const Record& p, const Record& q, bool with_y) {
  std::int64_t s = 0;
  for (int axis = 0; axis < 3; ++axis) {
    if (axis == 1 && !with_y) continue;
    std::int64_t d = (static_cast<std::int64_t>(p.position[axis]) - q.position[axis]) >> 9;
    s += d * d;
  }
  return rounded_sqrt(s);
}
I sub_units(std::int64_t length) { return low32(length << 9); }

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
    // The element's sound starts here once sound exists (engine sound).
  }
  return 0;
}
ROUTINE(routine_off) {
  if (Record* r = element_of(a)) r->flags &= ~project::kFlagOn;  // and its sound stops unless bit 4 is set
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

// ---- Motion --------------------------------------------------------------------------------------------

ROUTINE(routine_velocity_update) {
  if (Record* r = element_of(a))
    for (int i = 0; i < 3; ++i) r->position[i] = add32(r->position[i], r->velocity[i]);
  return 0;
}
ROUTINE(routine_spin_update) {
  if (Record* r = element_of(a))
    for (int i = 0; i < 3; ++i) r->rotation[i] = add32(r->rotation[i], r->spin[i]);
  return 0;
}

template <int W>
ROUTINE(copy_triple) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (from && to)
    for (int i = 0; i < 3; ++i) *word(*to, W + i) = *word(*from, W + i);
  return 0;
}
ROUTINE(routine_rotation_copy) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (!from || !to) return 0;
  bool local = from->flags & project::kFlagLocalRotation;
  for (int i = 0; i < 3; ++i) to->rotation[i] = local ? add32(from->rotation[i], from->local_rotation[i]) : from->rotation[i];
  return 0;
}

ROUTINE(routine_gravity) {
  if (Record* r = element_of(a)) {
    r->velocity[0] = add32(r->velocity[0], b);
    r->velocity[1] = add32(r->velocity[1], c);
    r->velocity[2] = add32(r->velocity[2], d);
  }
  return 0;
}

Vec3 forward(const Record& r, I p) {
  Vec3 v{0, 0, p};
  orient(v, r.rotation[0], r.rotation[1], r.rotation[2]);
  return v;
}
ROUTINE(routine_thrust) {
  if (Record* r = element_of(a)) {
    Vec3 v = forward(*r, b);
    r->velocity[0] = add32(r->velocity[0], v.x);
    r->velocity[1] = add32(r->velocity[1], v.y);
    r->velocity[2] = add32(r->velocity[2], v.z);
  }
  return 0;
}
ROUTINE(routine_speed_set) {
  if (Record* r = element_of(a)) {
    Vec3 v = forward(*r, b);
    r->velocity[0] = v.x, r->velocity[1] = v.y, r->velocity[2] = v.z;
  }
  return 0;
}
// The 8-bit sine table at whole degrees of the Y rotation.
I xz_part(I angle, I p, bool x) {
  std::int64_t s = x ? media::sin_byte(angle) : media::cos_byte(angle);
  return low32((s * p) >> 7);
}
ROUTINE(routine_thrust_xz) {
  if (Record* r = element_of(a)) {
    r->velocity[0] = add32(r->velocity[0], xz_part(r->rotation[1], b, true));
    r->velocity[2] = add32(r->velocity[2], xz_part(r->rotation[1], b, false));
  }
  return 0;
}
ROUTINE(routine_speed_xz_set) {
  if (Record* r = element_of(a)) {
    r->velocity[0] = xz_part(r->rotation[1], b, true);
    r->velocity[2] = xz_part(r->rotation[1], b, false);
  }
  return 0;
}

// Velocity of `to` pushed towards the point p by s / (largest axis distance).
void attract_to(Record& to, const I p[3], I s, bool with_y) {
  std::int64_t diff[3], most = 0;
  for (int i = 0; i < 3; ++i) {
    diff[i] = static_cast<std::int64_t>(p[i]) - to.position[i];
    if (i == 1 && !with_y) continue;
    most = std::max<std::int64_t>(most, std::llabs(diff[i]));
  }
  if (most == 0) return;
  for (int i = 0; i < 3; ++i)
    if (i != 1 || with_y) to.velocity[i] = add32(to.velocity[i], low32(diff[i] * s / most));
}
ROUTINE(routine_attract) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (from && to) attract_to(*from, to->position, c, true);
  return 0;
}
ROUTINE(routine_attract_xz) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (from && to) attract_to(*from, to->position, c, false);
  return 0;
}
ROUTINE(routine_attract_point) {
  Record* r = element_of(a);
  I p[3] = {b, c, d};
  if (r) attract_to(*r, p, e, true);
  return 0;
}
ROUTINE(routine_attract_y) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (from && to && from->position[1] != to->position[1])
    from->velocity[1] = to->position[1] > from->position[1] ? add32(from->velocity[1], c) : sub32(from->velocity[1], c);
  return 0;
}

ROUTINE(routine_follow) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (!from || !to) return 0;
  Vec3 offset{0, 0, d};  // (0, dz) turned about Y
  rotate_y(offset, to->rotation[1]);
  I p[3] = {add32(to->position[0], offset.x), add32(to->position[1], c), add32(to->position[2], offset.z)};
  for (int i = 0; i < 3; ++i) {
    std::int64_t step = ((static_cast<std::int64_t>(p[i]) - from->position[i]) >> 9) * e * 4;
    from->position[i] = add32(from->position[i], low32(step));
  }
  return 0;
}

void drag_axis(I& v, I k) {
  I w = v >> 12;
  std::int64_t square = static_cast<std::int64_t>(w) * w;
  if (square > std::numeric_limits<I>::max()) {
    v >>= 1;
    return;
  }
  I dv = add32(low32(square * k) / 8192, 10);
  v = v >= 0 ? sub32(v, dv) : add32(v, dv);
}
template <bool X, bool Y, bool Z>
ROUTINE(routine_drag) {
  if (Record* r = element_of(a)) {
    if (X) drag_axis(r->velocity[0], b);
    if (Y) drag_axis(r->velocity[1], b);
    if (Z) drag_axis(r->velocity[2], b);
  }
  return 0;
}

void friction_axis(I& v, I k) {
  std::int64_t p = static_cast<std::int64_t>(v) * k;
  v = low32(p < 0 ? -((-p) >> 9) : p >> 9);
}
template <bool X, bool Y, bool Z>
ROUTINE(routine_friction) {
  if (Record* r = element_of(a)) {
    if (X) friction_axis(r->velocity[0], b);
    if (Y) friction_axis(r->velocity[1], b);
    if (Z) friction_axis(r->velocity[2], b);
  }
  return 0;
}
template <int Axis>
ROUTINE(routine_friction_r) {
  if (Record* r = element_of(a)) r->spin[Axis] = low32(static_cast<std::int64_t>(r->spin[Axis]) * b / 512);
  return 0;
}

// direction_xz: the angle of (dx, w) with q = |w / dx|.
// From position p to position q.
I direction_xz(const I* p, const I* q) {
  std::int64_t dx = (static_cast<std::int64_t>(q[0]) - p[0]) >> 9;
  std::int64_t w = (static_cast<std::int64_t>(q[2]) - p[2]) * 2;
  I r = dx == 0 ? 720 : media::atan_index(std::llabs(w / dx));
  if (dx < 0 && w < 0) r += 1440;
  else if (w < 0) r = 2880 - r;
  else if (dx < 0) r = 1440 - r;
  return (r - 720) * 64;
}

I direction_xz(const Record& p, const Record& q) { return &p == &q ? 0 : direction_xz(p.position, q.position); }

// The pitch from position p up or down to position q.
I elevation(const I* p, const I* q) {
  std::int64_t dx = (static_cast<std::int64_t>(p[0]) - q[0]) >> 9;
  std::int64_t dz = (static_cast<std::int64_t>(p[2]) - q[2]) >> 9;
  std::int64_t h = rounded_sqrt(dx * dx + dz * dz);
  if (h == 0) return p[1] >= q[1] ? kQuarterTurn : -kQuarterTurn;
  std::int64_t dy = (static_cast<std::int64_t>(q[1]) - p[1]) >> 9;
  if (dy == 0) return 0;
  I r = media::atan_index(std::llabs(dy) * 1024 / h) * 64;
  return dy > 0 ? -r : r;
}
I elevation(const Record& p, const Record& q) { return &p == &q ? 0 : elevation(p.position, q.position); }

ROUTINE(routine_track) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (from && to) {
    I x = elevation(*from, *to);
    from->rotation[1] = direction_xz(*from, *to);
    from->rotation[0] = x;
  }
  return 0;
}
ROUTINE(routine_track_yr) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (from && to) from->rotation[1] = direction_xz(*from, *to);
  return 0;
}

// d brought into -92160..92160 by a full turn.
I shortest(I d) {
  if (d > kHalfTurn) return d - kFullTurn;
  if (d < -kHalfTurn) return d + kFullTurn;
  return d;
}
ROUTINE(routine_track_yr_smooth) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (!from || !to) return 0;
  from->rotation[1] = media::normalise_angle(from->rotation[1]);
  I dir = direction_xz(*from, *to);
  from->rotation[1] = add32(from->rotation[1], shortest(sub32(dir, from->rotation[1])) >> (c & 31));
  return 0;
}
ROUTINE(routine_track_smooth) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (!from || !to) return 0;
  from->rotation[0] = media::normalise_angle(from->rotation[0]);
  from->rotation[1] = media::normalise_angle(from->rotation[1]);
  I x = elevation(*from, *to), y = direction_xz(*from, *to);
  from->rotation[0] = add32(from->rotation[0], shortest(sub32(x, from->rotation[0])) >> (c & 31));
  from->rotation[1] = add32(from->rotation[1], shortest(sub32(y, from->rotation[1])) >> (c & 31));
  return 0;
}

template <int Axis>
ROUTINE(routine_attract_r) {
  Record* r = element_of(a);
  if (!r) return 0;
  I dr = media::normalise_angle(r->rotation[Axis]) - media::normalise_angle(b);
  if (std::abs(dr) > kHalfTurn) dr = -dr;
  r->spin[Axis] = dr < 0 ? add32(r->spin[Axis], c) : sub32(r->spin[Axis], c);
  return 0;
}

// The rotation x and y that face the point one tick ahead (position + velocity), as
// `track` faces an element standing there, then turned by ax and ay.
void straight_ahead(const Record& r, I ax, I ay, I& x, I& y) {
  const I ahead[3] = {add32(r.position[0], r.velocity[0]), add32(r.position[1], r.velocity[1]),
                      add32(r.position[2], r.velocity[2])};
  x = add32(elevation(r.position, ahead), ax);
  y = add32(direction_xz(r.position, ahead), ay);
}
ROUTINE(routine_orient_straight) {
  if (Record* r = element_of(a)) straight_ahead(*r, b, c, r->rotation[0], r->rotation[1]);
  return 0;
}
// With a strength s the element is not turned at once: its spins are pushed towards
// the straight-ahead rotation and then damped by f.
ROUTINE(routine_orient_forward) {
  Record* r = element_of(a);
  if (!r) return 0;
  I x = 0, y = 0;
  straight_ahead(*r, b, c, x, y);
  if (d == 0) {
    r->rotation[0] = x, r->rotation[1] = y;
    return 0;
  }
  routine_attract_r<0>(a, x, d, 0, 0, self);
  routine_attract_r<1>(a, y, d, 0, 0, self);
  routine_friction_r<0>(a, e, 0, 0, 0, self);
  routine_friction_r<1>(a, e, 0, 0, 0, self);
  return 0;
}

// Whether b lies on a's line of sight of length range: 1 when it does, -1 when not
// or when either is off, 0 when either is no element. b counts as a sphere of its
// radius times k / 128. Worked in L (positions >> 9), in floating point.
ROUTINE(routine_sight) {
  Record* from = element_of(a);
  Record* target = element_of(b);
  if (!from || !target) return 0;
  if (!(from->flags & project::kFlagOn) || !(target->flags & project::kFlagOn)) return -1;
  I turn[3];
  for (int i = 0; i < 3; ++i) {
    turn[i] = media::normalise_angle(from->rotation[i]);
    if (from->flags & project::kFlagLocalRotation)
      turn[i] = media::normalise_angle(add32(turn[i], media::normalise_angle(from->local_rotation[i])));
  }
  Vec3 ray{0, 0, c >> 9};
  orient(ray, turn[0], turn[1], turn[2]);
  double p0[3], dir[3], q[3], end_to_centre[3];
  for (int i = 0; i < 3; ++i) {
    p0[i] = from->position[i] >> 9;
    q[i] = static_cast<double>(target->position[i] >> 9) - p0[i];
  }
  dir[0] = ray.x, dir[1] = ray.y, dir[2] = ray.z;
  for (int i = 0; i < 3; ++i) end_to_centre[i] = q[i] - dir[i];
  auto dot = [](const double* u, const double* v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; };
  double radius = static_cast<double>((static_cast<std::int64_t>(target->radius) * d) >> 7);
  double dd = dot(dir, dir), qq = dot(q, q), dq = dot(dir, q);
  double ray_length = std::round(std::sqrt(dd));
  if (std::round(std::sqrt(qq)) > ray_length) return -1;
  if (dq * dq - (qq - radius * radius) * dd < 0) return -1;
  if (std::round(std::sqrt(dot(end_to_centre, end_to_centre))) > ray_length) return -1;
  return 1;
}

// Scales in thousandths; the render step's synchronisation applies them.
ROUTINE(routine_scale_set) {
  Record* r = element_of(a);
  if (r && (has_tag(*r, ".x3d") || has_tag(*r, ".v3d"))) r->scale_x = b, r->scale_y = c, r->scale_z = d;
  return 0;
}
ROUTINE(routine_flat_scale_set) {
  Record* r = element_of(a);
  if (r && has_tag(*r, ".b3d")) r->scale_x = b, r->scale_y = c;
  return 0;
}

template <int Axis>
ROUTINE(routine_boing) {
  if (Record* r = element_of(a)) {
    r->position[Axis] = sub32(r->position[Axis], low32(static_cast<std::int64_t>(r->velocity[Axis]) * 4));
    r->velocity[Axis] = neg32(r->velocity[Axis]);
  }
  return 0;
}

ROUTINE(routine_join_pos) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (from && to)
    for (int i = 0; i < 3; ++i) to->position[i] = from->position[i], to->velocity[i] = from->velocity[i];
  return 0;
}
ROUTINE(routine_join) {
  Record* from = element_of(a);
  Record* to = element_of(b);
  if (!from || !to) return 0;
  for (int i = 0; i < 3; ++i) {
    to->position[i] = from->position[i];
    to->rotation[i] = from->rotation[i];
    to->velocity[i] = from->velocity[i];
    to->spin[i] = from->spin[i];
  }
  if ((from->flags & project::kFlagLocalRotation) && !has_tag(*from, ".03d")) {
    for (int i = 0; i < 3; ++i) to->local_rotation[i] = from->local_rotation[i];
    to->flags |= project::kFlagLocalRotation;
  }
  return 0;
}
ROUTINE(routine_child_rot) {
  Record* child = element_of(a);
  Record* parent = element_of(b);
  if (!child || !parent) return 0;
  child->flags |= project::kFlagLocalRotation;
  child->local_rotation[0] = c, child->local_rotation[1] = d, child->local_rotation[2] = e;
  for (int i = 0; i < 3; ++i) child->rotation[i] = parent->rotation[i];
  return 0;
}
ROUTINE(routine_child_pos) {
  Record* child = element_of(a);
  Record* parent = element_of(b);
  if (!child || !parent) return 0;
  Vec3 v{c, d, e};
  orient(v, parent->rotation[0], parent->rotation[1], parent->rotation[2]);
  child->position[0] = add32(parent->position[0], v.x);
  child->position[1] = add32(parent->position[1], v.y);
  child->position[2] = add32(parent->position[2], v.z);
  return 0;
}

ROUTINE(routine_push) {
  World* w = world();
  Record* r = element_of(a);
  if (!w || !r || w->motion_depth >= kMotionStack) return 0;
  for (int i = 0; i < 12; ++i) w->motion_stack[w->motion_depth][i] = *word(*r, project::kWordPosition + i);
  ++w->motion_depth;
  return 0;
}
ROUTINE(routine_pop) {
  World* w = world();
  Record* r = element_of(a);
  if (!w || !r || w->motion_depth == 0) return 0;
  --w->motion_depth;
  for (int i = 0; i < 12; ++i) *word(*r, project::kWordPosition + i) = w->motion_stack[w->motion_depth][i];
  return 0;
}

// ---- Arithmetic ----------------------------------------------------------------------------------------

ROUTINE(routine_factor_512) {
  I v = static_cast<I>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b)) >> 9;
  return v == -1 ? 0 : v;
}

// A double rounded to nearest and held inside the 32-bit range.
I clamp_round(double v) {
  if (std::isnan(v)) return 0;
  v = std::round(v);
  if (v >= 2147483647.0) return std::numeric_limits<I>::max();
  if (v <= -2147483648.0) return std::numeric_limits<I>::min();
  return static_cast<I>(v);
}
constexpr double kAngleUnitsPerRadian = 29335.0;  // 180 x 512 / pi, rounded

ROUTINE(routine_sqrt_512) { return a <= 0 ? 0 : clamp_round(std::sqrt(static_cast<double>(a)) * 512.0); }
ROUTINE(routine_sin_512) { return clamp_round(std::sin(media::normalise_angle(a) / kAngleUnitsPerRadian) * 512.0); }
ROUTINE(routine_cos_512) { return clamp_round(std::cos(media::normalise_angle(a) / kAngleUnitsPerRadian) * 512.0); }
ROUTINE(routine_tan_512) { return clamp_round(std::tan(media::normalise_angle(a) / kAngleUnitsPerRadian) * 512.0); }
ROUTINE(routine_atan_512) { return clamp_round(std::atan(a / 512.0) * kAngleUnitsPerRadian); }
ROUTINE(routine_angle) { return vector_angle(a, b); }

ROUTINE(routine_distance) {
  Record* p = element_of(a);
  Record* q = element_of(b);
  return p && q ? sub_units(length_between(*p, *q, true)) : 0;
}
ROUTINE(routine_distance_xz) {
  Record* p = element_of(a);
  Record* q = element_of(b);
  return p && q ? sub_units(length_between(*p, *q, false)) : 0;
}
std::int64_t speed_of(const Record& r, bool with_y) {
  std::int64_t s = 0;
  for (int i = 0; i < 3; ++i) {
    if (i == 1 && !with_y) continue;
    std::int64_t v = r.velocity[i] >> 9;
    s += v * v;
  }
  return rounded_sqrt(s);
}
template <bool WithY, bool SubUnits>
ROUTINE(routine_velocity_length) {
  Record* r = element_of(a);
  if (!r) return 0;
  std::int64_t v = speed_of(*r, WithY);
  return SubUnits ? sub_units(v) : low32(v);
}
ROUTINE(routine_speed_lz) {
  Record* r = element_of(a);
  if (!r) return 0;
  Vec3 v{r->velocity[0], r->velocity[1], r->velocity[2]};
  rotate_y(v, neg32(r->rotation[1]));
  rotate_z(v, neg32(r->rotation[2]));
  rotate_x(v, neg32(r->rotation[0]));
  return v.z;
}
ROUTINE(routine_direction_xz) {
  Record* p = element_of(a);
  Record* q = element_of(b);
  return p && q ? direction_xz(*p, *q) : 0;
}

ROUTINE(routine_between) { return a >= b && a <= c ? kTrue : 0; }
ROUTINE(routine_limit) {
  if (a < b) return b;
  if (a >= c) return c;
  return a;
}
ROUTINE(routine_wrap) { return media::wrap(a, b, c); }
ROUTINE(routine_interpolate) {
  // interpolate (x, x0, x1, y0, y1); 128-bit product so that no input overflows.
  if (c == b) return 0;
  __int128 q = static_cast<__int128>(static_cast<std::int64_t>(a) - b) * (static_cast<std::int64_t>(e) - d) /
               (static_cast<std::int64_t>(c) - b);
  return low32(static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<unsigned __int128>(q))) + d);
}
ROUTINE(routine_random) { return random_draw(a, b); }
ROUTINE(routine_random_position_xz) {
  Record* r = element_of(a);
  if (!r) return 0;
  r->position[0] = random_draw(b, c);
  r->position[2] = random_draw(d, e);
  return 0;
}
ROUTINE(routine_every_tics) {
  World* w = world();
  std::uint32_t t = w ? w->ticks : 0;
  return t < static_cast<std::uint32_t>(b) && (t & static_cast<std::uint32_t>(a - 1)) == 0 ? kTrue : 0;
}
ROUTINE(routine_oscillate) {
  World* w = world();
  std::uint32_t t = w ? w->ticks : 0;
  I angle = static_cast<I>(static_cast<std::uint32_t>(b) * t + static_cast<std::uint32_t>(c));
  I cosine = routine_cos_512(angle, 0, 0, 0, 0, 0);
  return low32((static_cast<std::int64_t>(a) * cosine) >> 9);
}

ROUTINE(routine_inside_area_xz) {
  Record* r = element_of(a);
  return r && r->position[0] >= b && r->position[0] <= c && r->position[2] >= d && r->position[2] <= e ? kTrue : 0;
}

// ---- Further element routines -------------------------------------------------------------------------

ROUTINE(routine_animation_frame) {
  Record* r = element_of(a);
  return r ? (r->current_aspect - r->base_aspect) / 64 + 1 : 0;
}
ROUTINE(routine_animation_frame_set) {
  Record* r = element_of(a);
  if (!r || b < 1 || b > r->frame_limit) return 0;
  // The frame must be one of the aspect records loaded for the element.
  I target = add32(r->base_aspect, (b - 1) * 64);
  if (aspect_at(r->base_aspect) && aspect_at(target)) r->current_aspect = target;
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
  Record* last = highest() >= 0 ? record_at(highest()) : nullptr;
  for (I n = 0; n < count; ++n) {
    I ref = add32(first, static_cast<I>(static_cast<std::uint32_t>(n) * static_cast<std::uint32_t>(step) * kElementBytes));
    Record* r = element_of(ref);
    if (!r || r > last) break;
    if (!(r->flags & project::kFlagOn)) {
      routine_on(ref, 0, 0, 0, 0, 0);
      return ref;
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
  int mode = std::abs(d);
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

ROUTINE(routine_steer_angle_to) {
  Record* p = element_of(a);
  Record* q = element_of(b);
  if (!p || !q || !(p->flags & project::kFlagOn) || !(q->flags & project::kFlagOn)) return 0;
  I turn = media::normalise_angle(sub32(direction_xz(*p, *q), p->rotation[1]));
  if (turn > kHalfTurn) turn -= kFullTurn;
  return std::clamp(turn, std::min(neg32(c), c), std::max(neg32(c), c));
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

ROUTINE(routine_rebound) {
  Record* p = element_of(a);
  Record* q = element_of(b);
  if (!p || !q || p == q) return 0;
  I dx = static_cast<I>((static_cast<std::int64_t>(q->position[0]) - p->position[0]) >> 9);
  I dz = static_cast<I>((static_cast<std::int64_t>(q->position[2]) - p->position[2]) >> 9);
  I t = media::normalise_angle(neg32(media::direction_from_vector(dz, dx)));
  Vec3 u{p->velocity[0], 0, p->velocity[2]}, v{q->velocity[0], 0, q->velocity[2]};
  rotate_y(u, t);
  rotate_y(v, t);
  std::swap(u.x, v.x);
  I back = media::normalise_angle(neg32(t));
  rotate_y(u, back);
  rotate_y(v, back);
  p->velocity[0] = u.x, p->velocity[2] = u.z;
  q->velocity[0] = v.x, q->velocity[2] = v.z;
  return 0;
}

ROUTINE(routine_rebound_yr) {
  World* w = world();
  Record* p = element_of(a);
  Record* q = element_of(b);
  // A factor of 0 (before rebound_yr_factor is called) leaves the spin alone.
  if (!w || !p || !q || w->rebound_yr_factor == 0) return 0;
  I back = media::normalise_angle(neg32(p->rotation[1]));
  Vec3 dist{static_cast<I>((static_cast<std::int64_t>(q->position[0]) - p->position[0]) >> 9), 0,
            static_cast<I>((static_cast<std::int64_t>(q->position[2]) - p->position[2]) >> 9)};
  Vec3 rel{sub32(q->velocity[0], p->velocity[0]), 0, sub32(q->velocity[2], p->velocity[2])};
  rotate_y(dist, back);
  rotate_y(rel, back);
  std::int64_t s = rounded_sqrt(static_cast<std::int64_t>(rel.x) * rel.x + static_cast<std::int64_t>(rel.z) * rel.z) /
                   w->rebound_yr_factor;
  bool negative = static_cast<std::int64_t>(rel.x >> 9) * dist.z < 0;
  p->spin[1] = negative ? low32(s) : low32(-s);
  return 0;
}

// ---- Run control -------------------------------------------------------------------------------------

ROUTINE(routine_execute) {
  World* w = world();
  Record* r = element_of(a);
  if (!w || !r || !w->program) return 0;
  auto entry = static_cast<std::uint32_t>(r->brain_entry);
  if (!brain::valid_entry(*w->program, entry)) return 0;
  // Nested runs are bounded by the brain runner (kRunDepth) and share its jump budget.
  return brain::run(entry, base::address32(r)).value;
}
ROUTINE(routine_exit) {
  if (World* w = world()) w->exit_request = a;
  return 0;
}
ROUTINE(routine_debug) {
  if (World* w = world()) w->debug_value = a, w->debug_flag = true;
  return 0;
}
ROUTINE(routine_par_count) {
  World* w = world();
  return w ? static_cast<I>(w->command_values.size()) : 0;
}
ROUTINE(routine_par_get) {
  World* w = world();
  return w && static_cast<std::uint32_t>(a) < w->command_values.size() ? w->command_values[a] : 0;
}
ROUTINE(routine_exemode) {
  World* w = world();
  return w ? a & w->exe_mode : 0;
}
ROUTINE(routine_max_framerate) {
  World* w = world();
  return w ? w->rate : kDefaultRate;
}
ROUTINE(routine_max_framerate_set) {
  if (World* w = world()) set_rate(*w, a);
  return 0;
}

template <int N>
ROUTINE(store_setting) {
  World* w = world();
  if (!w) return 0;
  I args[3] = {a, b, c};
  switch (N) {
    case 0: w->rebound_yr_factor = a; break;
    case 1: w->volume = a; break;
    case 3: std::copy(args, args + 3, w->shadow_location); break;
    case 4:
      for (int i = 0; i < 3; ++i) w->shadow_orientation[i] = args[i] & 1023;
      break;
  }
  return 0;
}

// Files named by text arguments.
ROUTINE(routine_file_exists) {
  std::string_view path = text_argument(a);
  return !path.empty() && base::file_exists(path) ? kTrue : 0;
}
ROUTINE(routine_globals_save) {
  std::string_view path = text_argument(a);
  if (World* w = world(); w && !path.empty() && !globals_save(*w, path, b, c))
    base::report("engine", "could not write %.*s", static_cast<int>(path.size()), path.data());
  return 0;
}
ROUTINE(routine_globals_load) {
  std::string_view path = text_argument(a);
  if (World* w = world(); w && !path.empty()) globals_load(*w, path, b, c);
  return 0;
}

// Local date and time parts.
template <int Part>
ROUTINE(routine_clock_part) {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  const int parts[] = {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
  return parts[Part];
}

// Hardware ports do not exist here: reads give 0, writes do nothing.
ROUTINE(routine_no_port) { return 0; }

// ---- Keyboard ------------------------------------------------------------------------------------------

// A key argument: a scan code, or the address of a key-name literal of the last compile.
int scan_code_of(I k) {
  World* w = world();
  auto address = static_cast<std::uint32_t>(k);
  if (!w || address < w->literal_start || address >= w->literal_end) return k;
  return platform::scan_code_of_key_name(text_argument(k));
}
// The shift keys share one virtual key: LSHIFT and RSHIFT each mean either.
constexpr int kLeftShift = 42, kRightShift = 54;
ROUTINE(routine_keyboard) {
  int scan = scan_code_of(a);
  const bool* held = platform::input().held;
  if (scan == kLeftShift || scan == kRightShift) return held[kLeftShift] || held[kRightShift] ? kTrue : 0;
  return scan > 0 && scan < 256 && held[scan] ? kTrue : 0;
}
ROUTINE(routine_scancode) {
  for (int scan = 1; scan < 256; ++scan)
    if (platform::input().held[scan]) return scan;
  return 0;
}

// ---- The binding table -----------------------------------------------------------------------------------

using namespace project;

constexpr Binding kBindings[] = {
    // Field access.
    {"position_x", get_word<kWordPosition>},
    {"position_y", get_word<kWordPosition + 1>},
    {"position_z", get_word<kWordPosition + 2>},
    {"position_x_set", set_word<kWordPosition>},
    {"position_y_set", set_word<kWordPosition + 1>},
    {"position_z_set", set_word<kWordPosition + 2>},
    {"position_x_add", add_word<kWordPosition>},
    {"position_y_add", add_word<kWordPosition + 1>},
    {"position_z_add", add_word<kWordPosition + 2>},
    {"rotation_x", get_angle<kWordRotation>},
    {"rotation_y", get_angle<kWordRotation + 1>},
    {"rotation_z", get_angle<kWordRotation + 2>},
    {"rotation_x_set", set_word<kWordRotation>},
    {"rotation_y_set", set_word<kWordRotation + 1>},
    {"rotation_z_set", set_word<kWordRotation + 2>},
    {"rotation_x_add", add_word<kWordRotation>},
    {"rotation_y_add", add_word<kWordRotation + 1>},
    {"rotation_z_add", add_word<kWordRotation + 2>},
    {"velocity_x", get_word<kWordVelocity>},
    {"velocity_y", get_word<kWordVelocity + 1>},
    {"velocity_z", get_word<kWordVelocity + 2>},
    {"velocity_x_set", set_word<kWordVelocity>},
    {"velocity_y_set", set_word<kWordVelocity + 1>},
    {"velocity_z_set", set_word<kWordVelocity + 2>},
    {"velocity_x_add", add_word<kWordVelocity>},
    {"velocity_y_add", add_word<kWordVelocity + 1>},
    {"velocity_z_add", add_word<kWordVelocity + 2>},
    {"spin_x", get_word<kWordSpin>},
    {"spin_y", get_word<kWordSpin + 1>},
    {"spin_z", get_word<kWordSpin + 2>},
    {"spin_x_set", set_word<kWordSpin>},
    {"spin_y_set", set_word<kWordSpin + 1>},
    {"spin_z_set", set_word<kWordSpin + 2>},
    {"spin_x_add", add_word<kWordSpin>},
    {"spin_y_add", add_word<kWordSpin + 1>},
    {"spin_z_add", add_word<kWordSpin + 2>},
    {"credits", get_word<kWordCredits>},
    {"credits_set", set_word<kWordCredits>},
    {"credits_add", add_word<kWordCredits>},
    {"element_id", get_word<kWordCollisionCode>},
    {"element_id_set", set_word<kWordCollisionCode>},
    {"timer", get_word<kWordTickCounter>},
    {"timer_set", set_word<kWordTickCounter>},
    {"radius", get_length<kWordRadius>},
    {"radius_max", get_length<kWordBoxHalfSize>},
    {"register", routine_register},
    {"register_set", routine_register_set},
    {"local", routine_local},
    {"local_set", routine_local_set},
    {"pocket", routine_pocket},
    {"pocket_set", routine_pocket_set},
    {"pocket_add", routine_pocket_add},
    {"signal", routine_signal},
    {"signal_set", routine_signal_set},
    {"signal_reset", routine_signal_reset},
    {"state", routine_state},
    {"state_set", routine_state_set},
    {"state_reset", routine_state_reset},
    {"status", routine_status},
    {"global", routine_global},
    {"global_set", routine_global_set},
    {"global_add", routine_global_add},
    {"flat_scale_x", get_word<kWordScaleX>},
    {"flat_scale_y", get_word<kWordScaleY>},
    {"scale_z", get_word<kWordScaleZ>},
    {"sprite_clip_x1", get_word<kWordDisplayArea>},
    {"sprite_clip_y1", get_word<kWordDisplayArea + 1>},
    {"sprite_clip_x2", get_word<kWordDisplayArea + 2>},
    {"sprite_clip_y2", get_word<kWordDisplayArea + 3>},
    {"last_animation_frame", get_word<kWordFrameLimit>},
    // Element selection.
    {"first_element", routine_first_element},
    {"last_element", routine_last_element},
    {"element_index", routine_element_index},
    {"random_element", routine_random_element},
    {"nearest_element", routine_nearest_element},
    {"element_find", routine_element_find},
    // Switching and showing.
    {"on", routine_on},
    {"off", routine_off},
    {"show", routine_show},
    {"hide", routine_hide},
    {"on_list", routine_on_list},
    {"on_range", routine_on_range},
    {"disable", routine_disable},
    {"enable", routine_enable},
    // Motion.
    {"velocity_update", routine_velocity_update},
    {"spin_update", routine_spin_update},
    {"position_copy", copy_triple<kWordPosition>},
    {"velocity_copy", copy_triple<kWordVelocity>},
    {"spin_copy", copy_triple<kWordSpin>},
    {"rotation_copy", routine_rotation_copy},
    {"gravity", routine_gravity},
    {"thrust", routine_thrust},
    {"thrust_xz", routine_thrust_xz},
    {"speed_set", routine_speed_set},
    {"speed_xz_set", routine_speed_xz_set},
    {"attract", routine_attract},
    {"attract_xz", routine_attract_xz},
    {"attract_y", routine_attract_y},
    {"attract_point", routine_attract_point},
    {"attract_xr", routine_attract_r<0>},
    {"attract_yr", routine_attract_r<1>},
    {"attract_zr", routine_attract_r<2>},
    {"follow", routine_follow},
    {"drag", routine_drag<true, true, true>},
    {"drag_xz", routine_drag<true, false, true>},
    {"drag_y", routine_drag<false, true, false>},
    {"friction", routine_friction<true, true, true>},
    {"friction_xz", routine_friction<true, false, true>},
    {"friction_y", routine_friction<false, true, false>},
    {"friction_xr", routine_friction_r<0>},
    {"friction_yr", routine_friction_r<1>},
    {"friction_zr", routine_friction_r<2>},
    {"track", routine_track},
    {"track_yr", routine_track_yr},
    {"track_smooth", routine_track_smooth},
    {"track_yr_smooth", routine_track_yr_smooth},
    {"boing_x", routine_boing<0>},
    {"boing_y", routine_boing<1>},
    {"boing_z", routine_boing<2>},
    {"join", routine_join},
    {"join_pos", routine_join_pos},
    {"orient_straight", routine_orient_straight},
    {"orient_forward", routine_orient_forward},
    {"sight", routine_sight},
    {"scale_set", routine_scale_set},
    {"flat_scale_set", routine_flat_scale_set},
    {"child_rot", routine_child_rot},
    {"child_pos", routine_child_pos},
    {"push", routine_push},
    {"pop", routine_pop},
    {"rebound", routine_rebound},
    {"rebound_yr", routine_rebound_yr},
    {"random_position_xz", routine_random_position_xz},
    // Arithmetic.
    {"factor_512", routine_factor_512},
    {"sqrt_512", routine_sqrt_512},
    {"sin_512", routine_sin_512},
    {"cos_512", routine_cos_512},
    {"tan_512", routine_tan_512},
    {"atan_512", routine_atan_512},
    {"angle", routine_angle},
    {"distance", routine_distance},
    {"distance_xz", routine_distance_xz},
    {"velocity", routine_velocity_length<true, false>},
    {"velocity_xz", routine_velocity_length<false, false>},
    {"speed", routine_velocity_length<true, true>},
    {"speed_xz", routine_velocity_length<false, true>},
    {"speed_lz", routine_speed_lz},
    {"direction_xz", routine_direction_xz},
    {"between", routine_between},
    {"limit", routine_limit},
    {"wrap", routine_wrap},
    {"interpolate", routine_interpolate},
    {"random", routine_random},
    {"every_tics", routine_every_tics},
    {"oscillate", routine_oscillate},
    {"inside_area_xz", routine_inside_area_xz},
    {"steer_angle_to", routine_steer_angle_to},
    {"dimension_abs", routine_dimension_abs},
    {"animation_frame", routine_animation_frame},
    {"animation_frame_set", routine_animation_frame_set},
    {"type", routine_type},
    {"background_color", routine_background_color},
    {"sprite_dim_x", routine_sprite_dim_x},
    {"sprite_dim_y", routine_sprite_dim_y},
    // Run control.
    {"execute", routine_execute},
    {"exit", routine_exit},
    {"debug", routine_debug},
    {"par_count", routine_par_count},
    {"par_get", routine_par_get},
    {"exemode", routine_exemode},
    {"max_framerate", routine_max_framerate},
    {"max_framerate_set", routine_max_framerate_set},
    {"rebound_yr_factor", store_setting<0>},
    {"volume_set", store_setting<1>},
    {"shadow_location_set", store_setting<3>},
    {"shadow_orientation_set", store_setting<4>},
    {"year", routine_clock_part<0>},
    {"month", routine_clock_part<1>},
    {"day", routine_clock_part<2>},
    {"hour", routine_clock_part<3>},
    {"minute", routine_clock_part<4>},
    {"second", routine_clock_part<5>},
    {"input_b", routine_no_port},
    {"input_w", routine_no_port},
    {"input_d", routine_no_port},
    {"output_b", routine_no_port},
    {"output_w", routine_no_port},
    {"output_d", routine_no_port},
    {"file_exists", routine_file_exists},
    {"globals_save", routine_globals_save},
    {"globals_load", routine_globals_load},
    // Keyboard.
    {"keyboard", routine_keyboard},
    {"scancode", routine_scancode},
};

// Every binding table of the folder.
using Table = std::span<const Binding> (*)();
std::span<const Binding> own_bindings() { return kBindings; }
constexpr Table kTables[] = {own_bindings, collision_bindings, input_bindings, render_bindings,
                             track_bindings, save_game_bindings, spline_bindings, video_bindings,
                             light_bindings, shadow_bindings, layer_bindings};

}  // namespace

std::string_view text_argument(std::int32_t value) {
  World* w = world();
  auto address = static_cast<std::uint32_t>(value);
  // Handles of the string store are below 8,192; literals lie in the last compile's range.
  if (!w || address < w->literal_start || address >= w->literal_end) return {};
  const char* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(address));
  std::size_t length = 0;
  while (address + length < w->literal_end && text[length]) ++length;
  return {text, length};
}

// The keywords above bound to get_word / set_word: brains compile them in line
// when their element is the running one (routines_test checks both ways agree).
namespace {
struct FieldBinding {
  std::string_view name;
  brain::FieldAccess access;
  int word;
};
constexpr brain::FieldAccess kGet = brain::FieldAccess::get, kSet = brain::FieldAccess::set;
constexpr FieldBinding kFields[] = {
    {"position_x", kGet, kWordPosition},         {"position_y", kGet, kWordPosition + 1},
    {"position_z", kGet, kWordPosition + 2},     {"position_x_set", kSet, kWordPosition},
    {"position_y_set", kSet, kWordPosition + 1}, {"position_z_set", kSet, kWordPosition + 2},
    {"rotation_x_set", kSet, kWordRotation},     {"rotation_y_set", kSet, kWordRotation + 1},
    {"rotation_z_set", kSet, kWordRotation + 2}, {"velocity_x", kGet, kWordVelocity},
    {"velocity_y", kGet, kWordVelocity + 1},     {"velocity_z", kGet, kWordVelocity + 2},
    {"velocity_x_set", kSet, kWordVelocity},     {"velocity_y_set", kSet, kWordVelocity + 1},
    {"velocity_z_set", kSet, kWordVelocity + 2}, {"spin_x", kGet, kWordSpin},
    {"spin_y", kGet, kWordSpin + 1},             {"spin_z", kGet, kWordSpin + 2},
    {"spin_x_set", kSet, kWordSpin},             {"spin_y_set", kSet, kWordSpin + 1},
    {"spin_z_set", kSet, kWordSpin + 2},         {"credits", kGet, kWordCredits},
    {"credits_set", kSet, kWordCredits},         {"element_id", kGet, kWordCollisionCode},
    {"element_id_set", kSet, kWordCollisionCode}, {"timer", kGet, kWordTickCounter},
    {"timer_set", kSet, kWordTickCounter},       {"flat_scale_x", kGet, kWordScaleX},
    {"flat_scale_y", kGet, kWordScaleY},         {"scale_z", kGet, kWordScaleZ},
    {"sprite_clip_x1", kGet, kWordDisplayArea},  {"sprite_clip_y1", kGet, kWordDisplayArea + 1},
    {"sprite_clip_x2", kGet, kWordDisplayArea + 2}, {"sprite_clip_y2", kGet, kWordDisplayArea + 3},
    {"last_animation_frame", kGet, kWordFrameLimit},
};
}  // namespace

void bind_routines() {
  for (Table table : kTables)
    for (const Binding& b : table()) brain::bind_routine(b.name, b.routine);
  for (const FieldBinding& f : kFields) brain::bind_field(f.name, f.access, f.word);
}


std::span<const std::string_view> bound_names() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> all;
    for (Table table : kTables)
      for (const Binding& b : table()) all.push_back(b.name);
    return all;
  }();
  return names;
}

}  // namespace engine
