// Video decoding: a small clip encoded here with FFmpeg, then read back; damaged
// and missing files are refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/scramble.h"
#include "platform/platform.h"
#include "platform/video_test_clip.h"

namespace {

using video_test::Rgb;
using video_test::write_clip;

class VideoTest : public ::testing::Test {
 protected:
  std::string dir = "/tmp/zepta_video_" + std::to_string(getpid()) + "/";
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
};

bool near(const std::uint8_t* p, Rgb c) {
  return std::abs(p[0] - c.r) < 24 && std::abs(p[1] - c.g) < 24 && std::abs(p[2] - c.b) < 24 && p[3] == 255;
}

TEST_F(VideoTest, FramesComeBackInOrderWithTheirTimesAndAgainAfterRewind) {
  const Rgb red{255, 0, 0}, blue{0, 0, 255};
  ASSERT_TRUE(write_clip(dir + "clip.avi", {red, red, red, blue, blue}));
  std::string error;
  platform::Video* v = platform::open_video(dir + "clip.avi", error);
  ASSERT_NE(v, nullptr) << error;
  int w = 0, h = 0;
  platform::video_size(*v, w, h);
  EXPECT_EQ(w, 32);
  EXPECT_EQ(h, 24);
  for (int pass = 0; pass < 2; ++pass) {
    const std::uint8_t* rgba = nullptr;
    double t = -1;
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(platform::next_video_frame(*v, rgba, t)) << pass << " " << i;
      EXPECT_NEAR(t, i * 0.1, 1e-6);
      EXPECT_TRUE(near(rgba + (12 * 32 + 16) * 4, i < 3 ? red : blue)) << i;
    }
    EXPECT_FALSE(platform::next_video_frame(*v, rgba, t));
    EXPECT_FALSE(platform::next_video_frame(*v, rgba, t));  // and it stays at the end
    ASSERT_TRUE(platform::rewind_video(*v));
  }
  platform::close_video(v);
}

TEST_F(VideoTest, MissingDamagedOrCutFilesAreRefusedOrEndEarly) {
  std::string error;
  EXPECT_EQ(platform::open_video(dir + "none.avi", error), nullptr);
  EXPECT_FALSE(error.empty());
  std::FILE* f = std::fopen((dir + "junk.avi").c_str(), "wb");
  std::fputs("RIFF\x10\0\0\0AVI LIST garbage garbage garbage", f);
  std::fclose(f);
  EXPECT_EQ(platform::open_video(dir + "junk.avi", error), nullptr);

  // The clip cut in the middle plays what it has and then ends.
  ASSERT_TRUE(write_clip(dir + "clip.avi", {{0, 255, 0}, {0, 255, 0}, {0, 255, 0}, {0, 255, 0}}));
  auto size = std::filesystem::file_size(dir + "clip.avi");
  std::filesystem::resize_file(dir + "clip.avi", size * 2 / 3);
  platform::Video* v = platform::open_video(dir + "clip.avi", error);
  if (!v) return;  // refusing a cut file is fine too
  const std::uint8_t* rgba = nullptr;
  double t = 0;
  int frames = 0;
  while (frames < 100 && platform::next_video_frame(*v, rgba, t)) ++frames;
  EXPECT_LT(frames, 100);
  platform::close_video(v);
}

// A packed video of a packaged game is stored scrambled: it plays through the package view.
TEST_F(VideoTest, ScrambledPackedClipPlaysThroughThePackageView) {
  const Rgb green{0, 255, 0};
  ASSERT_TRUE(write_clip(dir + "clip.avi", {green, green}));
  std::ifstream in(dir + "clip.avi", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  base::scramble({reinterpret_cast<std::byte*>(bytes.data()), bytes.size()});
  std::ofstream(dir + "0A1B2C3D.dat", std::ios::binary) << bytes;
  std::string error;
  EXPECT_EQ(platform::open_video(dir + "0A1B2C3D.dat", error), nullptr);  // scrambled, read as it is
  base::set_package_view(dir, false);
  platform::Video* v = platform::open_video(dir + "0A1B2C3D.dat", error);
  base::set_package_view("", false);
  ASSERT_NE(v, nullptr) << error;
  const std::uint8_t* rgba = nullptr;
  double t = -1;
  ASSERT_TRUE(platform::next_video_frame(*v, rgba, t));
  EXPECT_TRUE(near(rgba + (12 * 32 + 16) * 4, green));
  platform::close_video(v);
}

}  // namespace
