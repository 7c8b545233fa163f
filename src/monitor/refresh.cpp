#include "monitor/refresh.h"

#include <algorithm>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/inet_address.h"
#include "common/text_util.h"
#include "monitor/connection_events.h"
#include "monitor/grid_row_mapping.h"
#include "monitor/tcp_state_names.h"

namespace tarnwick {

namespace {

// The process list lives for one refresh, also one that ends by an exception.
class TProcessSnapshotCloser {
public:
    explicit TProcessSnapshotCloser(ConnectionSnapshot& snapshot) : Snapshot_(snapshot) {}
    ~TProcessSnapshotCloser() { Snapshot_.CloseProcessSnapshot(); }
    TProcessSnapshotCloser(const TProcessSnapshotCloser&) = delete;
    TProcessSnapshotCloser& operator=(const TProcessSnapshotCloser&) = delete;

private:
    ConnectionSnapshot& Snapshot_;
};

std::string LocalAddrNumericText(const TTcpRow& row, TEndpointTexts& endpoints) {
    return row.V6 ? endpoints.AddressText6(row.LocalAddr6, row.Interface) : DottedText(row.LocalAddr);
}

void SetLogTraffic(TLogConnection& c, const std::optional<TSocketTraffic>& counters) {
    if (!counters || !counters->Known) return;
    c.BytesSent = counters->BytesSent;
    c.BytesReceived = counters->BytesReceived;
}

// The connection of TCP row `row`, shown as `texts`, for its log lines.
TLogConnection RowConnection(const TTcpRow& row, const TConnectionRow& texts, const std::string& remoteAddr,
                             bool withProcess, TEndpointTexts& endpoints) {
    TLogConnection c;
    c.Protocol = texts.Protocol;
    c.LocalAddress = LocalAddrNumericText(row, endpoints);
    c.LocalPort = PortFromField(row.LocalPort);
    c.RemoteAddress = remoteAddr;
    c.RemotePort = PortFromField(row.RemotePort);
    c.State = texts.Status;
    // Pid 0: no process holds the socket (Time_Wait), or it is not ours to see.
    if (withProcess && row.OwningPid != 0) {
        c.Pid = row.OwningPid;
        c.Process = texts.Process;
    }
    if (texts.Traffic) SetLogTraffic(c, TSocketTraffic{texts.Traffic->BytesSent, texts.Traffic->BytesReceived, true});
    return c;
}

// A connection gone from the tables, as it was last seen.
TLogConnection GoneConnection(const TConnectionitem& item, bool withProcess, const TTrafficMonitor& traffic,
                              TEndpointTexts& endpoints) {
    TLogConnection c;
    c.Protocol = item.Protocol();
    c.RemoteAddress = item.RemoteAddr();
    if (const auto& key = item.Key()) {
        c.LocalAddress =
            key->V6 ? endpoints.AddressText6(key->LocalAddr6, key->Interface) : DottedText(key->LocalAddr.value_or(0));
        c.LocalPort = key->LocalPort;
        c.RemotePort = key->RemotePort;
        if (key->Tcp) SetLogTraffic(c, traffic.LastCounters(*key));
    }
    c.State = item.Status();
    if (withProcess && item.Pid() != 0) {
        c.Pid = item.Pid();
        c.Process = item.Process();
    }
    return c;
}

// The process of the listener that accepted `row`, when one of `listeners`
// is on its local port and address (or on any address); 0 otherwise.
uint32_t ListenerPid(const std::vector<TTcpRow>& listeners, const TTcpRow& row) {
    for (const TTcpRow& listener : listeners) {
        if (listener.LocalPort != row.LocalPort) continue;
        // An IPv6 listener on any address takes IPv4 connections too (as IPv4-mapped ones).
        const bool anyAddress = listener.V6 ? listener.LocalAddr6 == TIp6Address{} : listener.LocalAddr == 0;
        if (anyAddress && (listener.V6 || !row.V6)) return listener.OwningPid;
        if (listener.V6 == row.V6 &&
            (row.V6 ? listener.LocalAddr6 == row.LocalAddr6 : listener.LocalAddr == row.LocalAddr))
            return listener.OwningPid;
    }
    return 0;
}

}  // namespace

TRefresh::TRefresh(ConnectionSnapshot& snapshot, TConnectionitems& connections, TPlatformServices platform,
                   const TViewSettings& view)
    : Snapshot_(snapshot), Connections_(connections), Platform_(platform), View_(view),
      Endpoints_(platform.Names, view) {}

void TRefresh::Run(TRefreshOutlets& outlets) {
    TProcessSnapshotCloser closer(Snapshot_);
    Platform_.IpTables.SetReadTraffic(View_.ReadTraffic);
    if (!Snapshot_.FetchTables(Platform_.IpTables, Platform_.Processes)) return;

    // Each switch is read once here, so the grid's size and its rows agree.
    const bool ipv6Shown = View_.ShowIpv6;
    const int shownTcp = static_cast<int>(ShownTcpRows(Snapshot_, View_.ShowTcp, ipv6Shown));
    const int shownUdp = static_cast<int>(ShownUdpRows(Snapshot_, View_.ShowUdp, ipv6Shown));
    SizeGrid(outlets, 1 + shownTcp + shownUdp);

    Endpoints_.BeginRefresh();
    ResolveRemoteHosts();
    if (Snapshot_.TcpResult() == kTableOk) ReportShortLived(outlets);
    Traffic.BeginRefresh();
    if (Snapshot_.TcpResult() == kTableOk) ProcessTcpRows(outlets, shownTcp);
    if (Snapshot_.UdpResult() == kTableOk) ProcessUdpRows(outlets, shownTcp, shownUdp);
    Traffic.EndRefresh(Snapshot_.TcpTrafficRead());
    ReportDisconnected(outlets);
    Connections_.RemoveUnseen();
}

void TRefresh::SizeGrid(TRefreshOutlets& outlets, int rows) {
    if (rows == outlets.GridRowCount()) return;
    // The grid keeps its header and at least one data row, blank when nothing is shown.
    if (rows == 1) {
        outlets.SetGridRowCount(2);
        outlets.WriteGridRow(1, TConnectionRow{});
    } else {
        outlets.SetGridRowCount(rows);
    }
}

void TRefresh::ResolveRemoteHosts() {
    // All names of a refresh are asked at once and waited for within one
    // budget, instead of one slow lookup after another per row.
    std::vector<uint32_t> addrs;
    std::unordered_set<uint32_t> asked;
    std::vector<TIp6Address> addrs6;
    std::set<TIp6Address> asked6;
    const uint32_t rows = Snapshot_.TcpRowCount();
    for (uint32_t i = 0; i < rows; ++i) {
        const TTcpRow row = Snapshot_.TcpRow(i);
        if (row.V6) {
            if (row.RemoteAddr6 != TIp6Address{} && asked6.insert(row.RemoteAddr6).second)
                addrs6.push_back(row.RemoteAddr6);
        } else if (row.RemoteAddr != 0 && asked.insert(row.RemoteAddr).second) {
            addrs.push_back(row.RemoteAddr);
        }
    }
    // Both families share the one budget of the refresh.
    const auto started = std::chrono::steady_clock::now();
    if (!addrs.empty()) Platform_.Names.ResolveHosts(addrs, HostNameBudget);
    if (!addrs6.empty()) {
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        Platform_.Names.ResolveHosts6(addrs6, std::max(HostNameBudget - spent, std::chrono::milliseconds(0)));
    }
}

void TRefresh::ProcessTcpRows(TRefreshOutlets& outlets, int shownTcp) {
    if (!TrackConnections) {
        for (int i = 0; i < shownTcp; ++i)
            outlets.WriteGridRow(i + 1, BuildTcpRowTexts(Snapshot_, static_cast<size_t>(i), Endpoints_));
        return;
    }
    const bool withProcess = Snapshot_.ExTablesAvailable();
    Connections_.ClearSeen();
    const uint32_t rows = Snapshot_.TcpRowCount();
    Connections_.Reserve(rows);
    for (uint32_t i = 0; i < rows; ++i) {
        TConnectionRow texts = BuildTcpRowTexts(Snapshot_, i, Endpoints_);
        AddTraffic(i, texts);
        const TTcpRow row = Snapshot_.TcpRow(i);  // read after the listener's remote port was zeroed
        const std::string remoteAddr = RemoteAddrNumericText(row, Endpoints_);
        const int remotePort = PortFromField(row.RemotePort);
        const int localPort = PortFromField(row.LocalPort);
        const std::string remotePortText = std::to_string(remotePort);

        const int32_t result =
            Connections_.UpdateConnection(remoteAddr, remotePortText, std::to_string(localPort), texts.Protocol,
                                          texts.Status, texts.Process, texts.Key, row.OwningPid);
        const bool isNew = result == TConnectionitems::kNew;
        if (isNew && texts.Status == kStatusEstablished) {
            const TLogConnection connection = RowConnection(row, texts, remoteAddr, withProcess, Endpoints_);
            outlets.AddLog(ConnectedText(withProcess, texts.Process, texts.RemoteAddr, remotePortText), lkConnect,
                           connection);
            outlets.CheckRules(static_cast<int>(i), connection);
        } else if ((isNew && texts.Status != kStatusListening) || result == TConnectionitems::kStatusChanged) {
            outlets.AddLog(
                StatusChangedText(withProcess, texts.Process, texts.Status, texts.RemoteAddr, remotePortText),
                lkInfo, RowConnection(row, texts, remoteAddr, withProcess, Endpoints_));
        }
        if (static_cast<int>(i) < shownTcp) outlets.WriteGridRow(static_cast<int>(i) + 1, texts);
    }
}

void TRefresh::AddTraffic(uint32_t row, TConnectionRow& texts) {
    const TSocketTraffic counters = Snapshot_.TcpTraffic(row);
    if (counters.Known && texts.Key) texts.Traffic = Traffic.AddConnection(*texts.Key, texts.Process, counters);
}

void TRefresh::ProcessUdpRows(TRefreshOutlets& outlets, int shownTcp, int shownUdp) {
    // UDP rows only feed the grid, so hidden ones need no texts.
    for (int j = 0; j < shownUdp; ++j)
        outlets.WriteGridRow(shownTcp + j + 1, BuildUdpRowTexts(Snapshot_, static_cast<size_t>(j), Endpoints_));
}

void TRefresh::ReportDisconnected(TRefreshOutlets& outlets) {
    const bool withProcess = Snapshot_.ExTablesAvailable();
    for (size_t k = 0; k < Connections_.Count(); ++k) {
        const TConnectionitem& item = Connections_.Items(k);
        if (item.Seen) continue;
        outlets.AddLog(DisconnectedText(withProcess, item.Process(), item.RemoteAddr(), item.RemotePort()),
                       lkDisconnect, GoneConnection(item, withProcess, Traffic, Endpoints_));
        if (Platform_.EndedConnections && item.Key()) RecentlyGone_.Add(*item.Key(), TRecentlyGone::TClock::now());
    }
}

// Connections that ended without ever being listed: each is logged as it
// would have been, connected and then gone, in the order they ended, before
// the rows of this refresh. One that is listed now (a Time_Wait remnant of
// it), was listed before or was reported gone lately is the tables' to report.
void TRefresh::ReportShortLived(TRefreshOutlets& outlets) {
    if (!Platform_.EndedConnections) return;
    const TEndedTake take = Platform_.EndedConnections->TakeEnded();
    if (!take.Connections.empty()) {
        // The ended ones are few beside the tables: the list and the rows are
        // looked up in them, not the other way round.
        const auto now = TRecentlyGone::TClock::now();
        std::unordered_map<TConnectionKey, bool, TConnectionKeyHash> unlisted;  // key -> not yet logged
        for (const TEndedConnection& ended : take.Connections) {
            const TConnectionKey key = KeyOfTcpRow(ended.Row);
            if (!RecentlyGone_.Contains(key, now)) unlisted.emplace(key, true);
        }
        for (size_t k = 0; k < Connections_.Count(); ++k)
            if (const auto& key = Connections_.Items(k).Key()) unlisted.erase(*key);
        std::vector<TTcpRow> listeners;
        const uint32_t rows = Snapshot_.TcpRowCount();
        for (uint32_t i = 0; i < rows && !unlisted.empty(); ++i) {
            const TTcpRow row = Snapshot_.TcpRow(i);
            unlisted.erase(KeyOfTcpRow(row));
            if (TcpStateName(row.State) == kStatusListening) listeners.push_back(row);
        }

        const bool withProcess = Snapshot_.ExTablesAvailable();
        for (const TEndedConnection& ended : take.Connections) {
            TTcpRow row = ended.Row;
            // Logged once, also when the system announced the same end twice.
            const auto it = unlisted.find(KeyOfTcpRow(row));
            if (it == unlisted.end() || !it->second) continue;
            it->second = false;
            row.OwningPid = ListenerPid(listeners, row);
            TConnectionRow texts;
            texts.Protocol = row.V6 ? kRowProtocolTcp6 : kRowProtocolTcp;
            // A connect never answered was only ever an attempt: logged as the
            // tables would have shown it, in Syn_Sent, and no rule fires.
            texts.Status = ended.HeardFromPeer ? kStatusEstablished : kStatusSynSent;
            if (withProcess && row.OwningPid != 0) {
                const TProcessSnapshot* processes = Snapshot_.Processes();
                texts.Process = processes ? std::string(processes->GetProcessName(row.OwningPid)) : "?";
            }
            const std::string shownAddr =
                (row.V6 ? Endpoints_.GetEndpointParts6(row.RemoteAddr6, row.RemotePort, false, row.Interface)
                        : Endpoints_.GetEndpointParts(row.RemoteAddr, row.RemotePort, false))
                    .Name;
            const std::string remotePortText = std::to_string(PortFromField(row.RemotePort));
            TLogConnection connection =
                RowConnection(row, texts, RemoteAddrNumericText(row, Endpoints_), withProcess, Endpoints_);
            if (ended.HeardFromPeer) {
                outlets.AddLog(ConnectedText(withProcess, texts.Process, shownAddr, remotePortText), lkConnect,
                               connection);
                outlets.CheckRules(kEndedConnectionRow, connection);
            } else {
                outlets.AddLog(StatusChangedText(withProcess, texts.Process, texts.Status, shownAddr, remotePortText),
                               lkInfo, connection);
            }
            connection.State = TcpStateName(row.State);
            // As for any connection gone, the address is the number, not the host's name.
            outlets.AddLog(DisconnectedText(withProcess, texts.Process, connection.RemoteAddress, remotePortText),
                           lkDisconnect, connection);
        }
    }
    if (take.Dropped != 0 || take.Lost)
        outlets.AddLog(ShortLivedNotShownText(take.Dropped, take.Lost), lkInfo, std::nullopt);
}

}  // namespace tarnwick
