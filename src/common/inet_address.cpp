#include "common/inet_address.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

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

namespace {

// The longest run of two or more zero groups of `groups` (the first of
// equals), as [begin, end); begin == end when there is none.
std::pair<int, int> LongestZeroRun(const std::array<uint16_t, 8>& groups) {
    int bestBegin = 0, bestLength = 0;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int end = i;
        while (end < 8 && groups[end] == 0) ++end;
        if (end - i > bestLength) {
            bestBegin = i;
            bestLength = end - i;
        }
        i = end;
    }
    if (bestLength < 2) return {0, 0};
    return {bestBegin, bestBegin + bestLength};
}

// Writes the RFC 5952 text of `address` at `out` (room for 46 bytes) and
// returns its end. The C libraries' inet_ntop differ between systems; this
// is the form the GNU one writes, the same on every system: an address whose
// first six groups are zero, and not :: or ::1 (IPv4-compatible), or an
// IPv4-mapped one, ends in its dotted IPv4 address.
char* WriteIp6Text(const TIp6Address& address, char* out) {
    std::array<uint16_t, 8> groups{};
    for (size_t i = 0; i < 8; ++i) groups[i] = static_cast<uint16_t>(address[2 * i] << 8 | address[2 * i + 1]);
    const auto [runBegin, runEnd] = LongestZeroRun(groups);
    for (int i = 0; i < 8;) {
        if (i == runBegin && runEnd > runBegin) {
            *out++ = ':';
            if (runEnd == 8) *out++ = ':';
            i = runEnd;
            continue;
        }
        if (i > 0) *out++ = ':';
        // A dotted tail, as the GNU library writes it.
        if (i == 6 && runBegin == 0 && (runEnd == 6 || (runEnd == 5 && groups[5] == 0xffff))) {
            const uint32_t field = static_cast<uint32_t>(address[12]) | static_cast<uint32_t>(address[13]) << 8 |
                                   static_cast<uint32_t>(address[14]) << 16 | static_cast<uint32_t>(address[15]) << 24;
            return WriteDottedText(field, out);
        }
        out = std::to_chars(out, out + 4, groups[i], 16).ptr;
        ++i;
    }
    return out;
}

// Reads the dotted IPv4 tail of an IPv6 text into `bytes`: four decimal
// numbers 0..255 without leading zeros, as inet_pton reads them.
bool ReadIpv4Tail(std::string_view text, uint8_t* bytes) {
    int part = 0;
    size_t pos = 0;
    while (part < 4) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        const size_t start = pos;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3)
            value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
        if (pos == start || value > 255 || (text[start] == '0' && pos - start > 1)) return false;
        bytes[part++] = static_cast<uint8_t>(value);
    }
    return pos == text.size();
}

}  // namespace

std::string Ip6Text(const TIp6Address& address) {
    TInetAddress::TTextBuffer text;
    return std::string(text.data(), WriteIp6Text(address, text.data()));
}

bool IsLinkLocal6(const TIp6Address& address) { return address[0] == 0xfe && (address[1] & 0xc0) == 0x80; }

std::string Ip6ZonedText(const TIp6Address& address, std::string_view zone) {
    std::string text = Ip6Text(address);
    if (IsLinkLocal6(address) && !zone.empty()) text.append("%").append(zone);
    return text;
}

std::optional<TIp6Address> ParseIp6(std::string_view text) {
    // Groups of one to four hex digits between colons, "::" at most once for
    // one or more zero groups, and a dotted IPv4 address in the place of the
    // last two groups: the forms inet_pton takes.
    TIp6Address address{};
    size_t filled = 0;             // bytes written so far
    std::optional<size_t> gap;     // where "::" stands, in bytes
    size_t pos = 0;
    if (text.starts_with("::")) {
        gap = 0;
        pos = 2;
    } else if (text.starts_with(':')) {
        return std::nullopt;
    }
    while (pos < text.size()) {
        if (filled == address.size()) return std::nullopt;
        const size_t start = pos;
        unsigned value = 0;
        while (pos < text.size() && pos - start < 5 && DigitValue(text[pos]) < 16)
            value = value * 16 + static_cast<unsigned>(DigitValue(text[pos++]));
        if (pos < text.size() && text[pos] == '.') {
            // The dotted tail: the last four bytes, nothing after it.
            if (filled + 4 > address.size() || !ReadIpv4Tail(text.substr(start), address.data() + filled))
                return std::nullopt;
            filled += 4;
            pos = text.size();
            break;
        }
        if (pos == start || pos - start > 4) return std::nullopt;
        address[filled++] = static_cast<uint8_t>(value >> 8);
        address[filled++] = static_cast<uint8_t>(value);
        if (pos == text.size()) break;
        if (text[pos] != ':') return std::nullopt;
        ++pos;
        if (pos < text.size() && text[pos] == ':') {
            if (gap) return std::nullopt;
            gap = filled;
            ++pos;
        } else if (pos == text.size()) {
            return std::nullopt;  // a lone colon at the end
        }
    }
    if (gap) {
        // "::" stands for at least one group.
        if (filled == address.size()) return std::nullopt;
        const size_t tail = filled - *gap;
        std::copy_backward(address.begin() + static_cast<std::ptrdiff_t>(*gap),
                           address.begin() + static_cast<std::ptrdiff_t>(filled), address.end());
        std::fill(address.begin() + static_cast<std::ptrdiff_t>(*gap),
                  address.end() - static_cast<std::ptrdiff_t>(tail), uint8_t{0});
    } else if (filled != address.size()) {
        return std::nullopt;
    }
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

std::string TInetAddress::Text() const { return V6_ ? Ip6Text(Bytes_) : DottedText(Ipv4Field()); }

std::string_view TInetAddress::TextIn(TTextBuffer& buffer) const {
    const char* end = V6_ ? WriteIp6Text(Bytes_, buffer.data()) : WriteDottedText(Ipv4Field(), buffer.data());
    return {buffer.data(), static_cast<size_t>(end - buffer.data())};
}

}  // namespace tarnwick
