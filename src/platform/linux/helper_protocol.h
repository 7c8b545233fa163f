// The protocol between tarnwick-helper and the programs that start it.
//
// The program makes an AF_UNIX SOCK_SEQPACKET socket pair and starts the
// helper with its end as descriptor 3 (kHelperSocketFd). Every message is one
// packet, so a message arrives whole or not at all; each request (one
// message, or several for SocketOwners) is answered before the next is read.
//
// Every message starts with a four-byte header:
//
//   byte 0  protocol version, kHelperProtocolVersion
//   byte 1  verb (THelperVerb); a reply carries its request's verb
//   byte 2  status (THelperStatus); 0 in a request
//   byte 3  flags: kHelperMoreFollows in a message that the next one
//           continues (a SocketOwners request or reply of several
//           messages); no other flag is defined
//
// Integers are little-endian unless said otherwise; addresses and ports are in
// network order, as on the wire.
//
// Hello (helper to program, once, before any request):
//   body: u32 abilities, kHelperCan* bits: which capabilities the helper holds
//
// KillTcp (request): closes one established TCP connection by its ends.
//   body, 44 bytes: u8 family (4 or 6), u8 state (TTcpState::Established, 5;
//   anything else is refused), u16 zero,
//   16 bytes local address, 16 bytes remote address (an IPv4 address in the
//   first 4 bytes, the rest zero), u16 local port (network order), u16 remote
//   port (network order), u32 interface index (IPv6 only, 0 for IPv4).
//   Both ends must be complete: a listener's end (address or port zero) is
//   refused, as it names no connection.
//   reply: Ok, empty body.
//
// OpenCapture (request): a capture of one interface, read by the helper.
//   body, 4 bytes: u32 interface index (not 0).
//   The helper opens a packet socket (AF_PACKET, SOCK_DGRAM) itself, gives it
//   the capture filter (AttachCaptureFilter; on loopback, which the helper
//   tells by the interface's own flags, without the leaving copies) and a
//   TPACKET_V3 ring, and binds it to the interface. It then makes a new
//   AF_UNIX SOCK_SEQPACKET socket pair and forks a forwarder, which reads the
//   ring and sends the frames over its end (the capture stream, below) until
//   the program closes the other.
//   reply: Ok, empty body, with the program's end of that pair as one
//   SCM_RIGHTS descriptor. The program never holds the packet socket: a
//   packet socket can send as well as receive, and whoever holds one can
//   put any frame on the interface. The forwarder never reads its end (it
//   is shut down for reading), so nothing the program writes goes anywhere.
//   Failed: no such interface (ENODEV), the system refused the socket
//   (EPERM: the helper lacks CAP_NET_RAW), or this helper runs as many
//   captures as it may at once (EBUSY; TLinuxHelperActions says how many).
//
// The capture stream (forwarder to program, one message per batch, at most
// kMaxCaptureBatchSize bytes): the frames of one ring block, or as many of
// them as fit, sent as the kernel hands the block over (when full, or after
// 10 ms). The forwarder sends with a blocking send: a program that reads
// slowly leaves the frames in the ring (8 MiB), and what the kernel cannot
// put there it counts as dropped. Every message is a batch:
//   header: verb CaptureFrames, status Ok, no flags
//   u64 received, u64 dropped: the kernel's counters of the socket
//   (PACKET_STATISTICS; received counts the dropped too) since the capture
//   began, as they stood when the batch was made; they never go down
//   u32 frame count, then that many frames, each:
//     u64 time stamp (nanoseconds since the epoch), u32 length on the wire,
//     u32 captured length (at most the length on the wire), u32 interface
//     index, u16 link protocol (the EtherType of sll_protocol, in host
//     order: 0x0800 IPv4, 0x86DD IPv6, or a VLAN tag's, the tag then
//     leading the data), u16 zero, then the captured bytes, from the network
//     header on (the link header is taken off by the kernel)
//   and nothing after the last frame. A batch of no frames carries only the
//   counters: the forwarder sends one now and then when they changed and no
//   frame came.
//
// SocketOwners (request): which process holds each socket.
//   body: u32 count (at most kMaxOwnerInodesPerMessage), then count u64
//   socket inode numbers (none 0). One message with a count of 0 asks for
//   every socket. More sockets than one message holds are asked for in
//   several messages, all but the last flagged kHelperMoreFollows, each
//   naming at least one socket, at most kMaxOwnerInodes in all (8 MB held
//   by the helper). The helper answers once, after the last message; a
//   request that breaks these rules anywhere (a malformed message, too many
//   sockets, a message of another kind before the last) is refused as a
//   whole with one Refused reply (verb SocketOwners), and nothing of it is
//   kept. A message of
//   another kind before the last is part of the broken request, not a
//   request of its own.
//   reply: Ok, one or more messages (all but the last flagged
//   kHelperMoreFollows), each at most kMaxOwnersReplySize bytes, their bodies
//   a run of entries: u64 inode, u32 pid (the lowest of the holders'), u16
//   name length (at most kMaxHelperNameSize), the process name (its
//   executable's file name, else its command name). The entries name only
//   sockets asked for (any, for every socket), each once, by ascending
//   inode; a message flagged kHelperMoreFollows holds at least one. Failed
//   and Refused replies are whole replies, never part of one.
//
// Failed and Refused replies, to any request: u32 errno (0 for none), then
// the reason as text (at most kMaxHelperTextSize bytes). Failed: the system
// did not do it; Refused: the request was malformed or is not allowed, and
// nothing was tried. A refusal of a message too short to name a verb carries
// verb 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/result.h"
#include "platform/ip_tables.h"

