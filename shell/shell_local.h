// Inside the shell: the state of one program run, passed to the dispatcher and tools.
#pragma once

#include <memory>

#include "media/media.h"
#include "project/project.h"
#include "shell/shell.h"
#include "ui/ui.h"

namespace shell {

// Counted-string arrays taken from the temporary-string area for the whole run.
inline constexpr int kScratchLines = 801;  // project-save scratch lines, directory listings
inline constexpr int kElementLines = 257;  // element lines 0..256
inline constexpr int kNamedStrings = 45;   // path building, remembered paths, file names

struct Session {
  Options options;
  Folders folders;
  Text config_path;  // current directory + "/config.ini"
  Config config;
  media::Font font;
  ui::Screen screen;
  std::unique_ptr<TempTexts> temps;
  Text* scratch_lines = nullptr;  // [0..800]
  Text* element_lines = nullptr;  // [0..256]
  Text* named = nullptr;          // [0..44]
  int lock_fd = -2;
  bool window_up = false;

  // Dispatcher state.
  project::Host host;
  std::unique_ptr<project::Project> project;
  std::unique_ptr<project::StateFiles> state;
  Text project_path;
  bool player = false;          // run mode 0
  bool plain_projects = false;  // working folder + "noencrypt.txt" exists
};

// The run-mode dispatcher: one task for the mode of runmode.ini, then its saves.
void dispatch(Session& session);

// The display-area tool on the session's screen: edits area until Escape.
void display_area_tool(Session& session, DisplayArea& area);

// Run mode 1: runs the loaded project until `exit` or Escape, reports the exit
// request and writes work + "temp/wasok.dat". Saves nothing (false).
bool test_run(Session& session, int element);

}  // namespace shell
