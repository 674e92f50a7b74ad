// Element lines: type names, tags, path forms, case-insensitive lookup, insertion.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "project/project.h"
#include "project/test_support.h"

namespace {

TEST(ElementTypes, NamesAndTags) {
  struct Case {
    int type;
    const char* name;
    const char* aspect;
    const char* tag;
  } cases[] = {
      {0, "CAMERA-type element", "c/default_.03d", ".03d"},
      {1, "3D-SHAPE-type element", "a.a3d", ".a3d"},
      {2, "FLAT-SHAPE-type element", "s/ball_.pcx", ".b3d"},
      {3, "SHADOW-type element", "x", ""},
      {4, "", "x", ""},
      {5, "SPRITE-type element", "s/ball_.pcx", ".h3d"},
      {6, "FRAME-type element", "f/a.pcx", ".f3d"},
      {7, "BACKGROUND-type element", "b/Sky.G3D", ".g3d"},
      {7, "BACKGROUND-type element", "b/sky.pcx", ".pcx"},
      {8, "COUNTER-type element", "c/digits.pcx", ".e3d"},
      {9, "TRACK-type element", "t/a.i3d", ".i3d"},
      {10, "LIGHT-type element", "1/16777215/0", ".l3d"},
      {11, "VISUAL-type element", "v/car.3ds", ".v3d"},
      {12, "BOUNDARY-type element", "g/map.m3d", ".m3d"},
      {13, "", "x/car.x", ".x3d"},
      {14, "", "x", ""},
      {-1, "", "x", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(project::type_name(c.type), c.name) << c.type;
    EXPECT_EQ(project::aspect_tag(c.type, c.aspect), c.tag) << c.type;
  }
}

TEST(ElementTypes, TagBytesAreTheExtensionBackwards) {
  project::AspectRecord r{};
  project::write_tag(r, ".03d");
  EXPECT_EQ(std::string(r.tag, 4), "d30.");
  EXPECT_EQ(project::tag_extension(r), ".03d");
  project::write_tag(r, ".x");
  EXPECT_EQ(project::tag_extension(r), ".x");
}

TEST(Paths, MemoryAndFileForms) {
  struct Case {
    const char* file;
    const char* memory;
  } cases[] = {
      {"./sprites/ball_.pcx", "/w/sprites/ball_.pcx"},
      {".\\sprites\\ball_.pcx", "/w/sprites/ball_.pcx"},
      {"a|./b|./c", "a|/w/b|/w/c"},
      {"no path", "no path"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(project::path_to_memory(c.file, "/w/"), c.memory) << c.file;
    if (std::string(c.file).find('\\') == std::string::npos) {
      EXPECT_EQ(project::path_to_file(c.memory, "/w/"), c.file) << c.memory;
    }
  }
}

TEST(Paths, CaseInsensitiveLookupFolderByFolder) {
  project_test::WorkFolder work;
  project_test::write(work / "Images/Cars/Ball_.PCX", "x");
  project_test::write(work / "sounds/null_.wav", "x");
  struct Case {
    std::string asked;
    std::string found;
  } cases[] = {
      {work / "images/cars/ball_.pcx", work / "Images/Cars/Ball_.PCX"},
      {work / "IMAGES/CARS/BALL_.pcx", work / "Images/Cars/Ball_.PCX"},
      {work / "Images/Cars/Ball_.PCX", work / "Images/Cars/Ball_.PCX"},
      {work / "sounds/NULL_.WAV", work / "sounds/null_.wav"},
      {work / "images/cars/none.pcx", work / "images/cars/none.pcx"},  // unchanged
      {work / "nothing/ball_.pcx", work / "nothing/ball_.pcx"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(project::resolve_path(c.asked), c.found) << c.asked;
}

TEST(Lines, DefaultCameraLine) {
  EXPECT_EQ(project::default_camera_line("/w/"),
            "Camera|/w/cameras/default_.03d|./sounds/null_.wav|-|0|0|0|0|0|0|0.000|0|0.000|0|0|0|0.000|"
            "0.000|0.000|0|0|0|0.000|0.000|0.000|0|0|0|0|0|1|0|1|0|1/1/2/1020|0|160/120/479/359/0/20&40/7|"
            "0/1|4096/2/50/0|14815378");
}

// An element line with the given name (field 1) and user parameters (field 35).
std::string line(const std::string& name, const std::string& parameters) {
  return name + std::string(34, '|') + parameters + "|1";
}

struct InsertFixture {
  std::unique_ptr<project::Project> p = std::make_unique<project::Project>();
  uint8_t matrix[project::kCollisionBytes] = {};
  InsertFixture() {
    p->collision = matrix;
    // Three elements: 0 names 2 and 0, 1 names 1, 2 has an int parameter of value 2.
    p->lines.line[0] = base::Text(line("a", "2/1/2/1020/1/0/1016"));
    p->lines.line[1] = base::Text(line("b", "1/1/1/1020"));
    p->lines.line[2] = base::Text(line("c", "1/2/2/1020"));
    p->lines.highest = 2;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) matrix[256 * r + c] = static_cast<uint8_t>(10 * r + c + 1);
  }
  int at(int r, int c) const { return matrix[256 * r + c]; }
};

TEST(Lines, InsertMovesLinesReferencesMatrixAndRange) {
  InsertFixture fx;
  fx.p->load_start = 2;
  fx.p->load_end = 2;
  ASSERT_TRUE(project::insert_element(*fx.p, 1, line("new", "0")));
  EXPECT_EQ(fx.p->lines.highest, 3);
  EXPECT_EQ(base::field(fx.p->lines.line[1], 1, '|'), "new");
  EXPECT_EQ(base::field(fx.p->lines.line[0], 35, '|'), "2/1/3/1020/1/0/1016");
  EXPECT_EQ(base::field(fx.p->lines.line[2], 35, '|'), "1/1/2/1020");
  EXPECT_EQ(base::field(fx.p->lines.line[3], 35, '|'), "1/2/2/1020");  // kind 2: a number
  // Rows and columns at and above 1 moved up; row and column 1 are 0.
  EXPECT_EQ(fx.at(0, 0), 1);
  EXPECT_EQ(fx.at(0, 2), 2);
  EXPECT_EQ(fx.at(2, 0), 11);
  EXPECT_EQ(fx.at(3, 3), 23);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(fx.at(1, k), 0);
    EXPECT_EQ(fx.at(k, 1), 0);
  }
  EXPECT_EQ(fx.p->load_start, 3);
  EXPECT_EQ(fx.p->load_end, 3);
}

TEST(Lines, AppendingChangesNoReference) {
  InsertFixture fx;
  ASSERT_TRUE(project::insert_element(*fx.p, 3, line("d", "0")));
  EXPECT_EQ(base::field(fx.p->lines.line[0], 35, '|'), "2/1/2/1020/1/0/1016");
  EXPECT_EQ(fx.at(2, 2), 23);
  EXPECT_EQ(fx.at(3, 3), 0);
}

TEST(Lines, InsertRefusedWhenFullOrOutOfRange) {
  InsertFixture fx;
  EXPECT_FALSE(project::insert_element(*fx.p, 5, "x"));
  EXPECT_FALSE(project::insert_element(*fx.p, -1, "x"));
  EXPECT_FALSE(project::insert_element(*fx.p, 0, std::string(3000, 'x')));
  while (fx.p->lines.highest < project::kMaxElements - 1)
    ASSERT_TRUE(project::insert_element(*fx.p, fx.p->lines.highest + 1, "x"));
  EXPECT_FALSE(project::insert_element(*fx.p, 0, "x"));
  EXPECT_EQ(fx.p->lines.highest, 255);
}

}  // namespace
