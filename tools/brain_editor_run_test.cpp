// Run mode 13 in the program itself, headless with scripted keys: a brain typed
// and saved under a name, a compile error shown at its line then fixed, the
// overwrite and lost-changes questions, F1, Ctrl+H, the header check, and the
// tutorial's brain written from scratch, given a parameter in mode 5 and run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "brain/brain.h"
#include "tests/program_fixture.h"

namespace {

namespace fs = std::filesystem;
using program_test::read;
using program_test::write;

// Scan codes: Escape 1, Backspace 14, Enter 28, Ctrl 29, H 35, F1 59, F2 60,
// End 79, Page Down 81, Delete 83.
constexpr int kEscape = 1, kBackspace = 14, kEnter = 28, kCtrl = 29, kH = 35, kF1 = 59, kF2 = 60, kEnd = 79,
              kPageDown = 81, kDelete = 83;

// The set-1 scan code of a character typed on a US keyboard (Shift not counted).
int scan_of(char c) {
  struct Row {
    const char* plain;
    const char* shifted;
    int first;
  } rows[] = {{"1234567890-=", "!@#$%^&*()_+", 2},
              {"qwertyuiop[]", "QWERTYUIOP{}", 16},
              {"asdfghjkl;'`", "ASDFGHJKL:\"~", 30},
              {"\\zxcvbnm,./", "|ZXCVBNM<>?", 43}};
  if (c == ' ') return 57;
  for (const Row& r : rows)
    for (int k = 0; r.plain[k]; ++k)
      if (r.plain[k] == c || r.shifted[k] == c) return r.first + k;
  return 0;
}

// An input script of keys, one a sample from sample 40 on (the program empties
// its input when it starts a tool, and for 20 samples whenever a screen closes:
// pause() waits that out).
struct Keys {
  std::string script;
  int tick = 40;

