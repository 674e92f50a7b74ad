// The self-executable build: a package made from small projects, checked file by
// file, and the ways a build fails without touching the package folder.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <thread>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/scramble.h"
#include "base/title.h"
#include "media/media.h"
#include "media/test_util.h"
#include "package/package.h"
#include "tests/program_fixture.h"

namespace {

namespace fs = std::filesystem;
using program_test::read;
using program_test::write;

std::string descrambled(std::string bytes) {
  base::descramble({reinterpret_cast<std::byte*>(bytes.data()), bytes.size()});
  return bytes;
}

std::vector<std::string> crlf_lines(const std::string& text) {
  std::vector<std::string> out;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return out;
}

class BuildTest : public program_test::ProgramFixture {
 protected:
  std::string pkg;  // the package folder, ends in "/"

  void SetUp() override {
    ProgramFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    pkg = work + "zeptaexe/";
    for (const char* sub : {"zeptaexe", "multilev", "images", "sprites", "visuals", "xvisuals/tex", "bckgrnds", "3dshapes"})
      fs::create_directories(work + sub);
    for (const char* f : {"resume_.bmp", "end_.bmp", "ssmod.bin"}) fs::remove(work + "data/" + f);
    write(work + "bckgrnds/bkgr000_.bmp", "BM sky");
    write(work + "cameras/default_.03d", "-240\r\n");
    write(work + "sounds/null_.wav", "RIFF silence");
    write(work + "sounds/hum.wav", "RIFF hum hum hum");
    write(work + "sprites/Ship.PCX", "ship frame one..");  // found whatever the case
    write(work + "sprites/Ship.002", "ship frame two..");
    write(work + "visuals/car.v3d", "1|./xvisuals/car.bmp|.\\xvisuals\\car.x|3|0|FFFFFF|0|0|0\r\n\r\nnot read\r\n");
    write(work + "xvisuals/car.bmp", "BM car texture");
    write(work + "3dshapes/box.a3d", "16|./3dshapes/box.pcx|8|6|3\r\n-1000|-1000|-1000\r\n\r\n4|0|0|2|3|1|0\r\n");
    write(work + "3dshapes/box.pcx", "box texture.....");
    write(work + "xvisuals/car.x", "xof 0303txt 0032 car");
    write(work + "xvisuals/truck.x", "xof 0303txt 0032\nTextureFilename { \"tex/paint.bmp\"; }\n");
    write(work + "xvisuals/truck_002.x", "xof 0303txt 0032\nTextureFilename { \"../xvisuals/tex/paint.bmp\"; }\n");
    write(work + "xvisuals/tex/paint.bmp", "BM paint");
    write(work + "images/wait_.bmp", "BM wait");
    write(work + "images/wait_.avi", "RIFF cut-scene");
    write(work + "images/anykey_.bmp", "BM any key");
    write(work + "brains/bad.brn", "var x\r\nx = q\r\n");
  }

  // A camera, then one element per (type, aspect, sound) in projects/NAME/NAME.prj.
  struct Element {
    int type;
    std::string aspect, sound;
    std::string brain = "-";
    std::string sync = "0";
  };
  void make_project(const std::string& name, const std::vector<Element>& elements, const std::string& shared = "") {
    auto p = std::make_unique<project::Project>();
    std::vector<std::uint8_t> matrix(project::kCollisionBytes, 7);
    p->collision = matrix.data();
    project::Host host;
    host.work_folder = base::Text(work);
    host.data_folder = base::Text(work + "data/");
    p->lines.line[0] = project::default_camera_line(work);
    p->lines.highest = 0;
    for (const Element& e : elements) {
      int i = ++p->lines.highest;
      p->lines.line[i] = p->lines.line[0];
      ASSERT_TRUE(project::set_line_field(p->lines, i, project::kFieldName, "e" + std::to_string(i)));
      ASSERT_TRUE(project::set_line_field(p->lines, i, project::kFieldType, std::to_string(e.type)));
      ASSERT_TRUE(project::set_line_field(p->lines, i, project::kFieldAspect, work + e.aspect));
      ASSERT_TRUE(project::set_line_field(p->lines, i, project::kFieldSound, work + e.sound));
      ASSERT_TRUE(project::set_line_field(p->lines, i, project::kFieldBrain, e.brain == "-" ? e.brain : work + e.brain));
      ASSERT_TRUE(project::set_line_field(p->lines, i, project::kFieldNetworkSync, e.sync));
    }
    p->shared_variables = base::Text(shared);
    fs::create_directories(work + "projects/" + name);
    ASSERT_TRUE(project::save_project(*p, host, work + "projects/" + name + "/" + name + ".prj"));
  }

