// The services of the command-line tool on the system it is built for. Each
// system's header gives the same names:
//   TCliServices                the monitor's services: IpTables(), Processes(),
//                               Names, Killer(), Launcher, Sound, and whether
//                               owners and closing are available, Packets()
//   TCliCaptureServices         Packets(), the captures
//   TCliJournal                 the system journal, for watch --journal
//   TInterruptWait              Ctrl+C and its kind, waited for
//   OpenEndedConnections()      connections that end between refreshes, or null
//   ConnectionTablesAvailable(), kConnectionTablesSource
//   CliLocationOpener(), kNoLocationDatabase
//   NoteCaptureLimits()
//   CommandLineArguments(argc, argv), PrepareConsoleOutput()
//   GetProcessExePath(), ReadProcessInfoFields()
#pragma once

#ifdef _WIN32
#include "cli_platform_windows.h"
#else
#include "cli_platform_linux.h"
#endif
