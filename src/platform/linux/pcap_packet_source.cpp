#include "platform/linux/pcap_packet_source.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>

#include <algorithm>
#include <exception>
#include <string_view>

namespace tarnwick {

namespace {

// Whole packets: the largest IPv6 packet without a jumbo payload (a 40-byte
// header and 65535 bytes of payload; the largest IPv4 packet is 65535 bytes)
// after the longest link header stripped here.
constexpr int kSnapshotLength = 40 + 65535 + 24;
// The kernel ring of each capture. A burst of a few thousand full-size
// packets fits, so a reader that polls at a window's pace does not drop.
constexpr int kBufferSize = 4 * 1024 * 1024;
constexpr int kBlockTimeoutMs = 10;
// The packet source never opens more captures than this.
constexpr size_t kMaxInterfaces = 20;

// EtherTypes (include/uapi/linux/if_ether.h).
constexpr uint16_t kEtherTypeIpv4 = 0x0800;     // ETH_P_IP
constexpr uint16_t kEtherTypeIpv6 = 0x86DD;     // ETH_P_IPV6
constexpr uint16_t kEtherTypeVlan = 0x8100;     // ETH_P_8021Q
constexpr uint16_t kEtherTypeQinQ = 0x88A8;     // ETH_P_8021AD
constexpr uint16_t kEtherTypeOldQinQ = 0x9100;  // ETH_P_QINQ1, pre-802.1ad stacking

// AF_INET6 as the systems that write DLT_NULL number it (pcap-linktype(7)
// LINKTYPE_NULL): Linux, then NetBSD/OpenBSD/BSD/OS, FreeBSD, Darwin.
constexpr uint32_t kNullFamiliesIpv6[] = {10, 24, 28, 30};

constexpr size_t kEthernetHeaderSize = 14;  // two MAC addresses, EtherType
constexpr size_t kVlanTagSize = 4;          // TCI, inner EtherType
constexpr size_t kNullHeaderSize = 4;       // the address family, 32 bits
constexpr size_t kSllHeaderSize = 16;       // pcap-linktype(7): LINKTYPE_LINUX_SLL
constexpr size_t kSllProtocolOffset = 14;
constexpr size_t kSll2HeaderSize = 20;      // pcap-linktype(7): LINKTYPE_LINUX_SLL2
constexpr size_t kSll2ProtocolOffset = 0;

constexpr size_t kIpv4MinHeaderSize = 20;
constexpr size_t kIpv6HeaderSize = 40;

uint16_t ReadBe16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

bool IsVlanTag(uint16_t etherType) {
    return etherType == kEtherTypeVlan || etherType == kEtherTypeQinQ || etherType == kEtherTypeOldQinQ;
}

// What a link header says follows it: the header's length and the IP
// version it names (0: either, told by the packet's first byte).
struct TLinkHeader {
    size_t Size = 0;
    int Version = 0;
};

std::optional<TLinkHeader> VersionOfEtherType(uint16_t etherType, size_t size) {
    if (etherType == kEtherTypeIpv4) return TLinkHeader{size, 4};
    if (etherType == kEtherTypeIpv6) return TLinkHeader{size, 6};
    return std::nullopt;
}

// DLT_NULL holds the family in the capturing host's byte order, DLT_LOOP in
// network order; a saved capture may come from a host of the other order,
// and every family number we know reads unambiguously either way.
std::optional<int> VersionOfFamily(const uint8_t* bytes) {
    const uint32_t value = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
    for (const uint32_t family : {value, __builtin_bswap32(value)}) {
        if (family == AF_INET) return 4;
        for (const uint32_t inet6 : kNullFamiliesIpv6)
            if (family == inet6) return 6;
    }
    return std::nullopt;
}

// The link header, when the frame carries IPv4 or IPv6 after it.
std::optional<TLinkHeader> LinkHeaderOf(int linkType, const uint8_t* frame, size_t length) {
    switch (linkType) {
        case DLT_EN10MB: {
            if (length < kEthernetHeaderSize) return std::nullopt;
            size_t offset = kEthernetHeaderSize;
            uint16_t etherType = ReadBe16(frame + offset - 2);
            // Each tag ends in the EtherType of what follows it.
            while (IsVlanTag(etherType)) {
                if (length < offset + kVlanTagSize) return std::nullopt;
                offset += kVlanTagSize;
                etherType = ReadBe16(frame + offset - 2);
            }
            return VersionOfEtherType(etherType, offset);
        }
        case DLT_NULL:
        case DLT_LOOP: {
            if (length < kNullHeaderSize) return std::nullopt;
            const std::optional<int> version = VersionOfFamily(frame);
            if (!version) return std::nullopt;
            return TLinkHeader{kNullHeaderSize, *version};
        }
        case DLT_LINUX_SLL:
            if (length < kSllHeaderSize) return std::nullopt;
            return VersionOfEtherType(ReadBe16(frame + kSllProtocolOffset), kSllHeaderSize);
        case DLT_LINUX_SLL2:
            if (length < kSll2HeaderSize) return std::nullopt;
            return VersionOfEtherType(ReadBe16(frame + kSll2ProtocolOffset), kSll2HeaderSize);
        case DLT_RAW:
            return TLinkHeader{0, 0};
        case DLT_IPV4:
            return TLinkHeader{0, 4};
        case DLT_IPV6:
            return TLinkHeader{0, 6};
        default:
            return std::nullopt;
    }
}

struct TPcapCloser {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};
using TPcapPtr = std::unique_ptr<pcap_t, TPcapCloser>;

struct TDevicesFreer {
    void operator()(pcap_if_t* devices) const { pcap_freealldevs(devices); }
};
using TDevicesPtr = std::unique_ptr<pcap_if_t, TDevicesFreer>;

class TPcapCapture final : public TPacketCapture {
public:
    TPcapCapture(TPcapPtr handle, std::string localAddress, int linkType, int fd)
        : Handle_(std::move(handle)), LocalAddress_(std::move(localAddress)), LinkType_(linkType), Fd_(fd) {}

