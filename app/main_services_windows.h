// The main window's services, wired to the Windows ones (see main_services.h).
#pragma once

#include <string>

#include "common/file_locations.h"
#include "platform/windows/windows_process_list.h"
#include "platform/windows/windows_services.h"
#include "platform/windows/windows_version_info.h"
#include "ui/main_form.h"

namespace tarnwick {

using TWindowProgramServices = TWindowsServices;

inline void PrepareWindowProcess() {}

// Windows tells of no connection that ended, has no location database and no
// helper whose health to watch: those services stay unset.
inline TMainServices MainServicesOf(TWindowsServices& platform, TMessageBoxes& boxes, std::string executableDir,
                                    std::string executablePath, TSettingsLocation files) {
    return TMainServices{platform.IpTables, platform.Processes, platform.Names,     boxes,
                         platform.Killer,   platform.Launcher,  platform.Sound,     platform.Autostart,
                         platform.Packets,  std::move(executableDir),          std::move(executablePath),
                         std::move(files),
                         &IpHelperAvailable,
                         &GetProcessExePath,
                         &ReadProcessInfoFields,
                         platform.Wakeup,
                         nullptr,
                         {},
                         nullptr};
}

}  // namespace tarnwick
