#include "platform/linux/pcap_packet_source.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pcap/dlt.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "capture/capture_filter.h"
#include "capture/capture_session.h"
#include "capture/packet_dump.h"
#include "capture/packet_parser.h"
#include "loopback_helpers.h"

namespace tarnwick {
namespace {

using Bytes = std::vector<uint8_t>;
using TPayload = std::optional<std::pair<size_t, size_t>>;

// An IPv4 header (version 4, IHL 5) whose total length says `length`,
// followed by filler up to `length` bytes.
Bytes Ipv4Packet(size_t length = 28) {
    Bytes packet(length, 0xAB);
    packet[0] = 0x45;
    packet[1] = 0;
    packet[2] = static_cast<uint8_t>(length >> 8);
    packet[3] = static_cast<uint8_t>(length);
    return packet;
}

// An IPv6 header whose payload length says `payload`, followed by that much filler.
Bytes Ipv6Packet(size_t payload = 0) {
    Bytes packet(40 + payload, 0xCD);
    packet[0] = 0x60;
    packet[4] = static_cast<uint8_t>(payload >> 8);
    packet[5] = static_cast<uint8_t>(payload);
    return packet;
}

Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Destination and source MACs, then the given EtherTypes: all but the last
// are tag types, each followed by a TCI.
Bytes EthernetHeader(std::initializer_list<uint16_t> etherTypes) {
    Bytes header = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    size_t left = etherTypes.size();
    for (const uint16_t type : etherTypes) {
        header.push_back(static_cast<uint8_t>(type >> 8));
        header.push_back(static_cast<uint8_t>(type));
        if (--left > 0) {  // the tag's TCI: priority 0, VLAN 42
            header.push_back(0x00);
            header.push_back(0x2A);
        }
    }
    return header;
}

TPayload Strip(int linkType, const Bytes& frame) { return IpPayloadOf(linkType, frame.data(), frame.size()); }

TPayload At(size_t offset, size_t length) { return std::make_pair(offset, length); }

TEST(IpPayloadOf, EthernetWithAndWithoutVlanTags) {
    const Bytes packet = Ipv4Packet(40);
    EXPECT_EQ(Strip(DLT_EN10MB, Concat(EthernetHeader({0x0800}), packet)), At(14, 40));
    EXPECT_EQ(Strip(DLT_EN10MB, Concat(EthernetHeader({0x8100, 0x0800}), packet)), At(18, 40));
    EXPECT_EQ(Strip(DLT_EN10MB, Concat(EthernetHeader({0x88A8, 0x8100, 0x0800}), packet)), At(22, 40));
    EXPECT_EQ(Strip(DLT_EN10MB, Concat(EthernetHeader({0x9100, 0x8100, 0x0800}), packet)), At(22, 40));
}

TEST(IpPayloadOf, EthernetOtherProtocolsAreSkipped) {
    EXPECT_EQ(Strip(DLT_EN10MB, Concat(EthernetHeader({0x0806}), Bytes(28, 0x45))), std::nullopt);  // ARP
    EXPECT_EQ(Strip(DLT_EN10MB, Concat(EthernetHeader({0x86DD}), Ipv6Packet())), At(14, 40));
    EXPECT_EQ(Strip(DLT_EN10MB, Concat(EthernetHeader({0x8100, 0x86DD}), Ipv6Packet(8))), At(18, 48));
    // 802.3 length field instead of an EtherType (LLC frames).
    EXPECT_EQ(Strip(DLT_EN10MB, Concat(EthernetHeader({0x0040}), Ipv4Packet())), std::nullopt);
    // Labelled one family, but the bytes are of the other.
    EXPECT_EQ(Strip(DLT_EN10MB, Concat(EthernetHeader({0x0800}), Ipv6Packet())), std::nullopt);
    EXPECT_EQ(Strip(DLT_EN10MB, Concat(EthernetHeader({0x86DD}), Ipv4Packet())), std::nullopt);
}

TEST(IpPayloadOf, FramesShorterThanTheirLinkHeaderAreSkipped) {
    const Bytes ethernet = EthernetHeader({0x0800});
    EXPECT_EQ(Strip(DLT_EN10MB, Bytes(ethernet.begin(), ethernet.end() - 1)), std::nullopt);
    EXPECT_EQ(Strip(DLT_EN10MB, ethernet), std::nullopt);  // header only, no packet
    const Bytes tagged = EthernetHeader({0x8100, 0x0800});
    EXPECT_EQ(Strip(DLT_EN10MB, Bytes(tagged.begin(), tagged.end() - 1)), std::nullopt);  // tag cut short
    EXPECT_EQ(Strip(DLT_NULL, Bytes{2, 0, 0}), std::nullopt);
    EXPECT_EQ(Strip(DLT_LINUX_SLL, Bytes(15, 0)), std::nullopt);
    EXPECT_EQ(Strip(DLT_LINUX_SLL2, Bytes{0x08, 0x00}), std::nullopt);
    EXPECT_EQ(Strip(DLT_RAW, Bytes{}), std::nullopt);
    EXPECT_EQ(IpPayloadOf(DLT_RAW, nullptr, 0), std::nullopt);
}

TEST(IpPayloadOf, LengthStopsAtTheTotalLengthWhenItFits) {
    // A 28-byte packet padded to Ethernet's 60-byte minimum frame.
    Bytes padded = Concat(EthernetHeader({0x0800}), Ipv4Packet(28));
    padded.resize(60, 0);
    EXPECT_EQ(Strip(DLT_EN10MB, padded), At(14, 28));

    // Cut by the snapshot length: what was captured.
    Bytes cut = Ipv4Packet(100);
    cut[2] = 0x05;  // says 1500 + 100
    EXPECT_EQ(Strip(DLT_RAW, cut), At(0, 100));
    // Segmentation offload leaves the total length 0: the whole frame.
    Bytes offloaded = Ipv4Packet(100);
    offloaded[2] = offloaded[3] = 0;
    EXPECT_EQ(Strip(DLT_RAW, offloaded), At(0, 100));
    // Too short to hold the length field: still handed over as is.
    EXPECT_EQ(Strip(DLT_RAW, Bytes{0x45, 0}), At(0, 2));

    // IPv6: 40 + payload length, when that fits; a payload length of 0 says nothing.
    Bytes padded6 = Concat(EthernetHeader({0x86DD}), Ipv6Packet(4));
    padded6.resize(100, 0);
    EXPECT_EQ(Strip(DLT_EN10MB, padded6), At(14, 44));
    Bytes cut6 = Ipv6Packet(60);
    cut6.resize(70);
    EXPECT_EQ(Strip(DLT_RAW, cut6), At(0, 70));
    EXPECT_EQ(Strip(DLT_RAW, Concat(Ipv6Packet(0), Bytes(30, 1))), At(0, 70));
}

TEST(IpPayloadOf, LoopbackFamilyInEitherByteOrder) {
    const Bytes packet = Ipv4Packet();
    for (const int linkType : {DLT_NULL, DLT_LOOP}) {
        SCOPED_TRACE(linkType);
        EXPECT_EQ(Strip(linkType, Concat({2, 0, 0, 0}, packet)), At(4, 28));
        EXPECT_EQ(Strip(linkType, Concat({0, 0, 0, 2}, packet)), At(4, 28));
        // AF_INET6 as Linux, the BSDs and Darwin number it.
        for (const uint8_t family : {10, 24, 28, 30}) {
            EXPECT_EQ(Strip(linkType, Concat({0, 0, 0, family}, Ipv6Packet())), At(4, 40)) << int{family};
            EXPECT_EQ(Strip(linkType, Concat({family, 0, 0, 0}, Ipv6Packet())), At(4, 40)) << int{family};
        }
        EXPECT_EQ(Strip(linkType, Concat({0, 0, 0, 30}, packet)), std::nullopt);  // bytes of the other family
        // A 2 in a middle byte, and a family that is neither.
        EXPECT_EQ(Strip(linkType, Concat({0, 2, 0, 0}, packet)), std::nullopt);
        EXPECT_EQ(Strip(linkType, Concat({0, 0, 0, 7}, packet)), std::nullopt);
    }
}

TEST(IpPayloadOf, LinuxCookedHeaders) {
    const Bytes packet = Ipv4Packet();
    // SLL: packet type, ARPHRD type, address length, 8 address bytes, protocol.
    Bytes sll = {0, 4, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0x08, 0x00};
    EXPECT_EQ(Strip(DLT_LINUX_SLL, Concat(sll, packet)), At(16, 28));
    sll[14] = 0x86;
    sll[15] = 0xDD;
    EXPECT_EQ(Strip(DLT_LINUX_SLL, Concat(sll, Ipv6Packet())), At(16, 40));
    sll[14] = 0x08;
    sll[15] = 0x06;  // ARP
    EXPECT_EQ(Strip(DLT_LINUX_SLL, Concat(sll, packet)), std::nullopt);

    // SLL2: protocol first, then reserved, interface index, ARPHRD type,
    // packet type, address length, 8 address bytes.
    Bytes sll2 = {0x08, 0x00, 0, 0, 0, 0, 0, 1, 0, 1, 4, 6, 1, 2, 3, 4, 5, 6, 0, 0};
    EXPECT_EQ(Strip(DLT_LINUX_SLL2, Concat(sll2, packet)), At(20, 28));
    // The protocol where SLL has it does not count for SLL2.
    sll2[0] = 0x86;
    sll2[1] = 0xDD;
    sll2[14] = 0x08;
    sll2[15] = 0x00;
    EXPECT_EQ(Strip(DLT_LINUX_SLL2, Concat(sll2, Ipv6Packet())), At(20, 40));
    EXPECT_EQ(Strip(DLT_LINUX_SLL2, Concat(sll2, packet)), std::nullopt);
}

TEST(IpPayloadOf, RawIpByVersionNibble) {
    EXPECT_EQ(Strip(DLT_RAW, Ipv4Packet()), At(0, 28));
    EXPECT_EQ(Strip(DLT_RAW, Ipv6Packet()), At(0, 40));
    EXPECT_EQ(Strip(DLT_RAW, Bytes(40, 0x55)), std::nullopt);  // version 5
    EXPECT_EQ(Strip(DLT_IPV4, Ipv4Packet()), At(0, 28));
    EXPECT_EQ(Strip(DLT_IPV4, Ipv6Packet()), std::nullopt);
    EXPECT_EQ(Strip(DLT_IPV6, Ipv6Packet()), At(0, 40));
    EXPECT_EQ(Strip(DLT_IPV6, Ipv4Packet()), std::nullopt);
}

TEST(IpPayloadOf, UnknownLinkTypesCarryNothing) {
    constexpr int kIeee80211 = 105;  // DLT_IEEE802_11: Wi-Fi monitor mode
    EXPECT_FALSE(IsSupportedLinkType(kIeee80211));
    EXPECT_EQ(Strip(kIeee80211, Ipv4Packet()), std::nullopt);
    for (const int linkType :
         {DLT_EN10MB, DLT_NULL, DLT_LOOP, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW, DLT_IPV4, DLT_IPV6}) {
        EXPECT_TRUE(IsSupportedLinkType(linkType)) << linkType;
    }
}

TEST(IsSeenOnParent, AVlanIsLeftOutWhenAnInterfaceItIsStackedOnIsCaptured) {
    // eth0 (2), eth0.100 on it (5), eth0.100.200 on that (7).
    const TVlanParents parents = {{5, 2}, {7, 5}};
    EXPECT_TRUE(IsSeenOnParent(5, {1, 2}, parents));
    EXPECT_TRUE(IsSeenOnParent(7, {5}, parents));
    EXPECT_TRUE(IsSeenOnParent(7, {2}, parents));  // through a VLAN not captured itself
    EXPECT_FALSE(IsSeenOnParent(5, {1, 7}, parents));  // its parent is not captured
    EXPECT_FALSE(IsSeenOnParent(2, {1, 5}, parents));  // not a VLAN
    EXPECT_FALSE(IsSeenOnParent(3, {1}, {{3, 4}, {4, 3}}));  // a loop ends
}

// ---- Real captures on loopback -------------------------------------------

bool HasEffectiveCapability(int capability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_TO_INDEX(capability)].effective & CAP_TO_MASK(capability)) != 0;
}

