// (to be filled)
#include "engine/render/parts.h"

namespace engine {

namespace {

constexpr Binding kMeshBindings[] = {
    {"", nullptr, ""},
};

}  // namespace

std::span<const Binding> mesh_bindings() { return std::span(kMeshBindings).first(0); }

}  // namespace engine
