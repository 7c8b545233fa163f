#include "capture/capture_filter.h"

#include <algorithm>
#include <string_view>

#include "common/ini_file.h"
#include "common/text_util.h"

namespace tarnwick {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

bool ProtocolSet(std::string_view text) { return !std::all_of(text.begin(), text.end(), IsBlank); }

// The port a text names as the list writes ports: decimal digits without a
// sign or leading zero, at most 65535.
std::optional<uint16_t> ListedPort(std::string_view text) {
    const auto value = TIniFile::ParseInteger(text);
    if (!value || *value < 0 || *value > 0xFFFF || std::to_string(*value) != text) return std::nullopt;
    return static_cast<uint16_t>(*value);
}

}  // namespace

TPacketFilter::TEndpoint TPacketFilter::EndpointOf(const std::string& address, const std::string& port) {
    TEndpoint endpoint;
    // Only a text with a colon can be IPv6: dotted texts, the common case,
    // are never handed to the IPv6 parser.
    if (address.find(':') != std::string::npos) {
        if (const auto address6 = ParseIp6(address)) {
            endpoint.AnyAddress = *address6 == TIp6Address{};
            endpoint.V6 = true;
            endpoint.Address = *address6;
        } else {
            endpoint.AnyAddress = false;
            endpoint.Never = true;  // no packet's address reads so
        }
    } else if (address != "0.0.0.0") {
        endpoint.AnyAddress = false;
        const auto field = ParseDottedQuad(address);
        // Equal only to an address the list writes in just these characters.
        if (field && DottedText(*field) == address) {
            for (size_t i = 0; i < 4; ++i) endpoint.Address[i] = static_cast<uint8_t>(*field >> (8 * i));
        } else {
            endpoint.Never = true;
        }
    }
    if (TIniFile::ParseInteger(port).value_or(0) != 0) {
        endpoint.AnyPort = false;
        const auto listed = ListedPort(port);
        endpoint.Port = listed.value_or(0);
        endpoint.Never |= !listed;
    }
    return endpoint;
}

bool TPacketFilter::TEndpoint::Matches(bool v6, const TIp6Address& address,
                                       const std::optional<uint16_t>& port) const {
    if (Never) return false;
    if (!AnyAddress && (v6 != V6 || address != Address)) return false;
    return AnyPort || port == Port;
}

TPacketFilter::TPacketFilter(const TCaptureFilter& filter)
    : AnyProtocol_(!ProtocolSet(filter.Protocol)),
      One_(EndpointOf(filter.Addr1, filter.Port1)),
      Two_(EndpointOf(filter.Addr2, filter.Port2)) {
    Open_ = AnyProtocol_ && !One_.IsSet() && !Two_.IsSet();
    if (AnyProtocol_) return;
    for (int number = 0; number < 256; ++number) {
        Protocols4_[static_cast<size_t>(number)] = PacketProtocolName(false, number) == filter.Protocol;
        Protocols6_[static_cast<size_t>(number)] = PacketProtocolName(true, number) == filter.Protocol;
    }
}

bool TPacketFilter::Lists(const TPacketFields& packet) const {
    if (Open_) return true;
    if (!AnyProtocol_) {
        const auto& protocols = packet.V6 ? Protocols6_ : Protocols4_;
        if (packet.Protocol < 0 || packet.Protocol > 255 || !protocols[static_cast<size_t>(packet.Protocol)])
            return false;
    }
    const auto source = [&](const TEndpoint& e) { return e.Matches(packet.V6, packet.SourceAddr, packet.SourcePort); };
    const auto dest = [&](const TEndpoint& e) { return e.Matches(packet.V6, packet.DestAddr, packet.DestPort); };
    return (source(One_) && dest(Two_)) || (source(Two_) && dest(One_));
}

}  // namespace tarnwick
