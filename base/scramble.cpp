// The scrambling transform and the package view.
#include "base/scramble.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "base/log.h"
#include "base/paths.h"

namespace base {

namespace {

std::uint32_t word_at(const std::byte* p) {
  std::uint32_t w;
  std::memcpy(&w, p, 4);
  return w;  // little-endian machine
}

struct View {
  std::atomic<bool> set{false};  // read without the lock: most programs never set a view
  std::mutex lock;
  std::string folder;
  bool plain_switch = false;
  std::set<std::string> told;  // paths refused already: each is told once
};
View& view() {
  static View v;
  return v;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_hex(char c) { return (c >= '0' && c <= '9') || (lower(c) >= 'a' && lower(c) <= 'f'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A packed resource: 8 hex digits, then ".dat" or a frame number.
bool packed_resource_name(std::string_view name) {
  if (name.size() != 12 || name[8] != '.') return false;
  for (int i = 0; i < 8; ++i)
    if (!is_hex(name[i])) return false;
  std::string_view ext = name.substr(9);
  return equal_no_case(ext, "dat") || (is_digit(ext[0]) && is_digit(ext[1]) && is_digit(ext[2]));
}

std::string_view file_name(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The largest file of each kind a package holds, by the end of its name (the
// first row that matches counts). A whole read of a larger file is refused
// before a byte is read; reads of a part (a header) read only that part.
struct FileCap {
  std::string_view ending;  // "" : packed resources (8 hex digits + ".dat" or ".NNN")
  std::uint64_t bytes;
};
constexpr std::uint64_t kMiB = 1 << 20;
constexpr FileCap kPackageFileCaps[] = {
    {".prj", 4 * kMiB},    // a level: a run reads at most the project buffer (1,088 KiB) of it
    {".col", 65536},       // a collision map: 256 x 256 bytes
    {"", 256 * kMiB},      // a packed resource: any aspect or sound, as large as a model can be
    {".x", 256 * kMiB},    // meshes and models: the model reader's bound
    {".3ds", 256 * kMiB},
    {".gltf", 256 * kMiB},
    {".glb", 256 * kMiB},
    {".obj", 256 * kMiB},
    {".m3d", 17 * kMiB},   // a ground map: its header and the 16 MiB ground-map area
    {".bmp", 64 * kMiB},   // images (a picture's side is at most 4,096)
    {".ppm", 64 * kMiB},
    {".pcx", 64 * kMiB},
    {".wav", 64 * kMiB},   // sounds: the sound reader's bound
    {".ini", 2 * kMiB},    // multilev.ini (500 lines), settings
};

// Tells once per path why a file of the view is not read (the lock held).
void refuse(View& v, std::string_view path, const std::string& why) {
  if (!v.told.emplace(path).second) return;
  std::string_view name = path.substr(std::min(path.size(), v.folder.size()));
  report("package", "%.*s %s: not read", static_cast<int>(name.size()), name.data(), why.c_str());
}

bool in_view(const View& v, std::string_view path) {
  return !v.folder.empty() && path.size() > v.folder.size() && path.substr(0, v.folder.size()) == v.folder;
}

}  // namespace

void scramble(std::span<std::byte> bytes) {
  for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    std::uint32_t w = std::rotl(word_at(&bytes[i]) ^ kScrambleKey, 13);
    std::memcpy(&bytes[i], &w, 4);
  }
}

void descramble(std::span<std::byte> bytes) {
  for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    std::uint32_t w = std::rotr(word_at(&bytes[i]), 13) ^ kScrambleKey;
    std::memcpy(&bytes[i], &w, 4);
  }
}

bool stored_scrambled_name(std::string_view name, bool plain_switch) {
  if (ends_with_no_case(name, ".prj")) return true;
  if (plain_switch) return false;
  if (packed_resource_name(name)) return true;
  if (ends_with_no_case(name, ".x")) return !(name.size() >= 4 && equal_no_case(name.substr(0, 4), "hood"));
  if (ends_with_no_case(name, ".bmp") || ends_with_no_case(name, ".ppm"))
    return !equal_no_case(name, "resume_.bmp") && !equal_no_case(name, "end_.bmp") && !equal_no_case(name, "bkgr000_.bmp");
  return false;
}

void set_package_view(std::string_view folder, bool plain_switch) {
  View& v = view();
  std::lock_guard<std::mutex> hold(v.lock);
  v.folder = std::string(folder);
  v.plain_switch = plain_switch;
  v.told.clear();
  v.set = !v.folder.empty();
}

bool package_view_scrambled(std::string_view path) {
  View& v = view();
  if (!v.set) return false;
  std::lock_guard<std::mutex> hold(v.lock);
  if (v.folder.empty() || path.size() <= v.folder.size() || path.substr(0, v.folder.size()) != v.folder) return false;
  std::string_view name = path.substr(v.folder.size());
  if (name.find('/') != std::string_view::npos) return false;
  return stored_scrambled_name(name, v.plain_switch);
}

bool package_view_allows(std::string_view path) {
  View& v = view();
  if (!v.set) return true;
  std::lock_guard<std::mutex> hold(v.lock);
  if (!in_view(v, path)) return true;
  const std::string_view roots[] = {v.folder};
  Text real = confine_path(path, roots);
  if (real.empty()) {
    refuse(v, path, "leads out of the package folder");
    return false;
  }
  // A pipe or a device would block or never end; folders read nothing.
  struct stat info;
  if (stat(real.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    refuse(v, path, "is no regular file");
    return false;
  }
  return true;
}

std::uint64_t package_file_cap(std::string_view name) {
  for (const FileCap& cap : kPackageFileCaps)
    if (cap.ending.empty() ? packed_resource_name(name) : ends_with_no_case(name, cap.ending)) return cap.bytes;
  return 0;
}

bool package_view_fits(std::string_view path, std::uint64_t size) {
  View& v = view();
  if (!v.set) return true;
  std::lock_guard<std::mutex> hold(v.lock);
  if (!in_view(v, path)) return true;
  std::uint64_t cap = package_file_cap(file_name(path));
  if (cap == 0 || size <= cap) return true;
  refuse(v, path, "holds " + std::to_string(size) + " bytes, more than a package file of its kind can (" +
                      std::to_string(cap) + ")");
  return false;
}

std::FILE* open_plain_copy(std::string_view path) {
  std::string bytes;
  constexpr std::size_t kMaxBytes = std::size_t{1} << 30;
  if (!read_regular_file(path, kMaxBytes, bytes)) return nullptr;  // descrambled when stored scrambled
  std::FILE* f = std::tmpfile();
  if (!f) return nullptr;
  if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fflush(f) != 0) {
    std::fclose(f);
    return nullptr;
  }
  std::rewind(f);
  return f;
}

}  // namespace base
