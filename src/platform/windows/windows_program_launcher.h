// Starts programs for rule actions with CreateProcessW: the file itself is
// run (no shell, no arguments but its own name), in a process group of its
// own, inheriting no handles; its handles are closed at once, so nobody here
// waits for it.
#pragma once

#include "platform/program_launcher.h"

namespace tarnwick {

class TWindowsProgramLauncher final : public TProgramLauncher {
public:
    // Fails, with Windows's reason, when the file could not be run (not
    // found, not a program Windows runs, access denied).
    TStatus Launch(const std::string& path) override;
};

}  // namespace tarnwick
