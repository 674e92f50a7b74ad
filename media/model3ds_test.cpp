// The 3DS chunk reader and the fragment writer: meshes read, damaged files
// refused with nothing read, and the written layout byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "media/media.h"
#include "media/test_util.h"

namespace {

using namespace media_test;
using media::Read3ds;

std::span<const std::byte> bytes(const std::string& s) { return std::as_bytes(std::span(s.data(), s.size())); }

Read3ds read(const std::string& file, std::vector<media::Triangle3ds>& out, std::string& why) {
  return media::read_3ds_triangles(bytes(file), out, why);
}

TEST(Model3ds, ReadsTheLastMeshWithItsOwnVertices) {
  const std::string tri = vertex_chunk({{0, 0, 0}, {2, 0, 0}, {0, 3, 0}}) + face_chunk({{0, 1, 2}});
  struct {
    const char* name;
    std::string file;
    std::size_t triangles;
    float corner1_x;  // x of corner 1 of the first triangle
  } cases[] = {
      {"cube", cube3ds(), 12, 1},
      {"one triangle", model3ds(tri), 1, 2},
      {"chunks around the lists skipped", model3ds(chunk3ds(0x4160, std::string(48, 'x')) + tri + chunk3ds(0x4600, "l")), 1, 2},
      {"the last of two meshes",
       chunk3ds(0x4D4D, chunk3ds(0x3D3D, chunk3ds(0x4000, std::string("a\0", 2) + chunk3ds(0x4100, tri)) +
                                             chunk3ds(0x4000, std::string("b\0", 2) +
                                                                  chunk3ds(0x4100, vertex_chunk(cube_vertices()) +
                                                                                       face_chunk(cube_faces()))))),
       12, 1},
      {"faces after a later vertex list use that list",
       model3ds(tri + vertex_chunk({{0, 0, 0}, {5, 0, 0}, {0, 5, 0}}) + face_chunk({{0, 1, 2}})), 1, 5},
  };
  for (const auto& c : cases) {
    std::vector<media::Triangle3ds> out;
    std::string why;
    EXPECT_EQ(read(c.file, out, why), Read3ds::ok) << c.name << ": " << why;
    ASSERT_EQ(out.size(), c.triangles) << c.name;
    EXPECT_EQ(out[0].corner[1][0], c.corner1_x) << c.name;
  }
}

TEST(Model3ds, DamagedFilesAreRefusedWithNothingRead) {
  const std::string tri = vertex_chunk({{0, 0, 0}, {2, 0, 0}, {0, 3, 0}}) + face_chunk({{0, 1, 2}});
  const std::string cube = cube3ds();
  std::string many_faces = le16(21846);
  for (int k = 0; k < 21846; ++k) many_faces += le16(0) + le16(1) + le16(2) + le16(0);
  struct {
    const char* name;
    std::string file;
    Read3ds status;
    std::string why;  // a part of the reason
  } cases[] = {
      {"empty", "", Read3ds::not_3ds, ""},
      {"not MM", "MX" + cube.substr(2), Read3ds::not_3ds, ""},
      {"a text file", "hello world", Read3ds::not_3ds, ""},
      {"header cut short", "MM\x10", Read3ds::damaged, "cut short"},
      {"main length zero", "MM" + le32(0), Read3ds::damaged, "main chunk of length 0"},
      {"truncated", cube.substr(0, cube.size() - 10), Read3ds::damaged, "cut short"},
      {"a zero chunk length", model3ds(chunk3ds(0x4160, "", 0) + tri), Read3ds::damaged, "0x4160 of length 0"},
      {"a chunk past its parent", model3ds(chunk3ds(0x4160, "abc", 100) + tri), Read3ds::damaged, "runs past"},
      {"face index out of range", model3ds(vertex_chunk({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}) + face_chunk({{0, 1, 3}})),
       Read3ds::damaged, "names vertex 3 of 3"},
      {"faces without vertices", model3ds(face_chunk({{0, 1, 2}})), Read3ds::damaged, "before any vertex list"},
      {"vertex count past its chunk", model3ds(chunk3ds(0x4110, le16(5) + std::string(12, '\0')) + tri), Read3ds::damaged,
       "vertex list of 5"},
      {"face count past its chunk", model3ds(vertex_chunk(cube_vertices()) + chunk3ds(0x4120, le16(9))), Read3ds::damaged,
       "face list of 9"},
      {"a corner not a number", model3ds(vertex_chunk({{0, 0, 0}, {NAN, 0, 0}, {0, 1, 0}}) + face_chunk({{0, 1, 2}})),
       Read3ds::damaged, "not a number"},
      {"object name without its end", chunk3ds(0x4D4D, chunk3ds(0x3D3D, chunk3ds(0x4000, "abc"))), Read3ds::damaged,
       "object name"},
      {"no mesh", chunk3ds(0x4D4D, chunk3ds(0x0002, le32(3))), Read3ds::damaged, "no triangles"},
      {"too many triangles for 16-bit counts",
       model3ds(vertex_chunk({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}) + chunk3ds(0x4120, many_faces)), Read3ds::damaged,
       "21846 triangles"},
  };
  for (const auto& c : cases) {
    std::vector<media::Triangle3ds> out(3);
    std::string why;
    EXPECT_EQ(read(c.file, out, why), c.status) << c.name;
    EXPECT_TRUE(out.empty()) << c.name;
    EXPECT_NE(why.find(c.why), std::string::npos) << c.name << ": " << why;
  }
}

TEST(Model3ds, FragmentsAreWrittenTwoSidedAndReadBack) {
  std::vector<media::Triangle3ds> in;
  std::string why;
  ASSERT_EQ(read(cube3ds(), in, why), Read3ds::ok);
  std::vector<std::byte> file = media::write_fragment_3ds(in);
  const std::uint32_t n = 12;
  ASSERT_EQ(file.size(), 52 * n + 56);
  std::string s(reinterpret_cast<const char*>(file.data()), file.size());
  // The header chunks at their offsets.
  EXPECT_EQ(s.substr(0, 34), chunk3ds(0x4D4D, "", 52 * n + 56) + chunk3ds(0x0002, le32(3)) +
                                 chunk3ds(0x3D3D, "", 52 * n + 40) + chunk3ds(0x4000, std::string("ZEPTA\0", 6), 52 * n + 34));
  EXPECT_EQ(s.substr(34, 8), chunk3ds(0x4100, "", 52 * n + 22).substr(0, 6) + le16(0x4110));
  EXPECT_EQ(s.substr(42, 6), le32(36 * n + 8) + le16(3 * n));
  EXPECT_EQ(s.substr(36 * n + 48, 8), le16(0x4120) + le32(16 * n + 8) + le16(2 * n));
  // Triangle 1 as its two faces.
  EXPECT_EQ(s.substr(36 * n + 56 + 16, 16), le16(3) + le16(4) + le16(5) + le16(0) + le16(3) + le16(5) + le16(4) + le16(0));

  // Read back: two faces a triangle, the second turned the other way.
  std::vector<media::Triangle3ds> back;
  ASSERT_EQ(media::read_3ds_triangles(file, back, why), Read3ds::ok) << why;
  ASSERT_EQ(back.size(), 2 * n);
  for (std::uint32_t t = 0; t < n; ++t)
    for (int axis = 0; axis < 3; ++axis) {
      EXPECT_EQ(back[2 * t].corner[1][axis], in[t].corner[1][axis]);
      EXPECT_EQ(back[2 * t + 1].corner[1][axis], in[t].corner[2][axis]);
      EXPECT_EQ(back[2 * t + 1].corner[2][axis], in[t].corner[1][axis]);
    }
  EXPECT_EQ(media::write_fragment_3ds({}).size(), 56u);
}

}  // namespace
