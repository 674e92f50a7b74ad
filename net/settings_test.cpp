// network.ini as people write it: each key with its default, numbers in
// decimal and hexadecimal, bad values that keep the default, long texts cut,
// and the names and ports a session falls back on.
#include "net/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using net::ConnectSettings;

std::string write_ini(const std::string& text) {
  static int n = 0;
  std::string path = testing::TempDir() + "network_" + std::to_string(getpid()) + "_" + std::to_string(n++) + ".ini";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return path;
}

TEST(NetworkIni, MissingFileKeepsEveryDefault) {
  ConnectSettings s;
  EXPECT_FALSE(net::read_network_settings(testing::TempDir() + "no such network.ini", s));
  EXPECT_EQ(s.connection, 0);
  EXPECT_EQ(s.mode, 0);
  EXPECT_EQ(s.timeout, 15);
  EXPECT_EQ(s.address, "");
  EXPECT_EQ(s.port, 0);
  EXPECT_EQ(s.session_name, "");
  EXPECT_EQ(s.player_name, "");
  EXPECT_TRUE(s.hosting());
  EXPECT_FALSE(s.joins_address());
}

TEST(NetworkIni, ReadsEachKey) {
  struct Case {
    const char* file;
    ConnectSettings expected;
  } cases[] = {
      {"[Settings]\r\nConnection=1\r\nMode=1\r\nTimeout=3\r\nIPAddress=192.0.2.7\r\nPortNumber=4000\r\n"
       "SessionName=Friday game\r\nPlayerName=Ann\r\n",
       {1, 1, 3, "192.0.2.7", 4000, "Friday game", "Ann"}},
      // Any case for names, blanks around keys and values, LF alone, comments.
      {"; made by hand\n[settings]\n  mode = 0x10 \ntimeout=0x0A\nportnumber= 0x7000\nsessionname = \"  spaced \"\n",
       {0, 16, 10, "", 0x7000, "  spaced ", ""}},
      // Keys of another section, or before any section, are not ours.
      {"Mode=1\n[Other]\nMode=2\nTimeout=4\n[Settings]\nConnection=1\n", {1, 0, 15, "", 0, "", ""}},
      // The first of a repeated key counts.
      {"[Settings]\nMode=5\nMode=6\n", {0, 5, 15, "", 0, "", ""}},
      // Bad values keep the default: words, trailing letters, out of range, too big.
      {"[Settings]\nConnection=tcp\nMode=1x\nTimeout=0\nPortNumber=70000\n", {0, 0, 15, "", 0, "", ""}},
      {"[Settings]\nTimeout=-3\nPortNumber=-1\nMode=99999999999\n", {0, 0, 15, "", 0, "", ""}},
      {"[Settings]\nTimeout=3601\nMode=0x123456789\nConnection=0x\n", {0, 0, 15, "", 0, "", ""}},
      {"[Settings]\nTimeout=3600\nMode=-1\nConnection=0xFFFFFFFF\n", {-1, -1, 3600, "", 0, "", ""}},
      // An empty value is an empty text, and no number.
      {"[Settings]\nIPAddress=\nTimeout=\n", {0, 0, 15, "", 0, "", ""}},
      // Not a key line at all.
      {"[Settings]\njust words\n=7\n[Settings\nMode=1\n", {0, 0, 15, "", 0, "", ""}},
  };
  for (const Case& c : cases) {
    ConnectSettings s;
    ASSERT_TRUE(net::read_network_settings(write_ini(c.file), s)) << c.file;
    EXPECT_EQ(s.connection, c.expected.connection) << c.file;
    EXPECT_EQ(s.mode, c.expected.mode) << c.file;
    EXPECT_EQ(s.timeout, c.expected.timeout) << c.file;
    EXPECT_EQ(s.address, c.expected.address) << c.file;
    EXPECT_EQ(s.port, c.expected.port) << c.file;
    EXPECT_EQ(s.session_name, c.expected.session_name) << c.file;
    EXPECT_EQ(s.player_name, c.expected.player_name) << c.file;
  }
}

