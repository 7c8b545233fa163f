// Traffic per connection and per program: rates over time, the ranking a
// refresh computes, and the texts they are shown with.
#include <gtest/gtest.h>

#include <algorithm>

#include "log/log_outputs.h"
#include "monitor/refresh_fixture.h"
#include "monitor/process_names.h"
#include "monitor/traffic_monitor.h"
#include "monitor/traffic_texts.h"

namespace tarnwick::testing {
namespace {

using namespace std::chrono_literals;

constexpr TInetAddress kLocal = Ipv4(192, 168, 1, 2);
constexpr TInetAddress kRemote = Ipv4(10, 0, 0, 5);

TConnectionKey Key(uint16_t localPort) { return KeyOfTcpRow(TcpRow(TTcpState::Established, kLocal, localPort, kRemote, 443)); }

TEST(TrafficRates, AreTheGrowthOfTheCountersPerSecondOfTheClockBetweenTwoRefreshes) {
    TTrafficRates::TClock::time_point now{};
    TTrafficRates rates([&now] { return now; });

    rates.BeginRefresh();
    const TConnectionTraffic first = rates.Update(Key(1), {1000, 0, true});
    EXPECT_EQ(first, (TConnectionTraffic{1000, 0, std::nullopt, std::nullopt}));  // nothing to compare with yet
    rates.Update(Key(2), {50, 50, true});
    rates.EndRefresh(true);

    now += 2s;
    rates.BeginRefresh();
    EXPECT_EQ(rates.Update(Key(1), {5000, 1000, true}), (TConnectionTraffic{5000, 1000, 2000.0, 500.0}));
    // New since the complete refresh before: all its bytes came in those two seconds.
    EXPECT_EQ(rates.Update(Key(3), {600, 0, true}), (TConnectionTraffic{600, 0, 300.0, 0.0}));
    rates.EndRefresh(true);
    // Key 2 is gone; its last counters stay readable for the events of its going.
    EXPECT_EQ(rates.LastCounters(Key(2))->BytesSent, 50u);
    EXPECT_EQ(rates.Count(), 2u);

    // Counters that went down are a new socket on the same ends, not a negative rate.
    now += 1s;
    rates.BeginRefresh();
    EXPECT_EQ(rates.Update(Key(1), {100, 0, true}), (TConnectionTraffic{100, 0, 100.0, 0.0}));
    rates.EndRefresh(false);

    // After an incomplete refresh (counters not read) the last reading may be
    // long ago, and a connection not seen may be older than it looks: no
    // rate rather than an average over the time nobody looked, or a spike
    // of a connection's whole life.
    now += 100s;
    rates.BeginRefresh();
    EXPECT_EQ(rates.Update(Key(4), {1'000'000, 0, true}).SendRate, std::nullopt);
    EXPECT_EQ(rates.Update(Key(1), {300, 0, true}).SendRate, std::nullopt);
    rates.EndRefresh(true);
    now += 1s;
    rates.BeginRefresh();
    EXPECT_EQ(rates.Update(Key(1), {500, 0, true}).SendRate, 200.0);
}

// The time between two readings is the time between the dumps that read the
// counters, however long the refresh took to get to them after its dump.
TEST(TrafficRates, MeasureTheTimeBetweenTheReadingsOfTheCounters) {
    TTrafficRates::TClock::time_point now{};
    TTrafficRates rates([&now] { return now; });
    const TTrafficRates::TClock::time_point read{10s};

    now = read + 900ms;  // a slow look-up before the refresh got to the counters
    rates.BeginRefresh();
    rates.Update(Key(1), {0, 0, true, 7, read});
    rates.EndRefresh(true);

    now = read + 2s;
    rates.BeginRefresh();
    EXPECT_EQ(rates.Update(Key(1), {100'000, 0, true, 7, read + 2s}).SendRate, 50'000.0);
    rates.Update(Key(2), {400'000, 0, true, 8, read + 2s});
    rates.EndRefresh(true);

    // Another socket on the same ends: its bytes all came since the reading
    // before, none of them are the old socket's.
    rates.BeginRefresh();
    EXPECT_EQ(rates.Update(Key(2), {1'500'000, 0, true, 9, read + 3s}).SendRate, 1'500'000.0);
}

TEST(TrafficRates, AConnectionKeepsItsHistoryWhileOthersComeAndGo) {
    TTrafficRates::TClock::time_point now{};
    TTrafficRates rates([&now] { return now; });
    rates.BeginRefresh();
    for (const uint16_t port : {1, 2, 3}) rates.Update(Key(port), {0, 0, true});
    rates.EndRefresh(true);
    now += 1s;
    rates.BeginRefresh();
    for (const uint16_t port : {2, 3, 4}) rates.Update(Key(port), {1000, 0, true});
    rates.EndRefresh(true);
    now += 1s;
    rates.BeginRefresh();
    EXPECT_EQ(rates.Update(Key(3), {2000, 0, true}).SendRate, 1000.0);
}

class TrafficRefresh : public RefreshFixture {
protected:
    TrafficRefresh() {
        Processes.Entries = {{10, "firefox"}, {20, "ssh"}};
        Tables.TcpRows = {TcpRow(TTcpState::Established, kLocal, 40000, kRemote, 443, 10),
                          TcpRow(TTcpState::Established, kLocal, 40001, kRemote, 443, 10),
                          TcpRow(TTcpState::Established, kLocal, 40002, kRemote, 22, 20)};
        Tables.UdpRows = {UdpRow({}, 53, 20)};
    }

    // The counters of the TCP rows, in their order.
    void SetCounters(const std::vector<TSocketTraffic>& counters) {
        for (size_t i = 0; i < counters.size(); ++i) Tables.TcpRows.at(i).Traffic = counters[i];
    }
};

TEST_F(TrafficRefresh, RanksProgramsByTheirCurrentRateAndSumsTheirConnections) {
    SetCounters({{1000, 1000, true}, {0, 0, true}, {0, 0, true}});
    Refresh();
    ASSERT_NE(Runner.Traffic.Latest(), nullptr);
    EXPECT_FALSE(Runner.Traffic.Latest()->RatesKnown);
    EXPECT_TRUE(Runner.Traffic.History().empty());

    // ssh moves more in this interval, though firefox has moved more in all.
    SetCounters({{1100, 1000, true}, {0, 100, true}, {50'000, 100'000, true}});
    Refresh();
    const auto summary = Runner.Traffic.Latest();
    ASSERT_TRUE(summary->RatesKnown);
    ASSERT_EQ(summary->Programs.size(), 2u);
    const TProgramTraffic& ssh = summary->Programs[0];
    const TProgramTraffic& firefox = summary->Programs[1];
    EXPECT_EQ(ssh.Name, "ssh");
    EXPECT_EQ(ssh.Connections, 1u);  // its UDP socket has no counters
    EXPECT_EQ(firefox.Name, "firefox");
    EXPECT_EQ(firefox.Connections, 2u);
    EXPECT_EQ(firefox.BytesSent, 1100u);
    EXPECT_EQ(firefox.BytesReceived, 1100u);
    EXPECT_GT(ssh.ReceiveRate, firefox.ReceiveRate);
    EXPECT_DOUBLE_EQ(summary->SendRate, ssh.SendRate + firefox.SendRate);
    ASSERT_EQ(Runner.Traffic.History().size(), 1u);
    EXPECT_EQ(Runner.Traffic.History()[0]->ShareOf("firefox").SendRate, firefox.SendRate);

    // The grid rows carry the numbers; the UDP row has none.
    EXPECT_EQ(Outlets.Grid.Row(3).Traffic->BytesReceived, 100'000u);
    EXPECT_FALSE(Outlets.Grid.Row(4).Traffic);
    EXPECT_EQ(Outlets.Grid.CellText(4, 6), "-");
}

TEST_F(TrafficRefresh, SumsSocketsWithoutAKnownOwnerUnderTheUnknownProcessText) {
    Tables.TcpRows[2].OwningPid = 99;  // no such process
    SetCounters({{1, 1, true}, {1, 1, true}, {5, 6, true}});
    Refresh();
    const auto& programs = Runner.Traffic.Latest()->Programs;
    ASSERT_EQ(programs.size(), 2u);
    const auto unknown = std::find_if(programs.begin(), programs.end(),
                                      [](const TProgramTraffic& p) { return p.Name == kUnknownProcessText; });
    ASSERT_NE(unknown, programs.end());
    EXPECT_EQ(unknown->BytesReceived, 6u);
}

TEST_F(TrafficRefresh, EventsCarryTheCountersIntoTheJsonLines) {
    SetCounters({{1, 2, true}, {3, 4, true}, {5, 6, true}});
    Refresh();
    Tables.TcpRows.pop_back();
    SetCounters({{7, 8, true}, {3, 4, true}});
    Refresh();
    ASSERT_EQ(Outlets.LogConnections.size(), 1u);
    const TLogConnection gone = *Outlets.LogConnections[0];
    EXPECT_EQ(gone.BytesSent, 5u);  // as last seen
    TLogEntry entry;
    entry.Connection = gone;
    EXPECT_NE(LogEntryJson(entry).find(R"("bytes_sent":5,"bytes_received":6)"), std::string::npos);
}

TEST(TrafficTexts, WriteSizesAndRatesInUnitsOf1024) {
    EXPECT_EQ(ByteSizeText(0), "0 B");
    EXPECT_EQ(ByteSizeText(1023), "1023 B");
    EXPECT_EQ(ByteSizeText(1258291), "1.2 MB");
    EXPECT_EQ(ByteSizeText(1024 * 1024 - 1), "1.0 MB");  // rounded up into the next unit, not "1024 KB"
    EXPECT_EQ(ByteRateText(34.4 * 1024), "34 KB/s");
    EXPECT_EQ(ByteRateText(-5), "0 B/s");
    const TConnectionTraffic traffic{2048, 10, 1536.4, std::nullopt};
    EXPECT_EQ(TrafficCellText(traffic, 0, TTrafficNumbers::Human), "2.0 KB");
    EXPECT_EQ(TrafficCellText(traffic, 2, TTrafficNumbers::Raw), "1536");
    EXPECT_EQ(TrafficCellText(traffic, 3, TTrafficNumbers::Raw), "-");
}

}  // namespace
}  // namespace tarnwick::testing
