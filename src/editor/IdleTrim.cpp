#include "editor/IdleTrim.h"

#include <algorithm>
#include <cstdlib>

namespace pindle::idle_trim {
namespace {

// Pictures are compared at no more than this size a side: enough to see a change, far
// cheaper to decode and compare than a full screen.
constexpr int kComparedSide = 640;

}  // namespace

bool looksUnchanged(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height) {
        return false;
    }
    int64_t area = int64_t(a.width) * a.height;
    int64_t allowed = std::max(kMinimumChangedPixels, area / kChangedShareDivisor);
    int64_t changed = 0;
    for (int y = 0; y < a.height; ++y) {
        const uint8_t* p = a.row(y);
        const uint8_t* q = b.row(y);
        for (int x = 0; x < a.width; ++x, p += 4, q += 4) {
            if (std::abs(p[0] - q[0]) > kChannelTolerance ||
                std::abs(p[1] - q[1]) > kChannelTolerance ||
                std::abs(p[2] - q[2]) > kChannelTolerance) {
                if (++changed > allowed) {
                    return false;
                }
            }
        }
    }
    return true;
}

void ActiveRangeFinder::add(const media::Frame& frame) {
    if (!frame.image) {
        return;
    }
    MediaTime time = MediaTime::maximum(frame.presentationTime, start_);
    if (runStartEndPending_) {
        runStartEnd_ = time;
        runStartEndPending_ = false;
    }
    ++count_;
    if (runReference_ && looksUnchanged(*runReference_, *frame.image)) {
        if (leadingRunOpen_) {
            leadingRunLast_ = time;
        }
        return;
    }
    if (runReference_) {
        leadingRunOpen_ = false;
    } else {
        leadingRunLast_ = time;
    }
    runReference_ = frame.image;
    runStartIndex_ = count_ - 1;
    runStartEndPending_ = true;
    runStartEnd_ = end_;
}

std::optional<TrimRange> ActiveRangeFinder::result() const {
    if (count_ == 0 || leadingRunOpen_) {
        return std::nullopt;
    }
    // The trailing run keeps its first frame, shown until the next one starts.
    MediaTime end = runStartIndex_ == count_ - 1 ? end_ : MediaTime::minimum(runStartEnd_, end_);
    return TrimRange{leadingRunLast_, end};
}

Result<std::optional<TrimRange>> findActiveRange(const media::Movie& movie, MediaTime start,
                                                 MediaTime end, std::optional<CropRect> crop) {
    media::FrameReaderOptions options;
    options.start = start;
    options.end = end;
    options.width = kComparedSide;
    options.height = kComparedSide;
    options.fitInside = true;
    options.crop = crop;
    auto reader = movie.makeFrameReader(options);
    if (!reader) {
        return reader.error();
    }
    ActiveRangeFinder finder(start, end);
    while (true) {
        auto next = (*reader)->nextFrame();
        if (!next) {
            return next.error();
        }
        if (!next->has_value()) {
            break;
        }
        finder.add(**next);
    }
    return finder.result();
}

}  // namespace pindle::idle_trim
