#include "capture/packet_owner.h"

namespace tarnwick {

namespace {

TInetAddress PacketAddress(bool v6, const TIp6Address& bytes) {
    return v6 ? TInetAddress::Ipv6(bytes) : TInetAddress::Ipv4(bytes[0], bytes[1], bytes[2], bytes[3]);
}

}  // namespace

TPacketOwners PacketOwners(const TSocketOwnerMap& owners, const TPacketFields& packet) {
    const bool tcp = packet.Protocol == kProtocolTcp;
    if ((!tcp && packet.Protocol != kProtocolUdp) || !packet.SourcePort || !packet.DestPort) return {};
    const TSocketEnd source{PacketAddress(packet.V6, packet.SourceAddr), *packet.SourcePort};
    const TSocketEnd dest{PacketAddress(packet.V6, packet.DestAddr), *packet.DestPort};
    return {owners.Find(tcp, source, dest), owners.Find(tcp, dest, source)};
}

const TSocketOwner* PacketOwner(const TSocketOwnerMap& owners, const TPacketFields& packet) {
    const TPacketOwners ends = PacketOwners(owners, packet);
    return ends.Dest.Match > ends.Source.Match ? ends.Dest.Owner : ends.Source.Owner;
}

std::optional<std::string> TPacketOwnerText::operator()(const TPacketFields& packet) {
    const TSocketOwner* owner = PacketOwner(Owners_.Current(), packet);
    if (!owner) return std::nullopt;
    return owner->Text;
}

}  // namespace tarnwick