  // "multilev/test.mlv" with the given slots (0-based) switched on for projects.
  void make_list(const std::vector<std::pair<int, std::string>>& slots) {
    auto list = std::make_unique<package::ProjectsList>();
    package::reset_list(*list, work);
    package::toggle_compile_switch(*list, 0);  // all off
    for (const auto& [slot, name] : slots) {
      package::set_slot_field(*list, slot, package::kProject, work + "projects/" + name + "/" + name + ".prj");
      package::toggle_compile_switch(*list, slot);
    }
    package::set_slot_field(*list, 1, package::kExtra, "x5");
    ASSERT_TRUE(package::save_list(*list, work + "multilev/test.mlv", work));
  }

  void make_two_projects() {
    make_project("one", {{5, "sprites/ship.pcx", "sounds/hum.wav"}});
    // A short collision map is padded in the package.
    write(work + "projects/one/one.col", std::string(100, '\x05'));
    make_project("two", {{11, "visuals/car.v3d", "sounds/null_.wav"}, {13, "xvisuals/truck.x", "sounds/hum.wav", "-", "1"},
                          {1, "3dshapes/box.a3d", "sounds/null_.wav"}});
  }

  package::BuildReport build() {
    package::BuildSetup setup;
    setup.base_folder = base::Text(work);
    setup.player_program = ZEPTA_PROGRAM;  // this test program has no title region
    setup.list_path = base::Text(work + "multilev/test.mlv");
    setup.package_folder = base::Text(pkg);
    setup.title = "Test Game";
    return package::build_package(setup);
  }

  // The package name of a visual's resource, and of an element's (whose path is taken in lower case).
  std::string packed(const std::string& rel) { return std::string(package::packed_name(work + rel).view()); }
  std::string packed_lower(const std::string& rel) {
    return std::string(package::packed_name(base::lower(work + rel).view()).view());
  }

  std::set<std::string> package_files() {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(pkg)) names.insert(e.path().filename().string());
    return names;
  }

  std::string problems(const package::BuildReport& r) {
    std::string all;
    for (const std::string& p : r.problems) all += p + "\n";
    return all;
  }
};

