// IPv4 and IPv6 addresses: the address of a socket of either family, dotted
// text to an IPv4 address field, read the way the sockets library's inet_addr
// reads it (so that addresses typed into rules mean the same here as
// wherever they were written), and the IPv6 text forms.
#pragma once

#include <array>
#include <bit>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// What InetAddr gives for text that is not an address. "255.255.255.255"
// reads as the same value: the two cannot be told apart.
inline constexpr uint32_t kInetAddrNone = 0xFFFFFFFFu;

// The address field of `text` (network byte order: the first number of the
// dotted form is the first byte in memory, the least significant byte of the
// value), or kInetAddrNone when the text is not an address.
//
// Accepted, as inet_addr accepts them:
//   a.b.c.d   each part 0..255
//   a.b.c     c fills the last two bytes (0..65535)
//   a.b       b fills the last three bytes (0..16777215)
//   a         a is the whole 32-bit address
// Each part is decimal, octal after a leading 0 ("010" is 8), or hexadecimal
// after 0x or 0X ("0x7f"). The text ends at its end or at the first ASCII
// white space; whatever follows that is ignored ("1.2.3.4 x" is 1.2.3.4).
// Not an address: empty text, leading white space, a sign, an empty part
// ("1..2", "1.2.3.4."), more than four parts, "0x" without digits, 8 or 9 in
// an octal part, a part too large for its place, any other character.
uint32_t InetAddr(std::string_view text);

// The address field of `text` when it is exactly four decimal numbers 0..255
// between dots, each of one to three digits ("10.0.0.1", "010.000.0.1"), the
// form the address entry and the command line take; nullopt for anything
// else, the short and octal forms of InetAddr included.
std::optional<uint32_t> ParseDottedQuad(std::string_view text);

// An IPv6 address: its 16 bytes in network order.
using TIp6Address = std::array<uint8_t, 16>;

// The text of `address` in the RFC 5952 form: lower-case hex without leading
// zeros, the longest run of two or more zero groups (the first of equals)
// written "::", and an IPv4-mapped address as ::ffff:a.b.c.d.
std::string Ip6Text(const TIp6Address& address);

// Whether `address` is link-local (fe80::/10): the same such address may be
// another host on each interface, so its text and identity need the zone.
bool IsLinkLocal6(const TIp6Address& address);

// Ip6Text of `address`, followed by "%" and `zone` for a link-local address
// with a zone ("fe80::1%eth0").
std::string Ip6ZonedText(const TIp6Address& address, std::string_view zone);

// The IPv6 address written in `text` (any standard form, "::1",
// "2001:db8::1", "::ffff:1.2.3.4"), or nullopt.
std::optional<TIp6Address> ParseIp6(std::string_view text);

// Whether `address` is an IPv4-mapped address (::ffff:a.b.c.d), and the
// address field (see InetAddr) of the IPv4 address it maps.
bool IsIpv4Mapped(const TIp6Address& address);
uint32_t MappedIpv4Field(const TIp6Address& address);

// The address of one end of a socket, IPv4 or IPv6. Its bytes are in network
// order (an IPv4 address in the first four, the rest zero), so addresses of
// one family compare and sort as the numbers they are; IPv4 ones come first.
class TInetAddress {
public:
    // 0.0.0.0
    constexpr TInetAddress() = default;
    static constexpr TInetAddress Ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
        TInetAddress address;
        address.Bytes_ = {a, b, c, d};
        return address;
    }
    // The IPv4 address of an address field (see InetAddr).
    static constexpr TInetAddress FromIpv4Field(uint32_t field) {
        return Ipv4(static_cast<uint8_t>(field), static_cast<uint8_t>(field >> 8), static_cast<uint8_t>(field >> 16),
                    static_cast<uint8_t>(field >> 24));
    }
    static constexpr TInetAddress Ipv6(const TIp6Address& bytes) {
        TInetAddress address;
        address.V6_ = true;
        address.Bytes_ = bytes;
        return address;
    }
    // 0.0.0.0 or ::
    static constexpr TInetAddress Any(bool v6) { return v6 ? Ipv6({}) : TInetAddress(); }
    constexpr bool V6() const { return V6_; }
    // 0.0.0.0 or ::, the address of a socket bound to none or connected to none.
    constexpr bool Unspecified() const { return Words() == TWords{}; }
    // Of an IPv4 address, its address field (see InetAddr); 0 for an IPv6 one.
    constexpr uint32_t Ipv4Field() const {
        if (V6_) return 0;
        return static_cast<uint32_t>(Bytes_[0]) | static_cast<uint32_t>(Bytes_[1]) << 8 |
               static_cast<uint32_t>(Bytes_[2]) << 16 | static_cast<uint32_t>(Bytes_[3]) << 24;
    }
    // All 16 bytes of an IPv6 address; an IPv4 one's four, then zeros.
    constexpr const TIp6Address& Bytes() const { return Bytes_; }
    // Dotted for IPv4, the RFC 5952 form (see Ip6Text) for IPv6.
    std::string Text() const;
    // The same text written into `buffer`, for loops over many addresses
    // that must not allocate for each.
    using TTextBuffer = std::array<char, 46>;  // INET6_ADDRSTRLEN
    std::string_view TextIn(TTextBuffer& buffer) const;

    // A refresh compares addresses several times per row: as two words,
    // not byte by byte.
    constexpr bool operator==(const TInetAddress& other) const { return V6_ == other.V6_ && Words() == other.Words(); }
    constexpr std::strong_ordering operator<=>(const TInetAddress& other) const {
        if (V6_ != other.V6_) return V6_ <=> other.V6_;
        return Bytes_ <=> other.Bytes_;
    }

private:
    using TWords = std::array<uint64_t, 2>;
    constexpr TWords Words() const { return std::bit_cast<TWords>(Bytes_); }

    bool V6_ = false;
    TIp6Address Bytes_{};
};

// The IPv4 address that an IPv4-mapped IPv6 address maps; any other
// address as it is.
TInetAddress UnmappedAddress(const TInetAddress& address);

// Whether `address` may be a host out on the Internet: in none of the
// unspecified (0.0.0.0/8, ::), loopback (127/8, ::1), private (10/8,
// 172.16/12, 192.168/16, the carrier-grade 100.64/10, the unique local
// fc00::/7 and the old site-local fec0::/10), link-local (169.254/16,
// fe80::/10), multicast (224/4, ff00::/8) or reserved (240/4 with the
// broadcast address) ranges. An IPv4-mapped address counts as its IPv4 one.
bool IsPublicAddress(const TInetAddress& address);

}  // namespace tarnwick
