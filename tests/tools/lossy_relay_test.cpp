// The lossy relay on 127.0.0.1: datagrams pass both ways, each client gets its
// own replies, "--loss 1" lets nothing through and "--loss 0" everything, and
// command lines naming another address or a bad value are refused.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A safety bound so that a broken relay fails the test instead of hanging it;
// nothing here measures time.
constexpr int kPatienceMs = 20000;

int udp_socket() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int port_of(int fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  return ntohs(a.sin_port);
}

void send_to(int fd, int port, const std::string& text) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
            static_cast<ssize_t>(text.size()));
}

// One datagram, or false when none came within the safety bound (wait_ms 0: only what is there).
bool receive(int fd, std::string& text, sockaddr_in* from = nullptr, int wait_ms = kPatienceMs) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, wait_ms) != 1) return false;
  char buffer[2048];
  sockaddr_in a{};
  socklen_t n = sizeof a;
  ssize_t size = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&a), &n);
  if (size < 0) return false;
  text.assign(buffer, static_cast<std::size_t>(size));
  if (from) *from = a;
  return true;
}

// The relay as a child process, its standard output read line by line.
class Relay {
 public:
  explicit Relay(std::vector<std::string> args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv{const_cast<char*>(ZEPTA_LOSSY_RELAY)};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(ZEPTA_LOSSY_RELAY, argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~Relay() {
    if (pid_ > 0 && status_ < 0) stop();
    if (out_ >= 0) close(out_);
  }

  // The next line of its output, "" at its end.
  std::string line() {
    std::size_t end;
    while ((end = pending_.find('\n')) == std::string::npos) {
      pollfd p{out_, POLLIN, 0};
      char chunk[4096];
      ssize_t n = poll(&p, 1, kPatienceMs) == 1 ? read(out_, chunk, sizeof chunk) : 0;
      if (n <= 0) return "";
      pending_.append(chunk, static_cast<std::size_t>(n));
    }
    std::string l = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return l;
  }

  // The port it listens on, from its first line; 0 when it did not start.
  int port() {
    std::string first = line();
    int port = 0;
    return std::sscanf(first.c_str(), "listening on 127.0.0.1:%d", &port) == 1 ? port : 0;
  }

  // SIGTERM, then its exit status and the rest of its output (the counts).
  std::string stop() {
    kill(pid_, SIGTERM);
    std::string rest;
    for (std::string l = line(); !l.empty(); l = line()) rest += l + "\n";
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == 0) {  // its output did not end: it ignored the signal
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return rest;
  }
  int status() const { return status_; }

  // Runs to its end (for command lines it refuses): its exit status.
  int wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;  // read but not yet taken as lines
  int status_ = -1;
};

TEST(LossyRelay, ForwardsBothWaysAndEachClientGetsItsOwnReplies) {
  int server = udp_socket(), a = udp_socket(), b = udp_socket();
  ASSERT_GE(server, 0);
  Relay relay({"--listen", "0", "--target", std::to_string(port_of(server)), "--loss", "0", "--delay-ms", "3",
               "--jitter-ms", "3"});
  int port = relay.port();
  ASSERT_NE(port, 0);

  constexpr int kEach = 25;
  std::set<std::string> sent_a, sent_b;
  for (int i = 0; i < kEach; ++i) {
    sent_a.insert("a" + std::to_string(i));
    sent_b.insert("b" + std::to_string(i));
    send_to(a, port, "a" + std::to_string(i));
    send_to(b, port, "b" + std::to_string(i));
  }
  // The server sees every datagram, from one upstream port per client, and
  // echoes each to where it came from.
  std::set<std::string> got;
  std::set<int> ports_a, ports_b;
  for (int i = 0; i < 2 * kEach; ++i) {
    std::string text;
    sockaddr_in from{};
    ASSERT_TRUE(receive(server, text, &from)) << "after " << i;
    got.insert(text);
    (text[0] == 'a' ? ports_a : ports_b).insert(ntohs(from.sin_port));
    ASSERT_EQ(sendto(server, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&from), sizeof from),
              static_cast<ssize_t>(text.size()));
  }
  EXPECT_EQ(got.size(), static_cast<std::size_t>(2 * kEach));
  ASSERT_EQ(ports_a.size(), 1u);
  ASSERT_EQ(ports_b.size(), 1u);
  EXPECT_NE(*ports_a.begin(), *ports_b.begin());
  EXPECT_NE(*ports_a.begin(), port);

  for (auto [fd, sent] : {std::pair{a, &sent_a}, std::pair{b, &sent_b}}) {
    std::set<std::string> back;
    for (int i = 0; i < kEach; ++i) {
      std::string text;
      ASSERT_TRUE(receive(fd, text)) << "after " << i;
      back.insert(text);
    }
    EXPECT_EQ(back, *sent);  // its own replies, each once
  }
  std::string counts = relay.stop();
  EXPECT_EQ(relay.status(), 0);
  EXPECT_NE(counts.find("up: received 50, dropped 0, forwarded 50,"), std::string::npos) << counts;
  EXPECT_NE(counts.find("down: received 50, dropped 0, forwarded 50,"), std::string::npos) << counts;
  for (int fd : {server, a, b}) close(fd);
}

// With a seeded loss the relay says which datagrams it drops (--log); exactly
// the others reach the server.
TEST(LossyRelay, PassesExactlyWhatItDoesNotDrop) {
  struct Case {
    const char* loss;
    bool none_pass, all_pass;
  };
  const Case cases[] = {{"1", true, false}, {"0", false, true}, {"0.5", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.loss);
    int server = udp_socket(), client = udp_socket();
    ASSERT_GE(server, 0);
    Relay relay({"--listen", "0", "--target", std::to_string(port_of(server)), "--loss", c.loss, "--seed", "7",
                 "--log"});
    int port = relay.port();
    ASSERT_NE(port, 0);
    constexpr int kSent = 100;  // well within a socket's receive buffer
    for (int i = 0; i < kSent; ++i) send_to(client, port, "datagram " + std::to_string(i));
    int passed = 0, dropped = 0;
    for (int i = 0; i < kSent; ++i) {
      std::string l = relay.line();
      passed += l.starts_with("up pass ");
      dropped += l.starts_with("up drop ");
    }
    ASSERT_EQ(passed + dropped, kSent);
    if (c.none_pass) {
      EXPECT_EQ(passed, 0);
    }
    if (c.all_pass) {
      EXPECT_EQ(dropped, 0);
    }
    if (!c.none_pass && !c.all_pass) {
      EXPECT_GT(passed, 0);
      EXPECT_GT(dropped, 0);
    }
    int received = 0;
    std::string text;
    for (int i = 0; i < passed; ++i) received += receive(server, text);
    EXPECT_EQ(received, passed);
    std::string counts = relay.stop();
    EXPECT_FALSE(receive(server, text, nullptr, 0)) << "one more than it passed: " << text;
    std::ostringstream want;
    want << "up: received " << kSent << ", dropped " << dropped << ", forwarded " << passed << ",";
    EXPECT_NE(counts.find(want.str()), std::string::npos) << counts;
    close(server);
    close(client);
  }
}

TEST(LossyRelay, RefusesOtherAddressesAndBadValues) {
  const std::vector<std::vector<std::string>> refused = {
      {"--listen", "10.0.0.1:5000", "--target", "5001"},
      {"--listen", "0", "--target", "192.168.1.1:5001"},
      {"--listen", "0.0.0.0:0", "--target", "5001"},
      {"--listen", "0", "--target", "0"},
      {"--listen", "0", "--target", "70000"},
      {"--listen", "0"},
      {"--listen", "0", "--target", "5001", "--loss", "1.5"},
      {"--listen", "0", "--target", "5001", "--loss", "-0.1"},
      {"--listen", "0", "--target", "5001", "--loss", "nan"},
      {"--listen", "0", "--target", "5001", "--delay-ms", "-1"},
      {"--listen", "0", "--target", "5001", "--jitter-ms", "x"},
      {"--listen", "0", "--target", "5001", "--seed"},
      {"--listen", "0", "--target", "5001", "--mirror", "1"},
  };
  for (const auto& args : refused) {
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    Relay relay(args);
    EXPECT_EQ(relay.line(), "") << shown;  // no "listening on"
    EXPECT_EQ(relay.wait(), 2) << shown;
  }
}

}  // namespace
