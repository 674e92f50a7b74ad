// Helpers of the project tests: a scratch working folder and whole-file access.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace project_test {

// A fresh working folder with the resource folders the tests use; removed at the end.
struct WorkFolder {
  std::string path;  // ends in "/"
  WorkFolder() {
    char name[] = "/tmp/zepta_project_XXXXXX";
    path = std::string(mkdtemp(name)) + "/";
    for (const char* sub : {"brains", "data", "projects/myprj", "sprites", "counters", "frames", "cameras",
                            "bckgrnds", "xvisuals", "sounds", "tracks", "grndmaps", "visuals"})
      std::filesystem::create_directories(path + sub);
  }
  ~WorkFolder() { std::filesystem::remove_all(path); }
  std::string operator/(const std::string& rel) const { return path + rel; }
};

inline void write(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool exists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace project_test