namespace tarnwick {

inline constexpr int kHelperSocketFd = 3;
// 2: SocketOwners requests of several messages.
// 3: OpenCapture names an interface and is answered with a capture stream,
//    no longer with a packet socket.
inline constexpr uint8_t kHelperProtocolVersion = 3;
inline constexpr size_t kHelperHeaderSize = 4;

enum class THelperVerb : uint8_t {
    Hello = 0x01,
    KillTcp = 0x10,
    OpenCapture = 0x11,
    SocketOwners = 0x12,
    // Only on a capture stream, never on descriptor 3.
    CaptureFrames = 0x20,
};

enum class THelperStatus : uint8_t {
    Ok = 0,
    Failed = 1,
    Refused = 2,
};

inline constexpr uint8_t kHelperMoreFollows = 0x01;

// Abilities announced in the hello.
inline constexpr uint32_t kHelperCanKill = 0x1;          // holds CAP_NET_ADMIN
inline constexpr uint32_t kHelperCanCapture = 0x2;       // holds CAP_NET_RAW
inline constexpr uint32_t kHelperCanReadOwners = 0x4;    // holds CAP_DAC_READ_SEARCH and CAP_SYS_PTRACE

inline constexpr size_t kKillTcpBodySize = 44;
inline constexpr size_t kCaptureRequestBodySize = 4;
// A batch holds at least one frame of the largest size a capture takes (a
// 64 KiB loopback packet behind VLAN tags), and all the frames of a ring
// block of small packets.
inline constexpr size_t kMaxCaptureBatchSize = 160 * 1024;
// A SocketOwners request: the sockets of one message, and of all of them.
inline constexpr size_t kMaxOwnerInodesPerMessage = 4096;
inline constexpr size_t kMaxOwnerInodes = 1'000'000;
inline constexpr size_t kMaxHelperRequestSize = kHelperHeaderSize + 4 + kMaxOwnerInodesPerMessage * 8;
inline constexpr size_t kMaxOwnersReplySize = 32 * 1024;
inline constexpr size_t kMaxHelperNameSize = 260;
inline constexpr size_t kMaxHelperTextSize = 1024;
// No reply is longer than this.
inline constexpr size_t kMaxHelperReplySize = kMaxOwnersReplySize;

struct THelperKillRequest {
    TTcpRow Row;  // State, ends and, for IPv6, Interface; no process
};
struct THelperCaptureRequest {
    uint32_t InterfaceIndex = 0;
};
struct THelperOwnersRequest {
    std::vector<uint64_t> Inodes;  // empty: every socket
    // A message that the next one continues (as ParseHelperRequest reads
    // one); THelperRequestReader hands on whole requests only.
    bool MoreFollows = false;
};
using THelperRequest = std::variant<THelperKillRequest, THelperCaptureRequest, THelperOwnersRequest>;

// Why a request is not served: the verb to answer with and the reason.
struct THelperRefusal {
    uint8_t Verb = 0;
    std::string Reason;
};

// Reads one request message. Everything is checked: the header, the verb,
// the exact length of the body, every field's range; a request that is
// well-formed but not allowed (to close a listener, or a connection not
// established) is refused here too. A SocketOwners message may be one of
// several (see THelperRequestReader).
std::variant<THelperRequest, THelperRefusal> ParseHelperRequest(std::span<const uint8_t> message);

// Reads the requests from their messages, one message at a time, gathering
// the messages of a SocketOwners request of several. Holds at most
// `maxInodes` sockets (the protocol's kMaxOwnerInodes; a fuzz target sets
// fewer, to reach the limit with small inputs); a broken request is dropped
// whole, and what follows its last message is read afresh.
class THelperRequestReader {
public:
    using TOutcome = std::variant<THelperRequest, THelperRefusal>;

