// Shared by the panel tests: the generated data folder and scripted input whose
// ticks count from the next input sample.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace ui::test_input {

// ZEPTA_TEST_DATA + "/", or "" when it is not set.
inline std::string data_folder() {
  const char* d = std::getenv("ZEPTA_TEST_DATA");
  return d ? std::string(d) + "/" : std::string();
}

// Events of text, their ticks counted from the next input sample.
inline void script(const std::string& text) {
  platform::Script s;
  platform::ScriptError error;
  ASSERT_TRUE(platform::parse_script(text, s, error)) << error.message;
  for (platform::ScriptEvent& e : s.events) e.tick += platform::input().sample_count;
  platform::set_script(std::move(s));
}

}  // namespace ui::test_input
