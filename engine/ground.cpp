// Ground: the height query over the current ground map or the ground element's
// terrain grid, the ground maps (".m3d") that boundary elements load or build
// from their models, the terrain grids of ground shapes, and the ground keywords.
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/engine_local.h"
#include "engine/ground_local.h"
#include "platform/platform.h"
#include "base/files.h"
#include "base/log.h"

namespace engine {

namespace {

using I = std::int32_t;
using Record = project::ElementRecord;
using project::AspectRecord;

constexpr long kMaxModelBytes = 64L << 20;  // a boundary model read for its checksum

bool tagged(const AspectRecord& a, std::string_view extension) {
  AspectRecord want{};
  project::write_tag(want, extension);
  return std::memcmp(a.tag, want.tag, 4) == 0;
}

template <typename T>
const T* at_address(std::int32_t address) {
  return reinterpret_cast<const T*>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(address)));
}

// A plane height in L rounded to the nearest integer, inside 32 bits.
std::int64_t rounded_l(double v) { return std::llround(std::clamp(v, -2147483648.0, 2147483647.0)); }

// ---- Triangles --------------------------------------------------------------------------------

// Plane of a triangle: A (x - x0) + D (y - y0) + B (z - z0) = 0, exact.
struct Plane {
  __int128 a, b, d;
};
Plane plane_of(const I* t) {
  __int128 x0 = t[0], y0 = t[1], z0 = t[2], x1 = t[3], y1 = t[4], z1 = t[5], x2 = t[6], y2 = t[7], z2 = t[8];
  return {(y1 - y0) * (z2 - z0) - (z1 - z0) * (y2 - y0), (x1 - x0) * (y2 - y0) - (y1 - y0) * (x2 - x0),
          (z1 - z0) * (x2 - x0) - (x1 - x0) * (z2 - z0)};
}

// Height in L of a triangle's plane at (px, pz), exact and truncated; y0 when upright.
std::int64_t plane_height(const I* t, std::int64_t px, std::int64_t pz) {
  Plane p = plane_of(t);
  if (p.d == 0) return t[1];
  __int128 h = (static_cast<__int128>(t[1]) * p.d + (t[0] - px) * p.a + (t[2] - pz) * p.b) / p.d;
  return static_cast<std::int64_t>(std::clamp<__int128>(h, INT32_MIN, INT32_MAX));
}

// Angle (1/512 degree) at which the ground's plane rises along the horizontal
// direction (fx, fz) (Q15): positive uphill, by the arctangent table.
I rise_angle(const I* t, I fx, I fz) {
  Plane p = plane_of(t);
  if (p.d == 0) return 0;
  __int128 rise = -(p.a * fx + p.b * fz), run = p.d * 32768;
  if (run < 0) rise = -rise, run = -run;
  __int128 q = (rise < 0 ? -rise : rise) * 1024 / run;
  I angle = (q >= 512000 ? 720 : media::atan_index(static_cast<std::int64_t>(q))) * 64;
  return rise < 0 ? -angle : angle;
}

// ---- The ground-map area ----------------------------------------------------------------------

// Free bytes of the ground-map area after the blocks and grids of the aspects
// loaded so far in this run; null when the area has no room.
std::byte* take_ground(const project::Tables& t, const project::AspectLoad& load, std::size_t bytes) {
  std::span<std::byte> area = base::area(base::Area::ground_maps);
  if (area.empty() || !t.aspects) return nullptr;
  std::uintptr_t start = reinterpret_cast<std::uintptr_t>(area.data()), end = start + area.size(), next = start;
  for (int i = 0; i < load.used && i < project::kMaxAspects; ++i) {
    const AspectRecord& a = t.aspects[i];
    bool map = tagged(a, ".m3d");
    if (!map && !tagged(a, ".a3d")) continue;
    auto at = static_cast<std::uint32_t>(a.word[map ? int{kMapTriangles} : int{kTerrainGrid}]);
    auto size = static_cast<std::uint32_t>(a.word[map ? int{kMapBytes} : int{kTerrainBytes}]);
    if (at >= start && at < end) next = std::max<std::uintptr_t>(next, at + size);
  }
  next = (next + 3) & ~std::uintptr_t{3};
  if (next > end || bytes > end - next) return nullptr;
  return reinterpret_cast<std::byte*>(next);
}

