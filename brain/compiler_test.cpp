// Brains compiled into the real code area and run on real element records.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "brain/brain.h"
#include "project/project.h"
#include "base/memory.h"
#include "tests/brain_files.h"
#include "tests/watchdog.h"

namespace {

using project::ElementRecord;

ElementRecord& record(int i) { return base::area_as<ElementRecord>(base::Area::element_table)[i]; }
std::uint32_t address(int i) { return base::address32(&record(i)); }
// Variable n of a brain (declaration order from 0) lives at byte 1020 - 4n.
std::int32_t& variable(int element, int n) { return record(element).variables[127 - n]; }

using brain_test::lines;

struct Capture {
  std::vector<std::string> texts;
  static void show(void* self, std::string_view text) { static_cast<Capture*>(self)->texts.emplace_back(text); }
};

// Brain files served from memory: element i reads "brains/<i>.brn" unless given another path.
class BrainTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(base::reserve_budget()); }

  void SetUp() override {
    std::memset(&record(0), 0, 4 * sizeof(ElementRecord));
    brains_.clear();
  }

  // Compiles one brain per text for elements 0, 1, ...
  bool compile(const std::vector<std::string>& texts, bool editor_pass = false) {
    return compile_sources(brains_.sources(texts, "ship"), editor_pass);
  }

  bool compile_sources(const std::vector<brain::BrainSource>& sources, bool editor_pass = false) {
    brains_.serve(options_);
    if (from_disk_) options_.read = nullptr;
    options_.editor_pass = editor_pass;
    options_.errors = {Capture::show, &errors_};
    errors_.texts.clear();
    return brain::compile_project(sources, options_, program_);
  }

  brain::RunResult run(int element) { return brain::run_element(program_, element, "ship", {Capture::show, &errors_}); }

  // Compiles a one-element brain and returns variable 0 after one run.
  std::int32_t result_of(const std::string& text) {
    EXPECT_TRUE(compile({text})) << text << (errors_.texts.empty() ? "" : "\n" + errors_.texts[0]);
    std::memset(&record(0), 0, sizeof(ElementRecord));
    record(0).brain_entry = static_cast<std::int32_t>(program_.entry[0]);
    EXPECT_EQ(run(0).status, brain::RunStatus::ok) << text;
    return variable(0, 0);
  }

  brain_test::MemoryBrains brains_;
  bool from_disk_ = false;  // brain files read from disk, as a project run reads them
  brain::CompileOptions options_;
  brain::Program program_;
  Capture errors_;
};

// Binds a keyword to a test routine for one test.
struct Bound {
  std::string name;
  brain::Routine old;
  Bound(std::string_view n, brain::Routine r) : name(n), old(brain::routine_of(brain::find_keyword(n))) {
    brain::bind_routine(n, r);
  }
  ~Bound() { brain::bind_routine(name, old); }
};

// ---- Keyword table ---------------------------------------------------------------------

TEST(Keywords, TableRowsInOrderWithSynonyms) {
  EXPECT_STREQ(brain::keyword(0).name, "3dbg_color_set");
  EXPECT_STREQ(brain::keyword(brain::kKeywordRows - 1).name, "str_poll");
  struct Row {
    const char* name;
    int row, argc, r, f;
  } rows[] = {{"abs", 3, 1, 1, 0}, {"divide", 39, 2, 1, 1}, {"element", 464, 1, 0, 0},
              {"box_collisions_off", 320, 1, 0, 0}, {"visual_rgba_set", 218, 5, 0, 1}};
  for (const Row& r : rows) {
    int row = brain::find_keyword(r.name);
    EXPECT_EQ(row, r.row) << r.name;
    EXPECT_EQ(brain::keyword(row).argc, r.argc) << r.name;
    EXPECT_EQ(brain::keyword(row).r, r.r) << r.name;
    EXPECT_EQ(brain::keyword(row).f, r.f) << r.name;
  }
  EXPECT_EQ(brain::find_keyword("nonsense"), -1);
  EXPECT_EQ(brain::find_keyword(""), -1);
  for (int row = 0; row < brain::kKeywordRows; ++row) EXPECT_EQ(brain::find_keyword(brain::keyword(row).name), row);

  std::pair<const char*, const char*> synonyms[] = {
      {"agl", "above_ground_level"}, {"aglevel", "above_ground_level"}, {"abs", "absolute_value"},
      {"rebound_z", "boing_z"}, {"score_set", "credits_set"}, {"listener", "hearer"}, {"str_kill", "a_kill"}};
  for (auto [name, first] : synonyms)
    EXPECT_EQ(brain::routine_row(brain::find_keyword(name)), brain::find_keyword(first)) << name;
  EXPECT_EQ(brain::routine_row(brain::find_keyword("timer")), brain::find_keyword("timer"));
}

TEST(Keywords, EveryRowHasARoutineAndArithmeticIsReal) {
  int placeholders = 0;
  for (int row = 0; row < brain::kKeywordRows; ++row) {
    ASSERT_NE(brain::routine_of(row), nullptr) << brain::keyword(row).name;
    placeholders += brain::is_placeholder(row);
  }
  EXPECT_GT(placeholders, 0);
  for (const char* name : {"sum", "subtract", "multiply", "divide", "abs", "absolute_value"})
    EXPECT_FALSE(brain::is_placeholder(brain::find_keyword(name))) << name;
  EXPECT_FALSE(brain::bind_routine("no_such_keyword", brain::routine_of(0)));
}

ROUTINE(routine_seven) { return 7; }

