#include "platform/linux/linux_name_lookup.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include "platform/ip_tables.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A resolver whose answers, speed and progress the test controls. The lookup's
// workers may outlive the lookup object, so they hold it by shared pointer.
class TFakeResolver {
public:
    // Answers "host-<last number>" unless told otherwise.
    void SetAnswer(uint32_t addr, std::optional<std::string> name) {
        std::lock_guard lock(Mutex_);
        Answers_[addr] = std::move(name);
    }
    void SetThrows(uint32_t addr) {
        std::lock_guard lock(Mutex_);
        Throws_[addr] = true;
    }
    void SetDelay(std::chrono::milliseconds delay) {
        std::lock_guard lock(Mutex_);
        Delay_ = delay;
    }
    // While closed, lookups block after their delay.
    void CloseGate() {
        std::lock_guard lock(Mutex_);
        GateOpen_ = false;
    }
    void OpenGate() {
        {
            std::lock_guard lock(Mutex_);
            GateOpen_ = true;
        }
        Changed_.notify_all();
    }
    int Calls(uint32_t addr) {
        std::lock_guard lock(Mutex_);
        return Calls_[addr];
    }
    int MaxRunning() {
        std::lock_guard lock(Mutex_);
        return MaxRunning_;
    }

    static THostResolver Bind(std::shared_ptr<TFakeResolver> fake) {
        return [fake](uint32_t addr) { return fake->Resolve(addr); };
    }

private:
    std::optional<std::string> Resolve(uint32_t addr) {
        std::unique_lock lock(Mutex_);
        ++Calls_[addr];
        ++Running_;
        MaxRunning_ = std::max(MaxRunning_, Running_);
        const auto delay = Delay_;
        lock.unlock();
        std::this_thread::sleep_for(delay);
        lock.lock();
        Changed_.wait(lock, [&] { return GateOpen_; });
        --Running_;
        if (Throws_[addr]) {
            throw std::runtime_error("resolver failure");
        }
        auto it = Answers_.find(addr);
        if (it != Answers_.end()) {
            return it->second;
        }
        return "host-" + std::to_string(addr >> 24);
    }

    std::mutex Mutex_;
    std::condition_variable Changed_;
    std::map<uint32_t, std::optional<std::string>> Answers_;
    std::map<uint32_t, bool> Throws_;
    std::map<uint32_t, int> Calls_;
    std::chrono::milliseconds Delay_{0};
    bool GateOpen_ = true;
    int Running_ = 0;
    int MaxRunning_ = 0;
};

TNameLookupSettings FakeSettings(const std::shared_ptr<TFakeResolver>& fake) {
    TNameLookupSettings settings;
    settings.Resolver = TFakeResolver::Bind(fake);
    settings.ServicesPath = "/nonexistent/services";
    return settings;
}

uint32_t Addr(uint8_t last) {
    return TInetAddress::Ipv4(10, 0, 0, last).Ipv4Field();
}

