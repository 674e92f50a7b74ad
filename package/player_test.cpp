// The multi-project player: its small rules in process, and whole games of
// tiny packages made here (scrambled levels, a minimal multilev.ini, the
// generated data files) played headless by the zepta program.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <span>

#include "base/files.h"
#include "base/scramble.h"
#include "package/package.h"
#include "platform/video_test_clip.h"
#include "tests/program_fixture.h"

namespace {

using namespace program_test;

// ---- Rules -------------------------------------------------------------------------------

TEST(PlayerRules, GameFolderNames) {
  struct {
    const char* title;
    const char* name;
  } cases[] = {{"  My Game  ", "My_Game"}, {"", "game"}, {"   ", "game"}, {"a-b_c.9/..", "a-b_c_9___"},
               {"Zepta 5.2", "Zepta_5_2"}};
  for (auto c : cases) EXPECT_EQ(package::game_folder_name(c.title), c.name) << c.title;
}

TEST(PlayerRules, CutSceneSizes) {
  struct {
    const char* path;
    int width, height;
  } cases[] = {
      {"/g/intro_320x240.avi", 320, 240},  {"/g/intro.avi", 800, 600},       {"/g/INTRO_320X240_.avi", 320, 240},
      {"/g/intro_0x240.avi", 800, 600},    {"/g/intro_axb.avi", 800, 600},   {"/g/a_b_320x240.avi", 800, 600},  {"/my_game/intro.avi", 800, 600},
      {"/my_game/a_100x50_b.avi", 100, 50}, {"/g/intro_-5x10.avi", 800, 600},
  };
  for (auto c : cases) {
    int w = 0, h = 0;
    package::cut_scene_size(c.path, 800, 600, w, h);
    EXPECT_EQ(w, c.width) << c.path;
    EXPECT_EQ(h, c.height) << c.path;
  }
}

TEST(PlayerRules, NextSteps) {
  using package::NextStep;
  struct {
    std::int32_t code;
    NextStep step;
  } cases[] = {{-1, NextStep::stop}, {-2, NextStep::stop},   {-3, NextStep::stop},     {INT_MIN, NextStep::stop},
               {-4, NextStep::resume}, {3, NextStep::level}, {0, NextStep::level},     {-7, NextStep::level}};
  for (auto c : cases) EXPECT_EQ(package::next_step(c.code), c.step) << c.code;
}

TEST(PlayerRules, ReadOnlyPackageWritesUnderXdgDataHome) {
  char name[] = "/tmp/zepta_wf_XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  std::string root = std::string(name) + "/";
  fs::create_directories(root + "pkg");
  setenv("XDG_DATA_HOME", (root + "xdg").c_str(), 1);
  std::string error;
  EXPECT_EQ(package::player_write_folder(root + "pkg/", "Any", false, error).view(), root + "pkg/") << error;
  base::Text folder = package::player_write_folder(root + "pkg/", " Space Race ", true, error);
  EXPECT_EQ(folder.view(), root + "xdg/zepta/Space_Race/") << error;
  EXPECT_TRUE(fs::is_directory(folder.c_str()));
  unsetenv("XDG_DATA_HOME");
  fs::remove_all(root);
}

// ---- Games -------------------------------------------------------------------------------

constexpr char kCamera[] = "0000CAFE.dat";  // the packed camera aspect, scrambled

class PlayerGame : public ::testing::Test {
 protected:
  std::string root;  // ends in "/": pkg/ (the package), src/ (brain sources), xdg/
  std::string pkg;