    const std::string& LocalAddress() const override { return LocalAddress_; }
    int SelectableFd() const override { return Fd_; }

    std::optional<std::string> ReadPackets(const std::function<void(const uint8_t*, size_t)>& onPacket,
                                           int maxPackets) override {
        // pcap_dispatch reads everything buffered for a count of 0 or less;
        // "at most maxPackets" then means none.
        if (maxPackets <= 0) return std::nullopt;
        TDispatch dispatch{this, &onPacket, nullptr};
        const int result = pcap_dispatch(Handle_.get(), maxPackets, &TPcapCapture::OnFrame,
                                         reinterpret_cast<u_char*>(&dispatch));
        // An exception of the caller's must not unwind through libpcap's C
        // frames: the callback keeps it and stops the loop, and it goes on
        // from here.
        if (dispatch.Failure) std::rethrow_exception(dispatch.Failure);
        if (result == PCAP_ERROR) return std::string(pcap_geterr(Handle_.get()));
        return std::nullopt;
    }

    TCaptureStats Stats() override {
        pcap_stat stats{};
        if (pcap_stats(Handle_.get(), &stats) == 0) {
            LastStats_.Received = stats.ps_recv;
            LastStats_.Dropped = static_cast<uint64_t>(stats.ps_drop) + stats.ps_ifdrop;
        }
        return LastStats_;
    }

private:
    struct TDispatch {
        TPcapCapture* Capture;
        const std::function<void(const uint8_t*, size_t)>* OnPacket;
        std::exception_ptr Failure;
    };

    static void OnFrame(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
        auto* dispatch = reinterpret_cast<TDispatch*>(user);
        if (dispatch->Failure) return;
        const auto payload = IpPayloadOf(dispatch->Capture->LinkType_, bytes, header->caplen);
        if (!payload) return;
        try {
            (*dispatch->OnPacket)(bytes + payload->first, payload->second);
        } catch (...) {
            dispatch->Failure = std::current_exception();
            pcap_breakloop(dispatch->Capture->Handle_.get());
        }
    }

