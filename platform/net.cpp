// The network transport on ENet. The host relays what a joiner sends to every
// other joiner, naming the sender, so all players hear all messages. Each session
// has its own thread: it alone touches ENet, takes outgoing messages from the send
// ring and puts whole incoming ones into the receive ring; the tick only copies
// into one ring and reads from the other, so it never waits on the network.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/net.h"
#include "base/log.h"

namespace platform {

namespace {

// ---- Wire format --------------------------------------------------------------
// Every ENet packet starts with a kind byte, a zero byte and a player id (16 bits,
// little-endian): the sender of data (filled in by the host), the player a welcome
// names (the joiner itself, followed by the ids of the players present) or the
// player that joined or left.
constexpr std::size_t kWireHeader = 4;
enum WireKind : std::uint8_t { kWireData = 1, kWireWelcome = 2, kWireJoined = 3, kWireLeft = 4 };
constexpr int kMaxPlayers = kMaxNetPeers + 1;
constexpr std::uint16_t kUnknownPlayer = 0xFFFF;

void put_header(std::uint8_t* out, WireKind kind, int player) {
  out[0] = kind;
  out[1] = 0;
  out[2] = static_cast<std::uint8_t>(player & 0xFF);
  out[3] = static_cast<std::uint8_t>(player >> 8);
}
int header_player(const std::uint8_t* in) { return in[2] | in[3] << 8; }

// Discovery: a probe is the 4 magic bytes and a version; a reply is its own magic,
// the version, the session port (16 bits, little-endian) and the session name.
constexpr std::uint8_t kProbe[5] = {'Z', 'P', 'T', '?', 1};
constexpr std::uint8_t kReplyMagic[5] = {'Z', 'P', 'T', '!', 1};
constexpr std::size_t kReplyHeader = sizeof kReplyMagic + 2;

// ---- A single-producer, single-consumer ring of whole records ------------------
// Records are an 8-byte header and the bytes, padded to 8; one that does not fit
// before the end leaves a skip record there and starts at the beginning. The
// producer alone moves head, the consumer alone moves tail.
class ByteRing {
 public:
  enum Kind : std::uint8_t { kSkip = 0, kMessage = 1, kJoined = 2, kLeft = 3 };
  struct Record {
    Kind kind;
    int player;
    std::span<const std::uint8_t> bytes;
  };

  explicit ByteRing(std::size_t bytes) : capacity_((bytes + 7) / 8 * 8), data_(new std::uint8_t[capacity_]) {}

  // Producer: copies prefix and body as one record when at least keep_free bytes
  // stay free afterwards. False when it does not fit.
  bool push(Kind kind, int player, std::span<const std::uint8_t> prefix, std::span<const std::uint8_t> body,
            std::size_t keep_free = 0) {
    const std::size_t length = prefix.size() + body.size();
    const std::size_t size = record_size(length);
    std::uint64_t head = head_.load(std::memory_order_relaxed);
    const std::uint64_t tail = tail_.load(std::memory_order_acquire);
    const std::size_t free = capacity_ - static_cast<std::size_t>(head - tail);
    const std::size_t offset = static_cast<std::size_t>(head % capacity_);
    const std::size_t to_end = capacity_ - offset;
    const std::size_t needed = (size <= to_end ? size : to_end + size) + keep_free;
    if (size > capacity_ || needed > free) return false;
    if (size > to_end) {
      write_header(offset, kSkip, 0, 0);
      head += to_end;
    }
    const std::size_t at = static_cast<std::size_t>(head % capacity_);
    write_header(at, kind, player, static_cast<std::uint32_t>(length));
    if (!prefix.empty()) std::memcpy(data_.get() + at + 8, prefix.data(), prefix.size());
    if (!body.empty()) std::memcpy(data_.get() + at + 8 + prefix.size(), body.data(), body.size());
    head_.store(head + size, std::memory_order_release);
    return true;
  }

