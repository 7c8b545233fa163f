#include "platform/windows/console_io.h"

#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "platform/windows/wide_text.h"

namespace tarnwick {

std::vector<std::string> CommandLineArguments() {
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return args;
    for (int i = 1; i < count; ++i) args.push_back(Utf8Text(wide[i]));
    ::LocalFree(wide);
    return args;
}

namespace {

// The console's code page before ours: the console outlives the program, and
// the shell that runs in it after us expects its own.
UINT ConsoleCodePageBefore = 0;

void RestoreConsoleCodePage() { ::SetConsoleOutputCP(ConsoleCodePageBefore); }

}  // namespace

void PrepareConsoleOutput() {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    // 0: no console (output into a file or a pipe), nothing to set.
    ConsoleCodePageBefore = ::GetConsoleOutputCP();
    if (ConsoleCodePageBefore != 0 && ConsoleCodePageBefore != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8))
        std::atexit(RestoreConsoleCodePage);
}

}  // namespace tarnwick
