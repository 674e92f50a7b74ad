// Internals of the brain compiler shared by the files of brain/: the code
// buffer and its emitters, the layout of the code and run-time areas, and the
// compiler state that the parser passes around.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "brain/brain.h"

namespace brain {

// ---- Areas ---------------------------------------------------------------------

// Layout of base::Area::brain_code: brain bodies first, then the stubs that
// enter and leave brain code, then one call thunk per routine row.
inline constexpr std::uint32_t kStubsOffset = 524288;
inline constexpr std::uint32_t kThunksOffset = kStubsOffset + 512;
inline constexpr std::uint32_t kThunkBytes = 64;
inline constexpr std::uint32_t kCodeAreaUsed = kThunksOffset + kThunkBytes * kKeywordRows;

// Offsets of the stubs inside the stub block.
inline constexpr std::uint32_t kEntryStub = kStubsOffset;          // int32 (uint32 code, uint32 record)
inline constexpr std::uint32_t kEndlessStub = kStubsOffset + 256;  // called on an exhausted budget
inline constexpr std::uint32_t kDeepStub = kStubsOffset + 320;     // called on too many gosubs

// Words that generated code reads and writes at absolute addresses, at
// kRunWordsOffset of base::Area::brain_data.
// WARNING: generated code addresses these fields by offset.
struct RunWords {
  std::int32_t budget;       // backward jumps, gosubs and nested runs left in this run; below 0 stops it
  std::int32_t status;       // RunStatus of the innermost stopped run
  std::int32_t depth;        // runs in progress
  std::uint32_t stopped_at;  // code address just after the call of the stop stub that stopped the last run
  std::uint64_t saved_rsp;   // stack pointer of the innermost entry, for stopping a run
  std::uint64_t stack_limit; // a gosub below this is too deep
};
static_assert(offsetof(RunWords, budget) == 0);
static_assert(offsetof(RunWords, status) == 4);
static_assert(offsetof(RunWords, stopped_at) == 12);
static_assert(offsetof(RunWords, saved_rsp) == 16);
static_assert(offsetof(RunWords, stack_limit) == 24);

std::uint8_t* code_area();           // null before base::reserve_budget()
RunWords* run_words();
std::int32_t* temp_slots();          // kTempSlots words
std::uint8_t* entry_map();           // kCodeLimit bits
std::uint32_t temp_address(int slot);  // absolute address of a temporary slot

// W^X: the code area is writable while compiling and executable while running.
bool make_code_writable();
bool make_code_executable();
bool code_executable();

// ---- Code buffer and emitters ------------------------------------------------------

enum Reg : std::uint8_t { eax = 0, ecx = 1, edx = 2, ebx = 3, esi = 6, edi = 7 };

// Argument places 1..5 of a call.
inline constexpr Reg kPlaces[5] = {eax, ebx, ecx, edx, esi};

struct CodeBuffer {
  std::uint8_t* base = nullptr;  // start of the code area
  std::uint32_t pos = 0;         // next byte, from base
  std::uint32_t limit = 0;       // bytes may be written below this
  bool full = false;             // a write was refused
};

void emit8(CodeBuffer& c, std::uint8_t v);
void emit32(CodeBuffer& c, std::uint32_t v);
// rel32 to target (a position from base), counted from the end of these 4 bytes.
void emit_rel32(CodeBuffer& c, std::uint32_t target);
// Writes a rel32 at `at` that reaches target.
void patch_rel32(CodeBuffer& c, std::uint32_t at, std::uint32_t target);

// One function per instruction form; disp is a record offset, addr an absolute address.
void mov_reg_imm(CodeBuffer& c, Reg r, std::int32_t imm);
void mov_reg_var(CodeBuffer& c, Reg r, std::int32_t disp);
void mov_reg_abs(CodeBuffer& c, Reg r, std::uint32_t addr);
void mov_reg_edi(CodeBuffer& c, Reg r);
void add_reg_imm(CodeBuffer& c, Reg r, std::int32_t imm);
void neg_reg(CodeBuffer& c, Reg r);
void mov_abs_eax(CodeBuffer& c, std::uint32_t addr);
void mov_var_eax(CodeBuffer& c, std::int32_t disp);

// Operations of the two-operand ALU forms; emit.cpp alone knows their opcodes.
enum class AluOp : std::uint8_t { add, sub, and_, or_, xor_, cmp, mov };
// Conditions of the conditional jumps: the signed orders the brain language
// compares with, and the unsigned and sign tests of the emitter's own checks.
enum class Condition : std::uint8_t {
  equal,
  not_equal,
  less,
  greater,
  less_equal,
  greater_equal,
  above_equal,  // unsigned
  not_sign,
};

// op eax, imm32
void alu_eax_imm(CodeBuffer& c, AluOp op, std::int32_t imm);
// op r32, [rdi + disp32]
void alu_reg_var(CodeBuffer& c, AluOp op, Reg r, std::int32_t disp);
// op r32, [addr32]
void alu_reg_abs(CodeBuffer& c, AluOp op, Reg r, std::uint32_t addr);
// op eax, ebx
void alu_eax_ebx(CodeBuffer& c, AluOp op);
void imul_eax_imm(CodeBuffer& c, std::int32_t imm);
void imul_eax_var(CodeBuffer& c, std::int32_t disp);
void imul_eax_abs(CodeBuffer& c, std::uint32_t addr);
void mov_ebx_eax(CodeBuffer& c);
void cmp_ebx_imm(CodeBuffer& c, std::int32_t imm);
// Short jumps: rel counts from the end of the jump's two bytes.
void jcc_short(CodeBuffer& c, Condition cond, std::int8_t rel);
void jmp_short(CodeBuffer& c, std::int8_t rel);
void xor_eax_eax(CodeBuffer& c);
// Keeps EAX when the flags say cond, else zeroes it: EAX = 1 before gives a comparison's 1 or 0.
void zero_eax_unless(CodeBuffer& c, Condition cond);
// EAX = EAX / ECX, with ECX neither zero nor -1.
void cdq_idiv_ecx(CodeBuffer& c);
// EAX = EAX / ECX, with a zero divisor giving 2147483647 and INT_MIN / -1 INT_MIN.
void guarded_idiv_ecx(CodeBuffer& c);
void cmp_eax_zero(CodeBuffer& c);
// Jumps and calls leave their rel32 open when target is kOpen; they return its position.
inline constexpr std::uint32_t kOpen = 0xFFFFFFFF;
std::uint32_t jz_rel32(CodeBuffer& c, std::uint32_t target);
std::uint32_t jmp_rel32(CodeBuffer& c, std::uint32_t target);
std::uint32_t call_rel32(CodeBuffer& c, std::uint32_t target);
void ret(CodeBuffer& c);
// Spends one unit of the run's jump budget; an exhausted budget stops the run.
// The stops are calls, so the stub notes where the run stopped.
void spend_jump_budget(CodeBuffer& c);
// After a keyword's call: RDI = the running record again (kept in R12).
void restore_record(CodeBuffer& c);
// A gosub's call; returns the position of its rel32.
std::uint32_t gosub_call(CodeBuffer& c, std::uint32_t target);
// Stops the run when the stack is kGosubDepth calls deep.
void check_gosub_depth(CodeBuffer& c);

// Writes the entry and stop stubs and every routine's thunk (area writable).
void write_stubs_and_thunks(std::uint8_t* area);
inline std::uint32_t thunk_position(int row) {
  return kThunksOffset + kThunkBytes * static_cast<std::uint32_t>(routine_row(row));
}

// ---- Compiler state ------------------------------------------------------------------

// A working text: a line and what the rewriting makes of it. Fixed capacity;
// an edit that would not fit is refused and sets `overflow`.
struct Buf {
  static constexpr int kCapacity = 8192;
  char data[kCapacity];
  int len = 0;
  bool overflow = false;