// A subsystem's table binds each row with its description and field access;
// rows that name no keyword or whose access does not fit are refused alone.
TEST(Keywords, ATableBindsItsRowsAndRefusesBadOnes) {
  int oscillate = brain::find_keyword("oscillate"), spin = brain::find_keyword("spin_x"),
      spin_set = brain::find_keyword("spin_x_set");
  ASSERT_TRUE(brain::is_placeholder(oscillate) && brain::is_placeholder(spin) && brain::is_placeholder(spin_set));
  brain::Routine placeholder = brain::routine_of(oscillate);
  const brain::Binding table[] = {
      {"oscillate", routine_seven, "-> 7"},
      {"spin_x", routine_seven, "a element -> 7", brain::FieldAccess::get, 12},
      {"no_such_keyword", routine_seven, "-> 7"},
      {"spin_x_set", routine_seven, "two parameters: no get", brain::FieldAccess::get, 12},
  };
  EXPECT_FALSE(brain::bind_table(table, "Arithmetic"));
  int word = 0;
  EXPECT_EQ(brain::routine_of(oscillate), routine_seven);
  EXPECT_STREQ(brain::routine_doc(oscillate), "-> 7");
  EXPECT_EQ(brain::routine_subject(oscillate), "Arithmetic");
  EXPECT_EQ(brain::field_access(oscillate, &word), brain::FieldAccess::none);
  EXPECT_EQ(brain::field_access(spin, &word), brain::FieldAccess::get);
  EXPECT_EQ(word, 12);
  EXPECT_TRUE(brain::is_placeholder(spin_set));
  EXPECT_STREQ(brain::routine_doc(spin_set), "");
  for (const char* name : {"oscillate", "spin_x"}) brain::bind_routine(name, placeholder);
  EXPECT_TRUE(brain::is_placeholder(oscillate));
  EXPECT_EQ(brain::field_access(spin, &word), brain::FieldAccess::none);
}

// The reference: subjects in their fixed order (Motion before Arithmetic,
// whatever the binding order), rows by name with synonyms, "|" escaped, and
// every name still on the placeholder at the end.
TEST(Keywords, TheReferenceListsBoundKeywordsBySubject) {
  brain::Routine placeholder = brain::routine_of(brain::find_keyword("oscillate"));
  const brain::Binding motion[] = {
      {"rebound_x", routine_seven, "a element -> 7 | 8"},
      {"attract", routine_seven, "a, b, c -> 7"},
  };
  ASSERT_TRUE(brain::bind_table(motion, "Motion"));
  std::string reference = brain::keyword_reference();
  for (const char* name : {"rebound_x", "attract"}) brain::bind_routine(name, placeholder);

  const char* expected_head =
      "### Motion\n\n"
      "| Keyword | What it does |\n|---|---|\n"
      "| `attract(a, b, c)` | a, b, c -> 7 |\n"
      "| `boing_x(a)` (`rebound_x`) | a element -> 7 \\| 8 |\n"
      "\n### Arithmetic\n\n"
      "| Keyword | What it does |\n|---|---|\n"
      "| `absolute_value(a)` (`abs`) | a -> \\|a\\| (-2147483648 stays itself) |\n";
  EXPECT_EQ(reference.substr(0, std::strlen(expected_head)), expected_head);
  std::size_t unbuilt = reference.find("\n### Not built yet\n\n");
  ASSERT_NE(unbuilt, std::string::npos);
  std::string tail = reference.substr(unbuilt);
  for (const char* call : {"`a(a, b)`, `a2(a, b, c, d)`", "`above_ground_level(a)`, `agl(a)`, `aglevel(a)`",
                           "`oscillate(a, b, c)`"})
    EXPECT_NE(tail.find(call), std::string::npos) << call;
  for (const char* call : {"`sum(", "`boing_x(", "`abs("}) EXPECT_EQ(tail.find(call), std::string::npos) << call;
  EXPECT_EQ(reference.back(), '\n');
}

// ---- Expressions -----------------------------------------------------------------------

struct Case {
  const char* expression;
  std::int32_t value;
};

TEST_F(BrainTest, ExpressionValues) {
  // y = 4, z = 0, w = -1, m = INT_MIN
  const Case cases[] = {
      {"1+2*3", 7},          {"10-2+3", 11},         {"10+2-3", 9},        {"10-2-3", 5},
      {"12*6/3", 24},        {"7*3/2", 7},           {"7/2", 3},           {"-7/2", -3},
      {"-5", -5},            {"2*-3", -6},           {"-[2+3]", -5},       {"[1+2]*3", 9},
      {"[[1+2]*[3+4]]", 21}, {"[5]", 5},             {"-y", -4},           {"3-y", -1},
      {"3 - -y", 7},         {"3 + -y", -1},         {"3 * -y", -12},      {"y*y", 16},
      {"3<5", 1},            {"5<3", 0},             {"3<>3", 0},          {"3><4", 1},
      {"3>=3", 1},           {"3=>4", 0},            {"2=<3", 1},          {"4<=3", 0},
      {"5 < -y", 0},         {"-5 < -y", 1},         {"-3 > -y", 1},       {"y >= -y", 1},
      {"-4 <= -y", 1},       {"4 <> -y", 1},         {"12 and 10", 8},     {"12 or 3", 15},
      {"12 xor 10", 6},      {"5 and -y", 4},        {"1 or -y", -3},      {"-1 xor -y", 3},
      {"1 or 2 and 3", 3},   {"1+1 < 3", 1},         {"1mt", 512000},      {"0.5mt", 256000},
      {"90dg", 46080},       {"1.5dg", 768},         {"1ms", 17067},       {"1rm", 102},
      {"2.25MT", 1152000},   {"0x1F", 31},           {"0xffffffff", -1},   {"-0x10", -16},
      {"7/0", 2147483647},   {"7/z", 2147483647},    {"m/-1", -2147483647 - 1},
      {"m/w", -2147483647 - 1}, {"-2147483648/-1", -2147483647 - 1}, {"m/-w", -2147483647 - 1},
      {"9/-y", -2},          {"sum(2,3)", 5},        {"SUM(2, 3)", 5},     {"divide(7,0)", 2147483647},
      {"abs(-5)", 5},        {"absolute_value(-y)", 4}, {"sum(1+2, 3*4)", 15}, {"-sum(1,2)", -3},
      {"sum([1+2],4)", 7},   {"multiply(sum(1,2), 4)", 12}, {"sum(2,3)*2", 10}, {"subtract(y, -y)", 8},
      {"sum(sum(1,2),sum(3,sum(4,5)))", 15}, {"2*-sum(1,1)", -4}, {"sum(-[1+1],0)", -2},
  };
  for (const Case& c : cases) {
    std::string text = lines({"var x", "var y", "var z", "var w", "var m", "y = 4", "z = 0", "w = -1",
                              "m = 0x80000000", std::string("x = ") + c.expression});
    EXPECT_EQ(result_of(text), c.value) << c.expression;
  }
}

