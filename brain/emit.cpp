// x86-64 emitters for brain code, the stubs that enter and leave it, the call
// thunks that adapt the register contract to the System V ABI, and W^X.
#include <sys/mman.h>

#include <cstring>
#include <iterator>

#include "brain/local.h"
#include "base/memory.h"

namespace brain {

// ---- Areas ---------------------------------------------------------------------

std::uint8_t* code_area() { return reinterpret_cast<std::uint8_t*>(base::area(base::Area::brain_code).data()); }

RunWords* run_words() {
  auto data = base::area(base::Area::brain_data);
  return data.empty() ? nullptr : reinterpret_cast<RunWords*>(data.data() + kRunWordsOffset);
}

std::int32_t* temp_slots() {
  auto data = base::area(base::Area::brain_data);
  return data.empty() ? nullptr : reinterpret_cast<std::int32_t*>(data.data() + kTempSlotsOffset);
}

std::uint8_t* entry_map() {
  auto data = base::area(base::Area::brain_data);
  return data.empty() ? nullptr : reinterpret_cast<std::uint8_t*>(data.data() + kEntryMapOffset);
}

std::uint32_t temp_address(int slot) { return base::address32(temp_slots() + slot); }

static_assert(kTempSlotsOffset + 4 * kTempSlots <= kRunWordsOffset);
static_assert(kRunWordsOffset + sizeof(RunWords) <= kEntryMapOffset);
static_assert(kEntryMapOffset + kCodeLimit / 8 <= base::area_size(base::Area::brain_data),
              "inside the brain data area");
static_assert(kCodeLimit <= kStubsOffset);
static_assert(kCodeAreaUsed <= base::area_size(base::Area::brain_code), "inside the brain code area");

namespace {

bool g_executable = false;  // mirrors the protection of the code area

std::size_t code_area_span() { return (kCodeAreaUsed + 4095) & ~std::size_t{4095}; }

std::uint32_t abs_run_word(std::size_t field) {
  return base::address32(reinterpret_cast<std::uint8_t*>(run_words()) + field);
}

}  // namespace

bool make_code_writable() {
  std::uint8_t* area = code_area();
  if (!area) return false;
  if (mprotect(area, code_area_span(), PROT_READ | PROT_WRITE) != 0) return false;
  g_executable = false;
  return true;
}

bool make_code_executable() {
  std::uint8_t* area = code_area();
  if (!area) return false;
  if (mprotect(area, code_area_span(), PROT_READ | PROT_EXEC) != 0) return false;
  g_executable = true;
  return true;
}

bool code_executable() { return g_executable && code_area(); }

// ---- Byte primitives -----------------------------------------------------------

void emit8(CodeBuffer& c, std::uint8_t v) {
  if (c.pos >= c.limit) {
    c.full = true;
    return;
  }
  c.base[c.pos++] = v;
}

void emit32(CodeBuffer& c, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) emit8(c, static_cast<std::uint8_t>(v >> (8 * i)));
}

void patch_rel32(CodeBuffer& c, std::uint32_t at, std::uint32_t target) {
  if (at + 4 > c.limit) return;  // the rel32 was never written (buffer full)
  std::uint32_t rel = target - (at + 4);
  std::memcpy(c.base + at, &rel, 4);
}

void emit_rel32(CodeBuffer& c, std::uint32_t target) {
  std::uint32_t at = c.pos;
  emit32(c, 0);
  if (target != kOpen) patch_rel32(c, at, target);
}

// ---- Instruction forms -----------------------------------------------------------

namespace {

// The opcodes of each AluOp, in its order: the r32, r/m32 form and the EAX, imm32 form.
struct AluOpcodes {
  std::uint8_t reg_rm;
  std::uint8_t eax_imm;
};
constexpr AluOpcodes kAluOpcodes[] = {
    {0x03, 0x05},  // add
    {0x2B, 0x2D},  // sub
    {0x23, 0x25},  // and
    {0x0B, 0x0D},  // or
    {0x33, 0x35},  // xor
    {0x3B, 0x3D},  // cmp
    {0x8B, 0xB8},  // mov
};
static_assert(std::size(kAluOpcodes) == static_cast<std::size_t>(AluOp::mov) + 1, "one row per AluOp");

const AluOpcodes& opcodes(AluOp op) { return kAluOpcodes[static_cast<int>(op)]; }

// The condition field (tttn) of each Condition, in its order: jcc rel8 is 70+tttn.
constexpr std::uint8_t kConditionCodes[] = {
    0x4,  // e
    0x5,  // ne
    0xC,  // l
    0xF,  // g
    0xE,  // le
    0xD,  // ge
    0x3,  // ae
    0x9,  // ns
};
static_assert(std::size(kConditionCodes) == static_cast<std::size_t>(Condition::not_sign) + 1,
              "one row per Condition");

// opcode r32, [rdi + disp32]
void modrm_var(CodeBuffer& c, std::uint8_t opcode, Reg r, std::int32_t disp) {
  emit8(c, opcode);
  emit8(c, 0x80 | (r << 3) | edi);
  emit32(c, static_cast<std::uint32_t>(disp));
}

// opcode r32, [addr32]  (SIB with no base and no index: absolute, not RIP-relative)
void modrm_abs(CodeBuffer& c, std::uint8_t opcode, Reg r, std::uint32_t addr) {
  emit8(c, opcode);
  emit8(c, 0x04 | (r << 3));
  emit8(c, 0x25);
  emit32(c, addr);
}

}  // namespace

