// The player image: the program copied with its title, beside the libraries it
// needs, runs from the copy with nothing from the environment.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "base/paths.h"
#include "base/title.h"
#include "package/package.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

struct Folder {
  std::string path;
  Folder() {
    char name[] = "/tmp/zepta_player_XXXXXX";
    path = mkdtemp(name) ? std::string(name) + "/" : "";
  }
  ~Folder() {
    if (!path.empty()) fs::remove_all(path);
  }
};

// Standard output of a shell command line; status in status.
std::string run(const std::string& command, int& status) {
  std::string out;
  std::FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  status = pclose(p);
  return out;
}

TEST(PlayerImage, SystemLibrariesStayOut) {
  struct {
    const char* soname;
    bool ships;
  } cases[] = {
      {"libc.so.6", false},         {"libm.so.6", false},           {"ld-linux-x86-64.so.2", false},
      {"libGL.so.1", false},        {"libGLX.so.0", false},         {"libEGL.so.1", false},
      {"libGLdispatch.so.0", false}, {"libdrm.so.2", false},        {"libgbm.so.1", false},
      {"libX11.so.6", false},       {"libX11-xcb.so.1", false},     {"libxcb-shm.so.0", false},
      {"libXext.so.6", false},      {"libwayland-client.so.0", false}, {"libasound.so.2", false},
      {"libpulse-simple.so.0", false},
      {"libSDL2-2.0.so.0", true},   {"libstdc++.so.6", true},       {"libgcc_s.so.1", true},
      {"libXcursor.so.1", true},    {"libXrender.so.1", true},      {"libxkbcommon.so.0", true},
      {"libdecor-0.so.0", true},    {"libcap.so.2", true},          {"libmd.so.0", true},
      {"libepoxy.so.0", true},      {"libopenal.so.1", true},       {"libasan.so.8", true},
  };
  for (const auto& c : cases) EXPECT_EQ(package::ships_library(c.soname), c.ships) << c.soname;
}

TEST(PlayerImage, ProgramWithTitleAndLibraries) {
  Folder folder;
  ASSERT_FALSE(folder.path.empty());
  std::string error;
  ASSERT_TRUE(package::write_player_from(ZEPTA_PROGRAM, folder.path, "Racing Demo", {}, error)) << error;

  std::string exe = folder.path + "zeptaexe";
  struct stat st;
  ASSERT_EQ(stat(exe.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  std::string image, title;
  ASSERT_TRUE(base::read_regular_file(exe, 1u << 30, image));
  ASSERT_TRUE(base::read_title(image, title, error)) << error;
  EXPECT_EQ(title, "Racing Demo" + std::string(21, ' '));

  platform::ElfDynamic dynamic;
  ASSERT_TRUE(platform::read_elf_dynamic(exe, dynamic));
  EXPECT_EQ(dynamic.rpath, "$ORIGIN/lib");
  EXPECT_EQ(dynamic.runpath, "");
  for (const std::string& name : dynamic.needed)
    EXPECT_TRUE(name.find("libav") == std::string::npos && name.find("libassimp") == std::string::npos) << name;

  std::string lib = folder.path + "lib/";
  EXPECT_TRUE(fs::is_regular_file(lib + "libSDL2-2.0.so.0"));
  EXPECT_TRUE(fs::is_regular_file(lib + "libstdc++.so.6"));
  for (const char* name : {"libc.so.6", "libGL.so.1", "libX11.so.6", "libassimp.so.5", "libavcodec.so.59"})
    EXPECT_FALSE(fs::exists(lib + name)) << name;

  // Started with an empty environment, the copy runs and takes its libraries from lib/.
  int status = -1;
  std::string out = run("env -i " + exe + " --version 2>&1", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Zepta"), std::string::npos) << out;
  out = run("env -i LD_TRACE_LOADED_OBJECTS=1 " + exe, status);
  EXPECT_NE(out.find("libSDL2-2.0.so.0 => " + lib + "libSDL2-2.0.so.0"), std::string::npos) << out;
}

TEST(PlayerImage, ModelAndVideoLibrariesShipWhenNeeded) {
  if (!platform::model_library_available() || !platform::video_library_available())
    GTEST_SKIP() << "no model or video library here";
  Folder folder;
  std::string error;
  ASSERT_TRUE(package::write_player_from(ZEPTA_PROGRAM, folder.path, "", {.models = true, .video = true}, error))
      << error;
  std::string image, title;
  ASSERT_TRUE(base::read_regular_file(folder.path + "zeptaexe", 1u << 30, image));
  ASSERT_TRUE(base::read_title(image, title, error));
  EXPECT_EQ(title, std::string(32, ' '));
  for (const auto& names : {platform::model_library_names(), platform::video_library_names()})
    for (const char* name : names) EXPECT_TRUE(fs::is_regular_file(folder.path + "lib/" + name)) << name;
  // Built again without them: they go.
  ASSERT_TRUE(package::write_player_from(ZEPTA_PROGRAM, folder.path, "T", {}, error)) << error;
  EXPECT_FALSE(fs::exists(folder.path + "lib/libassimp.so.5"));
  EXPECT_TRUE(fs::exists(folder.path + "lib/libSDL2-2.0.so.0"));
}

TEST(PlayerImage, FolderThatCannotBeWritten) {
  std::string error;
  EXPECT_FALSE(package::write_player_from(ZEPTA_PROGRAM, "/proc/zepta-no-such-folder/", "T", {}, error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
