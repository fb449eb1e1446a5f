#pragma once

#include <memory>

#include "platform/movie_output.h"

// Movie writing over libx264 (through libavcodec), libswscale and libavformat's MP4 muxer.
namespace pindle::ffmpeg {

std::shared_ptr<media::MovieOutput> makeMovieOutput();

}  // namespace pindle::ffmpeg
