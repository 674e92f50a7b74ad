// The scrambling transform and the package view.
#include "base/scramble.h"

#include <atomic>
#include <bit>
#include <cstring>
#include <mutex>
#include <string>

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
};
View& view() {
  static View v;
  return v;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_hex(char c) { return (c >= '0' && c <= '9') || (lower(c) >= 'a' && lower(c) <= 'f'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

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
  // Packed resources: 8 hex digits, then ".dat" or a frame number.
  if (name.size() == 12 && name[8] == '.') {
    bool hex = true;
    for (int i = 0; i < 8; ++i) hex = hex && is_hex(name[i]);
    std::string_view ext = name.substr(9);
    if (hex && (equal_no_case(ext, "dat") || (is_digit(ext[0]) && is_digit(ext[1]) && is_digit(ext[2])))) return true;
  }
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
