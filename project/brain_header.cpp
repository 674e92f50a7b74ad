// Brain headers: the user parameters a brain declares, the signature of its
// declaration lines and the upkeep of both in element lines (being built).
#include "project/project.h"

namespace project {}  // namespace project
