// The message codec of network sessions: round trips of each kind, refusal of
// malformed frames with their reasons, the project stamp and the string queue.
#include "net/codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace {

using net::Status;

constexpr uint32_t kStamp = 0x12345678;
// The receiver's elements: 0 everything, 1 not replicated, 2 position with a
// correction shift, 3 the frame, 4 the on and shown flags.
const int32_t kSync[] = {0x733, 0x0C, 0x2 | 0x8, 0x400, 0x300};
const net::Layout kLayout{kStamp, kSync, 3};
const net::Layout kLayoutNoVariables{kStamp, kSync, 0};

std::unique_ptr<net::StateMessage> fresh_state() { return std::make_unique<net::StateMessage>(); }

std::vector<net::ElementState> sample_elements() {
  net::ElementState all{};
  all.index = 0;
  all.sync = 0x733;
  all.position_change = {1, -2, 3};
  all.position = {100000, -200000, 2147483647};
  all.rotation_change = {-92160, 0, 5};
  all.rotation = {184319, 1, 2};
  all.flags = 0x41;
  all.frame = 7;
  net::ElementState pos{};
  pos.index = 2;
  pos.sync = 0x2 | 0x8;
  pos.position = {-1, -2, -3};
  net::ElementState frame{};
  frame.index = 3;
  frame.sync = 0x400;
  frame.frame = -5;
  net::ElementState flags{};
  flags.index = 4;
  flags.sync = 0x300;
  flags.flags = 0x40;
  return {all, pos, frame, flags};
}

const net::VariableValue kVariables[] = {{0, 11}, {2, -7}};

std::vector<uint8_t> state_frame(bool with_variables = true, uint16_t sender = 3) {
  std::vector<uint8_t> out(net::kMaxFrameBytes);
  std::vector<net::ElementState> e = sample_elements();
  std::size_t n = net::encode_state(out, kStamp, sender, e, with_variables,
                                    with_variables ? std::span<const net::VariableValue>(kVariables)
                                                   : std::span<const net::VariableValue>());
  out.resize(n);
  return out;
}

std::vector<uint8_t> string_frame(uint32_t mask, std::string_view text) {
  std::vector<uint8_t> out(net::kMaxFrameBytes);
  out.resize(net::encode_string(out, kStamp, mask, text));
  return out;
}

// Byte offsets inside the sample state frame.
constexpr std::size_t kSenderAt = 10;
constexpr std::size_t kFirstEntryAt = 12;
constexpr std::size_t kSecondEntryAt = kFirstEntryAt + 57;
constexpr std::size_t kVariablesAt = kSecondEntryAt + 16 + 8 + 5;  // marker
constexpr std::size_t kCountAt = kVariablesAt + 4;

TEST(NetCodec, ProjectStampSumsSyncFlagsAndKeysWrapping) {
  const project::SharedVariable shared[] = {{0x00020003, 5}, {7, 9}};
  const int32_t sync[] = {0x733, 0, -1};
  struct Case {
    std::span<const int32_t> sync;
    std::span<const project::SharedVariable> shared;
    uint32_t stamp;
  };
  const Case cases[] = {
      {{}, {}, 0},
      {sync, {}, 0x733u + 0xFFFFFFFFu},  // wraps
      {{}, shared, 0x0002000Au},
      {sync, shared, 0x733u - 1u + 0x0002000Au},
  };
  for (const Case& c : cases) EXPECT_EQ(net::project_stamp(c.sync, c.shared), c.stamp);
}