#define SKIP_UNLESS_CAPTURE_ALLOWED()                                                     \
    if (!HasEffectiveCapability(CAP_NET_RAW)) {                                           \
        GTEST_SKIP() << "capturing needs CAP_NET_RAW, which this test process lacks";     \
    }

// Takes CAP_NET_RAW out of this thread's effective set while it lives
// (capset(2) changes only the calling thread).
class TWithoutNetRaw {
public:
    TWithoutNetRaw() {
        EXPECT_EQ(syscall(SYS_capget, &Header_, Saved_), 0);
        __user_cap_data_struct reduced[_LINUX_CAPABILITY_U32S_3];
        std::memcpy(reduced, Saved_, sizeof reduced);
        reduced[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
        EXPECT_EQ(syscall(SYS_capset, &Header_, reduced), 0);
    }
    TWithoutNetRaw(const TWithoutNetRaw&) = delete;
    TWithoutNetRaw& operator=(const TWithoutNetRaw&) = delete;
    ~TWithoutNetRaw() { syscall(SYS_capset, &Header_, Saved_); }

private:
    __user_cap_header_struct Header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct Saved_[_LINUX_CAPABILITY_U32S_3] = {};
};

uint16_t Be16(const Bytes& packet, size_t offset) {
    return static_cast<uint16_t>(packet[offset] << 8 | packet[offset + 1]);
}

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// The loopback capture, opened afresh. Other tests (and other programs)
// send on loopback too, so every check below looks for its own packets only.
class TPcapLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_CAPTURE_ALLOWED();
        auto opened = Source_.OpenCaptures([this](const TFailure& error) { Errors_.push_back(error.Text()); });
        ASSERT_TRUE(opened.Ok()) << opened.Failure().Text();
        Captures_ = std::move(opened).Value();
        for (auto& capture : Captures_) {
            if (capture->LocalAddress() == "127.0.0.1") Loopback_ = capture.get();
        }
        ASSERT_NE(Loopback_, nullptr) << "no capture on 127.0.0.1";
    }

    // Reads the loopback capture until `wanted` matching packets were seen
    // and then for `settle` longer (so a duplicate would show), or until
    // three seconds passed. Returns the matching packets.
    std::vector<Bytes> Collect(const std::function<bool(const Bytes&)>& matches, size_t wanted,
                               std::chrono::milliseconds settle = std::chrono::milliseconds(300)) {
        using Clock = std::chrono::steady_clock;
        std::vector<Bytes> found;
        auto deadline = Clock::now() + std::chrono::seconds(3);
        bool settling = false;
        while (Clock::now() < deadline) {
            pollfd watch{Loopback_->SelectableFd(), POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (poll(&watch, 1, static_cast<int>(std::max<int64_t>(left.count(), 0))) <= 0) continue;
            const TStatus read = Loopback_->ReadPackets(
                [&](const uint8_t* bytes, size_t length, uint64_t timeNs) {
                    ++Read_;
                    Bytes packet(bytes, bytes + length);
                    if (!matches(packet)) return;
                    found.push_back(std::move(packet));
                    Times_.push_back(timeNs);
                },
                64);
            EXPECT_TRUE(read.Ok()) << read.Failure().Text();
            if (!settling && found.size() >= wanted) {
                settling = true;
                deadline = Clock::now() + settle;
            }
        }
        return found;
    }

    TPcapPacketSource Source_;
    TPacketCaptures Captures_;
    std::vector<std::string> Errors_;
    TPacketCapture* Loopback_ = nullptr;
    uint64_t Read_ = 0;
    std::vector<uint64_t> Times_;  // of the packets Collect found
};

