// A capture session recorded into a pcapng file, read back by tshark (the
// format's oracle): every listed packet and only those, each on its own
// interface, with its kernel time stamp to the nanosecond, its whole bytes,
// and the owner of its connection as its comment where one is known.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "capture/capture_session.h"
#include "common/temp_folder.h"
#include "fakes/fake_packet_source.h"
#include "platform/record_file.h"

namespace tarnwick::testing {
namespace {

// What `command` prints on standard output; nullopt when it fails.
std::optional<std::string> Output(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, got);
    const int status = ::pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(CaptureRecording, TsharkReadsEachListedPacketOnItsInterfaceWithItsTimeBytesAndOwner) {
    if (!Output("command -v tshark") || !Output("command -v capinfos"))
        GTEST_SKIP() << "no tshark and capinfos (Debian package tshark) to read the file with";
    TTempFolder folder;
    const std::string path = folder.File("capture.pcapng");

    TFakePacketSource source;
    source.Addresses = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
    TCaptureSession session(source);
    session.SetPacketOwners([](const TPacketFields& fields) -> std::optional<std::string> {
        if (fields.DestPort == 53) return "firefox-esr 4121";
        return std::nullopt;
    });
    TCaptureFilter noIcmp;
    noIcmp.Protocol = "UDP";
    ASSERT_TRUE(session.Start(noIcmp).Ok());
    source.Latest(0).Name = "lo";
    source.Latest(1).Name = "eth0";
    source.Latest(2).Name = "wlan0";
    TResult<std::unique_ptr<TRecordFile>> file = CreateRecordFile(path);
    ASSERT_TRUE(file.Ok()) << file.Failure().Text();
    ASSERT_TRUE(session.StartRecording(std::move(file).Value()).Ok());

    source.Latest(1).Push(MakeUdpPacket(5353, 53, "query"), 1'700'000'000'123'456'789u);
    source.Latest(1).Push(MakeIpPacket(1, {1, 2, 3, 4}, {5, 6, 7, 8}, 8, 0, {}), 1'700'000'001'000'000'000u);
    source.Latest(0).Push(MakeUdpPacket(40000, 9, "no owner"), 1'700'000'002'000'000'001u);
    session.ReadCapture(1);
    session.ReadCapture(0);
    session.Stop();
    EXPECT_EQ(session.Recording().Packets, 2u);
    EXPECT_FALSE(session.Recording().Failure);

    const std::optional<std::string> read =
        Output("tshark -r '" + path +
               "' -T fields -E separator=, -e frame.interface_name -e frame.time_epoch -e udp.dstport -e udp.payload "
               "-e frame.comment");
    ASSERT_TRUE(read) << "tshark could not read the file";
    EXPECT_EQ(Lines(*read), (std::vector<std::string>{"eth0,1700000000.123456789,53,7175657279,firefox-esr 4121",
                                                      "lo,1700000002.000000001,9,6e6f206f776e6572,"}));
    // Every captured interface is in the file, also one without packets.
    const std::optional<std::string> interfaces = Output("capinfos -I '" + path + "'");
    ASSERT_TRUE(interfaces) << "capinfos could not read the file";
    EXPECT_NE(interfaces->find("Number of interfaces in file: 3"), std::string::npos) << *interfaces;
}

}  // namespace
}  // namespace tarnwick::testing
