// Aspect loading: tags, image frames, defaults, the loader registry, and the
// aspect words that the record build takes over.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "media/media.h"
#include "project/project.h"
#include "project/test_support.h"
#include "base/memory.h"

namespace {

struct Scene {
  project_test::WorkFolder work;
  project::Tables tables;
  std::unique_ptr<project::AspectLoad> load = std::make_unique<project::AspectLoad>();
  std::unique_ptr<project::ElementLines> lines = std::make_unique<project::ElementLines>();
  project::AspectLoaders loaders = project::default_aspect_loaders();
  Scene() {
    EXPECT_TRUE(base::reserve_budget());
    tables = project::budget_tables();
  }
  void image(const std::string& rel, int w, int h) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(w * h), 7);
    ASSERT_TRUE(media::write_pcx(work / rel, w, h, pixels, media::scheme_palette()));
  }
  // Element i of the given type and aspect path (relative to the work folder).
  void element(int i, int type, const std::string& aspect, const std::string& more = "") {
    lines->line[i] = project::default_camera_line(work.path);
    project::set_line_field(*lines, i, project::kFieldType, std::to_string(type));
    project::set_line_field(*lines, i, project::kFieldAspect, work / aspect);
    if (!more.empty()) project::set_line_field(*lines, i, project::kFieldStartSwitches, more);
    if (i > lines->highest) lines->highest = i;
  }
  void run(bool editor_pass = false) {
    project::load_aspects(loaders, tables, *load, *lines, work.path, editor_pass);
  }
  const project::AspectRecord& aspect(int i, int k) { return tables.aspects[load->first[i] + k]; }
  std::string tag(int i, int k) { return std::string(project::tag_extension(aspect(i, k)).view()); }
};

TEST(Aspects, SpriteAnimationFramesAndTheirCount) {
  Scene s;
  s.image("sprites/ball_.pcx", 4, 3);
  s.image("sprites/ball_.002", 4, 3);
  s.image("sprites/Ball_.003", 4, 3);  // found without regard to case
  s.image("sprites/ball_.005", 4, 3);  // after a gap: not a frame
  s.element(0, project::kSprite, "sprites/ball_.pcx");
  s.run();
  ASSERT_EQ(s.load->count[0], 3);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(s.tag(0, k), ".h3d");
    EXPECT_EQ(std::string(s.aspect(0, k).tag, 4), "d3h.");
    EXPECT_EQ(s.aspect(0, k).word[1], k + 1);  // frame
    EXPECT_EQ(s.aspect(0, k).word[2], 4);      // width
    EXPECT_EQ(s.aspect(0, k).word[3], 3);      // height
    const uint8_t* pixels = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(s.aspect(0, k).word[0]));
    EXPECT_TRUE(base::in_budget(pixels, 12));
  }
  EXPECT_EQ(base::field(s.lines->line[0], project::kFieldFrames, '|'), "0/3");

  // The virtual editor's pass loads the first frame only.
  s.lines->line[0] = base::replace_field(s.lines->line[0], project::kFieldFrames, "0/1", '|');
  s.run(true);
  EXPECT_EQ(s.load->count[0], 1);
  EXPECT_EQ(base::field(s.lines->line[0], project::kFieldFrames, '|'), "0/1");
}