// ---- Loading and building maps -------------------------------------------------------------

void inform(std::string_view text) {
  World* w = world();
  if (w && w->information.show) w->information.show(w->information.context, text);
}

bool read_whole(std::string_view path, long limit, std::vector<std::byte>& out) {
  long size = base::file_size(path);
  if (size < 0 || size > limit) return false;
  out.resize(static_cast<std::size_t>(size));
  return size == 0 || base::read_file_at(path, 0, out) == size;
}

// A checked ".m3d" file into record: header words, then its blocks in the
// ground-map area with their addresses. A damaged map leaves the record
// without ground (flat at height 0), said in one line on stderr.
void install_map(project::LoaderCall& c, AspectRecord& record, std::span<const std::byte> file, std::string_view name) {
  const char* why = media::check_ground_map(file);
  std::byte* blocks = why ? nullptr : take_ground(c.tables, c.load, file.size() - media::kMapHeaderBytes);
  if (!why && !blocks) why = "no room left for ground maps";
  if (why) {
    base::report("ground", "%.*s: %s; the ground is flat at height 0", static_cast<int>(name.size()), name.data(), why);
    return;
  }
  std::memcpy(record.word, file.data() + 4, sizeof record.word);
  std::memcpy(blocks, file.data() + media::kMapHeaderBytes, file.size() - media::kMapHeaderBytes);
  std::uint32_t block1 = base::address32(blocks);
  record.word[kMapTriangles] = static_cast<I>(block1);
  record.word[kMapCellTable] = static_cast<I>(block1 + media::ground_map_triangle_bytes(file));
  record.word[kMapBytes] = static_cast<I>(file.size() - media::kMapHeaderBytes);
}

void load_map_file(project::LoaderCall& c, AspectRecord& record, std::string_view path) {
  std::vector<std::byte> file;
  if (!read_whole(path, static_cast<long>(media::kMapHeaderBytes + media::kMaxMapBytes), file)) {
    base::report("ground", "%.*s: missing, unreadable or too large; the ground is flat at height 0",
                 static_cast<int>(path.size()), path.data());
    return;
  }
  install_map(c, record, file, path);
}

// The checksum an ".m3d" file holds, or 0 when it has none.
std::uint32_t stored_checksum(std::string_view path) {
  std::byte header[media::kMapChecksumField + 4];
  if (base::read_file_at(path, 0, header) != static_cast<long>(sizeof header)) return 0;
  return media::ground_map_checksum(header);
}

bool extension_is(std::string_view path, std::string_view extension) {
  return path.size() >= extension.size() &&
         strncasecmp(path.data() + path.size() - extension.size(), extension.data(), extension.size()) == 0;
}

// ---- Terrain grids ----------------------------------------------------------------------------

// The faces of a ground shape in buckets of the x-z plane, to find the faces
// over a point quickly while a grid is built.
struct FaceBuckets {
  static constexpr int kSide = 64;
  std::span<const GroundTriangle> faces;
  std::int64_t reach = 1;  // the buckets cover -reach..reach on x and z
  std::vector<std::vector<int>> bucket;

