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
        std::vector<tarnwick::TDiagSocket> v4, v6;
        tarnwick::ParseDiagReplies(data, size, protocol, v4, &v6);
        for (const auto& socket : v4)
            if (socket.Row.V6) __builtin_trap();  // an IPv4 table row marked IPv6
        for (const auto& socket : v6)
            if (!socket.Row.V6) __builtin_trap();
    }
    return 0;
}
