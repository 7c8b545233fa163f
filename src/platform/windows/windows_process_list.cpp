#include "platform/windows/windows_process_list.h"

#include <windows.h>
#include <tlhelp32.h>

#include "common/text_util.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_failure.h"

namespace tarnwick {

TResult<std::vector<TProcessEntry>> TWindowsProcessList::TakeSnapshot() {
    const TUniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) return FailureFromLastError("taking a snapshot of the processes");
    std::vector<TProcessEntry> processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry)) {
        const std::string name = Utf8Text(entry.szExeFile);
        processes.push_back({entry.th32ProcessID, std::string(CutUtf8(name, kMaxProcessNameBytes))});
    }
    if (const DWORD error = ::GetLastError(); error != ERROR_NO_MORE_FILES)
        return FailureFromWin32(error, "listing the processes");
    return processes;
}

TResult<std::string> GetProcessExePath(uint32_t pid) {
    // The limited right is enough for the image name, and is granted for
    // more processes than the full query right.
    const TUniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.IsValid()) return FailureFromLastError("opening process " + std::to_string(pid));
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(path.size());
        if (::QueryFullProcessImageNameW(process.Get(), 0, path.data(), &length)) {
            path.resize(length);
            break;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768)
            return FailureFromWin32(error, "reading the executable of process " + std::to_string(pid));
        path.resize(path.size() * 2);
    }
    return std::string(CutUtf8(Utf8Text(path), kMaxExePathLength));
}

}  // namespace tarnwick
