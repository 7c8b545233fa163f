// Starts programs detached: the file itself is executed (argv = {path}, no
// shell, nothing added), in a session of its own, with standard input from
// /dev/null, and as the child of a short-lived intermediate process, so it is
// never our child: nobody here waits for it or has to reap it.
//
// Safe in a multi-threaded process: between fork and exec only
// async-signal-safe calls are made.
#pragma once

#include <string>

#include "platform/program_launcher.h"

namespace tarnwick {

class TLinuxProgramLauncher final : public TProgramLauncher {
public:
    // Returns once the program's exec succeeded or failed, without waiting
    // for the program itself. Fails when the file could not be executed (not
    // found, not executable, not a format the kernel runs: the exec's errno)
    // or no process could be made. The program inherits our environment,
    // working directory and standard output and error; every other
    // descriptor is closed for it.
    TStatus Launch(const std::string& path) override;
};

}  // namespace tarnwick
