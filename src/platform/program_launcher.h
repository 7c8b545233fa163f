// Starts programs for rule actions: directly (no shell, no arguments added),
// detached, never waited for.
#pragma once

#include <string>

namespace tarnwick {

class TProgramLauncher {
public:
    virtual ~TProgramLauncher() = default;

    // Starts the executable file at `path`. Returns false when it could not be
    // started; the caller does not report that (a rule's run action logs its
    // line whatever the outcome).
    virtual bool Launch(const std::string& path) = 0;
};

}  // namespace tarnwick