TEST_F(BuildTest, TwoProjectsMakeAPackage) {
  make_two_projects();
  make_list({{0, "one"}, {1, "two"}});
  write(pkg + "old.txt", "from an earlier build");
  fs::create_directories(pkg + "keep");
  package::BuildReport r = build();
  ASSERT_TRUE(r.ok) << problems(r);
  EXPECT_EQ(r.levels, 2);

  // Scrambled, plain, or made by the build: {name, source, scrambled}.
  struct {
    std::string name;
    std::string source;  // "" : checked below
    bool scrambled;
  } files[] = {
      {"level001.prj", "", true},
      {"level002.prj", "", true},
      {"level001.col", "", false},
      {"level002.col", "", false},
      {"multilev.ini", "", false},
      {"netmode.ini", "", false},
      {packed_lower("sprites/ship.pcx"), "sprites/Ship.PCX", true},
      {packed_lower("sprites/ship.pcx").substr(0, 9) + "002", "sprites/Ship.002", true},
      {packed_lower("sounds/hum.wav"), "sounds/hum.wav", true},
      {"null_.wav", "sounds/null_.wav", false},
      {packed_lower("cameras/default_.03d"), "cameras/default_.03d", true},
      {packed_lower("visuals/car.v3d"), "", true},
      {packed("xvisuals/car.bmp"), "xvisuals/car.bmp", true},
      {packed("xvisuals/car.x"), "xvisuals/car.x", true},
      {packed_lower("3dshapes/box.a3d"), "", true},
      {packed("3dshapes/box.pcx"), "3dshapes/box.pcx", true},
      {"truck.x", "xvisuals/truck.x", true},
      {"truck_002.x", "xvisuals/truck_002.x", true},
      {"paint.bmp", "xvisuals/tex/paint.bmp", true},
      {"wait_.bmp", "images/wait_.bmp", true},
      {"anykey_.bmp", "images/anykey_.bmp", true},
      {"wait_.avi", "images/wait_.avi", false},
      {"font.fnt", "data/font.fnt", false},
      {"font8.fnt", "data/font8.fnt", false},
      {"sinus.bin", "data/sinus.bin", false},
      {"sinusbig.bin", "data/sinusbig.bin", false},
      {"atan.bin", "data/atan.bin", false},
      {"random.bin", "data/random.bin", false},
      {"hood0a.x", "data/hood0a.x", false},
      {"hood4b.x", "data/hood4b.x", false},
      {"panels.pcx", "data/panels2.pcx", false},
      {"bkgr000_.bmp", "bckgrnds/bkgr000_.bmp", false},
  };
  std::set<std::string> expected;
  for (const auto& f : files) {
    expected.insert(f.name);
    if (f.source.empty()) continue;
    std::string bytes = read(pkg + f.name);
    EXPECT_EQ(f.scrambled ? descrambled(bytes) : bytes, read(work + f.source)) << f.name;
    if (f.scrambled) {
      EXPECT_NE(bytes, read(work + f.source)) << f.name;
    }
  }
  for (const char* hood : {"hood1a.x", "hood2a.x", "hood3a.x", "hood4a.x", "hood0b.x", "hood1b.x", "hood2b.x", "hood3b.x"})
    expected.insert(hood);
  expected.insert("keep");  // sub-folders stay; the old files go
  expected.insert("zeptaexe");
  expected.insert("lib");
  EXPECT_EQ(package_files(), expected);

  // The projects name their resources by package names, and keep the rest.
  auto level = std::make_unique<project::Project>();
  std::vector<std::uint8_t> matrix(project::kCollisionBytes);
  level->collision = matrix.data();
  project::Host host;
  host.work_folder = base::Text(pkg);
  host.data_folder = base::Text(pkg);
  host.dry_run = true;
  write(work + "plain.prj", descrambled(read(pkg + "level001.prj")));
  ASSERT_TRUE(project::load_project(*level, host, work + "plain.prj"));
  ASSERT_EQ(level->lines.highest, 1);
  struct {
    int element, field;
    std::string value;
  } fields[] = {
      {0, project::kFieldAspect, pkg + packed_lower("cameras/default_.03d")},
      {0, project::kFieldSound, pkg + "null_.wav"},
      {1, project::kFieldAspect, pkg + packed_lower("sprites/ship.pcx")},
      {1, project::kFieldSound, pkg + packed_lower("sounds/hum.wav")},
      {1, project::kFieldName, "e1"},
      {1, project::kFieldType, "5"},
  };
  for (const auto& f : fields)
    EXPECT_EQ(project::line_field(level->lines.line[f.element], f.field).view(), f.value) << f.element << ":" << f.field;
  EXPECT_NE(descrambled(read(pkg + "level002.prj")).find("|./truck.x|./" + packed_lower("sounds/hum.wav") + "|"),
            std::string::npos);

  // The visual names its texture and model by package names; lines after the first empty one go.
  EXPECT_EQ(descrambled(read(pkg + packed_lower("visuals/car.v3d"))),
            "1|./" + packed("xvisuals/car.bmp") + "|./" + packed("xvisuals/car.x") + "|3|0|FFFFFF|0|0|0\r\n");

  // A 3D shape names its texture by its package name; its other lines stay.
  EXPECT_EQ(descrambled(read(pkg + packed_lower("3dshapes/box.a3d"))),
            "16|./" + packed("3dshapes/box.pcx") + "|8|6|3\r\n-1000|-1000|-1000\r\n\r\n4|0|0|2|3|1|0\r\n");

  std::string col = read(pkg + "level001.col");
  EXPECT_EQ(col, std::string(100, '\x05') + std::string(project::kCollisionBytes - 100, '\0'));
  EXPECT_EQ(read(pkg + "level002.col").size(), static_cast<std::size_t>(project::kCollisionBytes));

  std::vector<std::string> list = crlf_lines(read(pkg + "multilev.ini"));
  ASSERT_EQ(list.size(), 500u);
  EXPECT_EQ(list[0], "wait_.bmp|anykey_.bmp|");
  EXPECT_EQ(list[1], "wait_.bmp|anykey_.bmp|x5");
  EXPECT_EQ(list[2], "||");
  EXPECT_EQ(list[499], "||");
  EXPECT_EQ(read(pkg + "netmode.ini"), "\r\n");

  // Missing engine data files are told, and the build goes on.
  EXPECT_NE(problems(r).find("resume_.bmp not found"), std::string::npos) << problems(r);
  EXPECT_NE(problems(r).find("end_.bmp not found"), std::string::npos) << problems(r);
}

