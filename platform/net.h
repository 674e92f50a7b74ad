// The network transport: one machine hosts a session, others join it, and every
// message goes to every player, whole and in order. A network thread per session
// services the connection; the tick hands messages to it and polls what arrived
// without ever waiting. When the host leaves, the others elect a new host among
// themselves and carry on with the same player ids. LAN sessions are found by a
// UDP probe and its reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace platform {

inline constexpr int kMaxNetPeers = 100;           // joiners one host accepts
inline constexpr int kMaxNetMessageBytes = 32768;  // payload of one message: any state or text message of a session
inline constexpr int kHostPlayer = 0;              // the first host's player id; joiners are 1..100
inline constexpr int kDefaultReceiveRingBytes = 1 << 20;
inline constexpr int kSendRingBytes = 1 << 20;
inline constexpr int kDefaultDiscoveryPort = 29070;
inline constexpr int kMaxSessionName = 63;  // bytes of a session name in a discovery reply
inline constexpr int kMaxPlayerName = 63;   // bytes of a player name
inline constexpr int kMigrationMs = 5000;   // how long a player looks for the new host before giving up

struct NetSession;  // one open session: its connection, thread and rings

struct NetHostOptions {
  const char* bind_address = nullptr;  // numeric IPv4; nullptr: every interface
  int port = 0;                        // 0: any free port (session_port tells it)
  int discovery_port = -1;             // -1: no discovery; 0: any free port
  const char* session_name = "Session";
  const char* player_name = "";  // the host's own name, as the others see it
  int receive_ring_bytes = kDefaultReceiveRingBytes;
};

// Opens a session that this machine hosts. nullptr, with a report, when the
// port cannot be bound.
NetSession* open_host(const NetHostOptions& options);
// Joins the session at address:port (numeric IPv4 or a host name) as player_name
// (nullptr: empty; names are kept to kMaxPlayerName bytes of UTF-8, control
// characters and bytes that are not UTF-8 turned into '?'), waiting at most timeout_ms for the host to accept. The joiner
// accepts connections itself on the interface it reaches the host by (any free
// port), so that it can become the host. nullptr, with a report, on failure.
NetSession* join_session(const char* address, int port, const char* player_name, int timeout_ms,
                         int receive_ring_bytes = kDefaultReceiveRingBytes);
// Sends what is still queued, says goodbye to the peers (waiting at most a
// short while) and frees the session. nullptr is allowed.
void close_session(NetSession* session);

int session_port(const NetSession& session);    // the UDP port this machine hosts on, or the host's
int discovery_port(const NetSession& session);  // the discovery port this machine answers on; -1: none
int own_player(const NetSession& session);      // 0 for the first host, 1..100 for a joiner; never changes
bool is_host(const NetSession& session);        // whether this machine hosts now
// False once this machine lost the session: the elected new host could not be
// reached within kMigrationMs.
bool session_connected(const NetSession& session);

// This machine's number for electing a new host (0 until set): when the host
// leaves, the lowest number among the remaining players wins, ties going to the
// lowest player id. Never waits; the network thread tells the host, which tells
// everyone.
void set_machine_number(NetSession& session, int number);

// One player of the roster the host keeps everyone informed of.
struct NetPlayer {
  int player = 0;          // 0..100
  int machine = 0;         // its machine number
  char address[16] = {};   // dotted IPv4 as the host sees it; the host's own: as this machine
                           // reaches it (on the host itself, the address it is bound to)
  int port = 0;            // the UDP port it accepts connections on
  char name[kMaxPlayerName + 1] = {};
  bool host = false;       // hosts now
};
// Copies the latest roster, this machine included, into out in player order;
// returns how many players went in. Does not wait on the network.
int net_roster(const NetSession& session, std::span<NetPlayer> out);

// How a message travels: reliable ones arrive, whole and in order; of
// latest-only ones (state that the next message replaces) some may be lost
// and none is sent again, but none arrives after a newer one of the same
// sender, and none waits behind a lost reliable one.
enum class Delivery : std::uint8_t { reliable, latest_only };

// Queues one message for every other player. False when it is longer than
// kMaxNetMessageBytes, the session is gone or the send ring is full; nothing
// is queued then. Never waits. While a new host is being reached, messages
// wait in the send ring and go to it once it has taken this player back. A
// message the old host had received but not yet passed on when it left is
// lost to the players it had not reached; latest-only messages are not kept
// for players on their way back either.
bool send_to_all(NetSession& session, std::span<const std::uint8_t> message, Delivery delivery = Delivery::reliable);

// host_changed follows the old host's left event: player is the new host (maybe
// this machine; a player left alone hosts on by itself). Players who did not come
// back to the new host within a few seconds get left events after it.
enum class NetEventKind : std::uint8_t { message, joined, left, host_changed };
struct NetEvent {
  NetEventKind kind = NetEventKind::message;
  int player = 0;                            // the sender, who joined or left, or the new host
  std::span<const std::uint8_t> bytes;       // a message's bytes, valid until the next poll
  std::string_view name;                     // of who joined, left or hosts now: up to 63 bytes of UTF-8
                                             // without control characters; valid until the next poll
};

// The next event that arrived, in arrival order; false when none is waiting.
// Never waits. A message that found the receive ring full was dropped.
bool poll_net(NetSession& session, NetEvent& event);

struct NetCounts {
  std::uint64_t received = 0;  // messages that arrived, kept or dropped
  std::uint64_t dropped = 0;   // messages dropped because the receive ring was full
  std::uint64_t refused = 0;   // packets from peers that were not well-formed or not theirs to send
};
NetCounts net_counts(const NetSession& session);

// A session that answered a discovery probe.
struct FoundSession {
  char address[16] = {};  // dotted IPv4 of the host
  int port = 0;           // its session port
  char name[kMaxSessionName + 1] = {};
};

// Sends a discovery probe to address:port (a broadcast address on a LAN) and
// collects the distinct replies for wait_ms. Returns how many went into found.
int find_sessions(const char* address, int port, int wait_ms, std::span<FoundSession> found);

}  // namespace platform
