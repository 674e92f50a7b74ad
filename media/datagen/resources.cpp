// Generators of the default resources of the working folder's resource folders
// (cameras, visuals, models, backgrounds, images, sounds, brains) and of the data
// folder's hood and marker models. Every file is made from formulas here.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "media/datagen/datagen.h"
#include "base/bytes.h"
#include "base/files.h"
#include "base/log.h"
#include "base/text.h"

namespace datagen {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct P3 {
  double x, y, z;
};
P3 operator-(P3 a, P3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
P3 operator+(P3 a, P3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
P3 operator*(P3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(P3 a, P3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
P3 cross(P3 a, P3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
P3 unit(P3 a) {
  double m = std::sqrt(dot(a, a));
  return m > 0 ? a * (1 / m) : P3{0, 1, 0};
}

struct ModelVertex {
  P3 p, n;
  double u, v;
};

// Triangles with clockwise fronts (left-handed, as Direct3D files are).
struct Model {
  std::vector<ModelVertex> v;
  // Adds a triangle turned so that its front faces outward.
  void triangle(ModelVertex a, ModelVertex b, ModelVertex c, P3 outward) {
    if (dot(cross(b.p - a.p, c.p - a.p), outward) < 0) std::swap(b, c);
    v.insert(v.end(), {a, b, c});
  }
  // A quad a b c d (around its edge) with normal n and the whole texture on it.
  void quad(P3 a, P3 b, P3 c, P3 d, P3 n) {
    ModelVertex va{a, n, 0, 0}, vb{b, n, 1, 0}, vc{c, n, 1, 1}, vd{d, n, 0, 1};
    triangle(va, vb, vc, n);
    triangle(va, vc, vd, n);
  }
};

void add_box(Model& m, P3 centre, P3 half) {
  static const int kAxes[3][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}};
  for (const auto& ax : kAxes) {
    for (int sign = -1; sign <= 1; sign += 2) {
      double h[3] = {half.x, half.y, half.z};
      auto corner = [&](double s1, double s2) {
        double c[3];
        c[ax[0]] = sign * h[ax[0]];
        c[ax[1]] = s1 * h[ax[1]];
        c[ax[2]] = s2 * h[ax[2]];
        return centre + P3{c[0], c[1], c[2]};
      };
      double nn[3] = {0, 0, 0};
      nn[ax[0]] = sign;
      P3 n{nn[0], nn[1], nn[2]};
      m.quad(corner(-1, 1), corner(1, 1), corner(1, -1), corner(-1, -1), n);
    }
  }
}

void add_sphere(Model& m, double radius, int rings, int segments) {
  auto at = [&](int i, int j) {
    double th = kPi * i / rings, ph = 2 * kPi * j / segments;
    P3 n{std::sin(th) * std::cos(ph), std::cos(th), std::sin(th) * std::sin(ph)};
    return ModelVertex{n * radius, n, static_cast<double>(j) / segments, static_cast<double>(i) / rings};
  };
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < segments; ++j) {
      ModelVertex a = at(i, j), b = at(i, j + 1), c = at(i + 1, j + 1), d = at(i + 1, j);
      P3 out = unit(a.p + c.p);
      if (i > 0) m.triangle(a, b, c, out);
      if (i < rings - 1) m.triangle(a, c, d, out);
    }
}

std::string num(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%.6f", std::fabs(v) < 5e-7 ? 0.0 : v);
  return s;
}

// A text ".x" file of one mesh with normals and texture coordinates.
std::string x_text(const Model& m, const char* name) {
  std::string t = "xof 0303txt 0032\r\n\r\nMesh " + std::string(name) + " {\r\n";
  std::size_t n = m.v.size();
  auto list = [&](auto each, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) t += " " + each(i) + (i + 1 < count ? ",\r\n" : ";\r\n");
  };
  t += " " + std::to_string(n) + ";\r\n";
  list([&](std::size_t i) { return num(m.v[i].p.x) + ";" + num(m.v[i].p.y) + ";" + num(m.v[i].p.z) + ";"; }, n);
  t += " " + std::to_string(n / 3) + ";\r\n";
  auto faces = [&] {
    list([&](std::size_t f) {
      return "3;" + std::to_string(f * 3) + "," + std::to_string(f * 3 + 1) + "," + std::to_string(f * 3 + 2) + ";";
    }, n / 3);
  };
  faces();
  t += " MeshNormals {\r\n " + std::to_string(n) + ";\r\n";
  list([&](std::size_t i) { return num(m.v[i].n.x) + ";" + num(m.v[i].n.y) + ";" + num(m.v[i].n.z) + ";"; }, n);
  t += " " + std::to_string(n / 3) + ";\r\n";
  faces();
  t += " }\r\n MeshTextureCoords {\r\n " + std::to_string(n) + ";\r\n";
  list([&](std::size_t i) { return num(m.v[i].u) + ";" + num(m.v[i].v) + ";"; }, n);
  t += " }\r\n}\r\n";
  return t;
}

// A minimal ".3ds": main, editor, named object, triangle mesh with vertices and faces.
std::vector<uint8_t> three_ds(const Model& m) {
  auto u16 = [](std::vector<uint8_t>& o, unsigned v) { base::append_le16(o, static_cast<std::uint16_t>(v)); };
  auto u32 = [](std::vector<uint8_t>& o, std::uint32_t v) { base::append_le32(o, v); };
  auto chunk = [&](unsigned id, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> o;
    u16(o, id);
    u32(o, static_cast<std::uint32_t>(body.size() + 6));
    o.insert(o.end(), body.begin(), body.end());
    return o;
  };
  std::vector<uint8_t> vertices, faces;
  u16(vertices, static_cast<unsigned>(m.v.size()));
  for (const ModelVertex& v : m.v)
    for (double c : {v.p.x, v.p.z, v.p.y}) {  // 3DS is z-up
      float f = static_cast<float>(c);
      std::uint32_t bits;
      std::memcpy(&bits, &f, 4);
      u32(vertices, bits);
    }
  u16(faces, static_cast<unsigned>(m.v.size() / 3));
  for (std::size_t f = 0; f < m.v.size() / 3; ++f) {
    u16(faces, static_cast<unsigned>(f * 3)), u16(faces, static_cast<unsigned>(f * 3 + 1)), u16(faces, static_cast<unsigned>(f * 3 + 2));
    u16(faces, 7);
  }
  std::vector<uint8_t> mesh = chunk(0x4110, vertices), f = chunk(0x4120, faces);
  mesh.insert(mesh.end(), f.begin(), f.end());
  std::vector<uint8_t> object = {'b', 'o', 'x', 0};
  std::vector<uint8_t> trimesh = chunk(0x4100, mesh);
  object.insert(object.end(), trimesh.begin(), trimesh.end());
  std::vector<uint8_t> version;
  u32(version, 3);
  std::vector<uint8_t> main = chunk(0x0002, version), editor = chunk(0x3D3D, chunk(0x4000, object));
  main.insert(main.end(), editor.begin(), editor.end());
  return chunk(0x4D4D, main);
}

// PCM WAV, mono 16-bit at 22,050 Hz.
std::vector<uint8_t> wav(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> o;
  o.reserve(44 + samples.size() * 2);
  auto tag = [&](const char* t) {
    for (int i = 0; i < 4; ++i) o.push_back(static_cast<uint8_t>(t[i]));
  };
  auto u16 = [&](unsigned v) { base::append_le16(o, static_cast<std::uint16_t>(v)); };
  auto u32 = [&](std::uint32_t v) { base::append_le32(o, v); };
  std::uint32_t bytes = static_cast<std::uint32_t>(samples.size() * 2);
  tag("RIFF"), u32(36 + bytes), tag("WAVE"), tag("fmt "), u32(16), u16(1), u16(1), u32(22050), u32(44100), u16(2), u16(16);
  tag("data"), u32(bytes);
  for (int16_t s : samples) u16(static_cast<uint16_t>(s));
  return o;
}

// A checker texture in two scheme colours with a border.
std::vector<uint8_t> checker(int side, int cell, uint8_t a, uint8_t b, uint8_t border) {
  std::vector<uint8_t> p(static_cast<std::size_t>(side) * side);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      bool edge = x < 2 || y < 2 || x >= side - 2 || y >= side - 2;
      p[static_cast<std::size_t>(y) * side + x] = edge ? border : ((x / cell + y / cell) % 2 ? a : b);
    }
  return p;
}

// A sky: scheme colours from light blue at the top to pale near the horizon, green below.
// The default counter: one strip of 12 cells of 8 x 12 pixels, the digits 0 to
// 9, the minus sign and the decimal point, in ink on colour 0 (transparent).
// Each glyph is a 3 x 5 pattern doubled, one pixel in from the cell's corner.
constexpr int kCounterCellWidth = 8, kCounterCellHeight = 12, kCounterCells = 12;
std::vector<uint8_t> counter_strip(uint8_t ink) {
  static constexpr const char* kGlyphs[kCounterCells] = {
      "111101101101111", "010110010010111", "111001111100111", "111001111001111",
      "101101111001001", "111100111001111", "111100111101111", "111001001001001",
      "111101111101111", "111101111001111", "000000111000000", "000000000000010"};
  int width = kCounterCellWidth * kCounterCells;
  std::vector<uint8_t> p(static_cast<std::size_t>(width) * kCounterCellHeight, 0);
  for (int c = 0; c < kCounterCells; ++c)
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 6; ++x)
        if (kGlyphs[c][(y / 2) * 3 + x / 2] == '1')
          p[static_cast<std::size_t>(y + 1) * width + c * kCounterCellWidth + x + 1] = ink;
  return p;
}

// The default picture frame: a 640 x 32 status bar, darker towards its foot,
// with a light top edge.
std::vector<uint8_t> status_bar(int w, int h) {
  std::vector<uint8_t> p(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    int shade = y < 2 ? 200 : 110 - y * 60 / h;
    auto c = static_cast<uint8_t>(media::colour_index(shade / 3, shade / 2, shade));
    for (int x = 0; x < w; ++x) p[static_cast<std::size_t>(y) * w + x] = c;
  }
  return p;
}

std::vector<uint8_t> sky(int w, int h) {
  std::vector<uint8_t> p(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    double t = static_cast<double>(y) / (h - 1);
    int r = t < 0.55 ? static_cast<int>(80 + 140 * t) : 60, g = t < 0.55 ? static_cast<int>(140 + 100 * t) : 130,
        b = t < 0.55 ? 230 : 60;
    for (int x = 0; x < w; ++x) p[static_cast<std::size_t>(y) * w + x] = static_cast<uint8_t>(media::colour_index(r, g, b));
  }
  return p;
}

}  // namespace

