#include "editor/MovieSpeed.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "editor/FrameAtTime.h"
#include "editor/GIFTiming.h"

namespace pindle::movie_speed {

namespace {
// The rate assumed for a movie that declares none, and the most a copy is given.
constexpr float kFallbackRate = 30;
constexpr float kMaximumRate = 60;
}  // namespace

Status checkSpeed(double speed) {
    if (!(speed > 0) || !std::isfinite(speed)) {
        return Error{"cannot play the clip at speed " + std::to_string(speed)};
    }
    return Ok{};
}

float outputRate(float sourceRate, double speed) {
    float rate = sourceRate > 0 && std::isfinite(sourceRate) ? sourceRate : kFallbackRate;
    rate = std::min(rate, kMaximumRate);
    return speed < 1 ? float(double(rate) * speed) : rate;
}

MediaTime outputTime(int64_t i, float rate) {
    return gif_timing::sampleTime(i, rate);
}

MediaTime sourceTime(int64_t i, float rate, double speed) {
    // Rounded up like the output time, never before the source picture it means.
    return gif_timing::sampleTime(i, float(double(rate) / speed));
}

int64_t pictureCount(MediaTime duration, float rate) {
    if (!(rate > 0) || !duration.isNumeric() || duration <= MediaTime::zero()) {
        return 0;
    }
    // The allowance keeps a picture that would start exactly at the end out.
    return int64_t(std::ceil(duration.seconds() * double(rate) - 1e-6));
}

Status writeAtSpeed(const media::Movie& movie, const std::filesystem::path& output, double speed,
                    media::EncodingQuality quality, const std::function<void(float)>& progress) {
    if (Status checked = checkSpeed(speed); !checked) {
        return checked;
    }
    const media::MovieInfo& info = movie.info();
    auto movies = media::movieOutput();
    if (!movies) {
        return Error{"no movie writer installed"};
    }
    float rate = outputRate(info.nominalFrameRate, speed);
    MediaTime duration = info.duration.multipliedBy(1.0 / speed);
    int64_t count = pictureCount(duration, rate);
    if (count <= 0) {
        return Error{"the clip is too short to play at speed " + std::to_string(speed)};
    }
    media::FrameReaderOptions readerOptions;
    readerOptions.sampleRate = float(double(rate) / speed);
    auto reader = movie.makeFrameReader(readerOptions);
    if (!reader) {
        return reader.error();
    }
    media::MovieWriterSettings settings;
    settings.width = int(std::lround(info.naturalSize.width));
    settings.height = int(std::lround(info.naturalSize.height));
    settings.quality = quality;
    settings.nominalFrameRate = rate;
    auto writer = movies->makeWriter(output, settings);
    if (!writer) {
        return writer.error();
    }
    FrameAtTime frames(std::move(*reader));
    for (int64_t i = 0; i < count; ++i) {
        auto frame = frames.at(sourceTime(i, rate, speed));
        if (!frame) {
            return frame.error();
        }
        if (Status added = (*writer)->appendFrame(*(*frame)->image, outputTime(i, rate)); !added) {
            return added;
        }
        if (progress) {
            progress(float(i + 1) / float(count));
        }
    }
    return (*writer)->finish(duration);
}

}  // namespace pindle::movie_speed
