// TLocationCache: the country and network of remote addresses, each looked
// up once, on a thread of the cache's own.
//
// A refresh asks for the locations of all its rows at once (LocateAll) and
// waits for the new ones at most as long as it says: the window's thread
// never waits, so its refreshes show a new address's location from the next
// refresh on, while a worker or the command line waits a moment and shows it
// at once. The database is opened on the look-up thread at the first call,
// question or not, so that a missing one is known at once; a database that
// cannot be opened is tried again a minute later at the earliest, and one
// that an update replaced is opened afresh, with the answers of the old one
// forgotten.
//
// Only public addresses are looked up (see IsPublicAddress); an IPv4-mapped
// address is its IPv4 address. Answers are kept while refreshes ask for them;
// beyond `capacity` addresses, those the last refresh did not ask for go.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/location_lookup.h"

namespace tarnwick {

// A location as rows carry it: shared, since many rows and addresses have
// the same one. Null where nothing is known.
using TLocationPtr = std::shared_ptr<const TLocation>;

class TLocationCache {
public:
    static constexpr size_t kDefaultCapacity = size_t{1} << 18;
    // How often the database is checked for a replacement, or tried again.
    static constexpr std::chrono::seconds kRecheckInterval{60};

    explicit TLocationCache(TLocationOpener open, size_t capacity = kDefaultCapacity,
                            std::chrono::milliseconds recheck = kRecheckInterval);
    // Ends the look-up thread, after the look-up it is in.
    ~TLocationCache();
    TLocationCache(const TLocationCache&) = delete;
    TLocationCache& operator=(const TLocationCache&) = delete;

    // The locations of `addresses`, in their order: null where the address
    // is not public, the database knows nothing of it, cannot be read, or has
    // not answered within `wait` (which also bounds the wait for the first
    // opening). Addresses not asked before are asked of the database; an
    // answer that comes after `wait` is kept for later calls.
    std::vector<TLocationPtr> LocateAll(const std::vector<TInetAddress>& addresses, std::chrono::milliseconds wait);

    // The location known for `address` now, without asking for it.
    TLocationPtr Find(const TInetAddress& address) const;

    // Why the database cannot be read, while it cannot; nullopt before the
    // first try and while it can.
    std::optional<TFailure> DatabaseFailure() const;
    // The database the answers come from, once it was opened.
    std::optional<TLocationDatabase> Database() const;

private:
    struct TAddressHash {
        size_t operator()(const TInetAddress& address) const;
    };
    struct TEntry {
        TLocationPtr Location;
        uint64_t LastAsked = 0;  // the LocateAll call that asked for it last
        bool Answered = false;
    };
    using TClock = std::chrono::steady_clock;

    // The look-up thread: answers the questions queued, opening the database
    // first when there is none or an update replaced it (once per recheck
    // interval at most).
    void Run();
    // The one shared location for what the database said (null for nothing).
    TLocationPtr Shared(std::optional<TLocation> location);
    // Whether the question of `address` has its answer, or was dropped.
    bool Answered(const TInetAddress& address) const;
    // Drops every answer: they came from a database that was replaced.
    void Forget();

    const TLocationOpener Open_;
    const size_t Capacity_;
    const std::chrono::milliseconds Recheck_;

    mutable std::mutex Mutex_;
    std::condition_variable Asked_;     // the look-up thread waits for questions
    std::condition_variable Answered_;  // LocateAll waits for answers
    std::unordered_map<TInetAddress, TEntry, TAddressHash> Entries_;
    std::vector<TInetAddress> Queue_;  // asked, not yet taken by the look-up thread
    uint64_t Calls_ = 0;
    std::optional<TFailure> Failure_;
    std::optional<TLocationDatabase> Database_;
    TClock::time_point NextTry_{};  // no questions are queued before it while the database fails
    bool Stopping_ = false;
    std::thread Thread_;

    // The look-up thread's own.
    std::unique_ptr<TLocationLookup> Lookup_;
    TClock::time_point LastChecked_{};  // when the database was last opened or checked
    bool Tried_ = false;
    // One shared location per country and network.
    std::map<std::pair<std::string, uint32_t>, TLocationPtr> Known_;
};

}  // namespace tarnwick
