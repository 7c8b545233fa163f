#include "monitor/connection_row.h"

#include "common/inet_address.h"
#include "common/text_util.h"
#include "monitor/tcp_state_names.h"

namespace tarnwick {

namespace {

// Endpoint texts are "name:port"; names hold no ':', so the first one splits.
constexpr size_t kMaxPortTextLength = 100;

// Splits "name:port" at its first ':' into the two cells (the name may be
// left out). Names hold no ':' in practice, so the parts split there already;
// a name that does hold one is split where the joined text would be.
void SplitEndpoint(TEndpointTexts::TParts parts, std::string* name, std::string& port) {
    if (parts.Name.find(':') != std::string::npos) {
        const std::string joined = parts.Name + ":" + parts.Port;
        const size_t colon = joined.find(':');
        if (name) name->assign(joined, 0, colon);
        port.assign(joined, colon + 1, kMaxPortTextLength);
        return;
    }
    if (name) *name = std::move(parts.Name);
    if (parts.Port.size() > kMaxPortTextLength) parts.Port.resize(kMaxPortTextLength);
    port = std::move(parts.Port);
}

}  // namespace

std::string RowProcessText(const ConnectionSnapshot& snapshot, uint32_t pid) {
    if (!snapshot.ExTablesAvailable()) return {};
    const TProcessSnapshot* processes = snapshot.Processes();
    return processes ? std::string(processes->GetProcessName(pid)) : std::string("?");
}

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

namespace {

// An IPv6 name part holds ':' by nature: it is never split there.
void TakeEndpoint6(TEndpointTexts::TParts parts, std::string* name, std::string& port) {
    if (name) *name = std::move(parts.Name);
    if (parts.Port.size() > kMaxPortTextLength) parts.Port.resize(kMaxPortTextLength);
    port = std::move(parts.Port);
}

}  // namespace

std::string RemoteAddrNumericText(const TTcpRow& row, TEndpointTexts& endpoints) {
    return row.V6 ? endpoints.AddressText6(row.RemoteAddr6, row.Interface) : DottedText(row.RemoteAddr);
}

TConnectionRow BuildTcpRowTexts(ConnectionSnapshot& snapshot, size_t index, TEndpointTexts& endpoints) {
    TTcpRow row = snapshot.TcpRow(index);
    if (row.V6 ? row.RemoteAddr6 == TIp6Address{} : row.RemoteAddr == 0) {
        snapshot.SetTcpRemotePort(index, 0);
        row.RemotePort = 0;
    }
    TConnectionRow texts;
    if (row.V6) {
        TakeEndpoint6(endpoints.GetEndpointParts6(row.RemoteAddr6, row.RemotePort, false, row.Interface), &texts.RemoteAddr,
                      texts.RemotePort);
        TakeEndpoint6(endpoints.GetEndpointParts6(row.LocalAddr6, row.LocalPort, true), nullptr, texts.LocalPort);
    } else {
        SplitEndpoint(endpoints.GetEndpointParts(row.RemoteAddr, row.RemotePort, false), &texts.RemoteAddr,
                      texts.RemotePort);
        SplitEndpoint(endpoints.GetEndpointParts(row.LocalAddr, row.LocalPort, true), nullptr, texts.LocalPort);
    }
    texts.Protocol = row.V6 ? kRowProtocolTcp6 : kRowProtocolTcp;
    texts.Status = TcpStateName(row.State);
    texts.Process = RowProcessText(snapshot, row.OwningPid);
    texts.Key = KeyOfTcpRow(row);
    return texts;
}

TConnectionRow BuildUdpRowTexts(const ConnectionSnapshot& snapshot, size_t index, TEndpointTexts& endpoints) {
    const TUdpRow row = snapshot.UdpRow(index);
    TConnectionRow texts;
    texts.RemoteAddr = "*";
    texts.RemotePort = "*";
    if (row.V6) {
        TakeEndpoint6(endpoints.GetEndpointParts6(row.LocalAddr6, row.LocalPort, true), nullptr, texts.LocalPort);
    } else {
        SplitEndpoint(endpoints.GetEndpointParts(row.LocalAddr, row.LocalPort, true), nullptr, texts.LocalPort);
    }
    texts.Protocol = row.V6 ? kRowProtocolUdp6 : kRowProtocolUdp;
    texts.Status = "-";
    texts.Process = RowProcessText(snapshot, row.OwningPid);
    texts.Key = KeyOfUdpRow(row);
    return texts;
}

}  // namespace tarnwick
