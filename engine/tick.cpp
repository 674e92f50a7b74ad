// The tick: timing, the brain pass, the table rotations and angle arithmetic
// shared by the engine, the element validator, globals and the run's dump.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "engine/engine.h"
#include "engine/engine_local.h"
#include "engine/network.h"
#include "platform/platform.h"
#include "base/files.h"
#include "base/memory.h"
#include "base/text.h"

namespace engine {

namespace {

// The world that compiled brains reach. Routines are called from generated code
// with no context argument, so the run in progress is named here, set by
// begin_run and cleared by end_run.
World* g_active = nullptr;
// The element table, looked up once per run: validating an element argument is
// the most frequent thing brains ask for.

const std::int32_t* large_sine() { return base::area_as<const std::int32_t>(base::Area::large_sine_table); }

// The low 32 bits, as the machine's 32-bit arithmetic keeps them.
std::int32_t product_q15(std::int64_t a, std::int64_t b) { return low32((a * b) >> 15); }

// Sine and cosine at step index i (1/8 degree); false when the rotation is skipped.
bool table_step(std::int32_t angle, std::int32_t& s, std::int32_t& c) {
  const std::int32_t* t = large_sine();
  int i = media::normalise_angle(angle) >> 6;
  if (i == 0 || !t) return false;
  s = t[i];
  c = t[i + 720];
  return true;
}

// Word 21 may have been overwritten by `register_set`, so only the entry of a
// compiled body is entered. The element's own body is checked at once; any
// other value goes through the full check of run_element. A brain that had to
// be stopped is told once and runs no more.
void run_brain(const brain::Program& program, int i, project::ElementRecord& r, World& world) {
  auto entry = static_cast<std::uint32_t>(r.brain_entry);
  brain::RunResult result;
  if (i >= program.count || entry != program.entry[i]) {
    result = brain::run_element(program, i, world.names[i], world.errors);
  } else {
    result = brain::run(entry, base::address32(&r));
    if (result.status != brain::RunStatus::ok) brain::report_stopped(program, i, world.names[i], result, world.errors);
  }
  if (result.status == brain::RunStatus::endless_loop || result.status == brain::RunStatus::too_deep)
    world.brain_stopped[i] = true;
}

// ---- Tick phases --------------------------------------------------------------------------

// The input sample and the tick's one key event. An Escape a panel took since
// the last tick is noted first; the tick's own Escape ends the run by its key event.
void input_phase(World& world) {
  escape_taken(world);
  platform::set_engine_tick(world.ticks);
  platform::sample_input(false);  // the run loop paces the ticks
  std::uint32_t event = 0;
  world.key_event = world.input && platform::ring_take(world.input->ring, event) ? event : 0;
  if (world.input) world.escapes_gone = world.input->ring.escapes_gone;
}

void joystick_phase(World&) {
  for (int n = 0; n < platform::kControllers; ++n) platform::poll_controller(n);
}

// The tick's phases by order; equal orders in the order added.
struct TickPhases {
  TickStep step[kMaxTickPhases] = {
      {kTickInput, "input", input_phase},
      {kTickCollisions, "collisions", collision_pass},
      {kTickJoysticks, "joysticks", joystick_phase},
      {kTickBrains, "brains", brain_pass},
  };
  int count = 4;
};
TickPhases g_phases;

}  // namespace

// ---- Timing ------------------------------------------------------------------------------

void start_clock(Clock& clock, std::uint32_t now) { clock.deadline = now + static_cast<std::uint32_t>(clock.period); }

bool tick_on_time(Clock& clock, std::uint32_t now) {
  bool on_time = static_cast<std::int32_t>(now - clock.deadline) <= 0;
  clock.deadline += static_cast<std::uint32_t>(clock.period);
  return on_time;
}

void set_rate(World& world, std::int32_t rate) {
  if (rate < kMinRate || rate > kMaxRate) return;
  world.rate = rate;
  world.clock.period = tick_period(rate);
}

// ---- Rotations and angles -------------------------------------------------------------------

void rotate_x(Vec3& v, std::int32_t angle) {
  std::int32_t s, c;
  if (!table_step(angle, s, c)) return;
  std::int32_t z = add32(product_q15(c, v.z), product_q15(s, v.y));
  std::int32_t y = sub32(product_q15(c, v.y), product_q15(s, v.z));
  v.y = y, v.z = z;
}

void rotate_z(Vec3& v, std::int32_t angle) {
  std::int32_t s, c;
  if (!table_step(angle, s, c)) return;
  std::int32_t y = add32(product_q15(c, v.y), product_q15(s, v.x));
  std::int32_t x = sub32(product_q15(c, v.x), product_q15(s, v.y));
  v.x = x, v.y = y;
}

void rotate_y(Vec3& v, std::int32_t angle) {
  std::int32_t s, c;
  if (!table_step(angle, s, c)) return;
  std::int32_t z = add32(product_q15(c, v.z), product_q15(s, v.x));
  std::int32_t x = sub32(product_q15(c, v.x), product_q15(s, v.z));
  v.x = x, v.z = z;
}

void orient(Vec3& v, std::int32_t rx, std::int32_t ry, std::int32_t rz) {
  rotate_x(v, rx);
  rotate_z(v, rz);
  rotate_y(v, ry);
}

std::int32_t vector_angle(std::int32_t a, std::int32_t b) {
  std::int32_t r = 720;
  if (a != 0) {
    std::int64_t q = std::llabs(static_cast<std::int64_t>(b) * 512 / a);
    r = media::atan_index(q);
  }
  if (a < 0 && b < 0) r += 1440;
  else if (b < 0) r = 2880 - r;
  else if (a < 0) r = 1440 - r;
  return (r - 720) * 64;
}

std::int64_t rounded_sqrt(std::int64_t v) {
  if (v <= 0) return 0;
  // Below 2^52 the double holds v exactly and its correctly rounded root never
  // reaches the next integer, so the cast is the exact floor.
  auto r = static_cast<std::int64_t>(std::sqrt(static_cast<double>(v)));
  if (v >= (std::int64_t{1} << 52)) {
    constexpr std::int64_t kLargest = 3037000499;  // floor(sqrt(INT64_MAX)): its square still fits
    if (r > kLargest) r = kLargest;
    while (r * r > v) --r;
    while (r < kLargest && (r + 1) * (r + 1) <= v) ++r;
  }
  return v - r * r > r ? r + 1 : r;  // (r + 1/2)^2 = r^2 + r + 1/4
}

// ---- Runs and elements ----------------------------------------------------------------------

void begin_run(World& world) {
  bind_routines();
  if (!world.input) world.input = &platform::input();
  world.tables = project::budget_tables();
  reset_handles(world);
  world.reported_refused_path = false;  // reported once a run
  world.reported_control_path = false;
  std::fill(std::begin(world.brain_stopped), std::end(world.brain_stopped), false);
  world.escaped = false;
  world.escapes_gone = world.input->ring.escapes_gone;
  g_active = &world;
}

void end_run(World& world) {
  close_video_window(world);
  release_handles(world);
  reap_programs();
  if (g_active == &world) g_active = nullptr;
}

World* active_world() { return g_active; }

bool escape_taken(World& world) {
  if (!world.escaped && world.input && world.input->ring.escapes_gone != world.escapes_gone) world.escaped = true;
  return world.escaped;
}

int brain_line(const World& world, int element, std::uint32_t call_site) {
  const brain::Program* p = world.program;
  std::span<std::byte> code = base::area(base::Area::brain_code);
  if (!p || element < 0 || element >= p->count || code.empty()) return 0;
  std::uint32_t start = base::address32(code.data());
  if (call_site <= start || call_site - start > p->code_bytes) return 0;
  // The body holding the call is the one that starts last before it.
  std::uint32_t body = 0;
  for (int k = 0; k < p->count; ++k)
    if (p->entry[k] < call_site && p->entry[k] > body) body = p->entry[k];
  return body == p->entry[element] ? brain::line_at(*p, call_site) : 0;
}

std::int32_t* globals() { return base::area_as<std::int32_t>(base::Area::brain_data); }


std::int32_t reference_of(const project::ElementRecord& record) {
  return static_cast<std::int32_t>(base::address32(&record));
}

const project::AspectRecord* aspect_at(std::int32_t address) {
  auto* table = base::area_as<project::AspectRecord>(base::Area::aspect_table);
  if (!table || address <= 0) return nullptr;
  std::uint32_t base = base::address32(table);
  std::uint32_t offset = static_cast<std::uint32_t>(address) - base;
  if (static_cast<std::uint32_t>(address) < base || offset >= project::kMaxAspects * sizeof(project::AspectRecord) ||
      offset % sizeof(project::AspectRecord))
    return nullptr;
  return table + offset / sizeof(project::AspectRecord);
}

bool has_tag(const project::ElementRecord& e, std::string_view extension) {
  const project::AspectRecord* a = aspect_at(e.current_aspect);
  if (!a) return false;
  project::AspectRecord want{};
  project::write_tag(want, extension);
  return a->tag[0] == want.tag[0] && a->tag[1] == want.tag[1] && a->tag[2] == want.tag[2] && a->tag[3] == want.tag[3];
}

// ---- The tick ---------------------------------------------------------------------------------

void brain_pass(World& world) {
  clear_text_list(world);
  project::ElementRecord* records = world.tables.elements;
  bool networked = network().running;
  if (records) {
    if (networked) network_before_pass(world);
    for (int i = 0; i <= world.highest && i < project::kMaxElements; ++i) {
      if (escape_taken(world)) break;  // the run ends: no brain keeps the user in its panels
      project::ElementRecord& r = records[i];
      r.flags &= ~project::kFlagLocalRotation;
      // Replication applies to elements whose brain does not run too: an
      // element that is off here may be switched on by its owner.
      if (networked) network_before_brain(world, i);
      bool runs = (r.flags & (project::kFlagOn | project::kFlagBrainSuspended)) == project::kFlagOn &&
                  !world.brain_stopped[i];
      if (runs) {
        world.brain_element = i;
        if (world.program) run_brain(*world.program, i, r, world);
        r.tick_counter = add32(r.tick_counter, 1);
      }
      if (networked) network_after_brain(world, i);
    }
    world.brain_element = -1;
    if (networked) network_after_pass(world);
  }
  ++world.ticks;
}

void tick(World& world) {
  for (int i = 0; i < g_phases.count; ++i) g_phases.step[i].run(world);
}

bool add_tick_phase(int order, std::string_view name, TickPhase phase) {
  if (!phase) return false;
  remove_tick_phase(name);
  TickPhases& t = g_phases;
  if (t.count == kMaxTickPhases) return false;
  int at = t.count;
  for (; at > 0 && t.step[at - 1].order > order; --at) t.step[at] = t.step[at - 1];
  t.step[at] = {order, name, phase};
  ++t.count;
  return true;
}

bool remove_tick_phase(std::string_view name) {
  TickPhases& t = g_phases;
  for (int i = 0; i < t.count; ++i) {
    if (t.step[i].name != name) continue;
    std::copy(t.step + i + 1, t.step + t.count, t.step + i);
    --t.count;
    return true;
  }
  return false;
}

std::span<const TickStep> tick_phases() { return {g_phases.step, static_cast<std::size_t>(g_phases.count)}; }

// ---- The dump ------------------------------------------------------------------------

bool write_dump(const World& world, std::string_view path) {
  base::TextFile file;
  if (!file.open_write_atomic(path)) return false;
  bool ok = true;
  char line[64];
  auto put = [&](const char* format, auto... values) {
    int n = std::snprintf(line, sizeof line, format, values...);
    ok = n > 0 && file.write_bytes(line, std::min(static_cast<std::size_t>(n), sizeof line - 1)) && ok;
  };
  put("exit %d\n", world.exit_request);
  put("ticks %u\n", world.ticks);
  if (world.debug_flag) put("debug %d\n", world.debug_value);
  const std::int32_t* g = globals();
  for (int i = 0; g && i < kGlobals; ++i)
    if (g[i]) put("global %d %d\n", i, g[i]);
  for (int e = 0; world.tables.elements && e <= world.highest && e < project::kMaxElements; ++e) {
    // Names are one field of an element line: no line break in them.
    put("name %d ", e);
    ok = file.write_bytes(world.names[e].data(), world.names[e].size()) && file.write_bytes("\n", 1) && ok;
    const auto* words = reinterpret_cast<const std::int32_t*>(&world.tables.elements[e]);
    for (int w = 0; w < kElementBytes / 4; ++w)
      if (words[w]) put("element %d %d %d\n", e, w, words[w]);
  }
  const std::uint8_t* matrix = world.tables.collision;
  int last = std::min(world.highest, project::kMaxElements - 1);
  for (int i = 0; matrix && i < last; ++i)
    for (int j = i + 1; j <= last; ++j)
      if (matrix[i * project::kMaxElements + j]) put("collision %d %d %d\n", i, j, matrix[i * project::kMaxElements + j]);
  return file.close() && ok;
}

}  // namespace engine
