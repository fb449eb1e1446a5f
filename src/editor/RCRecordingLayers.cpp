#include "editor/RCRecordingLayers.h"

#include <mutex>

namespace pindle {
namespace {

std::mutex locationMutex;  // guards watermarkLocation
std::function<std::filesystem::path()> watermarkLocation;

}  // namespace

CaptionsSource captionsSourceOfRecording(const RCRecording& recording) {
    CaptionsSource source;
    source.dimensions = recording.dimensions();
    if (auto parameters = recording.editParameters()) {
        source.captions = parameters->captions();
        source.trimmedStartTime = parameters->trimmedStartTime();
        source.trimmedEndTime = parameters->trimmedEndTime();
        source.loopType = parameters->loopType();
    }
    source.editedStartTime = recording.editedStartTime();
    source.editedDuration = recording.editedDuration();
    return source;
}

RCLayerPtr generateCaptionsLayerWithOptions(const RCRecording& recording,
                                            CaptionLayerOptions options) {
    return generateCaptionsLayerWithOptions(captionsSourceOfRecording(recording),
                                            std::move(options));
}

RCLayerPtr generateNormalizedCaptionsLayer(const RCRecording& recording) {
    return generateNormalizedCaptionsLayer(captionsSourceOfRecording(recording));
}

RCLayerPtr generateWatermarkLayer(const RCRecording& recording) {
    std::function<std::filesystem::path()> location;
    {
        std::lock_guard lock(locationMutex);
        location = watermarkLocation;
    }
    return generateWatermarkLayer(recording.dimensions(),
                                  location ? location() : std::filesystem::path());
}

void setWatermarkLocation(std::function<std::filesystem::path()> location) {
    std::lock_guard lock(locationMutex);
    watermarkLocation = std::move(location);
}

void addExportLayers(RCExportOptions& options, const RCRecording& recording) {
    options.captionsLayer = generateNormalizedCaptionsLayer(recording);
    options.watermarkLayer = generateWatermarkLayer(recording);
}

}  // namespace pindle
