#include "platform/linux/socket_owners.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>

#include "platform/linux/proc_dir.h"

namespace tarnwick {

namespace {

// The inode of a descriptor link's target "socket:[<inode>]"; false for
// anything else (files, pipes, anon inodes, a malformed or truncated link).
bool ParseSocketLink(const char* link, size_t length, uint64_t& inode) {
    static constexpr char kPrefix[] = "socket:[";
    constexpr size_t kPrefixLength = sizeof kPrefix - 1;
    if (length < kPrefixLength + 2 || std::memcmp(link, kPrefix, kPrefixLength) != 0) return false;
    if (link[length - 1] != ']') return false;
    uint64_t value = 0;
    for (size_t i = kPrefixLength; i + 1 < length; ++i) {
        const char c = link[i];
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    inode = value;
    return true;
}

// "<pid>/fd", relative to /proc.
struct TFdDirPath {
    explicit TFdDirPath(uint32_t pid) {
        char* end = std::to_chars(Text, Text + kMaxPidDigits, pid).ptr;
        std::memcpy(end, "/fd", 4);
    }
    char Text[kMaxPidDigits + sizeof "/fd"];
};

// "<pid>/fd/<descriptor>", relative to /proc, for the descriptors of one
// process in turn.
class TFdLinkPath {
public:
    explicit TFdLinkPath(uint32_t pid) {
        const TFdDirPath dir(pid);
        DirLength_ = std::strlen(dir.Text);
        std::memcpy(Text_, dir.Text, DirLength_);
        Text_[DirLength_] = '/';
    }

    const char* Of(int fd) {
        *std::to_chars(Text_ + DirLength_ + 1, Text_ + sizeof Text_ - 1, fd).ptr = '\0';
        return Text_;
    }

private:
    char Text_[sizeof TFdDirPath::Text + 1 + 12];
    size_t DirLength_ = 0;
};

// Whether the descriptor link `path` (relative to `procFd`) reads socket `inode`.
bool LinkReadsSocket(int procFd, const char* path, uint64_t inode) {
    char link[64];
    const ssize_t length = readlinkat(procFd, path, link, sizeof link);
    uint64_t now = 0;
    return length > 0 && static_cast<size_t>(length) < sizeof link &&
           ParseSocketLink(link, static_cast<size_t>(length), now) && now == inode;
}

// The first descriptor at which `sockets` ((inode, descriptor), sorted)
// hold `inode`, or -1.
int DescriptorOf(const std::vector<std::pair<uint64_t, int>>& sockets, uint64_t inode) {
    const auto it = std::lower_bound(sockets.begin(), sockets.end(), std::pair<uint64_t, int>(inode, INT_MIN));
    return it != sockets.end() && it->first == inode ? it->second : -1;
}

// Calls onSocket(inode, descriptor) for every socket among the descriptors of
// the directory stream `fds` (a /proc/<pid>/fd).
template <typename TOnSocket>
void ForEachSocket(DIR* fds, TOnSocket&& onSocket) {
    const int fdsFd = dirfd(fds);
    // Room for "socket:[" + 20 digits + "]"; longer targets are not sockets.
    char link[64];
    while (const dirent* fd = readdir(fds)) {
        int descriptor = 0;
        const char* nameEnd = fd->d_name + std::strlen(fd->d_name);
        const auto parsed = std::from_chars(fd->d_name, nameEnd, descriptor);
        if (parsed.ec != std::errc() || parsed.ptr != nameEnd) continue;  // ".", ".."
        const ssize_t length = readlinkat(fdsFd, fd->d_name, link, sizeof link);
        // Gone meanwhile, or filling the buffer and so possibly cut short.
        if (length <= 0 || static_cast<size_t>(length) >= sizeof link) continue;
        uint64_t inode = 0;
        if (ParseSocketLink(link, static_cast<size_t>(length), inode)) onSocket(inode, descriptor);
    }
}

// The ids of the processes in /proc (`procFd`), ascending.
std::vector<uint32_t> ProcessIds(int procFd) {
    std::vector<uint32_t> pids;
    for (TDirPtr list = OpenDirAt(procFd, "."); list;) {
        const dirent* entry = readdir(list.get());
        if (entry == nullptr) break;
        uint32_t pid = 0;
        if (ParsePid(entry->d_name, pid)) pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

}  // namespace

TSocketOwners TSocketOwners::Scan(const std::string& procRoot) {
    TSocketOwners owners;
    TDirPtr proc = OpenDirAt(AT_FDCWD, procRoot.c_str());
    if (!proc) return owners;
    const int procFd = dirfd(proc.get());

    while (const dirent* process = readdir(proc.get())) {
        uint32_t pid = 0;
        if (!ParsePid(process->d_name, pid)) continue;
        // Fails for a process that has exited (ENOENT) or that we may not
        // inspect (EACCES): both are skipped.
        TDirPtr fds = OpenDirAt(procFd, TFdDirPath(pid).Text);
        if (!fds) continue;
        ForEachSocket(fds.get(), [&](uint64_t inode, int) { owners.Owners_.emplace_back(inode, pid); });
    }

    owners.Normalise();
    return owners;
}

TSocketOwners TSocketOwners::FromEntries(std::vector<std::pair<uint64_t, uint32_t>> entries) {
    TSocketOwners owners;
    owners.Owners_ = std::move(entries);
    std::erase_if(owners.Owners_, [](const auto& entry) { return entry.first == 0 || entry.second == 0; });
    owners.Normalise();
    return owners;
}

void TSocketOwners::Normalise() {
    // Sorting by (inode, pid) puts each inode's lowest pid first; keep that one.
    std::sort(Owners_.begin(), Owners_.end());
    Owners_.erase(std::unique(Owners_.begin(), Owners_.end(),
                              [](const auto& a, const auto& b) { return a.first == b.first; }),
                  Owners_.end());
}

uint32_t TSocketOwners::PidOf(uint64_t inode) const {
    if (inode == 0) return 0;
    const auto it = std::lower_bound(Owners_.begin(), Owners_.end(), inode,
                                     [](const auto& entry, uint64_t key) { return entry.first < key; });
    return it != Owners_.end() && it->first == inode ? it->second : 0;
}

bool TSocketOwners::Contains(uint64_t inode) const { return PidOf(inode) != 0; }

TSocketOwnerCache::TRead TSocketOwnerCache::ReadProcess(int procFd, uint32_t pid, TProcess& process) {
    const TFdDirPath dir(pid);
    // The count is taken before the links are read, so that a descriptor
    // opened or closed meanwhile makes the next pass read the process again;
    // and before the directory is opened, so that when the process is this
    // one, it counts the same descriptors as the check in Unchanged.
    struct stat info {};
    if (fstatat(procFd, dir.Text, &info, 0) != 0) return TRead::Unreadable;
    TDirPtr fds = OpenDirAt(procFd, dir.Text);
    if (!fds) return TRead::Unreadable;
    process.DirInode = info.st_ino;
    process.Count = static_cast<uint64_t>(info.st_size);
    process.Sockets.clear();
    ForEachSocket(fds.get(), [&](uint64_t inode, int fd) { process.Sockets.emplace_back(inode, fd); });
    std::sort(process.Sockets.begin(), process.Sockets.end());
    return process.Sockets.empty() ? TRead::NoSockets : TRead::Sockets;
}

bool TSocketOwnerCache::Unchanged(int procFd, uint32_t pid, const TProcess& process) const {
    const TFdDirPath dir(pid);
    struct stat info {};
    if (fstatat(procFd, dir.Text, &info, 0) != 0 || info.st_ino != process.DirInode) return false;
    if (CountKnown(process)) return static_cast<uint64_t>(info.st_size) == process.Count;
    TFdLinkPath path(pid);
    return std::all_of(process.Sockets.begin(), process.Sockets.end(),
                       [&](const auto& socket) { return LinkReadsSocket(procFd, path.Of(socket.second), socket.first); });
}

std::vector<uint32_t> TSocketOwnerCache::StaleOwners(int procFd, const std::vector<uint64_t>& inodes,
                                                     const std::vector<uint64_t>& gained) const {
    std::vector<uint32_t> stale;
    const auto& kept = Index_.Entries();
    auto next = kept.begin();
    for (const uint64_t inode : inodes) {
        while (next != kept.end() && next->first < inode) ++next;
        if (next == kept.end()) break;
        if (next->first != inode) continue;
        const bool due = inode % kVerifyEvery == Pass_ % kVerifyEvery;
        if (!due && !std::binary_search(gained.begin(), gained.end(), inode)) continue;
        const uint32_t pid = next->second;
        const TProcess& process = Processes_.at(pid);
        // Read in this pass, or checked by every one of its links.
        if (process.Pass == Pass_ || !CountKnown(process)) continue;
        if (!LinkReadsSocket(procFd, TFdLinkPath(pid).Of(DescriptorOf(process.Sockets, inode)), inode))
            stale.push_back(pid);
    }
    std::sort(stale.begin(), stale.end());
    stale.erase(std::unique(stale.begin(), stale.end()), stale.end());
    return stale;
}

void TSocketOwnerCache::RebuildIndex() {
    std::vector<std::pair<uint64_t, uint32_t>> entries;
    size_t total = 0;
    for (const auto& [pid, process] : Processes_) total += process.Sockets.size();
    entries.reserve(total);
    for (const auto& [pid, process] : Processes_) {
        for (const auto& socket : process.Sockets) entries.emplace_back(socket.first, pid);
    }
    Index_ = TSocketOwners::FromEntries(std::move(entries));
}

TSocketOwners TSocketOwnerCache::Find(const std::vector<uint64_t>& inodes) {
    const TDirPtr proc = OpenDirAt(AT_FDCWD, "/proc");
    if (!proc) return TSocketOwners();
    const int procFd = dirfd(proc.get());
    ++Pass_;

    const auto sameSockets = [](const TProcess& a, const TProcess& b) {
        return std::equal(a.Sockets.begin(), a.Sockets.end(), b.Sockets.begin(), b.Sockets.end(),
                          [](const auto& x, const auto& y) { return x.first == y.first; });
    };
    // Reads the kept process at `it` again, adding to `gained` the sockets it
    // holds now and did not before; false when it is gone (and dropped).
    bool changed = false;
    const auto reread = [&](std::map<uint32_t, TProcess>::iterator& it, std::vector<uint64_t>* gained = nullptr) {
        TProcess fresh;
        fresh.Pass = Pass_;
        if (ReadProcess(procFd, it->first, fresh) != TRead::Sockets) {
            it = Processes_.erase(it);
            changed = true;
            return false;
        }
        for (const auto& socket : fresh.Sockets) {
            if (gained != nullptr && DescriptorOf(it->second.Sockets, socket.first) < 0) gained->push_back(socket.first);
        }
        changed = changed || !sameSockets(fresh, it->second);
        it->second = std::move(fresh);
        return true;
    };

    std::vector<uint64_t> gained;
    for (auto it = Processes_.begin(); it != Processes_.end();) {
        if (Unchanged(procFd, it->first, it->second) || reread(it, &gained)) ++it;
    }
    if (changed) RebuildIndex();
    // Owners that may have closed a socket asked for, and kept their count by
    // opening another descriptor.
    std::sort(gained.begin(), gained.end());
    changed = false;
    for (const uint32_t pid : StaleOwners(procFd, inodes, gained)) {
        auto it = Processes_.find(pid);
        reread(it);
    }
    if (changed) RebuildIndex();

    // The sockets asked for that no kept process holds and no earlier walk
    // missed.
    std::vector<uint64_t> missing;
    // Both sorted: one merge instead of a search per socket.
    const auto& kept = Index_.Entries();
    auto next = kept.begin();
    const auto stamp = static_cast<uint32_t>(Pass_);
    auto known = Missing_.begin();
    for (size_t i = 0; i < inodes.size(); ++i) {
        const uint64_t inode = inodes[i];
        while (next != kept.end() && next->first < inode) ++next;
        if (inode == 0 || (i > 0 && inodes[i - 1] == inode) || (next != kept.end() && next->first == inode)) continue;
        while (known != Missing_.end() && known->Inode < inode) ++known;
        if (known != Missing_.end() && known->Inode == inode) {
            known->LastWanted = stamp;
            continue;
        }
        missing.push_back(inode);
    }
    const auto takeFound = [&missing](const TProcess& process) {
        std::erase_if(missing, [&process](uint64_t inode) { return DescriptorOf(process.Sockets, inode) >= 0; });
    };

    if (!missing.empty()) {
        changed = false;
        const std::vector<uint32_t> pids = ProcessIds(procFd);
        // First the processes not kept: a socket no kept process holds is most
        // likely a new process's.
        for (size_t i = 0; i < pids.size() && !missing.empty(); ++i) {
            if (Processes_.contains(pids[i])) continue;
            TProcess process;
            process.Pass = Pass_;
            if (ReadProcess(procFd, pids[i], process) != TRead::Sockets) continue;
            takeFound(process);
            Processes_.emplace(pids[i], std::move(process));
            changed = true;
        }
        // Then the kept ones not read in this pass: an unchanged count or
        // unchanged links tell nothing of a socket opened in place of another
        // descriptor.
        for (auto it = Processes_.begin(); it != Processes_.end() && !missing.empty();) {
            if (it->second.Pass == Pass_) {
                ++it;
            } else if (reread(it)) {
                takeFound(it->second);
                ++it;
            }
        }
        RememberMissing(missing);
        if (changed) RebuildIndex();
    }
    // Found meanwhile, or no longer asked for: a socket that is gone.
    std::erase_if(Missing_, [&](const TMissing& entry) {
        return static_cast<uint32_t>(stamp - entry.LastWanted) > kMissingKeptPasses || Index_.Contains(entry.Inode);
    });
    return Index_;
}

void TSocketOwnerCache::RememberMissing(std::vector<uint64_t>& missing) {
    const auto stamp = static_cast<uint32_t>(Pass_);
    // Room within the bound, no more than needed: the sockets asked for
    // longest ago go first, and when this pass's own are too many, its
    // highest numbers.
    const auto room = [this] { return kMaxMissingKept - std::min(Missing_.size(), kMaxMissingKept); };
    while (!Missing_.empty() && missing.size() > room()) {
        const uint32_t oldest = std::max_element(Missing_.begin(), Missing_.end(), [stamp](const auto& a, const auto& b) {
                                    return static_cast<uint32_t>(stamp - a.LastWanted) <
                                           static_cast<uint32_t>(stamp - b.LastWanted);
                                })->LastWanted;
        if (oldest == stamp) break;
        size_t excess = missing.size() - room();
        std::erase_if(Missing_, [&](const TMissing& entry) { return entry.LastWanted == oldest && excess > 0 && excess-- > 0; });
    }
    missing.resize(std::min(missing.size(), room()));
    if (missing.empty()) return;

    // Merged in from the back, in place: no second copy of what is kept.
    size_t kept = Missing_.size();
    const size_t total = kept + missing.size();
    if (total > Missing_.capacity()) Missing_.reserve(std::min(kMaxMissingKept, std::max(total, 2 * Missing_.capacity())));
    Missing_.resize(total);
    size_t added = missing.size();
    for (size_t to = total; added > 0; --to) {
        if (kept > 0 && Missing_[kept - 1].Inode > missing[added - 1]) {
            Missing_[to - 1] = Missing_[--kept];
        } else {
            Missing_[to - 1] = TMissing{missing[--added], stamp};
        }
    }
}

TSocketOwners TProcSocketOwnerSource::FindOwners(const std::vector<uint64_t>& inodes) {
    std::lock_guard lock(Mutex_);
    return Cache_.Find(inodes);
}

}  // namespace tarnwick
