#include "editor/RCMovieOperations.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <optional>

#include "base/log.h"

namespace pindle::movie_operations {
namespace {

constexpr const char* kTag = "movie-ops";
constexpr double kPassSeconds = 10;

Result<std::unique_ptr<media::MovieWriter>> makeWriter(
    const media::Movie& movie, const std::filesystem::path& output, int width, int height,
    media::EncodingQuality quality, std::optional<media::AudioRange> audio = {}) {
    auto movies = media::movieOutput();
    if (!movies) {
        return Error{"no movie writer installed"};
    }
    media::MovieWriterSettings settings;
    settings.width = width;
    settings.height = height;
    settings.quality = quality;
    settings.nominalFrameRate = movie.info().nominalFrameRate;
    settings.audio = std::move(audio);
    return movies->makeWriter(output, settings);
}

// The writers leave no file when they fail (and keep a file that was there): nothing to
// remove.
Error failed(const std::filesystem::path& output, const Error& error) {
    PINDLE_LOG_ERROR(kTag, "%s: %s", output.c_str(), error.message.c_str());
    return error;
}

// The end of the movie's last frame: the track duration, or the last frame's end when the
// frames run past it.
MediaTime endOfMovie(const media::Movie& movie, const std::vector<MediaTime>& times,
                     MediaTime lastDuration) {
    MediaTime end = movie.info().duration;
    if (!times.empty() && lastDuration.isNumeric()) {
        end = MediaTime::maximum(end, times.back() + lastDuration);
    }
    return end;
}

}  // namespace

std::vector<TimeRange> reversalPasses(MediaTime duration) {
    std::vector<TimeRange> passes;
    if (!duration.isNumeric() || duration <= MediaTime::zero()) {
        return passes;
    }
    auto count = int64_t(std::ceil(duration.seconds() / kPassSeconds));
    for (int64_t i = count - 1; i >= 0; --i) {
        MediaTime start = MediaTime::make(int64_t(kPassSeconds) * i, 1);
        MediaTime end =
            i == count - 1 ? duration : MediaTime::make(int64_t(kPassSeconds) * (i + 1), 1);
        passes.push_back(TimeRange{start, end});
    }
    return passes;
}

namespace {

// Reverses the frames the reversed movie shows within part (all of them without one), each
// at its reversed time less part's start, never before zero.
Result<media::MoviePtr> reverse(const media::Movie& movie, const std::filesystem::path& output,
                                std::optional<TimeRange> part, media::EncodingQuality quality,
                                size_t memoryBudget) {
    const media::MovieInfo& info = movie.info();
    if (!info.hasVideo()) {
        return Error{movie.path().string() + " has no video to reverse"};
    }
    // 1. The presentation times of every frame, in order.
    auto times = movie.presentationTimes();
    if (!times) {
        return failed(output, times.error());
    }
    if (times->empty()) {
        return failed(output, Error{movie.path().string() + " has no video frames"});
    }
    if (part && !(part->start.isNumeric() && part->end.isNumeric() && part->end > part->start)) {
        return failed(output, Error{"no part of " + movie.path().string() + " to reverse"});
    }

    // 2. The reversed frames first..last are wanted; reversed frame i shows source frame
    // count - 1 - i.
    const size_t count = times->size();
    size_t first = 0;
    size_t last = count - 1;
    if (part) {
        auto after = std::upper_bound(times->begin(), times->end(), part->start);
        first = after == times->begin() ? 0 : size_t(after - times->begin()) - 1;
        auto reaching = std::lower_bound(times->begin(), times->end(), part->end);
        last = reaching == times->begin() ? 0 : size_t(reaching - times->begin()) - 1;
        last = std::max(last, first);
    }
    const size_t lowest = count - 1 - last;
    const size_t highest = count - 1 - first;

    // Movies whose every frame is a key frame (recordings and intermediate movies) are
    // reversed by copying their encoded frames in reverse order, without decoding them.
    if (auto movies = media::movieOutput()) {
        media::SegmentCopy segment;
        segment.reversed = true;
        if (part) {
            segment.start = part->start;
            // The last frame lasts until the next one would start, or the end of the part
            // if that is later; at the end of the movie, until the movie ends.
            if (last + 1 < count) {
                segment.duration = MediaTime::maximum((*times)[last + 1], part->end) - part->start;
            } else if (part->end > info.duration) {
                segment.duration = part->end - part->start;
            }
        }
        Status copied = movies->copySegments(movie.path(), {segment}, false, output);
        if (copied) {
            return media::openMovie(output);
        }
        PINDLE_LOG_INFO(kTag, "decoding %s to reverse it: %s", movie.path().c_str(),
                        copied.error().message.c_str());
    }
    auto writer = makeWriter(movie, output, int(info.naturalSize.width),
                             int(info.naturalSize.height), quality);
    if (!writer) {
        return failed(output, writer.error());
    }
    auto outputTime = [&](size_t reversedIndex) {
        MediaTime time = (*times)[reversedIndex];
        return part ? MediaTime::maximum(time - part->start, MediaTime::zero()) : time;
    };

    // The movie's own frame grid: the first frame may not be at zero, and frames past the
    // stated duration still belong to the last pass.
    MediaTime duration =
        MediaTime::maximum(info.duration, times->back() + MediaTime::make(1, 1000000));
    std::vector<TimeRange> passes = reversalPasses(duration);
    // Only the source frames lowest..highest are read.
    MediaTime windowStart = lowest == 0 ? MediaTime::zero() : (*times)[lowest];
    MediaTime windowEnd = highest + 1 < count ? (*times)[highest + 1] : duration;
    double frameBytes = info.naturalSize.width * info.naturalSize.height * 4;
    double fps = info.nominalFrameRate > 0 ? info.nominalFrameRate : 60;
    // A 10-second pass of a large movie would not fit in memory: it is read in pieces.
    double pieceSeconds =
        std::clamp(double(memoryBudget) / std::max(frameBytes * fps, 1.0), 0.1, kPassSeconds);
    MediaTime piece = MediaTime::makeWithSeconds(pieceSeconds, 1000);

    const size_t wanted = last - first + 1;
    size_t appended = 0;
    MediaTime lastSourceDuration = MediaTime::invalid();
    for (const TimeRange& pass : passes) {
        MediaTime passStart = MediaTime::maximum(pass.start, windowStart);
        MediaTime passEnd = MediaTime::minimum(pass.end, windowEnd);
        // Pieces of the pass from its end backwards.
        MediaTime pieceEnd = passEnd;
        while (pieceEnd > passStart && appended < wanted) {
            MediaTime pieceStart = MediaTime::maximum(passStart, pieceEnd - piece);
            media::FrameReaderOptions options;
            options.start = pieceStart;
            options.end = pieceEnd;
            auto reader = movie.makeFrameReader(options);
            if (!reader) {
                return failed(output, reader.error());
            }
            std::vector<media::Frame> frames;
            while (true) {
                auto next = (*reader)->nextFrame();
                if (!next) {
                    return failed(output, next.error());
                }
                if (!next->has_value()) {
                    break;
                }
                media::Frame& frame = **next;
                // The reader starts with the frame on screen at the start, which belongs to
                // the piece before unless it starts exactly there.
                if (frame.presentationTime < pieceStart || frame.presentationTime >= pieceEnd) {
                    continue;
                }
                frames.push_back(std::move(frame));
            }
            if (appended == 0 && !frames.empty() && highest == count - 1) {
                lastSourceDuration = frames.back().duration;
            }
            for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
                if (!it->image) {
                    continue;
                }
                if (appended >= wanted) {
                    break;
                }
                Status added = (*writer)->appendFrame(*it->image, outputTime(first + appended));
                if (!added) {
                    return failed(output, added.error());
                }
                ++appended;
            }
            pieceEnd = pieceStart;
        }
    }
    if (appended == 0) {
        return failed(output, Error{"no frame of " + movie.path().string() + " could be read"});
    }
    MediaTime end = endOfMovie(movie, *times, lastSourceDuration);
    if (part) {
        MediaTime naturalEnd = last + 1 < count ? (*times)[last + 1] : end;
        end = MediaTime::maximum(naturalEnd, part->end) - part->start;
    }
    Status finished = (*writer)->finish(end);
    if (!finished) {
        return failed(output, finished.error());
    }
    return media::openMovie(output);
}

}  // namespace

