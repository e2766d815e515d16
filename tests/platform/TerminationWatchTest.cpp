// Requests to end the process, watched on real signals sent to this test process.
#include "core/app/TerminationWatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_previousHandlerCalls{0};

extern "C" void CountingHandler(int) {
    ++g_previousHandlerCalls;
}

bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(TerminationWatch, ReportsEachRequestInsteadOfEndingAndRestoresTheOldHandling) {
    struct sigaction counting {};
    counting.sa_handler = CountingHandler;
    struct sigaction saved[3];
    const int signals[] = {SIGTERM, SIGHUP, SIGINT};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(::sigaction(signals[i], &counting, &saved[i]), 0);
    }

    std::mutex mutex;
    std::vector<int> reported;
    std::thread::id callbackThread;
    {
        auto watch = kltapp::WatchTermination([&](int number) {
            std::lock_guard lock(mutex);
            reported.push_back(number);
            callbackThread = std::this_thread::get_id();
        });
        ASSERT_NE(watch, nullptr);
        // One watch at a time.
        EXPECT_EQ(kltapp::WatchTermination([](int) {}), nullptr);
        for (int number : signals) {
            ASSERT_EQ(::raise(number), 0);
        }
        EXPECT_TRUE(WaitFor([&] {
            std::lock_guard lock(mutex);
            return reported.size() == 3;
        }));
        std::lock_guard lock(mutex);
        EXPECT_EQ(reported, (std::vector<int>{SIGTERM, SIGHUP, SIGINT}));
        EXPECT_NE(callbackThread, std::this_thread::get_id());
    }
    EXPECT_EQ(g_previousHandlerCalls, 0);
    ASSERT_EQ(::raise(SIGTERM), 0);
    EXPECT_EQ(g_previousHandlerCalls, 1);
    for (int i = 0; i < 3; ++i) {
        ::sigaction(signals[i], &saved[i], nullptr);
    }
}

} // namespace