  void SetUp() override {
    const char* d = std::getenv("ZEPTA_TEST_DATA");
    if (!d || !fs::exists(std::string(d) + "/sinus.bin")) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    char name[] = "/tmp/zepta_player_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    root = std::string(name) + "/";
    pkg = root + "pkg/";
    fs::create_directories(pkg);
    fs::create_directories(root + "src");
    for (const auto& f : fs::directory_iterator(d))
      if (f.is_regular_file()) fs::copy(f.path(), pkg + f.path().filename().string());
    std::string camera = read(std::string(d) + "/../cameras/default_.03d");
    ASSERT_FALSE(camera.empty());
    write(pkg + kCamera, scrambled(camera));
    multilev(1, "");
    ASSERT_TRUE(base::reserve_budget());
  }
  void TearDown() override {
    if (!root.empty()) {
      chmod(pkg.c_str(), 0755);
      fs::remove_all(root);
    }
    base::release_budget();
  }

  static std::string scrambled(std::string bytes) {
    base::scramble(std::as_writable_bytes(std::span(bytes.data(), bytes.size())));
    return bytes;
  }

  // multilev.ini of `levels` lines "||" with `line1` as the first one.
  void multilev(int levels, const std::string& line1) {
    std::string text = line1 + "\r\n";
    for (int k = 2; k <= levels; ++k) text += "||\r\n";
    write(pkg + "multilev.ini", text);
  }

  // levelNNN.prj, scrambled, with one camera element per brain text, named L<n>e<i>, of the given aspect.
  void level(int n, const std::vector<std::string>& brains, const std::string& aspect = kCamera) {
    auto p = std::make_unique<project::Project>();
    std::vector<std::uint8_t> matrix(project::kCollisionBytes);
    p->collision = matrix.data();
    project::Host host;
    host.work_folder = base::Text(pkg);
    host.data_folder = base::Text(pkg);
    for (std::size_t i = 0; i < brains.size(); ++i) {
      int e = static_cast<int>(i);
      std::string brain = root + "src/" + std::to_string(n) + "_" + std::to_string(i) + ".brn";
      write(brain, brains[i]);
      p->lines.line[i] = project::default_camera_line(pkg);
      p->lines.highest = e;
      ASSERT_TRUE(project::set_line_field(p->lines, e, project::kFieldAspect, pkg + aspect));
      ASSERT_TRUE(project::set_line_field(p->lines, e, project::kFieldBrain, brain));
      ASSERT_TRUE(project::set_line_field(p->lines, e, project::kFieldName, "L" + std::to_string(n) + "e" + std::to_string(i)));
    }
    char file[32];
    std::snprintf(file, sizeof file, "level%03d.prj", n);
    ASSERT_TRUE(project::save_project(*p, host, pkg + file));
    write(pkg + file, scrambled(read(pkg + file)));
  }

