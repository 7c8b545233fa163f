// What a member of the helper's group could try with the capture it is given:
//
//   capture_forger forge HELPER PORT   starts HELPER as the programs do (a
//       socket pair on descriptor 3), asks it for a capture of lo, and
//       writes a UDP datagram "from [::1]:53" to [::1]:PORT into the
//       descriptor it got, every way a socket takes one (sendto with a
//       link-layer address, send, write). Prints the descriptor's kind and
//       each attempt's outcome; exits 0 once it got a descriptor at all.
//   capture_forger hoard HELPER        asks one helper for captures of lo
//       until it refuses, keeping every one; prints how many it got and why
//       it stopped.
//   capture_forger listen PORT         listens on [::1]:PORT, prints "ready",
//       then each datagram on a line of its own until "sentinel" (exit 0),
//       or 10 s of silence (exit 2).
//   capture_forger send PORT TEXT      sends TEXT to [::1]:PORT.
//   capture_forger (no arguments, as the programs start a helper) a helper
//       that says it can capture and answers every capture request with a
//       UDP socket, which the programs must refuse.
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/helper_protocol.h"
#include "platform/linux/helper_server.h"

extern char** environ;

namespace {

using namespace tarnwick;

constexpr const char* kForged = "forged";

sockaddr_in6 Loopback6(int port) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(static_cast<uint16_t>(port));
    return address;
}

// An IPv6 packet ::1 port 53 -> ::1 port `port`, payload kForged, with its
// UDP checksum.
std::vector<uint8_t> ForgedPacket(int port) {
    const size_t payload = std::strlen(kForged);
    const size_t udpLength = 8 + payload;
    std::vector<uint8_t> packet(40 + udpLength, 0);
    packet[0] = 0x60;
    packet[4] = static_cast<uint8_t>(udpLength >> 8);
    packet[5] = static_cast<uint8_t>(udpLength);
    packet[6] = IPPROTO_UDP;
    packet[7] = 64;
    packet[8 + 15] = 1;   // source ::1
    packet[24 + 15] = 1;  // destination ::1
    uint8_t* udp = packet.data() + 40;
    udp[1] = 53;
    udp[2] = static_cast<uint8_t>(port >> 8);
    udp[3] = static_cast<uint8_t>(port);
    udp[4] = static_cast<uint8_t>(udpLength >> 8);
    udp[5] = static_cast<uint8_t>(udpLength);
    std::memcpy(udp + 8, kForged, payload);
    // The pseudo-header (addresses, length, next header) and the datagram.
    uint32_t sum = 2 + static_cast<uint32_t>(udpLength) + IPPROTO_UDP;
    for (size_t i = 0; i < udpLength; i += 2)
        sum += static_cast<uint32_t>(udp[i] << 8 | (i + 1 < udpLength ? udp[i + 1] : 0));
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    const uint16_t checksum = static_cast<uint16_t>(~sum) == 0 ? 0xFFFF : static_cast<uint16_t>(~sum);
    udp[6] = static_cast<uint8_t>(checksum >> 8);
    udp[7] = static_cast<uint8_t>(checksum);
    return packet;
}

void Say(const char* attempt, ssize_t result) {
    std::printf("%s: %s\n", attempt, result < 0 ? std::strerror(errno) : "sent");
    std::fflush(stdout);
}

// Starts `helper` as the programs do; its socket, after the hello, or -1.
int StartHelper(const char* helper) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) != 0) return std::perror("socketpair"), 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], kHelperSocketFd);
    char* const args[] = {const_cast<char*>("tarnwick-helper"), nullptr};
    pid_t child = -1;
    const int spawned = posix_spawn(&child, helper, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return std::printf("spawn: %s\n", std::strerror(spawned)), -1;
    close(ends[1]);
    std::vector<uint8_t> hello(kMaxHelperReplySize);
    if (recv(ends[0], hello.data(), hello.size(), 0) <= 0) return std::puts("no hello"), -1;
    return ends[0];
}

