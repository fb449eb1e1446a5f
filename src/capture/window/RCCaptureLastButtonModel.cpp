#include "capture/window/RCCaptureLastButtonModel.h"

#include <algorithm>
#include <cstdio>

namespace pindle {

bool RCCaptureLastButtonModel::setElapsedTime(double seconds) {
    if (seconds == elapsed_) {
        return false;
    }
    elapsed_ = seconds;
    return true;
}

double RCCaptureLastButtonModel::bufferPercentFull() const {
    return std::clamp(elapsed_ / kBufferSeconds, 0.0, 1.0);
}

std::string RCCaptureLastButtonModel::title() const {
    char text[64];
    if (isFull()) {
        std::snprintf(text, sizeof text, "Capture last %.1fs", kBufferSeconds);
    } else {
        std::snprintf(text, sizeof text, "%.1fs", elapsed_);
    }
    return text;
}

}  // namespace pindle
