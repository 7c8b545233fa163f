#include "platform/linux/pcap_packet_source.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <string_view>

#include "platform/linux/capture_socket_filter.h"
#include "platform/linux/link_header.h"

namespace tarnwick {

namespace {

// Whole packets: the largest IP packet of either family behind the longest
// link header it can arrive with. The snapshot length counts the link header
// too, so the largest IP packet alone (65535) would cut the last bytes of a
// full-size IPv4 packet. In block mode a packet takes only its own length in
// the ring, so the margin costs no buffer space.
constexpr int kSnapshotLength = static_cast<int>(kLargestIpPacketSize + kLongestLinkHeaderSize);
constexpr int kBlockTimeoutMs = 10;
// The packet source never opens more captures than this.
constexpr size_t kMaxInterfaces = 20;

// libpcap's link-type numbers (pcap/dlt.h; DLT_RAW and DLT_LOOP differ on
// OpenBSD, which the macros take care of) for the link headers we strip.
std::optional<TLinkType> LinkTypeOf(int dlt) {
    switch (dlt) {
        case DLT_EN10MB: return TLinkType::Ethernet;
        case DLT_NULL: return TLinkType::Null;
        case DLT_LOOP: return TLinkType::Loop;
        case DLT_LINUX_SLL: return TLinkType::LinuxSll;
        case DLT_LINUX_SLL2: return TLinkType::LinuxSll2;
        case DLT_RAW: return TLinkType::Raw;
        case DLT_IPV4: return TLinkType::Ipv4;
        case DLT_IPV6: return TLinkType::Ipv6;
        default: return std::nullopt;
    }
}

struct TPcapCloser {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};
using TPcapPtr = std::unique_ptr<pcap_t, TPcapCloser>;

struct TCandidate {
    std::string Name;
    std::string Address;
    unsigned Index = 0;
    bool Loopback = false;
};

struct TDevicesFreer {
    void operator()(pcap_if_t* devices) const { pcap_freealldevs(devices); }
};
using TDevicesPtr = std::unique_ptr<pcap_if_t, TDevicesFreer>;

class TPcapCapture final : public TPacketCapture {
public:
    TPcapCapture(TPcapPtr handle, const TCandidate& where, TLinkType linkType, int fd)
        : Handle_(std::move(handle)),
          LocalAddress_(where.Address),
          Name_(where.Name),
          LinkType_(linkType),
          Fd_(fd),
          TimeUnitNs_(pcap_get_tstamp_precision(Handle_.get()) == PCAP_TSTAMP_PRECISION_NANO ? 1 : 1000) {}

    const std::string& LocalAddress() const override { return LocalAddress_; }
    const std::string& InterfaceName() const override { return Name_; }
    int SelectableFd() const override { return Fd_; }

    TStatus ReadPackets(const TOnPacket& onPacket, int maxPackets) override {
        // pcap_dispatch reads everything buffered for a count of 0 or less;
        // "at most maxPackets" then means none.
        if (maxPackets <= 0) return {};
        TDispatch dispatch{this, &onPacket, nullptr};
        const int result = pcap_dispatch(Handle_.get(), maxPackets, &TPcapCapture::OnFrame,
                                         reinterpret_cast<u_char*>(&dispatch));
        // An exception of the caller's must not unwind through libpcap's C
        // frames: the callback keeps it and stops the loop, and it goes on
        // from here.
        if (dispatch.Failure) std::rethrow_exception(dispatch.Failure);
        if (result == PCAP_ERROR) return TFailure{0, pcap_geterr(Handle_.get())};
        return {};
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
        const TOnPacket* OnPacket;
        std::exception_ptr Failure;
    };

    static void OnFrame(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
        auto* dispatch = reinterpret_cast<TDispatch*>(user);
        if (dispatch->Failure) return;
        const auto payload = StripLinkHeader(dispatch->Capture->LinkType_, bytes, header->caplen);
        if (!payload) return;
        // tv_usec holds nanoseconds when the handle was set to nanosecond precision.
        const uint64_t timeNs = static_cast<uint64_t>(header->ts.tv_sec) * 1'000'000'000u +
                                static_cast<uint64_t>(header->ts.tv_usec) * dispatch->Capture->TimeUnitNs_;
        try {
            (*dispatch->OnPacket)(bytes + payload->first, payload->second, timeNs);
        } catch (...) {
            dispatch->Failure = std::current_exception();
            pcap_breakloop(dispatch->Capture->Handle_.get());
        }
    }

    TPcapPtr Handle_;
    std::string LocalAddress_;
    std::string Name_;
    TLinkType LinkType_;
    int Fd_;
    uint64_t TimeUnitNs_;  // of a time stamp's fraction of a second
    TCaptureStats LastStats_;
};

// Up and running interfaces with an address (see CandidateAddressText), by
// interface index (the order the kernel created them in, loopback first). An
// interface is named by its first IPv4 address, or when it has none by its
// first IPv6 one.
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
        if (named)
            candidates.push_back({device->name, *named, if_nametoindex(device->name),
                                  (device->flags & PCAP_IF_LOOPBACK) != 0});
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const TCandidate& a, const TCandidate& b) {
        return a.Index != b.Index ? a.Index < b.Index : a.Name < b.Name;
    });
    return candidates;
}

