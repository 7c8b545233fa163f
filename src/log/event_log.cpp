#include "log/event_log.h"

#include "log/time_stamp.h"

namespace tarnwick {

TEventLog::TEventLog(TClock clock) : Clock_(std::move(clock)) {}

void TEventLog::AddLog(const std::string& text, LogKind kind, std::optional<TLogConnection> connection) {
    const auto now = connection && connection->At ? *connection->At : Clock_();
    std::string line = TimeStamp(now) + "    ";
    const size_t textStart = line.size();
    line += text;
    TLogEntry entry{std::move(line), kind, now, textStart, std::move(connection)};
    if (!KeepEntries) {
        if (OnAdded) OnAdded(entry);
        return;
    }
    Entries_.push_back(std::move(entry));
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
