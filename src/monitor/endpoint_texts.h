// Endpoint texts "name:port" for the rows of the connection tables: the
// computer name with a service name for local ends (and for remote 0.0.0.0),
// the host name or the dotted address for remote ends.
#pragma once

#include <cstdint>
#include <string>

#include "common/inet_address.h"
#include "monitor/view_settings.h"
#include "platform/name_lookup.h"

namespace tarnwick {

// This computer's name in ASCII lower case.
std::string GetLocalComputerName(TNameLookup& names);

class TEndpointTexts {
public:
    TEndpointTexts(TNameLookup& names, const TViewSettings& view);

    // Reads the computer name once for the refresh that follows.
    void BeginRefresh();

    // Text of one end of a row from its address and port:
    //   local end or unspecified address:  computer ":" service "(" protocol ")",
    //                            or computer ":" port name when no service has the port;
    //   remote end, resolved:    host name (at most 255 characters) ":" port number;
    //   remote end, unresolved:  dotted address (IPv6: its RFC 5952 form, with
    //                            the zone of `interface` when link-local) ":" port name.
    // Host names are taken from what the name lookup knows now; see
    // TNameLookup::ResolveHosts for how they get there.
    std::string GetEndpointText(const TInetAddress& addr, uint16_t port, bool localEnd, uint32_t interface = 0);

    // The same text in its two parts, name and port part, as the row texts
    // need them: the text is Name + ":" + Port.
    struct TParts {
        std::string Name;
        std::string Port;
    };
    TParts GetEndpointParts(const TInetAddress& addr, uint16_t port, bool localEnd, uint32_t interface = 0);
    // The numeric text of an IPv6 address reached through `interface`: with
    // its zone when link-local ("fe80::1%lo").
    std::string AddressText6(const TIp6Address& addr, uint32_t interface);

    // The port number in decimal, or its short name when short names are shown.
    std::string GetPortName(int32_t port) const;

private:
    TParts LocalParts(uint16_t port);

    TNameLookup& Names_;
    const TViewSettings& View_;
    std::string ComputerName_;
};

}  // namespace tarnwick