struct TMnlSocketCloser {
    void operator()(mnl_socket* socket) const { mnl_socket_close(socket); }
};
using TMnlSocketPtr = std::unique_ptr<mnl_socket, TMnlSocketCloser>;

// Replies of a link dump come in datagrams of up to 32 KiB (the kernel sizes
// dump buffers after the largest read seen, capped near 32 KiB in
// net/netlink/af_netlink.c); a shorter buffer would truncate them.
constexpr size_t kLinkDumpBufferSize = 64 * 1024;

// What one RTM_NEWLINK message of the dump says of its interface.
struct TLinkAttributes {
    uint32_t Parent = 0;     // IFLA_LINK
    bool Vlan = false;       // IFLA_INFO_KIND "vlan"
    bool Elsewhere = false;  // IFLA_LINK_NETNSID: the parent is in another namespace
};

int OnLinkInfoAttribute(const nlattr* attribute, void* data) {
    if (mnl_attr_get_type(attribute) == IFLA_INFO_KIND && mnl_attr_validate(attribute, MNL_TYPE_STRING) == 0 &&
        std::string_view(mnl_attr_get_str(attribute)) == "vlan") {
        static_cast<TLinkAttributes*>(data)->Vlan = true;
    }
    return MNL_CB_OK;
}

int OnLinkAttribute(const nlattr* attribute, void* data) {
    auto& link = *static_cast<TLinkAttributes*>(data);
    switch (mnl_attr_get_type(attribute)) {
        case IFLA_LINK:
            if (mnl_attr_validate(attribute, MNL_TYPE_U32) == 0) link.Parent = mnl_attr_get_u32(attribute);
            break;
        case IFLA_LINK_NETNSID:
            link.Elsewhere = true;
            break;
        case IFLA_LINKINFO:
            if (mnl_attr_validate(attribute, MNL_TYPE_NESTED) == 0)
                mnl_attr_parse_nested(attribute, OnLinkInfoAttribute, &link);
            break;
        default:
            break;
    }
    return MNL_CB_OK;
}

// A VLAN interface names the interface it is stacked on in IFLA_LINK, unless
// that one lives in another network namespace, where its index means nothing
// here.
int OnLinkMessage(const nlmsghdr* message, void* data) {
    if (mnl_nlmsg_get_payload_len(message) < sizeof(ifinfomsg)) return MNL_CB_OK;
    ifinfomsg info{};
    std::memcpy(&info, mnl_nlmsg_get_payload(message), sizeof info);
    TLinkAttributes link;
    mnl_attr_parse(message, sizeof(ifinfomsg), OnLinkAttribute, &link);
    if (link.Vlan && link.Parent != 0 && !link.Elsewhere && info.ifi_index > 0) {
        (*static_cast<TVlanParents*>(data))[static_cast<unsigned>(info.ifi_index)] = link.Parent;
    }
    return MNL_CB_OK;
}

bool IsPermissionText(std::string_view text) {
    return text.find("ermission") != std::string_view::npos ||
           text.find("Operation not permitted") != std::string_view::npos;
}

// The kernel filter (AttachCaptureFilter) spares us copying other protocols
// and, on loopback, the leaving copy of each packet; StripLinkHeader decides
// what is passed on. It goes onto libpcap's socket directly: libpcap's own
// "inbound" on loopback lost arriving packets here (about 0.7 % at 50,000
// a second, tcpdump alike). Where the kernel refuses it, libpcap's filter
// does the first part, and libpcap drops the leaving copies on "lo" itself.
// On Ethernet, tagged frames are let through as well, since a frame with a
// second tag still inline has no IP EtherType where "ip" and "ip6" look; the
// packets of a VLAN left out for its parent (IsSeenOnParent) come this way.
void SetIpFilter(pcap_t* handle, int linkType, bool loopback) {
    if (AttachCaptureFilter(pcap_get_selectable_fd(handle), loopback)) return;
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
    // the interface's MTU, so on loopback (MTU 65536) the buffer holds only
    // a hundred-odd packets and any pause of a few milliseconds drops packets. In
    // block mode small packets are packed, and a block is handed over when
    // full or after kBlockTimeoutMs, which is shorter than a frame of the
    // window's list updates.
    pcap_set_immediate_mode(pcap, 0);
    pcap_set_timeout(pcap, kBlockTimeoutMs);
    pcap_set_buffer_size(pcap, static_cast<int>(kCaptureBufferSize));
    // The kernel's time stamps to the nanosecond, as recordings keep them;
    // where libpcap cannot, they stay in microseconds.
    pcap_set_tstamp_precision(pcap, PCAP_TSTAMP_PRECISION_NANO);

    // Positive results are warnings (PCAP_WARNING_*): the handle works.
    const int activated = pcap_activate(pcap);
    if (activated < 0) {
        failure.Message = pcap_geterr(pcap);
        if (failure.Message.empty()) failure.Message = pcap_statustostr(activated);
        failure.PermissionDenied = activated == PCAP_ERROR_PERM_DENIED || IsPermissionText(failure.Message);
        return nullptr;
    }
    const int linkType = pcap_datalink(pcap);
    const std::optional<TLinkType> link = LinkTypeOf(linkType);
    if (!link) {
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
    SetIpFilter(pcap, linkType, candidate.Loopback);
    return std::make_unique<TPcapCapture>(std::move(handle), candidate, *link, fd);
}

}  // namespace

