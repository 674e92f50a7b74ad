// Project, collision and state files: round trips, defaults and damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "project/project.h"
#include "project/test_support.h"
#include "base/memory.h"
#include "tests/brain_files.h"

namespace {

using project_test::read;
using project_test::write;
using brain_test::lines;

struct Scene {
  project_test::WorkFolder work;
  project::Host host;
  std::vector<std::unique_ptr<uint8_t[]>> matrices;
  Scene() {
    EXPECT_TRUE(base::reserve_budget());
    host.work_folder = work.path.c_str();
    host.data_folder = (work.path + "data/").c_str();
  }
  std::unique_ptr<project::Project> fresh() {
    auto p = std::make_unique<project::Project>();
    matrices.push_back(std::make_unique<uint8_t[]>(project::kCollisionBytes));
    p->collision = matrices.back().get();
    return p;
  }
  std::string brain_of(const project::Project& p, int i) {
    return read(std::string(base::field(p.lines.line[i], project::kFieldBrain, '|').view()));
  }
  std::string prj(const std::string& name) { return work / ("projects/myprj/" + name); }
};

// A project with one element of every type, each with its own brain.
void fill_fixture(Scene& s, project::Project& p) {
  std::string w = s.work.path;
  for (int type = 0; type < project::kTypeCount; ++type) {
    p.lines.line[type] = project::default_camera_line(w);
    p.lines.highest = type;
    auto set = [&](int n, const std::string& v) { ASSERT_TRUE(project::set_line_field(p.lines, type, n, v)); };
    set(project::kFieldName, "element " + std::to_string(type));
    set(project::kFieldAspect, w + "sprites/e" + std::to_string(type) + ".pcx");
    set(project::kFieldSound, w + "sounds/null_.wav");
    set(project::kFieldType, std::to_string(type));
    set(project::kFieldPosition, std::to_string(type) + ".250");
    // A forward and a backward element reference, which loading must keep.
    set(project::kFieldUserParameters, "2/1/" + std::to_string(13 - type) + "/1020/4/-12.5/1016");
    set(41, "kept");
    set(project::kFieldScale, "1.000");
    set(project::kFieldGroup, "group " + std::to_string(type % 3));
    set(50, "7");
    std::string brain = w + "brains/" + std::to_string(type) + ".bra";
    write(brain, type == 4 ? "" : lines({"; brain " + std::to_string(type), "var a", "if a > 1", "endif"}));
    set(project::kFieldBrain, brain);
  }
  p.description = "Every kind of element";
  p.background = (w + "images/sky.bmp").c_str();
  p.background_repeat = 4;
  p.shared_variables = "3,7(2)";
  p.settings = {45, 10, 400, 2, 80};
  p.collision[0 * 256 + 13] = 3;
  p.collision[5 * 256 + 6] = 7;
  p.collision[12 * 256 + 13] = 11;
}

TEST(ProjectFile, SaveThenLoadGivesTheSameProject) {
  Scene s;
  auto saved = s.fresh();
  fill_fixture(s, *saved);
  ASSERT_TRUE(project::save_project(*saved, s.host, s.prj("default.prj")));

  // The file holds "./" paths and "-" brains.
  std::string text = read(s.prj("default.prj"));
  EXPECT_EQ(text.find(s.work.path), std::string::npos);
  EXPECT_EQ(text.substr(0, 25), ";Every kind of element\r\n1");
  EXPECT_NE(text.find("element 3|./sprites/e3.pcx|./sounds/null_.wav|-|3.250|"), std::string::npos);
  EXPECT_NE(text.find("\r\n./images/sky.bmp|4|3,7(2)\r\n@0\r\n; brain 0\r\n"), std::string::npos);
  EXPECT_EQ(read(s.prj("default.col")).size(), 65536u);

  s.host.next_brain = 100;
  auto loaded = s.fresh();
  ASSERT_TRUE(project::load_project(*loaded, s.host, s.prj("default.prj")));
  ASSERT_EQ(loaded->lines.highest, 13);
  for (int i = 0; i <= 13; ++i) {
    EXPECT_EQ(base::replace_field(loaded->lines.line[i], 4, "", '|'),
              base::replace_field(saved->lines.line[i], 4, "", '|'))
        << i;
    EXPECT_EQ(base::field(loaded->lines.line[i], 4, '|'),
              s.work.path + "brains/" + std::to_string(100 + i) + ".bra");
    EXPECT_EQ(s.brain_of(*loaded, i), s.brain_of(*saved, i)) << i;
  }
  EXPECT_EQ(loaded->description, "Every kind of element");
  EXPECT_EQ(loaded->background, s.work.path + "images/sky.bmp");
  EXPECT_EQ(loaded->background_repeat, 4);
  EXPECT_EQ(loaded->shared_variables, "3,7(2)");
  EXPECT_EQ(loaded->settings.clip_distance, 45);
  EXPECT_EQ(loaded->settings.background_top, 10);
  EXPECT_EQ(loaded->settings.background_bottom, 400);
  EXPECT_EQ(loaded->settings.hood_type, 2);
  EXPECT_EQ(loaded->settings.camera_fov, 80);
  EXPECT_EQ(std::memcmp(loaded->collision, saved->collision, project::kCollisionBytes), 0);
  EXPECT_EQ(loaded->collision[12 * 256 + 13], 11);

  // Saving the loaded project again writes the very same bytes.
  ASSERT_TRUE(project::save_project(*loaded, s.host, s.prj("again.prj")));
  EXPECT_EQ(read(s.prj("again.prj")), text);
  EXPECT_EQ(read(s.prj("again.col")), read(s.prj("default.col")));
}

TEST(ProjectFile, SaveClearsUnusedPairsAndStoresSettingsInRow254) {
  Scene s;
  auto p = s.fresh();
  p->lines.line[0] = project::default_camera_line(s.work.path);
  p->lines.line[1] = project::default_camera_line(s.work.path);
  p->lines.highest = 1;
  p->collision[1 * 256 + 200] = 5;    // row 1 is in use: kept
  p->collision[200 * 256 + 201] = 5;  // both above the highest: cleared
  p->settings = {30, 0, 479, 0, 100};
  ASSERT_TRUE(project::save_project(*p, s.host, s.prj("a.prj")));
  std::string col = read(s.prj("a.col"));
  ASSERT_EQ(col.size(), 65536u);
  EXPECT_EQ(col[1 * 256 + 200], 5);
  EXPECT_EQ(col[200 * 256 + 201], 0);
  const unsigned char expected[24] = {30, 0, 0, 0, 0, 0, 0, 0, 223, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0};
  EXPECT_EQ(std::memcmp(col.data() + 65036, expected, 24), 0);
}

TEST(ProjectFile, LibraryBrainsBecomeDistinctPrivateCopies) {
  Scene s;
  write(s.work / "brains/lib.brn", "var x\r\n");
  std::string line = project::default_camera_line("./").c_str();
  line = std::string(base::replace_field(line, 4, "./brains/LIB.brn", '|').view());
  write(s.prj("lib.prj"), ";two\r\n2\r\n" + line + "\r\n" + line + "\r\n|1|\r\n");
  auto p = s.fresh();
  ASSERT_TRUE(project::load_project(*p, s.host, s.prj("lib.prj")));
  ASSERT_EQ(p->lines.highest, 1);
  EXPECT_NE(base::field(p->lines.line[0], 4, '|'), base::field(p->lines.line[1], 4, '|'));
  EXPECT_EQ(s.brain_of(*p, 0), "var x\r\n");
  EXPECT_EQ(s.brain_of(*p, 1), "var x\r\n");
}

// Every brain knows where its lines came from: an embedded one the line of its
// "@" block in the project file, a library one its file.
TEST(ProjectFile, BrainsKnowTheLinesTheyCameFrom) {
  Scene s;
  write(s.work / "brains/lib.brn", "var x\r\n");
  std::string embedded = project::default_camera_line("./").c_str();
  std::string library = std::string(base::replace_field(embedded, 4, "./brains/LIB.brn", '|').view());
  std::string text = ";three\r\n3\r\n" + embedded + "\r\n" + library + "\r\n" + embedded +
                     "\r\n|1|\r\n@0\r\nvar a\r\n\r\n@2\nvar b\n";
  write(s.prj("origins.prj"), text);
  auto p = s.fresh();
  ASSERT_TRUE(project::load_project(*p, s.host, s.prj("origins.prj")));
  EXPECT_EQ(p->brain_origin[0].file, s.prj("origins.prj"));
  EXPECT_EQ(p->brain_origin[0].line_before, 7);
  EXPECT_EQ(p->brain_origin[1].file, s.work / "brains/lib.brn");
  EXPECT_EQ(p->brain_origin[1].line_before, 0);
  EXPECT_EQ(p->brain_origin[2].file, s.prj("origins.prj"));
  EXPECT_EQ(p->brain_origin[2].line_before, 10);

  std::vector<project::EmbeddedBrain> brains = project::embedded_brains(text);
  ASSERT_EQ(brains.size(), 2u);
  EXPECT_EQ(brains[0].label, "0");
  EXPECT_EQ(brains[0].text, "var a\r\n\r\n");
  EXPECT_EQ(brains[0].line_before, 7);
  EXPECT_EQ(brains[1].label, "2");
  EXPECT_EQ(brains[1].text, "var b\n");
  EXPECT_EQ(brains[1].line_before, 10);
}

TEST(ProjectFile, ProjectTextIsToldFromOtherFiles) {
  struct {
    const char* text;
    bool project;
  } cases[] = {{";a project\r\n2\r\n", true}, {"0\n", true}, {";a\n;b\n12", true}, {"", false},
               {";only a header\r\n", false}, {"var x\r\n", false}, {"\x89PNG\r\n", false}, {"3 elements\r\n", false}};
  for (auto c : cases) EXPECT_EQ(project::is_project_text(c.text), c.project) << c.text;
}

TEST(ProjectFile, MissingFileGivesTheDefaultCameraProject) {
  Scene s;
  auto p = s.fresh();
  p->collision[77] = 9;
  ASSERT_TRUE(project::load_project(*p, s.host, s.prj("none.prj")));
  EXPECT_EQ(p->lines.highest, 0);
  EXPECT_EQ(p->collision[77], 0);
  EXPECT_EQ(base::replace_field(p->lines.line[0], 4, "-", '|'), project::default_camera_line(s.work.path));
  // The camera gets an empty private brain of its own.
  EXPECT_EQ(base::field(p->lines.line[0], 4, '|'), s.work.path + "brains/0.bra");
  EXPECT_TRUE(project_test::exists(s.work / "brains/0.bra"));
}

TEST(ProjectFile, SaveFailureIsReported) {
  Scene s;
  auto p = s.fresh();
  p->lines.line[0] = project::default_camera_line(s.work.path);
  p->lines.highest = 0;
  EXPECT_FALSE(project::save_project(*p, s.host, s.work / "no/such/folder/x.prj"));
  // An interrupted save leaves the old file: the write goes to a temporary first.
  write(s.prj("old.prj"), "old");
  ASSERT_TRUE(project::save_project(*p, s.host, s.prj("old.prj")));
  EXPECT_FALSE(project_test::exists(s.prj("old.prj.~write")));
}

// Element line i of a hand-made project file: type 1, brain "-" or a name.
std::string file_line(int i, const std::string& brain = "-") {
  std::string line = std::string(project::default_camera_line("./").view());
  line = std::string(base::replace_field(line, 1, "e" + std::to_string(i), '|').view());
  line = std::string(base::replace_field(line, 2, "./3dshapes/default_.a3d", '|').view());
  line = std::string(base::replace_field(line, 4, brain, '|').view());
  return std::string(base::replace_field(line, 36, "1", '|').view());
}

TEST(ProjectFile, DamagedFilesLoadWhatCanBeLoaded) {
  std::string e0 = file_line(0), e1 = file_line(1), e2 = file_line(2);
  std::string overlong = file_line(9) + "|" + std::string(3000, 'x');
  std::string many = ";many\r\n300\r\n";
  for (int i = 0; i < 300; ++i) many += file_line(i) + "\r\n";
  many += "|1|\r\n@0\r\nzero\r\n";
  struct Case {
    const char* what;
    std::string text;
    int highest;
    std::vector<std::string> brains;  // expected brain of elements 0..
  } cases[] = {
      {"overlong line", ";d\r\n3\r\n" + e0 + "\r\n" + overlong + "\r\n" + e2 + "\r\n|1|\r\n@0\r\nA\r\n@1\r\nB\r\n@2\r\nC\r\n",
       1, {"A\r\n", "C\r\n"}},
      {"no @0 line", ";d\r\n2\r\n" + e0 + "\r\n" + e1 + "\r\n|1|\r\n", 1, {"", ""}},
      {"too few @ blocks", ";d\r\n2\r\n" + e0 + "\r\n" + e1 + "\r\n|1|\r\n@0\r\nA\r\n", 1, {"A\r\n", ""}},
      {"@ inside a brain line", ";d\r\n1\r\n" + e0 + "\r\n|1|\r\n@0\r\na@1\r\n @2\r\n", 0, {"a@1\r\n @2\r\n"}},
      {"no settings line", ";d\r\n1\r\n" + e0, 0, {""}},
      {"no elements", ";d\r\n0\r\n|1|\r\n", -1, {}},
      {"empty file", "", -1, {}},
      {"over 256 lines", many, 255, {"zero\r\n", ""}},
      {"mixed brains", ";d\r\n3\r\n" + e0 + "\r\n" + file_line(1, "./brains/lib.brn") + "\r\n" + e2 +
           "\r\n|1|\r\n@0\r\nA\r\n@1\r\nC\r\n",
       2, {"A\r\n", "lib\r\n", "C\r\n"}},
      {"garbage", std::string("\0\xff|\r\n\r\r\n@0\r\n", 12) + std::string(35, '|') + "1\r\n", -1, {}},
  };
  for (const Case& c : cases) {
    Scene s;
    write(s.work / "brains/lib.brn", "lib\r\n");
    write(s.prj("d.prj"), c.text);
    auto p = s.fresh();
    EXPECT_TRUE(project::load_project(*p, s.host, s.prj("d.prj"))) << c.what;
    EXPECT_EQ(p->lines.highest, c.highest) << c.what;
    for (std::size_t i = 0; i < c.brains.size(); ++i) EXPECT_EQ(s.brain_of(*p, static_cast<int>(i)), c.brains[i]) << c.what << " " << i;
  }
}

std::string with_lf(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

std::string without_last_end(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Everything a load gives, brains and built records included.
struct Loaded {
  std::vector<std::string> lines, brains;
  std::string description, background, shared;
  int32_t repeat = 0;
  std::vector<std::string> records;  // the bytes of each built record
  bool operator==(const Loaded&) const = default;
};

Loaded load_text(const std::string& text) {
  Scene s;
  write(s.work / "brains/lib.brn", "lib\r\n");
  write(s.prj("d.prj"), text);
  auto p = s.fresh();
  EXPECT_TRUE(project::load_project(*p, s.host, s.prj("d.prj")));
  Loaded l;
  for (int i = 0; i <= p->lines.highest; ++i) {
    // Private brain names and paths hold the scratch folder: compare the rest.
    base::Text line = base::replace_field(p->lines.line[i], project::kFieldBrain, "", '|');
    l.lines.emplace_back(base::replace_all(line, s.work.path, "W/").view());
    l.brains.push_back(s.brain_of(*p, i));
  }
  l.description = p->description.view();
  l.background = base::replace_all(p->background, s.work.path, "W/").view();
  l.shared = p->shared_variables.view();
  l.repeat = p->background_repeat;
  project::Tables tables = project::budget_tables();
  project::AspectLoad load;
  project::build_records({}, tables, load, p->lines);
  for (int i = 0; i <= p->lines.highest; ++i) {
    project::ElementRecord r = tables.elements[i];
    r.brain_entry = 0;
    l.records.emplace_back(reinterpret_cast<const char*>(&r), sizeof r);
  }
  return l;
}

TEST(ProjectFile, LfLineEndsReadAsCrLf) {
  std::string e1 = file_line(1, "./brains/lib.brn");
  e1 = std::string(base::replace_field(e1, project::kFieldPosition, "2.5", '|').view());
  std::string crlf = ";Line ends\r\n3\r\n" + file_line(0) + "\r\n" + e1 + "\r\n" + file_line(2) +
                     "\r\n./images/sky.bmp|2|3,7(2)\r\n@0\r\nvar a\r\na = 1\r\n@2\r\n\r\nif a\r\nendif\r\n";
  Loaded expected = load_text(crlf);
  ASSERT_EQ(expected.lines.size(), 3u);
  EXPECT_EQ(expected.description, "Line ends");
  EXPECT_EQ(expected.background, "W/images/sky.bmp");
  EXPECT_EQ(expected.shared, "3,7(2)");
  EXPECT_EQ(expected.brains, (std::vector<std::string>{"var a\r\na = 1\r\n", "lib\r\n", "\r\nif a\r\nendif\r\n"}));
  project::ElementRecord second;
  std::memcpy(&second, expected.records[1].data(), sizeof second);
  EXPECT_EQ(second.position[0], 2500 * 512);
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"LF", with_lf(crlf)},
      {"CR LF, no last line end", without_last_end(crlf)},
      {"LF, no last line end", without_last_end(with_lf(crlf))},
      {"mixed", with_lf(crlf.substr(0, 40)) + crlf.substr(40)},
  };
  for (const Case& c : cases) EXPECT_TRUE(load_text(c.text) == expected) << c.what;
}

TEST(ProjectFile, SavedBrainLinesEndInCrLf) {
  Scene s;
  auto p = s.fresh();
  p->lines.line[0] = project::default_camera_line(s.work.path);
  p->lines.line[1] = project::default_camera_line(s.work.path);
  p->lines.highest = 1;
  write(s.work / "brains/a.bra", "var a\na = 1");
  write(s.work / "brains/b.bra", "x\r\ny\n");
  project::set_line_field(p->lines, 0, project::kFieldBrain, s.work / "brains/a.bra");
  project::set_line_field(p->lines, 1, project::kFieldBrain, s.work / "brains/b.bra");
  ASSERT_TRUE(project::save_project(*p, s.host, s.prj("p.prj")));
  std::string text = read(s.prj("p.prj"));
  EXPECT_NE(text.find("\r\n@0\r\nvar a\r\na = 1\r\n@1\r\nx\r\ny\r\n"), std::string::npos);
  EXPECT_EQ(with_lf(text).find('\r'), std::string::npos);  // no LF stands alone
}

std::vector<std::string> warnings_seen;
void keep_warning(std::string_view text) { warnings_seen.emplace_back(text); }

// The warnings of loading text as d.prj, without the folder in front.
std::vector<std::string> load_warnings(const std::string& text) {
  Scene s;
  s.host.warn = keep_warning;
  write(s.prj("d.prj"), text);
  warnings_seen.clear();
  auto p = s.fresh();
  EXPECT_TRUE(project::load_project(*p, s.host, s.prj("d.prj")));
  std::vector<std::string> seen;
  for (const std::string& w : warnings_seen) seen.push_back(w.substr(w.find("d.prj")));
  return seen;
}

// A short or empty collision file is told once, with its size; a whole one, a
// longer one and none at all are not.
TEST(ProjectFile, ShortCollisionFileIsWarnedAbout) {
  struct {
    long size;  // -1: no file
    std::vector<std::string> warnings;
  } cases[] = {
      {0, {"d.col: warning: collision file of 0 bytes, not 65536: the missing bytes read as 0"}},
      {100, {"d.col: warning: collision file of 100 bytes, not 65536: the missing bytes read as 0"}},
      {65536, {}},
      {70000, {}},
      {-1, {}},
  };
  for (const auto& c : cases) {
    Scene s;
    s.host.warn = keep_warning;
    write(s.prj("d.prj"), ";d\r\n1\r\n" + file_line(0) + "\r\n|1|\r\n@0\r\n");
    if (c.size >= 0) write(s.prj("d.col"), std::string(static_cast<std::size_t>(c.size), '\0'));
    warnings_seen.clear();
    auto p = s.fresh();
    EXPECT_TRUE(project::load_project(*p, s.host, s.prj("d.prj")));
    std::vector<std::string> seen;
    for (const std::string& w : warnings_seen) seen.push_back(w.substr(w.find("d.")));
    EXPECT_EQ(seen, c.warnings) << c.size;
  }
}

TEST(ProjectFile, DoubtfulBrainBlocksAreWarnedAbout) {
  std::string e0 = file_line(0), e1 = file_line(1), e2 = file_line(2), lib = file_line(1, "./brains/lib.brn");
  std::string head3 = ";d\r\n3\r\n" + e0 + "\r\n" + e1 + "\r\n" + e2 + "\r\n|1|\r\n";
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> warnings;
  } cases[] = {
      {"as saved", head3 + "@0\r\nA\r\n@1\r\n@2\r\nC\r\n", {}},
      {"as saved, LF", with_lf(head3 + "@0\r\nA\r\n@1\r\n@2\r\nC\r\n"), {}},
      {"labels swapped", head3 + "@0\r\nA\r\n@2\r\n@1\r\nC\r\n",
       {"d.prj:9: warning: brain block \"@2\" goes to element 1, and more blocks to elements other than their labels"}},
      {"label not a number", head3 + "@0\r\n@one\r\n@2\r\n", {"d.prj:8: warning: brain block \"@one\" goes to element 1"}},
      {"a block short", head3 + "@0\r\nA\r\n@1\r\nB\r\n", {"d.prj:10: warning: 2 brain blocks for 3 elements whose brain is \"-\""}},
      {"a block over", head3 + "@0\r\n@1\r\n@2\r\n@3\r\nD\r\n",
       {"d.prj:10: warning: 4 brain blocks for 3 elements whose brain is \"-\""}},
      {"no @0 line", head3 + "@1\r\nB\r\n", {"d.prj:8: warning: 0 brain blocks for 3 elements whose brain is \"-\""}},
      // Blocks go to the "-" elements in order: element 2 takes the second block.
      {"library brain between", ";d\r\n3\r\n" + e0 + "\r\n" + lib + "\r\n" + e2 + "\r\n|1|\r\n@0\r\nA\r\n@1\r\nC\r\n",
       {"d.prj:9: warning: brain block \"@1\" goes to element 2"}},
      {"library brains only", ";d\r\n1\r\n" + lib + "\r\n|1|\r\n", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(load_warnings(c.text), c.warnings) << c.what;

  // The warnings change nothing: the blocks still go in order.
  Scene s;
  write(s.prj("d.prj"), head3 + "@0\r\nA\r\n@2\r\nB\r\n@1\r\nC\r\n");
  s.host.warn = keep_warning;
  auto p = s.fresh();
  ASSERT_TRUE(project::load_project(*p, s.host, s.prj("d.prj")));
  EXPECT_EQ(s.brain_of(*p, 1), "B\r\n");
  EXPECT_EQ(s.brain_of(*p, 2), "C\r\n");
}

TEST(ProjectFile, TruncatedOrDamagedFilesAreWarnedAboutOnce) {
  std::string e0 = file_line(0), e1 = file_line(1), e2 = file_line(2);
  std::string whole = ";d\r\n3\r\n" + e0 + "\r\n" + e1 + "\r\n" + e2 + "\r\n|1|\r\n@0\r\n@1\r\n@2\r\n";
  std::string bad_type = base::replace_field(e1, project::kFieldType, "x", '|').c_str();
  struct Case {
    const char* what;
    std::string text;
    int highest;
    std::vector<std::string> warnings;
  } cases[] = {
      {"whole", whole, 2, {}},
      {"cut in the third element line", whole.substr(0, whole.find(e2) + 50), 1,
       {"d.prj:5: warning: 6 fields: too few for an element line (its type is field 36), read as the settings line",
        "d.prj:5: warning: 2 element lines where line 2 counts 3"}},
      {"cut after the element lines", whole.substr(0, whole.find("\r\n|1|\r\n") + 2), 2,
       {"d.prj:5: warning: 0 brain blocks for 3 elements whose brain is \"-\""}},
      {"count too high", ";d\r\n4\r\n" + e0 + "\r\n|1|\r\n@0\r\n", 0, {"d.prj:4: warning: 1 element line where line 2 counts 4"}},
      {"count not a number", ";d\r\nthree\r\n" + e0 + "\r\n|1|\r\n@0\r\n", 0,
       {"d.prj:2: warning: no element count where the count line should be"}},
      {"header only", ";d", -1, {"d.prj:1: warning: no element count where the count line should be"}},
      {"bad type", ";d\r\n3\r\n" + e0 + "\r\n" + bad_type + "\r\n" + bad_type + "\r\n|1|\r\n@0\r\n@1\r\n@2\r\n", 2,
       {"d.prj:4: warning: element type is not a number from 0 to 13"}},
      {"overlong lines", ";d\r\n3\r\n" + e0 + "\r\n" + e1 + std::string(3000, 'x') + "\r\n" + e2 + std::string(3000, 'x') +
           "\r\n|1|\r\n@0\r\n@1\r\n@2\r\n",
       0, {"d.prj:4: warning: 2 element lines dropped (too long, or over 256 elements)"}},
  };
  for (const Case& c : cases) {
    Scene s;
    s.host.warn = keep_warning;
    write(s.prj("d.prj"), c.text);
    warnings_seen.clear();
    auto p = s.fresh();
    EXPECT_TRUE(project::load_project(*p, s.host, s.prj("d.prj"))) << c.what;
    EXPECT_EQ(p->lines.highest, c.highest) << c.what;
    std::vector<std::string> seen;
    for (const std::string& w : warnings_seen) seen.push_back(w.substr(w.find("d.prj")));
    EXPECT_EQ(seen, c.warnings) << c.what;
  }
}

// What a run would pass over in silence is warned about, at the line of the file.
TEST(ProjectFile, DoubtfulElementLinesAreWarnedAbout) {
  std::string e0 = file_line(0);
  auto with = [&](int field, const std::string& value) {
    return std::string(base::replace_field(e0, field, value, '|').view());
  };
  auto project_of = [](const std::string& line) { return ";d\r\n1\r\n" + line + "\r\n|1|\r\n@0\r\n"; };
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> warnings;
  } cases[] = {
      {"as saved", project_of(e0), {}},
      {"a word for a number", project_of(with(project::kFieldPosition + 1, "zero")),
       {"d.prj:3: warning: element 'e0': field 6 is 'zero', not a number"}},
      {"a decimal comma", project_of(with(project::kFieldScale, "0,5")),
       {"d.prj:3: warning: element 'e0': field 42 is '0,5', not a number"}},
      {"decimals, signs and empty fields", project_of(with(project::kFieldPosition, "-1.25") + "|"), {}},
      {"a misspelt aspect", project_of(with(project::kFieldAspect, "./3dshapes/bxo.a3d")),
       {"d.prj:3: warning: element 'e0': aspect ./3dshapes/bxo.a3d not found (3dshapes/default_.a3d shown instead)"}},
      {"too few fields", ";d\r\n1\r\ne0|./3dshapes/default_.a3d|./sounds/null_.wav|-|0|0\r\n|1|\r\n@0\r\n",
       {"d.prj:3: warning: 6 fields: too few for an element line (its type is field 36), read as the settings line",
        "d.prj:3: warning: 0 element lines where line 2 counts 1"}},
  };
  for (const Case& c : cases) EXPECT_EQ(load_warnings(c.text), c.warnings) << c.what;
}

// A library brain that is missing stays named as it is (the compiler then
// tells "Brain not found" at the project line that names it), and no private
// brain file of an earlier load is ever taken for it; private files go when
// the project closes, and numbered ones left by an interrupted run at will.
TEST(ProjectFile, NoOlderPrivateBrainStandsInForAMissingOne) {
  Scene s;
  for (const char* stale : {"brains/0.bra", "brains/1.bra", "brains/2.bra"}) write(s.work / stale, "var stale\r\n");
  write(s.prj("m.prj"), ";m\r\n2\r\n" + file_line(0) + "\r\n" + file_line(1, "./brains/steer.brn") +
                            "\r\n|1|\r\n@0\r\nvar a\r\n");
  auto p = s.fresh();
  ASSERT_TRUE(project::load_project(*p, s.host, s.prj("m.prj")));
  EXPECT_EQ(base::field(p->lines.line[1], project::kFieldBrain, '|'), s.work / "brains/steer.brn");
  EXPECT_EQ(p->brain_origin[1].file, s.prj("m.prj"));
  EXPECT_EQ(p->brain_origin[1].line_before, 4);
  EXPECT_TRUE(p->brain_origin[1].library);
  EXPECT_EQ(s.brain_of(*p, 0), "var a\r\n");

  // A dry run writes nothing and names library brains as they are.
  std::filesystem::remove(s.work / "brains/0.bra");
  write(s.work / "brains/steer.brn", "var s\r\n");
  project::Host dry = s.host;
  dry.dry_run = true;
  auto q = s.fresh();
  ASSERT_TRUE(project::load_project(*q, dry, s.prj("m.prj")));
  EXPECT_EQ(base::field(q->lines.line[1], project::kFieldBrain, '|'), s.work / "brains/steer.brn");
  EXPECT_FALSE(project_test::exists(s.work / "brains/0.bra"));

  auto r = s.fresh();
  ASSERT_TRUE(project::load_project(*r, s.host, s.prj("m.prj")));
  std::string written = std::string(base::field(r->lines.line[1], project::kFieldBrain, '|').view());
  EXPECT_EQ(s.brain_of(*r, 1), "var s\r\n");
  project::remove_private_brains(*r, s.host);
  EXPECT_FALSE(project_test::exists(written));
  EXPECT_TRUE(project_test::exists(s.work / "brains/steer.brn"));

  write(s.work / "brains/notes.bra", "kept");
  write(s.work / "brains/7.bra", "left by a run that was killed");
  EXPECT_EQ(project::remove_stale_private_brains(s.host), 1);
  EXPECT_FALSE(project_test::exists(s.work / "brains/7.bra"));
  EXPECT_TRUE(project_test::exists(s.work / "brains/notes.bra"));
  EXPECT_TRUE(project_test::exists(s.work / "brains/steer.brn"));
}

TEST(ProjectFile, StaleTemporariesGoAtLoadAndSave) {
  Scene s;
  for (const char* stale : {"projects/myprj/a.prj.~write", "projects/myprj/a.col.~write", "brains/7.bra.~write"})
    write(s.work / stale, "half");
  write(s.work / "sprites/x.pcx.~write", "another folder: left alone");
  auto p = s.fresh();
  ASSERT_TRUE(project::load_project(*p, s.host, s.prj("none.prj")));
  for (const char* stale : {"projects/myprj/a.prj.~write", "projects/myprj/a.col.~write", "brains/7.bra.~write"})
    EXPECT_FALSE(project_test::exists(s.work / stale)) << stale;
  EXPECT_TRUE(project_test::exists(s.work / "sprites/x.pcx.~write"));

  write(s.prj("b.col.~write"), "half");
  ASSERT_TRUE(project::save_project(*p, s.host, s.prj("a.prj")));
  EXPECT_FALSE(project_test::exists(s.prj("b.col.~write")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(s.work / "projects/myprj"), {}), 2);
}

TEST(ProjectFile, SaveWritesBothFilesOrNeither) {
  // A folder where a temporary must go makes that write fail, as a full disk would.
  for (const char* blocked : {"p.prj.~write", "p.col.~write"}) {
    Scene s;
    write(s.prj("p.prj"), "old prj");
    write(s.prj("p.col"), "old col");
    std::filesystem::create_directories(s.prj(blocked));
    auto p = s.fresh();
    p->lines.line[0] = project::default_camera_line(s.work.path);
    p->lines.highest = 0;
    EXPECT_FALSE(project::save_project(*p, s.host, s.prj("p.prj"))) << blocked;
    EXPECT_EQ(read(s.prj("p.prj")), "old prj") << blocked;
    EXPECT_EQ(read(s.prj("p.col")), "old col") << blocked;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(s.work / "projects/myprj"), {}), 3) << blocked;

