// The network transport over 127.0.0.1: sessions, relaying, whole messages,
// names and the roster, the host changing hands, the receive ring when full,
// failed joins, discovery (also by broadcast inside a network namespace of the
// test's own) and malformed packets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <enet/enet.h>
#include <gtest/gtest.h>

#include "platform/net.h"

namespace platform {
namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr int kJoinTimeoutMs = 5000;
constexpr auto kPatience = std::chrono::seconds(10);  // a bound on every wait, never a speed goal

// What one poll gave, with the bytes copied out.
struct Got {
  NetEventKind kind;
  int player;
  std::vector<std::uint8_t> bytes;
  std::string name;
};

// Waits (bounded) until done() holds; false when it never did.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds patience = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Waits (bounded) for the next event; fails the test when none comes.
Got next_event(NetSession& s, std::chrono::milliseconds patience = kPatience) {
  NetEvent e;
  if (!wait_until([&] { return poll_net(s, e); }, patience)) {
    ADD_FAILURE() << "no network event arrived";
    return {NetEventKind::message, -1, {}, {}};
  }
  return {e.kind, e.player, {e.bytes.begin(), e.bytes.end()}, std::string(e.name)};
}

void expect_event(NetSession& s, NetEventKind kind, int player, const char* name = nullptr) {
  const Got g = next_event(s);
  EXPECT_EQ(g.kind, kind);
  EXPECT_EQ(g.player, player);
  if (name) {
    EXPECT_EQ(g.name, name);
  }
}

NetSession* join(const NetSession& host, const char* name = "") {
  return join_session(kLoopback, session_port(host), name, kJoinTimeoutMs);
}

// Whether every session's roster shows the machine numbers (index: player id).
bool rosters_show(std::initializer_list<NetSession*> sessions, std::initializer_list<int> machines) {
  for (NetSession* s : sessions) {
    NetPlayer roster[8];
    const int n = net_roster(*s, roster);
    if (n != static_cast<int>(machines.size())) return false;
    for (int i = 0; i < n; ++i)
      if (roster[i].player != i || roster[i].machine != machines.begin()[i]) return false;
  }
  return true;
}

// A message whose bytes say its number and length, so a cut or swapped one shows.
std::vector<std::uint8_t> numbered(int number, std::size_t size) {
  std::vector<std::uint8_t> m(size);
  for (std::size_t i = 0; i < size; ++i) m[i] = static_cast<std::uint8_t>(number * 31 + i * 7 + (i >> 8));
  return m;
}

NetSession* open_loopback_host(int discovery = -1, const char* name = "Arena", int ring = kDefaultReceiveRingBytes,
                               const char* player_name = "Hana") {
  NetHostOptions o;
  o.bind_address = kLoopback;
  o.discovery_port = discovery;
  o.session_name = name;
  o.player_name = player_name;
  o.receive_ring_bytes = ring;
  return open_host(o);
}

// A plain UDP socket bound to 127.0.0.1 on a free port.
int bound_udp_socket(int& port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  port = ntohs(a.sin_port);
  return fd;
}

// Message sizes from empty to the largest, each sent in turn.
constexpr std::size_t kSizes[] = {0, 1, 7, 8, 1000, 1400, 5000, 23551, 31000, kMaxNetMessageBytes};

void expect_numbered_series(NetSession& s, int sender) {
  for (std::size_t i = 0; i < std::size(kSizes); ++i) {
    const Got g = next_event(s);
    EXPECT_EQ(g.kind, NetEventKind::message);
    EXPECT_EQ(g.player, sender);
    EXPECT_EQ(g.bytes, numbered(static_cast<int>(i), kSizes[i])) << "message " << i;
  }
}

void send_numbered_series(NetSession& s) {
  for (std::size_t i = 0; i < std::size(kSizes); ++i)
    ASSERT_TRUE(send_to_all(s, numbered(static_cast<int>(i), kSizes[i])));
}

TEST(Net, HostAndTwoJoinersHearEveryoneWholeAndInOrder) {
  NetSession* host = open_loopback_host();
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(own_player(*host), kHostPlayer);
  EXPECT_GT(session_port(*host), 0);

  EXPECT_TRUE(is_host(*host));

  NetSession* one = join(*host, "Jo");
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(own_player(*one), 1);
  EXPECT_FALSE(is_host(*one));
  EXPECT_EQ(session_port(*one), session_port(*host));
  expect_event(*host, NetEventKind::joined, 1, "Jo");
  expect_event(*one, NetEventKind::joined, kHostPlayer, "Hana");

  NetSession* two = join(*host, "Kim");
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(own_player(*two), 2);
  expect_event(*host, NetEventKind::joined, 2, "Kim");
  expect_event(*one, NetEventKind::joined, 2, "Kim");
  expect_event(*two, NetEventKind::joined, kHostPlayer, "Hana");
  expect_event(*two, NetEventKind::joined, 1, "Jo");

  // Everyone knows the roster: names, and where each player accepts connections.
  ASSERT_TRUE(wait_until([&] { return rosters_show({host, one, two}, {0, 0, 0}); }));
  NetPlayer roster[4];
  ASSERT_EQ(net_roster(*two, roster), 3);
  EXPECT_TRUE(roster[0].host);
  EXPECT_STREQ(roster[0].name, "Hana");
  EXPECT_STREQ(roster[0].address, kLoopback);
  EXPECT_EQ(roster[0].port, session_port(*host));
  EXPECT_STREQ(roster[1].name, "Jo");
  EXPECT_STREQ(roster[1].address, kLoopback);
  EXPECT_GT(roster[1].port, 0);
  EXPECT_NE(roster[1].port, roster[2].port);

  // From the host to both joiners.
  send_numbered_series(*host);
  expect_numbered_series(*one, kHostPlayer);
  expect_numbered_series(*two, kHostPlayer);

  // From a joiner to the host and, relayed, to the other joiner; never back to itself.
  send_numbered_series(*one);
  expect_numbered_series(*host, 1);
  expect_numbered_series(*two, 1);
  NetEvent e;
  EXPECT_FALSE(poll_net(*one, e));

  // Latest-only messages (one at a time: on loopback none is lost) take the same
  // ways, cut into fragments when large, with the sender named.
  int n = 100;
  for (std::size_t size : {std::size_t{0}, std::size_t{1000}, std::size_t{5000}, std::size_t{31000}}) {
    ASSERT_TRUE(send_to_all(*two, numbered(++n, size), Delivery::latest_only));
    for (NetSession* s : {host, one}) {
      const Got g = next_event(*s);
      EXPECT_EQ(g.kind, NetEventKind::message);
      EXPECT_EQ(g.player, 2);
      EXPECT_EQ(g.bytes, numbered(n, size));
    }
  }
  EXPECT_FALSE(poll_net(*two, e));

  const std::vector<std::uint8_t> too_long(kMaxNetMessageBytes + 1);
  EXPECT_FALSE(send_to_all(*two, too_long));

  // Leaving: the others hear of it, by name. The last joiner left alone when the
  // host goes hosts on by itself.
  close_session(two);
  expect_event(*host, NetEventKind::left, 2, "Kim");
  expect_event(*one, NetEventKind::left, 2, "Kim");
  EXPECT_EQ(net_counts(*host).refused, 0u);
  EXPECT_EQ(net_counts(*host).dropped, 0u);
  EXPECT_EQ(net_counts(*one).refused, 0u);
  close_session(host);
  expect_event(*one, NetEventKind::left, kHostPlayer, "Hana");
  expect_event(*one, NetEventKind::host_changed, 1, "Jo");
  EXPECT_TRUE(is_host(*one));
  EXPECT_TRUE(session_connected(*one));
  EXPECT_EQ(own_player(*one), 1);
  EXPECT_TRUE(send_to_all(*one, numbered(0, 10)));
  EXPECT_FALSE(poll_net(*one, e));
  close_session(one);
}

TEST(Net, PlayerNamesArriveCleanWithJoinsAndLeaves) {
  const std::string x62(62, 'x');
  const struct {
    std::string given;
    std::string seen;
  } cases[] = {
      {"Jo", "Jo"},
      {"", ""},
      {"\xc3\xa9t\xc3\xa9 \xe2\x9c\x93", "\xc3\xa9t\xc3\xa9 \xe2\x9c\x93"},  // UTF-8 goes through
      {"A\tB\x1b[31m\x7f", "A?B?[31m?"},                                          // control characters do not
      {"\xc2\x85next", "?next"},                                                    // nor C1 controls
      {"\xff\xfeok\xc3", "??ok?"},                                                 // bytes that are no UTF-8
      {"\xc0\xafslash", "??slash"},                                                 // an overlong form
      {std::string(100, 'y'), std::string(63, 'y')},                                // cut at 63 bytes
      {x62 + "\xc3\xa9", x62},  // a character that would not fit whole is left out
  };
  NetSession* host = open_loopback_host();
  ASSERT_NE(host, nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    NetSession* one = join(*host, c.given.c_str());
    ASSERT_NE(one, nullptr);
    Got g = next_event(*host);
    EXPECT_EQ(g.kind, NetEventKind::joined);
    EXPECT_EQ(g.name, c.seen);
    NetPlayer roster[2];
    ASSERT_EQ(net_roster(*one, roster), 2);
    EXPECT_EQ(std::string(roster[1].name), c.seen);  // as the host gave it back
    expect_event(*one, NetEventKind::joined, kHostPlayer, "Hana");
    close_session(one);
    g = next_event(*host);
    EXPECT_EQ(g.kind, NetEventKind::left);
    EXPECT_EQ(g.name, c.seen);
  }
  close_session(host);

  // The host's own name is cleaned the same way; nullptr means empty.
  NetSession* shouting = open_loopback_host(-1, "Arena", kDefaultReceiveRingBytes, "\aBell");
  ASSERT_NE(shouting, nullptr);
  NetSession* one = join_session(kLoopback, session_port(*shouting), nullptr, kJoinTimeoutMs);
  ASSERT_NE(one, nullptr);
  expect_event(*one, NetEventKind::joined, kHostPlayer, "?Bell");
  expect_event(*shouting, NetEventKind::joined, 1, "");
  close_session(one);
  close_session(shouting);
}

TEST(Net, FullReceiveRingDropsAndCountsWithoutWaiting) {
  // The smallest ring the transport keeps holds a few dozen 1000-byte messages.
  NetSession* host = open_loopback_host(-1, "Arena", 1);
  ASSERT_NE(host, nullptr);
  NetSession* one = join(*host);
  ASSERT_NE(one, nullptr);
  constexpr int kSent = 200;
  for (int i = 0; i < kSent; ++i) ASSERT_TRUE(send_to_all(*one, numbered(i, 1000)));
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (net_counts(*host).received < kSent && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const NetCounts counts = net_counts(*host);
  ASSERT_EQ(counts.received, static_cast<std::uint64_t>(kSent));
  EXPECT_GT(counts.dropped, 0u);

  // The join event was kept; then the first messages, whole and in order; the rest were dropped.
  expect_event(*host, NetEventKind::joined, 1);
  int kept = 0;
  NetEvent e;
  while (poll_net(*host, e)) {
    ASSERT_EQ(e.kind, NetEventKind::message);
    EXPECT_TRUE(std::ranges::equal(e.bytes, numbered(kept, 1000))) << "message " << kept;
    ++kept;
  }
  EXPECT_EQ(static_cast<std::uint64_t>(kept) + counts.dropped, static_cast<std::uint64_t>(kSent));

  // Once read, the ring takes messages again, and a leave still gets through.
  ASSERT_TRUE(send_to_all(*one, numbered(7, kMaxNetMessageBytes)));
  const Got g = next_event(*host);
  EXPECT_EQ(g.bytes, numbered(7, kMaxNetMessageBytes));
  close_session(one);
  expect_event(*host, NetEventKind::left, 1);
  close_session(host);
}

TEST(Net, JoinWhereNoHostListensFailsInBoundedTime) {
  // A bound port that never answers, so nothing else can take it meanwhile.
  int port = 0;
  const int silent = bound_udp_socket(port);
  EXPECT_EQ(join_session(kLoopback, port, "Jo", 300), nullptr);
  close(silent);
  // A closed port: the refusal is not waited for beyond the timeout either.
  EXPECT_EQ(join_session(kLoopback, port, "Jo", 300), nullptr);
  // Bad addresses and ports are refused before anything is sent.
  EXPECT_EQ(join_session(kLoopback, 0, "Jo", 300), nullptr);
  EXPECT_EQ(join_session(kLoopback, 70000, "Jo", 300), nullptr);
  EXPECT_EQ(join_session(nullptr, port, "Jo", 300), nullptr);
}

TEST(Net, DiscoveryFindsTheHostOnLoopback) {
  NetSession* host = open_loopback_host(0, "Friday night");
  ASSERT_NE(host, nullptr);
  ASSERT_GT(discovery_port(*host), 0);
  FoundSession found[4];
  ASSERT_EQ(find_sessions(kLoopback, discovery_port(*host), 500, found), 1);
  EXPECT_STREQ(found[0].address, kLoopback);
  EXPECT_EQ(found[0].port, session_port(*host));
  EXPECT_STREQ(found[0].name, "Friday night");

  // The address found is one to join.
  NetSession* one = join_session(found[0].address, found[0].port, "Jo", kJoinTimeoutMs);
  ASSERT_NE(one, nullptr);
  close_session(one);
  close_session(host);

  // Where nobody answers, nothing is found; a bad address finds nothing either.
  int port = 0;
  const int silent = bound_udp_socket(port);
  EXPECT_EQ(find_sessions(kLoopback, port, 100, found), 0);
  EXPECT_EQ(find_sessions("not an address", port, 100, found), 0);
  close(silent);
}

TEST(Net, GarbageDatagramsDoNoHarm) {
  NetSession* host = open_loopback_host(0);
  ASSERT_NE(host, nullptr);
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  std::vector<std::vector<std::uint8_t>> garbage = {
      {},
      {0},
      {0xFF},
      {'Z', 'P', 'T', '?'},                      // a probe cut short
      {'Z', 'P', 'T', '?', 1, 0},                // a probe with a byte too many
      {0x80, 0x00, 0x00, 0x00, 0x82, 0xFF},      // a truncated ENet command header
      std::vector<std::uint8_t>(4096, 0xFF),
      std::vector<std::uint8_t>(65000, 0x5A),
  };
  std::uint32_t seed = 12345;
  for (int i = 0; i < 64; ++i) {  // short pseudo-random datagrams
    std::vector<std::uint8_t> d(static_cast<std::size_t>(i * 7 % 97));
    for (auto& b : d) b = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    garbage.push_back(d);
  }
  for (int port : {session_port(*host), discovery_port(*host)})
    for (const auto& d : garbage) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      to.sin_port = htons(static_cast<std::uint16_t>(port));
      sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
  // Datagrams are answered in order: a probe sent last gets the first reply, so
  // none of the garbage got one.
  const std::uint8_t probe[] = {'Z', 'P', 'T', '?', 1};
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<std::uint16_t>(discovery_port(*host)));
  sendto(fd, probe, sizeof probe, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  const timeval patience{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  std::uint8_t reply[128];
  const ssize_t n = recv(fd, reply, sizeof reply, 0);
  ASSERT_GE(n, 4);
  EXPECT_EQ(std::memcmp(reply, "ZPT!", 4), 0);
  EXPECT_LT(recv(fd, reply, sizeof reply, MSG_DONTWAIT), 0);
  close(fd);

  // The session goes on as before.
  NetSession* one = join(*host);
  ASSERT_NE(one, nullptr);
  expect_event(*host, NetEventKind::joined, 1);
  ASSERT_TRUE(send_to_all(*one, numbered(3, 100)));
  EXPECT_EQ(next_event(*host).bytes, numbered(3, 100));
  FoundSession found[1];
  EXPECT_EQ(find_sessions(kLoopback, discovery_port(*host), 500, found), 1);
  close_session(one);
  close_session(host);
}

// ---- Speaking the wire directly -----------------------------------------------

constexpr int kNobody = 0xFFFF;  // the id a new joiner's hello claims

struct Bytes : std::vector<std::uint8_t> {
  Bytes& u8(int v) {
    push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  Bytes& u16(int v) { return u8(v & 0xFF).u8(v >> 8 & 0xFF); }
  Bytes& u32(std::uint32_t v) { return u16(static_cast<int>(v & 0xFFFF)).u16(static_cast<int>(v >> 16)); }
  Bytes& raw(const std::string& t) {
    insert(end(), t.begin(), t.end());
    return *this;
  }
  Bytes& text(const std::string& t) { return u8(static_cast<int>(t.size())).raw(t); }
};

Bytes header(int kind, int player) { return Bytes{}.u8(kind).u8(0).u16(player); }

Bytes hello(int claimed, int machine, int port, const std::string& name) {
  return header(4, claimed).u32(static_cast<std::uint32_t>(machine)).u16(port).text(name);
}

struct Member {
  int id;
  int machine;
  int port;
  std::string name;
};
// A welcome (kind 2) or roster (kind 3); count -1 is the members' number.
Bytes roster(int kind, int header_player, int host, const std::vector<Member>& members, int count = -1) {
  Bytes b = header(kind, header_player).u16(host).u16(0).u8(0).text("Raw");
  b.u8(count < 0 ? static_cast<int>(members.size()) : count);
  for (const Member& m : members)
    b.u16(m.id).u32(static_cast<std::uint32_t>(m.machine)).u32(m.id == host ? 0 : htonl(INADDR_LOOPBACK))
        .u16(m.port).text(m.name);
  return b;
}

// An ENet host driven by the test itself, to send what no player would.
struct RawEnet {
  ENetHost* host = nullptr;
  ENetPeer* peer = nullptr;  // the one it talks to

  explicit RawEnet(bool listen) {
    ENetAddress at{};
    enet_address_set_host_ip(&at, kLoopback);
    host = enet_host_create(listen ? &at : nullptr, 4, 1, 0, 0);
  }
  ~RawEnet() {
    if (peer && peer->state == ENET_PEER_STATE_CONNECTED) {
      enet_peer_disconnect(peer, 0);
      ENetEvent e;
      for (int i = 0; i < 100 && enet_host_service(host, &e, 20) >= 0; ++i) {
        if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
        if (e.type == ENET_EVENT_TYPE_DISCONNECT) break;
      }
    }
    if (host) enet_host_destroy(host);
  }
  int port() const { return host->address.port; }
  bool connect(int port) {
    ENetAddress to{};
    enet_address_set_host_ip(&to, kLoopback);
    to.port = static_cast<enet_uint16>(port);
    peer = enet_host_connect(host, &to, 1, 0);
    ENetEvent e;
    bool connected = false;
    for (int i = 0; i < 100 && !connected; ++i) {
      if (enet_host_service(host, &e, 100) <= 0) continue;
      connected = e.type == ENET_EVENT_TYPE_CONNECT && e.peer == peer;
      if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);  // from an earlier peer
    }
    enet_host_flush(host);  // the acknowledgement that completes the connection on the other side
    return connected;
  }
  void send(const std::vector<std::uint8_t>& b) {
    enet_peer_send(peer, 0, enet_packet_create(b.data(), b.size(), ENET_PACKET_FLAG_RELIABLE));
    enet_host_flush(host);
  }
  // Services until a packet arrives (taking a connection on the way); empty when none does.
  std::vector<std::uint8_t> receive() {
    ENetEvent e;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      if (enet_host_service(host, &e, 10) <= 0) continue;
      if (e.type == ENET_EVENT_TYPE_CONNECT) peer = e.peer;
      if (e.type != ENET_EVENT_TYPE_RECEIVE) continue;
      std::vector<std::uint8_t> b(e.packet->data, e.packet->data + e.packet->dataLength);
      enet_packet_destroy(e.packet);
      return b;
    }
    return {};
  }
  // Keeps the connection serviced (acknowledgements, pings) until done() holds.
  bool pump_until(const std::function<bool()>& done) {
    return wait_until([&] {
      ENetEvent e;
      while (enet_host_service(host, &e, 0) > 0)
        if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
      return done();
    });
  }
};

TEST(Net, MalformedHellosAndPacketsFromAPeerAreRefusedAndNotRelayed) {
  NetSession* host = open_loopback_host();
  ASSERT_NE(host, nullptr);
  NetSession* one = join(*host, "Jo");
  ASSERT_NE(one, nullptr);
  expect_event(*host, NetEventKind::joined, 1);
  expect_event(*one, NetEventKind::joined, kHostPlayer);

  auto raw = std::make_unique<RawEnet>(false);
  ASSERT_NE(raw->host, nullptr);
  ASSERT_TRUE(raw->connect(session_port(*host)));
  // Before its hello a peer is nobody: all of these are refused and it stays out.
  const std::vector<Bytes> before = {
      {},
      header(4, kNobody),                                             // a hello cut short
      hello(kNobody, 0, 4000, "Zed").u8(0),                           // a byte too many
      header(4, kNobody).u32(0).u16(4000).u8(64).raw(std::string(64, 'n')),  // a name over 63 bytes
      header(4, kNobody).u32(0).u16(4000).u8(5).raw("abc"),           // a name shorter than it says
      hello(kNobody, 0, 0, "Zed"),                                    // no port to be reached on
      hello(101, 0, 4000, "Zed"),                                     // no such player id
      hello(5, 0, 4000, "Zed"),                                       // a place nobody keeps for it
      hello(1, 0, 4000, "Zed"),                                       // a player who is here
      header(1, kNobody).raw("early"),                                // a message before hello
      roster(3, 0, 0, {{0, 0, 4000, "Me"}}),                          // a roster, which hosts send
      header(5, kNobody).u32(1),                                      // a machine number
  };
  for (const Bytes& b : before) raw->send(b);
  raw->send(hello(kNobody, 7, 4000, "Eve\x01\xff"));
  expect_event(*host, NetEventKind::joined, 2, "Eve??");
  expect_event(*one, NetEventKind::joined, 2, "Eve??");

  // Once in, it may send messages and its machine number, nothing else.
  const std::vector<Bytes> after = {
      Bytes{}.u8(1).u8(0).u8(0),                              // shorter than the header
      hello(kNobody, 0, 4000, "Again"),                       // a second hello
      roster(2, 2, 0, {{0, 0, 4000, "Me"}, {2, 0, 4000, "Eve"}}),  // a welcome
      roster(3, 2, 2, {{2, 0, 4000, "Eve"}}),                 // a roster
      header(5, kNobody).u32(1).u8(0),                        // a machine number with a byte too many
      header(9, 0).u16(0x201),                                // no such kind
  };
  for (const Bytes& b : after) raw->send(b);
  raw->send(header(5, kNobody).u32(static_cast<std::uint32_t>(-3)));
  raw->send({1, 0, 0x34, 0x12, 'o', 'k'});  // the sender's number is the host's to say

  // Only the well-formed message arrives, from player 2, at the host and at the other joiner.
  for (NetSession* s : {host, one}) {
    const Got g = next_event(*s);
    EXPECT_EQ(g.kind, NetEventKind::message);
    EXPECT_EQ(g.player, 2);
    EXPECT_EQ(g.bytes, (std::vector<std::uint8_t>{'o', 'k'}));
  }
  EXPECT_EQ(net_counts(*host).refused, before.size() + after.size());
  EXPECT_EQ(net_counts(*one).refused, 0u);
  EXPECT_TRUE(raw->pump_until([&] { return rosters_show({host, one}, {0, 0, -3}); }));

  raw.reset();  // says goodbye
  expect_event(*host, NetEventKind::left, 2, "Eve??");
  expect_event(*one, NetEventKind::left, 2, "Eve??");
  close_session(one);
  close_session(host);
}

TEST(Net, MalformedWelcomesAndRostersFromAHostAreRefused) {
  RawEnet raw(true);
  ASSERT_NE(raw.host, nullptr);
  NetSession* one = nullptr;
  std::atomic<bool> done{false};
  std::thread joining([&] {
    one = join_session(kLoopback, raw.port(), "Jo", kJoinTimeoutMs);
    done = true;
  });

  // The joiner's hello: a new player, the port it accepts connections on, its name.
  const std::vector<std::uint8_t> said = raw.receive();
  ASSERT_EQ(said.size(), 4u + 4 + 2 + 1 + 2);
  EXPECT_EQ(said[0], 4);
  EXPECT_EQ(said[2] | said[3] << 8, kNobody);
  EXPECT_NE(said[8] | said[9] << 8, 0);
  EXPECT_EQ(std::string(said.begin() + 11, said.end()), "Jo");

  const Member me{1, 0, 4000, "Jo"}, raw_host{0, 0, raw.port(), "Raw"};
  const std::vector<Bytes> welcomes = {
      header(2, 1),                                              // no roster
      roster(2, 1, 0, {raw_host, me}, 0),                        // no players
      roster(2, 1, 0, {raw_host, me}, 102),                      // more than there can be
      roster(2, 1, 0, {raw_host, me}, 3),                        // more than are there
      roster(2, 1, 0, {raw_host, me, me}),                       // a player twice
      roster(2, 1, 0, {raw_host, me, {101, 0, 4000, "Far"}}),    // no such player id
      roster(2, 1, 0, {raw_host, me, {2, 0, 4000, std::string(64, 'n')}}),  // a name over 63 bytes
      roster(2, 1, 0, {raw_host, me}).u8(0),                     // a byte too many
      roster(2, 1, 5, {raw_host, me}),                           // the host is not among them
      roster(2, 1, 0, {raw_host}),                               // the joiner is not among them
      roster(2, 0, 0, {raw_host, me}),                           // the joiner given the host's id
      roster(2, 101, 0, {raw_host, me}),                         // an id out of range
  };
  for (const Bytes& b : welcomes) raw.send(b);
  raw.send(roster(2, 1, 0, {raw_host, me}));
  raw.pump_until([&] { return done.load(); });
  joining.join();
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(own_player(*one), 1);
  expect_event(*one, NetEventKind::joined, 0, "Raw");
  EXPECT_EQ(net_counts(*one).refused, welcomes.size());

  const std::vector<Bytes> rosters = {
      roster(3, 4, 4, {raw_host, me, {4, 0, 4000, "Usurper"}}),  // someone else says it hosts
      roster(3, 0, 0, {raw_host}),                               // the joiner left out
      roster(3, 0, 0, {raw_host, me}, 3).u16(2),                 // cut inside a player
      roster(2, 1, 0, {raw_host, me}),                           // a second welcome
      header(1, 1).raw("me?"),                                   // a message from the joiner itself
      header(1, 200).raw("who?"),                                // from no possible player
      hello(kNobody, 0, 4000, "Host"),                           // a hello from the host
  };
  for (const Bytes& b : rosters) raw.send(b);
  raw.send(roster(3, 0, 0, {raw_host, me, {7, 9, 4000, "Bo\x1b"}}));
  NetPlayer players[4];
  EXPECT_TRUE(raw.pump_until([&] { return net_roster(*one, players) == 3; }));
  expect_event(*one, NetEventKind::joined, 7, "Bo?");
  EXPECT_EQ(net_counts(*one).refused, welcomes.size() + rosters.size());
  ASSERT_EQ(net_roster(*one, players), 3);
  EXPECT_EQ(players[2].player, 7);
  EXPECT_EQ(players[2].machine, 9);
  EXPECT_STREQ(players[2].name, "Bo?");
  EXPECT_TRUE(players[0].host);
  EXPECT_EQ(players[0].port, raw.port());
  close_session(one);
}

// Joins a raw first host whose roster also lists player 2 (machine -1, so it is
// elected next) on `next_port`, then has the first host say goodbye.
NetSession* join_then_lose_raw_host(int next_port) {
  RawEnet first(true);
  NetSession* one = nullptr;
  std::atomic<bool> done{false};
  std::thread joining([&] {
    one = join_session(kLoopback, first.port(), "Jo", kJoinTimeoutMs);
    done = true;
  });
  first.receive();  // the hello
  first.send(roster(2, 1, 0, {{0, 0, first.port(), "Raw"}, {1, 0, 4000, "Jo"}, {2, -1, next_port, "Next"}}));
  first.pump_until([&] { return done.load(); });
  joining.join();
  if (!one) return nullptr;
  expect_event(*one, NetEventKind::joined, 0, "Raw");
  expect_event(*one, NetEventKind::joined, 2, "Next");
  return one;  // first says goodbye as it goes
}

TEST(Net, AJoinerReachingTheNewHostSaysWhoItWasAndKeepsItsMessages) {
  RawEnet next(true);
  ASSERT_NE(next.host, nullptr);
  NetSession* one = join_then_lose_raw_host(next.port());
  ASSERT_NE(one, nullptr);
  expect_event(*one, NetEventKind::left, 0, "Raw");
  // Until the new host takes it back, what it sends waits.
  ASSERT_TRUE(send_to_all(*one, numbered(5, 700)));
  const std::vector<std::uint8_t> said = next.receive();
  ASSERT_EQ(said.size(), 4u + 4 + 2 + 1 + 2);
  EXPECT_EQ(said[0], 4);
  EXPECT_EQ(said[2] | said[3] << 8, 1);  // the id it had
  EXPECT_EQ(std::string(said.begin() + 11, said.end()), "Jo");
  next.send(roster(2, 1, 2, {{1, 0, 4000, "Jo"}, {2, -1, next.port(), "Next"}}));
  const std::vector<std::uint8_t> sent = next.receive();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(sent[0], 1);
  EXPECT_EQ(std::vector<std::uint8_t>(sent.begin() + 4, sent.end()), numbered(5, 700));
  expect_event(*one, NetEventKind::host_changed, 2, "Next");
  EXPECT_TRUE(session_connected(*one));
  EXPECT_FALSE(is_host(*one));
  EXPECT_EQ(session_port(*one), next.port());
  EXPECT_EQ(net_counts(*one).refused, 0u);
  close_session(one);
}

TEST(Net, ANewHostThatCannotBeReachedEndsTheSession) {
  int port = 0;
  const int silent = bound_udp_socket(port);  // taken, and never answering
  NetSession* one = join_then_lose_raw_host(port);
  ASSERT_NE(one, nullptr);
  expect_event(*one, NetEventKind::left, 0, "Raw");
  expect_event(*one, NetEventKind::left, 2, "Next");  // after kMigrationMs
  EXPECT_FALSE(session_connected(*one));
  EXPECT_FALSE(is_host(*one));
  EXPECT_FALSE(send_to_all(*one, numbered(0, 10)));
  close(silent);
  close_session(one);
}

// Everything messages that arrive until `count` have, sorted by sender.
std::vector<std::pair<int, std::vector<std::uint8_t>>> messages(NetSession& s, std::size_t count) {
  std::vector<std::pair<int, std::vector<std::uint8_t>>> got;
  while (got.size() < count) {
    const Got g = next_event(s);
    if (g.player < 0) break;
    EXPECT_EQ(g.kind, NetEventKind::message);
    got.emplace_back(g.player, g.bytes);
  }
  std::ranges::sort(got);
  return got;
}

void drain(NetSession& s) {
  NetEvent e;
  while (poll_net(s, e)) {
  }
}

TEST(Net, WhenTheHostLeavesTheLowestMachineNumberHostsAndIdsStay) {
  NetSession* host = open_loopback_host(0);
  ASSERT_NE(host, nullptr);
  const int discovery = discovery_port(*host);
  NetSession* ann = join(*host, "Ann");
  NetSession* ben = join(*host, "Ben");
  NetSession* cy = join(*host, "Cy");
  ASSERT_TRUE(ann && ben && cy);
  set_machine_number(*ann, 7);
  set_machine_number(*ben, 3);
  set_machine_number(*cy, 5);
  ASSERT_TRUE(wait_until([&] { return rosters_show({host, ann, ben, cy}, {0, 7, 3, 5}); }));
  for (NetSession* s : {host, ann, ben, cy}) drain(*s);

  close_session(host);
  // The old host leaves first; messages sent from then on wait for the new host.
  for (NetSession* s : {ann, ben, cy}) expect_event(*s, NetEventKind::left, kHostPlayer, "Hana");
  ASSERT_TRUE(send_to_all(*ann, numbered(1, 300)));
  ASSERT_TRUE(send_to_all(*cy, numbered(3, 300)));
  for (NetSession* s : {ann, ben, cy}) expect_event(*s, NetEventKind::host_changed, 2, "Ben");
  EXPECT_TRUE(is_host(*ben));
  EXPECT_FALSE(is_host(*ann));
  EXPECT_FALSE(is_host(*cy));
  for (NetSession* s : {ann, ben, cy}) EXPECT_TRUE(session_connected(*s));
  EXPECT_EQ(own_player(*ann), 1);
  EXPECT_EQ(own_player(*ben), 2);
  EXPECT_EQ(own_player(*cy), 3);
  EXPECT_EQ(session_port(*ann), session_port(*ben));
  EXPECT_EQ(session_port(*cy), session_port(*ben));

  // What was said during the changeover arrives, from the right players.
  using Heard = std::vector<std::pair<int, std::vector<std::uint8_t>>>;
  EXPECT_EQ(messages(*ann, 1), (Heard{{3, numbered(3, 300)}}));
  EXPECT_EQ(messages(*ben, 2), (Heard{{1, numbered(1, 300)}, {3, numbered(3, 300)}}));
  EXPECT_EQ(messages(*cy, 1), (Heard{{1, numbered(1, 300)}}));

  // And everyone hears everyone afterwards.
  for (NetSession* s : {ann, ben, cy}) ASSERT_TRUE(send_to_all(*s, numbered(10 + own_player(*s), 2000)));
  EXPECT_EQ(messages(*ann, 2), (Heard{{2, numbered(12, 2000)}, {3, numbered(13, 2000)}}));
  EXPECT_EQ(messages(*ben, 2), (Heard{{1, numbered(11, 2000)}, {3, numbered(13, 2000)}}));
  EXPECT_EQ(messages(*cy, 2), (Heard{{1, numbered(11, 2000)}, {2, numbered(12, 2000)}}));

  // The roster names the new host; the new host answers discovery on the old port.
  NetPlayer roster[4];
  ASSERT_EQ(net_roster(*cy, roster), 3);
  EXPECT_EQ(roster[0].player, 1);
  EXPECT_TRUE(roster[1].host);
  EXPECT_EQ(roster[1].port, session_port(*ben));
  EXPECT_EQ(discovery_port(*ben), discovery);
  FoundSession found[2];
  ASSERT_EQ(find_sessions(kLoopback, discovery, 500, found), 1);
  EXPECT_EQ(found[0].port, session_port(*ben));
  EXPECT_STREQ(found[0].name, "Arena");

  // Newcomers join the new host; player 0 stays the first host's.
  NetSession* dee = join(*ben, "Dee");
  ASSERT_NE(dee, nullptr);
  EXPECT_EQ(own_player(*dee), 4);
  for (NetSession* s : {ann, ben, cy}) expect_event(*s, NetEventKind::joined, 4, "Dee");
  for (NetSession* s : {ann, ben, cy, dee}) EXPECT_EQ(net_counts(*s).refused, 0u);
  for (NetSession* s : {dee, ann, cy, ben}) close_session(s);
}

TEST(Net, ANewHostGivesAPlayerReturningLateWhatWasSaidMeanwhile) {
  NetSession* host = open_loopback_host();
  ASSERT_NE(host, nullptr);
  NetSession* ned = join(*host, "Ned");
  ASSERT_NE(ned, nullptr);
  expect_event(*host, NetEventKind::joined, 1, "Ned");
  expect_event(*ned, NetEventKind::joined, kHostPlayer, "Hana");
  // A player speaking the wire itself, so the test says when it returns.
  RawEnet late(false);
  ASSERT_TRUE(late.connect(session_port(*host)));
  late.send(hello(kNobody, 5, 4000, "Late"));
  for (NetSession* s : {host, ned}) expect_event(*s, NetEventKind::joined, 2, "Late");
  set_machine_number(*ned, 1);
  ASSERT_TRUE(late.pump_until([&] { return rosters_show({host, ned}, {0, 1, 5}); }));
  drain(*ned);

  close_session(host);
  expect_event(*ned, NetEventKind::left, kHostPlayer, "Hana");
  expect_event(*ned, NetEventKind::host_changed, 1, "Ned");
  ASSERT_TRUE(send_to_all(*ned, numbered(1, 100)));
  ASSERT_TRUE(send_to_all(*ned, numbered(2, kMaxNetMessageBytes)));

  // Back at the new host: a place it does not keep is refused; its own is given back,
  // with the welcome and then what was said while it was away.
  ASSERT_TRUE(late.connect(session_port(*ned)));
  late.send(hello(7, 5, 4000, "Late"));
  late.send(hello(2, 5, 4000, "Late"));
  std::vector<std::uint8_t> got = late.receive();
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(got[0], 2);
  EXPECT_EQ(got[2] | got[3] << 8, 2);
  for (int i : {1, 2}) {
    got = late.receive();
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(got[0], 1);
    EXPECT_EQ(got[2] | got[3] << 8, 1);
    EXPECT_EQ(std::vector<std::uint8_t>(got.begin() + 4, got.end()), numbered(i, i == 1 ? 100 : kMaxNetMessageBytes));
  }
  late.send(header(1, kNobody).raw("back"));
  const Got g = next_event(*ned);
  EXPECT_EQ(g.kind, NetEventKind::message);  // no left and joined on the way
  EXPECT_EQ(g.player, 2);
  EXPECT_EQ(net_counts(*ned).refused, 1u);
  close_session(ned);
}

// Starts a host in a child process, which the test can kill without a goodbye.
// Returns the child's id and the host's port through `port`; -1 on failure.
pid_t host_in_child(int& port) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    NetSession* host = open_loopback_host(-1, "Arena", kDefaultReceiveRingBytes, "Doomed");
    const int p = host ? session_port(*host) : -1;
    if (write(pipe_fds[1], &p, sizeof p) != sizeof p) _exit(1);
    for (;;) pause();
  }
  close(pipe_fds[1]);
  port = -1;
  if (child > 0 && read(pipe_fds[0], &port, sizeof port) != sizeof port) port = -1;
  close(pipe_fds[0]);
  return child;
}

