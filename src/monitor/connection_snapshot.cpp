#include "monitor/connection_snapshot.h"

#include <utility>

namespace tarnwick {

namespace {

// A listener's remote port reads 0 whatever the source said, as its remote
// address does.
void ClearListenerPorts(std::vector<TTcpRow>& rows) {
    for (TTcpRow& row : rows)
        if (row.RemoteAddr.Unspecified()) row.RemotePort = 0;
}

}  // namespace

void ConnectionSnapshot::FetchTables(TIpTables& tables, TProcessList& processes) {
    const TTableRequest request{IncludeIpv6_, ReadTraffic_};
    auto fetched = std::make_shared<TFetchedTables>();
    if (TResult<TTcpTable> tcp = tables.FetchTcp(request)) {
        fetched->Tcp = std::move(tcp).Value();
        ClearListenerPorts(fetched->Tcp.Rows);
    } else {
        fetched->TcpFailure = tcp.Failure();
    }
    if (TResult<TUdpTable> udp = tables.FetchUdp(request)) {
        fetched->Udp = std::move(udp).Value();
    } else {
        fetched->UdpFailure = udp.Failure();
    }
    Processes_.emplace(TProcessSnapshot::Take(processes));

    std::shared_ptr<const TFetchedTables> replaced = std::move(fetched);
    {
        std::lock_guard lock(Mutex_);
        Tables_.swap(replaced);
    }
    // The old tables go here, outside the lock, unless a reader still holds them.
}

std::shared_ptr<const TFetchedTables> ConnectionSnapshot::Tables() const {
    std::lock_guard lock(Mutex_);
    return Tables_;
}

uint32_t ConnectionSnapshot::TcpRowCount() const { return static_cast<uint32_t>(Tables()->Tcp.Rows.size()); }

uint32_t ConnectionSnapshot::UdpRowCount() const { return static_cast<uint32_t>(Tables()->Udp.Rows.size()); }

uint32_t ConnectionSnapshot::Tcp6RowCount() const { return static_cast<uint32_t>(Tables()->Tcp.Ipv6Rows); }

uint32_t ConnectionSnapshot::Udp6RowCount() const { return static_cast<uint32_t>(Tables()->Udp.Ipv6Rows); }

TTcpRow ConnectionSnapshot::TcpRow(size_t index) const {
    const auto tables = Tables();
    return index < tables->Tcp.Rows.size() ? tables->Tcp.Rows[index] : TTcpRow{};
}

TUdpRow ConnectionSnapshot::UdpRow(size_t index) const {
    const auto tables = Tables();
    return index < tables->Udp.Rows.size() ? tables->Udp.Rows[index] : TUdpRow{};
}

std::optional<TFoundConnection> ConnectionSnapshot::FindConnection(const TConnectionKey& key) const {
    const auto tables = Tables();
    if (!key.Tcp) {
        const std::vector<TUdpRow>& rows = tables->Udp.Rows;
        for (uint32_t i = 0; i < rows.size(); ++i)
            if (KeyOfUdpRow(rows[i]).Matches(key)) return TFoundConnection{false, i, {}, rows[i]};
        return std::nullopt;
    }
    std::optional<TFoundConnection> match;
    const std::vector<TTcpRow>& rows = tables->Tcp.Rows;
    for (uint32_t i = 0; i < rows.size(); ++i) {
        if (!KeyOfTcpRow(rows[i]).Matches(key)) continue;
        const bool established = rows[i].State == TTcpState::Established;
        if (!match || established) match = TFoundConnection{true, i, rows[i], {}};
        if (established) break;
    }
    return match;
}

bool ConnectionSnapshot::TcpTrafficRead() const {
    const auto tables = Tables();
    return !tables->TcpFailure && tables->Tcp.TrafficRead;
}

}  // namespace tarnwick
