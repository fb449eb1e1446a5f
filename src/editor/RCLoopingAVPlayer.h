#pragma once

#include <cstdint>
#include <memory>

#include "editor/MoviePlayer.h"
#include "library/RCRecording.h"

namespace pindle {

// The editor's preview: plays a recording's movie endlessly inside the trim window, as the
// GIF will look. Loop types: 0 Normal (start to end, again), 1 Reverse (end to start,
// again), 2 Ping-Pong (start to end and back). The window is the item's reverse and
// forward playback end times, which the editor sets to the trimmed start and end. At each
// end of the window the player pauses and playerItemDidReachEnd continues the loop.
class RCLoopingAVPlayer : public MoviePlayer {
public:
    // No recording: play() does nothing until one is set.
    RCLoopingAVPlayer();
    explicit RCLoopingAVPlayer(std::shared_ptr<RCRecording> recording,
                               Environment environment = systemEnvironment());

    const std::shared_ptr<RCRecording>& recording() const { return recording_; }
    // Makes an item of the recording's movie with the window over the whole movie; does not
    // start playback. Null keeps the previous item.
    void setRecording(std::shared_ptr<RCRecording> recording);

    int64_t loopType() const { return loopType_; }
    // While playing, restarts from the end the new loop type starts at; otherwise it takes
    // effect at the next play().
    void setLoopType(int64_t loopType);

    // How fast the loop plays its pictures (2: twice as fast), as the exported GIF will; a
    // change applies at once while playing.
    double playbackSpeed() const { return playbackSpeed_; }
    void setPlaybackSpeed(double speed);

    bool isPlaying() const { return rate() != 0; }
    // Seeks to the end the loop type starts at and plays toward the other.
    void play();

    // Continues the loop after playback stopped at an end of the window.
    void playerItemDidReachEnd();

protected:
    void itemDidReachEnd() override { playerItemDidReachEnd(); }
    int64_t loopTypeAtItemEnd() const override { return loopType_; }

private:
    void startAt(const LoopContinuation& continuation);

    std::shared_ptr<RCRecording> recording_;
    int64_t loopType_ = 0;
    double playbackSpeed_ = 1;
};

}  // namespace pindle
