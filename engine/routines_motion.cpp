// Motion routines: velocities and spins, attraction, drag and friction,
// tracking and orientation, joining and parenting, rebounds and the motion
// stack. The engine moves nothing by itself; brains apply motion here.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "engine/engine_local.h"

namespace engine {

namespace {

using I = std::int32_t;
using Record = project::ElementRecord;

// ---- Motion --------------------------------------------------------------------------------------------

ROUTINE(routine_velocity_update) {
  if (Record* r = element_of(a))
    for (int i = 0; i < 3; ++i) r->position[i] = add32(r->position[i], r->velocity[i]);
  return 0;
}
// `lift` (e, height, step): e's position y moves toward height by at most |step|
// (a lift or a door); -1 once it is there.
ROUTINE(routine_lift) {
  Record* r = element_of(a);
  if (!r) return 0;
  std::int64_t gap = static_cast<std::int64_t>(b) - r->position[1];
  std::int64_t most = std::abs(static_cast<std::int64_t>(c));
  r->position[1] = static_cast<I>(r->position[1] + std::clamp(gap, -most, most));
  return r->position[1] == b ? kTrue : 0;
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

ROUTINE(routine_random_position_xz) {
  Record* r = element_of(a);
  if (!r) return 0;
  r->position[0] = random_draw(b, c);
  r->position[2] = random_draw(d, e);
  return 0;
}

constexpr Binding kBindings[] = {
    {"velocity_update", routine_velocity_update, "a element: position += velocity"},
    {"spin_update", routine_spin_update, "a element: rotation += spin"},
    {"lift", routine_lift, "a element, b height y, c step in L/512: y moves to b by at most c -> -1 once there"},
    {"position_copy", copy_triple<project::kWordPosition>, "a element, b element: b's position = a's"},
    {"velocity_copy", copy_triple<project::kWordVelocity>, "a element, b element: b's velocity = a's"},
    {"spin_copy", copy_triple<project::kWordSpin>, "a element, b element: b's spin = a's"},
    {"rotation_copy", routine_rotation_copy,
     "a element, b element: b's rotation = a's (plus a's local rotation when it has one)"},
    {"gravity", routine_gravity, "a element, b, c, d L/512 per tick: velocity += (b, c, d)"},
    {"thrust", routine_thrust, "a element, b L/512 per tick: velocity += (0, 0, b) turned by a's rotation"},
    {"thrust_xz", routine_thrust_xz, "a element, b L/512 per tick: velocity x, z += b along a's y rotation"},
    {"speed_set", routine_speed_set, "a element, b L/512 per tick: velocity = (0, 0, b) turned by a's rotation"},
    {"speed_xz_set", routine_speed_xz_set,
     "a element, b L/512 per tick: velocity x, z = b along a's y rotation; y unchanged"},
    {"attract", routine_attract,
     "a element, b element, c L/512 per tick: a's velocity += (b - a) x c / largest axis distance"},
    {"attract_xz", routine_attract_xz, "a element, b element, c L/512 per tick: attract in x and z only"},
    {"attract_y", routine_attract_y, "a element, b element, c L/512 per tick: a's velocity y += c towards b's height"},
    {"attract_point", routine_attract_point,
     "a element, b, c, d point in L/512, e L/512 per tick: attract towards the point"},
    {"attract_xr", routine_attract_r<0>,
     "a element, b 1/512 degree, c per tick: spin x += or -= c towards angle b, the shorter way"},
    {"attract_yr", routine_attract_r<1>,
     "a element, b 1/512 degree, c per tick: spin y += or -= c towards angle b, the shorter way"},
    {"attract_zr", routine_attract_r<2>,
     "a element, b 1/512 degree, c per tick: spin z += or -= c towards angle b, the shorter way"},
    {"follow", routine_follow,
     "a element, b element, c dy, d dz in L/512, e rate: a += ((P - a) >> 9) x 4e, P = b + (0, c, d) turned by b's y"},
    {"drag", routine_drag<true, true, true>,
     "a element, b k: each velocity axis v moves to 0 by (v >> 12)^2 x b / 8192 + 10 (halved on overflow)"},
    {"drag_xz", routine_drag<true, false, true>, "a element, b k: drag on x and z only"},
    {"drag_y", routine_drag<false, true, false>, "a element, b k: drag on y only"},
    {"friction", routine_friction<true, true, true>, "a element, b k in 1/512: velocity x b / 512, rounded to 0"},
    {"friction_xz", routine_friction<true, false, true>, "a element, b k in 1/512: friction on x and z only"},
    {"friction_y", routine_friction<false, true, false>, "a element, b k in 1/512: friction on y only"},
    {"friction_xr", routine_friction_r<0>, "a element, b k in 1/512: spin x = spin x x b / 512"},
    {"friction_yr", routine_friction_r<1>, "a element, b k in 1/512: spin y = spin y x b / 512"},
    {"friction_zr", routine_friction_r<2>, "a element, b k in 1/512: spin z = spin z x b / 512"},
    {"track", routine_track, "a element, b element: a turns to face b (rotation x and y)"},
    {"track_yr", routine_track_yr, "a element, b element: a's rotation y = direction_xz from a to b"},
    {"track_smooth", routine_track_smooth,
     "a element, b element, c k: a turns towards b by 1/2^c of the remaining x and y angles"},
    {"track_yr_smooth", routine_track_yr_smooth,
     "a element, b element, c k: a's rotation y turns towards b by 1/2^c of the remaining angle"},
    {"boing_x", routine_boing<0>, "a element: position x -= 4 x velocity x, then velocity x negated"},
    {"boing_y", routine_boing<1>, "a element: position y -= 4 x velocity y, then velocity y negated"},
    {"boing_z", routine_boing<2>, "a element: position z -= 4 x velocity z, then velocity z negated"},
    {"join", routine_join, "a element, b element: b takes a's position, rotation, velocity, spin (and local rotation)"},
    {"join_pos", routine_join_pos, "a element, b element: b takes a's position and velocity"},
    {"orient_straight", routine_orient_straight,
     "a element, b, c 1/512 degree: a faces the way it moves, then rotation x += b, y += c"},
    {"orient_forward", routine_orient_forward,
     "a element, b, c 1/512 degree, d strength, e friction in 1/512: orient_straight, or its spins steered there"},
    {"sight", routine_sight,
     "a element, b element, c range in L/512, d b's radius scale in 1/128 -> 1 b in a's sight, -1 not or off, 0 none"},
    {"scale_set", routine_scale_set, "a .x3d or .v3d element, b, c, d thousandths: scale x, y, z"},
    {"flat_scale_set", routine_flat_scale_set, "a .b3d element, b, c thousandths: scale x, y"},
    {"child_rot", routine_child_rot,
     "a element, b parent, c, d, e 1/512 degree: a's local rotation = (c, d, e), its rotation = b's"},
    {"child_pos", routine_child_pos,
     "a element, b parent, c, d, e L/512: a's position = b's + (c, d, e) turned by b's rotation"},
    {"push", routine_push, "a element: its position, rotation, velocity and spin pushed on the motion stack"},
    {"pop", routine_pop, "a element: the motion words on top of the stack popped into a"},
    {"rebound", routine_rebound, "a element, b element: they exchange x-z velocity along the line between them"},
    {"rebound_yr", routine_rebound_yr,
     "a element, b element: a's spin y = b's x-z speed relative to a / rebound_yr_factor, signed by side"},
    {"random_position_xz", routine_random_position_xz,
     "a element, b x1, c x2, d z1, e z2 in L/512: position x, z = random in b..c and d..e"},
};

}  // namespace

std::span<const Binding> motion_bindings() { return kBindings; }

}  // namespace engine