  int index(double v) const {
    return std::clamp(static_cast<int>(std::floor((v + reach) * kSide / (2.0 * reach))), 0, kSide - 1);
  }
  FaceBuckets(std::span<const GroundTriangle> f, std::int64_t r) : faces(f), reach(std::max<std::int64_t>(r, 1)) {
    bucket.resize(kSide * kSide);
    for (int k = 0; k < static_cast<int>(faces.size()); ++k) {
      const I* t = faces[k].v;
      if (!media::ground_triangle_has_area(t)) continue;
      double lx = std::min({t[0], t[3], t[6]}), hx = std::max({t[0], t[3], t[6]});
      double lz = std::min({t[2], t[5], t[8]}), hz = std::max({t[2], t[5], t[8]});
      for (int bz = index(lz); bz <= index(hz); ++bz)
        for (int bx = index(lx); bx <= index(hx); ++bx) bucket[bz * kSide + bx].push_back(k);
    }
  }
  // The highest face over (x, z): its height (L) and colour; false when none.
  bool highest(double x, double z, double& y, int& colour) const {
    bool any = false;
    for (int k : bucket[index(z) * kSide + index(x)]) {
      const I* t = faces[k].v;
      double u, v;
      constexpr double kEdge = 1e-9;  // lattice points on a face's edge count
      if (!media::ground_barycentric(t, x, z, u, v) || u < -kEdge || v < -kEdge || u + v > 1 + kEdge) continue;
      double h = t[1] + u * (static_cast<double>(t[4]) - t[1]) + v * (static_cast<double>(t[7]) - t[1]);
      if (!any || h > y) y = h, colour = faces[k].colour;
      any = true;
    }
    return any;
  }
};

// ---- Choosing the ground ---------------------------------------------------------------------

// A ground shape's grid, checked against its record and the ground-map area.
const I* grid_of(const AspectRecord& a) {
  I n = a.word[kTerrainCells];
  if (n < 1 || n > kMaxTerrainCells || !a.word[kTerrainGrid]) return nullptr;
  std::size_t bytes = 8 + static_cast<std::size_t>(n) * n * kTerrainTriangleWords * 8;
  const I* grid = at_address<I>(a.word[kTerrainGrid]);
  if (static_cast<std::uint32_t>(a.word[kTerrainBytes]) != bytes || !base::in_budget(grid, bytes) || grid[0] < 1 ||
      grid[1] != n)
    return nullptr;
  return grid;
}

// At the run's first ground query: the first boundary element's map is
// current, and the first ground shape is the ground element.
void choose(World& w) {
  Ground& g = w.ground;
  if (g.chosen) return;
  g.chosen = true;
  for (int i = 0; w.tables.elements && i <= w.highest && i < project::kMaxElements; ++i) {
    const AspectRecord* a = aspect_at(w.tables.elements[i].current_aspect);
    if (!a) continue;
    if (!g.map && tagged(*a, ".m3d")) g.map = a;
    if (g.element < 0 && tagged(*a, ".a3d"))
      if (const I* grid = grid_of(*a)) g.element = i, g.grid = grid;
  }
}

std::int32_t terrain_height(World& w, I x, I z) {
  Ground& g = w.ground;
  std::int64_t s = g.grid[0], n = g.grid[1], half = s * n / 2;
  std::int64_t px = x >> 9, pz = z >> 9;
  if (std::llabs(px) >= half || std::llabs(pz) >= half) return 0;
  std::int64_t cx = (half + px) / s, cz = (half - pz) / s;
  const I* cell = g.grid + 2 + (cz * n + cx) * 2 * kTerrainTriangleWords;
  bool second = (cx * s - (half + px)) < -((cz * s - (half - pz)) + s);
  const I* t = cell + (second ? kTerrainTriangleWords : 0);
  g.found = true;
  std::copy(t, t + 9, g.triangle.v);
  g.triangle.colour = t[9];
  g.base_y = w.tables.elements[g.element].position[1];
  return low32(plane_height(t, px, pz) * 512 + g.base_y);
}

// ---- Keyword helpers -----------------------------------------------------------------------------

// The ground under element e (sub-units); `w.ground` keeps the triangle.
I ground_under(World& w, const Record& e) {
  return ground_height(w, e.position[0], e.position[1], e.position[2], e.radius);
}

// Rotation toward target by its difference over 2^k, the shorter way round.
I turned_toward(I rotation, I target, I k) {
  I from = media::normalise_angle(rotation);
  I d = sub32(media::normalise_angle(target), from);
  if (d > kHalfTurn) d -= kFullTurn;
  else if (d < -kHalfTurn) d += kFullTurn;
  return add32(from, d >> std::clamp(k, 0, 31));
}

