// Ground maps (".m3d"): the check of a file's bytes, the build of a map from
// triangles with its cell lists, the writer of the blocks, and the checksum of
// the model a map is built from.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "media/media.h"
#include "base/bytes.h"

namespace media {

namespace {

using I = std::int32_t;

std::uint32_t u32_at(std::span<const std::byte> b, std::size_t at) { return base::le32(b.data() + at); }

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Orientation of r against the line p -> q: -1, 0 or 1.
int turn(std::int64_t px, std::int64_t pz, std::int64_t qx, std::int64_t qz, std::int64_t rx, std::int64_t rz) {
  __int128 c = static_cast<__int128>(qx - px) * (rz - pz) - static_cast<__int128>(qz - pz) * (rx - px);
  return (c > 0) - (c < 0);
}
bool within(std::int64_t a, std::int64_t b, std::int64_t v) { return std::min(a, b) <= v && v <= std::max(a, b); }
// Segments p1-p2 and q1-q2 share a point.
bool segments_meet(const std::int64_t p[4], const std::int64_t q[4]) {
  int d1 = turn(q[0], q[1], q[2], q[3], p[0], p[1]), d2 = turn(q[0], q[1], q[2], q[3], p[2], p[3]);
  int d3 = turn(p[0], p[1], p[2], p[3], q[0], q[1]), d4 = turn(p[0], p[1], p[2], p[3], q[2], q[3]);
  if (d1 * d2 < 0 && d3 * d4 < 0) return true;
  auto on = [](const std::int64_t s[4], std::int64_t x, std::int64_t z) {
    return within(s[0], s[2], x) && within(s[1], s[3], z);
  };
  return (d1 == 0 && on(q, p[0], p[1])) || (d2 == 0 && on(q, p[2], p[3])) || (d3 == 0 && on(p, q[0], q[1])) ||
         (d4 == 0 && on(p, q[2], q[3]));
}

// Whether a triangle with area overlaps the cell rectangle x0..x1, z0..z1 (L).
bool overlaps(const I* t, std::int64_t x0, std::int64_t x1, std::int64_t z0, std::int64_t z1) {
  std::int64_t xs[3] = {t[0], t[3], t[6]}, zs[3] = {t[2], t[5], t[8]};
  if (*std::max_element(xs, xs + 3) < x0 || *std::min_element(xs, xs + 3) > x1 ||
      *std::max_element(zs, zs + 3) < z0 || *std::min_element(zs, zs + 3) > z1)
    return false;
  for (int k = 0; k < 3; ++k)
    if (xs[k] >= x0 && xs[k] <= x1 && zs[k] >= z0 && zs[k] <= z1) return true;
  const std::int64_t sides[4][4] = {{x0, z0, x1, z0}, {x1, z0, x1, z1}, {x1, z1, x0, z1}, {x0, z1, x0, z0}};
  for (int k = 0; k < 3; ++k) {
    const std::int64_t edge[4] = {xs[k], zs[k], xs[(k + 1) % 3], zs[(k + 1) % 3]};
    for (const auto& side : sides)
      if (segments_meet(edge, side)) return true;
  }
  double cx = (static_cast<double>(x0) + x1) / 2, cz = (static_cast<double>(z0) + z1) / 2, u, v;
  if (inside_ground_triangle(t, cx, cz, u, v)) return true;
  for (std::int64_t corner_x : {x0, x1})
    for (std::int64_t corner_z : {z0, z1})
      if (inside_ground_triangle(t, cx + (corner_x - cx) / 3, cz + (corner_z - cz) / 3, u, v)) return true;
  return false;
}

}  // namespace

// ---- Triangles --------------------------------------------------------------------------------

bool ground_barycentric(const I* t, double px, double pz, double& u, double& v) {
  double ax = static_cast<double>(t[3]) - t[0], az = static_cast<double>(t[5]) - t[2];
  double bx = static_cast<double>(t[6]) - t[0], bz = static_cast<double>(t[8]) - t[2];
  double det = ax * bz - az * bx;
  if (det == 0) return false;
  double qx = px - t[0], qz = pz - t[2];
  u = (qx * bz - qz * bx) / det;
  v = (ax * qz - az * qx) / det;
  return true;
}

bool inside_ground_triangle(const I* t, double px, double pz, double& u, double& v) {
  return ground_barycentric(t, px, pz, u, v) && u >= 0 && u <= 1 && v >= 0 && v <= 1 && u + v <= 1.01;
}

bool ground_triangle_has_area(const I* t) {
  return (static_cast<std::int64_t>(t[3]) - t[0]) * (static_cast<std::int64_t>(t[8]) - t[2]) !=
         (static_cast<std::int64_t>(t[5]) - t[2]) * (static_cast<std::int64_t>(t[6]) - t[0]);
}

std::int64_t ground_reach(std::span<const GroundTriangle> triangles) {
  std::int64_t reach = 0;
  for (const GroundTriangle& t : triangles)
    for (int k = 0; k < 3; ++k) reach = std::max({reach, std::abs(std::int64_t{t.v[3 * k]}), std::abs(std::int64_t{t.v[3 * k + 2]})});
  return reach;
}

// ---- Files ------------------------------------------------------------------------------------

std::uint32_t model_checksum(std::span<const std::byte> bytes) {
  if (bytes.size() < 4) return static_cast<std::uint32_t>(bytes.size());
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) sum += u32_at(bytes, i);
  return sum;
}

