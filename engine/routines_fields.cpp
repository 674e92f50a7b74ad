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
  // A networked run also queues the value for the other machines (net/).
  if (globals()) global_at(a) = b;
  return 0;
}
ROUTINE(routine_global_add) {
  if (globals()) global_at(a) = add32(global_at(a), b);
  return 0;
}

// A field keyword: get_word or set_word of record word W, which brains compile
// in line when the element is the running one (routines_test checks both ways agree).
template <int W>
constexpr Binding field_get(std::string_view name) {
  return {name, get_word<W>, "", brain::FieldAccess::get, W};
}
template <int W>
constexpr Binding field_set(std::string_view name) {
  return {name, set_word<W>, "", brain::FieldAccess::set, W};
}

using namespace project;

constexpr Binding kBindings[] = {
    field_get<kWordPosition>("position_x"),
    field_get<kWordPosition + 1>("position_y"),
    field_get<kWordPosition + 2>("position_z"),
    field_set<kWordPosition>("position_x_set"),
    field_set<kWordPosition + 1>("position_y_set"),
    field_set<kWordPosition + 2>("position_z_set"),
    {"position_x_add", add_word<kWordPosition>},
    {"position_y_add", add_word<kWordPosition + 1>},
    {"position_z_add", add_word<kWordPosition + 2>},
    {"rotation_x", get_angle<kWordRotation>},
    {"rotation_y", get_angle<kWordRotation + 1>},
    {"rotation_z", get_angle<kWordRotation + 2>},
    field_set<kWordRotation>("rotation_x_set"),
    field_set<kWordRotation + 1>("rotation_y_set"),
    field_set<kWordRotation + 2>("rotation_z_set"),
    {"rotation_x_add", add_word<kWordRotation>},
    {"rotation_y_add", add_word<kWordRotation + 1>},
    {"rotation_z_add", add_word<kWordRotation + 2>},
    field_get<kWordVelocity>("velocity_x"),
    field_get<kWordVelocity + 1>("velocity_y"),
    field_get<kWordVelocity + 2>("velocity_z"),
    field_set<kWordVelocity>("velocity_x_set"),
    field_set<kWordVelocity + 1>("velocity_y_set"),
    field_set<kWordVelocity + 2>("velocity_z_set"),
    {"velocity_x_add", add_word<kWordVelocity>},
    {"velocity_y_add", add_word<kWordVelocity + 1>},
    {"velocity_z_add", add_word<kWordVelocity + 2>},
    field_get<kWordSpin>("spin_x"),
    field_get<kWordSpin + 1>("spin_y"),
    field_get<kWordSpin + 2>("spin_z"),
    field_set<kWordSpin>("spin_x_set"),
    field_set<kWordSpin + 1>("spin_y_set"),
    field_set<kWordSpin + 2>("spin_z_set"),
    {"spin_x_add", add_word<kWordSpin>},
    {"spin_y_add", add_word<kWordSpin + 1>},
    {"spin_z_add", add_word<kWordSpin + 2>},
    field_get<kWordCredits>("credits"),
    field_set<kWordCredits>("credits_set"),
    {"credits_add", add_word<kWordCredits>},
    field_get<kWordCollisionCode>("element_id"),
    field_set<kWordCollisionCode>("element_id_set"),
    field_get<kWordTickCounter>("timer"),
    field_set<kWordTickCounter>("timer_set"),
    {"radius", get_length<kWordRadius>},
    {"radius_max", get_length<kWordBoxHalfSize>},
    {"register", routine_register},
    {"register_set", routine_register_set},
    {"local", routine_local},
    {"local_set", routine_local_set},
    {"pocket", routine_pocket},
    {"pocket_set", routine_pocket_set},
    {"pocket_add", routine_pocket_add},
    {"signal", routine_signal},
    {"signal_set", routine_signal_set},
    {"signal_reset", routine_signal_reset},
    {"state", routine_state},
    {"state_set", routine_state_set},
    {"state_reset", routine_state_reset},
    {"status", routine_status},
    {"global", routine_global},
    {"global_set", routine_global_set},
    {"global_add", routine_global_add},
    field_get<kWordScaleX>("flat_scale_x"),
    field_get<kWordScaleY>("flat_scale_y"),
    field_get<kWordScaleZ>("scale_z"),
    field_get<kWordDisplayArea>("sprite_clip_x1"),
    field_get<kWordDisplayArea + 1>("sprite_clip_y1"),
    field_get<kWordDisplayArea + 2>("sprite_clip_x2"),
    field_get<kWordDisplayArea + 3>("sprite_clip_y2"),
    field_get<kWordFrameLimit>("last_animation_frame"),
};

}  // namespace

std::span<const Binding> field_bindings() { return kBindings; }

}  // namespace engine
