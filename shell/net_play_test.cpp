// Machines playing one project together: zepta programs run headless at once
// on 127.0.0.1, one hosting and the others joining, each with its own working
// folder. Their dumps tell what each machine ended with.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/memory.h"
#include "project/project.h"
#include "tests/program_fixture.h"

namespace {

namespace fs = std::filesystem;
using program_test::Outcome;
using program_test::read;
using program_test::write;

// A UDP port free on 127.0.0.1 a moment ago.
int free_udp_port() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
    port = ntohs(a.sin_port);
  if (fd >= 0) close(fd);
  return port;
}

// What a machine's dump says: globals and record words by element.
struct Dump {
  std::map<int, std::int32_t> global;
  std::map<std::pair<int, int>, std::int32_t> word;
  std::int32_t g(int i) const { return global.count(i) ? global.at(i) : 0; }
  std::int32_t w(int e, int i) const { return word.count({e, i}) ? word.at({e, i}) : 0; }
};
Dump parse(const std::string& text) {
  Dump d;
  std::istringstream in(text);
  std::string kind;
  while (in >> kind) {
    if (kind == "global") {
      int i;
      std::int32_t v;
      in >> i >> v;
      d.global[i] = v;
    } else if (kind == "element") {
      int e, i;
      std::int32_t v;
      in >> e >> i >> v;
      d.word[{e, i}] = v;
    } else {
      std::string rest;
      std::getline(in, rest);
    }
  }
  return d;
}

// Each machine's brains; element 0 runs the machine (its number from command value 0).
constexpr const char* kControl = R"(var s
var t
t = timer(element)
if t = 0
machine_number_set(par_get(0))
max_framerate_set(60)
s = str_create(40)
endif
global_set(30, network_mode())
global_set(31, host())
global_set(32, machine_number())
if machine_number() = 1
if t = 60
str_send("1", 1)
str_send("2", 2)
str_send("3", 1)
endif
if t > 30
global_set(10, 4242)
endif
endif
if machine_number() = 2
global_set(11, 77)
global_set(10, 5)
endif
str_poll(s, 1)
if str_len(s) > 0
global_set(20, global(20) * 10 + str_val(s))
endif
str_poll(s, 2)
if str_len(s) > 0
global_set(21, global(21) * 10 + str_val(s))
endif
global_set(33, machine_status(1))
global_set(34, machine_status(2))
if network_mismatch() = -1
global_add(35, 1)
endif
)";
// The host's element (owner 0) and machine 2's (owner 2): every machine's brain
// tries to move them, only the owner's moves last.
constexpr const char* kHostsMover = R"(if timer(element) < 150
position_x_add(element, 300)
endif
if timer(element) > 300
if timer(element) < 361
position_y_add(element, 100)
endif
endif
)";
constexpr const char* kSecondsMover = R"(if timer(element) < 150
position_z_add(element, -200)
rotation_y_add(element, 700)
endif
)";

class NetPlayTest : public program_test::ProgramFixture {
 protected:
  // Another working folder with the same data, for another machine.
  std::string machine_folder(int n) {
    std::string folder = work + "m" + std::to_string(n) + "/";
    fs::create_directories(folder);
    for (const char* sub : {"data", "projects", "brains", "temp", "cameras", "sounds", "tracks"})
      fs::copy(work + sub, folder + sub, fs::copy_options::recursive);
    return folder;
  }
  // projects/t.prj with the three elements above; shared: the settings line's list.
  void make_net_project(const std::string& shared, int extra_sync = 0) {
    make_project({kControl, kHostsMover, kSecondsMover}, {},
                 {{1, project::kFieldNetworkSync, std::to_string(0x3 + extra_sync)},
                  {2, project::kFieldNetworkSync, std::to_string(0x33)},
                  {2, project::kFieldOwnerMachine, "2"}});
    std::string path = work + "projects/t.prj";
    std::string text = read(path);
    // The settings line follows the element lines: "background|repetitions|shared".
    std::size_t at = text.find("\r\n@0");
    ASSERT_NE(at, std::string::npos);
    std::size_t line_start = text.rfind("\r\n", at - 1) + 2;
    std::string settings = text.substr(line_start, at - line_start);
    std::size_t last_bar = settings.rfind('|');
    ASSERT_NE(last_bar, std::string::npos);
    text.replace(line_start, at - line_start, settings.substr(0, last_bar + 1) + shared);
    write(path, text);
  }
  // Runs the machines at once: machine 1 hosts on port, the others join it.
  std::vector<Outcome> play(const std::vector<std::string>& folders, int port, int ticks,
                            std::vector<int> numbers = {}, std::vector<int> machine_ticks = {}) {
    std::vector<Outcome> out(folders.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < folders.size(); ++i) {
      std::vector<std::string> args = {"--headless", "--mode", "1", "--project", "projects/t.prj",
                                       "--ticks", std::to_string(i < machine_ticks.size() ? machine_ticks[i] : ticks),
                                       "--dump", "dump.txt"};
      if (i == 0) args.insert(args.end(), {"--host", "--port", std::to_string(port)});
      else args.insert(args.end(), {"--join", "127.0.0.1:" + std::to_string(port)});
      args.push_back("/" + std::to_string(i < numbers.size() ? numbers[i] : static_cast<int>(i) + 1));
      threads.emplace_back([&, i, args] {
        if (i > 0) usleep(300000);  // the host first
        out[i] = program_test::run_program_in(folders[i], args, "", folders[i]);
      });
    }
    for (std::thread& t : threads) t.join();
    return out;
  }
};

