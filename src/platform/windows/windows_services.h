// Every Windows service the windowed program needs, made in one place.
#pragma once

#include "platform/pipe_wakeup.h"
#include "platform/windows/raw_socket_packet_source.h"
#include "platform/windows/registry_autostart.h"
#include "platform/windows/windows_connection_killer.h"
#include "platform/windows/windows_ip_tables.h"
#include "platform/windows/windows_name_lookup.h"
#include "platform/windows/windows_process_list.h"
#include "platform/windows/windows_program_launcher.h"
#include "platform/windows/windows_sound_player.h"

namespace tarnwick {

struct TWindowsServices {
    TWindowsIpTables IpTables;
    TWindowsProcessList Processes;
    TWindowsNameLookup Names;
    TWindowsConnectionKiller Killer;
    TWindowsProgramLauncher Launcher;
    TWindowsSoundPlayer Sound;
    TRegistryAutostart Autostart;
    TRawSocketPacketSource Packets;
    // A socket pair: Qt's socket notifier watches it on Windows as a
    // descriptor on Linux.
    TPipeWakeup Wakeup;
};

}  // namespace tarnwick
