// The frame, state and string messages of network sessions, the project stamp
// and the string queue. See codec.h for the byte layouts.
#include "net/codec.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"

namespace net {

static_assert(kMaxStateFrameBytes == 30996);
static_assert(kMaxStringFrameBytes < kMaxStateFrameBytes);
static_assert(entry_bytes(0) == 4 && entry_bytes(kSyncOn | kSyncShown) == 5);

namespace {

// Bytes written front to back into a fixed span; any write past its end marks
// the writer failed and writes nothing more.
struct Writer {
  std::span<uint8_t> out;
  std::size_t at = 0;
  bool failed = false;

  uint8_t* room(std::size_t n) {
    if (failed || out.size() - at < n) {
      failed = true;
      return nullptr;
    }
    uint8_t* p = out.data() + at;
    at += n;
    return p;
  }
  void u8(uint8_t v) {
    if (uint8_t* p = room(1)) *p = v;
  }
  void u16(uint16_t v) {
    if (uint8_t* p = room(2)) base::put_le16(p, v);
  }
  void u32(uint32_t v) {
    if (uint8_t* p = room(4)) base::put_le32(p, v);
  }
  void vec(const Vec3& v) {
    for (int32_t c : v) u32(static_cast<uint32_t>(c));
  }
  void text(std::string_view t) {
    if (uint8_t* p = room(t.size())) std::memcpy(p, t.data(), t.size());
  }
};

// Bytes read front to back; every read says first whether it fits.
struct Reader {
  std::span<const uint8_t> in;
  std::size_t at = 0;

  std::size_t left() const { return in.size() - at; }
  uint32_t u32() {
    uint32_t v = base::le32(in.data() + at);
    at += 4;
    return v;
  }
  Vec3 vec() {
    Vec3 v;
    for (int32_t& c : v) c = static_cast<int32_t>(u32());
    return v;
  }
};

void write_header(Writer& w, uint32_t stamp, MessageKind kind) {
  w.u8(kFrameVersion);
  w.u32(stamp);
  w.u8(static_cast<uint8_t>(kind));
}

struct StatusName {
  Status status;
  std::string_view text;
};
constexpr StatusName kStatusNames[] = {
    {Status::kOk, "ok"},
    {Status::kShortFrame, "short frame"},
    {Status::kWrongVersion, "wrong frame version"},
    {Status::kWrongStamp, "wrong project stamp"},
    {Status::kUnknownKind, "unknown message kind"},
    {Status::kStampsDisagree, "message stamp differs from frame stamp"},
    {Status::kBadSender, "sender machine number out of range"},
    {Status::kIndexBeyond, "element index beyond the elements"},
    {Status::kIndexOutOfOrder, "element indexes out of order"},
    {Status::kNotReplicated, "entry for an element not replicated here"},
    {Status::kTruncatedEntry, "truncated entry"},
    {Status::kCountTooBig, "variable count too big"},
    {Status::kBadVariableOffset, "variable offset not a multiple of 8"},
    {Status::kVariableBeyond, "variable offset beyond the table"},
    {Status::kTrailingBytes, "bytes after the message"},
    {Status::kNotStringMessage, "string message without its zero word"},
    {Status::kUnterminatedText, "text not zero-terminated"},
    {Status::kTextTooLong, "text too long"},
};
static_assert(std::size(kStatusNames) == static_cast<std::size_t>(Status::kTextTooLong) + 1);

}  // namespace

std::string_view status_text(Status s) {
  for (const StatusName& n : kStatusNames)
    if (n.status == s) return n.text;
  return "unknown status";
}

uint32_t project_stamp(std::span<const int32_t> sync, std::span<const project::SharedVariable> shared) {
  uint32_t sum = 0;
  for (int32_t s : sync) sum += static_cast<uint32_t>(s);
  for (const project::SharedVariable& v : shared) sum += static_cast<uint32_t>(v.key);
  return sum;
}

int keep_senders_own(StateMessage& m, bool sender_hosts, std::span<const int32_t> owners,
                     std::span<const project::SharedVariable> shared) {
  const int32_t sender = m.sender;
  int kept = 0, dropped = 0;
  for (int i = 0; i < m.element_count; ++i) {
    uint32_t e = m.elements[i].index;
    if (e < owners.size() && owned_by(owners[e], sender, sender_hosts))
      m.elements[kept++] = m.elements[i];
    else
      ++dropped;
  }
  m.element_count = kept;
  kept = 0;
  for (int i = 0; i < m.variable_count; ++i) {
    uint32_t v = m.variables[i].entry;
    if (v < shared.size() && owned_by(variable_owner(shared[v].key), sender, sender_hosts))
      m.variables[kept++] = m.variables[i];
    else
      ++dropped;
  }
  m.variable_count = kept;
  return dropped;
}

std::size_t encode_state(std::span<uint8_t> out, uint32_t stamp, uint16_t sender,
                         std::span<const ElementState> elements, bool with_variables,
                         std::span<const VariableValue> variables) {
  if (sender > kMaxMachineNumber || variables.size() > static_cast<std::size_t>(kMaxVariablePairs)) return 0;
  if (!with_variables && !variables.empty()) return 0;
  Writer w{out};
  write_header(w, stamp, MessageKind::kState);
  w.u32(stamp);
  w.u16(sender);
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const ElementState& e = elements[i];
    if (e.index >= static_cast<uint32_t>(project::kMaxElements)) return 0;
    if (i > 0 && e.index <= elements[i - 1].index) return 0;
    w.u32(e.index);
    if (e.sync & kSyncPositionChange) w.vec(e.position_change);
    if (e.sync & kSyncPosition) w.vec(e.position);
    if (e.sync & kSyncRotationChange) w.vec(e.rotation_change);
    if (e.sync & kSyncRotation) w.vec(e.rotation);
    if (e.sync & (kSyncOn | kSyncShown)) w.u8(e.flags);
    if (e.sync & kSyncFrame) w.u32(static_cast<uint32_t>(e.frame));
  }
  if (with_variables) {
    w.u32(kEndOfElements);
    w.u32(static_cast<uint32_t>(variables.size()));
    for (const VariableValue& v : variables) {
      if (v.entry >= static_cast<uint32_t>(project::kMaxSharedVariables)) return 0;
      w.u32(v.entry * 8);
      w.u32(static_cast<uint32_t>(v.value));
    }
  }
  return w.failed ? 0 : w.at;
}

