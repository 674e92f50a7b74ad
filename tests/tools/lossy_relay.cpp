// A lossy UDP relay for network tests on one machine: datagrams to 127.0.0.1:LISTEN
// go on to 127.0.0.1:TARGET from one upstream socket per client, so that replies
// find their way back; a given fraction is dropped and the rest delayed, each way.
//
//   zepta_lossy_relay --listen PORT --target PORT [--loss F] [--delay-ms N]
//                     [--jitter-ms N] [--seed N] [--log]
//
// It binds and sends only on 127.0.0.1. "--listen 0" takes a free port. Once
// listening it prints "listening on 127.0.0.1:PORT"; on SIGTERM or SIGINT it reads
// what has already arrived, counts it and prints the counts of each direction.
// --log also prints a line for each datagram as it is taken ("up drop 12",
// "down pass 40"), so a test can tell when the relay has seen what it sent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>

namespace {

constexpr int kMaxClients = 16;       // client addresses at once; the least recently heard is let go
constexpr int kQueueSlots = 2048;     // datagrams waiting out their delay
constexpr int kMaxPayload = 2048;     // bytes a datagram may carry (more than any MTU on the way)
constexpr int kMaxDelayMs = 10000;

struct Options {
  int listen_port = -1;
  int target_port = -1;
  double loss = 0;       // 0..1, the fraction dropped in each direction
  int delay_ms = 0;      // 0..kMaxDelayMs
  int jitter_ms = 0;     // 0..delay range: each datagram's delay is delay +- jitter
  std::uint32_t seed = 1;
  bool log = false;
};

struct Counts {
  long received = 0, dropped = 0, forwarded = 0, oversize = 0, queue_full = 0, undelivered = 0;
};

struct Client {
  bool used = false;
  sockaddr_in address{};
  int upstream = -1;           // connected to the target, bound to 127.0.0.1
  std::uint32_t generation = 0;  // raised when the slot passes to another client
  std::int64_t last_heard = 0;   // ms
};

struct Pending {
  bool used = false;
  bool up = false;  // towards the target
  int client = 0;
  std::uint32_t generation = 0;
  std::int64_t due = 0;  // ms
  int size = 0;
  unsigned char data[kMaxPayload];
};

// The relay's state, reserved once.
struct Relay {
  Options options;
  int listener = -1;
  Client clients[kMaxClients];
  Pending queue[kQueueSlots];
  int queued = 0;
  Counts up, down;
  long clients_replaced = 0;
  std::mt19937 random;
  unsigned char buffer[65536];  // one datagram as it is read
};

volatile sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

std::int64_t now_ms() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool read_int(std::string_view s, int low, int high, int& out) {
  int v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size() || v < low || v > high) return false;
  out = v;
  return true;
}

// "PORT" or "127.0.0.1:PORT"; any other address is refused.
bool read_endpoint(std::string_view s, int low, int& port) {
  std::size_t colon = s.rfind(':');
  if (colon != std::string_view::npos) {
    if (s.substr(0, colon) != "127.0.0.1" && s.substr(0, colon) != "localhost") return false;
    s.remove_prefix(colon + 1);
  }
  return read_int(s, low, 65535, port);
}

bool read_fraction(std::string_view s, double& out) {
  char text[32];
  if (s.empty() || s.size() >= sizeof text) return false;
  std::memcpy(text, s.data(), s.size());
  text[s.size()] = 0;
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end != text + s.size() || !(v >= 0 && v <= 1)) return false;
  out = v;
  return true;
}

int usage(const char* problem) {
  std::fprintf(stderr,
               "zepta_lossy_relay: %s\n"
               "Usage: zepta_lossy_relay --listen [127.0.0.1:]PORT --target [127.0.0.1:]PORT\n"
               "         [--loss FRACTION] [--delay-ms N] [--jitter-ms N] [--seed N] [--log]\n"
               "Relays UDP datagrams on 127.0.0.1 only, dropping FRACTION (0..1) of them each way\n"
               "and delaying the rest by N ms plus or minus the jitter. --listen 0 takes a free port.\n",
               problem);
  return 2;
}

