#include "platform/capture_backend.h"

#include <algorithm>
#include <cmath>

#include "base/log.h"

namespace pindle {

PixelRect outputSizeForCrop(const Rect& crop) {
    auto even = [](double points) { return std::max(2, int(std::lround(points)) & ~1); };
    return PixelRect{0, 0, even(crop.width()), even(crop.height())};
}

CaptureDelivery::CaptureDelivery(const char* tag, SleepUntil sleepUntil)
    : tag_(tag), sleepUntil_(std::move(sleepUntil)) {}

CaptureStatistics CaptureDelivery::statistics() const {
    return {flight_->delivered.load(), flight_->dropped.load()};
}

bool CaptureDelivery::dropsLateFrame() {
    if (discardsLate_ && flight_->inFlight) {
        flight_->dropped++;
        return true;
    }
    return false;
}

SampleBufferPtr CaptureDelivery::sample(PixelBufferPtr picture,
                                        std::chrono::steady_clock::time_point slot,
                                        MediaTime duration) {
    const int width = picture->width;
    const int height = picture->height;
    if (!format_ || format_->width != width || format_->height != height) {
        auto description = std::make_shared<FormatDescription>();
        description->mediaType = kMediaTypeVideo;
        description->mediaSubType = kPixelFormat420v;
        description->width = width;
        description->height = height;
        format_ = std::move(description);
    }
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(slot.time_since_epoch()).count();
    auto sample = std::make_shared<SampleBuffer>();
    sample->formatDescription = format_;
    sample->presentationTimeStamp = MediaTime::make(int64_t(ns), 1'000'000'000);
    sample->duration = duration;
    sample->imageBuffer = std::move(picture);
    return sample;
}

void CaptureDelivery::deliver(SampleBufferPtr sample,
                              std::weak_ptr<VideoDataOutputDelegate> delegate,
                              const dispatch::QueuePtr& queue) {
    if (flight_->inFlight.exchange(true)) {
        if (discardsLate_) {
            flight_->dropped++;
            return;
        }
        while (flight_->inFlight.exchange(true)) {
            if (!sleepUntil_(std::chrono::steady_clock::now() + std::chrono::milliseconds(1))) {
                return;
            }
        }
    }
    queue->async([flight = flight_, sample = std::move(sample), delegate = std::move(delegate)] {
        if (auto target = delegate.lock()) {
            target->captureOutput(sample);
            flight->delivered++;
        }
        flight->inFlight = false;
    });
}

void CaptureDelivery::fail(const Error& error,
                           const std::weak_ptr<VideoDataOutputDelegate>& delegate,
                           const dispatch::QueuePtr& queue) {
    PINDLE_LOG_ERROR(tag_, "%s; no more frames", error.message.c_str());
    if (queue) {
        queue->async([delegate, error] {
            if (auto target = delegate.lock()) {
                target->captureOutputDidFail(error);
            }
        });
    }
}

}  // namespace pindle
