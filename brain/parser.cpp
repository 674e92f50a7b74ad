// The brain parser: reads a brain line by line and compiles each expression by
// rewriting its text, piece by piece, into temporary slots ("@n"), emitting
// the code of every piece as it goes. There is no syntax tree.
#include <algorithm>
#include <cstring>
#include <string>

#include "brain/local.h"
#include "base/memory.h"
#include "base/text.h"
#include "project/project.h"

namespace brain {

namespace {

// Internal operator characters the rewriting folds operators into.
constexpr char kOr = static_cast<char>(0xF5);
constexpr char kXor = static_cast<char>(0xF8);
constexpr char kLessEqual = static_cast<char>(0xA3);
constexpr char kGreaterEqual = '$';
constexpr char kNotEqual = '!';
constexpr char kUnaryMinus = static_cast<char>(0xD1);
constexpr char kElementBack = '\\';  // "#-"

// The binary operators in the order they are reduced.
constexpr char kOperators[] = {'/', '*', '-', '+', '=', kNotEqual, '<', '>', kLessEqual, kGreaterEqual, kOr, '&', kXor};

struct CharSet {
  bool has[256] = {};
  constexpr CharSet(std::string_view chars) {
    for (char c : chars) has[static_cast<unsigned char>(c)] = true;
  }
  constexpr bool operator()(char c) const { return has[static_cast<unsigned char>(c)]; }
};

constexpr CharSet is_operator(std::string_view(kOperators, sizeof kOperators));
// One bit per binary operator, 0 for other characters.
struct OperatorBits {
  std::uint32_t bit[256] = {};
  constexpr OperatorBits() {
    for (std::size_t i = 0; i < sizeof kOperators; ++i) bit[static_cast<unsigned char>(kOperators[i])] = 1u << i;
  }
};
constexpr OperatorBits kOperatorBit;
// A "-" after one of these is a unary minus.
constexpr char kBeforeUnaryChars[] = {'=', '<', '>', '/', '*', '-', '+', kOr, '&', kXor, '(', '[', ','};
constexpr CharSet kBeforeUnary(std::string_view(kBeforeUnaryChars, sizeof kBeforeUnaryChars));
constexpr CharSet is_name_char("abcdefghijklmnopqrstuvwxyz0123456789_");

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool all_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), is_digit);
}
// Short prefixes: compared in line, a library call per test costs more than the test.
bool starts_with(std::string_view s, std::string_view p) {
  if (s.size() < p.size()) return false;
  for (std::size_t i = 0; i < p.size(); ++i)
    if (s[i] != p[i]) return false;
  return true;
}

std::string number_text(long long n) { return std::to_string(n); }

// ---- Messages ------------------------------------------------------------------------

std::string_view trim_blanks(std::string_view s);
constexpr std::string_view kNestingError = "If...endif nesting error!";
constexpr std::string_view kLabelTooLong = "Labels can't be longer than 16 characters";
constexpr std::string_view kBracketsError = "Brackets nesting error!";

// ---- Notes -----------------------------------------------------------------------------
// A note follows a message where a common mistake is likely; the message itself
// keeps the system's wording.

// The line as the user wrote it, for messages: comment and outer blanks
// dropped, tabs as blanks; a line too long to read shows its first 60 characters.
std::string echo_line(std::string_view line) {
  std::string_view reduced = reduce_line(line);
  if (reduced.size() > static_cast<std::size_t>(base::kTextCapacity)) reduced = reduced.substr(0, 60);
  std::string text(reduced);
  std::replace(text.begin(), text.end(), '\t', ' ');
  return text;
}

void set_note(Compiler& c, std::string note) {
  if (c.failed) c.error.note = std::move(note);
}

// True when a and b differ by one letter changed, added, dropped, or two
// neighbours swapped.
bool one_letter_apart(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1) return false;
  std::size_t i = 0;
  while (i < a.size() && a[i] == b[i]) ++i;
  if (i == a.size()) return a.size() != b.size();
  if (a.size() == b.size()) {
    if (a.substr(i + 1) == b.substr(i + 1)) return true;
    return i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] && a.substr(i + 2) == b.substr(i + 2);
  }
  return a.substr(i) == b.substr(i + 1);
}

// "name(a, b)": how a keyword of argc parameters is called.
std::string call_form(std::string_view name, int argc) {
  std::string form(name);
  form += '(';
  for (int i = 0; i < argc; ++i) (form += i ? ", " : "") += static_cast<char>('a' + i);
  return form + ')';
}

// The keyword or variable an unknown word was likely meant to be; `call`: the
// word stood before "(", so only keywords are meant.
void suggest(Compiler& c, std::string_view word, bool call) {
  if (!c.failed || word.empty() || is_digit(word.front())) return;
  for (char ch : word)
    if (!is_name_char(ch)) return;
  if (!call && starts_with(word, "element") && word.size() > 7)
    return set_note(c, "a name that begins with 'element' is read as an element reference: rename it");
  if (int row = find_keyword(word); row >= 0 && !call)
    return set_note(c, concat({"'", word, "' is a keyword: call it as ", call_form(word, keyword(row).argc)}));
  // A keyword of the word and a suffix: "sin" for "sin_512".
  for (int row = 0; row < kKeywordRows; ++row) {
    std::string_view name = keyword(row).name;
    if (name.size() > word.size() + 1 && starts_with(name, word) && name[word.size()] == '_' &&
        all_digits(name.substr(word.size() + 1)))
      return set_note(c, concat({"did you mean '", name, "'?"}));
  }
  if (word.size() < 3) return;
  for (int row = 0; row < kKeywordRows; ++row)
    if (one_letter_apart(word, keyword(row).name)) return set_note(c, concat({"did you mean '", keyword(row).name, "'?"}));
  if (call) return;
  for (int i = 0; i < c.var_count; ++i)
    if (one_letter_apart(word, c.vars[i].name)) return set_note(c, concat({"did you mean '", c.vars[i].name, "'?"}));
}

