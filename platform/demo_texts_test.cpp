// The demos' on-screen texts, measured with the system fonts their brains set:
// every `print` fits the 640-pixel screen, the racing HUD's speed leaves room for its
// unit, and the demo tells the player its keys.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "platform/platform.h"

namespace {

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The fonts a project's brains set, by slot.
struct Fonts {
  std::map<int, platform::SystemFont*> slot;
  explicit Fonts(const std::string& text) {
    static const std::regex font_set(R"re(font_set\("([^"]+)", (-?\d+), (\d+), (\d+)\))re");
    for (std::sregex_iterator m(text.begin(), text.end(), font_set), end; m != end; ++m)
      slot[std::stoi((*m)[4])] = platform::open_system_font((*m)[1].str(), std::stoi((*m)[2]), std::stoi((*m)[3]));
  }
  ~Fonts() {
    for (auto [n, font] : slot) platform::close_system_font(font);
  }
  int advance(int n, const std::string& text) const {
    auto at = slot.find(n);
    return at == slot.end() || !at->second ? -1 : platform::text_advance(*at->second, text);
  }
};

TEST(DemoTexts, EveryPrintFitsTheScreen) {
  static const std::regex print(R"re(print\("([^"]*)", (\d+), (\d+), (\d+)\))re");
  for (const char* project : {"/demo.prj", "/racing/racing.prj"}) {
    std::string text = read(ZEPTA_DEMO_DIR + std::string(project));
    ASSERT_FALSE(text.empty()) << project;
    Fonts fonts(text);
    int prints = 0;
    for (std::sregex_iterator m(text.begin(), text.end(), print), end; m != end; ++m, ++prints) {
      int width = fonts.advance(std::stoi((*m)[4]), (*m)[1].str());
      if (width < 0) GTEST_SKIP() << "no system font for " << (*m)[0];
      EXPECT_LE(std::stoi((*m)[2]) + width, 640) << project << ": " << (*m)[0];
    }
    EXPECT_GT(prints, 0) << project;
  }
}

TEST(DemoTexts, ThreeDigitSpeedsEndBeforeTheirUnit) {
  std::string text = read(ZEPTA_DEMO_DIR "/racing/racing.prj");
  std::smatch speed, unit;
  ASSERT_TRUE(std::regex_search(text, speed, std::regex(R"re(print_num\(kmh, 0, (\d+), \d+, (\d+)\))re")));
  ASSERT_TRUE(std::regex_search(text, unit, std::regex(R"re(print\("km/h", (\d+), )re")));
  Fonts fonts(text);
  int width = fonts.advance(std::stoi(speed[2]), "999");
  if (width < 0) GTEST_SKIP() << "no system font";
  EXPECT_LT(std::stoi(speed[1]) + width, std::stoi(unit[1]));
}

// In the demo game Enter ends the demo (`exit(2)`) and plays level 2, the racing demo.
TEST(DemoTexts, TheDemoSaysEnterGoesOn) {
  std::string text = read(ZEPTA_DEMO_DIR "/demo.prj");
  EXPECT_NE(text.find("Enter: next level"), std::string::npos);
}

}  // namespace
