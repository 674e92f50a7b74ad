// Making the session that start-up hands to the network: from network.ini's
// settings (or the command line's), or through the "Network connection"
// dialog. Every question on the way goes through Prompts, so that a run
// nobody can answer decides without a screen.
#pragma once

#include <string_view>

#include "net/settings.h"

namespace platform {
struct NetSession;
}
namespace ui {
struct Kit;
}

namespace net {

// The texts a connection asks or tells, as the user sees them.
inline constexpr char kCouldNotFindHost[] = "Could not find host! Retry?";
inline constexpr char kConnectionFailed[] = "Connection failed!";
inline constexpr char kLaunchAnyway[] = "Could not connect, launch anyway?";
// Captions: the boxes of the settings path have an empty one, all others one blank.
inline constexpr char kSettingsCaption[] = "";
inline constexpr char kBoxCaption[] = " ";

// Whoever runs the connection answers its questions.
struct Prompts {
  void* user = nullptr;
  // The text with OK and Cancel; true for OK. Null: Cancel.
  bool (*ask)(void* user, std::string_view text, std::string_view caption) = nullptr;
  // The text with OK alone. Null: nothing shown.
  void (*tell)(void* user, std::string_view text, std::string_view caption) = nullptr;
};

// Where sessions are opened and looked for. The defaults serve a real run;
// tests keep every packet on 127.0.0.1 and take free ports.
struct ConnectPlaces {
  const char* bind_address = nullptr;             // a host listens here (numeric IPv4); nullptr: every interface
  const char* probe_address = "255.255.255.255";  // where discovery probes go
  int default_port = kDefaultSessionPort;         // the session port when "PortNumber" is 0 (0: any free port)
  int discovery_port = kDiscoveryPort;            // hosts answer probes here (0: any free port); joiners probe it
  int attempt_ms = 1000;                          // one attempt to find or reach a session ("Timeout" counts them)
  int join_wait_ms = 5000;                        // joining a session that discovery found
};

// Hosts, or finds and joins, as settings say: a host opens its session at
// once; a joiner tries "IPAddress" (when "Connection" is 1) or looks for the
// session named "SessionName" on the LAN, "Timeout" attempts a round, and asks
// kCouldNotFindHost after each round that found nothing. nullptr after telling
// kConnectionFailed.
platform::NetSession* connect_from_settings(const ConnectSettings& settings, const Prompts& prompts,
                                            const ConnectPlaces& places = {});

// Opens a session that this machine hosts under name on port (0: the places'
// default port), answering discovery on the places' discovery port. nullptr on failure.
platform::NetSession* host_session(std::string_view name, int port, std::string_view player, const ConnectPlaces& places);
// Joins the session at address:port (port 0: the places' default port),
// waiting at most wait_ms. nullptr on failure.
platform::NetSession* join_address(std::string_view address, int port, std::string_view player, int wait_ms,
                                   const ConnectPlaces& places);

// The "Network connection" dialog on kit, its boxes filled from settings:
// the sessions found on the LAN (searched again every 3 seconds), host or
// join. nullptr when it was cancelled, or nobody could answer it.
platform::NetSession* connect_by_dialog(ui::Kit& kit, const ConnectSettings& settings, const ConnectPlaces& places = {});

}  // namespace net