// An uncompressed 8-bit BMP with the palette.
std::vector<uint8_t> bmp8(int w, int h, const std::vector<uint8_t>& pixels, const media::Palette& palette) {
  std::vector<uint8_t> o;
  auto u16 = [&](unsigned v) { base::append_le16(o, static_cast<std::uint16_t>(v)); };
  auto u32 = [&](std::uint32_t v) { base::append_le32(o, v); };
  std::uint32_t row = (static_cast<std::uint32_t>(w) + 3) & ~3u, data = 14 + 40 + 1024;
  o.push_back('B'), o.push_back('M');
  u32(data + row * h), u32(0), u32(data);
  u32(40), u32(w), u32(h), u16(1), u16(8), u32(0), u32(row * h), u32(2835), u32(2835), u32(256), u32(0);
  for (const auto& c : palette) o.insert(o.end(), {c[2], c[1], c[0], 0});
  for (int y = h - 1; y >= 0; --y) {
    o.insert(o.end(), pixels.begin() + static_cast<std::ptrdiff_t>(y) * w, pixels.begin() + static_cast<std::ptrdiff_t>(y + 1) * w);
    o.insert(o.end(), row - w, 0);
  }
  return o;
}

std::vector<uint8_t> screen_picture(const media::Font& font, std::initializer_list<const char*> lines, int scale,
                                    uint8_t ink, uint8_t paper) {
  constexpr int kW = kPictureWidth, kH = kPictureHeight;
  std::vector<uint8_t> px(static_cast<std::size_t>(kW) * kH, paper);
  int line_height = (media::glyph_height(font) + 4) * scale;
  int y0 = (kH - line_height * static_cast<int>(lines.size())) / 2;
  auto advance = [&](char c) { return (c == ' ' ? media::space_width(font) : media::glyph(font, static_cast<unsigned char>(c)).width + 1) * scale; };
  for (const char* line : lines) {
    int width = 0;
    for (const char* c = line; *c; ++c) width += advance(*c);
    int pen = (kW - width) / 2;
    for (const char* c = line; *c; ++c) {
      media::Glyph g = media::glyph(font, static_cast<unsigned char>(*c));
      if (*c != ' ')
        for (int y = 0; y < g.height * scale; ++y)
          for (int x = 0; x < g.width * scale; ++x) {
            int sx = pen + x, sy = y0 + y;
            if (sx >= 0 && sx < kW && sy >= 0 && sy < kH && g.pixels[(y / scale) * g.stride + x / scale])
              px[static_cast<std::size_t>(sy) * kW + sx] = ink;
          }
      pen += advance(*c);
    }
    y0 += line_height;
  }
  return px;
}

