// Which process holds each socket: a map from socket inode number to the id of
// a process that has a file descriptor open on it.
//
// Made by reading the links /proc/<pid>/fd/<n>, which for a socket read
// "socket:[<inode>]". It is a snapshot: sockets and processes come and go
// while it is taken, and those are simply missing from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
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

// Owners kept from one refresh to the next, so that a refresh reads the
// descriptors of only the processes that changed, not of every process.
//
// Per process it keeps the sockets it held when last read, with the inode
// number and size of its /proc/<pid>/fd directory: since Linux 6.2 that size
// is the number of open descriptors (proc_fd_getattr() in fs/proc/fd.c), and
// the directory of a new process under a reused pid is a new inode. A process
// whose directory is gone is dropped; one whose inode or count changed is
// read again. Where the kernel gives no count (size 0), each kept socket's
// descriptor link is read back instead.
//
// A count that stayed the same does not mean the same descriptors: a process
// may close one and open another between two looks. So the kept owner of a
// socket asked for is checked by reading back the one descriptor link it was
// seen at, when that socket is due (every kVerifyEvery passes, spread over
// the sockets by their numbers) and at once when a process read again in this
// pass now holds the socket too, as the receiver of a descriptor passed over
// a unix socket does. An owner whose link no longer reads the socket is read
// again. A socket handed to a process whose count stays the same as well is
// thus shown under its old owner for at most kVerifyEvery - 1 more passes.
//
// Then the sockets asked for that no kept process holds are looked for,
// process by process in ascending pid order, until all are found: first among
// the processes not kept (a socket no kept process holds is most likely a new
// process's), then among the kept ones not read in this pass, whose count
// cannot show a socket opened in place of another descriptor. So a new
// socket's owner is found in the pass that first asks for it, and it is the
// lowest pid holding it, as in TSocketOwners::Scan; but for one found in a
// process not kept while a kept one of lower pid, its count unchanged, holds
// it too.
// A socket closed between the dump of the tables and this look costs one such
// walk through every process. Sockets that the walk could not find (another
// user's, without privilege; one in flight in a unix socket's queue) are
// remembered while they are asked for, so that only a new unknown socket
// starts a walk; up to a bound (kMaxMissingKept), beyond which a walk looks
// for them again.
class TSocketOwnerCache {
public:
    // How a kept process is checked for change: its descriptor count where
    // the kernel tells it, else its sockets' links; or always the links.
    enum class TCheck { CountWhereKnown, Links };

    explicit TSocketOwnerCache(TCheck check = TCheck::CountWhereKnown) : Check_(check) {}

    // The owners of `inodes` (sorted; 0 and repeats allowed) at this moment:
    // every one that a process holds goes to the lowest such pid. The map
    // holds the other kept sockets too.
    TSocketOwners Find(const std::vector<uint64_t>& inodes);

    // Processes kept, and sockets remembered as missing, for tests.
    size_t KeptProcesses() const { return Processes_.size(); }
    size_t RememberedMissing() const { return Missing_.size(); }

    // The bound on what is remembered: a socket that no process holds costs
    // 16 bytes here, and a client may ask for a million new ones on every
    // request (the helper's limit of one request). Remembering every one of
    // the last 16 passes would hold hundreds of megabytes; a million entries
    // (16 MB) still remember every missing socket of the largest request,
    // so that a refresh asking again for the same ones starts no walk. To
    // make room, the sockets asked for longest ago go first.
    static constexpr size_t kMaxMissingKept = 1'000'000;

    // How often a kept owner's descriptor link is read back for each socket
    // asked for. Every pass would read as many links as sockets asked for,
    // most of what a full scan costs (bench/README.md); every eighth pass
    // costs an eighth of that, for a hand-over that neither process's count
    // shows.
    static constexpr uint64_t kVerifyEvery = 8;

private:
    struct TProcess {
        uint64_t DirInode = 0;
        uint64_t Count = 0;  // open descriptors; 0 where the kernel does not say
        // (inode, descriptor), sorted.
        std::vector<std::pair<uint64_t, int>> Sockets;
        uint64_t Pass = 0;  // the last pass that read it
    };

    enum class TRead { Sockets, NoSockets, Unreadable };
    // Reads process `pid`'s descriptors into `process`.
    static TRead ReadProcess(int procFd, uint32_t pid, TProcess& process);
    bool Unchanged(int procFd, uint32_t pid, const TProcess& process) const;
    // Whether `process` is checked by its descriptor count.
    bool CountKnown(const TProcess& process) const { return Check_ == TCheck::CountWhereKnown && process.Count != 0; }
    void RebuildIndex();
    // The kept processes, among the owners of `inodes`, whose descriptor link
    // for the socket no longer reads it: those due in this pass, and the
    // owners of `gained` (sorted), the sockets that processes read again in
    // this pass hold and did not before.
    std::vector<uint32_t> StaleOwners(int procFd, const std::vector<uint64_t>& inodes,
                                      const std::vector<uint64_t>& gained) const;

    TCheck Check_;
    uint64_t Pass_ = 0;
    std::map<uint32_t, TProcess> Processes_;
    TSocketOwners Index_;
    // Sockets asked for that a walk through every process did not find.
    // Dropped when not asked for in kMissingKeptPasses passes, and when found.
    struct TMissing {
        uint64_t Inode = 0;
        uint32_t LastWanted = 0;  // the pass, modulo 2^32
    };
    static constexpr uint32_t kMissingKeptPasses = 16;
    // Sorted by inode.
    std::vector<TMissing> Missing_;

    // Adds the sockets of `missing` (sorted, none remembered yet) that a walk
    // just missed.
    void RememberMissing(std::vector<uint64_t>& missing);
};

// Where the tables learn which process holds each socket.
class TSocketOwnerSource {
public:
    virtual ~TSocketOwnerSource() = default;
    // The owners of the sockets `inodes` (sorted; 0 and repeats allowed) at
    // this moment, each the lowest pid holding it, as TSocketOwners::Scan
    // finds them. The map may hold other sockets as well.
    virtual TSocketOwners FindOwners(const std::vector<uint64_t>& inodes) = 0;
};

// Reads them from this process's view of /proc, through a TSocketOwnerCache.
class TProcSocketOwnerSource final : public TSocketOwnerSource {
public:
    TSocketOwners FindOwners(const std::vector<uint64_t>& inodes) override;

private:
    std::mutex Mutex_;
    TSocketOwnerCache Cache_;
};

}  // namespace tarnwick
