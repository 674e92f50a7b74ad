// Sound in project runs: small projects run in this process with a loopback
// device, whose mix is rendered after every drawn frame and measured; the
// keywords on bad slots and elements; damaged files; config.ini's Sound
// setting through the program itself.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "engine/engine_local.h"
#include "media/test_util.h"
#include "platform/platform.h"
#include "platform/sound.h"
#include "engine/run_fixture.h"

namespace {

using program_test::lines;
using program_test::write;

constexpr int kRate = 22050;  // the "Sound" setting 2
constexpr int kTone = 441;    // Hz: a whole number of periods in a second, so the tone loops cleanly

// A 16-bit mono tone of the given length at kRate.
std::string tone_file(double seconds) {
  std::vector<std::int16_t> s(static_cast<std::size_t>(seconds * kRate));
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<std::int16_t>(16000 * std::sin(2 * std::numbers::pi * kTone * static_cast<double>(i) / kRate));
  std::vector<std::uint8_t> b = media_test::pcm_wav(1, kRate, 16, media_test::pcm16_bytes(s));
  return {b.begin(), b.end()};
}

// What one drawn frame's share of the mix held.
struct Levels {
  double left = 0, right = 0;  // root mean square
  int crossings = 0;           // sign changes of the left channel
};

constexpr int kSettleFrames = 1024;   // the mixer ramps a change over its first block
constexpr int kMeasureFrames = 2048;

Levels render_levels() {
  std::vector<float> out((kSettleFrames + kMeasureFrames) * 2);
  Levels l;
  if (!platform::render_sound(out)) return l;
  for (int i = kSettleFrames; i < kSettleFrames + kMeasureFrames; ++i) {
    l.left += out[2 * i] * out[2 * i], l.right += out[2 * i + 1] * out[2 * i + 1];
    if ((out[2 * i] < 0) != (out[2 * i - 2] < 0)) ++l.crossings;
  }
  l.left = std::sqrt(l.left / kMeasureFrames), l.right = std::sqrt(l.right / kMeasureFrames);
  return l;
}

class SoundRun : public run_test::InProcessRun {
 protected:
  void SetUp() override {
    InProcessRun::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    write(work + "sounds/tone.wav", tone_file(1.0));
    write(work + "sounds/short.wav", tone_file(0.05));
    std::vector<std::uint8_t> bad = media_test::riff_wave({media_test::riff_chunk("data", {1, 2, 3, 4})});
    write(work + "sounds/bad.wav", std::string(bad.begin(), bad.end()));  // no format chunk
  }
  void TearDown() override {
    engine::close_sound_output();
    InProcessRun::TearDown();
  }

  // The loopback device at 22,050 Hz (or the given "Sound" setting) and mixing setting.
  bool open(int mixing, int sound = 2) {
    engine::SoundOutput output;
    output.device = engine::SoundOutput::loopback;
    output.sound = sound;
    output.mixing = mixing;
    return engine::open_sound_output(output);
  }

  // Loads "projects/t.prj" and runs it, ticks back to back; after each drawn
  // frame the mix is rendered and kept by the value of global 9 (the brains'
  // clock).
  void run(std::int32_t ticks) {
    project = load_test_project();
    ASSERT_TRUE(project);
    engine::RunSetup setup;
    setup.project = project.get();
    setup.work_folder = base::Text(work);
    setup.data_folder = base::Text(work + "data/");
    setup.options.fast = true;
    setup.options.max_ticks = ticks;
    engine::RunHooks hooks;
    hooks.user = this;
    hooks.frame_drawn = [](void* u, engine::World&, std::int64_t) {
      auto* t = static_cast<SoundRun*>(u);
      t->levels[engine::globals()[9]] = render_levels();
    };
    engine::run_project(*world, setup, hooks);
  }

  std::int32_t global(int i) const { return engine::globals()[i]; }
  const project::ElementRecord& record(int i) const { return world->tables.elements[i]; }

