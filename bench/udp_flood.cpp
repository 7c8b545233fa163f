// tarnwick-udp-flood RATE SECONDS [PORT]: sends UDP datagrams with a 64-byte
// payload from 127.0.0.1 to 127.0.0.1:PORT (default 47000) at RATE datagrams
// per second for SECONDS seconds, paced on a steady clock in small sendmmsg
// batches. A receiving socket bound to the port is drained by a second thread,
// so the kernel answers no datagram with an ICMP port-unreachable (which the
// captures would list too).
//
// Prints on stdout: "sent N drained M seconds S" (S: the sending time actually
// taken). Exits 1 on bad arguments or when a socket cannot be set up.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kPayload = 64;
constexpr int kMaxBatch = 64;
constexpr int kDrainBatch = 256;

[[noreturn]] void Die(const char* what) {
    std::fprintf(stderr, "tarnwick-udp-flood: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

bool ParsePositive(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value > 0;
}

}  // namespace

int main(int argc, char** argv) {
    double rate = 0, seconds = 0, portValue = 47000;
    if (argc < 3 || argc > 4 || !ParsePositive(argv[1], rate) || !ParsePositive(argv[2], seconds) ||
        (argc == 4 && (!ParsePositive(argv[3], portValue) || portValue > 65535))) {
        std::fprintf(stderr, "usage: tarnwick-udp-flood RATE SECONDS [PORT]\n");
        return 1;
    }
    const auto port = static_cast<uint16_t>(portValue);

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    // The receiver: a large buffer, drained until the sender is done.
    const int receiver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (receiver < 0) Die("socket");
    int bufferBytes = 8 << 20;
    if (::setsockopt(receiver, SOL_SOCKET, SO_RCVBUFFORCE, &bufferBytes, sizeof bufferBytes) != 0)
        ::setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    if (::bind(receiver, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) Die("bind");

    std::atomic<bool> sending{true};
    std::atomic<long long> drained{0};
    std::thread drainer([&] {
        std::vector<std::array<char, 2048>> buffers(kDrainBatch);
        std::vector<iovec> iovs(kDrainBatch);
        std::vector<mmsghdr> messages(kDrainBatch);
        for (int i = 0; i < kDrainBatch; ++i) {
            iovs[i] = {buffers[i].data(), buffers[i].size()};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &iovs[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        // After the sender ends, whatever is still queued is taken too.
        for (;;) {
            pollfd p{receiver, POLLIN, 0};
            const int ready = ::poll(&p, 1, 20);
            if (ready == 0) {
                if (!sending.load()) break;
                continue;
            }
            if (ready < 0 && errno != EINTR) break;
            const int got = ::recvmmsg(receiver, messages.data(), kDrainBatch, MSG_DONTWAIT, nullptr);
            if (got > 0) drained += got;
        }
    });

    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sender < 0) Die("socket");
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(sender, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) Die("bind sender");
    if (::connect(sender, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) Die("connect");

    std::array<char, kPayload> payload{};
    for (int i = 0; i < kPayload; ++i) payload[i] = static_cast<char>('A' + i % 26);
    std::vector<iovec> iovs(kMaxBatch, iovec{payload.data(), payload.size()});
    std::vector<mmsghdr> messages(kMaxBatch);
    for (int i = 0; i < kMaxBatch; ++i) {
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &iovs[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }

    // Batches of about a millisecond's worth (1..64), sent whenever the clock
    // says they are due; the total due at time t is rate * t, so a late batch
    // is made up by the next ones instead of lowering the rate.
    const long long total = static_cast<long long>(rate * seconds);
    const int batch = std::clamp(static_cast<int>(rate / 1000), 1, kMaxBatch);
    const auto start = std::chrono::steady_clock::now();
    long long sent = 0, failed = 0;
    while (sent < total) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long long due = std::min(total, static_cast<long long>(rate * elapsed));
        if (due - sent <= 0) {
            const auto next = start + std::chrono::duration<double>(static_cast<double>(sent + batch) / rate);
            std::this_thread::sleep_until(std::chrono::time_point_cast<std::chrono::steady_clock::duration>(next));
            continue;
        }
        const int n = static_cast<int>(std::min<long long>(due - sent, kMaxBatch));
        const int done = ::sendmmsg(sender, messages.data(), n, 0);
        if (done < 0) {
            if (errno == EINTR) continue;
            // ENOBUFS/EAGAIN under pressure: count it and move on, the rate
            // is what was asked for, not what got through.
            ++failed;
            if (failed > 1000000) Die("sendmmsg");
            std::this_thread::yield();
            continue;
        }
        sent += done;
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sending = false;
    drainer.join();
    ::close(sender);
    ::close(receiver);
    std::printf("sent %lld drained %lld seconds %.3f\n", sent, drained.load(), took);
    if (failed > 0) std::fprintf(stderr, "tarnwick-udp-flood: %lld sendmmsg calls failed\n", failed);
    return 0;
}
