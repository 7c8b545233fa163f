// One monitoring session of the command-line tool: the core wired to the
// Linux services, with refresh results going straight into the grid's rows
// and the log, and rule checks to whoever wants them.
#pragma once

#include <functional>
#include <string>

#include "log/event_log.h"
#include "monitor/grid_rows.h"
#include "monitor/refresh.h"
#include "platform/linux/linux_ip_tables.h"
#include "platform/linux/linux_name_lookup.h"
#include "platform/linux/linux_process_list.h"

namespace tarnwick {

// Refresh results go straight into the grid's rows and the log; rule checks
// go to whoever wants them.
class TCliOutlets final : public TRefreshOutlets {
public:
    TCliOutlets(TGridRows& grid, TEventLog& log) : Grid_(grid), Log_(log) {}
    std::function<void(int, const std::string&, int, int)> OnCheckRules;

    int GridRowCount() override { return Grid_.RowCount(); }
    void SetGridRowCount(int rows) override { Grid_.SetRowCount(rows); }
    void WriteGridRow(int row, const TConnectionRow& texts) override { Grid_.WriteRow(row, texts); }
    void AddLog(const std::string& text, LogKind kind) override { Log_.AddLog(text, kind); }
    void CheckRules(int row, const std::string& remoteAddr, int localPort, int remotePort) override {
        if (OnCheckRules) OnCheckRules(row, remoteAddr, localPort, remotePort);
    }

private:
    TGridRows& Grid_;
    TEventLog& Log_;
};

// Everything one monitoring session holds, wired to the Linux services.
struct TCliMonitor {
    TLinuxIpTables IpTables;
    TLinuxProcessList Processes;
    TLinuxNameLookup Names;
    TViewSettings View;
    ConnectionSnapshot Snapshot{IpTables.ExTablesAvailable()};
    TConnectionitems Connections;
    TGridRows Grid;
    TEventLog Log;
    TCliOutlets Outlets{Grid, Log};
    TRefresh Refresh{Snapshot, Connections, TPlatformServices{IpTables, Processes, Names}, View};

    // The tool prints or reports the entries itself; it never saves its log on its own.
    TCliMonitor() { Log.AutoSaveLog = false; }

    // Without IPv6, the sockets of the IPv6 tables are not read at all, so
    // neither their rows nor their events show; IPv4-mapped ones still do.
    void IncludeIpv6(bool include) {
        View.ShowIpv6 = include;
        Snapshot.SetIncludeIpv6(include);
    }
};

}  // namespace tarnwick
