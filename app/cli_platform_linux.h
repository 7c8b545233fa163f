// The command-line tool's services on Linux (see cli_platform.h).
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/linux/interrupt_wait.h"
#include "platform/linux/linux_ended_connections.h"
#include "platform/linux/linux_ip_tables.h"
#include "platform/linux/linux_location_lookup.h"
#include "platform/linux/linux_name_lookup.h"
#include "platform/linux/linux_program_launcher.h"
#include "platform/linux/linux_sound_player.h"
#include "platform/linux/package_info.h"
#include "platform/linux/privileged_services.h"
#include "platform/linux/process_exe.h"
#include "platform/linux/systemd_journal.h"

namespace tarnwick {

struct TCliServices {
    // Without the privilege to read other users' descriptors, owners and
    // their names come from tarnwick-helper; so does closing a connection.
    TPrivilegedServices Privileged;
    TLinuxIpTables Tables{Privileged.Owners()};
    TLinuxNameLookup Names;
    TLinuxProgramLauncher Launcher;
    TLinuxSoundPlayer Sound;

    TIpTables& IpTables() { return Tables; }
    TProcessList& Processes() { return Privileged.Processes(); }
    TConnectionKiller& Killer() { return Privileged.Killer(); }
    TStatus KillAvailable() { return Privileged.KillAvailable(); }
    TStatus OwnersAvailable() { return Privileged.OwnersAvailable(); }
    TStatus OwnersHealth() { return Privileged.OwnersHealth(); }
    // The captures of a tool that also reads the tables: the helper that
    // serves the owners, when one is needed, serves these too.
    TPacketSource& Packets() { return Privileged.Packets(); }
};

struct TCliCaptureServices {
    // Without CAP_NET_RAW, tarnwick-helper opens the captures.
    TPrivilegedServices Privileged;
    TPacketSource& Packets() { return Privileged.Packets(); }
};

using TCliJournal = TSystemdJournal;

inline std::unique_ptr<TEndedConnections> OpenEndedConnections(bool includeIpv6) {
    return std::make_unique<TLinuxEndedConnections>(includeIpv6);
}

inline constexpr const char* kConnectionTablesSource = "netlink socket diagnostics";
inline TStatus ConnectionTablesAvailable() { return SockDiagAvailable(); }

inline constexpr const char* kNoLocationDatabase = "";
inline TLocationOpener CliLocationOpener() {
    return [] { return OpenLocationDatabase(LocationDatabasePath()); };
}

inline void NoteCaptureLimits(std::ostream&) {}

// The arguments are the bytes given; standard output needs nothing done.
inline std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}
inline void PrepareConsoleOutput() {}

}  // namespace tarnwick
