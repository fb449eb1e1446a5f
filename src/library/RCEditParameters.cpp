#include "library/RCEditParameters.h"

#include <algorithm>
#include <iterator>

#include "base/keyed_archive.h"
#include "base/log.h"

namespace pindle {
namespace {

constexpr const char* kPlaybackSpeedKey = "playbackSpeed";
constexpr const char* kCropRectKey = "cropRect";

}  // namespace

bool isPlaybackSpeed(double value) {
    return std::find(std::begin(kPlaybackSpeeds), std::end(kPlaybackSpeeds), value) !=
           std::end(kPlaybackSpeeds);
}

bool RCEditParameters::isEqualToEditParameters(const RCEditParameters* other) const {
    static const RCEditParameters kEmpty;
    const RCEditParameters& that = other != nullptr ? *other : kEmpty;
    if (trimmedStartTime_ != that.trimmedStartTime_ || trimmedEndTime_ != that.trimmedEndTime_ ||
        loopType_ != that.loopType_ || resizeValue_ != that.resizeValue_ ||
        playbackSpeed_ != that.playbackSpeed_ || cropRect_ != that.cropRect_ ||
        captions_.size() != that.captions_.size()) {
        return false;
    }
    for (size_t i = 0; i < captions_.size(); ++i) {
        const auto& mine = captions_[i];
        const auto& theirs = that.captions_[i];
        if (mine && theirs ? !mine->isEqualToCaption(*theirs) : mine != theirs) {
            return false;
        }
    }
    return true;
}

std::shared_ptr<RCEditParameters> RCEditParameters::copy() const {
    auto result = std::make_shared<RCEditParameters>(*this);
    for (auto& caption : result->captions_) {
        if (caption) {
            caption = std::make_shared<RCTimedCaption>(*caption);
            if (caption->animation) {
                auto animation =
                    RCTimedCaptionAnimation::animationWithType(caption->animation->type);
                animation->duration = caption->animation->duration;
                animation->beginTime = caption->animation->beginTime;
                caption->animation = std::move(animation);
            }
        }
    }
    return result;
}

void RCEditParameters::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeMediaTime(trimmedStartTime_, "trimmedStartTime");
    coder.encodeMediaTime(trimmedEndTime_, "trimmedEndTime");
    // The codes are stored as 32-bit integers.
    coder.encodeInt32(int32_t(loopType_), "loopType");
    coder.encodeInt32(int32_t(resizeValue_), "resizeValue");
    coder.encodeInt32(int32_t(frameRate_), "frameRate");
    coder.encodeArray(captions_, "captions");
    if (playbackSpeed_ != 1.0) {
        coder.encodeDouble(playbackSpeed_, kPlaybackSpeedKey);
    }
    if (cropRect_) {
        coder.encodeString(formatCropRect(*cropRect_), kCropRectKey);
    }
}

std::shared_ptr<RCEditParameters> RCEditParameters::initWithCoder(KeyedUnarchiver& coder) {
    coder.requireClass("RCEditParameters");
    auto parameters = std::make_shared<RCEditParameters>();
    parameters->trimmedStartTime_ = coder.decodeMediaTime("trimmedStartTime");
    parameters->trimmedEndTime_ = coder.decodeMediaTime("trimmedEndTime");
    parameters->loopType_ = coder.decodeInt32("loopType");
    parameters->resizeValue_ = coder.decodeInt32("resizeValue");
    parameters->frameRate_ = coder.decodeInt32("frameRate");
    if (coder.containsValueForKey(kPlaybackSpeedKey)) {
        // A speed that cannot be read costs the speed, not the recording's other edits.
        try {
            double speed = coder.decodeDouble(kPlaybackSpeedKey);
            parameters->playbackSpeed_ = isPlaybackSpeed(speed) ? speed : 1.0;
        } catch (const ArchiveError& error) {
            PINDLE_LOG_WARNING("store", "playback speed left out: %s", error.what());
        }
    }
    if (coder.containsValueForKey(kCropRectKey)) {
        // Likewise a crop that cannot be read leaves the whole picture.
        try {
            auto text = coder.decodeString(kCropRectKey);
            parameters->cropRect_ = text ? parseCropRect(*text) : std::nullopt;
            if (!parameters->cropRect_) {
                PINDLE_LOG_WARNING("store", "crop left out: not X,Y,W,H");
            }
        } catch (const ArchiveError& error) {
            PINDLE_LOG_WARNING("store", "crop left out: %s", error.what());
        }
    }
    auto captions =
        coder.decodeArray<RCTimedCaption>("captions", [](const ArchiveError& error, size_t index) {
            PINDLE_LOG_WARNING("store", "caption %zu left out: %s", index, error.what());
        });
    parameters->captions_ = captions ? std::move(*captions) : CaptionList{};
    return parameters;
}

}  // namespace pindle
