// Starts programs for rule actions: directly (no shell, no arguments added),
// detached, never waited for.
#pragma once

#include <string>

#include "common/result.h"

namespace tarnwick {

class TProgramLauncher {
public:
    virtual ~TProgramLauncher() = default;

    // Starts the executable file at `path`. Fails, with the errno of the exec
    // or of making the process, when it could not be started.
    virtual TStatus Launch(const std::string& path) = 0;
};

}  // namespace tarnwick
