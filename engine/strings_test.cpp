// Strings, arrays and boxes of brains, run from compiled brains and called
// directly: texts cut to their blocks, array views and bounds, the handle
// table's slots and heap, array files inside the working folder, the runtime
// errors, and what the boxes read and write. A random run of the routines
// closes it: under AddressSanitizer no call reaches outside its block.
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/test_support.h"
#include "base/files.h"

namespace {

using namespace engine_test;
using I = std::int32_t;

// What the boxes were asked and what they answer.
struct Boxes {
  std::vector<std::string> shown;  // errors, messages, prompts
  I message_answer = 1;
  bool input_ok = true;
  std::string typed;               // the input box's text on OK
  int input_max = -1;
  std::vector<std::string> items;  // of the last list box
  I list_selection = -2;
  I list_answer = -1;
};

class StringTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    dialogs_.user = &boxes_;
    dialogs_.runtime_error = [](void* u, std::string_view m) { static_cast<Boxes*>(u)->shown.emplace_back(m); };
    dialogs_.message = [](void* u, std::string_view text, std::string_view, I buttons, I icon) {
      auto& b = *static_cast<Boxes*>(u);
      b.shown.push_back(std::string(text) + " " + std::to_string(buttons) + " " + std::to_string(icon));
      return b.message_answer;
    };
    dialogs_.input = [](void* u, std::string_view prompt, std::string_view, I, std::string& text, int max) {
      auto& b = *static_cast<Boxes*>(u);
      b.shown.push_back(std::string(prompt) + ":" + text);
      b.input_max = max;
      if (b.input_ok) text = b.typed;
      return b.input_ok;
    };
    dialogs_.list = [](void* u, std::string_view, std::string_view, I, std::span<const std::string> items, I selection) {
      auto& b = *static_cast<Boxes*>(u);
      b.items.assign(items.begin(), items.end());
      b.list_selection = selection;
      return b.list_answer;
    };
    world_->dialogs = &dialogs_;
    char name[] = "/tmp/zepta_strings_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = std::string(name) + "/";
    world_->base_folder = base::Text(folder_);
  }
  void TearDown() override {
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
    EngineTest::TearDown();
  }

  // A routine called as compiled code calls it.
  static I call(const char* name, I a = 0, I b = 0, I c = 0, I d = 0, I e = 0) {
    return brain::routine_of(brain::find_keyword(name))(a, b, c, d, e, 0);
  }
  // The text of a handle, up to its first zero.
  std::string text(I handle) {
    std::span<std::byte> block = engine::handle_block(*world_, handle);
    const char* p = reinterpret_cast<const char*>(block.data());
    return std::string(p, strnlen(p, block.size()));
  }
  // Runs statements after "s = str_create(8)"; gives r and the text of s.
  std::pair<I, std::string> run_text(const std::string& statements) {
    engine::reset_handles(*world_);
    std::memset(&record(0), 0, sizeof(ElementRecord));
    compile({lines({"var s", "var r", "var t", "s = str_create(8)", "t = str_create(20)", statements})});
    engine::brain_pass(*world_);
    return {variable(0, 1), text(variable(0, 0))};
  }

  Boxes boxes_;
  engine::Dialogs dialogs_;
  std::string folder_;
};

