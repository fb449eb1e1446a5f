#include "platform/capture.h"

namespace pindle {

void ScreenInput::setCropRect(Rect rect) {
    std::lock_guard lock(mutex_);
    cropRect_ = rect;
}

Rect ScreenInput::cropRect() const {
    std::lock_guard lock(mutex_);
    return cropRect_;
}

void ScreenInput::setMinFrameDuration(MediaTime duration) {
    std::lock_guard lock(mutex_);
    minFrameDuration_ = duration;
}

MediaTime ScreenInput::minFrameDuration() const {
    std::lock_guard lock(mutex_);
    return minFrameDuration_;
}

void ScreenInput::setScaleFactor(double factor) {
    std::lock_guard lock(mutex_);
    scaleFactor_ = factor;
}

double ScreenInput::scaleFactor() const {
    std::lock_guard lock(mutex_);
    return scaleFactor_;
}

void ScreenInput::setCapturesCursor(bool captures) {
    std::lock_guard lock(mutex_);
    capturesCursor_ = captures && supportsCursorCapture_;
}

bool ScreenInput::capturesCursor() const {
    std::lock_guard lock(mutex_);
    return capturesCursor_;
}

void ScreenInput::setCapturesMouseClicks(bool captures) {
    std::lock_guard lock(mutex_);
    capturesMouseClicks_ = captures;
}

bool ScreenInput::capturesMouseClicks() const {
    std::lock_guard lock(mutex_);
    return capturesMouseClicks_;
}

}  // namespace pindle
