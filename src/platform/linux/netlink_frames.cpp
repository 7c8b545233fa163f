#include "platform/linux/netlink_frames.h"

#include <linux/netlink.h>

#include <cstdint>
#include <cstring>

namespace tarnwick {

bool NetlinkFramesValid(const void* buffer, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    size_t offset = 0;
    while (offset < length) {
        const size_t left = length - offset;
        if (left < sizeof(nlmsghdr)) return false;
        nlmsghdr header;
        std::memcpy(&header, bytes + offset, sizeof header);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > left) return false;
        const size_t step = NLMSG_ALIGN(static_cast<size_t>(header.nlmsg_len));
        if (step >= left) return true;  // the last message, its padding possibly cut
        offset += step;
    }
    return true;
}

}  // namespace tarnwick
