// Which program owns each socket of one refresh's tables, for the packets a
// capture sees: the owner of the socket at a packet's end, and the sockets of
// one program. Made once per refresh and never changed after, so any thread
// may read it (see socket_owner_feed.h for handing it over).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "monitor/connection_key.h"
#include "monitor/connection_snapshot.h"
#include "monitor/process_names.h"

namespace tarnwick {

// The process that holds a socket.
struct TSocketOwner {
    uint32_t Pid = 0;
    std::string Name;  // the process column's text for it (RowProcessText)
    std::string Text;  // "<name> <pid>", "?" for a name that is not known: "firefox-esr 4121"
    size_t Sockets = 0;  // of the tables, TCP and UDP
};

// One program: the process with a pid, or every process whose name, as the
// grid shows it, is exactly Name.
struct TProgramSelector {
    std::optional<uint32_t> Pid;
    std::string Name;  // when Pid is not set

    bool Selects(const TSocketOwner& owner) const { return Pid ? owner.Pid == *Pid : owner.Name == Name; }
    // "pid 4121" or the name, for telling the user what is captured.
    std::string Text() const { return Pid ? "pid " + std::to_string(*Pid) : Name; }
    bool operator==(const TProgramSelector&) const = default;
};

// One end of a packet as seen from this machine.
struct TSocketEnd {
    TInetAddress Address;
    uint16_t Port = 0;
};

// How closely the socket found for an end matched it, loosest first.
enum class TOwnerMatch : uint8_t {
    None,
    Wildcard,   // bound to any address (0.0.0.0, or :: which takes IPv4 too), on the port
    Bound,      // bound to the address and port: a listener, a UDP socket
    Connected,  // a TCP socket with both ends
};

struct TFoundOwner {
    const TSocketOwner* Owner = nullptr;
    TOwnerMatch Match = TOwnerMatch::None;
};

class TSocketOwnerMap {
public:
    // Knows no socket.
    TSocketOwnerMap() = default;
    // The sockets of `tables` that have an owner (pid not 0), named from
    // `processes` as the grid names them ("?" without a process list). An
    // IPv4-mapped socket is in the tables' IPv4 rows, so it is found by the
    // IPv4 addresses of its packets. Where two sockets hold the same ends
    // (ports shared between processes) the first in the tables is taken.
    TSocketOwnerMap(const TFetchedTables& tables, const TProcessSnapshot* processes);

    // The socket of this machine at `local` that exchanges packets with
    // `remote`: the TCP socket connected between the two, else the socket
    // bound to `local`, else one bound to any address on its port (of either
    // family for an IPv4 end). A socket bound to any address is taken only
    // for an address that can be this machine's: one a socket of the tables
    // is bound to, loopback, multicast or broadcast; so a remote end whose
    // port a local server also listens on is not taken for that server.
    TFoundOwner Find(bool tcp, const TSocketEnd& local, const TSocketEnd& remote) const;

    // The sockets of the tables that `program` selects.
    size_t SocketsOf(const TProgramSelector& program) const;

private:
    const TSocketOwner* Lookup(const TConnectionKey& key) const;
    bool MayBeLocal(const TInetAddress& address) const;
    void Add(TConnectionKey key, uint32_t pid, const TProcessSnapshot* processes);

    std::vector<TSocketOwner> Owners_;
    std::unordered_map<uint32_t, size_t> OwnerIndex_;  // pid -> Owners_
    // By its ends as the tables give them, interfaces left out (a packet has
    // none): a bound socket with the unspecified remote address.
    std::unordered_map<TConnectionKey, size_t, TConnectionKeyHash> Sockets_;
    // The addresses sockets are bound to: this machine's (a handful).
    std::set<TInetAddress> LocalAddresses_;
};

}  // namespace tarnwick
