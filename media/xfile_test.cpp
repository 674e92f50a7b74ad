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

XStatus parse_tree(const std::string& text, media::XTree& tree) {
  return media::parse_text_x_tree({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, tree);
}

TEST(XFile, ReadsTheTreeWithMaterialsAndAnimations) {
  std::string text = kHead +
                     "Material red { 1.0;0.0;0.0;0.5;; 8.0; 1.0;1.0;1.0;; 0.1;0.2;0.3;; TextureFilename { \"skins\\\\red.bmp\"; } }\n"
                     "AnimTicksPerSecond { 100; }\n"
                     "Frame body { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 5,6,7,1;; }\n"
                     " Mesh { " + kSquare + "2; 3;0,1,2;, 3;0,2,3;;\n"
                     "  MeshMaterialList { 2; 2; 1,0;; { red } Material { 0;1;0;1;; 0; 0;0;0;; 0;0;0;; } } }\n"
                     " Frame head { Mesh { " + kSquare + "1; 3;0,1,2;; } }\n"
                     " Frame arm { }\n"
                     "}\n"
                     "Mesh loose { " + kSquare + "1; 3;0,2,1;; MeshMaterialList { 1; 1; 0;; { nothing } } }\n"
                     "AnimationSet walk {\n"
                     " Animation { { arm } AnimationKey { 0; 2; 0;4;1,0,0,0;;, 50;4;0,1,0,0;;; }\n"
                     "  AnimationKey { 2; 1; 25;3;1,2,3;;; } AnimationOptions { 1; 0; } }\n"
                     " Animation { { head } AnimationKey { 4; 1; 10;16;1,0,0,0,0,1,0,0,0,0,1,0,0,3,0,1;;; } }\n"
                     " Animation { { ghost } AnimationKey { 1; 1; 0;3;2,2,2;;; } }\n"
                     "}\n";
  media::XTree t;
  ASSERT_EQ(parse_tree(text, t), XStatus::ok);
  // Frames in file order, each after its parent; frame 0 is the file.
  ASSERT_EQ(t.frames.size(), 4u);
  const char* names[] = {"", "body", "head", "arm"};
  const int parents[] = {-1, 0, 1, 1};
  for (int f = 0; f < 4; ++f) {
    EXPECT_EQ(t.frames[f].name, names[f]);
    EXPECT_EQ(t.frames[f].parent, parents[f]);
  }
  EXPECT_FLOAT_EQ(t.frames[1].placement[3], 5);  // the file's last row, as the column of a column-vector matrix
  EXPECT_FLOAT_EQ(t.frames[1].placement[11], 7);
  // The loose mesh hangs from the only top-level frame, before its own mesh; the empty frame has none.
  ASSERT_EQ(t.frames[1].meshes.size(), 2u);
  EXPECT_EQ(t.meshes[t.frames[1].meshes[0]].corners.size(), 3u);
  EXPECT_EQ(t.meshes[t.frames[1].meshes[0]].groups[0].material, -1);  // an unknown reference: the default
  EXPECT_TRUE(t.frames[3].meshes.empty());
  // Groups in the order of the material list: the inline green one takes face 0.
  const media::XMesh& m = t.meshes[t.frames[1].meshes[1]];
  ASSERT_EQ(m.groups.size(), 2u);
  EXPECT_EQ(m.groups[0].first, 0u);
  EXPECT_EQ(m.groups[1].first, 3u);
  ASSERT_EQ(t.materials.size(), 2u);
  EXPECT_EQ(m.groups[0].material, 0);  // red: faces whose index is 0
  EXPECT_EQ(m.groups[1].material, 1);
  EXPECT_FLOAT_EQ(t.materials[0].colour[3], 0.5f);
  EXPECT_FLOAT_EQ(t.materials[0].power, 8);
  EXPECT_FLOAT_EQ(t.materials[0].emissive[2], 0.3f);
  EXPECT_EQ(t.materials[0].texture, "skins\\red.bmp");
  EXPECT_FLOAT_EQ(t.materials[1].colour[1], 1);
  // The animation: tracks on the frames they name (the one naming no frame dropped).
  EXPECT_EQ(t.ticks_per_second, 100u);
  ASSERT_EQ(t.animations.size(), 1u);
  EXPECT_EQ(t.animations[0].name, "walk");
  ASSERT_EQ(t.animations[0].tracks.size(), 3u);
  const media::XTrack& turn = t.animations[0].tracks[0];
  EXPECT_EQ(turn.frame, 3);
  EXPECT_EQ(turn.kind, media::XKeyKind::rotation);
  EXPECT_EQ(turn.times, (std::vector<uint32_t>{0, 50}));
  EXPECT_EQ(turn.values, (std::vector<float>{1, 0, 0, 0, 0, 1, 0, 0}));
  EXPECT_EQ(t.animations[0].tracks[1].kind, media::XKeyKind::position);
  EXPECT_EQ(t.animations[0].tracks[2].frame, 2);
  EXPECT_EQ(t.animations[0].tracks[2].kind, media::XKeyKind::matrix);
  EXPECT_FLOAT_EQ(t.animations[0].tracks[2].values[13], 3);
  // The flat reading of the same file gives its triangles, loose ones first.
  std::vector<media::XPart> parts;
  ASSERT_EQ(parse(text, parts), XStatus::ok);
  EXPECT_EQ(parts.size(), 4u);
}

TEST(XFile, RefusesDamagedAnimations) {
  const std::string frame = kHead + "Frame f { Mesh { " + kSquare + "1; 3;0,1,2;; } }\n";
  std::string many = frame + "AnimationSet a { Animation { { f } AnimationKey { 2; 65537;";
  for (int k = 0; k <= media::kMaxXKeys; ++k) many += "0;3;0,0,0;;,";
  many += "; } } }";
  std::string frames = kHead;
  for (int k = 0; k <= media::kMaxXFrames; ++k) frames += "Frame{}";
  struct {
    const char* name;
    std::string text;
    XStatus status;
  } cases[] = {
      {"unknown key type", frame + "AnimationSet a { Animation { { f } AnimationKey { 3; 1; 0;3;0,0,0;;; } } }", XStatus::bad_key},
      {"too few values", frame + "AnimationSet a { Animation { { f } AnimationKey { 0; 1; 0;3;1,0,0;;; } } }", XStatus::bad_key},
      {"matrix of 12", frame + "AnimationSet a { Animation { AnimationKey { 4; 1; 0;12;1,0,0,0,1,0,0,0,1,0,0,0;;; } } }",
       XStatus::bad_key},
      {"key count past the file", frame + "AnimationSet a { Animation { AnimationKey { 2; 900000; 0;3;0,0,0;;; } } }",
       XStatus::bad_count},
      {"letters for a time", frame + "AnimationSet a { Animation { AnimationKey { 2; 1; t;3;0,0,0;;; } } }", XStatus::bad_count},
      {"ends inside a set", frame + "AnimationSet a { Animation { { f } AnimationKey { 2; 1; 0;3;0,0,0;;; }", XStatus::bad_syntax},
      {"reference never closed", frame + "AnimationSet a { Animation { { f", XStatus::bad_syntax},
      {"more keys than taken", many, XStatus::too_many_keys},
      {"more frames than taken", frames, XStatus::too_many_frames},
      {"texture name not quoted", kHead + "Material m { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; TextureFilename { skin.bmp; } }",
       XStatus::bad_syntax},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    media::XTree t;
    t.frames.resize(3);
    EXPECT_EQ(parse_tree(c.text, t), c.status);
    EXPECT_TRUE(t.frames.empty() && t.meshes.empty() && t.animations.empty());
  }
  // Flat reading skips animations, damaged or not.
  std::vector<media::XPart> parts;
  EXPECT_EQ(parse(cases[0].text, parts), XStatus::ok);
}

}  // namespace