TEST(Net, AHostThatVanishesWithoutGoodbyeIsReplacedByTimeout) {
  int port = -1;
  const pid_t child = host_in_child(port);
  ASSERT_GT(child, 0);
  if (port <= 0) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    FAIL() << "the host in the child did not open";
  }
  NetSession* ann = join_session(kLoopback, port, "Ann", kJoinTimeoutMs);
  NetSession* ben = join_session(kLoopback, port, "Ben", kJoinTimeoutMs);
  bool ready = ann && ben;
  if (ready) {
    set_machine_number(*ann, 9);
    set_machine_number(*ben, 4);
    ready = wait_until([&] { return rosters_show({ann, ben}, {0, 9, 4}); });
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(ready);
  for (NetSession* s : {ann, ben}) drain(*s);

  // Losing the host takes 10 to 20 seconds of silence; the patience covers that.
  constexpr auto kTimeoutPatience = std::chrono::milliseconds(40000);
  for (NetSession* s : {ann, ben}) {
    Got g = next_event(*s, kTimeoutPatience);
    EXPECT_EQ(g.kind, NetEventKind::left);
    EXPECT_EQ(g.name, "Doomed");
    g = next_event(*s, kTimeoutPatience);
    EXPECT_EQ(g.kind, NetEventKind::host_changed);
    EXPECT_EQ(g.player, 2);
  }
  EXPECT_TRUE(is_host(*ben));
  EXPECT_TRUE(session_connected(*ann));
  ASSERT_TRUE(send_to_all(*ann, numbered(1, 50)));
  ASSERT_TRUE(send_to_all(*ben, numbered(2, 50)));
  const Got to_ben = next_event(*ben), to_ann = next_event(*ann);
  EXPECT_EQ(to_ben.player, 1);
  EXPECT_EQ(to_ben.bytes, numbered(1, 50));
  EXPECT_EQ(to_ann.player, 2);
  EXPECT_EQ(to_ann.bytes, numbered(2, 50));
  close_session(ann);
  close_session(ben);
}

