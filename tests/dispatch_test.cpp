#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/dispatch.h"
#include "base/notifications.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;

TEST(Dispatch, SerialQueueRunsOneTaskAtATimeInOrder) {
    auto queue = dispatch::makeSerialQueue("test.serial");
    std::vector<int> seen;  // written only by the queue's tasks
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    dispatch::Semaphore done;
    for (int i = 0; i < 500; ++i) {
        queue->async([&, i] {
            if (running.fetch_add(1) != 0) {
                overlapped = true;
            }
            seen.push_back(i);
            running.fetch_sub(1);
        });
    }
    queue->async([&] { done.signal(); });
    ASSERT_TRUE(done.waitFor(5s));
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(seen.size(), 500u);
    for (int i = 0; i < 500; ++i) {
        EXPECT_EQ(seen[i], i);
    }
}

TEST(Dispatch, SyncRunsOnTheQueueAndWaits) {
    auto queue = dispatch::makeSerialQueue("test.sync");
    bool onQueue = false;
    queue->sync([&] { onQueue = queue->isCurrent(); });
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(queue->isCurrent());
    // A nested sync on the queue's own thread runs at once rather than deadlocking.
    int inner = 0;
    queue->sync([&] { queue->sync([&] { inner = 1; }); });
    EXPECT_EQ(inner, 1);
}

TEST(Dispatch, MainQueueRunsTasksFromOtherThreadsOnTheMainThreadInOrder) {
    ASSERT_TRUE(dispatch::isMainThread());
    std::vector<int> seen;
    std::atomic<bool> wrongThread{false};
    std::thread producer([&] {
        for (int i = 0; i < 100; ++i) {
            dispatch::mainQueue()->async([&, i] {
                if (!dispatch::isMainThread()) {
                    wrongThread = true;
                }
                seen.push_back(i);
            });
        }
    });
    producer.join();
    EXPECT_TRUE(seen.empty());  // nothing runs until the main thread pumps
    ASSERT_TRUE(dispatch::runUntil([&] { return seen.size() == 100; }, 5s));
    EXPECT_FALSE(wrongThread);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(seen[i], i);
    }
}

TEST(Dispatch, DelayedCallsRunAfterTheirDelayInDeadlineOrder) {
    std::vector<int> order;
    auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration firstAt{};
    dispatch::after(60ms, dispatch::mainQueue(), [&] { order.push_back(60); });
    dispatch::after(20ms, dispatch::mainQueue(), [&] {
        firstAt = std::chrono::steady_clock::now() - start;
        order.push_back(20);
    });
    ASSERT_TRUE(dispatch::runUntil([&] { return order.size() == 2; }, 5s));
    EXPECT_EQ(order, (std::vector<int>{20, 60}));
    EXPECT_GE(firstAt, 20ms);
}

TEST(Dispatch, RunUntilGivesUpAtTheTimeout) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(dispatch::runUntil([] { return false; }, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
}

TEST(Dispatch, GlobalQueueRunsTasksConcurrently) {
    // Each task waits for the other: a queue that ran them one after the other would stall.
    dispatch::Semaphore first;
    dispatch::Semaphore second;
    dispatch::Semaphore done;
    auto queue = dispatch::globalQueue(dispatch::Priority::High);
    queue->async([&] {
        first.signal();
        if (second.waitFor(5s)) {
            done.signal();
        }
    });
    queue->async([&] {
        second.signal();
        if (first.waitFor(5s)) {
            done.signal();
        }
    });
    EXPECT_TRUE(done.waitFor(5s));
    EXPECT_TRUE(done.waitFor(5s));
}

TEST(Dispatch, SemaphoreCountsAndTimesOut) {
    dispatch::Semaphore semaphore(2);
    EXPECT_TRUE(semaphore.waitFor(0ms));
    EXPECT_TRUE(semaphore.waitFor(0ms));
    EXPECT_FALSE(semaphore.waitFor(20ms));
    std::thread signaller([&] {
        std::this_thread::sleep_for(10ms);
        semaphore.signal();
    });
    EXPECT_TRUE(semaphore.waitFor(5s));
    signaller.join();
}

TEST(Notifications, AreDeliveredLaterOnTheMainQueueToMatchingObservers) {
    NotificationCenter center;
    int sender = 0;
    int otherSender = 0;
    std::vector<std::string> received;
    auto any = center.addObserver("changed", nullptr,
                                  [&](const Notification&) { received.push_back("any"); });
    auto only = center.addObserver("changed", &sender, [&](const Notification& n) {
        EXPECT_EQ(n.sender, &sender);
        received.push_back("only");
    });
    std::thread poster([&] {
        center.post("changed", &sender);
        center.post("changed", &otherSender);
        center.post("unrelated", &sender);
    });
    poster.join();
    EXPECT_TRUE(received.empty());
    dispatch::drainMainQueue();
    EXPECT_EQ(received, (std::vector<std::string>{"any", "only", "any"}));
}

TEST(Notifications, ADroppedTokenStopsDeliveryEvenWhenAlreadyQueued) {
    NotificationCenter center;
    int count = 0;
    auto token = center.addObserver("changed", nullptr, [&](const Notification&) { ++count; });
    center.post("changed", nullptr);
    token.reset();
    dispatch::drainMainQueue();
    EXPECT_EQ(count, 0);
    {
        auto scoped = center.addObserver("changed", nullptr, [&](const Notification&) { ++count; });
        center.post("changed", nullptr);
        dispatch::drainMainQueue();
    }
    center.post("changed", nullptr);
    dispatch::drainMainQueue();
    EXPECT_EQ(count, 1);
}

}  // namespace
}  // namespace pindle
