// Every Linux service the windowed program needs, made in one place.
#pragma once

#include <string>

#include "platform/linux/eventfd_wakeup.h"
#include "platform/linux/linux_ended_connections.h"
#include "platform/linux/linux_ip_tables.h"
#include "platform/linux/linux_name_lookup.h"
#include "platform/linux/linux_program_launcher.h"
#include "platform/linux/linux_sound_player.h"
#include "platform/linux/privileged_services.h"
#include "platform/linux/xdg_autostart.h"

namespace tarnwick {

struct TLinuxServices {
    // A process without some privilege starts tarnwick-helper here, on the
    // thread that makes the services (the window's), which lives as long as
    // the program; the refresh workers come and go.
    explicit TLinuxServices(std::string autostartDir = DefaultAutostartDir(),
                            TOwnPrivileges own = TOwnPrivileges::OfThisProcess())
        : Privileged(own), Autostart(std::move(autostartDir)) {
        Privileged.StartHelperIfUsed();
    }

    TPrivilegedServices Privileged;
    TLinuxIpTables IpTables{Privileged.Owners()};
    TProcessList& Processes = Privileged.Processes();
    TLinuxNameLookup Names;
    TConnectionKiller& Killer = Privileged.Killer();
    TLinuxProgramLauncher Launcher;
    TLinuxSoundPlayer Sound;
    TXdgAutostart Autostart;
    TPacketSource& Packets = Privileged.Packets();
    TEventFdWakeup Wakeup;
    // The window always reads the IPv6 tables, so it keeps IPv6 connections too.
    TLinuxEndedConnections EndedConnections;
};

}  // namespace tarnwick
