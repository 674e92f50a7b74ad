// The video window of brains: `play_task` paced by the timer, its plays, its
// status, `stop_task`, and files that can't be played.
#include <unistd.h>

#include <filesystem>

#include "engine/render/render.h"
#include "engine/test_support.h"
#include "platform/platform.h"
#include "platform/video_test_clip.h"

namespace {

using namespace engine_test;

class VideoWindowTest : public EngineTest {
 protected:
  std::string dir = "/tmp/zepta_video_window_" + std::to_string(getpid()) + "/";
  void SetUp() override {
    EngineTest::SetUp();
    std::filesystem::create_directories(dir);
    world_->base_folder = base::Text(dir);  // clips are files brains name: inside the game's folders
  }
  void TearDown() override {
    EngineTest::TearDown();
    std::filesystem::remove_all(dir);
  }
  int red_at_centre() {
    const engine::VideoWindow& v = world_->video;
    const std::uint8_t* p = v.pixels.data() + ((v.frame_height / 2) * v.frame_width + v.frame_width / 2) * 4;
    return p[0];
  }
};

TEST_F(VideoWindowTest, PlayTaskShowsFramesWhenDueForEveryPlayThenStops) {
  // 10 frames a second: red, black, red.
  ASSERT_TRUE(video_test::write_clip(dir + "c.avi", {{255, 0, 0}, {0, 0, 0}, {255, 0, 0}}));
  compile({lines({"var s", "play_set(0, 0, 320, 240, 2)", "play_task(\"" + dir + "c.avi\")",
                  "s = play_task_status()"})});
  engine::brain_pass(*world_);
  engine::VideoWindow& v = world_->video;
  ASSERT_NE(v.video, nullptr);
  EXPECT_EQ(variable(0, 0), -1);
  EXPECT_EQ(v.width, 320);
  std::uint32_t t0 = v.started;
  const std::uint32_t tenth = engine::kTimerRate / 10;
  engine::advance_video(*world_, t0);
  ASSERT_TRUE(v.shown);
  EXPECT_GT(red_at_centre(), 200);
  engine::advance_video(*world_, t0 + tenth);
  EXPECT_LT(red_at_centre(), 40);
  engine::advance_video(*world_, t0 + 2 * tenth);
  EXPECT_GT(red_at_centre(), 200);
  EXPECT_TRUE(v.playing);
  // The last frame keeps its tenth; the second play starts after it, then the
  // clip stays on its last frame.
  engine::advance_video(*world_, t0 + 3 * tenth - 10);
  EXPECT_TRUE(v.playing);
  EXPECT_GT(red_at_centre(), 200);
  engine::advance_video(*world_, t0 + 4 * tenth);
  EXPECT_LT(red_at_centre(), 40);  // the second play's black frame
  EXPECT_TRUE(v.playing);
  engine::advance_video(*world_, t0 + 30 * tenth);
  EXPECT_FALSE(v.playing);
  EXPECT_GT(red_at_centre(), 200);
  EXPECT_EQ(brain::routine_of(brain::find_keyword("play_task_status"))(0, 0, 0, 0, 0, 0), 0);
  brain::routine_of(brain::find_keyword("stop_task"))(0, 0, 0, 0, 0, 0);
  EXPECT_EQ(v.video, nullptr);
}

TEST_F(VideoWindowTest, MissingOrBrokenFilesOpenNothing) {
  std::filesystem::path junk = dir + "junk.avi";
  std::FILE* f = std::fopen(junk.c_str(), "wb");
  std::fputs("not a video at all", f);
  std::fclose(f);
  compile({lines({"play_task(\"" + dir + "none.avi\")", "play(\"" + dir + "none.avi\")",
                  "play_task(\"" + dir + "junk.avi\")", "play_task(12)"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(world_->video.video, nullptr);
  EXPECT_FALSE(world_->video.playing);
}

}  // namespace
