// The TCP connections of the previous refresh, in order of first appearance,
// and the matching of each new row against them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "monitor/connection_row.h"

namespace tarnwick {

class TConnectionitems;

// One remembered connection. Identity: RemoteAddr, RemotePort, LocalPort and
// Protocol, compared as texts; they never change once the item exists.
class TConnectionitem {
public:
    TConnectionitem(TConnectionitems* owner, TConnectionRow texts);

    bool Seen = true;  // present in the snapshot being processed

    const std::string& RemoteAddr() const { return Texts_.RemoteAddr; }  // dotted, never a host name
    const std::string& RemotePort() const { return Texts_.RemotePort; }  // decimal
    const std::string& LocalPort() const { return Texts_.LocalPort; }    // decimal
    const std::string& Protocol() const { return Texts_.Protocol; }
    const std::string& Status() const { return Texts_.Status; }
    const std::string& Process() const { return Texts_.Process; }  // as when first seen
    void SetStatus(std::string status) { Texts_.Status = std::move(status); }

    TConnectionitems* OwnerList() const { return OwnerList_; }

private:
    TConnectionRow Texts_;
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
    TConnectionitem& Add(TConnectionRow texts);

    TConnectionitem& Items(size_t position) { return *Items_.at(position); }
    const TConnectionitem& Items(size_t position) const { return *Items_.at(position); }
    size_t Count() const { return Items_.size(); }

    void ClearSeen();

    // Marks the item with this identity seen and returns kSameStatus, or
    // updates its status and returns kStatusChanged; when none has it, adds an
    // item with all six texts and returns kNew. The process of a known item is
    // never updated. Found through an index, so a refresh costs time linear in
    // its rows.
    int32_t UpdateConnection(const std::string& remoteAddr, const std::string& remotePort,
                             const std::string& localPort, const std::string& protocol, const std::string& status,
                             const std::string& process);

    // Deletes every item not seen, keeping the order of the others.
    void RemoveUnseen();

private:
    const std::string& IdentityKey(const std::string& remoteAddr, const std::string& remotePort,
                                   const std::string& localPort, const std::string& protocol);

    std::vector<std::unique_ptr<TConnectionitem>> Items_;
    std::unordered_map<std::string, TConnectionitem*> ByIdentity_;
    std::string KeyScratch_;  // reused so a lookup allocates nothing
};

}  // namespace tarnwick
