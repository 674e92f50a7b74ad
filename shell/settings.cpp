// Folders and role, runmode.ini, config.ini and the instance lock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "shell/shell.h"
#include "base/bytes.h"
#include "base/files.h"

namespace shell {

// ---- Folders and runmode.ini ---------------------------------------------------------

Folders make_folders(std::string_view current_directory, bool runmode_options) {
  Folders f;
  f.work = replace_all(current_directory, "\\", "/");
  if (f.work.empty() || f.work[f.work.length() - 1] != '/') f.work += '/';
  f.runmode_file = f.work + "runmode.ini";
  f.temp_file = f.work + "temp.tmp";
  f.tool_host = runmode_options || file_exists(f.runmode_file);
  if (f.tool_host) {
    f.data = f.work + "data/";
    f.engine_file = "engine.dll";
  } else {
    f.data = f.work;
  }
  return f;
}

namespace {

// Line n (1-based) of runmode.ini; false when the file is missing.
bool runmode_line(std::string_view path, int n, Text& line) {
  TextFile file;
  if (!file.open_read(path)) return false;
  line.clear();
  for (int i = 1; i <= n; ++i) {
    if (file.at_eof()) {
      line.clear();
      break;
    }
    line = file.read_line();
  }
  return true;
}

}  // namespace

Text runmode_project(const RunModeSource& source) {
  if (source.options && source.options->has_project) return source.options->project;
  Text line;
  if (!runmode_line(source.file, 1, line)) return Text();
  return line;
}

std::int32_t runmode_mode(const RunModeSource& source) {
  if (source.options && source.options->has_mode) return source.options->mode;
  Text line;
  if (!runmode_line(source.file, 2, line)) return 0;
  return value(line);
}

bool runmode_mode_line(const RunModeSource& source, Text& line) {
  if (source.options && source.options->has_mode) return false;
  return runmode_line(source.file, 2, line);
}

std::int32_t runmode_value(const RunModeSource& source, int n) {
  if (n == 1 && source.options && source.options->has_element) return source.options->element;
  Text line;
  if (n < 1 || !runmode_line(source.file, 2 + n, line)) return -1;
  return value(line);
}

// ---- config.ini ---------------------------------------------------------------------------

namespace {

constexpr char kUserSection[] = "User-Modifiable Engine Settings";
constexpr char kEngineSection[] = "Engine Settings";

struct ConfigKey {
  const char* section;
  const char* key;
  std::int32_t Config::*field;
};

// In the order the file is written.
constexpr ConfigKey kConfigKeys[] = {
    {kUserSection, "AvailableRenderingDevices", &Config::available_rendering_devices},
    {kUserSection, "RenderingDevice", &Config::rendering_device},
    {kUserSection, "AvailableDisplayModes", &Config::available_display_modes},
    {kUserSection, "DisplayMode", &Config::display_mode},
    {kUserSection, "Filtering", &Config::filtering},
    {kUserSection, "Sound", &Config::sound},
    {kUserSection, "SoundMixing", &Config::sound_mixing},
    {kEngineSection, "LegalDisplayModes", &Config::legal_display_modes},
};
static_assert(std::size(kConfigKeys) == 8, "config.ini holds eight settings");

constexpr const char* kSections[] = {kUserSection, kEngineSection};

bool same_name(std::string_view a, std::string_view b) { return lower(trim(a)) == lower(trim(b)); }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The file as lines; LF or CR LF both end a line here, since people edit it by hand.
std::vector<std::string> read_lines(std::string_view path) {
  std::vector<std::string> lines;
  long size = file_size(path);
  if (size <= 0 || size > (1 << 20)) return lines;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (read_file_at(path, 0, std::as_writable_bytes(std::span<char>(bytes.data(), bytes.size()))) != size) return lines;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    at = end + 1;
  }
  return lines;
}

// "[name]" gives name; anything else is not a section header.
bool section_of(std::string_view line, std::string_view& name) {
  Text t = trim(line);
  if (t.length() < 2 || t[0] != '[' || t[t.length() - 1] != ']') return false;
  std::size_t start = line.find('['), end = line.rfind(']');
  name = line.substr(start + 1, end - start - 1);
  return true;
}

const ConfigKey* key_of(std::string_view section, std::string_view line) {
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return nullptr;
  for (const ConfigKey& k : kConfigKeys)
    if (same_name(section, k.section) && same_name(line.substr(0, eq), k.key)) return &k;
  return nullptr;
}

}  // namespace

Text encode_profile_value(std::int32_t value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  auto u = static_cast<std::uint32_t>(value);
  char out[10];
  unsigned sum = 0;
  for (int i = 0; i < 4; ++i) {
    unsigned byte = (u >> (8 * i)) & 0xFF;  // memory order: little-endian
    sum += byte;
    out[2 * i] = kHex[byte >> 4];
    out[2 * i + 1] = kHex[byte & 15];
  }
  out[8] = kHex[(sum >> 4) & 15];
  out[9] = kHex[sum & 15];
  return Text(std::string_view(out, 10));
}