TEST_F(StringTest, StringRoutines) {
  struct Case {
    const char* statements;
    I r;
    const char* s;  // the text of s (capacity 8)
  } cases[] = {
      {"r = str_copy(s, \"hello\", 0, -1)", 5, "hello"},
      {"r = str_copy(s, \"hello world\", 6, 100)", 5, "world"},
      {"r = str_copy(s, \"hello\", 10, 5)", 0, ""},
      {"r = str_copy(s, \"hello\", 5, 1)", 0, ""},
      {"r = str_copy(s, \"hello\", -1, 2)", 0, ""},
      {"r = str_copy(s, \"hello\", 1, 0)", 0, ""},
      {"r = str_copy(s, \"abcdefghijkl\", 0, -1)", 8, "abcdefgh"},  // cut to the capacity
      {"r = str_copy(s, \"abcdefghijkl\", 2, 3)", 3, "cde"},
      {"str_copy(s, \"abcdef\", 0, -1)", 0, "abcdef"},
      {"str_copy(s, \"abcdef\", 0, -1)\r\nr = str_copy(s, s, 2, -1)", 6, "abcdef"},
      {"str_copy(s, \"abcdef\", 0, -1)\r\nr = str_copy(s, s, 2, 2)", 2, "cd"},  // from itself
      {"str_copy(s, \"abc\", 0, -1)\r\nstr_add(s, \"defghijk\")", 0, "abcdefgh"},
      {"str_copy(s, \"abcd\", 0, -1)\r\nstr_add(s, s)", 0, "abcdabcd"},
      {"str_add(s, 77)", 0, ""},  // neither a handle with a block nor a literal: empty
      {"str_chr(s, 321)", 0, "A"},
      {"str_chr(s, 0)", 0, ""},
      {"str_num(s, 12345, 2)", 0, "123.45"},
      {"str_num(s, -5, 1)", 0, "-0.5"},
      {"str_num(s, 42, 0)", 0, "42"},
      {"str_num(s, 7, -3)", 0, "7"},
      {"str_num(s, 123456789, 3)", 0, "123456.7"},  // "123456.789" cut to 8
      {"str_num(s, 0 - 2147483647 - 1, 0)", 0, "-2147483"},
      {"str_copy(t, \"3.5\", 0, -1)\r\nr = str_len(t)", 3, ""},
      {"r = str_len(\"hello\")", 5, ""},
      {"r = str_len(4000)", 0, ""},
      {"r = str_comp(\"Abc\", \"aBC\", 0)", 0, ""},
      {"r = str_comp(\"Abc\", \"aBC\", 1)", -1, ""},
      {"r = str_comp(\"abd\", \"abc\", 1)", 1, ""},
      {"r = str_comp(\"ab\", \"abc\", 0)", -1, ""},
      {"r = str_comp(\"\xe9\", \"a\", 1)", 1, ""},  // unsigned bytes
      {"r = str_comp(s, \"\", 1)", 0, ""},
      {"r = str_comp(4000, \"x\", 1)", 0, ""},  // an empty slot
      {"r = str_val(\"010\")", 8, ""},
      {"r = str_val(\"0x1F\")", 31, ""},
      {"r = str_val(\"  -42xyz\")", -42, ""},
      {"r = str_val(\"junk\")", 0, ""},
      {"r = str_val(\"08\")", 0, ""},
      {"r = str_val(\"0xFFFFFFFF\")", INT_MAX, ""},
      {"r = str_val(\"-99999999999\")", INT_MIN, ""},
      {"str_num(t, 250, 0)\r\nr = str_val(t)", 250, ""},
  };
  for (const Case& c : cases) {
    auto [r, s] = run_text(c.statements);
    EXPECT_EQ(r, c.r) << c.statements;
    EXPECT_EQ(s, c.s) << c.statements;
  }
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(world_->exit_request, -1);
}

TEST_F(StringTest, TextsGoToAndFromTheTypedTextBuffer) {
  run_text("str_input_set(\"typed\")\r\nstr_input(s)\r\nstr_input(4000)\r\nstr_input(\"literal\")");
  EXPECT_EQ(text(variable(0, 0)), "typed");
  EXPECT_STREQ(input_->typed.text, "typed");
  EXPECT_EQ(input_->typed.length, 5);
  run_text("str_input_set(\"a much longer text\")\r\nstr_input(s)");
  EXPECT_EQ(text(variable(0, 0)), "a much l");
}

// The slot rules: the lowest empty slot below the high-water mark, else the mark.
TEST_F(StringTest, HandlesAreTakenAgainAfterKill) {
  EXPECT_EQ(call("str_create", 5), 0);
  EXPECT_EQ(call("a_create", 10), 1);
  EXPECT_EQ(call("str_create", 0), 2);
  EXPECT_EQ(call("a_size", 0), 6);
  EXPECT_EQ(call("a_size", 1), 40);
  EXPECT_EQ(call("a_size", 2), 1);
  call("str_kill", 2);  // the highest: the mark drops to 2
  EXPECT_EQ(call("str_create", 3), 2);
  call("a_kill", 0);
  EXPECT_EQ(call("a_size", 0), 0);
  EXPECT_EQ(call("str_create", 1), 0);
  call("str_kill", 1);
  call("str_kill", 2);  // the mark drops to 2 only: slot 1 stays below it
  EXPECT_EQ(call("str_create", 1), 1);
  EXPECT_EQ(call("str_create", 1), 2);
  EXPECT_EQ(call("str_create", 1), 3);
  for (I bad : {-1, 8192, INT_MIN, INT_MAX, 4000}) {
    EXPECT_EQ(call("a_size", bad), 0) << bad;
    call("str_kill", bad);
  }
  EXPECT_EQ(call("str_create", -1), -1);
  EXPECT_EQ(call("a_create", -1), -1);
  EXPECT_EQ(call("a_create", INT_MAX), -1);  // 4n would wrap in 32 bits
  EXPECT_EQ(call("str_create", INT_MAX), -1);
  EXPECT_EQ(world_->handles.high_water, 4);
}

