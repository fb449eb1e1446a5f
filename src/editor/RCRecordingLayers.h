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
// On the output timeline of the recording's edit, over the cropped picture when the edit
// crops; null for a loop type outside 0..2.
RCLayerPtr generateNormalizedCaptionsLayer(const RCRecording& recording);
// The user's watermark fitted inside the picture the edit keeps (the crop, else the whole
// video; see setWatermarkLocation).
RCLayerPtr generateWatermarkLayer(const RCRecording& recording);

// Captions keep their places in the recording's pixels whatever the crop: a tree made over
// the whole picture is made to stand for just the crop, so that drawn over the cropped
// picture each caption lands on the pixels it covered before (a caption outside the crop is
// cut off by its edge, or not seen at all, but stays in the edit).
void cropLayerTree(RCLayer& root, const CropRect& crop, Size picture);
// The reverse: a tree made over the cropped picture is placed over the crop's part of the
// whole picture.
void placeLayerTreeInCrop(RCLayer& root, const CropRect& crop, Size picture);

// Where the user's watermark image is (empty for none): installed by the composition root
// over the user's settings. Called on the thread that builds the layers (the main thread).
void setWatermarkLocation(std::function<std::filesystem::path()> location);

// Sets the "captionsLayer", "watermarkLayer" and "crop" options from the recording: the
// layers stand for the cropped picture when the edit crops.
void addExportLayers(RCExportOptions& options, const RCRecording& recording);

}  // namespace pindle
