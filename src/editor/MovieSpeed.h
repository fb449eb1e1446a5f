#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "base/media_time.h"
#include "base/result.h"
#include "platform/media.h"
#include "platform/movie_output.h"

// A movie played at another speed: the pictures of speed seconds of the source are shown
// in one second of the copy, which lasts the source's duration divided by speed.
//
// Slower playback keeps every picture and shows each for longer, so the copy has the
// source's pictures at a lower rate (0.5x of 30 per second: the same pictures at 15 per
// second). Faster playback keeps the source's rate and takes the picture on screen every
// speed frames (2x: every second picture), so a 2x copy of 60 per second is not a 120 per
// second movie that players drop frames of anyway.
namespace pindle::movie_speed {

// Refuses a speed that is not a positive number.
Status checkSpeed(double speed);
// Pictures per second of a copy at speed of a movie of sourceRate pictures per second.
float outputRate(float sourceRate, double speed);
// The time of the copy's picture i, and the time on the source of the picture it shows.
MediaTime outputTime(int64_t i, float rate);
MediaTime sourceTime(int64_t i, float rate, double speed);
// Pictures of a copy lasting duration at rate: those that start before its end.
int64_t pictureCount(MediaTime duration, float rate);

// Writes the copy of movie's video at speed to output (in its place only once complete),
// at quality. progress (may be empty) hears 0 to 1.
Status writeAtSpeed(const media::Movie& movie, const std::filesystem::path& output, double speed,
                    media::EncodingQuality quality, const std::function<void(float)>& progress);

}  // namespace pindle::movie_speed