TEST_F(TPcapLoopback, CapturesOpenOnePerInterfaceWithAnAddressAndAFd) {
    ASSERT_LE(Captures_.size(), 20u);
    std::vector<std::string> addresses;
    for (const auto& capture : Captures_) {
        in_addr parsed{};
        EXPECT_EQ(inet_pton(AF_INET, capture->LocalAddress().c_str(), &parsed), 1) << capture->LocalAddress();
        EXPECT_GE(capture->SelectableFd(), 0);
        addresses.push_back(capture->LocalAddress());
    }
    // Loopback has the lowest interface index, so it comes first.
    EXPECT_EQ(addresses.front(), "127.0.0.1");
    for (const std::string& error : Errors_) ADD_FAILURE() << "unexpected error: " << error;
}

TEST_F(TPcapLoopback, UdpDatagramIsSeenOnceWithTheIpHeaderFirst) {
    const TUniqueFd receiver = test::UdpSocket();
    const TUniqueFd sender = test::UdpSocket();
    const uint16_t receiverPort = test::LocalPort(receiver.Get());
    const uint16_t senderPort = test::LocalPort(sender.Get());
    const std::string payload = "tarnwick capture test " + std::to_string(getpid());
    const sockaddr_in to = LoopbackAddress(receiverPort);
    const auto* target = reinterpret_cast<const sockaddr*>(&to);
    const auto sinceEpochNs = [] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count());
    };
    const uint64_t sentAfter = sinceEpochNs();
    ASSERT_EQ(sendto(sender.Get(), payload.data(), payload.size(), 0, target, sizeof to),
              static_cast<ssize_t>(payload.size()));

    const std::vector<Bytes> found = Collect(
        [&](const Bytes& p) {
            return p.size() >= 28 && p[9] == 17 && Be16(p, 20) == senderPort && Be16(p, 22) == receiverPort;
        },
        1);
    ASSERT_EQ(found.size(), 1u) << "each loopback packet must be read exactly once";
    const Bytes& packet = found.front();
    EXPECT_EQ(packet[0] >> 4, 4);
    EXPECT_EQ(packet.size(), 28 + payload.size());
    EXPECT_EQ(Be16(packet, 2), packet.size());
    EXPECT_EQ(std::string(packet.begin() + 28, packet.end()), payload);
    EXPECT_EQ(Bytes(packet.begin() + 12, packet.begin() + 20), (Bytes{127, 0, 0, 1, 127, 0, 0, 1}));
    // The kernel's time stamp of the packet, in nanoseconds since the epoch.
    EXPECT_GE(Times_.front(), sentAfter);
    EXPECT_LE(Times_.front(), sinceEpochNs());
    EXPECT_EQ(Loopback_->InterfaceName(), "lo");

    const TCaptureStats stats = Loopback_->Stats();
    EXPECT_GE(stats.Received, Read_);
    EXPECT_GE(stats.Received, 1u);
}

