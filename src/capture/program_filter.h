// The program part of the capture filter: only the packets of one program's
// sockets, as the latest refresh found them.
#pragma once

#include <memory>
#include <optional>

#include "capture/packet_parser.h"
#include "monitor/socket_owner_feed.h"

namespace tarnwick {

// A packet is listed when the socket at either of its ends (PacketOwners)
// belongs to the program, by the latest map of the owners' feed at the time
// the packet is judged. So a socket the program opens is known from the next
// refresh on: the first packets of a connection shorter than a refresh's
// interval may not be listed. For the thread that reads the packets.
class TProgramFilter {
public:
    // Lists every packet.
    TProgramFilter() = default;
    // Without a feed no socket is known: nothing is listed.
    TProgramFilter(TProgramSelector program, std::shared_ptr<const TSocketOwnerFeed> owners);

    bool Lists(const TPacketFields& packet);

private:
    std::optional<TProgramSelector> Program_;
    TSocketOwnerView Owners_;
};

}  // namespace tarnwick