TEST(NetCodec, StateMessageRoundTrip) {
  for (bool with_variables : {true, false}) {
    std::vector<uint8_t> frame = state_frame(with_variables);
    ASSERT_EQ(frame.size(), kVariablesAt + (with_variables ? 8 + 16 : 0)) << with_variables;
    EXPECT_EQ(frame[0], net::kFrameVersion);
    EXPECT_EQ(base::le32(frame.data() + 1), kStamp);
    EXPECT_EQ(frame[5], 1);
    EXPECT_EQ(base::le32(frame.data() + 6), kStamp);  // the message as laid out, stamp first
    auto m = fresh_state();
    ASSERT_EQ(net::decode_state(frame, with_variables ? kLayout : kLayoutNoVariables, *m), Status::kOk)
        << with_variables;
    EXPECT_EQ(m->stamp, kStamp);
    EXPECT_EQ(m->sender, 3);
    std::vector<net::ElementState> want = sample_elements();
    ASSERT_EQ(m->element_count, static_cast<int>(want.size()));
    for (std::size_t i = 0; i < want.size(); ++i) {
      const net::ElementState& got = m->elements[i];
      EXPECT_EQ(got.index, want[i].index);
      EXPECT_EQ(got.sync, want[i].sync);
      EXPECT_EQ(got.position_change, want[i].position_change);
      EXPECT_EQ(got.position, want[i].position);
      EXPECT_EQ(got.rotation_change, want[i].rotation_change);
      EXPECT_EQ(got.rotation, want[i].rotation);
      EXPECT_EQ(got.flags, want[i].flags);
      EXPECT_EQ(got.frame, want[i].frame);
    }
    EXPECT_EQ(m->has_variables, with_variables);
    ASSERT_EQ(m->variable_count, with_variables ? 2 : 0);
    if (with_variables) {
      EXPECT_EQ(m->variables[0].entry, 0u);
      EXPECT_EQ(m->variables[0].value, 11);
      EXPECT_EQ(m->variables[1].entry, 2u);
      EXPECT_EQ(m->variables[1].value, -7);
      EXPECT_EQ(base::le32(frame.data() + kCountAt + 4 + 8), 16u);  // offsets are entry x 8
    }
  }
}

TEST(NetCodec, HeartbeatsHaveNoEntries) {
  auto m = fresh_state();
  std::vector<uint8_t> out(64);
  for (bool with_variables : {false, true}) {
    std::size_t n = net::encode_state(out, kStamp, 0, {}, with_variables, {});
    ASSERT_EQ(n, with_variables ? 20u : 12u);
    EXPECT_EQ(net::decode_state({out.data(), n}, with_variables ? kLayout : kLayoutNoVariables, *m), Status::kOk);
    EXPECT_EQ(m->element_count, 0);
    EXPECT_EQ(m->variable_count, 0);
    EXPECT_EQ(m->has_variables, with_variables);
  }
}

TEST(NetCodec, StringMessageRoundTrip) {
  const std::string longest(net::kMaxTextBytes, 'x');
  for (std::string_view text : {std::string_view("hello"), std::string_view(""), std::string_view(longest)}) {
    std::vector<uint8_t> frame = string_frame(0x80000001, text);
    ASSERT_EQ(frame.size(), 6 + text.size() + 9);
    EXPECT_EQ(frame[5], 2);
    EXPECT_EQ(base::le32(frame.data() + 6), 0u);  // the message as laid out: zero word first
    net::StringMessage m;
    ASSERT_EQ(net::decode_string(frame, kStamp, m), Status::kOk);
    EXPECT_EQ(m.mask, 0x80000001u);
    EXPECT_EQ(m.text, text);
  }
}

TEST(NetCodec, StampZeroStillTellsTheKindsApart) {
  std::vector<uint8_t> out(64);
  std::size_t n = net::encode_state(out, 0, 1, {}, false, {});
  net::MessageKind kind{};
  uint32_t stamp = 1;
  ASSERT_EQ(net::read_header({out.data(), n}, 0, kind, stamp), Status::kOk);
  EXPECT_EQ(kind, net::MessageKind::kState);
  auto m = fresh_state();
  EXPECT_EQ(net::decode_state({out.data(), n}, net::Layout{0, kSync, 0}, *m), Status::kOk);
  net::StringMessage s;
  EXPECT_EQ(net::decode_string({out.data(), n}, 0, s), Status::kUnknownKind);
}

// A frame changed by f.
template <typename F>
std::vector<uint8_t> changed(std::vector<uint8_t> frame, F f) {
  f(frame);
  return frame;
}
void put32(std::vector<uint8_t>& f, std::size_t at, uint32_t v) { base::put_le32(f.data() + at, v); }