// In a network namespace of its own, with an interface that broadcasts: a host
// open on every interface answers a probe sent to the broadcast address. The
// exit code says how it went.
int discover_by_broadcast() {
  NetHostOptions o;
  o.discovery_port = 0;
  o.session_name = "Basement";
  NetSession* host = open_host(o);
  if (!host) return 10;
  FoundSession found[2];
  int result = 0;
  if (find_sessions("10.77.0.255", discovery_port(*host), 1000, found) != 1)
    result = 11;
  else if (std::strcmp(found[0].name, "Basement") != 0)
    result = 12;
  else if (found[0].port != session_port(*host))
    result = 13;
  else if (NetSession* one = join_session(found[0].address, found[0].port, "Lan", kJoinTimeoutMs))
    close_session(one);
  else
    result = 14;
  close_session(host);
  return result;
}

TEST(Net, DiscoveryByBroadcastInsideANetworkNamespace) {
  if (geteuid() != 0) GTEST_SKIP() << "a network namespace needs root";
  constexpr int kNoNamespace = 77, kNoInterface = 78;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (unshare(CLONE_NEWNET) != 0) _exit(kNoNamespace);
    // A veth pair: an interface with a broadcast address, seen by nothing outside.
    const char* setup =
        "PATH=\"$PATH:/usr/sbin:/sbin\"; ip link set lo up && ip link add zv0 type veth peer name zv1 && "
        "ip addr add 10.77.0.1/24 broadcast 10.77.0.255 dev zv0 && ip link set zv0 up && ip link set zv1 up";
    if (std::system(setup) != 0) _exit(kNoInterface);
    _exit(discover_by_broadcast());
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kNoNamespace) GTEST_SKIP() << "no network namespace could be made";
  if (WEXITSTATUS(status) == kNoInterface) GTEST_SKIP() << "no broadcasting interface could be set up (iproute2)";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no host, 11: not found, 12: wrong name, 13: wrong port, 14: no join";
}

}  // namespace
}  // namespace platform
