// Save games of the multi-project player (`save`, `resume` and their slot
// forms) and starting other programs (`run`, `run_task`).
//
// A save game is base + "curr" + slot + ".dat", 270,344 bytes: the level
// number, the listener element, the 256 element records and the 2,048 globals,
// all little-endian as they stand in memory.
#include <spawn.h>
#include <cerrno>
#include <sys/wait.h>

#include <cstring>
#include <vector>

#include "engine/engine.h"
#include "engine/engine_local.h"
#include "platform/platform.h"
#include "base/log.h"
#include "base/text.h"

extern char** environ;

namespace engine {

namespace {

using I = std::int32_t;
constexpr std::size_t kRecordsBytes = project::kMaxElements * sizeof(project::ElementRecord);
constexpr std::size_t kGlobalsBytes = kGlobals * 4;
static_assert(kSaveGameBytes == static_cast<long>(8 + kRecordsBytes + kGlobalsBytes));

// `save`: the current picture is drawn first, so what the player sees is what is saved;
// the tick clock restarts afterwards, as writing the file takes game time.
I save(I slot) {
  World* w = active_world();
  if (!w || !w->player) return 0;
  w->save_slot = slot;
  if (w->draw_picture) w->draw_picture(*w);
  int volume = mute_sound();
  write_save_game(*w, slot);
  unmute_sound(volume);
  start_clock(w->clock, platform::timer());
  return 0;
}

// `resume`: ends the run with -4 (resume the saved game) when the slot's file exists.
I resume(I slot) {
  World* w = active_world();
  if (!w || !w->player) return 0;
  w->save_slot = slot;
  if (base::file_exists(save_game_path(*w, slot))) w->exit_request = -4;
  return 0;
}

ROUTINE(routine_save) { return save(0); }
ROUTINE(routine_save_x) { return save(a); }
ROUTINE(routine_resume) { return resume(0); }
ROUTINE(routine_resume_x) { return resume(a); }

// Started programs that nobody waits for are reaped here, so none stays a zombie.
void reap_children() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

// `run`, `run_task`: the command line goes to the shell. There is no "ready
// for input" state to wait for here; pending input is flushed either way.
I start_program(I name, bool wait) {
  reap_children();
  std::string_view command = text_argument(name);
  if (command.empty()) return 0;
  std::string line(command);
  char sh[] = "/bin/sh", dash_c[] = "-c";
  char* argv[] = {sh, dash_c, line.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) {
    base::report("engine", "could not start %s", line.c_str());
    return 0;
  }
  if (wait) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  platform::flush_input();
  if (World* w = active_world()) start_clock(w->clock, platform::timer());
  return 0;
}

ROUTINE(routine_run) { return start_program(a, true); }
ROUTINE(routine_run_task) { return start_program(a, false); }

constexpr Binding kBindings[] = {
    {"save", routine_save, "writes save slot 0 (packaged player only)"},
    {"save_x", routine_save_x, "a slot: writes save slot a (packaged player only)"},
    {"resume", routine_resume, "ends the run to resume save slot 0 when it exists (packaged player only)"},
    {"resume_x", routine_resume_x, "a slot: ends the run to resume save slot a when it exists (packaged player only)"},
    {"run", routine_run, "a command text: runs it and waits until it ends"},
    {"run_task", routine_run_task, "a command text: starts it without waiting"},
};

}  // namespace

std::span<const Binding> save_game_bindings() { return kBindings; }

base::Text save_game_path(const World& world, std::int32_t slot) {
  return world.base_folder + "curr" + base::text_of(slot).view() + ".dat";
}

bool write_save_game(const World& world, std::int32_t slot) {
  base::Text path = save_game_path(world, slot);
  const project::ElementRecord* records = element_table();
  const std::int32_t* g = globals();
  base::TextFile file;
  const I head[2] = {world.level, world.listener};
  bool ok = records && g && file.open_write_atomic(path) && file.write_bytes(head, sizeof head) &&
            file.write_bytes(records, kRecordsBytes) && file.write_bytes(g, kGlobalsBytes);
  ok = file.close() && ok;
  if (!ok) base::report("engine", "could not write the save game %s", path.c_str());
  return ok;
}

bool read_save_game(World& world, std::string_view path) {
  if (base::file_size(path) != kSaveGameBytes) return false;
  std::vector<std::byte> data(kSaveGameBytes);
  if (base::read_file_at(path, 0, data) != kSaveGameBytes) return false;
  project::ElementRecord* records = element_table();
  std::int32_t* g = globals();
  if (!records || !g) return false;
  std::memcpy(&world.listener, data.data() + 4, 4);
  // Brain entries belong to this run's compile, not the saved one.
  I entries[project::kMaxElements];
  for (int i = 0; i < project::kMaxElements; ++i) entries[i] = records[i].brain_entry;
  std::memcpy(records, data.data() + 8, kRecordsBytes);
  for (int i = 0; i < project::kMaxElements; ++i) records[i].brain_entry = entries[i];
  std::memcpy(g, data.data() + 8 + kRecordsBytes, kGlobalsBytes);
  return true;
}

}  // namespace engine
