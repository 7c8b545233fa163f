// A wake-up that any thread sends and one thread's event loop watches: a
// descriptor that polls readable once signalled, until cleared. It carries
// no data, so whatever is handed over travels under the sender's own lock,
// where ThreadSanitizer sees the ordering (it cannot see the ordering of the
// toolkit's own cross-thread queue).
#pragma once

namespace tarnwick {

class TWakeup {
public:
    virtual ~TWakeup() = default;
    // The descriptor to watch for reading.
    virtual int Fd() const = 0;
    // From any thread: makes Fd() readable.
    virtual void Signal() = 0;
    // On the watching thread: makes Fd() unreadable until the next Signal.
    virtual void Clear() = 0;
};

}  // namespace tarnwick
