// Strings, arrays and boxes in headless runs of the zepta program: the boxes
// answered by the input script (the run stands still meanwhile), their
// defaults once the script is used up, the runtime error box ending the run,
// and a high-score table kept in files from one run to the next.
#include "tests/program_fixture.h"

namespace {

using namespace program_test;

class StringRunTest : public ProgramFixture {
 protected:
  // A run of 30 ticks; brains open their boxes at tick 20, so the script's
  // events for them come at tick 21 and after.
  Outcome run(const std::string& script, std::vector<std::string> values = {}) {
    std::vector<std::string> args = {"--ticks", "30"};
    if (!script.empty()) {
      write(work + "input.txt", script);
      args.insert(args.end(), {"--input", "input.txt"});
    }
    args.insert(args.end(), values.begin(), values.end());
    return test_run(args);
  }
  static std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
};

TEST_F(StringRunTest, TheScriptAnswersMessageBoxes) {
  make_project({lines({"if timer(element) = 20", "global_set(1, msg_box(\"Save?\", 3, 2, 0) + 10)",
                       "global_set(2, msg_box(\"Save?\", 3, 2, 0) + 10)", "global_set(3, msg_box(\"Save?\", 3, 2, 0) + 10)",
                       "global_set(4, msg_box(\"Go on?\", 1, 0, 0) + 10)", "global_set(5, msg_box(\"Go on?\", 1, 0, 0) + 10)",
                       "global_set(6, msg_box(\"Sure?\", 2, 1, 0) + 10)", "global_set(7, msg_box(\"Done.\", 0, 9, 0) + 10)",
                       "global_set(8, msg_box(\"Last one|two lines\", 3, 3, 0) + 10)", "endif"})});
  Outcome r = run(
      "21 key 21 y\n"              // Yes
      "22 key 49 n\n"              // No
      "23 key 46 c\n"              // C: Cancel
      "24 key 28 13\n"             // Enter: the first, OK
      "25 key 15\n26 key 28 13\n"  // Tab to Cancel, Enter
      "28 key 77\n29 key 57 32\n"  // Right to No, Space
      "30 key 1 27\n");            // OK alone: Escape answers OK, and ends the run
  ASSERT_EQ(r.status, 0) << r.err;
  const char* expected[] = {"global 1 13", "global 2 12", "global 3 10", "global 4 11",
                            "global 5 10", "global 6 12", "global 7 11", "global 8 10"};
  for (const char* line : expected) EXPECT_TRUE(has_line(r.dump, line)) << line << "\n" << r.dump;
  // After Escape the last box answers Cancel unseen, and the tick ends the run.
  EXPECT_EQ(count(r.err, "Save?"), 0u) << r.err;
  EXPECT_EQ(r.err.find("Last one"), std::string::npos) << r.err;
  EXPECT_TRUE(has_line(r.dump, "ticks 21")) << r.dump;
}

TEST_F(StringRunTest, TheScriptAnswersInputAndListBoxes) {
  make_project({lines({"var s", "var w", "var items", "if timer(element) = 20", "s = str_create(5)",
                       "str_copy(s, \"ab\", 0, -1)", "w = str_create(3)",
                       "global_set(1, input_box(\"Your name?\", s, 1) + 10)",
                       "global_set(2, input_box(\"Again?\", s, 0) + 10)",
                       "global_set(3, input_box(\"Three letters\", w, 3) + 10)",
                       "global_set(7, str_comp(s, \"abc\", 1) + 20)", "global_set(8, str_comp(w, \"wxy\", 1) + 20)",
                       "items = a_create(3)", "a_set(items, 0, str_create(9))", "a_set(items, 1, str_create(9))",
                       "a_set(items, 2, str_create(9))", "str_copy(a(items, 0), \"red\", 0, -1)",
                       "str_copy(a(items, 1), \"green\", 0, -1)", "str_copy(a(items, 2), \"blue\", 0, -1)",
                       "global_set(4, list_box(\"Pick one\", items, 0, 3, 2) + 10)",
                       "global_set(5, list_box(\"Pick one\", items, 1, 3, 5) + 10)",
                       "global_set(6, list_box(\"Pick again\", items, 2, 3, 1) + 10)", "endif"})});
  Outcome r = run(
      "21 key 46 c\n22 key 28 13\n"                 // "ab" + "c", OK
      "23 key 14\n24 key 28 13\n"                 // Backspace, then OK: s is "ab"
      "25 key 17 w\n26 key 45 x\n27 key 21 y\n28 key 44 z\n29 key 28 13\n"  // z is past the capacity
      "30 key 80\n31 key 80\n32 key 28 13\n");     // Down, Down, OK: "blue"
  ASSERT_EQ(r.status, 0) << r.err;
  const char* expected[] = {"global 1 11", "global 2 11", "global 3 11", "global 7 19",
                            "global 8 20", "global 4 12", "global 5 11", "global 6 12"};
  for (const char* line : expected) EXPECT_TRUE(has_line(r.dump, line)) << line << "\n" << r.dump;
  // The last list boxes took their default, the selection, and printed prompt and item.
  EXPECT_NE(r.err.find("Zepta 5.2\nPick again\nblue\n"), std::string::npos) << r.err;

  // Escape cancels the box it is in and ends the run: the boxes after it answer Cancel unseen.
  r = run("21 key 1 27\n");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line : {"global 1 10", "global 2 10", "global 4 9", "global 6 9", "ticks 21"})
    EXPECT_TRUE(has_line(r.dump, line)) << line << "\n" << r.dump;
  EXPECT_EQ(r.err.find("Pick"), std::string::npos) << r.err;
}

