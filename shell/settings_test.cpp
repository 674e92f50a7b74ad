// Folders and roles, runmode.ini, config.ini and the instance lock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "shell/shell.h"

namespace shell {
namespace {

struct Folder : ::testing::Test {
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/zepta_settings_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = std::string(tmpl) + "/";
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
  void write(const std::string& name, const std::string& bytes) {
    std::FILE* f = std::fopen((dir + name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::string read(const std::string& name) {
    std::string s;
    if (std::FILE* f = std::fopen((dir + name).c_str(), "rb")) {
      char buf[4096];
      std::size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
      std::fclose(f);
    }
    return s;
  }
};

TEST_F(Folder, WithoutRunmodeIniItIsThePlayer) {
  Folders f = make_folders(dir.substr(0, dir.size() - 1), false);  // a "/" is appended
  EXPECT_EQ(f.work, dir);
  EXPECT_FALSE(f.tool_host);
  EXPECT_EQ(f.data, dir);
  EXPECT_EQ(f.temp_file, dir + "temp.tmp");
  EXPECT_TRUE(f.engine_file.empty());
  RunModeSource src{f.runmode_file, nullptr};
  EXPECT_EQ(runmode_mode(src), 0);
  EXPECT_EQ(runmode_value(src, 1), -1);
  EXPECT_EQ(runmode_value(src, 3), -1);
  EXPECT_TRUE(runmode_project(src).empty());

  Folders forced = make_folders(dir, true);  // --mode and friends make a tool host
  EXPECT_TRUE(forced.tool_host);
  EXPECT_EQ(make_folders("C:\\games\\zepta", false).work, "C:/games/zepta/");
}

TEST_F(Folder, WithRunmodeIniItIsTheToolHost) {
  write("runmode.ini", "projects/my prj.prj\r\n14\r\n3\r\n-7\r\n");
  Folders f = make_folders(dir, false);
  EXPECT_TRUE(f.tool_host);
  EXPECT_EQ(f.data, dir + "data/");
  EXPECT_EQ(f.engine_file, "engine.dll");
  RunModeSource src{f.runmode_file, nullptr};
  EXPECT_EQ(runmode_project(src), "projects/my prj.prj");
  EXPECT_EQ(runmode_mode(src), 14);
  EXPECT_EQ(runmode_value(src, 1), 3);
  EXPECT_EQ(runmode_value(src, 2), -7);
  EXPECT_EQ(runmode_value(src, 3), 0);  // the file exists, the line does not

  Options o;
  o.has_mode = true;
  o.mode = 5;
  o.has_element = true;
  o.element = 9;
  RunModeSource over{f.runmode_file, &o};
  EXPECT_EQ(runmode_mode(over), 5);
  EXPECT_EQ(runmode_value(over, 1), 9);
  EXPECT_EQ(runmode_project(over), "projects/my prj.prj");  // not given: from the file
}

TEST(ProfileValues, HexPairsInMemoryOrderAndByteSum) {
  struct Case {
    std::int32_t value;
    const char* text;
  } cases[] = {
      {3, "0300000003"},  {63, "3F0000003F"},   {0, "0000000000"},
      {1, "0100000001"},  {-1, "FFFFFFFFFC"},   {0x12345678, "7856341214"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(encode_profile_value(c.value), c.text);
    std::int32_t v = 12345;
    EXPECT_TRUE(decode_profile_value(c.text, v));
    EXPECT_EQ(v, c.value);
  }
  std::int32_t v = 77;
  for (const char* bad : {"0300000004", "03000000", "030000000300", "zz00000000", "", "3f0000003g"})
    EXPECT_FALSE(decode_profile_value(bad, v)) << bad;
  EXPECT_EQ(v, 77);
  EXPECT_TRUE(decode_profile_value("3f0000003f", v));  // lower case is read too
  EXPECT_EQ(v, 63);
}

TEST_F(Folder, ConfigMissingFileGivesDefaultsAndTheFirstWriteCreatesIt) {
  Config c;
  c.display_mode = 99;
  Config defaults;
  read_config(dir + "config.ini", defaults);
  EXPECT_EQ(defaults.available_rendering_devices, 3);
  EXPECT_EQ(defaults.rendering_device, 1);
  EXPECT_EQ(defaults.available_display_modes, 63);
  EXPECT_EQ(defaults.display_mode, 1);
  EXPECT_EQ(defaults.filtering, 3);
  EXPECT_EQ(defaults.sound, 1);
  EXPECT_EQ(defaults.sound_mixing, 0);
  EXPECT_EQ(defaults.legal_display_modes, 63);

  ASSERT_TRUE(write_config(dir + "config.ini", defaults));
  EXPECT_EQ(read("config.ini"),
            "[User-Modifiable Engine Settings]\r\n"
            "AvailableRenderingDevices=0300000003\r\n"
            "RenderingDevice=0100000001\r\n"
            "AvailableDisplayModes=3F0000003F\r\n"
            "DisplayMode=0100000001\r\n"
            "Filtering=0300000003\r\n"
            "Sound=0100000001\r\n"
            "SoundMixing=0000000000\r\n"
            "[Engine Settings]\r\n"
            "LegalDisplayModes=3F0000003F\r\n");
}

TEST_F(Folder, ConfigRoundTripsAndKeepsOtherLines) {
  write("config.ini",
        "; written by hand\n"
        "[Engine Settings]\n"
        "Other=1\n"
        "[user-modifiable engine settings]\n"
        " Sound = 0200000002\n"
        "Filtering=0100000002\n"       // bad checksum: default kept
        "DisplayMode=04000000\n"       // too short: default kept
        "RenderingDevice=0000000000\n");
  Config c;
  read_config(dir + "config.ini", c);
  EXPECT_EQ(c.sound, 2);
  EXPECT_EQ(c.filtering, 3);
  EXPECT_EQ(c.display_mode, 1);
  EXPECT_EQ(c.rendering_device, 0);

  c.sound_mixing = 2;
  c.legal_display_modes = 5;
  c.available_display_modes = -5;
  ASSERT_TRUE(write_config(dir + "config.ini", c));
  Config back;
  read_config(dir + "config.ini", back);
  EXPECT_EQ(back.sound_mixing, 2);
  EXPECT_EQ(back.legal_display_modes, 5);
  EXPECT_EQ(back.available_display_modes, -5);
  EXPECT_EQ(back.sound, 2);
  std::string text = read("config.ini");
  EXPECT_NE(text.find("; written by hand\r\n"), std::string::npos);
  EXPECT_NE(text.find("[Engine Settings]\r\nOther=1\r\nLegalDisplayModes=0500000005\r\n"), std::string::npos);
  EXPECT_EQ(text.find("Sound=0200000002"), text.rfind("Sound=0200000002"));  // written once
}

TEST(ConfigRules, LegalAndDisplayModes) {
  struct Case {
    std::int32_t legal, available, mode;
    std::int32_t want_legal, want_available, want_mode;
  } cases[] = {
      {63, 63, 1, 63, 63, 1},
      {0, 63, 4, 1, 1, 1},       // "LegalDisplayModes" = 0 reads as 1, and the mode becomes 1
      {64 + 2, 63, 2, 2, 2, 2},  // masked to 6 bits
      {12, 63, 1, 12, 12, 1},    // mode not legal: 0, then 1
      {63, 7, 8, 63, 7, 8},
  };
  for (const Case& c : cases) {
    Config cfg;
    cfg.legal_display_modes = c.legal;
    cfg.available_display_modes = c.available;
    cfg.display_mode = c.mode;
    apply_settings_rules(cfg);
    EXPECT_EQ(cfg.legal_display_modes, c.want_legal);
    EXPECT_EQ(cfg.available_display_modes, c.want_available);
    EXPECT_EQ(cfg.display_mode, c.want_mode);
  }
}

TEST(ConfigRules, OfferedModesShiftTheChosenOne) {
  struct Case {
    std::int32_t legal, mode, offered, want_available, want_mode;
  } cases[] = {
      {63, 32, 63, 63, 32}, {63, 32, 15, 15, 8}, {63, 16, 3, 3, 2},
      {63, 2, 0, 1, 1},     {12, 8, 3, 0, 1},    // nothing legal is offered: the 640 x 480 x 16 mode
  };
  for (const Case& c : cases) {
    Config cfg;
    cfg.legal_display_modes = c.legal;
    cfg.display_mode = c.mode;
    apply_offered_modes(cfg, c.offered);
    EXPECT_EQ(cfg.available_display_modes, c.want_available) << c.mode;
    EXPECT_EQ(cfg.display_mode, c.want_mode) << c.mode;
  }
  EXPECT_EQ(modes_fitting(1920, 1080), 63);
  EXPECT_EQ(modes_fitting(800, 600), 15);
  EXPECT_EQ(modes_fitting(640, 480), 3);
  int w, h;
  screen_size_of(8, w, h);
  EXPECT_EQ(w * 10000 + h, 8000600);
  screen_size_of(32, w, h);
  EXPECT_EQ(w * 10000 + h, 10240768);
}

TEST_F(Folder, SecondCopyGivesUpWhileTheFirstHoldsTheLock) {
  int first = take_instance_lock(dir, 10, 0);
  ASSERT_GE(first, 0);
  EXPECT_EQ(take_instance_lock(dir, 3, 0), -1);
  release_instance_lock(first);
  int again = take_instance_lock(dir, 3, 0);
  EXPECT_GE(again, 0);
  release_instance_lock(again);
  EXPECT_EQ(take_instance_lock("/proc/no such folder/", 1, 0), -2);  // no lock file: go on
}

}  // namespace
}  // namespace shell
