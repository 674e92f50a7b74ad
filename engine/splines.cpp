// Position splines for brains: 50 slots of position keys over time, read back
// as a closed (looping) path with linear or Catmull-Rom interpolation.
//
// The path loops over the keys' time span: a time t is first brought into
// [first key time, last key time) by whole spans, and the segment after the
// last key runs back to the first. A smooth loop repeats its first position as
// its last key.
#include <algorithm>
#include <cmath>

#include "engine/engine.h"
#include "engine/engine_local.h"

namespace engine {

namespace {

using I = std::int32_t;

using Spline = SplineSlot;
using Key = SplineSlot::Key;

Spline* slot(I s) {
  World* w = active_world();
  return w && s >= 0 && s < kSplineSlots ? &w->splines[s] : nullptr;
}

void remove_key(Spline& sp, double t) {
  auto end = std::remove_if(sp.key, sp.key + sp.count, [t](const Key& k) { return k.time == t; });
  sp.count = static_cast<int>(end - sp.key);
}

// A full slot keeps its keys: the new one is dropped.
void put_key(I s, double t, double x, double y, double z) {
  Spline* sp = slot(s);
  if (!sp) return;
  remove_key(*sp, t);
  if (sp->count >= kSplineKeys) return;
  Key* at = std::upper_bound(sp->key, sp->key + sp->count, t, [](double v, const Key& k) { return v < k.time; });
  std::move_backward(at, sp->key + sp->count, sp->key + sp->count + 1);
  *at = {t, {x, y, z}};
  ++sp->count;
}

// Position on the closed path at time t; false when the slot has no keys.
bool position_at(I s, double t, bool linear, double out[3]) {
  Spline* sp = slot(s);
  if (!sp || sp->count == 0) return false;
  const Key* k = sp->key;
  int n = sp->count;
  double span = k[n - 1].time - k[0].time;
  if (n == 1 || span <= 0) {
    std::copy(k[0].position, k[0].position + 3, out);
    return true;
  }
  t = k[0].time + std::fmod(t - k[0].time, span);
  if (t < k[0].time) t += span;
  // Segment i runs from key i to key i + 1 (the last segment is empty: the span
  // ends where it begins again).
  int i = static_cast<int>(std::upper_bound(k, k + n, t, [](double v, const Key& key) { return v < key.time; }) - k) - 1;
  i = std::clamp(i, 0, n - 2);
  double length = k[i + 1].time - k[i].time;
  double u = length > 0 ? (t - k[i].time) / length : 0;
  auto at = [&](int j) { return k[((j % n) + n) % n].position; };
  // The loop's neighbours skip the duplicate time where the span closes.
  const double* p0 = i == 0 ? at(n - 2) : at(i - 1);
  const double* p1 = at(i);
  const double* p2 = at(i + 1);
  const double* p3 = i + 2 >= n ? at(1) : at(i + 2);
  for (int c = 0; c < 3; ++c) {
    if (linear) {
      out[c] = p1[c] + (p2[c] - p1[c]) * u;
    } else {
      double u2 = u * u, u3 = u2 * u;
      out[c] = 0.5 * (2 * p1[c] + (p2[c] - p0[c]) * u + (2 * p0[c] - 5 * p1[c] + 4 * p2[c] - p3[c]) * u2 +
                      (3 * p1[c] - p0[c] - 3 * p2[c] + p3[c]) * u3);
    }
  }
  return true;
}

I truncated(double v) {
  if (!(v > -2147483648.0)) return v != v ? 0 : INT32_MIN;
  if (v >= 2147483647.0) return INT32_MAX;
  return static_cast<I>(v);
}

ROUTINE(routine_spline_key_add) {
  if (project::ElementRecord* r = element_of(c)) put_key(a, b, r->position[0], r->position[1], r->position[2]);
  return 0;
}
ROUTINE(routine_spline_key_set) {
  put_key(a, b, c, d, e);
  return 0;
}
ROUTINE(routine_spline_key_remove) {
  if (Spline* sp = slot(a)) remove_key(*sp, b);
  return 0;
}
ROUTINE(routine_spline) {
  project::ElementRecord* r = element_of(c);
  double p[3];
  if (r && position_at(a, b, d == 1, p))
    for (int i = 0; i < 3; ++i) r->position[i] = truncated(p[i]);
  return 0;
}
template <int Axis>
ROUTINE(routine_spline_pos) {
  double p[3];
  return position_at(a, b, c == 1, p) ? truncated(p[Axis]) : 0;
}

constexpr Binding kBindings[] = {
    {"spline_key_add", routine_spline_key_add, "a slot 0..49, b time, c element: a key at time b with c's position"},
    {"spline_key_set", routine_spline_key_set, "a slot 0..49, b time, c x, d y, e z in L/512: a key at time b"},
    {"spline_key_remove", routine_spline_key_remove, "a slot 0..49, b time: the key at time b removed"},
    {"spline", routine_spline,
     "a slot, b time, c element, d 1 linear, else curved: c's position = the looped path at time b"},
    {"spline_pos_x", routine_spline_pos<0>,
     "a slot, b time, c 1 linear, else curved -> x of the looped path at time b, L/512"},
    {"spline_pos_y", routine_spline_pos<1>,
     "a slot, b time, c 1 linear, else curved -> y of the looped path at time b, L/512"},
    {"spline_pos_z", routine_spline_pos<2>,
     "a slot, b time, c 1 linear, else curved -> z of the looped path at time b, L/512"},
};

}  // namespace

std::span<const Binding> spline_bindings() { return kBindings; }

}  // namespace engine
