#include "platform/windows/windows_program_launcher.h"

#include <windows.h>

#include "platform/windows/wide_text.h"
#include "platform/windows/win32_failure.h"

namespace tarnwick {

TStatus TWindowsProgramLauncher::Launch(const std::string& path) {
    const std::wstring application = WideText(path);
    // The command line is the program's name alone, quoted (a Windows path
    // holds no quote); CreateProcessW may write into it.
    std::wstring commandLine = L"\"" + application + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NEW_PROCESS_GROUP | CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup, &process))
        return FailureFromLastError("starting " + path);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return {};
}

}  // namespace tarnwick
