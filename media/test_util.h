// Helpers shared by the media tests: a scratch folder and whole-file reading.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace media_test {

// A fresh folder under /tmp, removed with everything in it at the end of the scope.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    char name[] = "/tmp/zepta_media_XXXXXX";
    path = mkdtemp(name) ? name : "/tmp";
  }
  ~ScratchDir() {
    if (path != "/tmp") std::filesystem::remove_all(path);
  }
  std::string file(const std::string& name) const { return path + "/" + name; }
};

inline std::vector<uint8_t> read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_all(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace media_test
