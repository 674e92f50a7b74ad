// Run-control routines: running other brains, ending the run, debug values,
// command-line values, the tick rate, engine-wide settings, the clock, ports
// and the files brains name.
#include <algorithm>
#include <ctime>

#include "engine/engine_local.h"
#include "base/files.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/paths.h"
#include "base/text.h"

namespace engine {

namespace {

using I = std::int32_t;
using Record = project::ElementRecord;

// ---- Run control -------------------------------------------------------------------------------------

ROUTINE(routine_execute) {
  World* w = world();
  Record* r = element_of(a);
  if (!w || !r || !w->program) return 0;
  auto entry = static_cast<std::uint32_t>(r->brain_entry);
  if (!brain::valid_entry(*w->program, entry)) return 0;
  // Nested runs are bounded by the brain runner (kRunDepth) and share its jump budget.
  return brain::run(entry, base::address32(r)).value;
}
ROUTINE(routine_exit) {
  if (World* w = world()) w->exit_request = a;
  return 0;
}
ROUTINE(routine_debug) {
  World* w = world();
  if (!w) return 0;
  w->debug_value = a, w->debug_flag = true;
  if (w->debug_told) {
    const Record* r = element_of(static_cast<std::int32_t>(self));
    w->debug_told(w->debug_user, *w, r ? static_cast<int>(r - record_at(0)) : -1, a);
  }
  return 0;
}
ROUTINE(routine_par_count) {
  World* w = world();
  return w ? static_cast<I>(w->command_values.size()) : 0;
}
ROUTINE(routine_par_get) {
  World* w = world();
  return w && static_cast<std::uint32_t>(a) < w->command_values.size() ? w->command_values[a] : 0;
}
ROUTINE(routine_exemode) {
  World* w = world();
  return w ? a & w->exe_mode : 0;
}
ROUTINE(routine_max_framerate) {
  World* w = world();
  return w ? w->rate : kDefaultRate;
}
ROUTINE(routine_max_framerate_set) {
  if (World* w = world()) set_rate(*w, a);
  return 0;
}

template <int N>
ROUTINE(store_setting) {
  World* w = world();
  if (!w) return 0;
  I args[3] = {a, b, c};
  switch (N) {
    case 0: w->rebound_yr_factor = a; break;
    case 1: w->volume = a; break;
    case 3: std::copy(args, args + 3, w->shadow_location); break;
    case 4:
      for (int i = 0; i < 3; ++i) w->shadow_orientation[i] = args[i] & 1023;
      break;
  }
  return 0;
}

// Files named by text arguments: inside the game's folders (brain_file), else as if missing.
ROUTINE(routine_file_exists) {
  World* w = world();
  if (!w) return 0;
  base::Text file = brain_file(*w, text_argument(a));
  return !file.empty() && base::file_kind(file) == base::FileKind::regular ? kTrue : 0;
}
template <bool Save>
ROUTINE(routine_globals_file) {
  World* w = world();
  std::string_view path = text_argument(a);
  if (!w || path.empty()) return 0;
  base::Text file = brain_file(*w, path);
  if (file.empty()) {
    w->globals_first = b, w->globals_last = c;  // the range is named all the same
  } else if (Save && !globals_save(*w, file, b, c)) {
    base::report("engine", "could not write %s", echo_text(file).c_str());
  } else if (!Save) {
    globals_load(*w, file, b, c);
  }
  return 0;
}

// Local date and time parts.
template <int Part>
ROUTINE(routine_clock_part) {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  const int parts[] = {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
  return parts[Part];
}

// Hardware ports do not exist here: reads give 0, writes do nothing.
ROUTINE(routine_no_port) { return 0; }

constexpr Binding kBindings[] = {
    {"execute", routine_execute, "a element -> what a's brain leaves, run at once (0 when it can't run)"},
    {"exit", routine_exit, "a value: the run ends with exit request a"},
    {"debug", routine_debug, "a value: shown as the run's debug value; headless, also a line on stderr"},
    {"par_count", routine_par_count, "-> number of command-line values"},
    {"par_get", routine_par_get, "a index from 0 -> command-line value a; 0 beyond the count"},
    {"exemode", routine_exemode, "a mask -> a AND mode word (bit 0 self-executable, bit 1 second mode flag)"},
    {"max_framerate", routine_max_framerate, "-> the tick rate in ticks per second"},
    {"max_framerate_set", routine_max_framerate_set, "a ticks per second 15..250: the tick rate (others ignored)"},
    {"rebound_yr_factor", store_setting<0>, "a divisor: what rebound_yr divides by (0: rebound_yr does nothing)"},
    {"volume_set", store_setting<1>, "a volume: the engine-wide volume setting"},
    {"shadow_location_set", store_setting<3>, "a x, b y, c z: the engine-wide shadow location"},
    {"shadow_orientation_set", store_setting<4>, "a, b, c: the engine-wide shadow orientation, low 10 bits of each"},
    {"year", routine_clock_part<0>, "-> the local year"},
    {"month", routine_clock_part<1>, "-> the local month 1..12"},
    {"day", routine_clock_part<2>, "-> the local day of the month 1..31"},
    {"hour", routine_clock_part<3>, "-> the local hour 0..23"},
    {"minute", routine_clock_part<4>, "-> the local minute 0..59"},
    {"second", routine_clock_part<5>, "-> the local second 0..60"},
    {"input_b", routine_no_port, "a port -> 0 (no hardware ports)"},
    {"input_w", routine_no_port, "a port -> 0 (no hardware ports)"},
    {"input_d", routine_no_port, "a port -> 0 (no hardware ports)"},
    {"output_b", routine_no_port, "a port, b value: nothing (no hardware ports)"},
    {"output_w", routine_no_port, "a port, b value: nothing (no hardware ports)"},
    {"output_d", routine_no_port, "a port, b value: nothing (no hardware ports)"},
    {"file_exists", routine_file_exists,
     "a path text -> -1 when it is a regular file inside the game's folders, else 0"},
    {"globals_save", routine_globals_file<true>,
     "a path text, b first, c last index: writes globals b..c, a decimal a line (game's folders only; b > c writes nothing)"},
    {"globals_load", routine_globals_file<false>,
     "a path text, b first, c last index: reads globals b..c, a decimal a line (regular files in the game's folders)"},
};

}  // namespace

std::span<const Binding> run_bindings() { return kBindings; }

}  // namespace engine