bool fail_unknown_symbol(Compiler& c, std::string_view t) {
  fail(c, concat({"Unknown symbol '", t, "'!"}));
  suggest(c, t, false);
  return false;
}

// Which bracket of the line as written is left open or closes the wrong one.
void note_brackets(Compiler& c) {
  std::string_view reduced = reduce_line(c.source);
  std::size_t lead = c.source.empty() ? 0 : static_cast<std::size_t>(reduced.data() - c.source.data());
  struct Open {
    char ch;
    std::size_t column;
  };
  std::vector<Open> open;
  bool quoted = false;
  for (std::size_t i = 0; i < reduced.size(); ++i) {
    char ch = reduced[i];
    std::size_t column = lead + i + 1;
    if (ch == '"') quoted = !quoted;
    if (quoted) continue;
    if (ch == '(' || ch == '[') open.push_back({ch, column});
    if (ch != ')' && ch != ']') continue;
    std::string closing = concat({"the '", std::string_view(&ch, 1), "' at column ", number_text(static_cast<long long>(column))});
    if (open.empty()) return set_note(c, closing + " closes no bracket");
    if (open.back().ch != (ch == ')' ? '(' : '['))
      return set_note(c, concat({closing, " does not close the '", std::string_view(&open.back().ch, 1), "' at column ",
                                 number_text(static_cast<long long>(open.back().column))}));
    open.pop_back();
  }
  if (!open.empty())
    set_note(c, concat({"the '", std::string_view(&open.back().ch, 1), "' at column ",
                        number_text(static_cast<long long>(open.back().column)), " is not closed"}));
}

bool fail_brackets(Compiler& c) {
  fail(c, kBracketsError);
  note_brackets(c);
  return false;
}

// Notes on a statement that failed as a whole: words of other languages.
void note_statement(Compiler& c, bool condition) {
  std::string_view w = trim_blanks(c.working.view());
  std::string_view first = w.substr(0, w.find(' '));
  std::string_view last = w.substr(w.find_last_of(' ') + 1);
  if (condition && last == "then")
    return set_note(c, "'then' is not needed: an 'if' line holds only its condition, the lines up to 'endif' follow");
  if (first == "while" || first == "for")
    set_note(c, concat({"there is no '", first, "': loop with a label, 'if' and 'goto'"}));
}

// ---- Line texts ------------------------------------------------------------------------

// Folding outside literals: lower case, tabs as blanks.
struct FoldTable {
  char to[256];
  constexpr FoldTable() : to() {
    for (int i = 0; i < 256; ++i) to[i] = static_cast<char>(i);
    for (int i = 'A'; i <= 'Z'; ++i) to[i] = static_cast<char>(i - 'A' + 'a');
    to[static_cast<unsigned char>('\t')] = ' ';
  }
};
constexpr FoldTable kFold;

// Working text: literal contents masked with ".", lower case, tabs as blanks.
// Copies and folds in one pass.
void make_working(std::string_view raw, Buf& out) {
  out.overflow = raw.size() > static_cast<std::size_t>(Buf::kCapacity);
  out.len = out.overflow ? 0 : static_cast<int>(raw.size());
  bool quoted = false;
  for (int i = 0; i < out.len; ++i) {
    char ch = raw[static_cast<std::size_t>(i)];
    if (ch == '"') {
      quoted = !quoted;
      out.data[i] = ch;
    } else {
      out.data[i] = quoted ? '.' : kFold.to[static_cast<unsigned char>(ch)];
    }
  }
}

// Left to right, a replacement never rescanned. Only positions holding from's
// first character are compared: most lines hold none of the patterns.
void replace_all(Buf& b, std::string_view from, std::string_view to) {
  for (int i = 0; i + static_cast<int>(from.size()) <= b.len;) {
    if (b.data[i] == from[0] && starts_with(b.view().substr(i), from)) {
      b.replace(i, static_cast<int>(from.size()), to);
      i += static_cast<int>(to.size());
    } else {
      ++i;
    }
  }
}

// ---- Declarations ---------------------------------------------------------------------

struct Declaration {
  int kind = -1;  // -1: no declaration
  std::string_view name;
};


std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// A working line that declares a variable: "var " or "user" + a four-character tag.
Declaration parse_declaration(std::string_view w) {
  Declaration d;
  std::size_t from = 0;
  if (starts_with(w, "var ")) {
    d.kind = 0, from = 4;
  } else if (starts_with(w, "user") && w.size() >= 8) {
    for (int k = 0; k < 6; ++k)
      if (w.substr(4, 4) == project::kUserTags[k]) d.kind = k + 1, from = 8;
  }
  if (d.kind < 0) return d;
  std::string_view rest = w.substr(from);
  d.name = trim_blanks(rest.substr(0, rest.find('=')));
  return d;
}

// Calls f(line) for every line of text, ended by LF or CR LF (a lone CR stays
// in its line, unless it ends the text); f returns false to stop.
template <typename F>
void for_each_line(std::string_view text, F f) {
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!f(line)) return;
  }
}

// ---- Operands ---------------------------------------------------------------------------

enum class Parse { ok, unknown, arena_full };