// Fills `o` from the command line; a message naming the fault when it cannot.
const char* parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string_view name = argv[i];
    if (name == "--help") return "";
    if (name == "--log") {
      o.log = true;
      continue;
    }
    if (i + 1 >= argc) return "an option without its value";
    std::string_view value = argv[++i];
    if (name == "--listen") {
      if (!read_endpoint(value, 0, o.listen_port)) return "--listen takes a port on 127.0.0.1";
    } else if (name == "--target") {
      if (!read_endpoint(value, 1, o.target_port)) return "--target takes a port (1..65535) on 127.0.0.1";
    } else if (name == "--loss") {
      if (!read_fraction(value, o.loss)) return "--loss takes a fraction from 0 to 1";
    } else if (name == "--delay-ms") {
      if (!read_int(value, 0, kMaxDelayMs, o.delay_ms)) return "--delay-ms takes 0 to 10000";
    } else if (name == "--jitter-ms") {
      if (!read_int(value, 0, kMaxDelayMs, o.jitter_ms)) return "--jitter-ms takes 0 to 10000";
    } else if (name == "--seed") {
      int seed = 0;
      if (!read_int(value, 0, 2147483647, seed)) return "--seed takes a number from 0";
      o.seed = static_cast<std::uint32_t>(seed);
    } else {
      return "unknown option";
    }
  }
  if (o.listen_port < 0 || o.target_port < 0) return "--listen and --target are needed";
  return nullptr;
}

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

bool is_loopback(const sockaddr_in& a) { return a.sin_family == AF_INET && a.sin_addr.s_addr == htonl(INADDR_LOOPBACK); }

