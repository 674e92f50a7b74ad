// network.ini read the way people write it by hand, and the names and ports a
// session falls back on.
#include "net/settings.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <iterator>

#include "base/files.h"
#include "base/log.h"
#include "base/text.h"

namespace net {

namespace {

constexpr char kSection[] = "Settings";

// An integer key: its field and the values it takes (others keep the default).
struct NumberKey {
  const char* key;
  std::int32_t ConnectSettings::*field;
  std::int32_t low, high;
};
constexpr NumberKey kNumberKeys[] = {
    {"Connection", &ConnectSettings::connection, INT32_MIN, INT32_MAX},
    {"Mode", &ConnectSettings::mode, INT32_MIN, INT32_MAX},
    {"Timeout", &ConnectSettings::timeout, 1, kMaxTimeout},
    {"PortNumber", &ConnectSettings::port, 0, 65535},
};

// A text key: its field and the characters it keeps (a longer value is cut).
struct TextKey {
  const char* key;
  std::string ConnectSettings::*field;
  std::size_t most;
};
constexpr TextKey kTextKeys[] = {
    {"IPAddress", &ConnectSettings::address, kMaxAddressChars},
    {"SessionName", &ConnectSettings::session_name, kMaxSessionNameChars},
    {"PlayerName", &ConnectSettings::player_name, kMaxPlayerNameChars},
};

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The first `most` bytes of text (names are single-byte Windows-1252 text).
std::string cut(std::string_view text, std::size_t most) { return std::string(text.substr(0, most)); }

}  // namespace

bool read_setting_number(std::string_view text, std::int32_t& value) {
  text = trimmed(text);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    std::string_view digits = text.substr(2);
    if (digits.size() > 8) return false;
    std::uint32_t v = 0;
    for (char c : digits) {
      int d = hex_digit(c);
      if (d < 0) return false;
      v = v << 4 | static_cast<std::uint32_t>(d);
    }
    value = static_cast<std::int32_t>(v);
    return true;
  }
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 10) return false;
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool read_network_settings(std::string_view path, ConnectSettings& settings) {
  base::TextFile file;
  if (!file.open_read(path)) return false;
  bool in_section = false;
  bool seen[std::size(kNumberKeys) + std::size(kTextKeys)] = {};  // the first of a repeated key counts
  int line_number = 0;
  while (!file.at_eof()) {
    base::Text read = file.read_line();
    ++line_number;
    std::string_view line = trimmed(read.view());
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']');
      in_section = close != std::string_view::npos && base::equal_no_case(trimmed(line.substr(1, close - 1)), kSection);
      continue;
    }
    std::size_t eq = line.find('=');
    if (!in_section || eq == std::string_view::npos) continue;
    std::string_view key = trimmed(line.substr(0, eq)), text = trimmed(line.substr(eq + 1));
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    for (std::size_t k = 0; k < std::size(kNumberKeys); ++k) {
      const NumberKey& n = kNumberKeys[k];
      if (!base::equal_no_case(key, n.key) || seen[k]) continue;
      seen[k] = true;
      std::int32_t v = 0;
      if (read_setting_number(text, v) && v >= n.low && v <= n.high) settings.*(n.field) = v;
      else
        base::report("net", "%.*s line %d: %s=%.*s is not a value it takes; %d is used", static_cast<int>(path.size()),
                     path.data(), line_number, n.key, static_cast<int>(text.size()), text.data(), settings.*(n.field));
    }
    for (std::size_t k = 0; k < std::size(kTextKeys); ++k) {
      const TextKey& t = kTextKeys[k];
      if (!base::equal_no_case(key, t.key) || seen[std::size(kNumberKeys) + k]) continue;
      seen[std::size(kNumberKeys) + k] = true;
      if (text.size() > t.most)
        base::report("net", "%.*s line %d: %s is longer than %zu characters; the rest is left out",
                     static_cast<int>(path.size()), path.data(), line_number, t.key, t.most);
      settings.*(t.field) = cut(text, t.most);
    }
  }
  return true;
}

std::string computer_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == 0) return "Session";
  return cut(name, kMaxSessionNameChars);
}

std::string user_name() {
  const char* user = std::getenv("USER");
  if (user && user[0]) return cut(user, kMaxPlayerNameChars);
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name && pw->pw_name[0]) return cut(pw->pw_name, kMaxPlayerNameChars);
  return "Player";
}

std::string session_name_to_host(const ConnectSettings& settings) {
  return settings.session_name.empty() ? computer_name() : cut(settings.session_name, kMaxSessionNameChars);
}

std::string player_name_of(const ConnectSettings& settings) {
  return settings.player_name.empty() ? user_name() : cut(settings.player_name, kMaxPlayerNameChars);
}

int session_port_of(const ConnectSettings& settings) {
  return settings.port > 0 && settings.port <= 65535 ? settings.port : kDefaultSessionPort;
}

bool split_address(std::string_view text, std::string& address, int& port) {
  port = 0;
  std::size_t colon = text.rfind(':');
  std::string_view host = text.substr(0, colon);
  if (colon != std::string_view::npos) {
    std::string_view digits = text.substr(colon + 1);
    std::int32_t v = 0;
    if (digits.empty() || digits.size() > 5) return false;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
    }
    if (v < 1 || v > 65535) return false;
    port = v;
  }
  if (host.empty() || host.size() > kMaxAddressChars || host.find(':') != std::string_view::npos) return false;
  for (char c : host)
    if (static_cast<unsigned char>(c) <= ' ') return false;
  address = std::string(host);
  return true;
}

}  // namespace net
