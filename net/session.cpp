#include "net/session.h"

#include "platform/net.h"

namespace net {

namespace {
platform::NetSession* g_session = nullptr;
}

void start_network(platform::NetSession* session) {
  if (!session) return;
  stop_network();
  g_session = session;
}

void stop_network() {
  platform::close_session(g_session);
  g_session = nullptr;
}

bool network_running() { return g_session != nullptr; }

}  // namespace net
