#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "base/geometry.h"
#include "base/image.h"
#include "base/media_time.h"
#include "platform/media.h"

// The frames a player is about to show and the worker that decodes them ahead of time.
namespace pindle {

// What a looping player does when playback stops at one edge of its window.
enum class WindowEdge { Start, End };
struct LoopContinuation {
    WindowEdge seekTo;
    double rate;
};
// By loop type (0 Normal, 1 Reverse, 2 Ping-Pong): where play starts and in which direction.
// Other codes: nothing.
std::optional<LoopContinuation> loopStart(int64_t loopType);
// By loop type, after playback stopped at the window's start (arrivedAtStart) or its end.
std::optional<LoopContinuation> loopContinuation(int64_t loopType, bool arrivedAtStart);

// One frame shown while playing in one direction (+1 forward, -1 backward). A frame shown
// again in the other direction, as at the turn of a ping-pong, is another step.
struct PlaybackStep {
    size_t index = 0;
    int direction = 1;
    friend bool operator==(const PlaybackStep&, const PlaybackStep&) = default;
};

// The frames a player will show if nothing changes: from head on through the window's
// frames first…last, looping as the loop type says.
struct PlaybackPlan {
    PlaybackStep head;
    size_t first = 0;
    size_t last = 0;
    int64_t loopType = 0;
    // While playing, up to depth frames are decoded ahead; while paused only the head.
    bool playing = false;
    size_t depth = 1;
    Size frameSize;  // frames fit inside it; 0 × 0: natural size

    // Whether other's steps follow the same course as this plan's from the same step on.
    bool sameCourse(const PlaybackPlan& other) const {
        return first == other.first && last == other.last && loopType == other.loopType &&
               frameSize == other.frameSize;
    }
};

// The step after step in plan; none when the loop type ends playback there.
std::optional<PlaybackStep> stepAfter(const PlaybackPlan& plan, PlaybackStep step);

// Decoded frames for a player, on the player's thread.
class FrameSupply {
public:
    virtual ~FrameSupply() = default;
    // Presentation times of the movie's frames, in order.
    virtual const std::vector<MediaTime>& frameTimes() const = 0;
    // The frames to have ready from now on.
    virtual void setPlan(const PlaybackPlan& plan) = 0;
    // The image of step when it is decoded (null when it could not be), dropping the steps
    // queued before it; nothing while it is still being decoded.
    virtual std::optional<ImagePtr> take(PlaybackStep step) = 0;
};

// Decodes the plan's frames on a worker thread into a small bounded queue. A new plan that
// continues the course of the current one (as a loop restarting where the plan already
// went) keeps what is decoded; any other starts over at its head.
class DecodeAheadQueue final : public FrameSupply {
public:
    // frameReady is called on the worker thread when a frame arrives that take() was
    // waiting for.
    DecodeAheadQueue(std::unique_ptr<media::FrameSource> source, std::function<void()> frameReady);
    ~DecodeAheadQueue() override;

    const std::vector<MediaTime>& frameTimes() const override { return times_; }
    void setPlan(const PlaybackPlan& plan) override;
    std::optional<ImagePtr> take(PlaybackStep step) override;

private:
    struct Entry {
        PlaybackStep step;
        ImagePtr image;
    };

    void run();

    const std::unique_ptr<media::FrameSource> source_;  // used by the worker only
    const std::vector<MediaTime> times_;
    const std::function<void()> frameReady_;

    std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    std::optional<PlaybackPlan> plan_;
    std::deque<Entry> queue_;
    std::optional<PlaybackStep> next_;  // the step the worker decodes next
    uint64_t generation_ = 0;           // counts plans that started over
    bool pausedHeadDone_ = false;       // paused, and the head is decoded
    bool waiting_ = false;              // take() found nothing
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace pindle
