// One refresh of the connection monitor: fetch the tables, size the grid,
// turn every row into texts, detect what changed since the last refresh and
// hand the results to three outlets (grid rows, log, rule checks). The same
// refresh serves every runner: the window thread, a worker, the command line.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "monitor/log_connection.h"
#include "monitor/log_kind.h"
#include "monitor/connection_items.h"
#include "monitor/connection_row.h"
#include "monitor/connection_snapshot.h"
#include "monitor/location_cache.h"
#include "monitor/recently_gone.h"
#include "monitor/socket_owner_feed.h"
#include "monitor/traffic_monitor.h"
#include "monitor/view_settings.h"
#include "platform/ended_connections.h"
#include "platform/ip_tables.h"
#include "platform/name_lookup.h"
#include "platform/process_list.h"

namespace tarnwick {

// Where a refresh puts its results. Called in the order the user sees them:
// per TCP row its event, then its rule check, then its grid row.
class TRefreshOutlets {
public:
    virtual ~TRefreshOutlets() = default;

    // The grid: row 0 is the header, data rows start at 1.
    virtual int GridRowCount() = 0;
    virtual void SetGridRowCount(int rows) = 0;
    virtual void WriteGridRow(int row, const TConnectionRow& texts) = 0;

    // A log line; `connection` is set for the events of a connection
    // (connected, state changed, gone).
    virtual void AddLog(const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection) = 0;

    // A new established connection: TCP row `row` of the snapshot, which the
    // rule check may read while it runs, or kEndedConnectionRow for one that
    // ended before any refresh listed it. Rules match its remote address and
    // ports; their log lines are about it.
    virtual void CheckRules(int row, const TLogConnection& connection) = 0;

    // True once nothing more can reach the window (the program is stopping):
    // the refresh then ends at the next point it looks, without its results.
    virtual bool Stopping() const { return false; }

    // Whether the refresh may wait for slow look-ups (a location database
    // opened for the first time): false where it runs on a window's thread,
    // which must never wait for them.
    virtual bool MayWaitForLookups() const { return true; }
};

struct TPlatformServices {
    TIpTables& IpTables;
    TProcessList& Processes;
    TNameLookup& Names;
    // Connections the system saw end; without it (or while it is inactive)
    // only what the tables show is reported.
    TEndedConnections* EndedConnections = nullptr;
};

// A listening socket whose owner the tables named, with that owner's name.
struct TListener {
    TTcpRow Row;
    std::string Process;
};

class TRefresh {
public:
    TRefresh(ConnectionSnapshot& snapshot, TConnectionitems& connections, TPlatformServices platform,
             const TViewSettings& view);

    // Runs one refresh. Only one refresh may run over the same snapshot and
    // list at a time; callers keep them apart.
    void Run(TRefreshOutlets& outlets);

    // The longest a refresh waits in total for host names of remote addresses.
    // Names that arrive later show from a later refresh on.
    std::chrono::milliseconds HostNameBudget{1000};

    // Off for a single look at the tables (tarnwick-cli table) and for
    // refreshes run only for the owners of the sockets: the shown rows go to
    // the grid, and nothing else is made (no connection list, events or rule
    // checks), which spares a copy of every connection. Host names are then
    // looked up only for shown TCP rows.
    bool TrackConnections = true;

    // While on, each refresh publishes the owners of the sockets it read to
    // Owners() as soon as it has read the tables; one that could not read the
    // TCP table publishes nothing, and the last owners stand. Off by default:
    // it costs a hash of every socket, wanted only where packets are captured.
    std::atomic<bool> MapOwners{false};
    std::shared_ptr<const TSocketOwnerFeed> Owners() const { return Owners_; }

    // The traffic of the TCP connections, summed up by each refresh.
    TTrafficMonitor Traffic;

