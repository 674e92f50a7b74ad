// Zepta brains beside Lua in one process: the same motion logic on 256
// elements calling the same engine routines, and the same compile job.
// Built once against Lua 5.4 and once against LuaJIT (ZEPTA_LUAJIT), whose
// C APIs share symbol names and so can't live in one program.
#include <lua.hpp>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/workloads.h"
#include "engine/engine.h"
#include "base/memory.h"

namespace {

constexpr int kTicks = 400;   // ticks per timed round
constexpr int kRounds = 7;    // the fastest round counts: the machine may be busy

#ifdef ZEPTA_LUAJIT
constexpr const char* kLua = "LuaJIT";
#else
constexpr const char* kLua = "Lua 5.4";
#endif

// The routines the motion brain calls, by keyword name, with their parameter counts.
#define ZEPTA_MOTION_ROUTINES(X)                                                                      \
  X(gravity, 4) X(thrust, 2) X(spin_y_set, 2) X(friction_xz, 2) X(drag_y, 2) X(velocity_update, 1)  \
  X(spin_update, 1) X(position_y, 1) X(position_y_set, 2) X(velocity_y_set, 2) X(distance, 2)       \
  X(first_element, 0) X(position_x_set, 2) X(position_z_set, 2) X(rotation_x_set, 2) X(wrap, 3)     \
  X(rotation_x, 1) X(credits_add, 2) X(limit, 3) X(speed, 1) X(random, 2) X(factor_512, 2)

enum RoutineIndex {
#define X(name, argc) k_##name,
  ZEPTA_MOTION_ROUTINES(X)
#undef X
  kRoutineCount
};

constexpr const char* kRoutineNames[] = {
#define X(name, argc) #name,
    ZEPTA_MOTION_ROUTINES(X)
#undef X
};

constexpr int kRoutineArgc[] = {
#define X(name, argc) argc,
    ZEPTA_MOTION_ROUTINES(X)
#undef X
};

brain::Routine g_routines[kRoutineCount];

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Fastest of kRounds runs of f, in seconds.
template <typename F>
double fastest(F&& f) {
  double best = 1e30;
  for (int r = 0; r < kRounds; ++r) {
    auto start = std::chrono::steady_clock::now();
    f();
    best = std::min(best, seconds_since(start));
  }
  return best;
}

}  // namespace

// LuaJIT's FFI calls these directly, with the element as the running one.
#define ZEPTA_PARAMS_0 void
#define ZEPTA_PARAMS_1 std::int32_t a
#define ZEPTA_PARAMS_2 std::int32_t a, std::int32_t b
#define ZEPTA_PARAMS_3 std::int32_t a, std::int32_t b, std::int32_t c
#define ZEPTA_PARAMS_4 std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d
#define ZEPTA_ARGS_0 0, 0, 0, 0, 0, 0
#define ZEPTA_ARGS_1 a, 0, 0, 0, 0, static_cast<std::uint32_t>(a)
#define ZEPTA_ARGS_2 a, b, 0, 0, 0, static_cast<std::uint32_t>(a)
#define ZEPTA_ARGS_3 a, b, c, 0, 0, static_cast<std::uint32_t>(a)
#define ZEPTA_ARGS_4 a, b, c, d, 0, static_cast<std::uint32_t>(a)
extern "C" {
#define X(name, argc)                                                                            \
  __attribute__((visibility("default"))) std::int32_t zr_##name(ZEPTA_PARAMS_##argc) {           \
    return g_routines[k_##name](ZEPTA_ARGS_##argc);                                              \
  }
ZEPTA_MOTION_ROUTINES(X)
#undef X
}

namespace {

// Through the classic C API: the routine index is the closure's upvalue.
int call_routine(lua_State* L) {
  std::int32_t a[5] = {};
  int n = std::min(lua_gettop(L), 5);
  for (int i = 0; i < n; ++i) a[i] = static_cast<std::int32_t>(lua_tointeger(L, i + 1));
  auto index = static_cast<int>(lua_tointeger(L, lua_upvalueindex(1)));
  lua_pushinteger(L, g_routines[index](a[0], a[1], a[2], a[3], a[4], static_cast<std::uint32_t>(a[0])));
  return 1;
}

// The motion brain of bench::kMotionBrain, line for line, over all elements.
constexpr const char* kMotionLua = R"(
local R = ...
local gravity, thrust, spin_y_set, friction_xz, drag_y = R.gravity, R.thrust, R.spin_y_set, R.friction_xz, R.drag_y
local velocity_update, spin_update, position_y, position_y_set = R.velocity_update, R.spin_update, R.position_y, R.position_y_set
local velocity_y_set, distance, first_element, position_x_set = R.velocity_y_set, R.distance, R.first_element, R.position_x_set
local position_z_set, rotation_x_set, wrap, rotation_x = R.position_z_set, R.rotation_x_set, R.wrap, R.rotation_x
local credits_add, limit, speed, random, factor_512 = R.credits_add, R.limit, R.speed, R.random, R.factor_512
local refs, vars = R.refs, {}
for i = 1, #refs do vars[i] = 0 end
return function(ticks)
  for t = 1, ticks do
    for i = 1, #refs do
      local element = refs[i]
      local n = vars[i]
      n = n + 1
      gravity(element, 0, -3, 0)
      thrust(element, 20)
      spin_y_set(element, 256)
      friction_xz(element, 500)
      drag_y(element, 100)
      velocity_update(element)
      spin_update(element)
      if position_y(element) < 0 then
        position_y_set(element, 0)
        velocity_y_set(element, 0)
      end
      if distance(element, first_element()) > 50000000 then
        position_x_set(element, 0)
        position_z_set(element, 0)
      end
      rotation_x_set(element, wrap(rotation_x(element), 0, 184319))
      credits_add(element, limit(speed(element), 0, 1000))
      n = n + random(0, 3) + factor_512(n, 3)
      vars[i] = n
    end
  end
end
)";

