#include "log/event_log.h"

#include "log/time_stamp.h"

namespace tarnwick {

TEventLog::TEventLog(TClock clock) : Clock_(std::move(clock)) {}

void TEventLog::AddLog(const std::string& text, LogKind kind) {
    Entries_.push_back(TLogEntry{TimeStamp(Clock_()) + "    " + text, kind});
    if (OnAdded) OnAdded(Entries_.back());
    if (Entries_.size() <= AutoSaveLimit || !AutoSaveLog || !AutoSaver) return;
    if (!AutoSaver(*this)) {
        AutoSaveErrorReported_ = true;
        return;
    }
    AutoSaveErrorReported_ = false;
    Clear();
    AddLog(kAutoSavedText, lkInfo);  // one entry now: cannot start another save
}

void TEventLog::Clear() {
    Entries_.clear();
    if (OnCleared) OnCleared();
}

}  // namespace tarnwick
