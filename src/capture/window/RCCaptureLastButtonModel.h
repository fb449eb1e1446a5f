#pragma once

#include <string>

namespace pindle {

// The capture-last button's state: the time captured so far, shown in tenths of a second,
// and whether the buffer holds a full capture-last window (then the button reads
// "Capture last 30.0s", blinks and takes clicks).
class RCCaptureLastButtonModel {
public:
    static constexpr double kBufferSeconds = 30.0;

    // false when seconds equals the current value (nothing to redraw).
    bool setElapsedTime(double seconds);
    void reset() { setElapsedTime(0); }

    double elapsedTime() const { return elapsed_; }
    bool isFull() const { return elapsed_ >= kBufferSeconds; }
    bool isBlinking() const { return isFull(); }
    bool acceptsClicks() const { return isFull(); }
    // Share of the bar to fill, 0 to 1.
    double bufferPercentFull() const;
    std::string title() const;

private:
    double elapsed_ = 0;
};

}  // namespace pindle
