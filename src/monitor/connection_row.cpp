#include "monitor/connection_row.h"

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

std::string RowProcessText(const TProcessSnapshot* processes, uint32_t pid) {
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

std::string AddressNumericText(const TInetAddress& address, uint32_t interface, TEndpointTexts& endpoints) {
    return address.V6() ? endpoints.AddressText6(address.Bytes(), interface) : DottedText(address.Ipv4Field());
}

namespace {

// The two cells of an end of a row; an IPv6 name part holds ':' by nature
// and is never split there.
void TakeEndpoint(TEndpointTexts::TParts parts, bool v6, std::string* name, std::string& port) {
    if (v6)
        TakeEndpoint6(std::move(parts), name, port);
    else
        SplitEndpoint(std::move(parts), name, port);
}

}  // namespace

TConnectionRow BuildTcpRowTexts(const TTcpRow& row, const TProcessSnapshot* processes, TEndpointTexts& endpoints) {
    TConnectionRow texts;
    const bool v6 = row.V6();
    TakeEndpoint(endpoints.GetEndpointParts(row.RemoteAddr, row.RemotePort, false, row.Interface), v6,
                 &texts.RemoteAddr, texts.RemotePort);
    TakeEndpoint(endpoints.GetEndpointParts(row.LocalAddr, row.LocalPort, true), v6, nullptr, texts.LocalPort);
    texts.Protocol = v6 ? kRowProtocolTcp6 : kRowProtocolTcp;
    texts.Status = TcpStateName(row.State);
    texts.State = row.State;
    texts.Process = RowProcessText(processes, row.OwningPid);
    texts.Key = KeyOfTcpRow(row);
    return texts;
}

TConnectionRow BuildUdpRowTexts(const TUdpRow& row, const TProcessSnapshot* processes, TEndpointTexts& endpoints) {
    TConnectionRow texts;
    texts.RemoteAddr = "*";
    texts.RemotePort = "*";
    TakeEndpoint(endpoints.GetEndpointParts(row.LocalAddr, row.LocalPort, true), row.V6(), nullptr, texts.LocalPort);
    texts.Protocol = row.V6() ? kRowProtocolUdp6 : kRowProtocolUdp;
    texts.Status = "-";
    texts.Process = RowProcessText(processes, row.OwningPid);
    texts.Key = KeyOfUdpRow(row);
    return texts;
}

}  // namespace tarnwick
