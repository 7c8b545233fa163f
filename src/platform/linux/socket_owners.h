// Which process holds each socket: a map from socket inode number to the id of
// a process that has a file descriptor open on it.
//
// Made by reading the links /proc/<pid>/fd/<n>, which for a socket read
// "socket:[<inode>]". It is a snapshot: sockets and processes come and go
// while it is taken, and those are simply missing from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick {

class TSocketOwners {
public:
    // Reads every process's descriptors under `procRoot`. Never fails as a
    // whole: a process that exits during the scan, or whose descriptors cannot
    // be read (another user's, without privileges), is skipped, and an
    // unreadable `procRoot` gives an empty map. A socket held by several
    // processes (inherited across fork, passed over a unix socket) is
    // attributed to the lowest of their ids, so that the answer is stable.
    static TSocketOwners Scan(const std::string& procRoot = "/proc");

    // A map of the (inode, pid) pairs of `entries`; an inode listed twice
    // goes to the lowest pid, as in a scan. Pairs with inode or pid 0 are
    // left out.
    static TSocketOwners FromEntries(std::vector<std::pair<uint64_t, uint32_t>> entries);

    // The owning process id, or 0 when the inode is not in the map (0 is
    // never a process id, and sockets without an inode, like TIME_WAIT ones,
    // have inode 0).
    uint32_t PidOf(uint64_t inode) const;

    bool Contains(uint64_t inode) const;
    size_t Size() const { return Owners_.size(); }
    // Every (inode, pid) pair, by inode.
    const std::vector<std::pair<uint64_t, uint32_t>>& Entries() const { return Owners_; }

private:
    // Sorts and keeps the lowest pid of each inode.
    void Normalise();

    // Sorted by inode, one entry per inode.
    std::vector<std::pair<uint64_t, uint32_t>> Owners_;
};

// Where the tables learn which process holds each socket.
class TSocketOwnerSource {
public:
    virtual ~TSocketOwnerSource() = default;
    // The owners of every socket at this moment.
    virtual TSocketOwners ScanOwners() = 0;
};

// Reads them from this process's view of /proc (TSocketOwners::Scan).
class TProcSocketOwnerSource final : public TSocketOwnerSource {
public:
    TSocketOwners ScanOwners() override { return TSocketOwners::Scan(); }
};

}  // namespace tarnwick
