// Small helpers for walking /proc without allocating: directory streams
// opened relative to a parent directory, and process ids parsed from entry
// names.
#pragma once

#include <dirent.h>
#include <fcntl.h>

#include <cstdint>
#include <memory>

#include "platform/linux/unique_fd.h"

namespace tarnwick {

struct TDirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using TDirPtr = std::unique_ptr<DIR, TDirCloser>;

// Opens `path` relative to `dirFd` (or AT_FDCWD) as a directory stream that
// owns its descriptor. Null when it cannot be opened; errno tells why.
inline TDirPtr OpenDirAt(int dirFd, const char* path) {
    TUniqueFd fd(openat(dirFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.IsValid()) return nullptr;
    DIR* dir = fdopendir(fd.Get());
    if (dir == nullptr) return nullptr;
    fd.Release();  // the stream owns it now
    return TDirPtr(dir);
}

// Longest process directory name: a 32-bit id has at most 10 digits.
inline constexpr int kMaxPidDigits = 10;

// A process id from a /proc entry name: 1 to 10 digits, fits 32 bits, not 0.
// Everything else in /proc ("self", "net", "sys", ...) is rejected.
inline bool ParsePid(const char* name, uint32_t& pid) {
    uint64_t value = 0;
    int digits = 0;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || ++digits > kMaxPidDigits) return false;
        value = value * 10 + static_cast<uint64_t>(*c - '0');
    }
    if (digits == 0 || value == 0 || value > UINT32_MAX) return false;
    pid = static_cast<uint32_t>(value);
    return true;
}

}  // namespace tarnwick
