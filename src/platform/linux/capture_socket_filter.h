// The kernel filter and buffer size of a capture's packet socket, libpcap's or
// the helper's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwick {

// The kernel buffer of each capture, libpcap's or the helper's. At 300,000
// small packets a second it holds about 150 ms of them (some 190 bytes each
// with the ring's headers), so a reader the scheduler keeps waiting that
// long loses nothing.
inline constexpr size_t kCaptureBufferSize = 8 * 1024 * 1024;

inline constexpr uint16_t kEtherTypeQinQOld = 0x9100;  // ETH_P_QINQ1, pre-802.1ad stacking

// Attaches to packet socket `fd` a filter that keeps IPv4, IPv6 and
// VLAN-tagged frames, by the protocol the kernel read from the link header
// (SKF_AD_PROTOCOL), so the buffer is not filled with ARP and the like. On
// loopback (`loopback`) it also keeps out the leaving copy of every packet
// (SKF_AD_PKTTYPE): each loopback packet passes the taps twice, and that copy
// would take as much room as the arriving one. False when the kernel refused
// it (errno says why).
bool AttachCaptureFilter(int fd, bool loopback);

}  // namespace tarnwick
