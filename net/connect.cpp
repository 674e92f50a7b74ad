// Hosting, finding and joining a session: from the settings, in rounds of
// one-second attempts, or through the "Network connection" dialog with a LAN
// search that runs beside it.
#include "net/connect.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "ui/network_dialog.h"

namespace net {

namespace {

constexpr int kMaxFound = 32;  // sessions one probe takes in

using Clock = std::chrono::steady_clock;

bool ask(const Prompts& p, std::string_view text, std::string_view caption) {
  return p.ask && p.ask(p.user, text, caption);
}
void tell(const Prompts& p, std::string_view text, std::string_view caption) {
  if (p.tell) p.tell(p.user, text, caption);
}

// Waits until the attempt that began at `start` has had its attempt_ms.
void finish_attempt(Clock::time_point start, int attempt_ms) {
  auto left = start + std::chrono::milliseconds(attempt_ms) - Clock::now();
  if (left > Clock::duration::zero())
    platform::sleep_ms(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) + 1);
}

// One round of attempts at the address of settings: the session, or nullptr.
platform::NetSession* try_address(const ConnectSettings& s, std::string_view player, const ConnectPlaces& places) {
  for (int attempt = 0; attempt < s.timeout; ++attempt) {
    Clock::time_point start = Clock::now();
    if (platform::NetSession* session = join_address(s.address, s.port, player, places.attempt_ms, places)) return session;
    finish_attempt(start, places.attempt_ms);
  }
  return nullptr;
}

// One round of LAN searches for the session named in settings ("" takes the first
// that answers): true with where it is.
bool find_named(const ConnectSettings& s, const ConnectPlaces& places, platform::FoundSession& where) {
  platform::FoundSession found[kMaxFound];
  for (int attempt = 0; attempt < s.timeout; ++attempt) {
    Clock::time_point start = Clock::now();
    int n = platform::find_sessions(places.probe_address, places.discovery_port, places.attempt_ms, found);
    for (int i = 0; i < n; ++i)
      if (s.session_name.empty() || s.session_name == found[i].name) {
        where = found[i];
        return true;
      }
    finish_attempt(start, places.attempt_ms);
  }
  return false;
}

}  // namespace

platform::NetSession* host_session(std::string_view name, int port, std::string_view player, const ConnectPlaces& places) {
  if (port < 0 || port > 65535) return nullptr;
  std::string session_name(name.substr(0, kMaxSessionNameChars));
  platform::NetHostOptions options;
  options.bind_address = places.bind_address;
  options.port = port != 0 ? port : places.default_port;
  options.discovery_port = places.discovery_port;
  options.session_name = session_name.c_str();
  std::string player_name(player);
  options.player_name = player_name.c_str();
  return platform::open_host(options);
}

platform::NetSession* join_address(std::string_view address, int port, std::string_view player, int wait_ms,
                                   const ConnectPlaces& places) {
  if (address.empty() || address.size() > kMaxAddressChars || port < 0 || port > 65535) return nullptr;
  std::string host(address);
  std::string player_name(player);
  return platform::join_session(host.c_str(), port != 0 ? port : places.default_port, player_name.c_str(), wait_ms);
}

platform::NetSession* connect_from_settings(const ConnectSettings& s, const Prompts& prompts, const ConnectPlaces& places) {
  std::string player = player_name_of(s);
  if (s.hosting()) {
    // A host opens its session at once: no search first, whose answer it would not use.
    if (platform::NetSession* session = host_session(session_name_to_host(s), s.port, player, places)) return session;
    base::report("net", "could not host the session \"%s\" on port %d", session_name_to_host(s).c_str(),
                 s.port != 0 ? s.port : places.default_port);
    tell(prompts, kConnectionFailed, kSettingsCaption);
    return nullptr;
  }
  for (;;) {
    if (s.joins_address()) {
      if (platform::NetSession* session = try_address(s, player, places)) return session;
    } else {
      platform::FoundSession where;
      if (find_named(s, places, where)) {
        if (platform::NetSession* session = join_address(where.address, where.port, player, places.join_wait_ms, places))
          return session;
        // Found, but it would not take us: no second round.
        tell(prompts, kConnectionFailed, kSettingsCaption);
        return nullptr;
      }
    }
    if (!ask(prompts, kCouldNotFindHost, kSettingsCaption)) break;
  }
  tell(prompts, kConnectionFailed, kSettingsCaption);
  return nullptr;
}