// The leaving copy of each loopback packet is kept out of the buffer by the
// kernel, and every arriving one is read: a burst that fits the buffer is
// read whole, each packet once, and none is counted as dropped.
TEST_F(TPcapLoopback, ABurstIsReadWholeEachPacketOnce) {
    const TUniqueFd receiver = test::UdpSocket();
    const TUniqueFd sender = test::UdpSocket();
    const uint16_t receiverPort = test::LocalPort(receiver.Get());
    const uint16_t senderPort = test::LocalPort(sender.Get());
    const sockaddr_in to = LoopbackAddress(receiverPort);
    constexpr size_t kBurst = 20000;
    for (size_t n = 0; n < kBurst; ++n) {
        const std::string payload = std::to_string(n);
        ASSERT_EQ(sendto(sender.Get(), payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                         sizeof to),
                  static_cast<ssize_t>(payload.size()));
    }
    const std::vector<Bytes> found = Collect(
        [&](const Bytes& p) {
            return p.size() >= 28 && p[9] == 17 && Be16(p, 20) == senderPort && Be16(p, 22) == receiverPort;
        },
        kBurst);
    ASSERT_EQ(found.size(), kBurst);
    for (size_t n = 0; n < kBurst; ++n) ASSERT_EQ(std::string(found[n].begin() + 28, found[n].end()), std::to_string(n));
    EXPECT_EQ(Loopback_->Stats().Dropped, 0u);
}