// The velocity of e scaled by f / 512 (truncating).
I scaled(I v, I f) { return low32(static_cast<std::int64_t>(v) * f / 512); }

// The ground as a solid volume under e: when e's position y lies below the
// ground + h it is put back on it, a fall bounces back by bounce / 512 and the
// horizontal velocity keeps friction / 512; then slide pushes it downhill.
I volume_contact(I a, I h, I bounce, I friction, I slide) {
  World* w = world();
  Record* e = element_of(a);
  if (!w || !e) return 0;
  std::int64_t floor = std::int64_t{ground_under(*w, *e)} + h;
  if (e->position[1] >= floor) return 0;
  e->position[1] = low32(floor);
  if (e->velocity[1] < 0) e->velocity[1] = scaled(neg32(e->velocity[1]), bounce);
  e->velocity[0] = scaled(e->velocity[0], friction);
  e->velocity[2] = scaled(e->velocity[2], friction);
  if (slide && w->ground.found) {
    Plane p = plane_of(w->ground.triangle.v);  // downhill is (A, B) / D
    if (p.d != 0) {
      auto push = [&](__int128 part) {
        return static_cast<I>(std::clamp<__int128>(part * slide / p.d, INT32_MIN, INT32_MAX));
      };
      e->velocity[0] = add32(e->velocity[0], push(p.a));
      e->velocity[2] = add32(e->velocity[2], push(p.b));
    }
  }
  return kTrue;
}

// ---- Keywords ------------------------------------------------------------------------------

ROUTINE(routine_ground_level) {
  World* w = world();
  const Record* r = element_of(a);
  return w && r ? ground_under(*w, *r) : 0;
}

ROUTINE(routine_above_ground_level) {
  World* w = world();
  const Record* r = element_of(a);
  return w && r ? sub32(r->position[1], ground_under(*w, *r)) : 0;
}

ROUTINE(routine_ground_slope) {
  World* w = world();
  const Record* r = element_of(a);
  if (!w || !r) return 0;
  ground_under(*w, *r);
  if (!w->ground.found) return 0;
  I ry = r->rotation[1];
  return neg32(rise_angle(w->ground.triangle.v, neg32(media::table_sin(ry)), media::table_cos(ry)));
}

ROUTINE(routine_ground_color) {
  World* w = world();
  const Record* r = element_of(a);
  if (!w || !r) return 0;
  ground_under(*w, *r);
  return w->ground.found ? w->ground.triangle.colour : -1;
}

ROUTINE(routine_ground_set) {
  World* w = world();
  if (!w) return 0;
  const Record* r = element_of(a);
  if (a != 0 && (!r || !has_tag(*r, ".m3d"))) return 0;
  choose(*w);
  w->ground.map = a == 0 ? nullptr : aspect_at(r->current_aspect);
  return 0;
}

ROUTINE(routine_over_ground) {
  World* w = world();
  Record* r = element_of(a);
  if (!w || !r) return 0;
  r->position[1] = add32(ground_under(*w, *r), b);
  return w->ground.found ? kTrue : 0;
}

ROUTINE(routine_over_ground_g) {
  World* w = world();
  Record* r = element_of(a);
  if (!w || !r) return 0;
  I floor = add32(ground_under(*w, *r), b);
  if (r->position[1] > floor) {
    r->velocity[1] = sub32(r->velocity[1], c);
    return 0;
  }
  r->position[1] = floor;
  if (r->velocity[1] < 0) r->velocity[1] = 0;
  return kTrue;
}

ROUTINE(routine_over_ground_slope) {
  World* w = world();
  Record* r = element_of(a);
  if (!w || !r) return 0;
  r->position[1] = add32(ground_under(*w, *r), b);
  I pitch = 0, roll = 0, ry = r->rotation[1];
  if (w->ground.found) {
    I s = media::table_sin(ry), k = media::table_cos(ry);
    pitch = neg32(rise_angle(w->ground.triangle.v, neg32(s), k));
    roll = rise_angle(w->ground.triangle.v, k, s);
  }
  r->rotation[0] = turned_toward(r->rotation[0], pitch, c);
  r->rotation[2] = turned_toward(r->rotation[2], roll, c);
  return w->ground.found ? kTrue : 0;
}