TEST_F(NetPlayTest, TwoMachinesShareElementsVariablesAndTexts) {
  make_net_project("10,11(2)");
  std::vector<std::string> folders = {machine_folder(1), machine_folder(2)};
  int port = free_udp_port();
  ASSERT_GT(port, 0);
  // The joiner ends first: once the host has gone, the joiner would host and own the host's variables.
  std::vector<Outcome> out = play(folders, port, 420, {}, {420, 300});
  Dump host = parse(out[0].dump), joiner = parse(out[1].dump);
  for (std::size_t i = 0; i < out.size(); ++i)
    ASSERT_EQ(out[i].status, 0) << "machine " << i + 1 << ": " << out[i].err;

  EXPECT_EQ(host.g(30), -1);
  EXPECT_EQ(host.g(31), -1) << "machine 1 hosts";
  EXPECT_EQ(joiner.g(30), -1);
  EXPECT_EQ(joiner.g(32), 2);

  // The host's element moved 150 times 300 on the host; the joiner's copy followed it there.
  constexpr int kX = 3, kZ = 5, kRotationY = 7;
  EXPECT_EQ(host.w(1, kX), 150 * 300);
  EXPECT_NEAR(joiner.w(1, kX), host.w(1, kX), 1);
  // Machine 2's element: moved and turned by machine 2 only.
  EXPECT_EQ(joiner.w(2, kZ), -150 * 200);
  EXPECT_NEAR(host.w(2, kZ), joiner.w(2, kZ), 1);
  std::int64_t turn_gap = (std::int64_t{host.w(2, kRotationY)} - joiner.w(2, kRotationY)) % 184320;
  EXPECT_TRUE(turn_gap <= 1 || turn_gap >= 184319 || (turn_gap >= -1 && turn_gap <= 0)) << turn_gap;

  // Shared variables: each machine's own, alike on both; machine 2's write to the host's did not last.
  EXPECT_EQ(host.g(10), 4242);
  EXPECT_EQ(joiner.g(10), 4242);
  EXPECT_EQ(host.g(11), 77);

  // Texts in the order sent, each taken by the mask it was sent with.
  EXPECT_EQ(joiner.g(20), 13);
  EXPECT_EQ(joiner.g(21), 2);
  EXPECT_EQ(host.g(20), 0) << "a machine does not hear its own texts";
  EXPECT_GT(joiner.g(33), 0) << "machine 1 heard from lately";
  EXPECT_EQ(joiner.g(34), 1) << "its own number, used by no other machine";
  EXPECT_EQ(host.g(35), 0) << "one project: no mismatch";
}

TEST_F(NetPlayTest, MachinesOfDifferentProjectsSeeTheMismatch) {
  make_net_project("10,11(2)");
  std::string first = machine_folder(1);
  make_net_project("10,11(2)", 0x100);  // another switch on the host's element: another stamp
  std::string second = machine_folder(2);
  int port = free_udp_port();
  std::vector<Outcome> out = play({first, second}, port, 300);
  for (std::size_t i = 0; i < out.size(); ++i)
    ASSERT_EQ(out[i].status, 0) << "machine " << i + 1 << ": " << out[i].err;
  Dump host = parse(out[0].dump), joiner = parse(out[1].dump);
  EXPECT_GT(host.g(35), 0) << "ticks with network_mismatch() = -1";
  EXPECT_GT(joiner.g(35), 0);
  EXPECT_NE(joiner.g(10), 4242) << "nothing of the other project was taken";
  EXPECT_LT(joiner.w(1, 3), 150 * 300) << "the joiner's copy of the host's element did not follow it";
}

TEST_F(NetPlayTest, WhenTheHostLeavesTheLowestNumberTakesOver) {
  make_net_project("10,11(2)");
  std::vector<std::string> folders = {machine_folder(1), machine_folder(2), machine_folder(3), machine_folder(4)};
  int port = free_udp_port();
  // Machine 1 hosts and leaves after 200 ticks; of the joiners (numbers 4, 2 and 3) machine 2 takes
  // over, and stays longest, so the others end while it hosts.
  std::vector<Outcome> out = play(folders, port, 500, {1, 4, 2, 3}, {200, 500, 650, 500});
  for (std::size_t i = 0; i < out.size(); ++i)
    ASSERT_EQ(out[i].status, 0) << "machine " << i + 1 << ": " << out[i].err;
  Dump m4 = parse(out[1].dump), m2 = parse(out[2].dump), m3 = parse(out[3].dump);
  EXPECT_EQ(m2.g(31), -1) << "machine 2 hosts now";
  EXPECT_EQ(m3.g(31), 0);
  EXPECT_EQ(m4.g(31), 0);
  // The old host's element is machine 2's now: its brain moves it from tick 301 to 360, the others follow.
  constexpr int kY = 4;
  EXPECT_EQ(m2.w(1, kY), 60 * 100);
  EXPECT_NEAR(m3.w(1, kY), m2.w(1, kY), 1);
  EXPECT_NEAR(m4.w(1, kY), m2.w(1, kY), 1);
  // The host's shared variable is machine 2's now: what its brain writes there lasts and reaches the others.
  EXPECT_EQ(m2.g(10), 5);
  EXPECT_EQ(m3.g(10), 5);
  EXPECT_EQ(m4.g(10), 5);
}

}  // namespace
