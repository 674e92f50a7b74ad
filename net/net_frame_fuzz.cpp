// libFuzzer entry: any bytes as a received frame, read against a layout taken
// from its stamp bytes (so every sync combination is reached), then any text
// it yields pushed through a string queue.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/bytes.h"
#include "net/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto state = std::make_unique<net::StateMessage>();
  static auto queue = std::make_unique<net::StringQueue>();
  // The layout comes from the frame's own stamp bytes (so the stamps always
  // agree): element count from byte 1, sync flags from bytes 3 and 4 shifted
  // per element, shared variables from byte 2.
  if (size < 6) return 0;
  int32_t sync[project::kMaxElements];
  int count = data[1] + 1;
  uint32_t pattern = data[3] | data[4] << 8 | data[3] << 16;
  for (int i = 0; i < count; ++i) sync[i] = static_cast<int32_t>((pattern >> (i % 9)) & 0x7FF);
  net::Layout layout{base::le32(data + 1), {sync, static_cast<size_t>(count)}, data[2] & 0x3Fu};
  std::span<const uint8_t> frame(data, size);

  net::Status s = net::decode_state(frame, layout, *state);
  if (state->element_count > project::kMaxElements || state->variable_count > net::kMaxVariablePairs) __builtin_trap();
  if (s == net::Status::kOk) {
    // What was read whole encodes back to the same bytes.
    static uint8_t again[net::kMaxFrameBytes];
    size_t n = net::encode_state(again, state->stamp, state->sender, {state->elements.data(), size_t(state->element_count)},
                                 state->has_variables, {state->variables.data(), size_t(state->variable_count)});
    if (n != size || std::memcmp(again, data, n) != 0) __builtin_trap();
  }

  net::StringMessage text;
  if (net::decode_string(frame, layout.stamp, text) == net::Status::kOk) {
    if (text.text.size() > size_t(net::kMaxTextBytes)) __builtin_trap();
    if (!queue->push(text.mask, text.text)) queue->clear();
    char out[64];
    queue->poll(text.mask, out);
  }
  return 0;
}
