// libFuzzer target: the parser of sock_diag dump replies. Any bytes the
// socket could hand over are parsed for both protocols; a row must only ever
// come from a message whole enough to hold it.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/linux/diag_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const uint8_t protocol : {uint8_t{IPPROTO_TCP}, uint8_t{IPPROTO_UDP}}) {
        std::vector<tarnwick::TTcpRow> v4, v6;
        tarnwick::ParseDiagReplies(data, size, protocol, v4, &v6);
        // Both ends of a row are of its family: IPv4 rows, then IPv6 ones.
        for (const auto& row : v4)
            if (row.LocalAddr.V6() || row.RemoteAddr.V6()) __builtin_trap();
        for (const auto& row : v6)
            if (!row.LocalAddr.V6() || !row.RemoteAddr.V6()) __builtin_trap();
    }
    return 0;
}
