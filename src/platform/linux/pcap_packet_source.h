// The machine's IPv4 and IPv6 traffic through libpcap: one capture per
// interface that is up and running and carries an IPv4 address or an IPv6
// address beyond link-local scope.
//
// Each capture is a non-blocking pcap handle with a 4 MiB kernel buffer in
// block mode (packets are packed into blocks handed over when full or after
// 10 ms; immediate mode would give each packet an MTU-sized slot, 64 slots on
// loopback) and a selectable descriptor for poll or a socket notifier. The link-layer header of every frame is stripped here, so readers
// see the IP header first, whatever the interface's link type.
//
// Capturing needs the CAP_NET_RAW capability (root, or setcap on the binary).
//
// Loopback: on Linux every loopback packet passes the packet taps twice, once
// leaving and once arriving; libpcap drops the leaving copy on "lo" itself,
// so each loopback packet is read exactly once (the tests check this).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/packet_source.h"

namespace tarnwick {

// Where the IP packet lies in a captured frame of pcap link type `linkType`
// (a DLT_ value of pcap/dlt.h): its offset and length, or nullopt when the
// frame holds no IPv4 or IPv6 packet (another protocol, a frame shorter than
// its link header, an unknown link type).
//
// Link types: Ethernet (DLT_EN10MB, EtherType 0x0800 or 0x86DD after any
// number of 802.1Q / 802.1ad VLAN tags), BSD loopback (DLT_NULL, DLT_LOOP: a
// 4-byte address family, AF_INET or one of the AF_INET6 numbers of Linux and
// the BSDs (10, 24, 28, 30), read in either byte order since DLT_NULL is in
// the capturing host's order), Linux cooked captures (DLT_LINUX_SLL,
// DLT_LINUX_SLL2: protocol 0x0800 or 0x86DD) and raw IP (DLT_RAW: either
// family; DLT_IPV4, DLT_IPV6: no header). The first byte's version nibble
// must be the family the link header names (4 or 6).
//
// The length stops at the IP header's length field when the packet it gives
// lies within the frame (IPv4: total length; IPv6: 40 + payload length), so
// Ethernet padding of short frames is not taken for packet data; otherwise (a
// frame cut by the snapshot length, a segmentation-offload frame whose length
// reads 0, an IPv6 jumbogram) it is the rest of the frame.
std::optional<std::pair<size_t, size_t>> IpPayloadOf(int linkType, const uint8_t* frame, size_t length);

// Whether IpPayloadOf knows link type `linkType`.
bool IsSupportedLinkType(int linkType);

class TPcapPacketSource final : public TPacketSource {
public:
    // Interfaces are taken in interface-index order (loopback is usually 1),
    // the first 20 that qualify. An interface that fails to open or has a
    // link type we cannot strip is reported through `onError` and skipped.
    // When no interface qualifies, reports "no up interface with an IP
    // address" and returns no captures. Throws ESocketException when the
    // interfaces cannot be listed, or when every one failed for lack of
    // privilege (the message carries libpcap's text and names CAP_NET_RAW).
    std::vector<std::unique_ptr<TPacketCapture>> OpenCaptures(
        const std::function<void(const std::string&)>& onError) override;
};

}  // namespace tarnwick
