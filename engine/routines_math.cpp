// Arithmetic routines: products and roots at scale 512, trigonometry in
// 1/512 degree, distances, speeds and directions between elements, ranges,
// random draws and the tick-driven helpers.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "engine/engine_local.h"
#include "platform/platform.h"

namespace engine {

using I = std::int32_t;
using Record = project::ElementRecord;

I random_draw(I lo, I hi) {
  World* w = world();
  static media::RandomState spare;  // used only when no run is active
  const platform::Input* in = run_input();
  return media::random_in(w ? w->random : spare, lo, hi, in ? in->sample_count : 0);
}

std::int64_t length_between(const Record& p, const Record& q, bool with_y) {
  std::int64_t s = 0;
  for (int axis = 0; axis < 3; ++axis) {
    if (axis == 1 && !with_y) continue;
    std::int64_t d = (static_cast<std::int64_t>(p.position[axis]) - q.position[axis]) >> 9;
    s += d * d;
  }
  return rounded_sqrt(s);
}

// The angle of (dx, w) with q = |w / dx|, as vector_angle finds it.
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

namespace {

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
ROUTINE(routine_every_tics) {
  World* w = world();
  std::uint32_t t = w ? w->ticks : 0;
  return t < static_cast<std::uint32_t>(b) && (t & (static_cast<std::uint32_t>(a) - 1)) == 0 ? kTrue : 0;
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

ROUTINE(routine_steer_angle_to) {
  Record* p = element_of(a);
  Record* q = element_of(b);
  if (!p || !q || !(p->flags & project::kFlagOn) || !(q->flags & project::kFlagOn)) return 0;
  I turn = media::normalise_angle(sub32(direction_xz(*p, *q), p->rotation[1]));
  if (turn > kHalfTurn) turn -= kFullTurn;
  return std::clamp(turn, std::min(neg32(c), c), std::max(neg32(c), c));
}

constexpr Binding kBindings[] = {
    {"factor_512", routine_factor_512, "a, b -> (a x b) >> 9, low 32 bits; -1 comes back as 0"},
    {"sqrt_512", routine_sqrt_512, "a -> sqrt(a) x 512, rounded; 0 for a <= 0"},
    {"sin_512", routine_sin_512, "a 1/512 degree -> sin(a) x 512, rounded"},
    {"cos_512", routine_cos_512, "a 1/512 degree -> cos(a) x 512, rounded"},
    {"tan_512", routine_tan_512, "a 1/512 degree -> tan(a) x 512, rounded and held in 32 bits"},
    {"atan_512", routine_atan_512, "a ratio x 512 -> atan(a / 512) in 1/512 degree"},
    {"angle", routine_angle, "a x, b y -> direction of the vector (a, b) in 1/512 degree"},
    {"distance", routine_distance, "a element, b element -> distance between them in L/512"},
    {"distance_xz", routine_distance_xz, "a element, b element -> distance in the x-z plane in L/512"},
    {"velocity", routine_velocity_length<true, false>, "a element -> length of its velocity in L per tick"},
    {"velocity_xz", routine_velocity_length<false, false>, "a element -> length of its x-z velocity in L per tick"},
    {"speed", routine_velocity_length<true, true>, "a element -> length of its velocity in L/512 per tick"},
    {"speed_xz", routine_velocity_length<false, true>, "a element -> length of its x-z velocity in L/512 per tick"},
    {"speed_lz", routine_speed_lz, "a element -> its forward speed (velocity along its own z) in L/512 per tick"},
    {"direction_xz", routine_direction_xz, "a element, b element -> direction from a to b in 1/512 degree about y"},
    {"steer_angle_to", routine_steer_angle_to,
     "a element, b element, c limit in 1/512 degree -> turn of a's y towards b, -c..c; 0 when either is off"},
    {"between", routine_between, "a value, b low, c high -> -1 when b <= a <= c, else 0"},
    {"limit", routine_limit, "a value, b low, c high -> a held in b..c (c when a >= c)"},
    {"wrap", routine_wrap, "a value, b low, c high -> a brought into b..c by multiples of c - b + 1; c when b >= c"},
    {"interpolate", routine_interpolate,
     "a x, b x0, c x1, d y0, e y1 -> y at x on the line (x0, y0)-(x1, y1); 0 when c = b"},
    {"random", routine_random, "a, b -> a pseudo-random integer between a and b, either order"},
    {"every_tics", routine_every_tics,
     "a n (power of 2), b ticks -> -1 while engine ticks < b and ticks AND (a - 1) is 0"},
    {"oscillate", routine_oscillate,
     "a amplitude, b 1/512 degree per tick, c phase -> (a x cos_512(b x ticks + c)) >> 9"},
    {"inside_area_xz", routine_inside_area_xz,
     "a element, b x1, c x2, d z1, e z2 in L/512 -> -1 when its position lies in the area, else 0"},
};

}  // namespace

std::span<const Binding> math_bindings() { return kBindings; }

}  // namespace engine
