// The modal boxes brains open (message, input, list and file boxes) and the
// runtime error box. The layer above draws them through World::dialogs; here
// each is wrapped (sound silenced, frame clock restarted) and its handles read
// and written. Without dialogs a box prints its text on stderr and takes its default;
// once a panel or box has taken Escape, the boxes of the ending run answer Cancel unseen.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine_local.h"
#include "platform/platform.h"
#include "platform/sound.h"

namespace engine {

namespace {

using I = std::int32_t;

constexpr std::uint32_t kPauseAfterBox = 150;  // timer units from a box's end to the next frame
constexpr std::int64_t kMostListItems = 32767;  // items a list box takes, as a Windows combo box did
constexpr std::size_t kListItemChars = 255;     // characters of an item that a list box shows

// In RuntimeError order; `element`'s message is completed by the name.
constexpr std::string_view kRuntimeErrors[] = {
    "First parameter of STR_COPY() instruction must be a string variable, not a constant string.",
    "First parameter of STR_ADD() instruction must be a string variable, not a constant string.",
    "First parameter of STR_CHR() instruction must be a string variable, not a constant string.",
    "First parameter of STR_NUM() instruction must be a string variable, not a constant string.",
    "Second parameter of INPUT_BOX() instruction must be a string variable, not a constant string.",
    "First parameter of FILE_BOX() instruction must be a string variable, not a constant string.",
    "ELEMENT() instruction error! Could not find '",
};
static_assert(std::size(kRuntimeErrors) == static_cast<std::size_t>(RuntimeError::element) + 1);

// While a box is up the sound is silent; afterwards its volume comes back and
// the next frame is due a pause later, so the run does not race to catch up.
class Modal {
 public:
  explicit Modal(World& w) : world_(w), volume_(platform::master_volume()) {
    platform::set_master_volume(platform::kSilence);
  }
  ~Modal() {
    platform::set_master_volume(volume_);
    world_.clock.deadline = platform::timer() + kPauseAfterBox;
  }
  Modal(const Modal&) = delete;
  Modal& operator=(const Modal&) = delete;