// The file box gives a brain a file's name, which the array and globals
// keywords then read and write.
TEST_F(StringRunTest, TheFileBoxNamesFilesForTheBrain) {
  make_project({lines({"var h", "var f", "var g", "var back", "if timer(element) = 20", "h = a_create(2)",
                       "a_set(h, 0, 77)", "a_save(h, \"table.dat\")", "f = str_create(40)",
                       "global_set(1, file_box(f, \"Tables|*.dat\", 0) + 10)", "back = a_load(f)",
                       "global_set(2, a(back, 0))", "g = str_create(40)",
                       "global_set(3, file_box(g, \"Tables|*.dat\", 1) + 10)", "a_save(back, g)",
                       "global_set(4, file_box(g, \"Tables|*.dat\", 0) + 10)", "endif"})});
  // Open: the list browser shows the fixture's seven folders, then "table.dat"
  // (rows of 10 pixels from y = 154).
  std::string script = "25 mouse 200 224 1\n27 mouse 200 224 0\n";
  int tick = 40;
  for (char c : std::string("copy.dat"))  // save: a new one, after "create it?"
    script += std::to_string(tick++) + " key 30 " + std::to_string(static_cast<unsigned char>(c)) + "\n";
  script += std::to_string(tick++) + " key 28 13\n";
  script += std::to_string(tick++) + " key 21 y\n";
  script += std::to_string(tick + 10) + " key 1 27\n";  // the last box is cancelled
  Outcome r = run(script);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line : {"global 1 11", "global 2 77", "global 3 11", "global 4 10"})
    EXPECT_TRUE(has_line(r.dump, line)) << line << "\n" << r.dump;
  EXPECT_EQ(read(work + "copy.dat").substr(0, 4), std::string("M\0\0\0", 4));
}

// Characters typed while the run goes on gather in the typed-text buffer,
// which str_input reads and str_input_set replaces.
TEST_F(StringRunTest, TypedCharactersFillTheInputText) {
  make_project({lines({"var s", "if timer(element) = 0", "s = str_create(20)", "str_input_set(\"\")", "endif",
                       "if timer(element) = 20", "str_input(s)", "global_set(1, str_comp(s, \"hi!\", 1) + 20)",
                       "global_set(2, str_len(s))", "str_input_set(\"new\")", "endif", "if timer(element) = 25",
                       "str_input(s)", "global_set(3, str_comp(s, \"newx\", 1) + 20)", "endif"})});
  Outcome r = run("10 key 35 h\n11 key 23 i\n12 key 16 q\n13 key 14 08\n14 key 2 33\n22 key 45 x\n");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line : {"global 1 20", "global 2 3", "global 3 20"})
    EXPECT_TRUE(has_line(r.dump, line)) << line << "\n" << r.dump;
}

// Without a script nobody answers: every box takes its default at once.
TEST_F(StringRunTest, BoxesNobodySeesTakeTheirDefaults) {
  make_project({lines({"var s", "if timer(element) = 20", "s = str_create(9)", "str_copy(s, \"kept\", 0, -1)",
                       "global_set(1, msg_box(\"Quit?\", 2, 2, 0))", "global_set(2, input_box(\"Name\", s, 0))",
                       "global_set(3, str_comp(s, \"kept\", 1) + 20)", "endif"})});
  Outcome r = run("");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(has_line(r.dump, "global 1 3")) << r.dump;  // Yes
  EXPECT_TRUE(has_line(r.dump, "global 2 1")) << r.dump;  // OK, the text as it was
  EXPECT_TRUE(has_line(r.dump, "global 3 20")) << r.dump;
  EXPECT_NE(r.err.find("Zepta 5.2\nQuit?\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Name\nkept\n"), std::string::npos) << r.err;
}

