// The process's owned threads: work that outlives its caller is joined once done, and the
// end of the program tells a thread stuck in its work from one that finished.
#include "base/owned_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace quavella {
namespace {

using std::chrono::milliseconds;

/// Work that runs until released, as a load stuck on a pipe nobody writes.
struct Gate {
    void wait() {
        std::unique_lock lock(mutex);
        opened.wait(lock, [&] { return open; });
    }
    void release() {
        {
            const std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
};

TEST(OwnedThreads, FinishedWorkIsJoinedAndStuckWorkIsToldApart) {
    ASSERT_TRUE(join_owned_threads(milliseconds(10000)));
    std::atomic<int> ran{0};
    for (int i = 0; i < 20; ++i) start_owned_thread([&] { ++ran; });
    EXPECT_TRUE(join_owned_threads(milliseconds(10000)));
    EXPECT_EQ(ran, 20);
    EXPECT_EQ(owned_threads_running(), 0);

    // Stuck: the end of the program waits no longer than it said, and knows.
    auto gate = std::make_shared<Gate>();
    start_owned_thread([gate] { gate->wait(); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(join_owned_threads(milliseconds(100)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(5000));
    EXPECT_EQ(owned_threads_running(), 1);
    gate->release();
    EXPECT_TRUE(join_owned_threads(milliseconds(10000)));
}

TEST(OwnedThreads, WhatTheWorkHoldsIsGoneBeforeItCountsAsDone) {
    // An export's score or a load's synthesizer goes on the worker, never at the join.
    auto held = std::make_shared<int>(7);
    const std::weak_ptr<int> watch = held;
    start_owned_thread([held = std::move(held)] { (void)held; });
    EXPECT_TRUE(join_owned_threads(milliseconds(10000)));
    EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace quavella
