// Every Linux service the windowed program needs, made in one place.
#pragma once

#include <string>

#include "platform/linux/eventfd_wakeup.h"
#include "platform/linux/linux_connection_killer.h"
#include "platform/linux/linux_ip_tables.h"
#include "platform/linux/linux_name_lookup.h"
#include "platform/linux/linux_process_list.h"
#include "platform/linux/linux_program_launcher.h"
#include "platform/linux/linux_sound_player.h"
#include "platform/linux/pcap_packet_source.h"
#include "platform/linux/xdg_autostart.h"

namespace tarnwick {

struct TLinuxServices {
    explicit TLinuxServices(std::string autostartDir = DefaultAutostartDir()) : Autostart(std::move(autostartDir)) {}

    TLinuxIpTables IpTables;
    TLinuxProcessList Processes;
    TLinuxNameLookup Names;
    TLinuxConnectionKiller Killer;
    TLinuxProgramLauncher Launcher;
    TLinuxSoundPlayer Sound;
    TXdgAutostart Autostart;
    TPcapPacketSource Packets;
    TEventFdWakeup Wakeup;
};

}  // namespace tarnwick
