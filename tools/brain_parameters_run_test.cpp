// Run mode 5 in the program itself, headless with scripted input: parameters
// set from the number entry and the element list, Page Up / Page Down wrapping,
// Reset, Apply Setting To Group, the header check with its notice, and the value
// set reaching the brain when the project runs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/program_fixture.h"

namespace {

using program_test::read;
using program_test::write;

// Scan codes of the scripts.
// Escape 1, Backspace 14, Enter 28, Page Up 73, Page Down 81, Down 80; "4" 5, "2" 3, "7" 8, "x" 45.

constexpr const char* kTwoParameters =
    "; speed and turn for the panel\r\n"
    "userint speed = 5 ; how fast\r\n"
    "var ticks\r\n"
    "userdeg turn = 2\r\n"
    "debug(speed)\r\n";

std::string defaults_of(const std::string& brain) {
  return project::format_parameters(project::read_declarations(brain));
}
std::string signature_of(const std::string& brain) {
  return std::to_string(project::header_signature_of(brain).signature);
}

struct BrainParametersRun : program_test::ProgramFixture {
  // Element e of "projects/t.prj" as configured for brain: field 35 at its
  // defaults (or params), field 40 its signature, field 49 group.
  std::vector<Field> configured(int e, const std::string& brain, const std::string& group = "g",
                                const std::string& params = "") {
    return {{e, project::kFieldUserParameters, params.empty() ? defaults_of(brain) : params},
            {e, project::kFieldBrainChecksum, signature_of(brain)},
            {e, project::kFieldGroup, group}};
  }
  program_test::Outcome panel(int element, const std::string& script) {
    std::vector<std::string> args = {"--headless", "--mode", "5", "--project", "projects/t.prj",
                                     "--element", std::to_string(element)};
    if (!script.empty()) {
      write(work + "input.txt", script);
      args.insert(args.end(), {"--input", "input.txt"});
    }
    return run_program(args);
  }
  std::string project_text() { return read(work + "projects/t.prj"); }
};

// The line of the project file that begins with name + "|".
std::string element_line(const std::string& text, const std::string& name) {
  std::size_t at = ("\n" + text).find("\n" + name + "|");
  if (at == std::string::npos) return "";
  std::size_t end = text.find("\r\n", at);
  return text.substr(at, end - at);
}

// text with element line name's fields replaced.
std::string with_fields(const std::string& text, const std::string& name, const std::vector<std::pair<int, std::string>>& fields) {
  std::string line = element_line(text, name);
  base::Text changed = std::string_view(line);
  for (const auto& [n, value] : fields) changed = base::replace_field(changed, n, value, '|');
  std::string out = text;
  out.replace(out.find(line), line.size(), std::string(changed.view()));
  return out;
}

std::string field_of(const std::string& text, const std::string& name, int n) {
  return std::string(project::line_field(element_line(text, name), n).view());
}

TEST_F(BrainParametersRun, NumberEntrySetsTheParameterAndTheBrainReadsIt) {
  make_project({kTwoParameters}, {}, configured(0, kTwoParameters));
  std::string before = project_text();
  ASSERT_EQ(field_of(before, "e0", 35), "3/2/5/1020/7//1016/4/2/1012");
  // Backspace, "x" (refused), "4", "2", Escape.
  program_test::Outcome r = panel(0, "30 key 14\n31 key 45 x\n32 key 5 4\n33 key 3 2\n34 key 1\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(project_text(), with_fields(before, "e0", {{35, "3/2/42/1020/7//1016/4/2/1012"}, {45, "0"}, {46, "0"}}));

  // The brain reads the value set in its first slot.
  r = test_run({"--ticks", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(program_test::has_line(r.dump, "debug 42")) << r.dump;
}

TEST_F(BrainParametersRun, PageKeysWrapAndThePanelReopensThere) {
  const std::string brain = "userint a = 1\r\nuserint b = 2\r\nusermet c = 1.5\r\nvar d = 4\r\n";
  make_project({brain}, {}, configured(0, brain));
  std::string before = project_text();
  // Page Down three times (round to the first), Page Up (round to the last),
  // there Backspace x3 and "7", Escape.
  program_test::Outcome r = panel(
      0, "30 key 81\n31 key 81\n32 key 81\n33 key 73\n34 key 14\n35 key 14\n36 key 14\n37 key 8 7\n38 key 1\n");
  EXPECT_EQ(r.status, 0) << r.err;
  std::string after = project_text();
  EXPECT_EQ(after, with_fields(before, "e0", {{35, "4/2/1/1020/2/2/1016/3/7/1012/7/4/1008"}, {45, "2"}, {46, "0"}}));

  // Nothing scripted: the panel opens on the third parameter and closes as Escape would.
  r = panel(0, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Editing Parameter 3 of 3: 7\n"), std::string::npos) << r.err;
  EXPECT_EQ(project_text(), after);
}

TEST_F(BrainParametersRun, ElementListChoosesByClick) {
  const std::string brain = "userele target = 1\r\n";
  std::vector<std::string> brains(20, "var a\r\n");
  brains[0] = brain;
  make_project(brains, {}, configured(0, brain));
  std::string before = project_text();
  // Down x3 (top row 3), a wheel notch towards the user (6) and one away (3),
  // a click on the first row shown.
  program_test::Outcome r = panel(0, "30 key 80\n31 key 80\n32 key 80\n40 wheel -120\n50 wheel 120\n"
                                     "60 mouse 320 222 1\n62 mouse 320 222 0\n80 key 1\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(project_text(), with_fields(before, "e0", {{35, "1/1/3/1020"}, {45, "0"}, {46, "3"}}));
}

TEST_F(BrainParametersRun, ResetAsksAndYesRestoresTheDefaults) {
  make_project({kTwoParameters}, {}, configured(0, kTwoParameters, "g", "3/2/42/1020/7//1016/4/9/1012"));
  std::string before = project_text();
  // Reset, then Escape in the question (NO): nothing changes but the position fields.
  program_test::Outcome r = panel(0, "30 mouse 170 408 1\n32 mouse 170 408 0\n80 key 1\n130 key 1\n");
  EXPECT_EQ(r.status, 0) << r.err;
  std::string kept = with_fields(before, "e0", {{45, "0"}, {46, "0"}});
  EXPECT_EQ(project_text(), kept);
  // Reset, then Enter (YES).
  r = panel(0, "30 mouse 170 408 1\n32 mouse 170 408 0\n80 key 28 13\n130 key 1\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(project_text(), with_fields(kept, "e0", {{35, "3/2/5/1020/7//1016/4/2/1012"}}));
}

TEST_F(BrainParametersRun, ApplySettingToGroupTakesSameGroupAndHeader) {
  const std::string other = "userint speed = 5\r\nuserdeg turn = 2\r\nvar more\r\n";
  std::vector<Field> fields = configured(0, kTwoParameters, "g");
  for (const Field& f : configured(1, kTwoParameters, "g")) fields.push_back(f);
  for (const Field& f : configured(2, kTwoParameters, "h")) fields.push_back(f);  // another group
  for (const Field& f : configured(3, other, "g")) fields.push_back(f);           // another header
  make_project({kTwoParameters, kTwoParameters, kTwoParameters, other}, {}, fields);
  std::string before = project_text();
  // On element 0: the second parameter set to 7, then Apply Setting To Group.
  program_test::Outcome r = panel(0, "30 key 81\n31 key 14\n32 key 8 7\n40 mouse 424 408 1\n42 mouse 424 408 0\n60 key 1\n");
  EXPECT_EQ(r.status, 0) << r.err;
  std::string expected = with_fields(before, "e0", {{35, "3/2/5/1020/7//1016/4/7/1012"}, {45, "1"}, {46, "0"}});
  expected = with_fields(expected, "e1", {{35, "3/2/5/1020/7//1016/4/7/1012"}});
  EXPECT_EQ(project_text(), expected);
}

TEST_F(BrainParametersRun, ChangedHeaderIsResetWithTheNotice) {
  make_project({kTwoParameters}, {}, configured(0, kTwoParameters, "g", "3/2/42/1020/7//1016/4/9/1012"));
  // The brain kept in the project gains a declaration after the project was saved.
  std::string text = project_text();
  std::size_t at = text.find("var ticks\r\n");
  ASSERT_NE(at, std::string::npos);
  text.insert(at, "userint extra = 3\r\n");
  write(work + "projects/t.prj", text);
  std::string changed = std::string(kTwoParameters).insert(std::string(kTwoParameters).find("var ticks"),
                                                             "userint extra = 3\r\n");

  // Nothing scripted: the notice goes to stderr and its OK is taken.
  program_test::Outcome r = panel(0, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("A brain's header modification has occurred, so the\ne0\nelement configuration (if any) was "
                       "reset.\nTo cofigure again the element, enter the Info panel for it\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(project_text(), with_fields(text, "e0",
                                        {{35, "4/2/5/1020/2/3/1016/7//1012/4/2/1008"}, {40, signature_of(changed)}, {45, "0"},
                                         {46, "0"}}));

  // The header is now the one stored: no notice again.
  r = panel(0, "30 key 28 13\n60 key 1\n");
  EXPECT_EQ(r.err.find("header modification"), std::string::npos) << r.err;
}

TEST_F(BrainParametersRun, BrainWithoutUserParametersOpensNoPanel) {
  const std::string brain = "var a = 1\r\nuserxyz b\r\n";
  make_project({brain}, {}, configured(0, brain));
  std::string before = project_text();
  program_test::Outcome r = panel(0, "30 key 1\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Element 0 (e0): its brain has no user parameters to set\n"), std::string::npos) << r.err;
  EXPECT_EQ(project_text(), before);
}

}  // namespace
