// The kernel filter of a capture's packet socket, libpcap's or one of our own.
#pragma once

#include <cstdint>

namespace tarnwick {

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
