// The models demo played headless: the walker's model loads with its walk
// cycle, the cycle's clock loops, the walker walks its circle, and the
// screenshot shows it on the floor.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The RGB rows of a PNG as the program writes it (8-bit RGB, one IDAT, filter 0).
bool read_png(const std::string& path, int& width, int& height, std::vector<std::uint8_t>& rgb) {
  std::string f = read(path);
  if (f.size() < 45 || f.compare(12, 4, "IHDR") != 0 || f.compare(37, 4, "IDAT") != 0) return false;
  auto be32 = [&](std::size_t i) {
    return std::uint32_t(std::uint8_t(f[i])) << 24 | std::uint8_t(f[i + 1]) << 16 | std::uint8_t(f[i + 2]) << 8 |
           std::uint8_t(f[i + 3]);
  };
  width = static_cast<int>(be32(16)), height = static_cast<int>(be32(20));
  std::size_t row = static_cast<std::size_t>(width) * 3 + 1;
  std::vector<std::uint8_t> raw(row * static_cast<std::size_t>(height));
  uLongf size = raw.size();
  if (uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(&f[41]), be32(33)) != Z_OK) return false;
  rgb.clear();
  for (int y = 0; y < height; ++y) rgb.insert(rgb.end(), &raw[row * y + 1], &raw[row * y + row]);
  return true;
}

// A dumped word ("element 4 3 VALUE", "global 1 VALUE"), or fallback when it is not there (0).
long dumped(const std::string& dump, const std::string& key, long fallback = 0) {
  std::size_t at = dump.find("\n" + key + " ");
  return at == std::string::npos ? fallback : std::stol(dump.substr(at + key.size() + 2));
}

TEST(ModelsDemo, TheWalkerWalksItsCircleWhileItsCycleLoops) {
  if (!fs::exists(ZEPTA_WORK "/projects/models/models.prj")) GTEST_SKIP() << "no models demo in the working folder";
  std::string base = testing::TempDir() + "models_demo_" + std::to_string(getpid());
  std::string dump = base + ".txt", shot = base + ".png", err = base + ".err";
  std::string cmd = "cd '" ZEPTA_WORK "' && '" ZEPTA_PROGRAM "' --headless --mode 1 --project projects/models/models.prj "
                    "--fast --ticks 42 --screenshot 40:'" + shot + "' --dump '" + dump + "' >/dev/null 2>'" + err + "'";
  int status = std::system(cmd.c_str());
  std::string errors = read(err);
  if (errors.find("no 3D rendering") != std::string::npos) GTEST_SKIP() << errors;
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << errors;
  EXPECT_EQ(errors.find("render:"), std::string::npos) << errors;  // both models loaded
  std::string text = "\n" + read(dump);

  // The cycle's clock (global 1) went round: 33 ms a drawn tick, wrapped into 0..1000
  // (a third of the cycle at the screenshot: the legs apart).
  long clock = dumped(text, "global 1", -1);
  EXPECT_GT(clock, 0);
  EXPECT_LE(clock, 1000);
  // The walker (element 4) left its start at x = 2.9 m, z = 0 and stays on its circle round the middle.
  double x = dumped(text, "element 4 3") / 512000.0, z = dumped(text, "element 4 5") / 512000.0;
  EXPECT_GT(z, 1.0);
  EXPECT_NEAR(x * x + z * z, 2.9 * 2.9, 0.6);

  // The screenshot: the walker's shirt (blue) and trousers (near black) on the chequered floor.
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  ASSERT_TRUE(read_png(shot, width, height, rgb));
  int shirt = 0, trousers = 0, green_checks = 0;
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
    int r = rgb[i], g = rgb[i + 1], b = rgb[i + 2];
    shirt += b > 120 && r < 80 && g < 120;
    trousers += r < 70 && g < 70 && b < 80;
    green_checks += g > r + 10 && g > b + 10;  // the floor wears its chequered texture
  }
  EXPECT_GT(shirt, 150);
  EXPECT_GT(trousers, 150);
  EXPECT_GT(green_checks, 10000);
  fs::remove(dump), fs::remove(shot), fs::remove(err);
}

}  // namespace
