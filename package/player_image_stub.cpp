// Stand-in for the player image until it is built: writes nothing.
#include "package/package.h"

namespace package {

bool write_player(std::string_view, std::string_view, const PlayerNeeds&, std::string&) { return true; }

}  // namespace package
