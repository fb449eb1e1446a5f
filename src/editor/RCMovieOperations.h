#pragma once

#include <filesystem>
#include <vector>

#include "base/geometry.h"
#include "base/result.h"
#include "platform/media.h"
#include "platform/movie_output.h"

// Copies of a movie's first video track for the export pipeline: time-reversed, and at
// another pixel size. Both keep the source's presentation times, so a copy has the
// duration and frame timing of its source. Audio is never copied. A movie whose every
// frame is a key frame is reversed by copying its encoded frames in reverse order;
// otherwise, and for resizing, the frames are decoded and encoded again at the quality
// asked for.
//
// Both run on the calling thread until the file is complete and report the opened copy or
// the reason there is none; a failed copy leaves no file behind.
namespace pindle::movie_operations {

struct TimeRange {
    MediaTime start;
    MediaTime end;
    friend bool operator==(const TimeRange&, const TimeRange&) = default;
};

// The 10-second passes of a reversal, last first: for 25 s, [20, 25), [10, 20), [0, 10).
std::vector<TimeRange> reversalPasses(MediaTime duration);

// The frames of movie in reverse order, each given the time of the frame at the same place
// counted from the start: the copy's first frame is the source's last, shown at the source's
// first frame time. Decoding reads one pass at a time, and within a pass no more decoded
// frames than fit memoryBudget bytes (read in pieces from the end of the pass backwards).
constexpr size_t kReversalMemoryBudget = size_t(256) * 1024 * 1024;
Result<media::MoviePtr> reversedAssetWithOutputURL(const media::Movie& movie,
                                                   const std::filesystem::path& output,
                                                   media::EncodingQuality quality,
                                                   size_t memoryBudget = kReversalMemoryBudget);

// The part of that reversed movie shown from part.start to part.end (times of the reversed
// movie), moved to start at zero: only the source frames it shows are read and encoded. The
// frame on screen at part.start is shown from zero, so reading the copy from zero gives the
// pictures the whole reversed movie gives from part.start, at the same times.
Result<media::MoviePtr> reversedPartWithOutputURL(const media::Movie& movie,
                                                  const std::filesystem::path& output,
                                                  TimeRange part, media::EncodingQuality quality,
                                                  size_t memoryBudget = kReversalMemoryBudget);

// Every frame of movie scaled to size (rounded to whole pixels) at its own time.
Result<media::MoviePtr> resizedAssetWithOutputURL(const media::Movie& movie,
                                                  const std::filesystem::path& output, Size size,
                                                  media::EncodingQuality quality);

}  // namespace pindle::movie_operations
