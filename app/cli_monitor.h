// One monitoring session of the command-line tool: the session of the core
// wired to the system's services, with the grid kept as each command needs it.
#pragma once

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>

#include "cli_platform.h"
#include "monitor/grid_rows.h"
#include "monitor/location_texts.h"
#include "session/monitor_session.h"

namespace tarnwick {

// Whether the connection tables can be read on this system at all; says why
// not on `err`.
inline bool TablesBindable(std::ostream& err) {
    if (const TStatus available = ConnectionTablesAvailable(); !available) {
        err << "tarnwick-cli: the connection tables cannot be read (" << kConnectionTablesSource
            << "): " << available.Failure().ErrnoText() << '\n';
        return false;
    }
    return true;
}

// The grid of a command: its rows, only their text, or nothing at all.
class TCliGrid final : public TGridOutlet {
public:
    TGridRows Rows;

    // For a single look that prints the grid: rows are kept only as the lines
    // of TGridRows::ToText, a fraction of the rows' memory, with the location
    // columns when `location` says. The rows of one refresh come in order;
    // those never written are blank.
    void KeepTextOnly(bool location = false) {
        TextOnly_ = true;
        Location_ = location;
        TGridRows::AppendHeaderLine(Text_, location);
    }
    // For a watch, which shows the events only: grid rows are not kept at all.
    void KeepNoRows() { NoRows_ = true; }
    // The grid as ToText would give it, once the refresh is done.
    const std::string& Text() {
        while (TextWritten_ + 1 < TextRows_) WriteGridRow(TextWritten_ + 1, TConnectionRow{});
        return Text_;
    }

    int GridRowCount() const override { return TextOnly_ || NoRows_ ? TextRows_ : Rows.RowCount(); }
    void SetGridRowCount(int rows) override {
        if (NoRows_) {
            TextRows_ = std::max(rows, 2);
            return;
        }
        if (!TextOnly_) return Rows.SetRowCount(rows);
        TextRows_ = std::max(rows, 2);
        // About a line's worth per row, so that the text is seldom moved.
        Text_.reserve(static_cast<size_t>(TextRows_) * 64);
    }
    void WriteGridRow(int row, const TConnectionRow& texts) override {
        if (NoRows_) return;
        if (!TextOnly_) return Rows.WriteRow(row, texts);
        if (row <= TextWritten_ || row >= TextRows_) return;
        for (; TextWritten_ + 1 < row; ++TextWritten_) TGridRows::AppendLine(Text_, TConnectionRow{}, Location_);
        TGridRows::AppendLine(Text_, texts, Location_);
        TextWritten_ = row;
    }

private:
    bool TextOnly_ = false;
    bool Location_ = false;
    bool NoRows_ = false;
    std::string Text_;
    int TextRows_ = 2;     // as a new TGridRows: the header and one data row (also the count kept without rows)
    int TextWritten_ = 0;  // the last data row in Text_
};

// The monitoring session of a command, wired to the system's services.
struct TCliMonitor {
    TCliServices Services;
    // Connections that end between two refreshes; only a watch wants them.
    std::unique_ptr<TEndedConnections> Ended;
    TCliGrid Grid;
    TMonitorSession Session;

    // The tool prints or reports the entries itself; it never saves its log on its own.
    // `watchEnded` also listens for connections that end between refreshes
    // (IPv6 ones too with `ipv6`); where the system does not tell, the
    // refreshes report what the tables show.
    explicit TCliMonitor(bool watchEnded = false, bool ipv6 = true)
        : Ended(watchEnded ? OpenEndedConnections(ipv6) : nullptr),
          Session(TSessionServices{TPlatformServices{Services.IpTables(), Services.Processes(), Services.Names,
                                                     Ended.get()},
                                   TRuleServices{Services.Launcher, Services.Sound, Services.Killer()},
                                   CliLocationOpener()},
                  Grid) {
        Session.Log.AutoSaveLog = false;
    }

    // Runs one refresh and tells whether the tables could be read. Without
    // the TCP table the run has failed (false, the reason on `err`); a
    // missing UDP table is said once per run of such refreshes, and the TCP
    // rows still count. Owners seen only among this user's processes are
    // said once, and are no failure: monitoring needs no privilege. A helper
    // that failed while asked for owners is one: its reason goes to `err`.
    bool RefreshTables(std::ostream& err) {
        Session.RunRefresh();
        if (const TStatus health = Services.OwnersHealth(); !health) {
            err << "tarnwick-cli: " << health.Failure().Text() << '\n';
            return false;
        }
        if (const TStatus available = Services.OwnersAvailable(); !available && !OwnersMissingSaid_) {
            err << "tarnwick-cli: " << available.Failure().Text() << '\n';
            OwnersMissingSaid_ = true;
        }
        if (const auto tcp = Session.Snapshot.TcpFailure()) {
            err << "tarnwick-cli: the TCP table cannot be read: " << tcp->ErrnoText() << '\n';
            return false;
        }
        const auto udp = Session.Snapshot.UdpFailure();
        if (udp && !UdpMissingSaid_)
            err << "tarnwick-cli: the UDP table cannot be read (" << udp->ErrnoText()
                << "); UDP sockets are left out\n";
        UdpMissingSaid_ = udp.has_value();
        return true;
    }

    // Looks up where the remote addresses are, from the next refresh on.
    void LocateRemotes() { Session.View.ShowLocation = true; }

    // Says once on `err` that the location database cannot be read, once a
    // refresh tried to. No failure: the locations are "-" or left out.
    void NoteLocationDatabase(std::ostream& err) {
        if (LocationNoteSaid_ || !Session.View.ShowLocation || Session.Locations() == nullptr) return;
        if (const auto failure = Session.Locations()->DatabaseFailure()) {
            err << "tarnwick-cli: " << LocationDatabaseNote(*failure) << '\n';
            LocationNoteSaid_ = true;
        }
    }

    // Without IPv6, the sockets of the IPv6 tables are not read at all, so
    // neither their rows nor their events show; IPv4-mapped ones still do.
    // (The ended connections take the same choice when made.)
    void IncludeIpv6(bool include) {
        Session.View.ShowIpv6 = include;
        Session.Snapshot.SetIncludeIpv6(include);
    }

private:
    bool UdpMissingSaid_ = false;
    bool OwnersMissingSaid_ = false;
    bool LocationNoteSaid_ = false;
};

}  // namespace tarnwick
