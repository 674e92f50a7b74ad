// The network transport over 127.0.0.1: sessions, relaying, whole messages,
// the receive ring when full, failed joins, discovery and garbage datagrams.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
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
};

// Waits (bounded) for the next event; fails the test when none comes.
Got next_event(NetSession& s) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  NetEvent e;
  while (!poll_net(s, e)) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "no network event arrived";
      return {NetEventKind::message, -1, {}};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return {e.kind, e.player, {e.bytes.begin(), e.bytes.end()}};
}

void expect_event(NetSession& s, NetEventKind kind, int player) {
  const Got g = next_event(s);
  EXPECT_EQ(g.kind, kind);
  EXPECT_EQ(g.player, player);
}

// A message whose bytes say its number and length, so a cut or swapped one shows.
std::vector<std::uint8_t> numbered(int number, std::size_t size) {
  std::vector<std::uint8_t> m(size);
  for (std::size_t i = 0; i < size; ++i) m[i] = static_cast<std::uint8_t>(number * 31 + i * 7 + (i >> 8));
  return m;
}

NetSession* open_loopback_host(int discovery = -1, const char* name = "Arena", int ring = kDefaultReceiveRingBytes) {
  NetHostOptions o;
  o.bind_address = kLoopback;
  o.discovery_port = discovery;
  o.session_name = name;
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
constexpr std::size_t kSizes[] = {0, 1, 7, 8, 1000, 1400, 5000, 23551, kMaxNetMessageBytes};

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

  NetSession* one = join_session(kLoopback, session_port(*host), kJoinTimeoutMs);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(own_player(*one), 1);
  expect_event(*host, NetEventKind::joined, 1);
  expect_event(*one, NetEventKind::joined, kHostPlayer);

  NetSession* two = join_session(kLoopback, session_port(*host), kJoinTimeoutMs);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(own_player(*two), 2);
  expect_event(*host, NetEventKind::joined, 2);
  expect_event(*one, NetEventKind::joined, 2);
  expect_event(*two, NetEventKind::joined, kHostPlayer);
  expect_event(*two, NetEventKind::joined, 1);

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

  const std::vector<std::uint8_t> too_long(kMaxNetMessageBytes + 1);
  EXPECT_FALSE(send_to_all(*two, too_long));

  // Leaving: the others hear of it; a host leaving ends the session for its joiners.
  close_session(two);
  expect_event(*host, NetEventKind::left, 2);
  expect_event(*one, NetEventKind::left, 2);
  EXPECT_EQ(net_counts(*host).refused, 0u);
  EXPECT_EQ(net_counts(*host).dropped, 0u);
  close_session(host);
  expect_event(*one, NetEventKind::left, kHostPlayer);
  EXPECT_FALSE(session_connected(*one));
  EXPECT_FALSE(send_to_all(*one, numbered(0, 10)));
  EXPECT_FALSE(poll_net(*one, e));
  close_session(one);
}

TEST(Net, FullReceiveRingDropsAndCountsWithoutWaiting) {
  // The smallest ring the transport keeps holds a few dozen 1000-byte messages.
  NetSession* host = open_loopback_host(-1, "Arena", 1);
  ASSERT_NE(host, nullptr);
  NetSession* one = join_session(kLoopback, session_port(*host), kJoinTimeoutMs);
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
  EXPECT_EQ(join_session(kLoopback, port, 300), nullptr);
  close(silent);
  // A closed port: the refusal is not waited for beyond the timeout either.
  EXPECT_EQ(join_session(kLoopback, port, 300), nullptr);
  // Bad addresses and ports are refused before anything is sent.
  EXPECT_EQ(join_session(kLoopback, 0, 300), nullptr);
  EXPECT_EQ(join_session(kLoopback, 70000, 300), nullptr);
  EXPECT_EQ(join_session(nullptr, port, 300), nullptr);
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
  NetSession* one = join_session(found[0].address, found[0].port, kJoinTimeoutMs);
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
  NetSession* one = join_session(kLoopback, session_port(*host), kJoinTimeoutMs);
  ASSERT_NE(one, nullptr);
  expect_event(*host, NetEventKind::joined, 1);
  ASSERT_TRUE(send_to_all(*one, numbered(3, 100)));
  EXPECT_EQ(next_event(*host).bytes, numbered(3, 100));
  FoundSession found[1];
  EXPECT_EQ(find_sessions(kLoopback, discovery_port(*host), 500, found), 1);
  close_session(one);
  close_session(host);
}

