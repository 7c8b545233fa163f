#include "platform/linux/linux_process_list.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/linux/proc_dir.h"

namespace tarnwick {

namespace {

// Appended by the kernel to the target of /proc/<pid>/exe once the
// executable has been deleted or replaced (d_path() in fs/d_path.c).
constexpr std::string_view kDeletedSuffix = " (deleted)";

// Cuts `name` to the size limit without leaving half of a UTF-8 sequence.
void CutName(std::string& name) {
    if (name.size() <= kMaxProcessNameBytes) return;
    size_t end = kMaxProcessNameBytes;
    // Back up over continuation bytes (10xxxxxx) to the start of the
    // sequence the limit falls in, which is then dropped whole.
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    name.resize(end);
}

// The executable's file name, or empty when the link cannot be read.
std::string ExeName(int procFd, const char* pidName) {
    char path[kMaxPidDigits + sizeof "/exe"];
    std::strcpy(path, pidName);
    std::strcat(path, "/exe");
    char target[PATH_MAX];
    const ssize_t length = readlinkat(procFd, path, target, sizeof target);
    if (length <= 0) return {};
    std::string_view view(target, static_cast<size_t>(length));
    if (view.size() > kDeletedSuffix.size() && view.ends_with(kDeletedSuffix)) {
        view.remove_suffix(kDeletedSuffix.size());
    }
    if (const size_t slash = view.rfind('/'); slash != std::string_view::npos) view.remove_prefix(slash + 1);
    return std::string(view);
}

// The kernel's command name (at most 15 bytes plus a newline), or nullopt
// when the process is gone.
std::optional<std::string> CommName(int procFd, const char* pidName) {
    char path[kMaxPidDigits + sizeof "/comm"];
    std::strcpy(path, pidName);
    std::strcat(path, "/comm");
    const TUniqueFd fd(openat(procFd, path, O_RDONLY | O_CLOEXEC));
    if (!fd.IsValid()) return std::nullopt;
    char text[64];
    ssize_t length;
    do {
        length = read(fd.Get(), text, sizeof text);
    } while (length < 0 && errno == EINTR);
    if (length < 0) return std::nullopt;
    std::string_view view(text, static_cast<size_t>(length));
    if (!view.empty() && view.back() == '\n') view.remove_suffix(1);
    return std::string(view);
}

}  // namespace

std::optional<std::string> ReadProcessName(int procFd, const char* pidName) {
    std::string name = ExeName(procFd, pidName);
    if (name.empty()) {
        std::optional<std::string> comm = CommName(procFd, pidName);
        if (!comm) return std::nullopt;  // exited while we looked
        name = std::move(*comm);
    }
    CutName(name);
    return name;
}

TLinuxProcessList::TLinuxProcessList(std::string procRoot) : ProcRoot_(std::move(procRoot)) {}

TResult<std::vector<TProcessEntry>> TLinuxProcessList::TakeSnapshot() {
    TDirPtr proc = OpenDirAt(AT_FDCWD, ProcRoot_.c_str());
    if (!proc) return FailureFromErrno("listing the processes in " + ProcRoot_);
    const int procFd = dirfd(proc.get());

    std::vector<TProcessEntry> processes;
    processes.reserve(512);
    while (const dirent* entry = readdir(proc.get())) {
        uint32_t pid = 0;
        if (!ParsePid(entry->d_name, pid)) continue;
        std::optional<std::string> name = ReadProcessName(procFd, entry->d_name);
        if (!name) continue;  // exited while we looked
        processes.push_back(TProcessEntry{pid, std::move(*name)});
    }
    return processes;
}

}  // namespace tarnwick