bool IsSupportedLinkType(int linkType) { return LinkTypeOf(linkType).has_value(); }

std::optional<std::pair<size_t, size_t>> IpPayloadOf(int linkType, const uint8_t* frame, size_t length) {
    const std::optional<TLinkType> link = LinkTypeOf(linkType);
    if (!link) return std::nullopt;
    return StripLinkHeader(*link, frame, length);
}

TVlanParents ReadVlanParents() {
    TMnlSocketPtr socket(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
    if (!socket || mnl_socket_bind(socket.get(), 0, MNL_SOCKET_AUTOPID) < 0) return {};
    std::vector<char> buffer(kLinkDumpBufferSize);
    nlmsghdr* request = mnl_nlmsg_put_header(buffer.data());
    request->nlmsg_type = RTM_GETLINK;
    request->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request->nlmsg_seq = 1;
    auto* info = static_cast<ifinfomsg*>(mnl_nlmsg_put_extra_header(request, sizeof(ifinfomsg)));
    info->ifi_family = AF_UNSPEC;
    // The counters are not wanted; without them every message is smaller.
    mnl_attr_put_u32(request, IFLA_EXT_MASK, RTEXT_FILTER_SKIP_STATS);
    while (mnl_socket_sendto(socket.get(), request, request->nlmsg_len) < 0) {
        if (errno != EINTR) return {};
    }
    const uint32_t sequence = request->nlmsg_seq;
    const uint32_t portId = mnl_socket_get_portid(socket.get());
    TVlanParents parents;
    for (;;) {
        const ssize_t received = mnl_socket_recvfrom(socket.get(), buffer.data(), buffer.size());
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) return {};
        const int status =
            mnl_cb_run(buffer.data(), static_cast<size_t>(received), sequence, portId, OnLinkMessage, &parents);
        if (status == MNL_CB_STOP) return parents;  // NLMSG_DONE
        if (status < 0) return {};
    }
}

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

bool IsSeenOnParent(unsigned index, const std::set<unsigned>& captured, const TVlanParents& vlanParents) {
    // Each step goes one VLAN down the stack; the bound only guards against a
    // loop the kernel would never report.
    for (size_t step = 0; step <= vlanParents.size(); ++step) {
        const auto parent = vlanParents.find(index);
        if (parent == vlanParents.end()) return false;
        index = parent->second;
        if (captured.contains(index)) return true;
    }
    return false;
}

TResult<TPacketCaptures> TPcapPacketSource::OpenCaptures(const std::function<void(const TFailure&)>& onError) {
    char errorBuffer[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* rawDevices = nullptr;
    if (pcap_findalldevs(&rawDevices, errorBuffer) != 0)
        return TFailure{0, std::string("cannot list the network interfaces: ") + errorBuffer};
    const TDevicesPtr devices(rawDevices);
    const std::vector<TCandidate> candidates = ListCandidates(devices.get());

    TPacketCaptures captures;
    if (candidates.empty()) {
        onError(TFailure{0, "no up interface with an IP address"});
        return captures;
    }
    const TVlanParents vlanParents = ReadVlanParents();
    // Failures are reported after the loop: when all of them are for want of
    // privilege, the failure returned alone says so, once.
    std::vector<TFailure> errors;
    size_t attempts = 0;
    size_t permissionFailures = 0;
    std::string firstPermissionText;
    // Index order opens a VLAN's parent before the VLAN (the kernel numbers
    // interfaces as they are made, and a VLAN needs its parent first), so a
    // VLAN is left out only when its parent's capture did open, and one whose
    // parent failed is captured itself.
    std::set<unsigned> opened;
    for (const TCandidate& candidate : candidates) {
        if (attempts == kMaxInterfaces) break;
        if (IsSeenOnParent(candidate.Index, opened, vlanParents)) continue;
        ++attempts;
        TOpenFailure failure;
        if (auto capture = OpenCapture(candidate, failure)) {
            captures.push_back(std::move(capture));
            opened.insert(candidate.Index);
            continue;
        }
        if (failure.PermissionDenied && permissionFailures++ == 0) firstPermissionText = failure.Message;
        errors.push_back(
            TFailure{0, "cannot capture on " + candidate.Name + " (" + candidate.Address + "): " + failure.Message});
    }
    if (permissionFailures == attempts) {
        return TFailure{0, "cannot capture packets: " + firstPermissionText +
                               " (capturing needs the CAP_NET_RAW capability: run as root, or grant it "
                               "with setcap cap_net_raw+ep on the program)"};
    }
    for (const TFailure& error : errors) onError(error);
    return captures;
}

}  // namespace tarnwick