    std::filesystem::remove(s.prj(blocked));
    EXPECT_TRUE(project::save_project(*p, s.host, s.prj("p.prj"))) << blocked;
    EXPECT_EQ(read(s.prj("p.col")).size(), 65536u);
    EXPECT_EQ(read(s.prj("p.prj")).substr(0, 4), ";\r\n1");
  }
}

TEST(StateFiles, LfLineEndsReadAsCrLf) {
  std::string curpaths;
  for (int k = 1; k <= project::kCurrentPathLines; ++k) curpaths += "c:\\p\\" + std::to_string(k) + "\r\n";
  std::string zepta;
  for (int k = 1; k <= project::kEditorStateLines; ++k) zepta += std::to_string(k * 3) + "\r\n";
  auto read_with = [](const std::string& paths, const std::string& editor) {
    Scene s;
    write(s.work / "data/curpaths.ini", paths);
    write(s.work / "data/zepta.ini", editor);
    project::StateFiles state;
    project::read_state_files(state, s.host);
    std::vector<std::string> all;
    for (const base::Text& t : state.current_path) all.emplace_back(t.view());
    for (const base::Text& t : state.editor) all.emplace_back(t.view());
    return all;
  };
  std::vector<std::string> expected = read_with(curpaths, zepta);
  EXPECT_EQ(expected[0], "c:/p/1");
  EXPECT_EQ(expected[project::kCurrentPathLines + 19], "60");
  EXPECT_EQ(read_with(with_lf(curpaths), with_lf(zepta)), expected);
  EXPECT_EQ(read_with(without_last_end(curpaths), without_last_end(zepta)), expected);
  EXPECT_EQ(read_with(without_last_end(with_lf(curpaths)), without_last_end(with_lf(zepta))), expected);
}

