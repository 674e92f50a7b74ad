// The messages of network sessions as bytes: the frame every packet carries,
// the state and string messages inside it, the project stamp, and the queue of
// received text messages. Pure byte work with no transport: a session layer
// above hands packets in and out of these functions.
//
// A frame, all integers little-endian:
//
//   offset 0  1 byte   frame version (kFrameVersion)
//   offset 1  4 bytes  project stamp of the sender's project
//   offset 5  1 byte   message kind (MessageKind)
//   offset 6  ...      the message, laid out as below
//
// State message (kind 1):
//   4 bytes  project stamp (again; must equal the frame's)
//   2 bytes  sender's machine number (0..kMaxMachineNumber)
//   element entries in increasing element order, each: 4-byte element index,
//     then for each sync bit set, in this order: bit 0 position change
//     (3 x 4 bytes), bit 1 position (12), bit 4 rotation change (12), bit 5
//     rotation (12), bit 8 or 9 the low byte of the flag word (1), bit 10 the
//     frame (4). The receiver reads an entry with its own sync flags of that
//     element; equal project stamps make both sides agree on them.
//   when the project has shared variables (and only then): 0xFFFFFFFF, a
//     4-byte count n (0..2048), then n pairs (byte offset = entry index x 8,
//     value).
//   Nothing may follow.
//
// String message (kind 2):
//   4 bytes 0, 4-byte mask, the text and its zero byte (the zero byte is the
//   frame's last byte; the text holds no other zero). Texts from another
//   project (another stamp) are refused like its state messages.
//
// The kind byte keeps the two kinds apart even for a project whose stamp sums
// to 0. Every length, count, index and text of a received frame is checked
// before use: a decoder never reads outside the bytes it is given and says
// why it refused a frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/network.h"
#include "project/project.h"

