// A refresh wired to fake platform services, recording what it hands out.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "monitor/grid_rows.h"
#include "monitor/refresh.h"

namespace tarnwick::testing {

// Every outlet call in order, as text: "log <kind> <text>", "rules <row> <addr> <local> <remote>",
// "grid <row>", "size <rows>".
class TRecordingOutlets final : public TRefreshOutlets {
public:
    TGridRows Grid;
    std::vector<std::string> Calls;
    std::vector<std::string> Logs;  // "<kind>|<text>"
    std::vector<std::optional<TLogConnection>> LogConnections;  // beside Logs
    bool MayWait = true;  // false: outlets of a window's thread

    bool MayWaitForLookups() const override { return MayWait; }

    int GridRowCount() override { return Grid.RowCount(); }
    void SetGridRowCount(int rows) override {
        Calls.push_back("size " + std::to_string(rows));
        Grid.SetRowCount(rows);
    }
    void WriteGridRow(int row, const TConnectionRow& texts) override {
        Calls.push_back("grid " + std::to_string(row));
        Grid.WriteRow(row, texts);
    }
    void AddLog(const std::string& text, LogKind kind, const std::optional<TLogConnection>& connection) override {
        Calls.push_back("log " + std::to_string(kind) + " " + text);
        Logs.push_back(std::to_string(kind) + "|" + text);
        LogConnections.push_back(connection);
    }
    void CheckRules(int row, const TLogConnection& c) override {
        Calls.push_back("rules " + std::to_string(row) + " " + c.RemoteAddress + " " + std::to_string(c.LocalPort) +
                        " " + std::to_string(c.RemotePort));
    }
};

class RefreshFixture : public ::testing::Test {
protected:
    // Runs one refresh and returns the log entries it produced.
    std::vector<std::string> Refresh() {
        Outlets.Calls.clear();
        Outlets.Logs.clear();
        Outlets.LogConnections.clear();
        Runner.Run(Outlets);
        return Outlets.Logs;
    }

    TFakeIpTables Tables;
    TFakeProcessList Processes;
    TFakeNameLookup Names;
    TViewSettings View;
    ConnectionSnapshot Snapshot;
    TConnectionitems Connections;
    TRecordingOutlets Outlets;
    // Active and empty unless a test fills it: the tables' events must not depend on it.
    TFakeEndedConnections Ended;
    TRefresh Runner{Snapshot, Connections, TPlatformServices{Tables, Processes, Names, &Ended}, View};
};

}  // namespace tarnwick::testing