TEST(NetCodec, MalformedStateFramesAreRefusedWithTheirReason) {
  const std::vector<uint8_t> good = state_frame();
  struct Case {
    const char* what;
    std::vector<uint8_t> frame;
    Status status;
    int elements_before;  // entries listed before the fault
  };
  const Case cases[] = {
      {"empty", {}, Status::kShortFrame, 0},
      {"header only", {good.begin(), good.begin() + 6}, Status::kShortFrame, 0},
      {"no sender", {good.begin(), good.begin() + 11}, Status::kShortFrame, 0},
      {"wrong version", changed(good, [](auto& f) { f[0] = 2; }), Status::kWrongVersion, 0},
      {"other project", changed(good, [](auto& f) { put32(f, 1, kStamp + 1); }), Status::kWrongStamp, 0},
      {"unknown kind", changed(good, [](auto& f) { f[5] = 9; }), Status::kUnknownKind, 0},
      {"string kind", changed(good, [](auto& f) { f[5] = 2; }), Status::kUnknownKind, 0},
      {"inner stamp", changed(good, [](auto& f) { put32(f, 6, 0); }), Status::kStampsDisagree, 0},
      {"sender 101", changed(good, [](auto& f) { f[kSenderAt] = 101; }), Status::kBadSender, 0},
      {"sender 65535", changed(good, [](auto& f) { f[kSenderAt] = f[kSenderAt + 1] = 0xFF; }), Status::kBadSender, 0},
      {"index = element count", changed(good, [](auto& f) { put32(f, kSecondEntryAt, 5); }), Status::kIndexBeyond, 1},
      {"index negative", changed(good, [](auto& f) { put32(f, kFirstEntryAt, 0x80000000); }), Status::kIndexBeyond, 0},
      {"index repeated", changed(good, [](auto& f) { put32(f, kSecondEntryAt, 0); }), Status::kIndexOutOfOrder, 1},
      {"not replicated here", changed(good, [](auto& f) { put32(f, kSecondEntryAt, 1); }), Status::kNotReplicated, 1},
      {"entry cut", {good.begin(), good.begin() + kFirstEntryAt + 56}, Status::kTruncatedEntry, 0},
      {"index cut", {good.begin(), good.begin() + kSecondEntryAt + 3}, Status::kTruncatedEntry, 1},
      {"count cut", {good.begin(), good.begin() + kCountAt + 2}, Status::kTruncatedEntry, 4},
      {"count 2049", changed(good, [](auto& f) { put32(f, kCountAt, 2049); }), Status::kCountTooBig, 4},
      {"count beyond the frame", changed(good, [](auto& f) { put32(f, kCountAt, 3); }), Status::kCountTooBig, 4},
      {"count huge", changed(good, [](auto& f) { put32(f, kCountAt, 0xFFFFFFFF); }), Status::kCountTooBig, 4},
      {"pair cut", {good.begin(), good.end() - 1}, Status::kCountTooBig, 4},
      {"offset 4", changed(good, [](auto& f) { put32(f, kCountAt + 4, 4); }), Status::kBadVariableOffset, 4},
      {"offset past the table", changed(good, [](auto& f) { put32(f, kCountAt + 12, 24); }), Status::kVariableBeyond, 4},
      {"byte after", changed(good, [](auto& f) { f.push_back(0); }), Status::kTrailingBytes, 4},
  };
  auto m = fresh_state();
  for (const Case& c : cases) {
    // An exact-size copy, so a read past the end trips the address sanitizer.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[c.frame.size()]);
    std::copy(c.frame.begin(), c.frame.end(), bytes.get());
    Status s = net::decode_state({bytes.get(), c.frame.size()}, kLayout, *m);
    EXPECT_EQ(s, c.status) << c.what << ": " << net::status_text(s);
    EXPECT_EQ(m->element_count, c.elements_before) << c.what;
  }
  // The variable section is there exactly when the project has shared variables.
  EXPECT_EQ(net::decode_state(state_frame(false), kLayout, *m), Status::kTruncatedEntry);
  EXPECT_EQ(m->element_count, 4);
  EXPECT_EQ(net::decode_state(good, kLayoutNoVariables, *m), Status::kIndexBeyond);
  EXPECT_EQ(m->element_count, 4);
  // Another project's stamp is reported as such, with the kind and stamp read.
  net::MessageKind kind{};
  uint32_t stamp = 0;
  EXPECT_EQ(net::read_header(cases[4].frame, kStamp, kind, stamp), Status::kWrongStamp);
  EXPECT_EQ(stamp, kStamp + 1);
  EXPECT_EQ(kind, net::MessageKind::kState);
}