TEST(Aspects, TagsOfEveryKindAndDefaults) {
  Scene s;
  s.image("sprites/flat.pcx", 2, 2);
  s.image("frames/pic.pcx", 3, 2);
  s.image("counters/default_.pcx", 5, 7);
  project_test::write(s.work / "xvisuals/car.x", "xof");
  project_test::write(s.work / "xvisuals/car_002.x", "xof");
  struct Case {
    int type;
    const char* aspect;
    std::vector<std::string> tags;
  } cases[] = {
      {project::kCamera, "cameras/default_.03d", {".03d"}},
      {project::kShape3d, "3dshapes/a.a3d", {".a3d"}},
      {project::kFlatShape, "sprites/flat.pcx", {".b3d"}},
      {project::kShadow, "x", {}},
      {4, "x", {}},
      {project::kFrame, "frames/pic.pcx", {".f3d"}},
      {project::kBackground, "bckgrnds/sky.g3d", {".pcx"}},  // missing: "bckgrnds/default_.pcx"
      {project::kCounter, "counters/missing.pcx", {".e3d"}},
      {project::kTrack, "tracks/t.i3d", {".i3d"}},
      {project::kLight, "x", {".l3d"}},
      {project::kVisual, "visuals/v.v3d", {".v3d"}},
      {project::kBoundary, "grndmaps/g.m3d", {".m3d"}},
      {project::kMesh, "xvisuals/car.x", {".x3d", ".x3d"}},
  };
  int i = 0;
  for (const Case& c : cases) s.element(i++, c.type, c.aspect, c.type == project::kFlatShape ? "5" : "");
  s.run();
  i = 0;
  for (const Case& c : cases) {
    ASSERT_EQ(s.load->count[i], static_cast<int>(c.tags.size())) << c.type;
    for (std::size_t k = 0; k < c.tags.size(); ++k) EXPECT_EQ(s.tag(i, static_cast<int>(k)), c.tags[k]) << c.type;
    ++i;
  }
  EXPECT_EQ(s.aspect(2, 0).word[5], 1);  // flat shape: bit 2 of field 33 reaches the loader
  EXPECT_EQ(s.aspect(7, 0).word[2], 5);  // counter from the default resource
  EXPECT_EQ(s.aspect(7, 0).word[3], 7);
  EXPECT_EQ(s.aspect(12, 1).word[0], 12);  // mesh frame 2: element, frame, -1
  EXPECT_EQ(s.aspect(12, 1).word[1], 2);
  EXPECT_EQ(s.aspect(12, 1).word[2], -1);
  // ... and the frame's file, a data-arena text for the scene to read.
  for (int k : {0, 1}) {
    std::int32_t text = s.aspect(12, k).word[project::kMeshFileWord];
    ASSERT_GT(text, 0);
    std::string file(reinterpret_cast<const char*>(s.tables.arena.data()) + text - 1);
    EXPECT_TRUE(file.ends_with(k == 0 ? "xvisuals/car.x" : "xvisuals/car_002.x")) << file;
  }
}

// A mesh's frames: its name less the extension, "_", three digits, and the
// extension again, whatever the format; each record names its frame's file.
TEST(Aspects, MeshFramesKeepTheirFilesExtension) {
  Scene s;
  for (const char* file : {"xvisuals/walk.glb", "xvisuals/walk_002.glb", "xvisuals/walk_003.GLB", "xvisuals/run.obj",
                           "xvisuals/run_002.obj", "xvisuals/run_002.x"})
    project_test::write(s.work / file, "x");
  struct {
    const char* aspect;
    std::vector<std::string> frames;
  } cases[] = {
      {"xvisuals/walk.glb", {"xvisuals/walk.glb", "xvisuals/walk_002.glb", "xvisuals/walk_003.GLB"}},
      {"xvisuals/run.obj", {"xvisuals/run.obj", "xvisuals/run_002.obj"}},
  };
  for (int i = 0; i < 2; ++i) s.element(i, project::kMesh, cases[i].aspect);
  s.run();
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(cases[i].aspect);
    ASSERT_EQ(s.load->count[i], static_cast<int>(cases[i].frames.size()));
    for (int k = 0; k < s.load->count[i]; ++k) {
      std::int32_t text = s.aspect(i, k).word[project::kMeshFileWord];
      ASSERT_GT(text, 0);
      std::string file(reinterpret_cast<const char*>(s.tables.arena.data()) + text - 1);
      EXPECT_EQ(file, s.work / cases[i].frames[static_cast<std::size_t>(k)]);
      EXPECT_EQ(s.aspect(i, k).word[1], k + 1);
    }
  }
}

