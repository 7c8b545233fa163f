// The locations of remote addresses: looked up once per public address on the
// cache's thread, a database that cannot be read, one that was replaced, and
// the bound on what is kept.
#include <gtest/gtest.h>

#include <chrono>

#include "fakes/fake_platform.h"
#include "monitor/location_cache.h"

namespace tarnwick::testing {
namespace {

constexpr std::chrono::seconds kWait{20};

const TInetAddress kTelekom = Ipv4(2, 160, 0, 1);
const TInetAddress kGoogle6 = TInetAddress::Ipv6(ParseIp6("2a00:1450:4001:800::200e").value());
const TLocation kGermany{"DE", "Germany", 3320, "Deutsche Telekom AG"};
const TLocation kIreland{"IE", "Ireland", 15169, "GOOGLE"};

TEST(LocationCache, AsksTheDatabaseOnceForEachPublicAddressAndNeverForTheOthers) {
    TFakeLocationDatabase database;
    database.Set(kTelekom, kGermany);
    database.Set(kGoogle6, kIreland);
    TLocationCache cache(database.Opener());
    const TInetAddress mapped = TInetAddress::Ipv6(ParseIp6("::ffff:2.160.0.1").value());
    const TInetAddress unknown = Ipv4(11, 0, 0, 1);  // public, but in no network of the database
    const std::vector<TInetAddress> addresses{kTelekom,          Ipv4(10, 0, 0, 1), mapped,  kGoogle6,
                                              Ipv4(127, 0, 0, 1), kTelekom,         unknown, Ipv4(169, 254, 1, 1)};
    for (int round = 0; round < 2; ++round) {
        const std::vector<const TLocation*> found = cache.LocateAll(addresses, kWait);
        ASSERT_EQ(found.size(), addresses.size());
        ASSERT_TRUE(found[0]);
        EXPECT_EQ(*found[0], kGermany);
        EXPECT_EQ(found[2], found[0]);  // an IPv4-mapped address is its IPv4 one
        EXPECT_EQ(found[5], found[0]);
        ASSERT_TRUE(found[3]);
        EXPECT_EQ(*found[3], kIreland);
        for (const size_t i : {1, 4, 6, 7}) EXPECT_FALSE(found[i]) << i;
    }
    // In another order, with some gone and one new: the answers stay each address's own.
    const std::vector<const TLocation*> again =
        cache.LocateAll({kGoogle6, Ipv4(10, 0, 0, 1), Ipv4(11, 0, 0, 2), kTelekom, unknown}, kWait);
    ASSERT_TRUE(again[0] && again[3]);
    EXPECT_EQ(*again[0], kIreland);
    EXPECT_EQ(*again[3], kGermany);
    EXPECT_FALSE(again[1] || again[2] || again[4]);
    EXPECT_EQ(database.Asked(), (std::vector<TInetAddress>{kTelekom, kGoogle6, unknown, Ipv4(11, 0, 0, 2)}));
    EXPECT_EQ(database.Opens(), 1);
    EXPECT_EQ(cache.Database()->Path, "/fake/location.db");
}

TEST(LocationCache, ADatabaseThatCannotBeOpenedIsKnownAtTheFirstCallAndEndsEveryWait) {
    TFakeLocationDatabase database;
    database.Fail(TFailure{ENOENT, "reading the location database /nowhere"});
    TLocationCache cache(database.Opener());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(cache.LocateAll({}, kWait).empty());
    EXPECT_EQ(cache.DatabaseFailure(), (TFailure{ENOENT, "reading the location database /nowhere"}));
    const std::vector<const TLocation*> found = cache.LocateAll({kTelekom}, kWait);
    EXPECT_LT(std::chrono::steady_clock::now() - started, kWait / 2);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_FALSE(found[0]);
    EXPECT_TRUE(database.Asked().empty());
    EXPECT_FALSE(cache.Database());
}

TEST(LocationCache, AReplacedDatabaseIsOpenedAfreshAndTheOldAnswersAreForgotten) {
    TFakeLocationDatabase database;
    database.Set(kTelekom, kGermany);
    TLocationCache cache(database.Opener(), TLocationCache::kDefaultCapacity, std::chrono::milliseconds(0));
    ASSERT_TRUE(cache.LocateAll({kTelekom}, kWait)[0]);

    database.Set(kTelekom, kIreland);
    database.Replace();
    // The known answer stands until the next question finds the new file.
    EXPECT_EQ(*cache.LocateAll({kTelekom, kGoogle6}, kWait)[0], kGermany);
    EXPECT_EQ(database.Opens(), 2);
    EXPECT_EQ(*cache.LocateAll({kTelekom}, kWait)[0], kIreland);
}

TEST(LocationCache, BeyondItsCapacityForgetsTheAddressesTheLastCallDidNotAskFor) {
    TFakeLocationDatabase database;
    TLocationCache cache(database.Opener(), 1);
    const TInetAddress other = Ipv4(11, 0, 0, 1);
    (void)cache.LocateAll({kTelekom}, kWait);
    (void)cache.LocateAll({other}, kWait);
    (void)cache.LocateAll({other}, kWait);
    (void)cache.LocateAll({kTelekom}, kWait);
    EXPECT_EQ(database.Asked(), (std::vector<TInetAddress>{kTelekom, other, kTelekom}));
}

}  // namespace
}  // namespace tarnwick::testing
