// Opening a file for writing without hanging on a FIFO that nobody reads.
#pragma once

#include <sys/types.h>

#include <string>

#include "common/result.h"
#include "platform/linux/unique_fd.h"

namespace tarnwick {

// Opens `path` write-only with `flags` added (O_CREAT, O_TRUNC, ...; new
// files get `mode` less the umask), close-on-exec, never as the controlling
// terminal. A FIFO without a reader gets two seconds for one to open it, then
// fails with ENXIO. The descriptor blocks in writes as usual. A failure says
// "opening <path>" with the errno.
TResult<TUniqueFd> OpenForWriting(const std::string& path, int flags = 0, mode_t mode = 0);

}  // namespace tarnwick