std::uint32_t ground_map_checksum(std::span<const std::byte> header) {
  if (header.size() < kMapChecksumField + 4 || std::memcmp(header.data(), kMapTag, 4) != 0) return 0;
  return u32_at(header, kMapChecksumField);
}

std::size_t ground_map_triangle_bytes(std::span<const std::byte> file) {
  return u32_at(file, kMapBlock2Field) - u32_at(file, kMapBlock1Field);
}

const char* check_ground_map(std::span<const std::byte> file) {
  if (file.size() < kMapHeaderBytes + kMapCellTableBytes) return "shorter than a header and a cell table";
  if (std::memcmp(file.data(), kMapTag, 4) != 0) return "not a ground map";
  if (file.size() - kMapHeaderBytes > kMaxMapBytes) return "too large";
  std::int64_t triangles = std::int64_t{u32_at(file, kMapBlock2Field)} - u32_at(file, kMapBlock1Field);
  std::int64_t total = static_cast<std::int64_t>(file.size()) - kMapHeaderBytes;
  if (triangles < 0 || triangles % kMapTriangleBytes) return "bad triangle block size";
  if (triangles + kMapCellTableBytes > total) return "blocks larger than the file";
  if (static_cast<I>(u32_at(file, kMapExtentField)) <= 0) return "bad extent";
  std::span<const std::byte> blocks = file.subspan(kMapHeaderBytes);
  std::vector<bool> checked(static_cast<std::size_t>(total / 4));  // lists already checked, by offset / 4
  for (int cell = 0; cell < kMapCells * kMapCells; ++cell) {
    std::uint32_t at = u32_at(blocks, static_cast<std::size_t>(triangles) + 4 * static_cast<std::size_t>(cell));
    if (at == 0 || (at % 4 == 0 && at <= total - 4 && checked[at / 4])) continue;
    if (at % 4 || at > total - 4) return "cell list outside the map";
    std::uint32_t count = u32_at(blocks, at);
    if (count > (total - at - 4) / 4) return "cell list longer than the map";
    for (std::uint32_t k = 1; k <= count; ++k) {
      std::uint32_t t = u32_at(blocks, at + 4 * k);
      if (t % kMapTriangleBytes || t >= triangles) return "triangle offset outside the triangles";
    }
    checked[at / 4] = true;
  }
  return nullptr;
}

