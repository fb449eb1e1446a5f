#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/media_time.h"
#include "base/result.h"
#include "base/sample_buffer.h"

// A video compression session of fixed frame size.
//
// Frames are submitted from one thread at a time; the session encodes them on a thread of
// its own and hands every result to the output callback there, in submission order: an
// encoded sample buffer, or an error and no sample buffer for a frame that failed.
namespace pindle {

class CompressionSession {
public:
    using OutputCallback = std::function<void(const Status& status, SampleBufferPtr sample)>;

    virtual ~CompressionSession() = default;

    // Properties; each may be set before prepareToEncodeFrames() only. A property that is
    // never set keeps the encoder's default.
    virtual Status setMaxKeyFrameInterval(int frames) = 0;
    virtual Status setMaxKeyFrameIntervalDuration(double seconds) = 0;
    virtual Status setPixelBufferPixelFormat(uint32_t pixelFormat) = 0;
    virtual Status setAverageBitRate(int64_t bitsPerSecond) = 0;

    virtual Status prepareToEncodeFrames() = 0;
    // Queues one frame. Blocks while the session already holds a few frames it has not
    // encoded yet, so a caller that outpaces the encoder is slowed down rather than queueing
    // without bound.
    virtual Status encodeFrame(PixelBufferPtr frame, MediaTime presentationTime, MediaTime duration,
                               bool forceKeyFrame) = 0;
    // Blocks until every frame submitted so far has reached the output callback.
    virtual void completeFrames() = 0;
};

// Makes a session for codecType (kCodecH264) at width x height pixels.
using CompressionSessionFactory = std::function<Result<std::unique_ptr<CompressionSession>>(
    int width, int height, uint32_t codecType, CompressionSession::OutputCallback callback)>;

}  // namespace pindle