TEST(Aspects, RegisteredLoadersComeFirst) {
  Scene s;
  static int calls;
  calls = 0;
  ASSERT_TRUE(project::register_aspect_loader(s.loaders, project::kBoundary, ".M3D", [](project::LoaderCall& c) {
    ++calls;
    int a = project::take_aspect(c.tables, c.load, c.element, ".m3d");
    c.tables.aspects[a].word[0] = 99;
    return true;
  }));
  s.element(0, project::kBoundary, "grndmaps/g.m3d");
  s.element(1, project::kBoundary, "grndmaps/g.pcx");
  project_test::write(s.work / "grndmaps/g.pcx", "x");
  s.run();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(s.aspect(0, 0).word[0], 99);
  EXPECT_EQ(s.load->count[1], 1);  // the other extension: tag only
}

// A packaged game names its resources by a hash + ".dat": their kind comes from
// their first bytes, or for text from the element type.
TEST(Aspects, PackedNamesAreToldByTheirContent) {
  Scene s;
  static std::vector<std::string> seen;
  seen.clear();
  for (const char* ext : {".v3d", ".x", ".3ds", ".g3d"}) {
    int type = std::string(ext) == ".g3d" ? project::kBackground : project::kVisual;
    ASSERT_TRUE(project::register_aspect_loader(s.loaders, type, ext, [](project::LoaderCall& c) {
      seen.push_back(std::string(c.path.view().substr(c.path.view().size() - 12)));
      project::take_aspect(c.tables, c.load, c.element, ".v3d");
      return true;
    }));
  }
  project_test::write(s.work / "0A1B2C3D.dat", "1|./x.dat|./y.dat|3\r\n");
  project_test::write(s.work / "1A1B2C3D.dat", "xof 0303txt 0032\n");
  project_test::write(s.work / "2A1B2C3D.dat", std::string("MM\x10\0\0\0", 6));
  project_test::write(s.work / "3A1B2C3D.dat", "0|./sky.pcx\r\n");
  s.image("4A1B2C3D.dat", 2, 2);
  s.element(0, project::kVisual, "0A1B2C3D.dat");
  s.element(1, project::kVisual, "1A1B2C3D.dat");
  s.element(2, project::kVisual, "2A1B2C3D.dat");
  s.element(3, project::kBackground, "3A1B2C3D.dat");
  s.element(4, project::kBackground, "4A1B2C3D.dat");
  s.run();
  EXPECT_EQ(seen, (std::vector<std::string>{"0A1B2C3D.dat", "1A1B2C3D.dat", "2A1B2C3D.dat", "3A1B2C3D.dat"}));
  EXPECT_EQ(s.tag(4, 0), ".pcx");  // a packed background picture keeps the picture's tag
}

TEST(Aspects, RecordsPointAtTheirAspects) {
  Scene s;
  s.element(0, project::kCamera, "cameras/default_.03d");
  s.element(1, project::kShadow, "x");
  s.run();
  project::BuildSettings settings;
  project::build_records(settings, s.tables, *s.load, *s.lines);
  const project::ElementRecord& camera = s.tables.elements[0];
  EXPECT_EQ(static_cast<uint32_t>(camera.base_aspect), base::address32(&s.aspect(0, 0)));
  EXPECT_EQ(camera.current_aspect, camera.base_aspect);
  // "160/120/479/359/0/20&40/7": the camera's view goes to its aspect.
  EXPECT_EQ(s.aspect(0, 0).word[0], 0);
  EXPECT_EQ(s.aspect(0, 0).word[1], 20);
  EXPECT_EQ(s.aspect(0, 0).word[2], 40);
  EXPECT_EQ(s.aspect(0, 0).word[3], 7);
  EXPECT_EQ(s.tables.elements[1].base_aspect, 0);
}

TEST(Aspects, FullTablesAreRefused) {
  Scene s;
  s.load->used = project::kMaxAspects;
  EXPECT_EQ(project::take_aspect(s.tables, *s.load, 0, ".h3d"), -1);
  s.load->arena_used = s.tables.arena.size();
  EXPECT_EQ(project::take_arena(s.tables, *s.load, 4), nullptr);
}

}  // namespace
