// The main window's services on the system it is built for. Each system's
// header gives TWindowProgramServices (every service, made in one place),
// MainServicesOf (the window's view of them) and PrepareWindowProcess (what
// the process sets up before the window is made).
#pragma once

#ifdef _WIN32
#include "main_services_windows.h"
#else
#include "main_services_linux.h"
#endif
