// Packed resource names and the scrambling copy of package files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "base/files.h"
#include "base/scramble.h"
#include "package/package.h"

namespace package {

namespace {

// The bytes of a regular file as they are on disk (never through the package
// view: the copy itself decides what is transformed). False when it can't be read.
bool read_raw(std::string_view path, std::string& bytes) {
  bytes.clear();
  std::string c_path(path);
  int fd = open(c_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (ok) {
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
      ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
  }
  close(fd);
  return ok;
}

enum class Direction { scramble, descramble };

bool transforming_copy(std::string_view source, std::string_view destination, bool plain_switch, Direction way) {
  std::string bytes;
  if (!read_raw(source, bytes)) return false;
  if (!plain_switch || base::ends_with_no_case(source, ".prj")) {
    std::span<std::byte> words(reinterpret_cast<std::byte*>(bytes.data()), bytes.size());
    if (way == Direction::scramble) base::scramble(words);
    else base::descramble(words);
  }
  // Through a temporary renamed over the destination: the source may be the destination.
  return write_whole(destination, bytes);
}

}  // namespace

std::uint32_t path_hash(std::string_view path) {
  std::uint32_t h = 0;
  for (char c : path) h = h * 31u + static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
  return h;
}

base::Text packed_name(std::string_view path) {
  std::string_view name = file_name_of(path);
  if (name.size() == 9 && base::ends_with_no_case(name, "null_.wav")) return base::Text(name);
  return base::hex_text_of(path_hash(path)) + ".dat";
}

bool write_whole(std::string_view path, std::string_view bytes) {
  base::TextFile out;
  if (!out.open_write_atomic(path)) return false;
  if (!out.write_bytes(bytes.data(), bytes.size())) {
    out.discard();
    return false;
  }
  return out.close();
}

bool scrambling_copy(std::string_view source, std::string_view destination, bool plain_switch) {
  return transforming_copy(source, destination, plain_switch, Direction::scramble);
}

bool descrambling_copy(std::string_view source, std::string_view destination, bool plain_switch) {
  return transforming_copy(source, destination, plain_switch, Direction::descramble);
}

}  // namespace package