TEST(NetCodec, EveryCutOfAGoodFrameIsRefused) {
  auto m = fresh_state();
  net::StringMessage s;
  for (const std::vector<uint8_t>& good : {state_frame(true), state_frame(false), string_frame(1, "hi there")}) {
    for (std::size_t n = 0; n < good.size(); ++n) {
      std::vector<uint8_t> cut(good.begin(), good.begin() + n);
      cut.shrink_to_fit();
      bool variables = good.size() > kVariablesAt;
      Status got = good[5] == 2                ? net::decode_string(cut, kStamp, s)
                   : variables ? net::decode_state(cut, kLayout, *m)
                               : net::decode_state(cut, kLayoutNoVariables, *m);
      // A state message without variables may end after any whole entry.
      bool whole = good[5] == 1 && !variables &&
                   (n == kFirstEntryAt || n == kSecondEntryAt || n == kSecondEntryAt + 16 || n == kSecondEntryAt + 24);
      EXPECT_EQ(got == Status::kOk, whole) << "cut at " << n << " of " << good.size();
    }
  }
}

TEST(NetCodec, MalformedStringFramesAreRefusedWithTheirReason) {
  const std::vector<uint8_t> good = string_frame(5, "abc");
  std::vector<uint8_t> too_long = string_frame(5, std::string(net::kMaxTextBytes, 'y'));
  too_long.back() = 'y';
  too_long.push_back(0);
  struct Case {
    const char* what;
    std::vector<uint8_t> frame;
    Status status;
  };
  const Case cases[] = {
      {"no zero byte", {good.begin(), good.begin() + 14}, Status::kShortFrame},
      {"other project", changed(good, [](auto& f) { put32(f, 1, 0); }), Status::kWrongStamp},
      {"state kind", changed(good, [](auto& f) { f[5] = 1; }), Status::kUnknownKind},
      {"first word not 0", changed(good, [](auto& f) { f[6] = 1; }), Status::kNotStringMessage},
      {"unterminated", changed(good, [](auto& f) { f.back() = 'd'; }), Status::kUnterminatedText},
      {"zero inside", changed(good, [](auto& f) { f[15] = 0; }), Status::kUnterminatedText},
      {"text too long", too_long, Status::kTextTooLong},
  };
  for (const Case& c : cases) {
    net::StringMessage m;
    m.mask = 99;
    Status s = net::decode_string(c.frame, kStamp, m);
    EXPECT_EQ(s, c.status) << c.what << ": " << net::status_text(s);
    EXPECT_EQ(m.mask, 0u) << c.what;
    EXPECT_TRUE(m.text.empty()) << c.what;
  }
}

