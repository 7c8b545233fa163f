#include "monitor/connection_key.h"

#include <cstring>

namespace tarnwick {

bool TConnectionKey::Matches(const TConnectionKey& wanted) const {
    if (Tcp != wanted.Tcp || V6() != wanted.V6() || LocalPort != wanted.LocalPort) return false;
    if (Tcp && (RemotePort != wanted.RemotePort || RemoteAddr != wanted.RemoteAddr)) return false;
    // With the local address open an interface still counts when the wanted
    // key names one: the zone of a link-local remote address.
    if (!wanted.LocalAddr) return wanted.Interface == 0 || Interface == wanted.Interface;
    return LocalAddr == wanted.LocalAddr && Interface == wanted.Interface;
}

namespace {

// Half of an address's bytes, as a number to hash.
uint64_t AddressWord(const TInetAddress& address, size_t half) {
    uint64_t word = 0;
    std::memcpy(&word, address.Bytes().data() + 8 * half, sizeof word);
    return word;
}

}  // namespace

size_t TConnectionKeyHash::operator()(const TConnectionKey& key) const {
    uint64_t hash = key.LocalPort | uint64_t{key.RemotePort} << 16 | uint64_t{key.Interface} << 32;
    const auto mix = [&hash](uint64_t value) {
        hash = (hash ^ value) * 0x9E3779B97F4A7C15ull;
        hash ^= hash >> 32;
    };
    mix(uint64_t{key.Tcp} | uint64_t{key.V6()} << 1 | uint64_t{key.LocalAddr.has_value()} << 2);
    // An IPv4 address is all in its first half.
    const size_t halves = key.V6() ? 2 : 1;
    for (size_t half = 0; half < halves; ++half) {
        mix(AddressWord(key.RemoteAddr, half));
        if (key.LocalAddr) mix(AddressWord(*key.LocalAddr, half));
    }
    return hash;
}

TConnectionKey KeyOfTcpRow(const TTcpRow& row) {
    return TConnectionKey{true, row.LocalAddr, row.LocalPort, row.RemoteAddr, row.RemotePort, row.Interface};
}

TConnectionKey KeyOfUdpRow(const TUdpRow& row) {
    return TConnectionKey{false, row.LocalAddr, row.LocalPort, TInetAddress::Any(row.V6()), 0, row.Interface};
}

}  // namespace tarnwick
