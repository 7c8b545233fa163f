#include "platform/linux/packet_socket_capture.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pcap/dlt.h>
#include <sys/mman.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>

#include "platform/linux/capture_socket_filter.h"
#include "platform/linux/pcap_packet_source.h"

namespace tarnwick {

namespace {

// The ring: blocks of 128 KiB, kCaptureBufferSize in all. A block holds the largest packet (64 KiB, a loopback segment) with room to
// spare; the frame size only satisfies the kernel's checks
// (packet_set_ring() in net/packet/af_packet.c), V3 packs packets tightly.
constexpr unsigned kBlockSize = 128 * 1024;
constexpr unsigned kBlockCount = kCaptureBufferSize / kBlockSize;
constexpr unsigned kFrameSize = 2048;
constexpr unsigned kBlockTimeoutMs = 10;
constexpr size_t kMaxInterfaces = 20;

constexpr size_t kVlanTagSize = 4;  // TCI, inner EtherType

bool IsVlanTag(uint16_t protocol) {
    return protocol == ETH_P_8021Q || protocol == ETH_P_8021AD || protocol == kEtherTypeQinQOld;
}

uint16_t ReadBe16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

// The mapping of a ring, unmapped exactly once.
class TMappedRing {
public:
    TMappedRing() = default;
    TMappedRing(void* address, size_t size) : Address_(static_cast<uint8_t*>(address)), Size_(size) {}
    TMappedRing(const TMappedRing&) = delete;
    TMappedRing& operator=(const TMappedRing&) = delete;
    ~TMappedRing() {
        if (Address_ != nullptr) munmap(Address_, Size_);
    }
    uint8_t* Block(unsigned index) const { return Address_ + static_cast<size_t>(index) * kBlockSize; }

private:
    uint8_t* Address_ = nullptr;
    size_t Size_ = 0;
};

class TPacketSocketCapture final : public TPacketCapture {
public:
    TPacketSocketCapture(TUniqueFd socket, std::unique_ptr<TMappedRing> ring, const TCaptureInterface& where)
        : Socket_(std::move(socket)), Ring_(std::move(ring)), Address_(where.Address), Loopback_(where.Loopback) {}

    const std::string& LocalAddress() const override { return Address_; }
    int SelectableFd() const override { return Socket_.Get(); }

    std::optional<std::string> ReadPackets(const std::function<void(const uint8_t*, size_t)>& onPacket,
                                           int maxPackets) override {
        // A block whose packets were all handed over before a caller's
        // exception went through goes back to the kernel first.
        int taken = 0;
        for (;;) {
            if (Open_ && Left_ == 0) ReleaseBlock();
            if (taken >= maxPackets) break;
            if (!Open_ && !OpenBlock()) break;
            if (Left_ == 0) continue;
            const uint8_t* packet = Next_;
            if (!NextPacket()) continue;
            ++taken;
            Deliver(packet, onPacket);
        }
        return std::nullopt;
    }

    TCaptureStats Stats() override {
        // The kernel's counters restart at every read: they add up here.
        tpacket_stats_v3 stats{};
        socklen_t length = sizeof stats;
        if (getsockopt(Socket_.Get(), SOL_PACKET, PACKET_STATISTICS, &stats, &length) == 0) {
            Stats_.Received += stats.tp_packets;  // counts the dropped ones too, as libpcap's ps_recv does
            Stats_.Dropped += stats.tp_drops;
        }
        return Stats_;
    }

private:
    tpacket_hdr_v1& BlockHeader() const {
        return reinterpret_cast<tpacket_block_desc*>(Ring_->Block(Block_))->hdr.bh1;
    }

