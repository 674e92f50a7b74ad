// `zepta --package LIST OUTDIR`: the self-executable build for scripts and CI.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "package/package.h"
#include "shell/shell_local.h"

namespace shell {

namespace {

Text absolute(const Text& path, std::string_view from) {
  if (path.empty() || path[0] == '/' || from.empty()) return path;
  return Text(from) + path.view();
}

}  // namespace

int package_command(Session& s, std::string_view started_in) {
  char here[4096];
  std::string work = getcwd(here, sizeof here) ? here : ".";
  if (work.back() != '/') work += '/';
  if (started_in.empty()) started_in = work;  // --workdir: relative paths from there

  package::BuildSetup setup;
  setup.base_folder = Text(work);
  setup.list_path = absolute(s.options.package_list, started_in);
  setup.package_folder = absolute(s.options.package_folder, started_in);
  if (!setup.package_folder.empty() && setup.package_folder[setup.package_folder.length() - 1] != '/')
    setup.package_folder += '/';
  if (s.options.has_title) {
    setup.title = s.options.package_title;
  } else {
    // The editor's executable name.
    project::Host host;
    host.work_folder = Text(work);
    host.data_folder = Text(work + "data/");
    auto state = std::make_unique<project::StateFiles>();
    project::read_state_files(*state, host);
    setup.title = state->current_path[16];
  }

  package::BuildReport report = package::build_package(setup);
  for (const std::string& problem : report.problems) std::fprintf(stderr, "zepta: %s\n", problem.c_str());
  if (!report.ok) return report.exit_status ? report.exit_status : static_cast<int>(Exit::not_written);
  std::printf("packaged %d level%s into %s\n", report.levels, report.levels == 1 ? "" : "s",
              s.options.package_folder.c_str());
  return static_cast<int>(Exit::ok);
}

}  // namespace shell
