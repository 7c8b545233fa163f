#include "platform/windows/winsock.h"

#include <winsock2.h>

#include "platform/windows/win32_failure.h"

namespace tarnwick {

TStatus StartWinsock() {
    static const TStatus started = [] {
        WSADATA data{};
        // WSAStartup returns its error rather than leaving it for WSAGetLastError.
        if (const int error = ::WSAStartup(MAKEWORD(2, 2), &data); error != 0)
            return TStatus(FailureFromWin32(static_cast<uint32_t>(error), "starting Windows Sockets 2.2"));
        return TStatus();
    }();
    return started;
}

}  // namespace tarnwick
