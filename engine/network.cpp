// Replication around the brain pass, the send step's pacing, shared variables
// at `global_set`, and the network instructions. The wire is net/'s: it fills
// the received slots and sends what the pass publishes (engine/network.h).
#include "engine/network.h"

#include <algorithm>
#include <cstring>

#include "engine/engine.h"
#include "engine/engine_local.h"

namespace engine {

namespace {

using Record = project::ElementRecord;

Network g_network;

// What an element's brain found at its start, so that a machine that does not
// own it can put back what the brain changed, and its owner can publish the
// tick's changes.
struct Remembered {
  std::int32_t position[3], velocity[3], rotation[3], spin[3];
  std::int32_t flags, current_aspect;
};
Remembered g_before;

bool shift_active(const Network& n) { return n.running && n.warm_up == 0; }

std::uint32_t sync_of(const Record& r) { return static_cast<std::uint32_t>(r.network_sync); }

void copy3(std::int32_t* to, const std::int32_t* from) { std::memcpy(to, from, 3 * sizeof(std::int32_t)); }

// Arithmetic shift of a wrapping difference, as 32-bit registers do it.
std::int32_t shifted(std::int32_t v, int k) { return v >> k; }

// An element switched on (or shown) by its owner while it is off here: it
// appears where the owner has it, standing still, at its first frame, with
// its sound.
void appear(Record& r, std::uint32_t sync, const ElementNetState& s) {
  if (sync & kSyncPosition) {
    copy3(r.position, s.position);
    std::fill(std::begin(r.velocity), std::end(r.velocity), 0);
  }
  if (sync & kSyncRotation) {
    copy3(r.rotation, s.rotation);
    std::fill(std::begin(r.spin), std::end(r.spin), 0);
  }
  r.current_aspect = r.base_aspect;
  play_element_sound(r);
}

// Steers a copy towards the last state its owner sent, then moves it on by
// dead reckoning.
void steer(Record& r, std::uint32_t sync, const ElementNetState& s) {
  // A correction adds to the received change; without one it is the whole
  // velocity. Added to a velocity kept from tick to tick, the corrections would
  // pile up and the copy would circle the owner's position for ever.
  if (sync & kSyncPositionChange) copy3(r.velocity, s.position_change);
  else if (sync & kSyncPosition) std::fill(std::begin(r.velocity), std::end(r.velocity), 0);
  if (sync & kSyncPosition) {
    int k = static_cast<int>((sync >> 2) & 3) + 1;
    for (int c = 0; c < 3; ++c) r.velocity[c] = add32(r.velocity[c], shifted(sub32(s.position[c], r.position[c]), k));
  }
  if (sync & kSyncRotationChange) copy3(r.spin, s.rotation_change);
  else if (sync & kSyncRotation) std::fill(std::begin(r.spin), std::end(r.spin), 0);
  if (sync & kSyncRotation) {
    int k = static_cast<int>((sync >> 6) & 3) + 1;
    for (int c = 0; c < 3; ++c) r.spin[c] = add32(r.spin[c], shifted(angle_difference(r.rotation[c], s.rotation[c]), k));
  }
  for (auto [bit, mask] : {std::pair{kSyncOn, project::kFlagOn}, std::pair{kSyncShown, project::kFlagShown}}) {
    if (!(sync & bit)) continue;
    if ((s.flags & mask) && !(r.flags & mask)) appear(r, sync, s);
    if (bit == kSyncOn && !(s.flags & mask) && (r.flags & mask) && !(r.flags & project::kFlagSoundKept))
      stop_element_sound(r);  // as `off` would
    r.flags = (r.flags & ~mask) | (s.flags & mask);
  }
  // A frame from the wire must be one of the element's loaded aspect records:
  // frames count from 0, so the frame limit itself is one too far.
  if ((sync & kSyncFrame) && s.frame >= 0 && (s.frame == 0 || s.frame < r.frame_limit)) {
    std::int32_t target = add32(r.base_aspect, low32(std::int64_t{s.frame} * 64));
    if (aspect_at(r.base_aspect) && aspect_at(target)) r.current_aspect = target;
  }
  if (sync & (kSyncPositionChange | kSyncPosition))
    for (int c = 0; c < 3; ++c) r.position[c] = add32(r.position[c], r.velocity[c]);
  if (sync & (kSyncRotationChange | kSyncRotation))
    for (int c = 0; c < 3; ++c) r.rotation[c] = add32(r.rotation[c], r.spin[c]);
}

// The index and owner of a shared-variable entry.
std::int32_t shared_index(const project::SharedVariable& v) { return v.key & 0xFFFF; }
std::int32_t shared_owner(const project::SharedVariable& v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v.key) >> 16);
}

}  // namespace

