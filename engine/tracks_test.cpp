// Tracks played into elements, the track recorder, and save games.
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "engine/test_support.h"
#include "base/files.h"

namespace {

using namespace engine_test;

std::int32_t call(const char* name, std::int32_t a, std::int32_t b = 0) {
  return brain::routine_of(brain::find_keyword(name))(a, b, 0, 0, 0, 0);
}

class TrackTest : public EngineTest {
 protected:
  // Element 1 is a track of the samples, element 0 plays it.
  void make_track(const std::vector<std::array<std::int32_t, 6>>& samples) {
    auto* data = reinterpret_cast<std::int32_t*>(base::area(base::Area::data_arena).data() + 65536);
    for (std::size_t i = 0; i < samples.size(); ++i)
      for (int k = 0; k < 6; ++k) data[i * 6 + k] = samples[i][k];
    project::AspectRecord& a = base::area_as<project::AspectRecord>(base::Area::aspect_table)[0];
    project::write_tag(a, ".i3d");
    a.word[0] = static_cast<std::int32_t>(base::address32(data));
    a.word[1] = static_cast<std::int32_t>(samples.size() * 24);
    record(1).current_aspect = static_cast<std::int32_t>(base::address32(&a));
    record(1).track_data = a.word[0];
    world_->highest = 1;
  }
  std::array<std::int32_t, 6> motion(int i) {
    const ElementRecord& r = record(i);
    return {r.velocity[0], r.velocity[1], r.velocity[2], r.spin[0], r.spin[1], r.spin[2]};
  }
};

using Six = std::array<std::int32_t, 6>;

TEST_F(TrackTest, PlayForwardsLoopingAndBackwards) {
  const Six s0{10, 20, 30, 1, 2, 3}, s1{1, 0, 0, 0, 5, 0}, s2{2, 0, 0, 0, 6, 0};
  make_track({s0, s1, s2});
  for (const Six& s : {s0, s1, s2}) {
    EXPECT_EQ(call("track_play", ref(0), ref(1)), 0);
    EXPECT_EQ(motion(0), s);
  }
  EXPECT_EQ(call("track_play", ref(0), ref(1)), -1);  // the end: nothing changes
  EXPECT_EQ(motion(0), s2);

  // Looping goes back to the second sample; the first holds absolute values.
  EXPECT_EQ(call("track_play_loop", ref(0), ref(1)), -1);
  EXPECT_EQ(call("track_play_loop", ref(0), ref(1)), 0);
  EXPECT_EQ(motion(0), s1);

  // Backwards from the end: the last sample negated, then the one before; at the
  // first sample the position wraps to the last and the call says so.
  call("track_play_reset", ref(1), 2);
  EXPECT_EQ(call("track_play_back", ref(0), ref(1)), 0);
  EXPECT_EQ(motion(0), (Six{-2, 0, 0, 0, -6, 0}));
  EXPECT_EQ(call("track_play_back", ref(0), ref(1)), 0);
  EXPECT_EQ(motion(0), (Six{-1, 0, 0, 0, -5, 0}));
  EXPECT_EQ(call("track_play_back", ref(0), ref(1)), -1);
  EXPECT_EQ(motion(0), (Six{-2, 0, 0, 0, -6, 0}));

  // Reset: only to a sample inside the track.
  for (std::int32_t n : {3, -1, 1 << 30}) {
    std::int32_t before = record(1).track_data;
    call("track_play_reset", ref(1), n);
    EXPECT_EQ(record(1).track_data, before) << n;
  }
  call("track_play_reset", ref(1), 1);
  call("track_play", ref(0), ref(1));
  EXPECT_EQ(motion(0), s1);
}

TEST_F(TrackTest, NoTrackOrADamagedPlayPositionChangesNothing) {
  make_track({{1, 2, 3, 4, 5, 6}});
  record(0).velocity[0] = 77;
  EXPECT_EQ(call("track_play", ref(0), ref(0)), 0);  // element 0 is no track
  EXPECT_EQ(call("track_play", ref(0), 12345), 0);
  EXPECT_EQ(call("track_play", -1, ref(1)), 0);
  for (std::int32_t bad : {0, record(1).track_data + 5, record(1).track_data - 24, 0x7fffffff}) {
    record(1).track_data = bad;  // a brain wrote over the play position
    EXPECT_EQ(call("track_play", ref(0), ref(1)), -1) << bad;
    EXPECT_EQ(call("track_play_back", ref(0), ref(1)), -1) << bad;  // the end counts as the last sample
    record(0).velocity[0] = 77;
  }
  EXPECT_EQ(record(0).velocity[0], 77);
}

TEST_F(TrackTest, RecorderKeepsChangesAndStopsWhenFull) {
  world_->highest = 0;
  ElementRecord& e = record(0);
  e.position[0] = 100, e.rotation[1] = 7;
  call("track_record", ref(0));
  e.position[0] = 130, e.rotation[1] = 5;
  call("track_record", ref(0));
  std::span<const std::byte> rec = engine::track_recording(*world_);
  ASSERT_EQ(rec.size(), 48u);
  const auto* v = reinterpret_cast<const std::int32_t*>(rec.data());
  EXPECT_EQ((Six{v[0], v[1], v[2], v[3], v[4], v[5]}), (Six{100, 0, 0, 0, 7, 0}));
  EXPECT_EQ((Six{v[6], v[7], v[8], v[9], v[10], v[11]}), (Six{30, 0, 0, 0, -2, 0}));

  call("track_record_reset", 0);
  EXPECT_TRUE(engine::track_recording(*world_).empty());
  for (int i = 0; i < 30000; ++i) call("track_record", ref(0));
  // The sample after the last one holds the last absolute values, inside the buffer.
  EXPECT_EQ(engine::track_recording(*world_).size(), 21844u * 24);
  EXPECT_EQ(call("track_record", -5), 0);
}

TEST_F(TrackTest, SaveGamesOnlyInThePlayer) {
  namespace fs = std::filesystem;
  fs::path folder = fs::temp_directory_path() / ("zepta_save_" + std::to_string(getpid()));
  fs::create_directories(folder);
  world_->base_folder = (folder.string() + "/").c_str();
  world_->highest = 1;
  record(1).position[2] = 4242;
  record(1).brain_entry = 1111;
  engine::globals()[9] = 99;

  call("save_x", 2);
  call("resume_x", 2);
  EXPECT_FALSE(fs::exists(folder / "curr2.dat"));  // the tool host saves nothing
  EXPECT_EQ(world_->exit_request, -1);

  world_->player = true;
  world_->level = 3;
  call("resume_x", 2);  // no save game yet
  EXPECT_EQ(world_->exit_request, -1);
  call("save_x", 2);
  ASSERT_EQ(fs::file_size(folder / "curr2.dat"), 270344u);
  call("resume_x", 2);
  EXPECT_EQ(world_->exit_request, -4);

  record(1).position[2] = 0;
  record(1).brain_entry = 2222;
  engine::globals()[9] = 0;
  ASSERT_TRUE(engine::read_save_game(*world_, (folder / "curr2.dat").string()));
  EXPECT_EQ(record(1).position[2], 4242);
  EXPECT_EQ(record(1).brain_entry, 2222);  // entries belong to this run's compile
  EXPECT_EQ(engine::globals()[9], 99);

  std::FILE* f = std::fopen((folder / "curr5.dat").c_str(), "wb");
  std::fputs("short", f);
  std::fclose(f);
  EXPECT_FALSE(engine::read_save_game(*world_, (folder / "curr5.dat").string()));
  fs::remove_all(folder);
}

}  // namespace