namespace net {

inline constexpr uint8_t kFrameVersion = 1;
inline constexpr int kFrameHeaderBytes = 6;       // version, stamp, kind
using engine::kMaxMachineNumber;  // machine numbers are 0..100
inline constexpr int kMaxVariablePairs = project::kMaxSharedVariables;  // per state message
inline constexpr uint32_t kEndOfElements = 0xFFFFFFFF;
inline constexpr int kStringQueueBytes = 23552;
// The longest text a string message may carry: its queue entry (mask, text,
// zero byte) must fit an empty queue.
inline constexpr int kMaxTextBytes = kStringQueueBytes - 5;

// The sync flag bits of an element and what makes it replicated, as the
// engine's brain pass reads them.
using engine::kReplicatedMask;
using engine::replicated;
using engine::SyncBit;
using enum engine::SyncBit;
// Bytes of one element entry for these sync flags, the index included (4..57).
constexpr int entry_bytes(uint32_t sync) {
  int n = 4;
  for (uint32_t bit : {kSyncPositionChange, kSyncPosition, kSyncRotationChange, kSyncRotation})
    if (sync & bit) n += 12;
  if (sync & (kSyncOn | kSyncShown)) n += 1;
  if (sync & kSyncFrame) n += 4;
  return n;
}

// The largest state message: every element with every field, every variable.
inline constexpr int kMaxStateFrameBytes =
    kFrameHeaderBytes + 6 + project::kMaxElements * entry_bytes(0x7F3) + 8 + 8 * kMaxVariablePairs;
inline constexpr int kMaxStringFrameBytes = kFrameHeaderBytes + 9 + kMaxTextBytes;
// A buffer of this size holds any frame a peer may send (30,996 bytes).
inline constexpr int kMaxFrameBytes =
    kMaxStateFrameBytes > kMaxStringFrameBytes ? kMaxStateFrameBytes : kMaxStringFrameBytes;

enum class MessageKind : uint8_t { kState = 1, kString = 2 };

// Why a frame was refused; kOk when it was read whole.
enum class Status : uint8_t {
  kOk,
  kShortFrame,          // fewer bytes than the frame header and the message's fixed part
  kWrongVersion,        // another frame version
  kWrongStamp,          // another project: the header was read, nothing else
  kUnknownKind,         // a kind byte this program does not know
  kStampsDisagree,      // the state message's own stamp is not the frame's
  kBadSender,           // sender's machine number above kMaxMachineNumber
  kIndexBeyond,         // an element index at or past the receiver's element count
  kIndexOutOfOrder,     // element indexes not strictly increasing
  kNotReplicated,       // an entry for an element the receiver does not replicate
  kTruncatedEntry,      // an element entry or the variable count cut off by the frame's end
  kCountTooBig,         // more variable pairs than allowed or than the frame holds
  kBadVariableOffset,   // a variable offset that is not a multiple of 8
  kVariableBeyond,      // a variable offset past the receiver's shared-variable table
  kTrailingBytes,       // bytes after the end of the message
  kNotStringMessage,    // a string message whose first word is not 0
  kUnterminatedText,    // no zero byte at the end of the text, or one inside it
  kTextTooLong,         // a text longer than kMaxTextBytes
};
// A short English name of the status, for the log ("wrong stamp").
std::string_view status_text(Status s);

using Vec3 = std::array<int32_t, 3>;

// One element's published (or received) state. Only the fields that the sync
// flags name are written or read.
struct ElementState {
  uint32_t index = 0;        // element index, 0..kMaxElements-1
  uint32_t sync = 0;         // the sync flags the entry is laid out by
  Vec3 position_change{};    // bit 0
  Vec3 position{};           // bit 1
  Vec3 rotation_change{};    // bit 4, shortest signed angle difference
  Vec3 rotation{};           // bit 5
  uint8_t flags = 0;         // bits 8 or 9: low byte of the flag word
  int32_t frame = 0;         // bit 10: (current - base aspect) / 64
};

// One shared variable's value: entry of the shared-variable table and value.
struct VariableValue {
  uint32_t entry = 0;
  int32_t value = 0;
};

// What the receiver needs to read a state message: its own project stamp, the
// sync flags of each of its elements (index = element index; the span's size
// is the element count) and the entry count of its shared-variable table
// (0: no shared variables, so no variable section either).
struct Layout {
  uint32_t stamp = 0;
  std::span<const int32_t> sync;
  uint32_t shared_variables = 0;
};

// A decoded state message. Fixed capacity, meant to be reserved once and
// reused for every message. When decoding stops at a fault, the entries and
// variables before it are listed (the message is cut short there); the caller
// decides whether to use them.
struct StateMessage {
  uint32_t stamp = 0;
  uint16_t sender = 0;
  int element_count = 0;
  int variable_count = 0;
  bool has_variables = false;  // the 0xFFFFFFFF section was present
  std::array<ElementState, project::kMaxElements> elements;
  std::array<VariableValue, kMaxVariablePairs> variables;
};

// A decoded string message. text points into the decoded frame's bytes and
// lives as long as they do; it holds no zero byte.
struct StringMessage {
  uint32_t mask = 0;
  std::string_view text;
};

// The 32-bit wrapping sum of the sync flags of every element and the keys of
// every shared-variable entry: equal stamps mean both peers lay out state
// messages alike.
uint32_t project_stamp(std::span<const int32_t> sync, std::span<const project::SharedVariable> shared);

// ---- Ownership.

// True when the machine numbered machine owns an element or shared variable of
// this owner number: the owner is its number, or it hosts and the owner is 0.
// Used both for what this machine publishes and for what a sender may set.
constexpr bool owned_by(int32_t owner, int32_t machine, bool host) { return owner == machine || (host && owner == 0); }
// The owner machine number of a shared variable: its key's high 16 bits.
constexpr int32_t variable_owner(int32_t key) { return static_cast<int32_t>(static_cast<uint32_t>(key) >> 16); }

// Drops from a decoded message the element entries and variable values that its
// sender does not own (owners: each element's owner number, index = element
// index; shared: the receiver's shared-variable table), so a peer sets only
// its own. Entries whose element has no owner listed are dropped. Returns the
// number dropped; the rest keep their order.
int keep_senders_own(StateMessage& m, bool sender_hosts, std::span<const int32_t> owners,
                     std::span<const project::SharedVariable> shared);

// ---- Encoders: into a caller's buffer, nothing allocated. Each returns the
// bytes written, or 0 when the message does not fit out or its input is not
// one a peer would accept (an index 0xFFFFFFFF or out of order, a sender above
// kMaxMachineNumber, more than kMaxVariablePairs values, a text holding a zero
// byte or longer than kMaxTextBytes). A state message with no entries is the
// heartbeat (12 bytes without variables).

// elements in increasing index order, each laid out by its own sync field;
// with_variables writes the variable section (the sender's project has shared
// variables), even when variables is empty.
std::size_t encode_state(std::span<uint8_t> out, uint32_t stamp, uint16_t sender,
                         std::span<const ElementState> elements, bool with_variables,
                         std::span<const VariableValue> variables);
std::size_t encode_string(std::span<uint8_t> out, uint32_t stamp, uint32_t mask, std::string_view text);

// ---- Decoders.

// Reads the frame header: kind and stamp. kWrongStamp when the stamp is not
// local_stamp (kind and stamp are still set, so the caller can raise the
// mismatch flag); kShortFrame, kWrongVersion or kUnknownKind otherwise.
Status read_header(std::span<const uint8_t> frame, uint32_t local_stamp, MessageKind& kind, uint32_t& stamp);
// A whole state frame read against the receiver's layout.
Status decode_state(std::span<const uint8_t> frame, const Layout& layout, StateMessage& out);
// A whole string frame; its stamp must be local_stamp.
Status decode_string(std::span<const uint8_t> frame, uint32_t local_stamp, StringMessage& out);

// ---- The string queue: received text messages, oldest first, each stored as
// a 32-bit mask, the text and its zero byte, in 23,552 bytes reserved with
// the queue. Used from one thread (the tick); the network thread hands whole
// messages over.
class StringQueue {
 public:
  // Appends a message; false (queue unchanged) when its entry does not fit in
  // the free space or the text holds a zero byte.
  bool push(uint32_t mask, std::string_view text);
  // When the head message's mask ANDed with mask is not 0: copies its text into
  // out (cut to out.size() - 1 bytes, always zero-terminated when out is not
  // empty), removes it, moving the rest forward, and returns its full length.
  // Otherwise returns -1 and leaves the queue as it was; out then holds "".
  int poll(uint32_t mask, std::span<char> out);
  bool empty() const { return used_ == 0; }
  int used() const { return used_; }  // bytes, 0..kStringQueueBytes
  void clear() { used_ = 0; }

 private:
  std::array<uint8_t, kStringQueueBytes> bytes_{};
  int used_ = 0;
};

}  // namespace net
