#include "platform/linux/forwarded_capture.h"

#include <ifaddrs.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <pcap/dlt.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>

#include "platform/linux/capture_batch.h"
#include "platform/linux/capture_socket_filter.h"
#include "platform/linux/helper_protocol.h"
#include "platform/linux/pcap_packet_source.h"

namespace tarnwick {

namespace {

constexpr size_t kMaxInterfaces = 20;
constexpr size_t kVlanTagSize = 4;  // TCI, inner EtherType

bool IsVlanTag(uint16_t protocol) {
    return protocol == ETH_P_8021Q || protocol == ETH_P_8021AD || protocol == kEtherTypeQinQOld;
}

uint16_t ReadBe16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

// Its selectable descriptor is an epoll set of the stream and of an eventfd
// that is set while frames of a batch already read wait: a reader that took
// fewer than a batch holds must be woken again for the rest, which the
// stream alone would not do.
class TForwardedCapture final : public TPacketCapture {
public:
    TForwardedCapture(TUniqueFd stream, TUniqueFd watched, TUniqueFd pending, const TCaptureInterface& where)
        : Stream_(std::move(stream)),
          Watched_(std::move(watched)),
          Pending_(std::move(pending)),
          Address_(where.Address),
          Name_(where.Name),
          Buffer_(kMaxCaptureBatchSize + 1) {}

    const std::string& LocalAddress() const override { return Address_; }
    const std::string& InterfaceName() const override { return Name_; }
    int SelectableFd() const override { return Watched_.Get(); }

    TStatus ReadPackets(const TOnPacket& onPacket, int maxPackets) override {
        TStatus read;
        try {
            read = Read(onPacket, maxPackets);
        } catch (...) {
            MarkPending();
            throw;
        }
        MarkPending();
        return read;
    }

    TCaptureStats Stats() override { return Stats_; }

private:
    // A batch's frames lie in Buffer_: the next is read only once every one
    // of them has been handed over, over as many calls as it takes.
    TStatus Read(const TOnPacket& onPacket, int maxPackets) {
        for (int taken = 0; taken < maxPackets;) {
            if (Next_ < Batch_.Frames.size()) {
                const TCaptureFrame& frame = Batch_.Frames[Next_++];
                ++taken;
                Deliver(frame, onPacket);
                continue;
            }
            if (!Stream_.IsValid()) break;
            iovec part{Buffer_.data(), Buffer_.size()};
            msghdr header{};
            header.msg_iov = &part;
            header.msg_iovlen = 1;
            const ssize_t received = recvmsg(Stream_.Get(), &header, MSG_DONTWAIT);
            if (received < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                return End(FailureFromErrno("cannot read the capture from tarnwick-helper"));
            }
            if (received == 0) return End(TFailure{0, "tarnwick-helper's capture ended"});
            if (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC))
                return End(TFailure{0, "tarnwick-helper sent a capture batch longer than " +
                                           std::to_string(kMaxCaptureBatchSize) + " bytes"});
            Next_ = 0;
            if (TStatus parsed = ParseCaptureBatch({Buffer_.data(), static_cast<size_t>(received)}, Batch_); !parsed)
                return End(TFailure{0, "tarnwick-helper sent a malformed capture batch: " + parsed.Failure().Text()});
            Stats_.Received = Batch_.Counters.Received;
            Stats_.Dropped = Batch_.Counters.Dropped;
        }
        return {};
    }

    // Said once: the stream is closed (and so leaves the epoll set), and
    // what was read stays counted.
    TFailure End(TFailure problem) {
        Batch_.Frames.clear();
        Next_ = 0;
        Stream_.Reset();
        return problem;
    }

    void MarkPending() {
        const bool pending = Next_ < Batch_.Frames.size();
        if (pending == Marked_) return;
        uint64_t value = 1;
        const ssize_t done = pending ? write(Pending_.Get(), &value, sizeof value)
                                     : read(Pending_.Get(), &value, sizeof value);
        Marked_ = done == sizeof value ? pending : Marked_;
    }

    static void Deliver(const TCaptureFrame& frame, const TOnPacket& onPacket) {
        // The data start at the network header, the link header already
        // taken off, its protocol beside. Tags the card did not take off are
        // still inline.
        const uint8_t* data = frame.Data.data();
        size_t length = frame.Data.size();
        uint16_t protocol = frame.Protocol;
        while (IsVlanTag(protocol)) {
            if (length < kVlanTagSize) return;
            protocol = ReadBe16(data + 2);
            data += kVlanTagSize;
            length -= kVlanTagSize;
        }
        const int linkType = protocol == ETH_P_IP ? DLT_IPV4 : protocol == ETH_P_IPV6 ? DLT_IPV6 : -1;
        if (linkType < 0) return;
        const auto payload = IpPayloadOf(linkType, data, length);
        if (payload) onPacket(data + payload->first, payload->second, frame.TimeNs);
    }

    TUniqueFd Stream_;
    TUniqueFd Watched_;  // epoll: the stream and Pending_
    TUniqueFd Pending_;
    std::string Address_;
    std::string Name_;
    std::vector<uint8_t> Buffer_;
    TCaptureBatch Batch_;
    size_t Next_ = 0;
    bool Marked_ = false;
    TCaptureStats Stats_;
};

struct TIfAddrsFreer {
    void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

TResult<std::vector<TCaptureInterface>> ListCaptureInterfaces() {
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) return FailureFromErrno("cannot list the network interfaces");
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

TResult<std::unique_ptr<TPacketCapture>> OpenForwardedCapture(TUniqueFd stream, const TCaptureInterface& where) {
    TUniqueFd watched(epoll_create1(EPOLL_CLOEXEC));
    TUniqueFd pending(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    for (const int fd : {stream.Get(), pending.Get()}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (!watched.IsValid() || !pending.IsValid() || epoll_ctl(watched.Get(), EPOLL_CTL_ADD, fd, &event) != 0)
            return FailureFromErrno("cannot watch the capture");
    }
    return std::unique_ptr<TPacketCapture>(
        std::make_unique<TForwardedCapture>(std::move(stream), std::move(watched), std::move(pending), where));
}

}  // namespace tarnwick
