// The network transport on ENet. The host relays what a player sends to every
// other player, naming the sender, so all players hear all messages, and keeps
// everyone informed of the roster: who plays, their names, machine numbers and
// where each accepts connections. When the host leaves, every remaining player
// elects the same successor from the last roster; the others connect to it and
// say who they were, so player ids survive the change. Each session has its own
// thread: it alone touches ENet, takes outgoing messages from the send ring and
// puts whole incoming ones into the receive ring; the tick only copies into one
// ring and reads from the other, so it never waits on the network.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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
// little-endian). Numbers are little-endian; addresses are 4 bytes in network order.
//   1 message  id: the sender (the host fills it in). The message's bytes follow.
//   2 welcome  id: the player the host takes in (new, or back after a host change).
//              A roster body follows.
//   3 roster   id: the host. A roster body follows; sent to all on every change.
//   4 hello    id: the player the sender was before the host changed, or 0xFFFF
//              for a new joiner. Then its machine number (32 bits, signed), the
//              port it accepts connections on (16 bits, not 0), a name length
//              (8 bits, at most 63) and the name. The first packet a player sends.
//   5 machine  id: ignored. The sender's new machine number (32 bits, signed).
// A roster body: the host's id (16 bits), the discovery port (16 bits, 0: none), a
// flags byte (1: discovery is open on every interface), the session name's length
// (8 bits, at most 63) and the name, a player count (8 bits, 1..101), then per
// player its id (16 bits, 0..100, each once), machine number (32 bits, signed),
// address (0 for the host itself), port (16 bits), name length (8 bits, at most 63)
// and name. The host's id and the receiver's must be among them. Packets of any
// other shape, or not the sender's to send, are refused and counted.
constexpr std::size_t kWireHeader = 4;
constexpr enet_uint8 kReliableChannel = 0, kLatestChannel = 1, kChannels = 2;
enum WireKind : std::uint8_t {
  kWireData = 1,
  kWireWelcome = 2,
  kWireRoster = 3,
  kWireHello = 4,
  kWireMachine = 5,
};
constexpr int kMaxPlayers = kMaxNetPeers + 1;
constexpr std::uint16_t kUnknownPlayer = 0xFFFF;
constexpr std::size_t kHelloFixed = kWireHeader + 4 + 2 + 1;
constexpr std::size_t kRosterFixed = 2 + 2 + 1 + 1 + 1;   // before the session name and count
constexpr std::size_t kMemberFixed = 2 + 4 + 4 + 2 + 1;   // one player, before its name
constexpr std::size_t kMaxRosterPacket =
    kWireHeader + kRosterFixed + kMaxSessionName + kMaxPlayers * (kMemberFixed + kMaxPlayerName);
constexpr std::uint8_t kDiscoveryEverywhere = 1;

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

// ---- Timing -------------------------------------------------------------------
// A connection whose oldest unanswered packet has gone unanswered this long
// counts as lost (ENet resends it meanwhile, doubling the wait each time). On a
// link that loses one datagram in ten, a packet and its answer are both lost
// one time in five: a few seconds would drop healthy peers every few minutes,
// while 20 seconds (some eight sends) almost never does. A host that vanished
// without a goodbye is replaced 10 to 20 seconds later.
constexpr enet_uint32 kPeerTimeoutLimit = 1024;  // doublings never end a connection before the maximum
constexpr enet_uint32 kPeerTimeoutMinMs = 10000;
constexpr enet_uint32 kPeerTimeoutMaxMs = 20000;
// How long a new host keeps the others' places for them. They may notice the old
// host is gone up to a timeout later than it does, then have kMigrationMs.
constexpr std::uint64_t kReturnWaitMs = kPeerTimeoutMaxMs + kMigrationMs;
// A connection that has not said hello by then is dropped.
constexpr std::uint64_t kHelloWaitMs = kReturnWaitMs;
// What a new host keeps of the messages it passes on while players are still on
// their way back to it, to give to each on its return.
constexpr std::size_t kBacklogBytes = 4 << 20;

// ---- Bytes in, bytes out ----------------------------------------------------
void put16(std::uint8_t*& out, int v) {
  *out++ = static_cast<std::uint8_t>(v & 0xFF);
  *out++ = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
void put32(std::uint8_t*& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) *out++ = static_cast<std::uint8_t>(v >> (8 * i));
}
void put_text(std::uint8_t*& out, const char* text, std::size_t length) {
  *out++ = static_cast<std::uint8_t>(length);
  std::memcpy(out, text, length);
  out += length;
}

// Reads untrusted bytes; once anything runs past the end, ok() stays false.
struct Reader {
  const std::uint8_t* at;
  const std::uint8_t* end;
  bool failed = false;
  bool take(std::size_t n) {
    if (failed || static_cast<std::size_t>(end - at) < n) failed = true;
    return !failed;
  }
  int u8() { return take(1) ? *at++ : 0; }
  int u16() {
    if (!take(2)) return 0;
    const int v = at[0] | at[1] << 8;
    at += 2;
    return v;
  }
  std::uint32_t u32() {
    if (!take(4)) return 0;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    at += 4;
    return v;
  }
  std::uint32_t raw32() {  // an address, kept in network order
    std::uint32_t v = 0;
    if (!take(4)) return 0;
    std::memcpy(&v, at, 4);
    at += 4;
    return v;
  }
  // A length byte (at most max) and that many bytes.
  std::span<const std::uint8_t> text(std::size_t max) {
    const std::size_t n = static_cast<std::size_t>(u8());
    if (n > max) failed = true;
    if (!take(n)) return {};
    const std::span<const std::uint8_t> t{at, n};
    at += n;
    return t;
  }
  bool ok() const { return !failed; }
  bool done() const { return !failed && at == end; }
};

