// Run mode 15 in the program itself, headless with scripted input: the image
// chosen, the repetitions asked until they are a power of two, the band and
// hood placed, and the project saved; nothing saved when nothing is chosen.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/program_fixture.h"

namespace {

namespace fs = std::filesystem;
using program_test::read;
using program_test::write;

struct Background3dRun : program_test::ProgramFixture {
  void make_images() {
    fs::create_directories(work + "bckgrnds");
    fs::copy_file(std::string(std::getenv("ZEPTA_TEST_DATA")) + "/../bckgrnds/bkgr000_.bmp", work + "bckgrnds/a.bmp");
    fs::copy_file(work + "bckgrnds/a.bmp", work + "bckgrnds/b.bmp");
  }
  std::unique_ptr<project::Project> load() {
    auto p = std::make_unique<project::Project>();
    matrix.assign(project::kCollisionBytes, 0);
    p->collision = matrix.data();
    project::Host host;
    host.work_folder = base::Text(work);
    host.data_folder = base::Text(work + "data/");
    EXPECT_TRUE(project::load_project(*p, host, work + "projects/t.prj"));
    return p;
  }
  std::vector<std::uint8_t> matrix;
};

TEST_F(Background3dRun, ChosenImageRepetitionsAndBandAreSaved) {
  make_project({""});
  make_images();
  // The chooser: the second cell. The question: 3, then 0, then 4 (each typed
  // over the count shown). The band: clicks on rows 99 and 400; F2; Escape.
  write(work + "input.txt",
        "30 mouse 320 120 1\n32 mouse 320 120 0\n"
        "60 key 14\n61 key 4 3\n62 key 28 13\n"
        "80 key 14\n81 key 11 0\n82 key 28 13\n"
        "100 key 14\n101 key 5 4\n102 key 28 13\n"
        "130 mouse 320 99 1\n132 mouse 320 99 0\n"
        "150 mouse 320 400 1\n152 mouse 320 400 0\n"
        "170 key 60\n190 key 1\n");
  program_test::Outcome r = run_program({"--headless", "--mode", "15", "--project", "projects/t.prj", "--input", "input.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  auto p = load();
  EXPECT_EQ(p->background, work + "bckgrnds/b.bmp");
  EXPECT_EQ(p->background_repeat, 4);
  EXPECT_EQ(p->settings.background_top, 100);
  EXPECT_EQ(p->settings.background_bottom, 401);
  EXPECT_EQ(p->settings.hood_type, 1);
  EXPECT_NE(read(work + "projects/t.prj").find("./bckgrnds/b.bmp|4|"), std::string::npos);
  EXPECT_TRUE(fs::exists(work + "data/zepta.ini"));
}

TEST_F(Background3dRun, NothingIsSavedWhenNoImageIsChosen) {
  make_project({""});
  make_images();
  std::string before = read(work + "projects/t.prj");
  write(work + "input.txt", "30 key 1\n");  // Escape in the chooser
  program_test::Outcome r = run_program({"--headless", "--mode", "15", "--project", "projects/t.prj", "--input", "input.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read(work + "projects/t.prj"), before);
  EXPECT_FALSE(fs::exists(work + "data/zepta.ini"));

  r = run_program({"--headless", "--mode", "15", "--project", "projects/t.prj"});  // nothing scripted: cancelled
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Select 3D background image\n" + work + "bckgrnds/\nPage 1 of 1\n  a.bmp\n  b.bmp\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read(work + "projects/t.prj"), before);
}

}  // namespace