TEST_F(BrainTest, ConditionsUseEveryComparison) {
  const Case cases[] = {{"4 = 4", 1}, {"4 = 5", 0}, {"y = 4", 1}, {"y = -y", 0}, {"y < 5 and y > 3", 1},
                        {"sum(y,1) = 5", 1}, {"0", 0}, {"y - 4", 0}, {"0 - y", 1}};
  for (const Case& c : cases) {
    std::string text = lines({"var x", "var y", "y = 4", std::string("if ") + c.expression, "x = 1", "endif"});
    EXPECT_EQ(result_of(text), c.value) << c.expression;
  }
}

TEST_F(BrainTest, DeclarationsAndNames) {
  struct {
    std::string text;
    std::int32_t value;
  } cases[] = {
      // A declaration's value is for the editor; a variable may be used above its declaration.
      {lines({"x = y + 1", "var x = 99", "var y"}), 1},
      // User parameters are variables in declaration order.
      {lines({"var x", "userint speed = 3", "userdeg turn", "speed = 2", "turn = 5", "x = speed * turn"}), 10},
      // A variable named like a keyword is a variable unless followed by "(".
      {lines({"var x", "var timer", "timer = 5", "x = timer + sum(timer, 1)"}), 11},
      // Case and tabs do not matter; comments end a line, also inside quotes.
      {lines({"VAR X", "\tX\t=\t3 ; x = 4", "x = x + 1 ; \"; x = 9"}), 4},
      // A repeated declaration still takes its own slot; lookup takes the first.
      {lines({"var x", "var x", "x = 7"}), 7},
  };
  for (const auto& c : cases) EXPECT_EQ(result_of(c.text), c.value) << c.text;
  EXPECT_EQ(variable(0, 1), 0);  // the repeated declaration's own slot

  // 127 declarations compile; the last one is variable 126 at byte 516.
  std::string text;
  for (int i = 0; i < 127; ++i) text += "var v" + std::to_string(i) + "\r\n";
  text += "v126 = 42\r\n";
  ASSERT_TRUE(compile({text}));
  run(0);
  EXPECT_EQ(*reinterpret_cast<std::int32_t*>(reinterpret_cast<char*>(&record(0)) + 516), 42);
}

TEST_F(BrainTest, StringLiteralsGoToTheArena) {
  std::span<std::byte> tail = base::area(base::Area::data_arena).subspan(1000, 200);
  std::byte* first = tail.data();
  options_.literals = &tail;
  options_.base_folder = "/games/zepta/";
  ASSERT_TRUE(compile({lines({"var x", "var y", "var z", "x = \"Hello\\nWorld\"", "y = \".\\Data\"",
                              "z = sum(\"ab\", 0)"})}));
  run(0);
  auto text_at = [](std::int32_t a) { return std::string(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(a))); };
  EXPECT_EQ(static_cast<std::uint32_t>(variable(0, 0)), base::address32(first));
  EXPECT_EQ(text_at(variable(0, 0)), "Hello\nWorld");
  EXPECT_EQ(text_at(variable(0, 1)), "\\games\\zepta\\Data");
  EXPECT_EQ(text_at(variable(0, 2)), "ab");  // sum(address, 0)
  EXPECT_EQ(program_.literal_bytes, 12u + 18u + 3u);
  EXPECT_EQ(tail.data(), first + 33);
  options_.literals = nullptr;
}

// ---- Control flow --------------------------------------------------------------------

TEST_F(BrainTest, ControlFlow) {
  struct {
    std::string text;
    std::int32_t value;
  } cases[] = {
      {lines({"var x", "if 1", "x = 1", "else", "x = 2", "endif"}), 1},
      {lines({"var x", "if 0", "x = 1", "else", "x = 2", "endif"}), 2},
      {lines({"var x", "var y", "y = 3", "if y > 1", "if y > 2", "x = 32", "else", "x = 21", "endif", "else", "x = 10",
              "end if"}),
       32},
      {lines({"var x", "if 0", "if 1", "x = 5", "endif", "x = 6", "else", "x = x + 7", "endif", "x = x * 2"}), 14},
      {lines({"var x", "x = 0", "loop:", "x = x + 1", "if x < 10", "goto loop", "endif"}), 10},
      {lines({"var x", "goto skip", "x = 5", "skip:", "x = x + 1"}), 1},
      {lines({"var x", "x = 1", "gosub add", "x = x * 10", "return", "add:", "x = x + 2", "return"}), 30},
      {lines({"var x", "x = 1", "return", "x = 2"}), 1},
      // Recursion through gosub, with calls at odd and even stack depths.
      {lines({"var x", "gosub count", "return", "count:", "x = sum(x, 1)", "if x < 100", "gosub count", "endif",
              "return"}),
       100},
      // A label name of 16 characters; a label line ending in blanks pads the same.
      {lines({"var x", "goto abcdefghijklmnop", "x = 9", "abcdefghijklmnop:", "x = x + 3"}), 3},
  };
  for (const auto& c : cases) EXPECT_EQ(result_of(c.text), c.value) << c.text;
}

// A routine that reports whether the stack was 16-byte aligned when it was called.
std::int32_t misalignment(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::uint32_t) {
  alignas(16) volatile char probe[16] = {};
  return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(probe) & 15) + probe[0];
}

// Records its arguments and the running element.
struct CallLog {
  static inline std::vector<std::vector<std::int32_t>> calls;
  static std::int32_t record_call(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t e,
                                  std::uint32_t self) {
    calls.push_back({a, b, c, d, e, static_cast<std::int32_t>(self)});
    return a + b + c + d + e;
  }
};

TEST_F(BrainTest, RoutinesGetTheirArgumentsAlignedAndKeepTheElement) {
  Bound probe("any_input", misalignment);
  Bound log("play_set", CallLog::record_call);
  CallLog::calls.clear();
  std::string text = lines({"var x", "var n", "x = 0", "gosub deeper", "return", "deeper:", "n = n + 1",
                            "x = x + any_input()", "if n < 5", "gosub deeper", "endif",
                            "x = x + play_set(1, 2, 3, 4, n) - 10 - n", "return"});
  EXPECT_EQ(result_of(text), 0);
  ASSERT_EQ(CallLog::calls.size(), 5u);
  EXPECT_EQ(CallLog::calls[0], (std::vector<std::int32_t>{1, 2, 3, 4, 5, static_cast<std::int32_t>(address(0))}));
  EXPECT_EQ(CallLog::calls[4][4], 5);
}

