// Brain language: the keyword table, the compiler that turns brain files into
// native x86-64 code in the fixed memory budget, and the entry into that code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/memory.h"

namespace brain {

inline constexpr int kKeywordRows = 488;          // rows of the keyword table
inline constexpr int kMaxElements = 256;          // element records a project compiles
inline constexpr int kMaxVariables = 127;         // declarations per brain
inline constexpr int kMaxLabels = 102;            // labels per brain
inline constexpr int kLabelLength = 16;           // characters of a label name
inline constexpr int kTempSlots = 1024;           // temporary values of one statement
inline constexpr int kBranchDepth = 1023;         // open "if"s of one brain
inline constexpr std::uint32_t kCodeLimit = 522240;  // bytes of compiled brain code
inline constexpr int kGosubDepth = 1024;          // nested gosubs of one run
inline constexpr int kRunDepth = 16;              // brains run inside brains (`execute`)
inline constexpr std::int32_t kJumpBudget = 1000000;  // backward jumps, gosubs and nested runs per run
// Budget units a nested run (`execute`) spends on entry: entering and leaving
// brain code costs about as much as that many jumps back.
inline constexpr std::int32_t kNestedRunCost = 100;

// Where the compiler keeps its run-time words: inside base::Area::brain_data,
// after the 2,048 globals (bytes 0..8191).
inline constexpr std::size_t kTempSlotsOffset = base::kGlobalsBytes;  // kTempSlots 32-bit temporaries
inline constexpr std::size_t kRunWordsOffset = 12288;   // jump budget, run status, saved stack
inline constexpr std::size_t kEntryMapOffset = 16384;   // one bit per code byte: a body begins here

// ---- Keywords ------------------------------------------------------------------

// One row of the keyword table. `r` and `f` are carried and read by nothing.
struct Keyword {
  const char* name;   // as written in brains
  std::uint8_t argc;  // 0..5 parameters
  std::uint8_t r;
  std::uint8_t f;
  bool picking = false;  // a call turns on picking for the project (Program::picking)
};

// Row i (0..kKeywordRows-1) in table order.
const Keyword& keyword(int row);
// Row of a keyword name, or -1.
int find_keyword(std::string_view name);
// Row of the first keyword sharing row's routine (the synonym group's first name).
int routine_row(int row);

// A runtime routine: the five argument registers EAX, EBX, ECX, EDX, ESI in
// order, then the address of the running element's record. Returns EAX.
using Routine = std::int32_t (*)(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                                 std::int32_t e, std::uint32_t self);

// Defines a runtime routine: arguments a..e in brain order, the running
// element's record address last.
#define ROUTINE(name)                                                                                         \
  std::int32_t name([[maybe_unused]] std::int32_t a, [[maybe_unused]] std::int32_t b,                       \
                    [[maybe_unused]] std::int32_t c, [[maybe_unused]] std::int32_t d,                       \
                    [[maybe_unused]] std::int32_t e, [[maybe_unused]] std::uint32_t self)

// Keywords whose routine only reads (`get`: returns the word) or writes (`set`:
// stores its second argument, returns 0) one 32-bit word of the record its
// first argument names, and does nothing for a reference that names no record.
// When that argument is `element` itself, the running record (which needs no
// check), the compiler emits the access in line instead of the call; every
// other reference still goes through the routine and its checks.
enum class FieldAccess : std::uint8_t { none, get, set };

// One row of a binding table: the routine a keyword (and its synonyms) calls,
// its description, and for a field keyword its access and record word 0..255.
// The description names what arguments a..e mean and what comes back, with
// units, in one line ("a element -> position x in L/512"); a routine with no
// "->" returns 0.
struct Binding {
  std::string_view name;  // any name of the synonym group
  Routine routine;
  const char* doc = "";
  FieldAccess access = FieldAccess::none;
  int word = 0;
};

// Every keyword starts bound to the placeholder, which returns 0; a subsystem
// binds its table over it (at start-up, before the compile that needs it).
// subject heads the table's rows in keyword_reference() ("Motion").
// False when some row was not bound: no keyword of that name, or a field access
// that does not fit (see bind_field()). The rows and the subject must outlive
// the bindings.
bool bind_table(std::span<const Binding> table, std::string_view subject);
// Binds a keyword (and its synonyms) to a routine with no description or field
// access; takes effect at the next compile. False when the name is no keyword.
bool bind_routine(std::string_view name, Routine routine);
// Declares keyword name (and its synonyms) a field access of record word
// 0..255; takes effect at the next compile, and bind_routine() on the keyword
// undoes it. False when the name is no keyword, the word is out of the record
// or the keyword's parameter count does not fit (get 1, set 2).
bool bind_field(std::string_view name, FieldAccess access, int word);

// The routine called for a keyword row.
Routine routine_of(int row);
// True while row's routine is still the placeholder that returns 0.
bool is_placeholder(int row);
// The description row's binding gave ("" for the placeholder and bind_routine()).
const char* routine_doc(int row);
// The subject of the table that bound row ("" for the placeholder and bind_routine()).
std::string_view routine_subject(int row);
// Row's field access and its word (0 when none).
FieldAccess field_access(int row, int* word);

// The keyword reference in markdown: a "### Subject" section per subject, in a
// fixed order, each a table of its bound keywords by name with their parameters
// a..e, synonyms and descriptions; then "### Not built yet", the keywords still
// bound to the placeholder.
std::string keyword_reference();

// ---- Compiling -----------------------------------------------------------------

// A failed brain and where: for messages that name a file and line.
struct BrainFault {
  int element = 0;           // whose brain failed
  int line = 0;              // 1-based line of its brain file; 0 when none
  std::string_view message;  // the system's wording, without the element's name
  bool running = false;      // stopped while it ran (else: did not compile)
  bool runtime_error = false;  // with running: a keyword's runtime error ended the run
};

// Where brain errors go: the message panel once it exists, stderr by default.
struct ErrorSink {
  void (*show)(void* context, std::string_view text) = nullptr;  // null: stderr
  void* context = nullptr;
  // Told besides show, with the element and line; null: nobody.
  void (*fault)(void* context, const BrainFault& fault) = nullptr;
  // Warnings that do not stop the compile, with their value (the value-and-text
  // warning box); null: stderr.
  void (*warn)(void* context, std::int32_t value, std::string_view text) = nullptr;
};
void show_error(const ErrorSink& sink, std::string_view text);
void show_warning(const ErrorSink& sink, std::int32_t value, std::string_view text);

// Below this many free bytes of the code area the compiler warns, once a compile,
// "Warning! Expression parser memory low." with the count.
inline constexpr std::uint32_t kCodeLowWater = 80000;

// The first compile error of a brain.
struct BrainError {
  std::string message;  // the system's wording
  std::string line;     // the line as written, comment and outer blanks dropped ("" before the first line)
  int line_number = 0;  // 1-based; 0 before the first line
  bool show_line = false;  // the panel text carries the line part
  // A hint at the likely mistake ("" for none), about the error's own line or
  // about note_line, an earlier line (an `if` left open), echoed as note_source.
  std::string note;
  int note_line = 0;  // 0: the error's line
  std::string note_source;
};
// "'" + name + "' brain ERROR!|" [+ line + " (" + number + ")|"] + message
// [+ "|note: " + note [+ ": " + note_source + " (" + note_line + ")"]]
std::string error_text(std::string_view element_name, const BrainError& error);

// Reads a brain file whole; false when it does not exist. The packaged player
// hooks its restore step here.
using ReadBrain = bool (*)(void* context, std::string_view path, std::string& bytes);

// Checks a string literal given as argument `index` (0-based) of `keyword`
// (the first name of its synonym group); returns "" when it is fine, else the
// message the brain fails with. Checks only: a run does not refuse literals.
using LiteralCheck = std::string (*)(std::string_view keyword, int index, std::string_view text);

struct CompileOptions {
  bool editor_pass = false;           // virtual editor: only ") editor" calls
  std::string_view base_folder;       // replaces a leading ".\" of string literals
  ErrorSink errors;                   // one report per failed brain
  ReadBrain read = nullptr;           // null: the file system
  void* read_context = nullptr;
  // Free tail of the data arena for string literals; bytes taken are cut off its
  // front. Null: the whole data arena (checks and tests only).
  std::span<std::byte>* literals = nullptr;
  LiteralCheck check_literal = nullptr;  // null: literals taken as they are
};

struct BrainSource {
  std::string_view element_name;
  std::string_view path;  // the element's brain file
};

// Where a line's code begins: brain lines map to code positions in rising order.
struct LineStart {
  std::uint32_t code;  // offset in the code area
  int line;            // 1-based line of the brain file
};

// The compiled project.
struct Program {
  int count = 0;                             // elements compiled
  std::uint32_t entry[kMaxElements] = {};    // code address of each element's body
  std::int16_t shares[kMaxElements] = {};    // element whose body it runs (itself when none)
  BrainError error[kMaxElements];            // first error of each failed brain
  bool brain_failed = false;                 // some brain failed to compile
  bool picking = false;                      // some brain calls `visual_picked`
  std::uint32_t code_bytes = 0;              // code used, of kCodeLimit
  std::uint32_t literal_bytes = 0;           // data arena used by string literals
  std::vector<LineStart> lines;              // line starts of every compiled body
};

// The brain line whose code holds the byte before code address `at` (a stopped
// run's RunResult::stopped_at, which follows the call that stopped it); 0 when none.
int line_at(const Program& program, std::uint32_t at);

// Compiles the brains of elements 0..sources.size()-1 into the code area, sets
// each record's brain code entry (word 21, base::Area::element_table) and
// leaves the code executable and not writable. Elements with byte-identical
// brain files share one body. A failed brain is reported through
// options.errors and runs as a single return. Needs base::reserve_budget().
// False when a brain failed or more than kMaxElements sources are given.
bool compile_project(std::span<const BrainSource> sources, const CompileOptions& options,
                     Program& program);

// Reads the value text of a "var " user parameter as a brain operand: numbers
// with unit suffixes and hexadecimal. False (value 0) for anything that is no
// constant. Fits project::OperandReader.
bool read_operand(std::string_view text, std::int32_t* value, void* user);

// Brain files are read this far at most: a longer one is cut there.
inline constexpr std::size_t kMaxBrainFileBytes = std::size_t{16} << 20;

// One brain of `zepta --check`: its text (null: the file at path is read),
// and where its lines are told: line n is line line_before + n of file.
struct CheckedBrain {
  std::string_view file;
  int line_before = 0;
  std::string_view path;
  const std::string* text = nullptr;
};
// Compiles each brain on its own and prints "file:line: message" (and the line)
// to out for each failure; returns how many failed.
int check_brains(std::span<const CheckedBrain> brains, std::FILE* out, LiteralCheck check_literal = nullptr);
// The text `zepta --check` prints for a brain's first error: "file:line:
// message", the line as written, and the note when there is one; its lines
// are told as line line_before + n of file.
std::string check_report(std::string_view file, int line_before, const BrainError& error);
// Compiles text on its own as the brain file named file, as `zepta --check`
// does. False with the first error in *error and its check_report() in
// *report (either may be null); true with report emptied.
bool check_text(std::string_view file, std::string_view text, BrainError* error, std::string* report,
                LiteralCheck check_literal = nullptr);
// `zepta --check FILE.brn...`: each brain file on its own, as check_brains
// tells them. 0 when every brain compiles, 1 otherwise.
int check_files(std::span<const std::string_view> files, std::FILE* out, LiteralCheck check_literal = nullptr);

// ---- Running -------------------------------------------------------------------

enum class RunStatus : std::int32_t {
  ok = 0,
  endless_loop = 1,   // more than kJumpBudget backward jumps, gosubs and nested runs in one run
  too_deep = 2,       // gosubs nested more than kGosubDepth
  not_runnable = 3,   // no code, code not executable, or runs nested too deep
};

struct RunResult {
  std::int32_t value = 0;  // what the brain left in EAX
  RunStatus status = RunStatus::ok;
  std::uint32_t stopped_at = 0;  // endless_loop, too_deep: code address of the check that stopped it
};

// Runs the brain at entry with record (an element record address) as the
// running element. Nested runs (`execute`) share the outer run's jump budget,
// spend kNestedRunCost of it on entry (none left: status endless_loop, nothing
// runs) and stop at kRunDepth; a run that stops early returns value 0. A run
// that ends with the budget spent, by itself, a nested run or a keyword's
// charge, ends endless_loop. An entry that is not the start of a compiled body
// (record word 21 can be overwritten by brains) runs nothing.
RunResult run(std::uint32_t entry, std::uint32_t record);

// A keyword whose work costs as much as `units` jumps back spends that much of
// the running brain's budget (nothing outside a run). False once the budget is
// spent: the keyword then skips its work, and the run stops as an endless loop
// at its next jump back, or ends with that status. call_site: the brain code
// the keyword returns to (its line is told; 0 when unknown).
bool charge_budget(std::int64_t units, std::uint32_t call_site = 0);
// True while a brain runs and its budget is spent.
bool budget_spent();

// True when entry is the code of one of program's bodies (record word 21 can
// be overwritten by brains, so the engine checks it before entering).
bool valid_entry(const Program& program, std::uint32_t entry);

// Runs element index's brain from its record word 21 (an invalid entry runs
// nothing) and reports a run that had to be stopped:
// "'" + name + "' brain ERROR!|" + reason.
RunResult run_element(const Program& program, int index, std::string_view element_name,
                      const ErrorSink& errors);
// Reports a run of element index's brain that had to be stopped (nothing for
// the others): the text as run_element() gives it, and the fault with its line.
void report_stopped(const Program& program, int index, std::string_view element_name, const RunResult& result,
                    const ErrorSink& errors);

}  // namespace brain