std::size_t encode_string(std::span<uint8_t> out, uint32_t stamp, uint32_t mask, std::string_view text) {
  if (text.size() > static_cast<std::size_t>(kMaxTextBytes) || text.find('\0') != std::string_view::npos) return 0;
  Writer w{out};
  write_header(w, stamp, MessageKind::kString);
  w.u32(0);
  w.u32(mask);
  w.text(text);
  w.u8(0);
  return w.failed ? 0 : w.at;
}

Status read_header(std::span<const uint8_t> frame, uint32_t local_stamp, MessageKind& kind, uint32_t& stamp) {
  if (frame.size() < static_cast<std::size_t>(kFrameHeaderBytes)) return Status::kShortFrame;
  if (frame[0] != kFrameVersion) return Status::kWrongVersion;
  uint8_t k = frame[5];
  if (k != static_cast<uint8_t>(MessageKind::kState) && k != static_cast<uint8_t>(MessageKind::kString))
    return Status::kUnknownKind;
  kind = static_cast<MessageKind>(k);
  stamp = base::le32(frame.data() + 1);
  return stamp == local_stamp ? Status::kOk : Status::kWrongStamp;
}

Status decode_state(std::span<const uint8_t> frame, const Layout& layout, StateMessage& out) {
  out.element_count = 0;
  out.variable_count = 0;
  out.has_variables = false;
  MessageKind kind{};
  Status s = read_header(frame, layout.stamp, kind, out.stamp);
  if (s != Status::kOk) return s;
  if (kind != MessageKind::kState) return Status::kUnknownKind;
  Reader r{frame, kFrameHeaderBytes};
  if (r.left() < 6) return Status::kShortFrame;
  if (r.u32() != out.stamp) return Status::kStampsDisagree;
  out.sender = base::le16(frame.data() + r.at);
  r.at += 2;
  if (out.sender > kMaxMachineNumber) return Status::kBadSender;

  const std::size_t element_count = std::min(layout.sync.size(), static_cast<std::size_t>(project::kMaxElements));
  bool have_previous = false;
  uint32_t previous = 0;
  while (r.left() > 0) {
    if (r.left() < 4) return Status::kTruncatedEntry;
    uint32_t index = r.u32();
    if (index == kEndOfElements && layout.shared_variables > 0) {
      out.has_variables = true;
      break;
    }
    if (index >= element_count) return Status::kIndexBeyond;
    if (have_previous && index <= previous) return Status::kIndexOutOfOrder;
    uint32_t sync = static_cast<uint32_t>(layout.sync[index]);
    if (!replicated(sync)) return Status::kNotReplicated;
    if (r.left() < static_cast<std::size_t>(entry_bytes(sync) - 4)) return Status::kTruncatedEntry;
    ElementState& e = out.elements[out.element_count];
    e = ElementState{};
    e.index = index;
    e.sync = sync;
    if (sync & kSyncPositionChange) e.position_change = r.vec();
    if (sync & kSyncPosition) e.position = r.vec();
    if (sync & kSyncRotationChange) e.rotation_change = r.vec();
    if (sync & kSyncRotation) e.rotation = r.vec();
    if (sync & (kSyncOn | kSyncShown)) e.flags = frame[r.at++];
    if (sync & kSyncFrame) e.frame = static_cast<int32_t>(r.u32());
    ++out.element_count;  // strictly increasing indexes below kMaxElements: never past the array
    have_previous = true;
    previous = index;
  }
  // Equal stamps mean equal projects: the section is there exactly when this
  // project has shared variables (without them the marker is an index beyond).
  if (!out.has_variables) return layout.shared_variables > 0 ? Status::kTruncatedEntry : Status::kOk;

  if (r.left() < 4) return Status::kTruncatedEntry;
  uint32_t n = r.u32();
  if (n > static_cast<uint32_t>(kMaxVariablePairs) || n > r.left() / 8) return Status::kCountTooBig;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t offset = r.u32();
    int32_t value = static_cast<int32_t>(r.u32());
    if (offset % 8 != 0) return Status::kBadVariableOffset;
    if (offset / 8 >= layout.shared_variables) return Status::kVariableBeyond;
    out.variables[out.variable_count++] = {offset / 8, value};
  }
  return r.left() == 0 ? Status::kOk : Status::kTrailingBytes;
}