// mov r32, imm32
void mov_reg_imm(CodeBuffer& c, Reg r, std::int32_t imm) {
  emit8(c, 0xB8 + r);
  emit32(c, static_cast<std::uint32_t>(imm));
}

// mov r32, [rdi + disp32]
void mov_reg_var(CodeBuffer& c, Reg r, std::int32_t disp) { alu_reg_var(c, AluOp::mov, r, disp); }

// mov r32, [addr32]
void mov_reg_abs(CodeBuffer& c, Reg r, std::uint32_t addr) { alu_reg_abs(c, AluOp::mov, r, addr); }

// mov r32, edi
void mov_reg_edi(CodeBuffer& c, Reg r) {
  emit8(c, 0x8B);
  emit8(c, 0xC0 | (r << 3) | edi);
}

// add r32, imm32
void add_reg_imm(CodeBuffer& c, Reg r, std::int32_t imm) {
  emit8(c, 0x81);
  emit8(c, 0xC0 | r);
  emit32(c, static_cast<std::uint32_t>(imm));
}

// neg r32
void neg_reg(CodeBuffer& c, Reg r) {
  emit8(c, 0xF7);
  emit8(c, 0xD8 | r);
}

// mov [addr32], eax
void mov_abs_eax(CodeBuffer& c, std::uint32_t addr) {
  emit8(c, 0x89);
  emit8(c, 0x04);
  emit8(c, 0x25);
  emit32(c, addr);
}

// mov [rdi + disp32], eax
void mov_var_eax(CodeBuffer& c, std::int32_t disp) {
  emit8(c, 0x89);
  emit8(c, 0x87);
  emit32(c, static_cast<std::uint32_t>(disp));
}

// add/sub/and/or/xor/cmp/mov eax, imm32
void alu_eax_imm(CodeBuffer& c, AluOp op, std::int32_t imm) {
  emit8(c, opcodes(op).eax_imm);
  emit32(c, static_cast<std::uint32_t>(imm));
}

// op r32, [rdi + disp32]
void alu_reg_var(CodeBuffer& c, AluOp op, Reg r, std::int32_t disp) { modrm_var(c, opcodes(op).reg_rm, r, disp); }

// op r32, [addr32]
void alu_reg_abs(CodeBuffer& c, AluOp op, Reg r, std::uint32_t addr) { modrm_abs(c, opcodes(op).reg_rm, r, addr); }

// op eax, ebx
void alu_eax_ebx(CodeBuffer& c, AluOp op) {
  emit8(c, opcodes(op).reg_rm);
  emit8(c, 0xC3);
}

// imul eax, eax, imm32
void imul_eax_imm(CodeBuffer& c, std::int32_t imm) {
  emit8(c, 0x69);
  emit8(c, 0xC0);
  emit32(c, static_cast<std::uint32_t>(imm));
}

// imul eax, [rdi + disp32]
void imul_eax_var(CodeBuffer& c, std::int32_t disp) {
  emit8(c, 0x0F);
  modrm_var(c, 0xAF, eax, disp);
}

// imul eax, [addr32]
void imul_eax_abs(CodeBuffer& c, std::uint32_t addr) {
  emit8(c, 0x0F);
  modrm_abs(c, 0xAF, eax, addr);
}

// mov ebx, eax
void mov_ebx_eax(CodeBuffer& c) {
  emit8(c, 0x8B);
  emit8(c, 0xD8);
}

// cmp ebx, imm32
void cmp_ebx_imm(CodeBuffer& c, std::int32_t imm) {
  emit8(c, 0x81);
  emit8(c, 0xFB);
  emit32(c, static_cast<std::uint32_t>(imm));
}

// jcc rel8
void jcc_short(CodeBuffer& c, Condition cond, std::int8_t rel) {
  emit8(c, 0x70 | kConditionCodes[static_cast<int>(cond)]);
  emit8(c, static_cast<std::uint8_t>(rel));
}

// jmp rel8
void jmp_short(CodeBuffer& c, std::int8_t rel) {
  emit8(c, 0xEB);
  emit8(c, static_cast<std::uint8_t>(rel));
}

