// The connection list's own contract, beyond what a refresh exercises.
#include <gtest/gtest.h>

#include <stdexcept>

#include "monitor/connection_items.h"

namespace tarnwick {
namespace {

TEST(ConnectionItems, IdentityIsAddressPortsAndProtocolOnly) {
    TConnectionitems list;
    EXPECT_EQ(list.UpdateConnection("10.0.0.5", "443", "5000", "TCP", TTcpState::SynSent, "a"), TConnectionitems::kNew);
    EXPECT_EQ(list.UpdateConnection("10.0.0.5", "443", "5000", "TCP", TTcpState::SynSent, "b"), TConnectionitems::kSameStatus);
    EXPECT_EQ(list.UpdateConnection("10.0.0.5", "443", "5000", "TCP", TTcpState::Established, "b"),
              TConnectionitems::kStatusChanged);
    EXPECT_EQ(list.UpdateConnection("10.0.0.5", "443", "5001", "TCP", TTcpState::Established, "b"), TConnectionitems::kNew);
    // Texts are compared exactly: the separator cannot make two identities collide.
    EXPECT_EQ(list.UpdateConnection("10.0.0.5", "4435", "001", "TCP", TTcpState::Established, "b"), TConnectionitems::kNew);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Items(0).Process(), "a");
    EXPECT_EQ(list.Items(0).Status(), "Established");
    EXPECT_EQ(list.Items(0).OwnerList(), &list);
    EXPECT_THROW(list.Add(TConnectionRow{"10.0.0.5", "443", "5000", "TCP", "", ""}), std::logic_error);
}

TEST(ConnectionItems, RemoveUnseenKeepsOrderAndForgetsTheRemoved) {
    TConnectionitems list;
    for (const char* port : {"1", "2", "3", "4"}) list.UpdateConnection("10.0.0.5", port, "9", "TCP", TTcpState::Established, "");
    list.ClearSeen();
    list.UpdateConnection("10.0.0.5", "2", "9", "TCP", TTcpState::Established, "");
    list.UpdateConnection("10.0.0.5", "4", "9", "TCP", TTcpState::Established, "");
    list.RemoveUnseen();
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Items(0).RemotePort(), "2");
    EXPECT_EQ(list.Items(1).RemotePort(), "4");
    // A removed connection that comes back is new again, and appended at the end.
    EXPECT_EQ(list.UpdateConnection("10.0.0.5", "1", "9", "TCP", TTcpState::Established, ""), TConnectionitems::kNew);
    EXPECT_EQ(list.Items(2).RemotePort(), "1");
    EXPECT_EQ(list.UpdateConnection("10.0.0.5", "4", "9", "TCP", TTcpState::Established, ""), TConnectionitems::kSameStatus);
}

}  // namespace
}  // namespace tarnwick
