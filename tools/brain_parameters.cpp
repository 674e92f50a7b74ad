// The parameter panel of run mode 5 (being built).
#include "tools/tools.h"

namespace tools {

bool brain_parameters(ui::Task&, int) { return false; }

}  // namespace tools
