// The session: takes what the transport received into the engine's network
// state (once per brain pass, on the tick's thread), and sends the state this
// machine publishes and the texts its brains send. Everything from the wire is
// checked by the codec and then by ownership: a peer sets only the elements
// and shared variables it owns.
#include "net/session.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/log.h"
#include "engine/engine.h"
#include "net/codec.h"
#include "platform/net.h"

namespace net {

namespace {

using engine::Network;

constexpr int kPlayers = platform::kMaxNetPeers + 1;
static_assert(kMaxFrameBytes <= platform::kMaxNetMessageBytes, "the largest state or text message travels whole");

struct Session {
  platform::NetSession* transport = nullptr;
  StringQueue texts;
  int host_player = platform::kHostPlayer;
  std::int32_t machine_of_player[kPlayers];  // the machine number each player last sent with; -1 none yet
  // The running project's layout, as at its start (what its stamp sums).
  std::int32_t sync[project::kMaxElements] = {};
  int elements = 0;
  // Owner numbers as ownership checks see them: a machine that left counts as 0 (the host's).
  std::int32_t owners[project::kMaxElements] = {};
  project::SharedVariable shared_owners[project::kMaxSharedVariables] = {};
  int shared = 0;
  // Reserved once: the message being read or written.
  StateMessage message;
  ElementState out_elements[project::kMaxElements];
  VariableValue out_variables[kMaxVariablePairs];
  std::uint8_t frame[kMaxFrameBytes];
  std::uint64_t refused = 0, texts_dropped = 0, send_failed = 0;
  bool told_disconnected = false;
};

std::unique_ptr<Session> g_session;

void note_failed_send(Session& s) {
  if (s.send_failed++ == 0) base::report("net", "a message could not be queued for sending (the connection is gone or slow)");
}

// The owner numbers the ownership checks use, after a machine left.
void update_owners(Session& s, const engine::World& world) {
  const Network& n = engine::network();
  auto effective = [&n](std::int32_t owner) {
    return owner > 0 && owner <= engine::kMaxMachineNumber && n.departed[owner] ? 0 : owner;
  };
  for (int i = 0; i < s.elements; ++i) s.owners[i] = effective(world.tables.elements[i].owner_machine);
  s.shared = world.shared_count;
  for (int k = 0; k < s.shared; ++k) {
    project::SharedVariable v = world.shared[k];
    std::int32_t owner = variable_owner(v.key);
    if (effective(owner) != owner) v.key &= 0xFFFF;
    s.shared_owners[k] = v;
  }
}

void project_started(void* user, engine::World& world) {
  Session& s = *static_cast<Session*>(user);
  s.elements = std::clamp(world.highest + 1, 0, project::kMaxElements);
  for (int i = 0; i < s.elements; ++i) s.sync[i] = world.tables.elements[i].network_sync;
  engine::network().stamp = project_stamp({s.sync, static_cast<std::size_t>(s.elements)},
                                          {world.shared, static_cast<std::size_t>(world.shared_count)});
  update_owners(s, world);
}

void take_state(Session& s, engine::World& world, int player, std::span<const std::uint8_t> bytes) {
  Network& n = engine::network();
  const Layout layout{n.stamp, {s.sync, static_cast<std::size_t>(s.elements)}, static_cast<std::uint32_t>(s.shared)};
  StateMessage& m = s.message;
  if (decode_state(bytes, layout, m) != Status::kOk) {
    ++s.refused;  // a malformed message is dropped whole
    return;
  }
  if (player >= 0 && player < kPlayers) s.machine_of_player[player] = m.sender;
  keep_senders_own(m, player == s.host_player, {s.owners, static_cast<std::size_t>(s.elements)},
                   {s.shared_owners, static_cast<std::size_t>(s.shared)});
  ++n.counters[m.sender];  // the codec refuses senders above 100
  for (int k = 0; k < m.element_count; ++k) {
    const ElementState& e = m.elements[k];
    engine::ReceivedSlot& slot = n.received[e.index];
    slot.pending = 0;
    std::memcpy(slot.state.position_change, e.position_change.data(), 12);
    std::memcpy(slot.state.position, e.position.data(), 12);
    std::memcpy(slot.state.rotation_change, e.rotation_change.data(), 12);
    std::memcpy(slot.state.rotation, e.rotation.data(), 12);
    slot.state.flags = e.flags;
    slot.state.frame = e.frame;
  }
  for (int k = 0; k < m.variable_count; ++k) world.shared[m.variables[k].entry].value = m.variables[k].value;
  // Everyone heard from since the last send: answer now rather than at the countdown.
  if (++n.received_since_send >= n.active_machines) {
    n.received_since_send = 0;
    n.send_countdown = 0;
  }
}

void take_message(Session& s, engine::World& world, int player, std::span<const std::uint8_t> bytes) {
  Network& n = engine::network();
  MessageKind kind;
  std::uint32_t stamp;
  Status status = read_header(bytes, n.stamp, kind, stamp);
  if (status == Status::kWrongStamp) {
    n.mismatch = -1;
    return;
  }
  if (status != Status::kOk) {
    ++s.refused;
    return;
  }
  if (kind == MessageKind::kState) {
    take_state(s, world, player, bytes);
    return;
  }
  StringMessage text;
  if (decode_string(bytes, n.stamp, text) != Status::kOk) {
    ++s.refused;
    return;
  }
  if (!s.texts.push(text.mask, text.text)) ++s.texts_dropped;  // the queue is full
}

// A player left: what its machine owned passes to the host, unless another
// player still uses that machine number.
void player_left(Session& s, engine::World& world, int player) {
  if (player < 0 || player >= kPlayers) return;
  std::int32_t machine = s.machine_of_player[player];
  s.machine_of_player[player] = -1;
  if (machine <= 0 || machine > engine::kMaxMachineNumber) return;
  for (int p = 0; p < kPlayers; ++p)
    if (s.machine_of_player[p] == machine) return;
  engine::network().departed[machine] = true;
  update_owners(s, world);
}

// The join and leave texts go to the log; a name the transport has not
// learnt reads "unknown".
void tell(const platform::NetEvent& event, const char* format) {
  std::string_view name = event.name.empty() ? std::string_view("unknown") : event.name;
  base::report("net", format, static_cast<int>(name.size()), name.data());
}

void receive(void* user, engine::World& world) {
  Session& s = *static_cast<Session*>(user);
  if (!s.transport) return;
  platform::NetEvent event;
  while (platform::poll_net(*s.transport, event)) {
    switch (event.kind) {
      case platform::NetEventKind::message:
        take_message(s, world, event.player, event.bytes);
        break;
      case platform::NetEventKind::joined:
        tell(event, "\"%.*s\" has joined");
        break;
      case platform::NetEventKind::left:
        tell(event, "\"%.*s\" has left");
        player_left(s, world, event.player);
        break;
      case platform::NetEventKind::host_changed:
        s.host_player = event.player;
        engine::network().host = event.player == platform::own_player(*s.transport);
        if (engine::network().host) {
          base::report("net", "You have become the host");
          update_owners(s, world);
        }
        break;
    }
  }
  if (!s.told_disconnected && !platform::session_connected(*s.transport)) {
    s.told_disconnected = true;
    base::report("net", "the connection to the session is lost; this machine plays on alone");
  }
}

void send(void* user, engine::World& world) {
  Session& s = *static_cast<Session*>(user);
  Network& n = engine::network();
  if (!s.transport) return;
  int count = 0;
  // Elements go out once the brain pass has published them.
  for (int i = 0; n.published_ready && i < s.elements; ++i) {
    if (!replicated(s.sync[i]) || !engine::owns(n, world.tables.elements[i].owner_machine))
      continue;
    const engine::ElementNetState& p = n.published[i];
    ElementState& e = s.out_elements[count++];
    e.index = static_cast<std::uint32_t>(i);
    e.sync = static_cast<std::uint32_t>(s.sync[i]);
    std::memcpy(e.position_change.data(), p.position_change, 12);
    std::memcpy(e.position.data(), p.position, 12);
    std::memcpy(e.rotation_change.data(), p.rotation_change, 12);
    std::memcpy(e.rotation.data(), p.rotation, 12);
    e.flags = p.flags;
    e.frame = p.frame;
  }
  int variables = 0;
  const std::int32_t* g = engine::globals();
  for (int k = 0; g && k < world.shared_count && k < kMaxVariablePairs; ++k) {
    if (!engine::owns(n, variable_owner(world.shared[k].key))) continue;
    s.out_variables[variables++] = {static_cast<std::uint32_t>(k), g[world.shared[k].key & 0xFFFF]};
  }
  std::size_t size = encode_state(s.frame, n.stamp, static_cast<std::uint16_t>(n.machine_number),
                                  {s.out_elements, static_cast<std::size_t>(count)}, world.shared_count > 0,
                                  {s.out_variables, static_cast<std::size_t>(variables)});
  // Each state message replaces the one before: a lost one is not worth waiting for.
  if (size == 0 || !platform::send_to_all(*s.transport, {s.frame, size}, platform::Delivery::latest_only))
    note_failed_send(s);
}

void send_text(void* user, std::uint32_t mask, std::string_view text) {
  Session& s = *static_cast<Session*>(user);
  if (!s.transport) return;
  // A text holding a zero byte goes up to it, as a brain's text reads.
  text = text.substr(0, std::min(text.find('\0'), text.size()));
  if (text.size() > static_cast<std::size_t>(kMaxTextBytes)) text = text.substr(0, kMaxTextBytes);  // cut, as documented
  std::size_t size = encode_string(s.frame, engine::network().stamp, mask, text);
  if (size == 0 || !platform::send_to_all(*s.transport, {s.frame, size})) note_failed_send(s);
}

bool poll_text(void* user, std::uint32_t mask, std::span<char> out) {
  return static_cast<Session*>(user)->texts.poll(mask, out) >= 0;
}

// The transport elects the next host by machine number.
void machine_number_changed(void* user, std::int32_t number) {
  Session& s = *static_cast<Session*>(user);
  if (s.transport) platform::set_machine_number(*s.transport, number);
}

}  // namespace

void start_network(platform::NetSession* session) {
  if (!session) return;
  stop_network();
  if (!g_session) g_session = std::make_unique<Session>();
  Session& s = *g_session;
  s.transport = session;
  s.texts.clear();
  s.host_player = platform::kHostPlayer;
  std::fill(std::begin(s.machine_of_player), std::end(s.machine_of_player), -1);
  s.refused = s.texts_dropped = s.send_failed = 0;
  s.told_disconnected = false;
  Network& n = engine::network();
  n.running = true;
  n.host = platform::own_player(*session) == platform::kHostPlayer;
  std::fill(std::begin(n.departed), std::end(n.departed), false);
  std::fill(std::begin(n.counters), std::end(n.counters), 0);
  n.link = {};
  n.link.user = &s;
  n.link.project_started = project_started;
  n.link.receive = receive;
  n.link.send = send;
  n.link.send_text = send_text;
  n.link.poll_text = poll_text;
  n.link.machine_number_changed = machine_number_changed;
  platform::set_machine_number(*session, n.machine_number);
}

void stop_network() {
  Network& n = engine::network();
  n.running = false;
  n.host = false;
  n.link = {};
  if (!g_session) return;
  platform::close_session(g_session->transport);
  g_session->transport = nullptr;
}

bool network_running() { return engine::network().running; }

SessionCounts session_counts() {
  if (!g_session) return {};
  return {g_session->refused, g_session->texts_dropped, g_session->send_failed};
}

}  // namespace net
