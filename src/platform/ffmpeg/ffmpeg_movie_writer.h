#pragma once

#include "platform/movie_writer.h"

namespace pindle::ffmpeg {

// A movie writer over libavformat's MP4 muxer that stores H.264 samples unchanged (stream
// copy). Audio tracks are refused: nothing in the program produces audio samples yet.
std::shared_ptr<MovieWriter> makeMovieWriter(const std::filesystem::path& url,
                                             MovieFileType fileType);

}  // namespace pindle::ffmpeg
