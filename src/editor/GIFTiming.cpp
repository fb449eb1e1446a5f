#include "editor/GIFTiming.h"

#include <algorithm>
#include <cmath>

namespace pindle::gif_timing {

float samplingRate(float requestedFPS, float movieFPS) {
    float fps = requestedFPS > 0 ? requestedFPS : movieFPS;
    return std::min(fps, kMaximumFramesPerSecond);
}

int64_t frameCount(double durationSeconds, float fps) {
    if (!(fps > 0) || !(durationSeconds > 0)) {
        return 0;
    }
    return int64_t(durationSeconds * double(fps));
}

MediaTime sampleTime(int64_t i, float fps) {
    // Whole rates give exact times. Others are rounded up to the nanosecond: a time a hair
    // before a frame's start would pick the frame before it.
    if (fps >= 1 && std::floor(fps) == fps) {
        return MediaTime::make(i, int32_t(fps));
    }
    return MediaTime::make(int64_t(std::ceil(double(i) * 1e9 / double(fps))), 1000000000);
}

namespace {
// Hundredths of a second from the start to the end of frame i - 1 (the start of frame i),
// rounded up. The small allowance keeps exact multiples (20.000000001) from rounding up.
int64_t hundredthsBefore(int64_t i, float fps) {
    return int64_t(std::ceil(double(i) * 100.0 / double(fps) - 1e-7));
}
}  // namespace

int delayCentiseconds(int64_t i, float fps) {
    if (!(fps > 0)) {
        return 0;
    }
    return int(hundredthsBefore(i + 1, fps) - hundredthsBefore(i, fps));
}

}  // namespace pindle::gif_timing
