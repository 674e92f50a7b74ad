// The network transport: one machine hosts a session, others join it, and every
// message goes to every player, whole and in order. A network thread per session
// services the connection; the tick hands messages to it and polls what arrived
// without ever waiting. LAN sessions are found by a UDP probe and its reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

inline constexpr int kMaxNetPeers = 100;            // joiners one host accepts
inline constexpr int kMaxNetMessageBytes = 23552;  // payload of one message
inline constexpr int kHostPlayer = 0;              // the host's player id; joiners are 1..100
inline constexpr int kDefaultReceiveRingBytes = 1 << 20;
inline constexpr int kSendRingBytes = 1 << 20;
inline constexpr int kDefaultDiscoveryPort = 29070;
inline constexpr int kMaxSessionName = 63;  // bytes of a session name in a discovery reply

struct NetSession;  // one open session: its connection, thread and rings

struct NetHostOptions {
  const char* bind_address = nullptr;  // numeric IPv4; nullptr: every interface
  int port = 0;                        // 0: any free port (session_port tells it)
  int discovery_port = -1;             // -1: no discovery; 0: any free port
  const char* session_name = "Session";
  int receive_ring_bytes = kDefaultReceiveRingBytes;
};

// Opens a session that this machine hosts. nullptr, with a report, when the
// port cannot be bound.
NetSession* open_host(const NetHostOptions& options);
// Joins the session at address:port (numeric IPv4 or a host name), waiting at
// most timeout_ms for the host to accept. nullptr, with a report, on failure.
NetSession* join_session(const char* address, int port, int timeout_ms,
                         int receive_ring_bytes = kDefaultReceiveRingBytes);
// Sends what is still queued, says goodbye to the peers (waiting at most a
// short while) and frees the session. nullptr is allowed.
void close_session(NetSession* session);

int session_port(const NetSession& session);    // the UDP port the host listens on, or the one joined
int discovery_port(const NetSession& session);  // the host's discovery port; -1 when off or joined
int own_player(const NetSession& session);      // 0 for the host, 1..100 for a joiner
bool session_connected(const NetSession& session);  // false once a joiner lost its host

// Queues one message for every other player (reliable, in order). False when
// it is longer than kMaxNetMessageBytes, the session is gone or the send ring
// is full; nothing is queued then. Never waits.
bool send_to_all(NetSession& session, std::span<const std::uint8_t> message);

enum class NetEventKind : std::uint8_t { message, joined, left };
struct NetEvent {
  NetEventKind kind = NetEventKind::message;
  int player = 0;                            // the sender, or who joined or left
  std::span<const std::uint8_t> bytes;       // a message's bytes, valid until the next poll
};

// The next event that arrived, in arrival order; false when none is waiting.
// Never waits. A message that found the receive ring full was dropped.
bool poll_net(NetSession& session, NetEvent& event);

struct NetCounts {
  std::uint64_t received = 0;  // messages that arrived, kept or dropped
  std::uint64_t dropped = 0;   // messages dropped because the receive ring was full
  std::uint64_t refused = 0;   // packets from peers that were not well-formed messages
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
