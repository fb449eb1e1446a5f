#pragma once

#include <string>

#include "platform/compression.h"

namespace pindle::ffmpeg {

// x264's speed and tuning choices for a session; an empty tune is x264's default.
struct X264Settings {
    std::string preset;
    std::string tune;
};

// What the capture uses: the cheapest preset whose pictures stay visually lossless at the
// capture's bit rates (bench/encoder_settings_bench measures the choices).
X264Settings captureX264Settings();

// H.264 compression sessions over libavcodec and libx264: 420v (NV12) input, every frame an
// IDR key frame when forced or when the key-frame interval is 1, average bit rate as set,
// SPS and PPS in the format description rather than in every frame, x264 set up as
// captureX264Settings() says. Other codec types are refused.
Result<std::unique_ptr<CompressionSession>> makeCompressionSession(
    int width, int height, uint32_t codecType, CompressionSession::OutputCallback callback);

// The same with other x264 settings.
Result<std::unique_ptr<CompressionSession>> makeCompressionSessionWithSettings(
    int width, int height, uint32_t codecType, CompressionSession::OutputCallback callback,
    X264Settings settings);

}  // namespace pindle::ffmpeg
