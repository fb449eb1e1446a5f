#pragma once

#include <filesystem>
#include <functional>

#include "captions/RCCaptionLayers.h"
#include "editor/RCExportOptions.h"
#include "library/RCRecording.h"

namespace pindle {

// The caption and watermark layers of a recording with its current edit.

// The recording's size, captions and edit as the layer builders read them (no edit
// parameters: no captions, a zero trim and the normal loop).
CaptionsSource captionsSourceOfRecording(const RCRecording& recording);

// On the recording's own timeline (the captions editor's preview).
RCLayerPtr generateCaptionsLayerWithOptions(const RCRecording& recording,
                                            CaptionLayerOptions options = {});
// On the output timeline of the recording's edit; null for a loop type outside 0..2.
RCLayerPtr generateNormalizedCaptionsLayer(const RCRecording& recording);
// The user's watermark over the recording's video (see setWatermarkLocation).
RCLayerPtr generateWatermarkLayer(const RCRecording& recording);

// Where the user's watermark image is (empty for none): installed by the composition root
// over the user's settings. Called on the thread that builds the layers (the main thread).
void setWatermarkLocation(std::function<std::filesystem::path()> location);

// Sets the "captionsLayer" and "watermarkLayer" options from the recording.
void addExportLayers(RCExportOptions& options, const RCRecording& recording);

}  // namespace pindle
