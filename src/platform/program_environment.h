// The running program's surroundings: its environment, the folder of its
// executable, and where its settings and logs go.
#pragma once

#include <optional>
#include <string>

#include "common/file_locations.h"

namespace tarnwick {

// The running process's environment (see TEnvLookup), except that the home
// folder falls back to what the system keeps for the user when it is unset
// (HOME from the user database on Linux, as under some service managers).
std::optional<std::string> ProcessEnvironment(const std::string& name);

// The folder of the running executable; "." when unknown.
std::string ExecutableDirectory();

// True when `exeDir` is a folder this process may write and create files in,
// and not the bin folder of an installation (IsInstalledFolder). The second
// test matters for an administrator, who may write the installed folder.
bool IsPortableFolder(const std::string& exeDir);

// Where the running program keeps its files, decided once at start: beside
// the executable in a portable folder, else in the user's folders for
// settings and data (ResolveSettingsLocation of file_locations.h on Linux).
TSettingsLocation ResolveSettingsLocation(const std::string& exeDir);

}  // namespace tarnwick
