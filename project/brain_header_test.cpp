// Brain headers: the signature of declaration lines, the configuration a brain
// declares, the header check of an element line and element renumbering.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "project/project.h"
#include "project/test_support.h"

namespace {

using project::HeaderCheck;

constexpr const char* kBrain =
    "; a moving brain\r\n"
    "var speed = 5 ; fast\r\n"
    "userele target = 2\r\n"
    "usermet height = 1.5\r\n"
    "again:\r\n"
    "  goto again\r\n";

uint32_t signature(const std::string& text) { return project::header_signature_of(text).signature; }

TEST(HeaderSignature, WorkedByHand) {
  // "var a": 'a' 97 + ' ' 32<<1 + 'r' 114<<2 + 'a' 97<<3 + 'v' 118<<4 = 3281.
  EXPECT_EQ(signature("var a\n"), 3281u);
  // "userint n" sums to 57982, rotated left by 1 as the second counted line.
  EXPECT_EQ(signature("var a\nuserint n\n"), 3281u ^ (57982u << 1));
  EXPECT_EQ(project::header_signature_of("var a\nuserint n\nuserxyz\n").user_lines, 2);
  EXPECT_EQ(project::header_signature_of("").signature, 0u);
}

TEST(HeaderSignature, WhichEditsCount) {
  const std::string base = kBrain;
  struct Case {
    const char* what;
    std::string text;
    bool changes;
  } cases[] = {
      {"body line changed", "var speed = 5 ; fast\nuserele target = 2\nusermet height = 1.5\nloop:\n goto loop\n", false},
      {"comment added after a declaration", "var speed = 5 ; slow now\nuserele target = 2 ; who\nusermet height = 1.5\n", false},
      {"case and outer blanks", "  VAR Speed = 5\n\tUSERELE Target = 2 \nUserMet HEIGHT = 1.5\n", false},
      {"comment line added", "; hello\nvar speed = 5\nuserele target = 2\nusermet height = 1.5\n", false},
      {"default changed", "var speed = 6\nuserele target = 2\nusermet height = 1.5\n", true},
      {"declaration renamed", "var speed = 5\nuserele goal = 2\nusermet height = 1.5\n", true},
      {"declaration added", "var speed = 5\nuserele target = 2\nusermet height = 1.5\nvar extra\n", true},
      {"declarations reordered", "userele target = 2\nvar speed = 5\nusermet height = 1.5\n", true},
      {"tag changed", "var speed = 5\nuserele target = 2\nuserdeg height = 1.5\n", true},
      {"declaration removed", "var speed = 5\nuserele target = 2\n", true},
  };
  uint32_t reference = signature("var speed = 5\nuserele target = 2\nusermet height = 1.5\n");
  EXPECT_EQ(signature(base), reference);
  for (const Case& c : cases) EXPECT_EQ(signature(c.text) != reference, c.changes) << c.what;
}

TEST(ReadDeclarations, KindsSettingsAndSlots) {
  struct Case {
    const char* text;
    const char* field35;
  } cases[] = {
      {kBrain, "3/7/5/1020/1/2/1016/3/1.5/1012"},
      {"", "0"},
      {"; only a comment\nprint(1)\n", "0"},
      // Tabs as blanks, case folded, the setting after the first "=" and trimmed.
      {"VAR\tA = 1 = 2\n\tUSERINT  n =  -7  \n", "2/7/1 = 2/1020/2/-7/1016"},
      // A comment is no part of the setting: "5 ; fast" would read as 0.
      {"var speed = 5 ; fast\nvar slow ; = 9\n", "2/7/5/1020/7//1016"},
      // Every tag; "user" lines with another tag are kind 0 and no variable of
      // the compiler: they take the slot of the next declaration.
      {"userele a\nuserint b\nusermet c\nuserdeg d\nuservel e\nuserspi f\n",
       "6/1//1020/2//1016/3//1012/4//1008/5//1004/6//1000"},
      {"user int x = 1\nuserint y = 2\nuser\n", "3/0/1/1020/2/2/1020/0//1016"},
      // Only lines beginning "var " declare ("var;" and "variable" do not).
      {"var;x\nvariable = 3\nvar\n", "0"},
      // "/" and "|" would split the element line: the setting ends before them.
      {"var a = 10/2\nuserint b = 3|4\n", "2/7/10/1020/2/3/1016"},
      {"\xEF\xBB\xBFvar a = 1\n", "1/7/1/1020"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(project::format_parameters(project::read_declarations(c.text)), c.field35) << c.text;
}

TEST(ReadDeclarations, Names) {
  auto list = std::make_unique<project::ParameterList>(
      project::read_declarations(std::string(kBrain) + "VAR  Plain\nuser\nUSERdeg Turn=3\n"));
  ASSERT_EQ(list->count, 6);
  const char* names[] = {"speed", "target", "height", "plain", "", "turn"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(list->parameter[i].name, names[i]) << i;
  EXPECT_EQ(project::parse_parameters("1/2/5/1020").parameter[0].name, "");
}

TEST(ReadDeclarations, AtMost127SlotsDownTo516) {
  std::string text;
  for (int i = 0; i < 130; ++i) text += "var v" + std::to_string(i) + " = " + std::to_string(i) + "\n";
  auto list = std::make_unique<project::ParameterList>(project::read_declarations(text));
  ASSERT_EQ(list->count, 127);
  EXPECT_EQ(list->parameter[0].slot, 1020);
  EXPECT_EQ(list->parameter[126].slot, 516);
  EXPECT_EQ(list->parameter[126].setting, "126");
}

TEST(Parameters, ParseAndFormat) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"1/1/2/1020", "1/1/2/1020"},
      {"2/7/5/1020/2/-3/1016", "2/7/5/1020/2/-3/1016"},
      {"0", "0"},
      {"", "0"},
      {"3/7/5/1020/2/1", "1/7/5/1020"},  // a triple cut short is left out
  };
  for (const Case& c : cases) EXPECT_EQ(project::format_parameters(project::parse_parameters(c.in)), c.out) << c.in;
  std::string many = "200";
  for (int i = 0; i < 200; ++i) many += "/2/" + std::to_string(i) + "/" + std::to_string(1020 - 4 * i);
  EXPECT_EQ(project::parse_parameters(many).count, 127);
}

// An element line whose fields 4, 35, 40, 45, 46 and 49 are given.
base::Text element_line(const std::string& name, const std::string& brain, const std::string& params,
                         const std::string& checksum, const std::string& group = "0") {
  std::string line = name;
  for (int f = 2; f <= 50; ++f) {
    line += "|";
    if (f == 4) line += brain;
    else if (f == 35) line += params;
    else if (f == 40) line += checksum;
    else if (f == 45) line += "3";
    else if (f == 46) line += "5";
    else if (f == 49) line += group;
    else line += "0";
  }
  return base::Text(line);
}

struct HeaderFixture : ::testing::Test {
  project_test::WorkFolder work;
  std::unique_ptr<project::ElementLines> lines = std::make_unique<project::ElementLines>();
  std::string field(int i, int n) { return std::string(project::line_field(lines->line[i], n).view()); }
};

TEST_F(HeaderFixture, CheckHeaderResults) {
  std::string brain = work / "brains/mover.brn";
  project_test::write(brain, kBrain);
  uint32_t sig = project::header_signature(brain).signature;
  ASSERT_EQ(sig, signature(kBrain));
  std::string plain = work / "brains/plain.brn";
  project_test::write(plain, "var a = 1\nprint(a)\n");

  struct Case {
    const char* what;
    std::string brain;
    std::string checksum;
    HeaderCheck result;
    const char* field35;
    std::string field40;
    const char* field45;
  } cases[] = {
      {"signature unchanged", brain, std::to_string(sig), HeaderCheck::same, "1/2/9/1020", std::to_string(sig), "3"},
      {"header changed, user lines", brain, "17", HeaderCheck::reset_with_notice,
       "3/7/5/1020/1/2/1016/3/1.5/1012", std::to_string(sig), "0"},
      {"header changed, no user lines", plain, "17", HeaderCheck::reset, "1/7/1/1020",
       std::to_string(signature("var a = 1\n")), "0"},
      {"brain file missing", work / "brains/none.brn", "17", HeaderCheck::reset, "0", "0", "0"},
      {"brain file missing, signature 0 kept", work / "brains/none.brn", "0", HeaderCheck::same, "1/2/9/1020", "0",
       "3"},
  };
  for (const Case& c : cases) {
    lines->line[0] = element_line("Thing", c.brain, "1/2/9/1020", c.checksum);
    lines->highest = 0;
    EXPECT_EQ(project::check_header(*lines, 0), c.result) << c.what;
    EXPECT_EQ(field(0, 35), c.field35) << c.what;
    EXPECT_EQ(field(0, 40), c.field40) << c.what;
    EXPECT_EQ(field(0, 45), c.field45) << c.what;
    EXPECT_EQ(field(0, 46), c.result == HeaderCheck::same ? "5" : "0") << c.what;
    EXPECT_EQ(field(0, 1), "Thing") << c.what;
  }
}

TEST_F(HeaderFixture, ConfigurationTooLongForTheLineIsKept) {
  // 120 declarations with long defaults need more than a line holds.
  std::string text;
  for (int i = 0; i < 120; ++i) text += "var v" + std::to_string(i) + " = " + std::string(20, '7') + "\n";
  std::string brain = work / "brains/big.brn";
  project_test::write(brain, text);
  lines->line[0] = element_line("Big", brain, "1/2/9/1020", "17");
  lines->highest = 0;
  base::Text before = lines->line[0];
  EXPECT_EQ(project::check_header(*lines, 0), HeaderCheck::same);
  EXPECT_EQ(lines->line[0], before.view());
  EXPECT_FALSE(project::read_header(*lines, 0));
  EXPECT_EQ(field(0, 35), "1/2/9/1020");
}

TEST_F(HeaderFixture, ReadHeaderResetsToDefaults) {
  std::string brain = work / "brains/mover.brn";
  project_test::write(brain, kBrain);
  lines->line[0] = element_line("Thing", brain, "3/7/9/1020/1/0/1016/3/4/1012", "0");
  lines->highest = 0;
  EXPECT_TRUE(project::read_header(*lines, 0));
  EXPECT_EQ(field(0, 35), "3/7/5/1020/1/2/1016/3/1.5/1012");
  lines->line[0] = element_line("Thing", work / "brains/none.brn", "1/2/9/1020", "0");
  EXPECT_TRUE(project::read_header(*lines, 0));
  EXPECT_EQ(field(0, 35), "0");
}

TEST(HeaderNotice, Text) {
  EXPECT_EQ(project::header_notice("Ship"),
            "A brain's header modification has occurred, so the|Ship|element configuration (if any) was "
            "reset.|To cofigure again the element, enter the Info panel for it");
}

TEST_F(HeaderFixture, RenumberElementParameters) {
  lines->line[0] = element_line("A", "-", "3/1/4/1020/2/4/1016/1/7/1012", "0");
  lines->line[1] = element_line("B", "-", "2/1/04/1020/1/14/1016", "0");
  lines->line[2] = element_line("C", "-", "0", "0");
  lines->highest = 2;
  project::renumber_element_parameters(*lines, 4, 12);
  EXPECT_EQ(field(0, 35), "3/1/12/1020/2/4/1016/1/7/1012");  // the integer 4 is no element
  EXPECT_EQ(field(1, 35), "2/1/12/1020/1/14/1016");
  EXPECT_EQ(field(2, 35), "0");
}

}  // namespace
