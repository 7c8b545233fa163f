#include "platform/linux/process_exe.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

namespace tarnwick {

std::string CutExePath(std::string path) {
    if (path.size() <= kMaxExePathLength) return path;
    size_t cut = kMaxExePathLength;
    // Back off over continuation bytes so that no character is split.
    while (cut > 0 && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) --cut;
    path.resize(cut);
    return path;
}

TResult<std::string> GetProcessExePath(uint32_t pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = readlink(link.c_str(), buffer.data(), buffer.size());
    if (length < 0) return FailureFromErrno("reading " + link);
    if (length == 0) return TFailure{ENOENT, "reading " + link};
    std::string path(buffer.data(), static_cast<size_t>(length));
    // The kernel marks a file that has lost its name (deleted, or replaced by
    // a package upgrade) with " (deleted)" after the path it had (d_path in
    // fs/d_path.c). The path is what the user knows the program by, and what
    // the package database has. The link still reaches the running file: it
    // tells a lost name (no links left) from a file really named so.
    constexpr std::string_view kDeletedMarker = " (deleted)";
    if (path.ends_with(kDeletedMarker)) {
        struct stat running {};
        const bool lostName =
            stat(link.c_str(), &running) == 0 ? running.st_nlink == 0 : access(path.c_str(), F_OK) != 0;
        if (lostName) path.resize(path.size() - kDeletedMarker.size());
    }
    return CutExePath(std::move(path));
}

}  // namespace tarnwick