  // Plays the package headless, ticks back to back, with its dump.
  Outcome play(std::vector<std::string> args, const std::string& env = "") {
    args.insert(args.begin(), {"--headless", "--fast", "--ticks", "2000", "--dump", root + "dump.txt"});
    return run_program_in(pkg, args, "XDG_DATA_HOME='" + root + "xdg' " + env, root);
  }
};

// A brain that ends its run with code at its element's tick `at`.
std::string exit_at(int at, const std::string& code, const std::vector<std::string>& before = {}) {
  std::string text;
  for (const std::string& line : before) text += line + "\r\n";
  return text + lines({"if timer(element) = " + std::to_string(at), "exit(" + code + ")", "endif"});
}

TEST_F(PlayerGame, ExitGoesToTheNextLevelAndGlobalsCarryOver) {
  level(1, {exit_at(3, "2", {"if timer(element) = 1", "global_add(5, 42)", "endif"})});
  level(2, {exit_at(3, "-3", {"global_set(6, global(5))"})});
  multilev(2, "");
  for (int start = 1; start <= 2; ++start) {
    Outcome r = play({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has_line(r.dump, "exit -3")) << r.dump;
    EXPECT_TRUE(has_line(r.dump, "name 0 L2e0")) << r.dump;
    // The second start of the game begins with the globals the first one left.
    std::string value = std::to_string(42 * start);
    EXPECT_TRUE(has_line(r.dump, "global 5 " + value)) << start << r.dump;
    EXPECT_TRUE(has_line(r.dump, "global 6 " + value)) << start << r.dump;
    EXPECT_EQ(fs::file_size(pkg + "globvars.dat"), 8192u);
  }
  // Private brain files went once compiled.
  for (const auto& f : fs::directory_iterator(pkg)) EXPECT_NE(f.path().extension(), ".bra") << f.path();
}

TEST_F(PlayerGame, SaveThenResumeRestoresRecordsGlobalsAndTheTickCounter) {
  // Level 1 saves at its tick 2 and goes to level 2, which resumes; the
  // resumed level 1 sees its tick counter past 10000 and ends the game.
  level(1, {lines({"if every_tics(1, 10000) = 0", "exit(-3)", "endif", "if timer(element) = 2",
                   "position_z_set(element, 777)", "global_set(3, 33)", "save_x(2)", "endif", "if timer(element) = 4",
                   "exit(2)", "endif"})});
  level(2, {lines({"global_set(3, 99)", "position_z_set(element, 5)", "if timer(element) = 2", "resume_x(2)", "endif"})});
  multilev(2, "");
  Outcome r = play({});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(pkg + "curr2.dat"), 270344u);
  EXPECT_TRUE(has_line(r.dump, "exit -3")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "name 0 L1e0")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "global 3 33")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "element 0 5 777")) << r.dump;
  // 10000, then the 4 preparation passes and the one tick that sees the exit.
  EXPECT_TRUE(has_line(r.dump, "ticks 10005")) << r.dump;
}

TEST_F(PlayerGame, EndCodes) {
  // A damaged end_.bmp tells on stderr when the end screen is shown.
  write(pkg + "end_.bmp", "not a picture");
  struct {
    const char* code;
    int status;
    bool end_screen;
    const char* message;
  } cases[] = {{"-2", 0, true, ""},
               {"-3", 0, false, ""},
               {"-2147483648", 0, true, ""},
               {"7", 3, true, "Sub-project 007 not found, error!"},
               {"1234", 3, true, "Sub-project 1234 not found, error!"},
               {"0", 0, true, ""}};
  for (auto c : cases) {
    level(1, {exit_at(2, c.code)});
    Outcome r = play({});
    EXPECT_EQ(r.status, c.status) << c.code << r.err;
    EXPECT_TRUE(has_line(r.dump, std::string("exit ") + c.code)) << c.code << r.dump;
    EXPECT_EQ(r.err.find("end_.bmp is no picture") != std::string::npos, c.end_screen) << c.code << r.err;
    if (*c.message) EXPECT_NE(r.err.find(c.message), std::string::npos) << c.code << r.err;
    else EXPECT_EQ(r.err.find("not found"), std::string::npos) << c.code << r.err;
  }
}

// In a window (offscreen): the loading image's cut-scene plays until a key,
// then the load-complete image waits for one, the level runs, and the end
// screen waits for the last key. Every picture is a real one (no complaint),
// and no wait outlives the script.
TEST_F(PlayerGame, CutSceneAndPicturesInAWindow) {
  const std::string images = std::string(std::getenv("ZEPTA_TEST_DATA")) + "/../images/";
  write(pkg + "wait_.bmp", scrambled(read(images + "wait_.bmp")));
  write(pkg + "anykey_.bmp", scrambled(read(images + "anykey_.bmp")));
  ASSERT_TRUE(video_test::write_clip(pkg + "wait_.avi", {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}));
  multilev(1, "wait_.bmp|anykey_.bmp|");
  level(1, {exit_at(3, "-2")});
  std::string script;
  for (int tick = 1; tick <= 40; ++tick) script += std::to_string(tick) + " key SPACE\n";
  write(root + "input.txt", script);
  Outcome r = run_program_in(
      pkg, {"--fast", "--ticks", "300", "--input", root + "input.txt", "--dump", root + "dump.txt"},
      "XDG_DATA_HOME='" + root + "xdg'", root);
  ASSERT_FALSE(r.hung) << r.err;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has_line(r.dump, "exit -2")) << r.dump;
  EXPECT_EQ(r.err.find("no picture"), std::string::npos) << r.err;
}

