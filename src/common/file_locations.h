// Where the program's own files are: its help page, its settings and rules,
// and the folder of its automatic log saves.
//
// A portable copy (an unpacked or freshly built program in a folder its user
// may write) keeps everything beside the executable, as it always has. An
// installed copy cannot, or should not: /usr/bin is not the user's, and a
// copy under ~/.local/bin would litter a folder of programs. It keeps its
// settings under $XDG_CONFIG_HOME/tarnwick and its logs under
// $XDG_DATA_HOME/tarnwick, and finds its help page under share/tarnwick.
#pragma once

#include <functional>
#include <string>

#include "common/environment.h"

// The running program's own folder and settings location:
// platform/program_environment.h.

namespace tarnwick {

struct TSettingsLocation {
    std::string SettingsDir;  // Option.ini and rules.dat
    std::string LogsBaseDir;  // automatic log saves make Logs/ here
};

// Decided once at start. Beside the executable (`exeDir` for both) when
// `portable(exeDir)`; otherwise <config>/tarnwick and <data>/tarnwick, where
// <config> is $XDG_CONFIG_HOME and <data> is $XDG_DATA_HOME when they hold an
// absolute path, else $HOME/.config and $HOME/.local/share. Those two folders
// are made (with their parents) when missing; a failure is left to the saves,
// which report it with its reason. Without HOME or an XDG variable to go by,
// the files stay beside the executable.
TSettingsLocation ResolveSettingsLocation(const std::string& exeDir, const TEnvLookup& env,
                                          const std::function<bool(const std::string&)>& portable);

// Whether `exeDir` is the bin folder of an installation: one with
// <exeDir>/../share/tarnwick beside it.
bool IsInstalledFolder(const std::string& exeDir);

// The help page: <exeDir>/help.htm when it is there, else the installed
// <exeDir>/../share/tarnwick/help.htm when that is; else the first (what a
// missing page is reported as).
std::string HelpPagePath(const std::string& exeDir);

}  // namespace tarnwick
