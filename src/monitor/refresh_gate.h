// Keeps refreshes apart: at most one runs at any time, whichever its runner,
// and the requests that arrive while one runs are served by one refresh after
// it. Used on the window thread only, so it needs no lock.
#pragma once

namespace tarnwick {

class TRefreshGate {
public:
    // A refresh is wanted. True: the caller starts it now. False: one is
    // running; the request is remembered and served when it ends.
    bool TryBegin() {
        if (Running_) {
            Pending_ = true;
            return false;
        }
        Running_ = true;
        return true;
    }

    // The running refresh has ended. True: requests came in meanwhile and the
    // caller starts one refresh for all of them (the gate stays closed for it).
    bool End() {
        if (!Pending_) {
            Running_ = false;
            return false;
        }
        Pending_ = false;
        return true;
    }

    bool Running() const { return Running_; }
    bool Pending() const { return Pending_; }

private:
    bool Running_ = false;
    bool Pending_ = false;
};

}  // namespace tarnwick