TEST_F(TPcapLoopback, TcpHandshakeIsSeenWithProtocol6) {
    const TUniqueFd listener = test::TcpListener();
    const test::TTcpConnection connection = test::Connect(listener.Get());

    constexpr uint8_t kSyn = 0x02, kAck = 0x10;
    // Flags are at byte 13 of the TCP header, after the 20-byte IP header.
    const auto flagsOf = [](const Bytes& p) { return p[33] & (kSyn | kAck); };
    const std::vector<Bytes> found = Collect(
        [&](const Bytes& p) {
            return p.size() >= 40 && p[9] == 6 &&
                   ((Be16(p, 20) == connection.ClientPort && Be16(p, 22) == connection.ServerPort) ||
                    (Be16(p, 20) == connection.ServerPort && Be16(p, 22) == connection.ClientPort));
        },
        3);
    ASSERT_EQ(found.size(), 3u) << "SYN, SYN-ACK, ACK, each once";
    EXPECT_EQ(flagsOf(found[0]), kSyn);
    EXPECT_EQ(flagsOf(found[1]), kSyn | kAck);
    EXPECT_EQ(flagsOf(found[2]), kAck);
    EXPECT_EQ(Be16(found[1], 20), connection.ServerPort);
}

// An ICMP echo request with identifier `id`, with its checksum.
Bytes EchoRequest(uint16_t id) {
    Bytes message = {8, 0, 0, 0, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0, 1,
                     't', 'a', 'r', 'n'};
    uint32_t sum = 0;
    for (size_t i = 0; i < message.size(); i += 2) sum += Be16(message, i);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    const uint16_t checksum = static_cast<uint16_t>(~sum);
    message[2] = static_cast<uint8_t>(checksum >> 8);
    message[3] = static_cast<uint8_t>(checksum);
    return message;
}