  std::unique_ptr<engine::World> world = std::make_unique<engine::World>();
  std::unique_ptr<project::Project> project;
  std::map<std::int32_t, Levels> levels;  // by the brains' clock
};

// The listener's brain: global 9 is the clock the frames are kept by.
std::string clocked(std::initializer_list<std::string_view> body) {
  std::string text = lines({"var t", "t = timer(element)", "global_set(9, t)"});
  return text + lines(body);
}

TEST_F(SoundRun, ElementSoundsStartWithTheRunLoopOrPlayOnceAndEndWithIt) {
  ASSERT_TRUE(open(0));
  make_project({clocked({"global_set(100 + t, sound_status(element#1))", "global_set(200 + t, sound_status(element#2))",
                         "if t = 12", "stop_sound(element#1)", "endif"}),
                "", ""},
               {}, {{1, 3, "./sounds/tone.wav"}, {2, 3, "./sounds/short.wav"}, {2, 39, "4096/2/50/1"}});
  run(20);
  // The looping tone plays from the start until stopped; the short one-shot ends by itself.
  EXPECT_EQ(global(100 + 6), -1);
  EXPECT_EQ(global(100 + 14), 0);
  EXPECT_EQ(global(200 + 2), -1);  // before any mixing
  EXPECT_EQ(global(200 + 18), 0);
  EXPECT_GT(levels[10].left, 0.1);
  EXPECT_NEAR(levels[10].left, levels[10].right, 0.01);  // not placed: heard at the listener
  EXPECT_EQ(levels[16].left, 0.0);
  // The record's sound words: slot, the file's rate, the play-rate factor, the one-shot flag.
  EXPECT_EQ(record(1).sound_index, 1);
  EXPECT_EQ(record(1).sound_frequency, kRate);
  EXPECT_EQ(record(1).sound_rate, 4096);
  EXPECT_EQ(record(1).flags & project::kFlagSoundKept, 0);
  EXPECT_NE(record(2).flags & project::kFlagSoundKept, 0);
  EXPECT_EQ(record(0).sound_index, -1);  // "null_.wav": no sound
  // The run's end released every sound.
  for (int slot : {1, 2}) EXPECT_FALSE(platform::sound_loaded(slot));
  EXPECT_EQ(render_levels().left, 0.0);
}

// Element 1 sounds at x; the listener (element 0, at the origin) is turned by
// ry degrees about y.
TEST_F(SoundRun, TheListenerHearsPlacedElementSoundsFromTheirSide) {
  struct Case {
    int mixing;
    const char* x;
    const char* ry;
    char louder;  // 'L' left, 'R' right, 'C' both alike
  };
  const Case cases[] = {{1, "-5", "0", 'L'}, {1, "5", "0", 'R'}, {3, "-5", "180", 'R'}, {0, "-5", "0", 'C'}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("mixing ") + std::to_string(c.mixing) + ", x " + c.x + ", turned " + c.ry);
    ASSERT_TRUE(open(c.mixing));
    make_project({clocked({}), ""}, {}, {{0, 12, c.ry}, {1, 3, "./sounds/tone.wav"}, {1, 5, c.x}});
    levels.clear();
    run(10);
    const Levels& l = levels[8];
    EXPECT_GT(l.left + l.right, 0.05);
    double towards = c.louder == 'L' ? l.left : l.right, away = c.louder == 'L' ? l.right : l.left;
    if (c.louder == 'C') {
      EXPECT_NEAR(l.left, l.right, 0.01);
    } else {
      EXPECT_GT(towards, 2 * away);
    }
  }
}

// Nearest-sounds selection: the list takes the first N, then each sound
// replaces the first listed one farther than it.
TEST(NearestSounds, ReplaceTheFirstFartherEntry) {
  struct Case {
    std::vector<engine::SoundDistance> playing;
    std::size_t room;
    std::vector<engine::SoundDistance> listed;
  };
  const Case cases[] = {
      {{{0, 10}, {1, 20}, {2, 5}}, 2, {{2, 5}, {1, 20}}},
      {{{0, 10}, {1, 20}, {2, 30}}, 2, {{0, 10}, {1, 20}}},
      {{{0, 10}, {1, 20}, {2, 15}}, 2, {{0, 10}, {2, 15}}},
      {{{3, 10}, {4, 10}}, 1, {{3, 10}}},  // not farther: kept
      {{{5, 7}}, 4, {{5, 7}}},
      {{}, 16, {}},
  };
  for (const Case& c : cases) {
    std::vector<engine::SoundDistance> list(c.room);
    int n = engine::select_nearest(c.playing, list);
    ASSERT_EQ(static_cast<std::size_t>(n), c.listed.size());
    for (int k = 0; k < n; ++k) {
      EXPECT_EQ(list[k].element, c.listed[k].element) << k;
      EXPECT_EQ(list[k].distance, c.listed[k].distance) << k;
    }
  }
}