// The default ground map ("grndmaps/default_.m3d"): flat ground at height 0
// over 2 km a side, two triangles that every cell lists (one shared list).
std::vector<uint8_t> flat_ground_map() {
  constexpr std::int32_t kHalf = 1000000;  // L
  const media::GroundTriangle square[2] = {{{-kHalf, 0, -kHalf, -kHalf, 0, kHalf, kHalf, 0, kHalf}},
                                           {{-kHalf, 0, -kHalf, kHalf, 0, kHalf, kHalf, 0, -kHalf}}};
  media::GroundMapLayout layout{square, 2 * kHalf, 0, {{0, 1}},
                                std::vector<std::int32_t>(media::kMapCells * media::kMapCells, 0)};
  std::vector<std::byte> map = media::write_ground_map(layout);
  const auto* bytes = reinterpret_cast<const uint8_t*>(map.data());
  return {bytes, bytes + map.size()};
}

bool generate_models(std::string_view data_dir) {
  std::string dir(data_dir);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  bool ok = true;
  auto put = [&](const std::string& name, const Model& m) {
    base::TextFile f;
    std::string text = x_text(m, "model");
    if (!f.open_write_atomic(dir + name) || !f.print(text) || !f.close()) {
      base::report("datagen", "cannot write \"%s%s\"", dir.c_str(), name.c_str());
      ok = false;
    }
  };
  Model box, sphere, cross;
  add_box(box, {0, 0, 0}, {1, 1, 1});
  add_sphere(sphere, 1, 8, 12);
  for (P3 half : {P3{1, 0.05, 0.05}, P3{0.05, 1, 0.05}, P3{0.05, 0.05, 1}}) add_box(cross, {0, 0, 0}, half);
  put("bndbox.x", box);
  put("radius.x", sphere);
  put("cross.x", cross);
  // Hood models 0..4: a and b parts, a dashboard below the camera's view, beyond
  // the nearest visible distance (1 scene unit), growing with the type.
  for (int type = 0; type <= 4; ++type) {
    Model a, b;
    double w = 0.8 + 0.2 * type;
    add_box(a, {0, -0.95, 2.0}, {w, 0.2, 0.5});
    add_box(b, {0, -0.7, 2.3}, {w * 0.3, 0.06, 0.1});
    put("hood" + std::to_string(type) + "a.x", a);
    put("hood" + std::to_string(type) + "b.x", b);
  }
  return ok;
}