Result<media::MoviePtr> reversedAssetWithOutputURL(const media::Movie& movie,
                                                   const std::filesystem::path& output,
                                                   media::EncodingQuality quality,
                                                   size_t memoryBudget) {
    return reverse(movie, output, std::nullopt, quality, memoryBudget);
}

Result<media::MoviePtr> reversedPartWithOutputURL(const media::Movie& movie,
                                                  const std::filesystem::path& output,
                                                  TimeRange part, media::EncodingQuality quality,
                                                  size_t memoryBudget) {
    return reverse(movie, output, part, quality, memoryBudget);
}

Result<media::MoviePtr> resizedAssetWithOutputURL(const media::Movie& movie,
                                                  const std::filesystem::path& output, Size size,
                                                  media::EncodingQuality quality) {
    if (!movie.info().hasVideo()) {
        return Error{movie.path().string() + " has no video to resize"};
    }
    int width = int(std::lround(size.width));
    int height = int(std::lround(size.height));
    if (width <= 0 || height <= 0) {
        return Error{"cannot resize a movie to " + std::to_string(width) + "x" +
                     std::to_string(height) + " pixels"};
    }
    // A resized copy keeps the movie's sound.
    std::optional<media::AudioRange> audio;
    if (movie.info().hasAudio()) {
        audio = media::AudioRange{movie.path(), MediaTime::zero(), MediaTime::invalid()};
    }
    auto writer = makeWriter(movie, output, width, height, quality, audio);
    if (!writer) {
        return failed(output, writer.error());
    }
    media::FrameReaderOptions options;
    options.width = width;
    options.height = height;
    auto reader = movie.makeFrameReader(options);
    if (!reader) {
        return failed(output, reader.error());
    }
    size_t appended = 0;
    MediaTime end = movie.info().duration;
    while (true) {
        auto next = (*reader)->nextFrame();
        if (!next) {
            return failed(output, next.error());
        }
        if (!next->has_value()) {
            break;
        }
        const media::Frame& frame = **next;
        if (!frame.image) {
            continue;
        }
        Status added = (*writer)->appendFrame(*frame.image, frame.presentationTime);
        if (!added) {
            return failed(output, added.error());
        }
        if (frame.duration.isNumeric()) {
            end = MediaTime::maximum(end, frame.presentationTime + frame.duration);
        }
        ++appended;
    }
    if (appended == 0) {
        return failed(output, Error{"no frame of " + movie.path().string() + " could be read"});
    }
    Status finished = (*writer)->finish(end);
    if (!finished) {
        return failed(output, finished.error());
    }
    return media::openMovie(output);
}

}  // namespace pindle::movie_operations