#ifdef ZEPTA_LUAJIT
constexpr const char* kFfiTable = R"(
local ffi = require("ffi")
local names = ...
local decl = {}
for i = 1, #names, 2 do
  local params = {}
  for p = 1, names[i + 1] do params[p] = "int32_t" end
  decl[#decl + 1] = "int32_t zr_" .. names[i] .. "(" .. (#params > 0 and table.concat(params, ", ") or "void") .. ");"
end
ffi.cdef(table.concat(decl, "\n"))
local R = {}
for i = 1, #names, 2 do R[names[i]] = ffi.C["zr_" .. names[i]] end
return R
)";
#endif

void check(lua_State* L, int status) {
  if (status != 0) {
    std::fprintf(stderr, "lua: %s\n", lua_tostring(L, -1));
    std::exit(1);
  }
}

// Leaves the routine table (with .refs) on the stack: C closures, or FFI functions.
void push_routines(lua_State* L, bool ffi, const std::vector<std::int32_t>& refs) {
#ifdef ZEPTA_LUAJIT
  if (ffi) {
    check(L, luaL_loadstring(L, kFfiTable));
    lua_createtable(L, 2 * kRoutineCount, 0);
    for (int i = 0; i < kRoutineCount; ++i) {
      lua_pushstring(L, kRoutineNames[i]);
      lua_rawseti(L, -2, 2 * i + 1);
      lua_pushinteger(L, kRoutineArgc[i]);
      lua_rawseti(L, -2, 2 * i + 2);
    }
    check(L, lua_pcall(L, 1, 1, 0));
  }
#endif
  if (!ffi) {
    lua_createtable(L, 0, kRoutineCount + 1);
    for (int i = 0; i < kRoutineCount; ++i) {
      lua_pushinteger(L, i);
      lua_pushcclosure(L, call_routine, 1);
      lua_setfield(L, -2, kRoutineNames[i]);
    }
  }
  lua_createtable(L, static_cast<int>(refs.size()), 0);
  for (std::size_t i = 0; i < refs.size(); ++i) {
    lua_pushinteger(L, refs[i]);
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  lua_setfield(L, -2, "refs");
}

// Nanoseconds per element per tick of the Lua motion logic.
double lua_motion_ns(bool ffi, const std::vector<std::int32_t>& refs) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  check(L, luaL_loadstring(L, kMotionLua));
  push_routines(L, ffi, refs);
  check(L, lua_pcall(L, 1, 1, 0));
  int run = luaL_ref(L, LUA_REGISTRYINDEX);
  auto pass = [&] {
    lua_rawgeti(L, LUA_REGISTRYINDEX, run);
    lua_pushinteger(L, kTicks);
    check(L, lua_pcall(L, 1, 0, 0));
  };
  pass();  // warm up (LuaJIT traces)
  double s = fastest(pass);
  lua_close(L);
  return s * 1e9 / (static_cast<double>(kTicks) * static_cast<double>(refs.size()));
}