  // Consumer: the oldest record, left in place until pop().
  bool front(Record& record) {
    std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    for (;;) {
      if (tail == head_.load(std::memory_order_acquire)) return false;
      const std::size_t offset = static_cast<std::size_t>(tail % capacity_);
      std::uint32_t length;
      std::memcpy(&length, data_.get() + offset, 4);
      const auto kind = static_cast<Kind>(data_[offset + 6]);
      if (kind == kSkip) {
        tail += capacity_ - offset;
        tail_.store(tail, std::memory_order_release);
        continue;
      }
      std::uint16_t player;
      std::memcpy(&player, data_.get() + offset + 4, 2);
      record = {kind, player, {data_.get() + offset + 8, length}};
      return true;
    }
  }
  void pop(const Record& record) {
    tail_.store(tail_.load(std::memory_order_relaxed) + record_size(record.bytes.size()), std::memory_order_release);
  }

 private:
  static std::size_t record_size(std::size_t length) { return 8 + (length + 7) / 8 * 8; }
  void write_header(std::size_t offset, Kind kind, int player, std::uint32_t length) {
    const auto id = static_cast<std::uint16_t>(player);
    std::memcpy(data_.get() + offset, &length, 4);
    std::memcpy(data_.get() + offset + 4, &id, 2);
    data_[offset + 6] = kind;
    data_[offset + 7] = 0;
  }

  std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> data_;
  std::atomic<std::uint64_t> head_{0}, tail_{0};
};

// Room kept in the receive ring for join and leave events, which are never dropped
// for messages' sake: one of each for every player.
constexpr std::size_t kEventReserve = 2 * kMaxPlayers * 8;

bool enet_ready() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = enet_initialize() == 0; });
  if (!ok) base::report("net", "the network library did not start");
  return ok;
}

std::uint64_t now_ms() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

// A numeric IPv4 address (nullptr: any) in network byte order, as ENet keeps it.
bool parse_ipv4(const char* text, std::uint32_t& out) {
  if (!text) {
    out = ENET_HOST_ANY;
    return true;
  }
  in_addr a{};
  if (inet_pton(AF_INET, text, &a) != 1) return false;
  out = a.s_addr;
  return true;
}

}  // namespace

struct NetSession {
  NetSession(std::size_t receive_bytes) : received(receive_bytes), outgoing(kSendRingBytes) {}

  ENetHost* host = nullptr;
  ENetPeer* server = nullptr;  // a joiner's peer for its host
  bool hosting = false;
  int player = kHostPlayer;
  int port = 0;
  int discovery_socket = -1;
  int discovery = -1;
  char name[kMaxSessionName + 1] = {};
  int wake = -1;  // eventfd: the tick queued something, or the thread should stop
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<bool> connected{true};

  ByteRing received;  // network thread → tick
  ByteRing outgoing;  // tick → network thread
  bool holding = false;  // the tick holds the front of received until the next poll
  ByteRing::Record held{};

  std::atomic<std::uint64_t> arrived{0}, dropped{0}, refused{0};
  bool present[kMaxPlayers] = {};  // network thread only: who is in the session
};

