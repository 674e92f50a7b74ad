// Paths that untrusted text names (brains, packaged games): "\" read as "/",
// confined to a few root folders, and only regular files read, with a bound.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "base/text.h"

namespace base {

// path with every "\" as "/", made absolute against folder when relative, with
// ".", ".." and repeated "/" folded and no trailing "/". Empty when path is
// empty, when ".." climbs above "/", or when the result does not fit a Text.
Text normal_path(std::string_view path, std::string_view folder);

// The file that path names when it lies inside one of roots, whose first one
// is where a relative path starts (the current folder when roots is empty or
// it is ""): its normal path with the symbolic links of the part that exists
// followed, so that what is opened is what was checked. Empty when it lies
// anywhere else.
Text confine_path(std::string_view path, std::span<const std::string_view> roots);

enum class FileKind { missing, regular, other };  // other: a folder, a device, a pipe, a socket
FileKind file_kind(std::string_view path);         // symbolic links followed

// At most max_bytes of the regular file at path, without blocking on a pipe or
// a device. False (bytes empty) when it is missing or not a regular file.
bool read_regular_file(std::string_view path, std::size_t max_bytes, std::string& bytes);

}  // namespace base
