#include "monitor/endpoint_texts.h"

#include <algorithm>

#include "common/text_util.h"
#include "monitor/port_short_names.h"
#include "platform/ip_tables.h"

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

std::string TEndpointTexts::GetEndpointText(uint32_t addrField, uint32_t portField, bool localEnd) {
    TParts parts = GetEndpointParts(addrField, portField, localEnd);
    return parts.Name + ":" + parts.Port;
}

TEndpointTexts::TParts TEndpointTexts::LocalParts(uint16_t port) {
    if (auto service = Names_.ServiceByPort(port)) return {ComputerName_, service->Name + "(" + service->Protocol + ")"};
    return {ComputerName_, GetPortName(port)};
}

TEndpointTexts::TParts TEndpointTexts::GetEndpointParts(uint32_t addrField, uint32_t portField, bool localEnd) {
    const uint16_t port = PortFromField(portField);
    if (localEnd || addrField == 0) return LocalParts(port);
    if (auto host = Names_.HostByAddr(addrField)) {
        host->resize(std::min(host->size(), kMaxHostNameLength));
        return {std::move(*host), std::to_string(port)};
    }
    return {DottedText(addrField), GetPortName(port)};
}

std::string TEndpointTexts::AddressText6(const TIp6Address& addr, uint32_t interface) {
    return IsLinkLocal6(addr) ? Ip6ZonedText(addr, Names_.InterfaceName(interface)) : Ip6Text(addr);
}

TEndpointTexts::TParts TEndpointTexts::GetEndpointParts6(const TIp6Address& addr, uint32_t portField, bool localEnd,
                                                         uint32_t interface) {
    const uint16_t port = PortFromField(portField);
    if (localEnd || addr == TIp6Address{}) return LocalParts(port);
    if (auto host = Names_.HostByAddr6(addr)) {
        host->resize(std::min(host->size(), kMaxHostNameLength));
        return {std::move(*host), std::to_string(port)};
    }
    return {AddressText6(addr, interface), GetPortName(port)};
}

}  // namespace tarnwick