bool decode_profile_value(std::string_view text, std::int32_t& value) {
  if (text.size() != 10) return false;
  unsigned bytes[5];
  for (int i = 0; i < 5; ++i) {
    int hi = hex_digit(text[2 * i]), lo = hex_digit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = static_cast<unsigned>(hi * 16 + lo);
  }
  if (((bytes[0] + bytes[1] + bytes[2] + bytes[3]) & 0xFF) != bytes[4]) return false;
  value = base::le32_signed(bytes);
  return true;
}

void read_config(std::string_view path, Config& config) {
  std::string_view section;
  std::vector<std::string> lines = read_lines(path);
  for (const std::string& line : lines) {
    if (section_of(line, section)) continue;
    const ConfigKey* k = key_of(section, line);
    if (!k) continue;
    std::int32_t v;
    if (decode_profile_value(trim(std::string_view(line).substr(line.find('=') + 1)), v)) config.*(k->field) = v;
  }
}

bool write_config(std::string_view path, const Config& config) {
  // Our eight keys are replaced in place; every other line of the file is kept.
  std::vector<std::string> in = read_lines(path);
  std::vector<std::string> out;
  bool written[std::size(kConfigKeys)] = {};
  bool seen_section[std::size(kSections)] = {};
  auto key_line = [&](const ConfigKey& k) { return std::string(k.key) + "=" + encode_profile_value(config.*(k.field)).c_str(); };
  auto finish_section = [&](std::string_view section) {
    for (std::size_t i = 0; i < std::size(kConfigKeys); ++i)
      if (!written[i] && same_name(section, kConfigKeys[i].section)) {
        out.push_back(key_line(kConfigKeys[i]));
        written[i] = true;
      }
  };
  std::string_view section;
  bool in_section = false;
  for (const std::string& line : in) {
    std::string_view name;
    if (section_of(line, name)) {
      if (in_section) finish_section(section);
      section = name;
      in_section = true;
      for (std::size_t s = 0; s < std::size(kSections); ++s)
        if (same_name(name, kSections[s])) seen_section[s] = true;
      out.push_back(line);
      continue;
    }
    if (const ConfigKey* k = key_of(section, line)) {
      std::size_t i = static_cast<std::size_t>(k - kConfigKeys);
      if (!written[i]) out.push_back(key_line(*k));
      written[i] = true;
      continue;
    }
    out.push_back(line);
  }
  if (in_section) finish_section(section);
  for (std::size_t s = 0; s < std::size(kSections); ++s) {
    if (seen_section[s]) continue;
    out.push_back(std::string("[") + kSections[s] + "]");
    finish_section(kSections[s]);
  }
  TextFile file;
  if (!file.open_write_atomic(path)) return false;
  for (const std::string& line : out) file.print_line(line);
  return file.close();
}

void apply_settings_rules(Config& c) {
  c.legal_display_modes &= 63;
  if (c.legal_display_modes == 0) c.legal_display_modes = 1;
  c.available_display_modes &= c.legal_display_modes;
  c.display_mode &= c.legal_display_modes;
  if (c.display_mode == 0) c.display_mode = 1;
}

void apply_offered_modes(Config& c, std::int32_t offered) {
  c.available_display_modes = (offered | 1) & c.legal_display_modes;
  std::uint32_t mode = static_cast<std::uint32_t>(c.display_mode);
  while (mode != 0 && (mode & static_cast<std::uint32_t>(c.available_display_modes)) != mode) mode >>= 1;
  // Nothing left (legal modes the display cannot show): the always-offered mode.
  c.display_mode = mode != 0 ? static_cast<std::int32_t>(mode) : 1;
}

void screen_size_of(std::int32_t display_mode, int& width, int& height) {
  if (display_mode & 48) {
    width = 1024;
    height = 768;
  } else if (display_mode & 12) {
    width = 800;
    height = 600;
  } else {
    width = 640;
    height = 480;
  }
}

std::int32_t modes_fitting(int display_width, int display_height) {
  std::int32_t modes = 3;
  if (display_width >= 800 && display_height >= 600) modes |= 12;
  if (display_width >= 1024 && display_height >= 768) modes |= 48;
  return modes;
}

// ---- Instance lock ------------------------------------------------------------------------

int take_instance_lock(std::string_view work_folder, int tries, int delay_ms) {
  return take_lock_file(Text(work_folder) + ".zepta.lock", tries, delay_ms);
}

std::string private_lock_file(std::string_view work_folder) {
  std::uint64_t h = base::fnv1a(base::real_path(work_folder));
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string place = runtime && runtime[0] == '/' && access(runtime, W_OK) == 0 ? runtime : "/tmp";
  char name[64];
  std::snprintf(name, sizeof name, "/zepta-%u-%016llx.lock", static_cast<unsigned>(getuid()),
                static_cast<unsigned long long>(h));
  return place + name;
}

int take_lock_file(std::string_view lock_file, int tries, int delay_ms) {
  Text path(lock_file);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return -2;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  for (int i = 0; i < tries; ++i) {
    platform::sleep_ms(delay_ms);
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  }
  platform::sleep_ms(delay_ms);
  close(fd);
  return -1;
}

void release_instance_lock(int fd) {
  if (fd >= 0) close(fd);  // closing drops the lock; the file stays for the next start
}

}  // namespace shell