bool generate_resources(std::string_view work_dir) {
  std::string dir(work_dir);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  bool ok = true;
  for (const char* folder : {"cameras", "visuals", "xvisuals", "3dsfiles", "3dshapes", "bckgrnds", "sprites", "frames",
                             "counters", "grndmaps", "images", "sounds", "brains"}) {
    std::string path = dir + folder;
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
      base::report("datagen", "cannot create \"%s\": %s", path.c_str(), std::strerror(errno));
      return false;
    }
  }
  auto put_bytes = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
    base::TextFile f;
    if (!f.open_write_atomic(dir + name) || !f.write_bytes(bytes.data(), bytes.size()) || !f.close()) {
      base::report("datagen", "cannot write \"%s%s\"", dir.c_str(), name.c_str());
      ok = false;
    }
  };
  auto put_text = [&](const std::string& name, const std::string& text) {
    put_bytes(name, std::vector<uint8_t>(text.begin(), text.end()));
  };
  const media::Palette& palette = media::scheme_palette();
  auto put_pcx = [&](const std::string& name, int w, int h, const std::vector<uint8_t>& pixels) {
    if (!media::write_pcx(dir + name, w, h, pixels, palette)) {
      base::report("datagen", "cannot write \"%s%s\"", dir.c_str(), name.c_str());
      ok = false;
    }
  };

  put_text("cameras/default_.03d", "-240\r\n");
  Model box;
  add_box(box, {0, 0, 0}, {1, 1, 1});
  Model ball;
  add_sphere(ball, 1, 10, 16);
  put_text("xvisuals/default_.x", x_text(box, "box"));
  put_text("xvisuals/default_002.x", x_text(ball, "ball"));
  put_bytes("3dsfiles/default_.3ds", three_ds(box));
  uint8_t orange = static_cast<uint8_t>(media::colour_index(240, 140, 40));
  uint8_t cream = static_cast<uint8_t>(media::colour_index(250, 240, 210));
  uint8_t brown = static_cast<uint8_t>(media::colour_index(90, 50, 20));
  std::vector<uint8_t> tex = checker(64, 16, orange, cream, brown);
  put_bytes("xvisuals/default_.bmp", bmp8(64, 64, tex, palette));
  put_pcx("xvisuals/default_.pcx", 64, 64, tex);
  put_text("visuals/default_.v3d", "1|./xvisuals/default_.bmp|./xvisuals/default_.x|3|0|FFFFFF|0|0|0\r\n");
  put_text("bckgrnds/default_.g3d", "0|./bckgrnds/default_.pcx\r\n");
  std::vector<uint8_t> sky_pixels = sky(128, 64);
  put_pcx("bckgrnds/default_.pcx", 128, 64, sky_pixels);
  put_bytes("bckgrnds/bkgr000_.bmp", bmp8(128, 64, sky_pixels, palette));
  std::vector<uint8_t> small = checker(32, 8, static_cast<uint8_t>(media::colour_index(60, 120, 220)), cream, brown);
  for (const char* name : {"sprites/default_.pcx", "grndmaps/default_.pcx"}) put_pcx(name, 32, 32, small);
  put_pcx("frames/default_.pcx", 640, 32, status_bar(640, 32));
  put_pcx("counters/default_.pcx", kCounterCellWidth * kCounterCells, kCounterCellHeight,
          counter_strip(static_cast<uint8_t>(media::colour_index(255, 230, 60))));
  put_bytes("images/default_.bmp", bmp8(32, 32, small, palette));
  put_pcx("images/default_.pcx", 32, 32, small);
  put_bytes("grndmaps/default_.m3d", flat_ground_map());

  // The brain a new brain starts from, and an example with a user parameter.
  put_text("brains/null_.brn", "; An empty brain: it does nothing.\r\n");
  put_text("brains/default_.brn",
           "; An example brain. Everything after \";\" is a comment.\r\n"
           "; \"userdeg\" declares a user parameter: every element running this\r\n"
           "; brain sets its own value in the parameter panel; the text after\r\n"
           "; \"=\" is the default, in degrees here.\r\n"
           "userdeg turn = 2\r\n"
           "var ticks = 0\r\n"
           "\r\n"
           "; The brain runs from the top once a tick: turn about y, count the ticks.\r\n"
           "rotation_y_add(element, turn)\r\n"
           "ticks = ticks + 1\r\n");

  // The pictures of packaged games' slots: loading, load complete, and black
  // (which skips the load-complete step).
  media::Font font;
  std::string font_error;
  if (render_font(kNormalFont, font, font_error)) {
    uint8_t white = static_cast<uint8_t>(media::colour_index(255, 255, 255));
    uint8_t night = static_cast<uint8_t>(media::colour_index(10, 20, 60));
    auto picture = [&](const char* name, std::initializer_list<const char*> lines, uint8_t paper) {
      put_bytes(name, bmp8(kPictureWidth, kPictureHeight, screen_picture(font, lines, 1, white, paper), palette));
    };
    picture("images/wait_.bmp", {"Loading, please wait..."}, night);
    picture("images/anykey_.bmp", {"Ready!", "Press any key"}, night);
    picture("images/black_.bmp", {}, static_cast<uint8_t>(media::colour_index(0, 0, 0)));
  } else {
    base::report("datagen", "the packaged games' pictures: %s", font_error.c_str());
    ok = false;
  }

  // The default 3D shape: a cube of 2 scene units, five faces textured from a
  // 256 x 16 atlas of 16-pixel tiles (a border in a darker shade), the top a plain red face.
  std::vector<uint8_t> atlas(256 * 16, 0);
  static constexpr int kTileColours[5][3] = {{240, 140, 40}, {60, 120, 220}, {60, 180, 80}, {250, 240, 210}, {160, 80, 200}};
  for (int k = 0; k < 5; ++k) {
    const int* c = kTileColours[k];
    uint8_t fill = static_cast<uint8_t>(media::colour_index(c[0], c[1], c[2]));
    uint8_t edge = static_cast<uint8_t>(media::colour_index(c[0] / 2, c[1] / 2, c[2] / 2));
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) atlas[static_cast<std::size_t>(y) * 256 + k * 16 + x] = x == 0 || y == 0 || x == 15 || y == 15 ? edge : fill;
  }
  put_pcx("3dshapes/default_.pcx", 256, 16, atlas);
  std::string shape = "16|./3dshapes/default_.pcx|8|6|3\r\n";
  for (int i = 0; i < 8; ++i)
    shape += std::to_string(i & 1 ? 1000 : -1000) + "|" + std::to_string(i & 2 ? 1000 : -1000) + "|" +
             std::to_string(i & 4 ? 1000 : -1000) + "\r\n";
  int red = media::colour_index(220, 30, 30);
  shape += "4|0|0|2|3|1|0\r\n";    // front (-z), tile 0
  shape += "4|0|16|7|6|4|5\r\n";   // back (+z), tile 1
  shape += "4|0|32|3|7|5|1\r\n";   // right (+x), tile 2
  shape += "4|0|48|6|2|0|4\r\n";   // left (-x), tile 3
  shape += "4|0|64|5|4|0|1\r\n";   // bottom (-y), tile 4
  shape += std::to_string(red << 16 | 6) + "|0|0|6|7|3|2\r\n";  // top (+y): coloured
  put_text("3dshapes/default_.a3d", shape);

  put_bytes("sounds/null_.wav", wav(std::vector<int16_t>(2205, 0)));  // 0.1 s of silence
  std::vector<int16_t> beep(5512);
  for (std::size_t i = 0; i < beep.size(); ++i) {
    double fade = 1.0 - static_cast<double>(i) / beep.size();
    beep[i] = static_cast<int16_t>(8000 * fade * std::sin(2 * kPi * 440 * i / 22050.0));
  }
  put_bytes("sounds/default_.wav", wav(beep));

  // The demo's engine hum: 0.2 s that loops without a seam (every partial, and
  // the 10 Hz throb, fits a whole number of periods).
  std::vector<int16_t> hum(4410);
  for (std::size_t i = 0; i < hum.size(); ++i) {
    double t = static_cast<double>(i) / 22050.0;
    double throb = 0.75 + 0.25 * std::sin(2 * kPi * 10 * t);
    double s = std::sin(2 * kPi * 50 * t) + 0.6 * std::sin(2 * kPi * 100 * t) + 0.35 * std::sin(2 * kPi * 150 * t) +
               0.2 * std::sin(2 * kPi * 250 * t);
    hum[i] = static_cast<int16_t>(5000 * throb * s);
  }
  put_bytes("sounds/hum.wav", wav(hum));

  // A clunk: a falling thump under a short burst of noise, 0.25 s.
  std::vector<int16_t> clunk(5512);
  std::uint32_t noise = 12345;
  double phase = 0;
  for (std::size_t i = 0; i < clunk.size(); ++i) {
    double t = static_cast<double>(i) / 22050.0;
    phase += 2 * kPi * (70 + 90 * std::exp(-t * 30)) / 22050.0;
    noise = noise * 1664525u + 1013904223u;
    double hiss = (static_cast<double>(noise >> 16) / 32768.0 - 1.0) * std::exp(-t * 60);
    clunk[i] = static_cast<int16_t>(14000 * std::exp(-t * 14) * std::sin(phase) + 6000 * hiss);
  }
  put_bytes("sounds/clunk.wav", wav(clunk));
  return ok;
}

}  // namespace datagen