// A number with an optional unit suffix, or hexadecimal; the text after any sign.
bool parse_number(std::string_view t, std::int32_t& out) {
  if (t.size() >= 2) {
    std::string_view suffix = t.substr(t.size() - 2);
    struct Unit {
      std::string_view suffix;
      std::int64_t multiply, divide;
    };
    static constexpr Unit kUnits[] = {
        {"mt", 512, 1},         // metres: 512,000 per metre
        {"dg", 512, 1000},      // degrees: 512 per degree
        {"ms", 17067, 1000},    // metres per second: sub-units per tick
        {"rm", 1024, 10000},    // revolutions per minute: 1/512 degree per tick
    };
    for (const Unit& u : kUnits) {
      if (suffix != u.suffix) continue;
      std::string_view d = t.substr(0, t.size() - 2);
      std::size_t dot = d.find('.');
      std::string_view whole = d.substr(0, dot);
      std::string_view fraction = dot == std::string_view::npos ? std::string_view() : d.substr(dot + 1);
      if (!all_digits(whole) || (!fraction.empty() && !all_digits(fraction))) return false;
      char digits[3] = {'0', '0', '0'};
      if (!fraction.empty()) std::memcpy(digits, fraction.data(), std::min<std::size_t>(fraction.size(), 3));
      // The decimal with three places wraps in 32 bits, as the field readers do.
      std::int32_t d1000 = base::value(std::string(whole) + std::string(digits, 3));
      std::int64_t v = static_cast<std::int64_t>(d1000) * u.multiply / u.divide;
      out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
      return true;
    }
  }
  if (all_digits(t)) {
    out = base::value(t);
    return true;
  }
  if (starts_with(t, "0x") && t.size() > 2) {
    std::uint32_t v = 0;
    for (char ch : t.substr(2)) {
      int digit = is_digit(ch) ? ch - '0' : (ch >= 'a' && ch <= 'f') ? ch - 'a' + 10 : -1;
      if (digit < 0) return false;
      v = v * 16u + static_cast<std::uint32_t>(digit);
    }
    out = static_cast<std::int32_t>(v);
    return true;
  }
  return false;
}

// Copies the first literal not yet taken on the raw line into the arena and
// blanks its quotes on the raw line.
Parse take_literal(Compiler& c, std::int32_t& address) {
  std::string_view raw = c.raw.view();
  std::size_t open = raw.find('"');
  if (open == std::string_view::npos) return Parse::unknown;
  std::size_t close = raw.find('"', open + 1);
  std::string_view body = raw.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
  std::string text;
  std::size_t i = 0;
  if (starts_with(body, ".\\")) {
    for (char ch : c.options->base_folder) text += ch == '/' ? '\\' : ch;
    i = 2;
  }
  for (; i < body.size(); ++i) {
    if (body[i] == '\\' && i + 1 < body.size() && (body[i + 1] == 'n' || body[i + 1] == '0')) {
      text += body[i + 1] == 'n' ? '\n' : '\0';
      ++i;
    } else {
      text += body[i];
    }
  }
  std::size_t bytes = text.size() + 1;
  if (bytes > c.literals.size()) return Parse::arena_full;
  std::memcpy(c.literals.data(), text.data(), text.size());
  c.literals[text.size()] = std::byte{0};
  address = static_cast<std::int32_t>(base::address32(c.literals.data()));
  c.literals = c.literals.subspan(bytes);
  c.literal_bytes += static_cast<std::uint32_t>(bytes);
  c.raw.data[open] = ' ';
  if (close != std::string_view::npos) c.raw.data[close] = ' ';
  return Parse::ok;
}

Parse parse_operand_text(Compiler& c, std::string_view t, Operand& out) {
  out = Operand{};
  if (t.empty()) return Parse::unknown;
  if (t.front() == '"') {
    if (t.size() < 2 || t.back() != '"') return Parse::unknown;
    return take_literal(c, out.value);
  }
  if (t.front() == kUnaryMinus) out.negated = true, t.remove_prefix(1);
  if (t.empty()) return Parse::unknown;  // a minus with nothing after it

  if (starts_with(t, "element") && (t.size() == 7 || t[7] != '(')) {
    if (out.negated) return Parse::unknown;  // an element has no negative
    out.kind = OperandKind::element;
    if (t.size() == 7) return Parse::ok;
    std::string_view n = t.substr(8);
    if ((t[7] != '#' && t[7] != kElementBack) || !all_digits(n)) return Parse::unknown;
    std::uint32_t count = static_cast<std::uint32_t>(base::value(n));
    if (t[7] == '#' && count == 0) return Parse::unknown;  // "element#0"
    std::uint32_t distance = count * 1024u;
    out.value = static_cast<std::int32_t>(t[7] == '#' ? distance : 0u - distance);
    return Parse::ok;
  }

  if (t.front() == '@') {
    // Only slots this statement has filled: "@n" written in a brain reads nothing else.
    std::string_view n = t.substr(1);
    if (!all_digits(n) || n.size() > 4) return Parse::unknown;
    int slot = base::value(n);
    if (slot >= c.temps) return Parse::unknown;
    out.kind = OperandKind::temporary;
    out.value = slot;
    return Parse::ok;
  }

  if (!is_digit(t.front())) {
    for (int i = 0; i < c.var_count; ++i)
      if (c.vars[i].name == t) {
        out.kind = OperandKind::variable;
        out.value = c.vars[i].offset;
        return Parse::ok;
      }
    return Parse::unknown;
  }
  if (base::value(t) == 0 && t.front() != '0') return Parse::unknown;
  if (!parse_number(t, out.value)) return Parse::unknown;
  if (out.negated) out.value = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(out.value));
  out.negated = false;
  return Parse::ok;
}

// ---- Emitting pieces --------------------------------------------------------------------

void note_read(Compiler& c, const Operand& op) {
  if (op.kind == OperandKind::temporary && op.value == c.last_store_slot) c.last_store_read = true;
}

