// Text runtime: counted strings, fields and numbers; files (read line by line,
// written, whole) are base/files.h's. Every text format of the system is read
// and written through these rules: written lines end in CR LF; read lines end
// at LF, a CR right before it dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

namespace base {

inline constexpr int kTextCapacity = 2044;  // characters a counted string holds

// Counted string with value semantics: 32-bit length, the characters, a zero byte.
// A result longer than kTextCapacity is refused: the text is left unchanged (or
// empty when constructed) and too_long() is set; nothing is ever overrun.
// Layout is that of a counted string in memory: brains address it directly.
class Text {
 public:
  Text() { chars_[0] = 0; }
  Text(std::string_view s) { assign(s); }  // NOLINT: implicit on purpose
  Text(const char* s) : Text(std::string_view(s)) {}  // NOLINT
  Text(const Text& o) { copy_from(o); }
  Text& operator=(const Text& o) {
    if (this != &o) copy_from(o);
    return *this;
  }

  std::string_view view() const { return {chars_, length_}; }
  operator std::string_view() const { return view(); }  // NOLINT
  const char* c_str() const { return chars_; }
  int length() const { return static_cast<int>(length_); }
  bool empty() const { return length_ == 0; }
  bool too_long() const { return too_long_; }
  char operator[](int i) const { return chars_[i]; }

  Text& assign(std::string_view s);
  Text& operator+=(std::string_view s);  // append; refused (unchanged) when too long
  Text& operator+=(char c) { return *this += std::string_view(&c, 1); }
  void clear() {
    length_ = 0;
    chars_[0] = 0;
    too_long_ = false;
  }
  // Marks the text refused and reports it once on stderr.
  void refuse(std::size_t wanted);

  friend bool operator==(const Text& a, const Text& b) { return a.view() == b.view(); }
  friend bool operator==(const Text& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const Text& a, const char* b) { return a.view() == std::string_view(b); }

 private:
  void copy_from(const Text& o);

  uint32_t length_ = 0;
  char chars_[kTextCapacity + 1];
  bool too_long_ = false;
};

Text operator+(const Text& a, std::string_view b);
Text operator+(std::string_view a, const Text& b);

// String routines. Positions are 1-based; comparisons byte-wise and case-sensitive.
int compare(std::string_view s, std::string_view t);  // 0 when equal, else non-zero
Text character(int code);                             // one-character text with code & 255
Text field(std::string_view s, int n, char sep);      // n-th field; empty when absent
int field_count(std::string_view s, char sep);        // separators + 1; 0 for ""
Text replace_field(std::string_view s, int n, std::string_view t, char sep);
Text replace_all(std::string_view s, std::string_view f, std::string_view t);
Text left(std::string_view s, int n);
Text right(std::string_view s, int n);
Text mid(std::string_view s, int n, int m);  // m characters from position n
Text drop_left(std::string_view s, int n);
Text drop_right(std::string_view s, int n);
int find(int n, std::string_view s, std::string_view f);  // position at or after n; 0 when none
Text repeat(std::string_view s, int n);
Text trim(std::string_view s);   // without leading and trailing blanks and tabs
Text upper(std::string_view s);  // ASCII letters; every tab becomes a blank
Text lower(std::string_view s);
Text mask_quotes(std::string_view s);  // characters between double quotes become '.'
int32_t value(std::string_view s);     // leading blanks, optional '-', digits; wraps in 32 bits
int32_t decimal_number(std::string_view s);  // value x 1000 with up to 3 decimals
Text text_of(int32_t n);
Text three_digits(int32_t n);  // at least three digits: 7 gives "007", 1234 "1234"
// ASCII letters of either case compare equal.
bool equal_no_case(std::string_view a, std::string_view b);
bool ends_with_no_case(std::string_view s, std::string_view end);
Text hex_text_of(uint32_t n);  // always 8 upper-case digits

// Lines of a text in memory, split as TextFile::read_line splits a file: LF
// ends a line and a CR right before it is dropped; a lone CR stays in the line.
// The last line counts without a line end; a text ending in one yields one
// more, empty, line.
struct LineReader {
  std::string_view text;
  std::size_t pos = 0;  // start of the next line
  int number = 0;       // 1-based number of the line last returned
  bool at_end = false;

  std::string_view next();
};

// Stack of temporary counted strings in a fixed block, released strictly in the
// reverse order of taking; anything else is a fatal programming error.
class TempTexts {
 public:
  TempTexts(void* block, std::size_t bytes);
  Text* take();               // nullptr when the block is full
  void release(Text* text);   // aborts unless text is the most recent one
  int in_use() const { return used_; }
  int capacity() const { return capacity_; }

 private:
  Text* slots_;
  int capacity_;
  int used_ = 0;
};

}  // namespace base