template <class F>
std::chrono::milliseconds TimeOf(F&& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// Polls HostByAddr (never ResolveHosts) until it gives `expected` or time is up.
bool EventuallyHost(TLinuxNameLookup& lookup, uint32_t addr, const std::optional<std::string>& expected) {
    const auto deadline = Clock::now() + 3s;
    while (Clock::now() < deadline) {
        if (lookup.HostByAddr(addr) == expected) {
            return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

TEST(LinuxNameLookup, LookupsRunInParallelUpToThePoolSize) {
    {
        auto fake = std::make_shared<TFakeResolver>();
        fake->SetDelay(300ms);
        TLinuxNameLookup lookup(FakeSettings(fake));
        std::vector<uint32_t> addrs;
        for (uint8_t i = 1; i <= 8; ++i) {
            addrs.push_back(Addr(i));
        }
        auto took = TimeOf([&] { lookup.ResolveHosts(addrs, 10s); });
        EXPECT_LT(took, 1200ms) << "8 lookups of 300 ms each ran one after another";
        for (uint8_t i = 1; i <= 8; ++i) {
            EXPECT_EQ(lookup.HostByAddr(Addr(i)), "host-" + std::to_string(i));
        }
    }
    {
        auto fake = std::make_shared<TFakeResolver>();
        fake->SetDelay(50ms);
        auto settings = FakeSettings(fake);
        settings.Workers = 2;
        TLinuxNameLookup lookup(std::move(settings));
        std::vector<uint32_t> addrs;
        for (uint8_t i = 1; i <= 6; ++i) {
            addrs.push_back(Addr(i));
        }
        lookup.ResolveHosts(addrs, 10s);
        EXPECT_EQ(fake->MaxRunning(), 2);
        for (uint8_t i = 1; i <= 6; ++i) {
            EXPECT_TRUE(lookup.HostByAddr(Addr(i))) << int(i);
        }
    }
}

TEST(LinuxNameLookup, BudgetBoundsTheWaitAndLateAnswersAreKept) {
    auto fake = std::make_shared<TFakeResolver>();
    fake->CloseGate();
    TLinuxNameLookup lookup(FakeSettings(fake));

    auto took = TimeOf([&] { lookup.ResolveHosts({Addr(1), Addr(2)}, 200ms); });
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 2s) << "the closed resolver was waited for past the budget";
    EXPECT_EQ(lookup.HostByAddr(Addr(1)), std::nullopt);

    fake->OpenGate();
    EXPECT_TRUE(EventuallyHost(lookup, Addr(1), "host-1"));
    EXPECT_TRUE(EventuallyHost(lookup, Addr(2), "host-2"));

    // The late answers count as answers: nothing is asked again (asking
    // would now take the whole 3 s of the resolver's delay).
    fake->SetDelay(3s);
    EXPECT_LT(TimeOf([&] { lookup.ResolveHosts({Addr(1), Addr(2)}, 5s); }), 1500ms);
    EXPECT_EQ(fake->Calls(Addr(1)), 1);
    EXPECT_EQ(fake->Calls(Addr(2)), 1);
}

TEST(LinuxNameLookup, ZeroBudgetQueuesWithoutWaiting) {
    auto fake = std::make_shared<TFakeResolver>();
    fake->CloseGate();
    TLinuxNameLookup lookup(FakeSettings(fake));
    // Opened late enough that a wait for the answer could not pass.
    std::thread opener([&] {
        std::this_thread::sleep_for(2s);
        fake->OpenGate();
    });
    EXPECT_LT(TimeOf([&] { lookup.ResolveHosts({Addr(1)}, 0ms); }), 1s);
    opener.join();
    EXPECT_TRUE(EventuallyHost(lookup, Addr(1), "host-1"));
}

TEST(LinuxNameLookup, NamesAndFailuresAreRemembered) {
    auto fake = std::make_shared<TFakeResolver>();
    fake->SetAnswer(Addr(2), std::nullopt);
    TLinuxNameLookup lookup(FakeSettings(fake));

    lookup.ResolveHosts({Addr(1), Addr(2)}, 5s);
    fake->SetDelay(3s);  // asking again would now show in the time taken
    EXPECT_LT(TimeOf([&] { lookup.ResolveHosts({Addr(1), Addr(2)}, 5s); }), 1500ms);

    EXPECT_EQ(fake->Calls(Addr(1)), 1);
    EXPECT_EQ(fake->Calls(Addr(2)), 1);
    EXPECT_EQ(lookup.HostByAddr(Addr(1)), "host-1");
    EXPECT_EQ(lookup.HostByAddr(Addr(2)), std::nullopt);
}

TEST(LinuxNameLookup, NamesAndFailuresExpireEachAfterItsOwnTime) {
    struct TCase {
        std::chrono::milliseconds NameTtl, FailureTtl;
        int NameCalls, FailureCalls;
    };
    for (const TCase& c : {TCase{1h, 50ms, 1, 2}, TCase{50ms, 1h, 2, 1}}) {
        auto fake = std::make_shared<TFakeResolver>();
        fake->SetAnswer(Addr(2), std::nullopt);
        auto settings = FakeSettings(fake);
        settings.NameTtl = c.NameTtl;
        settings.FailureTtl = c.FailureTtl;
        TLinuxNameLookup lookup(std::move(settings));

        lookup.ResolveHosts({Addr(1), Addr(2)}, 5s);
        std::this_thread::sleep_for(120ms);
        lookup.ResolveHosts({Addr(1), Addr(2)}, 5s);
        EXPECT_EQ(fake->Calls(Addr(1)), c.NameCalls) << "name ttl " << c.NameTtl.count();
        EXPECT_EQ(fake->Calls(Addr(2)), c.FailureCalls) << "failure ttl " << c.FailureTtl.count();
    }
}

TEST(LinuxNameLookup, ExpiredNameStaysUntilTheNewAnswerReplacesIt) {
    auto fake = std::make_shared<TFakeResolver>();
    auto settings = FakeSettings(fake);
    settings.NameTtl = 50ms;
    TLinuxNameLookup lookup(std::move(settings));

    lookup.ResolveHosts({Addr(1)}, 5s);
    std::this_thread::sleep_for(100ms);

    fake->SetAnswer(Addr(1), std::nullopt);
    fake->CloseGate();
    lookup.ResolveHosts({Addr(1)}, 20ms);
    EXPECT_EQ(lookup.HostByAddr(Addr(1)), "host-1");

    fake->OpenGate();
    EXPECT_TRUE(EventuallyHost(lookup, Addr(1), std::nullopt));
    EXPECT_EQ(fake->Calls(Addr(1)), 2);
}

TEST(LinuxNameLookup, EachAddressIsAskedOnceAtATime) {
    auto fake = std::make_shared<TFakeResolver>();
    fake->CloseGate();
    TLinuxNameLookup lookup(FakeSettings(fake));

    // Repeated within one call, and again while the first lookup is still running.
    lookup.ResolveHosts({Addr(1), Addr(1), Addr(2), Addr(1), Addr(2)}, 50ms);
    lookup.ResolveHosts({Addr(2), Addr(1)}, 50ms);

    // An address still being looked up for an earlier call is not waited for
    // again: a silent name server must not hold up every later refresh.
    EXPECT_LT(TimeOf([&] { lookup.ResolveHosts({Addr(1), Addr(2)}, 5s); }), 2s);
    fake->OpenGate();
    EXPECT_TRUE(EventuallyHost(lookup, Addr(1), "host-1"));
    EXPECT_TRUE(EventuallyHost(lookup, Addr(2), "host-2"));
    EXPECT_EQ(fake->Calls(Addr(1)), 1);
    EXPECT_EQ(fake->Calls(Addr(2)), 1);

    // A new address in the same call is still waited for.
    fake->CloseGate();
    std::thread opener([&] {
        std::this_thread::sleep_for(100ms);
        fake->OpenGate();
    });
    auto took = TimeOf([&] { lookup.ResolveHosts({Addr(1), Addr(3)}, 5s); });
    opener.join();
    EXPECT_GE(took, 80ms);
    EXPECT_LT(took, 2s);
    EXPECT_EQ(lookup.HostByAddr(Addr(3)), "host-3");
}

TEST(LinuxNameLookup, ZeroAddressIsNeverLookedUp) {
    auto fake = std::make_shared<TFakeResolver>();
    TLinuxNameLookup lookup(FakeSettings(fake));
    EXPECT_LT(TimeOf([&] { lookup.ResolveHosts({0, 0}, 5s); }), 1s);
    EXPECT_EQ(fake->Calls(0), 0);
    EXPECT_EQ(lookup.HostByAddr(0), std::nullopt);
}

TEST(LinuxNameLookup, ResolverOddities) {
    auto fake = std::make_shared<TFakeResolver>();
    fake->SetAnswer(Addr(1), std::string(300, 'x'));
    fake->SetAnswer(Addr(2), std::string());
    fake->SetThrows(Addr(3));
    auto settings = FakeSettings(fake);
    settings.Workers = 1;  // the one worker must survive the throw
    TLinuxNameLookup lookup(std::move(settings));

    lookup.ResolveHosts({Addr(1), Addr(2), Addr(3), Addr(4)}, 5s);
    EXPECT_EQ(lookup.HostByAddr(Addr(1)), std::string(kMaxHostNameLength, 'x'));
    EXPECT_EQ(lookup.HostByAddr(Addr(2)), std::nullopt);
    EXPECT_EQ(lookup.HostByAddr(Addr(3)), std::nullopt);
    EXPECT_EQ(lookup.HostByAddr(Addr(4)), "host-4");
}

TEST(LinuxNameLookup, DestructionDoesNotWaitForABlockedLookup) {
    auto fake = std::make_shared<TFakeResolver>();
    std::weak_ptr<TFakeResolver> watch = fake;
    fake->CloseGate();
    auto lookup = std::make_unique<TLinuxNameLookup>(FakeSettings(fake));
    lookup->ResolveHosts({Addr(1), Addr(2), Addr(3)}, 50ms);

    EXPECT_LT(TimeOf([&] { lookup.reset(); }), 2s);

    // Once the stuck lookups return, the workers exit and let go of everything.
    fake->OpenGate();
    fake.reset();
    const auto deadline = Clock::now() + 3s;
    while (!watch.expired() && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(watch.expired()) << "workers still hold the resolver after it returned";
}

TEST(LinuxNameLookup, SystemResolverNamesLoopback) {
    TLinuxNameLookup lookup;
    const uint32_t loopback = TInetAddress::Ipv4(127, 0, 0, 1).Ipv4Field();
    lookup.ResolveHosts({loopback}, 5s);
    auto name = lookup.HostByAddr(loopback);
    ASSERT_TRUE(name);
    EXPECT_FALSE(name->empty());
    EXPECT_NE(*name, "127.0.0.1");
}

TEST(LinuxNameLookup, Ipv6AddressesShareThePoolAndTheCache) {
    auto fake = std::make_shared<TFakeResolver>();
    auto calls6 = std::make_shared<std::atomic<int>>(0);
    auto settings = FakeSettings(fake);
    settings.Resolver6 = [calls6](const TIp6Address& addr) -> std::optional<std::string> {
        ++*calls6;
        if (Ip6Text(addr) == "2001:db8::1") return "six";
        return std::nullopt;
    };
    TLinuxNameLookup lookup(std::move(settings));
    const TIp6Address named = *ParseIp6("2001:db8::1");
    const TIp6Address unnamed = *ParseIp6("2001:db8::2");
    // Mapped: the IPv4 address 10.0.0.7, looked up and kept as that.
    const TIp6Address mapped = *ParseIp6("::ffff:10.0.0.7");
    const std::vector<TIp6Address> addrs = {named, unnamed, TIp6Address{}, mapped};

    lookup.ResolveHosts6(addrs, 5s);
    EXPECT_EQ(lookup.HostByAddr6(named), "six");
    EXPECT_EQ(lookup.HostByAddr6(unnamed), std::nullopt);
    EXPECT_EQ(lookup.HostByAddr6(mapped), "host-7");
    EXPECT_EQ(lookup.HostByAddr(Addr(7)), "host-7");

    lookup.ResolveHosts6(addrs, 5s);
    lookup.ResolveHosts({Addr(7)}, 5s);
    EXPECT_EQ(*calls6, 2) << "names and failures are remembered, :: is never asked";
    EXPECT_EQ(fake->Calls(Addr(7)), 1);
}

TEST(LinuxNameLookup, SystemResolverNamesIpv6LoopbackAsGetnameinfoDoes) {
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    char host[NI_MAXHOST] = {};
    // Without a name for ::1 both sides would agree on having none, which
    // shows nothing.
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0) {
        GTEST_SKIP() << "this machine's resolver has no name for ::1";
    }
    TLinuxNameLookup lookup;
    const TIp6Address address = *ParseIp6("::1");
    lookup.ResolveHosts6({address}, 5s);
    EXPECT_EQ(lookup.HostByAddr6(address), std::optional<std::string>(host));
}

TEST(LinuxNameLookup, ComputerNameIsTheHostName) {
    char expected[1024] = {};
    ASSERT_EQ(gethostname(expected, sizeof expected), 0);
    TLinuxNameLookup lookup;
    EXPECT_EQ(lookup.ComputerName(), expected);
}

TEST(LinuxNameLookup, ServicesComeFromTheGivenFile) {
    char pattern[] = "/tmp/tarnwick-lookup-services-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/services";
    {
        std::ofstream out(path);
        out << "domain 53/tcp\ndomain 53/udp\n";
    }
    {
        auto settings = FakeSettings(std::make_shared<TFakeResolver>());
        settings.ServicesPath = path;
        TLinuxNameLookup lookup(std::move(settings));
        auto entry = lookup.ServiceByPort(53);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->Name, "domain");
        EXPECT_EQ(entry->Protocol, "tcp");
        EXPECT_FALSE(lookup.ServiceByPort(54));
    }
    std::remove(path.c_str());
    rmdir(pattern);
}

}  // namespace
}  // namespace tarnwick
