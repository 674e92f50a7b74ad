// libFuzzer target: random text as the brains of three elements (the first
// two share a body), compiled with the engine's routines bound, then run for
// two brain passes on a small world, so that the fuzzer reaches every keyword
// the engine builds. Programs are not started (`run`, `run_task`) and nothing
// waits for input (`pause`); the files brains name land in a scratch working
// folder (the current folder stays, for libFuzzer's own files).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "brain/brain.h"
#include "engine/engine_local.h"
#include "platform/platform.h"
#include "base/memory.h"
#include "base/text.h"

namespace {

struct Input {
  const std::uint8_t* data;
  std::size_t size;
};

bool read(void* context, std::string_view path, std::string& bytes) {
  auto* in = static_cast<Input*>(context);
  if (path == "missing.brn") return false;
  bytes.assign(reinterpret_cast<const char*>(in->data), in->size);
  return true;
}

ROUTINE(not_here) { return 0; }
constexpr const char* kStubbed[] = {"run", "run_task", "pause"};

// Once per process: the budget, the lookup tables, a scratch working folder.
struct Setup {
  bool ok = false;
  std::string work;
  Setup() {
    const char* data = std::getenv("ZEPTA_TEST_DATA");
    std::string folder = std::string(data ? data : ZEPTA_FUZZ_DATA) + "/";
    char name[] = "/tmp/zepta_fuzz_brain_XXXXXX";
    if (!base::reserve_budget() || !media::load_lookup_tables(folder) || !mkdtemp(name)) {
      std::fprintf(stderr, "fuzz_brain: no budget, no lookup tables in %s (ZEPTA_TEST_DATA), or no scratch folder\n",
                   folder.c_str());
      return;
    }
    work = std::string(name) + "/";
    ok = true;
  }
  ~Setup() {
    std::error_code ignored;
    if (!work.empty()) std::filesystem::remove_all(work, ignored);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Setup setup;
  if (!setup.ok) return 0;
  static auto program = std::make_unique<brain::Program>();
  static auto input = std::make_unique<platform::Input>();
  static int inputs = 0;
  if (++inputs % 4096 == 0) {  // what globals_save wrote
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(setup.work, ignored))
      std::filesystem::remove_all(entry.path(), ignored);
  }

  auto world = std::make_unique<engine::World>();
  *input = platform::Input{};
  world->input = input.get();
  world->base_folder = base::Text(setup.work);
  engine::begin_run(*world);
  for (const char* name : kStubbed) brain::bind_routine(name, not_here);

  Input in{data, size};
  brain::CompileOptions options;
  options.read = read;
  options.read_context = &in;
  options.editor_pass = size > 0 && data[0] == '!';
  options.errors.show = [](void*, std::string_view) {};
  options.base_folder = setup.work;
  std::span<std::byte> literals = base::area(base::Area::data_arena);
  world->literal_start = base::address32(literals.data());
  options.literals = &literals;
  const brain::BrainSource sources[] = {{"a", "a.brn"}, {"b", "b.brn"}, {"c", "missing.brn"}};
  std::memset(base::area(base::Area::element_table).data(), 0, project::kMaxElements * sizeof(project::ElementRecord));
  std::memset(engine::globals(), 0, engine::kGlobals * 4);
  brain::compile_project(sources, options, *program);
  world->literal_end = world->literal_start + program->literal_bytes;
  world->program = program.get();
  world->highest = 2;
  world->errors = options.errors;
  for (int i = 0; i < 3; ++i) {
    world->names[i] = std::string(1, static_cast<char>('a' + i));
    engine::element_table()[i].flags |= project::kFlagOn;
  }
  for (int pass = 0; pass < 2 && world->exit_request == -1; ++pass) engine::brain_pass(*world);
  engine::end_run(*world);
  return 0;
}
