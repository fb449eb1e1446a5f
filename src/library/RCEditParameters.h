#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/crop_rect.h"
#include "base/media_time.h"
#include "captions/RCTimedCaption.h"

namespace pindle {

class KeyedArchiver;
class KeyedUnarchiver;

// Loop type codes.
inline constexpr int64_t kLoopTypeNormal = 0;
inline constexpr int64_t kLoopTypeReverse = 1;
inline constexpr int64_t kLoopTypePingPong = 2;
// Resize codes: output width "Original", 640, 480 or 320 pixels.
inline constexpr int64_t kResizeOriginal = 0;
inline constexpr int64_t kResize640 = 1;
inline constexpr int64_t kResize480 = 2;
inline constexpr int64_t kResize320 = 3;
// Frame-rate codes: 15 ("Standard"), 23 ("High"), 10 ("Low"), 60 ("HD") frames per second.
inline constexpr int64_t kFrameRateStandard = 0;
inline constexpr int64_t kFrameRateHigh = 1;
inline constexpr int64_t kFrameRateLow = 2;
inline constexpr int64_t kFrameRateHD = 3;

// Playback speeds offered for the exported clip; 1 plays it as recorded.
inline constexpr double kPlaybackSpeeds[] = {0.5, 1.0, 1.5, 2.0, 4.0};
// Whether value is one of kPlaybackSpeeds.
bool isPlaybackSpeed(double value);

using CaptionList = std::vector<std::shared_ptr<RCTimedCaption>>;

// What the user chose in the editor for one recording: trim range, loop type, output size,
// output frame rate and captions. The codes are stored as they are, unchecked; readers
// treat unknown codes as described where they read them.
//
// Not thread-safe: the editor changes it in place on the main thread. A recording swaps
// its whole record atomically (RCRecording::setEditParameters).
class RCEditParameters {
public:
    RCEditParameters() = default;

    bool isClip() const { return isClip_; }
    void setIsClip(bool value) { isClip_ = value; }
    int64_t loopType() const { return loopType_; }
    void setLoopType(int64_t value) { loopType_ = value; }
    int64_t resizeValue() const { return resizeValue_; }
    void setResizeValue(int64_t value) { resizeValue_ = value; }
    int64_t frameRate() const { return frameRate_; }
    void setFrameRate(int64_t value) { frameRate_ = value; }
    // The shared list: callers add and remove captions in it.
    CaptionList& captions() { return captions_; }
    const CaptionList& captions() const { return captions_; }
    void setCaptions(CaptionList value) { captions_ = std::move(value); }
    MediaTime trimmedStartTime() const { return trimmedStartTime_; }
    void setTrimmedStartTime(MediaTime value) { trimmedStartTime_ = value; }
    MediaTime trimmedEndTime() const { return trimmedEndTime_; }
    void setTrimmedEndTime(MediaTime value) { trimmedEndTime_ = value; }

    // How fast the exported clip plays its pictures: 2 shows the trimmed range in half the
    // time. The frame rate of the output stays the one chosen.
    double playbackSpeed() const { return playbackSpeed_; }
    void setPlaybackSpeed(double value) { playbackSpeed_ = value; }

    // The part of the picture every export keeps, in recording pixels; none keeps it whole.
    // Stored as given: readers fit it to the movie (RCRecording::editedCrop).
    const std::optional<CropRect>& cropRect() const { return cropRect_; }
    void setCropRect(std::optional<CropRect> value) { cropRect_ = value; }

    // Trim times (as instants), loop type, resize value, playback speed, crop and captions equal;
    // the frame-rate code and the clip flag take no part. Null compares as a default record.
    bool isEqualToEditParameters(const RCEditParameters* other) const;

    // A copy whose captions are copies too (the editor edits a copy and keeps the original
    // for "revert").
    std::shared_ptr<RCEditParameters> copy() const;

    const char* className() const { return "RCEditParameters"; }
    void encodeWithCoder(KeyedArchiver& coder) const;
    // The playback speed is stored only when it is not 1, and the crop only when there is
    // one, under keys that readers without them ignore; an absent or unknown speed reads as
    // 1, an absent or unreadable crop as none. Codes are taken as stored; a caption that
    // cannot be decoded is left out (and counted in the unarchiver's rejectedRecords()).
    static std::shared_ptr<RCEditParameters> initWithCoder(KeyedUnarchiver& coder);

private:
    bool isClip_ = false;
    int64_t loopType_ = kLoopTypeNormal;
    int64_t resizeValue_ = kResizeOriginal;
    int64_t frameRate_ = kFrameRateStandard;
    double playbackSpeed_ = 1.0;
    std::optional<CropRect> cropRect_;
    CaptionList captions_;
    MediaTime trimmedStartTime_ = MediaTime::zero();
    MediaTime trimmedEndTime_ = MediaTime::zero();
};

}  // namespace pindle
