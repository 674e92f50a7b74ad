// The scrambling transform of packaged games, and the package view: while a
// packaged game plays, reads of its scrambled files come back plain.
//
// The transform is obfuscation, not security: the key ships in every program.
// It must stay bit-exact, as packages rely on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

namespace base {

inline constexpr std::uint32_t kScrambleKey = 0x6D2A93C5;

// Each whole little-endian 32-bit word w from the start becomes
// rotl(w ^ key, 13); the last size % 4 bytes stay as they are.
void scramble(std::span<std::byte> bytes);
// The inverse: w = rotr(w, 13) ^ key.
void descramble(std::span<std::byte> bytes);

// Whether a file of a package folder, by its name (no folder), is stored
// scrambled: ".prj" files; packed resources (8 hex digits + ".dat", or + a
// frame number ".002"...); meshes (".x") but the engine's hood models; textures
// and loading images (".bmp", ".ppm") but the engine's "resume_.bmp",
// "end_.bmp" and "bkgr000_.bmp". The engine's other data files, lists, collision
// maps, cut-scenes, save games and globals are plain. With the plain-projects
// switch ("noencrypt.txt") only ".prj" files are scrambled.
bool stored_scrambled_name(std::string_view file_name, bool plain_switch);

// The package view: reads of files directly inside folder (ends in "/") that
// are stored scrambled come back plain, through read_file_at, load_file,
// TextFile::open_read and read_regular_file. "" ends the view. Process-wide:
// the player sets it once before its first level.
void set_package_view(std::string_view folder, bool plain_switch);
// True when path names a file directly inside the view's folder that is stored scrambled.
bool package_view_scrambled(std::string_view path);
// A package comes from a stranger: a path in the view's folder (at any depth)
// is read only when it lies inside the folder once its symbolic links are
// followed (as files that brains name are confined). False, told once per
// path on stderr, for a link out of it; true for any path outside the view.
bool package_view_allows(std::string_view path);
// The most bytes a file of a package can hold for its kind, by its name (see
// kPackageFileCaps); 0 when its kind has no bound of its own.
std::uint64_t package_file_cap(std::string_view file_name);
// False, told once per path, when path is a file of the view larger than its
// kind's cap: whole reads refuse it before reading a byte.
bool package_view_fits(std::string_view path, std::uint64_t size);

// A private plain copy of a file for code that must open a path itself (a
// decoder library): a scrambled file of the view is descrambled into an
// unlinked temporary file; others are opened as they are. Rewound; null when
// the file can't be read. The caller closes it ("/proc/self/fd/N" names it).
std::FILE* open_plain_copy(std::string_view path);

}  // namespace base