// ---- Elements ------------------------------------------------------------------------

std::int32_t credits_of(std::int32_t e, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::uint32_t) {
  auto* table = base::area_as<ElementRecord>(base::Area::element_table);
  auto a = static_cast<std::uintptr_t>(static_cast<std::uint32_t>(e));
  auto base = reinterpret_cast<std::uintptr_t>(table);
  if (a < base || a >= base + 256 * 1024 || (a - base) % 1024) return -1;
  return reinterpret_cast<ElementRecord*>(a)->credits;
}

TEST_F(BrainTest, ElementReferences) {
  Bound credits("credits", credits_of);
  record(0).credits = 10, record(1).credits = 11, record(2).credits = 12;
  std::string text = lines({"var a", "var b", "var c", "var d", "var e", "a = element", "b = element#1",
                            "c = credits(element#2)", "d = credits(element#-1)", "e = credits(element) + 100"});
  ASSERT_TRUE(compile({text, text}));
  run(1);
  EXPECT_EQ(static_cast<std::uint32_t>(variable(1, 0)), address(1));
  EXPECT_EQ(static_cast<std::uint32_t>(variable(1, 1)), address(2));
  EXPECT_EQ(variable(1, 2), 0);  // element#2 from element 1 is record 3
  EXPECT_EQ(variable(1, 3), 10);
  EXPECT_EQ(variable(1, 4), 111);
}

TEST_F(BrainTest, IdenticalBrainsShareOneBodyWithTheirOwnVariables) {
  std::string counter = lines({"var x", "x = x + 1"});
  ASSERT_TRUE(compile({counter, lines({"var x", "x = 50"}), counter}));
  EXPECT_EQ(program_.entry[2], program_.entry[0]);
  EXPECT_EQ(program_.shares[2], 0);
  EXPECT_NE(program_.entry[1], program_.entry[0]);
  EXPECT_EQ(static_cast<std::uint32_t>(record(2).brain_entry), program_.entry[0]);
  run(0), run(0), run(2), run(1);
  EXPECT_EQ(variable(0, 0), 2);
  EXPECT_EQ(variable(2, 0), 1);
  EXPECT_EQ(variable(1, 0), 50);
}

TEST_F(BrainTest, EqualChecksumsAloneDoNotShare) {
  // The same 32-bit words in another order: equal word sums, different brains.
  std::string a = "var x\r\nx=12;=34;", b = "var x\r\nx=34;=12;";
  ASSERT_TRUE(compile({a, b}));
  EXPECT_NE(program_.entry[0], program_.entry[1]);
  run(0), run(1);
  EXPECT_EQ(variable(0, 0), 12);
  EXPECT_EQ(variable(1, 0), 34);
}

// ---- Errors ------------------------------------------------------------------------------

