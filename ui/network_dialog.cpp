// The "Network connection" dialog: boxes, the list of sessions found, the
// buttons, and a search of the LAN started again every few seconds while it waits.
#include "ui/network_dialog.h"

#include <algorithm>
#include <string>

#include "media/media.h"
#include "platform/platform.h"
#include "ui/dialogs.h"
#include "ui/dialogs_local.h"

namespace ui {

namespace {

using namespace parts;

// What Tab moves through, in order.
enum Focus : int { kSessionBox, kPlayerBox, kAddressBox, kPortBox, kList, kHostButton, kJoinButton, kCancelButton, kFocusCount };

struct BoxRow {
  const char* label;
  std::string NetworkFields::*field;
  int max_chars;
};
constexpr BoxRow kBoxes[] = {
    {"Session name:", &NetworkFields::session_name, 63},
    {"Player name:", &NetworkFields::player_name, 200},
    {"Address:", &NetworkFields::address, 261},  // 255 characters and ":PORT"
    {"Port:", &NetworkFields::port, 5},
};
static_assert(std::size(kBoxes) == kList, "one box for each focus before the list");

constexpr int kWidth = 520;
constexpr int kListRows = 6;
constexpr int kLabelWidth = 120;

// Where the parts of the dialog lie, as the last drawing left them.
struct Layout {
  Box box;
  int list_x = 0, list_y = 0, list_width = 0, row_height = 0;
  int box_x = 0, box_y[kList] = {}, box_width = 0;
  int buttons[3] = {-1, -1, -1};  // Host, Join, Cancel in the button table
};

struct State {
  InputState boxes[kList];
  std::vector<LanSession> sessions;
  int selected = -1;
  int first_row = 0;
  int focus = kSessionBox;
};

std::string whole(const InputState& s) { return s.before + s.after; }

bool can_join(const State& st) { return !whole(st.boxes[kAddressBox]).empty() || st.selected >= 0; }

Layout draw(Kit& kit, State& st) {
  const media::Font& f = *kit.font;
  int line = media::line_height(f), fh = field_height(kit), bh = button_height(kit);
  Layout l;
  l.row_height = line + 2;
  int height = kBoxTitleRows + 8 + line + 4 + kListRows * l.row_height + 8 + 12 + kList * (fh + 6) + 12 + bh + 16;
  l.box = open_box(kit, kWidth, height, "Network connection");
  std::uint8_t text = skin_colour(kit.skin, SkinColour::text), ink = skin_colour(kit.skin, SkinColour::field_text);
  std::uint8_t highlight = skin_colour(kit.skin, SkinColour::highlight);
  int x = l.box.x + 12, y = l.box.y + kBoxTitleRows + 8;
  draw_text(kit.screen, f, "Sessions on the network:", x, y, text);
  y += line + 4;

  // The list: a field with a row per session, the chosen one highlighted.
  l.list_x = x;
  l.list_y = y;
  l.list_width = l.box.width - 24;
  int bottom = y + kListRows * l.row_height + 8;
  fill_rect(kit.screen, x + 4, y + 4, x + l.list_width - 4, bottom - 4, skin_colour(kit.skin, SkinColour::field));
  draw_frame(kit, x, y, x + l.list_width, bottom, 1);
  int count = static_cast<int>(st.sessions.size());
  if (st.selected >= 0) st.first_row = std::clamp(st.first_row, st.selected - kListRows + 1, st.selected);
  st.first_row = std::clamp(st.first_row, 0, std::max(0, count - kListRows));
  for (int r = 0; r < kListRows && st.first_row + r < count; ++r) {
    const LanSession& s = st.sessions[static_cast<std::size_t>(st.first_row + r)];
    int ry = y + 4 + r * l.row_height;
    if (st.first_row + r == st.selected) fill_rect(kit.screen, x + 4, ry, x + l.list_width - 5, ry + l.row_height - 1, highlight);
    std::string where = s.address + ":" + std::to_string(s.port);
    int where_width = media::text_width(f, where);
    draw_text(kit.screen, f, fit(f, s.name, l.list_width - 32 - where_width), x + 8, ry + 1, ink);
    draw_text(kit.screen, f, where, x + l.list_width - 8 - where_width, ry + 1, ink);
  }
  if (count == 0) draw_text(kit.screen, f, "(searching...)", x + 8, y + 5, ink);
  if (st.focus == kList) draw_rectangle(kit.screen, x - 2, y - 2, x + l.list_width + 1, bottom + 1, highlight);
  y = bottom + 12;

  // The boxes, their labels on the left.
  l.box_x = x + kLabelWidth;
  l.box_width = l.box.width - 24 - kLabelWidth;
  for (int k = 0; k < kList; ++k) {
    l.box_y[k] = y;
    draw_text(kit.screen, f, kBoxes[k].label, x, y + 5, text);
    const InputState& in = st.boxes[k];
    draw_field(kit, l.box_x, y, l.box_width, whole(in), st.focus == k ? static_cast<int>(in.before.size()) : -1);
    y += fh + 6;
  }

  // "Host" (the default), "Join" (greyed while there is nothing to join) and "Cancel".
  const char* labels[3] = {"Host", "Join", "Cancel"};
  int total = 0;
  for (const char* label : labels) total += button_width(kit, label) + 12;
  int bx = l.box.x + (l.box.width - total) / 2 + 6, by = l.box.y + l.box.height - bh - 16;
  for (int k = 0; k < 3; ++k) {
    int w = button_width(kit, labels[k]);
    bool focused = st.focus == kHostButton + k || (k == 0 && st.focus < kHostButton);
    l.buttons[k] = add_button(kit, bx, by, bx + w, by + bh, 0);
    if (k == 1 && !can_join(st)) draw_centred(kit, labels[k], bx + w / 2, by + bh / 2 - 1, skin_colour(kit.skin, SkinColour::shadow));
    else draw_button_label(kit, labels[k], l.buttons[k]);
    if (focused) draw_rectangle(kit.screen, bx - 2, by - 2, bx + w + 1, by + bh + 1, highlight);
    bx += w + 12;
  }
  return l;
}

// Takes a new list of sessions, the chosen one kept when it is still there.
void take_sessions(State& st, std::vector<LanSession>& found) {
  if (found.size() > static_cast<std::size_t>(kMaxDialogSessions)) found.resize(kMaxDialogSessions);
  int keep = -1;
  if (st.selected >= 0) {
    const LanSession& was = st.sessions[static_cast<std::size_t>(st.selected)];
    for (std::size_t i = 0; i < found.size(); ++i)
      if (found[i].name == was.name && found[i].address == was.address && found[i].port == was.port) keep = static_cast<int>(i);
  }
  st.sessions = std::move(found);
  st.selected = keep;
}

}  // namespace

bool network_dialog(Kit& kit, NetworkFields& fields, const NetworkDialogHooks& hooks) {
  if (!kit.font || !hooks.host || !hooks.join) return false;
  State st;
  for (int k = 0; k < kList; ++k) {
    st.boxes[k].before = (fields.*(kBoxes[k].field)).substr(0, static_cast<std::size_t>(kBoxes[k].max_chars));
    st.boxes[k].width = 1 << 28;  // the boxes scroll: only their capacity limits the text
  }
  auto fields_of = [&] {
    for (int k = 0; k < kList; ++k) fields.*(kBoxes[k].field) = whole(st.boxes[k]);
  };
  auto search = [&] {
    if (hooks.search) hooks.search(hooks.user);
  };
  search();
  std::uint32_t next_search = platform::timer() + kSearchPeriodMs * 9 / 2;  // 4500 timer units a second

  flush_input(kit);
  show_pointer(kit, true);
  int result = -1;  // 1 a session is made, 0 cancelled
  while (result < 0) {
    Layout l = draw(kit, st);
    present(kit);
    int press = -1;  // the button pressed: 0 Host, 1 Join, 2 Cancel
    for (;;) {
      read_key(kit);
      int scan = kit.last_scan;
      int ch = static_cast<unsigned char>(kit.key_text[0]);
      if (scan == platform::kScanEscape) press = 2;
      else if (scan == platform::kScanEnter || (scan == platform::kScanSpace && st.focus >= kHostButton))
        press = st.focus >= kHostButton ? st.focus - kHostButton : 0;
      else if (scan == platform::kScanTab) st.focus = (st.focus + 1) % kFocusCount;
      else if (st.focus == kList && (scan == platform::kScanUp || scan == platform::kScanDown) && !st.sessions.empty()) {
        int last = static_cast<int>(st.sessions.size()) - 1;
        st.selected = scan == platform::kScanUp ? std::max(0, st.selected - 1) : std::min(last, st.selected + 1);
      } else if (scan && st.focus < kList)
        input_key(kit, st.boxes[st.focus], ch, scan, kBoxes[st.focus].max_chars);
      if (scan) break;

      const platform::Input& in = platform::input();
      if (in.mouse_buttons & 1) {
        int mx = in.mouse_x, my = in.mouse_y;
        bool taken = false;
        // A row of the list chooses its session; a box takes the focus and the cursor.
        if (mx > l.list_x && mx < l.list_x + l.list_width && my >= l.list_y + 4 &&
            my < l.list_y + 4 + kListRows * l.row_height) {
          int row = st.first_row + (my - l.list_y - 4) / l.row_height;
          if (row < static_cast<int>(st.sessions.size())) st.selected = row;
          st.focus = kList;
          taken = true;
        }
        for (int k = 0; k < kList && !taken; ++k)
          if (mx > l.box_x && mx < l.box_x + l.box_width && my >= l.box_y[k] && my < l.box_y[k] + field_height(kit)) {
            InputState at = st.boxes[k];
            at.x = l.box_x - 8;  // input_click counts from the text's left edge, x + 16
            input_click(kit, at, mx);
            st.boxes[k].before = at.before, st.boxes[k].after = at.after;
            st.focus = k;
            taken = true;
          }
        if (taken) {
          release_mouse(kit);
          break;
        }
        int hit = clicked_button(kit);
        if (hit == kCloseBox) press = 2;
        for (int k = 0; k < 3; ++k)
          if (hit >= 0 && hit == l.buttons[k]) press = k;
        if (press >= 0) break;
      }

      std::vector<LanSession> found;
      if (hooks.found && hooks.found(hooks.user, found)) {
        take_sessions(st, found);
        break;
      }
      if (platform::time_reached(platform::timer(), next_search)) {
        search();
        next_search = platform::timer() + kSearchPeriodMs * 9 / 2;
      }
      if (platform::waiting_gives_up()) {
        print_on_stderr("Network connection", "Nobody answered the dialog: cancelled");
        press = 2;
        break;
      }
      await_input(kit);
    }

    if (press == 2) result = 0;
    if (press == 0) {
      fields_of();
      if (hooks.host(hooks.user, fields)) result = 1;
      else message_box(kit, kCouldNotHost, " ", 0, -1);
    }
    if (press == 1 && can_join(st)) {
      fields_of();
      bool typed = !fields.address.empty();
      const LanSession* chosen = typed ? nullptr : &st.sessions[static_cast<std::size_t>(st.selected)];
      if (hooks.join(hooks.user, fields, chosen)) result = 1;
      else message_box(kit, kCouldNotJoin, " ", 0, -1);
    }
  }
  fields_of();
  close_panel(kit);
  kit.window_buttons = false;
  return result == 1;
}

}  // namespace ui