void load_operand(Compiler& c, const Operand& op, Reg r) {
  if (r == eax) {
    if (op.kind == OperandKind::temporary && op.value == c.eax_temp && !op.negated) return;
    c.eax_temp = -1;
  }
  note_read(c, op);
  bool zero = c.options->editor_pass && (op.kind == OperandKind::variable || op.kind == OperandKind::temporary);
  if (zero) return mov_reg_imm(c.code, r, 0);
  switch (op.kind) {
    case OperandKind::constant:
      mov_reg_imm(c.code, r, op.value);
      break;
    case OperandKind::variable:
      mov_reg_var(c.code, r, op.value);
      if (op.negated) neg_reg(c.code, r);
      break;
    case OperandKind::element:
      mov_reg_edi(c.code, r);
      if (op.value != 0) add_reg_imm(c.code, r, op.value);
      break;
    case OperandKind::temporary:
      mov_reg_abs(c.code, r, temp_address(op.value));
      if (op.negated) neg_reg(c.code, r);
      break;
  }
}

// Stores EAX into the next temporary slot; -1 (error set) when none is left.
int store_temp(Compiler& c) {
  if (c.temps >= kTempSlots) {
    fail(c, "Expression too complex (more than 1024 temporary values)!");
    return -1;
  }
  int slot = c.temps++;
  c.last_store_at = c.code.pos;
  c.last_store_slot = slot;
  c.last_store_read = false;
  mov_abs_eax(c.code, temp_address(slot));
  c.last_store_end = c.code.pos;
  c.eax_temp = slot;
  return slot;
}

// The value a statement ends with is used from EAX: its store to a temporary
// is dropped when it was the last instruction and nothing read the slot.
void drop_final_store(Compiler& c) {
  if (c.last_store_slot >= 0 && c.last_store_slot == c.eax_temp && !c.last_store_read && !c.code.full &&
      c.code.pos == c.last_store_end)
    c.code.pos = c.last_store_at;
  c.last_store_slot = -1;
}

// A right operand as a memory operand: record variable or temporary slot.
void alu_right(Compiler& c, AluOp op, Reg r, const Operand& right) {
  note_read(c, right);
  if (right.kind == OperandKind::variable) alu_reg_var(c.code, op, r, right.value);
  else alu_reg_abs(c.code, op, r, temp_address(right.value));
}

bool compile_operation(Compiler& c, std::string_view piece, int at) {
  char op = piece[at];
  std::string_view left_text = piece.substr(0, at), right_text = piece.substr(at + 1);
  if (right_text.empty()) return fail(c, concat({"Variable (or value, or function) expected: ", piece}));
  Operand left, right;
  if (!parse_operand(c, left_text, left) || !parse_operand(c, right_text, right)) return false;
  if (right.kind == OperandKind::element) return fail(c, "Variable 'element' must be left operand");

  load_operand(c, left, eax);
  c.eax_temp = -1;
  bool constant = right.kind == OperandKind::constant;
  bool neg = right.negated;
  CodeBuffer& code = c.code;
  switch (op) {
    case '/':
      if (constant) {
        if (right.value == 0) mov_reg_imm(code, eax, 0x7FFFFFFF);  // as `divide` answers
        else if (right.value == -1) neg_reg(code, eax);             // INT_MIN / -1 is INT_MIN
        else mov_reg_imm(code, ecx, right.value), cdq_idiv_ecx(code);
      } else {
        alu_right(c, AluOp::mov, ecx, right);
        if (neg) neg_reg(code, ecx);
        guarded_idiv_ecx(code);
      }
      break;
    case '*':
      if (constant) {
        imul_eax_imm(code, right.value);
      } else {
        note_read(c, right);
        if (right.kind == OperandKind::variable) imul_eax_var(code, right.value);
        else imul_eax_abs(code, temp_address(right.value));
        if (neg) neg_reg(code, eax);
      }
      break;
    case '-':
    case '+': {
      AluOp alu = op == '-' ? AluOp::sub : AluOp::add;
      if (constant) {
        alu_eax_imm(code, alu, right.value);
      } else {
        // a - (-b) is -(-a - b): negating around the operation keeps one form.
        if (neg) neg_reg(code, eax);
        alu_right(c, alu, eax, right);
        if (neg) neg_reg(code, eax);
      }
      break;
    }
    case kOr:
    case '&':
    case kXor: {
      AluOp alu = op == kOr ? AluOp::or_ : op == '&' ? AluOp::and_ : AluOp::xor_;
      if (constant) {
        alu_eax_imm(code, alu, right.value);
      } else if (!neg) {
        alu_right(c, alu, eax, right);
      } else {
        alu_right(c, AluOp::mov, ebx, right);
        neg_reg(code, ebx);
        alu_eax_ebx(code, alu);
      }
      break;
    }
    default: {
      // Comparisons give 1 or 0. A negated right operand negates the left
      // instead, which turns the order comparisons round.
      struct Comparison {
        char op;
        Condition plain, swapped;
      };
      using enum Condition;
      static constexpr Comparison kComparisons[] = {
          {'=', equal, equal},
          {kNotEqual, not_equal, not_equal},
          {'<', less, greater},
          {'>', greater, less},
          {kLessEqual, less_equal, greater_equal},
          {kGreaterEqual, greater_equal, less_equal},
      };
      const Comparison* comparison = std::find_if(std::begin(kComparisons), std::end(kComparisons),
                                                  [op](const Comparison& k) { return k.op == op; });
      mov_ebx_eax(code);
      mov_reg_imm(code, eax, 1);
      if (constant) {
        cmp_ebx_imm(code, right.value);
      } else {
        if (neg) neg_reg(code, ebx);
        alu_right(c, AluOp::cmp, ebx, right);
      }
      zero_eax_unless(code, neg ? comparison->swapped : comparison->plain);
      break;
    }
  }
  return true;
}

