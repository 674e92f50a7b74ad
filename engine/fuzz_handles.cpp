// libFuzzer target: the string, array and box routines called in the order and
// with the arguments the input gives (live and dead handles, literals, sizes,
// indexes at and past the ends of blocks), as compiled brains call them. The
// handle heap is poisoned outside its live blocks, so AddressSanitizer stops
// any call that reaches outside its block.
//   cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZEPTA_SANITIZE=ON
//   cmake --build build-fuzz --target fuzz_handles && build-fuzz/engine/fuzz_handles -max_total_time=600
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "base/files.h"
#include "base/memory.h"
#include "brain/brain.h"
#include "engine/engine_local.h"
#include "platform/platform.h"

namespace {

using I = std::int32_t;

constexpr const char* kKeywords[] = {
    "str_create", "str_kill", "str_len", "str_copy", "str_add", "str_comp", "str_chr", "str_num", "str_val",
    "str_input", "str_input_set", "element", "a_create", "a", "a2", "a_set", "a2_set", "a_byte", "a_byte_set",
    "a_word", "a_word_set", "a_dword", "a_dword_set", "a_size", "a_copy", "a_interpolate", "globals_sort",
    "a_save", "a_load", "msg_box", "input_box", "list_box", "file_box", "file_exists", "globals_save",
    "globals_load",
};
constexpr int kKeywordCount = static_cast<int>(std::size(kKeywords));

// Literal texts as a compile leaves them in the data arena: file names among them.
constexpr char kLiterals[] = "a.dat\0hello world\0\0x7fffffff\0-12\0sub/../b.dat\0../out.dat\0";

struct Setup {
  std::unique_ptr<engine::World> world = std::make_unique<engine::World>();
  std::unique_ptr<platform::Input> input = std::make_unique<platform::Input>();
  engine::Dialogs dialogs;
  brain::Routine routine[kKeywordCount] = {};
  I literal[8] = {};
  int literals = 0;
  std::string folder;
};

// The boxes answer at once; the input box returns a text longer than any capacity.
engine::Dialogs quiet_dialogs() {
  engine::Dialogs d;
  d.message = [](void*, std::string_view, std::string_view, I buttons, I) { return buttons & 3; };
  d.input = [](void*, std::string_view, std::string_view, I lines, std::string& text, int) {
    text.assign(static_cast<std::size_t>(lines & 0xFFF), 'x');
    return (lines & 1) != 0;
  };
  d.list = [](void*, std::string_view, std::string_view, I, std::span<const std::string> items, I selection) {
    return items.empty() ? -1 : static_cast<I>(static_cast<std::uint32_t>(selection) % items.size());
  };
  d.file = [](void*, std::string& path, std::string_view, std::string_view, bool, int) {
    path += "/../../name.dat";
    return true;
  };
  d.runtime_error = [](void*, std::string_view) {};
  return d;
}

Setup* setup() {
  if (!base::reserve_budget()) return nullptr;
  auto* s = new Setup;
  s->world->input = s->input.get();
  engine::begin_run(*s->world);
  for (int k = 0; k < kKeywordCount; ++k) s->routine[k] = brain::routine_of(brain::find_keyword(kKeywords[k]));
  std::span<std::byte> arena = base::area(base::Area::data_arena);
  std::memcpy(arena.data(), kLiterals, sizeof kLiterals);
  s->world->literal_start = base::address32(arena.data());
  s->world->literal_end = s->world->literal_start + sizeof kLiterals;
  for (std::size_t at = 0; at + 1 < sizeof kLiterals && s->literals < 8; at += std::strlen(kLiterals + at) + 1)
    s->literal[s->literals++] = static_cast<I>(s->world->literal_start + at);
  s->dialogs = quiet_dialogs();
  s->world->dialogs = &s->dialogs;
  char name[] = "/tmp/zepta_fuzz_XXXXXX";
  if (mkdtemp(name)) s->folder = std::string(name) + "/";
  s->world->base_folder = base::Text(s->folder);
  s->world->highest = 1;
  s->world->names[1] = "hello world";
  return s;
}

// Reads the input a few bytes at a time; zeros once it runs out.
struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t byte() { return size ? (--size, *data++) : 0; }
  std::uint32_t word() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    return v;
  }
};

// An argument of the kinds routines meet: handles live and dead, literals,
// sizes and indexes around a block's ends, and anything at all.
I argument(Reader& in, const Setup& s) {
  std::uint8_t kind = in.byte();
  switch (kind % 10) {
    case 0: return kind / 10;                                        // low handles
    case 1: return s.literal[(kind / 10) % s.literals];              // literals
    case 2: return static_cast<I>(in.word());                        // anything
    case 3: return engine::kHandles - 2 + kind / 10 % 4;             // the table's end
    case 4: return kind & 0x10 ? INT_MIN + kind / 10 % 3 : INT_MAX - kind / 10 % 3;
    case 5: return static_cast<I>(in.byte()) - 128;                  // small, both signs
    case 6: return static_cast<I>(in.word() & 0x3FFFFF);             // up to the whole heap in cells
    case 7: {                                                         // a block's last cells and bytes
      I h = kind / 10 % 16;
      auto block = engine::handle_block(*s.world, h);
      return static_cast<I>(block.size() / (kind & 0x10 ? 1 : 4)) - 2 + static_cast<I>(in.byte() % 4);
    }
    case 8: return static_cast<I>(s.world->literal_end) + kind / 10 % 3;  // just past the literals
    default: return static_cast<I>(in.byte());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Setup* s = setup();
  if (!s) return 0;
  engine::reset_handles(*s->world);
  s->world->runtime_error_shown = false;
  Reader in{data, size};
  for (int calls = 0; in.size && calls < 256; ++calls) {
    int k = in.byte() % kKeywordCount;
    I a = argument(in, *s), b = argument(in, *s), c = argument(in, *s), d = argument(in, *s), e = argument(in, *s);
    s->routine[k](a, b, c, d, e, 0);
  }
  return 0;
}