TEST_F(PlayerGame, EscapeAndTheTickBudgetEndTheGame) {
  level(1, {lines({"global_add(1, 1)"})});
  write(root + "input.txt", "30 key ESC\n");
  Outcome r = play({"--input", root + "input.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has_line(r.dump, "exit -1")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "ticks 31")) << r.dump;  // the key comes with the input of tick 30

  // The budget counts loop ticks over every level of the game. Level 1 ends
  // at engine tick 11 (its brain's 10th run, after 7 loop ticks).
  level(1, {exit_at(10, "2")});
  level(2, {lines({"global_add(1, 1)"})});
  multilev(2, "");
  fs::remove(pkg + "globvars.dat");
  r = play({"--ticks", "25"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has_line(r.dump, "name 0 L2e0")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "exit -1")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "ticks 22")) << r.dump;  // 4 passes and the 18 loop ticks left

  // The script's ticks run on from level to level: game tick 30 is tick 19 of level 2.
  r = play({"--input", root + "input.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has_line(r.dump, "name 0 L2e0")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "ticks 20")) << r.dump;
}

TEST_F(PlayerGame, NothingToPlayAndAMissingFirstLevel) {
  Outcome r = play({});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("Sub-project 001 not found, error!"), std::string::npos) << r.err;
  fs::remove(pkg + "multilev.ini");
  r = play({});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("Nothing to play"), std::string::npos) << r.err;
}

// Names, sizes and change times of every file in folder, one line each.
std::string folder_listing(const std::string& folder) {
  std::string out;
  for (const auto& f : fs::recursive_directory_iterator(folder)) {
    struct stat st {};
    lstat(f.path().c_str(), &st);
    out += f.path().string() + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + "\n";
  }
  return out;
}

TEST_F(PlayerGame, ReadOnlyPackageWritesUnderXdgDataHome) {
  level(1, {exit_at(2, "-3", {"global_set(9, 7)", "save()", "sound_set(2)"})});
  write(pkg + "config.ini", "[Options]\r\n");
  fs::create_directories(root + "run");
  std::string before = folder_listing(pkg);
  chmod(pkg.c_str(), 0555);
  // Root writes anyway: the variable makes the player take the folder as read-only.
  Outcome r = play({}, "ZEPTA_PACKAGE_READ_ONLY=1 XDG_CONFIG_HOME='" + root + "cfg' XDG_RUNTIME_DIR='" + root + "run'");
  chmod(pkg.c_str(), 0755);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(folder_listing(pkg), before);  // no lock, no config.ini, no globals: nothing changed
  int configs = 0;
  for (const auto& game : fs::directory_iterator(root + "cfg/zepta")) {
    EXPECT_NE(read((game.path() / "config.ini").string()).find("Sound=0200000002"), std::string::npos);  // sound_set(2), encoded
    ++configs;
  }
  EXPECT_EQ(configs, 1);
  int locks = 0;
  for (const auto& f : fs::directory_iterator(root + "run")) locks += f.path().extension() == ".lock";
  EXPECT_EQ(locks, 1);
  int found = 0;
  for (const auto& game : fs::directory_iterator(root + "xdg/zepta")) {
    EXPECT_EQ(fs::file_size(game.path() / "globvars.dat"), 8192u);
    EXPECT_EQ(fs::file_size(game.path() / "curr0.dat"), 270344u);
    for (const auto& f : fs::directory_iterator(game.path())) EXPECT_NE(f.path().extension(), ".bra") << f.path();
    ++found;
  }
  EXPECT_EQ(found, 1);
}

// A brain starts a program that writes a file: headless only with
// --allow-programs; in a window, the player's answer on the panel decides.
TEST_F(PlayerGame, ProgramsAreThePlayersToAllow) {
  const std::string made = root + "made";
  level(1, {exit_at(3, "-3", {"if timer(element) = 1", "run(\"touch " + made + "\")", "global_set(1, 7)", "endif"})});
  write(root + "yes.txt", "500 key Y\n");
  write(root + "no.txt", "500 key N\n");
  write(root + "always.txt", "500 key A\n");
  write(root + "none.txt", "");
  struct Case {
    bool headless;
    std::vector<std::string> args;
    bool started;
    std::string said;  // on stderr
  } cases[] = {
      {true, {}, false, "touch not started: a headless game asks nobody (--allow-programs allows it)"},
      {true, {"--allow-programs"}, true, ""},
      {false, {"--input", root + "yes.txt"}, true, ""},
      {false, {"--input", root + "no.txt"}, false, "touch not started: the player said no"},
      {false, {"--input", root + "none.txt"}, false, "This game wants to start:\ntouch " + made + "\nAllow?\n"},
      {false, {"--input", root + "always.txt"}, true, ""},
  };
  for (const Case& c : cases) {
    fs::remove_all(root + "xdg");
    fs::remove(made);
    std::vector<std::string> args = c.args;
    Outcome r = c.headless ? play(args)
                           : run_program_in(pkg, [&] {
                               args.insert(args.begin(), {"--fast", "--ticks", "2000", "--dump", root + "dump.txt"});
                               return args;
                             }(), "SDL_VIDEODRIVER=offscreen XDG_DATA_HOME='" + root + "xdg'", root);
    std::string what = c.args.empty() ? "headless" : c.args.back();
    ASSERT_FALSE(r.hung) << what;
    EXPECT_EQ(r.status, 0) << what << r.err;
    EXPECT_EQ(fs::exists(made), c.started) << what << r.err;
    EXPECT_TRUE(has_line(r.dump, "global 1 7")) << what << r.dump;  // the brain went on either way
    EXPECT_NE(r.err.find(c.said), std::string::npos) << what << r.err;
  }
  // ALWAYS is kept for the game: the next start asks nobody, headless or not.
  int kept = 0;
  for (const auto& f : fs::directory_iterator(root + "xdg/zepta/consent")) {
    EXPECT_NE(read(f.path().string()).find("always=touch " + made), std::string::npos);
    ++kept;
  }
  EXPECT_EQ(kept, 1);
  for (bool headless : {false, true}) {
    fs::remove(made);
    Outcome r = headless ? play({})
                         : run_program_in(pkg, {"--fast", "--ticks", "2000", "--input", root + "none.txt"},
                                          "SDL_VIDEODRIVER=offscreen XDG_DATA_HOME='" + root + "xdg'", root);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(made)) << headless << r.err;
    EXPECT_EQ(r.err.find("This game wants to start"), std::string::npos) << r.err;
  }
}

