#include "capture/RCH264Encoder.h"

#include "base/log.h"

namespace pindle {
namespace {

constexpr const char* kTag = "h264";

void logFailure(const char* what, const Status& status) {
    if (!status) {
        PINDLE_LOG_ERROR(kTag, "%s failed: %s", what, status.error().message.c_str());
    }
}

}  // namespace

RCH264Encoder::RCH264Encoder(double width, double height, const RCH264EncoderOptions& options,
                             const CompressionSessionFactory& sessionFactory)
    : width_(int(width)), height_(int(height)) {
    auto session = sessionFactory(width_, height_, kCodecH264,
                                  [this](const Status& status, SampleBufferPtr sample) {
                                      didEncode(status, std::move(sample));
                                  });
    if (!session) {
        failureReason_ = "cannot make a " + std::to_string(width_) + "x" + std::to_string(height_) +
                         " H.264 session: " + session.error().message;
        PINDLE_LOG_ERROR(kTag, "%s", failureReason_.c_str());
        return;
    }
    auto& s = *session.value();
    if (options.maxKeyFrameInterval) {
        logFailure("setting the key-frame interval",
                   s.setMaxKeyFrameInterval(*options.maxKeyFrameInterval));
    }
    if (options.maxKeyFrameIntervalDuration) {
        logFailure("setting the key-frame interval duration",
                   s.setMaxKeyFrameIntervalDuration(*options.maxKeyFrameIntervalDuration));
    }
    if (options.pixelBufferAttributes) {
        logFailure("setting the pixel format",
                   s.setPixelBufferPixelFormat(*options.pixelBufferAttributes));
    }
    if (options.averageBitRate) {
        logFailure("setting the bit rate", s.setAverageBitRate(*options.averageBitRate));
    }
    if (auto prepared = s.prepareToEncodeFrames(); !prepared) {
        failureReason_ = "cannot encode " + std::to_string(width_) + "x" + std::to_string(height_) +
                         " frames: " + prepared.error().message;
        PINDLE_LOG_ERROR(kTag, "%s", failureReason_.c_str());
        return;
    }
    session_ = std::move(session.value());
}

RCH264Encoder::~RCH264Encoder() {
    // Ends the session's thread while this object is still whole.
    session_.reset();
}

void RCH264Encoder::encodeFrameWithPixelBuffer(PixelBufferPtr pixelBuffer,
                                               MediaTime presentationTime) {
    if (!session_) {
        return;
    }
    auto submitted = session_->encodeFrame(std::move(pixelBuffer), presentationTime,
                                           MediaTime::make(1, 60), true);
    if (!submitted) {
        PINDLE_LOG_WARNING(kTag, "frame at %s not encoded: %s",
                           presentationTime.description().c_str(),
                           submitted.error().message.c_str());
        didFail(submitted.error());
    }
}

void RCH264Encoder::completeFrames() {
    if (session_) {
        session_->completeFrames();
    }
}

void RCH264Encoder::setDelegate(std::weak_ptr<RCH264EncoderDelegate> delegate) {
    std::lock_guard lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

std::weak_ptr<RCH264EncoderDelegate> RCH264Encoder::delegate() const {
    std::lock_guard lock(delegateMutex_);
    return delegate_;
}

void RCH264Encoder::didEncode(const Status& status, SampleBufferPtr sample) {
    if (!status || !sample) {
        const Error error = status ? Error{"the encoder gave no frame"} : status.error();
        PINDLE_LOG_ERROR(kTag, "a frame was not encoded: %s", error.message.c_str());
        didFail(error);
        return;
    }
    if (auto target = delegate().lock()) {
        target->encoder(*this, sample);
    }
}

void RCH264Encoder::didFail(const Error& error) {
    if (auto target = delegate().lock()) {
        target->encoderDidFail(*this, error);
    }
}

}  // namespace pindle