// Asks the helper on `socket` for a capture of lo: the descriptor it gives,
// or -1 with its errno in `error`.
int AskCapture(int socket, int& error) {
    std::vector<uint8_t> buffer(kMaxHelperReplySize);
    const std::vector<uint8_t> request = EncodeCaptureRequest(if_nametoindex("lo"));
    if (send(socket, request.data(), request.size(), 0) < 0) return std::perror("send"), -1;
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t received = recvmsg(socket, &header, 0);
    if (received <= 0) return std::puts("no reply"), -1;
    const auto reply = ParseHelperReply({buffer.data(), static_cast<size_t>(received)}, THelperVerb::OpenCapture);
    error = reply ? reply->Error : 0;
    const cmsghdr* rights = CMSG_FIRSTHDR(&header);
    if (rights == nullptr || rights->cmsg_type != SCM_RIGHTS) return -1;
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(rights), sizeof fd);
    return fd;
}

int Forge(const char* helper, int port) {
    const int socket = StartHelper(helper);
    if (socket < 0) return 1;
    int error = 0;
    const int fd = AskCapture(socket, error);
    if (fd < 0) return std::printf("no descriptor: %s\n", std::strerror(error)), 1;
    int domain = 0;
    int type = 0;
    socklen_t length = sizeof domain;
    getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length);
    length = sizeof type;
    getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
    std::printf("descriptor: domain %d type %d\n", domain, type);

    const std::vector<uint8_t> packet = ForgedPacket(port);
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_IPV6);
    link.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    Say("sendto link address",
        sendto(fd, packet.data(), packet.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&link), sizeof link));
    Say("send", send(fd, packet.data(), packet.size(), MSG_NOSIGNAL));
    Say("write", write(fd, packet.data(), packet.size()));
    return 0;
}

// Asks one helper for captures until it refuses; prints how many it gave
// and why it stopped.
int Hoard(const char* helper) {
    const int socket = StartHelper(helper);
    if (socket < 0) return 1;
    int error = 0;
    int captures = 0;
    while (captures < 1000 && AskCapture(socket, error) >= 0) ++captures;
    std::printf("%d captures, then: %s\n", captures, std::strerror(error));
    return 0;
}

int Listen(int port) {
    const int fd = socket(AF_INET6, SOCK_DGRAM, 0);
    const sockaddr_in6 address = Loopback6(port);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return std::perror("listen"), 1;
    timeval patience{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    std::puts("ready");
    std::fflush(stdout);
    char datagram[2048];
    for (;;) {
        const ssize_t received = recv(fd, datagram, sizeof datagram, 0);
        if (received < 0) return 2;
        const std::string text(datagram, static_cast<size_t>(received));
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        if (text == "sentinel") return 0;
    }
}

int Send(int port, const char* text) {
    const int fd = socket(AF_INET6, SOCK_DGRAM, 0);
    const sockaddr_in6 address = Loopback6(port);
    return sendto(fd, text, std::strlen(text), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0;
}

int ServeUdpSockets() {
    if (!SendHelperMessage(kHelperSocketFd, EncodeHello(kHelperCanCapture))) return 1;
    std::vector<uint8_t> request(kMaxHelperRequestSize);
    while (recv(kHelperSocketFd, request.data(), request.size(), 0) > 0) {
        const std::vector<uint8_t> reply = EncodeStatusReply(static_cast<uint8_t>(THelperVerb::OpenCapture),
                                                             THelperStatus::Ok);
        const int udp = socket(AF_INET6, SOCK_DGRAM, 0);
        const bool sent = SendHelperMessage(kHelperSocketFd, reply, udp);
        close(udp);
        if (!sent) return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) return ServeUdpSockets();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "forge" && argc == 4) return Forge(argv[2], std::atoi(argv[3]));
    if (mode == "hoard" && argc == 3) return Hoard(argv[2]);
    if (mode == "listen" && argc == 3) return Listen(std::atoi(argv[2]));
    if (mode == "send" && argc == 4) return Send(std::atoi(argv[2]), argv[3]);
    std::fprintf(stderr, "usage: capture_forger forge HELPER PORT | hoard HELPER | listen PORT | send PORT TEXT\n");
    return 2;
}
