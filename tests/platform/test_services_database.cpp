#include "platform/linux/services_database.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

std::string ServiceAt(const TServicesByPort& entries, uint16_t port) {
    auto it = entries.find(port);
    return it == entries.end() ? std::string("<none>") : it->second.Name + "/" + it->second.Protocol;
}

TEST(ParseServices, FirstLineForAPortWinsWhateverItsProtocol) {
    auto entries = ParseServices(
        "domain 53/tcp\n"
        "domain 53/udp\n"
        "syslog 514/udp\n"
        "shell 514/tcp cmd\n");
    EXPECT_EQ(ServiceAt(entries, 53), "domain/tcp");
    EXPECT_EQ(ServiceAt(entries, 514), "syslog/udp");
    EXPECT_EQ(entries.size(), 2u);
}

TEST(ParseServices, CommentsAliasesAndWhitespace) {
    auto entries = ParseServices(
        "# Network services, Internet style\n"
        "\n"
        "   \t  \n"
        "http\t\t80/tcp\t\twww www-http   # WorldWideWeb HTTP\n"
        "  ssh 22/tcp # SSH Remote Login Protocol\n"
        "#ftp 21/tcp\n"
        "smtp 25/tcp mail\r\n"
        "gopher 70/tcp#no space before the comment\n"
        "ntp 123/udp");  // last line without a newline
    EXPECT_EQ(ServiceAt(entries, 80), "http/tcp");
    EXPECT_EQ(ServiceAt(entries, 22), "ssh/tcp");
    EXPECT_EQ(ServiceAt(entries, 21), "<none>");
    EXPECT_EQ(ServiceAt(entries, 25), "smtp/tcp");
    EXPECT_EQ(ServiceAt(entries, 70), "gopher/tcp");
    EXPECT_EQ(ServiceAt(entries, 123), "ntp/udp");
    EXPECT_EQ(entries.size(), 5u);
}

TEST(ParseServices, PortRangeEdges) {
    auto entries = ParseServices(
        "zero 0/tcp\n"
        "top 65535/udp\n"
        "padded 0080/tcp\n"
        "over 65536/tcp\n"
        "wayover 99999999999999999999/tcp\n");
    EXPECT_EQ(ServiceAt(entries, 0), "zero/tcp");
    EXPECT_EQ(ServiceAt(entries, 65535), "top/udp");
    EXPECT_EQ(ServiceAt(entries, 80), "padded/tcp");
    // 65536 must not wrap around to port 0 or 1, nor the long one to anything.
    EXPECT_EQ(entries.size(), 3u);
}

TEST(ParseServices, MalformedLinesAreSkippedAndDoNotShadowLaterOnes) {
    auto entries = ParseServices(
        "noslash 7\n"
        "noport /tcp\n"
        "noproto 7/\n"
        "signed +7/tcp\n"
        "negative -7/tcp\n"
        "letters 7x/tcp\n"
        "hex 0x7/tcp\n"
        "lonelyname\n"
        "/tcp\n"
        "echo 7/tcp\n");
    EXPECT_EQ(ServiceAt(entries, 7), "echo/tcp");
    EXPECT_EQ(entries.size(), 1u);
}

TEST(ParseServices, ArbitraryBytesNeverCrash) {
    std::string junk;
    uint32_t seed = 12345;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const char alphabet[] = "0123456789/#\n \t\rabc\0";
        junk.push_back(alphabet[(seed >> 16) % (sizeof alphabet)]);
    }
    auto entries = ParseServices(junk);
    for (const auto& [port, entry] : entries) {
        EXPECT_FALSE(entry.Name.empty());
        EXPECT_FALSE(entry.Protocol.empty());
    }
    EXPECT_TRUE(ParseServices("").empty());
    EXPECT_TRUE(ParseServices("\n\n\n").empty());
}

// A services file in a fresh temporary directory, removed afterwards.
class ServicesFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnwick-services-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        Dir = pattern;
        Path = Dir + "/services";
    }
    void TearDown() override {
        std::remove(Path.c_str());
        std::remove((Path + ".new").c_str());
        rmdir(Dir.c_str());
    }
    void Write(const std::string& text, const std::string& path) {
        std::ofstream out(path, std::ios::trunc);
        out << text;
    }
    void Write(const std::string& text) { Write(text, Path); }

    static std::string Name(TServicesDatabase& db, uint16_t port) {
        auto entry = db.Find(port);
        return entry ? entry->Name : "<none>";
    }

    std::string Dir;
    std::string Path;
};

TEST_F(ServicesFile, ReadsTheFileAndNoticesChanges) {
    Write("http 80/tcp\n");
    TServicesDatabase db(Path, 0ms);
    EXPECT_EQ(Name(db, 80), "http");
    ASSERT_TRUE(db.Find(80));
    EXPECT_EQ(db.Find(80)->Protocol, "tcp");

    // Rewritten in place with a different size.
    Write("www 80/tcp\nssh 22/tcp\n");
    EXPECT_EQ(Name(db, 80), "www");
    EXPECT_EQ(Name(db, 22), "ssh");

    // Replaced by rename, as package managers do: a new inode.
    Write("web 80/udp\n", Path + ".new");
    ASSERT_EQ(std::rename((Path + ".new").c_str(), Path.c_str()), 0);
    EXPECT_EQ(Name(db, 80), "web");
    EXPECT_EQ(Name(db, 22), "<none>");
}

TEST_F(ServicesFile, SameSizeRewriteIsSeenThroughTheModificationTime) {
    Write("aaaa 80/tcp\n");
    TServicesDatabase db(Path, 0ms);
    EXPECT_EQ(Name(db, 80), "aaaa");

    Write("bbbb 80/tcp\n");
    // Make the new modification time differ for sure, whatever the clock's grain.
    timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Path.c_str(), times, 0), 0);
    EXPECT_EQ(Name(db, 80), "bbbb");
}

TEST_F(ServicesFile, ChangesWaitForTheCheckInterval) {
    Write("http 80/tcp\n");
    TServicesDatabase db(Path, 1h);
    EXPECT_EQ(Name(db, 80), "http");
    Write("www 80/tcp\nssh 22/tcp\n");
    EXPECT_EQ(Name(db, 80), "http");
    db.Refresh();
    EXPECT_EQ(Name(db, 80), "www");
}

TEST_F(ServicesFile, MissingFileHasNoEntriesUntilItAppears) {
    TServicesDatabase db(Path, 0ms);
    EXPECT_FALSE(db.Find(80));

    Write("http 80/tcp\n");
    EXPECT_EQ(Name(db, 80), "http");

    ASSERT_EQ(std::remove(Path.c_str()), 0);
    EXPECT_FALSE(db.Find(80));
}

TEST_F(ServicesFile, DirectoryInsteadOfFileHasNoEntries) {
    TServicesDatabase db(Dir, 0ms);
    EXPECT_FALSE(db.Find(80));
}

}  // namespace
}  // namespace tarnwick
