// Field access routines: the motion words and stores of element records
// (register, local, pocket, signal, state) and the globals. Every element
// argument goes through element_of(): a reference that names no record reads
// 0 and changes nothing.
#include "engine/engine_local.h"

namespace engine {

namespace {

using I = std::int32_t;
using Record = project::ElementRecord;

// ---- Field access -------------------------------------------------------------------------------

template <int W>
ROUTINE(get_word) {
  Record* r = element_of(a);
  return r ? *word(*r, W) : 0;
}
template <int W>
ROUTINE(set_word) {
  if (Record* r = element_of(a)) *word(*r, W) = b;
  return 0;
}
template <int W>
ROUTINE(add_word) {
  if (Record* r = element_of(a)) *word(*r, W) = add32(*word(*r, W), b);
  return 0;
}
template <int W>
ROUTINE(get_angle) {
  Record* r = element_of(a);
  return r ? media::normalise_angle(*word(*r, W)) : 0;
}
template <int W>
ROUTINE(get_length) {  // length units to sub-units
  Record* r = element_of(a);
  return r ? static_cast<I>(static_cast<std::uint32_t>(*word(*r, W)) << 9) : 0;
}

ROUTINE(routine_register) {
  Record* r = element_of(a);
  return r && static_cast<std::uint32_t>(b) < 256 ? *word(*r, b) : 0;
}
ROUTINE(routine_register_set) {
  Record* r = element_of(a);
  if (r && static_cast<std::uint32_t>(b) < 256) *word(*r, b) = c;
  return 0;
}

ROUTINE(routine_local) {
  Record* r = element_of(a);
  return r && static_cast<std::uint32_t>(b) < 128 ? r->variables[127 - b] : 0;
}
ROUTINE(routine_local_set) {
  Record* r = element_of(a);
  if (r && static_cast<std::uint32_t>(b) < 128) r->variables[127 - b] = c;
  return 0;
}

constexpr std::uint32_t kPocketBytes = sizeof(Record::pocket);  // offsets 180..511
ROUTINE(routine_pocket) {
  Record* r = element_of(a);
  return r && static_cast<std::uint32_t>(b) < kPocketBytes ? r->pocket[b] : 0;
}
ROUTINE(routine_pocket_set) {
  Record* r = element_of(a);
  if (r && static_cast<std::uint32_t>(b) < kPocketBytes) r->pocket[b] = static_cast<std::uint8_t>(c);
  return 0;
}
ROUTINE(routine_pocket_add) {
  Record* r = element_of(a);
  if (r && static_cast<std::uint32_t>(b) < kPocketBytes) r->pocket[b] = static_cast<std::uint8_t>(r->pocket[b] + c);
  return 0;
}

// Bits 0..27 of m are cleared; each of bits 28..31 is cleared unless set in m.
I reset_mask(I m) { return static_cast<I>(static_cast<std::uint32_t>(m) ^ 0x0FFFFFFFu); }

ROUTINE(routine_signal) {
  Record* r = element_of(a);
  return r ? r->signal & b : 0;
}
ROUTINE(routine_signal_set) {
  if (Record* r = element_of(a)) r->signal |= b;
  return 0;
}
ROUTINE(routine_signal_reset) {
  if (Record* r = element_of(a)) r->signal &= reset_mask(b);
  return 0;
}
ROUTINE(routine_state) {
  Record* r = element_of(a);
  return r ? r->flags & b : 0;
}
ROUTINE(routine_state_set) {
  if (Record* r = element_of(a)) r->flags |= b;
  return 0;
}
ROUTINE(routine_state_reset) {
  if (Record* r = element_of(a)) r->flags &= reset_mask(b);
  return 0;
}
ROUTINE(routine_status) {
  Record* r = element_of(a);
  return r ? r->flags & project::kFlagOn : 0;
}

I& global_at(I i) { return globals()[static_cast<std::uint32_t>(i) & (kGlobals - 1)]; }
ROUTINE(routine_global) { return globals() ? global_at(a) : 0; }
ROUTINE(routine_global_set) {
  if (!globals()) return 0;
  global_at(a) = b;
  // In a network session the other machines' shared variables keep their values.
  if (World* w = world()) network_global_written(*w);
  return 0;
}
ROUTINE(routine_global_add) {
  if (globals()) global_at(a) = add32(global_at(a), b);
  return 0;
}

// A field keyword: get_word or set_word of record word W, which brains compile
// in line when the element is the running one (routines_test checks both ways agree).
template <int W>
constexpr Binding field_get(std::string_view name, const char* doc) {
  return {name, get_word<W>, doc, brain::FieldAccess::get, W};
}
template <int W>
constexpr Binding field_set(std::string_view name, const char* doc) {
  return {name, set_word<W>, doc, brain::FieldAccess::set, W};
}

using namespace project;

constexpr Binding kBindings[] = {
    field_get<kWordPosition>("position_x", "a element -> position x in L/512"),
    field_get<kWordPosition + 1>("position_y", "a element -> position y in L/512"),
    field_get<kWordPosition + 2>("position_z", "a element -> position z in L/512"),
    field_set<kWordPosition>("position_x_set", "a element, b L/512: position x = b"),
    field_set<kWordPosition + 1>("position_y_set", "a element, b L/512: position y = b"),
    field_set<kWordPosition + 2>("position_z_set", "a element, b L/512: position z = b"),
    {"position_x_add", add_word<kWordPosition>, "a element, b L/512: position x += b"},
    {"position_y_add", add_word<kWordPosition + 1>, "a element, b L/512: position y += b"},
    {"position_z_add", add_word<kWordPosition + 2>, "a element, b L/512: position z += b"},
    {"rotation_x", get_angle<kWordRotation>, "a element -> rotation x in 1/512 degree, normalised to 0..184319"},
    {"rotation_y", get_angle<kWordRotation + 1>, "a element -> rotation y in 1/512 degree, normalised to 0..184319"},
    {"rotation_z", get_angle<kWordRotation + 2>, "a element -> rotation z in 1/512 degree, normalised to 0..184319"},
    field_set<kWordRotation>("rotation_x_set", "a element, b 1/512 degree: rotation x = b (not normalised)"),
    field_set<kWordRotation + 1>("rotation_y_set", "a element, b 1/512 degree: rotation y = b (not normalised)"),
    field_set<kWordRotation + 2>("rotation_z_set", "a element, b 1/512 degree: rotation z = b (not normalised)"),
    {"rotation_x_add", add_word<kWordRotation>, "a element, b 1/512 degree: rotation x += b (not normalised)"},
    {"rotation_y_add", add_word<kWordRotation + 1>, "a element, b 1/512 degree: rotation y += b (not normalised)"},
    {"rotation_z_add", add_word<kWordRotation + 2>, "a element, b 1/512 degree: rotation z += b (not normalised)"},
    field_get<kWordVelocity>("velocity_x", "a element -> velocity x in L/512 per tick"),
    field_get<kWordVelocity + 1>("velocity_y", "a element -> velocity y in L/512 per tick"),
    field_get<kWordVelocity + 2>("velocity_z", "a element -> velocity z in L/512 per tick"),
    field_set<kWordVelocity>("velocity_x_set", "a element, b L/512 per tick: velocity x = b"),
    field_set<kWordVelocity + 1>("velocity_y_set", "a element, b L/512 per tick: velocity y = b"),
    field_set<kWordVelocity + 2>("velocity_z_set", "a element, b L/512 per tick: velocity z = b"),
    {"velocity_x_add", add_word<kWordVelocity>, "a element, b L/512 per tick: velocity x += b"},
    {"velocity_y_add", add_word<kWordVelocity + 1>, "a element, b L/512 per tick: velocity y += b"},
    {"velocity_z_add", add_word<kWordVelocity + 2>, "a element, b L/512 per tick: velocity z += b"},
    field_get<kWordSpin>("spin_x", "a element -> spin x in 1/512 degree per tick"),
    field_get<kWordSpin + 1>("spin_y", "a element -> spin y in 1/512 degree per tick"),
    field_get<kWordSpin + 2>("spin_z", "a element -> spin z in 1/512 degree per tick"),
    field_set<kWordSpin>("spin_x_set", "a element, b 1/512 degree per tick: spin x = b"),
    field_set<kWordSpin + 1>("spin_y_set", "a element, b 1/512 degree per tick: spin y = b"),
    field_set<kWordSpin + 2>("spin_z_set", "a element, b 1/512 degree per tick: spin z = b"),
    {"spin_x_add", add_word<kWordSpin>, "a element, b 1/512 degree per tick: spin x += b"},
    {"spin_y_add", add_word<kWordSpin + 1>, "a element, b 1/512 degree per tick: spin y += b"},
    {"spin_z_add", add_word<kWordSpin + 2>, "a element, b 1/512 degree per tick: spin z += b"},
    field_get<kWordCredits>("credits", "a element -> its credits (score)"),
    field_set<kWordCredits>("credits_set", "a element, b value: credits = b"),
    {"credits_add", add_word<kWordCredits>, "a element, b value: credits += b"},
    field_get<kWordCollisionCode>("element_id", "a element -> its id word (the collision code bits)"),
    field_set<kWordCollisionCode>("element_id_set", "a element, b bits: id word = b"),
    field_get<kWordTickCounter>("timer", "a element -> ticks its brain has run"),
    field_set<kWordTickCounter>("timer_set", "a element, b ticks: its tick counter = b"),
    {"radius", get_length<kWordRadius>, "a element -> collision radius in L/512"},
    {"radius_max", get_length<kWordBoxHalfSize>, "a element -> collision box half-size in L/512"},
    {"register", routine_register, "a element, b word 0..255 -> record word b (0 for another b)"},
    {"register_set", routine_register_set, "a element, b word 0..255, c value: record word b = c"},
    {"local", routine_local, "a element, b variable 0..127 -> a's brain variable b"},
    {"local_set", routine_local_set, "a element, b variable 0..127, c value: a's brain variable b = c"},
    {"pocket", routine_pocket, "a element, b byte 0..331 -> pocket byte b, 0..255"},
    {"pocket_set", routine_pocket_set, "a element, b byte 0..331, c value: pocket byte b = c's low 8 bits"},
    {"pocket_add", routine_pocket_add, "a element, b byte 0..331, c value: pocket byte b += c, wrapping in 8 bits"},
    {"signal", routine_signal, "a element, b mask -> signal word AND b"},
    {"signal_set", routine_signal_set, "a element, b mask: signal word OR= b"},
    {"signal_reset", routine_signal_reset, "a element, b mask: clears b's signal bits 0..27 and bits 28..31 not in b"},
    {"state", routine_state, "a element, b mask -> flags AND b"},
    {"state_set", routine_state_set, "a element, b mask: flags OR= b"},
    {"state_reset", routine_state_reset, "a element, b mask: clears b's flag bits 0..27 and bits 28..31 not in b"},
    {"status", routine_status, "a element -> 1 when it is on, else 0"},
    {"global", routine_global, "a index (modulo 2048) -> global a"},
    {"global_set", routine_global_set, "a index (modulo 2048), b value: global a = b"},
    {"global_add", routine_global_add, "a index (modulo 2048), b value: global a += b"},
    field_get<kWordScaleX>("flat_scale_x", "a element -> scale x in thousandths"),
    field_get<kWordScaleY>("flat_scale_y", "a element -> scale y in thousandths"),
    field_get<kWordScaleZ>("scale_z", "a element -> scale z in thousandths"),
    field_get<kWordDisplayArea>("sprite_clip_x1", "a element -> left edge x1 of its clip rectangle, screen pixels"),
    field_get<kWordDisplayArea + 1>("sprite_clip_y1", "a element -> top edge y1 of its clip rectangle, screen pixels"),
    field_get<kWordDisplayArea + 2>("sprite_clip_x2",
     "a element -> right edge x2 of its clip rectangle, screen pixels"),
    field_get<kWordDisplayArea + 3>("sprite_clip_y2",
     "a element -> bottom edge y2 of its clip rectangle, screen pixels"),
    field_get<kWordFrameLimit>("last_animation_frame", "a element -> its frame count limit"),
};

}  // namespace

std::span<const Binding> field_bindings() { return kBindings; }

}  // namespace engine
