// The event log: time-stamped lines with a kind, oldest first, in memory.
// Everything the monitor reports goes through AddLog on the window thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/log_connection.h"
#include "monitor/log_kind.h"
#include "common/kept_texts.h"

namespace tarnwick {

struct TLogEntry {
    std::string Line;  // time stamp, four blanks, then the message
    LogKind Kind = lkInfo;
    // When the entry was made, and where its message starts in Line: the
    // machine-readable outputs write the time in their own form.
    std::chrono::system_clock::time_point Time{};
    size_t TextStart = 0;
    // The connection the entry is about, for events of a connection and the
    // lines of the rules it matched.
    std::optional<TLogConnection> Connection = std::nullopt;

    // The message: the line without its time stamp.
    std::string_view Text() const { return std::string_view(Line).substr(std::min(TextStart, Line.size())); }
};

class TEventLog {
public:
    using TClock = std::function<std::chrono::system_clock::time_point()>;
    // Writes the whole log somewhere; returns false when it could not. The
    // saver tells the user why, once per run of failures: only while
    // AutoSaveErrorReported() is false.
    using TAutoSaver = std::function<bool(const TEventLog&)>;

    // More entries than this start the automatic save, when it is on.
    static constexpr size_t AutoSaveLimit = 1000;
    static constexpr const char* kAutoSavedText = kAutoSavedLine;

    explicit TEventLog(TClock clock = std::chrono::system_clock::now);

    // Appends the stamped line, with the connection it is about when there is
    // one. When the log then holds more than
    // AutoSaveLimit entries and AutoSaveLog is on, the saver writes it all;
    // on success the log is emptied and notes the save as its only entry, on
    // failure every entry stays and the next AddLog tries again.
    void AddLog(const std::string& text, LogKind kind, std::optional<TLogConnection> connection = std::nullopt);

    // True from a failed automatic save until one succeeds or
    // ResetAutoSaveErrorReport is called. While the Logs folder stays
    // unwritable every new line fails again; the user hears of the first.
    bool AutoSaveErrorReported() const { return AutoSaveErrorReported_; }
    // Lets the next failure be reported again: for when the user has changed
    // the options, and may have fixed the cause or want to hear of it anew.
    void ResetAutoSaveErrorReport() { AutoSaveErrorReported_ = false; }

    size_t Count() const { return Entries_.size(); }
    const TLogEntry& Entry(size_t index) const { return Entries_.at(index); }
    const std::vector<TLogEntry>& Entries() const { return Entries_; }
    void Clear();

    bool AutoSaveLog = true;
    TAutoSaver AutoSaver;
    // Off, an entry is only handed to OnAdded and not kept: for a watcher
    // that writes every entry out as it comes (no automatic save either).
    bool KeepEntries = true;

    // Told of every appended entry and of every clearing, on the thread that made them.
    std::function<void(const TLogEntry&)> OnAdded;
    std::function<void()> OnCleared;

private:
    TClock Clock_;
    std::vector<TLogEntry> Entries_;
    bool AutoSaveErrorReported_ = false;
};

}  // namespace tarnwick