// glTF and ".obj" models keep their file names and take the files they name
// along under the names they give them; names that lead out of the model's
// folder are told and left out, a data: uri stays inside the file; a mesh's
// frames go along in its own format.
TEST_F(BuildTest, ModelsTakeTheFilesTheyName) {
  fs::create_directories(work + "models/tex");
  write(work + "models/car.gltf",
        "{\"asset\":{\"version\":\"2.0\"},\"buffers\":[{\"uri\":\"car.bin\",\"byteLength\":4},"
        "{\"uri\":\"data:application/octet-stream;base64,AAAA\",\"byteLength\":3}],"
        "\"images\":[{\"uri\":\"paint.png\"},{\"uri\":\"tex/wheel.png\"},{\"uri\":\"/etc/hostname\"},"
        "{\"uri\":\"../sprites/Ship.PCX\"},{\"bufferView\":0,\"mimeType\":\"image/png\"}]}");
  write(work + "models/car.bin", "bin!");
  write(work + "models/paint.png", "PNG paint");
  write(work + "models/tex/wheel.png", "PNG wheel");
  std::string json = "{\"asset\":{\"version\":\"2.0\"},\"images\":[{\"uri\":\"label.png\"}]}";
  write(work + "models/crate.glb", std::string("glTF\x02\0\0\0", 8) + std::string(4, '\0') + std::string(1, static_cast<char>(json.size())) +
                                       std::string(3, '\0') + "JSON" + json);
  write(work + "models/label.png", "PNG label");
  // A mesh's second frame keeps the model's extension and takes its own files.
  std::string json2 = "{\"asset\":{\"version\":\"2.0\"},\"images\":[{\"uri\":\"label2.png\"}]}";
  write(work + "models/crate_002.glb", std::string("glTF\x02\0\0\0", 8) + std::string(4, '\0') +
                                           std::string(1, static_cast<char>(json2.size())) + std::string(3, '\0') + "JSON" + json2);
  write(work + "models/label2.png", "PNG label two");
  write(work + "models/barrel.obj", "mtllib barrel.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  write(work + "models/barrel.mtl", "newmtl wood\nmap_Kd -s 1 1 1 wood.bmp\nmap_Ks wood.bmp\nbump missing.png\n");
  write(work + "models/wood.bmp", "BM wood");
  write(work + "visuals/barrel.v3d", "1|./xvisuals/car.bmp|./models/barrel.obj|3|0|FFFFFF|0|0|0\r\n");
  make_project("one", {{11, "models/car.gltf", "sounds/null_.wav"}, {11, "models/crate.glb", "sounds/null_.wav"},
                       {11, "visuals/barrel.v3d", "sounds/null_.wav"}});
  make_list({{0, "one"}});
  package::BuildReport r = build();
  ASSERT_TRUE(r.ok) << problems(r);
  struct {
    std::string name, source;
    bool scrambled;
  } files[] = {
      {"car.gltf", "models/car.gltf", false},     {"car.bin", "models/car.bin", false},
      {"paint.png", "models/paint.png", false},   {"tex/wheel.png", "models/tex/wheel.png", false},
      {"crate.glb", "models/crate.glb", false},   {"label.png", "models/label.png", false},
      {"crate_002.glb", "models/crate_002.glb", false}, {"label2.png", "models/label2.png", false},
      {"barrel.obj", "models/barrel.obj", false}, {"barrel.mtl", "models/barrel.mtl", false},
      {"wood.bmp", "models/wood.bmp", true},
  };
  for (const auto& f : files) {
    std::string bytes = read(pkg + f.name);
    EXPECT_EQ(f.scrambled ? descrambled(bytes) : bytes, read(work + f.source)) << f.name;
  }
  EXPECT_FALSE(fs::exists(pkg + "hostname"));
  EXPECT_FALSE(fs::exists(pkg + "Ship.PCX"));
  std::string told = problems(r);
  EXPECT_NE(told.find("the image /etc/hostname of " + work + "models/car.gltf is outside its folder: not packed"),
            std::string::npos) << told;
  EXPECT_NE(told.find("the image ../sprites/Ship.PCX of " + work + "models/car.gltf is outside its folder: not packed"),
            std::string::npos) << told;
  EXPECT_NE(told.find("the texture missing.png of " + work + "models/barrel.obj not found"), std::string::npos) << told;
  EXPECT_EQ(told.find("data:"), std::string::npos) << told;
  // The level and the visual name the models by their own names.
  std::string level = descrambled(read(pkg + "level001.prj"));
  EXPECT_NE(level.find("|./car.gltf|"), std::string::npos);
  EXPECT_NE(level.find("|./crate.glb|"), std::string::npos);
  EXPECT_EQ(descrambled(read(pkg + packed_lower("visuals/barrel.v3d"))),
            "1|./" + packed("xvisuals/car.bmp") + "|./barrel.obj|3|0|FFFFFF|0|0|0\r\n");
}

TEST_F(BuildTest, OnlySlotThreeSwitchedOn) {
  make_two_projects();
  make_list({{2, "one"}});
  package::BuildReport r = build();
  ASSERT_TRUE(r.ok) << problems(r);
  EXPECT_EQ(r.levels, 1);
  std::set<std::string> names = package_files();
  for (const char* present : {"level003.prj", "level003.col", "multilev.ini"}) EXPECT_TRUE(names.count(present)) << present;
  for (const char* absent : {"level001.prj", "level002.prj", "netmode.ini", "truck.x"})
    EXPECT_FALSE(names.count(absent)) << absent;
  std::vector<std::string> list = crlf_lines(read(pkg + "multilev.ini"));
  ASSERT_EQ(list.size(), 500u);
  EXPECT_EQ(list[0], "||");
  EXPECT_EQ(list[1], "||");
  EXPECT_EQ(list[2], "wait_.bmp|anykey_.bmp|");
}

TEST_F(BuildTest, SharedVariablesMakeANetworkGame) {
  make_project("one", {{5, "sprites/ship.pcx", "sounds/hum.wav"}}, "3,7(2)");
  make_list({{0, "one"}});
  package::BuildReport r = build();
  ASSERT_TRUE(r.ok) << problems(r);
  EXPECT_TRUE(fs::exists(pkg + "netmode.ini"));
}

// Failures leave the package folder as it was, and no staging folder behind.
TEST_F(BuildTest, FailuresLeaveThePackageFolderAlone) {
  make_two_projects();
  make_project("bad", {{5, "sprites/ship.pcx", "sounds/hum.wav", "brains/bad.brn"}});
  // Two sprites whose paths hash alike ("aan" and "ac0" collide).
  write(work + "sprites/aan.pcx", "one picture");
  write(work + "sprites/ac0.pcx", "another picture");
  make_project("clash", {{5, "sprites/aan.pcx", "sounds/hum.wav"}, {5, "sprites/ac0.pcx", "sounds/hum.wav"}});
  // A brain file that is missing, with a private brain of an earlier load at the name its copy would take.
  make_project("nobrain", {{5, "sprites/ship.pcx", "sounds/hum.wav"}});
  std::string nobrain = read(work + "projects/nobrain/nobrain.prj");
  nobrain.replace(nobrain.find("|-|", nobrain.find("\ne1|")), 3, "|./brains/steer.brn|");
  write(work + "projects/nobrain/nobrain.prj", nobrain);
  write(work + "brains/1.bra", "var x\r\n");
  ASSERT_EQ(packed_lower("sprites/aan.pcx"), packed_lower("sprites/ac0.pcx"));

  struct {
    std::vector<std::pair<int, std::string>> slots;
    int status;
    std::string problem;
  } cases[] = {
      {{{0, "one"}, {1, "bad"}}, 1, "slot 002 (bad): " + work + "projects/bad/bad.prj:"},
      {{{0, "one"}, {1, "bad"}}, 1, ": brain of 'e1': Unknown symbol 'q'!"},
      {{{0, "nobrain"}}, 1,
       "slot 001 (nobrain): " + work + "projects/nobrain/nobrain.prj:4: brain of 'e1': Brain not found (steer.brn)!"},
      {{{0, "clash"}}, 4, "two resources would both be packaged as " + packed_lower("sprites/aan.pcx")},
      {{}, 3, "no project is switched on"},
      {{{0, "gone"}}, 3, "slot 001 (gone): project " + work + "projects/gone/gone.prj not found"},
  };
  write(pkg + "old.txt", "from an earlier build");
  for (const auto& c : cases) {
    make_list(c.slots);
    package::BuildReport r = build();
    EXPECT_FALSE(r.ok) << c.problem;
    EXPECT_EQ(r.exit_status, c.status) << c.problem;
    EXPECT_NE(problems(r).find(c.problem), std::string::npos) << problems(r);
    EXPECT_EQ(package_files(), std::set<std::string>{"old.txt"}) << c.problem;
  }

  for (const std::string& folder : {work, work + "data/"}) {
    pkg = folder;
    package::BuildReport r = build();
    EXPECT_EQ(r.exit_status, 4) << folder;
    EXPECT_TRUE(fs::exists(work + "multilev/test.mlv"));
  }

  pkg = work + "nowhere/";
  make_list({{0, "one"}});
  package::BuildReport r = build();
  EXPECT_EQ(r.exit_status, 3);
  EXPECT_EQ(problems(r), "The package folder " + pkg + " does not exist\n");
  EXPECT_FALSE(fs::exists(pkg));
}

// Every file below a folder with its bytes, by path inside it.
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder, ec))
    files[fs::relative(e.path(), folder).string()] = e.is_regular_file() ? read(e.path().string()) : "(folder)";
  return files;
}