TEST_F(StringTest, TheTableHolds8192Handles) {
  for (I h = 0; h < engine::kHandles; ++h) ASSERT_EQ(call("str_create", 3), h);
  EXPECT_EQ(call("str_create", 3), -1);
  EXPECT_EQ(call("a_create", 1), -1);
  call("str_kill", 4321);
  EXPECT_EQ(call("a_create", 1), 4321);
  EXPECT_EQ(call("a_size", 4321), 4);
}

// Killed blocks leave holes; a block that finds no room above the highest one
// moves the live blocks down first, and they keep their contents.
TEST_F(StringTest, TheHeapIsReusedWhileEnoughIsFree) {
  const I quarter = static_cast<I>(engine::kHandleHeapBytes / 16);  // cells of a quarter of the heap
  I a = call("a_create", quarter), b = call("a_create", quarter), c = call("a_create", quarter);
  ASSERT_EQ(c, 2);
  call("a_set", b, 0, 11);
  call("a_set", b, quarter - 1, 12);
  call("a_set", c, 5, 13);
  EXPECT_EQ(call("a_create", 2 * quarter), -1);  // a quarter is left
  call("a_kill", a);
  I d = call("a_create", 2 * quarter);  // half is free, in two holes
  EXPECT_EQ(d, 0);
  EXPECT_EQ(call("a", b, 0), 11);
  EXPECT_EQ(call("a", b, quarter - 1), 12);
  EXPECT_EQ(call("a", c, 5), 13);
  EXPECT_EQ(call("a", d, 2 * quarter - 1), 0);  // zero-filled
  EXPECT_EQ(call("a_create", 1), -1);
  // Many small blocks churned through the whole heap.
  call("a_kill", d);
  std::mt19937 random(7);
  std::vector<I> live;
  for (int i = 0; i < 20000; ++i) {
    if (live.size() > 100 || (!live.empty() && random() % 2)) {
      std::size_t k = random() % live.size();
      EXPECT_EQ(call("a", live[k], 0), live[k]);
      call("a_kill", live[k]);
      live.erase(live.begin() + static_cast<long>(k));
    } else {
      I h = call("a_create", static_cast<I>(random() % (quarter / 64)) + 1);
      ASSERT_GE(h, 0) << i;
      call("a_set", h, 0, h);
      live.push_back(h);
    }
  }
}

TEST_F(StringTest, ArrayViewsAndBounds) {
  I h = call("a_create", 10);
  call("a_set", h, 0, 0x12345678);
  struct Case {
    const char* keyword;
    I index;
    I value;
  } reads[] = {
      {"a", 0, 0x12345678},    {"a_dword", 0, 0x12345678}, {"a_byte", 0, 0x78}, {"a_byte", 3, 0x12},
      {"a_word", 0, 0x5678},   {"a_word", 1, 0x1234},      {"a", -1, 0},        {"a", 10, 0},
      {"a_byte", 40, 0},       {"a_byte", -1, 0},          {"a_word", 20, 0},   {"a_dword", 10, 0},
      {"a", INT_MIN, 0},       {"a_word", INT_MAX, 0},
  };
  for (const Case& c : reads) EXPECT_EQ(call(c.keyword, h, c.index), c.value) << c.keyword << " " << c.index;
  call("a_byte_set", h, 4, 0x1FF);
  call("a_word_set", h, 3, 0xABCDE);
  EXPECT_EQ(call("a", h, 1), static_cast<I>(0xBCDE00FF));
  call("a_set", h, 9, -7);
  call("a_dword_set", h, 8, 8);
  for (I i : {-1, 10, INT_MAX, INT_MIN}) call("a_set", h, i, 99);
  for (I i : {-1, 40}) call("a_byte_set", h, i, 99);
  call("a_word_set", h, 20, 99);
  EXPECT_EQ(call("a", h, 9), -7);
  EXPECT_EQ(call("a", h, 8), 8);
  // Rows of 3 cells: (x, y) is cell 3y + x.
  call("a2_set", h, 2, 1, 3, 55);
  EXPECT_EQ(call("a", h, 5), 55);
  EXPECT_EQ(call("a2", h, 2, 1, 3), 55);
  EXPECT_EQ(call("a2", h, 0, 4, 3), 0);             // cell 12
  call("a2_set", h, 1, INT_MAX, INT_MAX, 9);        // far outside, in 64 bits
  EXPECT_EQ(call("a2", h, -1, 1, 1), 0x12345678);  // cell 0
  // A string block is bytes as well.
  I s = call("str_create", 3);
  call("a_byte_set", s, 0, 'h');
  call("a_byte_set", s, 1, 'i');
  EXPECT_EQ(text(s), "hi");
  EXPECT_EQ(call("a", s, 0), static_cast<I>('h' | 'i' << 8));
  EXPECT_EQ(call("a", s, 1), 0);  // bytes 4..7 pass the 4-byte block
  for (I bad : {-1, 8192, 4000})
    for (const char* k : {"a", "a_byte", "a_word", "a_dword"}) EXPECT_EQ(call(k, bad, 0), 0) << k << " " << bad;
}

