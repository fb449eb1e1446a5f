#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "base/geometry.h"
#include "base/media_time.h"
#include "captions/RCLayer.h"
#include "captions/RCTimedCaption.h"

namespace pindle {

// What the captions layer of a recording is built from: the recording's pixel size, its
// captions in display order and its edit (trimmed range, loop type, and the start and
// duration of the output timeline, the duration doubled for ping-pong).
struct CaptionsSource {
    Size dimensions;
    std::vector<std::shared_ptr<RCTimedCaption>> captions;
    MediaTime trimmedStartTime = MediaTime::zero();
    MediaTime trimmedEndTime = MediaTime::zero();
    int64_t loopType = 0;
    MediaTime editedStartTime = MediaTime::zero();
    MediaTime editedDuration = MediaTime::zero();
};

// A plain layer the size of the video with one sublayer per caption, centred on the
// caption's centre and stacked in list order (zPosition = index), timed on the recording's
// own timeline. The source's trimmed range replaces any given in options.
RCLayerPtr generateCaptionsLayerWithOptions(const CaptionsSource& source,
                                            CaptionLayerOptions options = {});

// Moves the entrance and exit of every sublayer onto an output timeline that starts at
// trimmedStartTime and lasts trimmedDuration seconds: a caption that began before it enters
// at its start, one that ends after it leaves in its last moment.
void normalizeCaptionsLayer(RCLayer& layer, double trimmedStartTime, double trimmedDuration);

// Mirrors the entrance and exit times of every sublayer within trimmedDuration seconds.
void reverseCaptionsLayer(RCLayer& layer, double trimmedDuration);

// The captions layer on the output timeline of the source's edit: normalized, reversed
// for the reverse loop, and with its mirror image after it for ping-pong. Null for a loop
// type outside 0..2. A caption that lies wholly outside the trimmed range is left out: its
// exit, moved to the end of the output, would otherwise flash it into the last moment.
RCLayerPtr generateNormalizedCaptionsLayer(const CaptionsSource& source);

// A plain layer the size of the video holding the watermark image at watermarkFile fitted
// inside it (aspect kept, centred), or holding nothing when the path is empty or the image
// cannot be read, decodes to nothing or has no width or height (the log says why).
RCLayerPtr generateWatermarkLayer(Size dimensions, const std::filesystem::path& watermarkFile);

// The rectangle of size fitted inside bounds, aspect kept, centred; an empty rectangle at
// the centre of bounds when size has no width or height.
Rect aspectFitRect(Size size, const Rect& bounds);

}  // namespace pindle
