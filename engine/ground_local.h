// Internals of the ground: the record words of an ".m3d" ground map, the
// terrain grid of a ground shape, and the boundary element's loader.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "engine/engine.h"

namespace engine {

// ---- Ground maps (".m3d") ---------------------------------------------------------------------

// The file format, its check and its builder are media's (media/media.h).

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
static_assert(4 + 4 * kMapTriangles == media::kMapBlock1Field && 4 + 4 * kMapCellTable == media::kMapBlock2Field &&
              4 + 4 * kMapExtent == media::kMapExtentField && 4 + 4 * kMapChecksum == media::kMapChecksumField &&
              4 + 4 * kMapBytes == media::kMapBytesField);

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
