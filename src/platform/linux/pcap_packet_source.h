// The machine's IPv4 and IPv6 traffic through libpcap: one capture per
// interface that is up and running and carries an IPv4 address or an IPv6
// address beyond link-local scope.
//
// Each capture is a non-blocking pcap handle with a kernel buffer of
// kCaptureBufferSize in block mode (packets are packed into blocks handed over when full or after
// 10 ms; immediate mode would give each packet an MTU-sized slot, 64 slots on
// loopback) and a selectable descriptor for poll or a socket notifier. Its
// snapshot length holds the largest IP packet of either family behind the
// longest link header, so packets arrive whole. The link-layer header of every
// frame is stripped here, so readers see the IP header first, whatever the
// interface's link type.
//
// VLANs: a VLAN interface whose parent is captured is not captured itself;
// the parent sees its frames tagged, so each packet is read once.
//
// Capturing needs the CAP_NET_RAW capability (root, or setcap on the binary).
//
// Loopback: on Linux every loopback packet passes the packet taps twice, once
// leaving and once arriving. The kernel filter of a loopback capture lets
// only the arriving copy into the buffer, which so holds twice as many
// packets (libpcap would drop the leaving copy on "lo" itself, after it took
// its room), and each loopback packet is read exactly once (the tests check
// this).
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/capture_socket_filter.h"
#include "platform/packet_source.h"

namespace tarnwick {

// Where the IP packet lies in a captured frame of pcap link type `linkType`
// (a DLT_ value of pcap/dlt.h): StripLinkHeader (link_header.h) for
// the link types it knows; nullopt for any other.
std::optional<std::pair<size_t, size_t>> IpPayloadOf(int linkType, const uint8_t* frame, size_t length);

// Whether IpPayloadOf knows link type `linkType`.
bool IsSupportedLinkType(int linkType);

// VLAN interfaces by interface index, each with the index of the interface
// it is stacked on (its parent).
using TVlanParents = std::map<unsigned, unsigned>;

// Whether a capture of interface `index` would only repeat one of the
// `captured` interfaces: every frame a VLAN interface sends or receives
// crosses the packet taps of its parent, tagged (libpcap puts back a tag the
// network card took off), and the Ethernet stripper walks the tags. So a VLAN
// stacked, directly or through other VLANs, on a captured interface is not
// captured itself, and each of its packets is listed once, from the parent.
bool IsSeenOnParent(unsigned index, const std::set<unsigned>& captured, const TVlanParents& vlanParents);

// The VLAN interfaces of this network namespace and what each is stacked on,
// from an rtnetlink link dump. The kernel's own answer is asked rather than
// /sys/class/net, which shows the namespace sysfs was mounted in, not
// necessarily ours. Empty when the dump fails: then every interface is
// captured, and a VLAN's packets may be listed twice but none is lost.
TVlanParents ReadVlanParents();

// The text of an interface's address worth capturing on: any IPv4 address,
// an IPv6 one only beyond link-local scope (interfaces with nothing else, as
// the host ends of container links, carry traffic also seen on a bridge).
std::optional<std::string> CandidateAddressText(const sockaddr* address);

class TPcapPacketSource final : public TPacketSource {
public:
    // Interfaces are taken in interface-index order (loopback is usually 1),
    // the first 20 that qualify, leaving out VLAN interfaces whose parent is
    // captured (IsSeenOnParent). An interface that fails to open or has a
    // link type we cannot strip is reported through `onError` and skipped.
    // When no interface qualifies, reports "no up interface with an IP
    // address" and returns no captures. Throws ESocketException when the
    // interfaces cannot be listed, or when every one failed for lack of
    // privilege (the message carries libpcap's text and names CAP_NET_RAW).
    std::vector<std::unique_ptr<TPacketCapture>> OpenCaptures(
        const std::function<void(const std::string&)>& onError) override;
};

}  // namespace tarnwick