// xor eax, eax
void xor_eax_eax(CodeBuffer& c) {
  emit8(c, 0x33);
  emit8(c, 0xC0);
}

// jcc .keep; xor eax, eax; .keep:
void zero_eax_unless(CodeBuffer& c, Condition cond) {
  jcc_short(c, cond, 2);
  xor_eax_eax(c);
}

// cdq; idiv ecx
void cdq_idiv_ecx(CodeBuffer& c) {
  emit8(c, 0x99);
  emit8(c, 0xF7), emit8(c, 0xF9);
}

void guarded_idiv_ecx(CodeBuffer& c) {
  emit8(c, 0x85), emit8(c, 0xC9);                  // test ecx, ecx
  jcc_short(c, Condition::equal, 14);              // jz .zero
  emit8(c, 0x83), emit8(c, 0xF9), emit8(c, 0xFF);  // cmp ecx, -1
  jcc_short(c, Condition::equal, 5);               // je .negate
  cdq_idiv_ecx(c);                                 // cdq; idiv ecx
  jmp_short(c, 9);                                 // jmp .done
  neg_reg(c, eax);                                 // .negate: neg eax (INT_MIN stays INT_MIN)
  jmp_short(c, 5);                                 // jmp .done
  mov_reg_imm(c, eax, 0x7FFFFFFF);                 // .zero: mov eax, 2147483647
}                                                  // .done:

// cmp eax, 0
void cmp_eax_zero(CodeBuffer& c) {
  emit8(c, 0x83);
  emit8(c, 0xF8);
  emit8(c, 0x00);
}

// jz rel32
std::uint32_t jz_rel32(CodeBuffer& c, std::uint32_t target) {
  emit8(c, 0x0F);
  emit8(c, 0x84);
  std::uint32_t at = c.pos;
  emit_rel32(c, target);
  return at;
}

// jmp rel32
std::uint32_t jmp_rel32(CodeBuffer& c, std::uint32_t target) {
  emit8(c, 0xE9);
  std::uint32_t at = c.pos;
  emit_rel32(c, target);
  return at;
}

// call rel32
std::uint32_t call_rel32(CodeBuffer& c, std::uint32_t target) {
  emit8(c, 0xE8);
  std::uint32_t at = c.pos;
  emit_rel32(c, target);
  return at;
}

// ret
void ret(CodeBuffer& c) { emit8(c, 0xC3); }

void spend_jump_budget(CodeBuffer& c) {
  emit8(c, 0xFF), emit8(c, 0x0C), emit8(c, 0x25);  // dec dword [budget]
  emit32(c, abs_run_word(offsetof(RunWords, budget)));
  jcc_short(c, Condition::not_sign, 5);            // jns +5
  call_rel32(c, kEndlessStub);                     // call endless_stub
}

void restore_record(CodeBuffer& c) {
  emit8(c, 0x44), emit8(c, 0x89), emit8(c, 0xE7);  // mov edi, r12d
}

// sub rsp, 8; call rel32; add rsp, 8: a gosub takes 16 bytes of stack, which
// keeps brain code at one stack alignment.
std::uint32_t gosub_call(CodeBuffer& c, std::uint32_t target) {
  emit8(c, 0x48), emit8(c, 0x83), emit8(c, 0xEC), emit8(c, 0x08);
  std::uint32_t at = call_rel32(c, target);
  emit8(c, 0x48), emit8(c, 0x83), emit8(c, 0xC4), emit8(c, 0x08);
  return at;
}

void check_gosub_depth(CodeBuffer& c) {
  emit8(c, 0x48), emit8(c, 0x3B), emit8(c, 0x24), emit8(c, 0x25);  // cmp rsp, [stack_limit]
  emit32(c, abs_run_word(offsetof(RunWords, stack_limit)));
  jcc_short(c, Condition::above_equal, 5);                         // jae +5
  call_rel32(c, kDeepStub);                                        // call deep_stub
}

// ---- Stubs and thunks ------------------------------------------------------------

namespace {

void emit_bytes(CodeBuffer& c, std::initializer_list<std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) emit8(c, b);
}

