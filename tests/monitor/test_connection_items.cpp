// The connection list's own contract, beyond what a refresh exercises.
#include <gtest/gtest.h>

#include <string>

#include "fakes/fake_platform.h"
#include "monitor/connection_items.h"

namespace tarnwick::testing {
namespace {

// The texts of a TCP row as the refresh gives them to the list.
TConnectionRow Row(const TTcpRow& row, const std::string& process = "") {
    TConnectionRow texts;
    texts.Key = KeyOfTcpRow(row);
    texts.State = row.State;
    texts.Process = process;
    return texts;
}

const auto kNoText = [] { return std::string(); };

TEST(ConnectionItems, IdentityIsTheEndsButTheLocalAddress) {
    TConnectionitems list;
    TTcpRow row = TcpRow(TTcpState::SynSent, Ipv4(192, 168, 1, 2), 5000, Ipv4(10, 0, 0, 5), 443);
    EXPECT_EQ(list.UpdateConnection(Row(row, "a"), [] { return std::string("10.0.0.5"); }), TConnectionitems::kNew);
    EXPECT_EQ(list.UpdateConnection(Row(row, "b"), kNoText), TConnectionitems::kSameStatus);
    row.State = TTcpState::Established;
    EXPECT_EQ(list.UpdateConnection(Row(row, "b"), kNoText), TConnectionitems::kStatusChanged);
    TTcpRow otherLocal = row;
    otherLocal.LocalAddr = Ipv4(127, 0, 0, 1);
    EXPECT_EQ(list.UpdateConnection(Row(otherLocal), kNoText), TConnectionitems::kSameStatus);
    TTcpRow otherPort = row;
    otherPort.LocalPort = 5001;
    EXPECT_EQ(list.UpdateConnection(Row(otherPort), kNoText), TConnectionitems::kNew);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Items(0).Process(), "a");
    EXPECT_EQ(list.Items(0).RemoteAddr(), "10.0.0.5");
    EXPECT_EQ(list.Items(0).Status(), "Established");
    EXPECT_EQ(list.Items(0).OwnerList(), &list);

    // The interface counts where the remote address's text carries it as its
    // zone (link-local), and nowhere else.
    for (const char* remote : {"fe80::1", "2001:db8::1"}) {
        TTcpRow v6 = Tcp6Row(TTcpState::Established, "fe80::2", 6000, remote, 22);
        v6.Interface = 2;
        list.UpdateConnection(Row(v6), kNoText);
        v6.Interface = 3;
        EXPECT_EQ(list.UpdateConnection(Row(v6), kNoText),
                  IsLinkLocal6(*ParseIp6(remote)) ? TConnectionitems::kNew : TConnectionitems::kSameStatus)
            << remote;
    }
}

TEST(ConnectionItems, RemoveUnseenKeepsOrderAndForgetsTheRemoved) {
    TConnectionitems list;
    const auto update = [&list](uint16_t remotePort) {
        return list.UpdateConnection(
            Row(TcpRow(TTcpState::Established, Ipv4(192, 168, 1, 2), 9, Ipv4(10, 0, 0, 5), remotePort)), kNoText);
    };
    for (const uint16_t port : {1, 2, 3, 4}) update(port);
    list.ClearSeen();
    update(2);
    update(4);
    list.RemoveUnseen();
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Items(0).RemotePort(), "2");
    EXPECT_EQ(list.Items(1).RemotePort(), "4");
    // A removed connection that comes back is new again, and appended at the end.
    EXPECT_EQ(update(1), TConnectionitems::kNew);
    EXPECT_EQ(list.Items(2).RemotePort(), "1");
    EXPECT_EQ(update(4), TConnectionitems::kSameStatus);
}

}  // namespace
}  // namespace tarnwick::testing
