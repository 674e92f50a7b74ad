// Files: line ends read from files as from memory, file slots, whole-file
// routines, atomic writes and their stale temporaries.
#include "base/files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using base::Text;

class TextFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("zepta_text_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const char* name) { return (dir_ / name).string(); }
  void write_raw(const char* name, std::string_view bytes) {
    std::FILE* f = std::fopen(path(name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  std::filesystem::path dir_;
};

// Reads every line of a file, then of the same bytes in memory; both must agree.
std::vector<std::string> file_lines(base::TextFile& f) {
  std::vector<std::string> lines;
  do lines.emplace_back(f.read_line().view());
  while (!f.at_eof());
  return lines;
}

std::vector<std::string> memory_lines(std::string_view text) {
  std::vector<std::string> lines;
  base::LineReader reader{text};
  while (!reader.at_end) {
    lines.emplace_back(reader.next());
    EXPECT_EQ(reader.number, static_cast<int>(lines.size()));
  }
  return lines;
}

TEST_F(TextFiles, LfOrCrLfEndsALineAndTheLastLineCounts) {
  using Lines = std::vector<std::string>;
  struct Case {
    const char* bytes;
    Lines lines;
  } cases[] = {
      {"one\r\ntwo\r\n", {"one", "two", ""}},
      {"one\ntwo\n", {"one", "two", ""}},
      {"one\ntwo", {"one", "two"}},
      {"one\r\ntwo", {"one", "two"}},
      {"one\n\r\ntwo\r\n\n", {"one", "", "two", "", ""}},
      {"a lone\rCR stays\r\nx\r\r\ny\r", {"a lone\rCR stays", "x\r", "y"}},
      {"", {""}},
  };
  for (const Case& c : cases) {
    write_raw("a.txt", c.bytes);
    base::TextFile f;
    ASSERT_TRUE(f.open_read(path("a.txt")));
    EXPECT_EQ(file_lines(f), c.lines) << c.bytes;
    EXPECT_EQ(memory_lines(c.bytes), c.lines) << c.bytes;
  }
}

TEST_F(TextFiles, OverlongLineIsRefusedAndReadingGoesOn) {
  write_raw("long.txt", std::string(5000, 'a') + "\r\nnext\r\n");
  base::TextFile f;
  ASSERT_TRUE(f.open_read(path("long.txt")));
  Text line = f.read_line();
  EXPECT_TRUE(line.too_long());
  EXPECT_TRUE(line.empty());
  EXPECT_EQ(f.read_line(), "next");
}

TEST_F(TextFiles, SlotsWriteCrLfAndReadBack) {
  base::FileSlots slots;
  ASSERT_TRUE(slots.open_write(0, path("out.txt")));
  ASSERT_TRUE(slots.select_output(0));
  slots.print("a|");
  slots.print_line("b");
  slots.print_line("c");
  slots.deselect();
  ASSERT_TRUE(slots.close(0));
  EXPECT_EQ(base::file_size(path("out.txt")), 8);

  ASSERT_TRUE(slots.open_read(1, path("out.txt")));
  slots.select_input(1);
  EXPECT_EQ(slots.read_line(), "a|b");
  EXPECT_EQ(slots.eof_flag(), 0);
  EXPECT_EQ(slots.read_line(), "c");
  EXPECT_EQ(slots.read_line(), "");
  EXPECT_EQ(slots.eof_flag(), -1);
  slots.close(1);
  EXPECT_FALSE(slots.open_read(99, path("out.txt")));
  EXPECT_FALSE(slots.open_read(0, path("missing.txt")));
}

TEST_F(TextFiles, WholeFileRoutines) {
  write_raw("f.bin", "0123456789");
  EXPECT_TRUE(base::file_exists(path("f.bin")));
  EXPECT_FALSE(base::file_exists(path("none")));
  EXPECT_FALSE(base::file_exists(""));
  EXPECT_EQ(base::file_size(path("f.bin")), 10);
  EXPECT_EQ(base::file_size(path("none")), -1);

  std::byte buffer[6];
  EXPECT_EQ(base::load_file(path("f.bin"), 7, buffer), 0);
  EXPECT_EQ(buffer[0], std::byte{'7'});
  EXPECT_EQ(buffer[3], std::byte{0});  // past the end reads as zero
  EXPECT_EQ(base::load_file(path("none"), 0, buffer), -1);
  EXPECT_EQ(base::load_file("", 0, buffer), -1);

  EXPECT_TRUE(base::copy_file(path("f.bin"), path("g.bin")));
  EXPECT_EQ(base::file_size(path("g.bin")), 10);
  EXPECT_FALSE(base::copy_file(path("none"), path("h.bin")));
  EXPECT_FALSE(base::file_exists(path("h.bin")));
  EXPECT_TRUE(base::delete_file(path("g.bin")));
  EXPECT_FALSE(base::file_exists(path("g.bin")));
}

TEST_F(TextFiles, AtomicWriteKeepsTheOldFileUntilClose) {
  write_raw("p.prj", "old\r\n");
  base::TextFile f;
  ASSERT_TRUE(f.open_write_atomic(path("p.prj")));
  f.print_line("new");
  EXPECT_EQ(base::file_size(path("p.prj")), 5);
  f.discard();
  EXPECT_EQ(base::file_size(path("p.prj")), 5);  // an abandoned save loses nothing

  ASSERT_TRUE(f.open_write_atomic(path("p.prj")));
  f.print_line("newer");
  ASSERT_TRUE(f.close());
  EXPECT_EQ(base::file_size(path("p.prj")), 7);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);  // no stray temporary

  EXPECT_FALSE(f.open_write_atomic(path("no/such/folder/p.prj")));
}

TEST_F(TextFiles, SyncedWritesReplaceTheirFilesOnlyAtCommit) {
  write_raw("a.prj", "old a");
  write_raw("a.col", "old col");
  {
    base::TextFile a, b;
    ASSERT_TRUE(a.open_write_atomic(path("a.prj")) && b.open_write_atomic(path("a.col")));
    a.print("new a");
    b.print("new col");
    ASSERT_TRUE(a.sync() && b.sync());
    EXPECT_EQ(base::file_size(path("a.prj")), 5);  // both temporaries are written, nothing replaced yet
    EXPECT_TRUE(base::file_exists(path("a.col.~write")));
    ASSERT_TRUE(b.commit() && a.commit());
  }
  EXPECT_EQ(base::file_size(path("a.prj")), 5);
  EXPECT_EQ(base::file_size(path("a.col")), 7);
  {
    base::TextFile a;
    ASSERT_TRUE(a.open_write_atomic(path("a.prj")));
    a.print("lost");
    ASSERT_TRUE(a.sync());
  }  // never committed: the temporary goes, the old file stays
  EXPECT_EQ(base::file_size(path("a.prj")), 5);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);
}

TEST_F(TextFiles, StaleTemporariesAreRemoved) {
  write_raw("p.prj", "p");
  write_raw("p.prj.~write", "half");
  write_raw("p.col.~write", "half");
  write_raw(".~write", "a name that is only the ending");
  write_raw("p.~writer", "not ours");
  std::filesystem::create_directories(dir_ / "d.~write");  // not a file
  std::filesystem::create_directories(dir_ / "sub");
  write_raw("sub/q.prj.~write", "below: left alone");
  EXPECT_EQ(base::remove_stale_temporaries(dir_.string()), 2);
  EXPECT_EQ(base::remove_stale_temporaries(dir_.string() + "/"), 0);
  EXPECT_FALSE(base::file_exists(path("p.prj.~write")));
  EXPECT_FALSE(base::file_exists(path("p.col.~write")));
  for (const char* kept : {"p.prj", ".~write", "p.~writer", "sub/q.prj.~write"}) EXPECT_TRUE(base::file_exists(path(kept))) << kept;
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "d.~write"));
  EXPECT_EQ(base::remove_stale_temporaries(path("none")), 0);
}

// A temporary a writer holds belongs to it: a second writer of the same file is
// refused and a sweep keeps it. One a killed writer left goes at the next
// write of its file, wherever it is.
TEST_F(TextFiles, TemporariesAWriterHoldsAreLeftAlone) {
  std::filesystem::create_directories(dir_ / "sprites");
  write_raw("sprites/x.pcx.~write", "left by a killed writer");
  {
    base::TextFile first, second;
    ASSERT_TRUE(first.open_write_atomic(path("sprites/x.pcx")));
    first.print("first");
    EXPECT_FALSE(second.open_write_atomic(path("sprites/x.pcx")));
    EXPECT_EQ(base::remove_stale_temporaries(path("sprites")), 0);
    ASSERT_TRUE(first.sync());
    EXPECT_FALSE(second.open_write_atomic(path("sprites/x.pcx")));  // synced, not yet committed: still held
    EXPECT_EQ(base::remove_stale_temporaries(path("sprites")), 0);
    ASSERT_TRUE(first.commit());
  }
  EXPECT_EQ(base::file_size(path("sprites/x.pcx")), 5);
  EXPECT_FALSE(base::file_exists(path("sprites/x.pcx.~write")));
}

}  // namespace
