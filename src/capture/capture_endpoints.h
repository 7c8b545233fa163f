// The filter that captures one connection of the connection list.
#pragma once

#include <cstdint>
#include <string>

#include "common/inet_address.h"
#include "monitor/connection_key.h"

namespace tarnwick {

// For TCP the remote endpoint as endpoint 1 and the local one as endpoint 2,
// for UDP the local endpoint as endpoint 1 and no endpoint 2. Addresses are
// in the form the address fields take (first number in the most significant
// byte), ports in host order. A connection of the IPv6 tables has V6 set and
// its addresses in Addr1V6 and Addr2V6 instead (Addr2V6 is :: for UDP).
struct TCaptureEndpoints {
    std::string Protocol;  // "TCP" or "UDP", as the packets of either family are named
    uint32_t Addr1 = 0;
    int Port1 = 0;
    uint32_t Addr2 = 0;
    int Port2 = 0;
    bool V6 = false;
    TIp6Address Addr1V6{};
    TIp6Address Addr2V6{};
};

// The endpoints of a connection found in the tables.
TCaptureEndpoints CaptureEndpointsOf(const TFoundConnection& found);

}  // namespace tarnwick
