// Sessions made from settings and through the "Network connection" dialog,
// with real sessions on 127.0.0.1 only: hosting, joining by address and by
// discovery, the questions asked when no host answers, and the dialog driven
// by scripted input.
#include "net/connect.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/memory.h"
#include "media/media.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "ui/network_dialog.h"
#include "ui/test_input.h"

namespace {

using platform::NetSession;

// Everything on 127.0.0.1, on ports the system picks, with short attempts.
net::ConnectPlaces local_places() {
  net::ConnectPlaces p;
  p.bind_address = "127.0.0.1";
  p.probe_address = "127.0.0.1";
  p.default_port = 0;
  p.discovery_port = 0;
  p.attempt_ms = 200;
  p.join_wait_ms = 3000;
  return p;
}

// The questions and notes of a connection, answered from a list (Cancel once it runs out).
struct Answers {
  std::vector<bool> oks;
  std::vector<std::string> said;  // "ask:TEXT|CAPTION" or "tell:TEXT|CAPTION"
  net::Prompts prompts() {
    net::Prompts p;
    p.user = this;
    p.ask = [](void* user, std::string_view text, std::string_view caption) {
      Answers& a = *static_cast<Answers*>(user);
      a.said.push_back("ask:" + std::string(text) + "|" + std::string(caption));
      std::size_t asked = 0;
      for (const std::string& s : a.said) asked += s.rfind("ask:", 0) == 0;
      return asked <= a.oks.size() && a.oks[asked - 1];
    };
    p.tell = [](void* user, std::string_view text, std::string_view caption) {
      static_cast<Answers*>(user)->said.push_back("tell:" + std::string(text) + "|" + std::string(caption));
    };
    return p;
  }
};

struct Closer {
  void operator()(NetSession* s) const { platform::close_session(s); }
};
using Session = std::unique_ptr<NetSession, Closer>;

// A UDP port on 127.0.0.1 held by a socket that never answers: no session
// there, and no other test can open one on it while the test runs.
struct SilentPort {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int port = 0;
  SilentPort() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
      port = ntohs(a.sin_port);
  }
  ~SilentPort() {
    if (fd >= 0) close(fd);
  }
};

// Joiner settings for the host `host`: by address, or by discovery under name.
net::ConnectSettings joiner(int timeout) {
  net::ConnectSettings s;
  s.mode = 1;
  s.timeout = timeout;
  return s;
}

TEST(ConnectFromSettings, HostThenJoinByAddress) {
  net::ConnectPlaces places = local_places();
  Answers answers;
  net::ConnectSettings host_settings;
  host_settings.session_name = "Friday";
  Session host(net::connect_from_settings(host_settings, answers.prompts(), places));
  ASSERT_TRUE(host);
  EXPECT_EQ(platform::own_player(*host), platform::kHostPlayer);

  net::ConnectSettings s = joiner(3);
  s.connection = 1;
  s.address = "127.0.0.1";
  s.port = platform::session_port(*host);
  Session joined(net::connect_from_settings(s, answers.prompts(), places));
  ASSERT_TRUE(joined);
  EXPECT_EQ(platform::own_player(*joined), 1);
  EXPECT_TRUE(platform::session_connected(*joined));
  EXPECT_TRUE(answers.said.empty());
}

TEST(ConnectFromSettings, JoinByDiscoveryTakesTheNamedSession) {
  net::ConnectPlaces places = local_places();
  Answers answers;
  net::ConnectSettings h;
  h.session_name = "Friday game";
  Session host(net::connect_from_settings(h, answers.prompts(), places));
  ASSERT_TRUE(host);
  places.discovery_port = platform::discovery_port(*host);
  ASSERT_GT(places.discovery_port, 0);

  struct Case {
    const char* name;
    bool joins;
  } cases[] = {{"Friday game", true}, {"", true}, {"friday game", false}, {"Friday", false}};
  for (const Case& c : cases) {
    net::ConnectSettings s = joiner(2);
    s.session_name = c.name;
    s.connection = 1;  // with no address: found on the LAN all the same
    Answers a;
    Session joined(net::connect_from_settings(s, a.prompts(), places));
    EXPECT_EQ(joined != nullptr, c.joins) << c.name;
    std::vector<std::string> said;
    if (!c.joins) said = {"ask:Could not find host! Retry?|", "tell:Connection failed!|"};
    EXPECT_EQ(a.said, said) << c.name;
  }
}

TEST(ConnectFromSettings, NoHostAtTheAddressAsksAgainThenFails) {
  net::ConnectPlaces places = local_places();
  SilentPort silent;
  ASSERT_GT(silent.port, 0);
  net::ConnectSettings s = joiner(2);
  s.connection = 1;
  s.address = "127.0.0.1";
  s.port = silent.port;
  Answers answers;
  answers.oks = {true, false};  // Retry once, then Cancel
  EXPECT_EQ(net::connect_from_settings(s, answers.prompts(), places), nullptr);
  std::vector<std::string> said = {"ask:Could not find host! Retry?|", "ask:Could not find host! Retry?|",
                                   "tell:Connection failed!|"};
  EXPECT_EQ(answers.said, said);

  // With nobody to ask (no prompts at all), the first round decides.
  EXPECT_EQ(net::connect_from_settings(s, net::Prompts{}, places), nullptr);
}

