#include "common/inet_address.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <sys/socket.h>

#include <array>

#include "common/text_util.h"

namespace tarnwick {

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// Reads one part at `pos` in its base; false when there is no valid number.
bool ReadPart(std::string_view text, size_t& pos, uint32_t& value) {
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return false;
    int base = 10;
    if (text[pos] == '0') {
        base = 8;
        ++pos;
        if (pos < text.size() && (text[pos] == 'x' || text[pos] == 'X')) {
            base = 16;
            ++pos;
            if (pos >= text.size() || DigitValue(text[pos]) >= 16) return false;
        }
    }
    uint64_t number = 0;
    while (pos < text.size()) {
        const int digit = DigitValue(text[pos]);
        if (digit >= base) {
            // 8 and 9 end an octal part only to make the whole text invalid.
            if (base == 8 && digit < 10) return false;
            break;
        }
        number = number * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (number > 0xFFFFFFFFu) return false;
        ++pos;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

}  // namespace

uint32_t InetAddr(std::string_view text) {
    std::array<uint32_t, 4> parts{};
    size_t count = 0;
    size_t pos = 0;
    for (;;) {
        if (count == parts.size()) return kInetAddrNone;
        if (!ReadPart(text, pos, parts[count])) return kInetAddrNone;
        ++count;
        if (pos < text.size() && text[pos] == '.') {
            ++pos;
            continue;
        }
        break;
    }
    if (pos < text.size() && !IsWhiteSpace(text[pos])) return kInetAddrNone;

    // All parts but the last are single bytes; the last fills the bytes left.
    for (size_t i = 0; i + 1 < count; ++i) {
        if (parts[i] > 0xFFu) return kInetAddrNone;
    }
    const unsigned lastBytes = static_cast<unsigned>(5 - count);
    const uint32_t last = parts[count - 1];
    if (lastBytes < 4 && last >= (1u << (8 * lastBytes))) return kInetAddrNone;

    // The value with the first number in the most significant byte...
    uint32_t value = last;
    for (size_t i = 0; i + 1 < count; ++i) value |= parts[i] << (8 * (3 - i));
    // ...as an address field: first number in the least significant byte.
    return SwapIPBytes(value);
}

std::optional<uint32_t> ParseDottedQuad(std::string_view text) {
    uint32_t field = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        unsigned value = 0;
        size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 3) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || value > 255) return std::nullopt;
        field |= value << (8 * part);
    }
    if (pos != text.size()) return std::nullopt;
    return field;
}

std::string Ip6Text(const TIp6Address& address) {
    char text[INET6_ADDRSTRLEN];
    // The C library's form is RFC 5952's: lower case, "::" for the longest
    // zero run of two or more groups, dotted tail for IPv4-mapped addresses.
    if (!inet_ntop(AF_INET6, address.data(), text, sizeof text)) return {};
    return text;
}

bool IsLinkLocal6(const TIp6Address& address) { return address[0] == 0xfe && (address[1] & 0xc0) == 0x80; }

std::string Ip6ZonedText(const TIp6Address& address, std::string_view zone) {
    std::string text = Ip6Text(address);
    if (IsLinkLocal6(address) && !zone.empty()) text.append("%").append(zone);
    return text;
}

std::optional<TIp6Address> ParseIp6(std::string_view text) {
    if (text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
    const std::string terminated(text);
    TIp6Address address{};
    if (inet_pton(AF_INET6, terminated.c_str(), address.data()) != 1) return std::nullopt;
    return address;
}

bool IsIpv4Mapped(const TIp6Address& address) {
    for (size_t i = 0; i < 10; ++i)
        if (address[i] != 0) return false;
    return address[10] == 0xFF && address[11] == 0xFF;
}

uint32_t MappedIpv4Field(const TIp6Address& address) {
    return static_cast<uint32_t>(address[12]) | (static_cast<uint32_t>(address[13]) << 8) |
           (static_cast<uint32_t>(address[14]) << 16) | (static_cast<uint32_t>(address[15]) << 24);
}

TInetAddress UnmappedAddress(const TInetAddress& address) {
    return address.V6() && IsIpv4Mapped(address.Bytes()) ? TInetAddress::FromIpv4Field(MappedIpv4Field(address.Bytes()))
                                                         : address;
}

bool IsPublicAddress(const TInetAddress& address) {
    const TInetAddress plain = UnmappedAddress(address);
    const TIp6Address& b = plain.Bytes();
    if (!plain.V6()) {
        return !(b[0] == 0 || b[0] == 10 || b[0] == 127 || b[0] >= 224 || (b[0] == 100 && (b[1] & 0xc0) == 64) ||
                 (b[0] == 169 && b[1] == 254) || (b[0] == 172 && (b[1] & 0xf0) == 16) || (b[0] == 192 && b[1] == 168));
    }
    const TIp6Address loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return !(plain.Unspecified() || b == loopback || (b[0] & 0xfe) == 0xfc || b[0] == 0xff ||
             (b[0] == 0xfe && (b[1] & 0x80) == 0x80));  // fe80::/10 link-local and fec0::/10 site-local
}

uint32_t InterfaceIndexByName(const std::string& name) {
    return ::if_nametoindex(name.c_str());
}

std::string TInetAddress::Text() const { return V6_ ? Ip6Text(Bytes_) : DottedText(Ipv4Field()); }

std::string_view TInetAddress::TextIn(TTextBuffer& buffer) const {
    static_assert(std::tuple_size_v<TTextBuffer> >= INET6_ADDRSTRLEN);
    if (V6_) return inet_ntop(AF_INET6, Bytes_.data(), buffer.data(), buffer.size()) ? buffer.data() : "";
    // Not inet_ntop: the C library formats IPv4 with sprintf, several times slower.
    return {buffer.data(), static_cast<size_t>(WriteDottedText(Ipv4Field(), buffer.data()) - buffer.data())};
}

}  // namespace tarnwick
