// The "Network connection" dialog: the sessions found on the LAN, the names,
// address and port boxes, and "Host" (the default), "Join" and "Cancel". It
// knows no network: the layer that runs it searches, hosts and joins through
// the hooks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/ui.h"

namespace ui {

// A session that answered a search.
struct LanSession {
  std::string name;
  std::string address;  // dotted IPv4
  int port = 0;
};

// The boxes of the dialog, as filled in at the start and as the user leaves them.
struct NetworkFields {
  std::string session_name;  // the session to host
  std::string player_name;
  std::string address;       // "" joins the session chosen in the list
  std::string port;          // "" or "0": the default session port
};

inline constexpr char kCouldNotHost[] = "Could not host session!";
inline constexpr char kCouldNotJoin[] = "Could not join session!";
inline constexpr int kMaxDialogSessions = 64;  // sessions listed at once
inline constexpr int kSearchPeriodMs = 3000;   // the list is searched again this often

struct NetworkDialogHooks {
  void* user = nullptr;
  // Starts a search of the LAN; never waits for it.
  void (*search)(void* user) = nullptr;
  // The sessions of a search finished since the last call; false while none has finished.
  bool (*found)(void* user, std::vector<LanSession>& sessions) = nullptr;
  // Opens a session this machine hosts; false when it could not.
  bool (*host)(void* user, const NetworkFields& fields) = nullptr;
  // Joins the address of fields, or chosen (null when the address box is used); false when it could not.
  bool (*join)(void* user, const NetworkFields& fields, const LanSession* chosen) = nullptr;
};

// Runs the dialog until a session is hosted or joined (true) or it is
// cancelled (false). "Could not host session!" or "Could not join session!"
// leave it open. Tab moves between the boxes, the list and the buttons; Enter
// presses the focused button, else "Host"; Up and Down choose in the list;
// Escape and the close box cancel. When waiting gives up it cancels, saying so on stderr.
bool network_dialog(Kit& kit, NetworkFields& fields, const NetworkDialogHooks& hooks);

}  // namespace ui
