// The global network state that brains and the brain pass see while machines
// play one project together: who this machine is, what it heard from whom, the
// state it publishes for the elements it owns, the last state received for the
// others and the steering of its copies towards it. The wire (sessions,
// messages, the text queue) lives in net/, which fills these tables through
// NetworkLink and reads what the brain pass publishes. Without a session every
// network instruction is inert and the tables stay untouched.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "project/project.h"

namespace engine {

struct World;

inline constexpr int kMaxMachineNumber = 100;  // machine numbers are 0..100
inline constexpr int kSendInterval = 90;       // ticks: a state message at least this often
inline constexpr int kWarmUpPasses = 3;        // brain passes before replication starts
inline constexpr int kCounterHalving = 128;    // ticks between halvings of the machine counters
inline constexpr int kMismatchClearing = 64;   // ticks between clearings of the mismatch flag

// Sync flag bits of an element (record word 37).
enum SyncBit : std::uint32_t {
  kSyncPositionChange = 0x1,   // publish the tick's position change (received as velocity)
  kSyncPosition = 0x2,         // publish the position (received as a velocity correction)
  kSyncPositionShift = 0xC,    // correction strength: shift = value + 1
  kSyncRotationChange = 0x10,  // publish the tick's rotation change (received as spin)
  kSyncRotation = 0x20,        // publish the rotation (received as a spin correction)
  kSyncRotationShift = 0xC0,   // correction strength: shift = value + 1
  kSyncOn = 0x100,             // replicate the on flag (flag word bit 0)
  kSyncShown = 0x200,          // replicate the shown flag (flag word bit 6)
  kSyncFrame = 0x400,          // replicate the animation frame
};
inline constexpr std::uint32_t kReplicatedMask = 0xFFFFFF33;
// True when an element with these sync flags is replicated at all.
constexpr bool replicated(std::int32_t sync) { return (static_cast<std::uint32_t>(sync) & kReplicatedMask) != 0; }

// One element's state as published by its owner or received from it. Only the
// fields that the element's sync flags name mean anything.
struct ElementNetState {
  std::int32_t position_change[3] = {};  // bit 0
  std::int32_t position[3] = {};         // bit 1
  std::int32_t rotation_change[3] = {};  // bit 4: shortest signed angle difference
  std::int32_t rotation[3] = {};         // bit 5
  std::uint8_t flags = 0;                // bits 8, 9: the flag word's low byte
  std::int32_t frame = 0;                // bit 10: (current - base aspect) / 64
};
// A received-state slot: nothing received yet (pending -1) or the last state
// received (pending 0), applied again every tick until a newer one arrives.
struct ReceivedSlot {
  std::int32_t pending = -1;
  ElementNetState state;
};

// What the session layer does for the brain pass and the network instructions.
// Members left null do nothing.
struct NetworkLink {
  void* user = nullptr;
  // A project starts (records built, shared-variable table made): the session
  // sets the project stamp.
  void (*project_started)(void* user, World& world) = nullptr;
  // Before each brain pass: take what arrived (received slots, shared
  // variables, machine counters, text messages).
  void (*receive)(void* user, World& world) = nullptr;
  // The send step decided to send: build the state message from the published
  // state and send it.
  void (*send)(void* user, World& world) = nullptr;
  // `str_send`: a non-empty text for every machine.
  void (*send_text)(void* user, std::uint32_t mask, std::string_view text) = nullptr;
  // `str_poll`: when the head text message's mask shares a bit with mask, its
  // text into out (cut, zero-terminated) and the message gone; else false.
  bool (*poll_text)(void* user, std::uint32_t mask, std::span<char> out) = nullptr;
  // `machine_number_set` changed the number.
  void (*machine_number_changed)(void* user, std::int32_t number) = nullptr;
};

// The program's one network state.
struct Network {
  bool running = false;            // a session is up: `network_mode` reads -1
  bool host = false;               // this machine hosts (also after a host change): `host` reads -1
  std::int32_t machine_number = 0; // `machine_number_set`, 0..100
  std::uint32_t stamp = 0;         // the running project's stamp
  std::int32_t mismatch = 0;       // -1 once a message of another project arrived
  std::int32_t counters[kMaxMachineNumber + 1] = {};  // state messages heard per machine, halved
  std::int32_t active_machines = 0;       // counters above 0 after the last halving
  std::int32_t send_countdown = 0;        // ticks until the next state message
  std::int32_t received_since_send = 0;   // state messages since this machine last sent
  std::int32_t warm_up = 0;               // kWarmUpPasses at project start, down to 0
  bool published_ready = false;           // a brain pass has published the owned elements' state
  // Owner numbers whose machine left: the host takes over what they owned.
  bool departed[kMaxMachineNumber + 1] = {};
  ReceivedSlot received[project::kMaxElements];
  ElementNetState published[project::kMaxElements];
  NetworkLink link;
};

Network& network();

// True when this machine owns an element or shared variable of this owner
// number: the owner is its number; or it hosts and the owner is 0 or a machine
// that left.
bool owns(const Network& n, std::int32_t owner);

// Shortest signed difference from angle a to angle b (1/512 degree), both
// taken into one turn first: -92,159 .. 92,160.
std::int32_t angle_difference(std::int32_t a, std::int32_t b);

// Project start: every received slot empty, the warm-up counter at 3, the
// mismatch flag and counts cleared; then the link's project_started.
void network_project_started(World& world);

}  // namespace engine