// Emits one keyword call: name and its argument text (no brackets inside).
bool compile_call(Compiler& c, std::string_view name, std::string_view args) {
  int row = find_keyword(name);
  if (row < 0) {
    if (name.empty()) return fail(c, "Square brackets '[' exected but round brackets '(' found instead!");
    fail(c, concat({"Unknown function/instruction '", name, "'!"}));
    suggest(c, name, true);
    return false;
  }
  const Keyword& k = keyword(row);
  int count = args.empty() ? 0 : static_cast<int>(std::count(args.begin(), args.end(), ',')) + 1;
  if (count != k.argc)
    return fail(c, concat({"'", name, "' requires ", number_text(k.argc), " parameter(s)!"}));
  Operand operands[5];
  for (int i = 0; i < count; ++i) {
    std::size_t comma = args.find(',');
    std::string_view arg = args.substr(0, comma);
    args = comma == std::string_view::npos ? std::string_view() : args.substr(comma + 1);
    Parse p = parse_operand_text(c, arg, operands[i]);
    if (p == Parse::arena_full) return fail(c, "String data area full!");
    if (p != Parse::ok) {
      fail(c, concat({"Unknown parameter '", arg, "'!"}));
      suggest(c, arg, false);
      return false;
    }
    if (c.options->check_literal && arg.front() == '"') {
      // The literal as taken into the arena, by its 32-bit address.
      auto at = static_cast<std::uintptr_t>(static_cast<std::uint32_t>(operands[i].value));
      std::string message = c.options->check_literal(keyword(routine_row(row)).name, i, reinterpret_cast<const char*>(at));
      if (!message.empty()) return fail(c, message);
    }
  }
  int word = 0;
  FieldAccess field = c.options->editor_pass ? FieldAccess::none : field_access(row, &word);
  if (field != FieldAccess::none && operands[0].kind == OperandKind::element && operands[0].value == 0) {
    // The running record's own word, in line: what the routine does for a valid reference.
    if (field == FieldAccess::get) {
      c.eax_temp = -1;
      mov_reg_var(c.code, eax, 4 * word);
    } else {
      load_operand(c, operands[1], eax);
      mov_var_eax(c.code, 4 * word);
      xor_eax_eax(c.code);  // the routine's result
    }
    c.eax_temp = -1;
    return true;
  }
  // EAX last: a temporary already in EAX need not be loaded again.
  for (int i = count - 1; i >= 0; --i) load_operand(c, operands[i], kPlaces[i]);
  call_rel32(c.code, thunk_position(row));
  restore_record(c.code);
  c.eax_temp = -1;
  if (k.picking) c.picking = true;
  return true;
}

// ---- Expressions --------------------------------------------------------------------------

// Statements are short: a plain loop beats a library call.
int find_char(const Buf& e, char ch, int from = 0) {
  for (int i = from; i < e.len; ++i)
    if (e.data[i] == ch) return i;
  return -1;
}

int find_last_before(const Buf& e, char ch, int before) {
  for (int i = before - 1; i >= 0; --i)
    if (e.data[i] == ch) return i;
  return -1;
}

// The first call argument holding an operator or a square bracket: [start, end).
bool find_compound_argument(const Buf& e, int& start, int& end) {
  for (int i = 0; i < e.len; ++i) {
    if (e.data[i] != '(' && e.data[i] != ',') continue;
    int j = i + 1;
    bool compound = false;
    while (j < e.len && e.data[j] != ',' && e.data[j] != ')' && e.data[j] != '(') {
      compound |= is_operator(e.data[j]) || e.data[j] == '[';
      ++j;
    }
    if (j < e.len && e.data[j] == '(') continue;  // holds a call: reduced later
    if (compound) {
      start = i + 1, end = j;
      return true;
    }
  }
  return false;
}

// "@" + slot in decimal (slot < kTempSlots).
void replace_with_temp(Buf& e, int at, int n, int slot) {
  char name[8];
  char* end = name + sizeof name;
  char* p = end;
  do *--p = static_cast<char>('0' + slot % 10), slot /= 10;
  while (slot > 0);
  *--p = '@';
  e.replace(at, n, std::string_view(p, static_cast<std::size_t>(end - p)));
}

// Compiles e (rewriting it) and leaves its value in EAX. Returns false on error.
bool compile_expression(Compiler& c, Buf& e);

// Compiles [at, at + n) of e as an expression and puts its value in a slot.
int compile_sub(Compiler& c, const Buf& e, int at, int n, bool negate) {
  Buf sub;
  sub.set(e.view().substr(static_cast<std::size_t>(at), static_cast<std::size_t>(n)));
  if (!compile_expression(c, sub)) return -1;
  if (negate) neg_reg(c.code, eax), c.eax_temp = -1;
  return c.eax_temp >= 0 ? c.eax_temp : store_temp(c);
}