// The hidden folders a build keeps beside the package folder.
std::vector<std::string> staging_folders(const std::string& work) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(work)) {
    std::string name = e.path().filename().string();
    if (name.rfind(".zeptaexe.", 0) == 0) names.push_back(name);
  }
  return names;
}

// A build of the command line killed at a spread of moments leaves at the
// package folder path the old package or the new one, whole, every time; and
// the next build removes the staging folders the killed ones left.
TEST_F(BuildTest, KilledBuildsLeaveAWholePackage) {
  make_project("one", {{5, "sprites/ship.pcx", "sounds/hum.wav"}});
  make_list({{0, "one"}});
  fs::remove(work + "images/wait_.avi");  // a cut-scene would bring the video libraries
  // Two versions of the game, told apart by a sprite's bytes.
  const std::string versions[] = {"ship frame one..", "another ship...."};
  // Each build is a child of this test, with a small player: /bin/true with a
  // title region (never run here).
  std::string player = read("/bin/true");
  ASSERT_GT(player.size(), 8192u);
  player.replace(4096, base::kTitleMarkerBytes + base::kTitleBytes, base::title_marker() + std::string(base::kTitleBytes, ' '));
  write(work + "player", player);
  auto run_build = [&](int version, int kill_after_ms) {
    write(work + "sprites/Ship.PCX", versions[version]);
    pid_t child = fork();
    if (child == 0) {
      package::BuildSetup setup;
      setup.base_folder = base::Text(work);
      setup.player_program = base::Text(work + "player");
      setup.list_path = base::Text(work + "multilev/test.mlv");
      setup.package_folder = base::Text(pkg);
      package::BuildReport r = package::build_package(setup);
      if (!r.ok) std::fprintf(stderr, "%s", problems(r).c_str());
      _exit(r.ok ? 0 : 1);
    }
    if (kill_after_ms >= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kill_after_ms));
      kill(child, SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
  };
  std::map<std::string, std::string> whole[2];
  auto started = std::chrono::steady_clock::now();
  for (int version : {1, 0}) {
    ASSERT_TRUE(WIFEXITED(run_build(version, -1)));
    whole[version] = snapshot(pkg);
  }
  ASSERT_NE(whole[0], whole[1]);
  ASSERT_TRUE(whole[0].count("zeptaexe") && whole[0].count("level001.prj"));
  // The kill moments spread over a whole build, and thicker towards its end, where the swap is.
  int build_ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count() / 2);
  constexpr int kKills = 300;
  int complete = 0;
  for (int k = 0; k < kKills; ++k) {
    int at = k % 3 == 0 ? build_ms * k / kKills : build_ms * 6 / 10 + build_ms * 5 * k / (10 * kKills);
    int status = run_build(k % 2, at);
    complete += WIFEXITED(status);
    std::map<std::string, std::string> now = snapshot(pkg);
    ASSERT_TRUE(now == whole[0] || now == whole[1]) << "killed after " << at << " ms: " << now.size() << " files";
  }
  EXPECT_LT(complete, kKills);  // most builds were killed
  ASSERT_TRUE(WIFEXITED(run_build(1, -1)));
  EXPECT_EQ(snapshot(pkg), whole[1]);
  EXPECT_EQ(staging_folders(work), std::vector<std::string>{});
}

