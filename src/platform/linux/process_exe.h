// The executable file of a running process.
#pragma once

#include <cstdint>
#include <string>

#include "common/result.h"

namespace tarnwick {

inline constexpr size_t kMaxExePathLength = 254;

// The path of process `pid`'s executable (the link /proc/<pid>/exe; for a
// file deleted or replaced since the process started, the path it was run
// from, without the kernel's " (deleted)" mark), cut at
// kMaxExePathLength bytes (never inside a UTF-8 sequence). Fails when it
// cannot be read: no such process (ENOENT), a kernel thread (ENOENT), or
// another user's process without the rights to look (EACCES).
TResult<std::string> GetProcessExePath(uint32_t pid);

// `path` cut as GetProcessExePath cuts it.
std::string CutExePath(std::string path);

}  // namespace tarnwick
