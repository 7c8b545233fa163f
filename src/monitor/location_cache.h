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
// beyond `capacity` addresses, those the last call did not ask for go.
//
// A refresh of 50,000 rows asks for 50,000 addresses, nearly all of them in
// the order the refresh before asked for them: each is first compared with
// the addresses of the last call, at the same place or a few places on (rows
// that went), and only those not found there are looked for in the table of
// answers. Answers are pointers to locations that are never freed (see
// InternLocation), so that rows copy no more than a pointer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/location_lookup.h"

namespace tarnwick {

// The one copy of `location` for the whole program, made at its first use
// and kept to the program's end. There are as many as the countries and
// networks the program meets, a few thousand at most.
const TLocation* InternLocation(const TLocation& location);

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
    std::vector<const TLocation*> LocateAll(const std::vector<TInetAddress>& addresses,
                                            std::chrono::milliseconds wait);
    // The same into `found`, whose memory a refresh keeps from one to the next.
    void LocateAll(const std::vector<TInetAddress>& addresses, std::chrono::milliseconds wait,
                   std::vector<const TLocation*>& found);

    // The location known for `address` now, without asking for it.
    const TLocation* Find(const TInetAddress& address) const;

    // Why the database cannot be read, while it cannot; nullopt before the
    // first try and while it can.
    std::optional<TFailure> DatabaseFailure() const;
    // The database the answers come from, once it was opened.
    std::optional<TLocationDatabase> Database() const;

private:
    enum class TState : uint8_t {
        Empty,     // a free slot
        Asked,     // queued or being looked up
        Answered,  // Location is the answer
        Dropped,   // to be asked again: the database could not be read, or was replaced
    };
    struct TSlot {
        TInetAddress Address;
        TState State = TState::Empty;
        bool Keep = false;  // marked while the table is made anew
        const TLocation* Location = nullptr;
    };
    // An address of the last call and its answer, where it had one that
    // stands (not one still asked or dropped).
    struct TAsked {
        TInetAddress Address;
        bool Settled = false;
        const TLocation* Location = nullptr;
    };
    using TClock = std::chrono::steady_clock;

    // The slot of `address`, or the free slot where it would go.
    size_t SlotOf(const TInetAddress& address) const;
    // Adds `address` as asked, growing the table as needed; its slot.
    size_t Insert(const TInetAddress& address);
    // Makes the table anew with the slots that `keep` says, room for growth;
    // their Keep marks are cleared.
    template <typename TKeep>
    void Rebuild(TKeep keep);
    // The look-up thread: answers the questions queued, opening the database
    // first when there is none or an update replaced it (once per recheck
    // interval at most).
    void Run();
    // Whether the question of `address` has its answer, or was dropped.
    bool Settled(const TInetAddress& address) const;
    // The answer for `address` from the table, asking for it when it has
    // none (and `mayAsk`); whether it is one that stands.
    const TLocation* LookUp(const TInetAddress& address, bool mayAsk, bool& settled);

    const TLocationOpener Open_;
    const size_t Capacity_;
    const std::chrono::milliseconds Recheck_;

    mutable std::mutex Mutex_;
    std::condition_variable Asked_;     // the look-up thread waits for questions
    std::condition_variable Answered_;  // LocateAll waits for answers
    std::vector<TSlot> Slots_;          // open addressing, a power of two of them
    size_t Used_ = 0;
    std::vector<TInetAddress> Queue_;  // asked, not yet taken by the look-up thread
    // The addresses of the last call, in its order; emptied when answers are
    // dropped. The call under way fills the other, which keeps its memory.
    std::vector<TAsked> LastCall_;
    std::vector<TAsked> ThisCall_;
    std::optional<TFailure> Failure_;
    std::optional<TLocationDatabase> Database_;
    TClock::time_point NextTry_{};  // no questions are queued before it while the database fails
    bool Stopping_ = false;
    std::thread Thread_;

    // The look-up thread's own.
    std::unique_ptr<TLocationLookup> Lookup_;
    TClock::time_point LastChecked_{};  // when the database was last opened or checked
    bool Tried_ = false;
};

}  // namespace tarnwick