TEST_F(TPcapLoopback, IcmpEchoAndReplyAreSeenWithProtocol1) {
    const TUniqueFd icmp(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    ASSERT_TRUE(icmp.IsValid()) << std::strerror(errno);
    const uint16_t id = static_cast<uint16_t>(getpid() ^ 0x5A5A);
    const Bytes request = EchoRequest(id);
    const sockaddr_in to = LoopbackAddress(0);
    ASSERT_EQ(sendto(icmp.Get(), request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(request.size()));

    const std::vector<Bytes> found = Collect(
        [&](const Bytes& p) { return p.size() >= 28 && p[9] == 1 && Be16(p, 24) == id; }, 2);
    ASSERT_EQ(found.size(), 2u) << "the request and the reply, each once";
    EXPECT_EQ(found[0][20], 8);  // echo request
    EXPECT_EQ(found[1][20], 0);  // echo reply
    EXPECT_EQ(Bytes(found[0].begin() + 20, found[0].end()), request);
}

sockaddr_in6 Loopback6Address(uint16_t port) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(port);
    return address;
}

// A socket of `type` bound to ::1 with a kernel-chosen port; invalid when
// this machine has no IPv6 loopback.
TUniqueFd Loopback6Socket(int type) {
    TUniqueFd fd(socket(AF_INET6, type, 0));
    const sockaddr_in6 address = Loopback6Address(0);
    if (!fd.IsValid() || bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return {};
    return fd;
}

uint16_t Port6(int fd) {
    sockaddr_in6 address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin6_port);
}

// UDP, a TCP handshake and an ICMPv6 echo on ::1, each picked out of the
// loopback traffic by the capture filter of its endpoints as the capture list
// applies it, with the cells the list shows.
TEST_F(TPcapLoopback, Ip6PacketsOnLoopbackPassTheFilterOfTheirEndpoints) {
    const TUniqueFd receiver = Loopback6Socket(SOCK_DGRAM);
    const TUniqueFd sender = Loopback6Socket(SOCK_DGRAM);
    if (!receiver.IsValid() || !sender.IsValid()) GTEST_SKIP() << "no IPv6 loopback here";
    const auto listedBy = [](const TCaptureFilter& filter) {
        return [filter](const Bytes& p) {
            const auto packet = ParsePacket("127.0.0.1", p.data(), p.size());
            return packet && TPacketFilter(filter).Lists(*packet);
        };
    };
    const auto cells = [](const Bytes& p) { return PacketListCells(*ParsePacket({}, p.data(), p.size())); };

    const uint16_t senderPort = Port6(sender.Get());
    const uint16_t receiverPort = Port6(receiver.Get());
    const std::string payload = "tarnwick six";
    const sockaddr_in6 to = Loopback6Address(receiverPort);
    const auto* toAddress = reinterpret_cast<const sockaddr*>(&to);
    ASSERT_EQ(sendto(sender.Get(), payload.data(), payload.size(), 0, toAddress, sizeof to),
              static_cast<ssize_t>(payload.size()));
    const auto udp = Collect(
        listedBy({"UDP", "0:0::1", "::1", std::to_string(receiverPort), std::to_string(senderPort)}), 1);
    ASSERT_EQ(udp.size(), 1u);
    EXPECT_EQ(cells(udp[0]), (std::array<std::string, kPacketListColumns>{
                                 "UDP", "::1", std::to_string(senderPort), "::1", std::to_string(receiverPort),
                                 std::to_string(payload.size()), payload}));

    const TUniqueFd listener = Loopback6Socket(SOCK_STREAM);
    ASSERT_EQ(listen(listener.Get(), 1), 0);
    const TUniqueFd client(socket(AF_INET6, SOCK_STREAM, 0));
    const sockaddr_in6 server = Loopback6Address(Port6(listener.Get()));
    ASSERT_EQ(connect(client.Get(), reinterpret_cast<const sockaddr*>(&server), sizeof server), 0);
    const TUniqueFd accepted(accept(listener.Get(), nullptr, nullptr));
    const std::string clientPort = std::to_string(Port6(client.Get()));
    const auto tcp = Collect(listedBy({"TCP", "::1", "::1", clientPort, std::to_string(Port6(listener.Get()))}), 3);
    ASSERT_EQ(tcp.size(), 3u) << "SYN, SYN-ACK, ACK, each once";
    EXPECT_EQ(cells(tcp[0])[2], clientPort);
    EXPECT_EQ(cells(tcp[1])[4], clientPort);

    // An echo request with an identifier of ours; the kernel fills in the checksum.
    const TUniqueFd icmp(socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6));
    ASSERT_TRUE(icmp.IsValid()) << std::strerror(errno);
    const uint16_t id = static_cast<uint16_t>(getpid() ^ 0x6A6A);
    const Bytes request = {128, 0, 0, 0, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0, 1, 's', 'i', 'x'};
    const sockaddr_in6 target = Loopback6Address(0);
    ASSERT_EQ(sendto(icmp.Get(), request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&target),
                     sizeof target),
              static_cast<ssize_t>(request.size()));
    const auto listedIcmp = listedBy({"ICMPv6", "::1", "::", "0", "0"});
    const auto echo = Collect([&](const Bytes& p) { return listedIcmp(p) && p.size() >= 46 && Be16(p, 44) == id; }, 2);
    ASSERT_EQ(echo.size(), 2u) << "the request and the reply, each once";
    EXPECT_EQ(cells(echo[0])[0], "ICMPv6");
    EXPECT_EQ(cells(echo[0])[2], "128");
    EXPECT_EQ(cells(echo[1])[2], "129");
    EXPECT_EQ(cells(echo[1])[4], "0");
}

TEST_F(TPcapLoopback, ReadPacketsHandsOverAtMostMaxPackets) {
    const TUniqueFd receiver = test::UdpSocket();
    const TUniqueFd sender = test::UdpSocket();
    const sockaddr_in to = LoopbackAddress(test::LocalPort(receiver.Get()));
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(sendto(sender.Get(), "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 1);
    }
    pollfd watch{Loopback_->SelectableFd(), POLLIN, 0};
    ASSERT_EQ(poll(&watch, 1, 3000), 1);
    int calls = 0;
    EXPECT_TRUE(Loopback_->ReadPackets([&](const uint8_t*, size_t, uint64_t) { ++calls; }, 2).Ok());
    EXPECT_GE(calls, 1);
    EXPECT_LE(calls, 2);
    calls = 0;
    EXPECT_TRUE(Loopback_->ReadPackets([&](const uint8_t*, size_t, uint64_t) { ++calls; }, 0).Ok());
    EXPECT_EQ(calls, 0);
}

TEST_F(TPcapLoopback, AnExceptionOfTheCallbackReachesTheCallerAndTheCaptureGoesOn) {
    const TUniqueFd receiver = test::UdpSocket();
    const TUniqueFd sender = test::UdpSocket();
    const uint16_t port = test::LocalPort(receiver.Get());
    const sockaddr_in to = LoopbackAddress(port);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(sendto(sender.Get(), "y", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 1);
    }
    pollfd watch{Loopback_->SelectableFd(), POLLIN, 0};
    ASSERT_EQ(poll(&watch, 1, 3000), 1);
    int calls = 0;
    EXPECT_THROW((void)Loopback_->ReadPackets(
                     [&](const uint8_t*, size_t, uint64_t) {
                         ++calls;
                         throw std::runtime_error("stop");
                     },
                     64),
                 std::runtime_error);
    EXPECT_EQ(calls, 1);
    // The capture still reads: our datagrams (or at least the second) follow.
    const std::vector<Bytes> found = Collect(
        [&](const Bytes& p) { return p.size() >= 28 && p[9] == 17 && Be16(p, 22) == port; }, 1);
    EXPECT_GE(found.size(), 1u);
}

// Polls every capture of `session` and reads what arrives, until it lists
// `wanted` packets and then for 300 ms longer (so a duplicate would show), or
// until three seconds passed.
void ListUntil(TCaptureSession& session, size_t wanted) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::seconds(3);
    bool settling = false;
    while (Clock::now() < deadline) {
        std::vector<pollfd> watched;
        for (size_t i = 0; i < session.Captures(); ++i) watched.push_back({session.SelectableFd(i), POLLIN, 0});
        if (poll(watched.data(), watched.size(), 50) > 0) {
            for (size_t i = 0; i < watched.size(); ++i)
                if (watched[i].revents & POLLIN) session.ReadCapture(i);
        }
        if (!settling && session.RecordCount() >= wanted) {
            settling = true;
            deadline = Clock::now() + std::chrono::milliseconds(300);
        }
    }
}