  std::string_view view() const { return {data, static_cast<std::size_t>(len)}; }
  void set(std::string_view s);
  // Replaces [at, at + n) by s.
  void replace(int at, int n, std::string_view s);
};

enum class OperandKind { constant, variable, element, temporary };

struct Operand {
  OperandKind kind = OperandKind::constant;
  std::int32_t value = 0;  // constant; record offset; distance in bytes; slot
  bool negated = false;    // variables and temporaries: negate when loaded
};

struct Variable {
  std::string name;
  std::int32_t offset;  // byte offset in the record: 1020 - 4n
  int kind;             // 0 var, 1..6 user parameter kinds
};

struct Label {
  char name[kLabelLength];  // padded with blanks
  std::uint32_t pos;
};

// A goto or gosub whose label was not yet defined when it was emitted.
struct Fixup {
  char name[kLabelLength];
  std::uint32_t at;  // position of the rel32
  int line_number;
  std::string_view source;  // the line as written, for the message
  bool gosub;
};

struct Compiler {
  CodeBuffer code;
  bool warned_code_low = false;  // "Expression parser memory low." told this compile
  const CompileOptions* options = nullptr;
  std::span<std::byte> literals;   // free arena bytes
  std::uint32_t literal_bytes = 0; // taken by this compile

  Variable vars[kMaxVariables];
  int var_count = 0;
  Label labels[kMaxLabels];
  int label_count = 0;
  std::uint32_t branch[kBranchDepth];
  int branch_count = 0;
  // Where each open branch began, for the note on an `if` left open.
  struct OpenBranch {
    int line_number;
    std::string_view source;
    bool is_else;
  } branch_from[kBranchDepth];
  std::vector<Fixup> fixups;
  std::vector<LineStart>* lines = nullptr;  // where each line's code begins; null: not kept

  int temps = 0;       // next temporary slot of this statement
  int eax_temp = -1;   // slot whose value EAX holds, -1 none
  // The last store to a temporary, dropped when nothing reads it back.
  std::uint32_t last_store_at = 0;   // where the store begins
  std::uint32_t last_store_end = 0;  // and where it ends
  int last_store_slot = -1;
  bool last_store_read = false;
  bool picking = false;

  bool failed = false;
  BrainError error;
  int line_number = 0;
  std::string_view source;  // the line as written, read by the messages
  Buf raw;      // line with its case, literals not yet taken
  Buf working;  // line as first read, lower case, literals masked
};

// The pieces joined into one text.
std::string concat(std::initializer_list<std::string_view> pieces);

// Sets the compile error (first one wins); returns false for chaining.
bool fail(Compiler& c, std::string_view message);

// Compiles one brain's text at the code position. On return c.failed says
// whether it compiled; code for a failed brain is left for the caller to drop.
void compile_brain(Compiler& c, std::string_view file_name, std::string_view text, bool exists);

// Parses an operand (already folded text); false with the error set.
bool parse_operand(Compiler& c, std::string_view text, Operand& out);

// Reduces a line the way every brain line is read: drops the comment, trims
// blanks and tabs. Empty when nothing is left.
std::string_view reduce_line(std::string_view line);

}  // namespace brain
