#include "monitor/socket_owner_map.h"

#include "monitor/connection_row.h"

namespace tarnwick {

namespace {

// Addresses whose packets reach sockets bound to any address without any
// socket being bound to them: loopback, multicast, the broadcast address.
bool ReachesAnyBound(const TInetAddress& address) {
    static constexpr TIp6Address kLoopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const TIp6Address& bytes = address.Bytes();
    if (address.V6()) return bytes[0] == 0xFF || bytes == kLoopback6;
    return bytes[0] == 127 || (bytes[0] >= 224 && bytes[0] <= 239) || address == TInetAddress::Ipv4(255, 255, 255, 255);
}

}  // namespace

TSocketOwnerMap::TSocketOwnerMap(const TFetchedTables& tables, const TProcessSnapshot* processes) {
    Sockets_.reserve(tables.Tcp.Rows.size() + tables.Udp.Rows.size());
    for (const TTcpRow& row : tables.Tcp.Rows) {
        if (!row.LocalAddr.Unspecified()) LocalAddresses_.insert(row.LocalAddr);
        // A listener's remote end is the unspecified address, as a bound socket's key has it.
        if (row.OwningPid != 0)
            Add(TConnectionKey{true, row.LocalAddr, row.LocalPort, row.RemoteAddr, row.RemotePort}, row.OwningPid,
                processes);
    }
    for (const TUdpRow& row : tables.Udp.Rows) {
        if (!row.LocalAddr.Unspecified()) LocalAddresses_.insert(row.LocalAddr);
        if (row.OwningPid != 0)
            Add(TConnectionKey{false, row.LocalAddr, row.LocalPort, TInetAddress::Any(row.V6())}, row.OwningPid,
                processes);
    }
}

void TSocketOwnerMap::Add(TConnectionKey key, uint32_t pid, const TProcessSnapshot* processes) {
    const auto [index, isNew] = OwnerIndex_.try_emplace(pid, Owners_.size());
    if (isNew) {
        TSocketOwner owner;
        owner.Pid = pid;
        owner.Name = RowProcessText(processes, pid);
        owner.Text = (owner.Name.empty() ? std::string(kUnknownProcessText) : owner.Name) + " " + std::to_string(pid);
        Owners_.push_back(std::move(owner));
    }
    ++Owners_[index->second].Sockets;
    Sockets_.emplace(std::move(key), index->second);
}

const TSocketOwner* TSocketOwnerMap::Lookup(const TConnectionKey& key) const {
    const auto found = Sockets_.find(key);
    return found == Sockets_.end() ? nullptr : &Owners_[found->second];
}

bool TSocketOwnerMap::MayBeLocal(const TInetAddress& address) const {
    return ReachesAnyBound(address) || LocalAddresses_.contains(address);
}

TFoundOwner TSocketOwnerMap::Find(bool tcp, const TSocketEnd& local, const TSocketEnd& remote) const {
    // Every socket's local address is one of these or unspecified: a remote
    // end costs this look alone.
    if (Sockets_.empty() || !MayBeLocal(local.Address)) return {};
    const bool v6 = local.Address.V6();
    const TInetAddress any = TInetAddress::Any(v6);
    if (tcp && !remote.Address.Unspecified())
        if (const TSocketOwner* owner = Lookup({true, local.Address, local.Port, remote.Address, remote.Port}))
            return {owner, TOwnerMatch::Connected};
    if (const TSocketOwner* owner = Lookup({tcp, local.Address, local.Port, any})) return {owner, TOwnerMatch::Bound};
    if (const TSocketOwner* owner = Lookup({tcp, any, local.Port, any})) return {owner, TOwnerMatch::Wildcard};
    // An IPv6 socket bound to :: takes IPv4 packets too, unless it is set to IPv6 only.
    const TInetAddress any6 = TInetAddress::Any(true);
    if (!v6)
        if (const TSocketOwner* owner = Lookup({tcp, any6, local.Port, any6})) return {owner, TOwnerMatch::Wildcard};
    return {};
}

size_t TSocketOwnerMap::SocketsOf(const TProgramSelector& program) const {
    size_t sockets = 0;
    for (const TSocketOwner& owner : Owners_)
        if (program.Selects(owner)) sockets += owner.Sockets;
    return sockets;
}

}  // namespace tarnwick
