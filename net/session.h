// A program's network session: the global network state that brains reach,
// the replication of element state around the brain pass, the send step, the
// shared variables and the text messages. One exists per program; start-up
// hands it an open transport session and it runs until the program ends.
#pragma once

#include <cstdint>

namespace platform {
struct NetSession;
}

namespace net {

// Takes over an open transport session (this machine hosts it or joined it):
// the network runs from now on, the string queue empty. nullptr is refused.
void start_network(platform::NetSession* session);
// Closes the session, if any; the network instructions are inert again.
void stop_network();
// True while a session is up (what `network_mode` reads as -1).
bool network_running();

// What the session refused or could not pass on since it started.
struct SessionCounts {
  std::uint64_t refused = 0;        // malformed messages dropped whole
  std::uint64_t texts_dropped = 0;  // text messages that found the queue full
  std::uint64_t send_failed = 0;    // messages that could not be queued for sending
};
SessionCounts session_counts();

}  // namespace net