// Two sounds near the listener on its left, a far one on its right: with room
// for two in the nearest list the far one keeps the volume of its minimum
// distance; with room for sixteen it fades with its distance.
TEST_F(SoundRun, OnlyTheNearestElementSoundsFadeWithDistance) {
  double right[2];
  const int mixing[2] = {1, 3};
  for (int k = 0; k < 2; ++k) {
    ASSERT_TRUE(open(mixing[k]));
    make_project({clocked({}), "", "", ""}, {},
                 {{1, 3, "./sounds/tone.wav"}, {1, 5, "-3"}, {2, 3, "./sounds/tone.wav"}, {2, 5, "-4"},
                  {3, 3, "./sounds/tone.wav"}, {3, 5, "40"}});
    levels.clear();
    run(8);
    right[k] = levels[6].right;
  }
  EXPECT_GT(right[0], 3 * right[1]);
}

TEST_F(SoundRun, FreeStandingSoundsPlayStopAndTakeTheirVolume) {
  ASSERT_TRUE(open(0));
  make_project({clocked({"var s", "if t = 1", "s = esound_load(\"sounds/tone.wav\")",
                         "esound_location_set(s, -2560000, 0, 0)", "esound_play(s, 0)", "endif",
                         "if t = 6", "global_set(1, esound_state(s))", "esound_play(s, 1)", "endif",
                         "if t = 8", "global_set(2, esound_state(s))", "endif",
                         "if t = 10", "esound_volume_set(s, 9000)", "endif",
                         "if t = 13", "esound_stop(s)", "global_set(3, esound_state(s))", "endif",
                         "if t = 15", "esound_unload(s)", "global_set(4, esound_load(\"SOUNDS/Tone.WAV\"))",
                         "global_set(5, esound_load(\"sounds\\tone.wav\"))", "endif", "global_set(6, s)"})});
  run(18);
  EXPECT_EQ(global(6), 0);   // the first slot
  EXPECT_EQ(global(1), -1);  // playing once
  EXPECT_EQ(global(2), 0);   // looping answers 0
  EXPECT_EQ(global(3), 0);   // stopped
  EXPECT_EQ(global(4), 0);   // unloaded: the first slot is free again; names are found whatever their case
  EXPECT_EQ(global(5), 1);
  // Free-standing sounds are always placed: 5 scene units to the listener's left.
  const Levels& full = levels[9];
  EXPECT_GT(full.left, 2 * full.right);
  EXPECT_GT(full.left, 0.05);
  EXPECT_NEAR(levels[12].left / full.left, 0.316, 0.02);  // 9000: 10 dB down
  EXPECT_EQ(levels[14].left, 0.0);
}

TEST_F(SoundRun, VolumeOfTheSettingsField) {
  ASSERT_TRUE(open(0));
  double level[2];
  const char* settings[2] = {"4096/2/50/0", "4096/2/50/0/-6"};  // full, then 6 dB down
  for (int k = 0; k < 2; ++k) {
    make_project({clocked({}), ""}, {}, {{1, 3, "./sounds/tone.wav"}, {1, 39, settings[k]}});
    run(8);
    level[k] = levels[6].left;
  }
  EXPECT_GT(level[0], 0.1);
  EXPECT_NEAR(level[1] / level[0], 0.501, 0.02);
}

// The play-rate factor: 4096 plays at the file's rate, 8192 twice as fast, 0 at 100 Hz.
TEST_F(SoundRun, PlayRateFactorSetsTheFrequency) {
  ASSERT_TRUE(open(0));
  struct Case {
    int factor;
    double speed;
  };
  const Case cases[] = {{4096, 1.0}, {8192, 2.0}, {2048, 0.5}, {0, 100.0 / kRate}};
  int reference = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.factor);
    make_project({clocked({"if t = 1", "samplerate_set(element#1, " + std::to_string(c.factor) + ")", "endif"}), ""}, {},
                 {{1, 3, "./sounds/tone.wav"}});
    run(8);
    EXPECT_EQ(record(1).sound_rate, c.factor);
    int crossings = levels[6].crossings;
    if (c.factor == 4096) reference = crossings;
    ASSERT_GT(reference, 50);
    EXPECT_NEAR(crossings, reference * c.speed, reference * 0.1 + 2);
  }
}

