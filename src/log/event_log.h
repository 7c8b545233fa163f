// The event log: time-stamped lines with a kind, oldest first, in memory.
// Everything the monitor reports goes through AddLog on the window thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "log/log_kind.h"
#include "common/kept_texts.h"

namespace tarnwick {

struct TLogEntry {
    std::string Line;  // time stamp, four blanks, then the message
    LogKind Kind = lkInfo;
};

class TEventLog {
public:
    using TClock = std::function<std::chrono::system_clock::time_point()>;
    // Writes the whole log somewhere; returns false when it could not (the
    // saver reports why to the user).
    using TAutoSaver = std::function<bool(const TEventLog&)>;

    // More entries than this start the automatic save, when it is on.
    static constexpr size_t AutoSaveLimit = 1000;
    static constexpr const char* kAutoSavedText = kAutoSavedLine;

    explicit TEventLog(TClock clock = std::chrono::system_clock::now);

    // Appends the stamped line. When the log then holds more than
    // AutoSaveLimit entries and AutoSaveLog is on, the saver writes it all;
    // on success the log is emptied and notes the save as its only entry, on
    // failure every entry stays and the next AddLog tries again.
    void AddLog(const std::string& text, LogKind kind);

    size_t Count() const { return Entries_.size(); }
    const TLogEntry& Entry(size_t index) const { return Entries_.at(index); }
    const std::vector<TLogEntry>& Entries() const { return Entries_; }
    void Clear();

    bool AutoSaveLog = true;
    TAutoSaver AutoSaver;

    // Told of every appended entry and of every clearing, on the thread that made them.
    std::function<void(const TLogEntry&)> OnAdded;
    std::function<void()> OnCleared;

private:
    TClock Clock_;
    std::vector<TLogEntry> Entries_;
};

}  // namespace tarnwick
