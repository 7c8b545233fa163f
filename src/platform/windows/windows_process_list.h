// The running processes of a Windows system, from a Toolhelp snapshot: each
// process's id and the file name of its executable (as PROCESSENTRY32W holds
// it), cut to kMaxProcessNameBytes of UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/process_list.h"

namespace tarnwick {

inline constexpr size_t kMaxProcessNameBytes = 260;

class TWindowsProcessList final : public TProcessList {
public:
    TResult<std::vector<TProcessEntry>> TakeSnapshot() override;
};

// The length at which executable paths are cut: the path field of the
// process information.
inline constexpr size_t kMaxExePathLength = 254;

// The full path of process `pid`'s executable (QueryFullProcessImageNameW),
// cut at kMaxExePathLength bytes of UTF-8. Fails when the process cannot be
// opened (no such process: EINVAL; another user's, without the rights to
// look: EACCES) or its image name read.
TResult<std::string> GetProcessExePath(uint32_t pid);

}  // namespace tarnwick