// Staging folders: one a running build holds stays, the others go; a package
// that a two-step swap left aside comes back when the package folder is gone.
TEST_F(BuildTest, StagingFoldersOfOtherBuilds) {
  make_project("one", {{5, "sprites/ship.pcx", "sounds/hum.wav"}});
  make_list({{0, "one"}});
  for (const char* name : {".zeptaexe.build-held00", ".zeptaexe.build-stale0", ".zeptaexe.old-stale0"})
    fs::create_directories(work + name + "/lib");
  fs::create_directories(work + ".other.build-stale0");  // another package folder's
  int held = open((work + ".zeptaexe.build-held00").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  package::BuildReport r = build();
  ASSERT_TRUE(r.ok) << problems(r);
  EXPECT_NE(problems(r).find("removed 2 staging folders that interrupted builds left beside " + work + "zeptaexe"),
            std::string::npos)
      << problems(r);
  std::vector<std::string> left = staging_folders(work);
  EXPECT_EQ(left, std::vector<std::string>{".zeptaexe.build-held00"});
  EXPECT_TRUE(fs::exists(work + ".other.build-stale0"));
  close(held);

  // Killed between the two renames of a file system that exchanges no folders.
  fs::rename(pkg, work + ".zeptaexe.old-abc123");
  r = build();
  EXPECT_TRUE(r.ok) << problems(r);
  EXPECT_NE(problems(r).find("put back the package folder " + work + "zeptaexe that an interrupted build had moved aside"),
            std::string::npos)
      << problems(r);
  EXPECT_TRUE(fs::exists(pkg + "zeptaexe"));
}

// The command line: relative paths from where it was started; problems on
// stderr, the summary on stdout.
TEST_F(BuildTest, CommandLine) {
  make_two_projects();
  make_list({{0, "one"}, {1, "two"}});
  write(pkg + "old.txt", "from an earlier build");
  // Started from a folder below the working folder, through a link in it.
  fs::create_symlink(ZEPTA_PROGRAM, work + "zepta");
  std::string cmd = "cd '" + work + "multilev' && ../zepta --package test.mlv ../zeptaexe --title 'My Game' >'" + work +
                    "out.txt' 2>'" + work + "err.txt'";
  test_support::WatchedRun run = test_support::run_watched(cmd);
  std::string err = read(work + "err.txt");
  EXPECT_EQ(run.status, 0) << err;
  EXPECT_EQ(read(work + "out.txt"), "packaged 2 levels into ../zeptaexe\n");
  EXPECT_NE(err.find("zepta: data file " + work + "data/resume_.bmp not found\n"), std::string::npos) << err;
  EXPECT_TRUE(fs::exists(pkg + "level002.prj"));
  EXPECT_FALSE(fs::exists(pkg + "old.txt"));

  cmd = "cd '" + work + "' && '" ZEPTA_PROGRAM "' --package multilev/none.mlv zeptaexe 2>'" + work + "err.txt'";
  run = test_support::run_watched(cmd);
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(read(work + "err.txt").find("zepta: The projects list " + work + "multilev/none.mlv could not be read"),
            std::string::npos);
}

// The whole way: a list built by the program, then played from the package
// folder by the player it holds. Level 1 sets a global and goes on to level 2,
// which sees it and the sound file its brain names, and ends without the end screen.
TEST_F(BuildTest, BuiltPackagePlays) {
  write(work + "brains/one.brn", "var t\r\nt = timer(element)\r\nglobal_set(1, 41)\r\nif t = 3\r\nexit(2)\r\nendif\r\n");
  write(work + "brains/two.brn",
        "var t\r\nt = timer(element)\r\nif t = 1\r\nfont_set(\"DejaVu Sans\", -15, 400, 1)\r\n"
        "global_set(2, global(1) + 1 - file_exists(\"sounds/hum.wav\"))\r\nendif\r\nif t = 3\r\nexit(-3)\r\nendif\r\n");
  make_project("one", {{5, "sprites/ship.pcx", "sounds/null_.wav", "brains/one.brn"}});
  make_project("two", {{11, "visuals/car.v3d", "sounds/null_.wav", "brains/two.brn"}});
  make_list({{0, "one"}, {1, "two"}});
  std::string cmd = "cd '" + work + "' && '" ZEPTA_PROGRAM "' --package multilev/test.mlv zeptaexe 2>'" + work + "err.txt'";
  test_support::WatchedRun run = test_support::run_watched(cmd);
  ASSERT_EQ(run.status, 0) << read(work + "err.txt");
  EXPECT_TRUE(fs::is_regular_file(pkg + "sounds/hum.wav"));  // named by a brain: same place in the package
  EXPECT_TRUE(fs::is_regular_file(pkg + "fonts/DejaVuSans.ttf"));  // a face a brain names comes along

  cmd = "cd '" + pkg + "' && ./zeptaexe --headless --fast --ticks 200 --dump '" + work + "dump.txt' 2>'" + work +
        "err.txt'";
  run = test_support::run_watched(cmd);
  EXPECT_EQ(run.status, 0) << read(work + "err.txt");
  std::string dump = read(work + "dump.txt");
  EXPECT_EQ(dump.rfind("exit -3\n", 0), 0u) << dump;
  EXPECT_NE(dump.find("\nglobal 1 41\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("\nglobal 2 43\n"), std::string::npos) << dump;  // level 2 saw level 1's global and the sound
}

// A boundary element's ground map goes into the package as a packed resource
// ("XXXXXXXX.dat"); the player tells it by its first bytes, so the packaged
// game stands on the ground its test run stood on.
TEST_F(BuildTest, PackagedGroundMapKeepsItsGround) {
  fs::create_directories(work + "grndmaps");
  std::vector<std::byte> map = media::build_ground_map(media_test::flat(100000, 7000), 0);  // 7 m up, 200 m wide
  write(work + "grndmaps/hill.m3d", std::string(reinterpret_cast<const char*>(map.data()), map.size()));
  write(work + "brains/ground.brn",
        "var t\r\nt = timer(element)\r\nposition_x_set(element, 5120000)\r\n"  // 10 m: off the map's diagonal
        "global_set(1, ground_level(element))\r\nif t = 3\r\nexit(-3)\r\nendif\r\n");
  make_project("ground", {{12, "grndmaps/hill.m3d", "sounds/null_.wav", "brains/ground.brn"}});
  make_list({{0, "ground"}});
  package::BuildReport built = build();
  ASSERT_TRUE(built.ok) << problems(built);
  EXPECT_TRUE(fs::is_regular_file(pkg + packed_lower("grndmaps/hill.m3d")));

  program_test::Outcome test_run = program_test::run_program_in(
      work, {"--headless", "--mode", "1", "--project", "projects/ground/ground.prj", "--fast", "--ticks", "200", "--dump", "dump.txt"},
      "", work);
  ASSERT_EQ(test_run.status, 0) << test_run.err;
  ASSERT_TRUE(program_test::has_line(test_run.dump, "global 1 3584000")) << test_run.dump;  // 7 m in L/512
  program_test::Outcome played = program_test::run_program_in(
      pkg, {"--headless", "--fast", "--ticks", "200", "--dump", work + "dump.txt"}, "", work);
  EXPECT_EQ(played.status, 0) << played.err;
  EXPECT_EQ(played.err.find("suitable reader"), std::string::npos) << played.err;
  EXPECT_EQ(played.dump, test_run.dump);
}

}  // namespace
