// libFuzzer entry for the project-file reader: any bytes as a ".prj" text.
// Private brains go to a scratch working folder made once per fuzzing process.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "project/project.h"

namespace {

const std::string& scratch_folder() {
  static const std::string folder = [] {
    char name[] = "/tmp/zepta_fuzz_project_XXXXXX";
    std::string path = std::string(mkdtemp(name)) + "/";
    std::filesystem::create_directories(path + "brains");
    return path;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  auto p = std::make_unique<project::Project>();
  auto matrix = std::make_unique<uint8_t[]>(project::kCollisionBytes);
  p->collision = matrix.get();
  project::Host host;
  host.work_folder = scratch_folder().c_str();
  host.data_folder = scratch_folder().c_str();
  p->lines.highest = -1;
  project::read_project_text(*p, host, {reinterpret_cast<const char*>(data), size});
  if (p->lines.highest >= project::kMaxElements) std::abort();
  return 0;
}
