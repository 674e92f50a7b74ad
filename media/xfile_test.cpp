// The text ".x" reader: what it reads, and damaged or hostile files refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/media.h"

namespace {

using media::XStatus;

XStatus parse(const std::string& text, std::vector<media::XPart>& parts) {
  return media::parse_text_x({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, parts);
}

const std::string kHead = "xof 0303txt 0032\n";
const std::string kSquare = "4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;;\n";

TEST(XFile, ReadsMeshesFramesAndPolygons) {
  struct {
    const char* name;
    std::string text;
    std::size_t parts, corners;  // of the first part
  } cases[] = {
      {"one triangle", kHead + "Mesh { " + kSquare + "1; 3;0,1,2;; }", 1, 3},
      {"quad and pentagon fanned", kHead + "Mesh { " + kSquare + "2; 4;0,1,2,3;, 5;0,1,2,3,0;; }", 1, 6 + 9},
      {"lines and points dropped", kHead + "Mesh { " + kSquare + "3; 2;0,1;, 1;2;, 3;0,1,2;; }", 1, 3},
      {"64-bit floats, CR LF", "xof 0302txt 0064\r\nMesh m {\r\n" + kSquare + "1;3;0,1,2;;\r\n}\r\n", 1, 3},
      {"mesh in nested frames", kHead + "Frame a { Frame b { Mesh { " + kSquare + "1; 3;0,1,2;; } } }", 1, 3},
      {"unknown blocks and references skipped",
       kHead + "template T { <00000000-0000-0000-0000-000000000000> DWORD x; }\nFrame f { { ref } Extra { 1; { x } }\n"
               "Mesh { " + kSquare + "1; 3;0,1,2;; VertexColors { 0;; } } }",
       1, 3},
      {"faces by material", kHead + "Mesh { " + kSquare + "2; 3;0,1,2;, 3;0,2,3;; MeshMaterialList { 2; 2; 1,0;; {a} {b} } }",
       2, 3},
      {"one material index for all faces",
       kHead + "Mesh { " + kSquare + "2; 3;0,1,2;, 3;0,2,3;; MeshMaterialList { 1; 1; 0;; {a} } }", 1, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<media::XPart> parts;
    ASSERT_EQ(parse(c.text, parts), XStatus::ok);
    ASSERT_EQ(parts.size(), c.parts);
    EXPECT_EQ(parts[0].corners.size(), c.corners);
  }
}

TEST(XFile, FramePlacementsMultiplyFromTheRoot) {
  // Outer moves by (10, 0, 0); inner scales by 2: a corner at (1, 0, 0) lands at (12, 0, 0).
  std::string text = kHead +
                     "Frame outer { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 10,0,0,1;; }\n"
                     " Frame inner { FrameTransformMatrix { 2,0,0,0, 0,2,0,0, 0,0,2,0, 0,0,0,1;; }\n"
                     "  Mesh { " + kSquare + "1; 3;0,1,2;; MeshNormals { 1; 0;0;-1;; 1; 3;0,0,0;; }\n"
                     "  MeshTextureCoords { 4; 0;0;, 1;0;, 1;1;, 0;1;; } } } }";
  std::vector<media::XPart> parts;
  ASSERT_EQ(parse(text, parts), XStatus::ok);
  ASSERT_EQ(parts.size(), 1u);
  const float* m = parts[0].placement;
  const float* p = parts[0].corners[1].position;  // (1, 0, 0)
  EXPECT_FLOAT_EQ(m[0] * p[0] + m[1] * p[1] + m[2] * p[2] + m[3], 12.0f);
  EXPECT_TRUE(parts[0].has_normals);
  EXPECT_FLOAT_EQ(parts[0].corners[2].normal[2], -1.0f);
  EXPECT_FLOAT_EQ(parts[0].corners[2].u, 1.0f);
  EXPECT_FLOAT_EQ(parts[0].corners[2].v, 1.0f);
}

TEST(XFile, RefusesDamagedFiles) {
  std::string deep = kHead;
  for (int i = 0; i < 70; ++i) deep += "Frame {";
  struct {
    const char* name;
    std::string text;
    XStatus status;
  } cases[] = {
      {"empty", "", XStatus::not_text_x},
      {"binary", "xof 0303bin 0032" + std::string(40, '\0'), XStatus::not_text_x},
      {"compressed", "xof 0303tzip0032" + std::string(40, 'z'), XStatus::not_text_x},
      {"other text", "solid cube\nfacet normal 0 0 1\n", XStatus::not_text_x},
      {"header only", kHead, XStatus::no_triangles},
      {"no faces", kHead + "Mesh { " + kSquare + "0;; }", XStatus::no_triangles},
      {"ends inside a mesh", kHead + "Mesh { " + kSquare + "1; 3;0,1,2", XStatus::bad_syntax},
      {"ends inside a face list", kHead + "Mesh { " + kSquare + "1; 3;0,1", XStatus::bad_count},
      {"ends inside a frame", kHead + "Frame f { Mesh { " + kSquare + "1; 3;0,1,2;; }", XStatus::bad_syntax},
      {"stray closing brace", kHead + "}", XStatus::bad_syntax},
      {"letters for a number", kHead + "Mesh { 1; a;b;c;; 0;; }", XStatus::bad_syntax},
      {"negative count", kHead + "Mesh { -1; }", XStatus::bad_count},
      {"fractional count", kHead + "Mesh { 1.5; }", XStatus::bad_count},
      {"count past the file", kHead + "Mesh { 4000000000; 0;0;0;; }", XStatus::bad_count},
      {"vertex index past the list", kHead + "Mesh { " + kSquare + "1; 3;0,1,4;; }", XStatus::bad_index},
      {"huge vertex index", kHead + "Mesh { " + kSquare + "1; 3;0,1,4294967295;; }", XStatus::bad_index},
      {"normal index past the list",
       kHead + "Mesh { " + kSquare + "1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 1; 3;0,0,1;; } }", XStatus::bad_index},
      {"normal faces out of step",
       kHead + "Mesh { " + kSquare + "1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 2; 3;0,0,0;, 3;0,0,0;; } }",
       XStatus::bad_count},
      {"normal face of another size",
       kHead + "Mesh { " + kSquare + "1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 1; 4;0,0,0,0;; } }", XStatus::bad_count},
      {"texture coordinates out of step",
       kHead + "Mesh { " + kSquare + "1; 3;0,1,2;; MeshTextureCoords { 3; 0;0;, 1;0;, 1;1;; } }", XStatus::bad_count},
      {"material indices out of step",
       kHead + "Mesh { " + kSquare + "2; 3;0,1,2;, 3;0,2,3;; MeshMaterialList { 1; 3; 0,0,0;; {a} } }",
       XStatus::bad_count},
      {"short matrix", kHead + "Frame { FrameTransformMatrix { 1,0,0; } }", XStatus::bad_syntax},
      {"frames nested too deep", deep, XStatus::too_deep},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<media::XPart> parts(1);
    EXPECT_EQ(parse(c.text, parts), c.status);
    EXPECT_TRUE(parts.empty());
  }
}

TEST(XFile, StopsTakingFacesAtTheCornerLimit) {
  int triangles = media::kMaxXCorners / 3 + 10;
  std::string text = kHead + "Mesh { " + kSquare + std::to_string(triangles) + ";";
  for (int i = 0; i < triangles; ++i) text += "3;0,1,2;,";
  text += "; }";
  std::vector<media::XPart> parts;
  ASSERT_EQ(parse(text, parts), XStatus::ok);
  EXPECT_EQ(parts[0].corners.size(), static_cast<std::size_t>(media::kMaxXCorners));
}

}  // namespace
