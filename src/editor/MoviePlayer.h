#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "base/geometry.h"
#include "base/image.h"
#include "base/media_time.h"
#include "editor/PlayerFrameQueue.h"
#include "platform/media.h"

namespace pindle {

// Where a player's frames go: the player view implements it.
class RCPlayerFrameSink {
public:
    virtual ~RCPlayerFrameSink() = default;
    // Shows image, the movie's frame presented at time, now. Called on the player's thread.
    virtual void showFrame(const ImagePtr& image, MediaTime time) = 0;
};

// Plays one movie (the current item) inside a window of its timeline, at a rate: 1 forward,
// -1 backward, 0 paused. Time runs from a steady clock; each frame is handed to the sink
// when the playhead enters it (going backward, when the playhead drops below the frame's
// end), decoded ahead of time by the frame supply. When the playhead reaches the window's
// forward end (at a positive rate) or its reverse end (at a negative one) the player
// pauses there and reports the end of the item.
//
// Seeks are always exact: the tolerances of seekToTime are accepted and the exact frame is
// shown, which every tolerance allows. The preview has no sound output; muted is a flag for
// the controls.
//
// Main thread only (the thread whose queue the environment wakes).
class MoviePlayer {
public:
    using Clock = std::chrono::steady_clock;

    struct Environment {
        std::function<Clock::time_point()> now;
        // Calls tick on the player's thread at or soon after time (as soon as possible for a
        // past time). May be called from any thread.
        std::function<void(Clock::time_point time, std::function<void()> tick)> wakeAt;
        // The frames of a movie; frameReady may be called from any thread when a frame the
        // player waits for has been decoded. Null when the frames cannot be read.
        std::function<std::unique_ptr<FrameSupply>(const media::MoviePtr& movie,
                                                   std::function<void()> frameReady)>
            makeFrameSupply;
    };
    // The steady clock, the main queue and frames decoded ahead by the movie's backend.
    static Environment systemEnvironment();

    struct Statistics {
        uint64_t framesShown = 0;
        // Frames shown more than one frame interval after their time.
        uint64_t framesLate = 0;
        // Frames passed over while playing because they were not decoded in time.
        uint64_t framesSkipped = 0;
    };

    explicit MoviePlayer(Environment environment = systemEnvironment());
    virtual ~MoviePlayer();
    MoviePlayer(const MoviePlayer&) = delete;
    MoviePlayer& operator=(const MoviePlayer&) = delete;

    // Makes a new current item of movie, with the window set to the whole of duration, and
    // moves the playhead to zero. The rate is kept.
    void replaceCurrentItem(const media::MoviePtr& movie, MediaTime duration);
    bool hasCurrentItem() const { return hasItem_; }

    double rate() const { return rate_; }
    void setRate(double rate);
    void pause() { setRate(0); }

    MediaTime currentTime() const;
    void seekToTime(MediaTime time, MediaTime toleranceBefore = MediaTime::zero(),
                    MediaTime toleranceAfter = MediaTime::zero());

    // The item's window: playing backward stops at the reverse end, forward at the forward end.
    MediaTime reversePlaybackEndTime() const { return windowStart_; }
    void setReversePlaybackEndTime(MediaTime time);
    MediaTime forwardPlaybackEndTime() const { return windowEnd_; }
    void setForwardPlaybackEndTime(MediaTime time);

    bool isMuted() const { return muted_; }
    void setMuted(bool muted) { muted_ = muted; }

    // The sink (not owned; null for none) and the size frames are decoded to fit inside
    // (0 × 0: the movie's size).
    void setFrameSink(RCPlayerFrameSink* sink);
    void setFrameSize(Size size);

    // Calls block with the current time every interval of playback while playing, and when
    // the time jumps (seeks, rate changes, the end of the window). It is called where frames
    // change or the interval has passed, whichever is later: never more often than frames
    // change on screen while playing. Returns a token for removeTimeObserver.
    int addPeriodicTimeObserver(MediaTime interval, std::function<void(MediaTime)> block);
    // Calls block when playback stops at an end of the window (with the player paused there),
    // before the player's own end handling.
    int addEndObserver(std::function<void()> block);
    void removeTimeObserver(int token);

    const Statistics& statistics() const { return statistics_; }

    // Shows what is due now and plans the next wake-up. The environment calls it; tests
    // with a fake clock call it after moving the clock.
    void tick();

protected:
    // Playback has stopped at an end of the window; the player is paused there.
    virtual void itemDidReachEnd() {}
    // The loop type (see loopContinuation) whose rules say what follows the end of the
    // window, so that the frames after it are decoded in time; the base player stops there.
    virtual int64_t loopTypeAtItemEnd() const { return -1; }

private:
    struct TimeObserver {
        double interval;
        std::function<void(MediaTime)> block;
        Clock::time_point nextCall;
    };

    Clock::time_point now() const;
    MediaTime timeAt(Clock::time_point when) const;
    // When (on the clock) the playhead is at time; the anchor for a paused player.
    Clock::time_point wallTimeOf(MediaTime time) const;
    size_t frameIndexAt(MediaTime time, int direction) const;
    PlaybackStep stepAt(MediaTime time) const;
    void moveAnchor(MediaTime time, Clock::time_point wall);
    void timeJumped();
    PlaybackPlan planFor(PlaybackStep head) const;
    void reachEnd(MediaTime edge, Clock::time_point wall);
    void updatePlan();
    void showDueFrame(Clock::time_point at);
    void show(PlaybackStep step, const ImagePtr& image, Clock::time_point at);
    // Steps passed over from one step to a later one of the plan's course.
    size_t stepsBetween(PlaybackStep from, PlaybackStep to) const;
    void callTimeObservers(Clock::time_point at);
    void scheduleWake(Clock::time_point at);
    void requestTick();

    Environment environment_;
    std::shared_ptr<MoviePlayer*> self_;  // wake-ups hold it weakly

    bool hasItem_ = false;
    media::MoviePtr movie_;  // outlives the supply that reads it
    std::unique_ptr<FrameSupply> supply_;
    std::vector<MediaTime> frameTimes_;
    MediaTime duration_ = MediaTime::zero();
    MediaTime windowStart_ = MediaTime::zero();
    MediaTime windowEnd_ = MediaTime::zero();

    double rate_ = 0;
    MediaTime anchorTime_ = MediaTime::zero();  // the playhead was here ...
    Clock::time_point anchorWall_;              // ... at this time of the clock
    // While the end of the window is handled: the moment the playhead reached it, which
    // is "now" for what the handler does, so that a late tick does not shift the loop.
    std::optional<Clock::time_point> endReachedAt_;

    RCPlayerFrameSink* sink_ = nullptr;
    Size frameSize_;
    std::optional<PlaybackStep> shown_;  // the step on screen
    bool startWaiting_ = false;          // playing, held at a jump until its frame comes
    Clock::time_point shownDue_;         // when the step wanted was due
    bool muted_ = false;

    int nextToken_ = 1;
    std::map<int, TimeObserver> timeObservers_;
    std::map<int, std::function<void()>> endObservers_;
    std::optional<Clock::time_point> wakeScheduled_;
    bool tickRequested_ = false;
    bool timeJumped_ = false;  // observers are told at the next tick
    Statistics statistics_;
};

}  // namespace pindle
