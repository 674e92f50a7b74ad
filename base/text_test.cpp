// Text runtime: field rules, number reading and printing, limits.
#include "base/text.h"

#include <gtest/gtest.h>

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