// ---- The dialog ----------------------------------------------------------------------

namespace {

// The LAN search beside the dialog: one probe at a time on its own thread,
// its result taken by the dialog's loop.
class LanSearch {
 public:
  explicit LanSearch(const ConnectPlaces& places) : places_(places) {}
  ~LanSearch() {
    if (worker_.joinable()) worker_.join();
  }
  LanSearch(const LanSearch&) = delete;
  LanSearch& operator=(const LanSearch&) = delete;

  void start() {
    if (busy_.load(std::memory_order_acquire)) return;
    if (worker_.joinable()) worker_.join();
    busy_.store(true, std::memory_order_release);
    worker_ = std::thread([this] {
      platform::FoundSession found[kMaxFound];
      int n = platform::find_sessions(places_.probe_address, places_.discovery_port, places_.attempt_ms, found);
      std::vector<ui::LanSession> sessions;
      for (int i = 0; i < n && i < ui::kMaxDialogSessions; ++i) sessions.push_back({found[i].name, found[i].address, found[i].port});
      {
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = std::move(sessions);
        fresh_ = true;
      }
      busy_.store(false, std::memory_order_release);
    });
  }

  bool take(std::vector<ui::LanSession>& sessions) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fresh_) return false;
    sessions = latest_;
    fresh_ = false;
    return true;
  }

 private:
  ConnectPlaces places_;
  std::thread worker_;
  std::atomic<bool> busy_{false};
  std::mutex mutex_;
  std::vector<ui::LanSession> latest_;
  bool fresh_ = false;
};

struct DialogRun {
  const ConnectPlaces& places;
  LanSearch search;
  platform::NetSession* session = nullptr;
};

// The port box: "" or digits 0..65535; -1 for anything else.
int port_of(std::string_view text) {
  if (text.empty()) return 0;
  std::int32_t v = 0;
  return read_setting_number(text, v) && v >= 0 && v <= 65535 ? v : -1;
}

std::string player_of(const ui::NetworkFields& f) {
  return f.player_name.empty() ? user_name() : f.player_name.substr(0, kMaxPlayerNameChars);
}

}  // namespace

platform::NetSession* connect_by_dialog(ui::Kit& kit, const ConnectSettings& settings, const ConnectPlaces& places) {
  DialogRun run{places, LanSearch(places)};
  ui::NetworkFields fields;
  fields.session_name = settings.session_name.empty() ? computer_name() : settings.session_name;
  fields.player_name = player_name_of(settings);
  fields.address = settings.connection == 1 ? settings.address : std::string();
  if (settings.port != 0) fields.port = std::to_string(settings.port);

  ui::NetworkDialogHooks hooks;
  hooks.user = &run;
  hooks.search = [](void* user) { static_cast<DialogRun*>(user)->search.start(); };
  hooks.found = [](void* user, std::vector<ui::LanSession>& sessions) {
    return static_cast<DialogRun*>(user)->search.take(sessions);
  };
  hooks.host = [](void* user, const ui::NetworkFields& f) {
    DialogRun& r = *static_cast<DialogRun*>(user);
    int port = port_of(f.port);
    std::string name = f.session_name.empty() ? computer_name() : f.session_name;
    if (port >= 0) r.session = host_session(name, port, player_of(f), r.places);
    return r.session != nullptr;
  };
  hooks.join = [](void* user, const ui::NetworkFields& f, const ui::LanSession* chosen) {
    DialogRun& r = *static_cast<DialogRun*>(user);
    if (chosen) {
      r.session = join_address(chosen->address, chosen->port, player_of(f), r.places.join_wait_ms, r.places);
    } else {
      std::string address;
      int port = 0;
      int box_port = port_of(f.port);
      if (split_address(f.address, address, port) && box_port >= 0)
        r.session = join_address(address, port != 0 ? port : box_port, player_of(f), r.places.join_wait_ms, r.places);
    }
    return r.session != nullptr;
  };
  bool made = ui::network_dialog(kit, fields, hooks);
  if (!made) {
    platform::close_session(run.session);
    return nullptr;
  }
  return run.session;
}

}  // namespace net
