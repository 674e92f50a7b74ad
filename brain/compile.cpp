// Compiling a whole project's brains into the code area, sharing bodies between
// identical brain files, reporting failed brains, and entering compiled code.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <cstdio>

#include "brain/local.h"
#include "project/project.h"
#include "base/files.h"
#include "base/memory.h"
#include "base/paths.h"
#include "base/text.h"

namespace brain {

static_assert(kMaxElements == project::kMaxElements);
static_assert(kMaxVariables == project::kMaxUserParameters);
static_assert(sizeof(project::ElementRecord) == 1024);

namespace {


project::ElementRecord* element_record(int i) {
  return base::area_as<project::ElementRecord>(base::Area::element_table) + i;
}

// A folder, a device or a missing file is no brain file.
bool read_file_whole(void*, std::string_view path, std::string& bytes) {
  return base::read_regular_file(path, kMaxBrainFileBytes, bytes);
}

void to_stderr(void*, std::string_view text) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

struct BrainFile {
  bool exists = false;
  std::string bytes;
};

}  // namespace

void show_error(const ErrorSink& sink, std::string_view text) {
  (sink.show ? sink.show : to_stderr)(sink.context, text);
}

void show_warning(const ErrorSink& sink, std::int32_t value, std::string_view text) {
  if (sink.warn) return sink.warn(sink.context, value, text);
  std::fprintf(stderr, "Value: %d\n%.*s\n", value, static_cast<int>(text.size()), text.data());
}

std::string error_text(std::string_view element_name, const BrainError& error) {
  std::string text;
  text.reserve(element_name.size() + error.line.size() + error.message.size() + 40);
  text.append("'").append(element_name).append("' brain ERROR!|");
  if (error.show_line) text.append(error.line).append(" (").append(std::to_string(error.line_number)).append(")|");
  text.append(error.message);
  if (error.note.empty()) return text;
  text.append("|note: ").append(error.note);
  if (error.note_line > 0)
    text.append(": ").append(error.note_source).append(" (").append(std::to_string(error.note_line)).append(")");
  return text;
}

bool compile_project(std::span<const BrainSource> sources, const CompileOptions& options, Program& program) {
  program.count = 0;
  program.brain_failed = false;
  program.picking = false;
  program.code_bytes = program.literal_bytes = 0;
  program.lines.clear();
  for (BrainError& e : program.error) e = BrainError{};
  std::uint8_t* area = code_area();
  if (!area || sources.size() > static_cast<std::size_t>(kMaxElements) || !make_code_writable()) {
    program.brain_failed = true;
    return false;
  }
  write_stubs_and_thunks(area);

  // Byte-identical brain files share one body: equal checksums alone are not enough.
  int n = static_cast<int>(sources.size());
  auto files = std::make_unique<BrainFile[]>(static_cast<std::size_t>(n));
  ReadBrain read = options.read ? options.read : read_file_whole;
  for (int i = 0; i < n; ++i) {
    files[i].exists = read(options.read_context, sources[i].path, files[i].bytes);
    program.shares[i] = static_cast<std::int16_t>(i);
    for (int j = 0; j < i && files[i].exists; ++j)
      if (program.shares[j] == j && files[j].exists && files[j].bytes == files[i].bytes) {
        program.shares[i] = static_cast<std::int16_t>(j);
        break;
      }
  }

  std::span<std::byte> whole_arena = base::area(base::Area::data_arena);
  auto c = std::make_unique<Compiler>();
  c->options = &options;
  c->lines = &program.lines;
  c->literals = options.literals ? *options.literals : whole_arena;
  // Every failed brain needs room for its single return below kCodeLimit.
  c->code = CodeBuffer{area, 0, kCodeLimit - kMaxElements, false};
  for (int i = 0; i < n; ++i) {
    int owner = program.shares[i];
    if (owner != i) {
      program.entry[i] = program.entry[owner];
      continue;
    }
    std::uint32_t start = c->code.pos;
    program.entry[i] = base::address32(area + start);
    compile_brain(*c, sources[i].path, files[i].bytes, files[i].exists);
    if (c->failed) {
      program.brain_failed = true;
      program.error[i] = c->error;
      show_error(options.errors, error_text(sources[i].element_name, c->error));
      if (options.errors.fault)
        options.errors.fault(options.errors.context, {i, c->error.line_number, c->error.message, false});
      while (!program.lines.empty() && program.lines.back().code >= start) program.lines.pop_back();
      // A single ret: the element keeps running, its brain does nothing. The byte
      // may lie past the buffer's limit, which keeps room for one per element.
      CodeBuffer body{area, start, start + 1, false};
      ret(body);
      c->code.pos = body.pos;
      c->code.full = false;
    }
  }
  std::uint8_t* map = entry_map();
  std::memset(map, 0, kCodeLimit / 8);
  for (int i = 0; i < n; ++i) {
    element_record(i)->brain_entry = static_cast<std::int32_t>(program.entry[i]);
    std::uint32_t at = program.entry[i] - base::address32(area);
    map[at / 8] |= static_cast<std::uint8_t>(1u << (at % 8));
  }

  program.count = n;
  program.picking = c->picking;
  program.code_bytes = c->code.pos;
  program.literal_bytes = c->literal_bytes;
  if (options.literals) *options.literals = c->literals;
  if (!make_code_executable()) {
    program.brain_failed = true;
    return false;
  }
  return !program.brain_failed;
}

// ---- Running -------------------------------------------------------------------------

RunResult run(std::uint32_t entry, std::uint32_t record) {
  RunWords* w = run_words();
  std::uint8_t* area = code_area();
  RunResult result;
  std::uint32_t code_start = area ? base::address32(area) : 0;
  std::uint32_t at = entry - code_start;
  if (!w || !code_executable() || entry < code_start || at >= kCodeLimit ||
      !(entry_map()[at / 8] & (1u << (at % 8))) || w->depth >= kRunDepth) {
    result.status = RunStatus::not_runnable;
    return result;
  }
  if (w->depth == 0) {
    w->budget = kJumpBudget;
    w->stopped_at = 0;
  } else if (!charge_budget(kNestedRunCost)) {
    // A brain entered from a brain spends the run's budget: a few `execute`
    // lines nested kRunDepth deep would otherwise start billions of runs.
    result.status = RunStatus::endless_loop;
    return result;
  }
  std::int32_t outer_status = w->status;
  w->status = 0;
  ++w->depth;
  auto enter = reinterpret_cast<std::int32_t (*)(std::uint32_t, std::uint32_t)>(area + kEntryStub);
  result.value = enter(entry, record);
  --w->depth;
  result.status = static_cast<RunStatus>(w->status);
  w->status = outer_status;
  // A spent budget ends every run it is shared by, even one whose own code
  // took no jump back since (a nested run or a keyword spent it).
  if (result.status == RunStatus::ok && w->budget < 0) result.status = RunStatus::endless_loop;
  if (result.status != RunStatus::ok) {
    result.value = 0;
    result.stopped_at = w->stopped_at;
  }
  return result;
}

bool charge_budget(std::int64_t units, std::uint32_t call_site) {
  RunWords* w = run_words();
  if (!w || w->depth == 0) return true;
  if (w->budget < 0) return false;
  if (units <= w->budget) {
    w->budget -= static_cast<std::int32_t>(std::max<std::int64_t>(units, 0));
    return true;
  }
  // -1, as a jump back leaves it: the next one still counts down without wrapping.
  w->budget = -1;
  if (!w->stopped_at) w->stopped_at = call_site;
  return false;
}

bool budget_spent() {
  RunWords* w = run_words();
  return w && w->depth > 0 && w->budget < 0;
}

bool valid_entry(const Program& program, std::uint32_t entry) {
  for (int i = 0; i < program.count; ++i)
    if (program.entry[i] == entry) return true;
  return false;
}

RunResult run_element(const Program& program, int index, std::string_view element_name, const ErrorSink& errors) {
  RunResult result;
  if (index < 0 || index >= program.count || !base::budget_reserved()) {
    result.status = RunStatus::not_runnable;
    return result;
  }
  project::ElementRecord* record = element_record(index);
  auto entry = static_cast<std::uint32_t>(record->brain_entry);
  if (!valid_entry(program, entry)) {
    result.status = RunStatus::not_runnable;
    return result;
  }
  result = run(entry, base::address32(record));
  report_stopped(program, index, element_name, result, errors);
  return result;
}

void report_stopped(const Program& program, int index, std::string_view element_name, const RunResult& result,
                    const ErrorSink& errors) {
  std::string_view reason;
  if (result.status == RunStatus::endless_loop) reason = "Endless loop: more than 1000000 jumps back in one tick";
  else if (result.status == RunStatus::too_deep) reason = "Gosub nesting too deep (more than 1024)";
  else return;
  show_error(errors, concat({"'", element_name, "' brain ERROR!|", reason}));
  if (errors.fault) errors.fault(errors.context, {index, line_at(program, result.stopped_at), reason, true});
}

int line_at(const Program& program, std::uint32_t at) {
  std::uint8_t* area = code_area();
  if (!area || at <= base::address32(area)) return 0;
  // `at` follows the call of a stop stub: the call's last byte is the line's.
  std::uint32_t code = at - base::address32(area) - 1;
  auto after = std::upper_bound(program.lines.begin(), program.lines.end(), code,
                                [](std::uint32_t c, const LineStart& s) { return c < s.code; });
  return after == program.lines.begin() ? 0 : std::prev(after)->line;
}

// ---- Checking brain files ----------------------------------------------------------------

namespace {

bool serve_text(void* context, std::string_view, std::string& bytes) {
  bytes = *static_cast<const std::string*>(context);
  return true;
}

// Compiles one brain; false with its first error in program.error[0] when it failed.
bool compile_checked(const CheckedBrain& b, Program& program, CompileOptions& options) {
  options.read = b.text ? serve_text : nullptr;
  options.read_context = const_cast<std::string*>(b.text);
  BrainSource source{b.file, b.path.empty() ? b.file : b.path};
  return compile_project(std::span(&source, 1), options, program);
}

// Compiles one brain and prints its first error, if any; false when it failed.
bool check_brain(const CheckedBrain& b, Program& program, CompileOptions& options, std::FILE* out) {
  if (compile_checked(b, program, options)) return true;
  std::string report = check_report(b.file, b.line_before, program.error[0]);
  std::fwrite(report.data(), 1, report.size(), out);
  return false;
}

}  // namespace

std::string check_report(std::string_view file, int line_before, const BrainError& e) {
  std::string name(file), out;
  auto at = [&](int line) { return name + ":" + std::to_string(line) + ": "; };
  int line = e.line_number > 0 ? line_before + e.line_number : line_before;
  if (e.line_number > 0) out = at(line) + e.message + "\n    " + e.line + "\n";
  else if (line > 0) out = at(line) + e.message + "\n";
  else out = name + ": " + e.message + "\n";
  // The note names its own line when it is about another one (an `if` left open).
  if (e.note.empty()) return out;
  if (e.note_line > 0) out += at(line_before + e.note_line) + "note: " + e.note + "\n    " + e.note_source + "\n";
  else if (line > 0) out += at(line) + "note: " + e.note + "\n";
  else out += name + ": note: " + e.note + "\n";
  return out;
}

bool check_text(std::string_view file, std::string_view text, BrainError* error, std::string* report,
                LiteralCheck check_literal) {
  if (!base::budget_reserved() && !base::reserve_budget()) {
    BrainError e;
    e.message = "the engine's memory could not be reserved";
    if (error) *error = e;
    if (report) *report = check_report(file, 0, e);
    return false;
  }
  auto program = std::make_unique<Program>();
  CompileOptions options;
  options.errors.show = [](void*, std::string_view) {};
  options.check_literal = check_literal;
  std::string bytes(text);
  CheckedBrain b{file, 0, file, &bytes};
  if (compile_checked(b, *program, options)) {
    if (report) report->clear();
    return true;
  }
  if (error) *error = program->error[0];
  if (report) *report = check_report(file, 0, program->error[0]);
  return false;
}

int check_brains(std::span<const CheckedBrain> brains, std::FILE* out, LiteralCheck check_literal) {
  if (!base::budget_reserved() && !base::reserve_budget()) return static_cast<int>(brains.size());
  auto program = std::make_unique<Program>();
  CompileOptions options;
  options.errors.show = [](void*, std::string_view) {};
  options.check_literal = check_literal;
  int failed = 0;
  for (const CheckedBrain& b : brains) failed += !check_brain(b, *program, options, out);
  return failed;
}

int check_files(std::span<const std::string_view> files, std::FILE* out, LiteralCheck check_literal) {
  std::vector<CheckedBrain> brains;
  for (std::string_view file : files) brains.push_back({file, 0, file, nullptr});
  return check_brains(brains, out, check_literal) ? 1 : 0;
}

}  // namespace brain
