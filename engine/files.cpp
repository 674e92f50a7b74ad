// Files that brains name: confined to the working and data folders, regular
// files only, read with a bound; and the globals files.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include "engine/engine_local.h"
#include "base/files.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"

namespace engine {

base::Text brain_file(World& world, std::string_view path) {
  // Each file a brain names costs system calls: charged, and none once the budget is spent.
  if (path.empty() || !brain::charge_budget(kFileCost)) return {};
  // A control character is never part of a file name a brain means: "\n" in
  // ".\temp\new.bin" became a line feed in the brain's string.
  auto control = std::find_if(path.begin(), path.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
  if (control != path.end()) {
    if (!world.reported_control_path) {
      world.reported_control_path = true;
      std::string shown;
      for (char c : path.substr(0, 200)) {
        char code[8];
        std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned char>(c));
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? std::string(code) : std::string(1, c);
      }
      base::report("engine", "a brain named a file with a control character (byte %d) in its name, refused: %s",
                   static_cast<unsigned char>(*control), shown.c_str());
    }
    return {};
  }
  const std::string_view roots[] = {world.base_folder, world.data_folder};
  // A path longer than the system takes names no file: refused before it is walked.
  base::Text file;
  if (path.size() < PATH_MAX) file = base::confine_path(path, std::span(roots, world.data_folder.empty() ? 1 : 2));
  if (file.empty() && !world.reported_refused_path) {
    world.reported_refused_path = true;
    base::report("engine", "a brain named a file outside the game's folders, treated as missing: %s",
                 echo_text(path).c_str());
  }
  return file;
}

bool globals_load(World& world, std::string_view path, std::int32_t first, std::int32_t last) {
  world.globals_first = first;
  world.globals_last = last;
  std::int64_t lines = std::min<std::int64_t>(std::int64_t{last} - first + 1, kGlobals);
  if (lines < 0) lines = 0;
  // A line longer than a text holds reads as 0, so the range never needs more.
  std::string bytes;
  if (!base::read_regular_file(path, static_cast<std::size_t>(lines) * (base::kTextCapacity + 2), bytes)) return false;
  std::int32_t* g = globals();
  base::LineReader reader{bytes};
  for (std::int64_t i = 0; g && i < lines && !reader.at_end; ++i) {
    std::string_view line = reader.next();
    if (reader.at_end && line.empty()) break;
    g[global_index(static_cast<std::int32_t>(first + i))] =
        line.size() > static_cast<std::size_t>(base::kTextCapacity) ? 0 : base::value(line);
  }
  return true;
}

bool globals_save(World& world, std::string_view path, std::int32_t first, std::int32_t last) {
  world.globals_first = first;
  world.globals_last = last;
  if (last < first) return true;  // nothing to write: the file stays whole
  const std::int32_t* g = globals();
  if (!g || base::file_kind(path) == base::FileKind::other) return false;
  base::TextFile file;
  if (!file.open_write_atomic(path)) return false;
  bool ok = true;
  for (std::int64_t i = first; i <= last && i - first < kGlobals; ++i)
    ok = file.print_line(base::text_of(g[global_index(static_cast<std::int32_t>(i))])) && ok;
  return file.close() && ok;
}

}  // namespace engine
