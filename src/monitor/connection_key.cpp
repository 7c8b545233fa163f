#include "monitor/connection_key.h"

#include <functional>

namespace tarnwick {

bool TConnectionKey::Matches(const TConnectionKey& wanted) const {
    if (Tcp != wanted.Tcp || V6 != wanted.V6 || LocalPort != wanted.LocalPort) return false;
    if (Tcp && (RemotePort != wanted.RemotePort)) return false;
    // With AnyLocal6 an interface still counts when the wanted key names one:
    // the zone of a link-local remote address.
    if (V6) return (wanted.AnyLocal6 ? wanted.Interface == 0 || Interface == wanted.Interface
                                     : LocalAddr6 == wanted.LocalAddr6 && Interface == wanted.Interface) &&
                   (!Tcp || RemoteAddr6 == wanted.RemoteAddr6);
    if (Tcp && RemoteAddr != wanted.RemoteAddr) return false;
    return !wanted.LocalAddr || LocalAddr == wanted.LocalAddr;
}

size_t TConnectionKeyHash::operator()(const TConnectionKey& key) const {
    size_t hash = std::hash<bool>{}(key.Tcp);
    const auto mix = [&hash](uint64_t value) { hash = hash * 1099511628211u ^ std::hash<uint64_t>{}(value); };
    mix(key.LocalAddr.value_or(0) | (static_cast<uint64_t>(key.LocalAddr.has_value()) << 32));
    mix(key.LocalPort | (static_cast<uint64_t>(key.RemotePort) << 16) | (static_cast<uint64_t>(key.V6) << 32) |
        (static_cast<uint64_t>(key.AnyLocal6) << 33));
    mix(key.RemoteAddr | (static_cast<uint64_t>(key.Interface) << 32));
    for (const TIp6Address* address : {&key.LocalAddr6, &key.RemoteAddr6})
        for (size_t i = 0; i < address->size(); i += 8) {
            uint64_t word = 0;
            for (size_t j = 0; j < 8; ++j) word = word << 8 | (*address)[i + j];
            mix(word);
        }
    return hash;
}

TConnectionKey KeyOfTcpRow(const TTcpRow& row) {
    TConnectionKey key{true, row.LocalAddr, PortFromField(row.LocalPort), row.RemoteAddr,
                       PortFromField(row.RemotePort)};
    if (row.V6) {
        key.LocalAddr.reset();
        key.V6 = true;
        key.LocalAddr6 = row.LocalAddr6;
        key.RemoteAddr6 = row.RemoteAddr6;
        key.Interface = row.Interface;
    }
    return key;
}

TConnectionKey KeyOfUdpRow(const TUdpRow& row) {
    TConnectionKey key{false, row.LocalAddr, PortFromField(row.LocalPort), 0, 0};
    if (row.V6) {
        key.LocalAddr.reset();
        key.V6 = true;
        key.LocalAddr6 = row.LocalAddr6;
        key.Interface = row.Interface;
    }
    return key;
}

}  // namespace tarnwick
