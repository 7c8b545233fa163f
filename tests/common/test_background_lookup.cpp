// Background look-ups: only the newest result is delivered, and a look-up
// outliving its owner touches nothing of it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "common/background_lookup.h"
#include "common/thread_gate.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

using testing::TGate;

// Polls as a window's timer would, for at most five seconds.
template <typename TResult>
void PollUntilDelivered(TBackgroundLookup<TResult>& lookup) {
    for (int i = 0; i < 500 && lookup.Pending(); ++i) {
        std::this_thread::sleep_for(10ms);
        lookup.DeliverResult();
    }
}

TEST(BackgroundLookup, OnlyTheNewestResultIsDelivered) {
    std::vector<int> delivered;
    TBackgroundLookup<int> lookup([&](int result) { delivered.push_back(result); });

    lookup.Start([] { return 1; });
    PollUntilDelivered(lookup);
    EXPECT_EQ(delivered, std::vector<int>{1});

    // A look-up still running when a newer one starts is dropped, whichever ends first.
    auto release = std::make_shared<TGate>();
    auto returned = std::make_shared<TGate>();
    lookup.Start([release, returned] {
        release->Wait();
        returned->Open();
        return 2;
    });
    lookup.Start([] { return 3; });
    PollUntilDelivered(lookup);
    release->Open();
    returned->Wait();
    std::this_thread::sleep_for(20ms);
    lookup.DeliverResult();
    EXPECT_EQ(delivered, (std::vector<int>{1, 3}));

    // Dropped: nothing is pending, nothing comes.
    lookup.Start([] { return 4; });
    lookup.Drop();
    EXPECT_FALSE(lookup.Pending());
    std::this_thread::sleep_for(20ms);
    lookup.DeliverResult();
    EXPECT_EQ(delivered, (std::vector<int>{1, 3}));
}

TEST(BackgroundLookup, OwnerMayGoWhileALookupRuns) {
    auto release = std::make_shared<TGate>();
    auto returned = std::make_shared<TGate>();
    {
        TBackgroundLookup<std::vector<int>> lookup([](std::vector<int>) { FAIL() << "delivered to a dead owner"; });
        lookup.Start([release, returned] {
            release->Wait();
            returned->Open();
            return std::vector<int>(1000, 7);
        });
    }
    release->Open();
    returned->Wait();
    std::this_thread::sleep_for(20ms);  // the worker stores its result in the state it shares
}

}  // namespace
}  // namespace tarnwick
