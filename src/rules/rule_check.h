// Trying the rules against a new established connection and carrying out the
// actions of every rule that matches.
#pragma once

#include <optional>
#include <string>

#include "monitor/log_connection.h"
#include "monitor/log_kind.h"
#include "monitor/connection_key.h"

namespace tarnwick {

class TRuleItems;

// A new established connection, as the change detection reports it.
struct TRuleConnection {
    // Its row in the TCP table of the running refresh, or kEndedConnectionRow
    // when it ended before any refresh listed it.
    int RowIndex = 0;
    // Numeric, never a host name: dotted for IPv4 (IPv4-mapped ends too),
    // RFC 5952 form for IPv6.
    std::string RemoteAddress;
    int LocalPort = 0;
    int RemotePort = 0;
    // The connection as the log describes it; the actions' log lines are
    // about it.
    std::optional<TLogConnection> Details = std::nullopt;
};

// What the actions do; the window and the command-line tool each supply theirs.
class TRuleActions {
public:
    virtual ~TRuleActions() = default;
    virtual bool FileExists(const std::string& path) = 0;  // a file, not a folder
    virtual void RunProgram(const std::string& path) = 0;
    virtual void PlayWav(const std::string& path) = 0;
    virtual bool IsEstablished(int rowIndex) = 0;  // the row's state in the running refresh's snapshot
    virtual void KillConnection(int rowIndex) = 0;
    virtual void ShowPopup(const std::string& header, const std::string& text) = 0;
    virtual void AddLog(const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection) = 0;
};

// Visits every enabled rule in list order. A rule matches when any of its
// switched-on conditions holds (remote address compared as text, an IPv6
// filter by address, ::ffff:a.b.c.d matching a dotted a.b.c.d; ports as
// numbers); a matching rule runs its actions in the order run, WAV, kill,
// popup, each logged with kind lkRule and the connection's details. The
// caller checks the global switch.
void CheckRules(const TRuleItems& rules, const TRuleConnection& connection, TRuleActions& actions);

// True when file-exists holds for `path`: a file (not a folder) is there.
bool IsExistingFile(const std::string& path);

}  // namespace tarnwick
