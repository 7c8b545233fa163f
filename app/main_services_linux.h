// The main window's services, wired to the Linux ones (see main_services.h).
#pragma once

#include <string>

#include "common/file_locations.h"
#include "platform/linux/linux_location_lookup.h"
#include "platform/linux/heap_settings.h"
#include "platform/linux/linux_services.h"
#include "platform/linux/package_info.h"
#include "platform/linux/process_exe.h"
#include "ui/main_form.h"

namespace tarnwick {

using TWindowProgramServices = TLinuxServices;

// The window runs for days: its resident memory should follow the tables it
// shows now, not the largest ones it ever refreshed.
inline void PrepareWindowProcess() { ReturnLargeBlocksToTheSystem(); }

inline TMainServices MainServicesOf(TLinuxServices& platform, TMessageBoxes& boxes, std::string executableDir,
                                    std::string executablePath, TSettingsLocation files) {
    return TMainServices{platform.IpTables, platform.Processes, platform.Names,     boxes,
                         platform.Killer,   platform.Launcher,  platform.Sound,     platform.Autostart,
                         platform.Packets,  std::move(executableDir),          std::move(executablePath),
                         std::move(files),
                         &SockDiagAvailable,
                         &GetProcessExePath,
                         &ReadProcessInfoFields,
                         platform.Wakeup,
                         &platform.EndedConnections,
                         [&platform] { return platform.Privileged.OwnersHealth(); },
                         [] { return OpenLocationDatabase(LocationDatabasePath()); }};
}

}  // namespace tarnwick
