// The program's reading of a capture stream from tarnwick-helper (what the
// helper forwards is tested end to end by tests/cli/test_cli_helper.sh).
#include "platform/linux/forwarded_capture.h"

#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <poll.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "platform/linux/capture_batch.h"

namespace tarnwick {
namespace {

// A minimal IPv4 header (version 4, header length 5, total length 20).
std::vector<uint8_t> Ipv4Packet(uint8_t id) {
    std::vector<uint8_t> packet(20, 0);
    packet[0] = 0x45;
    packet[3] = 20;
    packet[5] = id;
    return packet;
}

bool Readable(int fd) {
    pollfd watched{fd, POLLIN, 0};
    return poll(&watched, 1, 0) == 1;
}

TEST(ForwardedCapture, HandsOverABatchOverSeveralReadsAndEndsQuietlyOnAMalformedOne) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    TUniqueFd helper(ends[1]);
    const auto opened = OpenForwardedCapture(TUniqueFd(ends[0]), TCaptureInterface{"lo", "127.0.0.1", 1});
    ASSERT_TRUE(opened.Ok()) << opened.Failure().Text();
    const auto& capture = opened.Value();
    EXPECT_EQ(capture->InterfaceName(), "lo");

    TCaptureBatchWriter writer;
    std::vector<uint8_t> tagged = {0x00, 0x07, 0x08, 0x00};  // VLAN 7, then IPv4
    const std::vector<uint8_t> second = Ipv4Packet(2);
    tagged.insert(tagged.end(), second.begin(), second.end());
    ASSERT_TRUE(writer.Add(1, 20, 1, ETH_P_IP, Ipv4Packet(1)));
    ASSERT_TRUE(writer.Add(2, 24, 1, ETH_P_8021Q, tagged));
    ASSERT_TRUE(writer.Add(3, 28, 1, ETH_P_ARP, std::vector<uint8_t>(28, 0)));  // taken, not handed over
    ASSERT_TRUE(writer.Add(4, 20, 1, ETH_P_IP, Ipv4Packet(4)));
    const std::span<const uint8_t> batch = writer.Finish({7, 3});
    ASSERT_EQ(send(helper.Get(), batch.data(), batch.size(), 0), static_cast<ssize_t>(batch.size()));

    std::vector<int> ids;
    const auto collect = [&ids](const uint8_t* packet, size_t length, uint64_t timeNs) {
        ASSERT_EQ(length, 20u);
        ids.push_back(packet[5]);
        EXPECT_EQ(timeNs, packet[5]);  // each frame's own time stamp comes with it
    };
    ASSERT_TRUE(Readable(capture->SelectableFd()));
    EXPECT_TRUE(capture->ReadPackets(collect, 2).Ok());
    EXPECT_EQ(ids, (std::vector<int>{1, 2}));
    EXPECT_EQ(capture->Stats().Received, 7u);
    EXPECT_EQ(capture->Stats().Dropped, 3u);
    // The rest of the batch waits in the capture: it must wake its reader.
    EXPECT_TRUE(Readable(capture->SelectableFd()));
    EXPECT_TRUE(capture->ReadPackets(collect, 64).Ok());
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 4}));
    EXPECT_FALSE(Readable(capture->SelectableFd()));

    std::vector<uint8_t> malformed(batch.begin(), batch.end());
    malformed.pop_back();  // the last frame runs past the message
    ASSERT_EQ(send(helper.Get(), malformed.data(), malformed.size(), 0), static_cast<ssize_t>(malformed.size()));
    const TStatus problem = capture->ReadPackets(collect, 64);
    ASSERT_FALSE(problem.Ok());
    EXPECT_NE(problem.Failure().Text().find("malformed"), std::string::npos) << problem.Failure().Text();
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_FALSE(Readable(capture->SelectableFd()));  // said once
}

}  // namespace
}  // namespace tarnwick
