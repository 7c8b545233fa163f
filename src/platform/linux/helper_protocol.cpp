#include "platform/linux/helper_protocol.h"

#include <algorithm>
#include <cstring>

namespace tarnwick {

namespace {

constexpr uint8_t kFamilyIpv4 = 4;
constexpr uint8_t kFamilyIpv6 = 6;
constexpr size_t kOwnerEntryFixedSize = 8 + 4 + 2;

// Offsets within a KillTcp body.
constexpr size_t kKillFamily = 0;
constexpr size_t kKillState = 1;
constexpr size_t kKillReserved = 2;
constexpr size_t kKillLocalAddr = 4;
constexpr size_t kKillRemoteAddr = 20;
constexpr size_t kKillLocalPort = 36;
constexpr size_t kKillRemotePort = 38;
constexpr size_t kKillInterface = 40;

void PutLe(std::vector<uint8_t>& out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t GetLe(const uint8_t* bytes, size_t count) {
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return value;
}

uint16_t GetBe16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

// A message's header, with room for `bodySize` more bytes.
std::vector<uint8_t> Header(uint8_t verb, THelperStatus status = THelperStatus::Ok, uint8_t flags = 0,
                            size_t bodySize = 0) {
    std::vector<uint8_t> message;
    message.reserve(kHelperHeaderSize + bodySize);
    for (const uint8_t byte : {kHelperProtocolVersion, verb, static_cast<uint8_t>(status), flags})
        message.push_back(byte);
    return message;
}

bool IsZero(const uint8_t* bytes, size_t count) {
    return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

// An address as the request carries it: 16 bytes in network order, an IPv4
// address in the first four and the rest zero, as TInetAddress holds it.
void PutAddress(uint8_t* out, const TInetAddress& address) {
    std::memcpy(out, address.Bytes().data(), address.Bytes().size());
}

TInetAddress AddressOf(const uint8_t* bytes, bool v6) {
    if (v6) {
        TIp6Address address;
        std::memcpy(address.data(), bytes, address.size());
        return TInetAddress::Ipv6(address);
    }
    return TInetAddress::Ipv4(bytes[0], bytes[1], bytes[2], bytes[3]);
}

// The state byte of a close request.
constexpr uint8_t kEstablishedByte = static_cast<uint8_t>(TTcpState::Established);

THelperRefusal Refuse(uint8_t verb, std::string reason) { return {verb, std::move(reason)}; }

std::variant<THelperRequest, THelperRefusal> ParseKill(std::span<const uint8_t> body) {
    const auto verb = static_cast<uint8_t>(THelperVerb::KillTcp);
    if (body.size() != kKillTcpBodySize) {
        return Refuse(verb, "a close request has " + std::to_string(kKillTcpBodySize) + " bytes after its header, not " +
                                std::to_string(body.size()));
    }
    const uint8_t* b = body.data();
    const uint8_t family = b[kKillFamily];
    if (family != kFamilyIpv4 && family != kFamilyIpv6)
        return Refuse(verb, "unknown address family " + std::to_string(family));
    if (!IsZero(b + kKillReserved, 2)) return Refuse(verb, "reserved bytes are not zero");
    if (b[kKillState] != kEstablishedByte) return Refuse(verb, "only established connections are closed");
    const bool v6 = family == kFamilyIpv6;
    const size_t addressSize = v6 ? 16 : 4;
    if (!v6 && (!IsZero(b + kKillLocalAddr + 4, 12) || !IsZero(b + kKillRemoteAddr + 4, 12)))
        return Refuse(verb, "an IPv4 address has bytes past its fourth");
    const uint32_t interface = static_cast<uint32_t>(GetLe(b + kKillInterface, 4));
    if (!v6 && interface != 0) return Refuse(verb, "an IPv4 connection is named without interface");
    const uint16_t localPort = GetBe16(b + kKillLocalPort);
    const uint16_t remotePort = GetBe16(b + kKillRemotePort);
    // A listener (or a socket merely bound) has no remote end, and a
    // wildcard local address: closing it is not closing a connection.
    if (IsZero(b + kKillLocalAddr, addressSize) || IsZero(b + kKillRemoteAddr, addressSize) || localPort == 0 ||
        remotePort == 0) {
        return Refuse(verb, "a listening or unconnected socket is not a connection");
    }

    THelperKillRequest request;
    TTcpRow& row = request.Row;
    row.State = TTcpState::Established;
    row.LocalAddr = AddressOf(b + kKillLocalAddr, v6);
    row.RemoteAddr = AddressOf(b + kKillRemoteAddr, v6);
    row.Interface = interface;
    row.LocalPort = localPort;
    row.RemotePort = remotePort;
    return THelperRequest{request};
}

std::variant<THelperRequest, THelperRefusal> ParseOwners(std::span<const uint8_t> body, bool moreFollows) {
    const auto verb = static_cast<uint8_t>(THelperVerb::SocketOwners);
    if (body.size() < 4) return Refuse(verb, "an owners request has no count");
    const uint64_t count = GetLe(body.data(), 4);
    if (count > kMaxOwnerInodesPerMessage) {
        return Refuse(verb, "a message of an owners request names more than " +
                                std::to_string(kMaxOwnerInodesPerMessage) + " sockets");
    }
    if (body.size() != 4 + count * 8)
        return Refuse(verb, "an owners request of " + std::to_string(count) + " sockets has " +
                                std::to_string(body.size()) + " bytes after its header");
    if (count == 0 && moreFollows) return Refuse(verb, "a message of an owners request of several names no socket");
    THelperOwnersRequest request;
    request.MoreFollows = moreFollows;
    request.Inodes.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint64_t inode = GetLe(body.data() + 4 + i * 8, 8);
        if (inode == 0) return Refuse(verb, "socket inode 0 names no socket");
        request.Inodes.push_back(inode);
    }
    return THelperRequest{std::move(request)};
}

std::variant<THelperRequest, THelperRefusal> ParseCapture(std::span<const uint8_t> body) {
    const auto verb = static_cast<uint8_t>(THelperVerb::OpenCapture);
    if (body.size() != kCaptureRequestBodySize) {
        return Refuse(verb, "a capture request has " + std::to_string(kCaptureRequestBodySize) +
                                " bytes after its header, not " + std::to_string(body.size()));
    }
    const auto index = static_cast<uint32_t>(GetLe(body.data(), 4));
    if (index == 0) return Refuse(verb, "interface index 0 names no interface");
    return THelperRequest{THelperCaptureRequest{index}};
}

std::string CutText(std::string_view text, size_t limit) {
    if (text.size() <= limit) return std::string(text);
    size_t end = limit;
    // Not inside a UTF-8 sequence: back up over continuation bytes.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

}  // namespace

std::variant<THelperRequest, THelperRefusal> ParseHelperRequest(std::span<const uint8_t> message) {
    if (message.size() < kHelperHeaderSize)
        return Refuse(message.size() >= 2 ? message[1] : 0, "a request is shorter than its header");
    const uint8_t verb = message[1];
    if (message[0] != kHelperProtocolVersion) {
        return Refuse(verb, "protocol version " + std::to_string(message[0]) + " is not this helper's (" +
                                std::to_string(kHelperProtocolVersion) + ")");
    }
    if (message[2] != 0) return Refuse(verb, "a request has a status set");
    const bool moreFollows = message[3] == kHelperMoreFollows;
    if (message[3] != 0 && !(moreFollows && verb == static_cast<uint8_t>(THelperVerb::SocketOwners)))
        return Refuse(verb, "a request has flags set that its kind does not take");
    const std::span<const uint8_t> body = message.subspan(kHelperHeaderSize);
    switch (static_cast<THelperVerb>(verb)) {
        case THelperVerb::KillTcp: return ParseKill(body);
        case THelperVerb::OpenCapture: return ParseCapture(body);
        case THelperVerb::SocketOwners: return ParseOwners(body, moreFollows);
        case THelperVerb::Hello:
        case THelperVerb::CaptureFrames: break;
    }
    return Refuse(verb, "unknown request " + std::to_string(verb));
}

std::optional<THelperRequestReader::TOutcome> THelperRequestReader::Add(std::span<const uint8_t> message,
                                                                       std::optional<std::string> refusedAs) {
    const auto verb = static_cast<uint8_t>(THelperVerb::SocketOwners);
    // Whether the request goes on is the header's to say, however the rest
    // reads: a broken request is thus dropped whole, up to its last message.
    const bool continues = message.size() >= kHelperHeaderSize && message[1] == verb &&
                           (message[3] & kHelperMoreFollows) != 0;
    TOutcome parsed = refusedAs ? TOutcome{THelperRefusal{message.size() >= 2 ? message[1] : uint8_t{0},
                                                          std::move(*refusedAs)}}
                                : ParseHelperRequest(message);
    const bool continued = Continuing_;
    Continuing_ = continues;
    if (!continued && !continues) return parsed;

    if (!Broken_) {
        auto* part = std::get_if<THelperOwnersRequest>(std::get_if<THelperRequest>(&parsed));
        if (const auto* refusal = std::get_if<THelperRefusal>(&parsed)) {
            Broken_ = refusal->Reason;
        } else if (part == nullptr) {
            Broken_ = "another request came before the last message of an owners request";
        } else if (part->Inodes.empty()) {
            Broken_ = "the last message of an owners request of several names no socket";
        } else if (part->Inodes.size() > MaxInodes_ - Gathered_.size()) {
            Broken_ = "an owners request names more than " + std::to_string(MaxInodes_) + " sockets";
        } else {
            Gathered_.insert(Gathered_.end(), part->Inodes.begin(), part->Inodes.end());
        }
        if (Broken_) std::vector<uint64_t>().swap(Gathered_);
    }
    if (continues) return std::nullopt;

    if (Broken_) {
        THelperRefusal refusal{verb, std::move(*Broken_)};
        Broken_.reset();
        return refusal;
    }
    THelperOwnersRequest whole;
    whole.Inodes.swap(Gathered_);
    return THelperRequest{std::move(whole)};
}

std::vector<uint8_t> EncodeKillRequest(const TTcpRow& row) {
    std::vector<uint8_t> message = Header(static_cast<uint8_t>(THelperVerb::KillTcp), THelperStatus::Ok, 0,
                                          kKillTcpBodySize);
    const size_t body = message.size();
    message.resize(body + kKillTcpBodySize, 0);
    uint8_t* b = message.data() + body;
    b[kKillFamily] = row.V6() ? kFamilyIpv6 : kFamilyIpv4;
    b[kKillState] = static_cast<uint8_t>(row.State);
    PutAddress(b + kKillLocalAddr, row.LocalAddr);
    PutAddress(b + kKillRemoteAddr, row.RemoteAddr);
    if (row.V6())
        for (int i = 0; i < 4; ++i) b[kKillInterface + i] = static_cast<uint8_t>(row.Interface >> (8 * i));
    const uint16_t localPort = row.LocalPort;
    const uint16_t remotePort = row.RemotePort;
    b[kKillLocalPort] = static_cast<uint8_t>(localPort >> 8);
    b[kKillLocalPort + 1] = static_cast<uint8_t>(localPort);
    b[kKillRemotePort] = static_cast<uint8_t>(remotePort >> 8);
    b[kKillRemotePort + 1] = static_cast<uint8_t>(remotePort);
    return message;
}

std::vector<uint8_t> EncodeCaptureRequest(uint32_t interfaceIndex) {
    std::vector<uint8_t> message =
        Header(static_cast<uint8_t>(THelperVerb::OpenCapture), THelperStatus::Ok, 0, kCaptureRequestBodySize);
    PutLe(message, interfaceIndex, 4);
    return message;
}

std::vector<std::vector<uint8_t>> EncodeOwnersRequest(std::span<const uint64_t> inodes) {
    const auto verb = static_cast<uint8_t>(THelperVerb::SocketOwners);
    std::vector<std::vector<uint8_t>> messages;
    size_t at = 0;
    do {
        const size_t count = std::min(inodes.size() - at, kMaxOwnerInodesPerMessage);
        const bool last = at + count == inodes.size();
        std::vector<uint8_t> message =
            Header(verb, THelperStatus::Ok, last ? uint8_t{0} : kHelperMoreFollows, 4 + count * 8);
        PutLe(message, count, 4);
        for (const uint64_t inode : inodes.subspan(at, count)) PutLe(message, inode, 8);
        messages.push_back(std::move(message));
        at += count;
    } while (at < inodes.size());
    return messages;
}

std::vector<uint8_t> EncodeHello(uint32_t abilities) {
    std::vector<uint8_t> message = Header(static_cast<uint8_t>(THelperVerb::Hello));
    PutLe(message, abilities, 4);
    return message;
}

std::vector<uint8_t> EncodeStatusReply(uint8_t verb, THelperStatus status, int error, std::string_view reason) {
    std::vector<uint8_t> message = Header(verb, status);
    if (status == THelperStatus::Ok) return message;
    PutLe(message, static_cast<uint32_t>(error), 4);
    const std::string text = CutText(reason, kMaxHelperTextSize);
    message.insert(message.end(), text.begin(), text.end());
    return message;
}

std::vector<std::vector<uint8_t>> EncodeOwnersReply(const std::vector<THelperOwner>& owners) {
    const auto verb = static_cast<uint8_t>(THelperVerb::SocketOwners);
    std::vector<std::vector<uint8_t>> messages;
    messages.push_back(Header(verb));
    for (const THelperOwner& owner : owners) {
        const std::string name = CutText(owner.Name, kMaxHelperNameSize);
        if (messages.back().size() + kOwnerEntryFixedSize + name.size() > kMaxOwnersReplySize) {
            messages.back()[3] = kHelperMoreFollows;
            messages.push_back(Header(verb));
        }
        std::vector<uint8_t>& message = messages.back();
        PutLe(message, owner.Inode, 8);
        PutLe(message, owner.Pid, 4);
        PutLe(message, name.size(), 2);
        message.insert(message.end(), name.begin(), name.end());
    }
    return messages;
}

TResult<THelperReply> ParseHelperReply(std::span<const uint8_t> message, THelperVerb verb) {
    if (message.size() < kHelperHeaderSize) return TFailure{0, "a reply shorter than its header"};
    if (message[0] != kHelperProtocolVersion) {
        return TFailure{0, "protocol version " + std::to_string(message[0]) + " instead of " +
                               std::to_string(kHelperProtocolVersion)};
    }
    if (message[1] != static_cast<uint8_t>(verb)) {
        return TFailure{0, "a reply of verb " + std::to_string(message[1]) + " to a request of verb " +
                               std::to_string(static_cast<int>(verb))};
    }
    THelperReply reply;
    reply.Verb = verb;
    reply.MoreFollows = (message[3] & kHelperMoreFollows) != 0;
    const std::span<const uint8_t> body = message.subspan(kHelperHeaderSize);
    switch (static_cast<THelperStatus>(message[2])) {
        case THelperStatus::Ok:
            reply.Status = THelperStatus::Ok;
            reply.Body = body;
            return reply;
        case THelperStatus::Failed:
        case THelperStatus::Refused:
            if (body.size() < 4 || body.size() > 4 + kMaxHelperTextSize || reply.MoreFollows)
                return TFailure{0, "a malformed failure reply"};
            reply.Status = static_cast<THelperStatus>(message[2]);
            reply.Error = static_cast<int>(GetLe(body.data(), 4));
            reply.Reason.assign(body.begin() + 4, body.end());
            return reply;
    }
    return TFailure{0, "a reply of status " + std::to_string(message[2])};
}

std::optional<uint32_t> ParseHelloBody(std::span<const uint8_t> body) {
    if (body.size() != 4) return std::nullopt;
    return static_cast<uint32_t>(GetLe(body.data(), 4));
}

bool ParseOwnersBody(std::span<const uint8_t> body, std::vector<THelperOwner>& owners) {
    size_t at = 0;
    while (at < body.size()) {
        if (body.size() - at < kOwnerEntryFixedSize) return false;
        THelperOwner owner;
        owner.Inode = GetLe(body.data() + at, 8);
        owner.Pid = static_cast<uint32_t>(GetLe(body.data() + at + 8, 4));
        const size_t nameSize = GetLe(body.data() + at + 12, 2);
        at += kOwnerEntryFixedSize;
        if (nameSize > kMaxHelperNameSize || body.size() - at < nameSize || owner.Inode == 0 || owner.Pid == 0)
            return false;
        owner.Name.assign(body.begin() + static_cast<std::ptrdiff_t>(at),
                          body.begin() + static_cast<std::ptrdiff_t>(at + nameSize));
        at += nameSize;
        owners.push_back(std::move(owner));
    }
    return true;
}

}  // namespace tarnwick
