// Record build: units, ranges, defaults, display areas, user parameters.
#include <gtest/gtest.h>

#include <cstring>

#include <string>
#include <utility>
#include <vector>

#include "project/project.h"
#include "base/memory.h"

namespace {

using project::ElementRecord;

struct Fixture {
  project::Tables tables;
  project::AspectLoad load;
  project::ElementLines lines;
  project::BuildSettings settings;
  Fixture() {
    EXPECT_TRUE(base::reserve_budget());
    tables = project::budget_tables();
  }
  // Element line i: the default camera with type and the given fields replaced.
  void set(int i, int type, std::vector<std::pair<int, std::string>> fields) {
    lines.line[i] = project::default_camera_line("/w/");
    project::set_line_field(lines, i, project::kFieldType, std::to_string(type));
    for (auto& [n, v] : fields) ASSERT_TRUE(project::set_line_field(lines, i, n, v));
    if (i > lines.highest) lines.highest = i;
  }
  const ElementRecord& build(int i) {
    project::build_record(settings, tables, load, lines, i);
    return tables.elements[i];
  }
};

TEST(RecordBuild, ConvertsUserUnitsToEngineUnits) {
  struct Case {
    int type;
    int field;
    const char* text;
    int word;
    int32_t expected;
  } cases[] = {
      {1, 5, "1", project::kWordPosition, 512000},
      {1, 6, "12.5", project::kWordPosition + 1, 6400000},
      {1, 7, "-0.25", project::kWordPosition + 2, -128000},
      {1, 11, "0.000", project::kWordRotation, 0},
      {1, 12, "0", project::kWordRotation + 1, 0},
      {1, 13, "-0.5", project::kWordRotation + 2, -256},
      {1, 11, "360", project::kWordRotation, 184320},
      {1, 17, "1", project::kWordVelocity, 17067},
      {1, 19, "-2.5", project::kWordVelocity + 2, -42667},
      {1, 23, "1", project::kWordSpin, 102},
      {1, 25, "10", project::kWordSpin + 2, 1024},
      {1, 29, "12.9", project::kWordCredits, 12},
      {1, 29, "-3.5", project::kWordCredits, -3},
      {1, 31, "6", project::kWordCollisionCode, 6},
      {1, 32, "-2.5", project::kWordRadius, 2500},
      {1, 42, "2.5", project::kWordScaleX, 2500},
      {1, 44, "0.5", project::kWordScaleZ, 500},
      {1, 47, "3.7", project::kWordNetworkSync, 3},
      {1, 48, "2", project::kWordOwnerMachine, 2},
      // Sprites and counters read plain integers (pixels), except the radius.
      {5, 5, "100", project::kWordPosition, 100},
      {5, 11, "90", project::kWordRotation, 90},
      {8, 6, "37", project::kWordPosition + 1, 37},
      {8, 29, "250", project::kWordCredits, 250},
      {5, 32, "1.5", project::kWordRadius, 1500},
      {5, 42, "3", project::kWordScaleX, 3},
      // Scale 0 (or absent) becomes 1000.
      {1, 43, "0", project::kWordScaleY, 1000},
      {1, 42, "", project::kWordScaleX, 1000},
  };
  Fixture fx;
  for (const Case& c : cases) {
    fx.set(0, c.type, {{c.field, c.text}});
    const ElementRecord& r = fx.build(0);
    EXPECT_EQ(reinterpret_cast<const int32_t*>(&r)[c.word], c.expected)
        << "type " << c.type << " field " << c.field << " = " << c.text;
  }
}

TEST(RecordBuild, FortyFieldLineGetsUnitScalesAndFlags) {
  Fixture fx;
  fx.set(0, 1, {{33, "5"}});
  ASSERT_EQ(base::field_count(fx.lines.line[0], '|'), 40);
  const ElementRecord& r = fx.build(0);
  EXPECT_EQ(r.scale_x, 1000);
  EXPECT_EQ(r.scale_y, 1000);
  EXPECT_EQ(r.scale_z, 1000);
  EXPECT_EQ(r.flags, project::kFlagOn | project::kFlagShown | project::kFlagCollisions);
  fx.set(0, 1, {{33, "4"}});
  EXPECT_EQ(fx.build(0).flags, project::kFlagShown | project::kFlagCollisions);
}

TEST(RecordBuild, RangesApplyOnlyWhileAProjectRuns) {
  struct Draw {
    std::vector<std::pair<int32_t, int32_t>> calls;
  } draw;
  Fixture fx;
  fx.settings.random = [](int32_t lo, int32_t hi, void* user) {
    static_cast<Draw*>(user)->calls.push_back({lo, hi});
    return hi;
  };
  fx.settings.random_user = &draw;
  fx.set(0, 1, {{5, "1"}, {8, "0.5"}, {14, "0.001"}, {29, "10"}, {30, "2"}, {20, "0"}});

  fx.settings.project_running = false;
  EXPECT_EQ(fx.build(0).position[0], 512000);
  EXPECT_TRUE(draw.calls.empty());

  fx.settings.project_running = true;
  const ElementRecord& r = fx.build(0);
  // Position range 0.5 -> 256000; rotation range 0.001 degree -> 0 (no draw); credits range 2.
  ASSERT_EQ(draw.calls.size(), 2u);
  EXPECT_EQ(draw.calls[0], (std::pair<int32_t, int32_t>{256000, 768000}));
  EXPECT_EQ(draw.calls[1], (std::pair<int32_t, int32_t>{8, 12}));
  EXPECT_EQ(r.position[0], 768000);
  EXPECT_EQ(r.credits, 12);
}

TEST(RecordBuild, DisplayAreaScalesSpritesAndBackgroundsByDisplayMode) {
  struct Case {
    int type;
    int mode;
    int32_t x1, y1, x2, y2;
  } cases[] = {
      {5, 1, 160, 120, 479, 359},  {5, 2, 160, 120, 479, 359},  {5, 4, 200, 150, 598, 448},
      {7, 8, 200, 150, 598, 448},  {5, 16, 256, 192, 766, 574}, {7, 32, 256, 192, 766, 574},
      {0, 16, 160, 120, 479, 359},  // cameras and counters keep 640 x 480 values
      {8, 4, 160, 120, 479, 359},
  };
  Fixture fx;
  for (const Case& c : cases) {
    fx.settings.display_mode = c.mode;
    fx.set(0, c.type, {{37, "160/120/479/359/32x48"}});
    const ElementRecord& r = fx.build(0);
    EXPECT_EQ(r.display_area[0], c.x1) << c.type << " in mode " << c.mode;
    EXPECT_EQ(r.display_area[1], c.y1);
    EXPECT_EQ(r.display_area[2], c.x2);
    EXPECT_EQ(r.display_area[3], c.y2);
    if (c.type != 0) {
      EXPECT_EQ(r.size[0], 32);
      EXPECT_EQ(r.size[1], 48);
    }
  }
}

TEST(RecordBuild, CounterDisplayValuesAndFrames) {
  Fixture fx;
  fx.set(0, project::kCounter, {{37, "100/10/1/0/16x24"}, {38, "0/1"}});
  const ElementRecord& r = fx.build(0);
  EXPECT_EQ(r.display_area[project::kWordCounterDivisor - project::kWordDisplayArea], 100);
  EXPECT_EQ(r.display_area[project::kWordCounterPoint - project::kWordDisplayArea], 10);
  EXPECT_EQ(r.display_area[project::kWordCounterSign - project::kWordDisplayArea], 1);
  EXPECT_EQ(r.frame_limit, 1);
  fx.set(0, project::kSprite, {{38, "0/7"}});
  EXPECT_EQ(fx.build(0).frame_limit, 7);
}

TEST(RecordBuild, CameraDisplayAreaAndSwitch) {
  Fixture fx;
  // Exactly 7 sub-fields: field 38 kept, sub-field 1 sets the camera switch.
  fx.set(0, project::kCamera, {{38, "1/1"}});
  const ElementRecord& r = fx.build(0);
  EXPECT_EQ(r.flags & project::kFlagCameraSwitch, project::kFlagCameraSwitch);
  EXPECT_EQ(r.frame_limit, 0);
  EXPECT_EQ(base::field(fx.lines.line[0], 38, '|'), "1/1");
  EXPECT_EQ(r.display_area[2], 479);

  // Any other count of sub-fields rewrites field 38 to "0".
  fx.set(0, project::kCamera, {{37, "0/0/639/479"}, {38, "1/1"}});
  EXPECT_EQ(fx.build(0).flags & project::kFlagCameraSwitch, 0);
  EXPECT_EQ(base::field(fx.lines.line[0], 38, '|'), "0");
}

TEST(RecordBuild, UserParametersOfEveryKind) {
  Fixture fx;
  fx.settings.read_operand = [](std::string_view text, int32_t* v, void*) {
    if (text != "element#3") return false;
    *v = 3072;
    return true;
  };
  fx.set(0, 1,
         {{35, "9/0/5/1020/1/2/1016/2/-7/1012/3/1.5/1008/4/90/1004/5/1/1000/6/1/996/7/element#3/992/"
               "2/9/188"}});
  const ElementRecord& r = fx.build(0);
  auto at = [&](int offset) { return reinterpret_cast<const int32_t*>(&r)[offset / 4]; };
  EXPECT_EQ(at(1020), 5);
  EXPECT_EQ(static_cast<uint32_t>(at(1016)), base::address32(&fx.tables.elements[2]));
  EXPECT_EQ(at(1012), -7);
  EXPECT_EQ(at(1008), 768000);
  EXPECT_EQ(at(1004), 46080);
  EXPECT_EQ(at(1000), 17067);
  EXPECT_EQ(at(996), 102);
  EXPECT_EQ(at(992), 3072);
  EXPECT_EQ(at(956), 9);  // a slot below 256 means 768 + slot
}

TEST(RecordBuild, VarParametersWithoutTheCompilerTakePlainIntegersOnly) {
  Fixture fx;
  fx.set(0, 1, {{35, "3/7/42/1020/7/element#3/1016/7/-5/1012"}});
  const ElementRecord& r = fx.build(0);
  EXPECT_EQ(r.variables[127], 42);  // byte 1020
  EXPECT_EQ(r.variables[126], 0);
  EXPECT_EQ(r.variables[125], -5);
}

TEST(RecordBuild, BadParameterSlotsAndElementIndexesAreRefused) {
  Fixture fx;
  fx.set(0, 1, {{35, "0"}});
  ElementRecord plain = fx.build(0);
  // Slots outside bytes 512..1020 or not word-aligned are skipped, so nothing
  // outside the variable area is written; element 999 is no element (0).
  fx.set(0, 1, {{35, "6/2/11/300/2/12/1021/2/13/2000/2/14/-8/2/15/508/1/999/1020"}});
  const ElementRecord& r = fx.build(0);
  EXPECT_EQ(std::memcmp(&r, &plain, sizeof r), 0);
  // More than 127 parameters: the first 127 are kept.
  std::string many = "129";
  for (int k = 0; k < 129; ++k) many += "/2/" + std::to_string(k + 1) + "/" + std::to_string(1020 - 4 * k);
  fx.set(0, 1, {{35, many}});
  const ElementRecord& m = fx.build(0);
  EXPECT_EQ(m.variables[127], 1);
  EXPECT_EQ(m.variables[1], 127);
  EXPECT_EQ(m.variables[0], 0);
}

TEST(RecordBuild, SoundIndexAndHighestRecordCopy) {
  Fixture fx;
  fx.set(0, 1, {});
  fx.set(1, 1, {{3, "/w/sounds/engine.wav"}, {5, "2"}});
  fx.lines.highest = 1;
  project::build_records(fx.settings, fx.tables, fx.load, fx.lines);
  EXPECT_EQ(fx.tables.elements[0].sound_index, -1);  // "./sounds/null_.wav"
  EXPECT_EQ(fx.tables.elements[1].sound_index, 1);
  for (int i = 2; i < project::kMaxElements; ++i)
    ASSERT_EQ(std::memcmp(&fx.tables.elements[i], &fx.tables.elements[1], sizeof(ElementRecord)), 0) << i;
}

}  // namespace