// Rebound off ground of colour b ahead of element a: each horizontal velocity component
// whose step alone would take e onto it is reversed (both when only the
// diagonal step does).
ROUTINE(routine_boundary_rebound) {
  World* w = world();
  Record* r = element_of(a);
  if (!w || !r) return 0;
  I x = r->position[0], y = r->position[1], z = r->position[2], vx = r->velocity[0], vz = r->velocity[2];
  auto colour_at = [&](I px, I pz) {
    ground_height(*w, px, y, pz, r->radius);
    return w->ground.found ? w->ground.triangle.colour : -1;
  };
  if (colour_at(add32(x, vx), add32(z, vz)) != b) return 0;
  bool hit_x = colour_at(add32(x, vx), z) == b, hit_z = colour_at(x, add32(z, vz)) == b;
  if (!hit_x && !hit_z) hit_x = hit_z = true;
  if (hit_x) r->velocity[0] = neg32(vx);
  if (hit_z) r->velocity[2] = neg32(vz);
  return kTrue;
}

// `inside_volume` (e): whether e's position lies inside the ground's solid
// volume (below the ground under it, or below 0 where there is none), where
// volume_rebound would put it back.
ROUTINE(routine_inside_volume) {
  World* w = world();
  const Record* r = element_of(a);
  if (!w || !r) return 0;
  return r->position[1] < ground_under(*w, *r) ? kTrue : 0;
}

ROUTINE(routine_volume_rebound) { return volume_contact(a, b, c, d, 0); }
ROUTINE(routine_volume_slide) { return volume_contact(a, b, c, d, e); }

constexpr Binding kBindings[] = {
    {"ground_level", routine_ground_level,
     "a element -> height of the ground under it in L/512 (0 where there is none)"},
    {"above_ground_level", routine_above_ground_level, "a element -> its position y less the ground's height, in L/512"},
    {"ground_slope", routine_ground_slope,
     "a element -> the rotation x in 1/512 degree that lays its nose along the ground (+: ground falls ahead)"},
    {"ground_color", routine_ground_color,
     "a element -> colour 0..255 of the ground under it (ground maps: 0); -1 where there is none"},
    {"ground_set", routine_ground_set,
     "a boundary element: its ground map answers height queries; 0: none (the ground shape's grid answers)"},
    {"over_ground", routine_over_ground,
     "a element, b height in L/512: its position y = ground + b -> -1 when ground was found, else 0"},
    {"over_ground_g", routine_over_ground_g,
     "a element, b height, c gravity in L/512 per tick: falls by c while above ground + b, else stands there -> -1 standing"},
    {"over_ground_slope", routine_over_ground_slope,
     "a element, b height in L/512, c k: at ground + b, rotation x and z turn 1/2^k of the way to the slope -> -1 on ground"},
    {"boundary_rebound", routine_boundary_rebound,
     "a element, b colour (-1: no ground) -> -1 when ground of colour b lay ahead and its x-z velocity bounced off it"},
    {"inside_volume", routine_inside_volume, "a element -> -1 when its position lies below the ground under it (none: below 0), else 0"},
    {"volume_rebound", routine_volume_rebound,
     "a element, b height in L/512, c bounce, d friction in 512ths -> -1 when it sank below ground + b and was put back"},
    {"volume_slide", routine_volume_slide,
     "a element, b height, c bounce, d friction, e slide (L/512 per tick on 45 degrees) -> as volume_rebound, pushed downhill"},
};

}  // namespace

std::span<const Binding> ground_bindings() { return kBindings; }

// ---- Height query --------------------------------------------------------------------------