bool compile_expression(Compiler& c, Buf& e) {
  // Told once a compile, not for every expression after: the compile goes on.
  if (!c.warned_code_low && c.code.limit - std::min(c.code.pos, c.code.limit) < kCodeLowWater) {
    c.warned_code_low = true;
    show_warning(c.options->errors, static_cast<std::int32_t>(c.code.limit - std::min(c.code.pos, c.code.limit)),
                 "Warning! Expression parser memory low.");
  }
  bool reduced = false;
  for (;;) {
    if (e.overflow) return fail(c, "Expression too long!");
    int start, end;
    if (find_compound_argument(e, start, end)) {
      int slot = compile_sub(c, e, start, end - start, false);
      if (slot < 0) return false;
      replace_with_temp(e, start, end - start, slot);
      reduced = true;
      continue;
    }
    int close = find_char(e, ')');
    if (close >= 0) {
      int open = find_last_before(e, '(', close);
      if (open < 0) return fail_brackets(c);
      int name_start = open;
      while (name_start > 0 && is_name_char(e.data[name_start - 1])) --name_start;
      bool negate = name_start > 0 && e.data[name_start - 1] == kUnaryMinus;
      std::string_view text = e.view();
      if (!compile_call(c, text.substr(name_start, open - name_start), text.substr(open + 1, close - open - 1)))
        return false;
      if (negate) neg_reg(c.code, eax);
      int slot = store_temp(c);
      if (slot < 0) return false;
      int from = name_start - (negate ? 1 : 0);
      replace_with_temp(e, from, close + 1 - from, slot);
      reduced = true;
      continue;
    }
    close = find_char(e, ']');
    if (close >= 0) {
      int open = find_last_before(e, '[', close);
      if (open < 0) return fail_brackets(c);
      bool negate = open > 0 && e.data[open - 1] == kUnaryMinus;
      int slot = compile_sub(c, e, open + 1, close - open - 1, negate);
      if (slot < 0) return false;
      int from = open - (negate ? 1 : 0);
      replace_with_temp(e, from, close + 1 - from, slot);
      reduced = true;
      continue;
    }
    if (find_char(e, '(') >= 0 || find_char(e, '[') >= 0) return fail_brackets(c);
    break;
  }
  // Reducing only ever removes operators: one absent now stays absent.
  std::uint32_t present = 0;
  for (int i = 0; i < e.len; ++i) present |= kOperatorBit.bit[static_cast<unsigned char>(e.data[i])];
  for (char op : kOperators) {
    if (!(present & kOperatorBit.bit[static_cast<unsigned char>(op)])) continue;
    for (int at; (at = find_char(e, op)) >= 0;) {
      int from = at, to = at + 1;
      while (from > 0 && !is_operator(e.data[from - 1])) --from;
      while (to < e.len && !is_operator(e.data[to])) ++to;
      if (!compile_operation(c, e.view().substr(from, to - from), at - from)) return false;
      int slot = store_temp(c);
      if (slot < 0) return false;
      replace_with_temp(e, from, to - from, slot);
      if (e.overflow) return fail(c, "Expression too long!");
      reduced = true;
    }
  }
  (void)reduced;  // a reduced expression ends as one temporary, read like any operand
  Operand single;
  Parse p = parse_operand_text(c, e.view(), single);
  if (p == Parse::arena_full) return fail(c, "String data area full!");
  if (p != Parse::ok) return fail_unknown_symbol(c, e.view());
  load_operand(c, single, eax);
  if (single.kind == OperandKind::temporary && !single.negated) c.eax_temp = single.value;
  return true;
}

// ---- Statements ----------------------------------------------------------------------------

// Blank-free, folded text of a statement.
void fold_statement(Buf& s, bool& condition) {
  // Which word operators can occur at all: one scan of character pairs spares
  // most lines the passes below.
  bool close_blank = false, blank_a = false, blank_o = false, blank_x = false;
  for (int i = 0; i + 1 < s.len; ++i) {
    char ch = s.data[i], next = s.data[i + 1];
    if (ch == ')') close_blank |= next == ' ';
    if (ch == ' ') blank_a |= next == 'a', blank_o |= next == 'o', blank_x |= next == 'x';
  }
  if (close_blank) replace_all(s, ") editor", ")");
  if (blank_a) replace_all(s, " and ", "&");
  if (blank_o) replace_all(s, " or ", std::string_view(&kOr, 1));
  if (blank_x) replace_all(s, " xor ", std::string_view(&kXor, 1));
  condition = starts_with(s.view(), "if ");
  s.len = static_cast<int>(std::remove(s.data, s.data + s.len, ' ') - s.data);
  for (int i = 1; i < s.len; ++i) {
    if (s.data[i] != '-') continue;
    if (s.data[i - 1] == '#') s.replace(i - 1, 2, std::string_view(&kElementBack, 1)), --i;
    else if (kBeforeUnary(s.data[i - 1])) s.data[i] = kUnaryMinus;
  }
  struct Pair {
    std::string_view text;
    char folded;
  };
  static constexpr Pair kPairs[] = {{"<=", kLessEqual}, {"=<", kLessEqual}, {">=", kGreaterEqual},
                                    {"=>", kGreaterEqual}, {"<>", kNotEqual}, {"><", kNotEqual}};
  for (int i = 0; i + 1 < s.len; ++i) {
    char ch = s.data[i];
    if (ch != '<' && ch != '>' && ch != '=') continue;
    for (const Pair& p : kPairs)
      if (s.data[i] == p.text[0] && s.data[i + 1] == p.text[1]) {
        s.replace(i, 2, std::string_view(&p.folded, 1));
        break;
      }
  }
}

bool brackets_nest(std::string_view s) {
  char stack[Buf::kCapacity];
  int depth = 0;
  for (char ch : s) {
    if (ch == '(' || ch == '[') stack[depth++] = ch;
    else if (ch == ')' || ch == ']') {
      if (depth == 0 || stack[depth - 1] != (ch == ')' ? '(' : '[')) return false;
      --depth;
    }
  }
  return depth == 0;
}

void fail_nesting(Compiler& c) {
  fail(c, kNestingError);
  c.error.show_line = false;
}

