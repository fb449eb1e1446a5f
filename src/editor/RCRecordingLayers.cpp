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
    RCLayerPtr layer = generateNormalizedCaptionsLayer(captionsSourceOfRecording(recording));
    if (auto crop = recording.editedCrop(); crop && layer) {
        cropLayerTree(*layer, *crop, recording.dimensions());
    }
    return layer;
}

RCLayerPtr generateWatermarkLayer(const RCRecording& recording) {
    std::function<std::filesystem::path()> location;
    {
        std::lock_guard lock(locationMutex);
        location = watermarkLocation;
    }
    return generateWatermarkLayer(recording.croppedDimensions(),
                                  location ? location() : std::filesystem::path());
}

void setWatermarkLocation(std::function<std::filesystem::path()> location) {
    std::lock_guard lock(locationMutex);
    watermarkLocation = std::move(location);
}

void cropLayerTree(RCLayer& root, const CropRect& crop, Size picture) {
    // Layers count y upwards from the bottom edge; the crop counts it down from the top.
    root.frame = Rect{Point{double(crop.x), picture.height - double(crop.maxY())}, crop.size()};
}

void placeLayerTreeInCrop(RCLayer& root, const CropRect& crop, Size picture) {
    root.frame = Rect{Point{-double(crop.x), -(picture.height - double(crop.maxY()))}, picture};
}

void addExportLayers(RCExportOptions& options, const RCRecording& recording) {
    options.captionsLayer = generateNormalizedCaptionsLayer(recording);
    options.watermarkLayer = generateWatermarkLayer(recording);
    options.crop = recording.editedCrop();
}

}  // namespace pindle
