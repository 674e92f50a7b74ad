// The brain editor of run mode 13 (being built).
#include "tools/tools.h"

namespace tools {

bool brain_editor(ui::Task&, int) { return false; }

}  // namespace tools
