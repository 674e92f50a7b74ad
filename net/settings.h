// How this machine makes or finds its network session: network.ini's
// "Settings" as a plain struct, the names a session and a player get when
// none is written, and the ports a session uses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace net {

inline constexpr int kDefaultSessionPort = 29071;  // UDP port a host listens on when "PortNumber" is 0
inline constexpr int kDiscoveryPort = 29070;       // UDP port hosts answer LAN discovery probes on
inline constexpr int kDefaultTimeout = 15;         // one-second attempts to find a session
inline constexpr int kMaxTimeout = 3600;           // attempts at most ("Timeout" above it: the default)
inline constexpr int kMaxAddressChars = 255;       // "IPAddress"
inline constexpr int kMaxSessionNameChars = 63;    // what a discovery reply carries
inline constexpr int kMaxPlayerNameChars = 200;

// network.ini's section "Settings"; the defaults are those of a missing file.
struct ConnectSettings {
  std::int32_t connection = 0;        // "Connection": 1 joins "IPAddress"; else the session is found on the LAN
  std::int32_t mode = 0;              // "Mode": 0 hosts a session, anything else joins one
  std::int32_t timeout = kDefaultTimeout;  // "Timeout": one-second attempts to find the session, 1..3600
  std::string address;                // "IPAddress": the host, numeric IPv4 or a host name (up to 255 characters)
  std::int32_t port = 0;              // "PortNumber": 0..65535; 0 is kDefaultSessionPort
  std::string session_name;           // "SessionName": "" hosts under the computer name, joins the first found
  std::string player_name;            // "PlayerName": "" is the user's login name

  bool hosting() const { return mode == 0; }
  bool joins_address() const { return connection == 1 && !address.empty(); }
};

// Fills settings from the file's section "Settings" (names of sections and keys
// in any case; integers decimal, or hexadecimal after "0x"). A missing key keeps
// its value; a bad value keeps it too and is reported once. False when the file
// cannot be read (settings unchanged).
bool read_network_settings(std::string_view path, ConnectSettings& settings);

// An integer of network.ini: optional blanks, "-", decimal digits, or "0x" and
// up to 8 hexadecimal digits (taken as 32 bits). False for anything else.
bool read_setting_number(std::string_view text, std::int32_t& value);

std::string computer_name();  // the host name, or "Session" when it has none
std::string user_name();      // $USER, else the login of the user id, else "Player"

// The session a host opens: "SessionName", else the computer name (cut to 63 bytes).
std::string session_name_to_host(const ConnectSettings& settings);
// "PlayerName", else the user name.
std::string player_name_of(const ConnectSettings& settings);
// "PortNumber", or kDefaultSessionPort for 0.
int session_port_of(const ConnectSettings& settings);

// "ADDRESS" or "ADDRESS:PORT" (PORT 1..65535); port is 0 when none is given.
// False for an empty address, a bad port or an address over 255 characters.
bool split_address(std::string_view text, std::string& address, int& port);

}  // namespace net