void compile_statement(Compiler& c) {
  Buf s;
  s.set(c.working.view());
  bool condition = false;
  fold_statement(s, condition);
  if (s.overflow) return void(fail(c, "Expression too long!"));
  if (!brackets_nest(s.view())) return void(fail_brackets(c));
  c.temps = 0;
  c.eax_temp = -1;
  c.last_store_slot = -1;

  if (condition) {
    if (c.branch_count >= kBranchDepth) return void(fail(c, "If...endif nesting too deep!"));
    s.replace(0, 2, "");
    if (!compile_expression(c, s)) return note_statement(c, true);
    drop_final_store(c);
    cmp_eax_zero(c.code);
    jz_rel32(c.code, kOpen);
    c.branch_from[c.branch_count] = {c.line_number, c.source, false};
    c.branch[c.branch_count++] = c.code.pos;
    return;
  }
  std::string_view text = s.view();
  if (text == "else") {
    jmp_rel32(c.code, kOpen);
    if (c.branch_count == 0) return fail_nesting(c);
    patch_rel32(c.code, c.branch[--c.branch_count] - 4, c.code.pos);
    c.branch_from[c.branch_count] = {c.line_number, c.source, true};
    c.branch[c.branch_count++] = c.code.pos;
    return;
  }
  if (text == "endif") {
    if (c.branch_count == 0) return fail_nesting(c);
    patch_rel32(c.code, c.branch[--c.branch_count] - 4, c.code.pos);
    return;
  }
  std::size_t first = text.find('=');
  if (first != std::string_view::npos) {
    std::string_view right = text.substr(first + 1);
    right = right.substr(0, right.find('='));
    if (!right.empty()) {
      std::string_view left = text.substr(0, first);
      Operand target;
      Parse p = parse_operand_text(c, left, target);
      if (p == Parse::arena_full) return void(fail(c, "String data area full!"));
      if (p != Parse::ok) return void(fail_unknown_symbol(c, left));
      if (target.kind != OperandKind::variable || target.negated)
        return void(fail(c, concat({"Variable expected on the left of '=': ", left})));
      Buf e;
      e.set(right);
      if (!compile_expression(c, e)) return note_statement(c, false);
      drop_final_store(c);
      mov_var_eax(c.code, target.value);
      return;
    }
    s.len = static_cast<int>(first);
  }
  if (compile_expression(c, s)) drop_final_store(c);
  else note_statement(c, false);
}

// Virtual-editor pass: only a single keyword call marked ") editor" is compiled,
// and any error on it is forgotten.
void compile_editor_statement(Compiler& c) {
  std::string_view w = c.working.view();
  constexpr std::string_view kMark = ") editor";
  if (w.size() < kMark.size() || w.substr(w.size() - kMark.size()) != kMark) return;
  Buf s;
  s.set(w.substr(0, w.size() - kMark.size() + 1));
  s.len = static_cast<int>(std::remove(s.data, s.data + s.len, ' ') - s.data);
  std::string_view text = s.view();
  std::size_t open = text.find('(');
  CodeBuffer saved = c.code;
  c.temps = 0;
  c.eax_temp = -1;
  bool ok = open != std::string_view::npos && text.back() == ')' &&
            text.find_first_of("()", open + 1) == text.size() - 1 &&
            compile_call(c, text.substr(0, open), text.substr(open + 1, text.size() - open - 2));
  if (!ok || c.code.full) {
    c.code = saved;
    c.failed = false;
    c.error = BrainError{};
  }
}

void pad_label(std::string_view name, char (&out)[kLabelLength]) {
  std::memset(out, ' ', kLabelLength);
  std::memcpy(out, name.data(), std::min<std::size_t>(name.size(), kLabelLength));
}

const Label* find_label(const Compiler& c, const char (&name)[kLabelLength]) {
  for (int i = 0; i < c.label_count; ++i)
    if (std::memcmp(c.labels[i].name, name, kLabelLength) == 0) return &c.labels[i];
  return nullptr;
}

// goto and gosub: a label already defined lies behind, so the jump may loop and
// spends the run's jump budget; a gosub always does, and checks the depth.
void compile_jump(Compiler& c, std::string_view name, bool gosub) {
  if (name.size() > kLabelLength) return void(fail(c, kLabelTooLong));
  if (c.options->editor_pass) return;
  Fixup f;
  pad_label(name, f.name);
  const Label* label = find_label(c, f.name);
  if (gosub) check_gosub_depth(c.code);
  if (gosub || label) spend_jump_budget(c.code);
  std::uint32_t target = label ? label->pos : kOpen;
  f.at = gosub ? gosub_call(c.code, target) : jmp_rel32(c.code, target);
  if (!label) {
    f.line_number = c.line_number;
    f.source = c.source;
    f.gosub = gosub;
    c.fixups.push_back(f);
  }
}

void define_label(Compiler& c, std::string_view name) {
  if (name.size() > kLabelLength) return void(fail(c, kLabelTooLong));
  Label label;
  pad_label(name, label.name);
  if (find_label(c, label.name)) return void(fail(c, "Label already defined"));
  if (c.label_count >= kMaxLabels) return void(fail(c, "Too many labels (at most 102)!"));
  label.pos = c.code.pos;
  c.labels[c.label_count++] = label;
}

void resolve_fixups(Compiler& c) {
  for (const Fixup& f : c.fixups) {
    const Label* label = find_label(c, f.name);
    if (label) {
      patch_rel32(c.code, f.at, label->pos);
      continue;
    }
    std::string_view name(f.name, kLabelLength);
    name = name.substr(0, name.find_last_not_of(' ') + 1);
    fail(c, concat({"Label '", name, "' not defined!"}));
    c.error.line = echo_line(f.source);
    c.error.line_number = f.line_number;
    return;
  }
}

}  // namespace

// ---- Shared entry points ------------------------------------------------------------------

