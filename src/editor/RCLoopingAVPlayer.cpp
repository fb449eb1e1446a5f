#include "editor/RCLoopingAVPlayer.h"

namespace pindle {

RCLoopingAVPlayer::RCLoopingAVPlayer() : RCLoopingAVPlayer(nullptr) {}

RCLoopingAVPlayer::RCLoopingAVPlayer(std::shared_ptr<RCRecording> recording,
                                     Environment environment)
    : MoviePlayer(std::move(environment)) {
    setRecording(std::move(recording));
}

void RCLoopingAVPlayer::setRecording(std::shared_ptr<RCRecording> recording) {
    recording_ = std::move(recording);
    if (recording_) {
        replaceCurrentItem(recording_->asset(), recording_->duration());
    }
}

void RCLoopingAVPlayer::setLoopType(int64_t loopType) {
    if (isPlaying()) {
        pause();
        loopType_ = loopType;
        play();
    } else {
        loopType_ = loopType;
    }
}

void RCLoopingAVPlayer::setPlaybackSpeed(double speed) {
    if (!(speed > 0)) {
        return;
    }
    double old = playbackSpeed_;
    playbackSpeed_ = speed;
    if (isPlaying()) {
        setRate(rate() / old * speed);
    }
}

void RCLoopingAVPlayer::play() {
    if (!recording_) {
        return;
    }
    if (auto start = loopStart(loopType_)) {
        startAt(*start);
    }
}

void RCLoopingAVPlayer::playerItemDidReachEnd() {
    bool arrivedAtStart = currentTime() == reversePlaybackEndTime();
    if (auto next = loopContinuation(loopType_, arrivedAtStart)) {
        startAt(*next);
    }
}

void RCLoopingAVPlayer::startAt(const LoopContinuation& continuation) {
    seekToTime(continuation.seekTo == WindowEdge::Start ? reversePlaybackEndTime()
                                                        : forwardPlaybackEndTime(),
               MediaTime::zero(), MediaTime::zero());
    setRate(continuation.rate * playbackSpeed_);
}

}  // namespace pindle
