// The command-line tool's services on Windows (see cli_platform.h).
#pragma once

#include <memory>
#include <ostream>

#include "platform/windows/console_interrupt.h"
#include "platform/windows/console_io.h"
#include "platform/windows/raw_socket_packet_source.h"
#include "platform/windows/windows_connection_killer.h"
#include "platform/windows/windows_ip_tables.h"
#include "platform/windows/windows_name_lookup.h"
#include "platform/windows/windows_process_list.h"
#include "platform/windows/windows_program_launcher.h"
#include "platform/windows/windows_sound_player.h"
#include "platform/windows/windows_version_info.h"
#include "platform/ended_connections.h"
#include "platform/event_journal.h"
#include "platform/location_lookup.h"

namespace tarnwick {

struct TCliServices {
    TWindowsIpTables Tables;
    TWindowsProcessList ProcessList;
    TWindowsNameLookup Names;
    TWindowsConnectionKiller ConnectionKiller;
    TWindowsProgramLauncher Launcher;
    TWindowsSoundPlayer Sound;

    TIpTables& IpTables() { return Tables; }
    TProcessList& Processes() { return ProcessList; }
    TConnectionKiller& Killer() { return ConnectionKiller; }
    // Windows says whether a close is allowed only when one is tried: the
    // close itself says so.
    TStatus KillAvailable() { return {}; }
    // The tables carry every socket's owner, whoever runs the tool.
    TStatus OwnersAvailable() { return {}; }
    TStatus OwnersHealth() { return {}; }
    // The captures of a tool that also reads the tables.
    TRawSocketPacketSource Capture;
    TPacketSource& Packets() { return Capture; }
};

struct TCliCaptureServices {
    TRawSocketPacketSource Source;
    TPacketSource& Packets() { return Source; }
};

// Windows has no systemd journal; watch --journal says so.
class TCliJournal final : public TEventJournal {
public:
    TStatus Available() override { return TFailure{0, "there is no systemd journal on Windows"}; }
    TStatus SendEntry(const std::vector<TJournalField>&) override { return Available(); }
};

// Windows tells no program of connections that ended: short-lived ones are
// seen only when a refresh catches them.
inline std::unique_ptr<TEndedConnections> OpenEndedConnections(bool) { return nullptr; }

inline constexpr const char* kConnectionTablesSource = "IP helper";
inline TStatus ConnectionTablesAvailable() { return IpHelperAvailable(); }

inline constexpr const char* kNoLocationDatabase =
    "countries and networks come from IPFire's location library, which has no Windows build";
inline TLocationOpener CliLocationOpener() { return nullptr; }

// The wide command line's arguments, as UTF-8.
inline std::vector<std::string> CommandLineArguments(int, char**) { return CommandLineArguments(); }

inline void NoteCaptureLimits(std::ostream& err) {
    err << "tarnwick-cli: IPv4 only: capturing IPv6 on Windows needs a capture driver (raw sockets get no IPv6)\n";
}

}  // namespace tarnwick
