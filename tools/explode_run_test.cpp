// Run mode 8 in the program itself, headless with scripted input: a visual
// chosen, the script edited and saved under a name, the overwrite confirmed,
// then the frame files and the rewritten visual compared with the expected
// ones; cancelling, ABORT, damaged models and damaged scripts write nothing.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "media/media.h"
#include "media/test_util.h"
#include "tests/program_fixture.h"

namespace {

namespace fs = std::filesystem;
using program_test::read;
using program_test::write;

// Scan codes: Escape 1, Enter 28, F1 59, F2 60, Delete 83 (the second answer).
constexpr const char* kChooseFirst = "30 mouse 120 120 1\n32 mouse 120 120 0\n";
constexpr const char* kLeaveEditor = "60 key 1\n";
constexpr const char* kContinue = "90 key 83\n";
constexpr const char* kFalling =
    "velocity=0/0\r\ngravity=-20/-20\r\nspin=0/0\r\nx angle=0/0\r\nz angle=0/0\r\nair density=0/0\r\nframes=1/3\r\n";
constexpr const char* kVisual = "1|./3dsfiles/tex.bmp|./3dsfiles/cube.3ds|3|0|FFFFFF\r\n";

struct ExplodeRun : program_test::ProgramFixture {
  void make_files(const std::string& model, const std::string& script) {
    fs::create_directories(work + "visuals");
    fs::create_directories(work + "3dsfiles");
    write(work + "visuals/cube.v3d", kVisual);
    write(work + "3dsfiles/cube.3ds", model);
    write(work + "data/current.exp", script);
  }
  // The files the tool works on, with their bytes: visuals, models, scripts.
  std::map<std::string, std::string> files() {
    std::map<std::string, std::string> out;
    for (const char* folder : {"visuals", "3dsfiles", "brains"})
      for (const auto& f : fs::recursive_directory_iterator(work + folder))
        out[f.path().string()] = read(f.path().string());
    out["current.exp"] = read(work + "data/current.exp");
    return out;
  }
  program_test::Outcome run(const std::string& script) {
    write(work + "input.txt", script);
    return run_program({"--headless", "--mode", "8", "--input", "input.txt"});
  }
};

std::string fragments_of(const std::string& model) {
  std::vector<media::Triangle3ds> t;
  std::string why;
  media::read_3ds_triangles(std::as_bytes(std::span(model.data(), model.size())), t, why);
  std::vector<std::byte> b = media::write_fragment_3ds(t);
  return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

TEST_F(ExplodeRun, TheFramesAndTheVisualAreWritten) {
  const std::string cube = media_test::cube3ds();
  make_files(cube, kFalling);
  program_test::Outcome r = run(std::string(kChooseFirst) + kLeaveEditor + kContinue);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Exploding visual successfully generated!\n"), std::string::npos) << r.err;
  EXPECT_EQ(read(work + "visuals/cube.v3d"), std::string(kVisual) +
                                                 "2|./3dsfiles/tex.bmp|./3dsfiles/cube002.3ds|3|0|FFFFFF\r\n"
                                                 "3|./3dsfiles/tex.bmp|./3dsfiles/cube003.3ds|3|0|FFFFFF\r\n");
  // Frames 1 and 2 hold the cube as it was (the fall starts after frame 2 is written).
  EXPECT_EQ(read(work + "3dsfiles/cube001.3ds"), fragments_of(cube));
  EXPECT_EQ(read(work + "3dsfiles/cube002.3ds"), fragments_of(cube));
  EXPECT_EQ(read(work + "3dsfiles/cube003.3ds").size(), 52u * 12 + 56);
  EXPECT_NE(read(work + "3dsfiles/cube003.3ds"), fragments_of(cube));
  EXPECT_FALSE(fs::exists(work + "3dsfiles/cube004.3ds"));
  EXPECT_NE(read(work + "data/curpaths.ini").find(work + "visuals/cube.v3d"), std::string::npos);
}

TEST_F(ExplodeRun, CancelsAndDamagedInputWriteNothing) {
  const std::string cube = media_test::cube3ds();
  const std::string all = std::string(kChooseFirst) + kLeaveEditor + kContinue;
  struct Case {
    const char* name;
    std::string model, script, input;
    std::string told;  // on stderr
  } cases[] = {
      {"chooser cancelled", cube, kFalling, "30 key 1\n", ""},
      {"ABORT at the warning", cube, kFalling, std::string(kChooseFirst) + kLeaveEditor,
       "WARNING!\nSelected visual (cube.v3d) will be overwritten!\n"},
      {"not MM", "MX" + cube.substr(2), kFalling, all, "is not a 3DS file.\nNothing was written.\n"},
      {"zero chunk length",
       media_test::model3ds(media_test::chunk3ds(0x4160, "", 0) + media_test::vertex_chunk(media_test::cube_vertices()) +
                            media_test::face_chunk(media_test::cube_faces())),
       kFalling, all, "is damaged:\nchunk 0x4160 of length 0 at offset"},
      {"face index out of range",
       media_test::model3ds(media_test::vertex_chunk(media_test::cube_vertices()) + media_test::face_chunk({{0, 1, 9}})),
       kFalling, all, "is damaged:\nface 0 names vertex 9 of 8.\nNothing was written.\n"},
      {"truncated", cube.substr(0, 100), kFalling, all, "is damaged:\nfile cut short"},
      {"damaged script", cube, "frames=1/3\r\nspin=lots\r\n", all,
       "The explode script is damaged:\nline 2: \"spin\" wants two whole numbers, low/high.\n"},
  };
  for (const Case& c : cases) {
    make_files(c.model, c.script);
    auto before = files();
    program_test::Outcome r = run(c.input);
    EXPECT_EQ(r.status, 0) << c.name << "\n" << r.err;
    EXPECT_NE(r.err.find(c.told), std::string::npos) << c.name << "\n" << r.err;
    EXPECT_EQ(r.err.find("successfully"), std::string::npos) << c.name;
    EXPECT_EQ(files(), before) << c.name;
  }
}

TEST_F(ExplodeRun, F2SavesTheScriptUnderANameInBrains) {
  make_files(media_test::cube3ds(), kFalling);
  write(work + "brains/myexp.exp", "old");
  // F2, the offered name taken with Enter, the overwrite question answered
  // CONTINUE; then a second F2 with "Big.Bang" typed over the name; Escape;
  // ABORT (nobody answers). A key every 10 ticks: a panel empties the input as it opens.
  std::string input = kChooseFirst;
  int tick = 50;
  for (const char* key : {"60", "28 13", "28 13", "60", "14", "14", "14", "14", "14", "48 66", "23 105", "34 103",
                          "52 46", "48 98", "28 13", "1"})
    input += std::to_string(tick += 10) + " key " + key + "\n";
  program_test::Outcome r = run(input);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read(work + "brains/myexp.exp"), kFalling);
  EXPECT_EQ(read(work + "brains/Big.exp"), kFalling);
  EXPECT_EQ(read(work + "visuals/cube.v3d"), kVisual);  // ABORT at the warning
  EXPECT_FALSE(fs::exists(work + "3dsfiles/cube001.3ds"));
}

TEST_F(ExplodeRun, F1LoadsASavedScriptOverTheCurrentOne) {
  const std::string fire = "frames=1/2\r\nvelocity=0/0\r\n";
  make_files(media_test::cube3ds(), kFalling);
  write(work + "brains/fire.exp", fire);
  // F1, CONTINUE, the first row of the list browser, Escape, CONTINUE at the warning.
  program_test::Outcome r =
      run(std::string(kChooseFirst) + "60 key 59\n70 key 28 13\n90 mouse 200 154 1\n92 mouse 200 154 0\n" +
          "110 key 1\n120 key 83\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read(work + "data/current.exp"), fire);
  EXPECT_EQ(read(work + "visuals/cube.v3d"),
            std::string(kVisual) + "2|./3dsfiles/tex.bmp|./3dsfiles/cube002.3ds|3|0|FFFFFF\r\n");
  EXPECT_TRUE(fs::exists(work + "3dsfiles/cube002.3ds"));
  EXPECT_FALSE(fs::exists(work + "3dsfiles/cube003.3ds"));
}

}  // namespace