// The box shows the message; the run ends after the tick with the exit
// request -2,147,483,648. Nobody sees it here, so it does not wait.
TEST_F(StringRunTest, ARuntimeErrorEndsTheRun) {
  make_project({lines({"global_set(1, 7)", "if timer(element) = 5", "str_copy(\"literal\", \"x\", 0, -1)",
                       "str_add(\"literal\", \"x\")", "endif"})});
  Outcome r = run("");
  ASSERT_EQ(r.status, 1) << r.err;  // as for a brain that had to be stopped
  EXPECT_TRUE(has_line(r.dump, "exit -2147483648")) << r.dump;
  EXPECT_TRUE(has_line(r.dump, "ticks 6")) << r.dump;
  EXPECT_EQ(count(r.err, "Runtime Error\n"), 1u) << r.err;
  EXPECT_NE(r.err.find("Runtime Error\nFirst parameter of STR_COPY() instruction must be a string variable, not a "
                       "constant string.\n"),
            std::string::npos)
      << r.err;
  // With a script the box waits for it: Enter answers OK.
  r = run("40 key 28 13\n");
  EXPECT_TRUE(has_line(r.dump, "exit -2147483648")) << r.dump;
  EXPECT_EQ(r.err.find("Runtime Error"), std::string::npos) << r.err;
}

// Names in strings, scores in globals; both kept in files of the working
// folder and read back by the next run.
TEST_F(StringRunTest, AHighScoreTableLastsFromRunToRun) {
  std::vector<std::string> brain = {"var names", "var entry", "var score", "var t", "var k",
                                    "if timer(element) = 20", "globals_load(\"scores.txt\", 0, 2)",
                                    "names = a_create(3)"};
  for (const char* k : {"0", "1", "2"}) {
    std::string cell = std::string("a(names, ") + k + ")";
    brain.push_back(std::string("a_set(names, ") + k + ", a_load(\"name" + k + ".dat\"))");
    brain.insert(brain.end(), {"if " + cell + " < 0", std::string("a_set(names, ") + k + ", str_create(15))", "endif"});
  }
  brain.insert(brain.end(), {"entry = str_create(15)", "input_box(\"Your name?\", entry, 1)", "score = par_get(0)",
                             "if score > global(2)", "global_set(2, score)", "str_copy(a(names, 2), entry, 0, -1)",
                             "endif"});
  for (const char* k : {"1", "0"}) {  // the new entry rises while it beats the one above
    std::string above = k, below = k == std::string("1") ? "2" : "1";
    brain.insert(brain.end(), {"if global(" + below + ") > global(" + above + ")", "t = global(" + above + ")",
                               "global_set(" + above + ", global(" + below + "))", "global_set(" + below + ", t)",
                               "t = a(names, " + above + ")", "a_set(names, " + above + ", a(names, " + below + "))",
                               "a_set(names, " + below + ", t)", "endif"});
  }
  brain.insert(brain.end(), {"globals_save(\"scores.txt\", 0, 2)", "a_save(a(names, 0), \"name0.dat\")",
                             "a_save(a(names, 1), \"name1.dat\")", "a_save(a(names, 2), \"name2.dat\")", "endif"});
  std::string text;
  for (const std::string& l : brain) text += l + "\r\n";
  make_project({text});

  auto name = [&](int k) {
    std::string bytes = read(work + "name" + std::to_string(k) + ".dat");
    return bytes.substr(0, bytes.find('\0'));
  };
  struct Turn {
    const char* typed;  // the script typing a name and Enter
    const char* score;
    const char* scores;
    const char* names[3];
  } turns[] = {
      {"21 key 44 Z\n22 key 18 e\n23 key 32 d\n24 key 28 13\n", "/250", "250\r\n0\r\n0\r\n", {"Zed", "", ""}},
      {"21 key 30 A\n22 key 50 m\n23 key 21 y\n24 key 28 13\n", "/300", "300\r\n250\r\n0\r\n", {"Amy", "Zed", ""}},
      {"21 key 48 B\n22 key 24 o\n23 key 28 13\n", "/100", "300\r\n250\r\n100\r\n", {"Amy", "Zed", "Bo"}},
      {"21 key 46 C\n22 key 28 13\n", "/50", "300\r\n250\r\n100\r\n", {"Amy", "Zed", "Bo"}},
      {"21 key 48 B\n22 key 18 e\n23 key 20 t\n24 key 28 13\n", "/260", "300\r\n260\r\n250\r\n", {"Amy", "Bet", "Zed"}},
  };
  for (const Turn& t : turns) {
    Outcome r = run(t.typed, {t.score});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read(work + "scores.txt"), t.scores) << t.score;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(name(k), t.names[k]) << t.score << " " << k;
  }
}

}  // namespace