Network& network() { return g_network; }

bool owns(const Network& n, std::int32_t owner) {
  if (owner == n.machine_number) return true;
  if (!n.host) return false;
  return owner == 0 || (owner > 0 && owner <= kMaxMachineNumber && n.departed[owner]);
}

std::int32_t angle_difference(std::int32_t a, std::int32_t b) {
  std::int64_t d = (std::int64_t{b} - a) % kFullTurn;
  if (d < 0) d += kFullTurn;
  if (d > kHalfTurn) d -= kFullTurn;
  return static_cast<std::int32_t>(d);
}

void network_project_started(World& world) {
  Network& n = g_network;
  for (ReceivedSlot& s : n.received) s.pending = -1;
  for (ElementNetState& s : n.published) s = {};
  n.warm_up = kWarmUpPasses;
  n.published_ready = false;
  n.mismatch = 0;
  n.send_countdown = 0;
  n.received_since_send = 0;
  if (n.link.project_started) n.link.project_started(n.link.user, world);
}

// ---- Around the brain pass ------------------------------------------------------------------------

void network_before_pass(World& world) {
  Network& n = g_network;
  if (!n.running) return;
  if (n.link.receive) n.link.receive(n.link.user, world);
  // The last pass before replication starts: the other machines' variables
  // hold, until they are heard from, what this machine has.
  if (n.warm_up == 1) {
    const std::int32_t* g = globals();
    for (int k = 0; g && k < world.shared_count; ++k)
      if (!owns(n, shared_owner(world.shared[k]))) world.shared[k].value = g[shared_index(world.shared[k])];
  }
}

void network_before_brain(World& world, int i) {
  const Network& n = g_network;
  if (!shift_active(n)) return;
  const Record& r = world.tables.elements[i];
  if (!replicated(r.network_sync)) return;
  copy3(g_before.position, r.position);
  copy3(g_before.velocity, r.velocity);
  copy3(g_before.rotation, r.rotation);
  copy3(g_before.spin, r.spin);
  g_before.flags = r.flags;
  g_before.current_aspect = r.current_aspect;
}

void network_after_brain(World& world, int i) {
  Network& n = g_network;
  if (!shift_active(n)) return;
  Record& r = world.tables.elements[i];
  std::uint32_t sync = sync_of(r);
  if (!replicated(r.network_sync)) return;
  if (owns(n, r.owner_machine)) {
    ElementNetState& out = n.published[i];
    if (sync & kSyncPosition) copy3(out.position, r.position);
    if (sync & kSyncPositionChange)
      for (int c = 0; c < 3; ++c) out.position_change[c] = sub32(r.position[c], g_before.position[c]);
    if (sync & kSyncRotation) copy3(out.rotation, r.rotation);
    if (sync & kSyncRotationChange)
      for (int c = 0; c < 3; ++c) out.rotation_change[c] = angle_difference(g_before.rotation[c], r.rotation[c]);
    out.flags = static_cast<std::uint8_t>(r.flags & 0xFF);
    out.frame = sub32(r.current_aspect, r.base_aspect) / 64;
    return;
  }
  // Another machine's element: what the local brain changed does not last.
  if (sync & kSyncPosition) copy3(r.position, g_before.position);
  if (sync & kSyncPositionChange) copy3(r.velocity, g_before.velocity);
  if (sync & kSyncRotation) copy3(r.rotation, g_before.rotation);
  if (sync & kSyncRotationChange) copy3(r.spin, g_before.spin);
  if (sync & kSyncOn) r.flags = (r.flags & ~project::kFlagOn) | (g_before.flags & project::kFlagOn);
  if (sync & kSyncShown) r.flags = (r.flags & ~project::kFlagShown) | (g_before.flags & project::kFlagShown);
  if (sync & kSyncFrame) r.current_aspect = g_before.current_aspect;
  const ReceivedSlot& slot = n.received[i];
  if (slot.pending == 0) steer(r, sync, slot.state);
}