 private:
  World& world_;
  int volume_;
};

// Without dialogs a box is two lines on stderr, its text cut as echo_text cuts it.
void print_box(std::string_view caption, std::string_view text) {
  if (!brain::charge_budget(kPrintedBoxCost)) return;
  std::string shown = echo_text(text);
  std::fprintf(stderr, "%.*s\n%s\n", static_cast<int>(caption.size()), caption.data(), shown.c_str());
}

// The window's title without its padding: the caption of the brains' boxes.
std::string_view caption() {
  std::string_view title = platform::window_title();
  while (!title.empty() && title.back() == ' ') title.remove_suffix(1);
  return title;
}

std::string text_copy(I value) { return std::string(text_argument(value)); }

ROUTINE(routine_msg_box) {  // (text, buttons, icon, mode)
  World* w = world();
  if (!w) return 0;
  if (escape_taken(*w)) return 0;  // the run ends: every box answers Cancel at once
  std::string text = text_copy(a);
  Modal modal(*w);
  if (w->dialogs && w->dialogs->message) return w->dialogs->message(w->dialogs->user, text, caption(), b, c);
  print_box(caption(), text);
  return b == 2 || b == 3 ? 3 : 1;  // the first button: Yes or OK
}

ROUTINE(routine_input_box) {  // (prompt, d, lines)
  World* w = world();
  if (!w) return 0;
  if (!is_handle_number(b)) {
    raise_runtime_error(*w, RuntimeError::input_box, BRAIN_CALL_SITE());
    return 0;
  }
  std::span<std::byte> block = handle_block(*w, b);
  if (block.empty() || escape_taken(*w)) return 0;
  std::string prompt = text_copy(a), text = text_copy(b);
  int max_chars = static_cast<int>(block.size() - 1);
  bool ok = true;
  {
    Modal modal(*w);
    if (w->dialogs && w->dialogs->input) ok = w->dialogs->input(w->dialogs->user, prompt, caption(), c, text, max_chars);
    else print_box(caption(), prompt + "\n" + text);
  }
  if (!ok) return 0;
  set_handle_text(*w, b, text);
  return 1;
}

ROUTINE(routine_list_box) {  // (prompt, items, selection, count, lines)
  World* w = world();
  if (!w || escape_taken(*w)) return -1;
  std::span<std::byte> cells = handle_block(*w, b);
  std::int64_t count = std::min<std::int64_t>(std::max(d, 0), static_cast<std::int64_t>(cells.size() / 4));
  std::vector<std::string> items;
  for (std::int64_t i = 0; i < count && static_cast<std::int64_t>(items.size()) < kMostListItems; ++i) {
    I item;
    std::memcpy(&item, cells.data() + 4 * i, 4);
    if (is_handle_number(item) && w->handles.slot[item].live)
      items.emplace_back(text_argument(item).substr(0, kListItemChars));
  }
  std::string prompt = text_copy(a);
  Modal modal(*w);
  if (w->dialogs && w->dialogs->list) return w->dialogs->list(w->dialogs->user, prompt, caption(), e, items, c);
  bool chosen = c >= 0 && static_cast<std::size_t>(c) < items.size();
  print_box(caption(), prompt + "\n" + (chosen ? items[static_cast<std::size_t>(c)] : std::string()));
  return chosen ? c : -1;
}

ROUTINE(routine_file_box) {  // (d, filter, mode)
  World* w = world();
  if (!w) return 0;
  if (!is_handle_number(a)) {
    raise_runtime_error(*w, RuntimeError::file_box, BRAIN_CALL_SITE());
    return 0;
  }
  std::span<std::byte> block = handle_block(*w, a);
  if (block.empty() || escape_taken(*w)) return 0;
  std::string path = text_copy(a), filter = text_copy(b);
  int max_chars = static_cast<int>(block.size() - 1);
  bool chosen = false;
  {
    Modal modal(*w);
    if (w->dialogs && w->dialogs->file) chosen = w->dialogs->file(w->dialogs->user, path, filter, caption(), c != 0, max_chars);
    else print_box(caption(), path);
  }
  if (!chosen) return 0;
  set_handle_text(*w, a, path);
  return 1;
}

constexpr Binding kBindings[] = {
    {"msg_box", routine_msg_box,
     "a text, b buttons (1 OK Cancel, 2 Yes No, 3 Yes No Cancel, else OK), c icon, d mode -> 0 Cancel 1 OK 2 No 3 Yes"},
    {"input_box", routine_input_box,
     "a prompt, b string, c prompt lines 1..3 (else in the title) -> 1 OK (b edited), 0 Cancel"},
    {"list_box", routine_list_box,
     "a prompt, b array of strings, c selection, d count, e prompt lines -> chosen index; -1 Cancel"},
    {"file_box", routine_file_box, "a string (initial name, then the path), b filter, c 0 open else save -> 1 chosen, 0 not"},
};

}  // namespace

std::span<const Binding> dialog_bindings() { return kBindings; }

void runtime_error(World& world, std::string_view message, std::uint32_t call_site) {
  if (world.runtime_error_shown) return;
  world.runtime_error_shown = true;
  {
    Modal modal(world);
    if (world.dialogs && world.dialogs->runtime_error) world.dialogs->runtime_error(world.dialogs->user, message);
    else print_box("Runtime Error", message);
  }
  int element = world.brain_element;
  if (world.errors.fault && element >= 0)
    world.errors.fault(world.errors.context, {element, brain_line(world, element, call_site), message, true, true});
  world.exit_request = INT_MIN;
}

void raise_runtime_error(World& world, RuntimeError which, std::uint32_t call_site, std::string_view name) {
  std::string message(kRuntimeErrors[static_cast<int>(which)]);
  if (which == RuntimeError::element) message += std::string(name) + "' element";
  runtime_error(world, message, call_site);
}

}  // namespace engine