std::vector<std::byte> write_ground_map(const GroundMapLayout& map) {
  std::size_t block1 = map.triangles.size() * kMapTriangleBytes, size = kMapHeaderBytes + block1 + kMapCellTableBytes;
  std::vector<std::uint32_t> list_at(map.lists.size());  // from block 1's start
  for (std::size_t k = 0; k < map.lists.size(); ++k) {
    list_at[k] = static_cast<std::uint32_t>(size - kMapHeaderBytes);
    size += 4 * (map.lists[k].size() + 1);
  }
  std::vector<std::byte> out(size);
  std::byte* o = out.data();
  std::memcpy(o, kMapTag, 4);
  base::put_le32(o + kMapBlock1Field, kMapHeaderBytes);
  base::put_le32(o + kMapBlock2Field, static_cast<std::uint32_t>(kMapHeaderBytes + block1));
  base::put_le32(o + kMapExtentField, static_cast<std::uint32_t>(map.extent));
  base::put_le32(o + kMapChecksumField, map.checksum);
  base::put_le32(o + kMapBytesField, static_cast<std::uint32_t>(size - kMapHeaderBytes));
  for (std::size_t k = 0; k < map.triangles.size(); ++k)
    for (int i = 0; i < 9; ++i)
      base::put_le32(o + kMapHeaderBytes + k * kMapTriangleBytes + 4 * i, static_cast<std::uint32_t>(map.triangles[k].v[i]));
  for (std::size_t cell = 0; cell < map.cell_list.size() && cell < std::size_t{kMapCells * kMapCells}; ++cell) {
    std::int32_t list = map.cell_list[cell];
    if (list >= 0 && static_cast<std::size_t>(list) < map.lists.size())
      base::put_le32(o + kMapHeaderBytes + block1 + 4 * cell, list_at[static_cast<std::size_t>(list)]);
  }
  for (std::size_t k = 0; k < map.lists.size(); ++k) {
    std::byte* at = o + kMapHeaderBytes + list_at[k];
    base::put_le32(at, static_cast<std::uint32_t>(map.lists[k].size()));
    for (std::size_t j = 0; j < map.lists[k].size(); ++j)
      base::put_le32(at + 4 * (j + 1), map.lists[k][j] * std::uint32_t{kMapTriangleBytes});
  }
  return out;
}

std::vector<std::byte> build_ground_map(std::span<const GroundTriangle> triangles, std::uint32_t checksum) {
  std::int64_t reach = ground_reach(triangles);
  std::int64_t extent = std::clamp<std::int64_t>(2 * reach, 2, INT32_MAX);

  std::vector<std::vector<std::uint32_t>> lists(kMapCells * kMapCells);
  for (std::size_t k = 0; k < triangles.size(); ++k) {
    const I* t = triangles[k].v;
    if (!ground_triangle_has_area(t)) continue;
    auto cell_of = [&](std::int64_t v) { return std::clamp<std::int64_t>(floor_div(v * kMapCells, extent), -64, 63); };
    std::int64_t c0 = cell_of(std::min({t[0], t[3], t[6]})) - 1, c1 = cell_of(std::max({t[0], t[3], t[6]})) + 1;
    std::int64_t r0 = cell_of(std::min({t[2], t[5], t[8]})) - 1, r1 = cell_of(std::max({t[2], t[5], t[8]})) + 1;
    for (std::int64_t r = std::max<std::int64_t>(r0, -64); r <= std::min<std::int64_t>(r1, 63); ++r)
      for (std::int64_t c = std::max<std::int64_t>(c0, -64); c <= std::min<std::int64_t>(c1, 63); ++c)
        if (overlaps(t, (extent * c) >> 7, (extent * (c + 1)) >> 7, (extent * r) >> 7, (extent * (r + 1)) >> 7))
          lists[(r + 64) * kMapCells + (c + 64)].push_back(static_cast<std::uint32_t>(k));
  }

  // Each cell with triangles has a list of its own, in cell order.
  GroundMapLayout map{triangles, static_cast<std::int32_t>(extent), checksum, {}, {}};
  map.cell_list.assign(kMapCells * kMapCells, -1);
  for (int cell = 0; cell < kMapCells * kMapCells; ++cell) {
    if (lists[cell].empty()) continue;
    map.cell_list[cell] = static_cast<std::int32_t>(map.lists.size());
    map.lists.push_back(std::move(lists[cell]));
  }
  return write_ground_map(map);
}

}  // namespace media