    // Takes the current block when the kernel has handed it over.
    bool OpenBlock() {
        tpacket_hdr_v1& header = BlockHeader();
        if ((__atomic_load_n(&header.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0) return false;
        Open_ = true;
        Left_ = header.num_pkts;
        Next_ = Ring_->Block(Block_) + header.offset_to_first_pkt;
        return true;
    }

    void ReleaseBlock() {
        __atomic_store_n(&BlockHeader().block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
        Open_ = false;
        Block_ = (Block_ + 1) % kBlockCount;
    }

    // Moves past the packet at Next_; false (and the rest of the block
    // dropped) when it does not lie within the block, which the kernel never
    // writes but which must not send us reading past the ring.
    bool NextPacket() {
        const uint8_t* block = Ring_->Block(Block_);
        const size_t offset = static_cast<size_t>(Next_ - block);
        const auto* packet = reinterpret_cast<const tpacket3_hdr*>(Next_);
        const size_t dataEnd = offset + packet->tp_net + packet->tp_snaplen;
        if (offset + TPACKET_ALIGN(sizeof(tpacket3_hdr)) + sizeof(sockaddr_ll) > kBlockSize || dataEnd > kBlockSize ||
            (Left_ > 1 && (packet->tp_next_offset == 0 || offset + packet->tp_next_offset >= kBlockSize))) {
            Left_ = 0;
            return false;
        }
        Next_ += packet->tp_next_offset;
        --Left_;
        return true;
    }

    void Deliver(const uint8_t* packet, const std::function<void(const uint8_t*, size_t)>& onPacket) const {
        const auto* header = reinterpret_cast<const tpacket3_hdr*>(packet);
        const auto* address = reinterpret_cast<const sockaddr_ll*>(packet + TPACKET_ALIGN(sizeof(tpacket3_hdr)));
        if (Loopback_ && address->sll_pkttype == PACKET_OUTGOING) return;
        // SOCK_DGRAM: the data starts at the network header (tp_net), the
        // link header already taken off, its protocol in sll_protocol. Tags
        // the card did not take off are still inline.
        const uint8_t* data = packet + header->tp_net;
        size_t length = header->tp_snaplen;
        uint16_t protocol = ntohs(address->sll_protocol);
        while (IsVlanTag(protocol)) {
            if (length < kVlanTagSize) return;
            protocol = ReadBe16(data + 2);
            data += kVlanTagSize;
            length -= kVlanTagSize;
        }
        const int linkType = protocol == ETH_P_IP ? DLT_IPV4 : protocol == ETH_P_IPV6 ? DLT_IPV6 : -1;
        if (linkType < 0) return;
        const auto payload = IpPayloadOf(linkType, data, length);
        if (payload) onPacket(data + payload->first, payload->second);
    }

    TUniqueFd Socket_;
    std::unique_ptr<TMappedRing> Ring_;
    std::string Address_;
    bool Loopback_;
    unsigned Block_ = 0;
    bool Open_ = false;
    uint32_t Left_ = 0;
    const uint8_t* Next_ = nullptr;
    TCaptureStats Stats_;
};

struct TIfAddrsFreer {
    void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

std::vector<TCaptureInterface> ListCaptureInterfaces(std::string& error) {
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) {
        error = std::string("cannot list the network interfaces: ") + std::strerror(errno);
        return {};
    }
    const std::unique_ptr<ifaddrs, TIfAddrsFreer> list(raw);
    std::map<std::string, TCaptureInterface> byName;
    std::map<std::string, bool> hasIpv4;
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        const unsigned wanted = IFF_UP | IFF_RUNNING;
        if (entry->ifa_addr == nullptr || (entry->ifa_flags & wanted) != wanted) continue;
        const std::optional<std::string> text = CandidateAddressText(entry->ifa_addr);
        if (!text) continue;
        const bool ipv4 = entry->ifa_addr->sa_family == AF_INET;
        auto [it, added] = byName.try_emplace(entry->ifa_name);
        TCaptureInterface& candidate = it->second;
        bool& named4 = hasIpv4[entry->ifa_name];
        if (added) {
            candidate.Name = entry->ifa_name;
            candidate.Index = if_nametoindex(entry->ifa_name);
            candidate.Loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        }
        // The first IPv4 address names it; an IPv6 one only until then.
        if (added || (ipv4 && !named4)) candidate.Address = *text;
        named4 = named4 || ipv4;
    }
    std::vector<TCaptureInterface> interfaces;
    for (auto& [name, candidate] : byName) interfaces.push_back(std::move(candidate));
    std::stable_sort(interfaces.begin(), interfaces.end(), [](const TCaptureInterface& a, const TCaptureInterface& b) {
        return a.Index != b.Index ? a.Index < b.Index : a.Name < b.Name;
    });
    if (interfaces.size() > kMaxInterfaces) interfaces.resize(kMaxInterfaces);
    return interfaces;
}

std::unique_ptr<TPacketCapture> OpenPacketSocketCapture(TUniqueFd packetSocket, const TCaptureInterface& where,
                                                        std::string& error) {
    const int fd = packetSocket.Get();
    const auto fail = [&error](const char* what) -> std::unique_ptr<TPacketCapture> {
        error = std::string(what) + ": " + std::strerror(errno);
        return nullptr;
    };
    if (!AttachCaptureFilter(fd, where.Loopback)) return fail("cannot filter the capture");
    const int version = TPACKET_V3;
    if (setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0)
        return fail("cannot set the capture ring's version");
    tpacket_req3 request{};
    request.tp_block_size = kBlockSize;
    request.tp_block_nr = kBlockCount;
    request.tp_frame_size = kFrameSize;
    request.tp_frame_nr = kBlockSize / kFrameSize * kBlockCount;
    request.tp_retire_blk_tov = kBlockTimeoutMs;
    if (setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0)
        return fail("cannot make the capture ring");
    const size_t size = static_cast<size_t>(kBlockSize) * kBlockCount;
    void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) return fail("cannot map the capture ring");
    auto ring = std::make_unique<TMappedRing>(mapped, size);

    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(where.Index);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return fail("cannot bind the capture to its interface");
    return std::make_unique<TPacketSocketCapture>(std::move(packetSocket), std::move(ring), where);
}

}  // namespace tarnwick
