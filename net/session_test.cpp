// The session on a real transport on 127.0.0.1: this process hosts, a raw peer
// joins and speaks the codec directly. What a peer may change (its own
// elements only), what is refused (malformed frames, another project), text
// messages, and the state this machine publishes.
#include "net/session.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>

#include "engine/network.h"
#include "engine/test_support.h"
#include "net/codec.h"
#include "platform/net.h"

namespace {

using engine_test::record;

constexpr std::int32_t kHostsElement = 0;  // owner 0: the host's
constexpr std::int32_t kPeersElement = 1;  // owner 3: the peer's machine number

class SessionTest : public engine_test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    engine::network() = {};
    platform::NetHostOptions options;
    options.bind_address = "127.0.0.1";
    platform::NetSession* host = platform::open_host(options);
    ASSERT_NE(host, nullptr);
    port_ = platform::session_port(*host);
    net::start_network(host);
    peer_ = platform::join_session("127.0.0.1", port_, "peer", 5000);
    ASSERT_NE(peer_, nullptr);

    compile({engine_test::lines({"position_x_add(element, 10)"}), engine_test::lines({"var x"})});
    record(kHostsElement).network_sync = 0x2;
    record(kPeersElement).network_sync = 0x2;
    record(kPeersElement).owner_machine = 3;
    engine::network_project_started(*world_);
    for (int i = 0; i < engine::kWarmUpPasses; ++i) engine::brain_pass(*world_);
    sync_[0] = record(0).network_sync;
    sync_[1] = record(1).network_sync;
  }
  void TearDown() override {
    net::stop_network();
    platform::close_session(peer_);
    engine::network() = {};
    EngineTest::TearDown();
  }

  // Brain passes until done() holds; false after a generous deadline.
  bool passes_until(const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      engine::brain_pass(*world_);
      usleep(2000);
    }
    return true;
  }
  void peer_sends_state(std::uint32_t stamp, std::span<const net::ElementState> elements) {
    std::uint8_t frame[net::kMaxFrameBytes];
    std::size_t n = net::encode_state(frame, stamp, 3, elements, false, {});
    ASSERT_GT(n, 0u);
    ASSERT_TRUE(platform::send_to_all(*peer_, {frame, n}));
  }
  net::ElementState at_x(std::uint32_t index, std::int32_t x) {
    net::ElementState e;
    e.index = index;
    e.sync = 0x2;
    e.position[0] = x;
    return e;
  }

  int port_ = 0;
  platform::NetSession* peer_ = nullptr;
  std::int32_t sync_[2] = {};
};

TEST_F(SessionTest, APeerSetsOnlyWhatItOwns) {
  const std::uint32_t stamp = engine::network().stamp;
  EXPECT_EQ(stamp, net::project_stamp(sync_, {}));
  const net::ElementState both[] = {at_x(kHostsElement, 9999), at_x(kPeersElement, 5000)};
  peer_sends_state(stamp, both);
  ASSERT_TRUE(passes_until([] { return engine::network().received[kPeersElement].pending == 0; }));
  EXPECT_EQ(engine::network().received[kPeersElement].state.position[0], 5000);
  EXPECT_EQ(engine::network().received[kHostsElement].pending, -1) << "the host's element is not the peer's to move";
  EXPECT_EQ(engine::network().counters[3], 1);

  // Malformed frames are refused whole; a frame of another project raises the mismatch flag.
  const std::uint8_t garbage[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  ASSERT_TRUE(platform::send_to_all(*peer_, garbage));
  const net::ElementState beyond[] = {at_x(kPeersElement, 1), at_x(7, 1)};
  std::uint8_t frame[net::kMaxFrameBytes];
  std::size_t n = net::encode_state(frame, stamp, 3, beyond, false, {});
  ASSERT_TRUE(platform::send_to_all(*peer_, {frame, n}));
  ASSERT_TRUE(passes_until([] { return net::session_counts().refused == 2; }));
  EXPECT_EQ(engine::network().received[kPeersElement].state.position[0], 5000) << "nothing of a refused frame is used";
  peer_sends_state(stamp + 1, both);
  ASSERT_TRUE(passes_until([] { return engine::network().mismatch == -1; }));
}

TEST_F(SessionTest, TextsArriveInOrderAndGoOut) {
  const std::uint32_t stamp = engine::network().stamp;
  std::uint8_t frame[net::kMaxFrameBytes];
  for (const char* text : {"one", "two"}) {
    std::size_t n = net::encode_string(frame, stamp, 1, text);
    ASSERT_TRUE(platform::send_to_all(*peer_, {frame, n}));
  }
  engine::NetworkLink& link = engine::network().link;
  char got[8] = {};
  ASSERT_TRUE(passes_until([&] { return link.poll_text(link.user, 1, std::span<char>(got)); }));
  EXPECT_STREQ(got, "one");
  ASSERT_TRUE(passes_until([&] { return link.poll_text(link.user, 1, std::span<char>(got)); }));
  EXPECT_STREQ(got, "two");

  link.send_text(link.user, 5, "hello");
  platform::NetEvent event;
  net::StringMessage message;
  ASSERT_TRUE(passes_until([&] {
    return platform::poll_net(*peer_, event) && event.kind == platform::NetEventKind::message &&
           net::decode_string(event.bytes, stamp, message) == net::Status::kOk;
  }));
  EXPECT_EQ(message.mask, 5u);
  EXPECT_EQ(message.text, "hello");
}

TEST_F(SessionTest, TheHostPublishesItsElements) {
  const std::uint32_t stamp = engine::network().stamp;
  const net::Layout layout{stamp, sync_, 0};
  auto message = std::make_unique<net::StateMessage>();
  platform::NetEvent event;
  // The first messages may go out before the brains published anything: wait for one with an entry.
  ASSERT_TRUE(passes_until([&] {
    while (platform::poll_net(*peer_, event))
      if (event.kind == platform::NetEventKind::message &&
          net::decode_state(event.bytes, layout, *message) == net::Status::kOk && message->element_count > 0)
        return true;
    engine::network().send_countdown = 0;  // send every pass
    return false;
  }));
  EXPECT_EQ(message->sender, 0);
  ASSERT_EQ(message->element_count, 1) << "only the host's element, not the peer's";
  EXPECT_EQ(message->elements[0].index, static_cast<std::uint32_t>(kHostsElement));
  EXPECT_GT(message->elements[0].position[0], 0) << "the brain moved it";
}

// Datagrams that are no ENet at all, from a plain UDP socket: ignored, and the
// session goes on.
TEST_F(SessionTest, RawDatagramsDoNoHarm) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port_));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::uint8_t bytes[1400];
  std::uint32_t x = 12345;
  for (int n : {0, 1, 2, 4, 7, 12, 48, 100, 548, 1400}) {
    for (int k = 0; k < 20; ++k) {
      for (int i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 16);
      sendto(fd, bytes, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
  }
  close(fd);
  const net::ElementState mine[] = {at_x(kPeersElement, 777)};
  peer_sends_state(engine::network().stamp, mine);
  ASSERT_TRUE(passes_until([] { return engine::network().received[kPeersElement].state.position[0] == 777; }));
}

}  // namespace