    TPcapPtr Handle_;
    std::string LocalAddress_;
    int LinkType_;
    int Fd_;
    TCaptureStats LastStats_;
};

struct TCandidate {
    std::string Name;
    std::string Address;
    unsigned Index = 0;
};

// The text of an interface's address worth capturing on: any IPv4 address,
// an IPv6 one only beyond link-local scope (interfaces with nothing else, as
// the host ends of container links, carry traffic also seen on a bridge).
std::optional<std::string> CandidateAddressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET) {
        const auto* inet = reinterpret_cast<const sockaddr_in*>(address);
        if (inet_ntop(AF_INET, &inet->sin_addr, text, sizeof text) == nullptr) return std::nullopt;
        return text;
    }
    if (address->sa_family == AF_INET6) {
        const auto* inet6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (IN6_IS_ADDR_LINKLOCAL(&inet6->sin6_addr)) return std::nullopt;
        if (inet_ntop(AF_INET6, &inet6->sin6_addr, text, sizeof text) == nullptr) return std::nullopt;
        return text;
    }
    return std::nullopt;
}

// Up and running interfaces with an address (see CandidateAddressText), by
// interface index (the order the kernel created them in, loopback first), at
// most kMaxInterfaces. An interface is named by its first IPv4 address, or
// when it has none by its first IPv6 one.
std::vector<TCandidate> ListCandidates(pcap_if_t* devices) {
    std::vector<TCandidate> candidates;
    for (pcap_if_t* device = devices; device != nullptr; device = device->next) {
        const bpf_u_int32 wanted = PCAP_IF_UP | PCAP_IF_RUNNING;
        if ((device->flags & wanted) != wanted) continue;
        std::optional<std::string> named;
        for (pcap_addr_t* address = device->addresses; address != nullptr; address = address->next) {
            if (address->addr == nullptr) continue;
            const std::optional<std::string> text = CandidateAddressText(address->addr);
            if (!text) continue;
            const bool ipv4 = address->addr->sa_family == AF_INET;
            if (!named || ipv4) named = text;
            if (ipv4) break;  // the first IPv4 address is the interface's own
        }
        if (named) candidates.push_back({device->name, *named, if_nametoindex(device->name)});
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const TCandidate& a, const TCandidate& b) {
        return a.Index != b.Index ? a.Index < b.Index : a.Name < b.Name;
    });
    if (candidates.size() > kMaxInterfaces) candidates.resize(kMaxInterfaces);
    return candidates;
}

bool IsPermissionText(std::string_view text) {
    return text.find("ermission") != std::string_view::npos ||
           text.find("Operation not permitted") != std::string_view::npos;
}

// The kernel filter only spares us copying other protocols; IpPayloadOf
// decides what is passed on. On Ethernet, tagged frames are let through as
// well ("vlan"), since a frame with a second tag still inline has no IP
// EtherType where "ip" and "ip6" look.
void SetIpFilter(pcap_t* handle, int linkType) {
    const char* expression = linkType == DLT_EN10MB ? "ip or ip6 or vlan" : "ip or ip6";
    bpf_program program{};
    if (pcap_compile(handle, &program, expression, 1, PCAP_NETMASK_UNKNOWN) != 0) return;
    pcap_setfilter(handle, &program);
    pcap_freecode(&program);
}

struct TOpenFailure {
    std::string Message;
    bool PermissionDenied = false;
};

// Opens the capture of one interface, or says why it cannot be opened.
std::unique_ptr<TPacketCapture> OpenCapture(const TCandidate& candidate, TOpenFailure& failure) {
    char errorBuffer[PCAP_ERRBUF_SIZE] = {};
    TPcapPtr handle(pcap_create(candidate.Name.c_str(), errorBuffer));
    if (!handle) {
        failure.Message = errorBuffer;
        failure.PermissionDenied = IsPermissionText(failure.Message);
        return nullptr;
    }
    pcap_t* pcap = handle.get();
    // These only record settings before activation; they fail only on an
    // already active handle.
    pcap_set_snaplen(pcap, kSnapshotLength);
    pcap_set_promisc(pcap, 0);
    // Not immediate mode: there, libpcap gives every packet a slot the size of
    // the interface's MTU, so on loopback (MTU 65536) the 4 MiB buffer holds
    // only 64 packets and any pause of a few milliseconds drops packets. In
    // block mode small packets are packed, and a block is handed over when
    // full or after kBlockTimeoutMs, which is shorter than a frame of the
    // window's list updates.
    pcap_set_immediate_mode(pcap, 0);
    pcap_set_timeout(pcap, kBlockTimeoutMs);
    pcap_set_buffer_size(pcap, kBufferSize);

    // Positive results are warnings (PCAP_WARNING_*): the handle works.
    const int activated = pcap_activate(pcap);
    if (activated < 0) {
        failure.Message = pcap_geterr(pcap);
        if (failure.Message.empty()) failure.Message = pcap_statustostr(activated);
        failure.PermissionDenied = activated == PCAP_ERROR_PERM_DENIED || IsPermissionText(failure.Message);
        return nullptr;
    }
    const int linkType = pcap_datalink(pcap);
    if (!IsSupportedLinkType(linkType)) {
        const char* name = pcap_datalink_val_to_name(linkType);
        failure.Message = "link type " + std::to_string(linkType) + (name ? std::string(" (") + name + ")" : "") +
                          " is not supported";
        return nullptr;
    }
    if (pcap_setnonblock(pcap, 1, errorBuffer) != 0) {
        failure.Message = errorBuffer;
        return nullptr;
    }
    const int fd = pcap_get_selectable_fd(pcap);
    if (fd < 0) {
        failure.Message = "no selectable descriptor";
        return nullptr;
    }
    SetIpFilter(pcap, linkType);
    return std::make_unique<TPcapCapture>(std::move(handle), candidate.Address, linkType, fd);
}

}  // namespace

