// (to be filled)
#include "engine/render/parts.h"

namespace engine {

namespace {

constexpr Binding kPolyBindings[] = {
    {"", nullptr, ""},
};

}  // namespace

std::span<const Binding> poly_bindings() { return std::span(kPolyBindings).first(0); }

}  // namespace engine
