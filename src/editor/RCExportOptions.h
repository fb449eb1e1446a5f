#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "base/crop_rect.h"
#include "base/media_time.h"
#include "captions/RCLayer.h"

namespace pindle {

// A layer tree drawn over exported video: the captions of a recording, or the user's
// watermark. A tree with no sublayers draws nothing.
using RCExportLayer = RCLayer;
using RCExportLayerPtr = RCLayerPtr;

// The options of an export, one field per option key. An absent value falls back to the
// default noted beside it.
struct RCExportOptions {
    std::optional<float> width;          // "width": the recording's width
    std::optional<float> height;         // "height": the recording's height
    std::optional<MediaTime> startTime;  // "startTime": zero
    std::optional<MediaTime> endTime;    // "endTime": the recording's duration
    std::optional<int64_t> loopType;     // "loopType": 0 (0 normal, 1 reverse, else ping-pong)
    std::optional<bool> exportAudio;     // "exportAudio": false
    RCExportLayerPtr captionsLayer;      // "captionsLayer": none
    RCExportLayerPtr watermarkLayer;     // "watermarkLayer": none
    std::optional<float> fps;            // "fps": the video track's nominal frame rate
    // "speed": 1. Playback speed: the pictures of speed seconds of the clip are shown in one
    // second (a GIF's at the "fps" rate).
    std::optional<double> speed;
    // "crop": none. The part of the recording's picture that is kept, in its pixels, taken
    // before any resizing: "width" and "height" then size that part, and the layers are
    // drawn over it (so their root stands for the cropped picture).
    std::optional<CropRect> crop;
};

}  // namespace pindle
