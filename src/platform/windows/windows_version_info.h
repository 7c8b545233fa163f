// Version information of Windows executables, as Windows itself reads it:
// GetFileVersionInfoW for the block, VerQueryValueW for the first
// translation and the strings under it.
#pragma once

#include <string>

#include "common/pe_version_info.h"

namespace tarnwick {

// What the process information dialog shows of the executable `path`: its
// eight fields, empty where the file has none (or no version information at
// all). Windows executables have no desktop icon names: IconName stays empty.
TProcessInfoFields ReadProcessInfoFields(const std::string& path);

}  // namespace tarnwick
