// Winsock is started once per process, by the first part of the program that
// needs it (the host name, a wake-up socket, a capture), and stays up until
// the process ends.
#pragma once

#include "common/result.h"

namespace tarnwick {

// Starts Winsock 2.2 the first time; the same answer every time after.
TStatus StartWinsock();

}  // namespace tarnwick
