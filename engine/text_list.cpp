// The text list of a brain pass: commands that `print`, `print_num` and
// `color_set` append and the render step replays over the picture. It lives in
// the World so that the tick empties it without knowing how it is drawn.
#include <algorithm>
#include <cstring>

#include "engine/engine_local.h"
#include "base/log.h"

namespace engine {

bool text_push(TextList& t, std::span<const std::int32_t> command, std::string_view text) {
  bool with_text = !command.empty() && command[0] == kTextString;
  std::size_t pool_bytes = with_text ? text.size() + 1 : 0;
  // Room for the command and the end marker after it.
  if (t.full || command.empty() || t.used + static_cast<int>(command.size()) + 1 > kTextListWords ||
      pool_bytes > static_cast<std::size_t>(kTextPoolBytes - t.pool_used)) {
    t.full = true;
    return false;
  }
  std::copy(command.begin(), command.end(), t.word + t.used);
  if (with_text && command.size() >= 2) {
    if (!text.empty()) std::memcpy(t.pool + t.pool_used, text.data(), text.size());  // an empty view may hold null
    t.pool[t.pool_used + static_cast<int>(text.size())] = 0;
    t.word[t.used + 1] = t.pool_used;
    t.pool_used += static_cast<int>(pool_bytes);
  }
  t.used += static_cast<int>(command.size());
  t.word[t.used] = kTextEnd;
  return true;
}

void clear_text_list(World& w) {
  TextList& t = w.text;
  if (t.full && !t.reported_full) {
    base::report("render", "text list full: the rest of a pass's texts was not drawn");
    t.reported_full = true;
  }
  t.used = 0;
  t.word[0] = kTextEnd;
  t.pool_used = 0;
  t.full = false;
  t.start_colour = t.colour;
}

void reset_text_list(TextList& t) {
  t.used = 0;
  t.word[0] = kTextEnd;
  t.pool_used = 0;
  t.full = false;
  t.start_colour = t.colour = 0xFFFFFF;
  t.reported_full = false;
}

}  // namespace engine
