#include "editor/MoviePlayer.h"

#include <algorithm>
#include <cmath>

#include "base/dispatch.h"
#include "base/log.h"

namespace pindle {

namespace {

constexpr const char* kTag = "player";
// Frames decoded ahead while playing: a quarter of a second at 60 per second, more than the
// backend decodes in one go to step backward.
constexpr size_t kDecodeAhead = 16;
// Playhead arithmetic runs at nanosecond precision.
constexpr int32_t kTimescale = 1'000'000'000;
// A tick later than this after an end of the window restarts the loop from the tick, not
// from the moment the end was reached, so a stalled process does not race to catch up.
constexpr auto kLoopCatchUpLimit = std::chrono::milliseconds(100);

using Seconds = std::chrono::duration<double>;

}  // namespace

MoviePlayer::Environment MoviePlayer::systemEnvironment() {
    Environment environment;
    environment.now = [] { return Clock::now(); };
    environment.wakeAt = [](Clock::time_point time, std::function<void()> tick) {
        auto delay = time - Clock::now();
        if (delay <= Clock::duration::zero()) {
            dispatch::mainQueue()->async(std::move(tick));
        } else {
            dispatch::after(delay, dispatch::mainQueue(), std::move(tick));
        }
    };
    environment.makeFrameSupply =
        [](const media::MoviePtr& movie,
           std::function<void()> frameReady) -> std::unique_ptr<FrameSupply> {
        auto source = movie->makeFrameSource();
        if (!source) {
            PINDLE_LOG_ERROR(kTag, "cannot read the frames of %s: %s",
                             movie->path().string().c_str(), source.error().message.c_str());
            return nullptr;
        }
        return std::make_unique<DecodeAheadQueue>(std::move(*source), std::move(frameReady));
    };
    return environment;
}

MoviePlayer::MoviePlayer(Environment environment)
    : environment_(std::move(environment)), self_(std::make_shared<MoviePlayer*>(this)) {
    anchorWall_ = environment_.now();
}

MoviePlayer::~MoviePlayer() = default;

void MoviePlayer::replaceCurrentItem(const media::MoviePtr& movie, MediaTime duration) {
    supply_.reset();
    frameTimes_.clear();
    movie_ = movie;
    if (movie && environment_.makeFrameSupply) {
        auto wakeAt = environment_.wakeAt;
        std::weak_ptr<MoviePlayer*> weak = self_;
        supply_ = environment_.makeFrameSupply(movie, [wakeAt, weak] {
            wakeAt(Clock::time_point::min(), [weak] {
                if (auto self = weak.lock()) {
                    (*self)->tick();
                }
            });
        });
        if (supply_) {
            frameTimes_ = supply_->frameTimes();
        }
    }
    hasItem_ = true;
    duration_ = duration.isNumeric() ? duration : MediaTime::zero();
    windowStart_ = MediaTime::zero();
    windowEnd_ = duration_;
    shown_.reset();
    moveAnchor(MediaTime::zero(), now());
    timeJumped();
}

void MoviePlayer::setRate(double rate) {
    auto at = now();
    moveAnchor(timeAt(at), at);
    rate_ = rate;
    timeJumped();
}

MediaTime MoviePlayer::currentTime() const {
    return timeAt(now());
}

void MoviePlayer::seekToTime(MediaTime time, MediaTime, MediaTime) {
    if (!time.isNumeric()) {
        return;
    }
    moveAnchor(time, now());
    shown_.reset();  // a seek shows its frame even when it is the one on screen
    timeJumped();
}

void MoviePlayer::setReversePlaybackEndTime(MediaTime time) {
    windowStart_ = time.isNumeric() ? time : MediaTime::zero();
    requestTick();
}

void MoviePlayer::setForwardPlaybackEndTime(MediaTime time) {
    windowEnd_ = time.isNumeric() ? time : duration_;
    requestTick();
}

void MoviePlayer::setFrameSink(RCPlayerFrameSink* sink) {
    sink_ = sink;
    shown_.reset();
    requestTick();
}

void MoviePlayer::setFrameSize(Size size) {
    if (size == frameSize_) {
        return;
    }
    frameSize_ = size;
    shown_.reset();
    requestTick();
}

int MoviePlayer::addPeriodicTimeObserver(MediaTime interval, std::function<void(MediaTime)> block) {
    int token = nextToken_++;
    double seconds = interval.isNumeric() ? std::max(0.0, interval.seconds()) : 0;
    timeObservers_[token] = TimeObserver{seconds, std::move(block), now()};
    return token;
}

int MoviePlayer::addEndObserver(std::function<void()> block) {
    int token = nextToken_++;
    endObservers_[token] = std::move(block);
    return token;
}

void MoviePlayer::removeTimeObserver(int token) {
    timeObservers_.erase(token);
    endObservers_.erase(token);
}

MoviePlayer::Clock::time_point MoviePlayer::now() const {
    return endReachedAt_ ? *endReachedAt_ : environment_.now();
}

MediaTime MoviePlayer::timeAt(Clock::time_point when) const {
    if (rate_ == 0 || startWaiting_) {
        return anchorTime_;
    }
    double elapsed = Seconds(when - anchorWall_).count() * rate_;
    MediaTime time = anchorTime_ + MediaTime::makeWithSeconds(elapsed, kTimescale);
    if (rate_ > 0 && time > windowEnd_ && anchorTime_ <= windowEnd_) {
        return windowEnd_;
    }
    if (rate_ < 0 && time < windowStart_ && anchorTime_ >= windowStart_) {
        return windowStart_;
    }
    return time;
}

MoviePlayer::Clock::time_point MoviePlayer::wallTimeOf(MediaTime time) const {
    if (rate_ == 0) {
        return anchorWall_;
    }
    // Rounded up, so that the playhead has reached time by then.
    auto offset = Seconds((time - anchorTime_).seconds() / rate_);
    return anchorWall_ + std::chrono::ceil<Clock::duration>(offset);
}

size_t MoviePlayer::frameIndexAt(MediaTime time, int direction) const {
    // Forward, the frame shown at time starts at or before it; backward, the frame shown
    // just before time is reached from above starts before it.
    auto after = direction < 0 ? std::lower_bound(frameTimes_.begin(), frameTimes_.end(), time)
                               : std::upper_bound(frameTimes_.begin(), frameTimes_.end(), time);
    return after == frameTimes_.begin() ? 0 : size_t(after - frameTimes_.begin() - 1);
}

PlaybackStep MoviePlayer::stepAt(MediaTime time) const {
    int direction = rate_ < 0 ? -1 : 1;
    return PlaybackStep{frameIndexAt(time, direction), direction};
}

void MoviePlayer::moveAnchor(MediaTime time, Clock::time_point wall) {
    anchorTime_ = time;
    anchorWall_ = wall;
}

void MoviePlayer::timeJumped() {
    timeJumped_ = true;
    requestTick();
}

void MoviePlayer::requestTick() {
    if (tickRequested_ || !environment_.wakeAt) {
        return;
    }
    tickRequested_ = true;
    std::weak_ptr<MoviePlayer*> weak = self_;
    environment_.wakeAt(Clock::time_point::min(), [weak] {
        if (auto self = weak.lock()) {
            (*self)->tick();
        }
    });
}

void MoviePlayer::scheduleWake(Clock::time_point at) {
    if (wakeScheduled_ && *wakeScheduled_ <= at) {
        return;
    }
    wakeScheduled_ = at;
    std::weak_ptr<MoviePlayer*> weak = self_;
    environment_.wakeAt(at, [weak] {
        if (auto self = weak.lock()) {
            (*self)->tick();
        }
    });
}

void MoviePlayer::reachEnd(MediaTime edge, Clock::time_point wall) {
    auto current = environment_.now();
    if (current - wall > kLoopCatchUpLimit) {
        wall = current;
    }
    moveAnchor(edge, wall);
    rate_ = 0;
    timeJumped_ = true;
    endReachedAt_ = wall;
    auto observers = endObservers_;
    for (auto& [token, block] : observers) {
        block();
    }
    itemDidReachEnd();
    endReachedAt_.reset();
}

void MoviePlayer::tick() {
    tickRequested_ = false;
    auto at = environment_.now();
    if (wakeScheduled_ && *wakeScheduled_ <= at) {
        wakeScheduled_.reset();
    }
    if (!hasItem_) {
        return;
    }
    // At most one end per tick: the handler starts the next pass from the end's moment.
    if (rate_ > 0 && timeAt(at) >= windowEnd_) {
        reachEnd(windowEnd_, std::max(anchorWall_, wallTimeOf(windowEnd_)));
    } else if (rate_ < 0 && timeAt(at) <= windowStart_) {
        reachEnd(windowStart_, std::max(anchorWall_, wallTimeOf(windowStart_)));
    }
    updatePlan();
    showDueFrame(at);
    callTimeObservers(at);
    if (rate_ == 0 || startWaiting_) {
        return;  // nothing moves until play starts, or the first frame comes
    }
    // Wake at the next frame boundary, or at the end of the window.
    MediaTime time = timeAt(at);
    MediaTime next = rate_ > 0 ? windowEnd_ : windowStart_;
    if (!frameTimes_.empty()) {
        size_t index = frameIndexAt(time, rate_ < 0 ? -1 : 1);
        if (rate_ > 0 && index + 1 < frameTimes_.size() && frameTimes_[index + 1] > time) {
            next = MediaTime::minimum(next, frameTimes_[index + 1]);
        } else if (rate_ < 0 && frameTimes_[index] < time) {
            next = MediaTime::maximum(next, frameTimes_[index]);
        }
    }
    // Never at this very moment again: the rounding of the clock's ticks into media time
    // must not spin.
    scheduleWake(std::max(at + Clock::duration(1), wallTimeOf(next)));
}

PlaybackPlan MoviePlayer::planFor(PlaybackStep head) const {
    PlaybackPlan plan;
    plan.head = head;
    plan.first = frameIndexAt(windowStart_, 1);
    plan.last = std::max(plan.first, frameIndexAt(windowEnd_, -1));
    plan.loopType = loopTypeAtItemEnd();
    plan.playing = rate_ != 0;
    plan.depth = kDecodeAhead;
    plan.frameSize = frameSize_;
    return plan;
}

void MoviePlayer::updatePlan() {
    if (!supply_ || frameTimes_.empty()) {
        return;
    }
    PlaybackStep step = stepAt(currentTime());
    if (shown_ != step) {
        supply_->setPlan(planFor(step));
        return;
    }
    // On screen already: while playing, have the next ones decoded.
    if (rate_ != 0) {
        PlaybackPlan plan = planFor(step);
        if (auto next = stepAfter(plan, step)) {
            plan.head = *next;
            supply_->setPlan(plan);
        }
    }
}

size_t MoviePlayer::stepsBetween(PlaybackStep from, PlaybackStep to) const {
    PlaybackPlan plan = planFor(from);
    size_t passed = 0;
    for (auto step = stepAfter(plan, from); step && passed <= frameTimes_.size() * 2;
         step = stepAfter(plan, *step)) {
        if (*step == to) {
            return passed;
        }
        ++passed;
    }
    return 0;  // not on the way: a jump, not a skip
}

void MoviePlayer::showDueFrame(Clock::time_point at) {
    if (!supply_ || frameTimes_.empty()) {
        return;
    }
    if (!shown_ && rate_ != 0) {
        // Starting to play after a jump: the playhead waits at the frame it jumped to until
        // that frame is decoded, so that the frames after it are not due before it is shown.
        PlaybackStep first = stepAt(anchorTime_);
        if (stepAt(timeAt(at)) == first || startWaiting_) {
            auto image = supply_->take(first);
            if (!image) {
                moveAnchor(anchorTime_, at);
                startWaiting_ = true;
                return;
            }
            if (startWaiting_) {
                moveAnchor(anchorTime_, at);
                startWaiting_ = false;
            }
            show(first, *image, at);
            return;
        }
    }
    startWaiting_ = false;
    PlaybackStep step = stepAt(timeAt(at));
    if (shown_ == step) {
        return;
    }
    auto image = supply_->take(step);
    if (!image) {
        return;  // the supply wakes the player when it arrives
    }
    show(step, *image, at);
}

void MoviePlayer::show(PlaybackStep step, const ImagePtr& image, Clock::time_point at) {
    // When the playhead entered the frame: its start going forward, its end going backward.
    Clock::time_point due = anchorWall_;
    if (rate_ != 0) {
        MediaTime boundary = rate_ > 0                             ? frameTimes_[step.index]
                             : step.index + 1 < frameTimes_.size() ? frameTimes_[step.index + 1]
                                                                   : windowEnd_;
        due = std::max(due, wallTimeOf(boundary));
    }
    MediaTime interval = step.index + 1 < frameTimes_.size()
                             ? frameTimes_[step.index + 1] - frameTimes_[step.index]
                         : step.index > 0 ? frameTimes_[step.index] - frameTimes_[step.index - 1]
                                          : MediaTime::zero();
    if (shown_ && rate_ != 0) {
        statistics_.framesSkipped += stepsBetween(*shown_, step);
    }
    shown_ = step;
    ++statistics_.framesShown;
    if (Seconds(at - due).count() > interval.seconds() / std::max(1.0, std::abs(rate_))) {
        ++statistics_.framesLate;
    }
    if (image && sink_) {
        sink_->showFrame(image, frameTimes_[step.index]);
    }
}

void MoviePlayer::callTimeObservers(Clock::time_point at) {
    bool jumped = timeJumped_;
    timeJumped_ = false;
    if (timeObservers_.empty() || (!jumped && rate_ == 0)) {
        return;
    }
    MediaTime time = timeAt(at);
    std::vector<std::function<void(MediaTime)>> due;
    for (auto& [token, observer] : timeObservers_) {
        if (jumped || at >= observer.nextCall) {
            observer.nextCall =
                at + std::chrono::duration_cast<Clock::duration>(Seconds(observer.interval));
            due.push_back(observer.block);
        }
    }
    for (auto& block : due) {
        block(time);
    }
}

}  // namespace pindle