TEST(NetworkIni, LongTextsAreCutNotOverrun) {
  std::string file = "[Settings]\nIPAddress=" + std::string(300, 'a') + "\nSessionName=" + std::string(100, 's') +
                     "\nPlayerName=" + std::string(250, 'p') + "\n";
  ConnectSettings s;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(net::read_network_settings(write_ini(file), s));
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(s.address, std::string(255, 'a'));
  EXPECT_EQ(s.session_name, std::string(63, 's'));
  EXPECT_EQ(s.player_name, std::string(200, 'p'));
  EXPECT_NE(said.find("IPAddress is longer than 255 characters"), std::string::npos) << said;
}

TEST(NetworkIni, BadValueIsReportedWithItsLine) {
  ConnectSettings s;
  testing::internal::CaptureStderr();
  std::string path = write_ini("[Settings]\nMode=1\nPortNumber=http\n");
  ASSERT_TRUE(net::read_network_settings(path, s));
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(s.mode, 1);
  EXPECT_EQ(s.port, 0);
  EXPECT_NE(said.find(path + " line 3: PortNumber=http is not a value it takes; 0 is used"), std::string::npos) << said;
}

TEST(NetworkIni, Numbers) {
  struct Case {
    const char* text;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {"0", true, 0},          {"15", true, 15},           {" 42 ", true, 42},       {"-7", true, -7},
      {"0x1F", true, 31},      {"0XfF", true, 255},        {"0x80000000", true, INT32_MIN},
      {"2147483647", true, INT32_MAX}, {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0}, {"", false, 0},            {"-", false, 0},          {"0x", false, 0},
      {"0x1G", false, 0},      {"12abc", false, 0},        {"+3", false, 0},         {"1 2", false, 0},
      {"0x123456789", false, 0},
  };
  for (const Case& c : cases) {
    std::int32_t v = 0;
    EXPECT_EQ(net::read_setting_number(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(NetworkIni, NamesAndPortFallBack) {
  ConnectSettings s;
  EXPECT_EQ(net::session_port_of(s), 29071);
  s.port = 4000;
  EXPECT_EQ(net::session_port_of(s), 4000);

  EXPECT_FALSE(net::computer_name().empty());
  EXPECT_LE(net::computer_name().size(), 63u);
  EXPECT_EQ(net::session_name_to_host(s), net::computer_name());
  s.session_name = "Friday";
  EXPECT_EQ(net::session_name_to_host(s), "Friday");

  const char* was = std::getenv("USER");
  std::string saved = was ? was : "";
  setenv("USER", "ann", 1);
  EXPECT_EQ(net::player_name_of(s), "ann");
  unsetenv("USER");
  EXPECT_FALSE(net::user_name().empty());  // the login of the user id, or "Player"
  s.player_name = "Bob";
  EXPECT_EQ(net::player_name_of(s), "Bob");
  if (was) setenv("USER", saved.c_str(), 1);
}

TEST(NetworkIni, AddressWithPort) {
  struct Case {
    const char* text;
    bool ok;
    const char* address;
    int port;
  } cases[] = {
      {"127.0.0.1", true, "127.0.0.1", 0},
      {"127.0.0.1:4000", true, "127.0.0.1", 4000},
      {"game.example:65535", true, "game.example", 65535},
      {"host:0", false, "", 0},
      {"host:65536", false, "", 0},
      {"host:", false, "", 0},
      {":4000", false, "", 0},
      {"", false, "", 0},
      {"host:12x", false, "", 0},
      {"a b", false, "", 0},
      {"::1", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string address = "unchanged";
    int port = -1;
    EXPECT_EQ(net::split_address(c.text, address, port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(address, c.address) << c.text;
      EXPECT_EQ(port, c.port) << c.text;
    }
  }
  std::string address;
  int port;
  EXPECT_FALSE(net::split_address(std::string(256, 'h'), address, port));
  EXPECT_TRUE(net::split_address(std::string(255, 'h') + ":1", address, port));
}

}  // namespace
