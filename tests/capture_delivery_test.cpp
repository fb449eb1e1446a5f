#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/capture_backend.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A delegate that holds each frame until the test lets it go, as a busy encoder would.
class GatedDelegate : public VideoDataOutputDelegate {
public:
    void captureOutput(const SampleBufferPtr& sample) override {
        {
            std::lock_guard lock(mutex_);
            seen_.push_back(sample);
        }
        entered.signal();
        release.wait();
    }
    std::vector<SampleBufferPtr> seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }

    dispatch::Semaphore entered;
    dispatch::Semaphore release;

private:
    mutable std::mutex mutex_;  // guards seen_
    std::vector<SampleBufferPtr> seen_;
};

class ConcurrentCaptureDelivery : public ::testing::Test {
protected:
    void TearDown() override {
        delegate->release.signal();  // a failed test may have left a frame waiting
        queue->sync([] {});
    }

    SampleBufferPtr frame(Clock::time_point slot) {
        return delivery.sample(PixelBuffer::make420v(4, 2), slot, MediaTime::make(1, 60));
    }
    void deliver(SampleBufferPtr sample) { delivery.deliver(std::move(sample), target, queue); }
    bool deliveredReaches(uint64_t count) {
        const auto deadline = Clock::now() + 5s;
        while (delivery.statistics().framesDelivered < count && Clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        return delivery.statistics().framesDelivered == count;
    }

    std::atomic<int> waits{0};  // steps a late frame waited for the delegate
    std::atomic<bool> stopped{false};
    CaptureDelivery delivery{"test", [this](Clock::time_point deadline) {
                                 waits++;
                                 std::this_thread::sleep_until(deadline);
                                 return !stopped;
                             }};
    dispatch::QueuePtr queue = dispatch::makeSerialQueue("test.delivery");
    std::shared_ptr<GatedDelegate> delegate = std::make_shared<GatedDelegate>();
    std::weak_ptr<VideoDataOutputDelegate> target = delegate;
};

TEST_F(ConcurrentCaptureDelivery, FramesReadyWhileOneIsInFlightAreDroppedAndCounted) {
    const auto start = Clock::now();
    deliver(frame(start));
    ASSERT_TRUE(delegate->entered.waitFor(5s));

    EXPECT_TRUE(delivery.dropsLateFrame());
    deliver(frame(start + 16ms));
    EXPECT_EQ(delivery.statistics().framesDropped, 2u);
    EXPECT_EQ(delivery.statistics().framesDelivered, 0u);

    delegate->release.signal();
    ASSERT_TRUE(deliveredReaches(1));
    EXPECT_FALSE(delivery.dropsLateFrame());
    deliver(frame(start + 33ms));
    deliver(frame(start + 50ms));  // late again
    ASSERT_TRUE(delegate->entered.waitFor(5s));
    delegate->release.signal();
    ASSERT_TRUE(deliveredReaches(2));

    const auto seen = delegate->seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1]->presentationTimeStamp - seen[0]->presentationTimeStamp,
              MediaTime::make(33'000'000, 1'000'000'000));
    EXPECT_EQ(seen[0]->formatDescription, seen[1]->formatDescription);
    EXPECT_EQ(delivery.statistics().framesDropped, 3u);

    // A delegate that has gone away counts nothing but does not hold up later frames.
    target.reset();
    deliver(frame(start + 66ms));
    queue->sync([] {});
    EXPECT_FALSE(delivery.dropsLateFrame());
    EXPECT_EQ(delivery.statistics().framesDelivered, 2u);
    EXPECT_EQ(delivery.statistics().framesDropped, 3u);
    EXPECT_EQ(waits, 0);
}

TEST_F(ConcurrentCaptureDelivery, KeptLateFramesWaitForTheDelegateUntilTheSessionStops) {
    delivery.setDiscardsLateFrames(false);
    const auto start = Clock::now();
    deliver(frame(start));
    ASSERT_TRUE(delegate->entered.waitFor(5s));
    EXPECT_FALSE(delivery.dropsLateFrame());

    std::thread capture([&] { deliver(frame(start + 16ms)); });
    const auto deadline = Clock::now() + 5s;
    while (waits == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_GT(waits, 0);
    delegate->release.signal();
    capture.join();  // the waiting frame is queued once the first one is done
    ASSERT_TRUE(delegate->entered.waitFor(5s));

    // A stop while waiting gives the frame up.
    stopped = true;
    deliver(frame(start + 33ms));
    delegate->release.signal();
    ASSERT_TRUE(deliveredReaches(2));
    EXPECT_FALSE(delegate->entered.waitFor(100ms));

    const auto seen = delegate->seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1]->presentationTimeStamp - seen[0]->presentationTimeStamp,
              MediaTime::make(16'000'000, 1'000'000'000));
    EXPECT_EQ(delivery.statistics().framesDropped, 0u);
}

}  // namespace
}  // namespace pindle
