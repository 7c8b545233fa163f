// A capture of one interface read straight from a packet socket that someone
// else opened (tarnwick-helper, which holds CAP_NET_RAW): what libpcap does on
// Linux, done by hand because libpcap cannot adopt a socket it did not open.
//
// The socket is AF_PACKET, SOCK_DGRAM, so the kernel strips every link-layer
// header itself and says the protocol beside the packet, whatever the link
// type. It gets a filter that passes IPv4, IPv6 and VLAN-tagged frames, a
// TPACKET_V3 ring of kCaptureBufferSize (blocks handed over when full or
// after 10 ms, as TPcapPacketSource's captures), and only then is bound to its interface, so
// no packet queues anywhere the ring does not see. None of this needs a
// privilege once the socket exists.
//
// Loopback: each packet passes the taps twice, leaving and arriving; the
// filter keeps the leaving copy out of the ring, so each is read once (as
// TPcapPacketSource's loopback capture).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/linux/unique_fd.h"
#include "platform/packet_source.h"

namespace tarnwick {

struct TCaptureInterface {
    std::string Name;
    std::string Address;  // as TPacketCapture::LocalAddress says it
    unsigned Index = 0;
    bool Loopback = false;
};

// The interfaces a capture covers, by the rules of TPcapPacketSource: up and
// running, with an IPv4 address or an IPv6 one beyond link-local scope
// (named by the first IPv4 one, else the first IPv6 one), by interface
// index, at most 20. Empty when the interfaces cannot be listed (`error`
// says why; else it is left empty).
std::vector<TCaptureInterface> ListCaptureInterfaces(std::string& error);

// Sets up `packetSocket` (unbound, protocol 0) as a capture of `where`, or
// returns null with the system's reason in `error`.
std::unique_ptr<TPacketCapture> OpenPacketSocketCapture(TUniqueFd packetSocket, const TCaptureInterface& where,
                                                        std::string& error);

}  // namespace tarnwick
