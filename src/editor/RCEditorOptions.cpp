#include "editor/RCEditorOptions.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "editor/RCRecordingLayers.h"

namespace pindle {

namespace {

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

const std::vector<std::string>& saveFormatItems() {
    static const std::vector<std::string> items{"GIF (*.gif)", "Video (*.mp4)",
                                                "Batch (*.mp4, *.gif, *.jpg)"};
    return items;
}

}  // namespace

void RCRangeSlider::setRange(double minimum, double maximum) {
    minValue_ = minimum;
    maxValue_ = maximum;
    setLowerValue(lower_);
    setUpperValue(upper_);
    setPlaybackMarker(marker_);
}

void RCRangeSlider::setLowerValue(double value) {
    lower_ = std::clamp(value, minValue_, maxValue_);
}

void RCRangeSlider::setUpperValue(double value) {
    upper_ = std::clamp(value, minValue_, maxValue_);
}

void RCRangeSlider::setPlaybackMarker(double value) {
    marker_ = std::clamp(value, minValue_, maxValue_);
}

double RCRangeSlider::valueDelta(double pixels, double trackLength) const {
    if (!(trackLength > 0)) {
        return 0;
    }
    return pixels / trackLength * (maxValue_ - minValue_);
}

void RCRangeSlider::drag(Part part, double d) {
    switch (part) {
        case Part::lowerKnob:
            lower_ = std::min(std::max(minValue_, lower_ + d), upper_ - minimumGap_);
            break;
        case Part::upperKnob:
            upper_ = std::min(std::max(upper_ + d, lower_ + minimumGap_), maxValue_);
            break;
        case Part::band:
            if (lower_ + d >= minValue_ && upper_ + d <= maxValue_) {
                lower_ += d;
                upper_ += d;
            }
            break;
        case Part::none:
            break;
    }
}

double RCRangeSlider::minimumGapForDuration(double durationSeconds) {
    if (!(durationSeconds > 0.5)) {
        return 1;
    }
    return 0.5 / durationSeconds;
}

int64_t RCOptionMenu::codeAtIndex(int index) const {
    if (index < 0 || size_t(index) >= items.size()) {
        return items.front().code;
    }
    return items[size_t(index)].code;
}

const RCOptionMenu& loopTypeMenu() {
    static const RCOptionMenu menu{"loopType",
                                   {{"Normal", kLoopTypeNormal},
                                    {"Reverse", kLoopTypeReverse},
                                    {"Ping-Pong", kLoopTypePingPong}}};
    return menu;
}

const RCOptionMenu& resizeMenu() {
    static const RCOptionMenu menu{"resizeValue",
                                   {{"Original", kResizeOriginal},
                                    {"640px", kResize640},
                                    {"480px", kResize480},
                                    {"320px", kResize320}}};
    return menu;
}

const RCOptionMenu& frameRateMenu() {
    static const RCOptionMenu menu{"frameRate",
                                   {{"Standard", kFrameRateStandard},
                                    {"HD", kFrameRateHD},
                                    {"High", kFrameRateHigh},
                                    {"Low", kFrameRateLow}}};
    return menu;
}

const std::vector<std::string>& playbackSpeedMenuLabels() {
    static const std::vector<std::string> labels = [] {
        std::vector<std::string> made;
        for (double speed : kPlaybackSpeeds) {
            made.push_back(format("%g\u00d7", speed));
        }
        return made;
    }();
    return labels;
}

int playbackSpeedMenuIndex(double speed) {
    const auto* found = std::find(std::begin(kPlaybackSpeeds), std::end(kPlaybackSpeeds), speed);
    if (found == std::end(kPlaybackSpeeds)) {
        found = std::find(std::begin(kPlaybackSpeeds), std::end(kPlaybackSpeeds), 1.0);
    }
    return int(found - std::begin(kPlaybackSpeeds));
}

double playbackSpeedAtIndex(int index) {
    if (index < 0 || size_t(index) >= std::size(kPlaybackSpeeds)) {
        return 1.0;
    }
    return kPlaybackSpeeds[size_t(index)];
}

int loopTypeMenuIndex(int64_t code) {
    return code == kLoopTypeReverse || code == kLoopTypePingPong ? int(code) : 0;
}

int resizeMenuIndex(int64_t code) {
    return code >= kResize640 && code <= kResize320 ? int(code) : 0;
}

int frameRateMenuIndex(int64_t code) {
    switch (code) {
        case kFrameRateHigh:
            return 2;
        case kFrameRateLow:
            return 3;
        case kFrameRateHD:
            return 1;
        default:
            return 0;
    }
}

RCEditorInfoLine editorInfoLine(const RCRecording& recording) {
    RCEditorInfoLine line;
    line.duration = format("%.1fs", recording.playbackDuration().seconds());
    char dimensions[64];
    std::snprintf(dimensions, sizeof dimensions, "%.0f x %.0f", double(recording.editedWidth()),
                  double(recording.editedHeight()));
    line.dimensions = dimensions;
    line.frameRate = format("%.0f fps", double(recording.editedFPS()));
    line.frameCount = std::to_string(recording.playbackFrameCount());
    return line;
}

std::string formatFileSize(int64_t bytes) {
    if (bytes < 1000) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    double value = double(bytes);
    if (value < 999'500) {
        return format("%.0f KB", value / 1e3);
    }
    if (value < 999'950'000) {
        return format("%.1f MB", value / 1e6);
    }
    return format("%.2f GB", value / 1e9);
}

bool RCSizeButton::beginEstimate(bool estimatorIsCalculating) {
    if (estimatorIsCalculating) {
        return false;
    }
    title_ = kProcessingTitle;
    return true;
}

void RCSizeButton::invalidate() {
    title_ = kCalculateTitle;
    ++edit_;
}

void RCSizeButton::finishEstimate(int64_t bytes) {
    title_ = bytes >= 1 ? formatFileSize(bytes) : kCalculateTitle;
}

void RCSizeButton::finishEstimate(int64_t bytes, uint64_t edit) {
    if (edit == edit_) {
        finishEstimate(bytes);
    }
}

std::string RCSaveButton::title() const {
    switch (state_) {
        case State::saving:
            return "SAVING...";
        case State::saved:
            return "SAVED";
        case State::idle:
            break;
    }
    return "SAVE AS...";
}

double RCSaveButton::progressBarWidth(double buttonWidth) const {
    return state_ == State::saving ? double(progress_) * buttonWidth : 0;
}

void RCSaveButton::beginSaving() {
    state_ = State::saving;
    progress_ = 0;
}

void RCSaveButton::setProgress(float fraction) {
    if (state_ == State::saving) {
        progress_ = std::clamp(fraction, 0.0f, 1.0f);
    }
}

void RCSaveButton::finishSaving() {
    state_ = State::saved;
    progress_ = 0;
}

void RCSaveButton::reset() {
    state_ = State::idle;
    progress_ = 0;
}

RCSavePanelFileTypeView::RCSavePanelFileTypeView(int64_t preferredFormat) {
    selectIndex(preferredFormat == 0 || preferredFormat == 1 ? int(preferredFormat) : 2);
}

const std::vector<std::string>& RCSavePanelFileTypeView::menuItems() {
    return saveFormatItems();
}

void RCSavePanelFileTypeView::selectIndex(int index) {
    selectedIndex_ = std::clamp(index, 0, 2);
}

SaveFormat RCSavePanelFileTypeView::selectedSaveFormat() const {
    switch (selectedIndex_) {
        case 1:
            return SaveFormat::mp4;
        case 0:
            return SaveFormat::gif;
        default:
            return SaveFormat::batch;
    }
}

std::string RCSavePanelFileTypeView::allowedFileType() const {
    switch (selectedSaveFormat()) {
        case SaveFormat::gif:
            return "gif";
        case SaveFormat::mp4:
            return "mp4";
        case SaveFormat::batch:
            break;
    }
    return "";
}

std::string saveFormatMenuItem(SaveFormat format) {
    return saveFormatItems()[size_t(format)];
}

SaveFormat saveFormatForMenuItem(const std::string& label) {
    const auto& items = saveFormatItems();
    auto found = std::find(items.begin(), items.end(), label);
    return found == items.end() ? SaveFormat::gif : SaveFormat(found - items.begin());
}

std::string proposedSaveName(std::chrono::system_clock::time_point time) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%s-%02d-%04d %02d-%02d-%02d", months[local.tm_mon % 12],
                  local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

namespace {

std::string lowercaseExtension(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

}  // namespace

SaveFormat saveFormatForChosenPath(const std::filesystem::path& chosen, SaveFormat listed) {
    std::string extension = lowercaseExtension(chosen);
    return extension == ".gif" ? SaveFormat::gif : extension == ".mp4" ? SaveFormat::mp4 : listed;
}

std::filesystem::path savePathForFormat(const std::filesystem::path& chosen, SaveFormat format) {
    if (format == SaveFormat::batch) {
        return chosen;
    }
    std::string extension = format == SaveFormat::gif ? ".gif" : ".mp4";
    if (lowercaseExtension(chosen) == extension) {
        return chosen;
    }
    std::filesystem::path path = chosen;
    path += extension;
    return path;
}

bool needsLargeGIFWarning(uint64_t quickEstimateBytes) {
    return quickEstimateBytes > kLargeGIFWarningBytes;
}

RCUploadCheck checkUpload(const RCRecording& recording, bool signedIn) {
    if (!signedIn) {
        return RCUploadCheck::needsSignIn;
    }
    // The service limits how long the uploaded movie plays, which is the trimmed length at
    // the playback speed.
    double seconds = recording.playbackDuration().seconds();
    if (!recording.isClip() && seconds > 15.0) {
        return RCUploadCheck::tooLongGIF;
    }
    if (recording.isClip() && seconds > 30.0) {
        return RCUploadCheck::tooLongClip;
    }
    return RCUploadCheck::allowed;
}

RCAlertText uploadRefusalText(RCUploadCheck check) {
    const char* reduce = "Reduce the duration of your GIF by trimming the start/end times.";
    switch (check) {
        case RCUploadCheck::tooLongGIF:
            return {"PINDLE only supports uploads up to 15 seconds.", reduce};
        case RCUploadCheck::tooLongClip:
            return {"PINDLE only supports clip uploads up to 30 seconds.", reduce};
        case RCUploadCheck::allowed:
        case RCUploadCheck::needsSignIn:
            break;
    }
    return {};
}

RCEditorOptionsModel::RCEditorOptionsModel(RCRecordingPtr recording,
                                           std::function<void()> editsChanged)
    : recording_(std::move(recording)), editsChanged_(std::move(editsChanged)) {
    slider_.setRange(0, 1);
    slider_.setMinimumGap(RCRangeSlider::minimumGapForDuration(recording_->duration().seconds()));
    setTrimmedStartTime(recording_->editedStartTime());
    if (auto parameters = recording_->editParameters()) {
        setTrimmedEndTime(parameters->trimmedEndTime());
        loopTypeIndex_ = loopTypeMenuIndex(parameters->loopType());
        resizeIndex_ = resizeMenuIndex(parameters->resizeValue());
        frameRateIndex_ = frameRateMenuIndex(parameters->frameRate());
        speedIndex_ = playbackSpeedMenuIndex(parameters->playbackSpeed());
    }
}

MediaTime RCEditorOptionsModel::trimmedStartTime() const {
    return recording_->duration().multipliedBy(slider_.lowerValue());
}

MediaTime RCEditorOptionsModel::trimmedEndTime() const {
    return recording_->duration().multipliedBy(slider_.upperValue());
}

void RCEditorOptionsModel::setTrimmedStartTime(MediaTime time) {
    double duration = recording_->duration().seconds();
    slider_.setLowerValue(duration > 0 ? double(float(time.seconds() / duration)) : 0.0);
}

void RCEditorOptionsModel::setTrimmedEndTime(MediaTime time) {
    double duration = recording_->duration().seconds();
    slider_.setUpperValue(duration > 0 ? double(float(time.seconds() / duration)) : 1.0);
}

void RCEditorOptionsModel::selectLoopTypeIndex(int index) {
    loopTypeIndex_ = loopTypeMenuIndex(loopTypeMenu().codeAtIndex(index));
    updateEditParameters();
}

void RCEditorOptionsModel::selectResizeIndex(int index) {
    resizeIndex_ = resizeMenuIndex(resizeMenu().codeAtIndex(index));
    updateEditParameters();
}

void RCEditorOptionsModel::selectFrameRateIndex(int index) {
    frameRateIndex_ = frameRateMenuIndex(frameRateMenu().codeAtIndex(index));
    updateEditParameters();
}

void RCEditorOptionsModel::selectPlaybackSpeedIndex(int index) {
    speedIndex_ = playbackSpeedMenuIndex(playbackSpeedAtIndex(index));
    updateEditParameters();
}

void RCEditorOptionsModel::trimChanged() {
    updateEditParameters();
}

std::optional<CropRect> RCEditorOptionsModel::cropRect() const {
    return recording_->editedCrop();
}

void RCEditorOptionsModel::setCropRect(std::optional<CropRect> rect) {
    auto parameters = recording_->editParameters();
    if (!parameters) {
        return;
    }
    parameters->setCropRect(clampedCrop(rect, recording_->dimensions()));
    if (editsChanged_) {
        editsChanged_();
    }
}

void RCEditorOptionsModel::updateEditParameters() {
    auto parameters = recording_->editParameters();
    if (!parameters) {
        return;
    }
    parameters->setTrimmedStartTime(trimmedStartTime());
    parameters->setTrimmedEndTime(trimmedEndTime());
    parameters->setLoopType(selectedLoopType());
    parameters->setResizeValue(selectedResizeValue());
    parameters->setFrameRate(selectedFrameRate());
    parameters->setPlaybackSpeed(selectedPlaybackSpeed());
    if (editsChanged_) {
        editsChanged_();
    }
}

void RCEditorOptionsModel::setPlaybackTime(MediaTime time) {
    double duration = recording_->duration().seconds();
    slider_.setPlaybackMarker(duration > 0 ? time.seconds() / duration : 0);
}

RCExportOptions RCEditorOptionsModel::exportOptions(SaveFormat saveFormat) const {
    RCExportOptions options;
    const RCRecording& recording = *recording_;
    options.width = recording.editedWidth();
    options.height = recording.editedHeight();
    auto parameters = recording.editParameters();
    options.loopType = parameters ? parameters->loopType() : kLoopTypeNormal;
    options.startTime = recording.editedStartTime();
    options.endTime = recording.editedEndTime();
    addExportLayers(options, recording);
    options.fps = recording.editedFPS();
    options.speed = parameters ? parameters->playbackSpeed() : 1.0;
    if (saveFormat == SaveFormat::mp4) {
        // The preview is muted and no sound choice is offered: movies leave the sound out.
        options.exportAudio = false;
    }
    return options;
}

}  // namespace pindle
