// zepta_brainc: compiles brain files one by one and prints each body's size,
// or with -d its disassembly, so the emitted code can be read against a listing.
#include <capstone/capstone.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "brain/brain.h"
#include "base/memory.h"

int main(int argc, char** argv) {
  bool disassemble = argc > 1 && std::strcmp(argv[1], "-d") == 0;
  if (argc < 2 + disassemble) {
    std::fprintf(stderr, "usage: zepta_brainc [-d] FILE.brn...\n");
    return 2;
  }
  if (!base::reserve_budget()) return 1;
  csh handle;
  if (cs_open(CS_ARCH_X86, CS_MODE_64, &handle) != CS_ERR_OK) return 1;
  auto program = std::make_unique<brain::Program>();
  int status = 0;
  for (int i = 1 + disassemble; i < argc; ++i) {
    brain::BrainSource source{argv[i], argv[i]};
    brain::CompileOptions options;
    if (!brain::compile_project(std::span(&source, 1), options, *program)) status = 1;
    std::printf("%s: %u bytes of code\n", argv[i], program->code_bytes);
    if (!disassemble) continue;
    auto* code = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(program->entry[0]));
    cs_insn* insn;
    std::size_t n = cs_disasm(handle, code, program->code_bytes, program->entry[0], 0, &insn);
    for (std::size_t k = 0; k < n; ++k)
      std::printf("  %08lx  %-8s %s\n", static_cast<unsigned long>(insn[k].address), insn[k].mnemonic, insn[k].op_str);
    cs_free(insn, n);
  }
  cs_close(&handle);
  return status;
}