void network_after_pass(World& world) {
  Network& n = g_network;
  if (!n.running) return;
  if (n.warm_up == 0) n.published_ready = true;
  if (n.warm_up > 0) --n.warm_up;
  // The send step.
  if (world.ticks % kCounterHalving == 0) {
    n.active_machines = 0;
    for (std::int32_t& c : n.counters) {
      c >>= 1;
      if (c > 0) ++n.active_machines;
    }
  }
  if (world.ticks % kMismatchClearing == 0) n.mismatch = 0;
  if (--n.send_countdown > 0) return;
  n.send_countdown = kSendInterval;
  if (n.link.send) n.link.send(n.link.user, world);
}

void network_global_written(World& world) {
  const Network& n = g_network;
  if (!shift_active(n)) return;
  std::int32_t* g = globals();
  for (int k = 0; g && k < world.shared_count; ++k)
    if (!owns(n, shared_owner(world.shared[k]))) g[shared_index(world.shared[k])] = world.shared[k].value;
}

// ---- The network instructions ----------------------------------------------------------------------

namespace {

using I = std::int32_t;

ROUTINE(routine_network_mode) { return g_network.running ? -1 : 0; }
ROUTINE(routine_host) { return g_network.running && g_network.host ? -1 : 0; }
ROUTINE(routine_machine_number) { return g_network.machine_number; }
ROUTINE(routine_machine_number_set) {
  // Numbers above 100 become 100; below 0 (which no machine could own) become 0.
  I number = std::clamp<I>(a, 0, kMaxMachineNumber);
  if (number == g_network.machine_number) return 0;
  g_network.machine_number = number;
  if (g_network.link.machine_number_changed) g_network.link.machine_number_changed(g_network.link.user, number);
  return 0;
}
ROUTINE(routine_machine_status) {
  if (a <= 0) return 0;
  I n = std::min<I>(a, kMaxMachineNumber);
  I heard = g_network.counters[n];
  if (n == g_network.machine_number) return heard == 0 ? 1 : 2;
  return heard;
}
ROUTINE(routine_network_mismatch) { return g_network.mismatch; }

// Elements by owner machine number, in index order.
ROUTINE(routine_machine_element) {
  World* w = active_world();
  if (!w) return 0;
  for (int i = 0; i <= w->highest && i < project::kMaxElements; ++i)
    if (w->tables.elements[i].owner_machine == a) return reference_of(w->tables.elements[i]);
  return 0;
}
ROUTINE(routine_machine_element_find) {  // (start, machine, n, mode), as `element_find`
  World* w = active_world();
  Record* start = element_of(a);
  if (!w || !start) return 0;
  if (c <= 0) return a;
  int i = static_cast<int>(start - w->tables.elements);
  int direction = d > 0 ? 1 : -1;
  std::int64_t mode = d < 0 ? -std::int64_t{d} : d;
  I n = c;
  for (i += direction; i > 0 && i <= w->highest && i < project::kMaxElements; i += direction) {
    const Record& r = w->tables.elements[i];
    if (r.owner_machine != b) continue;
    bool on = r.flags & project::kFlagOn;
    if ((mode == 2 && on) || (mode == 3 && !on)) continue;
    if (--n == 0) return reference_of(r);
  }
  return 0;
}

constexpr Binding kBindings[] = {
    {"network_mode", routine_network_mode, "-> -1 while this machine plays in a network session, else 0"},
    {"host", routine_host, "-> -1 while this machine hosts the session (also after taking over), else 0"},
    {"machine_number", routine_machine_number, "-> this machine's number (0 until machine_number_set)"},
    {"machine_number_set", routine_machine_number_set,
     "a number 0..100 (more gives 100, less 0): this machine's number, the owner number it plays"},
    {"machine_status", routine_machine_status,
     "a machine (more than 100: 100) -> 0 for a <= 0; heard lately from it (0 none); own number: 1, 2 if shared"},
    {"machine_element", routine_machine_element, "a machine -> first element whose owner number is a; 0 none"},
    {"machine_element_find", routine_machine_element_find,
     "a start, b machine, c n, d mode (as element_find) -> n-th element past a whose owner is b; 0 none"},
    {"network_mismatch", routine_network_mismatch,
     "-> -1 when a message of another project came lately (cleared every 64 ticks), else 0"},
    {"str_send", routine_str_send, "a text, b mask: sends the text to the other machines; nothing for \"\""},
    {"str_poll", routine_str_poll,
     "a string, b mask: the oldest received text if its mask shares a bit with b (taken), else \"\""},
};

}  // namespace

std::span<const Binding> network_bindings() { return kBindings; }

}  // namespace engine
