// Waiting for Ctrl+C, Ctrl+Break or the console's close on Windows: a console
// control handler sets an event instead of letting the process end midway
// through a refresh. One object at a time; make it first thing in main.
#pragma once

#include <chrono>

namespace tarnwick {

class TInterruptWait {
public:
    TInterruptWait();
    // Removes the handler: the keys end the process again.
    ~TInterruptWait();
    TInterruptWait(const TInterruptWait&) = delete;
    TInterruptWait& operator=(const TInterruptWait&) = delete;

    // Waits up to `timeout` for an interrupt. True when one arrived, or at
    // once when one has arrived before; false when the time ran out.
    bool WaitForInterrupt(std::chrono::milliseconds timeout);

    // True once an interrupt has arrived. Safe to read from any thread.
    bool Interrupted() const;
};

}  // namespace tarnwick
