// Runtime-routine bindings: which C++ routine each keyword calls. Every keyword
// starts as the placeholder that returns 0; the arithmetic routines below are
// bound here, the rest by the subsystems that build them (bind_table()).
#include <limits>
#include <string_view>

#include "brain/local.h"
#include "base/log.h"

namespace brain {

namespace {

ROUTINE(placeholder) { return 0; }

// ---- Arithmetic routines -----------------------------------------------------------

ROUTINE(routine_sum) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

ROUTINE(routine_subtract) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// The low 32 bits of the product.
ROUTINE(routine_multiply) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(a) * b));
}

// Truncating; 2147483647 for a zero divisor, INT_MIN for INT_MIN / -1.
ROUTINE(routine_divide) {
  if (b == 0) return std::numeric_limits<std::int32_t>::max();
  if (b == -1) return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a));
  return a / b;
}

// |INT_MIN| stays INT_MIN, as the machine's negation gives.
ROUTINE(routine_absolute_value) { return a < 0 ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a)) : a; }

constexpr Binding kArithmetic[] = {
    {"absolute_value", routine_absolute_value, "a -> |a| (-2147483648 stays itself)"},
    {"divide", routine_divide, "a, b -> a / b truncated; 2147483647 when b is 0"},
    {"multiply", routine_multiply, "a, b -> the low 32 bits of a x b"},
    {"subtract", routine_subtract, "a, b -> a - b, wrapping at 32 bits"},
    {"sum", routine_sum, "a, b -> a + b, wrapping at 32 bits"},
};

// The binding of each routine row (a synonym's row is never read).
struct Bindings {
  Routine routine[kKeywordRows];
  const char* doc[kKeywordRows];
  std::string_view subject[kKeywordRows];
  FieldAccess field[kKeywordRows];  // compiled in line for `element`
  std::uint8_t field_word[kKeywordRows];
  Bindings() {
    for (int i = 0; i < kKeywordRows; ++i)
      routine[i] = placeholder, doc[i] = "", subject[i] = {}, field[i] = FieldAccess::none, field_word[i] = 0;
  }
};

// The one binding table of the process.
Bindings& bindings() {
  static Bindings table = [] {
    Bindings b;
    for (const Binding& row : kArithmetic) {
      int r = routine_row(find_keyword(row.name));
      b.routine[r] = row.routine;
      b.doc[r] = row.doc;
      b.subject[r] = "Arithmetic";
    }
    return b;
  }();
  return table;
}

bool field_fits(int row, FieldAccess access, int word) {
  int argc = access == FieldAccess::get ? 1 : access == FieldAccess::set ? 2 : keyword(row).argc;
  return word >= 0 && word <= 255 && keyword(row).argc == argc;
}

}  // namespace

bool bind_table(std::span<const Binding> table, std::string_view subject) {
  Bindings& b = bindings();
  bool all = true;
  for (const Binding& row : table) {
    int r = find_keyword(row.name);
    if (r < 0 || !row.routine || !field_fits(r, row.access, row.word)) {
      base::report("brain", "keyword '%.*s' can't be bound", static_cast<int>(row.name.size()), row.name.data());
      all = false;
      continue;
    }
    r = routine_row(r);
    b.routine[r] = row.routine;
    b.doc[r] = row.doc ? row.doc : "";
    b.subject[r] = subject;
    b.field[r] = row.access;
    b.field_word[r] = static_cast<std::uint8_t>(row.word);
  }
  return all;
}

bool bind_routine(std::string_view name, Routine routine) {
  if (find_keyword(name) < 0 || !routine) return false;
  const Binding row{name, routine};
  return bind_table({&row, 1}, {});
}

bool bind_field(std::string_view name, FieldAccess access, int word) {
  int row = find_keyword(name);
  if (row < 0 || !field_fits(row, access, word)) return false;
  row = routine_row(row);
  bindings().field[row] = access;
  bindings().field_word[row] = static_cast<std::uint8_t>(word);
  return true;
}

Routine routine_of(int row) { return bindings().routine[routine_row(row)]; }

bool is_placeholder(int row) { return bindings().routine[routine_row(row)] == placeholder; }

const char* routine_doc(int row) { return bindings().doc[routine_row(row)]; }

std::string_view routine_subject(int row) { return bindings().subject[routine_row(row)]; }

FieldAccess field_access(int row, int* word) {
  row = routine_row(row);
  *word = bindings().field_word[row];
  return bindings().field[row];
}

}  // namespace brain
