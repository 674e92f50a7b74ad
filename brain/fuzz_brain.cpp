// libFuzzer target: random text as the brains of two elements (one shared
// body), compiled, then run on a scratch element table.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "brain/brain.h"
#include "base/memory.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool reserved = base::reserve_budget();
  if (!reserved) return 0;
  static auto program = std::make_unique<brain::Program>();
  Input in{data, size};
  brain::CompileOptions options;
  options.read = read;
  options.read_context = &in;
  options.editor_pass = size > 0 && data[0] == '!';
  options.errors.show = [](void*, std::string_view) {};
  std::span<std::byte> literals = base::area(base::Area::data_arena);
  options.literals = &literals;
  const brain::BrainSource sources[] = {{"a", "a.brn"}, {"b", "b.brn"}, {"c", "missing.brn"}};
  brain::compile_project(sources, options, *program);
  std::memset(base::area(base::Area::element_table).data(), 0, 4 * 1024);
  for (int i = 0; i < 3; ++i) brain::run_element(*program, i, "fuzz", options.errors);
  return 0;
}