// The generated brain as Lua source with the same statements.
std::string lua_of_brain(const std::string& brain) {
  std::string out = "local element = ...\nlocal function wobble() end\n";
  std::size_t at = 0;
  while (at < brain.size()) {
    std::size_t end = brain.find("\r\n", at);
    std::string line = brain.substr(at, end - at);
    at = end + 2;
    if (line.empty()) out += "\n";
    else if (line[0] == ';') out += "--" + line.substr(1) + "\n";
    else if (line.rfind("var ", 0) == 0) {
      std::string name = line.substr(4, line.find(' ', 4) - 4);
      out += "local " + name + " = 0\n";
    } else if (line.rfind("userint ", 0) == 0 || line.rfind("usermet ", 0) == 0) {
      out += "local " + line.substr(8) + "\n";
    } else if (line.rfind("if ", 0) == 0) out += line + " then\n";
    else if (line == "endif") out += "end\n";
    else if (line == "return") out += "do return end\n";
    else if (line.rfind("gosub ", 0) == 0) out += line.substr(6) + "()\n";
    else if (line.back() == ':') out += "::" + line.substr(0, line.size() - 1) + "::\n";
    else out += line + "\n";
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const char* data = argc > 1 ? argv[1] : std::getenv("ZEPTA_TEST_DATA");
  if (!data || !base::reserve_budget() || !media::load_lookup_tables(std::string(data) + "/")) {
    std::fprintf(stderr, "usage: %s DATA_FOLDER (the generated data folder, or set ZEPTA_TEST_DATA)\n", argv[0]);
    return 2;
  }
  auto world = std::make_unique<engine::World>();
  engine::begin_run(*world);
  for (int i = 0; i < kRoutineCount; ++i) {
    int row = brain::find_keyword(kRoutineNames[i]);
    if (row < 0 || brain::keyword(row).argc != kRoutineArgc[i]) {
      std::fprintf(stderr, "%s: not a keyword of %d parameters\n", kRoutineNames[i], kRoutineArgc[i]);
      return 1;
    }
    g_routines[i] = brain::routine_of(row);
    if (brain::is_placeholder(brain::find_keyword(kRoutineNames[i])))
      std::fprintf(stderr, "note: %s is still a placeholder\n", kRoutineNames[i]);
  }

  // Zepta: the motion brain compiled for 256 elements, one brain pass per tick.
  std::vector<brain::BrainSource> sources(bench::kBrains, brain::BrainSource{"e", "motion.brn"});
  brain::CompileOptions options;
  options.read = [](void*, std::string_view, std::string& bytes) {
    bytes = bench::kMotionBrain;
    return true;
  };
  auto program = std::make_unique<brain::Program>();
  if (!brain::compile_project(sources, options, *program)) return 1;
  auto* records = engine::element_table();
  std::vector<std::int32_t> refs;
  for (int i = 0; i < bench::kBrains; ++i) {
    records[i].flags = project::kFlagOn;
    refs.push_back(engine::reference_of(records[i]));
  }
  world->program = program.get();
  world->highest = bench::kBrains - 1;
  double zepta_ns = fastest([&] {
                      for (int t = 0; t < kTicks; ++t) engine::brain_pass(*world);
                    }) * 1e9 / (static_cast<double>(kTicks) * bench::kBrains);

  double lua_api_ns = lua_motion_ns(false, refs);
#ifdef ZEPTA_LUAJIT
  double lua_ffi_ns = lua_motion_ns(true, refs);
#endif

  // Compiling: the 256 x 200-line project, and the same statements as Lua chunks.
  std::vector<std::string> brains, chunks;
  for (int i = 0; i < bench::kBrains; ++i) {
    brains.push_back(bench::generated_brain(i));
    chunks.push_back(lua_of_brain(brains.back()));
  }
  std::vector<brain::BrainSource> project(bench::kBrains);
  for (int i = 0; i < bench::kBrains; ++i) project[i] = {"e", brains[i]};
  brain::CompileOptions compile;
  compile.read = [](void*, std::string_view path, std::string& bytes) {
    bytes = std::string(path);  // the "path" is the brain text itself
    return true;
  };
  double zepta_compile = fastest([&] {
    std::span<std::byte> literals = base::area(base::Area::data_arena);
    compile.literals = &literals;
    if (!brain::compile_project(project, compile, *program)) std::exit(1);
  });
  lua_State* L = luaL_newstate();
  double lua_compile = fastest([&] {
    for (const std::string& c : chunks) {
      check(L, luaL_loadbuffer(L, c.data(), c.size(), "brain"));
      lua_pop(L, 1);
    }
  });
  lua_close(L);
  engine::end_run(*world);

  constexpr double kLines = static_cast<double>(bench::kBrains) * bench::kLinesPerBrain;
  std::printf("| motion brain, ns per element per tick | %.1f | %s (C API) | %.1f | %.2fx |\n", zepta_ns, kLua,
              lua_api_ns, lua_api_ns / zepta_ns);
#ifdef ZEPTA_LUAJIT
  std::printf("| motion brain, ns per element per tick | %.1f | %s (FFI) | %.1f | %.2fx |\n", zepta_ns, kLua, lua_ffi_ns,
              lua_ffi_ns / zepta_ns);
#endif
  std::printf("| compile 256 x 200 lines, lines per second | %.0f | %s load | %.0f | %.2fx |\n", kLines / zepta_compile,
              kLua, kLines / lua_compile, zepta_compile > 0 ? lua_compile / zepta_compile : 0.0);
  return 0;
}
