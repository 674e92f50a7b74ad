// The keywords' routines of every folder, bound in one place.
#include "engine/engine.h"
#include "shell/shell.h"

namespace shell {

void bind_all_keywords() { engine::bind_routines(); }

}  // namespace shell
