// The running processes of a Linux system, read from /proc.
//
// A process's name is the file name of its executable (the target of
// /proc/<pid>/exe without its folder, and without the " (deleted)" the kernel
// appends once the file is gone). Where that link cannot be read — kernel
// threads have none, other users' processes hide it from unprivileged readers,
// zombies have lost it — the name is the kernel's short command name from
// /proc/<pid>/comm. Names are cut to kMaxProcessNameBytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/process_list.h"

namespace tarnwick {

inline constexpr size_t kMaxProcessNameBytes = 260;

// The name of process `pidName` (its id as text) under the proc directory
// `procFd`, by the rules above; nullopt when the process is gone.
std::optional<std::string> ReadProcessName(int procFd, const char* pidName);

class TLinuxProcessList final : public TProcessList {
public:
    // `procRoot` is where the proc file system is mounted.
    explicit TLinuxProcessList(std::string procRoot = "/proc");

    // Processes that exit while the list is read are left out. Nullopt only
    // when `procRoot` cannot be opened.
    TResult<std::vector<TProcessEntry>> TakeSnapshot() override;

private:
    std::string ProcRoot_;
};

}  // namespace tarnwick
