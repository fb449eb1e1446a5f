#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/sample_buffer.h"
#include "platform/compression.h"

namespace pindle {

class RCH264Encoder;

// Receives the encoder's frames, on the encoder's own thread (not the thread that submitted
// the frame); it must hand them on quickly.
class RCH264EncoderDelegate {
public:
    virtual ~RCH264EncoderDelegate() = default;
    virtual void encoder(RCH264Encoder& encoder, const SampleBufferPtr& sampleBuffer) = 0;
    // A frame could not be submitted or encoded; on the submitting or the encoder's thread.
    virtual void encoderDidFail(RCH264Encoder&, const Error&) {}
};

// Encoder settings; only those present are applied, the others keep the encoder's default.
struct RCH264EncoderOptions {
    std::optional<int> maxKeyFrameInterval;
    std::optional<double> maxKeyFrameIntervalDuration;  // seconds
    std::optional<uint32_t> pixelBufferAttributes;      // pixel format, kPixelFormat420v
    std::optional<int64_t> averageBitRate;              // bits per second
};

// One H.264 compression session of fixed frame size; every frame is encoded as a key frame
// with its presentation time and a duration of 1/60 s. A failed frame is reported to the
// delegate as a failure.
class RCH264Encoder {
public:
    // width and height are truncated to whole pixels. An encoder whose session could not be
    // made logs why, encodes nothing (isValid() false) and keeps the reason (failureReason()).
    RCH264Encoder(double width, double height, const RCH264EncoderOptions& options,
                  const CompressionSessionFactory& sessionFactory);
    ~RCH264Encoder();
    RCH264Encoder(const RCH264Encoder&) = delete;
    RCH264Encoder& operator=(const RCH264Encoder&) = delete;

    void encodeFrameWithPixelBuffer(PixelBufferPtr pixelBuffer, MediaTime presentationTime);
    // Blocks until every frame submitted so far has been handed to the delegate.
    void completeFrames();

    void setDelegate(std::weak_ptr<RCH264EncoderDelegate> delegate);
    std::weak_ptr<RCH264EncoderDelegate> delegate() const;

    bool isValid() const { return session_ != nullptr; }
    const std::string& failureReason() const { return failureReason_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    void didEncode(const Status& status, SampleBufferPtr sample);
    void didFail(const Error& error);

    const int width_;
    const int height_;
    mutable std::mutex delegateMutex_;  // guards delegate_
    std::weak_ptr<RCH264EncoderDelegate> delegate_;
    std::unique_ptr<CompressionSession> session_;
    std::string failureReason_;
};

}  // namespace pindle
