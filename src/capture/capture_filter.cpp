#include "capture/capture_filter.h"

#include <optional>

#include "common/inet_address.h"
#include "common/ini_file.h"

namespace tarnwick {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

bool ProtocolSet(std::string_view text) {
    for (char c : text) {
        if (!IsBlank(c)) return true;
    }
    return false;
}

bool IsUnspecified(const TIp6Address& address) { return address == TIp6Address{}; }

// Only a text with a colon can be IPv6: dotted texts, the common case, are
// never handed to the address parser.
std::optional<TIp6Address> Ip6AddressOf(std::string_view text) {
    if (text.find(':') == std::string_view::npos) return std::nullopt;
    return ParseIp6(text);
}

bool IsPortSet(std::string_view text) { return TIniFile::ParseInteger(text).value_or(0) != 0; }

struct TEndpoint {
    TEndpoint(std::string_view addr, std::string_view port)
        : Addr(addr), Port(port), Addr6(Ip6AddressOf(addr)), PortSet(IsPortSet(port)) {
        AddrSet = Addr6 ? !IsUnspecified(*Addr6) : addr != "0.0.0.0";
    }

    bool AddrMatches(std::string_view addr) const {
        if (!AddrSet || Addr == addr) return true;
        return Addr6 && Ip6AddressOf(addr) == Addr6;
    }
    bool Matches(std::string_view addr, std::string_view port) const {
        return AddrMatches(addr) && (!PortSet || Port == port);
    }

    std::string_view Addr;  // the field texts as typed
    std::string_view Port;
    std::optional<TIp6Address> Addr6;  // when Addr is an IPv6 address
    bool AddrSet;
    bool PortSet;
};

}  // namespace

bool IsFilteredOut(const TCaptureFilter& filter, std::string_view proto, std::string_view sourceIP,
                   std::string_view destIP, std::string_view sourcePort, std::string_view destPort) {
    const bool protocolSet = ProtocolSet(filter.Protocol);
    const TEndpoint one(filter.Addr1, filter.Port1);
    const TEndpoint two(filter.Addr2, filter.Port2);

    if (!protocolSet && !one.AddrSet && !one.PortSet && !two.AddrSet && !two.PortSet) return false;
    if (protocolSet && proto != filter.Protocol) return true;

    const bool forward = one.Matches(sourceIP, sourcePort) && two.Matches(destIP, destPort);
    const bool backward = two.Matches(sourceIP, sourcePort) && one.Matches(destIP, destPort);
    return !(forward || backward);
}

}  // namespace tarnwick
