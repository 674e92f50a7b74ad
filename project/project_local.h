// Internals shared by the files of project/.
#pragma once

#include <string_view>

#include "project/project.h"

namespace project {

// Field n (1-based) of s without copying; empty when absent. Works on texts of any length.
std::string_view field_view(std::string_view s, int n, char sep);

// The resource shown for an element type whose aspect file is missing, relative
// to the working folder ("" for types without an aspect file).
std::string_view default_aspect(int type);

}  // namespace project
