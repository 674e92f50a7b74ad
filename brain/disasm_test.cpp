// Emitted code read back with Capstone: the instruction forms decode as intended.
#include <capstone/capstone.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "brain/brain.h"
#include "base/memory.h"
#include "tests/brain_files.h"

namespace {

// "mnemonic operands" of every instruction of a one-brain project.
std::vector<std::string> listing(const std::string& text) {
  brain_test::MemoryBrains brains;
  std::vector<brain::BrainSource> sources = brains.sources({text}, "ship");
  brain::CompileOptions options;
  brains.serve(options);
  auto program = std::make_unique<brain::Program>();
  EXPECT_TRUE(brain::compile_project(sources, options, *program)) << text;
  csh handle;
  EXPECT_EQ(cs_open(CS_ARCH_X86, CS_MODE_64, &handle), CS_ERR_OK);
  cs_insn* insn;
  std::uint32_t base = program->entry[0];
  std::size_t n = cs_disasm(handle, reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(base)),
                            program->code_bytes, 0, 0, &insn);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(std::string(insn[i].mnemonic) + " " + insn[i].op_str);
  EXPECT_EQ(n == 0 ? 0u : insn[n - 1].address + insn[n - 1].size, program->code_bytes) << "every byte decodes";
  cs_free(insn, n);
  cs_close(&handle);
  return out;
}

std::string temp(int slot) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%lx",
                static_cast<unsigned long>(base::address32(base::area(base::Area::brain_data).data()) +
                                           brain::kTempSlotsOffset + 4 * slot));
  return buffer;
}

TEST(BrainCode, InstructionFormsDecode) {
  ASSERT_TRUE(base::reserve_budget());
  struct {
    std::string text;
    std::vector<std::string> code;
  } cases[] = {
      {"var x\r\nvar y\r\nx = y / x",
       {"mov eax, dword ptr [rdi + 0x3f8]", "mov ecx, dword ptr [rdi + 0x3fc]", "test ecx, ecx", "je 0x1e",
        "cmp ecx, -1", "je 0x1a", "cdq ", "idiv ecx", "jmp 0x23", "neg eax", "jmp 0x23", "mov eax, 0x7fffffff",
        "mov dword ptr [rdi + 0x3fc], eax", "ret "}},
      {"var x\r\nvar y\r\nx = 5 < -y",
       {"mov eax, 5", "mov ebx, eax", "mov eax, 1", "neg ebx", "cmp ebx, dword ptr [rdi + 0x3f8]", "jg 0x18",
        "xor eax, eax", "mov dword ptr [rdi + 0x3fc], eax", "ret "}},
      {"var x\r\nx = [x + 1] * x",
       {"mov eax, dword ptr [rdi + 0x3fc]", "add eax, 1", "mov dword ptr [" + temp(0) + "], eax",
        "imul eax, dword ptr [rdi + 0x3fc]", "mov dword ptr [rdi + 0x3fc], eax", "ret "}},
      {"var x\r\nx = element#2 - 1",
       {"mov eax, edi", "add eax, 0x800", "sub eax, 1", "mov dword ptr [rdi + 0x3fc], eax", "ret "}},
      {"top:\r\ngosub top\r\ngoto top\r\ngoto ahead\r\nahead:",
       {"cmp rsp, qword ptr [" + [] {
          char b[32];
          std::snprintf(b, sizeof b, "0x%lx",
                        static_cast<unsigned long>(base::address32(base::area(base::Area::brain_data).data()) +
                                                   brain::kRunWordsOffset + 24));
          return std::string(b);
        }() + "]",
        "jae 0xf", "call 0x", "dec dword ptr [0x", "jns 0x1d", "call 0x", "sub rsp, 8", "call 0", "add rsp, 8",
        "dec dword ptr [0x", "jns 0x38", "call 0x", "jmp 0", "jmp 0x42", "ret "}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> code = listing(c.text);
    ASSERT_GE(code.size(), c.code.size()) << c.text;
    for (std::size_t i = 0; i < c.code.size(); ++i)
      EXPECT_EQ(code[i].substr(0, c.code[i].size()), c.code[i]) << c.text << " instruction " << i;
  }
}

// A field keyword on the running element is a load or store of its record
// word; on any other reference, or once a routine is bound over it, a call.
TEST(BrainCode, FieldKeywordsOfTheRunningElementCompileInLine) {
  ASSERT_TRUE(base::reserve_budget());
  ASSERT_TRUE(brain::bind_field("position_y", brain::FieldAccess::get, 4));
  ASSERT_TRUE(brain::bind_field("position_y_set", brain::FieldAccess::set, 4));
  EXPECT_FALSE(brain::bind_field("position_y", brain::FieldAccess::set, 4)) << "one parameter: no store";
  EXPECT_FALSE(brain::bind_field("position_y_set", brain::FieldAccess::set, 256)) << "outside the record";
  EXPECT_FALSE(brain::bind_field("no_such_keyword", brain::FieldAccess::get, 4));
  struct {
    std::string text;
    std::vector<std::string> code;
  } cases[] = {
      {"var x\r\nx = position_y(element) + 1",
       {"mov eax, dword ptr [rdi + 0x10]", "mov dword ptr [" + temp(0) + "], eax", "add eax, 1",
        "mov dword ptr [rdi + 0x3fc], eax", "ret "}},
      {"var x\r\nposition_y_set(element, x)",
       {"mov eax, dword ptr [rdi + 0x3fc]", "mov dword ptr [rdi + 0x10], eax", "xor eax, eax", "ret "}},
      {"var x\r\nx = position_y(element#1)", {"mov eax, edi", "add eax, 0x400", "call 0x"}},
      {"var x\r\nx = position_y(x)", {"mov eax, dword ptr [rdi + 0x3fc]", "call 0x"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> code = listing(c.text);
    ASSERT_GE(code.size(), c.code.size()) << c.text;
    for (std::size_t i = 0; i < c.code.size(); ++i)
      EXPECT_EQ(code[i].substr(0, c.code[i].size()), c.code[i]) << c.text << " instruction " << i;
  }
  int word = 0;
  int row = brain::find_keyword("position_y");
  ASSERT_TRUE(brain::bind_routine("position_y", brain::routine_of(row)));
  EXPECT_EQ(brain::field_access(row, &word), brain::FieldAccess::none) << "a routine bound over it undoes it";
  EXPECT_EQ(listing("var x\r\nx = position_y(element)")[1].substr(0, 6), "call 0");
  brain::bind_field("position_y_set", brain::FieldAccess::none, 0);
}

}  // namespace
