// Text runtime: counted strings, field routines and number conversion (files
// are base/files.cpp's).
#include "base/text.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/log.h"

namespace base {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

// ---- Text -------------------------------------------------------------------

Text& Text::assign(std::string_view s) {
  if (s.size() > kTextCapacity) {
    clear();
    refuse(s.size());
    return *this;
  }
  if (!s.empty()) std::memmove(chars_, s.data(), s.size());  // an empty view may hold null
  length_ = static_cast<uint32_t>(s.size());
  chars_[length_] = 0;
  too_long_ = false;
  return *this;
}

Text& Text::operator+=(std::string_view s) {
  if (length_ + s.size() > kTextCapacity) {
    refuse(length_ + s.size());
    return *this;
  }
  if (!s.empty()) std::memmove(chars_ + length_, s.data(), s.size());
  length_ += static_cast<uint32_t>(s.size());
  chars_[length_] = 0;
  return *this;
}

void Text::refuse(std::size_t wanted) {
  if (!too_long_) report("text", "a text of %zu characters was refused (at most %d)", wanted, kTextCapacity);
  too_long_ = true;
}

void Text::copy_from(const Text& o) {
  length_ = o.length_;
  std::memcpy(chars_, o.chars_, length_ + 1);
  too_long_ = o.too_long_;
}

Text operator+(const Text& a, std::string_view b) {
  Text r = a;
  r += b;
  return r;
}

Text operator+(std::string_view a, const Text& b) {
  Text r = a;
  r += b.view();
  return r;
}

// ---- String routines --------------------------------------------------------

int compare(std::string_view s, std::string_view t) { return s == t ? 0 : (s < t ? -1 : 1); }

Text character(int code) {
  char c = static_cast<char>(code & 255);
  return Text(std::string_view(&c, 1));
}

Text field(std::string_view s, int n, char sep) {
  if (n <= 0 || sep == 0 || s.empty()) return {};
  std::size_t start = 0;
  for (int i = 1; i < n; ++i) {
    std::size_t at = s.find(sep, start);
    if (at == std::string_view::npos) return {};
    start = at + 1;
  }
  std::size_t end = s.find(sep, start);
  return Text(s.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

int field_count(std::string_view s, char sep) {
  if (s.empty()) return 0;
  int n = 1;
  for (char c : s) n += c == sep;
  return n;
}

Text replace_field(std::string_view s, int n, std::string_view t, char sep) {
  Text r = s;
  if (n <= 0 || sep == 0) return r;
  int separators = 0;
  for (char c : s) separators += c == sep;
  for (; separators < n - 1; ++separators) r += sep;
  if (r.too_long()) return r;
  std::string_view line = r.view();
  std::size_t start = 0;
  for (int i = 1; i < n; ++i) start = line.find(sep, start) + 1;
  std::size_t end = line.find(sep, start);
  if (end == std::string_view::npos) end = line.size();
  Text out = line.substr(0, start);
  out += t;
  out += line.substr(end);
  return out;
}

Text replace_all(std::string_view s, std::string_view f, std::string_view t) {
  if (f.empty()) return Text(s);
  Text r;
  std::size_t at = 0;
  while (true) {
    std::size_t hit = s.find(f, at);
    if (hit == std::string_view::npos) break;
    r += s.substr(at, hit - at);
    r += t;
    at = hit + f.size();
  }
  r += s.substr(at);
  return r;
}

Text left(std::string_view s, int n) {
  if (n <= 0) return {};
  return Text(s.substr(0, static_cast<std::size_t>(n)));
}

Text right(std::string_view s, int n) {
  if (n <= 0) return {};
  std::size_t k = static_cast<std::size_t>(n) < s.size() ? static_cast<std::size_t>(n) : s.size();
  return Text(s.substr(s.size() - k));
}

Text mid(std::string_view s, int n, int m) {
  if (m <= 0) return {};
  std::size_t start = n < 1 ? 0 : static_cast<std::size_t>(n) - 1;
  if (start >= s.size()) return {};
  return Text(s.substr(start, static_cast<std::size_t>(m)));
}

Text drop_left(std::string_view s, int n) {
  if (n <= 0) return Text(s);
  if (static_cast<std::size_t>(n) >= s.size()) return {};
  return Text(s.substr(static_cast<std::size_t>(n)));
}

Text drop_right(std::string_view s, int n) {
  if (n <= 0) return Text(s);
  if (static_cast<std::size_t>(n) >= s.size()) return {};
  return Text(s.substr(0, s.size() - static_cast<std::size_t>(n)));
}

int find(int n, std::string_view s, std::string_view f) {
  if (f.empty()) return 0;
  std::size_t start = n < 1 ? 0 : static_cast<std::size_t>(n) - 1;
  if (start >= s.size()) return 0;
  std::size_t hit = s.find(f, start);
  return hit == std::string_view::npos ? 0 : static_cast<int>(hit) + 1;
}

Text repeat(std::string_view s, int n) {
  Text r;
  if (n <= 0) return r;
  std::size_t total = s.size() * static_cast<std::size_t>(n);
  if (total > kTextCapacity) {
    r.refuse(total);
    return r;
  }
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

Text trim(std::string_view s) {
  std::size_t a = 0, b = s.size();
  while (a < b && is_blank(s[a])) ++a;
  while (b > a && is_blank(s[b - 1])) --b;
  return Text(s.substr(a, b - a));
}

namespace {

template <typename Map>
Text map_chars(std::string_view s, Map map) {
  Text r = s;
  if (r.too_long()) return r;
  char* p = const_cast<char*>(r.c_str());
  for (int i = 0; i < r.length(); ++i) p[i] = map(p[i]);
  return r;
}

}  // namespace

Text upper(std::string_view s) {
  return map_chars(s, [](char c) -> char {
    if (c == '\t') return ' ';
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  });
}

Text lower(std::string_view s) {
  return map_chars(s, [](char c) -> char {
    if (c == '\t') return ' ';
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  });
}

Text mask_quotes(std::string_view s) {
  bool inside = false;
  return map_chars(s, [&inside](char c) -> char {
    if (c == '"') {
      inside = !inside;
      return c;
    }
    return inside ? '.' : c;
  });
}

int32_t value(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && s[i] == '-') negative = true, ++i;
  uint32_t v = 0;  // wraps in 32 bits, as the stored files expect
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) v = v * 10u + static_cast<uint32_t>(s[i] - '0');
  if (negative) v = 0u - v;
  return static_cast<int32_t>(v);
}

int32_t decimal_number(std::string_view s) {
  std::size_t dot = s.find('.');
  if (dot == std::string_view::npos) return value(Text(s) + "000");
  char fraction[3] = {'0', '0', '0'};
  std::string_view after = s.substr(dot + 1, 3);
  std::memcpy(fraction, after.data(), after.size());
  return value(Text(s.substr(0, dot)) + std::string_view(fraction, 3));
}

Text three_digits(int32_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", static_cast<int>(n));
  return Text(text);
}

bool equal_no_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a.empty() || strncasecmp(a.data(), b.data(), a.size()) == 0);
}

