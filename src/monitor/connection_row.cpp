#include "monitor/connection_row.h"

#include "monitor/tcp_state_names.h"

namespace tarnwick {

namespace {

// Endpoint texts are "name:port"; names hold no ':', so the first one splits.
constexpr size_t kMaxPortTextLength = 100;

void SplitEndpoint(const std::string& endpoint, std::string* name, std::string& port) {
    const size_t colon = endpoint.find(':');
    if (colon == std::string::npos) return;
    if (name) name->assign(endpoint, 0, colon);
    port.assign(endpoint, colon + 1, kMaxPortTextLength);
}

std::string ProcessText(const ConnectionSnapshot& snapshot, uint32_t pid) {
    if (!snapshot.ExTablesAvailable()) return {};
    const TProcessSnapshot* processes = snapshot.Processes();
    return processes ? std::string(processes->GetProcessName(pid)) : std::string("?");
}

}  // namespace

const std::string& TConnectionRow::Cell(int column) const {
    switch (column) {
        case 0: return RemoteAddr;
        case 1: return RemotePort;
        case 2: return LocalPort;
        case 3: return Protocol;
        case 4: return Status;
        default: return Process;
    }
}

TConnectionRow BuildTcpRowTexts(ConnectionSnapshot& snapshot, size_t index, TEndpointTexts& endpoints) {
    TTcpRow row = snapshot.TcpRow(index);
    if (row.RemoteAddr == 0) {
        snapshot.SetTcpRemotePort(index, 0);
        row.RemotePort = 0;
    }
    TConnectionRow texts;
    SplitEndpoint(endpoints.GetEndpointText(row.RemoteAddr, row.RemotePort, false), &texts.RemoteAddr,
                  texts.RemotePort);
    SplitEndpoint(endpoints.GetEndpointText(row.LocalAddr, row.LocalPort, true), nullptr, texts.LocalPort);
    texts.Protocol = "TCP";
    texts.Status = TcpStateName(row.State);
    texts.Process = ProcessText(snapshot, row.OwningPid);
    return texts;
}

TConnectionRow BuildUdpRowTexts(const ConnectionSnapshot& snapshot, size_t index, TEndpointTexts& endpoints) {
    const TUdpRow row = snapshot.UdpRow(index);
    TConnectionRow texts;
    texts.RemoteAddr = "*";
    texts.RemotePort = "*";
    SplitEndpoint(endpoints.GetEndpointText(row.LocalAddr, row.LocalPort, true), nullptr, texts.LocalPort);
    texts.Protocol = "UDP";
    texts.Status = "-";
    texts.Process = ProcessText(snapshot, row.OwningPid);
    return texts;
}

}  // namespace tarnwick