Status decode_string(std::span<const uint8_t> frame, uint32_t local_stamp, StringMessage& out) {
  out = StringMessage{};
  MessageKind kind{};
  uint32_t stamp = 0;
  Status s = read_header(frame, local_stamp, kind, stamp);
  if (s != Status::kOk) return s;
  if (kind != MessageKind::kString) return Status::kUnknownKind;
  Reader r{frame, kFrameHeaderBytes};
  if (r.left() < 9) return Status::kShortFrame;  // zero word, mask, at least the zero byte
  if (r.u32() != 0) return Status::kNotStringMessage;
  uint32_t mask = r.u32();
  const uint8_t* text = frame.data() + r.at;
  std::size_t length = r.left() - 1;  // the last byte must be the text's zero byte
  if (text[length] != 0 || std::memchr(text, 0, length) != nullptr) return Status::kUnterminatedText;
  if (length > static_cast<std::size_t>(kMaxTextBytes)) return Status::kTextTooLong;
  out.mask = mask;
  out.text = std::string_view(reinterpret_cast<const char*>(text), length);
  return Status::kOk;
}

bool StringQueue::push(uint32_t mask, std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return false;
  std::size_t free = static_cast<std::size_t>(kStringQueueBytes - used_);
  if (text.size() > free || free - text.size() < 5) return false;
  uint8_t* p = bytes_.data() + used_;
  base::put_le32(p, mask);
  std::memcpy(p + 4, text.data(), text.size());
  p[4 + text.size()] = 0;
  used_ += static_cast<int>(text.size() + 5);
  return true;
}

int StringQueue::poll(uint32_t mask, std::span<char> out) {
  if (!out.empty()) out[0] = '\0';
  if (used_ == 0 || (base::le32(bytes_.data()) & mask) == 0) return -1;
  // Entries are only written by push, so the head's zero byte lies within used_.
  const char* text = reinterpret_cast<const char*>(bytes_.data() + 4);
  std::size_t length = std::strlen(text);
  if (!out.empty()) {
    std::size_t n = std::min(length, out.size() - 1);
    std::memcpy(out.data(), text, n);
    out[n] = '\0';
  }
  int entry = static_cast<int>(length + 5);
  std::memmove(bytes_.data(), bytes_.data() + entry, static_cast<std::size_t>(used_ - entry));
  used_ -= entry;
  return static_cast<int>(length);
}

}  // namespace net