TEST(NetCodec, EncodersRefuseWhatDoesNotFitOrWouldBeRefused) {
  const std::vector<uint8_t> good = state_frame();
  std::vector<net::ElementState> elements = sample_elements();
  // Every buffer one byte short of the message: nothing written past it.
  for (std::size_t size : {std::size_t{0}, std::size_t{11}, good.size() - 1}) {
    std::vector<uint8_t> out(size + 8, 0xAB);
    EXPECT_EQ(net::encode_state({out.data(), size}, kStamp, 3, elements, true, kVariables), 0u) << size;
    for (std::size_t i = size; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAB) << size;
  }
  std::vector<uint8_t> out(net::kMaxFrameBytes);
  EXPECT_EQ(net::encode_state(out, kStamp, 101, elements, true, kVariables), 0u);
  EXPECT_EQ(net::encode_state(out, kStamp, 3, elements, false, kVariables), 0u);
  std::swap(elements[0], elements[1]);
  EXPECT_EQ(net::encode_state(out, kStamp, 3, elements, true, kVariables), 0u);
  elements = {net::ElementState{}};
  elements[0].index = net::kEndOfElements;
  EXPECT_EQ(net::encode_state(out, kStamp, 3, elements, false, {}), 0u);
  const net::VariableValue beyond[] = {{project::kMaxSharedVariables, 1}};
  EXPECT_EQ(net::encode_state(out, kStamp, 3, {}, true, beyond), 0u);

  EXPECT_EQ(net::encode_string(out, kStamp, 1, std::string_view("a\0b", 3)), 0u);
  EXPECT_EQ(net::encode_string(out, kStamp, 1, std::string(net::kMaxTextBytes + 1, 'z')), 0u);
  EXPECT_EQ(net::encode_string({out.data(), 6 + 9 + 2}, kStamp, 1, "abc"), 0u);
  EXPECT_EQ(net::encode_string({out.data(), 6 + 9 + 3}, kStamp, 1, "abc"), 18u);
}

TEST(NetCodec, TheLargestStateMessageFitsTheFrameBuffer) {
  std::vector<net::ElementState> elements(project::kMaxElements);
  std::vector<int32_t> sync(project::kMaxElements, 0x7FF);
  for (int i = 0; i < project::kMaxElements; ++i) {
    elements[i].index = i;
    elements[i].sync = 0x7FF;
    elements[i].frame = i;
  }
  std::vector<net::VariableValue> variables(net::kMaxVariablePairs);
  for (int i = 0; i < net::kMaxVariablePairs; ++i) variables[i] = {static_cast<uint32_t>(i), -i};
  std::vector<uint8_t> out(net::kMaxFrameBytes);
  ASSERT_EQ(net::encode_state(out, kStamp, 100, elements, true, variables), out.size());
  auto m = fresh_state();
  ASSERT_EQ(net::decode_state(out, net::Layout{kStamp, sync, project::kMaxSharedVariables}, *m), Status::kOk);
  EXPECT_EQ(m->element_count, project::kMaxElements);
  EXPECT_EQ(m->variable_count, net::kMaxVariablePairs);
  EXPECT_EQ(m->elements[255].frame, 255);
  EXPECT_EQ(m->variables[2047].value, -2047);
}