// A non-blocking UDP socket bound to 127.0.0.1:port (0: any free port); -1 on failure.
int bound_socket(int port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a = loopback(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The client slot for this address: its own, a free one, or the least recently heard one.
int client_for(Relay& r, const sockaddr_in& from, std::int64_t now) {
  int free_slot = -1, oldest = 0;
  for (int i = 0; i < kMaxClients; ++i) {
    Client& c = r.clients[i];
    if (c.used && c.address.sin_port == from.sin_port && c.address.sin_addr.s_addr == from.sin_addr.s_addr) {
      c.last_heard = now;
      return i;
    }
    if (!c.used && free_slot < 0) free_slot = i;
    if (c.used && c.last_heard < r.clients[oldest].last_heard) oldest = i;
  }
  int slot = free_slot >= 0 ? free_slot : oldest;
  Client& c = r.clients[slot];
  if (c.used) {
    close(c.upstream);
    ++r.clients_replaced;
  }
  c = Client{.used = false, .address = from, .upstream = -1, .generation = c.generation + 1, .last_heard = now};
  c.upstream = bound_socket(0);
  sockaddr_in target = loopback(r.options.target_port);
  if (c.upstream < 0 || connect(c.upstream, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    if (c.upstream >= 0) close(c.upstream);
    c.upstream = -1;
    return -1;
  }
  c.used = true;
  return slot;
}

// Drops the datagram or queues it for its delay.
void take(Relay& r, bool up, int client, const unsigned char* data, int size, std::int64_t now) {
  Counts& n = up ? r.up : r.down;
  ++n.received;
  auto log = [&](const char* what) {
    if (!r.options.log) return;
    std::printf("%s %s %d\n", up ? "up" : "down", what, size);
    std::fflush(stdout);
  };
  if (size > kMaxPayload) {
    ++n.oversize;
    log("oversize");
    return;
  }
  if (r.options.loss > 0 && std::uniform_real_distribution<double>(0, 1)(r.random) < r.options.loss) {
    ++n.dropped;
    log("drop");
    return;
  }
  if (r.queued == kQueueSlots) {
    ++n.queue_full;
    log("full");
    return;
  }
  log("pass");
  int delay = r.options.delay_ms;
  if (r.options.jitter_ms > 0)
    delay += std::uniform_int_distribution<int>(-r.options.jitter_ms, r.options.jitter_ms)(r.random);
  if (delay < 0) delay = 0;
  for (Pending& p : r.queue) {
    if (p.used) continue;
    p.used = true;
    p.up = up;
    p.client = client;
    p.generation = r.clients[client].generation;
    p.due = now + delay;
    p.size = size;
    std::memcpy(p.data, data, static_cast<std::size_t>(size));
    ++r.queued;
    return;
  }
}

// Sends every queued datagram that is due; returns ms until the next one (-1: none).
int send_due(Relay& r, std::int64_t now) {
  std::int64_t next = -1;
  for (Pending& p : r.queue) {
    if (!p.used) continue;
    if (p.due > now) {
      if (next < 0 || p.due < next) next = p.due;
      continue;
    }
    p.used = false;
    --r.queued;
    Counts& n = p.up ? r.up : r.down;
    Client& c = r.clients[p.client];
    if (!c.used || c.generation != p.generation) {
      ++n.undelivered;  // its client was let go meanwhile
      continue;
    }
    ssize_t sent = p.up ? send(c.upstream, p.data, static_cast<std::size_t>(p.size), 0)
                        : sendto(r.listener, p.data, static_cast<std::size_t>(p.size), 0,
                                 reinterpret_cast<const sockaddr*>(&c.address), sizeof c.address);
    if (sent == p.size)
      ++n.forwarded;
    else
      ++n.undelivered;  // the far side is gone (ECONNREFUSED) or its buffer is full
  }
  return next < 0 ? -1 : static_cast<int>(next - now);
}

// Reads every datagram waiting on the listener and the upstream sockets.
void receive_all(Relay& r, std::int64_t now) {
  unsigned char* buffer = r.buffer;
  for (;;) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t size = recvfrom(r.listener, buffer, sizeof r.buffer, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &length);
    if (size < 0) break;
    if (!is_loopback(from)) continue;
    int client = client_for(r, from, now);
    if (client < 0) {
      ++r.up.undelivered;
      continue;
    }
    take(r, true, client, buffer, static_cast<int>(size), now);
  }
  for (int i = 0; i < kMaxClients; ++i) {
    while (r.clients[i].used) {
      ssize_t size = recv(r.clients[i].upstream, buffer, sizeof r.buffer, MSG_TRUNC);
      if (size < 0) break;
      take(r, false, i, buffer, static_cast<int>(size), now);
    }
  }
}

void print_counts(const Relay& r) {
  for (int d = 0; d < 2; ++d) {
    const Counts& n = d == 0 ? r.up : r.down;
    std::printf("%s: received %ld, dropped %ld, forwarded %ld, oversize %ld, queue full %ld, undelivered %ld\n",
                d == 0 ? "up" : "down", n.received, n.dropped, n.forwarded, n.oversize, n.queue_full, n.undelivered);
  }
  std::printf("clients: replaced %ld, still queued %d\n", r.clients_replaced, r.queued);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  static Relay relay;  // the queue is large: kept off the stack
  Relay& r = relay;
  if (const char* problem = parse(argc, argv, r.options)) return usage(*problem ? problem : "a lossy UDP relay");
  r.random.seed(r.options.seed);

  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  // The signals stay blocked except inside ppoll, so one that comes between the
  // loop's test and the wait still ends the wait.
  sigset_t blocked, during_wait;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  sigprocmask(SIG_BLOCK, &blocked, &during_wait);

  r.listener = bound_socket(r.options.listen_port);
  if (r.listener < 0) {
    std::fprintf(stderr, "zepta_lossy_relay: cannot listen on 127.0.0.1:%d: %s\n", r.options.listen_port,
                 std::strerror(errno));
    return 1;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(r.listener, reinterpret_cast<sockaddr*>(&bound), &length);
  std::printf("listening on 127.0.0.1:%d\n", ntohs(bound.sin_port));
  std::fflush(stdout);

  pollfd fds[1 + kMaxClients];
  while (!g_stop) {
    int wait = send_due(r, now_ms());
    int count = 0;
    fds[count++] = {r.listener, POLLIN, 0};
    for (const Client& c : r.clients)
      if (c.used) fds[count++] = {c.upstream, POLLIN, 0};
    timespec timeout{wait / 1000, (wait % 1000) * 1000000L};
    int ready = ppoll(fds, static_cast<nfds_t>(count), wait < 0 ? nullptr : &timeout, &during_wait);
    if (ready < 0 && errno != EINTR) {
      std::fprintf(stderr, "zepta_lossy_relay: poll: %s\n", std::strerror(errno));
      break;
    }
    receive_all(r, now_ms());
  }
  // What has already arrived is counted (and, when due, sent) before the counts.
  receive_all(r, now_ms());
  send_due(r, now_ms());
  print_counts(r);
  for (const Client& c : r.clients)
    if (c.used) close(c.upstream);
  close(r.listener);
  return 0;
}