    explicit THelperRequestReader(size_t maxInodes = kMaxOwnerInodes) : MaxInodes_(maxInodes) {}

    // The request that `message` completes, or its refusal; nullopt when a
    // request continues in the next message. `refusedAs`, when set, refuses
    // the message for that reason whatever it holds (one the socket cut
    // short, say); its header still tells whether the request continues.
    std::optional<TOutcome> Add(std::span<const uint8_t> message, std::optional<std::string> refusedAs = {});

    // The sockets gathered of an unfinished request.
    size_t Gathered() const { return Gathered_.size(); }

private:
    size_t MaxInodes_;
    std::vector<uint64_t> Gathered_;
    bool Continuing_ = false;
    // Why the unfinished request is refused once it ends, if it is.
    std::optional<std::string> Broken_;
};

std::vector<uint8_t> EncodeKillRequest(const TTcpRow& row);
std::vector<uint8_t> EncodeCaptureRequest(uint32_t interfaceIndex);
// The messages of a SocketOwners request, in order: one for at most
// kMaxOwnerInodesPerMessage inodes (none: every socket), else several. More
// than kMaxOwnerInodes are the caller's error (ask for all), and refused.
std::vector<std::vector<uint8_t>> EncodeOwnersRequest(std::span<const uint64_t> inodes);

struct THelperOwner {
    uint64_t Inode = 0;
    uint32_t Pid = 0;
    std::string Name;  // cut to kMaxHelperNameSize by the encoder
};

std::vector<uint8_t> EncodeHello(uint32_t abilities);
// An Ok reply without body, or a Failed or Refused one with `error` and
// `reason` (cut to kMaxHelperTextSize).
std::vector<uint8_t> EncodeStatusReply(uint8_t verb, THelperStatus status, int error = 0,
                                       std::string_view reason = {});
// The messages of an Ok SocketOwners reply, in order; at least one.
std::vector<std::vector<uint8_t>> EncodeOwnersReply(const std::vector<THelperOwner>& owners);

// A reply as read by the program. Body is valid as long as the message is.
struct THelperReply {
    THelperVerb Verb = THelperVerb::Hello;
    THelperStatus Status = THelperStatus::Ok;
    bool MoreFollows = false;
    int Error = 0;           // Failed and Refused replies
    std::string Reason;      // Failed and Refused replies
    std::span<const uint8_t> Body;
};

// Reads a reply to a request with `verb` (or the hello); fails, saying what
// is wrong with it, for anything else.
TResult<THelperReply> ParseHelperReply(std::span<const uint8_t> message, THelperVerb verb);
// The abilities of a hello's body.
std::optional<uint32_t> ParseHelloBody(std::span<const uint8_t> body);
// Appends the entries of an owners reply's body; false when it is malformed.
bool ParseOwnersBody(std::span<const uint8_t> body, std::vector<THelperOwner>& owners);

}  // namespace tarnwick
