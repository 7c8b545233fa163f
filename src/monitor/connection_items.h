// The TCP connections of the previous refresh, in order of first appearance,
// and the matching of each new row against them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/connection_row.h"

namespace tarnwick {

class TConnectionitems;

// One remembered connection. Identity: RemoteAddr, RemotePort, LocalPort and
// Protocol, compared as texts; they never change once the item exists.
class TConnectionitem {
public:
    TConnectionitem(TConnectionitems* owner, TConnectionRow texts, uint32_t pid = 0);

    bool Seen = true;  // present in the snapshot being processed

    const std::string& RemoteAddr() const { return RemoteAddr_; }  // dotted, never a host name
    const std::string& RemotePort() const { return RemotePort_; }  // decimal
    const std::string& LocalPort() const { return LocalPort_; }    // decimal
    const std::string& Protocol() const { return Protocol_; }
    const std::string& Status() const { return Status_; }
    const std::string& Process() const { return Process_; }  // as when first seen
    // The entry in the tables and its owner's process id as when first seen,
    // for the event when the connection is gone; nullopt and 0 when not given.
    const std::optional<TConnectionKey>& Key() const { return Key_; }
    uint32_t Pid() const { return Pid_; }
    void SetStatus(std::string status) { Status_ = std::move(status); }

    TConnectionitems* OwnerList() const { return OwnerList_; }

private:
    // The texts of the row it was made from, without its traffic: an item
    // lives as long as its connection, 100,000 of them on a busy host.
    std::string RemoteAddr_;
    std::string RemotePort_;
    std::string LocalPort_;
    std::string Protocol_;
    std::string Status_;
    std::string Process_;
    std::optional<TConnectionKey> Key_;
    uint32_t Pid_ = 0;
    TConnectionitems* OwnerList_;
};

class TConnectionitems {
public:
    // Results of UpdateConnection.
    static constexpr int32_t kNew = 0;
    static constexpr int32_t kSameStatus = 1;
    static constexpr int32_t kStatusChanged = 2;

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
    // item with all six texts, `key` and `pid` and returns kNew. The process
    // (key, pid) of a known item is never updated. Found through an index, so
    // a refresh costs time linear in its rows.
    int32_t UpdateConnection(const std::string& remoteAddr, const std::string& remotePort,
                             const std::string& localPort, const std::string& protocol, const std::string& status,
                             const std::string& process, const std::optional<TConnectionKey>& key = std::nullopt,
                             uint32_t pid = 0);

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
};

}  // namespace tarnwick
