// `zepta --check FILE...`: brain files compiled on their own, and projects
// loaded as a run loads them (without writing a file) with every brain they
// name compiled; no window. Also the test run's refusal of a project file.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "brain/brain.h"
#include "base/files.h"
#include "base/memory.h"
#include "base/paths.h"
#include "shell/shell_local.h"

namespace shell {

namespace {

enum class CheckStatus { ok = 0, failed = 1, refused = 3 };

struct Check {
  std::FILE* out;
  brain::LiteralCheck literal;
  std::string work;  // the working folder a run would take, ends in "/"
  bool brain_failed = false;
  bool refused = false;
};

bool is_project_name(std::string_view file) { return base::ends_with_no_case(file, ".prj"); }

// A brain file given on its own: told when it holds nothing a brain could be.
void check_brain_file(Check& c, std::string_view file) {
  std::string text;
  if (base::file_kind(file) == base::FileKind::regular &&
      base::read_regular_file(file, brain::kMaxBrainFileBytes + 1, text)) {
    const char* doubt = text.empty()                                  ? "empty file: no brain in it"
                        : text.size() > brain::kMaxBrainFileBytes     ? "too large for a brain file (16 MB at most)"
                        : text.find('\0') != std::string::npos        ? "binary file: no brain in it"
                                                                      : nullptr;
    if (doubt) {
      std::fprintf(c.out, "%.*s: %s\n", static_cast<int>(file.size()), file.data(), doubt);
      c.brain_failed = true;
      return;
    }
  }
  brain::CheckedBrain b{file, 0, file, text.empty() ? nullptr : &text};
  if (brain::check_brains(std::span(&b, 1), c.out, c.literal)) c.brain_failed = true;
}

// A project: refused as a run would refuse it, or loaded (its doubts told)
// and every brain it holds or names compiled.
void check_project(Check& c, std::string_view file) {
  std::string why = project_refusal(file, file);
  if (!why.empty()) {
    std::fprintf(c.out, "%s\n", why.c_str());
    c.refused = true;
    return;
  }
  auto p = std::make_unique<project::Project>();
  std::vector<std::uint8_t> matrix(project::kCollisionBytes);
  p->collision = matrix.data();
  project::Host host;
  host.work_folder = base::Text(c.work);
  host.data_folder = base::Text(c.work + "data/");
  host.dry_run = true;
  std::vector<std::string> warnings;
  host.warnings = &warnings;
  if (!project::load_project(*p, host, file)) {
    std::fprintf(c.out, "%.*s: could not be read\n", static_cast<int>(file.size()), file.data());
    c.refused = true;
    return;
  }
  for (const std::string& w : warnings) std::fprintf(c.out, "%s\n", w.c_str());

  // The embedded brains, every block (also those no element takes), each with
  // its place in the project file; then each brain file the elements name.
  std::string text;
  base::read_regular_file(file, base::area_size(base::Area::project_buffer) - 1, text);
  std::vector<std::string> bodies;
  std::vector<project::EmbeddedBrain> embedded = project::embedded_brains(text);
  bodies.reserve(embedded.size());
  std::vector<brain::CheckedBrain> brains;
  for (const project::EmbeddedBrain& b : embedded) {
    bodies.emplace_back(b.text);
    brains.push_back({file, b.line_before, file, &bodies.back()});
  }
  std::vector<base::Text> paths(static_cast<std::size_t>(p->lines.highest + 1));
  std::set<std::string> named;
  for (int i = 0; i <= p->lines.highest; ++i) {
    const project::BrainOrigin& origin = p->brain_origin[i];
    if (!origin.library) continue;
    paths[i] = project::line_field(p->lines.line[i], project::kFieldBrain);
    if (!named.insert(std::string(paths[i].view())).second) continue;
    bool found = origin.line_before == 0;  // else: the project line that names it
    brains.push_back({found ? std::string_view(origin.file) : file, origin.line_before, paths[i].view(), nullptr});
  }
  if (brain::check_brains(brains, c.out, c.literal)) c.brain_failed = true;
}

}  // namespace

std::string project_refusal(std::string_view file, std::string_view shown) {
  std::string name(shown);
  base::FileKind kind = base::file_kind(file);
  if (kind == base::FileKind::missing) return "project not found: " + name;
  if (kind == base::FileKind::other) {
    std::string folder = std::string(file) + "/.";
    return "not a project file: " + name + (base::file_kind(folder) == base::FileKind::other ? " (a folder)" : "");
  }
  // The header and the count line are enough to tell.
  char head[4096];
  long got = base::read_file_at(file, 0, std::as_writable_bytes(std::span(head)));
  std::string_view text(head, got > 0 ? static_cast<std::size_t>(got) : 0);
  if (project::is_project_text(text)) return std::string();
  if (text.empty()) return "not a project file: " + name + " (it is empty)";
  if (text.find('\r') != std::string_view::npos && text.find('\n') == std::string_view::npos)
    return "not a project file: " + name + " (its lines end in CR alone, not CR LF or LF)";
  return "not a project file: " + name;
}

int check_command(const Options& options, std::string_view argv0, std::FILE* out, brain::LiteralCheck literal) {
  Check c{out, literal, {}};
  char here[4096];
  std::string current = getcwd(here, sizeof here) ? here : ".";
  if (current.back() != '/') current += '/';
  if (!options.workdir.empty()) {
    c.work = options.workdir[0] == '/' ? std::string(options.workdir.view()) : current + options.workdir.c_str();
    if (c.work.back() != '/') c.work += '/';
  } else {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    c.work = find_working_folder(current, argv0, std::string_view(exe, n > 0 ? static_cast<std::size_t>(n) : 0));
    if (c.work.empty()) c.work = current;
  }
  if (!base::budget_reserved() && !base::reserve_budget()) {
    std::fprintf(stderr, "zepta: could not reserve the engine's memory\n");
    return static_cast<int>(Exit::start_failed);
  }
  for (const std::string& name : options.check) {
    std::string_view file = name;
    base::FileKind kind = base::file_kind(file);
    if (is_project_name(file) || kind == base::FileKind::other) check_project(c, file);
    else check_brain_file(c, file);
  }
  base::release_budget();
  if (c.refused) return static_cast<int>(Exit::not_found);
  return c.brain_failed ? static_cast<int>(Exit::brain) : 0;
}

}  // namespace shell
