// Files: one open file read line by line or written (atomically when asked),
// the numbered file slots of brains and tools, and whole-file routines.
#include "base/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/log.h"
#include "base/paths.h"
#include "base/scramble.h"

namespace base {

namespace {

// Copies a path into a zero-terminated buffer; false when it does not fit.
bool to_c_path(std::string_view path, char (&out)[4096]) {
  if (path.empty() || path.size() >= sizeof out) return false;
  std::memcpy(out, path.data(), path.size());
  out[path.size()] = 0;
  return true;
}

std::FILE* open_path(std::string_view path, const char* mode) {
  char c_path[4096];
  if (!to_c_path(path, c_path)) return nullptr;
  return std::fopen(c_path, mode);
}

// Every read of a file opens it here: a file of a package is read only from
// inside the package (base::package_view_allows).
std::FILE* open_reading(std::string_view path) {
  return package_view_allows(path) ? open_path(path, "rb") : nullptr;
}

// Bytes at offset of a file stored scrambled: only the whole words that hold
// them are read. Words count from the start of the file, and its last
// size % 4 bytes are stored plain.
long read_scrambled_at(std::string_view path, long offset, std::span<std::byte> buffer) {
  char c_path[4096];
  if (!to_c_path(path, c_path) || !package_view_allows(path)) return -1;
  int fd = open(c_path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return -1;
  }
  std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
  if (offset < 0 || static_cast<std::uint64_t>(offset) >= size || buffer.empty()) {
    close(fd);
    return 0;
  }
  std::uint64_t start = static_cast<std::uint64_t>(offset) & ~std::uint64_t{3};
  std::uint64_t end = std::min<std::uint64_t>(size, static_cast<std::uint64_t>(offset) + buffer.size());
  std::uint64_t words_end = size - size % 4;  // whole words end here
  std::string window(static_cast<std::size_t>(std::min(size, (end + 3) & ~std::uint64_t{3}) - start), '\0');
  std::size_t got = 0;
  while (got < window.size()) {
    ssize_t n = pread(fd, window.data() + got, window.size() - got, static_cast<off_t>(start + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  std::size_t scrambled = static_cast<std::size_t>(std::min<std::uint64_t>(start + got, words_end) - std::min(start, words_end));
  descramble(std::as_writable_bytes(std::span(window.data(), scrambled & ~std::size_t{3})));
  std::size_t skip = static_cast<std::size_t>(static_cast<std::uint64_t>(offset) - start);
  if (got <= skip) return 0;
  std::size_t n = std::min<std::size_t>(got - skip, static_cast<std::size_t>(end - static_cast<std::uint64_t>(offset)));
  std::memcpy(buffer.data(), window.data() + skip, n);
  return static_cast<long>(n);
}

void close_fd(int fd) { ::close(fd); }

// The temporary at path opened for writing and locked (flock) for as long as it
// is open, so that a second writer of the same file, or a sweep of stale
// temporaries, leaves it alone. -1 when it can't be opened, -2 when another
// writer holds it.
int open_locked_temporary(const char* path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return -2;
    }
    // The writer that held it may have renamed it in place since it was opened.
    struct stat opened, there;
    if (fstat(fd, &opened) == 0 && stat(path, &there) == 0 && opened.st_ino == there.st_ino && opened.st_dev == there.st_dev)
      return fd;
    ::close(fd);
  }
  return -1;
}

}  // namespace

// ---- TextFile ---------------------------------------------------------------

TextFile::~TextFile() {
  if (atomic_) discard();
  else close();
}

bool TextFile::open_read(std::string_view path) {
  close();
  file_ = package_view_scrambled(path) ? open_plain_copy(path) : open_reading(path);
  eof_ = false;
  failed_ = false;
  return file_ != nullptr;
}

bool TextFile::open_write(std::string_view path) {
  close();
  file_ = open_path(path, "wb");
  eof_ = false;
  failed_ = false;
  return file_ != nullptr;
}

bool TextFile::open_write_atomic(std::string_view path) {
  close();
  eof_ = false;
  failed_ = false;
  synced_ = false;
  if (!to_c_path(path, final_path_) || path.size() + kTemporarySuffix.size() >= sizeof temp_path_) return false;
  std::memcpy(temp_path_, path.data(), path.size());
  std::memcpy(temp_path_ + path.size(), kTemporarySuffix.data(), kTemporarySuffix.size());
  temp_path_[path.size() + kTemporarySuffix.size()] = 0;
  int fd = open_locked_temporary(temp_path_);
  if (fd == -2) report("file", "%s is being written by another writer; not written", final_path_);
  if (fd < 0) return false;
  // What a killed writer left there is ours now: it starts empty.
  file_ = ftruncate(fd, 0) == 0 ? fdopen(fd, "wb") : nullptr;
  if (!file_) close_fd(fd);
  atomic_ = file_ != nullptr;
  return atomic_;
}

Text TextFile::read_line() {
  Text line;
  if (!file_) {
    eof_ = true;
    return line;
  }
  char chunk[256];
  int n = 0;
  bool after_cr = false;
  bool overflow = false;
  std::size_t total = 0;
  auto flush = [&] {
    overflow = overflow || line.length() + n > kTextCapacity;
    if (!overflow) line += std::string_view(chunk, static_cast<std::size_t>(n));
    total += static_cast<std::size_t>(n);
    n = 0;
  };
  auto put = [&](char c) {
    chunk[n++] = c;
    if (n == static_cast<int>(sizeof chunk)) flush();
  };
  while (true) {
    int c = getc_unlocked(file_);
    if (c == EOF) {  // a CR at the very end ends the line, as one before LF does
      eof_ = true;
      break;
    }
    if (c == '\n') break;  // a CR right before it is dropped
    if (after_cr) put('\r');
    after_cr = c == '\r';
    if (!after_cr) put(static_cast<char>(c));
  }
  flush();
  if (overflow) {
    line.clear();
    line.refuse(total);
  }
  return line;
}

bool TextFile::print(std::string_view s) { return write_bytes(s.data(), s.size()); }

bool TextFile::print_line(std::string_view s) {
  bool ok = write_bytes(s.data(), s.size());
  return write_bytes("\r\n", 2) && ok;
}

bool TextFile::write_bytes(const void* data, std::size_t n) {
  if (!file_) return false;
  if (n && std::fwrite(data, 1, n, file_) != n) failed_ = true;
  return !failed_;
}

bool TextFile::close() {
  if (atomic_) return sync() && commit();
  if (!file_) return !failed_;
  bool ok = !failed_ && std::fflush(file_) == 0;
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  failed_ = !ok;
  return ok;
}

bool TextFile::sync() {
  if (!atomic_) return close();
  if (synced_) return !failed_;
  // The temporary stays open, and so locked, until it is renamed or removed.
  bool ok = !failed_ && std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
  synced_ = true;
  failed_ = !ok;
  if (!ok) {
    atomic_ = false;
    std::remove(temp_path_);
    std::fclose(file_);
    file_ = nullptr;
    report("file", "could not write %s; the old file is kept", final_path_);
  }
  return ok;
}

bool TextFile::commit() {
  if (!sync() || !atomic_) return !failed_;
  atomic_ = false;
  bool ok = std::rename(temp_path_, final_path_) == 0;
  if (!ok) {
    std::remove(temp_path_);
    report("file", "could not write %s; the old file is kept", final_path_);
  }
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  failed_ = !ok;
  return ok;
}

void TextFile::discard() {
  if (atomic_) std::remove(temp_path_);
  if (file_) std::fclose(file_);
  file_ = nullptr;
  atomic_ = false;
}

// ---- FileSlots --------------------------------------------------------------

bool FileSlots::open_read(int i, std::string_view path) {
  TextFile* f = slot(i);
  return f && f->open_read(path);
}

bool FileSlots::open_write(int i, std::string_view path) {
  TextFile* f = slot(i);
  return f && f->open_write(path);
}

bool FileSlots::select_input(int i) {
  if (!slot(i)) return false;
  input_ = i;
  return true;
}

bool FileSlots::select_output(int i) {
  if (!slot(i)) return false;
  output_ = i;
  return true;
}

void FileSlots::deselect() { input_ = output_ = -1; }

Text FileSlots::read_line() {
  TextFile* f = slot(input_);
  if (!f) {
    eof_ = true;
    return {};
  }
  Text line = f->read_line();
  eof_ = f->at_eof();
  return line;
}

void FileSlots::print(std::string_view s) {
  if (TextFile* f = slot(output_)) f->print(s);
  else if (sink_) sink_(s, false);
  else std::fwrite(s.data(), 1, s.size(), stdout);
}

void FileSlots::print_line(std::string_view s) {
  if (TextFile* f = slot(output_)) f->print_line(s);
  else if (sink_) sink_(s, true);
  else std::fwrite(s.data(), 1, s.size(), stdout), std::fputc('\n', stdout);
}

bool FileSlots::write_bytes(const void* data, std::size_t n) {
  TextFile* f = slot(output_);
  return f && f->write_bytes(data, n);
}

bool FileSlots::close(int i) {
  TextFile* f = slot(i);
  if (!f) return false;
  if (input_ == i) input_ = -1;
  if (output_ == i) output_ = -1;
  return f->close();
}

// ---- Whole files ------------------------------------------------------------

bool file_exists(std::string_view path) {
  std::FILE* f = open_reading(path);
  if (f) std::fclose(f);
  return f != nullptr;
}

long read_file_at(std::string_view path, long offset, std::span<std::byte> buffer) {
  if (package_view_scrambled(path)) return read_scrambled_at(path, offset, buffer);
  std::FILE* f = open_reading(path);
  if (!f) return -1;
  long got = 0;
  if (offset >= 0 && std::fseek(f, offset, SEEK_SET) == 0)
    got = static_cast<long>(std::fread(buffer.data(), 1, buffer.size(), f));
  std::fclose(f);
  return got;
}

int load_file(std::string_view path, long offset, std::span<std::byte> buffer) {
  long got = read_file_at(path, offset, buffer);
  if (got < 0) return -1;
  std::memset(buffer.data() + got, 0, buffer.size() - static_cast<std::size_t>(got));
  return 0;
}

long file_size(std::string_view path) {
  std::FILE* f = open_reading(path);
  if (!f) return -1;
  long size = std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : -1;
  std::fclose(f);
  return size;
}

bool copy_file(std::string_view from, std::string_view to) {
  std::FILE* in = open_reading(from);
  if (!in) return false;
  TextFile out;
  bool ok = out.open_write_atomic(to);
  char buffer[65536];
  std::size_t n;
  while (ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0) ok = out.write_bytes(buffer, n);
  ok = ok && !std::ferror(in);
  std::fclose(in);
  if (!ok) {
    out.discard();
    return false;
  }
  return out.close();
}

bool delete_file(std::string_view path) {
  char c_path[4096];
  return to_c_path(path, c_path) && std::remove(c_path) == 0;
}

int remove_stale_temporaries(std::string_view folder) {
  char c_folder[4096];
  if (!to_c_path(folder, c_folder)) return 0;
  DIR* dir = opendir(c_folder);
  if (!dir) return 0;
  int removed = 0;
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name.size() <= kTemporarySuffix.size() || !name.ends_with(kTemporarySuffix)) continue;
    struct stat info;
    // Only regular files: the name alone does not make something ours.
    if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
    // One a writer holds open (locked) is being written, not stale.
    int fd = openat(dirfd(dir), entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && unlinkat(dirfd(dir), entry->d_name, 0) == 0) ++removed;
    ::close(fd);
  }
  closedir(dir);
  return removed;
}

std::string user_folder(const char* variable, std::string_view home_default) {
  const char* named = std::getenv(variable);
  if (named && named[0] == '/') return named;
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/" + std::string(home_default);
  return std::string();
}

std::string real_path(std::string_view path) {
  std::string folder(path);
  char real[PATH_MAX];
  return realpath(folder.c_str(), real) ? std::string(real) : folder;
}

std::uint64_t fnv1a(std::string_view bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace base