void Buf::set(std::string_view s) {
  overflow = s.size() > static_cast<std::size_t>(kCapacity);
  len = overflow ? 0 : static_cast<int>(s.size());
  if (len) std::memmove(data, s.data(), s.size());
}

void Buf::replace(int at, int n, std::string_view s) {
  int grown = len - n + static_cast<int>(s.size());
  if (grown > kCapacity) {
    overflow = true;
    return;
  }
  std::memmove(data + at + s.size(), data + at + n, static_cast<std::size_t>(len - at - n));
  if (!s.empty()) std::memcpy(data + at, s.data(), s.size());
  len = grown;
}

std::string concat(std::initializer_list<std::string_view> pieces) {
  std::size_t n = 0;
  for (std::string_view p : pieces) n += p.size();
  std::string text;
  text.reserve(n);
  for (std::string_view p : pieces) text.append(p);
  return text;
}

bool fail(Compiler& c, std::string_view message) {
  if (c.failed) return false;
  c.failed = true;
  c.error.message = std::string(message);
  c.error.line_number = c.line_number;
  c.error.line = c.line_number > 0 ? echo_line(c.source) : std::string();
  c.error.show_line = c.line_number > 0;
  return false;
}

bool parse_operand(Compiler& c, std::string_view text, Operand& out) {
  Parse p = parse_operand_text(c, text, out);
  if (p == Parse::arena_full) return fail(c, "String data area full!");
  if (p != Parse::ok) return fail_unknown_symbol(c, text);
  return true;
}

std::string_view reduce_line(std::string_view line) {
  line = line.substr(0, line.find(';'));
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  return line;
}

void compile_brain(Compiler& c, std::string_view file_name, std::string_view text, bool exists) {
  c.var_count = c.label_count = c.branch_count = 0;
  c.fixups.clear();
  c.failed = false;
  c.error = BrainError{};
  c.line_number = 0;
  c.source = {};
  c.eax_temp = -1;
  if (!exists) {
    std::size_t slash = file_name.find_last_of("/\\");
    std::string_view base = slash == std::string_view::npos ? file_name : file_name.substr(slash + 1);
    fail(c, concat({"Brain not found (", base, ")!"}));
    return;
  }

  // A UTF-8 byte-order mark, as some editors write, is no part of the first line.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);

  // Declarations first: a variable may be used above its declaration.
  for_each_line(text, [&](std::string_view line) {
    // Only "var " and "user..." lines declare: the first character that is no
    // blank or tab rules out the rest before the line is reduced and folded.
    std::size_t lead = line.find_first_not_of(" \t");
    char first = lead == std::string_view::npos ? ';' : static_cast<char>(line[lead] | 0x20);
    if (first != 'v' && first != 'u') return true;
    std::string_view reduced = reduce_line(line);
    if (reduced.empty() || reduced.size() > static_cast<std::size_t>(base::kTextCapacity)) return true;
    make_working(reduced, c.working);
    Declaration d = parse_declaration(c.working.view());
    if (d.kind < 0) return true;
    if (c.var_count >= kMaxVariables) {
      fail(c, "Too many variables defined!");
      return false;
    }
    Variable& v = c.vars[c.var_count];
    v.name.assign(d.name);
    v.kind = d.kind;
    v.offset = 1020 - 4 * c.var_count;
    ++c.var_count;
    return true;
  });
  if (c.failed) return;

  for_each_line(text, [&](std::string_view line) {
    ++c.line_number;
    c.source = line;
    std::string_view reduced = reduce_line(line);
    if (reduced.empty()) return true;
    if (c.lines) c.lines->push_back({c.code.pos, c.line_number});
    if (reduced.size() > static_cast<std::size_t>(base::kTextCapacity)) {
      fail(c, "Line too long (more than 2044 characters)!");
      return false;
    }
    c.raw.set(reduced);
    make_working(reduced, c.working);
    std::string_view w = c.working.view();
    if (parse_declaration(w).kind >= 0) {
    } else if (starts_with(w, "goto ")) {
      compile_jump(c, w.substr(5), false);
    } else if (w.back() == ':') {
      define_label(c, w.substr(0, w.size() - 1));
    } else if (starts_with(w, "gosub ")) {
      compile_jump(c, w.substr(6), true);
    } else if (w == "return") {
      if (!c.options->editor_pass) ret(c.code);
    } else if (c.options->editor_pass) {
      compile_editor_statement(c);
    } else {
      compile_statement(c);
    }
    if (!c.failed && c.code.full) fail(c, "Brain code buffer full (522240 bytes)!");
    return !c.failed;
  });
  if (c.failed) return;

  if (c.branch_count != 0) {
    c.line_number = 0;
    fail_nesting(c);
    const Compiler::OpenBranch& open = c.branch_from[c.branch_count - 1];
    c.error.note = open.is_else ? "this 'else' has no 'endif'" : "this 'if' has no 'endif'";
    c.error.note_line = open.line_number;
    c.error.note_source = echo_line(open.source);
    return;
  }
  ret(c.code);
  if (c.code.full) {
    c.line_number = 0;
    fail(c, "Brain code buffer full (522240 bytes)!");
    return;
  }
  resolve_fixups(c);
}

bool read_operand(std::string_view text, std::int32_t* value, void*) {
  *value = 0;
  Buf t;
  make_working(reduce_line(text), t);
  std::string_view s = trim_blanks(t.view());
  bool negative = !s.empty() && s.front() == '-';
  if (negative) s.remove_prefix(1);
  std::int32_t v = 0;
  if (s.empty() || !is_digit(s.front()) || (base::value(s) == 0 && s.front() != '0') || !parse_number(s, v))
    return false;
  *value = negative ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(v)) : v;
  return true;
}

}  // namespace brain