// int32 entry(uint32 code, uint32 record): saves the callee-saved registers
// brain code and thunks change, notes the stack for stopping the run, and
// calls the brain with RDI = R12 = record. Brain code always runs with RSP at 0
// modulo 16 (a gosub takes 16 bytes), so a keyword's call leaves its thunk at 8,
// as at a function's entry, and the thunk jumps into the C++ routine without
// work. Stopping jumps back to `leave` with the stack of the innermost entry, so
// nested runs unwind one at a time.
void write_entry_stub(std::uint8_t* area) {
  CodeBuffer c{area, kEntryStub, kEndlessStub, false};
  std::uint32_t saved = abs_run_word(offsetof(RunWords, saved_rsp));
  std::uint32_t limit = abs_run_word(offsetof(RunWords, stack_limit));
  // Brain code and thunks change only RBX and R12 of the callee-saved registers.
  emit_bytes(c, {0x53, 0x41, 0x54});  // push rbx; push r12
  emit_bytes(c, {0xFF, 0x34, 0x25}), emit32(c, saved);  // push qword [saved_rsp]
  emit_bytes(c, {0xFF, 0x34, 0x25}), emit32(c, limit);  // push qword [stack_limit]
  emit_bytes(c, {0x48, 0x89, 0x24, 0x25}), emit32(c, saved);  // mov [saved_rsp], rsp
  // lea rax, [rsp - 16 * kGosubDepth]
  emit_bytes(c, {0x48, 0x8D, 0x84, 0x24}), emit32(c, static_cast<std::uint32_t>(-16 * kGosubDepth));
  emit_bytes(c, {0x48, 0x89, 0x04, 0x25}), emit32(c, limit);  // mov [stack_limit], rax
  emit_bytes(c, {0x89, 0xF8});        // mov eax, edi      (code address)
  emit_bytes(c, {0x89, 0xF7});        // mov edi, esi      (record, zero-extended into rdi)
  emit_bytes(c, {0x41, 0x89, 0xF4});  // mov r12d, esi     (kept for the thunks)
  emit_bytes(c, {0xFF, 0xD0});        // call rax
  std::uint32_t leave = c.pos;
  emit_bytes(c, {0x8F, 0x04, 0x25}), emit32(c, limit);  // leave: pop qword [stack_limit]
  emit_bytes(c, {0x8F, 0x04, 0x25}), emit32(c, saved);  // pop qword [saved_rsp]
  emit_bytes(c, {0x41, 0x5C, 0x5B});  // pop r12; pop rbx
  ret(c);

  std::uint32_t status = abs_run_word(offsetof(RunWords, status));
  std::uint32_t stopped_at = abs_run_word(offsetof(RunWords, stopped_at));
  for (auto [at, code] : {std::pair{kEndlessStub, RunStatus::endless_loop}, std::pair{kDeepStub, RunStatus::too_deep}}) {
    CodeBuffer s{area, at, at + 64, false};
    // The code area lies below 4 GiB: the return address fits 32 bits.
    emit_bytes(s, {0x8B, 0x04, 0x24});                     // mov eax, [rsp]
    emit_bytes(s, {0x89, 0x04, 0x25}), emit32(s, stopped_at);  // mov [stopped_at], eax
    emit_bytes(s, {0xC7, 0x04, 0x25}), emit32(s, status);  // mov dword [status], code
    emit32(s, static_cast<std::uint32_t>(code));
    emit_bytes(s, {0x48, 0x8B, 0x24, 0x25}), emit32(s, saved);  // mov rsp, [saved_rsp]
    xor_eax_eax(s);                                             // xor eax, eax
    jmp_rel32(s, leave);                                        // jmp leave
  }
}

// The thunk of a routine: moves EAX, EBX, ECX, EDX, ESI and the record to the
// C++ parameters and jumps into the routine (the stack is aligned: see the
// entry stub), which returns straight to the brain; the call site restores RDI
// from R12, which C++ code preserves.
void write_thunk(std::uint8_t* area, std::uint32_t at, Routine routine) {
  CodeBuffer c{area, at, at + kThunkBytes, false};
  emit_bytes(c, {0x41, 0x89, 0xF9});        // mov r9d, edi    (self)
  emit_bytes(c, {0x41, 0x89, 0xF0});        // mov r8d, esi    (e)
  emit_bytes(c, {0x41, 0x89, 0xD2});        // mov r10d, edx
  emit_bytes(c, {0x89, 0xCA});              // mov edx, ecx    (c)
  emit_bytes(c, {0x44, 0x89, 0xD1});        // mov ecx, r10d   (d)
  emit_bytes(c, {0x89, 0xDE});              // mov esi, ebx    (b)
  emit_bytes(c, {0x89, 0xC7});              // mov edi, eax    (a)
  emit_bytes(c, {0x48, 0xB8});              // mov rax, imm64
  auto address = reinterpret_cast<std::uint64_t>(routine);
  emit32(c, static_cast<std::uint32_t>(address));
  emit32(c, static_cast<std::uint32_t>(address >> 32));
  emit_bytes(c, {0xFF, 0xE0});              // jmp rax
}

}  // namespace

void write_stubs_and_thunks(std::uint8_t* area) {
  write_entry_stub(area);
  for (int row = 0; row < kKeywordRows; ++row)
    if (routine_row(row) == row) write_thunk(area, thunk_position(row), routine_of(row));
}

}  // namespace brain