TEST_F(BrainTest, EveryCompileErrorInTheSystemsWording) {
  std::string many_vars, many_labels, deep_ifs, long_line = "x = 1" + std::string(2100, ' ') + "+ 1";
  for (int i = 0; i < 128; ++i) many_vars += "var v" + std::to_string(i) + "\r\n";
  for (int i = 0; i < 103; ++i) many_labels += "l" + std::to_string(i) + ":\r\n";
  for (int i = 0; i < 1024; ++i) deep_ifs += "if 1\r\n";
  struct {
    std::string text;
    std::string report;
  } cases[] = {
      {many_vars, "'ship' brain ERROR!|Too many variables defined!"},
      {"goto abcdefghijklmnopq", "'ship' brain ERROR!|goto abcdefghijklmnopq (1)|Labels can't be longer than 16 characters"},
      {"gosub abcdefghijklmnopq", "'ship' brain ERROR!|gosub abcdefghijklmnopq (1)|Labels can't be longer than 16 characters"},
      {"abcdefghijklmnopq:", "'ship' brain ERROR!|abcdefghijklmnopq: (1)|Labels can't be longer than 16 characters"},
      {"a:\r\n\r\na:", "'ship' brain ERROR!|a: (3)|Label already defined"},
      {"var x\r\nx = [1+2", "'ship' brain ERROR!|x = [1+2 (2)|Brackets nesting error!|note: the '[' at column 5 is not closed"},
      {"else", "'ship' brain ERROR!|If...endif nesting error!"},
      {"endif", "'ship' brain ERROR!|If...endif nesting error!"},
      {"if 1\r\nif 2\r\nendif", "'ship' brain ERROR!|If...endif nesting error!|note: this 'if' has no 'endif': if 1 (1)"},
      {"foo(1)", "'ship' brain ERROR!|foo(1) (1)|Unknown function/instruction 'foo'!"},
      {"var x\r\nx = (1+2)", "'ship' brain ERROR!|x = (1+2) (2)|Square brackets '[' exected but round brackets '(' found instead!"},
      {"sum(1)", "'ship' brain ERROR!|sum(1) (1)|'sum' requires 2 parameter(s)!"},
      {"any_input(1)", "'ship' brain ERROR!|any_input(1) (1)|'any_input' requires 0 parameter(s)!"},
      {"sum(1,q)", "'ship' brain ERROR!|sum(1,q) (1)|Unknown parameter 'q'!"},
      {"sum(1,)", "'ship' brain ERROR!|sum(1,) (1)|Unknown parameter ''!"},
      {"var x\r\nx = 5 + element", "'ship' brain ERROR!|x = 5 + element (2)|Variable 'element' must be left operand"},
      {"var x\r\nx = 5+", "'ship' brain ERROR!|x = 5+ (2)|Variable (or value, or function) expected: 5+"},
      {"var x\r\nx = q", "'ship' brain ERROR!|x = q (2)|Unknown symbol 'q'!"},
      {"var x\r\nx = .5mt", "'ship' brain ERROR!|x = .5mt (2)|Unknown symbol '.5mt'!"},
      {"var x\r\nx = 1.5", "'ship' brain ERROR!|x = 1.5 (2)|Unknown symbol '1.5'!"},
      {"var x\r\nx = 0x", "'ship' brain ERROR!|x = 0x (2)|Unknown symbol '0x'!"},
      {"var x\r\nx = 0xfg", "'ship' brain ERROR!|x = 0xfg (2)|Unknown symbol '0xfg'!"},
      {"var x\r\nx = @0", "'ship' brain ERROR!|x = @0 (2)|Unknown symbol '@0'!"},
      {"if -5", "'ship' brain ERROR!|if -5 (1)|Unknown symbol ''!"},
      {"var x\r\nx = -", "'ship' brain ERROR!|x = - (2)|Unknown symbol '\xD1'!"},
      {"sum(-,1)", "'ship' brain ERROR!|sum(-,1) (1)|Unknown parameter '\xD1'!"},
      {"if(1)", "'ship' brain ERROR!|if(1) (1)|Unknown function/instruction 'if'!"},
      {"var x\r\nx = element#0", "'ship' brain ERROR!|x = element#0 (2)|Unknown symbol 'element#0'!"},
      {"var elementx\r\nelementx = 1", "'ship' brain ERROR!|elementx = 1 (2)|Unknown symbol 'elementx'!|note: a name that begins with 'element' is read as an element reference: rename it"},
      {"user deg a\r\na = 1", "'ship' brain ERROR!|user deg a (1)|Unknown symbol 'userdega'!"},
      {"5 = 3", "'ship' brain ERROR!|5 = 3 (1)|Variable expected on the left of '=': 5"},
      {"goto nowhere", "'ship' brain ERROR!|goto nowhere (1)|Label 'nowhere' not defined!"},
      {"loop:\r\ngoto  loop", "'ship' brain ERROR!|goto  loop (2)|Label ' loop' not defined!"},
      {"x:\r\ngosub y", "'ship' brain ERROR!|gosub y (2)|Label 'y' not defined!"},
      {many_labels, "'ship' brain ERROR!|l102: (103)|Too many labels (at most 102)!"},
      {deep_ifs, "'ship' brain ERROR!|if 1 (1024)|If...endif nesting too deep!"},
      {long_line, "'ship' brain ERROR!|x = 1" + std::string(55, ' ') + " (1)|Line too long (more than 2044 characters)!"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(compile({c.text})) << c.text;
    ASSERT_EQ(errors_.texts.size(), 1u) << c.text;
    EXPECT_EQ(errors_.texts[0], c.report) << c.text;
    EXPECT_TRUE(program_.brain_failed);
  }

  brain::BrainSource missing{"ship", "brains/sub/nofile.brn"};
  EXPECT_FALSE(compile_sources({missing}));
  EXPECT_EQ(errors_.texts, std::vector<std::string>{"'ship' brain ERROR!|Brain not found (nofile.brn)!"});
}

// The panel echoes the line as written, and a note follows where a common
// mistake is likely; the message itself keeps its wording.
TEST_F(BrainTest, ErrorsEchoTheLineAsWrittenAndNoteTheLikelyMistake) {
  struct {
    std::string text;
    std::string report;
  } cases[] = {
      {"print(\"Hello World\", 20, 20)", "'ship' brain ERROR!|print(\"Hello World\", 20, 20) (1)|'print' requires 4 parameter(s)!"},
      {"X = Keyboard(\"a\")\t; the a key", "'ship' brain ERROR!|X = Keyboard(\"a\") (1)|Unknown symbol 'x'!"},
      {"print(\"hi, 1, 2, 0)", "'ship' brain ERROR!|print(\"hi, 1, 2, 0) (1)|Brackets nesting error!|note: the '(' at column 6 is not closed"},
      {"var x\r\n  x = sum(1,[2)]", "'ship' brain ERROR!|x = sum(1,[2)] (2)|Brackets nesting error!|note: the ')' at column 15 does not close the '[' at column 13"},
      {"var x\r\nx = 1]", "'ship' brain ERROR!|x = 1] (2)|Brackets nesting error!|note: the ']' at column 6 closes no bracket"},
      {"var x\r\nx = 1\r\nif x > 1\r\nx = 2", "'ship' brain ERROR!|If...endif nesting error!|note: this 'if' has no 'endif': if x > 1 (3)"},
      {"if 1\r\nelse\r\nif 2\r\nendif", "'ship' brain ERROR!|If...endif nesting error!|note: this 'else' has no 'endif': else (2)"},
      {"var x\r\nif x > 1 then\r\nendif", "'ship' brain ERROR!|if x > 1 then (2)|Unknown symbol '1then'!|note: 'then' is not needed: an 'if' line holds only its condition, the lines up to 'endif' follow"},
      {"var i\r\nwhile i < 5", "'ship' brain ERROR!|while i < 5 (2)|Unknown symbol 'whilei'!|note: there is no 'while': loop with a label, 'if' and 'goto'"},
      {"var x\r\nx = sin(30)", "'ship' brain ERROR!|x = sin(30) (2)|Unknown function/instruction 'sin'!|note: did you mean 'sin_512'?"},
      {"prnt(\"a\", 1, 2, 0)", "'ship' brain ERROR!|prnt(\"a\", 1, 2, 0) (1)|Unknown function/instruction 'prnt'!|note: did you mean 'print'?"},
      {"var x\r\nx = timer", "'ship' brain ERROR!|x = timer (2)|Unknown symbol 'timer'!|note: 'timer' is a keyword: call it as timer(a)"},
      {"var count\r\ncount = cuont + 1", "'ship' brain ERROR!|count = cuont + 1 (2)|Unknown symbol 'cuont'!|note: did you mean 'count'?"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(compile({c.text})) << c.text;
    ASSERT_EQ(errors_.texts.size(), 1u) << c.text;
    EXPECT_EQ(errors_.texts[0], c.report) << c.text;
  }
}

// Editors that write a UTF-8 byte-order mark put it before the first line.
TEST_F(BrainTest, AByteOrderMarkIsSkipped) {
  EXPECT_EQ(result_of("\xEF\xBB\xBFvar x\r\nx = 5"), 5);
  EXPECT_FALSE(compile({"\xEF\xBB\xBF\r\nq"}));
  EXPECT_EQ(errors_.texts, std::vector<std::string>{"'ship' brain ERROR!|q (2)|Unknown symbol 'q'!"});
}

TEST_F(BrainTest, LfLineEndsCompileAsCrLf) {
  std::string counts = lines({"; counts to five", "var n", "var m", "top:", "n = n + 1", "if n < 5", "goto top", "endif", "m = n * 2"});
  std::string fails = lines({"var n", "n = 1", "n = nonsense"});
  auto lf = [](std::string text) {
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
  };
  auto cut = [](std::string text) { return text.substr(0, text.find_last_not_of("\r\n") + 1); };
  char folder[] = "/tmp/zepta_brain_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string path = std::string(folder) + "/b.brn";
  from_disk_ = true;
  for (const std::string& text : {counts, lf(counts), cut(counts), cut(lf(counts))}) {
    std::ofstream(path, std::ios::binary) << text;
    ASSERT_TRUE(compile_sources({{"ship", path}})) << text;
    std::memset(&record(0), 0, sizeof(ElementRecord));
    record(0).brain_entry = static_cast<std::int32_t>(program_.entry[0]);
    ASSERT_EQ(run(0).status, brain::RunStatus::ok);
    EXPECT_EQ(variable(0, 0), 5) << text;
    EXPECT_EQ(variable(0, 1), 10) << text;
  }
  for (const std::string& text : {fails, lf(fails), cut(fails), cut(lf(fails))}) {
    std::ofstream(path, std::ios::binary) << text;
    EXPECT_FALSE(compile_sources({{"ship", path}})) << text;
    EXPECT_EQ(errors_.texts, std::vector<std::string>{"'ship' brain ERROR!|n = nonsense (3)|Unknown symbol 'nonsense'!"});
  }
  from_disk_ = false;
  std::remove(path.c_str());
  rmdir(folder);
}

TEST_F(BrainTest, BufferLimitsFailCleanly) {
  std::string big = "var x\r\n";
  for (int i = 0; i < 30000; ++i) big += "x = sum(x, 1)\r\n";
  EXPECT_FALSE(compile({big}));
  ASSERT_EQ(errors_.texts.size(), 1u);
  EXPECT_NE(errors_.texts[0].find("|Brain code buffer full (522240 bytes)!"), std::string::npos) << errors_.texts[0];

  std::span<std::byte> tail = base::area(base::Area::data_arena).subspan(0, 8);
  options_.literals = &tail;
  EXPECT_FALSE(compile({"var x\r\nx = \"abcdefghijkl\""}));
  EXPECT_EQ(errors_.texts, std::vector<std::string>{"'ship' brain ERROR!|x = \"abcdefghijkl\" (2)|String data area full!"});
  options_.literals = nullptr;
}

TEST_F(BrainTest, AFailedBrainRunsAsASingleReturn) {
  std::string good = lines({"var x", "x = 7"});
  ASSERT_FALSE(compile({good, lines({"var x", "x = 3", "x = nonsense"}), good}));
  EXPECT_EQ(errors_.texts.size(), 1u);
  EXPECT_EQ(*reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(program_.entry[1])), 0xC3);
  run(0), run(1), run(2);
  EXPECT_EQ(variable(0, 0), 7);
  EXPECT_EQ(variable(1, 0), 0);  // nothing ran
  EXPECT_EQ(program_.entry[2], program_.entry[0]);
  // The next brain overwrote the failed code just after the single return.
  EXPECT_EQ(program_.code_bytes, program_.entry[1] + 1 - program_.entry[0]);
}

// ---- Runaway brains ---------------------------------------------------------------------

TEST_F(BrainTest, RunawayBrainsStopWithAnErrorNamingTheElement) {
  struct {
    std::string text;
    brain::RunStatus status;
    std::string report;
  } cases[] = {
      {lines({"var x", "loop:", "x = x + 1", "goto loop"}), brain::RunStatus::endless_loop,
       "'ship' brain ERROR!|Endless loop: more than 1000000 jumps back in one tick"},
      {lines({"deeper:", "gosub deeper"}), brain::RunStatus::too_deep,
       "'ship' brain ERROR!|Gosub nesting too deep (more than 1024)"},
      // Forward gosubs only, but 2^40 calls: the budget stops it too.
      {[] {
         std::string t;
         for (int i = 0; i < 40; ++i) t += "l" + std::to_string(i) + ":\r\ngosub l" + std::to_string(i + 1) + "\r\ngosub l" + std::to_string(i + 1) + "\r\nreturn\r\n";
         return t + "l40:\r\nreturn\r\n";
       }(),
       brain::RunStatus::endless_loop, "'ship' brain ERROR!|Endless loop: more than 1000000 jumps back in one tick"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(compile({c.text, lines({"var x", "x = x + 1"})})) << c.text;
    for (int tick = 0; tick < 2; ++tick) {
      errors_.texts.clear();
      brain::RunResult r = run(0);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.value, 0);
      EXPECT_EQ(errors_.texts, std::vector<std::string>{c.report});
      // The engine goes on: another element's brain runs normally after it.
      EXPECT_EQ(run(1).status, brain::RunStatus::ok);
      EXPECT_EQ(variable(1, 0), tick + 1);
    }
    variable(1, 0) = 0;
  }
}

// A stopped run and a failed compile tell their brain line: the jump or gosub
// that stopped it, the line that did not compile.
TEST_F(BrainTest, FaultsTellTheirLine) {
  struct Seen {
    std::vector<std::pair<int, int>> faults;  // element, line
    static void fault(void* self, const brain::BrainFault& f) {
      static_cast<Seen*>(self)->faults.emplace_back(f.element, f.running ? f.line : -f.line);
    }
  } seen;
  std::vector<std::string> texts = {lines({"var x", "loop:", "", "x = x + 1", "goto loop"}),
                                    lines({"; deep", "deeper:", "gosub deeper"}), lines({"var y", "", "y = q"})};
  auto sources = brains_.sources(texts, "ship");
  brain::CompileOptions options;
  brains_.serve(options);
  options.errors = {[](void*, std::string_view) {}, &seen, Seen::fault};
  EXPECT_FALSE(brain::compile_project(sources, options, program_));
  EXPECT_EQ(seen.faults, (std::vector<std::pair<int, int>>{{2, -3}}));
  for (int element : {0, 1}) brain::run_element(program_, element, "ship", options.errors);
  EXPECT_EQ(seen.faults, (std::vector<std::pair<int, int>>{{2, -3}, {0, 5}, {1, 3}}));
}

// Past the low-water mark of the code area the compile warns once, with the
// bytes left, and goes on.
TEST_F(BrainTest, ANearlyFullCodeAreaWarnsOnceAndGoesOn) {
  struct Seen {
    std::vector<std::pair<std::int32_t, std::string>> warnings;
    static void warn(void* self, std::int32_t value, std::string_view text) {
      static_cast<Seen*>(self)->warnings.emplace_back(value, std::string(text));
    }
  };
  auto compile_lines = [&](int count, Seen& seen) {
    std::string text = "var x\r\n";
    for (int i = 0; i < count; ++i) text += "x = 12345\r\n";
    std::vector<std::string> texts = {text};
    auto sources = brains_.sources(texts, "ship");
    brain::CompileOptions options;
    brains_.serve(options);
    options.errors = {[](void*, std::string_view) {}, &seen, nullptr, Seen::warn};
    return brain::compile_project(sources, options, program_);
  };
  Seen few;
  ASSERT_TRUE(compile_lines(1000, few));
  EXPECT_TRUE(few.warnings.empty());
  double per_line = program_.code_bytes / 1000.0;
  int many = static_cast<int>((brain::kCodeLimit - brain::kMaxElements - brain::kCodeLowWater / 2) / per_line);
  Seen seen;
  ASSERT_TRUE(compile_lines(many, seen));
  ASSERT_EQ(seen.warnings.size(), 1u);
  EXPECT_EQ(seen.warnings[0].second, "Warning! Expression parser memory low.");
  EXPECT_GT(seen.warnings[0].first, 0);
  EXPECT_LT(seen.warnings[0].first, static_cast<std::int32_t>(brain::kCodeLowWater));
}

// `execute`: a brain that runs another brain, nested.
std::int32_t execute_probe(std::int32_t e, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::uint32_t) {
  auto* r = reinterpret_cast<ElementRecord*>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(e)));
  return brain::run(static_cast<std::uint32_t>(r->brain_entry), static_cast<std::uint32_t>(e)).value;
}