TEST(Net, MalformedPacketsFromAPeerAreRefusedAndNotRelayed) {
  NetSession* host = open_loopback_host();
  ASSERT_NE(host, nullptr);
  NetSession* one = join_session(kLoopback, session_port(*host), kJoinTimeoutMs);
  ASSERT_NE(one, nullptr);
  expect_event(*host, NetEventKind::joined, 1);
  expect_event(*one, NetEventKind::joined, kHostPlayer);

  // A peer speaking ENet directly, sending packets no player would send.
  ENetHost* raw = enet_host_create(nullptr, 1, 1, 0, 0);
  ASSERT_NE(raw, nullptr);
  ENetAddress to{};
  enet_address_set_host_ip(&to, kLoopback);
  to.port = static_cast<enet_uint16>(session_port(*host));
  ENetPeer* peer = enet_host_connect(raw, &to, 1, 0);
  ASSERT_NE(peer, nullptr);
  ENetEvent e;
  bool connected = false;
  for (int i = 0; i < 100 && !connected; ++i)
    connected = enet_host_service(raw, &e, 100) > 0 && e.type == ENET_EVENT_TYPE_CONNECT;
  ASSERT_TRUE(connected);
  enet_host_flush(raw);  // the acknowledgement that completes the connection on the host's side
  expect_event(*host, NetEventKind::joined, 2);
  expect_event(*one, NetEventKind::joined, 2);
  const std::vector<std::vector<std::uint8_t>> bad = {
      {},
      {1, 0, 0},           // shorter than the header
      {2, 0, 1, 0},        // a welcome, which only the host sends
      {3, 0, 1, 0},        // a join notice
      {4, 0, 0, 0},        // a leave notice naming the host
      {9, 0, 0, 0, 1, 2},  // no such kind
  };
  for (const auto& b : bad)
    enet_peer_send(peer, 0, enet_packet_create(b.data(), b.size(), ENET_PACKET_FLAG_RELIABLE));
  const std::uint8_t good[] = {1, 0, 0x34, 0x12, 'o', 'k'};  // the sender's number is the host's to say
  enet_peer_send(peer, 0, enet_packet_create(good, sizeof good, ENET_PACKET_FLAG_RELIABLE));
  enet_host_flush(raw);

  // Only the well-formed message arrives, from player 2, at the host and at the other joiner.
  for (NetSession* s : {host, one}) {
    const Got g = next_event(*s);
    EXPECT_EQ(g.kind, NetEventKind::message);
    EXPECT_EQ(g.player, 2);
    EXPECT_EQ(g.bytes, (std::vector<std::uint8_t>{'o', 'k'}));
  }
  EXPECT_EQ(net_counts(*host).refused, bad.size());
  EXPECT_EQ(net_counts(*one).refused, 0u);

  enet_peer_disconnect(peer, 0);
  for (int i = 0; i < 100 && enet_host_service(raw, &e, 100) >= 0; ++i) {
    if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
    if (e.type == ENET_EVENT_TYPE_DISCONNECT) break;
  }
  enet_host_destroy(raw);
  expect_event(*host, NetEventKind::left, 2);
  expect_event(*one, NetEventKind::left, 2);
  close_session(one);
  close_session(host);
}

}  // namespace
}  // namespace platform
