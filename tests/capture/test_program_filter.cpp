// Capturing one program's packets, over refreshes of fake tables that publish
// the sockets' owners: which end of a packet is whose socket, the sockets a
// program opens later, sockets bound to any address, the owner named for a
// packet, and a capture session judging packets while refreshes publish.
#include "capture/program_filter.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "capture/capture_session.h"
#include "capture/packet_owner.h"
#include "fakes/fake_packet_source.h"
#include "monitor/refresh_fixture.h"

namespace tarnwick::testing {
namespace {

constexpr uint32_t kFirefox = 100;
constexpr uint32_t kSshd = 200;
const TProgramSelector kFirefoxByName{std::nullopt, "firefox-esr"};
const TProgramSelector kSshdByPid{kSshd, ""};

constexpr TInetAddress kHere = Ipv4(192, 168, 1, 2);
constexpr TInetAddress kThere = Ipv4(93, 184, 216, 34);
constexpr TInetAddress kLoopback = Ipv4(127, 0, 0, 1);

TPacketFields Packet(int protocol, TInetAddress source, uint16_t sourcePort, TInetAddress dest, uint16_t destPort) {
    TPacketFields packet;
    packet.V6 = source.V6();
    packet.Protocol = protocol;
    packet.SourceAddr = source.Bytes();
    packet.DestAddr = dest.Bytes();
    packet.SourcePort = sourcePort;
    packet.DestPort = destPort;
    return packet;
}

class ProgramCapture : public RefreshFixture {
protected:
    void SetUp() override {
        Runner.MapOwners = true;
        Processes.Entries = {{kFirefox, "firefox-esr"}, {kSshd, "sshd"}};
    }
    TProgramFilter FilterFor(const TProgramSelector& program) { return TProgramFilter(program, Runner.Owners()); }
};

TEST_F(ProgramCapture, ListsThePacketsWithOneOfTheProgramsSocketsAtEitherEnd) {
    Tables.TcpRows = {TcpRow(TTcpState::Established, kHere, 40001, kThere, 443, kFirefox),
                      TcpRow(TTcpState::Established, kHere, 22, Ipv4(10, 0, 0, 9), 5555, kSshd),
                      // Loopback between the two: each end is the socket of one of them.
                      TcpRow(TTcpState::Established, kLoopback, 40000, kLoopback, 8080, kFirefox),
                      TcpRow(TTcpState::Established, kLoopback, 8080, kLoopback, 40000, kSshd)};
    Refresh();
    TProgramFilter firefox = FilterFor(kFirefoxByName);
    TProgramFilter sshd = FilterFor(kSshdByPid);

    const TPacketFields sent = Packet(kProtocolTcp, kHere, 40001, kThere, 443);
    const TPacketFields received = Packet(kProtocolTcp, kThere, 443, kHere, 40001);
    const TPacketFields toSshd = Packet(kProtocolTcp, Ipv4(10, 0, 0, 9), 5555, kHere, 22);
    const TPacketFields loopback = Packet(kProtocolTcp, kLoopback, 8080, kLoopback, 40000);
    EXPECT_TRUE(firefox.Lists(sent));
    EXPECT_TRUE(firefox.Lists(received));
    EXPECT_FALSE(firefox.Lists(toSshd));
    EXPECT_TRUE(firefox.Lists(loopback));
    EXPECT_TRUE(sshd.Lists(toSshd));
    EXPECT_FALSE(sshd.Lists(received));
    EXPECT_TRUE(sshd.Lists(loopback));
    // The same ends over UDP are no TCP socket's.
    EXPECT_FALSE(firefox.Lists(Packet(kProtocolUdp, kHere, 40001, kThere, 443)));
}

TEST_F(ProgramCapture, ASocketOpenedAfterTheStartIsTakenFromTheRefreshThatFindsIt) {
    Refresh();
    TProgramFilter firefox = FilterFor(kFirefoxByName);
    const TPacketFields packet = Packet(kProtocolTcp, kHere, 40001, kThere, 443);
    EXPECT_FALSE(firefox.Lists(packet));
    Tables.TcpRows = {TcpRow(TTcpState::SynSent, kHere, 40001, kThere, 443, kFirefox)};
    EXPECT_FALSE(firefox.Lists(packet));  // not before that refresh
    Refresh();
    EXPECT_TRUE(firefox.Lists(packet));
    // A refresh that cannot read the TCP table leaves the last owners standing.
    Tables.TcpFailure = TFailure{EIO, "reading the TCP table"};
    Refresh();
    EXPECT_TRUE(firefox.Lists(packet));
    Tables.TcpFailure.reset();
    Tables.TcpRows.clear();
    Refresh();
    EXPECT_FALSE(firefox.Lists(packet));
}

TEST_F(ProgramCapture, SocketsBoundToAnyAddressTakeTheirPortOnTheAddressesOfThisMachine) {
    Tables.TcpRows = {TcpRow(TTcpState::Established, kHere, 40002, kThere, 443, kSshd)};
    Tables.Tcp6Rows = {Tcp6Row(TTcpState::Listening, "::", 22, "::", 0, kSshd)};
    Tables.UdpRows = {UdpRow({}, 5353, kFirefox)};
    Refresh();
    TProgramFilter firefox = FilterFor(kFirefoxByName);
    TProgramFilter sshd = FilterFor(kSshdByPid);
    // An IPv4 connection to an IPv6 listener on ::.
    EXPECT_TRUE(sshd.Lists(Packet(kProtocolTcp, kThere, 5555, kHere, 22)));
    EXPECT_TRUE(firefox.Lists(Packet(kProtocolUdp, kThere, 6000, kHere, 5353)));
    EXPECT_TRUE(firefox.Lists(Packet(kProtocolUdp, kThere, 5353, Ipv4(224, 0, 0, 251), 5353)));
    // A remote end on the same port is not this machine's socket.
    EXPECT_FALSE(firefox.Lists(Packet(kProtocolUdp, kThere, 5353, kHere, 40003)));
    EXPECT_FALSE(firefox.Lists(Packet(kProtocolTcp, kThere, 6000, kHere, 5353)));
}

TEST_F(ProgramCapture, EachPacketNamesTheProgramOfItsConnection) {
    Tables.TcpRows = {TcpRow(TTcpState::Listening, {}, 8080, {}, 0, kSshd),
                      TcpRow(TTcpState::Established, kLoopback, 40000, kLoopback, 8080, kFirefox),
                      TcpRow(TTcpState::Established, kLoopback, 8080, kLoopback, 40000, kSshd),
                      TcpRow(TTcpState::Established, kHere, 8080, Ipv4(10, 0, 0, 9), 5555, kFirefox),
                      TcpRow(TTcpState::Established, kHere, 40001, kThere, 443, 300)};  // gone from the process list
    Refresh();
    TPacketOwnerText owner(Runner.Owners());
    // Where both ends are sockets of this machine, the sender's.
    EXPECT_EQ(owner(Packet(kProtocolTcp, kLoopback, 40000, kLoopback, 8080)), "firefox-esr 100");
    EXPECT_EQ(owner(Packet(kProtocolTcp, kLoopback, 8080, kLoopback, 40000)), "sshd 200");
    // A connection's own socket before the listener on its port.
    EXPECT_EQ(owner(Packet(kProtocolTcp, Ipv4(10, 0, 0, 9), 5555, kHere, 8080)), "firefox-esr 100");
    EXPECT_EQ(owner(Packet(kProtocolTcp, Ipv4(10, 0, 0, 9), 5556, kHere, 8080)), "sshd 200");
    EXPECT_EQ(owner(Packet(kProtocolTcp, kThere, 443, kHere, 40001)), "? 300");
    EXPECT_EQ(owner(Packet(kProtocolIcmp, kHere, 8, kThere, 0)), std::nullopt);
}

// The session's thread judges packets while refreshes on another thread
// publish the owners anew.
TEST_F(ProgramCapture, ASessionListsTheProgramsPacketsWhileRefreshesRun) {
    Tables.TcpRows = {TcpRow(TTcpState::Established, kHere, 40001, kThere, 443, kFirefox)};
    Refresh();
    TFakePacketSource source;
    TCaptureSession session(source);
    session.SetOwners(Runner.Owners());
    session.ReadInBackground();
    TCaptureFilter filter;
    filter.Program = kFirefoxByName;
    ASSERT_TRUE(session.Start(filter).Ok());

    std::atomic<bool> stop{false};
    std::thread refreshes([&] {
        while (!stop) Refresh();
    });
    constexpr int kPackets = 100;
    for (int n = 0; n < kPackets; ++n) {
        source.Latest().Push(MakeIpPacket(6, {192, 168, 1, 2}, {93, 184, 216, 34}, 40001, 443, {'f'}));
        source.Latest().Push(MakeIpPacket(6, {192, 168, 1, 2}, {93, 184, 216, 34}, 40009, 443, {'o'}));
    }
    pollfd batch{session.BatchFd(), POLLIN, 0};
    while (session.ListedPackets() < kPackets && ::poll(&batch, 1, 10000) == 1) session.TakeWaitingPackets();
    stop = true;
    refreshes.join();
    session.Stop();
    EXPECT_EQ(session.ListedPackets(), kPackets);
    for (size_t row = 0; row < session.RecordCount(); ++row) EXPECT_EQ(session.CellText(row, 6), "f");
}

}  // namespace
}  // namespace tarnwick::testing
