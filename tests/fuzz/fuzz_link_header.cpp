// libFuzzer target for the link-header stripper: the first byte picks the
// link type, the rest is the frame. Whatever the bytes, the IP packet found
// lies within the frame, right behind a header of the link type's size,
// starts with the version the link names, stops where the IP length field
// says when that fits, and is found again unchanged when stripped as raw IP.
// Seeds: tests/fuzz/link_corpus (first byte: the TLinkType's number).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/linux/link_header.h"

namespace {

using namespace tarnwick;

constexpr int kLinkTypes = static_cast<int>(TLinkType::Ipv6) + 1;

void Check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "link header invariant broken: %s\n", what);
    std::abort();
}

uint16_t Be16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

// Whether `size` is a header size that link type `type` can have.
bool IsHeaderSizeOf(TLinkType type, size_t size) {
    using namespace link_header;
    switch (type) {
        case TLinkType::Ethernet:
            return size >= kEthernetHeaderSize && (size - kEthernetHeaderSize) % kVlanTagSize == 0;
        case TLinkType::Null:
        case TLinkType::Loop: return size == kNullHeaderSize;
        case TLinkType::LinuxSll: return size == kSllHeaderSize;
        case TLinkType::LinuxSll2: return size == kSll2HeaderSize;
        case TLinkType::Raw:
        case TLinkType::Ipv4:
        case TLinkType::Ipv6: return size == 0;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const auto type = static_cast<TLinkType>(data[0] % kLinkTypes);
    const size_t length = size - 1;
    // An exact-size copy, so that AddressSanitizer sees a read past the end.
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[length == 0 ? 1 : length]);
    if (length > 0) std::memcpy(buffer.get(), data + 1, length);
    const uint8_t* const frame = buffer.get();

    const auto found = StripLinkHeader(type, frame, length);
    if (!found) return 0;
    const auto [offset, packetLength] = *found;
    Check(packetLength > 0 && offset + packetLength <= length, "the packet lies within the frame");
    Check(IsHeaderSizeOf(type, offset), "the header has its link type's size");

    const uint8_t* packet = frame + offset;
    const int version = packet[0] >> 4;
    Check(version == 4 || version == 6, "an IP version");
    Check(type != TLinkType::Ipv4 || version == 4, "IPv4 link, IPv4 packet");
    Check(type != TLinkType::Ipv6 || version == 6, "IPv6 link, IPv6 packet");

    const size_t rest = length - offset;
    if (version == 4 && rest >= 4) {
        const size_t total = Be16(packet + 2);
        Check(packetLength == (total >= 20 && total < rest ? total : rest), "IPv4 ends at its total length");
    }
    if (version == 6 && rest >= 6) {
        const size_t payload = Be16(packet + 4);
        Check(packetLength == (payload > 0 && 40 + payload < rest ? 40 + payload : rest),
              "IPv6 ends after its payload length");
    }

    const auto again = StripLinkHeader(TLinkType::Raw, packet, packetLength);
    Check(again && again->first == 0 && again->second == packetLength, "stripping the packet again keeps it");
    return 0;
}