bool ends_with_no_case(std::string_view s, std::string_view end) {
  return s.size() >= end.size() && equal_no_case(s.substr(s.size() - end.size()), end);
}

Text text_of(int32_t n) {
  char buffer[16];
  int len = std::snprintf(buffer, sizeof buffer, "%d", n);
  return Text(std::string_view(buffer, static_cast<std::size_t>(len)));
}

Text hex_text_of(uint32_t n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%08X", n);
  return Text(std::string_view(buffer, 8));
}

// ---- Lines ------------------------------------------------------------------

std::string_view LineReader::next() {
  if (at_end) return {};
  ++number;
  std::size_t end = text.find('\n', pos);
  std::string_view line;
  if (end == std::string_view::npos) {
    line = text.substr(pos);
    pos = text.size();
    at_end = true;
  } else {
    line = text.substr(pos, end - pos);
    pos = end + 1;
  }
  // A CR before the LF, or at the very end of the text (a file cut after it), ends the line too.
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// ---- TempTexts --------------------------------------------------------------

TempTexts::TempTexts(void* block, std::size_t bytes)
    : slots_(static_cast<Text*>(block)), capacity_(static_cast<int>(bytes / sizeof(Text))) {}

Text* TempTexts::take() {
  if (used_ == capacity_) return nullptr;
  // Taken from the top of the block downwards.
  Text* t = new (&slots_[capacity_ - 1 - used_]) Text();
  ++used_;
  return t;
}

void TempTexts::release(Text* text) {
  if (used_ == 0 || text != &slots_[capacity_ - used_]) {
    report("text", "temporary string released out of order");
    std::abort();
  }
  --used_;
}

}  // namespace base