// Copies untrusted text into out (max bytes and a terminator) as UTF-8 without
// control characters: a byte that starts no valid character, and every control
// character, becomes '?'; a character that would not fit whole ends the copy.
// Returns the length.
std::size_t clean_name(std::span<const std::uint8_t> in, char* out, std::size_t max) {
  std::size_t o = 0, i = 0;
  while (i < in.size()) {
    const std::uint8_t c = in[i];
    std::size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    std::uint32_t code = length == 1 ? c : length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
    bool valid = length > 0 && i + length <= in.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      valid = (in[i + k] & 0xC0) == 0x80;
      code = code << 6 | (in[i + k] & 0x3F);
    }
    constexpr std::uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};  // shorter forms are invalid
    valid = valid && code >= kLeast[length] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    const bool control = code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0);
    if (!valid || control) {
      if (o + 1 > max) break;
      out[o++] = '?';
      i += valid ? length : 1;
      continue;
    }
    if (o + length > max) break;
    std::memcpy(out + o, in.data() + i, length);
    o += length;
    i += length;
  }
  out[o] = 0;
  return o;
}

std::size_t clean_name(const char* text, char* out, std::size_t max) {
  if (!text) text = "";
  const std::size_t n = strnlen(text, 4 * max + 4);  // enough to fill out however it goes
  return clean_name({reinterpret_cast<const std::uint8_t*>(text), n}, out, max);
}

// ---- A single-producer, single-consumer ring of whole records ------------------
// Records are an 8-byte header and the bytes, padded to 8; one that does not fit
// before the end leaves a skip record there and starts at the beginning. The
// producer alone moves head, the consumer alone moves tail.
class ByteRing {
 public:
  enum Kind : std::uint8_t { kSkip = 0, kMessage = 1, kJoined = 2, kLeft = 3, kHostChanged = 4, kLatestOnly = 5 };
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

// Room kept in the receive ring for join, leave and host events (a name each),
// which are never dropped for messages' sake: one of each for every player.
constexpr std::size_t kEventRecord = 8 + (kMaxPlayerName + 1 + 7) / 8 * 8;
constexpr std::size_t kEventReserve = (2 * kMaxPlayers + 2) * kEventRecord;

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

// The local address this machine reaches `to` from; any when that cannot be told.
std::uint32_t local_address_towards(const ENetAddress& to) {
  std::uint32_t local = ENET_HOST_ANY;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return local;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = to.host;
  a.sin_port = htons(to.port);
  socklen_t size = sizeof a;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
    local = a.sin_addr.s_addr;
  close(fd);
  return local;
}

void set_session_timeouts(ENetPeer* peer) {
  enet_peer_timeout(peer, kPeerTimeoutLimit, kPeerTimeoutMinMs, kPeerTimeoutMaxMs);
}

// One player in the roster.
struct Member {
  bool present = false;
  bool returning = false;     // a new host keeps its place until it comes back
  int machine = 0;
  std::uint32_t address = 0;  // network order; 0 for the host in a roster on the wire
  int port = 0;               // where it accepts connections
  std::size_t name_length = 0;
  char name[kMaxPlayerName + 1] = {};
};

struct Hello {
  int claimed = kUnknownPlayer;  // the id it had, or kUnknownPlayer
  int machine = 0;
  int port = 0;
  std::size_t name_length = 0;
  char name[kMaxPlayerName + 1] = {};
};

// What an ENet peer slot is to this session.
struct PeerSlot {
  int player = -1;              // the player it carries, once taken in by this host
  std::uint64_t since = 0;      // when it connected
  bool hello_waiting = false;   // it said hello before this machine became the host
  Hello hello;
};

// A roster as read from the wire.
struct RosterIn {
  int host = 0;
  int discovery_port = 0;
  bool discovery_everywhere = false;
  std::size_t session_name_length = 0;
  char session_name[kMaxSessionName + 1] = {};
  Member members[kMaxPlayers];
};

enum class Link : std::uint8_t { hosting, joined, reaching, lost };

}  // namespace

struct NetSession {
  NetSession(std::size_t receive_bytes) : received(receive_bytes), outgoing(kSendRingBytes) {}

  ENetHost* host = nullptr;
  std::uint32_t own_address = ENET_HOST_ANY;  // what the ENet host is bound to
  int own_port = 0;                           // and its port
  int player = kHostPlayer;                   // set before the thread starts, then fixed
  int wake = -1;  // eventfd: the tick queued something, or the thread should stop
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<bool> connected{true};
  std::atomic<bool> hosting_now{false};
  std::atomic<int> port{0};        // the session port: this machine's when hosting, else the host's
  std::atomic<int> discovery{-1};  // the discovery port this machine answers on
  std::atomic<int> machine_wanted{0};
  std::atomic<bool> machine_changed{false};

