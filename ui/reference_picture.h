// Tests: a drawn 640 x 480 panel screen against a stored reference picture.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "media/media.h"
#include "ui/ui.h"

namespace ui_test {

// Compares the screen's pixels with the PCX at reference; REGENERATE=1 in the
// environment rewrites the reference from the screen first.
inline void expect_reference_picture(const ui::Screen& screen, const std::string& reference, const char* what) {
  std::span<const std::uint8_t> pixels(screen.pixels, 640 * 480);
  if (std::getenv("REGENERATE")) {
    ASSERT_TRUE(media::write_pcx(reference, 640, 480, pixels, media::scheme_palette()));
  }
  std::vector<std::uint8_t> stored(640 * 480);
  media::ImageSize size;
  ASSERT_EQ(media::load_pcx(reference, media::kPcxColourTable, stored, size), 640 * 480) << reference;
  int differ = 0;
  for (int i = 0; i < 640 * 480; ++i) differ += stored[i] != pixels[i];
  EXPECT_EQ(differ, 0) << "rendered " << what << " differs from " << reference << " (REGENERATE=1 rewrites it)";
}

}  // namespace ui_test
