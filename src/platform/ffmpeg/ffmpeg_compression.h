#pragma once

#include "platform/compression.h"

namespace pindle::ffmpeg {

// H.264 compression sessions over libavcodec and libx264: 420v (NV12) input, every frame an
// IDR key frame when forced or when the key-frame interval is 1, average bit rate as set,
// no frame delay (x264's zerolatency tuning with sliced threads), SPS and PPS in the
// format description rather than in every frame. Other codec types are refused.
Result<std::unique_ptr<CompressionSession>> makeCompressionSession(
    int width, int height, uint32_t codecType, CompressionSession::OutputCallback callback);

}  // namespace pindle::ffmpeg