TEST(PlayerRules, CommandKeysAndTheQuestionsText) {
  using Words = std::vector<std::string>;
  struct {
    Words words;
    const char* key;
    const char* shown;
  } cases[] = {
      {{"touch", "a b"}, "touch a%20b", "touch \"a b\""},
      {{"sh", "-c", "id > \"f\"|x"}, "sh -c id%20>%20%22f%22|x", "sh -c \"id > \"f\"?x\""},
      {{"x", "", "%"}, "x  %25", "x \"\" %"},
      {{"a\nb"}, "a%0Ab", "a?b"},
      {{std::string(200, 'z')}, "", ""},
  };
  for (const auto& c : cases) {
    std::string shown = package::shown_command(c.words);
    if (c.words[0].size() == 200) {  // cut in three lines of 48, "..." at the end
      EXPECT_EQ(shown, std::string(48, 'z') + "|" + std::string(48, 'z') + "|" + std::string(45, 'z') + "...");
      continue;
    }
    EXPECT_EQ(package::command_key(c.words), c.key);
    EXPECT_EQ(shown, c.shown);
  }
  EXPECT_NE(package::game_id("/a/game", "T"), package::game_id("/b/game", "T"));
  EXPECT_NE(package::game_id("/a/game", "T"), package::game_id("/a/game", "U"));
  EXPECT_EQ(package::game_id("/a/game", " My Game "), package::game_id("/a/game", "My Game"));
  EXPECT_EQ(package::game_id("/a/game", "My Game").substr(0, 8), "My_Game-");
}