bool IsSupportedLinkType(int linkType) {
    switch (linkType) {
        case DLT_EN10MB:
        case DLT_NULL:
        case DLT_LOOP:
        case DLT_LINUX_SLL:
        case DLT_LINUX_SLL2:
        case DLT_RAW:
        case DLT_IPV4:
        case DLT_IPV6:
            return true;
        default:
            return false;
    }
}

std::optional<std::pair<size_t, size_t>> IpPayloadOf(int linkType, const uint8_t* frame, size_t length) {
    const std::optional<TLinkHeader> link = LinkHeaderOf(linkType, frame, length);
    if (!link || link->Size >= length) return std::nullopt;
    const uint8_t* packet = frame + link->Size;
    size_t packetLength = length - link->Size;
    const int version = packet[0] >> 4;
    if (version != 4 && version != 6) return std::nullopt;
    if (link->Version != 0 && version != link->Version) return std::nullopt;
    if (version == 4 && packetLength >= 4) {
        const size_t totalLength = ReadBe16(packet + 2);
        if (totalLength >= kIpv4MinHeaderSize && totalLength < packetLength) packetLength = totalLength;
    }
    if (version == 6 && packetLength >= 6) {
        // A payload length of 0 is a jumbogram's or an offloaded segment's: the rest of the frame.
        const size_t payloadLength = ReadBe16(packet + 4);
        if (payloadLength > 0 && kIpv6HeaderSize + payloadLength < packetLength)
            packetLength = kIpv6HeaderSize + payloadLength;
    }
    return std::make_pair(link->Size, packetLength);
}

std::vector<std::unique_ptr<TPacketCapture>> TPcapPacketSource::OpenCaptures(
    const std::function<void(const std::string&)>& onError) {
    char errorBuffer[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* rawDevices = nullptr;
    if (pcap_findalldevs(&rawDevices, errorBuffer) != 0) {
        throw ESocketException(std::string("cannot list the network interfaces: ") + errorBuffer);
    }
    const TDevicesPtr devices(rawDevices);
    const std::vector<TCandidate> candidates = ListCandidates(devices.get());

    std::vector<std::unique_ptr<TPacketCapture>> captures;
    if (candidates.empty()) {
        onError("no up interface with an IP address");
        return captures;
    }
    // Failures are reported after the loop: when all of them are for want of
    // privilege, the exception alone says so, once.
    std::vector<std::string> errors;
    size_t permissionFailures = 0;
    std::string firstPermissionText;
    for (const TCandidate& candidate : candidates) {
        TOpenFailure failure;
        if (auto capture = OpenCapture(candidate, failure)) {
            captures.push_back(std::move(capture));
            continue;
        }
        if (failure.PermissionDenied && permissionFailures++ == 0) firstPermissionText = failure.Message;
        errors.push_back("cannot capture on " + candidate.Name + " (" + candidate.Address + "): " + failure.Message);
    }
    if (permissionFailures == candidates.size()) {
        throw ESocketException("cannot capture packets: " + firstPermissionText +
                               " (capturing needs the CAP_NET_RAW capability: run as root, or grant it "
                               "with setcap cap_net_raw+ep on the program)");
    }
    for (const std::string& error : errors) onError(error);
    return captures;
}

}  // namespace tarnwick
