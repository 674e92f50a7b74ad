// The keyword reference of docs/brains.md against the one the program's own
// bindings give. ZEPTA_UPDATE_DOCS=1 rewrites the guide's section instead.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "brain/brain.h"
#include "shell/shell.h"

namespace {

constexpr std::string_view kBegin = "<!-- keywords:begin -->\n", kEnd = "<!-- keywords:end -->";

// Each bound keyword says in one line what its arguments mean and what it
// gives, under a subject.
TEST(KeywordReference, EveryBoundKeywordIsDescribed) {
  shell::bind_all_keywords();
  for (int row = 0; row < brain::kKeywordRows; ++row) {
    if (brain::is_placeholder(row)) continue;
    std::string_view doc = brain::routine_doc(row);
    EXPECT_FALSE(doc.empty()) << brain::keyword(row).name;
    EXPECT_EQ(doc.find('\n'), std::string_view::npos) << brain::keyword(row).name;
    EXPECT_LE(doc.size(), 120u) << brain::keyword(row).name;
    EXPECT_FALSE(brain::routine_subject(row).empty()) << brain::keyword(row).name;
  }
}

TEST(KeywordReference, TheBrainGuideShowsTheReference) {
  shell::bind_all_keywords();
  std::string text;
  {
    std::ifstream in(ZEPTA_BRAINS_DOC, std::ios::binary);
    ASSERT_TRUE(in) << ZEPTA_BRAINS_DOC;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
  }
  std::size_t begin = text.find(kBegin);
  ASSERT_NE(begin, std::string::npos) << "no " << kBegin << " in " << ZEPTA_BRAINS_DOC;
  begin += kBegin.size();
  std::size_t end = text.find(kEnd, begin);
  ASSERT_NE(end, std::string::npos) << "no " << kEnd << " in " << ZEPTA_BRAINS_DOC;

  std::string section = "\n" + brain::keyword_reference();
  if (text.compare(begin, end - begin, section) == 0) return;
  const char* update = std::getenv("ZEPTA_UPDATE_DOCS");
  if (update && std::string_view(update) == "1") {
    text.replace(begin, end - begin, section);
    std::ofstream out(ZEPTA_BRAINS_DOC, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.flush()) << "can't write " << ZEPTA_BRAINS_DOC;
    std::printf("rewrote the keyword reference of %s\n", ZEPTA_BRAINS_DOC);
    return;
  }
  // The first line that differs says where.
  std::istringstream guide(text.substr(begin, end - begin)), bound(section);
  std::string have, want;
  int line = 0;
  for (bool more = true; more && have == want; ++line) {
    have.clear(), want.clear();
    more = static_cast<bool>(std::getline(guide, have));
    more = static_cast<bool>(std::getline(bound, want)) || more;
  }
  ADD_FAILURE() << "the keyword reference of " << ZEPTA_BRAINS_DOC << " is out of date at its line " << line
                << ":\n  written:  " << have << "\n  bindings: " << want
                << "\nRewrite it with `ZEPTA_UPDATE_DOCS=1 ctest -R KeywordReference` and review the change.";
}

}  // namespace
