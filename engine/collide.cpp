// Collisions: the pair list built from the collision matrix, the per-tick pass
// (reach, per-axis quick test, distance, rotated box footprints) and the brain
// routines that read and change the results and the matrix.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/engine.h"
#include "engine/engine_local.h"

namespace engine {

namespace {

using Record = project::ElementRecord;
using I = std::int32_t;

// Palette indexes of the channel colours: (255 - 64c, 64c, 0) for c < 4,
// (0, 255 - 64(c - 4), 64(c - 4)) for c < 8, (64(c - 8), 0, 255 - 64(c - 8)) for c < 12.
constexpr std::uint8_t kChannelColours[kChannels] = {188, 128, 62, 32, 27, 17, 12, 7, 42, 112, 183};

constexpr std::int32_t kFarApart = 2147483647;

const I* corners(const Record& r) { return reinterpret_cast<const I*>(&r) + kWordBoxCorners; }

bool active(const Record& r) {
  return (r.flags & (project::kFlagOn | project::kFlagCollisions)) == (project::kFlagOn | project::kFlagCollisions);
}
bool box_mode(const Record& r) { return r.flags & project::kFlagBoxCollisions; }

// Reach in L: the radii, or the box half-sizes when both use their boxes.
std::int64_t reach(const Record& a, const Record& b) {
  if (box_mode(a) && box_mode(b)) return std::int64_t{a.box_half_size} + b.box_half_size;
  return std::int64_t{a.radius} + b.radius;
}

// Euclidean distance in L of two positions, 2147483647 when a square or the sum
// leaves 32 bits.
std::int32_t distance_l(const Record& a, const Record& b) {
  std::int64_t sum = 0;
  for (int k = 0; k < 3; ++k) {
    std::int64_t d = (std::int64_t{a.position[k]} - b.position[k]) >> 9;
    std::int64_t square = d * d;
    if (square > kFarApart) return kFarApart;
    sum += square;
    if (sum > kFarApart) return kFarApart;
  }
  return static_cast<std::int32_t>(media::isqrt(static_cast<std::uint32_t>(sum)));
}

// A footprint corner in L, 64-bit so that any record words stay exact.
struct Point {
  std::int64_t x, z;
};

// The four horizontal box corners turned about Y by the element's rotation y
// (table rotation, products shifted before the sum) and moved to its position.
void footprint(const Record& r, Point out[4]) {
  const I* c = corners(r);
  const I xs[4] = {c[0], c[3], c[3], c[0]};
  const I zs[4] = {c[2], c[2], c[5], c[5]};
  std::int64_t s = media::table_sin(r.rotation[1]), k = media::table_cos(r.rotation[1]);
  bool turn = (media::normalise_angle(r.rotation[1]) >> 6) != 0;
  for (int i = 0; i < 4; ++i) {
    std::int64_t x = xs[i], z = zs[i];
    if (turn) {
      std::int64_t nz = ((k * z) >> 15) + ((s * x) >> 15);
      std::int64_t nx = ((k * x) >> 15) - ((s * z) >> 15);
      x = nx, z = nz;
    }
    out[i] = {x + (r.position[0] >> 9), z + (r.position[2] >> 9)};
  }
}

// Whether a corner of `points` lies inside the parallelogram `shape` (edges from
// its first corner to the second and to the fourth; parameters in [0, 1)).
// A degenerate parallelogram contains nothing.
bool any_corner_inside(const Point points[4], const Point shape[4]) {
  __int128 e1x = shape[1].x - shape[0].x, e1z = shape[1].z - shape[0].z;
  __int128 e2x = shape[3].x - shape[0].x, e2z = shape[3].z - shape[0].z;
  __int128 den = e1x * e2z - e1z * e2x;
  if (den == 0) return false;
  for (int i = 0; i < 4; ++i) {
    __int128 dx = points[i].x - shape[0].x, dz = points[i].z - shape[0].z;
    __int128 s = dx * e2z - dz * e2x;  // s / den along e1
    __int128 t = e1x * dz - e1z * dx;  // t / den along e2
    if (den < 0) s = -s, t = -t;
    __int128 d = den < 0 ? -den : den;
    if (s >= 0 && s < d && t >= 0 && t < d) return true;
  }
  return false;
}

bool boxes_touch(const Record& a, const Record& b) {
  const I* ca = corners(a);
  const I* cb = corners(b);
  // Vertical: upper edge from the first corner's y, lower from the second's, in sub-units.
  std::int64_t a_top = std::int64_t{ca[1]} * 512 + a.position[1], a_bottom = std::int64_t{ca[4]} * 512 + a.position[1];
  std::int64_t b_top = std::int64_t{cb[1]} * 512 + b.position[1], b_bottom = std::int64_t{cb[4]} * 512 + b.position[1];
  if (b_top < a_bottom || a_top < b_bottom) return false;
  Point fa[4], fb[4];
  footprint(a, fa);
  footprint(b, fb);
  return any_corner_inside(fa, fb) || any_corner_inside(fb, fa);
}

// Steps 2 to 4 of the pass once the reach is known (reach512 = reach in sub-units).
bool touching_within(const Record& a, const Record& b, std::int64_t r) {
  if (r <= 0) return false;
  std::int64_t reach512 = r << 9;  // |d| >> 9 < r  <=>  |d| < r * 512
  for (int k = 0; k < 3; ++k)
    if (std::llabs(std::int64_t{a.position[k]} - b.position[k]) >= reach512) return false;
  std::int32_t d = distance_l(a, b);
  if (d == kFarApart || d > r) return false;  // overflow counts as far apart
  return !(box_mode(a) && box_mode(b)) || boxes_touch(a, b);
}

int last_index(const World& world) { return std::min(world.highest, project::kMaxElements - 1); }

}  // namespace

std::int32_t channel_colour(int channel) {
  return channel >= 1 && channel <= kChannels ? kChannelColours[channel - 1] : 0;
}

bool touching(const Record& a, const Record& b) { return touching_within(a, b, reach(a, b)); }

void build_pairs(World& world) {
  Collisions& c = world.collisions;
  // Contacts of the old list mean nothing for the new one.
  for (int i = 0; i < c.touched_count; ++i) c.contact[c.touched[i]] = 0;
  c.touched_count = 0;
  std::memset(c.colour_hit, 0, sizeof c.colour_hit);
  // Elements that leave the list keep no stale contacts.
  for (int e = 0; world.tables.elements && e < project::kMaxElements; ++e)
    if (c.paired[e]) world.tables.elements[e].collision_result = 0;
  std::memset(c.paired, 0, sizeof c.paired);
  std::fill(std::begin(c.pair_of), std::end(c.pair_of), kNoPair);
  c.count = 0;
  c.stale = false;
  const std::uint8_t* matrix = world.tables.collision;
  if (!matrix) return;
  int last = last_index(world);
  // Upper triangle only: row = smaller index. The bytes below the diagonal
  // carry project settings (row 254), and bytes of 12 or more name no channel.
  for (int row = 0; row < last; ++row)
    for (int column = row + 1; column <= last; ++column) {
      std::uint8_t channel = matrix[row * project::kMaxElements + column];
      if (channel == 0 || channel > kChannels) continue;
      c.pair_a[c.count] = static_cast<std::uint8_t>(column);
      c.pair_b[c.count] = static_cast<std::uint8_t>(row);
      c.colour[c.count] = kChannelColours[channel - 1];
      c.contact[c.count] = 0;
      c.paired[row] = c.paired[column] = true;
      c.pair_of[row * project::kMaxElements + column] = static_cast<std::uint16_t>(c.count);
      ++c.count;
    }
  c.order_count = 0;
  for (int e = 0; e <= last; ++e)
    if (c.paired[e]) c.order[c.order_count++] = static_cast<std::uint8_t>(e);
}

void collision_setup(World& world) {
  world.collisions.ready = true;
  build_pairs(world);
  Record* records = world.tables.elements;
  if (!records) return;
  for (int i = 0; i <= last_index(world); ++i) {
    Record& r = records[i];
    const I* k = corners(r);
    if (r.radius < 1) {
      std::int64_t sum = (std::int64_t{k[0]} - k[3]) + (std::int64_t{k[1]} - k[4]) + (std::int64_t{k[2]} - k[5]);
      std::int64_t radius = std::llabs(sum / 6);
      r.radius = static_cast<I>(std::min<std::int64_t>(radius, kFarApart));
    }
    // The largest horizontal corner distance, unless a square would reach 2^30.
    const I xz[4] = {k[0], k[3], k[2], k[5]};
    bool fits = true;
    for (I v : xz) fits = fits && std::int64_t{v} * v < (std::int64_t{1} << 30);
    if (fits) {
      std::uint32_t half = 0;
      for (I x : {k[0], k[3]})
        for (I z : {k[2], k[5]})
          half = std::max(half, media::isqrt(static_cast<std::uint32_t>(x * x + z * z)));
      r.box_half_size = static_cast<I>(half);
    } else {
      r.box_half_size = r.radius;
    }
    r.collision_result = 0;
  }
}

void collision_pass(World& world) {
  Collisions& c = world.collisions;
  if (!c.ready) collision_setup(world);
  if (c.stale) build_pairs(world);
  Record* records = world.tables.elements;
  if (!records) return;

  // 1: last tick's contacts and the result bits of every paired element.
  for (int i = 0; i < c.touched_count; ++i) {
    c.colour_hit[c.contact[c.touched[i]]] = false;
    c.contact[c.touched[i]] = 0;
  }
  c.touched_count = 0;
  int last = last_index(world);
  for (int e = 0; e <= last; ++e)
    if (c.paired[e]) records[e].collision_result = 0;

  // 2: a snapshot of what the quick test needs, so the pair loop stays in
  // cache and takes one branch per pair. An element that is off or has
  // collisions off gets a reach so negative that no pair of it passes.
  struct Body {
    std::int64_t x, y, z;
    std::int64_t radius, half;  // L
    std::int64_t box;           // 1 with box collisions
  };
  constexpr std::int64_t kNoReach = -(std::int64_t{1} << 40);
  Body bodies[project::kMaxElements];
  for (int k = 0; k < c.order_count; ++k) {
    int e = c.order[k];
    const Record& r = records[e];
    bool on = active(r);
    bodies[e] = {r.position[0], r.position[1], r.position[2], on ? r.radius : kNoReach, on ? r.box_half_size : kNoReach,
                 box_mode(r) ? 1 : 0};
  }
  // The quick test on x as a sweep: paired elements sorted by x (nearly
  // sorted from the last pass, so insertion sort is linear); each element
  // meets only the ones after it that lie within the largest reach, and then
  // only when their pair is declared. Contacts are ORed, so their order does
  // not matter.
  std::int64_t widest = 0;  // the largest radius or box half-size of an active element
  for (int k = 0; k < c.order_count; ++k) {
    const Body& b = bodies[c.order[k]];
    widest = std::max({widest, b.radius, b.half});
  }
  for (int k = 1; k < c.order_count; ++k) {
    std::uint8_t e = c.order[k];
    int j = k;
    for (; j > 0 && bodies[c.order[j - 1]].x > bodies[e].x; --j) c.order[j] = c.order[j - 1];
    c.order[j] = e;
  }
  for (int k = 0; k < c.order_count; ++k) {
    int p = c.order[k];
    const Body& a = bodies[p];
    std::int64_t own = std::max({std::int64_t{0}, a.radius, a.half});
    if (own == 0 && a.radius == kNoReach) continue;  // inactive: none of its pairs is tested
    std::int64_t window = (own + widest) * 512;
    for (int m = k + 1; m < c.order_count; ++m) {
      int q = c.order[m];
      const Body& b = bodies[q];
      if (b.x - a.x >= window) break;  // every later element is farther on x
      int lo = std::min(p, q), hi = std::max(p, q);
      std::uint16_t i = c.pair_of[lo * project::kMaxElements + hi];
      if (i == kNoPair) continue;
      std::int64_t r = (a.box & b.box) ? a.half + b.half : a.radius + b.radius;
      std::int64_t far = std::max({std::llabs(a.x - b.x), std::llabs(a.y - b.y), std::llabs(a.z - b.z)});
      if (far >= r * 512) continue;  // |d| >> 9 < r on every axis (never for r <= 0)
      Record& ra = records[hi];
      Record& rb = records[lo];
      if (!touching_within(ra, rb, r)) continue;
      ra.collision_result |= rb.collision_code;
      rb.collision_result |= ra.collision_code;
      c.contact[i] = c.colour[i];
      c.colour_hit[c.colour[i]] = true;
      c.touched[c.touched_count++] = i;
    }
  }
}

// ---- Brain routines ------------------------------------------------------------------------------

namespace {

ROUTINE(routine_collision) {
  const Record* r = element_of(a);
  return r ? r->collision_result & b : 0;
}

// -1 when some pair's contact code is a this tick (0: some pair did not touch).
ROUTINE(routine_collision_color) {
  World* w = active_world();
  if (!w) return 0;
  const Collisions& list = w->collisions;
  if (a == 0) return list.count > list.touched_count ? -1 : 0;
  return a > 0 && a < 256 && list.colour_hit[a] ? -1 : 0;
}

// Result bits of `count` elements from `first` (none beyond the last), AND mask.
I collision_bits(I first, I count, I mask) {
  const Record* r = element_of(first);
  World* w = active_world();
  if (!r || !w) return 0;
  int i = static_cast<int>(r - element_table());
  I bits = 0;
  for (I n = 0; n < count && i <= last_index(*w); ++n, ++i) bits |= element_table()[i].collision_result;
  return bits & mask;
}
ROUTINE(routine_collision_list) { return collision_bits(a, b, c); }
// Elements from a up to the one before b, as `on_range` counts them.
ROUTINE(routine_collision_range) {
  if (!element_of(a) || !element_of(b)) return 0;
  return collision_bits(a, (b - a) / static_cast<I>(sizeof(Record)), c);
}

// The matrix byte of the pair of two distinct elements, in the upper triangle.
std::uint8_t* matrix_byte(World& w, I a, I b) {
  const Record* ra = element_of(a);
  const Record* rb = element_of(b);
  if (!ra || !rb || ra == rb || !w.tables.collision) return nullptr;
  int i = static_cast<int>(ra - element_table()), j = static_cast<int>(rb - element_table());
  return w.tables.collision + std::min(i, j) * project::kMaxElements + std::max(i, j);
}

ROUTINE(routine_collision_map) {
  World* w = active_world();
  const std::uint8_t* byte = w ? matrix_byte(*w, a, b) : nullptr;
  return byte && *byte <= kChannels ? *byte : 0;
}

// Kinds whose pairs brains may declare: cameras, 3D shapes, flat shapes, visuals, meshes.
bool may_collide(const Record& r) {
  for (const char* tag : {".a3d", ".v3d", ".03d", ".x3d", ".b3d"})
    if (has_tag(r, tag)) return true;
  return false;
}

ROUTINE(routine_collision_map_set) {
  World* w = active_world();
  std::uint8_t* byte = w ? matrix_byte(*w, a, b) : nullptr;
  if (!byte || static_cast<std::uint32_t>(c) > kChannels) return 0;
  if (!may_collide(*element_of(a)) || !may_collide(*element_of(b))) return 0;
  if (*byte != c) {
    *byte = static_cast<std::uint8_t>(c);
    w->collisions.stale = true;  // this tick's contacts stay readable; the next pass rebuilds
  }
  return 0;
}

ROUTINE(routine_collision_check) {
  const Record* ra = element_of(a);
  const Record* rb = element_of(b);
  return ra && rb && touching(*ra, *rb) ? -1 : 0;
}

template <std::int32_t Flag, bool On>
ROUTINE(routine_flag) {
  if (Record* r = element_of(a)) r->flags = On ? (r->flags | Flag) : (r->flags & ~Flag);
  return 0;
}

constexpr Binding kCollisionBindings[] = {
    {"collision", routine_collision, "a element, b mask -> a's collision result bits this tick AND b"},
    {"collision_color", routine_collision_color,
     "a colour code -> -1 when some pair touched on that channel colour this tick, else 0"},
    {"collision_list", routine_collision_list,
     "a first element, b count, c mask -> OR of the result bits of b elements from a, AND c"},
    {"collision_range", routine_collision_range,
     "a element, b element, c mask -> OR of the result bits of a up to the one before b, AND c"},
    {"collision_map", routine_collision_map, "a element, b element -> channel 0..11 of their pair"},
    {"collision_map_set", routine_collision_map_set,
     "a element, b element, c channel 0..11: their pair's channel (shapes, visuals, cameras only)"},
    {"collision_check", routine_collision_check,
     "a element, b element -> -1 when they touch now, else 0 (nothing recorded)"},
    {"collisions_on", routine_flag<project::kFlagCollisions, true>, "a element: its collisions on (flags bit 7)"},
    {"collisions_off", routine_flag<project::kFlagCollisions, false>, "a element: its collisions off (flags bit 7)"},
    {"box_collisions_on", routine_flag<project::kFlagBoxCollisions, true>,
     "a element: box collisions on (flags bit 8)"},
    {"box_collisions_off", routine_flag<project::kFlagBoxCollisions, false>,
     "a element: box collisions off (flags bit 8)"},
};

}  // namespace

std::span<const Binding> collision_bindings() { return kCollisionBindings; }

}  // namespace engine