int LoopbackMtu() {
    const TUniqueFd fd(socket(AF_INET, SOCK_DGRAM, 0));
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    return ioctl(fd.Get(), SIOCGIFMTU, &request) == 0 ? request.ifr_mtu : 0;
}

// The largest datagram loopback carries in one packet, of each family: a
// 65535-byte IPv4 packet, and an IPv6 packet of loopback's MTU (65536 unless
// changed), both longer than 65535 bytes with their link header.
TEST(PcapPacketSource, TheLargestDatagramsAreListedWhole) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    TPcapPacketSource source;
    TCaptureSession session(source);
    const auto sendLargest = [&](int family, const TUniqueFd& sender, const TUniqueFd& receiver, size_t size,
                                 const std::string& address) {
        SCOPED_TRACE(address);
        const std::string senderPort = std::to_string(test::LocalPort(sender.Get()));
        const uint16_t receiverPort = test::LocalPort(receiver.Get());
        ASSERT_TRUE(session.Start({"UDP", address, address, senderPort, std::to_string(receiverPort)}).Ok());
        const std::string payload(size, 'w');
        const sockaddr_in to4 = LoopbackAddress(receiverPort);
        const sockaddr_in6 to6 = Loopback6Address(receiverPort);
        const auto* to = family == AF_INET ? reinterpret_cast<const sockaddr*>(&to4)
                                           : reinterpret_cast<const sockaddr*>(&to6);
        const socklen_t toLength = family == AF_INET ? sizeof to4 : sizeof to6;
        ASSERT_EQ(sendto(sender.Get(), payload.data(), payload.size(), 0, to, toLength),
                  static_cast<ssize_t>(payload.size()))
            << std::strerror(errno);
        ListUntil(session, 1);
        ASSERT_EQ(session.RecordCount(), 1u);
        EXPECT_EQ(session.CellText(0, 5), std::to_string(size));
        EXPECT_EQ(session.TextDump(0).size(), size);  // one character per payload byte
        session.Stop();
    };
    sendLargest(AF_INET, test::UdpSocket(), test::UdpSocket(), 65535 - 20 - 8, "127.0.0.1");

    const TUniqueFd sender6 = Loopback6Socket(SOCK_DGRAM);
    const TUniqueFd receiver6 = Loopback6Socket(SOCK_DGRAM);
    if (!sender6.IsValid() || !receiver6.IsValid()) GTEST_SKIP() << "no IPv6 loopback here";
    const int mtu = LoopbackMtu();
    ASSERT_GT(mtu, 65535 - 40 - 8) << "loopback's MTU is lowered: its largest packets are not the largest there are";
    sendLargest(AF_INET6, sender6, receiver6, std::min(mtu, 40 + 65535) - 40 - 8, "::1");
}

// Whether interface `name` is running, waiting up to five seconds: the kernel
// marks a link running a moment after it is up (linkwatch), and only running
// interfaces are captured.
bool WaitRunning(const char* name) {
    const TUniqueFd fd(socket(AF_INET, SOCK_DGRAM, 0));
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (ioctl(fd.Get(), SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_RUNNING)) return true;
        usleep(50'000);
    }
    return false;
}

