#include "monitor/refresh.h"

#include <string>
#include <unordered_set>
#include <vector>

#include "common/text_util.h"
#include "monitor/connection_events.h"
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

}  // namespace

TRefresh::TRefresh(ConnectionSnapshot& snapshot, TConnectionitems& connections, TPlatformServices platform,
                   const TViewSettings& view)
    : Snapshot_(snapshot), Connections_(connections), Platform_(platform), View_(view),
      Endpoints_(platform.Names, view) {}

void TRefresh::Run(TRefreshOutlets& outlets) {
    TProcessSnapshotCloser closer(Snapshot_);
    if (!Snapshot_.FetchTables(Platform_.IpTables, Platform_.Processes)) return;

    const int shownTcp = View_.ShowTcp ? static_cast<int>(Snapshot_.TcpRowCount()) : 0;
    const int shownUdp = View_.ShowUdp ? static_cast<int>(Snapshot_.UdpRowCount()) : 0;
    SizeGrid(outlets, 1 + shownTcp + shownUdp);

    Endpoints_.BeginRefresh();
    ResolveRemoteHosts();
    if (Snapshot_.TcpResult() == kTableOk) ProcessTcpRows(outlets);
    if (Snapshot_.UdpResult() == kTableOk) ProcessUdpRows(outlets, shownTcp);
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
    const uint32_t rows = Snapshot_.TcpRowCount();
    for (uint32_t i = 0; i < rows; ++i) {
        const uint32_t addr = Snapshot_.TcpRow(i).RemoteAddr;
        if (addr != 0 && asked.insert(addr).second) addrs.push_back(addr);
    }
    if (!addrs.empty()) Platform_.Names.ResolveHosts(addrs, HostNameBudget);
}

void TRefresh::ProcessTcpRows(TRefreshOutlets& outlets) {
    const bool withProcess = Snapshot_.ExTablesAvailable();
    Connections_.ClearSeen();
    const uint32_t rows = Snapshot_.TcpRowCount();
    Connections_.Reserve(rows);
    for (uint32_t i = 0; i < rows; ++i) {
        const TConnectionRow texts = BuildTcpRowTexts(Snapshot_, i, Endpoints_);
        const TTcpRow row = Snapshot_.TcpRow(i);  // read after the listener's remote port was zeroed
        const std::string remoteAddr = DottedText(row.RemoteAddr);
        const int remotePort = PortFromField(row.RemotePort);
        const int localPort = PortFromField(row.LocalPort);
        const std::string remotePortText = std::to_string(remotePort);

        const int32_t result = Connections_.UpdateConnection(remoteAddr, remotePortText, std::to_string(localPort),
                                                             "TCP", texts.Status, texts.Process);
        const bool isNew = result == TConnectionitems::kNew;
        if (isNew && texts.Status == kStatusEstablished) {
            outlets.AddLog(ConnectedText(withProcess, texts.Process, texts.RemoteAddr, remotePortText), lkConnect);
            outlets.CheckRules(static_cast<int>(i), remoteAddr, localPort, remotePort);
        } else if ((isNew && texts.Status != kStatusListening) || result == TConnectionitems::kStatusChanged) {
            outlets.AddLog(
                StatusChangedText(withProcess, texts.Process, texts.Status, texts.RemoteAddr, remotePortText),
                lkInfo);
        }
        if (View_.ShowTcp) outlets.WriteGridRow(static_cast<int>(i) + 1, texts);
    }
}

void TRefresh::ProcessUdpRows(TRefreshOutlets& outlets, int shownTcp) {
    const uint32_t rows = Snapshot_.UdpRowCount();
    for (uint32_t j = 0; j < rows; ++j) {
        // UDP rows only feed the grid, so hidden ones need no texts.
        if (!View_.ShowUdp) continue;
        outlets.WriteGridRow(shownTcp + static_cast<int>(j) + 1, BuildUdpRowTexts(Snapshot_, j, Endpoints_));
    }
}

void TRefresh::ReportDisconnected(TRefreshOutlets& outlets) {
    const bool withProcess = Snapshot_.ExTablesAvailable();
    for (size_t k = 0; k < Connections_.Count(); ++k) {
        const TConnectionitem& item = Connections_.Items(k);
        if (item.Seen) continue;
        outlets.AddLog(DisconnectedText(withProcess, item.Process(), item.RemoteAddr(), item.RemotePort()),
                       lkDisconnect);
    }
}

}  // namespace tarnwick
