// Files: one open file read line by line or written, the numbered file slots
// of brains and tools, whole-file routines and the temporaries of atomic
// writes. Lines follow the text runtime's rules (base/text.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "base/text.h"

namespace base {

// One open file, read line by line or written. A read line ends at LF (CR LF
// or LF alone); written lines end in CR LF.
class TextFile {
 public:
  TextFile() = default;
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;
  ~TextFile();

  bool open_read(std::string_view path);   // binary; false when it can't be opened
  bool open_write(std::string_view path);  // creates or truncates
  // Writes to path + kTemporarySuffix and renames that over path at close(), so
  // an interrupted save leaves the old file whole. The temporary is locked while
  // open: false (and told) when another writer holds it; one a killed writer
  // left is taken over.
  bool open_write_atomic(std::string_view path);
  bool is_open() const { return file_ != nullptr; }

  // The bytes before the next LF, less a CR right before it. At the end of the
  // file returns what was read and sets at_eof(). A line over kTextCapacity
  // comes back too_long().
  Text read_line();
  bool at_eof() const { return eof_; }

  bool print(std::string_view s);
  bool print_line(std::string_view s);  // s, then CR LF
  bool write_bytes(const void* data, std::size_t n);

  // Closes the file; false when any write failed (an atomic write then keeps the old file).
  // For an atomic write: sync() then commit().
  bool close();
  // Atomic write in two steps, so that several files can be replaced together:
  // sync() flushes, fsyncs and closes the temporary (false, and the temporary
  // is removed, when any write failed); commit() renames it over the target.
  bool sync();
  bool commit();
  void discard();  // ends an atomic write without replacing the old file

 private:
  std::FILE* file_ = nullptr;
  bool eof_ = false;
  bool failed_ = false;
  bool atomic_ = false;  // an atomic write holds a temporary, open or synced
  bool synced_ = false;  // the temporary is flushed to disk, still open (and locked) until commit()
  char final_path_[4096] = {};
  char temp_path_[4096] = {};
};

// Numbered file slots with a current input and output, as the file routines
// of brains and tools see them. With no output selected, print goes to the
// screen sink (the panel kit's text cursor; stdout until one is set).
class FileSlots {
 public:
  static constexpr int kCount = 8;
  using ScreenSink = void (*)(std::string_view text, bool new_line);

  bool open_read(int slot, std::string_view path);   // -1/0 in brain terms
  bool open_write(int slot, std::string_view path);
  bool select_input(int slot);
  bool select_output(int slot);
  void deselect();
  Text read_line();
  int32_t eof_flag() const { return eof_ ? -1 : 0; }
  void print(std::string_view s);
  void print_line(std::string_view s);
  bool write_bytes(const void* data, std::size_t n);
  bool close(int slot);
  void set_screen_sink(ScreenSink sink) { sink_ = sink; }

 private:
  TextFile* slot(int i) { return i >= 0 && i < kCount ? &slots_[i] : nullptr; }
  TextFile slots_[kCount];
  int input_ = -1;
  int output_ = -1;
  bool eof_ = false;
  ScreenSink sink_ = nullptr;
};

// Whole-file routines.
bool file_exists(std::string_view path);  // openable for reading; "" gives false
// Reads n bytes at offset into buffer: -1 when the file is missing or the path
// empty, 0 on success. Bytes past the end of the file read as zero.
int load_file(std::string_view path, long offset, std::span<std::byte> buffer);
// Bytes actually read at offset, or -1 when the file can't be opened.
long read_file_at(std::string_view path, long offset, std::span<std::byte> buffer);
long file_size(std::string_view path);  // -1 when missing
bool copy_file(std::string_view from, std::string_view to);
bool delete_file(std::string_view path);

// Ending of the temporaries of atomic writes.
inline constexpr std::string_view kTemporarySuffix = ".~write";
// Removes the temporaries that interrupted atomic writes left in folder (not
// below it): regular files whose name ends in kTemporarySuffix and that no
// writer holds. Returns how many.
int remove_stale_temporaries(std::string_view folder);

// ---- The player's own places ------------------------------------------------------

// The folder an XDG variable names ("XDG_DATA_HOME"), when absolute; else $HOME +
// "/" + home_default (".local/share"); "" when neither names one.
std::string user_folder(const char* variable, std::string_view home_default);
// The path with its links and dots resolved; the path unchanged when it does not resolve.
std::string real_path(std::string_view path);
// FNV-1a, 64 bits: a short stable name for a long text such as a folder's path.
std::uint64_t fnv1a(std::string_view bytes);

}  // namespace base
