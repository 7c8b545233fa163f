// The TCP connections of the previous refresh, in order of first appearance,
// and the matching of each new row against them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "monitor/connection_row.h"
#include "monitor/position_index.h"
#include "monitor/tcp_state_names.h"

namespace tarnwick {

class TConnectionitems;

// One remembered connection. Identity: its key's remote address and port,
// local port and family (and, for a link-local remote address, the
// interface); rows that differ only in their local address are one
// connection to the user. Which connection it is at those ends is told by
// its socket's cookie (see TConnectionitems::UpdateConnection).
class TConnectionitem {
public:
    TConnectionitem(TConnectionitems* owner, const TConnectionRow& texts, std::string remoteAddr, uint32_t pid,
                    uint64_t cookie);

    bool Seen = true;  // present in the snapshot being processed

    const std::string& RemoteAddr() const { return RemoteAddr_; }  // numeric, never a host name
    std::string RemotePort() const { return std::to_string(Key_.RemotePort); }
    std::string_view Protocol() const { return Key_.V6() ? kRowProtocolTcp6 : kRowProtocolTcp; }
    TTcpState State() const { return State_; }
    std::string_view Status() const { return TcpStateName(State_); }
    const std::string& Process() const { return Process_; }  // as when first seen
    // The entry in the tables and its owner's process id as when first seen,
    // for the event when the connection is gone.
    const TConnectionKey& Key() const { return Key_; }
    uint32_t Pid() const { return Pid_; }
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
    // What the row it was made from showed, without its texts: an item lives
    // as long as its connection, 100,000 of them on a busy host.
    TConnectionKey Key_;
    std::string RemoteAddr_;
    std::string Process_;
    uint32_t Pid_ = 0;
    uint64_t Cookie_ = 0;
    TTcpState State_ = TTcpState::Closed;
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

    TConnectionitem& Items(size_t position) { return Items_.at(position); }
    const TConnectionitem& Items(size_t position) const { return Items_.at(position); }
    size_t Count() const { return Items_.size(); }

    void ClearSeen();

    // Makes room for `count` items, so that a refresh that adds many does not
    // move the list and rebuild its index again and again.
    void Reserve(size_t count);

    // `row` is the texts of a TCP row of the tables, its Key and State set.
    // Marks the item of its connection seen and returns kSameStatus, or
    // updates its state and returns kStatusChanged; when none has it, adds an
    // item with the row's key, state and process, the numeric text of its
    // remote address (`remoteAddr`, asked for only then), `pid` and `cookie`
    // and returns kNew. The process (key, pid) of a known item is never
    // updated. Found through an index, so a refresh costs time linear in its
    // rows.
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
    int32_t UpdateConnection(const TConnectionRow& row, const std::function<std::string()>& remoteAddr,
                             uint32_t pid = 0, uint64_t cookie = 0);

    // The item the last UpdateConnection matched or made; valid until the next call.
    TConnectionitem& LastUpdated() { return Items_.at(LastUpdated_); }
    // The item that the last kReplaced result replaced, as it was.
    std::optional<TConnectionitem> TakeReplaced() { return std::exchange(Replaced_, std::nullopt); }

    // Deletes every item not seen, keeping the order of the others.
    void RemoveUnseen();

private:
    // The position of the item with the identity of `key` (whose hash is
    // `hash`), or TPositionIndex::kNone.
    uint32_t Find(uint64_t hash, const TConnectionKey& key) const;
    void RebuildIndex(size_t room);
    // Appends an item whose identity the index does not hold.
    TConnectionitem& Append(uint64_t hash, TConnectionitem item);

    // Items lie side by side in first-seen order, which is mostly the order
    // the tables come in, so a refresh walks them nearly in sequence; the
    // index finds them by the hash of their identity.
    std::vector<TConnectionitem> Items_;
    TPositionIndex Index_;
    // Where the next row's item most likely is: right after the last one
    // matched, since the tables keep their order from refresh to refresh.
    size_t NextGuess_ = 0;
    size_t LastUpdated_ = 0;
    std::optional<TConnectionitem> Replaced_;
};

}  // namespace tarnwick
