// The framing of a buffer of netlink messages, checked before any parser
// walks it. libmnl's walk trusts each message's length field once it is at
// least a header long, so a length beyond the buffer would send it reading
// elsewhere: every length is checked here first, with unsigned arithmetic.
#pragma once

#include <cstddef>

namespace tarnwick {

// True when `buffer` is a run of whole netlink messages: each at least a
// header long, none running past the end (the padding after the last one
// may be missing).
bool NetlinkFramesValid(const void* buffer, size_t length);

}  // namespace tarnwick
