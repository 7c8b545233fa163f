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
    // The IPv6 tables add to the IPv4 ones; without them the IPv4 rows still show.
    std::vector<uint8_t> tcp6, udp6;
    if (IncludeIpv6_ && tables.GetTcp6ExTable(tcp6) != kTableOk) tcp6.clear();
    if (IncludeIpv6_ && tables.GetUdp6ExTable(udp6) != kTableOk) udp6.clear();
    std::vector<TSocketTraffic> traffic = tables.TakeTcpTraffic();
    // Counters that do not line up with the rows would be pinned on the wrong
    // connections: then no row has any.
    const size_t tcpRows =
        tcpResult == kTableOk ? TableRowCount(tcp, kTcpRowExSize) + TableRowCount(tcp6, kTcp6RowExSize) : 0;
    if (traffic.size() != tcpRows) traffic.clear();
    std::vector<TSocketIdentity> identities = tables.TakeTcpIdentities();
    if (identities.size() != tcpRows) identities.clear();
    Processes_.emplace(TProcessSnapshot::Take(processes));

    std::unique_lock lock(Mutex_);
    TcpTable_.swap(tcp);
    TcpResult_ = tcpResult;
    UdpTable_.swap(udp);
    UdpResult_ = udpResult;
    Tcp6Table_.swap(tcp6);
    Udp6Table_.swap(udp6);
    TcpTraffic_.swap(traffic);
    TcpIdentities_.swap(identities);
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

uint32_t ConnectionSnapshot::Tcp4RowCountLocked() const {
    return TcpResult_ == kTableOk ? TableRowCount(TcpTable_, TcpRowSize()) : 0;
}

uint32_t ConnectionSnapshot::Udp4RowCountLocked() const {
    return UdpResult_ == kTableOk ? TableRowCount(UdpTable_, UdpRowSize()) : 0;
}

// A table whose fetch failed hides the IPv6 rows of its protocol too, so the
// grid and the events treat TCP (or UDP) as one table that could not be read.
uint32_t ConnectionSnapshot::TcpRowCountLocked() const {
    return TcpResult_ == kTableOk ? Tcp4RowCountLocked() + TableRowCount(Tcp6Table_, kTcp6RowExSize) : 0;
}

uint32_t ConnectionSnapshot::UdpRowCountLocked() const {
    return UdpResult_ == kTableOk ? Udp4RowCountLocked() + TableRowCount(Udp6Table_, kUdp6RowExSize) : 0;
}

TTcpRow ConnectionSnapshot::TcpRowLocked(size_t index) const {
    const uint32_t v4 = Tcp4RowCountLocked();
    if (index >= TcpRowCountLocked()) return {};
    TTcpRow row = index < v4 ? DecodeTcpRow(TcpTable_, index, ExTablesAvailable_)
                             : DecodeTcp6Row(Tcp6Table_, index - v4);
    if (index < TcpIdentities_.size()) {
        row.Cookie = TcpIdentities_[index].Cookie;
        row.Inode = TcpIdentities_[index].Inode;
    }
    return row;
}

TUdpRow ConnectionSnapshot::UdpRowLocked(size_t index) const {
    const uint32_t v4 = Udp4RowCountLocked();
    if (index < v4) return DecodeUdpRow(UdpTable_, index, ExTablesAvailable_);
    if (index >= UdpRowCountLocked()) return {};
    return DecodeUdp6Row(Udp6Table_, index - v4);
}

uint32_t ConnectionSnapshot::Tcp6RowCount() const {
    std::shared_lock lock(Mutex_);
    return TcpRowCountLocked() - Tcp4RowCountLocked();
}

uint32_t ConnectionSnapshot::Udp6RowCount() const {
    std::shared_lock lock(Mutex_);
    return UdpRowCountLocked() - Udp4RowCountLocked();
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
    return TcpRowLocked(index);
}

TUdpRow ConnectionSnapshot::UdpRow(size_t index) const {
    std::shared_lock lock(Mutex_);
    return UdpRowLocked(index);
}

std::optional<TFoundConnection> ConnectionSnapshot::FindConnection(const TConnectionKey& key) const {
    std::shared_lock lock(Mutex_);
    if (!key.Tcp) {
        const uint32_t rows = UdpRowCountLocked();
        for (uint32_t i = 0; i < rows; ++i) {
            const TUdpRow row = UdpRowLocked(i);
            if (KeyOfUdpRow(row).Matches(key)) return TFoundConnection{false, i, {}, row};
        }
        return std::nullopt;
    }
    std::optional<TFoundConnection> match;
    const uint32_t rows = TcpRowCountLocked();
    for (uint32_t i = 0; i < rows; ++i) {
        const TTcpRow row = TcpRowLocked(i);
        if (!KeyOfTcpRow(row).Matches(key)) continue;
        const bool established = TcpStateName(row.State) == kStatusEstablished;
        if (!match || established) match = TFoundConnection{true, i, row, {}};
        if (established) break;
    }
    return match;
}

TSocketTraffic ConnectionSnapshot::TcpTraffic(size_t index) const {
    std::shared_lock lock(Mutex_);
    return index < TcpTraffic_.size() ? TcpTraffic_[index] : TSocketTraffic{};
}

bool ConnectionSnapshot::TcpTrafficRead() const {
    std::shared_lock lock(Mutex_);
    return TcpResult_ == kTableOk && TcpTraffic_.size() == TcpRowCountLocked();
}

void ConnectionSnapshot::SetTcpRemotePort(size_t index, uint32_t portField) {
    std::unique_lock lock(Mutex_);
    const uint32_t v4 = Tcp4RowCountLocked();
    if (index < v4) {
        WriteTableField(TcpTable_, kTableCountSize + index * TcpRowSize() + 16, portField);
    } else if (index < TcpRowCountLocked()) {
        WriteTableField(Tcp6Table_, kTableCountSize + (index - v4) * kTcp6RowExSize + 40, portField);
    }
}

}  // namespace tarnwick