TEST_F(SoundRun, OffStopsALoopingSoundAndOnStartsItAgain) {
  ASSERT_TRUE(open(0));
  make_project({clocked({"if t = 6", "off(element#1)", "off(element#2)", "endif",
                         "if t = 8", "global_set(1, sound_status(element#1))", "global_set(2, sound_status(element#2))",
                         "on(element#1)", "global_set(3, sound_status(element#1))", "sound_mode_set(element#1, 1)",
                         "global_set(4, state(element#1, 16))", "endif"}),
                "", ""},
               {}, {{1, 3, "./sounds/tone.wav"}, {2, 3, "./sounds/tone.wav"}, {2, 39, "4096/2/50/1"}});
  run(10);
  EXPECT_EQ(global(1), 0);   // looping: stopped by off
  EXPECT_EQ(global(2), -1);  // one-shot: plays on
  EXPECT_EQ(global(3), -1);  // on: from the start
  EXPECT_EQ(global(4), 16);  // one-shot now
}

TEST_F(SoundRun, TheSoundSystemStopsAndStartsAgainEmpty) {
  ASSERT_TRUE(open(0));
  make_project({clocked({"if t = 6", "stop_sound_system()", "endif",
                         "if t = 7", "global_set(1, sound_status(element#1))", "global_set(2, esound_load(\"sounds/tone.wav\"))", "endif",
                         "if t = 9", "restart_sound_system()", "play_sound(element#1)", "global_set(3, sound_status(element#1))",
                         "global_set(4, esound_load(\"sounds/tone.wav\"))", "endif"}),
                ""},
               {}, {{1, 3, "./sounds/tone.wav"}});
  run(11);
  EXPECT_EQ(global(1), 0);
  EXPECT_EQ(global(2), -1);
  EXPECT_EQ(global(3), 0);  // the restart emptied the element sounds too
  EXPECT_EQ(global(4), 0);
  EXPECT_TRUE(platform::sound_on());
}

TEST_F(SoundRun, SoundOffMakesEveryKeywordDoNothing) {
  ASSERT_FALSE(open(0, 0));
  make_project({clocked({"play_sound(element#1)", "sound_mode_set(element#1, 1)", "global_set(1, sound_status(element#1))",
                         "global_set(2, esound_load(\"sounds/tone.wav\"))", "global_set(3, esound_state(0))"}),
                ""},
               {}, {{1, 3, "./sounds/tone.wav"}});
  run(4);
  EXPECT_EQ(global(1), 0);
  EXPECT_EQ(global(2), -1);
  EXPECT_EQ(global(3), 0);
  EXPECT_EQ(record(1).flags & project::kFlagSoundKept, 0);
  EXPECT_EQ(record(1).sound_frequency, 0);
  EXPECT_FALSE(platform::sound_on());
  std::vector<float> out(64);
  EXPECT_FALSE(platform::render_sound(out));
}

