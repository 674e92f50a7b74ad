// Races: checkpoint gates laid out by brains, racers that the tick moves on
// from gate to gate and lap to lap, places in the race, and the two vehicle
// routines racing brains lean on: `steer` and `speed_xz_limit`.
#include <cstdlib>

#include "engine/engine.h"
#include "engine/engine_local.h"

namespace engine {

namespace {

using I = std::int32_t;
using Record = project::ElementRecord;

// L to position units and back, on 32 bits as the records hold them.
I shl9(I v) { return static_cast<I>(static_cast<std::uint32_t>(v) << 9); }

// |v| of a 32-bit difference, exact for INT_MIN.
std::int64_t magnitude(I v) { return std::llabs(static_cast<std::int64_t>(v)); }

// The along-x test: e's offset along the gate (compared unsigned, so behind its
// start fails) at most the gate's length, its offset across within the radius.
bool across_x(I ex, I ez, I ax, I az, I dx, I r) {
  return static_cast<std::uint32_t>(sub32(ex, ax)) <= static_cast<std::uint32_t>(dx) && magnitude(sub32(ez, az)) <= r;
}

// Index of the racer whose element is e, or -1.
int racer_index(const Races& races, I e) {
  for (int i = 0; i < races.racers; ++i)
    if (races.racer[i].element == e) return i;
  return -1;
}

Racer* racer_of(I e) {
  World* w = world();
  if (!w) return nullptr;
  int i = racer_index(w->races, e);
  return i < 0 ? nullptr : &w->races.racer[i];
}

// Distance in L from e's position to the point (mx, mz) in L, rounded.
std::int64_t distance_to(const Record* e, std::int64_t mx, std::int64_t mz) {
  if (!e) return 0;
  std::int64_t dx = (e->position[0] >> 9) - mx, dz = (e->position[2] >> 9) - mz;
  return rounded_sqrt(dx * dx + dz * dz);
}

// ---- Gates and racers -------------------------------------------------------------------------

ROUTINE(routine_checkpoint_add) {
  World* w = world();
  if (!w || w->races.gates >= kMaxGates) return 0;
  Gate& g = w->races.gate[w->races.gates++];
  g.x1 = a >> 9, g.z1 = b >> 9, g.x2 = c >> 9, g.z2 = d >> 9;  // top and bottom stay as the slot holds them
  return 0;
}

ROUTINE(routine_checkpoint_height_set) {
  World* w = world();
  if (!w || w->races.gates == 0) return 0;
  Gate& g = w->races.gate[w->races.gates - 1];
  g.top = a >> 9, g.bottom = b >> 9;
  return 0;
}

ROUTINE(routine_checkpoint_reset) {
  if (World* w = world()) {
    for (Gate& g : w->races.gate) g = Gate{};
    w->races.gates = 0;
  }
  return 0;
}

ROUTINE(routine_checkpoint) {
  World* w = world();
  const Record* r = element_of(a);
  if (!w || !r || b < 0 || b >= w->races.gates) return 0;
  return in_gate(w->races.gate[b], *r) ? kTrue : 0;
}

ROUTINE(routine_race_on) {
  World* w = world();
  if (!w || !element_of(a) || w->races.racers >= kMaxRacers || racer_index(w->races, a) >= 0) return a;
  w->races.racer[w->races.racers++] = Racer{a, 0, 0, 0};
  return 0;
}

ROUTINE(routine_race_off) {
  World* w = world();
  int i = w ? racer_index(w->races, a) : -1;
  if (i < 0) return 0;
  Races& r = w->races;
  r.racer[i] = r.racer[r.racers - 1];
  r.racer[--r.racers] = Racer{};
  return 0;
}

ROUTINE(routine_race_lap) {
  const Racer* r = racer_of(a);
  return r ? sub32(r->lap, r->next == 0 ? 1 : 0) : -1;
}
ROUTINE(routine_race_lap_set) {
  if (Racer* r = racer_of(a)) r->lap = b;
  return 0;
}
ROUTINE(routine_race_next_checkpoint) {
  const Racer* r = racer_of(a);
  return r ? r->next : -1;
}
ROUTINE(routine_race_next_checkpoint_set) {
  if (Racer* r = racer_of(a)) r->next = b;
  return 0;
}
ROUTINE(routine_race_position) {
  World* w = world();
  return w ? race_place(w->races, a) : -1;
}

// ---- Vehicles -------------------------------------------------------------------------------

ROUTINE(routine_speed_xz_limit) {
  Record* r = element_of(a);
  if (!r) return 0;
  std::int64_t vx = r->velocity[0], vz = r->velocity[2];
  if (magnitude(r->velocity[0]) + magnitude(r->velocity[2]) <= b) return 0;
  std::int64_t limit = b >> 9;
  if (limit <= 0) return 0;
  std::int64_t v = rounded_sqrt((vx >> 9) * (vx >> 9) + (vz >> 9) * (vz >> 9));  // `velocity_xz`
  if (v <= limit) return 0;
  r->velocity[0] = low32(limit * vx / v);
  r->velocity[2] = low32(limit * vz / v);
  return 0;
}

// Turns e like a wheeled vehicle: the velocity keeps its part along the
// wheels' rolling direction and `drift` 512ths of its sideways part; the turn
// grows with the speed and reverses when e rolls backwards.
ROUTINE(routine_steer) {
  Record* r = element_of(a);
  if (!r) return 0;
  I s = low32(static_cast<std::int64_t>(b) * 85) >> 8;  // about a third of the angle
  I ry = media::normalise_angle(r->rotation[1]);
  I vx = r->velocity[0], vz = r->velocity[2];
  I t = media::normalise_angle(add32(add32(ry, kQuarterTurn), s));  // the wheels' rolling axis

  Vec3 rolling{vx, 0, vz}, sideways{0, 0, 0};
  if (t != 0) {
    Vec3 split{vx, 0, vz};
    rotate_y(split, kFullTurn - t);
    rolling = {split.x, 0, 0};
    sideways = {0, 0, split.z};
    rotate_y(rolling, t);
    rotate_y(sideways, t);
  }
  r->velocity[0] = rolling.x;
  r->velocity[2] = rolling.z;

  std::int64_t px = rolling.x >> 9, pz = rolling.z >> 9;
  I speed = low32(rounded_sqrt(px * px + pz * pz));
  s = low32(static_cast<std::int64_t>(s) * speed) >> 10;

  Vec3 heading{vx, 0, vz};
  rotate_y(heading, media::normalise_angle(neg32(ry)));
  if (heading.z < 0) s = neg32(s), speed = neg32(speed);  // reversing
  r->rotation[1] = media::normalise_angle(add32(ry, s));

  r->velocity[0] = add32(r->velocity[0], low32((static_cast<std::int64_t>(sideways.x) * c) >> 9));
  r->velocity[2] = add32(r->velocity[2], low32((static_cast<std::int64_t>(sideways.z) * c) >> 9));
  return shl9(speed);
}

constexpr Binding kBindings[] = {
    {"checkpoint_add", routine_checkpoint_add,
     "a x1, b z1, c x2, d z2 in L/512: a gate between the two ends (kept in L); ignored when 1000 exist"},
    {"checkpoint_height_set", routine_checkpoint_height_set,
     "a top, b bottom position y in L/512: the heights between which the last gate added counts"},
    {"checkpoint_reset", routine_checkpoint_reset, "every gate removed and back to no height limits (racers stay)"},
    {"checkpoint", routine_checkpoint,
     "a element, b gate from 0 -> -1 when a stands in gate b (within its radius of the gate line), else 0"},
    {"race_on", routine_race_on,
     "a element -> 0: a races from lap 0 and gate 0; a when it already races or 255 race (refused)"},
    {"race_off", routine_race_off, "a element: a races no more (the last racer takes its place in the table)"},
    {"race_lap", routine_race_lap, "a element -> laps done: -1 until it crosses gate 0; -1 when a is no racer"},
    {"race_lap_set", routine_race_lap_set, "a element, b lap counter: a's lap counter (nothing for no racer)"},
    {"race_next_checkpoint", routine_race_next_checkpoint,
     "a element -> the gate a must cross next, from 0; -1 when a is no racer"},
    {"race_next_checkpoint_set", routine_race_next_checkpoint_set,
     "a element, b gate: a's next gate (one not in use is taken as gate 0 by the next tick)"},
    {"race_position", routine_race_position,
     "a element -> its place, 1 leading: more laps, then a later next gate, then nearer its middle; -1 for no racer"},
    {"steer", routine_steer,
     "a element, b wheel angle in 1/512 degree, c drift 0..512 -> a's speed along its heading in L/512 per tick"},
    {"speed_xz_limit", routine_speed_xz_limit,
     "a element, b speed in L/512 per tick: a's x-z velocity cut down to b (limits below 512 change nothing)"},
};

}  // namespace

std::span<const Binding> race_bindings() { return kBindings; }

void reset_races(Races& races) {
  for (Gate& g : races.gate) g = Gate{};
  for (Racer& r : races.racer) r = Racer{};
  races.gates = 0;
  races.racers = 0;
}

bool in_gate(const Gate& g, const Record& e) {
  I h = e.position[1] >> 9;
  if (h > g.top || h < g.bottom) return false;
  I ex = e.position[0], ez = e.position[2];
  I r = shl9(e.radius);
  I ax = shl9(g.x1), az = shl9(g.z1);
  I dx = sub32(shl9(g.x2), ax), dz = sub32(shl9(g.z2), az);
  if (dx == 0) {  // along z
    if (dz == 0) return false;
    if (dz < 0) az = add32(az, dz), dz = neg32(dz);
    return across_x(ez, ex, az, ax, dz, r);
  }
  if (dz == 0) {  // along x
    if (dx < 0) ax = add32(ax, dx), dx = neg32(dx);
    return across_x(ex, ez, ax, az, dx, r);
  }
  // Any other direction: the gate and e's offset from its start turned onto the x axis.
  I t = media::normalise_angle(neg32(media::direction_from_vector(dz >> 9, dx >> 9)));
  Vec3 gate{dx >> 9, 0, dz >> 9};
  rotate_y(gate, t);
  Vec3 offset{sub32(ex, ax) >> 9, 0, sub32(ez, az) >> 9};
  rotate_y(offset, t);
  return across_x(add32(shl9(offset.x), ax), add32(shl9(offset.z), az), ax, az, shl9(gate.x), r);
}

void advance_racers(World& w) {
  Races& races = w.races;
  if (races.gates == 0) return;  // gate 0 is empty: no racer moves on
  for (int i = 0; i < races.racers; ++i) {
    Racer& racer = races.racer[i];
    const Record* e = element_of(racer.element);
    if (!e) continue;
    if (racer.next < 0 || racer.next >= races.gates) racer.next = 0;
    if (!in_gate(races.gate[racer.next], *e)) continue;
    if (++racer.next == races.gates) {
      racer.next = 0;
      racer.lap = add32(racer.lap, 1);
    }
  }
}

I race_place(const Races& races, I e) {
  int me = racer_index(races, e);
  if (me < 0) return -1;
  const Racer& self = races.racer[me];
  Gate none;
  const Gate& g = self.next >= 0 && self.next < kMaxGates ? races.gate[self.next] : none;
  std::int64_t mx = (std::int64_t{g.x1} + g.x2) >> 1, mz = (std::int64_t{g.z1} + g.z2) >> 1;
  std::int64_t own = -1;  // measured when a racer ties on lap and gate
  I place = 1;
  for (int i = 0; i < races.racers; ++i) {
    const Racer& o = races.racer[i];
    if (i == me || o.lap < self.lap || (o.lap == self.lap && o.next < self.next)) continue;
    if (o.lap == self.lap && o.next == self.next) {
      if (own < 0) own = distance_to(element_of(self.element), mx, mz);
      if (distance_to(element_of(o.element), mx, mz) >= own) continue;
    }
    ++place;
  }
  return place;
}

}  // namespace engine