TEST_F(PlayerGame, DamagedFilesNeverCrash) {
  level(1, {exit_at(3, "-3", {"resume()"})});
  std::string good = read(pkg + "level001.prj");
  // A save game of the wrong size is no save game: resume is ignored.
  write(pkg + "curr0.dat", std::string(100, 'x'));
  Outcome r = play({});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has_line(r.dump, "exit -3")) << r.dump;

  // A save game naming a level that can't exist.
  std::string save(270344, '\0');
  std::int32_t far_level = 5000;
  std::memcpy(save.data(), &far_level, 4);
  write(pkg + "curr0.dat", save);
  r = play({});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("names level 5000"), std::string::npos) << r.err;
  fs::remove(pkg + "curr0.dat");

  struct {
    const char* what;
    std::string bytes;
  } cases[] = {{"garbage", std::string(5000, '\x9c')},
               {"cut short", good.substr(0, 10)},
               {"cut in the middle", good.substr(0, good.size() / 2)},
               {"empty", ""}};
  for (const auto& c : cases) {
    write(pkg + "level001.prj", c.bytes);
    r = play({});
    EXPECT_FALSE(r.hung) << c.what;
    EXPECT_GE(r.status, 0) << c.what << " crashed: " << r.err;
    EXPECT_NE(r.status, 2) << c.what << r.err;
  }
}

// A package comes from a stranger: a level, globvars.dat or a resource that is
// a link out of the package folder is not read (a level is then missing), and
// what the link points at shows nowhere.
TEST_F(PlayerGame, LinksOutOfThePackageAreNotRead) {
  const std::string secret = "6210279";  // a global the outside files hold, a text in them
  fs::create_directories(root + "outside");
  std::string globals(8192, '\0');
  std::int32_t value = std::stoi(secret);
  std::memcpy(globals.data(), &value, 4);
  struct {
    const char* link;      // in the package, to root + "outside/" + the same name
    std::string target;    // "": the level the case makes there
    int status;
    const char* told;
  } cases[] = {
      {"level001.prj", "", 3, "package: level001.prj leads out of the package folder: not read"},
      {"globvars.dat", globals, 0, "package: globvars.dat leads out of the package folder: not read"},
      {"0000BEEF.dat", scrambled("-240 secret " + secret + "\r\n"), 0,
       "package: 0000BEEF.dat leads out of the package folder: not read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    for (const char* name : {"level001.prj", "globvars.dat", "0000BEEF.dat"}) fs::remove(pkg + name);
    std::string outside = root + "outside/" + c.link;
    if (c.target.empty()) {
      level(1, {exit_at(2, "-3", {"global_set(9, " + secret + ")"})});
      fs::rename(pkg + c.link, outside);
    } else {
      level(1, {exit_at(2, "-3")}, std::string(c.link) == "0000BEEF.dat" ? c.link : kCamera);
      write(outside, c.target);
    }
    fs::create_symlink(outside, pkg + c.link);
    Outcome r = play({});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.told), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(secret), std::string::npos) << r.err;
    EXPECT_EQ(r.dump.find(secret), std::string::npos) << r.dump;
    if (c.status == 3) {
      EXPECT_NE(r.err.find("Sub-project 001 not found, error!"), std::string::npos) << r.err;
    }
    if (!c.target.empty()) {
      EXPECT_EQ(read(outside), c.target);  // written over in the package, never through the link
    }
  }
}

}  // namespace