    // Where the remote addresses are looked up while the view shows their
    // locations; without it none are.
    TLocationCache* Locations = nullptr;
    // The longest a refresh waits for the locations of new addresses, where
    // it may wait at all (see TRefreshOutlets::MayWaitForLookups).
    std::chrono::milliseconds LocationBudget{1000};

private:
    void SizeGrid(TRefreshOutlets& outlets, int rows);
    void ResolveRemoteHosts();
    // The locations of the TCP rows' remote addresses, into RowLocations_.
    void LocateRemoteAddresses(const TRefreshOutlets& outlets);
    // The location of TCP row `i` found for this refresh; null without one.
    const TLocation* RowLocation(uint32_t i) const { return i < RowLocations_.size() ? RowLocations_[i] : nullptr; }
    // The location known for `address` now, while locations are looked up.
    const TLocation* KnownLocation(const TInetAddress& address) const;
    void ProcessTcpRows(TRefreshOutlets& outlets, int shownTcp);
    void ProcessUdpRows(TRefreshOutlets& outlets, int shownTcp, int shownUdp);
    // The counters and rates of TCP row `row` into its texts, and into the traffic summary.
    void AddTraffic(const TTcpRow& row, TConnectionRow& texts);
    void ReportDisconnected(TRefreshOutlets& outlets);
    // Takes the system's ended connections: logs those no table showed,
    // keeps the others for the rows and the gone connections they belong to.
    void ReportShortLived(TRefreshOutlets& outlets, std::chrono::system_clock::time_point fetchStarted);
    // The "DisConnected" line of `item`, preceded by its "Connected" line
    // when its end tells it got past its handshake unannounced.
    void ReportGone(TRefreshOutlets& outlets, const TConnectionitem& item);
    // This refresh's ended connection that `item` (at `key`) stands for, if any.
    const TEndedConnection* EndedOf(const TConnectionitem& item, const TConnectionKey& key) const;
    // A "Connected" line and its rule check; `row` as CheckRules takes it.
    void LogConnected(TRefreshOutlets& outlets, const TLogConnection& connection, const std::string& process,
                      const std::string& shownAddr, int row);
    // The owner of an ended connection's socket no row showed: the listener
    // on its local end, else the holder of its inode; pid 0 and "?" when
    // neither is known.
    std::pair<uint32_t, std::string> EndedOwner(const TTcpRow& row) const;
    // The ends a reset end may face: those of `ended`, of the tables' first
    // `rows` TCP rows and of the list (see NameResetEnd).
    std::vector<TConnectionKey> PeerEnds(const std::vector<TEndedConnection>& ended, uint32_t rows) const;

    ConnectionSnapshot& Snapshot_;
    const std::shared_ptr<TSocketOwnerFeed> Owners_ = std::make_shared<TSocketOwnerFeed>();
    // The tables the running refresh fetched.
    std::shared_ptr<const TFetchedTables> Tables_;
    // The locations of the remote ends of their TCP rows, in row order, while
    // they are looked up, and those ends; kept for their memory.
    std::vector<const TLocation*> RowLocations_;
    std::vector<TInetAddress> RemoteAddresses_;
    TConnectionitems& Connections_;
    TPlatformServices Platform_;
    const TViewSettings& View_;
    TEndpointTexts Endpoints_;
    TRecentlyGone RecentlyGone_;
    // Ended connections announced after the tables were read: their rows
    // (a Time_Wait remnant) show only in the next tables, so they wait for them.
    std::vector<TEndedConnection> Deferred_;
    // This refresh's ended connections that connections of the tables stand
    // for: by socket cookie, and by ends for one whose remnant is listed.
    std::unordered_map<uint64_t, TEndedConnection> EndedByCookie_;
    std::unordered_map<TConnectionKey, TEndedConnection, TConnectionKeyHash> EndedByKey_;
    // Of this refresh, then of the last one, for the owners of ended
    // connections: a listener names what it accepted after its process is gone.
    std::vector<TListener> Listeners_;
    std::vector<TListener> LastListeners_;  // the last tables' listeners whose owner they named
};

}  // namespace tarnwick
