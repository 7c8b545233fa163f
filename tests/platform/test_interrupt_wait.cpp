#include "platform/linux/interrupt_wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <pthread.h>
#include <signal.h>
#include <thread>

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

// Signals are sent to this thread only (pthread_kill): other tests of this
// program may leave threads behind that do not block SIGINT, and a signal sent
// to the whole process could land on one of them and end the run.

bool Blocked(int signal) {
    sigset_t mask;
    sigemptyset(&mask);
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

TEST(InterruptWait, TimesOutWithoutASignal) {
    TInterruptWait wait;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(wait.WaitForInterrupt(100ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);
    EXPECT_FALSE(wait.Interrupted());
    EXPECT_FALSE(wait.WaitForInterrupt(0ms));
    EXPECT_FALSE(wait.WaitForInterrupt(-5ms));
}

TEST(InterruptWait, TakesSigintAndSigterm) {
    for (int signal : {SIGINT, SIGTERM}) {
        TInterruptWait wait;
        ASSERT_EQ(pthread_kill(pthread_self(), signal), 0);
        EXPECT_TRUE(wait.WaitForInterrupt(1s)) << signal;
        EXPECT_TRUE(wait.Interrupted());
        // Once interrupted, always interrupted, without waiting.
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(wait.WaitForInterrupt(1s));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    }
}

TEST(InterruptWait, WakesWhenTheSignalComesDuringTheWait) {
    TInterruptWait wait;
    const pthread_t waiter = pthread_self();
    std::thread sender([waiter] {
        std::this_thread::sleep_for(100ms);
        pthread_kill(waiter, SIGINT);
    });
    const auto start = std::chrono::steady_clock::now();
    const bool interrupted = wait.WaitForInterrupt(5s);
    const auto took = std::chrono::steady_clock::now() - start;
    sender.join();
    EXPECT_TRUE(interrupted);
    EXPECT_LT(took, 2s);
}

TEST(InterruptWait, MaskIsInheritedAndRestored) {
    ASSERT_FALSE(Blocked(SIGINT));
    {
        TInterruptWait wait;
        EXPECT_TRUE(Blocked(SIGINT));
        EXPECT_TRUE(Blocked(SIGTERM));
        bool blockedInThread = false;
        std::thread([&] { blockedInThread = Blocked(SIGINT) && Blocked(SIGTERM); }).join();
        EXPECT_TRUE(blockedInThread);
    }
    EXPECT_FALSE(Blocked(SIGINT));
    EXPECT_FALSE(Blocked(SIGTERM));
}

TEST(InterruptWait, SignalNotWaitedForDoesNotKillOnDestruction) {
    {
        TInterruptWait wait;
        ASSERT_EQ(pthread_kill(pthread_self(), SIGINT), 0);
    }
    // Still alive: the destructor took the pending signal before unblocking it.
    EXPECT_FALSE(Blocked(SIGINT));
}

}  // namespace
}  // namespace tarnwick