  Keys& key(int scan, int character = 0) {
    script += std::to_string(tick++) + " key " + std::to_string(scan);
    // A character word of one letter is that character; a code is written in two digits at least.
    if (character > 32 && character < 127) script += " " + std::string(1, static_cast<char>(character));
    else if (character) script += (character < 10 ? " 0" : " ") + std::to_string(character);
    script += "\n";
    return *this;
  }
  // Each character with its scan code; "\n" is Enter.
  Keys& type(std::string_view text) {
    for (char c : text) {
      if (c == '\n') key(kEnter, 13);
      else key(scan_of(c), static_cast<unsigned char>(c));
    }
    return *this;
  }
  Keys& ctrl(int scan) {
    script += std::to_string(tick) + " down " + std::to_string(kCtrl) + "\n";
    script += std::to_string(tick + 1) + " key " + std::to_string(scan) + "\n";
    script += std::to_string(tick + 2) + " up " + std::to_string(kCtrl) + "\n";
    tick += 3;
    return *this;
  }
  Keys& pause(int samples = 40) {
    tick += samples;
    return *this;
  }
  Keys& backspaces(int n) {
    for (int k = 0; k < n; ++k) key(kBackspace, 8);
    return *this;
  }
  // F2, then the name question answered with name typed over the default.
  Keys& save_as(int default_length, std::string_view name) {
    return key(kF2).pause().backspaces(default_length).type(name).key(kEnter, 13).pause();
  }
};

std::string crlf(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

struct BrainEditorRun : program_test::ProgramFixture {
  program_test::Outcome edit(int element, const Keys& keys, const std::string& project = "projects/t.prj") {
    std::vector<std::string> args = {"--headless", "--mode", "13", "--project", project, "--element",
                                     std::to_string(element)};
    if (!keys.script.empty()) {
      write(work + "input.txt", keys.script);
      args.insert(args.end(), {"--input", "input.txt"});
    }
    return run_program(args);
  }
  std::string project_text(const std::string& project = "projects/t.prj") { return read(work + project); }
  std::vector<std::string> brain_files() {
    std::vector<std::string> names;
    for (const auto& f : fs::directory_iterator(work + "brains")) names.push_back(f.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

// The line of a project file that begins with name + "|", and one of its fields.
std::string element_line(const std::string& text, const std::string& name) {
  std::size_t at = ("\n" + text).find("\n" + name + "|");
  if (at == std::string::npos) return "";
  return text.substr(at, text.find("\r\n", at) - at);
}
std::string field_of(const std::string& text, const std::string& name, int n) {
  return std::string(project::line_field(element_line(text, name), n).view());
}
// The embedded brain of element i: the lines after "@i" up to the next "@" line.
std::string block_of(const std::string& text, int i) {
  std::string label = "\r\n@" + std::to_string(i) + "\r\n";
  std::size_t at = text.find(label);
  if (at == std::string::npos) return "<none>";
  at += label.size();
  std::size_t end = text.find("\r\n@", at - 2);
  return end == std::string::npos ? text.substr(at) : text.substr(at, end + 2 - at);
}
std::string signature_of(const std::string& brain) {
  return std::to_string(project::header_signature_of(brain).signature);
}

TEST_F(BrainEditorRun, TypedBrainIsSavedUnderItsNameAndEmbedded) {
  make_project({""});
  const std::string brain = "var x\nx = x + 1\ndebug(x)";
  // The name offered is the element's, "e0": typed over.
  program_test::Outcome r = edit(0, Keys().type(brain).save_as(2, "counter"));
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string saved = crlf(brain + "\n");
  EXPECT_EQ(read(work + "brains/counter.brn"), saved);
  std::string text = project_text();
  EXPECT_EQ(block_of(text, 0), saved);
  EXPECT_EQ(field_of(text, "e0", 4), "-");  // a saved project embeds every brain
  EXPECT_EQ(field_of(text, "e0", 35), "1/7//1020");
  EXPECT_EQ(field_of(text, "e0", 40), signature_of(saved));
  EXPECT_TRUE(fs::exists(work + "data/zepta.ini"));

  // The project runs the saved brain.
  r = test_run({"--ticks", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(program_test::has_line(r.dump, "ticks 6")) << r.dump;  // 4 before the first picture, then 2
  EXPECT_TRUE(program_test::has_line(r.dump, "element 0 255 6")) << r.dump;
}

TEST_F(BrainEditorRun, CompileErrorIsShownAtItsLineThenFixedAndSaved) {
  make_project({""});
  const std::string wrong = "var x\nx = y\ndebug(x)";
  // F2 shows the error; Escape leaves the showing; editing goes on at line 2:
  // End, Backspace, "1", then F2 again.
  Keys keys;
  keys.type(wrong).key(kF2).pause().key(kEscape).pause().key(kEnd).backspaces(1).type("1").save_as(2, "fixed");
  program_test::Outcome r = edit(0, keys);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read(work + "brains/fixed.brn"), crlf("var x\nx = 1\ndebug(x)\n"));

  // stderr carries exactly what --check prints for the text, naming the brain by its element.
  std::size_t at = r.err.find(":2: Unknown symbol 'y'!\n");
  ASSERT_NE(at, std::string::npos) << r.err;
  std::size_t start = r.err.rfind('\n', at);
  std::string file = r.err.substr(start == std::string::npos ? 0 : start + 1,
                                  at - (start == std::string::npos ? 0 : start + 1));
  EXPECT_EQ(file, "e0");
  fs::create_directories(work + "check");
  write(work + "check/" + file, crlf(wrong + "\n"));
  std::string cwd = fs::current_path();
  fs::current_path(work + "check");
  std::FILE* out = std::tmpfile();
  std::string_view files[] = {file};
  EXPECT_EQ(brain::check_files(files, out), 1);
  fs::current_path(cwd);
  std::rewind(out);
  char buffer[1024] = {};
  std::fread(buffer, 1, sizeof buffer - 1, out);
  std::fclose(out);
  EXPECT_EQ(std::string(buffer), file + ":2: Unknown symbol 'y'!\n    x = y\n");
  EXPECT_NE(r.err.find(buffer), std::string::npos) << r.err;
}

TEST_F(BrainEditorRun, OverwriteQuestionAbortsToEditingThenContinues) {
  make_project({""});
  write(work + "brains/old.brn", "var old\r\n");
  Keys keys;
  keys.type("var a").save_as(2, "old").key(kDelete).pause();  // ABORT: editing goes on
  keys.type("\nvar b").save_as(2, "old").key(kEnter, 13).pause();  // CONTINUE
  program_test::Outcome r = edit(0, keys);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read(work + "brains/old.brn"), crlf("var a\nvar b\n"));
  EXPECT_EQ(block_of(project_text(), 0), crlf("var a\nvar b\n"));

  // Nobody to answer once the script is used up: the question takes CONTINUE.
  // The editor opens where it was left, after "var b".
  r = edit(0, Keys().type("\n; c").save_as(2, "old"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Using the name 'old.brn' you will overwrite an existing brain\n"), std::string::npos) << r.err;
  EXPECT_EQ(read(work + "brains/old.brn"), crlf("var a\nvar b\n; c\n"));
}

TEST_F(BrainEditorRun, NamesAreRefusedWithAClearLine) {
  make_project({""});
  // "../up" is refused, and the question comes back with it to be mended.
  Keys keys;
  keys.type("var a").save_as(2, "../up").key(kEnter, 13).pause().backspaces(5).type("up").key(kEnter, 13).pause();
  program_test::Outcome r = edit(0, keys);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(work + "up.brn"));
  EXPECT_EQ(read(work + "brains/up.brn"), crlf("var a\n"));

  // An emptied name: said so, nothing saved.
  std::string before = project_text();
  r = edit(0, Keys().type("var b").save_as(2, ""));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("No name given: the brain was not saved.\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("The current brain modifications will be lost!\n"), std::string::npos) << r.err;
  EXPECT_EQ(project_text(), before);
}

TEST_F(BrainEditorRun, LeavingAChangedBrainAsksFirst) {
  make_project({"var kept\r\n"});
  std::string before = project_text();
  std::vector<std::string> files = brain_files();
  struct Case {
    const char* what;
    Keys keys;
    bool asked_on_stderr;  // the question was left to the giving up
  } cases[] = {
      {"ABORT, more typing, then CONTINUE",
       Keys().type("var a").key(kEscape).pause().key(kDelete).pause().type("\nvar b").key(kEscape).pause().key(kEnter, 13).pause(),
       false},
      {"the script used up while editing", Keys().type("var a"), true},
      {"unchanged: no question", Keys().key(kEscape).pause(), false},
  };
  for (const Case& c : cases) {
    program_test::Outcome r = edit(0, c.keys);
    EXPECT_EQ(r.status, 0) << c.what << r.err;
    EXPECT_EQ(r.err.find("The current brain modifications will be lost!") != std::string::npos, c.asked_on_stderr)
        << c.what << r.err;
    EXPECT_EQ(project_text(), before) << c.what;
    EXPECT_EQ(brain_files(), files) << c.what;
    EXPECT_FALSE(fs::exists(work + "data/zepta.ini")) << c.what;
  }
}

TEST_F(BrainEditorRun, F1ShowsTheBrainAsItStandsAtTheWindowsPlace) {
  std::string brain;
  for (int k = 1; k <= 120; ++k) brain += "; line " + std::to_string(k) + "\r\n";
  make_project({brain});
  // Page Down, a line typed there, F1, keys that show mode ignores, Escape,
  // then the edited text saved: editing went on with the text kept.
  Keys keys;
  keys.key(kPageDown).type("var typed\n").key(kF1).pause().type("zz").key(kEscape).pause().save_as(2, "shown");
  program_test::Outcome r = edit(0, keys);
  EXPECT_EQ(r.status, 0) << r.err;
  std::size_t at = r.err.find(" as it stands (F1):\n");
  ASSERT_NE(at, std::string::npos) << r.err;
  std::string shown = r.err.substr(at + 20);
  // The window's first line: Page Down put line 40 there and Enter on row 39 scrolled a line.
  EXPECT_EQ(shown.rfind("; line 41\n; line 42\n", 0), 0u) << shown;
  std::string saved = read(work + "brains/shown.brn");
  EXPECT_NE(saved.find("; line 78\r\nvar typed\r\n; line 79\r\n"), std::string::npos) << saved;  // at row 39
  EXPECT_EQ(saved.find("zz"), std::string::npos);
}

TEST_F(BrainEditorRun, ChangedHeaderResetsTheConfigurationWithTheNotice) {
  const std::string brain = "userint speed = 5\r\ndebug(speed)\r\n";
  make_project({brain}, {},
               {{0, project::kFieldUserParameters, "1/2/9/1020"},
                {0, project::kFieldBrainChecksum, signature_of(brain)},
                {0, project::kFieldEditorPosition, "2"},
                {0, project::kFieldEditorPosition + 1, "1"}});
  // A comment line: the header stays, and so does the configuration.
  program_test::Outcome r = edit(0, Keys().type("; speed from the panel\n").save_as(2, "same"));
  EXPECT_EQ(r.status, 0) << r.err;
  std::string text = project_text();
  EXPECT_EQ(field_of(text, "e0", 35), "1/2/9/1020");
  EXPECT_EQ(field_of(text, "e0", 45), "2");
  EXPECT_EQ(r.err.find("header modification"), std::string::npos) << r.err;

  // A new declaration, typed where the editor was left (line 2): reset, and
  // the notice (its OK taken once nobody answers).
  r = edit(0, Keys().type("userint extra = 3\n").save_as(2, "changed"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("A brain's header modification has occurred, so the\ne0\nelement configuration (if any) was "
                       "reset.\nTo cofigure again the element, enter the Info panel for it\n"),
            std::string::npos)
      << r.err;
  text = project_text();
  const std::string changed = "; speed from the panel\r\nuserint extra = 3\r\n" + brain;
  EXPECT_EQ(block_of(text, 0), changed);
  EXPECT_EQ(field_of(text, "e0", 35), "2/2/3/1020/2/5/1016");
  EXPECT_EQ(field_of(text, "e0", 40), signature_of(changed));
  EXPECT_EQ(field_of(text, "e0", 45), "0");
  EXPECT_EQ(field_of(text, "e0", 46), "0");
}

TEST_F(BrainEditorRun, CtrlHSelectsALibraryBrainAndOpensItsParameters) {
  make_project({"var mine\r\n"});
  const std::string library = "userint speed = 7\r\ndebug(speed)\r\n";
  write(work + "brains/lib.brn", library);
  // Changed text: the lost question (CONTINUE); the chooser's second cell
  // (b0.brn, lib.brn); the parameter panel, left with Escape; then the editor
  // on the chosen brain, left unchanged.
  Keys keys;
  keys.type("var a").ctrl(kH).pause().key(kEnter, 13).pause();
  keys.script += std::to_string(keys.tick) + " mouse 320 120 1\n" + std::to_string(keys.tick + 2) + " mouse 320 120 0\n";
  keys.pause().key(kEscape).pause().key(kEscape).pause();
  program_test::Outcome r = edit(0, keys);
  EXPECT_EQ(r.status, 0) << r.err;
  std::string text = project_text();
  EXPECT_EQ(block_of(text, 0), library);
  EXPECT_EQ(field_of(text, "e0", 35), "1/2/7/1020");
  EXPECT_EQ(field_of(text, "e0", 40), signature_of(library));
  EXPECT_EQ(read(work + "brains/lib.brn"), library);
}

TEST_F(BrainEditorRun, AMissingBrainStartsAsTheEmptyBrainAndAFailedSaveIsTold) {
  make_project({""});
  write(work + "brains/null_.brn", "; the empty brain\r\n");
  // The element names a library brain that does not exist yet.
  std::string text = project_text();
  std::string line = element_line(text, "e0");
  std::string named = std::string(base::replace_field(line, 4, "./brains/new.brn", '|').view());
  text.replace(text.find(line), line.size(), named);
  write(work + "projects/t.prj", text);
  // F2 at once, under the name offered ("new.brn"), which a folder holds:
  // CONTINUE to overwrite, the failure told, then editing goes on until the script ends.
  fs::create_directories(work + "brains/new.brn");
  program_test::Outcome r = edit(0, Keys().key(kF2).pause().key(kEnter, 13).pause().key(kEnter, 13).pause());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("The brain could not be saved as 'new.brn':\n"), std::string::npos) << r.err;
  EXPECT_EQ(project_text(), text);

  // Without the folder in the way the empty brain is saved under that name.
  fs::remove(work + "brains/new.brn");
  r = edit(0, Keys().key(kF2).pause().key(kEnter, 13).pause());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read(work + "brains/new.brn"), "; the empty brain\r\n");
  EXPECT_EQ(block_of(project_text(), 0), "; the empty brain\r\n");
}

// The tutorial's brain, with its step made a user parameter, typed from
// scratch into the Player of the hello project, saved, given a step in mode 5
// and run.
TEST_F(BrainEditorRun, TutorialBrainWrittenFromScratchThenSetAndRun) {
  std::string built = std::string(std::getenv("ZEPTA_TEST_DATA")) + "/../";
  for (const char* folder : {"cameras", "visuals", "sounds", "brains"})
    fs::copy(built + folder, work + folder, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  std::string hello = read(built + "projects/hello/hello.prj");
  std::size_t player = hello.find("@2\r\n");
  ASSERT_NE(player, std::string::npos);
  write(work + "projects/hello.prj", hello.substr(0, player + 4));  // the Player's brain is empty

  const std::string brain =
      "; The player: the arrow keys move it over the floor, and a line of\n"
      "; text counts the ticks in which it moved.\n"
      "usermet step = 0.1      ; set in run mode 5\n"
      "var moves\n"
      "if keyboard(\"left\")\n"
      "  position_x_add(element, -step)\n"
      "endif\n"
      "if keyboard(\"right\")\n"
      "  position_x_add(element, step)\n"
      "endif\n"
      "if keyboard(\"up\")\n"
      "  position_z_add(element, step)\n"
      "endif\n"
      "if keyboard(\"down\")\n"
      "  position_z_add(element, -step)\n"
      "endif\n"
      "if keyboard(\"left\") or keyboard(\"right\") or keyboard(\"up\") or keyboard(\"down\")\n"
      "  moves = moves + 1\n"
      "endif\n"
      "print(\"Hello! The arrow keys move the box.\", 20, 20, 0)\n"
      "print(\"Ticks moved:\", 20, 44, 0)\n"
      "print_num(moves, 0, 130, 44, 0)";
  // Saved under the name offered, the element's: "Player".
  program_test::Outcome r = edit(2, Keys().type(brain).key(kF2).pause().key(kEnter, 13).pause(), "projects/hello.prj");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string saved = crlf(brain + "\n");
  EXPECT_EQ(read(work + "brains/Player.brn"), saved);
  std::string text = project_text("projects/hello.prj");
  EXPECT_EQ(block_of(text, 2), saved);
  EXPECT_EQ(field_of(text, "Player", 35), "2/3/0.1/1020/7//1016");

  // Run mode 5: the step set to 0.2 metres.
  Keys panel;
  panel.backspaces(3).type("0.2").key(kEscape).pause();
  write(work + "input.txt", panel.script);
  r = run_program({"--headless", "--mode", "5", "--project", "projects/hello.prj", "--element", "2", "--input",
                   "input.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  text = project_text("projects/hello.prj");
  EXPECT_EQ(field_of(text, "Player", 35), "2/3/0.2/1020/7//1016");

  // The tutorial's run: twice its distances with the doubled step.
  write(work + "keys.txt", "10 down LEFT\n25 up LEFT\n25 down UP\n35 up UP\n");
  r = run_program({"--headless", "--mode", "1", "--project", "projects/hello.prj", "--ticks", "60", "--input",
                   "keys.txt", "--dump", "dump.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* line : {"element 2 3 -1536000", "element 2 5 1024000", "element 2 254 25", "element 2 255 102400"})
    EXPECT_TRUE(program_test::has_line(r.dump, line)) << line << "\n" << r.dump;
}

}  // namespace
