#pragma once

#include <string>

extern "C" {
#include <libavutil/error.h>
}

namespace pindle::ffmpeg {

// FFmpeg's text for an AVERROR code, with the code.
inline std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return std::string(text) + " (" + std::to_string(code) + ")";
}

}  // namespace pindle::ffmpeg
