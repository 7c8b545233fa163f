#include "capture/pcapng_writer.h"

#include <cstdint>
#include <cstring>

namespace tarnwick {

namespace {

// Block types, option codes and the link type (the pcapng draft, and the
// link-type registry for LINKTYPE_NULL). Numbers are written in this host's
// byte order, which the section's byte-order magic tells readers.
constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t kInterfaceBlock = 1;
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kMajorVersion = 1;
constexpr uint16_t kMinorVersion = 0;
constexpr uint64_t kUnknownSectionLength = ~uint64_t{0};
// Each packet behind a 4-byte address family in host byte order: 2 for IPv4,
// 24 for IPv6 (the BSD value every reader takes). Not LINKTYPE_RAW (101),
// the IP packet alone: libpcap 1.10 reads no file with two interfaces of
// that type (it compares 101 with its own number for raw IP, 12), and
// tcpdump with it. The family header costs 4 bytes and says what the
// packet's version nibble says.
constexpr uint16_t kLinkTypeNull = 0;
constexpr uint32_t kFamilyIpv4 = 2;
constexpr uint32_t kFamilyIpv6 = 24;
constexpr uint32_t kNoSnapLength = 0;  // packets are not cut
constexpr uint16_t kEndOfOptions = 0;
constexpr uint16_t kComment = 1;
constexpr uint16_t kInterfaceName = 2;
constexpr uint16_t kTimeResolution = 9;
constexpr uint8_t kNanoseconds = 9;  // a negative power of ten
// Every block begins with its type and length and ends with its length again.
constexpr size_t kTypeAndLength = 8;
constexpr size_t kLengthAt = 4;

// Room for many packets before the buffer first grows. (Reserved up front,
// the first appends also spare GCC 12 at -O3 a false stringop-overflow
// warning about an empty vector's growth.)
constexpr size_t kInitialBuffer = 64 * 1024;

size_t Padded(size_t size) { return (size + 3) & ~size_t{3}; }

// Appends one block to a buffer: fields, then options, then the trailer.
class TBlock {
public:
    TBlock(std::vector<uint8_t>& out, uint32_t type) : Out_(out), Start_(out.size()) {
        Put(type);
        Put(uint32_t{0});  // the length, once known
    }

    template <typename T>
    void Put(T value) {
        Bytes(&value, sizeof value);
    }
    // `size` bytes, then zeros to the next multiple of four.
    void PaddedBytes(const void* data, size_t size) {
        Bytes(data, size);
        Out_.resize(Out_.size() + Padded(size) - size, 0);
    }
    void Option(uint16_t code, std::string_view value) {
        value = value.substr(0, UINT16_MAX);  // an option says its length in 16 bits
        Put(code);
        Put(static_cast<uint16_t>(value.size()));
        PaddedBytes(value.data(), value.size());
        HasOptions_ = true;
    }
    void End() {
        if (HasOptions_) {
            Put(kEndOfOptions);
            Put(uint16_t{0});
        }
        const auto length = static_cast<uint32_t>(Out_.size() - Start_ + sizeof(uint32_t));
        Put(length);
        std::memcpy(Out_.data() + Start_ + kLengthAt, &length, sizeof length);
    }

private:
    void Bytes(const void* data, size_t size) {
        const size_t at = Out_.size();
        Out_.resize(at + size);
        if (size > 0) std::memcpy(Out_.data() + at, data, size);
    }

    std::vector<uint8_t>& Out_;
    size_t Start_;
    bool HasOptions_ = false;
};

}  // namespace

TPcapngWriter::TPcapngWriter(TRecordFile& file) : File_(file) {
    Buffer_.reserve(kInitialBuffer);
    TBlock block(Buffer_, kSectionHeaderBlock);
    block.Put(kByteOrderMagic);
    block.Put(kMajorVersion);
    block.Put(kMinorVersion);
    block.Put(kUnknownSectionLength);
    block.End();
}

uint32_t TPcapngWriter::AddInterface(std::string_view name) {
    TBlock block(Buffer_, kInterfaceBlock);
    block.Put(kLinkTypeNull);
    block.Put(uint16_t{0});  // reserved
    block.Put(kNoSnapLength);
    block.Option(kInterfaceName, name);
    block.Option(kTimeResolution, std::string_view(reinterpret_cast<const char*>(&kNanoseconds), 1));
    block.End();
    return Interfaces_++;
}

void TPcapngWriter::AddPacket(uint32_t interface, uint64_t timeNs, std::span<const uint8_t> packet,
                              std::string_view comment) {
    TBlock block(Buffer_, kEnhancedPacketBlock);
    block.Put(interface);
    block.Put(static_cast<uint32_t>(timeNs >> 32));
    block.Put(static_cast<uint32_t>(timeNs));
    const auto length = static_cast<uint32_t>(sizeof(uint32_t) + packet.size());
    block.Put(length);  // captured
    block.Put(length);  // on the wire: the packet is whole
    block.Put(!packet.empty() && packet[0] >> 4 == 6 ? kFamilyIpv6 : kFamilyIpv4);
    block.PaddedBytes(packet.data(), packet.size());
    if (!comment.empty()) block.Option(kComment, comment);
    block.End();
}

TStatus TPcapngWriter::Flush() {
    if (Failure_) return *Failure_;
    size_t written = 0;
    const TStatus wrote = File_.Write(Buffer_, written);
    // The whole blocks among the bytes that reached the file stay, with the packets among them.
    size_t whole = 0;
    while (Buffer_.size() - whole >= kTypeAndLength) {
        uint32_t type = 0;
        uint32_t length = 0;
        std::memcpy(&type, Buffer_.data() + whole, sizeof type);
        std::memcpy(&length, Buffer_.data() + whole + kLengthAt, sizeof length);
        if (length > written - whole) break;
        whole += length;
        if (type == kEnhancedPacketBlock) ++Packets_;
    }
    FileSize_ += whole;
    Buffer_.clear();
    if (wrote) return {};
    Failure_ = wrote.Failure();
    // Only a block cut short has to go; a file that cannot be cut keeps it.
    if (written != whole) (void)File_.CutTo(FileSize_);
    return *Failure_;
}

}  // namespace tarnwick
