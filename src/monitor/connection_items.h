// The TCP connections of the previous refresh, in order of first appearance,
// and the matching of each new row against them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "monitor/connection_row.h"
#include "monitor/tcp_state_names.h"

namespace tarnwick {

class TConnectionitems;

// One remembered connection. Identity: RemoteAddr, RemotePort, LocalPort and
// Protocol, compared as texts; they never change once the item exists. Which
// connection it is at those ends is told by its socket's cookie (see
// TConnectionitems::UpdateConnection).
class TConnectionitem {
public:
    TConnectionitem(TConnectionitems* owner, TConnectionRow texts, uint32_t pid = 0);

    bool Seen = true;  // present in the snapshot being processed

    const std::string& RemoteAddr() const { return RemoteAddr_; }  // dotted, never a host name
    const std::string& RemotePort() const { return RemotePort_; }  // decimal
    const std::string& LocalPort() const { return LocalPort_; }    // decimal
    const std::string& Protocol() const { return Protocol_; }
    TTcpState State() const { return State_; }
    std::string_view Status() const { return TcpStateName(State_); }
    const std::string& Process() const { return Process_; }  // as when first seen
    // The entry in the tables and its owner's process id as when first seen,
    // for the event when the connection is gone; nullopt and 0 when not given.
    const std::optional<TConnectionKey>& Key() const { return Key_; }
    uint32_t Pid() const { return Pid_; }
    void SetState(TTcpState state) { State_ = state; }
    // Named after all, for a remnant whose socket had no owner to list.
    void SetOwner(std::string process, uint32_t pid) {
        Process_ = std::move(process);
        Pid_ = pid;
    }

    // The socket of its rows (0 when the tables give none).
    uint64_t Cookie() const { return Cookie_; }

    // Whether its "Connected" line was logged (or, seen Established at
    // once, it needed none other): a connection is announced once.
    bool Connected() const { return Connected_; }
    void SetConnected() { Connected_ = true; }
    // Whether a refresh saw it in its handshake (Syn_Sent, Syn_Rcvd): only
    // then does a later state tell it was established since.
    bool SeenInHandshake() const { return SeenInHandshake_; }
    void SetSeenInHandshake() { SeenInHandshake_ = true; }

    // Its byte counters as last known: a Time_Wait row carries none, so the
    // established socket's last ones are kept for the line when it is gone.
    const TSocketTraffic& LastTraffic() const { return LastTraffic_; }
    void SetLastTraffic(const TSocketTraffic& traffic) {
        if (traffic.Known) LastTraffic_ = traffic;
    }

    TConnectionitems* OwnerList() const { return OwnerList_; }

private:
    // The texts of the row it was made from, without its traffic: an item
    // lives as long as its connection, 100,000 of them on a busy host.
    std::string RemoteAddr_;
    std::string RemotePort_;
    std::string LocalPort_;
    std::string Protocol_;
    TTcpState State_ = TTcpState::Closed;
    std::string Process_;
    std::optional<TConnectionKey> Key_;
    uint32_t Pid_ = 0;
    uint64_t Cookie_ = 0;
    bool Connected_ = false;
    bool SeenInHandshake_ = false;
    TSocketTraffic LastTraffic_;
    TConnectionitems* OwnerList_;

    friend class TConnectionitems;
};

class TConnectionitems {
public:
    // Results of UpdateConnection.
    static constexpr int32_t kNew = 0;
    static constexpr int32_t kSameStatus = 1;
    static constexpr int32_t kStatusChanged = 2;
    // Another socket at the same ends: the item was made afresh for it, and
    // the one it replaced is handed over by TakeReplaced.
    static constexpr int32_t kReplaced = 3;

    TConnectionitems() = default;
    // Items point back at their list, so the list stays where it was made.
    TConnectionitems(const TConnectionitems&) = delete;
    TConnectionitems& operator=(const TConnectionitems&) = delete;

    // Appends an item with these texts, Seen true. The list holds one item per
    // identity; adding a second one is a programming error (std::logic_error).
    // References to items stay valid until the next Add or RemoveUnseen.
    TConnectionitem& Add(TConnectionRow texts);

    TConnectionitem& Items(size_t position) { return Items_.at(position); }
    const TConnectionitem& Items(size_t position) const { return Items_.at(position); }
    size_t Count() const { return Items_.size(); }

    void ClearSeen();

    // Makes room for `count` items, so that a refresh that adds many does not
    // move the list and rebuild its index again and again.
    void Reserve(size_t count);

    // Marks the item with this identity seen and returns kSameStatus, or
    // updates its status and returns kStatusChanged; when none has it, adds an
    // item with all six texts, `key`, `pid` and `cookie` and returns kNew. The
    // process (key, pid) of a known item is never updated. Found through an
    // index, so a refresh costs time linear in its rows.
    //
    // A row whose socket `cookie` differs from the item's is another
    // connection at the same ends, and the item is made afresh for it
    // (kReplaced). Also a Time_Wait row: closing first leaves a Time_Wait
    // socket in place of the established one, but under the cookie that one
    // had once the tables listed it, so a Time_Wait row under another cookie
    // is what a later connection at these ends left. The exception is an
    // item in Syn_Rcvd: a server's half-open connection is a request of its
    // own, whose socket, made when the handshake completes, takes another
    // cookie; the row after it is that connection's. An item already matched
    // in this refresh is not replaced: rows that differ only in their local
    // address share it. Either cookie 0 (unknown) matches any.
    int32_t UpdateConnection(const std::string& remoteAddr, const std::string& remotePort,
                             const std::string& localPort, const std::string& protocol, TTcpState state,
                             const std::string& process, const std::optional<TConnectionKey>& key = std::nullopt,
                             uint32_t pid = 0, uint64_t cookie = 0);

    // The item the last UpdateConnection matched or made; valid until the next call.
    TConnectionitem& LastUpdated() { return Items_.at(LastUpdated_); }
    // The item that the last kReplaced result replaced, as it was.
    std::optional<TConnectionitem> TakeReplaced() { return std::exchange(Replaced_, std::nullopt); }

    // Deletes every item not seen, keeping the order of the others.
    void RemoveUnseen();

private:
    // The index: open addressing over the identity's hash, each slot naming
    // an item by position. Items lie side by side in first-seen order, which
    // is mostly the order the tables come in, so a refresh walks them nearly
    // in sequence; the slots are small enough to stay in cache for 100,000
    // connections.
    struct TSlot {
        uint64_t Hash = 0;
        uint32_t Item = kEmptySlot;
    };
    static constexpr uint32_t kEmptySlot = UINT32_MAX;

    static uint64_t IdentityHash(std::string_view remoteAddr, std::string_view remotePort,
                                 std::string_view localPort, std::string_view protocol);
    // The position of the item with this identity, or kEmptySlot; `slot` is
    // where the search ended (the free slot for a new identity).
    uint32_t Find(uint64_t hash, std::string_view remoteAddr, std::string_view remotePort,
                  std::string_view localPort, std::string_view protocol, size_t& slot) const;
    void RebuildIndex(size_t capacity);
    // Appends an item whose identity the index does not hold.
    TConnectionitem& Append(uint64_t hash, TConnectionRow texts, uint32_t pid = 0);

    std::vector<TConnectionitem> Items_;
    std::vector<TSlot> Slots_;
    // Where the next row's item most likely is: right after the last one
    // matched, since the tables keep their order from refresh to refresh.
    size_t NextGuess_ = 0;
    size_t LastUpdated_ = 0;
    std::optional<TConnectionitem> Replaced_;
};

}  // namespace tarnwick
