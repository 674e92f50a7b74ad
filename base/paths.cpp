// Confined paths and bounded reads of regular files.
#include "base/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <span>

#include "base/scramble.h"

namespace base {

namespace {

constexpr std::size_t kMaxPath = 4096;

bool to_c_path(std::string_view path, char (&out)[kMaxPath]) {
  if (path.empty() || path.size() >= sizeof out || path.find('\0') != std::string_view::npos) return false;
  std::memcpy(out, path.data(), path.size());
  out[path.size()] = 0;
  return true;
}

std::string current_folder() {
  char buffer[kMaxPath];
  return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("/");
}

// The real path of an absolute normal path: the links of its longest existing
// prefix followed, the rest appended as written. Empty when that fails.
std::string real_path(std::string_view path) {
  std::string prefix(path), rest;
  while (true) {
    char real[PATH_MAX];
    if (realpath(prefix.c_str(), real)) {
      std::string out(real);
      if (!rest.empty()) out += out == "/" ? rest.substr(1) : rest;
      return out.size() < kMaxPath ? out : std::string();
    }
    if (errno != ENOENT && errno != ENOTDIR) return {};
    std::size_t slash = prefix.rfind('/');
    if (slash == std::string::npos || prefix == "/") return {};
    rest = prefix.substr(slash) + rest;
    prefix.erase(slash == 0 ? 1 : slash);
  }
}

bool inside(std::string_view path, std::string_view root) {
  if (root == "/") return true;
  return path.starts_with(root) && (path.size() == root.size() || path[root.size()] == '/');
}

}  // namespace

Text normal_path(std::string_view path, std::string_view folder) {
  if (path.empty()) return {};
  std::string whole;
  auto is_slash = [](char c) { return c == '/' || c == '\\'; };
  if (!is_slash(path.front())) whole.append(folder).push_back('/');
  whole.append(path);
  std::string out;
  std::size_t at = 0;
  while (at < whole.size()) {
    while (at < whole.size() && is_slash(whole[at])) ++at;
    std::size_t end = at;
    while (end < whole.size() && !is_slash(whole[end])) ++end;
    std::string_view part(whole.data() + at, end - at);
    at = end;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      std::size_t slash = out.rfind('/');
      if (slash == std::string::npos) return {};  // above "/"
      out.erase(slash);
      continue;
    }
    out.push_back('/');
    out.append(part);
  }
  if (out.empty()) out = "/";
  if (out.size() > static_cast<std::size_t>(kTextCapacity)) return {};
  return Text(out);
}

Text confine_path(std::string_view path, std::span<const std::string_view> roots) {
  std::string here = current_folder();
  std::string_view start = roots.empty() || roots.front().empty() ? std::string_view(here) : roots.front();
  Text wanted = normal_path(path, normal_path(start, here));
  if (wanted.empty()) return {};
  std::string real = real_path(wanted);
  if (real.empty() || real.size() > static_cast<std::size_t>(kTextCapacity)) return {};
  auto allowed = [&](std::string_view root) {
    std::string real_root = real_path(normal_path(root.empty() ? std::string_view(here) : root, here));
    return !real_root.empty() && inside(real, real_root);
  };
  if (roots.empty()) return allowed(here) ? Text(real) : Text();
  for (std::string_view root : roots)
    if (allowed(root)) return Text(real);
  return {};
}

FileKind file_kind(std::string_view path) {
  char c_path[kMaxPath];
  struct stat info;
  if (!to_c_path(path, c_path) || !package_view_allows(path) || stat(c_path, &info) != 0) return FileKind::missing;
  return S_ISREG(info.st_mode) ? FileKind::regular : FileKind::other;
}

bool read_regular_file(std::string_view path, std::size_t max_bytes, std::string& bytes) {
  bytes.clear();
  char c_path[kMaxPath];
  if (!to_c_path(path, c_path) || !package_view_allows(path)) return false;
  // Non-blocking, so that opening a pipe never waits for a writer.
  int fd = open(c_path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info;
  bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                 package_view_fits(path, static_cast<std::uint64_t>(info.st_size));
  bool scrambled = regular && package_view_scrambled(path);
  if (regular) {
    // A scrambled file is read in whole words, for the last one to descramble.
    std::size_t want = scrambled ? (std::min(max_bytes, std::size_t{1} << 30) + 3) & ~std::size_t{3} : max_bytes;
    bytes.resize(std::min<std::size_t>(want, static_cast<std::size_t>(info.st_size)));
    std::size_t got = 0;
    while (got < bytes.size()) {
      ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
  }
  close(fd);
  if (scrambled) {
    // Words count from the start of the file, and its last size % 4 bytes stay plain.
    std::size_t whole = static_cast<std::size_t>(info.st_size);
    std::size_t words = std::min(bytes.size(), whole - whole % 4) & ~std::size_t{3};
    descramble(std::as_writable_bytes(std::span(bytes.data(), words)));
    if (bytes.size() > max_bytes) bytes.resize(max_bytes);
  }
  return regular;
}

}  // namespace base
