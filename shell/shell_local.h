// Inside the shell: the state of one program run, passed to the dispatcher and the test run.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "brain/brain.h"
#include "engine/engine.h"
#include "media/media.h"
#include "project/project.h"
#include "shell/shell.h"
#include "ui/ui.h"

namespace shell {

struct Session {
  Options options;
  // Resolved once, before any window opens: the folders, the run mode and its
  // project file (runmode.ini as the options override it).
  Folders folders;
  std::int32_t mode = 0;
  Text config_path;  // current directory + "/config.ini"
  Config config;
  media::Font font;
  ui::Screen screen;
  std::unique_ptr<TempTexts> temps;
  int lock_fd = -2;
  // Filled once the window is open, from config.ini and the command line; every run takes a copy.
  engine::RunOptions run_options;

  // Dispatcher state.
  project::Host host;
  std::unique_ptr<project::Project> project;
  std::unique_ptr<project::StateFiles> state;
  Text project_path;   // runmode.ini line 1 as a path to open ("" for none)
  Text project_given;  // the project as the command line wrote it, for messages

  Exit status = Exit::ok;  // the first failure of the run

  // Notes a failure; the first one gives the exit status.
  void fail(Exit why) {
    if (status == Exit::ok) status = why;
  }
};

// "zepta: " + the formatted text on stderr (one line), and the failure noted.
void say(Session& session, Exit why, const char* format, ...) __attribute__((format(printf, 3, 4)));

// The run-mode dispatcher: one task for the mode of runmode.ini, then its saves.
void dispatch(Session& session);

// A packaged game's folder: it holds multilev.ini or level001.prj.
bool holds_package(std::string_view folder);
// ZEPTA_PACKAGE_READ_ONLY is set (and not "0"): the player writes nothing in the package folder.
bool package_read_only();

// `zepta --package LIST OUTDIR`: builds the package without a window, in the
// working folder already entered; returns the exit status.
int package_command(Session& session, std::string_view started_in);

// Why a test run refuses the project file at `file` (named `shown` in the
// text): "project not found: ...", "not a project file: ..."; "" when it is one.
std::string project_refusal(std::string_view file, std::string_view shown);

// The literals --check looks at (the key names of `keyboard`); fits brain::LiteralCheck.
std::string check_literal(std::string_view keyword, int index, std::string_view text);
// `zepta --check FILE...`, without a working folder entered or a window;
// returns the exit status (3 when a project would be refused, else 1 when a
// brain failed).
int check_command(const Options& options, std::string_view argv0, std::FILE* out, brain::LiteralCheck literal);

// Run mode 1: runs the loaded project until `exit` or Escape, reports the exit
// request and writes work + "temp/wasok.dat". Saves nothing (false).
bool test_run(Session& session, int element);

}  // namespace shell
