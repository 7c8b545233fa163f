#include "capture/capture_filter.h"

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

bool AddressSet(std::string_view text) { return text != "0.0.0.0"; }

bool PortSet(std::string_view text) { return TIniFile::ParseInteger(text).value_or(0) != 0; }

struct TEndpoint {
    std::string_view Addr;  // the field texts as typed
    std::string_view Port;
    bool AddrSet;
    bool PortSet;

    bool Matches(std::string_view addr, std::string_view port) const {
        return (!AddrSet || Addr == addr) && (!PortSet || Port == port);
    }
};

}  // namespace

bool IsFilteredOut(const TCaptureFilter& filter, std::string_view proto, std::string_view sourceIP,
                   std::string_view destIP, std::string_view sourcePort, std::string_view destPort) {
    const bool protocolSet = ProtocolSet(filter.Protocol);
    const TEndpoint one{filter.Addr1, filter.Port1, AddressSet(filter.Addr1), PortSet(filter.Port1)};
    const TEndpoint two{filter.Addr2, filter.Port2, AddressSet(filter.Addr2), PortSet(filter.Port2)};

    if (!protocolSet && !one.AddrSet && !one.PortSet && !two.AddrSet && !two.PortSet) return false;
    if (protocolSet && proto != filter.Protocol) return true;

    const bool forward = one.Matches(sourceIP, sourcePort) && two.Matches(destIP, destPort);
    const bool backward = two.Matches(sourceIP, sourcePort) && one.Matches(destIP, destPort);
    return !(forward || backward);
}

}  // namespace tarnwick
