#pragma once

#include <cstdint>
#include <optional>

#include "base/image.h"
#include "base/media_time.h"
#include "base/result.h"
#include "platform/media.h"

// Finding the still picture at the start and end of a recording, so that the trim can skip
// the time before anything happens and after everything has.
namespace pindle::idle_trim {

// Two pictures count as the same when no more than this share of their pixels (and at least
// kMinimumChangedPixels) differ visibly: a blinking text cursor or a clock's seconds do not
// make a still picture move.
constexpr int64_t kChangedShareDivisor = 1000;
constexpr int64_t kMinimumChangedPixels = 64;
// A channel must change by more than this to count: below it is compression noise.
constexpr int kChannelTolerance = 32;

// Whether a and b (of one size) look the same within the tolerances above; pictures of
// different sizes never do.
bool looksUnchanged(const Image& a, const Image& b);

struct TrimRange {
    MediaTime start;
    MediaTime end;
};

// Follows the frames of a range in order and finds the trim that leaves out the leading and
// trailing runs of unchanged frames, keeping one frame of each run (the picture just before
// the first change and just after the last).
class ActiveRangeFinder {
public:
    ActiveRangeFinder(MediaTime start, MediaTime end) : start_(start), end_(end) {}
    // The frames in presentation order; frame.duration may be invalid.
    void add(const media::Frame& frame);
    // The trim, or nothing when the whole range is one still picture (nothing to keep).
    std::optional<TrimRange> result() const;

private:
    MediaTime start_;
    MediaTime end_;
    int64_t count_ = 0;
    bool leadingRunOpen_ = true;
    MediaTime leadingRunLast_;  // the time of the last frame of the leading run
    ImagePtr runReference_;     // the first picture of the current run
    int64_t runStartIndex_ = 0;
    MediaTime runStartEnd_ = MediaTime::invalid();  // where its frame stops being shown
    bool runStartEndPending_ = false;
};

// Reads the recording's frames between start and end (scaled down to keep the reading quick)
// and returns the trim without the idle start and end; an Error when the movie cannot be read.
// With a crop only that part of the picture is looked at: what moves outside it is not seen.
Result<std::optional<TrimRange>> findActiveRange(const media::Movie& movie, MediaTime start,
                                                 MediaTime end,
                                                 std::optional<CropRect> crop = std::nullopt);

}  // namespace pindle::idle_trim
