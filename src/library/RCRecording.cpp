#include "library/RCRecording.h"

#include <cmath>

#include "base/keyed_archive.h"
#include "base/log.h"
#include "library/RCUtilities.h"

namespace pindle {

namespace {

// Whole units of a non-negative finite product; 0 otherwise.
uint64_t wholeCount(double value) {
    if (!std::isfinite(value) || value <= 0) {
        return 0;
    }
    if (value >= 18446744073709551615.0) {
        return UINT64_MAX;
    }
    return uint64_t(value);
}

}  // namespace

RCRecording::RCRecording() : guid_(RCUtilities::makeGUID()) {}

std::shared_ptr<RCRecording> RCRecording::recordingWithURL(const Path& url) {
    auto recording = std::make_shared<RCRecording>();
    recording->setupWithURL(url);
    return recording;
}

Status RCRecording::checkMovieFile(const Path& url) {
    std::error_code error;
    auto status = std::filesystem::status(url, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return Ok{};  // the opener reports a missing movie
    }
    if (error) {
        return Error{"cannot open " + url.string() + ": " + error.message()};
    }
    if (!std::filesystem::is_regular_file(status)) {
        return Error{"cannot open " + url.string() + ": not a regular file"};
    }
    return Ok{};
}

void RCRecording::setupWithURL(const Path& url) {
    media::MoviePtr movie;
    if (auto checked = checkMovieFile(url); !checked) {
        PINDLE_LOG_WARNING("recording", "%s", checked.error().message.c_str());
    } else if (auto opened = media::openMovie(url)) {
        movie = std::move(*opened);
    } else {
        PINDLE_LOG_WARNING("recording", "%s", opened.error().message.c_str());
    }
    media::MovieInfo info = movie ? movie->info() : media::MovieInfo{};
    if (!info.hasVideo()) {
        info.duration = MediaTime{};
    }
    auto parameters = std::make_shared<RCEditParameters>();
    // Without video the duration is the invalid zero time; the trim range is zero to zero.
    parameters->setTrimmedEndTime(info.hasVideo() ? info.duration : MediaTime::zero());
    uint64_t frames = wholeCount(double(info.nominalFrameRate) * info.duration.seconds());

    std::lock_guard lock(mutex_);
    url_ = url;
    asset_ = std::move(movie);
    dimensions_ = info.naturalSize;
    duration_ = info.duration;
    fps_ = info.nominalFrameRate;
    frameCount_ = frames;
    hasVideo_ = info.hasVideo();
    hasAudio_ = info.hasAudio();
    editParameters_ = std::move(parameters);
    thumbnailSize_ = kThumbnailSize;
    isReady_ = true;
    isClip_ = false;
}

bool RCRecording::isReady() const {
    std::lock_guard lock(mutex_);
    return isReady_;
}

bool RCRecording::isClip() const {
    std::lock_guard lock(mutex_);
    return isClip_;
}

void RCRecording::setIsClip(bool value) {
    std::lock_guard lock(mutex_);
    isClip_ = value;
}

float RCRecording::FPS() const {
    std::lock_guard lock(mutex_);
    return fps_;
}

std::shared_ptr<RCEditParameters> RCRecording::editParameters() const {
    std::lock_guard lock(mutex_);
    return editParameters_;
}

void RCRecording::setEditParameters(std::shared_ptr<RCEditParameters> value) {
    std::lock_guard lock(mutex_);
    editParameters_ = std::move(value);
}

std::string RCRecording::guid() const {
    std::lock_guard lock(mutex_);
    return guid_;
}

RCRecording::Path RCRecording::url() const {
    std::lock_guard lock(mutex_);
    return url_;
}

media::MoviePtr RCRecording::asset() const {
    std::lock_guard lock(mutex_);
    return asset_;
}

uint64_t RCRecording::frameCount() const {
    std::lock_guard lock(mutex_);
    return frameCount_;
}

Size RCRecording::dimensions() const {
    std::lock_guard lock(mutex_);
    return dimensions_;
}

Size RCRecording::thumbnailSize() const {
    std::lock_guard lock(mutex_);
    return thumbnailSize_;
}

MediaTime RCRecording::duration() const {
    std::lock_guard lock(mutex_);
    return duration_;
}

bool RCRecording::hasVideoTrack() const {
    std::lock_guard lock(mutex_);
    return hasVideo_;
}

bool RCRecording::hasAudio() const {
    std::lock_guard lock(mutex_);
    return hasAudio_;
}

ImagePtr RCRecording::thumbnail() {
    {
        std::lock_guard lock(mutex_);
        if (!isReady_ || thumbnail_) {
            return thumbnail_;
        }
    }
    generateThumbnail();
    std::lock_guard lock(mutex_);
    return thumbnail_;
}

void RCRecording::generateThumbnail() {
    media::MoviePtr movie;
    Size bound;
    {
        std::lock_guard lock(mutex_);
        if (!isReady_) {
            thumbnail_.reset();
            return;
        }
        movie = asset_;
        bound = thumbnailSize_;
    }
    ImagePtr image;
    if (movie && movie->info().hasVideo()) {
        if (auto copied = movie->copyImageAtTime(MediaTime::zero(), bound)) {
            image = std::make_shared<const Image>(std::move(*copied));
        } else {
            PINDLE_LOG_WARNING("recording", "no thumbnail: %s", copied.error().message.c_str());
        }
    }
    std::lock_guard lock(mutex_);
    thumbnail_ = std::move(image);
}

MediaTime RCRecording::editedStartTime() const {
    auto parameters = editParameters();
    return parameters ? parameters->trimmedStartTime() : MediaTime::zero();
}

MediaTime RCRecording::editedEndTime() const {
    auto parameters = editParameters();
    return parameters ? parameters->trimmedEndTime() : MediaTime::zero();
}

MediaTime RCRecording::editedDuration() const {
    auto parameters = editParameters();
    if (!parameters) {
        return MediaTime::zero();
    }
    MediaTime duration = parameters->trimmedEndTime() - parameters->trimmedStartTime();
    if (parameters->loopType() == kLoopTypePingPong) {
        duration = duration * 2;
    }
    return duration;
}

std::optional<CropRect> RCRecording::editedCrop() const {
    auto parameters = editParameters();
    return parameters ? clampedCrop(parameters->cropRect(), dimensions()) : std::nullopt;
}

Size RCRecording::croppedDimensions() const {
    auto crop = editedCrop();
    return crop ? crop->size() : dimensions();
}

float RCRecording::editedWidth() const {
    auto parameters = editParameters();
    switch (parameters ? parameters->resizeValue() : kResizeOriginal) {
        case kResize640:
            return 640;
        case kResize480:
            return 480;
        case kResize320:
            return 320;
        default:
            return float(croppedDimensions().width);
    }
}

float RCRecording::editedHeight() const {
    Size size = croppedDimensions();
    if (!(size.width > 0) || !std::isfinite(size.height)) {
        return 0;
    }
    return float((size.height / size.width) * double(editedWidth()));
}

Size RCRecording::editedDimensions() const {
    return Size{editedWidth(), editedHeight()};
}

float RCRecording::editedFPS() const {
    auto parameters = editParameters();
    switch (parameters ? parameters->frameRate() : kFrameRateStandard) {
        case kFrameRateHigh:
            return 23;
        case kFrameRateLow:
            return 10;
        case kFrameRateHD:
            return 60;
        default:
            return 15;
    }
}

uint64_t RCRecording::editedFrameCount() const {
    return wholeCount(editedDuration().seconds() * double(editedFPS()));
}

MediaTime RCRecording::playbackDuration() const {
    auto parameters = editParameters();
    MediaTime duration = editedDuration();
    double speed = parameters ? parameters->playbackSpeed() : 1.0;
    if (speed == 1.0 || !duration.isNumeric()) {
        return duration;
    }
    return MediaTime::makeWithSeconds(duration.seconds() / speed,
                                      std::max(duration.timescale, 600));
}

uint64_t RCRecording::playbackFrameCount() const {
    return wholeCount(playbackDuration().seconds() * double(editedFPS()));
}

void RCRecording::encodeWithCoder(KeyedArchiver& coder) const {
    Path movie;
    std::shared_ptr<RCEditParameters> parameters;
    {
        std::lock_guard lock(mutex_);
        movie = url_;
        parameters = editParameters_;
    }
    if (!movie.empty()) {
        coder.encodeURL(movie, "url");
    }
    coder.encodeObject(parameters.get(), "editParameters");
}

std::shared_ptr<RCRecording> RCRecording::initWithCoder(KeyedUnarchiver& coder) {
    auto fields = decodeStoredFields(coder);
    return fields ? recordingWithStoredFields(*fields) : nullptr;
}

std::optional<RCRecording::StoredFields> RCRecording::decodeStoredFields(KeyedUnarchiver& coder) {
    coder.requireClass("RCRecording");
    auto url = coder.decodeURL("url");
    auto parameters = coder.decodeObject<RCEditParameters>("editParameters");
    if (!url) {
        PINDLE_LOG_INFO("store", "left out a recording whose movie was never finished");
        return std::nullopt;
    }
    return StoredFields{std::move(*url), std::move(parameters)};
}

std::shared_ptr<RCRecording> RCRecording::recordingWithStoredFields(const StoredFields& fields) {
    auto recording = recordingWithURL(fields.url);
    // A record without edit parameters keeps the fresh ones (the whole movie, defaults).
    if (fields.editParameters) {
        recording->setEditParameters(fields.editParameters);
    }
    return recording;
}

}  // namespace pindle