std::int32_t map_height(const AspectRecord& map, I x, I y, I z, I r, GroundTriangle& triangle, bool& found) {
  found = false;
  const auto* block1 = at_address<std::byte>(map.word[kMapTriangles]);
  const auto* table = at_address<std::uint32_t>(map.word[kMapCellTable]);
  std::int64_t extent = map.word[kMapExtent];
  if (!block1 || !table || extent <= 0) return 0;
  std::int64_t px = x >> 9, pz = z >> 9, half = extent / 2;
  if (px + half < 0 || pz + half < 0) return 0;
  std::int64_t column = (px + half) * media::kMapCells / extent, row = (pz + half) * media::kMapCells / extent;
  if (column >= media::kMapCells || row >= media::kMapCells) return 0;
  std::uint32_t entry = table[row * media::kMapCells + column];
  if (entry == 0) return 0;
  const auto* list = reinterpret_cast<const std::uint32_t*>(block1 + entry);
  std::int64_t top = std::int64_t{y} + std::int64_t{r} * 512;
  int hits = 0;
  const I* first = nullptr;
  const I* kept = nullptr;
  std::int64_t first_h = 0, kept_h = 0, kept_distance = 0;
  for (std::uint32_t k = 1; k <= list[0]; ++k) {
    const I* t = reinterpret_cast<const I*>(block1 + list[k]);
    double u, v;
    if (!media::inside_ground_triangle(t, static_cast<double>(px), static_cast<double>(pz), u, v)) continue;
    double plane = t[1] + u * (static_cast<double>(t[4]) - t[1]) + v * (static_cast<double>(t[7]) - t[1]);
    std::int64_t h = (t[1] == t[4] && t[1] == t[7] ? std::int64_t{t[1]} : rounded_l(plane)) * 512;
    if (hits++ == 0) first = t, first_h = h;
    if (h >= top) continue;
    std::int64_t distance = h > y ? h - y : top - h;
    if (!kept || distance < kept_distance) kept = t, kept_h = h, kept_distance = distance;
  }
  const I* t = hits == 1 ? first : kept;
  if (!t) return 0;
  found = true;
  std::copy(t, t + 9, triangle.v);
  triangle.colour = 0;
  return low32(hits == 1 ? first_h : kept_h);
}

std::int32_t ground_height(World& w, I x, I y, I z, I r) {
  choose(w);
  Ground& g = w.ground;
  g.found = false;
  g.base_y = 0;
  if (g.map) return map_height(*g.map, x, y, z, r, g.triangle, g.found);
  if (g.grid) return terrain_height(w, x, z);
  return 0;
}

// ---- Ground maps ---------------------------------------------------------------------------

bool load_boundary(project::LoaderCall& c) {
  int n = project::take_aspect(c.tables, c.load, c.element, ".m3d");
  if (n < 0) return false;
  AspectRecord& record = c.tables.aspects[n];
  std::string_view path = c.path;
  // A packaged map is named by a hash + ".dat": its first bytes tell it from a model.
  if (extension_is(project::kind_extension(project::kBoundary, path).view(), ".m3d")) {
    load_map_file(c, record, path);
    return true;
  }
  // A model: its map beside it, built once and rebuilt when the model changes.
  std::vector<std::byte> model;
  if (!read_whole(path, kMaxModelBytes, model)) {
    base::report("ground", "boundary model %s: missing, unreadable or too large", c.path.c_str());
    return true;
  }
  std::uint32_t checksum = media::model_checksum(model);
  if (checksum == 0) return true;  // nothing to build from
  std::size_t dot = path.rfind('.'), slash = path.rfind('/');
  bool has_extension = dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
  base::Text map_path(has_extension ? path.substr(0, dot) : path);
  map_path += ".m3d";
  map_path = project::resolve_path(map_path);
  if (stored_checksum(map_path) == checksum) {
    load_map_file(c, record, map_path);
    return true;
  }
  inform("Initializing boundary element|This is a one-time operation, please wait");
  std::vector<scene::Vertex> vertices;
  std::string error;
  if (!platform::load_model(path, vertices, error)) {
    base::report("ground", "boundary model %s: %s", c.path.c_str(), error.c_str());
    inform("Loading data, please wait...");
    return true;
  }
  std::vector<GroundTriangle> triangles(vertices.size() / 3);
  for (std::size_t k = 0; k < triangles.size(); ++k)
    for (int i = 0; i < 3; ++i) {
      const scene::Vec3& p = vertices[3 * k + i].position;
      const float xyz[3] = {p.x, p.y, p.z};
      for (int j = 0; j < 3; ++j)
        triangles[k].v[3 * i + j] = static_cast<I>(std::clamp(std::lround(xyz[j] * 1000.0), -(1L << 30), 1L << 30));
    }
  std::vector<std::byte> file = media::build_ground_map(triangles, checksum);
  base::TextFile out;
  if (!out.open_write_atomic(map_path) || !out.write_bytes(file.data(), file.size()) || !out.close())
    base::report("ground", "could not save the ground map %s; it is built again next time", map_path.c_str());
  inform("Loading data, please wait...");
  install_map(c, record, file, map_path);
  return true;
}