// In a network namespace of its own (its loopback down), with a veth pair to
// a second namespace and VLAN 42 on both ends, each end and each VLAN with an
// address: an echo over the VLAN leaves and arrives through the VLAN and
// through its parent, and is read once. Runs in a child process, since the
// namespace is entered for good; the exit code says how it went. Both
// namespaces, and the links in them, go with their last process.
constexpr int kVlanSkipped = 77;
int EchoOverVlanInNamespaces() {
    if (unshare(CLONE_NEWNET) != 0) return kVlanSkipped;
    int ready[2];
    if (pipe(ready) != 0) return 3;
    const pid_t peer = fork();
    if (peer < 0) return 3;
    if (peer == 0) {
        // The peer's namespace lives while this process does: until it is killed, or its parent ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (unshare(CLONE_NEWNET) != 0) _exit(1);
        (void)!write(ready[1], "x", 1);
        for (;;) pause();
    }
    const test::TChild peerProcess(peer);
    char byte = 0;
    close(ready[1]);
    if (read(ready[0], &byte, 1) != 1) return kVlanSkipped;
    const auto run = [](const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    };
    const std::string inPeer = "nsenter -t " + std::to_string(peer) + " -n ";
    if (!run("ip link add tw0 type veth peer name tw1 netns " + std::to_string(peer))) return kVlanSkipped;
    // Without the kernel's 802.1Q support (module 8021q) there are no VLAN interfaces.
    if (!run("ip link add link tw0 name tw0.42 type vlan id 42")) return kVlanSkipped;
    for (const char* command :
         {"ip link add link tw1 name tw1.42 type vlan id 42", "ip addr add 198.51.100.2/24 dev tw1",
          "ip addr add 203.0.113.2/24 dev tw1.42", "ip link set tw1 up", "ip link set tw1.42 up"}) {
        if (!run(inPeer + command)) return 3;
    }
    for (const char* command : {"ip addr add 198.51.100.1/24 dev tw0", "ip addr add 203.0.113.1/24 dev tw0.42",
                                "ip link set tw0 up", "ip link set tw0.42 up"}) {
        if (!run(command)) return 3;
    }
    if (!WaitRunning("tw0") || !WaitRunning("tw0.42")) return 3;

    TPcapPacketSource source;
    const auto opened = source.OpenCaptures([](const TFailure&) {});
    if (!opened || opened->empty()) return 4;
    const TPacketCaptures& captures = opened.Value();
    const TUniqueFd icmp(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    const uint16_t id = static_cast<uint16_t>(getpid() ^ 0x4242);
    const Bytes request = EchoRequest(id);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    inet_pton(AF_INET, "203.0.113.2", &to.sin_addr);
    if (sendto(icmp.Get(), request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
        static_cast<ssize_t>(request.size())) {
        return 5;
    }
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::seconds(3);
    int seen = 0;
    bool settling = false;
    while (Clock::now() < deadline) {
        std::vector<pollfd> watched;
        for (const auto& capture : captures) watched.push_back({capture->SelectableFd(), POLLIN, 0});
        if (poll(watched.data(), watched.size(), 50) <= 0) continue;
        for (const auto& capture : captures) {
            (void)capture->ReadPackets(
                [&](const uint8_t* bytes, size_t length, uint64_t) {
                    if (length >= 28 && bytes[9] == 1 && (bytes[24] << 8 | bytes[25]) == id) ++seen;
                },
                64);
        }
        if (!settling && seen >= 2) {
            settling = true;
            deadline = Clock::now() + std::chrono::milliseconds(300);
        }
    }
    return seen == 2 ? 0 : 10 + seen;
}

TEST(PcapPacketSource, APacketOverAVlanIsReadOnceThoughItsParentIsCapturedToo) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(EchoOverVlanInNamespaces());
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    if (code == kVlanSkipped) GTEST_SKIP() << "no network namespace, veth pair or VLAN interface can be made here";
    ASSERT_NE(code, 3) << "the interfaces could not be set up";
    ASSERT_NE(code, 4) << "no capture opened in the namespace";
    ASSERT_NE(code, 5) << "the echo request could not be sent";
    EXPECT_EQ(code, 0) << "the echo request and its reply were read " << code - 10 << " times in all, not twice";
}

TEST(PcapPacketSource, WithoutNetRawOpeningFailsNamingTheCapability) {
    SKIP_UNLESS_CAPTURE_ALLOWED();  // dropping it below needs it to begin with
    const TWithoutNetRaw withoutNetRaw;
    TPcapPacketSource source;
    std::vector<std::string> errors;
    const auto opened = source.OpenCaptures([&](const TFailure& error) { errors.push_back(error.Text()); });
    if (opened) {
        ADD_FAILURE() << "opened " << opened->size() << " captures without CAP_NET_RAW";
    } else {
        const std::string message = opened.Failure().Text();
        EXPECT_NE(message.find("CAP_NET_RAW"), std::string::npos) << message;
        EXPECT_NE(message.find("not permitted"), std::string::npos) << message;  // libpcap's own text
    }
    EXPECT_TRUE(errors.empty()) << errors.front();
}

// In a fresh network namespace only loopback exists, and it is down.
TEST(PcapPacketSource, WithNoUpInterfaceReportsItAndOpensNothing) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The namespace is the child's alone; exit codes carry the outcome.
        if (unshare(CLONE_NEWNET) != 0) _exit(2);
        std::vector<std::string> errors;
        TPcapPacketSource source;
        const auto opened = source.OpenCaptures([&](const TFailure& error) { errors.push_back(error.Text()); });
        const bool reported = errors == std::vector<std::string>{"no up interface with an IP address"};
        _exit(opened && opened->empty() && reported ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "no network namespace can be made here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace tarnwick
