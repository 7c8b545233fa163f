#include "platform/windows/console_interrupt.h"

#include <windows.h>

#include <atomic>

namespace tarnwick {

namespace {

// The handler runs on a thread Windows starts for it; it only sets the event.
HANDLE InterruptEvent = nullptr;
std::atomic<bool> InterruptArrived{false};

BOOL WINAPI OnConsoleControl(DWORD control) {
    switch (control) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            InterruptArrived = true;
            ::SetEvent(InterruptEvent);
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

TInterruptWait::TInterruptWait() {
    InterruptEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    InterruptArrived = false;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

TInterruptWait::~TInterruptWait() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    ::CloseHandle(InterruptEvent);
    InterruptEvent = nullptr;
}

bool TInterruptWait::WaitForInterrupt(std::chrono::milliseconds timeout) {
    if (InterruptArrived) return true;
    const DWORD wait = timeout.count() < 0 ? INFINITE : static_cast<DWORD>(timeout.count());
    return ::WaitForSingleObject(InterruptEvent, wait) == WAIT_OBJECT_0;
}

bool TInterruptWait::Interrupted() const { return InterruptArrived; }

}  // namespace tarnwick
