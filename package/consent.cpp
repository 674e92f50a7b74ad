// The player's consent to the programs a packaged game's brains start (`run`,
// `run_task`): each distinct command line is asked about once, on the panel
// kit, and an ALWAYS answer is kept per game in the player's own data folder.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/files.h"
#include "base/log.h"
#include "package/package.h"
#include "platform/platform.h"
#include "ui/ui.h"

namespace package {

namespace {

constexpr std::size_t kShownLine = 48;   // characters of a command line per panel line
constexpr std::size_t kShownLines = 3;   // a longer command line is cut, "..." at its end
constexpr char kAlwaysKey[] = "always=";

bool holds(const std::vector<std::string>& list, const std::string& key) {
  for (const std::string& k : list)
    if (k == key) return true;
  return false;
}

bool write_consent_file(const ProgramConsent& consent) {
  std::string path = consent.path.c_str();
  std::error_code ec;
  std::filesystem::create_directories(path.substr(0, path.find_last_of('/')), ec);
  base::TextFile file;
  bool ok = file.open_write_atomic(path);
  ok = ok && file.print_line("; Programs this game may start without asking (the player's ALWAYS answers).");
  ok = ok && file.print_line("; One line each: always=PROGRAM ARGUMENTS, %HH for blanks, quotes, % and other bytes.");
  for (const std::string& key : consent.always) ok = ok && file.print_line(std::string(kAlwaysKey) + key);
  return file.close() && ok;
}

}  // namespace

std::string game_id(std::string_view real_folder, std::string_view title) {
  // The package folder's real path and the game's title: the same game moved or
  // copied elsewhere is asked again, and two games in one folder keep apart.
  std::string bytes = std::string(real_folder) + '\n' + std::string(base::trim(title).view());
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(base::fnv1a(bytes)));
  return game_folder_name(title) + "-" + hex;
}

std::string consent_file(std::string_view package_folder, std::string_view title) {
  std::string data = base::user_folder("XDG_DATA_HOME", ".local/share");
  if (data.empty()) return std::string();
  return data + "/zepta/consent/" + game_id(base::real_path(package_folder), title) + ".ini";
}

std::string command_key(std::span<const std::string> words) {
  std::string key;
  for (std::size_t k = 0; k < words.size(); ++k) {
    if (k) key += ' ';
    for (unsigned char c : words[k]) {
      if (c <= ' ' || c >= 0x7f || c == '%' || c == '"') {
        char code[4];
        std::snprintf(code, sizeof code, "%%%02X", c);
        key += code;
      } else {
        key += static_cast<char>(c);
      }
    }
  }
  return key;
}

std::string shown_command(std::span<const std::string> words) {
  std::string line;
  for (std::size_t k = 0; k < words.size(); ++k) {
    if (k) line += ' ';
    bool quoted = words[k].empty() || words[k].find_first_of(" \t") != std::string::npos;
    if (quoted) line += '"';
    for (unsigned char c : words[k]) line += c < ' ' || c >= 0x7f || c == '|' ? '?' : static_cast<char>(c);
    if (quoted) line += '"';
  }
  bool cut = line.size() > kShownLine * kShownLines;
  if (cut) line = line.substr(0, kShownLine * kShownLines - 3) + "...";
  // Cut into panel lines, so that a long word never runs off the panel.
  std::string out;
  for (std::size_t at = 0; at < line.size(); at += kShownLine) {
    if (at) out += '|';
    out += line.substr(at, kShownLine);
  }
  return out;
}

void read_consent(ProgramConsent& consent) {
  consent.always.clear();
  base::TextFile file;
  if (consent.path.empty() || !file.open_read(consent.path)) return;
  while (!file.at_eof()) {
    base::Text line = file.read_line();
    std::string_view text = line.view();
    if (text.substr(0, sizeof kAlwaysKey - 1) == kAlwaysKey && !line.too_long())
      consent.always.emplace_back(text.substr(sizeof kAlwaysKey - 1));
  }
}

bool consent_to(ProgramConsent& consent, std::span<const std::string> words, ui::Kit* kit) {
  std::string key = command_key(words);
  if (holds(consent.always, key) || holds(consent.allowed, key)) return true;
  if (holds(consent.refused, key)) return false;
  std::string shown = shown_command(words);
  int answer = 0;
  if (kit) {
    const ui::Choice choices[] = {{" YES ", platform::scan_code_of_key_name("Y")},
                                  {" NO ", platform::scan_code_of_key_name("N")},
                                  {" ALWAYS FOR THIS GAME ", platform::scan_code_of_key_name("A")}};
    answer = ui::choice_panel(*kit, "This game wants to start:|" + shown + "|Allow?", choices, 2);
  }
  if (answer == 1 || answer == 3) {
    consent.allowed.push_back(key);
    if (answer == 3) {
      consent.always.push_back(key);
      if (consent.path.empty() || !write_consent_file(consent))
        base::report("player", "the answer ALWAYS could not be kept%s%s: it holds for this session",
                     consent.path.empty() ? "" : " in ", consent.path.c_str());
    }
    return true;
  }
  consent.refused.push_back(key);
  base::report("player", "%s not started: %s", words.empty() ? "" : words[0].c_str(),
               kit ? (answer ? "the player said no" : "nobody answered") : "a headless game asks nobody (--allow-programs allows it)");
  return false;
}

}  // namespace package