// ---- Terrain grids ----------------------------------------------------------------------------

void build_terrain_grid(project::LoaderCall& c, AspectRecord& shape, int cells, std::span<const GroundTriangle> faces) {
  shape.word[kTerrainCells] = shape.word[kTerrainGrid] = shape.word[kTerrainBytes] = 0;
  if (cells < 1 || cells > kMaxTerrainCells) {
    base::report("ground", "%s: a terrain grid has 1..%d cells a side, not %d", c.path.c_str(), kMaxTerrainCells, cells);
    return;
  }
  std::int64_t reach = media::ground_reach(faces);
  if (reach == 0 || reach > (1 << 28)) return;
  std::int64_t s = (2 * reach + cells - 1) / cells, half = s * cells / 2;
  std::size_t bytes = 8 + static_cast<std::size_t>(cells) * cells * kTerrainTriangleWords * 8;
  std::byte* at = take_ground(c.tables, c.load, bytes);
  if (!at) {
    base::report("ground", "%s: no room left for its terrain grid", c.path.c_str());
    return;
  }
  FaceBuckets buckets(faces, reach);
  int side = cells + 1;
  std::vector<I> height(static_cast<std::size_t>(side) * side);
  for (int j = 0; j < side; ++j)
    for (int i = 0; i < side; ++i) {
      double y = 0;
      int colour = 0;
      buckets.highest(static_cast<double>(-half + i * s), static_cast<double>(half - j * s), y, colour);
      height[static_cast<std::size_t>(j) * side + i] = static_cast<I>(std::llround(std::clamp(y, -1e9, 1e9)));
    }
  I* grid = reinterpret_cast<I*>(at);
  grid[0] = static_cast<I>(s);
  grid[1] = cells;
  for (int j = 0; j < cells; ++j)
    for (int i = 0; i < cells; ++i) {
      auto corner = [&](int di, int dj, I* out) {
        out[0] = static_cast<I>(-half + (i + di) * s);
        out[1] = height[static_cast<std::size_t>(j + dj) * side + i + di];
        out[2] = static_cast<I>(half - (j + dj) * s);
      };
      I* cell = grid + 2 + (static_cast<std::size_t>(j) * cells + i) * 2 * kTerrainTriangleWords;
      // First the triangle at the cell's -x, +z corner, then the one at its +x, -z corner.
      const int corners[2][3][2] = {{{0, 0}, {1, 0}, {0, 1}}, {{1, 0}, {1, 1}, {0, 1}}};
      for (int k = 0; k < 2; ++k) {
        I* t = cell + k * kTerrainTriangleWords;
        for (int v = 0; v < 3; ++v) corner(corners[k][v][0], corners[k][v][1], t + 3 * v);
        double y = 0;
        int colour = 0;
        buckets.highest((t[0] + t[3] + t[6]) / 3.0, (t[2] + t[5] + t[8]) / 3.0, y, colour);
        t[9] = colour;
      }
    }
  shape.word[kTerrainCells] = cells;
  shape.word[kTerrainGrid] = static_cast<I>(base::address32(at));
  shape.word[kTerrainBytes] = static_cast<I>(bytes);
}

}  // namespace engine
