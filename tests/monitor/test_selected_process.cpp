// The owning process of the selected grid row.
#include <gtest/gtest.h>

#include <memory>

#include "fakes/fake_platform.h"
#include "monitor/selected_process.h"

namespace tarnwick {
namespace {

using testing::TFakeIpTables;
using testing::TFakeProcessList;

std::unique_ptr<ConnectionSnapshot> SnapshotOf(bool extended, std::vector<uint32_t> tcpPids,
                                               std::vector<uint32_t> udpPids) {
    TFakeIpTables tables(extended);
    for (uint32_t pid : tcpPids) tables.TcpRows.push_back(TTcpRow{5, 0, 1, 0, 2, pid});
    for (uint32_t pid : udpPids) tables.UdpRows.push_back(TUdpRow{0, 3, pid});
    TFakeProcessList processes;
    auto snapshot = std::make_unique<ConnectionSnapshot>(extended);
    EXPECT_TRUE(snapshot->FetchTables(tables, processes));
    return snapshot;
}

TEST(SelectedProcessTest, TcpRowsThenUdpRows) {
    const auto owned = SnapshotOf(true, {11, 12}, {21, 22});
    const ConnectionSnapshot& snapshot = *owned;
    EXPECT_EQ(SelectedProcessId(1, true, true, snapshot), 11u);
    EXPECT_EQ(SelectedProcessId(2, true, true, snapshot), 12u);
    EXPECT_EQ(SelectedProcessId(3, true, true, snapshot), 21u);
    EXPECT_EQ(SelectedProcessId(4, true, true, snapshot), 22u);
    EXPECT_FALSE(SelectedProcessId(5, true, true, snapshot));  // past the rows
    EXPECT_FALSE(SelectedProcessId(0, true, true, snapshot));  // the heading
    // TCP rows hidden: grid row r is UDP entry r - 1.
    EXPECT_EQ(SelectedProcessId(1, false, true, snapshot), 21u);
    EXPECT_EQ(SelectedProcessId(2, false, true, snapshot), 22u);
}

TEST(SelectedProcessTest, NoIdWithoutExtendedTablesOrRows) {
    EXPECT_FALSE(SelectedProcessId(1, true, true, *SnapshotOf(false, {11}, {21})));
    EXPECT_FALSE(SelectedProcessId(1, true, true, *SnapshotOf(true, {}, {})));  // the blank row of an empty grid
}

}  // namespace
}  // namespace tarnwick