  // Network thread only (and join_session before the thread starts).
  Link link = Link::hosting;
  ENetPeer* server = nullptr;  // the host this machine joined, or the new one it is reaching
  std::uint64_t reach_deadline = 0;
  int reach_target = -1;  // the player elected to host
  int host_player = kHostPlayer;
  Member roster[kMaxPlayers];
  RosterIn incoming;  // the last roster read from the wire
  PeerSlot slots[kMaxPlayers];  // one per ENet peer
  ENetPeer* peer_of[kMaxPlayers] = {};  // a host's link to each player
  int returning = 0;                     // players a new host still waits for
  std::uint64_t return_deadline = 0;
  std::unique_ptr<std::uint8_t[]> backlog;  // messages passed on while players return
  std::size_t backlog_used = 0;
  bool backlog_full = false;
  std::uint64_t next_sweep = 0;
  int discovery_socket = -1;
  int discovery_port = 0;            // the session's discovery port (0: none), kept across hosts
  bool discovery_everywhere = true;  // on every interface, or only on the host's own address
  std::size_t session_name_length = 0;
  char session_name[kMaxSessionName + 1] = {};

  ByteRing received;  // network thread → tick
  ByteRing outgoing;  // tick → network thread
  bool holding = false;  // the tick holds the front of received until the next poll
  ByteRing::Record held{};

  std::atomic<std::uint64_t> arrived{0}, dropped{0}, refused{0};

  // The roster as net_roster shows it, copied out by the thread on every change.
  mutable std::mutex shown_lock;
  NetPlayer shown[kMaxPlayers];
  int shown_count = 0;
};

