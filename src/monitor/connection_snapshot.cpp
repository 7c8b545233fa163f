#include "monitor/connection_snapshot.h"

#include "monitor/tcp_state_names.h"

namespace tarnwick {

ConnectionSnapshot::ConnectionSnapshot(bool exTablesAvailable) : ExTablesAvailable_(exTablesAvailable) {}

bool ConnectionSnapshot::FetchTables(TIpTables& tables, TProcessList& processes) {
    return ExTablesAvailable_ ? FetchExTables(tables, processes) : FetchPlainTables(tables);
}

bool ConnectionSnapshot::FetchExTables(TIpTables& tables, TProcessList& processes) {
    std::vector<uint8_t> tcp, udp;
    uint32_t tcpResult = tables.GetTcpExTable(tcp);
    if (tcpResult != kTableOk) tcp.clear();
    uint32_t udpResult = tables.GetUdpExTable(udp);
    if (udpResult != kTableOk) udp.clear();
    Processes_.emplace(TProcessSnapshot::Take(processes));

    std::unique_lock lock(Mutex_);
    TcpTable_.swap(tcp);
    TcpResult_ = tcpResult;
    UdpTable_.swap(udp);
    UdpResult_ = udpResult;
    return true;
}

bool ConnectionSnapshot::FetchPlainTables(TIpTables& tables) {
    // One size variable serves both tables, each asked first without a buffer.
    // A table is replaced once its fill call has answered; a size query that
    // is not answered with kInsufficientBuffer ends the fetch there.
    auto fetch = [&](auto getTable, std::vector<uint8_t>& table, uint32_t& result) {
        uint32_t size = 0;
        if ((tables.*getTable)(nullptr, size, false) != kInsufficientBuffer) return false;
        std::vector<uint8_t> fresh(size, 0);
        const uint32_t freshResult = (tables.*getTable)(fresh.data(), size, true);
        if (freshResult != kTableOk) fresh.clear();
        std::unique_lock lock(Mutex_);
        table.swap(fresh);
        result = freshResult;
        return true;
    };
    return fetch(&TIpTables::GetTcpTable, TcpTable_, TcpResult_) &&
           fetch(&TIpTables::GetUdpTable, UdpTable_, UdpResult_);
}

uint32_t ConnectionSnapshot::TcpResult() const {
    std::shared_lock lock(Mutex_);
    return TcpResult_;
}

uint32_t ConnectionSnapshot::UdpResult() const {
    std::shared_lock lock(Mutex_);
    return UdpResult_;
}

uint32_t ConnectionSnapshot::TcpRowCountLocked() const {
    return TcpResult_ == kTableOk ? TableRowCount(TcpTable_, TcpRowSize()) : 0;
}

uint32_t ConnectionSnapshot::UdpRowCountLocked() const {
    return UdpResult_ == kTableOk ? TableRowCount(UdpTable_, UdpRowSize()) : 0;
}

uint32_t ConnectionSnapshot::TcpRowCount() const {
    std::shared_lock lock(Mutex_);
    return TcpRowCountLocked();
}

uint32_t ConnectionSnapshot::UdpRowCount() const {
    std::shared_lock lock(Mutex_);
    return UdpRowCountLocked();
}

TTcpRow ConnectionSnapshot::TcpRow(size_t index) const {
    std::shared_lock lock(Mutex_);
    if (index >= TcpRowCountLocked()) return {};
    return DecodeTcpRow(TcpTable_, index, ExTablesAvailable_);
}

TUdpRow ConnectionSnapshot::UdpRow(size_t index) const {
    std::shared_lock lock(Mutex_);
    if (index >= UdpRowCountLocked()) return {};
    return DecodeUdpRow(UdpTable_, index, ExTablesAvailable_);
}

std::optional<TFoundConnection> ConnectionSnapshot::FindConnection(const TConnectionKey& key) const {
    std::shared_lock lock(Mutex_);
    if (!key.Tcp) {
        const uint32_t rows = UdpRowCountLocked();
        for (uint32_t i = 0; i < rows; ++i) {
            const TUdpRow row = DecodeUdpRow(UdpTable_, i, ExTablesAvailable_);
            const TConnectionKey found = KeyOfUdpRow(row);
            if (found.LocalPort == key.LocalPort && (!key.LocalAddr || found.LocalAddr == key.LocalAddr))
                return TFoundConnection{false, i, {}, row};
        }
        return std::nullopt;
    }
    std::optional<TFoundConnection> match;
    const uint32_t rows = TcpRowCountLocked();
    for (uint32_t i = 0; i < rows; ++i) {
        const TTcpRow row = DecodeTcpRow(TcpTable_, i, ExTablesAvailable_);
        const TConnectionKey found = KeyOfTcpRow(row);
        if (found.LocalPort != key.LocalPort || found.RemoteAddr != key.RemoteAddr ||
            found.RemotePort != key.RemotePort || (key.LocalAddr && found.LocalAddr != key.LocalAddr))
            continue;
        const bool established = TcpStateName(row.State) == kStatusEstablished;
        if (!match || established) match = TFoundConnection{true, i, row, {}};
        if (established) break;
    }
    return match;
}

void ConnectionSnapshot::SetTcpRemotePort(size_t index, uint32_t portField) {
    std::unique_lock lock(Mutex_);
    if (index >= TcpRowCountLocked()) return;
    WriteTableField(TcpTable_, kTableCountSize + index * TcpRowSize() + 16, portField);
}

}  // namespace tarnwick
