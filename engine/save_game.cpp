// Save games of the multi-project player (`save`, `resume` and their slot
// forms) and starting other programs (`run`, `run_task`).
//
// A save game is base + "curr" + slot + ".dat", 270,344 bytes: the level
// number, the listener element, the 256 element records and the 2,048 globals,
// all little-endian as they stand in memory.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/engine_local.h"
#include "platform/platform.h"
#include "base/files.h"
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
  if (!write_save_game(*w, slot)) w->save_failed = true;
  unmute_sound(volume);
  start_clock(w->clock, platform::timer());
  return 0;
}

// `resume`: ends the run with -4 (resume the saved game) when the slot's file
// holds one; a damaged file counts as none.
I resume(I slot) {
  World* w = active_world();
  if (!w || !w->player) return 0;
  w->save_slot = slot;
  base::Text path = save_game_path(*w, slot);
  if (is_save_game(path)) w->exit_request = -4;
  else if (base::file_exists(path)) base::report("engine", "%s is no save game (damaged?): resume ignored", path.c_str());
  return 0;
}

ROUTINE(routine_save) { return save(0); }
ROUTINE(routine_save_x) { return save(a); }
ROUTINE(routine_resume) { return resume(0); }
ROUTINE(routine_resume_x) { return resume(a); }

// Programs `run_task` started, reaped once they end so that none stays a
// zombie. Only these pids are waited for: other children are not ours to reap.
constexpr int kMaxTasks = 16;  // running at once; a brain starting more in a loop is refused
struct Tasks {
  pid_t pid[kMaxTasks] = {};
  int count = 0;
};
Tasks g_tasks;
base::RepeatedReport g_tasks_full{"engine", "run_task: 16 programs still running, another one not started"};

void wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// `run`, `run_task`: the command line split into words (command_words), the
// first one the program, looked up on PATH; no shell. The run's start_program
// hook (the packaged player's consent) may refuse it: it then returns as a start
// that failed. There is no "ready for input" state to wait for here; pending
// input is flushed either way.
I start_program(I name, bool wait) {
  reap_programs();
  std::string_view command = text_argument(name);
  std::vector<std::string> words = command_words(command);
  if (words.empty()) return 0;
  if (!wait && g_tasks.count == kMaxTasks) {
    g_tasks_full.note();
    return 0;
  }
  for (char& c : words[0])
    if (c == '\\') c = '/';
  if (World* w = active_world(); w && w->start_program) {
    bool allowed = w->start_program(w->start_program_user, words);
    // The question may have taken a while: the run's clock starts again either way.
    platform::flush_input();
    start_clock(w->clock, platform::timer());
    if (!allowed) return 0;
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  int error = posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    base::report("engine", "could not start %s: %s", echo_text(words[0]).c_str(), std::strerror(error));
    return 0;
  }
  if (wait) wait_for(pid);
  else g_tasks.pid[g_tasks.count++] = pid;
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
    {"run", routine_run,
     "a command text: runs the program (words split at blanks, no shell) and waits; a packaged game asks the player first"},
    {"run_task", routine_run_task,
     "a command text: starts the program as run does (asking as run does), without waiting (at most 16 running)"},
};

}  // namespace

std::span<const Binding> save_game_bindings() { return kBindings; }

std::vector<std::string> command_words(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;  // "" is an empty word
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

int reap_programs() {
  int running = 0;
  for (int i = 0; i < g_tasks.count; ++i) {
    pid_t done = waitpid(g_tasks.pid[i], nullptr, WNOHANG);
    if (done == 0 || (done < 0 && errno == EINTR)) g_tasks.pid[running++] = g_tasks.pid[i];
  }
  g_tasks.count = running;
  if (running < kMaxTasks) g_tasks_full.flush();
  return running;
}

base::Text save_game_path(const World& world, std::int32_t slot) {
  const base::Text& folder = world.save_folder.empty() ? world.base_folder : world.save_folder;
  return folder + "curr" + base::text_of(slot).view() + ".dat";
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

bool is_save_game(std::string_view path) {
  I head[2];
  if (base::file_size(path) != kSaveGameBytes) return false;
  if (base::read_file_at(path, 0, std::as_writable_bytes(std::span(head))) != sizeof head) return false;
  return head[1] >= 0 && head[1] < project::kMaxElements;
}

bool read_save_game(World& world, std::string_view path) {
  if (base::file_size(path) != kSaveGameBytes) return false;
  std::vector<std::byte> data(kSaveGameBytes);
  if (base::read_file_at(path, 0, data) != kSaveGameBytes) return false;
  project::ElementRecord* records = element_table();
  std::int32_t* g = globals();
  if (!records || !g) return false;
  I listener;
  std::memcpy(&listener, data.data() + 4, 4);
  if (listener < 0 || listener >= project::kMaxElements) return false;  // not a save game of ours
  world.listener = listener;
  // Brain entries belong to this run's compile, not the saved one.
  I entries[project::kMaxElements];
  for (int i = 0; i < project::kMaxElements; ++i) entries[i] = records[i].brain_entry;
  std::memcpy(records, data.data() + 8, kRecordsBytes);
  for (int i = 0; i < project::kMaxElements; ++i) records[i].brain_entry = entries[i];
  std::memcpy(g, data.data() + 8 + kRecordsBytes, kGlobalsBytes);
  return true;
}

}  // namespace engine
