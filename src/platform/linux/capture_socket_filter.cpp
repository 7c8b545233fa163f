#include "platform/linux/capture_socket_filter.h"

#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <sys/socket.h>

#include <iterator>

namespace tarnwick {

bool AttachCaptureFilter(int fd, bool loopback) {
    // From the packet-type test to the drop; elsewhere both ways go on.
    const uint8_t skipLeaving = loopback ? 6 : 0;
    // Returning 0 drops a frame; the large value keeps it whole.
    sock_filter code[] = {
        {BPF_LD | BPF_B | BPF_ABS, 0, 0, static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_PKTTYPE)},
        {BPF_JMP | BPF_JEQ | BPF_K, skipLeaving, 0, PACKET_OUTGOING},
        {BPF_LD | BPF_H | BPF_ABS, 0, 0, static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_PROTOCOL)},
        {BPF_JMP | BPF_JEQ | BPF_K, 5, 0, ETH_P_IP},
        {BPF_JMP | BPF_JEQ | BPF_K, 4, 0, ETH_P_IPV6},
        {BPF_JMP | BPF_JEQ | BPF_K, 3, 0, ETH_P_8021Q},
        {BPF_JMP | BPF_JEQ | BPF_K, 2, 0, ETH_P_8021AD},
        {BPF_JMP | BPF_JEQ | BPF_K, 1, 0, kEtherTypeQinQOld},
        {BPF_RET | BPF_K, 0, 0, 0},
        {BPF_RET | BPF_K, 0, 0, 0x40000},
    };
    sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

}  // namespace tarnwick
