#pragma once

#include <cstdint>

#include "base/media_time.h"

// When each frame of an exported GIF is taken from the movie and how long it is shown.
namespace pindle::gif_timing {

// GIF frames are taken at no more than this many per second.
constexpr float kMaximumFramesPerSecond = 30;

// The sampling rate for a requested rate (fps <= 0: the movie's own rate), capped.
float samplingRate(float requestedFPS, float movieFPS);

// Frames of a movie of durationSeconds sampled at fps: the whole frame intervals that fit.
int64_t frameCount(double durationSeconds, float fps);

// Time of frame i: exactly i / fps seconds for a whole rate, else rounded up to the
// nanosecond (never before the frame that starts at i / fps).
MediaTime sampleTime(int64_t i, float fps);

// Delay of frame i in hundredths of a second. GIF delays are whole hundredths, so one
// rounded delay for all frames would run the clip fast or slow (1/15 s is not 7/100 s);
// instead each frame ends at its exact end time rounded up to a hundredth, which keeps the
// running total on the frame times: 7, 7, 6, 7, 7, 6, ... for 15 per second.
int delayCentiseconds(int64_t i, float fps);

}  // namespace pindle::gif_timing
