#include "platform/linux/capture_ring.h"

#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/capture_socket_filter.h"

namespace tarnwick {

namespace {

// The ring: blocks of 128 KiB, kCaptureBufferSize in all. A block holds the
// largest packet (64 KiB, a loopback segment) with room to spare; the frame
// size only satisfies the kernel's checks (packet_set_ring() in
// net/packet/af_packet.c), V3 packs packets tightly.
constexpr unsigned kBlockSize = 128 * 1024;
constexpr unsigned kBlockCount = kCaptureBufferSize / kBlockSize;
constexpr unsigned kFrameSize = 2048;
constexpr unsigned kBlockTimeoutMs = 10;
constexpr size_t kRingSize = static_cast<size_t>(kBlockSize) * kBlockCount;
// Where the kernel puts a packet's address, behind its header (tpacket_rcv()).
constexpr size_t kAddressAt = TPACKET_ALIGN(sizeof(tpacket3_hdr));

// Whether the interface of `index` is loopback, by its own flags; fails
// when there is no such interface. The name is looked up again afterwards,
// so a rename in between is not mistaken for it.
TResult<bool> ReadLoopback(int fd, uint32_t index) {
    ifreq request{};
    request.ifr_ifindex = static_cast<int>(index);
    if (ioctl(fd, SIOCGIFNAME, &request) != 0) return FailureFromErrno("finding the interface");
    ifreq flags = request;
    if (ioctl(fd, SIOCGIFFLAGS, &flags) != 0 || ioctl(fd, SIOCGIFINDEX, &request) != 0)
        return FailureFromErrno("reading the interface's flags");
    if (request.ifr_ifindex != static_cast<int>(index)) return TFailure{ENODEV, "finding the interface"};
    return (flags.ifr_flags & IFF_LOOPBACK) != 0;
}

}  // namespace

TResult<std::unique_ptr<TCaptureRing>> TCaptureRing::Open(TUniqueFd packetSocket, uint32_t index) {
    const int fd = packetSocket.Get();
    const TResult<bool> loopback = ReadLoopback(fd, index);
    if (!loopback) return loopback.Failure();
    if (!AttachCaptureFilter(fd, *loopback)) return FailureFromErrno("attaching the capture filter");
    const int version = TPACKET_V3;
    if (setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0)
        return FailureFromErrno("choosing the ring's version");
    tpacket_req3 request{};
    request.tp_block_size = kBlockSize;
    request.tp_block_nr = kBlockCount;
    request.tp_frame_size = kFrameSize;
    request.tp_frame_nr = kBlockSize / kFrameSize * kBlockCount;
    request.tp_retire_blk_tov = kBlockTimeoutMs;
    if (setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0)
        return FailureFromErrno("setting up the ring");
    void* mapped = mmap(nullptr, kRingSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) return FailureFromErrno("mapping the ring");
    std::unique_ptr<TCaptureRing> ring(new TCaptureRing(std::move(packetSocket), static_cast<uint8_t*>(mapped)));

    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(index);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return FailureFromErrno("binding to the interface");
    return ring;
}

TCaptureRing::TCaptureRing(TUniqueFd socket, uint8_t* ring) : Socket_(std::move(socket)), Ring_(ring) {}

TCaptureRing::~TCaptureRing() { munmap(Ring_, kRingSize); }

bool TCaptureRing::OpenBlock() {
    if (Open_) return true;
    auto& header = reinterpret_cast<tpacket_block_desc*>(Ring_ + static_cast<size_t>(Block_) * kBlockSize)->hdr.bh1;
    if ((__atomic_load_n(&header.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0) return false;
    Open_ = true;
    Left_ = header.num_pkts;
    Next_ = header.offset_to_first_pkt;
    return true;
}

bool TCaptureRing::NextFrame(TRingFrame& frame) {
    if (!Open_ || Left_ == 0) return false;
    const uint8_t* block = Ring_ + static_cast<size_t>(Block_) * kBlockSize;
    if (Next_ > kBlockSize - kAddressAt - sizeof(sockaddr_ll)) {
        Left_ = 0;
        return false;
    }
    const auto* packet = reinterpret_cast<const tpacket3_hdr*>(block + Next_);
    const auto* address = reinterpret_cast<const sockaddr_ll*>(block + Next_ + kAddressAt);
    const size_t dataAt = Next_ + packet->tp_net;
    if (dataAt > kBlockSize || packet->tp_snaplen > kBlockSize - dataAt ||
        (Left_ > 1 && (packet->tp_next_offset == 0 || packet->tp_next_offset >= kBlockSize - Next_))) {
        Left_ = 0;
        return false;
    }
    frame.TimeNs = static_cast<uint64_t>(packet->tp_sec) * 1'000'000'000u + packet->tp_nsec;
    frame.WireLength = packet->tp_len;
    frame.InterfaceIndex = static_cast<uint32_t>(address->sll_ifindex);
    frame.Protocol = ntohs(address->sll_protocol);
    frame.Data = {block + dataAt, packet->tp_snaplen};
    Next_ += packet->tp_next_offset;
    --Left_;
    return true;
}

void TCaptureRing::ReleaseBlock() {
    if (!Open_) return;
    auto& header = reinterpret_cast<tpacket_block_desc*>(Ring_ + static_cast<size_t>(Block_) * kBlockSize)->hdr.bh1;
    __atomic_store_n(&header.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    Open_ = false;
    Block_ = (Block_ + 1) % kBlockCount;
}

TCaptureCounters TCaptureRing::Counters() {
    tpacket_stats_v3 stats{};
    socklen_t length = sizeof stats;
    if (getsockopt(Socket_.Get(), SOL_PACKET, PACKET_STATISTICS, &stats, &length) == 0) {
        Counters_.Received += stats.tp_packets;  // counts the dropped ones too, as libpcap's ps_recv does
        Counters_.Dropped += stats.tp_drops;
    }
    return Counters_;
}

}  // namespace tarnwick
