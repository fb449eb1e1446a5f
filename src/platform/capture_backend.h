#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "base/crop_rect.h"
#include "platform/capture.h"

// What the screen-capture backends share: rectangles of whole pixels, the frames' size for a
// crop, and the hand-over of captured frames to a session's delegate.
namespace pindle {

// The size in pixels of the frames delivered for a crop: its size in points, rounded, made
// even; at least 2 x 2. The same on every backend, so a region gives the same movie on each.
PixelRect outputSizeForCrop(const Rect& crop);

// Hands a capture session's frames to its delegate on the delegate's queue, one at a time.
//
// The session's capture thread calls sample(), dropsLateFrame(), deliver() and fail();
// setDiscardsLateFrames() and statistics() may be called from any thread. A frame is "in
// flight" from the moment deliver() queues it until the delegate has returned from it; the
// queued tasks share the counts and may outlive this object.
class CaptureDelivery {
public:
    // Sleeps until a deadline; false when the session stops meanwhile.
    using SleepUntil = std::function<bool(std::chrono::steady_clock::time_point deadline)>;

    // tag names the backend in the log; sleepUntil paces the wait for a busy delegate.
    CaptureDelivery(const char* tag, SleepUntil sleepUntil);

    // true (the default): a frame ready while another is in flight is dropped and counted.
    // false: deliver() waits for the delegate instead.
    void setDiscardsLateFrames(bool discards) { discardsLate_ = discards; }
    CaptureStatistics statistics() const;

    // Whether the next frame would be dropped now; counts it as dropped when so, which lets
    // the capture thread spare itself the grab.
    bool dropsLateFrame();
    // A frame holding picture, stamped at slot on the host clock (the monotonic clock, in
    // nanoseconds). Frames of one size share one format description.
    SampleBufferPtr sample(PixelBufferPtr picture, std::chrono::steady_clock::time_point slot,
                           MediaTime duration);
    // Queues sample for the delegate. While another frame is in flight the sample is dropped
    // and counted, or, when late frames are kept, waits in steps of a millisecond until it
    // can go; a stop meanwhile gives it up.
    void deliver(SampleBufferPtr sample, std::weak_ptr<VideoDataOutputDelegate> delegate,
                 const dispatch::QueuePtr& queue);
    // Logs why no more frames can come; the delegate hears it on its queue.
    void fail(const Error& error, const std::weak_ptr<VideoDataOutputDelegate>& delegate,
              const dispatch::QueuePtr& queue);

private:
    struct Flight {
        std::atomic<bool> inFlight{false};
        std::atomic<uint64_t> delivered{0};
        std::atomic<uint64_t> dropped{0};
    };

    const char* const tag_;
    const SleepUntil sleepUntil_;
    std::atomic<bool> discardsLate_{true};
    const std::shared_ptr<Flight> flight_ = std::make_shared<Flight>();
    FormatDescriptionPtr format_;  // the capture thread's
};

}  // namespace pindle