TEST_F(StringTest, CopyInterpolateAndSortGlobals) {
  I h = call("a_create", 10);
  for (I i = 0; i < 10; ++i) call("a_set", h, i, i);
  EXPECT_EQ(call("a_copy", h, 2, h, 0, 5), 5);  // overlapping, upwards
  const I up[] = {0, 1, 0, 1, 2, 3, 4, 7, 8, 9};
  for (I i = 0; i < 10; ++i) EXPECT_EQ(call("a", h, i), up[i]) << i;
  EXPECT_EQ(call("a_copy", h, 0, h, 3, 100), 7);  // downwards, cut to the source
  EXPECT_EQ(call("a", h, 0), 1);
  EXPECT_EQ(call("a", h, 6), 9);
  I g = call("a_create", 3);
  EXPECT_EQ(call("a_copy", g, 1, h, 0, 10), 2);  // cut to the destination
  EXPECT_EQ(call("a", g, 2), 2);
  for (auto args : {std::vector<I>{g, -1, h, 0, 1}, {g, 3, h, 0, 1}, {g, 0, h, 10, 1}, {g, 0, h, -1, 1}, {g, 0, h, 0, 0},
                    {g, 0, 4000, 0, 1}, {8192, 0, h, 0, 1}})
    EXPECT_EQ(call("a_copy", args[0], args[1], args[2], args[3], args[4]), 0);

  I from = call("a_create", 3), to = call("a_create", 4), out = call("a_create", 3);
  const I f[] = {0, 100, -100}, t[] = {100, 200, 100, 5};
  for (I i = 0; i < 3; ++i) call("a_set", from, i, f[i]);
  for (I i = 0; i < 4; ++i) call("a_set", to, i, t[i]);
  EXPECT_EQ(call("a_interpolate", out, from, to, 1, 4), 3);
  EXPECT_EQ(call("a", out, 0), 25);
  EXPECT_EQ(call("a", out, 1), 125);
  EXPECT_EQ(call("a", out, 2), -50);
  EXPECT_EQ(call("a_interpolate", from, from, to, 4, 4), 3);  // in place: from becomes to
  EXPECT_EQ(call("a", from, 2), 100);
  EXPECT_EQ(call("a_interpolate", out, from, to, 1, 0), 0);
  call("a_set", from, 0, INT_MIN);
  call("a_set", to, 0, INT_MAX);
  call("a_interpolate", out, from, to, 1, 2);
  EXPECT_EQ(call("a", out, 0), -1);  // halfway, without overflow

  std::int32_t* globals = engine::globals();
  const I values[] = {5, -3, 9, 0, 7};
  std::copy(values, values + 5, globals + 10);
  call("globals_sort", 10, 14);
  EXPECT_EQ(std::vector<I>(globals + 10, globals + 15), (std::vector<I>{-3, 0, 5, 7, 9}));
  call("globals_sort", 14, 10);  // growing from 14 down to 10
  EXPECT_EQ(std::vector<I>(globals + 10, globals + 15), (std::vector<I>{9, 7, 5, 0, -3}));
  call("globals_sort", 2048 + 12, 12);  // indices modulo 2048: one global, nothing moves
  EXPECT_EQ(globals[12], 5);
}

