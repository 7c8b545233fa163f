#include "platform/windows/raw_socket_packet_source.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <mstcpip.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "common/text_util.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_failure.h"
#include "platform/windows/winsock.h"

namespace tarnwick {

namespace {

constexpr size_t kMaxCaptures = 20;
// The largest IPv4 packet.
constexpr int kPacketBufferSize = 65535;
// Room for bursts between two reads.
constexpr int kReceiveBufferSize = 4 << 20;

class TRawSocketCapture final : public TPacketCapture {
public:
    TRawSocketCapture(std::string address, std::string interfaceName, TUniqueSocket socket)
        : Address_(std::move(address)), InterfaceName_(std::move(interfaceName)), Socket_(std::move(socket)),
          Buffer_(kPacketBufferSize) {}

    const std::string& LocalAddress() const override { return Address_; }
    const std::string& InterfaceName() const override { return InterfaceName_; }
    int SelectableFd() const override { return DescriptorOfSocket(Socket_.Get()); }

    TStatus ReadPackets(const TOnPacket& onPacket, int maxPackets) override {
        for (int n = 0; n < maxPackets; ++n) {
            const int got = ::recv(Socket_.Get(), reinterpret_cast<char*>(Buffer_.data()), kPacketBufferSize, 0);
            if (got == SOCKET_ERROR) {
                const int error = ::WSAGetLastError();
                // A packet larger than the buffer is cut; the parser sees what came.
                if (error == WSAEMSGSIZE) continue;
                if (error == WSAEWOULDBLOCK) return {};
                return FailureFromWin32(static_cast<uint32_t>(error), "reading the capture on " + Address_);
            }
            ++Received_;
            // Only IPv4 comes to these sockets; anything else is passed over.
            // A raw socket carries no time stamp of its own: the packet is
            // stamped when it is read, which a busy reader makes later.
            if (got > 0 && Buffer_[0] >> 4 == 4) onPacket(Buffer_.data(), static_cast<size_t>(got), NowNs());
        }
        return {};
    }

    // Windows counts no drops for a raw socket.
    TCaptureStats Stats() override { return {Received_, 0}; }

private:
    static uint64_t NowNs() {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count());
    }

    std::string Address_;
    std::string InterfaceName_;
    TUniqueSocket Socket_;
    std::vector<uint8_t> Buffer_;
    uint64_t Received_ = 0;
};

struct TLocalIpv4Address {
    in_addr Address;
    std::string InterfaceName;  // the adapter's friendly name ("Ethernet")
};

// The IPv4 addresses of the up interfaces but loopback, in the adapters' order.
TResult<std::vector<TLocalIpv4Address>> LocalIpv4Addresses() {
    std::vector<uint64_t> buffer(16 << 10);
    ULONG size = static_cast<ULONG>(buffer.size() * sizeof(uint64_t));
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG error = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && error == ERROR_BUFFER_OVERFLOW; ++attempt) {
        error = ::GetAdaptersAddresses(AF_INET, flags, nullptr,
                                       reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        if (error == ERROR_BUFFER_OVERFLOW) buffer.resize(size / sizeof(uint64_t) + 1);
    }
    std::vector<TLocalIpv4Address> addresses;
    if (error == ERROR_NO_DATA) return addresses;
    if (error != NO_ERROR) return FailureFromWin32(error, "listing the interfaces");
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            if (unicast->Address.lpSockaddr->sa_family != AF_INET) continue;
            addresses.push_back({reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr)->sin_addr,
                                 adapter->FriendlyName ? Utf8Text(adapter->FriendlyName) : std::string()});
        }
    }
    return addresses;
}

// A raw socket on `address` that receives every IPv4 packet of its interface.
TResult<TUniqueSocket> OpenRawSocket(const in_addr& address, const std::string& text) {
    TUniqueSocket raw(::WSASocketW(AF_INET, SOCK_RAW, IPPROTO_IP, nullptr, 0, WSA_FLAG_OVERLAPPED));
    if (!raw.IsValid()) return FailureFromLastSocketError("opening a raw socket on " + text);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_addr = address;
    if (::bind(raw.Get(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0)
        return FailureFromLastSocketError("binding the raw socket to " + text);
    const int bufferSize = kReceiveBufferSize;
    ::setsockopt(raw.Get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bufferSize), sizeof bufferSize);
    DWORD on = RCVALL_ON, returned = 0;
    if (::WSAIoctl(raw.Get(), SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr) != 0)
        return FailureFromLastSocketError("receiving all packets on " + text);
    u_long nonBlocking = 1;
    if (::ioctlsocket(raw.Get(), FIONBIO, &nonBlocking) != 0)
        return FailureFromLastSocketError("making the capture on " + text + " non-blocking");
    return raw;
}

}  // namespace

TResult<TPacketCaptures> TRawSocketPacketSource::OpenCaptures(const std::function<void(const TFailure&)>& onError) {
    if (const TStatus started = StartWinsock(); !started) return started.Failure();
    const TResult<std::vector<TLocalIpv4Address>> addresses = LocalIpv4Addresses();
    if (!addresses) return addresses.Failure();
    TPacketCaptures captures;
    for (const auto& [address, interfaceName] : *addresses) {
        if (captures.size() == kMaxCaptures) break;
        uint32_t field = 0;
        static_assert(sizeof field == sizeof address);
        std::memcpy(&field, &address, sizeof field);
        const std::string text = DottedText(field);
        TResult<TUniqueSocket> raw = OpenRawSocket(address, text);
        if (!raw) {
            // Without administrator rights no raw socket opens anywhere, nor
            // where the system has no raw sockets of this kind.
            const TFailure& failure = raw.Failure();
            if (captures.empty() && failure.Errno == EACCES)
                return TFailure{EACCES, "capturing on Windows needs administrator rights (raw sockets)",
                                failure.SystemText};
            if (captures.empty() && (failure.Errno == EPROTONOSUPPORT || failure.Errno == ENOTSUP ||
                                     failure.Errno == EAFNOSUPPORT))
                return TFailure{failure.Errno, "this system gives no raw IP sockets for capturing",
                                failure.SystemText};
            onError(failure);
            continue;
        }
        captures.push_back(std::make_unique<TRawSocketCapture>(text, interfaceName, std::move(*raw)));
    }
    return captures;
}

}  // namespace tarnwick
