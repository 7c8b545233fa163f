// Captures of a Windows system's IPv4 traffic: one raw socket per local IPv4
// address of an up interface, switched to receive every packet of that
// interface (WSAIoctl SIO_RCVALL), each handing over whole IP packets, header
// first.
//
// Windows gives raw sockets to administrators only: without elevation no
// capture opens, and OpenCaptures says why. It hands IPv6 packets to no raw
// socket: capturing IPv6 on Windows needs a capture driver (Npcap), which this
// source does not use. Loopback traffic is not captured either.
#pragma once

#include "platform/packet_source.h"

namespace tarnwick {

class TRawSocketPacketSource final : public TPacketSource {
public:
    TResult<TPacketCaptures> OpenCaptures(const std::function<void(const TFailure&)>& onError) override;
};

}  // namespace tarnwick
