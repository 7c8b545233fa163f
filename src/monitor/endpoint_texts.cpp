#include "monitor/endpoint_texts.h"

#include <algorithm>

#include "common/text_util.h"
#include "monitor/port_short_names.h"

namespace tarnwick {

namespace {
constexpr size_t kComputerNameBufferSize = 1024;
constexpr size_t kMaxHostNameLength = 255;
}  // namespace

std::string GetLocalComputerName(TNameLookup& names) {
    std::string name = names.ComputerName();
    // The name is read into a fixed buffer and ends at its first NUL.
    if (name.size() >= kComputerNameBufferSize) name.resize(kComputerNameBufferSize - 1);
    if (auto nul = name.find('\0'); nul != std::string::npos) name.resize(nul);
    return AsciiLowerCase(name);
}

TEndpointTexts::TEndpointTexts(TNameLookup& names, const TViewSettings& view) : Names_(names), View_(view) {}

void TEndpointTexts::BeginRefresh() {
    ComputerName_ = GetLocalComputerName(Names_);
}

std::string TEndpointTexts::GetPortName(int32_t port) const {
    return tarnwick::GetPortName(port, View_.ShowShortNames.load(std::memory_order_relaxed));
}

std::string TEndpointTexts::GetEndpointText(const TInetAddress& addr, uint16_t port, bool localEnd,
                                            uint32_t interface) {
    TParts parts = GetEndpointParts(addr, port, localEnd, interface);
    return parts.Name + ":" + parts.Port;
}

TEndpointTexts::TParts TEndpointTexts::LocalParts(uint16_t port) {
    if (auto service = Names_.ServiceByPort(port)) return {ComputerName_, service->Name + "(" + service->Protocol + ")"};
    return {ComputerName_, GetPortName(port)};
}

TEndpointTexts::TParts TEndpointTexts::GetEndpointParts(const TInetAddress& addr, uint16_t port, bool localEnd,
                                                        uint32_t interface) {
    if (localEnd || addr.Unspecified()) return LocalParts(port);
    std::optional<std::string> host = addr.V6() ? Names_.HostByAddr6(addr.Bytes()) : Names_.HostByAddr(addr.Ipv4Field());
    if (host) {
        host->resize(std::min(host->size(), kMaxHostNameLength));
        return {std::move(*host), std::to_string(port)};
    }
    return {addr.V6() ? AddressText6(addr.Bytes(), interface) : DottedText(addr.Ipv4Field()), GetPortName(port)};
}

std::string TEndpointTexts::AddressText6(const TIp6Address& addr, uint32_t interface) {
    return IsLinkLocal6(addr) ? Ip6ZonedText(addr, Names_.InterfaceName(interface)) : Ip6Text(addr);
}

}  // namespace tarnwick
