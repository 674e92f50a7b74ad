// Shared libraries: loading the optional ones, and finding every library the
// program needs from the ELF dynamic sections of what is loaded.
#include "platform/libraries.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <set>

#include "platform/platform.h"

namespace platform {

namespace {
std::string refused;  // a soname tests pretend is missing
}  // namespace

void refuse_library_for_testing(const char* soname) { refused = soname; }

void* open_library(const char* soname, std::string& error) {
  if (refused == soname) {
    error = std::string(soname) + ": refused for a test";
    return nullptr;
  }
  void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = why ? why : "not found";
  }
  return handle;
}

namespace {

struct File {
  int fd = -1;
  off_t size = 0;
  explicit File(const std::string& path) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) size = lseek(fd, 0, SEEK_END);
  }
  ~File() {
    if (fd >= 0) ::close(fd);
  }
  bool read(std::uint64_t offset, void* to, std::size_t bytes) const {
    if (fd < 0 || offset > static_cast<std::uint64_t>(size) || bytes > static_cast<std::uint64_t>(size) - offset)
      return false;
    return pread(fd, to, bytes, static_cast<off_t>(offset)) == static_cast<ssize_t>(bytes);
  }
};

constexpr std::size_t kMaxProgramHeaders = 256;
constexpr std::uint64_t kMaxDynamicBytes = 1u << 20;
constexpr std::uint64_t kMaxStringBytes = 16u << 20;

}  // namespace

bool read_elf_dynamic(std::string_view path, ElfDynamic& out) {
  out = {};
  File f{std::string(path)};
  Elf64_Ehdr eh;
  if (!f.read(0, &eh, sizeof eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
      eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_ident[EI_DATA] != ELFDATA2LSB ||
      eh.e_phentsize != sizeof(Elf64_Phdr) || eh.e_phnum > kMaxProgramHeaders)
    return false;
  std::vector<Elf64_Phdr> ph(eh.e_phnum);
  if (!f.read(eh.e_phoff, ph.data(), ph.size() * sizeof(Elf64_Phdr))) return false;
  // A virtual address to its file offset, through the loaded segments.
  auto offset_of = [&](std::uint64_t address, std::uint64_t& offset) {
    for (const Elf64_Phdr& p : ph)
      if (p.p_type == PT_LOAD && address >= p.p_vaddr && address - p.p_vaddr < p.p_filesz) {
        offset = p.p_offset + (address - p.p_vaddr);
        return true;
      }
    return false;
  };
  const Elf64_Phdr* dynamic = nullptr;
  for (const Elf64_Phdr& p : ph)
    if (p.p_type == PT_DYNAMIC) dynamic = &p;
  if (!dynamic || dynamic->p_filesz > kMaxDynamicBytes) return false;
  std::vector<Elf64_Dyn> entries(dynamic->p_filesz / sizeof(Elf64_Dyn));
  if (!f.read(dynamic->p_offset, entries.data(), entries.size() * sizeof(Elf64_Dyn))) return false;
  std::uint64_t strtab = 0, strsz = 0;
  for (const Elf64_Dyn& d : entries) {
    if (d.d_tag == DT_NULL) break;
    if (d.d_tag == DT_STRTAB) strtab = d.d_un.d_ptr;
    if (d.d_tag == DT_STRSZ) strsz = d.d_un.d_val;
  }
  std::uint64_t strings_at;
  if (strsz == 0 || strsz > kMaxStringBytes || !offset_of(strtab, strings_at)) return false;
  std::string strings(strsz, '\0');
  if (!f.read(strings_at, strings.data(), strsz)) return false;
  auto text = [&](std::uint64_t at) -> std::string {
    if (at >= strings.size()) return {};
    return std::string(strings.c_str() + at);  // the table ends in a NUL, or std::string's own
  };
  for (const Elf64_Dyn& d : entries) {
    if (d.d_tag == DT_NULL) break;
    if (d.d_tag == DT_NEEDED) out.needed.push_back(text(d.d_un.d_val));
    if (d.d_tag == DT_SONAME) out.soname = text(d.d_un.d_val);
    if (d.d_tag == DT_RPATH) out.rpath = text(d.d_un.d_val);
    if (d.d_tag == DT_RUNPATH) out.runpath = text(d.d_un.d_val);
  }
  return true;
}

namespace {

int collect_loaded(dl_phdr_info* info, std::size_t, void* data) {
  auto& paths = *static_cast<std::vector<std::string>*>(data);
  if (info->dlpi_name && info->dlpi_name[0] == '/') paths.emplace_back(info->dlpi_name);
  return 0;
}

}  // namespace

bool needed_libraries(std::string_view program_path, std::span<const std::string> extra,
                      bool (*ship)(std::string_view name), std::vector<SharedLibrary>& out, std::string& error) {
  out.clear();
  // Every loaded object by its soname and by its file name (usually the same).
  std::vector<std::string> paths;
  dl_iterate_phdr(collect_loaded, &paths);
  std::map<std::string, std::string, std::less<>> loaded;
  auto note = [&](const std::string& path) {
    ElfDynamic d;
    loaded.emplace(path.substr(path.rfind('/') + 1), path);
    if (read_elf_dynamic(path, d) && !d.soname.empty()) loaded.emplace(d.soname, path);
  };
  for (const std::string& path : paths) note(path);
  // The file a soname resolves to, loading it when this process has not.
  auto find = [&](const std::string& name) -> std::string {
    auto where = loaded.find(name);
    if (where != loaded.end()) return where->second;
    void* handle = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
    link_map* map = nullptr;
    if (!handle || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name || map->l_name[0] != '/')
      return {};
    std::string path = map->l_name;
    loaded.emplace(name, path);
    return path;  // kept loaded: the walk may come back to it
  };
  ElfDynamic program;
  if (!read_elf_dynamic(program_path, program)) {
    error = "cannot read the dynamic section of " + std::string(program_path);
    return false;
  }
  std::vector<std::string> queue = program.needed;
  queue.insert(queue.end(), extra.begin(), extra.end());
  std::set<std::string, std::less<>> seen;
  for (std::size_t i = 0; i < queue.size(); ++i) {
    std::string name = queue[i];
    if (!seen.insert(name).second || !ship(name)) continue;
    std::string path = find(name);
    ElfDynamic d;
    if (path.empty() || !read_elf_dynamic(path, d)) {
      error = "the library " + name + " is needed but can't be found";
      return false;
    }
    out.push_back({name, path});
    queue.insert(queue.end(), d.needed.begin(), d.needed.end());
  }
  return true;
}

}  // namespace platform
