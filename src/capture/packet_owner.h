// The programs at a packet's ends: the owners of the sockets that sent and
// receive it, by the socket owners of the latest refresh.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "capture/packet_parser.h"
#include "monitor/socket_owner_feed.h"

namespace tarnwick {

struct TPacketOwners {
    TFoundOwner Source;  // the socket that sent it, when it is this machine's
    TFoundOwner Dest;    // the socket it is for, when it is this machine's
};

// Only TCP and UDP packets whose ports were received have owners.
TPacketOwners PacketOwners(const TSocketOwnerMap& owners, const TPacketFields& packet);

// The owner of a packet's connection: of the two ends, the one matched more
// closely (TOwnerMatch), the sender's where both match alike (loopback
// traffic between two programs of this machine); null when neither is known.
const TSocketOwner* PacketOwner(const TSocketOwnerMap& owners, const TPacketFields& packet);

// The owner's text of each packet ("firefox-esr 4121"), nullopt where none
// is known, from the latest map of `feed`: a callable for
// std::function<std::optional<std::string>(const TPacketFields&)>, for one
// thread at a time (each copy on its own thread).
// Names the owner of the connection of the packet with `fields`; nullopt
// when it is not known. Called for every packet recorded, on the thread that
// reads the captures.
using TPacketOwnerLookup = std::function<std::optional<std::string>(const TPacketFields& fields)>;

class TPacketOwnerText {
public:
    explicit TPacketOwnerText(std::shared_ptr<const TSocketOwnerFeed> feed) : Owners_(std::move(feed)) {}
    std::optional<std::string> operator()(const TPacketFields& packet);

private:
    TSocketOwnerView Owners_;
};

}  // namespace tarnwick
