#include "platform/linux/process_exe.h"

#include <limits.h>
#include <unistd.h>

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

std::string GetProcessExePath(uint32_t pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = readlink(link.c_str(), buffer.data(), buffer.size());
    if (length <= 0) return "?";
    return CutExePath(std::string(buffer.data(), static_cast<size_t>(length)));
}

}  // namespace tarnwick
