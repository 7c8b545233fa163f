// Dotted text to an IPv4 address field, read the way the sockets library's
// inet_addr reads it, so that addresses typed into rules mean the same here
// as wherever they were written.
#pragma once

#include <array>
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
// value, as in AddrField), or kInetAddrNone when the text is not an address.
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

// The index of the network interface named `name` ("eth0"), the zone of a
// link-local address; 0 when there is no interface of that name.
uint32_t InterfaceIndexByName(const std::string& name);

// The IPv6 address written in `text` (any standard form, "::1",
// "2001:db8::1", "::ffff:1.2.3.4"), or nullopt.
std::optional<TIp6Address> ParseIp6(std::string_view text);

// Whether `address` is an IPv4-mapped address (::ffff:a.b.c.d), and the
// address field (see InetAddr) of the IPv4 address it maps.
bool IsIpv4Mapped(const TIp6Address& address);
uint32_t MappedIpv4Field(const TIp6Address& address);

}  // namespace tarnwick