namespace {

void refuse(NetSession& s) { s.refused.fetch_add(1, std::memory_order_relaxed); }

void push_event(NetSession& s, ByteRing::Kind kind, int player) {
  const Member& m = s.roster[player];
  if (!s.received.push(kind, player, {}, {reinterpret_cast<const std::uint8_t*>(m.name), m.name_length}))
    s.dropped.fetch_add(1, std::memory_order_relaxed);
}

void push_message(NetSession& s, int player, std::span<const std::uint8_t> bytes) {
  s.arrived.fetch_add(1, std::memory_order_relaxed);
  if (!s.received.push(ByteRing::kMessage, player, {}, bytes, kEventReserve))
    s.dropped.fetch_add(1, std::memory_order_relaxed);
}

PeerSlot& slot_of(NetSession& s, const ENetPeer* peer) { return s.slots[peer - s.host->peers]; }

void send_packet(ENetPeer* peer, const std::uint8_t* bytes, std::size_t n) {
  if (ENetPacket* packet = enet_packet_create(bytes, n, ENET_PACKET_FLAG_RELIABLE))
    if (enet_peer_send(peer, 0, packet) < 0) enet_packet_destroy(packet);
}

// Copies the roster where net_roster reads it.
void show_roster(NetSession& s) {
  std::lock_guard lock(s.shown_lock);
  s.shown_count = 0;
  for (int p = 0; p < kMaxPlayers; ++p) {
    const Member& m = s.roster[p];
    if (!m.present) continue;
    NetPlayer& out = s.shown[s.shown_count++];
    out = {};
    out.player = p;
    out.machine = m.machine;
    in_addr a{};
    a.s_addr = m.address;
    inet_ntop(AF_INET, &a, out.address, sizeof out.address);
    out.port = m.port;
    std::memcpy(out.name, m.name, m.name_length + 1);
    out.host = p == s.host_player;
  }
}

// ---- Rosters --------------------------------------------------------------------

std::size_t write_roster(const NetSession& s, std::uint8_t* out, WireKind kind, int header_player) {
  std::uint8_t* at = out;
  put_header(at, kind, header_player);
  at += kWireHeader;
  put16(at, s.host_player);
  put16(at, s.discovery_port);
  *at++ = s.discovery_everywhere ? kDiscoveryEverywhere : 0;
  put_text(at, s.session_name, s.session_name_length);
  std::uint8_t* count = at++;
  *count = 0;
  for (int p = 0; p < kMaxPlayers; ++p) {
    const Member& m = s.roster[p];
    if (!m.present) continue;
    ++*count;
    put16(at, p);
    put32(at, static_cast<std::uint32_t>(m.machine));
    const std::uint32_t address = p == s.host_player ? 0 : m.address;
    std::memcpy(at, &address, 4);
    at += 4;
    put16(at, m.port);
    put_text(at, m.name, m.name_length);
  }
  return static_cast<std::size_t>(at - out);
}

void send_roster(NetSession& s, ENetPeer* peer, WireKind kind, int header_player) {
  std::uint8_t packet[kMaxRosterPacket];
  send_packet(peer, packet, write_roster(s, packet, kind, header_player));
}

// A host tells every player it carries but one about a changed roster.
void broadcast_roster(NetSession& s, const ENetPeer* except) {
  std::uint8_t bytes[kMaxRosterPacket];
  const std::size_t n = write_roster(s, bytes, kWireRoster, s.host_player);
  ENetPacket* packet = enet_packet_create(bytes, n, ENET_PACKET_FLAG_RELIABLE);
  if (!packet) return;
  for (int p = 0; p < kMaxPlayers; ++p)
    if (s.peer_of[p] && s.peer_of[p] != except) enet_peer_send(s.peer_of[p], 0, packet);
  if (packet->referenceCount == 0) enet_packet_destroy(packet);
}

// Reads a roster body; false when anything about it is off.
bool read_roster(Reader& r, RosterIn& out) {
  out.host = r.u16();
  out.discovery_port = r.u16();
  out.discovery_everywhere = (r.u8() & kDiscoveryEverywhere) != 0;
  const auto session_name = r.text(kMaxSessionName);
  const int count = r.u8();
  if (!r.ok() || out.host >= kMaxPlayers || count < 1 || count > kMaxPlayers) return false;
  out.session_name_length = clean_name(session_name, out.session_name, kMaxSessionName);
  for (int i = 0; i < count; ++i) {
    const int p = r.u16();
    Member m;
    m.machine = static_cast<std::int32_t>(r.u32());
    m.address = r.raw32();
    m.port = r.u16();
    const auto name = r.text(kMaxPlayerName);
    if (!r.ok() || p >= kMaxPlayers || out.members[p].present) return false;
    m.present = true;
    m.name_length = clean_name(name, m.name, kMaxPlayerName);
    out.members[p] = m;
  }
  return r.done() && out.members[out.host].present;
}

// A joiner takes the host's roster: the players it no longer lists left, the new
// ones joined (in player order, leaves first).
void take_roster(NetSession& s, RosterIn& in) {
  if (s.server) in.members[in.host].address = s.server->address.host;  // as this machine reaches it
  for (int p = 0; p < kMaxPlayers; ++p)
    if (p != s.player && s.roster[p].present && !in.members[p].present) push_event(s, ByteRing::kLeft, p);
  for (int p = 0; p < kMaxPlayers; ++p) {
    const bool joined = p != s.player && !s.roster[p].present && in.members[p].present;
    s.roster[p] = in.members[p];
    if (joined) push_event(s, ByteRing::kJoined, p);
  }
  s.host_player = in.host;
  s.port.store(in.members[in.host].port, std::memory_order_release);
  s.discovery_port = in.discovery_port;
  s.discovery_everywhere = in.discovery_everywhere;
  s.session_name_length = in.session_name_length;
  std::memcpy(s.session_name, in.session_name, sizeof s.session_name);
  show_roster(s);
}

// A welcome or roster from the host this machine joined or is reaching, read into
// s.incoming.
bool read_host_roster(NetSession& s, const std::uint8_t* d, std::size_t n) {
  s.incoming = {};
  Reader r{d + kWireHeader, d + n};
  return read_roster(r, s.incoming) && s.incoming.members[s.player].present;
}

// ---- Hellos ---------------------------------------------------------------------

void send_hello(NetSession& s, ENetPeer* peer, int claimed, const Member& me) {
  std::uint8_t bytes[kHelloFixed + kMaxPlayerName];
  std::uint8_t* at = bytes;
  put_header(at, kWireHello, claimed);
  at += kWireHeader;
  put32(at, static_cast<std::uint32_t>(s.machine_wanted.load(std::memory_order_acquire)));
  put16(at, s.own_port);
  put_text(at, me.name, me.name_length);
  send_packet(peer, bytes, static_cast<std::size_t>(at - bytes));
}

bool read_hello(const std::uint8_t* d, std::size_t n, Hello& h) {
  if (n < kWireHeader || d[0] != kWireHello) return false;
  h.claimed = header_player(d);
  Reader r{d + kWireHeader, d + n};
  h.machine = static_cast<std::int32_t>(r.u32());
  h.port = r.u16();
  const auto name = r.text(kMaxPlayerName);
  if (!r.done() || h.port == 0 || (h.claimed != kUnknownPlayer && h.claimed >= kMaxPlayers)) return false;
  h.name_length = clean_name(name, h.name, kMaxPlayerName);
  return true;
}

// ---- The changeover backlog -----------------------------------------------------
// Records: the sender (16 bits), two zero bytes, the length (32 bits), the bytes.

void backlog_add(NetSession& s, int sender, std::span<const std::uint8_t> bytes) {
  if (s.returning == 0 || !s.backlog) return;
  if (s.backlog_used + 8 + bytes.size() > kBacklogBytes) {
    if (!s.backlog_full) base::report("net", "too much to keep for the players still returning to the new host");
    s.backlog_full = true;
    return;
  }
  std::uint8_t* at = s.backlog.get() + s.backlog_used;
  put16(at, sender);
  put16(at, 0);
  put32(at, static_cast<std::uint32_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
  s.backlog_used += 8 + bytes.size();
}

// Gives a returning player what the others said while it was on its way.
void backlog_replay(NetSession& s, ENetPeer* peer, int player) {
  for (std::size_t at = 0; at < s.backlog_used;) {
    const std::uint8_t* r = s.backlog.get() + at;
    const int sender = r[0] | r[1] << 8;
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= static_cast<std::uint32_t>(r[4 + i]) << (8 * i);
    if (sender != player)
      if (ENetPacket* packet = enet_packet_create(nullptr, kWireHeader + length, ENET_PACKET_FLAG_RELIABLE)) {
        put_header(packet->data, kWireData, sender);
        std::memcpy(packet->data + kWireHeader, r + 8, length);
        if (enet_peer_send(peer, 0, packet) < 0) enet_packet_destroy(packet);
      }
    at += 8 + length;
  }
}

// ---- Hosting --------------------------------------------------------------------

// A data packet of either delivery: reliable messages on channel 0, messages
// where only the latest counts on channel 1 (sent once, an older one arriving
// after a newer one dropped by ENet).
ENetPacket* data_packet(int sender, std::span<const std::uint8_t> bytes, bool latest_only) {
  const enet_uint32 flags = latest_only ? ENET_PACKET_FLAG_UNRELIABLE_FRAGMENT : ENET_PACKET_FLAG_RELIABLE;
  ENetPacket* packet = enet_packet_create(nullptr, kWireHeader + bytes.size(), flags);
  if (!packet) return nullptr;
  put_header(packet->data, kWireData, sender);
  if (!bytes.empty()) std::memcpy(packet->data + kWireHeader, bytes.data(), bytes.size());
  return packet;
}
constexpr enet_uint8 channel_of(bool latest_only) { return latest_only ? kLatestChannel : kReliableChannel; }

// Sends one message from `sender` to every player this host carries but the
// sender, as it came. Only reliable ones are kept for players on their way back.
void relay(NetSession& s, int sender, std::span<const std::uint8_t> bytes, bool latest_only) {
  ENetPacket* packet = data_packet(sender, bytes, latest_only);
  if (!packet) return;
  for (int p = 0; p < kMaxPlayers; ++p)
    if (p != sender && s.peer_of[p]) enet_peer_send(s.peer_of[p], channel_of(latest_only), packet);
  if (packet->referenceCount == 0) enet_packet_destroy(packet);
  if (!latest_only) backlog_add(s, sender, bytes);
}

void remove_player(NetSession& s, int player) {
  push_event(s, ByteRing::kLeft, player);
  if (s.roster[player].returning) --s.returning;
  s.roster[player] = {};
  s.peer_of[player] = nullptr;
}

void end_changeover_if_done(NetSession& s) {
  if (s.returning > 0) return;
  s.backlog_used = 0;
  s.backlog_full = false;
}

// A host takes in a player that said hello: a new one gets the lowest free id
// (0 belongs to the first host only), a returning one its old id.
void take_in(NetSession& s, ENetPeer* peer, const Hello& h) {
  PeerSlot& slot = slot_of(s, peer);
  int id = -1;
  if (h.claimed == kUnknownPlayer) {
    for (int p = 1; p < kMaxPlayers && id < 0; ++p)
      if (!s.roster[p].present) id = p;
    if (id < 0) {  // the session is full
      enet_peer_disconnect(peer, 0);
      return;
    }
  } else if (s.roster[h.claimed].present && s.roster[h.claimed].returning) {
    id = h.claimed;
  } else {
    refuse(s);  // not a player this host waits for
    return;
  }
  const bool back = s.roster[id].returning;
  Member& m = s.roster[id];
  m = {};
  m.present = true;
  m.machine = h.machine;
  m.address = peer->address.host;
  m.port = h.port;
  m.name_length = h.name_length;
  std::memcpy(m.name, h.name, sizeof m.name);
  slot.player = id;
  slot.hello_waiting = false;
  s.peer_of[id] = peer;
  send_roster(s, peer, kWireWelcome, id);
  if (back) {
    backlog_replay(s, peer, id);
    --s.returning;
    end_changeover_if_done(s);
  }
  broadcast_roster(s, peer);
  if (!back) push_event(s, ByteRing::kJoined, id);
  show_roster(s);
}

void host_event(NetSession& s, ENetEvent& e) {
  PeerSlot& slot = slot_of(s, e.peer);
  switch (e.type) {
    case ENET_EVENT_TYPE_CONNECT:
      slot = {};
      slot.since = now_ms();
      set_session_timeouts(e.peer);
      break;
    case ENET_EVENT_TYPE_DISCONNECT:
      if (slot.player >= 0) {
        remove_player(s, slot.player);
        broadcast_roster(s, nullptr);
        show_roster(s);
      }
      slot = {};
      break;
    case ENET_EVENT_TYPE_RECEIVE: {
      ENetPacket* packet = e.packet;
      const std::uint8_t* d = packet->data;
      const std::size_t n = packet->dataLength;
      const int player = slot.player;
      if (player < 0) {
        Hello h;
        if (read_hello(d, n, h))
          take_in(s, e.peer, h);
        else
          refuse(s);
      } else if (n >= kWireHeader && d[0] == kWireData && n <= kWireHeader + kMaxNetMessageBytes) {
        push_message(s, player, {d + kWireHeader, n - kWireHeader});
        relay(s, player, {d + kWireHeader, n - kWireHeader}, e.channelID == kLatestChannel);
      } else if (n == kWireHeader + 4 && d[0] == kWireMachine) {
        Reader r{d + kWireHeader, d + n};
        s.roster[player].machine = static_cast<std::int32_t>(r.u32());
        broadcast_roster(s, nullptr);
        show_roster(s);
      } else {
        refuse(s);
      }
      enet_packet_destroy(packet);
      break;
    }
    case ENET_EVENT_TYPE_NONE: break;
  }
}

bool open_discovery(NetSession& s, std::uint32_t address, int port);

// This machine takes over as host: the others keep their places for a while.
void become_host(NetSession& s) {
  s.link = Link::hosting;
  s.server = nullptr;
  s.host_player = s.player;
  s.hosting_now.store(true, std::memory_order_release);
  s.port.store(s.own_port, std::memory_order_release);
  Member& me = s.roster[s.player];
  me.address = s.own_address;
  me.port = s.own_port;
  s.returning = 0;
  for (int p = 0; p < kMaxPlayers; ++p)
    if (p != s.player && s.roster[p].present) {
      s.roster[p].returning = true;
      ++s.returning;
    }
  s.return_deadline = now_ms() + kReturnWaitMs;
  if (s.returning > 0 && !s.backlog) s.backlog.reset(new std::uint8_t[kBacklogBytes]);
  s.backlog_used = 0;
  s.backlog_full = false;
  if (s.discovery_port > 0 && s.discovery_socket < 0 &&
      !open_discovery(s, s.discovery_everywhere ? ENET_HOST_ANY : s.own_address, s.discovery_port))
    base::report("net", "could not open the discovery port %d", s.discovery_port);
  push_event(s, ByteRing::kHostChanged, s.player);
  show_roster(s);
  // Those that reached this machine before it knew it was the host.
  for (ENetPeer* p = s.host->peers; p < s.host->peers + s.host->peerCount; ++p) {
    PeerSlot& slot = slot_of(s, p);
    if (slot.hello_waiting && p->state == ENET_PEER_STATE_CONNECTED) take_in(s, p, slot.hello);
  }
}

// ---- Joined -----------------------------------------------------------------------

// The session is lost to this machine: everyone else left.
void give_up(NetSession& s) {
  s.link = Link::lost;
  s.connected.store(false, std::memory_order_release);
  if (s.server) enet_peer_reset(s.server);
  s.server = nullptr;
  for (int p = 0; p < kMaxPlayers; ++p)
    if (p != s.player && s.roster[p].present) {
      push_event(s, ByteRing::kLeft, p);
      s.roster[p] = {};
    }
  show_roster(s);
}

void reach(NetSession& s, int target) {
  s.reach_target = target;
  const Member& m = s.roster[target];
  ENetAddress to{m.address, static_cast<enet_uint16>(m.port)};
  s.server = m.address != 0 && m.port > 0 ? enet_host_connect(s.host, &to, kChannels, 0) : nullptr;
  if (!s.server) {
    give_up(s);
    return;
  }
  set_session_timeouts(s.server);
  s.link = Link::reaching;
}

// The host is gone: the lowest machine number among those left hosts, ties going
// to the lowest player id. Everyone computes this from the same last roster.
void lose_host(NetSession& s) {
  const int old = s.host_player;
  s.server = nullptr;
  if (s.roster[old].present && old != s.player) {
    push_event(s, ByteRing::kLeft, old);
    s.roster[old] = {};
  }
  int best = s.player;
  for (int p = 0; p < kMaxPlayers; ++p) {
    const Member& m = s.roster[p];
    if (m.present && (m.machine < s.roster[best].machine || (m.machine == s.roster[best].machine && p < best)))
      best = p;
  }
  s.reach_deadline = now_ms() + kMigrationMs;
  if (best == s.player) {
    become_host(s);
  } else {
    reach(s, best);
    show_roster(s);
  }
}

void joiner_event(NetSession& s, ENetEvent& e) {
  PeerSlot& slot = slot_of(s, e.peer);
  const bool from_server = e.peer == s.server;
  switch (e.type) {
    case ENET_EVENT_TYPE_CONNECT:
      if (from_server) {
        send_hello(s, e.peer, s.player, s.roster[s.player]);  // reaching the new host
      } else {
        slot = {};  // someone that elected this machine before it knew
        slot.since = now_ms();
        set_session_timeouts(e.peer);
      }
      break;
    case ENET_EVENT_TYPE_DISCONNECT:
      if (!from_server) {
        slot = {};
      } else if (s.link == Link::joined) {
        lose_host(s);
      } else if (s.link == Link::reaching) {
        s.server = nullptr;  // refused or dropped on the way; sweep() tries again while there is time
      }
      break;
    case ENET_EVENT_TYPE_RECEIVE: {
      const std::uint8_t* d = e.packet->data;
      const std::size_t n = e.packet->dataLength;
      const int player = n >= kWireHeader ? header_player(d) : -1;
      RosterIn& in = s.incoming;
      if (!from_server) {
        Hello h;
        if (slot.player < 0 && !slot.hello_waiting && read_hello(d, n, h)) {
          slot.hello = h;
          slot.hello_waiting = true;
        } else {
          refuse(s);
        }
      } else if (n < kWireHeader) {
        refuse(s);
      } else if (s.link == Link::reaching) {
        if (d[0] == kWireWelcome && player == s.player && read_host_roster(s, d, n) && in.host == s.reach_target) {
          s.link = Link::joined;
          s.roster[in.host] = in.members[in.host];  // names the new host in its event
          push_event(s, ByteRing::kHostChanged, in.host);
          take_roster(s, in);
        } else {
          refuse(s);
        }
      } else if (d[0] == kWireData && n <= kWireHeader + kMaxNetMessageBytes && player < kMaxPlayers &&
                 player != s.player) {
        push_message(s, player, {d + kWireHeader, n - kWireHeader});
      } else if (d[0] == kWireRoster && player == s.host_player && read_host_roster(s, d, n) &&
                 in.host == s.host_player) {
        take_roster(s, in);
      } else {
        refuse(s);
      }
      enet_packet_destroy(e.packet);
      break;
    }
    case ENET_EVENT_TYPE_NONE: break;
  }
}

// Deadlines: reaching a new host, players returning to this one, silent peers.
void sweep(NetSession& s) {
  const std::uint64_t now = now_ms();
  if (s.link == Link::reaching) {
    if (now >= s.reach_deadline) {
      base::report("net", "the new host could not be reached");
      give_up(s);
    } else if (!s.server && now >= s.next_sweep) {
      reach(s, s.reach_target);
    }
  }
  if (s.link == Link::hosting && s.returning > 0 && now >= s.return_deadline) {
    for (int p = 0; p < kMaxPlayers; ++p)
      if (s.roster[p].returning) remove_player(s, p);
    end_changeover_if_done(s);
    broadcast_roster(s, nullptr);
    show_roster(s);
  }
  if (now < s.next_sweep) return;
  s.next_sweep = now + 250;
  for (ENetPeer* p = s.host->peers; p < s.host->peers + s.host->peerCount; ++p) {
    PeerSlot& slot = slot_of(s, p);
    if (p == s.server || slot.player >= 0 || p->state != ENET_PEER_STATE_CONNECTED) continue;
    if (now >= slot.since + kHelloWaitMs) {
      enet_peer_disconnect_now(p, 0);
      slot = {};
    }
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
    reply[5] = static_cast<std::uint8_t>(s.own_port & 0xFF);
    reply[6] = static_cast<std::uint8_t>(s.own_port >> 8);
    std::memcpy(reply + kReplyHeader, s.session_name, s.session_name_length);
    sendto(s.discovery_socket, reply, kReplyHeader + s.session_name_length, MSG_DONTWAIT,
           reinterpret_cast<sockaddr*>(&from), from_size);
  }
}

// Hands queued outgoing messages to ENet; while a new host is being reached they wait.
void send_queued(NetSession& s) {
  ByteRing::Record r;
  while (s.link != Link::reaching && s.outgoing.front(r)) {
    const bool latest_only = r.kind == ByteRing::kLatestOnly;
    if (s.link == Link::hosting) {
      relay(s, s.player, r.bytes, latest_only);
    } else if (s.link == Link::joined) {
      // A host already on its way out takes nothing more: the message waits for the next one.
      if (s.server->state != ENET_PEER_STATE_CONNECTED) break;
      if (ENetPacket* packet = data_packet(kUnknownPlayer, r.bytes, latest_only))
        if (enet_peer_send(s.server, channel_of(latest_only), packet) < 0) enet_packet_destroy(packet);
    }
    s.outgoing.pop(r);
  }
}

// Passes a new machine number on: a host tells everyone, a joiner its host.
void send_machine_number(NetSession& s) {
  if (!s.machine_changed.exchange(false, std::memory_order_acq_rel)) return;
  const int number = s.machine_wanted.load(std::memory_order_acquire);
  if (s.link == Link::hosting) {
    // A joiner's own entry changes only when the host's roster says so, so that
    // everyone elects from the same numbers.
    s.roster[s.player].machine = number;
    broadcast_roster(s, nullptr);
    show_roster(s);
  } else if (s.link == Link::joined) {
    std::uint8_t bytes[kWireHeader + 4];
    std::uint8_t* at = bytes;
    put_header(at, kWireMachine, kUnknownPlayer);
    at += kWireHeader;
    put32(at, static_cast<std::uint32_t>(number));
    send_packet(s.server, bytes, sizeof bytes);
  }  // one reaching a new host says it in its hello
}

void service(NetSession& s) {
  ENetEvent e;
  int result;
  while ((result = enet_host_service(s.host, &e, 0)) > 0) {
    if (s.link == Link::hosting)
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
    send_machine_number(s);
    send_queued(s);
    service(s);
    sweep(s);
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
      getsockname(s.discovery_socket, reinterpret_cast<sockaddr*>(&a), &size) < 0) {
    close(s.discovery_socket);
    s.discovery_socket = -1;
    return false;
  }
  s.discovery_port = ntohs(a.sin_port);
  s.discovery.store(s.discovery_port, std::memory_order_release);
  return true;
}

// The ENet host every player has: it accepts connections, so that any player can host.
bool create_enet_host(NetSession& s, std::uint32_t address, int port) {
  ENetAddress bind_to{address, static_cast<enet_uint16>(port)};
  s.host = enet_host_create(&bind_to, kMaxPlayers, kChannels, 0, 0);
  ENetAddress bound{};
  if (!s.host || enet_socket_get_address(s.host->socket, &bound) < 0) return false;
  s.host->maximumPacketSize = kWireHeader + kMaxNetMessageBytes;
  s.own_address = address;
  s.own_port = bound.port;
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
  s->link = Link::hosting;
  s->hosting_now.store(true, std::memory_order_relaxed);
  s->session_name_length = clean_name(options.session_name, s->session_name, kMaxSessionName);
  s->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (s->wake < 0 || !create_enet_host(*s, address, options.port)) {
    base::report("net", "could not open a session on port %d", options.port);
    free_session(s);
    return nullptr;
  }
  s->port.store(s->own_port, std::memory_order_relaxed);
  s->discovery_everywhere = address == ENET_HOST_ANY;
  // Another program on this machine may hold the discovery port: the session
  // still opens, reachable by its address, just not found by a LAN search.
  if (options.discovery_port >= 0 && !open_discovery(*s, address, options.discovery_port))
    base::report("net", "could not open the discovery port %d; the session is not found by a LAN search, only by "
                 "its address", options.discovery_port);
  Member& me = s->roster[kHostPlayer];
  me.present = true;
  me.address = address;
  me.port = s->own_port;
  me.name_length = clean_name(options.player_name, me.name, kMaxPlayerName);
  show_roster(*s);
  start_thread(*s);
  return s;
}

NetSession* join_session(const char* address, int port, const char* player_name, int timeout_ms,
                         int receive_ring_bytes) {
  if (!enet_ready()) return nullptr;
  ENetAddress to{};
  if (!address || port <= 0 || port > 65535 || enet_address_set_host(&to, address) < 0) {
    base::report("net", "bad session address %s:%d", address ? address : "", port);
    return nullptr;
  }
  to.port = static_cast<enet_uint16>(port);
  auto* s = new NetSession(ring_bytes(receive_ring_bytes));
  s->link = Link::joined;
  s->player = -1;
  s->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (s->wake >= 0 && create_enet_host(*s, local_address_towards(to), 0))
    s->server = enet_host_connect(s->host, &to, kChannels, 0);
  if (s->wake < 0 || !s->server) {
    base::report("net", "could not join %s:%d", address, port);
    free_session(s);
    return nullptr;
  }
  // ENet gives up on the connection itself after timeout_ms; the deadline is a backstop.
  const auto limit = static_cast<enet_uint32>(timeout_ms > 0 ? timeout_ms : 1);
  enet_peer_timeout(s->server, ENET_PEER_TIMEOUT_LIMIT, limit, limit);
  Member me;
  me.name_length = clean_name(player_name, me.name, kMaxPlayerName);
  const std::uint64_t deadline = now_ms() + limit;
  bool welcomed = false;
  ENetEvent e;
  for (std::uint64_t now = now_ms(); !welcomed && now < deadline; now = now_ms()) {
    const int result = enet_host_service(s->host, &e, static_cast<enet_uint32>(deadline - now));
    if (result <= 0) continue;  // < 0: a refused datagram (an unreachable port); keep waiting
    if (e.peer != s->server) {  // nobody else has business here yet
      if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
      if (e.type == ENET_EVENT_TYPE_CONNECT) enet_peer_disconnect_now(e.peer, 0);
      continue;
    }
    if (e.type == ENET_EVENT_TYPE_DISCONNECT) break;
    if (e.type == ENET_EVENT_TYPE_CONNECT) {
      send_hello(*s, s->server, kUnknownPlayer, me);
      continue;
    }
    if (e.type != ENET_EVENT_TYPE_RECEIVE) continue;
    const std::uint8_t* d = e.packet->data;
    const std::size_t n = e.packet->dataLength;
    const int id = n >= kWireHeader ? header_player(d) : -1;
    if (n >= kWireHeader && d[0] == kWireWelcome && id >= 1 && id < kMaxPlayers) {
      s->player = id;
      welcomed = read_host_roster(*s, d, n) && s->incoming.host != id;
    }
    if (welcomed)
      take_roster(*s, s->incoming);
    else
      refuse(*s);
    enet_packet_destroy(e.packet);
  }
  if (!welcomed) {
    base::report("net", "could not join %s:%d", address, port);
    enet_peer_reset(s->server);
    free_session(s);
    return nullptr;
  }
  set_session_timeouts(s->server);
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

int session_port(const NetSession& s) { return s.port.load(std::memory_order_acquire); }
int discovery_port(const NetSession& s) { return s.discovery.load(std::memory_order_acquire); }
int own_player(const NetSession& s) { return s.player; }
bool is_host(const NetSession& s) { return s.hosting_now.load(std::memory_order_acquire); }
bool session_connected(const NetSession& s) { return s.connected.load(std::memory_order_acquire); }

void set_machine_number(NetSession& s, int number) {
  s.machine_wanted.store(number, std::memory_order_release);
  s.machine_changed.store(true, std::memory_order_release);
  const std::uint64_t one = 1;
  if (write(s.wake, &one, sizeof one) < 0) { /* the thread passes it on within its poll period anyway */ }
}

int net_roster(const NetSession& s, std::span<NetPlayer> out) {
  std::lock_guard lock(s.shown_lock);
  const int n = std::min(s.shown_count, static_cast<int>(out.size()));
  for (int i = 0; i < n; ++i) out[static_cast<std::size_t>(i)] = s.shown[i];
  return n;
}

bool send_to_all(NetSession& s, std::span<const std::uint8_t> message, Delivery delivery) {
  if (message.size() > static_cast<std::size_t>(kMaxNetMessageBytes) || !session_connected(s)) return false;
  const auto kind = delivery == Delivery::latest_only ? ByteRing::kLatestOnly : ByteRing::kMessage;
  if (!s.outgoing.push(kind, 0, {}, message)) return false;
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
  event.kind = s.held.kind == ByteRing::kJoined        ? NetEventKind::joined
               : s.held.kind == ByteRing::kLeft        ? NetEventKind::left
               : s.held.kind == ByteRing::kHostChanged ? NetEventKind::host_changed
                                                       : NetEventKind::message;
  event.player = s.held.player;
  if (event.kind == NetEventKind::message) {
    event.bytes = s.held.bytes;
    event.name = {};
  } else {
    event.bytes = {};
    event.name = {reinterpret_cast<const char*>(s.held.bytes.data()), s.held.bytes.size()};
  }
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
    clean_name({in + kReplyHeader, static_cast<std::size_t>(n) - kReplyHeader}, f.name, kMaxSessionName);
    bool seen = false;
    for (int i = 0; i < count; ++i)
      seen |= found[i].port == f.port && std::strcmp(found[i].address, f.address) == 0;
    if (!seen && count < static_cast<int>(found.size())) found[count++] = f;
  }
  close(fd);
  return count;
}

}  // namespace platform