TEST_F(BrainTest, NestedRunsShareTheBudgetAndStopAtTheirDepth) {
  Bound execute("execute", execute_probe);
  // Element 0 runs itself: the nesting stops at kRunDepth and every level returns.
  ASSERT_TRUE(compile({lines({"var x", "x = x + 1", "execute(element)", "x"}),
                       lines({"var x", "x = 5", "x = execute(element#1) + x", "x"}),
                       lines({"loop:", "goto loop"})}));
  brain::RunResult r = run(0);
  EXPECT_EQ(r.status, brain::RunStatus::ok);
  EXPECT_EQ(variable(0, 0), brain::kRunDepth);
  // Element 1 runs element 2, which never ends: the budget they share is spent,
  // so element 1's run ends as an endless loop too (it finishes its lines with
  // 0 from element 2, and leaves 0).
  r = run(1);
  EXPECT_EQ(r.status, brain::RunStatus::endless_loop);
  EXPECT_EQ(variable(1, 0), 5);
  EXPECT_EQ(r.value, 0);
}

TEST_F(BrainTest, NestedRunsSpendTheBudget) {
  Bound execute("execute", execute_probe);
  // Four `execute` lines kRunDepth deep would start 4^16 runs: each entry spends
  // kNestedRunCost units, so exactly kJumpBudget / kNestedRunCost nested runs
  // start, then every `execute` returns 0 at once, the levels still running
  // finish their lines, and the run ends as an endless loop.
  ASSERT_TRUE(compile({lines({"var x", "x = x + 1", "execute(element)", "execute(element)", "execute(element)",
                              "execute(element)"}),
                       // A loop that runs another brain on each turn keeps its result.
                       lines({"var i", "var x", "again:", "i = i + 1", "x = x + execute(element#1)", "if i < 1000",
                              "goto again", "endif", "x"}),
                       lines({"7"})}));
  test_support::Watchdog watchdog("4^16 nested runs", 300);
  for (int tick = 0; tick < 2; ++tick) {
    variable(0, 0) = 0;
    EXPECT_EQ(run(0).status, brain::RunStatus::endless_loop);
    EXPECT_EQ(variable(0, 0), brain::kJumpBudget / brain::kNestedRunCost + 1);
  }
  EXPECT_EQ(run(1).value, 7000);  // 1,000 runs and jumps back are well within the budget
}