TEST_F(StringTest, ArrayFilesStayInTheWorkingFolder) {
  compile({lines({"var h", "var back", "var missing", "var outside", "var named",
                  "h = a_create(3)", "a_set(h, 0, 1)", "a_set(h, 2, -2)", "a_save(h, \"arr.dat\")",
                  "back = a_load(\"arr.dat\")", "missing = a_load(\"none.dat\")",
                  "a_save(h, \"../outside.dat\")", "a_save(h, \"/tmp/zepta_outside.dat\")",
                  "outside = a_load(\"/etc/passwd\")", "named = str_create(40)",
                  "str_copy(named, \"sub/../arr.dat\", 0, -1)", "named = a_load(named)"})});
  engine::brain_pass(*world_);
  I back = variable(0, 1);
  ASSERT_GE(back, 0);
  EXPECT_EQ(call("a_size", back), (3 + 4) * 4);  // file size / 4 + 4 cells
  EXPECT_EQ(call("a", back, 0), 1);
  EXPECT_EQ(call("a", back, 2), -2);
  EXPECT_EQ(call("a", back, 3), 0);
  EXPECT_EQ(variable(0, 2), -1);
  EXPECT_EQ(variable(0, 3), -1);
  EXPECT_GE(variable(0, 4), 0);  // a path from a string handle, inside the folder
  EXPECT_FALSE(std::filesystem::exists(folder_ + "../outside.dat"));
  EXPECT_FALSE(std::filesystem::exists("/tmp/zepta_outside.dat"));
  // Empty files make no array.
  std::ofstream(folder_ + "empty.dat").flush();
  compile({lines({"var e", "e = a_load(\"empty.dat\")"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), -1);
}

TEST_F(StringTest, TextArgumentsTakeHandles) {
  compile({lines({"var p", "var e", "var f", "p = str_create(30)", "str_copy(p, \"scores.txt\", 0, -1)",
                  "global_set(3, 42)", "globals_save(p, 3, 3)", "global_set(3, 0)", "globals_load(p, 3, 3)",
                  "e = file_exists(p)", "f = file_exists(\"../etc/passwd\")"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(engine::globals()[3], 42);
  EXPECT_EQ(variable(0, 1), -1);
  EXPECT_EQ(variable(0, 2), 0);
  EXPECT_TRUE(std::filesystem::exists(folder_ + "scores.txt"));
}

// Each runtime error ends the run with its own words; a run shows one box.
TEST_F(StringTest, RuntimeErrors) {
  struct Case {
    const char* statement;
    const char* message;
  } cases[] = {
      {"str_copy(\"x\", \"y\", 0, -1)",
       "First parameter of STR_COPY() instruction must be a string variable, not a constant string."},
      {"str_add(\"x\", \"y\")", "First parameter of STR_ADD() instruction must be a string variable, not a constant string."},
      {"str_chr(-1, 65)", "First parameter of STR_CHR() instruction must be a string variable, not a constant string."},
      {"str_num(8192, 1, 0)", "First parameter of STR_NUM() instruction must be a string variable, not a constant string."},
      {"input_box(\"Name?\", \"x\", 1)",
       "Second parameter of INPUT_BOX() instruction must be a string variable, not a constant string."},
      {"file_box(\"x\", \"*.*\", 0)",
       "First parameter of FILE_BOX() instruction must be a string variable, not a constant string."},
      {"x = element(\"nobody\")", "ELEMENT() instruction error! Could not find 'nobody' element"},
  };
  for (const Case& c : cases) {
    boxes_.shown.clear();
    world_->exit_request = -1;
    world_->runtime_error_shown = false;
    compile({lines({"var x", c.statement, c.statement})});
    engine::brain_pass(*world_);
    EXPECT_EQ(boxes_.shown, std::vector<std::string>{c.message}) << c.statement;
    EXPECT_EQ(world_->exit_request, INT_MIN) << c.statement;
  }
  EXPECT_EQ(variable(0, 0), -1);  // no element: the top bit set
  // A handle without a block is no error: nothing happens.
  boxes_.shown.clear();
  world_->exit_request = -1;
  world_->runtime_error_shown = false;
  compile({lines({"str_copy(77, \"y\", 0, -1)", "str_add(77, \"y\")", "str_chr(77, 1)", "str_num(77, 1, 1)"})});
  engine::brain_pass(*world_);
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(world_->exit_request, -1);
}

TEST_F(StringTest, ElementsByName) {
  compile({lines({"var a", "var b", "a = element(\"e\")", "b = element(n)", "var n", "n = str_create(4)",
                  "str_copy(n, \"e\", 0, -1)"}),
           lines({})});
  world_->names[0] = "first", world_->names[1] = "e";
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), ref(1));
  EXPECT_EQ(world_->exit_request, INT_MIN);  // n was still 0, an empty handle, on the first call
  world_->exit_request = -1;
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 1), ref(1));
  EXPECT_EQ(world_->exit_request, -1);
}

TEST_F(StringTest, BoxesReadAndWriteTheirHandles) {
  boxes_.message_answer = 3;
  boxes_.typed = "a name far too long";
  compile({lines({"var m", "var s", "var ok", "var items", "var l", "var t",
                  "m = msg_box(\"Save?\", 3, 2, 0)", "s = str_create(6)", "str_copy(s, \"old\", 0, -1)",
                  "ok = input_box(\"Name?\", s, 2)", "items = a_create(5)", "t = str_create(3)", "str_copy(t, \"one\", 0, -1)",
                  "a_set(items, 0, t)", "a_set(items, 1, 4000)", "a_set(items, 2, s)", "a_set(items, 3, -1)",
                  "a_set(items, 4, t)", "l = list_box(\"Pick\", items, 1, 4, 0)"})});
  boxes_.list_answer = 1;
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 3);
  EXPECT_EQ(variable(0, 2), 1);
  EXPECT_EQ(boxes_.input_max, 6);
  EXPECT_EQ(text(variable(0, 1)), "a name");  // cut to the capacity
  // Of the first 4 cells, the handles with a block: "one" and the name.
  EXPECT_EQ(boxes_.items, (std::vector<std::string>{"one", "a name"}));
  EXPECT_EQ(boxes_.list_selection, 1);
  EXPECT_EQ(variable(0, 4), 1);
  EXPECT_EQ(boxes_.shown, (std::vector<std::string>{"Save? 3 2", "Name?:old"}));
  // Cancel leaves the text.
  boxes_.input_ok = false;
  compile({lines({"var s", "var ok", "s = str_create(6)", "str_copy(s, \"old\", 0, -1)", "ok = input_box(\"Name?\", s, 0)"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 1), 0);
  EXPECT_EQ(text(variable(0, 0)), "old");
  // Without dialogs each box takes its default.
  world_->dialogs = nullptr;
  compile({lines({"var m", "var y", "var s", "var ok", "var l", "m = msg_box(\"Hi\", 0, 1, 0)", "y = msg_box(\"Go?\", 2, 2, 0)",
                  "s = str_create(5)", "ok = input_box(\"Name?\", s, 1)", "l = list_box(\"Pick\", 4000, 0, 1, 1)"})});
  engine::brain_pass(*world_);
  EXPECT_EQ(variable(0, 0), 1);
  EXPECT_EQ(variable(0, 1), 3);
  EXPECT_EQ(variable(0, 3), 1);
  EXPECT_EQ(variable(0, 4), -1);
}

// Random handles, indexes and sizes through every string and array routine.
// Under AddressSanitizer only live blocks are addressable: a call that reached
// outside its block would stop the test.
TEST_F(StringTest, RandomCallsStayInTheirBlocks) {
  world_->dialogs = nullptr;
  const char* keywords[] = {"str_create", "str_kill", "str_len", "str_copy", "str_add", "str_comp", "str_chr",
                            "str_num", "str_val", "str_input", "str_input_set", "a_create", "a", "a2", "a_set",
                            "a2_set", "a_byte", "a_byte_set", "a_word", "a_word_set", "a_dword", "a_dword_set",
                            "a_size", "a_copy", "a_interpolate", "globals_sort"};
  std::mt19937 random(12345);
  auto value = [&]() -> I {
    switch (random() % 8) {
      case 0: return static_cast<I>(random() % 16);             // live handles, small sizes
      case 1: return static_cast<I>(random() % 64) - 8;         // around 0
      case 2: return static_cast<I>(random());                  // anything
      case 3: return engine::kHandles - 1 + static_cast<I>(random() % 3);
      case 4: return INT_MIN + static_cast<I>(random() % 2);
      case 5: return INT_MAX - static_cast<I>(random() % 2);
      case 6: return static_cast<I>(random() % 2048);
      default: return static_cast<I>(random() % (1 << 20));     // large sizes and indexes
    }
  };
  for (int i = 0; i < 200000; ++i) {
    const char* k = keywords[random() % std::size(keywords)];
    call(k, value(), value(), value(), value(), value());
    world_->exit_request = -1;  // runtime errors go on
  }
  // Whatever happened, the table still hands out blocks.
  for (I h = 0; h < engine::kHandles; ++h) call("str_kill", h);
  EXPECT_EQ(call("a_create", static_cast<I>(engine::kHandleHeapBytes / 4)), 0);
}

}  // namespace