TEST(NetCodec, OwnershipFollowsMachineNumberAndHost) {
  struct Case {
    int32_t owner, machine;
    bool host, owned;
  };
  const Case cases[] = {
      {3, 3, false, true}, {3, 2, false, false}, {0, 2, false, false}, {0, 2, true, true},
      {0, 0, false, true}, {3, 0, true, false}, {100, 100, false, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(net::owned_by(c.owner, c.machine, c.host), c.owned) << c.owner << " " << c.machine << " " << c.host;
  EXPECT_EQ(net::variable_owner(2 * 65536 + 7), 2);
  EXPECT_EQ(net::variable_owner(7), 0);
}

TEST(NetCodec, ASenderSetsOnlyWhatItOwns) {
  // Elements 0..4 owned by 3, 1, 0, 3, 3 (only 4 listed: element 4 has no owner);
  // variables owned by 0, 3, 2.
  const int32_t owners[] = {3, 1, 0, 3};
  const project::SharedVariable shared[] = {{0 * 65536 + 1, 0}, {3 * 65536 + 2, 0}, {2 * 65536 + 3, 0}};
  struct Case {
    uint16_t sender;
    bool hosts;
    std::vector<uint32_t> elements;  // indexes kept
    std::vector<uint32_t> variables;  // entries kept
  };
  const Case cases[] = {
      {3, false, {0, 3}, {}},      // the sample sets variables 0 and 2 only
      {3, true, {0, 2, 3}, {0}},   // the host also owns owner 0
      {2, false, {}, {2}},
      {0, false, {2}, {0}},        // machine 0 owns owner 0 even when not hosting
  };
  auto m = fresh_state();
  const std::vector<uint8_t> frame = state_frame();
  for (const Case& c : cases) {
    std::vector<uint8_t> f = frame;
    base::put_le16(f.data() + kSenderAt, c.sender);
    ASSERT_EQ(net::decode_state(f, kLayout, *m), Status::kOk);
    int before = m->element_count + m->variable_count;
    int dropped = net::keep_senders_own(*m, c.hosts, owners, shared);
    std::vector<uint32_t> elements, variables;
    for (int i = 0; i < m->element_count; ++i) elements.push_back(m->elements[i].index);
    for (int i = 0; i < m->variable_count; ++i) variables.push_back(m->variables[i].entry);
    EXPECT_EQ(elements, c.elements) << c.sender << c.hosts;
    EXPECT_EQ(variables, c.variables) << c.sender << c.hosts;
    EXPECT_EQ(dropped, before - m->element_count - m->variable_count);
  }
  EXPECT_EQ(m->elements[0].position, (net::Vec3{-1, -2, -3}));  // kept entries keep their fields
}

// ---- The string queue

TEST(NetStringQueue, PollTakesTheHeadOnlyWhenItsMaskMatches) {
  auto q = std::make_unique<net::StringQueue>();
  char out[32] = "stale";
  EXPECT_EQ(q->poll(0xFFFFFFFF, out), -1);
  EXPECT_STREQ(out, "");
  ASSERT_TRUE(q->push(1, "first"));
  ASSERT_TRUE(q->push(2, "second"));
  ASSERT_TRUE(q->push(3, ""));
  EXPECT_EQ(q->used(), 10 + 11 + 5);
  struct Step {
    uint32_t mask;
    int result;
    const char* text;
  };
  const Step steps[] = {
      {2, -1, ""},  // head has mask 1: left for a matching poll
      {0, -1, ""},
      {5, 5, "first"},
      {1, -1, ""},
      {0x80000002, 6, "second"},
      {1, 0, ""},  // an empty text is a message too
      {0xFFFFFFFF, -1, ""},
  };
  for (const Step& s : steps) {
    std::strcpy(out, "stale");
    EXPECT_EQ(q->poll(s.mask, out), s.result) << s.mask;
    EXPECT_STREQ(out, s.text) << s.mask;
  }
  EXPECT_TRUE(q->empty());
}

TEST(NetStringQueue, PushRefusesWhatDoesNotFit) {
  auto q = std::make_unique<net::StringQueue>();
  EXPECT_FALSE(q->push(3, std::string_view("a\0b", 3)));
  EXPECT_TRUE(q->empty());
  // Fill to the last byte: one entry of 23,000 bytes and one of the rest.
  ASSERT_TRUE(q->push(1, std::string(23000 - 5, 'a')));
  const std::size_t rest = net::kStringQueueBytes - 23000 - 5;
  EXPECT_FALSE(q->push(2, std::string(rest + 1, 'b')));
  EXPECT_EQ(q->used(), 23000);
  ASSERT_TRUE(q->push(2, std::string(rest, 'b')));
  EXPECT_EQ(q->used(), net::kStringQueueBytes);
  EXPECT_FALSE(q->push(3, ""));
  // Taking the head makes room and keeps the rest in order.
  char small[4];
  EXPECT_EQ(q->poll(1, small), 23000 - 5);
  EXPECT_STREQ(small, "aaa");  // cut to the variable's capacity
  EXPECT_TRUE(q->push(4, "c"));
  std::string big(rest + 1, '\0');
  EXPECT_EQ(q->poll(2, big), static_cast<int>(rest));
  EXPECT_EQ(std::string(big.c_str()), std::string(rest, 'b'));
  EXPECT_EQ(q->poll(2, small), -1);
  EXPECT_EQ(q->poll(4, small), 1);
  EXPECT_STREQ(small, "c");
  EXPECT_TRUE(q->empty());
  EXPECT_EQ(q->poll(3, {}), -1);  // no room to copy into: still safe
}

}  // namespace
