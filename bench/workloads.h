// Workloads shared by the benchmarks: the generated compile project and the
// motion brain that every execution comparison runs.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline constexpr int kBrains = 256;
inline constexpr int kLinesPerBrain = 200;

// A brain of exactly kLinesPerBrain lines: declarations, arithmetic, nested
// conditions, keyword calls, labels and jumps. `seed` makes every brain differ.
inline std::string generated_brain(int seed) {
  std::vector<std::string> lines = {"; generated brain " + std::to_string(seed), "var speed = 0", "var turn",
                                    "var count", "userint limit = 40", "usermet height = 2.5"};
  // Groups of ten lines as people write them: comments, a blank line and a
  // label beside statements, about 9 bytes of code per line on average (the
  // whole project must fit the 522,240-byte code buffer).
  for (int i = 0; static_cast<int>(lines.size()) + 10 <= kLinesPerBrain - 6; ++i) {
    std::string k = std::to_string(seed + i);
    lines.insert(lines.end(), {"; steering " + k, "speed = speed + " + k, "if speed > limit", "speed = limit",
                               "endif", "velocity_x_set(element, speed)", "", "turn = -turn", "; next step",
                               "step" + std::to_string(i) + ":"});
  }
  const std::string filler = "count = count - 1";
  while (static_cast<int>(lines.size()) < kLinesPerBrain - 6) lines.push_back(filler);
  lines.insert(lines.end(), {"count = count + 1", "if count < 3", "gosub wobble", "endif", "return", "wobble:"});
  if (lines.size() != kLinesPerBrain) std::abort();
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

// A typical motion brain of about 20 keyword calls on real runtime routines.
inline constexpr char kMotionBrain[] =
    "var n\r\n"
    "n = n + 1\r\n"
    "gravity(element, 0, -3, 0)\r\n"
    "thrust(element, 20)\r\n"
    "spin_y_set(element, 256)\r\n"
    "friction_xz(element, 500)\r\n"
    "drag_y(element, 100)\r\n"
    "velocity_update(element)\r\n"
    "spin_update(element)\r\n"
    "if position_y(element) < 0\r\n"
    "position_y_set(element, 0)\r\n"
    "velocity_y_set(element, 0)\r\n"
    "endif\r\n"
    "if distance(element, first_element()) > 50000000\r\n"
    "position_x_set(element, 0)\r\n"
    "position_z_set(element, 0)\r\n"
    "endif\r\n"
    "rotation_x_set(element, wrap(rotation_x(element), 0, 184319))\r\n"
    "credits_add(element, limit(speed(element), 0, 1000))\r\n"
    "n = n + random(0, 3) + factor_512(n, 3)\r\n";

}  // namespace bench
