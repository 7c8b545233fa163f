#include "platform/windows/win32_failure.h"

#include <winsock2.h>
#include <windows.h>

#include <cerrno>

#include "platform/windows/wide_text.h"

namespace tarnwick {

int ErrnoOfWin32Error(uint32_t error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_MOD_NOT_FOUND:
        case ERROR_NOT_FOUND: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD:
        case ERROR_NETWORK_ACCESS_DENIED:
        case WSAEACCES: return EACCES;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        case ERROR_INVALID_PARAMETER:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case WSAEINVAL: return EINVAL;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_BUSY: return EBUSY;
        case ERROR_DIRECTORY: return ENOTDIR;
        case ERROR_WRITE_PROTECT: return EROFS;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_NOT_SUPPORTED:
        case ERROR_CALL_NOT_IMPLEMENTED:
        case WSAEOPNOTSUPP: return ENOTSUP;
        case ERROR_INSUFFICIENT_BUFFER:
        case WSAENOBUFS: return ENOBUFS;
        case WSAEAFNOSUPPORT: return EAFNOSUPPORT;
        case WSAEPROTONOSUPPORT:
        case WSAESOCKTNOSUPPORT: return EPROTONOSUPPORT;
        case WSAEADDRNOTAVAIL: return EADDRNOTAVAIL;
        case WSAENETDOWN: return ENETDOWN;
        case WSAEINTR: return EINTR;
        default: return EIO;
    }
}

namespace {

// Words for the errors the program meets most, where the system has none of
// its own for them (Wine has no texts for the Winsock errors).
const char* FallbackText(uint32_t error) {
    switch (error) {
        case WSAEACCES: return "Permission denied";
        case WSAEPROTONOSUPPORT: return "Protocol not supported";
        case WSAESOCKTNOSUPPORT: return "Socket type not supported";
        case WSAEAFNOSUPPORT: return "Address family not supported";
        case WSAEOPNOTSUPP: return "Operation not supported";
        case WSAEADDRNOTAVAIL: return "Address not available";
        case WSAENETDOWN: return "Network is down";
        default: return "Unknown error";
    }
}

}  // namespace

TFailure FailureFromWin32(uint32_t error, std::string context) {
    wchar_t* message = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text = length > 0 ? Utf8Text(std::wstring_view(message, length)) : std::string();
    if (message != nullptr) ::LocalFree(message);
    // Windows ends its messages with a full stop and a line break; strerror's have neither.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty()) text = FallbackText(error);
    text += " (Windows error " + std::to_string(error) + ")";
    return TFailure{ErrnoOfWin32Error(error), std::move(context), std::move(text)};
}

TFailure FailureFromLastError(std::string context) { return FailureFromWin32(::GetLastError(), std::move(context)); }

TFailure FailureFromLastSocketError(std::string context) {
    return FailureFromWin32(static_cast<uint32_t>(::WSAGetLastError()), std::move(context));
}

}  // namespace tarnwick
