// The whole run of tarnwick-helper (see app/helper_main.cpp): its setup, from
// dropping capabilities to confining its system calls, then the serving loop.
#pragma once

namespace tarnwick {

// The helper's exit status: 0 when its parent went away, 1 when it could not
// confine itself, 2 when it was not started as tarnwick and tarnwick-cli start
// it (`argc` other than 1, no socket pair on kHelperSocketFd).
int RunHelperProgram(int argc);

}  // namespace tarnwick