TEST_F(SoundRun, KeywordsOnBadSlotsElementsAndFilesDoNothing) {
  ASSERT_TRUE(open(1));
  // A sound outside the working folder, a link to it inside, a pipe.
  std::string outside = work + "../zepta_sound_outside_" + std::to_string(getpid()) + ".wav";
  write(outside, tone_file(0.1));
  ASSERT_EQ(symlink(outside.c_str(), (work + "sounds/link.wav").c_str()), 0);
  ASSERT_EQ(mkfifo((work + "sounds/pipe.wav").c_str(), 0600), 0);
  struct Case {
    const char* call;
    std::int32_t result;
  };
  const Case cases[] = {
      {"esound_play(-1, 1)", 0},
      {"esound_play(500, 0)", 0},
      {"esound_state(499)", 0},
      {"esound_state(-1)", 0},
      {"esound_volume_set(7, 10000)", 0},
      {"esound_frequency_set(-5, 44100)", 0},
      {"esound_minmaxdist_set(2147483647, 1, 2)", 0},
      {"esound_stop(600)", 0},
      {"esound_unload(0x80000000)", 0},
      {"esound_location_set(500, 1, 2, 3)", 0},
      {"esound_load(\"sounds/missing.wav\")", -1},
      {"esound_load(\"sounds/bad.wav\")", -1},
      {"esound_load(\"../zepta_sound_outside_x.wav\")", -1},
      {"esound_load(\"sounds/link.wav\")", -1},
      {"esound_load(\"sounds/pipe.wav\")", -1},
      {"esound_load(\"/etc/hostname\")", -1},
      {"esound_load(\"sounds\")", -1},
      {"esound_load(\"\")", -1},
      {"esound_load(12345)", -1},
      {"play_sound(element#1)", 0},
      {"sound_status(element#1)", 0},  // "null_.wav": no sound
      {"play_sound(0x80000000)", 0},
      {"sound_status(12345)", 0},
      {"sound_rate_set(3, 8192)", 0},
      {"sound_mode_set(-1, 1)", 0},
      {"stop_sound(0x80000000)", 0},
      {"listener(77)", 0},
      {"hearer(0x80000000)", 0},
  };
  std::string outside_name = "../zepta_sound_outside_" + std::to_string(getpid()) + ".wav";
  std::vector<std::string> body;
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    std::string call = cases[k].call;
    if (call.find("outside_x") != std::string::npos) call = "esound_load(\"" + outside_name + "\")";
    body.push_back("global_set(" + std::to_string(20 + k) + ", " + call + ")");
  }
  std::string brain = lines({"var t", "t = timer(element)", "global_set(9, t)"});
  for (const std::string& b : body) brain += b + "\r\n";
  make_project({brain, ""});
  testing::internal::CaptureStderr();
  run(3);
  std::string err = testing::internal::GetCapturedStderr();
  std::filesystem::remove(outside);
  for (std::size_t k = 0; k < std::size(cases); ++k) EXPECT_EQ(global(20 + static_cast<int>(k)), cases[k].result) << cases[k].call;
  EXPECT_EQ(world->listener, 0);
  // A brain loading in a loop is reported once a run.
  std::size_t first = err.find("esound_load");
  EXPECT_NE(first, std::string::npos) << err;
  EXPECT_EQ(err.find("esound_load", first + 1), std::string::npos) << err;
  EXPECT_EQ(world->exit_request, -1);
}

TEST_F(SoundRun, AMissingOrDamagedFileLeavesItsElementSilent) {
  ASSERT_TRUE(open(0));
  make_project({clocked({"play_sound(element#1)", "play_sound(element#2)", "global_set(1, sound_status(element#1))",
                         "global_set(2, sound_status(element#2))", "global_set(3, sound_status(element#3))"}),
                "", "", ""},
               {}, {{1, 3, "./sounds/bad.wav"}, {2, 3, "./sounds/missing.wav"}, {3, 3, "./Sounds/TONE.wav"}});
  testing::internal::CaptureStderr();
  run(4);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(global(1), 0);
  EXPECT_EQ(global(2), 0);
  EXPECT_EQ(global(3), -1);  // found whatever the case of its name
  EXPECT_EQ(record(1).sound_index, -1);
  EXPECT_EQ(record(2).sound_index, -1);
  EXPECT_EQ(world->ticks, 8u);  // the run went on
  // One line for each, naming the element and the file.
  auto count = [&](const std::string& s) {
    int n = 0;
    for (std::size_t at = err.find(s); at != std::string::npos; at = err.find(s, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("element 1: ./sounds/bad.wav: no format chunk"), 1) << err;
  EXPECT_EQ(count("element 2: ./sounds/missing.wav"), 1) << err;
  EXPECT_EQ(count("\n"), 2) << err;
}

// config.ini's "Sound" reaches the program's device: a headless run with a
// loopback device loads a free-standing sound, unless Sound is 0.
TEST_F(SoundRun, TheProgramTakesTheSoundSettingOfConfigIni) {
  write(work + "sounds/tone.wav", tone_file(0.2));
  make_project({lines({"if timer(element) = 1", "global_set(1, 1 + esound_load(\"sounds/tone.wav\"))", "endif"})});
  setenv("ZEPTA_SOUND_DEVICE", "loopback", 1);
  write(work + "config.ini", "[User-Modifiable Engine Settings]\r\nSound=0200000002\r\n");
  program_test::Outcome on = test_run({"--ticks", "2"});
  write(work + "config.ini", "[User-Modifiable Engine Settings]\r\nSound=0000000000\r\n");
  program_test::Outcome off = test_run({"--ticks", "2"});
  unsetenv("ZEPTA_SOUND_DEVICE");
  ASSERT_EQ(on.status, 0) << on.err;
  EXPECT_TRUE(program_test::has_line(on.dump, "global 1 1")) << on.dump;
  EXPECT_FALSE(program_test::has_line(off.dump, "global 1 1")) << off.dump;
  EXPECT_EQ(on.err, "");
}

}  // namespace