TEST(ProjectFile, SharedVariableList) {
  struct Case {
    const char* list;
    std::vector<int32_t> keys;
  } cases[] = {
      {"", {}},
      {"3", {3}},
      {"3,7(2)", {3, 2 * 65536 + 7}},
      {"2049(1),5", {65536 + 1, 5}},
  };
  for (const Case& c : cases) {
    project::SharedVariable table[4];
    int n = project::parse_shared_variables(c.list, table);
    ASSERT_EQ(n, static_cast<int>(c.keys.size())) << c.list;
    for (int k = 0; k < n; ++k) {
      EXPECT_EQ(table[k].key, c.keys[static_cast<std::size_t>(k)]) << c.list;
      EXPECT_EQ(table[k].value, 0);
    }
  }
  project::SharedVariable two[2];
  EXPECT_EQ(project::parse_shared_variables("1,2,3", two), 2);  // full
}

TEST(CollisionFile, SettingsAndSizes) {
  struct Case {
    const char* what;
    std::size_t size;
    int32_t clip, top, bottom, hood, fov;  // stored
    project::EngineSettings expected;
  } cases[] = {
      {"whole", 65536, 45, 10, 400, 3, 80, {45, 10, 400, 3, 80}},
      {"bottom 0 reads 479", 65536, 30, 0, 0, 0, 100, {30, 0, 479, 0, 100}},
      {"bottom above top", 65536, 30, 200, 100, 0, 100, {30, 200, 479, 0, 100}},
      {"fov 0 reads 100", 65536, 30, 0, 479, 0, 0, {30, 0, 479, 0, 100}},
      {"fov 101 reads 100", 65536, 30, 0, 479, 0, 101, {30, 0, 479, 0, 100}},
      {"too long", 70000, 30, 0, 479, 1, 50, {30, 0, 479, 1, 50}},
      {"truncated", 1000, 30, 0, 479, 1, 50, {0, 0, 479, 0, 100}},
  };
  for (const Case& c : cases) {
    Scene s;
    std::string bytes(c.size, '\x05');
    if (c.size >= 65536) {
      int32_t words[6] = {c.clip, c.top, c.bottom, c.hood, 0, c.fov};
      std::memcpy(bytes.data() + 65036, words, sizeof words);
    }
    write(s.prj("c.col"), bytes);
    auto p = s.fresh();
    ASSERT_TRUE(project::read_collision_file(*p, s.prj("c.col"))) << c.what;
    EXPECT_EQ(p->settings.clip_distance, c.expected.clip_distance) << c.what;
    EXPECT_EQ(p->settings.background_top, c.expected.background_top) << c.what;
    EXPECT_EQ(p->settings.background_bottom, c.expected.background_bottom) << c.what;
    EXPECT_EQ(p->settings.hood_type, c.expected.hood_type) << c.what;
    EXPECT_EQ(p->settings.camera_fov, c.expected.camera_fov) << c.what;
    EXPECT_EQ(p->collision[0], 5) << c.what;
    EXPECT_EQ(p->collision[65535], c.size >= 65536 ? 5 : 0) << c.what;
  }
  Scene s;
  auto p = s.fresh();
  EXPECT_FALSE(project::read_collision_file(*p, s.prj("none.col")));
  EXPECT_EQ(project::collision_path("projects/a/default.prj"), "projects/a/default.col");
}

