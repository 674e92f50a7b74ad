// Internals of the ground: the ".m3d" ground map's layout, its checks and its
// builder, the terrain grid of a ground shape, and the boundary element's loader.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "engine/engine.h"

namespace engine {

// ---- Ground maps (".m3d") ---------------------------------------------------------------------

// A 64-byte header, block 1 (triangles of nine L values: x0 y0 z0 x1 y1 z1 x2 y2
// z2) and block 2 (a 128 x 128 table of cell-list offsets, then the lists).
// Offsets in the table and the lists count from the start of block 1.
inline constexpr int kMapHeaderBytes = 64;
inline constexpr int kMapCells = 128;                              // per side
inline constexpr int kMapCellTableBytes = kMapCells * kMapCells * 4;
inline constexpr int kMapTriangleBytes = 36;
inline constexpr std::size_t kMaxMapBytes = base::area_size(base::Area::ground_maps);  // blocks of one map

// Words of a ground map's aspect record: the file's header with its two
// block fields made addresses. word[k] is header offset 4 + 4k.
// WARNING: the ".m3d" file stores the header at these offsets.
enum GroundMapWord : int {
  kMapTriangles = 0,  // address of block 1; 0: no ground (a missing or damaged map)
  kMapCellTable = 1,  // address of block 2
  kMapExtent = 2,     // E in L: the map covers -E/2 <= x, z < E/2
  kMapChecksum = 3,   // checksum of the model the map was built from
  kMapBytes = 4,      // bytes of blocks 1 and 2 (the file less its header)
};

// Checksum of a model file: the sum modulo 2^32 of its whole 32-bit
// little-endian words; a file shorter than 4 bytes gives its length.
std::uint32_t model_checksum(std::span<const std::byte> bytes);

// Checks a whole ".m3d" file: tag, block sizes from field 8 - field 4 and from
// the file size, the extent, and every cell offset, count and triangle offset.
// Null when sound, else what is wrong.
const char* check_ground_map(std::span<const std::byte> file);
// The ".m3d" file of triangles (L) as a boundary element builds it: every
// triangle in block 1, the extent from the largest |x| or |z|, and each cell
// listing the triangles with an area that overlap it.
std::vector<std::byte> build_ground_map(std::span<const GroundTriangle> triangles, std::uint32_t checksum);

// Loader of boundary elements (type 12): an ".m3d" read as it is, or a model
// (".x", ".3ds") whose ".m3d" beside it is built when missing or out of date.
// Registered with the scene loaders.
bool load_boundary(project::LoaderCall& call);

// ---- Terrain grids --------------------------------------------------------------------------

// Words of a ".a3d" aspect record that its terrain grid takes (after the shape's own).
enum TerrainWord : int {
  kTerrainCells = 7,  // cells per side n (the file's header field 6); 0: not ground
  kTerrainGrid = 8,   // address of the grid in the ground-map area; 0: none
  kTerrainBytes = 9,  // its size: 8 + n x n x 80
};
inline constexpr int kMaxTerrainCells = 256;  // per side
inline constexpr int kTerrainTriangleWords = 10;  // nine L values and the colour

// ---- Queries -------------------------------------------------------------------------------

// Height (sub-units) of one ground map at position (x, y, z) for radius r (L);
// the triangle found goes to `found` (false when none).
std::int32_t map_height(const project::AspectRecord& map, std::int32_t x, std::int32_t y, std::int32_t z,
                        std::int32_t r, GroundTriangle& triangle, bool& found);

}  // namespace engine
