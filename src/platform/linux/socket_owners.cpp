#include "platform/linux/socket_owners.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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

}  // namespace

TSocketOwners TSocketOwners::Scan(const std::string& procRoot) {
    TSocketOwners owners;
    TDirPtr proc = OpenDirAt(AT_FDCWD, procRoot.c_str());
    if (!proc) return owners;
    const int procFd = dirfd(proc.get());

    char fdDirPath[kMaxPidDigits + sizeof "/fd"];
    // Room for "socket:[" + 20 digits + "]"; longer targets are not sockets.
    char link[64];

    while (const dirent* process = readdir(proc.get())) {
        uint32_t pid = 0;
        if (!ParsePid(process->d_name, pid)) continue;
        const size_t nameLength = std::strlen(process->d_name);
        std::memcpy(fdDirPath, process->d_name, nameLength);
        std::memcpy(fdDirPath + nameLength, "/fd", 4);

        // Fails for a process that has exited (ENOENT) or that we may not
        // inspect (EACCES): both are skipped.
        TDirPtr fds = OpenDirAt(procFd, fdDirPath);
        if (!fds) continue;
        const int fdsFd = dirfd(fds.get());
        while (const dirent* fd = readdir(fds.get())) {
            if (fd->d_name[0] < '0' || fd->d_name[0] > '9') continue;  // ".", ".."
            const ssize_t length = readlinkat(fdsFd, fd->d_name, link, sizeof link);
            // Gone meanwhile, or filling the buffer and so possibly cut short.
            if (length <= 0 || static_cast<size_t>(length) >= sizeof link) continue;
            uint64_t inode = 0;
            if (ParseSocketLink(link, static_cast<size_t>(length), inode)) owners.Owners_.emplace_back(inode, pid);
        }
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

}  // namespace tarnwick
