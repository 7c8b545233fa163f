// Failures of Windows calls as the program's failures: the error code as the
// nearest errno (what the core decides on: ENOENT, EACCES, ...) and Windows's
// own message for it, which is what the user reads.
#pragma once

#include <cstdint>
#include <string>

#include "common/result.h"

namespace tarnwick {

// The errno nearest to the Windows (or Winsock) error `error`; EIO for one
// without a near errno.
int ErrnoOfWin32Error(uint32_t error);

// A failure of `error` while doing `context`: Errno as ErrnoOfWin32Error,
// SystemText Windows's message for it with its number, "Access is denied
// (Windows error 5)".
TFailure FailureFromWin32(uint32_t error, std::string context);

// The same for GetLastError() and WSAGetLastError() as the call left them.
TFailure FailureFromLastError(std::string context);
TFailure FailureFromLastSocketError(std::string context);

}  // namespace tarnwick
