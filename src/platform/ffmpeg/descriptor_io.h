#pragma once

extern "C" {
#include <libavformat/avio.h>
}

namespace pindle::ffmpeg {

// An FFmpeg output that writes to, and seeks in, the open file descriptor fd (which it never
// closes), so that a muxer can write a file that has no name yet. Null when out of memory.
AVIOContext* openDescriptorOutput(int fd);

// Writes out what the output still buffers and frees it; *output becomes null. Returns 0, or
// the first error a write or seek met (an AVERROR code).
int closeDescriptorOutput(AVIOContext** output);

}  // namespace pindle::ffmpeg