TEST_F(BrainTest, OverwrittenCodeEntryRunsNothing) {
  ASSERT_TRUE(compile({lines({"var x", "x = 1"})}));
  record(0).brain_entry = static_cast<std::int32_t>(program_.entry[0] + 3);
  EXPECT_EQ(run(0).status, brain::RunStatus::not_runnable);
  EXPECT_EQ(variable(0, 0), 0);
  EXPECT_EQ(brain::run(0x1234, address(0)).status, brain::RunStatus::not_runnable);
  // Not even through a direct run, as `execute` does: inside a body is no entry.
  EXPECT_EQ(brain::run(program_.entry[0] + 1, address(0)).status, brain::RunStatus::not_runnable);
  EXPECT_EQ(brain::run(program_.entry[0], address(0)).status, brain::RunStatus::ok);
  EXPECT_EQ(variable(0, 0), 1);
}

// ---- Memory protection -------------------------------------------------------------------

std::string protection_of(const void* p) {
  std::ifstream maps("/proc/self/maps");
  auto a = reinterpret_cast<std::uintptr_t>(p);
  std::string line;
  while (std::getline(maps, line)) {
    unsigned long from, to;
    char perms[8];
    if (std::sscanf(line.c_str(), "%lx-%lx %7s", &from, &to, perms) == 3 && a >= from && a < to) return perms;
  }
  return "";
}

TEST_F(BrainTest, CodeIsWritableWhileCompilingAndExecutableWhileRunning) {
  static std::string seen_while_compiling;
  auto* code = base::area(base::Area::brain_code).data();
  options_.read = [](void*, std::string_view, std::string& bytes) {
    seen_while_compiling = protection_of(base::area(base::Area::brain_code).data());
    bytes = "var x\r\nx = 1";
    return true;
  };
  brain::BrainSource source{"ship", "any"};
  ASSERT_TRUE(brain::compile_project(std::span(&source, 1), options_, program_));
  EXPECT_EQ(seen_while_compiling, "rw-p");
  EXPECT_EQ(protection_of(code), "r-xp");
  EXPECT_EQ(protection_of(code + 524288 + 600), "r-xp");  // the thunks
}

