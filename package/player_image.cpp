// The player image of a package: this program as "zeptaexe" with the game's
// title in its title region, and lib/ with the shared libraries it needs that a
// player's system does not provide.
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "base/title.h"
#include "package/package.h"
#include "platform/platform.h"

namespace package {

namespace {

// Sonames (by prefix) that come from the player's system. Their own
// dependencies are not walked either.
constexpr std::string_view kSystemLibraries[] = {
    // The C library family and the dynamic loader.
    "libc.so.", "libm.so.", "libmvec.so.", "libdl.so.", "libpthread.so.", "librt.so.", "libresolv.so.",
    "libutil.so.", "ld-linux",
    // The OpenGL, EGL and GLX stack: glvnd, Mesa or a vendor's driver.
    "libGL.so.", "libGLX", "libEGL", "libGLESv", "libGLdispatch.so.", "libOpenGL.so.", "libglapi.so.",
    "libgbm.so.", "libdrm", "libgallium", "libvulkan.so.",
    // X11 and Wayland clients, as a desktop's OpenGL stack brings them (the
    // smaller Wayland helpers, libwayland-egl and -cursor, ship).
    "libX11.so.", "libX11-xcb.so.", "libxcb", "libXau.so.", "libXdmcp.so.", "libXext.so.", "libwayland-client.so.",
    "libwayland-server.so.",
    // Sound-server clients.
    "libasound.so.", "libpulse", "libpipewire-", "libjack.so.",
};

constexpr std::size_t kMaxImageBytes = 1u << 30;  // the program or one library

// Writes bytes to path through a temporary renamed over it, with mode.
bool write_atomic(const std::string& path, std::string_view bytes, mode_t mode, std::string& error) {
  std::string temp = path + std::string(base::kTemporarySuffix);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  bool ok = fd >= 0 && fchmod(fd, mode) == 0;
  for (std::size_t at = 0; ok && at < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) at += static_cast<std::size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  int saved = errno;
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    error = "cannot write " + path + ": " + std::strerror(saved ? saved : errno);
    ::unlink(temp.c_str());
  }
  return ok;
}

// The program without what only debuggers read: the file cut after the last
// byte any program header maps, and no section headers (symbols and debugging
// information are sections after that). False when the image is not a
// 64-bit ELF file whose headers lie inside it.
bool strip_to_segments(std::string& image) {
  Elf64_Ehdr eh;
  if (image.size() < sizeof eh) return false;
  std::memcpy(&eh, image.data(), sizeof eh);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_phentsize != sizeof(Elf64_Phdr) || eh.e_phoff > image.size() ||
      (image.size() - eh.e_phoff) / sizeof(Elf64_Phdr) < eh.e_phnum)
    return false;
  std::uint64_t end = eh.e_phoff + std::uint64_t(eh.e_phnum) * sizeof(Elf64_Phdr);
  for (int i = 0; i < eh.e_phnum; ++i) {
    Elf64_Phdr ph;
    std::memcpy(&ph, image.data() + eh.e_phoff + i * sizeof ph, sizeof ph);
    if (ph.p_offset > image.size() || ph.p_filesz > image.size() - ph.p_offset) return false;
    end = std::max<std::uint64_t>(end, ph.p_offset + ph.p_filesz);
  }
  eh.e_shoff = 0;
  eh.e_shnum = 0;
  eh.e_shstrndx = SHN_UNDEF;
  std::memcpy(image.data(), &eh, sizeof eh);
  image.resize(end);
  return true;
}

}  // namespace

bool ships_library(std::string_view soname) {
  for (std::string_view prefix : kSystemLibraries)
    if (soname.starts_with(prefix)) return false;
  return true;
}

bool write_player_from(std::string_view program_path, std::string_view folder, std::string_view title,
                       const PlayerNeeds& needs, std::string& error) {
  std::string base_folder(folder);
  if (!base_folder.empty() && base_folder.back() != '/') base_folder += '/';
  // The libraries first: a missing one leaves the folder as it was.
  std::vector<std::string> extra;
  auto add = [&](bool needed, bool (*available)(), std::span<const char* const> names, const char* what) {
    if (!needed) return true;
    if (!available()) {
      error = std::string("the ") + what + " library (" + names.back() + ") is not installed, the game needs it";
      return false;
    }
    extra.insert(extra.end(), names.begin(), names.end());
    return true;
  };
  if (!add(needs.models, platform::model_library_available, platform::model_library_names(), "model") ||
      !add(needs.video, platform::video_library_available, platform::video_library_names(), "video"))
    return false;
  std::vector<platform::SharedLibrary> libraries;
  if (!platform::needed_libraries(program_path, extra, ships_library, libraries, error)) return false;

  std::string image;
  if (!base::read_regular_file(program_path, kMaxImageBytes, image)) {
    error = "cannot read the program " + std::string(program_path);
    return false;
  }
  if (!strip_to_segments(image)) {
    error = "the program " + std::string(program_path) + " is not an ELF file this can copy";
    return false;
  }
  if (!base::patch_title(image, title, error)) return false;

  std::string lib = base_folder + "lib/";
  std::error_code ec;
  std::filesystem::create_directories(lib, ec);
  if (ec) {
    error = "cannot create " + lib + ": " + ec.message();
    return false;
  }
  std::set<std::string> shipped;
  for (const platform::SharedLibrary& l : libraries) {
    std::string bytes;
    if (!base::read_regular_file(l.path, kMaxImageBytes, bytes)) {
      error = "cannot read the library " + l.path;
      return false;
    }
    if (!write_atomic(lib + l.name, bytes, 0644, error)) return false;
    shipped.insert(l.name);
  }
  // What an earlier build shipped and this one doesn't (a video library no longer used...).
  for (const auto& entry : std::filesystem::directory_iterator(lib, ec)) {
    std::string name = entry.path().filename().string();
    if (entry.is_regular_file(ec) && !shipped.count(name)) std::filesystem::remove(entry.path(), ec);
  }
  return write_atomic(base_folder + "zeptaexe", image, 0755, error);
}

bool write_player(std::string_view folder, std::string_view title, const PlayerNeeds& needs, std::string& error) {
  return write_player_from("/proc/self/exe", folder, title, needs, error);
}

}  // namespace package
