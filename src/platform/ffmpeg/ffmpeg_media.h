#pragma once

#include <filesystem>

#include "platform/media.h"

// Movie reading over libavformat, libavcodec and libswscale.
namespace pindle::ffmpeg {

// Opens a movie and reads its facts from the container headers; decodes nothing, except
// for containers whose headers lack the video size or timing (then a few packets are
// probed, as ffprobe does).
Result<media::MoviePtr> openMovie(const std::filesystem::path& file);

// Makes openMovie the process's movie opener (media::setMovieOpener).
void installMovieOpener();

}  // namespace pindle::ffmpeg
