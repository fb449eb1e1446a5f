#include "editor/PlayerFrameQueue.h"

#include <algorithm>

#include "base/dispatch.h"
#include "base/log.h"

namespace pindle {

namespace {
constexpr const char* kTag = "player";
}

std::optional<LoopContinuation> loopStart(int64_t loopType) {
    switch (loopType) {
        case 0:
        case 2:
            return LoopContinuation{WindowEdge::Start, 1};
        case 1:
            return LoopContinuation{WindowEdge::End, -1};
        default:
            return std::nullopt;
    }
}

std::optional<LoopContinuation> loopContinuation(int64_t loopType, bool arrivedAtStart) {
    switch (loopType) {
        case 0:
            return LoopContinuation{WindowEdge::Start, 1};
        case 1:
            return LoopContinuation{WindowEdge::End, -1};
        case 2:
            return arrivedAtStart ? LoopContinuation{WindowEdge::Start, 1}
                                  : LoopContinuation{WindowEdge::End, -1};
        default:
            return std::nullopt;
    }
}

std::optional<PlaybackStep> stepAfter(const PlaybackPlan& plan, PlaybackStep step) {
    if (step.direction > 0 && step.index < plan.last) {
        return PlaybackStep{step.index + 1, 1};
    }
    if (step.direction < 0 && step.index > plan.first) {
        return PlaybackStep{step.index - 1, -1};
    }
    auto next = loopContinuation(plan.loopType, step.direction < 0);
    if (!next) {
        return std::nullopt;
    }
    // Seeking to the start shows its frame; playing backward from the end shows the last
    // frame before it.
    return PlaybackStep{next->seekTo == WindowEdge::Start ? plan.first : plan.last,
                        next->rate < 0 ? -1 : 1};
}

DecodeAheadQueue::DecodeAheadQueue(std::unique_ptr<media::FrameSource> source,
                                   std::function<void()> frameReady)
    : source_(std::move(source)),
      times_(source_->frameTimes()),
      frameReady_(std::move(frameReady)),
      worker_([this] { run(); }) {}

DecodeAheadQueue::~DecodeAheadQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void DecodeAheadQueue::setPlan(const PlaybackPlan& plan) {
    {
        std::lock_guard lock(mutex_);
        bool continues = plan_ && plan_->sameCourse(plan);
        if (continues) {
            auto found = std::find_if(queue_.begin(), queue_.end(),
                                      [&](const Entry& entry) { return entry.step == plan.head; });
            if (found != queue_.end()) {
                queue_.erase(queue_.begin(), found);
            } else if (next_ == plan.head) {
                queue_.clear();  // the worker is decoding it, or about to
            } else {
                continues = false;
            }
        }
        if (!continues) {
            queue_.clear();
            next_ = plan.head;
            ++generation_;
            pausedHeadDone_ = false;
        }
        plan_ = plan;
    }
    changed_.notify_all();
}

std::optional<ImagePtr> DecodeAheadQueue::take(PlaybackStep step) {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(queue_.begin(), queue_.end(),
                              [&](const Entry& entry) { return entry.step == step; });
    if (found == queue_.end()) {
        waiting_ = true;
        return std::nullopt;
    }
    ImagePtr image = found->image;
    queue_.erase(queue_.begin(), found + 1);
    changed_.notify_all();
    return image;
}

void DecodeAheadQueue::run() {
    dispatch::setCurrentThreadName("player decode");
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] {
            return stopping_ ||
                   (plan_ && next_ &&
                    (plan_->playing ? queue_.size() < plan_->depth : !pausedHeadDone_));
        });
        if (stopping_) {
            return;
        }
        PlaybackStep step = *next_;
        Size size = plan_->frameSize;
        uint64_t generation = generation_;
        lock.unlock();
        auto frame = source_->frame(step.index, size);
        if (!frame) {
            PINDLE_LOG_WARNING(kTag, "frame %zu: %s", step.index, frame.error().message.c_str());
        }
        lock.lock();
        if (generation != generation_) {
            continue;  // a new plan started over while this frame was decoded
        }
        queue_.push_back(Entry{step, frame ? frame->image : nullptr});
        next_ = stepAfter(*plan_, step);
        pausedHeadDone_ = !plan_->playing;
        if (waiting_) {
            waiting_ = false;
            lock.unlock();
            frameReady_();
            lock.lock();
        }
    }
}

}  // namespace pindle