TEST(ConnectFromSettings, HostOnATakenPortFails) {
  net::ConnectPlaces places = local_places();
  Answers answers;
  Session first(net::connect_from_settings(net::ConnectSettings{}, answers.prompts(), places));
  ASSERT_TRUE(first);
  net::ConnectSettings s;
  s.port = platform::session_port(*first);
  EXPECT_EQ(net::connect_from_settings(s, answers.prompts(), places), nullptr);
  EXPECT_EQ(answers.said, std::vector<std::string>{"tell:Connection failed!|"});
}

// ---- The dialog ----------------------------------------------------------------------

std::string typed(int tick, std::string_view text) {
  std::string events;
  for (char c : text) events += std::to_string(tick++) + " key 30 " + std::to_string(static_cast<unsigned char>(c)) + "\n";
  return events;
}

struct NetworkDialogTest : ::testing::Test {
  static void SetUpTestSuite() { platform::init({true, false}); }

  media::Font font;
  std::vector<std::uint8_t> skin_bytes = std::vector<std::uint8_t>(base::area_size(base::Area::panel_image));
  ui::Skin skin;
  std::vector<std::byte> block = std::vector<std::byte>(ui::kMaxScreenWidth * ui::kMaxScreenHeight);
  std::unique_ptr<ui::Kit> kit = std::make_unique<ui::Kit>();

  void SetUp() override {
    std::string data = ui::test_input::data_folder();
    if (data.empty() || !std::filesystem::exists(data + "panels.pcx")) GTEST_SKIP() << "ZEPTA_TEST_DATA not set";
    ASSERT_TRUE(media::load_font(data + "font.fnt", font, false));
    ASSERT_TRUE(ui::load_skin(data + "panels.pcx", skin_bytes, skin));
    ui::init_kit(*kit, ui::make_screen(block, 640, 480), font, skin);
    platform::input().mouse_buttons = 0;
  }
};

// The name of the session a host answers discovery with.
std::string announced_name(NetSession& host) {
  platform::FoundSession found[4];
  int n = platform::find_sessions("127.0.0.1", platform::discovery_port(host), 300, found);
  return n == 1 ? found[0].name : "";
}

TEST_F(NetworkDialogTest, HostsWithEnter) {
  net::ConnectSettings s;
  s.session_name = "Start";
  ui::test_input::script(typed(5, " Game") + "20 key 28 13\n");
  Session host(net::connect_by_dialog(*kit, s, local_places()));
  ASSERT_TRUE(host);
  EXPECT_EQ(platform::own_player(*host), platform::kHostPlayer);
  EXPECT_EQ(announced_name(*host), "Start Game");
}

TEST_F(NetworkDialogTest, JoinsATypedAddress) {
  net::ConnectPlaces places = local_places();
  Session host(net::host_session("Typed", 0, "host", places));
  ASSERT_TRUE(host);
  // Tab to the address box, type it, Tab on to "Join" (port box, list, Host, Join) and press it.
  std::string address = "127.0.0.1:" + std::to_string(platform::session_port(*host));
  ui::test_input::script("5 key 15\n6 key 15\n" + typed(10, address) + "40 key 15\n41 key 15\n42 key 15\n43 key 15\n" +
                         "50 key 28 13\n");
  Session joined(net::connect_by_dialog(*kit, net::ConnectSettings{}, places));
  ASSERT_TRUE(joined);
  EXPECT_EQ(platform::own_player(*joined), 1);
}

TEST_F(NetworkDialogTest, AFailedHostLeavesItOpenAndEscapeCancels) {
  net::ConnectPlaces places = local_places();
  Session taken(net::host_session("Taken", 0, "host", places));
  ASSERT_TRUE(taken);
  net::ConnectSettings s;
  s.port = platform::session_port(*taken);
  // Enter: "Could not host session!", answered by Enter; the dialog is still there for Escape.
  ui::test_input::script("5 key 28 13\n10 key 28 13\n15 key 1 27\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(net::connect_by_dialog(*kit, s, places), nullptr);
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.find("Nobody answered"), std::string::npos) << said;  // Escape ended it, not the script's end

  // Nobody answers the box: its text goes to stderr, and the dialog gives up after it.
  ui::test_input::script("5 key 28 13\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(net::connect_by_dialog(*kit, s, places), nullptr);
  said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("Could not host session!"), std::string::npos) << said;
  EXPECT_NE(said.find("Nobody answered"), std::string::npos) << said;
}

}  // namespace