// ---- Editor pass and flags ---------------------------------------------------------------

TEST_F(BrainTest, EditorPassCompilesOnlyMarkedCalls) {
  Bound log("play_set", CallLog::record_call);
  CallLog::calls.clear();
  std::string text = lines({"var x", "x = 5", "play_set(1,0,0,0,0) editor", "play_set(2,0,0,0,0)", "if 0",
                            "play_set(3, 0, 0, 0, 0) editor", "endif", "goto nowhere", "bogus(1) editor",
                            "play_set(x,1,1) editor", "play_set(x, element, 0, 0, 4) editor", "return",
                            "play_set(6,0,0,0,0) editor"});
  ASSERT_TRUE(compile({text}, true));
  run(0);
  ASSERT_EQ(CallLog::calls.size(), 4u);
  EXPECT_EQ(CallLog::calls[0][0], 1);
  EXPECT_EQ(CallLog::calls[1][0], 3);
  EXPECT_EQ(CallLog::calls[2], (std::vector<std::int32_t>{0, static_cast<std::int32_t>(address(0)), 0, 0, 4,
                                                          static_cast<std::int32_t>(address(0))}));
  EXPECT_EQ(CallLog::calls[3][0], 6);
  EXPECT_EQ(variable(0, 0), 0);

  // Outside the editor pass the marker is dropped.
  CallLog::calls.clear();
  ASSERT_TRUE(compile({lines({"play_set(7,0,0,0,0) editor"})}));
  run(0);
  ASSERT_EQ(CallLog::calls.size(), 1u);
  EXPECT_FALSE(program_.picking);
  ASSERT_TRUE(compile({lines({"visual_picked(element)"})}));
  EXPECT_TRUE(program_.picking);
}

// ---- Operand reader and checks ------------------------------------------------------------

TEST(BrainOperand, UserParameterValues) {
  struct {
    const char* text;
    bool ok;
    std::int32_t value;
  } cases[] = {{"5", true, 5},          {"-2", true, -2},        {"1.5mt", true, 768000}, {"0x10", true, 16},
               {" 90DG ", true, 46080}, {"element#3", false, 0}, {"abc", false, 0},      {"\"s\"", false, 0},
               {"", false, 0},          {"5x", false, 0},        {"-", false, 0}};
  for (const auto& c : cases) {
    std::int32_t v = 99;
    EXPECT_EQ(brain::read_operand(c.text, &v, nullptr), c.ok) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
}

TEST(BrainCheck, ReportsEachFailingFileWithItsLine) {
  ASSERT_TRUE(base::reserve_budget());
  std::string dir = ::testing::TempDir();
  std::string good = dir + "good.brn", bad = dir + "bad.brn", missing = dir + "missing.brn";
  std::ofstream(good, std::ios::binary) << lines({"var x", "x = 1"});
  std::ofstream(bad, std::ios::binary) << lines({"var x", "", "x = y"});
  std::FILE* out = std::tmpfile();
  std::string_view both[] = {good, bad, missing};
  EXPECT_EQ(brain::check_files(std::span(both, 1), out), 0);
  EXPECT_EQ(brain::check_files(both, out), 1);
  std::rewind(out);
  char buffer[1024] = {};
  std::fread(buffer, 1, sizeof buffer - 1, out);
  std::fclose(out);
  EXPECT_EQ(std::string(buffer),
            bad + ":3: Unknown symbol 'y'!\n    x = y\n" + dir + "missing.brn: Brain not found (missing.brn)!\n");
}

// --check echoes the line as written and puts a note after it; a note about
// another line names that line and echoes it.
TEST(BrainCheck, NotesFollowTheMessage) {
  ASSERT_TRUE(base::reserve_budget());
  std::string dir = ::testing::TempDir();
  std::string open = dir + "open.brn", sine = dir + "sine.brn";
  std::ofstream(open, std::ios::binary) << lines({"var x", "If x > 1", "x = 2"});
  std::ofstream(sine, std::ios::binary) << lines({"var x", "print(\"Angle\", 10, 10, 0)", "x = SIN(30)"});
  std::FILE* out = std::tmpfile();
  std::string_view both[] = {open, sine};
  EXPECT_EQ(brain::check_files(both, out), 1);
  std::rewind(out);
  char buffer[1024] = {};
  std::fread(buffer, 1, sizeof buffer - 1, out);
  std::fclose(out);
  EXPECT_EQ(std::string(buffer), open + ": If...endif nesting error!\n" + open + ":2: note: this 'if' has no 'endif'\n    If x > 1\n" +
                                     sine + ":3: Unknown function/instruction 'sin'!\n    x = SIN(30)\n" + sine +
                                     ":3: note: did you mean 'sin_512'?\n");
}

// A text checked from memory (the brain editor's F2) is told exactly as
// --check tells the same text in a file, with the first error's line.
TEST(BrainCheck, ATextIsToldAsItsFileWouldBe) {
  ASSERT_TRUE(base::reserve_budget());
  std::string dir = ::testing::TempDir();
  struct Case {
    std::string text;
    int line;  // of the first error; 0: none, -1: compiles
  } cases[] = {
      {lines({"var x", "x = 1"}), -1},
      {lines({"var x", "", "x = y"}), 3},
      {lines({"var x", "If x > 1", "x = 2"}), 0},
      {lines({"var x", "x = SIN(30)"}), 2},
  };
  for (const Case& c : cases) {
    std::string file = dir + "text.brn";
    std::ofstream(file, std::ios::binary) << c.text;
    std::FILE* out = std::tmpfile();
    std::string_view one[] = {file};
    brain::check_files(one, out);
    std::rewind(out);
    char buffer[1024] = {};
    std::fread(buffer, 1, sizeof buffer - 1, out);
    std::fclose(out);
    brain::BrainError error;
    std::string report = "stale";
    EXPECT_EQ(brain::check_text(file, c.text, &error, &report), c.line < 0) << c.text;
    EXPECT_EQ(report, std::string(buffer)) << c.text;
    if (c.line >= 0) {
      EXPECT_EQ(error.line_number, c.line) << c.text;
    }
  }
}

}  // namespace