TEST(StateFiles, DefaultsWhenMissing) {
  Scene s;
  project::StateFiles state;
  state.editor[14] = "1";  // other values stay as they are
  project::read_state_files(state, s.host);
  const std::string w = s.work.path;
  struct Case {
    int line;
    std::string expected;
  } paths[] = {
      {1, w + "3dshapes/default_.a3d"}, {3, w + "brains/default_.brn"}, {10, w + "projects/myprj/default.prj"},
      {14, ""},                         {17, "Zepta 5.2"},               {23, w + "images/jeep003_.pcx"},
  };
  for (const Case& c : paths) EXPECT_EQ(state.current_path[c.line - 1], c.expected) << c.line;
  EXPECT_EQ(state.current_track, w + "tracks/default_.i3d");
  EXPECT_EQ(project::editor_value(state, 1), 0);
  EXPECT_EQ(project::editor_value(state, 2), 512);
  EXPECT_EQ(project::editor_value(state, 3), 0);
  EXPECT_EQ(project::editor_value(state, 15), 1);
  EXPECT_EQ(state.editor[4], "0");
}

TEST(StateFiles, WriteThenReadKeepsEveryLine) {
  Scene s;
  project::StateFiles state;
  project::read_state_files(state, s.host);
  state.current_path[21] = (s.work.path + "xvisuals/car.x").c_str();
  state.editor[17] = "a text";
  state.editor[18] = "My project";
  project::set_editor_value(state, 14, 1);
  ASSERT_TRUE(project::write_state_files(state, s.host));
  EXPECT_EQ(read(s.work / "data/zepta.ini").substr(0, 11), "0\r\n512\r\n0\r\n");
  project::StateFiles back;
  project::read_state_files(back, s.host);
  for (int k = 0; k < project::kCurrentPathLines; ++k) EXPECT_EQ(back.current_path[k], state.current_path[k]) << k;
  for (int k = 0; k < project::kEditorStateLines; ++k) EXPECT_EQ(back.editor[k], state.editor[k]) << k;
  s.host.data_folder = (s.work / "no/such/").c_str();
  EXPECT_FALSE(project::write_state_files(state, s.host));
}

TEST(StateFiles, BackslashesAndShortFiles) {
  Scene s;
  std::string text;
  for (int k = 1; k <= 17; ++k) text += (k == 17 ? "My\\Title" : "c:\\dir\\" + std::to_string(k)) + "\r\n";
  write(s.work / "data/curpaths.ini", text);
  project::StateFiles state;
  project::read_state_files(state, s.host);
  EXPECT_EQ(state.current_path[0], "c:/dir/1");
  EXPECT_EQ(state.current_path[16], "My\\Title");  // line 17 is a title
  EXPECT_EQ(state.current_path[17], s.work.path + "images/jeep002_.pcx");
}

}  // namespace
