// A capture of one interface as tarnwick-helper forwards it: the program's
// end of a capture stream (helper_protocol.h), an AF_UNIX SOCK_SEQPACKET
// socket over which the helper's forwarder sends the frames of its packet
// socket in batches. The program never holds the packet socket itself.
//
// Every batch is checked whole before any frame of it is used; a malformed
// one, or the end of the stream, is an error (said once), after which the
// capture reads nothing more and its descriptor stays quiet. The link header is already off (the helper's
// socket is SOCK_DGRAM); VLAN tags the card left inline are walked here, and
// each IPv4 or IPv6 packet is handed over from its IP header.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/linux/unique_fd.h"
#include "platform/packet_source.h"

namespace tarnwick {

struct TCaptureInterface {
    std::string Name;
    std::string Address;  // as TPacketCapture::LocalAddress says it
    // Only the index goes to the helper, which tells a loopback interface
    // (whose leaving copies it keeps out) by the interface's own flags.
    unsigned Index = 0;
};

// The interfaces a capture covers, by the rules of TPcapPacketSource: up and
// running, with an IPv4 address or an IPv6 one beyond link-local scope
// (named by the first IPv4 one, else the first IPv6 one), by interface
// index, at most 20. Fails when the interfaces cannot be listed.
TResult<std::vector<TCaptureInterface>> ListCaptureInterfaces();

// The capture of `where` that reads the capture stream `stream`; fails when
// it cannot be watched.
TResult<std::unique_ptr<TPacketCapture>> OpenForwardedCapture(TUniqueFd stream, const TCaptureInterface& where);

}  // namespace tarnwick