namespace {

void push_event(NetSession& s, ByteRing::Kind kind, int player) {
  if (player < 0 || player >= kMaxPlayers) return;
  const bool now_present = kind == ByteRing::kJoined;
  if (s.present[player] == now_present) return;  // one joined and one left per stay
  s.present[player] = now_present;
  if (!s.received.push(kind, player, {}, {})) s.dropped.fetch_add(1, std::memory_order_relaxed);
}

void push_message(NetSession& s, int player, std::span<const std::uint8_t> bytes) {
  s.arrived.fetch_add(1, std::memory_order_relaxed);
  if (!s.received.push(ByteRing::kMessage, player, {}, bytes, kEventReserve))
    s.dropped.fetch_add(1, std::memory_order_relaxed);
}

int player_of(NetSession& s, const ENetPeer* peer) { return static_cast<int>(peer - s.host->peers) + 1; }

// Sends a header-only packet (joined, left) to every connected peer but one.
void tell_others(NetSession& s, WireKind kind, int player, const ENetPeer* except) {
  std::uint8_t header[kWireHeader];
  put_header(header, kind, player);
  ENetPacket* packet = enet_packet_create(header, sizeof header, ENET_PACKET_FLAG_RELIABLE);
  if (!packet) return;
  for (ENetPeer* p = s.host->peers; p < s.host->peers + s.host->peerCount; ++p)
    if (p != except && p->state == ENET_PEER_STATE_CONNECTED) enet_peer_send(p, 0, packet);
  if (packet->referenceCount == 0) enet_packet_destroy(packet);
}

void host_event(NetSession& s, ENetEvent& e) {
  const int player = player_of(s, e.peer);
  switch (e.type) {
    case ENET_EVENT_TYPE_CONNECT: {
      // The welcome: the joiner's id, then everyone already present.
      std::uint8_t welcome[kWireHeader + 2 * kMaxPlayers];
      put_header(welcome, kWireWelcome, player);
      std::size_t n = kWireHeader;
      for (int p = 0; p < kMaxPlayers; ++p)
        if (p != player && (p == kHostPlayer || s.present[p])) {
          welcome[n++] = static_cast<std::uint8_t>(p & 0xFF);
          welcome[n++] = static_cast<std::uint8_t>(p >> 8);
        }
      if (ENetPacket* packet = enet_packet_create(welcome, n, ENET_PACKET_FLAG_RELIABLE))
        if (enet_peer_send(e.peer, 0, packet) < 0) enet_packet_destroy(packet);
      tell_others(s, kWireJoined, player, e.peer);
      push_event(s, ByteRing::kJoined, player);
      break;
    }
    case ENET_EVENT_TYPE_DISCONNECT:
      if (s.present[player]) {
        tell_others(s, kWireLeft, player, e.peer);
        push_event(s, ByteRing::kLeft, player);
      }
      break;
    case ENET_EVENT_TYPE_RECEIVE: {
      ENetPacket* packet = e.packet;
      if (packet->dataLength < kWireHeader || packet->dataLength > kWireHeader + kMaxNetMessageBytes ||
          packet->data[0] != kWireData || !s.present[player]) {
        s.refused.fetch_add(1, std::memory_order_relaxed);
        enet_packet_destroy(packet);
        break;
      }
      push_message(s, player, {packet->data + kWireHeader, packet->dataLength - kWireHeader});
      // Relay to the other joiners, naming the sender.
      put_header(packet->data, kWireData, player);
      for (ENetPeer* p = s.host->peers; p < s.host->peers + s.host->peerCount; ++p)
        if (p != e.peer && p->state == ENET_PEER_STATE_CONNECTED) enet_peer_send(p, 0, packet);
      if (packet->referenceCount == 0) enet_packet_destroy(packet);
      break;
    }
    case ENET_EVENT_TYPE_NONE: break;
  }
}

void joiner_event(NetSession& s, ENetEvent& e) {
  switch (e.type) {
    case ENET_EVENT_TYPE_DISCONNECT:
      // The host is gone, and with it everyone else.
      s.connected.store(false, std::memory_order_release);
      for (int p = 0; p < kMaxPlayers; ++p)
        if (p != s.player) push_event(s, ByteRing::kLeft, p);
      break;
    case ENET_EVENT_TYPE_RECEIVE: {
      const std::uint8_t* d = e.packet->data;
      const std::size_t n = e.packet->dataLength;
      const int player = n >= kWireHeader ? header_player(d) : -1;
      if (n < kWireHeader || player >= kMaxPlayers || player == s.player) {
        s.refused.fetch_add(1, std::memory_order_relaxed);
      } else if (d[0] == kWireData && n <= kWireHeader + kMaxNetMessageBytes) {
        push_message(s, player, {d + kWireHeader, n - kWireHeader});
      } else if (d[0] == kWireJoined && n == kWireHeader) {
        push_event(s, ByteRing::kJoined, player);
      } else if (d[0] == kWireLeft && n == kWireHeader) {
        push_event(s, ByteRing::kLeft, player);
      } else {
        s.refused.fetch_add(1, std::memory_order_relaxed);
      }
      enet_packet_destroy(e.packet);
      break;
    }
    case ENET_EVENT_TYPE_CONNECT:
    case ENET_EVENT_TYPE_NONE: break;
  }
}

// Answers every probe waiting on the discovery socket.
void answer_probes(NetSession& s) {
  std::uint8_t in[64];
  for (;;) {
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    const ssize_t n = recvfrom(s.discovery_socket, in, sizeof in, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                               &from_size);
    if (n < 0) return;
    if (n != sizeof kProbe || std::memcmp(in, kProbe, sizeof kProbe) != 0) continue;
    std::uint8_t reply[kReplyHeader + kMaxSessionName];
    std::memcpy(reply, kReplyMagic, sizeof kReplyMagic);
    reply[5] = static_cast<std::uint8_t>(s.port & 0xFF);
    reply[6] = static_cast<std::uint8_t>(s.port >> 8);
    const std::size_t name_length = std::strlen(s.name);
    std::memcpy(reply + kReplyHeader, s.name, name_length);
    sendto(s.discovery_socket, reply, kReplyHeader + name_length, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
           from_size);
  }
}

// Hands every queued outgoing message to ENet.
void send_queued(NetSession& s) {
  ByteRing::Record r;
  while (s.outgoing.front(r)) {
    if (ENetPacket* packet = enet_packet_create(nullptr, kWireHeader + r.bytes.size(), ENET_PACKET_FLAG_RELIABLE)) {
      put_header(packet->data, kWireData, s.hosting ? kHostPlayer : kUnknownPlayer);
      std::memcpy(packet->data + kWireHeader, r.bytes.data(), r.bytes.size());
      if (s.hosting) {
        enet_host_broadcast(s.host, 0, packet);  // frees a packet no peer took
      } else if (!s.connected.load(std::memory_order_relaxed) || enet_peer_send(s.server, 0, packet) < 0) {
        enet_packet_destroy(packet);
      }
    }
    s.outgoing.pop(r);
  }
}

void service(NetSession& s) {
  ENetEvent e;
  int result;
  while ((result = enet_host_service(s.host, &e, 0)) > 0) {
    if (s.hosting)
      host_event(s, e);
    else
      joiner_event(s, e);
  }
  // A failed receive is one bad datagram or a refused send; ENet goes on regardless.
  (void)result;
}

void network_thread(NetSession* session) {
  NetSession& s = *session;
  while (!s.stopping.load(std::memory_order_acquire)) {
    pollfd fds[3] = {{s.host->socket, POLLIN, 0}, {s.wake, POLLIN, 0}, {s.discovery_socket, POLLIN, 0}};
    const int count = s.discovery_socket >= 0 ? 3 : 2;
    poll(fds, count, 10);  // ENet's resends and pings need a service now and then anyway
    if (fds[1].revents & POLLIN) {
      std::uint64_t v;
      if (read(s.wake, &v, sizeof v) < 0) { /* nothing to drain */ }
    }
    if (count == 3 && (fds[2].revents & POLLIN)) answer_probes(s);
    send_queued(s);
    service(s);
    enet_host_flush(s.host);
  }
  send_queued(s);
  enet_host_flush(s.host);
}

void start_thread(NetSession& s) { s.thread = std::thread(network_thread, &s); }

void free_session(NetSession* s) {
  if (s->host) enet_host_destroy(s->host);
  if (s->discovery_socket >= 0) close(s->discovery_socket);
  if (s->wake >= 0) close(s->wake);
  delete s;
}

std::size_t ring_bytes(int asked) {
  // Twice the largest record with the room kept for events, so that an empty ring
  // takes it wherever the previous record ended.
  const std::size_t least = 2 * (kEventReserve + 8 + kMaxNetMessageBytes);
  return asked > 0 && static_cast<std::size_t>(asked) > least ? static_cast<std::size_t>(asked) : least;
}

bool open_discovery(NetSession& s, std::uint32_t address, int port) {
  s.discovery_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s.discovery_socket < 0) return false;
  const int yes = 1;
  setsockopt(s.discovery_socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  socklen_t size = sizeof a;
  if (bind(s.discovery_socket, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 ||
      getsockname(s.discovery_socket, reinterpret_cast<sockaddr*>(&a), &size) < 0)
    return false;
  s.discovery = ntohs(a.sin_port);
  return true;
}

}  // namespace

NetSession* open_host(const NetHostOptions& options) {
  if (!enet_ready()) return nullptr;
  std::uint32_t address;
  if (!parse_ipv4(options.bind_address, address) || options.port < 0 || options.port > 65535 ||
      options.discovery_port > 65535) {
    base::report("net", "bad host address or port");
    return nullptr;
  }
  auto* s = new NetSession(ring_bytes(options.receive_ring_bytes));
  s->hosting = true;
  const char* name = options.session_name ? options.session_name : "";
  for (int i = 0; i < kMaxSessionName && name[i]; ++i) s->name[i] = name[i];
  ENetAddress bind_to{address, static_cast<enet_uint16>(options.port)};
  s->host = enet_host_create(&bind_to, kMaxNetPeers, 1, 0, 0);
  ENetAddress bound{};
  s->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (!s->host || s->wake < 0 || enet_socket_get_address(s->host->socket, &bound) < 0) {
    base::report("net", "could not open a session on port %d", options.port);
    free_session(s);
    return nullptr;
  }
  s->host->maximumPacketSize = kWireHeader + kMaxNetMessageBytes;
  s->port = bound.port;
  if (options.discovery_port >= 0 && !open_discovery(*s, address, options.discovery_port)) {
    base::report("net", "could not open the discovery port %d", options.discovery_port);
    free_session(s);
    return nullptr;
  }
  start_thread(*s);
  return s;
}

NetSession* join_session(const char* address, int port, int timeout_ms, int receive_ring_bytes) {
  if (!enet_ready()) return nullptr;
  ENetAddress to{};
  if (!address || port <= 0 || port > 65535 || enet_address_set_host(&to, address) < 0) {
    base::report("net", "bad session address %s:%d", address ? address : "", port);
    return nullptr;
  }
  to.port = static_cast<enet_uint16>(port);
  auto* s = new NetSession(ring_bytes(receive_ring_bytes));
  s->port = port;
  s->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  s->host = enet_host_create(nullptr, 1, 1, 0, 0);
  if (s->host) {
    s->host->maximumPacketSize = kWireHeader + kMaxNetMessageBytes;
    s->server = enet_host_connect(s->host, &to, 1, 0);
  }
  if (s->wake < 0 || !s->server) {
    base::report("net", "could not join %s:%d", address, port);
    free_session(s);
    return nullptr;
  }
  // ENet gives up on the connection itself after timeout_ms; the deadline is a backstop.
  const auto limit = static_cast<enet_uint32>(timeout_ms > 0 ? timeout_ms : 1);
  enet_peer_timeout(s->server, ENET_PEER_TIMEOUT_LIMIT, limit, limit);
  const std::uint64_t deadline = now_ms() + limit;
  bool welcomed = false;
  ENetEvent e;
  for (std::uint64_t now = now_ms(); !welcomed && now < deadline; now = now_ms()) {
    const int result = enet_host_service(s->host, &e, static_cast<enet_uint32>(deadline - now));
    if (result < 0) continue;  // a refused datagram (an unreachable port); keep waiting
    if (result == 0) continue;
    if (e.type == ENET_EVENT_TYPE_DISCONNECT) break;
    if (e.type != ENET_EVENT_TYPE_RECEIVE) continue;
    const std::uint8_t* d = e.packet->data;
    const std::size_t n = e.packet->dataLength;
    if (n >= kWireHeader && d[0] == kWireWelcome && (n - kWireHeader) % 2 == 0) {
      const int me = header_player(d);
      if (me >= 1 && me < kMaxPlayers) {
        s->player = me;
        s->present[me] = true;
        for (std::size_t i = kWireHeader; i < n; i += 2) push_event(*s, ByteRing::kJoined, d[i] | d[i + 1] << 8);
        welcomed = true;
      }
    }
    enet_packet_destroy(e.packet);
  }
  if (!welcomed) {
    base::report("net", "could not join %s:%d", address, port);
    enet_peer_reset(s->server);
    free_session(s);
    return nullptr;
  }
  enet_peer_timeout(s->server, 0, 0, 0);  // ENet's own limits for the session itself
  start_thread(*s);
  return s;
}

void close_session(NetSession* s) {
  if (!s) return;
  s->stopping.store(true, std::memory_order_release);
  const std::uint64_t one = 1;
  if (write(s->wake, &one, sizeof one) < 0) { /* the thread wakes within its poll period anyway */ }
  s->thread.join();
  // Goodbyes go after what is still queued; wait briefly for them to be acknowledged.
  int open = 0;
  for (ENetPeer* p = s->host->peers; p < s->host->peers + s->host->peerCount; ++p)
    if (p->state == ENET_PEER_STATE_CONNECTED) {
      enet_peer_disconnect_later(p, 0);
      ++open;
    }
  const std::uint64_t deadline = now_ms() + 500;
  ENetEvent e;
  for (std::uint64_t now = now_ms(); open > 0 && now < deadline; now = now_ms()) {
    const int result = enet_host_service(s->host, &e, static_cast<enet_uint32>(deadline - now));
    if (result <= 0) continue;
    if (e.type == ENET_EVENT_TYPE_DISCONNECT) --open;
    if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
  }
  free_session(s);
}

int session_port(const NetSession& s) { return s.port; }
int discovery_port(const NetSession& s) { return s.discovery; }
int own_player(const NetSession& s) { return s.player; }
bool session_connected(const NetSession& s) { return s.connected.load(std::memory_order_acquire); }

bool send_to_all(NetSession& s, std::span<const std::uint8_t> message) {
  if (message.size() > static_cast<std::size_t>(kMaxNetMessageBytes) || !session_connected(s)) return false;
  if (!s.outgoing.push(ByteRing::kMessage, 0, {}, message)) return false;
  const std::uint64_t one = 1;
  if (write(s.wake, &one, sizeof one) < 0) { /* the thread sends within its poll period anyway */ }
  return true;
}

bool poll_net(NetSession& s, NetEvent& event) {
  if (s.holding) {
    s.received.pop(s.held);
    s.holding = false;
  }
  if (!s.received.front(s.held)) return false;
  s.holding = true;
  event.kind = s.held.kind == ByteRing::kJoined ? NetEventKind::joined
               : s.held.kind == ByteRing::kLeft ? NetEventKind::left
                                                 : NetEventKind::message;
  event.player = s.held.player;
  event.bytes = s.held.bytes;
  return true;
}

NetCounts net_counts(const NetSession& s) {
  return {s.arrived.load(std::memory_order_relaxed), s.dropped.load(std::memory_order_relaxed),
          s.refused.load(std::memory_order_relaxed)};
}

int find_sessions(const char* address, int port, int wait_ms, std::span<FoundSession> found) {
  std::uint32_t to_address;
  if (!address || !parse_ipv4(address, to_address) || port <= 0 || port > 65535) return 0;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = to_address;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  int count = 0;
  const std::uint64_t start = now_ms(), deadline = start + static_cast<std::uint64_t>(wait_ms > 0 ? wait_ms : 0);
  bool second_probe = false;  // a lost probe is sent again halfway
  sendto(fd, kProbe, sizeof kProbe, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  for (std::uint64_t now = start; now < deadline; now = now_ms()) {
    if (!second_probe && now >= start + (deadline - start) / 2) {
      sendto(fd, kProbe, sizeof kProbe, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      second_probe = true;
    }
    pollfd p{fd, POLLIN, 0};
    const std::uint64_t next = second_probe ? deadline : start + (deadline - start) / 2;
    if (poll(&p, 1, static_cast<int>(next > now ? next - now : 0)) <= 0) continue;
    std::uint8_t in[kReplyHeader + kMaxSessionName + 1];
    sockaddr_in from{};
    socklen_t from_size = sizeof from;
    const ssize_t n = recvfrom(fd, in, sizeof in, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &from_size);
    if (n < static_cast<ssize_t>(kReplyHeader) || n > static_cast<ssize_t>(kReplyHeader + kMaxSessionName) ||
        std::memcmp(in, kReplyMagic, sizeof kReplyMagic) != 0)
      continue;
    FoundSession f;
    inet_ntop(AF_INET, &from.sin_addr, f.address, sizeof f.address);
    f.port = in[5] | in[6] << 8;
    std::memcpy(f.name, in + kReplyHeader, static_cast<std::size_t>(n) - kReplyHeader);
    bool seen = false;
    for (int i = 0; i < count; ++i)
      seen |= found[i].port == f.port && std::strcmp(found[i].address, f.address) == 0;
    if (!seen && count < static_cast<int>(found.size())) found[count++] = f;
  }
  close(fd);
  return count;
}

}  // namespace platform
