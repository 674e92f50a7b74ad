// Text runtime: field rules, number reading and printing, line ends, files, limits.
#include "base/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using base::Text;

TEST(Text, Fields) {
  struct Case {
    const char* s;
    int n;
    const char* expected;
  } cases[] = {
      {"a||c", 2, ""},  {"a|b", 3, ""},   {"a|b", 2, "b"}, {"a|b", 0, ""},
      {"", 1, ""},      {"abc", 1, "abc"}, {"|x", 1, ""},  {"a|b|", 3, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(base::field(c.s, c.n, '|'), c.expected) << c.s << " " << c.n;
  EXPECT_EQ(base::field("a|b", 1, 0), "");
  EXPECT_EQ(base::field_count("", '|'), 0);
  EXPECT_EQ(base::field_count("abc", '|'), 1);
  EXPECT_EQ(base::field_count("a||", '|'), 3);
  EXPECT_EQ(base::field("1/2/3", 3, '/'), "3");
}

TEST(Text, ReplaceField) {
  EXPECT_EQ(base::replace_field("a|b", 4, "x", '|'), "a|b||x");
  EXPECT_EQ(base::replace_field("a|b|c", 2, "long", '|'), "a|long|c");
  EXPECT_EQ(base::replace_field("a|b|c", 3, "", '|'), "a|b|");
  EXPECT_EQ(base::replace_field("", 1, "x", '|'), "x");
  EXPECT_EQ(base::replace_field("", 3, "x", '|'), "||x");
  EXPECT_EQ(base::replace_field("a|b", 0, "x", '|'), "a|b");
}

TEST(Text, SlicesAndSearch) {
  EXPECT_EQ(base::left("hello", 2), "he");
  EXPECT_EQ(base::left("hello", 9), "hello");
  EXPECT_EQ(base::right("hello", 3), "llo");
  EXPECT_EQ(base::right("hello", -1), "");
  EXPECT_EQ(base::mid("hello", 2, 3), "ell");
  EXPECT_EQ(base::mid("hello", 5, 9), "o");
  EXPECT_EQ(base::mid("hello", 6, 1), "");
  EXPECT_EQ(base::drop_left("hello", 2), "llo");
  EXPECT_EQ(base::drop_right("hello", 2), "hel");
  EXPECT_EQ(base::drop_right("hello", 7), "");
  EXPECT_EQ(base::find(1, "abcabc", "bc"), 2);
  EXPECT_EQ(base::find(3, "abcabc", "bc"), 5);
  EXPECT_EQ(base::find(6, "abcabc", "bc"), 0);
  EXPECT_EQ(base::find(1, "abc", ""), 0);
  EXPECT_EQ(base::replace_all("aaa", "a", "ba"), "bababa");
  EXPECT_EQ(base::replace_all("a.b.c", ".", ""), "abc");
  EXPECT_EQ(base::repeat("ab", 3), "ababab");
  EXPECT_EQ(base::trim(" \t x y \t"), "x y");
  EXPECT_EQ(base::upper("ab\tZ1"), "AB Z1");
  EXPECT_EQ(base::lower("AB\tz1"), "ab z1");
  EXPECT_EQ(base::mask_quotes("say \"hi there\" x"), "say \"........\" x");
  EXPECT_EQ(base::character(65), "A");
  EXPECT_EQ(base::compare("abc", "abc"), 0);
  EXPECT_NE(base::compare("abc", "abd"), 0);
  EXPECT_NE(base::compare("ab", "abc"), 0);
}

TEST(Text, Numbers) {
  struct Case {
    const char* s;
    int32_t value;
  } values[] = {
      {"  -12x", -12}, {"+5", 0}, {"", 0}, {"-", 0}, {"42", 42}, {"x1", 0},
      {"4294967297", 1}, {"-2147483648", INT32_MIN}, {"007", 7},
  };
  for (const auto& c : values) EXPECT_EQ(base::value(c.s), c.value) << c.s;
  Case decimals[] = {
      {"-0.5", -500}, {"3", 3000}, {"1.23456", 1234}, {"2.5", 2500}, {"0.001", 1}, {"-1.2", -1200}, {"", 0},
  };
  for (const auto& c : decimals) EXPECT_EQ(base::decimal_number(c.s), c.value) << c.s;
  EXPECT_EQ(base::text_of(-7), "-7");
  EXPECT_EQ(base::text_of(0), "0");
  EXPECT_EQ(base::text_of(INT32_MIN), "-2147483648");
  EXPECT_EQ(base::hex_text_of(31), "0000001F");
  EXPECT_EQ(base::hex_text_of(0xDEADBEEF), "DEADBEEF");
}

TEST(Text, LongTextsAreRefusedNotOverrun) {
  std::string big(base::kTextCapacity, 'x');
  Text t(big);
  EXPECT_FALSE(t.too_long());
  EXPECT_EQ(t.length(), base::kTextCapacity);
  t += "y";
  EXPECT_TRUE(t.too_long());
  EXPECT_EQ(t.length(), base::kTextCapacity);  // unchanged
  Text over(big + "y");
  EXPECT_TRUE(over.too_long());
  EXPECT_TRUE(over.empty());
  EXPECT_TRUE(base::repeat("ab", 2000).too_long());
  EXPECT_TRUE(base::replace_all(big, "x", "xx").too_long());
  EXPECT_TRUE(base::replace_field(big, 2, "y", '|').too_long());
}

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

TEST(TempTexts, ReleasedInReverseOrder) {
  alignas(Text) static unsigned char block[sizeof(Text) * 3];
  base::TempTexts temps(block, sizeof block);
  EXPECT_EQ(temps.capacity(), 3);
  Text* a = temps.take();
  Text* b = temps.take();
  Text* c = temps.take();
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(temps.take(), nullptr);  // full
  *b = "value";
  temps.release(c);
  temps.release(b);
  EXPECT_EQ(temps.in_use(), 1);
  EXPECT_DEATH(temps.release(c), "out of order");
}

}  // namespace
